// The safe dialog: the change of the safe password and of the safe file's
// place, and the re-encryption of every entry that the password change and
// the conversion of older safes share.
//
// A re-encryption works on the document in memory and writes the file once,
// at the end. A failure on the way takes every rewritten entry back in the
// document, the file is not touched, and the old keys stay in use: the safe
// never ends up split between two passwords. The four fields take no part:
// each entry passes through the record buffer only, which is wiped at the
// end, so the fields keep the selected entry whatever happens.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace {

constexpr char kHashAttr[] = "hash";
constexpr char kCompanionExt[] = ".xmk";
// Longest safe file path the dialog keeps (its path buffer holds LS_PATH_SIZE
// characters with the terminator).
constexpr size_t kMaxSafePath = LS_PATH_SIZE - 1;
// What the progress dialog shows above its bar.
constexpr int kProgressTextId = 10011;
// Painting a step costs more than re-encrypting an entry: a large safe shows
// about this many steps, evenly spread, and its last entry.
constexpr int kProgressSteps = 250;

// A password copied out of the caller's buffer (which may be szPassword
// itself), wiped when it goes out of scope.
struct TLSKeyCopy {
    char sz[sizeof(TfrmDlgSafe::szPassword)] = {};
    ~TLSKeyCopy() { SecureZeroMemory(sz, sizeof(sz)); }
};

// Whether two paths name the same file: full paths, letter case ignored.
bool SamePath(const char* pszA, const char* pszB)
{
    char szA[MAX_PATH] = {};
    char szB[MAX_PATH] = {};
    const DWORD cchA = GetFullPathNameA(pszA, sizeof(szA), szA, nullptr);
    const DWORD cchB = GetFullPathNameA(pszB, sizeof(szB), szB, nullptr);
    if (cchA == 0 || cchA >= sizeof(szA) || cchB == 0 || cchB >= sizeof(szB)) return lstrcmpiA(pszA, pszB) == 0;
    return lstrcmpiA(szA, szB) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Re-encryption
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::UseKeys(const char* pszKey)
{
    bool bResult = false;
    UndoKeepingError([&] {
        bResult = LSStrCopy(szPassword, sizeof(szPassword), pszKey) && DoLoadPassSequenz(pszKey);
    });
    return bResult;
}

void TfrmDlgSafe::ProgressStep(const char* pszName, int nIndex, int nCount)
{
    if (!hProgress) return;
    SecureZeroMemory(&rProgress, sizeof(rProgress));
    LSStrCopy(rProgress.szName, sizeof(rProgress.szName), pszName ? pszName : "");
    rProgress.bFlag = 1;
    rProgress.nCount = nCount;
    rProgress.nIndex = nIndex;
    // The step cannot stop the work half-way: what it says is not taken.
    bool bStop = false;
    hProgress->Step(&rProgress, &bStop);
}

bool TfrmDlgSafe::ReEncryptEntries(const char* pszOldPassword, const char* pszNewPassword, int nReadMode,
                                   int nWriteMode, const char* pszTarget, std::string* pFailedEntry,
                                   TLSReadFault* pFault)
{
    bool bResult = pszOldPassword != nullptr && pszNewPassword != nullptr && pszTarget != nullptr &&
                   pFailedEntry != nullptr && pFault != nullptr && pXml != nullptr && pTresor != nullptr &&
                   pTresor->pBuffer != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    if (pFault) *pFault = READ_OK;

    TLSKeyCopy oldKey;
    TLSKeyCopy newKey;
    if (bResult) {
        bResult = LSStrCopy(oldKey.sz, sizeof(oldKey.sz), pszOldPassword) &&
                  LSStrCopy(newKey.sz, sizeof(newKey.sz), pszNewPassword);
        if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    }
    // The new keys must be derivable before the first entry is touched.
    if (bResult) bResult = UseKeys(newKey.sz) && UseKeys(oldKey.sz);

    std::vector<TLSEntryElement> entries;
    if (bResult) bResult = ListEntryElements(&entries);

    // What each rewritten element held before, to take it all back.
    struct TLSRewritten {
        std::string path;
        TLSEntryState before;
    };
    std::vector<TLSRewritten> rewritten;
    try {
        rewritten.reserve(entries.size());
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        bResult = false;
    }

    const int nCount = static_cast<int>(entries.size());
    for (int i = 0; i < nCount && bResult; ++i) {
        const TLSEntryElement& entry = entries[static_cast<size_t>(i)];
        if (nCount <= kProgressSteps || i % (nCount / kProgressSteps) == 0 || i == nCount - 1)
            ProgressStep(entry.name.c_str(), i, nCount);
        TLSEntryState before;
        bResult = before.Take(pXml, entry.path.c_str());
        // An entry that was never stored has nothing to re-encrypt: it goes
        // on without a record.
        if (!bResult || before.text.empty()) continue;

        bResult = UseKeys(oldKey.sz);
        if (bResult) {
            TLSReadFault fault = READ_OK;
            bResult = OpenRecord(entry.name.c_str(), before.text.c_str(), before.hash.c_str(), nReadMode, true,
                                 &fault);
            bCancel = false;
            if (!bResult) {
                *pFault = fault;
                try {
                    *pFailedEntry = entry.name;
                } catch (const std::exception&) {
                    pFailedEntry->clear();
                }
            }
        }
        if (bResult) bResult = UseKeys(newKey.sz);
        std::string text;
        std::string hash;
        if (bResult) bResult = SealRecord(nWriteMode, &text, &hash);
        if (bResult) {
            rewritten.push_back({entry.path, std::move(before)});
            bResult = pXml->PPPS(entry.path.c_str(), text.c_str()) &&
                      pXml->PutAtt(entry.path.c_str(), kHashAttr, hash.c_str());
        }
    }
    // The last entry in clear goes.
    if (pTresor && pTresor->pBuffer) SecureZeroMemory(pTresor->pBuffer, LS_TRESOR_RECORD_SIZE);

    auto undo = [&] {
        for (auto it = rewritten.rbegin(); it != rewritten.rend(); ++it) it->before.PutBack(pXml, it->path.c_str());
    };
    if (bResult) {
        // One write for the whole safe, replacing the file at once.
        bResult = pXml->Write(pszTarget, nullptr);
        if (!bResult) UndoKeepingError(undo);
    } else {
        UndoKeepingError(undo);
    }

    // Afterwards every entry opens with one password, and the dialog uses it.
    if (oldKey.sz[0] || newKey.sz[0]) UseKeys(bResult ? newKey.sz : oldKey.sz);
    return bResult;
}

bool TfrmDlgSafe::DoEncTresorWithNewPassword(const char* pszOldPassword, const char* pszNewPassword, bool bConvert)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoEncTresorWithNewPassword");
    const bool bWasEnabled = Enabled();
    SetEnabled(false);
    ClearLSError(pErrHandler);
    bCancel = false;
    failedEntry.clear();
    failedFault = READ_OK;

    bool bResult = pszOldPassword != nullptr && pszNewPassword != nullptr && pszSafeFile != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    bool bShown = false;
    if (bResult) {
        bResult = hProgress != nullptr &&
                  hProgress->Show(pOwner, Handle(), &rProgress, true, kProgressTextId, 0, &bCancel);
        bShown = bResult;
        bCancel = false;
    }
    // The same password (letter case counts: the keys distinguish it) needs
    // no rewrite, unless the format changes.
    const bool bSame = bResult && !bConvert && strcmp(pszOldPassword, pszNewPassword) == 0;
    if (bResult && !bSame) {
        // Converted entries are read in the legacy format and written in the
        // current one; otherwise the safe keeps its own format.
        const int nReadMode = bConvert ? LS_CRYPT_LEGACY : nCryptMode;
        const int nWriteMode = bConvert ? LS_CRYPT_CURRENT : nCryptMode;
        bResult = ReEncryptEntries(pszOldPassword, pszNewPassword, nReadMode, nWriteMode, pszSafeFile, &failedEntry,
                                   &failedFault);
    }

    if (bShown) {
        bool bIgnored = false;
        hProgress->Show(pOwner, Handle(), &rProgress, false, kProgressTextId, 0, &bIgnored);
    }
    SetEnabled(bWasEnabled);
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoEncTresorWithNewPassword failed!");
}

void TfrmDlgSafe::ReportUnreadableEntry(const std::string& name, TLSReadFault fault, const char* pszWhat)
{
    // What was not done, then which entry stopped it and where earlier
    // copies of the safe file lie; the recorded failure comes with it.
    char szUserPath[LS_PATH_SIZE] = {};
    char szBackups[LS_PATH_SIZE] = {};
    if (TVornixReg::QOVGetVornixUserPath(pOwner, szUserPath))
        LSStrFormat(szBackups, sizeof(szBackups), "%s\\%s", szUserPath, "Backup");
    char szEntry[LS_TEXT_SIZE] = {};
    LSStrFormat(szEntry, sizeof(szEntry),
                fault == READ_WRONGKEY ? DLS_TXT_ENTRY_OTHERKEY() : DLS_TXT_ENTRY_UNREADABLE(), name.c_str(),
                szBackups);
    char szText[LS_TEXT_SIZE] = {};
    LSStrFormat(szText, sizeof(szText), "%s\n\n%s", pszWhat, szEntry);
    if (pLog) pLog->Msg(LS_LOG_INFO, DLS_LOG_ENTRY_UNREADABLE(), name.c_str());
    TLSError::StdErrorMsg(pOwner, Handle(), false, false, szText);
}

// ---------------------------------------------------------------------------
// Password change
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::DoChangePassword()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoChangePassword");
    ClearLSError(pErrHandler);
    bCancel = false;

    // Only a safe opened with a typed password has a password to change: a
    // certificate-protected safe takes its password from the key file, which
    // protects the user's other safes and backups as well.
    bool bResult = bTypedPassword;
    if (!bResult) SetLastError(ERROR_NOT_SUPPORTED);

    // What the user changed in the shown entry is stored first, under the
    // old password, so that the change takes it along. A store that fails
    // has told the user already.
    bool bReported = false;
    TListItem* pSelected = lstvBezeichnung->Selected();
    if (bResult) {
        bResult = DoStoreChangedItem(pSelected);
        bReported = !bResult;
    }
    bBulkUpdate = true;

    TLSKeyCopy newPassword;
    if (bResult && !bCancel)
        bResult = TVornixDyn::DYN_DoInputPasswordChange(pOwner, Handle(), newPassword.sz, CERT_PASSWORD_SIZE,
                                                        &bCancel);
    if (bResult && !bCancel) bResult = DoEncTresorWithNewPassword(szPassword, newPassword.sz, false);
    if (bResult && !bCancel) {
        if (pLog) pLog->Msg(LS_LOG_INFO, "%s", DLS_LOG_PASSWORDCHANGED());
        // The shown entry read back under the new password.
        if (pSelected) {
            DoDecCryptItem(pSelected, nCryptMode);
            bEntryChanged = false;
        }
    }
    bBulkUpdate = false;

    const bool bCancelled = bCancel;
    if (bCancelled) {
        bCancel = false;
        bResult = true;
    }
    bResult = LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoChangePassword failed!");
    if (bResult && !bCancelled) OnLSChange(true);
    if (!bResult && !bReported && !failedEntry.empty()) {
        ReportUnreadableEntry(failedEntry, failedFault, DLS_TXT_PASSWORD_NOT_CHANGED());
        bReported = true;
    }
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, bReported, "TfrmDlgSafe::DoChangePassword failed!");
}

// ---------------------------------------------------------------------------
// Safe file change
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::DoChangeTresorFile()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoChangeTresorFile");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pszSafeFile != nullptr && pFile != nullptr && pXml != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    char szOld[LS_PATH_SIZE] = {};
    char szOldCompanion[LS_PATH_SIZE] = {};
    char szDir[LS_PATH_SIZE] = {};
    char szName[LS_PATH_SIZE] = {};
    char szExt[LS_PATH_SIZE] = {};
    if (bResult) {
        LSStrCopy(szOld, sizeof(szOld), pszSafeFile);
        LSStrCopy(szOldCompanion, sizeof(szOldCompanion), szOld);
        bResult = TLSTools::ReplaceExtension(kCompanionExt, szOldCompanion) &&
                  TLSTools::SplitPath(szOld, szDir, szName, szExt);
        if (bResult) TLSTools::RemovePathSlash(szDir);
    }

    // The new place. The save dialog neither asks before an existing file
    // nor minds a missing one: both are checked here.
    char szNew[LS_PATH_SIZE] = {};
    char szNewCompanion[LS_PATH_SIZE] = {};
    bool bTooLong = false;
    if (bResult) {
        try {
            std::unique_ptr<TSaveDialog> chooser(new TSaveDialog(this));
            chooser->Title = DLS_TXT_SAVEDLG_TRESOR();
            chooser->FileName = std::string(szName) + szExt;
            chooser->Filter = DLS_FILEFILTER_TRESOR();
            chooser->InitialDir = szDir;
            if (!chooser->Execute()) {
                bCancel = true;
            } else {
                bTooLong = chooser->FileName.size() > kMaxSafePath;
                if (!bTooLong) LSStrCopy(szNew, sizeof(szNew), chooser->FileName.c_str());
            }
        } catch (const std::exception&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            bResult = false;
        }
    }
    if (bResult && !bCancel && !bTooLong) {
        LSStrCopy(szNewCompanion, sizeof(szNewCompanion), szNew);
        bTooLong = !TLSTools::ReplaceExtension(kCompanionExt, szNewCompanion);
    }
    if (bResult && !bCancel && bTooLong) {
        // The user can act on this: a shorter folder or name. Nothing moves.
        char szText[LS_TEXT_SIZE] = {};
        LSStrFormat(szText, sizeof(szText), DLS_TXT_SAFEPATH_TOOLONG(), static_cast<int>(kMaxSafePath));
        TLSError::StdHinweisMsg(pOwner, Handle(), szText);
        bCancel = true;
    }
    // The same file again: nothing to move.
    if (bResult && !bCancel && SamePath(szOld, szNew)) bCancel = true;

    // The companion goes along when there is one, unless both names share it.
    const bool bCompanion = bResult && !bCancel && TLSFile::FileExists(pOwner, szOldCompanion) &&
                            !SamePath(szOldCompanion, szNewCompanion);
    // Another file in the way is never replaced: the user chooses again.
    if (bResult && !bCancel) {
        const char* pszInTheWay = nullptr;
        if (TLSFile::FileExists(pOwner, szNew) || TLSFile::DirExist(pOwner, szNew)) pszInTheWay = szNew;
        else if (bCompanion && TLSFile::FileExists(pOwner, szNewCompanion)) pszInTheWay = szNewCompanion;
        else if (bCompanion && SamePath(szNew, szOldCompanion)) pszInTheWay = szNew;
        if (pszInTheWay) {
            char szText[LS_TEXT_SIZE] = {};
            LSStrFormat(szText, sizeof(szText), DLS_TXT_SAFEFILE_EXISTS(), pszInTheWay);
            TLSError::StdHinweisMsg(pOwner, Handle(), szText);
            bCancel = true;
        }
    }

    // Move first; the settings and the path follow only a move that worked.
    // Whatever fails after the safe file moved puts it back.
    bool bMoved = false;
    bool bCompanionMoved = false;
    if (bResult && !bCancel) bMoved = bResult = pFile->MovFile(szOld, szNew);
    if (bResult && !bCancel && bCompanion) bCompanionMoved = bResult = pFile->MovFile(szOldCompanion, szNewCompanion);
    if (bResult && !bCancel) bResult = TVornixReg::QOVSetVornixSafe(pOwner, szNew);
    if (!bResult && bMoved) {
        UndoKeepingError([&] {
            if (bCompanionMoved) pFile->MovFile(szNewCompanion, szOldCompanion);
            pFile->MovFile(szNew, szOld);
            TVornixReg::QOVSetVornixSafe(pOwner, szOld);
        });
    }

    if (bResult && !bCancel) {
        LSStrCopy(pszSafeFile, LS_PATH_SIZE, szNew);
        // The document in memory is the file's content: it stays, and every
        // later write goes to the new place. Backups are kept by path: the
        // moved safe gets its first one now.
        TVornixReg::WriteToBackup(pOwner, pszSafeFile);
        ClearLSError(pErrHandler);
        if (pLog) pLog->Msg(LS_LOG_INFO, DLS_LOG_SAFEMOVED(), szOld, szNew);
        char szNewName[LS_PATH_SIZE] = {};
        TLSTools::SplitPath(szNew, nullptr, szNewName, nullptr);
        char szTitle[LS_TEXT_SIZE] = {};
        LSStrFormat(szTitle, sizeof(szTitle), DLS_TXT_SAVE_CAPTION(), szCaption, szNewName);
        SetCaption(szTitle);
    }

    const bool bCancelled = bCancel;
    if (bCancelled) {
        bCancel = false;
        bResult = true;
    }
    bResult = LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoChangeTresorFile failed!");
    if (bResult && !bCancelled) OnLSChange(true);
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, false, "TfrmDlgSafe::DoChangeTresorFile failed!");
}

// ---------------------------------------------------------------------------
// Handlers
// ---------------------------------------------------------------------------

void TfrmDlgSafe::btnChangePasswordClick(TObject* Sender)
{
    DoChangePassword();
}

void TfrmDlgSafe::pumChangePasswordClick(TObject* Sender)
{
    DoChangePassword();
}

void TfrmDlgSafe::btnChangeTresorFileClick(TObject* Sender)
{
    DoChangeTresorFile();
}

void TfrmDlgSafe::pumChangeTresorFileClick(TObject* Sender)
{
    DoChangeTresorFile();
}
