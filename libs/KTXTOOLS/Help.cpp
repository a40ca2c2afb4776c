// Help: our own HTML pages, one per topic and language, in the "help" folder
// beside this library (help\en\22.html, help\de\22.html, ...), opened with
// the shell's browser.
#include <windows.h>
#include <shellapi.h>

#include "KTXLANG.h"
#include "ToolsInternal.h"

using namespace ktxtools;

namespace {

bool HelpPage(const char* pszLang, int nTopic, char* pszOut, DWORD cap)
{
    char szDir[LS_PATH_SIZE];
    if (!GetLibraryDir(szDir, sizeof(szDir))) return false;
    return LSStrFormat(pszOut, cap, "%s\\help\\%s\\%d.html", szDir, pszLang, nTopic) && FileExistsA(pszOut);
}

}  // namespace

// Topics: 22 the safe dialog, 23 the password generator. bFlag is reserved.
bool TVornixReg::DoShowQOVHilfe(TLSOwner* pOwner, HWND hWnd, int nTopic, bool /*bFlag*/)
{
    static const char kFailed[] = "TVornixReg::DoShowQOVHilfe failed!";
    return Guard(pOwner, "TVornixReg::DoShowQOVHilfe", kFailed, [&] {
        if (nTopic != 22 && nTopic != 23) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        if (hWnd && !::IsWindow(hWnd)) hWnd = nullptr;
        // The page in the user's language, else the English one.
        char szPage[MAX_PATH];
        const char* pszLang = DLS_LANG_ID() == LS_LANG_GERMAN ? "de" : "en";
        if (!HelpPage(pszLang, nTopic, szPage, sizeof(szPage)) && !HelpPage("en", nTopic, szPage, sizeof(szPage)))
            return KTX_REASON(pOwner, DLS_HELP_MISSING(), ERROR_FILE_NOT_FOUND, kFailed);
        HINSTANCE hResult = ::ShellExecuteA(hWnd, "open", szPage, nullptr, nullptr, SW_SHOWNORMAL);
        INT_PTR nResult = reinterpret_cast<INT_PTR>(hResult);
        return KTX_RECORD(pOwner, nResult > 32, nResult > 32 ? 0 : static_cast<DWORD>(nResult), kFailed);
    });
}
