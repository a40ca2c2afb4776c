// The key file's parser and writer as pure functions over bytes: digest
// vectors, round trips, and every kind of damage refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KeyFileFormat.h"
#include "Sha256.h"

namespace kf = ktxkeyfile;

namespace {

std::string Hex(const uint8_t* p, size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 15];
    }
    return s;
}

TEST(KeyFileDigest, Sha256Vectors)
{
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        uint8_t out[32];
        kf::Sha256Digest(c.input.data(), c.input.size(), out);
        EXPECT_EQ(Hex(out, 32), c.digest) << c.input.size();
    }
    // Fed in odd pieces, the same digest.
    kf::Sha256 sha;
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (size_t i = 0; i < text.size(); i += 7) sha.Update(text.data() + i, std::min<size_t>(7, text.size() - i));
    uint8_t out[32];
    sha.Final(out);
    EXPECT_EQ(Hex(out, 32), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(KeyFileDigest, HmacSha256Vectors)
{
    // RFC 4231 test cases 1, 2 and 6 (a key longer than the block).
    uint8_t out[32];
    std::string key1(20, '\x0b');
    kf::HmacSha256(key1.data(), key1.size(), "Hi There", 8, out);
    EXPECT_EQ(Hex(out, 32), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    kf::HmacSha256("Jefe", 4, "what do ya want for nothing?", 28, out);
    EXPECT_EQ(Hex(out, 32), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    std::string key6(131, '\xaa');
    const char msg6[] = "Test Using Larger Than Block-Size Key - Hash Key First";
    kf::HmacSha256(key6.data(), key6.size(), msg6, sizeof(msg6) - 1, out);
    EXPECT_EQ(Hex(out, 32), "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
}

TEST(KeyFileBase64, Rfc4648Vectors)
{
    const char* const expected[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    const uint8_t text[] = {'f', 'o', 'o', 'b', 'a', 'r'};
    for (size_t n = 0; n <= 6; ++n) {
        char out[16];
        ASSERT_TRUE(kf::Base64Encode(text, n, out, sizeof(out)));
        EXPECT_STREQ(out, expected[n]);
    }
    // 42 bytes make exactly 56 characters, the length of a safe password.
    uint8_t bytes[42] = {};
    char out[57];
    ASSERT_TRUE(kf::Base64Encode(bytes, 42, out, sizeof(out)));
    EXPECT_EQ(strlen(out), 56u);
    EXPECT_FALSE(kf::Base64Encode(bytes, 42, out, 56)) << "no room for the terminator";
}

kf::KeyFile SampleFile(int nSlots)
{
    kf::KeyFile file;
    kf::PasswordCheck("secret", 6, file.check);
    for (int i = 0; i < nSlots; ++i) {
        kf::Slot slot;
        memset(slot.thumbprint, 0x10 + i, sizeof(slot.thumbprint));
        slot.wrapped.assign(static_cast<size_t>(200 + i), static_cast<uint8_t>(i));
        file.slots.push_back(slot);
    }
    return file;
}

std::vector<uint8_t> Bytes(const kf::KeyFile& file)
{
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(kf::Serialize(file, &bytes));
    return bytes;
}

kf::ParseResult ParseBytes(const std::vector<uint8_t>& bytes)
{
    kf::KeyFile out;
    return kf::Parse(bytes.data(), bytes.size(), &out);
}

// Puts a correct digest on changed content, as a careful forger would.
void Reseal(std::vector<uint8_t>* pBytes)
{
    kf::Sha256Digest(pBytes->data(), pBytes->size() - 32, pBytes->data() + pBytes->size() - 32);
}

TEST(KeyFileFormat, RoundTrip)
{
    for (int nSlots : {1, 2, 32}) {
        kf::KeyFile file = SampleFile(nSlots);
        std::vector<uint8_t> bytes = Bytes(file);
        kf::KeyFile out;
        ASSERT_EQ(kf::Parse(bytes.data(), bytes.size(), &out), kf::ParseResult::Ok) << nSlots;
        ASSERT_EQ(out.slots.size(), static_cast<size_t>(nSlots));
        EXPECT_EQ(out.slots.back().wrapped, file.slots.back().wrapped);
        EXPECT_TRUE(kf::CheckPassword(out, "secret", 6));
        EXPECT_FALSE(kf::CheckPassword(out, "secreT", 6));
        EXPECT_FALSE(kf::CheckPassword(out, "secret", 5));
        uint8_t thumb[20];
        memset(thumb, 0x10, sizeof(thumb));
        EXPECT_NE(kf::FindSlot(out, thumb), nullptr);
        memset(thumb, 0x7F, sizeof(thumb));
        EXPECT_EQ(kf::FindSlot(out, thumb), nullptr);
    }
}

TEST(KeyFileFormat, WriterRefusesImpossibleFiles)
{
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(kf::Serialize(SampleFile(0), &bytes)) << "no slot";
    EXPECT_FALSE(kf::Serialize(SampleFile(33), &bytes)) << "too many slots";
    kf::KeyFile file = SampleFile(2);
    file.slots[1].wrapped.clear();
    EXPECT_FALSE(kf::Serialize(file, &bytes)) << "empty slot";
    file = SampleFile(2);
    file.slots[1].wrapped.assign(kf::kMaxWrapped + 1, 1);
    EXPECT_FALSE(kf::Serialize(file, &bytes)) << "slot too long";
    file = SampleFile(2);
    memcpy(file.slots[1].thumbprint, file.slots[0].thumbprint, 20);
    EXPECT_FALSE(kf::Serialize(file, &bytes)) << "two slots for one certificate";
}

TEST(KeyFileFormat, EmptyAndEveryTruncationAreRefused)
{
    EXPECT_EQ(ParseBytes({}), kf::ParseResult::Empty);
    const std::vector<uint8_t> bytes = Bytes(SampleFile(2));
    for (size_t n = 1; n < bytes.size(); ++n) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
        kf::ParseResult r = ParseBytes(cut);
        ASSERT_NE(r, kf::ParseResult::Ok) << n;
        if (n >= 8) {
            EXPECT_EQ(r, kf::ParseResult::Truncated) << n;
        }
    }
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_NE(ParseBytes(longer), kf::ParseResult::Ok) << "a byte appended";
}

TEST(KeyFileFormat, EveryChangedBitIsRefused)
{
    const std::vector<uint8_t> bytes = Bytes(SampleFile(2));
    for (size_t i = 0; i < bytes.size(); ++i) {
        for (int bit = 0; bit < 8; bit += 3) {
            std::vector<uint8_t> changed = bytes;
            changed[i] ^= static_cast<uint8_t>(1 << bit);
            ASSERT_NE(ParseBytes(changed), kf::ParseResult::Ok) << i << ":" << bit;
        }
    }
}

TEST(KeyFileFormat, ResealedLayoutErrorsAreRefused)
{
    const std::vector<uint8_t> good = Bytes(SampleFile(2));
    struct Case {
        const char* label;
        size_t offset;
        uint8_t value;
        kf::ParseResult expected;
    };
    const size_t slot1 = kf::kHeaderSize;
    const Case cases[] = {
        {"magic", 0, 'X', kf::ParseResult::BadMagic},
        {"version", 8, 2, kf::ParseResult::BadVersion},
        {"no slots", 10, 0, kf::ParseResult::BadLayout},
        {"more slots than there are", 10, 3, kf::ParseResult::BadLayout},
        {"fewer slots than there are", 10, 1, kf::ParseResult::BadLayout},
        {"slot length zero", slot1 + 20, 0, kf::ParseResult::BadLayout},
        {"slot longer than the file", slot1 + 21, 0x7F, kf::ParseResult::BadLayout},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> bytes = good;
        bytes[c.offset] = c.value;
        if (c.offset == slot1 + 20) bytes[slot1 + 21] = 0;
        if (c.expected != kf::ParseResult::BadMagic) Reseal(&bytes);
        EXPECT_EQ(ParseBytes(bytes), c.expected);
    }
    // Two slots with one thumbprint, resealed.
    std::vector<uint8_t> twice = good;
    const size_t slot2 = slot1 + 20 + 2 + 200;
    memcpy(&twice[slot2], &twice[slot1], 20);
    Reseal(&twice);
    EXPECT_EQ(ParseBytes(twice), kf::ParseResult::BadLayout);
}

TEST(KeyFileFormat, RandomDamageNeverParsesOrCrashes)
{
    // A fixed sequence of mutations: overwrite, insert, delete, cut, resealed or not.
    const std::vector<uint8_t> good = Bytes(SampleFile(3));
    uint32_t state = 12345;
    auto next = [&](uint32_t bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    };
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        int nEdits = 1 + static_cast<int>(next(4));
        for (int e = 0; e < nEdits && !bytes.empty(); ++e) {
            size_t at = next(static_cast<uint32_t>(bytes.size()));
            switch (next(4)) {
            case 0: bytes[at] = static_cast<uint8_t>(next(256) | 1) ^ bytes[at]; break;
            case 1: bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(at), static_cast<uint8_t>(next(256))); break;
            case 2: bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(at)); break;
            default: bytes.resize(at); break;
            }
        }
        bool bResealed = bytes.size() > 32 && next(2) == 0;
        if (bResealed) Reseal(&bytes);
        kf::KeyFile out;
        kf::ParseResult r = kf::Parse(bytes.data(), bytes.size(), &out);
        if (r == kf::ParseResult::Ok) {
            // Only a resealed file can parse, and then it must be whole again.
            ASSERT_TRUE(bResealed) << round;
            std::vector<uint8_t> again;
            ASSERT_TRUE(kf::Serialize(out, &again));
            EXPECT_EQ(again, bytes) << round;
        }
    }
}

}  // namespace
