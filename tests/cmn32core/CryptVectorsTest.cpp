// Published vectors: AES-256 (SP 800-38A ECB and CFB128), PBKDF2-HMAC-SHA256
// (RFC 7914), MD5 (RFC 1321), all through the real CNG under Wine.
#include <gtest/gtest.h>

#include <cstring>

#include "CfbMode.h"
#include "CoreTestUtil.h"
#include "CryptCng.h"

using namespace coretest;
using namespace ktxcmn;

namespace {

const char kAes256Key[] = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const char kPlain[] =
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710";
const char kEcbCipher[] =
    "f3eed1bdb5d2a03c064b5a7e3db181f8 591ccb10d410ed26dc5ba74a31362870"
    "b6ed21b99ca6f4f9f153e7b1beafed1d 23304b7a39f9f3ff067d8d8f9e24ecc7";
const char kCfbIv[] = "000102030405060708090a0b0c0d0e0f";
const char kCfbCipher[] =
    "dc7e84bfda79164b7ecd8486985d3860 39ffed143b28b1c832113c6331e5407b"
    "df10132415e54b92a13ed0a8267ae2f9 75a385741ab9cef82031623d55b1e471";

class AesVectors : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LSOpenAesEcb(m_alg));
        std::vector<BYTE> key = FromHex(kAes256Key);
        ASSERT_EQ(key.size(), 32u);
        ASSERT_TRUE(m_cipher.Init(m_alg.Get(), key.data()));
    }

    TBCryptAlg m_alg;
    TAesBlockCipher m_cipher;
};

TEST_F(AesVectors, EcbEncryptsTheFourBlocksOneByOneAndBatched)
{
    std::vector<BYTE> plain = FromHex(kPlain), out(plain.size());
    for (size_t i = 0; i < 4; ++i) ASSERT_TRUE(m_cipher.EncryptBlocks(&plain[16 * i], &out[16 * i], 1));
    EXPECT_EQ(ToHex(out), ToHex(FromHex(kEcbCipher)));
    // A batch must not chain (Wine keeps chaining state in key handles).
    std::vector<BYTE> batch(plain.size());
    ASSERT_TRUE(m_cipher.EncryptBlocks(plain.data(), batch.data(), 4));
    ASSERT_TRUE(m_cipher.EncryptBlocks(plain.data(), batch.data(), 4));
    EXPECT_EQ(ToHex(batch), ToHex(FromHex(kEcbCipher)));
}

TEST_F(AesVectors, Cfb128EncryptAndDecrypt)
{
    std::vector<BYTE> plain = FromHex(kPlain), iv = FromHex(kCfbIv), out(plain.size()), back(plain.size());
    ASSERT_TRUE(CfbEncrypt(m_cipher, iv.data(), plain.data(), out.data(), out.size()));
    EXPECT_EQ(ToHex(out), ToHex(FromHex(kCfbCipher)));
    ASSERT_TRUE(CfbDecrypt(m_cipher, iv.data(), out.data(), back.data(), back.size()));
    EXPECT_EQ(ToHex(back), ToHex(plain));
}

// Every length, in place and apart, agrees with the vector's prefix; and a
// ciphertext followed by extra bytes decrypts to the plaintext followed by as
// many bytes. Long inputs cross the decryption batches.
TEST_F(AesVectors, Cfb128IsLengthPreservingAndPrefixExact)
{
    std::vector<BYTE> iv = FromHex(kCfbIv);
    std::vector<BYTE> plain(1500);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<BYTE>(i * 7 + 3);
    std::vector<BYTE> full(plain.size());
    ASSERT_TRUE(CfbEncrypt(m_cipher, iv.data(), plain.data(), full.data(), full.size()));
    const size_t lengths[] = {0, 1, 15, 16, 17, 31, 33, 511, 512, 513, 1023, 1499};
    for (size_t len : lengths) {
        SCOPED_TRACE(len);
        std::vector<BYTE> buf(plain.begin(), plain.begin() + len);
        ASSERT_TRUE(CfbEncrypt(m_cipher, iv.data(), buf.data(), buf.data(), len));   // in place
        EXPECT_TRUE(std::equal(buf.begin(), buf.end(), full.begin()));
        ASSERT_TRUE(CfbDecrypt(m_cipher, iv.data(), buf.data(), buf.data(), len));
        EXPECT_TRUE(std::equal(buf.begin(), buf.end(), plain.begin()));
        // Ciphertext of len bytes followed by four extra bytes.
        std::vector<BYTE> longer(full.begin(), full.begin() + len);
        longer.insert(longer.end(), {0, 0, 0, 0});
        std::vector<BYTE> dec(longer.size());
        ASSERT_TRUE(CfbDecrypt(m_cipher, iv.data(), longer.data(), dec.data(), dec.size()));
        EXPECT_TRUE(std::equal(dec.begin(), dec.begin() + len, plain.begin()));
    }
}

struct Pbkdf2Case {
    const char* password;
    const char* salt;
    unsigned long long iterations;
    const char* hex;
};

TEST(Pbkdf2Vectors, Rfc7914Table)
{
    const Pbkdf2Case cases[] = {
        {"passwd", "salt", 1,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
        {"Password", "NaCl", 80000,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
    };
    TBCryptAlg hmac;
    ASSERT_TRUE(hmac.Open(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG));
    for (const Pbkdf2Case& c : cases) {
        SCOPED_TRACE(c.password);
        BYTE out[64];
        ASSERT_TRUE(LSPbkdf2Sha256(hmac.Get(), reinterpret_cast<const BYTE*>(c.password),
                                   static_cast<ULONG>(strlen(c.password)), reinterpret_cast<const BYTE*>(c.salt),
                                   static_cast<ULONG>(strlen(c.salt)), c.iterations, out, sizeof(out)));
        EXPECT_EQ(ToHex(out, sizeof(out)), c.hex);
    }
}

class Md5Vectors : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SharedCrypto::Open(); }
    static void TearDownTestSuite() { SharedCrypto::Close(); }
};

TEST_F(Md5Vectors, Rfc1321SuiteAsLowerCaseHex)
{
    const struct {
        const char* text;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        char szOut[LS_HASH_SIZE];
        memset(szOut, 'x', sizeof(szOut));
        DWORD dwLen = LS_HASH_SIZE;
        ASSERT_TRUE(HashDataHex(SharedCrypto::Handle(), reinterpret_cast<const BYTE*>(c.text),
                                static_cast<DWORD>(strlen(c.text)), szOut, &dwLen, 0x8003));
        EXPECT_EQ(dwLen, 32u);
        EXPECT_STREQ(szOut, c.digest);
    }
}

TEST_F(Md5Vectors, CapacityIsRespected)
{
    const BYTE data[] = {'a', 'b', 'c'};
    char szOut[40];
    // 32 characters and the terminator: 33 fit exactly, 32 do not.
    memset(szOut, 'x', sizeof(szOut));
    DWORD dwLen = 33;
    EXPECT_TRUE(HashDataHex(SharedCrypto::Handle(), data, sizeof(data), szOut, &dwLen, 0x8003));
    EXPECT_STREQ(szOut, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(szOut[34], 'x');
    memset(szOut, 'x', sizeof(szOut));
    dwLen = 32;
    EXPECT_FALSE(HashDataHex(SharedCrypto::Handle(), data, sizeof(data), szOut, &dwLen, 0x8003));
    EXPECT_EQ(szOut[0], '\0');
    EXPECT_EQ(szOut[1], 'x');
    // Unknown algorithm, null buffers, null handle.
    dwLen = LS_HASH_SIZE;
    EXPECT_FALSE(HashDataHex(SharedCrypto::Handle(), data, sizeof(data), szOut, &dwLen, 0x8004));
    EXPECT_FALSE(HashDataHex(SharedCrypto::Handle(), data, sizeof(data), nullptr, &dwLen, 0x8003));
    EXPECT_FALSE(HashDataHex(SharedCrypto::Handle(), data, sizeof(data), szOut, nullptr, 0x8003));
    EXPECT_FALSE(HashDataHex(SharedCrypto::Handle(), nullptr, 3, szOut, &dwLen, 0x8003));
    EXPECT_FALSE(HashDataHex(nullptr, data, sizeof(data), szOut, &dwLen, 0x8003));
}

TEST_F(Md5Vectors, Sha256IsOfferedToo)
{
    const BYTE data[] = {'a', 'b', 'c'};
    char szOut[LS_HASH_SIZE];
    DWORD dwLen = LS_HASH_SIZE;
    ASSERT_TRUE(HashDataHex(SharedCrypto::Handle(), data, sizeof(data), szOut, &dwLen, 0x800C));
    EXPECT_EQ(dwLen, 64u);
    EXPECT_STREQ(szOut, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
