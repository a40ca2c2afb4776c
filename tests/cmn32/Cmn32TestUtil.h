// Helpers of the common-library tests: an owner per test, a registry key
// removed afterwards, the child process, and looking at a message box before
// answering it as a user would (with the shared UI driver).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "KTXCMN32.h"
#include "UiDriver.h"

namespace cmn32test {

// An owner handle of its own for one test (a module name nobody else uses).
class OwnerScope {
public:
    OwnerScope();
    ~OwnerScope();
    OwnerScope(const OwnerScope&) = delete;
    OwnerScope& operator=(const OwnerScope&) = delete;
    TLSOwner* Get() const { return m_pOwner; }
    tag_TLSErrHandler* Err() const { return LSOwnerErr(m_pOwner); }
    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    TLSOwner* m_pOwner;
};

// A settings key below HKCU\software\vornix\KTX\Test, removed with everything in it.
class TestRegKey {
public:
    TestRegKey();
    ~TestRegKey();
    TestRegKey(const TestRegKey&) = delete;
    TestRegKey& operator=(const TestRegKey&) = delete;
    // Full path below HKEY_CURRENT_USER.
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Full path of the child program beside the test executable.
std::string ChildExe();
// Starts the child with the arguments and waits for its exit code (-1 when it did not end in time).
int RunChild(const std::string& args, DWORD timeoutMs = 30000);
// A name unique to this run.
std::string UniqueName(const char* pszPrefix);

// A message box as the user saw it.
struct SeenBox {
    HWND hWnd = nullptr;
    HWND hOwner = nullptr;             // the window that owns it
    std::string className;
    std::string caption;
    std::vector<std::string> texts;    // static and edit texts, in creation order
    std::vector<std::pair<int, std::string>> buttons;  // id and text
    RECT rect{};
    bool HasText(const std::string& part) const;
    std::string ButtonText(int nId) const;
};

// How the user closes a box.
enum class Close { kPress, kEscape, kCloseBox };

// An action for ktxtest::ui::Answer: looks at the box once (into *pSeen),
// then presses the button with that id, presses Escape, or clicks the close box.
ktxtest::ui::Action LookAndClose(std::shared_ptr<SeenBox> pSeen, Close how, int nButtonId = IDOK);

// The match of a standard box of this process (or of the process pid).
ktxtest::ui::WindowMatch AnyBox(DWORD pid = 0);

}  // namespace cmn32test
