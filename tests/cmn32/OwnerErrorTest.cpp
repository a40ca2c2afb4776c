// The owner handle and the error record.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "Cmn32TestUtil.h"
#include "KTXCMN32.h"
#include "TestSupport.h"

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

// Recording a failure formats its text (the system text of the code, a trace
// line); the thread's error code stays as the caller set it, so a caller that
// records and then reads GetLastError() still sees its own cause.
TEST(ErrorRecord, RecordingLeavesTheCallersLastErrorAlone)
{
    OwnerScope owner;
    tag_TLSErrHandler* pErr = owner.Err();
    struct Case {
        const char* name;
        DWORD dwCallers;               // the thread's code when the failure is recorded
        bool bEarlierFailure;          // a failure of the same chain was recorded before
        std::function<bool()> record;
    } cases[] = {
        {"standard detail of a system code", ERROR_ACCESS_DENIED, false,
         [&] { return LS_DEF_ERROR(pErr, false, "TTest::Known failed!"); }},
        {"standard detail of a code without system text", 0x1234ABCD, false,
         [&] { return LS_DEF_ERROR(pErr, false, "TTest::Unknown failed!"); }},
        {"standard detail of another code than the thread's", ERROR_SHARING_VIOLATION, false,
         [&] { return LSAddDefErrorAt(pErr, false, static_cast<DWORD>(E_FAIL), __FILE__, __LINE__, "TTest::Hr failed!"); }},
        {"given detail and code", ERROR_LOCK_VIOLATION, false,
         [&] { return AddDefError(pErr, false, "detail [33 X.cpp 1]", ERROR_DISK_FULL, "TTest::Given failed!"); }},
        {"later failure of a chain", ERROR_PATH_NOT_FOUND, true,
         [&] { return LS_DEF_ERROR(pErr, false, "TTest::Later failed!"); }},
        {"success", ERROR_INVALID_DATA, false, [&] { return !LS_DEF_ERROR(pErr, true, "TTest::Ok failed!"); }},
        {"no record to write to", ERROR_BAD_LENGTH, false,
         [&] { return LSAddDefErrorAt(nullptr, false, 0x1234ABCD, __FILE__, __LINE__, "TTest::Null failed!"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearLSError(pErr);
        if (c.bEarlierFailure) AddDefError(pErr, false, "first", ERROR_FILE_NOT_FOUND, "TTest::First failed!");
        SetLastError(c.dwCallers);
        EXPECT_FALSE(c.record());
        EXPECT_EQ(GetLastError(), c.dwCallers);
    }
}

// A failing call of the library leaves the code it recorded as the thread's
// error code, as a failing system call does.
TEST(ErrorRecord, FailingLibraryCallLeavesTheRecordedCode)
{
    OwnerScope owner;
    tag_TLSErrHandler* pErr = owner.Err();
    ktxtest::TempDir dir;
    ASSERT_TRUE(ktxtest::WriteFileBytes(dir.File("a.txt"), "x"));
    TLSFile file(owner.Get());
    TLSTools tools(owner.Get());
    BYTE abBin[16];
    DWORD cbBin = sizeof(abBin);
    char szText[4];
    DWORD cchText = sizeof(szText);
    const std::string missingExe = "\"" + dir.File("none.exe") + "\"";
    TShellAPI shell(owner.Get(), false);
    constexpr DWORD kAnyCode = 0;  // the platform's own code: any, as long as one is recorded
    struct Case {
        const char* name;
        DWORD dwExpected;
        std::function<bool()> call;
    } cases[] = {
        {"copy of a missing file", ERROR_FILE_NOT_FOUND,
         [&] { return file.CpyFile(dir.File("missing.txt").c_str(), dir.File("b.txt").c_str()); }},
        {"move of a missing file", ERROR_FILE_NOT_FOUND,
         [&] { return file.MovFile(dir.File("missing.txt").c_str(), dir.File("b.txt").c_str()); }},
        {"removal of a folder", ERROR_ACCESS_DENIED, [&] { return file.RmvFile(dir.Path().c_str(), 0); }},
        {"folder without a name", ERROR_INVALID_PARAMETER, [&] { return file.CreateDir(""); }},
        {"folder where a file is", ERROR_FILE_EXISTS,
         [&] { return file.CreateDir(dir.File("a.txt").c_str()); }},
        {"text that is not Base64", ERROR_INVALID_DATA,
         [&] { return tools.Text2Bin("not*base64", 10, abBin, &cbBin); }},
        {"Base64 text too long for its buffer", ERROR_INSUFFICIENT_BUFFER,
         [&] { return tools.Bin2Text(abBin, sizeof(abBin), szText, &cchText); }},
        {"program that does not exist", ERROR_FILE_NOT_FOUND,
         [&] { return tools.CreateProcessA(missingExe.c_str(), false, SW_HIDE, nullptr, nullptr); }},
        {"shortcut into a missing folder (an HRESULT)", kAnyCode,
         [&] {
             return shell.CreateLink(dir.File("a.txt").c_str(), dir.File("missing\\a.lnk").c_str(), "x", "", "", 0,
                                     1, 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearLSError(pErr);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(c.call());
        DWORD dwAfter = GetLastError();
        ASSERT_TRUE(pErr->bFailed);
        if (c.dwExpected == kAnyCode)
            EXPECT_NE(pErr->dwErrCode, 0u) << pErr->szDetail;
        else
            EXPECT_EQ(pErr->dwErrCode, c.dwExpected) << pErr->szDetail;
        EXPECT_EQ(dwAfter, pErr->dwErrCode) << pErr->szDetail;
    }
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
