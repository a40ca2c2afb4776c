// TVornixDyn: the shared dialogs of KTXDlg.DLL, loaded on first use and
// reached through its exports.
//
// The library is looked for in the folder of KTXCMN32.DLL, then in the folder
// of the program, never in the current directory or along PATH, and only by a
// plain file name. Once loaded it stays loaded for the life of the process:
// objects it hands out (the progress dialog) live in its code.
//
// A TVornixDyn binds its owner to the library it names; the static operations
// use the library bound to the owner they are given (KTXDlg.DLL by default).
#include <windows.h>

#include <cstring>

#include "CmnPrivate.h"
#include "KTXCMN32.h"
#include "KTXDlgExports.h"
#include "LSStr.h"

namespace {

struct LoadedDll {
    char szName[LS_PATH_SIZE];
    HMODULE hModule;
};

constexpr int kMaxDlls = 8;
LoadedDll g_aDlls[kMaxDlls];

CRITICAL_SECTION* DllLock()
{
    static struct Lock {
        CRITICAL_SECTION cs;
        Lock() { InitializeCriticalSection(&cs); }
    } s_lock;
    return &s_lock.cs;
}

bool IsPlainFileName(const char* pszName)
{
    if (!pszName || !*pszName || strnlen(pszName, LS_PATH_SIZE) >= LS_PATH_SIZE) return false;
    if (strcmp(pszName, ".") == 0 || strcmp(pszName, "..") == 0) return false;
    for (const char* p = pszName; *p; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') return false;
    }
    return true;
}

HMODULE LoadFrom(const char* pszFolder, const char* pszName)
{
    char szPath[MAX_PATH];
    if (!pszFolder[0] || !LSStrFormat(szPath, sizeof(szPath), "%s%s", pszFolder, pszName)) return nullptr;
    if (GetFileAttributesA(szPath) == INVALID_FILE_ATTRIBUTES) return nullptr;
    // Its own dependencies are looked for beside it first.
    return LoadLibraryExA(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The loaded library, or null with *pdwErr telling why.
HMODULE LoadDialogDll(const char* pszName, DWORD* pdwErr)
{
    *pdwErr = ERROR_SUCCESS;
    if (!IsPlainFileName(pszName)) {
        *pdwErr = ERROR_INVALID_NAME;
        return nullptr;
    }
    EnterCriticalSection(DllLock());
    HMODULE hModule = nullptr;
    int nFree = -1;
    for (int i = 0; i < kMaxDlls && !hModule; ++i) {
        if (!g_aDlls[i].hModule) {
            if (nFree < 0) nFree = i;
        } else if (lstrcmpiA(g_aDlls[i].szName, pszName) == 0) {
            hModule = g_aDlls[i].hModule;
        }
    }
    if (!hModule) {
        char szFolder[MAX_PATH];
        cmn32tools::SelfFolder(szFolder, sizeof(szFolder));
        hModule = LoadFrom(szFolder, pszName);
        DWORD dwErr = hModule ? ERROR_SUCCESS : GetLastError();
        if (!hModule) {
            char szExe[MAX_PATH];
            DWORD n = GetModuleFileNameA(nullptr, szExe, sizeof(szExe));
            char* pszSep = (n > 0 && n < sizeof(szExe)) ? strrchr(szExe, '\\') : nullptr;
            if (pszSep) {
                pszSep[1] = '\0';
                if (lstrcmpiA(szExe, szFolder) != 0) {
                    hModule = LoadFrom(szExe, pszName);
                    if (!hModule && GetLastError() != ERROR_SUCCESS) dwErr = GetLastError();
                }
            }
        }
        if (!hModule) {
            *pdwErr = (dwErr == ERROR_SUCCESS || dwErr == ERROR_FILE_NOT_FOUND) ? ERROR_MOD_NOT_FOUND : dwErr;
        } else if (nFree >= 0) {
            LSStrCopy(g_aDlls[nFree].szName, sizeof(g_aDlls[nFree].szName), pszName);
            g_aDlls[nFree].hModule = hModule;
        }
    }
    LeaveCriticalSection(DllLock());
    return hModule;
}

// The export of the owner's (or the given) library, or null with the reason
// recorded in the owner's error record under the operation's failure text.
FARPROC Export(TLSOwner* pOwner, const char* pszDll, const char* pszExport, const char* pszFailure)
{
    char szDll[LS_PATH_SIZE];
    if (pszDll)
        LSStrCopy(szDll, sizeof(szDll), pszDll);
    else
        cmn32tools::GetDialogDll(pOwner, szDll, sizeof(szDll));
    DWORD dwErr = ERROR_SUCCESS;
    HMODULE hModule = LoadDialogDll(szDll, &dwErr);
    if (!hModule) {
        LS_DEF_ERROR_CODE(LSOwnerErr(pOwner), false, dwErr, pszFailure);
        return nullptr;
    }
    FARPROC pfn = GetProcAddress(hModule, pszExport);
    if (!pfn) LS_DEF_ERROR_CODE(LSOwnerErr(pOwner), false, ERROR_PROC_NOT_FOUND, pszFailure);
    return pfn;
}

template <typename Fn>
Fn ExportAs(TLSOwner* pOwner, const char* pszDll, const char* pszExport, const char* pszFailure)
{
    return reinterpret_cast<Fn>(Export(pOwner, pszDll, pszExport, pszFailure));
}

// An exception out of the dialog library stops here.
void RecordThrow(TLSOwner* pOwner, const char* pszFailure)
{
    LS_DEF_ERROR_CODE(LSOwnerErr(pOwner), false, ERROR_INTERNAL_ERROR, pszFailure);
}

}  // namespace

TVornixDyn::TVornixDyn(TLSOwner* pOwner, const char* pszDll) : m_pOwner(pOwner)
{
    LSStrCopy(m_szDll, sizeof(m_szDll), (pszDll && *pszDll) ? pszDll : cmn32tools::kDefaultDialogDll);
    cmn32tools::SetDialogDll(pOwner, m_szDll);
}

TVornixDyn::~TVornixDyn() = default;

bool TVornixDyn::DYN_DoInputPassword(TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize, bool* pbCancel)
{
    LS_TRACE_LOG(nullptr, "TVornixDyn::DYN_DoInputPassword");
    static const char* const kFailure = "TVornixDyn::DYN_DoInputPassword failed!";
    try {
        auto pfn = ExportAs<PFN_DYN_DoInputPassword>(pOwner, nullptr, KTXDLG_EXPORT_INPUTPASSWORD, kFailure);
        return pfn ? pfn(pOwner, hParent, pszOut, dwSize, pbCancel) : false;
    } catch (...) {
        RecordThrow(pOwner, kFailure);
        return false;
    }
}

bool TVornixDyn::DYN_DoInputPasswordChange(TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize,
                                           bool* pbCancel)
{
    LS_TRACE_LOG(nullptr, "TVornixDyn::DYN_DoInputPasswordChange");
    static const char* const kFailure = "TVornixDyn::DYN_DoInputPasswordChange failed!";
    try {
        auto pfn =
            ExportAs<PFN_DYN_DoInputPasswordChange>(pOwner, nullptr, KTXDLG_EXPORT_INPUTPASSWORDCHANGE, kFailure);
        return pfn ? pfn(pOwner, hParent, pszOut, dwSize, pbCancel) : false;
    } catch (...) {
        RecordThrow(pOwner, kFailure);
        return false;
    }
}

int TVornixDyn::DYN_DoInputImportSave(TLSOwner* pOwner, HWND hParent, int nMode, const char* pszImportText,
                                      const char* pszExportText)
{
    LS_TRACE_LOG(nullptr, "TVornixDyn::DYN_DoInputImportSave");
    static const char* const kFailure = "TVornixDyn::DYN_DoInputImportSave failed!";
    try {
        auto pfn = ExportAs<PFN_DYN_DoInputImportSave>(pOwner, nullptr, KTXDLG_EXPORT_INPUTIMPORTSAVE, kFailure);
        return pfn ? pfn(pOwner, hParent, nMode, pszImportText, pszExportText) : 0;
    } catch (...) {
        RecordThrow(pOwner, kFailure);
        return 0;
    }
}

bool TVornixDyn::DYN_DoShowAbout(TLSOwner* pOwner, HWND hParent, const char* pszText)
{
    LS_TRACE_LOG(nullptr, "TVornixDyn::DYN_DoShowAbout");
    static const char* const kFailure = "TVornixDyn::DYN_DoShowAbout failed!";
    try {
        auto pfn = ExportAs<PFN_DYN_DoShowAbout>(pOwner, nullptr, KTXDLG_EXPORT_SHOWABOUT, kFailure);
        return pfn ? pfn(pOwner, hParent, pszText) : false;
    } catch (...) {
        RecordThrow(pOwner, kFailure);
        return false;
    }
}

TLSProgressDlg* TVornixDyn::DYN_DoGetFrmDlgProgress(TLSOwner* pOwner, HWND hParent)
{
    LS_TRACE_LOG(nullptr, "TVornixDyn::DYN_DoGetFrmDlgProgress");
    static const char* const kFailure = "TVornixDyn::DYN_DoGetFrmDlgProgress failed!";
    try {
        auto pfn = ExportAs<PFN_DYN_DoGetFrmDlgProgress>(pOwner, m_szDll, KTXDLG_EXPORT_GETFRMDLGPROGRESS, kFailure);
        return pfn ? pfn(pOwner, hParent) : nullptr;
    } catch (...) {
        RecordThrow(pOwner, kFailure);
        return nullptr;
    }
}

bool TVornixDyn::DYN_DoFreeFrmDlgProgress(TLSProgressDlg* pProgress)
{
    LS_TRACE_LOG(nullptr, "TVornixDyn::DYN_DoFreeFrmDlgProgress");
    static const char* const kFailure = "TVornixDyn::DYN_DoFreeFrmDlgProgress failed!";
    if (!pProgress) return true;  // nothing to free
    try {
        auto pfn =
            ExportAs<PFN_DYN_DoFreeFrmDlgProgress>(m_pOwner, m_szDll, KTXDLG_EXPORT_FREEFRMDLGPROGRESS, kFailure);
        return pfn ? pfn(pProgress) : false;
    } catch (...) {
        RecordThrow(m_pOwner, kFailure);
        return false;
    }
}

bool TVornixDyn::DYN_DoInputDlgCertificateMgr(TLSOwner* pOwner, HWND hParent, TLSCryptCert** ppCerts, int* pnCount,
                                              const char* pszStore, int nMode, bool* pbCancel)
{
    LS_TRACE_LOG(nullptr, "TVornixDyn::DYN_DoInputDlgCertificateMgr");
    static const char* const kFailure = "TVornixDyn::DYN_DoInputDlgCertificateMgr failed!";
    try {
        auto pfn =
            ExportAs<PFN_DYN_DoInputDlgCertificateMgr>(pOwner, m_szDll, KTXDLG_EXPORT_CERTIFICATEMGR, kFailure);
        return pfn ? pfn(pOwner, hParent, ppCerts, pnCount, pszStore, nMode, pbCancel) : false;
    } catch (...) {
        RecordThrow(pOwner, kFailure);
        return false;
    }
}

bool TVornixDyn::DYN_DoFreeMgrCertificates(TLSCryptCert* pCerts)
{
    LS_TRACE_LOG(nullptr, "TVornixDyn::DYN_DoFreeMgrCertificates");
    static const char* const kFailure = "TVornixDyn::DYN_DoFreeMgrCertificates failed!";
    if (!pCerts) return true;  // nothing to free
    try {
        auto pfn =
            ExportAs<PFN_DYN_DoFreeMgrCertificates>(m_pOwner, m_szDll, KTXDLG_EXPORT_FREEMGRCERTIFICATES, kFailure);
        return pfn ? pfn(pCerts) : false;
    } catch (...) {
        RecordThrow(m_pOwner, kFailure);
        return false;
    }
}
