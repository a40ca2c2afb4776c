// How mouse movements over the picture and the ticks of tmrKeyGenerator pace
// a generation. The moves are WM_MOUSEMOVE messages to the window; the ticks
// are the timer's own handler, so each armed period is known exactly.
#include <string>

#include "GeneratorFixture.h"
#include "TestSupport.h"
#include "UiDriver.h"

namespace gentest {
namespace {

using Pacing = GeneratorFixture;

TEST_F(Pacing, MovesWithoutAStartedGenerationAddNothing)
{
    for (int i = 0; i < 4; ++i) {
        m_pForm->tmrKeyGeneratorTimer(m_pForm->tmrKeyGenerator);
        MoveOverPicture(5 + i, 5 + i);
        EXPECT_FALSE(m_pForm->DoAddMouseChar(5 + i, 5 + i));
    }
    EXPECT_FALSE(m_pForm->IsGenerating());
    EXPECT_EQ(m_pForm->pbGenerierung->Position(), 0);
    EXPECT_EQ(m_pForm->edPasswort->GetTextLen(), 0);
}

TEST_F(Pacing, OneCharacterPerArmedPeriodAndNoneAtTheEdges)
{
    TfrmPasswordManager* f = m_pForm;
    ClickControl(f->btnCreatPwd);
    ASSERT_TRUE(f->IsGenerating());

    // A move always leaves the window disarmed, with a character or without.
    MoveOverPicture(5, 5);
    const int n = f->GetPasswordLength();
    ASSERT_LE(n, 1);
    EXPECT_EQ(f->pbGenerierung->Position(), n);

    // Disarmed: moves add nothing.
    MoveOverPicture(6, 6);
    MoveOverPicture(20, 30);
    EXPECT_EQ(f->GetPasswordLength(), n);

    // Armed: moves at x = 0 or y = 0 add nothing and leave it armed.
    f->tmrKeyGeneratorTimer(f->tmrKeyGenerator);
    MoveOverPicture(0, 7);
    MoveOverPicture(7, 0);
    EXPECT_FALSE(f->DoAddMouseChar(0, 9));
    EXPECT_FALSE(f->DoAddMouseChar(9, 0));
    EXPECT_EQ(f->GetPasswordLength(), n);
    MoveOverPicture(7, 7);
    EXPECT_EQ(f->GetPasswordLength(), n + 1);
    EXPECT_EQ(f->pbGenerierung->Position(), n + 1);

    // At most one character per armed period.
    MoveOverPicture(8, 8);
    MoveOverPicture(9, 9);
    EXPECT_EQ(f->GetPasswordLength(), n + 1);

    // An armed period without a move passes without a character.
    f->tmrKeyGeneratorTimer(f->tmrKeyGenerator);
    f->tmrKeyGeneratorTimer(f->tmrKeyGenerator);
    MoveOverPicture(7, 7);
    EXPECT_EQ(f->GetPasswordLength(), n + 1);

    // A move over the hint text lying on the picture counts as a move over the picture.
    ASSERT_TRUE(f->txt_MAUS->Visible());
    const int hx = f->txt_MAUS->Left() + f->txt_MAUS->Width() / 2 - f->img_qov_PassGen->Left();
    const int hy = f->txt_MAUS->Top() + f->txt_MAUS->Height() / 2 - f->img_qov_PassGen->Top();
    f->tmrKeyGeneratorTimer(f->tmrKeyGenerator);
    MoveOverPicture(hx, hy);
    EXPECT_EQ(f->GetPasswordLength(), n + 2);
}

class RunLength : public GeneratorFixture, public ::testing::WithParamInterface<int> {};

TEST_P(RunLength, CompletesWithExactlyTheChosenLength)
{
    const int nLength = GetParam();
    TfrmPasswordManager* f = m_pForm;
    SetLengthByClicks(nLength);
    ClickControl(f->btnCreatPwd);

    int nTicks = 0;
    while (f->IsGenerating() && nTicks < 4 * nLength + 4) {
        f->tmrKeyGeneratorTimer(f->tmrKeyGenerator);
        ++nTicks;
        // Several moves per tick: only the first one of an armed period counts.
        for (int m = 0; m < 3; ++m) MoveOverPicture(1 + (nTicks * 7 + m) % 280, 1 + (nTicks * 13 + m) % 190);
    }
    ASSERT_FALSE(f->IsGenerating());
    const std::string password = Password();
    ASSERT_EQ(password.size(), static_cast<size_t>(nLength));
    for (char ch : password) EXPECT_TRUE(ch >= '!' && ch <= '~') << static_cast<int>(ch);
    EXPECT_EQ(f->pbGenerierung->Position(), nLength);
    EXPECT_EQ(f->pbGenerierung->Max(), nLength);

    // A finished password does not grow.
    for (int i = 0; i < 4; ++i) {
        f->tmrKeyGeneratorTimer(f->tmrKeyGenerator);
        MoveOverPicture(33, 44);
    }
    EXPECT_EQ(Password(), password);
}

INSTANTIATE_TEST_SUITE_P(Lengths, RunLength, ::testing::Values(1, 8, 20, 200));

TEST_F(Pacing, TheRunningTimerAllowsOneCharacterPerTick)
{
    TfrmPasswordManager* f = m_pForm;
    TickCounter ticks(f->tmrKeyGenerator);
    SetLengthByClicks(TfrmPasswordManager::MAX_LENGTH);
    ClickControl(f->btnCreatPwd);
    ticks.Reset();

    // The mouse moves all the time while the timer runs on its own.
    int nMoves = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 2500) {
        MoveOverPicture(1 + nMoves % 280, 1 + (nMoves * 3) % 190);
        ++nMoves;
        ktxtest::ui::Pump(10);
    }
    const int nChars = f->GetPasswordLength();
    const int nTicks = ticks.Ticks();
    // A character disarms, the next tick arms again: one character at the
    // start at most, then at most one per tick however often the mouse moves.
    EXPECT_LE(nChars, nTicks + 1) << nTicks << " ticks, " << nMoves << " moves";
    EXPECT_GE(nTicks, 2);
    EXPECT_GE(nChars, 1);
    EXPECT_GT(nMoves, nChars);
}

}  // namespace
}  // namespace gentest
