// TShellAPI: shortcut files written and read back through IShellLinkA,
// shortcuts in the Start menu by caption, ShellExecute.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "Cmn32TestUtil.h"
#include "KTXCMN32.h"
#include "TestSupport.h"

using namespace cmn32test;

namespace {

struct LinkData {
    std::string target, description, workDir, args, iconPath;
    int nIcon = -1;
    int nShow = -1;
};

// Reads a shortcut back through the shell's own interfaces.
bool ReadLink(const std::string& file, LinkData* pOut)
{
    HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok = false;
    IShellLinkA* pLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&pLink)))) {
        IPersistFile* pFile = nullptr;
        if (SUCCEEDED(pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile)))) {
            wchar_t wsz[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wsz, MAX_PATH);
            if (SUCCEEDED(pFile->Load(wsz, STGM_READ))) {
                char sz[MAX_PATH];
                WIN32_FIND_DATAA fd;
                if (SUCCEEDED(pLink->GetPath(sz, MAX_PATH, &fd, SLGP_RAWPATH))) pOut->target = sz;
                if (SUCCEEDED(pLink->GetDescription(sz, MAX_PATH))) pOut->description = sz;
                if (SUCCEEDED(pLink->GetWorkingDirectory(sz, MAX_PATH))) pOut->workDir = sz;
                if (SUCCEEDED(pLink->GetArguments(sz, MAX_PATH))) pOut->args = sz;
                if (SUCCEEDED(pLink->GetIconLocation(sz, MAX_PATH, &pOut->nIcon))) pOut->iconPath = sz;
                pLink->GetShowCmd(&pOut->nShow);
                ok = true;
            }
            pFile->Release();
        }
        pLink->Release();
    }
    if (SUCCEEDED(hrInit)) CoUninitialize();
    return ok;
}

std::string StartMenuFolder()
{
    char sz[MAX_PATH];
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_STARTMENU | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, sz)))
        return std::string();
    return sz;
}

TEST(ShellLink, WrittenAndReadBack)
{
    ktxtest::TempDir dir;
    OwnerScope owner;
    TShellAPI shell(owner.Get(), false);
    std::string target = dir.File("KTSafe.exe");
    ASSERT_TRUE(ktxtest::WriteFileBytes(target, "MZ"));
    std::string link = dir.File("KT-KTSafe password safe.lnk");
    ASSERT_TRUE(shell.CreateLink(target.c_str(), link.c_str(), "KTSafe password safe", dir.Path().c_str(),
                                 "/CERTIFICATEMANAGER", 23, SW_SHOWNORMAL, 0));
    ASSERT_TRUE(ktxtest::FileExists(link));

    LinkData data;
    ASSERT_TRUE(ReadLink(link, &data));
    EXPECT_EQ(lstrcmpiA(data.target.c_str(), target.c_str()), 0) << data.target;
    EXPECT_EQ(data.description, "KTSafe password safe");
    EXPECT_EQ(lstrcmpiA(data.workDir.c_str(), dir.Path().c_str()), 0) << data.workDir;
    EXPECT_EQ(data.args, "/CERTIFICATEMANAGER");
    EXPECT_EQ(lstrcmpiA(data.iconPath.c_str(), target.c_str()), 0) << data.iconPath;
    EXPECT_EQ(data.nIcon, 23);
    EXPECT_EQ(data.nShow, SW_SHOWNORMAL);
    EXPECT_FALSE(owner.Err()->bFailed);

    // Writing again replaces the shortcut.
    ASSERT_TRUE(shell.CreateLink(target.c_str(), link.c_str(), "other", dir.Path().c_str(), "", 1, 0, 0));
    LinkData again;
    ASSERT_TRUE(ReadLink(link, &again));
    EXPECT_EQ(again.description, "other");
    EXPECT_EQ(again.args, "");
    EXPECT_EQ(again.nIcon, 1);
    EXPECT_EQ(again.nShow, SW_SHOWNORMAL) << "no show command given: a normal window";
}

TEST(ShellLink, UnwritablePlaceFailsWithReason)
{
    OwnerScope owner;
    TShellAPI shell(owner.Get(), false);
    ktxtest::TempDir dir;
    std::string link = dir.File("no\\such\\folder\\x.lnk");
    EXPECT_FALSE(shell.CreateLink("C:\\windows\\notepad.exe", link.c_str(), "x", "", "", 0, 1, 0));
    EXPECT_TRUE(owner.Err()->bFailed);
    EXPECT_STREQ(owner.Err()->szMessage, "TShellAPI::CreateLink failed!");
    EXPECT_FALSE(shell.CreateLink(nullptr, link.c_str(), "x", "", "", 0, 1, 0));
    EXPECT_FALSE(shell.CreateLink("C:\\windows\\notepad.exe", nullptr, "x", "", "", 0, 1, 0));
}

TEST(ShellLink, LinkInStartMenuByCaption)
{
    std::string folder = StartMenuFolder();
    ASSERT_FALSE(folder.empty());
    ktxtest::TempDir dir;
    std::string target = dir.File("KTSafe.exe");
    ASSERT_TRUE(ktxtest::WriteFileBytes(target, "MZ"));
    OwnerScope owner;
    TShellAPI shell(owner.Get(), false);
    std::string caption = UniqueName("KTSafe test link");
    std::string file = folder + "\\" + caption + ".lnk";

    EXPECT_FALSE(shell.ExistsLinkIn(caption.c_str(), CSIDL_STARTMENU));
    ASSERT_TRUE(shell.AddLinkIn(target.c_str(), nullptr, caption.c_str(), 23, CSIDL_STARTMENU));
    EXPECT_TRUE(shell.ExistsLinkIn(caption.c_str(), CSIDL_STARTMENU));
    ASSERT_TRUE(ktxtest::FileExists(file)) << "named by the caption in the Start menu";
    LinkData data;
    ASSERT_TRUE(ReadLink(file, &data));
    EXPECT_EQ(lstrcmpiA(data.target.c_str(), target.c_str()), 0);
    EXPECT_EQ(data.description, caption);
    EXPECT_EQ(lstrcmpiA(data.workDir.c_str(), dir.Path().c_str()), 0) << "starts in the target's folder";
    EXPECT_EQ(data.args, "");
    EXPECT_EQ(data.nIcon, 23);

    EXPECT_TRUE(shell.RmvLinkIn(caption.c_str(), CSIDL_STARTMENU));
    EXPECT_FALSE(shell.ExistsLinkIn(caption.c_str(), CSIDL_STARTMENU));
    EXPECT_FALSE(ktxtest::FileExists(file));
    EXPECT_TRUE(shell.RmvLinkIn(caption.c_str(), CSIDL_STARTMENU)) << "removing a missing link is no error";
    EXPECT_FALSE(owner.Err()->bFailed);
}

TEST(ShellLink, CaptionThatIsNoFileNameIsRefused)
{
    OwnerScope owner;
    TShellAPI shell(owner.Get(), false);
    for (const char* caption : {"..\\outside", "a/b", "x:y", "what?", "", "trailing.", "\"quoted\""}) {
        SCOPED_TRACE(caption);
        ClearLSError(owner.Err());
        EXPECT_FALSE(shell.AddLinkIn("C:\\windows\\notepad.exe", nullptr, caption, 0, CSIDL_STARTMENU));
        EXPECT_TRUE(owner.Err()->bFailed);
        EXPECT_FALSE(shell.ExistsLinkIn(caption, CSIDL_STARTMENU));
        EXPECT_FALSE(shell.RmvLinkIn(caption, CSIDL_STARTMENU));
    }
    EXPECT_FALSE(shell.ExistsLinkIn(nullptr, CSIDL_STARTMENU));
}

TEST(ShellCmd, OpensAProgramWithParametersAndWaits)
{
    ktxtest::TempDir dir;
    OwnerScope owner;
    TShellAPI shell(owner.Get(), false);
    std::string marker = dir.File("opened.txt");
    EXPECT_TRUE(shell.ShellCmd(nullptr, ChildExe().c_str(), "open", ("touch \"" + marker + "\"").c_str(), true));
    EXPECT_TRUE(ktxtest::FileExists(marker)) << "the program ran with the parameters before the call returned";
    EXPECT_FALSE(owner.Err()->bFailed);
}

TEST(ShellCmd, MissingFileOrEmptyTextFails)
{
    OwnerScope owner;
    TShellAPI shell(owner.Get(), false);
    ktxtest::TempDir dir;
    EXPECT_FALSE(shell.ShellCmd(nullptr, dir.File("missing.exe").c_str(), "open", "", false));
    EXPECT_TRUE(owner.Err()->bFailed);
    EXPECT_STREQ(owner.Err()->szMessage, "TShellAPI::ShellCmd failed!");
    ClearLSError(owner.Err());
    EXPECT_FALSE(shell.ShellCmd(nullptr, "", "open", "", false)) << "the URL field was empty";
    EXPECT_FALSE(shell.ShellCmd(nullptr, nullptr, "open", "", false));
    EXPECT_TRUE(owner.Err()->bFailed);
}

}  // namespace
