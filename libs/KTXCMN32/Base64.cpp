// Base64 encoding and strict decoding.
#include "Base64.h"

namespace ktxcmn {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a Base64 character, or -1.
int Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

bool Base64EncodedSize(size_t cbData, size_t* pcchText)
{
    size_t groups = cbData / 3 + (cbData % 3 != 0);
    if (groups > static_cast<size_t>(-1) / 4) return false;
    *pcchText = groups * 4;
    return true;
}

void Base64Encode(const uint8_t* pData, size_t cbData, char* pszText)
{
    size_t i = 0;
    char* out = pszText;
    for (; i + 3 <= cbData; i += 3) {
        uint32_t v = (uint32_t(pData[i]) << 16) | (uint32_t(pData[i + 1]) << 8) | pData[i + 2];
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    size_t rest = cbData - i;
    if (rest == 1) {
        uint32_t v = uint32_t(pData[i]) << 16;
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (rest == 2) {
        uint32_t v = (uint32_t(pData[i]) << 16) | (uint32_t(pData[i + 1]) << 8);
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = '=';
    }
}

bool Base64DecodedSize(const char* pszText, size_t cchText, size_t* pcbData)
{
    if (cchText % 4 != 0) return false;
    if (cchText == 0) {
        *pcbData = 0;
        return true;
    }
    if (!pszText) return false;
    const unsigned char* t = reinterpret_cast<const unsigned char*>(pszText);
    size_t padding = 0;
    if (t[cchText - 1] == '=') padding = (t[cchText - 2] == '=') ? 2 : 1;
    size_t body = cchText - padding;
    for (size_t i = 0; i < body; ++i) {
        if (Value(t[i]) < 0) return false;
    }
    // The bits that padding leaves unused must be zero.
    if (padding == 1 && (Value(t[cchText - 2]) & 0x3) != 0) return false;
    if (padding == 2 && (Value(t[cchText - 3]) & 0xF) != 0) return false;
    *pcbData = cchText / 4 * 3 - padding;
    return true;
}

bool Base64Decode(const char* pszText, size_t cchText, uint8_t* pData, size_t cbCapacity, size_t* pcbData)
{
    size_t cbData = 0;
    if (!Base64DecodedSize(pszText, cchText, &cbData)) return false;
    if (cbData > cbCapacity) return false;
    if (cbData > 0 && !pData) return false;
    const unsigned char* t = reinterpret_cast<const unsigned char*>(pszText);
    size_t o = 0;
    for (size_t i = 0; i < cchText; i += 4) {
        uint32_t v = 0;
        size_t chars = 0;
        for (size_t k = 0; k < 4; ++k) {
            if (t[i + k] == '=') break;
            v |= uint32_t(Value(t[i + k])) << (18 - 6 * k);
            ++chars;
        }
        if (chars >= 2) pData[o++] = static_cast<uint8_t>(v >> 16);
        if (chars >= 3) pData[o++] = static_cast<uint8_t>(v >> 8);
        if (chars == 4) pData[o++] = static_cast<uint8_t>(v);
    }
    *pcbData = o;
    return true;
}

}  // namespace ktxcmn
