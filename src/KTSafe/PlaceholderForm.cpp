#include "PlaceholderForm.h"

#include <cstring>

#include "KTXLANG.h"

namespace {
const char kClassName[] = "TfrmDoSafe";
}

TLSPlaceholderForm::~TLSPlaceholderForm()
{
    if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

bool TLSPlaceholderForm::Create(HINSTANCE hInstance, const char* pszCaption)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = CreateSolidBrush(RGB(128, 128, 128));
    wc.lpszClassName = kClassName;
    wc.hIcon = LoadIcon(hInstance, MAKEINTRESOURCE(1));
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

    RECT rc{0, 0, 400, 40};
    DWORD dwStyle = WS_POPUP | WS_BORDER;
    AdjustWindowRect(&rc, dwStyle, FALSE);
    int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - cx) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - cy) / 2;
    m_hWnd = CreateWindowExA(WS_EX_APPWINDOW, kClassName, pszCaption, dwStyle, x, y, cx, cy, nullptr, nullptr,
                             hInstance, nullptr);
    return m_hWnd != nullptr;
}

void TLSPlaceholderForm::Show(int nCmdShow)
{
    ShowWindow(m_hWnd, nCmdShow == SW_HIDE ? SW_SHOWNORMAL : nCmdShow);
    UpdateWindow(m_hWnd);
}

LRESULT CALLBACK TLSPlaceholderForm::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hWnd, &ps);
        RECT rc;
        GetClientRect(hWnd, &rc);
        SetBkMode(hdc, TRANSPARENT);
        SetTextColor(hdc, RGB(0, 0, 0));
        const char* pszText = DLS_LINK_CAPTION_SAFE();
        DrawTextA(hdc, pszText, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }
}
