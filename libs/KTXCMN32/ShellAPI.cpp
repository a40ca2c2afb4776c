// TShellAPI: ShellExecute, shortcut files through IShellLinkA/IPersistFile,
// and shortcuts named by a caption in a shell folder.
//
// COM is made ready on the calling thread for each shortcut operation (and
// given back afterwards when that call was the one that initialised it), so an
// object may be used from any thread that has or has not initialised COM.
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

#include <cstring>

#include "CmnPrivate.h"
#include "KTXCMN32.h"
#include "LSStr.h"

namespace {

// COM on the calling thread for the life of the object.
class ComScope {
public:
    explicit ComScope(TLSOwner* pOwner)
    {
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_bUndo = SUCCEEDED(hr);                       // S_OK and S_FALSE are both balanced
        m_bReady = m_bUndo || hr == RPC_E_CHANGED_MODE;  // a multi-threaded apartment serves too
        m_hr = hr;
        (void)pOwner;
    }
    ~ComScope()
    {
        if (m_bUndo) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool Ready() const { return m_bReady; }
    HRESULT Result() const { return m_hr; }

private:
    bool m_bUndo = false;
    bool m_bReady = false;
    HRESULT m_hr = S_OK;
};

// An owned COM interface pointer.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr()
    {
        if (m_p) m_p->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    void** Out() { return reinterpret_cast<void**>(&m_p); }

private:
    T* m_p = nullptr;
};

// Characters a file name cannot hold.
bool IsValidFileName(const char* psz)
{
    if (!psz || !*psz) return false;
    for (const char* p = psz; *p; ++p) {
        if (static_cast<unsigned char>(*p) < 0x20 || strchr("\\/:*?\"<>|", *p)) return false;
    }
    // "." and ".." name folders; a trailing dot or space is dropped by the file system.
    size_t n = strlen(psz);
    return !(psz[n - 1] == '.' || psz[n - 1] == ' ');
}

// The path of the shortcut named by the caption in the shell folder.
bool LinkPathIn(int nCsidl, const char* pszCaption, bool bCreateFolder, char* pszOut, DWORD dwSize, DWORD* pdwErr)
{
    *pdwErr = ERROR_SUCCESS;
    if (!IsValidFileName(pszCaption)) {
        *pdwErr = ERROR_INVALID_NAME;
        return false;
    }
    char szFolder[MAX_PATH];
    HRESULT hr = SHGetFolderPathA(nullptr, nCsidl | (bCreateFolder ? CSIDL_FLAG_CREATE : 0), nullptr,
                                  SHGFP_TYPE_CURRENT, szFolder);
    if (FAILED(hr)) {
        *pdwErr = static_cast<DWORD>(hr);
        return false;
    }
    if (!LSStrFormat(pszOut, dwSize, "%s\\%s.lnk", szFolder, pszCaption) || strlen(pszOut) >= MAX_PATH) {
        *pdwErr = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    return true;
}

// ANSI text (the ANSI code page) as UTF-16.
bool ToWide(const char* psz, wchar_t* pwszOut, int nSize)
{
    return MultiByteToWideChar(CP_ACP, 0, psz, -1, pwszOut, nSize) > 0;
}

}  // namespace

TShellAPI::TShellAPI(TLSOwner* pOwner, bool /*bFlag*/) : m_pOwner(pOwner), m_bComInit(false) {}

TShellAPI::~TShellAPI() = default;

bool TShellAPI::ShellCmd(HWND hWnd, const char* pszFile, const char* pszVerb, const char* pszParams, bool bWait)
{
    LS_TRACE_LOG(nullptr, "TShellAPI::ShellCmd");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    if (!pszFile || !*pszFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TShellAPI::ShellCmd failed!");
    }
    // Some verbs start their handler through COM.
    ComScope com(m_pOwner);
    SHELLEXECUTEINFOA sei{};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | (bWait ? SEE_MASK_NOCLOSEPROCESS : 0);
    sei.hwnd = (hWnd && IsWindow(hWnd)) ? hWnd : nullptr;
    sei.lpVerb = (pszVerb && *pszVerb) ? pszVerb : nullptr;
    sei.lpFile = pszFile;
    sei.lpParameters = (pszParams && *pszParams) ? pszParams : nullptr;
    sei.nShow = SW_SHOWNORMAL;
    bool bResult = ShellExecuteExA(&sei) != FALSE;
    if (bResult && sei.hProcess) {
        WaitForSingleObject(sei.hProcess, INFINITE);
        CloseHandle(sei.hProcess);
    }
    return LS_DEF_ERROR(pErr, bResult, "TShellAPI::ShellCmd failed!");
}

bool TShellAPI::CreateLink(const char* pszTarget, const char* pszLinkFile, const char* pszDescription,
                           const char* pszWorkDir, const char* pszArgs, int nIconIndex, int nShow, int /*nReserved*/)
{
    LS_TRACE_LOG(nullptr, "TShellAPI::CreateLink");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    wchar_t wszLink[MAX_PATH];
    if (!pszTarget || !*pszTarget || !pszLinkFile || !*pszLinkFile || strnlen(pszTarget, MAX_PATH) >= MAX_PATH ||
        !ToWide(pszLinkFile, wszLink, MAX_PATH)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TShellAPI::CreateLink failed!");
    }
    ComScope com(m_pOwner);
    if (!com.Ready()) return LS_DEF_ERROR_CODE(pErr, false, com.Result(), "TShellAPI::CreateLink failed!");

    ComPtr<IShellLinkA> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.Out());
    if (SUCCEEDED(hr)) hr = link->SetPath(pszTarget);
    if (SUCCEEDED(hr)) hr = link->SetDescription(pszDescription ? pszDescription : "");
    if (SUCCEEDED(hr)) hr = link->SetWorkingDirectory(pszWorkDir ? pszWorkDir : "");
    if (SUCCEEDED(hr)) hr = link->SetArguments(pszArgs ? pszArgs : "");
    if (SUCCEEDED(hr)) hr = link->SetIconLocation(pszTarget, nIconIndex);
    if (SUCCEEDED(hr)) hr = link->SetShowCmd(nShow > 0 ? nShow : SW_SHOWNORMAL);
    ComPtr<IPersistFile> file;
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, file.Out());
    if (SUCCEEDED(hr)) hr = file->Save(wszLink, TRUE);
    return LS_DEF_ERROR_CODE(pErr, SUCCEEDED(hr), hr, "TShellAPI::CreateLink failed!");
}

bool TShellAPI::AddLinkIn(const char* pszTarget, const char* pszArgs, const char* pszCaption, int nIconIndex,
                          int nCsidl)
{
    LS_TRACE_LOG(nullptr, "TShellAPI::AddLinkIn");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    char szLink[LS_TEXT_SIZE];
    DWORD dwErr = ERROR_SUCCESS;
    if (!LinkPathIn(nCsidl, pszCaption, true, szLink, sizeof(szLink), &dwErr))
        return LS_DEF_ERROR_CODE(pErr, false, dwErr, "TShellAPI::AddLinkIn failed!");
    // The shortcut starts in the target's folder.
    char szDir[LS_PATH_SIZE];
    if (!pszTarget || !TLSTools::SplitPath(pszTarget, szDir, nullptr, nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TShellAPI::AddLinkIn failed!");
    }
    TLSTools::RemovePathSlash(szDir);
    bool bResult = CreateLink(pszTarget, szLink, pszCaption, szDir, pszArgs, nIconIndex, SW_SHOWNORMAL, 0);
    return LS_DEF_ERROR(pErr, bResult, "TShellAPI::AddLinkIn failed!");
}

bool TShellAPI::ExistsLinkIn(const char* pszCaption, int nCsidl)
{
    char szLink[LS_TEXT_SIZE];
    DWORD dwErr = ERROR_SUCCESS;
    if (!LinkPathIn(nCsidl, pszCaption, false, szLink, sizeof(szLink), &dwErr)) return false;
    return TLSFile::FileExists(m_pOwner, szLink);
}

bool TShellAPI::RmvLinkIn(const char* pszCaption, int nCsidl)
{
    LS_TRACE_LOG(nullptr, "TShellAPI::RmvLinkIn");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    char szLink[LS_TEXT_SIZE];
    DWORD dwErr = ERROR_SUCCESS;
    if (!LinkPathIn(nCsidl, pszCaption, false, szLink, sizeof(szLink), &dwErr))
        return LS_DEF_ERROR_CODE(pErr, false, dwErr, "TShellAPI::RmvLinkIn failed!");
    TLSFile file(m_pOwner);
    return file.RmvFile(szLink, 0);
}
