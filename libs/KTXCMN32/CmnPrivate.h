// Private helpers of the common services library (owner state, error
// recording with HRESULT codes, the library's own module).
#pragma once

#include <windows.h>

#include "KTXCMN32.h"

namespace cmn32tools {

// The settings root below HKEY_CURRENT_USER.
constexpr const char* kSettingsRoot = "software\\vornix\\KTX";
// The shared-dialog library bound to an owner until a TVornixDyn names another.
constexpr const char* kDefaultDialogDll = "KTXDlg.DLL";

// The library's state behind TLSOwner::pPrivate.
struct OwnerState {
    DWORD dwMagic;                      // kOwnerMagic while the owner lives
    LONG  nRefs;                        // GetLSOwnerHandle calls not yet freed
    char  szDialogDll[LS_PATH_SIZE];    // shared-dialog library of the owner's TVornixDyn
};
constexpr DWORD kOwnerMagic = 0x4F534C4B;  // "KLSO"

// The owner's state, or null for a null or foreign owner.
OwnerState* StateOf(TLSOwner* pOwner);

// The shared-dialog library of the owner (KTXDlg.DLL unless a TVornixDyn bound another).
void GetDialogDll(TLSOwner* pOwner, char* pszOut, DWORD dwSize);
void SetDialogDll(TLSOwner* pOwner, const char* pszDll);

// The module handle of KTXCMN32.DLL itself.
HMODULE SelfModule();
// The folder of KTXCMN32.DLL with its trailing separator.
bool SelfFolder(char* pszOut, DWORD dwSize);

}  // namespace cmn32tools

// Records a failure in the owner's error record with the standard detail of
// the current source line; the code is given (HRESULT or system error code).
#define LS_DEF_ERROR_CODE(pErr, bResult, dwCode, pszMessage) \
    LSAddDefErrorAt((pErr), (bResult), static_cast<DWORD>(dwCode), __FILE__, __LINE__, (pszMessage))
