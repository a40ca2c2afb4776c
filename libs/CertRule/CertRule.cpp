// The certificate rule (see CertRule.h).
#include "CertRule.h"

#include <cstring>
#include <vector>

namespace ktxcert {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// No key information is anywhere near this long; a longer one is not read.
constexpr DWORD kMaxKeyProvInfo = 64 * 1024;

// The certificate's key information (container, provider, key spec), or an
// empty buffer when it names no private key.
std::vector<BYTE> KeyProvInfo(PCCERT_CONTEXT pCert)
{
    std::vector<BYTE> buf;
    DWORD cb = 0;
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb) || cb == 0 ||
        cb > kMaxKeyProvInfo)
        return buf;
    buf.resize(cb);
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &cb)) buf.clear();
    return buf;
}

const CRYPT_KEY_PROV_INFO* AsKeyProvInfo(const std::vector<BYTE>& buf)
{
    return buf.size() >= sizeof(CRYPT_KEY_PROV_INFO) ? reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buf.data())
                                                     : nullptr;
}

// A key that CryptDecrypt unwraps with: a key-exchange key of a CryptoAPI
// provider (provider type 0 names a CNG key storage provider).
bool IsCryptoApiKeyExchange(const CRYPT_KEY_PROV_INFO& info)
{
    return info.dwProvType != 0 && info.dwKeySpec == AT_KEYEXCHANGE;
}

}  // namespace

CertVerdict CheckCertificate(PCCERT_CONTEXT pCert, CertUse use)
{
    if (!pCert || !pCert->pCertInfo) return CertVerdict::NoCertificate;
    const CERT_PUBLIC_KEY_INFO& key = pCert->pCertInfo->SubjectPublicKeyInfo;
    if (!key.Algorithm.pszObjId || strcmp(key.Algorithm.pszObjId, szOID_RSA_RSA) != 0) return CertVerdict::NotRsa;
    {
        std::vector<BYTE> buf = KeyProvInfo(pCert);
        const CRYPT_KEY_PROV_INFO* pInfo = AsKeyProvInfo(buf);
        if (pInfo && !IsCryptoApiKeyExchange(*pInfo)) return CertVerdict::NoKeyExchangeKey;
    }
    // A slot the key file already has opens with whatever key it was made for.
    if (use == CertUse::Open) return CertVerdict::Usable;

    DWORD dwBits = CertGetPublicKeyLength(kEncoding, const_cast<CERT_PUBLIC_KEY_INFO*>(&key));
    if (dwBits < kMinKeyBits) return CertVerdict::KeyTooShort;
    // Without a key usage extension the key may be used for anything.
    BYTE bUsage = 0;
    if (CertGetIntendedKeyUsage(kEncoding, pCert->pCertInfo, &bUsage, 1) &&
        !(bUsage & CERT_KEY_ENCIPHERMENT_KEY_USAGE))
        return CertVerdict::NoKeyEncipherment;
    return CertVerdict::Usable;
}

bool HasKeyExchangeKey(PCCERT_CONTEXT pCert)
{
    if (!pCert) return false;
    std::vector<BYTE> buf = KeyProvInfo(pCert);
    const CRYPT_KEY_PROV_INFO* pInfo = AsKeyProvInfo(buf);
    if (!pInfo || !pInfo->pwszContainerName || !*pInfo->pwszContainerName || !IsCryptoApiKeyExchange(*pInfo))
        return false;
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, pInfo->pwszContainerName, pInfo->pwszProvName, pInfo->dwProvType,
                              CRYPT_SILENT | (pInfo->dwFlags & CRYPT_MACHINE_KEYSET)))
        return false;
    HCRYPTKEY hKey = 0;
    bool bHasKey = CryptGetUserKey(hProv, AT_KEYEXCHANGE, &hKey) != FALSE;
    if (hKey) CryptDestroyKey(hKey);
    CryptReleaseContext(hProv, 0);
    return bHasKey;
}

const char* VerdictName(CertVerdict verdict)
{
    switch (verdict) {
    case CertVerdict::Usable: return "Usable";
    case CertVerdict::NoCertificate: return "NoCertificate";
    case CertVerdict::NotRsa: return "NotRsa";
    case CertVerdict::NoKeyExchangeKey: return "NoKeyExchangeKey";
    case CertVerdict::KeyTooShort: return "KeyTooShort";
    case CertVerdict::NoKeyEncipherment: return "NoKeyEncipherment";
    }
    return "?";
}

}  // namespace ktxcert
