// Fuzz target of the CFB mode (native, libFuzzer), over a toy block cipher
// (a keyed mixing function, not AES: the mode is what is tested). Any input
// (register, then data): decryption inverts encryption, in place and apart;
// every prefix encrypts to the prefix of the ciphertext; a ciphertext
// followed by extra bytes decrypts to the plaintext followed by as many.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CfbMode.h"

using namespace ktxcmn;

namespace {

void Require(bool condition)
{
    if (!condition) abort();
}

class ToyCipher : public CfbBlockCipher {
public:
    bool EncryptBlocks(const uint8_t* pIn, uint8_t* pOut, size_t nBlocks) override
    {
        for (size_t b = 0; b < nBlocks; ++b) {
            uint64_t lo, hi;
            memcpy(&lo, pIn + 16 * b, 8);
            memcpy(&hi, pIn + 16 * b + 8, 8);
            for (int round = 0; round < 4; ++round) {
                lo += hi ^ 0x9E3779B97F4A7C15ull;
                lo = (lo << 13) | (lo >> 51);
                hi ^= lo * 0xBF58476D1CE4E5B9ull;
                hi = (hi << 29) | (hi >> 35);
            }
            memcpy(pOut + 16 * b, &lo, 8);
            memcpy(pOut + 16 * b + 8, &hi, 8);
        }
        ++calls;
        return true;
    }
    void Wipe(void* p, size_t cb) override
    {
        volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
        while (cb--) *v++ = 0;
    }
    size_t calls = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kCfbBlockSize) return 0;
    const uint8_t* reg = data;
    std::vector<uint8_t> plain(data + kCfbBlockSize, data + size);
    const size_t n = plain.size();
    ToyCipher cipher;

    std::vector<uint8_t> cipherText(n), back(n);
    Require(CfbEncrypt(cipher, reg, plain.data(), cipherText.data(), n));
    Require(CfbDecrypt(cipher, reg, cipherText.data(), back.data(), n));
    Require(back == plain);

    std::vector<uint8_t> inPlace = plain;
    Require(CfbEncrypt(cipher, reg, inPlace.data(), inPlace.data(), n));
    Require(inPlace == cipherText);
    Require(CfbDecrypt(cipher, reg, inPlace.data(), inPlace.data(), n));
    Require(inPlace == plain);

    size_t half = n / 2;
    std::vector<uint8_t> prefix(half);
    Require(CfbEncrypt(cipher, reg, plain.data(), prefix.data(), half));
    Require(std::equal(prefix.begin(), prefix.end(), cipherText.begin()));

    std::vector<uint8_t> longer = cipherText;
    longer.insert(longer.end(), {0, 0, 0, 0});
    std::vector<uint8_t> longBack(longer.size());
    Require(CfbDecrypt(cipher, reg, longer.data(), longBack.data(), longer.size()));
    Require(std::equal(plain.begin(), plain.end(), longBack.begin()));
    return 0;
}
