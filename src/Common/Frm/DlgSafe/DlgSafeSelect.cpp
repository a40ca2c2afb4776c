// The safe dialog: the choice of the safe file when the settings name none.
// Both choosers only pick a path: it goes into the dialog's safe path buffer
// and into the settings; the unlock then opens the file, or makes a new safe
// there when nothing is there yet.
#include <memory>
#include <string>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace {

// Longest safe file path the dialog keeps (its path buffer holds LS_PATH_SIZE
// characters with the terminator).
constexpr size_t kMaxSafePath = LS_PATH_SIZE - 1;

// Asks for a file with the given dialog, proposing "<user> - safe.xml" in the
// user's data folder; the chosen path goes to pszSafeFile and the settings.
bool ChooseSafeFile(TfrmDlgSafe* pDlg, TOpenDialog* pChooser, const char* pszTitle)
{
    bool bResult = pChooser != nullptr;
    char szDir[LS_PATH_SIZE] = {};
    char szUser[LS_USERNAME_SIZE] = {};
    if (bResult && !TVornixReg::QOVGetVornixUserPath(pDlg->pOwner, szDir)) szDir[0] = '\0';
    if (bResult) bResult = pDlg->pTools && pDlg->pTools->GetUsrNam(szUser, sizeof(szUser));
    if (bResult) bResult = LSStrFormat(pDlg->pszSafeFile, LS_PATH_SIZE, "%s - safe%s", szUser, ".xml");
    if (!bResult) return false;

    pChooser->Title = pszTitle;
    pChooser->FileName = pDlg->pszSafeFile;
    pChooser->Filter = DLS_FILEFILTER_TRESOR();
    pChooser->InitialDir = szDir;
    if (!pChooser->Execute()) {
        pDlg->bCancel = true;
        return true;
    }
    if (pChooser->FileName.size() > kMaxSafePath) {
        // The user can act on this: a shorter folder or name. The choice is
        // not taken, the settings keep what they had, and no second message
        // follows.
        char szText[LS_TEXT_SIZE] = {};
        LSStrFormat(szText, sizeof(szText), DLS_TXT_SAFEPATH_TOOLONG(), static_cast<int>(kMaxSafePath));
        TLSError::StdHinweisMsg(pDlg->pOwner, pDlg->Handle(), szText);
        pDlg->bCancel = true;
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    LSStrCopy(pDlg->pszSafeFile, LS_PATH_SIZE, pChooser->FileName.c_str());
    return TVornixReg::QOVSetVornixSafe(pDlg->pOwner, pDlg->pszSafeFile);
}

// Runs one chooser and closes the operation: the other listeners learn of the
// change, and the outcome goes to the error record (the unlock reports it).
bool RunSafeFileChoice(TfrmDlgSafe* pDlg, bool bNewSafe, const char* pszFailed)
{
    ClearLSError(pDlg->pErrHandler);
    pDlg->bCancel = false;
    bool bResult = pDlg->pszSafeFile != nullptr;
    if (bResult) {
        std::unique_ptr<TOpenDialog> chooser;
        if (bNewSafe) chooser.reset(new TSaveDialog(pDlg));
        else chooser.reset(new TOpenDialog(pDlg));
        bResult = ChooseSafeFile(pDlg, chooser.get(), bNewSafe ? DLS_TXT_SAVEDLG_TRESOR() : DLS_TXT_SAFE_IMPORT());
    }
    // Telling the others clears the error record and the cancel flag; both
    // belong to this operation.
    const DWORD dwErr = GetLastError();
    const bool bCancelled = pDlg->bCancel;
    pDlg->OnLSChange(true);
    pDlg->bCancel = bCancelled;
    SetLastError(dwErr);
    return LS_DEF_ERROR(pDlg->pErrHandler, bResult, pszFailed);
}

}  // namespace

bool TfrmDlgSafe::DoSaveDlgTresor()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoSaveDlgTresor");
    return RunSafeFileChoice(this, true, "TfrmDlgSafe::DoSaveDlgTresor failed!");
}

bool TfrmDlgSafe::DoImportDlgTresor()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoImportDlgTresor");
    return RunSafeFileChoice(this, false, "TfrmDlgSafe::DoImportDlgTresor failed!");
}
