// TLSTools::Bin2Text / Text2Bin: RFC 4648 vectors, exact capacities, text
// that is not Base64.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CoreTestUtil.h"

namespace {

const struct {
    const char* bin;
    const char* text;
} kRfc4648[] = {
    {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64, Rfc4648VectorsBothWays)
{
    TLSTools tools(nullptr);
    for (const auto& v : kRfc4648) {
        SCOPED_TRACE(v.text);
        char szText[32];
        DWORD dwLen = sizeof(szText);
        ASSERT_TRUE(tools.Bin2Text(reinterpret_cast<const BYTE*>(v.bin), static_cast<DWORD>(strlen(v.bin)), szText,
                                   &dwLen));
        EXPECT_EQ(dwLen, strlen(v.text));
        EXPECT_STREQ(szText, v.text);

        BYTE abBin[32];
        dwLen = sizeof(abBin);
        ASSERT_TRUE(tools.Text2Bin(v.text, static_cast<DWORD>(strlen(v.text)), abBin, &dwLen));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(abBin), dwLen), v.bin);
    }
}

TEST(Base64, EveryByteValueRoundTrips)
{
    TLSTools tools(nullptr);
    std::vector<BYTE> bin(256);
    for (int i = 0; i < 256; ++i) bin[i] = static_cast<BYTE>(255 - i);
    std::string text(400, '\0');
    DWORD dwLen = static_cast<DWORD>(text.size());
    ASSERT_TRUE(tools.Bin2Text(bin.data(), 256, &text[0], &dwLen));
    EXPECT_EQ(dwLen, 344u);
    EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="), dwLen);
    std::vector<BYTE> back(256);
    DWORD dwBin = 256;   // exactly enough
    ASSERT_TRUE(tools.Text2Bin(text.c_str(), dwLen, back.data(), &dwBin));
    EXPECT_EQ(dwBin, 256u);
    EXPECT_EQ(back, bin);
}

TEST(Base64, CapacitiesAreExactAndNeverExceeded)
{
    TLSOwner* pOwner = GetLSOwnerHandle("test_cmn32core.exe");
    ASSERT_NE(pOwner, nullptr);
    TLSTools tools(pOwner);
    const BYTE abFoobar[] = {'f', 'o', 'o', 'b', 'a', 'r'};
    char szText[16];

    // Eight characters and the terminator.
    memset(szText, 'x', sizeof(szText));
    DWORD dwLen = 9;
    EXPECT_TRUE(tools.Bin2Text(abFoobar, 6, szText, &dwLen));
    EXPECT_STREQ(szText, "Zm9vYmFy");
    EXPECT_EQ(szText[9], 'x');
    memset(szText, 'x', sizeof(szText));
    dwLen = 8;
    ClearLSError(&pOwner->rErrHandler);
    EXPECT_FALSE(tools.Bin2Text(abFoobar, 6, szText, &dwLen));
    EXPECT_EQ(szText[0], '\0');
    EXPECT_EQ(szText[8], 'x');
    EXPECT_TRUE(pOwner->rErrHandler.bFailed);
    EXPECT_EQ(pOwner->rErrHandler.dwErrCode, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    BYTE abBin[8];
    memset(abBin, 0xCC, sizeof(abBin));
    DWORD dwBin = 5;   // "foobar" needs 6
    EXPECT_FALSE(tools.Text2Bin("Zm9vYmFy", 8, abBin, &dwBin));
    for (BYTE b : abBin) EXPECT_EQ(b, 0xCC);
    dwBin = 6;
    EXPECT_TRUE(tools.Text2Bin("Zm9vYmFy", 8, abBin, &dwBin));
    EXPECT_EQ(abBin[6], 0xCC);

    // The longest stored binary of the safe format fits the 4096-character limit.
    std::vector<BYTE> stored(1875, 0x5A);
    std::string text(5625, '\0');
    dwLen = static_cast<DWORD>(text.size());
    ASSERT_TRUE(tools.Bin2Text(stored.data(), 1875, &text[0], &dwLen));
    EXPECT_EQ(dwLen, 2500u);

    EXPECT_FALSE(tools.Bin2Text(abFoobar, 6, nullptr, &dwLen));
    EXPECT_FALSE(tools.Bin2Text(abFoobar, 6, szText, nullptr));
    EXPECT_FALSE(tools.Bin2Text(nullptr, 6, szText, &dwLen));
    EXPECT_FALSE(tools.Text2Bin("Zm9v", 4, abBin, nullptr));
    EXPECT_FALSE(tools.Text2Bin(nullptr, 4, abBin, &dwBin));
    FreeLSOwnerHandle(pOwner);
}

TEST(Base64, TextThatIsNotBase64IsRefused)
{
    TLSTools tools(nullptr);
    const std::string bad[] = {
        "Zg=",         // not a multiple of four
        "Zg",          // padding missing
        "Zm9",         //
        "Zh==",        // unused bits set
        "Zm9=",        // unused bits set
        "Z===",        // too much padding
        "====",        //
        "Zg==Zg==",    // padding inside
        "Zm9\nYmFy",   // a line break
        "Zm9 YmFy",    // a space
        "Zm9-",        // URL alphabet
        "Zm9_",        //
        std::string("Zm\0v", 4),   // NUL inside the length
        "Zm9v\xC3\xA4==", // bytes beyond ASCII
    };
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        BYTE abBin[16];
        DWORD dwBin = sizeof(abBin);
        EXPECT_FALSE(tools.Text2Bin(text.data(), static_cast<DWORD>(text.size()), abBin, &dwBin));
    }
    // The length counts, not the terminator: a prefix of a valid text is read.
    BYTE abBin[16];
    DWORD dwBin = sizeof(abBin);
    EXPECT_TRUE(tools.Text2Bin("Zm9vYmFy", 4, abBin, &dwBin));
    EXPECT_EQ(dwBin, 3u);
    dwBin = sizeof(abBin);
    EXPECT_TRUE(tools.Text2Bin("", 0, abBin, &dwBin));
    EXPECT_EQ(dwBin, 0u);
}

}  // namespace
