// KTXTOOLS.DLL: the settings library.
// Settings in the registry below HKEY_CURRENT_USER\software\vornix\KTX,
// product folders, window positions, password generator settings, backups,
// help, the key file and certificates, and change notification between the
// product's processes. Every TVornixReg operation is static, takes the owner
// first and returns a boolean success.
#pragma once

#include <windows.h>

#include "KTXCMN32.h"
#include "KTXExport.h"

// The settings root below HKEY_CURRENT_USER (and HKEY_LOCAL_MACHINE).
#define LS_SETTINGS_ROOT "software\\vornix\\KTX"

enum : DWORD {
    LS_REG_STRING = 2,            // value type of QOVGetRegVal/QOVSetRegVal
    LS_NOTIFY_SAFE_CHANGED = 0x100 // notification bit: a safe has changed
};

// What was wrong with a safe file when RestoreFromBackupEx looked at it.
enum : DWORD {
    LS_RESTORE_NONE = 0,    // nothing to repair: the safe file loads (or the path was refused)
    LS_RESTORE_MISSING = 1, // there was no safe file
    LS_RESTORE_EMPTY = 2,   // the safe file was empty
    LS_RESTORE_DAMAGED = 3  // the safe file did not load
};

// The report of RestoreFromBackupEx. It is filled on every return, also a
// failed one: dwReason then still tells what was wrong with the safe file.
struct TLSRestoreInfo {
    bool     bRestored;             // a backup copy was put back as the safe file
    DWORD    dwReason;              // LS_RESTORE_*
    FILETIME ftBackup;              // last-write time of the copy put back, in UTC (zero when none)
    char     szWhen[128];           // ftBackup as local date and time in the user's formats
                                    // ("" when none): the text the user is shown
    char     szAside[LS_PATH_SIZE]; // full path the damaged safe file was moved to; "" when no file
                                    // was moved (it was missing or empty, or no copy loads)
};

class KTXTOOLS_API TVornixReg {
public:
    // Folders (LS_PATH_SIZE buffers). The user's data folder is created when missing.
    static bool QOVGetVornixUserPath(TLSOwner* pOwner, char* pszOut);
    static bool QOVGetVornixRootPath(TLSOwner* pOwner, char* pszOut, bool* pbFlag = nullptr);
    // Records the folder of the running program as the installation folder.
    static bool QOVSetVornixRootPath(TLSOwner* pOwner);

    // The current safe file; false when none is configured.
    static bool QOVGetVornixSafe(TLSOwner* pOwner, char* pszOut);
    static bool QOVSetVornixSafe(TLSOwner* pOwner, const char* pszPath);

    // Values (type 2 = string) below the settings root; pszKey may be empty.
    static bool QOVGetRegVal(TLSOwner* pOwner, char* pszOut, const char* pszKey, const char* pszName,
                             DWORD dwType, HKEY hRoot, DWORD dwSize = LS_PATH_SIZE);
    static bool QOVSetRegVal(TLSOwner* pOwner, const char* pszValue, const char* pszKey, const char* pszName,
                             DWORD dwType, HKEY hRoot);
    // A flag (modes 2 and 64); false when it cannot be read.
    static bool QOVGetRegOpt(TLSOwner* pOwner, bool* pbFlag, const char* pszKey, const char* pszName,
                             DWORD dwMode, HKEY hRoot);

    // Window rectangles by name; false when nothing usable is stored.
    static bool QOVGetWindowsRect(TLSOwner* pOwner, const char* pszName, int* pnLeft, int* pnTop,
                                  int* pnWidth, int* pnHeight, int* pnState);
    static bool QOVSetWindowsRect(TLSOwner* pOwner, const char* pszName, int nLeft, int nTop,
                                  int nWidth, int nHeight, int nState);

    // Password generator settings; Get is false when nothing is stored.
    static bool QOVGetPasswordGenerator(TLSOwner* pOwner, DWORD* pdwLength, bool* pbUpper, bool* pbLower,
                                        bool* pbDigits, bool* pbSpecial);
    static bool QOVSetPasswordGenerator(TLSOwner* pOwner, DWORD dwLength, bool bUpper, bool bLower,
                                        bool bDigits, bool bSpecial);

    // Backups of a safe file (and the key file with it). RestoreFromBackup
    // puts back the newest copy that loads when the safe file is missing,
    // empty or damaged (a damaged one is kept aside); true also when the safe
    // was sound. RestoreFromBackupEx does the same and, when pInfo is not
    // null, reports what it did (see TLSRestoreInfo) so the user can be told.
    static bool RestoreFromBackup(TLSOwner* pOwner, const char* pszPath);
    static bool RestoreFromBackupEx(TLSOwner* pOwner, const char* pszPath, TLSRestoreInfo* pInfo);
    static bool WriteToBackup(TLSOwner* pOwner, const char* pszPath);

    // Help topics: 22 the safe dialog, 23 the password generator.
    static bool DoShowQOVHilfe(TLSOwner* pOwner, HWND hWnd, int nTopic, bool bFlag);

    // Path of the user's key file (LS_PATH_SIZE buffer).
    static bool QOVGetKeyFile(TLSOwner* pOwner, int nKind, const char* pszReserved, char* pszOut, bool bCreateDir);
    // Certificates for a purpose ("safe certificates"): with pCerts null only
    // *pnCount is set; otherwise up to *pnCount records are filled (the chosen
    // encryption certificate first) and *pnCount is updated. Search mode 0
    // also looks in the machine store.
    static bool QOVGetCert(TLSOwner* pOwner, const char* pszPurpose, TLSCryptCert* pCerts, int* pnCount,
                           int nSearchMode, bool bFlag, bool* pbCancel);
    // Stores the user's encryption certificate (the first of pCerts) and gives
    // it a slot in an existing key file.
    static bool QOVSetRegUsrEncCrt(TLSOwner* pOwner, TLSCryptCert* pCerts, int nCount, void* pReserved);
    // The certificates that have a slot in the user's key file, as records
    // (count, then fill, like QOVGetCert). bHasPrivateKey tells whether the
    // certificate can open the key file for this user now; a slot whose
    // certificate is in no store has only its thumbprint. False when there is
    // no key file or it is damaged.
    static bool QOVGetKeyFileCerts(TLSOwner* pOwner, TLSCryptCert* pCerts, int* pnCount);
};

// Key file access.
class KTXTOOLS_API TVornixTools {
public:
    explicit TVornixTools(TLSOwner* pOwner);
    // Opens the key file with one of the certificates and writes the safe
    // password (at most nMaxLen characters) into pszPassword (LS_PASSWORD_SIZE).
    // A new key file with a new random password is made only when no key file
    // exists and the configured safe file does not exist yet, or, with n2 = 1,
    // when no key file exists (a safe protected by a typed password is being
    // converted to the key file's password).
    virtual bool DoGetKeyFilePassword(const char* pszKeyFile, char* pszScratch, char* pszPassword, int nMaxLen,
                                      TLSCryptCert* pCerts, int nCount, int n1, int n2, int n3, int n4, int n5,
                                      int n6);
    virtual ~TVornixTools();
    TVornixTools(const TVornixTools&) = delete;
    TVornixTools& operator=(const TVornixTools&) = delete;

private:
    TLSOwner* m_pOwner;
};

// Change notification between the product's processes of one user.
// The callback runs on the notification thread; it may clear the bits it handled.
typedef bool (*LSNOTIFYCALLBACK)(TLSOwner* pOwner, DWORD* pdwEvents, void* pContext);

extern "C" {
KTXTOOLS_API bool DoStartLSNotifyThread(TLSOwner* pOwner, LSNOTIFYCALLBACK pfnCallback, void* pContext,
                                        DWORD* pdwThread);
// Signals events (bits) to every other listener; bFlag false.
KTXTOOLS_API bool DoSetLSNotifyEvent(TLSOwner* pOwner, DWORD dwEvents, bool bFlag);
// Stops the listener; no callback runs after this returns.
KTXTOOLS_API bool DoCloseLSNotifyThread(TLSOwner* pOwner, DWORD* pdwThread);
}
