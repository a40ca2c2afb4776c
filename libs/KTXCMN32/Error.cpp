// The error record: ClearLSError opens an operation, AddDefError closes it.
// Recording leaves the thread's error code as the caller set it: the caller
// may read GetLastError() after the record (the trace line keeps it too).
#include <windows.h>

#include <cstring>

#include "CmnPrivate.h"
#include "KTXCMN32.h"
#include "LSStr.h"

namespace {

const char* FileNamePart(const char* pszPath)
{
    if (!pszPath) return "";
    const char* pszName = pszPath;
    for (const char* p = pszPath; *p; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') pszName = p + 1;
    }
    return pszName;
}

}  // namespace

extern "C" KTXCMN32_API void ClearLSError(tag_TLSErrHandler* pErr)
{
    if (!pErr) return;
    pErr->bFailed = false;
    pErr->dwErrCode = 0;
    pErr->nFailures = 0;
    pErr->szSrcFile[0] = '\0';
    pErr->szDetail[0] = '\0';
    pErr->szMessage[0] = '\0';
    pErr->szLastMessage[0] = '\0';
}

extern "C" KTXCMN32_API bool AddDefError(tag_TLSErrHandler* pErr, bool bResult, const char* pszDetail,
                                         DWORD dwErrCode, const char* pszMessage)
{
    if (!pErr || bResult) return bResult;
    cmn32tools::TKeepLastError keep;
    if (!pErr->bFailed) {
        // The first failure of the chain names the cause; keep it readable.
        pErr->bFailed = true;
        pErr->dwErrCode = dwErrCode;
        LSStrCopy(pErr->szDetail, sizeof(pErr->szDetail), pszDetail);
        LSStrCopy(pErr->szMessage, sizeof(pErr->szMessage), pszMessage);
    }
    pErr->nFailures++;
    LSStrCopy(pErr->szLastMessage, sizeof(pErr->szLastMessage), pszMessage);
    LS_TRACE_LOG(nullptr, "%s %s", pszMessage ? pszMessage : "", pszDetail ? pszDetail : "");
    return bResult;
}

extern "C" KTXCMN32_API bool LSAddDefErrorAt(tag_TLSErrHandler* pErr, bool bResult, DWORD dwErrCode,
                                             const char* pszSrcFile, int nLine, const char* pszMessage)
{
    if (!pErr || bResult) return bResult;
    cmn32tools::TKeepLastError keep;  // the system text of the code comes from FormatMessageA
    const char* pszFile = FileNamePart(pszSrcFile);
    if (!pErr->bFailed) LSStrCopy(pErr->szSrcFile, sizeof(pErr->szSrcFile), pszFile);
    char szDetail[LS_TEXT_SIZE];
    LSStrFormat(szDetail, sizeof(szDetail), "%s [%d %s %d]", TLSTools::GetErrTxt(dwErrCode),
                static_cast<int>(dwErrCode), pszFile, nLine);
    return AddDefError(pErr, bResult, szDetail, dwErrCode, pszMessage);
}
