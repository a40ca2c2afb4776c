// A stand-in browser for the safe dialog's tests, registered as the program
// that opens web addresses and help pages:
//
//   safedlg_browser.exe <record file> <address>
//
// Writes its arguments after the record file, one a line, to the record file
// (written under another name first and then renamed, so a reader never sees
// half of it). Then shows a window of class "KTXTestBrowser" with the address
// as its caption, as a browser shows the page, until the window is closed
// (WM_CLOSE) or 60 seconds have passed.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

constexpr UINT_PTR kTimeoutTimer = 1;
constexpr UINT kTimeoutMs = 60000;

LRESULT CALLBACK BrowserProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CLOSE:
    case WM_TIMER:
        DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }
}

bool WriteRecord(const std::string& path, const std::string& text)
{
    const std::string temp = path + ".part";
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD cb = 0;
    const bool bWritten = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &cb, nullptr) &&
                          cb == text.size() && FlushFileBuffers(h);
    CloseHandle(h);
    return bWritten && MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    if (__argc < 3) return 2;
    std::string record;
    for (int i = 2; i < __argc; ++i) record += std::string(__argv[i]) + "\n";
    if (!WriteRecord(__argv[1], record)) return 3;

    WNDCLASSA wc = {};
    wc.lpfnWndProc = BrowserProc;
    wc.hInstance = hInstance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = "KTXTestBrowser";
    if (!RegisterClassA(&wc)) return 4;
    HWND hWnd = CreateWindowExA(0, wc.lpszClassName, __argv[2], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 900, 40, 320, 200,
                                nullptr, nullptr, hInstance, nullptr);
    if (!hWnd) return 5;
    SetTimer(hWnd, kTimeoutTimer, kTimeoutMs, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
