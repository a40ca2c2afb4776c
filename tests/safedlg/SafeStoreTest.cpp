// The safe file's version marker and the entry elements of an open safe:
// finding the element that holds the entries, numbering, listing, adding,
// removing and renaming, with every change read back from the file.
#include <gtest/gtest.h>

#include <algorithm>

#include <functional>
#include <string>
#include <vector>

#include "KTXTOOLS.h"
#include "SafeStoreFixture.h"
#include "TestSupport.h"

using namespace safetest;

namespace {

class SafeStore : public SafeStoreFixture {};

std::string Entry(const std::string& tag, const std::string& name)
{
    return "<" + tag + " name=\"" + name + "\"/>";
}

// ---------------------------------------------------------------------------
// Versions
// ---------------------------------------------------------------------------

TEST_F(SafeStore, VersionOfTheConfiguredSafe)
{
    struct Case {
        const char* pszRoot;
        bool bOld;
    };
    const Case cases[] = {
        {"LSVER500", false}, {"lsver500", false}, {"LsVer500", false},
        {"LSVER400", true},  {"LSVER300", true},  {"Tresor", true},
    };
    const std::string configured = m_dir.File("configured.xml");
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, configured.c_str()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszRoot);
        ASSERT_TRUE(ktxtest::WriteFileBytes(configured, SafeXml(Entry("n0000", "a"), c.pszRoot)));
        char szVersion[LS_XMLPATH_SIZE];
        memset(szVersion, 'x', sizeof(szVersion));
        ASSERT_TRUE(m_pDlg->DoGetSafeFileVersion(szVersion));
        EXPECT_STREQ(szVersion, c.pszRoot);
        EXPECT_FALSE(m_pOwner->rErrHandler.bFailed);
        EXPECT_EQ(m_pDlg->IsOldSafeFileVersion(szVersion), c.bOld);
    }
    EXPECT_FALSE(m_pDlg->IsOldSafeFileVersion(nullptr));
    EXPECT_FALSE(m_pDlg->DoGetSafeFileVersion(nullptr));
}

TEST_F(SafeStore, VersionReadLeavesTheOpenSafeAlone)
{
    OpenSafe(SafeXml(Entry("n0000", "Bank") + Entry("n0001", "Mail")));
    ASSERT_TRUE(m_pDlg->DoListSafe());
    const std::vector<std::string> before = Captions();
    ASSERT_EQ(before.size(), 2u);

    struct Case {
        const char* pszName;
        const char* pszConfiguredXml;   // null: the configured file does not exist
        bool bResult;
        const char* pszVersion;
    };
    const std::string legacy = SafeXml(Entry("n0000", "old"), "LSVER300");
    const Case cases[] = {
        {"another safe of an older generation", legacy.c_str(), true, "LSVER300"},
        {"configured file missing", nullptr, false, ""},
        {"configured file not a document", "not xml at all", false, ""},
    };
    const std::string configured = m_dir.File("other.xml");
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, configured.c_str()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        DeleteFileA(configured.c_str());
        if (c.pszConfiguredXml) {
            ASSERT_TRUE(ktxtest::WriteFileBytes(configured, c.pszConfiguredXml));
        }
        char szVersion[LS_XMLPATH_SIZE] = "before";
        EXPECT_EQ(m_pDlg->DoGetSafeFileVersion(szVersion), c.bResult);
        EXPECT_STREQ(szVersion, c.pszVersion);
        if (!c.bResult) {
            EXPECT_STREQ(m_pOwner->rErrHandler.szLastMessage, "TfrmDlgSafe::DoGetSafeFileVersion failed!");
        }

        // The open document, its entries and the list are as they were.
        char szRoot[LS_XMLPATH_SIZE] = {};
        ASSERT_TRUE(m_pDlg->pXml->GetRootTag(szRoot, sizeof(szRoot)));
        EXPECT_STREQ(szRoot, "LSVER500");
        char szTag[LS_XMLPATH_SIZE] = {};
        EXPECT_TRUE(m_pDlg->GetTagByAttr("mail", szTag));
        EXPECT_STREQ(szTag, "LSVER500.n0001");
        EXPECT_EQ(Captions(), before);
    }
}

TEST_F(SafeStore, VersionWithoutConfiguredSafe)
{
    char szVersion[LS_XMLPATH_SIZE] = "before";
    EXPECT_FALSE(m_pDlg->DoGetSafeFileVersion(szVersion));
    EXPECT_STREQ(szVersion, "");
    EXPECT_STREQ(m_pOwner->rErrHandler.szLastMessage, "TfrmDlgSafe::DoGetSafeFileVersion failed!");
}

// ---------------------------------------------------------------------------
// Numbers of new entries
// ---------------------------------------------------------------------------

TEST_F(SafeStore, NextFreeNumberIsTheSmallestUnused)
{
    struct Case {
        const char* pszName;
        std::vector<const char*> tags;
        int nExpected;
    };
    const Case cases[] = {
        {"empty safe", {}, 0},
        {"one entry", {"n0000"}, 1},
        {"used numbers in reverse order", {"n0001", "n0000"}, 2},
        {"a gap is reused", {"n0000", "n0002"}, 1},
        {"a gap at the start", {"n0001", "n0002"}, 0},
        {"tag names compared without regard to case", {"N0000", "n0001"}, 2},
        {"other element names use no number", {"n0000", "entry", "n01", "nx001", "n0001"}, 2},
        {"fewer than four digits are no entry number", {"n0", "n000"}, 0},
        {"five digits with a leading zero are no entry number", {"n0000", "n00001"}, 1},
        {"numbers beyond four digits", {"n0000", "n10000", "n0001"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::string body;
        for (size_t i = 0; i < c.tags.size(); ++i) body += Entry(c.tags[i], "e" + std::to_string(i));
        OpenSafe(SafeXml(body));
        int nNum = -1;
        ASSERT_TRUE(m_pDlg->GetNextFreeTagNum(&nNum));
        EXPECT_EQ(nNum, c.nExpected);
    }
}

TEST_F(SafeStore, NextFreeNumberInALargeSafe)
{
    // 3000 entries with one gap far inside, and one past the end.
    std::string body;
    for (int n = 0; n < 3000; ++n) {
        if (n == 2345) continue;
        char szTag[16];
        snprintf(szTag, sizeof(szTag), "n%4.4d", n);
        body += Entry(szTag, "entry " + std::to_string(n));
    }
    OpenSafe(SafeXml(body));
    int nNum = -1;
    ASSERT_TRUE(m_pDlg->GetNextFreeTagNum(&nNum));
    EXPECT_EQ(nNum, 2345);
    ASSERT_TRUE(m_pDlg->DoAddSafe("filler"));
    ASSERT_TRUE(m_pDlg->GetNextFreeTagNum(&nNum));
    EXPECT_EQ(nNum, 3000);
}

// ---------------------------------------------------------------------------
// Adding, removing, renaming
// ---------------------------------------------------------------------------

TEST_F(SafeStore, AddedEntryTakesTheNextNumberAndIsWritten)
{
    OpenSafe(SafeXml(Entry("n0001", "b") + Entry("n0000", "a")));
    ASSERT_TRUE(m_pDlg->DoAddSafe("c"));
    const ChildList expected = {{"n0001", "b"}, {"n0000", "a"}, {"n0002", "c"}};
    EXPECT_EQ(FileChildren(), expected);
    // A new entry has an empty text and no hash until it is first stored.
    EXPECT_EQ(FileText("LSVER500.n0002"), "");
    EXPECT_EQ(FileAtt("LSVER500.n0002", "hash"), "");
}

TEST_F(SafeStore, GapLeftByRemovalIsReusedAtTheEnd)
{
    NewSafe();
    for (const char* pszName : {"a", "b", "c"}) ASSERT_TRUE(m_pDlg->DoAddSafe(pszName));
    ASSERT_TRUE(m_pDlg->DoRmvSafe("B"));
    EXPECT_EQ(FileChildren(), (ChildList{{"n0000", "a"}, {"n0002", "c"}}));
    ASSERT_TRUE(m_pDlg->DoAddSafe("d"));
    EXPECT_EQ(FileChildren(), (ChildList{{"n0000", "a"}, {"n0002", "c"}, {"n0001", "d"}}));
    char szTag[LS_XMLPATH_SIZE] = {};
    ASSERT_TRUE(m_pDlg->GetTagByAttr("d", szTag));
    EXPECT_STREQ(szTag, "LSVER500.n0001");
}

TEST_F(SafeStore, RemovingTheOnlyEntryLeavesAnEmptySafe)
{
    NewSafe();
    ASSERT_TRUE(m_pDlg->DoAddSafe("only"));
    ASSERT_TRUE(m_pDlg->DoListSafe());
    EXPECT_EQ(Captions(), std::vector<std::string>{"only"});
    ASSERT_TRUE(m_pDlg->DoRmvSafe("only"));
    EXPECT_TRUE(FileChildren().empty());
    ASSERT_TRUE(m_pDlg->DoListSafe());
    EXPECT_TRUE(Captions().empty());
    char szMain[LS_XMLPATH_SIZE] = {};
    ASSERT_TRUE(m_pDlg->GetXMLMainTag(szMain));
    EXPECT_STREQ(szMain, "LSVER500");
}

TEST_F(SafeStore, RenameInOtherLetterCase)
{
    OpenSafe(SafeXml(Entry("n0000", "Bank") + Entry("n0001", "Mail")));
    ASSERT_TRUE(m_pDlg->DoRenameEntry("bank", "BANK"));
    EXPECT_EQ(FileChildren(), (ChildList{{"n0000", "BANK"}, {"n0001", "Mail"}}));
    for (const char* pszLookup : {"bank", "Bank", "BANK", "bAnK"}) {
        char szTag[LS_XMLPATH_SIZE] = {};
        EXPECT_TRUE(m_pDlg->GetTagByAttr(pszLookup, szTag)) << pszLookup;
        EXPECT_STREQ(szTag, "LSVER500.n0000") << pszLookup;
    }
    ASSERT_TRUE(m_pDlg->DoRenameEntry("mail", "Post"));
    EXPECT_EQ(FileChildren(), (ChildList{{"n0000", "BANK"}, {"n0001", "Post"}}));
}

TEST_F(SafeStore, RefusedChangesLeaveTheFileUntouched)
{
    OpenSafe(SafeXml(Entry("n0000", "Bank") + Entry("n0001", "Mail")));
    const std::string before = FileBytes();
    struct Case {
        const char* pszName;
        std::function<bool()> change;
        const char* pszFailure;
    };
    const Case cases[] = {
        {"empty new name", [&] { return m_pDlg->DoRenameEntry("Bank", ""); }, "TfrmDlgSafe::DoRenameEntry failed!"},
        {"empty old name", [&] { return m_pDlg->DoRenameEntry("", "x"); }, "TfrmDlgSafe::DoRenameEntry failed!"},
        {"null new name", [&] { return m_pDlg->DoRenameEntry("Bank", nullptr); }, "TfrmDlgSafe::DoRenameEntry failed!"},
        {"rename of a missing entry", [&] { return m_pDlg->DoRenameEntry("Shop", "x"); },
         "TfrmDlgSafe::DoRenameEntry failed!"},
        {"removal of a missing entry", [&] { return m_pDlg->DoRmvSafe("Shop"); }, "TfrmDlgSafe::DoRmvSave failed!"},
        {"removal of a part of a name", [&] { return m_pDlg->DoRmvSafe("Ban"); }, "TfrmDlgSafe::DoRmvSave failed!"},
        {"removal without a name", [&] { return m_pDlg->DoRmvSafe(nullptr); }, "TfrmDlgSafe::DoRmvSave failed!"},
        {"addition without a name", [&] { return m_pDlg->DoAddSafe(nullptr); }, "TfrmDlgSafe::DoAddSave failed!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_FALSE(c.change());
        EXPECT_TRUE(m_pOwner->rErrHandler.bFailed);
        EXPECT_STREQ(m_pOwner->rErrHandler.szLastMessage, c.pszFailure);
        EXPECT_EQ(FileBytes(), before);
    }
    char szTag[LS_XMLPATH_SIZE] = {};
    EXPECT_TRUE(m_pDlg->GetTagByAttr("Bank", szTag));
}

// ---------------------------------------------------------------------------
// Lookups and the list
// ---------------------------------------------------------------------------

TEST_F(SafeStore, ListIsSortedAndItsTopItemSelected)
{
    OpenSafe(SafeXml(Entry("n0000", "zeta") + Entry("n0001", "Alpha") + Entry("n0002", "mid")));
    m_pDlg->lstvBezeichnung->Items()->Add("left over from before");
    ASSERT_TRUE(m_pDlg->DoListSafe());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Alpha", "mid", "zeta"}));
    ASSERT_NE(m_pDlg->lstvBezeichnung->Selected(), nullptr);
    EXPECT_EQ(m_pDlg->lstvBezeichnung->Selected()->Caption(), "Alpha");
}

TEST_F(SafeStore, NamesDifferingInCaseAddressTheFirst)
{
    OpenSafe(SafeXml(Entry("n0000", "Same") + Entry("n0001", "same")));
    char szTag[LS_XMLPATH_SIZE] = {};
    ASSERT_TRUE(m_pDlg->GetTagByAttr("sAME", szTag));
    EXPECT_STREQ(szTag, "LSVER500.n0000");
    EXPECT_FALSE(m_pDlg->GetTagByAttr("Sam", szTag));
    EXPECT_STREQ(szTag, "");
    EXPECT_FALSE(m_pOwner->rErrHandler.bFailed) << "not found is no failure";
}

TEST_F(SafeStore, EntriesBelowTheFirstChildAreFound)
{
    OpenSafe(SafeXml("<Tresor><Eintraege>" + Entry("n0000", "deep b") + Entry("n0001", "deep a") +
                     "</Eintraege></Tresor>"));
    char szMain[LS_XMLPATH_SIZE] = {};
    ASSERT_TRUE(m_pDlg->GetXMLMainTag(szMain));
    EXPECT_STREQ(szMain, "LSVER500.Tresor.Eintraege");
    ASSERT_TRUE(m_pDlg->DoListSafe());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"deep a", "deep b"}));
    ASSERT_TRUE(m_pDlg->DoAddSafe("new"));
    EXPECT_EQ(FileAtt("LSVER500.Tresor.Eintraege.n0002", "name"), "new");
    ASSERT_TRUE(m_pDlg->DoRmvSafe("deep b"));
    EXPECT_EQ(FileChildren("LSVER500.Tresor.Eintraege"), (ChildList{{"n0001", "deep a"}, {"n0002", "new"}}));
}

TEST_F(SafeStore, MainTagSearchEndsAfterTenLevels)
{
    struct Case {
        int nLevels;   // unnamed levels above the entries
        bool bFound;
    };
    for (const Case& c : {Case{9, true}, Case{10, false}}) {
        SCOPED_TRACE(c.nLevels);
        std::string open, close, main = "LSVER500";
        for (int i = 0; i < c.nLevels; ++i) {
            open += "<l" + std::to_string(i) + ">";
            close = "</l" + std::to_string(i) + ">" + close;
            main += ".l" + std::to_string(i);
        }
        OpenSafe(SafeXml(open + Entry("n0000", "e") + close));
        char szMain[LS_XMLPATH_SIZE] = "before";
        EXPECT_EQ(m_pDlg->GetXMLMainTag(szMain), c.bFound);
        EXPECT_STREQ(szMain, c.bFound ? main.c_str() : "");
        if (!c.bFound) {
            EXPECT_STREQ(m_pOwner->rErrHandler.szMessage, "TfrmDlgSafe::GetXMLMainTag failed!");
        }
    }
}

TEST_F(SafeStore, ElementWithoutNameEndsTheListing)
{
    OpenSafe(SafeXml(Entry("n0000", "b") + Entry("n0001", "a") + "<n0002/>" + Entry("n0003", "c")));
    EXPECT_FALSE(m_pDlg->DoListSafe());
    EXPECT_STREQ(m_pOwner->rErrHandler.szLastMessage, "TfrmDlgSafe::DoListSave failed!");
    EXPECT_EQ(Captions(), (std::vector<std::string>{"a", "b"}));
    char szTag[LS_XMLPATH_SIZE] = {};
    EXPECT_TRUE(m_pDlg->GetTagByAttr("a", szTag));
    EXPECT_FALSE(m_pDlg->GetTagByAttr("c", szTag)) << "an entry behind the unnamed element";
}

TEST_F(SafeStore, TheOpenDocumentCountsWhenItsFileIsRemovedOrEmptied)
{
    for (bool bEmptyFile : {false, true}) {
        SCOPED_TRACE(bEmptyFile ? "emptied file" : "removed file");
        OpenSafe(SafeXml(Entry("n0000", "a")));
        ASSERT_TRUE(m_pDlg->DoListSafe());
        ASSERT_EQ(Captions().size(), 1u);
        // The document stays open while its file goes away.
        if (bEmptyFile) {
            ASSERT_TRUE(ktxtest::WriteFileBytes(m_safePath, ""));
        } else {
            ASSERT_TRUE(DeleteFileA(m_safePath.c_str()));
        }

        // Lookups, numbering and listing work on the document as it is.
        EXPECT_TRUE(m_pDlg->DoListSafe());
        EXPECT_EQ(Captions(), std::vector<std::string>{"a"});
        char szMain[LS_XMLPATH_SIZE] = {};
        EXPECT_TRUE(m_pDlg->GetXMLMainTag(szMain));
        EXPECT_STREQ(szMain, "LSVER500");
        char szTag[LS_XMLPATH_SIZE] = {};
        EXPECT_TRUE(m_pDlg->GetTagByAttr("a", szTag));
        int nNum = -1;
        EXPECT_TRUE(m_pDlg->GetNextFreeTagNum(&nNum));
        EXPECT_EQ(nNum, 1);
        // The next change writes the whole safe again.
        EXPECT_TRUE(m_pDlg->DoAddSafe("b"));
        EXPECT_EQ(FileChildren(), (ChildList{{"n0000", "a"}, {"n0001", "b"}}));
    }
}

// ---------------------------------------------------------------------------
// A write that fails
// ---------------------------------------------------------------------------

TEST_F(SafeStore, AFailedWriteTakesItsChangeBackSoDocumentAndFileAgree)
{
    OpenSafe(SafeXml(Entry("n0000", "a") + Entry("n0001", "b")));
    const std::string before = FileBytes();
    {
        FileLock lock(m_safePath);
        ASSERT_TRUE(lock.Held());
        EXPECT_FALSE(m_pDlg->DoAddSafe("added"));
        EXPECT_STREQ(m_pOwner->rErrHandler.szLastMessage, "TfrmDlgSafe::DoAddSave failed!");
        EXPECT_NE(m_pOwner->rErrHandler.dwErrCode, 0u) << "the cause of the failure is kept";
        EXPECT_FALSE(m_pDlg->DoRenameEntry("a", "renamed"));
        EXPECT_STREQ(m_pOwner->rErrHandler.szLastMessage, "TfrmDlgSafe::DoRenameEntry failed!");
        EXPECT_FALSE(m_pDlg->DoRmvSafe("b"));
        EXPECT_STREQ(m_pOwner->rErrHandler.szLastMessage, "TfrmDlgSafe::DoRmvSave failed!");

        // None of the failed changes is in the document.
        char szTag[LS_XMLPATH_SIZE] = {};
        EXPECT_FALSE(m_pDlg->GetTagByAttr("added", szTag));
        EXPECT_FALSE(m_pDlg->GetTagByAttr("renamed", szTag));
        EXPECT_TRUE(m_pDlg->GetTagByAttr("a", szTag));
        EXPECT_STREQ(szTag, "LSVER500.n0000");
        EXPECT_TRUE(m_pDlg->GetTagByAttr("b", szTag));
        EXPECT_TRUE(m_pDlg->DoListSafe());
        EXPECT_EQ(Captions(), (std::vector<std::string>{"a", "b"}));
    }
    EXPECT_EQ(FileBytes(), before) << "the safe file was changed by a failed write";
    // The next write that succeeds carries its own change only.
    ASSERT_TRUE(m_pDlg->DoAddSafe("after"));
    const ChildList children = FileChildren();
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0], (std::pair<std::string, std::string>{"n0000", "a"}));
    EXPECT_EQ(children[2], (std::pair<std::string, std::string>{"n0002", "after"}));
    std::vector<std::string> names;
    for (const auto& c : children) names.push_back(c.second);
    EXPECT_NE(std::find(names.begin(), names.end(), "b"), names.end()) << "the failed removal was not carried out later";
}

}  // namespace
