// Every control of the safe dialog, in the real program: KTSafe.exe is
// started as the user starts it, and in its safe dialog every visible and
// enabled button is clicked and every visible and enabled item of the entry
// list's popup menu is chosen, one after the other, as a user does it, by
// window messages from this process. Each must show something the user can
// see: a window of the program (closed again as the user closes it), another
// program (ended again), or a visible change of the dialog or the safe file.
// One table names every control with what it shows; a control found in the
// dialog or the menu without a row fails the test, and so does a row whose
// control is not there, or is there where it must not be.
//
// The popup menu is read inside the program by a hook of ours
// (ktsafe_menureader.dll): a menu cannot be read from another process under
// Wine. The browser is a stand-in of ours registered with the shell, so what
// the shell was asked to open is known.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "StandInBrowser.h"
#include "KTXCMN32.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "StartUpSupport.h"
#include "TestSupport.h"
#include "ToolsFixture.h"
#include "UiDriver.h"

using namespace startuptest;
namespace ui = ktxtest::ui;
using ktxtest::KeyExists;
using ktxtest::StandInBrowser;
using ktxtest::kBrowserClass;

namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kEndTimeoutMs = 30000;
// How long the test waits for a window or a program to show: generous, as the
// machine may be busy (what works shows within seconds).
constexpr DWORD kShowTimeoutMs = 30000;
constexpr char kReceiverClass[] = "KTXTestMenuReader";
constexpr char kMenuReaderDll[] = "ktsafe_menureader.dll";
constexpr char kMenuReaderProc[] = "KtxMenuReaderProc";
// What the hook's WM_COPYDATA carries.
constexpr ULONG_PTR kMenuReport = 0x4B4D4E55;

// The entry typed into the dialog.
constexpr char kUser[] = "alice";
constexpr char kPassword[] = "Summer 2025!";
constexpr char kURL[] = "https://login.example.org/start";
constexpr char kNote[] = "typed in the real program";
// Passwords of the typed-password safe: at the start, and after each change.
constexpr char kTypedPassword[] = "typed secret 1";
const char* const kNewPasswords[] = {"typed secret 2", "typed secret 3", "typed secret 4"};

std::string Lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A caption as the user reads it: "&Help" is "Help".
std::string Plain(const std::string& caption)
{
    std::string out;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') out += caption[++i];
            continue;
        }
        out += caption[i];
    }
    return out;
}

DWORD ProcessOf(HWND hWnd)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    return pid;
}

// ---------------------------------------------------------------------------
// The stand-in browser
// ---------------------------------------------------------------------------


// ---------------------------------------------------------------------------
// The log viewer
// ---------------------------------------------------------------------------

std::set<DWORD> ViewerProcesses()
{
    std::set<DWORD> pids;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnap == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32First(hSnap, &entry); ok; ok = Process32Next(hSnap, &entry))
        if (_stricmp(entry.szExeFile, "notepad.exe") == 0) pids.insert(entry.th32ProcessID);
    CloseHandle(hSnap);
    return pids;
}

// Waits for a process to end; ends it when it does not.
bool EndedOrEnd(DWORD pid, DWORD timeoutMs)
{
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    if (!h) return true;
    bool bEnded = WaitForSingleObject(h, timeoutMs) == WAIT_OBJECT_0;
    if (!bEnded) {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 5000);
    }
    CloseHandle(h);
    return bEnded;
}

// ---------------------------------------------------------------------------
// The entry list of another process
// ---------------------------------------------------------------------------

// A row's text. The list view writes it into memory of its own process: a
// buffer of this process (as ui::ListItemText passes) would be written at
// the same address in the program's memory, over whatever lies there.
std::string ListText(HWND hList, int index)
{
    std::string text;
    HANDLE hProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, ProcessOf(hList));
    if (!hProcess) return text;
    constexpr size_t kTextSize = 512;
    char* pRemote = static_cast<char*>(
        VirtualAllocEx(hProcess, nullptr, sizeof(LVITEMA) + kTextSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (pRemote) {
        LVITEMA item{};
        item.iSubItem = 0;
        item.cchTextMax = kTextSize;
        item.pszText = pRemote + sizeof(LVITEMA);
        char sz[kTextSize + 1] = {};
        if (WriteProcessMemory(hProcess, pRemote, &item, sizeof(item), nullptr)) {
            SendMessageA(hList, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(pRemote));
            if (ReadProcessMemory(hProcess, pRemote + sizeof(LVITEMA), sz, kTextSize, nullptr)) text = sz;
        }
        VirtualFreeEx(hProcess, pRemote, 0, MEM_RELEASE);
    }
    CloseHandle(hProcess);
    return text;
}

std::vector<std::string> ListTexts(HWND hList)
{
    std::vector<std::string> texts;
    for (int i = 0; i < ui::ListCount(hList); ++i) texts.push_back(ListText(hList, i));
    return texts;
}

// Selects a row with the keyboard: the first row, then down to it.
bool SelectRow(HWND hList, int index)
{
    if (index < 0 || index >= ui::ListCount(hList)) return false;
    ui::Focus(hList);
    ui::PressKey(hList, VK_HOME);
    for (int i = 0; i < index; ++i) ui::PressKey(hList, VK_DOWN);
    return ktxtest::WaitFor([&] { return ui::ListSelected(hList) == index; }, kShowTimeoutMs);
}

// ---------------------------------------------------------------------------
// The popup menu of another process
// ---------------------------------------------------------------------------

// Hooks ktsafe_menureader.dll into the GUI thread of a window's process: each
// popup menu that thread is about to show arrives here as one item a line
// ("-" a separator, "(disabled)" appended to an item that cannot be chosen).
class MenuReader {
public:
    explicit MenuReader(HWND hTarget)
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &MenuReader::ReceiverProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kReceiverClass;
        RegisterClassA(&wc);
        m_hReceiver = CreateWindowExA(0, kReceiverClass, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance,
                                      nullptr);
        if (m_hReceiver) SetWindowLongPtrA(m_hReceiver, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_hDll = LoadLibraryA((ktxtest::ModuleDir() + "\\" + kMenuReaderDll).c_str());
        HOOKPROC pfnProc =
            m_hDll ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(m_hDll, kMenuReaderProc)))
                   : nullptr;
        if (m_hReceiver && pfnProc)
            m_hHook = SetWindowsHookExA(WH_CALLWNDPROC, pfnProc, m_hDll, GetWindowThreadProcessId(hTarget, nullptr));
    }
    ~MenuReader()
    {
        if (m_hHook) UnhookWindowsHookEx(m_hHook);
        if (m_hReceiver) DestroyWindow(m_hReceiver);
        if (m_hDll) FreeLibrary(m_hDll);
    }
    MenuReader(const MenuReader&) = delete;
    MenuReader& operator=(const MenuReader&) = delete;

    bool Hooked() const { return m_hHook != nullptr; }
    void Clear() { m_items.clear(); m_bReported = false; }
    bool Reported() const { return m_bReported; }
    const std::vector<std::string>& Items() const { return m_items; }

private:
    static LRESULT CALLBACK ReceiverProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        MenuReader* pSelf = reinterpret_cast<MenuReader*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        if (uMsg == WM_COPYDATA && pSelf) {
            const COPYDATASTRUCT* pData = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (pData->dwData == kMenuReport && pData->lpData && pData->cbData > 0) {
                const std::string text(static_cast<const char*>(pData->lpData), pData->cbData - 1);
                pSelf->m_items.clear();
                for (size_t pos = 0; pos < text.size();) {
                    const size_t end = text.find('\n', pos);
                    pSelf->m_items.push_back(text.substr(pos, end - pos));
                    pos = end == std::string::npos ? text.size() : end + 1;
                }
                pSelf->m_bReported = true;
            }
            return TRUE;
        }
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }

    HWND m_hReceiver = nullptr;
    HMODULE m_hDll = nullptr;
    HHOOK m_hHook = nullptr;
    std::vector<std::string> m_items;
    bool m_bReported = false;
};

// The visible popup menu window of a process, or null.
HWND MenuWindowOf(DWORD pid)
{
    for (HWND h = FindWindowExA(nullptr, nullptr, "#32768", nullptr); h; h = FindWindowExA(nullptr, h, "#32768", nullptr))
        if (IsWindowVisible(h) && ProcessOf(h) == pid) return h;
    return nullptr;
}

// Opens the list's popup menu as a right click does and, when pszItem is
// given, chooses that item with the keyboard; otherwise (or when the item is
// not there or disabled) closes the menu with Escape. pShown receives the
// menu as it was shown. False when no menu appeared or nothing was chosen.
bool UsePopupMenu(HWND hList, MenuReader& reader, const char* pszItem, std::vector<std::string>* pShown)
{
    pShown->clear();
    reader.Clear();
    const DWORD pid = ProcessOf(hList);
    POINT pt{20, 40};
    ClientToScreen(hList, &pt);
    PostMessageA(hList, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hList), MAKELPARAM(pt.x, pt.y));
    HWND hMenu = nullptr;
    if (!ktxtest::WaitFor([&] { return (hMenu = MenuWindowOf(pid)) != nullptr && reader.Reported(); }, kShowTimeoutMs))
        return false;
    *pShown = reader.Items();
    // Down moves over every item but the separators, as ChooseContextMenuItem
    // counts in this process.
    int nDowns = 0;
    bool bFound = false;
    for (const std::string& item : *pShown) {
        if (item == "-") continue;
        ++nDowns;
        if (pszItem && Plain(item) == Plain(pszItem)) {
            bFound = true;
            break;
        }
    }
    ui::Pump(50);
    if (!bFound) {
        PostMessageA(hMenu, WM_KEYDOWN, VK_ESCAPE, 0);
        ui::WaitForWindowGone(hMenu, kShowTimeoutMs);
        return false;
    }
    for (int i = 0; i < nDowns; ++i) PostMessageA(hMenu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(hMenu, WM_KEYDOWN, VK_RETURN, 0);
    return ui::WaitForWindowGone(hMenu, kShowTimeoutMs);
}

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

enum class Via { Button, Popup };

// What a control shows, and how the test puts things back afterwards.
enum class Shows {
    NewEntry,        // a new entry, selected, in the list and in the safe file, its name in
                     // the in-place editor; Escape keeps the default name
    AskDelete,       // a question naming the entry; No keeps list and file
    RenameEditor,    // the in-place editor with the entry's name; Escape keeps it
    Generator,       // the password generator; closed with its close button
    SaveDialog,      // the save dialog for the new place; Cancel keeps caption and file
    Move,            // the save dialog; a new name moves the file and the caption follows; moved back
    CertManager,     // the certificate manager over the dialog; closed
    NewPassword,     // the password change dialog; the safe file is written anew
    AskConvert,      // a question; No keeps the file and the buttons
    Unmask,          // the password in clear; a second click masks it again
    Browser,         // the browser with the entry's address; closed
    Help,            // the browser with the dialog's help page; closed
    About,           // the about box with the dialog's caption; OK
    SafeLog,         // the log viewer with the safe log; closed
    End,             // the program ends with exit code 0
    Nothing,         // never offered
};

// In which safes a control is offered.
enum Offered : unsigned {
    kNever = 0,
    kCertSafe = 1,    // a safe protected by the user's certificate (key file)
    kTypedSafe = 2,   // an older safe opened with a typed password
    kEverySafe = 3,
};

struct Control {
    const char* pszName;
    Via via;
    const char* (*caption)();
    unsigned offered;
    Shows shows;
};

const char* StarCaption()
{
    return "*";
}

const char* DotsCaption()
{
    return "...";
}

// Every control of the dialog, in the order the test uses them.
const Control kControls[] = {
    {"new entry button", Via::Button, DLS_BTN_NEUER_EINTRAG, kEverySafe, Shows::NewEntry},
    {"new entry item", Via::Popup, DLS_PUM_NEUER_EINTRAG, kEverySafe, Shows::NewEntry},
    {"delete button", Via::Button, DLS_BTN_EINTRAG_LOESCHEN, kEverySafe, Shows::AskDelete},
    {"delete item", Via::Popup, DLS_PUM_EINTRAG_LOESCHEN, kEverySafe, Shows::AskDelete},
    {"rename item", Via::Popup, DLS_PUM_EINTRAG_RENAME, kEverySafe, Shows::RenameEditor},
    {"duplicate item", Via::Popup, DLS_PUM_EINTRAG_DUPLIZIEREN, kNever, Shows::Nothing},
    {"generator button", Via::Button, DLS_BTN_KEY_GENERATOR, kEverySafe, Shows::Generator},
    {"generator item", Via::Popup, DLS_PUM_KEY_GENERATOR, kEverySafe, Shows::Generator},
    {"move button", Via::Button, DLS_BTN_CHANGETRESORFILE, kEverySafe, Shows::SaveDialog},
    {"move item", Via::Popup, DLS_PUM_CHANGETRESORFILE, kEverySafe, Shows::Move},
    {"certificates button", Via::Button, DLS_BTN_ZERTMGR, kEverySafe, Shows::CertManager},
    {"change password button", Via::Button, DLS_BTN_CHANGEPASSWORD, kTypedSafe, Shows::NewPassword},
    {"change password item", Via::Popup, DLS_PUM_CHANGEPASSWORD, kTypedSafe, Shows::NewPassword},
    {"convert button", Via::Button, DLS_BTN_KONVERTIEREN, kTypedSafe, Shows::AskConvert},
    {"show password button", Via::Button, StarCaption, kEverySafe, Shows::Unmask},
    {"open URL button", Via::Button, DotsCaption, kEverySafe, Shows::Browser},
    {"help button", Via::Button, DLS_BTN_HELP, kEverySafe, Shows::Help},
    {"about button", Via::Button, DLS_BTN_ABOUT, kEverySafe, Shows::About},
    {"safe log button", Via::Button, DLS_BTN_OPENLOG, kEverySafe, Shows::SafeLog},
    {"save button", Via::Button, DLS_BTN_SPEICHERN, kNever, Shows::Nothing},
    {"save item", Via::Popup, DLS_BTN_SPEICHERN, kNever, Shows::Nothing},
    {"close button", Via::Button, DLS_BTN_SCHLIESSEN, kEverySafe, Shows::End},
    {"cancel item", Via::Popup, DLS_BTN_CANCEL, kEverySafe, Shows::End},
};

const Control* Row(Via via, const std::string& caption)
{
    for (const Control& c : kControls)
        if (c.via == via && Plain(c.caption()) == Plain(caption)) return &c;
    return nullptr;
}

// ---------------------------------------------------------------------------
// The program with its safe dialog
// ---------------------------------------------------------------------------

class SafeControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_viewersBefore = ViewerProcesses();
        PrepareQuietStart();
        ASSERT_TRUE(ktxtest::WriteFileBytes(LinkTableFile(), "table link"));
        ASSERT_TRUE(ktxtest::WriteFileBytes(StartMenuLink(), "menu link"));
        m_safe = m_dir.File("Safe.xml");
        ASSERT_TRUE(m_cert.Create("KTSafe controls"));
        TLSCryptCert record = m_cert.Record();
        ASSERT_TRUE(TVornixReg::QOVSetRegUsrEncCrt(nullptr, &record, 1, nullptr));
        ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(nullptr, m_safe.c_str()));
    }

    void TearDown() override
    {
        m_pReader.reset();
        StandInBrowser::Close(kShowTimeoutMs);
        for (DWORD pid : ViewerProcesses())
            if (!m_viewersBefore.count(pid)) EndedOrEnd(pid, 0);
    }

    // Starts the program and waits for its safe dialog; a typed-password
    // safe is opened with kTypedPassword.
    void Start(unsigned safe)
    {
        m_offered = safe;
        ASSERT_TRUE(m_process.Start("KTSafe.exe"));
        if (safe == kTypedSafe) {
            ui::Answer password({"TfrmInputPassword", nullptr, m_process.Pid()},
                                ui::TypeAndPress(kTypedPassword, DLS_DLG_BTN_OK()), kStartTimeoutMs);
            ASSERT_TRUE(password.Wait(kStartTimeoutMs)) << "a typed-password safe asks for its password";
        }
        m_hSafe = ui::WaitForWindow({"TfrmDlgSafe", nullptr, m_process.Pid()}, kStartTimeoutMs);
        ASSERT_NE(m_hSafe, nullptr) << "the safe dialog opens";
        ui::Pump(300);
        m_hList = ui::FindControlByClass(m_hSafe, "SysListView32");
        ASSERT_NE(m_hList, nullptr);
        m_pReader.reset(new MenuReader(m_hSafe));
        ASSERT_TRUE(m_pReader->Hooked()) << "the menu reader is hooked into the program";
    }

    DWORD Pid() const { return m_process.Pid(); }

    // The entry list's in-place editor while it shows, or null.
    HWND NameEditor() const
    {
        HWND hEditor = reinterpret_cast<HWND>(SendMessageA(m_hList, LVM_GETEDITCONTROL, 0, 0));
        return hEditor && IsWindowVisible(hEditor) ? hEditor : nullptr;
    }
    std::string SafeBytes() const { return ktxtest::ReadFileBytes(m_safe); }

    // The four fields of the dialog: user name, password, URL, note.
    HWND Field(int index)
    {
        int n = 0;
        for (HWND h : ui::Controls(m_hSafe)) {
            if (ui::ClassOf(h) != "Edit" || GetParent(h) == m_hList) continue;
            if (n++ == index) return h;
        }
        return nullptr;
    }

    // The dialog's buttons (push buttons and tool buttons) that are visible
    // and enabled, by caption.
    std::vector<std::pair<std::string, HWND>> UsableButtons()
    {
        std::vector<std::pair<std::string, HWND>> buttons;
        for (HWND h : ui::Controls(m_hSafe)) {
            const std::string cls = ui::ClassOf(h);
            if (cls != "Button" && cls != "TSpeedButton") continue;
            if (IsWindowVisible(h) && IsWindowEnabled(h)) buttons.push_back({ui::TextOf(h), h});
        }
        return buttons;
    }

    HWND Button(const char* pszCaption)
    {
        for (HWND h : ui::Controls(m_hSafe)) {
            const std::string cls = ui::ClassOf(h);
            if ((cls == "Button" || cls == "TSpeedButton") && Plain(ui::TextOf(h)) == Plain(pszCaption)) return h;
        }
        return nullptr;
    }

    // Every usable button and popup item has a row that offers it in this
    // safe; every row's control is offered where its row says so, and only
    // there. bSelected: an entry is selected (what needs one is enabled).
    void CheckEveryControlHasARow(bool bSelected)
    {
        SCOPED_TRACE(bSelected ? "an entry selected" : "no entry selected");
        for (const auto& button : UsableButtons()) {
            const Control* pRow = Row(Via::Button, button.first);
            EXPECT_NE(pRow, nullptr) << "a button without a row: " << button.first;
            if (pRow) {
                EXPECT_TRUE(pRow->offered & m_offered) << "a button offered against its row: " << button.first;
            }
        }
        std::vector<std::string> menu;
        EXPECT_FALSE(UsePopupMenu(m_hList, *m_pReader, nullptr, &menu));
        EXPECT_FALSE(menu.empty()) << "no popup menu";
        CheckMenu(menu);

        const std::string off = "(disabled)";
        for (const Control& c : kControls) {
            const bool bOffered = (c.offered & m_offered) != 0;
            const bool bNeedsEntry = c.shows == Shows::AskDelete || c.shows == Shows::RenameEditor ||
                                     c.shows == Shows::Unmask || c.shows == Shows::Browser;
            if (c.via == Via::Button) {
                HWND h = Button(c.caption());
                EXPECT_EQ(h && IsWindowVisible(h), bOffered) << c.pszName;
                if (bOffered && h) {
                    EXPECT_EQ(IsWindowEnabled(h) != FALSE, bSelected || !bNeedsEntry) << c.pszName;
                }
            } else {
                const bool bShown = std::any_of(menu.begin(), menu.end(), [&](const std::string& item) {
                    return Plain(item) == Plain(c.caption()) || Plain(item) == Plain(c.caption()) + off;
                });
                EXPECT_EQ(bShown, bOffered) << c.pszName;
                if (bOffered && bShown) {
                    const bool bEnabled = std::find_if(menu.begin(), menu.end(), [&](const std::string& item) {
                                              return Plain(item) == Plain(c.caption());
                                          }) != menu.end();
                    EXPECT_EQ(bEnabled, bSelected || !bNeedsEntry) << c.pszName;
                }
            }
        }
    }

    // Every enabled item of a menu as shown has a row offering it here.
    void CheckMenu(const std::vector<std::string>& menu)
    {
        for (const std::string& item : menu) {
            if (item == "-" || Contains(item, "(disabled)")) continue;
            const Control* pRow = Row(Via::Popup, item);
            EXPECT_NE(pRow, nullptr) << "a popup item without a row: " << item;
            if (pRow) {
                EXPECT_TRUE(pRow->offered & m_offered) << "a popup item offered against its row: " << item;
            }
        }
    }

    // Clicks the button or chooses the popup item.
    void Use(const Control& c)
    {
        if (c.via == Via::Button) {
            HWND h = Button(c.caption());
            ASSERT_NE(h, nullptr) << "no such button";
            ASSERT_TRUE(IsWindowVisible(h) && IsWindowEnabled(h)) << "not usable";
            ASSERT_TRUE(ui::PostClick(h));
        } else {
            std::vector<std::string> menu;
            ASSERT_TRUE(UsePopupMenu(m_hList, *m_pReader, c.caption(), &menu)) << "not chosen from the menu";
            CheckMenu(menu);
        }
    }

    // After a row: only the safe dialog shows, usable, and no other program
    // of the test is left running.
    void CheckPutBack()
    {
        ui::Pump(100);
        for (HWND h : ktxtest::TopLevelWindowsOf(Pid())) {
            if (h == m_hSafe || !IsWindowVisible(h)) continue;
            const std::string cls = ui::ClassOf(h);
            if (cls == "tooltips_class32") continue;
            ADD_FAILURE() << "a window left open: " << cls << " \"" << ui::TextOf(h) << "\"";
        }
        EXPECT_TRUE(IsWindowEnabled(m_hSafe));
        EXPECT_EQ(FindWindowA(kBrowserClass, nullptr), nullptr) << "a browser left open";
        for (DWORD pid : ViewerProcesses()) EXPECT_TRUE(m_viewersBefore.count(pid)) << "a log viewer left open";
    }

    // Types the fields of the selected entry, leaves it (it is stored), and
    // selects it again: it shows what was typed.
    void TypeEntry()
    {
        const int nSelected = ui::ListSelected(m_hList);
        ASSERT_GE(nSelected, 0);
        ASSERT_TRUE(ui::Type(Field(0), kUser));
        ASSERT_TRUE(ui::Type(Field(1), kPassword));
        ASSERT_TRUE(ui::Type(Field(2), kURL));
        ASSERT_TRUE(ui::Type(Field(3), kNote));
        const std::string before = SafeBytes();
        ASSERT_TRUE(SelectRow(m_hList, nSelected == 0 ? 1 : 0));
        EXPECT_TRUE(ktxtest::WaitFor([&] { return SafeBytes() != before; }, kShowTimeoutMs)) << "the entry was stored";
        EXPECT_EQ(ui::TextOf(Field(0)), "") << "the other entry is empty";
        ASSERT_TRUE(SelectRow(m_hList, nSelected));
        EXPECT_TRUE(ktxtest::WaitFor([&] { return ui::TextOf(Field(0)) == kUser; }, kShowTimeoutMs));
        EXPECT_EQ(ui::TextOf(Field(2)), kURL);
        EXPECT_EQ(ui::TextOf(Field(3)), kNote);
    }

    // Uses the control and checks what it shows; afterwards everything is
    // as it was before (but for a new entry).
    void Exercise(const Control& c);

    // Uses a control that ends the program: it ends with exit code 0 and
    // shows no message on the way.
    void ExerciseEnd(const Control& c)
    {
        SCOPED_TRACE(c.pszName);
        ASSERT_NO_FATAL_FAILURE(Use(c));
        std::set<std::string> shown;
        const bool bEnded = ktxtest::WaitFor(
            [&] {
                for (HWND h : ktxtest::TopLevelWindowsOf(Pid()))
                    if (IsWindowVisible(h)) shown.insert(ui::ClassOf(h));
                return WaitForSingleObject(m_process.Handle(), 0) == WAIT_OBJECT_0;
            },
            kEndTimeoutMs);
        ASSERT_TRUE(bEnded) << "the program did not end";
        DWORD dwExit = 1234;
        ASSERT_TRUE(m_process.Wait(0, &dwExit));
        EXPECT_EQ(dwExit, 0u);
        EXPECT_EQ(shown.count("#32770"), 0u) << "no message on the way out";
    }

    // Every control once, as the table orders them; the safe's kind decides
    // what is offered. The run ends with the ending control of endVia.
    void RunEveryControl(unsigned safe, Via endVia, const std::string& shotName)
    {
        const char* pszLang = getenv("KTX_EXPECT_LANG");
        if (pszLang && *pszLang) {
            EXPECT_EQ(atoi(pszLang), DLS_LANG_ID()) << "the language of this run";
        }
        ASSERT_NO_FATAL_FAILURE(Start(safe));
        CheckEveryControlHasARow(false);
        // New entries first: the other controls work on them.
        for (const Control& c : kControls) {
            if (c.shows == Shows::NewEntry) {
                ASSERT_NO_FATAL_FAILURE(Exercise(c));
            }
        }
        ASSERT_NO_FATAL_FAILURE(TypeEntry());
        CheckEveryControlHasARow(true);
        for (const Control& c : kControls) {
            if (c.shows == Shows::NewEntry || c.shows == Shows::End || c.shows == Shows::Nothing) continue;
            if (!(c.offered & safe)) continue;
            ASSERT_NO_FATAL_FAILURE(Exercise(c));
        }
        ui::Pump(300);
        EXPECT_FALSE(ui::Screenshot(shotName + (DLS_LANG_ID() == LS_LANG_GERMAN ? "-de" : "-en"), m_hSafe).empty());
        const Control* pEnd = nullptr;
        for (const Control& c : kControls)
            if (c.shows == Shows::End && c.via == endVia) pEnd = &c;
        ASSERT_NE(pEnd, nullptr);
        ExerciseEnd(*pEnd);
    }

    CleanInstallState m_state;
    ktxtest::TempDir m_dir;
    std::string m_safe;
    toolstest::TestCert m_cert;
    ktxtest::ChildProcess m_process;
    unsigned m_offered = 0;
    HWND m_hSafe = nullptr;
    HWND m_hList = nullptr;
    std::unique_ptr<MenuReader> m_pReader;
    std::set<DWORD> m_viewersBefore;
    int m_nPasswordChanges = 0;
};

void SafeControls::Exercise(const Control& c)
{
    SCOPED_TRACE(c.pszName);
    const DWORD pid = Pid();
    const std::vector<std::string> namesBefore = ListTexts(m_hList);
    const int nSelected = ui::ListSelected(m_hList);
    const std::string selected = nSelected >= 0 ? ListText(m_hList, nSelected) : std::string();
    const std::string bytesBefore = SafeBytes();
    const std::string captionBefore = ui::TextOf(m_hSafe);

    switch (c.shows) {
    case Shows::NewEntry: {
        // The first free name: the base name, else the base name numbered.
        const std::string base = DLS_TXT_NEW_ENTRY();
        std::string expected = base;
        for (int k = 1; std::find(namesBefore.begin(), namesBefore.end(), expected) != namesBefore.end(); ++k)
            expected = base + "(" + std::to_string(k) + ")";
        ASSERT_NO_FATAL_FAILURE(Use(c));
        ASSERT_TRUE(ktxtest::WaitFor([&] { return ui::ListCount(m_hList) == static_cast<int>(namesBefore.size()) + 1; },
                                     kShowTimeoutMs))
            << "no new entry in the list";
        EXPECT_TRUE(ktxtest::WaitFor([&] { return Contains(SafeBytes(), "\"" + expected + "\""); }, kShowTimeoutMs))
            << "the new entry is not in the safe file: " << expected;
        const int nNew = ui::ListSelected(m_hList);
        ASSERT_GE(nNew, 0) << "the new entry is selected";
        EXPECT_EQ(ListText(m_hList, nNew), expected);
        EXPECT_TRUE(IsWindowEnabled(Field(0))) << "its fields are open for typing";
        EXPECT_EQ(ui::TextOf(Field(0)), "");
        // The user may name it at once.
        HWND hEditor = nullptr;
        ASSERT_TRUE(ktxtest::WaitFor([&] { return (hEditor = NameEditor()) != nullptr; }, kShowTimeoutMs))
            << "the new entry's name is not open for naming";
        EXPECT_EQ(ui::TextOf(hEditor), expected);
        const std::string bytes = SafeBytes();
        ASSERT_TRUE(ui::FinishListEdit(m_hList, "", false));
        EXPECT_TRUE(ui::WaitForWindowGone(hEditor, kShowTimeoutMs));
        EXPECT_EQ(ListText(m_hList, ui::ListSelected(m_hList)), expected) << "Escape keeps the default name";
        EXPECT_TRUE(SafeBytes() == bytes) << "the safe file changed";
        break;
    }
    case Shows::AskDelete: {
        ASSERT_FALSE(selected.empty());
        ui::Answer question({"#32770", nullptr, pid}, ui::PressId(IDNO), kShowTimeoutMs);
        ASSERT_NO_FATAL_FAILURE(Use(c));
        ASSERT_TRUE(question.Wait(kShowTimeoutMs)) << "no question";
        EXPECT_TRUE(Contains(question.Text(), "\"" + selected + "\"")) << question.Text();
        ui::Pump(200);
        EXPECT_EQ(ListTexts(m_hList), namesBefore) << "No keeps the entry";
        EXPECT_EQ(ui::ListSelected(m_hList), nSelected);
        EXPECT_TRUE(SafeBytes() == bytesBefore) << "the safe file changed";
        break;
    }
    case Shows::RenameEditor: {
        ASSERT_EQ(NameEditor(), nullptr);
        ASSERT_NO_FATAL_FAILURE(Use(c));
        HWND hEditor = nullptr;
        ASSERT_TRUE(ktxtest::WaitFor([&] { return (hEditor = NameEditor()) != nullptr; }, kShowTimeoutMs))
            << "no in-place editor";
        EXPECT_EQ(ui::TextOf(hEditor), selected);
        ASSERT_TRUE(ui::FinishListEdit(m_hList, "", false));
        EXPECT_TRUE(ui::WaitForWindowGone(hEditor, kShowTimeoutMs));
        EXPECT_EQ(ListTexts(m_hList), namesBefore) << "Escape keeps the name";
        EXPECT_TRUE(SafeBytes() == bytesBefore) << "the safe file changed";
        break;
    }
    case Shows::Generator: {
        ASSERT_NO_FATAL_FAILURE(Use(c));
        HWND hGenerator = ui::WaitForWindow({"TfrmPasswordManager", nullptr, pid}, kShowTimeoutMs);
        ASSERT_NE(hGenerator, nullptr) << "no password generator";
        ASSERT_TRUE(ui::PressButton(hGenerator, DLS_BTN_SCHLIESSEN()));
        EXPECT_TRUE(ui::WaitForWindowGone(hGenerator, kShowTimeoutMs));
        break;
    }
    case Shows::SaveDialog: {
        ui::Answer chooser({"#32770", DLS_TXT_SAVEDLG_TRESOR(), pid}, ui::PressId(IDCANCEL), kShowTimeoutMs);
        ASSERT_NO_FATAL_FAILURE(Use(c));
        ASSERT_TRUE(chooser.Wait(kShowTimeoutMs)) << "no save dialog";
        ui::Pump(200);
        EXPECT_EQ(ui::TextOf(m_hSafe), captionBefore);
        EXPECT_TRUE(SafeBytes() == bytesBefore) << "the safe file stays where it is";
        break;
    }
    case Shows::Move: {
        const std::string target = m_dir.File("Moved safe.xml");
        {
            ui::Answer chooser({"#32770", DLS_TXT_SAVEDLG_TRESOR(), pid}, ui::ChooseFile(target), kShowTimeoutMs);
            ASSERT_NO_FATAL_FAILURE(Use(c));
            ASSERT_TRUE(chooser.Wait(kShowTimeoutMs)) << "no save dialog";
        }
        EXPECT_TRUE(ktxtest::WaitFor([&] { return Contains(ui::TextOf(m_hSafe), "Moved safe"); }, kShowTimeoutMs))
            << "the caption names the moved file: " << ui::TextOf(m_hSafe);
        EXPECT_TRUE(ktxtest::ReadFileBytes(target) == bytesBefore) << "the safe file moved whole";
        EXPECT_FALSE(ktxtest::FileExists(m_safe));
        // Moved back the same way.
        {
            ui::Answer chooser({"#32770", DLS_TXT_SAVEDLG_TRESOR(), pid}, ui::ChooseFile(m_safe), kShowTimeoutMs);
            ASSERT_NO_FATAL_FAILURE(Use(c));
            ASSERT_TRUE(chooser.Wait(kShowTimeoutMs)) << "no save dialog";
        }
        EXPECT_TRUE(ktxtest::WaitFor([&] { return ui::TextOf(m_hSafe) == captionBefore; }, kShowTimeoutMs))
            << ui::TextOf(m_hSafe);
        EXPECT_TRUE(SafeBytes() == bytesBefore) << "the safe file changed";
        EXPECT_FALSE(ktxtest::FileExists(target));
        break;
    }
    case Shows::CertManager: {
        ASSERT_NO_FATAL_FAILURE(Use(c));
        HWND hManager = ui::WaitForWindow({"TfrmCertificateMgr", nullptr, pid}, kShowTimeoutMs);
        ASSERT_NE(hManager, nullptr) << "no certificate manager";
        EXPECT_EQ(GetWindow(hManager, GW_OWNER), m_hSafe) << "shown over the safe dialog";
        ASSERT_TRUE(ui::PressButton(hManager, DLS_DLG_BTN_CLOSE()));
        EXPECT_TRUE(ui::WaitForWindowGone(hManager, kShowTimeoutMs));
        break;
    }
    case Shows::NewPassword: {
        const std::string password = kNewPasswords[m_nPasswordChanges++ % 3];
        ui::Answer dialog({"TfrmInputPasswordChange", nullptr, pid}, [password](HWND hDlg) {
            ui::Type(ui::FindControlByClass(hDlg, "Edit", 0), password);
            ui::Type(ui::FindControlByClass(hDlg, "Edit", 1), password);
            return ui::PressButton(hDlg, DLS_DLG_BTN_OK());
        }, kShowTimeoutMs);
        ASSERT_NO_FATAL_FAILURE(Use(c));
        ASSERT_TRUE(dialog.Wait(kShowTimeoutMs)) << "no password change dialog";
        // The dialog is disabled while every entry is written anew.
        EXPECT_TRUE(ktxtest::WaitFor(
            [&] {
                return IsWindowEnabled(m_hSafe) && !ui::FindTopWindow({"TfrmDlgProgress", nullptr, pid}) &&
                       SafeBytes() != bytesBefore;
            },
            30000))
            << "the safe file was not written anew";
        EXPECT_TRUE(Contains(SafeBytes(), "LSVER300")) << "still a typed-password safe";
        EXPECT_EQ(ListTexts(m_hList), namesBefore);
        EXPECT_EQ(ui::TextOf(Field(0)), kUser) << "the entry reads under the new password";
        break;
    }
    case Shows::AskConvert: {
        ui::Answer question({"#32770", nullptr, pid}, ui::PressId(IDNO), kShowTimeoutMs);
        ASSERT_NO_FATAL_FAILURE(Use(c));
        ASSERT_TRUE(question.Wait(kShowTimeoutMs)) << "no question";
        EXPECT_TRUE(Contains(question.Text(), DLS_TXT_ASKCONVERT_SAFE())) << question.Text();
        ui::Pump(300);
        EXPECT_TRUE(SafeBytes() == bytesBefore) << "No converts nothing";
        EXPECT_TRUE(IsWindowVisible(Button(DLS_BTN_KONVERTIEREN())));
        EXPECT_TRUE(IsWindowVisible(Button(DLS_BTN_CHANGEPASSWORD())));
        break;
    }
    case Shows::Unmask: {
        HWND hPassword = Field(1);
        ASSERT_NE(SendMessageA(hPassword, EM_GETPASSWORDCHAR, 0, 0), 0) << "masked before";
        ASSERT_NO_FATAL_FAILURE(Use(c));
        EXPECT_TRUE(
            ktxtest::WaitFor([&] { return SendMessageA(hPassword, EM_GETPASSWORDCHAR, 0, 0) == 0; }, kShowTimeoutMs))
            << "the password is not shown in clear";
        ASSERT_NO_FATAL_FAILURE(Use(c));
        EXPECT_TRUE(
            ktxtest::WaitFor([&] { return SendMessageA(hPassword, EM_GETPASSWORDCHAR, 0, 0) != 0; }, kShowTimeoutMs))
            << "a second click masks it again";
        break;
    }
    case Shows::Browser:
    case Shows::Help: {
        const std::string lang = DLS_LANG_ID() == LS_LANG_GERMAN ? "de" : "en";
        const std::string expected =
            c.shows == Shows::Browser ? std::string(kURL) : ktxtest::ModuleDir() + "\\help\\" + lang + "\\22.html";
        StandInBrowser browser(m_dir.File(std::string("opened by ") + c.pszName + ".txt"));
        ASSERT_TRUE(browser.Registered());
        ASSERT_NO_FATAL_FAILURE(Use(c));
        EXPECT_EQ(Lower(browser.Opened(kShowTimeoutMs)), Lower(expected));
        HWND hBrowser = StandInBrowser::Window(kShowTimeoutMs);
        ASSERT_NE(hBrowser, nullptr) << "no browser window";
        EXPECT_EQ(Lower(ui::TextOf(hBrowser)), Lower(expected));
        EXPECT_TRUE(StandInBrowser::Close(kShowTimeoutMs));
        break;
    }
    case Shows::About: {
        ASSERT_NO_FATAL_FAILURE(Use(c));
        HWND hAbout = ui::WaitForWindow({"TfrmAbout", nullptr, pid}, kShowTimeoutMs);
        ASSERT_NE(hAbout, nullptr) << "no about box";
        std::string text;
        for (HWND h : ui::Controls(hAbout)) text += ui::TextOf(h) + "\n";
        EXPECT_TRUE(Contains(text, captionBefore + "\n")) << "the dialog's caption is the about text\n" << text;
        ASSERT_TRUE(ui::PressButton(hAbout, DLS_DLG_BTN_OK()));
        EXPECT_TRUE(ui::WaitForWindowGone(hAbout, kShowTimeoutMs));
        break;
    }
    case Shows::SafeLog: {
        const std::set<DWORD> before = ViewerProcesses();
        ASSERT_NO_FATAL_FAILURE(Use(c));
        HWND hViewer = nullptr;
        DWORD viewerPid = 0;
        ktxtest::WaitFor(
            [&] {
                for (DWORD p : ViewerProcesses()) {
                    if (before.count(p)) continue;
                    for (HWND h : ktxtest::TopLevelWindowsOf(p))
                        if (IsWindowVisible(h) && Contains(Lower(ui::TextOf(h)), "safe.log")) {
                            hViewer = h;
                            viewerPid = p;
                        }
                }
                return hViewer != nullptr;
            },
            kShowTimeoutMs);
        ASSERT_NE(hViewer, nullptr) << "no log viewer with the safe log";
        PostMessageA(hViewer, WM_CLOSE, 0, 0);
        EXPECT_TRUE(EndedOrEnd(viewerPid, kShowTimeoutMs)) << "the viewer did not close";
        break;
    }
    case Shows::End:
    case Shows::Nothing:
        FAIL() << "not used here";
    }
    CheckPutBack();
}

}  // namespace

// A safe protected by the user's certificate: changing its password and
// converting it are not offered; everything else is, and shows itself. The
// close button ends the program.
TEST_F(SafeControls, EveryControlOfACertificateSafeShowsWhatItDoes)
{
    RunEveryControl(kCertSafe, Via::Button, "ktsafe-controls-certificate-safe");
}

// An older safe opened with a typed password (made empty, filled through the
// dialog): its password is changed twice, the conversion is declined, and
// the popup menu's cancel ends the program.
TEST_F(SafeControls, EveryControlOfATypedPasswordSafeShowsWhatItDoes)
{
    TXmlAPI xml(nullptr);
    ASSERT_TRUE(xml.New("LSVER300"));
    ASSERT_TRUE(xml.Write(m_safe.c_str(), nullptr));
    RunEveryControl(kTypedSafe, Via::Popup, "ktsafe-controls-typed-password-safe");
}
