// Certificates for the certificate manager's tests: made and inspected with
// CryptoAPI directly (not through the code under test), and every certificate
// a test leaves in the user's "MY" store removed again with its key container.
// The settings and the key file a test changes are put back afterwards.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <set>
#include <string>

#include "KTXCMN32.h"

namespace dlgtest {

// The SHA-1 thumbprint as hexadecimal text.
std::string Hex(const BYTE* p, DWORD cb);

// What a certificate in the user's "MY" store is made of.
struct CertFacts {
    bool bFound = false;
    std::string signatureOid;
    DWORD dwKeyBits = 0;
    std::string subject;
    std::wstring container;
    std::wstring provider;
    DWORD dwProvType = 0;
    DWORD dwKeySpec = 0;
};
CertFacts InspectCertificate(const std::string& thumbprintHex);

// Whether a key container of the provider exists.
bool ContainerExists(const std::wstring& container, const std::wstring& provider, DWORD dwProvType);

// Makes a self-signed certificate "CN=<name>" with a new key in a new
// container and adds it to the user's "MY" store; its record in *pOut.
// bKeyUsage: the CERT_*_KEY_USAGE bits of a key usage extension (0: none).
// pKeyOf: a certificate made here before whose key (and container) the new
// one shares, so that cases need no new key each (dwBits is then unused).
bool MakeTestCertificate(const std::string& name, DWORD dwBits, DWORD dwKeySpec, TLSCryptCert* pOut,
                         BYTE bKeyUsage = 0, const TLSCryptCert* pKeyOf = nullptr);

// The thumbprints (hex) of every certificate in the user's "MY" store.
std::set<std::string> StoreThumbprints();

// Removes the certificates that were not in the store at construction, with
// their key containers, when it goes.
class StoreCleanup {
public:
    StoreCleanup();
    ~StoreCleanup();
    StoreCleanup(const StoreCleanup&) = delete;
    StoreCleanup& operator=(const StoreCleanup&) = delete;

private:
    std::set<std::string> m_before;
};

// Puts the product's settings (the whole settings key of the user) and the
// user's key file back as they were at construction.
class SettingsRestore {
public:
    explicit SettingsRestore(TLSOwner* pOwner);
    ~SettingsRestore();
    SettingsRestore(const SettingsRestore&) = delete;
    SettingsRestore& operator=(const SettingsRestore&) = delete;

private:
    std::string m_backupKey;
    bool m_bHadSettings = false;
    std::string m_keyFile;
    bool m_bHadKeyFile = false;
    std::string m_keyFileBytes;
};

}  // namespace dlgtest
