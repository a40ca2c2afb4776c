// The standard message boxes, answered from a helper thread as a user would
// (the shared UI driver) while the test's thread is blocked in the box's modal loop.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Cmn32TestUtil.h"
#include "KTXCMN32.h"
#include "KTXLANG.h"
#include "TestSupport.h"
#include "UiDriver.h"
#include "WindowLook.h"

using namespace cmn32test;
namespace look = ktxtest::look;
using ktxtest::ui::Answer;

namespace {

std::string NoAmp(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c != '&') out += c;
    }
    return out;
}

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    return DefWindowProcA(h, m, w, l);
}

// A visible top-level window to own the boxes.
class ParentWindow {
public:
    ParentWindow(int x, int y)
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = PlainProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "Cmn32TestParent";
        RegisterClassA(&wc);
        m_h = CreateWindowExA(0, wc.lpszClassName, "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, 500, 400,
                              nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~ParentWindow()
    {
        if (m_h) DestroyWindow(m_h);
    }
    HWND Get() const { return m_h; }

private:
    HWND m_h;
};

class MsgBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(m_owner.Get(), nullptr);
        ClearLSError(m_owner.Err());
    }
    OwnerScope m_owner;
};

TEST_F(MsgBoxTest, ErrorMsgIsSilentOnSuccessAndOnCancel)
{
    TLSOwner* o = m_owner.Get();
    LS_DEF_ERROR(m_owner.Err(), false, "TTest::Earlier failed!");  // a record that must not be shown
    struct Case {
        bool bResult, bCancelled;
    } cases[] = {{true, false}, {true, true}, {false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bResult) + "/" + std::to_string(c.bCancelled));
        auto seen = std::make_shared<SeenBox>();
        Answer watch(AnyBox(), LookAndClose(seen, Close::kPress), 800);
        EXPECT_EQ(TLSError::StdErrorMsg(o, nullptr, c.bResult, c.bCancelled, "must not show"), c.bResult);
        watch.Wait(1500);
        EXPECT_EQ(watch.Window(), nullptr) << "no box";
    }
}

TEST_F(MsgBoxTest, ErrorMsgShowsTextWithTheRecordedDetailOnce)
{
    SetLastError(ERROR_ACCESS_DENIED);
    LS_DEF_ERROR(m_owner.Err(), false, "TLSFile::CpyFile failed!");
    AddDefError(m_owner.Err(), false, "later detail", 5, "TfrmDlgSafe::DoConvert failed!");
    std::string detail = m_owner.Err()->szDetail;

    auto seen = std::make_shared<SeenBox>();
    Answer answer(AnyBox(), LookAndClose(seen, Close::kPress));
    EXPECT_FALSE(TLSError::StdErrorMsg(m_owner.Get(), nullptr, false, false, "The safe could not be converted."));
    ASSERT_TRUE(answer.Wait());
    const SeenBox& box = *seen;
    EXPECT_EQ(box.className, "#32770");
    EXPECT_EQ(box.caption, DLS_MSGBOX_CAPTION_ERROR());
    EXPECT_TRUE(box.HasText("The safe could not be converted.")) << "the failure text";
    EXPECT_TRUE(box.HasText(DLS_MSGBOX_DETAILS()));
    EXPECT_TRUE(box.HasText("TLSFile::CpyFile failed!")) << "the first failure of the chain";
    EXPECT_TRUE(box.HasText(detail)) << detail;
    EXPECT_TRUE(box.HasText(TLSTools::GetErrTxt(ERROR_ACCESS_DENIED)));
    EXPECT_FALSE(box.HasText("later detail")) << "the first failure, not a later one";
    EXPECT_EQ(box.ButtonText(IDOK), DLS_MSGBOX_BTN_OK());
    EXPECT_EQ(box.buttons.size(), 1u);

    // The call came back after that one box, and no other box is left.
    EXPECT_EQ(ktxtest::ui::FindTopWindow(AnyBox()), nullptr);
}

// Showing the failure is the last step of a failing operation: the thread's
// error code is still the caller's when the box has been answered.
TEST_F(MsgBoxTest, ErrorMsgLeavesTheCallersLastErrorAlone)
{
    SetLastError(ERROR_SHARING_VIOLATION);
    LS_DEF_ERROR(m_owner.Err(), false, "TLSFile::MovFile failed!");
    auto seen = std::make_shared<SeenBox>();
    Answer answer(AnyBox(), LookAndClose(seen, Close::kPress));
    SetLastError(ERROR_SHARING_VIOLATION);  // starting the answering thread may have set it
    bool bShown = TLSError::StdErrorMsg(m_owner.Get(), nullptr, false, false, "The file could not be moved.");
    DWORD dwAfter = GetLastError();
    EXPECT_FALSE(bShown);
    ASSERT_TRUE(answer.Wait());
    EXPECT_TRUE(seen->HasText("TLSFile::MovFile failed!"));
    EXPECT_EQ(dwAfter, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(m_owner.Err()->dwErrCode, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(MsgBoxTest, ErrorMsgWithoutRecordShowsTheTextAlone)
{
    auto seen = std::make_shared<SeenBox>();
    Answer answer(AnyBox(), LookAndClose(seen, Close::kPress));
    EXPECT_FALSE(TLSError::StdErrorMsg(m_owner.Get(), nullptr, false, false, "Plain failure."));
    ASSERT_TRUE(answer.Wait());
    EXPECT_TRUE(seen->HasText("Plain failure."));
    EXPECT_FALSE(seen->HasText(DLS_MSGBOX_DETAILS()));

    auto second = std::make_shared<SeenBox>();
    Answer answer2(AnyBox(), LookAndClose(second, Close::kPress));
    EXPECT_FALSE(TLSError::StdErrorMsg(nullptr, nullptr, false, false, nullptr)) << "no owner, no text";
    ASSERT_TRUE(answer2.Wait());
    EXPECT_TRUE(second->HasText(DLS_MSGBOX_FAILED()));
}

TEST_F(MsgBoxTest, AskMsgAnswers)
{
    struct Case {
        int nButton;
        Close how;
        bool expected;
        const char* what;
    } cases[] = {
        {IDYES, Close::kPress, true, "yes"},
        {IDNO, Close::kPress, false, "no"},
        {IDYES, Close::kEscape, false, "escape"},
        {IDYES, Close::kCloseBox, false, "close box"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto seen = std::make_shared<SeenBox>();
        Answer answer(AnyBox(), LookAndClose(seen, c.how, c.nButton));
        bool bAnswer = TLSError::StdAskMsg(m_owner.Get(), nullptr, "KTSafe - Warning", "Delete the entry?",
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(answer.Wait());
        EXPECT_EQ(bAnswer, c.expected);
        const SeenBox& box = *seen;
        EXPECT_EQ(box.caption, "KTSafe - Warning");
        EXPECT_TRUE(box.HasText("Delete the entry?"));
        EXPECT_EQ(box.ButtonText(IDYES), DLS_MSGBOX_BTN_YES());
        EXPECT_EQ(box.ButtonText(IDNO), DLS_MSGBOX_BTN_NO());
    }
}

TEST_F(MsgBoxTest, TextIsShownLiterallyNeverAsFormat)
{
    const std::string text = "Delete \"100% & more %s%n%s\"?";
    auto seen = std::make_shared<SeenBox>();
    Answer answer(AnyBox(), LookAndClose(seen, Close::kPress, IDNO));
    EXPECT_FALSE(TLSError::StdAskMsg(m_owner.Get(), nullptr, nullptr, text.c_str()));
    ASSERT_TRUE(answer.Wait());
    EXPECT_TRUE(seen->HasText(text));
    EXPECT_EQ(seen->caption, DLS_MSGBOX_CAPTION_QUESTION()) << "the default caption";
}

TEST_F(MsgBoxTest, NoticeWithDefaultCaptionAndMoreText)
{
    auto seen = std::make_shared<SeenBox>();
    Answer answer(AnyBox(), LookAndClose(seen, Close::kPress));
    EXPECT_TRUE(TLSError::StdHinweisMsg(m_owner.Get(), nullptr, "An entry of that name exists.", nullptr, nullptr));
    ASSERT_TRUE(answer.Wait());
    EXPECT_EQ(seen->caption, DLS_MSGBOX_CAPTION_NOTICE());
    EXPECT_TRUE(seen->HasText("An entry of that name exists."));
    EXPECT_EQ(seen->ButtonText(IDOK), DLS_MSGBOX_BTN_OK());

    auto more = std::make_shared<SeenBox>();
    Answer answer2(AnyBox(), LookAndClose(more, Close::kEscape));
    EXPECT_TRUE(TLSError::StdHinweisMsg(m_owner.Get(), nullptr, "First part.", "Own caption", "Second part."));
    ASSERT_TRUE(answer2.Wait());
    EXPECT_EQ(more->caption, "Own caption");
    EXPECT_TRUE(more->HasText("First part."));
    EXPECT_TRUE(more->HasText("Second part."));
}

TEST_F(MsgBoxTest, OwnedByTheGivenWindowOrElseTheOwnerSlot)
{
    ParentWindow slot(50, 50), given(300, 200);
    ASSERT_NE(slot.Get(), nullptr);
    ASSERT_NE(given.Get(), nullptr);
    m_owner.Get()->hOwnerWnd = slot.Get();

    auto fromSlot = std::make_shared<SeenBox>();
    {
        Answer answer(AnyBox(), LookAndClose(fromSlot, Close::kPress));
        TLSError::StdHinweisMsg(m_owner.Get(), nullptr, "from the slot");
        ASSERT_TRUE(answer.Wait());
    }
    EXPECT_EQ(fromSlot->hOwner, slot.Get());

    auto fromGiven = std::make_shared<SeenBox>();
    {
        Answer answer(AnyBox(), LookAndClose(fromGiven, Close::kPress));
        TLSError::StdHinweisMsg(m_owner.Get(), given.Get(), "from the given window");
        ASSERT_TRUE(answer.Wait());
    }
    EXPECT_EQ(fromGiven->hOwner, given.Get());
    EXPECT_TRUE(IsWindowEnabled(given.Get())) << "the owner is enabled again after the box";

    // A window that is gone falls back to the slot.
    HWND hGone = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(hGone);
    auto fromGone = std::make_shared<SeenBox>();
    {
        Answer answer(AnyBox(), LookAndClose(fromGone, Close::kPress, IDYES));
        TLSError::StdAskMsg(m_owner.Get(), hGone, "c", "q");
        ASSERT_TRUE(answer.Wait());
    }
    EXPECT_EQ(fromGone->hOwner, slot.Get());
    m_owner.Get()->hOwnerWnd = nullptr;
}

// Where a box opens: centred on the window that owns it when the user sees
// that window, else centred on the work area, and always whole on the work
// area. The owner handle's dialog position is for the shared dialogs: a box
// does not follow it (it was set before the window it belongs to was placed).
TEST_F(MsgBoxTest, CentredOnItsVisibleWindowElseOnTheWorkAreaAndAlwaysWholeOnIt)
{
    const RECT area = look::WorkAreaOf(nullptr);
    enum Kind { kNotice, kQuestion, kError };
    enum Expect { kOnWindow, kOnArea, kOnlyInside };
    struct Case {
        const char* what;
        Kind kind;
        int x, y;            // the 500 x 400 window's place
        bool bShown;         // the window is visible
        bool bSlot;          // the window is the owner's slot (else handed to the call); ignored without a window
        bool bWindow;
        bool bDlgPos;        // the owner handle has a dialog position
        Expect expect;
    } cases[] = {
        {"a notice over its window off the centre", kNotice, area.left + 40, area.top + 50, true, false, true, false,
         kOnWindow},
        {"a question over the owner slot's window", kQuestion, area.right - 560, area.bottom - 430, true, true, true,
         false, kOnWindow},
        {"an error over its window, the dialog position set", kError, area.left + 300, area.top + 20, true, false,
         true, true, kOnWindow},
        {"a notice whose window is hidden", kNotice, area.left + 40, area.top + 50, false, false, true, false,
         kOnArea},
        {"a question without any window, the dialog position set", kQuestion, 0, 0, false, false, false, true,
         kOnArea},
        {"an error over a window hanging off the right and the bottom", kError, area.right - 120, area.bottom - 90,
         true, false, true, false, kOnlyInside},
        {"a question over a window hanging off the left and the top", kQuestion, area.left - 420, area.top - 330,
         true, true, true, false, kOnlyInside},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<ParentWindow> window;
        if (c.bWindow) {
            window.reset(new ParentWindow(c.x, c.y));
            ASSERT_NE(window->Get(), nullptr);
            if (!c.bShown) ShowWindow(window->Get(), SW_HIDE);
        }
        HWND hWindow = window ? window->Get() : nullptr;
        TLSOwner* o = m_owner.Get();
        o->hOwnerWnd = c.bSlot ? hWindow : nullptr;
        o->bDlgPosSet = c.bDlgPos;
        o->nDlgLeft = 120;
        o->nDlgTop = 90;
        if (c.kind == kError) LS_DEF_ERROR(m_owner.Err(), false, "TTest::Placed failed!");
        HWND hGiven = c.bSlot ? nullptr : hWindow;
        RECT rcWindow{};
        if (hWindow) GetWindowRect(hWindow, &rcWindow);

        auto seen = std::make_shared<SeenBox>();
        Answer answer(AnyBox(), LookAndClose(seen, Close::kEscape, c.kind == kQuestion ? IDNO : IDOK));
        switch (c.kind) {
        case kNotice:
            TLSError::StdHinweisMsg(o, hGiven, "Where does this notice open?");
            break;
        case kQuestion:
            TLSError::StdAskMsg(o, hGiven, "Placed", "Where does this question open?");
            break;
        case kError:
            TLSError::StdErrorMsg(o, hGiven, false, false, "Where does this failure open?");
            break;
        }
        ASSERT_TRUE(answer.Wait());
        EXPECT_EQ(seen->hOwner, hWindow);
        EXPECT_TRUE(look::Within(seen->rect, area));
        if (c.expect == kOnWindow) {
            EXPECT_TRUE(look::CentredOn(seen->rect, rcWindow));
        }
        if (c.expect == kOnArea) {
            EXPECT_TRUE(look::CentredOn(seen->rect, area));
        }
        ClearLSError(m_owner.Err());
    }
    m_owner.Get()->hOwnerWnd = nullptr;
    m_owner.Get()->bDlgPosSet = false;
}

// Every kind of box shows the program's icon, small in its caption and big in
// the task bar; a screenshot of a box over its window lets a person check the
// caption's icon and close button.
TEST_F(MsgBoxTest, EveryKindOfBoxShowsTheProgramsIcon)
{
    ParentWindow parent(60, 60);
    ASSERT_NE(parent.Get(), nullptr);
    look::ProgramIcon small(true);
    ASSERT_NE(small.Get(), nullptr) << "the test program carries the program's icon";
    struct Case {
        const char* what;
        std::function<void()> show;
        int nButton;         // a button of the box (it is closed with Escape)
        const char* shot;    // screenshot name, or null
    } cases[] = {
        {"a notice", [&] { TLSError::StdHinweisMsg(m_owner.Get(), parent.Get(), "A notice with the icon."); }, IDOK,
         nullptr},
        {"a question",
         [&] { TLSError::StdAskMsg(m_owner.Get(), parent.Get(), "KTSafe - Question", "A question with the icon?"); },
         IDNO, "cmn32-question-over-owner"},
        {"an error",
         [&] {
             SetLastError(ERROR_ACCESS_DENIED);
             LS_DEF_ERROR(m_owner.Err(), false, "TLSFile::CpyFile failed!");
             TLSError::StdErrorMsg(m_owner.Get(), parent.Get(), false, false, "An error with the icon.");
         },
         IDOK, "cmn32-error-over-owner"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        struct Look {
            bool bLooked = false;
            bool bIcon = false;
            bool bCaption = false;
            std::string why;
        };
        auto pLook = std::make_shared<Look>();
        auto seen = std::make_shared<SeenBox>();
        ktxtest::ui::Action close = LookAndClose(seen, Close::kEscape, c.nButton);
        const HWND hParent = parent.Get();
        const char* pszShot = c.shot;
        HICON hSmall = small.Get();
        Answer answer(AnyBox(), [=](HWND h) {
            if (!pLook->bLooked) {
                pLook->bLooked = true;
                ::testing::AssertionResult icon = look::ShowsProgramIcon(h);
                pLook->bIcon = static_cast<bool>(icon);
                if (!icon) pLook->why += icon.message();
                ::testing::AssertionResult caption = look::CaptionShowsIcon(h, hSmall);
                for (int i = 0; i < 30 && !caption; ++i) {
                    Sleep(100);
                    caption = look::CaptionShowsIcon(h, hSmall);
                }
                pLook->bCaption = static_cast<bool>(caption);
                if (!caption) pLook->why += std::string(" ") + caption.message();
                if (pszShot) ktxtest::ui::Screenshot(pszShot, hParent);
            }
            return close(h);
        });
        c.show();
        ASSERT_TRUE(answer.Wait());
        ASSERT_TRUE(pLook->bLooked);
        EXPECT_TRUE(pLook->bIcon) << pLook->why;
        EXPECT_TRUE(pLook->bCaption) << pLook->why;
        ClearLSError(m_owner.Err());
    }
}

TEST_F(MsgBoxTest, VeryLongTextStaysOnScreen)
{
    std::string text;
    while (text.size() < LS_TEXT_SIZE - 100) text += "A long line of text that goes on. ";
    SetLastError(ERROR_DISK_FULL);
    LS_DEF_ERROR(m_owner.Err(), false, text.c_str());
    auto seen = std::make_shared<SeenBox>();
    Answer answer(AnyBox(), LookAndClose(seen, Close::kPress));
    TLSError::StdErrorMsg(m_owner.Get(), nullptr, false, false, text.c_str());
    ASSERT_TRUE(answer.Wait());
    RECT rc = seen->rect;
    EXPECT_GE(rc.left, 0);
    EXPECT_GE(rc.top, 0);
    EXPECT_LE(rc.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_LE(rc.bottom, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_TRUE(seen->HasText(text));
}

TEST_F(MsgBoxTest, GermanCaptionAndButtonsForAGermanUserInterface)
{
    // Under Wine a process takes its user interface language from the Unix
    // locale it starts with, so the box is shown by a child started in German.
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "needs a German user interface";
    ktxtest::TempDir dir;
    std::string out = dir.File("answer.txt");
    std::string go = UniqueName("ktxtest.askbox");
    HANDLE hGo = CreateEventA(nullptr, TRUE, FALSE, (go + ".go").c_str());
    char szLoader[MAX_PATH] = "/usr/lib/wine/wine64";
    GetEnvironmentVariableA("WINELOADER", szLoader, sizeof(szLoader));
    std::string cmd = std::string("/usr/bin/env LC_ALL=de_DE.UTF-8 LANG=de_DE.UTF-8 ") + szLoader + " \"" +
                      ChildExe() + "\" askbox \"" + out + "\" " + go;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::vector<char> buf(cmd.begin(), cmd.end());
    buf.push_back('\0');
    ASSERT_TRUE(CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    // A process started through the Unix side names its Windows process id in a file.
    std::string pidFile = out + ".pid";
    ASSERT_TRUE(ktxtest::WaitFor([&] { return ktxtest::FileExists(pidFile); }, 30000));
    DWORD pid = static_cast<DWORD>(std::stoul(ktxtest::ReadFileBytes(pidFile)));
    auto seen = std::make_shared<SeenBox>();
    Answer answer(AnyBox(pid), LookAndClose(seen, Close::kPress, IDYES), 30000);
    SetEvent(hGo);
    ASSERT_TRUE(answer.Wait(30000)) << "the German box appeared and was answered";
    ASSERT_TRUE(ktxtest::WaitFor([&] { return ktxtest::FileExists(out); }, 30000));
    CloseHandle(hGo);
    EXPECT_EQ(ktxtest::ReadFileBytes(out), "2 yes") << "German, and the answer was yes";
    EXPECT_EQ(seen->caption, "Frage");
    EXPECT_EQ(NoAmp(seen->ButtonText(IDYES)), "Ja");
    EXPECT_EQ(NoAmp(seen->ButtonText(IDNO)), "Nein");
}

}  // namespace
