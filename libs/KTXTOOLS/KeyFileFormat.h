// The key file's layout: a pure parser and writer over bytes (no platform
// calls), so untrusted files can be checked and fuzzed anywhere.
//
// All numbers little-endian:
//   0   8   magic "KTXKEY" 0x1A 0x0A
//   8   2   version (1)
//   10  2   number of slots n (1 .. kMaxSlots)
//   12  32  password check: HMAC-SHA256 keyed with the safe password over kCheckLabel
//   44      n slots: 20-byte SHA-1 thumbprint of the certificate, 2-byte length w
//           (1 .. kMaxWrapped), w bytes of the password wrapped for that certificate
//   end 32  SHA-256 of every byte before it
// A file that is empty, truncated, has another magic or version, a wrong
// digest, a bad slot length, a repeated thumbprint or bytes left over is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Sha256.h"

namespace ktxkeyfile {

constexpr size_t kThumbprintSize = 20;
constexpr size_t kMaxSlots = 32;
constexpr size_t kMaxWrapped = 2048;       // an RSA key of up to 16384 bits
constexpr size_t kHeaderSize = 44;
constexpr size_t kMaxFileSize = kHeaderSize + kMaxSlots * (kThumbprintSize + 2 + kMaxWrapped) + kSha256Size;
constexpr uint16_t kVersion = 1;

struct Slot {
    uint8_t thumbprint[kThumbprintSize];
    std::vector<uint8_t> wrapped;
};

struct KeyFile {
    uint8_t check[kSha256Size];
    std::vector<Slot> slots;
};

enum class ParseResult {
    Ok,
    Empty,        // no bytes at all
    Truncated,    // shorter than its own layout
    BadMagic,     // not a key file
    BadVersion,   // a key file of an unknown version
    BadDigest,    // changed or damaged content
    BadLayout     // an impossible slot count or length, a repeated slot, bytes left over
};

ParseResult Parse(const uint8_t* pData, size_t cb, KeyFile* pOut);
// False when the key file cannot be written (no slots, too many, a bad length).
bool Serialize(const KeyFile& file, std::vector<uint8_t>* pOut);

// The password check of a password; CheckPassword compares in constant time.
void PasswordCheck(const char* pszPassword, size_t cb, uint8_t out[kSha256Size]);
bool CheckPassword(const KeyFile& file, const char* pszPassword, size_t cb);

// The slot of a certificate, or null.
const Slot* FindSlot(const KeyFile& file, const uint8_t thumbprint[kThumbprintSize]);

// Standard Base64 of n bytes without line breaks; false when cap (terminator
// included) is too small.
bool Base64Encode(const uint8_t* pData, size_t cb, char* pszOut, size_t cap);

}  // namespace ktxkeyfile
