// Certificates through CryptoAPI: finding a certificate by its record,
// listing the user's usable ones, the chosen encryption certificate, and
// wrapping a secret for a certificate with RSA-OAEP.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "KTXCMN32.h"

namespace ktxtools {

// An owned certificate context.
class CertContext {
public:
    CertContext() = default;
    explicit CertContext(PCCERT_CONTEXT p) : m_p(p) {}
    ~CertContext() { Reset(); }
    CertContext(CertContext&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    CertContext& operator=(CertContext&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    CertContext(const CertContext&) = delete;
    CertContext& operator=(const CertContext&) = delete;

    PCCERT_CONTEXT Get() const { return m_p; }
    void Reset()
    {
        if (m_p) ::CertFreeCertificateContext(m_p);
        m_p = nullptr;
    }

private:
    PCCERT_CONTEXT m_p = nullptr;
};

// Store flags of the two places certificates are read from.
constexpr DWORD kUserStoreFlags = CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG;    // 0x14000
constexpr DWORD kMachineStoreFlags =
    CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG;       // 0x2C000

// The certificate a record names (store, location, thumbprint). Only the
// current user's and the local machine's system stores are opened, read-only,
// whatever other flags the record carries. Null when it is not there.
CertContext FindCertificate(const TLSCryptCert& record, DWORD* pdwErr);

// Which certificates may be chosen and which may open the key file is the
// certificate rule of CertRule.h, shared with the certificate manager.

// Fills a record for a certificate found in a store with the given flags;
// bHasPrivateKey tells whether its key-exchange key is present for this user.
void FillRecord(PCCERT_CONTEXT pCert, DWORD dwStoreFlags, TLSCryptCert* pRecord);

// The certificates of the current user's "MY" store (and, with bMachine, of
// the local machine's) that may open the key file, the chosen encryption
// certificate first: the rule for opening, so that a slot made for a
// certificate that could be chosen once still opens. bPrivateKey: only those
// whose private key is present.
bool ListCertificates(bool bMachine, bool bPrivateKey, std::vector<TLSCryptCert>* pOut, DWORD* pdwErr);

// The chosen encryption certificate kept in the settings.
bool ReadChosenCertificate(uint8_t abThumbprint[20], DWORD* pdwStoreFlags);
LONG WriteChosenCertificate(const TLSCryptCert& record);

// Wraps a secret for the certificate's public key (RSA-OAEP).
bool WrapSecret(PCCERT_CONTEXT pCert, const char* pSecret, size_t cb, std::vector<uint8_t>* pOut, DWORD* pdwErr);
// Unwraps with the certificate's private key into pszOut (cap bytes, the
// terminator included); the text must be printable. Wipes every copy.
bool UnwrapSecret(PCCERT_CONTEXT pCert, const std::vector<uint8_t>& wrapped, char* pszOut, size_t cap,
                  size_t* pcbOut, DWORD* pdwErr);

}  // namespace ktxtools
