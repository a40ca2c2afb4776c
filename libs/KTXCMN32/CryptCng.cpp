// CNG building blocks: handles, AES-ECB blocks, PBKDF2, HMAC, digests.
#include "CryptCng.h"

namespace ktxcmn {

namespace {

bool Check(NTSTATUS status)
{
    if (BCRYPT_SUCCESS(status)) return true;
    LSSetNtStatusError(status);
    return false;
}

}  // namespace

void LSSetNtStatusError(NTSTATUS status)
{
    typedef ULONG(WINAPI * PFN_RTLNTSTATUSTODOSERROR)(NTSTATUS);
    static PFN_RTLNTSTATUSTODOSERROR pfn = reinterpret_cast<PFN_RTLNTSTATUSTODOSERROR>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlNtStatusToDosError"));
    DWORD dwErr = pfn ? pfn(status) : ERROR_GEN_FAILURE;
    if (dwErr == 0 || dwErr == ERROR_MR_MID_NOT_FOUND) dwErr = ERROR_GEN_FAILURE;
    SetLastError(dwErr);
}

TBCryptAlg& TBCryptAlg::operator=(TBCryptAlg&& other) noexcept
{
    if (this != &other) {
        Close();
        m_h = other.m_h;
        other.m_h = nullptr;
    }
    return *this;
}

bool TBCryptAlg::Open(LPCWSTR pszAlgId, ULONG dwFlags)
{
    Close();
    return Check(BCryptOpenAlgorithmProvider(&m_h, pszAlgId, nullptr, dwFlags));
}

void TBCryptAlg::Close()
{
    if (m_h) BCryptCloseAlgorithmProvider(m_h, 0);
    m_h = nullptr;
}

TBCryptKey& TBCryptKey::operator=(TBCryptKey&& other) noexcept
{
    if (this != &other) {
        Close();
        m_h = other.m_h;
        other.m_h = nullptr;
    }
    return *this;
}

bool TBCryptKey::Generate(BCRYPT_ALG_HANDLE hAlg, const BYTE* pbSecret, ULONG cbSecret)
{
    Close();
    return Check(BCryptGenerateSymmetricKey(hAlg, &m_h, nullptr, 0, const_cast<PUCHAR>(pbSecret), cbSecret, 0));
}

void TBCryptKey::Close()
{
    if (m_h) BCryptDestroyKey(m_h);
    m_h = nullptr;
}

bool LSOpenAesEcb(TBCryptAlg& alg)
{
    if (!alg.Open(BCRYPT_AES_ALGORITHM, 0)) return false;
    const WCHAR szMode[] = BCRYPT_CHAIN_MODE_ECB;
    if (!Check(BCryptSetProperty(alg.Get(), BCRYPT_CHAINING_MODE, reinterpret_cast<PUCHAR>(const_cast<WCHAR*>(szMode)),
                                 sizeof(szMode), 0))) {
        DWORD dwErr = GetLastError();
        alg.Close();
        SetLastError(dwErr);
        return false;
    }
    return true;
}

bool TAesBlockCipher::Init(BCRYPT_ALG_HANDLE hAesEcb, const BYTE abKey[32])
{
    return m_key.Generate(hAesEcb, abKey, 32);
}

bool TAesBlockCipher::EncryptBlocks(const uint8_t* pIn, uint8_t* pOut, size_t nBlocks)
{
    if (!m_key.Get()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (nBlocks == 0) return true;
    if (nBlocks > 0x0FFFFFFF / kCfbBlockSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    ULONG cb = static_cast<ULONG>(nBlocks * kCfbBlockSize);
    ULONG cbResult = 0;
    if (!Check(BCryptEncrypt(m_key.Get(), const_cast<PUCHAR>(pIn), cb, nullptr, nullptr, 0, pOut, cb, &cbResult, 0)))
        return false;
    if (cbResult != cb) {
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    return true;
}

bool LSPbkdf2Sha256(BCRYPT_ALG_HANDLE hHmacSha256, const BYTE* pbPassword, ULONG cbPassword, const BYTE* pbSalt,
                    ULONG cbSalt, ULONGLONG nIterations, BYTE* pbOut, ULONG cbOut)
{
    // CNG wants a buffer even for an empty password.
    BYTE bEmpty = 0;
    return Check(BCryptDeriveKeyPBKDF2(hHmacSha256, const_cast<PUCHAR>(cbPassword ? pbPassword : &bEmpty), cbPassword,
                                       const_cast<PUCHAR>(pbSalt), cbSalt, nIterations, pbOut, cbOut, 0));
}

bool LSHmacSha256(BCRYPT_ALG_HANDLE hHmacSha256, const BYTE* pbKey, ULONG cbKey, const BYTE* pbData1,
                  ULONG cbData1, const BYTE* pbData2, ULONG cbData2, BYTE abOut[32])
{
    BCRYPT_HASH_HANDLE hHash = nullptr;
    BYTE bEmpty = 0;
    if (!Check(BCryptCreateHash(hHmacSha256, &hHash, nullptr, 0, const_cast<PUCHAR>(cbKey ? pbKey : &bEmpty), cbKey, 0)))
        return false;
    bool bOk = (cbData1 == 0 || Check(BCryptHashData(hHash, const_cast<PUCHAR>(pbData1), cbData1, 0))) &&
               (cbData2 == 0 || Check(BCryptHashData(hHash, const_cast<PUCHAR>(pbData2), cbData2, 0))) &&
               Check(BCryptFinishHash(hHash, abOut, 32, 0));
    DWORD dwErr = GetLastError();
    BCryptDestroyHash(hHash);
    SetLastError(dwErr);
    return bOk;
}

bool LSHashData(BCRYPT_ALG_HANDLE hHashAlg, const BYTE* pbData, ULONG cbData, BYTE* pbOut, ULONG cbOut)
{
    BCRYPT_HASH_HANDLE hHash = nullptr;
    if (!Check(BCryptCreateHash(hHashAlg, &hHash, nullptr, 0, nullptr, 0, 0))) return false;
    bool bOk = (cbData == 0 || Check(BCryptHashData(hHash, const_cast<PUCHAR>(pbData), cbData, 0))) &&
               Check(BCryptFinishHash(hHash, pbOut, cbOut, 0));
    DWORD dwErr = GetLastError();
    BCryptDestroyHash(hHash);
    SetLastError(dwErr);
    return bOk;
}

}  // namespace ktxcmn
