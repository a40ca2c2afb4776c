// The standard controls: buttons, labels, edits, memo, check box, group box,
// panel, picture, up-down and progress bar. Each is a thin typed wrapper of
// its window (or, for TLabel and TImage, drawn by the parent).
//
// Construction: new TButton(parent) - the control is owned by its parent and
// deleted with it; its window is created at once (hidden parents included).
#pragma once

#include "TkForms.h"

// A push button. Clicking it runs OnClick; a ModalResult other than mrNone
// also sets the form's ModalResult (ending a modal run).
class TButton : public TWinControl {
public:
    explicit TButton(TWinControl* pParent);
    ~TButton() override;

    // Enter clicks the default button of the form; Escape its cancel button.
    bool Default() const;
    void SetDefault(bool bDefault);
    bool Cancel() const;
    void SetCancel(bool bCancel);
    int ModalResult() const { return m_modalResult; }
    void SetModalResult(int result) { m_modalResult = result; }
    void Click() override;

protected:
    bool OnCommand(WORD wCode, LRESULT& lResult) override;
    bool OnDrawItem(DRAWITEMSTRUCT* pDis, LRESULT& lResult) override;
    void ApplyFont() override;
    LRESULT WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam) override;

private:
    void UpdateOwnerDraw();
    int m_modalResult = mrNone;
    bool m_bOwnerDraw = false;
};

// A flat button for tool bars, drawn flat with a frame while the mouse is over
// it, optional bitmap left of the caption. Answers BM_CLICK. It takes the
// focus only when it is in the tab order (SetTabStop); there Space and Enter
// press it, as they press a push button.
class TSpeedButton : public TWinControl {
public:
    explicit TSpeedButton(TWinControl* pParent);
    ~TSpeedButton() override;

    bool Flat() const { return m_bFlat; }
    void SetFlat(bool bFlat);
    // A glyph drawn left of the caption (owned by the button when bOwn).
    void SetGlyph(HBITMAP hBitmap, bool bOwn = true);
    // The caption broken into lines between words where it does not fit.
    bool WordWrap() const { return m_bWordWrap; }
    void SetWordWrap(bool bWrap);
    // The size the caption needs in the button's font: on one line, or, with
    // WordWrap, broken into lines no wider than cxAvail.
    SIZE TextExtent(int cxAvail = 0) const;

protected:
    LRESULT WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void PaintWindow(HDC hdc) override;

private:
    void ReleaseSpace();
    bool m_bFlat = true;
    bool m_bWordWrap = false;
    bool m_bHot = false;
    bool m_bPressed = false;
    HBITMAP m_hGlyph = nullptr;
    bool m_bOwnGlyph = false;
    // Pressed with the Space key: clicked when the key is released.
    bool m_bSpaceDown = false;
};

// A text drawn by its parent (no window, no focus). Transparent labels let
// what lies below (the parent's colour, pictures) show through.
class TLabel : public TGraphicControl {
public:
    explicit TLabel(TWinControl* pParent);

    std::string Caption() const override { return m_caption; }
    void SetCaption(const std::string& text) override;
    TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment alignment);
    TTextLayout Layout() const { return m_layout; }
    void SetLayout(TTextLayout layout);
    bool Transparent() const { return m_bTransparent; }
    void SetTransparent(bool bTransparent);
    // Size follows the text (default true; off for centred labels of fixed size).
    bool AutoSize() const { return m_bAutoSize; }
    void SetAutoSize(bool bAutoSize);
    bool WordWrap() const { return m_bWordWrap; }
    void SetWordWrap(bool bWrap);
    // '&' marks a mnemonic (default true); off shows '&' as it is.
    void SetShowAccelChar(bool bShow);

    void Paint(HDC hdc, const RECT& rc) override;

protected:
    void ApplyFont() override;

private:
    void AdjustSize();
    UINT DrawFlags() const;
    TAlignment m_alignment = taLeftJustify;
    TTextLayout m_layout = tlTop;
    bool m_bTransparent = false;
    bool m_bAutoSize = true;
    bool m_bWordWrap = false;
    bool m_bShowAccelChar = true;
};

// A text in a window of its own (a static control), so it can be found by
// its text; optionally with a sunken border.
class TStaticText : public TWinControl {
public:
    explicit TStaticText(TWinControl* pParent);
    TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment alignment);
    void SetSunken(bool bSunken);
    bool Transparent() const { return m_bTransparent; }
    void SetTransparent(bool bTransparent);

protected:
    bool OnCtlColor(HDC hdc, LRESULT& lResult) override;
    bool OnCommand(WORD wCode, LRESULT& lResult) override;

private:
    TAlignment m_alignment = taLeftJustify;
    bool m_bTransparent = false;
};

// A single-line edit field. Text changes by the user or by code run
// OnChange once per change. For secrets use GetTextBuf/SetTextBuf, which
// copy into and from the caller's buffer without a std::string copy.
class TEdit : public TWinControl {
public:
    explicit TEdit(TWinControl* pParent);
    ~TEdit() override;

    // Mask character ('\0': text shown in clear); changeable at any time.
    char PasswordChar() const { return m_passwordChar; }
    void SetPasswordChar(char ch);
    bool ReadOnly() const { return m_bReadOnly; }
    void SetReadOnly(bool bReadOnly);
    // Maximum number of characters (0: the system's limit).
    int MaxLength() const { return m_maxLength; }
    void SetMaxLength(int length);

    // Copies the text into pszBuf (at most cap - 1 characters, always
    // terminated); returns the number of characters copied.
    int GetTextBuf(char* pszBuf, int cap) const;
    void SetTextBuf(const char* pszText);
    int GetTextLen() const;
    // Clears the text and wipes the control's own copy of it.
    void Clear();

    void SelectAll();
    int SelStart() const;
    void SetSelStart(int pos);
    int SelLength() const;
    void SetSelLength(int length);
    std::string SelText() const;
    // The selected text into the caller's buffer (see GetTextBuf).
    int GetSelTextBuf(char* pszBuf, int cap) const;
    // Replaces the selection.
    void SetSelText(const std::string& text);

    TNotifyEvent OnChange;

protected:
    TEdit(TWinControl* pParent, DWORD dwExtraStyle);
    bool OnCommand(WORD wCode, LRESULT& lResult) override;
    bool OnCtlColor(HDC hdc, LRESULT& lResult) override;
    LRESULT WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void HandleRecreated() override;
    // Overwrites the control's text in place before it is emptied.
    void WipeText();
    void SetTextQuiet(const std::string& text);

    bool m_bChangeSeen = false;
    int m_quiet = 0;

    char m_passwordChar = '\0';
    bool m_bReadOnly = false;
    int m_maxLength = 0;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// The lines of a memo (a thin view; the text lives in the control).
class TMemoLines {
public:
    int Count() const;
    std::string Get(int index) const;
    std::string operator[](int index) const { return Get(index); }
    void Add(const std::string& line);
    void Clear();
    // All lines joined with CR LF.
    std::string Text() const;
    void SetText(const std::string& text);

private:
    friend class TMemo;
    explicit TMemoLines(class TMemo* pMemo) : m_pMemo(pMemo) {}
    class TMemo* m_pMemo;
};

// A multi-line edit. Text uses CR LF between lines; Enter starts a new line.
class TMemo : public TEdit {
public:
    explicit TMemo(TWinControl* pParent);

    TMemoLines* Lines() { return &m_lines; }
    // Lone line feeds become CR LF.
    void SetCaption(const std::string& text) override;
    TScrollStyle ScrollBars() const { return m_scrollBars; }
    void SetScrollBars(TScrollStyle style);
    bool WordWrap() const { return m_bWordWrap; }
    void SetWordWrap(bool bWrap);

protected:
    LRESULT WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam) override;

private:
    TMemoLines m_lines;
    TScrollStyle m_scrollBars = ssNone;
    bool m_bWordWrap = true;
};

// A check box. OnClick runs once for every change of Checked, whether the
// user clicked or code set it.
class TCheckBox : public TWinControl {
public:
    explicit TCheckBox(TWinControl* pParent);
    bool Checked() const;
    void SetChecked(bool bChecked);
    // Toggles like a click by the user.
    void Click() override;

protected:
    bool OnCommand(WORD wCode, LRESULT& lResult) override;
    bool OnCtlColor(HDC hdc, LRESULT& lResult) override;

private:
    bool m_bChecked = false;
};

// A framed group with a caption; its child controls lie inside it.
class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TWinControl* pParent);

protected:
    bool OnCtlColor(HDC hdc, LRESULT& lResult) override;
    LRESULT WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
};

enum TBevelCut { bvNone, bvLowered, bvRaised };

// A container, usually aligned to an edge of the form (button bars, tool bars).
class TPanel : public TWinControl {
public:
    explicit TPanel(TWinControl* pParent);
    TBevelCut BevelOuter() const { return m_bevelOuter; }
    void SetBevelOuter(TBevelCut bevel);
    TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment alignment);

protected:
    void PaintWindow(HDC hdc) override;

private:
    TBevelCut m_bevelOuter = bvRaised;
    TAlignment m_alignment = taCenter;
};

// A picture drawn by its parent: a bitmap, optionally stretched to the
// control's size. Its mouse events come in the picture's own coordinates.
class TImage : public TGraphicControl {
public:
    explicit TImage(TWinControl* pParent);
    ~TImage() override;

    // Sets the bitmap; the picture deletes it later when bOwn (the default).
    void SetBitmap(HBITMAP hBitmap, bool bOwn = true);
    HBITMAP Bitmap() const { return m_hBitmap; }
    bool Stretch() const { return m_bStretch; }
    void SetStretch(bool bStretch);
    bool Center() const { return m_bCenter; }
    void SetCenter(bool bCenter);
    // The control takes the bitmap's size when a bitmap is set.
    bool AutoSize() const { return m_bAutoSize; }
    void SetAutoSize(bool bAutoSize);
    // Size of the bitmap (0 x 0 without one).
    SIZE PictureSize() const;

    void Paint(HDC hdc, const RECT& rc) override;

private:
    void FreeBitmap();
    HBITMAP m_hBitmap = nullptr;
    bool m_bOwnBitmap = false;
    bool m_bStretch = false;
    bool m_bCenter = false;
    bool m_bAutoSize = false;
};

enum TUDBtnType { btNext, btPrev };
enum TUDOrientation { udVertical, udHorizontal };
typedef std::function<void(TObject* Sender, TUDBtnType Button)> TUDClickEvent;
typedef std::function<void(TObject* Sender, bool& AllowChange)> TUDChangingEvent;

// Up-down arrows, usually attached to a buddy edit that shows the position.
// A click by the user changes Position (within Min..Max) and then runs OnClick;
// setting Position by code runs no event.
class TUpDown : public TWinControl {
public:
    explicit TUpDown(TWinControl* pParent);

    // Attaches the buddy (placed right of it, showing the position as text).
    void SetAssociate(TWinControl* pBuddy);
    TWinControl* Associate() const { return m_pBuddy; }
    int Min() const { return m_min; }
    int Max() const { return m_max; }
    void SetMin(int value);
    void SetMax(int value);
    int Position() const;
    void SetPosition(int value);
    int Increment() const { return m_increment; }
    void SetIncrement(int value);
    void SetOrientation(TUDOrientation orientation);

    TUDClickEvent OnClick;
    TUDChangingEvent OnChanging;

protected:
    bool OnNotify(NMHDR* pHdr, LRESULT& lResult) override;
    bool OnScroll(UINT uMsg, WPARAM wParam, LRESULT& lResult) override;

private:
    void ApplyRange();
    TWinControl* m_pBuddy = nullptr;
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
    int m_increment = 1;
    TUDBtnType m_lastButton = btNext;
};

enum TProgressBarOrientation { pbHorizontal, pbVertical };

// A progress bar; positions outside Min..Max are shown as Min or Max.
class TProgressBar : public TWinControl {
public:
    explicit TProgressBar(TWinControl* pParent);
    int Min() const { return m_min; }
    int Max() const { return m_max; }
    void SetMin(int value);
    void SetMax(int value);
    int Position() const { return m_position; }
    void SetPosition(int value);
    TProgressBarOrientation Orientation() const { return m_orientation; }
    void SetOrientation(TProgressBarOrientation orientation);
    bool Smooth() const { return m_bSmooth; }
    void SetSmooth(bool bSmooth);

private:
    void ApplyRange();
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
    TProgressBarOrientation m_orientation = pbHorizontal;
    bool m_bSmooth = false;
};
