// The controls, driven as a user would: edits, memo, check box, up-down,
// progress bars, buttons, mouse, focus, keyboard, hints, timers, hooks,
// popup menus and the standard exception display.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ToolkitFixture.h"

#include <commctrl.h>

namespace {

std::string ClipboardText()
{
    std::string text;
    if (!OpenClipboard(nullptr)) return "<no clipboard>";
    if (HANDLE h = GetClipboardData(CF_TEXT)) {
        if (const char* p = static_cast<const char*>(GlobalLock(h))) {
            text = p;
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return text;
}

BOOL CALLBACK FindTooltip(HWND h, LPARAM lp)
{
    if (ui::ClassOf(h) == TOOLTIPS_CLASSA) *reinterpret_cast<HWND*>(lp) = h;
    return TRUE;
}

void EmptyTheClipboard()
{
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

TEST_F(ToolkitTest, EditReportsEachChangeOnce)
{
    ShowForm();
    form->ClearLog();
    ui::Type(form->editName->Handle(), "abc");
    EXPECT_EQ(form->Count("editName.Change"), 3) << "one change per typed character";
    EXPECT_EQ(form->editName->Text(), "abc");
    form->ClearLog();
    form->editName->SetText("Anna");
    EXPECT_EQ(form->Count("editName.Change"), 1);
    form->editName->Clear();
    EXPECT_EQ(form->Count("editName.Change"), 2);
    EXPECT_EQ(form->editName->GetTextLen(), 0);

    // The memo reports changes by code too (a multi-line edit does not itself).
    form->ClearLog();
    form->memoNote->SetText("one");
    form->memoNote->Lines()->Add("two");
    EXPECT_EQ(form->Count("memoNote.Change"), 2);
}

TEST_F(ToolkitTest, EditLimitsReadOnlyAndSelection)
{
    ShowForm();
    form->editName->SetMaxLength(5);
    ui::Type(form->editName->Handle(), "abcdefgh");
    EXPECT_EQ(form->editName->Text(), "abcde");

    form->edAnzahl->SetText("8");
    ui::Type(form->edAnzahl->Handle(), "77");
    EXPECT_EQ(form->edAnzahl->Text(), "8") << "read-only";

    form->editName->SetMaxLength(0);
    form->editName->SetText("Hello world");
    form->editName->SetSelStart(6);
    form->editName->SetSelLength(5);
    EXPECT_EQ(form->editName->SelText(), "world");
    form->editName->SelectAll();
    EXPECT_EQ(form->editName->SelLength(), 11);
    form->editName->SetSelStart(0);
    form->editName->SetSelLength(5);
    form->editName->SetSelText("Bye");
    EXPECT_EQ(form->editName->Text(), "Bye world");

    char buf[4];
    EXPECT_EQ(form->editName->GetTextBuf(buf, sizeof(buf)), 3);
    EXPECT_STREQ(buf, "Bye") << "cut at the buffer's size, terminated";
    char sel[3];
    form->editName->SelectAll();
    EXPECT_EQ(form->editName->GetSelTextBuf(sel, sizeof(sel)), 2);
    EXPECT_STREQ(sel, "By");
}

TEST_F(ToolkitTest, PasswordCharacterChangesAtRunTimeAndKeepsTheClipboardClean)
{
    ShowForm();
    HWND h = form->editPasswort->Handle();
    EXPECT_EQ(form->editPasswort->PasswordChar(), '*');
    EXPECT_NE(GetWindowLongPtrA(h, GWL_STYLE) & ES_PASSWORD, 0);

    EmptyTheClipboard();
    form->editPasswort->SelectAll();
    SendMessageA(h, WM_COPY, 0, 0);
    EXPECT_EQ(ClipboardText(), "") << "a masked text is not copied";

    form->editPasswort->SetPasswordChar('\0');
    EXPECT_EQ(form->editPasswort->PasswordChar(), '\0');
    EXPECT_EQ(GetWindowLongPtrA(h, GWL_STYLE) & ES_PASSWORD, 0) << "shown in clear";
    form->editPasswort->SelectAll();
    SendMessageA(h, WM_COPY, 0, 0);
    EXPECT_EQ(ClipboardText(), "secret");
    EmptyTheClipboard();

    form->editPasswort->SetPasswordChar('*');
    EXPECT_NE(GetWindowLongPtrA(h, GWL_STYLE) & ES_PASSWORD, 0) << "masked again";
    EXPECT_EQ(form->editPasswort->Text(), "secret");
}

TEST_F(ToolkitTest, MemoLinesUseCrLf)
{
    form->memoNote->Lines()->Clear();
    EXPECT_EQ(form->memoNote->Lines()->Count(), 0);
    form->memoNote->Lines()->Add("a");
    form->memoNote->Lines()->Add("b");
    form->memoNote->Lines()->Add("");
    form->memoNote->Lines()->Add("d");
    EXPECT_EQ(form->memoNote->Text(), "a\r\nb\r\n\r\nd");
    EXPECT_EQ(form->memoNote->Lines()->Count(), 4);
    EXPECT_EQ(form->memoNote->Lines()->Get(1), "b");
    EXPECT_EQ((*form->memoNote->Lines())[3], "d");
    form->memoNote->SetText("x\ny\r\nz");
    EXPECT_EQ(form->memoNote->Text(), "x\r\ny\r\nz") << "lone line feeds become CR LF";
    EXPECT_NE(GetWindowLongPtrA(form->memoNote->Handle(), GWL_STYLE) & WS_VSCROLL, 0);
    EXPECT_EQ(SendMessageA(form->memoNote->Handle(), EM_GETLIMITTEXT, 0, 0), 1024)
        << "the limit survives the scroll bar change";
}

TEST_F(ToolkitTest, CheckBoxClickRunsForUserAndCodeChangesOnce)
{
    ShowForm();
    form->ClearLog();
    form->cboxZahlen->SetChecked(true);
    form->cboxZahlen->SetChecked(true);   // no change, no event
    EXPECT_EQ(form->log, (std::vector<std::string>{"cboxZahlen.Click:checked"}));
    EXPECT_EQ(SendMessageA(form->cboxZahlen->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);

    form->ClearLog();
    ui::Click(form->cboxZahlen->Handle());   // the user unchecks it
    EXPECT_EQ(form->log, (std::vector<std::string>{"cboxZahlen.Click:unchecked"}));
    EXPECT_FALSE(form->cboxZahlen->Checked());
    ui::Click(form->cboxInGroup->Handle());   // inside a group box
    EXPECT_FALSE(form->cboxInGroup->Checked());
}

TEST_F(ToolkitTest, UpDownStepsItsBuddyAndReportsTheClick)
{
    ShowForm();
    EXPECT_EQ(form->udAnzahl->Position(), 8);
    EXPECT_EQ(form->edAnzahl->Text(), "8");
    form->ClearLog();
    ui::PressKey(form->edAnzahl->Handle(), VK_UP);   // arrow keys on the buddy step it
    ASSERT_TRUE(WaitFor([&] { return !form->log.empty(); }));
    EXPECT_EQ(form->log, (std::vector<std::string>{"udAnzahl.Click:next,9"}));
    EXPECT_EQ(form->edAnzahl->Text(), "9");
    form->ClearLog();
    ui::PressKey(form->edAnzahl->Handle(), VK_DOWN);
    ASSERT_TRUE(WaitFor([&] { return !form->log.empty(); }));
    EXPECT_EQ(form->log, (std::vector<std::string>{"udAnzahl.Click:prev,8"}));

    form->ClearLog();
    form->udAnzahl->SetPosition(500);
    EXPECT_EQ(form->udAnzahl->Position(), 200) << "kept within Min..Max";
    EXPECT_EQ(form->edAnzahl->Text(), "200");
    EXPECT_TRUE(form->log.empty()) << "a position set by code runs no event";
}

TEST_F(ToolkitTest, ProgressBarsKeepRangeOrientationAndPosition)
{
    HWND hv = form->pbSicherheit->Handle();
    EXPECT_NE(GetWindowLongPtrA(hv, GWL_STYLE) & PBS_VERTICAL, 0);
    EXPECT_NE(GetWindowLongPtrA(hv, GWL_STYLE) & PBS_SMOOTH, 0);
    EXPECT_EQ(SendMessageA(hv, PBM_GETRANGE, FALSE, 0), 1880);
    EXPECT_EQ(SendMessageA(hv, PBM_GETPOS, 0, 0), 752);
    form->pbSicherheit->SetPosition(94 * 30);   // beyond the maximum: a full bar
    EXPECT_EQ(SendMessageA(hv, PBM_GETPOS, 0, 0), 1880);
    HWND hh = form->pbGenerierung->Handle();
    EXPECT_EQ(GetWindowLongPtrA(hh, GWL_STYLE) & PBS_VERTICAL, 0);
    EXPECT_EQ(SendMessageA(hh, PBM_GETPOS, 0, 0), 12);
}

TEST_F(ToolkitTest, ButtonsClickOnceAndDisabledOnesNot)
{
    ShowForm();
    form->ClearLog();
    ui::Click(form->btnOk->Handle());
    ui::Click(ui::FindControl(form->Handle(), "New entry"));   // a speed button, found by its text
    ui::Click(form->btnFlatDisabled->Handle());
    ui::Click(form->btnClose->Handle());   // owner-drawn (coloured caption)
    EXPECT_EQ(form->log, (std::vector<std::string>{"btnOk.Click", "btnNeu.Click", "btnClose.Click"}));
    EXPECT_EQ(GetWindowLongPtrA(form->btnClose->Handle(), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_EQ(GetWindowLongPtrA(form->btnOk->Handle(), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
}

TEST_F(ToolkitTest, MouseEventsCarryButtonShiftStateAndPosition)
{
    ShowForm();
    form->ClearLog();
    HWND h = form->editName->Handle();
    ui::MouseDown(h, 10, 5);
    ui::MouseMove(h, 30, 6, MK_LBUTTON | MK_SHIFT);
    ui::MouseUp(h, 31, 7);
    // (A right click would open the edit's own context menu.)
    SendMessageA(h, WM_MBUTTONDOWN, MK_MBUTTON | MK_CONTROL, MAKELPARAM(4, 4));
    SendMessageA(h, WM_MBUTTONUP, MK_CONTROL, MAKELPARAM(4, 4));
    std::vector<std::string> want{"editName.MouseDown:left,L,10,5", "editName.MouseMove:LS,30,6",
                                  "editName.MouseUp:left,,31,7", "editName.MouseDown:middle,MC,4,4",
                                  "editName.MouseUp:middle,C,4,4"};
    // The edit's own handling may add moves; the order of these is what counts.
    std::vector<std::string> got;
    for (const auto& e : form->log) {
        if (std::find(want.begin(), want.end(), e) != want.end()) got.push_back(e);
    }
    EXPECT_EQ(got, want);

    // A picture (drawn by the form) gets its mouse in its own coordinates,
    // and a press and release on it is a click.
    form->ClearLog();
    HWND hf = form->Handle();
    RECT img = form->imgPicture->BoundsRect();
    ui::MouseMove(hf, img.left + 5, img.top + 7);
    ui::MouseDown(hf, img.left + 5, img.top + 7);
    ui::MouseUp(hf, img.left + 6, img.top + 8);
    EXPECT_EQ(form->Count("imgPicture.MouseMove:,5,7"), 1);
    EXPECT_EQ(form->Count("imgPicture.Click"), 1);
}

TEST_F(ToolkitTest, FocusMovesFireExitThenEnter)
{
    ShowForm();
    form->editName->SetFocus();
    form->ClearLog();
    form->editPasswort->SetFocus();
    EXPECT_EQ(form->log, (std::vector<std::string>{"editName.Exit", "editPasswort.Enter"}));
    EXPECT_EQ(form->ActiveControl(), form->editPasswort);

    // Tab moves to the next control in creation order.
    form->editName->SetFocus();
    ui::PressKey(form->editName->Handle(), VK_TAB);
    EXPECT_EQ(GetFocus(), form->editPasswort->Handle());

    // A changed tab order is followed.
    form->editPasswort->SetTabOrder(form->editName->TabOrder());
    EXPECT_LT(form->editPasswort->TabOrder(), form->editName->TabOrder());
    ui::PressKey(form->editPasswort->Handle(), VK_TAB);
    EXPECT_EQ(GetFocus(), form->editName->Handle());
}

TEST_F(ToolkitTest, EnterClicksTheDefaultButtonAndEscapeTheCancelButton)
{
    ShowForm();
    form->editName->SetFocus();
    form->ClearLog();
    ui::PressKey(form->editName->Handle(), VK_RETURN);
    ui::PressKey(form->editName->Handle(), VK_ESCAPE);
    EXPECT_EQ(form->log, (std::vector<std::string>{"btnOk.Click", "btnCancel.Click"}));

    // Enter in the memo is a new line, not the default button.
    form->memoNote->SetText("");
    form->memoNote->SetFocus();
    form->ClearLog();
    ui::PressKey(form->memoNote->Handle(), VK_RETURN);
    EXPECT_EQ(form->Count("btnOk.Click"), 0);
}

TEST_F(ToolkitTest, HintsBecomeTooltips)
{
    ShowForm();
    HWND hTip = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindTooltip, reinterpret_cast<LPARAM>(&hTip));
    ASSERT_NE(hTip, nullptr);
    EXPECT_EQ(GetWindow(hTip, GW_OWNER), form->Handle());
    EXPECT_EQ(SendMessageA(hTip, TTM_GETTOOLCOUNT, 0, 0), 2);
    char text[128] = "";
    TTTOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = form->Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(form->editName->Handle());
    ti.lpszText = text;
    SendMessageA(hTip, TTM_GETTEXTA, sizeof(text), reinterpret_cast<LPARAM>(&ti));
    EXPECT_STREQ(text, "User name");
    form->editName->SetHint("");
    EXPECT_EQ(SendMessageA(hTip, TTM_GETTOOLCOUNT, 0, 0), 1);
}

TEST_F(ToolkitTest, TimerRunsWhileEnabledAndCanBeEnabledFromAnotherThread)
{
    form->tmrTest->SetEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return form->Count("tmrTest.Timer") >= 2; }));
    form->tmrTest->SetEnabled(false);
    ui::Pump(50);
    form->ClearLog();
    ui::Pump(200);
    EXPECT_EQ(form->Count("tmrTest.Timer"), 0) << "stopped";

    std::thread other([&] { form->tmrTest->SetEnabled(true); });
    other.join();
    EXPECT_TRUE(form->tmrTest->Enabled());
    ASSERT_TRUE(WaitFor([&] { return form->Count("tmrTest.Timer") >= 1; }))
        << "the request reached the GUI thread";
    std::thread stop([&] { form->tmrTest->SetEnabled(false); });
    stop.join();
    ui::Pump(50);
    form->ClearLog();
    ui::Pump(200);
    EXPECT_EQ(form->Count("tmrTest.Timer"), 0);
}

TEST_F(ToolkitTest, MessageHookSeesMessagesBeforeDispatchAndCanSwallowThem)
{
    const UINT kProbe = WM_APP + 7;
    std::vector<UINT> seen;
    int swallowed = 0;
    int id = Application->AddMessageHook([&](MSG& msg, bool& handled) {
        if (msg.message != kProbe) return;
        seen.push_back(static_cast<UINT>(msg.wParam));
        if (msg.wParam == 2) {
            handled = true;
            ++swallowed;
        }
    });
    int reached = 0;
    HWND hForm = form->Handle();
    int second = Application->AddMessageHook([&](MSG& msg, bool&) {
        if (msg.message == kProbe && msg.hwnd == hForm) ++reached;
    });
    PostMessageA(form->Handle(), kProbe, 1, 0);
    PostMessageA(form->Handle(), kProbe, 2, 0);
    Application->ProcessMessages();
    EXPECT_EQ(seen, (std::vector<UINT>{1, 2}));
    EXPECT_EQ(swallowed, 1);
    EXPECT_EQ(reached, 1) << "a handled message goes no further";
    Application->RemoveMessageHook(id);
    PostMessageA(form->Handle(), kProbe, 3, 0);
    Application->ProcessMessages();
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(reached, 2) << "the remaining hook still runs";
    Application->RemoveMessageHook(second);
}

TEST_F(ToolkitTest, AnExceptionInAHandlerIsShownByTheStandardDisplay)
{
    ShowForm();
    form->btnNeu->OnClick = [](TObject*) { throw ETkError("the handler failed"); };
    ui::Answer answer({"#32770"}, ui::PressId(IDOK));
    ui::Click(form->btnNeu->Handle());   // returns once the box is answered
    ASSERT_TRUE(answer.Wait());
    EXPECT_NE(answer.Text().find("the handler failed"), std::string::npos) << answer.Text();
    EXPECT_EQ(answer.Caption(), "Toolkit tests");
    EXPECT_TRUE(IsWindow(form->Handle())) << "the program goes on";
}

TEST_F(ToolkitTest, PopupMenuLeavesOutHiddenItemsAndExtraSeparators)
{
    ShowForm();
    form->ClearLog();
    std::vector<std::string> items;
    // A disabled item cannot be chosen: the menu closes and nothing runs.
    EXPECT_FALSE(ui::ChooseContextMenuItem(form->lstvNamen->Handle(), "Delete", &items));
    EXPECT_EQ(items, (std::vector<std::string>{"&New", "-", "&Delete(disabled)"}));
    EXPECT_TRUE(form->log.empty());

    ASSERT_TRUE(ui::ChooseContextMenuItem(form->lstvNamen->Handle(), "New", &items));
    EXPECT_EQ(items, (std::vector<std::string>{"&New", "-", "&Delete(disabled)"}));
    EXPECT_EQ(form->log, (std::vector<std::string>{"pumNeu.Click"}));
    EXPECT_EQ(form->pmListe->PopupComponent(), form->lstvNamen);

    // Enabled later, the item past the separators is reached and chosen.
    form->pumLoeschen->SetEnabled(true);
    form->ClearLog();
    ASSERT_TRUE(ui::ChooseContextMenuItem(form->lstvNamen->Handle(), "Delete", &items));
    EXPECT_EQ(items, (std::vector<std::string>{"&New", "-", "&Delete"}));
    EXPECT_EQ(form->log, (std::vector<std::string>{"pumLoeschen.Click"}));
}

}  // namespace
