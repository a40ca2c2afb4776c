// Shared helpers of the start-up tests: the installation state the start-up
// form keeps (installed-version value, refresh option, link table folder,
// shortcuts), read and prepared directly through the registry and the shell,
// not through the code under test.
#pragma once

#include <windows.h>

#include <string>

namespace startuptest {

// The installed-version value; found is false when it is missing.
std::string ReadVersion(bool* pFound);
bool WriteVersion(const char* pszVersion);
// The refresh option "Mgr\update" (removed when bSet is false).
bool SetUpdateOption(bool bSet);

// The link table folder in the user's data folder, named by the language.
std::string LinkTableDir();
// The shortcut in the link table and the one in the Start menu.
std::string LinkTableFile();
std::string StartMenuLink();
// The target of a shortcut file; empty when it cannot be read.
std::string LinkTarget(const std::string& linkFile);
bool DirExists(const std::string& path);

// A start that asks nothing and touches nothing: version recorded, link
// table folder present, no refresh option.
void PrepareQuietStart();

// Settings, key file, backups, link table folder and Start menu shortcut
// removed on construction and again on destruction.
class CleanInstallState {
public:
    CleanInstallState();
    ~CleanInstallState();
    CleanInstallState(const CleanInstallState&) = delete;
    CleanInstallState& operator=(const CleanInstallState&) = delete;

private:
    static void Clear();
};

}  // namespace startuptest
