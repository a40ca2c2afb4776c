// KTXLANG.DLL: every user-visible text of the product, in English and
// German (German for a German user interface, English otherwise), and the
// product bitmaps.
#pragma once

#include <windows.h>

#include "KTXExport.h"

struct TLSOwner;

enum : int {
    LS_LANG_ENGLISH = 1,
    LS_LANG_GERMAN  = 2
};

// Product bitmaps: 1016 start-up form, 1017 password generator, 1021 safe dialog.
enum : int {
    LS_BMP_STARTUP   = 1016,
    LS_BMP_GENERATOR = 1017,
    LS_BMP_SAFE      = 1021
};

extern "C" {

// 1 English, 2 German, else another language.
KTXLANG_API int DLS_LANG_ID(void);

// Loads a product bitmap; the caller owns *phBitmap (DeleteObject).
KTXLANG_API bool DLS_QOVLoadBitmap(TLSOwner* pOwner, int nNumber, HBITMAP* phBitmap);

// Every text is a function without arguments returning a constant
// zero-terminated text. The identifiers are listed in the lang/*.inc files.
#define DLS_TEXT_ID(name) KTXLANG_API const char* name(void);
#include "lang/DLSProgram.inc"
#include "lang/DLSCommon.inc"
#include "lang/DLSTools.inc"
#include "lang/DLSDialogs.inc"
#include "lang/DLSGenerator.inc"
#undef DLS_TEXT_ID

}  // extern "C"
