// The start-up form: installation bookkeeping while it is built, then one
// action chosen by the last command-line argument.
#include "Dlgdosafe.h"

#include <cstring>
#include <exception>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"
#include "ProcessOwner.h"

namespace {

constexpr char kProgramFile[] = "KTSafe.exe";
constexpr char kLinkPrefix[] = "KT-";
constexpr char kLinkExtension[] = ".lnk";
constexpr char kUpdateKey[] = "Mgr";
constexpr char kUpdateOption[] = "update";
constexpr DWORD kUpdateOptionMode = 2;
constexpr char kSwitchDeactivate[] = "/DEACTIVATE";
constexpr char kSwitchCertificateManager[] = "/CERTIFICATEMANAGER";
constexpr DWORD kCertificateManagerPause = 10;
// Grey: red, green and blue 128 each.
constexpr TColor kBannerColor = static_cast<TColor>(8421504);

// A caption names a file of the link table: it must stay a plain name there.
bool IsPlainLinkName(const char* pszCaption)
{
    if (!pszCaption || !*pszCaption) return false;
    if (std::strpbrk(pszCaption, "\\/:*?\"<>|")) return false;
    return std::strcmp(pszCaption, ".") != 0 && std::strcmp(pszCaption, "..") != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and destruction
// ---------------------------------------------------------------------------

TfrmDoSafe::TfrmDoSafe(TComponent* AOwner) : TfrmDoSafe(LSGetProcessOwner(), AOwner)
{
}

TfrmDoSafe::TfrmDoSafe(TLSOwner* pOwnerHandle, TComponent* AOwner) : TForm(AOwner, "TfrmDoSafe")
{
    BuildControls();
    WireEvents();
    DoLSClassInit(pOwnerHandle);
}

TfrmDoSafe::~TfrmDoSafe()
{
    LS_TRACE_LOG(nullptr, "TfrmDoSafe::~TfrmDoSafe");
    bActive = false;
    try {
        tmrStartUp->SetEnabled(false);
    } catch (const std::exception&) {
        // The window is going away; nothing is left to report to.
    }
    if (pOwner) {
        if (bOwnerWndSet) pOwner->hOwnerWnd = hPrevOwnerWnd;
        bOwnerWndSet = false;
        if (pOwner->pStartUpForm == static_cast<void*>(static_cast<TForm*>(this))) pOwner->pStartUpForm = nullptr;
    }
    TLSTools::LSOLEUninitialize(&bOLEInit);
}

void TfrmDoSafe::BuildControls()
{
    SetBorderStyle(bsNone);
    SetBorderIcons(0);
    SetClientSize(400, 40);

    img_qov_StartLogo = new TImage(this);
    img_qov_StartLogo->SetName("img_qov_StartLogo");
    img_qov_StartLogo->SetAlign(alClient);

    lblStart = new TLabel(this);
    lblStart->SetName("lblStart");
    lblStart->SetAutoSize(false);
    lblStart->SetAlign(alClient);
    lblStart->SetAlignment(taCenter);
    lblStart->SetLayout(tlCenter);

    tmrStartUp = new TTimer(this);
    tmrStartUp->SetEnabled(false);
}

void TfrmDoSafe::WireEvents()
{
    OnShow = [this](TObject* Sender) { FormShow(Sender); };
    OnClose = [this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); };
    tmrStartUp->OnTimer = [this](TObject* Sender) { tmrStartUpTimer(Sender); };
}

HWND TfrmDoSafe::FormWindow()
{
    return HandleAllocated() ? Handle() : nullptr;
}

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

bool TfrmDoSafe::DoLSClassInit(TLSOwner* pOwnerHandle)
{
    LS_TRACE_LOG(nullptr, "TfrmDoSafe::DoLSClassInit");
    pOwner = pOwnerHandle;
    hPrevOwnerWnd = nullptr;
    pErrHandler = LSOwnerErr(pOwner);
    if (pOwner) pOwner->pStartUpForm = static_cast<TForm*>(this);

    SetColor(kBannerColor);
    SetBorderWidth(1);
    img_qov_StartLogo->SetStretch(true);
    lblStart->SetTransparent(true);
    lblStart->Font()->SetColor(clBlack);
    lblStart->Font()->SetSize(11);
    SetPosition(poDesktopCenter);
    tmrStartUp->SetEnabled(false);
    tmrStartUp->SetInterval(START_UP_INTERVAL);

    bOLEInit = TLSTools::LSOLEInitialize(pOwner);

    SetCaption(DLS_GLOBAL_CAPTION_Vornix());
    lblStart->SetCaption(DLS_LINK_CAPTION_SAFE());

    ppszArgv = nullptr;
    nArgc = 0;
    bActive = true;

    TVornixReg::QOVSetVornixRootPath(pOwner);
    bVersionChanged = DoCheckAndSetVersion(false);
    DoCheckAndCreateMgrLink(DLS_LINK_CAPTION_SAFE(), LINK_ICON, false);
    // After an installation or update the encryption certificate is chosen
    // before the first use.
    if (bVersionChanged) DoCertificateManager();

    HBITMAP hLogo = nullptr;
    if (DLS_QOVLoadBitmap(pOwner, LOGO_BITMAP, &hLogo) && hLogo) img_qov_StartLogo->SetBitmap(hLogo);

    ClearLSError(pErrHandler);
    bCancel = false;
    return true;
}

bool TfrmDoSafe::DoCheckAndSetVersion(bool bReset)
{
    LS_TRACE_LOG(nullptr, "TfrmDoSafe::DoCheckAndSetVersion");
    if (!bActive) return true;
    if (bReset) {
        bool bWritten = TVornixReg::QOVSetRegVal(pOwner, UNDEFINED_VERSION, "", VERSION_VALUE, LS_REG_STRING,
                                                 HKEY_CURRENT_USER);
        LS_DEF_ERROR(pErrHandler, bWritten, "TfrmDoSafe::DoCheckAndSetVersion failed!");
        return true;
    }
    char szVersion[LS_PATH_SIZE] = {};
    bool bRead = TVornixReg::QOVGetRegVal(pOwner, szVersion, "", VERSION_VALUE, LS_REG_STRING, HKEY_CURRENT_USER,
                                          sizeof(szVersion));
    bool bChanged = !bRead || _stricmp(szVersion, INSTALLED_VERSION) != 0;
    if (bChanged) {
        bool bWritten = TVornixReg::QOVSetRegVal(pOwner, INSTALLED_VERSION, "", VERSION_VALUE, LS_REG_STRING,
                                                 HKEY_CURRENT_USER);
        LS_DEF_ERROR(pErrHandler, bWritten, "TfrmDoSafe::DoCheckAndSetVersion failed!");
    }
    return bChanged;
}

bool TfrmDoSafe::GetLinkTableDir(TLSOwner* pOwnerHandle, char* pszOut, size_t cchOut)
{
    if (!pszOut || cchOut == 0) return false;
    pszOut[0] = '\0';
    char szUserPath[LS_PATH_SIZE] = {};
    if (!TVornixReg::QOVGetVornixUserPath(pOwnerHandle, szUserPath) || !szUserPath[0]) return false;
    TLSTools::RemovePathSlash(szUserPath);
    const char* pszName = "Link Table_OT";
    switch (DLS_LANG_ID()) {
    case 1: pszName = "Link Table_EN"; break;
    case 2: pszName = "Link Table_DE"; break;
    default: break;
    }
    if (LSStrFormat(pszOut, cchOut, "%s\\%s", szUserPath, pszName)) return true;
    pszOut[0] = '\0';
    return false;
}

bool TfrmDoSafe::DoCheckAndCreateMgrLink(const char* pszCaption, int nIcon, bool bReset)
{
    LS_TRACE_LOG(nullptr, "TfrmDoSafe::DoCheckAndCreateMgrLink");
    bool bGo = true;
    bool bResult = bActive && IsPlainLinkName(pszCaption);
    if (bActive && !bResult) SetLastError(ERROR_INVALID_NAME);

    TShellAPI* pShell = nullptr;
    TLSFile* pFile = nullptr;
    if (bResult) {
        pShell = new (std::nothrow) TShellAPI(pOwner, false);
        pFile = new (std::nothrow) TLSFile(pOwner);
        bResult = pShell && pFile;
        if (!bResult) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }

    char szRootPath[LS_PATH_SIZE] = {};
    char szLinkDir[LS_PATH_SIZE] = {};
    if (bResult) bResult = TVornixReg::QOVGetVornixRootPath(pOwner, szRootPath, nullptr) && szRootPath[0];
    if (bResult) {
        TLSTools::RemovePathSlash(szRootPath);
        bResult = GetLinkTableDir(pOwner, szLinkDir, sizeof(szLinkDir));
        if (!bResult) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }

    if (bResult && !bVersionChanged) {
        bool bUpdate = false;
        // A missing option is simply not set.
        if (!TVornixReg::QOVGetRegOpt(pOwner, &bUpdate, kUpdateKey, kUpdateOption, kUpdateOptionMode,
                                      HKEY_CURRENT_USER))
            bUpdate = false;
        bGo = bUpdate;
        if (!bGo) bGo = !TLSFile::DirExist(pOwner, szLinkDir);
    }
    if (bReset) bGo = true;

    if (bResult && bGo) bResult = pFile->CreateDir(szLinkDir);

    char szTarget[LS_PATH_SIZE] = {};
    char szLinkFile[LS_PATH_SIZE] = {};
    if (bResult && bGo) {
        bResult = LSStrFormat(szTarget, sizeof(szTarget), "%s\\%s", szRootPath, kProgramFile) &&
                  LSStrFormat(szLinkFile, sizeof(szLinkFile), "%s\\%s%s%s", szLinkDir, kLinkPrefix, pszCaption,
                              kLinkExtension);
        if (!bResult) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    if (bResult && bGo) {
        pFile->RmvFile(szLinkFile, 0);
        if (!bReset) bResult = pShell->CreateLink(szTarget, szLinkFile, pszCaption, szRootPath, "", nIcon, 1, 0);
    }
    if (bResult && bGo && !bReset) bGo = !pShell->ExistsLinkIn(pszCaption, LINK_FOLDER);
    if (bResult && bGo && !bReset)
        bGo = TLSError::StdAskMsg(pOwner, FormWindow(), pszCaption, DLS_VORNIX_SETUP_ASKDESKTOPADD());
    if (bResult && bGo) {
        pShell->RmvLinkIn(pszCaption, LINK_FOLDER);
        if (!bReset) bResult = pShell->AddLinkIn(szTarget, "", pszCaption, nIcon, LINK_FOLDER);
    }
    if (bResult && bGo && bReset) DoCheckAndSetVersion(true);

    delete pShell;
    delete pFile;
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDoSafe::DoCheckAndCreateMgrLink failed!");
}

bool TfrmDoSafe::DoSafe()
{
    LS_TRACE_LOG(nullptr, "TfrmDoSafe::DoSafe");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = bActive;
    if (bResult) bResult = TfrmDlgSafe::STA_DoInputVornixSafe(pOwner, this, &bCancel);
    Hide();
    return TLSError::StdErrorMsg(pOwner, FormWindow(), bResult, bCancel, DLS_SAFE_FAILED());
}

bool TfrmDoSafe::DoDeactivate()
{
    LS_TRACE_LOG(nullptr, "TfrmDoSafe::DoDeactivate");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = bActive;
    if (bResult) bResult = DoCheckAndCreateMgrLink(DLS_LINK_CAPTION_SAFE(), LINK_ICON, true);
    if (bActive && !bCancel) Hide();
    return bResult;
}

bool TfrmDoSafe::DoCertificateManager()
{
    LS_TRACE_LOG(nullptr, "TfrmDoSafe::DoCertificateManager");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = bActive;

    TVornixDyn* pDyn = nullptr;
    TLSCryptCert* pCerts = nullptr;
    int nCount = 0;
    if (bResult) {
        pDyn = new (std::nothrow) TVornixDyn(pOwner, "KTXDlg.DLL");
        bResult = pDyn != nullptr;
        if (!bResult) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (bResult) {
        bResult = pDyn->DYN_DoInputDlgCertificateMgr(pOwner, FormWindow(), &pCerts, &nCount, nullptr, 1, &bCancel);
        // The dialog sets bCancel when the user cancels; a dialog that could
        // not be shown is a failure to report, not a cancel.
    }
    Hide();
    if (bResult && !bCancel) {
        // Exactly one certificate protects the safe; any other choice counts
        // as a cancel.
        if (nCount != 1 || !pCerts) {
            bResult = false;
            bCancel = true;
        } else {
            bResult = TVornixReg::QOVSetRegUsrEncCrt(pOwner, pCerts, nCount, nullptr);
        }
    }
    if (pDyn) {
        if (pCerts) pDyn->DYN_DoFreeMgrCertificates(pCerts);
        pCerts = nullptr;
        delete pDyn;
    }
    return TLSError::StdErrorMsg(pOwner, FormWindow(), bResult, bCancel, DLS_CERTMGR_FAILED());
}

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

void TfrmDoSafe::FormShow(TObject* /*Sender*/)
{
    tmrStartUp->SetEnabled(true);
}

void TfrmDoSafe::FormClose(TObject* /*Sender*/, TCloseAction& /*Action*/)
{
    if (pOwner && bOwnerWndSet) {
        pOwner->hOwnerWnd = hPrevOwnerWnd;
        bOwnerWndSet = false;
    }
}

void TfrmDoSafe::tmrStartUpTimer(TObject* /*Sender*/)
{
    if (!bActive) return;
    tmrStartUp->SetEnabled(false);
    TLSTools::BringWindowToTop(FormWindow());
    if (pOwner) {
        hPrevOwnerWnd = pOwner->hOwnerWnd;
        pOwner->hOwnerWnd = FormWindow();
        bOwnerWndSet = true;
    }

    const bool bHasArguments = nArgc >= 2 && ppszArgv;
    char szArgument[LS_PATH_SIZE] = {};
    if (bHasArguments && ppszArgv[nArgc - 1]) LSStrCopy(szArgument, sizeof(szArgument), ppszArgv[nArgc - 1]);

    bool bResult = true;
    if (bHasArguments) {
        if (_stricmp(szArgument, kSwitchDeactivate) == 0) {
            bResult = DoDeactivate();
        } else if (_stricmp(szArgument, kSwitchCertificateManager) == 0) {
            lblStart->SetCaption(DLS_LINK_CAPTION_CERTMGR());
            TLSTools::LSSleep(kCertificateManagerPause);
            bResult = DoCertificateManager();
        }
        // Any other argument: nothing to do.
    }
    if (bResult && !bHasArguments) DoSafe();
    Close();
}
