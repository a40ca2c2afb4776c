// The question "existing safe file or new safe" and the about box.
#include <gtest/gtest.h>

#include <string>

#include "DialogTestSupport.h"
#include "KTXLANG.h"

namespace ui = ktxtest::ui;
using namespace dlgtest;

namespace {

class SimpleDialogs : public ::testing::Test {
protected:
    OwnerHandle owner;
    ParentWindow parent;
};

// How the user answers: a button by its caption, or a key on the focused control.
struct ImportSaveCase {
    const char* pszName;
    std::function<void(HWND)> act;
    int nExpected;
};

}  // namespace

TEST_F(SimpleDialogs, ImportSaveAnswersNineOrTenAndZeroOnCancel)
{
    const std::string importText = DLS_TXT_SAFE_IMPORT();
    const std::string newText = DLS_TXT_SAFE_SAVE();
    ImportSaveCase cases[] = {
        {"import button", [&](HWND h) { ui::Click(Button(h, importText)); }, LS_IMPORTSAVE_IMPORT},
        {"new safe button", [&](HWND h) { ui::Click(Button(h, newText)); }, LS_IMPORTSAVE_NEW},
        {"cancel button", [&](HWND h) { ui::Click(Button(h, DLS_DLG_BTN_CANCEL())); }, 0},
        {"Escape", [&](HWND h) { ui::PressKey(FocusOf(h), VK_ESCAPE); }, 0},
        {"Enter", [&](HWND h) { ui::PressKey(FocusOf(h), VK_RETURN); }, LS_IMPORTSAVE_IMPORT},
        {"Tab, Enter",
         [&](HWND h) {
             HWND hFirst = FocusOf(h);
             ui::PressKey(hFirst, VK_TAB);
             WaitTrue([&] { return FocusOf(h) != hFirst; }, 3000);
             ui::PressKey(FocusOf(h), VK_RETURN);
         },
         LS_IMPORTSAVE_NEW},
    };
    for (const ImportSaveCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        bool bBothShown = false;
        ui::Answer answer({kClassImportSave}, Script([&](HWND h) {
            bBothShown = Button(h, importText) && Button(h, newText) && ShowsText(h, DLS_DLG_IMPSAVE_QUESTION());
            c.act(h);
        }, ""));
        int nAnswer = TVornixDyn::DYN_DoInputImportSave(owner.Get(), parent.Handle(), 2, importText.c_str(),
                                                        newText.c_str());
        ASSERT_TRUE(answer.Wait());
        EXPECT_TRUE(bBothShown) << "both choices are offered with the caller's texts";
        EXPECT_EQ(c.nExpected, nAnswer);
    }
}

TEST_F(SimpleDialogs, ImportSaveShowsTheCallersTexts)
{
    bool bShown = false;
    ui::Answer answer({kClassImportSave}, Script([&](HWND h) {
        bShown = Button(h, "Use my old safe") && Button(h, "Start from scratch");
    }, DLS_DLG_BTN_CANCEL()));
    EXPECT_EQ(0, TVornixDyn::DYN_DoInputImportSave(owner.Get(), parent.Handle(), 2, "Use my old safe",
                                                   "Start from scratch"));
    ASSERT_TRUE(answer.Wait());
    EXPECT_TRUE(bShown);
}

// The about box names the product, shows the version of the program's
// version resource (the test program carries one of its own) and the text.
TEST_F(SimpleDialogs, AboutShowsProductVersionAndText)
{
    const std::string text = "KTSafe - Safe & sound";
    std::vector<std::string> texts;
    ui::Answer answer({kClassAbout}, Script([&](HWND h) { texts = StaticTexts(h); }, DLS_DLG_BTN_OK()));
    EXPECT_TRUE(TVornixDyn::DYN_DoShowAbout(owner.Get(), parent.Handle(), text.c_str()));
    ASSERT_TRUE(answer.Wait());
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(DLS_GLOBAL_CAPTION_SAFE(), texts[0]);
    char szVersion[128];
    snprintf(szVersion, sizeof(szVersion), DLS_DLG_ABOUT_VERSION(), "7.42b-test");
    EXPECT_EQ(szVersion, texts[1]);
    EXPECT_EQ(text, texts[2]);
}

TEST_F(SimpleDialogs, AboutClosesWithEscape)
{
    ui::Answer answer({kClassAbout}, Script([&](HWND h) { ui::PressKey(FocusOf(h), VK_ESCAPE); }, ""));
    EXPECT_TRUE(TVornixDyn::DYN_DoShowAbout(owner.Get(), nullptr, nullptr));
    ASSERT_TRUE(answer.Wait());
}

// Every export can be found by the name TVornixDyn looks for.
TEST(DialogLibrary, ExportsEveryOperation)
{
    HMODULE hDll = LoadLibraryA("KTXDlg.DLL");
    ASSERT_NE(nullptr, hDll);
    for (const char* pszName : {"DYN_DoInputPassword", "DYN_DoInputPasswordChange", "DYN_DoInputImportSave",
                                "DYN_DoShowAbout", "DYN_DoGetFrmDlgProgress", "DYN_DoFreeFrmDlgProgress",
                                "DYN_DoInputDlgCertificateMgr", "DYN_DoFreeMgrCertificates"}) {
        EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(hDll, pszName))) << pszName;
    }
    FreeLibrary(hDll);
}
