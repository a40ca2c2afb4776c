// Forms: window class, placement, constraints, layout, painting, showing,
// closing and the application's loop.
#include <gtest/gtest.h>

#include "ToolkitFixture.h"

namespace {

TEST_F(ToolkitTest, FindWindowFindsTheFormByItsClassName)
{
    HWND h = FindWindowA("TfrmToolkitTest", nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h, form->Handle());
    EXPECT_EQ(ui::TextOf(h), "Toolkit test form");
    EXPECT_FALSE(IsWindowVisible(h)) << "a form is created hidden";
}

TEST_F(ToolkitTest, ScreenshotShowsEveryControl)
{
    ShowForm();
    form->lstvNamen->Items()->Item(1)->SetSelected(true);
    form->editName->SetText("Anna");
    UpdateWindow(form->Handle());
    ui::Pump(300);
    std::string path = ui::Screenshot("toolkit-form", form->Handle());
    ASSERT_FALSE(path.empty());
    EXPECT_GT(GetFileAttributesA(path.c_str()), 0u);
    // The screen shows the form's own painting: button face between the controls.
    HDC hdc = GetDC(nullptr);
    POINT pt{20, 300};
    ClientToScreen(form->Handle(), &pt);
    COLORREF c = GetPixel(hdc, pt.x, pt.y);
    ReleaseDC(nullptr, hdc);
    EXPECT_EQ(c, GetSysColor(COLOR_BTNFACE));
}

TEST_F(ToolkitTest, ColourAndPictureArePainted)
{
    // A grey banner with a stretched picture in its left half.
    TForm banner(nullptr, "TfrmBannerTest");
    banner.SetBorderStyle(bsNone);
    banner.SetClientSize(200, 40);
    banner.SetColor(clGray);
    TImage* img = new TImage(&banner);
    img->SetBounds(0, 0, 100, 40);
    img->SetStretch(true);
    img->SetBitmap(MakeTestBitmap(4, 4, RGB(255, 0, 0), RGB(255, 0, 0)));
    TLabel* lbl = new TLabel(&banner);
    lbl->SetTransparent(true);
    lbl->SetAutoSize(false);
    lbl->SetBounds(0, 0, 200, 40);
    lbl->SetCaption("");
    banner.Show();
    UpdateWindow(banner.Handle());
    ui::Pump(200);
    HDC hdc = GetDC(nullptr);
    POINT left{50, 20}, right{150, 20};
    ClientToScreen(banner.Handle(), &left);
    ClientToScreen(banner.Handle(), &right);
    COLORREF cl = GetPixel(hdc, left.x, left.y), cr = GetPixel(hdc, right.x, right.y);
    ReleaseDC(nullptr, hdc);
    EXPECT_EQ(cl, RGB(255, 0, 0)) << "the picture shows through the transparent label";
    EXPECT_EQ(cr, RGB(128, 128, 128)) << "the form's colour";
}

TEST_F(ToolkitTest, DesktopCentreAndConstraints)
{
    ShowForm();
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT rc;
    GetWindowRect(form->Handle(), &rc);
    EXPECT_NEAR((rc.left + rc.right) / 2, (area.left + area.right) / 2, 2);
    EXPECT_NEAR((rc.top + rc.bottom) / 2, (area.top + area.bottom) / 2, 2);
    EXPECT_EQ(form->ClientWidth(), 640);
    EXPECT_EQ(form->ClientHeight(), 400);

    // Code cannot make the form smaller than its constraints, nor can the user.
    form->SetBounds(rc.left, rc.top, 200, 100);
    EXPECT_EQ(form->Width(), 500);
    EXPECT_EQ(form->Height(), 300);
    MINMAXINFO mmi{};
    SendMessageA(form->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    EXPECT_EQ(mmi.ptMinTrackSize.x, 500);
    EXPECT_EQ(mmi.ptMinTrackSize.y, 300);
}

TEST_F(ToolkitTest, AlignedAndAnchoredControlsFollowAResize)
{
    ShowForm();
    form->ClearLog();
    form->SetClientSize(740, 460);
    ui::Pump(50);
    EXPECT_GE(form->Count("frmToolkitTest.Resize"), 1);
    // Bars stay at the edges with the full width.
    EXPECT_EQ(form->pnlTop->Top(), 0);
    EXPECT_EQ(form->pnlTop->Width(), 740);
    EXPECT_EQ(form->pnlButtons->Top(), 460 - 40);
    EXPECT_EQ(form->pnlButtons->Width(), 740);
    // Anchored right and bottom: moves with the corner (inside its panel, whose
    // height stays, so only the horizontal distance shows).
    EXPECT_EQ(form->btnClose->Left(), 540 + 100);
    EXPECT_EQ(form->btnClose->Top(), 8);
    // Anchored on all sides: grows; the picture (left, top) stays.
    EXPECT_EQ(form->lstvNamen->Width(), 150 + 100);
    EXPECT_EQ(form->lstvNamen->Height(), 270 + 60);
    EXPECT_EQ(form->imgPicture->Left(), 8);
    // The auto-sized column fills the list.
    RECT client;
    GetClientRect(form->lstvNamen->Handle(), &client);
    EXPECT_EQ(form->lstvNamen->Column(0)->Width(), client.right);
}

TEST_F(ToolkitTest, ShowFiresOnShowOnceAndHideHides)
{
    form->Show();
    form->Show();
    ui::Pump(50);
    EXPECT_EQ(form->Count("frmToolkitTest.Show"), 1);
    EXPECT_TRUE(form->Visible());
    form->Hide();
    EXPECT_FALSE(IsWindowVisible(form->Handle()));
    EXPECT_FALSE(form->Visible());
}

TEST_F(ToolkitTest, ClosingASecondaryFormOnlyHidesIt)
{
    ShowForm();
    PostMessageA(form->Handle(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(form->Handle()); }));
    EXPECT_EQ(form->Count("frmToolkitTest.Close"), 1);
    EXPECT_TRUE(IsWindow(form->Handle())) << "the window still exists";
    EXPECT_FALSE(Application->Terminated());
}

TEST_F(ToolkitTest, ClosingTheMainFormEndsTheApplicationLoop)
{
    TfrmToolkitTest* pMain = Application->CreateForm<TfrmToolkitTest>();
    ASSERT_EQ(Application->MainForm(), pMain);
    // The start-up timer pattern: work once shown, then close.
    pMain->tmrTest->OnTimer = [pMain](TObject*) {
        pMain->tmrTest->SetEnabled(false);
        pMain->Close();
    };
    pMain->OnShow = [pMain](TObject*) { pMain->tmrTest->SetEnabled(true); };
    Application->Run();   // shows the main form, returns when it closes
    EXPECT_TRUE(Application->Terminated());
    EXPECT_FALSE(IsWindowVisible(pMain->Handle()));
    Application->DestroyForms();
    EXPECT_EQ(Application->MainForm(), nullptr);
    EXPECT_EQ(FindWindowA("TfrmToolkitTest", "Toolkit test form"), form->Handle()) << "only the fixture's form is left";
}

TEST_F(ToolkitTest, AWindowDestroyedFromOutsideFiresOnDestroyAndLeavesASafeObject)
{
    ShowForm();
    int destroyed = 0;
    form->OnDestroy = [&](TObject*) { ++destroyed; };
    HWND hEdit = form->editName->Handle();
    DestroyWindow(form->Handle());
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(form->Handle(), nullptr);
    EXPECT_EQ(form->editName->Handle(), nullptr) << "the children forgot their windows too";
    EXPECT_FALSE(IsWindow(hEdit));
    form->editName->SetText("no window");   // harmless without a window
    form.reset();                           // and so is deleting the form
    EXPECT_EQ(destroyed, 1);
}

TEST_F(ToolkitTest, OwnedComponentsAreDeletedWithTheirOwner)
{
    struct Probe : TComponent {
        Probe(TComponent* o, int* p) : TComponent(o), pDeleted(p) {}
        ~Probe() override { ++*pDeleted; }
        int* pDeleted;
    };
    int deleted = 0;
    TComponent* pRoot = new TComponent(nullptr);
    Probe* pEarly = new Probe(pRoot, &deleted);
    new Probe(pRoot, &deleted);
    EXPECT_EQ(pRoot->ComponentCount(), 2);
    delete pEarly;   // deleted early: leaves its owner
    EXPECT_EQ(pRoot->ComponentCount(), 1);
    delete pRoot;
    EXPECT_EQ(deleted, 2);

    // A control deleted by itself leaves its parent.
    int before = form->pnlTop->ControlCount();
    delete form->btnFlatDisabled;
    EXPECT_EQ(form->pnlTop->ControlCount(), before - 1);
    EXPECT_EQ(form->FindComponent("pnlTop"), form->pnlTop);
}

}  // namespace
