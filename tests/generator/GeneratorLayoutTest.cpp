// The password generator as a user sees it, in the language of the run:
// every caption fits, nothing lies on top of anything else.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "DlgPasswordGenerator.h"
#include "KTXLANG.h"
#include "LayoutCheck.h"
#include "UiDriver.h"

namespace {

TEST(GeneratorLayout, EveryCaptionFitsAndNothingOverlaps)
{
    const char* expected = getenv("KTX_EXPECT_LANG");
    if (expected && *expected) EXPECT_EQ(atoi(expected), DLS_LANG_ID()) << "the language of this run";
    TLSOwner* pOwner = GetLSOwnerHandle("KTSafe.EXE");
    ASSERT_NE(pOwner, nullptr);
    {
        TfrmPasswordManager form(pOwner, nullptr);
        form.Show();
        ktxtest::ui::Pump(300);
        for (const std::string& problem : ktxtest::LayoutProblems(&form)) ADD_FAILURE() << problem;
        const std::string lang = DLS_LANG_ID() == LS_LANG_GERMAN ? "de" : "en";
        EXPECT_FALSE(ktxtest::ui::Screenshot("generator-" + lang, form.Handle()).empty());
        form.Hide();
    }
    FreeLSOwnerHandle(pOwner);
}

}  // namespace
