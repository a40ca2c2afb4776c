// Helpers of the common-library tests: an owner per test, a registry key
// removed afterwards, the child process, and answering our message boxes as
// a user would.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KTXCMN32.h"

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

// Answers the next message box of this process from a helper thread, as a
// user would: waits until it is visible and has the button, looks at it,
// then presses the button (or Escape, or the close box) until it is gone.
class BoxAnswer {
public:
    enum How { kPress, kEscape, kCloseBox };
    // pszCaption: a box of any process with that caption (null: a box of this process).
    explicit BoxAnswer(int nButtonId, How how = kPress, DWORD timeoutMs = 15000, const char* pszCaption = nullptr);
    ~BoxAnswer();
    BoxAnswer(const BoxAnswer&) = delete;
    BoxAnswer& operator=(const BoxAnswer&) = delete;

    // Waits until a box was answered and is gone; false on time-out.
    bool Wait(DWORD timeoutMs = 15000);
    // Stops watching; true when a box had appeared.
    bool StopAndCheckSeen();
    bool Seen() const { return m_seen.load(); }
    SeenBox Box() const;

private:
    void Run();
    std::vector<HWND> Candidates() const;
    std::string m_caption;
    int m_nButtonId;
    How m_how;
    DWORD m_timeoutMs;
    DWORD m_threadId;
    std::vector<HWND> m_existing;
    std::atomic<bool> m_seen{false};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    SeenBox m_box;
    std::thread m_thread;
};

}  // namespace cmn32test
