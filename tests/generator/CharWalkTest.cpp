// The character walk (which character a step's code selects) and the
// distribution of the characters a generation produces.
#include <cmath>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include "GeneratorFixture.h"

namespace gentest {
namespace {

// Every non-empty combination of the four classes.
std::vector<Classes> AllClassCombinations()
{
    std::vector<Classes> result;
    for (int bits = 1; bits < 16; ++bits)
        result.push_back(Classes{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0});
    return result;
}

class CharWalk : public ::testing::TestWithParam<Classes> {};

TEST_P(CharWalk, CodesCountThroughExactlyTheCheckedCharacters)
{
    const Classes c = GetParam();
    const int n = TfrmPasswordManager::GetAlphabetSize(c.bUpper, c.bLower, c.bDigits, c.bSpecial);

    std::set<char> expected;
    for (int code = 33; code <= 126; ++code)
        if (InClasses(static_cast<char>(code), c)) expected.insert(static_cast<char>(code));
    ASSERT_EQ(static_cast<size_t>(n), expected.size());

    std::set<char> produced;
    char previous = '\0';
    for (int code = 33; code < 33 + n; ++code) {
        const char ch = TfrmPasswordManager::GetCharOfCode(code, c.bUpper, c.bLower, c.bDigits, c.bSpecial);
        ASSERT_TRUE(InClasses(ch, c)) << "code " << code << " gave " << static_cast<int>(ch);
        // The walk counts in ASCII order, so each code gives a new, larger character.
        EXPECT_GT(static_cast<unsigned char>(ch), static_cast<unsigned char>(previous)) << "code " << code;
        previous = ch;
        produced.insert(ch);
    }
    EXPECT_EQ(produced, expected);

    // Codes outside the range select nothing.
    for (int code : {-1, 0, 32, 33 + n, 127, 1000}) {
        EXPECT_EQ(TfrmPasswordManager::GetCharOfCode(code, c.bUpper, c.bLower, c.bDigits, c.bSpecial), '\0')
            << "code " << code;
    }
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, CharWalk, ::testing::ValuesIn(AllClassCombinations()),
                         [](const ::testing::TestParamInfo<Classes>& info) { return ClassesName(info.param); });

TEST(CharWalkCases, KnownRanges)
{
    std::string digits, lower, all;
    for (int code = 33; code < 43; ++code) digits += TfrmPasswordManager::GetCharOfCode(code, false, false, true, false);
    for (int code = 33; code < 59; ++code) lower += TfrmPasswordManager::GetCharOfCode(code, false, true, false, false);
    for (int code = 33; code <= 126; ++code) {
        const char ch = TfrmPasswordManager::GetCharOfCode(code, true, true, true, true);
        EXPECT_EQ(static_cast<int>(static_cast<unsigned char>(ch)), code);
        all += ch;
    }
    EXPECT_EQ(digits, "0123456789");
    EXPECT_EQ(lower, "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(all.size(), 94u);
    EXPECT_EQ(TfrmPasswordManager::GetAlphabetSize(true, true, true, true), 94);
    EXPECT_EQ(TfrmPasswordManager::GetAlphabetSize(false, false, false, true), 32);
    EXPECT_EQ(TfrmPasswordManager::GetAlphabetSize(false, false, false, false), 0);
}

// ---------------------------------------------------------------------------
// Distribution
// ---------------------------------------------------------------------------

// The chi-square value below which a sample of df degrees of freedom lies
// with probability 0.999 (Wilson-Hilferty; z of the 0.999 quantile).
double ChiSquareCritical001(int df)
{
    const double z = 3.090232;
    const double k = 2.0 / (9.0 * df);
    const double t = 1.0 - k + z * std::sqrt(k);
    return df * t * t * t;
}

struct DistributionCase {
    Classes classes;
    int x;
    int y;
    int nChars;
};

void PrintTo(const DistributionCase& c, std::ostream* os)
{
    *os << ClassesName(c.classes) << " at (" << c.x << ", " << c.y << ")";
}

class Distribution : public GeneratorFixture, public ::testing::WithParamInterface<DistributionCase> {
protected:
    // Makes c.nChars characters at the case's position, 200 per password,
    // and returns the chi-square statistic of their counts against uniform.
    double SampleChiSquare()
    {
        const DistributionCase& c = GetParam();
        std::map<char, int> counts;
        int nTotal = 0;
        while (nTotal < c.nChars) {
            ClickControl(m_pForm->btnCreatPwd);
            EXPECT_TRUE(m_pForm->IsGenerating());
            for (int i = 0; i < TfrmPasswordManager::MAX_LENGTH; ++i) {
                if (!ArmAndStep(c.x, c.y)) {
                    ADD_FAILURE() << "no character at step " << i;
                    return 1e9;
                }
            }
            EXPECT_FALSE(m_pForm->IsGenerating());
            const std::string password = Password();
            if (password.size() != static_cast<size_t>(TfrmPasswordManager::MAX_LENGTH)) {
                ADD_FAILURE() << "password of " << password.size() << " characters";
                return 1e9;
            }
            for (char ch : password) {
                EXPECT_TRUE(InClasses(ch, c.classes)) << static_cast<int>(ch);
                ++counts[ch];
            }
            nTotal += static_cast<int>(password.size());
        }
        const double expected = static_cast<double>(nTotal) / AlphabetSize();
        double chi2 = 0.0;
        for (int code = 33; code <= 126; ++code) {
            const char ch = static_cast<char>(code);
            if (!InClasses(ch, c.classes)) continue;
            const double d = counts[ch] - expected;
            chi2 += d * d / expected;
        }
        std::cout << "chi-square " << chi2 << " of " << ChiSquareCritical001(AlphabetSize() - 1) << " allowed, "
                  << nTotal << " characters" << std::endl;
        return chi2;
    }

    int AlphabetSize() const
    {
        const Classes& c = GetParam().classes;
        return TfrmPasswordManager::GetAlphabetSize(c.bUpper, c.bLower, c.bDigits, c.bSpecial);
    }
};

// Many characters at one fixed mouse position: every character of the
// checked classes comes about equally often. Each sample is judged at the
// 0.001 level; a sample beyond it is drawn once more, so that a sound
// generator fails about once in a million runs while a biased one (a fixed
// position deciding the character, a class left out or favoured) fails both.
TEST_P(Distribution, EveryCharacterEquallyLikelyAtAFixedPosition)
{
    SetClassesByClicks(GetParam().classes);
    SetLengthByClicks(TfrmPasswordManager::MAX_LENGTH);
    const double critical = ChiSquareCritical001(AlphabetSize() - 1);

    const double first = SampleChiSquare();
    if (HasFailure() || first < critical) return;
    const double second = SampleChiSquare();
    EXPECT_LT(second, critical) << "two samples beyond the 0.001 level: " << first << " and " << second;
}

INSTANTIATE_TEST_SUITE_P(
    Positions, Distribution,
    ::testing::Values(DistributionCase{{true, true, true, true}, 1, 1, 20000},
                      DistributionCase{{true, true, true, true}, 100, 37, 20000},
                      // x * y beyond 32 bits, and a negative position.
                      DistributionCase{{true, true, true, true}, 46341, 46341, 10000},
                      DistributionCase{{true, true, true, true}, -7, 3, 10000},
                      DistributionCase{{false, false, true, false}, 1, 1, 5000},
                      DistributionCase{{false, true, false, true}, 100, 94, 10000}),
    [](const ::testing::TestParamInfo<DistributionCase>& info) {
        auto number = [](int v) { return v < 0 ? "m" + std::to_string(-v) : std::to_string(v); };
        return ClassesName(info.param.classes) + "At" + number(info.param.x) + "_" + number(info.param.y);
    });

}  // namespace
}  // namespace gentest
