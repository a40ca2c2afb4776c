// Which certificates may protect the key file: one rule for the certificate
// manager (KTXDlg.DLL) and the key file (KTXTOOLS.DLL).
//
// Choosing a certificate (the manager's list, recording the user's encryption
// certificate, every new slot of the key file) asks for all of:
//   - an RSA public key of at least kMinKeyBits bits;
//   - key encipherment among its key usages, when the certificate states key
//     usages at all. Wrapping the safe password for the certificate's key is
//     key transport, which is what key encipherment allows; a certificate
//     that allows data encipherment but not key encipherment is not chosen;
//   - a private key, when the certificate names one, that is a key-exchange
//     key (AT_KEYEXCHANGE) of a CryptoAPI provider: the key file is unwrapped
//     with CryptDecrypt, which neither a signature key nor a CNG key serves.
// Opening the key file asks only for what unwrapping a slot needs: the RSA key
// and the CryptoAPI key-exchange key. Key length and key usage are not looked
// at there, so a key file that has a slot for a certificate chosen before this
// rule (a 1024-bit key, data encipherment only) still opens; such a
// certificate only cannot be chosen again.
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace ktxcert {

constexpr DWORD kMinKeyBits = 2048;  // smaller RSA keys do not protect a safe

// What the certificate is looked at for.
enum class CertUse {
    Choose,  // to be chosen, or to get a new slot in the key file
    Open     // to unwrap a slot the key file already has
};

// The rule's answer: Usable, or the first requirement the certificate misses.
enum class CertVerdict {
    Usable,
    NoCertificate,      // no certificate (or one without its information)
    NotRsa,             // its public key is not an RSA key
    NoKeyExchangeKey,   // the private key it names is a signature key or a CNG key
    KeyTooShort,        // an RSA key of fewer than kMinKeyBits bits (choosing only)
    NoKeyEncipherment   // its key usages leave out key encipherment (choosing only)
};

// Checks what the certificate says of itself and of its private key; whether
// that private key is present for this user is HasKeyExchangeKey's question.
CertVerdict CheckCertificate(PCCERT_CONTEXT pCert, CertUse use);
inline bool IsUsableCertificate(PCCERT_CONTEXT pCert, CertUse use)
{
    return CheckCertificate(pCert, use) == CertVerdict::Usable;
}

// The certificate's private key is present for this user: it names a
// CryptoAPI key-exchange key, and that key container opens and holds it.
bool HasKeyExchangeKey(PCCERT_CONTEXT pCert);

// A short name of a verdict for traces and test messages ("KeyTooShort").
const char* VerdictName(CertVerdict verdict);

}  // namespace ktxcert
