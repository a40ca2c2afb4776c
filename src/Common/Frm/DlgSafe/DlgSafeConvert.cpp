// The safe dialog: conversion of older safe files into current ones.
#include "DlgSafe.h"

// Older safe files ("LSVER400") cannot be converted by this version yet: the
// file is left exactly as it is and the opening reports that it failed.
bool TfrmDlgSafe::DoConvertOldSafeFileVersion(bool bSilent)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoConvertOldSafeFileVersion");
    ClearLSError(pErrHandler);
    bCancel = false;
    (void)bSilent;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    LS_DEF_ERROR(pErrHandler, false, "TfrmDlgSafe::DoConvertOldSafeFileVersion failed!");
    return TLSError::StdErrorMsg(pOwner, Handle(), false, bCancel, "TfrmDlgSafe::DoConvertOldSafeFileVersion failed!");
}
