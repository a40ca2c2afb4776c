#include "TkCore.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "TkInternal.h"

// ---------------------------------------------------------------------------
// Exceptions and module
// ---------------------------------------------------------------------------

ETkError ETkError::FromSystem(const char* pszOperation, DWORD dwCode)
{
    std::string text = pszOperation ? pszOperation : "";
    std::string sys = tk_internal::SystemErrorText(dwCode);
    if (!sys.empty()) text += ": " + sys;
    return ETkError(text);
}

HINSTANCE TkModuleInstance()
{
    static HINSTANCE s_hInstance = nullptr;
    if (!s_hInstance) {
        HMODULE hModule = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCSTR>(&TkModuleInstance), &hModule)) {
            hModule = GetModuleHandleA(nullptr);
        }
        s_hInstance = hModule;
    }
    return s_hInstance;
}

namespace tk_internal {

void EnsureCommonControls()
{
    static bool s_done = false;
    if (s_done) return;
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES |
                ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS | ICC_TAB_CLASSES;
    InitCommonControlsEx(&icc);
    s_done = true;
}

namespace {

// What this module registered with Windows. When the module is unloaded (a
// DLL freed by its loader, or the program ending), its utility window is
// destroyed and its window classes unregistered, so no window procedure of
// an unloaded module stays behind and a reloaded DLL registers afresh.
struct ModuleState {
    std::set<std::string> classes;
    HWND hUtility = nullptr;
    DWORD utilityThread = 0;
    ~ModuleState()
    {
        if (hUtility && IsWindow(hUtility) && GetCurrentThreadId() == utilityThread) DestroyWindow(hUtility);
        for (const std::string& name : classes) UnregisterClassA(name.c_str(), TkModuleInstance());
    }
};

ModuleState& State()
{
    static ModuleState s_state;
    return s_state;
}

}  // namespace

void SetModuleUtilityWindow(HWND hWnd)
{
    State().hUtility = hWnd;
    State().utilityThread = GetCurrentThreadId();
}

bool RegisterToolkitClass(const char* pszClassName, WNDPROC pfnWndProc, UINT style)
{
    std::set<std::string>& s_registered = State().classes;
    if (s_registered.count(pszClassName)) return true;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = pfnWndProc;
    wc.hInstance = TkModuleInstance();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;
    wc.lpszClassName = pszClassName;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    s_registered.insert(pszClassName);
    return true;
}

const char* ObjectPropertyName()
{
    static char s_name[48] = "";
    if (!s_name[0]) {
        snprintf(s_name, sizeof(s_name), "KTXTkObject.%p", static_cast<void*>(TkModuleInstance()));
    }
    return s_name;
}

int NextControlId()
{
    static int s_next = 1000;
    if (s_next >= 0x7000) s_next = 1000;
    return s_next++;
}

std::string SystemErrorText(DWORD dwCode)
{
    char* pszBuf = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, dwCode, 0, reinterpret_cast<LPSTR>(&pszBuf), 0, nullptr);
    std::string text;
    if (n && pszBuf) text.assign(pszBuf, n);
    if (pszBuf) LocalFree(pszBuf);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string NormalizeNewlines(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += c;
    }
    return out;
}

}  // namespace tk_internal

// ---------------------------------------------------------------------------
// TComponent
// ---------------------------------------------------------------------------

TComponent::TComponent(TComponent* pOwner) : m_pOwner(pOwner)
{
    if (m_pOwner) m_pOwner->InsertComponent(this);
}

TComponent::~TComponent()
{
    BeginDestruction();
    DestroyComponents();
    if (m_pOwner) m_pOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const
{
    if (index < 0 || index >= ComponentCount()) return nullptr;
    return m_components[static_cast<size_t>(index)];
}

TComponent* TComponent::FindComponent(const std::string& name) const
{
    for (TComponent* p : m_components) {
        if (lstrcmpiA(p->m_name.c_str(), name.c_str()) == 0) return p;
    }
    return nullptr;
}

void TComponent::DestroyComponents()
{
    while (!m_components.empty()) {
        TComponent* p = m_components.back();
        m_components.pop_back();
        p->m_pOwner = nullptr;
        delete p;
    }
}

void TComponent::BeginDestruction()
{
    if (m_bDestroying) return;
    m_bDestroying = true;
    for (TComponent* p : m_components) p->BeginDestruction();
}

void TComponent::InsertComponent(TComponent* pComponent)
{
    m_components.push_back(pComponent);
    if (m_bDestroying) pComponent->BeginDestruction();
}

void TComponent::RemoveComponent(TComponent* pComponent)
{
    auto it = std::find(m_components.begin(), m_components.end(), pComponent);
    if (it != m_components.end()) m_components.erase(it);
}

// ---------------------------------------------------------------------------
// Colours, shift state
// ---------------------------------------------------------------------------

COLORREF TkColorToRGB(TColor color, COLORREF dflt)
{
    if (color == clNone || color == clDefault) return dflt;
    if (color & 0x80000000u) return GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color & 0x00FFFFFFu);
}

TShiftState TShiftState::FromMouseKeys(WPARAM mk)
{
    unsigned bits = 0;
    if (mk & MK_SHIFT) bits |= ssShift;
    if (mk & MK_CONTROL) bits |= ssCtrl;
    if (mk & MK_LBUTTON) bits |= ssLeft;
    if (mk & MK_RBUTTON) bits |= ssRight;
    if (mk & MK_MBUTTON) bits |= ssMiddle;
    if (GetKeyState(VK_MENU) < 0) bits |= ssAlt;
    return TShiftState(bits);
}

TShiftState TShiftState::FromKeyboard()
{
    unsigned bits = 0;
    if (GetKeyState(VK_SHIFT) < 0) bits |= ssShift;
    if (GetKeyState(VK_CONTROL) < 0) bits |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0) bits |= ssAlt;
    return TShiftState(bits);
}

// ---------------------------------------------------------------------------
// TFont
// ---------------------------------------------------------------------------

TFont::~TFont()
{
    if (m_hFont) DeleteObject(m_hFont);
}

void TFont::SetName(const std::string& name)
{
    if (name == m_name) return;
    m_name = name;
    Changed();
}

void TFont::SetSize(int points)
{
    if (points == m_size || points <= 0) return;
    m_size = points;
    Changed();
}

void TFont::SetStyle(unsigned styleBits)
{
    if (styleBits == m_style) return;
    m_style = styleBits;
    Changed();
}

void TFont::SetColor(TColor color)
{
    if (color == m_color) return;
    m_color = color;
    Changed();
}

void TFont::Assign(const TFont& other)
{
    if (&other == this) return;
    if (m_name == other.m_name && m_size == other.m_size && m_style == other.m_style && m_color == other.m_color) {
        return;
    }
    m_name = other.m_name;
    m_size = other.m_size;
    m_style = other.m_style;
    m_color = other.m_color;
    Changed();
}

HFONT TFont::Handle() const
{
    if (!m_hFont) {
        HDC hdc = GetDC(nullptr);
        int dpi = hdc ? GetDeviceCaps(hdc, LOGPIXELSY) : 96;
        if (hdc) ReleaseDC(nullptr, hdc);
        LOGFONTA lf{};
        lf.lfHeight = -MulDiv(m_size, dpi, 72);
        lf.lfWeight = (m_style & fsBold) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (m_style & fsItalic) ? TRUE : FALSE;
        lf.lfUnderline = (m_style & fsUnderline) ? TRUE : FALSE;
        lf.lfStrikeOut = (m_style & fsStrikeOut) ? TRUE : FALSE;
        lf.lfCharSet = DEFAULT_CHARSET;
        lf.lfQuality = DEFAULT_QUALITY;
        lstrcpynA(lf.lfFaceName, m_name.c_str(), LF_FACESIZE);
        m_hFont = CreateFontIndirectA(&lf);
        if (!m_hFont) m_hFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    return m_hFont;
}

void TFont::Changed()
{
    HFONT hOld = m_hFont;
    m_hFont = nullptr;
    if (OnChange) OnChange();
    // The controls now use the new font; the old one can go.
    if (hOld && hOld != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(hOld);
}
