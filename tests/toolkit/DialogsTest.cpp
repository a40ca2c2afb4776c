// The standard open and save dialogs: title, proposed name, filter, initial
// folder and the result, answered as a user would.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestSupport.h"
#include "ToolkitFixture.h"

namespace {

using ui::ChooseFile;

TEST_F(ToolkitTest, SaveDialogProposesANameAndReturnsTheChosenPath)
{
    ktxtest::TempDir dir;
    TSaveDialog save(form.get());
    save.Title = "Where should the safe go?";
    save.FileName = "Anna - safe.xml";
    save.Filter = "Safe files (*.xml)|*.xml|All files|*.*";
    save.InitialDir = dir.Path();
    std::string seenName, seenFilter;
    ui::Answer answer({"#32770", "Where should the safe go?"}, ChooseFile("chosen.xml", &seenName, &seenFilter));
    ASSERT_TRUE(save.Execute());
    EXPECT_TRUE(answer.Wait());
    EXPECT_EQ(seenName, "Anna - safe.xml");
    EXPECT_EQ(seenFilter, "Safe files (*.xml)");
    EXPECT_EQ(lstrcmpiA(save.FileName.c_str(), dir.File("chosen.xml").c_str()), 0) << save.FileName;
    EXPECT_FALSE(ktxtest::FileExists(save.FileName)) << "choosing writes nothing";
}

TEST_F(ToolkitTest, OpenDialogAcceptsANameThatDoesNotExistAndCancelReturnsFalse)
{
    ktxtest::TempDir dir;
    TOpenDialog open(form.get());
    open.Title = "Open a safe";
    open.Filter = "Safe files (*.xml)|*.xml";
    open.InitialDir = dir.Path();
    ui::Answer answer({"#32770", "Open a safe"}, ChooseFile("missing.xml"));
    ASSERT_TRUE(open.Execute()) << "the defaults do not require an existing file";
    EXPECT_TRUE(answer.Wait());
    EXPECT_EQ(lstrcmpiA(open.FileName.c_str(), dir.File("missing.xml").c_str()), 0) << open.FileName;

    open.FileName = "before.xml";
    ui::Answer cancel({"#32770", "Open a safe"}, ui::PressId(IDCANCEL));
    EXPECT_FALSE(open.Execute());
    EXPECT_TRUE(cancel.Wait());
    EXPECT_EQ(open.FileName, "before.xml") << "a cancelled choice changes nothing";
}

// Whatever the options say, choosing a file leaves the process's current
// folder where it was: a folder the user browsed to must never become the
// place where a program started later by a bare name is looked up.
TEST_F(ToolkitTest, FileDialogsKeepTheCurrentFolder)
{
    ktxtest::TempDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.File("picked").c_str(), nullptr));
    ASSERT_TRUE(ktxtest::WriteFileBytes(dir.File("picked\\there.xml"), "x"));
    char szBefore[MAX_PATH] = "";
    ASSERT_GT(GetCurrentDirectoryA(sizeof(szBefore), szBefore), 0u);
    ASSERT_NE(lstrcmpiA(szBefore, dir.File("picked").c_str()), 0);

    struct Case {
        const char* title;
        bool bSave;
        TOpenOptions options;
        const char* typed;      // what the user types into the name field: a file in a folder below
    } cases[] = {
        {"Open with the default options", false, ofHideReadOnly | ofEnableSizing, "picked\\there.xml"},
        {"Open an existing file", false, ofHideReadOnly | ofFileMustExist | ofPathMustExist, "picked\\there.xml"},
        {"Save with the default options", true, ofHideReadOnly | ofEnableSizing, "picked\\new.xml"},
        {"Save asking before replacing", true, ofHideReadOnly | ofOverwritePrompt | ofPathMustExist,
         "picked\\other.xml"},
        {"Open keeping the folder as asked", false, ofHideReadOnly | ofNoChangeDir, "picked\\there.xml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        std::unique_ptr<TOpenDialog> dlg(c.bSave ? new TSaveDialog(form.get()) : new TOpenDialog(form.get()));
        dlg->Title = c.title;
        dlg->Filter = "Safe files (*.xml)|*.xml|All files|*.*";
        dlg->InitialDir = dir.Path();
        dlg->Options = c.options;
        ui::Answer answer({"#32770", c.title}, ChooseFile(c.typed));
        ASSERT_TRUE(dlg->Execute());
        EXPECT_TRUE(answer.Wait());
        EXPECT_EQ(lstrcmpiA(dlg->FileName.c_str(), dir.File(c.typed).c_str()), 0) << dlg->FileName;
        char szAfter[MAX_PATH] = "";
        ASSERT_GT(GetCurrentDirectoryA(sizeof(szAfter), szAfter), 0u);
        EXPECT_STREQ(szAfter, szBefore);
        SetCurrentDirectoryA(szBefore);  // the next case starts from the same place
    }
}

}  // namespace
