// TVornixReg: folders, the current safe file, values and options, window
// rectangles and the password generator settings.
//
// Registry layout below HKEY_CURRENT_USER\software\vornix\KTX:
//   InstallPath        REG_SZ     folder of the running program (QOVSetVornixRootPath)
//   SafeFile           REG_SZ     the current safe file
//   <name>             REG_SZ     values of QOVGetRegVal/QOVSetRegVal with an empty key ("ktxresorver")
//   Trace              REG_DWORD  trace switch (read by KTXCMN32)
//   Safe\WindowPos     REG_BINARY window rectangle of the safe dialog: five 32-bit
//                                 integers left, top, width, height, state
//                                 (the safe log keeps its seal in the same key)
//   Windows\<name>\WindowPos      the same for window names that are not a settings key
//   Generator\Length, Upper, Lower, Digits, Special   REG_DWORD  password generator
//   Crypt\EncCert      REG_BINARY SHA-1 thumbprint of the chosen encryption certificate
//   Crypt\EncCertStore REG_DWORD  its store location (current user or local machine)
//   Mgr\update         REG_DWORD or REG_SZ  option: refresh the shortcuts at the next start
// and below HKEY_LOCAL_MACHINE\software\vornix\KTX:
//   Crypt\RemoteAdmin  REG_DWORD or REG_SZ  option: also use the machine's certificates
// A value of the wrong type or size is treated as missing.
#include <windows.h>

#include <cstring>
#include <vector>

#include "KTXLANG.h"
#include "ToolsInternal.h"

using namespace ktxtools;

namespace {

constexpr char kInstallPath[] = "InstallPath";
constexpr char kSafeFile[] = "SafeFile";
constexpr char kWindowPos[] = "WindowPos";
constexpr char kGenerator[] = "Generator";

// Highest password length the generator may store (a password buffer holds 256 characters).
constexpr DWORD kMaxGeneratorLength = LS_PASSWORD_SIZE - 1;

// Option modes of QOVGetRegOpt.
enum : DWORD {
    kOptUser    = 2,   // an option of the user's settings
    kOptMachine = 64   // a machine-wide option: the native registry view first, then the program's own
};

// The folder part of a module's path.
bool ModuleFolder(HMODULE hModule, char* pszOut, DWORD cap, DWORD* pdwErr)
{
    char szPath[MAX_PATH + 1];
    DWORD n = ::GetModuleFileNameA(hModule, szPath, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) {
        *pdwErr = n == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    char* pSlash = strrchr(szPath, '\\');
    if (!pSlash) {
        *pdwErr = ERROR_BAD_PATHNAME;
        return false;
    }
    *pSlash = '\0';
    if (strlen(szPath) >= cap) {
        *pdwErr = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    LSStrCopy(pszOut, cap, szPath);
    return true;
}

bool DirExists(const char* pszPath)
{
    DWORD dwAttr = ::GetFileAttributesA(pszPath);
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

// The settings key of a window name: the name itself when it is the settings
// root or a key below it, else a key below "Windows".
bool WindowKey(const char* pszName, std::string* pSubKey)
{
    if (!pszName || !*pszName || !IsTerminated(pszName, LS_PATH_SIZE)) return false;
    const size_t nRoot = sizeof(LS_SETTINGS_ROOT) - 1;
    std::string name = pszName;
    std::string head = name.substr(0, nRoot);
    if (EqualNoCase(head.c_str(), LS_SETTINGS_ROOT)) {
        if (name.size() == nRoot) {
            pSubKey->clear();
        } else if (name[nRoot] == '\\') {
            *pSubKey = name.substr(nRoot + 1);
        } else {
            *pSubKey = "Windows\\" + name;
        }
    } else {
        *pSubKey = "Windows\\" + name;
    }
    std::string full;
    return SettingsKeyPath(pSubKey->c_str(), &full);
}

struct MonitorAreas {
    std::vector<RECT> areas;
};

BOOL CALLBACK CollectMonitor(HMONITOR hMonitor, HDC, LPRECT, LPARAM lParam)
{
    MONITORINFO info;
    info.cbSize = sizeof(info);
    if (::GetMonitorInfoA(hMonitor, &info)) reinterpret_cast<MonitorAreas*>(lParam)->areas.push_back(info.rcWork);
    return TRUE;
}

// True when enough of the window's caption strip lies on some monitor for
// the user to reach and drag it.
bool ReachableOnSomeMonitor(int nLeft, int nTop, int nWidth, int nHeight)
{
    MonitorAreas monitors;
    ::EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&monitors));
    if (monitors.areas.empty()) {
        RECT rc;
        rc.left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
        rc.top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
        rc.right = rc.left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
        rc.bottom = rc.top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
        if (rc.right <= rc.left || rc.bottom <= rc.top) return false;
        monitors.areas.push_back(rc);
    }
    const int nStrip = nHeight < 24 ? nHeight : 24;
    const int nNeedX = nWidth < 48 ? nWidth : 48;
    const int nNeedY = nStrip < 8 ? nStrip : 8;
    RECT strip;
    strip.left = nLeft;
    strip.top = nTop;
    strip.right = nLeft + nWidth;
    strip.bottom = nTop + nStrip;
    for (const RECT& area : monitors.areas) {
        RECT cut;
        if (::IntersectRect(&cut, &strip, &area) && cut.right - cut.left >= nNeedX && cut.bottom - cut.top >= nNeedY)
            return true;
    }
    return false;
}

bool ValidWindowRect(int nLeft, int nTop, int nWidth, int nHeight)
{
    return nWidth > 0 && nHeight > 0 && nWidth <= 32767 && nHeight <= 32767 && nLeft >= -32768 && nLeft <= 32767 &&
           nTop >= -32768 && nTop <= 32767;
}

// A flag value: a DWORD (non-zero = set) or a text ("1", "true", "yes", "on"
// or "0", "false", "no", "off", empty). Anything else is unreadable.
RegRead ReadFlag(HKEY hKey, const char* pszName, bool* pbFlag)
{
    DWORD dwValue = 0;
    RegRead r = RegReadDword(hKey, pszName, &dwValue);
    if (r == RegRead::Ok) {
        *pbFlag = dwValue != 0;
        return r;
    }
    if (r != RegRead::WrongType) return r;
    char szText[16];
    r = RegReadString(hKey, pszName, szText, sizeof(szText));
    if (r != RegRead::Ok) return r;
    static const char* const kOn[] = {"1", "true", "yes", "on"};
    static const char* const kOff[] = {"0", "false", "no", "off", ""};
    for (const char* p : kOn) {
        if (EqualNoCase(szText, p)) {
            *pbFlag = true;
            return RegRead::Ok;
        }
    }
    for (const char* p : kOff) {
        if (EqualNoCase(szText, p)) {
            *pbFlag = false;
            return RegRead::Ok;
        }
    }
    return RegRead::WrongType;
}

}  // namespace

// ---------------------------------------------------------------------------
// Folders
// ---------------------------------------------------------------------------

bool TVornixReg::QOVGetVornixUserPath(TLSOwner* pOwner, char* pszOut)
{
    static const char kFailed[] = "TVornixReg::QOVGetVornixUserPath failed!";
    return Guard(pOwner, "TVornixReg::QOVGetVornixUserPath", kFailed, [&] {
        if (!pszOut) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        DWORD dwErr = 0;
        bool ok = GetUserDataDir(pszOut, LS_PATH_SIZE, &dwErr);
        return KTX_RECORD(pOwner, ok, dwErr, kFailed);
    });
}

bool TVornixReg::QOVGetVornixRootPath(TLSOwner* pOwner, char* pszOut, bool* pbFlag)
{
    static const char kFailed[] = "TVornixReg::QOVGetVornixRootPath failed!";
    return Guard(pOwner, "TVornixReg::QOVGetVornixRootPath", kFailed, [&] {
        if (pbFlag) *pbFlag = false;
        if (!pszOut) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        pszOut[0] = '\0';
        // The recorded installation folder while it exists ...
        RegKey key;
        char szPath[LS_PATH_SIZE];
        if (OpenSettingsKey(HKEY_CURRENT_USER, "", false, 0, &key) == ERROR_SUCCESS &&
            RegReadString(key.Get(), kInstallPath, szPath, sizeof(szPath)) == RegRead::Ok && szPath[0] &&
            DirExists(szPath)) {
            LSStrCopy(pszOut, LS_PATH_SIZE, szPath);
            if (pbFlag) *pbFlag = true;
            return true;
        }
        // ... else the folder of the running program (*pbFlag stays false).
        DWORD dwErr = 0;
        bool ok = ModuleFolder(nullptr, pszOut, LS_PATH_SIZE, &dwErr);
        return KTX_RECORD(pOwner, ok, dwErr, kFailed);
    });
}

bool TVornixReg::QOVSetVornixRootPath(TLSOwner* pOwner)
{
    static const char kFailed[] = "TVornixReg::QOVSetVornixRootPath failed!";
    return Guard(pOwner, "TVornixReg::QOVSetVornixRootPath", kFailed, [&] {
        char szPath[LS_PATH_SIZE];
        DWORD dwErr = 0;
        if (!ModuleFolder(nullptr, szPath, sizeof(szPath), &dwErr)) return KTX_RECORD(pOwner, false, dwErr, kFailed);
        RegKey key;
        LONG r = OpenSettingsKey(HKEY_CURRENT_USER, "", true, 0, &key);
        if (r == ERROR_SUCCESS) r = RegWriteString(key.Get(), kInstallPath, szPath);
        return KTX_RECORD(pOwner, r == ERROR_SUCCESS, static_cast<DWORD>(r), kFailed);
    });
}

// ---------------------------------------------------------------------------
// The current safe file
// ---------------------------------------------------------------------------

bool TVornixReg::QOVGetVornixSafe(TLSOwner* pOwner, char* pszOut)
{
    static const char kFailed[] = "TVornixReg::QOVGetVornixSafe failed!";
    return Guard(pOwner, "TVornixReg::QOVGetVornixSafe", kFailed, [&] {
        if (!pszOut) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        pszOut[0] = '\0';
        RegKey key;
        LONG r = OpenSettingsKey(HKEY_CURRENT_USER, "", false, 0, &key);
        if (r != ERROR_SUCCESS) return KTX_RECORD(pOwner, false, static_cast<DWORD>(r), kFailed);
        RegRead rr = RegReadString(key.Get(), kSafeFile, pszOut, LS_PATH_SIZE);
        if (rr == RegRead::Ok && pszOut[0] == '\0') rr = RegRead::Missing;
        if (rr != RegRead::Ok) pszOut[0] = '\0';
        return KTX_RECORD(pOwner, rr == RegRead::Ok, RegReadError(rr), kFailed);
    });
}

bool TVornixReg::QOVSetVornixSafe(TLSOwner* pOwner, const char* pszPath)
{
    static const char kFailed[] = "TVornixReg::QOVSetVornixSafe failed!";
    return Guard(pOwner, "TVornixReg::QOVSetVornixSafe", kFailed, [&] {
        if (!pszPath || !*pszPath || !IsTerminated(pszPath, LS_PATH_SIZE))
            return KTX_RECORD(pOwner, false, pszPath && *pszPath ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_PARAMETER,
                              kFailed);
        // Stored as a full path, so it never depends on the current folder.
        char szFull[MAX_PATH + 1];
        DWORD n = ::GetFullPathNameA(pszPath, sizeof(szFull), szFull, nullptr);
        if (n == 0) return KTX_RECORD(pOwner, false, ::GetLastError(), kFailed);
        if (n >= LS_PATH_SIZE) return KTX_RECORD(pOwner, false, ERROR_FILENAME_EXCED_RANGE, kFailed);
        RegKey key;
        LONG r = OpenSettingsKey(HKEY_CURRENT_USER, "", true, 0, &key);
        if (r == ERROR_SUCCESS) r = RegWriteString(key.Get(), kSafeFile, szFull);
        return KTX_RECORD(pOwner, r == ERROR_SUCCESS, static_cast<DWORD>(r), kFailed);
    });
}

// ---------------------------------------------------------------------------
// Values and options
// ---------------------------------------------------------------------------

bool TVornixReg::QOVGetRegVal(TLSOwner* pOwner, char* pszOut, const char* pszKey, const char* pszName, DWORD dwType,
                              HKEY hRoot, DWORD dwSize)
{
    static const char kFailed[] = "TVornixReg::QOVGetRegVal failed!";
    return Guard(pOwner, "TVornixReg::QOVGetRegVal", kFailed, [&] {
        if (pszOut && dwSize > 0) pszOut[0] = '\0';
        if (!pszOut || dwSize == 0 || !pszName || dwType != LS_REG_STRING)
            return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        RegKey key;
        LONG r = OpenSettingsKey(hRoot, pszKey, false, 0, &key);
        if (r != ERROR_SUCCESS) return KTX_RECORD(pOwner, false, static_cast<DWORD>(r), kFailed);
        RegRead rr = RegReadString(key.Get(), pszName, pszOut, dwSize);
        return KTX_RECORD(pOwner, rr == RegRead::Ok, RegReadError(rr), kFailed);
    });
}

bool TVornixReg::QOVSetRegVal(TLSOwner* pOwner, const char* pszValue, const char* pszKey, const char* pszName,
                              DWORD dwType, HKEY hRoot)
{
    static const char kFailed[] = "TVornixReg::QOVSetRegVal failed!";
    return Guard(pOwner, "TVornixReg::QOVSetRegVal", kFailed, [&] {
        if (!pszValue || !pszName || dwType != LS_REG_STRING || !IsTerminated(pszValue, LS_TEXT_SIZE) ||
            !IsTerminated(pszName, LS_PATH_SIZE))
            return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        RegKey key;
        LONG r = OpenSettingsKey(hRoot, pszKey, true, 0, &key);
        if (r == ERROR_SUCCESS) r = RegWriteString(key.Get(), pszName, pszValue);
        return KTX_RECORD(pOwner, r == ERROR_SUCCESS, static_cast<DWORD>(r), kFailed);
    });
}

bool TVornixReg::QOVGetRegOpt(TLSOwner* pOwner, bool* pbFlag, const char* pszKey, const char* pszName, DWORD dwMode,
                              HKEY hRoot)
{
    static const char kFailed[] = "TVornixReg::QOVGetRegOpt failed!";
    return Guard(pOwner, "TVornixReg::QOVGetRegOpt", kFailed, [&] {
        if (pbFlag) *pbFlag = false;
        if (!pbFlag || !pszName || (dwMode != kOptUser && dwMode != kOptMachine))
            return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        // A 32-bit program reads a machine-wide option from the native view
        // first, where an administrator's tools write it.
        const REGSAM views[2] = {dwMode == kOptMachine ? static_cast<REGSAM>(KEY_WOW64_64KEY) : 0, 0};
        const int nViews = dwMode == kOptMachine ? 2 : 1;
        RegRead rr = RegRead::Missing;
        LONG rOpen = ERROR_FILE_NOT_FOUND;
        for (int i = 0; i < nViews && rr == RegRead::Missing; ++i) {
            RegKey key;
            rOpen = OpenSettingsKey(hRoot, pszKey, false, views[i], &key);
            if (rOpen == ERROR_SUCCESS) rr = ReadFlag(key.Get(), pszName, pbFlag);
        }
        if (rr != RegRead::Ok) *pbFlag = false;
        DWORD dwErr = rOpen == ERROR_SUCCESS || rOpen == ERROR_FILE_NOT_FOUND ? RegReadError(rr) : rOpen;
        return KTX_RECORD(pOwner, rr == RegRead::Ok, dwErr, kFailed);
    });
}

// ---------------------------------------------------------------------------
// Window rectangles
// ---------------------------------------------------------------------------

bool TVornixReg::QOVGetWindowsRect(TLSOwner* pOwner, const char* pszName, int* pnLeft, int* pnTop, int* pnWidth,
                                   int* pnHeight, int* pnState)
{
    static const char kFailed[] = "TVornixReg::QOVGetWindowsRect failed!";
    return Guard(pOwner, "TVornixReg::QOVGetWindowsRect", kFailed, [&] {
        std::string subKey;
        if (!pnLeft || !pnTop || !pnWidth || !pnHeight || !WindowKey(pszName, &subKey))
            return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        RegKey key;
        LONG r = OpenSettingsKey(HKEY_CURRENT_USER, subKey.c_str(), false, 0, &key);
        if (r != ERROR_SUCCESS) return KTX_RECORD(pOwner, false, static_cast<DWORD>(r), kFailed);
        INT32 values[5];
        RegRead rr = RegReadBinary(key.Get(), kWindowPos, values, sizeof(values));
        if (rr != RegRead::Ok) return KTX_RECORD(pOwner, false, RegReadError(rr), kFailed);
        if (!ValidWindowRect(values[0], values[1], values[2], values[3]))
            return KTX_RECORD(pOwner, false, ERROR_INVALID_DATA, kFailed);
        // A rectangle the user could not reach (a monitor that is gone) is not given back.
        if (!ReachableOnSomeMonitor(values[0], values[1], values[2], values[3]))
            return KTX_RECORD(pOwner, false, ERROR_INVALID_DATA, kFailed);
        *pnLeft = values[0];
        *pnTop = values[1];
        *pnWidth = values[2];
        *pnHeight = values[3];
        if (pnState) *pnState = values[4];
        return true;
    });
}

bool TVornixReg::QOVSetWindowsRect(TLSOwner* pOwner, const char* pszName, int nLeft, int nTop, int nWidth,
                                   int nHeight, int nState)
{
    static const char kFailed[] = "TVornixReg::QOVSetWindowsRect failed!";
    return Guard(pOwner, "TVornixReg::QOVSetWindowsRect", kFailed, [&] {
        std::string subKey;
        if (!WindowKey(pszName, &subKey) || !ValidWindowRect(nLeft, nTop, nWidth, nHeight))
            return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        INT32 values[5] = {nLeft, nTop, nWidth, nHeight, nState};
        RegKey key;
        LONG r = OpenSettingsKey(HKEY_CURRENT_USER, subKey.c_str(), true, 0, &key);
        if (r == ERROR_SUCCESS) r = RegWriteBinary(key.Get(), kWindowPos, values, sizeof(values));
        return KTX_RECORD(pOwner, r == ERROR_SUCCESS, static_cast<DWORD>(r), kFailed);
    });
}

// ---------------------------------------------------------------------------
// Password generator
// ---------------------------------------------------------------------------

bool TVornixReg::QOVGetPasswordGenerator(TLSOwner* pOwner, DWORD* pdwLength, bool* pbUpper, bool* pbLower,
                                         bool* pbDigits, bool* pbSpecial)
{
    static const char kFailed[] = "TVornixReg::QOVGetPasswordGenerator failed!";
    return Guard(pOwner, "TVornixReg::QOVGetPasswordGenerator", kFailed, [&] {
        if (!pdwLength || !pbUpper || !pbLower || !pbDigits || !pbSpecial)
            return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        RegKey key;
        LONG r = OpenSettingsKey(HKEY_CURRENT_USER, kGenerator, false, 0, &key);
        if (r != ERROR_SUCCESS) return KTX_RECORD(pOwner, false, static_cast<DWORD>(r), kFailed);
        DWORD dwLength = 0;
        RegRead rr = RegReadDword(key.Get(), "Length", &dwLength);
        if (rr == RegRead::Ok && dwLength > kMaxGeneratorLength) rr = RegRead::TooLong;
        bool abFlags[4] = {};
        static const char* const kNames[4] = {"Upper", "Lower", "Digits", "Special"};
        for (int i = 0; i < 4 && rr == RegRead::Ok; ++i) {
            DWORD dwValue = 0;
            rr = RegReadDword(key.Get(), kNames[i], &dwValue);
            if (rr == RegRead::Ok && dwValue > 1) rr = RegRead::WrongType;
            abFlags[i] = dwValue == 1;
        }
        // Only a complete, valid set is handed out; the caller keeps its defaults otherwise.
        if (rr != RegRead::Ok) return KTX_RECORD(pOwner, false, RegReadError(rr), kFailed);
        *pdwLength = dwLength;
        *pbUpper = abFlags[0];
        *pbLower = abFlags[1];
        *pbDigits = abFlags[2];
        *pbSpecial = abFlags[3];
        return true;
    });
}

bool TVornixReg::QOVSetPasswordGenerator(TLSOwner* pOwner, DWORD dwLength, bool bUpper, bool bLower, bool bDigits,
                                         bool bSpecial)
{
    static const char kFailed[] = "TVornixReg::QOVSetPasswordGenerator failed!";
    return Guard(pOwner, "TVornixReg::QOVSetPasswordGenerator", kFailed, [&] {
        if (dwLength > kMaxGeneratorLength) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        RegKey key;
        LONG r = OpenSettingsKey(HKEY_CURRENT_USER, kGenerator, true, 0, &key);
        if (r == ERROR_SUCCESS) r = RegWriteDword(key.Get(), "Length", dwLength);
        if (r == ERROR_SUCCESS) r = RegWriteDword(key.Get(), "Upper", bUpper ? 1 : 0);
        if (r == ERROR_SUCCESS) r = RegWriteDword(key.Get(), "Lower", bLower ? 1 : 0);
        if (r == ERROR_SUCCESS) r = RegWriteDword(key.Get(), "Digits", bDigits ? 1 : 0);
        if (r == ERROR_SUCCESS) r = RegWriteDword(key.Get(), "Special", bSpecial ? 1 : 0);
        return KTX_RECORD(pOwner, r == ERROR_SUCCESS, static_cast<DWORD>(r), kFailed);
    });
}
