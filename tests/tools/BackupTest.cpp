// Backups of safe files: rotation, restore of a missing, empty or damaged
// safe (the damaged one kept aside), backups of one path never used for
// another, the key file kept and restored with the safe, and the report of a
// restore that tells the user what was put back, from when, and where the
// damaged file went.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"
#include "TestSupport.h"
#include "ToolsFixture.h"

using namespace toolstest;
using ktxtest::FileExists;
using ktxtest::ReadFileBytes;

namespace {

class Backups : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetProductState();
        m_pOwner = GetLSOwnerHandle("test_tools");
        ASSERT_NE(m_pOwner, nullptr);
        m_safe = m_dir.File("Safe.xml");
    }
    void TearDown() override
    {
        FreeLSOwnerHandle(m_pOwner);
        ResetProductState();
    }

    // The safe copies kept for every path.
    static std::vector<std::string> BackupCopies(const char* pszExt = "xml")
    {
        std::vector<std::string> files;
        WIN32_FIND_DATAA fd;
        HANDLE hDirs = FindFirstFileA((BackupRoot() + "\\*").c_str(), &fd);
        if (hDirs == INVALID_HANDLE_VALUE) return files;
        std::vector<std::string> dirs;
        do {
            std::string name = fd.cFileName;
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..")
                dirs.push_back(BackupRoot() + "\\" + name);
        } while (FindNextFileA(hDirs, &fd));
        FindClose(hDirs);
        for (const std::string& dir : dirs) {
            HANDLE h = FindFirstFileA((dir + "\\*." + pszExt).c_str(), &fd);
            if (h == INVALID_HANDLE_VALUE) continue;
            do files.push_back(dir + "\\" + fd.cFileName);
            while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        return files;
    }

    // Files beside the safe whose name starts with the safe's name and ".damaged".
    std::vector<std::string> DamagedCopies() const
    {
        std::vector<std::string> files;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((m_safe + ".damaged*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return files;
        do files.push_back(m_dir.File(fd.cFileName));
        while (FindNextFileA(h, &fd));
        FindClose(h);
        return files;
    }

    // The copies of the one safe backed up, oldest first.
    static std::vector<std::string> SortedCopies()
    {
        std::vector<std::string> copies = BackupCopies();
        std::sort(copies.begin(), copies.end());
        return copies;
    }

    static FILETIME Utc(WORD wYear, WORD wMonth, WORD wDay, WORD wHour, WORD wMinute, WORD wSecond)
    {
        SYSTEMTIME st = {};
        st.wYear = wYear;
        st.wMonth = wMonth;
        st.wDay = wDay;
        st.wHour = wHour;
        st.wMinute = wMinute;
        st.wSecond = wSecond;
        FILETIME ft = {};
        EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
        return ft;
    }

    static bool SetWriteTime(const std::string& path, const FILETIME& ft)
    {
        HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        bool ok = SetFileTime(h, nullptr, nullptr, &ft) != FALSE;
        CloseHandle(h);
        return ok;
    }

    static FILETIME WriteTime(const std::string& path)
    {
        WIN32_FILE_ATTRIBUTE_DATA fad = {};
        EXPECT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &fad)) << path;
        return fad.ftLastWriteTime;
    }

    static bool SameTime(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) == 0; }

    // A UTC time as the user sees it: local date and time in the user's formats.
    static std::string LocalText(const FILETIME& ft)
    {
        SYSTEMTIME utc, local;
        EXPECT_TRUE(FileTimeToSystemTime(&ft, &utc));
        EXPECT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
        char szDate[80] = "", szTime[80] = "";
        EXPECT_NE(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, szDate, sizeof(szDate)), 0);
        EXPECT_NE(GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &local, nullptr, szTime, sizeof(szTime)), 0);
        return std::string(szDate) + " " + szTime;
    }

    // A report that holds something everywhere, so every field must be written.
    static TLSRestoreInfo StaleReport(bool bRestored)
    {
        TLSRestoreInfo info;
        info.bRestored = bRestored;
        info.dwReason = 77;
        info.ftBackup = Utc(2001, 1, 1, 0, 0, 0);
        LSStrCopy(info.szWhen, sizeof(info.szWhen), "stale");
        LSStrCopy(info.szAside, sizeof(info.szAside), "stale");
        return info;
    }

    ktxtest::TempDir m_dir;
    std::string m_safe;
    TLSOwner* m_pOwner = nullptr;
};

TEST_F(Backups, KeepsTheNewestFiveDistinctVersions)
{
    for (int i = 1; i <= 7; ++i) {
        ASSERT_TRUE(WriteSafe(m_safe, "version " + std::to_string(i)));
        ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
        // Opening the same state again adds no copy.
        ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    }
    std::vector<std::string> copies = BackupCopies();
    ASSERT_EQ(copies.size(), 5u);
    std::string all;
    for (const std::string& copy : copies) all += ReadFileBytes(copy);
    for (int i = 3; i <= 7; ++i) EXPECT_NE(all.find("version " + std::to_string(i)), std::string::npos) << i;
    EXPECT_EQ(all.find("version 1<"), std::string::npos);
    EXPECT_EQ(all.find("version 2<"), std::string::npos);

    // Restoring after the loss gives the newest version.
    ASSERT_TRUE(DeleteFileA(m_safe.c_str()));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_NE(ReadFileBytes(m_safe).find("version 7<"), std::string::npos);
}

TEST_F(Backups, ADamagedOrMissingSafeIsNeverBackedUp)
{
    EXPECT_FALSE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str())) << "missing";
    ASSERT_TRUE(WriteSafe(m_safe, "good"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    // Five opens of a damaged file must not push the good copy out.
    ASSERT_TRUE(WriteDamagedSafe(m_safe));
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_safe, ""));
    EXPECT_FALSE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str())) << "empty";
    std::vector<std::string> copies = BackupCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_NE(ReadFileBytes(copies[0]).find("good"), std::string::npos);
}

TEST_F(Backups, RestoresMissingEmptyAndDamagedSafes)
{
    ASSERT_TRUE(WriteSafe(m_safe, "older"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    ASSERT_TRUE(WriteSafe(m_safe, "newest"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    const std::string newest = ReadFileBytes(m_safe);

    // Missing.
    ASSERT_TRUE(DeleteFileA(m_safe.c_str()));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_EQ(ReadFileBytes(m_safe), newest);

    // Empty: nothing in it to keep.
    ASSERT_TRUE(ktxtest::WriteFileBytes(m_safe, ""));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_EQ(ReadFileBytes(m_safe), newest);
    EXPECT_TRUE(DamagedCopies().empty());

    // Damaged, and read-only, hidden and system as the program leaves it: kept aside.
    ASSERT_TRUE(WriteDamagedSafe(m_safe));
    const std::string damaged = ReadFileBytes(m_safe);
    ASSERT_TRUE(SetFileAttributesA(m_safe.c_str(), 0x27));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_EQ(ReadFileBytes(m_safe), newest);
    std::vector<std::string> aside = DamagedCopies();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFileBytes(aside[0]), damaged);
    SetFileAttributesA(aside[0].c_str(), FILE_ATTRIBUTE_NORMAL);

    // A second damage gets a name of its own.
    ASSERT_TRUE(WriteDamagedSafe(m_safe));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_EQ(DamagedCopies().size(), 2u);
}

TEST_F(Backups, ASoundSafeIsLeftAlone)
{
    ASSERT_TRUE(WriteSafe(m_safe, "backed up"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    ASSERT_TRUE(WriteSafe(m_safe, "edited since"));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_NE(ReadFileBytes(m_safe).find("edited since"), std::string::npos);
    EXPECT_TRUE(DamagedCopies().empty());
}

TEST_F(Backups, OnlyBackupsOfTheSamePathAreUsed)
{
    const std::string other = m_dir.File("Other.xml");
    ASSERT_TRUE(WriteSafe(m_safe, "first safe"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));

    EXPECT_FALSE(TVornixReg::RestoreFromBackup(m_pOwner, other.c_str()));
    EXPECT_FALSE(FileExists(other));
    ASSERT_TRUE(WriteDamagedSafe(other));
    EXPECT_FALSE(TVornixReg::RestoreFromBackup(m_pOwner, other.c_str()));
    EXPECT_NE(ReadFileBytes(other).find("damaged"), std::string::npos) << "no backup: the file stays as it is";

    // The same path written another way (case, relative form) is the same safe.
    ASSERT_TRUE(DeleteFileA(m_safe.c_str()));
    std::string upper = m_safe;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, upper.c_str()));
    EXPECT_NE(ReadFileBytes(m_safe).find("first safe"), std::string::npos);
}

TEST_F(Backups, NoUsableBackupLeavesADamagedFileInPlace)
{
    ASSERT_TRUE(WriteSafe(m_safe, "good"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    // Every copy damaged: nothing is put back and nothing is moved.
    for (const std::string& copy : BackupCopies()) ASSERT_TRUE(WriteDamagedSafe(copy));
    ASSERT_TRUE(WriteDamagedSafe(m_safe));
    const std::string before = ReadFileBytes(m_safe);
    EXPECT_FALSE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_EQ(ReadFileBytes(m_safe), before);
    EXPECT_TRUE(DamagedCopies().empty());
}

TEST_F(Backups, TheKeyFileIsBackedUpAndRestoredWithTheSafe)
{
    const std::string key = KeyFilePath();
    // Any well-formed key file is kept with the safe; its slot need not open here.
    ASSERT_TRUE(WriteSafe(m_safe, "safe"));
    const std::string keyBytes = SampleKeyFileBytes();
    ASSERT_TRUE(ktxtest::WriteFileBytes(key, keyBytes));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    ASSERT_EQ(BackupCopies("key").size(), 1u);

    // Safe and key file lost: both come back.
    ASSERT_TRUE(DeleteFileA(m_safe.c_str()));
    ASSERT_TRUE(DeleteFileA(key.c_str()));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_TRUE(FileExists(m_safe));
    EXPECT_EQ(ReadFileBytes(key), keyBytes);

    // Only the key file lost: it comes back, the safe is untouched.
    ASSERT_TRUE(DeleteFileA(key.c_str()));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_EQ(ReadFileBytes(key), keyBytes);

    // A key file that is there is never replaced, even a damaged one.
    ASSERT_TRUE(ktxtest::WriteFileBytes(key, "not a key file"));
    ASSERT_TRUE(DeleteFileA(m_safe.c_str()));
    ASSERT_TRUE(TVornixReg::RestoreFromBackup(m_pOwner, m_safe.c_str()));
    EXPECT_EQ(ReadFileBytes(key), "not a key file");
}

TEST_F(Backups, BadPathsAreRefused)
{
    EXPECT_FALSE(TVornixReg::WriteToBackup(m_pOwner, nullptr));
    EXPECT_FALSE(TVornixReg::RestoreFromBackup(m_pOwner, ""));
    std::string tooLong = "C:\\" + std::string(300, 'a') + ".xml";
    EXPECT_FALSE(TVornixReg::WriteToBackup(m_pOwner, tooLong.c_str()));
    EXPECT_FALSE(TVornixReg::RestoreFromBackup(m_pOwner, tooLong.c_str()));
}

TEST_F(Backups, ARestoreReportsWhatWasWrongTheBackupsTimeAndWhereTheDamagedFileWent)
{
    ASSERT_TRUE(WriteSafe(m_safe, "older"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    ASSERT_TRUE(WriteSafe(m_safe, "newest"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    const std::string newest = ReadFileBytes(m_safe);
    std::vector<std::string> copies = SortedCopies();
    ASSERT_EQ(copies.size(), 2u);
    // Times of their own, so the report cannot take the older copy's or the present time.
    const FILETIME ftOlder = Utc(2019, 5, 6, 7, 8, 9), ftNewest = Utc(2021, 2, 3, 4, 5, 6);
    ASSERT_TRUE(SetWriteTime(copies[0], ftOlder));
    ASSERT_TRUE(SetWriteTime(copies[1], ftNewest));

    struct Case {
        const char* pszName;
        DWORD dwReason;
        DWORD dwAttributes;  // of the broken safe file; 0 leaves them
    };
    const Case cases[] = {
        {"missing", LS_RESTORE_MISSING, 0},
        {"empty", LS_RESTORE_EMPTY, 0},
        {"damaged", LS_RESTORE_DAMAGED, 0},
        {"damaged, read-only, hidden and system", LS_RESTORE_DAMAGED, 0x27},
        {"empty, read-only, hidden and system", LS_RESTORE_EMPTY, 0x27},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::string broken;
        if (c.dwReason == LS_RESTORE_MISSING) {
            ASSERT_TRUE(DeleteFileA(m_safe.c_str()));
        } else {
            if (c.dwReason == LS_RESTORE_EMPTY) {
                ASSERT_TRUE(ktxtest::WriteFileBytes(m_safe, ""));
            }
            if (c.dwReason == LS_RESTORE_DAMAGED) {
                ASSERT_TRUE(WriteDamagedSafe(m_safe));
            }
            broken = ReadFileBytes(m_safe);
            if (c.dwAttributes) {
                ASSERT_TRUE(SetFileAttributesA(m_safe.c_str(), c.dwAttributes & ~FILE_ATTRIBUTE_READONLY));
                ASSERT_TRUE(SetFileAttributesA(m_safe.c_str(), c.dwAttributes));
            }
        }
        const std::vector<std::string> asideBefore = DamagedCopies();

        TLSRestoreInfo info = StaleReport(false);
        ASSERT_TRUE(TVornixReg::RestoreFromBackupEx(m_pOwner, m_safe.c_str(), &info));
        EXPECT_EQ(ReadFileBytes(m_safe), newest);
        EXPECT_TRUE(info.bRestored);
        EXPECT_EQ(info.dwReason, c.dwReason);
        EXPECT_TRUE(SameTime(info.ftBackup, ftNewest)) << "the time of the copy put back, in UTC";
        EXPECT_EQ(std::string(info.szWhen), LocalText(ftNewest));

        std::vector<std::string> aside = DamagedCopies();
        if (c.dwReason == LS_RESTORE_DAMAGED) {
            ASSERT_EQ(aside.size(), asideBefore.size() + 1);
            ASSERT_NE(info.szAside[0], '\0');
            EXPECT_EQ(std::count(asideBefore.begin(), asideBefore.end(), std::string(info.szAside)), 0)
                << "a name of its own: " << info.szAside;
            EXPECT_EQ(std::count_if(aside.begin(), aside.end(),
                                    [&](const std::string& f) { return _stricmp(f.c_str(), info.szAside) == 0; }),
                      1)
                << info.szAside;
            EXPECT_EQ(ReadFileBytes(info.szAside), broken) << "the report names the file holding the damaged safe";
        } else {
            EXPECT_EQ(aside.size(), asideBefore.size()) << "nothing to keep";
            EXPECT_STREQ(info.szAside, "");
        }
        for (const std::string& f : aside) SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);

        // What the safe dialog builds from the report: all of it in the message and the one-line log entry.
        char szAsideText[LS_TEXT_SIZE] = "";
        if (info.szAside[0]) {
            ASSERT_TRUE(LSStrFormat(szAsideText, sizeof(szAsideText), DLS_TXT_SAFE_RESTORED_ASIDE(), info.szAside));
        }
        char szMessage[LS_TEXT_SIZE], szLog[LS_TEXT_SIZE];
        ASSERT_TRUE(LSStrFormat(szMessage, sizeof(szMessage), DLS_TXT_SAFE_RESTORED(), m_safe.c_str(), info.szWhen,
                                szAsideText));
        ASSERT_TRUE(LSStrFormat(szLog, sizeof(szLog), DLS_LOG_SAFE_RESTORED(), m_safe.c_str(), info.szWhen,
                                szAsideText));
        for (const std::string& text : {std::string(szMessage), std::string(szLog)}) {
            EXPECT_NE(text.find(m_safe), std::string::npos) << text;
            EXPECT_NE(text.find(info.szWhen), std::string::npos) << text;
            if (info.szAside[0]) {
                EXPECT_NE(text.find(info.szAside), std::string::npos) << text;
            }
        }
        EXPECT_EQ(std::string(szLog).find_first_of("\r\n"), std::string::npos) << szLog;
    }
}

TEST_F(Backups, TheReportedTimeIsThatOfTheCopyPutBack)
{
    ASSERT_TRUE(WriteSafe(m_safe, "older"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    ASSERT_TRUE(WriteSafe(m_safe, "newest"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    std::vector<std::string> copies = SortedCopies();
    ASSERT_EQ(copies.size(), 2u);
    // The newest copy no longer loads: the older one comes back, and its time is reported.
    ASSERT_TRUE(WriteDamagedSafe(copies[1]));
    const FILETIME ftOlder = Utc(2020, 12, 31, 23, 59, 58);
    ASSERT_TRUE(SetWriteTime(copies[0], ftOlder));
    ASSERT_TRUE(SetWriteTime(copies[1], Utc(2022, 6, 7, 8, 9, 10)));

    ASSERT_TRUE(DeleteFileA(m_safe.c_str()));
    TLSRestoreInfo info = StaleReport(false);
    ASSERT_TRUE(TVornixReg::RestoreFromBackupEx(m_pOwner, m_safe.c_str(), &info));
    EXPECT_NE(ReadFileBytes(m_safe).find("older"), std::string::npos);
    EXPECT_TRUE(info.bRestored);
    EXPECT_TRUE(SameTime(info.ftBackup, ftOlder));
    EXPECT_TRUE(SameTime(info.ftBackup, WriteTime(copies[0])));
    EXPECT_EQ(std::string(info.szWhen), LocalText(ftOlder));
}

TEST_F(Backups, WhenNothingIsPutBackTheReportSaysSo)
{
    enum class State { Sound, Missing, Empty, Damaged };
    struct Case {
        const char* pszName;
        State state;
        bool bBackup;         // a good copy was backed up first
        bool bDamageCopies;   // ... and then every copy damaged
        bool bResult;
        DWORD dwReason;
    };
    const Case cases[] = {
        {"sound, with a backup", State::Sound, true, false, true, LS_RESTORE_NONE},
        {"sound, no backup", State::Sound, false, false, true, LS_RESTORE_NONE},
        {"missing, no backup", State::Missing, false, false, false, LS_RESTORE_MISSING},
        {"empty, no backup", State::Empty, false, false, false, LS_RESTORE_EMPTY},
        {"damaged, no backup", State::Damaged, false, false, false, LS_RESTORE_DAMAGED},
        {"damaged, no copy loads", State::Damaged, true, true, false, LS_RESTORE_DAMAGED},
        {"missing, no copy loads", State::Missing, true, true, false, LS_RESTORE_MISSING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        ResetProductState();
        if (c.bBackup) {
            ASSERT_TRUE(WriteSafe(m_safe, "backed up"));
            ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
            if (c.bDamageCopies) {
                for (const std::string& copy : BackupCopies()) ASSERT_TRUE(WriteDamagedSafe(copy));
            }
        }
        DeleteFileA(m_safe.c_str());
        if (c.state == State::Sound) {
            ASSERT_TRUE(WriteSafe(m_safe, "edited since"));
        }
        if (c.state == State::Empty) {
            ASSERT_TRUE(ktxtest::WriteFileBytes(m_safe, ""));
        }
        if (c.state == State::Damaged) {
            ASSERT_TRUE(WriteDamagedSafe(m_safe));
        }
        const bool bExisted = FileExists(m_safe);
        const std::string before = bExisted ? ReadFileBytes(m_safe) : std::string();

        TLSRestoreInfo info = StaleReport(true);
        EXPECT_EQ(TVornixReg::RestoreFromBackupEx(m_pOwner, m_safe.c_str(), &info), c.bResult);
        EXPECT_FALSE(info.bRestored);
        EXPECT_EQ(info.dwReason, c.dwReason);
        EXPECT_TRUE(SameTime(info.ftBackup, FILETIME{})) << "no copy, no time";
        EXPECT_STREQ(info.szWhen, "");
        EXPECT_STREQ(info.szAside, "");
        // The safe file is as it was, and nothing was moved aside.
        EXPECT_EQ(FileExists(m_safe), bExisted);
        if (bExisted) {
            EXPECT_EQ(ReadFileBytes(m_safe), before);
        }
        EXPECT_TRUE(DamagedCopies().empty());
        // A failure is recorded for the owner; a sound safe records none.
        EXPECT_EQ(LSOwnerErr(m_pOwner)->bFailed, !c.bResult);
        if (!c.bResult) {
            EXPECT_STREQ(LSOwnerErr(m_pOwner)->szMessage, "TVornixReg::RestoreFromBackupEx failed!");
        }
    }

    // A refused path: nothing looked at, nothing reported.
    TLSRestoreInfo info = StaleReport(true);
    EXPECT_FALSE(TVornixReg::RestoreFromBackupEx(m_pOwner, "", &info));
    EXPECT_FALSE(info.bRestored);
    EXPECT_EQ(info.dwReason, static_cast<DWORD>(LS_RESTORE_NONE));
    EXPECT_STREQ(info.szAside, "");
    EXPECT_STREQ(info.szWhen, "");
}

TEST_F(Backups, TheReportIsOptional)
{
    ASSERT_TRUE(WriteSafe(m_safe, "backed up"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, m_safe.c_str()));
    ASSERT_TRUE(WriteDamagedSafe(m_safe));
    ASSERT_TRUE(TVornixReg::RestoreFromBackupEx(m_pOwner, m_safe.c_str(), nullptr));
    EXPECT_NE(ReadFileBytes(m_safe).find("backed up"), std::string::npos);
    EXPECT_EQ(DamagedCopies().size(), 1u);
}

TEST_F(Backups, TheReportedPlaceOfALongPathsDamagedFileIsWhole)
{
    // A safe path just short enough that the name beside it is a valid path
    // but longer than the report's path buffer.
    char szFull[MAX_PATH];
    ASSERT_NE(GetFullPathNameA(m_dir.Path().c_str(), sizeof(szFull), szFull, nullptr), 0u);
    const size_t nWanted = LS_PATH_SIZE - 22;  // ".damaged-YYYYMMDD-HHMMSS" would make it 258
    const size_t nFixed = strlen(szFull) + 1 + 1 + strlen("Safe.xml");
    ASSERT_LT(nFixed, nWanted);
    const std::string sub = std::string(szFull) + "\\" + std::string(nWanted - nFixed, 'p');
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    const std::string safe = sub + "\\Safe.xml";
    ASSERT_EQ(safe.size(), nWanted);

    ASSERT_TRUE(WriteSafe(safe, "long"));
    ASSERT_TRUE(TVornixReg::WriteToBackup(m_pOwner, safe.c_str()));
    ASSERT_TRUE(WriteDamagedSafe(safe));
    const std::string damaged = ReadFileBytes(safe);
    TLSRestoreInfo info = StaleReport(false);
    ASSERT_TRUE(TVornixReg::RestoreFromBackupEx(m_pOwner, safe.c_str(), &info));
    EXPECT_TRUE(info.bRestored);
    EXPECT_NE(ReadFileBytes(safe).find("long"), std::string::npos);
    ASSERT_TRUE(FileExists(info.szAside)) << info.szAside;
    EXPECT_EQ(ReadFileBytes(info.szAside), damaged);
    SetFileAttributesA(info.szAside, FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
