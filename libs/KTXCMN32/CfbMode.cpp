// CFB128 built on the block cipher's single-block encryption. Encryption
// needs each ciphertext block before the next key stream block, so it runs
// block by block; decryption knows every cipher input in advance and batches.
#include "CfbMode.h"

#include <cstring>

namespace ktxcmn {

namespace {

constexpr size_t kBatchBlocks = 32;

}  // namespace

bool CfbEncrypt(CfbBlockCipher& cipher, const uint8_t abRegister[kCfbBlockSize], const uint8_t* pIn,
                uint8_t* pOut, size_t cb)
{
    uint8_t abReg[kCfbBlockSize];
    uint8_t abStream[kCfbBlockSize];
    memcpy(abReg, abRegister, kCfbBlockSize);
    bool bOk = true;
    for (size_t off = 0; off < cb; off += kCfbBlockSize) {
        if (!cipher.EncryptBlocks(abReg, abStream, 1)) {
            bOk = false;
            break;
        }
        size_t n = cb - off < kCfbBlockSize ? cb - off : kCfbBlockSize;
        for (size_t i = 0; i < n; ++i) {
            uint8_t c = static_cast<uint8_t>(pIn[off + i] ^ abStream[i]);
            pOut[off + i] = c;
            abReg[i] = c;
        }
    }
    cipher.Wipe(abStream, sizeof(abStream));
    cipher.Wipe(abReg, sizeof(abReg));
    if (!bOk) cipher.Wipe(pOut, cb);
    return bOk;
}

bool CfbDecrypt(CfbBlockCipher& cipher, const uint8_t abRegister[kCfbBlockSize], const uint8_t* pIn,
                uint8_t* pOut, size_t cb)
{
    uint8_t abReg[kCfbBlockSize];
    uint8_t abInputs[kBatchBlocks * kCfbBlockSize];
    uint8_t abStream[kBatchBlocks * kCfbBlockSize];
    memcpy(abReg, abRegister, kCfbBlockSize);
    bool bOk = true;
    for (size_t off = 0; off < cb;) {
        size_t nBytes = cb - off < sizeof(abStream) ? cb - off : sizeof(abStream);
        size_t nBlocks = (nBytes + kCfbBlockSize - 1) / kCfbBlockSize;
        // Cipher inputs: the register, then every ciphertext block of this
        // batch but its last, which becomes the next register. Both are taken
        // before pOut (which may be pIn) is written.
        memcpy(abInputs, abReg, kCfbBlockSize);
        memcpy(abInputs + kCfbBlockSize, pIn + off, (nBlocks - 1) * kCfbBlockSize);
        if (nBytes == nBlocks * kCfbBlockSize)
            memcpy(abReg, pIn + off + (nBlocks - 1) * kCfbBlockSize, kCfbBlockSize);
        if (!cipher.EncryptBlocks(abInputs, abStream, nBlocks)) {
            bOk = false;
            break;
        }
        for (size_t i = 0; i < nBytes; ++i) pOut[off + i] = static_cast<uint8_t>(pIn[off + i] ^ abStream[i]);
        off += nBytes;
    }
    cipher.Wipe(abStream, sizeof(abStream));
    cipher.Wipe(abInputs, sizeof(abInputs));
    cipher.Wipe(abReg, sizeof(abReg));
    if (!bOk) cipher.Wipe(pOut, cb);
    return bOk;
}

}  // namespace ktxcmn
