// Shared helpers of the tests: temporary folders, files, processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ktxtest {

// A fresh folder under %TEMP%, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of a name inside the folder.
    std::string File(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

// Whole-file helpers (binary).
bool WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
// Removes a folder tree (read-only, hidden and system files included).
void RemoveTree(const std::string& path);

// Folder of the running test executable (where the product's modules lie).
std::string ModuleDir();

// A child process started from the build's bin folder.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts exe (relative to ModuleDir() unless absolute) with the argument text.
    bool Start(const std::string& exe, const std::string& args = "");
    // Waits for the end; false on time-out. exitCode receives the exit code.
    bool Wait(DWORD timeoutMs, DWORD* exitCode = nullptr);
    void Kill();
    DWORD Pid() const { return m_pi.dwProcessId; }
    HANDLE Handle() const { return m_pi.hProcess; }

private:
    PROCESS_INFORMATION m_pi{};
};

// Top-level windows of a process (visible or not), optionally of one class.
std::vector<HWND> TopLevelWindowsOf(DWORD pid, const char* className = nullptr);
// Waits until pred() is true, pumping this thread's messages; false on time-out.
template <typename Pred>
bool WaitFor(Pred pred, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

}  // namespace ktxtest
