#include "CertTestSupport.h"

#include <cstring>
#include <vector>

#include "KTXTOOLS.h"
#include "TestSupport.h"

namespace dlgtest {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kSettingsKey[] = "software\\vornix\\KTX";

HCERTSTORE OpenMy()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "MY");
}

std::string ThumbprintHex(PCCERT_CONTEXT pCert)
{
    BYTE ab[20];
    DWORD cb = sizeof(ab);
    if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, ab, &cb)) return std::string();
    return Hex(ab, cb);
}

std::vector<BYTE> ProvInfo(PCCERT_CONTEXT pCert)
{
    DWORD cb = 0;
    std::vector<BYTE> buf;
    if (CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb) && cb) {
        buf.resize(cb);
        if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &cb)) buf.clear();
    }
    return buf;
}

}  // namespace

std::string Hex(const BYTE* p, DWORD cb)
{
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    for (DWORD i = 0; i < cb; ++i) {
        s += kHex[p[i] >> 4];
        s += kHex[p[i] & 15];
    }
    return s;
}

CertFacts InspectCertificate(const std::string& thumbprintHex)
{
    CertFacts facts;
    HCERTSTORE hStore = OpenMy();
    if (!hStore) return facts;
    PCCERT_CONTEXT pCert = nullptr;
    while ((pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr) {
        if (ThumbprintHex(pCert) != thumbprintHex) continue;
        facts.bFound = true;
        facts.signatureOid = pCert->pCertInfo->SignatureAlgorithm.pszObjId;
        facts.dwKeyBits = CertGetPublicKeyLength(kEncoding, &pCert->pCertInfo->SubjectPublicKeyInfo);
        char szName[256] = "";
        CertGetNameStringA(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, szName, sizeof(szName));
        facts.subject = szName;
        std::vector<BYTE> info = ProvInfo(pCert);
        if (info.size() >= sizeof(CRYPT_KEY_PROV_INFO)) {
            auto* p = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(info.data());
            if (p->pwszContainerName) facts.container = p->pwszContainerName;
            if (p->pwszProvName) facts.provider = p->pwszProvName;
            facts.dwProvType = p->dwProvType;
            facts.dwKeySpec = p->dwKeySpec;
        }
        CertFreeCertificateContext(pCert);
        break;
    }
    CertCloseStore(hStore, 0);
    return facts;
}

bool ContainerExists(const std::wstring& container, const std::wstring& provider, DWORD dwProvType)
{
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, container.c_str(), provider.empty() ? nullptr : provider.c_str(), dwProvType,
                              CRYPT_SILENT))
        return false;
    CryptReleaseContext(hProv, 0);
    return true;
}

bool MakeTestCertificate(const std::string& name, DWORD dwBits, DWORD dwKeySpec, TLSCryptCert* pOut, BYTE bKeyUsage,
                         const TLSCryptCert* pKeyOf)
{
    static unsigned s_counter = 0;
    std::wstring container;
    HCRYPTPROV hProv = 0;
    bool ok = true;
    if (pKeyOf) {
        container = InspectCertificate(Hex(pKeyOf->abThumbprint, pKeyOf->cbThumbprint)).container;
        if (container.empty() ||
            !CryptAcquireContextW(&hProv, container.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, 0))
            return false;
    } else {
        container = L"ktx-dialogs-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++s_counter);
        if (!CryptAcquireContextW(&hProv, container.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_NEWKEYSET))
            return false;
        HCRYPTKEY hKey = 0;
        ok = CryptGenKey(hProv, dwKeySpec, dwBits << 16, &hKey) != FALSE;
        if (hKey) CryptDestroyKey(hKey);
    }
    std::wstring x500 = L"CN=" + std::wstring(name.begin(), name.end());
    BYTE abName[512];
    DWORD cbName = sizeof(abName);
    ok = ok && CertStrToNameW(X509_ASN_ENCODING, x500.c_str(), CERT_X500_NAME_STR, nullptr, abName, &cbName, nullptr);
    CERT_NAME_BLOB subject{cbName, abName};
    CRYPT_KEY_PROV_INFO keyInfo{};
    keyInfo.pwszContainerName = &container[0];
    keyInfo.pwszProvName = const_cast<wchar_t*>(MS_ENH_RSA_AES_PROV_W);
    keyInfo.dwProvType = PROV_RSA_AES;
    keyInfo.dwKeySpec = dwKeySpec;
    CRYPT_ALGORITHM_IDENTIFIER alg{};
    alg.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
    // The key usage extension, its bits without the trailing zero bits.
    BYTE bUsage = bKeyUsage;
    CRYPT_BIT_BLOB usageBits{1, &bUsage, 0};
    while (bUsage && !(bUsage & (1u << usageBits.cUnusedBits))) ++usageBits.cUnusedBits;
    BYTE abUsage[16];
    DWORD cbUsage = sizeof(abUsage);
    CERT_EXTENSION ext{};
    CERT_EXTENSIONS exts{1, &ext};
    if (bKeyUsage) {
        ok = ok && CryptEncodeObject(X509_ASN_ENCODING, X509_KEY_USAGE, &usageBits, abUsage, &cbUsage);
        ext.pszObjId = const_cast<char*>(szOID_KEY_USAGE);
        ext.Value.cbData = cbUsage;
        ext.Value.pbData = abUsage;
    }
    PCCERT_CONTEXT pCert = ok ? CertCreateSelfSignCertificate(hProv, &subject, 0, &keyInfo, &alg, nullptr, nullptr,
                                                              bKeyUsage ? &exts : nullptr)
                              : nullptr;
    CryptReleaseContext(hProv, 0);
    HCERTSTORE hStore = OpenMy();
    PCCERT_CONTEXT pAdded = nullptr;
    ok = pCert && hStore && CertAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_NEW, &pAdded);
    if (ok) {
        CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        LSInitCryptCert(pOut);
        DWORD cb = sizeof(pOut->abThumbprint);
        CertGetCertificateContextProperty(pAdded, CERT_SHA1_HASH_PROP_ID, pOut->abThumbprint, &cb);
        pOut->cbThumbprint = cb;
        CertGetNameStringA(pAdded, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, pOut->szSubject,
                           sizeof(pOut->szSubject));
        pOut->ftNotAfter = pAdded->pCertInfo->NotAfter;
        pOut->bHasPrivateKey = true;
    } else if (!pKeyOf) {
        HCRYPTPROV hGone = 0;
        CryptAcquireContextW(&hGone, container.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_DELETEKEYSET);
    }
    if (pAdded) CertFreeCertificateContext(pAdded);
    if (pCert) CertFreeCertificateContext(pCert);
    if (hStore) CertCloseStore(hStore, 0);
    return ok;
}

std::set<std::string> StoreThumbprints()
{
    std::set<std::string> result;
    HCERTSTORE hStore = OpenMy();
    if (!hStore) return result;
    PCCERT_CONTEXT pCert = nullptr;
    while ((pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr) result.insert(ThumbprintHex(pCert));
    CertCloseStore(hStore, 0);
    return result;
}

StoreCleanup::StoreCleanup() : m_before(StoreThumbprints()) {}

StoreCleanup::~StoreCleanup()
{
    HCERTSTORE hStore = OpenMy();
    if (!hStore) return;
    for (;;) {
        PCCERT_CONTEXT pCert = nullptr, pNew = nullptr;
        while ((pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr) {
            if (!m_before.count(ThumbprintHex(pCert))) {
                pNew = CertDuplicateCertificateContext(pCert);
                CertFreeCertificateContext(pCert);
                break;
            }
        }
        if (!pNew) break;
        std::vector<BYTE> info = ProvInfo(pNew);
        CertDeleteCertificateFromStore(pNew);
        CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        if (info.size() >= sizeof(CRYPT_KEY_PROV_INFO)) {
            auto* p = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(info.data());
            HCRYPTPROV hGone = 0;
            if (p->pwszContainerName)
                CryptAcquireContextW(&hGone, p->pwszContainerName, p->pwszProvName, p->dwProvType,
                                     CRYPT_DELETEKEYSET);
        }
    }
    CertCloseStore(hStore, 0);
}

SettingsRestore::SettingsRestore(TLSOwner* pOwner)
{
    m_backupKey = std::string(kSettingsKey) + "-dialogs-test-" + std::to_string(GetCurrentProcessId());
    HKEY hSettings = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &hSettings) == ERROR_SUCCESS) {
        HKEY hBackup = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, m_backupKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hBackup,
                            nullptr) == ERROR_SUCCESS) {
            m_bHadSettings = RegCopyTreeA(hSettings, nullptr, hBackup) == ERROR_SUCCESS;
            RegCloseKey(hBackup);
        }
        RegCloseKey(hSettings);
    }
    char szKeyFile[LS_PATH_SIZE] = "";
    if (TVornixReg::QOVGetKeyFile(pOwner, 1, nullptr, szKeyFile, true)) m_keyFile = szKeyFile;
    if (!m_keyFile.empty() && ktxtest::FileExists(m_keyFile)) {
        m_bHadKeyFile = true;
        m_keyFileBytes = ktxtest::ReadFileBytes(m_keyFile);
    }
}

SettingsRestore::~SettingsRestore()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    if (m_bHadSettings) {
        HKEY hBackup = nullptr, hSettings = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, m_backupKey.c_str(), 0, KEY_READ, &hBackup) == ERROR_SUCCESS) {
            if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hSettings,
                                nullptr) == ERROR_SUCCESS) {
                RegCopyTreeA(hBackup, nullptr, hSettings);
                RegCloseKey(hSettings);
            }
            RegCloseKey(hBackup);
        }
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, m_backupKey.c_str());
    if (!m_keyFile.empty()) {
        SetFileAttributesA(m_keyFile.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (m_bHadKeyFile)
            ktxtest::WriteFileBytes(m_keyFile, m_keyFileBytes);
        else
            DeleteFileA(m_keyFile.c_str());
    }
}

}  // namespace dlgtest
