// The crypto context of the library: cipher methods 2 and 4, digests.
//
// Both methods are AES-256 in CFB mode with 128-bit feedback (CfbMode.h) over
// CNG AES-ECB. The key string gives the AES key through PBKDF2-HMAC-SHA256
// with a salt per method and a fixed iteration count; the initial register is
// the first half of HMAC-SHA256 under that key over a label and the method.
// Salt, count and label are format constants: safe files store none of them,
// so changing any of them makes every existing safe unreadable.
//
// A context caches what it derived per (method, key string), so a derivation
// is paid once per password and session. The cache knows a key string only
// by a fingerprint (HMAC-SHA256 under a random key of the context) and is
// wiped when the context is freed.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "CryptCng.h"
#include "CryptFormat.h"
#include "KTXCMN32.h"

using namespace ktxcmn;

namespace {

constexpr DWORD kContextMagic = 0x4B545843;   // "KTXC"
constexpr size_t kMaxCachedKeys = 16;
constexpr DWORD kAlgMd5 = 0x8003;              // CALG_MD5
constexpr DWORD kAlgSha256 = 0x800C;           // CALG_SHA_256

struct TCachedKey {
    int nMethod = 0;
    BYTE abFingerprint[32] = {};
    BYTE abRegister[kCfbBlockSize] = {};
    TAesBlockCipher cipher;

    ~TCachedKey()
    {
        SecureZeroMemory(abFingerprint, sizeof(abFingerprint));
        SecureZeroMemory(abRegister, sizeof(abRegister));
    }
};

struct TCryptContext {
    DWORD dwMagic = kContextMagic;
    TLSOwner* pOwner = nullptr;
    CRITICAL_SECTION cs;
    TBCryptAlg algAes;        // AES, ECB
    TBCryptAlg algHmac;       // SHA-256 with the HMAC flag
    TBCryptAlg algMd5;
    TBCryptAlg algSha256;
    BYTE abFingerprintKey[32] = {};
    std::vector<std::unique_ptr<TCachedKey>> keys;   // oldest first

    TCryptContext() { InitializeCriticalSection(&cs); }
    ~TCryptContext()
    {
        keys.clear();
        SecureZeroMemory(abFingerprintKey, sizeof(abFingerprintKey));
        dwMagic = 0;
        DeleteCriticalSection(&cs);
    }
};

class TLock {
public:
    explicit TLock(CRITICAL_SECTION* pcs) : m_pcs(pcs) { EnterCriticalSection(m_pcs); }
    ~TLock() { LeaveCriticalSection(m_pcs); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

private:
    CRITICAL_SECTION* m_pcs;
};

TCryptContext* ContextOf(LSCRYPTHANDLE hCrypt)
{
    TCryptContext* p = static_cast<TCryptContext*>(hCrypt);
    return (p && p->dwMagic == kContextMagic) ? p : nullptr;
}

bool Fail(TLSOwner* pOwner, DWORD dwErr, const char* pszMessage)
{
    SetLastError(dwErr);
    return LS_DEF_ERROR(LSOwnerErr(pOwner), false, pszMessage);
}

bool SameFingerprint(const BYTE* a, const BYTE* b)
{
    BYTE diff = 0;
    for (size_t i = 0; i < 32; ++i) diff = static_cast<BYTE>(diff | (a[i] ^ b[i]));
    return diff == 0;
}

bool RangesOverlap(const void* a, const void* b, size_t cb)
{
    uintptr_t x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return x < y + cb && y < x + cb;
}

// The cached key of (method, key string), derived on first use. Called under the lock.
TCachedKey* GetKey(TCryptContext* pCtx, int nMethod, const char* pszKey, DWORD dwKeyLen)
{
    const BYTE bMethod = static_cast<BYTE>(nMethod);
    BYTE abFingerprint[32];
    if (!LSHmacSha256(pCtx->algHmac.Get(), pCtx->abFingerprintKey, sizeof(pCtx->abFingerprintKey), &bMethod, 1,
                      reinterpret_cast<const BYTE*>(pszKey), dwKeyLen, abFingerprint))
        return nullptr;
    for (auto& p : pCtx->keys) {
        if (p->nMethod == nMethod && SameFingerprint(p->abFingerprint, abFingerprint)) {
            SecureZeroMemory(abFingerprint, sizeof(abFingerprint));
            return p.get();
        }
    }

    std::unique_ptr<TCachedKey> pKey(new (std::nothrow) TCachedKey());
    if (!pKey) {
        SecureZeroMemory(abFingerprint, sizeof(abFingerprint));
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    pKey->nMethod = nMethod;
    memcpy(pKey->abFingerprint, abFingerprint, sizeof(abFingerprint));
    SecureZeroMemory(abFingerprint, sizeof(abFingerprint));

    const char* pszSalt = nMethod == LS_CRYPT_LEGACY ? kSaltMethod2 : kSaltMethod4;
    BYTE abKey[32];
    BYTE abMac[32];
    bool bOk = LSPbkdf2Sha256(pCtx->algHmac.Get(), reinterpret_cast<const BYTE*>(pszKey), dwKeyLen,
                              reinterpret_cast<const BYTE*>(pszSalt), static_cast<ULONG>(strlen(pszSalt)),
                              kKeyIterations, abKey, sizeof(abKey)) &&
               LSHmacSha256(pCtx->algHmac.Get(), abKey, sizeof(abKey), reinterpret_cast<const BYTE*>(kRegisterLabel),
                            static_cast<ULONG>(strlen(kRegisterLabel)), &bMethod, 1, abMac) &&
               pKey->cipher.Init(pCtx->algAes.Get(), abKey);
    DWORD dwErr = GetLastError();
    if (bOk) memcpy(pKey->abRegister, abMac, sizeof(pKey->abRegister));
    SecureZeroMemory(abKey, sizeof(abKey));
    SecureZeroMemory(abMac, sizeof(abMac));
    if (!bOk) {
        SetLastError(dwErr);
        return nullptr;
    }

    try {
        if (pCtx->keys.size() >= kMaxCachedKeys) pCtx->keys.erase(pCtx->keys.begin());
        pCtx->keys.push_back(std::move(pKey));
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return pCtx->keys.back().get();
}

bool Transform(bool bEncrypt, LSCRYPTHANDLE hCrypt, int nMethod, const char* pszKey, DWORD dwKeyLen,
               const BYTE* pData, DWORD dwDataLen, BYTE* pOut, DWORD* pdwOutLen)
{
    const char* pszMessage = bEncrypt ? "EnCryptData failed!" : "DeCryptData failed!";
    TCryptContext* pCtx = ContextOf(hCrypt);
    if (!pCtx) return Fail(nullptr, ERROR_INVALID_HANDLE, pszMessage);
    if (nMethod != LS_CRYPT_LEGACY && nMethod != LS_CRYPT_CURRENT)
        return Fail(pCtx->pOwner, ERROR_INVALID_PARAMETER, pszMessage);
    if (!pszKey || !pData || !pOut || !pdwOutLen) return Fail(pCtx->pOwner, ERROR_INVALID_PARAMETER, pszMessage);
    if (*pdwOutLen < dwDataLen) return Fail(pCtx->pOwner, ERROR_INSUFFICIENT_BUFFER, pszMessage);
    if (pOut != pData && RangesOverlap(pOut, pData, dwDataLen))
        return Fail(pCtx->pOwner, ERROR_INVALID_PARAMETER, pszMessage);

    bool bOk;
    {
        TLock lock(&pCtx->cs);
        TCachedKey* pKey = GetKey(pCtx, nMethod, pszKey, dwKeyLen);
        bOk = pKey && (bEncrypt ? CfbEncrypt(pKey->cipher, pKey->abRegister, pData, pOut, dwDataLen)
                                : CfbDecrypt(pKey->cipher, pKey->abRegister, pData, pOut, dwDataLen));
    }
    if (!bOk) return LS_DEF_ERROR(LSOwnerErr(pCtx->pOwner), false, pszMessage);
    *pdwOutLen = dwDataLen;
    return true;
}

}  // namespace

extern "C" KTXCMN32_API bool GetWCHandle(LSCRYPTHANDLE* phCrypt, TLSOwner* pOwner)
{
    if (!phCrypt) return Fail(pOwner, ERROR_INVALID_PARAMETER, "GetWCHandle failed!");
    *phCrypt = nullptr;
    std::unique_ptr<TCryptContext> pCtx(new (std::nothrow) TCryptContext());
    if (!pCtx) return Fail(pOwner, ERROR_NOT_ENOUGH_MEMORY, "GetWCHandle failed!");
    pCtx->pOwner = pOwner;
    bool bOk = LSOpenAesEcb(pCtx->algAes) && pCtx->algHmac.Open(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG) &&
               pCtx->algMd5.Open(BCRYPT_MD5_ALGORITHM, 0) && pCtx->algSha256.Open(BCRYPT_SHA256_ALGORITHM, 0) &&
               BCRYPT_SUCCESS(BCryptGenRandom(nullptr, pCtx->abFingerprintKey, sizeof(pCtx->abFingerprintKey),
                                              BCRYPT_USE_SYSTEM_PREFERRED_RNG));
    if (!bOk) {
        if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_GEN_FAILURE);
        return LS_DEF_ERROR(LSOwnerErr(pOwner), false, "GetWCHandle failed!");
    }
    *phCrypt = pCtx.release();
    return true;
}

extern "C" KTXCMN32_API bool FreeWCHandle(LSCRYPTHANDLE hCrypt)
{
    TCryptContext* pCtx = ContextOf(hCrypt);
    if (!pCtx) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    delete pCtx;   // wipes every cached key
    return true;
}

extern "C" KTXCMN32_API bool EnCryptData(LSCRYPTHANDLE hCrypt, int nMethod, const char* pszKey, DWORD dwKeyLen,
                                         const BYTE* pData, DWORD dwDataLen, BYTE* pOut, DWORD* pdwOutLen)
{
    return Transform(true, hCrypt, nMethod, pszKey, dwKeyLen, pData, dwDataLen, pOut, pdwOutLen);
}

extern "C" KTXCMN32_API bool DeCryptData(LSCRYPTHANDLE hCrypt, int nMethod, const char* pszKey, DWORD dwKeyLen,
                                         const BYTE* pData, DWORD dwDataLen, BYTE* pOut, DWORD* pdwOutLen)
{
    return Transform(false, hCrypt, nMethod, pszKey, dwKeyLen, pData, dwDataLen, pOut, pdwOutLen);
}

extern "C" KTXCMN32_API bool HashDataHex(LSCRYPTHANDLE hCrypt, const BYTE* pData, DWORD dwDataLen, char* pszOut,
                                         DWORD* pdwLen, DWORD dwAlgId)
{
    const char* pszMessage = "HashDataHex failed!";
    TCryptContext* pCtx = ContextOf(hCrypt);
    if (!pCtx) return Fail(nullptr, ERROR_INVALID_HANDLE, pszMessage);
    if (!pszOut || !pdwLen || (!pData && dwDataLen)) return Fail(pCtx->pOwner, ERROR_INVALID_PARAMETER, pszMessage);
    DWORD dwCapacity = *pdwLen;
    BCRYPT_ALG_HANDLE hAlg;
    ULONG cbDigest;
    if (dwAlgId == kAlgMd5) {
        hAlg = pCtx->algMd5.Get();
        cbDigest = 16;
    } else if (dwAlgId == kAlgSha256) {
        hAlg = pCtx->algSha256.Get();
        cbDigest = 32;
    } else {
        if (dwCapacity) pszOut[0] = '\0';
        return Fail(pCtx->pOwner, NTE_BAD_ALGID, pszMessage);
    }
    if (dwCapacity < cbDigest * 2 + 1) {
        if (dwCapacity) pszOut[0] = '\0';
        return Fail(pCtx->pOwner, ERROR_INSUFFICIENT_BUFFER, pszMessage);
    }
    BYTE abDigest[32];
    bool bOk;
    {
        TLock lock(&pCtx->cs);
        bOk = LSHashData(hAlg, pData, dwDataLen, abDigest, cbDigest);
    }
    if (!bOk) {
        pszOut[0] = '\0';
        return LS_DEF_ERROR(LSOwnerErr(pCtx->pOwner), false, pszMessage);
    }
    static const char kHex[] = "0123456789abcdef";
    for (ULONG i = 0; i < cbDigest; ++i) {
        pszOut[2 * i] = kHex[abDigest[i] >> 4];
        pszOut[2 * i + 1] = kHex[abDigest[i] & 15];
    }
    pszOut[2 * cbDigest] = '\0';
    *pdwLen = 2 * cbDigest;
    SecureZeroMemory(abDigest, sizeof(abDigest));
    return true;
}
