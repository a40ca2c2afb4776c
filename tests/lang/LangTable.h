// Every text identifier of the language library with its function, from the
// same lists the library is built from.
#pragma once

#include "KTXLANG.h"

struct LangText {
    const char* pszName;
    const char* (*pfnText)(void);
};

#define DLS_TEXT_ID(name) {#name, name},
static const LangText kLangTexts[] = {
#include "lang/DLSProgram.inc"
#include "lang/DLSCommon.inc"
#include "lang/DLSTools.inc"
#include "lang/DLSDialogs.inc"
#include "lang/DLSGenerator.inc"
};
#undef DLS_TEXT_ID
