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

// Keeps the thread's error code for the life of a scope. Recording and
// showing a failure call functions that set it (FormatMessageA, windows); the
// caller set it before and may read it after.
class TKeepLastError {
public:
    TKeepLastError() : m_dwErr(::GetLastError()) {}
    ~TKeepLastError() { ::SetLastError(m_dwErr); }
    TKeepLastError(const TKeepLastError&) = delete;
    TKeepLastError& operator=(const TKeepLastError&) = delete;

private:
    DWORD m_dwErr;
};

// A failure whose code did not come from GetLastError(): the code becomes the
// thread's error code before it is recorded, so the caller reads the recorded
// code afterwards, as after LS_DEF_ERROR.
inline bool DefErrorCodeAt(tag_TLSErrHandler* pErr, bool bResult, DWORD dwCode, const char* pszSrcFile, int nLine,
                           const char* pszMessage)
{
    if (!bResult) ::SetLastError(dwCode);
    return LSAddDefErrorAt(pErr, bResult, dwCode, pszSrcFile, nLine, pszMessage);
}

}  // namespace cmn32tools

// Records a failure in the owner's error record with the standard detail of
// the current source line; the code is given (HRESULT or system error code)
// and is left as the thread's error code.
#define LS_DEF_ERROR_CODE(pErr, bResult, dwCode, pszMessage) \
    ::cmn32tools::DefErrorCodeAt((pErr), (bResult), static_cast<DWORD>(dwCode), __FILE__, __LINE__, (pszMessage))
