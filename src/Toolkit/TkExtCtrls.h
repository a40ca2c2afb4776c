// Non-visual components: the timer and the standard open and save dialogs.
#pragma once

#include <atomic>

#include "TkForms.h"

// A timer of the GUI thread: OnTimer runs every Interval milliseconds while
// Enabled (also inside modal runs and message boxes). SetEnabled may be
// called from any thread: from another thread it posts the change to the GUI
// thread (the thread that created the timer), which applies it in order.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* pOwner);
    ~TTimer() override;

    bool Enabled() const { return m_bEnabled.load(); }
    void SetEnabled(bool bEnabled);
    unsigned Interval() const { return m_interval.load(); }
    // Changing the interval of a running timer restarts it.
    void SetInterval(unsigned ms);

    TNotifyEvent OnTimer;

private:
    friend struct TkTimerAccess;
    void Apply();
    void Fire();

    std::atomic<bool> m_bEnabled{true};
    std::atomic<unsigned> m_interval{1000};
    UINT_PTR m_id = 0;
    DWORD m_threadId = 0;
    HWND m_hUtility = nullptr;   // the GUI thread's utility window (posted to from other threads)
    bool m_bRunning = false;
};

enum TOpenOption : unsigned {
    ofOverwritePrompt = 0x001,   // ask before an existing file is chosen (save)
    ofHideReadOnly    = 0x002,   // no read-only check box
    ofFileMustExist   = 0x004,
    ofPathMustExist   = 0x008,
    ofNoChangeDir     = 0x010,   // the current directory stays (it always does: kept for callers that name it)
    ofEnableSizing    = 0x020,
    ofCreatePrompt    = 0x040,
    ofNoValidate      = 0x080
};
typedef unsigned TOpenOptions;

// The standard file dialog to choose a file to open. Filter is pairs of
// description and pattern separated by '|' ("Safe files|*.xml|All files|*.*").
// The defaults (ofHideReadOnly | ofEnableSizing) neither require an existing
// file nor ask before one. The process's current folder never changes,
// whatever the options.
class TOpenDialog : public TComponent {
public:
    explicit TOpenDialog(TComponent* pOwner);

    std::string Title;
    std::string FileName;      // in: proposed name; out: the full path chosen
    std::string Filter;
    int FilterIndex = 1;       // 1-based, as the dialog counts
    std::string InitialDir;
    std::string DefaultExt;    // without the dot
    TOpenOptions Options = ofHideReadOnly | ofEnableSizing;

    // Runs the dialog modally over the active window of the thread (or the
    // owner's form); true when the user confirmed a file. The dialog opens
    // centred on that window (on its monitor's work area when the window is
    // hidden or there is none), whole on the work area, with the program's
    // icon.
    virtual bool Execute();
    // The window the dialog is shown over: the owning form when it is
    // visible, else the thread's active window.
    HWND ParentWindow() const;

protected:
    bool Run(bool bSave);
};

// The standard file dialog to choose a name to save under.
class TSaveDialog : public TOpenDialog {
public:
    explicit TSaveDialog(TComponent* pOwner) : TOpenDialog(pOwner) {}
    bool Execute() override;
};
