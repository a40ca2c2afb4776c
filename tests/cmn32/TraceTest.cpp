// Trace lines: off by default, on through KTX_TRACE=1 or the setting
// "Trace"; one line per call in KTXTrace.log of the user's data folder. The
// switch is read once per process, so each case runs in a child process.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "Cmn32TestUtil.h"
#include "TestSupport.h"

using namespace cmn32test;

namespace {

std::string TraceFile()
{
    char szAppData[MAX_PATH];
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, szAppData))) return std::string();
    return std::string(szAppData) + "\\vornix\\KTX\\KTXTrace.log";
}

// Sets or removes an environment variable for the life of the object (children inherit it).
class EnvScope {
public:
    EnvScope(const char* pszName, const char* pszValue) : m_name(pszName)
    {
        char sz[256];
        DWORD n = GetEnvironmentVariableA(pszName, sz, sizeof(sz));
        m_had = n > 0 && n < sizeof(sz);
        if (m_had) m_old.assign(sz, n);
        SetEnvironmentVariableA(pszName, pszValue);
    }
    ~EnvScope() { SetEnvironmentVariableA(m_name.c_str(), m_had ? m_old.c_str() : nullptr); }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_file = TraceFile();
        ASSERT_FALSE(m_file.empty());
        DeleteFileA(m_file.c_str());
        // Nothing in the settings switches tracing on.
        HKEY hKey;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "software\\vornix\\KTX", 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
            RegDeleteValueA(hKey, "Trace");
            RegCloseKey(hKey);
        }
    }
    void TearDown() override
    {
        HKEY hKey;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "software\\vornix\\KTX", 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
            RegDeleteValueA(hKey, "Trace");
            RegCloseKey(hKey);
        }
        DeleteFileA(m_file.c_str());
    }
    std::string m_file;
};

TEST_F(TraceTest, OffByDefault)
{
    EnvScope env("KTX_TRACE", nullptr);
    ASSERT_EQ(RunChild("trace marker-off"), 0);
    EXPECT_FALSE(ktxtest::FileExists(m_file)) << "no trace file without the switch";
}

TEST_F(TraceTest, EnvironmentSwitchWritesOneLinePerCall)
{
    EnvScope env("KTX_TRACE", "1");
    ASSERT_EQ(RunChild("trace marker-env-one"), 0);
    ASSERT_EQ(RunChild("trace marker-env-two\\nsecond-half"), 0);
    std::string text = ktxtest::ReadFileBytes(m_file);
    EXPECT_NE(text.find("marker-env-one\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("marker-env-two"), std::string::npos) << text;
    EXPECT_NE(text.find("marker-env-two  second-half\r\n"), std::string::npos) << "a line break in the text does not split the line";
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(TraceTest, LongLineIsCutButStillEnds)
{
    EnvScope env("KTX_TRACE", "1");
    std::string longText(3000, 'L');
    ASSERT_EQ(RunChild("trace " + longText), 0);
    std::string text = ktxtest::ReadFileBytes(m_file);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_LT(text.size(), 1100u);
    EXPECT_NE(text.find("LLLL"), std::string::npos);
}

TEST_F(TraceTest, SettingSwitchesTracingOn)
{
    EnvScope env("KTX_TRACE", nullptr);
    HKEY hKey;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\vornix\\KTX", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey,
                              nullptr),
              ERROR_SUCCESS);
    DWORD dwOne = 1;
    RegSetValueExA(hKey, "Trace", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwOne), sizeof(dwOne));
    RegCloseKey(hKey);
    ASSERT_EQ(RunChild("trace marker-setting"), 0);
    EXPECT_NE(ktxtest::ReadFileBytes(m_file).find("marker-setting"), std::string::npos);
}

TEST(Trace, KeepsTheCallersErrorCode)
{
    SetLastError(ERROR_SHARING_VIOLATION);
    LS_TRACE_LOG(nullptr, "%s %d", "value", 42);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    LS_TRACE_LOG(nullptr, nullptr);  // tolerated
}

}  // namespace
