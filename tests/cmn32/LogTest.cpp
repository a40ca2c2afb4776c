// The safe log: time-stamped lines, the seal in the settings, the check at
// the next start (also in a new process), the seal's secret kept by the
// user's data protection, and the move of a plain secret of earlier versions.
#include <gtest/gtest.h>

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "Cmn32TestUtil.h"
#include "KTXCMN32.h"
#include "KTXLANG.h"
#include "LSStr.h"
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

// The values of a settings key as anyone who can read the registry sees them.
struct RegValue {
    std::string name;
    DWORD type;
    std::string data;
};

std::vector<RegValue> ReadValues(const std::string& key)
{
    std::vector<RegValue> values;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return values;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD cchName = sizeof(name), type = 0;
        std::vector<BYTE> data(16384);
        DWORD cb = static_cast<DWORD>(data.size());
        if (RegEnumValueA(hKey, i, name, &cchName, nullptr, &type, data.data(), &cb) != ERROR_SUCCESS) break;
        values.push_back({std::string(name, cchName), type, std::string(reinterpret_cast<char*>(data.data()), cb)});
    }
    RegCloseKey(hKey);
    return values;
}

bool HasValue(const std::string& key, const char* pszName)
{
    for (const RegValue& value : ReadValues(key)) {
        if (value.name == pszName) return true;
    }
    return false;
}

std::string ValueData(const std::string& key, const char* pszName)
{
    for (const RegValue& value : ReadValues(key)) {
        if (value.name == pszName) return value.data;
    }
    return std::string();
}

bool SetBinaryValue(const std::string& key, const char* pszName, const std::string& data)
{
    HKEY hKey;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LSTATUS st = RegSetValueExA(hKey, pszName, 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size()));
    RegCloseKey(hKey);
    return st == ERROR_SUCCESS;
}

bool DeleteValue(const std::string& key, const char* pszName)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS) return false;
    LSTATUS st = RegDeleteValueA(hKey, pszName);
    RegCloseKey(hKey);
    return st == ERROR_SUCCESS;
}

std::string RandomBytes(size_t n)
{
    std::string bytes(n, '\0');
    EXPECT_GE(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&bytes[0]), static_cast<ULONG>(n),
                              BCRYPT_USE_SYSTEM_PREFERRED_RNG),
              0);
    return bytes;
}

// HMAC-SHA256 of the data under the key, as a forger with the key would make it.
std::string HmacSha256(const std::string& key, const std::string& data)
{
    BCRYPT_ALG_HANDLE hAlg = nullptr;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    std::string out(32, '\0');
    bool ok = BCryptOpenAlgorithmProvider(&hAlg, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) >= 0 &&
              BCryptCreateHash(hAlg, &hHash, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(key.data())),
                               static_cast<ULONG>(key.size()), 0) >= 0 &&
              BCryptHashData(hHash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                             static_cast<ULONG>(data.size()), 0) >= 0 &&
              BCryptFinishHash(hHash, reinterpret_cast<PUCHAR>(&out[0]), 32, 0) >= 0;
    if (hHash) BCryptDestroyHash(hHash);
    if (hAlg) BCryptCloseAlgorithmProvider(hAlg, 0);
    EXPECT_TRUE(ok);
    return out;
}

// The seal value of the whole text under the secret: the length (8 bytes,
// little-endian), then the HMAC of that length and the text.
std::string SealOf(const std::string& secret, const std::string& text)
{
    std::string len(8, '\0');
    for (int i = 0; i < 8; ++i) len[i] = static_cast<char>(static_cast<unsigned long long>(text.size()) >> (8 * i));
    return len + HmacSha256(secret, len + text);
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
    // The settings as an earlier version left them: the log sealed with a
    // secret kept in plain in "LogSealSecret". Returns that secret.
    std::string SealLikeAnEarlierVersion()
    {
        std::string secret = RandomBytes(32);
        EXPECT_TRUE(SetBinaryValue(m_key.Path(), "LogSealSecret", secret));
        EXPECT_TRUE(SetBinaryValue(m_key.Path(), "LogSeal", SealOf(secret, ReadFileBytes(m_path))));
        return secret;
    }
    // The log's last line without its time stamp.
    std::string LastLine() const
    {
        std::vector<std::string> lines = Lines(ReadFileBytes(m_path));
        return lines.empty() || lines.back().size() < 21 ? std::string() : lines.back().substr(21);
    }

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

TEST_F(LogTest, SecretIsKeptOnlyInProtectedForm)
{
    WriteSealedLog();
    // The key holds the seal and the protected secret, and no plain secret.
    std::vector<RegValue> values = ReadValues(m_key.Path());
    ASSERT_EQ(values.size(), 2u);
    EXPECT_FALSE(HasValue(m_key.Path(), "LogSealSecret"));
    EXPECT_EQ(ValueData(m_key.Path(), "LogSeal").size(), 40u);
    std::string blob;
    std::string blobName;
    for (const RegValue& value : values) {
        if (value.name == "LogSeal") continue;
        blobName = value.name;
        blob = value.data;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
    }
    EXPECT_GT(blob.size(), 32u);

    // A protected secret that is missing or cannot be opened leaves the seal
    // uncheckable: reported as damaged. The next seal makes a new secret.
    struct Case {
        const char* pszWhat;
        std::string (*pfnReplace)(const std::string& blob);  // null: the value is removed
    };
    const Case cases[] = {
        {"removed", nullptr},
        {"last byte changed",
         [](const std::string& b) { return b.substr(0, b.size() - 1) + static_cast<char>(b.back() ^ 1); }},
        {"cut to half", [](const std::string& b) { return b.substr(0, b.size() / 2); }},
        {"a plain 32-byte secret put in its place", [](const std::string&) { return RandomBytes(32); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_TRUE(m_log.WriteHash());
        ASSERT_TRUE(m_log.CheckHash());
        if (!c.pfnReplace) {
            ASSERT_TRUE(DeleteValue(m_key.Path(), blobName.c_str()));
        } else {
            std::string current = ValueData(m_key.Path(), blobName.c_str());
            ASSERT_GT(current.size(), 32u);
            ASSERT_TRUE(SetBinaryValue(m_key.Path(), blobName.c_str(), c.pfnReplace(current)));
        }
        ClearLSError(m_owner.Err());
        EXPECT_FALSE(m_log.CheckHash());
        EXPECT_EQ(LastLine(), WarningLine());
        EXPECT_TRUE(m_owner.Err()->bFailed);
        ASSERT_TRUE(m_log.WriteHash());
        EXPECT_TRUE(m_log.CheckHash());
        EXPECT_FALSE(HasValue(m_key.Path(), "LogSealSecret"));
    }
}

TEST_F(LogTest, FirstRunChecksTrueAndLeavesNoTrace)
{
    // No log, no settings key: a first run is nothing to warn about.
    EXPECT_TRUE(m_log.CheckHash());
    EXPECT_FALSE(ktxtest::FileExists(m_path));
    HKEY hKey;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_key.Path().c_str(), 0, KEY_QUERY_VALUE, &hKey), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(m_owner.Err()->bFailed);
    // Its first seal makes the secret; the next start checks it.
    ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "first run"));
    ASSERT_TRUE(m_log.WriteHash());
    EXPECT_TRUE(m_log.CheckHash());
    EXPECT_EQ(Lines(ReadFileBytes(m_path)).size(), 1u);
}

TEST_F(LogTest, RegistryReaderCannotResealAnEditedLog)
{
    WriteSealedLog();
    std::string edited = ReadFileBytes(m_path);
    edited.replace(edited.find("alice"), 5, "mallory");
    // Whoever can read and write the settings tries every value of the key as
    // the HMAC key, and a plain secret of their own in the value earlier
    // versions read.
    struct Forgery {
        std::string what;
        std::string secret;
        bool bPlant;
    };
    std::vector<Forgery> forgeries;
    for (const RegValue& value : ReadValues(m_key.Path()))
        forgeries.push_back({"value " + value.name, value.data, false});
    forgeries.push_back({"planted plain secret", RandomBytes(32), true});
    ASSERT_GE(forgeries.size(), 3u);
    for (const Forgery& f : forgeries) {
        SCOPED_TRACE(f.what);
        ASSERT_TRUE(WriteFileBytes(m_path, edited));
        if (f.bPlant) {
            ASSERT_TRUE(SetBinaryValue(m_key.Path(), "LogSealSecret", f.secret));
        }
        ASSERT_TRUE(SetBinaryValue(m_key.Path(), "LogSeal", SealOf(f.secret, edited)));
        EXPECT_FALSE(m_log.CheckHash());
        EXPECT_EQ(LastLine(), WarningLine());
    }
}

TEST_F(LogTest, RemovedSealIsWarnedWhileASecretExists)
{
    struct Case {
        const char* pszWhat;
        bool bEarlierVersion;
    };
    const Case cases[] = {{"sealed by this version", false}, {"sealed by an earlier version", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        TestRegKey key;
        ASSERT_TRUE(WriteFileBytes(m_path, ""));
        TLSLog log(m_owner.Get());
        ASSERT_TRUE(log.Init(m_path.c_str(), key.Path().c_str(), 0));
        ASSERT_TRUE(log.Msg(LS_LOG_INFO, "Safe opened by %s", "alice"));
        if (c.bEarlierVersion) {
            std::string secret = RandomBytes(32);
            ASSERT_TRUE(SetBinaryValue(key.Path(), "LogSealSecret", secret));
            ASSERT_TRUE(SetBinaryValue(key.Path(), "LogSeal", SealOf(secret, ReadFileBytes(m_path))));
        } else {
            ASSERT_TRUE(log.WriteHash());
            ASSERT_TRUE(log.CheckHash());
        }
        // The log is edited and its seal removed, as if it had never been sealed.
        ASSERT_TRUE(WriteFileBytes(m_path, ""));
        ASSERT_TRUE(log.Msg(LS_LOG_INFO, "Safe opened by %s", "mallory"));
        ASSERT_TRUE(DeleteValue(key.Path(), "LogSeal"));
        ClearLSError(m_owner.Err());
        EXPECT_FALSE(log.CheckHash());
        EXPECT_EQ(LastLine(), WarningLine());
        EXPECT_TRUE(m_owner.Err()->bFailed);
        EXPECT_FALSE(HasValue(key.Path(), "LogSealSecret"));
        // Told once per start until the next seal.
        EXPECT_FALSE(log.CheckHash());
        ASSERT_TRUE(log.WriteHash());
        EXPECT_TRUE(log.CheckHash());
    }
}

TEST_F(LogTest, PlainSecretOfAnEarlierVersionChecksOnceThenIsReplacedByAProtectedOne)
{
    struct Case {
        const char* pszWhat;
        bool bChanged;
    };
    const Case cases[] = {{"intact log", false}, {"changed log", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        TestRegKey key;
        ASSERT_TRUE(WriteFileBytes(m_path, ""));
        TLSLog log(m_owner.Get());
        ASSERT_TRUE(log.Init(m_path.c_str(), key.Path().c_str(), 0));
        ASSERT_TRUE(log.Msg(LS_LOG_INFO, "Safe opened by %s", "alice"));
        ASSERT_TRUE(log.Msg(LS_LOG_INFO, "Safe closed"));
        std::string secret = RandomBytes(32);
        ASSERT_TRUE(SetBinaryValue(key.Path(), "LogSealSecret", secret));
        ASSERT_TRUE(SetBinaryValue(key.Path(), "LogSeal", SealOf(secret, ReadFileBytes(m_path))));
        ASSERT_TRUE(log.Msg(LS_LOG_INFO, "an unsealed run"));
        if (c.bChanged) {
            std::string text = ReadFileBytes(m_path);
            text.replace(text.find("alice"), 5, "Alice");
            ASSERT_TRUE(WriteFileBytes(m_path, text));
        }
        std::string before = ReadFileBytes(m_path);

        // The first check uses the plain secret, then the secret is protected.
        ClearLSError(m_owner.Err());
        EXPECT_EQ(log.CheckHash(), !c.bChanged);
        EXPECT_EQ(m_owner.Err()->bFailed, c.bChanged);
        if (c.bChanged) {
            EXPECT_EQ(LastLine(), WarningLine());
        } else {
            EXPECT_EQ(ReadFileBytes(m_path), before) << "an upgrade raises no warning";
        }
        EXPECT_FALSE(HasValue(key.Path(), "LogSealSecret"));
        std::vector<RegValue> values = ReadValues(key.Path());
        EXPECT_EQ(values.size(), 2u);
        for (const RegValue& value : values) EXPECT_EQ(value.data.find(secret), std::string::npos) << value.name;

        // The next start checks the same sealed part with the protected secret.
        EXPECT_EQ(log.CheckHash(), !c.bChanged);
        // The plain secret, known to anyone who read the settings before, seals nothing any more.
        std::string edited = ReadFileBytes(m_path) + "forged line\r\n";
        ASSERT_TRUE(WriteFileBytes(m_path, edited));
        ASSERT_TRUE(SetBinaryValue(key.Path(), "LogSeal", SealOf(secret, edited)));
        EXPECT_FALSE(log.CheckHash());
        // A seal written now holds.
        ASSERT_TRUE(log.Msg(LS_LOG_INFO, "next run"));
        ASSERT_TRUE(log.WriteHash());
        EXPECT_TRUE(log.CheckHash());
        EXPECT_FALSE(HasValue(key.Path(), "LogSealSecret"));
    }
}

TEST_F(LogTest, SealOfAnEarlierVersionIsTakenOverByTheFirstSeal)
{
    // An earlier version's settings sealed by this version without a check first.
    ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "Safe opened by %s", "alice"));
    std::string secret = SealLikeAnEarlierVersion();
    ASSERT_TRUE(m_log.Msg(LS_LOG_INFO, "Safe closed"));
    ASSERT_TRUE(m_log.WriteHash());
    EXPECT_FALSE(HasValue(m_key.Path(), "LogSealSecret"));
    EXPECT_TRUE(m_log.CheckHash());
    std::string text = ReadFileBytes(m_path);
    EXPECT_NE(ValueData(m_key.Path(), "LogSeal"), SealOf(secret, text));
}

TEST(LogNotice, TheUsersNoticeNamesTheLogFile)
{
    // The notice the safe dialog shows at opening takes the log's full path.
    const std::string path = "C:\\users\\alice\\AppData\\Roaming\\vornix\\KTX\\Safe.log";
    std::string format = DLS_TXT_SAFELOG_CHANGED();
    EXPECT_EQ(format.find("%s"), format.rfind("%"));
    char szText[LS_TEXT_SIZE];
    ASSERT_TRUE(LSStrFormat(szText, sizeof(szText), format.c_str(), path.c_str()));
    std::string text = szText;
    EXPECT_NE(text.find(path), std::string::npos);
    EXPECT_GT(text.size(), path.size() + 40);
}

TEST(LogDataProtection, ProtectedSecretOpensOnlyForItsEntropy)
{
    // The user's data protection as the seal's secret uses it, under Wine too.
    std::string secret = RandomBytes(32);
    const char entropy[] = "entropy";
    DATA_BLOB in{32, reinterpret_cast<BYTE*>(&secret[0])};
    DATA_BLOB ent{sizeof(entropy) - 1, reinterpret_cast<BYTE*>(const_cast<char*>(entropy))};
    DATA_BLOB blob{}, second{};
    ASSERT_TRUE(CryptProtectData(&in, nullptr, &ent, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &blob));
    ASSERT_TRUE(CryptProtectData(&in, nullptr, &ent, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &second));
    std::string protectedBytes(reinterpret_cast<char*>(blob.pbData), blob.cbData);
    EXPECT_EQ(protectedBytes.find(secret.substr(0, 8)), std::string::npos);
    EXPECT_NE(protectedBytes, std::string(reinterpret_cast<char*>(second.pbData), second.cbData));
    LocalFree(second.pbData);

    struct Case {
        const char* pszWhat;
        bool bWithEntropy;
        const char* pszEntropy;
        bool bFlipLastByte;
        bool bOpens;
    };
    const Case cases[] = {
        {"as protected", true, entropy, false, true},
        {"other entropy", true, "entropx", false, false},
        {"no entropy", false, nullptr, false, false},
        {"last byte changed", true, entropy, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        std::string bytes = protectedBytes;
        if (c.bFlipLastByte) bytes.back() = static_cast<char>(bytes.back() ^ 1);
        DATA_BLOB inBlob{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(&bytes[0])};
        DATA_BLOB other{c.pszEntropy ? static_cast<DWORD>(strlen(c.pszEntropy)) : 0,
                        reinterpret_cast<BYTE*>(const_cast<char*>(c.pszEntropy))};
        DATA_BLOB out{};
        BOOL bOpened = CryptUnprotectData(&inBlob, nullptr, c.bWithEntropy ? &other : nullptr, nullptr, nullptr,
                                          CRYPTPROTECT_UI_FORBIDDEN, &out);
        EXPECT_EQ(bOpened != FALSE, c.bOpens);
        if (bOpened) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(out.pbData), out.cbData), secret);
            SecureZeroMemory(out.pbData, out.cbData);
            LocalFree(out.pbData);
        }
    }
    LocalFree(blob.pbData);
    SecureZeroMemory(&secret[0], secret.size());
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
