#include "UiDriver.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace ktxtest {
namespace ui {

namespace {

std::function<void(MSG&)>& Dispatcher()
{
    static std::function<void(MSG&)> s_dispatcher;
    return s_dispatcher;
}

void DispatchOne(MSG& msg)
{
    if (Dispatcher()) {
        Dispatcher()(msg);
    } else {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void PumpOnce()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        DispatchOne(msg);
    }
}

template <typename Pred>
bool WaitUntil(Pred pred, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        PumpOnce();
        Sleep(10);
    }
}

std::string StripAmpersands(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

bool OwnThread(HWND hWnd)
{
    return GetWindowThreadProcessId(hWnd, nullptr) == GetCurrentThreadId();
}

bool Matches(HWND hWnd, const WindowMatch& match)
{
    if (!IsWindowVisible(hWnd)) return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid != (match.pid ? match.pid : GetCurrentProcessId())) return false;
    if (match.className && lstrcmpiA(ClassOf(hWnd).c_str(), match.className) != 0) return false;
    if (match.caption && TextOf(hWnd) != match.caption) return false;
    return true;
}

struct TopSearch {
    const WindowMatch* match;
    const std::vector<HWND>* exclude;
    HWND found;
    std::vector<HWND> all;
};

BOOL CALLBACK EnumTop(HWND hWnd, LPARAM lp)
{
    auto* s = reinterpret_cast<TopSearch*>(lp);
    if (!Matches(hWnd, *s->match)) return TRUE;
    if (s->exclude && std::find(s->exclude->begin(), s->exclude->end(), hWnd) != s->exclude->end()) return TRUE;
    s->all.push_back(hWnd);
    if (!s->found) s->found = hWnd;
    return TRUE;
}

std::vector<HWND> AllMatching(const WindowMatch& match)
{
    TopSearch s{&match, nullptr, nullptr, {}};
    EnumWindows(EnumTop, reinterpret_cast<LPARAM>(&s));
    return s.all;
}

HWND FirstMatching(const WindowMatch& match, const std::vector<HWND>* exclude)
{
    TopSearch s{&match, exclude, nullptr, {}};
    EnumWindows(EnumTop, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Gives hWnd the focus, also when it belongs to another thread.
bool FocusAcross(HWND hWnd)
{
    DWORD target = GetWindowThreadProcessId(hWnd, nullptr);
    DWORD self = GetCurrentThreadId();
    if (target == self) return SetFocus(hWnd) != nullptr || GetFocus() == hWnd;
    AttachThreadInput(self, target, TRUE);
    SetFocus(hWnd);
    bool ok = GetFocus() == hWnd;
    AttachThreadInput(self, target, FALSE);
    return ok;
}

BOOL CALLBACK CollectChild(HWND h, LPARAM lp)
{
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

}  // namespace

std::string ClassOf(HWND hWnd)
{
    char buf[256] = "";
    GetClassNameA(hWnd, buf, sizeof(buf));
    return buf;
}

std::string TextOf(HWND hWnd)
{
    if (!hWnd) return std::string();
    // WM_GETTEXT also reads controls of other threads.
    LRESULT n = SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0);
    if (n <= 0) return std::string();
    std::string text(static_cast<size_t>(n) + 1, '\0');
    LRESULT got = SendMessageA(hWnd, WM_GETTEXT, static_cast<WPARAM>(n + 1), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

HWND FindTopWindow(const WindowMatch& match)
{
    return FirstMatching(match, nullptr);
}

HWND WaitForWindow(const WindowMatch& match, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopWindow(match)) != nullptr; }, timeoutMs);
    return found;
}

bool WaitForWindowGone(HWND hWnd, DWORD timeoutMs)
{
    return WaitUntil([&] { return !IsWindow(hWnd) || !IsWindowVisible(hWnd); }, timeoutMs);
}

std::vector<HWND> Controls(HWND hParent)
{
    std::vector<HWND> out;
    EnumChildWindows(hParent, &CollectChild, reinterpret_cast<LPARAM>(&out));
    return out;
}

HWND FindControl(HWND hParent, const std::string& text, const char* className)
{
    std::string want = StripAmpersands(text);
    for (HWND h : Controls(hParent)) {
        if (className && lstrcmpiA(ClassOf(h).c_str(), className) != 0) continue;
        if (StripAmpersands(TextOf(h)) == want) return h;
    }
    return nullptr;
}

HWND FindControlByClass(HWND hParent, const char* className, int index)
{
    int seen = 0;
    for (HWND h : Controls(hParent)) {
        if (lstrcmpiA(ClassOf(h).c_str(), className) != 0) continue;
        if (seen++ == index) return h;
    }
    return nullptr;
}

HWND FindControlById(HWND hParent, int id)
{
    return GetDlgItem(hParent, id);
}

bool Click(HWND hControl)
{
    if (!IsWindow(hControl)) return false;
    SendMessageA(hControl, BM_CLICK, 0, 0);
    return true;
}

bool PostClick(HWND hControl)
{
    if (!IsWindow(hControl)) return false;
    return PostMessageA(hControl, BM_CLICK, 0, 0) != FALSE;
}

bool PressButton(HWND hDialog, const std::string& caption)
{
    HWND h = FindControl(hDialog, caption, "Button");
    return h && PostClick(h);
}

bool PressButtonId(HWND hDialog, int id)
{
    HWND h = GetDlgItem(hDialog, id);
    if (h) return PostClick(h);
    return PostMessageA(hDialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0) != FALSE;
}

bool Focus(HWND hControl)
{
    return IsWindow(hControl) && FocusAcross(hControl);
}

bool Type(HWND hEdit, const std::string& text)
{
    if (!IsWindow(hEdit)) return false;
    FocusAcross(hEdit);
    SendMessageA(hEdit, EM_SETSEL, 0, -1);
    SendMessageA(hEdit, WM_CLEAR, 0, 0);
    for (char c : text) SendMessageA(hEdit, WM_CHAR, static_cast<unsigned char>(c), 1);
    return true;
}

bool SetText(HWND hControl, const std::string& text)
{
    if (!IsWindow(hControl)) return false;
    return SendMessageA(hControl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != FALSE;
}

bool PressKey(HWND hControl, WORD vk)
{
    if (!IsWindow(hControl)) return false;
    UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    LPARAM up = down | (1LL << 30) | (1LL << 31);
    PostMessageA(hControl, WM_KEYDOWN, vk, down);
    PostMessageA(hControl, WM_KEYUP, vk, up);
    if (OwnThread(hControl)) Pump(50);
    return true;
}

int ListCount(HWND hList)
{
    return static_cast<int>(SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0));
}

std::string ListItemText(HWND hList, int index, int subItem)
{
    char buf[1024] = "";
    LVITEMA lvi{};
    lvi.iSubItem = subItem;
    lvi.pszText = buf;
    lvi.cchTextMax = sizeof(buf);
    SendMessageA(hList, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&lvi));
    return buf;
}

int ListSelected(HWND hList)
{
    return static_cast<int>(SendMessageA(hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

bool SelectListItem(HWND hList, int index)
{
    if (!IsWindow(hList) || index < 0 || index >= ListCount(hList)) return false;
    FocusAcross(hList);
    LVITEMA lvi{};
    lvi.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lvi.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&lvi));
    return ListSelected(hList) == index;
}

bool BeginListEdit(HWND hList, int index)
{
    if (!IsWindow(hList)) return false;
    FocusAcross(hList);
    return SendMessageA(hList, LVM_EDITLABELA, static_cast<WPARAM>(index), 0) != 0;
}

bool FinishListEdit(HWND hList, const std::string& text, bool bConfirm)
{
    HWND hEdit = reinterpret_cast<HWND>(SendMessageA(hList, LVM_GETEDITCONTROL, 0, 0));
    if (!hEdit) return false;
    if (bConfirm) SendMessageA(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    WORD vk = bConfirm ? VK_RETURN : VK_ESCAPE;
    UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    SendMessageA(hEdit, WM_KEYDOWN, vk, 1 | (static_cast<LPARAM>(scan) << 16));
    if (IsWindow(hEdit)) SendMessageA(hEdit, WM_KEYUP, vk, 1 | (static_cast<LPARAM>(scan) << 16) | (3LL << 30));
    return true;
}

bool MouseDown(HWND hControl, int x, int y, bool bRight)
{
    if (!IsWindow(hControl)) return false;
    SendMessageA(hControl, bRight ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, bRight ? MK_RBUTTON : MK_LBUTTON,
                 MAKELPARAM(x, y));
    return true;
}

bool MouseMove(HWND hControl, int x, int y, WPARAM mkFlags)
{
    if (!IsWindow(hControl)) return false;
    SendMessageA(hControl, WM_MOUSEMOVE, mkFlags, MAKELPARAM(x, y));
    return true;
}

bool MouseUp(HWND hControl, int x, int y, bool bRight)
{
    if (!IsWindow(hControl)) return false;
    SendMessageA(hControl, bRight ? WM_RBUTTONUP : WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    return true;
}

bool ChooseContextMenuItem(HWND hControl, const std::string& itemText, std::vector<std::string>* pItems, int x, int y)
{
    if (!IsWindow(hControl)) return false;
    if (pItems) pItems->clear();
    const std::string want = StripAmpersands(itemText);
    std::atomic<bool> chose{false};
    std::vector<HWND> before;
    for (HWND h = FindWindowExA(nullptr, nullptr, "#32768", nullptr); h; h = FindWindowExA(nullptr, h, "#32768", nullptr))
        before.push_back(h);
    // The menu runs its own modal loop on this thread; a helper thread reads
    // it and presses the keys.
    std::thread helper([&] {
        HWND hMenuWnd = nullptr;
        for (DWORD waited = 0; !hMenuWnd && waited < kDefaultTimeoutMs; waited += 10) {
            for (HWND h = FindWindowExA(nullptr, nullptr, "#32768", nullptr); h;
                 h = FindWindowExA(nullptr, h, "#32768", nullptr)) {
                if (IsWindowVisible(h) && std::find(before.begin(), before.end(), h) == before.end()) hMenuWnd = h;
            }
            if (!hMenuWnd) Sleep(10);
        }
        if (!hMenuWnd) return;
        Sleep(50);
        HMENU hMenu = reinterpret_cast<HMENU>(SendMessageA(hMenuWnd, MN_GETHMENU, 0, 0));
        int n = GetMenuItemCount(hMenu);
        int downs = 0, target = -1;
        for (int i = 0; i < n; ++i) {
            char text[256] = "";
            GetMenuStringA(hMenu, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
            UINT state = GetMenuState(hMenu, static_cast<UINT>(i), MF_BYPOSITION);
            std::string item = text;
            if (state & MF_SEPARATOR) {
                item = "-";
            } else {
                if (target < 0) ++downs;
                if (target < 0 && StripAmpersands(item) == want && !(state & MF_GRAYED)) target = i;
                if (state & MF_GRAYED) item += "(disabled)";
            }
            if (pItems) pItems->push_back(item);
        }
        if (target < 0) {
            PostMessageA(hMenuWnd, WM_KEYDOWN, VK_ESCAPE, 0);
            return;
        }
        for (int i = 0; i < downs; ++i) PostMessageA(hMenuWnd, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(hMenuWnd, WM_KEYDOWN, VK_RETURN, 0);
        chose = true;
    });
    POINT pt{x, y};
    ClientToScreen(hControl, &pt);
    SendMessageA(hControl, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hControl), MAKELPARAM(pt.x, pt.y));
    helper.join();
    return chose;
}

Action ChooseFile(const std::string& name, std::string* pSeenName, std::string* pSeenFilter)
{
    return [=](HWND h) {
        HWND hName = GetDlgItem(h, 0x480);   // the name field
        if (!hName) {
            HWND hCombo = GetDlgItem(h, 0x47c);
            if (hCombo) hName = FindControlByClass(hCombo, "Edit");
        }
        if (!hName) return false;
        if (pSeenName && pSeenName->empty()) *pSeenName = TextOf(hName);
        if (pSeenFilter && pSeenFilter->empty()) {
            HWND hTypes = GetDlgItem(h, 0x470);
            char buf[256] = "";
            if (hTypes) SendMessageA(hTypes, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(buf));
            *pSeenFilter = buf;
        }
        SetText(hName, name);
        return PressButtonId(h, IDOK);
    };
}

Action Press(const std::string& caption)
{
    return [caption](HWND h) { return PressButton(h, caption); };
}

Action PressId(int id)
{
    return [id](HWND h) { return PressButtonId(h, id); };
}

Action TypeAndPress(const std::string& text, const std::string& caption, int editIndex)
{
    return [text, caption, editIndex](HWND h) {
        HWND hEdit = FindControlByClass(h, "Edit", editIndex);
        if (!hEdit) return false;
        Type(hEdit, text);
        return PressButton(h, caption);
    };
}

// ---------------------------------------------------------------------------
// Answer
// ---------------------------------------------------------------------------

Answer::Answer(const WindowMatch& match, Action action, DWORD timeoutMs)
    : m_match(match), m_action(std::move(action)), m_timeoutMs(timeoutMs)
{
    // Own copies of the texts: the match may point at temporaries.
    if (match.className) m_className = match.className;
    if (match.caption) m_caption = match.caption;
    m_match.className = match.className ? m_className.c_str() : nullptr;
    m_match.caption = match.caption ? m_caption.c_str() : nullptr;
    m_existing = AllMatching(m_match);
    m_thread = std::thread([this] { Run(); });
}

Answer::~Answer()
{
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
}

void Answer::Run()
{
    DWORD start = GetTickCount();
    HWND hWnd = nullptr;
    bool bActed = false;
    DWORD lastTry = 0;
    while (!m_stop.load() && GetTickCount() - start < m_timeoutMs) {
        if (!hWnd) {
            hWnd = FirstMatching(m_match, &m_existing);
            if (hWnd) m_hWnd.store(hWnd);
        }
        if (hWnd) {
            if (!IsWindow(hWnd) || !IsWindowVisible(hWnd)) {
                if (bActed) {
                    m_answered.store(true);
                    break;
                }
                hWnd = nullptr;
                continue;
            }
            // Complete: visible with its controls.
            if (GetWindow(hWnd, GW_CHILD)) {
                if (!bActed || GetTickCount() - lastTry > 300) {
                    if (!bActed) {
                        Sleep(50);
                        std::string texts;
                        for (HWND c : Controls(hWnd)) {
                            if (lstrcmpiA(ClassOf(c).c_str(), "Static") != 0) continue;
                            std::string t = TextOf(c);
                            if (t.empty()) continue;
                            if (!texts.empty()) texts += '\n';
                            texts += t;
                        }
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_text = texts;
                        m_seenCaption = TextOf(hWnd);
                    }
                    if (m_action(hWnd)) bActed = true;
                    lastTry = GetTickCount();
                }
            }
        }
        Sleep(20);
    }
    m_done.store(true);
}

bool Answer::Wait(DWORD timeoutMs)
{
    WaitUntil([&] { return m_done.load(); }, timeoutMs);
    return m_answered.load();
}

std::string Answer::Text() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_text;
}

std::string Answer::Caption() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_seenCaption;
}

void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        PumpOnce();
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

void SetDispatcher(std::function<void(MSG&)> dispatcher)
{
    Dispatcher() = std::move(dispatcher);
}

// ---------------------------------------------------------------------------
// Screenshots (PNG, stored deflate blocks)
// ---------------------------------------------------------------------------

namespace {

uint32_t Crc32(const unsigned char* p, size_t n, uint32_t crc = 0)
{
    static uint32_t table[256];
    static bool init = false;
    if (!init) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        init = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBE32(std::string& out, uint32_t v)
{
    out += static_cast<char>(v >> 24);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
}

void PutChunk(std::string& out, const char* type, const std::string& data)
{
    PutBE32(out, static_cast<uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    PutBE32(out, Crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}

std::string EncodePng(int width, int height, const std::string& rgbRows)
{
    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    PutBE32(ihdr, static_cast<uint32_t>(width));
    PutBE32(ihdr, static_cast<uint32_t>(height));
    ihdr += '\x08';   // bit depth
    ihdr += '\x02';   // colour type RGB
    ihdr += std::string(3, '\0');
    PutChunk(png, "IHDR", ihdr);
    std::string z("\x78\x01", 2);
    uint32_t a = 1, b = 0;
    for (unsigned char c : rgbRows) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(65535, rgbRows.size() - pos);
        bool last = pos + n >= rgbRows.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(rgbRows, pos, n);
        pos += n;
    } while (pos < rgbRows.size());
    PutBE32(z, (b << 16) | a);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", std::string());
    return png;
}

std::string ArtifactsFolder()
{
    const char* env = getenv("KTX_ARTIFACTS");
    if (env && *env) {
        if (env[0] == '/') {
            // A Unix path: ask Wine for its Windows name.
            typedef WCHAR*(CDECL * ToDos)(const char*);
            auto fn = reinterpret_cast<ToDos>(
                reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
            if (fn) {
                WCHAR* w = fn(env);
                if (w) {
                    char buf[MAX_PATH] = "";
                    WideCharToMultiByte(CP_ACP, 0, w, -1, buf, sizeof(buf), nullptr, nullptr);
                    HeapFree(GetProcessHeap(), 0, w);
                    if (buf[0]) return buf;
                }
            }
            std::string dos = std::string("Z:") + env;
            std::replace(dos.begin(), dos.end(), '/', '\\');
            return dos;
        }
        return env;
    }
    char tmp[MAX_PATH] = "";
    GetTempPathA(sizeof(tmp), tmp);
    std::string t = tmp;
    while (!t.empty() && t.back() == '\\') t.pop_back();
    return t;
}

}  // namespace

std::vector<uint32_t> Capture(HWND hWnd, int* pWidth, int* pHeight)
{
    std::vector<uint32_t> pixels;
    RECT rc{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (hWnd) GetWindowRect(hWnd, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (pWidth) *pWidth = w > 0 ? w : 0;
    if (pHeight) *pHeight = h > 0 ? h : 0;
    if (w <= 0 || h <= 0) return pixels;
    HDC hScreen = GetDC(nullptr);
    HDC hMem = CreateCompatibleDC(hScreen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;   // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    HBITMAP hBmp = CreateDIBSection(hScreen, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    if (hBmp && pBits) {
        HGDIOBJ hOld = SelectObject(hMem, hBmp);
        BitBlt(hMem, 0, 0, w, h, hScreen, rc.left, rc.top, SRCCOPY);
        GdiFlush();
        const uint32_t* px = static_cast<const uint32_t*>(pBits);
        pixels.assign(px, px + static_cast<size_t>(w) * static_cast<size_t>(h));
        for (uint32_t& p : pixels) p &= 0x00FFFFFFu;
        SelectObject(hMem, hOld);
    }
    if (hBmp) DeleteObject(hBmp);
    DeleteDC(hMem);
    ReleaseDC(nullptr, hScreen);
    return pixels;
}

std::string Screenshot(const std::string& name, HWND hWnd)
{
    int w = 0, h = 0;
    const std::vector<uint32_t> pixels = Capture(hWnd, &w, &h);
    if (pixels.empty()) return std::string();
    std::string rows;
    rows.reserve(static_cast<size_t>(h) * (static_cast<size_t>(w) * 3 + 1));
    for (int y = 0; y < h; ++y) {
        rows += '\0';   // no filter
        const uint32_t* row = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int x = 0; x < w; ++x) {
            rows += static_cast<char>((row[x] >> 16) & 0xFF);
            rows += static_cast<char>((row[x] >> 8) & 0xFF);
            rows += static_cast<char>(row[x] & 0xFF);
        }
    }
    const std::string png = EncodePng(w, h, rows);
    const std::string folder = ArtifactsFolder();
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string path = folder + "\\" + name + ".png";
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok = hFile != INVALID_HANDLE_VALUE &&
                    WriteFile(hFile, png.data(), static_cast<DWORD>(png.size()), &written, nullptr) &&
                    written == png.size();
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
    if (!ok) path.clear();
    return path;
}

}  // namespace ui
}  // namespace ktxtest
