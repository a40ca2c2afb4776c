// The password of a safe protected by a typed password is changed by
// re-encrypting every entry: afterwards every entry opens with one password,
// the new one after a change, the old one after a change that could not
// finish. The safe file moves with its companion, and nothing is replaced or
// lost on the way.
#include <gtest/gtest.h>

#include <algorithm>
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

constexpr char kOld[] = "old typed secret";
constexpr char kNew[] = "New typed secret";

EntryFields FieldsOf(int i)
{
    const std::string n = std::to_string(i);
    return {"user " + n, "password " + n, "https://" + n + ".example", "note " + n};
}

// "E01", "E02", ...: the list shows them in this order.
std::string NameOf(int i)
{
    char sz[16] = {};
    LSStrFormat(sz, sizeof(sz), "E%02d", i);
    return sz;
}

// Types a new password twice into the password change dialog and confirms.
ui::Action TypeNewPassword(const std::string& password)
{
    return [password](HWND hDlg) {
        ui::Type(ui::FindControlByClass(hDlg, "Edit", 0), password);
        ui::Type(ui::FindControlByClass(hDlg, "Edit", 1), password);
        return ui::PressButton(hDlg, DLS_DLG_BTN_OK());
    };
}

class SafeChange : public SafeUnlockFixture {
protected:
    void SetUp() override
    {
        SafeUnlockFixture::SetUp();
        ChooseCertificate();
    }

    // A typed-password safe with entries E01..E<n>.
    void WriteTypedSafe(int n)
    {
        std::vector<SafeEntry> entries;
        for (int i = 1; i <= n; ++i) entries.push_back({NameOf(i), FieldsOf(i)});
        WriteSafe(entries, kOld, "LSVER300", LS_CRYPT_LEGACY);
    }

    // Opens the typed-password safe with pszPassword and runs action in the
    // shown dialog (from a helper thread); then closes it.
    void OpenTyped(const char* pszPassword, const std::function<void(HWND)>& action)
    {
        Recreate();
        ui::Answer password({"TfrmInputPassword"}, ui::TypeAndPress(pszPassword, DLS_DLG_BTN_OK()));
        bool bCancel = false;
        Open(&bCancel, [&](HWND hDlg) {
            action(hDlg);
            return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
        });
        EXPECT_TRUE(password.Wait());
        EXPECT_TRUE(m_bShown);
    }

    // Clicks the change password button of the shown dialog and gives the
    // new password; returns when the dialog is usable again.
    void ChangePassword(HWND hDlg, const std::string& password)
    {
        ui::Answer dialog({"TfrmInputPasswordChange"}, TypeNewPassword(password));
        ui::PostClick(m_pDlg->btnChangePassword->Handle());
        EXPECT_TRUE(dialog.Wait(20000));
        // Running: the dialog is disabled until the change is done.
        for (int i = 0; i < 600; ++i) {
            Sleep(50);
            if (IsWindowEnabled(hDlg) && !ui::FindTopWindow({"TfrmDlgProgress"}) &&
                !ui::FindTopWindow({"TfrmInputPasswordChange"}))
                break;
        }
        Sleep(200);
    }

};

// ---------------------------------------------------------------------------
// Password change
// ---------------------------------------------------------------------------

TEST_F(SafeChange, AChangedPasswordOpensEveryEntryAndTheOldOneNone)
{
    constexpr int kCount = 12;
    WriteTypedSafe(kCount);
    const EntryFields edited = {"edited", "just typed", "https://edited.example", "typed before the change"};
    bool bOffered = false;
    std::vector<std::string> menu;
    OpenTyped(kOld, [&](HWND hDlg) {
        bOffered = IsWindowVisible(m_pDlg->btnChangePassword->Handle()) != FALSE;
        ui::ChooseContextMenuItem(m_pDlg->lstvBezeichnung->Handle(), "no such item", &menu);
        // An edit not stored yet goes along.
        Select(NameOf(5));
        TypeFields(edited);
        ChangePassword(hDlg, kNew);
    });
    EXPECT_TRUE(bOffered);
    EXPECT_NE(std::find(menu.begin(), menu.end(), DLS_PUM_CHANGEPASSWORD()), menu.end());
    EXPECT_NE(Log().find(DLS_LOG_PASSWORDCHANGED()), std::string::npos) << Log();

    EXPECT_EQ(EntriesOpeningWith(kNew, LS_CRYPT_LEGACY), kCount);
    EXPECT_EQ(EntriesOpeningWith(kOld, LS_CRYPT_LEGACY), 0);
    EXPECT_EQ(SafeRoot(), "LSVER300") << "still a typed-password safe";

    // The next opening asks for the new password and shows every value.
    std::vector<EntryFields> read;
    OpenTyped(kNew, [&](HWND) {
        for (int i : {1, 5, kCount}) {
            Select(NameOf(i));
            read.push_back(ShownFields());
        }
    });
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0], FieldsOf(1));
    EXPECT_EQ(read[1], edited);
    EXPECT_EQ(read[2], FieldsOf(kCount));
}

TEST_F(SafeChange, AChangeStoppedByOneEntryLeavesEveryEntryUnderTheOldPassword)
{
    struct Case {
        const char* pszName;
        bool bOtherKey;   // else: its stored text changed outside the program
    };
    const Case cases[] = {{"an entry under another password", true}, {"an entry changed outside", false}};
    constexpr int kCount = 50;
    constexpr int kDamaged = 30;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        // The 30th entry's element, made first on its own.
        Recreate();
        WriteSafe({{NameOf(kDamaged), FieldsOf(kDamaged)}}, c.bOtherKey ? "another password" : kOld, "LSVER300",
                  LS_CRYPT_LEGACY);
        Element damaged = SafeElements().at(0);
        if (!c.bOtherKey) damaged.text[10] = damaged.text[10] == 'A' ? 'B' : 'A';
        Recreate();
        WriteTypedSafe(kCount);
        {
            TXmlAPI doc(m_pOwner);
            ASSERT_TRUE(doc.Init(m_safe.c_str()));
            const std::string path = "LSVER300." + SafeElements().at(kDamaged - 1).tag;
            ASSERT_TRUE(doc.PPPS(path.c_str(), damaged.text.c_str()));
            ASSERT_TRUE(doc.PutAtt(path.c_str(), "hash", damaged.hash.c_str()));
            ASSERT_TRUE(doc.Write(m_safe.c_str(), nullptr));
        }
        const std::string before = SafeBytes();

        std::string told;
        OpenTyped(kOld, [&](HWND hDlg) {
            BoxCloser boxes;
            ChangePassword(hDlg, kNew);
            boxes.Stop();
            told = boxes.Texts();
        });
        EXPECT_NE(told.find(DLS_TXT_PASSWORD_NOT_CHANGED()), std::string::npos) << told;
        EXPECT_NE(told.find("\"" + NameOf(kDamaged) + "\""), std::string::npos) << told;
        EXPECT_EQ(told.find(DLS_TXT_PASSWORD_NOT_CHANGED(), told.find(DLS_TXT_PASSWORD_NOT_CHANGED()) + 1),
                  std::string::npos)
            << "told once";
        EXPECT_EQ(SafeBytes(), before) << "not one entry rewritten";
        EXPECT_GE(EntriesOpeningWith(kOld, LS_CRYPT_LEGACY), kCount - 1);
    }
}

TEST_F(SafeChange, TheSamePasswordRewritesNothingAndAnEmptySafeChangesToo)
{
    for (const int nCount : {3, 0}) {
        SCOPED_TRACE(nCount);
        Recreate();
        WriteTypedSafe(nCount);
        const std::string before = SafeBytes();
        char szPath[LS_PATH_SIZE] = {};
        LSStrCopy(szPath, sizeof(szPath), m_safe.c_str());
        m_pDlg->pszSafeFile = szPath;
        m_pDlg->nCryptMode = LS_CRYPT_LEGACY;
        LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), kOld);
        ASSERT_TRUE(m_pDlg->DoLoadPassSequenz(kOld));
        ASSERT_TRUE(m_pDlg->pXml->Init(szPath));
        ASSERT_TRUE(m_pDlg->DoListSafe());

        EXPECT_TRUE(m_pDlg->DoEncTresorWithNewPassword(m_pDlg->szPassword, kOld, false));
        EXPECT_EQ(SafeBytes(), before);
        EXPECT_TRUE(m_pDlg->DoEncTresorWithNewPassword(m_pDlg->szPassword, kNew, false));
        EXPECT_STREQ(m_pDlg->szPassword, kNew);
        EXPECT_EQ(EntriesOpeningWith(kNew, LS_CRYPT_LEGACY), nCount);
        m_pDlg->pszSafeFile = nullptr;
    }
}

TEST_F(SafeChange, ACertificateProtectedSafeOffersNoPasswordChange)
{
    WriteSafe({{"Alpha", FieldsOf(1)}});
    Recreate();
    bool bOffered = true;
    std::vector<std::string> menu;
    bool bCancel = false;
    Open(&bCancel, [&](HWND hDlg) {
        bOffered = IsWindowVisible(m_pDlg->btnChangePassword->Handle()) != FALSE;
        ui::ChooseContextMenuItem(m_pDlg->lstvBezeichnung->Handle(), "no such item", &menu);
        return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
    });
    EXPECT_TRUE(m_bShown);
    EXPECT_FALSE(bOffered);
    EXPECT_FALSE(menu.empty());
    EXPECT_EQ(std::find(menu.begin(), menu.end(), DLS_PUM_CHANGEPASSWORD()), menu.end());
}

// ---------------------------------------------------------------------------
// Safe file change
// ---------------------------------------------------------------------------

class SafeMove : public SafeChange {
protected:
    void SetUp() override
    {
        SafeChange::SetUp();
        WriteSafe({{"Alpha", FieldsOf(1)}});
        LSStrCopy(m_szPath, sizeof(m_szPath), m_safe.c_str());
        m_pDlg->pszSafeFile = m_szPath;
        char szPassword[TfrmDlgSafe::CERT_PASSWORD_SIZE] = {};
        ASSERT_TRUE(m_pDlg->DoGetCertPassword(szPassword, false));
        LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), szPassword);
        SecureZeroMemory(szPassword, sizeof(szPassword));
        ASSERT_TRUE(m_pDlg->pXml->Init(m_szPath));
        LSStrCopy(m_pDlg->szCaption, sizeof(m_pDlg->szCaption), "KTSafe");
        ShowAndStart();
    }
    void TearDown() override
    {
        if (m_pDlg) m_pDlg->pszSafeFile = nullptr;
        SafeChange::TearDown();
    }

    std::string ConfiguredSafe()
    {
        char sz[LS_PATH_SIZE] = {};
        TVornixReg::QOVGetVornixSafe(m_pOwner, sz);
        return sz;
    }

    // Runs the change, choosing target in the save dialog; a message box
    // that follows is confirmed and its text goes to pTold (with its caption
    // first). No box is expected when pTold is null.
    bool MoveTo(const std::string& target, std::string* pTold = nullptr)
    {
        ui::Answer chooser({"#32770", DLS_TXT_SAVEDLG_TRESOR()}, ui::ChooseFile(target));
        ui::Answer notice({"#32770", DLS_MSGBOX_CAPTION_NOTICE()}, ui::PressId(IDOK), 20000);
        ui::Answer error({"#32770", DLS_MSGBOX_CAPTION_ERROR()}, ui::PressId(IDOK), 20000);
        const bool bResult = m_pDlg->DoChangeTresorFile();
        EXPECT_TRUE(chooser.Wait());
        ui::Pump(300);
        const bool bNotice = notice.Answered();
        const bool bError = error.Answered();
        if (pTold) {
            EXPECT_TRUE(bNotice != bError) << "told once";
            *pTold = bNotice ? std::string(DLS_MSGBOX_CAPTION_NOTICE()) + "\n" + notice.Text()
                             : std::string(DLS_MSGBOX_CAPTION_ERROR()) + "\n" + error.Text();
        } else {
            EXPECT_FALSE(bNotice || bError) << notice.Text() << error.Text();
        }
        return bResult;
    }

    char m_szPath[LS_PATH_SIZE] = {};
};

TEST_F(SafeMove, TheSafeFileMovesWithItsCompanionAndEverythingFollows)
{
    for (const bool bCompanion : {false, true}) {
        SCOPED_TRACE(bCompanion ? "with a companion" : "alone");
        const std::string from = m_szPath;
        const std::string fromCompanion = from.substr(0, from.size() - 4) + ".xmk";
        if (bCompanion) ASSERT_TRUE(ktxtest::WriteFileBytes(fromCompanion, "companion bytes"));
        const std::string bytes = ktxtest::ReadFileBytes(from);
        const std::string folder = m_dir.File(bCompanion ? "moved b" : "moved a");
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        const std::string target = folder + "\\Renamed.xml";

        EXPECT_TRUE(MoveTo(target));
        EXPECT_FALSE(ktxtest::FileExists(from));
        EXPECT_EQ(ktxtest::ReadFileBytes(target), bytes);
        EXPECT_EQ(std::string(m_szPath), target);
        EXPECT_EQ(ConfiguredSafe(), target);
        EXPECT_NE(m_pDlg->Caption().find("Renamed"), std::string::npos) << m_pDlg->Caption();
        if (bCompanion) {
            EXPECT_FALSE(ktxtest::FileExists(fromCompanion));
            EXPECT_EQ(ktxtest::ReadFileBytes(folder + "\\Renamed.xmk"), "companion bytes");
        }
        // The next change is written to the new place.
        ASSERT_TRUE(m_pDlg->DoAddSafe("Beta"));
        EXPECT_NE(ktxtest::ReadFileBytes(target).find("Beta"), std::string::npos);
        EXPECT_FALSE(ktxtest::FileExists(from));
    }
}

TEST_F(SafeMove, NothingIsReplacedOrLostWhenTheMoveCannotBeDone)
{
    const std::string from = m_szPath;
    const std::string bytes = ktxtest::ReadFileBytes(from);
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_dir.File("Safe.xmk"), "companion"));
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_dir.File("Taken.xml"), "someone else's file"));
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_dir.File("Partner.xmk"), "someone else's companion"));
    // 256 characters in all: one more than the safe path buffer keeps.
    const std::string longName(256 - m_dir.Path().size() - 1 - 4, 'n');

    struct Case {
        const char* pszName;
        std::string target;
        const char* pszTold;   // the notice's text, or null for a failure message
    };
    char szTaken[LS_TEXT_SIZE] = {};
    LSStrFormat(szTaken, sizeof(szTaken), DLS_TXT_SAFEFILE_EXISTS(), m_dir.File("Taken.xml").c_str());
    char szPartner[LS_TEXT_SIZE] = {};
    LSStrFormat(szPartner, sizeof(szPartner), DLS_TXT_SAFEFILE_EXISTS(), m_dir.File("Partner.xmk").c_str());
    char szTooLong[LS_TEXT_SIZE] = {};
    LSStrFormat(szTooLong, sizeof(szTooLong), DLS_TXT_SAFEPATH_TOOLONG(), 255);
    const Case cases[] = {
        {"another file of that name", m_dir.File("Taken.xml"), szTaken},
        {"another file of the companion's name", m_dir.File("Partner.xml"), szPartner},
        {"a path too long to keep", m_dir.File(longName + ".xml"), szTooLong},
        {"a folder that is not there", m_dir.File("no such folder\\Safe.xml"), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::string told;
        const bool bResult = MoveTo(c.target, &told);
        if (c.pszTold) {
            EXPECT_TRUE(bResult) << "a refusal the user can act on is no failure";
            EXPECT_EQ(told.find(DLS_MSGBOX_CAPTION_NOTICE()), 0u) << told;
            EXPECT_NE(told.find(c.pszTold), std::string::npos) << told;
        } else {
            EXPECT_FALSE(bResult);
            EXPECT_EQ(told.find(DLS_MSGBOX_CAPTION_ERROR()), 0u) << told;
            EXPECT_NE(told.find("TfrmDlgSafe::DoChangeTresorFile failed!"), std::string::npos) << told;
        }
        EXPECT_EQ(ktxtest::ReadFileBytes(from), bytes);
        EXPECT_EQ(ktxtest::ReadFileBytes(m_dir.File("Safe.xmk")), "companion");
        EXPECT_EQ(ktxtest::ReadFileBytes(m_dir.File("Taken.xml")), "someone else's file");
        EXPECT_EQ(ktxtest::ReadFileBytes(m_dir.File("Partner.xmk")), "someone else's companion");
        EXPECT_FALSE(ktxtest::FileExists(m_dir.File("Partner.xml")));
        EXPECT_EQ(std::string(m_szPath), from);
        EXPECT_EQ(ConfiguredSafe(), from);
    }
}

}  // namespace
