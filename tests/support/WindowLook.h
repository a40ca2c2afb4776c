// What a window shows of the program, as a user sees it: the icon of its
// caption and task bar, and where it lies on the screen's work area.
//
// Icons are compared by what they draw (colour pixels and mask), so an icon
// read from a window equals the program's icon loaded apart from the
// program's resources. The caption check reads the screen, so it works for a
// window of any process.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace ktxtest {
namespace look {

// The colour pixels followed by the mask of an icon; empty for a null or
// unreadable icon.
std::vector<uint32_t> IconBits(HICON hIcon);
// Width and height of an icon (0 x 0 for none).
SIZE IconSize(HICON hIcon);

// The program's icon, loaded apart (its own handle) from the first icon group
// of a program file's resources at the system's small or big icon size; null
// when the file has none. Freed on destruction.
class ProgramIcon {
public:
    // hModule null: the running program.
    ProgramIcon(bool bSmall, HMODULE hModule = nullptr);
    ~ProgramIcon();
    ProgramIcon(const ProgramIcon&) = delete;
    ProgramIcon& operator=(const ProgramIcon&) = delete;
    HICON Get() const { return m_hIcon; }

private:
    HICON m_hIcon = nullptr;
};

// The icon a window of this process shows at a size: WM_GETICON, else the
// class icon.
HICON WindowIcon(HWND hWnd, bool bSmall);
// Succeeds when the window's small and big icons draw exactly the running
// program's icon at those sizes.
::testing::AssertionResult ShowsProgramIcon(HWND hWnd);
// Succeeds when the screen shows the icon (its opaque pixels) in the top
// left corner of the window, where the caption has its icon. Works for a
// window of any process; the window must be visible and uncovered.
::testing::AssertionResult CaptionShowsIcon(HWND hWnd, HICON hSmallIcon);

// The work area of the monitor a window is on (the primary monitor's for null).
RECT WorkAreaOf(HWND hWnd);
// Succeeds when inner lies whole inside outer.
::testing::AssertionResult Within(const RECT& inner, const RECT& outer);
// Succeeds when the centres of the two rectangles lie at most tolerance pixels apart on each axis.
::testing::AssertionResult CentredOn(const RECT& rc, const RECT& on, int tolerance = 3);

}  // namespace look
}  // namespace ktxtest
