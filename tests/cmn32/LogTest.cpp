// The safe log: time-stamped lines, the seal in the settings, the check at
// the next start (also in a new process).
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "Cmn32TestUtil.h"
#include "KTXCMN32.h"
#include "KTXLANG.h"
#include "TestSupport.h"

using namespace cmn32test;
using ktxtest::ReadFileBytes;
using ktxtest::WriteFileBytes;

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = text.find("\r\n"); i != std::string::npos; i = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, i - start));
        start = i + 2;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// "YYYY-MM-DD hh:mm:ss  " at the start of a line.
bool HasTimeStamp(const std::string& line)
{
    if (line.size() < 21) return false;
    const char* pattern = "dddd-dd-dd dd:dd:dd  ";
    for (size_t i = 0; i < 21; ++i) {
        if (pattern[i] == 'd' ? !isdigit(static_cast<unsigned char>(line[i])) : line[i] != pattern[i]) return false;
    }
    return true;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = m_dir.File("Safe.log");
        ASSERT_TRUE(m_log.Init(m_path.c_str(), m_key.Path().c_str(), 0));
        ClearLSError(m_owner.Err());
    }
    // The log after sealing two runs' lines.
    void WriteSealedLog()
    {
        ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "Safe opened by %s", "alice"));
        ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "Safe closed"));
        ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "%s", std::string(40, '*').c_str()));
        ASSERT_TRUE(m_log.WriteHash());
    }
    std::string WarningLine() const { return DLS_LOG_SEAL_DAMAGED(); }

    ktxtest::TempDir m_dir;
    TestRegKey m_key;
    OwnerScope m_owner;
    TLSLog m_log{m_owner.Get()};
    std::string m_path;
};

TEST_F(LogTest, MsgAppendsOneTimeStampedLinePerCall)
{
    EXPECT_EQ(std::string(m_log.GetLogFilNam()), m_path);
    EXPECT_TRUE(m_log.Msg(LS_LOG_INFO, "opened by %s with %d entries", "bob", 12));
    EXPECT_TRUE(m_log.Msg(LS_LOG_INFO, "two\r\nlines become one"));
    EXPECT_TRUE(m_log.Msg(LS_LOG_INFO, "100%% done"));
    std::string text = ReadFileBytes(m_path);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    for (const std::string& line : lines) EXPECT_TRUE(HasTimeStamp(line)) << line;
    EXPECT_EQ(lines[0].substr(21), "opened by bob with 12 entries");
    EXPECT_EQ(lines[1].substr(21), "two  lines become one");
    EXPECT_EQ(lines[2].substr(21), "100% done");
    EXPECT_FALSE(m_owner.Err()->bFailed);

    // A log that does not end with a line break gets one before the next line.
    ASSERT_TRUE(WriteFileBytes(m_path, "written by hand"));
    EXPECT_TRUE(m_log.Msg(LS_LOG_INFO, "next"));
    lines = Lines(ReadFileBytes(m_path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "written by hand");
    EXPECT_EQ(lines[1].substr(21), "next");
}

TEST_F(LogTest, LongTextIsCutNotOverflowed)
{
    std::string huge(3 * LS_TEXT_SIZE, 'z');
    EXPECT_TRUE(m_log.Msg(LS_LOG_INFO, "%s", huge.c_str()));
    std::vector<std::string> lines = Lines(ReadFileBytes(m_path));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 21u + LS_TEXT_SIZE - 1);
}

TEST_F(LogTest, MsgCreatesTheLogFolder)
{
    TLSLog log(m_owner.Get());
    std::string nested = m_dir.File("vornix\\KTX\\Safe.log");
    ASSERT_TRUE(log.Init(nested.c_str(), m_key.Path().c_str(), 0));
    EXPECT_TRUE(log.Msg(LS_LOG_INFO, "first line"));
    EXPECT_NE(ReadFileBytes(nested).find("first line\r\n"), std::string::npos);
}

TEST_F(LogTest, SealedLogChecksTrue)
{
    WriteSealedLog();
    std::string before = ReadFileBytes(m_path);
    EXPECT_TRUE(m_log.CheckHash());
    EXPECT_EQ(ReadFileBytes(m_path), before) << "an intact log gets no warning";
    EXPECT_FALSE(m_owner.Err()->bFailed);
}

TEST_F(LogTest, NeverSealedLogChecksTrue)
{
    ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "a run that was cancelled"));
    EXPECT_TRUE(m_log.CheckHash());
    EXPECT_EQ(Lines(ReadFileBytes(m_path)).size(), 1u);
}

TEST_F(LogTest, LinesAfterTheSealAreUnsealedRunsNotTampering)
{
    WriteSealedLog();
    ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "opened, then cancelled"));
    ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "wrong password"));
    std::string before = ReadFileBytes(m_path);
    EXPECT_TRUE(m_log.CheckHash());
    EXPECT_EQ(ReadFileBytes(m_path), before);

    // The next normal run seals everything, the unsealed lines included.
    ASSERT_TRUE(m_log.WriteHash());
    EXPECT_TRUE(m_log.CheckHash());
}

TEST_F(LogTest, ChangedSealedPartIsDetectedAndWarned)
{
    WriteSealedLog();
    std::string text = ReadFileBytes(m_path);
    size_t at = text.find("alice");
    ASSERT_NE(at, std::string::npos);
    text[at] = 'A';  // same length, one byte changed
    ASSERT_TRUE(WriteFileBytes(m_path, text));
    EXPECT_FALSE(m_log.CheckHash());
    std::vector<std::string> lines = Lines(ReadFileBytes(m_path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(HasTimeStamp(lines.back()));
    EXPECT_EQ(lines.back().substr(21), WarningLine());
    EXPECT_TRUE(m_owner.Err()->bFailed);
    EXPECT_STREQ(m_owner.Err()->szMessage, "TLSLog::CheckHash failed!");
}

TEST_F(LogTest, ChangedSealedPartWithAppendedLinesIsStillDetected)
{
    WriteSealedLog();
    ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "unsealed run"));
    std::string text = ReadFileBytes(m_path);
    text.replace(text.find("Safe closed"), 11, "Safe_closed");
    ASSERT_TRUE(WriteFileBytes(m_path, text));
    EXPECT_FALSE(m_log.CheckHash());
    EXPECT_EQ(Lines(ReadFileBytes(m_path)).back().substr(21), WarningLine());
}

TEST_F(LogTest, TruncatedOrRemovedLogIsDetected)
{
    WriteSealedLog();
    std::string text = ReadFileBytes(m_path);
    ASSERT_TRUE(WriteFileBytes(m_path, text.substr(0, text.size() - 10)));
    EXPECT_FALSE(m_log.CheckHash());
    EXPECT_EQ(Lines(ReadFileBytes(m_path)).back().substr(21), WarningLine());

    ASSERT_TRUE(m_log.WriteHash());
    ASSERT_TRUE(DeleteFileA(m_path.c_str()));
    EXPECT_FALSE(m_log.CheckHash()) << "a removed log is the shortest truncation";
    std::vector<std::string> lines = Lines(ReadFileBytes(m_path));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(21), WarningLine());
}

TEST_F(LogTest, ReplacedLogOfTheSameLengthIsDetected)
{
    WriteSealedLog();
    std::string text = ReadFileBytes(m_path);
    ASSERT_TRUE(WriteFileBytes(m_path, std::string(text.size(), 'x')));
    EXPECT_FALSE(m_log.CheckHash());
}

TEST_F(LogTest, ForgedSealWithoutTheSecretIsDetected)
{
    WriteSealedLog();
    // Someone rewrites the log and sets a seal of their own making (a plain
    // SHA-256 or a guess): without the per-user secret it does not hold.
    std::string text = ReadFileBytes(m_path) + "forged line\r\n";
    ASSERT_TRUE(WriteFileBytes(m_path, text));
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_key.Path().c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey),
              ERROR_SUCCESS);
    BYTE seal[40] = {};
    DWORD cb = sizeof(seal), type = 0;
    ASSERT_EQ(RegQueryValueExA(hKey, "LogSeal", nullptr, &type, seal, &cb), ERROR_SUCCESS);
    ASSERT_EQ(cb, 40u);
    unsigned long long len = text.size();
    for (int i = 0; i < 8; ++i) seal[i] = static_cast<BYTE>(len >> (8 * i));
    RegSetValueExA(hKey, "LogSeal", 0, REG_BINARY, seal, sizeof(seal));
    RegCloseKey(hKey);
    EXPECT_FALSE(m_log.CheckHash());
}

TEST_F(LogTest, SecretLivesInTheSettingsAndIsPerKey)
{
    WriteSealedLog();
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_key.Path().c_str(), 0, KEY_QUERY_VALUE, &hKey), ERROR_SUCCESS);
    BYTE secret[64];
    DWORD cb = sizeof(secret), type = 0;
    EXPECT_EQ(RegQueryValueExA(hKey, "LogSealSecret", nullptr, &type, secret, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(cb, 32u);
    RegCloseKey(hKey);
    std::string logText = ReadFileBytes(m_path);
    EXPECT_EQ(logText.find(std::string(reinterpret_cast<const char*>(secret), 8)), std::string::npos);

    // Removing the secret makes the seal uncheckable: reported as damaged.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_key.Path().c_str(), 0, KEY_SET_VALUE, &hKey), ERROR_SUCCESS);
    RegDeleteValueA(hKey, "LogSealSecret");
    RegCloseKey(hKey);
    EXPECT_FALSE(m_log.CheckHash());
}

TEST_F(LogTest, SealSurvivesARestart)
{
    WriteSealedLog();
    // A new process checks the seal this one wrote...
    EXPECT_EQ(RunChild("logcheck \"" + m_path + "\" \"" + m_key.Path() + "\""), 0);
    // ... and seals again after its own line; this process accepts that seal.
    EXPECT_EQ(RunChild("logwrite \"" + m_path + "\" \"" + m_key.Path() + "\" \"second run\""), 0);
    EXPECT_TRUE(m_log.CheckHash());
    EXPECT_NE(ReadFileBytes(m_path).find("second run\r\n"), std::string::npos);

    std::string text = ReadFileBytes(m_path);
    text[0] = text[0] == '1' ? '2' : '1';
    ASSERT_TRUE(WriteFileBytes(m_path, text));
    EXPECT_EQ(RunChild("logcheck \"" + m_path + "\" \"" + m_key.Path() + "\""), 1);
    EXPECT_EQ(Lines(ReadFileBytes(m_path)).back().substr(21), WarningLine());
}

TEST(LogKey, RelativeKeyIsBelowTheSettingsRoot)
{
    ktxtest::TempDir dir;
    std::string relative = "Test\\" + UniqueName("relkey");
    TLSLog log(nullptr);
    ASSERT_TRUE(log.Init(dir.File("Safe.log").c_str(), relative.c_str(), 0));
    ASSERT_TRUE(log.Msg(LS_LOG_INFO, "line"));
    ASSERT_TRUE(log.WriteHash());
    std::string full = "software\\vornix\\KTX\\" + relative;
    HKEY hKey;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, full.c_str(), 0, KEY_QUERY_VALUE, &hKey), ERROR_SUCCESS);
    RegCloseKey(hKey);
    EXPECT_TRUE(log.CheckHash());
    RegDeleteTreeA(HKEY_CURRENT_USER, full.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, full.c_str());
}

TEST(LogUnbound, NothingWorksBeforeInit)
{
    OwnerScope owner;
    TLSLog log(owner.Get());
    EXPECT_STREQ(log.GetLogFilNam(), "");
    EXPECT_FALSE(log.Msg(LS_LOG_INFO, "x"));
    EXPECT_FALSE(log.WriteHash());
    EXPECT_FALSE(log.CheckHash());
    EXPECT_FALSE(log.Init(nullptr, "k", 0));
    EXPECT_FALSE(log.Init("C:\\x.log", nullptr, 0));
    EXPECT_TRUE(owner.Err()->bFailed);
}

}  // namespace
