// The safe dialog: layout, building, showing, closing and destroying, the
// change notification, the log viewer and the pickup of a generated password.
//
// Secrets in this unit: szPassword, szPassSequenz, the entry record buffer
// and the entry fields are wiped before the dialog lets go of them; the
// generated password passes through one local buffer that is wiped at once.
// None of them ever reaches a trace line.
#include "DlgSafe.h"

#include <algorithm>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"
#include "ProcessOwner.h"

namespace {

constexpr unsigned kStartUpInterval = 140;
// The bars: tool buttons and bottom buttons (pixels).
constexpr int kBarMargin = 4;
constexpr int kToolTop = 4;
constexpr int kToolHeight = 42;
constexpr int kToolGap = 4;
constexpr int kToolPadding = 14;
constexpr int kMinToolWidth = 56;
constexpr int kButtonLeft = 8;
constexpr int kButtonWidth = 96;
constexpr int kButtonGap = 8;
constexpr int kButtonPadding = 20;
constexpr int kCloseLeft = 8 + 4 * 104;
// The fields right of their labels.
constexpr int kLabelGap = 8;
constexpr int kFieldLeft = 380;
constexpr unsigned kPollInterval = 100;
// Library dialogs appear this far right of and below the dialog's corner.
constexpr int kDlgOffset = 100;
constexpr char kSettingsSubKey[] = "Safe";
constexpr char kLogFileName[] = "Safe.log";
// The log viewer, started by its full path in the Windows folder (or, where
// that has none, the system folder): never looked up by its bare name, which
// would also find a program of that name in the current folder.
constexpr char kLogViewer[] = "notepad.exe";

// Holds a critical section for one scope.
class TLSSectionLock {
public:
    explicit TLSSectionLock(CRITICAL_SECTION* pSection) : m_pSection(pSection) { EnterCriticalSection(m_pSection); }
    ~TLSSectionLock() { LeaveCriticalSection(m_pSection); }
    TLSSectionLock(const TLSSectionLock&) = delete;
    TLSSectionLock& operator=(const TLSSectionLock&) = delete;

private:
    CRITICAL_SECTION* m_pSection;
};

}  // namespace

// ---------------------------------------------------------------------------
// Construction and destruction
// ---------------------------------------------------------------------------

TfrmDlgSafe::TfrmDlgSafe(TComponent* AOwner) : TfrmDlgSafe(AOwner, LSGetProcessOwner())
{
}

TfrmDlgSafe::TfrmDlgSafe(TComponent* AOwner, TLSOwner* pOwnerHandle) : TForm(AOwner, "TfrmDlgSafe")
{
    BuildControls();
    WireEvents();
    DoLSClassInit(pOwnerHandle);
}

TfrmDlgSafe::~TfrmDlgSafe()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::~TfrmDlgSafe");
    bClassInitOK = false;
    try {
        tmrGetPassword->SetEnabled(false);
        tmrStartUp->SetEnabled(false);
        tmrLSUpdate->SetEnabled(false);
        // A dialog destroyed while still listening stops its listener first,
        // so no callback can reach a dialog that is gone.
        if (nNotifyThread != 0) DoCloseLSNotifyThread(pOwner, &nNotifyThread);
        RestoreOwnerWindow();
        if (bLogViewerRunning && pTools) pTools->TerminateProcess(nullptr);
        bLogViewerRunning = false;
        WipeFields();
    } catch (const std::exception&) {
        // The window is going away; nothing is left to report to.
    }

    if (hCrypt) FreeWCHandle(hCrypt);
    hCrypt = nullptr;
    if (pDyn && hProgress) pDyn->DYN_DoFreeFrmDlgProgress(hProgress);
    hProgress = nullptr;

    delete pDyn;
    pDyn = nullptr;
    delete pXml;
    pXml = nullptr;
    if (pTresor) {
        if (pTresor->pBuffer) {
            SecureZeroMemory(pTresor->pBuffer, LS_TRESOR_RECORD_SIZE);
            delete[] pTresor->pBuffer;
        }
        SecureZeroMemory(pTresor, sizeof(*pTresor));
        delete pTresor;
        pTresor = nullptr;
    }
    delete pDragSrc;
    pDragSrc = nullptr;
    delete pLog;
    pLog = nullptr;
    delete pFile;
    pFile = nullptr;
    delete pShell;
    pShell = nullptr;
    delete pTools;
    pTools = nullptr;
    delete pPasswordManager;
    pPasswordManager = nullptr;

    if (bSectionsReady) {
        DeleteCriticalSection(&csNotify);
        DeleteCriticalSection(&csUpdate);
        bSectionsReady = false;
    }
    SecureZeroMemory(szPassword, sizeof(szPassword));
    SecureZeroMemory(szPassSequenz, sizeof(szPassSequenz));
    pszSafeFile = nullptr;
}

void TfrmDlgSafe::BuildControls()
{
    SetClientSize(682, 253);
    Font()->SetName("MS Sans Serif");
    Font()->SetColor(clNavy);

    // Bottom: the button bar.
    pnlButtons = new TPanel(this);
    pnlButtons->SetName("pnlButtons");
    pnlButtons->SetAlign(alBottom);
    pnlButtons->SetHeight(40);

    TButton** const appButtons[] = {&btnHilfe, &btnAbout, &btnLogFile, &btnSave, &btnClose};
    const char* const apszButtonNames[] = {"btnHilfe", "btnAbout", "btnLogFile", "btnSave", "btnClose"};
    for (int i = 0; i < 5; ++i) {
        TButton* pButton = new TButton(pnlButtons);
        pButton->SetName(apszButtonNames[i]);
        pButton->SetBounds(8 + i * 104, 8, 96, 25);
        pButton->SetAnchors(akLeft | akBottom);
        *appButtons[i] = pButton;
    }
    btnSave->SetDefault(true);
    btnClose->Font()->SetStyle(fsBold);
    btnClose->Font()->SetColor(clGreen);

    // Top: the tool bar.
    pnlTop = new TPanel(this);
    pnlTop->SetName("pnlTop");
    pnlTop->SetAlign(alTop);
    pnlTop->SetHeight(50);

    TSpeedButton** const appTools[] = {&btnNeuerEintrag, &btnEintragLoeschen, &btnKeyGenerator,
                                       &btnChangeTresorFile, &btnCertMgr, &btnChangePassword, &btnKonvert};
    const char* const apszToolNames[] = {"btnNeuerEintrag",   "btnEintragLoeschen", "btnKeyGenerator",
                                         "btnChangeTresorFile", "btnCertMgr",         "btnChangePassword",
                                         "btnKonvert"};
    for (int i = 0; i < 7; ++i) {
        TSpeedButton* pButton = new TSpeedButton(pnlTop);
        pButton->SetName(apszToolNames[i]);
        pButton->SetFlat(true);
        pButton->SetBounds(4 + i * 96, 4, 92, 42);
        *appTools[i] = pButton;
    }

    // Left: the picture and the entry list.
    img_qov_Tresor = new TImage(this);
    img_qov_Tresor->SetName("img_qov_Tresor");
    img_qov_Tresor->SetBounds(4, 54, 46, 155);
    img_qov_Tresor->SetCenter(true);
    img_qov_Tresor->SetAnchors(akLeft | akTop | akBottom);

    lstvBezeichnung = new TListView(this);
    lstvBezeichnung->SetName("lstvBezeichnung");
    lstvBezeichnung->SetBounds(54, 54, 230, 155);
    lstvBezeichnung->SetAnchors(akLeft | akTop | akBottom);

    // Right: the fields of the selected entry.
    txtBenutzername = new TLabel(this);
    txtBenutzername->SetName("txtBenutzername");
    txtBenutzername->SetBounds(292, 58, 84, 13);

    editBenutzername = new TEdit(this);
    editBenutzername->SetName("editBenutzername");
    editBenutzername->SetBounds(380, 54, 294, 21);
    editBenutzername->SetAnchors(akLeft | akTop | akRight);

    txtPasswort = new TLabel(this);
    txtPasswort->SetName("txtPasswort");
    txtPasswort->SetBounds(292, 82, 84, 13);

    editPasswort = new TEdit(this);
    editPasswort->SetName("editPasswort");
    editPasswort->SetPasswordChar('*');
    editPasswort->SetBounds(380, 78, 268, 21);
    editPasswort->SetAnchors(akLeft | akTop | akRight);

    btnPasswortSichtbar = new TSpeedButton(this);
    btnPasswortSichtbar->SetName("btnPasswortSichtbar");
    btnPasswortSichtbar->SetCaption("*");
    btnPasswortSichtbar->SetBounds(652, 78, 22, 21);
    btnPasswortSichtbar->SetAnchors(akTop | akRight);

    txtURL = new TLabel(this);
    txtURL->SetName("txtURL");
    txtURL->SetBounds(292, 106, 84, 13);

    editURL = new TEdit(this);
    editURL->SetName("editURL");
    editURL->SetBounds(380, 102, 268, 21);
    editURL->SetAnchors(akLeft | akTop | akRight);

    btnBrowserOeffnen = new TSpeedButton(this);
    btnBrowserOeffnen->SetName("btnBrowserOeffnen");
    btnBrowserOeffnen->SetCaption("...");
    btnBrowserOeffnen->SetBounds(652, 102, 22, 21);
    btnBrowserOeffnen->SetAnchors(akTop | akRight);

    memoSafe = new TMemo(this);
    memoSafe->SetName("memoSafe");
    memoSafe->Font()->SetName("Arial");
    memoSafe->SetScrollBars(ssVertical);
    memoSafe->SetBounds(292, 128, 382, 81);
    memoSafe->SetAnchors(akAll);

    // The form's own limits, replaced by the record's when the dialog is built.
    editBenutzername->SetMaxLength(128);
    editPasswort->SetMaxLength(64);
    editURL->SetMaxLength(255);
    memoSafe->SetMaxLength(MAX_NOTE);

    // The popup menu of the entry list.
    pmSave = new TPopupMenu(this);
    pmSave->SetName("pmSave");
    TMenuItem** const appItems[] = {&pumNeuerEintrag,   &pumDuplizieren,      &pumEintragUmbenennen,
                                    &pumEintragLoeschen, &pumKeyGenerator,     &N1,
                                    &pumChangePassword, &pumChangeTresorFile, &N2,
                                    &pumSpeichern,      &pumAbbruch};
    const char* const apszItemNames[] = {"pumNeuerEintrag",   "pumDuplizieren",      "pumEintragUmbenennen",
                                         "pumEintragLoeschen", "pumKeyGenerator",     "N1",
                                         "pumChangePassword", "pumChangeTresorFile", "N2",
                                         "pumSpeichern",      "pumAbbruch"};
    for (int i = 0; i < 11; ++i) {
        TMenuItem* pItem = new TMenuItem(this);
        pItem->SetName(apszItemNames[i]);
        pmSave->Items()->Add(pItem);
        *appItems[i] = pItem;
    }
    N1->SetCaption("-");
    N2->SetCaption("-");
    pumDuplizieren->SetVisible(false);
    lstvBezeichnung->SetPopupMenu(pmSave);

    tmrGetPassword = new TTimer(this);
    tmrGetPassword->SetName("tmrGetPassword");
    tmrGetPassword->SetEnabled(false);
    tmrGetPassword->SetInterval(kPollInterval);

    tmrStartUp = new TTimer(this);
    tmrStartUp->SetName("tmrStartUp");
    tmrStartUp->SetEnabled(false);

    tmrLSUpdate = new TTimer(this);
    tmrLSUpdate->SetName("tmrLSUpdate");
    tmrLSUpdate->SetEnabled(false);
    tmrLSUpdate->SetInterval(kPollInterval);

    // The keyboard: Tab goes from the list through the fields, the small
    // buttons beside them included, to the bottom buttons; Escape closes the
    // dialog as the close button does.
    btnPasswortSichtbar->SetTabStop(true);
    btnBrowserOeffnen->SetTabStop(true);
    pnlButtons->SetTabOrder(ControlCount());
    btnClose->SetCancel(true);
}

void TfrmDlgSafe::WireEvents()
{
    OnShow = TkMethod(this, &TfrmDlgSafe::FormShow);
    OnClose = TkMethod(this, &TfrmDlgSafe::FormClose);
    OnResize = TkMethod(this, &TfrmDlgSafe::FormResize);
    OnEndSession = TkMethod(this, &TfrmDlgSafe::FormEndSession);
    tmrStartUp->OnTimer = TkMethod(this, &TfrmDlgSafe::tmrStartUpTimer);
    tmrLSUpdate->OnTimer = TkMethod(this, &TfrmDlgSafe::tmrLSUpdateTimer);
    tmrGetPassword->OnTimer = TkMethod(this, &TfrmDlgSafe::tmrGetPasswordTimer);
    btnClose->OnClick = TkMethod(this, &TfrmDlgSafe::btnCloseClick);
    pumSpeichern->OnClick = TkMethod(this, &TfrmDlgSafe::pumSpeichernClick);
    pumAbbruch->OnClick = TkMethod(this, &TfrmDlgSafe::pumAbbruchClick);
    btnNeuerEintrag->OnClick = TkMethod(this, &TfrmDlgSafe::btnNeuerEintragClick);
    pumNeuerEintrag->OnClick = TkMethod(this, &TfrmDlgSafe::pumNeuerEintragClick);
    btnEintragLoeschen->OnClick = TkMethod(this, &TfrmDlgSafe::btnEintragLoeschenClick);
    pumEintragLoeschen->OnClick = TkMethod(this, &TfrmDlgSafe::pumEintragLoeschenClick);
    pumEintragUmbenennen->OnClick = TkMethod(this, &TfrmDlgSafe::pumEintragUmbenennenClick);
    lstvBezeichnung->OnEdited = TkMethod(this, &TfrmDlgSafe::lstvBezeichnungEdited);
    lstvBezeichnung->OnSelectItem = TkMethod(this, &TfrmDlgSafe::lstvBezeichnungSelectItem);
    lstvBezeichnung->OnKeyDown = TkMethod(this, &TfrmDlgSafe::lstvBezeichnungKeyDown);
    editBenutzername->OnChange = TkMethod(this, &TfrmDlgSafe::editBenutzernameChange);
    editPasswort->OnChange = TkMethod(this, &TfrmDlgSafe::editPasswortChange);
    editURL->OnChange = TkMethod(this, &TfrmDlgSafe::editURLChange);
    memoSafe->OnChange = TkMethod(this, &TfrmDlgSafe::memoSafeChange);
    btnSave->OnClick = TkMethod(this, &TfrmDlgSafe::btnSaveClick);
    btnChangePassword->OnClick = TkMethod(this, &TfrmDlgSafe::btnChangePasswordClick);
    pumChangePassword->OnClick = TkMethod(this, &TfrmDlgSafe::pumChangePasswordClick);
    btnChangeTresorFile->OnClick = TkMethod(this, &TfrmDlgSafe::btnChangeTresorFileClick);
    pumChangeTresorFile->OnClick = TkMethod(this, &TfrmDlgSafe::pumChangeTresorFileClick);
    btnKonvert->OnClick = TkMethod(this, &TfrmDlgSafe::btnKonvertClick);
    WireFieldActions();
}

// ---------------------------------------------------------------------------
// Building
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::DoLSClassInit(TLSOwner* pOwnerHandle)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoLSClassInit");
    pOwner = pOwnerHandle;
    pErrHandler = LSOwnerErr(pOwner);
    if (!pOwner) {
        hPrevOwnerWnd = nullptr;
        bOwnerWndTaken = false;
    }

    // Size limits (the window is laid out in pixels and never scaled).
    Constraints().MinHeight = MIN_HEIGHT;
    Constraints().MinWidth = MIN_WIDTH;
    ApplyConstraints();
    ClearLSError(pErrHandler);

    tmrStartUp->SetEnabled(false);
    tmrStartUp->SetInterval(kStartUpInterval);
    tmrLSUpdate->SetEnabled(false);
    HBITMAP hBitmap = nullptr;
    if (DLS_QOVLoadBitmap(pOwner, LS_BMP_SAFE, &hBitmap) && hBitmap) img_qov_Tresor->SetBitmap(hBitmap, true);

    nCloseMode = CLOSE_NORMAL;
    SecureZeroMemory(szPassword, sizeof(szPassword));
    szCaption[0] = '\0';
    pszSafeFile = nullptr;
    bClassInitOK = false;
    bBulkUpdate = false;
    bCancel = false;
    bPasswordFailed = false;
    bLogViewerRunning = false;
    bMouseDown = false;
    bUpdating = false;
    nMouseX = 0;
    nMouseY = 0;
    nNotifyThread = 0;
    nCryptMode = LS_CRYPT_CURRENT;
    // The settings key is needed by the window position below already.
    LSStrFormat(szLogKey, sizeof(szLogKey), "%s\\%s", LS_SETTINGS_ROOT, kSettingsSubKey);

    lstvBezeichnung->SetHideSelection(false);
    lstvBezeichnung->SetSortType(stText);
    if (lstvBezeichnung->ColumnCount() == 0) lstvBezeichnung->AddColumn(DLS_TXT_TRESOREINTRAEGE());
    TListColumn* pColumn = lstvBezeichnung->Column(0);
    pColumn->SetCaption(DLS_TXT_TRESOREINTRAEGE());
    pColumn->SetAlignment(taCenter);
    pColumn->SetAutoSize(true);

    SetCaption(DLS_GLOBAL_CAPTION_SAFE());
    btnLogFile->SetCaption(DLS_BTN_OPENLOG());
    btnSave->SetCaption(DLS_BTN_SPEICHERN());
    pumSpeichern->SetCaption(DLS_BTN_SPEICHERN());
    btnClose->SetCaption(DLS_BTN_SCHLIESSEN());
    btnHilfe->SetCaption(DLS_BTN_HELP());
    btnAbout->SetCaption(DLS_BTN_ABOUT());
    btnChangePassword->SetCaption(DLS_BTN_CHANGEPASSWORD());
    btnKonvert->SetCaption(DLS_BTN_KONVERTIEREN());
    btnChangeTresorFile->SetCaption(DLS_BTN_CHANGETRESORFILE());
    btnNeuerEintrag->SetCaption(DLS_BTN_NEUER_EINTRAG());
    btnEintragLoeschen->SetCaption(DLS_BTN_EINTRAG_LOESCHEN());
    btnKeyGenerator->SetCaption(DLS_BTN_KEY_GENERATOR());
    btnCertMgr->SetCaption(DLS_BTN_ZERTMGR());
    pumNeuerEintrag->SetCaption(DLS_PUM_NEUER_EINTRAG());
    pumEintragLoeschen->SetCaption(DLS_PUM_EINTRAG_LOESCHEN());
    pumChangePassword->SetCaption(DLS_PUM_CHANGEPASSWORD());
    pumChangeTresorFile->SetCaption(DLS_PUM_CHANGETRESORFILE());
    pumAbbruch->SetCaption(DLS_BTN_CANCEL());
    pumDuplizieren->SetCaption(DLS_PUM_EINTRAG_DUPLIZIEREN());
    pumKeyGenerator->SetCaption(DLS_PUM_KEY_GENERATOR());
    pumEintragUmbenennen->SetCaption(DLS_PUM_EINTRAG_RENAME());
    txtPasswort->SetCaption(DLS_TXT_PASSWORT());
    txtURL->SetCaption(DLS_TXT_URL());
    txtBenutzername->SetCaption(DLS_TXT_BENUTZERNAME());
    btnBrowserOeffnen->SetHint(DLS_HINT_BROWSER_OEFFNEN());
    btnBrowserOeffnen->SetShowHint(true);
    btnPasswortSichtbar->SetHint(DLS_HINT_PASSWORT_KLAR());
    btnPasswortSichtbar->SetShowHint(true);
    // Captions of any length, in any language, fit.
    LayoutLabels();
    LayoutBars();

    // Nothing is selected yet.
    btnEintragLoeschen->SetEnabled(false);
    pumEintragLoeschen->SetEnabled(false);
    pumDuplizieren->SetEnabled(false);
    pumEintragUmbenennen->SetEnabled(false);
    TEdit* const apFields[] = {editBenutzername, editPasswort, editURL, memoSafe};
    for (TEdit* pField : apFields) {
        pField->SetEnabled(false);
        pField->SetColor(clBtnFace);
    }
    btnPasswortSichtbar->SetEnabled(false);
    btnBrowserOeffnen->SetEnabled(false);
    btnSave->Hide();
    btnSave->SetEnabled(false);
    pumSpeichern->SetVisible(false);
    pumSpeichern->SetEnabled(false);
    btnLogFile->SetEnabled(false);

    // The window where the user left it, else where the system puts it.
    int nLeft = 0, nTop = 0, nWidth = 0, nHeight = 0;
    if (TVornixReg::QOVGetWindowsRect(pOwner, szLogKey, &nLeft, &nTop, &nWidth, &nHeight, nullptr)) {
        SetPosition(poDesigned);
        SetBounds(nLeft, nTop, nWidth, nHeight);
    } else {
        SetPosition(poDefaultPosOnly);
    }

    ClearLSError(pErrHandler);
    if (!bSectionsReady) {
        InitializeCriticalSection(&csNotify);
        InitializeCriticalSection(&csUpdate);
        bSectionsReady = true;
    }

    try {
        if (!pFile) pFile = new (std::nothrow) TLSFile(pOwner);
        if (!pShell) pShell = new (std::nothrow) TShellAPI(pOwner, false);
        if (!pTools) pTools = new (std::nothrow) TLSTools(pOwner);
        if (!pTresor) {
            pTresor = new (std::nothrow) TLSTresor;
            if (pTresor) {
                SecureZeroMemory(pTresor->szVersion, sizeof(pTresor->szVersion));
                pTresor->dwSize = sizeof(TLSTresor);
                pTresor->pBuffer = new (std::nothrow) BYTE[LS_TRESOR_RECORD_SIZE];
                if (pTresor->pBuffer) SecureZeroMemory(pTresor->pBuffer, LS_TRESOR_RECORD_SIZE);
            }
        }
        if (!pDragSrc) pDragSrc = new TLSDragSrc(pOwner, nullptr, this);
        if (!pXml) pXml = new (std::nothrow) TXmlAPI(pOwner);
        if (!pLog) pLog = new (std::nothrow) TLSLog(pOwner);
        if (!pPasswordManager) pPasswordManager = new TfrmPasswordManager(pOwner, this);
        if (!pDyn) pDyn = new (std::nothrow) TVornixDyn(pOwner, "KTXDlg.DLL");
        if (pDyn && !hProgress) hProgress = pDyn->DYN_DoGetFrmDlgProgress(pOwner, Handle());
    } catch (const std::exception&) {
        // What was made is kept (and freed by the destructor); the dialog is
        // then not usable.
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    bClassInitOK = pFile && pShell && pTools && pTresor && pTresor->pBuffer && pDragSrc && pXml && pLog &&
                   pPasswordManager && pDyn && hProgress;

    // The safe log and the settings key that keeps its seal.
    char szUserPath[LS_PATH_SIZE] = {};
    szLogFile[0] = '\0';
    if (TVornixReg::QOVGetVornixUserPath(pOwner, szUserPath))
        LSStrFormat(szLogFile, sizeof(szLogFile), "%s\\%s", szUserPath, kLogFileName);
    if (pLog) pLog->Init(szLogFile, szLogKey, 0);

    hCrypt = nullptr;
    GetWCHandle(&hCrypt, pOwner);
    bCancel = hCrypt == nullptr;

    // Without every service object or a crypto context the dialog cannot
    // work: the input limits stay unset and the building reports failure.
    bool ok = bClassInitOK && hProgress != nullptr && hCrypt != nullptr;
    if (ok) ok = pTools->GetUsrNam(szUserName, sizeof(szUserName));
    if (ok) {
        editBenutzername->SetMaxLength(MAX_USERNAME);
        editPasswort->SetMaxLength(MAX_PASSWORD);
        editURL->SetMaxLength(MAX_URL);
        memoSafe->SetMaxLength(MAX_NOTE);
    }

    // A log changed since its seal is told to the user once the safe is open.
    bLogSealBroken = pLog && !pLog->CheckHash();

    // Library dialogs appear offset from the dialog's corner. Where the
    // system places the dialog is known only once it is shown: until then
    // they are centred on their window (or the screen) as usual.
    if (pOwner) {
        pOwner->nDlgLeft = Left() + kDlgOffset;
        pOwner->nDlgTop = Top() + kDlgOffset;
        pOwner->bDlgPosSet = Position() == poDesigned;
    }

    bCancel = !ok;
    ClearLSError(pErrHandler);
    return LS_DEF_ERROR(pErrHandler, ok, "TfrmDlgSafe::DoLSClassInit failed!");
}

// ---------------------------------------------------------------------------
// Showing, starting and closing
// ---------------------------------------------------------------------------

void TfrmDlgSafe::FormShow(TObject* Sender)
{
    bWindowClosed = false;
    // The user starts in the entry list.
    SetActiveControl(lstvBezeichnung);
    tmrStartUp->SetEnabled(true);
    if (nNotifyThread == 0) DoStartLSNotifyThread(pOwner, &TfrmDlgSafe::LSNotifyCallback, this, &nNotifyThread);
}

void TfrmDlgSafe::tmrStartUpTimer(TObject* Sender)
{
    tmrStartUp->SetEnabled(false);
    TLSTools::BringWindowToTop(Handle());
    // In front, the keys go to the entry list unless the user has moved on.
    const HWND hFocus = GetFocus();
    if ((!hFocus || !IsChild(Handle(), hFocus)) && lstvBezeichnung->CanFocus()) lstvBezeichnung->SetFocus();
    if (pOwner && !bOwnerWndTaken) {
        hPrevOwnerWnd = pOwner->hOwnerWnd;
        pOwner->hOwnerWnd = Handle();
        bOwnerWndTaken = true;
    }
    if (pOwner) {
        pOwner->nDlgLeft = Left() + kDlgOffset;
        pOwner->nDlgTop = Top() + kDlgOffset;
        pOwner->bDlgPosSet = true;
    }
}

void TfrmDlgSafe::FormResize(TObject* Sender)
{
    if (Width() < RESIZE_MIN_WIDTH) SetWidth(RESIZE_MIN_WIDTH);
    if (Height() < RESIZE_MIN_HEIGHT) SetHeight(RESIZE_MIN_HEIGHT);
    LayoutBars();
}

int TfrmDlgSafe::TextWidth(TControl* pControl) const
{
    const std::string text = pControl->Caption();
    HDC hdc = GetDC(nullptr);
    if (!hdc) return 0;
    HGDIOBJ hOld = SelectObject(hdc, pControl->Font()->Handle());
    RECT rc{0, 0, 0, 0};
    DrawTextA(hdc, text.c_str(), -1, &rc, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(hdc, hOld);
    ReleaseDC(nullptr, hdc);
    return rc.right - rc.left;
}

void TfrmDlgSafe::LayoutBars()
{
    // The tool bar: the visible buttons side by side, each as wide as its
    // caption needs. When one line each does not fit the bar, captions break
    // between words onto two lines.
    TSpeedButton* const apTools[] = {btnNeuerEintrag, btnEintragLoeschen, btnKeyGenerator, btnChangeTresorFile,
                                      btnCertMgr,      btnChangePassword,  btnKonvert};
    std::vector<TSpeedButton*> tools;
    for (TSpeedButton* p : apTools)
        if (p->Visible()) tools.push_back(p);
    const int cxBar = pnlTop->ClientWidth() - 2 * kBarMargin;
    int nSingle = 0;
    for (TSpeedButton* p : tools) {
        p->SetWordWrap(false);
        nSingle += std::max(static_cast<int>(p->TextExtent().cx) + kToolPadding, kMinToolWidth) + kToolGap;
    }
    const bool bWrap = nSingle - kToolGap > cxBar;
    int x = kBarMargin;
    for (TSpeedButton* p : tools) {
        p->SetWordWrap(bWrap);
        // Wrapped: as wide as its longest word, or as its whole caption when
        // that is no wider than a comfortable two-line button.
        const int cxText = static_cast<int>(bWrap ? p->TextExtent(1).cx : p->TextExtent().cx);
        const int cx = std::max(cxText + kToolPadding, kMinToolWidth);
        p->SetBounds(x, kToolTop, cx, kToolHeight);
        x += cx + kToolGap;
    }

    // The bottom bar: each button at least as wide as before, wider when its
    // caption needs it; the close button keeps its place after the others.
    TButton* const apButtons[] = {btnHilfe, btnAbout, btnLogFile, btnSave};
    x = kButtonLeft;
    for (TButton* p : apButtons) {
        if (!p->Visible()) continue;
        const int cx = std::max(TextWidth(p) + kButtonPadding, kButtonWidth);
        p->SetBounds(x, p->Top(), cx, p->Height());
        x += cx + kButtonGap;
    }
    const int cxClose = std::max(TextWidth(btnClose) + kButtonPadding, kButtonWidth);
    btnClose->SetBounds(std::max(x, kCloseLeft), btnClose->Top(), cxClose, btnClose->Height());
}

void TfrmDlgSafe::LayoutLabels()
{
    // The fields start right of the longest of their labels.
    TLabel* const apLabels[] = {txtBenutzername, txtPasswort, txtURL};
    int cxLabel = 0;
    for (TLabel* p : apLabels) cxLabel = std::max(cxLabel, TextWidth(p));
    const int xField = std::max(txtBenutzername->Left() + cxLabel + kLabelGap, kFieldLeft);
    for (TLabel* p : apLabels) p->SetBounds(p->Left(), p->Top(), xField - kLabelGap - p->Left(), p->Height());
    TEdit* const apFields[] = {editBenutzername, editPasswort, editURL};
    for (TEdit* p : apFields) {
        const int xRight = p->Left() + p->Width();
        p->SetBounds(xField, p->Top(), xRight - xField, p->Height());
    }
}

void TfrmDlgSafe::FormClose(TObject* Sender, TCloseAction& Action)
{
    CloseWindowState();
}

void TfrmDlgSafe::FormEndSession(TObject* Sender)
{
    // The process ends when this message returns: the entry, the file's
    // protection, the backup and the log's seal are all done here.
    CloseWindowState();
    DoCloseSafe();
    if (Visible()) Close();
}

void TfrmDlgSafe::CloseWindowState()
{
    if (bWindowClosed) return;
    bWindowClosed = true;
    tmrStartUp->SetEnabled(false);
    DoCloseLSNotifyThread(pOwner, &nNotifyThread);
    // Whichever way the dialog closes, what the user changed in the shown
    // entry is stored; an entry only looked at stays as the file holds it.
    DoStoreChangedItem(lstvBezeichnung->Selected());
    TVornixReg::QOVSetWindowsRect(pOwner, szLogKey, Left(), Top(), Width(), Height(), 0);
    RestoreOwnerWindow();
}

void TfrmDlgSafe::btnCloseClick(TObject* Sender)
{
    nCloseMode = CLOSE_NORMAL;
    Close();
}

void TfrmDlgSafe::pumSpeichernClick(TObject* Sender)
{
    nCloseMode = CLOSE_NORMAL;
    Close();
}

void TfrmDlgSafe::pumAbbruchClick(TObject* Sender)
{
    nCloseMode = CLOSE_CANCELLED;
    Close();
}

void TfrmDlgSafe::RestoreOwnerWindow()
{
    if (pOwner && bOwnerWndTaken) {
        // Only while the slot still names this dialog: whoever took it since
        // puts back what it found.
        if (pOwner->hOwnerWnd == Handle()) pOwner->hOwnerWnd = hPrevOwnerWnd;
    }
    bOwnerWndTaken = false;
}

void TfrmDlgSafe::WipeFields()
{
    const bool bWasFilling = bFillingFields;
    bFillingFields = true;
    editBenutzername->Clear();
    editPasswort->Clear();
    editURL->Clear();
    memoSafe->Clear();
    bFillingFields = bWasFilling;
}

// ---------------------------------------------------------------------------
// Change notification
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::LSNotifyCallback(TLSOwner* pOwnerHandle, DWORD* pdwFlags, void* pContext)
{
    // Runs on the settings library's listener thread: it only switches the
    // update timer on (the timer hands that to the GUI thread) and never lets
    // an exception back into the library.
    TfrmDlgSafe* pDlg = static_cast<TfrmDlgSafe*>(pContext);
    if (!pDlg) return false;
    try {
        TLSSectionLock lock(&pDlg->csNotify);
        if (pdwFlags && (*pdwFlags & NOTIFY_SAFE_CHANGED)) {
            pDlg->tmrLSUpdate->SetEnabled(true);
            *pdwFlags &= ~static_cast<DWORD>(NOTIFY_SAFE_CHANGED);
        }
    } catch (...) {
        return false;
    }
    return pdwFlags != nullptr;
}

void TfrmDlgSafe::tmrLSUpdateTimer(TObject* Sender)
{
    tmrLSUpdate->SetEnabled(false);
    DoLSUpdate();
}

bool TfrmDlgSafe::OnLSChange(bool bNotify)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::OnLSChange");
    if (!bNotify) return true;
    ClearLSError(pErrHandler);
    bCancel = false;
    // Tells the product's other listeners; this process's own listener is not
    // among them, so the refresh runs here.
    bool bResult = DoSetLSNotifyEvent(pOwner, NOTIFY_SAFE_CHANGED, false);
    if (bResult) DoLSUpdate();
    return bResult;
}

bool TfrmDlgSafe::DoLSUpdate()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoLSUpdate");
    TLSSectionLock lock(&csUpdate);
    if (!bUpdating) {
        const bool bWasEnabled = Enabled();
        SetEnabled(false);
        bUpdating = true;
        try {
            btnNeuerEintrag->SetEnabled(true);
            pumNeuerEintrag->SetEnabled(true);
        } catch (...) {
            bUpdating = false;
            SetEnabled(bWasEnabled);
            throw;
        }
        bUpdating = false;
        SetEnabled(bWasEnabled);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Log viewer
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::DoShowSafeLog()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoShowSafeLog");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = pTools != nullptr;

    // At most one viewer at a time.
    if (bResult && bLogViewerRunning) {
        pTools->TerminateProcess(nullptr);
        bLogViewerRunning = false;
    }

    char szCommand[LOG_COMMAND_SIZE] = {};
    if (bResult) {
        const char* pszLog = pLog ? pLog->GetLogFilNam() : nullptr;
        bResult = pszLog && *pszLog;
        if (!bResult) SetLastError(ERROR_FILE_NOT_FOUND);

        // The viewer's full path: <folder>\notepad.exe of the Windows folder,
        // else of the system folder.
        char szViewer[MAX_PATH] = {};
        bool bFound = false;
        for (int nFolder = 0; bResult && !bFound && nFolder < 2; ++nFolder) {
            char szFolder[MAX_PATH] = {};
            UINT cch = nFolder == 0 ? GetWindowsDirectoryA(szFolder, sizeof(szFolder))
                                    : GetSystemDirectoryA(szFolder, sizeof(szFolder));
            if (cch == 0 || cch >= sizeof(szFolder)) continue;
            const char* pszSep = szFolder[cch - 1] == '\\' ? "" : "\\";
            if (!LSStrFormat(szViewer, sizeof(szViewer), "%s%s%s", szFolder, pszSep, kLogViewer)) continue;
            DWORD dwAttrs = GetFileAttributesA(szViewer);
            bFound = dwAttrs != INVALID_FILE_ATTRIBUTES && !(dwAttrs & FILE_ATTRIBUTE_DIRECTORY);
        }
        if (bResult && !bFound) {
            bResult = false;
            SetLastError(ERROR_FILE_NOT_FOUND);
        }
        // Both paths quoted; a command line that does not fit would name
        // another file: refused.
        if (bResult && !LSStrFormat(szCommand, sizeof(szCommand), "\"%s\" \"%s\"", szViewer, pszLog)) {
            bResult = false;
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        }
    }
    if (bResult) bResult = pTools->CreateProcessA(szCommand, false, 1, nullptr, nullptr);
    if (bResult) bLogViewerRunning = true;

    LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoShowSafeLog failed!");
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, bCancel, "TfrmDlgSafe::DoShowSafeLog failed!");
}

// ---------------------------------------------------------------------------
// Pickup of a generated password
// ---------------------------------------------------------------------------

void TfrmDlgSafe::tmrGetPasswordTimer(TObject* Sender)
{
    ClearLSError(pErrHandler);
    bCancel = false;
    const bool bActive = pPasswordManager && pPasswordManager->Visible();
    if (!bActive) {
        tmrGetPassword->SetEnabled(false);
        return;
    }
    // A finished password: text in edPasswort while btnCreatPwd is enabled again.
    if (pPasswordManager->edPasswort->GetTextLen() <= 0 || !pPasswordManager->btnCreatPwd->Enabled()) return;

    tmrGetPassword->SetEnabled(false);
    char szGenerated[TfrmPasswordManager::PASSWORD_BUFFER_SIZE] = {};
    pPasswordManager->edPasswort->GetTextBuf(szGenerated, sizeof(szGenerated));
    // The question shows the password; its text is wiped like the password.
    char szQuestion[LS_TEXT_SIZE] = {};
    LSStrFormat(szQuestion, sizeof(szQuestion), DLS_TXT_ASKTAKEPASSWORD(), szGenerated);
    bool bTake = false;
    try {
        const std::string caption = Caption();
        bTake = TLSError::StdAskMsg(pOwner, Handle(), caption.c_str(), szQuestion);
        if (bTake) editPasswort->SetTextBuf(szGenerated);
    } catch (...) {
        SecureZeroMemory(szGenerated, sizeof(szGenerated));
        SecureZeroMemory(szQuestion, sizeof(szQuestion));
        throw;
    }
    SecureZeroMemory(szGenerated, sizeof(szGenerated));
    SecureZeroMemory(szQuestion, sizeof(szQuestion));

    pPasswordManager->DoReset();
    tmrGetPassword->SetEnabled(true);
    if (bTake) {
        const bool bSelected = lstvBezeichnung->Selected() != nullptr;
        pumSpeichern->SetEnabled(bSelected);
        btnSave->SetEnabled(bSelected);
        pPasswordManager->Close();
    }
}
