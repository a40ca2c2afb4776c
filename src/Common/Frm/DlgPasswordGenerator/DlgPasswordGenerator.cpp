// The password generator window.
//
// Randomness: each accepted mouse step draws r uniformly from 0 .. n - 1 with
// the platform CSPRNG (n = the number of characters of the checked classes)
// and picks the character numbered (r + x * y) mod n. Adding the position to
// a uniform draw keeps every character equally likely wherever the mouse is,
// while the mouse still paces the generation: one character per armed period
// of tmrKeyGenerator, and only while it moves over the picture.
//
// The password being built lives in szPassword, is handed to edPasswort when
// it is complete and wiped; edPasswort's copy is wiped on reset and on
// destruction. Neither ever reaches a trace line.
#include "DlgPasswordGenerator.h"

#include <algorithm>
#include <exception>
#include <string>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "ProcessOwner.h"

namespace {

// The character classes of the printable ASCII blocks.
enum TCharClass : int { ccSpecial, ccDigits, ccUpper, ccLower };

struct TCharBlock {
    int nFirst;
    int nLast;
    TCharClass eClass;
};

// Printable ASCII from "!" to "~" in seven blocks, in code order.
constexpr TCharBlock kCharBlocks[] = {
    {33, 47, ccSpecial},  {48, 57, ccDigits},   {58, 64, ccSpecial}, {65, 90, ccUpper},
    {91, 96, ccSpecial},  {97, 122, ccLower},   {123, 126, ccSpecial},
};

constexpr int kFirstCode = 33;
constexpr int kLastCode = 126;
constexpr int kDefaultLength = 8;
constexpr unsigned kKeyGeneratorDesignInterval = 300;
constexpr unsigned kKeyGeneratorInterval = 200;
constexpr unsigned kStartUpInterval = 140;
constexpr int kMinFormWidth = 629;
constexpr int kMinFormHeight = 293;

// The window this form stays above: the window of the owning form, if any.
HWND OwnerWindowOf(TComponent* pOwner)
{
    TForm* pForm = dynamic_cast<TForm*>(pOwner);
    return (pForm && pForm->HandleAllocated()) ? pForm->Handle() : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and destruction
// ---------------------------------------------------------------------------

TfrmPasswordManager::TfrmPasswordManager(TComponent* AOwner)
    : TfrmPasswordManager(LSGetProcessOwner(), AOwner)
{
}

TfrmPasswordManager::TfrmPasswordManager(TLSOwner* pOwnerHandle, TComponent* AOwner)
    : TForm(AOwner, "TfrmPasswordManager", OwnerWindowOf(AOwner))
{
    BuildControls();
    WireEvents();
    DoLSClassInit(pOwnerHandle);
}

TfrmPasswordManager::~TfrmPasswordManager()
{
    LS_TRACE_LOG(nullptr, "TfrmPasswordManager::~TfrmPasswordManager");
    bGenerating = false;
    try {
        tmrKeyGenerator->SetEnabled(false);
        tmrStartUp->SetEnabled(false);
        RestoreOwnerWindow();
        edPasswort->Clear();
    } catch (const std::exception&) {
        // The window is going away; nothing is left to report to.
    }
    WipePassword();
}

void TfrmPasswordManager::BuildControls()
{
    SetBorderStyle(bsSingle);
    SetBorderIcons(biSystemMenu | biMinimize);
    SetPosition(poMainFormCenter);
    SetClientSize(624, 268);

    // Left: the picture the mouse moves over, the progress of a generation
    // and the (hidden) finished password.
    img_qov_PassGen = new TImage(this);
    img_qov_PassGen->SetName("img_qov_PassGen");
    img_qov_PassGen->SetBounds(8, 8, 290, 202);
    img_qov_PassGen->SetStretch(true);
    img_qov_PassGen->SetAnchors(akAll);

    txt_MAUS = new TLabel(this);
    txt_MAUS->SetName("txt_MAUS");
    txt_MAUS->SetAutoSize(false);
    txt_MAUS->SetWordWrap(true);
    txt_MAUS->SetAlignment(taCenter);
    txt_MAUS->SetLayout(tlCenter);
    txt_MAUS->SetTransparent(true);
    txt_MAUS->Font()->SetColor(clRed);
    txt_MAUS->Font()->SetStyle(fsBold);
    txt_MAUS->SetBounds(8, 89, 290, 40);
    txt_MAUS->SetAnchors(akLeft | akTop | akRight);
    txt_MAUS->Hide();

    pbGenerierung = new TProgressBar(this);
    pbGenerierung->SetName("pbGenerierung");
    pbGenerierung->SetSmooth(true);
    pbGenerierung->SetBounds(8, 218, 290, 16);
    pbGenerierung->SetAnchors(akLeft | akRight | akBottom);

    edPasswort = new TEdit(this);
    edPasswort->SetName("edPasswort");
    edPasswort->SetPasswordChar('*');
    edPasswort->SetBounds(8, 240, 258, 21);
    edPasswort->Hide();

    btnStern = new TButton(this);
    btnStern->SetName("btnStern");
    btnStern->SetCaption("*");
    btnStern->SetBounds(272, 239, 26, 23);
    btnStern->Hide();

    // Middle: length and character classes.
    txtAnzahl = new TLabel(this);
    txtAnzahl->SetName("txtAnzahl");
    txtAnzahl->SetBounds(312, 12, 84, 13);

    edAnzahlZ = new TEdit(this);
    edAnzahlZ->SetName("edAnzahlZ");
    edAnzahlZ->SetReadOnly(true);
    // The up-down takes its place at the right end of this box.
    edAnzahlZ->SetBounds(400, 8, 60, 21);
    edAnzahlZ->SetText(std::to_string(kDefaultLength));

    udAnzahl = new TUpDown(this);
    udAnzahl->SetName("udAnzahl");
    udAnzahl->SetMin(0);
    udAnzahl->SetMax(MAX_LENGTH);
    udAnzahl->SetPosition(kDefaultLength);
    udAnzahl->SetAssociate(edAnzahlZ);

    gboxTypen = new TGroupBox(this);
    gboxTypen->SetName("gboxTypen");
    gboxTypen->SetBounds(312, 36, 180, 144);

    TCheckBox** const appBoxes[] = {&cboxGrossbuchstaben, &cboxKleinbuchstaben, &cboxZahlen, &cboxSonderzeichen,
                                    &cboxAlle};
    const char* const apszBoxNames[] = {"cboxGrossbuchstaben", "cboxKleinbuchstaben", "cboxZahlen",
                                        "cboxSonderzeichen", "cboxAlle"};
    for (int i = 0; i < 5; ++i) {
        TCheckBox* pBox = new TCheckBox(gboxTypen);
        pBox->SetName(apszBoxNames[i]);
        pBox->SetBounds(12, 20 + i * 23, 160, 19);
        pBox->SetChecked(true);
        *appBoxes[i] = pBox;
    }

    // Right: the strength bar with its fixed scale.
    gboxSicherheit = new TGroupBox(this);
    gboxSicherheit->SetName("gboxSicherheit");
    gboxSicherheit->SetBounds(502, 8, 114, 172);

    pbSicherheit = new TProgressBar(gboxSicherheit);
    pbSicherheit->SetName("pbSicherheit");
    pbSicherheit->SetOrientation(pbVertical);
    pbSicherheit->SetSmooth(true);
    pbSicherheit->SetBounds(12, 20, 18, 140);

    TStaticText** const appScale[] = {&txtExtrem, &txtsehrhoch, &txthoch, &txtnormal, &txtniedrig, &txtsehrniedrig};
    const char* const apszScaleNames[] = {"txtExtrem", "txtsehrhoch", "txthoch", "txtnormal", "txtniedrig",
                                          "txtsehrniedrig"};
    for (int i = 0; i < 6; ++i) {
        TStaticText* pText = new TStaticText(gboxSicherheit);
        pText->SetName(apszScaleNames[i]);
        pText->SetBounds(38, 20 + i * 24, 70, 15);
        *appScale[i] = pText;
    }

    // Bottom right: the buttons.
    btnHilfe = new TButton(this);
    btnHilfe->SetName("btnHilfe");
    btnHilfe->SetBounds(312, 236, 96, 25);

    btnClose = new TButton(this);
    btnClose->SetName("btnClose");
    btnClose->SetBounds(416, 236, 96, 25);

    btnCreatPwd = new TButton(this);
    btnCreatPwd->SetName("btnCreatPwd");
    btnCreatPwd->SetBounds(520, 236, 96, 25);
    btnCreatPwd->SetDefault(true);

    tmrKeyGenerator = new TTimer(this);
    tmrKeyGenerator->SetName("tmrKeyGenerator");
    tmrKeyGenerator->SetInterval(kKeyGeneratorDesignInterval);

    tmrStartUp = new TTimer(this);
    tmrStartUp->SetName("tmrStartUp");
    tmrStartUp->SetEnabled(false);
}

void TfrmPasswordManager::WireEvents()
{
    cboxGrossbuchstaben->OnClick = TkMethod(this, &TfrmPasswordManager::cboxGrossbuchstabenClick);
    cboxKleinbuchstaben->OnClick = TkMethod(this, &TfrmPasswordManager::cboxKleinbuchstabenClick);
    cboxZahlen->OnClick = TkMethod(this, &TfrmPasswordManager::cboxZahlenClick);
    cboxSonderzeichen->OnClick = TkMethod(this, &TfrmPasswordManager::cboxSonderzeichenClick);
    cboxAlle->OnClick = TkMethod(this, &TfrmPasswordManager::cboxAlleClick);
    udAnzahl->OnClick = TkMethod(this, &TfrmPasswordManager::udAnzahlClick);
    btnCreatPwd->OnClick = TkMethod(this, &TfrmPasswordManager::btnCreatPwdClick);
    btnClose->OnClick = TkMethod(this, &TfrmPasswordManager::btnCloseClick);
    btnStern->OnClick = TkMethod(this, &TfrmPasswordManager::btnSternClick);
    btnHilfe->OnClick = TkMethod(this, &TfrmPasswordManager::btnHilfeClick);
    img_qov_PassGen->OnMouseMove = TkMethod(this, &TfrmPasswordManager::img_qov_PassGenMouseMove);
    txt_MAUS->OnMouseMove = TkMethod(this, &TfrmPasswordManager::txt_MAUSMouseMove);
    tmrKeyGenerator->OnTimer = TkMethod(this, &TfrmPasswordManager::tmrKeyGeneratorTimer);
    tmrStartUp->OnTimer = TkMethod(this, &TfrmPasswordManager::tmrStartUpTimer);
    OnShow = TkMethod(this, &TfrmPasswordManager::FormShow);
    OnHide = TkMethod(this, &TfrmPasswordManager::FormHide);
    OnClose = TkMethod(this, &TfrmPasswordManager::FormClose);
}

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

bool TfrmPasswordManager::DoLSClassInit(TLSOwner* pOwnerHandle)
{
    LS_TRACE_LOG(nullptr, "TfrmPasswordManager::DoLSClassInit");
    pOwner = pOwnerHandle;
    pErrHandler = LSOwnerErr(pOwner);
    if (!pOwner) {
        hSavedOwnerWnd = nullptr;
        bOwnerWndTaken = false;
    }

    Constraints().MinWidth = kMinFormWidth;
    Constraints().MinHeight = kMinFormHeight;
    ApplyConstraints();
    ClearLSError(pErrHandler);
    bCancel = false;

    tmrStartUp->SetEnabled(false);
    tmrStartUp->SetInterval(kStartUpInterval);
    HBITMAP hBitmap = nullptr;
    if (DLS_QOVLoadBitmap(pOwner, LS_BMP_GENERATOR, &hBitmap) && hBitmap) img_qov_PassGen->SetBitmap(hBitmap, true);

    WipePassword();
    bGenerating = false;
    bArmed = true;
    txt_MAUS->Hide();

    SetCaption(DLS_GLOBAL_CAPTION_SAFE());
    txtAnzahl->SetCaption(DLS_TXT_ANZAHL());
    edAnzahlZ->SetHint(DLS_HINT_ANZAHLZEICHEN());
    edAnzahlZ->SetShowHint(true);
    udAnzahl->SetHint(DLS_HINT_UPDOWN());
    udAnzahl->SetShowHint(true);
    gboxTypen->SetCaption(DLS_TXT_ZEICHEN());
    cboxGrossbuchstaben->SetCaption(DLS_BTN_GROSSBUCHSTABEN());
    cboxKleinbuchstaben->SetCaption(DLS_BTN_KLEINBUCHSTABEN());
    cboxZahlen->SetCaption(DLS_BTN_ZAHLEN());
    cboxSonderzeichen->SetCaption(DLS_BTN_SONDERZEICHEN());
    cboxAlle->SetCaption(DLS_BTN_ALLE());
    gboxSicherheit->SetCaption(DLS_TXT_SICHERHEIT());
    txtExtrem->SetCaption(DLS_TXT_EXTREM());
    txtsehrhoch->SetCaption(DLS_TXT_SEHRHOCH());
    txthoch->SetCaption(DLS_TXT_HOCH());
    txtnormal->SetCaption(DLS_TXT_NORMAL());
    txtniedrig->SetCaption(DLS_TXT_NIEDRIG());
    txtsehrniedrig->SetCaption(DLS_TXT_SEHRNIEDRIG());
    txt_MAUS->SetCaption(DLS_TXT_MAUS());
    btnHilfe->SetCaption(DLS_BTN_HELP());
    btnClose->SetCaption(DLS_BTN_SCHLIESSEN());
    btnCreatPwd->SetCaption(DLS_BTN_CREATPWD());

    udAnzahl->SetMax(MAX_LENGTH);
    pbSicherheit->SetMax(MAX_STRENGTH);
    btnCreatPwd->SetEnabled(true);

    DWORD dwLength = 0;
    bool bUpper = false, bLower = false, bDigits = false, bSpecial = false;
    if (TVornixReg::QOVGetPasswordGenerator(pOwner, &dwLength, &bUpper, &bLower, &bDigits, &bSpecial)) {
        // A stored length beyond what the up-down offers is taken as its maximum.
        const int nLength = static_cast<int>(std::min<DWORD>(dwLength, MAX_LENGTH));
        udAnzahl->SetPosition(nLength);
        edAnzahlZ->SetText(std::to_string(nLength));
        cboxGrossbuchstaben->SetChecked(bUpper);
        cboxKleinbuchstaben->SetChecked(bLower);
        cboxZahlen->SetChecked(bDigits);
        cboxSonderzeichen->SetChecked(bSpecial);
        cboxAlle->SetChecked(bUpper && bLower && bDigits && bSpecial);
    } else {
        // Nothing stored yet is no failure: the defaults apply.
        ClearLSError(pErrHandler);
        udAnzahl->SetPosition(kDefaultLength);
        edAnzahlZ->SetText(std::to_string(kDefaultLength));
        cboxGrossbuchstaben->SetChecked(true);
        cboxKleinbuchstaben->SetChecked(true);
        cboxZahlen->SetChecked(true);
        cboxSonderzeichen->SetChecked(true);
        cboxAlle->SetChecked(true);
    }

    SetClassBoxesEnabled(true);
    btnStern->Hide();
    edPasswort->Hide();
    tmrKeyGenerator->SetInterval(kKeyGeneratorInterval);
    DoShowSicherheit();
    return true;
}

bool TfrmPasswordManager::DoShowSicherheit()
{
    LS_TRACE_LOG(nullptr, "TfrmPasswordManager::DoShowSicherheit");
    ClearLSError(pErrHandler);
    bCancel = false;

    const int nAlphabet = GetCheckedAlphabetSize();
    const int nLength = GetLength();
    pbSicherheit->SetPosition(std::min(nAlphabet * nLength, static_cast<int>(MAX_STRENGTH)));
    edAnzahlZ->SetText(std::to_string(nLength));

    const bool bAll = cboxGrossbuchstaben->Checked() && cboxKleinbuchstaben->Checked() && cboxZahlen->Checked() &&
                      cboxSonderzeichen->Checked();
    if (cboxAlle->Checked() != bAll) cboxAlle->SetChecked(bAll);
    // A password needs a character class and a length.
    btnCreatPwd->SetEnabled(nAlphabet > 0 && nLength > 0);
    return true;
}

bool TfrmPasswordManager::DoCheckedAlleButton()
{
    LS_TRACE_LOG(nullptr, "TfrmPasswordManager::DoCheckedAlleButton");
    ClearLSError(pErrHandler);
    bCancel = false;

    // Checking a box runs its click handler, which may uncheck cboxAlle until
    // the last box is checked: the decision is taken once, here.
    if (cboxAlle->Checked()) {
        TCheckBox* const apBoxes[] = {cboxGrossbuchstaben, cboxKleinbuchstaben, cboxZahlen, cboxSonderzeichen};
        for (TCheckBox* pBox : apBoxes) {
            if (!pBox->Checked()) pBox->SetChecked(true);
        }
    }
    return true;
}

bool TfrmPasswordManager::DoCreatePassword()
{
    LS_TRACE_LOG(nullptr, "TfrmPasswordManager::DoCreatePassword");
    ClearLSError(pErrHandler);
    bCancel = false;

    if (edPasswort->GetTextLen() > 0) DoReset();
    btnCreatPwd->SetEnabled(false);
    bGenerating = true;
    WipePassword();

    const int nLength = GetLength();
    pbGenerierung->SetMax(std::max(nLength, 1));
    pbGenerierung->SetPosition(0);
    txt_MAUS->Show();

    btnStern->SetEnabled(false);
    SetClassBoxesEnabled(false);

    const bool bResult = TVornixReg::QOVSetPasswordGenerator(
        pOwner, static_cast<DWORD>(nLength), cboxGrossbuchstaben->Checked(), cboxKleinbuchstaben->Checked(),
        cboxZahlen->Checked(), cboxSonderzeichen->Checked());
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmPasswordManager::DoCreatePassword failed!");
}

bool TfrmPasswordManager::DoAddMouseChar(int x, int y)
{
    if (x == 0 || y == 0 || !bGenerating || !bArmed) return false;

    const bool bUpper = cboxGrossbuchstaben->Checked();
    const bool bLower = cboxKleinbuchstaben->Checked();
    const bool bDigits = cboxZahlen->Checked();
    const bool bSpecial = cboxSonderzeichen->Checked();
    const int n = GetAlphabetSize(bUpper, bLower, bDigits, bSpecial);

    bool bAdded = false;
    DWORD dwRandom = 0;
    if (n > 0 && nPasswordLen < PASSWORD_BUFFER_SIZE - 1 && LSGenRandomBelow(static_cast<DWORD>(n), &dwRandom)) {
        // The product of two window coordinates may exceed 32 bits.
        long long llIndex = (static_cast<long long>(dwRandom) + static_cast<long long>(x) * y) % n;
        if (llIndex < 0) llIndex += n;
        char ch = GetCharOfCode(kFirstCode + static_cast<int>(llIndex), bUpper, bLower, bDigits, bSpecial);
        if (ch != '\0') {
            szPassword[nPasswordLen++] = ch;
            szPassword[nPasswordLen] = '\0';
            pbGenerierung->SetPosition(nPasswordLen);
            bAdded = true;
        }
        SecureZeroMemory(&ch, sizeof(ch));
        SecureZeroMemory(&llIndex, sizeof(llIndex));
    }
    SecureZeroMemory(&dwRandom, sizeof(dwRandom));

    if (nPasswordLen > 0 && nPasswordLen >= GetLength()) {
        bGenerating = false;
        edPasswort->SetTextBuf(szPassword);
        WipePassword();
        edPasswort->SetEnabled(true);
        btnCreatPwd->SetEnabled(true);
        btnStern->SetEnabled(true);
        txt_MAUS->Hide();
        SetClassBoxesEnabled(false);
        udAnzahl->SetEnabled(false);
    }
    bArmed = false;
    return bAdded;
}

bool TfrmPasswordManager::DoReset()
{
    LS_TRACE_LOG(nullptr, "TfrmPasswordManager::DoReset");
    ClearLSError(pErrHandler);
    bCancel = false;

    SetClassBoxesEnabled(true);
    btnCreatPwd->SetEnabled(true);
    udAnzahl->SetEnabled(true);
    txt_MAUS->Hide();
    btnStern->SetEnabled(false);
    edPasswort->Clear();
    pbGenerierung->SetPosition(0);
    WipePassword();
    return true;
}

// ---------------------------------------------------------------------------
// The character walk
// ---------------------------------------------------------------------------

char TfrmPasswordManager::GetCharOfCode(int nCode, bool bUpper, bool bLower, bool bDigits, bool bSpecial)
{
    // The code only grows on the walk, so codes outside printable ASCII select nothing.
    if (nCode < kFirstCode || nCode > kLastCode) return '\0';
    bool abChecked[4] = {};
    abChecked[ccSpecial] = bSpecial;
    abChecked[ccDigits] = bDigits;
    abChecked[ccUpper] = bUpper;
    abChecked[ccLower] = bLower;
    for (const TCharBlock& block : kCharBlocks) {
        if (abChecked[block.eClass]) {
            if (nCode >= block.nFirst && nCode <= block.nLast) return static_cast<char>(nCode);
        } else {
            // Skip the block: the next code counts on in the next checked block.
            nCode += block.nLast - block.nFirst + 1;
        }
    }
    return '\0';
}

int TfrmPasswordManager::GetAlphabetSize(bool bUpper, bool bLower, bool bDigits, bool bSpecial)
{
    return (bUpper ? 26 : 0) + (bLower ? 26 : 0) + (bDigits ? 10 : 0) + (bSpecial ? 32 : 0);
}

int TfrmPasswordManager::GetLength() const
{
    return udAnzahl->Position();
}

int TfrmPasswordManager::GetCheckedAlphabetSize() const
{
    return GetAlphabetSize(cboxGrossbuchstaben->Checked(), cboxKleinbuchstaben->Checked(), cboxZahlen->Checked(),
                           cboxSonderzeichen->Checked());
}

void TfrmPasswordManager::SetClassBoxesEnabled(bool bEnabled)
{
    cboxGrossbuchstaben->SetEnabled(bEnabled);
    cboxKleinbuchstaben->SetEnabled(bEnabled);
    cboxZahlen->SetEnabled(bEnabled);
    cboxSonderzeichen->SetEnabled(bEnabled);
    cboxAlle->SetEnabled(bEnabled);
}

void TfrmPasswordManager::WipePassword()
{
    SecureZeroMemory(szPassword, sizeof(szPassword));
    nPasswordLen = 0;
}

void TfrmPasswordManager::RestoreOwnerWindow()
{
    if (pOwner && bOwnerWndTaken) {
        // Only while the slot still names this window: whoever took it since
        // puts back what it found.
        if (pOwner->hOwnerWnd == Handle()) pOwner->hOwnerWnd = hSavedOwnerWnd;
    }
    bOwnerWndTaken = false;
    hSavedOwnerWnd = nullptr;
}

// ---------------------------------------------------------------------------
// Event handlers
// ---------------------------------------------------------------------------

void TfrmPasswordManager::cboxGrossbuchstabenClick(TObject* Sender)
{
    DoShowSicherheit();
}

void TfrmPasswordManager::cboxKleinbuchstabenClick(TObject* Sender)
{
    DoShowSicherheit();
}

void TfrmPasswordManager::cboxZahlenClick(TObject* Sender)
{
    DoShowSicherheit();
}

void TfrmPasswordManager::cboxSonderzeichenClick(TObject* Sender)
{
    DoShowSicherheit();
}

void TfrmPasswordManager::cboxAlleClick(TObject* Sender)
{
    DoCheckedAlleButton();
    DoShowSicherheit();
}

void TfrmPasswordManager::udAnzahlClick(TObject* Sender, TUDBtnType Button)
{
    if (GetLength() > 0) {
        SetClassBoxesEnabled(true);
    } else {
        SetClassBoxesEnabled(false);
        btnCreatPwd->SetEnabled(false);
    }
    DoShowSicherheit();
}

void TfrmPasswordManager::btnCreatPwdClick(TObject* Sender)
{
    DoCreatePassword();
}

void TfrmPasswordManager::btnCloseClick(TObject* Sender)
{
    Close();
}

void TfrmPasswordManager::btnSternClick(TObject* Sender)
{
    edPasswort->SetPasswordChar(edPasswort->PasswordChar() == '*' ? '\0' : '*');
}

void TfrmPasswordManager::btnHilfeClick(TObject* Sender)
{
    TVornixReg::DoShowQOVHilfe(pOwner, Handle(), HELP_TOPIC, false);
}

void TfrmPasswordManager::img_qov_PassGenMouseMove(TObject* Sender, TShiftState Shift, int X, int Y)
{
    if (X != 0 && Y != 0) DoAddMouseChar(X, Y);
}

void TfrmPasswordManager::txt_MAUSMouseMove(TObject* Sender, TShiftState Shift, int X, int Y)
{
    // The hint lies over the picture: a move over it is a move over the picture.
    img_qov_PassGenMouseMove(img_qov_PassGen, Shift, X + txt_MAUS->Left() - img_qov_PassGen->Left(),
                             Y + txt_MAUS->Top() - img_qov_PassGen->Top());
}

void TfrmPasswordManager::tmrKeyGeneratorTimer(TObject* Sender)
{
    bArmed = !bArmed;
}

void TfrmPasswordManager::tmrStartUpTimer(TObject* Sender)
{
    tmrStartUp->SetEnabled(false);
    if (!Visible()) return;
    BringToFront();
    if (pOwner && pOwner->hOwnerWnd != Handle()) {
        hSavedOwnerWnd = pOwner->hOwnerWnd;
        pOwner->hOwnerWnd = Handle();
        bOwnerWndTaken = true;
    }
}

void TfrmPasswordManager::FormShow(TObject* Sender)
{
    tmrStartUp->SetEnabled(true);
}

void TfrmPasswordManager::FormHide(TObject* Sender)
{
    tmrStartUp->SetEnabled(false);
    RestoreOwnerWindow();
}

void TfrmPasswordManager::FormClose(TObject* Sender, TCloseAction& Action)
{
    tmrStartUp->SetEnabled(false);
    RestoreOwnerWindow();
}
