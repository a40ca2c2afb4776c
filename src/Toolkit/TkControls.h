// Controls: TControl (geometry, visibility, colour, font, hint, mouse events),
// TGraphicControl (drawn by its parent, no window of its own) and
// TWinControl (a borrowing wrapper of a window: the window belongs to the
// control and is destroyed with it, but the object never outlives it silently).
#pragma once

#include "TkCore.h"

class TPopupMenu;

// Alignment of a control inside its parent's client area (layout order:
// alTop, alBottom, alLeft, alRight, then alClient takes the rest).
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Sides whose distance to the parent's edges stays fixed when the parent is
// resized. akLeft|akRight stretches horizontally; akRight alone moves.
enum TAnchorKind : unsigned { akLeft = 0x1, akTop = 0x2, akRight = 0x4, akBottom = 0x8 };
typedef unsigned TAnchors;
constexpr TAnchors akDefault = akLeft | akTop;
constexpr TAnchors akAll = akLeft | akTop | akRight | akBottom;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };

// Base of every visible control. Coordinates are pixels in the parent's
// client area (for a form: on the screen).
class TControl : public TComponent {
public:
    ~TControl() override;

    TWinControl* Parent() const { return m_pParent; }
    // The form the control is on (itself for a form), or null.
    TForm* ParentForm() const;

    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetLeft(int x);
    void SetTop(int y);
    void SetWidth(int cx);
    void SetHeight(int cy);
    virtual void SetBounds(int x, int y, int cx, int cy);
    RECT BoundsRect() const;
    virtual int ClientWidth() const;
    virtual int ClientHeight() const;
    virtual void SetClientSize(int cx, int cy);
    void SetClientWidth(int cx) { SetClientSize(cx, ClientHeight()); }
    void SetClientHeight(int cy) { SetClientSize(ClientWidth(), cy); }

    bool Visible() const { return m_bVisible; }
    virtual void SetVisible(bool bVisible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible, and every parent up to the form visible too.
    bool Showing() const;

    bool Enabled() const { return m_bEnabled; }
    virtual void SetEnabled(bool bEnabled);

    // Caption and Text are the same: the control's text (window text).
    virtual std::string Caption() const;
    virtual void SetCaption(const std::string& text);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }

    // Tooltip shown when the mouse rests over the control (if ShowHint).
    const std::string& Hint() const { return m_hint; }
    void SetHint(const std::string& hint);
    bool ShowHint() const { return m_bShowHint; }
    void SetShowHint(bool bShow);

    // Background colour. Controls follow their parent's colour until set.
    TColor Color() const { return m_color; }
    virtual void SetColor(TColor color);
    bool ParentColor() const { return m_bParentColor; }
    TFont* Font() { return &m_font; }
    const TFont* Font() const { return &m_font; }
    bool ParentFont() const { return m_bParentFont; }

    TAlign Align() const { return m_align; }
    void SetAlign(TAlign align);
    TAnchors Anchors() const { return m_anchors; }
    void SetAnchors(TAnchors anchors);

    // The cursor while the mouse is over the control; applied at once when
    // the mouse is there already.
    TCursor Cursor() const { return m_cursor; }
    void SetCursor(TCursor cursor);

    // Shown on a right click (or the context-menu key) over the control.
    TPopupMenu* PopupMenu() const { return m_pPopupMenu; }
    void SetPopupMenu(TPopupMenu* pMenu) { m_pPopupMenu = pMenu; }

    // Repaints the control.
    virtual void Invalidate();
    void Repaint();
    POINT ClientToScreen(POINT pt) const;
    POINT ScreenToClient(POINT pt) const;

    // Runs OnClick as a click by the user would (only when enabled).
    virtual void Click();

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

protected:
    // pParent may be null only for forms.
    TControl(TComponent* pOwner, TWinControl* pParent);

    // Events are fired only while neither the control nor its form is being
    // destroyed.
    bool CanFire() const;
    void DoMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void DoMouseMove(TShiftState shift, int x, int y);
    void DoMouseUp(TMouseButton button, TShiftState shift, int x, int y);
    bool DoContextPopup(POINT screenPt);

    // Geometry kept by the object (graphic controls) or read from the window.
    virtual RECT GetBounds() const { return m_bounds; }
    virtual void ApplyBounds(const RECT& rc);
    virtual void ApplyVisible();
    virtual void ApplyEnabled();
    virtual void ApplyFont();
    virtual void ApplyCursor();
    virtual void HintChanged();
    HCURSOR CursorHandle() const;

    // Called by the parent when its colour or font changes.
    void ParentColorChanged(TColor color);
    void ParentFontChanged(const TFont& font);

    // Layout bookkeeping for anchors (see TWinControl::Realign).
    void RememberAnchorBase();

    TWinControl* m_pParent = nullptr;
    RECT m_bounds{0, 0, 0, 0};
    bool m_bVisible = true;
    bool m_bEnabled = true;
    std::string m_caption;
    std::string m_hint;
    bool m_bShowHint = true;
    TColor m_color = clBtnFace;
    bool m_bParentColor = true;
    TFont m_font;
    bool m_bParentFont = true;
    bool m_bApplyingParentFont = false;
    TAlign m_align = alNone;
    TAnchors m_anchors = akDefault;
    RECT m_anchorRect{0, 0, 0, 0};
    SIZE m_anchorParentSize{0, 0};
    bool m_bAnchorBaseSet = false;
    TCursor m_cursor = crDefault;
    TPopupMenu* m_pPopupMenu = nullptr;

    friend class TWinControl;
    friend class TForm;
};

// A control without a window, drawn by its parent (labels, pictures). Its
// mouse events come from the parent's window.
class TGraphicControl : public TControl {
public:
    // Draws the control into the parent's DC; rc is its rectangle there.
    virtual void Paint(HDC hdc, const RECT& rc) = 0;
    void Invalidate() override;

protected:
    TGraphicControl(TWinControl* pParent);
    void ApplyBounds(const RECT& rc) override;
    void ApplyVisible() override;
    void ApplyEnabled() override;
    void ApplyFont() override;
    void HintChanged() override;
};

// A control with a window. The window is created by the constructor (a
// toolkit class or a subclassed native control) and destroyed with the
// object; the toolkit's one window procedure dispatches its messages to
// WndProc. Handle() is the borrowed HWND.
class TWinControl : public TControl {
public:
    ~TWinControl() override;

    HWND Handle() const { return m_hWnd; }
    bool HandleAllocated() const { return m_hWnd != nullptr; }
    // The toolkit control of a window of this module, or null.
    static TWinControl* FromHandle(HWND hWnd);

    // Sends a message to the control's window.
    LRESULT Perform(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);

    void SetFocus();
    bool Focused() const;
    bool CanFocus() const;

    // Keyboard order among the siblings (0 first). Changing it moves the
    // control in the parent's list; creation order is the default order.
    int TabOrder() const;
    void SetTabOrder(int order);
    bool TabStop() const;
    void SetTabStop(bool bTabStop);

    // Child controls, in creation order.
    int ControlCount() const { return static_cast<int>(m_controls.size()); }
    TControl* Controls(int index) const;

    // Lays the aligned and anchored children out again.
    void Realign();
    // Inner margin kept free by aligned children (a form's or panel's border width).
    int BorderWidth() const { return m_borderWidth; }
    void SetBorderWidth(int width);

    std::string Caption() const override;
    void SetCaption(const std::string& text) override;
    void SetColor(TColor color) override;
    void Invalidate() override;
    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetClientSize(int cx, int cy) override;

    // Fired when the keyboard focus moves from another control of the same
    // form to this one (OnEnter) or from this one to another control of the
    // same form (OnExit). Switching to another window does not fire them.
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;

protected:
    TWinControl(TComponent* pOwner, TWinControl* pParent);

    // Creates the window: a native class (pszClass, subclassed) or, with a
    // null pszClass, a toolkit window of class pszToolkitClass.
    void CreateHandle(const char* pszClass, DWORD dwStyle, DWORD dwExStyle, int x, int y, int cx, int cy,
                      const char* pszToolkitClass = nullptr, HWND hWndParentOverride = nullptr);
    // Destroys the window now (the object stays; events stop).
    void DestroyHandle();
    // Creates the window again with other styles (for styles a control only
    // reads at creation); text, bounds, font and tab position are kept, then
    // HandleRecreated restores the control's own state.
    void RecreateHandle(DWORD dwStyle, DWORD dwExStyle);
    virtual void HandleRecreated() {}
    DWORD CreateStyle() const { return m_createStyle; }
    DWORD CreateExStyle() const { return m_createExStyle; }

    // The window's messages. Overrides handle what they need and call the
    // base class for everything else; the base handles mouse, keyboard, focus,
    // colours, context menus, cursors, painting of graphic children and the
    // reflection of notifications to the child that sent them.
    virtual LRESULT WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam);
    // The default handling (DefWindowProc or the native control's procedure).
    LRESULT DefaultHandler(UINT uMsg, WPARAM wParam, LPARAM lParam);

    // Notifications reflected from the parent: WM_COMMAND (code), WM_NOTIFY,
    // WM_HSCROLL/WM_VSCROLL, WM_CTLCOLOR*, WM_DRAWITEM. Return true when handled
    // (with the result in lResult).
    virtual bool OnCommand(WORD wCode, LRESULT& lResult);
    virtual bool OnNotify(NMHDR* pHdr, LRESULT& lResult);
    virtual bool OnScroll(UINT uMsg, WPARAM wParam, LRESULT& lResult);
    virtual bool OnCtlColor(HDC hdc, LRESULT& lResult);
    virtual bool OnDrawItem(DRAWITEMSTRUCT* pDis, LRESULT& lResult);
    // Paints the background of a toolkit window (colour) and the graphic children.
    virtual void PaintWindow(HDC hdc);
    void PaintGraphicChildren(HDC hdc, const RECT* prcClip);
    // The background brush for this control's colour (owned by the control).
    HBRUSH ColorBrush();

    RECT GetBounds() const override;
    void ApplyBounds(const RECT& rc) override;
    void ApplyVisible() override;
    void ApplyEnabled() override;
    void ApplyFont() override;
    void ApplyCursor() override;
    void HintChanged() override;

    // Children bookkeeping (called by TControl).
    void InsertControl(TControl* pControl);
    void RemoveControl(TControl* pControl);
    // The graphic child under a point of the client area, or null.
    TGraphicControl* GraphicChildAt(POINT pt) const;

    HWND m_hWnd = nullptr;
    bool m_bNative = false;          // a subclassed native control
    int m_borderWidth = 0;
    std::vector<TControl*> m_controls;
    HBRUSH m_hBrush = nullptr;
    TColor m_brushColor = clNone;
    TGraphicControl* m_pMouseCapture = nullptr;   // graphic child holding the mouse
    TGraphicControl* m_pHintControl = nullptr;
    bool m_bTrackingMouse = false;
    std::string m_createClass;        // native class, or empty
    std::string m_createToolkitClass; // toolkit class, or empty
    DWORD m_createStyle = 0;
    DWORD m_createExStyle = 0;
    int m_controlId = 0;

private:
    static LRESULT CALLBACK ToolkitWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                         DWORD_PTR dwRefData);
    LRESULT Dispatch(UINT uMsg, WPARAM wParam, LPARAM lParam);
    void Attach(HWND hWnd);
    void Detach();

    friend class TControl;
    friend class TGraphicControl;
    friend class TForm;
    friend class TApplication;
    friend struct TkWindowAccess;
};
