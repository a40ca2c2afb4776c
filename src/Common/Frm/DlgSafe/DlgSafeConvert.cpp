// The safe dialog: conversion of older safe files into current ones.
//
// The entries are copied, renumbered in the order of the list, into a new
// document, re-encrypted there from the legacy format under the old keys to
// the current format under the key file's password, and written once to the
// work file, which then replaces the safe file. The safe file is copied to
// the backup file first. Until the work file replaces it, the safe file is
// not touched: a conversion that fails on the way leaves it as it was, the
// open document and the keys too, and removes what it made.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "LSStr.h"

namespace {

constexpr char kCurrentVersion[] = "LSVER500";
constexpr char kNameAttr[] = "name";
constexpr char kHashAttr[] = "hash";
constexpr char kWorkExt[] = ".~ls";
constexpr char kBackupExt[] = ".bak";
constexpr int kProgressTextId = 10011;

// A password buffer wiped when it goes out of scope.
struct TLSNewPassword {
    char sz[TfrmDlgSafe::CERT_PASSWORD_SIZE] = {};
    ~TLSNewPassword() { SecureZeroMemory(sz, sizeof(sz)); }
};

// The key file's password, which protects the safe from now on. A safe that
// was protected by a typed password may need a key file made for it, and the
// user may have no certificate for it yet: the certificate manager is offered
// then, once.
bool ObtainNewPassword(TfrmDlgSafe* pDlg, char* pszPassword, bool bTypedBefore)
{
    bool bResult = pDlg->DoGetCertPassword(pszPassword, true, bTypedBefore);
    if (!bResult && !pDlg->bCancel && bTypedBefore && GetLastError() == ERROR_NOT_FOUND) {
        if (!TLSError::StdAskMsg(pDlg->pOwner, pDlg->Handle(), DLS_WARNING_CAPTION_Vornix(),
                                 DLS_TXT_CONVERT_NEEDS_CERT())) {
            pDlg->bCancel = true;
            return true;
        }
        pDlg->DoCertMgr();
        pDlg->bCancel = false;
        bResult = pDlg->DoGetCertPassword(pszPassword, true, true);
    }
    return bResult;
}

}  // namespace

bool TfrmDlgSafe::DoConvertOldSafeFileVersion(bool bSilent)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoConvertOldSafeFileVersion");
    ClearLSError(pErrHandler);
    bCancel = false;
    failedEntry.clear();
    failedFault = READ_OK;
    bBulkUpdate = true;

    bool bResult = pXml != nullptr && pFile != nullptr && pszSafeFile != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    auto going = [this, &bResult] { return bResult && !bCancel; };

    if (going() && !bSilent) {
        if (!TLSError::StdAskMsg(pOwner, Handle(), DLS_WARNING_CAPTION_Vornix(), DLS_TXT_ASKCONVERT_SAFE()))
            bCancel = true;
    }
    // What the user changed in the shown entry is stored first, in the old
    // format, so that the conversion takes it along. A store that fails has
    // told the user already.
    bool bReported = false;
    TListItem* pSelected = lstvBezeichnung->Selected();
    if (going()) {
        bResult = DoStoreChangedItem(pSelected);
        bReported = !bResult;
    }

    const bool bWasEnabled = Enabled();
    SetEnabled(false);
    bool bShown = false;
    if (going()) {
        bShown = hProgress != nullptr &&
                 hProgress->Show(pOwner, Handle(), &rProgress, true, kProgressTextId, 0, &bCancel);
        bCancel = false;
    }

    // Nothing to do for a file that is current already.
    char szVersion[LS_XMLPATH_SIZE] = {};
    if (going()) {
        bResult = DoGetSafeFileVersion(szVersion);
        if (bResult && !IsOldSafeFileVersion(szVersion)) bCancel = true;
    }

    TLSNewPassword newPassword;
    if (going()) bResult = ObtainNewPassword(this, newPassword.sz, bTypedPassword);

    char szWork[LS_PATH_SIZE] = {};
    char szBackup[LS_PATH_SIZE] = {};
    if (going()) {
        LSStrCopy(szWork, sizeof(szWork), pszSafeFile);
        LSStrCopy(szBackup, sizeof(szBackup), pszSafeFile);
        bResult = TLSTools::ReplaceExtension(kWorkExt, szWork) && TLSTools::ReplaceExtension(kBackupExt, szBackup);
        if (!bResult) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    bool bBackupMade = false;
    if (going()) bBackupMade = bResult = pFile->CpyFile(pszSafeFile, szBackup);

    // The entries in list order, renumbered from n0000, their stored texts
    // and hashes as they are. An entry never stored goes along without a
    // record; a stored text without a hash cannot be checked and stops it.
    std::unique_ptr<TXmlAPI> converted;
    if (going()) {
        converted.reset(new (std::nothrow) TXmlAPI(pOwner));
        bResult = converted != nullptr;
        if (!bResult) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (going()) bResult = converted->New(kCurrentVersion);
    std::vector<TLSEntryElement> entries;
    if (going()) bResult = ListEntryElements(&entries);
    for (size_t i = 0; i < entries.size() && going(); ++i) {
        TLSEntryState state;
        bResult = state.Take(pXml, entries[i].path.c_str());
        if (bResult && !state.text.empty() && !state.bHasHash) {
            bResult = false;
            failedEntry = entries[i].name;
            failedFault = READ_CHANGED;
            SetLastError(ERROR_INVALID_DATA);
        }
        char szPath[LS_XMLPATH_SIZE] = {};
        if (bResult) bResult = LSStrFormat(szPath, sizeof(szPath), "%s.n%4.4d", kCurrentVersion, static_cast<int>(i));
        if (bResult) bResult = converted->PPPS(szPath, state.text.c_str());
        if (bResult && state.bHasHash) bResult = converted->PutAtt(szPath, kHashAttr, state.hash.c_str());
        if (bResult) bResult = converted->PutAtt(szPath, kNameAttr, entries[i].name.c_str());
    }

    // The new document becomes the open one while its entries are
    // re-encrypted and written to the work file; the old one stays until the
    // work file has replaced the safe file.
    std::unique_ptr<TXmlAPI> previous;
    if (going()) {
        previous.reset(pXml);
        pXml = converted.release();
        bResult = ReEncryptEntries(szPassword, newPassword.sz, LS_CRYPT_LEGACY, LS_CRYPT_CURRENT, szWork,
                                   &failedEntry, &failedFault);
    }
    bool bReplaced = false;
    if (going()) bReplaced = bResult = pFile->MovFile(szWork, pszSafeFile);

    const bool bDone = going();
    if (bDone) {
        // From now on the safe opens with the key file's password, in the
        // current format; there is nothing left to convert or to retype.
        nCryptMode = LS_CRYPT_CURRENT;
        bTypedPassword = false;
        btnKonvert->Hide();
        btnChangePassword->Hide();
        pumChangePassword->SetVisible(false);
        LayoutBars();
        if (pLog) pLog->Msg(LS_LOG_INFO, "%s", DLS_LOG_CONVERTSAFEOK());
        if (pSelected) {
            DoDecCryptItem(pSelected, nCryptMode);
            bEntryChanged = false;
        }
    } else {
        UndoKeepingError([&] {
            // The open document and its keys as before (a failed
            // re-encryption has put the old keys back already).
            if (previous) {
                delete pXml;
                pXml = previous.release();
            }
            if (bReplaced) pFile->CpyFile(szBackup, pszSafeFile);
            if (szWork[0] && TLSFile::FileExists(pOwner, szWork)) pFile->RmvFile(szWork, 0);
            // Only a backup made by this conversion is removed.
            if (bBackupMade) pFile->RmvFile(szBackup, 0);
        });
        if (!bCancel) {
            if (bTypedPassword) {
                btnKonvert->Show();
                btnChangePassword->Show();
                LayoutBars();
            }
            if (pLog) pLog->Msg(LS_LOG_INFO, "%s", DLS_LOG_CONVERTSAFEFAILED());
        }
    }

    if (bShown) {
        bool bIgnored = false;
        hProgress->Show(pOwner, Handle(), &rProgress, false, kProgressTextId, 0, &bIgnored);
    }
    SetEnabled(bWasEnabled);
    bBulkUpdate = false;

    // The user hears of a failure once: the entry that stopped it, or the
    // failure with what was recorded.
    if (!bResult && !bCancel && !bReported) {
        LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoConvertOldSafeFileVersion failed!");
        if (!failedEntry.empty()) ReportUnreadableEntry(failedEntry, failedFault, DLS_LOG_CONVERTSAFEFAILED());
        else TLSError::StdErrorMsg(pOwner, Handle(), false, false, DLS_LOG_CONVERTSAFEFAILED());
        bReported = true;
    }
    // Declining, or a file that is current already, is no failure.
    if (bCancel) {
        bCancel = false;
        bResult = true;
    }
    bResult = LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoConvertOldSafeFileVersion failed!");
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, bReported,
                                 "TfrmDlgSafe::DoConvertOldSafeFileVersion failed!");
}

void TfrmDlgSafe::btnKonvertClick(TObject* Sender)
{
    DoConvertOldSafeFileVersion(false);
}
