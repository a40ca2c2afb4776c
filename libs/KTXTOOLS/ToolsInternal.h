// Private helpers of the settings library: owning handle wrappers, the
// settings key, error recording and the guard every exported operation uses.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "KTXCMN32.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace ktxtools {

// ---------------------------------------------------------------------------
// Owning, move-only handles
// ---------------------------------------------------------------------------

// A kernel handle closed with CloseHandle (null and INVALID_HANDLE_VALUE are empty).
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() { Reset(); }
    Handle(Handle&& other) noexcept : m_h(other.Release()) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }
    HANDLE Release()
    {
        HANDLE h = m_h;
        m_h = nullptr;
        return h;
    }
    void Reset(HANDLE h = nullptr)
    {
        if (Valid()) ::CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h = nullptr;
};

// An open registry key.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Reset(); }
    RegKey(RegKey&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_h = std::exchange(other.m_h, nullptr);
        }
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens an existing key; the system error code on failure.
    LONG Open(HKEY hParent, const char* pszPath, REGSAM sam);
    // Opens or creates a key (with its missing parents).
    LONG Create(HKEY hParent, const char* pszPath, REGSAM sam);

    HKEY Get() const { return m_h; }
    void Reset()
    {
        if (m_h) ::RegCloseKey(m_h);
        m_h = nullptr;
    }

private:
    HKEY m_h = nullptr;
};

// ---------------------------------------------------------------------------
// Registry values. Every read refuses a value of the wrong type or size as if
// it were missing, so bad data never reaches a caller's buffer.
// ---------------------------------------------------------------------------
enum class RegRead { Ok, Missing, WrongType, TooLong };

// A REG_SZ value into a buffer of cap bytes (terminator included).
RegRead RegReadString(HKEY hKey, const char* pszName, char* pszOut, DWORD cap);
// A REG_DWORD value.
RegRead RegReadDword(HKEY hKey, const char* pszName, DWORD* pdwOut);
// A REG_BINARY value of exactly cb bytes.
RegRead RegReadBinary(HKEY hKey, const char* pszName, void* pOut, DWORD cb);

LONG RegWriteString(HKEY hKey, const char* pszName, const char* pszValue);
LONG RegWriteDword(HKEY hKey, const char* pszName, DWORD dwValue);
LONG RegWriteBinary(HKEY hKey, const char* pszName, const void* pData, DWORD cb);

// The system error code that stands for a failed read.
DWORD RegReadError(RegRead r);

// A subkey path below the settings root ("" for the root itself) joined to the
// root; false when the path is not a plain relative key path or is too long.
bool SettingsKeyPath(const char* pszSubKey, std::string* pPath);

// Opens (bCreate: creates) a key below the settings root of hRoot.
LONG OpenSettingsKey(HKEY hRoot, const char* pszSubKey, bool bCreate, REGSAM samExtra, RegKey* pKey);

// ---------------------------------------------------------------------------
// Folders and files
// ---------------------------------------------------------------------------

// %APPDATA%\vornix\KTX, created when missing (LS_PATH_SIZE buffer).
bool GetUserDataDir(char* pszOut, DWORD cap, DWORD* pdwErr);
// The folder holding this library (KTXTOOLS.DLL), without a trailing separator.
bool GetLibraryDir(char* pszOut, DWORD cap);
// The configured safe file (no error recorded); false when none is configured.
bool ReadConfiguredSafe(char* pszOut, DWORD cap);
// The path of the user's key file.
bool GetKeyFilePath(char* pszOut, DWORD cap, DWORD* pdwErr);

// True when the path names an existing file (not a folder).
bool FileExistsA(const char* pszPath);
// Size of an existing file; false when it cannot be read.
bool FileSizeA(const char* pszPath, unsigned long long* pSize);
// Reads a whole file of at most cbMax bytes; false (ERROR_FILE_TOO_LARGE) when bigger.
bool ReadWholeFile(const char* pszPath, size_t cbMax, std::string* pData, DWORD* pdwErr);
// Writes a file whole: a temporary file beside it, flushed, then moved into
// place. bReplace false refuses to replace an existing target
// (ERROR_FILE_EXISTS), so a file that appeared meanwhile is never overwritten.
bool WriteFileAtomic(const char* pszPath, const void* pData, size_t cb, bool bReplace, DWORD* pdwErr);
// Copies a file whole to a new place the same way; the copy is a plain file
// (no read-only, hidden or system mark).
bool CopyFileAtomic(const char* pszFrom, const char* pszTo, bool bReplace, DWORD* pdwErr);

// ---------------------------------------------------------------------------
// Error record
// ---------------------------------------------------------------------------

// Records a failure with the given system error code (the detail names the
// code's text, the source file and line) unless bResult is true. A failure
// leaves the recorded code (of the first failure since the record was
// cleared) as the thread's error code.
bool RecordResult(TLSOwner* pOwner, bool bResult, DWORD dwErr, const char* pszFile, int nLine,
                  const char* pszMessage);
#define KTX_RECORD(pOwner, bResult, dwErr, pszMessage) \
    ::ktxtools::RecordResult((pOwner), (bResult), (dwErr), __FILE__, __LINE__, (pszMessage))

// Records a failure whose detail is a text of the language library (a reason
// the user can act on), with the system error code that stands for it; the
// thread's error code as with KTX_RECORD.
bool RecordReasonAt(TLSOwner* pOwner, const char* pszReason, DWORD dwErr, const char* pszFile, int nLine,
                    const char* pszMessage);
#define KTX_REASON(pOwner, pszReason, dwErr, pszMessage) \
    ::ktxtools::RecordReasonAt((pOwner), (pszReason), (dwErr), __FILE__, __LINE__, (pszMessage))

// Runs an operation of the library: trace line, cleared error record, and no
// exception ever leaves (an exception counts as a failure).
template <typename Fn>
bool Guard(TLSOwner* pOwner, const char* pszName, const char* pszFailed, Fn&& fn)
{
    LS_TRACE_LOG(nullptr, "%s", pszName);
    ClearLSError(LSOwnerErr(pOwner));
    try {
        return fn();
    } catch (...) {
        return KTX_RECORD(pOwner, false, ERROR_NOT_ENOUGH_MEMORY, pszFailed);
    }
}

// ---------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------

// Case-insensitive comparison of ANSI texts.
bool EqualNoCase(const char* a, const char* b);
// True when p is a zero-terminated text within cap bytes.
bool IsTerminated(const char* p, size_t cap);

}  // namespace ktxtools
