// A reader of popup menus for tests that drive another process.
//
// A test hooks this library into the GUI thread of the program it drives
// (SetWindowsHookEx, WH_CALLWNDPROC, with this module). Each popup menu that
// thread is about to show (WM_INITMENUPOPUP) is read there, in the program's
// own process, and sent as text to the test's receiver window (a top-level
// window of class "KTXTestMenuReader") with WM_COPYDATA: one line per item,
// "-" for a separator, "(disabled)" appended to an item that cannot be
// chosen. The program's menu reaches the screen unchanged.
//
// A menu of another process cannot be read where the test runs: Wine keeps
// menus in the process that made them (GetMenuItemCount fails across
// processes there). Windows reads them across processes, and the hook works
// there as well.
#include <windows.h>

#include <string>

namespace {

constexpr char kReceiverClass[] = "KTXTestMenuReader";
// What the receiver's WM_COPYDATA carries.
constexpr ULONG_PTR kMenuReport = 0x4B4D4E55;   // "KMNU"

std::string ReadMenu(HMENU hMenu)
{
    std::string text;
    const int nCount = GetMenuItemCount(hMenu);
    for (int i = 0; i < nCount; ++i) {
        const UINT state = GetMenuState(hMenu, static_cast<UINT>(i), MF_BYPOSITION);
        std::string item;
        if (state & MF_SEPARATOR) {
            item = "-";
        } else {
            char sz[256] = {};
            GetMenuStringA(hMenu, static_cast<UINT>(i), sz, sizeof(sz), MF_BYPOSITION);
            item = sz;
            if (state & (MF_GRAYED | MF_DISABLED)) item += "(disabled)";
        }
        text += item + "\n";
    }
    return text;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK KtxMenuReaderProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HC_ACTION && lParam) {
        const CWPSTRUCT* pMsg = reinterpret_cast<const CWPSTRUCT*>(lParam);
        HWND hReceiver = pMsg->message == WM_INITMENUPOPUP ? FindWindowA(kReceiverClass, nullptr) : nullptr;
        if (hReceiver) {
            const std::string text = ReadMenu(reinterpret_cast<HMENU>(pMsg->wParam));
            COPYDATASTRUCT data = {};
            data.dwData = kMenuReport;
            data.cbData = static_cast<DWORD>(text.size() + 1);
            data.lpData = const_cast<char*>(text.c_str());
            DWORD_PTR dwResult = 0;
            SendMessageTimeoutA(hReceiver, WM_COPYDATA, reinterpret_cast<WPARAM>(pMsg->hwnd),
                                reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000, &dwResult);
        }
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}
