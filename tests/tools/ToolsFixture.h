// Shared helpers of the settings library's tests: a clean product state,
// safe files, and self-signed certificates made for a test in the current
// user's "MY" store (removed again with their key containers).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

#include "KTXCMN32.h"

namespace toolstest {

// The user's data folder and key file, as the library names them.
std::string UserDataDir();
std::string KeyFilePath();
std::string BackupRoot();

// Removes the settings key, the key file and every backup.
void ResetProductState();

// A small safe file that loads (marker ends up in an entry's text) or a
// damaged one that does not.
bool WriteSafe(const std::string& path, const std::string& marker);
bool WriteDamagedSafe(const std::string& path);

// A well-formed key file with one slot whose wrapped bytes open nothing.
std::string SampleKeyFileBytes();

class TestCert;
// A key file for the password with a slot for each certificate, written
// without the library (as an earlier version may have written it); empty
// when a slot cannot be made.
std::string KeyFileBytesFor(const std::string& password, const std::vector<const TestCert*>& certs);

// Reads and writes a REG_SZ / REG_DWORD / raw value below HKCU (test setup only).
bool SetRawValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const void* data, DWORD cb);

// Starts a program of the build's bin folder for a user whose interface
// language is the given locale ("de_DE.UTF-8"): under Wine through the loader
// with that locale in its environment (such a process cannot be waited for:
// the caller waits for what it leaves behind); elsewhere as it is.
bool StartInLocale(const std::string& exe, const std::string& args, const char* pszLocale);

// What a test certificate is made of where it differs from the usual one.
struct CertOptions {
    DWORD dwKeySpec = AT_KEYEXCHANGE;
    DWORD dwBits = 2048;
    // A key usage extension with these CERT_*_KEY_USAGE bits; 0: none.
    BYTE bKeyUsage = 0;
    // The key of this certificate instead of a new one (no key to make, so
    // cases can share one); its container stays that certificate's.
    const TestCert* pKeyOf = nullptr;
};

// A self-signed certificate with a 2048-bit RSA key (AT_KEYEXCHANGE unless
// asked otherwise) in a named container of the AES provider, signed
// sha256RSA, in the current user's "MY" store.
class TestCert {
public:
    TestCert() = default;
    ~TestCert();
    TestCert(const TestCert&) = delete;
    TestCert& operator=(const TestCert&) = delete;

    bool Create(const std::string& commonName, DWORD dwKeySpec = AT_KEYEXCHANGE);
    bool Create(const std::string& commonName, const CertOptions& options);
    // The record that names it (store "MY", current user).
    TLSCryptCert Record() const;
    // Removes the certificate from the store / its key container.
    bool DeleteCertificate();
    bool DeleteContainer();
    // Wraps a secret for the certificate's public key with RSA-OAEP, straight
    // through CryptoAPI as the key file's slots are written, whatever rule
    // the library applies to a choice.
    bool Wrap(const std::string& secret, std::vector<uint8_t>* pOut) const;

    const std::string& Container() const { return m_container; }
    const BYTE* Thumbprint() const { return m_thumbprint; }

private:
    std::string m_container;
    BYTE m_thumbprint[20] = {};
    bool m_bInStore = false;
    bool m_bHasContainer = false;
};

}  // namespace toolstest
