// The two password dialogs: entering the password of a safe, and choosing a
// new one (typed twice, with a strength indication).
#pragma once

#include "DlgCommon.h"

namespace ktxdlg {

// Asks for the password of a safe: a masked field with a show/hide switch.
// OK only while the field holds 1 to the allowed number of characters; a
// longer text is refused with an explanation. The fields are wiped when the
// form goes.
class TfrmInputPassword : public TForm {
public:
    // nMaxChars: the most characters the caller's buffer takes (at most kMaxPasswordChars).
    TfrmInputPassword(TLSOwner* pOwner, HWND hParent, int nMaxChars);
    ~TfrmInputPassword() override;

    // Copies the typed password into the caller's buffer; false (buffer
    // emptied) when it is empty or too long.
    bool GetPassword(char* pszOut, DWORD dwSize) const;
    // Empties the field, wiping what it held.
    void DoWipeFields();

    TStaticText* txtPasswort;
    TEdit* editPasswort;
    TCheckBox* cboxAnzeigen;
    TStaticText* txtHinweis;
    TButton* btnOK;
    TButton* btnAbbrechen;

private:
    void editPasswortChange(TObject* Sender);
    void cboxAnzeigenClick(TObject* Sender);
    void DoUpdateState();

    int m_nMaxChars;
};

// Asks for a new password, twice. OK only when both fields agree, are not
// empty and hold at most the allowed number of characters; the strength of the
// first field is shown as a bar and a word of the product's scale.
class TfrmInputPasswordChange : public TForm {
public:
    TfrmInputPasswordChange(TLSOwner* pOwner, HWND hParent, int nMaxChars);
    ~TfrmInputPasswordChange() override;

    bool GetPassword(char* pszOut, DWORD dwSize) const;
    void DoWipeFields();

    TStaticText* txtIntro;
    TStaticText* txtErstes;
    TEdit* editPasswort;
    TStaticText* txtZweites;
    TEdit* editWiederholung;
    TCheckBox* cboxAnzeigen;
    TStaticText* txtSicherheit;
    TProgressBar* pbSicherheit;
    TStaticText* txtStaerke;
    TStaticText* txtHinweis;
    TButton* btnOK;
    TButton* btnAbbrechen;

private:
    void editPasswortChange(TObject* Sender);
    void cboxAnzeigenClick(TObject* Sender);
    void DoUpdateState();

    int m_nMaxChars;
};

}  // namespace ktxdlg
