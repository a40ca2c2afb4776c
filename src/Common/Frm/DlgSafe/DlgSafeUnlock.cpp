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
    LocalPassword password;
    bool bOpened = false;
    bool bConvert = false;
    bool bResult = pszCaption != nullptr && pbCancel != nullptr;
    pszSafeFile = szSafe;
    // Each step of the opening runs only while everything went well so far.
    auto going = [this, &bResult] { return bResult && !bCancel && !bPasswordFailed; };

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
    const bool bLocated = going();

    // A file that does not exist yet has no version.
    const bool bVersionKnown = going() && DoGetSafeFileVersion(szVersion);
    if (going()) {
        if (bVersionKnown && lstrcmpiA(szVersion, kTypedPasswordVersion) == 0) {
            // The oldest safes: the user types the password.
            HideStartUpForm(pOwner);
            nCryptMode = LS_CRYPT_LEGACY;
            btnKonvert->Show();
            btnChangePassword->Show();
            if (!TLSFile::FileExists(pOwner, szSafe))
                bResult = TVornixDyn::DYN_DoInputPasswordChange(pOwner, Handle(), password.sz, sizeof(password.sz),
                                                                &bCancel);
            else
                bResult = TVornixDyn::DYN_DoInputPassword(pOwner, Handle(), password.sz, sizeof(password.sz), &bCancel);
        } else {
            // Every other safe: the password from the key file.
            nCryptMode = LS_CRYPT_LEGACY;
            btnKonvert->Hide();
            btnChangePassword->Hide();
            bResult = DoGetCertPassword(password.sz, false);
            if (!bResult) bPasswordFailed = true;
            else if (bVersionKnown && lstrcmpiA(szVersion, kConvertVersion) == 0) bConvert = true;
            else nCryptMode = LS_CRYPT_CURRENT;
        }
    }
    if (going()) ClearLSError(pErrHandler);
    if (going()) {
        LSStrCopy(szPassword, sizeof(szPassword), password.sz);
        bResult = DoLoadPassSequenz(password.sz);
    }
    if (going()) bResult = pXml != nullptr;
    if (going()) {
        // Writable while it is open.
        if (TLSFile::FileExists(pOwner, szSafe)) SetFileAttributesA(szSafe, kOpenAttributes);
        TVornixReg::RestoreFromBackup(pOwner, szSafe);
        if (TLSFile::FileExists(pOwner, szSafe)) {
            TVornixReg::WriteToBackup(pOwner, szSafe);
            bResult = pXml->Init(szSafe);
        } else {
            bResult = pXml->New(kCurrentVersion);
            if (bResult) bResult = pXml->Write(szSafe, nullptr);
        }
    }
    if (going()) bResult = DoListSafe();
    bool bReported = false;
    if (going() && bConvert) {
        bReported = true;   // the conversion tells the user itself
        bResult = DoConvertOldSafeFileVersion(true);
        if (bResult) nCryptMode = LS_CRYPT_CURRENT;
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
        bOpened = true;
    }
    // An unlock that failed without the user having been told (no password
    // from the key file, a safe file that cannot be read, ...) is reported
    // here, while the error record still names the cause; a cancel is not.
    if (!bOpened && !bCancel && !bReported)
        TLSError::StdErrorMsg(pOwner, Handle(), false, false, "TfrmDlgSafe::ShowModalSafe failed!");

    HideStartUpForm(pOwner);
    if (bResult && !bCancel && !bPasswordFailed) {
        ShowModal();
    } else if (pLog) {
        pLog->Msg(LS_LOG_INFO, DLS_LOG_OPENSAFEFAILED(), szUser);
    }

    // Read-only, hidden and system again, whatever happened.
    if (bLocated) SetFileAttributesA(szSafe, kClosedAttributes);

    // A safe that was open and closed again was not cancelled, whatever the
    // last operation inside it left in the flag: the caller's failure message
    // must not be silenced by it.
    if (bOpened) bCancel = false;
    if (pbCancel) *pbCancel = bCancel;
    bResult = nCloseMode != CLOSE_CANCELLED;
    if (pLog) pLog->Msg(LS_LOG_INFO, DLS_LOG_CLOSESAFE(), szUser);
    if (!bCancel && !bPasswordFailed) {
        if (pLog) pLog->Msg(LS_LOG_INFO, "%s", kLogSeparator);
        bResult = pLog != nullptr && pLog->WriteHash();
    }
    // The path buffer ends with this call.
    pszSafeFile = nullptr;
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, bCancel, "TfrmDlgSafe::ShowModalSafe failed!");
}
