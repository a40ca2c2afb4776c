// Settings in the registry: every setting's round trip, values of the wrong
// type or size, over-long paths, window rectangles off every monitor.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "KTXTOOLS.h"
#include "TestSupport.h"
#include "ToolsFixture.h"

using namespace toolstest;

namespace {

const char kRoot[] = "software\\vornix\\KTX";

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetProductState();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
        m_pOwner = GetLSOwnerHandle("test_tools");
        ASSERT_NE(m_pOwner, nullptr);
    }
    void TearDown() override
    {
        FreeLSOwnerHandle(m_pOwner);
        ResetProductState();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
    }
    bool Failed() const { return m_pOwner->rErrHandler.bFailed; }

    TLSOwner* m_pOwner = nullptr;
};

// A buffer of the product's path size followed by guard bytes that must never change.
struct GuardedPath {
    char sz[LS_PATH_SIZE + 64];
    GuardedPath() { memset(sz, 'G', sizeof(sz)); }
    bool GuardIntact() const
    {
        for (size_t i = LS_PATH_SIZE; i < sizeof(sz); ++i)
            if (sz[i] != 'G') return false;
        return true;
    }
};

TEST_F(Settings, UserPathIsCreatedWhenMissing)
{
    char sz[LS_PATH_SIZE];
    ASSERT_TRUE(TVornixReg::QOVGetVornixUserPath(m_pOwner, sz));
    std::string path = sz;
    ASSERT_GE(path.size(), 11u);
    EXPECT_EQ(path.substr(path.size() - 11), "\\vornix\\KTX");
    // Removed (nothing of ours left in it): the next call makes it again.
    ktxtest::RemoveTree(path);
    ASSERT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(TVornixReg::QOVGetVornixUserPath(m_pOwner, sz));
    DWORD attr = GetFileAttributesA(path.c_str());
    ASSERT_NE(attr, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attr & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(TVornixReg::QOVGetVornixUserPath(m_pOwner, nullptr));
}

TEST_F(Settings, RootPathIsTheRecordedProgramFolder)
{
    char sz[LS_PATH_SIZE];
    bool bRecorded = true;
    // Nothing recorded yet: the running program's folder, not marked as recorded.
    ASSERT_TRUE(TVornixReg::QOVGetVornixRootPath(m_pOwner, sz, &bRecorded));
    EXPECT_FALSE(bRecorded);
    EXPECT_STRCASEEQ(sz, ktxtest::ModuleDir().c_str());

    ASSERT_TRUE(TVornixReg::QOVSetVornixRootPath(m_pOwner));
    ASSERT_TRUE(TVornixReg::QOVGetVornixRootPath(m_pOwner, sz, &bRecorded));
    EXPECT_TRUE(bRecorded);
    EXPECT_STRCASEEQ(sz, ktxtest::ModuleDir().c_str());
    ASSERT_TRUE(TVornixReg::QOVGetVornixRootPath(m_pOwner, sz, nullptr));

    // A recorded folder that is gone is not handed out.
    std::string gone = "C:\\no such folder\\KTSafe";
    ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, kRoot, "InstallPath", REG_SZ, gone.c_str(),
                            static_cast<DWORD>(gone.size() + 1)));
    ASSERT_TRUE(TVornixReg::QOVGetVornixRootPath(m_pOwner, sz, &bRecorded));
    EXPECT_FALSE(bRecorded);
    EXPECT_STRCASEEQ(sz, ktxtest::ModuleDir().c_str());
}

TEST_F(Settings, SafeFileRoundTrip)
{
    char sz[LS_PATH_SIZE];
    EXPECT_FALSE(TVornixReg::QOVGetVornixSafe(m_pOwner, sz)) << "none configured";
    EXPECT_TRUE(Failed());
    EXPECT_STREQ(sz, "");

    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, "C:\\safes\\My Safe.xml"));
    ASSERT_TRUE(TVornixReg::QOVGetVornixSafe(m_pOwner, sz));
    EXPECT_FALSE(Failed());
    EXPECT_STREQ(sz, "C:\\safes\\My Safe.xml");

    // A relative path is kept as the full path it names now.
    ktxtest::TempDir dir;
    char szOld[MAX_PATH];
    GetCurrentDirectoryA(sizeof(szOld), szOld);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    bool ok = TVornixReg::QOVSetVornixSafe(m_pOwner, "relative.xml");
    SetCurrentDirectoryA(szOld);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(TVornixReg::QOVGetVornixSafe(m_pOwner, sz));
    EXPECT_STRCASEEQ(sz, dir.File("relative.xml").c_str());

    EXPECT_FALSE(TVornixReg::QOVSetVornixSafe(m_pOwner, ""));
    EXPECT_FALSE(TVornixReg::QOVSetVornixSafe(m_pOwner, nullptr));
    EXPECT_FALSE(TVornixReg::QOVGetVornixSafe(m_pOwner, nullptr));
}

TEST_F(Settings, OverLongSafePathsAreRefusedAndNeverWrittenPast)
{
    // 255 characters fit the 256-character buffers; 256 do not.
    std::string fits = "C:\\" + std::string(248, 'a') + ".xml";
    ASSERT_EQ(fits.size(), 255u);
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, fits.c_str()));
    GuardedPath out;
    ASSERT_TRUE(TVornixReg::QOVGetVornixSafe(m_pOwner, out.sz));
    EXPECT_EQ(std::string(out.sz), fits);
    EXPECT_TRUE(out.GuardIntact());

    std::string tooLong = "C:\\" + std::string(249, 'a') + ".xml";
    EXPECT_FALSE(TVornixReg::QOVSetVornixSafe(m_pOwner, tooLong.c_str()));
    std::string veryLong(5000, 'x');
    EXPECT_FALSE(TVornixReg::QOVSetVornixSafe(m_pOwner, veryLong.c_str()));

    // An over-long value put into the registry by someone else reads as missing.
    ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, kRoot, "SafeFile", REG_SZ, tooLong.c_str(),
                            static_cast<DWORD>(tooLong.size() + 1)));
    GuardedPath out2;
    EXPECT_FALSE(TVornixReg::QOVGetVornixSafe(m_pOwner, out2.sz));
    EXPECT_STREQ(out2.sz, "");
    EXPECT_TRUE(out2.GuardIntact());
}

TEST_F(Settings, ValuesOfTheWrongTypeReadAsMissing)
{
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
    };
    const DWORD dw = 1;
    const Case cases[] = {
        {"dword", REG_DWORD, std::string(reinterpret_cast<const char*>(&dw), sizeof(dw))},
        {"binary", REG_BINARY, std::string("C:\\safe.xml\0", 12)},
        {"multi", REG_MULTI_SZ, std::string("C:\\safe.xml\0\0", 13)},
        {"expand", REG_EXPAND_SZ, std::string("%APPDATA%\\safe.xml\0", 19)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, kRoot, "SafeFile", c.type, c.data.data(),
                                static_cast<DWORD>(c.data.size())));
        char sz[LS_PATH_SIZE] = "unchanged";
        EXPECT_FALSE(TVornixReg::QOVGetVornixSafe(m_pOwner, sz));
        EXPECT_STREQ(sz, "");
        ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, kRoot, "ktxresorver", c.type, c.data.data(),
                                static_cast<DWORD>(c.data.size())));
        EXPECT_FALSE(TVornixReg::QOVGetRegVal(m_pOwner, sz, "", "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER));
    }
    // A string stored without its terminator still reads whole.
    ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, kRoot, "SafeFile", REG_SZ, "C:\\s.xml", 8));
    char sz[LS_PATH_SIZE];
    ASSERT_TRUE(TVornixReg::QOVGetVornixSafe(m_pOwner, sz));
    EXPECT_STREQ(sz, "C:\\s.xml");
}

TEST_F(Settings, StringValuesRoundTrip)
{
    char sz[LS_PATH_SIZE];
    EXPECT_FALSE(TVornixReg::QOVGetRegVal(m_pOwner, sz, "", "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER));
    ASSERT_TRUE(TVornixReg::QOVSetRegVal(m_pOwner, "5.03a", "", "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER));
    ASSERT_TRUE(TVornixReg::QOVGetRegVal(m_pOwner, sz, "", "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER));
    EXPECT_STREQ(sz, "5.03a");
    ASSERT_TRUE(TVornixReg::QOVGetRegVal(m_pOwner, sz, nullptr, "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER));
    EXPECT_STREQ(sz, "5.03a");
    ASSERT_TRUE(TVornixReg::QOVSetRegVal(m_pOwner, "undefined", "", "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER));
    ASSERT_TRUE(TVornixReg::QOVGetRegVal(m_pOwner, sz, "", "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER));
    EXPECT_STREQ(sz, "undefined");

    // Below a subkey, in both roots, with umlauts of the ANSI code page.
    ASSERT_TRUE(TVornixReg::QOVSetRegVal(m_pOwner, "Gr\xFC\xDF" "e", "Mgr\\Sub", "text", LS_REG_STRING,
                                         HKEY_CURRENT_USER));
    ASSERT_TRUE(TVornixReg::QOVGetRegVal(m_pOwner, sz, "Mgr\\Sub", "text", LS_REG_STRING, HKEY_CURRENT_USER));
    EXPECT_STREQ(sz, "Gr\xFC\xDF" "e");
    ASSERT_TRUE(TVornixReg::QOVSetRegVal(m_pOwner, "machine", "Crypt", "text", LS_REG_STRING, HKEY_LOCAL_MACHINE));
    ASSERT_TRUE(TVornixReg::QOVGetRegVal(m_pOwner, sz, "Crypt", "text", LS_REG_STRING, HKEY_LOCAL_MACHINE));
    EXPECT_STREQ(sz, "machine");

    // The caller's buffer size counts: a value that does not fit reads as missing.
    ASSERT_TRUE(TVornixReg::QOVSetRegVal(m_pOwner, "5.03a", "", "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER));
    char small[8];
    memset(small, 'G', sizeof(small));
    EXPECT_FALSE(TVornixReg::QOVGetRegVal(m_pOwner, small, "", "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER, 5));
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(small[5], 'G');
    ASSERT_TRUE(TVornixReg::QOVGetRegVal(m_pOwner, small, "", "ktxresorver", LS_REG_STRING, HKEY_CURRENT_USER, 6));
    EXPECT_STREQ(small, "5.03a");
    EXPECT_EQ(small[6], 'G');
}

TEST_F(Settings, BadValueRequestsAreRefused)
{
    char sz[LS_PATH_SIZE];
    const HKEY hClasses = HKEY_CLASSES_ROOT;
    EXPECT_FALSE(TVornixReg::QOVSetRegVal(m_pOwner, "x", "", "n", 1, HKEY_CURRENT_USER)) << "only type 2";
    EXPECT_FALSE(TVornixReg::QOVGetRegVal(m_pOwner, sz, "", "n", 4, HKEY_CURRENT_USER));
    EXPECT_FALSE(TVornixReg::QOVSetRegVal(m_pOwner, "x", "", "n", LS_REG_STRING, hClasses)) << "only the two roots";
    const char* badKeys[] = {"\\Mgr", "Mgr\\", "Mgr\\\\Sub", "Mgr\x01"};
    for (const char* key : badKeys) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(TVornixReg::QOVSetRegVal(m_pOwner, "x", key, "n", LS_REG_STRING, HKEY_CURRENT_USER));
        EXPECT_FALSE(TVornixReg::QOVGetRegVal(m_pOwner, sz, key, "n", LS_REG_STRING, HKEY_CURRENT_USER));
    }
    std::string longKey(300, 'k');
    EXPECT_FALSE(TVornixReg::QOVSetRegVal(m_pOwner, "x", longKey.c_str(), "n", LS_REG_STRING, HKEY_CURRENT_USER));
    EXPECT_FALSE(TVornixReg::QOVGetRegVal(m_pOwner, nullptr, "", "n", LS_REG_STRING, HKEY_CURRENT_USER));
    EXPECT_FALSE(TVornixReg::QOVSetRegVal(m_pOwner, nullptr, "", "n", LS_REG_STRING, HKEY_CURRENT_USER));
}

TEST_F(Settings, OptionsReadAsFlags)
{
    struct Case {
        const char* label;
        DWORD type;
        std::string data;
        bool bReadable;
        bool bFlag;
    };
    auto dword = [](DWORD v) { return std::string(reinterpret_cast<const char*>(&v), sizeof(v)); };
    const Case cases[] = {
        {"dword 1", REG_DWORD, dword(1), true, true},
        {"dword 7", REG_DWORD, dword(7), true, true},
        {"dword 0", REG_DWORD, dword(0), true, false},
        {"text 1", REG_SZ, std::string("1", 2), true, true},
        {"text yes", REG_SZ, std::string("Yes", 4), true, true},
        {"text true", REG_SZ, std::string("TRUE", 5), true, true},
        {"text off", REG_SZ, std::string("off", 4), true, false},
        {"text empty", REG_SZ, std::string("", 1), true, false},
        {"text other", REG_SZ, std::string("perhaps", 8), false, false},
        {"binary", REG_BINARY, std::string("\x01", 1), false, false},
        {"qword", REG_QWORD, std::string(8, '\x01'), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, std::string(kRoot) + "\\Mgr", "update", c.type, c.data.data(),
                                static_cast<DWORD>(c.data.size())));
        bool bFlag = !c.bFlag;
        EXPECT_EQ(TVornixReg::QOVGetRegOpt(m_pOwner, &bFlag, "Mgr", "update", 2, HKEY_CURRENT_USER), c.bReadable);
        EXPECT_EQ(bFlag, c.bFlag);
    }
    bool bFlag = true;
    EXPECT_FALSE(TVornixReg::QOVGetRegOpt(m_pOwner, &bFlag, "Mgr", "missing", 2, HKEY_CURRENT_USER));
    EXPECT_FALSE(bFlag) << "an unreadable option counts as not set";

    // The machine-wide option in its own root.
    EXPECT_FALSE(TVornixReg::QOVGetRegOpt(m_pOwner, &bFlag, "Crypt", "RemoteAdmin", 64, HKEY_LOCAL_MACHINE));
    const DWORD one = 1;
    ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, std::string(kRoot) + "\\Crypt", "RemoteAdmin", REG_DWORD, &one, 4));
    EXPECT_TRUE(TVornixReg::QOVGetRegOpt(m_pOwner, &bFlag, "Crypt", "RemoteAdmin", 64, HKEY_LOCAL_MACHINE));
    EXPECT_TRUE(bFlag);
    EXPECT_FALSE(TVornixReg::QOVGetRegOpt(m_pOwner, &bFlag, "Crypt", "RemoteAdmin", 64, HKEY_CURRENT_USER))
        << "the user's settings hold no such option";

    // Unknown modes and missing outputs.
    EXPECT_FALSE(TVornixReg::QOVGetRegOpt(m_pOwner, &bFlag, "Crypt", "RemoteAdmin", 3, HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(bFlag);
    EXPECT_FALSE(TVornixReg::QOVGetRegOpt(m_pOwner, nullptr, "Mgr", "update", 2, HKEY_CURRENT_USER));
}

TEST_F(Settings, WindowRectanglesRoundTripUnderTheirKey)
{
    const std::string safeName = std::string(kRoot) + "\\Safe";
    int l = 0, t = 0, w = 0, h = 0, s = 0;
    EXPECT_FALSE(TVornixReg::QOVGetWindowsRect(m_pOwner, safeName.c_str(), &l, &t, &w, &h, nullptr));

    ASSERT_TRUE(TVornixReg::QOVSetWindowsRect(m_pOwner, safeName.c_str(), 120, 80, 690, 280, 0));
    ASSERT_TRUE(TVornixReg::QOVGetWindowsRect(m_pOwner, safeName.c_str(), &l, &t, &w, &h, nullptr));
    EXPECT_EQ(l, 120);
    EXPECT_EQ(t, 80);
    EXPECT_EQ(w, 690);
    EXPECT_EQ(h, 280);
    // The safe dialog's name is its own settings key.
    HKEY hKey = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, safeName.c_str(), 0, KEY_QUERY_VALUE, &hKey), ERROR_SUCCESS);
    DWORD type = 0, cb = 0;
    EXPECT_EQ(RegQueryValueExA(hKey, "WindowPos", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    RegCloseKey(hKey);

    // Any other name, with a state.
    ASSERT_TRUE(TVornixReg::QOVSetWindowsRect(m_pOwner, "Generator", 10, 20, 300, 200, 2));
    ASSERT_TRUE(TVornixReg::QOVGetWindowsRect(m_pOwner, "Generator", &l, &t, &w, &h, &s));
    EXPECT_EQ(l, 10);
    EXPECT_EQ(s, 2);
    ASSERT_TRUE(TVornixReg::QOVGetWindowsRect(m_pOwner, safeName.c_str(), &l, &t, &w, &h, nullptr));
    EXPECT_EQ(l, 120) << "each name keeps its own rectangle";

    EXPECT_FALSE(TVornixReg::QOVSetWindowsRect(m_pOwner, "Generator", 10, 20, 0, 200, 0));
    EXPECT_FALSE(TVornixReg::QOVSetWindowsRect(m_pOwner, "Generator", 10, 20, 300, -5, 0));
    EXPECT_FALSE(TVornixReg::QOVSetWindowsRect(m_pOwner, "", 10, 20, 300, 200, 0));
    EXPECT_FALSE(TVornixReg::QOVGetWindowsRect(m_pOwner, "Generator", nullptr, &t, &w, &h, nullptr));
}

TEST_F(Settings, RectanglesTheUserCannotReachAreNotReturned)
{
    const int sw = GetSystemMetrics(SM_CXVIRTUALSCREEN), sh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const int sx = GetSystemMetrics(SM_XVIRTUALSCREEN), sy = GetSystemMetrics(SM_YVIRTUALSCREEN);
    ASSERT_GT(sw, 0);
    struct Case {
        const char* label;
        int l, t, w, h;
        bool bReturned;
    };
    const Case cases[] = {
        {"inside", sx + 50, sy + 50, 400, 300, true},
        {"partly left of the screen", sx - 300, sy + 50, 400, 300, true},
        {"partly below the screen", sx + 50, sy + sh - 40, 400, 300, true},
        {"right of every monitor", sx + sw + 100, sy + 50, 400, 300, false},
        {"below every monitor", sx + 50, sy + sh + 10, 400, 300, false},
        {"far away", 30000, 30000, 400, 300, false},
        {"caption above the screen", sx + 50, sy - 290, 400, 300, false},
        {"only a sliver on the screen", sx + sw - 10, sy + 50, 400, 300, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(TVornixReg::QOVSetWindowsRect(m_pOwner, "Probe", c.l, c.t, c.w, c.h, 0));
        int l = 0, t = 0, w = 0, h = 0;
        EXPECT_EQ(TVornixReg::QOVGetWindowsRect(m_pOwner, "Probe", &l, &t, &w, &h, nullptr), c.bReturned);
    }
}

TEST_F(Settings, DamagedWindowRectanglesAreNotReturned)
{
    const std::string key = std::string(kRoot) + "\\Windows\\Probe";
    int l, t, w, h;
    INT32 zeroWidth[5] = {10, 10, 0, 100, 0};
    ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, key, "WindowPos", REG_BINARY, zeroWidth, sizeof(zeroWidth)));
    EXPECT_FALSE(TVornixReg::QOVGetWindowsRect(m_pOwner, "Probe", &l, &t, &w, &h, nullptr));
    INT32 shortValue[4] = {10, 10, 100, 100};
    ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, key, "WindowPos", REG_BINARY, shortValue, sizeof(shortValue)));
    EXPECT_FALSE(TVornixReg::QOVGetWindowsRect(m_pOwner, "Probe", &l, &t, &w, &h, nullptr));
    ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, key, "WindowPos", REG_SZ, "10,10,100,100", 14));
    EXPECT_FALSE(TVornixReg::QOVGetWindowsRect(m_pOwner, "Probe", &l, &t, &w, &h, nullptr));
}

TEST_F(Settings, PasswordGeneratorRoundTrip)
{
    DWORD len = 99;
    bool u = false, lo = false, d = false, sp = false;
    EXPECT_FALSE(TVornixReg::QOVGetPasswordGenerator(m_pOwner, &len, &u, &lo, &d, &sp)) << "nothing stored";
    EXPECT_EQ(len, 99u) << "the caller keeps its defaults";

    struct Case {
        DWORD len;
        bool u, lo, d, sp;
    };
    const Case cases[] = {{8, true, true, true, true}, {0, false, false, false, false}, {200, true, false, true, false},
                          {256, false, true, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.len);
        ASSERT_TRUE(TVornixReg::QOVSetPasswordGenerator(m_pOwner, c.len, c.u, c.lo, c.d, c.sp));
        ASSERT_TRUE(TVornixReg::QOVGetPasswordGenerator(m_pOwner, &len, &u, &lo, &d, &sp));
        EXPECT_EQ(len, c.len);
        EXPECT_EQ(u, c.u);
        EXPECT_EQ(lo, c.lo);
        EXPECT_EQ(d, c.d);
        EXPECT_EQ(sp, c.sp);
    }
    EXPECT_FALSE(TVornixReg::QOVSetPasswordGenerator(m_pOwner, 257, true, true, true, true));

    // A stored length no buffer can take, or a flag of the wrong type, reads as nothing stored.
    const std::string key = std::string(kRoot) + "\\Generator";
    const DWORD huge = 100000;
    ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, key, "Length", REG_DWORD, &huge, 4));
    EXPECT_FALSE(TVornixReg::QOVGetPasswordGenerator(m_pOwner, &len, &u, &lo, &d, &sp));
    ASSERT_TRUE(TVornixReg::QOVSetPasswordGenerator(m_pOwner, 12, true, true, true, true));
    ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, key, "Digits", REG_SZ, "1", 2));
    EXPECT_FALSE(TVornixReg::QOVGetPasswordGenerator(m_pOwner, &len, &u, &lo, &d, &sp));
    RegDeleteKeyValueA(HKEY_CURRENT_USER, key.c_str(), "Digits");
    EXPECT_FALSE(TVornixReg::QOVGetPasswordGenerator(m_pOwner, &len, &u, &lo, &d, &sp)) << "a partial set";
}

// A failing call of the library leaves the code it recorded as the thread's
// error code, as a failing system call does: also where the code came from a
// registry answer or the library's own checks rather than from the system.
TEST_F(Settings, FailingCallsLeaveTheRecordedCodeAsTheThreadsError)
{
    ktxtest::TempDir dir;
    char sz[LS_PATH_SIZE];
    int nCount = 0;
    const std::string tooLong = "C:\\" + std::string(300, 'a') + ".xml";
    struct Case {
        const char* name;
        DWORD dwExpected;
        std::function<bool()> call;
    } cases[] = {
        {"no safe configured", ERROR_FILE_NOT_FOUND, [&] { return TVornixReg::QOVGetVornixSafe(m_pOwner, sz); }},
        {"missing value", ERROR_FILE_NOT_FOUND,
         [&] { return TVornixReg::QOVGetRegVal(m_pOwner, sz, "", "nothing", LS_REG_STRING, HKEY_CURRENT_USER); }},
        {"safe path too long", ERROR_FILENAME_EXCED_RANGE,
         [&] { return TVornixReg::QOVSetVornixSafe(m_pOwner, tooLong.c_str()); }},
        {"no output buffer", ERROR_INVALID_PARAMETER, [&] { return TVornixReg::QOVGetVornixUserPath(m_pOwner, nullptr); }},
        {"backup of a missing safe", ERROR_FILE_NOT_FOUND,
         [&] { return TVornixReg::WriteToBackup(m_pOwner, dir.File("missing.xml").c_str()); }},
        {"unknown help topic", ERROR_INVALID_PARAMETER,
         [&] { return TVornixReg::DoShowQOVHilfe(m_pOwner, nullptr, 5, false); }},
        {"no key file (a reason of the language library)", ERROR_FILE_NOT_FOUND,
         [&] { return TVornixReg::QOVGetKeyFileCerts(m_pOwner, nullptr, &nCount); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(c.call());
        DWORD dwAfter = GetLastError();
        ASSERT_TRUE(Failed());
        EXPECT_EQ(m_pOwner->rErrHandler.dwErrCode, c.dwExpected) << m_pOwner->rErrHandler.szDetail;
        EXPECT_EQ(dwAfter, c.dwExpected) << m_pOwner->rErrHandler.szDetail;
    }
}

TEST_F(Settings, NullOwnerIsTolerated)
{
    char sz[LS_PATH_SIZE];
    EXPECT_TRUE(TVornixReg::QOVSetVornixSafe(nullptr, "C:\\a.xml"));
    EXPECT_TRUE(TVornixReg::QOVGetVornixSafe(nullptr, sz));
    EXPECT_FALSE(TVornixReg::QOVGetRegVal(nullptr, sz, "", "missing", LS_REG_STRING, HKEY_CURRENT_USER));
}

}  // namespace
