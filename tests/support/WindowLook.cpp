#include "WindowLook.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "UiDriver.h"

namespace ktxtest {
namespace look {

namespace {

// Every pixel of a bitmap as 32-bit colour, rows top down.
std::vector<uint32_t> BitmapPixels(HBITMAP hBmp)
{
    std::vector<uint32_t> pixels;
    BITMAP bm{};
    if (!hBmp || !GetObjectA(hBmp, sizeof(bm), &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0) return pixels;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = bm.bmWidth;
    bi.bmiHeader.biHeight = -bm.bmHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    pixels.resize(static_cast<size_t>(bm.bmWidth) * static_cast<size_t>(bm.bmHeight));
    HDC hdc = GetDC(nullptr);
    int rows = GetDIBits(hdc, hBmp, 0, static_cast<UINT>(bm.bmHeight), pixels.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, hdc);
    if (rows != bm.bmHeight) pixels.clear();
    return pixels;
}

// The icon drawn over a plain background, 0x00RRGGBB, rows top down.
std::vector<uint32_t> DrawnOver(HICON hIcon, int cx, int cy, COLORREF background)
{
    std::vector<uint32_t> pixels;
    HDC hScreen = GetDC(nullptr);
    HDC hMem = CreateCompatibleDC(hScreen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = cx;
    bi.bmiHeader.biHeight = -cy;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    HBITMAP hBmp = CreateDIBSection(hScreen, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    if (hBmp && pBits) {
        HGDIOBJ hOld = SelectObject(hMem, hBmp);
        RECT rc{0, 0, cx, cy};
        HBRUSH hBrush = CreateSolidBrush(background);
        FillRect(hMem, &rc, hBrush);
        DeleteObject(hBrush);
        DrawIconEx(hMem, 0, 0, hIcon, cx, cy, 0, nullptr, DI_NORMAL);
        GdiFlush();
        const uint32_t* px = static_cast<const uint32_t*>(pBits);
        pixels.assign(px, px + static_cast<size_t>(cx) * static_cast<size_t>(cy));
        for (uint32_t& p : pixels) p &= 0x00FFFFFFu;
        SelectObject(hMem, hOld);
    }
    if (hBmp) DeleteObject(hBmp);
    DeleteDC(hMem);
    ReleaseDC(nullptr, hScreen);
    return pixels;
}

bool Near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift <= 16; shift += 8) {
        int ca = static_cast<int>((a >> shift) & 0xFF), cb = static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(ca - cb) > tolerance) return false;
    }
    return true;
}

BOOL CALLBACK TakeFirst(HMODULE, LPCSTR, LPSTR pszName, LONG_PTR lParam)
{
    auto* pName = reinterpret_cast<std::string*>(lParam);
    *pName = IS_INTRESOURCE(pszName) ? "#" + std::to_string(LOWORD(reinterpret_cast<ULONG_PTR>(pszName)))
                                     : std::string(pszName);
    return FALSE;
}

std::string Describe(const RECT& rc)
{
    return "(" + std::to_string(rc.left) + "," + std::to_string(rc.top) + ")-(" + std::to_string(rc.right) + "," +
           std::to_string(rc.bottom) + ")";
}

}  // namespace

std::vector<uint32_t> IconBits(HICON hIcon)
{
    std::vector<uint32_t> bits;
    ICONINFO ii{};
    if (!hIcon || !GetIconInfo(hIcon, &ii)) return bits;
    bits = BitmapPixels(ii.hbmColor);
    std::vector<uint32_t> mask = BitmapPixels(ii.hbmMask);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    if (mask.empty()) return std::vector<uint32_t>();
    bits.insert(bits.end(), mask.begin(), mask.end());
    return bits;
}

SIZE IconSize(HICON hIcon)
{
    SIZE size{0, 0};
    ICONINFO ii{};
    if (!hIcon || !GetIconInfo(hIcon, &ii)) return size;
    BITMAP bm{};
    if (ii.hbmColor && GetObjectA(ii.hbmColor, sizeof(bm), &bm)) {
        size = SIZE{bm.bmWidth, bm.bmHeight};
    } else if (ii.hbmMask && GetObjectA(ii.hbmMask, sizeof(bm), &bm)) {
        size = SIZE{bm.bmWidth, bm.bmHeight / 2};  // a monochrome icon: AND and XOR mask stacked
    }
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    return size;
}

ProgramIcon::ProgramIcon(bool bSmall, HMODULE hModule)
{
    if (!hModule) hModule = GetModuleHandleA(nullptr);
    std::string name;
    EnumResourceNamesA(hModule, RT_GROUP_ICON, &TakeFirst, reinterpret_cast<LONG_PTR>(&name));
    if (name.empty()) return;
    m_hIcon = static_cast<HICON>(LoadImageA(hModule, name.c_str(), IMAGE_ICON,
                                            GetSystemMetrics(bSmall ? SM_CXSMICON : SM_CXICON),
                                            GetSystemMetrics(bSmall ? SM_CYSMICON : SM_CYICON), 0));
}

ProgramIcon::~ProgramIcon()
{
    if (m_hIcon) DestroyIcon(m_hIcon);
}

HICON WindowIcon(HWND hWnd, bool bSmall)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(hWnd, WM_GETICON, bSmall ? ICON_SMALL : ICON_BIG, 0, SMTO_BLOCK, 5000, &result);
    HICON hIcon = reinterpret_cast<HICON>(result);
    if (!hIcon) hIcon = reinterpret_cast<HICON>(GetClassLongPtrA(hWnd, bSmall ? GCLP_HICONSM : GCLP_HICON));
    return hIcon;
}

::testing::AssertionResult ShowsProgramIcon(HWND hWnd)
{
    for (bool bSmall : {true, false}) {
        const char* pszSize = bSmall ? "small" : "big";
        ProgramIcon program(bSmall);
        if (!program.Get()) return ::testing::AssertionFailure() << "the program has no icon";
        HICON hShown = WindowIcon(hWnd, bSmall);
        if (!hShown) return ::testing::AssertionFailure() << "no " << pszSize << " icon";
        SIZE want = IconSize(program.Get()), got = IconSize(hShown);
        if (want.cx != got.cx || want.cy != got.cy) {
            return ::testing::AssertionFailure() << "the " << pszSize << " icon is " << got.cx << "x" << got.cy
                                                 << ", the program's " << want.cx << "x" << want.cy;
        }
        std::vector<uint32_t> bits = IconBits(hShown);
        if (bits.empty() || bits != IconBits(program.Get())) {
            return ::testing::AssertionFailure() << "the " << pszSize << " icon is not the program's";
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult CaptionShowsIcon(HWND hWnd, HICON hSmallIcon)
{
    SIZE size = IconSize(hSmallIcon);
    if (size.cx <= 0 || size.cy <= 0) return ::testing::AssertionFailure() << "no icon to look for";
    // The pixels the icon covers fully look the same over black and white.
    const std::vector<uint32_t> overBlack = DrawnOver(hSmallIcon, size.cx, size.cy, RGB(0, 0, 0));
    const std::vector<uint32_t> overWhite = DrawnOver(hSmallIcon, size.cx, size.cy, RGB(255, 255, 255));
    std::vector<std::pair<int, uint32_t>> opaque;  // index in the icon, colour
    for (size_t i = 0; i < overBlack.size() && i < overWhite.size(); ++i) {
        if (overBlack[i] == overWhite[i]) opaque.emplace_back(static_cast<int>(i), overBlack[i]);
    }
    if (opaque.size() < static_cast<size_t>(size.cx * size.cy / 3)) {
        return ::testing::AssertionFailure() << "the icon has too few opaque pixels to be found";
    }
    int w = 0, h = 0;
    const std::vector<uint32_t> screen = ui::Capture(hWnd, &w, &h);
    if (screen.empty()) return ::testing::AssertionFailure() << "the window is not on the screen";
    // The caption icon sits at the left end of the caption, below the frame.
    const int cx = static_cast<int>(size.cx), cy = static_cast<int>(size.cy);
    const int maxX = std::min(w, 4 * cx) - cx, maxY = std::min(h, 3 * cy) - cy;
    for (int y = 0; y <= maxY; ++y) {
        for (int x = 0; x <= maxX; ++x) {
            bool bMatch = true;
            for (const auto& p : opaque) {
                const int ix = p.first % cx, iy = p.first / cx;
                if (!Near(screen[static_cast<size_t>(y + iy) * w + (x + ix)], p.second, 24)) {
                    bMatch = false;
                    break;
                }
            }
            if (bMatch) return ::testing::AssertionSuccess();
        }
    }
    return ::testing::AssertionFailure() << "the caption of '" << ui::TextOf(hWnd) << "' does not show the icon";
}

RECT WorkAreaOf(HWND hWnd)
{
    HMONITOR hMon = hWnd ? MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST)
                         : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    GetMonitorInfoA(hMon, &mi);
    return mi.rcWork;
}

::testing::AssertionResult Within(const RECT& inner, const RECT& outer)
{
    if (inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
        inner.bottom <= outer.bottom) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << Describe(inner) << " is not inside " << Describe(outer);
}

::testing::AssertionResult CentredOn(const RECT& rc, const RECT& on, int tolerance)
{
    const int dx = (rc.left + rc.right) / 2 - (on.left + on.right) / 2;
    const int dy = (rc.top + rc.bottom) / 2 - (on.top + on.bottom) / 2;
    if (std::abs(dx) <= tolerance && std::abs(dy) <= tolerance) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Describe(rc) << " is off the centre of " << Describe(on) << " by " << dx
                                         << "," << dy;
}

}  // namespace look
}  // namespace ktxtest
