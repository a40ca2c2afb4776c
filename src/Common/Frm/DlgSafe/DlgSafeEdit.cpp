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

bool TfrmDlgSafe::DoStoreChangedItem(TListItem* pItem)
{
    if (!pItem || !bEntryChanged) return true;
    const bool bStored = DoEncCryptItem(pItem, nCryptMode);
    if (bStored) bEntryChanged = false;
    return bStored;
}

bool TfrmDlgSafe::FinishEntryChange(bool bResult, const char* pszFailed)
{
    // The failure is recorded while the error code still names its cause,
    // and the others hear of a change only when there was one: telling them
    // clears the error record and the cancel flag.
    const bool bCancelled = bCancel;
    bResult = LS_DEF_ERROR(pErrHandler, bResult, pszFailed);
    if (bResult && !bCancelled) {
        OnLSChange(true);
        bCancel = false;
    }
    return StdFailureMsg(bResult, bCancelled, FAILED_CHANGE, pszSafeFile, pszFailed);
}

bool TfrmDlgSafe::DoAddNewItem()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoAddNewItem");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = true;

    // The entry shown so far is stored first; a failure there (reported by
    // the store itself) does not stop the new entry.
    TListItem* pPrevious = lstvBezeichnung->Selected();
    if (pPrevious && !bBulkUpdate) DoStoreChangedItem(pPrevious);
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
            pItem = lstvBezeichnung->Items()->Add(szName);
            WipeFields();
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
    return FinishEntryChange(bResult, "TfrmDlgSafe::DoAddNewItem failed!");
}

bool TfrmDlgSafe::DoAddAndNameNewItem()
{
    if (!DoAddNewItem()) return false;
    // The new entry is the selected one; the user names it in place, and
    // confirming renames it through lstvBezeichnungEdited (Escape keeps the
    // default name).
    TListItem* pItem = lstvBezeichnung->Selected();
    if (pItem && lstvBezeichnung->CanFocus()) pItem->EditCaption();
    return true;
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
        bEntryChanged = false;
    }

    return FinishEntryChange(bResult, "TfrmDlgSafe::DoRmvItem failed!");
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
        // Unchanged, letter case included, or emptied: nothing to do, the
        // list keeps the old name.
        if (!bCancel && newName == oldName) bCancel = true;
        if (!bCancel && newName.empty()) {
            newName = oldName;
            bCancel = true;
        }

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
            // The list shows what the document and the file hold: a rename
            // that could not be written keeps the old name, and the user is
            // told why.
            if (!bResult) {
                newName = oldName;
                StdFailureMsg(false, false, FAILED_CHANGE, pszSafeFile, "TfrmDlgSafe::DoRenameEntry failed!");
            }
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
    DoAddAndNameNewItem();
}

void TfrmDlgSafe::pumNeuerEintragClick(TObject* Sender)
{
    DoAddAndNameNewItem();
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

void TfrmDlgSafe::lstvBezeichnungKeyDown(TObject* Sender, WORD& Key, TShiftState Shift)
{
    // The name editor has keys of its own; the list's Delete is the delete
    // button's, with its question.
    if (Key != VK_DELETE || !Shift.Empty() || lstvBezeichnung->IsEditing()) return;
    Key = 0;
    TListItem* pItem = lstvBezeichnung->Selected();
    if (pItem) DoRmvItem(pItem);
}

void TfrmDlgSafe::lstvBezeichnungEdited(TObject* Sender, TListItem* Item, std::string& Caption)
{
    DoCheckChange(Item, Caption);
}

void TfrmDlgSafe::lstvBezeichnungSelectItem(TObject* Sender, TListItem* Item, bool Selected)
{
    if (!bClassInitOK) return;
    // The selection also changes inside other operations (listing, adding,
    // removing): the outcome of reading or storing the entry is reported by
    // those calls themselves and never ends the operation around them.
    // No messages are processed here: a queued command could delete Item.
    const bool bOuterCancel = bCancel;
    lstvBezeichnung->SetCursor(crHourGlass);

    if (!Selected) {
        // Once stored (or when there was nothing to store) the plain copy
        // goes. A failed store has been shown and leaves the text for the user.
        if (bBulkUpdate || DoStoreChangedItem(Item)) {
            WipeFields();
            bEntryChanged = false;
        }
    } else {
        DoDecCryptItem(Item, nCryptMode);
        // What the fields show now is the entry as the file holds it (or
        // nothing, when it could not be read): not an edit.
        bEntryChanged = false;
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
    bCancel = bOuterCancel;
}

void TfrmDlgSafe::FieldChanged()
{
    const bool bSelected = lstvBezeichnung->Selected() != nullptr;
    btnSave->SetEnabled(bSelected);
    pumSpeichern->SetEnabled(bSelected);
    if (bSelected && !bFillingFields) bEntryChanged = true;
}

void TfrmDlgSafe::editBenutzernameChange(TObject* Sender)
{
    FieldChanged();
}

void TfrmDlgSafe::editPasswortChange(TObject* Sender)
{
    FieldChanged();
}

void TfrmDlgSafe::editURLChange(TObject* Sender)
{
    FieldChanged();
}

void TfrmDlgSafe::memoSafeChange(TObject* Sender)
{
    FieldChanged();
}

void TfrmDlgSafe::btnSaveClick(TObject* Sender)
{
    if (DoEncCryptItem(lstvBezeichnung->Selected(), nCryptMode) && !bCancel) bEntryChanged = false;
    pumSpeichern->SetEnabled(false);
    btnSave->SetEnabled(false);
}
