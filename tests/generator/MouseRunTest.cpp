// A whole generation made by the mouse: the window is shown on the display,
// the pointer is moved over the picture through the system's input queue,
// and the window's own timer paces the characters.
#include <iostream>
#include <string>

#include "GeneratorFixture.h"
#include "TestSupport.h"
#include "UiDriver.h"

namespace gentest {
namespace {

// Moves the pointer to a screen point as the mouse does.
void MovePointer(int x, int y)
{
    const int cx = GetSystemMetrics(SM_CXSCREEN);
    const int cy = GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((x * 65535LL + cx / 2) / (cx - 1));
    input.mi.dy = static_cast<LONG>((y * 65535LL + cy / 2) / (cy - 1));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    if (SendInput(1, &input, sizeof(input)) != 1) SetCursorPos(x, y);
}

using MouseRun = GeneratorFixture;

TEST_F(MouseRun, TwentyCharactersOverAllClassesFromPointerMoves)
{
    TfrmPasswordManager* f = m_pForm;
    SetLengthByClicks(20);
    ASSERT_TRUE(f->cboxAlle->Checked());

    TickCounter ticks(f->tmrKeyGenerator);

    f->Show();
    ASSERT_NE(ktxtest::ui::WaitForWindow({"TfrmPasswordManager"}), nullptr);
    ktxtest::ui::Pump(300);
    ClickControl(f->btnCreatPwd);
    ASSERT_TRUE(f->IsGenerating());
    ticks.Reset();

    // The picture's rectangle on the screen.
    POINT origin{f->img_qov_PassGen->Left(), f->img_qov_PassGen->Top()};
    ClientToScreen(f->Handle(), &origin);
    const int w = f->img_qov_PassGen->Width();
    const int h = f->img_qov_PassGen->Height();

    bool bShotWhileGenerating = false;
    int nMoves = 0;
    const DWORD start = GetTickCount();
    while (f->IsGenerating() && GetTickCount() - start < 60000) {
        // A wandering path inside the picture, never on its edges.
        const int x = 5 + (nMoves * 37) % (w - 10);
        const int y = 5 + (nMoves * 23) % (h - 10);
        MovePointer(origin.x + x, origin.y + y);
        ++nMoves;
        ktxtest::ui::Pump(15);
        if (!bShotWhileGenerating && f->GetPasswordLength() >= 5) {
            EXPECT_TRUE(f->txt_MAUS->Visible());
            EXPECT_FALSE(ktxtest::ui::Screenshot("generator-generating", f->Handle()).empty());
            bShotWhileGenerating = true;
        }
    }
    ASSERT_FALSE(f->IsGenerating()) << "only " << f->GetPasswordLength() << " characters after " << nMoves
                                    << " pointer moves";
    const std::string password = Password();
    ASSERT_EQ(password.size(), 20u);
    for (char ch : password) EXPECT_TRUE(ch >= '!' && ch <= '~') << static_cast<int>(ch);
    EXPECT_TRUE(f->btnCreatPwd->Enabled());
    EXPECT_EQ(f->pbGenerierung->Position(), 20);
    // The timer paced the moves: after the first character each one needed a tick.
    EXPECT_GE(ticks.Ticks(), 19) << nMoves << " pointer moves";
    EXPECT_GT(nMoves, 20);

    ktxtest::ui::Pump(100);
    const std::string shot = ktxtest::ui::Screenshot("generator-finished", f->Handle());
    EXPECT_FALSE(shot.empty());
    std::cout << "screenshot: " << shot << std::endl;
    f->Close();
}

}  // namespace
}  // namespace gentest
