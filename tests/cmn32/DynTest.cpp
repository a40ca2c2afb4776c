// TVornixDyn: forwarding to a shared-dialog library (a stand-in built by the
// tests), and the missing library and missing export paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Cmn32TestUtil.h"
#include "KTXCMN32.h"
#include "LSStr.h"
#include "TestSupport.h"

using namespace cmn32test;

namespace {

const char* const kFake = "KTXDlgFake.DLL";

struct LastCall {
    TLSOwner* pOwner = nullptr;
    HWND hParent = nullptr;
    int nMode = 0;
    std::string text;
};

// What the stand-in's last export call received.
LastCall FakeLastCall()
{
    LastCall call;
    HMODULE h = GetModuleHandleA(kFake);
    if (!h) return call;
    typedef void (*PFN)(TLSOwner**, HWND*, int*, char*, DWORD);
    auto pfn = reinterpret_cast<PFN>(GetProcAddress(h, "FakeDlg_LastCall"));
    if (!pfn) return call;
    char sz[256];
    pfn(&call.pOwner, &call.hParent, &call.nMode, sz, sizeof(sz));
    call.text = sz;
    return call;
}

TEST(VornixDyn, LoadsLazilyAndForwardsStaticOperations)
{
    OwnerScope owner;
    TVornixDyn dyn(owner.Get(), kFake);
    EXPECT_EQ(GetModuleHandleA(kFake), nullptr) << "not loaded before the first use";
    HWND hParent = reinterpret_cast<HWND>(0x1234);

    char szPassword[LS_PASSWORD_SIZE];
    bool bCancel = true;
    EXPECT_TRUE(TVornixDyn::DYN_DoInputPassword(owner.Get(), hParent, szPassword, sizeof(szPassword), &bCancel));
    EXPECT_NE(GetModuleHandleA(kFake), nullptr);
    EXPECT_STREQ(szPassword, "fake-257");
    EXPECT_FALSE(bCancel);
    LastCall call = FakeLastCall();
    EXPECT_EQ(call.pOwner, owner.Get());
    EXPECT_EQ(call.hParent, hParent);

    EXPECT_EQ(TVornixDyn::DYN_DoInputImportSave(owner.Get(), hParent, 2, "import", "export"), LS_IMPORTSAVE_IMPORT);
    EXPECT_EQ(FakeLastCall().nMode, 2);
    EXPECT_EQ(FakeLastCall().text, "import");
    EXPECT_EQ(TVornixDyn::DYN_DoInputImportSave(owner.Get(), hParent, 2, "import", "new"), LS_IMPORTSAVE_NEW);

    EXPECT_TRUE(TVornixDyn::DYN_DoShowAbout(owner.Get(), hParent, "KTSafe"));
    EXPECT_EQ(FakeLastCall().text, "KTSafe");
    EXPECT_FALSE(owner.Err()->bFailed);
}

TEST(VornixDyn, ForwardsObjectOperations)
{
    OwnerScope owner;
    TVornixDyn dyn(owner.Get(), kFake);
    HWND hParent = reinterpret_cast<HWND>(0x4321);

    TLSProgressDlg* pProgress = dyn.DYN_DoGetFrmDlgProgress(owner.Get(), hParent);
    ASSERT_NE(pProgress, nullptr);
    TLSProgress progress{};
    bool bCancel = true;
    EXPECT_TRUE(pProgress->Show(owner.Get(), hParent, &progress, true, 10011, 0, &bCancel));
    EXPECT_EQ(FakeLastCall().nMode, 10011);
    EXPECT_EQ(FakeLastCall().text, "visible");
    progress.nIndex = 0;
    progress.nCount = 2;
    LSStrCopy(progress.szName, sizeof(progress.szName), "first entry");
    EXPECT_TRUE(pProgress->Step(&progress, &bCancel));
    EXPECT_EQ(FakeLastCall().text, "first entry");
    EXPECT_TRUE(dyn.DYN_DoFreeFrmDlgProgress(pProgress));
    EXPECT_EQ(FakeLastCall().text, "progress freed");
    EXPECT_TRUE(dyn.DYN_DoFreeFrmDlgProgress(nullptr)) << "nothing to free";

    TLSCryptCert* pCerts = nullptr;
    int nCount = 0;
    EXPECT_TRUE(dyn.DYN_DoInputDlgCertificateMgr(owner.Get(), hParent, &pCerts, &nCount, nullptr, 1, &bCancel));
    ASSERT_EQ(nCount, 2);
    ASSERT_NE(pCerts, nullptr);
    EXPECT_STREQ(pCerts[1].szSubject, "Subject 1");
    EXPECT_EQ(FakeLastCall().nMode, 1);
    EXPECT_TRUE(dyn.DYN_DoFreeMgrCertificates(pCerts));
    EXPECT_EQ(FakeLastCall().text, "certificates freed");
    EXPECT_TRUE(dyn.DYN_DoFreeMgrCertificates(nullptr));
    EXPECT_FALSE(owner.Err()->bFailed);
}

TEST(VornixDyn, MissingExportGivesFalseAndRecordsWhy)
{
    OwnerScope owner;
    TVornixDyn dyn(owner.Get(), kFake);
    char szPassword[LS_PASSWORD_SIZE] = "untouched";
    bool bCancel = false;
    EXPECT_FALSE(
        TVornixDyn::DYN_DoInputPasswordChange(owner.Get(), nullptr, szPassword, sizeof(szPassword), &bCancel));
    EXPECT_STREQ(szPassword, "untouched");
    EXPECT_TRUE(owner.Err()->bFailed);
    EXPECT_EQ(owner.Err()->dwErrCode, static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_STREQ(owner.Err()->szMessage, "TVornixDyn::DYN_DoInputPasswordChange failed!");
    EXPECT_NE(std::string(owner.Err()->szDetail).find("[127 "), std::string::npos) << owner.Err()->szDetail;
}

TEST(VornixDyn, MissingLibraryGivesFalseOrZeroAndRecordsWhy)
{
    OwnerScope owner;
    TVornixDyn dyn(owner.Get(), "KTXDlgNowhere.DLL");
    char sz[LS_PASSWORD_SIZE];
    bool bCancel = false;
    EXPECT_FALSE(TVornixDyn::DYN_DoInputPassword(owner.Get(), nullptr, sz, sizeof(sz), &bCancel));
    EXPECT_EQ(owner.Err()->dwErrCode, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_STREQ(owner.Err()->szMessage, "TVornixDyn::DYN_DoInputPassword failed!");

    ClearLSError(owner.Err());
    EXPECT_EQ(TVornixDyn::DYN_DoInputImportSave(owner.Get(), nullptr, 2, "a", "b"), 0);
    EXPECT_TRUE(owner.Err()->bFailed);
    EXPECT_FALSE(TVornixDyn::DYN_DoShowAbout(owner.Get(), nullptr, "x"));
    EXPECT_EQ(dyn.DYN_DoGetFrmDlgProgress(owner.Get(), nullptr), nullptr);
    TLSCryptCert* pCerts = nullptr;
    int nCount = 0;
    EXPECT_FALSE(dyn.DYN_DoInputDlgCertificateMgr(owner.Get(), nullptr, &pCerts, &nCount, nullptr, 1, &bCancel));
    EXPECT_EQ(pCerts, nullptr);
    EXPECT_EQ(owner.Err()->nFailures, 4);
}

TEST(VornixDyn, NeverLoadsFromTheCurrentDirectoryOrAPath)
{
    ktxtest::TempDir dir;
    std::string copy = dir.File("KTXDlgCwdOnly.DLL");
    ASSERT_TRUE(CopyFileA((ktxtest::ModuleDir() + "\\" + kFake).c_str(), copy.c_str(), FALSE));
    char szOld[MAX_PATH];
    GetCurrentDirectoryA(sizeof(szOld), szOld);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));

    OwnerScope owner;
    TVornixDyn dyn(owner.Get(), "KTXDlgCwdOnly.DLL");
    EXPECT_EQ(dyn.DYN_DoGetFrmDlgProgress(owner.Get(), nullptr), nullptr);
    EXPECT_EQ(owner.Err()->dwErrCode, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetModuleHandleA("KTXDlgCwdOnly.DLL"), nullptr);

    ClearLSError(owner.Err());
    TVornixDyn byPath(owner.Get(), copy.c_str());
    EXPECT_EQ(byPath.DYN_DoGetFrmDlgProgress(owner.Get(), nullptr), nullptr) << "only a plain file name is loaded";
    EXPECT_EQ(owner.Err()->dwErrCode, static_cast<DWORD>(ERROR_INVALID_NAME));
    SetCurrentDirectoryA(szOld);
}

TEST(VornixDyn, NullOwnerIsTolerated)
{
    TVornixDyn dyn(nullptr, "KTXDlgNowhere.DLL");
    EXPECT_EQ(dyn.DYN_DoGetFrmDlgProgress(nullptr, nullptr), nullptr);
    EXPECT_TRUE(dyn.DYN_DoFreeFrmDlgProgress(nullptr));
}

}  // namespace
