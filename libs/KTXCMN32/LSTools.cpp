// TLSTools: path helpers, the URL check, COM/OLE initialisation, the user
// name and a kept child process. (Bin2Text/Text2Bin live with the encoding.)
//
// Paths: every buffer holds LS_PATH_SIZE bytes. Input that is not terminated
// within that size is refused before anything is written, and every output is
// written within its size and terminated.
#include <objbase.h>
#include <ole2.h>
#include <windows.h>

#include <cstring>
#include <new>

#include "CmnPrivate.h"
#include "KTXCMN32.h"
#include "LSStr.h"

namespace {

bool IsSep(char c)
{
    return c == '\\' || c == '/';
}

// Length of the root of a path: "X:", "X:\", "\\server\share", "\" or none.
size_t RootLength(const char* pszPath, size_t nLen)
{
    if (nLen >= 2 && IsSep(pszPath[0]) && IsSep(pszPath[1])) {
        // "\\server\share": up to (not including) the separator after the share.
        size_t i = 2;
        int nSeps = 0;
        for (; i < nLen; ++i) {
            if (IsSep(pszPath[i]) && ++nSeps == 2) break;
        }
        return i;
    }
    if (nLen >= 2 && pszPath[1] == ':') return (nLen >= 3 && IsSep(pszPath[2])) ? 3 : 2;
    if (nLen >= 1 && IsSep(pszPath[0])) return 1;
    return 0;
}

// Where the file name part starts (after the last separator or the root).
size_t NameStart(const char* pszPath, size_t nLen)
{
    size_t nRoot = RootLength(pszPath, nLen);
    size_t nName = nRoot;
    for (size_t i = nRoot; i < nLen; ++i) {
        if (IsSep(pszPath[i])) nName = i + 1;
    }
    return nName;
}

// Where the extension starts within the name part (nLen when there is none).
size_t ExtStart(const char* pszPath, size_t nName, size_t nLen)
{
    for (size_t i = nLen; i > nName; --i) {
        if (pszPath[i - 1] == '.') return i - 1;
    }
    return nLen;
}

void CopyPart(char* pszOut, const char* pszFrom, size_t nCount)
{
    if (!pszOut) return;
    if (nCount >= LS_PATH_SIZE) nCount = LS_PATH_SIZE - 1;  // cannot happen for input < LS_PATH_SIZE
    memcpy(pszOut, pszFrom, nCount);
    pszOut[nCount] = '\0';
}

// --- URL check -------------------------------------------------------------

bool IsAlpha(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// Characters never accepted in a URL text: controls, space, and those that
// could break out of the quoted argument a browser is started with, or turn
// the text into a file path.
bool IsRefusedChar(unsigned char c)
{
    return c <= 0x20 || c == 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '`' || c == '^' ||
           c == '{' || c == '}' || c == '|';
}

// A host name character (letters, digits, '-', '.', '_'; bytes above 0x7F
// for international names).
bool IsHostChar(unsigned char c)
{
    return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' || c >= 0x80;
}

// host [":" port], with host a name or a bracketed IPv6 address; the
// authority ends at '/', '?', '#' or the end. Returns its length, 0 when it is
// not one.
size_t HostPortLength(const char* psz)
{
    size_t i = 0;
    if (psz[0] == '[') {
        for (i = 1; psz[i] && psz[i] != ']'; ++i) {
            unsigned char c = static_cast<unsigned char>(psz[i]);
            if (!(IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.')) return 0;
        }
        if (psz[i] != ']' || i == 1) return 0;
        ++i;
    } else {
        // A label never starts with '.' or '-', and a name has no empty label.
        if (!IsHostChar(static_cast<unsigned char>(psz[0])) || psz[0] == '.' || psz[0] == '-') return 0;
        for (; psz[i] && IsHostChar(static_cast<unsigned char>(psz[i])); ++i) {
            if (psz[i] == '.' && psz[i + 1] == '.') return 0;
        }
    }
    if (psz[i] == ':') {
        size_t nDigits = 0;
        for (++i; IsDigit(static_cast<unsigned char>(psz[i])); ++i) ++nDigits;
        if (nDigits == 0 || nDigits > 5) return 0;
    }
    if (psz[i] && psz[i] != '/' && psz[i] != '?' && psz[i] != '#') return 0;
    return i;
}

// [userinfo "@"] host [":" port] after "//".
bool IsAuthority(const char* psz)
{
    // The authority ends at the first '/', '?' or '#'; a '@' within it ends the user part.
    size_t nEnd = 0;
    size_t nAt = static_cast<size_t>(-1);
    for (; psz[nEnd] && psz[nEnd] != '/' && psz[nEnd] != '?' && psz[nEnd] != '#'; ++nEnd) {
        if (psz[nEnd] == '@') nAt = nEnd;
    }
    const char* pszHost = (nAt == static_cast<size_t>(-1)) ? psz : psz + nAt + 1;
    if (nAt == 0) return false;  // an empty user part
    return HostPortLength(pszHost) > 0;
}

// ASCII comparison without regard to case, of the whole prefix.
bool StartsWithNoCase(const char* psz, const char* pszPrefix)
{
    for (; *pszPrefix; ++psz, ++pszPrefix) {
        char a = *psz, b = *pszPrefix;
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// The scheme of the text ("http" for "http://..."), or 0 when the text does
// not start with one. "host:8080" is a host with a port, not a scheme.
size_t SchemeLength(const char* psz)
{
    if (!IsAlpha(static_cast<unsigned char>(psz[0]))) return 0;
    size_t i = 1;
    while (IsAlpha(static_cast<unsigned char>(psz[i])) || IsDigit(static_cast<unsigned char>(psz[i])) ||
           psz[i] == '+' || psz[i] == '-' || psz[i] == '.')
        ++i;
    if (psz[i] != ':') return 0;
    size_t j = i + 1;
    size_t nDigits = 0;
    while (IsDigit(static_cast<unsigned char>(psz[j]))) {
        ++j;
        ++nDigits;
    }
    if (nDigits > 0 && (psz[j] == '\0' || psz[j] == '/' || psz[j] == '?' || psz[j] == '#')) return 0;
    return i;
}

// --- COM ---------------------------------------------------------------------

// S_OK: this call initialised the thread; true, undone by the matching undo.
// S_FALSE: the thread was initialised before; the extra count is given back at
// once, so the thread keeps exactly the initialisation it had, and the answer
// is false (nothing for the undo to do). RPC_E_CHANGED_MODE and other failures:
// false, nothing to undo.
bool InitResult(HRESULT hr, void (*pfnUndo)(), TLSOwner* pOwner, const char* pszMessage)
{
    if (hr == S_OK) return true;
    if (hr == S_FALSE) {
        pfnUndo();
        return false;
    }
    // Another apartment model is already set: COM works on the thread, only not ours.
    if (hr != RPC_E_CHANGED_MODE) LS_DEF_ERROR_CODE(LSOwnerErr(pOwner), false, hr, pszMessage);
    return false;
}

void CoUndo()
{
    CoUninitialize();
}

void OleUndo()
{
    OleUninitialize();
}

}  // namespace

TLSTools::TLSTools(TLSOwner* pOwner) : m_pOwner(pOwner), m_hProcess(nullptr) {}

TLSTools::~TLSTools()
{
    // The kept process runs on; only our handle of it is given back.
    if (m_hProcess) CloseHandle(m_hProcess);
}

bool TLSTools::SplitPath(const char* pszPath, char* pszDir, char* pszName, char* pszExt)
{
    if (pszDir) pszDir[0] = '\0';
    if (pszName) pszName[0] = '\0';
    if (pszExt) pszExt[0] = '\0';
    if (!pszPath) return false;
    size_t nLen = strnlen(pszPath, LS_PATH_SIZE);
    if (nLen >= LS_PATH_SIZE) return false;
    size_t nName = NameStart(pszPath, nLen);
    size_t nExt = ExtStart(pszPath, nName, nLen);
    CopyPart(pszDir, pszPath, nName);
    CopyPart(pszName, pszPath + nName, nExt - nName);
    CopyPart(pszExt, pszPath + nExt, nLen - nExt);
    return true;
}

bool TLSTools::ReplaceExtension(const char* pszExt, char* pszPath)
{
    if (!pszExt || !pszPath) return false;
    size_t nLen = strnlen(pszPath, LS_PATH_SIZE);
    if (nLen >= LS_PATH_SIZE) return false;
    size_t nExtLen = strnlen(pszExt, LS_PATH_SIZE);
    if (nExtLen >= LS_PATH_SIZE) return false;
    const char* pszNewExt = (pszExt[0] == '.') ? pszExt + 1 : pszExt;
    // An extension is part of a file name: no separators, no characters a name cannot hold.
    for (const char* p = pszNewExt; *p; ++p) {
        if (IsSep(*p) || strchr(":*?\"<>|", *p) || static_cast<unsigned char>(*p) < 0x20) return false;
        if (*p == '.' && p[1] == '\0') return false;
    }
    size_t nName = NameStart(pszPath, nLen);
    if (nName == nLen) return false;  // no file name to carry an extension
    size_t nExt = ExtStart(pszPath, nName, nLen);
    size_t nNewLen = strlen(pszNewExt);
    size_t nTotal = nExt + (nNewLen ? nNewLen + 1 : 0);
    if (nTotal >= LS_PATH_SIZE) return false;  // would not fit: the path stays as it was
    if (nNewLen) {
        pszPath[nExt] = '.';
        memcpy(pszPath + nExt + 1, pszNewExt, nNewLen);
    }
    pszPath[nTotal] = '\0';
    return true;
}

bool TLSTools::RemovePathSlash(char* pszPath)
{
    if (!pszPath) return false;
    size_t nLen = strnlen(pszPath, LS_PATH_SIZE);
    if (nLen >= LS_PATH_SIZE) return false;
    size_t nRoot = RootLength(pszPath, nLen);
    // A root keeps its own separator ("C:\", "\"); "\\server\share\" loses it.
    while (nLen > nRoot && IsSep(pszPath[nLen - 1])) pszPath[--nLen] = '\0';
    return true;
}

bool TLSTools::DoCheckURL(char* pszURL)
{
    if (!pszURL) return false;
    size_t nLen = strnlen(pszURL, LS_PATH_SIZE);
    if (nLen == 0 || nLen >= LS_PATH_SIZE) return false;
    for (size_t i = 0; i < nLen; ++i) {
        if (IsRefusedChar(static_cast<unsigned char>(pszURL[i]))) return false;
    }

    size_t nScheme = SchemeLength(pszURL);
    if (nScheme > 0) {
        // Only schemes that open a page or a mail; none that runs or opens a local file.
        if (nScheme == 6 && StartsWithNoCase(pszURL, "mailto:")) return pszURL[7] != '\0';
        bool bWeb = (nScheme == 4 && StartsWithNoCase(pszURL, "http")) ||
                    (nScheme == 5 && StartsWithNoCase(pszURL, "https")) ||
                    (nScheme == 3 && StartsWithNoCase(pszURL, "ftp"));
        if (!bWeb) return false;
        if (pszURL[nScheme + 1] != '/' || pszURL[nScheme + 2] != '/') return false;
        return IsAuthority(pszURL + nScheme + 3);
    }

    // A bare host name ("www.example.com/path"): it becomes an https URL when that fits.
    if (HostPortLength(pszURL) == 0) return false;
    static const char kPrefix[] = "https://";
    if (nLen + sizeof(kPrefix) - 1 >= LS_PATH_SIZE) return false;
    memmove(pszURL + sizeof(kPrefix) - 1, pszURL, nLen + 1);
    memcpy(pszURL, kPrefix, sizeof(kPrefix) - 1);
    return true;
}

bool TLSTools::LSCoInitialize(TLSOwner* pOwner)
{
    return InitResult(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), CoUndo, pOwner,
                      "TLSTools::LSCoInitialize failed!");
}

bool TLSTools::LSOLEInitialize(TLSOwner* pOwner)
{
    return InitResult(OleInitialize(nullptr), OleUndo, pOwner, "TLSTools::LSOLEInitialize failed!");
}

bool TLSTools::LSCoUninitialize(bool* pbDone)
{
    if (!pbDone) return false;
    if (*pbDone) CoUninitialize();
    *pbDone = false;
    return true;
}

bool TLSTools::LSOLEUninitialize(bool* pbDone)
{
    if (!pbDone) return false;
    if (*pbDone) OleUninitialize();
    *pbDone = false;
    return true;
}

bool TLSTools::GetUsrNam(char* pszOut, DWORD dwSize)
{
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    if (!pszOut || dwSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSTools::GetUsrNam failed!");
    }
    pszOut[0] = '\0';
    char szName[LS_USERNAME_SIZE + 192];  // user names are at most 256 characters (UNLEN)
    DWORD dwLen = sizeof(szName);
    if (!GetUserNameA(szName, &dwLen)) return LS_DEF_ERROR(pErr, false, "TLSTools::GetUsrNam failed!");
    if (!LSStrCopy(pszOut, dwSize, szName)) {
        pszOut[0] = '\0';  // a cut name would name another user
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return LS_DEF_ERROR(pErr, false, "TLSTools::GetUsrNam failed!");
    }
    return true;
}

bool TLSTools::CreateProcessA(const char* pszCmdLine, bool bWait, int nShow, const char* pszDir,
                              HANDLE* phProcess)
{
    LS_TRACE_LOG(nullptr, "TLSTools::CreateProcessA");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    if (phProcess) *phProcess = nullptr;
    size_t nLen = pszCmdLine ? strnlen(pszCmdLine, 32768) : 0;
    if (nLen == 0 || nLen >= 32768) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSTools::CreateProcessA failed!");
    }
    // CreateProcess may write into its command line.
    char* pszBuffer = new (std::nothrow) char[nLen + 1];
    if (!pszBuffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return LS_DEF_ERROR(pErr, false, "TLSTools::CreateProcessA failed!");
    }
    memcpy(pszBuffer, pszCmdLine, nLen + 1);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(nShow);
    PROCESS_INFORMATION pi{};
    BOOL bStarted = ::CreateProcessA(nullptr, pszBuffer, nullptr, nullptr, FALSE, 0, nullptr,
                                     (pszDir && *pszDir) ? pszDir : nullptr, &si, &pi);
    DWORD dwErr = GetLastError();
    delete[] pszBuffer;
    if (!bStarted) {
        SetLastError(dwErr);
        return LS_DEF_ERROR(pErr, false, "TLSTools::CreateProcessA failed!");
    }
    CloseHandle(pi.hThread);
    // Only the latest process is kept; an earlier one runs on, unkept.
    if (m_hProcess) CloseHandle(m_hProcess);
    m_hProcess = pi.hProcess;
    if (phProcess) {
        // The caller's handle is its own, so closing it never spoils the kept one.
        HANDLE hDup = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), pi.hProcess, GetCurrentProcess(), &hDup, 0, FALSE,
                            DUPLICATE_SAME_ACCESS))
            *phProcess = hDup;
    }
    if (bWait) WaitForSingleObject(pi.hProcess, INFINITE);
    return true;
}

bool TLSTools::TerminateProcess(HANDLE hProcess)
{
    LS_TRACE_LOG(nullptr, "TLSTools::TerminateProcess");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    bool bKept = (hProcess == nullptr || hProcess == m_hProcess);
    HANDLE h = bKept ? m_hProcess : hProcess;
    if (!h) return true;  // nothing kept, nothing runs
    bool bResult = true;
    if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) {
        bResult = ::TerminateProcess(h, 1) != FALSE;
        // The process is gone when this returns.
        if (bResult) bResult = WaitForSingleObject(h, 10000) == WAIT_OBJECT_0;
        if (!bResult && GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_TIMEOUT);
    }
    if (bKept && bResult) {
        CloseHandle(m_hProcess);
        m_hProcess = nullptr;
    }
    return LS_DEF_ERROR(pErr, bResult, "TLSTools::TerminateProcess failed!");
}
