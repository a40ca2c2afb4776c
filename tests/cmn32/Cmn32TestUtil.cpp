#include "Cmn32TestUtil.h"

#include <atomic>

#include "TestSupport.h"

namespace cmn32test {

namespace {

std::atomic<unsigned> g_counter{0};

std::string WindowText(HWND h)
{
    char sz[8192];
    int n = GetWindowTextA(h, sz, sizeof(sz));
    return std::string(sz, n > 0 ? n : 0);
}

std::string ClassOf(HWND h)
{
    char sz[256];
    int n = GetClassNameA(h, sz, sizeof(sz));
    return std::string(sz, n > 0 ? n : 0);
}

BOOL CALLBACK CollectChild(HWND h, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(h);
    return TRUE;
}

BOOL CALLBACK CollectTop(HWND h, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(h);
    return TRUE;
}

}  // namespace

std::string UniqueName(const char* pszPrefix)
{
    return std::string(pszPrefix) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount()) + "-" + std::to_string(g_counter++);
}

OwnerScope::OwnerScope() : m_name(UniqueName("cmn32test")), m_pOwner(GetLSOwnerHandle(m_name.c_str())) {}

OwnerScope::~OwnerScope()
{
    if (m_pOwner) FreeLSOwnerHandle(m_pOwner);
}

TestRegKey::TestRegKey() : m_path("software\\vornix\\KTX\\Test\\" + UniqueName("key")) {}

TestRegKey::~TestRegKey()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, m_path.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, m_path.c_str());
}

std::string ChildExe()
{
    return ktxtest::ModuleDir() + "\\cmn32_child.exe";
}

int RunChild(const std::string& args, DWORD timeoutMs)
{
    ktxtest::ChildProcess child;
    if (!child.Start(ChildExe(), args)) return -2;
    DWORD code = 0;
    if (!child.Wait(timeoutMs, &code)) return -1;
    return static_cast<int>(code);
}

bool SeenBox::HasText(const std::string& part) const
{
    for (const std::string& t : texts) {
        if (t.find(part) != std::string::npos) return true;
    }
    return false;
}

std::string SeenBox::ButtonText(int nId) const
{
    for (const auto& b : buttons) {
        if (b.first == nId) return b.second;
    }
    return std::string();
}

BoxAnswer::BoxAnswer(int nButtonId, How how, DWORD timeoutMs, const char* pszCaption)
    : m_caption(pszCaption ? pszCaption : ""), m_nButtonId(nButtonId), m_how(how), m_timeoutMs(timeoutMs),
      m_threadId(GetCurrentThreadId())
{
    m_existing = Candidates();
    m_thread = std::thread([this] { Run(); });
}

std::vector<HWND> BoxAnswer::Candidates() const
{
    if (m_caption.empty()) return ktxtest::TopLevelWindowsOf(GetCurrentProcessId(), "#32770");
    std::vector<HWND> all, boxes;
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&all));
    for (HWND h : all) {
        if (ClassOf(h) == "#32770" && WindowText(h) == m_caption) boxes.push_back(h);
    }
    return boxes;
}

BoxAnswer::~BoxAnswer()
{
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

bool BoxAnswer::Wait(DWORD timeoutMs)
{
    return ktxtest::WaitFor([this] { return m_done.load(); }, timeoutMs) && m_seen.load();
}

bool BoxAnswer::StopAndCheckSeen()
{
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    return m_seen.load();
}

SeenBox BoxAnswer::Box() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_box;
}

void BoxAnswer::Run()
{
    DWORD start = GetTickCount();
    HWND hBox = nullptr;
    // Find a new, visible box that already has the button to press.
    while (!m_stop && GetTickCount() - start < m_timeoutMs) {
        for (HWND h : Candidates()) {
            bool bOld = false;
            for (HWND e : m_existing) bOld = bOld || (e == h);
            if (bOld || !IsWindowVisible(h)) continue;
            HWND hButton = GetDlgItem(h, m_nButtonId);
            if (hButton && IsWindowVisible(hButton)) hBox = h;
        }
        if (hBox) break;
        Sleep(20);
    }
    if (!hBox) {
        m_done = true;
        return;
    }
    // A short pause lets the box finish its layout before it is read.
    Sleep(50);
    SeenBox box;
    box.hWnd = hBox;
    box.hOwner = GetWindow(hBox, GW_OWNER);
    box.className = ClassOf(hBox);
    box.caption = WindowText(hBox);
    GetWindowRect(hBox, &box.rect);
    std::vector<HWND> children;
    EnumChildWindows(hBox, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND c : children) {
        std::string cls = ClassOf(c);
        if (lstrcmpiA(cls.c_str(), "Button") == 0)
            box.buttons.emplace_back(GetDlgCtrlID(c), WindowText(c));
        else if (lstrcmpiA(cls.c_str(), "Static") == 0 || lstrcmpiA(cls.c_str(), "Edit") == 0)
            box.texts.push_back(WindowText(c));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_box = box;
    }
    m_seen = true;
    // Answer until the box is gone (a press that comes too early can be lost).
    while (IsWindow(hBox) && IsWindowVisible(hBox) && GetTickCount() - start < m_timeoutMs + 10000) {
        if (m_how == kPress) {
            HWND hButton = GetDlgItem(hBox, m_nButtonId);
            DWORD_PTR result = 0;
            if (hButton) SendMessageTimeoutA(hButton, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
        } else if (m_how == kEscape) {
            GUITHREADINFO gti{};
            gti.cbSize = sizeof(gti);
            HWND hFocus = GetGUIThreadInfo(GetWindowThreadProcessId(hBox, nullptr), &gti) && gti.hwndFocus
                              ? gti.hwndFocus
                              : hBox;
            PostMessageA(hFocus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageA(hFocus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        } else {
            PostMessageA(hBox, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        for (int i = 0; i < 10 && IsWindow(hBox) && IsWindowVisible(hBox); ++i) Sleep(20);
    }
    m_done = true;
}

}  // namespace cmn32test
