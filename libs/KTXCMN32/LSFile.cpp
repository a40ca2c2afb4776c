// TLSFile: existence and size queries, folders, copying, moving, removing.
// Queries answer without recording anything; the operations record their
// failures in the owner's error record and never clear it (they are steps of
// the caller's operation chain).
#include <windows.h>

#include <cstring>

#include "CmnPrivate.h"
#include "KTXCMN32.h"
#include "LSStr.h"

namespace {

constexpr DWORD kProtectAttrs = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool IsSep(char c)
{
    return c == '\\' || c == '/';
}

// True when both names lead to the same place (compared as full paths).
bool SamePath(const char* pszA, const char* pszB)
{
    char szA[MAX_PATH], szB[MAX_PATH];
    DWORD nA = GetFullPathNameA(pszA, sizeof(szA), szA, nullptr);
    DWORD nB = GetFullPathNameA(pszB, sizeof(szB), szB, nullptr);
    if (nA == 0 || nA >= sizeof(szA) || nB == 0 || nB >= sizeof(szB)) return false;
    return lstrcmpiA(szA, szB) == 0;
}

// A target about to be replaced loses read-only, hidden and system, which
// would refuse the replacement; Restore() puts them back when it failed.
class TargetAttrs {
public:
    explicit TargetAttrs(const char* pszPath) : m_pszPath(pszPath)
    {
        DWORD dwAttrs = GetFileAttributesA(pszPath);
        if (dwAttrs != INVALID_FILE_ATTRIBUTES && !(dwAttrs & FILE_ATTRIBUTE_DIRECTORY) && (dwAttrs & kProtectAttrs)) {
            m_dwOld = dwAttrs;
            SetFileAttributesA(pszPath, dwAttrs & ~kProtectAttrs);
        }
    }
    void Restore()
    {
        if (m_dwOld == INVALID_FILE_ATTRIBUTES) return;
        DWORD dwErr = GetLastError();
        if (GetFileAttributesA(m_pszPath) != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(m_pszPath, m_dwOld);
        SetLastError(dwErr);
    }

private:
    const char* m_pszPath;
    DWORD m_dwOld = INVALID_FILE_ATTRIBUTES;
};

}  // namespace

TLSFile::TLSFile(TLSOwner* pOwner) : m_pOwner(pOwner) {}

TLSFile::~TLSFile() = default;

bool TLSFile::FileExists(TLSOwner* /*pOwner*/, const char* pszPath)
{
    if (!pszPath || !*pszPath) return false;
    DWORD dwAttrs = GetFileAttributesA(pszPath);
    return dwAttrs != INVALID_FILE_ATTRIBUTES && !(dwAttrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool TLSFile::DirExist(TLSOwner* /*pOwner*/, const char* pszPath)
{
    if (!pszPath || !*pszPath) return false;
    DWORD dwAttrs = GetFileAttributesA(pszPath);
    return dwAttrs != INVALID_FILE_ATTRIBUTES && (dwAttrs & FILE_ATTRIBUTE_DIRECTORY);
}

unsigned long long TLSFile::FileSize(TLSOwner* /*pOwner*/, const char* pszPath)
{
    if (!pszPath || !*pszPath) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(pszPath, GetFileExInfoStandard, &data)) return 0;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool TLSFile::CreateDir(const char* pszPath)
{
    LS_TRACE_LOG(nullptr, "TLSFile::CreateDir");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    if (!pszPath || !*pszPath || strnlen(pszPath, LS_PATH_SIZE) >= LS_PATH_SIZE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSFile::CreateDir failed!");
    }
    char szPath[LS_PATH_SIZE];
    LSStrCopy(szPath, sizeof(szPath), pszPath);
    size_t n = strlen(szPath);
    while (n > 1 && IsSep(szPath[n - 1]) && szPath[n - 2] != ':') szPath[--n] = '\0';
    if (DirExist(m_pOwner, szPath)) return true;

    // The first component that may be created: after "X:\", "\\server\share\" or "\".
    size_t nStart = 0;
    if (IsSep(szPath[0]) && IsSep(szPath[1])) {
        int nSeps = 0;
        for (nStart = 2; szPath[nStart]; ++nStart) {
            if (IsSep(szPath[nStart]) && ++nSeps == 2) break;
        }
    } else if (szPath[0] && szPath[1] == ':') {
        nStart = 2;
    }
    // Create each missing folder from the root down.
    for (size_t i = nStart + 1; i <= n; ++i) {
        if (i < n && !IsSep(szPath[i])) continue;
        char c = szPath[i];
        szPath[i] = '\0';
        if (!CreateDirectoryA(szPath, nullptr)) {
            DWORD dwErr = GetLastError();
            if (!DirExist(m_pOwner, szPath)) {
                SetLastError(dwErr == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : dwErr);
                return LS_DEF_ERROR(pErr, false, "TLSFile::CreateDir failed!");
            }
        }
        szPath[i] = c;
    }
    bool bResult = DirExist(m_pOwner, szPath);
    return LS_DEF_ERROR(pErr, bResult, "TLSFile::CreateDir failed!");
}

bool TLSFile::CpyFile(const char* pszFrom, const char* pszTo, LPPROGRESS_ROUTINE pfnProgress)
{
    LS_TRACE_LOG(nullptr, "TLSFile::CpyFile");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    if (!pszFrom || !*pszFrom || !pszTo || !*pszTo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSFile::CpyFile failed!");
    }
    if (SamePath(pszFrom, pszTo)) {
        // Copying a file onto itself would truncate it; it is already there.
        bool bResult = FileExists(m_pOwner, pszFrom);
        if (!bResult) SetLastError(ERROR_FILE_NOT_FOUND);
        return LS_DEF_ERROR(pErr, bResult, "TLSFile::CpyFile failed!");
    }
    TargetAttrs target(pszTo);
    BOOL bCancel = FALSE;
    bool bResult = CopyFileExA(pszFrom, pszTo, pfnProgress, nullptr, &bCancel, 0) != FALSE;
    if (!bResult) target.Restore();
    return LS_DEF_ERROR(pErr, bResult, "TLSFile::CpyFile failed!");
}

bool TLSFile::MovFile(const char* pszFrom, const char* pszTo, LPPROGRESS_ROUTINE pfnProgress)
{
    LS_TRACE_LOG(nullptr, "TLSFile::MovFile");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    if (!pszFrom || !*pszFrom || !pszTo || !*pszTo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSFile::MovFile failed!");
    }
    if (SamePath(pszFrom, pszTo)) {
        bool bResult = GetFileAttributesA(pszFrom) != INVALID_FILE_ATTRIBUTES;
        if (!bResult) SetLastError(ERROR_FILE_NOT_FOUND);
        return LS_DEF_ERROR(pErr, bResult, "TLSFile::MovFile failed!");
    }
    if (GetFileAttributesA(pszFrom) == INVALID_FILE_ATTRIBUTES) {
        // Checked first, so a missing source never touches the target.
        return LS_DEF_ERROR(pErr, false, "TLSFile::MovFile failed!");
    }
    TargetAttrs target(pszTo);
    bool bResult = MoveFileWithProgressA(pszFrom, pszTo, pfnProgress, nullptr,
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) !=
                   FALSE;
    if (!bResult) target.Restore();
    return LS_DEF_ERROR(pErr, bResult, "TLSFile::MovFile failed!");
}

bool TLSFile::RmvFile(const char* pszPath, DWORD /*dwFlags*/)
{
    LS_TRACE_LOG(nullptr, "TLSFile::RmvFile");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    if (!pszPath || !*pszPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSFile::RmvFile failed!");
    }
    DWORD dwAttrs = GetFileAttributesA(pszPath);
    if (dwAttrs == INVALID_FILE_ATTRIBUTES) {
        DWORD dwErr = GetLastError();
        // Nothing there: the file is gone, which is what was asked.
        if (dwErr == ERROR_FILE_NOT_FOUND || dwErr == ERROR_PATH_NOT_FOUND) return true;
        return LS_DEF_ERROR(pErr, false, "TLSFile::RmvFile failed!");
    }
    if (dwAttrs & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_ACCESS_DENIED);  // a folder is not removed as a file
        return LS_DEF_ERROR(pErr, false, "TLSFile::RmvFile failed!");
    }
    if (dwAttrs & kProtectAttrs) SetFileAttributesA(pszPath, dwAttrs & ~kProtectAttrs);
    bool bResult = DeleteFileA(pszPath) != FALSE;
    if (!bResult) {
        DWORD dwErr = GetLastError();
        if (dwAttrs & kProtectAttrs) SetFileAttributesA(pszPath, dwAttrs);
        SetLastError(dwErr);
    }
    return LS_DEF_ERROR(pErr, bResult, "TLSFile::RmvFile failed!");
}
