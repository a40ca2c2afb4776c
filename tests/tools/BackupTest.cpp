// Backups of safe files: rotation, restore of a missing, empty or damaged
// safe (the damaged one kept aside), backups of one path never used for
// another, and the key file kept and restored with the safe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KTXTOOLS.h"
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

}  // namespace
