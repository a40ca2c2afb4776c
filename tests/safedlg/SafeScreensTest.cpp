// The safe dialog as a user sees it at work, kept as screenshots among the
// test artefacts (in the language of the run): an entry with its password
// shown, and the progress of a password change over a large safe.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "KTXLANG.h"
#include "LSStr.h"
#include "SafeUnlockFixture.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

constexpr char kOld[] = "old typed secret";
constexpr char kNew[] = "new typed secret";

std::string LangSuffix()
{
    return DLS_LANG_ID() == LS_LANG_GERMAN ? "de" : "en";
}

class SafeScreens : public SafeUnlockFixture {
protected:
    void SetUp() override
    {
        SafeUnlockFixture::SetUp();
        const char* expected = getenv("KTX_EXPECT_LANG");
        if (expected && *expected) EXPECT_EQ(atoi(expected), DLS_LANG_ID()) << "the language of this run";
        ChooseCertificate();
    }
};

TEST_F(SafeScreens, AnEntryWithItsPasswordShown)
{
    const EntryFields fields = {"alice@example.org", "Tr0ub4dor&3 horse", "https://mail.example.org",
                                "Recovery codes are in the drawer."};
    WriteSafe({{"Mail", fields}, {"Bank", {"alice", "1234-5678", "https://bank.example", ""}}});
    Recreate();
    std::string shot;
    char chMask = '*';
    EntryFields shown;
    bool bCancel = false;
    EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
        const HWND hList = m_pDlg->lstvBezeichnung->Handle();
        for (int i = 0; i < ui::ListCount(hList); ++i)
            if (ui::ListItemText(hList, i) == "Mail") ui::SelectListItem(hList, i);
        ui::Click(m_pDlg->btnPasswortSichtbar->Handle());
        Sleep(300);
        chMask = static_cast<char>(SendMessageA(m_pDlg->editPasswort->Handle(), EM_GETPASSWORDCHAR, 0, 0));
        shown = ShownFields();
        shot = ui::Screenshot("safedlg-password-shown-" + LangSuffix(), hDlg);
        return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
    }));
    EXPECT_EQ(chMask, '\0') << "the password is shown in clear";
    EXPECT_EQ(shown, fields);
    EXPECT_FALSE(shot.empty());
}

TEST_F(SafeScreens, TheProgressOfAPasswordChangeOverALargeSafe)
{
    // One entry sealed under the old password, stored under many names (the
    // name in the record is never read back), written at once.
    constexpr int kCount = 1500;
    WriteSafe({{"E0000", {"user", "password", "https://example.org", "note"}}}, kOld, "LSVER300", LS_CRYPT_LEGACY);
    const Element sealed = SafeElements().at(0);
    {
        TXmlAPI doc(m_pOwner);
        ASSERT_TRUE(doc.New("LSVER300"));
        for (int i = 0; i < kCount; ++i) {
            char szPath[64] = {};
            char szName[64] = {};
            LSStrFormat(szPath, sizeof(szPath), "LSVER300.n%4.4d", i);
            LSStrFormat(szName, sizeof(szName), "Entry %04d", i);
            ASSERT_TRUE(doc.PPPS(szPath, sealed.text.c_str()));
            ASSERT_TRUE(doc.PutAtt(szPath, "hash", sealed.hash.c_str()));
            ASSERT_TRUE(doc.PutAtt(szPath, "name", szName));
        }
        ASSERT_TRUE(doc.Write(m_safe.c_str(), nullptr));
    }
    char szPath[LS_PATH_SIZE] = {};
    LSStrCopy(szPath, sizeof(szPath), m_safe.c_str());
    m_pDlg->pszSafeFile = szPath;
    m_pDlg->nCryptMode = LS_CRYPT_LEGACY;
    LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), kOld);
    ASSERT_TRUE(m_pDlg->DoLoadPassSequenz(kOld));
    ASSERT_TRUE(m_pDlg->pXml->Init(szPath));
    ShowAndStart();
    ASSERT_TRUE(m_pDlg->DoListSafe());

    // The progress window is photographed from a helper thread while the
    // change runs on this one.
    std::atomic<bool> bDone{false};
    std::string shot;
    std::vector<std::string> texts;
    bool bDisabled = false;
    std::thread watcher([&] {
        while (!bDone) {
            const HWND hProgress = ui::FindTopWindow({"TfrmDlgProgress"});
            if (hProgress) {
                // The line of the entry being worked on moves on.
                auto line = [&] {
                    std::string all;
                    for (HWND h : ui::Controls(hProgress)) all += ui::TextOf(h) + "\n";
                    return all;
                };
                Sleep(300);
                texts.push_back(line());
                Sleep(600);
                texts.push_back(line());
                bDisabled = !IsWindowEnabled(m_pDlg->Handle());
                shot = ui::Screenshot("safedlg-password-change-progress-" + LangSuffix());
                return;
            }
            Sleep(10);
        }
    });
    EXPECT_TRUE(m_pDlg->DoEncTresorWithNewPassword(m_pDlg->szPassword, kNew, false));
    bDone = true;
    watcher.join();
    m_pDlg->pszSafeFile = nullptr;

    EXPECT_FALSE(shot.empty()) << "the progress window was seen";
    EXPECT_TRUE(bDisabled) << "the safe dialog waits meanwhile";
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_NE(texts[0].find("Entry "), std::string::npos) << "the entry being worked on is shown\n" << texts[0];
    EXPECT_NE(texts[0], texts[1]) << "and the progress moves on";
    EXPECT_EQ(ui::FindTopWindow({"TfrmDlgProgress"}), nullptr) << "gone when done";
    EXPECT_TRUE(IsWindowEnabled(m_pDlg->Handle()));
    EXPECT_EQ(EntriesOpeningWith(kNew, LS_CRYPT_LEGACY), kCount);
}

}  // namespace
