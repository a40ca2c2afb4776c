// SHA-256 and HMAC-SHA256 in plain C++ (no platform calls), so the key file
// parser that uses them stays a pure function over bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktxkeyfile {

constexpr size_t kSha256Size = 32;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* pData, size_t cb);
    // Writes the digest and wipes the state; the object is then reset.
    void Final(uint8_t out[kSha256Size]);

private:
    void Reset();
    void Block(const uint8_t* p);

    uint32_t m_state[8];
    uint8_t  m_buffer[64];
    size_t   m_used;
    uint64_t m_total;
};

void Sha256Digest(const void* pData, size_t cb, uint8_t out[kSha256Size]);
void HmacSha256(const void* pKey, size_t cbKey, const void* pData, size_t cb, uint8_t out[kSha256Size]);

// Overwrites memory in a way the compiler does not drop.
void WipeBytes(void* p, size_t cb);

}  // namespace ktxkeyfile
