// DoCheckURL against a table: what is accepted, what is rewritten, what is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KTXCMN32.h"

namespace {

struct UrlCase {
    std::string input;
    bool ok;
    std::string expected;  // the buffer afterwards (for refused input: unchanged)
};

const std::string kHost240 = std::string(236, 'h') + ".com";  // 240 characters
const std::string kHost247 = std::string(243, 'h') + ".com";  // 247: "https://" makes 255
const std::string kHost248 = std::string(244, 'h') + ".com";  // 248: 256 would not fit

const UrlCase kCases[] = {
    // Web and mail URLs stay as they are.
    {"http://example.com", true, "http://example.com"},
    {"https://example.com/path?q=1&r=%20#frag", true, "https://example.com/path?q=1&r=%20#frag"},
    {"HTTPS://EXAMPLE.COM/", true, "HTTPS://EXAMPLE.COM/"},
    {"ftp://files.example.com/pub/", true, "ftp://files.example.com/pub/"},
    {"https://user:pw@example.com:8443/x", true, "https://user:pw@example.com:8443/x"},
    {"http://[2001:db8::1]:8080/", true, "http://[2001:db8::1]:8080/"},
    {"http://192.168.0.1/admin", true, "http://192.168.0.1/admin"},
    {"mailto:someone@example.com?subject=Hi", true, "mailto:someone@example.com?subject=Hi"},
    {"MAILTO:someone@example.com", true, "MAILTO:someone@example.com"},
    // Bare host names become https URLs.
    {"www.example.com", true, "https://www.example.com"},
    {"example.com/login?next=/home", true, "https://example.com/login?next=/home"},
    {"intranet", true, "https://intranet"},
    {"localhost:8080/app", true, "https://localhost:8080/app"},
    {kHost247, true, "https://" + kHost247},
    // ... but only when the result fits.
    {kHost248, false, kHost248},
    // Schemes that could run a program or open a local file.
    {"file:///C:/Windows/System32/calc.exe", false, "file:///C:/Windows/System32/calc.exe"},
    {"FILE://server/share/x.exe", false, "FILE://server/share/x.exe"},
    {"javascript:alert(1)", false, "javascript:alert(1)"},
    {"vbscript:msgbox(1)", false, "vbscript:msgbox(1)"},
    {"data:text/html,<b>x</b>", false, "data:text/html,<b>x</b>"},
    {"shell:startup", false, "shell:startup"},
    {"ms-settings:privacy", false, "ms-settings:privacy"},
    {"search-ms:query=x", false, "search-ms:query=x"},
    {"C:/Windows/notepad.exe", false, "C:/Windows/notepad.exe"},
    {"C:\\Windows\\notepad.exe", false, "C:\\Windows\\notepad.exe"},
    {"\\\\server\\share\\run.exe", false, "\\\\server\\share\\run.exe"},
    {"//server/share", false, "//server/share"},
    {"../secret", false, "../secret"},
    // Text that is not a URL.
    {"", false, ""},
    {"http://", false, "http://"},
    {"https:example.com", false, "https:example.com"},
    {"http:/example.com", false, "http:/example.com"},
    {"mailto:", false, "mailto:"},
    {"https://@example.com", false, "https://@example.com"},
    {"https://example.com:123456/", false, "https://example.com:123456/"},
    {"https://exa mple.com", false, "https://exa mple.com"},
    {" https://example.com", false, " https://example.com"},
    {"https://example.com/a\tb", false, "https://example.com/a\tb"},
    {"https://example.com/\x7f", false, "https://example.com/\x7f"},
    {"https://example.com/\" --new-window \"x", false, "https://example.com/\" --new-window \"x"},
    {"someone@example.com", false, "someone@example.com"},
    {"-example.com", false, "-example.com"},
    {"a..b.com", false, "a..b.com"},
};

TEST(DoCheckURL, Table)
{
    for (const UrlCase& c : kCases) {
        SCOPED_TRACE("[" + c.input + "]");
        char buffer[LS_PATH_SIZE + 32];
        memset(buffer, 0xCC, sizeof(buffer));
        ASSERT_LT(c.input.size(), static_cast<size_t>(LS_PATH_SIZE));
        memcpy(buffer, c.input.c_str(), c.input.size() + 1);
        EXPECT_EQ(TLSTools::DoCheckURL(buffer), c.ok);
        EXPECT_EQ(std::string(buffer), c.expected);
        for (size_t i = LS_PATH_SIZE; i < sizeof(buffer); ++i)
            ASSERT_EQ(static_cast<unsigned char>(buffer[i]), 0xCC) << "written past the buffer";
    }
}

TEST(DoCheckURL, ControlCharactersAreRefused)
{
    for (int c = 1; c < 0x20; ++c) {
        char buffer[LS_PATH_SIZE] = "https://example.com/a";
        size_t n = strlen(buffer);
        buffer[n] = static_cast<char>(c);
        buffer[n + 1] = '\0';
        EXPECT_FALSE(TLSTools::DoCheckURL(buffer)) << "control character " << c;
    }
}

TEST(DoCheckURL, UnterminatedBufferAndNullAreRefused)
{
    char buffer[LS_PATH_SIZE + 8];
    memset(buffer, 'a', LS_PATH_SIZE);
    memset(buffer + LS_PATH_SIZE, 0xCC, 8);
    EXPECT_FALSE(TLSTools::DoCheckURL(buffer));
    for (size_t i = LS_PATH_SIZE; i < sizeof(buffer); ++i) EXPECT_EQ(static_cast<unsigned char>(buffer[i]), 0xCC);
    EXPECT_FALSE(TLSTools::DoCheckURL(nullptr));
}

TEST(DoCheckURL, RewriteFillsTheBufferExactly)
{
    char buffer[LS_PATH_SIZE];
    memcpy(buffer, kHost240.c_str(), kHost240.size() + 1);
    EXPECT_TRUE(TLSTools::DoCheckURL(buffer));
    EXPECT_EQ(std::string(buffer), "https://" + kHost240);
    EXPECT_TRUE(TLSTools::DoCheckURL(buffer)) << "a rewritten URL passes again unchanged";
    EXPECT_EQ(std::string(buffer), "https://" + kHost240);
}

}  // namespace
