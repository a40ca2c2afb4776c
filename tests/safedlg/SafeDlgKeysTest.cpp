// The safe password from the key file opened with a real certificate of the
// user's store, and the legacy key strings derived from a password.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KTXTOOLS.h"
#include "SafeDlgFixture.h"
#include "TestSupport.h"
#include "ToolsFixture.h"

using namespace safetest;
using ktxtest::FileExists;
using ktxtest::ReadFileBytes;

namespace {

class SafeDlgKeys : public SafeDlgFixture {};

struct SequenzCase {
    const char* pszName;
    std::string password;
};

TEST_F(SafeDlgKeys, LegacyKeyStringsFromAcceptedPasswords)
{
    const SequenzCase cases[] = {
        {"empty", ""},
        {"one character", "x"},
        {"ordinary", "Sommer 2024!"},
        {"with percent signs", "%s%d%n"},
        {"126 characters", std::string(126, 'p')},
        {"126 mixed characters", std::string(63, 'a') + std::string(63, '9')},
    };
    const char* const labels[4] = {"$5$", "$6$", "$7$", "$7$"};
    for (const SequenzCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        memset(m_pDlg->szPassSequenz, 'z', sizeof(m_pDlg->szPassSequenz));
        ASSERT_TRUE(m_pDlg->DoLoadPassSequenz(c.password.c_str()));
        EXPECT_FALSE(m_pOwner->rErrHandler.bFailed);
        for (int k = 0; k < 4; ++k) {
            const std::string slot = m_pDlg->szPassSequenz[k];
            EXPECT_EQ(slot.size(), 2 * c.password.size() + 3) << "slot " << k;
            EXPECT_EQ(slot, c.password + labels[k] + c.password) << "slot " << k;
            // Nothing of an earlier content is left behind the terminator.
            for (size_t i = slot.size(); i < TfrmDlgSafe::PASS_SEQUENZ_SIZE; ++i)
                ASSERT_EQ(m_pDlg->szPassSequenz[k][i], '\0') << "slot " << k << " byte " << i;
        }
        EXPECT_STREQ(m_pDlg->szPassSequenz[2], m_pDlg->szPassSequenz[3]);
        // Slots 0, 1 and 2 differ only in the label.
        const size_t nLabel = c.password.size();
        for (int k = 1; k < 3; ++k) {
            std::string a = m_pDlg->szPassSequenz[0], b = m_pDlg->szPassSequenz[k];
            EXPECT_NE(a, b);
            a.replace(nLabel, 3, "###");
            b.replace(nLabel, 3, "###");
            EXPECT_EQ(a, b) << "slot " << k;
        }
    }
}

TEST_F(SafeDlgKeys, LegacyKeyStringsRefuseLongPasswordsAndKeepTheSlots)
{
    ASSERT_TRUE(m_pDlg->DoLoadPassSequenz("before"));
    char before[4][TfrmDlgSafe::PASS_SEQUENZ_SIZE];
    memcpy(before, m_pDlg->szPassSequenz, sizeof(before));

    const SequenzCase cases[] = {
        {"127 characters", std::string(127, 'q')},
        {"256 characters", std::string(256, 'r')},
        {"far longer than a slot", std::string(3000, 's')},
    };
    for (const SequenzCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_FALSE(m_pDlg->DoLoadPassSequenz(c.password.c_str()));
        EXPECT_TRUE(m_pOwner->rErrHandler.bFailed);
        EXPECT_STREQ(m_pOwner->rErrHandler.szMessage, "TfrmDlgSafe::DoLoadPassSequenz failed!");
        EXPECT_EQ(memcmp(before, m_pDlg->szPassSequenz, sizeof(before)), 0) << "the slots were changed";
    }
    EXPECT_FALSE(m_pDlg->DoLoadPassSequenz(nullptr));
    EXPECT_EQ(memcmp(before, m_pDlg->szPassSequenz, sizeof(before)), 0);
}

TEST_F(SafeDlgKeys, CertificatePasswordFromTheKeyFile)
{
    ktxtest::TempDir dir;
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, dir.File("Safe.xml").c_str()));
    toolstest::TestCert cert;
    ASSERT_TRUE(cert.Create("KTSafe safe dialog test"));
    TLSCryptCert record = cert.Record();
    ASSERT_TRUE(TVornixReg::QOVSetRegUsrEncCrt(m_pOwner, &record, 1, nullptr));

    // The first call makes the key file for the new safe; every later call,
    // with or without a scratch buffer, opens it to the same password.
    char szFirst[TfrmDlgSafe::CERT_PASSWORD_SIZE] = {};
    ASSERT_TRUE(m_pDlg->DoGetCertPassword(szFirst, false)) << m_pOwner->rErrHandler.szDetail;
    EXPECT_FALSE(m_pOwner->rErrHandler.bFailed);
    const size_t nLen = strlen(szFirst);
    EXPECT_GT(nLen, 0u);
    EXPECT_LE(nLen, 56u);
    EXPECT_TRUE(FileExists(toolstest::KeyFilePath()));
    const std::string keyFile = ReadFileBytes(toolstest::KeyFilePath());

    for (bool bNoScratch : {false, true}) {
        SCOPED_TRACE(bNoScratch);
        char szAgain[TfrmDlgSafe::CERT_PASSWORD_SIZE];
        memset(szAgain, 'x', sizeof(szAgain));
        ASSERT_TRUE(m_pDlg->DoGetCertPassword(szAgain, bNoScratch)) << m_pOwner->rErrHandler.szDetail;
        EXPECT_STREQ(szAgain, szFirst);
        EXPECT_FALSE(m_pDlg->bCancel);
    }
    EXPECT_EQ(ReadFileBytes(toolstest::KeyFilePath()), keyFile) << "opening changed the key file";
    SecureZeroMemory(szFirst, sizeof(szFirst));
}

TEST_F(SafeDlgKeys, NoCertificateNoPasswordAndNoKeyFileTouched)
{
    int nCount = -1;
    bool bCancel = false;
    TVornixReg::QOVGetCert(m_pOwner, "safe certificates", nullptr, &nCount, 1, true, &bCancel);
    ASSERT_LE(nCount, 0) << "a certificate for the safe is left in the user's store";

    ktxtest::TempDir dir;
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, dir.File("Safe.xml").c_str()));
    const std::string key = toolstest::KeyFilePath();

    // No key file: none is made.
    char szPassword[TfrmDlgSafe::CERT_PASSWORD_SIZE];
    memset(szPassword, 'x', sizeof(szPassword));
    EXPECT_FALSE(m_pDlg->DoGetCertPassword(szPassword, false));
    EXPECT_TRUE(m_pOwner->rErrHandler.bFailed);
    EXPECT_STREQ(m_pOwner->rErrHandler.szLastMessage, "TfrmDlgSafe::DoGetCertPassword failed!");
    EXPECT_STREQ(szPassword, "");
    EXPECT_FALSE(FileExists(key));

    // A key file that exists is left exactly as it is.
    const std::string bytes = toolstest::SampleKeyFileBytes();
    ASSERT_TRUE(ktxtest::WriteFileBytes(key, bytes));
    WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
    ASSERT_TRUE(GetFileAttributesExA(key.c_str(), GetFileExInfoStandard, &before));
    Sleep(20);
    memset(szPassword, 'x', sizeof(szPassword));
    EXPECT_FALSE(m_pDlg->DoGetCertPassword(szPassword, true));
    EXPECT_STREQ(szPassword, "");
    ASSERT_TRUE(GetFileAttributesExA(key.c_str(), GetFileExInfoStandard, &after));
    EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
    EXPECT_EQ(ReadFileBytes(key), bytes);
}

TEST_F(SafeDlgKeys, NullPasswordBufferIsRefused)
{
    EXPECT_FALSE(m_pDlg->DoGetCertPassword(nullptr, false));
    EXPECT_TRUE(m_pOwner->rErrHandler.bFailed);
}

}  // namespace
