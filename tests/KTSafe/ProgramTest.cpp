// The real KTSafe.exe: what the last command-line argument makes it do, and
// a whole normal run from the banner to the safe dialog and back.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "StartUpSupport.h"
#include "TestSupport.h"
#include "ToolsFixture.h"
#include "UiDriver.h"

using namespace startuptest;
namespace ui = ktxtest::ui;

namespace {

constexpr DWORD kRunTimeoutMs = 30000;

// The classes of the windows a run showed, gathered while it runs.
struct RunRecord {
    bool bEnded = false;
    DWORD dwExitCode = 1234;
    std::set<std::string> shown;
};

// Waits for the end of the process, noting the visible windows it shows
// meanwhile; a process that does not end is killed.
RunRecord WatchUntilEnd(ktxtest::ChildProcess& process, DWORD timeoutMs = kRunTimeoutMs)
{
    RunRecord record;
    record.bEnded = ktxtest::WaitFor([&] {
        for (HWND h : ktxtest::TopLevelWindowsOf(process.Pid()))
            if (IsWindowVisible(h)) record.shown.insert(ui::ClassOf(h));
        return WaitForSingleObject(process.Handle(), 0) == WAIT_OBJECT_0;
    }, timeoutMs);
    if (!record.bEnded) process.Kill();
    else process.Wait(0, &record.dwExitCode);
    return record;
}

class Program : public ::testing::Test {
protected:
    // A prepared start: nothing to ask, both shortcuts present.
    void SetUp() override
    {
        PrepareQuietStart();
        ASSERT_TRUE(ktxtest::WriteFileBytes(LinkTableFile(), "table link"));
        ASSERT_TRUE(ktxtest::WriteFileBytes(StartMenuLink(), "menu link"));
    }

    CleanInstallState m_state;
};

}  // namespace

TEST_F(Program, DispatchOnTheLastArgument)
{
    struct Case {
        const char* pszArgs;
        bool bDeactivated;
    } cases[] = {
        {"/deactivate", true},
        {"/DeActivate", true},
        {"/CERTIFICATEMANAGER other", false},
        {"\"/DEACTIVATE\"", false},
        {"/DEACTIVATE something", false},
        {"unknown", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszArgs);
        PrepareQuietStart();
        ASSERT_TRUE(ktxtest::WriteFileBytes(LinkTableFile(), "table link"));
        ASSERT_TRUE(ktxtest::WriteFileBytes(StartMenuLink(), "menu link"));

        ktxtest::ChildProcess process;
        ASSERT_TRUE(process.Start("KTSafe.exe", c.pszArgs));
        RunRecord run = WatchUntilEnd(process);
        ASSERT_TRUE(run.bEnded);
        EXPECT_EQ(run.dwExitCode, 0u);
        // Only the banner, if anything: no safe, no manager, no question, no message.
        for (const std::string& cls : run.shown) EXPECT_EQ(cls, "TfrmDoSafe");
        if (c.bDeactivated) {
            EXPECT_FALSE(ktxtest::FileExists(LinkTableFile()));
            EXPECT_FALSE(ktxtest::FileExists(StartMenuLink()));
            EXPECT_EQ(ReadVersion(nullptr), "undefined");
        } else {
            EXPECT_EQ(ktxtest::ReadFileBytes(LinkTableFile()), "table link");
            EXPECT_EQ(ktxtest::ReadFileBytes(StartMenuLink()), "menu link");
            EXPECT_EQ(ReadVersion(nullptr), "5.03a");
        }
    }
}

// The certificate manager switch, in any letter case, runs the manager with
// the banner's text changed; a cancel ends the program quietly.
TEST_F(Program, CertificateManagerSwitchRunsTheManager)
{
    ktxtest::ChildProcess process;
    ASSERT_TRUE(process.Start("KTSafe.exe", "/certificateManager"));
    HWND hManager = ui::WaitForWindow({"TfrmCertificateMgr", nullptr, process.Pid()}, 20000);
    ASSERT_NE(hManager, nullptr);
    HWND hBanner = ui::FindTopWindow({"TfrmDoSafe", nullptr, process.Pid()});
    ASSERT_NE(hBanner, nullptr) << "the banner stays while the manager runs";
    ASSERT_TRUE(ui::PressButton(hManager, DLS_DLG_BTN_CANCEL()));
    RunRecord run = WatchUntilEnd(process);
    ASSERT_TRUE(run.bEnded);
    EXPECT_EQ(run.dwExitCode, 0u);
    EXPECT_EQ(run.shown.count("#32770"), 0u) << "a cancel shows no message";
    EXPECT_EQ(run.shown.count("TfrmDlgSafe"), 0u);
}

// A normal start in a prepared state: banner, then the safe dialog; closing
// the dialog ends the program with 0.
TEST_F(Program, NormalStartOpensTheSafeAndEndsWhenItCloses)
{
    ktxtest::TempDir dir;
    const std::string safe = dir.File("Safe.xml");
    toolstest::TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe start-up"));
    TLSCryptCert record = cert.Record();
    ASSERT_TRUE(TVornixReg::QOVSetRegUsrEncCrt(nullptr, &record, 1, nullptr));
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(nullptr, safe.c_str()));

    ktxtest::ChildProcess process;
    ASSERT_TRUE(process.Start("KTSafe.exe"));
    bool bBannerSeen = false;
    HWND hSafe = nullptr;
    ASSERT_TRUE(ktxtest::WaitFor([&] {
        for (HWND h : ktxtest::TopLevelWindowsOf(process.Pid())) {
            if (!IsWindowVisible(h)) continue;
            const std::string cls = ui::ClassOf(h);
            if (cls == "TfrmDoSafe") bBannerSeen = true;
            if (cls == "TfrmDlgSafe") hSafe = h;
        }
        return hSafe != nullptr || WaitForSingleObject(process.Handle(), 0) == WAIT_OBJECT_0;
    }, kRunTimeoutMs));
    ASSERT_NE(hSafe, nullptr) << "the safe dialog opens";
    EXPECT_TRUE(bBannerSeen) << "the banner came first";
    ui::Pump(500);
    ui::Screenshot("ktsafe-safe-dialog", hSafe);
    for (HWND h : ktxtest::TopLevelWindowsOf(process.Pid(), "TfrmDoSafe"))
        EXPECT_FALSE(IsWindowVisible(h)) << "the banner is hidden under the safe dialog";

    HWND hClose = ui::FindControl(hSafe, DLS_BTN_SCHLIESSEN());
    ASSERT_NE(hClose, nullptr);
    ASSERT_TRUE(ui::PostClick(hClose));
    RunRecord run = WatchUntilEnd(process);
    ASSERT_TRUE(run.bEnded);
    EXPECT_EQ(run.dwExitCode, 0u);
    EXPECT_EQ(run.shown.count("#32770"), 0u) << "no failure message";
    EXPECT_TRUE(ktxtest::FileExists(safe)) << "the new safe was written";
    EXPECT_EQ(ReadVersion(nullptr), "5.03a");
    EXPECT_EQ(ktxtest::ReadFileBytes(LinkTableFile()), "table link") << "an unchanged start touches no link";
}
