// Forms (top-level windows) and the application object.
#pragma once

#include "TkControls.h"

class TButton;

// Results of a modal run (ShowModal) and of buttons that end one.
enum TModalResult : int {
    mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL, mrAbort = IDABORT, mrRetry = IDRETRY,
    mrIgnore = IDIGNORE, mrYes = IDYES, mrNo = IDNO, mrClose = 8
};

// Where a form appears when it is shown the first time.
enum TPosition {
    poDesigned,         // where SetBounds put it (the system's choice if never placed)
    poDefault,          // the system chooses position and size
    poDefaultPosOnly,   // the system chooses the position, the form keeps its size
    poDesktopCenter,    // centred on the desktop's work area
    poMainFormCenter,   // centred on the application's main form (desktop without one)
    poOwnerFormCenter   // centred on the owner window (desktop without one)
};

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow };

// The program's icon: the first icon group of the process's main module (the
// icon Explorer and shortcuts show for the program), at the system's small
// (caption) or big (task bar, Alt+Tab) size. The same for every module of the
// process, also for a DLL's copy of the toolkit; shared, never destroyed.
// Null when the program has no icon.
HICON TkProgramIcon(bool bSmall);
// Gives a top-level window the program's icon at both sizes; leaves it alone
// when the program has none. True when the icon was set.
bool TkSetProgramIcon(HWND hWnd);

enum TBorderIcon : unsigned { biSystemMenu = 0x1, biMinimize = 0x2, biMaximize = 0x4 };
typedef unsigned TBorderIcons;

// What Close does after OnClose: caNone keeps the form open, caHide hides it
// (the default), caMinimize minimises it.
enum TCloseAction { caNone, caHide, caMinimize };

typedef std::function<void(TObject* Sender, TCloseAction& Action)> TCloseEvent;
typedef std::function<void(TObject* Sender, bool& CanClose)> TCloseQueryEvent;

// Size limits of a form's outer rectangle (0 = no limit). Enforced for the
// user's resizing and for every size set by code.
struct TSizeConstraints {
    int MinWidth = 0;
    int MinHeight = 0;
    int MaxWidth = 0;
    int MaxHeight = 0;
};

// A top-level window. The window class name is the form's class name given
// by the derived form (for example "TfrmDlgSafe"), so FindWindowA finds it.
// The window is created hidden by the constructor; the derived form builds
// its controls in its own constructor and shows it with Show or ShowModal.
//
// Keyboard: Tab moves between the controls with TabStop in tab order, Enter
// clicks the default button (unless the focused control wants Enter, like a
// memo), Escape clicks the cancel button.
class TForm : public TWinControl {
public:
    // pOwner: usually the application or another form (the form is deleted
    // with its owner). pszClassName: the window class name. hWndOwner: the
    // window this form stays above (null: chosen when shown, see ShowModal).
    TForm(TComponent* pOwner, const char* pszClassName = "TForm", HWND hWndOwner = nullptr);
    ~TForm() override;

    const std::string& ClassName() const { return m_className; }

    // The window this form stays above (owner window), settable until shown.
    HWND OwnerWindow() const;
    void SetOwnerWindow(HWND hWndOwner);

    TPosition Position() const { return m_position; }
    void SetPosition(TPosition position) { m_position = position; }
    TFormBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TFormBorderStyle style);
    TBorderIcons BorderIcons() const { return m_borderIcons; }
    void SetBorderIcons(TBorderIcons icons);
    TSizeConstraints& Constraints() { return m_constraints; }
    // Applies changed Constraints to the current size.
    void ApplyConstraints();
    // Stays above other windows of the system.
    void SetFormStyleStayOnTop(bool bOnTop);

    // Shows the form without waiting (activates it).
    void Show();
    // Hides the form (a modal run ends with mrCancel).
    void Hide();
    void SetVisible(bool bVisible) override;
    // Asks OnCloseQuery, runs OnClose, then: a modal form ends its modal run
    // (ModalResult mrCancel unless set), the main form ends the application,
    // any other form hides (or what OnClose's Action says).
    void Close();
    // Shows the form modally: every other enabled window of the thread is
    // disabled, the form runs its own message loop (timers and other windows'
    // messages included) until ModalResult is set or the form closes, then the
    // windows are enabled again, the form hidden and ModalResult returned.
    // Works without a running application loop. Without an owner window the
    // active window of the thread becomes the owner.
    int ShowModal();
    bool Modal() const { return m_bModal; }
    int ModalResult() const { return m_modalResult; }
    // Setting a result other than mrNone during a modal run ends it.
    void SetModalResult(int result);

    // The button clicked by Enter (drawn as default) and by Escape.
    TButton* DefaultButton() const { return m_pDefaultButton; }
    void SetDefaultButton(TButton* pButton);
    TButton* CancelButton() const { return m_pCancelButton; }
    void SetCancelButton(TButton* pButton);

    // The control that has (or last had) the focus in this form.
    TWinControl* ActiveControl() const { return m_pActiveControl; }
    void SetActiveControl(TWinControl* pControl);
    // Brings the form to the front and activates it.
    void BringToFront();

    // The caption and task bar icon (the form does not own it). Every form
    // starts with the program's icon (TkProgramIcon).
    void SetIcon(HICON hIcon);

    TNotifyEvent OnShow;      // just before the form becomes visible
    TNotifyEvent OnHide;      // after it was hidden
    TCloseQueryEvent OnCloseQuery;
    TCloseEvent OnClose;
    TNotifyEvent OnResize;    // after a size change, children already laid out
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    // Fired when the window is destroyed while the form object lives (an
    // outside DestroyWindow). A form's own clean-up belongs in its destructor.
    TNotifyEvent OnDestroy;
    // Fired when the user's session ends (logoff, shutdown: WM_ENDSESSION with
    // the ending flag set). The process may end as soon as the handler
    // returns, so whatever must be kept is done inside it: nothing posted or
    // left to the end of a modal run will run.
    TNotifyEvent OnEndSession;

protected:
    LRESULT WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    RECT GetBounds() const override;
    void ApplyBounds(const RECT& rc) override;

private:
    void PlaceForFirstShow();
    void ControlFocused(TWinControl* pControl);
    void ClickButton(TButton* pButton);
    DWORD FrameStyle() const;
    DWORD FrameExStyle() const;
    void ApplyFrameStyle();
    // Adds, updates or removes the tooltip of a control of this form.
    void UpdateHint(TControl* pControl, bool bRemove = false);

    std::string m_className;
    TPosition m_position = poDefaultPosOnly;
    TFormBorderStyle m_borderStyle = bsSizeable;
    TBorderIcons m_borderIcons = biSystemMenu | biMinimize | biMaximize;
    TSizeConstraints m_constraints;
    bool m_bPlaced = false;          // SetBounds was called by code
    bool m_bShownOnce = false;
    bool m_bModal = false;
    int m_modalResult = mrNone;
    bool m_bClosing = false;
    bool m_bCloseHandled = false;    // OnClose already ran for the current modal result
    TButton* m_pDefaultButton = nullptr;
    TButton* m_pCancelButton = nullptr;
    TWinControl* m_pActiveControl = nullptr;
    HWND m_hTooltip = nullptr;

    friend class TWinControl;
    friend class TControl;
    friend class TGraphicControl;
    friend class TApplication;
};

// What a message hook is handed: every message the toolkit's loops take from
// the queue, before it is dispatched. Setting Handled stops it there.
typedef std::function<void(MSG& Msg, bool& Handled)> TMessageHook;
typedef std::function<void(TObject* Sender, const std::exception& E)> TExceptionEvent;

// The application object of the module (global Application). It runs the
// message loop, keeps the main form and shows escaped exceptions.
class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // Initialises the common controls (v6) and the toolkit's window classes.
    // Called implicitly by the first form; calling it again does nothing.
    void Initialize();

    const std::string& Title() const { return m_title; }
    void SetTitle(const std::string& title) { m_title = title; }

    // Creates a form owned by the application: new TF(this, args...). The
    // first form created this way becomes the main form.
    template <class TF, class... Args>
    TF* CreateForm(Args&&... args)
    {
        TF* pForm = new TF(this, std::forward<Args>(args)...);
        if (!m_pMainForm) m_pMainForm = pForm;
        return pForm;
    }
    TForm* MainForm() const { return m_pMainForm; }
    void SetMainForm(TForm* pForm) { m_pMainForm = pForm; }

    // Shows the main form (if not visible) and runs the message loop until
    // Terminate or the main form closes.
    void Run();
    // Handles every message waiting in the queue, then returns. A WM_QUIT
    // found here sets Terminated and stays in the queue for the outer loop.
    void ProcessMessages();
    // Waits for one message and handles it.
    void HandleMessage();
    // Ends the message loop (posts WM_QUIT).
    void Terminate();
    bool Terminated() const { return m_bTerminated; }

    // Adds a hook that sees every message before it is dispatched; returns
    // its id for RemoveMessageHook. Hooks run in the order added.
    int AddMessageHook(TMessageHook hook);
    void RemoveMessageHook(int id);

    // The standard display of an escaped exception: a message box with its
    // text and the application title (or OnException when assigned).
    void ShowException(const std::exception& e);
    // Shows the exception being handled; call inside a catch block.
    void HandleException();
    TExceptionEvent OnException;

    // A message box over the active window with the application title as
    // default caption.
    int MessageBox(const char* pszText, const char* pszCaption = nullptr, UINT uFlags = MB_OK);

    // Deletes every form and component the application owns (before the
    // process's library handles are released).
    void DestroyForms() { DestroyComponents(); m_pMainForm = nullptr; }

    // One message through the hooks, the keyboard handling of toolkit forms
    // and dispatch. Used by every loop of the toolkit (Run, ShowModal,
    // ProcessMessages).
    void DispatchOne(MSG& msg);

private:
    std::string m_title;
    TForm* m_pMainForm = nullptr;
    bool m_bInitialized = false;
    bool m_bTerminated = false;
    int m_nextHookId = 1;
    std::vector<std::pair<int, TMessageHook>> m_hooks;
};

// This module's application object.
extern TApplication* const Application;
