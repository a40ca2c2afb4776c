// The safe dialog's entry cipher: the shown fields packed into the entry
// record, encrypted, encoded, hashed and stored in the entry's element, and
// the way back from an element to the fields.
//
// Stored text: "ls01" and the first 1855 record bytes are encrypted; every
// further round of the legacy mode encrypts "ls01" and the ciphertext before
// it. Four zero bytes follow the last ciphertext, the whole is encoded as
// text, and the "hash" attribute holds the encoded digest of that text.
//
// Secrets: the record buffer holds the one entry in clear text by design and
// is wiped when the dialog goes. Every other buffer that holds a plaintext,
// a decrypted round or a field is a work buffer of one call and is wiped
// before it is freed, on every path. No field or key reaches a trace line.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace {

constexpr char kCurrentVersion[] = "LSVER500";
constexpr char kMarker[4] = {'l', 's', '0', '1'};
constexpr DWORD kMarkerLen = sizeof(kMarker);
constexpr char kHashAttr[] = "hash";
constexpr DWORD kHashAlgorithm = 0x8003;
// Encryption work buffers: the record with four markers.
constexpr DWORD kEncWorkSize = 3 * 1875;
// Longest stored text.
constexpr DWORD kMaxStoredText = LS_TEXT_SIZE - 1;
// Rounds of the legacy mode.
constexpr int kLegacyRounds = 4;

// Slots of the entry record: offset and size in bytes.
struct TLSSlot {
    DWORD nOffset;
    DWORD nSize;
};
constexpr TLSSlot kNameSlot = {0, 256};
constexpr TLSSlot kUserSlot = {256, 65};
constexpr TLSSlot kPasswordSlot = {321, 257};
constexpr TLSSlot kURLSlot = {578, 256};
constexpr TLSSlot kNoteSlot = {834, 1025};
// Bytes of the record that the stored text covers; the last four are not stored.
constexpr DWORD kStoredRecordLen = LS_TRESOR_RECORD_SIZE - kMarkerLen;
// Characters of an entry name kept in the record: at least 32 random bytes
// then always precede the user name.
constexpr DWORD kNameSlotChars = 223;

// The legacy record and where its strings start.
constexpr DWORD kLegacyRecordSize = 1728;
constexpr DWORD kLegacyName = 0;
constexpr DWORD kLegacyUser = 256;
constexpr DWORD kLegacyURL = 448;
constexpr DWORD kLegacyNote = 704;

// A work buffer of one call, wiped before it is freed.
class TLSWipedBuffer {
public:
    explicit TLSWipedBuffer(size_t nSize) : m_p(new (std::nothrow) BYTE[nSize]), m_nSize(m_p ? nSize : 0)
    {
        if (m_p) SecureZeroMemory(m_p, m_nSize);
    }
    ~TLSWipedBuffer()
    {
        if (m_p) {
            SecureZeroMemory(m_p, m_nSize);
            delete[] m_p;
        }
    }
    TLSWipedBuffer(const TLSWipedBuffer&) = delete;
    TLSWipedBuffer& operator=(const TLSWipedBuffer&) = delete;

    BYTE* Get() const { return m_p; }
    char* Text() const { return reinterpret_cast<char*>(m_p); }
    size_t Size() const { return m_nSize; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    BYTE* m_p;
    size_t m_nSize;
};

// Copies a string of at most nSrcLen bytes (it need not be terminated) into
// a slot, cut to the slot and always terminated there.
void CopyIntoSlot(BYTE* pRecord, const TLSSlot& slot, const BYTE* pSrc, size_t nSrcLen)
{
    const size_t nMax = nSrcLen < slot.nSize - 1 ? nSrcLen : slot.nSize - 1;
    const size_t n = strnlen(reinterpret_cast<const char*>(pSrc), nMax);
    memcpy(pRecord + slot.nOffset, pSrc, n);
    pRecord[slot.nOffset + n] = '\0';
}

// Shows a slot's string in a field; a string without a terminator ends with
// its slot. The copy handed to the control is wiped at once.
void ShowSlot(TEdit* pField, const BYTE* pRecord, const TLSSlot& slot)
{
    char szText[1025 + 1];
    const size_t n = strnlen(reinterpret_cast<const char*>(pRecord + slot.nOffset), slot.nSize - 1);
    memcpy(szText, pRecord + slot.nOffset, n);
    szText[n] = '\0';
    pField->SetTextBuf(szText);
    SecureZeroMemory(szText, sizeof(szText));
}

}  // namespace

// ---------------------------------------------------------------------------
// Encryption
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::ItemCaption(TListItem* pItem, std::string* pCaption)
{
    try {
        *pCaption = pItem->Caption();
        return true;
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

bool TfrmDlgSafe::DoEncCryptItem(TListItem* pItem, int nMode)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoEncCryptItem");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = true;
    if (!pItem) bCancel = true;
    if (bResult && !bCancel) {
        bResult = pTresor != nullptr && pTresor->pBuffer != nullptr;
        if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    }

    std::string caption;
    if (bResult && !bCancel) bResult = ItemCaption(pItem, &caption);

    if (bResult && !bCancel) {
        // Noise from the platform's random source behind every terminator.
        BYTE* pRecord = pTresor->pBuffer;
        SecureZeroMemory(pRecord, LS_TRESOR_RECORD_SIZE);
        bResult = LSGenRandom(pRecord, LS_TRESOR_RECORD_SIZE);
        if (bResult) {
            LSStrCopy(pTresor->szVersion, sizeof(pTresor->szVersion), kCurrentVersion);
            LSStrCopy(reinterpret_cast<char*>(pRecord + kNameSlot.nOffset), kNameSlotChars + 1, caption.c_str());
            // The controls write straight into their slots, cut to them.
            editBenutzername->GetTextBuf(reinterpret_cast<char*>(pRecord + kUserSlot.nOffset),
                                         static_cast<int>(kUserSlot.nSize));
            editPasswort->GetTextBuf(reinterpret_cast<char*>(pRecord + kPasswordSlot.nOffset),
                                     static_cast<int>(kPasswordSlot.nSize));
            editURL->GetTextBuf(reinterpret_cast<char*>(pRecord + kURLSlot.nOffset), static_cast<int>(kURLSlot.nSize));
            memoSafe->GetTextBuf(reinterpret_cast<char*>(pRecord + kNoteSlot.nOffset),
                                 static_cast<int>(kNoteSlot.nSize));
        }
    }

    if (bResult && !bCancel) bResult = DoEncCrypt(caption.c_str(), nMode);
    if (!bResult && !bCancel) LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoEncCryptItem failed!");
    return StdFailureMsg(bResult, bCancel, FAILED_CHANGE, pszSafeFile, "TfrmDlgSafe::DoEncCryptItem failed!");
}

bool TfrmDlgSafe::DoEncCrypt(const char* pszName, int nMode)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoEncCrypt");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pszName != nullptr && pXml != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    std::string text;
    std::string hash;
    if (bResult && !bCancel) bResult = SealRecord(nMode, &text, &hash);

    // An entry that is gone is not stored, without a message. The document
    // in memory is what counts: the file may be gone or emptied meanwhile,
    // and the write below makes it again.
    char szPath[LS_XMLPATH_SIZE] = {};
    if (bResult && !bCancel) {
        if (!GetTagByAttr(pszName, szPath)) bCancel = true;
    }
    // A store that cannot be written is taken back in the document, so the
    // next write of anything else does not carry it.
    TLSEntryState before;
    if (bResult && !bCancel) bResult = before.Take(pXml, szPath);
    if (bResult && !bCancel) bResult = pXml->PPPS(szPath, text.c_str());
    if (bResult && !bCancel) bResult = pXml->PutAtt(szPath, kHashAttr, hash.c_str());
    if (bResult && !bCancel) bResult = WriteOrUndo([&] { before.PutBack(pXml, szPath); });
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoEncCrypt failed!");
}

bool TfrmDlgSafe::SealRecord(int nMode, std::string* pText, std::string* pHash)
{
    bool bResult = pText != nullptr && pHash != nullptr && hCrypt != nullptr && pTools != nullptr &&
                   pTresor != nullptr && pTresor->pBuffer != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    TLSWipedBuffer in(bResult ? kEncWorkSize : 0);
    TLSWipedBuffer out(bResult ? kEncWorkSize : 0);
    if (bResult && (!in || !out)) {
        bResult = false;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }

    // First round: the marker and the record without its last four bytes.
    DWORD dwInLen = 0;
    DWORD dwOutLen = 0;
    if (bResult) {
        memcpy(in.Get(), kMarker, kMarkerLen);
        memcpy(in.Get() + kMarkerLen, pTresor->pBuffer, LS_TRESOR_RECORD_SIZE);
        dwInLen = LS_TRESOR_RECORD_SIZE;
    }

    const int nRounds = nMode == LS_CRYPT_LEGACY ? kLegacyRounds : 1;
    for (int k = 0; k < nRounds && bResult; ++k) {
        const char* pszKey = nMode == LS_CRYPT_LEGACY ? szPassSequenz[k] : szPassword;
        const DWORD dwKeyLen = static_cast<DWORD>(
            strnlen(pszKey, nMode == LS_CRYPT_LEGACY ? sizeof(szPassSequenz[k]) : sizeof(szPassword)));
        dwOutLen = kEncWorkSize;
        bResult = EnCryptData(hCrypt, nMode, pszKey, dwKeyLen, in.Get(), dwInLen, out.Get(), &dwOutLen);
        if (bResult) {
            bResult = dwOutLen == dwInLen && dwOutLen + 2 * kMarkerLen <= kEncWorkSize;
            if (!bResult) SetLastError(ERROR_INVALID_DATA);
        }
        if (bResult) {
            // The next round (and the stored binary) has the marker in front.
            memcpy(in.Get(), kMarker, kMarkerLen);
            memcpy(in.Get() + kMarkerLen, out.Get(), dwOutLen);
            dwInLen = dwOutLen + kMarkerLen;
        }
    }

    // The stored binary: the last ciphertext and four zero bytes; its text
    // goes into the input buffer, which is free now.
    DWORD dwTextLen = 0;
    if (bResult) {
        memset(out.Get() + dwOutLen, 0, kMarkerLen);
        SecureZeroMemory(in.Get(), in.Size());
        dwTextLen = kEncWorkSize;
        bResult = pTools->Bin2Text(out.Get(), dwOutLen + kMarkerLen, in.Text(), &dwTextLen);
    }
    if (bResult) {
        bResult = dwTextLen <= kMaxStoredText && dwTextLen < in.Size() && in.Text()[dwTextLen] == '\0';
        if (!bResult) SetLastError(ERROR_BUFFER_OVERFLOW);
    }

    char szHash[LS_HASH_SIZE] = {};
    char szHashText[LS_TEXT_SIZE] = {};
    if (bResult) {
        DWORD dwHashLen = sizeof(szHash);
        bResult = HashDataHex(hCrypt, in.Get(), dwTextLen, szHash, &dwHashLen, kHashAlgorithm);
        if (bResult) {
            DWORD dwHashTextLen = sizeof(szHashText);
            bResult = pTools->Bin2Text(reinterpret_cast<const BYTE*>(szHash), dwHashLen, szHashText, &dwHashTextLen);
        }
    }
    // The stored text and its hash are no secret: they are what the file holds.
    if (bResult) {
        try {
            pText->assign(in.Text(), dwTextLen);
            pHash->assign(szHashText);
        } catch (const std::exception&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            bResult = false;
        }
    }
    return bResult;
}

// ---------------------------------------------------------------------------
// Decryption
// ---------------------------------------------------------------------------

void TfrmDlgSafe::ReportChangedEntry(const char* pszName)
{
    // The user learns where earlier states of the safe file lie; the entry is
    // not stored again unless the user edits it, so those copies keep the
    // record as it was. The log keeps the finding.
    char szUserPath[LS_PATH_SIZE] = {};
    char szBackups[LS_PATH_SIZE] = {};
    if (TVornixReg::QOVGetVornixUserPath(pOwner, szUserPath))
        LSStrFormat(szBackups, sizeof(szBackups), "%s\\%s", szUserPath, "Backup");
    if (pLog) pLog->Msg(LS_LOG_INFO, DLS_LOG_WRONGHASHVALUE(), pszName);
    char szMsg[LS_TEXT_SIZE] = {};
    LSStrFormat(szMsg, sizeof(szMsg), DLS_TXT_WRONGHASHVALUE(), pszName, szBackups);
    TLSError::StdHinweisMsg(pOwner, Handle(), szMsg);
}

bool TfrmDlgSafe::DoDecCryptItem(TListItem* pItem, int nMode)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoDecCryptItem");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = true;
    if (!pItem) bCancel = true;
    if (bResult && !bCancel) {
        bResult = pXml != nullptr && pTresor != nullptr && pTresor->pBuffer != nullptr;
        if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    }

    if (bResult && !bCancel) {
        WipeFields();
        SecureZeroMemory(pTresor->pBuffer, LS_TRESOR_RECORD_SIZE);
    }
    // A read ends the operation around it only by its result: an entry
    // without a record is shown empty, like a new one.
    bool bNothingStored = false;

    std::string caption;
    if (bResult && !bCancel) bResult = ItemCaption(pItem, &caption);

    char szPath[LS_XMLPATH_SIZE] = {};
    if (bResult && !bCancel) {
        bResult = GetTagByAttr(caption.c_str(), szPath);
        if (!bResult) SetLastError(ERROR_NOT_FOUND);
    }

    TLSWipedBuffer text(bResult && !bCancel ? static_cast<size_t>(LS_TEXT_SIZE) : size_t{0});
    TLSWipedBuffer hash(bResult && !bCancel ? static_cast<size_t>(LS_TEXT_SIZE) : size_t{0});
    if (bResult && !bCancel && (!text || !hash)) {
        bResult = false;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (bResult && !bCancel) bResult = pXml->GPPS(szPath, text.Text(), LS_TEXT_SIZE);
    // An entry whose record was never stored (added, and the program ended
    // before its first store) has no text: its fields are empty. A text
    // without a hash cannot be checked: it is read with the notice of a
    // changed entry (an empty hash never matches).
    if (bResult && !bCancel) {
        bNothingStored = text.Text()[0] == '\0';
        if (!bNothingStored && !pXml->GetAtt(szPath, kHashAttr, hash.Text(), LS_TEXT_SIZE)) hash.Text()[0] = '\0';
    }

    if (bResult && !bCancel && !bNothingStored)
        bResult = DoDecCrypt(caption.c_str(), text.Text(), hash.Text(), nMode);

    if (bResult && !bCancel && !bNothingStored) {
        const BYTE* pRecord = pTresor->pBuffer;
        bFillingFields = true;
        ShowSlot(editBenutzername, pRecord, kUserSlot);
        ShowSlot(editPasswort, pRecord, kPasswordSlot);
        ShowSlot(editURL, pRecord, kURLSlot);
        ShowSlot(memoSafe, pRecord, kNoteSlot);
        bFillingFields = false;
    }
    if (!bResult && !bCancel) LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoDecCryptItem failed!");
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, bCancel, "TfrmDlgSafe::DoDecCryptItem failed!");
}

bool TfrmDlgSafe::DoDecCrypt(const char* pszName, const char* pszText, const char* pszHash, int nMode)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoDecCrypt");
    ClearLSError(pErrHandler);
    bCancel = false;
    const bool bResult = OpenRecord(pszName, pszText, pszHash, nMode, false, nullptr);
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoDecCrypt failed!");
}

bool TfrmDlgSafe::OpenRecord(const char* pszName, const char* pszText, const char* pszHash, int nMode, bool bStrict,
                             TLSReadFault* pFault)
{
    if (pFault) *pFault = READ_OK;

    bool bResult = pszText != nullptr && pszName != nullptr && pszHash != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    // An empty text is an entry never stored: nothing to decrypt.
    if (bResult && pszText[0] == '\0') bCancel = true;
    if (bResult && !bCancel) {
        bResult = hCrypt != nullptr && pTresor != nullptr && pTresor->pBuffer != nullptr && pTools != nullptr;
        if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    }

    const size_t nTextLen = bResult && !bCancel ? strlen(pszText) : 0;
    if (bResult && !bCancel) {
        bResult = nTextLen <= kMaxStoredText;
        if (!bResult) SetLastError(ERROR_INVALID_DATA);
    }
    const size_t nWorkSize = 2 * nTextLen + 1;
    TLSWipedBuffer in(bResult && !bCancel ? nWorkSize : 0);
    TLSWipedBuffer out(bResult && !bCancel ? nWorkSize : 0);
    if (bResult && !bCancel && (!in || !out)) {
        bResult = false;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }

    // Integrity: a changed text is reported, and decrypted all the same.
    if (bResult && !bCancel) {
        char szHash[LS_HASH_SIZE] = {};
        char szHashText[LS_TEXT_SIZE] = {};
        DWORD dwHashLen = sizeof(szHash);
        bResult = HashDataHex(hCrypt, reinterpret_cast<const BYTE*>(pszText), static_cast<DWORD>(nTextLen), szHash,
                              &dwHashLen, kHashAlgorithm);
        if (bResult) {
            DWORD dwHashTextLen = sizeof(szHashText);
            bResult = pTools->Bin2Text(reinterpret_cast<const BYTE*>(szHash), dwHashLen, szHashText, &dwHashTextLen);
        }
        if (bResult && _stricmp(szHashText, pszHash) != 0) {
            if (!bStrict) {
                ReportChangedEntry(pszName);
            } else {
                // Read to be written again: a changed text must not get a
                // fresh, valid hash.
                if (pFault) *pFault = READ_CHANGED;
                bResult = false;
                SetLastError(ERROR_INVALID_DATA);
            }
        }
    }

    DWORD dwLen = 0;
    if (bResult && !bCancel) {
        dwLen = static_cast<DWORD>(nWorkSize);
        bResult = pTools->Text2Bin(pszText, static_cast<DWORD>(nTextLen), in.Get(), &dwLen);
    }

    // Rounds in the reverse order of encryption. Each yields the marker and
    // the input of the next; a missing marker means a wrong password.
    bool bWrongPassword = false;
    const int nRounds = nMode == LS_CRYPT_LEGACY ? kLegacyRounds : 1;
    DWORD dwPlain = 0;
    for (int r = 0; r < nRounds && bResult && !bCancel; ++r) {
        const int k = nRounds - 1 - r;
        const char* pszKey = nMode == LS_CRYPT_LEGACY ? szPassSequenz[k] : szPassword;
        const DWORD dwKeyLen = static_cast<DWORD>(
            strnlen(pszKey, nMode == LS_CRYPT_LEGACY ? sizeof(szPassSequenz[k]) : sizeof(szPassword)));
        dwPlain = static_cast<DWORD>(nWorkSize);
        bResult = DeCryptData(hCrypt, nMode, pszKey, dwKeyLen, in.Get(), dwLen, out.Get(), &dwPlain);
        if (bResult && (dwPlain < 2 * kMarkerLen || dwPlain > nWorkSize)) {
            bResult = false;
            SetLastError(ERROR_INVALID_DATA);
        }
        if (bResult && memcmp(out.Get(), kMarker, kMarkerLen) != 0) {
            bWrongPassword = true;
            if (!bStrict) bPasswordFailed = true;
            bCancel = true;
            bResult = false;
            SetLastError(ERROR_INVALID_PASSWORD);
        }
        if (bResult && !bCancel) {
            // The next round decrypts what followed the marker, then four zero bytes.
            dwLen = dwPlain - kMarkerLen;
            SecureZeroMemory(in.Get(), in.Size());
            memcpy(in.Get(), out.Get() + kMarkerLen, dwPlain - 2 * kMarkerLen);
        }
    }

    if (bWrongPassword && bStrict) {
        // The caller tells the user, naming the entry.
        if (pFault) *pFault = READ_WRONGKEY;
        bCancel = false;
    } else if (bWrongPassword) {
        if (pLog) pLog->Msg(LS_LOG_INFO, "%s", DLS_PASSWORDWRONG());
        btnLogFile->SetEnabled(true);
        ClearLSError(pErrHandler);
        TLSError::StdErrorMsg(pOwner, Handle(), bResult, false, DLS_PASSWORDWRONG());
    }

    // The record from the last round's plaintext behind the marker.
    if (bResult && !bCancel) {
        BYTE* pRecord = pTresor->pBuffer;
        const BYTE* pPlain = out.Get() + kMarkerLen;
        if (dwLen == LS_TRESOR_RECORD_SIZE) {
            memcpy(pRecord, pPlain, LS_TRESOR_RECORD_SIZE);
            // The last four bytes were never stored: what the cipher made of
            // the zero bytes is no data, so the note ends before them.
            SecureZeroMemory(pRecord + kStoredRecordLen, LS_TRESOR_RECORD_SIZE - kStoredRecordLen);
        } else if (dwLen == kLegacyRecordSize) {
            TLSWipedBuffer legacy(kLegacyRecordSize);
            bResult = static_cast<bool>(legacy);
            if (bResult) {
                memcpy(legacy.Get(), pPlain, kLegacyRecordSize);
                SecureZeroMemory(pRecord, LS_TRESOR_RECORD_SIZE);
                const BYTE* pLegacy = legacy.Get();
                // Its last four bytes were never stored either.
                const DWORD dwStored = kLegacyRecordSize - kMarkerLen;
                CopyIntoSlot(pRecord, kNameSlot, pLegacy + kLegacyName, dwStored - kLegacyName);
                CopyIntoSlot(pRecord, kUserSlot, pLegacy + kLegacyUser, dwStored - kLegacyUser);
                CopyIntoSlot(pRecord, kURLSlot, pLegacy + kLegacyURL, dwStored - kLegacyURL);
                CopyIntoSlot(pRecord, kNoteSlot, pLegacy + kLegacyNote, dwStored - kLegacyNote);
            } else {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            }
        } else {
            bResult = false;
            SetLastError(ERROR_INVALID_DATA);
        }
    }
    if (!bResult && pFault && *pFault == READ_OK) *pFault = READ_DAMAGED;
    return bResult;
}
