// What the user sees of the toolkit's top-level windows: every kind shows the
// program's icon (small in the caption, big in the task bar), and the standard
// file dialogs open centred on the window they are shown over, centred on the
// work area when it is hidden, and never partly off the work area.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "ToolkitFixture.h"
#include "WindowLook.h"

namespace look = ktxtest::look;

namespace {

typedef int (*ShowFormFn)(HWND, int*);

// A window as the test saw it while it was open.
struct SeenWindow {
    bool bLooked = false;
    bool bProgramIcon = false;
    bool bCaptionIcon = false;
    std::string why;
    RECT rect{};
};

// Looks at a shown window: its icons, the caption on the screen (given time
// to be painted) and its place.
SeenWindow LookAt(HWND h)
{
    SeenWindow seen;
    seen.bLooked = true;
    ::testing::AssertionResult icon = look::ShowsProgramIcon(h);
    seen.bProgramIcon = static_cast<bool>(icon);
    if (!icon) seen.why += icon.message();
    look::ProgramIcon small(true);
    ::testing::AssertionResult caption = look::CaptionShowsIcon(h, small.Get());
    for (int i = 0; i < 30 && !caption; ++i) {
        ui::Pump(100);
        caption = look::CaptionShowsIcon(h, small.Get());
    }
    seen.bCaptionIcon = static_cast<bool>(caption);
    if (!caption) seen.why += std::string(" ") + caption.message();
    GetWindowRect(h, &seen.rect);
    return seen;
}

// An action for ui::Answer: looks at the window once, then closes it with close.
ui::Action LookThen(std::shared_ptr<SeenWindow> pSeen, ui::Action close)
{
    return [pSeen, close](HWND h) {
        if (!pSeen->bLooked) *pSeen = LookAt(h);
        return close(h);
    };
}

}  // namespace

TEST_F(ToolkitTest, EveryKindOfTopLevelWindowShowsTheProgramsIcon)
{
    // The test program carries the program's icon as its first icon, as KTSafe.exe does.
    look::ProgramIcon small(true), big(false);
    ASSERT_NE(small.Get(), nullptr);
    ASSERT_EQ(look::IconBits(TkProgramIcon(true)), look::IconBits(small.Get()));
    ASSERT_EQ(look::IconBits(TkProgramIcon(false)), look::IconBits(big.Get()));
    ShowForm();

    struct Case {
        const char* what;
        std::function<void(std::shared_ptr<SeenWindow>)> show;   // shows the window and looks at it
    } cases[] = {
        {"a sizeable form", [&](std::shared_ptr<SeenWindow> p) { *p = LookAt(form->Handle()); }},
        {"a dialog form",
         [&](std::shared_ptr<SeenWindow> p) {
             TForm dlg(nullptr, "TfrmLookDialog");
             dlg.SetBorderStyle(bsDialog);
             dlg.SetCaption("Dialog form");
             dlg.SetClientSize(300, 120);
             dlg.SetPosition(poDesktopCenter);
             dlg.Show();
             *p = LookAt(dlg.Handle());
         }},
        {"a form of a DLL's own toolkit",
         [&](std::shared_ptr<SeenWindow> p) {
             HMODULE hDll = LoadLibraryA("toolkit_testdll.dll");
             ASSERT_NE(hDll, nullptr);
             auto show = reinterpret_cast<ShowFormFn>(reinterpret_cast<void*>(GetProcAddress(hDll, "TkDllShowForm")));
             ASSERT_NE(show, nullptr);
             ui::Answer answer({"TfrmDllTest"}, LookThen(p, ui::Press("OK")));
             int ticks = 0;
             EXPECT_EQ(show(form->Handle(), &ticks), mrOk);
             EXPECT_TRUE(answer.Wait());
             FreeLibrary(hDll);
         }},
        {"an open dialog",
         [&](std::shared_ptr<SeenWindow> p) {
             TOpenDialog open(form.get());
             open.Title = "Open with the program's icon";
             ui::Answer answer({"#32770", "Open with the program's icon"}, LookThen(p, ui::PressId(IDCANCEL)));
             EXPECT_FALSE(open.Execute());
             EXPECT_TRUE(answer.Wait());
         }},
        {"a save dialog",
         [&](std::shared_ptr<SeenWindow> p) {
             TSaveDialog save(form.get());
             save.Title = "Save with the program's icon";
             ui::Answer answer({"#32770", "Save with the program's icon"}, LookThen(p, ui::PressId(IDCANCEL)));
             EXPECT_FALSE(save.Execute());
             EXPECT_TRUE(answer.Wait());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto seen = std::make_shared<SeenWindow>();
        c.show(seen);
        ASSERT_TRUE(seen->bLooked);
        EXPECT_TRUE(seen->bProgramIcon) << seen->why;
        EXPECT_TRUE(seen->bCaptionIcon) << seen->why;
    }
}

TEST_F(ToolkitTest, FileDialogsOpenCentredOnTheirOwnerAndWholeOnTheWorkArea)
{
    const RECT area = look::WorkAreaOf(nullptr);
    const int cx = 700, cy = 520;
    form->SetPosition(poDesigned);
    ShowForm();
    struct Case {
        const char* what;
        int x, y;            // the owner form's place; it is hidden when bShown is false
        bool bShown;
        bool bCentredOnOwner;   // else centred on the work area, or (both false) only kept on it
        bool bCentredOnArea;
    } cases[] = {
        {"an owner off the centre", area.left + 30, area.top + 40, true, true, false},
        {"an owner off the centre the other way", area.right - cx - 20, area.bottom - cy - 10, true, true, false},
        {"an owner hanging off the right and the bottom", area.right - 160, area.bottom - 120, true, false, false},
        {"an owner hanging off the left and the top", area.left - cx + 150, area.top - cy + 100, true, false, false},
        {"a hidden owner", area.left + 30, area.top + 40, false, false, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool bSave = (n++ % 2) == 1;
        form->SetBounds(c.x, c.y, cx, cy);
        if (c.bShown) {
            ShowForm();
        } else {
            form->Hide();
            ui::Pump(50);
        }
        RECT rcOwner;
        GetWindowRect(form->Handle(), &rcOwner);
        std::unique_ptr<TOpenDialog> dlg(bSave ? new TSaveDialog(form.get()) : new TOpenDialog(form.get()));
        dlg->Title = c.what;
        dlg->Filter = "Safe files (*.xml)|*.xml";
        auto seen = std::make_shared<SeenWindow>();
        const bool bShot = n == 1;
        ui::Answer answer({"#32770", c.what}, [&, seen, bShot](HWND h) {
            if (!seen->bLooked) {
                *seen = LookAt(h);
                // The dialog over its owner, for a person to check the caption's icon and buttons.
                if (bShot) ui::Screenshot("toolkit-filedialog-over-owner", form->Handle());
            }
            return ui::PressButtonId(h, IDCANCEL);
        });
        EXPECT_FALSE(dlg->Execute());
        ASSERT_TRUE(answer.Wait());
        ASSERT_TRUE(seen->bLooked);
        EXPECT_TRUE(look::Within(seen->rect, area));
        if (c.bCentredOnOwner) {
            EXPECT_TRUE(look::CentredOn(seen->rect, rcOwner));
        }
        if (c.bCentredOnArea) {
            EXPECT_TRUE(look::CentredOn(seen->rect, area));
        }
        EXPECT_TRUE(seen->bCaptionIcon) << seen->why;
    }
}
