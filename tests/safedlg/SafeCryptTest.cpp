// Entries moved between the dialog's fields and their elements in the safe
// file with the real cipher, digest and text encoding: round trips in both
// crypt modes, the record's limits, damaged and foreign element texts, a
// wrong password and the legacy record.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "KTXLANG.h"
#include "LSStr.h"
#include "SafeStoreFixture.h"
#include "TestSupport.h"
#include "UiDriver.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

constexpr char kPassword[] = "Sommer 2024!";

struct Fields {
    std::string user, password, url, note;
};

bool operator==(const Fields& a, const Fields& b)
{
    return a.user == b.user && a.password == b.password && a.url == b.url && a.note == b.note;
}

std::ostream& operator<<(std::ostream& os, const Fields& f)
{
    return os << "{user " << f.user.size() << " '" << f.user.substr(0, 40) << "', password " << f.password.size()
              << ", url " << f.url.size() << " '" << f.url.substr(0, 40) << "', note " << f.note.size() << " '"
              << f.note.substr(0, 40) << "'}";
}

class SafeCrypt : public SafeStoreFixture {
protected:
    void SetUp() override
    {
        SafeStoreFixture::SetUp();
        ASSERT_NE(m_pDlg->hCrypt, nullptr);
        LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), kPassword);
        ASSERT_TRUE(m_pDlg->DoLoadPassSequenz(kPassword));
        NewSafe();
    }

    // An entry in the file and in the list.
    TListItem* AddEntry(const std::string& name)
    {
        EXPECT_TRUE(m_pDlg->DoAddSafe(name.c_str()));
        return m_pDlg->lstvBezeichnung->Items()->Add(name);
    }

    void ShowFields(const Fields& f)
    {
        m_pDlg->editBenutzername->SetTextBuf(f.user.c_str());
        m_pDlg->editPasswort->SetTextBuf(f.password.c_str());
        m_pDlg->editURL->SetTextBuf(f.url.c_str());
        m_pDlg->memoSafe->SetTextBuf(f.note.c_str());
    }

    Fields ShownFields()
    {
        return {EditText(m_pDlg->editBenutzername), EditText(m_pDlg->editPasswort), EditText(m_pDlg->editURL),
                EditText(m_pDlg->memoSafe)};
    }

    // The element path of an entry.
    std::string TagOf(const std::string& name)
    {
        char szTag[LS_XMLPATH_SIZE] = {};
        EXPECT_TRUE(m_pDlg->GetTagByAttr(name.c_str(), szTag)) << name;
        return szTag;
    }

    // The stored binary behind an element text.
    std::string Binary(const std::string& text)
    {
        std::vector<BYTE> bin(text.size() + 16);
        DWORD dwLen = static_cast<DWORD>(bin.size());
        EXPECT_TRUE(m_pDlg->pTools->Text2Bin(text.c_str(), static_cast<DWORD>(text.size()), bin.data(), &dwLen));
        return std::string(reinterpret_cast<char*>(bin.data()), dwLen);
    }

    // The "hash" attribute that belongs to an element text.
    std::string HashOf(const std::string& text)
    {
        char szHash[LS_HASH_SIZE] = {};
        DWORD dwHashLen = sizeof(szHash);
        EXPECT_TRUE(HashDataHex(m_pDlg->hCrypt, reinterpret_cast<const BYTE*>(text.data()),
                                static_cast<DWORD>(text.size()), szHash, &dwHashLen, 0x8003));
        std::vector<char> out(LS_TEXT_SIZE);
        DWORD dwOutLen = static_cast<DWORD>(out.size());
        EXPECT_TRUE(m_pDlg->pTools->Bin2Text(reinterpret_cast<const BYTE*>(szHash), dwHashLen, out.data(), &dwOutLen));
        return std::string(out.data(), dwOutLen);
    }

    // Element text of a plaintext of nRecordLen record bytes behind the
    // marker, encrypted as the store does: "ls01" and the record in the
    // first round, "ls01" and the ciphertext in each further one, four zero
    // bytes behind the last ciphertext.
    std::string EncryptRecord(const std::string& record, size_t nRecordLen, int nMode)
    {
        std::string in = "ls01" + record;
        size_t nLen = nRecordLen;
        std::string out;
        const int nRounds = nMode == LS_CRYPT_LEGACY ? 4 : 1;
        for (int k = 0; k < nRounds; ++k) {
            const char* pszKey = nMode == LS_CRYPT_LEGACY ? m_pDlg->szPassSequenz[k] : m_pDlg->szPassword;
            out.assign(nLen, '\0');
            DWORD dwOut = static_cast<DWORD>(out.size());
            EXPECT_TRUE(EnCryptData(m_pDlg->hCrypt, nMode, pszKey, static_cast<DWORD>(strlen(pszKey)),
                                    reinterpret_cast<const BYTE*>(in.data()), static_cast<DWORD>(nLen),
                                    reinterpret_cast<BYTE*>(&out[0]), &dwOut));
            out.resize(dwOut);
            in = "ls01" + out;
            nLen = out.size() + 4;
        }
        out.append(4, '\0');
        std::vector<char> text(3 * out.size() + 16);
        DWORD dwText = static_cast<DWORD>(text.size());
        EXPECT_TRUE(m_pDlg->pTools->Bin2Text(reinterpret_cast<const BYTE*>(out.data()), static_cast<DWORD>(out.size()),
                                             text.data(), &dwText));
        return std::string(text.data(), dwText);
    }

    // Stores an element text with its right hash into an entry's element.
    void StoreText(const std::string& name, const std::string& text, const std::string& hash)
    {
        const std::string tag = TagOf(name);
        ASSERT_TRUE(m_pDlg->pXml->PPPS(tag.c_str(), text.c_str()));
        ASSERT_TRUE(m_pDlg->pXml->PutAtt(tag.c_str(), "hash", hash.c_str()));
        ASSERT_TRUE(m_pDlg->pXml->Write(m_safePath.c_str(), nullptr));
    }

    // Lines of the safe log that hold a text.
    size_t LogLinesWith(const std::string& text)
    {
        const std::string log = ktxtest::ReadFileBytes(m_pDlg->pLog->GetLogFilNam());
        size_t n = 0;
        for (size_t pos = log.find(text); pos != std::string::npos; pos = log.find(text, pos + 1)) ++n;
        return n;
    }
};

std::string Repeat(const std::string& unit, size_t nLen)
{
    std::string s;
    while (s.size() < nLen) s += unit;
    s.resize(nLen);
    return s;
}

// ---------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------

TEST_F(SafeCrypt, FieldsRoundTripInBothModes)
{
    const Fields full = {Repeat("user.", 64), Repeat("P4ss!\"<&>%s", 256), Repeat("https://example.org/", 255),
                         "first line\r\nsecond line\r\n\r\nlast line with \xE4\xF6\xFC"};
    const Fields empty = {"", "", "", ""};
    struct Case {
        int nMode;
        size_t nStoredBinary;
    };
    for (const Case& c : {Case{LS_CRYPT_CURRENT, 1863}, Case{LS_CRYPT_LEGACY, 1875}}) {
        SCOPED_TRACE(c.nMode);
        const std::string name = "entry in mode " + std::to_string(c.nMode);
        TListItem* pItem = AddEntry(name);
        for (const Fields& f : {full, empty}) {
            ShowFields(f);
            ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, c.nMode));
            EXPECT_STREQ(m_pDlg->pTresor->szVersion, "LSVER500");

            // What the file holds: the text of the stored binary and its hash.
            const std::string tag = TagOf(name);
            const std::string text = FileText(tag);
            ASSERT_FALSE(text.empty());
            EXPECT_LE(text.size(), 4096u);
            EXPECT_EQ(Binary(text).size(), c.nStoredBinary);
            EXPECT_EQ(Binary(text).substr(c.nStoredBinary - 4), std::string(4, '\0'));
            EXPECT_EQ(FileAtt(tag, "hash"), HashOf(text));

            ShowFields({"stale", "stale", "stale", "stale"});
            ASSERT_TRUE(m_pDlg->DoDecCryptItem(pItem, c.nMode));
            EXPECT_EQ(ShownFields(), f);
        }
    }
}

TEST_F(SafeCrypt, EachStoreDrawsNewNoise)
{
    TListItem* pItem = AddEntry("noise");
    ShowFields({"u", "p", "", ""});
    ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_CURRENT));
    const std::string first = FileText(TagOf("noise"));
    const std::string record1(reinterpret_cast<char*>(m_pDlg->pTresor->pBuffer), LS_TRESOR_RECORD_SIZE);
    ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_CURRENT));
    const std::string second = FileText(TagOf("noise"));
    const std::string record2(reinterpret_cast<char*>(m_pDlg->pTresor->pBuffer), LS_TRESOR_RECORD_SIZE);
    EXPECT_NE(first, second) << "the same fields were stored as the same text";

    // Behind the user name's terminator lie random bytes, different each time.
    const std::string tail1 = record1.substr(256 + 2, 63), tail2 = record2.substr(256 + 2, 63);
    EXPECT_NE(tail1, std::string(63, '\0'));
    EXPECT_NE(tail1, tail2);
}

TEST_F(SafeCrypt, NoteAndNameAreCutToWhatTheRecordKeeps)
{
    // A note of 1024 characters keeps at least its first 1020; the bytes
    // behind the stored part of the record never show.
    const std::string note = Repeat("0123456789abcdefghijklmnopqrstuvwxyz", 1024);
    // A name longer than the record's name slot.
    const std::string name = Repeat("a very long entry name ", 300);
    TListItem* pItem = AddEntry(name);
    const Fields f = {"user", "pass", "url", note};
    ShowFields(f);
    ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_CURRENT));
    const char* pszNameSlot = reinterpret_cast<const char*>(m_pDlg->pTresor->pBuffer);
    const size_t nNameLen = strnlen(pszNameSlot, 256);
    EXPECT_LT(nNameLen, 256u);
    EXPECT_EQ(std::string(pszNameSlot, nNameLen), name.substr(0, nNameLen));
    EXPECT_GE(nNameLen, 200u);

    ASSERT_TRUE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_CURRENT));
    const Fields shown = ShownFields();
    EXPECT_EQ(shown.user, "user");
    EXPECT_EQ(shown.password, "pass");
    EXPECT_EQ(shown.url, "url");
    ASSERT_GE(shown.note.size(), 1020u);
    EXPECT_LE(shown.note.size(), 1021u);
    EXPECT_EQ(shown.note, note.substr(0, shown.note.size()));
}

TEST_F(SafeCrypt, FailedWriteIsReportedAndKeepsTheFile)
{
    TListItem* pItem = AddEntry("Shop");
    ShowFields({"first", "one", "", ""});
    ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_CURRENT));
    const std::string before = FileBytes();
    ShowFields({"second", "two", "", ""});
    {
        FileLock lock(m_safePath);
        ASSERT_TRUE(lock.Held());
        ui::Answer answer({"#32770"}, ui::PressId(IDOK));
        EXPECT_FALSE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_CURRENT));
        ASSERT_TRUE(answer.Wait());
        EXPECT_NE(answer.Text().find("TfrmDlgSafe::DoEncCryptItem failed!"), std::string::npos) << answer.Text();
    }
    EXPECT_EQ(FileBytes(), before);
    // The next store that can write keeps the fields shown now.
    ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_CURRENT));
    ShowFields({"", "", "", ""});
    ASSERT_TRUE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_CURRENT));
    EXPECT_EQ(ShownFields(), (Fields{"second", "two", "", ""}));
}

// ---------------------------------------------------------------------------
// Entries without a stored record, damaged texts, a wrong password
// ---------------------------------------------------------------------------

TEST_F(SafeCrypt, EntryNeverStoredShowsEmptyFieldsSilently)
{
    TListItem* pItem = AddEntry("new");
    ShowFields({"left", "over", "from", "before"});
    ui::Answer answer({"#32770"}, ui::PressId(IDOK), 1500);
    // Read like a new entry: empty fields, and nothing that would end an
    // operation around the read.
    EXPECT_TRUE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_CURRENT));
    EXPECT_FALSE(m_pDlg->bCancel);
    EXPECT_EQ(ShownFields(), (Fields{"", "", "", ""}));
    EXPECT_FALSE(answer.Wait(1500));
    EXPECT_FALSE(answer.Answered()) << answer.Text();
    EXPECT_FALSE(m_pDlg->bPasswordFailed);
}

TEST_F(SafeCrypt, StoringAnEntryThatIsGoneChangesNothing)
{
    TListItem* pItem = m_pDlg->lstvBezeichnung->Items()->Add("ghost");
    const std::string before = FileBytes();
    ShowFields({"u", "p", "", ""});
    ui::Answer answer({"#32770"}, ui::PressId(IDOK), 1500);
    EXPECT_TRUE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_CURRENT));
    EXPECT_TRUE(m_pDlg->bCancel);
    EXPECT_EQ(FileBytes(), before);
    EXPECT_FALSE(answer.Wait(1500));
    EXPECT_TRUE(m_pDlg->DoEncCryptItem(nullptr, LS_CRYPT_CURRENT));
    EXPECT_TRUE(m_pDlg->DoDecCryptItem(nullptr, LS_CRYPT_CURRENT));
}

TEST_F(SafeCrypt, ChangedTextIsReportedAndStillShown)
{
    TListItem* pItem = AddEntry("Bank");
    const Fields f = {"user", "secret", "https://bank.example", "note"};
    ShowFields(f);
    ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_CURRENT));
    const std::string tag = TagOf("Bank");
    std::string text = FileText(tag);
    const std::string hash = FileAtt(tag, "hash");
    // One character far behind the fields (inside the note slot's noise).
    ASSERT_GT(text.size(), 2200u);
    text[2200] = text[2200] == 'A' ? 'B' : 'A';
    StoreText("Bank", text, hash);

    ShowFields({"", "", "", ""});
    ui::Answer answer({"#32770"}, ui::PressId(IDOK));
    EXPECT_TRUE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_CURRENT));
    ASSERT_TRUE(answer.Wait());
    EXPECT_NE(answer.Text().find("\"Bank\""), std::string::npos) << answer.Text();
    EXPECT_EQ(ShownFields(), f);
    EXPECT_FALSE(m_pDlg->bPasswordFailed);
}

TEST_F(SafeCrypt, WrongPasswordIsReportedOnceAndShowsNothing)
{
    TListItem* pItem = AddEntry("Mail");
    const Fields f = {"me", "pw", "", ""};
    ShowFields(f);
    ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_CURRENT));
    const size_t nLogBefore = LogLinesWith(DLS_PASSWORDWRONG());

    LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), "not the password");
    ShowFields({"stale", "stale", "stale", "stale"});
    {
        ui::Answer answer({"#32770"}, ui::PressId(IDOK));
        EXPECT_FALSE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_CURRENT));
        ASSERT_TRUE(answer.Wait());
        EXPECT_NE(answer.Text().find(DLS_PASSWORDWRONG()), std::string::npos) << answer.Text();
    }
    EXPECT_TRUE(m_pDlg->bPasswordFailed);
    EXPECT_TRUE(m_pDlg->bCancel);
    EXPECT_EQ(ShownFields(), (Fields{"", "", "", ""}));
    EXPECT_EQ(LogLinesWith(DLS_PASSWORDWRONG()), nLogBefore + 1);
    EXPECT_TRUE(m_pDlg->btnLogFile->Enabled());

    // With the right password the entry shows again; the flag stays set, and
    // a decryption that works reports nothing.
    LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), kPassword);
    ui::Answer none({"#32770"}, ui::PressId(IDOK), 1500);
    EXPECT_TRUE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_CURRENT));
    EXPECT_EQ(ShownFields(), f);
    EXPECT_TRUE(m_pDlg->bPasswordFailed);
    EXPECT_FALSE(none.Wait(1500));
    EXPECT_EQ(LogLinesWith(DLS_PASSWORDWRONG()), nLogBefore + 1);
}

// ---------------------------------------------------------------------------
// Records of other lengths
// ---------------------------------------------------------------------------

TEST_F(SafeCrypt, LegacyRecordIsShownAndStoredAsCurrent)
{
    // A legacy record: name at 0, user name at 256, URL at 448, note at 704.
    // Its user name runs without a terminator into the URL.
    std::string legacy(1728, '\0');
    legacy.replace(0, 11, "legacy name");
    legacy.replace(256, 192, std::string(192, 'u'));
    legacy.replace(448, 18, "http://old.example");
    legacy.replace(704, 14, "old note\r\nline");
    TListItem* pItem = AddEntry("legacy name");
    const std::string text = EncryptRecord(legacy, legacy.size(), LS_CRYPT_LEGACY);
    EXPECT_EQ(Binary(text).size(), 1728u + 4 * 4);
    StoreText("legacy name", text, HashOf(text));

    ShowFields({"stale", "stale", "stale", "stale"});
    ASSERT_TRUE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_LEGACY));
    const Fields expected = {std::string(64, 'u'), "", "http://old.example", "old note\r\nline"};
    EXPECT_EQ(ShownFields(), expected);

    // Stored again, it is a current record.
    ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, LS_CRYPT_LEGACY));
    EXPECT_EQ(Binary(FileText(TagOf("legacy name"))).size(), 1875u);
    ShowFields({"stale", "stale", "stale", "stale"});
    ASSERT_TRUE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_LEGACY));
    EXPECT_EQ(ShownFields(), expected);
}

TEST_F(SafeCrypt, RecordOfAnyOtherLengthIsRefused)
{
    TListItem* pItem = AddEntry("odd");
    for (size_t nLen : {size_t{100}, size_t{1727}, size_t{1729}, size_t{1858}, size_t{1860}, size_t{2400}}) {
        SCOPED_TRACE(nLen);
        std::string record(nLen, '\0');
        if (nLen > 260) record.replace(256, 4, "user");
        const std::string text = EncryptRecord(record, nLen, LS_CRYPT_CURRENT);
        StoreText("odd", text, HashOf(text));
        ShowFields({"stale", "stale", "stale", "stale"});
        ui::Answer answer({"#32770"}, ui::PressId(IDOK));
        EXPECT_FALSE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_CURRENT));
        ASSERT_TRUE(answer.Wait());
        EXPECT_NE(answer.Text().find("TfrmDlgSafe::DoDecCryptItem failed!"), std::string::npos) << answer.Text();
        EXPECT_EQ(ShownFields(), (Fields{"", "", "", ""}));
        EXPECT_FALSE(m_pDlg->bPasswordFailed);
    }
}

TEST_F(SafeCrypt, ElementTextThatIsNoEncodingIsRefused)
{
    TListItem* pItem = AddEntry("junk");
    const std::string text = "this is not an encoded record!";
    StoreText("junk", text, HashOf(text));
    ui::Answer answer({"#32770"}, ui::PressId(IDOK));
    EXPECT_FALSE(m_pDlg->DoDecCryptItem(pItem, LS_CRYPT_CURRENT));
    ASSERT_TRUE(answer.Wait());
    EXPECT_NE(answer.Text().find("TfrmDlgSafe::DoDecCryptItem failed!"), std::string::npos) << answer.Text();
    EXPECT_EQ(ShownFields(), (Fields{"", "", "", ""}));
}

}  // namespace
