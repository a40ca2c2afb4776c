// The safe dialog's entry store: the version marker of a safe file, the
// element that holds the entries, and the entry elements found, numbered,
// listed, added, removed and renamed by name. Every change writes the whole
// safe file at once; nothing is cached between calls.
//
// No entry field passes through this unit: it sees entry names, element
// names and element paths only.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "DlgSafe.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace {

constexpr char kCurrentVersion[] = "LSVER500";
constexpr char kNameAttr[] = "name";
constexpr char kTagPrefix[] = "n";
// Levels searched below the root for the element that holds the entries.
constexpr int kMainTagAttempts = 10;
// First and largest buffer of a child-name list and of an element's text.
constexpr size_t kFirstList = 64u << 10;
constexpr size_t kMaxList = 256u << 20;
constexpr char kHashAttr[] = "hash";

// Whether two entry names are the same, letter case ignored (as the entry
// list compares its captions).
bool SameName(const char* pszA, const char* pszB)
{
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, pszA, -1, pszB, -1) == CSTR_EQUAL;
}

// Reads something of unknown length from the document into a buffer that
// grows until it fits (up to a bound): read(buffer, size) is a TXmlAPI call
// that fails with ERROR_INSUFFICIENT_BUFFER when the buffer is too small.
template <typename Read>
bool ReadGrowing(std::unique_ptr<char[]>& buffer, Read read)
{
    buffer.reset();
    for (size_t nSize = kFirstList;; nSize *= 2) {
        buffer.reset(new (std::nothrow) char[nSize]);
        if (!buffer) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        if (read(buffer.get(), static_cast<DWORD>(nSize))) return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || nSize >= kMaxList) {
            buffer.reset();
            return false;
        }
    }
}

// The names of the children of the element at pszPath: consecutive
// zero-terminated names closed by an empty one. They come from the document
// in memory, which is what the dialog works on while the safe is open: the
// file may have been removed or emptied meanwhile, and the next write makes
// it again.
bool ListChildren(TXmlAPI* pXml, const char* pszPath, std::unique_ptr<char[]>& list)
{
    return ReadGrowing(list, [&](char* p, DWORD n) { return pXml->GPPS(pszPath, nullptr, p, n); });
}

// The entry number a child name stands for ("n" and the number in the
// format "%4.4d", letter case ignored), or -1. Numbers above nLimit are
// reported as nLimit + 1: only whether they are small matters.
long long EntryNumberOf(const char* pszName, long long nLimit)
{
    if (pszName[0] != 'n' && pszName[0] != 'N') return -1;
    const char* pszDigits = pszName + 1;
    const size_t nDigits = strlen(pszDigits);
    if (nDigits < 4) return -1;
    for (size_t i = 0; i < nDigits; ++i)
        if (pszDigits[i] < '0' || pszDigits[i] > '9') return -1;
    // Beyond four digits the format writes no leading zero.
    if (nDigits > 4 && pszDigits[0] == '0') return -1;
    long long n = 0;
    for (size_t i = 0; i < nDigits; ++i) {
        n = n * 10 + (pszDigits[i] - '0');
        if (n > nLimit) return nLimit + 1;
    }
    return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Changes that are written, or taken back
// ---------------------------------------------------------------------------

bool TLSEntryState::Take(TXmlAPI* pXml, const char* pszPath)
{
    std::unique_ptr<char[]> buffer;
    bool bResult = ReadGrowing(buffer, [&](char* p, DWORD n) { return pXml->GPPS(pszPath, p, n); });
    try {
        if (bResult) text = buffer.get();
        if (bResult)
            bResult = ReadGrowing(buffer, [&](char* p, DWORD n) { return pXml->GetAtt(pszPath, kNameAttr, p, n); });
        if (bResult) name = buffer.get();
        if (bResult) {
            bHasHash = ReadGrowing(buffer, [&](char* p, DWORD n) { return pXml->GetAtt(pszPath, kHashAttr, p, n); });
            hash = bHasHash ? buffer.get() : "";
        }
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        bResult = false;
    }
    return bResult;
}

bool TLSEntryState::PutBack(TXmlAPI* pXml, const char* pszPath) const
{
    // Made again when it was removed. A hash the element did not have is
    // left empty: there is no attribute removal, and an empty text with an
    // empty hash reads as an entry never stored, which it was.
    bool bResult = pXml->PPPS(pszPath, text.c_str());
    if (bResult) bResult = pXml->PutAtt(pszPath, kNameAttr, name.c_str());
    if (bResult) bResult = pXml->PutAtt(pszPath, kHashAttr, hash.c_str());
    return bResult;
}

void TfrmDlgSafe::UndoKeepingError(const std::function<void()>& undo)
{
    const DWORD dwErr = GetLastError();
    const tag_TLSErrHandler saved = pErrHandler ? *pErrHandler : tag_TLSErrHandler{};
    undo();
    if (pErrHandler) *pErrHandler = saved;
    SetLastError(dwErr);
}

bool TfrmDlgSafe::WriteOrUndo(const std::function<void()>& undo)
{
    // The document is written whole; the file is replaced atomically, so a
    // failure leaves the old file. The change is then taken back in the
    // document too, so document, list and file agree again, and the error
    // that is reported stays the write's.
    if (pXml->Write(pszSafeFile, nullptr)) return true;
    UndoKeepingError(undo);
    return false;
}

// ---------------------------------------------------------------------------
// Versions
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::DoGetSafeFileVersion(char* pszVersion)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoGetSafeFileVersion");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pszVersion != nullptr;
    if (bResult)
        pszVersion[0] = '\0';
    else
        SetLastError(ERROR_INVALID_PARAMETER);

    // The configured safe, not the one the dialog may have open.
    char szFile[LS_PATH_SIZE] = {};
    if (bResult && !bCancel) {
        bResult = TVornixReg::QOVGetVornixSafe(pOwner, szFile) && szFile[0] != '\0';
        if (!bResult) SetLastError(ERROR_FILE_NOT_FOUND);
    }

    std::unique_ptr<TXmlAPI> pVersionXml;
    if (bResult && !bCancel) {
        try {
            pVersionXml.reset(new TXmlAPI(pOwner));
        } catch (const std::exception&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            bResult = false;
        }
    }
    if (bResult && !bCancel) {
        bResult = TLSFile::FileExists(pOwner, szFile);
        if (!bResult) SetLastError(ERROR_FILE_NOT_FOUND);
    }
    if (bResult && !bCancel) bResult = pVersionXml->Init(szFile);
    if (bResult && !bCancel) bResult = pVersionXml->GetRootTag(pszVersion, LS_XMLPATH_SIZE);
    pVersionXml.reset();

    if (!bResult && pszVersion) pszVersion[0] = '\0';
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoGetSafeFileVersion failed!");
}

bool TfrmDlgSafe::IsOldSafeFileVersion(const char* pszVersion)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::IsOldSafeFileVersion");
    if (!pszVersion) return false;
    return _stricmp(pszVersion, kCurrentVersion) != 0;
}

// ---------------------------------------------------------------------------
// Finding elements
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::GetXMLMainTag(char* pszMainTag)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::GetXMLMainTag");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pszMainTag != nullptr && pXml != nullptr;
    if (pszMainTag) pszMainTag[0] = '\0';
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    char szRoot[LS_XMLPATH_SIZE] = {};
    std::unique_ptr<char[]> children;
    if (bResult && !bCancel) bResult = pXml->GetRootTag(szRoot, sizeof(szRoot));
    if (bResult && !bCancel) bResult = ListChildren(pXml, szRoot, children);

    if (bResult && !bCancel) {
        if (children[0] == '\0') {
            // No entries at all: they will go below the root.
            LSStrCopy(pszMainTag, LS_XMLPATH_SIZE, szRoot);
        } else {
            // Entries carry a name; older files keep them deeper down, always
            // along the first child of each level.
            char szPath[LS_XMLPATH_SIZE] = {};
            char szDescent[LS_XMLPATH_SIZE] = {};
            char szName[LS_TEXT_SIZE] = {};
            bResult = LSStrFormat(szPath, sizeof(szPath), "%s.%s", szRoot, children.get());
            bool bFound = false;
            for (int nAttempt = 0; bResult && !bFound && nAttempt < kMainTagAttempts; ++nAttempt) {
                if (pXml->GetAtt(szPath, kNameAttr, szName, sizeof(szName))) {
                    bFound = true;
                    break;
                }
                std::unique_ptr<char[]> grandChildren;
                // An element without children ends the descent: no level
                // below it can hold a name.
                bResult = ListChildren(pXml, szPath, grandChildren) && grandChildren[0] != '\0';
                if (bResult) {
                    LSStrCopy(szDescent, sizeof(szDescent), szPath);
                    bResult = LSStrFormat(szPath, sizeof(szPath), "%s.%s", szDescent, grandChildren.get());
                }
            }
            if (bResult && !bFound) bResult = false;
            if (!bResult) SetLastError(ERROR_NOT_FOUND);
            if (bResult) LSStrCopy(pszMainTag, LS_XMLPATH_SIZE, szDescent[0] != '\0' ? szDescent : szRoot);
        }
    }
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::GetXMLMainTag failed!");
}

bool TfrmDlgSafe::GetTagByAttr(const char* pszName, char* pszTag)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::GetTagByAttr");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pszName != nullptr && pszTag != nullptr && pXml != nullptr;
    if (pszTag) pszTag[0] = '\0';
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    char szMainTag[LS_XMLPATH_SIZE] = {};
    std::unique_ptr<char[]> children;
    if (bResult && !bCancel) bResult = GetXMLMainTag(szMainTag);
    if (bResult && !bCancel) bResult = ListChildren(pXml, szMainTag, children);

    bool bFound = false;
    if (bResult && !bCancel) {
        char szPath[LS_XMLPATH_SIZE] = {};
        char szName[LS_TEXT_SIZE] = {};
        for (const char* pszChild = children.get(); *pszChild && !bFound; pszChild += strlen(pszChild) + 1) {
            if (!LSStrFormat(szPath, sizeof(szPath), "%s.%s", szMainTag, pszChild)) break;
            // A child without a name ends the scan.
            if (!pXml->GetAtt(szPath, kNameAttr, szName, sizeof(szName))) break;
            if (SameName(szName, pszName)) {
                bFound = LSStrCopy(pszTag, LS_XMLPATH_SIZE, szPath);
            }
        }
    }
    // Not found is an answer, not a failure: nothing is recorded.
    if (!bFound) SetLastError(ERROR_NOT_FOUND);
    return bResult && bFound;
}

bool TfrmDlgSafe::ListEntryElements(std::vector<TLSEntryElement>* pEntries)
{
    bool bResult = pEntries != nullptr && pXml != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    char szMainTag[LS_XMLPATH_SIZE] = {};
    std::unique_ptr<char[]> children;
    if (bResult) bResult = GetXMLMainTag(szMainTag);
    if (bResult) bResult = ListChildren(pXml, szMainTag, children);
    if (bResult) {
        try {
            pEntries->clear();
            char szPath[LS_XMLPATH_SIZE] = {};
            char szName[LS_TEXT_SIZE] = {};
            // The entries the list shows: a child without a name ends them.
            for (const char* pszChild = children.get(); *pszChild; pszChild += strlen(pszChild) + 1) {
                if (!LSStrFormat(szPath, sizeof(szPath), "%s.%s", szMainTag, pszChild)) break;
                if (!pXml->GetAtt(szPath, kNameAttr, szName, sizeof(szName))) break;
                pEntries->push_back({szName, szPath});
            }
            std::stable_sort(pEntries->begin(), pEntries->end(),
                             [](const TLSEntryElement& a, const TLSEntryElement& b) {
                                 return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.name.c_str(), -1,
                                                       b.name.c_str(), -1) == CSTR_LESS_THAN;
                             });
        } catch (const std::exception&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            bResult = false;
        }
    }
    return bResult;
}

bool TfrmDlgSafe::GetNextFreeTagNum(int* pnNum)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::GetNextFreeTagNum");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pnNum != nullptr && pXml != nullptr;
    if (pnNum) *pnNum = 0;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    char szMainTag[LS_XMLPATH_SIZE] = {};
    std::unique_ptr<char[]> children;
    if (bResult && !bCancel) bResult = GetXMLMainTag(szMainTag);
    if (bResult && !bCancel) bResult = ListChildren(pXml, szMainTag, children);

    if (bResult && !bCancel) {
        // The used numbers are collected once; with c children the smallest
        // free number is at most c, so larger ones need not be kept.
        size_t nChildren = 0;
        for (const char* p = children.get(); *p; p += strlen(p) + 1) ++nChildren;
        try {
            std::vector<bool> used(nChildren + 1, false);
            const long long nLimit = static_cast<long long>(nChildren);
            for (const char* p = children.get(); *p; p += strlen(p) + 1) {
                const long long n = EntryNumberOf(p, nLimit);
                if (n >= 0 && n <= nLimit) used[static_cast<size_t>(n)] = true;
            }
            size_t nFree = 0;
            while (nFree < used.size() && used[nFree]) ++nFree;
            *pnNum = static_cast<int>(nFree);
        } catch (const std::exception&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            bResult = false;
        }
    }
    return bResult;
}

// ---------------------------------------------------------------------------
// The entry list and changes of entries
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::DoListSafe()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoListSafe");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pXml != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    // The list always shows the document as it is now, never the entries of
    // an earlier one.
    if (bResult) lstvBezeichnung->Items()->Clear();

    char szMainTag[LS_XMLPATH_SIZE] = {};
    std::unique_ptr<char[]> children;
    if (bResult && !bCancel) bResult = GetXMLMainTag(szMainTag);
    if (bResult && !bCancel) bResult = ListChildren(pXml, szMainTag, children);

    if (bResult && !bCancel) {
        char szPath[LS_XMLPATH_SIZE] = {};
        char szName[LS_TEXT_SIZE] = {};
        TListItems* pItems = lstvBezeichnung->Items();
        pItems->BeginUpdate();
        try {
            for (const char* pszChild = children.get(); *pszChild && bResult; pszChild += strlen(pszChild) + 1) {
                bResult = LSStrFormat(szPath, sizeof(szPath), "%s.%s", szMainTag, pszChild);
                // A child without a name ends the list; what came before stays.
                if (bResult) bResult = pXml->GetAtt(szPath, kNameAttr, szName, sizeof(szName));
                if (bResult) pItems->Add(szName);
            }
        } catch (const std::exception&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            bResult = false;
        }
        pItems->EndUpdate();
    }

    if (bResult && !bCancel && lstvBezeichnung->Items()->Count() > 0) {
        TListItem* pTop = lstvBezeichnung->Items()->Item(0);
        pTop->MakeVisible(false);
        lstvBezeichnung->SetSelected(pTop);
    }
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoListSave failed!");
}

bool TfrmDlgSafe::DoAddSafe(const char* pszName)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoAddSafe");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pszName != nullptr && pXml != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    int nNum = 0;
    char szMainTag[LS_XMLPATH_SIZE] = {};
    char szPath[LS_XMLPATH_SIZE] = {};
    if (bResult && !bCancel) bResult = GetNextFreeTagNum(&nNum);
    if (bResult && !bCancel) bResult = GetXMLMainTag(szMainTag);
    if (bResult && !bCancel) {
        bResult = LSStrFormat(szPath, sizeof(szPath), "%s.%s%4.4d", szMainTag, kTagPrefix, nNum);
        if (!bResult) SetLastError(ERROR_BUFFER_OVERFLOW);
    }
    // A new entry has a name and no record until it is first stored. An
    // entry that cannot be written is not kept in the document either.
    bool bCreated = false;
    if (bResult && !bCancel) bCreated = bResult = pXml->PPPS(szPath, "");
    if (bResult && !bCancel) bResult = pXml->PutAtt(szPath, kNameAttr, pszName);
    if (bResult && !bCancel) bResult = WriteOrUndo([&] { pXml->PPPS(szPath, nullptr); });
    else if (bCreated) UndoKeepingError([&] { pXml->PPPS(szPath, nullptr); });
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoAddSave failed!");
}

bool TfrmDlgSafe::DoRmvSafe(const char* pszName)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoRmvSafe");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pszName != nullptr && pXml != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    // A removal that cannot be written puts the entry back into the document.
    char szPath[LS_XMLPATH_SIZE] = {};
    TLSEntryState before;
    if (bResult && !bCancel) bResult = GetTagByAttr(pszName, szPath);
    if (bResult && !bCancel) bResult = before.Take(pXml, szPath);
    if (bResult && !bCancel) bResult = pXml->PPPS(szPath, nullptr);
    if (bResult && !bCancel) bResult = WriteOrUndo([&] { before.PutBack(pXml, szPath); });
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoRmvSave failed!");
}

bool TfrmDlgSafe::DoRenameEntry(const char* pszOldName, const char* pszNewName)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoRenameEntry");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pszOldName != nullptr && pszNewName != nullptr && pszOldName[0] != '\0' &&
                   pszNewName[0] != '\0' && pXml != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    // Only the name changes: the record's name slot is never read back. A
    // rename that cannot be written gives the element its old name again.
    char szPath[LS_XMLPATH_SIZE] = {};
    TLSEntryState before;
    if (bResult && !bCancel) bResult = GetTagByAttr(pszOldName, szPath);
    if (bResult && !bCancel) bResult = before.Take(pXml, szPath);
    if (bResult && !bCancel) bResult = pXml->PutAtt(szPath, kNameAttr, pszNewName);
    if (bResult && !bCancel)
        bResult = WriteOrUndo([&] { pXml->PutAtt(szPath, kNameAttr, before.name.c_str()); });
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoRenameEntry failed!");
}
