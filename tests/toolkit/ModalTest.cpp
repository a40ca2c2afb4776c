// Modal runs: ShowModal returns after Close (from a timer, a button with a
// modal result, Escape), disables the other windows meanwhile, keeps timers
// running, and a message box inside the modal form is answered by the
// support library.
#include <gtest/gtest.h>

#include "ToolkitFixture.h"

namespace {

class TfrmModalTest : public TForm {
public:
    explicit TfrmModalTest(TComponent* pOwner) : TForm(pOwner, "TfrmModalTest")
    {
        SetCaption("Modal test");
        SetBorderStyle(bsDialog);
        SetClientSize(300, 100);
        SetPosition(poMainFormCenter);
        editWert = new TEdit(this);
        editWert->SetBounds(10, 10, 150, 21);
        btnAsk = new TButton(this);
        btnAsk->SetBounds(10, 60, 75, 25);
        btnAsk->SetCaption("Ask");
        btnAsk->OnClick = [this](TObject*) {
            nAnswer = Application->MessageBox("Take the value?", "Question", MB_YESNO | MB_ICONQUESTION);
            SetModalResult(nAnswer == IDYES ? mrOk : mrNone);
        };
        btnOk = new TButton(this);
        btnOk->SetBounds(130, 60, 75, 25);
        btnOk->SetCaption("OK");
        btnOk->SetModalResult(mrOk);
        btnOk->SetDefault(true);
        btnCancel = new TButton(this);
        btnCancel->SetBounds(210, 60, 75, 25);
        btnCancel->SetCaption("Cancel");
        btnCancel->SetModalResult(mrCancel);
        btnCancel->SetCancel(true);
        tmrClose = new TTimer(this);
        tmrClose->SetEnabled(false);
        tmrClose->SetInterval(100);
        OnShow = [this](TObject*) { ++nShows; };
        OnClose = [this](TObject*, TCloseAction&) { ++nCloses; };
    }
    TEdit* editWert;
    TButton* btnAsk;
    TButton* btnOk;
    TButton* btnCancel;
    TTimer* tmrClose;
    int nAnswer = 0;
    int nShows = 0;
    int nCloses = 0;
};

class ModalTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        ShowForm();
        dlg.reset(new TfrmModalTest(nullptr));
    }
    void TearDown() override
    {
        dlg.reset();
        ToolkitTest::TearDown();
    }
    std::unique_ptr<TfrmModalTest> dlg;
};

TEST_F(ModalTest, ShowModalReturnsAfterCloseFromATimer)
{
    bool bOwnerDisabled = false, bOthersTicked = false;
    form->tmrTest->SetEnabled(true);   // the other form's timer keeps running
    dlg->tmrClose->OnTimer = [&](TObject*) {
        bOwnerDisabled = !IsWindowEnabled(form->Handle()) && !form->Enabled();
        bOthersTicked = form->Count("tmrTest.Timer") > 0;
        if (!bOthersTicked) return;   // wait for the other timer once
        dlg->tmrClose->SetEnabled(false);
        dlg->Close();
    };
    dlg->tmrClose->SetEnabled(true);
    form->ClearLog();
    int result = dlg->ShowModal();
    EXPECT_EQ(result, mrCancel);
    EXPECT_EQ(dlg->nShows, 1);
    EXPECT_EQ(dlg->nCloses, 1);
    EXPECT_TRUE(bOwnerDisabled) << "the other windows are disabled during the modal run";
    EXPECT_TRUE(bOthersTicked);
    EXPECT_TRUE(IsWindowEnabled(form->Handle())) << "and enabled again afterwards";
    EXPECT_TRUE(form->Enabled());
    EXPECT_FALSE(IsWindowVisible(dlg->Handle()));
    EXPECT_EQ(dlg->OwnerWindow(), form->Handle()) << "owned by the window that was active";
    EXPECT_FALSE(dlg->Modal());
}

TEST_F(ModalTest, ADialogAppearsCentredOnTheMainForm)
{
    Application->SetMainForm(form.get());
    form->SetBounds(40, 60, 600, 400);
    dlg->tmrClose->OnTimer = [&](TObject*) { dlg->Close(); };
    dlg->tmrClose->SetEnabled(true);
    RECT seen{};
    dlg->OnShow = [&](TObject*) { GetWindowRect(dlg->Handle(), &seen); };
    dlg->ShowModal();
    Application->SetMainForm(nullptr);
    EXPECT_NEAR((seen.left + seen.right) / 2, 40 + 300, 1);
    EXPECT_NEAR((seen.top + seen.bottom) / 2, 60 + 200, 1);
}

TEST_F(ModalTest, AButtonWithAModalResultEndsTheRun)
{
    ui::Answer answer({"TfrmModalTest"}, ui::Press("OK"));
    EXPECT_EQ(dlg->ShowModal(), mrOk);
    EXPECT_TRUE(answer.Wait());
    EXPECT_EQ(dlg->nCloses, 1) << "a modal result closes the form like Close";

    // Shown again: Escape clicks the cancel button.
    ui::Answer escape({"TfrmModalTest"}, [](HWND h) {
        HWND hEdit = ui::FindControlByClass(h, "Edit");
        return PostMessageA(hEdit, WM_KEYDOWN, VK_ESCAPE, 1) != FALSE;
    });
    EXPECT_EQ(dlg->ShowModal(), mrCancel);
    EXPECT_TRUE(escape.Wait());
    EXPECT_EQ(dlg->nShows, 2);
}

TEST_F(ModalTest, EnterInTheModalFormClicksItsDefaultButton)
{
    dlg->btnOk->SetModalResult(mrNone);
    dlg->btnOk->OnClick = [this](TObject*) { dlg->SetModalResult(mrYes); };
    ui::Answer enter({"TfrmModalTest"}, [](HWND h) {
        HWND hEdit = ui::FindControlByClass(h, "Edit");
        ui::Type(hEdit, "typed");
        return PostMessageA(hEdit, WM_KEYDOWN, VK_RETURN, 1) != FALSE;
    });
    EXPECT_EQ(dlg->ShowModal(), mrYes);
    EXPECT_EQ(dlg->editWert->Text(), "typed");
}

TEST_F(ModalTest, AMessageBoxInsideTheModalFormIsAnswered)
{
    ui::Answer box({"#32770", "Question"}, ui::Press("&Yes"));
    ui::Answer ask({"TfrmModalTest"}, ui::Press("Ask"));
    EXPECT_EQ(dlg->ShowModal(), mrOk);
    EXPECT_TRUE(ask.Wait());
    EXPECT_TRUE(box.Wait());
    EXPECT_EQ(dlg->nAnswer, IDYES);
    EXPECT_NE(box.Text().find("Take the value?"), std::string::npos) << box.Text();
}

TEST_F(ModalTest, ACloseThatIsRefusedKeepsTheRunGoing)
{
    int queries = 0;
    dlg->OnCloseQuery = [&](TObject*, bool& canClose) { canClose = ++queries > 1; };
    dlg->tmrClose->OnTimer = [&](TObject*) {
        dlg->Close();
        if (queries > 1) dlg->tmrClose->SetEnabled(false);
    };
    dlg->tmrClose->SetEnabled(true);
    EXPECT_EQ(dlg->ShowModal(), mrCancel);
    EXPECT_EQ(queries, 2);
    EXPECT_EQ(dlg->nCloses, 1);
}

TEST_F(ModalTest, TerminatingTheApplicationEndsTheRunAndTheQuitReachesTheOuterLoop)
{
    dlg->tmrClose->OnTimer = [&](TObject*) {
        dlg->tmrClose->SetEnabled(false);
        Application->Terminate();
    };
    dlg->tmrClose->SetEnabled(true);
    EXPECT_EQ(dlg->ShowModal(), mrCancel);
    EXPECT_FALSE(IsWindowVisible(dlg->Handle()));
    // The outer loop still gets its WM_QUIT.
    MSG msg;
    int got = 1;
    DWORD start = GetTickCount();
    while (got && GetTickCount() - start < 5000) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            Sleep(5);
            continue;
        }
        if (msg.message == WM_QUIT) got = 0;
        else DispatchMessageA(&msg);
    }
    EXPECT_EQ(got, 0);
}

TEST_F(ModalTest, NestedModalFormsReturnInOrder)
{
    TfrmModalTest inner(nullptr);
    std::vector<std::string> order;
    dlg->OnShow = [&](TObject*) {
        dlg->tmrClose->SetEnabled(true);
    };
    dlg->tmrClose->OnTimer = [&](TObject*) {
        dlg->tmrClose->SetEnabled(false);
        inner.tmrClose->OnTimer = [&](TObject*) {
            inner.tmrClose->SetEnabled(false);
            EXPECT_FALSE(IsWindowEnabled(dlg->Handle()));
            inner.SetModalResult(mrYes);
        };
        inner.tmrClose->SetEnabled(true);
        order.push_back("inner " + std::to_string(inner.ShowModal()));
        EXPECT_TRUE(IsWindowEnabled(dlg->Handle()));
        dlg->SetModalResult(mrNo);
    };
    order.push_back("outer " + std::to_string(dlg->ShowModal()));
    EXPECT_EQ(order, (std::vector<std::string>{"inner " + std::to_string(mrYes), "outer " + std::to_string(mrNo)}));
}

}  // namespace
