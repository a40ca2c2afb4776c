// Opening and closing the safe: the safe file found in the settings or
// chosen by the user, the password from the key file or typed, a new safe
// written where none exists, the modal run, and afterwards the file protected
// again and the safe log closed (sealed only when the run was neither
// cancelled nor stopped by an unusable password).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"
#include "SafeUnlockFixture.h"
#include "TestSupport.h"
#include "ToolsFixture.h"
#include "UiDriver.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

constexpr char kSeparator[] = "****************************************";
constexpr DWORD kProtected = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

class SafeDlgUnlock : public SafeUnlockFixture {};

TEST_F(SafeDlgUnlock, ANewSafeIsWrittenWhereTheSettingsPointAndProtectedAfterTheRun)
{
    ChooseCertificate();
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, m_safe.c_str()));
    bool bCancel = true;
    std::string caption;
    ASSERT_TRUE(Open(&bCancel, PressClose(), &caption));
    EXPECT_TRUE(m_bShown);
    EXPECT_FALSE(bCancel);

    char szTitle[LS_TEXT_SIZE] = {};
    LSStrFormat(szTitle, sizeof(szTitle), DLS_TXT_SAVE_CAPTION(), DLS_GLOBAL_CAPTION_SAFE(), "Safe");
    EXPECT_EQ(caption, szTitle);
    EXPECT_EQ(m_pDlg->nCryptMode, LS_CRYPT_CURRENT);
    EXPECT_FALSE(m_pDlg->btnKonvert->Visible());
    EXPECT_FALSE(m_pDlg->btnChangePassword->Visible());
    EXPECT_TRUE(m_pDlg->btnLogFile->Enabled());
    EXPECT_EQ(m_pDlg->pszSafeFile, nullptr) << "the path buffer ended with the run";

    // An empty current safe, read-only, hidden and system again.
    EXPECT_EQ(GetFileAttributesA(m_safe.c_str()) & kProtected, kProtected);
    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.Init(m_safe.c_str()));
    char szRoot[LS_XMLPATH_SIZE] = {};
    ASSERT_TRUE(xml.GetRootTag(szRoot));
    EXPECT_STREQ(szRoot, "LSVER500");

    const std::string log = Log();
    const size_t nOpen = log.find(Line(DLS_LOG_OPENSAFEOK()));
    const size_t nClose = log.find(Line(DLS_LOG_CLOSESAFE()));
    const size_t nSeparator = log.find(kSeparator);
    ASSERT_NE(nOpen, std::string::npos) << log;
    ASSERT_NE(nClose, std::string::npos) << log;
    ASSERT_NE(nSeparator, std::string::npos) << log;
    EXPECT_LT(nOpen, nClose);
    EXPECT_LT(nClose, nSeparator);
    EXPECT_TRUE(SealHolds());
}

TEST_F(SafeDlgUnlock, TheSafeFileIsWritableOnlyWhileItIsOpen)
{
    ChooseCertificate();
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, m_safe.c_str()));
    bool bCancel = false;
    DWORD dwDuringRun = 0;
    ASSERT_TRUE(Open(&bCancel, [&](HWND h) {
        dwDuringRun = GetFileAttributesA(m_safe.c_str());
        return ui::PressButton(h, DLS_BTN_SCHLIESSEN());
    }));
    EXPECT_EQ(dwDuringRun & kProtected, 0u) << "writable while it is open";
    EXPECT_EQ(GetFileAttributesA(m_safe.c_str()) & kProtected, kProtected);

    // Opened again: the existing file is used, and a backup of it is made.
    bCancel = true;
    ASSERT_TRUE(Open(&bCancel, PressClose()));
    EXPECT_TRUE(m_bShown);
    EXPECT_FALSE(bCancel);
    EXPECT_EQ(GetFileAttributesA(m_safe.c_str()) & kProtected, kProtected);
}

TEST_F(SafeDlgUnlock, ClosingThroughCancelFailsOnlyWhenTheLogIsNotSealed)
{
    ChooseCertificate();
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, m_safe.c_str()));
    bool bCancel = true;
    // Closed through the menu's cancel: the log is still sealed, so the run succeeds.
    ASSERT_TRUE(Open(&bCancel, [&](HWND) {
        return ui::ChooseContextMenuItem(m_pDlg->lstvBezeichnung->Handle(), DLS_BTN_CANCEL());
    }));
    EXPECT_EQ(m_pDlg->nCloseMode, TfrmDlgSafe::CLOSE_CANCELLED);
    EXPECT_TRUE(SealHolds());
}

TEST_F(SafeDlgUnlock, ACancelledChoiceNeverShowsTheDialogAndLeavesTheLogUnsealed)
{
    bool bCancel = false;
    ui::Answer question({"TfrmImportSave"}, ui::Press(DLS_DLG_BTN_CANCEL()));
    EXPECT_TRUE(Open(&bCancel, NeverShown()));
    EXPECT_TRUE(question.Wait());
    EXPECT_FALSE(m_bShown);
    EXPECT_TRUE(bCancel);
    const std::string log = Log();
    const size_t nFailed = log.find(Line(DLS_LOG_OPENSAFEFAILED()));
    ASSERT_NE(nFailed, std::string::npos) << log;
    EXPECT_NE(log.find(Line(DLS_LOG_CLOSESAFE()), nFailed), std::string::npos) << log;
    EXPECT_EQ(log.find(kSeparator, nFailed), std::string::npos) << "no separator after a cancel\n" << log;
    EXPECT_EQ(log.find(Line(DLS_LOG_OPENSAFEOK())), std::string::npos);
}

TEST_F(SafeDlgUnlock, WithoutACertificateTheUserIsToldAndNothingIsWritten)
{
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, m_safe.c_str()));
    bool bCancel = true;
    ui::Answer failure({"#32770"}, ui::PressId(IDOK));
    EXPECT_TRUE(Open(&bCancel, NeverShown()));
    EXPECT_TRUE(failure.Wait());
    EXPECT_NE(failure.Text().find("TfrmDlgSafe::ShowModalSafe failed!"), std::string::npos) << failure.Text();
    EXPECT_FALSE(m_bShown);
    EXPECT_FALSE(bCancel);
    EXPECT_TRUE(m_pDlg->bPasswordFailed);
    EXPECT_FALSE(ktxtest::FileExists(m_safe)) << "no safe without its password";
    const std::string log = Log();
    const size_t nFailed = log.find(Line(DLS_LOG_OPENSAFEFAILED()));
    ASSERT_NE(nFailed, std::string::npos) << log;
    EXPECT_EQ(log.find(kSeparator, nFailed), std::string::npos) << "no seal after an unusable password";
}

TEST_F(SafeDlgUnlock, TheOldestSafesAskForTheTypedPassword)
{
    // The version marker counts in any letter case.
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_safe, "<?xml version=\"1.0\"?>\r\n<lsver300/>\r\n"));
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, m_safe.c_str()));
    bool bCancel = true;
    ui::Answer password({"TfrmInputPassword"}, ui::TypeAndPress("typed secret", DLS_DLG_BTN_OK()));
    ASSERT_TRUE(Open(&bCancel, PressClose()));
    EXPECT_TRUE(password.Wait());
    EXPECT_TRUE(m_bShown);
    EXPECT_EQ(m_pDlg->nCryptMode, LS_CRYPT_LEGACY);
    EXPECT_TRUE(m_pDlg->btnKonvert->Visible());
    EXPECT_TRUE(m_pDlg->btnChangePassword->Visible());
    EXPECT_STREQ(m_pDlg->szPassword, "typed secret");
    EXPECT_STREQ(m_pDlg->szPassSequenz[0], "typed secret$5$typed secret");

    // A cancelled password: the dialog is not shown, the file keeps its content.
    Recreate();
    bCancel = false;
    ui::Answer cancel({"TfrmInputPassword"}, ui::Press(DLS_DLG_BTN_CANCEL()));
    EXPECT_TRUE(Open(&bCancel, NeverShown()));
    EXPECT_TRUE(cancel.Wait());
    EXPECT_FALSE(m_bShown);
    EXPECT_TRUE(bCancel);
    SetFileAttributesA(m_safe.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(ktxtest::ReadFileBytes(m_safe).find("lsver300"), std::string::npos);
}

TEST_F(SafeDlgUnlock, TheStaticEntryRefusesAMissingCancelFlag)
{
    EXPECT_FALSE(TfrmDlgSafe::STA_DoInputVornixSafe(m_pOwner, Application, nullptr));
    EXPECT_STREQ(m_pOwner->rErrHandler.szMessage, "STA_DoInputVornixSafe failed!");
}

}  // namespace
