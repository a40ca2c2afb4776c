#include "TkExtCtrls.h"

#include <commdlg.h>

#include <algorithm>
#include <map>
#include <vector>

#include "TkInternal.h"

using namespace tk_internal;

namespace {

// The timers of this module by id (GUI thread only).
std::map<UINT_PTR, TTimer*>& Timers()
{
    static std::map<UINT_PTR, TTimer*> s_timers;
    return s_timers;
}

UINT_PTR NextTimerId()
{
    static UINT_PTR s_next = 1;
    return s_next++;
}

// The module's message-only window: timers and requests from other threads.
class TkUtilityWindow : public TWinControl {
public:
    TkUtilityWindow() : TWinControl(nullptr, nullptr)
    {
        m_bVisible = false;
        CreateHandle(nullptr, 0, 0, 0, 0, 0, 0, "TkUtilityWindow", HWND_MESSAGE);
    }

protected:
    LRESULT WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
};

}  // namespace

struct TkTimerAccess {
    static void Apply(TTimer* p) { p->Apply(); }
    static void Fire(TTimer* p) { p->Fire(); }
};

namespace {

LRESULT TkUtilityWindow::WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_TIMER) {
        auto it = Timers().find(static_cast<UINT_PTR>(wParam));
        if (it != Timers().end()) TkTimerAccess::Fire(it->second);
        return 0;
    }
    if (uMsg == TKM_TIMER_APPLY) {
        auto it = Timers().find(static_cast<UINT_PTR>(wParam));
        if (it != Timers().end()) TkTimerAccess::Apply(it->second);
        return 0;
    }
    return TWinControl::WndProc(uMsg, wParam, lParam);
}

}  // namespace

HWND tk_internal::UtilityWindow()
{
    static TkUtilityWindow* s_pWindow = nullptr;
    if (!s_pWindow || !s_pWindow->Handle()) {
        EnsureCommonControls();
        // Lives as long as the module (never deleted: windows of a thread die with it).
        s_pWindow = new TkUtilityWindow();
        SetModuleUtilityWindow(s_pWindow->Handle());
    }
    return s_pWindow->Handle();
}

// ---------------------------------------------------------------------------
// TTimer
// ---------------------------------------------------------------------------

TTimer::TTimer(TComponent* pOwner) : TComponent(pOwner)
{
    m_threadId = GetCurrentThreadId();
    m_id = NextTimerId();
    Timers()[m_id] = this;
    m_hUtility = UtilityWindow();
    Apply();
}

TTimer::~TTimer()
{
    BeginDestruction();
    if (m_bRunning) KillTimer(UtilityWindow(), m_id);
    m_bRunning = false;
    Timers().erase(m_id);
}

void TTimer::SetEnabled(bool bEnabled)
{
    m_bEnabled.store(bEnabled);
    if (GetCurrentThreadId() == m_threadId) {
        Apply();
    } else {
        PostMessageA(m_hUtility, TKM_TIMER_APPLY, static_cast<WPARAM>(m_id), 0);
    }
}

void TTimer::SetInterval(unsigned ms)
{
    m_interval.store(ms);
    if (GetCurrentThreadId() == m_threadId) {
        if (m_bRunning) {
            KillTimer(UtilityWindow(), m_id);
            m_bRunning = false;
        }
        Apply();
    } else {
        PostMessageA(m_hUtility, TKM_TIMER_APPLY, static_cast<WPARAM>(m_id), 0);
    }
}

void TTimer::Apply()
{
    HWND hWnd = UtilityWindow();
    bool bWant = m_bEnabled.load() && m_interval.load() > 0 && !Destroying();
    if (bWant) {
        // SetTimer on a running id restarts it with the (new) interval.
        m_bRunning = SetTimer(hWnd, m_id, m_interval.load(), nullptr) != 0;
    } else if (m_bRunning) {
        KillTimer(hWnd, m_id);
        m_bRunning = false;
    }
}

void TTimer::Fire()
{
    if (!m_bEnabled.load() || Destroying()) return;
    if (OnTimer) OnTimer(this);
}

// ---------------------------------------------------------------------------
// File dialogs
// ---------------------------------------------------------------------------

namespace {

// The work area of the monitor hOwner is on (the primary monitor without one).
RECT WorkAreaOf(HWND hOwner)
{
    HMONITOR hMon = hOwner ? MonitorFromWindow(hOwner, MONITOR_DEFAULTTONEAREST)
                           : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    if (hMon && GetMonitorInfoA(hMon, &mi)) return mi.rcWork;
    RECT area;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return area;
}

// Centres a dialog on its owner window when that is shown, else on the work
// area of the owner's monitor, and keeps the whole dialog on that work area.
void CentreOnOwner(HWND hDlg)
{
    RECT rc;
    if (!GetWindowRect(hDlg, &rc)) return;
    HWND hOwner = GetWindow(hDlg, GW_OWNER);
    const RECT area = WorkAreaOf(hOwner);
    RECT center = area;
    RECT rcOwner;
    if (hOwner && IsWindowVisible(hOwner) && !IsIconic(hOwner) && GetWindowRect(hOwner, &rcOwner)) center = rcOwner;
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int x = center.left + ((center.right - center.left) - w) / 2;
    int y = center.top + ((center.bottom - center.top) - h) / 2;
    x = std::max(static_cast<int>(area.left), std::min(x, static_cast<int>(area.right) - w));
    y = std::max(static_cast<int>(area.top), std::min(y, static_cast<int>(area.bottom) - h));
    SetWindowPos(hDlg, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The hook of the standard file dialogs. With OFN_EXPLORER it is the
// procedure of an empty child dialog; the dialog the user sees is its parent.
// The parent gets the program's icon as it opens and is placed once it has
// its final size.
UINT_PTR CALLBACK FileDialogHook(HWND hChild, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    try {
        if (uMsg == WM_INITDIALOG) {
            TkSetProgramIcon(GetParent(hChild));
            return TRUE;
        }
        if (uMsg == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == CDN_INITDONE) {
            CentreOnOwner(GetParent(hChild));
        }
    } catch (...) {
        // Nothing unwinds through the dialog: a dialog that cannot be placed still works.
    }
    return 0;
}

}  // namespace

TOpenDialog::TOpenDialog(TComponent* pOwner) : TComponent(pOwner) {}

HWND TOpenDialog::ParentWindow() const
{
    for (TComponent* p = Owner(); p; p = p->Owner()) {
        if (TForm* pForm = dynamic_cast<TForm*>(p)) {
            if (pForm->Handle() && IsWindowVisible(pForm->Handle())) return pForm->Handle();
        }
    }
    HWND hActive = GetActiveWindow();
    return hActive;
}

bool TOpenDialog::Execute()
{
    return Run(false);
}

bool TSaveDialog::Execute()
{
    return Run(true);
}

bool TOpenDialog::Run(bool bSave)
{
    // The filter: pairs separated by '|', ended by two zeros.
    std::vector<char> filter(Filter.begin(), Filter.end());
    for (char& c : filter) {
        if (c == '|') c = '\0';
    }
    filter.push_back('\0');
    filter.push_back('\0');
    // The name buffer is generous; callers check what fits their own buffers.
    std::vector<char> file(32768, '\0');
    lstrcpynA(file.data(), FileName.c_str(), static_cast<int>(file.size()));

    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = ParentWindow();
    ofn.lpstrFilter = Filter.empty() ? nullptr : filter.data();
    ofn.nFilterIndex = static_cast<DWORD>(FilterIndex > 0 ? FilterIndex : 1);
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    ofn.lpstrDefExt = DefaultExt.empty() ? nullptr : DefaultExt.c_str();
    // The current folder always stays: a folder the user browsed to must never
    // become the place where a program started by a bare name is looked up.
    ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_ENABLEHOOK;
    ofn.lpfnHook = &FileDialogHook;
    if (Options & ofOverwritePrompt) ofn.Flags |= OFN_OVERWRITEPROMPT;
    if (Options & ofHideReadOnly) ofn.Flags |= OFN_HIDEREADONLY;
    if (Options & ofFileMustExist) ofn.Flags |= OFN_FILEMUSTEXIST;
    if (Options & ofPathMustExist) ofn.Flags |= OFN_PATHMUSTEXIST;
    if (Options & ofEnableSizing) ofn.Flags |= OFN_ENABLESIZING;
    if (Options & ofCreatePrompt) ofn.Flags |= OFN_CREATEPROMPT;
    if (Options & ofNoValidate) ofn.Flags |= OFN_NOVALIDATE;
    BOOL ok = bSave ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!ok) return false;
    FileName = file.data();
    FilterIndex = static_cast<int>(ofn.nFilterIndex);
    return true;
}
