#include "DialogTestSupport.h"

#include <commctrl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "KTXLANG.h"

namespace dlgtest {

namespace ui = ktxtest::ui;

OwnerHandle::OwnerHandle() : m_pOwner(GetLSOwnerHandle("KTSafe.EXE"))
{
    if (m_pOwner) {
        m_pOwner->hOwnerWnd = nullptr;
        m_pOwner->bDlgPosSet = false;
        m_pOwner->nDlgLeft = m_pOwner->nDlgTop = 0;
        ClearLSError(LSOwnerErr(m_pOwner));
    }
}

OwnerHandle::~OwnerHandle()
{
    if (m_pOwner) {
        m_pOwner->hOwnerWnd = nullptr;
        m_pOwner->bDlgPosSet = false;
        FreeLSOwnerHandle(m_pOwner);
    }
}

namespace {

LRESULT CALLBACK ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

const char* ParentClass()
{
    static const char* s_name = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        wc.lpszClassName = "KtxDialogTestParent";
        RegisterClassA(&wc);
        return "KtxDialogTestParent";
    }();
    return s_name;
}

}  // namespace

ParentWindow::ParentWindow(int x, int y, int cx, int cy)
{
    m_hWnd = CreateWindowExA(0, ParentClass(), "Parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, cx, cy, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    ui::Pump(30);
}

ParentWindow::~ParentWindow()
{
    if (m_hWnd) DestroyWindow(m_hWnd);
}

std::string LangSuffix()
{
    return DLS_LANG_ID() == LS_LANG_GERMAN ? "de" : "en";
}

void ExpectLanguageOfRun()
{
    const char* expected = getenv("KTX_EXPECT_LANG");
    if (expected && *expected) {
        EXPECT_EQ(atoi(expected), DLS_LANG_ID()) << "this run is meant to show the dialogs in language " << expected;
    }
}

std::string Shot(const std::string& name, HWND hWnd)
{
    // Let the window finish painting first.
    Sleep(150);
    std::string path = ui::Screenshot("dialogs-" + name + "-" + LangSuffix(), hWnd);
    EXPECT_FALSE(path.empty()) << "screenshot " << name;
    return path;
}

std::vector<std::string> StaticTexts(HWND hDialog)
{
    std::vector<std::string> texts;
    for (HWND h : ui::Controls(hDialog)) {
        if (lstrcmpiA(ui::ClassOf(h).c_str(), "Static") == 0) texts.push_back(ui::TextOf(h));
    }
    return texts;
}

bool ShowsText(HWND hDialog, const std::string& text)
{
    for (HWND h : ui::Controls(hDialog)) {
        if (lstrcmpiA(ui::ClassOf(h).c_str(), "Static") == 0 && IsWindowVisible(h) && ui::TextOf(h) == text)
            return true;
    }
    return false;
}

HWND Button(HWND hDialog, const std::string& caption)
{
    return ui::FindControl(hDialog, caption, "Button");
}

HWND Edit(HWND hDialog, int index)
{
    return ui::FindControlByClass(hDialog, "Edit", index);
}

int BarPosition(HWND hDialog, int index)
{
    HWND hBar = ui::FindControlByClass(hDialog, PROGRESS_CLASSA, index);
    return hBar ? static_cast<int>(SendMessageA(hBar, PBM_GETPOS, 0, 0)) : -1;
}

int BarMax(HWND hDialog, int index)
{
    HWND hBar = ui::FindControlByClass(hDialog, PROGRESS_CLASSA, index);
    return hBar ? static_cast<int>(SendMessageA(hBar, PBM_GETRANGE, FALSE, 0)) : -1;
}

HWND FocusOf(HWND hWnd)
{
    GUITHREADINFO gti{};
    gti.cbSize = sizeof(gti);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(hWnd, nullptr), &gti)) return nullptr;
    return gti.hwndFocus;
}

bool WaitTrue(const std::function<bool()>& pred, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

std::vector<std::string> TextsThatDoNotFit(HWND hDialog)
{
    std::vector<std::string> problems;
    RECT rcClient;
    GetClientRect(hDialog, &rcClient);
    for (HWND h : ui::Controls(hDialog)) {
        if (!IsWindowVisible(h) || GetParent(h) != hDialog) continue;
        RECT rc;
        GetWindowRect(h, &rc);
        MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rc), 2);
        std::string cls = ui::ClassOf(h);
        std::string text = ui::TextOf(h);
        if (rc.left < 0 || rc.top < 0 || rc.right > rcClient.right || rc.bottom > rcClient.bottom) {
            problems.push_back(cls + " \"" + text + "\" reaches outside the dialog");
            continue;
        }
        bool bStatic = lstrcmpiA(cls.c_str(), "Static") == 0;
        bool bButton = lstrcmpiA(cls.c_str(), "Button") == 0;
        if (text.empty() || (!bStatic && !bButton)) continue;
        HDC hdc = GetDC(h);
        HGDIOBJ hOld = SelectObject(hdc, reinterpret_cast<HGDIOBJ>(SendMessageA(h, WM_GETFONT, 0, 0)));
        int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
        if (bStatic) {
            RECT rcText{0, 0, cx, 0};
            DrawTextA(hdc, text.c_str(), -1, &rcText, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            if (rcText.bottom > cy || rcText.right > cx)
                problems.push_back("text \"" + text + "\" needs " + std::to_string(rcText.right) + " x " +
                                   std::to_string(rcText.bottom) + " but has " + std::to_string(cx) + " x " +
                                   std::to_string(cy));
        } else {
            LONG style = GetWindowLongA(h, GWL_STYLE);
            bool bCheck = (style & BS_TYPEMASK) == BS_AUTOCHECKBOX || (style & BS_TYPEMASK) == BS_CHECKBOX;
            RECT rcText{0, 0, 0, 0};
            DrawTextA(hdc, text.c_str(), -1, &rcText, DT_CALCRECT | DT_SINGLELINE);
            int need = rcText.right + (bCheck ? 20 : 8);
            if (need > cx)
                problems.push_back("caption \"" + text + "\" needs " + std::to_string(need) + " but has " +
                                   std::to_string(cx));
        }
        SelectObject(hdc, hOld);
        ReleaseDC(h, hdc);
    }
    return problems;
}

ui::Action Script(std::function<void(HWND)> fn, const std::string& finish, int finishId)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    return [fn, finish, finishId, done](HWND hWnd) {
        if (!done->exchange(true)) fn(hWnd);
        // Pressed again by the Answer while the window stays (a press can be lost).
        if (IsWindow(hWnd) && IsWindowVisible(hWnd)) {
            if (!finish.empty())
                ui::PressButton(hWnd, finish);
            else if (finishId != 0)
                ui::PressButtonId(hWnd, finishId);
        }
        return true;
    };
}

}  // namespace dlgtest
