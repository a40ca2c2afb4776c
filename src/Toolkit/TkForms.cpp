#include "TkForms.h"

#include <commctrl.h>

#include <algorithm>

#include "TkInternal.h"
#include "TkStdCtrls.h"

using namespace tk_internal;

// ---------------------------------------------------------------------------
// The program's icon
// ---------------------------------------------------------------------------

namespace {

// A resource name as EnumResourceNamesA hands it over: an id, or a text that
// lives only during the enumeration and is kept as a copy.
struct TkResourceName {
    bool bFound = false;
    WORD wId = 0;
    std::string text;
    LPCSTR Get() const { return text.empty() ? MAKEINTRESOURCEA(wId) : text.c_str(); }
};

BOOL CALLBACK TakeFirstIconGroup(HMODULE, LPCSTR, LPSTR pszName, LONG_PTR lParam)
{
    auto* pName = reinterpret_cast<TkResourceName*>(lParam);
    try {
        if (IS_INTRESOURCE(pszName)) {
            pName->wId = LOWORD(reinterpret_cast<ULONG_PTR>(pszName));
        } else {
            pName->text = pszName;
        }
        pName->bFound = true;
    } catch (...) {
        pName->bFound = false;
    }
    return FALSE;  // the first group is the program's icon
}

struct TkProgramIcons {
    HICON hSmall = nullptr;
    HICON hBig = nullptr;
    TkProgramIcons()
    {
        HMODULE hExe = GetModuleHandleA(nullptr);
        TkResourceName name;
        EnumResourceNamesA(hExe, RT_GROUP_ICON, &TakeFirstIconGroup, reinterpret_cast<LONG_PTR>(&name));
        if (!name.bFound) return;
        // Shared: one handle per size for the whole process, whichever module loads it.
        hSmall = static_cast<HICON>(LoadImageA(hExe, name.Get(), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        hBig = static_cast<HICON>(LoadImageA(hExe, name.Get(), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_SHARED));
    }
};

}  // namespace

HICON TkProgramIcon(bool bSmall)
{
    static const TkProgramIcons s_icons;
    return bSmall ? s_icons.hSmall : s_icons.hBig;
}

bool TkSetProgramIcon(HWND hWnd)
{
    HICON hSmall = TkProgramIcon(true);
    HICON hBig = TkProgramIcon(false);
    if (!hWnd || (!hSmall && !hBig)) return false;
    SendMessageA(hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall ? hSmall : hBig));
    SendMessageA(hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hBig ? hBig : hSmall));
    return true;
}

// ---------------------------------------------------------------------------
// TForm
// ---------------------------------------------------------------------------

TForm::TForm(TComponent* pOwner, const char* pszClassName, HWND hWndOwner)
    : TWinControl(pOwner, nullptr), m_className(pszClassName && *pszClassName ? pszClassName : "TForm")
{
    Application->Initialize();
    m_bVisible = false;
    m_color = clBtnFace;
    m_bParentColor = false;
    if (!RegisterToolkitClass(m_className.c_str(), &TWinControl::ToolkitWndProc, CS_DBLCLKS)) {
        throw ETkError::FromSystem("RegisterClassEx");
    }
    m_createToolkitClass = m_className;
    m_createStyle = FrameStyle();
    m_createExStyle = FrameExStyle();
    HWND hWnd = CreateWindowExA(m_createExStyle, m_className.c_str(), "", m_createStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                400, 300, hWndOwner, nullptr, TkModuleInstance(), static_cast<TWinControl*>(this));
    if (!hWnd) throw ETkError::FromSystem("CreateWindowEx");
    SendMessageA(hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Handle()), FALSE);
    // Caption and task bar show the program, also for the forms of a DLL.
    TkSetProgramIcon(hWnd);
}

TForm::~TForm()
{
    BeginDestruction();
    if (m_bModal) m_modalResult = mrCancel;
    if (Application->MainForm() == this) Application->SetMainForm(nullptr);
    m_pActiveControl = nullptr;
    DestroyHandle();
    DestroyComponents();
}

HWND TForm::OwnerWindow() const
{
    return m_hWnd ? GetWindow(m_hWnd, GW_OWNER) : nullptr;
}

void TForm::SetOwnerWindow(HWND hWndOwner)
{
    if (m_hWnd && hWndOwner != m_hWnd) SetWindowLongPtrA(m_hWnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(hWndOwner));
}

DWORD TForm::FrameStyle() const
{
    DWORD style = WS_CLIPCHILDREN;
    switch (m_borderStyle) {
    case bsNone:
        style |= WS_POPUP;
        break;
    case bsSingle:
    case bsToolWindow:
        style |= WS_CAPTION | WS_BORDER;
        break;
    case bsSizeable:
        style |= WS_CAPTION | WS_THICKFRAME;
        break;
    case bsDialog:
        style |= WS_CAPTION | DS_MODALFRAME;
        break;
    }
    if (m_borderStyle != bsNone && (m_borderIcons & biSystemMenu)) {
        style |= WS_SYSMENU;
        if (m_borderStyle != bsDialog && m_borderStyle != bsToolWindow) {
            if (m_borderIcons & biMinimize) style |= WS_MINIMIZEBOX;
            if (m_borderIcons & biMaximize) style |= WS_MAXIMIZEBOX;
        }
    }
    return style;
}

DWORD TForm::FrameExStyle() const
{
    DWORD ex = WS_EX_CONTROLPARENT;
    // Windows hides the caption icon of a window with the modal dialog frame:
    // a dialog form that has the program's icon keeps the plain dialog border.
    if (m_borderStyle == bsDialog && !TkProgramIcon(true)) ex |= WS_EX_DLGMODALFRAME;
    if (m_borderStyle == bsToolWindow) ex |= WS_EX_TOOLWINDOW;
    return ex;
}

void TForm::ApplyFrameStyle()
{
    if (!m_hWnd) return;
    int cw = ClientWidth(), ch = ClientHeight();
    LONG_PTR keep = GetWindowLongPtrA(m_hWnd, GWL_STYLE) & (WS_VISIBLE | WS_DISABLED | WS_MINIMIZE | WS_MAXIMIZE);
    SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(FrameStyle()) | keep);
    LONG_PTR exKeep = GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST;
    SetWindowLongPtrA(m_hWnd, GWL_EXSTYLE, static_cast<LONG_PTR>(FrameExStyle()) | exKeep);
    SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The client area keeps its size.
    TWinControl::SetClientSize(cw, ch);
}

void TForm::SetBorderStyle(TFormBorderStyle style)
{
    if (style == m_borderStyle) return;
    m_borderStyle = style;
    ApplyFrameStyle();
}

void TForm::SetBorderIcons(TBorderIcons icons)
{
    if (icons == m_borderIcons) return;
    m_borderIcons = icons;
    ApplyFrameStyle();
}

void TForm::ApplyConstraints()
{
    if (!m_hWnd) return;
    RECT rc;
    GetWindowRect(m_hWnd, &rc);
    SetWindowPos(m_hWnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetFormStyleStayOnTop(bool bOnTop)
{
    if (m_hWnd) {
        SetWindowPos(m_hWnd, bOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

RECT TForm::GetBounds() const
{
    RECT rc{0, 0, 0, 0};
    if (m_hWnd) GetWindowRect(m_hWnd, &rc);
    return rc;
}

void TForm::ApplyBounds(const RECT& rc)
{
    m_bPlaced = true;
    TWinControl::ApplyBounds(rc);
}

void TForm::PlaceForFirstShow()
{
    if (m_bShownOnce || !m_hWnd) return;
    m_bShownOnce = true;
    RECT area;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    RECT center = area;
    bool bCenter = false;
    switch (m_position) {
    case poDesktopCenter:
        bCenter = true;
        break;
    case poMainFormCenter:
    case poOwnerFormCenter: {
        bCenter = true;
        HWND hRef = nullptr;
        if (m_position == poMainFormCenter) {
            TForm* pMain = Application->MainForm();
            if (pMain && pMain != this && pMain->m_hWnd && IsWindowVisible(pMain->m_hWnd)) hRef = pMain->m_hWnd;
        } else {
            hRef = OwnerWindow();
            if (hRef && !IsWindowVisible(hRef)) hRef = nullptr;
        }
        if (hRef) GetWindowRect(hRef, &center);
        break;
    }
    default:
        break;
    }
    if (!bCenter) return;
    RECT rc;
    GetWindowRect(m_hWnd, &rc);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int x = center.left + ((center.right - center.left) - w) / 2;
    int y = center.top + ((center.bottom - center.top) - h) / 2;
    // Keep it on the work area.
    x = std::max(static_cast<int>(area.left), std::min(x, static_cast<int>(area.right) - w));
    y = std::max(static_cast<int>(area.top), std::min(y, static_cast<int>(area.bottom) - h));
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::Show()
{
    if (!m_hWnd) return;
    PlaceForFirstShow();
    m_bVisible = true;
    if (!IsWindowVisible(m_hWnd)) {
        ShowWindow(m_hWnd, SW_SHOW);
    }
    BringToFront();
    UpdateWindow(m_hWnd);
}

void TForm::Hide()
{
    m_bVisible = false;
    if (m_hWnd && IsWindowVisible(m_hWnd)) ShowWindow(m_hWnd, SW_HIDE);
    if (m_bModal && m_modalResult == mrNone) m_modalResult = mrCancel;
}

void TForm::SetVisible(bool bVisible)
{
    if (bVisible) {
        Show();
    } else {
        Hide();
    }
}

void TForm::BringToFront()
{
    if (!m_hWnd) return;
    SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(m_hWnd);
    SetActiveWindow(m_hWnd);
}

void TForm::SetIcon(HICON hIcon)
{
    if (!m_hWnd) return;
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hIcon));
}

void TForm::Close()
{
    if (m_bClosing || Destroying()) return;
    m_bClosing = true;
    bool bCanClose = true;
    TCloseAction action = caHide;
    try {
        if (OnCloseQuery) OnCloseQuery(this, bCanClose);
        if (bCanClose && OnClose) OnClose(this, action);
    } catch (...) {
        m_bClosing = false;
        throw;
    }
    m_bClosing = false;
    if (!bCanClose || action == caNone) {
        if (m_bModal) m_modalResult = mrNone;
        return;
    }
    if (m_bModal) {
        if (m_modalResult == mrNone) m_modalResult = mrCancel;
        m_bCloseHandled = true;
        return;
    }
    if (action == caMinimize) {
        if (m_hWnd) ShowWindow(m_hWnd, SW_MINIMIZE);
        return;
    }
    Hide();
    if (Application->MainForm() == this) Application->Terminate();
}

void TForm::SetModalResult(int result)
{
    m_modalResult = result;
    m_bCloseHandled = false;
}

namespace {

struct ModalCollect {
    HWND hSelf;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectOtherWindow(HWND h, LPARAM lp)
{
    auto* c = reinterpret_cast<ModalCollect*>(lp);
    if (h != c->hSelf && IsWindowVisible(h) && IsWindowEnabled(h) && GetWindow(h, GW_OWNER) != c->hSelf) {
        c->windows.push_back(h);
    }
    return TRUE;
}

}  // namespace

int TForm::ShowModal()
{
    if (!m_hWnd) throw EInvalidOperation("ShowModal: the form has no window");
    if (m_bModal) throw EInvalidOperation("ShowModal: the form is already modal");
    HWND hActive = GetActiveWindow();
    if (!OwnerWindow() && hActive && hActive != m_hWnd && GetWindowThreadProcessId(hActive, nullptr) ==
                                                            GetCurrentThreadId()) {
        SetOwnerWindow(hActive);
    }
    // Every other enabled, visible top-level window of the thread is disabled.
    ModalCollect collect{m_hWnd, {}};
    EnumThreadWindows(GetCurrentThreadId(), &CollectOtherWindow, reinterpret_cast<LPARAM>(&collect));
    for (HWND h : collect.windows) EnableWindow(h, FALSE);

    m_bModal = true;
    m_modalResult = mrNone;
    m_bCloseHandled = false;
    int result = mrCancel;
    try {
        Show();
        for (;;) {
            if (m_modalResult != mrNone) {
                // A result set by a button or by code closes the form like Close.
                if (!m_bCloseHandled) {
                    int wanted = m_modalResult;
                    bool bCanClose = true;
                    TCloseAction action = caHide;
                    if (OnCloseQuery && CanFire()) OnCloseQuery(this, bCanClose);
                    if (bCanClose && OnClose && CanFire()) OnClose(this, action);
                    if (!bCanClose || action == caNone) {
                        m_modalResult = mrNone;
                        continue;
                    }
                    m_modalResult = wanted;
                }
                break;
            }
            if (!m_hWnd || Destroying()) break;
            MSG msg;
            BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                if (m_modalResult == mrNone) m_modalResult = mrCancel;
                m_bCloseHandled = true;
                break;
            }
            if (got < 0) break;
            Application->DispatchOne(msg);
        }
        result = m_modalResult == mrNone ? mrCancel : m_modalResult;
    } catch (...) {
        for (auto it = collect.windows.rbegin(); it != collect.windows.rend(); ++it) {
            if (IsWindow(*it)) EnableWindow(*it, TRUE);
        }
        m_bModal = false;
        if (m_hWnd) ShowWindow(m_hWnd, SW_HIDE);
        m_bVisible = false;
        throw;
    }
    // Enable the others before hiding, so the activation goes back to them.
    for (auto it = collect.windows.rbegin(); it != collect.windows.rend(); ++it) {
        if (IsWindow(*it)) EnableWindow(*it, TRUE);
    }
    m_bModal = false;
    if (m_hWnd) {
        m_bVisible = false;
        if (IsWindowVisible(m_hWnd)) ShowWindow(m_hWnd, SW_HIDE);
        HWND hOwner = OwnerWindow();
        if (hOwner && IsWindowVisible(hOwner)) SetActiveWindow(hOwner);
    }
    m_modalResult = result;
    return result;
}

void TForm::SetDefaultButton(TButton* pButton)
{
    if (m_pDefaultButton == pButton) return;
    TButton* pOld = m_pDefaultButton;
    m_pDefaultButton = pButton;
    // The default button is drawn with a heavier frame.
    for (TButton* p : {pOld, pButton}) {
        if (!p || !p->Handle()) continue;
        LONG_PTR style = GetWindowLongPtrA(p->Handle(), GWL_STYLE);
        if ((style & BS_TYPEMASK) == BS_OWNERDRAW) {
            InvalidateRect(p->Handle(), nullptr, TRUE);
        } else {
            SendMessageA(p->Handle(), BM_SETSTYLE, p == pButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
        }
    }
}

void TForm::SetCancelButton(TButton* pButton)
{
    m_pCancelButton = pButton;
}

void TForm::SetActiveControl(TWinControl* pControl)
{
    if (pControl && pControl->CanFocus()) {
        pControl->SetFocus();
    } else {
        m_pActiveControl = pControl;
    }
}

void TForm::ControlFocused(TWinControl* pControl)
{
    if (pControl == m_pActiveControl) return;
    TWinControl* pOld = m_pActiveControl;
    m_pActiveControl = pControl;
    if (pOld && pOld->OnExit && pOld->CanFire()) pOld->OnExit(pOld);
    // OnExit may have moved the focus elsewhere already.
    if (m_pActiveControl == pControl && pControl->OnEnter && pControl->CanFire()) pControl->OnEnter(pControl);
}

void TForm::ClickButton(TButton* pButton)
{
    if (pButton && pButton->Handle() && IsWindowEnabled(pButton->Handle()) && IsWindowVisible(pButton->Handle())) {
        pButton->Click();
    }
}

void TForm::UpdateHint(TControl* pControl, bool bRemove)
{
    if (!m_hWnd || Destroying()) return;
    TWinControl* pWin = dynamic_cast<TWinControl*>(pControl);
    HWND hTool = nullptr;
    UINT_PTR uId = 0;
    UINT flags = TTF_SUBCLASS;
    if (pWin) {
        if (!pWin->m_hWnd) return;
        hTool = pWin->m_pParent && pWin->m_pParent->m_hWnd ? pWin->m_pParent->m_hWnd : m_hWnd;
        uId = reinterpret_cast<UINT_PTR>(pWin->m_hWnd);
        flags |= TTF_IDISHWND;
    } else {
        if (!pControl->m_pParent || !pControl->m_pParent->m_hWnd) return;
        hTool = pControl->m_pParent->m_hWnd;
        uId = reinterpret_cast<UINT_PTR>(pControl);
    }
    bool bWant = !bRemove && pControl->m_bShowHint && !pControl->m_hint.empty() && pControl->m_bVisible;
    if (!m_hTooltip) {
        if (!bWant) return;
        m_hTooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr,
                                     TkModuleInstance(), nullptr);
        if (!m_hTooltip) return;
        SendMessageA(m_hTooltip, TTM_SETMAXTIPWIDTH, 0, 400);
    }
    TTTOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = hTool;
    ti.uId = uId;
    SendMessageA(m_hTooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    if (!bWant) return;
    ti.uFlags = flags;
    ti.hinst = nullptr;
    ti.lpszText = const_cast<char*>(pControl->m_hint.c_str());
    if (!pWin) ti.rect = pControl->m_bounds;
    SendMessageA(m_hTooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

LRESULT TForm::WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CLOSE:
        Close();
        return 0;
    case WM_ENDSESSION:
        if (wParam && OnEndSession && CanFire()) OnEndSession(this);
        return 0;
    case WM_SHOWWINDOW:
        if (lParam == 0 && CanFire()) {
            if (wParam) {
                m_bVisible = true;
                if (OnShow) OnShow(this);
            } else {
                m_bVisible = false;
                if (OnHide) OnHide(this);
            }
        }
        break;
    case WM_SIZE: {
        LRESULT r = TWinControl::WndProc(uMsg, wParam, lParam);
        if (wParam != SIZE_MINIMIZED && OnResize && CanFire()) OnResize(this);
        return r;
    }
    case WM_GETMINMAXINFO: {
        auto* pInfo = reinterpret_cast<MINMAXINFO*>(lParam);
        if (m_constraints.MinWidth > 0) pInfo->ptMinTrackSize.x = m_constraints.MinWidth;
        if (m_constraints.MinHeight > 0) pInfo->ptMinTrackSize.y = m_constraints.MinHeight;
        if (m_constraints.MaxWidth > 0) pInfo->ptMaxTrackSize.x = m_constraints.MaxWidth;
        if (m_constraints.MaxHeight > 0) pInfo->ptMaxTrackSize.y = m_constraints.MaxHeight;
        return 0;
    }
    case WM_WINDOWPOSCHANGING: {
        auto* pPos = reinterpret_cast<WINDOWPOS*>(lParam);
        if (!(pPos->flags & SWP_NOSIZE) && !IsIconic(m_hWnd)) {
            if (m_constraints.MinWidth > 0 && pPos->cx < m_constraints.MinWidth) pPos->cx = m_constraints.MinWidth;
            if (m_constraints.MinHeight > 0 && pPos->cy < m_constraints.MinHeight) pPos->cy = m_constraints.MinHeight;
            if (m_constraints.MaxWidth > 0 && pPos->cx > m_constraints.MaxWidth) pPos->cx = m_constraints.MaxWidth;
            if (m_constraints.MaxHeight > 0 && pPos->cy > m_constraints.MaxHeight) pPos->cy = m_constraints.MaxHeight;
        }
        break;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            if (!HIWORD(wParam)) {
                TWinControl* pActive = m_pActiveControl;
                if (pActive && pActive->CanFocus()) {
                    ::SetFocus(pActive->m_hWnd);
                } else {
                    HWND hFirst = GetNextDlgTabItem(m_hWnd, nullptr, FALSE);
                    ::SetFocus(hFirst ? hFirst : m_hWnd);
                }
            }
            if (OnActivate && CanFire()) OnActivate(this);
            return 0;
        }
        if (OnDeactivate && CanFire()) OnDeactivate(this);
        break;
    case WM_SETFOCUS:
        // The form itself got the focus: hand it to its active control.
        if (m_pActiveControl && m_pActiveControl->CanFocus()) {
            ::SetFocus(m_pActiveControl->m_hWnd);
            return 0;
        }
        return DefaultHandler(uMsg, wParam, lParam);
    case DM_GETDEFID: {
        // A push button of the form that has the focus is the default while
        // it has it: Enter presses the button the user moved to.
        TButton* pFocused = dynamic_cast<TButton*>(FromHandle(::GetFocus()));
        if (pFocused && pFocused->Handle() && pFocused->ParentForm() == this) {
            return MAKELRESULT(pFocused->m_controlId, DC_HASDEFID);
        }
        if (m_pDefaultButton && m_pDefaultButton->Handle()) {
            return MAKELRESULT(m_pDefaultButton->m_controlId, DC_HASDEFID);
        }
        return 0;
    }
    case WM_COMMAND:
        if (lParam == 0 || (HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))) {
            WORD id = LOWORD(wParam);
            if (id == IDCANCEL) {
                ClickButton(m_pCancelButton);
                return 0;
            }
            if (m_pDefaultButton && (id == IDOK || id == m_pDefaultButton->m_controlId)) {
                ClickButton(m_pDefaultButton);
                return 0;
            }
            if (lParam == 0) return 0;
        }
        break;
    case WM_DESTROY:
        if (OnDestroy && CanFire()) OnDestroy(this);
        m_hTooltip = nullptr;
        break;
    default:
        break;
    }
    return TWinControl::WndProc(uMsg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// TApplication
// ---------------------------------------------------------------------------

namespace {
TApplication g_application;
}

TApplication* const Application = &g_application;

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication()
{
    // Forms still owned at process end go now (the process's libraries may
    // already be gone, so DestroyForms belongs at the end of the program's
    // own run).
    m_pMainForm = nullptr;
}

void TApplication::Initialize()
{
    if (m_bInitialized) return;
    m_bInitialized = true;
    EnsureCommonControls();
}

void TApplication::Run()
{
    Initialize();
    if (m_pMainForm && !m_pMainForm->Visible()) m_pMainForm->Show();
    // Runs until WM_QUIT arrives (Terminate posts it), so none is left behind
    // for a later loop of the thread.
    for (;;) {
        MSG msg;
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            m_bTerminated = true;
            break;
        }
        DispatchOne(msg);
    }
}

void TApplication::ProcessMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            m_bTerminated = true;
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        DispatchOne(msg);
    }
}

void TApplication::HandleMessage()
{
    MSG msg;
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
        m_bTerminated = true;
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
    }
    if (got > 0) DispatchOne(msg);
}

void TApplication::Terminate()
{
    m_bTerminated = true;
    PostQuitMessage(0);
}

int TApplication::AddMessageHook(TMessageHook hook)
{
    int id = m_nextHookId++;
    m_hooks.emplace_back(id, std::move(hook));
    return id;
}

void TApplication::RemoveMessageHook(int id)
{
    m_hooks.erase(std::remove_if(m_hooks.begin(), m_hooks.end(), [id](const auto& h) { return h.first == id; }),
                  m_hooks.end());
}

void TApplication::DispatchOne(MSG& msg)
{
    try {
        bool bHandled = false;
        // A copy: a hook may add or remove hooks.
        auto hooks = m_hooks;
        for (auto& h : hooks) {
            if (h.second) h.second(msg, bHandled);
            if (bHandled) return;
        }
    } catch (...) {
        HandleException();
        return;
    }
    if (msg.hwnd && msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
        HWND hRoot = GetAncestor(msg.hwnd, GA_ROOT);
        if (dynamic_cast<TForm*>(TWinControl::FromHandle(hRoot)) && IsDialogMessageA(hRoot, &msg)) return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void TApplication::ShowException(const std::exception& e)
{
    if (OnException) {
        try {
            OnException(this, e);
            return;
        } catch (...) {
            // Fall back to the standard display.
        }
    }
    std::string caption = m_title;
    if (caption.empty()) {
        char szPath[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, szPath, sizeof(szPath));
        const char* pszName = strrchr(szPath, '\\');
        caption = pszName ? pszName + 1 : szPath;
    }
    HWND hOwner = GetActiveWindow();
    ::MessageBoxA(hOwner, e.what(), caption.c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::HandleException()
{
    try {
        throw;
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(ETkError(SystemErrorText(ERROR_INTERNAL_ERROR)));
    }
}

int TApplication::MessageBox(const char* pszText, const char* pszCaption, UINT uFlags)
{
    return ::MessageBoxA(GetActiveWindow(), pszText ? pszText : "", pszCaption ? pszCaption : m_title.c_str(), uFlags);
}
