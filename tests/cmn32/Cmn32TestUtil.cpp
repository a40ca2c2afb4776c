#include "Cmn32TestUtil.h"

#include <atomic>

#include "TestSupport.h"
#include "UiDriver.h"

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

ktxtest::ui::WindowMatch AnyBox(DWORD pid)
{
    return ktxtest::ui::WindowMatch("#32770", nullptr, pid);
}

ktxtest::ui::Action LookAndClose(std::shared_ptr<SeenBox> pSeen, Close how, int nButtonId)
{
    return [pSeen, how, nButtonId](HWND hBox) {
        // The box is complete when the button to press is there.
        HWND hButton = GetDlgItem(hBox, nButtonId);
        if (!hButton || !IsWindowVisible(hButton)) return false;
        if (!pSeen->hWnd) {
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
            *pSeen = box;
        }
        switch (how) {
        case Close::kPress:
            return ktxtest::ui::PressButtonId(hBox, nButtonId);
        case Close::kEscape: {
            // The key goes to the control that has the focus, as typed.
            GUITHREADINFO gti{};
            gti.cbSize = sizeof(gti);
            HWND hFocus = GetGUIThreadInfo(GetWindowThreadProcessId(hBox, nullptr), &gti) && gti.hwndFocus
                              ? gti.hwndFocus
                              : hBox;
            PostMessageA(hFocus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageA(hFocus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
            return true;
        }
        case Close::kCloseBox:
            return PostMessageA(hBox, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE;
        }
        return false;
    };
}

}  // namespace cmn32test
