#include "CoreTestUtil.h"

#include <gtest/gtest.h>

namespace coretest {

TLSOwner* SharedCrypto::s_pOwner = nullptr;
LSCRYPTHANDLE SharedCrypto::s_hCrypt = nullptr;

std::vector<BYTE> FromHex(const std::string& hex)
{
    std::vector<BYTE> out;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    int high = -1;
    for (char c : hex) {
        int v = nibble(c);
        if (v < 0) continue;   // spaces and line breaks in long vectors
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<BYTE>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

std::string ToHex(const BYTE* p, size_t n)
{
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(kHex[p[i] >> 4]);
        s.push_back(kHex[p[i] & 15]);
    }
    return s;
}

void SharedCrypto::Open()
{
    if (s_hCrypt) return;
    s_pOwner = GetLSOwnerHandle("test_cmn32core.exe");
    ASSERT_NE(s_pOwner, nullptr);
    ASSERT_TRUE(GetWCHandle(&s_hCrypt, s_pOwner));
    ASSERT_NE(s_hCrypt, nullptr);
}

void SharedCrypto::Close()
{
    if (s_hCrypt) {
        EXPECT_TRUE(FreeWCHandle(s_hCrypt));
    }
    s_hCrypt = nullptr;
    if (s_pOwner) FreeLSOwnerHandle(s_pOwner);
    s_pOwner = nullptr;
}

bool Encrypt(LSCRYPTHANDLE h, int nMethod, const std::string& key, const std::vector<BYTE>& in, std::vector<BYTE>& out)
{
    out.assign(in.size(), 0);
    DWORD dwLen = static_cast<DWORD>(out.size());
    static const BYTE kNone = 0;
    bool ok = EnCryptData(h, nMethod, key.data(), static_cast<DWORD>(key.size()), in.empty() ? &kNone : in.data(),
                          static_cast<DWORD>(in.size()), out.empty() ? const_cast<BYTE*>(&kNone) : out.data(), &dwLen);
    if (ok && dwLen != in.size()) return false;
    return ok;
}

bool Decrypt(LSCRYPTHANDLE h, int nMethod, const std::string& key, const std::vector<BYTE>& in, std::vector<BYTE>& out)
{
    out.assign(in.size(), 0);
    DWORD dwLen = static_cast<DWORD>(out.size());
    static const BYTE kNone = 0;
    bool ok = DeCryptData(h, nMethod, key.data(), static_cast<DWORD>(key.size()), in.empty() ? &kNone : in.data(),
                          static_cast<DWORD>(in.size()), out.empty() ? const_cast<BYTE*>(&kNone) : out.data(), &dwLen);
    if (ok && dwLen != in.size()) return false;
    return ok;
}

}  // namespace coretest
