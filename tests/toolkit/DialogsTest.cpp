// The standard open and save dialogs: title, proposed name, filter, initial
// folder and the result, answered as a user would.
#include <gtest/gtest.h>

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

}  // namespace
