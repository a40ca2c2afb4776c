// The key file's layout (see KeyFileFormat.h).
#include "KeyFileFormat.h"

#include <cstring>

namespace ktxkeyfile {

namespace {

constexpr uint8_t kMagic[8] = {'K', 'T', 'X', 'K', 'E', 'Y', 0x1A, 0x0A};
constexpr char kCheckLabel[] = "KTSafe key file password check";

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void PutU16(std::vector<uint8_t>* pOut, size_t value)
{
    pOut->push_back(static_cast<uint8_t>(value & 0xFF));
    pOut->push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

bool EqualConstantTime(const uint8_t* a, const uint8_t* b, size_t cb)
{
    uint8_t diff = 0;
    for (size_t i = 0; i < cb; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

ParseResult Parse(const uint8_t* pData, size_t cb, KeyFile* pOut)
{
    pOut->slots.clear();
    if (!pData || cb == 0) return ParseResult::Empty;
    if (cb < sizeof(kMagic)) return ParseResult::Truncated;
    if (memcmp(pData, kMagic, sizeof(kMagic)) != 0) return ParseResult::BadMagic;
    if (cb < kHeaderSize + kSha256Size) return ParseResult::Truncated;
    if (cb > kMaxFileSize) return ParseResult::BadLayout;

    const size_t cbBody = cb - kSha256Size;
    uint8_t digest[kSha256Size];
    Sha256Digest(pData, cbBody, digest);
    if (!EqualConstantTime(digest, pData + cbBody, kSha256Size)) {
        // Shorter than its own slots say: a cut file rather than a changed one.
        size_t nSlots = ReadU16(pData + 10);
        size_t pos = kHeaderSize;
        for (size_t i = 0; i < nSlots && pos + kThumbprintSize + 2 <= cb; ++i)
            pos += kThumbprintSize + 2 + ReadU16(pData + pos + kThumbprintSize);
        return (nSlots > 0 && nSlots <= kMaxSlots && pos + kSha256Size > cb) ? ParseResult::Truncated
                                                                             : ParseResult::BadDigest;
    }
    if (ReadU16(pData + 8) != kVersion) return ParseResult::BadVersion;

    const size_t nSlots = ReadU16(pData + 10);
    if (nSlots == 0 || nSlots > kMaxSlots) return ParseResult::BadLayout;
    KeyFile file;
    memcpy(file.check, pData + 12, kSha256Size);
    size_t pos = kHeaderSize;
    for (size_t i = 0; i < nSlots; ++i) {
        if (cbBody - pos < kThumbprintSize + 2) return ParseResult::BadLayout;
        Slot slot;
        memcpy(slot.thumbprint, pData + pos, kThumbprintSize);
        size_t cbWrapped = ReadU16(pData + pos + kThumbprintSize);
        pos += kThumbprintSize + 2;
        if (cbWrapped == 0 || cbWrapped > kMaxWrapped || cbBody - pos < cbWrapped) return ParseResult::BadLayout;
        if (FindSlot(file, slot.thumbprint)) return ParseResult::BadLayout;
        slot.wrapped.assign(pData + pos, pData + pos + cbWrapped);
        pos += cbWrapped;
        file.slots.push_back(std::move(slot));
    }
    if (pos != cbBody) return ParseResult::BadLayout;
    *pOut = std::move(file);
    return ParseResult::Ok;
}

bool Serialize(const KeyFile& file, std::vector<uint8_t>* pOut)
{
    pOut->clear();
    if (file.slots.empty() || file.slots.size() > kMaxSlots) return false;
    for (size_t i = 0; i < file.slots.size(); ++i) {
        const Slot& slot = file.slots[i];
        if (slot.wrapped.empty() || slot.wrapped.size() > kMaxWrapped) return false;
        for (size_t j = 0; j < i; ++j) {
            if (memcmp(file.slots[j].thumbprint, slot.thumbprint, kThumbprintSize) == 0) return false;
        }
    }
    pOut->insert(pOut->end(), kMagic, kMagic + sizeof(kMagic));
    PutU16(pOut, kVersion);
    PutU16(pOut, file.slots.size());
    pOut->insert(pOut->end(), file.check, file.check + kSha256Size);
    for (const Slot& slot : file.slots) {
        pOut->insert(pOut->end(), slot.thumbprint, slot.thumbprint + kThumbprintSize);
        PutU16(pOut, slot.wrapped.size());
        pOut->insert(pOut->end(), slot.wrapped.begin(), slot.wrapped.end());
    }
    uint8_t digest[kSha256Size];
    Sha256Digest(pOut->data(), pOut->size(), digest);
    pOut->insert(pOut->end(), digest, digest + kSha256Size);
    return true;
}

void PasswordCheck(const char* pszPassword, size_t cb, uint8_t out[kSha256Size])
{
    HmacSha256(pszPassword, cb, kCheckLabel, sizeof(kCheckLabel) - 1, out);
}

bool CheckPassword(const KeyFile& file, const char* pszPassword, size_t cb)
{
    uint8_t check[kSha256Size];
    PasswordCheck(pszPassword, cb, check);
    bool ok = EqualConstantTime(check, file.check, kSha256Size);
    WipeBytes(check, sizeof(check));
    return ok;
}

const Slot* FindSlot(const KeyFile& file, const uint8_t thumbprint[kThumbprintSize])
{
    for (const Slot& slot : file.slots) {
        if (memcmp(slot.thumbprint, thumbprint, kThumbprintSize) == 0) return &slot;
    }
    return nullptr;
}

bool Base64Encode(const uint8_t* pData, size_t cb, char* pszOut, size_t cap)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t need = (cb + 2) / 3 * 4 + 1;
    if (!pszOut || cap < need) return false;
    size_t o = 0;
    for (size_t i = 0; i < cb; i += 3) {
        uint32_t v = static_cast<uint32_t>(pData[i]) << 16;
        if (i + 1 < cb) v |= static_cast<uint32_t>(pData[i + 1]) << 8;
        if (i + 2 < cb) v |= pData[i + 2];
        pszOut[o++] = kAlphabet[(v >> 18) & 63];
        pszOut[o++] = kAlphabet[(v >> 12) & 63];
        pszOut[o++] = i + 1 < cb ? kAlphabet[(v >> 6) & 63] : '=';
        pszOut[o++] = i + 2 < cb ? kAlphabet[v & 63] : '=';
    }
    pszOut[o] = '\0';
    return true;
}

}  // namespace ktxkeyfile
