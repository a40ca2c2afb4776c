// A second start of the real KTSafe.exe while the first runs.
#include <gtest/gtest.h>

#include "KTXLANG.h"
#include "StartUpSupport.h"
#include "TestSupport.h"
#include "UiDriver.h"

using namespace ktxtest;

namespace {

HWND WaitForWindow(DWORD pid, const char* cls)
{
    HWND found = nullptr;
    WaitFor([&] {
        auto windows = TopLevelWindowsOf(pid, cls);
        for (HWND h : windows) {
            if (IsWindowVisible(h)) found = h;
        }
        return found != nullptr;
    }, 15000);
    return found;
}

LRESULT CALLBACK PlainWndProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    return DefWindowProcA(h, m, w, l);
}

TEST(SingleInstance, SecondStartEndsWithoutWindowAndRaisesSafeDialog)
{
    // A stand-in for the running safe dialog, minimised: the second start must
    // find it by its class name and restore it.
    WNDCLASSA wc{};
    wc.lpfnWndProc = PlainWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TfrmDlgSafe";
    ASSERT_TRUE(RegisterClassA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
    HWND hSafe = CreateWindowExA(0, "TfrmDlgSafe", "safe", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr, nullptr,
                                 wc.hInstance, nullptr);
    ASSERT_NE(hSafe, nullptr);
    ShowWindow(hSafe, SW_SHOWMINIMIZED);
    ASSERT_TRUE(IsIconic(hSafe));

    // The first instance waits in its certificate manager (started by the
    // switch, so that it neither opens a safe nor asks anything first).
    startuptest::CleanInstallState state;
    startuptest::PrepareQuietStart();
    ChildProcess first;
    ASSERT_TRUE(first.Start("KTSafe.exe", "/CERTIFICATEMANAGER"));
    HWND hBanner = WaitForWindow(first.Pid(), "TfrmDoSafe");
    ASSERT_NE(hBanner, nullptr) << "the first instance shows its start-up window";
    HWND hManager = WaitForWindow(first.Pid(), "TfrmCertificateMgr");
    ASSERT_NE(hManager, nullptr);

    ChildProcess second;
    ASSERT_TRUE(second.Start("KTSafe.exe"));
    bool secondShowedWindow = false;
    DWORD code = 1234;
    bool ended = WaitFor([&] {
        for (HWND h : TopLevelWindowsOf(second.Pid())) {
            if (IsWindowVisible(h)) secondShowedWindow = true;
        }
        return WaitForSingleObject(second.Handle(), 0) == WAIT_OBJECT_0;
    }, 15000);
    ASSERT_TRUE(ended) << "the second instance ends by itself";
    ASSERT_TRUE(second.Wait(0, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(secondShowedWindow);
    EXPECT_TRUE(WaitFor([&] { return !IsIconic(hSafe); }, 5000)) << "the safe dialog was restored";

    // The first instance still runs and ends normally when its manager closes.
    EXPECT_EQ(WaitForSingleObject(first.Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(ktxtest::ui::PressButton(hManager, DLS_DLG_BTN_CANCEL()));
    ASSERT_TRUE(first.Wait(15000, &code));
    EXPECT_EQ(code, 0u);
    DestroyWindow(hSafe);
}

}  // namespace
