// Backups of safe files (and of the key file with them) in the user's data folder.
#pragma once

#include <windows.h>

namespace ktxtools {

// True when at least one backup of the safe file exists.
bool HasSafeBackup(const char* pszSafePath);
// Puts the key file back from the newest backup of the safe file that holds
// a well-formed one, only when no key file exists at pszKeyFile.
bool RestoreKeyFileFromBackup(const char* pszSafePath, const char* pszKeyFile, DWORD* pdwErr);

}  // namespace ktxtools
