// Helpers of the core tests: hexadecimal text, a crypto context per test suite.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "KTXCMN32.h"

namespace coretest {

std::vector<BYTE> FromHex(const std::string& hex);
std::string ToHex(const BYTE* p, size_t n);
inline std::string ToHex(const std::vector<BYTE>& v) { return ToHex(v.data(), v.size()); }
inline std::vector<BYTE> Bytes(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

// An owner handle and a crypto context shared by the tests of one suite, so
// that each key string is derived once (a derivation takes most of a second).
class SharedCrypto {
public:
    static void Open();
    static void Close();
    static TLSOwner* Owner() { return s_pOwner; }
    static LSCRYPTHANDLE Handle() { return s_hCrypt; }

private:
    static TLSOwner* s_pOwner;
    static LSCRYPTHANDLE s_hCrypt;
};

// EnCryptData / DeCryptData into a vector of the input's size.
bool Encrypt(LSCRYPTHANDLE h, int nMethod, const std::string& key, const std::vector<BYTE>& in, std::vector<BYTE>& out);
bool Decrypt(LSCRYPTHANDLE h, int nMethod, const std::string& key, const std::vector<BYTE>& in, std::vector<BYTE>& out);

}  // namespace coretest
