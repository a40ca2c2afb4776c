// The owner handle and the error record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Cmn32TestUtil.h"
#include "KTXCMN32.h"

using namespace cmn32test;

namespace {

TEST(Owner, OneHandlePerModuleNameCountedUntilTheLastFree)
{
    std::string name = UniqueName("owner");
    TLSOwner* p1 = GetLSOwnerHandle(name.c_str());
    ASSERT_NE(p1, nullptr);
    EXPECT_STREQ(p1->szModule, name.c_str());
    EXPECT_EQ(p1->hOwnerWnd, nullptr);
    EXPECT_FALSE(p1->bDlgPosSet);
    EXPECT_EQ(p1->pStartUpForm, nullptr);
    EXPECT_FALSE(p1->rErrHandler.bFailed);
    EXPECT_EQ(static_cast<void*>(p1), static_cast<void*>(&p1->rErrHandler)) << "the error handler is the first member";
    EXPECT_EQ(LSOwnerErr(p1), &p1->rErrHandler);

    TLSOwner* p2 = GetLSOwnerHandle(name.c_str());
    EXPECT_EQ(p1, p2) << "the same module gets the same owner";
    TLSOwner* pOther = GetLSOwnerHandle((name + "-other").c_str());
    EXPECT_NE(pOther, p1);

    EXPECT_TRUE(FreeLSOwnerHandle(p2));
    EXPECT_STREQ(p1->szModule, name.c_str()) << "still alive after the first free";
    EXPECT_TRUE(FreeLSOwnerHandle(p1));
    EXPECT_TRUE(FreeLSOwnerHandle(pOther));
    EXPECT_FALSE(FreeLSOwnerHandle(p1)) << "a released handle is not freed twice";
    EXPECT_FALSE(FreeLSOwnerHandle(nullptr));

    TLSOwner foreign{};
    EXPECT_FALSE(FreeLSOwnerHandle(&foreign)) << "a handle that did not come from the library is left alone";
}

TEST(ErrorRecord, FirstFailureOfAChainStaysReadable)
{
    OwnerScope owner;
    tag_TLSErrHandler* pErr = owner.Err();
    ClearLSError(pErr);

    EXPECT_TRUE(AddDefError(pErr, true, "ignored", 5, "A::Ok failed!"));
    EXPECT_FALSE(pErr->bFailed) << "success records nothing";

    EXPECT_FALSE(AddDefError(pErr, false, "disk full [112 X.cpp 7]", ERROR_DISK_FULL, "TLSFile::CpyFile failed!"));
    EXPECT_FALSE(AddDefError(pErr, false, "later [5 Y.cpp 9]", ERROR_ACCESS_DENIED, "TfrmDlgSafe::DoListSave failed!"));
    EXPECT_TRUE(pErr->bFailed);
    EXPECT_EQ(pErr->nFailures, 2);
    EXPECT_EQ(pErr->dwErrCode, static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_STREQ(pErr->szDetail, "disk full [112 X.cpp 7]");
    EXPECT_STREQ(pErr->szMessage, "TLSFile::CpyFile failed!");
    EXPECT_STREQ(pErr->szLastMessage, "TfrmDlgSafe::DoListSave failed!");

    ClearLSError(pErr);
    EXPECT_FALSE(pErr->bFailed);
    EXPECT_EQ(pErr->nFailures, 0);
    EXPECT_EQ(pErr->dwErrCode, 0u);
    EXPECT_STREQ(pErr->szDetail, "");
    EXPECT_STREQ(pErr->szMessage, "");
    EXPECT_STREQ(pErr->szLastMessage, "");
}

TEST(ErrorRecord, StandardDetailNamesTextCodeFileAndLine)
{
    OwnerScope owner;
    tag_TLSErrHandler* pErr = owner.Err();
    ClearLSError(pErr);
    SetLastError(ERROR_FILE_NOT_FOUND);
    int nLine = __LINE__ + 1;
    EXPECT_FALSE(LS_DEF_ERROR(pErr, false, "TTest::DoIt failed!"));
    std::string expected = std::string(TLSTools::GetErrTxt(ERROR_FILE_NOT_FOUND)) + " [2 OwnerErrorTest.cpp " +
                           std::to_string(nLine) + "]";
    EXPECT_EQ(std::string(pErr->szDetail), expected) << "the file name without its folder";
    EXPECT_STREQ(pErr->szSrcFile, "OwnerErrorTest.cpp");
    EXPECT_EQ(pErr->dwErrCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(pErr->szMessage, "TTest::DoIt failed!");
}

TEST(ErrorRecord, OverlongTextsAreCutAndTerminated)
{
    OwnerScope owner;
    tag_TLSErrHandler* pErr = owner.Err();
    ClearLSError(pErr);
    std::string longText(3 * LS_TEXT_SIZE, 'x');
    EXPECT_FALSE(AddDefError(pErr, false, longText.c_str(), 1, longText.c_str()));
    EXPECT_EQ(strlen(pErr->szDetail), static_cast<size_t>(LS_TEXT_SIZE - 1));
    EXPECT_EQ(strlen(pErr->szMessage), static_cast<size_t>(LS_TEXT_SIZE - 1));
    EXPECT_EQ(strlen(pErr->szLastMessage), static_cast<size_t>(LS_TEXT_SIZE - 1));
    EXPECT_STREQ(owner.Get()->szModule, owner.Name().c_str()) << "nothing written past the record";
}

TEST(ErrorRecord, NullHandlerAndNullTextsAreTolerated)
{
    ClearLSError(nullptr);
    EXPECT_FALSE(AddDefError(nullptr, false, "x", 1, "y"));
    EXPECT_TRUE(AddDefError(nullptr, true, nullptr, 0, nullptr));
    EXPECT_FALSE(LSAddDefErrorAt(nullptr, false, 2, __FILE__, __LINE__, "z"));

    OwnerScope owner;
    ClearLSError(owner.Err());
    EXPECT_FALSE(AddDefError(owner.Err(), false, nullptr, 3, nullptr));
    EXPECT_TRUE(owner.Err()->bFailed);
    EXPECT_STREQ(owner.Err()->szMessage, "");
    EXPECT_FALSE(LSAddDefErrorAt(owner.Err(), false, 2, nullptr, 1, nullptr));
}

TEST(ErrorRecord, ErrorTextForKnownAndUnknownCodes)
{
    std::string known = TLSTools::GetErrTxt(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(known.empty());
    EXPECT_NE(known.back(), '\n');
    EXPECT_NE(known.back(), '\r');
    const char* pszUnknown = TLSTools::GetErrTxt(0x1234ABCD);
    ASSERT_NE(pszUnknown, nullptr);
    EXPECT_NE(std::string(pszUnknown).find("305441741"), std::string::npos) << pszUnknown;
}

}  // namespace
