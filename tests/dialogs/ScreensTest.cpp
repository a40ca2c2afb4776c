// Every dialog as the user meets it, in the language of this run: a
// screenshot of each (kept as a test artefact) and a check that every text is
// complete in its control. The test program runs these once in the user's
// language and once more under a German user interface (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CertTestSupport.h"
#include "DialogTestSupport.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace ui = ktxtest::ui;
using namespace dlgtest;

namespace {

class Screens : public ::testing::Test {
protected:
    void SetUp() override { ExpectLanguageOfRun(); }

    // Screenshot and fit check of a dialog; fails the test for a text that is cut.
    void Look(const std::string& name, HWND h)
    {
        Shot(name, h);
        for (const std::string& problem : TextsThatDoNotFit(h)) ADD_FAILURE() << name << ": " << problem;
        std::string caption = ui::TextOf(h);
        EXPECT_EQ(0u, caption.find(DLS_GLOBAL_CAPTION_SAFE())) << name << " caption: " << caption;
    }

    OwnerHandle owner;
    ParentWindow parent;
};

}  // namespace

TEST_F(Screens, Password)
{
    ui::Answer answer({kClassPassword}, Script([&](HWND h) {
        ui::Type(Edit(h), "secret");
        Look("password", h);
        ui::Type(Edit(h), std::string(127, 'x'));
        Look("password-toolong", h);
    }, DLS_DLG_BTN_CANCEL()));
    char sz[LS_PASSWORD_SIZE];
    bool bCancel = false;
    TVornixDyn::DYN_DoInputPassword(owner.Get(), parent.Handle(), sz, sizeof(sz), &bCancel);
    ASSERT_TRUE(answer.Wait());
}

TEST_F(Screens, NewPassword)
{
    ui::Answer answer({kClassPasswordChange}, Script([&](HWND h) {
        ui::Type(Edit(h, 0), "Abcdefgh12!x");
        ui::Type(Edit(h, 1), "Abcdefgh12");
        Look("newpassword-mismatch", h);
        ui::Type(Edit(h, 1), "Abcdefgh12!x");
        Look("newpassword-match", h);
        ui::Type(Edit(h, 0), std::string(127, 'x'));
        Look("newpassword-toolong", h);
    }, DLS_DLG_BTN_CANCEL()));
    char sz[LS_PASSWORD_SIZE];
    bool bCancel = false;
    TVornixDyn::DYN_DoInputPasswordChange(owner.Get(), parent.Handle(), sz, sizeof(sz), &bCancel);
    ASSERT_TRUE(answer.Wait());
}

TEST_F(Screens, ImportSave)
{
    ui::Answer answer({kClassImportSave}, Script([&](HWND h) { Look("importsave", h); }, DLS_DLG_BTN_CANCEL()));
    TVornixDyn::DYN_DoInputImportSave(owner.Get(), parent.Handle(), 2, DLS_TXT_SAFE_IMPORT(), DLS_TXT_SAFE_SAVE());
    ASSERT_TRUE(answer.Wait());
}

TEST_F(Screens, About)
{
    ui::Answer answer({kClassAbout}, Script([&](HWND h) { Look("about", h); }, DLS_DLG_BTN_OK()));
    TVornixDyn::DYN_DoShowAbout(owner.Get(), parent.Handle(), DLS_GLOBAL_CAPTION_SAFE());
    ASSERT_TRUE(answer.Wait());
}

TEST_F(Screens, Progress)
{
    TVornixDyn dyn(owner.Get(), "KTXDlg.DLL");
    TLSProgressDlg* pDialog = dyn.DYN_DoGetFrmDlgProgress(owner.Get(), parent.Handle());
    ASSERT_NE(nullptr, pDialog);
    TLSProgress rec{};
    rec.nIndex = 41;
    rec.nCount = 120;
    LSStrCopy(rec.szName, sizeof(rec.szName), "Online banking & savings");
    bool bCancel = false;
    ASSERT_TRUE(pDialog->Show(owner.Get(), parent.Handle(), &rec, true, 10011, 0, &bCancel));
    HWND h = ui::FindTopWindow({kClassProgress});
    ASSERT_NE(nullptr, h);
    Look("progress", h);
    EXPECT_TRUE(dyn.DYN_DoFreeFrmDlgProgress(pDialog));
}

TEST_F(Screens, CertificateManager)
{
    StoreCleanup cleanup;
    SettingsRestore restore(owner.Get());
    TLSCryptCert a, b;
    ASSERT_TRUE(MakeTestCertificate("Erika Mustermann", 2048, AT_KEYEXCHANGE, &a));
    ASSERT_TRUE(MakeTestCertificate("John Doe", 2048, AT_KEYEXCHANGE, &b));
    // One of them protects the safe (no key file yet: the choice is only recorded).
    char szKeyFile[LS_PATH_SIZE] = "";
    ASSERT_TRUE(TVornixReg::QOVGetKeyFile(owner.Get(), 1, nullptr, szKeyFile, true));
    SetFileAttributesA(szKeyFile, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(szKeyFile);
    ASSERT_TRUE(TVornixReg::QOVSetRegUsrEncCrt(owner.Get(), &a, 1, nullptr));
    for (bool bChoose : {true, false}) {
        ui::Answer answer({kClassCertMgr}, Script([&](HWND h) {
            Look(bChoose ? "certificates-choose" : "certificates-manage", h);
        }, bChoose ? DLS_DLG_BTN_CANCEL() : DLS_DLG_BTN_CLOSE()));
        TVornixDyn dyn(owner.Get(), "KTXDlg.DLL");
        TLSCryptCert* pCerts = nullptr;
        int nCount = 0;
        bool bCancel = false;
        dyn.DYN_DoInputDlgCertificateMgr(owner.Get(), parent.Handle(), bChoose ? &pCerts : nullptr,
                                         bChoose ? &nCount : nullptr, nullptr, 1, &bCancel);
        ASSERT_TRUE(answer.Wait());
        dyn.DYN_DoFreeMgrCertificates(pCerts);
    }
}

// A store without usable certificates: the hint tells the user what to do.
TEST_F(Screens, CertificateManagerWithoutCertificates)
{
    bool bEmpty = false, bHint = false;
    ui::Answer answer({kClassCertMgr}, Script([&](HWND h) {
        bEmpty = ui::ListCount(ui::FindControlByClass(h, "SysListView32")) == 0;
        bHint = ShowsText(h, DLS_DLG_CERT_NONE());
        if (bEmpty) Look("certificates-empty", h);
    }, DLS_DLG_BTN_CLOSE()));
    TVornixDyn dyn(owner.Get(), "KTXDlg.DLL");
    bool bCancel = false;
    // A store name of its own that nobody fills.
    dyn.DYN_DoInputDlgCertificateMgr(owner.Get(), parent.Handle(), nullptr, nullptr, "KTXDialogsEmptyTest", 1,
                                     &bCancel);
    ASSERT_TRUE(answer.Wait());
    EXPECT_TRUE(bEmpty);
    EXPECT_TRUE(bHint);
}
