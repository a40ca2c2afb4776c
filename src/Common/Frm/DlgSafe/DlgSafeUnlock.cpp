// The safe dialog: opening the safe and closing it again. The safe file is
// writable only while the dialog holds it open; before and after, it is
// read-only, hidden and system. The safe log gets an open and a close line
// for every run, and its separator and seal only when the run was neither
// cancelled nor stopped by an unusable password.
#include <memory>
#include <new>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace {

constexpr char kCurrentVersion[] = "LSVER500";
constexpr char kTypedPasswordVersion[] = "LSVER300";
constexpr char kConvertVersion[] = "LSVER400";
constexpr char kLogSeparator[] = "****************************************";
// Attributes of the safe file while it is open, and while it is not.
constexpr DWORD kOpenAttributes = FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kClosedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;


// The start-up form keeps itself in the owner's slot (as a TForm); it is
// hidden before the user is asked for anything.
void HideStartUpForm(TLSOwner* pOwner)
{
    if (pOwner && pOwner->pStartUpForm) static_cast<TForm*>(pOwner->pStartUpForm)->Hide();
}

// A password buffer wiped when it goes out of scope.
struct LocalPassword {
    char sz[LS_PASSWORD_SIZE] = {};
    ~LocalPassword() { SecureZeroMemory(sz, sizeof(sz)); }
};

}  // namespace

bool TfrmDlgSafe::STA_DoInputVornixSafe(TLSOwner* pOwnerHandle, TComponent* pParent, bool* pbCancel)
{
    LS_TRACE_LOG(nullptr, "STA_DoInputVornixSafe!");
    tag_TLSErrHandler* pErr = LSOwnerErr(pOwnerHandle);
    bool bResult = pbCancel != nullptr;
    if (bResult) {
        std::unique_ptr<TfrmDlgSafe> dlg(new (std::nothrow) TfrmDlgSafe(pParent, pOwnerHandle));
        bResult = dlg != nullptr;
        if (!bResult) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        if (bResult) bResult = dlg->ShowModalSafe(DLS_GLOBAL_CAPTION_SAFE(), pbCancel);
    }
    return LS_DEF_ERROR(pErr, bResult, "STA_DoInputVornixSafe failed!");
}

bool TfrmDlgSafe::ShowModalSafe(const char* pszCaption, bool* pbCancel)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::ShowModalSafe");
    ClearLSError(pErrHandler);
    bCancel = false;
    char szSafe[LS_PATH_SIZE] = {};
    char szUser[LS_USERNAME_SIZE] = {};
    char szVersion[LS_XMLPATH_SIZE] = {};
    bool bResult = pszCaption != nullptr && pbCancel != nullptr;
    pszSafeFile = szSafe;
    bSafeOpen = false;
    bSafeLocated = false;
    bSafeClosed = false;
    // Each step of the opening runs only while everything went well so far.
    auto going = [this, &bResult] { return bResult && !bCancel && !bPasswordFailed; };
    // What the step that stopped the opening was doing, for the user's message.
    TLSFailedWork failedWork = FAILED_OPEN;

    if (going()) bResult = pTools != nullptr && pTools->GetUsrNam(szUser, sizeof(szUser));
    if (going()) {
        bResult = TVornixReg::QOVGetVornixSafe(pOwner, szSafe);
        if (!bResult) {
            // No safe configured yet: an existing one, or a new one.
            HideStartUpForm(pOwner);
            const int nAnswer =
                TVornixDyn::DYN_DoInputImportSave(pOwner, Handle(), 2, DLS_TXT_SAFE_IMPORT(), DLS_TXT_SAFE_SAVE());
            if (nAnswer == LS_IMPORTSAVE_IMPORT) bResult = DoImportDlgTresor();
            else if (nAnswer == LS_IMPORTSAVE_NEW) bResult = DoSaveDlgTresor();
            else bCancel = true;
        }
    }
    if (going()) bResult = szSafe[0] != '\0';
    // Only a safe file that was located is protected again at the end (after
    // a cancelled choice the buffer holds a bare proposed name).
    bSafeLocated = going();

    // Writable while it is open; a missing, empty or damaged file comes back
    // from its backup before anything reads it, since its version decides
    // how it is opened.
    if (going()) {
        if (TLSFile::FileExists(pOwner, szSafe)) SetFileAttributesA(szSafe, kOpenAttributes);
        RestoreSafeFile(szSafe);
    }

    // A file that does not exist yet has no version.
    const bool bVersionKnown = going() && DoGetSafeFileVersion(szVersion);
    bool bReported = false;
    bool bConvertAfterLoad = false;
    {
        // The password lives here only until the key strings are made from
        // it; the dialog keeps it in szPassword while the safe is open.
        LocalPassword password;
        if (going()) {
            if (bVersionKnown && lstrcmpiA(szVersion, kTypedPasswordVersion) == 0) {
                // The oldest safes: the user types the password.
                HideStartUpForm(pOwner);
                nCryptMode = LS_CRYPT_LEGACY;
                bTypedPassword = true;
                btnKonvert->Show();
                btnChangePassword->Show();
                pumChangePassword->SetVisible(true);
                if (!TLSFile::FileExists(pOwner, szSafe))
                    bResult = TVornixDyn::DYN_DoInputPasswordChange(pOwner, Handle(), password.sz,
                                                                    sizeof(password.sz), &bCancel);
                else
                    bResult = TVornixDyn::DYN_DoInputPassword(pOwner, Handle(), password.sz, sizeof(password.sz),
                                                              &bCancel);
            } else {
                // Every other safe: the password from the key file, which
                // the user does not change here (it protects the user's
                // other safes and backups too).
                nCryptMode = LS_CRYPT_LEGACY;
                bTypedPassword = false;
                btnKonvert->Hide();
                btnChangePassword->Hide();
                pumChangePassword->SetVisible(false);
                bResult = DoGetCertPassword(password.sz, false);
                if (!bResult) {
                    bPasswordFailed = true;
                    failedWork = FAILED_UNLOCK;
                }
                // A safe of the generation before keeps the legacy format
                // until it is converted, right after it is listed.
                else if (bVersionKnown && lstrcmpiA(szVersion, kConvertVersion) == 0) bConvertAfterLoad = true;
                else nCryptMode = LS_CRYPT_CURRENT;
            }
        }
        if (going()) ClearLSError(pErrHandler);
        if (going()) {
            LSStrCopy(szPassword, sizeof(szPassword), password.sz);
            bResult = DoLoadPassSequenz(password.sz);
        }
    }
    if (going()) bResult = pXml != nullptr;
    if (going()) {
        if (TLSFile::FileExists(pOwner, szSafe)) {
            // The state before this run's first change.
            TVornixReg::WriteToBackup(pOwner, szSafe);
            ClearLSError(pErrHandler);
            bResult = pXml->Init(szSafe);
            if (!bResult) failedWork = FAILED_LOAD;
        } else {
            bResult = pXml->New(kCurrentVersion);
            if (bResult) bResult = pXml->Write(szSafe, nullptr);
            if (!bResult) failedWork = FAILED_CREATE;
        }
    }
    if (going()) {
        bResult = DoListSafe();
        if (!bResult) failedWork = FAILED_LOAD;
        // The top entry was read: a password that does not fit it has been
        // told to the user there.
        if (bPasswordFailed) bReported = true;
    }
    if (going() && bConvertAfterLoad) {
        // Converted without asking; a failure has been told by the conversion.
        bResult = DoConvertOldSafeFileVersion(true);
        if (!bResult) bReported = true;
    }
    if (going()) {
        if (pLog) pLog->Msg(LS_LOG_INFO, DLS_LOG_OPENSAFEOK(), szUser);
        btnLogFile->SetEnabled(true);
        LSStrCopy(szCaption, sizeof(szCaption), pszCaption);
        char szName[LS_PATH_SIZE] = {};
        TLSTools::SplitPath(szSafe, nullptr, szName, nullptr);
        char szTitle[LS_TEXT_SIZE] = {};
        LSStrFormat(szTitle, sizeof(szTitle), DLS_TXT_SAVE_CAPTION(), szCaption, szName);
        SetCaption(szTitle);
        bCancel = false;
        bSafeOpen = true;
        // A safe log changed since the last run sealed it is told once, now
        // that the user sees the safe.
        if (bLogSealBroken) {
            bLogSealBroken = false;
            char szNotice[LS_TEXT_SIZE] = {};
            LSStrFormat(szNotice, sizeof(szNotice), DLS_TXT_SAFELOG_CHANGED(), szLogFile);
            TLSError::StdHinweisMsg(pOwner, Handle(), szNotice);
        }
    }
    // An unlock that failed without the user having been told (no password
    // from the key file, a safe file that cannot be read or made, ...) is
    // reported here, in the user's words, while the error record still names
    // the cause; a cancel is not.
    if (!bSafeOpen && !bCancel && !bReported)
        StdFailureMsg(false, false, failedWork, szSafe, "TfrmDlgSafe::ShowModalSafe failed!");

    HideStartUpForm(pOwner);
    if (bSafeOpen) {
        // The tool bar as this safe offers it.
        LayoutBars();
        ShowModal();
    } else if (pLog) {
        pLog->Msg(LS_LOG_INFO, DLS_LOG_OPENSAFEFAILED(), szUser);
    }

    DoCloseSafe();
    if (pbCancel) *pbCancel = bCloseCancel;
    // The path buffer ends with this call.
    pszSafeFile = nullptr;
    return TLSError::StdErrorMsg(pOwner, Handle(), bCloseResult, bCloseCancel, "TfrmDlgSafe::ShowModalSafe failed!");
}

bool TfrmDlgSafe::DoCloseSafe()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoCloseSafe");
    if (bSafeClosed) return bCloseResult;
    bSafeClosed = true;

    // The run's last written state becomes the newest backup (a safe that
    // was not changed adds none); a failure there is no failure of the run.
    if (bSafeOpen && pszSafeFile) {
        TVornixReg::WriteToBackup(pOwner, pszSafeFile);
        ClearLSError(pErrHandler);
    }
    // Read-only, hidden and system again, whatever happened.
    if (bSafeLocated && pszSafeFile) SetFileAttributesA(pszSafeFile, kClosedAttributes);

    // A safe that was open and closed again was not cancelled, whatever the
    // last operation inside it left in the flag: the caller's failure message
    // must not be silenced by it.
    if (bSafeOpen) bCancel = false;
    bCloseCancel = bCancel;
    bool bResult = nCloseMode != CLOSE_CANCELLED;
    if (pLog) pLog->Msg(LS_LOG_INFO, DLS_LOG_CLOSESAFE(), szUserName);
    if (!bCancel && !bPasswordFailed) {
        if (pLog) pLog->Msg(LS_LOG_INFO, "%s", kLogSeparator);
        bResult = pLog != nullptr && pLog->WriteHash();
    }
    bCloseResult = bResult;
    return bResult;
}

bool TfrmDlgSafe::RestoreSafeFile(const char* pszPath)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::RestoreSafeFile");
    // Repairs the file from its backup when it is missing, empty or does not
    // load; a sound file is left alone. Whatever it finds is no failure of
    // the opening: a safe that is not there yet is made new. A restore is
    // always told: which file, the backup's time, where the damaged one lies.
    TLSRestoreInfo info = {};
    TVornixReg::RestoreFromBackupEx(pOwner, pszPath, &info);
    ClearLSError(pErrHandler);
    if (!info.bRestored) return false;

    char szAside[LS_TEXT_SIZE] = {};
    if (info.szAside[0]) LSStrFormat(szAside, sizeof(szAside), DLS_TXT_SAFE_RESTORED_ASIDE(), info.szAside);
    if (pLog) pLog->Msg(LS_LOG_INFO, DLS_LOG_SAFE_RESTORED(), pszPath, info.szWhen, szAside);
    char szNotice[LS_TEXT_SIZE] = {};
    LSStrFormat(szNotice, sizeof(szNotice), DLS_TXT_SAFE_RESTORED(), pszPath, info.szWhen, szAside);
    HideStartUpForm(pOwner);
    TLSError::StdHinweisMsg(pOwner, Handle(), szNotice);
    return true;
}
