// The progress dialog: the record read at its fixed offsets, the line and the
// bar, painting while the caller works, no way for the user to stop the work.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "DialogTestSupport.h"
#include "KTXLANG.h"
#include "LSStr.h"

namespace ui = ktxtest::ui;
using namespace dlgtest;

namespace {

std::string ItemLine(const std::string& name, int nNumber, int nCount)
{
    char sz[512];
    snprintf(sz, sizeof(sz), DLS_DLG_PROGRESS_ITEM(), name.c_str(), nNumber, nCount);
    return sz;
}

class ProgressDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        pDyn.reset(new TVornixDyn(owner.Get(), "KTXDlg.DLL"));
        pDialog = pDyn->DYN_DoGetFrmDlgProgress(owner.Get(), parent.Handle());
        ASSERT_NE(nullptr, pDialog);
    }
    void TearDown() override
    {
        if (pDialog) {
            EXPECT_TRUE(pDyn->DYN_DoFreeFrmDlgProgress(pDialog));
        }
    }
    // The line of the dialog that names the entry.
    std::string Line(HWND h) const
    {
        std::vector<std::string> texts = StaticTexts(h);
        return texts.size() >= 2 ? texts[1] : std::string();
    }

    OwnerHandle owner;
    ParentWindow parent;
    std::unique_ptr<TVornixDyn> pDyn;
    TLSProgressDlg* pDialog = nullptr;
};

}  // namespace

// The caller's record is read at offsets 4 (index), 8 (count) and 12 (name);
// the flag at 4376 is the caller's.
TEST_F(ProgressDialog, ReadsTheRecordAtItsOffsets)
{
    alignas(4) unsigned char raw[sizeof(TLSProgress)];
    memset(raw, 0, sizeof(raw));
    int32_t nIndex = 1, nCount = 3;
    memcpy(raw + 4, &nIndex, 4);
    memcpy(raw + 8, &nCount, 4);
    memcpy(raw + 12, "Bank & Co", 10);
    raw[4376] = 1;
    TLSProgress* pRecord = reinterpret_cast<TLSProgress*>(raw);

    owner->bDlgPosSet = true;
    owner->nDlgLeft = 200;
    owner->nDlgTop = 160;
    bool bCancel = true;
    ASSERT_TRUE(pDialog->Show(owner.Get(), parent.Handle(), pRecord, true, 10011, 0, &bCancel));
    EXPECT_FALSE(bCancel);
    HWND h = ui::FindTopWindow({kClassProgress});
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(parent.Handle(), GetWindow(h, GW_OWNER));
    RECT rc;
    GetWindowRect(h, &rc);
    EXPECT_EQ(200, rc.left);
    EXPECT_EQ(160, rc.top);
    EXPECT_TRUE(ShowsText(h, DLS_DLG_PROGRESS_ENTRIES()));
    EXPECT_EQ(ItemLine("Bank & Co", 2, 3), Line(h));
    EXPECT_EQ(3, BarMax(h));
    EXPECT_EQ(2, BarPosition(h));

    nIndex = 2;
    memcpy(raw + 4, &nIndex, 4);
    memcpy(raw + 12, "Zoo", 4);
    bCancel = true;
    EXPECT_TRUE(pDialog->Step(pRecord, &bCancel));
    EXPECT_FALSE(bCancel);
    EXPECT_EQ(ItemLine("Zoo", 3, 3), Line(h));
    EXPECT_EQ(3, BarPosition(h));
    Shot("progress", h);
    EXPECT_TRUE(TextsThatDoNotFit(h).empty());

    EXPECT_TRUE(pDialog->Show(owner.Get(), parent.Handle(), pRecord, false, 10011, 0, &bCancel));
    EXPECT_FALSE(IsWindowVisible(h));
    EXPECT_TRUE(pDialog->Show(owner.Get(), parent.Handle(), pRecord, true, 10011, 0, &bCancel));
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_TRUE(pDyn->DYN_DoFreeFrmDlgProgress(pDialog));
    pDialog = nullptr;
    EXPECT_FALSE(IsWindow(h)) << "freeing the dialog destroys its window";
}

// The work must not stop half-way: no Cancel button, no close box, a close
// request is refused, and the cancel flag only ever comes back false.
TEST_F(ProgressDialog, OffersNoWayToStopTheWork)
{
    TLSProgress rec{};
    rec.nCount = 2;
    bool bCancel = true;
    ASSERT_TRUE(pDialog->Show(owner.Get(), parent.Handle(), &rec, true, 10011, 0, &bCancel));
    HWND h = ui::FindTopWindow({kClassProgress});
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(nullptr, ui::FindControlByClass(h, "Button"));
    EXPECT_EQ(0, GetWindowLongA(h, GWL_STYLE) & WS_SYSMENU);
    PostMessageA(h, WM_CLOSE, 0, 0);
    PostMessageA(h, WM_KEYDOWN, VK_ESCAPE, 1);
    bCancel = true;
    EXPECT_TRUE(pDialog->Step(&rec, &bCancel));
    EXPECT_FALSE(bCancel);
    EXPECT_TRUE(IsWindowVisible(h));
}

// The caller works on its own thread without returning to a message loop:
// each step paints the dialog at once and handles only the dialog's own
// messages, never the caller's.
TEST_F(ProgressDialog, KeepsPaintingWhileTheCallerWorks)
{
    TLSProgress rec{};
    rec.nCount = 10;
    LSStrCopy(rec.szName, sizeof(rec.szName), "Entry 0");
    bool bCancel = false;
    ASSERT_TRUE(pDialog->Show(owner.Get(), parent.Handle(), &rec, true, 10011, 0, &bCancel));
    HWND h = ui::FindTopWindow({kClassProgress});
    ASSERT_NE(nullptr, h);
    HWND hBar = ui::FindControlByClass(h, PROGRESS_CLASSA);
    ASSERT_NE(nullptr, hBar);
    RECT rcBar;
    GetWindowRect(hBar, &rcBar);
    POINT ptLate{rcBar.left + (rcBar.right - rcBar.left) * 9 / 10, (rcBar.top + rcBar.bottom) / 2};

    const UINT kCallersMessage = WM_APP + 17;
    PostMessageA(parent.Handle(), kCallersMessage, 0, 0);
    HDC hScreen = GetDC(nullptr);
    COLORREF crEarly = CLR_INVALID, crDone = CLR_INVALID;
    for (int i = 0; i < 10; ++i) {
        rec.nIndex = i;
        char szName[32];
        snprintf(szName, sizeof(szName), "Entry %d", i);
        LSStrCopy(rec.szName, sizeof(rec.szName), szName);
        rec.bFlag = 1;
        InvalidateRect(h, nullptr, TRUE);
        ASSERT_TRUE(pDialog->Step(&rec, &bCancel));
        EXPECT_FALSE(GetUpdateRect(h, nullptr, FALSE)) << "step " << i << " left the dialog unpainted";
        EXPECT_EQ(ItemLine(szName, i + 1, 10), Line(h));
        if (i == 0) crEarly = GetPixel(hScreen, ptLate.x, ptLate.y);
        if (i == 9) crDone = GetPixel(hScreen, ptLate.x, ptLate.y);
        Sleep(20);  // the caller's work
    }
    ReleaseDC(nullptr, hScreen);
    EXPECT_NE(crEarly, crDone) << "the bar was not painted further while the caller worked";
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, parent.Handle(), kCallersMessage, kCallersMessage, PM_REMOVE))
        << "a step must not handle the caller's messages";
}

// A name that fills its whole field without a terminator is read only as far
// as the field goes and shortened so that the counter still shows.
TEST_F(ProgressDialog, ShortensAnOverlongNameAndKeepsTheCounter)
{
    TLSProgress rec{};
    memset(rec.szName, 'W', sizeof(rec.szName));
    rec.bFlag = 1;
    rec.nIndex = 0;
    rec.nCount = 1;
    bool bCancel = false;
    ASSERT_TRUE(pDialog->Show(owner.Get(), parent.Handle(), &rec, true, 10011, 0, &bCancel));
    HWND h = ui::FindTopWindow({kClassProgress});
    ASSERT_NE(nullptr, h);
    std::string line = Line(h);
    std::string counter = ItemLine("", 1, 1);
    ASSERT_GE(line.size(), counter.size());
    EXPECT_EQ(counter, line.substr(line.size() - counter.size()));
    EXPECT_NE(std::string::npos, line.find("W..."));
    EXPECT_TRUE(TextsThatDoNotFit(h).empty());
}

TEST_F(ProgressDialog, FreesOnlyWhatItHandedOut)
{
    TLSProgress rec{};
    EXPECT_FALSE(pDyn->DYN_DoFreeFrmDlgProgress(reinterpret_cast<TLSProgressDlg*>(&rec)));
    EXPECT_TRUE(pDyn->DYN_DoFreeFrmDlgProgress(nullptr));
    bool bCancel = true;
    EXPECT_FALSE(pDialog->Step(nullptr, &bCancel));
    EXPECT_FALSE(bCancel);
}
