// The exports of KTXDlg.DLL, looked up by name by TVornixDyn (KTXCMN32.DLL).
// Each export is an extern "C" function of the same name as the TVornixDyn
// operation it serves; the types below are what the loader casts to.
#pragma once

#include <windows.h>

#include "KTXCMN32.h"

extern "C" {
typedef bool (*PFN_DYN_DoInputPassword)(TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize, bool* pbCancel);
typedef bool (*PFN_DYN_DoInputPasswordChange)(TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize,
                                              bool* pbCancel);
typedef int (*PFN_DYN_DoInputImportSave)(TLSOwner* pOwner, HWND hParent, int nMode, const char* pszImportText,
                                         const char* pszExportText);
typedef bool (*PFN_DYN_DoShowAbout)(TLSOwner* pOwner, HWND hParent, const char* pszText);
typedef TLSProgressDlg* (*PFN_DYN_DoGetFrmDlgProgress)(TLSOwner* pOwner, HWND hParent);
typedef bool (*PFN_DYN_DoFreeFrmDlgProgress)(TLSProgressDlg* pProgress);
typedef bool (*PFN_DYN_DoInputDlgCertificateMgr)(TLSOwner* pOwner, HWND hParent, TLSCryptCert** ppCerts,
                                                 int* pnCount, const char* pszStore, int nMode, bool* pbCancel);
typedef bool (*PFN_DYN_DoFreeMgrCertificates)(TLSCryptCert* pCerts);
}

// Export names.
#define KTXDLG_EXPORT_INPUTPASSWORD        "DYN_DoInputPassword"
#define KTXDLG_EXPORT_INPUTPASSWORDCHANGE  "DYN_DoInputPasswordChange"
#define KTXDLG_EXPORT_INPUTIMPORTSAVE      "DYN_DoInputImportSave"
#define KTXDLG_EXPORT_SHOWABOUT            "DYN_DoShowAbout"
#define KTXDLG_EXPORT_GETFRMDLGPROGRESS    "DYN_DoGetFrmDlgProgress"
#define KTXDLG_EXPORT_FREEFRMDLGPROGRESS   "DYN_DoFreeFrmDlgProgress"
#define KTXDLG_EXPORT_CERTIFICATEMGR       "DYN_DoInputDlgCertificateMgr"
#define KTXDLG_EXPORT_FREEMGRCERTIFICATES  "DYN_DoFreeMgrCertificates"
