// Helpers of the shared-dialog tests: the owner handle, a parent window,
// reading the state of a dialog that runs its modal loop on the test's main
// thread while a helper thread (ui::Answer) acts on it, screenshots per
// language, and checks that every text of a dialog fits its control.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "KTXCMN32.h"
#include "UiDriver.h"

namespace dlgtest {

// Window classes of the dialogs.
constexpr char kClassPassword[] = "TfrmInputPassword";
constexpr char kClassPasswordChange[] = "TfrmInputPasswordChange";
constexpr char kClassImportSave[] = "TfrmImportSave";
constexpr char kClassProgress[] = "TfrmDlgProgress";
constexpr char kClassAbout[] = "TfrmAbout";
constexpr char kClassCertMgr[] = "TfrmCertificateMgr";
// The standard message boxes of the common library.
constexpr char kClassBox[] = "#32770";

// The process's owner handle for "KTSafe.EXE", released on destruction; its
// parent-window slot and dialog position are cleared for each test.
class OwnerHandle {
public:
    OwnerHandle();
    ~OwnerHandle();
    OwnerHandle(const OwnerHandle&) = delete;
    OwnerHandle& operator=(const OwnerHandle&) = delete;
    TLSOwner* Get() const { return m_pOwner; }
    TLSOwner* operator->() const { return m_pOwner; }

private:
    TLSOwner* m_pOwner;
};

// A visible, plain top-level window of the test thread, as the program's
// forms are to the dialogs.
class ParentWindow {
public:
    ParentWindow(int x = 40, int y = 40, int cx = 720, int cy = 520);
    ~ParentWindow();
    ParentWindow(const ParentWindow&) = delete;
    ParentWindow& operator=(const ParentWindow&) = delete;
    HWND Handle() const { return m_hWnd; }

private:
    HWND m_hWnd;
};

// "en" or "de": the language the language library speaks in this process.
std::string LangSuffix();
// Fails the test when KTX_EXPECT_LANG names another language than the one in use.
void ExpectLanguageOfRun();

// Screenshot of a window as "dialogs-<name>-<lang>.png" under KTX_ARTIFACTS.
std::string Shot(const std::string& name, HWND hWnd);

// Texts of the static controls, in creation order.
std::vector<std::string> StaticTexts(HWND hDialog);
// True when one of the visible static controls shows exactly this text.
bool ShowsText(HWND hDialog, const std::string& text);
// The button (or check box) with this caption ('&' ignored).
HWND Button(HWND hDialog, const std::string& caption);
// The index-th edit field.
HWND Edit(HWND hDialog, int index = 0);
// Position and range of the index-th progress bar.
int BarPosition(HWND hDialog, int index = 0);
int BarMax(HWND hDialog, int index = 0);
// The window with the keyboard focus in the thread that owns hWnd.
HWND FocusOf(HWND hWnd);
// Waits (without pumping: the dialog's own thread does) until pred is true.
bool WaitTrue(const std::function<bool()>& pred, DWORD timeoutMs = 10000);

// The texts of visible controls that do not fit their control: a static text
// taller (word-wrapped) or a button or check box caption wider than the
// control, or a control reaching outside the dialog's client area. Empty
// when everything is complete and legible.
std::vector<std::string> TextsThatDoNotFit(HWND hDialog);

// Answers the next window of the class with fn, run once on the helper
// thread when the window is complete; then presses the button with caption
// finish (or the id, when finish is empty; neither: fn closes the window
// itself) until the window is gone.
ktxtest::ui::Action Script(std::function<void(HWND)> fn, const std::string& finish, int finishId = 0);

}  // namespace dlgtest
