// What the shared dialogs have in common.
#include "DlgCommon.h"

#include <cstdarg>
#include <vector>

#include "KTXLANG.h"
#include "LSStr.h"

namespace ktxdlg {

int PasswordAlphabet(const char* pszPassword, size_t cch)
{
    bool bUpper = false, bLower = false, bDigit = false, bOther = false;
    for (size_t i = 0; pszPassword && i < cch; ++i) {
        unsigned char ch = static_cast<unsigned char>(pszPassword[i]);
        if (ch >= 'A' && ch <= 'Z')
            bUpper = true;
        else if (ch >= 'a' && ch <= 'z')
            bLower = true;
        else if (ch >= '0' && ch <= '9')
            bDigit = true;
        else
            bOther = true;
    }
    return (bUpper ? 26 : 0) + (bLower ? 26 : 0) + (bDigit ? 10 : 0) + (bOther ? 32 : 0);
}

int PasswordStrength(const char* pszPassword, size_t cch)
{
    return PasswordAlphabet(pszPassword, cch) * static_cast<int>(cch);
}

const char* StrengthWord(int nStrength)
{
    // Six equal steps of the scale, as the password generator shows it.
    if (nStrength < kStrengthFull * 1 / 6) return DLS_TXT_SEHRNIEDRIG();
    if (nStrength < kStrengthFull * 2 / 6) return DLS_TXT_NIEDRIG();
    if (nStrength < kStrengthFull * 3 / 6) return DLS_TXT_NORMAL();
    if (nStrength < kStrengthFull * 4 / 6) return DLS_TXT_HOCH();
    if (nStrength < kStrengthFull * 5 / 6) return DLS_TXT_SEHRHOCH();
    return DLS_TXT_EXTREM();
}

HWND ResolveParent(TLSOwner* pOwner, HWND hParent)
{
    if (hParent && IsWindow(hParent)) return hParent;
    if (pOwner && pOwner->hOwnerWnd && IsWindow(pOwner->hOwnerWnd)) return pOwner->hOwnerWnd;
    return nullptr;
}

void PlaceForm(TForm* pForm, TLSOwner* pOwner)
{
    if (pOwner && pOwner->bDlgPosSet) {
        int cx = pForm->Width(), cy = pForm->Height();
        POINT pt{pOwner->nDlgLeft, pOwner->nDlgTop};
        // Keep the whole dialog on the monitor nearest to the position.
        MONITORINFO mi{};
        mi.cbSize = sizeof(mi);
        if (GetMonitorInfoA(MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST), &mi)) {
            const RECT& rc = mi.rcWork;
            if (pt.x + cx > rc.right) pt.x = rc.right - cx;
            if (pt.y + cy > rc.bottom) pt.y = rc.bottom - cy;
            if (pt.x < rc.left) pt.x = rc.left;
            if (pt.y < rc.top) pt.y = rc.top;
        }
        pForm->SetPosition(poDesigned);
        pForm->SetBounds(pt.x, pt.y, cx, cy);
    } else {
        pForm->SetPosition(poOwnerFormCenter);
    }
}

std::string DialogCaption(const char* pszTitle)
{
    return FormatText(DLS_DLG_CAPTION_FORMAT(), DLS_GLOBAL_CAPTION_SAFE(), pszTitle ? pszTitle : "");
}

void SetupDialogForm(TForm* pForm, const char* pszTitle, bool bCloseBox)
{
    pForm->SetBorderStyle(bsDialog);
    pForm->SetBorderIcons(bCloseBox ? static_cast<TBorderIcons>(biSystemMenu) : 0u);
    pForm->SetCaption(DialogCaption(pszTitle));
}

std::string FormatText(const char* pszFormat, ...)
{
    if (!pszFormat) return std::string();
    std::vector<char> buf(1024);
    for (;;) {
        va_list args;
        va_start(args, pszFormat);
        bool bFits = LSStrFormatV(buf.data(), buf.size(), pszFormat, args);
        va_end(args);
        if (bFits || buf.size() >= 65536) break;
        buf.resize(buf.size() * 4);
    }
    return std::string(buf.data());
}

TButton* MakeButton(TWinControl* pParent, const char* pszCaption, int x, int y, int cx, int cy)
{
    TButton* pButton = new TButton(pParent);
    pButton->SetBounds(x, y, cx, cy);
    pButton->SetCaption(pszCaption ? pszCaption : "");
    return pButton;
}

void MakeOkCancelRow(TForm* pForm, int cxClient, int y, TButton*& pOK, TButton*& pCancel)
{
    pOK = MakeButton(pForm, DLS_DLG_BTN_OK(), cxClient - kMargin - 2 * kButtonWidth - kGap, y, kButtonWidth,
                     kButtonHeight);
    pOK->SetName("btnOK");
    pOK->SetModalResult(mrOk);
    pOK->SetEnabled(false);
    pCancel = MakeButton(pForm, DLS_DLG_BTN_CANCEL(), cxClient - kMargin - kButtonWidth, y, kButtonWidth,
                         kButtonHeight);
    pCancel->SetName("btnAbbrechen");
    pCancel->SetModalResult(mrCancel);
    pForm->SetDefaultButton(pOK);
    pForm->SetCancelButton(pCancel);
    pForm->SetClientSize(cxClient, y + kButtonHeight + kMargin);
}

TStaticText* MakeText(TWinControl* pParent, const char* pszCaption, int x, int y, int cx, int cy)
{
    TStaticText* pText = new TStaticText(pParent);
    pText->SetBounds(x, y, cx, cy);
    pText->SetCaption(pszCaption ? pszCaption : "");
    return pText;
}

void WipeEdit(TEdit* pEdit)
{
    if (!pEdit || !pEdit->HandleAllocated()) return;
    pEdit->Perform(EM_EMPTYUNDOBUFFER);
    pEdit->Clear();
    pEdit->Perform(EM_EMPTYUNDOBUFFER);
}

}  // namespace ktxdlg
