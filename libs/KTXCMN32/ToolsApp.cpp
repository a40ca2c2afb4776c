// TLSTools: process and window helpers.
#include <windows.h>

#include <cstring>

#include "KTXCMN32.h"
#include "LSStr.h"

namespace {

// The instance mutex stays open (and owned by this process) for its whole life.
HANDLE g_hInstanceMutex = nullptr;

}  // namespace

bool TLSTools::IsApplicationRun(const char* pszTitle)
{
    if (!pszTitle || !*pszTitle) return false;
    if (g_hInstanceMutex) return false;  // this process holds it already
    char szName[LS_PATH_SIZE];
    LSStrFormat(szName, sizeof(szName), "Local\\KTX.Instance.%s", pszTitle);
    for (char* p = szName + 6; *p; ++p) {
        if (*p == '\\') *p = '_';  // a backslash would name a namespace
    }
    HANDLE hMutex = CreateMutexA(nullptr, FALSE, szName);
    DWORD dwErr = GetLastError();
    if (!hMutex) return false;
    if (dwErr == ERROR_ALREADY_EXISTS) {
        CloseHandle(hMutex);
        return true;
    }
    g_hInstanceMutex = hMutex;
    return false;
}

bool TLSTools::BringWindowToTop(HWND hWnd)
{
    if (!hWnd || !IsWindow(hWnd)) return false;
    if (IsIconic(hWnd)) ShowWindow(hWnd, SW_RESTORE);
    ::BringWindowToTop(hWnd);
    SetForegroundWindow(hWnd);
    return true;
}

void TLSTools::LSSleep(DWORD dwMilliseconds)
{
    Sleep(dwMilliseconds);
}

const char* TLSTools::GetErrTxt(DWORD dwErrCode)
{
    static thread_local char s_szText[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwErrCode, 0,
                             s_szText, sizeof(s_szText), nullptr);
    if (n == 0) {
        LSStrFormat(s_szText, sizeof(s_szText), "Error %lu", static_cast<unsigned long>(dwErrCode));
        return s_szText;
    }
    // Drop the trailing line break and full stop spaces of system texts.
    while (n > 0 && (s_szText[n - 1] == '\r' || s_szText[n - 1] == '\n' || s_szText[n - 1] == ' ')) {
        s_szText[--n] = '\0';
    }
    return s_szText;
}
