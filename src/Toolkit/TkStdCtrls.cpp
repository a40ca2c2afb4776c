#include "TkStdCtrls.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "TkInternal.h"

using namespace tk_internal;

namespace {

// Wipes a buffer that held a control's text.
void Wipe(std::vector<char>& buf)
{
    if (!buf.empty()) SecureZeroMemory(buf.data(), buf.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// TButton
// ---------------------------------------------------------------------------

TButton::TButton(TWinControl* pParent) : TWinControl(pParent, pParent)
{
    CreateHandle(WC_BUTTONA, BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 0, 75, 25);
}

TButton::~TButton()
{
    if (TForm* pForm = ParentForm()) {
        if (pForm->DefaultButton() == this) pForm->SetDefaultButton(nullptr);
        if (pForm->CancelButton() == this) pForm->SetCancelButton(nullptr);
    }
}

bool TButton::Default() const
{
    TForm* pForm = ParentForm();
    return pForm && pForm->DefaultButton() == this;
}

void TButton::SetDefault(bool bDefault)
{
    TForm* pForm = ParentForm();
    if (!pForm) return;
    if (bDefault) {
        pForm->SetDefaultButton(this);
    } else if (pForm->DefaultButton() == this) {
        pForm->SetDefaultButton(nullptr);
    }
}

bool TButton::Cancel() const
{
    TForm* pForm = ParentForm();
    return pForm && pForm->CancelButton() == this;
}

void TButton::SetCancel(bool bCancel)
{
    TForm* pForm = ParentForm();
    if (!pForm) return;
    if (bCancel) {
        pForm->SetCancelButton(this);
    } else if (pForm->CancelButton() == this) {
        pForm->SetCancelButton(nullptr);
    }
}

void TButton::Click()
{
    if (!m_bEnabled || !CanFire()) return;
    if (m_modalResult != mrNone) {
        if (TForm* pForm = ParentForm()) pForm->SetModalResult(m_modalResult);
    }
    TControl::Click();
}

bool TButton::OnCommand(WORD wCode, LRESULT& lResult)
{
    if (wCode == BN_CLICKED) {
        Click();
        lResult = 0;
        return true;
    }
    return false;
}

void TButton::ApplyFont()
{
    TWinControl::ApplyFont();
    UpdateOwnerDraw();
}

void TButton::UpdateOwnerDraw()
{
    if (!m_hWnd) return;
    // A coloured caption needs the button drawn by us.
    bool bWant = m_font.Color() != clDefault;
    if (bWant == m_bOwnerDraw) return;
    m_bOwnerDraw = bWant;
    LONG_PTR style = GetWindowLongPtrA(m_hWnd, GWL_STYLE) & ~static_cast<LONG_PTR>(BS_TYPEMASK);
    style |= bWant ? BS_OWNERDRAW : (Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    SetWindowLongPtrA(m_hWnd, GWL_STYLE, style);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

bool TButton::OnDrawItem(DRAWITEMSTRUCT* pDis, LRESULT& lResult)
{
    HDC hdc = pDis->hDC;
    RECT rc = pDis->rcItem;
    bool bPushed = (pDis->itemState & ODS_SELECTED) != 0;
    bool bDisabled = (pDis->itemState & ODS_DISABLED) != 0;
    bool bFocus = (pDis->itemState & ODS_FOCUS) != 0;
    if (Default() || bFocus) {
        FrameRect(hdc, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        InflateRect(&rc, -1, -1);
    }
    DrawFrameControl(hdc, &rc, DFC_BUTTON, DFCS_BUTTONPUSH | (bPushed ? DFCS_PUSHED : 0));
    std::string text = Caption();
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, bDisabled ? GetSysColor(COLOR_GRAYTEXT) : TkColorToRGB(m_font.Color(), GetSysColor(COLOR_BTNTEXT)));
    HGDIOBJ hOld = SelectObject(hdc, m_font.Handle());
    RECT rcText = rc;
    if (bPushed) OffsetRect(&rcText, 1, 1);
    DrawTextA(hdc, text.c_str(), -1, &rcText, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(hdc, hOld);
    if (bFocus && !(pDis->itemState & ODS_NOFOCUSRECT)) {
        RECT rcFocus = rc;
        InflateRect(&rcFocus, -3, -3);
        DrawFocusRect(hdc, &rcFocus);
    }
    lResult = TRUE;
    return true;
}

LRESULT TButton::WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    // An owner-drawn button still double-clicks as two clicks.
    if (uMsg == WM_LBUTTONDBLCLK && m_bOwnerDraw) uMsg = WM_LBUTTONDOWN;
    return TWinControl::WndProc(uMsg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// TSpeedButton
// ---------------------------------------------------------------------------

TSpeedButton::TSpeedButton(TWinControl* pParent) : TWinControl(pParent, pParent)
{
    CreateHandle(nullptr, 0, 0, 0, 0, 23, 22, "TSpeedButton");
}

TSpeedButton::~TSpeedButton()
{
    if (m_hGlyph && m_bOwnGlyph) DeleteObject(m_hGlyph);
}

void TSpeedButton::SetFlat(bool bFlat)
{
    m_bFlat = bFlat;
    Invalidate();
}

void TSpeedButton::SetWordWrap(bool bWrap)
{
    m_bWordWrap = bWrap;
    Invalidate();
}

SIZE TSpeedButton::TextExtent(int cxAvail) const
{
    SIZE size{0, 0};
    const std::string text = Caption();
    HDC hdc = GetDC(m_hWnd);
    if (!hdc) return size;
    HGDIOBJ hOld = SelectObject(hdc, m_font.Handle());
    RECT rc{0, 0, cxAvail > 0 ? cxAvail : 0x7FFF, 0};
    DrawTextA(hdc, text.c_str(), -1, &rc, DT_CALCRECT | DT_CENTER | (m_bWordWrap ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(hdc, hOld);
    ReleaseDC(m_hWnd, hdc);
    size.cx = rc.right - rc.left;
    size.cy = rc.bottom - rc.top;
    return size;
}

void TSpeedButton::SetGlyph(HBITMAP hBitmap, bool bOwn)
{
    if (m_hGlyph && m_bOwnGlyph && m_hGlyph != hBitmap) DeleteObject(m_hGlyph);
    m_hGlyph = hBitmap;
    m_bOwnGlyph = bOwn;
    Invalidate();
}

void TSpeedButton::PaintWindow(HDC hdc)
{
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    FillRect(hdc, &rc, ColorBrush());
    bool bEnabled = IsWindowEnabled(m_hWnd) != FALSE;
    if (bEnabled && m_bPressed && m_bHot) {
        DrawEdge(hdc, &rc, BDR_SUNKENOUTER, BF_RECT);
    } else if (!m_bFlat || (bEnabled && m_bHot)) {
        DrawEdge(hdc, &rc, BDR_RAISEDINNER, BF_RECT);
    }
    RECT inner = rc;
    InflateRect(&inner, -3, -2);
    if (m_bPressed && m_bHot) OffsetRect(&inner, 1, 1);
    if (m_hGlyph) {
        BITMAP bm{};
        GetObject(m_hGlyph, sizeof(bm), &bm);
        HDC hMem = CreateCompatibleDC(hdc);
        HGDIOBJ hOld = SelectObject(hMem, m_hGlyph);
        int y = inner.top + ((inner.bottom - inner.top) - bm.bmHeight) / 2;
        std::string text = Caption();
        int x = text.empty() ? inner.left + ((inner.right - inner.left) - bm.bmWidth) / 2 : inner.left;
        BitBlt(hdc, x, y, bm.bmWidth, bm.bmHeight, hMem, 0, 0, SRCCOPY);
        SelectObject(hMem, hOld);
        DeleteDC(hMem);
        inner.left = x + bm.bmWidth + 4;
    }
    std::string text = Caption();
    if (!text.empty()) {
        SetBkMode(hdc, TRANSPARENT);
        HGDIOBJ hOld = SelectObject(hdc, m_font.Handle());
        UINT flags = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS;
        if (m_bWordWrap) {
            // Lines broken between words, the block centred as one line is.
            flags = DT_CENTER | DT_WORDBREAK | DT_END_ELLIPSIS;
            RECT calc = inner;
            DrawTextA(hdc, text.c_str(), -1, &calc, (flags & ~DT_END_ELLIPSIS) | DT_CALCRECT);
            const int cyText = calc.bottom - calc.top;
            if (cyText < inner.bottom - inner.top) inner.top += ((inner.bottom - inner.top) - cyText) / 2;
        }
        if (bEnabled) {
            SetTextColor(hdc, TkColorToRGB(m_font.Color(), GetSysColor(COLOR_BTNTEXT)));
            DrawTextA(hdc, text.c_str(), -1, &inner, flags);
        } else {
            RECT shadow = inner;
            OffsetRect(&shadow, 1, 1);
            SetTextColor(hdc, GetSysColor(COLOR_BTNHIGHLIGHT));
            DrawTextA(hdc, text.c_str(), -1, &shadow, flags);
            SetTextColor(hdc, GetSysColor(COLOR_GRAYTEXT));
            DrawTextA(hdc, text.c_str(), -1, &inner, flags);
        }
        SelectObject(hdc, hOld);
    }
    // The focus (a button in the tab order) is shown as on a push button.
    if (GetFocus() == m_hWnd) {
        RECT rcFocus = rc;
        InflateRect(&rcFocus, -2, -2);
        DrawFocusRect(hdc, &rcFocus);
    }
    PaintGraphicChildren(hdc, nullptr);
}

void TSpeedButton::ReleaseSpace()
{
    m_bSpaceDown = false;
    m_bPressed = false;
    // Drawn raised again only while the mouse is over it.
    POINT pt;
    m_bHot = GetCursorPos(&pt) && WindowFromPoint(pt) == m_hWnd;
    Invalidate();
}

LRESULT TSpeedButton::WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_MOUSEMOVE:
        if (!m_bHot) {
            m_bHot = true;
            TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, m_hWnd, 0};
            TrackMouseEvent(&tme);
            Invalidate();
        }
        if (m_bPressed) {
            RECT rc;
            GetClientRect(m_hWnd, &rc);
            POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            bool bInside = PtInRect(&rc, pt) != FALSE;
            if (bInside != m_bHot) {
                m_bHot = bInside;
                Invalidate();
            }
        }
        break;
    case WM_MOUSELEAVE:
        m_bHot = false;
        Invalidate();
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        m_bPressed = true;
        m_bHot = true;
        SetCapture(m_hWnd);
        Invalidate();
        break;
    case WM_LBUTTONUP:
        if (m_bPressed) {
            bool bClick = m_bHot;
            m_bPressed = false;
            if (GetCapture() == m_hWnd) ReleaseCapture();
            Invalidate();
            LRESULT r = TWinControl::WndProc(uMsg, wParam, lParam);
            if (bClick && m_hWnd) Click();
            return r;
        }
        break;
    case WM_CAPTURECHANGED:
        if (m_bPressed && reinterpret_cast<HWND>(lParam) != m_hWnd) {
            m_bPressed = false;
            Invalidate();
        }
        break;
    case BM_CLICK:
        Click();
        return 0;
    case WM_ENABLE:
        Invalidate();
        break;
    case WM_SETTEXT: {
        LRESULT r = TWinControl::WndProc(uMsg, wParam, lParam);
        Invalidate();
        return r;
    }
    case WM_GETDLGCODE: {
        // Enter on the focused button presses it rather than the form's default button.
        const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
        if (pMsg && pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN) return DLGC_BUTTON | DLGC_WANTMESSAGE;
        return DLGC_BUTTON;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            LRESULT r = TWinControl::WndProc(uMsg, wParam, lParam);
            if (m_hWnd) Click();
            return r;
        }
        if (wParam == VK_SPACE && !m_bSpaceDown) {
            m_bSpaceDown = true;
            m_bPressed = true;
            m_bHot = true;
            Invalidate();
        }
        break;
    case WM_KEYUP:
        if (wParam == VK_SPACE && m_bSpaceDown) {
            ReleaseSpace();
            LRESULT r = TWinControl::WndProc(uMsg, wParam, lParam);
            if (m_hWnd) Click();
            return r;
        }
        break;
    case WM_SETFOCUS:
        Invalidate();
        break;
    case WM_KILLFOCUS:
        // A Space press that loses the focus is no click.
        if (m_bSpaceDown) ReleaseSpace();
        Invalidate();
        break;
    default:
        break;
    }
    return TWinControl::WndProc(uMsg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// TLabel
// ---------------------------------------------------------------------------

TLabel::TLabel(TWinControl* pParent) : TGraphicControl(pParent)
{
    m_bounds = RECT{0, 0, 65, 13};
    RememberAnchorBase();
}

void TLabel::SetCaption(const std::string& text)
{
    m_caption = text;
    AdjustSize();
    Invalidate();
}

void TLabel::ApplyFont()
{
    AdjustSize();
    Invalidate();
}

void TLabel::SetAlignment(TAlignment alignment)
{
    m_alignment = alignment;
    Invalidate();
}

void TLabel::SetLayout(TTextLayout layout)
{
    m_layout = layout;
    Invalidate();
}

void TLabel::SetTransparent(bool bTransparent)
{
    m_bTransparent = bTransparent;
    Invalidate();
}

void TLabel::SetAutoSize(bool bAutoSize)
{
    m_bAutoSize = bAutoSize;
    AdjustSize();
}

void TLabel::SetWordWrap(bool bWrap)
{
    m_bWordWrap = bWrap;
    AdjustSize();
    Invalidate();
}

void TLabel::SetShowAccelChar(bool bShow)
{
    m_bShowAccelChar = bShow;
    AdjustSize();
    Invalidate();
}

UINT TLabel::DrawFlags() const
{
    UINT flags = 0;
    if (!m_bShowAccelChar) flags |= DT_NOPREFIX;
    if (m_alignment == taCenter) flags |= DT_CENTER;
    if (m_alignment == taRightJustify) flags |= DT_RIGHT;
    flags |= m_bWordWrap ? DT_WORDBREAK : DT_SINGLELINE;
    return flags;
}

void TLabel::AdjustSize()
{
    if (!m_bAutoSize) return;
    HDC hdc = GetDC(nullptr);
    HGDIOBJ hOld = SelectObject(hdc, m_font.Handle());
    RECT rc{0, 0, m_bWordWrap ? (m_bounds.right - m_bounds.left) : 0, 0};
    std::string text = m_caption.empty() ? std::string(" ") : m_caption;
    DrawTextA(hdc, text.c_str(), -1, &rc, DrawFlags() | DT_CALCRECT);
    SelectObject(hdc, hOld);
    ReleaseDC(nullptr, hdc);
    RECT b = m_bounds;
    int w = m_bWordWrap ? (b.right - b.left) : rc.right;
    RECT nb{b.left, b.top, b.left + w, b.top + rc.bottom};
    if (m_alignment == taRightJustify && !m_bWordWrap) nb = RECT{b.right - w, b.top, b.right, b.top + rc.bottom};
    ApplyBounds(nb);
    RememberAnchorBase();
}

void TLabel::Paint(HDC hdc, const RECT& rc)
{
    if (!m_bTransparent && m_color != clNone) {
        HBRUSH hBrush = CreateSolidBrush(TkColorToRGB(m_color, GetSysColor(COLOR_BTNFACE)));
        FillRect(hdc, &rc, hBrush);
        DeleteObject(hBrush);
    }
    SetBkMode(hdc, TRANSPARENT);
    COLORREF text = m_bEnabled ? TkColorToRGB(m_font.Color(), GetSysColor(COLOR_WINDOWTEXT))
                               : GetSysColor(COLOR_GRAYTEXT);
    SetTextColor(hdc, text);
    HGDIOBJ hOld = SelectObject(hdc, m_font.Handle());
    RECT r = rc;
    UINT flags = DrawFlags();
    if (m_layout != tlTop) {
        RECT calc{0, 0, r.right - r.left, 0};
        DrawTextA(hdc, m_caption.c_str(), -1, &calc, flags | DT_CALCRECT);
        int h = calc.bottom;
        int free = (r.bottom - r.top) - h;
        if (free > 0) r.top += (m_layout == tlCenter) ? free / 2 : free;
    }
    DrawTextA(hdc, m_caption.c_str(), -1, &r, flags);
    SelectObject(hdc, hOld);
}

// ---------------------------------------------------------------------------
// TStaticText
// ---------------------------------------------------------------------------

TStaticText::TStaticText(TWinControl* pParent) : TWinControl(pParent, pParent)
{
    CreateHandle(WC_STATICA, SS_LEFT | SS_NOTIFY, 0, 0, 0, 65, 17);
}

void TStaticText::SetAlignment(TAlignment alignment)
{
    m_alignment = alignment;
    if (!m_hWnd) return;
    LONG_PTR style = GetWindowLongPtrA(m_hWnd, GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
    style |= alignment == taCenter ? SS_CENTER : (alignment == taRightJustify ? SS_RIGHT : SS_LEFT);
    SetWindowLongPtrA(m_hWnd, GWL_STYLE, style);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void TStaticText::SetSunken(bool bSunken)
{
    if (!m_hWnd) return;
    LONG_PTR style = GetWindowLongPtrA(m_hWnd, GWL_STYLE);
    style = bSunken ? (style | SS_SUNKEN) : (style & ~static_cast<LONG_PTR>(SS_SUNKEN));
    SetWindowLongPtrA(m_hWnd, GWL_STYLE, style);
    // The frame itself is the static edge.
    LONG_PTR ex = GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE);
    ex = bSunken ? (ex | WS_EX_STATICEDGE) : (ex & ~static_cast<LONG_PTR>(WS_EX_STATICEDGE));
    SetWindowLongPtrA(m_hWnd, GWL_EXSTYLE, ex);
    SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                                                 SWP_NOACTIVATE);
}

void TStaticText::SetTransparent(bool bTransparent)
{
    m_bTransparent = bTransparent;
    Invalidate();
}

bool TStaticText::OnCtlColor(HDC hdc, LRESULT& lResult)
{
    if (m_bTransparent) {
        SetBkMode(hdc, TRANSPARENT);
        if (m_font.Color() != clDefault) SetTextColor(hdc, TkColorToRGB(m_font.Color()));
        lResult = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
        return true;
    }
    return TWinControl::OnCtlColor(hdc, lResult);
}

bool TStaticText::OnCommand(WORD wCode, LRESULT& lResult)
{
    if (wCode == STN_CLICKED) {
        Click();
        lResult = 0;
        return true;
    }
    if (wCode == STN_DBLCLK) {
        if (OnDblClick && CanFire()) OnDblClick(this);
        lResult = 0;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// TEdit
// ---------------------------------------------------------------------------

TEdit::TEdit(TWinControl* pParent) : TEdit(pParent, ES_AUTOHSCROLL) {}

TEdit::TEdit(TWinControl* pParent, DWORD dwExtraStyle) : TWinControl(pParent, pParent)
{
    m_color = clWindow;
    m_bParentColor = false;
    CreateHandle(WC_EDITA, WS_TABSTOP | ES_LEFT | dwExtraStyle, WS_EX_CLIENTEDGE, 0, 0, 121, 21);
}

TEdit::~TEdit()
{
    // The window is usually gone already (WM_DESTROY wiped it).
    if (m_hWnd) WipeText();
}

void TEdit::SetPasswordChar(char ch)
{
    m_passwordChar = ch;
    if (!m_hWnd) return;
    SendMessageA(m_hWnd, EM_SETPASSWORDCHAR, static_cast<WPARAM>(static_cast<unsigned char>(ch)), 0);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void TEdit::SetReadOnly(bool bReadOnly)
{
    m_bReadOnly = bReadOnly;
    if (m_hWnd) SendMessageA(m_hWnd, EM_SETREADONLY, bReadOnly ? TRUE : FALSE, 0);
}

void TEdit::SetMaxLength(int length)
{
    m_maxLength = length < 0 ? 0 : length;
    if (m_hWnd) SendMessageA(m_hWnd, EM_SETLIMITTEXT, static_cast<WPARAM>(m_maxLength), 0);
}

void TEdit::HandleRecreated()
{
    if (m_passwordChar) SendMessageA(m_hWnd, EM_SETPASSWORDCHAR, static_cast<unsigned char>(m_passwordChar), 0);
    if (m_bReadOnly) SendMessageA(m_hWnd, EM_SETREADONLY, TRUE, 0);
    if (m_maxLength) SendMessageA(m_hWnd, EM_SETLIMITTEXT, static_cast<WPARAM>(m_maxLength), 0);
}

int TEdit::GetTextBuf(char* pszBuf, int cap) const
{
    if (!pszBuf || cap <= 0) return 0;
    pszBuf[0] = '\0';
    if (!m_hWnd) return 0;
    int n = GetWindowTextA(m_hWnd, pszBuf, cap);
    if (n < 0) n = 0;
    if (n >= cap) n = cap - 1;
    pszBuf[n] = '\0';
    return n;
}

void TEdit::SetTextBuf(const char* pszText)
{
    if (m_hWnd) SetWindowTextA(m_hWnd, pszText ? pszText : "");
}

int TEdit::GetTextLen() const
{
    return m_hWnd ? GetWindowTextLengthA(m_hWnd) : 0;
}

void TEdit::SetTextQuiet(const std::string& text)
{
    ++m_quiet;
    SetWindowTextA(m_hWnd, text.c_str());
    --m_quiet;
}

void TEdit::WipeText()
{
    if (!m_hWnd) return;
    int n = GetWindowTextLengthA(m_hWnd);
    if (n <= 0) return;
    // Same length first, so the control overwrites its buffer in place.
    std::string filler(static_cast<size_t>(n), ' ');
    SetTextQuiet(filler);
    SetTextQuiet(std::string());
    // The undo buffer would keep the old text.
    SendMessageA(m_hWnd, EM_EMPTYUNDOBUFFER, 0, 0);
}

void TEdit::Clear()
{
    if (!m_hWnd) return;
    bool bHad = GetWindowTextLengthA(m_hWnd) > 0;
    WipeText();
    if (bHad && OnChange && CanFire()) OnChange(this);
}

void TEdit::SelectAll()
{
    if (m_hWnd) SendMessageA(m_hWnd, EM_SETSEL, 0, -1);
}

int TEdit::SelStart() const
{
    DWORD start = 0, end = 0;
    if (m_hWnd) SendMessageA(m_hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(start);
}

void TEdit::SetSelStart(int pos)
{
    if (m_hWnd) SendMessageA(m_hWnd, EM_SETSEL, static_cast<WPARAM>(pos), static_cast<LPARAM>(pos));
}

int TEdit::SelLength() const
{
    DWORD start = 0, end = 0;
    if (m_hWnd) SendMessageA(m_hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(end - start);
}

void TEdit::SetSelLength(int length)
{
    int start = SelStart();
    if (m_hWnd) SendMessageA(m_hWnd, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(start + length));
}

int TEdit::GetSelTextBuf(char* pszBuf, int cap) const
{
    if (!pszBuf || cap <= 0) return 0;
    pszBuf[0] = '\0';
    if (!m_hWnd) return 0;
    DWORD start = 0, end = 0;
    SendMessageA(m_hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    int len = GetWindowTextLengthA(m_hWnd);
    if (len <= 0 || end <= start) return 0;
    std::vector<char> buf(static_cast<size_t>(len) + 1, '\0');
    int got = GetWindowTextA(m_hWnd, buf.data(), len + 1);
    if (got < 0) got = 0;
    DWORD stop = std::min<DWORD>(end, static_cast<DWORD>(got));
    int n = 0;
    for (DWORD i = start; i < stop && n < cap - 1; ++i) pszBuf[n++] = buf[i];
    pszBuf[n] = '\0';
    Wipe(buf);
    return n;
}

std::string TEdit::SelText() const
{
    int len = GetTextLen();
    std::vector<char> buf(static_cast<size_t>(len) + 1, '\0');
    int n = GetSelTextBuf(buf.data(), len + 1);
    std::string text(buf.data(), static_cast<size_t>(n));
    Wipe(buf);
    return text;
}

void TEdit::SetSelText(const std::string& text)
{
    if (m_hWnd) SendMessageA(m_hWnd, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

bool TEdit::OnCommand(WORD wCode, LRESULT& lResult)
{
    if (wCode == EN_CHANGE) {
        m_bChangeSeen = true;
        if (!m_quiet && OnChange && CanFire()) OnChange(this);
        lResult = 0;
        return true;
    }
    return false;
}

bool TEdit::OnCtlColor(HDC hdc, LRESULT& lResult)
{
    SetBkColor(hdc, TkColorToRGB(m_color, GetSysColor(COLOR_WINDOW)));
    if (m_font.Color() != clDefault && IsWindowEnabled(m_hWnd)) SetTextColor(hdc, TkColorToRGB(m_font.Color()));
    lResult = reinterpret_cast<LRESULT>(ColorBrush());
    return true;
}

LRESULT TEdit::WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_COPY:
    case WM_CUT:
        // A masked text never reaches the clipboard.
        if (m_passwordChar) return 0;
        break;
    case WM_SETTEXT: {
        // Every change by code reports one change, also for multi-line edits
        // (which do not report WM_SETTEXT themselves).
        m_bChangeSeen = false;
        LRESULT r = TWinControl::WndProc(uMsg, wParam, lParam);
        if (!m_bChangeSeen && !m_quiet && m_hWnd && OnChange && CanFire()) OnChange(this);
        return r;
    }
    case WM_DESTROY:
        WipeText();
        break;
    default:
        break;
    }
    return TWinControl::WndProc(uMsg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// TMemo
// ---------------------------------------------------------------------------

TMemo::TMemo(TWinControl* pParent)
    : TEdit(pParent, ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL), m_lines(this)
{
    SetBounds(0, 0, 185, 89);
}

void TMemo::SetScrollBars(TScrollStyle style)
{
    if (style == m_scrollBars) return;
    m_scrollBars = style;
    DWORD dwStyle = CreateStyle() & ~static_cast<DWORD>(WS_HSCROLL | WS_VSCROLL);
    if (style == ssVertical || style == ssBoth) dwStyle |= WS_VSCROLL;
    if (style == ssHorizontal || style == ssBoth) dwStyle |= WS_HSCROLL;
    RecreateHandle(dwStyle, CreateExStyle());
}

void TMemo::SetWordWrap(bool bWrap)
{
    if (bWrap == m_bWordWrap) return;
    m_bWordWrap = bWrap;
    DWORD dwStyle = CreateStyle() & ~static_cast<DWORD>(ES_AUTOHSCROLL);
    if (!bWrap) dwStyle |= ES_AUTOHSCROLL;
    RecreateHandle(dwStyle, CreateExStyle());
}

void TMemo::SetCaption(const std::string& text)
{
    TEdit::SetCaption(NormalizeNewlines(text));
}

LRESULT TMemo::WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_GETDLGCODE) {
        // A multi-line edit wants every key, Enter included (a new line, not
        // the default button). Tab and Escape stay with the form: Tab moves on
        // to the next control and Escape presses the cancel button. Given to
        // the edit, Escape would post WM_CLOSE to the memo's parent, which
        // closes the form, or destroys a panel holding the memo.
        LRESULT code = TEdit::WndProc(uMsg, wParam, lParam);
        const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
        if (pMsg && pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_TAB || pMsg->wParam == VK_ESCAPE)) {
            code &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS);
        }
        return code;
    }
    return TEdit::WndProc(uMsg, wParam, lParam);
}

int TMemoLines::Count() const
{
    std::string text = Text();
    if (text.empty()) return 0;
    int n = 1;
    for (size_t pos = text.find("\r\n"); pos != std::string::npos; pos = text.find("\r\n", pos + 2)) ++n;
    return n;
}

std::string TMemoLines::Get(int index) const
{
    std::string text = Text();
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        size_t pos = text.find("\r\n", start);
        if (pos == std::string::npos) return std::string();
        start = pos + 2;
    }
    size_t end = text.find("\r\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void TMemoLines::Add(const std::string& line)
{
    std::string text = Text();
    if (!text.empty()) text += "\r\n";
    text += line;
    SetText(text);
}

void TMemoLines::Clear()
{
    SetText(std::string());
}

std::string TMemoLines::Text() const
{
    return m_pMemo->Caption();
}

void TMemoLines::SetText(const std::string& text)
{
    m_pMemo->SetCaption(text);
}

// ---------------------------------------------------------------------------
// TCheckBox
// ---------------------------------------------------------------------------

TCheckBox::TCheckBox(TWinControl* pParent) : TWinControl(pParent, pParent)
{
    CreateHandle(WC_BUTTONA, BS_AUTOCHECKBOX | WS_TABSTOP, 0, 0, 0, 97, 17);
}

bool TCheckBox::Checked() const
{
    return m_bChecked;
}

void TCheckBox::SetChecked(bool bChecked)
{
    if (bChecked == m_bChecked) return;
    m_bChecked = bChecked;
    if (m_hWnd) SendMessageA(m_hWnd, BM_SETCHECK, bChecked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (OnClick && CanFire()) OnClick(this);
}

void TCheckBox::Click()
{
    if (!m_bEnabled) return;
    SetChecked(!m_bChecked);
}

bool TCheckBox::OnCommand(WORD wCode, LRESULT& lResult)
{
    if (wCode == BN_CLICKED) {
        bool bNow = SendMessageA(m_hWnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (bNow != m_bChecked) {
            m_bChecked = bNow;
            if (OnClick && CanFire()) OnClick(this);
        }
        lResult = 0;
        return true;
    }
    return false;
}

bool TCheckBox::OnCtlColor(HDC hdc, LRESULT& lResult)
{
    return TWinControl::OnCtlColor(hdc, lResult);
}

// ---------------------------------------------------------------------------
// TGroupBox
// ---------------------------------------------------------------------------

TGroupBox::TGroupBox(TWinControl* pParent) : TWinControl(pParent, pParent)
{
    CreateHandle(WC_BUTTONA, BS_GROUPBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, 0, 0, 185, 105);
}

bool TGroupBox::OnCtlColor(HDC hdc, LRESULT& lResult)
{
    return TWinControl::OnCtlColor(hdc, lResult);
}

LRESULT TGroupBox::WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_NCHITTEST:
        // Clicks on the frame belong to the group (not to what lies below).
        return HTCLIENT;
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(m_hWnd, &rc);
        FillRect(reinterpret_cast<HDC>(wParam), &rc, ColorBrush());
        return 1;
    }
    case WM_PAINT: {
        LRESULT r = TWinControl::WndProc(uMsg, wParam, lParam);
        bool bAny = false;
        for (TControl* p : m_controls) bAny = bAny || dynamic_cast<TGraphicControl*>(p) != nullptr;
        if (bAny && m_hWnd) {
            HDC hdc = GetDC(m_hWnd);
            PaintGraphicChildren(hdc, nullptr);
            ReleaseDC(m_hWnd, hdc);
        }
        return r;
    }
    default:
        break;
    }
    return TWinControl::WndProc(uMsg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// TPanel
// ---------------------------------------------------------------------------

TPanel::TPanel(TWinControl* pParent) : TWinControl(pParent, pParent)
{
    CreateHandle(nullptr, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, 0, 0, 185, 41, "TPanel");
}

void TPanel::SetBevelOuter(TBevelCut bevel)
{
    m_bevelOuter = bevel;
    Invalidate();
}

void TPanel::SetAlignment(TAlignment alignment)
{
    m_alignment = alignment;
    Invalidate();
}

void TPanel::PaintWindow(HDC hdc)
{
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    if (m_color != clNone) FillRect(hdc, &rc, ColorBrush());
    if (m_bevelOuter == bvRaised) DrawEdge(hdc, &rc, BDR_RAISEDINNER, BF_RECT);
    if (m_bevelOuter == bvLowered) DrawEdge(hdc, &rc, BDR_SUNKENOUTER, BF_RECT);
    std::string text = Caption();
    if (!text.empty()) {
        SetBkMode(hdc, TRANSPARENT);
        SetTextColor(hdc, TkColorToRGB(m_font.Color(), GetSysColor(COLOR_BTNTEXT)));
        HGDIOBJ hOld = SelectObject(hdc, m_font.Handle());
        RECT inner = rc;
        InflateRect(&inner, -4, -2);
        UINT flags = DT_VCENTER | DT_SINGLELINE;
        flags |= m_alignment == taCenter ? DT_CENTER : (m_alignment == taRightJustify ? DT_RIGHT : DT_LEFT);
        DrawTextA(hdc, text.c_str(), -1, &inner, flags);
        SelectObject(hdc, hOld);
    }
    PaintGraphicChildren(hdc, nullptr);
}

// ---------------------------------------------------------------------------
// TImage
// ---------------------------------------------------------------------------

TImage::TImage(TWinControl* pParent) : TGraphicControl(pParent)
{
    m_bounds = RECT{0, 0, 105, 105};
    RememberAnchorBase();
}

TImage::~TImage()
{
    FreeBitmap();
}

void TImage::FreeBitmap()
{
    if (m_hBitmap && m_bOwnBitmap) DeleteObject(m_hBitmap);
    m_hBitmap = nullptr;
    m_bOwnBitmap = false;
}

void TImage::SetBitmap(HBITMAP hBitmap, bool bOwn)
{
    if (hBitmap != m_hBitmap) FreeBitmap();
    m_hBitmap = hBitmap;
    m_bOwnBitmap = hBitmap && bOwn;
    if (m_bAutoSize && m_hBitmap) {
        SIZE sz = PictureSize();
        SetBounds(m_bounds.left, m_bounds.top, sz.cx, sz.cy);
    }
    Invalidate();
}

SIZE TImage::PictureSize() const
{
    SIZE sz{0, 0};
    BITMAP bm{};
    if (m_hBitmap && GetObject(m_hBitmap, sizeof(bm), &bm)) {
        sz.cx = bm.bmWidth;
        sz.cy = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    }
    return sz;
}

void TImage::SetStretch(bool bStretch)
{
    m_bStretch = bStretch;
    Invalidate();
}

void TImage::SetCenter(bool bCenter)
{
    m_bCenter = bCenter;
    Invalidate();
}

void TImage::SetAutoSize(bool bAutoSize)
{
    m_bAutoSize = bAutoSize;
    if (m_bAutoSize && m_hBitmap) {
        SIZE sz = PictureSize();
        SetBounds(m_bounds.left, m_bounds.top, sz.cx, sz.cy);
    }
}

void TImage::Paint(HDC hdc, const RECT& rc)
{
    if (!m_hBitmap) return;
    SIZE sz = PictureSize();
    HDC hMem = CreateCompatibleDC(hdc);
    HGDIOBJ hOld = SelectObject(hMem, m_hBitmap);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (m_bStretch) {
        int oldMode = SetStretchBltMode(hdc, HALFTONE);
        SetBrushOrgEx(hdc, 0, 0, nullptr);
        StretchBlt(hdc, rc.left, rc.top, w, h, hMem, 0, 0, sz.cx, sz.cy, SRCCOPY);
        SetStretchBltMode(hdc, oldMode);
    } else {
        int x = rc.left, y = rc.top;
        if (m_bCenter) {
            x += (w - sz.cx) / 2;
            y += (h - sz.cy) / 2;
        }
        BitBlt(hdc, x, y, sz.cx, sz.cy, hMem, 0, 0, SRCCOPY);
    }
    SelectObject(hMem, hOld);
    DeleteDC(hMem);
}

// ---------------------------------------------------------------------------
// TUpDown
// ---------------------------------------------------------------------------

TUpDown::TUpDown(TWinControl* pParent) : TWinControl(pParent, pParent)
{
    CreateHandle(UPDOWN_CLASSA, UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0, 0, 0, 17, 21);
    ApplyRange();
}

void TUpDown::ApplyRange()
{
    if (!m_hWnd) return;
    SendMessageA(m_hWnd, UDM_SETRANGE32, static_cast<WPARAM>(m_min), static_cast<LPARAM>(m_max));
    SendMessageA(m_hWnd, UDM_SETPOS32, 0, static_cast<LPARAM>(m_position));
    UDACCEL accel{0, static_cast<UINT>(m_increment)};
    SendMessageA(m_hWnd, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
}

void TUpDown::SetAssociate(TWinControl* pBuddy)
{
    m_pBuddy = pBuddy;
    if (!m_hWnd) return;
    SendMessageA(m_hWnd, UDM_SETBUDDY, reinterpret_cast<WPARAM>(pBuddy ? pBuddy->Handle() : nullptr), 0);
    SendMessageA(m_hWnd, UDM_SETPOS32, 0, static_cast<LPARAM>(m_position));
    // Placed at the buddy's right edge, the arrows take that part of it: the
    // buddy ends where they begin (some systems leave it as wide as before,
    // with its text under the arrows).
    if (pBuddy) {
        const RECT rcBuddy = pBuddy->BoundsRect();
        const RECT rcSelf = BoundsRect();
        if (rcSelf.left > rcBuddy.left && rcSelf.left < rcBuddy.right && rcSelf.top < rcBuddy.bottom &&
            rcSelf.bottom > rcBuddy.top)
            pBuddy->SetBounds(rcBuddy.left, rcBuddy.top, rcSelf.left - rcBuddy.left, rcBuddy.bottom - rcBuddy.top);
    }
}

void TUpDown::SetMin(int value)
{
    m_min = value;
    if (m_max < m_min) m_max = m_min;
    m_position = std::max(m_min, std::min(m_position, m_max));
    ApplyRange();
}

void TUpDown::SetMax(int value)
{
    m_max = value;
    if (m_min > m_max) m_min = m_max;
    m_position = std::max(m_min, std::min(m_position, m_max));
    ApplyRange();
}

int TUpDown::Position() const
{
    return m_position;
}

void TUpDown::SetPosition(int value)
{
    m_position = std::max(m_min, std::min(value, m_max));
    if (m_hWnd) SendMessageA(m_hWnd, UDM_SETPOS32, 0, static_cast<LPARAM>(m_position));
}

void TUpDown::SetIncrement(int value)
{
    m_increment = value > 0 ? value : 1;
    ApplyRange();
}

void TUpDown::SetOrientation(TUDOrientation orientation)
{
    DWORD style = CreateStyle() & ~static_cast<DWORD>(UDS_HORZ);
    if (orientation == udHorizontal) style |= UDS_HORZ;
    RecreateHandle(style, CreateExStyle());
    ApplyRange();
    if (m_pBuddy) SetAssociate(m_pBuddy);
}

bool TUpDown::OnNotify(NMHDR* pHdr, LRESULT& lResult)
{
    if (pHdr->code == UDN_DELTAPOS) {
        auto* pUd = reinterpret_cast<NMUPDOWN*>(pHdr);
        m_lastButton = pUd->iDelta > 0 ? btNext : btPrev;
        bool bAllow = true;
        if (OnChanging && CanFire()) OnChanging(this, bAllow);
        lResult = bAllow ? 0 : 1;
        return true;
    }
    return false;
}

bool TUpDown::OnScroll(UINT, WPARAM wParam, LRESULT& lResult)
{
    if (LOWORD(wParam) == SB_THUMBPOSITION) {
        BOOL bError = FALSE;
        int pos = static_cast<int>(SendMessageA(m_hWnd, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&bError)));
        if (!bError) m_position = pos;
        if (OnClick && CanFire()) OnClick(this, m_lastButton);
    }
    lResult = 0;
    return true;
}

// ---------------------------------------------------------------------------
// TProgressBar
// ---------------------------------------------------------------------------

TProgressBar::TProgressBar(TWinControl* pParent) : TWinControl(pParent, pParent)
{
    CreateHandle(PROGRESS_CLASSA, 0, 0, 0, 0, 150, 16);
    ApplyRange();
}

void TProgressBar::ApplyRange()
{
    if (!m_hWnd) return;
    SendMessageA(m_hWnd, PBM_SETRANGE32, static_cast<WPARAM>(m_min), static_cast<LPARAM>(m_max));
    SendMessageA(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(std::max(m_min, std::min(m_position, m_max))), 0);
}

void TProgressBar::SetMin(int value)
{
    m_min = value;
    if (m_max < m_min) m_max = m_min;
    ApplyRange();
}

void TProgressBar::SetMax(int value)
{
    m_max = value;
    if (m_min > m_max) m_min = m_max;
    ApplyRange();
}

void TProgressBar::SetPosition(int value)
{
    m_position = value;
    if (m_hWnd) {
        SendMessageA(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(std::max(m_min, std::min(m_position, m_max))), 0);
    }
}

void TProgressBar::SetOrientation(TProgressBarOrientation orientation)
{
    if (orientation == m_orientation) return;
    m_orientation = orientation;
    DWORD style = CreateStyle() & ~static_cast<DWORD>(PBS_VERTICAL);
    if (orientation == pbVertical) style |= PBS_VERTICAL;
    RecreateHandle(style, CreateExStyle());
    ApplyRange();
}

void TProgressBar::SetSmooth(bool bSmooth)
{
    if (bSmooth == m_bSmooth) return;
    m_bSmooth = bSmooth;
    DWORD style = CreateStyle() & ~static_cast<DWORD>(PBS_SMOOTH);
    if (bSmooth) style |= PBS_SMOOTH;
    RecreateHandle(style, CreateExStyle());
    ApplyRange();
}
