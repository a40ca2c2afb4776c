// The certificates of a user's system store as the certificate manager sees
// them: listing the usable ones, creating a self-signed one for the user and
// deleting one together with its key container. No window in here.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "KTXCMN32.h"

namespace ktxdlg {

// ---------------------------------------------------------------------------
// Owning, move-only handles of CryptoAPI objects
// ---------------------------------------------------------------------------

class TCertStore {
public:
    TCertStore() = default;
    explicit TCertStore(HCERTSTORE hStore) : m_hStore(hStore) {}
    ~TCertStore() { Reset(); }
    TCertStore(TCertStore&& other) noexcept : m_hStore(other.Release()) {}
    TCertStore& operator=(TCertStore&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    TCertStore(const TCertStore&) = delete;
    TCertStore& operator=(const TCertStore&) = delete;

    HCERTSTORE Get() const { return m_hStore; }
    explicit operator bool() const { return m_hStore != nullptr; }
    HCERTSTORE Release()
    {
        HCERTSTORE h = m_hStore;
        m_hStore = nullptr;
        return h;
    }
    void Reset(HCERTSTORE hStore = nullptr)
    {
        if (m_hStore) CertCloseStore(m_hStore, 0);
        m_hStore = hStore;
    }

private:
    HCERTSTORE m_hStore = nullptr;
};

class TCertContext {
public:
    TCertContext() = default;
    explicit TCertContext(PCCERT_CONTEXT pCert) : m_pCert(pCert) {}
    ~TCertContext() { Reset(); }
    TCertContext(TCertContext&& other) noexcept : m_pCert(other.Release()) {}
    TCertContext& operator=(TCertContext&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    TCertContext(const TCertContext&) = delete;
    TCertContext& operator=(const TCertContext&) = delete;

    PCCERT_CONTEXT Get() const { return m_pCert; }
    explicit operator bool() const { return m_pCert != nullptr; }
    PCCERT_CONTEXT Release()
    {
        PCCERT_CONTEXT p = m_pCert;
        m_pCert = nullptr;
        return p;
    }
    void Reset(PCCERT_CONTEXT pCert = nullptr)
    {
        if (m_pCert) CertFreeCertificateContext(m_pCert);
        m_pCert = pCert;
    }

private:
    PCCERT_CONTEXT m_pCert = nullptr;
};

class TCryptProv {
public:
    TCryptProv() = default;
    ~TCryptProv() { Reset(); }
    TCryptProv(TCryptProv&& other) noexcept : m_hProv(other.Release()) {}
    TCryptProv& operator=(TCryptProv&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_hProv = other.Release();
        }
        return *this;
    }
    TCryptProv(const TCryptProv&) = delete;
    TCryptProv& operator=(const TCryptProv&) = delete;

    HCRYPTPROV Get() const { return m_hProv; }
    HCRYPTPROV* Out()
    {
        Reset();
        return &m_hProv;
    }
    HCRYPTPROV Release()
    {
        HCRYPTPROV h = m_hProv;
        m_hProv = 0;
        return h;
    }
    void Reset()
    {
        if (m_hProv) CryptReleaseContext(m_hProv, 0);
        m_hProv = 0;
    }

private:
    HCRYPTPROV m_hProv = 0;
};

class TCryptKey {
public:
    TCryptKey() = default;
    ~TCryptKey() { Reset(); }
    TCryptKey(const TCryptKey&) = delete;
    TCryptKey& operator=(const TCryptKey&) = delete;

    HCRYPTKEY* Out()
    {
        Reset();
        return &m_hKey;
    }
    void Reset()
    {
        if (m_hKey) CryptDestroyKey(m_hKey);
        m_hKey = 0;
    }

private:
    HCRYPTKEY m_hKey = 0;
};

// ---------------------------------------------------------------------------
// The certificates
// ---------------------------------------------------------------------------

constexpr DWORD kThumbprintSize = 20;     // SHA-1
constexpr int kValidityYears = 10;        // of a certificate created here

// Opens a system store of the current user (created when the user has none yet).
TCertStore OpenUserStore(const char* pszStore, DWORD* pdwErr);

// Fills a record (store name given, flags 0x14000) from a certificate;
// bHasPrivateKey tells whether its key-exchange key is present for this user.
bool DescribeCertificate(PCCERT_CONTEXT pCert, const char* pszStore, TLSCryptCert* pOut);

// The certificates of the store that may be chosen to protect the safe (the
// certificate rule of CertRule.h, the same the key file applies to a choice),
// in store order; those whose private key is missing are listed too.
bool ListUsableCertificates(HCERTSTORE hStore, const char* pszStore, std::vector<TLSCryptCert>* pOut,
                            DWORD* pdwErr);

// The certificate with that SHA-1 thumbprint, or an empty context.
TCertContext FindByThumbprint(HCERTSTORE hStore, const BYTE* pThumbprint, DWORD cbThumbprint);

// Creates a self-signed certificate for the user named pszUser: a new
// AT_KEYEXCHANGE key of the rule's smallest length (2048 bits) in a new
// container of the AES-capable RSA provider, subject "CN=<user>", signed with
// sha256RSA, valid kValidityYears, key usage key and data encipherment; adds
// it to the store and commits the store. On failure nothing is left behind
// (container deleted). *pOut gets the new certificate's record.
bool CreateSelfSignedCertificate(HCERTSTORE hStore, const char* pszStore, const char* pszUser, TLSCryptCert* pOut,
                                 DWORD* pdwErr);

// Deletes the certificate with that thumbprint from the store (committed)
// and then its key container, unless another certificate of the store uses the
// same container. False when the certificate is not there or cannot be deleted.
bool DeleteCertificate(HCERTSTORE hStore, const BYTE* pThumbprint, DWORD cbThumbprint, DWORD* pdwErr);

// The end of validity as the user's short date ("31.12.2035").
std::string FormatDate(const FILETIME& ft);
bool IsExpired(const FILETIME& ftNotAfter);

}  // namespace ktxdlg
