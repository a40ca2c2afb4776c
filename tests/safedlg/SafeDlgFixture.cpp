#include "SafeDlgFixture.h"

#include <tlhelp32.h>

#include <cstring>

#include "KTXTOOLS.h"
#include "TestSupport.h"
#include "ToolsFixture.h"
#include "UiDriver.h"

namespace safetest {

std::string EditText(TEdit* pEdit)
{
    std::vector<char> buffer(static_cast<size_t>(pEdit->GetTextLen()) + 2, '\0');
    int n = pEdit->GetTextBuf(buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), static_cast<size_t>(n));
}

TComponent* FindNamed(TComponent* pRoot, const std::string& name)
{
    if (!pRoot) return nullptr;
    for (int i = 0; i < pRoot->ComponentCount(); ++i) {
        TComponent* pChild = pRoot->Components(i);
        if (_stricmp(pChild->Name().c_str(), name.c_str()) == 0) return pChild;
        if (TComponent* pFound = FindNamed(pChild, name)) return pFound;
    }
    return nullptr;
}

std::vector<DWORD> ViewerProcesses()
{
    std::vector<DWORD> pids;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnap == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32First(hSnap, &entry); ok; ok = Process32Next(hSnap, &entry)) {
        if (_stricmp(entry.szExeFile, "notepad.exe") == 0) pids.push_back(entry.th32ProcessID);
    }
    CloseHandle(hSnap);
    return pids;
}

void EndViewers()
{
    for (DWORD pid : ViewerProcesses()) {
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!h) continue;
        TerminateProcess(h, 0);
        WaitForSingleObject(h, 5000);
        CloseHandle(h);
    }
}

bool ProcessEnded(DWORD pid, DWORD timeoutMs)
{
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return true;
    DWORD r = WaitForSingleObject(h, timeoutMs);
    CloseHandle(h);
    return r == WAIT_OBJECT_0;
}

void SafeDlgFixture::SetUp()
{
    toolstest::ResetProductState();
    m_pOwner = GetLSOwnerHandle("KTSafe.EXE");
    ASSERT_NE(m_pOwner, nullptr);
    m_hPrevSlot = CreateWindowExA(0, "STATIC", "previous slot", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(m_hPrevSlot, nullptr);
    m_pOwner->hOwnerWnd = m_hPrevSlot;
    m_pDlg = new TfrmDlgSafe(Application, m_pOwner);
}

void SafeDlgFixture::TearDown()
{
    delete m_pDlg;
    m_pDlg = nullptr;
    EndViewers();
    if (m_pOwner) FreeLSOwnerHandle(m_pOwner);
    m_pOwner = nullptr;
    if (m_hPrevSlot) DestroyWindow(m_hPrevSlot);
    m_hPrevSlot = nullptr;
    toolstest::ResetProductState();
}

void SafeDlgFixture::Recreate()
{
    delete m_pDlg;
    m_pDlg = new TfrmDlgSafe(Application, m_pOwner);
}

void SafeDlgFixture::ShowAndStart()
{
    m_pDlg->Show();
    ASSERT_TRUE(ktxtest::WaitFor([&] { return m_pOwner->hOwnerWnd == m_pDlg->Handle(); }, 10000))
        << "the start-up timer did not take the owner's window slot";
}

}  // namespace safetest
