// The start-up form built in this process with a real owner handle: the
// installed-version record, the shortcuts in the link table and the Start
// menu, and the certificate manager after an update, all against the real
// registry, shell links and shared dialogs.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Dlgdosafe.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LayoutCheck.h"
#include "StartUpSupport.h"
#include "TestSupport.h"
#include "ToolsFixture.h"
#include "UiDriver.h"

using namespace startuptest;
namespace ui = ktxtest::ui;

namespace {

constexpr char kClassBox[] = "#32770";
constexpr char kClassCertMgr[] = "TfrmCertificateMgr";

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return s;
}

// Whether an answer found its window: the code under test blocks while the
// window is up, so once it returns the answer has seen every window it showed.
bool Shown(const ui::Answer& answer)
{
    return answer.Window() != nullptr;
}

std::string ProgramPath()
{
    return ktxtest::ModuleDir() + "\\KTSafe.exe";
}

class StartUpForm : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pOwner = GetLSOwnerHandle("test_ktsafe.exe");
        ASSERT_NE(m_pOwner, nullptr);
    }
    void TearDown() override
    {
        delete m_pForm;
        m_pForm = nullptr;
        FreeLSOwnerHandle(m_pOwner);
    }
    // Builds the form (its bookkeeping runs now).
    TfrmDoSafe* Build()
    {
        delete m_pForm;
        m_pForm = new TfrmDoSafe(m_pOwner, Application);
        return m_pForm;
    }

    CleanInstallState m_state;
    TLSOwner* m_pOwner = nullptr;
    TfrmDoSafe* m_pForm = nullptr;
};

}  // namespace

TEST_F(StartUpForm, KeepsItselfInTheOwnerUntilDestroyed)
{
    PrepareQuietStart();
    TfrmDoSafe* pForm = Build();
    EXPECT_EQ(m_pOwner->pStartUpForm, static_cast<void*>(static_cast<TForm*>(pForm)));
    EXPECT_EQ(pForm->pOwner, m_pOwner);
    EXPECT_EQ(pForm->pErrHandler, &m_pOwner->rErrHandler);
    EXPECT_TRUE(pForm->bActive);
    EXPECT_FALSE(pForm->bVersionChanged);
    EXPECT_EQ(pForm->ClassName(), "TfrmDoSafe");
    EXPECT_EQ(pForm->Caption(), DLS_GLOBAL_CAPTION_Vornix());
    EXPECT_EQ(pForm->lblStart->Caption(), DLS_LINK_CAPTION_SAFE());
    EXPECT_NE(pForm->img_qov_StartLogo->Bitmap(), nullptr);
    EXPECT_FALSE(pForm->tmrStartUp->Enabled());
    EXPECT_EQ(pForm->tmrStartUp->Interval(), 140u);
    EXPECT_FALSE(m_pOwner->rErrHandler.bFailed);
    delete m_pForm;
    m_pForm = nullptr;
    EXPECT_EQ(m_pOwner->pStartUpForm, nullptr);
}

TEST_F(StartUpForm, VersionRecord)
{
    PrepareQuietStart();
    TfrmDoSafe* pForm = Build();
    struct Case {
        const char* pszStored;   // null: missing
        bool bChanged;
        const char* pszAfter;
    } cases[] = {
        {nullptr, true, "5.03a"}, {"", true, "5.03a"},     {"5.02", true, "5.03a"},
        {"5.03a", false, "5.03a"}, {"5.03A", false, "5.03A"}, {"undefined", true, "5.03a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszStored ? c.pszStored : "(missing)");
        if (c.pszStored) {
            ASSERT_TRUE(WriteVersion(c.pszStored));
        } else {
            RegDeleteKeyValueA(HKEY_CURRENT_USER, "software\\vornix\\KTX", "ktxresorver");
        }
        EXPECT_EQ(pForm->DoCheckAndSetVersion(false), c.bChanged);
        bool bFound = false;
        EXPECT_EQ(ReadVersion(&bFound), c.pszAfter);
        EXPECT_TRUE(bFound);
    }
    // A reset always reports success and leaves "undefined".
    EXPECT_TRUE(pForm->DoCheckAndSetVersion(true));
    EXPECT_EQ(ReadVersion(nullptr), "undefined");
}

// What building the form does with the shortcuts, by installation state.
TEST_F(StartUpForm, ShortcutsByInstallationState)
{
    struct Case {
        const char* pszName;
        bool bVersionStored, bLinkTableDir, bUpdateOption, bStartMenuLinkBefore, bAnswerYes;
        bool bLinkMade, bAsked, bCertMgr, bStartMenuLinkAfter;
    } cases[] = {
        {"first start, yes", false, false, false, false, true, true, true, true, true},
        {"first start, no", false, false, false, false, false, true, true, true, false},
        {"first start, Start menu link present", false, false, false, true, true, true, false, true, true},
        {"unchanged", true, true, false, false, true, false, false, false, false},
        {"link table folder deleted", true, false, false, false, true, true, true, false, true},
        {"refresh option set", true, true, true, false, false, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CleanInstallState state;
        if (c.bVersionStored) { ASSERT_TRUE(WriteVersion("5.03a")); }
        CreateDirectoryA(toolstest::UserDataDir().c_str(), nullptr);
        if (c.bLinkTableDir) { ASSERT_TRUE(CreateDirectoryA(LinkTableDir().c_str(), nullptr)); }
        ASSERT_TRUE(SetUpdateOption(c.bUpdateOption));
        if (c.bStartMenuLinkBefore) { ASSERT_TRUE(ktxtest::WriteFileBytes(StartMenuLink(), "kept")); }

        ui::Answer question({kClassBox}, ui::PressId(c.bAnswerYes ? IDYES : IDNO), 20000);
        ui::Answer certMgr({kClassCertMgr}, ui::Press(DLS_DLG_BTN_CANCEL()), 20000);
        TfrmDoSafe* pForm = Build();

        EXPECT_EQ(pForm->bVersionChanged, !c.bVersionStored);
        EXPECT_EQ(ReadVersion(nullptr), "5.03a");
        EXPECT_EQ(Shown(question), c.bAsked);
        if (c.bAsked) {
            EXPECT_TRUE(question.Wait());
            EXPECT_EQ(question.Caption(), DLS_LINK_CAPTION_SAFE());
            EXPECT_NE(question.Text().find(DLS_VORNIX_SETUP_ASKDESKTOPADD()), std::string::npos) << question.Text();
        }
        EXPECT_EQ(Shown(certMgr), c.bCertMgr);
        if (c.bCertMgr) {
            EXPECT_TRUE(certMgr.Wait());
        }
        EXPECT_TRUE(DirExists(LinkTableDir()));
        EXPECT_EQ(ktxtest::FileExists(LinkTableFile()), c.bLinkMade);
        if (c.bLinkMade) { EXPECT_EQ(Lower(LinkTarget(LinkTableFile())), Lower(ProgramPath())); }
        EXPECT_EQ(ktxtest::FileExists(StartMenuLink()), c.bStartMenuLinkAfter);
        if (c.bStartMenuLinkBefore) {
            EXPECT_EQ(ktxtest::ReadFileBytes(StartMenuLink()), "kept") << "an existing link is left alone";
        } else if (c.bStartMenuLinkAfter) {
            EXPECT_EQ(Lower(LinkTarget(StartMenuLink())), Lower(ProgramPath()));
        }
        // The building ends with a clean error record, whatever the manager did.
        EXPECT_FALSE(m_pOwner->rErrHandler.bFailed);
        EXPECT_FALSE(pForm->bCancel);
        delete m_pForm;
        m_pForm = nullptr;
    }
}

// A caption that would name a file outside the link table is refused.
TEST_F(StartUpForm, LinkCaptionMustBeAPlainName)
{
    PrepareQuietStart();
    TfrmDoSafe* pForm = Build();
    ASSERT_TRUE(SetUpdateOption(true));
    for (const char* pszCaption : {"..\\..\\escape", "a/b", "..", "", "C:evil"}) {
        SCOPED_TRACE(pszCaption);
        ui::Answer question({kClassBox}, ui::PressId(IDNO), 2000);
        EXPECT_FALSE(pForm->DoCheckAndCreateMgrLink(pszCaption, TfrmDoSafe::LINK_ICON, false));
        EXPECT_FALSE(Shown(question));
    }
    EXPECT_FALSE(pForm->DoCheckAndCreateMgrLink(nullptr, TfrmDoSafe::LINK_ICON, false));
    std::string escaped = toolstest::UserDataDir() + "\\escape.lnk";
    EXPECT_FALSE(ktxtest::FileExists(escaped));
}

TEST_F(StartUpForm, DeactivationRemovesBothLinksAndResetsTheVersion)
{
    PrepareQuietStart();
    TfrmDoSafe* pForm = Build();
    {
        ui::Answer question({kClassBox}, ui::PressId(IDYES));
        // The refresh option makes the links again.
        ASSERT_TRUE(SetUpdateOption(true));
        ASSERT_TRUE(pForm->DoCheckAndCreateMgrLink(DLS_LINK_CAPTION_SAFE(), TfrmDoSafe::LINK_ICON, false));
        ASSERT_TRUE(question.Wait());
        ASSERT_TRUE(SetUpdateOption(false));
    }
    ASSERT_TRUE(ktxtest::FileExists(LinkTableFile()));
    ASSERT_TRUE(ktxtest::FileExists(StartMenuLink()));

    ui::Answer unexpected({kClassBox}, ui::PressId(IDNO), 3000);
    EXPECT_TRUE(pForm->DoDeactivate());
    EXPECT_FALSE(Shown(unexpected)) << "a deactivation asks nothing";
    EXPECT_FALSE(ktxtest::FileExists(LinkTableFile()));
    EXPECT_FALSE(ktxtest::FileExists(StartMenuLink()));
    EXPECT_EQ(ReadVersion(nullptr), "undefined");
    EXPECT_FALSE(pForm->Visible());
}

namespace {

// Selects exactly the rows with these subjects in the manager's list.
void SelectSubjects(HWND hDialog, const std::vector<std::string>& subjects)
{
    HWND hList = ui::FindControlByClass(hDialog, WC_LISTVIEWA);
    ui::Focus(hList);
    LVITEMA lvi{};
    lvi.stateMask = LVIS_SELECTED;
    SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&lvi));
    for (int i = 0; i < ui::ListCount(hList); ++i) {
        if (std::find(subjects.begin(), subjects.end(), ui::ListItemText(hList, i, 0)) == subjects.end()) continue;
        lvi.state = LVIS_SELECTED | LVIS_FOCUSED;
        lvi.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&lvi));
    }
}

std::string StoredEncCert()
{
    BYTE ab[64] = {};
    DWORD cb = sizeof(ab);
    if (RegGetValueA(HKEY_CURRENT_USER, "software\\vornix\\KTX\\Crypt", "EncCert", RRF_RT_REG_BINARY, nullptr, ab,
                     &cb) != ERROR_SUCCESS)
        return std::string();
    return std::string(reinterpret_cast<char*>(ab), cb);
}

}  // namespace

// Exactly one chosen certificate is stored; several count as a cancel, as
// does the cancel button: nothing stored, no message.
TEST_F(StartUpForm, CertificateManagerStoresExactlyOneChoice)
{
    PrepareQuietStart();
    toolstest::TestCert a, b;
    ASSERT_TRUE(a.Create("KTX StartUp Alpha"));
    ASSERT_TRUE(b.Create("KTX StartUp Beta"));
    TfrmDoSafe* pForm = Build();
    struct Case {
        std::vector<std::string> choose;
        bool bOk;
        bool bResult, bCancel, bStored;
    } cases[] = {
        {{"KTX StartUp Beta"}, false, false, true, false},
        {{"KTX StartUp Alpha", "KTX StartUp Beta"}, true, false, true, false},
        {{"KTX StartUp Beta"}, true, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.choose.size()) + (c.bOk ? " chosen" : " selected, cancelled"));
        RegDeleteKeyValueA(HKEY_CURRENT_USER, "software\\vornix\\KTX\\Crypt", "EncCert");
        ui::Answer manager({kClassCertMgr}, [&](HWND h) {
            SelectSubjects(h, c.choose);
            return ui::PressButton(h, c.bOk ? DLS_DLG_BTN_OK() : DLS_DLG_BTN_CANCEL());
        }, 20000);
        ui::Answer message({kClassBox}, ui::PressId(IDOK), 20000);
        EXPECT_EQ(pForm->DoCertificateManager(), c.bResult);
        EXPECT_TRUE(manager.Wait());
        EXPECT_EQ(pForm->bCancel, c.bCancel);
        EXPECT_FALSE(Shown(message)) << message.Text();
        EXPECT_EQ(StoredEncCert(), c.bStored ? std::string(reinterpret_cast<const char*>(b.Thumbprint()), 20)
                                             : std::string());
    }
}

// Shown, the form's timer runs the action of the last argument once and
// closes the form; meanwhile the form is the parent of library dialogs, and
// the owner's earlier parent comes back when it closes.
TEST_F(StartUpForm, TimerRunsTheActionWithTheFormAsDialogParent)
{
    PrepareQuietStart();
    HWND hEarlier = CreateWindowExA(0, "STATIC", "earlier parent", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(hEarlier, nullptr);
    struct Case {
        const char* pszLast;
        bool bManager;
    } cases[] = {{"unknown", false}, {"/certificatemanager", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszLast);
        TfrmDoSafe* pForm = Build();
        char szProgram[] = "KTSafe.exe";
        char szLast[64] = {};
        lstrcpynA(szLast, c.pszLast, sizeof(szLast));
        char* apszArgv[] = {szProgram, szLast};
        pForm->ppszArgv = apszArgv;
        pForm->nArgc = 2;
        m_pOwner->hOwnerWnd = hEarlier;

        HWND hSlotDuring = nullptr;
        std::string labelDuring;
        ui::Answer manager({kClassCertMgr}, [&](HWND h) {
            hSlotDuring = m_pOwner->hOwnerWnd;
            labelDuring = pForm->lblStart->Caption();
            return ui::PressButton(h, DLS_DLG_BTN_CANCEL());
        }, 20000);
        pForm->Show();
        EXPECT_TRUE(ktxtest::WaitFor([&] { return !pForm->Visible(); }, 20000)) << "the form closes after its action";
        EXPECT_FALSE(pForm->tmrStartUp->Enabled());
        EXPECT_EQ(Shown(manager), c.bManager);
        if (c.bManager) {
            EXPECT_TRUE(manager.Wait());
            EXPECT_EQ(hSlotDuring, pForm->Handle());
            EXPECT_EQ(labelDuring, DLS_LINK_CAPTION_CERTMGR());
        }
        EXPECT_EQ(m_pOwner->hOwnerWnd, hEarlier);
        EXPECT_EQ(ReadVersion(nullptr), "5.03a");
        delete m_pForm;
        m_pForm = nullptr;
    }
    m_pOwner->hOwnerWnd = nullptr;
    DestroyWindow(hEarlier);
}

// The banner as a user sees it, in the language of the run: both of its
// texts fit, with screenshots.
TEST_F(StartUpForm, TheBannersTextsFit)
{
    const char* expected = getenv("KTX_EXPECT_LANG");
    if (expected && *expected) EXPECT_EQ(atoi(expected), DLS_LANG_ID()) << "the language of this run";
    PrepareQuietStart();
    TfrmDoSafe* pForm = Build();
    // Shown as the banner, without the start-up work its timer begins.
    pForm->Show();
    pForm->tmrStartUp->SetEnabled(false);
    const std::string lang = DLS_LANG_ID() == LS_LANG_GERMAN ? "de" : "en";
    for (const char* pszText : {DLS_LINK_CAPTION_SAFE(), DLS_LINK_CAPTION_CERTMGR()}) {
        SCOPED_TRACE(pszText);
        pForm->lblStart->SetCaption(pszText);
        ui::Pump(200);
        for (const std::string& problem : ktxtest::LayoutProblems(pForm)) ADD_FAILURE() << problem;
        EXPECT_FALSE(ui::Screenshot(std::string("startup-banner-") +
                                        (pszText == DLS_LINK_CAPTION_SAFE() ? "safe-" : "certmgr-") + lang,
                                    pForm->Handle())
                         .empty());
    }
    pForm->Hide();
}
