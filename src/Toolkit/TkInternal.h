// Helpers shared by the toolkit's sources (not part of the public API).
#pragma once

#include <windows.h>

#include <string>

#include "TkCore.h"

namespace tk_internal {

// Initialises the common controls once per module.
void EnsureCommonControls();
// Registers a toolkit window class of this module (once per name) whose
// window procedure is pfnWndProc.
bool RegisterToolkitClass(const char* pszClassName, WNDPROC pfnWndProc, UINT style);
// The window property that holds a window's toolkit object (one name per
// module, so a module never takes another module's object for its own).
const char* ObjectPropertyName();
// A fresh control id for a child window (never IDOK .. IDCONTINUE).
int NextControlId();
// The message-only window of this module that carries timers and posted
// requests; created by the GUI thread on first use.
HWND UtilityWindow();
// Remembers the utility window, so the module can destroy it when it is
// unloaded (a DLL's window procedure must not outlive the DLL).
void SetModuleUtilityWindow(HWND hWnd);
// Private messages of the toolkit (WM_APP range is left to the program).
enum : UINT {
    TKM_TIMER_APPLY = WM_USER + 0x300,   // wParam: timer id
};
// Text of a system error code.
std::string SystemErrorText(DWORD dwCode);
// Converts lone LF to CR LF.
std::string NormalizeNewlines(const std::string& text);

}  // namespace tk_internal
