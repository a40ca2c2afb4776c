// The two password dialogs.
#include "DlgPassword.h"

#include <cstring>

#include "KTXLANG.h"
#include "LSStr.h"

namespace ktxdlg {

namespace {

// A field's text in a wiped buffer; its length, or -1 when it is longer than
// a password field can be.
template <size_t N>
int ReadField(const TEdit* pEdit, TSecretBuffer<N>& buf)
{
    int cch = pEdit->GetTextLen();
    if (cch < 0 || cch >= static_cast<int>(N)) return -1;
    return pEdit->GetTextBuf(buf.Data(), static_cast<int>(N));
}

bool CopyOut(const char* pszPassword, int cch, int nMaxChars, char* pszOut, DWORD dwSize)
{
    if (!pszOut || dwSize == 0) return false;
    SecureZeroMemory(pszOut, dwSize);
    if (cch <= 0 || cch > nMaxChars || static_cast<DWORD>(cch) >= dwSize) return false;
    memcpy(pszOut, pszPassword, static_cast<size_t>(cch));
    pszOut[cch] = '\0';
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Password of a safe
// ---------------------------------------------------------------------------

TfrmInputPassword::TfrmInputPassword(TLSOwner* pOwner, HWND hParent, int nMaxChars)
    : TForm(nullptr, "TfrmInputPassword", ResolveParent(pOwner, hParent)), m_nMaxChars(nMaxChars)
{
    const int cxClient = 380;
    const int cxInner = cxClient - 2 * kMargin;
    SetupDialogForm(this, DLS_DLG_PWD_CAPTION());

    int y = kMargin;
    txtPasswort = MakeText(this, DLS_DLG_PWD_PROMPT(), kMargin, y, cxInner, 18);
    y += 20;
    editPasswort = new TEdit(this);
    editPasswort->SetName("editPasswort");
    editPasswort->SetBounds(kMargin, y, cxInner, kEditHeight);
    editPasswort->SetPasswordChar(kPasswordMask);
    editPasswort->SetMaxLength(kPasswordFieldChars);
    y += kEditHeight + kGap;
    cboxAnzeigen = new TCheckBox(this);
    cboxAnzeigen->SetName("cboxAnzeigen");
    cboxAnzeigen->SetBounds(kMargin, y, cxInner, 20);
    cboxAnzeigen->SetCaption(DLS_DLG_PWD_SHOW());
    y += 20 + kGap;
    txtHinweis = MakeText(this, FormatText(DLS_DLG_PWD_TOOLONG(), m_nMaxChars).c_str(), kMargin, y, cxInner, 48);
    txtHinweis->SetName("txtHinweis");
    txtHinweis->Font()->SetColor(clRed);
    txtHinweis->SetVisible(false);
    y += 48 + kGap;
    MakeOkCancelRow(this, cxClient, y, btnOK, btnAbbrechen);

    editPasswort->OnChange = TkMethod(this, &TfrmInputPassword::editPasswortChange);
    cboxAnzeigen->OnClick = TkMethod(this, &TfrmInputPassword::cboxAnzeigenClick);
    SetActiveControl(editPasswort);
    PlaceForm(this, pOwner);
}

TfrmInputPassword::~TfrmInputPassword()
{
    editPasswort->OnChange = nullptr;
    DoWipeFields();
}

void TfrmInputPassword::editPasswortChange(TObject*)
{
    DoUpdateState();
}

void TfrmInputPassword::cboxAnzeigenClick(TObject*)
{
    editPasswort->SetPasswordChar(cboxAnzeigen->Checked() ? '\0' : kPasswordMask);
}

void TfrmInputPassword::DoUpdateState()
{
    int cch = editPasswort->GetTextLen();
    bool bTooLong = cch > m_nMaxChars;
    txtHinweis->SetVisible(bTooLong);
    btnOK->SetEnabled(cch > 0 && !bTooLong);
}

bool TfrmInputPassword::GetPassword(char* pszOut, DWORD dwSize) const
{
    TSecretBuffer<LS_PASSWORD_SIZE + 1> buf;
    int cch = ReadField(editPasswort, buf);
    return CopyOut(buf.Data(), cch, m_nMaxChars, pszOut, dwSize);
}

void TfrmInputPassword::DoWipeFields()
{
    WipeEdit(editPasswort);
}

// ---------------------------------------------------------------------------
// New password
// ---------------------------------------------------------------------------

TfrmInputPasswordChange::TfrmInputPasswordChange(TLSOwner* pOwner, HWND hParent, int nMaxChars)
    : TForm(nullptr, "TfrmInputPasswordChange", ResolveParent(pOwner, hParent)), m_nMaxChars(nMaxChars)
{
    const int cxClient = 420;
    const int cxInner = cxClient - 2 * kMargin;
    SetupDialogForm(this, DLS_DLG_NEWPWD_CAPTION());

    int y = kMargin;
    txtIntro = MakeText(this, DLS_DLG_NEWPWD_INTRO(), kMargin, y, cxInner, 32);
    y += 32 + kGap;
    txtErstes = MakeText(this, DLS_DLG_NEWPWD_FIRST(), kMargin, y, cxInner, 18);
    y += 20;
    editPasswort = new TEdit(this);
    editPasswort->SetName("editPasswort");
    editPasswort->SetBounds(kMargin, y, cxInner, kEditHeight);
    editPasswort->SetPasswordChar(kPasswordMask);
    editPasswort->SetMaxLength(kPasswordFieldChars);
    y += kEditHeight + kGap;
    txtZweites = MakeText(this, DLS_DLG_NEWPWD_SECOND(), kMargin, y, cxInner, 18);
    y += 20;
    editWiederholung = new TEdit(this);
    editWiederholung->SetName("editWiederholung");
    editWiederholung->SetBounds(kMargin, y, cxInner, kEditHeight);
    editWiederholung->SetPasswordChar(kPasswordMask);
    editWiederholung->SetMaxLength(kPasswordFieldChars);
    y += kEditHeight + kGap;
    cboxAnzeigen = new TCheckBox(this);
    cboxAnzeigen->SetName("cboxAnzeigen");
    cboxAnzeigen->SetBounds(kMargin, y, cxInner, 20);
    cboxAnzeigen->SetCaption(DLS_DLG_PWD_SHOW());
    y += 20 + kGap;

    const int cxLabel = 90, cxWord = 110;
    txtSicherheit = MakeText(this, DLS_DLG_NEWPWD_STRENGTH(), kMargin, y + 1, cxLabel, 18);
    pbSicherheit = new TProgressBar(this);
    pbSicherheit->SetName("pbSicherheit");
    pbSicherheit->SetBounds(kMargin + cxLabel, y, cxInner - cxLabel - cxWord - kGap, 18);
    pbSicherheit->SetSmooth(true);
    pbSicherheit->SetMin(0);
    pbSicherheit->SetMax(kStrengthFull);
    txtStaerke = MakeText(this, "", cxClient - kMargin - cxWord, y + 1, cxWord, 18);
    txtStaerke->SetName("txtStaerke");
    y += 18 + kGap;
    txtHinweis = MakeText(this, "", kMargin, y, cxInner, 48);
    txtHinweis->SetName("txtHinweis");
    y += 48 + kGap;

    MakeOkCancelRow(this, cxClient, y, btnOK, btnAbbrechen);

    editPasswort->OnChange = TkMethod(this, &TfrmInputPasswordChange::editPasswortChange);
    editWiederholung->OnChange = TkMethod(this, &TfrmInputPasswordChange::editPasswortChange);
    cboxAnzeigen->OnClick = TkMethod(this, &TfrmInputPasswordChange::cboxAnzeigenClick);
    DoUpdateState();
    SetActiveControl(editPasswort);
    PlaceForm(this, pOwner);
}

TfrmInputPasswordChange::~TfrmInputPasswordChange()
{
    editPasswort->OnChange = nullptr;
    editWiederholung->OnChange = nullptr;
    DoWipeFields();
}

void TfrmInputPasswordChange::editPasswortChange(TObject*)
{
    DoUpdateState();
}

void TfrmInputPasswordChange::cboxAnzeigenClick(TObject*)
{
    char chMask = cboxAnzeigen->Checked() ? '\0' : kPasswordMask;
    editPasswort->SetPasswordChar(chMask);
    editWiederholung->SetPasswordChar(chMask);
}

void TfrmInputPasswordChange::DoUpdateState()
{
    TSecretBuffer<LS_PASSWORD_SIZE + 1> first, second;
    int cchFirst = ReadField(editPasswort, first);
    int cchSecond = ReadField(editWiederholung, second);
    bool bTooLong = cchFirst < 0 || cchSecond < 0 || cchFirst > m_nMaxChars || cchSecond > m_nMaxChars;
    bool bSame = cchFirst == cchSecond && cchFirst >= 0 &&
                 memcmp(first.Data(), second.Data(), static_cast<size_t>(cchFirst)) == 0;

    int nStrength = cchFirst > 0 ? PasswordStrength(first.Data(), static_cast<size_t>(cchFirst)) : 0;
    pbSicherheit->SetPosition(nStrength > kStrengthFull ? kStrengthFull : nStrength);
    txtStaerke->SetCaption(cchFirst > 0 ? StrengthWord(nStrength) : "");

    if (bTooLong) {
        txtHinweis->Font()->SetColor(clRed);
        txtHinweis->SetCaption(FormatText(DLS_DLG_PWD_TOOLONG(), m_nMaxChars));
    } else if (cchSecond > 0 && !bSame) {
        txtHinweis->Font()->SetColor(clRed);
        txtHinweis->SetCaption(DLS_DLG_NEWPWD_MISMATCH());
    } else if (cchFirst > 0 && bSame) {
        txtHinweis->Font()->SetColor(clGreen);
        txtHinweis->SetCaption(DLS_DLG_NEWPWD_MATCH());
    } else {
        txtHinweis->SetCaption("");
    }
    btnOK->SetEnabled(!bTooLong && bSame && cchFirst > 0);
}

bool TfrmInputPasswordChange::GetPassword(char* pszOut, DWORD dwSize) const
{
    TSecretBuffer<LS_PASSWORD_SIZE + 1> first, second;
    int cchFirst = ReadField(editPasswort, first);
    int cchSecond = ReadField(editWiederholung, second);
    if (cchFirst != cchSecond || cchFirst < 0 || memcmp(first.Data(), second.Data(), static_cast<size_t>(cchFirst)) != 0) {
        if (pszOut && dwSize) SecureZeroMemory(pszOut, dwSize);
        return false;
    }
    return CopyOut(first.Data(), cchFirst, m_nMaxChars, pszOut, dwSize);
}

void TfrmInputPasswordChange::DoWipeFields()
{
    WipeEdit(editPasswort);
    WipeEdit(editWiederholung);
}

}  // namespace ktxdlg
