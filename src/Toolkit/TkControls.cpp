#include "TkControls.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "TkForms.h"
#include "TkInternal.h"
#include "TkMenus.h"

using namespace tk_internal;

// ---------------------------------------------------------------------------
// TControl
// ---------------------------------------------------------------------------

TControl::TControl(TComponent* pOwner, TWinControl* pParent) : TComponent(pOwner), m_pParent(pParent)
{
    m_font.OnChange = [this] {
        if (!m_bApplyingParentFont) m_bParentFont = false;
        ApplyFont();
    };
    if (m_pParent) {
        m_color = m_pParent->m_color;
        m_bApplyingParentFont = true;
        m_font.Assign(m_pParent->m_font);
        m_bApplyingParentFont = false;
        m_pParent->InsertControl(this);
    }
}

TControl::~TControl()
{
    BeginDestruction();
    if (m_pParent) {
        TWinControl* pParent = m_pParent;
        m_pParent = nullptr;
        pParent->RemoveControl(this);
    }
}

TForm* TControl::ParentForm() const
{
    for (const TControl* p = this; p; p = p->m_pParent) {
        if (const TForm* pForm = dynamic_cast<const TForm*>(p)) return const_cast<TForm*>(pForm);
    }
    return nullptr;
}

bool TControl::CanFire() const
{
    if (Destroying()) return false;
    for (const TControl* p = m_pParent; p; p = p->m_pParent) {
        if (p->Destroying()) return false;
    }
    return true;
}

int TControl::Left() const { return GetBounds().left; }
int TControl::Top() const { return GetBounds().top; }
int TControl::Width() const { RECT rc = GetBounds(); return rc.right - rc.left; }
int TControl::Height() const { RECT rc = GetBounds(); return rc.bottom - rc.top; }
void TControl::SetLeft(int x) { SetBounds(x, Top(), Width(), Height()); }
void TControl::SetTop(int y) { SetBounds(Left(), y, Width(), Height()); }
void TControl::SetWidth(int cx) { SetBounds(Left(), Top(), cx, Height()); }
void TControl::SetHeight(int cy) { SetBounds(Left(), Top(), Width(), cy); }
RECT TControl::BoundsRect() const { return GetBounds(); }

void TControl::SetBounds(int x, int y, int cx, int cy)
{
    if (cx < 0) cx = 0;
    if (cy < 0) cy = 0;
    RECT rc{x, y, x + cx, y + cy};
    ApplyBounds(rc);
    RememberAnchorBase();
    if (m_pParent && m_align != alNone) m_pParent->Realign();
}

int TControl::ClientWidth() const { return Width(); }
int TControl::ClientHeight() const { return Height(); }
void TControl::SetClientSize(int cx, int cy) { SetBounds(Left(), Top(), cx, cy); }

void TControl::ApplyBounds(const RECT& rc) { m_bounds = rc; }
void TControl::ApplyVisible() {}
void TControl::ApplyEnabled() {}
void TControl::ApplyFont() {}
void TControl::ApplyCursor() {}
void TControl::HintChanged() {}

void TControl::SetVisible(bool bVisible)
{
    if (m_bVisible == bVisible) return;
    m_bVisible = bVisible;
    ApplyVisible();
    if (m_pParent && m_align != alNone) m_pParent->Realign();
}

bool TControl::Showing() const
{
    if (!m_bVisible) return false;
    return m_pParent ? m_pParent->Showing() : true;
}

void TControl::SetEnabled(bool bEnabled)
{
    if (m_bEnabled == bEnabled) return;
    m_bEnabled = bEnabled;
    ApplyEnabled();
}

std::string TControl::Caption() const { return m_caption; }

void TControl::SetCaption(const std::string& text)
{
    m_caption = text;
    Invalidate();
}

void TControl::SetHint(const std::string& hint)
{
    if (hint == m_hint) return;
    m_hint = hint;
    HintChanged();
}

void TControl::SetShowHint(bool bShow)
{
    if (bShow == m_bShowHint) return;
    m_bShowHint = bShow;
    HintChanged();
}

void TControl::SetColor(TColor color)
{
    m_bParentColor = false;
    m_color = color;
    Invalidate();
}

void TControl::ParentColorChanged(TColor color)
{
    if (!m_bParentColor) return;
    bool bKeep = m_bParentColor;
    SetColor(color);
    m_bParentColor = bKeep;
}

void TControl::ParentFontChanged(const TFont& font)
{
    if (!m_bParentFont) return;
    m_bApplyingParentFont = true;
    m_font.Assign(font);
    m_bApplyingParentFont = false;
}

void TControl::SetAlign(TAlign align)
{
    if (align == m_align) return;
    m_align = align;
    if (m_align == alNone) RememberAnchorBase();
    if (m_pParent) m_pParent->Realign();
}

void TControl::SetAnchors(TAnchors anchors)
{
    m_anchors = anchors;
    RememberAnchorBase();
}

void TControl::RememberAnchorBase()
{
    if (!m_pParent) return;
    m_anchorRect = GetBounds();
    m_anchorParentSize.cx = m_pParent->ClientWidth();
    m_anchorParentSize.cy = m_pParent->ClientHeight();
    m_bAnchorBaseSet = true;
}

void TControl::SetCursor(TCursor cursor)
{
    if (cursor == m_cursor) return;
    m_cursor = cursor;
    ApplyCursor();
}

HCURSOR TControl::CursorHandle() const
{
    LPCTSTR id = IDC_ARROW;
    switch (m_cursor) {
    case crHourGlass: id = IDC_WAIT; break;
    case crIBeam: id = IDC_IBEAM; break;
    case crCross: id = IDC_CROSS; break;
    case crHandPoint: id = IDC_HAND; break;
    case crSizeAll: id = IDC_SIZEALL; break;
    case crNo: id = IDC_NO; break;
    case crAppStart: id = IDC_APPSTARTING; break;
    default: break;
    }
    return LoadCursor(nullptr, id);
}

void TControl::Invalidate() {}

void TControl::Repaint()
{
    Invalidate();
    for (const TControl* p = this; p; p = p->m_pParent) {
        if (const TWinControl* w = dynamic_cast<const TWinControl*>(p)) {
            if (w->m_hWnd) UpdateWindow(w->m_hWnd);
            break;
        }
    }
}

POINT TControl::ClientToScreen(POINT pt) const
{
    if (const TWinControl* w = dynamic_cast<const TWinControl*>(this)) {
        if (w->m_hWnd) ::ClientToScreen(w->m_hWnd, &pt);
        return pt;
    }
    if (m_pParent) {
        pt.x += m_bounds.left;
        pt.y += m_bounds.top;
        return m_pParent->ClientToScreen(pt);
    }
    return pt;
}

POINT TControl::ScreenToClient(POINT pt) const
{
    if (const TWinControl* w = dynamic_cast<const TWinControl*>(this)) {
        if (w->m_hWnd) ::ScreenToClient(w->m_hWnd, &pt);
        return pt;
    }
    if (m_pParent) {
        pt = m_pParent->ScreenToClient(pt);
        pt.x -= m_bounds.left;
        pt.y -= m_bounds.top;
    }
    return pt;
}

void TControl::Click()
{
    if (!m_bEnabled || !CanFire()) return;
    if (OnClick) OnClick(this);
}

void TControl::DoMouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (OnMouseDown && CanFire()) OnMouseDown(this, button, shift, x, y);
}

void TControl::DoMouseMove(TShiftState shift, int x, int y)
{
    if (OnMouseMove && CanFire()) OnMouseMove(this, shift, x, y);
}

void TControl::DoMouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (OnMouseUp && CanFire()) OnMouseUp(this, button, shift, x, y);
}

bool TControl::DoContextPopup(POINT screenPt)
{
    if (!m_pPopupMenu || !CanFire()) return false;
    if (screenPt.x == -1 && screenPt.y == -1) {
        POINT center{Width() / 2, Height() / 2};
        screenPt = ClientToScreen(center);
    }
    m_pPopupMenu->Popup(screenPt.x, screenPt.y, this);
    return true;
}

// ---------------------------------------------------------------------------
// TGraphicControl
// ---------------------------------------------------------------------------

TGraphicControl::TGraphicControl(TWinControl* pParent) : TControl(pParent, pParent) {}

void TGraphicControl::Invalidate()
{
    if (m_pParent && m_pParent->m_hWnd) InvalidateRect(m_pParent->m_hWnd, &m_bounds, FALSE);
}

void TGraphicControl::ApplyBounds(const RECT& rc)
{
    if (EqualRect(&rc, &m_bounds)) return;
    Invalidate();
    m_bounds = rc;
    Invalidate();
    if (!m_hint.empty()) HintChanged();
}

void TGraphicControl::ApplyVisible()
{
    if (m_pParent && m_pParent->m_hWnd) InvalidateRect(m_pParent->m_hWnd, &m_bounds, FALSE);
    HintChanged();
}

void TGraphicControl::ApplyEnabled() { Invalidate(); }
void TGraphicControl::ApplyFont() { Invalidate(); }

void TGraphicControl::HintChanged()
{
    if (TForm* pForm = ParentForm()) pForm->UpdateHint(this);
}

// ---------------------------------------------------------------------------
// TWinControl
// ---------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* pOwner, TWinControl* pParent) : TControl(pOwner, pParent)
{
    EnsureCommonControls();
}

TWinControl::~TWinControl()
{
    BeginDestruction();
    for (TControl* p = m_pParent; p; p = p->m_pParent) {
        if (TForm* pForm = dynamic_cast<TForm*>(p)) {
            if (pForm->m_pActiveControl == this) pForm->m_pActiveControl = nullptr;
            break;
        }
    }
    DestroyHandle();
    DestroyComponents();
    if (m_hBrush) {
        DeleteObject(m_hBrush);
        m_hBrush = nullptr;
    }
}

TWinControl* TWinControl::FromHandle(HWND hWnd)
{
    if (!hWnd) return nullptr;
    return static_cast<TWinControl*>(GetPropA(hWnd, ObjectPropertyName()));
}

void TWinControl::Attach(HWND hWnd)
{
    m_hWnd = hWnd;
    SetPropA(hWnd, ObjectPropertyName(), this);
}

void TWinControl::Detach()
{
    if (!m_hWnd) return;
    RemovePropA(m_hWnd, ObjectPropertyName());
    m_hWnd = nullptr;
}

void TWinControl::CreateHandle(const char* pszClass, DWORD dwStyle, DWORD dwExStyle, int x, int y, int cx, int cy,
                               const char* pszToolkitClass, HWND hWndParentOverride)
{
    HWND hParent = hWndParentOverride ? hWndParentOverride : (m_pParent ? m_pParent->m_hWnd : nullptr);
    m_createClass = pszClass ? pszClass : "";
    m_createToolkitClass = pszToolkitClass ? pszToolkitClass : "";
    m_createStyle = dwStyle & ~(WS_VISIBLE | WS_DISABLED);
    m_createExStyle = dwExStyle;
    DWORD style = m_createStyle;
    HMENU hMenu = nullptr;
    if (m_pParent && !hWndParentOverride) {
        style |= WS_CHILD;
        if (!m_controlId) m_controlId = NextControlId();
        hMenu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(m_controlId));
    }
    if (m_bVisible && (style & WS_CHILD)) style |= WS_VISIBLE;
    if (!m_bEnabled) style |= WS_DISABLED;
    HWND hWnd = nullptr;
    if (pszClass) {
        hWnd = CreateWindowExA(dwExStyle, pszClass, m_caption.c_str(), style, x, y, cx, cy, hParent, hMenu,
                               TkModuleInstance(), nullptr);
        if (hWnd) {
            m_bNative = true;
            Attach(hWnd);
            SetWindowSubclass(hWnd, &TWinControl::SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
        }
    } else {
        // The toolkit draws these controls to fit their size (bevels, centred
        // captions): a resize repaints them whole.
        if (!RegisterToolkitClass(pszToolkitClass, &TWinControl::ToolkitWndProc,
                                  CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW)) {
            throw ETkError::FromSystem("RegisterClassEx");
        }
        m_bNative = false;
        hWnd = CreateWindowExA(dwExStyle, pszToolkitClass, m_caption.c_str(), style, x, y, cx, cy, hParent, hMenu,
                               TkModuleInstance(), this);
    }
    if (!hWnd) throw ETkError::FromSystem("CreateWindowEx");
    m_caption.clear();
    SendMessageA(hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Handle()), FALSE);
    if (m_pParent && !hWndParentOverride) RememberAnchorBase();
}

void TWinControl::DestroyHandle()
{
    if (!m_hWnd) return;
    HWND hWnd = m_hWnd;
    DestroyWindow(hWnd);
    if (m_hWnd) Detach();   // DestroyWindow failed (another thread's window)
}

void TWinControl::RecreateHandle(DWORD dwStyle, DWORD dwExStyle)
{
    if (!m_hWnd) return;
    RECT rc = GetBounds();
    std::string text = Caption();
    bool bFocused = Focused();
    std::string cls = m_createClass, tkcls = m_createToolkitClass;
    DestroyHandle();
    m_caption = text;
    CreateHandle(cls.empty() ? nullptr : cls.c_str(), dwStyle, dwExStyle, rc.left, rc.top, rc.right - rc.left,
                 rc.bottom - rc.top, tkcls.empty() ? nullptr : tkcls.c_str());
    std::fill(text.begin(), text.end(), '\0');
    // Back to its place in the tab order.
    if (m_pParent) {
        HWND hAfter = HWND_TOP;
        for (TControl* p : m_pParent->m_controls) {
            if (p == this) break;
            if (TWinControl* w = dynamic_cast<TWinControl*>(p)) {
                if (w->m_hWnd) hAfter = w->m_hWnd;
            }
        }
        SetWindowPos(m_hWnd, hAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    ApplyCursor();
    HintChanged();
    HandleRecreated();
    if (bFocused) ::SetFocus(m_hWnd);
}

LRESULT TWinControl::Perform(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return m_hWnd ? SendMessageA(m_hWnd, uMsg, wParam, lParam) : 0;
}

void TWinControl::SetFocus()
{
    if (m_hWnd) ::SetFocus(m_hWnd);
}

bool TWinControl::Focused() const
{
    return m_hWnd && GetFocus() == m_hWnd;
}

bool TWinControl::CanFocus() const
{
    return m_hWnd && IsWindowVisible(m_hWnd) && IsWindowEnabled(m_hWnd);
}

int TWinControl::TabOrder() const
{
    if (!m_pParent) return -1;
    int order = 0;
    for (TControl* p : m_pParent->m_controls) {
        if (p == this) return order;
        if (dynamic_cast<TWinControl*>(p)) ++order;
    }
    return -1;
}

void TWinControl::SetTabOrder(int order)
{
    if (!m_pParent || order < 0) return;
    auto& list = m_pParent->m_controls;
    list.erase(std::find(list.begin(), list.end(), this));
    // Insert before the order-th windowed sibling.
    auto it = list.begin();
    int seen = 0;
    for (; it != list.end(); ++it) {
        if (dynamic_cast<TWinControl*>(*it)) {
            if (seen == order) break;
            ++seen;
        }
    }
    list.insert(it, this);
    HWND hAfter = HWND_TOP;
    for (TControl* p : list) {
        if (p == this) break;
        if (TWinControl* w = dynamic_cast<TWinControl*>(p)) {
            if (w->m_hWnd) hAfter = w->m_hWnd;
        }
    }
    if (m_hWnd) SetWindowPos(m_hWnd, hAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool TWinControl::TabStop() const
{
    return m_hWnd && (GetWindowLongPtrA(m_hWnd, GWL_STYLE) & WS_TABSTOP) != 0;
}

void TWinControl::SetTabStop(bool bTabStop)
{
    if (!m_hWnd) return;
    LONG_PTR style = GetWindowLongPtrA(m_hWnd, GWL_STYLE);
    style = bTabStop ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
    SetWindowLongPtrA(m_hWnd, GWL_STYLE, style);
}

TControl* TWinControl::Controls(int index) const
{
    if (index < 0 || index >= ControlCount()) return nullptr;
    return m_controls[static_cast<size_t>(index)];
}

void TWinControl::InsertControl(TControl* pControl)
{
    m_controls.push_back(pControl);
}

void TWinControl::RemoveControl(TControl* pControl)
{
    auto it = std::find(m_controls.begin(), m_controls.end(), pControl);
    if (it != m_controls.end()) m_controls.erase(it);
    if (m_pMouseCapture == pControl) {
        m_pMouseCapture = nullptr;
        if (m_hWnd && GetCapture() == m_hWnd) ReleaseCapture();
    }
    if (m_pHintControl == pControl) m_pHintControl = nullptr;
    if (TGraphicControl* g = dynamic_cast<TGraphicControl*>(pControl)) {
        if (m_hWnd) InvalidateRect(m_hWnd, &g->m_bounds, FALSE);
        if (!Destroying() && !g->m_hint.empty()) {
            if (TForm* pForm = ParentForm()) pForm->UpdateHint(pControl, true);
        }
    }
    if (pControl->m_align != alNone && !Destroying()) Realign();
}

TGraphicControl* TWinControl::GraphicChildAt(POINT pt) const
{
    for (auto it = m_controls.rbegin(); it != m_controls.rend(); ++it) {
        TGraphicControl* g = dynamic_cast<TGraphicControl*>(*it);
        if (g && g->m_bVisible && PtInRect(&g->m_bounds, pt)) return g;
    }
    return nullptr;
}

void TWinControl::SetBorderWidth(int width)
{
    m_borderWidth = width < 0 ? 0 : width;
    Realign();
    Invalidate();
}

void TWinControl::Realign()
{
    if (!m_hWnd || Destroying()) return;
    RECT client;
    GetClientRect(m_hWnd, &client);
    int cw = client.right, ch = client.bottom;
    RECT area{m_borderWidth, m_borderWidth, cw - m_borderWidth, ch - m_borderWidth};
    static const TAlign kOrder[] = {alTop, alBottom, alLeft, alRight, alClient};
    for (TAlign align : kOrder) {
        for (TControl* p : m_controls) {
            if (p->m_align != align || !p->m_bVisible) continue;
            RECT rc = p->GetBounds();
            int w = rc.right - rc.left, h = rc.bottom - rc.top;
            RECT target = area;
            switch (align) {
            case alTop:
                target.bottom = std::min(area.top + h, area.bottom);
                area.top = target.bottom;
                break;
            case alBottom:
                target.top = std::max(area.bottom - h, area.top);
                area.bottom = target.top;
                break;
            case alLeft:
                target.right = std::min(area.left + w, area.right);
                area.left = target.right;
                break;
            case alRight:
                target.left = std::max(area.right - w, area.left);
                area.right = target.left;
                break;
            default:
                break;
            }
            if (target.right < target.left) target.right = target.left;
            if (target.bottom < target.top) target.bottom = target.top;
            if (!EqualRect(&target, &rc)) p->ApplyBounds(target);
        }
    }
    for (TControl* p : m_controls) {
        if (p->m_align != alNone || !p->m_bAnchorBaseSet) continue;
        TAnchors a = p->m_anchors;
        if (a == akDefault) continue;
        const RECT& b = p->m_anchorRect;
        const SIZE& base = p->m_anchorParentSize;
        RECT rc = b;
        if ((a & akRight) && (a & akLeft)) {
            rc.right = cw - (base.cx - b.right);
        } else if (a & akRight) {
            rc.left = cw - (base.cx - b.left);
            rc.right = rc.left + (b.right - b.left);
        }
        if ((a & akBottom) && (a & akTop)) {
            rc.bottom = ch - (base.cy - b.bottom);
        } else if (a & akBottom) {
            rc.top = ch - (base.cy - b.top);
            rc.bottom = rc.top + (b.bottom - b.top);
        }
        if (rc.right < rc.left) rc.right = rc.left;
        if (rc.bottom < rc.top) rc.bottom = rc.top;
        RECT cur = p->GetBounds();
        if (!EqualRect(&rc, &cur)) p->ApplyBounds(rc);
    }
}

std::string TWinControl::Caption() const
{
    if (!m_hWnd) return m_caption;
    int n = GetWindowTextLengthA(m_hWnd);
    if (n <= 0) return std::string();
    std::string text(static_cast<size_t>(n) + 1, '\0');
    int got = GetWindowTextA(m_hWnd, &text[0], n + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

void TWinControl::SetCaption(const std::string& text)
{
    if (!m_hWnd) {
        m_caption = text;
        return;
    }
    SetWindowTextA(m_hWnd, text.c_str());
}

void TWinControl::SetColor(TColor color)
{
    TControl::SetColor(color);
    for (TControl* p : m_controls) p->ParentColorChanged(color);
}

void TWinControl::Invalidate()
{
    if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

int TWinControl::ClientWidth() const
{
    RECT rc{0, 0, 0, 0};
    if (m_hWnd) GetClientRect(m_hWnd, &rc);
    return rc.right;
}

int TWinControl::ClientHeight() const
{
    RECT rc{0, 0, 0, 0};
    if (m_hWnd) GetClientRect(m_hWnd, &rc);
    return rc.bottom;
}

void TWinControl::SetClientSize(int cx, int cy)
{
    if (!m_hWnd) return;
    RECT rc{0, 0, cx, cy};
    AdjustWindowRectEx(&rc, static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE)));
    SetBounds(Left(), Top(), rc.right - rc.left, rc.bottom - rc.top);
}

RECT TWinControl::GetBounds() const
{
    RECT rc{0, 0, 0, 0};
    if (!m_hWnd) return rc;
    GetWindowRect(m_hWnd, &rc);
    HWND hParent = (GetWindowLongPtrA(m_hWnd, GWL_STYLE) & WS_CHILD) ? GetParent(m_hWnd) : nullptr;
    if (hParent) MapWindowPoints(nullptr, hParent, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

void TWinControl::ApplyBounds(const RECT& rc)
{
    if (!m_hWnd) return;
    // A control that moves is painted anew at its place: the bits copied from
    // its old place may show what was drawn before the move.
    SetWindowPos(m_hWnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
}

void TWinControl::ApplyVisible()
{
    if (!m_hWnd) return;
    ShowWindow(m_hWnd, m_bVisible ? SW_SHOWNA : SW_HIDE);
}

void TWinControl::ApplyEnabled()
{
    if (m_hWnd) EnableWindow(m_hWnd, m_bEnabled ? TRUE : FALSE);
}

void TWinControl::ApplyFont()
{
    if (m_hWnd) {
        SendMessageA(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Handle()), TRUE);
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
    for (TControl* p : m_controls) p->ParentFontChanged(m_font);
}

void TWinControl::ApplyCursor()
{
    if (!m_hWnd) return;
    POINT pt;
    if (!GetCursorPos(&pt)) return;
    HWND hUnder = WindowFromPoint(pt);
    if (hUnder == m_hWnd || IsChild(m_hWnd, hUnder)) {
        SendMessageA(hUnder, WM_SETCURSOR, reinterpret_cast<WPARAM>(hUnder), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    }
}

void TWinControl::HintChanged()
{
    if (TForm* pForm = ParentForm()) {
        if (pForm != this) pForm->UpdateHint(this);
    }
}

HBRUSH TWinControl::ColorBrush()
{
    if (m_color == clNone) return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    if (!m_hBrush || m_brushColor != m_color) {
        if (m_hBrush) DeleteObject(m_hBrush);
        m_hBrush = CreateSolidBrush(TkColorToRGB(m_color, GetSysColor(COLOR_BTNFACE)));
        m_brushColor = m_color;
    }
    return m_hBrush;
}

void TWinControl::PaintWindow(HDC hdc)
{
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    if (m_color != clNone) FillRect(hdc, &rc, ColorBrush());
    PaintGraphicChildren(hdc, nullptr);
}

void TWinControl::PaintGraphicChildren(HDC hdc, const RECT* prcClip)
{
    for (TControl* p : m_controls) {
        TGraphicControl* g = dynamic_cast<TGraphicControl*>(p);
        if (!g || !g->m_bVisible) continue;
        RECT inter;
        if (prcClip && !IntersectRect(&inter, prcClip, &g->m_bounds)) continue;
        int saved = SaveDC(hdc);
        IntersectClipRect(hdc, g->m_bounds.left, g->m_bounds.top, g->m_bounds.right, g->m_bounds.bottom);
        g->Paint(hdc, g->m_bounds);
        RestoreDC(hdc, saved);
    }
}

bool TWinControl::OnCommand(WORD, LRESULT&) { return false; }
bool TWinControl::OnNotify(NMHDR*, LRESULT&) { return false; }
bool TWinControl::OnScroll(UINT, WPARAM, LRESULT&) { return false; }
bool TWinControl::OnDrawItem(DRAWITEMSTRUCT*, LRESULT&) { return false; }

bool TWinControl::OnCtlColor(HDC hdc, LRESULT& lResult)
{
    SetBkColor(hdc, TkColorToRGB(m_color, GetSysColor(COLOR_BTNFACE)));
    if (m_font.Color() != clDefault) SetTextColor(hdc, TkColorToRGB(m_font.Color()));
    lResult = reinterpret_cast<LRESULT>(ColorBrush());
    return true;
}

LRESULT TWinControl::DefaultHandler(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (m_bNative) return DefSubclassProc(m_hWnd, uMsg, wParam, lParam);
    return DefWindowProcA(m_hWnd, uMsg, wParam, lParam);
}

LRESULT TWinControl::WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_ERASEBKGND:
        if (!m_bNative) return 1;
        break;
    case WM_PAINT:
        if (!m_bNative) {
            PAINTSTRUCT ps;
            HDC hdc = BeginPaint(m_hWnd, &ps);
            RECT rc;
            GetClientRect(m_hWnd, &rc);
            if (rc.right > 0 && rc.bottom > 0) {
                HDC hMem = CreateCompatibleDC(hdc);
                HBITMAP hBmp = CreateCompatibleBitmap(hdc, rc.right, rc.bottom);
                HGDIOBJ hOldBmp = SelectObject(hMem, hBmp);
                HGDIOBJ hOldFont = SelectObject(hMem, m_font.Handle());
                PaintWindow(hMem);
                BitBlt(hdc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                       ps.rcPaint.bottom - ps.rcPaint.top, hMem, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
                SelectObject(hMem, hOldFont);
                SelectObject(hMem, hOldBmp);
                DeleteObject(hBmp);
                DeleteDC(hMem);
            }
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        break;
    case WM_PRINTCLIENT:
        if (!m_bNative) {
            PaintWindow(reinterpret_cast<HDC>(wParam));
            return 0;
        }
        break;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) Realign();
        break;
    case WM_ENABLE:
        // Enabled follows the window, also when a modal run disabled it.
        m_bEnabled = wParam != FALSE;
        break;
    case WM_SETFOCUS: {
        LRESULT r = DefaultHandler(uMsg, wParam, lParam);
        if (TForm* pForm = ParentForm()) {
            if (pForm != this) pForm->ControlFocused(this);
        }
        return r;
    }
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == m_hWnd && LOWORD(lParam) == HTCLIENT) {
            POINT pt;
            GetCursorPos(&pt);
            ::ScreenToClient(m_hWnd, &pt);
            TGraphicControl* g = GraphicChildAt(pt);
            if (g && g->m_cursor != crDefault) {
                ::SetCursor(g->CursorHandle());
                return TRUE;
            }
            if (m_cursor != crDefault) {
                ::SetCursor(CursorHandle());
                return TRUE;
            }
        }
        break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK: {
        POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        TShiftState shift = TShiftState::FromMouseKeys(wParam);
        bool bDouble = uMsg == WM_LBUTTONDBLCLK || uMsg == WM_RBUTTONDBLCLK || uMsg == WM_MBUTTONDBLCLK;
        if (bDouble) shift << ssDouble;
        TMouseButton button = mbLeft;
        if (uMsg == WM_RBUTTONDOWN || uMsg == WM_RBUTTONUP || uMsg == WM_RBUTTONDBLCLK) button = mbRight;
        if (uMsg == WM_MBUTTONDOWN || uMsg == WM_MBUTTONUP || uMsg == WM_MBUTTONDBLCLK) button = mbMiddle;
        bool bDown = uMsg == WM_LBUTTONDOWN || uMsg == WM_RBUTTONDOWN || uMsg == WM_MBUTTONDOWN || bDouble;
        bool bUp = uMsg == WM_LBUTTONUP || uMsg == WM_RBUTTONUP || uMsg == WM_MBUTTONUP;
        TGraphicControl* g = m_pMouseCapture ? m_pMouseCapture : GraphicChildAt(pt);
        if (g && g->m_bEnabled) {
            int x = pt.x - g->m_bounds.left, y = pt.y - g->m_bounds.top;
            if (uMsg == WM_MOUSEMOVE) {
                g->DoMouseMove(shift, x, y);
            } else if (bDown) {
                if (!m_pMouseCapture) {
                    m_pMouseCapture = g;
                    SetCapture(m_hWnd);
                }
                g->DoMouseDown(button, shift, x, y);
                if (bDouble && g->OnDblClick && g->CanFire()) g->OnDblClick(g);
            } else if (bUp) {
                bool bInside = PtInRect(&g->m_bounds, pt) != FALSE;
                g->DoMouseUp(button, shift, x, y);
                if (m_pMouseCapture == g) {
                    m_pMouseCapture = nullptr;
                    if (GetCapture() == m_hWnd) ReleaseCapture();
                    if (bInside && button == mbLeft) g->Click();
                }
            }
            return 0;
        }
        if (uMsg == WM_MOUSEMOVE) {
            DoMouseMove(shift, pt.x, pt.y);
        } else if (bDown) {
            DoMouseDown(button, shift, pt.x, pt.y);
            if (bDouble && OnDblClick && CanFire()) OnDblClick(this);
        } else if (bUp) {
            DoMouseUp(button, shift, pt.x, pt.y);
        }
        if (!m_hWnd) return 0;
        break;
    }
    case WM_CAPTURECHANGED:
        if (m_pMouseCapture && reinterpret_cast<HWND>(lParam) != m_hWnd) m_pMouseCapture = nullptr;
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        bool bDown = uMsg == WM_KEYDOWN || uMsg == WM_SYSKEYDOWN;
        TKeyEvent& ev = bDown ? OnKeyDown : OnKeyUp;
        if (ev && CanFire()) {
            WORD key = static_cast<WORD>(wParam);
            ev(this, key, TShiftState::FromKeyboard());
            if (!m_hWnd) return 0;
            if (key == 0) return 0;
            wParam = key;
        }
        break;
    }
    case WM_CHAR:
        if (OnKeyPress && CanFire()) {
            char ch = static_cast<char>(wParam);
            OnKeyPress(this, ch);
            if (!m_hWnd) return 0;
            if (ch == 0) return 0;
            wParam = static_cast<unsigned char>(ch);
        }
        break;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == m_hWnd) {
            POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (!(pt.x == -1 && pt.y == -1)) {
                POINT local = pt;
                ::ScreenToClient(m_hWnd, &local);
                TGraphicControl* g = GraphicChildAt(local);
                if (g && g->m_pPopupMenu && g->DoContextPopup(pt)) return 0;
            }
            if (DoContextPopup(pt)) return 0;
        }
        break;
    case WM_COMMAND:
        if (lParam) {
            TWinControl* c = FromHandle(reinterpret_cast<HWND>(lParam));
            LRESULT r = 0;
            if (c && c != this && c->OnCommand(HIWORD(wParam), r)) return r;
        }
        break;
    case WM_NOTIFY: {
        NMHDR* pHdr = reinterpret_cast<NMHDR*>(lParam);
        if (pHdr) {
            TWinControl* c = FromHandle(pHdr->hwndFrom);
            LRESULT r = 0;
            if (c && c != this && c->OnNotify(pHdr, r)) return r;
        }
        break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (lParam) {
            TWinControl* c = FromHandle(reinterpret_cast<HWND>(lParam));
            LRESULT r = 0;
            if (c && c != this && c->OnScroll(uMsg, wParam, r)) return r;
        }
        break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX: {
        TWinControl* c = FromHandle(reinterpret_cast<HWND>(lParam));
        LRESULT r = 0;
        if (c && c != this && c->OnCtlColor(reinterpret_cast<HDC>(wParam), r)) return r;
        break;
    }
    case WM_DRAWITEM: {
        DRAWITEMSTRUCT* pDis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (pDis && pDis->CtlType != ODT_MENU) {
            TWinControl* c = FromHandle(pDis->hwndItem);
            LRESULT r = 0;
            if (c && c != this && c->OnDrawItem(pDis, r)) return r;
        }
        break;
    }
    default:
        break;
    }
    return DefaultHandler(uMsg, wParam, lParam);
}

LRESULT TWinControl::Dispatch(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    try {
        return WndProc(uMsg, wParam, lParam);
    } catch (...) {
        Application->HandleException();
    }
    return 0;
}

LRESULT CALLBACK TWinControl::ToolkitWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    TWinControl* self = nullptr;
    if (uMsg == WM_NCCREATE) {
        auto* pcs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        self = static_cast<TWinControl*>(pcs->lpCreateParams);
        if (self) self->Attach(hWnd);
    } else {
        self = FromHandle(hWnd);
    }
    if (!self || self->m_hWnd != hWnd) return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    if (uMsg == WM_NCDESTROY) {
        LRESULT r = DefWindowProcA(hWnd, uMsg, wParam, lParam);
        self->Detach();
        return r;
    }
    return self->Dispatch(uMsg, wParam, lParam);
}

LRESULT CALLBACK TWinControl::SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                           DWORD_PTR dwRefData)
{
    TWinControl* self = reinterpret_cast<TWinControl*>(dwRefData);
    if (uMsg == WM_NCDESTROY) {
        RemoveWindowSubclass(hWnd, &TWinControl::SubclassProc, uIdSubclass);
        LRESULT r = DefSubclassProc(hWnd, uMsg, wParam, lParam);
        if (self && self->m_hWnd == hWnd) self->Detach();
        return r;
    }
    if (!self || self->m_hWnd != hWnd) return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    return self->Dispatch(uMsg, wParam, lParam);
}
