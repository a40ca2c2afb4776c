// TXmlAPI with real files under Wine: paths, child listing, attributes, ANSI
// texts, atomic writing and its failures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KTXCMN32.h"
#include "TestSupport.h"

using ktxtest::TempDir;

namespace {

class XmlApi : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pOwner = GetLSOwnerHandle("test_cmn32core.exe");
        ASSERT_NE(m_pOwner, nullptr);
        ASSERT_FALSE(m_dir.Path().empty());
    }
    void TearDown() override { FreeLSOwnerHandle(m_pOwner); }

    std::string Text(TXmlAPI& xml, const char* path)
    {
        char sz[LS_TEXT_SIZE];
        if (!xml.GPPS(path, sz, sizeof(sz))) return "<missing>";
        return sz;
    }
    std::string Att(TXmlAPI& xml, const char* path, const char* attr)
    {
        char sz[LS_TEXT_SIZE];
        if (!xml.GetAtt(path, attr, sz, sizeof(sz))) return "<missing>";
        return sz;
    }
    // The child names as one string "a,b,c".
    std::string Children(TXmlAPI& xml, const char* path)
    {
        std::vector<char> buf(65536);
        if (!xml.GPPS(path, nullptr, buf.data(), static_cast<DWORD>(buf.size()))) return "<failed>";
        std::string s;
        for (const char* p = buf.data(); *p; p += strlen(p) + 1) {
            if (!s.empty()) s += ",";
            s += p;
        }
        return s;
    }
    // The files in the test folder (to see that no temporary file is left).
    std::vector<std::string> Files()
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((m_dir.Path() + "\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, "..")) names.push_back(fd.cFileName);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
        return names;
    }

    TLSOwner* m_pOwner = nullptr;
    TempDir m_dir;
};

TEST_F(XmlApi, SafeShapedDocumentRoundTripsThroughItsFile)
{
    std::string file = m_dir.File("Safe.xml");
    {
        TXmlAPI xml(m_pOwner);
        ASSERT_TRUE(xml.New("LSVER500"));
        ASSERT_TRUE(xml.PPPS("LSVER500.n0000", "QUJDRA=="));
        ASSERT_TRUE(xml.PutAtt("LSVER500.n0000", "name", "Bank"));
        ASSERT_TRUE(xml.PutAtt("LSVER500.n0000", "hash", "MzJjaGFycw=="));
        ASSERT_TRUE(xml.PPPS("LSVER500.n0001", ""));
        ASSERT_TRUE(xml.PutAtt("LSVER500.n0001", "name", "Mail"));
        ASSERT_TRUE(xml.Write(file.c_str(), nullptr));
    }
    std::string bytes = ktxtest::ReadFileBytes(file);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);

    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.Init(file.c_str()));
    char szRoot[LS_XMLPATH_SIZE];
    ASSERT_TRUE(xml.GetRootTag(szRoot));
    EXPECT_STREQ(szRoot, "LSVER500");
    EXPECT_EQ(Children(xml, "LSVER500"), "n0000,n0001");
    EXPECT_EQ(Text(xml, "LSVER500.n0000"), "QUJDRA==");
    EXPECT_EQ(Att(xml, "LSVER500.n0000", "name"), "Bank");
    EXPECT_EQ(Att(xml, "LSVER500.n0000", "hash"), "MzJjaGFycw==");
    EXPECT_EQ(Text(xml, "LSVER500.n0001"), "");
    EXPECT_EQ(Att(xml, "LSVER500.n0001", "hash"), "<missing>");
    // The child form of GPPS reads the child's text.
    char sz[LS_TEXT_SIZE];
    ASSERT_TRUE(xml.GPPS("LSVER500", "n0000", sz, sizeof(sz)));
    EXPECT_STREQ(sz, "QUJDRA==");
}

TEST_F(XmlApi, PathsIgnoreCaseAndNewElementsGoToTheEnd)
{
    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.New("LSVER500"));
    for (const char* name : {"n0000", "n0001", "n0002"}) {
        ASSERT_TRUE(xml.PPPS((std::string("LSVER500.") + name).c_str(), ""));
    }
    ASSERT_TRUE(xml.PPPS("lsver500.N0001", "text"));   // the existing element
    EXPECT_EQ(Children(xml, "LSVER500"), "n0000,n0001,n0002");
    EXPECT_EQ(Text(xml, "LSVER500.n0001"), "text");
    ASSERT_TRUE(xml.PPPS("LSVER500.n0001", nullptr));
    EXPECT_EQ(Text(xml, "LSVER500.n0001"), "<missing>");
    ASSERT_TRUE(xml.PPPS("LSVER500.n0001", ""));
    EXPECT_EQ(Children(xml, "LSVER500"), "n0000,n0002,n0001");
    // Missing elements along a path are created; a null text removes the subtree.
    ASSERT_TRUE(xml.PPPS("LSVER500.Sub.Deeper.Leaf", "x"));
    ASSERT_TRUE(xml.PutAtt("LSVER500.Sub.Deeper", "name", "v"));
    EXPECT_EQ(Children(xml, "LSVER500.sub"), "Deeper");
    ASSERT_TRUE(xml.PPPS("LSVER500.SUB", nullptr));
    EXPECT_EQ(Text(xml, "LSVER500.Sub.Deeper.Leaf"), "<missing>");
    EXPECT_EQ(Children(xml, "LSVER500"), "n0000,n0002,n0001");
    // What cannot be done is refused and recorded.
    ClearLSError(&m_pOwner->rErrHandler);
    EXPECT_FALSE(xml.PPPS("LSVER500.missing", nullptr));
    EXPECT_TRUE(m_pOwner->rErrHandler.bFailed);
    EXPECT_STREQ(m_pOwner->rErrHandler.szMessage, "TXmlAPI::PPPS failed!");
    EXPECT_FALSE(xml.PPPS("LSVER500", nullptr));   // the root stays
    EXPECT_FALSE(xml.PPPS("Other.n0000", "x"));    // a second root
    EXPECT_FALSE(xml.PPPS("LSVER500.a b", "x"));
    EXPECT_FALSE(xml.PPPS(nullptr, "x"));
    EXPECT_FALSE(xml.PutAtt("LSVER500.missing", "name", "v"));
    EXPECT_FALSE(xml.PutAtt("LSVER500.n0000", "name", nullptr));
    EXPECT_FALSE(xml.New("bad name"));
    // Lookups answer false without recording anything.
    ClearLSError(&m_pOwner->rErrHandler);
    EXPECT_EQ(Att(xml, "LSVER500.n0000", "name"), "<missing>");
    EXPECT_EQ(Text(xml, "LSVER500.nothing"), "<missing>");
    EXPECT_FALSE(m_pOwner->rErrHandler.bFailed);
}

TEST_F(XmlApi, PutAttReplacesAndAttributeNamesAreExact)
{
    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.New("R"));
    ASSERT_TRUE(xml.PutAtt("R", "name", "one"));
    ASSERT_TRUE(xml.PutAtt("r", "name", "two"));
    EXPECT_EQ(Att(xml, "R", "name"), "two");
    EXPECT_EQ(Att(xml, "R", "Name"), "<missing>");
}

TEST_F(XmlApi, ChildListingRespectsTheCapacityExactly)
{
    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.New("LSVER500"));
    char buf[64];
    // No children: just the closing empty name.
    memset(buf, 0x5A, sizeof(buf));
    ASSERT_TRUE(xml.GPPS("LSVER500", nullptr, buf, 1));
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 0x5A);
    ASSERT_TRUE(xml.PPPS("LSVER500.n0000", ""));
    ASSERT_TRUE(xml.PPPS("LSVER500.n10000", ""));
    // "n0000\0n10000\0\0" is 14 bytes.
    memset(buf, 0x5A, sizeof(buf));
    ASSERT_TRUE(xml.GPPS("LSVER500", nullptr, buf, 14));
    EXPECT_EQ(memcmp(buf, "n0000\0n10000\0\0", 14), 0);
    EXPECT_EQ(buf[14], 0x5A);
    memset(buf, 0x5A, sizeof(buf));
    EXPECT_FALSE(xml.GPPS("LSVER500", nullptr, buf, 13));
    EXPECT_EQ(buf[0], '\0');   // reads as an empty list
    for (int i = 13; i < 64; ++i) ASSERT_EQ(buf[i], 0x5A) << i;
    EXPECT_FALSE(xml.GPPS("LSVER500", nullptr, buf, 0));
    EXPECT_FALSE(xml.GPPS("LSVER500.missing", nullptr, buf, sizeof(buf)));

    // Texts and attribute values: N characters need N + 1 bytes.
    ASSERT_TRUE(xml.PPPS("LSVER500.n0000", "12345"));
    ASSERT_TRUE(xml.PutAtt("LSVER500.n0000", "name", "abcd"));
    memset(buf, 0x5A, sizeof(buf));
    EXPECT_TRUE(xml.GPPS("LSVER500.n0000", buf, 6));
    EXPECT_STREQ(buf, "12345");
    memset(buf, 0x5A, sizeof(buf));
    EXPECT_FALSE(xml.GPPS("LSVER500.n0000", buf, 5));
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[5], 0x5A);
    EXPECT_TRUE(xml.GetAtt("LSVER500.n0000", "name", buf, 5));
    EXPECT_STREQ(buf, "abcd");
    EXPECT_FALSE(xml.GetAtt("LSVER500.n0000", "name", buf, 4));
    char szRoot[9];
    EXPECT_TRUE(xml.GetRootTag(szRoot, 9));
    EXPECT_FALSE(xml.GetRootTag(szRoot, 8));
}

// Every byte of the ANSI code page that XML can carry survives writing and
// reading; the file holds it as UTF-8.
TEST_F(XmlApi, AnsiTextsRoundTripThroughUtf8Files)
{
    ASSERT_EQ(GetACP(), 1252u) << "the expectations below are for windows-1252";
    std::string all = "\t\r\n";
    for (int c = 0x20; c <= 0xFF; ++c) all.push_back(static_cast<char>(c));
    std::string file = m_dir.File("ansi.xml");
    {
        TXmlAPI xml(m_pOwner);
        ASSERT_TRUE(xml.New("R\xf6\xf6t"));
        ASSERT_TRUE(xml.PPPS("R\xf6\xf6t.M\xfcller", all.c_str()));
        ASSERT_TRUE(xml.PutAtt("R\xf6\xf6t.M\xfcller", "name", all.c_str()));
        ASSERT_TRUE(xml.PPPS("R\xf6\xf6t.leaf", "  "));
        ASSERT_TRUE(xml.Write(file.c_str(), nullptr));
    }
    std::string bytes = ktxtest::ReadFileBytes(file);
    EXPECT_NE(bytes.find("<M\xc3\xbcller name=\""), std::string::npos);
    EXPECT_NE(bytes.find("\xe2\x82\xac"), std::string::npos);   // the euro sign, 0x80
    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.Init(file.c_str()));
    EXPECT_EQ(Text(xml, "R\xd6\xd6T.m\xdcller"), all);   // case ignored beyond ASCII too
    EXPECT_EQ(Att(xml, "R\xf6\xf6t.M\xfcller", "name"), all);
    EXPECT_EQ(Text(xml, "R\xf6\xf6t.leaf"), "  ");
    EXPECT_EQ(Children(xml, "R\xf6\xf6t"), "M\xfcller,leaf");
}

TEST_F(XmlApi, ControlCharactersXmlCannotCarryAreRefused)
{
    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.New("R"));
    for (int c = 1; c < 0x20; ++c) {
        if (c == '\t' || c == '\n' || c == '\r') continue;
        char sz[4] = {'a', static_cast<char>(c), 'b', 0};
        EXPECT_FALSE(xml.PPPS("R.x", sz)) << c;
        EXPECT_FALSE(xml.PutAtt("R", "a", sz)) << c;
    }
    EXPECT_EQ(Children(xml, "R"), "");
}

TEST_F(XmlApi, InitOfAMissingOrDamagedFileEmptiesTheDocument)
{
    std::string good = m_dir.File("good.xml");
    ASSERT_TRUE(ktxtest::WriteFileBytes(good, "<LSVER400><a name='x'/></LSVER400>"));
    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.Init(good.c_str()));
    char szRoot[LS_XMLPATH_SIZE];
    ASSERT_TRUE(xml.GetRootTag(szRoot));
    EXPECT_STREQ(szRoot, "LSVER400");

    ClearLSError(&m_pOwner->rErrHandler);
    EXPECT_FALSE(xml.Init(m_dir.File("missing.xml").c_str()));
    EXPECT_TRUE(m_pOwner->rErrHandler.bFailed);
    EXPECT_EQ(m_pOwner->rErrHandler.dwErrCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(m_pOwner->rErrHandler.szMessage, "TXmlAPI::Init failed!");
    EXPECT_FALSE(xml.GetRootTag(szRoot));
    EXPECT_STREQ(szRoot, "");

    ASSERT_TRUE(xml.Init(good.c_str()));
    std::string bad = m_dir.File("bad.xml");
    ASSERT_TRUE(ktxtest::WriteFileBytes(bad, "<LSVER500><a></LSVER500>"));
    EXPECT_FALSE(xml.Init(bad.c_str()));
    EXPECT_FALSE(xml.GetRootTag(szRoot));
    EXPECT_FALSE(xml.PPPS("LSVER500.a", "x"));
    EXPECT_FALSE(xml.Write(m_dir.File("out.xml").c_str(), nullptr));
    EXPECT_FALSE(ktxtest::FileExists(m_dir.File("out.xml")));
    EXPECT_FALSE(xml.Init(nullptr));
}

// A write that cannot complete returns false with the cause recorded, leaves
// the old file whole and no temporary file behind.
TEST_F(XmlApi, FailedWritesKeepTheOldFile)
{
    const std::string old = "<?xml version=\"1.0\"?><LSVER500><n0000 name=\"old\"/></LSVER500>";
    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.New("LSVER500"));
    ASSERT_TRUE(xml.PPPS("LSVER500.n0000", "new"));

    struct Case {
        const char* what;
        DWORD dwExpectedError;
    };
    const Case cases[] = {
        {"read-only target", ERROR_ACCESS_DENIED},
        {"target held open by another handle", ERROR_ACCESS_DENIED},
        {"target is a folder", ERROR_ACCESS_DENIED},
        {"folder missing", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = std::string("case") + std::to_string(&c - cases);
        std::string file = m_dir.File(name + ".xml");
        HANDLE hHeld = INVALID_HANDLE_VALUE;
        if (strcmp(c.what, "read-only target") == 0) {
            ASSERT_TRUE(ktxtest::WriteFileBytes(file, old));
            ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
        } else if (strcmp(c.what, "target held open by another handle") == 0) {
            ASSERT_TRUE(ktxtest::WriteFileBytes(file, old));
            hHeld = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
            ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
        } else if (strcmp(c.what, "target is a folder") == 0) {
            ASSERT_TRUE(CreateDirectoryA(file.c_str(), nullptr));
        } else {
            file = m_dir.File("no-such-folder\\" + name + ".xml");
        }
        std::vector<std::string> before = Files();

        ClearLSError(&m_pOwner->rErrHandler);
        EXPECT_FALSE(xml.Write(file.c_str(), nullptr));
        EXPECT_TRUE(m_pOwner->rErrHandler.bFailed);
        EXPECT_EQ(m_pOwner->rErrHandler.dwErrCode, c.dwExpectedError);
        EXPECT_STREQ(m_pOwner->rErrHandler.szMessage, "TXmlAPI::Write failed!");
        EXPECT_NE(strstr(m_pOwner->rErrHandler.szDetail, "XmlAPI.cpp"), nullptr) << m_pOwner->rErrHandler.szDetail;

        if (hHeld != INVALID_HANDLE_VALUE) CloseHandle(hHeld);
        if (ktxtest::FileExists(file)) {
            EXPECT_EQ(ktxtest::ReadFileBytes(file), old);
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        EXPECT_EQ(Files(), before);
    }
}

TEST_F(XmlApi, WriteReplacesTheFileAndKeepsItsHiddenMark)
{
    std::string file = m_dir.File("Safe.xml");
    ASSERT_TRUE(ktxtest::WriteFileBytes(file, std::string(100000, ' ') + "<old/>"));
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    TXmlAPI xml(m_pOwner);
    ASSERT_TRUE(xml.New("LSVER500"));
    ASSERT_TRUE(xml.Write(file.c_str(), nullptr));
    DWORD dwAttrs = GetFileAttributesA(file.c_str());
    EXPECT_TRUE(dwAttrs & FILE_ATTRIBUTE_HIDDEN) << std::hex << dwAttrs;
    EXPECT_EQ(ktxtest::ReadFileBytes(file), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<LSVER500/>\r\n");
    EXPECT_EQ(Files(), std::vector<std::string>{"Safe.xml"});
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
