// The progress dialog.
#include "DlgProgress.h"

#include <cstring>
#include <vector>

#include "KTXLANG.h"
#include "LSStr.h"

namespace ktxdlg {

namespace {

// The entry name of a record: at most the bytes of its field (a name without
// terminator is cut there), control characters shown as spaces.
std::string RecordName(const TLSProgress* pProgress)
{
    size_t cch = strnlen(pProgress->szName, sizeof(pProgress->szName));
    std::string name(pProgress->szName, cch);
    for (char& ch : name) {
        if (static_cast<unsigned char>(ch) < 32) ch = ' ';
    }
    return name;
}

// Width of a text in the control's font.
int TextWidth(HDC hdc, const std::string& text)
{
    SIZE size{0, 0};
    GetTextExtentPoint32A(hdc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// The line for the record, with the name shortened ("...") until the whole
// line fits the control's width, so that the counter always shows.
std::string FitLine(TStaticText* pText, const std::string& name, int nIndex, int nCount)
{
    auto format = [&](const std::string& shown) {
        return nCount > 0 ? FormatText(DLS_DLG_PROGRESS_ITEM(), shown.c_str(), nIndex + 1, nCount) : shown;
    };
    std::string line = format(name);
    HWND hWnd = pText->Handle();
    HDC hdc = GetDC(hWnd);
    if (!hdc) return line;
    HGDIOBJ hOld = SelectObject(hdc, reinterpret_cast<HGDIOBJ>(SendMessageA(hWnd, WM_GETFONT, 0, 0)));
    int cxAvail = pText->ClientWidth();
    if (TextWidth(hdc, line) > cxAvail) {
        // The longest beginning of the name that still fits, by halving.
        size_t lo = 0, hi = name.size();
        while (lo < hi) {
            size_t mid = (lo + hi + 1) / 2;
            if (TextWidth(hdc, format(name.substr(0, mid) + "...")) <= cxAvail)
                lo = mid;
            else
                hi = mid - 1;
        }
        line = format(name.substr(0, lo) + "...");
    }
    SelectObject(hdc, hOld);
    ReleaseDC(hWnd, hdc);
    return line;
}

BOOL CALLBACK CollectChild(HWND hWnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

}  // namespace

// ---------------------------------------------------------------------------
// The window
// ---------------------------------------------------------------------------

TfrmDlgProgress::TfrmDlgProgress(TLSOwner* pOwner, HWND hParent)
    : TForm(nullptr, "TfrmDlgProgress", ResolveParent(pOwner, hParent))
{
    const int cxClient = 440;
    const int cxInner = cxClient - 2 * kMargin;
    SetupDialogForm(this, DLS_DLG_PROGRESS_CAPTION(), false);

    int y = kMargin;
    txtTitel = MakeText(this, DLS_DLG_PROGRESS_ENTRIES(), kMargin, y, cxInner, 32);
    txtTitel->SetName("txtTitel");
    y += 32 + kGap;
    txtEintrag = MakeText(this, "", kMargin, y, cxInner, 18);
    txtEintrag->SetName("txtEintrag");
    // Entry names are shown as they are: an ampersand is no mnemonic here.
    LONG_PTR style = GetWindowLongPtrA(txtEintrag->Handle(), GWL_STYLE);
    SetWindowLongPtrA(txtEintrag->Handle(), GWL_STYLE, style | SS_NOPREFIX);
    y += 18 + kGap;
    pbFortschritt = new TProgressBar(this);
    pbFortschritt->SetName("pbFortschritt");
    pbFortschritt->SetBounds(kMargin, y, cxInner, 18);
    pbFortschritt->SetSmooth(true);
    pbFortschritt->SetMin(0);
    pbFortschritt->SetMax(1);
    y += 18;
    SetClientSize(cxClient, y + kMargin);
    OnCloseQuery = TkMethod(this, &TfrmDlgProgress::FormCloseQuery);
    PlaceForm(this, pOwner);
}

void TfrmDlgProgress::FormCloseQuery(TObject*, bool& CanClose)
{
    // Only the caller ends the progress display, never the user.
    CanClose = false;
}

void TfrmDlgProgress::DoShowHeading(int nTextId)
{
    txtTitel->SetCaption(nTextId == kProgressTextEntries ? DLS_DLG_PROGRESS_ENTRIES() : DLS_DLG_PROGRESS_WORKING());
}

void TfrmDlgProgress::DoShowState(const TLSProgress* pProgress)
{
    if (!pProgress) {
        txtEintrag->SetCaption("");
        pbFortschritt->SetMax(1);
        pbFortschritt->SetPosition(0);
        return;
    }
    int nCount = pProgress->nCount;
    int nIndex = pProgress->nIndex;
    std::string name = RecordName(pProgress);
    if (nCount > 0) {
        if (nIndex < 0) nIndex = 0;
        if (nIndex >= nCount) nIndex = nCount - 1;
        pbFortschritt->SetMax(nCount);
        pbFortschritt->SetPosition(nIndex + 1);
    } else {
        pbFortschritt->SetMax(1);
        pbFortschritt->SetPosition(0);
    }
    txtEintrag->SetCaption(FitLine(txtEintrag, name, nIndex, nCount > 0 ? nCount : 0));
}

void TfrmDlgProgress::DoPumpOwnMessages()
{
    if (!HandleAllocated()) return;
    std::vector<HWND> windows{Handle()};
    EnumChildWindows(Handle(), CollectChild, reinterpret_cast<LPARAM>(&windows));
    for (HWND hWnd : windows) {
        MSG msg;
        // A bounded number per window: a control that keeps posting to
        // itself must not hold the caller here.
        for (int n = 0; n < 64 && PeekMessageA(&msg, hWnd, 0, 0, PM_REMOVE); ++n) Application->DispatchOne(msg);
    }
    RedrawWindow(Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    // What was painted reaches the screen only when the thread looks at its
    // queue as a whole; nothing is taken from it here.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

// ---------------------------------------------------------------------------
// The object behind DYN_DoGetFrmDlgProgress
// ---------------------------------------------------------------------------

TLSProgressDlgImpl::TLSProgressDlgImpl(TLSOwner* pOwner, HWND hParent) : m_pOwner(pOwner), m_hParent(hParent) {}

TLSProgressDlgImpl::~TLSProgressDlgImpl() = default;

HWND TLSProgressDlgImpl::WindowHandle() const
{
    return m_pForm && m_pForm->HandleAllocated() ? m_pForm->Handle() : nullptr;
}

bool TLSProgressDlgImpl::Show(TLSOwner* pOwner, HWND hParent, TLSProgress* pProgress, bool bVisible, int nTextId,
                              int nFlags, bool* pbCancel)
{
    // Nothing the user does here cancels the work.
    if (pbCancel) *pbCancel = false;
    if (pOwner) m_pOwner = pOwner;
    if (hParent) m_hParent = hParent;
    try {
        if (!bVisible) {
            if (m_pForm && m_pForm->Visible()) m_pForm->Hide();
            return true;
        }
        HWND hOwnerWnd = ResolveParent(m_pOwner, m_hParent);
        if (m_pForm && m_pForm->OwnerWindow() != hOwnerWnd) m_pForm.reset();
        if (!m_pForm) m_pForm.reset(new TfrmDlgProgress(m_pOwner, m_hParent));
        m_pForm->DoShowHeading(nTextId);
        m_pForm->DoShowState(pProgress);
        if (!m_pForm->Visible()) m_pForm->Show();
        m_pForm->DoPumpOwnMessages();
        return true;
    } catch (...) {
        // Nothing escapes into the caller's module.
        LSAddDefErrorAt(LSOwnerErr(m_pOwner), false, ERROR_INTERNAL_ERROR, __FILE__, __LINE__,
                        "TLSProgressDlg::Show failed!");
        return false;
    }
}

bool TLSProgressDlgImpl::Step(TLSProgress* pProgress, bool* pbCancel)
{
    if (pbCancel) *pbCancel = false;
    if (!pProgress || !m_pForm) return false;
    try {
        m_pForm->DoShowState(pProgress);
        m_pForm->DoPumpOwnMessages();
        return true;
    } catch (...) {
        LSAddDefErrorAt(LSOwnerErr(m_pOwner), false, ERROR_INTERNAL_ERROR, __FILE__, __LINE__,
                        "TLSProgressDlg::Step failed!");
        return false;
    }
}

}  // namespace ktxdlg
