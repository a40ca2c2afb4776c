// TLSFile with real files and folders.
#include <gtest/gtest.h>

#include <string>

#include "Cmn32TestUtil.h"
#include "KTXCMN32.h"
#include "TestSupport.h"

using namespace cmn32test;
using ktxtest::ReadFileBytes;
using ktxtest::WriteFileBytes;

namespace {

constexpr DWORD kProtected = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Read-only, hidden and system, set the way that reads back reliably.
void Protect(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesA(path.c_str(), kProtected);
}

class FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.Path().empty());
        ClearLSError(m_owner.Err());
    }
    ktxtest::TempDir m_dir;
    OwnerScope m_owner;
    TLSFile m_file{m_owner.Get()};
};

TEST_F(FileTest, ExistenceAndSize)
{
    std::string file = m_dir.File("a.txt");
    std::string empty = m_dir.File("empty.txt");
    ASSERT_TRUE(WriteFileBytes(file, "12345"));
    ASSERT_TRUE(WriteFileBytes(empty, ""));
    TLSOwner* o = m_owner.Get();

    EXPECT_TRUE(TLSFile::FileExists(o, file.c_str()));
    EXPECT_FALSE(TLSFile::FileExists(o, m_dir.Path().c_str())) << "a folder is not a file";
    EXPECT_FALSE(TLSFile::FileExists(o, m_dir.File("missing").c_str()));
    EXPECT_FALSE(TLSFile::FileExists(nullptr, nullptr));
    EXPECT_FALSE(TLSFile::FileExists(nullptr, ""));

    EXPECT_TRUE(TLSFile::DirExist(o, m_dir.Path().c_str()));
    EXPECT_FALSE(TLSFile::DirExist(o, file.c_str()));
    EXPECT_FALSE(TLSFile::DirExist(nullptr, nullptr));

    EXPECT_EQ(TLSFile::FileSize(o, file.c_str()), 5u);
    EXPECT_EQ(TLSFile::FileSize(o, empty.c_str()), 0u);
    EXPECT_EQ(TLSFile::FileSize(o, m_dir.File("missing").c_str()), 0u);
    EXPECT_EQ(TLSFile::FileSize(o, m_dir.Path().c_str()), 0u);
    EXPECT_EQ(TLSFile::FileSize(nullptr, nullptr), 0u);

    Protect(file);
    EXPECT_TRUE(TLSFile::FileExists(o, file.c_str())) << "a hidden system file exists too";
    EXPECT_EQ(TLSFile::FileSize(o, file.c_str()), 5u);
    EXPECT_FALSE(m_owner.Err()->bFailed) << "queries record nothing";
}

TEST_F(FileTest, CreateDirMakesEveryMissingParent)
{
    std::string deep = m_dir.Path() + "\\one\\two.2\\three";
    EXPECT_TRUE(m_file.CreateDir(deep.c_str()));
    EXPECT_TRUE(TLSFile::DirExist(nullptr, deep.c_str()));
    EXPECT_TRUE(m_file.CreateDir(deep.c_str())) << "an existing folder is fine";
    EXPECT_TRUE(m_file.CreateDir((m_dir.Path() + "\\one\\four\\").c_str())) << "trailing separator";
    EXPECT_TRUE(TLSFile::DirExist(nullptr, (m_dir.Path() + "\\one\\four").c_str()));
    EXPECT_FALSE(m_owner.Err()->bFailed);

    ASSERT_TRUE(WriteFileBytes(m_dir.File("blocker"), "x"));
    EXPECT_FALSE(m_file.CreateDir((m_dir.File("blocker") + "\\sub").c_str())) << "a file stands in the way";
    EXPECT_TRUE(m_owner.Err()->bFailed);
    EXPECT_STREQ(m_owner.Err()->szMessage, "TLSFile::CreateDir failed!");

    ClearLSError(m_owner.Err());
    std::string tooLong(LS_PATH_SIZE + 10, 'd');
    EXPECT_FALSE(m_file.CreateDir(tooLong.c_str()));
    EXPECT_FALSE(m_file.CreateDir(nullptr));
}

TEST_F(FileTest, CpyFileReplacesTargetEvenAProtectedOne)
{
    std::string from = m_dir.File("from.bin");
    std::string to = m_dir.File("to.bin");
    ASSERT_TRUE(WriteFileBytes(from, "new content"));
    ASSERT_TRUE(WriteFileBytes(to, "old"));
    EXPECT_TRUE(m_file.CpyFile(from.c_str(), to.c_str()));
    EXPECT_EQ(ReadFileBytes(to), "new content");
    EXPECT_EQ(ReadFileBytes(from), "new content") << "the source stays";

    ASSERT_TRUE(WriteFileBytes(from, "newer"));
    Protect(to);
    EXPECT_TRUE(m_file.CpyFile(from.c_str(), to.c_str()));
    EXPECT_EQ(ReadFileBytes(to), "newer");

    EXPECT_TRUE(m_file.CpyFile(from.c_str(), from.c_str())) << "a copy onto itself keeps the file";
    EXPECT_EQ(ReadFileBytes(from), "newer");
    EXPECT_FALSE(m_owner.Err()->bFailed);
}

TEST_F(FileTest, CpyFileOfMissingSourceFailsAndKeepsTarget)
{
    std::string to = m_dir.File("to.bin");
    ASSERT_TRUE(WriteFileBytes(to, "keep me"));
    Protect(to);
    EXPECT_FALSE(m_file.CpyFile(m_dir.File("missing").c_str(), to.c_str()));
    EXPECT_EQ(ReadFileBytes(to), "keep me");
    EXPECT_EQ(GetFileAttributesA(to.c_str()) & kProtected, kProtected) << "the target keeps its attributes";
    EXPECT_TRUE(m_owner.Err()->bFailed);
    EXPECT_EQ(m_owner.Err()->dwErrCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(m_owner.Err()->szMessage, "TLSFile::CpyFile failed!");
}

TEST_F(FileTest, MovFileOverExistingTargetAndAcrossFolders)
{
    ASSERT_TRUE(m_file.CreateDir(m_dir.File("other").c_str()));
    std::string from = m_dir.File("safe.xml");
    std::string to = m_dir.File("other\\moved.xml");
    ASSERT_TRUE(WriteFileBytes(from, "the safe"));
    ASSERT_TRUE(WriteFileBytes(to, "an older file"));
    Protect(to);
    EXPECT_TRUE(m_file.MovFile(from.c_str(), to.c_str()));
    EXPECT_FALSE(ktxtest::FileExists(from));
    EXPECT_EQ(ReadFileBytes(to), "the safe");
    EXPECT_FALSE(m_owner.Err()->bFailed);

    // A missing source fails and leaves the target alone.
    EXPECT_FALSE(m_file.MovFile(from.c_str(), to.c_str()));
    EXPECT_EQ(ReadFileBytes(to), "the safe");
    EXPECT_STREQ(m_owner.Err()->szMessage, "TLSFile::MovFile failed!");
}

TEST_F(FileTest, MovFileAcrossVolumes)
{
    // Under Wine, Z:\dev\shm is a memory file system: another volume than the temporary folder.
    const char* pszOther = "Z:\\dev\\shm";
    if (!TLSFile::DirExist(nullptr, pszOther)) GTEST_SKIP() << "no second volume here";
    std::string otherDir = std::string(pszOther) + "\\" + UniqueName("ktxmove");
    ASSERT_TRUE(m_file.CreateDir(otherDir.c_str()));
    std::string from = m_dir.File("cross.bin");
    std::string to = otherDir + "\\cross.bin";
    std::string payload(200000, 'p');
    ASSERT_TRUE(WriteFileBytes(from, payload));
    ASSERT_TRUE(WriteFileBytes(to, "older"));
    EXPECT_TRUE(m_file.MovFile(from.c_str(), to.c_str()));
    EXPECT_FALSE(ktxtest::FileExists(from));
    EXPECT_EQ(ReadFileBytes(to), payload);
    // ... and back again.
    EXPECT_TRUE(m_file.MovFile(to.c_str(), from.c_str()));
    EXPECT_EQ(ReadFileBytes(from), payload);
    ktxtest::RemoveTree(otherDir);
}

TEST_F(FileTest, RmvFileRemovesReadOnlyHiddenSystemFile)
{
    std::string file = m_dir.File("locked.xml");
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    Protect(file);
    ASSERT_EQ(GetFileAttributesA(file.c_str()) & kProtected, kProtected);
    ASSERT_FALSE(DeleteFileA(file.c_str())) << "a plain delete is refused, so the test means something";
    EXPECT_TRUE(m_file.RmvFile(file.c_str(), 0));
    EXPECT_FALSE(ktxtest::FileExists(file));
    EXPECT_FALSE(m_owner.Err()->bFailed);
}

TEST_F(FileTest, RmvFileOfMissingFileIsNoError)
{
    EXPECT_TRUE(m_file.RmvFile(m_dir.File("never-there").c_str(), 0));
    EXPECT_TRUE(m_file.RmvFile(m_dir.File("no-folder\\never-there").c_str(), 0));
    EXPECT_FALSE(m_owner.Err()->bFailed);
    EXPECT_FALSE(m_file.RmvFile(nullptr, 0));
}

TEST_F(FileTest, RmvFileRefusesAFolder)
{
    ASSERT_TRUE(m_file.CreateDir(m_dir.File("folder").c_str()));
    EXPECT_FALSE(m_file.RmvFile(m_dir.File("folder").c_str(), 0));
    EXPECT_TRUE(TLSFile::DirExist(nullptr, m_dir.File("folder").c_str()));
    EXPECT_STREQ(m_owner.Err()->szMessage, "TLSFile::RmvFile failed!");
}

TEST(FileNullOwner, OperationsWorkWithoutOwner)
{
    ktxtest::TempDir dir;
    TLSFile file(nullptr);
    ASSERT_TRUE(WriteFileBytes(dir.File("a"), "a"));
    EXPECT_TRUE(file.CpyFile(dir.File("a").c_str(), dir.File("b").c_str()));
    EXPECT_TRUE(file.MovFile(dir.File("b").c_str(), dir.File("c").c_str()));
    EXPECT_TRUE(file.RmvFile(dir.File("c").c_str()));
    EXPECT_FALSE(file.CpyFile(dir.File("missing").c_str(), dir.File("d").c_str()));
    EXPECT_TRUE(file.CreateDir(dir.File("x\\y").c_str()));
}

}  // namespace
