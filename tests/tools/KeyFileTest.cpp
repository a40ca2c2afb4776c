// The key file with real certificates of the current user's "MY" store under
// Wine: created for a new safe, opened again in other processes, opened by a
// second chosen certificate, refused when no slot's certificate or private
// key is left, when damaged, and never replaced by a new password for a safe
// that exists.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "TestSupport.h"
#include "ToolsFixture.h"

using namespace toolstest;
using ktxtest::FileExists;
using ktxtest::ReadFileBytes;

namespace {

const char kPurpose[] = "safe certificates";

class KeyFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetProductState();
        m_pOwner = GetLSOwnerHandle("test_tools");
        ASSERT_NE(m_pOwner, nullptr);
        m_safe = m_dir.File("Safe.xml");
        m_key = KeyFilePath();
        ASSERT_FALSE(m_key.empty());
        ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, m_safe.c_str()));
    }
    void TearDown() override
    {
        FreeLSOwnerHandle(m_pOwner);
        ResetProductState();
    }

    // The password with the given certificates; the reason of a failure in m_reason.
    bool Open(std::vector<TLSCryptCert> certs, std::string* pPassword, int nMaxLen = 56)
    {
        char szScratch[LS_PATH_SIZE] = "x";
        char szPassword[LS_PASSWORD_SIZE] = "x";
        TVornixTools tools(m_pOwner);
        bool ok = tools.DoGetKeyFilePassword(m_key.c_str(), szScratch, szPassword, nMaxLen, certs.data(),
                                             static_cast<int>(certs.size()), 1, 0, 1, 0, 0, 0);
        if (pPassword) *pPassword = szPassword;
        m_reason = szScratch;
        EXPECT_EQ(ok, !m_pOwner->rErrHandler.bFailed);
        if (ok) EXPECT_STREQ(szScratch, "");
        else EXPECT_STREQ(szPassword, "");
        return ok;
    }

    // The certificates the library offers for the safe.
    std::vector<TLSCryptCert> SafeCertificates(int nSearchMode = 1, bool bPrivateKey = true)
    {
        int nCount = -1;
        bool bCancel = false;
        EXPECT_TRUE(TVornixReg::QOVGetCert(m_pOwner, kPurpose, nullptr, &nCount, nSearchMode, bPrivateKey, &bCancel));
        std::vector<TLSCryptCert> certs(static_cast<size_t>(nCount) + 1);
        for (TLSCryptCert& c : certs) LSInitCryptCert(&c);
        EXPECT_TRUE(TVornixReg::QOVGetCert(m_pOwner, kPurpose, certs.data(), &nCount, nSearchMode, bPrivateKey,
                                           &bCancel));
        EXPECT_FALSE(bCancel);
        certs.resize(static_cast<size_t>(nCount));
        return certs;
    }

    static bool Names(const TLSCryptCert& record, const TestCert& cert)
    {
        return record.cbThumbprint == 20 && memcmp(record.abThumbprint, cert.Thumbprint(), 20) == 0;
    }

    bool Choose(const TestCert& cert)
    {
        TLSCryptCert record = cert.Record();
        return TVornixReg::QOVSetRegUsrEncCrt(m_pOwner, &record, 1, nullptr);
    }

    // A new key file made for cert, its password returned.
    std::string MakeKeyFile(const TestCert& cert)
    {
        EXPECT_TRUE(Choose(cert));
        std::string password;
        EXPECT_TRUE(Open({cert.Record()}, &password)) << m_reason;
        EXPECT_TRUE(FileExists(m_key));
        return password;
    }

    // The password a separate process obtains.
    std::string PasswordInChild(bool* pOk)
    {
        ktxtest::TempDir tmp;
        std::string out = tmp.File("password.txt");
        ktxtest::ChildProcess child;
        *pOk = false;
        if (!child.Start("tools_helper.exe", "password \"" + out + "\"")) return "no child";
        DWORD code = 99;
        if (!child.Wait(60000, &code)) return "child hangs";
        std::string text = ReadFileBytes(out);
        *pOk = code == 0 && text.rfind("OK ", 0) == 0;
        return text.size() > 3 ? text.substr(3) : text;
    }

    ktxtest::TempDir m_dir;
    std::string m_safe;
    std::string m_key;
    std::string m_reason;
    TLSOwner* m_pOwner = nullptr;
};

TEST_F(KeyFile, FullCertificatePathGivesTheSamePasswordInSeparateProcesses)
{
    TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe test user"));
    ASSERT_TRUE(Choose(cert)) << m_pOwner->rErrHandler.szDetail;
    EXPECT_FALSE(FileExists(m_key)) << "choosing alone makes no key file";

    std::vector<TLSCryptCert> certs = SafeCertificates();
    ASSERT_FALSE(certs.empty());
    EXPECT_TRUE(Names(certs[0], cert)) << "the chosen certificate comes first";
    EXPECT_TRUE(certs[0].bEncryptionCert);
    EXPECT_TRUE(certs[0].bHasPrivateKey);
    EXPECT_STREQ(certs[0].szSubject, "KTSafe test user");
    EXPECT_STREQ(certs[0].szStore, "MY");
    EXPECT_EQ(certs[0].dwStoreFlags, 0x14000u);

    // A new safe: a new key file with a new random password.
    std::string password;
    ASSERT_TRUE(Open(certs, &password)) << m_reason;
    EXPECT_EQ(password.size(), 56u);
    EXPECT_EQ(password.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"),
              std::string::npos);
    ASSERT_TRUE(FileExists(m_key));
    const std::string keyBytes = ReadFileBytes(m_key);
    EXPECT_EQ(keyBytes.find(password), std::string::npos) << "the password is never stored in clear";

    // The same password again, here and in two other processes.
    std::string again;
    ASSERT_TRUE(Open(certs, &again)) << m_reason;
    EXPECT_EQ(again, password);
    for (int i = 0; i < 2; ++i) {
        bool ok = false;
        std::string child = PasswordInChild(&ok);
        ASSERT_TRUE(ok) << child;
        EXPECT_EQ(child, password);
    }
    EXPECT_EQ(ReadFileBytes(m_key), keyBytes) << "opening never rewrites the key file";

    // Another new safe file later: the key file that exists gives its password, never another one.
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, m_dir.File("Second.xml").c_str()));
    std::string fresh;
    ASSERT_TRUE(Open(certs, &fresh));
    EXPECT_EQ(fresh, password);
    EXPECT_EQ(ReadFileBytes(m_key), keyBytes);
}

TEST_F(KeyFile, ASecondChosenCertificateOpensItAndEitherWorks)
{
    TestCert first, second;
    ASSERT_TRUE(first.Create("KTSafe first"));
    ASSERT_TRUE(second.Create("KTSafe second"));
    const std::string password = MakeKeyFile(first);

    ASSERT_TRUE(Choose(second)) << m_pOwner->rErrHandler.szDetail;
    std::vector<TLSCryptCert> certs = SafeCertificates();
    ASSERT_GE(certs.size(), 2u);
    EXPECT_TRUE(Names(certs[0], second)) << "the new choice comes first";

    int nSlots = -1;
    ASSERT_TRUE(TVornixReg::QOVGetKeyFileCerts(m_pOwner, nullptr, &nSlots));
    EXPECT_EQ(nSlots, 2);
    std::vector<TLSCryptCert> slots(2);
    ASSERT_TRUE(TVornixReg::QOVGetKeyFileCerts(m_pOwner, slots.data(), &nSlots));
    EXPECT_TRUE((Names(slots[0], first) && Names(slots[1], second)) ||
                (Names(slots[0], second) && Names(slots[1], first)));
    EXPECT_TRUE(slots[0].bHasPrivateKey && slots[1].bHasPrivateKey);

    std::string withFirst, withSecond;
    ASSERT_TRUE(Open({first.Record()}, &withFirst)) << m_reason;
    ASSERT_TRUE(Open({second.Record()}, &withSecond)) << m_reason;
    EXPECT_EQ(withFirst, password);
    EXPECT_EQ(withSecond, password);

    // Choosing one that has a slot already changes nothing in the key file.
    const std::string keyBytes = ReadFileBytes(m_key);
    ASSERT_TRUE(Choose(first));
    EXPECT_EQ(ReadFileBytes(m_key), keyBytes);

    // The first certificate gone: the second still opens the safe, in another process too.
    ASSERT_TRUE(first.DeleteCertificate());
    ASSERT_TRUE(first.DeleteContainer());
    bool ok = false;
    EXPECT_EQ(PasswordInChild(&ok), password);
    EXPECT_TRUE(ok);
    ASSERT_TRUE(TVornixReg::QOVGetKeyFileCerts(m_pOwner, slots.data(), &nSlots));
    int nUsable = 0;
    for (int i = 0; i < nSlots; ++i) nUsable += slots[static_cast<size_t>(i)].bHasPrivateKey ? 1 : 0;
    EXPECT_EQ(nUsable, 1);
}

TEST_F(KeyFile, RefusedOnceEverySlotsCertificateIsDeleted)
{
    TestCert first, second;
    ASSERT_TRUE(first.Create("KTSafe first"));
    ASSERT_TRUE(second.Create("KTSafe second"));
    MakeKeyFile(first);
    ASSERT_TRUE(Choose(second));
    const std::string keyBytes = ReadFileBytes(m_key);
    const std::vector<TLSCryptCert> records = {second.Record(), first.Record()};

    ASSERT_TRUE(first.DeleteCertificate());
    ASSERT_TRUE(second.DeleteCertificate());
    EXPECT_FALSE(Open(records, nullptr));
    EXPECT_STREQ(m_reason.c_str(), DLS_KEYFILE_NOCERT());
    EXPECT_EQ(ReadFileBytes(m_key), keyBytes) << "the key file is never replaced";
}

TEST_F(KeyFile, AMissingPrivateKeyIsRefused)
{
    TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe key gone"));
    MakeKeyFile(cert);
    const std::string keyBytes = ReadFileBytes(m_key);
    ASSERT_TRUE(cert.DeleteContainer());
    EXPECT_FALSE(Open({cert.Record()}, nullptr));
    EXPECT_STREQ(m_reason.c_str(), DLS_KEYFILE_NOPRIVATEKEY());
    EXPECT_EQ(ReadFileBytes(m_key), keyBytes);

    // Without its private key the certificate is no longer offered for the safe.
    for (const TLSCryptCert& c : SafeCertificates()) EXPECT_FALSE(Names(c, cert));
    bool bListed = false;
    for (const TLSCryptCert& c : SafeCertificates(1, false)) {
        if (Names(c, cert)) {
            bListed = true;
            EXPECT_FALSE(c.bHasPrivateKey);
        }
    }
    EXPECT_TRUE(bListed) << "asked for every certificate, it is listed without a private key";
}

TEST_F(KeyFile, AKeyFileMadeForAnotherCertificateIsRefused)
{
    TestCert owner, stranger;
    ASSERT_TRUE(owner.Create("KTSafe owner"));
    ASSERT_TRUE(stranger.Create("KTSafe stranger"));
    MakeKeyFile(owner);
    const std::string keyBytes = ReadFileBytes(m_key);
    EXPECT_FALSE(Open({stranger.Record()}, nullptr));
    EXPECT_STREQ(m_reason.c_str(), DLS_KEYFILE_NOCERT());
    EXPECT_EQ(ReadFileBytes(m_key), keyBytes);
}

TEST_F(KeyFile, DamagedKeyFilesAreRefusedAndLeftAsTheyAre)
{
    TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe damage"));
    MakeKeyFile(cert);
    const std::string good = ReadFileBytes(m_key);
    struct Case {
        const char* label;
        std::string bytes;
    };
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x01;
    std::string slotFlipped = good;
    slotFlipped[100] ^= 0x40;
    const Case cases[] = {
        {"empty", ""},
        {"truncated", good.substr(0, good.size() / 2)},
        {"last byte missing", good.substr(0, good.size() - 1)},
        {"a byte appended", good + "x"},
        {"one bit changed", flipped},
        {"wrapped password changed", slotFlipped},
        {"another file", "<?xml version=\"1.0\"?><LSVER500/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(ktxtest::WriteFileBytes(m_key, c.bytes));
        EXPECT_FALSE(Open({cert.Record()}, nullptr));
        EXPECT_STREQ(m_reason.c_str(), DLS_KEYFILE_DAMAGED());
        EXPECT_EQ(ReadFileBytes(m_key), c.bytes) << "left as it is";
    }
    // Put back, it opens again.
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_key, good));
    EXPECT_TRUE(Open({cert.Record()}, nullptr));
}

TEST_F(KeyFile, NoNewPasswordIsInventedForASafeThatExists)
{
    TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe existing"));
    ASSERT_TRUE(Choose(cert));
    ASSERT_TRUE(WriteSafe(m_safe, "an existing safe"));
    EXPECT_FALSE(Open({cert.Record()}, nullptr));
    EXPECT_STREQ(m_reason.c_str(), DLS_KEYFILE_MISSING());
    EXPECT_FALSE(FileExists(m_key));

    // No safe chosen at all: nothing is made either.
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "software\\vornix\\KTX", "SafeFile");
    EXPECT_FALSE(Open({cert.Record()}, nullptr));
    EXPECT_STREQ(m_reason.c_str(), DLS_KEYFILE_NOSAFE());
    EXPECT_FALSE(FileExists(m_key));
}

TEST_F(KeyFile, ALostKeyFileComesBackFromTheSafesBackup)
{
    TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe backup"));
    const std::string password = MakeKeyFile(cert);
    ASSERT_TRUE(WriteSafe(m_safe, "the safe"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));

    // Key file lost, safe still there.
    ASSERT_TRUE(DeleteFileA(m_key.c_str()));
    std::string again;
    ASSERT_TRUE(Open({cert.Record()}, &again)) << m_reason;
    EXPECT_EQ(again, password);

    // Safe and key file lost: the safe's backups still count, so no new password.
    ASSERT_TRUE(DeleteFileA(m_key.c_str()));
    ASSERT_TRUE(DeleteFileA(m_safe.c_str()));
    ASSERT_TRUE(Open({cert.Record()}, &again)) << m_reason;
    EXPECT_EQ(again, password);
}

TEST_F(KeyFile, PasswordLengthFollowsTheCallersLimit)
{
    TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe length"));
    ASSERT_TRUE(Choose(cert));
    std::string password;
    ASSERT_TRUE(Open({cert.Record()}, &password, 40));
    EXPECT_EQ(password.size(), 40u);
    std::string again;
    ASSERT_TRUE(Open({cert.Record()}, &again, 56));
    EXPECT_EQ(again, password);
    EXPECT_FALSE(Open({cert.Record()}, nullptr, 39)) << "a stored password is never cut";
}

TEST_F(KeyFile, ChoosingNeverLocksTheUserOut)
{
    TestCert first, second, signing;
    ASSERT_TRUE(first.Create("KTSafe first"));
    ASSERT_TRUE(second.Create("KTSafe second"));
    ASSERT_TRUE(signing.Create("KTSafe signing only", AT_SIGNATURE));
    MakeKeyFile(first);
    const std::string keyBytes = ReadFileBytes(m_key);

    // A certificate that cannot unwrap a key is neither offered nor accepted.
    for (const TLSCryptCert& c : SafeCertificates()) EXPECT_FALSE(Names(c, signing));
    EXPECT_FALSE(Choose(signing));
    EXPECT_EQ(ReadFileBytes(m_key), keyBytes);

    // When no certificate opens the key file any more, a new choice gets no
    // slot and is not recorded: the key file stays as it was.
    ASSERT_TRUE(first.DeleteCertificate());
    EXPECT_FALSE(Choose(second));
    EXPECT_EQ(ReadFileBytes(m_key), keyBytes);
    std::vector<TLSCryptCert> certs = SafeCertificates();
    for (const TLSCryptCert& c : certs) EXPECT_FALSE(c.bEncryptionCert);

    // A certificate that is in no store cannot be chosen.
    TLSCryptCert unknown = first.Record();
    EXPECT_FALSE(TVornixReg::QOVSetRegUsrEncCrt(m_pOwner, &unknown, 1, nullptr));
    EXPECT_STREQ(m_pOwner->rErrHandler.szMessage, "TVornixReg::QOVSetRegUsrEncCrt failed!");
}

// Choosing follows the certificate rule that the certificate manager lists
// by: an RSA key of 2048 bits or more whose key usages, when stated, include
// key encipherment. A certificate the rule refuses gets no slot and is not
// recorded, and a new key file is made for the first one it accepts.
TEST_F(KeyFile, ChoosingFollowsTheCertificateRule)
{
    // Two keys for every case: the usual 2048-bit one and a 1024-bit one.
    TestCert usual, small;
    CertOptions usualOptions;
    usualOptions.bKeyUsage = CERT_KEY_ENCIPHERMENT_KEY_USAGE | CERT_DATA_ENCIPHERMENT_KEY_USAGE;
    ASSERT_TRUE(usual.Create("KTSafe rule usual", usualOptions));
    CertOptions smallOptions;
    smallOptions.dwBits = 1024;
    ASSERT_TRUE(small.Create("KTSafe rule 1024 bits", smallOptions));
    struct Case {
        const char* name;
        BYTE bKeyUsage;
        const TestCert* pKeyOf;
        bool bChosen;
    };
    const Case cases[] = {
        {"KTSafe rule no key usage", 0, &usual, true},
        {"KTSafe rule key encipherment", CERT_KEY_ENCIPHERMENT_KEY_USAGE, &usual, true},
        {"KTSafe rule signature and key encipherment",
         CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_KEY_ENCIPHERMENT_KEY_USAGE, &usual, true},
        {"KTSafe rule 1024 bits with key encipherment", CERT_KEY_ENCIPHERMENT_KEY_USAGE, &small, false},
        {"KTSafe rule signature only", CERT_DIGITAL_SIGNATURE_KEY_USAGE, &usual, false},
        {"KTSafe rule data encipherment only", CERT_DATA_ENCIPHERMENT_KEY_USAGE, &usual, false},
    };
    std::vector<std::unique_ptr<TestCert>> certs;
    for (const Case& c : cases) {
        CertOptions options;
        options.bKeyUsage = c.bKeyUsage;
        options.pKeyOf = c.pKeyOf;
        certs.push_back(std::make_unique<TestCert>());
        ASSERT_TRUE(certs.back()->Create(c.name, options)) << c.name;
    }

    // A new key file: made for the first certificate the rule accepts.
    std::vector<TLSCryptCert> offered = {small.Record(), certs[5]->Record() /* data encipherment only */,
                                         certs[4]->Record() /* signature only */, usual.Record()};
    std::string password;
    ASSERT_TRUE(Open(offered, &password)) << m_reason;
    std::vector<TLSCryptCert> slots(4);
    int nSlots = static_cast<int>(slots.size());
    ASSERT_TRUE(TVornixReg::QOVGetKeyFileCerts(m_pOwner, slots.data(), &nSlots));
    ASSERT_EQ(nSlots, 1);
    EXPECT_TRUE(Names(slots[0], usual)) << "the key file is made for " << slots[0].szSubject;

    // The 1024-bit certificate itself is refused as well.
    ASSERT_TRUE(Choose(usual));
    EXPECT_FALSE(Choose(small));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string keyBytes = ReadFileBytes(m_key);
        int nBefore = 32;
        std::vector<TLSCryptCert> before(32);
        ASSERT_TRUE(TVornixReg::QOVGetKeyFileCerts(m_pOwner, before.data(), &nBefore));
        EXPECT_EQ(Choose(*certs[i]), c.bChosen);
        const std::string detail = m_pOwner->rErrHandler.szDetail;
        nSlots = 32;
        slots.assign(32, TLSCryptCert());
        ASSERT_TRUE(TVornixReg::QOVGetKeyFileCerts(m_pOwner, slots.data(), &nSlots));
        std::vector<TLSCryptCert> listed = SafeCertificates();
        ASSERT_FALSE(listed.empty());
        if (c.bChosen) {
            EXPECT_EQ(nSlots, nBefore + 1) << "a slot for the new choice";
            EXPECT_TRUE(Names(listed[0], *certs[i])) << "recorded as the choice";
            std::string withIt;
            EXPECT_TRUE(Open({certs[i]->Record()}, &withIt)) << m_reason;
            EXPECT_EQ(withIt, password);
        } else {
            EXPECT_EQ(detail.rfind(DLS_CERT_NOTUSABLE(), 0), 0u) << detail;
            EXPECT_TRUE(ReadFileBytes(m_key) == keyBytes) << "no slot";
            EXPECT_FALSE(Names(listed[0], *certs[i])) << "not recorded";
        }
    }
}

// A key file with a slot for a certificate that the rule no longer lets the
// user choose (a 1024-bit key, data encipherment only), as an earlier version
// may have written it, still opens with it, here and in another process; and
// it gives the password for a new choice, so the user can move on to a
// certificate the rule accepts.
TEST_F(KeyFile, ASlotOfACertificateThatCanNoLongerBeChosenStillOpens)
{
    TestCert small, dataOnly, successor;
    CertOptions smallOptions;
    smallOptions.dwBits = 1024;
    ASSERT_TRUE(small.Create("KTSafe older 1024 bits", smallOptions));
    CertOptions dataOptions;
    dataOptions.bKeyUsage = CERT_DATA_ENCIPHERMENT_KEY_USAGE;
    ASSERT_TRUE(dataOnly.Create("KTSafe older data encipherment", dataOptions));
    // The successor shares a key made already: one key less to make.
    CertOptions successorOptions;
    successorOptions.bKeyUsage = CERT_KEY_ENCIPHERMENT_KEY_USAGE;
    successorOptions.pKeyOf = &dataOnly;
    ASSERT_TRUE(successor.Create("KTSafe successor", successorOptions));
    const std::string password = "An0lderKeyFilePassword+ForTheSafe/Of2019x";

    for (const TestCert* pOld : {&small, &dataOnly}) {
        SCOPED_TRACE(pOld == &small ? "1024 bits" : "data encipherment only");
        const std::string keyBytes = KeyFileBytesFor(password, {pOld});
        ASSERT_FALSE(keyBytes.empty());
        ASSERT_TRUE(ktxtest::WriteFileBytes(m_key, keyBytes));

        // Offered for opening, and it opens.
        std::vector<TLSCryptCert> certs = SafeCertificates();
        bool bOffered = false;
        for (const TLSCryptCert& c : certs) bOffered = bOffered || Names(c, *pOld);
        EXPECT_TRUE(bOffered);
        std::string opened;
        ASSERT_TRUE(Open(certs, &opened)) << m_reason;
        EXPECT_EQ(opened, password);
        ASSERT_TRUE(Open({pOld->Record()}, &opened)) << m_reason;
        EXPECT_EQ(opened, password);
        bool ok = false;
        EXPECT_EQ(PasswordInChild(&ok), password);
        EXPECT_TRUE(ok);
        int nSlots = 1;
        TLSCryptCert slot;
        ASSERT_TRUE(TVornixReg::QOVGetKeyFileCerts(m_pOwner, &slot, &nSlots));
        EXPECT_TRUE(slot.bHasPrivateKey) << "it opens the key file";

        // Chosen once more it is not; the key file stays as it is.
        EXPECT_FALSE(Choose(*pOld));
        EXPECT_TRUE(ReadFileBytes(m_key) == keyBytes);
    }

    // From the 1024-bit slot to a certificate the rule accepts: the new slot
    // is made with the password the old one gives.
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_key, KeyFileBytesFor(password, {&small})));
    ASSERT_TRUE(Choose(successor)) << m_pOwner->rErrHandler.szDetail;
    int nSlots = 0;
    ASSERT_TRUE(TVornixReg::QOVGetKeyFileCerts(m_pOwner, nullptr, &nSlots));
    EXPECT_EQ(nSlots, 2);
    ASSERT_TRUE(small.DeleteCertificate());
    ASSERT_TRUE(small.DeleteContainer());
    std::string withSuccessor;
    ASSERT_TRUE(Open({successor.Record()}, &withSuccessor)) << m_reason;
    EXPECT_EQ(withSuccessor, password);
}

TEST_F(KeyFile, MachineStoreIsSearchedInModeZero)
{
    // A certificate only in the local machine's "MY" store (no private key for this user).
    TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe machine"));
    HCERTSTORE hUser = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "MY");
    HCERTSTORE hMachine = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "MY");
    ASSERT_NE(hUser, nullptr);
    ASSERT_NE(hMachine, nullptr);
    CRYPT_HASH_BLOB blob{20, const_cast<BYTE*>(cert.Thumbprint())};
    PCCERT_CONTEXT pCert = CertFindCertificateInStore(hUser, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    ASSERT_NE(pCert, nullptr);
    PCCERT_CONTEXT pCopy = CertCreateCertificateContext(X509_ASN_ENCODING, pCert->pbCertEncoded, pCert->cbCertEncoded);
    ASSERT_TRUE(CertAddCertificateContextToStore(hMachine, pCopy, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    CertControlStore(hMachine, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertFreeCertificateContext(pCopy);
    CertFreeCertificateContext(pCert);
    ASSERT_TRUE(cert.DeleteCertificate());

    bool bInMachine = false;
    for (const TLSCryptCert& c : SafeCertificates(0, false)) {
        if (Names(c, cert)) {
            bInMachine = true;
            EXPECT_EQ(c.dwStoreFlags & 0x00FF0000u, static_cast<DWORD>(CERT_SYSTEM_STORE_LOCAL_MACHINE));
        }
    }
    EXPECT_TRUE(bInMachine);
    for (const TLSCryptCert& c : SafeCertificates(1, false)) EXPECT_FALSE(Names(c, cert));

    pCert = CertFindCertificateInStore(hMachine, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (pCert) CertDeleteCertificateFromStore(pCert);
    CertControlStore(hMachine, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(hMachine, 0);
    CertCloseStore(hUser, 0);
}

TEST_F(KeyFile, BadRequestsAreRefused)
{
    TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe arguments"));
    TLSCryptCert record = cert.Record();
    char szPassword[LS_PASSWORD_SIZE];
    TVornixTools tools(m_pOwner);
    EXPECT_FALSE(tools.DoGetKeyFilePassword(nullptr, nullptr, szPassword, 56, &record, 1, 1, 0, 1, 0, 0, 0));
    EXPECT_FALSE(tools.DoGetKeyFilePassword(m_key.c_str(), nullptr, nullptr, 56, &record, 1, 1, 0, 1, 0, 0, 0));
    EXPECT_FALSE(tools.DoGetKeyFilePassword(m_key.c_str(), nullptr, szPassword, 0, &record, 1, 1, 0, 1, 0, 0, 0));
    EXPECT_FALSE(tools.DoGetKeyFilePassword(m_key.c_str(), nullptr, szPassword, 56, nullptr, 1, 1, 0, 1, 0, 0, 0));
    EXPECT_FALSE(tools.DoGetKeyFilePassword(m_key.c_str(), nullptr, szPassword, 56, &record, 0, 1, 0, 1, 0, 0, 0));
    EXPECT_FALSE(FileExists(m_key));

    // A record whose flags ask for anything but reading a system store is not obeyed.
    TLSCryptCert odd = record;
    odd.dwStoreFlags = 0x10 /* delete the store */ | 0x14000;
    odd.szStore[0] = 'M';
    TLSCryptCert noStore = record;
    noStore.dwStoreFlags = 0;
    EXPECT_FALSE(TVornixReg::QOVSetRegUsrEncCrt(m_pOwner, &noStore, 1, nullptr));
    EXPECT_FALSE(TVornixReg::QOVSetRegUsrEncCrt(m_pOwner, nullptr, 1, nullptr));
    EXPECT_TRUE(TVornixReg::QOVSetRegUsrEncCrt(m_pOwner, &odd, 1, nullptr)) << "read-only use of the user's store";
    EXPECT_FALSE(SafeCertificates().empty()) << "the store is still there";

    int nCount = 0;
    bool bCancel = false;
    EXPECT_FALSE(TVornixReg::QOVGetCert(m_pOwner, "other purpose", nullptr, &nCount, 1, true, &bCancel));
    EXPECT_FALSE(TVornixReg::QOVGetCert(m_pOwner, kPurpose, nullptr, nullptr, 1, true, &bCancel));
    EXPECT_FALSE(TVornixReg::QOVGetCert(m_pOwner, kPurpose, nullptr, &nCount, 7, true, &bCancel));
    char szPath[LS_PATH_SIZE];
    EXPECT_FALSE(TVornixReg::QOVGetKeyFile(m_pOwner, 2, nullptr, szPath, true));
    ASSERT_TRUE(TVornixReg::QOVGetKeyFile(m_pOwner, 1, nullptr, szPath, true));
    EXPECT_EQ(std::string(szPath), m_key);
}

}  // namespace

// Two processes choosing certificates at the same moment: every chosen
// certificate keeps its slot (the key file is read, extended and written
// under one lock).
TEST_F(KeyFile, CertificatesChosenAtOnceInTwoProcessesAllKeepTheirSlots)
{
    TestCert first;
    ASSERT_TRUE(first.Create("KTSafe first"));
    const std::string password = MakeKeyFile(first);
    constexpr int kPerChild = 3;
    std::vector<std::unique_ptr<TestCert>> chosen;
    std::string args[2];
    for (int i = 0; i < 2 * kPerChild; ++i) {
        chosen.push_back(std::make_unique<TestCert>());
        ASSERT_TRUE(chosen.back()->Create(("KTSafe chosen " + std::to_string(i)).c_str()));
        char hex[41];
        for (int b = 0; b < 20; ++b) snprintf(hex + 2 * b, 3, "%02x", chosen.back()->Thumbprint()[b]);
        args[i % 2] += std::string(" ") + hex;
    }
    const std::string eventName = "KTSafe.test.choose." + std::to_string(GetCurrentProcessId());
    HANDLE hGo = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(hGo, nullptr);
    ktxtest::ChildProcess children[2];
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(children[i].Start("tools_helper.exe", "choose " + eventName + args[i]));
    SetEvent(hGo);
    for (auto& child : children) {
        DWORD code = 99;
        ASSERT_TRUE(child.Wait(120000, &code));
        EXPECT_EQ(code, 0u);
    }
    CloseHandle(hGo);

    int nSlots = 0;
    std::vector<TLSCryptCert> slots(2 * kPerChild + 2);
    nSlots = static_cast<int>(slots.size());
    ASSERT_TRUE(TVornixReg::QOVGetKeyFileCerts(m_pOwner, slots.data(), &nSlots));
    EXPECT_EQ(nSlots, 2 * kPerChild + 1);
    for (const auto& cert : chosen) {
        std::string withIt;
        EXPECT_TRUE(Open({cert->Record()}, &withIt)) << m_reason;
        EXPECT_EQ(withIt, password);
    }
}
