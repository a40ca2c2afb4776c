// Cipher feedback mode with 128-bit feedback (CFB128) over any 16-byte block
// cipher, byte-exact for any length and without padding. Plain C++ over
// bytes: the block cipher and the wiping of key stream come from the caller.
//
// Encryption: O = E(R); C = P xor O; R = C (whole blocks). The last, partial
// block uses the first bytes of O. So the cipher is length-preserving, and
// decrypting a ciphertext followed by extra bytes yields the plaintext
// followed by as many bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktxcmn {

constexpr size_t kCfbBlockSize = 16;

class CfbBlockCipher {
public:
    virtual ~CfbBlockCipher() = default;
    // Encrypts nBlocks whole blocks one by one (ECB); pIn and pOut do not overlap.
    virtual bool EncryptBlocks(const uint8_t* pIn, uint8_t* pOut, size_t nBlocks) = 0;
    // Wipes memory that held key stream or cipher state.
    virtual void Wipe(void* p, size_t cb) = 0;
};

// pIn and pOut are the same buffer or do not overlap. False when the block
// cipher fails; pOut then holds no plaintext or key stream (it is wiped).
bool CfbEncrypt(CfbBlockCipher& cipher, const uint8_t abRegister[kCfbBlockSize], const uint8_t* pIn,
                uint8_t* pOut, size_t cb);
bool CfbDecrypt(CfbBlockCipher& cipher, const uint8_t abRegister[kCfbBlockSize], const uint8_t* pIn,
                uint8_t* pOut, size_t cb);

}  // namespace ktxcmn
