// The command-line splitter against a table of command lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ArgSplit.h"

namespace {

struct SplitCase {
    const char* name;
    std::string line;
    std::vector<std::string> args;  // arguments 1 and later
};

void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<std::string> Split(const std::string& line, TLSArgVector* pArgs, char* pszProgram)
{
    EXPECT_TRUE(LSSplitCommandLine(line.c_str(), pszProgram, pArgs));
    std::vector<std::string> out;
    for (int i = 1; i < pArgs->nArgc; ++i) out.emplace_back(pArgs->ppszArgv[i]);
    return out;
}

const std::string k300(300, 'x');

const SplitCase kCases[] = {
    {"Empty", "", {}},
    {"OnlySpaces", "   ", {}},
    {"Switch", "/DEACTIVATE", {"/DEACTIVATE"}},
    {"QuotedKeepsMarks", "a \"b c\" d", {"a", "\"b c\"", "d"}},
    {"DoubleSpaces", "a  b", {"a", "b"}},
    {"LeadingAndTrailingSpaces", "  a b  ", {"a", "b"}},
    {"GluedAfterClosingMark", "\"b c\"d", {"\"b c\"", "d"}},
    {"UnterminatedQuote", "a \"b c", {"a", "\"b c\""}},
    {"EmptyQuotes", "\"\"", {"\"\""}},
    {"MarkInsidePlainToken", "ab\"c d", {"ab\"c", "d"}},
    {"TabsAreOrdinary", "a\tb c", {"a\tb", "c"}},
    {"LongTokenIsCut", k300, {std::string(255, 'x')}},
    {"LongQuotedTokenKeepsClosingMark", "\"" + k300 + "\"", {"\"" + std::string(253, 'x') + "\""}},
};

class ArgSplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ArgSplitTable, SplitsIntoBoundedArgumentsAfterTheProgram)
{
    const SplitCase& c = GetParam();
    char szProgram[256] = "C:\\Program Files\\KTSafe\\KTSafe.exe";
    TLSArgVector args;
    std::vector<std::string> got = Split(c.line, &args, szProgram);
    EXPECT_EQ(got, c.args);
    EXPECT_EQ(args.ppszArgv[0], szProgram);
    EXPECT_EQ(args.nArgc, static_cast<int>(c.args.size()) + 1);
    for (int i = 1; i < args.nArgc; ++i) {
        EXPECT_LE(strlen(args.ppszArgv[i]), 255u);
        EXPECT_FALSE(std::string(args.ppszArgv[i]).empty());
    }
    LSFreeArgVector(&args);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, ArgSplitTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

TEST(ArgSplit, NullLineGivesOnlyTheProgram)
{
    char szProgram[256] = "KTSafe.exe";
    TLSArgVector args;
    ASSERT_TRUE(LSSplitCommandLine(nullptr, szProgram, &args));
    EXPECT_EQ(args.nArgc, 1);
    EXPECT_STREQ(args.ppszArgv[0], "KTSafe.exe");
    LSFreeArgVector(&args);
}

TEST(ArgSplit, SlotCountIsTenPlusSpaces)
{
    char szProgram[256] = "KTSafe.exe";
    TLSArgVector args;
    ASSERT_TRUE(LSSplitCommandLine("a b c", szProgram, &args));
    EXPECT_EQ(args.nSlots, 12);
    LSFreeArgVector(&args);
}

// Glued quoted/plain pairs make more tokens than there are slots: the split
// stops at the slots and never writes past the vector or the block.
TEST(ArgSplit, MoreTokensThanSlotsStaysInBounds)
{
    std::string line;
    for (int i = 0; i < 20; ++i) {
        if (i) line += ' ';
        line += "\"q\"p";  // two tokens per word, one space per word
    }
    char szProgram[256] = "KTSafe.exe";
    TLSArgVector args;
    ASSERT_TRUE(LSSplitCommandLine(line.c_str(), szProgram, &args));
    EXPECT_EQ(args.nSlots, 10 + 19);
    EXPECT_GE(args.nArgc, args.nSlots);
    EXPECT_LE(args.nArgc, args.nSlots + 1);
    for (int i = 1; i < args.nArgc; ++i) {
        std::string arg = args.ppszArgv[i];
        EXPECT_TRUE(arg == "\"q\"" || arg == "p") << arg;
    }
    LSFreeArgVector(&args);
}

}  // namespace
