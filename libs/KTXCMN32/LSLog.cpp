// TLSLog: the safe log, a plain text file with one time-stamped line per
// event, and its seal.
//
// The seal lives in the log's settings key (HKEY_CURRENT_USER): the value
// "LogSeal" holds the sealed length (8 bytes, little-endian) followed by the
// HMAC-SHA256 of that length and the first sealed-length bytes of the log.
// The HMAC key is a random per-user secret, made at the first seal and kept
// by the user's data protection: the value "LogSealSecretProtected" holds
// what CryptProtectData made of it, and only CryptUnprotectData run as this
// user gives it back. Whoever can read or edit the settings, but cannot run
// code as the user, therefore cannot reseal an edited log.
//
// Lines appended after the seal are runs that ended without sealing (a
// cancelled open, for example) and are accepted. A log whose sealed part was
// changed or shortened gets a warning line, and so does a log whose seal is
// missing while a secret exists (secrets are made only to seal with, so the
// seal was removed). No seal and no secret is a first run.
//
// Earlier versions kept the secret in plain in "LogSealSecret". The first
// check after an update still checks the seal with it, then puts a new
// protected secret in its place, seals the part it found intact again under
// the new secret and deletes the plain one: a copy of the plain secret read
// from the settings before that seals nothing afterwards.
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstdarg>
#include <cstring>
#include <new>

#include "CmnPrivate.h"
#include "KTXCMN32.h"
#include "KTXLANG.h"
#include "LSStr.h"

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#endif

namespace {

constexpr DWORD kSecretSize = 32;
constexpr DWORD kHmacSize = 32;
constexpr DWORD kSealSize = 8 + kHmacSize;
constexpr const char* kSealValue = "LogSeal";
constexpr const char* kSecretValue = "LogSealSecretProtected";
constexpr const char* kPlainSecretValue = "LogSealSecret";  // earlier versions
// Far above what CryptProtectData makes of 32 bytes.
constexpr DWORD kMaxProtectedSize = 4096;
// Binds the protected secret to this use: data protection gives it back only with the same bytes.
constexpr char kEntropy[] = "vornix KTX safe log seal";

// An owned registry key.
class RegKey {
public:
    RegKey() = default;
    ~RegKey()
    {
        if (m_h) RegCloseKey(m_h);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* Out() { return &m_h; }
    HKEY Get() const { return m_h; }

private:
    HKEY m_h = nullptr;
};

// An owned file handle.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_h(h) {}
    ~FileHandle()
    {
        if (Valid()) CloseHandle(m_h);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

// The secret of the seal, wiped when it goes.
struct Secret {
    BYTE ab[kSecretSize];
    Secret() { SecureZeroMemory(ab, sizeof(ab)); }
    ~Secret() { SecureZeroMemory(ab, sizeof(ab)); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
};

DATA_BLOB EntropyBlob()
{
    DATA_BLOB blob;
    blob.cbData = sizeof(kEntropy) - 1;
    blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy));
    return blob;
}

// Where the secret of the seal lies.
enum class SecretSource { kNone, kProtected, kPlain };

// Reads the protected secret: ERROR_FILE_NOT_FOUND when there is none,
// ERROR_INVALID_DATA when it is there but does not open (changed, or made by
// another user).
LSTATUS LoadProtectedSecret(HKEY hKey, Secret* pSecret)
{
    BYTE abBlob[kMaxProtectedSize];
    DWORD dwType = 0, cb = sizeof(abBlob);
    LSTATUS st = RegQueryValueExA(hKey, kSecretValue, nullptr, &dwType, abBlob, &cb);
    if (st == ERROR_MORE_DATA || (st == ERROR_SUCCESS && dwType != REG_BINARY)) return ERROR_INVALID_DATA;
    if (st != ERROR_SUCCESS) return st;
    DATA_BLOB in;
    in.cbData = cb;
    in.pbData = abBlob;
    DATA_BLOB entropy = EntropyBlob();
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        LS_TRACE_LOG(nullptr, "TLSLog: the protected secret of the seal does not open (%lu)", GetLastError());
        return ERROR_INVALID_DATA;
    }
    st = out.cbData == kSecretSize ? ERROR_SUCCESS : ERROR_INVALID_DATA;
    if (st == ERROR_SUCCESS) CopyMemory(pSecret->ab, out.pbData, kSecretSize);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return st;
}

// Reads the plain secret of an earlier version: ERROR_FILE_NOT_FOUND when
// there is none, ERROR_INVALID_DATA when the value is not one.
LSTATUS LoadPlainSecret(HKEY hKey, Secret* pSecret)
{
    DWORD dwType = 0, cb = sizeof(pSecret->ab);
    LSTATUS st = RegQueryValueExA(hKey, kPlainSecretValue, nullptr, &dwType, pSecret->ab, &cb);
    if (st == ERROR_SUCCESS && dwType == REG_BINARY && cb == kSecretSize) return ERROR_SUCCESS;
    SecureZeroMemory(pSecret->ab, sizeof(pSecret->ab));
    if (st == ERROR_SUCCESS || st == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
    return st;
}

// The secret of the seal: the protected one, or else the plain one of an
// earlier version. *pSource says which one was read (also when it cannot be
// used); kNone comes with ERROR_FILE_NOT_FOUND.
LSTATUS LoadSecret(HKEY hKey, Secret* pSecret, SecretSource* pSource)
{
    *pSource = SecretSource::kProtected;
    LSTATUS st = LoadProtectedSecret(hKey, pSecret);
    if (st != ERROR_FILE_NOT_FOUND) return st;
    *pSource = SecretSource::kPlain;
    st = LoadPlainSecret(hKey, pSecret);
    if (st == ERROR_FILE_NOT_FOUND) *pSource = SecretSource::kNone;
    return st;
}

// Fills the secret with random bytes.
LSTATUS MakeSecret(Secret* pSecret)
{
    NTSTATUS nt = BCryptGenRandom(nullptr, pSecret->ab, kSecretSize, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    return NT_SUCCESS(nt) ? ERROR_SUCCESS : ERROR_INTERNAL_ERROR;
}

// Stores the secret as the user's data protection protects it.
LSTATUS StoreProtectedSecret(HKEY hKey, const Secret& secret)
{
    DATA_BLOB in;
    in.cbData = kSecretSize;
    in.pbData = const_cast<BYTE*>(secret.ab);
    DATA_BLOB entropy = EntropyBlob();
    DATA_BLOB out{};
    if (!CryptProtectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        DWORD dwCode = GetLastError();
        return dwCode != ERROR_SUCCESS ? static_cast<LSTATUS>(dwCode) : ERROR_INTERNAL_ERROR;
    }
    LSTATUS st = RegSetValueExA(hKey, kSecretValue, 0, REG_BINARY, out.pbData, out.cbData);
    LocalFree(out.pbData);
    return st;
}

// Deletes the plain secret of an earlier version; none is no failure.
LSTATUS RemovePlainSecret(HKEY hKey)
{
    LSTATUS st = RegDeleteValueA(hKey, kPlainSecretValue);
    return st == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : st;
}

// HMAC-SHA256 under the secret of the 8-byte length and the first ullLen
// bytes of the file. False (with the last error set) when the file holds
// fewer bytes or cannot be read.
bool HmacOfLog(HANDLE hFile, unsigned long long ullLen, const Secret& secret, BYTE* pbOut)
{
    BCRYPT_ALG_HANDLE hAlg = nullptr;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    bool bResult = NT_SUCCESS(BCryptOpenAlgorithmProvider(&hAlg, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                          BCRYPT_ALG_HANDLE_HMAC_FLAG));
    if (bResult)
        bResult = NT_SUCCESS(BCryptCreateHash(hAlg, &hHash, nullptr, 0, const_cast<BYTE*>(secret.ab), kSecretSize, 0));
    BYTE abLen[8];
    for (int i = 0; i < 8; ++i) abLen[i] = static_cast<BYTE>(ullLen >> (8 * i));
    if (bResult) bResult = NT_SUCCESS(BCryptHashData(hHash, abLen, sizeof(abLen), 0));
    if (!bResult) SetLastError(ERROR_INTERNAL_ERROR);

    // An empty sealed part needs no file (the log may not exist).
    LARGE_INTEGER liZero{};
    if (bResult && ullLen > 0) bResult = SetFilePointerEx(hFile, liZero, nullptr, FILE_BEGIN) != FALSE;
    static constexpr DWORD kChunk = 65536;
    BYTE* pbBuffer = bResult && ullLen > 0 ? new (std::nothrow) BYTE[kChunk] : nullptr;
    if (bResult && ullLen > 0 && !pbBuffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        bResult = false;
    }
    unsigned long long ullLeft = ullLen;
    while (bResult && ullLeft > 0) {
        DWORD dwWant = ullLeft < kChunk ? static_cast<DWORD>(ullLeft) : kChunk;
        DWORD dwGot = 0;
        bResult = ReadFile(hFile, pbBuffer, dwWant, &dwGot, nullptr) != FALSE;
        if (bResult && dwGot == 0) {
            SetLastError(ERROR_HANDLE_EOF);  // the log is shorter than the sealed length
            bResult = false;
        }
        if (bResult) bResult = NT_SUCCESS(BCryptHashData(hHash, pbBuffer, dwGot, 0));
        ullLeft -= dwGot;
    }
    if (bResult) bResult = NT_SUCCESS(BCryptFinishHash(hHash, pbOut, kHmacSize, 0));
    delete[] pbBuffer;
    if (hHash) BCryptDestroyHash(hHash);
    if (hAlg) BCryptCloseAlgorithmProvider(hAlg, 0);
    return bResult;
}

// Comparison whose time does not depend on where the first difference is.
bool EqualBytes(const BYTE* pA, const BYTE* pB, DWORD n)
{
    BYTE diff = 0;
    for (DWORD i = 0; i < n; ++i) diff |= static_cast<BYTE>(pA[i] ^ pB[i]);
    return diff == 0;
}

void PutLength(unsigned long long ullLen, BYTE* pbOut)
{
    for (int i = 0; i < 8; ++i) pbOut[i] = static_cast<BYTE>(ullLen >> (8 * i));
}

unsigned long long GetLength(const BYTE* pb)
{
    unsigned long long ullLen = 0;
    for (int i = 0; i < 8; ++i) ullLen |= static_cast<unsigned long long>(pb[i]) << (8 * i);
    return ullLen;
}

// Checks the seal against the log file under the secret: ERROR_SUCCESS when
// the sealed part is unchanged, otherwise what is wrong. With pNewSecret, a
// part found unchanged is also sealed again under that secret into
// pbNewSeal, from the same open file (*pbResealed tells whether it was).
DWORD VerifySeal(const char* pszFile, const BYTE* pbSeal, const Secret& secret, const Secret* pNewSecret,
                 BYTE* pbNewSeal, bool* pbResealed)
{
    if (pbResealed) *pbResealed = false;
    unsigned long long ullLen = GetLength(pbSeal);
    FileHandle file(CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD dwCode = ERROR_SUCCESS;
    if (!file.Valid()) {
        // A missing log is the shortest truncation of all, unless nothing was sealed.
        dwCode = GetLastError();
        if (ullLen == 0 && dwCode == ERROR_FILE_NOT_FOUND) dwCode = ERROR_SUCCESS;
    } else {
        LARGE_INTEGER liSize{};
        if (!GetFileSizeEx(file.Get(), &liSize) || static_cast<unsigned long long>(liSize.QuadPart) < ullLen)
            dwCode = ERROR_HANDLE_EOF;
    }
    BYTE abHmac[kHmacSize];
    if (dwCode == ERROR_SUCCESS) {
        if (!HmacOfLog(file.Get(), ullLen, secret, abHmac)) {
            dwCode = GetLastError();
            if (dwCode == ERROR_SUCCESS) dwCode = ERROR_INVALID_DATA;
        } else if (!EqualBytes(abHmac, pbSeal + 8, kHmacSize)) {
            dwCode = ERROR_INVALID_DATA;
        }
    }
    SecureZeroMemory(abHmac, sizeof(abHmac));
    if (dwCode == ERROR_SUCCESS && pNewSecret && pbNewSeal && pbResealed) {
        PutLength(ullLen, pbNewSeal);
        *pbResealed = HmacOfLog(file.Get(), ullLen, *pNewSecret, pbNewSeal + 8);
    }
    return dwCode;
}

}  // namespace

struct TLSLog::Impl {
    TLSOwner* pOwner = nullptr;
    char szFile[MAX_PATH] = {};
    char szKey[LS_PATH_SIZE] = {};
};

TLSLog::TLSLog(TLSOwner* pOwner) : m_pImpl(new (std::nothrow) Impl)
{
    if (m_pImpl) m_pImpl->pOwner = pOwner;
}

TLSLog::~TLSLog()
{
    delete m_pImpl;
}

bool TLSLog::Init(const char* pszFile, const char* pszKey, int /*nFlags*/)
{
    LS_TRACE_LOG(nullptr, "TLSLog::Init");
    if (!m_pImpl) return false;
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pImpl->pOwner);
    m_pImpl->szFile[0] = '\0';
    m_pImpl->szKey[0] = '\0';
    if (!pszFile || !*pszFile || !pszKey || !*pszKey) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSLog::Init failed!");
    }
    DWORD n = GetFullPathNameA(pszFile, sizeof(m_pImpl->szFile), m_pImpl->szFile, nullptr);
    bool bResult = n > 0 && n < sizeof(m_pImpl->szFile);
    // The settings key names the full path below HKEY_CURRENT_USER when it
    // starts with the settings root, and a key below the root otherwise.
    size_t nRoot = strlen(cmn32tools::kSettingsRoot);
    bool bFull = CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, pszKey,
                                static_cast<int>(strnlen(pszKey, nRoot)), cmn32tools::kSettingsRoot,
                                static_cast<int>(nRoot)) == CSTR_EQUAL &&
                 (pszKey[nRoot] == '\0' || pszKey[nRoot] == '\\');
    if (bResult) {
        bResult = bFull ? LSStrCopy(m_pImpl->szKey, sizeof(m_pImpl->szKey), pszKey)
                        : LSStrFormat(m_pImpl->szKey, sizeof(m_pImpl->szKey), "%s\\%s", cmn32tools::kSettingsRoot, pszKey);
        if (!bResult) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    } else if (n != 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    if (!bResult) {
        m_pImpl->szFile[0] = '\0';
        m_pImpl->szKey[0] = '\0';
    }
    return LS_DEF_ERROR(pErr, bResult, "TLSLog::Init failed!");
}

bool TLSLog::Msg(int /*nKind*/, const char* pszFormat, ...)
{
    if (!m_pImpl) return false;
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pImpl->pOwner);
    if (!m_pImpl->szFile[0] || !pszFormat) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSLog::Msg failed!");
    }
    // "YYYY-MM-DD hh:mm:ss " + text + CR LF
    char szLine[24 + LS_TEXT_SIZE + 2];
    SYSTEMTIME st;
    GetLocalTime(&st);
    LSStrFormat(szLine, sizeof(szLine), "%04u-%02u-%02u %02u:%02u:%02u  ", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond);
    size_t nStamp = strlen(szLine);
    va_list args;
    va_start(args, pszFormat);
    LSStrFormatV(szLine + nStamp, LS_TEXT_SIZE, pszFormat, args);
    va_end(args);
    // One call is one line: line breaks within the text become spaces.
    for (char* p = szLine + nStamp; *p; ++p) {
        if (*p == '\r' || *p == '\n') *p = ' ';
    }
    LSStrAppend(szLine, sizeof(szLine), "\r\n");

    // Appending only (the file pointer is ignored), and reading its last byte.
    const DWORD dwAccess = FILE_APPEND_DATA | FILE_READ_DATA;
    HANDLE h = CreateFileA(m_pImpl->szFile, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
        // The log's folder is made on first use.
        char szDir[MAX_PATH];
        LSStrCopy(szDir, sizeof(szDir), m_pImpl->szFile);
        char* pszSep = strrchr(szDir, '\\');
        if (pszSep) {
            *pszSep = '\0';
            TLSFile file(m_pImpl->pOwner);
            if (file.CreateDir(szDir))
                h = CreateFileA(m_pImpl->szFile, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        }
    }
    FileHandle file(h);
    if (!file.Valid()) return LS_DEF_ERROR(pErr, false, "TLSLog::Msg failed!");
    // A log that does not end with a line break (cut off, or written by hand)
    // gets one first, so the new line stands on its own.
    LARGE_INTEGER liSize{}, liLast{};
    char chLast = '\n';
    DWORD dwRead = 0;
    if (GetFileSizeEx(file.Get(), &liSize) && liSize.QuadPart > 0) {
        liLast.QuadPart = liSize.QuadPart - 1;
        if (!SetFilePointerEx(file.Get(), liLast, nullptr, FILE_BEGIN) ||
            !ReadFile(file.Get(), &chLast, 1, &dwRead, nullptr) || dwRead != 1)
            chLast = '\n';
    }
    const char* pszOut = szLine;
    char szBreakFirst[sizeof(szLine) + 2];
    if (chLast != '\n') {
        LSStrFormat(szBreakFirst, sizeof(szBreakFirst), "\r\n%s", szLine);
        pszOut = szBreakFirst;
    }
    DWORD dwLen = static_cast<DWORD>(strlen(pszOut));
    DWORD dwWritten = 0;
    bool bResult = WriteFile(file.Get(), pszOut, dwLen, &dwWritten, nullptr) && dwWritten == dwLen;
    return LS_DEF_ERROR(pErr, bResult, "TLSLog::Msg failed!");
}

const char* TLSLog::GetLogFilNam() const
{
    return m_pImpl ? m_pImpl->szFile : "";
}

bool TLSLog::WriteHash()
{
    LS_TRACE_LOG(nullptr, "TLSLog::WriteHash");
    if (!m_pImpl) return false;
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pImpl->pOwner);
    if (!m_pImpl->szFile[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSLog::WriteHash failed!");
    }
    // A log that does not exist yet is sealed as the empty log it is.
    FileHandle file(CreateFileA(m_pImpl->szFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return LS_DEF_ERROR(pErr, false, "TLSLog::WriteHash failed!");
    LARGE_INTEGER liSize{};
    if (!GetFileSizeEx(file.Get(), &liSize)) return LS_DEF_ERROR(pErr, false, "TLSLog::WriteHash failed!");

    RegKey key;
    LSTATUS st = RegCreateKeyExA(HKEY_CURRENT_USER, m_pImpl->szKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                 nullptr, key.Out(), nullptr);
    Secret secret;
    SecretSource source = SecretSource::kNone;
    if (st == ERROR_SUCCESS) {
        st = LoadSecret(key.Get(), &secret, &source);
        // No secret yet, one that does not open, or the plain one of an
        // earlier version: the seal gets a new protected secret (it covers the
        // whole log, so no earlier seal has to be carried over).
        if (st == ERROR_FILE_NOT_FOUND || st == ERROR_INVALID_DATA ||
            (st == ERROR_SUCCESS && source == SecretSource::kPlain)) {
            st = MakeSecret(&secret);
            if (st == ERROR_SUCCESS) st = StoreProtectedSecret(key.Get(), secret);
        }
    }
    if (st != ERROR_SUCCESS) return LS_DEF_ERROR_CODE(pErr, false, st, "TLSLog::WriteHash failed!");

    BYTE abSeal[kSealSize];
    unsigned long long ullLen = static_cast<unsigned long long>(liSize.QuadPart);
    PutLength(ullLen, abSeal);
    if (!HmacOfLog(file.Get(), ullLen, secret, abSeal + 8)) return LS_DEF_ERROR(pErr, false, "TLSLog::WriteHash failed!");
    st = RegSetValueExA(key.Get(), kSealValue, 0, REG_BINARY, abSeal, sizeof(abSeal));
    if (st == ERROR_SUCCESS) st = RemovePlainSecret(key.Get());
    return LS_DEF_ERROR_CODE(pErr, st == ERROR_SUCCESS, st, "TLSLog::WriteHash failed!");
}

bool TLSLog::CheckHash()
{
    LS_TRACE_LOG(nullptr, "TLSLog::CheckHash");
    if (!m_pImpl) return false;
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pImpl->pOwner);
    if (!m_pImpl->szFile[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSLog::CheckHash failed!");
    }

    // Writing is needed only to move the plain secret of an earlier version.
    RegKey key;
    LSTATUS st = RegOpenKeyExA(HKEY_CURRENT_USER, m_pImpl->szKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.Out());
    if (st == ERROR_ACCESS_DENIED) st = RegOpenKeyExA(HKEY_CURRENT_USER, m_pImpl->szKey, 0, KEY_QUERY_VALUE, key.Out());
    BYTE abSeal[kSealSize];
    DWORD dwType = 0, cb = sizeof(abSeal);
    LSTATUS stSeal = st;
    if (st == ERROR_SUCCESS) stSeal = RegQueryValueExA(key.Get(), kSealValue, nullptr, &dwType, abSeal, &cb);
    Secret secret;
    SecretSource source = SecretSource::kNone;
    LSTATUS stSecret = st;
    if (st == ERROR_SUCCESS) stSecret = LoadSecret(key.Get(), &secret, &source);
    // No seal and no secret: a first run, or every run so far was cancelled.
    // Nothing to check.
    if (stSeal == ERROR_FILE_NOT_FOUND && source == SecretSource::kNone) return true;

    // The plain secret of an earlier version is used for this check only: a
    // new secret takes its place, and a sealed part found intact is sealed
    // again under it.
    Secret newSecret;
    bool bMove = source == SecretSource::kPlain && MakeSecret(&newSecret) == ERROR_SUCCESS;
    BYTE abNewSeal[kSealSize];
    bool bResealed = false;

    DWORD dwCode = ERROR_SUCCESS;
    if (stSeal != ERROR_SUCCESS) {
        // A missing seal while a secret exists: the seal was removed.
        dwCode = stSeal == ERROR_MORE_DATA ? ERROR_INVALID_DATA : stSeal;
    } else if (dwType != REG_BINARY || cb != kSealSize) {
        dwCode = ERROR_INVALID_DATA;
    } else if (stSecret != ERROR_SUCCESS) {
        // A seal without a secret that opens cannot be checked.
        dwCode = stSecret;
    } else {
        dwCode = VerifySeal(m_pImpl->szFile, abSeal, secret, bMove ? &newSecret : nullptr, abNewSeal, &bResealed);
    }

    if (bMove) {
        // Should the run end between the two writes, the next start finds the
        // old seal under the new secret and warns once; the plain secret is
        // never trusted beside a protected one.
        LSTATUS stMove = StoreProtectedSecret(key.Get(), newSecret);
        if (stMove == ERROR_SUCCESS && bResealed)
            stMove = RegSetValueExA(key.Get(), kSealValue, 0, REG_BINARY, abNewSeal, sizeof(abNewSeal));
        if (stMove == ERROR_SUCCESS) stMove = RemovePlainSecret(key.Get());
        if (stMove != ERROR_SUCCESS)
            LS_TRACE_LOG(nullptr, "TLSLog::CheckHash: the plain secret was not replaced (%ld)", stMove);
    } else if (source == SecretSource::kProtected && st == ERROR_SUCCESS) {
        // A plain secret beside a protected one is a leftover (or planted): never used.
        RemovePlainSecret(key.Get());
    }
    if (dwCode == ERROR_SUCCESS) return true;

    // The sealed part was changed or cut, or its seal removed: say so in the log itself.
    Msg(LS_LOG_INFO, "%s", DLS_LOG_SEAL_DAMAGED());
    return LS_DEF_ERROR_CODE(pErr, false, dwCode, "TLSLog::CheckHash failed!");
}
