// The certificates of a user's system store for the certificate manager.
#include "CertStore.h"

#include <cstring>

#include "CertRule.h"
#include "LSStr.h"

namespace ktxdlg {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Container names begin with this, followed by the user's name and a random part.
constexpr char kContainerPrefix[] = "KTSafe";

// The certificate's key information (container, provider, key spec), or an empty buffer.
std::vector<BYTE> KeyProvInfo(PCCERT_CONTEXT pCert)
{
    std::vector<BYTE> buf;
    DWORD cb = 0;
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb) || cb == 0) return buf;
    buf.resize(cb);
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &cb)) buf.clear();
    return buf;
}

const CRYPT_KEY_PROV_INFO* AsKeyProvInfo(const std::vector<BYTE>& buf)
{
    return buf.size() >= sizeof(CRYPT_KEY_PROV_INFO) ? reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buf.data())
                                                     : nullptr;
}

bool SameText(const wchar_t* a, const wchar_t* b)
{
    if (!a || !b) return a == b;
    return lstrcmpiW(a, b) == 0;
}

bool Thumbprint(PCCERT_CONTEXT pCert, BYTE* pOut, DWORD* pcb)
{
    DWORD cb = kThumbprintSize;
    if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, pOut, &cb) || cb != kThumbprintSize)
        return false;
    *pcb = cb;
    return true;
}

// "CN=<name>" as an encoded name; the name is quoted, with its own quotation
// marks doubled, so commas, plus signs and the like stay part of it.
bool EncodeCommonName(const char* pszName, std::vector<BYTE>* pOut)
{
    int cch = MultiByteToWideChar(CP_ACP, 0, pszName, -1, nullptr, 0);
    if (cch <= 0) return false;
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_ACP, 0, pszName, -1, &wide[0], cch);
    wide.resize(static_cast<size_t>(cch - 1));
    std::wstring x500 = L"CN=\"";
    for (wchar_t ch : wide) {
        if (ch == L'"') x500 += L'"';
        x500 += ch;
    }
    x500 += L'"';
    DWORD cb = 0;
    if (!CertStrToNameW(X509_ASN_ENCODING, x500.c_str(), CERT_X500_NAME_STR, nullptr, nullptr, &cb, nullptr))
        return false;
    pOut->resize(cb);
    if (!CertStrToNameW(X509_ASN_ENCODING, x500.c_str(), CERT_X500_NAME_STR, nullptr, pOut->data(), &cb, nullptr))
        return false;
    pOut->resize(cb);
    return true;
}

bool EncodeKeyUsage(std::vector<BYTE>* pOut)
{
    BYTE bUsage = CERT_KEY_ENCIPHERMENT_KEY_USAGE | CERT_DATA_ENCIPHERMENT_KEY_USAGE;
    CRYPT_BIT_BLOB blob{};
    blob.cbData = 1;
    blob.pbData = &bUsage;
    blob.cUnusedBits = 4;
    DWORD cb = 0;
    if (!CryptEncodeObject(X509_ASN_ENCODING, X509_KEY_USAGE, &blob, nullptr, &cb)) return false;
    pOut->resize(cb);
    if (!CryptEncodeObject(X509_ASN_ENCODING, X509_KEY_USAGE, &blob, pOut->data(), &cb)) return false;
    pOut->resize(cb);
    return true;
}

// A container name of the user that no other container has: the prefix, the
// user's name (characters a container name cannot hold replaced) and 64 random bits.
bool NewContainerName(const char* pszUser, std::wstring* pOut)
{
    TCryptProv prov;
    if (!CryptAcquireContextW(prov.Out(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return false;
    BYTE abRandom[8];
    if (!CryptGenRandom(prov.Get(), sizeof(abRandom), abRandom)) return false;
    std::string name = kContainerPrefix;
    name += '-';
    for (const char* p = pszUser; *p && name.size() < 80; ++p) {
        char ch = *p;
        name += (ch == '\\' || ch == '/' || static_cast<unsigned char>(ch) < 32) ? '_' : ch;
    }
    name += '-';
    static const char kHex[] = "0123456789abcdef";
    for (BYTE b : abRandom) {
        name += kHex[b >> 4];
        name += kHex[b & 15];
    }
    int cch = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (cch <= 0) return false;
    pOut->assign(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, &(*pOut)[0], cch);
    pOut->resize(static_cast<size_t>(cch - 1));
    return true;
}

void DeleteContainer(const wchar_t* pszContainer, const wchar_t* pszProvider, DWORD dwProvType, DWORD dwFlags)
{
    HCRYPTPROV hGone = 0;  // not a handle after CRYPT_DELETEKEYSET
    CryptAcquireContextW(&hGone, pszContainer, pszProvider, dwProvType,
                         CRYPT_DELETEKEYSET | (dwFlags & CRYPT_MACHINE_KEYSET));
}

}  // namespace

TCertStore OpenUserStore(const char* pszStore, DWORD* pdwErr)
{
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                      (pszStore && *pszStore) ? pszStore : "MY");
    if (!hStore && pdwErr) *pdwErr = GetLastError();
    return TCertStore(hStore);
}

bool DescribeCertificate(PCCERT_CONTEXT pCert, const char* pszStore, TLSCryptCert* pOut)
{
    LSInitCryptCert(pOut);
    if (pszStore && *pszStore) LSStrCopy(pOut->szStore, sizeof(pOut->szStore), pszStore);
    if (!Thumbprint(pCert, pOut->abThumbprint, &pOut->cbThumbprint)) return false;
    CertGetNameStringA(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, pOut->szSubject, sizeof(pOut->szSubject));
    CertGetNameStringA(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, pOut->szIssuer,
                       sizeof(pOut->szIssuer));
    pOut->szSubject[sizeof(pOut->szSubject) - 1] = '\0';
    pOut->szIssuer[sizeof(pOut->szIssuer) - 1] = '\0';
    pOut->ftNotAfter = pCert->pCertInfo->NotAfter;
    pOut->bHasPrivateKey = ktxcert::HasKeyExchangeKey(pCert);
    return true;
}

bool ListUsableCertificates(HCERTSTORE hStore, const char* pszStore, std::vector<TLSCryptCert>* pOut, DWORD* pdwErr)
{
    pOut->clear();
    if (!hStore) {
        if (pdwErr) *pdwErr = ERROR_INVALID_HANDLE;
        return false;
    }
    PCCERT_CONTEXT pCert = nullptr;
    while ((pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr) {
        if (!ktxcert::IsUsableCertificate(pCert, ktxcert::CertUse::Choose)) continue;
        TLSCryptCert rec;
        if (DescribeCertificate(pCert, pszStore, &rec)) pOut->push_back(rec);
    }
    return true;
}

TCertContext FindByThumbprint(HCERTSTORE hStore, const BYTE* pThumbprint, DWORD cbThumbprint)
{
    if (!hStore || !pThumbprint || cbThumbprint != kThumbprintSize) return TCertContext();
    CRYPT_HASH_BLOB hash{};
    hash.cbData = cbThumbprint;
    hash.pbData = const_cast<BYTE*>(pThumbprint);
    return TCertContext(CertFindCertificateInStore(hStore, kEncoding, 0, CERT_FIND_SHA1_HASH, &hash, nullptr));
}

bool CreateSelfSignedCertificate(HCERTSTORE hStore, const char* pszStore, const char* pszUser, TLSCryptCert* pOut,
                                 DWORD* pdwErr)
{
    DWORD dwErr = ERROR_SUCCESS;
    auto fail = [&](DWORD dwCode) {
        dwErr = dwCode ? dwCode : ERROR_INTERNAL_ERROR;
        if (pdwErr) *pdwErr = dwErr;
        return false;
    };
    if (!hStore || !pszUser || !*pszUser || !pOut) return fail(ERROR_INVALID_PARAMETER);

    std::wstring container;
    if (!NewContainerName(pszUser, &container)) return fail(GetLastError());
    std::vector<BYTE> subject, usage;
    if (!EncodeCommonName(pszUser, &subject)) return fail(GetLastError());
    if (!EncodeKeyUsage(&usage)) return fail(GetLastError());

    TCryptProv prov;
    if (!CryptAcquireContextW(prov.Out(), container.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                              CRYPT_NEWKEYSET | CRYPT_SILENT))
        return fail(GetLastError());
    bool bDone = false;
    struct ContainerGuard {
        const std::wstring& name;
        bool& bDone;
        ~ContainerGuard()
        {
            if (!bDone) DeleteContainer(name.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, 0);
        }
    } guard{container, bDone};

    {
        TCryptKey key;
        if (!CryptGenKey(prov.Get(), AT_KEYEXCHANGE, (ktxcert::kMinKeyBits << 16), key.Out()))
            return fail(GetLastError());
    }

    CERT_NAME_BLOB subjectBlob{};
    subjectBlob.cbData = static_cast<DWORD>(subject.size());
    subjectBlob.pbData = subject.data();

    CRYPT_KEY_PROV_INFO keyInfo{};
    keyInfo.pwszContainerName = &container[0];
    keyInfo.pwszProvName = const_cast<wchar_t*>(MS_ENH_RSA_AES_PROV_W);
    keyInfo.dwProvType = PROV_RSA_AES;
    keyInfo.dwKeySpec = AT_KEYEXCHANGE;

    CRYPT_ALGORITHM_IDENTIFIER sigAlg{};
    sigAlg.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);

    SYSTEMTIME stEnd;
    GetSystemTime(&stEnd);
    stEnd.wYear = static_cast<WORD>(stEnd.wYear + kValidityYears);
    if (stEnd.wMonth == 2 && stEnd.wDay == 29) stEnd.wDay = 28;

    CERT_EXTENSION ext{};
    ext.pszObjId = const_cast<char*>(szOID_KEY_USAGE);
    ext.fCritical = FALSE;
    ext.Value.cbData = static_cast<DWORD>(usage.size());
    ext.Value.pbData = usage.data();
    CERT_EXTENSIONS exts{};
    exts.cExtension = 1;
    exts.rgExtension = &ext;

    TCertContext created(
        CertCreateSelfSignCertificate(prov.Get(), &subjectBlob, 0, &keyInfo, &sigAlg, nullptr, &stEnd, &exts));
    if (!created) return fail(GetLastError());

    PCCERT_CONTEXT pAdded = nullptr;
    if (!CertAddCertificateContextToStore(hStore, created.Get(), CERT_STORE_ADD_NEW, &pAdded))
        return fail(GetLastError());
    TCertContext added(pAdded);
    // The key information travels with the context; set it again in case the
    // store kept only the encoded certificate.
    CertSetCertificateContextProperty(added.Get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &keyInfo);
    CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    // The provider keeps a new key to itself until its handle is released.
    prov.Reset();

    if (!DescribeCertificate(added.Get(), pszStore, pOut)) {
        DWORD dwCode = GetLastError();
        CertDeleteCertificateFromStore(added.Release());
        CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        return fail(dwCode);
    }
    bDone = true;
    if (pdwErr) *pdwErr = ERROR_SUCCESS;
    return true;
}

bool DeleteCertificate(HCERTSTORE hStore, const BYTE* pThumbprint, DWORD cbThumbprint, DWORD* pdwErr)
{
    TCertContext cert = FindByThumbprint(hStore, pThumbprint, cbThumbprint);
    if (!cert) {
        if (pdwErr) *pdwErr = CRYPT_E_NOT_FOUND;
        return false;
    }
    std::vector<BYTE> infoBuf = KeyProvInfo(cert.Get());
    const CRYPT_KEY_PROV_INFO* pInfo = AsKeyProvInfo(infoBuf);

    // CertDeleteCertificateFromStore frees the context, also on failure.
    if (!CertDeleteCertificateFromStore(cert.Release())) {
        if (pdwErr) *pdwErr = GetLastError();
        return false;
    }
    CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);

    if (pInfo && pInfo->pwszContainerName && *pInfo->pwszContainerName) {
        // A renewed certificate may share its predecessor's key: keep a
        // container that another certificate still uses.
        bool bShared = false;
        PCCERT_CONTEXT pOther = nullptr;
        while (!bShared && (pOther = CertEnumCertificatesInStore(hStore, pOther)) != nullptr) {
            std::vector<BYTE> otherBuf = KeyProvInfo(pOther);
            const CRYPT_KEY_PROV_INFO* pOtherInfo = AsKeyProvInfo(otherBuf);
            if (pOtherInfo && SameText(pOtherInfo->pwszContainerName, pInfo->pwszContainerName) &&
                SameText(pOtherInfo->pwszProvName, pInfo->pwszProvName))
                bShared = true;
        }
        if (pOther) CertFreeCertificateContext(pOther);
        if (!bShared)
            DeleteContainer(pInfo->pwszContainerName, pInfo->pwszProvName, pInfo->dwProvType, pInfo->dwFlags);
    }
    if (pdwErr) *pdwErr = ERROR_SUCCESS;
    return true;
}

std::string FormatDate(const FILETIME& ft)
{
    SYSTEMTIME stUtc, stLocal;
    if (!FileTimeToSystemTime(&ft, &stUtc)) return std::string();
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &stUtc, &stLocal)) stLocal = stUtc;
    char szDate[80];
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &stLocal, nullptr, szDate, sizeof(szDate)) <= 0) {
        LSStrFormat(szDate, sizeof(szDate), "%04u-%02u-%02u", stLocal.wYear, stLocal.wMonth, stLocal.wDay);
    }
    return szDate;
}

bool IsExpired(const FILETIME& ftNotAfter)
{
    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    return CompareFileTime(&ftNotAfter, &ftNow) < 0;
}

}  // namespace ktxdlg
