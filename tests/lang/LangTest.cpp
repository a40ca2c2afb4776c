// The language library: every text in English and German, the format texts
// with exactly their placeholders, the language taken from the user's
// interface language, and the product bitmaps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "LSStr.h"
#include "LangTable.h"
#include "TestSupport.h"

namespace {

// The format texts of the program and the number of texts each takes.
const std::map<std::string, int> kProgramFormats = {
    {"DLS_TXT_SAVE_CAPTION", 2},   {"DLS_LOG_OPENSAFEOK", 1},      {"DLS_LOG_OPENSAFEFAILED", 1},
    {"DLS_LOG_CLOSESAFE", 1},      {"DLS_TXT_FRAGE_DEL", 1},       {"DLS_TXT_ASKTAKEPASSWORD", 1},
    {"DLS_TXT_WRONGHASHVALUE", 2}, {"DLS_LOG_WRONGHASHVALUE", 1},  {"DLS_TXT_ENTRY_UNREADABLE", 2},
    {"DLS_TXT_ENTRY_OTHERKEY", 2}, {"DLS_LOG_ENTRY_UNREADABLE", 1}, {"DLS_TXT_SAFEFILE_EXISTS", 1},
    {"DLS_LOG_SAFEMOVED", 2},
    {"DLS_TXT_FAILED_OPEN", 1},    {"DLS_TXT_FAILED_CREATE", 1},   {"DLS_TXT_FAILED_CHANGE", 1},
    {"DLS_TXT_CAUSE_DAMAGED", 1},  {"DLS_TXT_CAUSE_KEYFILE_AT", 2},
};

// The conversions of a text, one letter group per conversion ("s", "d",
// "lu"); "%%" is no conversion, and "?" marks one no text may hold (%n, or
// an unknown or cut one).
std::string Conversions(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        size_t j = i + 1;
        if (j < text.size() && text[j] == '%') {
            i = j;
            continue;
        }
        while (j < text.size() && strchr("-+ #0123456789.", text[j])) ++j;
        std::string conv;
        while (j < text.size() && strchr("hlI", text[j])) conv += text[j++];
        if (j < text.size() && strchr("sdiuxXc", text[j])) {
            conv += text[j];
        } else {
            conv = "?";
        }
        out += conv + ",";
        i = j;
    }
    return out;
}

// Controls shown together: their access keys ("&x") must differ.
const std::vector<std::vector<std::string>> kAccessKeyGroups = {
    {"DLS_BTN_HELP", "DLS_BTN_ABOUT", "DLS_BTN_OPENLOG", "DLS_BTN_SCHLIESSEN"},
    {"DLS_PUM_NEUER_EINTRAG", "DLS_PUM_EINTRAG_DUPLIZIEREN", "DLS_PUM_EINTRAG_RENAME", "DLS_PUM_EINTRAG_LOESCHEN",
     "DLS_PUM_KEY_GENERATOR", "DLS_PUM_CHANGEPASSWORD", "DLS_PUM_CHANGETRESORFILE", "DLS_BTN_SPEICHERN",
     "DLS_BTN_CANCEL"},
    {"DLS_BTN_GROSSBUCHSTABEN", "DLS_BTN_KLEINBUCHSTABEN", "DLS_BTN_ZAHLEN", "DLS_BTN_SONDERZEICHEN", "DLS_BTN_ALLE",
     "DLS_BTN_CREATPWD", "DLS_BTN_HELP", "DLS_BTN_SCHLIESSEN"},
};

// The access key of a caption (lower case), or 0.
char AccessKey(const std::string& text)
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] == '&') {
            ++i;
            continue;
        }
        return static_cast<char>(tolower(static_cast<unsigned char>(text[i + 1])));
    }
    return 0;
}

// Texts by identifier, as a process of some language sees them.
struct LangView {
    int nLang = 0;
    std::map<std::string, std::string> texts;
};

LangView ThisProcess()
{
    LangView view;
    view.nLang = DLS_LANG_ID();
    for (const LangText& t : kLangTexts) view.texts[t.pszName] = t.pfnText() ? t.pfnText() : "";
    return view;
}

// The view of lang_probe.exe started for a user whose interface language is
// the locale: under Wine the process takes it from the Unix locale it starts with.
bool ProbeInLocale(const char* pszLocale, LangView* pView)
{
    ktxtest::TempDir dir;
    std::string out = dir.File("texts.txt");
    std::string cmd = "\"" + ktxtest::ModuleDir() + "\\lang_probe.exe\" \"" + out + "\"";
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) {
        char szLoader[MAX_PATH] = "/usr/lib/wine/wine64";
        GetEnvironmentVariableA("WINELOADER", szLoader, sizeof(szLoader));
        cmd = std::string("/usr/bin/env LC_ALL=") + pszLocale + " LANG=" + pszLocale + " " + szLoader + " " + cmd;
    }
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::vector<char> buf(cmd.begin(), cmd.end());
    buf.push_back('\0');
    if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start " << cmd << ": error " << GetLastError();
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // A process started through the Unix side cannot be waited for: its file appears whole when it is done.
    if (!ktxtest::WaitFor([&] { return ktxtest::FileExists(out); }, 60000)) {
        ADD_FAILURE() << "no answer from " << cmd;
        return false;
    }

    std::string data = ktxtest::ReadFileBytes(out);
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(pos, end - pos);
        pos = end + 1;
        size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        std::string name = line.substr(0, space), value = line.substr(space + 1);
        if (name == "LANG") {
            pView->nLang = atoi(value.c_str());
            continue;
        }
        std::string text;
        for (size_t i = 0; i + 1 < value.size(); i += 2)
            text += static_cast<char>(strtoul(value.substr(i, 2).c_str(), nullptr, 16));
        pView->texts[name] = text;
    }
    EXPECT_NE(pView->nLang, 0) << data.substr(0, 200);
    return pView->nLang != 0;
}

// Checks that hold for every language.
void CheckTexts(const LangView& view, const LangView& english)
{
    ASSERT_EQ(view.texts.size(), sizeof(kLangTexts) / sizeof(kLangTexts[0]));
    for (const auto& entry : view.texts) {
        SCOPED_TRACE(entry.first);
        const std::string& text = entry.second;
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(Conversions(text).find('?'), std::string::npos) << "a text with a conversion no caller can fill: "
                                                                  << text;
        EXPECT_EQ(Conversions(text), Conversions(english.texts.at(entry.first)))
            << "the same placeholders in every language";
        // Stored in the ANSI code page: no UTF-8 sequence of an umlaut (0xC3 0x80..0xBF).
        for (size_t i = 0; i + 1 < text.size(); ++i) {
            unsigned char a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(text[i + 1]);
            EXPECT_FALSE(a == 0xC3 && b >= 0x80 && b <= 0xBF) << "UTF-8 in an ANSI text";
        }
        EXPECT_LT(text.size(), 4097u);
    }
    // No two controls of one window share an access key.
    for (const std::vector<std::string>& group : kAccessKeyGroups) {
        std::map<char, std::string> keys;
        for (const std::string& name : group) {
            char key = AccessKey(view.texts.at(name));
            if (!key) continue;
            EXPECT_TRUE(keys.emplace(key, name).second)
                << name << " and " << keys[key] << " share the access key " << key;
        }
    }
    // The program's format texts take exactly their values.
    for (const auto& format : kProgramFormats) {
        SCOPED_TRACE(format.first);
        const std::string& text = view.texts.at(format.first);
        EXPECT_EQ(Conversions(text), format.second == 2 ? "s,s," : "s,");
        char out[4097];
        ASSERT_TRUE(LSStrFormat(out, sizeof(out), text.c_str(), "<first>", "<second>"));
        std::string result = out;
        EXPECT_NE(result.find("<first>"), std::string::npos);
        EXPECT_EQ(result.find("<second>") != std::string::npos, format.second == 2);
    }
}

TEST(Lang, EnglishForAnEnglishUserInterface)
{
    LangView english = ThisProcess();
    EXPECT_EQ(english.nLang, LS_LANG_ENGLISH);
    CheckTexts(english, english);
    EXPECT_STREQ(DLS_BTN_CANCEL(), "Cancel");
}

TEST(Lang, GermanForAGermanUserInterface)
{
    LangView english = ThisProcess();
    LangView german;
    ASSERT_TRUE(ProbeInLocale("de_DE.UTF-8", &german));
    EXPECT_EQ(german.nLang, LS_LANG_GERMAN);
    CheckTexts(german, english);
    // German texts, not English ones: most differ, and umlauts are single ANSI bytes.
    size_t nSame = 0;
    bool bUmlaut = false;
    for (const auto& entry : german.texts) {
        if (entry.second == english.texts.at(entry.first)) ++nSame;
        for (unsigned char c : entry.second) bUmlaut = bUmlaut || c == 0xE4 || c == 0xF6 || c == 0xFC || c == 0xDF;
    }
    EXPECT_LT(nSame, german.texts.size() / 5) << "German texts are German";
    EXPECT_TRUE(bUmlaut);
    EXPECT_EQ(german.texts.at("DLS_BTN_CANCEL"), "Abbrechen");
}

TEST(Lang, EnglishTextsForAnyOtherLanguage)
{
    LangView english = ThisProcess();
    for (const char* locale : {"fr_FR.UTF-8", "ja_JP.UTF-8"}) {
        SCOPED_TRACE(locale);
        LangView other;
        ASSERT_TRUE(ProbeInLocale(locale, &other));
        EXPECT_EQ(other.nLang, 3);
        EXPECT_EQ(other.texts, english.texts);
    }
}

TEST(Lang, ProductBitmaps)
{
    struct Case {
        int number;
        LONG width, height;
    };
    const Case cases[] = {{LS_BMP_STARTUP, 400, 40}, {LS_BMP_GENERATOR, 240, 160}, {LS_BMP_SAFE, 46, 220}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        HBITMAP hBitmap = nullptr;
        ASSERT_TRUE(DLS_QOVLoadBitmap(nullptr, c.number, &hBitmap));
        ASSERT_NE(hBitmap, nullptr);
        BITMAP info{};
        ASSERT_EQ(GetObjectA(hBitmap, sizeof(info), &info), static_cast<int>(sizeof(info)));
        EXPECT_EQ(info.bmWidth, c.width);
        EXPECT_EQ(info.bmHeight, c.height);
        EXPECT_EQ(info.bmBitsPixel, 24);
        // Each call gives the caller a bitmap of its own.
        HBITMAP hSecond = nullptr;
        ASSERT_TRUE(DLS_QOVLoadBitmap(nullptr, c.number, &hSecond));
        EXPECT_NE(hSecond, hBitmap);
        EXPECT_TRUE(DeleteObject(hBitmap));
        EXPECT_TRUE(DeleteObject(hSecond));
    }
    HBITMAP hBitmap = reinterpret_cast<HBITMAP>(1);
    EXPECT_FALSE(DLS_QOVLoadBitmap(nullptr, 1018, &hBitmap));
    EXPECT_EQ(hBitmap, nullptr);
    EXPECT_FALSE(DLS_QOVLoadBitmap(nullptr, LS_BMP_SAFE, nullptr));
}

}  // namespace
