// Nothing the user keeps is lost: safes with entries opened and closed the
// way the program does it, with damaged entries, entries never stored, a
// safe file taken away while it is open, every way of closing, and the end of
// the user's session.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"
#include "SafeUnlockFixture.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

constexpr char kSeparator[] = "****************************************";
constexpr DWORD kProtected = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

const EntryFields kAlpha = {"alice", "a-secret", "https://a.example", "note a"};
const EntryFields kBeta = {"bob", "b-secret", "https://b.example", "line 1\r\nline 2"};
const EntryFields kNone = {"", "", "", ""};

class SafeKeep : public SafeUnlockFixture {
protected:
    void SetUp() override
    {
        SafeUnlockFixture::SetUp();
        ChooseCertificate();
    }

    // Opens the safe, reads the shown fields, and closes with the button.
    EntryFields OpenAndRead(const std::string& select = std::string())
    {
        Recreate();
        EntryFields shown;
        bool bCancel = false;
        EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
            if (!select.empty()) {
                const int n = ui::ListCount(m_pDlg->lstvBezeichnung->Handle());
                for (int i = 0; i < n; ++i)
                    if (ui::ListItemText(m_pDlg->lstvBezeichnung->Handle(), i) == select)
                        ui::SelectListItem(m_pDlg->lstvBezeichnung->Handle(), i);
            }
            shown = ShownFields();
            return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
        }));
        EXPECT_TRUE(m_bShown);
        return shown;
    }
};

// ---------------------------------------------------------------------------
// Opening a safe with entries
// ---------------------------------------------------------------------------

TEST_F(SafeKeep, OpeningShowsTheTopEntryAndClosingUnchangedWritesNothing)
{
    WriteSafe({{"Beta", kBeta}, {"Alpha", kAlpha}});
    const std::string before = SafeBytes();
    EXPECT_EQ(OpenAndRead(), kAlpha) << "the list's top entry is shown";
    EXPECT_EQ(SafeBytes(), before) << "looking at an entry does not store it";
    EXPECT_EQ(OpenAndRead("Beta"), kBeta);
    EXPECT_EQ(SafeBytes(), before) << "nor does selecting another one";
    EXPECT_TRUE(SealHolds());
}

TEST_F(SafeKeep, AKeyFilePasswordThatDoesNotFitIsToldOnceAndNothingIsShownOrSealed)
{
    WriteSafe({{"Alpha", kAlpha}, {"Beta", kBeta}}, "not the key file's password");
    const std::string before = SafeBytes();
    BoxCloser boxes;
    bool bCancel = true;
    Open(&bCancel, NeverShown());
    EXPECT_EQ(boxes.Stop(), 1) << boxes.Texts();
    EXPECT_NE(boxes.Texts().find(DLS_PASSWORDWRONG()), std::string::npos) << boxes.Texts();
    EXPECT_FALSE(m_bShown);
    EXPECT_TRUE(m_pDlg->bPasswordFailed);
    EXPECT_EQ(SafeBytes(), before);
    const std::string log = Log();
    const size_t nFailed = log.find(Line(DLS_LOG_OPENSAFEFAILED()));
    ASSERT_NE(nFailed, std::string::npos) << log;
    EXPECT_EQ(log.find(kSeparator, nFailed), std::string::npos) << "no seal with an unusable password\n" << log;
}

// ---------------------------------------------------------------------------
// What the user typed is kept, whichever way the dialog closes
// ---------------------------------------------------------------------------

TEST_F(SafeKeep, TypedFieldsAreKeptByEveryWayOfClosing)
{
    struct Case {
        const char* pszName;
        std::function<bool(HWND)> close;
    };
    const Case cases[] = {
        {"close button", [](HWND h) { return ui::PressButton(h, DLS_BTN_SCHLIESSEN()); }},
        {"window's close box", [](HWND h) { return PostMessageA(h, WM_SYSCOMMAND, SC_CLOSE, 0) != 0; }},
        {"popup menu's cancel",
         [this](HWND) { return ui::ChooseContextMenuItem(m_pDlg->lstvBezeichnung->Handle(), DLS_BTN_CANCEL()); }},
    };
    WriteSafe({{"Alpha", kAlpha}, {"Beta", kBeta}});
    int nRun = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        const EntryFields typed = {"user " + std::to_string(nRun), "password " + std::to_string(nRun),
                                   "https://" + std::to_string(nRun) + ".example", "note\r\nrun " + std::to_string(nRun)};
        ++nRun;
        Recreate();
        bool bCancel = false;
        Open(&bCancel, [&](HWND hDlg) { return TypeFields(typed) && c.close(hDlg); });
        EXPECT_TRUE(m_bShown);
        EXPECT_EQ(GetFileAttributesA(m_safe.c_str()) & kProtected, kProtected);
        EXPECT_EQ(OpenAndRead(), typed);
        EXPECT_EQ(OpenAndRead("Beta"), kBeta);
    }
}

// ---------------------------------------------------------------------------
// Entries that cannot be read stay as they are
// ---------------------------------------------------------------------------

TEST_F(SafeKeep, ADamagedTopEntrySurvivesOpeningAndClosingByteForByte)
{
    // The top entry is read while the safe is opened; a notice comes, and
    // nothing is written back when the dialog closes.
    struct Case {
        const char* pszName;
        std::function<void(std::string&, std::string&)> damage;
        bool bShowsFields;   // the damaged entry still decrypts
    };
    const Case cases[] = {
        {"a changed character", [](std::string& t, std::string&) { t[1000] = t[1000] == 'A' ? 'B' : 'A'; }, true},
        {"text that is not Base64", [](std::string& t, std::string&) { t = "%%%% not text"; }, false},
        {"no hash", [](std::string&, std::string& h) { h.clear(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        WriteSafe({{"Alpha", kAlpha}, {"Beta", kBeta}});
        Unprotect();
        {
            TXmlAPI xml(m_pOwner);
            ASSERT_TRUE(xml.Init(m_safe.c_str()));
            char szText[LS_TEXT_SIZE] = {}, szHash[LS_TEXT_SIZE] = {};
            ASSERT_TRUE(xml.GPPS("LSVER500.n0000", szText, sizeof(szText)));
            ASSERT_TRUE(xml.GetAtt("LSVER500.n0000", "hash", szHash, sizeof(szHash)));
            std::string text = szText, hash = szHash;
            c.damage(text, hash);
            ASSERT_TRUE(xml.PPPS("LSVER500.n0000", text.c_str()));
            ASSERT_TRUE(xml.PutAtt("LSVER500.n0000", "hash", hash.c_str()));
            ASSERT_TRUE(xml.Write(m_safe.c_str(), nullptr));
        }
        const std::string before = SafeBytes();
        BoxCloser boxes;
        Recreate();
        bool bCancel = false;
        EntryFields shown;
        Open(&bCancel, [&](HWND hDlg) {
            shown = ShownFields();
            return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
        });
        EXPECT_GE(boxes.Stop(), 1) << "the damage is told";
        EXPECT_TRUE(m_bShown);
        if (c.bShowsFields) {
            EXPECT_NE(boxes.Texts().find("Alpha"), std::string::npos) << boxes.Texts();
            EXPECT_NE(Log().find("Alpha"), std::string::npos) << "the log keeps the finding";
        } else {
            EXPECT_EQ(shown, kNone);
        }
        EXPECT_EQ(SafeBytes(), before) << "the damaged entry is kept as it is";
        Unprotect();
        DeleteFileA(m_safe.c_str());
        Recreate();
    }
}

TEST_F(SafeKeep, AnEntryWithoutARecordOpensEmptyAndTakesWhatIsTyped)
{
    WriteSafe({{"Beta", kBeta}});
    // An entry added by a run that ended before its first store.
    Unprotect();
    {
        TXmlAPI xml(m_pOwner);
        ASSERT_TRUE(xml.Init(m_safe.c_str()));
        ASSERT_TRUE(xml.PPPS("LSVER500.n0001", ""));
        ASSERT_TRUE(xml.PutAtt("LSVER500.n0001", "name", "Alpha"));
        ASSERT_TRUE(xml.Write(m_safe.c_str(), nullptr));
    }
    const std::string before = SafeBytes();
    {
        BoxCloser boxes;
        EXPECT_EQ(OpenAndRead(), kNone);
        EXPECT_EQ(boxes.Stop(), 0) << boxes.Texts();
    }
    EXPECT_EQ(SafeBytes(), before);

    Recreate();
    bool bCancel = false;
    Open(&bCancel, [&](HWND hDlg) { return TypeFields(kAlpha) && ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN()); });
    EXPECT_EQ(OpenAndRead(), kAlpha);
}

// ---------------------------------------------------------------------------
// The document in memory is what counts while the safe is open
// ---------------------------------------------------------------------------

TEST_F(SafeKeep, AnEditSurvivesTheSafeFileBeingRemovedOrEmptiedWhileOpen)
{
    struct Case {
        const char* pszName;
        std::function<bool(const std::string&)> takeAway;
    };
    const Case cases[] = {
        {"removed", [](const std::string& f) { return DeleteFileA(f.c_str()) != FALSE; }},
        {"emptied", [](const std::string& f) { return ktxtest::WriteFileBytes(f, ""); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        WriteSafe({{"Alpha", kAlpha}, {"Beta", kBeta}});
        const EntryFields edited = {"alice", "changed while gone", kAlpha.url, kAlpha.note};
        Recreate();
        bool bCancel = false;
        EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
            return TypeFields(edited) && c.takeAway(m_safe) && ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
        }));
        EXPECT_EQ(GetFileAttributesA(m_safe.c_str()) & kProtected, kProtected);
        EXPECT_EQ(OpenAndRead(), edited);
        EXPECT_EQ(OpenAndRead("Beta"), kBeta) << "the other entries are written again too";
        Unprotect();
        DeleteFileA(m_safe.c_str());
        Recreate();
    }
}

// ---------------------------------------------------------------------------
// The end of the user's session
// ---------------------------------------------------------------------------

TEST_F(SafeKeep, LogoffStoresTheEntryProtectsTheFileAndSealsTheLog)
{
    WriteSafe({{"Alpha", kAlpha}});
    const EntryFields edited = {"alice", kAlpha.password, kAlpha.url, "typed just before logoff"};
    DWORD dwAfterQuery = 0, dwAfterEnd = 0;
    bool bSealedAtQuery = true, bSealedAtEnd = false;
    LRESULT nQuery = 0;
    bool bCancel = false;
    EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
        if (!TypeFields(edited)) return false;
        // Asked whether the session may end: nothing is done yet.
        nQuery = SendMessageA(hDlg, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        dwAfterQuery = GetFileAttributesA(m_safe.c_str());
        bSealedAtQuery = Log().find(kSeparator) != std::string::npos;
        // It ends: everything is done before the message returns.
        SendMessageA(hDlg, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        dwAfterEnd = GetFileAttributesA(m_safe.c_str());
        bSealedAtEnd = Log().find(kSeparator) != std::string::npos && SealHolds();
        return true;
    }));
    EXPECT_NE(nQuery, 0) << "the session may end";
    EXPECT_EQ(dwAfterQuery & kProtected, 0u);
    EXPECT_FALSE(bSealedAtQuery);
    EXPECT_EQ(dwAfterEnd & kProtected, kProtected);
    EXPECT_TRUE(bSealedAtEnd);
    EXPECT_FALSE(m_pDlg->Visible());
    const std::string log = Log();
    EXPECT_EQ(log.find(Line(DLS_LOG_CLOSESAFE())), log.rfind(Line(DLS_LOG_CLOSESAFE()))) << "closed once\n" << log;
    EXPECT_EQ(OpenAndRead(), edited);
}

// ---------------------------------------------------------------------------
// Backups
// ---------------------------------------------------------------------------

TEST_F(SafeKeep, ASafeFileDamagedAfterARunComesBackWithThatRunsEditsAndTheUserIsTold)
{
    WriteSafe({{"Alpha", kAlpha}});
    const EntryFields edited = {"alice", kAlpha.password, kAlpha.url, "edited in the last run"};
    Recreate();
    bool bCancel = false;
    Open(&bCancel, [&](HWND hDlg) { return TypeFields(edited) && ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN()); });
    // Between two runs the file is cut short.
    const std::string whole = SafeBytes();
    const std::string damaged = whole.substr(0, whole.size() / 2);
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_safe, damaged));
    ktxtest::ReadFileBytes(m_safe);

    BoxCloser boxes;
    EXPECT_EQ(OpenAndRead(), edited) << "the backup holds the last run's state";
    EXPECT_EQ(boxes.Stop(), 1) << boxes.Texts();
    EXPECT_NE(boxes.Texts().find(m_safe), std::string::npos) << "the notice names the file\n" << boxes.Texts();
    const std::string log = Log();
    EXPECT_NE(log.find(m_safe), std::string::npos) << "the log keeps the restore\n" << log;
    // The damaged file was kept, beside the safe or among its backups.
    bool bKept = false;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((m_dir.Path() + "\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            const std::string path = m_dir.File(fd.cFileName);
            if (path != m_safe && !(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                bKept = bKept || ktxtest::ReadFileBytes(path) == damaged;
        } while (FindNextFileA(hFind, &fd));
        FindClose(hFind);
    }
    EXPECT_TRUE(bKept || boxes.Texts().find("Backup") != std::string::npos) << boxes.Texts();
}

TEST_F(SafeKeep, AnOldestGenerationSafeIsRestoredBeforeItsVersionDecidesHowItOpens)
{
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, m_safe.c_str()));
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_safe, "<?xml version=\"1.0\"?>\r\n<LSVER300/>\r\n"));
    {
        ui::Answer password({"TfrmInputPassword"}, ui::TypeAndPress("typed secret", DLS_DLG_BTN_OK()));
        bool bCancel = false;
        ASSERT_TRUE(Open(&bCancel, PressClose()));
        ASSERT_TRUE(password.Wait());
    }
    // Damaged between two runs: only its backup still says which kind of
    // safe it is, so the typed password must be asked for again.
    Unprotect();
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_safe, "<?xml version=\"1.0\"?>\r\n<LSVER3"));
    Recreate();
    BoxCloser boxes;
    ui::Answer password({"TfrmInputPassword"}, ui::TypeAndPress("typed secret", DLS_DLG_BTN_OK()));
    bool bCancel = false;
    EXPECT_TRUE(Open(&bCancel, PressClose()));
    EXPECT_TRUE(password.Wait()) << "the restored file's version asked for the typed password";
    EXPECT_TRUE(m_bShown);
    EXPECT_EQ(m_pDlg->nCryptMode, LS_CRYPT_LEGACY);
    EXPECT_EQ(boxes.Stop(), 1) << boxes.Texts();
    EXPECT_NE(boxes.Texts().find(m_safe), std::string::npos) << boxes.Texts();
}

// ---------------------------------------------------------------------------
// The safe log
// ---------------------------------------------------------------------------

TEST_F(SafeKeep, ASafeLogChangedSinceItsSealIsToldOnceAtOpening)
{
    WriteSafe({{"Alpha", kAlpha}});
    EXPECT_EQ(OpenAndRead(), kAlpha);   // a run that seals the log
    // Someone edits an earlier line of the log.
    std::string log = ktxtest::ReadFileBytes(m_pDlg->szLogFile);
    ASSERT_FALSE(log.empty());
    log[0] = log[0] == 'X' ? 'Y' : 'X';
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_pDlg->szLogFile, log));

    char szNotice[LS_TEXT_SIZE] = {};
    {
        Recreate();
        LSStrFormat(szNotice, sizeof(szNotice), DLS_TXT_SAFELOG_CHANGED(), m_pDlg->szLogFile);
        BoxCloser boxes;
        bool bCancel = false;
        Open(&bCancel, PressClose());
        EXPECT_EQ(boxes.Stop(), 1) << boxes.Texts();
        EXPECT_NE(boxes.Texts().find(szNotice), std::string::npos) << boxes.Texts();
        EXPECT_TRUE(m_bShown) << "the safe opens all the same";
    }
    {
        BoxCloser boxes;
        EXPECT_EQ(OpenAndRead(), kAlpha);
        EXPECT_EQ(boxes.Stop(), 0) << "told once\n" << boxes.Texts();
    }
}

}  // namespace
