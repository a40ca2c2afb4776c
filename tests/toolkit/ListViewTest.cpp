// The list view: sorted rows, selection events in order, find by caption,
// in-place editing whose handler decides the final caption, deletion,
// scrolling and the cursor.
#include <gtest/gtest.h>

#include "ToolkitFixture.h"

#include <commctrl.h>

namespace {

std::vector<std::string> Captions(TListView* list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list->Items()->Count(); ++i) out.push_back(list->Items()->Item(i)->Caption());
    return out;
}

std::vector<std::string> NativeCaptions(HWND hList)
{
    std::vector<std::string> out;
    for (int i = 0; i < ui::ListCount(hList); ++i) out.push_back(ui::ListItemText(hList, i));
    return out;
}

class ListViewTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        ShowForm();
        list = form->lstvNamen;
        hList = list->Handle();
        form->ClearLog();
    }
    TListView* list = nullptr;
    HWND hList = nullptr;
};

TEST_F(ListViewTest, RowsAreSortedByCaptionIgnoringCase)
{
    std::vector<std::string> sorted{"Alpha", "Bravo", "charlie", "delta"};
    EXPECT_EQ(Captions(list), sorted);
    EXPECT_EQ(NativeCaptions(hList), sorted);
    TListItem* p = list->Items()->Add("beta");
    EXPECT_EQ(p->Index(), 1);
    EXPECT_EQ(p->Caption(), "beta");
    EXPECT_NE(GetWindowLongPtrA(hList, GWL_STYLE) & LVS_SHOWSELALWAYS, 0) << "selection kept visible";
    EXPECT_EQ(GetWindowLongPtrA(hList, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
}

TEST_F(ListViewTest, SelectionReportsTheLosingItemFirstThenTheGainingItem)
{
    // As the user's clicks do it.
    ASSERT_TRUE(ui::SelectListItem(hList, 0));
    EXPECT_EQ(form->log, (std::vector<std::string>{"lstvNamen.SelectItem:Alpha,1"}));
    form->ClearLog();
    ASSERT_TRUE(ui::SelectListItem(hList, 2));
    EXPECT_EQ(form->log, (std::vector<std::string>{"lstvNamen.SelectItem:Alpha,0", "lstvNamen.SelectItem:charlie,1"}));
    EXPECT_EQ(list->Selected()->Caption(), "charlie");

    // And from code.
    form->ClearLog();
    list->Items()->Item(3)->SetSelected(true);
    EXPECT_EQ(form->log, (std::vector<std::string>{"lstvNamen.SelectItem:charlie,0", "lstvNamen.SelectItem:delta,1"}));
    form->ClearLog();
    list->Items()->Item(3)->SetSelected(true);
    EXPECT_TRUE(form->log.empty()) << "no change, no event";
    list->SetSelected(nullptr);
    EXPECT_EQ(form->log, (std::vector<std::string>{"lstvNamen.SelectItem:delta,0"}));
    EXPECT_EQ(list->Selected(), nullptr);
}

TEST_F(ListViewTest, FindCaptionIgnoresCaseOverWholeCaptions)
{
    EXPECT_EQ(list->FindCaption(0, "CHARLIE")->Caption(), "charlie");
    EXPECT_EQ(list->FindCaption(0, "charli"), nullptr) << "whole captions only";
    EXPECT_EQ(list->FindCaption(0, "charli", true)->Caption(), "charlie");
    EXPECT_EQ(list->FindCaption(0, "nobody"), nullptr);
    EXPECT_EQ(list->FindCaption(3, "alpha"), nullptr);
    EXPECT_EQ(list->FindCaption(3, "alpha", false, true, true)->Caption(), "Alpha");
}

TEST_F(ListViewTest, InPlaceEditTakesTheCaptionTheHandlerLeaves)
{
    // Accepted: the row shows the new caption, in sorted place.
    ASSERT_TRUE(ui::BeginListEdit(hList, 0));
    EXPECT_TRUE(list->IsEditing());
    ASSERT_TRUE(ui::FinishListEdit(hList, "Zulu"));
    EXPECT_EQ(form->Count("lstvNamen.Edited:Alpha->Zulu"), 1);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"Bravo", "charlie", "delta", "Zulu"}));
    EXPECT_EQ(NativeCaptions(hList), Captions(list));

    // The handler keeps the old caption.
    list->OnEdited = [](TObject*, TListItem* item, std::string& caption) { caption = item->Caption(); };
    TListItem* bravo = list->Items()->Item(0);
    ASSERT_TRUE(ui::BeginListEdit(hList, 0));
    ASSERT_TRUE(ui::FinishListEdit(hList, "Yankee"));
    EXPECT_EQ(bravo->Caption(), "Bravo");
    EXPECT_EQ(ui::ListItemText(hList, 0), "Bravo");

    // The handler changes it to something else.
    list->OnEdited = [](TObject*, TListItem*, std::string& caption) { caption = "Echo"; };
    ASSERT_TRUE(ui::BeginListEdit(hList, 0));
    ASSERT_TRUE(ui::FinishListEdit(hList, "ignored"));
    EXPECT_EQ(NativeCaptions(hList), (std::vector<std::string>{"charlie", "delta", "Echo", "Zulu"}));

    // Escape: no event, caption unchanged.
    int calls = 0;
    list->OnEdited = [&](TObject*, TListItem*, std::string&) { ++calls; };
    ASSERT_TRUE(ui::BeginListEdit(hList, 0));
    ASSERT_TRUE(ui::FinishListEdit(hList, "", false));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(ui::ListItemText(hList, 0), "charlie");
}

TEST_F(ListViewTest, EditHandlerMayAskTheUserWhileTheEditEnds)
{
    // The rename check shows a notice and keeps the old name.
    list->OnEdited = [](TObject*, TListItem* item, std::string& caption) {
        Application->MessageBox("The name exists already.", nullptr, MB_OK | MB_ICONINFORMATION);
        caption = item->Caption();
    };
    ui::Answer answer({"#32770"}, ui::PressId(IDOK));
    ASSERT_TRUE(list->Items()->Item(1)->EditCaption());
    ASSERT_TRUE(ui::FinishListEdit(hList, "alpha"));
    ASSERT_TRUE(answer.Wait());
    EXPECT_NE(answer.Text().find("exists already"), std::string::npos);
    EXPECT_EQ(NativeCaptions(hList), (std::vector<std::string>{"Alpha", "Bravo", "charlie", "delta"}));
    EXPECT_FALSE(list->IsEditing());
}

TEST_F(ListViewTest, DeletingRowsFreesThemAndKeepsTheRest)
{
    int deletions = 0;
    list->OnDeletion = [&](TObject*, TListItem*) { ++deletions; };
    TListItem* bravo = list->FindCaption(0, "bravo");
    ASSERT_NE(bravo, nullptr);
    bravo->Delete();
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"Alpha", "charlie", "delta"}));
    EXPECT_EQ(list->FindCaption(0, "bravo"), nullptr);
    list->Items()->Delete(0);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"charlie", "delta"}));
    list->Items()->Clear();
    EXPECT_EQ(list->Items()->Count(), 0);
    EXPECT_EQ(deletions, 4);
}

TEST_F(ListViewTest, MakeVisibleScrollsARowIntoView)
{
    list->Items()->BeginUpdate();
    for (int i = 0; i < 60; ++i) list->Items()->Add("row " + std::to_string(100 + i));
    list->Items()->EndUpdate();
    TListItem* last = list->Items()->Item(list->Items()->Count() - 1);
    EXPECT_EQ(SendMessageA(hList, LVM_GETTOPINDEX, 0, 0), 0);
    last->MakeVisible();
    ui::Pump(20);
    int top = static_cast<int>(SendMessageA(hList, LVM_GETTOPINDEX, 0, 0));
    int perPage = static_cast<int>(SendMessageA(hList, LVM_GETCOUNTPERPAGE, 0, 0));
    EXPECT_GT(top, 0);
    EXPECT_GE(top + perPage, last->Index() + 1);
}

TEST_F(ListViewTest, CursorChangesWhileBusy)
{
    list->SetCursor(crHourGlass);
    SendMessageA(hList, WM_SETCURSOR, reinterpret_cast<WPARAM>(hList), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_WAIT));
    list->SetCursor(crDefault);
    SendMessageA(hList, WM_SETCURSOR, reinterpret_cast<WPARAM>(hList), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_NE(GetCursor(), LoadCursor(nullptr, IDC_WAIT));
}

}  // namespace
