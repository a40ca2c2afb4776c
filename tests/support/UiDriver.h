// Driving real windows from tests, as a user would: find windows and
// controls, click, type, read texts, select and edit list rows, answer the
// next message box or dialog while the code under test is blocked in a modal
// loop, and take screenshots.
//
// Threads: the functions may be called from the GUI thread (they then send
// their messages synchronously) or from a helper thread. A click that opens
// a modal loop from the GUI thread blocks until that loop ends, so arm an
// Answer before it:
//
//   ktxtest::ui::Answer answer({"#32770"}, ktxtest::ui::Press("&Yes"));
//   form->DoRmvItem(item);                       // shows a box, blocks
//   ASSERT_TRUE(answer.Wait());                  // the box was answered
//   EXPECT_NE(answer.Text().find("delete"), std::string::npos);
//
// Waiting: every Wait... polls with a time-out and pumps the calling
// thread's messages meanwhile, so timers of the GUI thread keep running.
// Windows are pressed only once visible and complete, and pressed again
// until they are gone (a press that comes too early can be lost under Wine).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ktxtest {
namespace ui {

constexpr DWORD kDefaultTimeoutMs = 10000;

// Which top-level window: class name and/or caption (null: any), of a
// process (0: this process). Only visible windows match.
struct WindowMatch {
    const char* className = nullptr;
    const char* caption = nullptr;
    DWORD pid = 0;
    WindowMatch() = default;
    WindowMatch(const char* cls, const char* cap = nullptr, DWORD processId = 0)
        : className(cls), caption(cap), pid(processId) {}
};

// Class name and window text of a window.
std::string ClassOf(HWND hWnd);
std::string TextOf(HWND hWnd);

// The first visible top-level window that matches, or null.
HWND FindTopWindow(const WindowMatch& match);
// Waits (pumping messages) until a matching window is visible; null on time-out.
HWND WaitForWindow(const WindowMatch& match, DWORD timeoutMs = kDefaultTimeoutMs);
// Waits until hWnd is gone or hidden; false on time-out.
bool WaitForWindowGone(HWND hWnd, DWORD timeoutMs = kDefaultTimeoutMs);

// A child control (any depth) by its text (exact, '&' ignored), optionally of
// a class; null if none.
HWND FindControl(HWND hParent, const std::string& text, const char* className = nullptr);
// The index-th (0-based) child control of a class, in creation order.
HWND FindControlByClass(HWND hParent, const char* className, int index = 0);
// A direct child by control id.
HWND FindControlById(HWND hParent, int id);
// Every child control (any depth), in creation order.
std::vector<HWND> Controls(HWND hParent);

// Clicks a button, check box or speed button (BM_CLICK: the mouse goes down
// and up on it). From the GUI thread the handler runs before this returns.
bool Click(HWND hControl);
// Posts the click and returns at once (for controls of another thread that
// open a modal loop).
bool PostClick(HWND hControl);
// Presses the button with that caption ('&' ignored) or id inside hDialog.
bool PressButton(HWND hDialog, const std::string& caption);
bool PressButtonId(HWND hDialog, int id);

// Gives the control the focus (also across threads) and replaces its text by
// typing text character by character (WM_CHAR), as a user would.
bool Type(HWND hEdit, const std::string& text);
// Sets the text at once (WM_SETTEXT; the control reports one change).
bool SetText(HWND hControl, const std::string& text);
// Presses and releases a key on the control: the key messages are posted to
// its queue (as the keyboard does) and, from the GUI thread, pumped until
// handled.
bool PressKey(HWND hControl, WORD vk);
// Moves the keyboard focus to the control.
bool Focus(HWND hControl);

// List views: number of rows, a row's caption, the selected row (-1: none),
// selecting a row as a click does (the old row loses, the new row gains the
// selection), starting in-place editing and ending it with Enter (confirm)
// or Escape.
int ListCount(HWND hList);
std::string ListItemText(HWND hList, int index, int subItem = 0);
int ListSelected(HWND hList);
bool SelectListItem(HWND hList, int index);
bool BeginListEdit(HWND hList, int index);
bool FinishListEdit(HWND hList, const std::string& text, bool bConfirm = true);

// Simulates a mouse event on a control at client coordinates (messages, not
// the real pointer): down, move and up with the MK_ flags given.
bool MouseDown(HWND hControl, int x, int y, bool bRight = false);
bool MouseMove(HWND hControl, int x, int y, WPARAM mkFlags = 0);
bool MouseUp(HWND hControl, int x, int y, bool bRight = false);

// Opens hControl's context menu as a right click at (x, y) of its client
// area does, and chooses the item whose text ('&' ignored) is itemText with
// the keyboard, as a user would. pItems (may be null) receives the menu as it
// was shown: separators as "-", disabled items with "(disabled)" appended.
// False when no menu appeared or the item is not there or disabled (the menu
// is then closed with Escape and nothing is chosen).
bool ChooseContextMenuItem(HWND hControl, const std::string& itemText, std::vector<std::string>* pItems = nullptr,
                           int x = 10, int y = 10);

// What an Answer does with the window it found. Return true when done; the
// Answer retries (every 100 ms, up to its time-out) until the window is gone.
typedef std::function<bool(HWND hWindow)> Action;
// Presses the button with that caption ('&' ignored).
Action Press(const std::string& caption);
// Presses the button with that id (IDOK, IDCANCEL, IDYES, ...).
Action PressId(int id);
// Types text into the index-th edit, then presses the button with that caption.
Action TypeAndPress(const std::string& text, const std::string& caption, int editIndex = 0);

// In a standard open or save dialog: notes the proposed name (and the first
// file type) when asked, types name (a bare name or a full path) into the
// name field and confirms.
Action ChooseFile(const std::string& name, std::string* pSeenName = nullptr, std::string* pSeenFilter = nullptr);

// Answers the next window that matches (one that was not there yet when the
// Answer was made), from a helper thread, while the test's thread is blocked
// in a modal loop. The window must be visible and complete (it has children)
// before the action runs.
class Answer {
public:
    Answer(const WindowMatch& match, Action action, DWORD timeoutMs = kDefaultTimeoutMs);
    ~Answer();   // waits for the helper thread
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;

    // Waits (pumping messages) until the window was answered and is gone;
    // false on time-out.
    bool Wait(DWORD timeoutMs = kDefaultTimeoutMs);
    bool Answered() const { return m_answered.load(); }
    // The texts of the window's static controls and its caption, as seen
    // before the action ran (the message of a message box), joined by '\n'.
    std::string Text() const;
    std::string Caption() const;
    HWND Window() const { return m_hWnd.load(); }

private:
    void Run();
    WindowMatch m_match;
    std::string m_className, m_caption;
    Action m_action;
    DWORD m_timeoutMs;
    std::vector<HWND> m_existing;
    std::atomic<bool> m_answered{false};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_stop{false};
    std::atomic<HWND> m_hWnd{nullptr};
    std::string m_text, m_seenCaption;
    mutable std::mutex m_mutex;
    std::thread m_thread;
};

// Pumps the calling thread's messages for ms milliseconds.
void Pump(DWORD ms);
// How the driver's waits dispatch a message on the calling thread. The
// default translates and dispatches; a toolkit test sets the toolkit's own
// dispatch so keyboard handling (Tab, Enter, Escape) works as in the program:
//   ui::SetDispatcher([](MSG& m) { Application->DispatchOne(m); });
void SetDispatcher(std::function<void(MSG&)> dispatcher);

// The pixels (0x00RRGGBB, rows top down) of the screen (hWnd null) or of a
// window's rectangle as the screen shows it; empty when there is nothing.
std::vector<uint32_t> Capture(HWND hWnd, int* pWidth, int* pHeight);
// Saves a PNG of the screen (hWnd null) or of a window's rectangle under the
// folder named by KTX_ARTIFACTS (or the temporary folder); returns the
// Windows path written, or an empty text on failure. name: "toolkit-form".
std::string Screenshot(const std::string& name, HWND hWnd = nullptr);

}  // namespace ui
}  // namespace ktxtest
