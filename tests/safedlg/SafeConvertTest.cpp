// Older safes become current ones: a safe of the generation before is
// converted when it is opened, a safe protected by a typed password with the
// convert button; either way every value comes through, and a conversion
// that cannot finish leaves the safe file exactly as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"
#include "SafeUnlockFixture.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

const EntryFields kAlpha = {"alice", "a-secret", "https://a.example", "note a"};
const EntryFields kBeta = {"bob", "b-secret", "https://b.example", "line 1\r\nline 2"};
const EntryFields kGamma = {"carol", "c-secret", "", ""};
constexpr char kTyped[] = "typed secret";

class SafeConvert : public SafeUnlockFixture {
protected:
    void SetUp() override
    {
        SafeUnlockFixture::SetUp();
        ChooseCertificate();
        m_work = m_dir.File("Safe.~ls");
        m_backup = m_dir.File("Safe.bak");
    }

    // Opens the safe as the program does (answering a password question with
    // pszTyped, when given), reads every entry in the list and closes.
    std::vector<SafeEntry> OpenAndReadAll(const char* pszTyped = nullptr)
    {
        Recreate();
        std::vector<SafeEntry> read;
        std::unique_ptr<ui::Answer> password;
        if (pszTyped) password.reset(new ui::Answer({"TfrmInputPassword"}, ui::TypeAndPress(pszTyped, DLS_DLG_BTN_OK())));
        bool bCancel = false;
        EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
            const HWND hList = m_pDlg->lstvBezeichnung->Handle();
            for (int i = 0; i < ui::ListCount(hList); ++i) {
                ui::SelectListItem(hList, i);
                read.push_back({ui::ListItemText(hList, i), ShownFields()});
            }
            return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
        }));
        EXPECT_TRUE(m_bShown);
        return read;
    }

    std::string m_work;
    std::string m_backup;
};

// ---------------------------------------------------------------------------
// The generation before: converted when it is opened
// ---------------------------------------------------------------------------

TEST_F(SafeConvert, AnOlderSafeIsConvertedWhenItIsOpenedAndEveryValueComesThrough)
{
    WriteSafe({{"Gamma", kGamma}, {"alpha", kAlpha}, {"Beta", kBeta}}, nullptr, "LSVER400", LS_CRYPT_LEGACY);
    // An entry that was added and never stored goes along without a record.
    {
        TXmlAPI doc(m_pOwner);
        ASSERT_TRUE(doc.Init(m_safe.c_str()));
        ASSERT_TRUE(doc.PPPS("LSVER400.n0003", ""));
        ASSERT_TRUE(doc.PutAtt("LSVER400.n0003", "name", "Delta"));
        ASSERT_TRUE(doc.Write(m_safe.c_str(), nullptr));
    }
    const std::string before = SafeBytes();

    const std::vector<SafeEntry> read = OpenAndReadAll();
    const std::vector<SafeEntry> expected = {
        {"alpha", kAlpha}, {"Beta", kBeta}, {"Delta", {"", "", "", ""}}, {"Gamma", kGamma}};
    EXPECT_EQ(read, expected);

    // Renumbered in the list's order, in the current format.
    EXPECT_EQ(SafeRoot(), "LSVER500");
    const std::vector<Element> elements = SafeElements();
    ASSERT_EQ(elements.size(), 4u);
    const char* const apszTags[] = {"n0000", "n0001", "n0002", "n0003"};
    for (size_t i = 0; i < elements.size(); ++i) {
        EXPECT_EQ(elements[i].tag, apszTags[i]);
        EXPECT_EQ(elements[i].name, expected[i].name);
    }
    EXPECT_TRUE(elements[2].text.empty() && elements[2].hash.empty()) << "no record made up for Delta";
    EXPECT_EQ(ktxtest::ReadFileBytes(m_backup), before) << "the old file is kept beside it";
    EXPECT_EQ(GetFileAttributesA(m_work.c_str()), INVALID_FILE_ATTRIBUTES) << "no work file left";
    EXPECT_NE(Log().find(DLS_LOG_CONVERTSAFEOK()), std::string::npos) << Log();

    // Read straight from the file: every record in the current format under
    // the key file's password.
    char szPassword[TfrmDlgSafe::CERT_PASSWORD_SIZE] = {};
    ASSERT_TRUE(m_pDlg->DoGetCertPassword(szPassword, false));
    EXPECT_EQ(EntriesOpeningWith(szPassword, LS_CRYPT_CURRENT), 3);
    SecureZeroMemory(szPassword, sizeof(szPassword));

    // The next opening needs nothing more.
    EXPECT_EQ(OpenAndReadAll(), expected);
}

TEST_F(SafeConvert, AConversionThatCannotFinishLeavesTheSafeFileAsItWas)
{
    struct Case {
        const char* pszName;
        const char* pszToldEntry;   // the entry the message names, if any
    };
    const Case cases[] = {
        {"an entry changed outside the program", "Beta"},
        {"an entry stored without its hash", "Beta"},
        {"the work file cannot be written", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        Recreate();
        WriteSafe({{"Alpha", kAlpha}, {"Beta", kBeta}, {"Gamma", kGamma}}, nullptr, "LSVER400", LS_CRYPT_LEGACY);
        {
            TXmlAPI doc(m_pOwner);
            ASSERT_TRUE(doc.Init(m_safe.c_str()));
            std::vector<char> text(LS_TEXT_SIZE);
            ASSERT_TRUE(doc.GPPS("LSVER400.n0001", text.data(), LS_TEXT_SIZE));
            if (std::string(c.pszName).find("changed") != std::string::npos) {
                text[10] = text[10] == 'A' ? 'B' : 'A';
                ASSERT_TRUE(doc.PPPS("LSVER400.n0001", text.data()));
            } else if (std::string(c.pszName).find("hash") != std::string::npos) {
                // Made again with its name and text only.
                ASSERT_TRUE(doc.PPPS("LSVER400.n0001", nullptr));
                ASSERT_TRUE(doc.PPPS("LSVER400.n0001", text.data()));
                ASSERT_TRUE(doc.PutAtt("LSVER400.n0001", "name", "Beta"));
            }
            ASSERT_TRUE(doc.Write(m_safe.c_str(), nullptr));
        }
        const bool bBlockWork = c.pszToldEntry == nullptr;
        if (bBlockWork) ASSERT_TRUE(CreateDirectoryA(m_work.c_str(), nullptr));
        const std::string before = SafeBytes();

        BoxCloser boxes;
        bool bCancel = false;
        Open(&bCancel, NeverShown());
        EXPECT_EQ(boxes.Stop(), 1) << "told once\n" << boxes.Texts();
        EXPECT_NE(boxes.Texts().find(DLS_LOG_CONVERTSAFEFAILED()), std::string::npos) << boxes.Texts();
        if (c.pszToldEntry)
            EXPECT_NE(boxes.Texts().find(std::string("\"") + c.pszToldEntry + "\""), std::string::npos)
                << boxes.Texts();
        EXPECT_FALSE(m_bShown);

        EXPECT_EQ(SafeBytes(), before) << "byte for byte";
        EXPECT_EQ(GetFileAttributesA(m_backup.c_str()), INVALID_FILE_ATTRIBUTES) << "its backup is gone again";
        if (bBlockWork) {
            EXPECT_NE(GetFileAttributesA(m_work.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u) << "not touched";
            RemoveDirectoryA(m_work.c_str());
        } else {
            EXPECT_EQ(GetFileAttributesA(m_work.c_str()), INVALID_FILE_ATTRIBUTES);
        }
        EXPECT_NE(Log().find(DLS_LOG_CONVERTSAFEFAILED()), std::string::npos) << Log();
    }
}

// ---------------------------------------------------------------------------
// A safe protected by a typed password: converted with the button
// ---------------------------------------------------------------------------

TEST_F(SafeConvert, ATypedPasswordSafeIsConvertedWithTheButtonAndThenOpensWithTheCertificate)
{
    WriteSafe({{"Alpha", kAlpha}, {"Beta", kBeta}}, kTyped, "LSVER300", LS_CRYPT_LEGACY);
    // The user has never had a key file: the conversion makes one.
    char szKeyFile[LS_PATH_SIZE] = {};
    ASSERT_TRUE(TVornixReg::QOVGetKeyFile(m_pOwner, 1, nullptr, szKeyFile, true));
    ASSERT_TRUE(DeleteFileA(szKeyFile));

    const EntryFields edited = {"bob 2", "b-secret 2", "https://b2.example", "edited in the old format"};
    Recreate();
    {
        ui::Answer password({"TfrmInputPassword"}, ui::TypeAndPress(kTyped, DLS_DLG_BTN_OK()));
        bool bCancel = false;
        bool bConvertShown = false;
        bool bConverted = false;
        EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
            Select("Beta");
            TypeFields(edited);
            Select("Alpha");
            Select("Beta");
            bConvertShown = IsWindowVisible(m_pDlg->btnKonvert->Handle()) != FALSE;
            BoxCloser boxes;   // the question is agreed to
            ui::PostClick(m_pDlg->btnKonvert->Handle());
            for (int i = 0; i < 300 && IsWindowVisible(m_pDlg->btnKonvert->Handle()); ++i) Sleep(50);
            bConverted = !IsWindowVisible(m_pDlg->btnKonvert->Handle()) &&
                         !IsWindowVisible(m_pDlg->btnChangePassword->Handle());
            ui::Pump(300);
            boxes.Stop();
            return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
        }));
        EXPECT_TRUE(password.Wait());
        EXPECT_TRUE(bConvertShown);
        EXPECT_TRUE(bConverted) << "the convert and password buttons go once it is done";
    }
    EXPECT_EQ(SafeRoot(), "LSVER500");
    EXPECT_NE(GetFileAttributesA(szKeyFile), INVALID_FILE_ATTRIBUTES) << "a key file was made";
    EXPECT_NE(Log().find(DLS_LOG_CONVERTSAFEOK()), std::string::npos) << Log();

    // Opened with the certificate: no password question any more.
    ui::Answer noQuestion({"TfrmInputPassword"}, ui::Press(DLS_DLG_BTN_CANCEL()), 3000);
    const std::vector<SafeEntry> read = OpenAndReadAll();
    EXPECT_FALSE(noQuestion.Answered());
    const std::vector<SafeEntry> expected = {{"Alpha", kAlpha}, {"Beta", edited}};
    EXPECT_EQ(read, expected);
    EXPECT_EQ(m_pDlg->nCryptMode, LS_CRYPT_CURRENT);
}

TEST_F(SafeConvert, WithoutACertificateTheCertificateManagerIsOfferedAndNoMeansNothingChanges)
{
    WriteSafe({{"Alpha", kAlpha}}, kTyped, "LSVER300", LS_CRYPT_LEGACY);
    char szKeyFile[LS_PATH_SIZE] = {};
    ASSERT_TRUE(TVornixReg::QOVGetKeyFile(m_pOwner, 1, nullptr, szKeyFile, true));
    ASSERT_TRUE(DeleteFileA(szKeyFile));
    ASSERT_TRUE(m_cert.DeleteCertificate());
    const std::string before = SafeBytes();

    Recreate();
    ui::Answer password({"TfrmInputPassword"}, ui::TypeAndPress(kTyped, DLS_DLG_BTN_OK()));
    std::vector<std::string> questions;
    bool bStillOffered = false;
    bool bCancel = false;
    EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
        // Yes to converting, No to the certificate manager.
        ui::PostClick(m_pDlg->btnKonvert->Handle());
        for (int i = 0; i < 200 && questions.size() < 2; ++i) {
            const HWND hBox = ui::FindTopWindow({"#32770"});
            if (hBox && GetDlgItem(hBox, IDNO)) {
                Sleep(50);
                std::string text;
                for (HWND h : ui::Controls(hBox))
                    if (lstrcmpiA(ui::ClassOf(h).c_str(), "Static") == 0) text += ui::TextOf(h);
                const bool bNo = text.find(DLS_TXT_CONVERT_NEEDS_CERT()) != std::string::npos;
                for (int k = 0; k < 20 && IsWindow(hBox) && IsWindowVisible(hBox); ++k) {
                    ui::PressButtonId(hBox, bNo ? IDNO : IDYES);
                    ui::WaitForWindowGone(hBox, 300);
                }
                questions.push_back(text);
            }
            Sleep(50);
        }
        ui::Pump(500);
        bStillOffered = IsWindowVisible(m_pDlg->btnKonvert->Handle()) != FALSE;
        return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
    }));
    EXPECT_TRUE(password.Wait());
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_NE(questions[0].find(DLS_TXT_ASKCONVERT_SAFE()), std::string::npos) << questions[0];
    EXPECT_NE(questions[1].find(DLS_TXT_CONVERT_NEEDS_CERT()), std::string::npos) << questions[1];
    EXPECT_TRUE(bStillOffered);
    EXPECT_EQ(SafeBytes(), before);
    EXPECT_EQ(GetFileAttributesA(m_backup.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(szKeyFile), INVALID_FILE_ATTRIBUTES) << "no key file for nobody";
    EXPECT_EQ(Log().find(DLS_LOG_CONVERTSAFEFAILED()), std::string::npos) << "declining is no failure";
}

TEST_F(SafeConvert, ACurrentSafeIsLeftAsItIsAndDecliningChangesNothing)
{
    struct Case {
        const char* pszName;
        const char* pszVersion;
        int nAnswer;
    };
    const Case cases[] = {
        {"current safe, question agreed to", "LSVER500", IDYES},
        {"older safe, question declined", "LSVER300", IDNO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        Recreate();
        const int nMode = lstrcmpA(c.pszVersion, "LSVER500") == 0 ? LS_CRYPT_CURRENT : LS_CRYPT_LEGACY;
        WriteSafe({{"Alpha", kAlpha}}, kTyped, c.pszVersion, nMode);
        const std::string before = SafeBytes();

        char szPath[LS_PATH_SIZE] = {};
        LSStrCopy(szPath, sizeof(szPath), m_safe.c_str());
        m_pDlg->pszSafeFile = szPath;
        m_pDlg->nCryptMode = nMode;
        LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), kTyped);
        ASSERT_TRUE(m_pDlg->DoLoadPassSequenz(kTyped));
        ASSERT_TRUE(m_pDlg->pXml->Init(szPath));
        ShowAndStart();
        ASSERT_TRUE(m_pDlg->DoListSafe());

        ui::Answer question({"#32770"}, ui::PressId(c.nAnswer));
        EXPECT_TRUE(m_pDlg->DoConvertOldSafeFileVersion(false));
        EXPECT_TRUE(question.Wait());
        EXPECT_NE(question.Text().find(DLS_TXT_ASKCONVERT_SAFE()), std::string::npos) << question.Text();
        ui::Pump(200);
        EXPECT_EQ(ui::FindTopWindow({"#32770"}), nullptr) << "nothing else is said";
        EXPECT_EQ(SafeBytes(), before);
        EXPECT_EQ(GetFileAttributesA(m_backup.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(m_pDlg->nCryptMode, nMode);
        m_pDlg->Hide();
        m_pDlg->pszSafeFile = nullptr;
    }
}

}  // namespace
