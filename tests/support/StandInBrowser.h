// A stand-in browser for the tests of the safe dialog and the program:
// safedlg_browser.exe (tests/safedlg/StandInBrowserMain.cpp) registered with
// the shell as the user's program for web addresses and help pages, and the
// registry put back afterwards.
#pragma once

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace ktxtest {

// The window class of the stand-in browser and the file type of its help pages.
constexpr char kBrowserClass[] = "KTXTestBrowser";
constexpr char kHelpProgId[] = "KTSafeTestHelpPage";

inline bool KeyExists(HKEY hRoot, const std::string& path)
{
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

// The default value of a registry key, set for a test and taken away again:
// the levels of the path that did not exist go, an earlier value comes back.
class ScopedDefaultValue {
public:
    ScopedDefaultValue(HKEY hRoot, const std::string& path, const std::string& value) : m_hRoot(hRoot), m_path(path)
    {
        for (size_t pos = 0; m_created.empty();) {
            pos = path.find('\\', pos);
            const std::string level = path.substr(0, pos);
            if (!KeyExists(hRoot, level)) m_created = level;
            if (pos == std::string::npos) break;
            ++pos;
        }
        HKEY hKey;
        if (m_created.empty() && RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
            DWORD cb = 0;
            if (RegQueryValueExA(hKey, nullptr, nullptr, &m_type, nullptr, &cb) == ERROR_SUCCESS) {
                m_old.resize(cb);
                m_bHadValue = RegQueryValueExA(hKey, nullptr, nullptr, &m_type, m_old.data(), &cb) == ERROR_SUCCESS;
                m_old.resize(cb);
            }
            RegCloseKey(hKey);
        }
        if (RegCreateKeyExA(hRoot, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) ==
            ERROR_SUCCESS) {
            m_bSet = RegSetValueExA(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
            RegCloseKey(hKey);
        }
    }
    ~ScopedDefaultValue()
    {
        if (!m_created.empty()) {
            RegDeleteTreeA(m_hRoot, m_created.c_str());
            RegDeleteKeyA(m_hRoot, m_created.c_str());
            return;
        }
        HKEY hKey;
        if (RegOpenKeyExA(m_hRoot, m_path.c_str(), 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS) return;
        if (m_bHadValue)
            RegSetValueExA(hKey, nullptr, 0, m_type, m_old.data(), static_cast<DWORD>(m_old.size()));
        else
            RegDeleteValueA(hKey, nullptr);
        RegCloseKey(hKey);
    }
    ScopedDefaultValue(const ScopedDefaultValue&) = delete;
    ScopedDefaultValue& operator=(const ScopedDefaultValue&) = delete;
    bool Set() const { return m_bSet; }

private:
    HKEY m_hRoot;
    std::string m_path;
    std::string m_created;
    bool m_bHadValue = false;
    DWORD m_type = REG_SZ;
    std::vector<BYTE> m_old;
    bool m_bSet = false;
};

// safedlg_browser.exe registered as the user's program for web addresses
// (http, https) and help pages (.html), in the user's classes (which Windows
// reads first) and in the classes root (which Wine's shell reads). It writes
// the address it was started with into the record file and shows it as its
// window's caption. The registry is put back on destruction.
class StandInBrowser {
public:
    explicit StandInBrowser(const std::string& record) : m_record(record)
    {
        const std::string command =
            "\"" + ktxtest::ModuleDir() + "\\safedlg_browser.exe\" \"" + record + "\" \"%1\"";
        const std::pair<HKEY, std::string> roots[] = {{HKEY_CURRENT_USER, "Software\\Classes\\"},
                                                      {HKEY_CLASSES_ROOT, ""}};
        for (const auto& root : roots) {
            for (const char* pszScheme : {"http", "https"})
                Add(root.first, root.second + pszScheme + "\\shell\\open\\command", command);
            Add(root.first, root.second + ".html", kHelpProgId);
            Add(root.first, root.second + kHelpProgId + "\\shell\\open\\command", command);
        }
    }
    ~StandInBrowser()
    {
        Close();
        while (!m_values.empty()) m_values.pop_back();
    }
    StandInBrowser(const StandInBrowser&) = delete;
    StandInBrowser& operator=(const StandInBrowser&) = delete;

    bool Registered() const
    {
        return std::all_of(m_values.begin(), m_values.end(), [](const auto& p) { return p->Set(); });
    }
    // The address the browser was started with, or "" when it was not
    // started within timeoutMs.
    std::string Opened(DWORD timeoutMs) const
    {
        if (!ktxtest::WaitFor([&] { return ktxtest::FileExists(m_record); }, timeoutMs)) return std::string();
        const std::string text = ktxtest::ReadFileBytes(m_record);
        return text.substr(0, text.find('\n'));
    }
    // The browser's visible window, or null.
    static HWND Window(DWORD timeoutMs)
    {
        HWND hWnd = nullptr;
        ktxtest::WaitFor(
            [&] {
                hWnd = FindWindowA(kBrowserClass, nullptr);
                return hWnd && IsWindowVisible(hWnd);
            },
            timeoutMs);
        return hWnd;
    }
    // Closes every browser window as the user closes it; true when none is left.
    static bool Close(DWORD timeoutMs = 5000)
    {
        return ktxtest::WaitFor(
            [] {
                HWND hWnd = FindWindowA(kBrowserClass, nullptr);
                if (hWnd) PostMessageA(hWnd, WM_CLOSE, 0, 0);
                return hWnd == nullptr;
            },
            timeoutMs);
    }

private:
    void Add(HKEY hRoot, const std::string& path, const std::string& value)
    {
        m_values.push_back(std::make_unique<ScopedDefaultValue>(hRoot, path, value));
    }
    std::string m_record;
    std::vector<std::unique_ptr<ScopedDefaultValue>> m_values;
};

}  // namespace ktxtest
