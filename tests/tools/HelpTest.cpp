// Help: our pages for topics 22 and 23 in English and German beside the
// library, opened through the shell. A stand-in browser registered for
// ".html" records which page the shell was asked to open.
#include <gtest/gtest.h>

#include <string>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "TestSupport.h"
#include "ToolsFixture.h"

using namespace toolstest;

namespace {

const char kProgId[] = "KTSafeTestHelpPage";

// Registers tools_helper.exe as the program that opens ".html" files, so the
// page the shell opens is written to a file; the old association comes back
// at the end. The shell reads associations from the classes root.
class StandInBrowser {
public:
    explicit StandInBrowser(const std::string& recordFile)
    {
        char szOld[256] = {};
        LONG cb = sizeof(szOld);
        m_bHadOld = RegQueryValueA(HKEY_CLASSES_ROOT, ".html", szOld, &cb) == ERROR_SUCCESS;
        m_old = szOld;
        std::string command = "\"" + ktxtest::ModuleDir() + "\\tools_helper.exe\" record \"" + recordFile + "\" \"%1\"";
        SetRawValue(HKEY_CLASSES_ROOT, ".html", "", REG_SZ, kProgId, sizeof(kProgId));
        SetRawValue(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\shell\\open\\command", "", REG_SZ, command.c_str(),
                    static_cast<DWORD>(command.size() + 1));
    }
    ~StandInBrowser()
    {
        if (m_bHadOld)
            SetRawValue(HKEY_CLASSES_ROOT, ".html", "", REG_SZ, m_old.c_str(), static_cast<DWORD>(m_old.size() + 1));
        else
            RegDeleteTreeA(HKEY_CLASSES_ROOT, ".html");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kProgId);
    }

private:
    bool m_bHadOld = false;
    std::string m_old;
};

std::string Lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST(Help, PagesOfBothTopicsExistInBothLanguages)
{
    for (const char* lang : {"en", "de"}) {
        for (int topic : {22, 23}) {
            std::string page = ktxtest::ModuleDir() + "\\help\\" + lang + "\\" + std::to_string(topic) + ".html";
            SCOPED_TRACE(page);
            std::string text = ktxtest::ReadFileBytes(page);
            ASSERT_FALSE(text.empty());
            EXPECT_NE(text.find(std::string("<html lang=\"") + lang + "\">"), std::string::npos);
            EXPECT_NE(text.find("<meta charset=\"utf-8\">"), std::string::npos);
            EXPECT_NE(text.find("</html>"), std::string::npos);
        }
    }
}

TEST(Help, OpensThePageOfTheTopicInTheUsersLanguage)
{
    ktxtest::TempDir dir;
    TLSOwner* pOwner = GetLSOwnerHandle("test_tools");

    struct Case {
        int topic;
        const char* locale;  // null: this process (English)
        const char* page;
    };
    const Case cases[] = {
        {22, nullptr, "\\help\\en\\22.html"},
        {23, nullptr, "\\help\\en\\23.html"},
        {22, "de_DE.UTF-8", "\\help\\de\\22.html"},
        {23, "de_DE.UTF-8", "\\help\\de\\23.html"},
        {23, "fr_FR.UTF-8", "\\help\\en\\23.html"},
    };
    int nCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.topic) + " " + (c.locale ? c.locale : "this process"));
        // A record file of its own per case: the browser of the case before
        // may still be writing (and holding) its file.
        const std::string record = dir.File("opened-" + std::to_string(++nCase) + ".txt");
        StandInBrowser browser(record);
        if (c.locale) {
            ASSERT_TRUE(StartInLocale("tools_helper.exe", "help " + std::to_string(c.topic), c.locale));
        } else {
            ASSERT_TRUE(TVornixReg::DoShowQOVHilfe(pOwner, nullptr, c.topic, false));
        }
        ASSERT_TRUE(ktxtest::WaitFor([&] { return ktxtest::FileExists(record); }, 15000));
        // The stand-in creates the file before it writes the name into it.
        std::string opened;
        ktxtest::WaitFor([&] { return Lower(opened = ktxtest::ReadFileBytes(record)) ==
                                      Lower(ktxtest::ModuleDir() + c.page); }, 5000);
        EXPECT_EQ(Lower(opened), Lower(ktxtest::ModuleDir() + c.page));
    }
    FreeLSOwnerHandle(pOwner);
}

TEST(Help, UnknownTopicsAreRefused)
{
    TLSOwner* pOwner = GetLSOwnerHandle("test_tools");
    EXPECT_FALSE(TVornixReg::DoShowQOVHilfe(pOwner, nullptr, 21, false));
    EXPECT_TRUE(pOwner->rErrHandler.bFailed);
    EXPECT_FALSE(TVornixReg::DoShowQOVHilfe(pOwner, nullptr, -1, false));
    FreeLSOwnerHandle(pOwner);
}

}  // namespace
