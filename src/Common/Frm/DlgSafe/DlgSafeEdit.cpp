// The safe dialog's entry editing: the selection that moves one entry between
// the file and the four fields, new entries under a free default name, the
// removal of an entry after asking, the in-place rename, and the enabling of
// the save controls when a field changes.
//
// The four fields hold the only plain copy of the selected entry. When an
// entry loses the selection and its fields were stored, the fields are wiped;
// when storing failed they keep what the user typed.
#include <string>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "LSStr.h"

namespace {

// Capacity of a default entry name (terminator included).
constexpr size_t kNameSize = 256;
// Capacity of a question text (terminator included).
constexpr size_t kQuestionSize = 4097;

}  // namespace

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::DoAddNewItem()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoAddNewItem");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = true;

    // The entry shown so far is stored first; a failure there (reported by
    // the store itself) does not stop the new entry.
    TListItem* pPrevious = lstvBezeichnung->Selected();
    if (pPrevious && !bBulkUpdate) DoEncCryptItem(pPrevious, nCryptMode);
    ClearLSError(pErrHandler);
    bCancel = false;

    bBulkUpdate = true;
    char szName[kNameSize] = {};
    TListItem* pItem = nullptr;
    try {
        const char* pszBase = DLS_TXT_NEW_ENTRY();
        if (!pszBase) pszBase = "";
        // Candidate k is the base name (k = 0) or the base name numbered k;
        // there is one candidate more than there are items, so one is free.
        const int nCount = lstvBezeichnung->Items()->Count();
        bool bFound = false;
        for (int k = 0; k <= nCount && !bFound; ++k) {
            const bool bFits = k == 0 ? LSStrCopy(szName, sizeof(szName), pszBase)
                                      : LSStrFormat(szName, sizeof(szName), "%s(%i)", pszBase, k);
            if (!bFits) break;
            bFound = lstvBezeichnung->FindCaption(0, szName, false, true, false) == nullptr;
        }
        bResult = bFound;
        if (!bResult) SetLastError(ERROR_BUFFER_OVERFLOW);

        if (bResult && !bCancel) {
            memoSafe->Clear();
            pItem = lstvBezeichnung->Items()->Add(szName);
            editPasswort->Clear();
            editURL->Clear();
            editBenutzername->Clear();
            memoSafe->Lines()->Clear();
        }
        if (bResult && !bCancel) bResult = DoAddSafe(szName);
        if (bResult && !bCancel) {
            pItem->SetSelected(true);
            pItem->MakeVisible(false);
        } else if (pItem) {
            // The file has no such entry: the list does not show one either,
            // and the entry selected before is dropped without storing the
            // emptied fields into it.
            pItem->Delete();
            pItem = nullptr;
            lstvBezeichnung->SetSelected(nullptr);
        }
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        bResult = false;
    }
    bBulkUpdate = false;

    // The notification and the report keep the outcome of the addition.
    const bool bCancelled = bCancel;
    OnLSChange(true);
    bResult = LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoAddNewItem failed!");
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, bCancelled, "TfrmDlgSafe::DoAddNewItem failed!");
}

bool TfrmDlgSafe::DoRmvItem(TListItem* pItem)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoRmvItem");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = true;

    if (!pItem) bCancel = true;
    if (bResult && !bCancel) {
        bResult = pXml != nullptr && pTresor != nullptr && pTresor->pBuffer != nullptr;
        if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    }

    std::string caption;
    if (bResult && !bCancel) bResult = ItemCaption(pItem, &caption);

    // The message box shows its text as given: the name goes in here, into
    // a bounded buffer (a name with '%' in it stays text).
    char szQuestion[kQuestionSize] = {};
    if (bResult && !bCancel) {
        const char* pszFormat = DLS_TXT_FRAGE_DEL();
        LSStrFormat(szQuestion, sizeof(szQuestion), pszFormat ? pszFormat : "%s", caption.c_str());
        if (!TLSError::StdAskMsg(pOwner, Handle(), DLS_WARNING_CAPTION_Vornix(), szQuestion)) bCancel = true;
    }
    if (bResult && !bCancel) bResult = DoRmvSafe(caption.c_str());
    if (bResult && !bCancel) {
        // Losing the selection here would store the fields into an entry that
        // is gone; the fields are emptied instead.
        const bool bWasBulk = bBulkUpdate;
        bBulkUpdate = true;
        pItem->Delete();
        bBulkUpdate = bWasBulk;
        WipeFields();
    }

    const bool bCancelled = bCancel;
    OnLSChange(true);
    bResult = LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoRmvItem failed!");
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, bCancelled, "TfrmDlgSafe::DoRmvItem failed!");
}

bool TfrmDlgSafe::DoCheckChange(TListItem* pItem, std::string& newName)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoCheckChange");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = true;

    if (!pItem) bCancel = true;
    try {
        const std::string oldName = bCancel ? std::string() : pItem->Caption();
        // Unchanged, letter case included: nothing to do.
        if (!bCancel && newName == oldName) bCancel = true;

        // Another entry of that name (letter case ignored, whole names)
        // refuses the rename; the entry itself does not count, so a change
        // of letter case alone is a rename.
        if (bResult && !bCancel) {
            const int nCount = lstvBezeichnung->Items()->Count();
            TListItem* pClash = nullptr;
            for (int nStart = 0; nStart < nCount && !pClash;) {
                TListItem* pFound = lstvBezeichnung->FindCaption(nStart, newName, false, true, false);
                if (!pFound) break;
                if (pFound != pItem) pClash = pFound;
                nStart = pFound->Index() + 1;
            }
            if (pClash) {
                newName = oldName;
                bCancel = true;
                TLSError::StdHinweisMsg(pOwner, Handle(), DLS_HINWEIS_EXIST());
            }
        }
        if (bResult && !bCancel) {
            bResult = DoRenameEntry(oldName.c_str(), newName.c_str());
            // The list shows what the file holds: a rename the file refused
            // (an empty name among them) keeps the old name.
            if (!bResult) newName = oldName;
        }
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        bResult = false;
    }
    return bResult;
}

// ---------------------------------------------------------------------------
// Event handlers
// ---------------------------------------------------------------------------

void TfrmDlgSafe::btnNeuerEintragClick(TObject* Sender)
{
    DoAddNewItem();
}

void TfrmDlgSafe::pumNeuerEintragClick(TObject* Sender)
{
    DoAddNewItem();
}

void TfrmDlgSafe::btnEintragLoeschenClick(TObject* Sender)
{
    DoRmvItem(lstvBezeichnung->Selected());
}

void TfrmDlgSafe::pumEintragLoeschenClick(TObject* Sender)
{
    DoRmvItem(lstvBezeichnung->Selected());
}

void TfrmDlgSafe::pumEintragUmbenennenClick(TObject* Sender)
{
    TListItem* pItem = lstvBezeichnung->Selected();
    if (pItem) pItem->EditCaption();
}

void TfrmDlgSafe::lstvBezeichnungEdited(TObject* Sender, TListItem* Item, std::string& Caption)
{
    DoCheckChange(Item, Caption);
}

void TfrmDlgSafe::lstvBezeichnungSelectItem(TObject* Sender, TListItem* Item, bool Selected)
{
    if (!bClassInitOK) return;
    lstvBezeichnung->SetCursor(crHourGlass);
    Application->ProcessMessages();

    if (!Selected) {
        // Once stored, the plain copy goes. A failed store has been shown and
        // leaves the text for the user.
        if (!bBulkUpdate && DoEncCryptItem(Item, nCryptMode)) WipeFields();
    } else {
        DoDecCryptItem(Item, nCryptMode);
    }

    const bool bEnable = Selected;
    btnEintragLoeschen->SetEnabled(bEnable);
    pumEintragLoeschen->SetEnabled(bEnable);
    pumDuplizieren->SetEnabled(bEnable);
    pumEintragUmbenennen->SetEnabled(bEnable);
    btnPasswortSichtbar->SetEnabled(bEnable);
    btnBrowserOeffnen->SetEnabled(bEnable);
    const TColor color = bEnable ? clWindow : clBtnFace;
    editBenutzername->SetEnabled(bEnable);
    editPasswort->SetEnabled(bEnable);
    editURL->SetEnabled(bEnable);
    memoSafe->SetEnabled(bEnable);
    editBenutzername->SetColor(color);
    editPasswort->SetColor(color);
    editURL->SetColor(color);
    memoSafe->SetColor(color);

    lstvBezeichnung->SetCursor(crDefault);
}

void TfrmDlgSafe::editBenutzernameChange(TObject* Sender)
{
    const bool bSelected = lstvBezeichnung->Selected() != nullptr;
    btnSave->SetEnabled(bSelected);
    pumSpeichern->SetEnabled(bSelected);
}

void TfrmDlgSafe::editPasswortChange(TObject* Sender)
{
    editBenutzernameChange(Sender);
}

void TfrmDlgSafe::editURLChange(TObject* Sender)
{
    editBenutzernameChange(Sender);
}

void TfrmDlgSafe::memoSafeChange(TObject* Sender)
{
    editBenutzernameChange(Sender);
}

void TfrmDlgSafe::btnSaveClick(TObject* Sender)
{
    DoEncCryptItem(lstvBezeichnung->Selected(), nCryptMode);
    pumSpeichern->SetEnabled(false);
    btnSave->SetEnabled(false);
}
