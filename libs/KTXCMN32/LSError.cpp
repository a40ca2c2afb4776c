// TLSError: the standard message boxes.
//
// MessageBoxA cannot carry the language library's button texts, so each box
// is a modal dialog built from an in-memory template (DialogBoxIndirectParamA)
// of the standard dialog class "#32770": an icon, the text, for errors a
// heading with the recorded detail in a read-only field, and the buttons
// (IDYES/IDNO for a question, IDOK otherwise) captioned from the language
// library. The box is owned by the given window, or else by the owner's
// parent-window slot; it appears centred on that window when it is shown, else
// centred on the work area of its monitor (the primary one without an owner
// window), and always whole on that work area. Its caption and task bar show
// the program's icon. Escape and the close box answer "no" to a question and
// close a notice.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CmnPrivate.h"
#include "KTXCMN32.h"
#include "KTXLANG.h"
#include "LSStr.h"

namespace {

enum : int {
    IDC_BOX_ICON = 100,
    IDC_BOX_TEXT = 101,
    IDC_BOX_HEADING = 102,
    IDC_BOX_DETAIL = 103
};

struct BoxButton {
    int nId;
    std::string text;
};

// Wipes a text that may hold a secret (a question can show a generated
// password) before its memory is freed.
void WipeText(std::string& text)
{
    if (!text.empty()) SecureZeroMemory(&text[0], text.size());
    text.clear();
}

// A box's texts; the message and its details are wiped when the box goes.
struct BoxContent {
    BoxContent() = default;
    BoxContent(const BoxContent&) = delete;
    BoxContent& operator=(const BoxContent&) = delete;
    ~BoxContent()
    {
        WipeText(text);
        WipeText(detail);
    }
    TLSOwner* pOwner = nullptr;
    std::string caption;
    std::string text;
    std::string heading;        // empty: no detail part
    std::string detail;
    LPCSTR pszIcon = IDI_INFORMATION;
    std::vector<BoxButton> buttons;
    int nDefaultId = IDOK;
    int nEscapeId = IDOK;
};

// --- the in-memory template --------------------------------------------------

class TemplateBuilder {
public:
    void Align()
    {
        if (m_words.size() % 2) m_words.push_back(0);  // DWORD alignment
    }
    void Word(WORD w) { m_words.push_back(w); }
    void Dword(DWORD d)
    {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const wchar_t* pwsz)
    {
        for (; *pwsz; ++pwsz) Word(static_cast<WORD>(*pwsz));
        Word(0);
    }
    // A control item; the class is a predefined atom (0x0080 button, 0x0081 edit, 0x0082 static).
    void Item(DWORD dwStyle, int nId, WORD wClassAtom)
    {
        Align();
        Dword(dwStyle | WS_CHILD | WS_VISIBLE);
        Dword(0);                      // extended style
        Word(0); Word(0); Word(1); Word(1);  // laid out when the box opens
        Word(static_cast<WORD>(nId));
        Word(0xFFFF);
        Word(wClassAtom);
        Word(0);                       // no title: texts are set when the box opens
        Word(0);                       // no creation data
        ++m_nItems;
    }
    LPCDLGTEMPLATEA Finish()
    {
        m_words[kCountIndex] = m_nItems;
        return reinterpret_cast<LPCDLGTEMPLATEA>(m_words.data());
    }
    void Header(DWORD dwStyle)
    {
        Dword(dwStyle);
        Dword(0);      // extended style
        Word(0);       // item count, filled by Finish
        Word(0); Word(0); Word(10); Word(10);
        Word(0);       // no menu
        Word(0);       // standard dialog class
        Word(0);       // no title: set when the box opens
        Word(8);       // point size of DS_SETFONT
        Text(L"MS Shell Dlg");
    }

private:
    static constexpr size_t kCountIndex = 4;  // after style and extended style
    std::vector<WORD> m_words;
    WORD m_nItems = 0;
};

// --- the program's icon ----------------------------------------------------------

// The first icon group of the program (the process's main module): an id, or a
// name that EnumResourceNamesA hands over only during the enumeration.
struct IconGroupName {
    bool bFound = false;
    WORD wId = 0;
    std::string text;
    LPCSTR Get() const { return text.empty() ? MAKEINTRESOURCEA(wId) : text.c_str(); }
};

BOOL CALLBACK TakeFirstIconGroup(HMODULE, LPCSTR, LPSTR pszName, LONG_PTR lParam)
{
    auto* pName = reinterpret_cast<IconGroupName*>(lParam);
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
    return FALSE;  // the first group is the one Explorer shows for the program
}

struct ProgramIcons {
    HICON hSmall = nullptr;
    HICON hBig = nullptr;
    ProgramIcons()
    {
        HMODULE hExe = GetModuleHandleA(nullptr);
        IconGroupName name;
        EnumResourceNamesA(hExe, RT_GROUP_ICON, &TakeFirstIconGroup, reinterpret_cast<LONG_PTR>(&name));
        if (!name.bFound) return;
        // Shared: the same handles as the program's own windows have.
        hSmall = static_cast<HICON>(LoadImageA(hExe, name.Get(), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        hBig = static_cast<HICON>(LoadImageA(hExe, name.Get(), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_SHARED));
    }
};

// Gives the box the program's icon, loaded once; a program without one leaves the box as it is.
void SetProgramIcon(HWND hDlg)
{
    static const ProgramIcons s_icons;
    if (!s_icons.hSmall && !s_icons.hBig) return;
    HICON hSmall = s_icons.hSmall ? s_icons.hSmall : s_icons.hBig;
    HICON hBig = s_icons.hBig ? s_icons.hBig : s_icons.hSmall;
    SendMessageA(hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall));
    SendMessageA(hDlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hBig));
    // Windows hides the caption icon of a window with the modal dialog frame.
    LONG_PTR ex = GetWindowLongPtrA(hDlg, GWL_EXSTYLE);
    if (ex & WS_EX_DLGMODALFRAME) {
        SetWindowLongPtrA(hDlg, GWL_EXSTYLE, ex & ~static_cast<LONG_PTR>(WS_EX_DLGMODALFRAME));
        SetWindowPos(hDlg, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// --- layout --------------------------------------------------------------------

SIZE MeasureText(HWND hDlg, const char* pszText, int nMaxWidth)
{
    RECT rc = {0, 0, nMaxWidth, 0};
    HDC hdc = GetDC(hDlg);
    HGDIOBJ hOld = SelectObject(hdc, reinterpret_cast<HGDIOBJ>(SendMessageA(hDlg, WM_GETFONT, 0, 0)));
    DrawTextA(hdc, *pszText ? pszText : " ", -1, &rc,
              DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(hdc, hOld);
    ReleaseDC(hDlg, hdc);
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

// A text too tall for its room becomes a scrolling read-only field in place of the control.
HWND ScrollingText(HWND hDlg, int nId, bool bBorder)
{
    HWND hOld = GetDlgItem(hDlg, nId);
    if (hOld) DestroyWindow(hOld);
    HWND hEdit = CreateWindowExA(bBorder ? WS_EX_CLIENTEDGE : 0, "EDIT", "",
                                 WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY |
                                     ES_AUTOVSCROLL,
                                 0, 0, 1, 1, hDlg, reinterpret_cast<HMENU>(static_cast<INT_PTR>(nId)),
                                 reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hDlg, GWLP_HINSTANCE)), nullptr);
    if (hEdit) SendMessageA(hEdit, WM_SETFONT, SendMessageA(hDlg, WM_GETFONT, 0, 0), FALSE);
    return hEdit;
}

// Line breaks as an edit control shows them (CR LF). The room for every
// added CR is reserved first, so no copy of the text is left behind by a
// growing buffer.
std::string EditText(const std::string& text)
{
    std::string out;
    out.reserve(2 * text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += c;
    }
    return out;
}

// Shows a text in an edit control; the converted copy is wiped at once.
void SetEditText(HWND hEdit, const std::string& text)
{
    std::string shown = EditText(text);
    SetWindowTextA(hEdit, shown.c_str());
    WipeText(shown);
}

void LayOut(HWND hDlg, const BoxContent& content)
{
    RECT rcDu = {7, 7, 50, 14};  // margin, margin, button width, button height in dialog units
    MapDialogRect(hDlg, &rcDu);
    const int nMargin = rcDu.left;
    const int nGap = nMargin / 2 + 1;
    const int nButtonH = rcDu.bottom;

    HWND hParent = GetWindow(hDlg, GW_OWNER);
    HMONITOR hMon = hParent ? MonitorFromWindow(hParent, MONITOR_DEFAULTTONEAREST)
                            : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    GetMonitorInfoA(hMon, &mi);
    const RECT rcWork = mi.rcWork;
    const int nWorkW = rcWork.right - rcWork.left;
    const int nWorkH = rcWork.bottom - rcWork.top;

    // Buttons: at least 50 dialog units wide, wide enough for their texts.
    int nButtonW = rcDu.right;
    for (const BoxButton& b : content.buttons) {
        SIZE sz = MeasureText(hDlg, b.text.c_str(), nWorkW);
        nButtonW = std::max<int>(nButtonW, sz.cx + 2 * nMargin);
    }
    const int nButtons = static_cast<int>(content.buttons.size());
    const int nButtonsW = nButtons * nButtonW + (nButtons - 1) * nGap;

    const int nIcon = GetSystemMetrics(SM_CXICON);
    const int nMaxTextW = std::max(200, std::min(nWorkW / 2, nButtonW * 9));
    SIZE szText = MeasureText(hDlg, content.text.c_str(), nMaxTextW);
    int nContentW = std::max<int>({szText.cx, nButtonsW - nIcon - nMargin, rcDu.right * 3});
    int nTextH = szText.cy;
    const int nMaxTextH = nWorkH / 2;
    if (nTextH > nMaxTextH) {
        // Too long to show whole: the text scrolls.
        HWND hEdit = ScrollingText(hDlg, IDC_BOX_TEXT, false);
        if (hEdit) SetEditText(hEdit, content.text);
        nTextH = nMaxTextH;
        nContentW += GetSystemMetrics(SM_CXVSCROLL);
    }

    int nHeadingH = 0, nDetailH = 0;
    if (!content.heading.empty()) {
        nHeadingH = MeasureText(hDlg, content.heading.c_str(), nContentW).cy;
        // The field's border and inner margins take a few pixels on each side.
        const int nFrame = 2 * GetSystemMetrics(SM_CXEDGE) + 8;
        SIZE szDetail = MeasureText(hDlg, content.detail.c_str(), nContentW - nFrame);
        const int nLine = MeasureText(hDlg, "X", nContentW).cy;
        nDetailH = szDetail.cy + nFrame;
        if (nDetailH > nLine * 8 + nFrame) {
            nDetailH = nLine * 8 + nFrame;
            HWND hEdit = ScrollingText(hDlg, IDC_BOX_DETAIL, true);
            if (hEdit) SetEditText(hEdit, content.detail);
        }
    }

    // Client area: icon and text side by side, the detail below them, the buttons at the bottom.
    const int nTextX = nMargin + nIcon + nMargin;
    const int nClientW = std::max(nTextX + nContentW + nMargin, nButtonsW + 2 * nMargin);
    int y = nMargin;
    const int nTopH = std::max(nIcon, nTextH);
    SetWindowPos(GetDlgItem(hDlg, IDC_BOX_ICON), nullptr, nMargin, y, nIcon, nIcon, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(GetDlgItem(hDlg, IDC_BOX_TEXT), nullptr, nTextX, y + (nTopH - nTextH) / 2, nContentW, nTextH,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    y += nTopH + nMargin;
    if (!content.heading.empty()) {
        SetWindowPos(GetDlgItem(hDlg, IDC_BOX_HEADING), nullptr, nTextX, y, nContentW, nHeadingH,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        y += nHeadingH + nGap;
        SetWindowPos(GetDlgItem(hDlg, IDC_BOX_DETAIL), nullptr, nTextX, y, nContentW, nDetailH,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        y += nDetailH + nMargin;
    }
    int x = (nClientW - nButtonsW) / 2;
    for (const BoxButton& b : content.buttons) {
        SetWindowPos(GetDlgItem(hDlg, b.nId), nullptr, x, y, nButtonW, nButtonH, SWP_NOZORDER | SWP_NOACTIVATE);
        x += nButtonW + nGap;
    }
    const int nClientH = y + nButtonH + nMargin;

    RECT rcWin = {0, 0, nClientW, nClientH};
    AdjustWindowRectEx(&rcWin, static_cast<DWORD>(GetWindowLongPtrA(hDlg, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(hDlg, GWL_EXSTYLE)));
    const int nW = rcWin.right - rcWin.left;
    const int nH = rcWin.bottom - rcWin.top;

    // Centred on the owner window the user sees, else on the work area; the
    // dialog position of the owner handle is the shared dialogs' own.
    int nLeft, nTop;
    RECT rcParent;
    if (hParent && IsWindowVisible(hParent) && !IsIconic(hParent) && GetWindowRect(hParent, &rcParent)) {
        nLeft = rcParent.left + (rcParent.right - rcParent.left - nW) / 2;
        nTop = rcParent.top + (rcParent.bottom - rcParent.top - nH) / 2;
    } else {
        nLeft = rcWork.left + (nWorkW - nW) / 2;
        nTop = rcWork.top + (nWorkH - nH) / 2;
    }
    // The whole box stays on the screen.
    nLeft = std::max<int>(rcWork.left, std::min<int>(nLeft, rcWork.right - nW));
    nTop = std::max<int>(rcWork.top, std::min<int>(nTop, rcWork.bottom - nH));
    SetWindowPos(hDlg, nullptr, nLeft, nTop, nW, nH, SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- the box -------------------------------------------------------------------

INT_PTR OnInitBox(HWND hDlg, const BoxContent& content)
{
    SetWindowTextA(hDlg, content.caption.c_str());
    SetProgramIcon(hDlg);
    SendDlgItemMessageA(hDlg, IDC_BOX_ICON, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, content.pszIcon)),
                        0);
    SetDlgItemTextA(hDlg, IDC_BOX_TEXT, content.text.c_str());
    if (!content.heading.empty()) {
        SetDlgItemTextA(hDlg, IDC_BOX_HEADING, content.heading.c_str());
        SetEditText(GetDlgItem(hDlg, IDC_BOX_DETAIL), content.detail);
    }
    for (const BoxButton& b : content.buttons) SetDlgItemTextA(hDlg, b.nId, b.text.c_str());
    LayOut(hDlg, content);
    SendMessageA(hDlg, DM_SETDEFID, static_cast<WPARAM>(content.nDefaultId), 0);
    SetFocus(GetDlgItem(hDlg, content.nDefaultId));
    return FALSE;  // the focus is set
}

INT_PTR CALLBACK BoxProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    try {
        switch (uMsg) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(hDlg, DWLP_USER, lParam);
            return OnInitBox(hDlg, *reinterpret_cast<const BoxContent*>(lParam));
        case WM_COMMAND: {
            const auto* pSpec = reinterpret_cast<const BoxContent*>(GetWindowLongPtrA(hDlg, DWLP_USER));
            if (!pSpec || HIWORD(wParam) != BN_CLICKED) return FALSE;
            int nId = LOWORD(wParam);
            if (nId == IDCANCEL) {  // Escape or the close box
                EndDialog(hDlg, pSpec->nEscapeId);
                return TRUE;
            }
            for (const BoxButton& b : pSpec->buttons) {
                if (b.nId == nId) {
                    EndDialog(hDlg, nId);
                    return TRUE;
                }
            }
            return FALSE;
        }
        default:
            return FALSE;
        }
    } catch (...) {
        // Nothing unwinds through the dialog manager; a box that cannot lay itself out still answers.
        return FALSE;
    }
}

// The window that owns the box: the given one, or else the owner's slot.
HWND BoxOwnerWindow(TLSOwner* pOwner, HWND hWnd)
{
    HWND h = (hWnd && IsWindow(hWnd)) ? hWnd : nullptr;
    if (!h && pOwner && pOwner->hOwnerWnd && IsWindow(pOwner->hOwnerWnd)) h = pOwner->hOwnerWnd;
    return h ? GetAncestor(h, GA_ROOT) : nullptr;
}

// Shows the box and returns the id of the button that closed it, 0 when it could not be shown.
int ShowBox(const BoxContent& content, HWND hWnd)
{
    TemplateBuilder tpl;
    tpl.Header(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
    tpl.Item(SS_ICON, IDC_BOX_ICON, 0x0082);
    tpl.Item(SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, IDC_BOX_TEXT, 0x0082);
    if (!content.heading.empty()) {
        tpl.Item(SS_LEFT | SS_NOPREFIX, IDC_BOX_HEADING, 0x0082);
        tpl.Item(WS_BORDER | WS_TABSTOP | ES_MULTILINE | ES_READONLY, IDC_BOX_DETAIL, 0x0081);
    }
    for (const BoxButton& b : content.buttons)
        tpl.Item(WS_TABSTOP | (b.nId == content.nDefaultId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), b.nId, 0x0080);
    LPCDLGTEMPLATEA pTemplate = tpl.Finish();

    HWND hOwnerWnd = BoxOwnerWindow(content.pOwner, hWnd);
    INT_PTR nResult = DialogBoxIndirectParamA(cmn32tools::SelfModule(), pTemplate, hOwnerWnd, BoxProc,
                                              reinterpret_cast<LPARAM>(&content));
    return nResult > 0 ? static_cast<int>(nResult) : 0;
}

std::string TextOr(const char* psz, const char* pszDefault)
{
    return std::string((psz && *psz) ? psz : (pszDefault ? pszDefault : ""));
}

}  // namespace

bool TLSError::StdAskMsg(TLSOwner* pOwner, HWND hWnd, const char* pszCaption, const char* pszText, const void*,
                         const void*, const void*, const void*, const void*, const void*)
{
    // The six further values are not used: the text is shown as given, never
    // used as a format (it may hold entry names with '%' in them).
    try {
        BoxContent content;
        content.pOwner = pOwner;
        content.caption = TextOr(pszCaption, DLS_MSGBOX_CAPTION_QUESTION());
        content.text = TextOr(pszText, "");
        content.pszIcon = IDI_QUESTION;
        content.buttons = {{IDYES, DLS_MSGBOX_BTN_YES()}, {IDNO, DLS_MSGBOX_BTN_NO()}};
        content.nDefaultId = IDYES;
        content.nEscapeId = IDNO;
        return ShowBox(content, hWnd) == IDYES;
    } catch (...) {
        return false;
    }
}

bool TLSError::StdHinweisMsg(TLSOwner* pOwner, HWND hWnd, const char* pszText, const char* pszCaption,
                             const char* pszMore)
{
    try {
        BoxContent content;
        content.pOwner = pOwner;
        content.caption = TextOr(pszCaption, DLS_MSGBOX_CAPTION_NOTICE());
        content.text = TextOr(pszText, "");
        if (pszMore && *pszMore) {
            content.text += "\n\n";
            content.text += pszMore;
        }
        content.pszIcon = IDI_INFORMATION;
        content.buttons = {{IDOK, DLS_MSGBOX_BTN_OK()}};
        MessageBeep(MB_ICONINFORMATION);
        return ShowBox(content, hWnd) != 0;
    } catch (...) {
        return false;
    }
}

bool TLSError::StdErrorMsg(TLSOwner* pOwner, HWND hWnd, bool bResult, bool bCancelled, const char* pszText)
{
    if (bResult || bCancelled) return bResult;
    // The box is the last step of a failing operation: its caller still reads its own error code afterwards.
    cmn32tools::TKeepLastError keep;
    try {
        BoxContent content;
        content.pOwner = pOwner;
        content.caption = DLS_MSGBOX_CAPTION_ERROR();
        content.text = TextOr(pszText, DLS_MSGBOX_FAILED());
        const tag_TLSErrHandler* pErr = LSOwnerErr(pOwner);
        if (pErr && pErr->bFailed) {
            // What failed first, and why: the recorded failure text and its detail.
            content.heading = DLS_MSGBOX_DETAILS();
            content.detail = std::string(pErr->szMessage, strnlen(pErr->szMessage, sizeof(pErr->szMessage)));
            std::string detail(pErr->szDetail, strnlen(pErr->szDetail, sizeof(pErr->szDetail)));
            if (!detail.empty()) {
                if (!content.detail.empty()) content.detail += "\n";
                content.detail += detail;
            }
            if (content.detail.empty()) content.heading.clear();
        }
        content.pszIcon = IDI_ERROR;
        content.buttons = {{IDOK, DLS_MSGBOX_BTN_OK()}};
        LS_TRACE_LOG(nullptr, "TLSError::StdErrorMsg");
        MessageBeep(MB_ICONERROR);
        ShowBox(content, hWnd);
    } catch (...) {
        // The failure stays the caller's answer even when it cannot be shown.
    }
    return bResult;
}
