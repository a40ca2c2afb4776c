// The toolkit inside a DLL: its forms work without the DLL's application
// loop, its window classes belong to the DLL, and after the DLL is freed
// nothing of it stays registered, so it can be loaded again.
#include <gtest/gtest.h>

#include "ToolkitFixture.h"

namespace {

typedef int (*ShowFormFn)(HWND, int*);

bool HasToolkitWindowOf(HINSTANCE hModule)
{
    for (HWND h = FindWindowExA(HWND_MESSAGE, nullptr, "TkUtilityWindow", nullptr); h;
         h = FindWindowExA(HWND_MESSAGE, h, "TkUtilityWindow", nullptr)) {
        if (reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(h, GWLP_HINSTANCE)) == hModule) return true;
    }
    return false;
}

TEST_F(ToolkitTest, AFormInADllRunsModallyAndTheDllCanBeFreedAndLoadedAgain)
{
    ShowForm();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HMODULE hDll = LoadLibraryA("toolkit_testdll.dll");
        ASSERT_NE(hDll, nullptr);
        auto show = reinterpret_cast<ShowFormFn>(reinterpret_cast<void*>(GetProcAddress(hDll, "TkDllShowForm")));
        ASSERT_NE(show, nullptr);
        ui::Answer answer({"TfrmDllTest"}, [](HWND h) {
            Sleep(200);   // let the form's timer tick a few times
            return ui::PressButton(h, "OK");
        });
        int ticks = 0;
        EXPECT_EQ(show(form->Handle(), &ticks), mrOk);
        EXPECT_TRUE(answer.Wait());
        EXPECT_GT(ticks, 0) << "the DLL's timer ran inside its modal loop";
        EXPECT_EQ(GetWindow(answer.Window(), GW_OWNER), nullptr) << "the form is gone";
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        EXPECT_TRUE(GetClassInfoExA(hDll, "TfrmDllTest", &wc)) << "registered with the DLL's instance";
        EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), "TfrmDllTest", &wc));
        EXPECT_TRUE(HasToolkitWindowOf(hDll));
        EXPECT_TRUE(IsWindowEnabled(form->Handle())) << "the caller's window is enabled again";

        ASSERT_TRUE(FreeLibrary(hDll));
        EXPECT_FALSE(GetClassInfoExA(hDll, "TfrmDllTest", &wc)) << "unregistered when the DLL went";
        EXPECT_FALSE(HasToolkitWindowOf(hDll)) << "no window procedure of the freed DLL stays";
    }
}

}  // namespace
