// The choice of the safe file when the settings name none: both choosers
// propose "<user> - safe.xml" in the user's data folder and store the chosen
// path; a cancel or a path too long to keep leaves the settings as they were.
#include <gtest/gtest.h>

#include <string>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"
#include "SafeDlgFixture.h"
#include "TestSupport.h"
#include "UiDriver.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

struct Chooser {
    const char* what;
    bool bNewSafe;
    const char* (*title)();
};
const Chooser kChoosers[] = {
    {"new safe", true, DLS_TXT_SAVEDLG_TRESOR},
    {"existing safe", false, DLS_TXT_SAFE_IMPORT},
};

class SafeDlgSelect : public SafeDlgFixture {
protected:
    void SetUp() override
    {
        SafeDlgFixture::SetUp();
        m_pDlg->pszSafeFile = m_szPath;
    }
    void TearDown() override
    {
        m_pDlg->pszSafeFile = nullptr;
        SafeDlgFixture::TearDown();
    }

    bool Choose(const Chooser& chooser)
    {
        return chooser.bNewSafe ? m_pDlg->DoSaveDlgTresor() : m_pDlg->DoImportDlgTresor();
    }
    std::string ConfiguredSafe()
    {
        char sz[LS_PATH_SIZE] = {};
        return TVornixReg::QOVGetVornixSafe(m_pOwner, sz) ? sz : "<none>";
    }
    static std::string UserName()
    {
        char sz[LS_USERNAME_SIZE] = {};
        DWORD cch = sizeof(sz);
        GetUserNameA(sz, &cch);
        return sz;
    }
    static std::string Lower(std::string s)
    {
        for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return s;
    }

    char m_szPath[LS_PATH_SIZE] = {};
};

TEST_F(SafeDlgSelect, ProposesTheUsersSafeInTheDataFolderAndStoresTheChoice)
{
    char szUserPath[LS_PATH_SIZE] = {};
    ASSERT_TRUE(TVornixReg::QOVGetVornixUserPath(m_pOwner, szUserPath));
    const std::string proposed = UserName() + " - safe.xml";
    for (const Chooser& chooser : kChoosers) {
        SCOPED_TRACE(chooser.what);
        // A bare name lands in the folder the dialog started in: the data folder.
        std::string seenName, seenFilter;
        {
            ui::Answer answer({"#32770", chooser.title()}, ui::ChooseFile("fresh.xml", &seenName, &seenFilter));
            EXPECT_TRUE(Choose(chooser));
            EXPECT_TRUE(answer.Wait());
        }
        EXPECT_EQ(seenName, proposed);
        EXPECT_EQ(seenFilter, std::string(DLS_FILEFILTER_TRESOR()).substr(0, seenFilter.size()));
        EXPECT_FALSE(m_pDlg->bCancel);
        const std::string expected = std::string(szUserPath) + "\\fresh.xml";
        EXPECT_EQ(Lower(m_szPath), Lower(expected));
        EXPECT_EQ(Lower(ConfiguredSafe()), Lower(expected));
        EXPECT_FALSE(ktxtest::FileExists(expected)) << "choosing writes nothing";

        // An existing file is taken as it is, without a question.
        ktxtest::TempDir dir;
        const std::string existing = dir.File("old.xml");
        ASSERT_TRUE(ktxtest::WriteFileBytes(existing, "<LSVER500/>"));
        {
            ui::Answer answer({"#32770", chooser.title()}, ui::ChooseFile(existing));
            EXPECT_TRUE(Choose(chooser));
            EXPECT_TRUE(answer.Wait());
        }
        EXPECT_EQ(Lower(ConfiguredSafe()), Lower(existing));
        EXPECT_EQ(ktxtest::ReadFileBytes(existing), "<LSVER500/>");
    }
}

TEST_F(SafeDlgSelect, ACancelLeavesTheSettingsAsTheyWere)
{
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, "C:\\before\\safe.xml"));
    for (const Chooser& chooser : kChoosers) {
        SCOPED_TRACE(chooser.what);
        ui::Answer answer({"#32770", chooser.title()}, ui::PressId(IDCANCEL));
        EXPECT_TRUE(Choose(chooser));
        EXPECT_TRUE(answer.Wait());
        EXPECT_TRUE(m_pDlg->bCancel);
        EXPECT_EQ(ConfiguredSafe(), "C:\\before\\safe.xml");
        EXPECT_EQ(std::string(m_szPath), UserName() + " - safe.xml") << "the proposed name, without a folder";
    }
}

TEST_F(SafeDlgSelect, APathTooLongToKeepIsRefusedWithANotice)
{
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, "C:\\before\\safe.xml"));
    ktxtest::TempDir dir;
    // 256 characters in all: one more than the safe path buffer keeps.
    const std::string name(256 - dir.Path().size() - 1 - 4, 'n');
    const std::string tooLong = dir.File(name + ".xml");
    ASSERT_EQ(tooLong.size(), 256u);
    for (const Chooser& chooser : kChoosers) {
        SCOPED_TRACE(chooser.what);
        ui::Answer notice({"#32770", DLS_MSGBOX_CAPTION_NOTICE()}, ui::PressId(IDOK));
        ui::Answer answer({"#32770", chooser.title()}, ui::ChooseFile(tooLong));
        EXPECT_FALSE(Choose(chooser));
        // The failure is recorded for the unlock (read before any other call clears it).
        EXPECT_TRUE(m_pOwner->rErrHandler.bFailed);
        EXPECT_STREQ(m_pOwner->rErrHandler.szMessage,
                     chooser.bNewSafe ? "TfrmDlgSafe::DoSaveDlgTresor failed!" : "TfrmDlgSafe::DoImportDlgTresor failed!");
        EXPECT_TRUE(answer.Wait());
        EXPECT_TRUE(notice.Wait());
        char szExpected[LS_TEXT_SIZE] = {};
        LSStrFormat(szExpected, sizeof(szExpected), DLS_TXT_SAFEPATH_TOOLONG(), 255);
        EXPECT_NE(notice.Text().find(szExpected), std::string::npos) << notice.Text();
        EXPECT_TRUE(m_pDlg->bCancel) << "told once; the unlock adds no message";
        EXPECT_EQ(ConfiguredSafe(), "C:\\before\\safe.xml");
    }
}

}  // namespace
