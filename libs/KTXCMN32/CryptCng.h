// CNG building blocks of the library's crypto: owning handle wrappers,
// AES-256 as a block cipher for the CFB mode, PBKDF2-HMAC-SHA256, HMAC-SHA256
// and digests. Internal to KTXCMN32 (nothing here is exported).
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "CfbMode.h"

namespace ktxcmn {

// An algorithm provider, closed on destruction. Move-only.
class TBCryptAlg {
public:
    TBCryptAlg() = default;
    ~TBCryptAlg() { Close(); }
    TBCryptAlg(TBCryptAlg&& other) noexcept : m_h(other.m_h) { other.m_h = nullptr; }
    TBCryptAlg& operator=(TBCryptAlg&& other) noexcept;
    TBCryptAlg(const TBCryptAlg&) = delete;
    TBCryptAlg& operator=(const TBCryptAlg&) = delete;

    // Opens the provider; false with the Win32 error set on failure.
    bool Open(LPCWSTR pszAlgId, ULONG dwFlags);
    void Close();
    BCRYPT_ALG_HANDLE Get() const { return m_h; }

private:
    BCRYPT_ALG_HANDLE m_h = nullptr;
};

// A symmetric key, destroyed on destruction. Move-only.
class TBCryptKey {
public:
    TBCryptKey() = default;
    ~TBCryptKey() { Close(); }
    TBCryptKey(TBCryptKey&& other) noexcept : m_h(other.m_h) { other.m_h = nullptr; }
    TBCryptKey& operator=(TBCryptKey&& other) noexcept;
    TBCryptKey(const TBCryptKey&) = delete;
    TBCryptKey& operator=(const TBCryptKey&) = delete;

    bool Generate(BCRYPT_ALG_HANDLE hAlg, const BYTE* pbSecret, ULONG cbSecret);
    void Close();
    BCRYPT_KEY_HANDLE Get() const { return m_h; }

private:
    BCRYPT_KEY_HANDLE m_h = nullptr;
};

// Sets the Win32 error for an NTSTATUS of CNG.
void LSSetNtStatusError(NTSTATUS status);

// Opens the AES provider in ECB mode (no chaining state is ever kept).
bool LSOpenAesEcb(TBCryptAlg& alg);

// AES-256 as the block cipher of the CFB mode. Key stream is wiped with SecureZeroMemory.
class TAesBlockCipher : public CfbBlockCipher {
public:
    // hAesEcb: a provider from LSOpenAesEcb; the key is 32 bytes.
    bool Init(BCRYPT_ALG_HANDLE hAesEcb, const BYTE abKey[32]);
    bool EncryptBlocks(const uint8_t* pIn, uint8_t* pOut, size_t nBlocks) override;
    void Wipe(void* p, size_t cb) override { SecureZeroMemory(p, cb); }

private:
    TBCryptKey m_key;
};

// PBKDF2 with HMAC-SHA256; hHmacSha256 is a SHA-256 provider opened with
// BCRYPT_ALG_HANDLE_HMAC_FLAG.
bool LSPbkdf2Sha256(BCRYPT_ALG_HANDLE hHmacSha256, const BYTE* pbPassword, ULONG cbPassword, const BYTE* pbSalt,
                    ULONG cbSalt, ULONGLONG nIterations, BYTE* pbOut, ULONG cbOut);
// HMAC-SHA256 of the concatenation of two parts (either may be empty).
bool LSHmacSha256(BCRYPT_ALG_HANDLE hHmacSha256, const BYTE* pbKey, ULONG cbKey, const BYTE* pbData1,
                  ULONG cbData1, const BYTE* pbData2, ULONG cbData2, BYTE abOut[32]);
// A digest (MD5, SHA-256, ...) of the data; cbOut is the digest size.
bool LSHashData(BCRYPT_ALG_HANDLE hHashAlg, const BYTE* pbData, ULONG cbData, BYTE* pbOut, ULONG cbOut);

}  // namespace ktxcmn
