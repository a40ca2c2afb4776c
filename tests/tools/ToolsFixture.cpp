#include "ToolsFixture.h"

#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "KTXTOOLS.h"
#include "KeyFileFormat.h"
#include "TestSupport.h"

namespace toolstest {

namespace {
std::atomic<unsigned> g_nCert{0};
}

std::string UserDataDir()
{
    char sz[LS_PATH_SIZE] = {};
    TVornixReg::QOVGetVornixUserPath(nullptr, sz);
    return sz;
}

std::string KeyFilePath()
{
    char sz[LS_PATH_SIZE] = {};
    TVornixReg::QOVGetKeyFile(nullptr, 1, nullptr, sz, true);
    return sz;
}

std::string BackupRoot() { return UserDataDir() + "\\Backup"; }

void ResetProductState()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "software\\vornix\\KTX");
    std::string key = KeyFilePath();
    SetFileAttributesA(key.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(key.c_str());
    ktxtest::RemoveTree(BackupRoot());
}

bool WriteSafe(const std::string& path, const std::string& marker)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<LSVER500><n0001 name=\"entry\" hash=\"0\">" +
                      marker + "</n0001></LSVER500>\r\n";
    return ktxtest::WriteFileBytes(path, xml);
}

bool WriteDamagedSafe(const std::string& path)
{
    return ktxtest::WriteFileBytes(path, "<?xml version=\"1.0\"?>\r\n<LSVER500><n0001 name=\"entry\">damaged");
}

std::string SampleKeyFileBytes()
{
    ktxkeyfile::KeyFile file;
    ktxkeyfile::PasswordCheck("sample", 6, file.check);
    ktxkeyfile::Slot slot;
    memset(slot.thumbprint, 0x5A, sizeof(slot.thumbprint));
    slot.wrapped.assign(256, 0xA5);
    file.slots.push_back(slot);
    std::vector<uint8_t> bytes;
    ktxkeyfile::Serialize(file, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

std::string KeyFileBytesFor(const std::string& password, const std::vector<const TestCert*>& certs)
{
    ktxkeyfile::KeyFile file;
    ktxkeyfile::PasswordCheck(password.data(), password.size(), file.check);
    for (const TestCert* pCert : certs) {
        ktxkeyfile::Slot slot;
        memcpy(slot.thumbprint, pCert->Thumbprint(), sizeof(slot.thumbprint));
        if (!pCert->Wrap(password, &slot.wrapped)) return std::string();
        file.slots.push_back(slot);
    }
    std::vector<uint8_t> bytes;
    if (!ktxkeyfile::Serialize(file, &bytes)) return std::string();
    return std::string(bytes.begin(), bytes.end());
}

bool SetRawValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const void* data, DWORD cb)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExA(hKey, name.c_str(), 0, type, static_cast<const BYTE*>(data), cb);
    RegCloseKey(hKey);
    return r == ERROR_SUCCESS;
}

bool StartInLocale(const std::string& exe, const std::string& args, const char* pszLocale)
{
    std::string cmd = "\"" + ktxtest::ModuleDir() + "\\" + exe + "\" " + args;
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) {
        // Wine takes a process's language from the Unix locale it starts with.
        char szLoader[MAX_PATH] = "/usr/lib/wine/wine64";
        GetEnvironmentVariableA("WINELOADER", szLoader, sizeof(szLoader));
        cmd = std::string("/usr/bin/env LC_ALL=") + pszLocale + " LANG=" + pszLocale + " " + szLoader + " " + cmd;
    }
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::vector<char> buf(cmd.begin(), cmd.end());
    buf.push_back('\0');
    if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

TestCert::~TestCert()
{
    DeleteCertificate();
    DeleteContainer();
}

bool TestCert::Create(const std::string& commonName, DWORD dwKeySpec)
{
    CertOptions options;
    options.dwKeySpec = dwKeySpec;
    return Create(commonName, options);
}

bool TestCert::Create(const std::string& commonName, const CertOptions& options)
{
    HCRYPTPROV hProv = 0;
    bool ok = true;
    if (options.pKeyOf) {
        m_container = options.pKeyOf->m_container;
        if (!CryptAcquireContextA(&hProv, m_container.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0)) return false;
    } else {
        m_container = "ktx-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) +
                      "-" + std::to_string(g_nCert++);
        if (!CryptAcquireContextA(&hProv, m_container.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET))
            return false;
        m_bHasContainer = true;
        HCRYPTKEY hKey = 0;
        ok = CryptGenKey(hProv, options.dwKeySpec, (options.dwBits << 16), &hKey) != FALSE;
        if (hKey) CryptDestroyKey(hKey);
    }

    BYTE abName[512];
    DWORD cbName = sizeof(abName);
    std::string dn = "CN=" + commonName;
    ok = ok && CertStrToNameA(X509_ASN_ENCODING, dn.c_str(), CERT_X500_NAME_STR, nullptr, abName, &cbName, nullptr);
    CERT_NAME_BLOB subject{cbName, abName};
    std::wstring wContainer(m_container.begin(), m_container.end());
    CRYPT_KEY_PROV_INFO kpi{};
    kpi.pwszContainerName = &wContainer[0];
    kpi.pwszProvName = const_cast<LPWSTR>(MS_ENH_RSA_AES_PROV_W);
    kpi.dwProvType = PROV_RSA_AES;
    kpi.dwKeySpec = options.dwKeySpec;
    CRYPT_ALGORITHM_IDENTIFIER alg{};
    alg.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);
    SYSTEMTIME start, end;
    GetSystemTime(&start);
    end = start;
    end.wYear += 1;

    // The key usage extension, its bits without the trailing zero bits.
    BYTE bUsage = options.bKeyUsage;
    CRYPT_BIT_BLOB usageBits{1, &bUsage, 0};
    while (bUsage && !(bUsage & (1u << usageBits.cUnusedBits))) ++usageBits.cUnusedBits;
    BYTE abUsage[16];
    DWORD cbUsage = sizeof(abUsage);
    CERT_EXTENSION ext{};
    CERT_EXTENSIONS exts{0, &ext};
    if (options.bKeyUsage) {
        ok = ok && CryptEncodeObject(X509_ASN_ENCODING, X509_KEY_USAGE, &usageBits, abUsage, &cbUsage);
        ext.pszObjId = const_cast<LPSTR>(szOID_KEY_USAGE);
        ext.Value.cbData = cbUsage;
        ext.Value.pbData = abUsage;
        exts.cExtension = 1;
    }
    PCCERT_CONTEXT pCert = ok ? CertCreateSelfSignCertificate(hProv, &subject, 0, &kpi, &alg, &start, &end,
                                                              options.bKeyUsage ? &exts : nullptr)
                              : nullptr;
    // The provider keeps a new key only once its context is released.
    CryptReleaseContext(hProv, 0);
    if (!pCert) return false;

    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "MY");
    ok = hStore && CertAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD cb = sizeof(m_thumbprint);
    ok = ok && CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, m_thumbprint, &cb) && cb == 20;
    if (hStore) {
        CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        CertCloseStore(hStore, 0);
    }
    CertFreeCertificateContext(pCert);
    m_bInStore = ok;
    return ok;
}

bool TestCert::Wrap(const std::string& secret, std::vector<uint8_t>* pOut) const
{
    pOut->clear();
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "MY");
    if (!hStore) return false;
    CRYPT_HASH_BLOB blob{20, const_cast<BYTE*>(m_thumbprint)};
    PCCERT_CONTEXT pCert = CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                      CERT_FIND_SHA1_HASH, &blob, nullptr);
    HCRYPTPROV hProv = 0;
    HCRYPTKEY hKey = 0;
    bool ok = pCert && CryptAcquireContextA(&hProv, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    ok = ok && CryptImportPublicKeyInfo(hProv, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                        &pCert->pCertInfo->SubjectPublicKeyInfo, &hKey);
    DWORD cbData = static_cast<DWORD>(secret.size());
    ok = ok && CryptEncrypt(hKey, 0, TRUE, CRYPT_OAEP, nullptr, &cbData, 0);
    if (ok) {
        pOut->assign(secret.begin(), secret.end());
        pOut->resize(cbData > secret.size() ? cbData : secret.size());
        cbData = static_cast<DWORD>(secret.size());
        ok = CryptEncrypt(hKey, 0, TRUE, CRYPT_OAEP, pOut->data(), &cbData, static_cast<DWORD>(pOut->size()));
        pOut->resize(ok ? cbData : 0);
    }
    if (hKey) CryptDestroyKey(hKey);
    if (hProv) CryptReleaseContext(hProv, 0);
    if (pCert) CertFreeCertificateContext(pCert);
    CertCloseStore(hStore, 0);
    return ok;
}

TLSCryptCert TestCert::Record() const
{
    TLSCryptCert record;
    LSInitCryptCert(&record);
    memcpy(record.abThumbprint, m_thumbprint, 20);
    record.cbThumbprint = 20;
    record.bHasPrivateKey = true;
    return record;
}

bool TestCert::DeleteCertificate()
{
    if (!m_bInStore) return true;
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "MY");
    if (!hStore) return false;
    CRYPT_HASH_BLOB blob{20, m_thumbprint};
    PCCERT_CONTEXT pCert = CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                      CERT_FIND_SHA1_HASH, &blob, nullptr);
    bool ok = pCert && CertDeleteCertificateFromStore(pCert);  // frees pCert
    CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(hStore, 0);
    if (ok) m_bInStore = false;
    return ok;
}

bool TestCert::DeleteContainer()
{
    if (!m_bHasContainer) return true;
    HCRYPTPROV hProv = 0;
    bool ok = CryptAcquireContextA(&hProv, m_container.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES,
                                   CRYPT_DELETEKEYSET) != FALSE;
    if (ok) m_bHasContainer = false;
    return ok;
}

}  // namespace toolstest
