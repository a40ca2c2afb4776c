// The keyboard on a form as Windows users expect it, with the keys posted to
// the controls and dispatched by the toolkit as in the program: Enter is a
// line break in a memo and presses the default button (or the focused push
// button) elsewhere, Escape presses the cancel button from every control,
// Tab leaves a memo, a list's in-place editor keeps Enter and Escape for
// itself, and a tool button in the tab order is pressed with Space or Enter.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ToolkitFixture.h"

#include <commctrl.h>

namespace {

class KeyboardTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        // A memo on a panel of its own: its keys reach a parent that is not the form.
        pnlNote = new TPanel(form.get());
        pnlNote->SetName("pnlNote");
        pnlNote->SetBounds(256, 180, 190, 60);
        memoInPanel = new TMemo(pnlNote);
        memoInPanel->SetName("memoInPanel");
        memoInPanel->SetBounds(4, 4, 180, 50);
        ShowForm();
        form->ClearLog();
    }

    // The entries of the log that are not selection changes.
    std::vector<std::string> Events() const
    {
        std::vector<std::string> events;
        for (const std::string& e : form->log)
            if (e.find(".SelectItem:") == std::string::npos) events.push_back(e);
        return events;
    }

    // The in-place editor of the form's list, or null.
    HWND Editor() const
    {
        return reinterpret_cast<HWND>(SendMessageA(form->lstvNamen->Handle(), LVM_GETEDITCONTROL, 0, 0));
    }

    // Gives hControl the focus with the caret at the end of its text (as a
    // click there would), presses the key, and lets the form handle it.
    void PressOn(HWND hControl, WORD vk)
    {
        ASSERT_TRUE(ui::Focus(hControl));
        const LRESULT n = SendMessageA(hControl, WM_GETTEXTLENGTH, 0, 0);
        if (ui::ClassOf(hControl) == "Edit") SendMessageA(hControl, EM_SETSEL, n, n);
        ui::PressKey(hControl, vk);
        ui::Pump(50);
    }

    TPanel* pnlNote = nullptr;
    TMemo* memoInPanel = nullptr;
};

TEST_F(KeyboardTest, EnterAndEscapeReachTheControlThatWantsThemOrTheFormsButtons)
{
    struct Case {
        const char* what;
        std::function<HWND()> control;
        WORD vk;
        std::vector<std::string> clicks;   // the button clicks the key makes, in order
        const char* memoText;              // the memo's text afterwards (null: not a memo)
    };
    const Case cases[] = {
        {"Enter in an edit", [&] { return form->editName->Handle(); }, VK_RETURN, {"btnOk.Click"}, nullptr},
        {"Enter in the list", [&] { return form->lstvNamen->Handle(); }, VK_RETURN, {"btnOk.Click"}, nullptr},
        {"Enter on a check box", [&] { return form->cboxZahlen->Handle(); }, VK_RETURN, {"btnOk.Click"}, nullptr},
        {"Enter in a memo", [&] { return form->memoNote->Handle(); }, VK_RETURN, {}, "ab\r\n"},
        {"Enter in a memo on a panel", [&] { return memoInPanel->Handle(); }, VK_RETURN, {}, "ab\r\n"},
        {"Enter on a focused push button", [&] { return form->btnClose->Handle(); }, VK_RETURN, {"btnClose.Click"},
         nullptr},
        {"Enter on the focused cancel button", [&] { return form->btnCancel->Handle(); }, VK_RETURN,
         {"btnCancel.Click"}, nullptr},
        {"Escape in an edit", [&] { return form->editName->Handle(); }, VK_ESCAPE, {"btnCancel.Click"}, nullptr},
        {"Escape in the list", [&] { return form->lstvNamen->Handle(); }, VK_ESCAPE, {"btnCancel.Click"}, nullptr},
        {"Escape in a memo", [&] { return form->memoNote->Handle(); }, VK_ESCAPE, {"btnCancel.Click"}, "ab"},
        {"Escape in a memo on a panel", [&] { return memoInPanel->Handle(); }, VK_ESCAPE, {"btnCancel.Click"}, "ab"},
        {"Escape on a focused push button", [&] { return form->btnClose->Handle(); }, VK_ESCAPE,
         {"btnCancel.Click"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HWND hControl = c.control();
        if (c.memoText) SetWindowTextA(hControl, "ab");
        form->ClearLog();
        PressOn(hControl, c.vk);
        std::vector<std::string> clicks;
        for (const std::string& e : form->log)
            if (e.size() > 6 && e.compare(e.size() - 6, 6, ".Click") == 0) clicks.push_back(e);
        EXPECT_EQ(clicks, c.clicks);
        if (c.memoText) EXPECT_EQ(ui::TextOf(hControl), c.memoText);
        // The key never closes or takes apart the form itself.
        EXPECT_EQ(form->Count("frmToolkitTest.Close"), 0);
        EXPECT_TRUE(IsWindowVisible(form->Handle()));
        EXPECT_TRUE(IsWindow(pnlNote->Handle()) && IsWindowVisible(memoInPanel->Handle()));
        EXPECT_EQ(GetFocus(), hControl) << "the focus stays where it was";
    }
}

TEST_F(KeyboardTest, TabLeavesAMemoForTheNextControl)
{
    for (TMemo* memo : {form->memoNote, memoInPanel}) {
        SCOPED_TRACE(memo->Name());
        memo->SetText("ab");
        const HWND hNext = GetNextDlgTabItem(form->Handle(), memo->Handle(), FALSE);
        ASSERT_NE(hNext, memo->Handle());
        PressOn(memo->Handle(), VK_TAB);
        EXPECT_EQ(GetFocus(), hNext);
        EXPECT_EQ(memo->Text(), "ab") << "no tab character typed";
    }
}

TEST_F(KeyboardTest, TheInPlaceEditorKeepsEnterAndEscape)
{
    TListView* list = form->lstvNamen;
    // Enter confirms the typed name and presses no button.
    ASSERT_TRUE(list->Items()->Item(0)->EditCaption());
    HWND hEdit = Editor();
    ASSERT_NE(hEdit, nullptr);
    EXPECT_EQ(GetFocus(), hEdit);
    EXPECT_NE(SendMessageA(hEdit, WM_GETDLGCODE, 0, 0) & DLGC_WANTALLKEYS, 0);
    ASSERT_TRUE(ui::Type(hEdit, "Zulu"));
    ui::PressKey(hEdit, VK_RETURN);
    ui::Pump(50);
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(Events(), (std::vector<std::string>{"lstvNamen.Edited:Alpha->Zulu"}));
    EXPECT_NE(list->FindCaption(0, "Zulu"), nullptr);
    EXPECT_EQ(GetFocus(), list->Handle()) << "back in the list";

    // Escape drops the typed name, presses no button and leaves the form open.
    form->ClearLog();
    TListItem* bravo = list->FindCaption(0, "Bravo");
    ASSERT_TRUE(bravo->EditCaption());
    hEdit = Editor();
    ASSERT_NE(hEdit, nullptr);
    ASSERT_TRUE(ui::Type(hEdit, "Yankee"));
    ui::PressKey(hEdit, VK_ESCAPE);
    ui::Pump(50);
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(Events(), std::vector<std::string>{});
    EXPECT_EQ(bravo->Caption(), "Bravo");
    EXPECT_EQ(list->FindCaption(0, "Yankee"), nullptr);
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
    EXPECT_EQ(GetFocus(), list->Handle());
}

TEST_F(KeyboardTest, AToolButtonInTheTabOrderIsPressedWithSpaceOrEnter)
{
    form->btnNeu->SetTabStop(true);
    // Tab reaches it like any other control.
    form->btnOk->SetFocus();
    const HWND hBefore = GetNextDlgTabItem(form->Handle(), form->btnNeu->Handle(), TRUE);
    ASSERT_NE(hBefore, form->btnNeu->Handle());
    PressOn(hBefore, VK_TAB);
    EXPECT_EQ(GetFocus(), form->btnNeu->Handle());
    for (WORD vk : {static_cast<WORD>(VK_SPACE), static_cast<WORD>(VK_RETURN)}) {
        SCOPED_TRACE(vk == VK_SPACE ? "Space" : "Enter");
        form->ClearLog();
        PressOn(form->btnNeu->Handle(), vk);
        EXPECT_EQ(form->log, (std::vector<std::string>{"btnNeu.Click"}));
    }
}

}  // namespace
