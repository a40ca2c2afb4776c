#include "StartUpSupport.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "KTXLANG.h"
#include "TestSupport.h"
#include "ToolsFixture.h"

namespace startuptest {

namespace {

constexpr char kSettingsKey[] = "software\\vornix\\KTX";
constexpr char kVersionValue[] = "ktxresorver";

}  // namespace

std::string ReadVersion(bool* pFound)
{
    char sz[512] = {};
    DWORD cb = sizeof(sz) - 1;
    LONG r = RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, kVersionValue, RRF_RT_REG_SZ, nullptr, sz, &cb);
    if (pFound) *pFound = r == ERROR_SUCCESS;
    return r == ERROR_SUCCESS ? std::string(sz) : std::string();
}

bool WriteVersion(const char* pszVersion)
{
    return toolstest::SetRawValue(HKEY_CURRENT_USER, kSettingsKey, kVersionValue, REG_SZ, pszVersion,
                                  static_cast<DWORD>(strlen(pszVersion) + 1));
}

bool SetUpdateOption(bool bSet)
{
    const std::string key = std::string(kSettingsKey) + "\\Mgr";
    if (!bSet) {
        LONG r = RegDeleteKeyValueA(HKEY_CURRENT_USER, key.c_str(), "update");
        return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
    }
    DWORD dw = 1;
    return toolstest::SetRawValue(HKEY_CURRENT_USER, key, "update", REG_DWORD, &dw, sizeof(dw));
}

std::string LinkTableDir()
{
    const int nLang = DLS_LANG_ID();
    const char* pszName = nLang == 1 ? "Link Table_EN" : nLang == 2 ? "Link Table_DE" : "Link Table_OT";
    std::string dir = toolstest::UserDataDir();
    if (!dir.empty() && dir.back() == '\\') dir.pop_back();
    return dir + "\\" + pszName;
}

std::string LinkTableFile()
{
    return LinkTableDir() + "\\KT-" + DLS_LINK_CAPTION_SAFE() + ".lnk";
}

std::string StartMenuLink()
{
    char sz[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_STARTMENU, nullptr, SHGFP_TYPE_CURRENT, sz))) return std::string();
    return std::string(sz) + "\\" + DLS_LINK_CAPTION_SAFE() + ".lnk";
}

std::string LinkTarget(const std::string& linkFile)
{
    HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::string target;
    IShellLinkA* pLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&pLink)))) {
        IPersistFile* pFile = nullptr;
        if (SUCCEEDED(pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile)))) {
            wchar_t wsz[MAX_PATH] = {};
            MultiByteToWideChar(CP_ACP, 0, linkFile.c_str(), -1, wsz, MAX_PATH);
            char szPath[MAX_PATH] = {};
            if (SUCCEEDED(pFile->Load(wsz, STGM_READ)) && SUCCEEDED(pLink->GetPath(szPath, MAX_PATH, nullptr, 0)))
                target = szPath;
            pFile->Release();
        }
        pLink->Release();
    }
    if (SUCCEEDED(hrInit)) CoUninitialize();
    return target;
}

bool DirExists(const std::string& path)
{
    DWORD dw = GetFileAttributesA(path.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

void PrepareQuietStart()
{
    WriteVersion("5.03a");
    SetUpdateOption(false);
    CreateDirectoryA(toolstest::UserDataDir().c_str(), nullptr);
    CreateDirectoryA(LinkTableDir().c_str(), nullptr);
}

CleanInstallState::CleanInstallState()
{
    Clear();
}

CleanInstallState::~CleanInstallState()
{
    Clear();
}

void CleanInstallState::Clear()
{
    toolstest::ResetProductState();
    ktxtest::RemoveTree(LinkTableDir());
    DeleteFileA(StartMenuLink().c_str());
}

}  // namespace startuptest
