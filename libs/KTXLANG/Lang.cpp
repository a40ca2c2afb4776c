// The language library: DLS_LANG_ID and one function per text identifier.
// Each identifier's English and German text is defined in texts/*.inc; an
// identifier without texts does not compile.
#include <windows.h>

#include "KTXLANG.h"

namespace {

struct TextPair {
    const char* pszEnglish;
    const char* pszGerman;
};

#define DLS_TEXT(name, en, de) constexpr TextPair k_##name{en, de};
#include "texts/Program.inc"
#include "texts/Common.inc"
#include "texts/Tools.inc"
#include "texts/Dialogs.inc"
#include "texts/Generator.inc"
#undef DLS_TEXT

// The user interface language of the calling thread (which follows the
// user's UI language unless the thread chose another one).
int CurrentLanguage()
{
    LANGID lang = ::GetThreadUILanguage();
    if (lang == 0) lang = ::GetUserDefaultUILanguage();
    switch (PRIMARYLANGID(lang)) {
    case LANG_ENGLISH: return LS_LANG_ENGLISH;
    case LANG_GERMAN:  return LS_LANG_GERMAN;
    default:           return 3;
    }
}

const char* Pick(const TextPair& texts)
{
    return CurrentLanguage() == LS_LANG_GERMAN ? texts.pszGerman : texts.pszEnglish;
}

}  // namespace

extern "C" KTXLANG_API int DLS_LANG_ID(void)
{
    return CurrentLanguage();
}

#define DLS_TEXT_ID(name) \
    extern "C" KTXLANG_API const char* name(void) { return Pick(k_##name); }
#include "lang/DLSProgram.inc"
#include "lang/DLSCommon.inc"
#include "lang/DLSTools.inc"
#include "lang/DLSDialogs.inc"
#include "lang/DLSGenerator.inc"
#undef DLS_TEXT_ID
