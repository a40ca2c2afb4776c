// TLSTools: COM/OLE initialisation and its undo, the user name, a kept child
// process, the single-instance check across processes, raising a window.
#include <gtest/gtest.h>
#include <objbase.h>
#include <ole2.h>

#include <cstring>
#include <string>
#include <thread>

#include "Cmn32TestUtil.h"
#include "KTXCMN32.h"
#include "TestSupport.h"

using namespace cmn32test;

namespace {

// Runs fn on a fresh thread (no COM yet) and waits for it.
template <typename Fn>
void OnFreshThread(Fn fn)
{
    std::thread t(fn);
    t.join();
}

// True when the thread has no COM left: a multi-threaded initialisation then succeeds with S_OK.
bool ThreadHasNoCom()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr == S_OK;
}

TEST(ComInit, TrueOnlyWhenThisCallInitialisedAndUndoBalances)
{
    OnFreshThread([] {
        OwnerScope owner;
        bool bDone = TLSTools::LSCoInitialize(owner.Get());
        EXPECT_TRUE(bDone);
        bool bAgain = TLSTools::LSCoInitialize(owner.Get());
        EXPECT_FALSE(bAgain) << "already initialised: this call did nothing to undo";
        EXPECT_TRUE(TLSTools::LSCoUninitialize(&bAgain));
        EXPECT_TRUE(TLSTools::LSCoUninitialize(&bDone));
        EXPECT_FALSE(bDone) << "the flag is cleared";
        EXPECT_TRUE(ThreadHasNoCom()) << "nothing of either call is left";
        EXPECT_FALSE(owner.Err()->bFailed);
    });
}

TEST(ComInit, AlreadyInitialisedThreadKeepsExactlyItsOwnCount)
{
    OnFreshThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        bool bDone = TLSTools::LSCoInitialize(nullptr);
        EXPECT_FALSE(bDone);
        TLSTools::LSCoUninitialize(&bDone);
        CoUninitialize();  // the thread's own initialisation
        EXPECT_TRUE(ThreadHasNoCom()) << "the library's call left no count behind";
    });
}

TEST(ComInit, OtherApartmentGivesFalseAndNothingToUndo)
{
    OnFreshThread([] {
        OwnerScope owner;
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        bool bCo = TLSTools::LSCoInitialize(owner.Get());
        bool bOle = TLSTools::LSOLEInitialize(owner.Get());
        EXPECT_FALSE(bCo);
        EXPECT_FALSE(bOle);
        TLSTools::LSCoUninitialize(&bCo);
        TLSTools::LSOLEUninitialize(&bOle);
        CoUninitialize();
        EXPECT_TRUE(ThreadHasNoCom());
    });
}

TEST(ComInit, OleInitialiseAndUndo)
{
    OnFreshThread([] {
        bool bDone = TLSTools::LSOLEInitialize(nullptr);
        EXPECT_TRUE(bDone);
        bool bAgain = TLSTools::LSOLEInitialize(nullptr);
        EXPECT_FALSE(bAgain);
        EXPECT_TRUE(TLSTools::LSOLEUninitialize(&bAgain));
        EXPECT_TRUE(TLSTools::LSOLEUninitialize(&bDone));
        EXPECT_FALSE(bDone);
        EXPECT_TRUE(ThreadHasNoCom());
        EXPECT_FALSE(TLSTools::LSOLEUninitialize(nullptr));
        EXPECT_FALSE(TLSTools::LSCoUninitialize(nullptr));
    });
}

TEST(UserName, MatchesTheSystemAndRespectsTheBuffer)
{
    OwnerScope owner;
    TLSTools tools(owner.Get());
    char szExpected[300];
    DWORD n = sizeof(szExpected);
    ASSERT_TRUE(GetUserNameA(szExpected, &n));

    char szName[LS_USERNAME_SIZE];
    EXPECT_TRUE(tools.GetUsrNam(szName));
    EXPECT_STREQ(szName, szExpected);

    char szSmall[3 + 8];
    memset(szSmall, 0xCC, sizeof(szSmall));
    if (strlen(szExpected) >= 3) {
        EXPECT_FALSE(tools.GetUsrNam(szSmall, 3)) << "a cut name would be another user's";
        EXPECT_STREQ(szSmall, "");
        for (size_t i = 3; i < sizeof(szSmall); ++i) EXPECT_EQ(static_cast<unsigned char>(szSmall[i]), 0xCC);
        EXPECT_STREQ(owner.Err()->szMessage, "TLSTools::GetUsrNam failed!");
    }
    EXPECT_FALSE(tools.GetUsrNam(nullptr, 10));
}

bool Running(HANDLE h)
{
    return WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
}

TEST(KeptProcess, TerminateEndsTheKeptProcess)
{
    OwnerScope owner;
    TLSTools tools(owner.Get());
    std::string cmd = "\"" + ChildExe() + "\" sleep 60000";
    HANDLE hFirst = nullptr;
    ASSERT_TRUE(tools.CreateProcessA(cmd.c_str(), false, SW_SHOWNORMAL, nullptr, &hFirst));
    ASSERT_NE(hFirst, nullptr);
    EXPECT_TRUE(Running(hFirst));

    HANDLE hSecond = nullptr;
    ASSERT_TRUE(tools.CreateProcessA(cmd.c_str(), false, SW_SHOWNORMAL, nullptr, &hSecond));
    CloseHandle(hSecond);  // the caller's copy; the kept handle is the library's own

    EXPECT_TRUE(tools.TerminateProcess(nullptr)) << "ends the latest kept process";
    EXPECT_TRUE(Running(hFirst)) << "an earlier process is no longer kept and runs on";
    EXPECT_TRUE(tools.TerminateProcess(nullptr)) << "nothing kept any more: nothing to end";

    EXPECT_TRUE(tools.TerminateProcess(hFirst));
    EXPECT_FALSE(Running(hFirst));
    CloseHandle(hFirst);
    EXPECT_FALSE(owner.Err()->bFailed);
}

TEST(KeptProcess, KeptProcessEndedByItselfAndWaiting)
{
    TLSTools tools(nullptr);
    std::string cmd = "\"" + ChildExe() + "\" exit 7";
    HANDLE h = nullptr;
    ASSERT_TRUE(tools.CreateProcessA(cmd.c_str(), true, SW_SHOWNORMAL, nullptr, &h)) << "waits for the end";
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(Running(h));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(h);
    EXPECT_TRUE(tools.TerminateProcess(nullptr)) << "a process that ended by itself is fine";
}

TEST(KeptProcess, WorkingFolderIsUsed)
{
    ktxtest::TempDir dir;
    TLSTools tools(nullptr);
    std::string cmd = "\"" + ChildExe() + "\" touch made-here.txt";
    ASSERT_TRUE(tools.CreateProcessA(cmd.c_str(), true, SW_HIDE, dir.Path().c_str(), nullptr));
    EXPECT_TRUE(ktxtest::FileExists(dir.File("made-here.txt")));
}

TEST(KeptProcess, MissingProgramFailsWithReason)
{
    OwnerScope owner;
    TLSTools tools(owner.Get());
    HANDLE h = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(tools.CreateProcessA("Z:\\no\\such\\program-ktx.exe", false, SW_SHOWNORMAL, nullptr, &h));
    EXPECT_EQ(h, nullptr);
    EXPECT_TRUE(owner.Err()->bFailed);
    EXPECT_STREQ(owner.Err()->szMessage, "TLSTools::CreateProcessA failed!");
    EXPECT_NE(owner.Err()->dwErrCode, 0u);
    EXPECT_FALSE(tools.CreateProcessA(nullptr, false, 1, nullptr, nullptr));
    EXPECT_FALSE(tools.CreateProcessA("", false, 1, nullptr, nullptr));
}

TEST(SingleInstance, AcrossTwoProcesses)
{
    std::string title = UniqueName("KTSafe instance");
    std::string event = UniqueName("ktxtest.instance");
    HANDLE hAsked = CreateEventA(nullptr, TRUE, FALSE, (event + ".asked").c_str());
    HANDLE hQuit = CreateEventA(nullptr, TRUE, FALSE, (event + ".quit").c_str());

    // The first process asks first and holds the title.
    ktxtest::ChildProcess first;
    ASSERT_TRUE(first.Start(ChildExe(), "instance \"" + title + "\" " + event));
    ASSERT_EQ(WaitForSingleObject(hAsked, 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(TLSTools::IsApplicationRun(title.c_str())) << "another instance runs";
    {
        // A third process sees the first one too (its quit event is set, so it answers at once).
        HANDLE hQuit2 = CreateEventA(nullptr, TRUE, TRUE, (event + "-2.quit").c_str());
        EXPECT_EQ(RunChild("instance \"" + title + "\" " + event + "-2"), 1);
        CloseHandle(hQuit2);
    }
    SetEvent(hQuit);
    DWORD code = 99;
    ASSERT_TRUE(first.Wait(30000, &code));
    EXPECT_EQ(code, 0u) << "the first process saw no other instance";

    // Once it is gone, the title is free again.
    EXPECT_EQ(RunChild("instance \"" + title + "\" " + event), 0);
    CloseHandle(hAsked);
    CloseHandle(hQuit);
}

TEST(SingleInstance, TheAskingProcessHoldsTheTitle)
{
    std::string title = UniqueName("KTSafe holder");
    std::string event = UniqueName("ktxtest.holder");
    HANDLE hQuit = CreateEventA(nullptr, TRUE, TRUE, (event + ".quit").c_str());  // the child does not wait
    EXPECT_FALSE(TLSTools::IsApplicationRun(title.c_str())) << "the first to ask";
    EXPECT_FALSE(TLSTools::IsApplicationRun(title.c_str())) << "asking again from the same process";
    EXPECT_EQ(RunChild("instance \"" + title + "\" " + event), 1) << "a second process sees this one";
    EXPECT_FALSE(TLSTools::IsApplicationRun(nullptr));
    EXPECT_FALSE(TLSTools::IsApplicationRun(""));
    CloseHandle(hQuit);
}

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    return DefWindowProcA(h, m, w, l);
}

TEST(Window, BringWindowToTopRestoresAMinimisedWindow)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = PlainProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "Cmn32TestPlain";
    RegisterClassA(&wc);
    HWND hWnd = CreateWindowExA(0, wc.lpszClassName, "plain", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                                nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hWnd, nullptr);
    ShowWindow(hWnd, SW_SHOWMINIMIZED);
    ASSERT_TRUE(IsIconic(hWnd));
    EXPECT_TRUE(TLSTools::BringWindowToTop(hWnd));
    EXPECT_TRUE(ktxtest::WaitFor([&] { return !IsIconic(hWnd); }, 5000));
    EXPECT_TRUE(IsWindowVisible(hWnd));
    DestroyWindow(hWnd);
    EXPECT_FALSE(TLSTools::BringWindowToTop(hWnd)) << "a window that is gone";
    EXPECT_FALSE(TLSTools::BringWindowToTop(nullptr));
}

TEST(Sleep, WaitsAtLeastTheTime)
{
    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    TLSTools::LSSleep(30);
    QueryPerformanceCounter(&end);
    EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / freq.QuadPart, 25);
}

}  // namespace
