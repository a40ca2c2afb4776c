// The cipher methods as the safe store uses them: frozen known answers of the
// format, the 1859-byte record in method 4, four chained rounds in method 2,
// wrong keys, the random filling, argument checks; and the CSPRNG helpers.
// Each test runs in a process of its own, so each derives its keys afresh:
// the tests keep to a few key strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "CoreTestUtil.h"
#include "LSStr.h"

using namespace coretest;

namespace {

const char kMarker[] = "ls01";
constexpr size_t kRecordSize = 1859;
constexpr size_t kPlainSize = 1859;   // "ls01" and the first 1855 bytes of the record

class CryptApi : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SharedCrypto::Open(); }
    static void TearDownTestSuite() { SharedCrypto::Close(); }
    LSCRYPTHANDLE H() const { return SharedCrypto::Handle(); }
};

// A record filled with random bytes, then the fields as zero-terminated strings.
std::vector<BYTE> MakeRecord(const char* name, const char* user, const char* password, const char* url,
                             const char* note)
{
    std::vector<BYTE> rec(kRecordSize);
    EXPECT_TRUE(LSGenRandom(rec.data(), static_cast<DWORD>(rec.size())));
    char* p = reinterpret_cast<char*>(rec.data());
    LSStrCopy(p + 0, 256, name);
    LSStrCopy(p + 256, 65, user);
    LSStrCopy(p + 321, 257, password);
    LSStrCopy(p + 578, 256, url);
    LSStrCopy(p + 834, 1025, note);
    return rec;
}

std::vector<BYTE> Marked(const BYTE* p, size_t n)
{
    std::vector<BYTE> v(kMarker, kMarker + 4);
    v.insert(v.end(), p, p + n);
    return v;
}

// The stored binary of a record: one round (method 4) or four rounds (method
// 2, keys k0..k3), each round encrypting the marker and the previous round's
// ciphertext, then four zero bytes.
bool StoreRecord(LSCRYPTHANDLE h, int nMethod, const std::vector<std::string>& keys, const std::vector<BYTE>& rec,
                 std::vector<BYTE>& stored)
{
    std::vector<BYTE> in = Marked(rec.data(), kPlainSize - 4), out;
    for (size_t k = 0; k < keys.size(); ++k) {
        if (!Encrypt(h, nMethod, keys[k], in, out)) return false;
        in = Marked(out.data(), out.size());
    }
    stored = out;
    stored.insert(stored.end(), {0, 0, 0, 0});
    return true;
}

// The reverse: rounds with the keys in reverse order; after each round the
// marker must lead, and the next input is what follows it, the last four
// bytes replaced by zeros. Gives the record (what follows the last marker).
bool LoadRecord(LSCRYPTHANDLE h, int nMethod, const std::vector<std::string>& keys, const std::vector<BYTE>& stored,
                std::vector<BYTE>& rec, bool* pMarkerMissing)
{
    *pMarkerMissing = false;
    std::vector<BYTE> in = stored, plain;
    for (size_t r = 0; r < keys.size(); ++r) {
        if (!Decrypt(h, nMethod, keys[keys.size() - 1 - r], in, plain)) return false;
        if (memcmp(plain.data(), kMarker, 4) != 0) {
            *pMarkerMissing = true;
            return false;
        }
        in.assign(plain.begin() + 4, plain.end() - 4);
        in.insert(in.end(), {0, 0, 0, 0});
    }
    rec.assign(plain.begin() + 4, plain.end());
    return true;
}

std::string Base64Of(const std::vector<BYTE>& bin)
{
    TLSTools tools(nullptr);
    std::string text(5625, '\0');
    DWORD dwLen = static_cast<DWORD>(text.size());
    if (!tools.Bin2Text(bin.data(), static_cast<DWORD>(bin.size()), &text[0], &dwLen)) return std::string();
    text.resize(dwLen);
    return text;
}

std::vector<BYTE> BinOf(const std::string& text)
{
    TLSTools tools(nullptr);
    std::vector<BYTE> bin(text.size());
    DWORD dwLen = static_cast<DWORD>(bin.size());
    if (!tools.Text2Bin(text.data(), static_cast<DWORD>(text.size()), bin.data(), &dwLen)) return {};
    bin.resize(dwLen);
    return bin;
}

// Ciphertexts of two records that differ only in their filling: behind the
// first 16-byte block in which they differ, no block is equal.
void ExpectUnrelatedAfterFirstDifference(const std::vector<BYTE>& a, const std::vector<BYTE>& b)
{
    ASSERT_EQ(a.size(), b.size());
    size_t blocks = a.size() / 16;
    size_t first = blocks;
    for (size_t i = 0; i < blocks; ++i) {
        if (memcmp(&a[16 * i], &b[16 * i], 16) != 0) {
            first = i;
            break;
        }
    }
    ASSERT_LT(first, blocks) << "the ciphertexts do not differ";
    for (size_t i = first + 1; i < blocks; ++i) {
        EXPECT_NE(memcmp(&a[16 * i], &b[16 * i], 16), 0) << "block " << i << " is equal";
    }
}

// Known answers computed outside the product from the format's definition
// (PBKDF2-HMAC-SHA256 with the method's salt and 600,000 iterations, register
// from HMAC-SHA256, AES-256-CFB128). If one of these changes, every safe
// written before becomes unreadable.
TEST_F(CryptApi, FrozenKnownAnswersOfTheFormat)
{
    std::vector<BYTE> plain = Bytes("ls01");
    for (int i = 0; i < 40; ++i) plain.push_back(static_cast<BYTE>(i));
    const struct {
        int method;
        std::string key;
        const char* hex;
    } cases[] = {
        {4, "correct horse battery staple",
         "4510f22f012e41560a3284c65f66c6377ce5fbb2336f086af53c7f65ab9a0041c43ce426c87a1789571990d9"},
        {2, "correct horse battery staple",
         "feaa6d2842e9c78f454b9dfed9ac21925d5c71a4e009455592e48842c7816ce9d54bb0c86460c98ac17f99b9"},
        // The key string's bytes as they stand (windows-1252 "Müller-Käse").
        {4, "M\xfcller-K\xe4se",
         "6f487228130e7db551a3e6b4522644912144f588ea0c48ed644ee3dddf8a10e17f0350558bcb9be4cdfd60c1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        std::vector<BYTE> out, back;
        ASSERT_TRUE(Encrypt(H(), c.method, c.key, plain, out));
        EXPECT_EQ(ToHex(out), c.hex);
        ASSERT_TRUE(Decrypt(H(), c.method, c.key, out, back));
        EXPECT_EQ(back, plain);
    }
}

TEST_F(CryptApi, Method4RecordRoundTripsAndStoresWithinTheTextLimit)
{
    const std::string key = "Safe password 1";
    std::vector<BYTE> rec = MakeRecord("Bank", "jdoe", "p@ss w\xf6rd", "https://example.org/", "line 1\r\nline 2");
    std::vector<BYTE> stored;
    ASSERT_TRUE(StoreRecord(H(), 4, {key}, rec, stored));
    EXPECT_EQ(stored.size(), 1863u);
    std::string text = Base64Of(stored);
    EXPECT_EQ(text.size(), 2484u);
    EXPECT_LE(text.size(), 4096u);

    std::vector<BYTE> loaded;
    bool markerMissing = false;
    ASSERT_TRUE(LoadRecord(H(), 4, {key}, BinOf(text), loaded, &markerMissing));
    ASSERT_EQ(loaded.size(), kRecordSize);
    EXPECT_TRUE(std::equal(rec.begin(), rec.begin() + 1855, loaded.begin()));
    EXPECT_STREQ(reinterpret_cast<const char*>(&loaded[321]), "p@ss w\xf6rd");
    EXPECT_STREQ(reinterpret_cast<const char*>(&loaded[834]), "line 1\r\nline 2");

    // The same fields with another random filling.
    std::vector<BYTE> rec2 = rec;
    ASSERT_TRUE(LSGenRandom(rec2.data(), static_cast<DWORD>(rec2.size())));
    memcpy(rec2.data(), rec.data(), 5);          // "Bank" and its terminator
    memcpy(&rec2[256], &rec[256], 5);            // "jdoe"
    memcpy(&rec2[321], &rec[321], 11);
    memcpy(&rec2[578], &rec[578], 21);
    memcpy(&rec2[834], &rec[834], 15);
    std::vector<BYTE> stored2;
    ASSERT_TRUE(StoreRecord(H(), 4, {key}, rec2, stored2));
    ExpectUnrelatedAfterFirstDifference(stored, stored2);
}

TEST_F(CryptApi, Method2FourChainedRoundsRoundTrip)
{
    const std::vector<std::string> keys = {"k0-sequence", "k1-sequence", "k2-sequence", "k3-sequence"};
    std::string note(1024, 'n');
    std::vector<BYTE> rec = MakeRecord(std::string(255, 'N').c_str(), std::string(64, 'u').c_str(),
                                       std::string(256, 'p').c_str(), "http://x/", note.c_str());
    std::vector<BYTE> stored;
    ASSERT_TRUE(StoreRecord(H(), 2, keys, rec, stored));
    EXPECT_EQ(stored.size(), 1875u);
    std::string text = Base64Of(stored);
    EXPECT_EQ(text.size(), 2500u);

    std::vector<BYTE> loaded;
    bool markerMissing = false;
    ASSERT_TRUE(LoadRecord(H(), 2, keys, BinOf(text), loaded, &markerMissing));
    ASSERT_EQ(loaded.size(), kRecordSize);
    EXPECT_TRUE(std::equal(rec.begin(), rec.begin() + 1855, loaded.begin()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&loaded[256]), 64), std::string(64, 'u'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&loaded[321]), 256), std::string(256, 'p'));

    // The keys in the wrong order stop at the first round.
    std::vector<std::string> swapped = {keys[0], keys[1], keys[3], keys[2]};
    EXPECT_FALSE(LoadRecord(H(), 2, swapped, stored, loaded, &markerMissing));
    EXPECT_TRUE(markerMissing);

    std::vector<BYTE> rec2 = rec;
    ASSERT_TRUE(LSGenRandom(&rec2[1000], 100));   // filling behind the note's terminator
    std::vector<BYTE> stored2;
    ASSERT_TRUE(StoreRecord(H(), 2, keys, rec2, stored2));
    ExpectUnrelatedAfterFirstDifference(stored, stored2);
}

TEST_F(CryptApi, WrongKeyStringNeverYieldsTheMarker)
{
    const std::string key = "Tr0ub4dor&3";
    std::vector<BYTE> rec = MakeRecord("e", "u", "p", "", "");
    std::vector<BYTE> stored;
    ASSERT_TRUE(StoreRecord(H(), 4, {key}, rec, stored));
    const struct {
        int method;
        std::string key;
    } wrong[] = {{4, "Tr0ub4dor&4"}, {4, "tr0ub4dor&3"}, {4, "Tr0ub4dor&"}, {2, key}};
    for (const auto& w : wrong) {
        SCOPED_TRACE(w.key + " method " + std::to_string(w.method));
        std::vector<BYTE> plain;
        ASSERT_TRUE(Decrypt(H(), w.method, w.key, stored, plain));
        EXPECT_NE(memcmp(plain.data(), kMarker, 4), 0);
    }
    std::vector<BYTE> loaded;
    bool markerMissing = false;
    EXPECT_TRUE(LoadRecord(H(), 4, {key}, stored, loaded, &markerMissing));
}

TEST_F(CryptApi, ArgumentsAndCapacitiesAreChecked)
{
    const std::string key = "key";
    BYTE in[32] = {1, 2, 3};
    BYTE out[40];
    DWORD dwLen = sizeof(out);
    const int badMethods[] = {0, 1, 3, 5, -4, 0x8003};
    for (int m : badMethods) {
        dwLen = sizeof(out);
        EXPECT_FALSE(EnCryptData(H(), m, key.data(), 3, in, sizeof(in), out, &dwLen)) << m;
        EXPECT_FALSE(DeCryptData(H(), m, key.data(), 3, in, sizeof(in), out, &dwLen)) << m;
    }
    ClearLSError(LSOwnerErr(SharedCrypto::Owner()));
    dwLen = sizeof(out);
    EXPECT_FALSE(EnCryptData(H(), 4, nullptr, 3, in, sizeof(in), out, &dwLen));
    EXPECT_TRUE(SharedCrypto::Owner()->rErrHandler.bFailed);
    EXPECT_STREQ(SharedCrypto::Owner()->rErrHandler.szMessage, "EnCryptData failed!");
    EXPECT_FALSE(EnCryptData(H(), 4, key.data(), 3, nullptr, sizeof(in), out, &dwLen));
    EXPECT_FALSE(EnCryptData(H(), 4, key.data(), 3, in, sizeof(in), nullptr, &dwLen));
    EXPECT_FALSE(EnCryptData(H(), 4, key.data(), 3, in, sizeof(in), out, nullptr));
    EXPECT_FALSE(EnCryptData(nullptr, 4, key.data(), 3, in, sizeof(in), out, &dwLen));
    // Partly overlapping buffers are refused; the very same buffer works.
    dwLen = 32;
    EXPECT_FALSE(EnCryptData(H(), 4, key.data(), 3, out, 32, out + 1, &dwLen));

    // One byte too little capacity: false, nothing written.
    memset(out, 0xAA, sizeof(out));
    dwLen = 31;
    EXPECT_FALSE(EnCryptData(H(), 4, key.data(), 3, in, 32, out, &dwLen));
    EXPECT_FALSE(DeCryptData(H(), 4, key.data(), 3, in, 32, out, &dwLen));
    for (BYTE b : out) ASSERT_EQ(b, 0xAA);

    // Exactly enough, in place, and an empty input.
    BYTE buf[32];
    memcpy(buf, in, sizeof(buf));
    dwLen = 32;
    ASSERT_TRUE(EnCryptData(H(), 4, key.data(), 3, buf, 32, buf, &dwLen));
    EXPECT_EQ(dwLen, 32u);
    EXPECT_NE(memcmp(buf, in, 32), 0);
    dwLen = 1000;   // a larger capacity reports the bytes produced
    ASSERT_TRUE(DeCryptData(H(), 4, key.data(), 3, buf, 32, buf, &dwLen));
    EXPECT_EQ(dwLen, 32u);
    EXPECT_EQ(memcmp(buf, in, 32), 0);
    dwLen = 0;
    EXPECT_TRUE(EnCryptData(H(), 4, key.data(), 3, in, 0, out, &dwLen));
    EXPECT_EQ(dwLen, 0u);

    // A freed handle is refused.
    LSCRYPTHANDLE h2 = nullptr;
    ASSERT_TRUE(GetWCHandle(&h2, nullptr));
    EXPECT_TRUE(FreeWCHandle(h2));
    EXPECT_FALSE(FreeWCHandle(nullptr));
    EXPECT_FALSE(GetWCHandle(nullptr, nullptr));
}

TEST(Random, FillsBuffersFromThePlatformGenerator)
{
    BYTE a[64] = {}, b[64] = {};
    ASSERT_TRUE(LSGenRandom(a, sizeof(a)));
    ASSERT_TRUE(LSGenRandom(b, sizeof(b)));
    EXPECT_NE(memcmp(a, b, sizeof(a)), 0);
    EXPECT_TRUE(LSGenRandom(a, 0));
    EXPECT_FALSE(LSGenRandom(nullptr, 4));
}

TEST(Random, BelowIsInRangeAndReachesEveryValue)
{
    DWORD v = 99;
    EXPECT_FALSE(LSGenRandomBelow(0, &v));
    EXPECT_FALSE(LSGenRandomBelow(10, nullptr));
    ASSERT_TRUE(LSGenRandomBelow(1, &v));
    EXPECT_EQ(v, 0u);

    std::set<DWORD> seen;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(LSGenRandomBelow(10, &v));
        ASSERT_LT(v, 10u);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 10u);
    // Bounds where rejection matters most or least.
    const DWORD bounds[] = {0x80000001u, 0xFFFFFFFFu, 3u, 94u};
    for (DWORD bound : bounds) {
        for (int i = 0; i < 200; ++i) {
            ASSERT_TRUE(LSGenRandomBelow(bound, &v));
            ASSERT_LT(v, bound);
        }
    }
}

}  // namespace
