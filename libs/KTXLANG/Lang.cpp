// The language library: DLS_LANG_ID, the product bitmaps and one function
// per text identifier. Each identifier's English and German text is defined
// in texts/*.inc; an identifier without texts does not compile. German texts
// for a German user interface, English ones for every other language.
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

extern "C" KTXLANG_API bool DLS_QOVLoadBitmap(TLSOwner* /*pOwner*/, int nNumber, HBITMAP* phBitmap)
{
    if (!phBitmap) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *phBitmap = nullptr;
    if (nNumber != LS_BMP_STARTUP && nNumber != LS_BMP_GENERATOR && nNumber != LS_BMP_SAFE) {
        ::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return false;
    }
    HMODULE hModule = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&DLS_QOVLoadBitmap), &hModule))
        return false;
    HANDLE hImage = ::LoadImageA(hModule, MAKEINTRESOURCEA(nNumber), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    *phBitmap = static_cast<HBITMAP>(hImage);
    return hImage != nullptr;
}

#define DLS_TEXT_ID(name) \
    extern "C" KTXLANG_API const char* name(void) { return Pick(k_##name); }
#include "lang/DLSProgram.inc"
#include "lang/DLSCommon.inc"
#include "lang/DLSTools.inc"
#include "lang/DLSDialogs.inc"
#include "lang/DLSGenerator.inc"
#undef DLS_TEXT_ID
