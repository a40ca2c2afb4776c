// Certificates through CryptoAPI (see CertStore.h). RSA-OAEP runs through
// CryptEncrypt/CryptDecrypt with CRYPT_OAEP: the key-exchange keys of the
// user's certificates live in CryptoAPI containers.
#include "CertStore.h"

#include <cstring>

#include "CertRule.h"
#include "ToolsInternal.h"

namespace ktxtools {

namespace {

constexpr char kCryptKey[] = "Crypt";
constexpr char kEncCert[] = "EncCert";
constexpr char kEncCertStore[] = "EncCertStore";

class CertStoreHandle {
public:
    explicit CertStoreHandle(HCERTSTORE h) : m_h(h) {}
    ~CertStoreHandle()
    {
        if (m_h) ::CertCloseStore(m_h, 0);
    }
    CertStoreHandle(const CertStoreHandle&) = delete;
    CertStoreHandle& operator=(const CertStoreHandle&) = delete;
    HCERTSTORE Get() const { return m_h; }

private:
    HCERTSTORE m_h;
};

class CryptProv {
public:
    CryptProv() = default;
    ~CryptProv()
    {
        if (m_h) ::CryptReleaseContext(m_h, 0);
    }
    CryptProv(const CryptProv&) = delete;
    CryptProv& operator=(const CryptProv&) = delete;
    HCRYPTPROV* Out() { return &m_h; }
    HCRYPTPROV Get() const { return m_h; }

private:
    HCRYPTPROV m_h = 0;
};

class CryptKey {
public:
    CryptKey() = default;
    ~CryptKey()
    {
        if (m_h) ::CryptDestroyKey(m_h);
    }
    CryptKey(const CryptKey&) = delete;
    CryptKey& operator=(const CryptKey&) = delete;
    HCRYPTKEY* Out() { return &m_h; }
    HCRYPTKEY Get() const { return m_h; }

private:
    HCRYPTKEY m_h = 0;
};

DWORD StoreLocation(DWORD dwFlags) { return dwFlags & CERT_SYSTEM_STORE_LOCATION_MASK; }

HCERTSTORE OpenSystemStore(const char* pszStore, DWORD dwLocation)
{
    return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                           dwLocation | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, pszStore);
}

// The certificates kept in one place only (the registry store of the user or
// of the machine), so a listing tells where each certificate lives: some
// systems show the machine's certificates in the user's system store too.
HCERTSTORE OpenPlaceStore(const char* pszStore, DWORD dwLocation)
{
    HCERTSTORE hStore = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0,
                                        dwLocation | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG,
                                        pszStore);
    return hStore ? hStore : OpenSystemStore(pszStore, dwLocation);
}

bool SameThumbprint(const TLSCryptCert& a, const TLSCryptCert& b)
{
    return a.cbThumbprint == 20 && b.cbThumbprint == 20 && memcmp(a.abThumbprint, b.abThumbprint, 20) == 0;
}

}  // namespace

CertContext FindCertificate(const TLSCryptCert& record, DWORD* pdwErr)
{
    *pdwErr = 0;
    DWORD dwLocation = StoreLocation(record.dwStoreFlags);
    if (record.cbThumbprint != 20 || !IsTerminated(record.szStore, sizeof(record.szStore)) || !record.szStore[0] ||
        (dwLocation != CERT_SYSTEM_STORE_CURRENT_USER && dwLocation != CERT_SYSTEM_STORE_LOCAL_MACHINE)) {
        *pdwErr = ERROR_INVALID_PARAMETER;
        return CertContext();
    }
    CertStoreHandle store(OpenSystemStore(record.szStore, dwLocation));
    if (!store.Get()) {
        *pdwErr = ::GetLastError();
        return CertContext();
    }
    CRYPT_HASH_BLOB blob;
    blob.cbData = 20;
    blob.pbData = const_cast<BYTE*>(record.abThumbprint);
    PCCERT_CONTEXT pCert = ::CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                        CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (!pCert) *pdwErr = static_cast<DWORD>(CRYPT_E_NOT_FOUND);
    return CertContext(pCert);
}

void FillRecord(PCCERT_CONTEXT pCert, DWORD dwStoreFlags, TLSCryptCert* pRecord)
{
    LSInitCryptCert(pRecord);
    pRecord->dwStoreFlags = dwStoreFlags;
    DWORD cb = sizeof(pRecord->abThumbprint);
    if (::CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, pRecord->abThumbprint, &cb) && cb == 20)
        pRecord->cbThumbprint = 20;
    ::CertGetNameStringA(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, pRecord->szSubject,
                         sizeof(pRecord->szSubject));
    ::CertGetNameStringA(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, pRecord->szIssuer,
                         sizeof(pRecord->szIssuer));
    pRecord->szSubject[sizeof(pRecord->szSubject) - 1] = '\0';
    pRecord->szIssuer[sizeof(pRecord->szIssuer) - 1] = '\0';
    pRecord->ftNotAfter = pCert->pCertInfo->NotAfter;
    pRecord->bHasPrivateKey = ktxcert::HasKeyExchangeKey(pCert);
}

bool ListCertificates(bool bMachine, bool bPrivateKey, std::vector<TLSCryptCert>* pOut, DWORD* pdwErr)
{
    pOut->clear();
    *pdwErr = 0;
    struct Place {
        DWORD dwLocation;
        DWORD dwRecordFlags;
    };
    const Place places[2] = {{CERT_SYSTEM_STORE_CURRENT_USER, kUserStoreFlags},
                             {CERT_SYSTEM_STORE_LOCAL_MACHINE, kMachineStoreFlags}};
    bool bAnyStore = false;
    for (int i = 0; i < (bMachine ? 2 : 1); ++i) {
        CertStoreHandle store(OpenPlaceStore("MY", places[i].dwLocation));
        if (!store.Get()) {
            if (i == 0) *pdwErr = ::GetLastError();
            continue;
        }
        bAnyStore = true;
        PCCERT_CONTEXT pCert = nullptr;
        while ((pCert = ::CertEnumCertificatesInStore(store.Get(), pCert)) != nullptr) {
            if (!ktxcert::IsUsableCertificate(pCert, ktxcert::CertUse::Open)) continue;
            TLSCryptCert record;
            FillRecord(pCert, places[i].dwRecordFlags, &record);
            if (record.cbThumbprint != 20) continue;
            if (bPrivateKey && !record.bHasPrivateKey) continue;
            bool bKnown = false;
            for (const TLSCryptCert& other : *pOut) bKnown = bKnown || SameThumbprint(other, record);
            if (!bKnown) pOut->push_back(record);
        }
    }
    if (!bAnyStore) return false;

    // The chosen encryption certificate goes first.
    uint8_t abChosen[20];
    DWORD dwChosenFlags = 0;
    if (ReadChosenCertificate(abChosen, &dwChosenFlags)) {
        for (size_t i = 0; i < pOut->size(); ++i) {
            TLSCryptCert& record = (*pOut)[i];
            if (memcmp(record.abThumbprint, abChosen, 20) != 0) continue;
            record.bEncryptionCert = true;
            TLSCryptCert chosen = record;
            pOut->erase(pOut->begin() + static_cast<ptrdiff_t>(i));
            pOut->insert(pOut->begin(), chosen);
            break;
        }
    }
    return true;
}

bool ReadChosenCertificate(uint8_t abThumbprint[20], DWORD* pdwStoreFlags)
{
    RegKey key;
    if (OpenSettingsKey(HKEY_CURRENT_USER, kCryptKey, false, 0, &key) != ERROR_SUCCESS) return false;
    if (RegReadBinary(key.Get(), kEncCert, abThumbprint, 20) != RegRead::Ok) return false;
    DWORD dwFlags = 0;
    if (RegReadDword(key.Get(), kEncCertStore, &dwFlags) != RegRead::Ok) dwFlags = kUserStoreFlags;
    *pdwStoreFlags = dwFlags;
    return true;
}

LONG WriteChosenCertificate(const TLSCryptCert& record)
{
    RegKey key;
    LONG r = OpenSettingsKey(HKEY_CURRENT_USER, kCryptKey, true, 0, &key);
    DWORD dwFlags = StoreLocation(record.dwStoreFlags) == CERT_SYSTEM_STORE_LOCAL_MACHINE ? kMachineStoreFlags
                                                                                        : kUserStoreFlags;
    if (r == ERROR_SUCCESS) r = RegWriteBinary(key.Get(), kEncCert, record.abThumbprint, 20);
    if (r == ERROR_SUCCESS) r = RegWriteDword(key.Get(), kEncCertStore, dwFlags);
    return r;
}

bool WrapSecret(PCCERT_CONTEXT pCert, const char* pSecret, size_t cb, std::vector<uint8_t>* pOut, DWORD* pdwErr)
{
    pOut->clear();
    CryptProv prov;
    if (!::CryptAcquireContextA(prov.Out(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
        !::CryptAcquireContextA(prov.Out(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        *pdwErr = ::GetLastError();
        return false;
    }
    CryptKey key;
    if (!::CryptImportPublicKeyInfo(prov.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                    &pCert->pCertInfo->SubjectPublicKeyInfo, key.Out())) {
        *pdwErr = ::GetLastError();
        return false;
    }
    DWORD cbNeeded = static_cast<DWORD>(cb);
    if (!::CryptEncrypt(key.Get(), 0, TRUE, CRYPT_OAEP, nullptr, &cbNeeded, 0)) {
        *pdwErr = ::GetLastError();
        return false;
    }
    std::vector<uint8_t> buf(cbNeeded > cb ? cbNeeded : cb);
    memcpy(buf.data(), pSecret, cb);
    DWORD cbData = static_cast<DWORD>(cb);
    bool ok = ::CryptEncrypt(key.Get(), 0, TRUE, CRYPT_OAEP, buf.data(), &cbData, static_cast<DWORD>(buf.size()));
    if (!ok) {
        *pdwErr = ::GetLastError();
        SecureZeroMemory(buf.data(), buf.size());
        return false;
    }
    buf.resize(cbData);
    *pOut = std::move(buf);
    return true;
}

bool UnwrapSecret(PCCERT_CONTEXT pCert, const std::vector<uint8_t>& wrapped, char* pszOut, size_t cap,
                  size_t* pcbOut, DWORD* pdwErr)
{
    pszOut[0] = '\0';
    *pcbOut = 0;
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hKeyProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bFree = FALSE;
    if (!::CryptAcquireCertificatePrivateKey(pCert, CRYPT_ACQUIRE_SILENT_FLAG, nullptr, &hKeyProv, &dwKeySpec,
                                             &bFree)) {
        *pdwErr = ::GetLastError();
        return false;
    }
    CryptProv owned;
    if (bFree) *owned.Out() = hKeyProv;
    if (dwKeySpec != AT_KEYEXCHANGE) {
        *pdwErr = static_cast<DWORD>(NTE_BAD_KEY);
        return false;
    }
    CryptKey key;
    if (!::CryptGetUserKey(hKeyProv, dwKeySpec, key.Out())) {
        *pdwErr = ::GetLastError();
        return false;
    }
    std::vector<uint8_t> buf(wrapped);
    DWORD cbData = static_cast<DWORD>(buf.size());
    bool ok = ::CryptDecrypt(key.Get(), 0, TRUE, CRYPT_OAEP, buf.data(), &cbData) != FALSE;
    if (!ok) *pdwErr = ::GetLastError();
    if (ok && (cbData == 0 || cbData >= cap || cbData > buf.size())) {
        ok = false;
        *pdwErr = ERROR_INVALID_DATA;
    }
    for (DWORD i = 0; ok && i < cbData; ++i) {
        if (buf[i] < 0x20 || buf[i] > 0x7E) {
            ok = false;
            *pdwErr = ERROR_INVALID_DATA;
        }
    }
    if (ok) {
        memcpy(pszOut, buf.data(), cbData);
        pszOut[cbData] = '\0';
        *pcbOut = cbData;
    }
    SecureZeroMemory(buf.data(), buf.size());
    return ok;
}

}  // namespace ktxtools
