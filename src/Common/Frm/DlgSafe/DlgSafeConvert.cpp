// The safe dialog: conversion of older safe files into current ones.
#include "DlgSafe.h"
#include "KTXLANG.h"
#include "LSStr.h"

// Older safe files ("LSVER400") cannot be converted by this version yet: the
// user is told so in plain words, the file is left exactly as it is, and the
// opening ends.
bool TfrmDlgSafe::DoConvertOldSafeFileVersion(bool bSilent)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoConvertOldSafeFileVersion");
    ClearLSError(pErrHandler);
    bCancel = false;
    (void)bSilent;
    char szText[LS_TEXT_SIZE] = {};
    LSStrFormat(szText, sizeof(szText), DLS_TXT_CONVERT_UNAVAILABLE(), pszSafeFile ? pszSafeFile : "");
    TLSError::StdHinweisMsg(pOwner, Handle(), szText);
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return LS_DEF_ERROR(pErrHandler, false, "TfrmDlgSafe::DoConvertOldSafeFileVersion failed!");
}

void TfrmDlgSafe::btnKonvertClick(TObject* Sender)
{
    DoConvertOldSafeFileVersion(false);
}
