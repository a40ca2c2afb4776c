// The safe dialog as a user sees it at any size: after a live resize it looks
// exactly as one opened at that size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LayoutCheck.h"
#include "SafeDlgFixture.h"
#include "TestSupport.h"
#include "UiDriver.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

class SafeLayout : public SafeDlgFixture {};

std::string LangSuffix()
{
    return DLS_LANG_ID() == LS_LANG_GERMAN ? "de" : "en";
}

// The width of a control's caption in its font, on one line.
int TextWidthOf(TControl* pControl)
{
    const std::string text = pControl->Caption();
    HDC hdc = GetDC(nullptr);
    HGDIOBJ hOld = SelectObject(hdc, pControl->Font()->Handle());
    RECT rc{0, 0, 0, 0};
    DrawTextA(hdc, text.c_str(), -1, &rc, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(hdc, hOld);
    ReleaseDC(nullptr, hdc);
    return rc.right;
}

// The captions that do not fit their control as the dialog shows them now.
std::vector<std::string> CaptionsThatDoNotFit(TfrmDlgSafe* pDlg)
{
    std::vector<std::string> problems;
    TSpeedButton* const apTools[] = {pDlg->btnNeuerEintrag, pDlg->btnEintragLoeschen, pDlg->btnKeyGenerator,
                                     pDlg->btnChangeTresorFile, pDlg->btnCertMgr, pDlg->btnChangePassword,
                                     pDlg->btnKonvert};
    int xRight = 0;
    for (TSpeedButton* p : apTools) {
        if (!p->Visible()) continue;
        // What the button draws in: its face less the frame.
        const int cxInner = p->Width() - 6, cyInner = p->Height() - 4;
        const SIZE need = p->WordWrap() ? p->TextExtent(cxInner) : p->TextExtent();
        if (need.cx > cxInner || need.cy > cyInner)
            problems.push_back("tool button \"" + p->Caption() + "\" needs " + std::to_string(need.cx) + " x " +
                               std::to_string(need.cy) + " of " + std::to_string(cxInner) + " x " +
                               std::to_string(cyInner));
        // Every word whole on its line.
        if (p->WordWrap() && p->TextExtent(1).cx > cxInner)
            problems.push_back("a word of \"" + p->Caption() + "\" is cut");
        if (p->Left() < xRight) problems.push_back("tool button \"" + p->Caption() + "\" covers the one before");
        xRight = p->Left() + p->Width();
    }
    if (xRight > pDlg->pnlTop->ClientWidth()) problems.push_back("the tool bar is wider than the window");
    TButton* const apButtons[] = {pDlg->btnHilfe, pDlg->btnAbout, pDlg->btnLogFile, pDlg->btnClose};
    for (TButton* p : apButtons)
        if (TextWidthOf(p) + 12 > p->Width())
            problems.push_back("button \"" + p->Caption() + "\" needs " + std::to_string(TextWidthOf(p) + 12) +
                               " of " + std::to_string(p->Width()));
    const std::pair<TLabel*, TEdit*> rows[] = {{pDlg->txtBenutzername, pDlg->editBenutzername},
                                               {pDlg->txtPasswort, pDlg->editPasswort},
                                               {pDlg->txtURL, pDlg->editURL}};
    for (const auto& row : rows)
        if (row.first->Left() + TextWidthOf(row.first) + 4 > row.second->Left())
            problems.push_back("label \"" + row.first->Caption() + "\" reaches its field");
    return problems;
}

TEST_F(SafeLayout, EveryCaptionFitsAtTheSmallestAndALargerSizeWithEveryButtonShown)
{
    const char* expected = getenv("KTX_EXPECT_LANG");
    if (expected && *expected) EXPECT_EQ(atoi(expected), DLS_LANG_ID()) << "the language of this run";
    ShowAndStart();
    struct Case {
        const char* pszName;
        bool bTypedSafe;   // change password and convert shown
        SIZE size;
    };
    const Case cases[] = {
        {"smallest", false, {TfrmDlgSafe::MIN_WIDTH, TfrmDlgSafe::MIN_HEIGHT}},
        {"smallest, typed-password safe", true, {TfrmDlgSafe::MIN_WIDTH, TfrmDlgSafe::MIN_HEIGHT}},
        {"larger, typed-password safe", true, {960, 520}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_pDlg->btnChangePassword->SetVisible(c.bTypedSafe);
        m_pDlg->btnKonvert->SetVisible(c.bTypedSafe);
        m_pDlg->SetBounds(30, 30, c.size.cx, c.size.cy);
        ui::Pump(200);
        for (const std::string& problem : CaptionsThatDoNotFit(m_pDlg)) ADD_FAILURE() << problem;
        for (const std::string& problem : ktxtest::LayoutProblems(m_pDlg)) ADD_FAILURE() << problem;
        const std::string name = std::string("safedlg-") + (c.size.cx == TfrmDlgSafe::MIN_WIDTH ? "min" : "large") +
                                 (c.bTypedSafe ? "-typed-" : "-") + LangSuffix();
        EXPECT_FALSE(ui::Screenshot(name, m_pDlg->Handle()).empty());
    }
}

TEST_F(SafeLayout, ALiveResizeLooksLikeAWindowOpenedAtThatSize)
{
    ShowAndStart();
    ui::Pump(300);
    const HWND hDlg = m_pDlg->Handle();
    RECT start{};
    GetWindowRect(hDlg, &start);
    const int w0 = start.right - start.left, h0 = start.bottom - start.top;
    const int w1 = 900, h1 = 480;
    for (int i = 1; i <= 12; ++i) {
        SetWindowPos(hDlg, nullptr, 0, 0, w0 + (w1 - w0) * i / 12, h0 + (h1 - h0) * i / 12,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ui::Pump(40);
    }
    ui::Pump(400);
    int wa = 0, ha = 0;
    const std::vector<uint32_t> live = ui::Capture(hDlg, &wa, &ha);
    ui::Screenshot("safedlg-resized-live", hDlg);

    ASSERT_TRUE(TVornixReg::QOVSetWindowsRect(m_pOwner, kSafeKey, start.left, start.top, w1, h1, 0));
    Recreate();
    ShowAndStart();
    ui::Pump(700);
    int wb = 0, hb = 0;
    const std::vector<uint32_t> fresh = ui::Capture(m_pDlg->Handle(), &wb, &hb);
    ui::Screenshot("safedlg-resized-fresh", m_pDlg->Handle());
    ASSERT_EQ(wa, wb);
    ASSERT_EQ(ha, hb);
    size_t nDiff = 0;
    int minX = wa, minY = ha, maxX = -1, maxY = -1;
    for (int y = 0; y < ha; ++y)
        for (int x = 0; x < wa; ++x)
            if (live[static_cast<size_t>(y) * wa + x] != fresh[static_cast<size_t>(y) * wa + x]) {
                ++nDiff;
                minX = std::min(minX, x); minY = std::min(minY, y); maxX = std::max(maxX, x); maxY = std::max(maxY, y);
            }
    EXPECT_EQ(nDiff, 0u) << "differ in " << minX << "," << minY << " .. " << maxX << "," << maxY;
}

}  // namespace
