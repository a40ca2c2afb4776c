// The safe dialog shown and closed: the owner's window slot, the stored
// window rectangle, how it was closed, the change notification from another
// thread and from another listener, the log viewer and the pickup of a
// password from the generator window.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "SafeDlgFixture.h"
#include "TestSupport.h"
#include "UiDriver.h"

using namespace safetest;
namespace ui = ktxtest::ui;
using ktxtest::WaitFor;

namespace {

class SafeDlgRun : public SafeDlgFixture {};

TEST_F(SafeDlgRun, OwnerSlotTakenWhileShownAndRestoredAtClose)
{
    EXPECT_EQ(m_pOwner->hOwnerWnd, m_hPrevSlot) << "building the dialog leaves the slot alone";
    ShowAndStart();
    EXPECT_NE(m_pDlg->nNotifyThread, 0u) << "showing starts the change notification";
    EXPECT_EQ(m_pDlg->hPrevOwnerWnd, m_hPrevSlot);

    m_pDlg->SetBounds(130, 110, 740, 310);
    ASSERT_TRUE(ui::Click(m_pDlg->btnClose->Handle()));
    EXPECT_FALSE(m_pDlg->Visible());
    EXPECT_EQ(m_pOwner->hOwnerWnd, m_hPrevSlot);
    EXPECT_EQ(m_pDlg->nNotifyThread, 0u) << "closing stops the change notification";

    // The rectangle at close is stored under the dialog's key.
    int l = 0, t = 0, w = 0, h = 0;
    ASSERT_TRUE(TVornixReg::QOVGetWindowsRect(m_pOwner, kSafeKey, &l, &t, &w, &h, nullptr));
    EXPECT_EQ(l, 130);
    EXPECT_EQ(t, 110);
    EXPECT_EQ(w, 740);
    EXPECT_EQ(h, 310);

    // Shown again, the dialog takes the slot again and gives back the same window.
    ShowAndStart();
    m_pDlg->Close();
    EXPECT_EQ(m_pOwner->hOwnerWnd, m_hPrevSlot);
}

TEST_F(SafeDlgRun, DestroyingAShownDialogRestoresTheSlotAndStopsListening)
{
    ShowAndStart();
    ASSERT_NE(m_pDlg->nNotifyThread, 0u);
    TfrmDlgSafe* pDlg = m_pDlg;
    m_pDlg = nullptr;
    delete pDlg;
    EXPECT_EQ(m_pOwner->hOwnerWnd, m_hPrevSlot);
    // A notification after the dialog is gone reaches nobody.
    EXPECT_TRUE(DoSetLSNotifyEvent(m_pOwner, 0x100, true));
    ui::Pump(200);
}

TEST_F(SafeDlgRun, ClosedBeforeStartUpLeavesTheSlotAlone)
{
    m_pDlg->Show();
    m_pDlg->Close();
    ui::Pump(300);
    EXPECT_EQ(m_pOwner->hOwnerWnd, m_hPrevSlot);
}

enum class CloseBy { CloseButton, SaveItem, CancelItem };

struct CloseCase {
    const char* pszName;
    CloseBy how;
    int nExpected;
};

TEST_F(SafeDlgRun, CloseModeFollowsTheWayOfClosing)
{
    const CloseCase cases[] = {
        {"btnClose", CloseBy::CloseButton, 4},
        {"pumSpeichern", CloseBy::SaveItem, 4},
        {"pumAbbruch", CloseBy::CancelItem, 6},
    };
    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        Recreate();
        m_pDlg->nCloseMode = 0;
        ShowAndStart();
        switch (c.how) {
        case CloseBy::CloseButton:
            ASSERT_TRUE(ui::Click(m_pDlg->btnClose->Handle()));
            break;
        case CloseBy::SaveItem:
            // Offered once an entry has changed; chosen like any menu item.
            m_pDlg->pumSpeichern->SetVisible(true);
            m_pDlg->pumSpeichern->SetEnabled(true);
            ASSERT_TRUE(ui::ChooseContextMenuItem(m_pDlg->lstvBezeichnung->Handle(), DLS_BTN_SPEICHERN()));
            break;
        case CloseBy::CancelItem: {
            std::vector<std::string> shown;
            ASSERT_TRUE(ui::ChooseContextMenuItem(m_pDlg->lstvBezeichnung->Handle(), DLS_BTN_CANCEL(), &shown));
            const std::string off = "(disabled)";
            const std::vector<std::string> expected = {
                DLS_PUM_NEUER_EINTRAG(),           std::string(DLS_PUM_EINTRAG_RENAME()) + off,
                std::string(DLS_PUM_EINTRAG_LOESCHEN()) + off, DLS_PUM_KEY_GENERATOR(),
                "-",                                DLS_PUM_CHANGEPASSWORD(),
                DLS_PUM_CHANGETRESORFILE(),        "-",
                DLS_BTN_CANCEL()};
            EXPECT_EQ(shown, expected);
            break;
        }
        }
        EXPECT_TRUE(WaitFor([&] { return !m_pDlg->Visible(); }, 5000));
        EXPECT_EQ(m_pDlg->nCloseMode, c.nExpected);
        EXPECT_EQ(m_pOwner->hOwnerWnd, m_hPrevSlot);
        EXPECT_EQ(m_pDlg->nNotifyThread, 0u);
    }
}

TEST_F(SafeDlgRun, StoringAnEntryWithoutASafeStoresNothing)
{
    // Without a selection there is nothing to store.
    m_pOwner->rErrHandler.bFailed = true;
    EXPECT_TRUE(m_pDlg->DoEncCryptItem(nullptr, 4));
    EXPECT_FALSE(m_pOwner->rErrHandler.bFailed);

    // No safe is open, so the document holds no such entry: nothing is
    // stored and nothing is shown.
    TListItem* pItem = m_pDlg->lstvBezeichnung->Items()->Add("mail");
    EXPECT_TRUE(m_pDlg->DoEncCryptItem(pItem, 4));
    EXPECT_TRUE(m_pDlg->bCancel);

    // Selecting it reads the entry, which the empty document does not hold:
    // the failure is shown. Closing with a selected entry hands it to the
    // store and still closes.
    {
        ui::Answer failure({"#32770"}, ui::PressId(IDOK));
        pItem->SetSelected(true);
        EXPECT_TRUE(failure.Wait());
    }
    ShowAndStart();
    m_pDlg->Close();
    EXPECT_FALSE(m_pDlg->Visible());
    EXPECT_EQ(m_pOwner->hOwnerWnd, m_hPrevSlot);
}

struct NotifyCase {
    DWORD dwFlags;
    bool bRefresh;
    DWORD dwFlagsAfter;
};

TEST_F(SafeDlgRun, NotificationCallbackFromAnotherThread)
{
    const NotifyCase cases[] = {
        {0x100, true, 0},
        {0x301, true, 0x201},
        {0x200, false, 0x200},
        {0x001, false, 0x001},
        {0, false, 0},
    };
    for (const NotifyCase& c : cases) {
        SCOPED_TRACE(c.dwFlags);
        m_pDlg->btnNeuerEintrag->SetEnabled(false);
        DWORD dwFlags = c.dwFlags;
        bool bResult = false;
        std::thread listener([&] { bResult = TfrmDlgSafe::LSNotifyCallback(m_pOwner, &dwFlags, m_pDlg); });
        listener.join();
        EXPECT_TRUE(bResult);
        EXPECT_EQ(dwFlags, c.dwFlagsAfter);
        if (c.bRefresh) {
            EXPECT_TRUE(WaitFor([&] { return m_pDlg->btnNeuerEintrag->Enabled(); }, 5000))
                << "the update timer did not refresh the dialog";
            EXPECT_TRUE(WaitFor([&] { return !m_pDlg->tmrLSUpdate->Enabled(); }, 5000));
        } else {
            EXPECT_FALSE(m_pDlg->tmrLSUpdate->Enabled());
            ui::Pump(300);
            EXPECT_FALSE(m_pDlg->btnNeuerEintrag->Enabled());
        }
    }

    // Without flags or without a dialog nothing happens.
    EXPECT_FALSE(TfrmDlgSafe::LSNotifyCallback(m_pOwner, nullptr, m_pDlg));
    DWORD dwFlags = 0x100;
    EXPECT_FALSE(TfrmDlgSafe::LSNotifyCallback(m_pOwner, &dwFlags, nullptr));
    EXPECT_EQ(dwFlags, 0x100u);
    EXPECT_FALSE(m_pDlg->tmrLSUpdate->Enabled());
}

TEST_F(SafeDlgRun, ChangeSignalledByAnotherComponentRefreshesTheShownDialog)
{
    ShowAndStart();
    m_pDlg->btnNeuerEintrag->SetEnabled(false);
    m_pDlg->pumNeuerEintrag->SetEnabled(false);
    TLSOwner* pOther = GetLSOwnerHandle("KTXOther.EXE");
    ASSERT_NE(pOther, nullptr);
    EXPECT_TRUE(DoSetLSNotifyEvent(pOther, 0x100, false));
    EXPECT_TRUE(WaitFor([&] { return m_pDlg->btnNeuerEintrag->Enabled(); }, 10000));
    EXPECT_TRUE(m_pDlg->pumNeuerEintrag->Enabled());

    // Another component's other events leave the dialog alone.
    m_pDlg->btnNeuerEintrag->SetEnabled(false);
    EXPECT_TRUE(DoSetLSNotifyEvent(pOther, 0x200, false));
    ui::Pump(500);
    EXPECT_FALSE(m_pDlg->btnNeuerEintrag->Enabled());
    FreeLSOwnerHandle(pOther);
}

TEST_F(SafeDlgRun, OnLSChange)
{
    // Without notify: nothing is signalled and nothing refreshed.
    m_pDlg->btnNeuerEintrag->SetEnabled(false);
    m_pOwner->rErrHandler.bFailed = true;
    EXPECT_TRUE(m_pDlg->OnLSChange(false));
    EXPECT_FALSE(m_pDlg->btnNeuerEintrag->Enabled());
    EXPECT_TRUE(m_pOwner->rErrHandler.bFailed) << "nothing ran, not even the clearing";

    // With notify: signalled and refreshed here at once.
    EXPECT_TRUE(m_pDlg->OnLSChange(true));
    EXPECT_TRUE(m_pDlg->btnNeuerEintrag->Enabled());
    EXPECT_FALSE(m_pOwner->rErrHandler.bFailed);
}

TEST_F(SafeDlgRun, RefreshRestoresTheEnabledStateAndIsNotReentered)
{
    ShowAndStart();
    for (bool bEnabled : {true, false}) {
        SCOPED_TRACE(bEnabled);
        m_pDlg->SetEnabled(bEnabled);
        m_pDlg->btnNeuerEintrag->SetEnabled(false);
        EXPECT_TRUE(m_pDlg->DoLSUpdate());
        EXPECT_TRUE(m_pDlg->btnNeuerEintrag->Enabled());
        EXPECT_EQ(m_pDlg->Enabled(), bEnabled);
        EXPECT_EQ(IsWindowEnabled(m_pDlg->Handle()) != FALSE, bEnabled);
        EXPECT_FALSE(m_pDlg->bUpdating);
    }
    m_pDlg->SetEnabled(true);

    // A refresh requested while one runs is skipped.
    m_pDlg->btnNeuerEintrag->SetEnabled(false);
    m_pDlg->bUpdating = true;
    EXPECT_TRUE(m_pDlg->DoLSUpdate());
    EXPECT_FALSE(m_pDlg->btnNeuerEintrag->Enabled());
    EXPECT_TRUE(m_pDlg->Enabled());
    m_pDlg->bUpdating = false;
}

TEST_F(SafeDlgRun, LogViewerRunsOnceAtATime)
{
    EndViewers();
    ASSERT_TRUE(m_pDlg->pLog->Msg(2, "a line to show"));
    ShowAndStart();

    ASSERT_TRUE(m_pDlg->DoShowSafeLog()) << m_pOwner->rErrHandler.szDetail;
    EXPECT_TRUE(m_pDlg->bLogViewerRunning);
    std::vector<DWORD> first;
    ASSERT_TRUE(WaitFor([&] { return !(first = ViewerProcesses()).empty(); }, 10000));
    ASSERT_EQ(first.size(), 1u);

    ASSERT_TRUE(m_pDlg->DoShowSafeLog()) << m_pOwner->rErrHandler.szDetail;
    EXPECT_TRUE(ProcessEnded(first[0], 10000)) << "the first viewer still runs";
    std::vector<DWORD> second;
    ASSERT_TRUE(WaitFor([&] { return !(second = ViewerProcesses()).empty(); }, 10000));
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], first[0]);

    // The dialog ends its viewer when it goes.
    delete m_pDlg;
    m_pDlg = nullptr;
    EXPECT_TRUE(ProcessEnded(second[0], 10000)) << "the viewer outlived the dialog";
}

// The full path of the program file of a running process.
std::string ImagePathOf(DWORD pid)
{
    std::string path;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) return path;
    char sz[2 * MAX_PATH] = "";
    DWORD cch = sizeof(sz);
    if (QueryFullProcessImageNameA(h, 0, sz, &cch)) path.assign(sz, cch);
    CloseHandle(h);
    return path;
}

// The process's current folder for one scope.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::string& path)
    {
        GetCurrentDirectoryA(sizeof(m_szBefore), m_szBefore);
        m_bSet = SetCurrentDirectoryA(path.c_str()) != FALSE;
    }
    ~CurrentFolder() { SetCurrentDirectoryA(m_szBefore); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;
    bool Set() const { return m_bSet; }

private:
    char m_szBefore[MAX_PATH] = "";
    bool m_bSet = false;
};

// A notepad.exe in the current folder (a folder the user browsed to, a
// download folder) is never started in place of the Windows folder's viewer.
TEST_F(SafeDlgRun, LogViewerIsNeverAProgramOfThatNameInTheCurrentFolder)
{
    EndViewers();
    ASSERT_TRUE(m_pDlg->pLog->Msg(2, "a line to show"));
    char szWindows[MAX_PATH] = "", szSystem[MAX_PATH] = "";
    ASSERT_GT(GetWindowsDirectoryA(szWindows, sizeof(szWindows)), 0u);
    ASSERT_GT(GetSystemDirectoryA(szSystem, sizeof(szSystem)), 0u);
    const std::string inWindows = std::string(szWindows) + "\\notepad.exe";
    const std::string inSystem = std::string(szSystem) + "\\notepad.exe";
    const std::string& original = GetFileAttributesA(inWindows.c_str()) != INVALID_FILE_ATTRIBUTES ? inWindows : inSystem;

    // A copy of the viewer planted in the current folder: a process started
    // from it has the same name but another image path.
    ktxtest::TempDir dir;
    const std::string planted = dir.File("notepad.exe");
    ASSERT_TRUE(CopyFileA(original.c_str(), planted.c_str(), FALSE));
    CurrentFolder cwd(dir.Path());
    ASSERT_TRUE(cwd.Set());
    ShowAndStart();

    ASSERT_TRUE(m_pDlg->DoShowSafeLog()) << m_pOwner->rErrHandler.szDetail;
    std::vector<DWORD> viewers;
    ASSERT_TRUE(WaitFor([&] { return !(viewers = ViewerProcesses()).empty(); }, 10000));
    ASSERT_EQ(viewers.size(), 1u);
    const std::string image = ImagePathOf(viewers[0]);
    ASSERT_FALSE(image.empty());
    EXPECT_NE(lstrcmpiA(image.c_str(), planted.c_str()), 0) << "the planted program ran";
    EXPECT_TRUE(lstrcmpiA(image.c_str(), inWindows.c_str()) == 0 || lstrcmpiA(image.c_str(), inSystem.c_str()) == 0)
        << image;

    // The dialog ends its viewer before the planted copy's folder goes.
    delete m_pDlg;
    m_pDlg = nullptr;
    EXPECT_TRUE(ProcessEnded(viewers[0], 10000));
}

TEST_F(SafeDlgRun, LogViewerCommandThatDoesNotFitIsRefused)
{
    EndViewers();
    // A log path of 245 characters: with the viewer's name and the quotation
    // marks the command line would not fit 255 characters.
    std::string path = "C:\\";
    while (path.size() < 236) path += "k";
    path += "\\Safe.log";
    ASSERT_EQ(path.size(), 245u);
    ASSERT_TRUE(m_pDlg->pLog->Init(path.c_str(), kSafeKey, 0));
    ASSERT_EQ(std::string(m_pDlg->pLog->GetLogFilNam()), path);
    ShowAndStart();

    ui::Answer answer({"#32770"}, ui::PressId(IDOK));
    EXPECT_FALSE(m_pDlg->DoShowSafeLog());
    ASSERT_TRUE(answer.Wait());
    EXPECT_NE(answer.Text().find("TfrmDlgSafe::DoShowSafeLog failed!"), std::string::npos) << answer.Text();
    EXPECT_FALSE(m_pDlg->bLogViewerRunning);
    ui::Pump(300);
    EXPECT_TRUE(ViewerProcesses().empty());
}

// The generator window finished with a password of nLength characters.
std::string GeneratePassword(TfrmPasswordManager* pGen, int nLength)
{
    pGen->udAnzahl->SetPosition(nLength);
    EXPECT_TRUE(pGen->DoCreatePassword());
    for (int i = 0; pGen->IsGenerating() && i < 10 * nLength; ++i) {
        pGen->tmrKeyGeneratorTimer(pGen->tmrKeyGenerator);
        pGen->DoAddMouseChar(20 + i, 30 + i);
    }
    EXPECT_FALSE(pGen->IsGenerating());
    return EditText(pGen->edPasswort);
}

struct PickupCase {
    const char* pszName;
    bool bSelected;
    bool bYes;
};

TEST_F(SafeDlgRun, GeneratedPasswordIsOfferedWhenFinished)
{
    const PickupCase cases[] = {
        {"yes without a selection", false, true},
        {"yes with a selection", true, true},
        {"no", true, false},
    };
    for (const PickupCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        Recreate();
        if (c.bSelected) {
            // No safe is open: reading the selected entry fails and is shown.
            ui::Answer failure({"#32770"}, ui::PressId(IDOK));
            m_pDlg->lstvBezeichnung->Items()->Add("mail")->SetSelected(true);
            EXPECT_TRUE(failure.Wait());
        }
        m_pDlg->editPasswort->SetTextBuf("old");
        // The shown text counts as unchanged: only the pickup may enable saving.
        m_pDlg->pumSpeichern->SetEnabled(false);
        m_pDlg->btnSave->SetEnabled(false);
        ShowAndStart();
        TfrmPasswordManager* pGen = m_pDlg->pPasswordManager;
        pGen->DoReset();
        pGen->Show();

        // While the generator is still generating nothing is offered.
        pGen->udAnzahl->SetPosition(12);
        ASSERT_TRUE(pGen->DoCreatePassword());
        m_pDlg->tmrGetPassword->SetEnabled(true);
        ui::Pump(400);
        EXPECT_TRUE(m_pDlg->tmrGetPassword->Enabled());
        EXPECT_EQ(EditText(m_pDlg->editPasswort), "old");

        ui::Answer answer({"#32770"}, ui::PressId(c.bYes ? IDYES : IDNO));
        m_pDlg->tmrGetPassword->SetEnabled(false);
        const std::string generated = GeneratePassword(pGen, 12);
        ASSERT_EQ(generated.size(), 12u);
        m_pDlg->tmrGetPassword->SetEnabled(true);
        ASSERT_TRUE(answer.Wait());
        EXPECT_NE(answer.Text().find(generated), std::string::npos) << answer.Text();

        EXPECT_EQ(EditText(pGen->edPasswort), "") << "the generator is reset either way";
        EXPECT_TRUE(pGen->btnCreatPwd->Enabled());
        if (c.bYes) {
            EXPECT_EQ(EditText(m_pDlg->editPasswort), generated);
            EXPECT_FALSE(pGen->Visible());
            EXPECT_EQ(m_pDlg->pumSpeichern->Enabled(), c.bSelected);
            EXPECT_EQ(m_pDlg->btnSave->Enabled(), c.bSelected);
            // With the generator gone the polling stops.
            EXPECT_TRUE(WaitFor([&] { return !m_pDlg->tmrGetPassword->Enabled(); }, 5000));
        } else {
            EXPECT_EQ(EditText(m_pDlg->editPasswort), "old");
            EXPECT_TRUE(pGen->Visible());
            EXPECT_TRUE(m_pDlg->tmrGetPassword->Enabled()) << "the generator is still watched";
            EXPECT_FALSE(m_pDlg->pumSpeichern->Enabled());
        }
        pGen->Close();
        m_pDlg->Close();
    }
}

}  // namespace
