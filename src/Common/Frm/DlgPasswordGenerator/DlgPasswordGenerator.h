// The password generator window: builds a random password of a chosen length
// from chosen character classes while the user moves the mouse over its
// picture, and rates the strength of the chosen settings.
//
// The safe dialog creates one generator and keeps it for its own lifetime. It
// shows the window without making it modal (after DoReset), watches it and
// takes the finished password: a finished password is a non-empty edPasswort
// while btnCreatPwd is enabled. Closing the window only hides it.
#pragma once

#include <windows.h>

#include "KTXCMN32.h"
#include "Toolkit.h"

class TfrmPasswordManager : public TForm {
public:
    // Size of the password buffer: at most 257 characters and a terminator
    // that is never overwritten.
    enum : int { PASSWORD_BUFFER_SIZE = 258 };
    // Lengths the user can choose.
    enum : int { MAX_LENGTH = 200 };
    // Strength of 94 characters times 20 positions fills the bar.
    enum : int { MAX_STRENGTH = 1880 };
    // Help topic of this window.
    enum : int { HELP_TOPIC = 23 };

    // Uses the program's owner handle.
    explicit TfrmPasswordManager(TComponent* AOwner);
    // Uses the given owner handle (null tolerated).
    TfrmPasswordManager(TLSOwner* pOwner, TComponent* AOwner);
    ~TfrmPasswordManager() override;

    // Operations.
    bool DoLSClassInit(TLSOwner* pOwner);
    // Strength bar, length text, cboxAlle and btnCreatPwd from the settings.
    bool DoShowSicherheit();
    // A checked cboxAlle checks every class.
    bool DoCheckedAlleButton();
    // Starts a generation (resetting a finished one first) and stores the
    // settings; false only when the settings could not be stored.
    bool DoCreatePassword();
    // One step of a generation at the mouse position (x, y) in the picture:
    // adds at most one character, and only while generating and armed with
    // both coordinates non-zero. True when a character was added.
    bool DoAddMouseChar(int x, int y);
    // Back to idle: settings editable again, the finished password wiped.
    bool DoReset();

    // The character that the code of a step selects: codes from 33 on count
    // through the characters of the checked classes in ASCII order. 0 when
    // the code selects none.
    static char GetCharOfCode(int nCode, bool bUpper, bool bLower, bool bDigits, bool bSpecial);
    // Number of characters of the checked classes (26 + 26 + 10 + 32 at most).
    static int GetAlphabetSize(bool bUpper, bool bLower, bool bDigits, bool bSpecial);

    // State.
    bool IsGenerating() const { return bGenerating; }
    // The length chosen in udAnzahl.
    int GetLength() const;
    // The number of characters of the running generation.
    int GetPasswordLength() const { return nPasswordLen; }

    // Controls.
    TImage* img_qov_PassGen;
    TLabel* txtAnzahl;
    TEdit* edAnzahlZ;
    TUpDown* udAnzahl;
    TGroupBox* gboxTypen;
    TCheckBox* cboxGrossbuchstaben;
    TCheckBox* cboxKleinbuchstaben;
    TCheckBox* cboxZahlen;
    TCheckBox* cboxSonderzeichen;
    TCheckBox* cboxAlle;
    TGroupBox* gboxSicherheit;
    TProgressBar* pbSicherheit;
    TStaticText* txtExtrem;
    TStaticText* txtsehrhoch;
    TStaticText* txthoch;
    TStaticText* txtnormal;
    TStaticText* txtniedrig;
    TStaticText* txtsehrniedrig;
    TLabel* txt_MAUS;
    TProgressBar* pbGenerierung;
    TEdit* edPasswort;
    TButton* btnStern;
    TButton* btnHilfe;
    TButton* btnClose;
    TButton* btnCreatPwd;
    TTimer* tmrKeyGenerator;
    TTimer* tmrStartUp;

    // Event handlers.
    void cboxGrossbuchstabenClick(TObject* Sender);
    void cboxKleinbuchstabenClick(TObject* Sender);
    void cboxZahlenClick(TObject* Sender);
    void cboxSonderzeichenClick(TObject* Sender);
    void cboxAlleClick(TObject* Sender);
    void udAnzahlClick(TObject* Sender, TUDBtnType Button);
    void btnCreatPwdClick(TObject* Sender);
    void btnCloseClick(TObject* Sender);
    void btnSternClick(TObject* Sender);
    void btnHilfeClick(TObject* Sender);
    void img_qov_PassGenMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void txt_MAUSMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void tmrKeyGeneratorTimer(TObject* Sender);
    void tmrStartUpTimer(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormHide(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);

private:
    void BuildControls();
    void WireEvents();
    void SetClassBoxesEnabled(bool bEnabled);
    int GetCheckedAlphabetSize() const;
    void WipePassword();
    // Puts the saved owner window back into the owner's slot if this window holds it.
    void RestoreOwnerWindow();

    TLSOwner* pOwner = nullptr;
    tag_TLSErrHandler* pErrHandler = nullptr;
    HWND hSavedOwnerWnd = nullptr;
    bool bOwnerWndTaken = false;
    bool bCancel = false;
    bool bGenerating = false;
    bool bArmed = true;
    int nPasswordLen = 0;
    char szPassword[PASSWORD_BUFFER_SIZE] = {};
};
