// The certificate rule of the certificate manager and the key file, on its
// own: certificates made in memory for two key-exchange keys (2048 and 1024
// bits, made once for the whole table), with every kind of key usage and of
// private key they can name, each checked for choosing and for opening.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "CertRule.h"

using ktxcert::CertUse;
using ktxcert::CertVerdict;

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A key-exchange key in a new container of the AES provider, deleted again.
class TestKey {
public:
    ~TestKey() { Delete(); }

    bool Create(const std::wstring& name, DWORD dwBits)
    {
        m_name = name;
        if (!CryptAcquireContextW(&m_hProv, m_name.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_NEWKEYSET))
            return false;
        HCRYPTKEY hKey = 0;
        bool ok = CryptGenKey(m_hProv, AT_KEYEXCHANGE, dwBits << 16, &hKey) != FALSE;
        if (hKey) CryptDestroyKey(hKey);
        // The provider keeps a new key to itself until its context is released.
        CryptReleaseContext(m_hProv, 0);
        m_hProv = 0;
        ok = ok && CryptAcquireContextW(&m_hProv, m_name.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, 0);
        DWORD cb = 0;
        ok = ok && CryptExportPublicKeyInfo(m_hProv, AT_KEYEXCHANGE, kEncoding, nullptr, &cb);
        m_publicKey.resize(cb);
        ok = ok && CryptExportPublicKeyInfo(m_hProv, AT_KEYEXCHANGE, kEncoding,
                                            reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(m_publicKey.data()), &cb);
        return ok;
    }
    void Delete()
    {
        if (m_name.empty()) return;
        if (m_hProv) CryptReleaseContext(m_hProv, 0);
        m_hProv = 0;
        HCRYPTPROV hGone = 0;
        CryptAcquireContextW(&hGone, m_name.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_DELETEKEYSET);
        m_name.clear();
    }

    HCRYPTPROV Prov() const { return m_hProv; }
    const std::wstring& Name() const { return m_name; }
    CERT_PUBLIC_KEY_INFO* PublicKey() { return reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(m_publicKey.data()); }

private:
    std::wstring m_name;
    HCRYPTPROV m_hProv = 0;
    std::vector<BYTE> m_publicKey;  // a CERT_PUBLIC_KEY_INFO and what it points to
};

// The private key a certificate names in its key information.
enum class KeyInfo {
    KeyExchange,       // the key-exchange key of its container (AES provider)
    Signature,         // a signature key of the same container
    Cng,               // a key of a CNG key storage provider
    MissingContainer,  // a key-exchange key in a container that does not exist
    None               // no private key named
};

enum class Key { Rsa2048, Rsa1024, NotRsa };

struct Case {
    const char* label;
    Key key;
    BYTE bKeyUsage;  // bits of a key usage extension; 0: no extension
    KeyInfo keyInfo;
    CertVerdict choose;
    CertVerdict open;
    bool bHasKey;  // HasKeyExchangeKey
};

constexpr BYTE kSign = CERT_DIGITAL_SIGNATURE_KEY_USAGE;
constexpr BYTE kNonRep = CERT_NON_REPUDIATION_KEY_USAGE;
constexpr BYTE kKeyEnc = CERT_KEY_ENCIPHERMENT_KEY_USAGE;
constexpr BYTE kDataEnc = CERT_DATA_ENCIPHERMENT_KEY_USAGE;

// Data encipherment alone is refused for a choice: wrapping the safe password
// for the certificate is key transport, which key encipherment allows. A slot
// made for such a certificate before still opens.
const Case kCases[] = {
    {"2048 bits, no key usage", Key::Rsa2048, 0, KeyInfo::KeyExchange, CertVerdict::Usable, CertVerdict::Usable, true},
    {"2048 bits, key encipherment", Key::Rsa2048, kKeyEnc, KeyInfo::KeyExchange, CertVerdict::Usable,
     CertVerdict::Usable, true},
    {"2048 bits, key and data encipherment (as the manager makes them)", Key::Rsa2048, kKeyEnc | kDataEnc,
     KeyInfo::KeyExchange, CertVerdict::Usable, CertVerdict::Usable, true},
    {"2048 bits, signature and key encipherment", Key::Rsa2048, kSign | kKeyEnc, KeyInfo::KeyExchange,
     CertVerdict::Usable, CertVerdict::Usable, true},
    {"1024 bits", Key::Rsa1024, 0, KeyInfo::KeyExchange, CertVerdict::KeyTooShort, CertVerdict::Usable, true},
    {"1024 bits, key encipherment", Key::Rsa1024, kKeyEnc, KeyInfo::KeyExchange, CertVerdict::KeyTooShort,
     CertVerdict::Usable, true},
    {"signature only", Key::Rsa2048, kSign, KeyInfo::KeyExchange, CertVerdict::NoKeyEncipherment,
     CertVerdict::Usable, true},
    {"signature and non-repudiation", Key::Rsa2048, kSign | kNonRep, KeyInfo::KeyExchange,
     CertVerdict::NoKeyEncipherment, CertVerdict::Usable, true},
    {"data encipherment only", Key::Rsa2048, kDataEnc, KeyInfo::KeyExchange, CertVerdict::NoKeyEncipherment,
     CertVerdict::Usable, true},
    {"a signature key", Key::Rsa2048, 0, KeyInfo::Signature, CertVerdict::NoKeyExchangeKey,
     CertVerdict::NoKeyExchangeKey, false},
    {"a CNG key", Key::Rsa2048, kKeyEnc, KeyInfo::Cng, CertVerdict::NoKeyExchangeKey, CertVerdict::NoKeyExchangeKey,
     false},
    {"no private key named", Key::Rsa2048, 0, KeyInfo::None, CertVerdict::Usable, CertVerdict::Usable, false},
    {"its key container is gone", Key::Rsa2048, 0, KeyInfo::MissingContainer, CertVerdict::Usable,
     CertVerdict::Usable, false},
    {"1024 bits, its key container is gone", Key::Rsa1024, 0, KeyInfo::MissingContainer, CertVerdict::KeyTooShort,
     CertVerdict::Usable, false},
    {"not an RSA key", Key::NotRsa, kKeyEnc, KeyInfo::None, CertVerdict::NotRsa, CertVerdict::NotRsa, false},
};

class CertRule : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::wstring base = L"ktx-rule-test-" + std::to_wstring(GetCurrentProcessId()) + L"-";
        s_pKey2048 = new TestKey;
        s_pKey1024 = new TestKey;
        s_bKeys = s_pKey2048->Create(base + L"2048", 2048) && s_pKey1024->Create(base + L"1024", 1024);
    }
    static void TearDownTestSuite()
    {
        delete s_pKey2048;
        delete s_pKey1024;
        s_pKey2048 = s_pKey1024 = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_bKeys) << "the test keys could not be made"; }

    // A certificate for the case, signed with the 2048-bit key, with its key
    // information set as the case says. Null when it cannot be made.
    static PCCERT_CONTEXT MakeCertificate(const Case& c)
    {
        TestKey* pKey = c.key == Key::Rsa1024 ? s_pKey1024 : s_pKey2048;
        CERT_PUBLIC_KEY_INFO publicKey = *pKey->PublicKey();
        BYTE abEcPoint[65] = {0x04};
        for (size_t i = 1; i < sizeof(abEcPoint); ++i) abEcPoint[i] = static_cast<BYTE>(i);
        if (c.key == Key::NotRsa) {
            publicKey = CERT_PUBLIC_KEY_INFO{};
            publicKey.Algorithm.pszObjId = const_cast<char*>(szOID_ECC_PUBLIC_KEY);
            publicKey.PublicKey.cbData = sizeof(abEcPoint);
            publicKey.PublicKey.pbData = abEcPoint;
        }

        BYTE abName[256];
        DWORD cbName = sizeof(abName);
        if (!CertStrToNameW(X509_ASN_ENCODING, L"CN=KTSafe rule test", CERT_X500_NAME_STR, nullptr, abName, &cbName,
                            nullptr))
            return nullptr;
        BYTE bUsage = c.bKeyUsage;
        CRYPT_BIT_BLOB usageBits{1, &bUsage, 0};
        while (bUsage && !(bUsage & (1u << usageBits.cUnusedBits))) ++usageBits.cUnusedBits;
        BYTE abUsage[16];
        DWORD cbUsage = sizeof(abUsage);
        CERT_EXTENSION ext{};
        if (c.bKeyUsage) {
            if (!CryptEncodeObject(X509_ASN_ENCODING, X509_KEY_USAGE, &usageBits, abUsage, &cbUsage)) return nullptr;
            ext.pszObjId = const_cast<char*>(szOID_KEY_USAGE);
            ext.Value = CRYPT_OBJID_BLOB{cbUsage, abUsage};
        }

        BYTE bSerial = 1;
        CERT_INFO info{};
        info.dwVersion = CERT_V3;
        info.SerialNumber = CRYPT_INTEGER_BLOB{1, &bSerial};
        info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
        info.Issuer = info.Subject = CERT_NAME_BLOB{cbName, abName};
        GetSystemTimeAsFileTime(&info.NotBefore);
        ULARGE_INTEGER end{{info.NotBefore.dwLowDateTime, info.NotBefore.dwHighDateTime}};
        end.QuadPart += 365ull * 24 * 3600 * 10000000;
        info.NotAfter = FILETIME{end.LowPart, end.HighPart};
        info.SubjectPublicKeyInfo = publicKey;
        info.cExtension = c.bKeyUsage ? 1 : 0;
        info.rgExtension = &ext;

        CRYPT_ALGORITHM_IDENTIFIER sigAlg{};
        sigAlg.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
        DWORD cb = 0;
        if (!CryptSignAndEncodeCertificate(s_pKey2048->Prov(), AT_KEYEXCHANGE, kEncoding, X509_CERT_TO_BE_SIGNED,
                                           &info, &sigAlg, nullptr, nullptr, &cb))
            return nullptr;
        std::vector<BYTE> encoded(cb);
        if (!CryptSignAndEncodeCertificate(s_pKey2048->Prov(), AT_KEYEXCHANGE, kEncoding, X509_CERT_TO_BE_SIGNED,
                                           &info, &sigAlg, nullptr, encoded.data(), &cb))
            return nullptr;
        PCCERT_CONTEXT pCert = CertCreateCertificateContext(kEncoding, encoded.data(), cb);
        if (!pCert || c.keyInfo == KeyInfo::None) return pCert;

        std::wstring container = c.keyInfo == KeyInfo::MissingContainer ? pKey->Name() + L"-gone" : pKey->Name();
        CRYPT_KEY_PROV_INFO keyInfo{};
        keyInfo.pwszContainerName = &container[0];
        keyInfo.pwszProvName = const_cast<wchar_t*>(MS_ENH_RSA_AES_PROV_W);
        keyInfo.dwProvType = PROV_RSA_AES;
        keyInfo.dwKeySpec = c.keyInfo == KeyInfo::Signature ? AT_SIGNATURE : AT_KEYEXCHANGE;
        if (c.keyInfo == KeyInfo::Cng) {
            keyInfo.pwszProvName = const_cast<wchar_t*>(L"Microsoft Software Key Storage Provider");
            keyInfo.dwProvType = 0;
        }
        if (!CertSetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, 0, &keyInfo)) {
            CertFreeCertificateContext(pCert);
            return nullptr;
        }
        return pCert;
    }

    static TestKey* s_pKey2048;
    static TestKey* s_pKey1024;
    static bool s_bKeys;
};

TestKey* CertRule::s_pKey2048 = nullptr;
TestKey* CertRule::s_pKey1024 = nullptr;
bool CertRule::s_bKeys = false;

TEST_F(CertRule, ChoosingIsStrictOpeningNeedsOnlyWhatUnwraps)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.label);
        PCCERT_CONTEXT pCert = MakeCertificate(c);
        ASSERT_NE(pCert, nullptr) << GetLastError();
        EXPECT_STREQ(ktxcert::VerdictName(ktxcert::CheckCertificate(pCert, CertUse::Choose)),
                     ktxcert::VerdictName(c.choose));
        EXPECT_STREQ(ktxcert::VerdictName(ktxcert::CheckCertificate(pCert, CertUse::Open)),
                     ktxcert::VerdictName(c.open));
        EXPECT_EQ(ktxcert::IsUsableCertificate(pCert, CertUse::Choose), c.choose == CertVerdict::Usable);
        EXPECT_EQ(ktxcert::IsUsableCertificate(pCert, CertUse::Open), c.open == CertVerdict::Usable);
        EXPECT_EQ(ktxcert::HasKeyExchangeKey(pCert), c.bHasKey);
        CertFreeCertificateContext(pCert);
    }
}

TEST_F(CertRule, NoCertificateIsNotUsable)
{
    EXPECT_EQ(ktxcert::CheckCertificate(nullptr, CertUse::Choose), CertVerdict::NoCertificate);
    EXPECT_EQ(ktxcert::CheckCertificate(nullptr, CertUse::Open), CertVerdict::NoCertificate);
    EXPECT_FALSE(ktxcert::HasKeyExchangeKey(nullptr));
}

}  // namespace
