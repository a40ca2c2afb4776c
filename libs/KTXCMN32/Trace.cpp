// Trace lines. Off by default; KTX_TRACE=1 in the environment, or the DWORD
// value "Trace" = 1 under HKCU\software\vornix\KTX, turns them on. They go to
// KTXTrace.log in the user's data folder (%APPDATA%\vornix\KTX).
#include <windows.h>
#include <shlobj.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "KTXCMN32.h"
#include "LSStr.h"

namespace {

std::once_flag g_once;
bool g_bEnabled = false;
char g_szTraceFile[MAX_PATH];
CRITICAL_SECTION g_cs;

void InitTrace()
{
    InitializeCriticalSection(&g_cs);
    char szEnv[16];
    DWORD n = GetEnvironmentVariableA("KTX_TRACE", szEnv, sizeof(szEnv));
    if (n > 0 && n < sizeof(szEnv)) g_bEnabled = (szEnv[0] == '1');
    if (!g_bEnabled) {
        DWORD dwValue = 0, cb = sizeof(dwValue), dwType = 0;
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "software\\vornix\\KTX", 0, KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
            if (RegQueryValueExA(hKey, "Trace", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cb) ==
                    ERROR_SUCCESS && dwType == REG_DWORD)
                g_bEnabled = (dwValue == 1);
            RegCloseKey(hKey);
        }
    }
    if (!g_bEnabled) return;
    char szAppData[MAX_PATH];
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, szAppData))) {
        g_bEnabled = false;
        return;
    }
    char szDir[MAX_PATH];
    LSStrFormat(szDir, sizeof(szDir), "%s\\vornix", szAppData);
    CreateDirectoryA(szDir, nullptr);
    LSStrAppend(szDir, sizeof(szDir), "\\KTX");
    CreateDirectoryA(szDir, nullptr);
    if (!LSStrFormat(g_szTraceFile, sizeof(g_szTraceFile), "%s\\KTXTrace.log", szDir)) g_bEnabled = false;
}

}  // namespace

extern "C" KTXCMN32_API void LS_TRACE_LOG(void* /*pContext*/, const char* pszFormat, ...)
{
    if (!pszFormat) return;
    DWORD dwLastError = GetLastError();  // tracing must not disturb the caller's error code
    try {
        std::call_once(g_once, InitTrace);
    } catch (...) {
        SetLastError(dwLastError);
        return;
    }
    if (g_bEnabled) {
        char szLine[1024];
        SYSTEMTIME st;
        GetLocalTime(&st);
        int nPrefix = snprintf(szLine, sizeof(szLine), "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", st.wYear,
                               st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
                               static_cast<unsigned long>(GetCurrentThreadId()));
        if (nPrefix < 0 || nPrefix >= static_cast<int>(sizeof(szLine)) - 3) nPrefix = 0;
        // Room for the line break stays free: a long text is cut, the line still ends.
        va_list args;
        va_start(args, pszFormat);
        LSStrFormatV(szLine + nPrefix, sizeof(szLine) - 2 - nPrefix, pszFormat, args);
        va_end(args);
        // One trace call is one line: line breaks inside the text become spaces.
        for (char* p = szLine + nPrefix; *p; ++p) {
            if (*p == '\r' || *p == '\n') *p = ' ';
        }
        LSStrAppend(szLine, sizeof(szLine), "\r\n");
        EnterCriticalSection(&g_cs);
        HANDLE h = CreateFileA(g_szTraceFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD dwWritten = 0;
            WriteFile(h, szLine, static_cast<DWORD>(strlen(szLine)), &dwWritten, nullptr);
            CloseHandle(h);
        }
        LeaveCriticalSection(&g_cs);
    }
    SetLastError(dwLastError);
}
