// Damaged and hostile safe files: each load answers false (or gives a bounded
// document), never crashes, and leaves the file on disk as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KTXCMN32.h"
#include "TestSupport.h"

using ktxtest::TempDir;

namespace {

// The data folder as a Windows path (the build passes the Unix path; Wine's
// drive Z: is the Unix root).
std::string DataDir(const char* sub)
{
    std::string dir = KTX_TEST_DATA_DIR;
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
    for (char& c : dir) {
        if (c == '/') c = '\\';
    }
    return dir + "\\xml\\" + sub;
}

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*.xml").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(dir + "\\" + fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return files;
}

FILETIME WriteTime(const std::string& file)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

class XmlHostile : public ::testing::Test {
protected:
    void SetUp() override { m_pOwner = GetLSOwnerHandle("test_cmn32core.exe"); }
    void TearDown() override { FreeLSOwnerHandle(m_pOwner); }

    // Loads the file into a document that held another one; checks that the
    // file is untouched and, on refusal, that the document is empty.
    bool Load(TXmlAPI& xml, const std::string& file)
    {
        std::string before = ktxtest::ReadFileBytes(file);
        FILETIME ftBefore = WriteTime(file);
        EXPECT_TRUE(xml.New("Previous"));
        bool bLoaded = xml.Init(file.c_str());
        EXPECT_EQ(ktxtest::ReadFileBytes(file), before) << file;
        FILETIME ftAfter = WriteTime(file);
        EXPECT_EQ(CompareFileTime(&ftBefore, &ftAfter), 0) << file;
        if (!bLoaded) {
            char szRoot[LS_XMLPATH_SIZE];
            EXPECT_FALSE(xml.GetRootTag(szRoot)) << file;
        }
        return bLoaded;
    }

    TLSOwner* m_pOwner = nullptr;
    TempDir m_dir;
};

TEST_F(XmlHostile, KeptHostileFilesAreRefused)
{
    std::vector<std::string> files = FilesIn(DataDir("hostile"));
    ASSERT_GE(files.size(), 10u) << DataDir("hostile");
    for (const std::string& file : files) {
        TXmlAPI xml(m_pOwner);
        ClearLSError(&m_pOwner->rErrHandler);
        EXPECT_FALSE(Load(xml, file)) << file;
        EXPECT_TRUE(m_pOwner->rErrHandler.bFailed) << file;
    }
}

TEST_F(XmlHostile, KeptSampleFilesLoad)
{
    TXmlAPI xml(m_pOwner);
    char sz[LS_TEXT_SIZE];
    ASSERT_TRUE(Load(xml, DataDir("good\\safe.xml")));
    ASSERT_TRUE(xml.GPPS("LSVER500", nullptr, sz, sizeof(sz)));
    EXPECT_EQ(memcmp(sz, "n0000\0n0002\0n0001\0\0", 19), 0);
    ASSERT_TRUE(xml.GetAtt("LSVER500.n0002", "name", sz, sizeof(sz)));
    EXPECT_STREQ(sz, "M\xfcller & S\xf6hne");
    ASSERT_TRUE(xml.GPPS("LSVER500.n0000", sz, sizeof(sz)));
    EXPECT_STREQ(sz, "QUJDREVGR0g=");

    ASSERT_TRUE(Load(xml, DataDir("good\\older-nested.xml")));
    ASSERT_TRUE(xml.GetAtt("LSVER300.Tresor.Eintraege.n0000", "name", sz, sizeof(sz)));
    EXPECT_STREQ(sz, "Mail");
    ASSERT_TRUE(xml.GPPS("LSVER300.Tresor", sz, sizeof(sz)));
    EXPECT_STREQ(sz, "");   // indentation is no text

    ASSERT_TRUE(Load(xml, DataDir("good\\comments-and-instructions.xml")));
    ASSERT_TRUE(xml.GetAtt("LSVER500.n0000", "name", sz, sizeof(sz)));
    EXPECT_STREQ(sz, "single 'quoted'");
    ASSERT_TRUE(xml.GPPS("LSVER500.n0000", sz, sizeof(sz)));
    EXPECT_STREQ(sz, "QUJD");
}

std::string Children(size_t n)
{
    std::string xml = "<LSVER500>";
    char sz[32];
    for (size_t i = 0; i < n; ++i) {
        snprintf(sz, sizeof(sz), "<n%04u/>", static_cast<unsigned>(i));
        xml += sz;
    }
    return xml + "</LSVER500>";
}

// Generated files beyond every bound, and at one of them.
TEST_F(XmlHostile, OversizedFilesAreRefusedOrBounded)
{
    std::string deep;
    for (int i = 0; i < 10000; ++i) deep += "<a>";
    for (int i = 0; i < 10000; ++i) deep += "</a>";
    std::string manyAttributes = "<r";
    for (int i = 0; i < 300; ++i) manyAttributes += " a" + std::to_string(i) + "=''";
    manyAttributes += "/>";
    const struct {
        const char* what;
        std::string bytes;
        bool loads;
    } cases[] = {
        {"root with 100,000 children", Children(100000), true},
        {"root with 100,001 children", Children(100001), false},
        {"attribute value of 1 MB", "<r a='" + std::string(1024 * 1024, 'v') + "'/>", false},
        {"element text of 2 MB", "<r>" + std::string(2 * 1024 * 1024, 't') + "</r>", false},
        {"nesting 10,000 deep", deep, false},
        {"300 attributes", manyAttributes, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = m_dir.File("big.xml");
        ASSERT_TRUE(ktxtest::WriteFileBytes(file, c.bytes));
        TXmlAPI xml(m_pOwner);
        EXPECT_EQ(Load(xml, file), c.loads);
        if (c.loads) {
            std::vector<char> list(c.bytes.size() + 1);
            ASSERT_TRUE(xml.GPPS("LSVER500", nullptr, list.data(), static_cast<DWORD>(c.bytes.size())));
            size_t count = 0;
            for (const char* p = list.data(); *p; p += strlen(p) + 1) ++count;
            EXPECT_EQ(count, 100000u);
        }
    }
}

TEST_F(XmlHostile, FileBeyond64MiBIsRefusedUnread)
{
    std::string file = m_dir.File("huge.xml");
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER pos;
    pos.QuadPart = 64LL * 1024 * 1024 + 1;
    ASSERT_TRUE(SetFilePointerEx(h, pos, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    TXmlAPI xml(m_pOwner);
    ClearLSError(&m_pOwner->rErrHandler);
    EXPECT_FALSE(xml.Init(file.c_str()));
    EXPECT_EQ(m_pOwner->rErrHandler.dwErrCode, static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
}

// Every prefix of a valid safe file is refused (a write cut short anywhere).
TEST_F(XmlHostile, EveryTruncationIsRefused)
{
    const std::string full =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<LSVER500>\r\n\t<n0000 name=\"B&amp;nk\" hash=\"YQ==\">"
        "QUJD</n0000>\r\n\t<n0001 name=\"x\"/><!-- c --><![CDATA[d]]>\r\n</LSVER500>";
    std::string file = m_dir.File("cut.xml");
    TXmlAPI xml(m_pOwner);
    size_t end = full.rfind('>');
    for (size_t n = 0; n < end; ++n) {
        ASSERT_TRUE(ktxtest::WriteFileBytes(file, full.substr(0, n)));
        ASSERT_FALSE(xml.Init(file.c_str())) << n;
    }
    ASSERT_TRUE(ktxtest::WriteFileBytes(file, full));
    EXPECT_TRUE(xml.Init(file.c_str()));
}

}  // namespace
