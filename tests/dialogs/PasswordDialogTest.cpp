// The two password dialogs, driven as a user would through TVornixDyn.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DialogTestSupport.h"
#include "KTXLANG.h"
#include "LSStr.h"

namespace ui = ktxtest::ui;
using namespace dlgtest;

namespace {

// A caller's password buffer, filled with garbage first so that a dialog that
// leaves it alone shows up.
struct PasswordBuffer {
    char sz[LS_PASSWORD_SIZE];
    PasswordBuffer() { memset(sz, 'Z', sizeof(sz)); }
    ~PasswordBuffer() { SecureZeroMemory(sz, sizeof(sz)); }
    bool AllZero() const
    {
        for (char c : sz)
            if (c != 0) return false;
        return true;
    }
};

std::string TooLongText(int nMax)
{
    char sz[1024];
    LSStrFormat(sz, sizeof(sz), DLS_DLG_PWD_TOOLONG(), nMax);
    return sz;
}

class PasswordDialogs : public ::testing::Test {
protected:
    OwnerHandle owner;
    ParentWindow parent;
};

}  // namespace

TEST_F(PasswordDialogs, InputReturnsTheTypedPasswordOnOk)
{
    const std::string typed = "Tr0ub4dor&3 \"x\"";
    bool bOkBefore = true, bOkAfter = false;
    HWND hOwnerSeen = nullptr;
    BOOL bParentEnabled = TRUE;
    ui::Answer answer({kClassPassword}, Script([&](HWND h) {
        bOkBefore = IsWindowEnabled(Button(h, DLS_DLG_BTN_OK())) != FALSE;
        hOwnerSeen = GetWindow(h, GW_OWNER);
        bParentEnabled = IsWindowEnabled(parent.Handle());
        ui::Type(Edit(h), typed);
        bOkAfter = IsWindowEnabled(Button(h, DLS_DLG_BTN_OK())) != FALSE;
    }, DLS_DLG_BTN_OK()));

    PasswordBuffer buf;
    bool bCancel = true;
    bool bResult = TVornixDyn::DYN_DoInputPassword(owner.Get(), parent.Handle(), buf.sz, sizeof(buf.sz), &bCancel);
    ASSERT_TRUE(answer.Wait());
    EXPECT_TRUE(bResult);
    EXPECT_FALSE(bCancel);
    EXPECT_EQ(typed, std::string(buf.sz));
    EXPECT_FALSE(bOkBefore) << "OK must wait for a password";
    EXPECT_TRUE(bOkAfter);
    EXPECT_EQ(parent.Handle(), hOwnerSeen) << "the dialog belongs to the given parent";
    EXPECT_FALSE(bParentEnabled) << "the dialog is modal";
    EXPECT_TRUE(IsWindowEnabled(parent.Handle()));
    EXPECT_NE(std::string::npos, answer.Caption().find(DLS_DLG_PWD_CAPTION()));
}

TEST_F(PasswordDialogs, InputCancelSetsTheFlagAndLeavesNoPassword)
{
    ui::Answer answer({kClassPassword}, Script([&](HWND h) { ui::Type(Edit(h), "half typed"); },
                                               DLS_DLG_BTN_CANCEL()));
    PasswordBuffer buf;
    bool bCancel = false;
    bool bResult = TVornixDyn::DYN_DoInputPassword(owner.Get(), parent.Handle(), buf.sz, sizeof(buf.sz), &bCancel);
    ASSERT_TRUE(answer.Wait());
    EXPECT_FALSE(bResult);
    EXPECT_TRUE(bCancel);
    EXPECT_TRUE(buf.AllZero()) << "a cancelled dialog leaves an empty buffer";
    EXPECT_FALSE(LSOwnerErr(owner.Get())->bFailed) << "a cancel is no failure";
}

// Enter confirms (the default button), Escape cancels: keys reach the dialog
// through its own message loop, as typed by the user.
TEST_F(PasswordDialogs, InputAnswersEnterAndEscape)
{
    struct Case {
        WORD vk;
        bool bResult;
        bool bCancel;
    } cases[] = {{VK_RETURN, true, false}, {VK_ESCAPE, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vk == VK_RETURN ? "Enter" : "Escape");
        ui::Answer answer({kClassPassword}, Script([&](HWND h) {
            ui::Type(Edit(h), "secret");
            ui::PressKey(Edit(h), c.vk);
        }, ""));
        PasswordBuffer buf;
        bool bCancel = !c.bCancel;
        bool bResult = TVornixDyn::DYN_DoInputPassword(owner.Get(), parent.Handle(), buf.sz, sizeof(buf.sz), &bCancel);
        ASSERT_TRUE(answer.Wait());
        EXPECT_EQ(c.bResult, bResult);
        EXPECT_EQ(c.bCancel, bCancel);
        EXPECT_EQ(c.bResult ? std::string("secret") : std::string(), std::string(buf.sz));
    }
}

// 126 characters are the most a safe password can have: one more is refused
// with the explanation, and OK stays disabled until the text is short enough.
TEST_F(PasswordDialogs, InputRefusesMoreThan126Characters)
{
    const std::string longest(126, 'p');
    bool bOkTooLong = true, bHintTooLong = false, bOkFits = false, bHintFits = true;
    ui::Answer answer({kClassPassword}, Script([&](HWND h) {
        ui::Type(Edit(h), longest + "q");
        bOkTooLong = IsWindowEnabled(Button(h, DLS_DLG_BTN_OK())) != FALSE;
        bHintTooLong = ShowsText(h, TooLongText(126));
        Shot("password-toolong", h);
        ui::Type(Edit(h), longest);
        bOkFits = IsWindowEnabled(Button(h, DLS_DLG_BTN_OK())) != FALSE;
        bHintFits = ShowsText(h, TooLongText(126));
    }, DLS_DLG_BTN_OK()));
    PasswordBuffer buf;
    bool bCancel = true;
    bool bResult = TVornixDyn::DYN_DoInputPassword(owner.Get(), parent.Handle(), buf.sz, sizeof(buf.sz), &bCancel);
    ASSERT_TRUE(answer.Wait());
    EXPECT_FALSE(bOkTooLong);
    EXPECT_TRUE(bHintTooLong) << "the refusal is explained";
    EXPECT_TRUE(bOkFits);
    EXPECT_FALSE(bHintFits);
    EXPECT_TRUE(bResult);
    EXPECT_EQ(longest, std::string(buf.sz));
}

// A smaller buffer lowers the limit; the text never runs past the buffer.
TEST_F(PasswordDialogs, InputKeepsToTheCallersBuffer)
{
    bool bOkNine = true, bHintNine = false;
    ui::Answer answer({kClassPassword}, Script([&](HWND h) {
        ui::Type(Edit(h), "123456789");
        bOkNine = IsWindowEnabled(Button(h, DLS_DLG_BTN_OK())) != FALSE;
        bHintNine = ShowsText(h, TooLongText(8));
        ui::Type(Edit(h), "12345678");
    }, DLS_DLG_BTN_OK()));
    char buf[12];
    memset(buf, 'Z', sizeof(buf));
    bool bCancel = true;
    bool bResult = TVornixDyn::DYN_DoInputPassword(owner.Get(), parent.Handle(), buf, 9, &bCancel);
    ASSERT_TRUE(answer.Wait());
    EXPECT_FALSE(bOkNine);
    EXPECT_TRUE(bHintNine);
    EXPECT_TRUE(bResult);
    EXPECT_STREQ("12345678", buf);
    EXPECT_EQ('Z', buf[9]) << "nothing written past the buffer";
}

TEST_F(PasswordDialogs, InputRefusesBadArgumentsWithoutShowingAnything)
{
    bool bCancel = true;
    EXPECT_FALSE(TVornixDyn::DYN_DoInputPassword(owner.Get(), parent.Handle(), nullptr, 257, &bCancel));
    EXPECT_FALSE(bCancel);
    EXPECT_TRUE(LSOwnerErr(owner.Get())->bFailed);
    char one[1] = {'Z'};
    EXPECT_FALSE(TVornixDyn::DYN_DoInputPasswordChange(owner.Get(), parent.Handle(), one, 1, &bCancel));
    EXPECT_EQ('Z', one[0]);
    EXPECT_EQ(nullptr, ui::FindTopWindow({kClassPassword}));
    EXPECT_EQ(nullptr, ui::FindTopWindow({kClassPasswordChange}));
}

// The show/hide switch unmasks the field and masks it again; the keyboard
// moves from the field to the switch and on to the buttons.
TEST_F(PasswordDialogs, InputShowHideSwitchAndTabOrder)
{
    LRESULT maskStart = 0, maskShown = 1, maskHidden = 0;
    HWND hFocusStart = nullptr, hFocusAfterTab = nullptr, hEdit = nullptr, hCheck = nullptr;
    ui::Answer answer({kClassPassword}, Script([&](HWND h) {
        hEdit = Edit(h);
        hCheck = Button(h, DLS_DLG_PWD_SHOW());
        hFocusStart = FocusOf(h);
        maskStart = SendMessageA(hEdit, EM_GETPASSWORDCHAR, 0, 0);
        ui::Click(hCheck);
        maskShown = SendMessageA(hEdit, EM_GETPASSWORDCHAR, 0, 0);
        ui::Click(hCheck);
        maskHidden = SendMessageA(hEdit, EM_GETPASSWORDCHAR, 0, 0);
        ui::Focus(hEdit);
        ui::PressKey(hEdit, VK_TAB);
        WaitTrue([&] { return FocusOf(h) != hEdit; }, 3000);
        hFocusAfterTab = FocusOf(h);
    }, DLS_DLG_BTN_CANCEL()));
    PasswordBuffer buf;
    bool bCancel = false;
    TVornixDyn::DYN_DoInputPassword(owner.Get(), parent.Handle(), buf.sz, sizeof(buf.sz), &bCancel);
    ASSERT_TRUE(answer.Wait());
    EXPECT_EQ(hEdit, hFocusStart) << "typing starts in the password field";
    EXPECT_NE(0, maskStart);
    EXPECT_EQ(0, maskShown);
    EXPECT_NE(0, maskHidden);
    EXPECT_EQ(hCheck, hFocusAfterTab);
}

// Without a parent the dialog belongs to the owner's parent-window slot and
// appears at the owner's dialog position.
TEST_F(PasswordDialogs, FollowsTheOwnersWindowSlotAndPosition)
{
    owner->hOwnerWnd = parent.Handle();
    owner->bDlgPosSet = true;
    owner->nDlgLeft = 150;
    owner->nDlgTop = 120;
    HWND hOwnerSeen = nullptr;
    RECT rc{};
    ui::Answer answer({kClassPasswordChange}, Script([&](HWND h) {
        hOwnerSeen = GetWindow(h, GW_OWNER);
        GetWindowRect(h, &rc);
    }, DLS_DLG_BTN_CANCEL()));
    PasswordBuffer buf;
    bool bCancel = false;
    TVornixDyn::DYN_DoInputPasswordChange(owner.Get(), nullptr, buf.sz, sizeof(buf.sz), &bCancel);
    ASSERT_TRUE(answer.Wait());
    EXPECT_EQ(parent.Handle(), hOwnerSeen);
    EXPECT_EQ(150, rc.left);
    EXPECT_EQ(120, rc.top);
    EXPECT_TRUE(bCancel);
}

// OK only when both fields agree, are not empty and are short enough; the
// hint says which of these is missing.
TEST_F(PasswordDialogs, ChangeNeedsTwoAgreeingFields)
{
    const std::string longest(126, 'k');
    struct Case {
        std::string first, second;
        bool bOk;
        std::string hint;
    } cases[] = {
        {"", "", false, ""},
        {"abc", "", false, ""},
        {"abc", "abd", false, DLS_DLG_NEWPWD_MISMATCH()},
        {"", "abc", false, DLS_DLG_NEWPWD_MISMATCH()},
        {"abc", "ABC", false, DLS_DLG_NEWPWD_MISMATCH()},
        {"abc", "abc", true, DLS_DLG_NEWPWD_MATCH()},
        {longest + "k", longest + "k", false, TooLongText(126)},
        {longest, longest, true, DLS_DLG_NEWPWD_MATCH()},
    };
    std::vector<bool> okSeen;
    std::vector<std::string> hintSeen;
    ui::Answer answer({kClassPasswordChange}, Script([&](HWND h) {
        for (const Case& c : cases) {
            ui::Type(Edit(h, 0), c.first);
            ui::Type(Edit(h, 1), c.second);
            okSeen.push_back(IsWindowEnabled(Button(h, DLS_DLG_BTN_OK())) != FALSE);
            std::string hint;
            for (const std::string& t : StaticTexts(h)) {
                if (t == DLS_DLG_NEWPWD_MISMATCH() || t == DLS_DLG_NEWPWD_MATCH() || t == TooLongText(126)) hint = t;
            }
            hintSeen.push_back(hint);
        }
    }, DLS_DLG_BTN_CANCEL()));
    PasswordBuffer buf;
    bool bCancel = false;
    EXPECT_FALSE(TVornixDyn::DYN_DoInputPasswordChange(owner.Get(), parent.Handle(), buf.sz, sizeof(buf.sz), &bCancel));
    ASSERT_TRUE(answer.Wait());
    EXPECT_TRUE(bCancel);
    EXPECT_TRUE(buf.AllZero());
    ASSERT_EQ(sizeof(cases) / sizeof(cases[0]), okSeen.size());
    for (size_t i = 0; i < okSeen.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + ": \"" + cases[i].first.substr(0, 8) + "\" / \"" +
                     cases[i].second.substr(0, 8) + "\"");
        EXPECT_EQ(cases[i].bOk, okSeen[i]);
        EXPECT_EQ(cases[i].hint, hintSeen[i]);
    }
}

TEST_F(PasswordDialogs, ChangeReturnsTheAgreedPassword)
{
    const std::string chosen = "N3w-Passw0rd!";
    ui::Answer answer({kClassPasswordChange}, Script([&](HWND h) {
        ui::Type(Edit(h, 0), chosen);
        ui::Type(Edit(h, 1), chosen);
        ui::PressKey(Edit(h, 1), VK_RETURN);
    }, ""));
    PasswordBuffer buf;
    bool bCancel = true;
    bool bResult = TVornixDyn::DYN_DoInputPasswordChange(owner.Get(), parent.Handle(), buf.sz, sizeof(buf.sz), &bCancel);
    ASSERT_TRUE(answer.Wait());
    EXPECT_TRUE(bResult);
    EXPECT_FALSE(bCancel);
    EXPECT_EQ(chosen, std::string(buf.sz));
}

// The strength follows the password generator's rule: the size of the
// alphabet the password draws from times its length, 1880 filling the bar,
// shown with the word of the generator's six-step scale.
TEST_F(PasswordDialogs, ChangeShowsTheStrengthOfTheFirstField)
{
    struct Case {
        std::string password;
        int nBar;
        const char* pszWord;
    } cases[] = {
        {"abc", 3 * 26, DLS_TXT_SEHRNIEDRIG()},
        {"abcdefghijklmnopq", 17 * 26, DLS_TXT_NIEDRIG()},
        {"Abcdefgh12", 10 * 62, DLS_TXT_NIEDRIG()},
        {"Abcdefg12!", 10 * 94, DLS_TXT_HOCH()},
        {"Abcdefgh12!x#y", 14 * 94, DLS_TXT_SEHRHOCH()},
        {"Abcdefgh12!x#Abcdefgh", 1880, DLS_TXT_EXTREM()},
        {std::string(40, 'a') + "B1$", 1880, DLS_TXT_EXTREM()},
    };
    std::vector<int> bars;
    std::vector<bool> words;
    int nMax = 0;
    ui::Answer answer({kClassPasswordChange}, Script([&](HWND h) {
        nMax = BarMax(h);
        for (const Case& c : cases) {
            ui::Type(Edit(h, 0), c.password);
            bars.push_back(BarPosition(h));
            words.push_back(ShowsText(h, c.pszWord));
        }
        Shot("newpassword-strength", h);
    }, DLS_DLG_BTN_CANCEL()));
    PasswordBuffer buf;
    bool bCancel = false;
    TVornixDyn::DYN_DoInputPasswordChange(owner.Get(), parent.Handle(), buf.sz, sizeof(buf.sz), &bCancel);
    ASSERT_TRUE(answer.Wait());
    EXPECT_EQ(1880, nMax);
    ASSERT_EQ(sizeof(cases) / sizeof(cases[0]), bars.size());
    for (size_t i = 0; i < bars.size(); ++i) {
        SCOPED_TRACE(cases[i].password);
        EXPECT_EQ(cases[i].nBar, bars[i]);
        EXPECT_TRUE(words[i]) << "expected the word " << cases[i].pszWord;
    }
}
