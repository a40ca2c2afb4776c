// Entry editing in the safe dialog with real windows and a real safe file:
// the selection moving entries between fields and file, new entries under
// free default names, deleting after a question, renaming in place, and the
// save controls.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "KTXLANG.h"
#include "LSStr.h"
#include "SafeStoreFixture.h"
#include "SafeUnlockFixture.h"
#include "TestSupport.h"
#include "UiDriver.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

constexpr char kPassword[] = "Winter 2025#";
// How long a test waits to be sure no message box comes.
constexpr DWORD kNoBoxMs = 1500;

struct Fields {
    std::string user, password, url, note;
    bool operator==(const Fields& o) const
    {
        return user == o.user && password == o.password && url == o.url && note == o.note;
    }
};

void PrintTo(const Fields& f, std::ostream* os)
{
    *os << "{'" << f.user << "', '" << f.password << "', '" << f.url << "', '" << f.note << "'}";
}

const Fields kEmpty = {"", "", "", ""};

class SafeEdit : public SafeStoreFixture {
protected:
    void SetUp() override
    {
        SafeStoreFixture::SetUp();
        ASSERT_NE(m_pDlg->hCrypt, nullptr);
        ASSERT_TRUE(m_pDlg->bClassInitOK);
        LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), kPassword);
        ASSERT_TRUE(m_pDlg->DoLoadPassSequenz(kPassword));
        NewSafe();
        ShowAndStart();
    }

    HWND List() { return m_pDlg->lstvBezeichnung->Handle(); }

    // An entry stored in the file with these fields and listed, not selected.
    void AddEntry(const std::string& name, const Fields& f)
    {
        ASSERT_TRUE(m_pDlg->DoAddSafe(name.c_str()));
        TListItem* pItem = m_pDlg->lstvBezeichnung->Items()->Add(name);
        ShowFields(f);
        ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, m_pDlg->nCryptMode));
        ShowFields(kEmpty);
    }

    void ShowFields(const Fields& f)
    {
        m_pDlg->editBenutzername->SetTextBuf(f.user.c_str());
        m_pDlg->editPasswort->SetTextBuf(f.password.c_str());
        m_pDlg->editURL->SetTextBuf(f.url.c_str());
        m_pDlg->memoSafe->SetTextBuf(f.note.c_str());
    }

    Fields Shown()
    {
        return {EditText(m_pDlg->editBenutzername), EditText(m_pDlg->editPasswort), EditText(m_pDlg->editURL),
                EditText(m_pDlg->memoSafe)};
    }

    int IndexOf(const std::string& name)
    {
        TListItem* pItem = m_pDlg->lstvBezeichnung->FindCaption(0, name);
        return pItem ? pItem->Index() : -1;
    }

    // Selects an entry as a user clicking it does.
    void Select(const std::string& name)
    {
        const int nIndex = IndexOf(name);
        ASSERT_GE(nIndex, 0) << name;
        ASSERT_TRUE(ui::SelectListItem(List(), nIndex));
        ASSERT_EQ(ui::ListSelected(List()), nIndex);
    }

    // What the file on disk holds for an entry: the document is read again
    // from the file and the entry decrypted into the fields.
    Fields Stored(const std::string& name)
    {
        EXPECT_TRUE(m_pDlg->pXml->Init(m_safePath.c_str()));
        TListItem* pItem = m_pDlg->lstvBezeichnung->FindCaption(0, name);
        EXPECT_NE(pItem, nullptr) << name;
        if (!pItem) return {};
        EXPECT_TRUE(m_pDlg->DoDecCryptItem(pItem, m_pDlg->nCryptMode));
        return Shown();
    }

    // The "name" attributes of the file's entries, in document order.
    std::vector<std::string> FileNames()
    {
        std::vector<std::string> names;
        for (const auto& child : FileChildren()) names.push_back(child.second);
        return names;
    }

    bool FieldsEnabled()
    {
        return m_pDlg->editBenutzername->Enabled() && m_pDlg->editPasswort->Enabled() &&
               m_pDlg->editURL->Enabled() && m_pDlg->memoSafe->Enabled() && m_pDlg->btnEintragLoeschen->Enabled();
    }
};

const Fields kAlpha = {"alice", "a-secret", "https://a.example", "note a"};
const Fields kBeta = {"bob", "b-secret", "https://b.example", "line 1\r\nline 2"};

// ---------------------------------------------------------------------------
// Selection
// ---------------------------------------------------------------------------

TEST_F(SafeEdit, SelectionStoresTheEntryLeftAndShowsTheNext)
{
    AddEntry("Alpha", kAlpha);
    AddEntry("Beta", kBeta);
    EXPECT_FALSE(FieldsEnabled());

    Select("Alpha");
    EXPECT_EQ(Shown(), kAlpha);
    EXPECT_TRUE(FieldsEnabled());

    ASSERT_TRUE(ui::SetText(m_pDlg->editBenutzername->Handle(), "alice.changed"));
    ASSERT_TRUE(ui::SetText(m_pDlg->editPasswort->Handle(), "new secret"));
    Select("Beta");
    EXPECT_EQ(Shown(), kBeta);
    EXPECT_TRUE(FieldsEnabled());

    // The selection goes away: Beta is stored and its plain copy wiped.
    ASSERT_TRUE(ui::SetText(m_pDlg->editURL->Handle(), "https://b2.example"));
    m_pDlg->lstvBezeichnung->SetSelected(nullptr);
    EXPECT_EQ(Shown(), kEmpty);
    EXPECT_FALSE(FieldsEnabled());

    EXPECT_EQ(Stored("Alpha"), (Fields{"alice.changed", "new secret", kAlpha.url, kAlpha.note}));
    EXPECT_EQ(Stored("Beta"), (Fields{kBeta.user, kBeta.password, "https://b2.example", kBeta.note}));
}

TEST_F(SafeEdit, AnEntryThatCannotBeReadStaysAsItIsUntilTheUserTypesIntoIt)
{
    struct Case {
        const char* pszName;
        std::function<void(std::string&)> damage;
        bool bShowsFields;   // the damaged entry still decrypts
    };
    const Case cases[] = {
        {"a changed character", [](std::string& t) { t[1000] = t[1000] == 'A' ? 'B' : 'A'; }, true},
        {"text that is not Base64", [](std::string& t) { t = "%%%% not text"; }, false},
        {"a cut record", [](std::string& t) { t.resize(400); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_pDlg->lstvBezeichnung->SetSelected(nullptr);
        m_pDlg->lstvBezeichnung->Items()->Clear();
        NewSafe();
        AddEntry("Alpha", kAlpha);
        AddEntry("Beta", kBeta);
        // Changed outside the program (the hash stays the old one).
        char szPath[LS_XMLPATH_SIZE] = {};
        ASSERT_TRUE(m_pDlg->GetTagByAttr("Alpha", szPath));
        std::string text = FileText(szPath);
        c.damage(text);
        ASSERT_TRUE(m_pDlg->pXml->PPPS(szPath, text.c_str()));
        ASSERT_TRUE(m_pDlg->pXml->Write(m_safePath.c_str(), nullptr));
        const std::string before = FileBytes();

        // Looked at, left, looked at again and the dialog closed: the file
        // keeps the damaged entry as it is, and its other entry.
        {
            BoxCloser boxes;
            Select("Alpha");
            if (!c.bShowsFields) {
                EXPECT_EQ(Shown(), kEmpty);
            }
            Select("Beta");
            Select("Alpha");
            m_pDlg->Close();
            EXPECT_GE(boxes.Stop(), 2) << "each reading is told";
            EXPECT_NE(boxes.Texts().find("Alpha"), std::string::npos) << boxes.Texts();
        }
        EXPECT_EQ(FileBytes(), before);
        ShowAndStart();

        // Typed over deliberately, it is stored again, whole and sound.
        {
            BoxCloser boxes;
            Select("Alpha");
            ASSERT_TRUE(ui::SetText(m_pDlg->editBenutzername->Handle(), "typed over"));
            ASSERT_TRUE(ui::SetText(m_pDlg->editPasswort->Handle(), "new"));
            Select("Beta");
            boxes.Stop();
        }
        const Fields typed = Stored("Alpha");
        EXPECT_EQ(typed.user, "typed over");
        EXPECT_EQ(typed.password, "new");
        EXPECT_EQ(Stored("Beta"), kBeta);
    }
}

TEST_F(SafeEdit, FailedWriteBackKeepsTheTypedFields)
{
    AddEntry("Alpha", kAlpha);
    Select("Alpha");
    ASSERT_TRUE(ui::SetText(m_pDlg->editPasswort->Handle(), "typed, not stored"));
    const std::string before = FileBytes();
    {
        FileLock lock(m_safePath);
        ASSERT_TRUE(lock.Held());
        ui::Answer answer({"#32770"}, ui::PressId(IDOK));
        m_pDlg->lstvBezeichnung->SetSelected(nullptr);
        EXPECT_TRUE(answer.Wait()) << "the failed store is shown";
    }
    EXPECT_EQ(Shown().password, "typed, not stored");
    EXPECT_EQ(FileBytes(), before);
}

TEST_F(SafeEdit, ANoteTypedToTheFieldsLimitComesBackWhole)
{
    AddEntry("Alpha", kAlpha);
    Select("Alpha");
    std::string note;
    while (note.size() < 1030) note += "0123456789abcdefghijklmnopqrstuvwxyz";
    note.resize(1030);
    ASSERT_TRUE(ui::Type(m_pDlg->memoSafe->Handle(), note));
    const std::string typed = Shown().note;
    EXPECT_EQ(typed, note.substr(0, TfrmDlgSafe::MAX_NOTE)) << "the field takes what the record keeps";
    m_pDlg->lstvBezeichnung->SetSelected(nullptr);
    EXPECT_EQ(Stored("Alpha").note, typed);
}

// ---------------------------------------------------------------------------
// New entry
// ---------------------------------------------------------------------------

TEST_F(SafeEdit, NewEntryTakesTheFirstFreeDefaultName)
{
    const std::string t = DLS_TXT_NEW_ENTRY();
    ASSERT_FALSE(t.empty());
    std::string lower = t;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    struct Case {
        std::vector<std::string> existing;
        std::string expected;
    };
    const Case cases[] = {
        {{}, t},
        {{t}, t + "(1)"},
        {{t, t + "(1)"}, t + "(2)"},
        {{t + "(1)"}, t},
        {{lower}, t + "(1)"},
        {{t + "(1)", t, "Other"}, t + "(2)"},
        {{t + "(10)", t + " (1)"}, t},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected + " after " + std::to_string(c.existing.size()) + " entries");
        m_pDlg->lstvBezeichnung->SetSelected(nullptr);
        m_pDlg->lstvBezeichnung->Items()->Clear();
        NewSafe();
        for (const std::string& name : c.existing) AddEntry(name, kEmpty);

        ASSERT_TRUE(m_pDlg->DoAddNewItem());
        TListItem* pSelected = m_pDlg->lstvBezeichnung->Selected();
        ASSERT_NE(pSelected, nullptr);
        EXPECT_EQ(pSelected->Caption(), c.expected);
        EXPECT_EQ(m_pDlg->lstvBezeichnung->Items()->Count(), static_cast<int>(c.existing.size()) + 1);
        std::vector<std::string> names = FileNames();
        ASSERT_EQ(names.size(), c.existing.size() + 1);
        EXPECT_EQ(names.back(), c.expected);
        EXPECT_EQ(Shown(), kEmpty);
        EXPECT_TRUE(FieldsEnabled());
        EXPECT_FALSE(m_pDlg->bBulkUpdate);
    }
}

TEST_F(SafeEdit, NewEntryStoresTheSelectedEntryFirst)
{
    AddEntry("Alpha", kAlpha);
    Select("Alpha");
    ASSERT_TRUE(ui::SetText(m_pDlg->editBenutzername->Handle(), "edited before adding"));

    ASSERT_TRUE(ui::Click(m_pDlg->btnNeuerEintrag->Handle()));
    ui::Pump(100);
    TListItem* pSelected = m_pDlg->lstvBezeichnung->Selected();
    ASSERT_NE(pSelected, nullptr);
    EXPECT_EQ(pSelected->Caption(), DLS_TXT_NEW_ENTRY());
    EXPECT_EQ(Shown(), kEmpty);

    // Leaving the new entry stores it empty and the edited one kept its edit.
    m_pDlg->lstvBezeichnung->SetSelected(nullptr);
    EXPECT_EQ(Stored("Alpha"), (Fields{"edited before adding", kAlpha.password, kAlpha.url, kAlpha.note}));
    EXPECT_EQ(Stored(DLS_TXT_NEW_ENTRY()), kEmpty);
}

TEST_F(SafeEdit, FailedNewEntryLeavesListAndNeighbourIntact)
{
    AddEntry("Alpha", kAlpha);
    Select("Alpha");
    ASSERT_TRUE(ui::SetText(m_pDlg->editURL->Handle(), "https://typed.example"));
    const std::string before = FileBytes();
    {
        FileLock lock(m_safePath);
        ASSERT_TRUE(lock.Held());
        // Storing Alpha and writing the new entry both fail and are shown.
        BoxCloser closer;
        EXPECT_FALSE(m_pDlg->DoAddNewItem());
        EXPECT_EQ(closer.Stop(), 2) << closer.Texts();
        EXPECT_NE(closer.Texts().find("TfrmDlgSafe::DoAddNewItem failed!"), std::string::npos) << closer.Texts();
    }
    EXPECT_EQ(Captions(), std::vector<std::string>{"Alpha"});
    EXPECT_EQ(m_pDlg->lstvBezeichnung->Selected(), nullptr);
    EXPECT_EQ(FileBytes(), before);
    // The next change that is written carries no trace of the failed entry.
    ASSERT_TRUE(m_pDlg->DoAddNewItem());
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"Alpha", DLS_TXT_NEW_ENTRY()}));
    EXPECT_EQ(Stored("Alpha"), kAlpha);
}

TEST_F(SafeEdit, FailedRenameAndDeleteLeaveListDocumentAndFileAgreeing)
{
    AddEntry("Alpha", kAlpha);
    AddEntry("Beta", kBeta);
    const std::string before = FileBytes();
    {
        FileLock lock(m_safePath);
        ASSERT_TRUE(lock.Held());
        // A rename in place that cannot be written keeps the old name, told once.
        ASSERT_TRUE(ui::BeginListEdit(List(), IndexOf("Alpha")));
        {
            BoxCloser closer;
            ASSERT_TRUE(ui::FinishListEdit(List(), "Renamed"));
            ui::Pump(200);
            EXPECT_EQ(closer.Stop(), 1) << closer.Texts();
        }
        // A deletion that cannot be written keeps the entry: the question,
        // then the failure, once.
        Select("Beta");
        {
            BoxCloser closer;
            EXPECT_FALSE(m_pDlg->DoRmvItem(m_pDlg->lstvBezeichnung->Selected()));
            EXPECT_EQ(closer.Stop(), 2) << closer.Texts();
        }
        EXPECT_EQ(Captions(), (std::vector<std::string>{"Alpha", "Beta"}));
    }
    EXPECT_EQ(FileBytes(), before);
    // A password typed now into the entry that kept its name is stored there,
    // and the next write carries neither the rename nor the deletion.
    Select("Alpha");
    ASSERT_TRUE(ui::SetText(m_pDlg->editPasswort->Handle(), "typed after the failures"));
    Select("Beta");
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_EQ(Stored("Alpha"), (Fields{kAlpha.user, "typed after the failures", kAlpha.url, kAlpha.note}));
    EXPECT_EQ(Stored("Beta"), kBeta);
}

// ---------------------------------------------------------------------------
// Delete
// ---------------------------------------------------------------------------

TEST_F(SafeEdit, DeleteAsksAndRemovesOnlyWhenAgreed)
{
    const std::string odd = "100%s off %d";
    AddEntry("Alpha", kAlpha);
    AddEntry(odd, kBeta);

    // Nothing selected: no question, nothing changes.
    const std::string before = FileBytes();
    {
        ui::Answer none({"#32770"}, ui::PressId(IDNO), kNoBoxMs);
        m_pDlg->btnEintragLoeschenClick(nullptr);
        none.Wait(kNoBoxMs);
        EXPECT_FALSE(none.Answered());
    }
    EXPECT_EQ(FileBytes(), before);

    // No: list and file unchanged; the question names the entry as it is.
    Select(odd);
    {
        ui::Answer no({"#32770"}, ui::PressId(IDNO));
        m_pDlg->btnEintragLoeschenClick(nullptr);
        ASSERT_TRUE(no.Wait());
        std::string expected = DLS_TXT_FRAGE_DEL();
        expected.replace(expected.find("%s"), 2, odd);
        EXPECT_NE(no.Text().find(expected), std::string::npos) << no.Text();
    }
    EXPECT_EQ(Captions().size(), 2u);
    EXPECT_EQ(FileBytes(), before);

    // Yes: gone from list and file, the other entry untouched.
    {
        ui::Answer yes({"#32770"}, ui::PressId(IDYES));
        m_pDlg->pumEintragLoeschenClick(nullptr);
        ASSERT_TRUE(yes.Wait());
    }
    EXPECT_EQ(Captions(), std::vector<std::string>{"Alpha"});
    EXPECT_EQ(FileNames(), std::vector<std::string>{"Alpha"});
    EXPECT_EQ(Shown(), kEmpty);
    EXPECT_EQ(Stored("Alpha"), kAlpha);
}

// ---------------------------------------------------------------------------
// Rename in place
// ---------------------------------------------------------------------------

TEST_F(SafeEdit, RenameInPlace)
{
    struct Case {
        const char* typed;
        bool notice;           // the name exists
        const char* expected;  // the name of the first entry afterwards
    };
    const Case cases[] = {
        {"beta", true, "Alpha"},     // another entry's name in other letter case
        {"BETA", true, "Alpha"},
        {"ALPHA", false, "ALPHA"},   // its own name in other letter case
        {"Gamma", false, "Gamma"},
        {"", false, "Gamma"},        // an empty name is refused by the file
        {"Gamma", false, "Gamma"},   // unchanged
    };
    AddEntry("Alpha", kAlpha);
    AddEntry("Beta", kBeta);
    std::string current = "Alpha";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("typed '") + c.typed + "'");
        const std::string before = FileBytes();
        const int nIndex = IndexOf(current);
        ASSERT_GE(nIndex, 0);
        ASSERT_TRUE(ui::BeginListEdit(List(), nIndex));
        {
            ui::Answer notice({"#32770"}, ui::PressId(IDOK), c.notice ? ui::kDefaultTimeoutMs : kNoBoxMs);
            ASSERT_TRUE(ui::FinishListEdit(List(), c.typed));
            notice.Wait(c.notice ? ui::kDefaultTimeoutMs : kNoBoxMs);
            EXPECT_EQ(notice.Answered(), c.notice);
            if (c.notice) {
                EXPECT_NE(notice.Text().find(DLS_HINWEIS_EXIST()), std::string::npos) << notice.Text();
            }
        }
        ui::Pump(50);
        const std::vector<std::string> captions = Captions();
        EXPECT_NE(std::find(captions.begin(), captions.end(), c.expected), captions.end());
        EXPECT_NE(std::find(captions.begin(), captions.end(), "Beta"), captions.end());
        EXPECT_EQ(captions.size(), 2u);
        EXPECT_EQ(FileNames(), (std::vector<std::string>{c.expected, "Beta"}));
        if (current == c.expected) {
            EXPECT_EQ(FileBytes(), before);
        }
        current = c.expected;
    }
    EXPECT_EQ(Stored(current), kAlpha);
}

TEST_F(SafeEdit, RenameCommandStartsTheEditorOnTheSelection)
{
    AddEntry("Alpha", kAlpha);
    m_pDlg->pumEintragUmbenennenClick(nullptr);
    EXPECT_FALSE(m_pDlg->lstvBezeichnung->IsEditing());
    Select("Alpha");
    m_pDlg->pumEintragUmbenennenClick(nullptr);
    EXPECT_TRUE(m_pDlg->lstvBezeichnung->IsEditing());
    ASSERT_TRUE(ui::FinishListEdit(List(), "Renamed"));
    ui::Pump(50);
    EXPECT_EQ(Captions(), std::vector<std::string>{"Renamed"});
    EXPECT_EQ(FileNames(), std::vector<std::string>{"Renamed"});
}

// ---------------------------------------------------------------------------
// Save controls
// ---------------------------------------------------------------------------

TEST_F(SafeEdit, FieldChangeEnablesSaveOnlyWithASelection)
{
    AddEntry("Alpha", kAlpha);
    const HWND fields[] = {m_pDlg->editBenutzername->Handle(), m_pDlg->editPasswort->Handle(),
                           m_pDlg->editURL->Handle(), m_pDlg->memoSafe->Handle()};
    for (HWND hField : fields) {
        SCOPED_TRACE(ui::ClassOf(hField));
        m_pDlg->lstvBezeichnung->SetSelected(nullptr);
        m_pDlg->btnSave->SetEnabled(true);
        m_pDlg->pumSpeichern->SetEnabled(true);
        ASSERT_TRUE(ui::SetText(hField, "x"));
        EXPECT_FALSE(m_pDlg->btnSave->Enabled());
        EXPECT_FALSE(m_pDlg->pumSpeichern->Enabled());

        Select("Alpha");
        m_pDlg->btnSave->SetEnabled(false);
        m_pDlg->pumSpeichern->SetEnabled(false);
        ASSERT_TRUE(ui::SetText(hField, "changed"));
        EXPECT_TRUE(m_pDlg->btnSave->Enabled());
        EXPECT_TRUE(m_pDlg->pumSpeichern->Enabled());
    }

    // Save writes the selected entry and disables both.
    m_pDlg->lstvBezeichnung->SetSelected(nullptr);
    Select("Alpha");
    ASSERT_TRUE(ui::SetText(m_pDlg->editURL->Handle(), "https://saved.example"));
    ASSERT_TRUE(m_pDlg->btnSave->Enabled());
    m_pDlg->btnSaveClick(nullptr);
    EXPECT_FALSE(m_pDlg->btnSave->Enabled());
    EXPECT_FALSE(m_pDlg->pumSpeichern->Enabled());
    EXPECT_EQ(Stored("Alpha").url, "https://saved.example");
}

}  // namespace
