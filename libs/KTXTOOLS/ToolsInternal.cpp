// Private helpers of the settings library: registry values, folders, whole
// files written atomically, and the error record.
#include "ToolsInternal.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace ktxtools {

namespace {

// Registry values larger than this are never read into memory.
constexpr DWORD kMaxRegValue = 64 * 1024;

const char* FileNamePart(const char* pszPath)
{
    const char* pszName = pszPath ? pszPath : "";
    for (const char* p = pszName; *p; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') pszName = p + 1;
    }
    return pszName;
}

}  // namespace

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

LONG RegKey::Open(HKEY hParent, const char* pszPath, REGSAM sam)
{
    Reset();
    return ::RegOpenKeyExA(hParent, pszPath, 0, sam, &m_h);
}

LONG RegKey::Create(HKEY hParent, const char* pszPath, REGSAM sam)
{
    Reset();
    return ::RegCreateKeyExA(hParent, pszPath, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &m_h, nullptr);
}

RegRead RegReadString(HKEY hKey, const char* pszName, char* pszOut, DWORD cap)
{
    if (pszOut && cap > 0) pszOut[0] = '\0';
    if (!hKey || !pszOut || cap == 0) return RegRead::Missing;
    DWORD dwType = 0, cb = 0;
    LONG r = ::RegQueryValueExA(hKey, pszName, nullptr, &dwType, nullptr, &cb);
    if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) return RegRead::Missing;
    if (dwType != REG_SZ) return RegRead::WrongType;
    if (cb > kMaxRegValue) return RegRead::TooLong;
    std::vector<char> buf(cb + 2, '\0');
    DWORD cbRead = cb;
    r = ::RegQueryValueExA(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(buf.data()), &cbRead);
    if (r == ERROR_MORE_DATA) return RegRead::TooLong;  // grew in between
    if (r != ERROR_SUCCESS) return RegRead::Missing;
    if (dwType != REG_SZ) return RegRead::WrongType;
    size_t len = strnlen(buf.data(), cbRead);
    if (len >= cap) return RegRead::TooLong;
    memcpy(pszOut, buf.data(), len);
    pszOut[len] = '\0';
    return RegRead::Ok;
}

RegRead RegReadDword(HKEY hKey, const char* pszName, DWORD* pdwOut)
{
    if (!hKey || !pdwOut) return RegRead::Missing;
    DWORD dwType = 0, dwValue = 0, cb = sizeof(dwValue);
    LONG r = ::RegQueryValueExA(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cb);
    if (r == ERROR_MORE_DATA) return dwType == REG_DWORD ? RegRead::TooLong : RegRead::WrongType;
    if (r != ERROR_SUCCESS) return RegRead::Missing;
    if (dwType != REG_DWORD) return RegRead::WrongType;
    if (cb != sizeof(dwValue)) return RegRead::TooLong;
    *pdwOut = dwValue;
    return RegRead::Ok;
}

RegRead RegReadBinary(HKEY hKey, const char* pszName, void* pOut, DWORD cb)
{
    if (!hKey || !pOut) return RegRead::Missing;
    DWORD dwType = 0, cbSize = 0;
    LONG r = ::RegQueryValueExA(hKey, pszName, nullptr, &dwType, nullptr, &cbSize);
    if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) return RegRead::Missing;
    if (dwType != REG_BINARY) return RegRead::WrongType;
    if (cbSize != cb) return RegRead::TooLong;
    DWORD cbRead = cb;
    r = ::RegQueryValueExA(hKey, pszName, nullptr, &dwType, static_cast<BYTE*>(pOut), &cbRead);
    if (r == ERROR_MORE_DATA) return RegRead::TooLong;
    if (r != ERROR_SUCCESS) return RegRead::Missing;
    if (dwType != REG_BINARY) return RegRead::WrongType;
    if (cbRead != cb) return RegRead::TooLong;
    return RegRead::Ok;
}

LONG RegWriteString(HKEY hKey, const char* pszName, const char* pszValue)
{
    size_t len = strlen(pszValue);
    if (len >= kMaxRegValue) return ERROR_INVALID_PARAMETER;
    return ::RegSetValueExA(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue),
                            static_cast<DWORD>(len + 1));
}

LONG RegWriteDword(HKEY hKey, const char* pszName, DWORD dwValue)
{
    return ::RegSetValueExA(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
}

LONG RegWriteBinary(HKEY hKey, const char* pszName, const void* pData, DWORD cb)
{
    return ::RegSetValueExA(hKey, pszName, 0, REG_BINARY, static_cast<const BYTE*>(pData), cb);
}

DWORD RegReadError(RegRead r)
{
    switch (r) {
    case RegRead::Ok:        return ERROR_SUCCESS;
    case RegRead::Missing:   return ERROR_FILE_NOT_FOUND;
    case RegRead::WrongType: return ERROR_DATATYPE_MISMATCH;
    case RegRead::TooLong:   return ERROR_INSUFFICIENT_BUFFER;
    }
    return ERROR_INVALID_DATA;
}

bool SettingsKeyPath(const char* pszSubKey, std::string* pPath)
{
    std::string path = LS_SETTINGS_ROOT;
    if (pszSubKey && *pszSubKey) {
        size_t len = strnlen(pszSubKey, 256);
        if (len >= 256) return false;
        // A relative path of non-empty names: no leading, trailing or doubled separator.
        if (pszSubKey[0] == '\\' || pszSubKey[len - 1] == '\\') return false;
        for (size_t i = 0; i < len; ++i) {
            unsigned char c = static_cast<unsigned char>(pszSubKey[i]);
            if (c < 0x20) return false;
            if (c == '\\' && pszSubKey[i + 1] == '\\') return false;
        }
        path += '\\';
        path.append(pszSubKey, len);
    }
    if (path.size() > 255) return false;
    *pPath = path;
    return true;
}

LONG OpenSettingsKey(HKEY hRoot, const char* pszSubKey, bool bCreate, REGSAM samExtra, RegKey* pKey)
{
    if (hRoot != HKEY_CURRENT_USER && hRoot != HKEY_LOCAL_MACHINE) return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!SettingsKeyPath(pszSubKey, &path)) return ERROR_INVALID_PARAMETER;
    if (bCreate) return pKey->Create(hRoot, path.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE | samExtra);
    return pKey->Open(hRoot, path.c_str(), KEY_QUERY_VALUE | samExtra);
}

// ---------------------------------------------------------------------------
// Folders and files
// ---------------------------------------------------------------------------

bool GetUserDataDir(char* pszOut, DWORD cap, DWORD* pdwErr)
{
    DWORD dwDummy = 0;
    DWORD& dwErr = pdwErr ? *pdwErr : dwDummy;
    if (pszOut && cap > 0) pszOut[0] = '\0';
    if (!pszOut || cap == 0) {
        dwErr = ERROR_INVALID_PARAMETER;
        return false;
    }
    char szAppData[MAX_PATH];
    HRESULT hr = ::SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                    szAppData);
    if (FAILED(hr)) {
        dwErr = HRESULT_CODE(hr) ? static_cast<DWORD>(HRESULT_CODE(hr)) : ERROR_PATH_NOT_FOUND;
        return false;
    }
    char szDir[LS_PATH_SIZE];
    if (!LSStrFormat(szDir, sizeof(szDir), "%s\\vornix", szAppData)) {
        dwErr = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    ::CreateDirectoryA(szDir, nullptr);
    if (!LSStrAppend(szDir, sizeof(szDir), "\\KTX") || strlen(szDir) >= cap) {
        dwErr = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    if (!::CreateDirectoryA(szDir, nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        dwErr = ::GetLastError();
        return false;
    }
    DWORD dwAttr = ::GetFileAttributesA(szDir);
    if (dwAttr == INVALID_FILE_ATTRIBUTES || !(dwAttr & FILE_ATTRIBUTE_DIRECTORY)) {
        dwErr = ERROR_PATH_NOT_FOUND;
        return false;
    }
    LSStrCopy(pszOut, cap, szDir);
    return true;
}

bool GetLibraryDir(char* pszOut, DWORD cap)
{
    HMODULE hModule = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&GetLibraryDir), &hModule))
        return false;
    char szPath[MAX_PATH + 1];
    DWORD n = ::GetModuleFileNameA(hModule, szPath, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return false;
    char* pSlash = strrchr(szPath, '\\');
    if (!pSlash) return false;
    *pSlash = '\0';
    return LSStrCopy(pszOut, cap, szPath);
}

bool ReadConfiguredSafe(char* pszOut, DWORD cap)
{
    RegKey key;
    if (OpenSettingsKey(HKEY_CURRENT_USER, "", false, 0, &key) != ERROR_SUCCESS) return false;
    return RegReadString(key.Get(), "SafeFile", pszOut, cap) == RegRead::Ok && pszOut[0] != '\0';
}

bool GetKeyFilePath(char* pszOut, DWORD cap, DWORD* pdwErr)
{
    char szDir[LS_PATH_SIZE];
    if (!GetUserDataDir(szDir, sizeof(szDir), pdwErr)) return false;
    if (!LSStrFormat(pszOut, cap, "%s\\KTSafe.key", szDir)) {
        if (pdwErr) *pdwErr = ERROR_FILENAME_EXCED_RANGE;
        pszOut[0] = '\0';
        return false;
    }
    return true;
}

bool FileExistsA(const char* pszPath)
{
    if (!pszPath || !*pszPath) return false;
    DWORD dwAttr = ::GetFileAttributesA(pszPath);
    return dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileSizeA(const char* pszPath, unsigned long long* pSize)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(pszPath, GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    *pSize = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool ReadWholeFile(const char* pszPath, size_t cbMax, std::string* pData, DWORD* pdwErr)
{
    pData->clear();
    Handle file(::CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        *pdwErr = ::GetLastError();
        return false;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.Get(), &size)) {
        *pdwErr = ::GetLastError();
        return false;
    }
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > cbMax) {
        *pdwErr = ERROR_FILE_TOO_LARGE;
        return false;
    }
    pData->resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < pData->size()) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(std::min<size_t>(pData->size() - done, 1u << 20));
        if (!::ReadFile(file.Get(), &(*pData)[done], want, &got, nullptr)) {
            *pdwErr = ::GetLastError();
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    pData->resize(done);
    return true;
}

namespace {

bool TempNameBeside(const char* pszPath, std::string* pTemp)
{
    static volatile LONG s_nCounter = 0;
    char szTemp[MAX_PATH];
    if (!LSStrFormat(szTemp, sizeof(szTemp), "%s.%lu-%ld.tmp", pszPath,
                     static_cast<unsigned long>(::GetCurrentProcessId()), ::InterlockedIncrement(&s_nCounter)))
        return false;
    *pTemp = szTemp;
    return true;
}

// Flushes an existing file to disk.
bool FlushFile(const char* pszPath, DWORD* pdwErr)
{
    Handle file(::CreateFileA(pszPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid() || !::FlushFileBuffers(file.Get())) {
        *pdwErr = ::GetLastError();
        return false;
    }
    return true;
}

bool MoveIntoPlace(const std::string& temp, const char* pszPath, bool bReplace, DWORD* pdwErr)
{
    DWORD dwFlags = MOVEFILE_WRITE_THROUGH | (bReplace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExA(temp.c_str(), pszPath, dwFlags)) {
        *pdwErr = ::GetLastError();
        if (*pdwErr == ERROR_ALREADY_EXISTS) *pdwErr = ERROR_FILE_EXISTS;
        ::DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool WriteFileAtomic(const char* pszPath, const void* pData, size_t cb, bool bReplace, DWORD* pdwErr)
{
    std::string temp;
    if (!TempNameBeside(pszPath, &temp)) {
        *pdwErr = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    {
        Handle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
        if (!file.Valid()) {
            *pdwErr = ::GetLastError();
            return false;
        }
        const char* p = static_cast<const char*>(pData);
        size_t done = 0;
        bool ok = true;
        while (ok && done < cb) {
            DWORD put = 0;
            DWORD want = static_cast<DWORD>(std::min<size_t>(cb - done, 1u << 20));
            ok = ::WriteFile(file.Get(), p + done, want, &put, nullptr) && put == want;
            done += put;
        }
        if (ok) ok = ::FlushFileBuffers(file.Get()) != FALSE;
        if (!ok) {
            *pdwErr = ::GetLastError() ? ::GetLastError() : ERROR_WRITE_FAULT;
            file.Reset();
            ::DeleteFileA(temp.c_str());
            return false;
        }
    }
    if (!bReplace && FileExistsA(pszPath)) {
        ::DeleteFileA(temp.c_str());
        *pdwErr = ERROR_FILE_EXISTS;
        return false;
    }
    return MoveIntoPlace(temp, pszPath, bReplace, pdwErr);
}

bool CopyFileAtomic(const char* pszFrom, const char* pszTo, bool bReplace, DWORD* pdwErr)
{
    std::string temp;
    if (!TempNameBeside(pszTo, &temp)) {
        *pdwErr = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    if (!::CopyFileA(pszFrom, temp.c_str(), TRUE)) {
        *pdwErr = ::GetLastError();
        return false;
    }
    // The copy carries no read-only, hidden or system mark of its source.
    ::SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!FlushFile(temp.c_str(), pdwErr)) {
        ::DeleteFileA(temp.c_str());
        return false;
    }
    return MoveIntoPlace(temp, pszTo, bReplace, pdwErr);
}

// ---------------------------------------------------------------------------
// Error record
// ---------------------------------------------------------------------------

namespace {

// A failure leaves the code of the record as the thread's error code, as a
// failing system call does: the codes recorded here mostly come from registry
// answers or the library's own checks, which never set it.
void LeaveRecordedCode(const tag_TLSErrHandler* pErr, DWORD dwErr)
{
    ::SetLastError(pErr && pErr->bFailed ? pErr->dwErrCode : dwErr);
}

}  // namespace

bool RecordResult(TLSOwner* pOwner, bool bResult, DWORD dwErr, const char* pszFile, int nLine,
                  const char* pszMessage)
{
    tag_TLSErrHandler* pErr = LSOwnerErr(pOwner);
    LSAddDefErrorAt(pErr, bResult, dwErr, pszFile, nLine, pszMessage);
    if (!bResult) LeaveRecordedCode(pErr, dwErr);
    return bResult;
}

bool RecordReasonAt(TLSOwner* pOwner, const char* pszReason, DWORD dwErr, const char* pszFile, int nLine,
                    const char* pszMessage)
{
    tag_TLSErrHandler* pErr = LSOwnerErr(pOwner);
    if (pErr) {
        const char* pszName = FileNamePart(pszFile);
        if (!pErr->bFailed) LSStrCopy(pErr->szSrcFile, sizeof(pErr->szSrcFile), pszName);
        char szDetail[LS_TEXT_SIZE];
        LSStrFormat(szDetail, sizeof(szDetail), "%s [%d %s %d]", pszReason ? pszReason : "",
                    static_cast<int>(dwErr), pszName, nLine);
        AddDefError(pErr, false, szDetail, dwErr, pszMessage);
    }
    LeaveRecordedCode(pErr, dwErr);
    return false;
}

// ---------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------

bool EqualNoCase(const char* a, const char* b)
{
    if (!a || !b) return a == b;
    return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

bool IsTerminated(const char* p, size_t cap)
{
    return p && memchr(p, '\0', cap) != nullptr;
}

}  // namespace ktxtools
