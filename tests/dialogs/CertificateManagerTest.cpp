// The certificate manager, driven as a user would: listing, creating,
// choosing, deleting (after a question, never the last certificate that
// opens the key file). Every certificate a test makes is removed afterwards.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "CertTestSupport.h"
#include "DialogTestSupport.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "TestSupport.h"

namespace ui = ktxtest::ui;
using namespace dlgtest;

namespace {

// A list row as the user sees it.
struct Row {
    std::string subject, issuer, validTo, privateKey, use;
    bool bSelected;
};

std::vector<Row> Rows(HWND hDialog)
{
    std::vector<Row> rows;
    HWND hList = ui::FindControlByClass(hDialog, WC_LISTVIEWA);
    int n = ui::ListCount(hList);
    for (int i = 0; i < n; ++i) {
        UINT state = static_cast<UINT>(SendMessageA(hList, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_SELECTED));
        rows.push_back({ui::ListItemText(hList, i, 0), ui::ListItemText(hList, i, 1), ui::ListItemText(hList, i, 2),
                        ui::ListItemText(hList, i, 3), ui::ListItemText(hList, i, 4), (state & LVIS_SELECTED) != 0});
    }
    return rows;
}

int RowOf(HWND hDialog, const std::string& subject)
{
    std::vector<Row> rows = Rows(hDialog);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].subject == subject) return static_cast<int>(i);
    return -1;
}

// Selects exactly these rows, as Ctrl+clicks would.
void SelectRows(HWND hDialog, const std::vector<int>& indices)
{
    HWND hList = ui::FindControlByClass(hDialog, WC_LISTVIEWA);
    ui::Focus(hList);
    LVITEMA lvi{};
    lvi.stateMask = LVIS_SELECTED;
    lvi.state = 0;
    SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&lvi));
    for (int index : indices) {
        lvi.state = LVIS_SELECTED | LVIS_FOCUSED;
        lvi.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&lvi));
    }
}

std::string UserName()
{
    char sz[LS_USERNAME_SIZE] = "";
    TLSTools tools(nullptr);
    tools.GetUsrNam(sz, sizeof(sz));
    return sz;
}

class CertificateManager : public ::testing::Test {
protected:
    // Runs the manager; with bChoose the certificates chosen come back.
    bool Run(bool bChoose, std::vector<TLSCryptCert>* pChosen, bool* pbCancel)
    {
        TVornixDyn dyn(owner.Get(), "KTXDlg.DLL");
        TLSCryptCert* pCerts = reinterpret_cast<TLSCryptCert*>(1);
        int nCount = -1;
        bool bResult = dyn.DYN_DoInputDlgCertificateMgr(owner.Get(), parent.Handle(), bChoose ? &pCerts : nullptr,
                                                        bChoose ? &nCount : nullptr, nullptr, 1, pbCancel);
        if (bChoose) {
            EXPECT_EQ(bResult, pCerts != nullptr);
            EXPECT_EQ(bResult, nCount > 0);
            if (pChosen && pCerts) pChosen->assign(pCerts, pCerts + nCount);
            EXPECT_TRUE(dyn.DYN_DoFreeMgrCertificates(pCerts));
        }
        return bResult;
    }

    StoreCleanup cleanup;
    OwnerHandle owner;
    ParentWindow parent;
};

}  // namespace

// The user creates a certificate and chooses it: it is a self-signed sha256RSA
// certificate named after the user, with a 2048-bit key-exchange key in a
// container of the AES-capable RSA provider, and exactly it comes back.
TEST_F(CertificateManager, CreatesACertificateForTheUserAndReturnsIt)
{
    const std::string user = UserName();
    ASSERT_FALSE(user.empty());
    size_t nBefore = StoreThumbprints().size();
    std::vector<Row> rowsAfter;
    ui::Answer answer({kClassCertMgr}, Script([&](HWND h) {
        int nRows = static_cast<int>(Rows(h).size());
        ui::Click(Button(h, DLS_DLG_CERT_BTN_CREATE()));
        WaitTrue([&] { return static_cast<int>(Rows(h).size()) == nRows + 1; }, 20000);
        rowsAfter = Rows(h);
        Shot("certificates", h);
    }, DLS_DLG_BTN_OK()), 30000);
    std::vector<TLSCryptCert> chosen;
    bool bCancel = true;
    EXPECT_TRUE(Run(true, &chosen, &bCancel));
    ASSERT_TRUE(answer.Wait(30000));
    EXPECT_FALSE(bCancel);
    ASSERT_EQ(nBefore + 1, StoreThumbprints().size());

    ASSERT_EQ(1u, chosen.size()) << "the new certificate is selected, and only it";
    const TLSCryptCert& cert = chosen[0];
    EXPECT_EQ(user, cert.szSubject);
    EXPECT_STREQ("MY", cert.szStore);
    EXPECT_EQ(0x14000u, cert.dwStoreFlags);
    EXPECT_EQ(20u, cert.cbThumbprint);
    EXPECT_TRUE(cert.bHasPrivateKey);

    CertFacts facts = InspectCertificate(Hex(cert.abThumbprint, cert.cbThumbprint));
    ASSERT_TRUE(facts.bFound);
    EXPECT_EQ(szOID_RSA_SHA256RSA, facts.signatureOid);
    EXPECT_EQ(2048u, facts.dwKeyBits);
    EXPECT_EQ(std::wstring(MS_ENH_RSA_AES_PROV_W), facts.provider);
    EXPECT_EQ(static_cast<DWORD>(PROV_RSA_AES), facts.dwProvType);
    EXPECT_EQ(static_cast<DWORD>(AT_KEYEXCHANGE), facts.dwKeySpec);
    EXPECT_TRUE(ContainerExists(facts.container, facts.provider, facts.dwProvType));

    int nRow = -1;
    for (size_t i = 0; i < rowsAfter.size(); ++i)
        if (rowsAfter[i].bSelected) nRow = static_cast<int>(i);
    ASSERT_GE(nRow, 0);
    EXPECT_EQ(user, rowsAfter[static_cast<size_t>(nRow)].subject);
    EXPECT_EQ(user, rowsAfter[static_cast<size_t>(nRow)].issuer);
    EXPECT_EQ(DLS_DLG_CERT_YES(), rowsAfter[static_cast<size_t>(nRow)].privateKey);
    EXPECT_FALSE(rowsAfter[static_cast<size_t>(nRow)].validTo.empty());
}

// Whatever rows the user selects come back, exactly those.
TEST_F(CertificateManager, ReturnsExactlyTheSelectedCertificates)
{
    TLSCryptCert a, b, c;
    ASSERT_TRUE(MakeTestCertificate("KTX Test Alpha", 2048, AT_KEYEXCHANGE, &a));
    ASSERT_TRUE(MakeTestCertificate("KTX Test Beta", 2048, AT_KEYEXCHANGE, &b));
    ASSERT_TRUE(MakeTestCertificate("KTX Test Gamma", 2048, AT_KEYEXCHANGE, &c));
    // Confirmed with the OK button, or with Enter in the list.
    struct Case {
        std::vector<std::string> select;
        bool bEnter;
    } cases[] = {{{"KTX Test Beta"}, false},
                 {{"KTX Test Alpha", "KTX Test Gamma"}, false},
                 {{"KTX Test Alpha", "KTX Test Beta", "KTX Test Gamma"}, true}};
    for (const Case& cs : cases) {
        SCOPED_TRACE(std::to_string(cs.select.size()) + " selected");
        ui::Answer answer({kClassCertMgr}, Script([&](HWND h) {
            std::vector<int> rows;
            for (const std::string& s : cs.select) rows.push_back(RowOf(h, s));
            SelectRows(h, rows);
            if (cs.bEnter) ui::PressKey(ui::FindControlByClass(h, WC_LISTVIEWA), VK_RETURN);
        }, cs.bEnter ? "" : DLS_DLG_BTN_OK()));
        std::vector<TLSCryptCert> chosen;
        bool bCancel = true;
        EXPECT_TRUE(Run(true, &chosen, &bCancel));
        ASSERT_TRUE(answer.Wait());
        EXPECT_FALSE(bCancel);
        std::set<std::string> got, want;
        for (const TLSCryptCert& cert : chosen) got.insert(cert.szSubject);
        for (const std::string& s : cs.select) want.insert(s);
        EXPECT_EQ(want, got);
        for (const TLSCryptCert& cert : chosen) {
            const TLSCryptCert& made = std::string(cert.szSubject) == "KTX Test Alpha"  ? a
                                       : std::string(cert.szSubject) == "KTX Test Beta" ? b
                                                                                         : c;
            EXPECT_EQ(0, memcmp(made.abThumbprint, cert.abThumbprint, 20)) << cert.szSubject;
        }
    }
}

TEST_F(CertificateManager, CancelReturnsNothing)
{
    TLSCryptCert a;
    ASSERT_TRUE(MakeTestCertificate("KTX Test Cancel", 2048, AT_KEYEXCHANGE, &a));
    for (bool bEscape : {false, true}) {
        SCOPED_TRACE(bEscape ? "Escape" : "Cancel button");
        ui::Answer answer({kClassCertMgr}, Script([&](HWND h) {
            SelectRows(h, {RowOf(h, "KTX Test Cancel")});
            if (bEscape) ui::PressKey(FocusOf(h), VK_ESCAPE);
        }, bEscape ? "" : DLS_DLG_BTN_CANCEL()));
        std::vector<TLSCryptCert> chosen;
        bool bCancel = false;
        EXPECT_FALSE(Run(true, &chosen, &bCancel));
        ASSERT_TRUE(answer.Wait());
        EXPECT_TRUE(bCancel);
        EXPECT_TRUE(chosen.empty());
    }
}

// Only certificates that can protect a safe are offered: RSA keys of 2048
// bits or more for key exchange, whose key usages (when stated) include key
// encipherment. The key file accepts exactly the offered ones as the user's
// choice: one rule for both.
TEST_F(CertificateManager, ListsOnlyUsableCertificates)
{
    SettingsRestore restore(owner.Get());
    char szKeyFile[LS_PATH_SIZE] = "";
    ASSERT_TRUE(TVornixReg::QOVGetKeyFile(owner.Get(), 1, nullptr, szKeyFile, true));
    SetFileAttributesA(szKeyFile, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(szKeyFile);

    // Three keys; the key usage cases share the usable one's or the small one's.
    struct Case {
        const char* subject;
        DWORD dwBits;
        DWORD dwKeySpec;
        BYTE bKeyUsage;
        int nKeyOf;  // index of the case whose key it shares, or -1 for a key of its own
        bool bListed;
    };
    const Case cases[] = {
        {"KTX Test Usable", 2048, AT_KEYEXCHANGE, 0, -1, true},
        {"KTX Test Small", 1024, AT_KEYEXCHANGE, 0, -1, false},
        {"KTX Test Signing", 2048, AT_SIGNATURE, 0, -1, false},
        {"KTX Test Key Encipherment", 0, AT_KEYEXCHANGE, CERT_KEY_ENCIPHERMENT_KEY_USAGE, 0, true},
        {"KTX Test Key And Data Encipherment", 0, AT_KEYEXCHANGE,
         CERT_KEY_ENCIPHERMENT_KEY_USAGE | CERT_DATA_ENCIPHERMENT_KEY_USAGE, 0, true},
        {"KTX Test Signature Usage", 0, AT_KEYEXCHANGE, CERT_DIGITAL_SIGNATURE_KEY_USAGE, 0, false},
        {"KTX Test Data Encipherment", 0, AT_KEYEXCHANGE, CERT_DATA_ENCIPHERMENT_KEY_USAGE, 0, false},
        {"KTX Test Small Key Encipherment", 0, AT_KEYEXCHANGE, CERT_KEY_ENCIPHERMENT_KEY_USAGE, 1, false},
    };
    std::vector<TLSCryptCert> made(std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        ASSERT_TRUE(MakeTestCertificate(c.subject, c.dwBits, c.dwKeySpec, &made[i], c.bKeyUsage,
                                        c.nKeyOf >= 0 ? &made[static_cast<size_t>(c.nKeyOf)] : nullptr))
            << c.subject;
    }
    std::vector<Row> rows;
    ui::Answer answer({kClassCertMgr}, Script([&](HWND h) { rows = Rows(h); }, DLS_DLG_BTN_CLOSE()));
    bool bCancel = true;
    EXPECT_TRUE(Run(false, nullptr, &bCancel));
    ASSERT_TRUE(answer.Wait());
    EXPECT_FALSE(bCancel);
    std::set<std::string> subjects;
    for (const Row& r : rows) subjects.insert(r.subject);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.subject);
        EXPECT_EQ(subjects.count(c.subject) == 1, c.bListed);
        // Chosen without the manager, the key file side answers the same.
        EXPECT_EQ(TVornixReg::QOVSetRegUsrEncCrt(owner.Get(), &made[i], 1, nullptr), c.bListed);
    }
}

// Managing only: no OK button, Close ends it; a certificate is deleted only
// after the user agreed, and its key container goes with it.
TEST_F(CertificateManager, DeletesACertificateAfterTheQuestion)
{
    TLSCryptCert a;
    ASSERT_TRUE(MakeTestCertificate("KTX Test Delete", 2048, AT_KEYEXCHANGE, &a));
    CertFacts facts = InspectCertificate(Hex(a.abThumbprint, 20));
    ASSERT_TRUE(ContainerExists(facts.container, facts.provider, facts.dwProvType));

    bool bHasOk = true, bAskedNo = false, bStillListed = false, bAskedYes = false, bGoneFromList = false;
    std::string question;
    ui::Answer answer({kClassCertMgr}, Script([&](HWND h) {
        bHasOk = Button(h, DLS_DLG_BTN_OK()) != nullptr;
        for (bool bAgree : {false, true}) {
            SelectRows(h, {RowOf(h, "KTX Test Delete")});
            ui::Answer box({kClassBox}, ui::PressId(bAgree ? IDYES : IDNO));
            ui::PressKey(ui::FindControlByClass(h, WC_LISTVIEWA), VK_DELETE);
            bool bAnswered = box.Wait();
            if (!bAgree) {
                bAskedNo = bAnswered;
                question = box.Text();
                bStillListed = RowOf(h, "KTX Test Delete") >= 0;
            } else {
                bAskedYes = bAnswered;
                bGoneFromList = WaitTrue([&] { return RowOf(h, "KTX Test Delete") < 0; }, 5000);
            }
        }
    }, DLS_DLG_BTN_CLOSE()), 30000);
    bool bCancel = true;
    EXPECT_TRUE(Run(false, nullptr, &bCancel));
    ASSERT_TRUE(answer.Wait(30000));
    EXPECT_FALSE(bCancel);
    EXPECT_FALSE(bHasOk);
    EXPECT_TRUE(bAskedNo);
    EXPECT_NE(std::string::npos, question.find("KTX Test Delete"));
    EXPECT_TRUE(bStillListed);
    EXPECT_TRUE(bAskedYes);
    EXPECT_TRUE(bGoneFromList);
    EXPECT_FALSE(InspectCertificate(Hex(a.abThumbprint, 20)).bFound);
    EXPECT_FALSE(ContainerExists(facts.container, facts.provider, facts.dwProvType));
}

// The certificate that protects the safe is marked; the last certificate
// that can still open the key file is not deleted (with an explanation),
// and once a second one can open it, the first may go.
TEST_F(CertificateManager, KeepsTheLastCertificateThatOpensTheKeyFile)
{
    SettingsRestore restore(owner.Get());
    ktxtest::TempDir temp;
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(owner.Get(), temp.File("new.xml").c_str()));
    char szKeyFile[LS_PATH_SIZE] = "";
    ASSERT_TRUE(TVornixReg::QOVGetKeyFile(owner.Get(), 1, nullptr, szKeyFile, true));
    SetFileAttributesA(szKeyFile, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(szKeyFile);

    TLSCryptCert first, second;
    ASSERT_TRUE(MakeTestCertificate("KTX Test First", 2048, AT_KEYEXCHANGE, &first));
    ASSERT_TRUE(TVornixReg::QOVSetRegUsrEncCrt(owner.Get(), &first, 1, nullptr));
    {
        // The key file of the new safe, with a slot for the first certificate.
        TVornixTools tools(owner.Get());
        char szScratch[LS_TEXT_SIZE] = "", szPassword[LS_PASSWORD_SIZE] = "";
        ASSERT_TRUE(tools.DoGetKeyFilePassword(szKeyFile, szScratch, szPassword, 126, &first, 1, 0, 0, 0, 0, 0, 0));
        SecureZeroMemory(szPassword, sizeof(szPassword));
        ASSERT_TRUE(ktxtest::FileExists(szKeyFile));
    }

    std::string notice, use;
    bool bNoticed = false, bStillThere = false;
    ui::Answer answer({kClassCertMgr}, Script([&](HWND h) {
        int nRow = RowOf(h, "KTX Test First");
        if (nRow >= 0) use = Rows(h)[static_cast<size_t>(nRow)].use;
        SelectRows(h, {nRow});
        ui::Answer box({kClassBox}, ui::PressId(IDOK));
        ui::Click(Button(h, DLS_DLG_CERT_BTN_DELETE()));
        bNoticed = box.Wait();
        notice = box.Text();
        bStillThere = RowOf(h, "KTX Test First") >= 0;
    }, DLS_DLG_BTN_CLOSE()), 30000);
    bool bCancel = true;
    EXPECT_TRUE(Run(false, nullptr, &bCancel));
    ASSERT_TRUE(answer.Wait(30000));
    EXPECT_EQ(DLS_DLG_CERT_CHOSEN(), use) << "the certificate that protects the safe is marked";
    EXPECT_TRUE(bNoticed);
    char szExpected[1024];
    snprintf(szExpected, sizeof(szExpected), DLS_DLG_CERT_LASTKEY(), "KTX Test First");
    EXPECT_NE(std::string::npos, notice.find(szExpected)) << notice;
    EXPECT_TRUE(bStillThere);
    EXPECT_TRUE(InspectCertificate(Hex(first.abThumbprint, 20)).bFound);

    // A second certificate gets a slot; now the first may be deleted.
    ASSERT_TRUE(MakeTestCertificate("KTX Test Second", 2048, AT_KEYEXCHANGE, &second));
    ASSERT_TRUE(TVornixReg::QOVSetRegUsrEncCrt(owner.Get(), &second, 1, nullptr));
    std::string useFirst = "?", useSecond;
    bool bAsked = false;
    ui::Answer answer2({kClassCertMgr}, Script([&](HWND h) {
        useFirst = Rows(h)[static_cast<size_t>(RowOf(h, "KTX Test First"))].use;
        useSecond = Rows(h)[static_cast<size_t>(RowOf(h, "KTX Test Second"))].use;
        SelectRows(h, {RowOf(h, "KTX Test First")});
        ui::Answer box({kClassBox}, ui::PressId(IDYES));
        ui::Click(Button(h, DLS_DLG_CERT_BTN_DELETE()));
        bAsked = box.Wait();
        WaitTrue([&] { return RowOf(h, "KTX Test First") < 0; }, 5000);
    }, DLS_DLG_BTN_CLOSE()), 30000);
    EXPECT_TRUE(Run(false, nullptr, &bCancel));
    ASSERT_TRUE(answer2.Wait(30000));
    EXPECT_EQ("", useFirst);
    EXPECT_EQ(DLS_DLG_CERT_CHOSEN(), useSecond);
    EXPECT_TRUE(bAsked);
    EXPECT_FALSE(InspectCertificate(Hex(first.abThumbprint, 20)).bFound);
}

TEST_F(CertificateManager, RefusesHalfGivenOutputsAndForeignArrays)
{
    TVornixDyn dyn(owner.Get(), "KTXDlg.DLL");
    TLSCryptCert* pCerts = nullptr;
    bool bCancel = true;
    EXPECT_FALSE(dyn.DYN_DoInputDlgCertificateMgr(owner.Get(), parent.Handle(), &pCerts, nullptr, nullptr, 1, &bCancel));
    EXPECT_FALSE(bCancel);
    EXPECT_EQ(nullptr, ui::FindTopWindow({kClassCertMgr}));
    TLSCryptCert mine[2];
    EXPECT_FALSE(dyn.DYN_DoFreeMgrCertificates(mine)) << "only arrays the manager handed out are freed";
    EXPECT_TRUE(dyn.DYN_DoFreeMgrCertificates(nullptr));
}
