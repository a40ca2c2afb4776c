#include "TestSupport.h"

#include <atomic>

namespace ktxtest {

namespace {
std::atomic<unsigned> g_counter{0};
}

TempDir::TempDir()
{
    char base[MAX_PATH];
    DWORD n = GetTempPathA(sizeof(base), base);
    std::string root = (n > 0 && n < sizeof(base)) ? std::string(base) : std::string(".\\");
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = root + "ktxtest-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(GetTickCount()) + "-" + std::to_string(g_counter++);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            m_path = candidate;
            return;
        }
    }
}

TempDir::~TempDir()
{
    if (!m_path.empty()) RemoveTree(m_path);
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

std::string ReadFileBytes(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) data.append(buf, got);
    CloseHandle(h);
    return data;
}

bool FileExists(const std::string& path)
{
    DWORD attr = GetFileAttributesA(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = path + "\\" + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

std::string ModuleDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

ChildProcess::~ChildProcess()
{
    if (m_pi.hProcess) {
        if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) Kill();
        CloseHandle(m_pi.hProcess);
        CloseHandle(m_pi.hThread);
    }
}

bool ChildProcess::Start(const std::string& exe, const std::string& args)
{
    std::string path = (exe.find(':') != std::string::npos || exe.rfind("\\\\", 0) == 0) ? exe : ModuleDir() + "\\" + exe;
    std::string cmd = "\"" + path + "\"";
    if (!args.empty()) cmd += " " + args;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    std::vector<char> buf(cmd.begin(), cmd.end());
    buf.push_back('\0');
    return CreateProcessA(path.c_str(), buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi) != 0;
}

bool ChildProcess::Wait(DWORD timeoutMs, DWORD* exitCode)
{
    if (!m_pi.hProcess) return false;
    if (WaitForSingleObject(m_pi.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(m_pi.hProcess, exitCode);
    return true;
}

void ChildProcess::Kill()
{
    if (m_pi.hProcess) {
        TerminateProcess(m_pi.hProcess, 1);
        WaitForSingleObject(m_pi.hProcess, 5000);
    }
}

namespace {
struct EnumCtx {
    DWORD pid;
    const char* className;
    std::vector<HWND>* out;
};
BOOL CALLBACK CollectWindow(HWND hWnd, LPARAM lParam)
{
    auto* ctx = reinterpret_cast<EnumCtx*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid != ctx->pid) return TRUE;
    if (ctx->className) {
        char cls[256];
        if (!GetClassNameA(hWnd, cls, sizeof(cls)) || lstrcmpiA(cls, ctx->className) != 0) return TRUE;
    }
    ctx->out->push_back(hWnd);
    return TRUE;
}
}  // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD pid, const char* className)
{
    std::vector<HWND> result;
    EnumCtx ctx{pid, className, &result};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&ctx));
    return result;
}

}  // namespace ktxtest
