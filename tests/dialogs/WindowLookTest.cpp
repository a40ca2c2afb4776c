// What the user sees of the program's windows: the shared dialogs show the
// program's icon (the DLL takes it from the program that loaded it) and lie
// whole on the work area wherever the owner handle puts them; KTSafe.exe's
// own windows show its icon in their captions.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "DialogTestSupport.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"
#include "StartUpSupport.h"
#include "TestSupport.h"
#include "ToolsFixture.h"
#include "WindowLook.h"

namespace ui = ktxtest::ui;
namespace look = ktxtest::look;
using namespace dlgtest;

namespace {

// A window as the test saw it while it was open.
struct SeenWindow {
    bool bLooked = false;
    bool bProgramIcon = false;
    bool bCaptionIcon = false;
    std::string why;
    RECT rect{};
};

// Looks at a window of this process: its icons, its caption on the screen
// (given time to be painted) and its place.
void LookAt(HWND h, SeenWindow& seen)
{
    seen.bLooked = true;
    ::testing::AssertionResult icon = look::ShowsProgramIcon(h);
    seen.bProgramIcon = static_cast<bool>(icon);
    if (!icon) seen.why += icon.message();
    look::ProgramIcon small(true);
    ::testing::AssertionResult caption = look::CaptionShowsIcon(h, small.Get());
    for (int i = 0; i < 30 && !caption; ++i) {
        Sleep(100);
        caption = look::CaptionShowsIcon(h, small.Get());
    }
    seen.bCaptionIcon = static_cast<bool>(caption);
    if (!caption) seen.why += std::string(" ") + caption.message();
    GetWindowRect(h, &seen.rect);
}

class SharedDialogLook : public ::testing::Test {
protected:
    void TearDown() override
    {
        owner->hOwnerWnd = nullptr;
        owner->bDlgPosSet = false;
    }
    OwnerHandle owner;
};

}  // namespace

// The dialogs placed by the owner handle's dialog position keep that
// position when it leaves them whole on the work area and are moved onto it
// otherwise; without a position they are centred on their window, and kept
// on the work area when that window hangs off it. Each shows the program's icon.
TEST_F(SharedDialogLook, EveryDialogShowsTheProgramsIconAndLiesWholeOnTheWorkArea)
{
    const RECT area = look::WorkAreaOf(nullptr);
    enum Kind { kPassword, kPasswordChange, kImportSave, kAbout };
    enum Expect { kAtPosition, kOnWindow, kOnlyInside };
    struct Case {
        const char* what;
        Kind kind;
        bool bDlgPos;
        int x, y;           // the dialog position, else the 720 x 520 parent window's place
        Expect expect;
    } cases[] = {
        {"a password dialog at the dialog position", kPassword, true, 150, 120, kAtPosition},
        {"an import or save question at a position near the bottom right corner", kImportSave, true,
         area.right - 40, area.bottom - 30, kOnlyInside},
        {"a password change at a position above and left of the screen", kPasswordChange, true, area.left - 900,
         area.top - 700, kOnlyInside},
        {"an about box at a position far off the screen", kAbout, true, 100000, -5000, kOnlyInside},
        {"an import or save question over its window", kImportSave, false, area.left + 60, area.top + 50,
         kOnWindow},
        {"a password dialog over a window hanging off the right and the bottom", kPassword, false,
         area.right - 150, area.bottom - 100, kOnlyInside},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<ParentWindow> parent(c.bDlgPos ? new ParentWindow()
                                                       : new ParentWindow(c.x, c.y, 720, 520));
        RECT rcParent;
        GetWindowRect(parent->Handle(), &rcParent);
        owner->bDlgPosSet = c.bDlgPos;
        owner->nDlgLeft = c.x;
        owner->nDlgTop = c.y;
        auto seen = std::make_shared<SeenWindow>();
        auto lookAt = [seen](HWND h) { LookAt(h, *seen); };
        char sz[LS_PASSWORD_SIZE] = {};
        bool bCancel = false;
        switch (c.kind) {
        case kPassword: {
            ui::Answer answer({kClassPassword}, Script(lookAt, DLS_DLG_BTN_CANCEL()));
            TVornixDyn::DYN_DoInputPassword(owner.Get(), parent->Handle(), sz, sizeof(sz), &bCancel);
            ASSERT_TRUE(answer.Wait());
            break;
        }
        case kPasswordChange: {
            ui::Answer answer({kClassPasswordChange}, Script(lookAt, DLS_DLG_BTN_CANCEL()));
            TVornixDyn::DYN_DoInputPasswordChange(owner.Get(), parent->Handle(), sz, sizeof(sz), &bCancel);
            ASSERT_TRUE(answer.Wait());
            break;
        }
        case kImportSave: {
            ui::Answer answer({kClassImportSave}, Script(lookAt, DLS_DLG_BTN_CANCEL()));
            TVornixDyn::DYN_DoInputImportSave(owner.Get(), parent->Handle(), 2, DLS_TXT_SAFE_IMPORT(),
                                              DLS_TXT_SAFE_SAVE());
            ASSERT_TRUE(answer.Wait());
            break;
        }
        case kAbout: {
            ui::Answer answer({kClassAbout}, Script(lookAt, DLS_DLG_BTN_OK()));
            TVornixDyn::DYN_DoShowAbout(owner.Get(), parent->Handle(), nullptr);
            ASSERT_TRUE(answer.Wait());
            break;
        }
        }
        SecureZeroMemory(sz, sizeof(sz));
        ASSERT_TRUE(seen->bLooked);
        EXPECT_TRUE(seen->bProgramIcon) << seen->why;
        EXPECT_TRUE(seen->bCaptionIcon) << seen->why;
        EXPECT_TRUE(look::Within(seen->rect, area));
        if (c.expect == kAtPosition) {
            EXPECT_EQ(seen->rect.left, c.x);
            EXPECT_EQ(seen->rect.top, c.y);
        }
        if (c.expect == kOnWindow) {
            EXPECT_TRUE(look::CentredOn(seen->rect, rcParent));
        }
    }
}

namespace {

// The real KTSafe.exe, started in a prepared state (nothing to ask at the
// start, a certificate of the user's and a new safe file).
class ProgramLook : public ::testing::Test {
protected:
    void SetUp() override
    {
        startuptest::PrepareQuietStart();
        ASSERT_TRUE(ktxtest::WriteFileBytes(startuptest::LinkTableFile(), "table link"));
        ASSERT_TRUE(ktxtest::WriteFileBytes(startuptest::StartMenuLink(), "menu link"));
        ASSERT_TRUE(m_cert.Create("KTSafe icon"));
        TLSCryptCert record = m_cert.Record();
        ASSERT_TRUE(TVornixReg::QOVSetRegUsrEncCrt(nullptr, &record, 1, nullptr));
        ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(nullptr, m_dir.File("Safe.xml").c_str()));
    }

    startuptest::CleanInstallState m_state;
    ktxtest::TempDir m_dir;
    toolstest::TestCert m_cert;
};

// The entries of an icon group resource (GRPICONDIR with its entries).
#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE bWidth, bHeight, bColorCount, bReserved;
    WORD wPlanes, wBitCount;
    DWORD dwBytesInRes;
    WORD nId;
};
struct GroupIconHeader {
    WORD idReserved, idType, idCount;
};
#pragma pack(pop)

BOOL CALLBACK TakeFirstGroup(HMODULE, LPCSTR, LPSTR pszName, LONG_PTR lParam)
{
    *reinterpret_cast<std::string*>(lParam) =
        IS_INTRESOURCE(pszName) ? "#" + std::to_string(LOWORD(reinterpret_cast<ULONG_PTR>(pszName))) : pszName;
    return FALSE;
}

}  // namespace

// KTSafe.exe's first icon (the one Explorer and shortcuts show) holds the
// small, big and extra-large images, and the program's windows show it in
// their captions: the safe dialog of a normal start and the certificate
// manager of KTXDlg.DLL. Wine answers WM_GETICON from another process with
// nothing, so the captions are read from the screen.
TEST_F(ProgramLook, KTSafeWindowsShowTheProgramsIcon)
{
    const std::string exe = ktxtest::ModuleDir() + "\\KTSafe.exe";
    HMODULE hExe = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(hExe, nullptr);
    std::string first;
    EnumResourceNamesA(hExe, RT_GROUP_ICON, &TakeFirstGroup, reinterpret_cast<LONG_PTR>(&first));
    ASSERT_FALSE(first.empty()) << "KTSafe.exe has an icon";
    HRSRC hRes = FindResourceA(hExe, first.c_str(), RT_GROUP_ICON);
    ASSERT_NE(hRes, nullptr);
    const auto* pHeader = static_cast<const GroupIconHeader*>(LockResource(LoadResource(hExe, hRes)));
    ASSERT_NE(pHeader, nullptr);
    std::set<int> sizes;
    const auto* pEntries = reinterpret_cast<const GroupIconEntry*>(pHeader + 1);
    for (WORD i = 0; i < pHeader->idCount; ++i) sizes.insert(pEntries[i].bWidth);
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48}));
    look::ProgramIcon small(true, hExe);
    ASSERT_NE(small.Get(), nullptr);

    struct Case {
        const char* args;
        const char* windowClass;
        std::string closeButton;
    } cases[] = {
        {"", "TfrmDlgSafe", DLS_BTN_SCHLIESSEN()},
        {"/certificateManager", kClassCertMgr, DLS_DLG_BTN_CANCEL()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windowClass);
        ktxtest::ChildProcess process;
        ASSERT_TRUE(process.Start("KTSafe.exe", c.args));
        HWND hWnd = ui::WaitForWindow({c.windowClass, nullptr, process.Pid()}, 30000);
        ASSERT_NE(hWnd, nullptr);
        ::testing::AssertionResult caption = look::CaptionShowsIcon(hWnd, small.Get());
        for (int i = 0; i < 30 && !caption; ++i) {
            ui::Pump(100);
            caption = look::CaptionShowsIcon(hWnd, small.Get());
        }
        EXPECT_TRUE(caption);
        HWND hClose = ui::FindControl(hWnd, c.closeButton);
        ASSERT_NE(hClose, nullptr);
        ASSERT_TRUE(ui::PostClick(hClose));
        DWORD dwExit = 1234;
        EXPECT_TRUE(ktxtest::WaitFor([&] { return WaitForSingleObject(process.Handle(), 0) == WAIT_OBJECT_0; },
                                     30000));
        if (!process.Wait(0, &dwExit)) process.Kill();
        EXPECT_EQ(dwExit, 0u);
    }
    FreeLibrary(hExe);
}
