// A failure the user meets while opening or working in the safe is told first
// in the user's words: what happened, to which file, and what the user can do.
// The fixed failure text follows, and what was recorded stays under the
// details. One table over the failures, each run the way the program runs
// it, with the box read as the user sees it and every file checked afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"
#include "SafeStoreFixture.h"
#include "SafeUnlockFixture.h"
#include "TestSupport.h"
#include "ToolsFixture.h"
#include "UiDriver.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

const EntryFields kAlpha = {"alice", "a-secret", "https://a.example", "note a"};
constexpr char kAbsent[] = "<no file>";

// A message box as the user saw it: its message, and the text under its
// details heading.
struct SeenBox {
    std::string text;
    std::string details;
};

// Answers every message box that shows up, as the user confirms it, and
// keeps what each one showed.
class BoxReader {
public:
    BoxReader() : m_thread([this] { Run(); }) {}
    ~BoxReader() { Stop(); }
    BoxReader(const BoxReader&) = delete;
    BoxReader& operator=(const BoxReader&) = delete;

    std::vector<SeenBox> Stop()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        return Seen();
    }
    std::vector<SeenBox> Seen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen.size();
    }

private:
    void Run()
    {
        while (!m_stop) {
            HWND hBox = ui::FindTopWindow({"#32770"});
            if (hBox && GetDlgItem(hBox, IDOK)) {
                Sleep(50);
                // The message is the first static with a text (the icon has
                // none); the details are the read-only field under the heading.
                SeenBox seen;
                for (HWND h : ui::Controls(hBox)) {
                    const std::string cls = ui::ClassOf(h);
                    if (lstrcmpiA(cls.c_str(), "Static") == 0 && seen.text.empty()) seen.text = ui::TextOf(h);
                    if (lstrcmpiA(cls.c_str(), "Edit") == 0) seen.details = ui::TextOf(h);
                }
                // A posted click on a box that has just appeared is lost now
                // and then under Wine: repeated, then sent, until it is gone.
                bool bGone = false;
                for (int i = 0; i < 40 && !bGone; ++i) {
                    if (i < 3) ui::PressButtonId(hBox, IDOK);
                    else SendMessageA(GetDlgItem(hBox, IDOK), BM_CLICK, 0, 0);
                    bGone = ui::WaitForWindowGone(hBox, 300);
                }
                if (bGone) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_seen.push_back(seen);
                }
            }
            Sleep(50);
        }
    }

    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<SeenBox> m_seen;
    std::thread m_thread;
};

std::string Format(const char* pszFormat, const std::string& a, const std::string& b = std::string())
{
    char sz[LS_TEXT_SIZE] = {};
    LSStrFormat(sz, sizeof(sz), pszFormat, a.c_str(), b.c_str());
    return sz;
}

// The files a message speaks of.
struct Paths {
    std::string safe;      // the configured safe file
    std::string keyFile;   // the user's key file
    std::string backups;   // the folder of the backups
};

enum class Failure { DamagedSafe, KeyFileMissing, KeyFileDamaged, SafeHeldOpen, NoFolderForNewSafe };

struct FailureCase {
    const char* pszName;
    Failure failure;
    // The user's sentence the message begins with, and the file it must name.
    std::string (*told)(const Paths&);
    std::string (*named)(const Paths&);
    // The fixed failure text of the report, and the failure recorded first
    // (shown under the details).
    const char* pszFixed;
    const char* pszRecorded;
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.pszName;
}

std::string SafeOf(const Paths& p) { return p.safe; }
std::string KeyFileOf(const Paths& p) { return p.keyFile; }

const FailureCase kCases[] = {
    {"DamagedSafeWithoutBackup", Failure::DamagedSafe,
     [](const Paths& p) {
         return Format(DLS_TXT_FAILED_OPEN(), p.safe) + " " + Format(DLS_TXT_CAUSE_DAMAGED(), p.backups);
     },
     SafeOf, "TfrmDlgSafe::ShowModalSafe failed!", "TXmlAPI::Init failed!"},
    {"KeyFileMissingForAnExistingSafe", Failure::KeyFileMissing,
     [](const Paths& p) {
         return Format(DLS_TXT_FAILED_OPEN(), p.safe) + " " + DLS_KEYFILE_MISSING() + " " +
                Format(DLS_TXT_CAUSE_KEYFILE_AT(), p.keyFile, p.backups);
     },
     KeyFileOf, "TfrmDlgSafe::ShowModalSafe failed!", "TVornixTools::DoGetKeyFilePassword failed!"},
    {"DamagedKeyFile", Failure::KeyFileDamaged,
     [](const Paths& p) {
         return Format(DLS_TXT_FAILED_OPEN(), p.safe) + " " + DLS_KEYFILE_DAMAGED() + " " +
                Format(DLS_TXT_CAUSE_KEYFILE_AT(), p.keyFile, p.backups);
     },
     KeyFileOf, "TfrmDlgSafe::ShowModalSafe failed!", "TVornixTools::DoGetKeyFilePassword failed!"},
    {"SafeHeldOpenByAnotherHandleWhileAnEntryIsAdded", Failure::SafeHeldOpen,
     [](const Paths& p) { return Format(DLS_TXT_FAILED_CHANGE(), p.safe) + " " + DLS_TXT_CAUSE_IN_USE(); }, SafeOf,
     "TfrmDlgSafe::DoAddNewItem failed!", "TXmlAPI::Write failed!"},
    {"NewSafeWhereNoFolderCanBe", Failure::NoFolderForNewSafe,
     [](const Paths& p) { return Format(DLS_TXT_FAILED_CREATE(), p.safe) + " " + DLS_TXT_CAUSE_NOT_REACHABLE(); },
     SafeOf, "TfrmDlgSafe::ShowModalSafe failed!", "TXmlAPI::Write failed!"},
};

class SafeMessages : public SafeUnlockFixture, public ::testing::WithParamInterface<FailureCase> {
protected:
    void SetUp() override
    {
        SafeUnlockFixture::SetUp();
        const char* expected = getenv("KTX_EXPECT_LANG");
        if (expected && *expected) {
            EXPECT_EQ(atoi(expected), DLS_LANG_ID()) << "the language of this run";
        }
        ChooseCertificate();
    }

    // The bytes of a file, or kAbsent.
    static std::string Bytes(const std::string& path)
    {
        return ktxtest::FileExists(path) ? ktxtest::ReadFileBytes(path) : std::string(kAbsent);
    }

    Paths PathsNow()
    {
        Paths p;
        char sz[LS_PATH_SIZE] = {};
        if (TVornixReg::QOVGetVornixSafe(m_pOwner, sz)) p.safe = sz;
        p.keyFile = toolstest::KeyFilePath();
        p.backups = toolstest::BackupRoot();
        return p;
    }
};

TEST_P(SafeMessages, AreToldInTheUsersWordsFirstAndLoseNothing)
{
    const FailureCase& c = GetParam();
    std::vector<std::string> kept;
    switch (c.failure) {
    case Failure::DamagedSafe:
        WriteSafe({{"Alpha", kAlpha}});
        Unprotect();
        ASSERT_TRUE(toolstest::WriteDamagedSafe(m_safe));
        kept = {m_safe, toolstest::KeyFilePath()};
        break;
    case Failure::KeyFileMissing:
        WriteSafe({{"Alpha", kAlpha}});
        SetFileAttributesA(toolstest::KeyFilePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(DeleteFileA(toolstest::KeyFilePath().c_str()));
        kept = {m_safe, toolstest::KeyFilePath()};
        break;
    case Failure::KeyFileDamaged:
        WriteSafe({{"Alpha", kAlpha}});
        SetFileAttributesA(toolstest::KeyFilePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(ktxtest::WriteFileBytes(toolstest::KeyFilePath(), "not a key file"));
        kept = {m_safe, toolstest::KeyFilePath()};
        break;
    case Failure::SafeHeldOpen:
        WriteSafe({{"Alpha", kAlpha}});
        kept = {m_safe};
        break;
    case Failure::NoFolderForNewSafe: {
        // A file stands where the safe's folder would have to be.
        const std::string blocker = m_dir.File("blocker");
        ASSERT_TRUE(ktxtest::WriteFileBytes(blocker, "a file in the way"));
        ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, (blocker + "\\Safe.xml").c_str()));
        kept = {blocker, blocker + "\\Safe.xml"};
        break;
    }
    }
    const Paths paths = PathsNow();
    std::vector<std::string> before;
    for (const std::string& path : kept) before.push_back(Bytes(path));

    BoxReader reader;
    bool bCancel = true;
    std::vector<std::string> listed;
    if (c.failure == Failure::SafeHeldOpen) {
        // While the dialog is open another handle holds the safe file without
        // sharing it, and the user adds an entry.
        Open(&bCancel, [&](HWND hDlg) {
            {
                FileLock lock(m_safe);
                EXPECT_TRUE(lock.Held());
                ui::PostClick(m_pDlg->btnNeuerEintrag->Handle());
                EXPECT_TRUE(ktxtest::WaitFor([&] { return reader.Count() > 0; }, 10000));
            }
            const HWND hList = m_pDlg->lstvBezeichnung->Handle();
            for (int i = 0; i < ui::ListCount(hList); ++i) listed.push_back(ui::ListItemText(hList, i));
            return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
        });
        EXPECT_TRUE(m_bShown);
    } else {
        Open(&bCancel, NeverShown());
        EXPECT_FALSE(m_bShown) << "a safe that cannot be opened is not shown";
    }
    const std::vector<SeenBox> seen = reader.Stop();
    EXPECT_FALSE(bCancel);

    ASSERT_EQ(seen.size(), 1u) << "told exactly once";
    const SeenBox& box = seen[0];
    const std::string told = c.told(paths);
    EXPECT_EQ(box.text.compare(0, told.size(), told), 0) << "begins with the user's sentence:\n"
                                                         << told << "\nshown:\n"
                                                         << box.text << "\ndetails:\n"
                                                         << box.details;
    EXPECT_NE(box.text.find(c.named(paths)), std::string::npos) << "names the file\n" << box.text;
    // The fixed failure text comes after the user's sentence, and what was
    // recorded is under the details.
    const size_t nFixed = box.text.find(c.pszFixed);
    EXPECT_NE(nFixed, std::string::npos) << box.text;
    if (nFixed != std::string::npos) {
        EXPECT_GE(nFixed, told.size()) << box.text;
    }
    EXPECT_NE(box.details.find(c.pszRecorded), std::string::npos) << box.details;

    // Nothing lost: every file as it was.
    Unprotect();
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(Bytes(kept[i]), before[i]) << kept[i];
    if (c.failure == Failure::SafeHeldOpen) {
        // The refused entry was taken back: the list and the file agree.
        std::vector<std::string> stored;
        for (const Element& e : SafeElements()) stored.push_back(e.name);
        EXPECT_EQ(listed, std::vector<std::string>{"Alpha"});
        EXPECT_EQ(stored, listed);
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, SafeMessages, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.pszName);
                         });

}  // namespace
