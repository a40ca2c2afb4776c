// TLSTools::Bin2Text and Text2Bin: standard Base64 without line breaks
// (Base64.h). Capacities in, sizes out; nothing is written past a capacity.
#include <windows.h>

#include "Base64.h"
#include "KTXCMN32.h"

bool TLSTools::Bin2Text(const BYTE* pBin, DWORD dwBinLen, char* pszText, DWORD* pdwTextLen)
{
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    if (!pszText || !pdwTextLen || (!pBin && dwBinLen)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSTools::Bin2Text failed!");
    }
    DWORD dwCapacity = *pdwTextLen;
    size_t cchText = 0;
    // The text and its terminator must fit the capacity.
    if (!ktxcmn::Base64EncodedSize(dwBinLen, &cchText) || cchText >= dwCapacity) {
        if (dwCapacity) pszText[0] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return LS_DEF_ERROR(pErr, false, "TLSTools::Bin2Text failed!");
    }
    ktxcmn::Base64Encode(pBin, dwBinLen, pszText);
    pszText[cchText] = '\0';
    *pdwTextLen = static_cast<DWORD>(cchText);
    return true;
}

bool TLSTools::Text2Bin(const char* pszText, DWORD dwTextLen, BYTE* pBin, DWORD* pdwBinLen)
{
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    if (!pdwBinLen || (!pszText && dwTextLen) || (!pBin && *pdwBinLen)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LS_DEF_ERROR(pErr, false, "TLSTools::Text2Bin failed!");
    }
    size_t cbData = 0;
    if (!ktxcmn::Base64DecodedSize(pszText, dwTextLen, &cbData)) {
        SetLastError(ERROR_INVALID_DATA);
        return LS_DEF_ERROR(pErr, false, "TLSTools::Text2Bin failed!");
    }
    if (cbData > *pdwBinLen) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return LS_DEF_ERROR(pErr, false, "TLSTools::Text2Bin failed!");
    }
    size_t cbWritten = 0;
    if (!ktxcmn::Base64Decode(pszText, dwTextLen, pBin, *pdwBinLen, &cbWritten)) {
        SetLastError(ERROR_INVALID_DATA);
        return LS_DEF_ERROR(pErr, false, "TLSTools::Text2Bin failed!");
    }
    *pdwBinLen = static_cast<DWORD>(cbWritten);
    return true;
}
