// The GUI toolkit's foundation: the object and component model, ownership,
// the exception base class, colours, shift states and the event types.
//
// The toolkit is a static library. Every module that links it (KTSafe.exe,
// KTXDlg.DLL, a test) has its own copy of the toolkit's globals (its own
// Application, its own window classes registered with that module's instance
// handle). Everything runs on the GUI thread of the module, the thread that
// created its first toolkit window; the one exception is TTimer::SetEnabled,
// which may be called from any thread.
//
// Names follow the product's conventions: classes begin with T, events are
// std::function members named On..., properties are Name()/SetName() pairs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class TComponent;
class TControl;
class TWinControl;
class TForm;

// ---------------------------------------------------------------------------
// Exceptions
// ---------------------------------------------------------------------------

// Base class of every exception the toolkit throws. The application's standard
// exception display (TApplication::ShowException) shows its text. Exceptions
// never unwind through Windows: the toolkit's window procedures catch them and
// hand them to that display.
class ETkError : public std::runtime_error {
public:
    explicit ETkError(const std::string& message) : std::runtime_error(message) {}
    // "<operation>: <system text of code>", for a failed Win32 call.
    static ETkError FromSystem(const char* pszOperation, DWORD dwCode = ::GetLastError());
};

// An operation that is not allowed in the current state (for example a window
// that cannot be created).
class EInvalidOperation : public ETkError {
public:
    using ETkError::ETkError;
};

// ---------------------------------------------------------------------------
// Module
// ---------------------------------------------------------------------------

// The instance handle of the module this copy of the toolkit is linked into
// (the program or the DLL), used to register window classes.
HINSTANCE TkModuleInstance();

// ---------------------------------------------------------------------------
// Object and component model
// ---------------------------------------------------------------------------

// Root of the toolkit's classes; the Sender of every event.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

// A component owns the components created with it as owner: they are deleted
// with it, the last created first. Deleting an owned component earlier removes
// it from its owner. A component has a name (the product's component name,
// for example "btnSave"), which FindComponent looks up.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* pOwner = nullptr);
    ~TComponent() override;

    TComponent* Owner() const { return m_pOwner; }
    const std::string& Name() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    // A free number for the component's own use.
    intptr_t Tag() const { return m_tag; }
    void SetTag(intptr_t tag) { m_tag = tag; }

    int ComponentCount() const { return static_cast<int>(m_components.size()); }
    TComponent* Components(int index) const;
    // The directly owned component of that name (case ignored), or null.
    TComponent* FindComponent(const std::string& name) const;
    // Deletes every owned component now, the last created first.
    void DestroyComponents();

    // True from the start of the destruction on: no more events are fired.
    bool Destroying() const { return m_bDestroying; }

protected:
    // Marks this component and everything it owns as being destroyed.
    void BeginDestruction();

private:
    void InsertComponent(TComponent* pComponent);
    void RemoveComponent(TComponent* pComponent);

    TComponent* m_pOwner = nullptr;
    std::vector<TComponent*> m_components;
    std::string m_name;
    intptr_t m_tag = 0;
    bool m_bDestroying = false;
};

// ---------------------------------------------------------------------------
// Colours
// ---------------------------------------------------------------------------

// An RGB value (COLORREF layout: 0x00BBGGRR), or a system colour
// (0x80000000 | COLOR_xxx), or clNone / clDefault.
typedef uint32_t TColor;

constexpr TColor TkSysColor(int nIndex) { return 0x80000000u | static_cast<TColor>(nIndex); }

constexpr TColor clBlack   = 0x000000;
constexpr TColor clMaroon  = 0x000080;
constexpr TColor clGreen   = 0x008000;
constexpr TColor clNavy    = 0x800000;
constexpr TColor clGray    = 0x808080;   // 8421504: red, green and blue 128
constexpr TColor clSilver  = 0xC0C0C0;
constexpr TColor clRed     = 0x0000FF;
constexpr TColor clBlue    = 0xFF0000;
constexpr TColor clWhite   = 0xFFFFFF;
constexpr TColor clBtnFace     = TkSysColor(COLOR_BTNFACE);
constexpr TColor clWindow      = TkSysColor(COLOR_WINDOW);
constexpr TColor clWindowText  = TkSysColor(COLOR_WINDOWTEXT);
constexpr TColor clBtnText     = TkSysColor(COLOR_BTNTEXT);
constexpr TColor clGrayText    = TkSysColor(COLOR_GRAYTEXT);
constexpr TColor clHighlight   = TkSysColor(COLOR_HIGHLIGHT);
constexpr TColor clInfoBk      = TkSysColor(COLOR_INFOBK);
constexpr TColor clNone    = 0x1FFFFFFF;   // nothing is painted
constexpr TColor clDefault = 0x20000000;   // the control's own default

// The RGB value of a colour (system colours resolved now). clNone and
// clDefault give dflt.
COLORREF TkColorToRGB(TColor color, COLORREF dflt = RGB(0, 0, 0));

// ---------------------------------------------------------------------------
// Keyboard and mouse state
// ---------------------------------------------------------------------------

enum TShiftFlag : unsigned {
    ssShift  = 0x01,
    ssAlt    = 0x02,
    ssCtrl   = 0x04,
    ssLeft   = 0x08,   // left mouse button down
    ssRight  = 0x10,
    ssMiddle = 0x20,
    ssDouble = 0x40    // the mouse event is a double click
};

// The keys and mouse buttons held during an event.
class TShiftState {
public:
    constexpr TShiftState(unsigned bits = 0) : m_bits(bits) {}
    constexpr bool Contains(TShiftFlag flag) const { return (m_bits & flag) != 0; }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr unsigned Bits() const { return m_bits; }
    TShiftState& operator<<(TShiftFlag flag) { m_bits |= flag; return *this; }
    TShiftState& operator>>(TShiftFlag flag) { m_bits &= ~static_cast<unsigned>(flag); return *this; }
    constexpr bool operator==(TShiftState other) const { return m_bits == other.m_bits; }
    constexpr bool operator!=(TShiftState other) const { return m_bits != other.m_bits; }

    // From the MK_xxx flags of a mouse message and the keyboard state now.
    static TShiftState FromMouseKeys(WPARAM mk);
    // From the keyboard state now (for key events).
    static TShiftState FromKeyboard();

private:
    unsigned m_bits;
};

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// Mouse cursors of a control (crDefault: the class cursor, an arrow or I-beam).
enum TCursor { crDefault, crArrow, crHourGlass, crIBeam, crCross, crHandPoint, crSizeAll, crNo, crAppStart };

// ---------------------------------------------------------------------------
// Event types (Sender first, as the forms' handlers are written)
// ---------------------------------------------------------------------------

typedef std::function<void(TObject* Sender)> TNotifyEvent;
typedef std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)> TMouseEvent;
typedef std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)> TMouseMoveEvent;
// Key may be set to 0 to swallow the key.
typedef std::function<void(TObject* Sender, WORD& Key, TShiftState Shift)> TKeyEvent;
typedef std::function<void(TObject* Sender, char& Key)> TKeyPressEvent;

// Binds a method of an object as an event handler:
//   btnSave->OnClick = TkMethod(this, &TfrmDlgSafe::btnSaveClick);
template <class C, class R, class... A>
std::function<R(A...)> TkMethod(C* pObject, R (C::*pMethod)(A...))
{
    return [pObject, pMethod](A... args) -> R { return (pObject->*pMethod)(std::forward<A>(args)...); };
}

// ---------------------------------------------------------------------------
// Fonts
// ---------------------------------------------------------------------------

enum TFontStyle : unsigned { fsBold = 0x01, fsItalic = 0x02, fsUnderline = 0x04, fsStrikeOut = 0x08 };

// The font of a control. Changing it repaints the control; a control whose
// font was never changed follows the font of its parent.
class TFont {
public:
    TFont() = default;
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;
    ~TFont();

    const std::string& Name() const { return m_name; }
    int Size() const { return m_size; }          // points
    unsigned Style() const { return m_style; }    // TFontStyle bits
    TColor Color() const { return m_color; }      // clDefault: the control's default text colour
    void SetName(const std::string& name);
    void SetSize(int points);
    void SetStyle(unsigned styleBits);
    void SetColor(TColor color);
    // Copies name, size, style and colour of another font.
    void Assign(const TFont& other);

    // The GDI font (created on demand, owned by this object).
    HFONT Handle() const;
    // Called after every change (the control repaints itself).
    std::function<void()> OnChange;

private:
    void Changed();

    std::string m_name = "MS Shell Dlg 2";
    int m_size = 8;
    unsigned m_style = 0;
    TColor m_color = clDefault;
    mutable HFONT m_hFont = nullptr;
};
