// The safe dialog's field actions, driven as a user drives them, with real
// windows and a real safe file: the password shown in clear, the URL checked
// when the field is left and opened in the browser, a field's value dragged
// into a drop target (also in another process), the password generator, and
// the buttons for the certificate manager, help, about box and safe log.
// The browser is a stand-in of ours registered with the shell, so what the
// shell was asked to open is known.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "StandInBrowser.h"
#include "KTXLANG.h"
#include "LSStr.h"
#include "SafeStoreFixture.h"
#include "SafeUnlockFixture.h"
#include "TestSupport.h"
#include "UiDriver.h"

using namespace safetest;
namespace ui = ktxtest::ui;
using ktxtest::KeyExists;
using ktxtest::StandInBrowser;
using ktxtest::kBrowserClass;

namespace {

constexpr char kPassword[] = "Winter 2025#";
// How long a test waits to be sure no message box comes.
constexpr DWORD kNoBoxMs = 1500;

const EntryFields kAlpha = {"alice", "a-secret", "https://a.example", "note a"};
const EntryFields kBeta = {"bob", "b-secret", "https://b.example", "line 1\r\nline 2"};
const EntryFields kEmpty = {"", "", "", ""};

std::string Lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// ---------------------------------------------------------------------------
// The stand-in browser
// ---------------------------------------------------------------------------

// The default value of a key as text ("" when there is none).
std::string DefaultValue(HKEY hRoot, const std::string& path)
{
    char sz[1024] = {};
    LONG cb = sizeof(sz);
    return RegQueryValueA(hRoot, path.c_str(), sz, &cb) == ERROR_SUCCESS ? std::string(sz) : std::string();
}

// ---------------------------------------------------------------------------
// A drop target of the test's thread
// ---------------------------------------------------------------------------

// Takes every drag as a copy and keeps the text dropped on it.
class TextDropTarget : public IDropTarget {
public:
    int nDrops = 0;
    std::string text;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropTarget)) {
            *ppv = static_cast<IDropTarget*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD* pdwEffect) override
    {
        *pdwEffect = DROPEFFECT_COPY;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* pdwEffect) override
    {
        *pdwEffect = DROPEFFECT_COPY;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* pData, DWORD, POINTL, DWORD* pdwEffect) override
    {
        ++nDrops;
        FORMATETC fmt = {CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium = {};
        if (SUCCEEDED(pData->GetData(&fmt, &medium))) {
            text = static_cast<const char*>(GlobalLock(medium.hGlobal));
            GlobalUnlock(medium.hGlobal);
            ReleaseStgMedium(&medium);
        }
        *pdwEffect = DROPEFFECT_COPY;
        return S_OK;
    }
};

POINT CenterOnScreen(HWND hWnd)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

// Real pointer input, as the mouse gives it.
void SendMouse(DWORD dwFlags, POINT pt = POINT{0, 0})
{
    INPUT in = {};
    in.type = INPUT_MOUSE;
    if (dwFlags & MOUSEEVENTF_MOVE) {
        const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
        in.mi.dx = static_cast<LONG>((pt.x * 65535LL + cx / 2) / (cx - 1));
        in.mi.dy = static_cast<LONG>((pt.y * 65535LL + cy / 2) / (cy - 1));
        dwFlags |= MOUSEEVENTF_ABSOLUTE;
    }
    in.mi.dwFlags = dwFlags;
    SendInput(1, &in, sizeof(in));
}

// The text a copy command of the edit puts on the clipboard (a marker stays
// there when it copies nothing). The clipboard is emptied afterwards.
std::string CopiedText(HWND hEdit)
{
    const char kMarker[] = "nothing copied";
    if (!OpenClipboard(nullptr)) return "clipboard not available";
    EmptyClipboard();
    HGLOBAL hMarker = GlobalAlloc(GMEM_MOVEABLE, sizeof(kMarker));
    memcpy(GlobalLock(hMarker), kMarker, sizeof(kMarker));
    GlobalUnlock(hMarker);
    SetClipboardData(CF_TEXT, hMarker);
    CloseClipboard();

    SendMessageA(hEdit, EM_SETSEL, 0, -1);
    SendMessageA(hEdit, WM_COPY, 0, 0);

    std::string text;
    if (OpenClipboard(nullptr)) {
        if (HANDLE hData = GetClipboardData(CF_TEXT)) {
            if (const char* psz = static_cast<const char*>(GlobalLock(hData))) text = psz;
            GlobalUnlock(hData);
        }
        EmptyClipboard();
        CloseClipboard();
    }
    return text;
}

// ---------------------------------------------------------------------------
// The dialog shown with a safe of its own, as the user's thread runs it
// ---------------------------------------------------------------------------

class SafeActions : public SafeStoreFixture {
protected:
    void SetUp() override
    {
        SafeStoreFixture::SetUp();
        ASSERT_NE(m_pDlg->hCrypt, nullptr);
        ASSERT_TRUE(m_pDlg->bClassInitOK);
        LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), kPassword);
        ASSERT_TRUE(m_pDlg->DoLoadPassSequenz(kPassword));
        NewSafe();
        AddEntry("Alpha", kAlpha);
        AddEntry("Beta", kBeta);
        AddEntry("Empty", kEmpty);
        ShowAndStart();
        // A place of its own, apart from drop targets and browsers.
        m_pDlg->SetBounds(40, 40, m_pDlg->Width(), m_pDlg->Height());
        SetForegroundWindow(m_pDlg->Handle());
        ui::Pump(100);
    }

    HWND List() { return m_pDlg->lstvBezeichnung->Handle(); }

    // An entry stored in the file with these fields and listed, not selected.
    void AddEntry(const std::string& name, const EntryFields& f)
    {
        ASSERT_TRUE(m_pDlg->DoAddSafe(name.c_str()));
        TListItem* pItem = m_pDlg->lstvBezeichnung->Items()->Add(name);
        ShowFields(f);
        ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, m_pDlg->nCryptMode));
        ShowFields(kEmpty);
    }

    void ShowFields(const EntryFields& f)
    {
        m_pDlg->editBenutzername->SetTextBuf(f.user.c_str());
        m_pDlg->editPasswort->SetTextBuf(f.password.c_str());
        m_pDlg->editURL->SetTextBuf(f.url.c_str());
        m_pDlg->memoSafe->SetTextBuf(f.note.c_str());
    }

    EntryFields Shown()
    {
        return {EditText(m_pDlg->editBenutzername), EditText(m_pDlg->editPasswort), EditText(m_pDlg->editURL),
                EditText(m_pDlg->memoSafe)};
    }

    // Selects an entry as a user clicking it does.
    void Select(const std::string& name)
    {
        TListItem* pItem = m_pDlg->lstvBezeichnung->FindCaption(0, name);
        ASSERT_NE(pItem, nullptr) << name;
        ASSERT_TRUE(ui::SelectListItem(List(), pItem->Index()));
    }

    // What the file holds for an entry: the document read again from the
    // file and the entry decrypted into the fields (with nothing selected).
    EntryFields Stored(const std::string& name)
    {
        m_pDlg->lstvBezeichnung->SetSelected(nullptr);
        EXPECT_TRUE(m_pDlg->pXml->Init(m_safePath.c_str()));
        TListItem* pItem = m_pDlg->lstvBezeichnung->FindCaption(0, name);
        EXPECT_NE(pItem, nullptr) << name;
        if (!pItem) return {};
        EXPECT_TRUE(m_pDlg->DoDecCryptItem(pItem, m_pDlg->nCryptMode));
        return Shown();
    }
};

// ---------------------------------------------------------------------------
// Password display
// ---------------------------------------------------------------------------

TEST_F(SafeActions, ThePasswordShownInClearStaysSoForTheNextEntryAndASecondClickMasksItAgain)
{
    TEdit* pPassword = m_pDlg->editPasswort;
    const HWND hPassword = pPassword->Handle();
    const HWND hButton = m_pDlg->btnPasswortSichtbar->Handle();
    Select("Alpha");
    EXPECT_EQ(pPassword->PasswordChar(), '*');
    EXPECT_NE(SendMessageA(hPassword, EM_GETPASSWORDCHAR, 0, 0), 0);
    EXPECT_EQ(m_pDlg->btnPasswortSichtbar->Hint(), DLS_HINT_PASSWORT_KLAR());
    EXPECT_EQ(CopiedText(hPassword), "nothing copied") << "a masked password is never copied";

    ASSERT_TRUE(ui::Click(hButton));
    EXPECT_EQ(pPassword->PasswordChar(), '\0');
    EXPECT_EQ(SendMessageA(hPassword, EM_GETPASSWORDCHAR, 0, 0), 0);
    EXPECT_EQ(m_pDlg->btnPasswortSichtbar->Hint(), DLS_HINT_PASSWORT_VERSTECKT());
    EXPECT_EQ(CopiedText(hPassword), kAlpha.password) << "shown in clear, it can be copied";

    // The display belongs to the dialog, not to the entry.
    Select("Beta");
    EXPECT_EQ(ui::TextOf(hPassword), kBeta.password);
    EXPECT_EQ(pPassword->PasswordChar(), '\0');
    EXPECT_EQ(SendMessageA(hPassword, EM_GETPASSWORDCHAR, 0, 0), 0);
    EXPECT_EQ(m_pDlg->btnPasswortSichtbar->Hint(), DLS_HINT_PASSWORT_VERSTECKT());

    ASSERT_TRUE(ui::Click(hButton));
    EXPECT_EQ(pPassword->PasswordChar(), '*');
    EXPECT_NE(SendMessageA(hPassword, EM_GETPASSWORDCHAR, 0, 0), 0);
    EXPECT_EQ(m_pDlg->btnPasswortSichtbar->Hint(), DLS_HINT_PASSWORT_KLAR());
    EXPECT_EQ(CopiedText(hPassword), "nothing copied");
    EXPECT_EQ(ui::TextOf(hPassword), kBeta.password) << "only the display changed";
}

// ---------------------------------------------------------------------------
// URL
// ---------------------------------------------------------------------------

TEST_F(SafeActions, LeavingTheURLFieldChecksTheAddress)
{
    struct Case {
        const char* pszName;
        const char* pszTyped;      // null: the entry's own URL, only looked at
        bool bNotice;              // told, and the focus goes back into the field
        const char* pszShownAfter;
        bool bStored;              // leaving the entry writes it, with pszShownAfter as its URL
    };
    const Case cases[] = {
        {"a usable URL only looked at", nullptr, false, "https://a.example", false},
        {"a bare host name typed becomes an https URL", "www.example.org/login", false,
         "https://www.example.org/login", true},
        {"a usable URL typed", "https://c.example/x?y=1", false, "https://c.example/x?y=1", true},
        {"an emptied field", "", false, "", true},
        {"a script", "javascript:alert(1)", true, "javascript:alert(1)", false},
        {"a program's path", "C:\\Windows\\notepad.exe", true, "C:\\Windows\\notepad.exe", false},
    };
    const HWND hURL = m_pDlg->editURL->Handle();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        // The entry as the file holds it, untouched.
        m_pDlg->lstvBezeichnung->SetSelected(nullptr);
        Select("Alpha");
        ASSERT_EQ(Shown().password, kAlpha.password);
        const std::string before = FileBytes();

        ASSERT_TRUE(ui::Focus(hURL));
        if (c.pszTyped) {
            ASSERT_TRUE(ui::Type(hURL, c.pszTyped));
        }
        {
            ui::Answer notice({"#32770"}, ui::PressId(IDOK), c.bNotice ? ui::kDefaultTimeoutMs : kNoBoxMs);
            // The user goes on to the note.
            ASSERT_TRUE(ui::Focus(m_pDlg->memoSafe->Handle()) || c.bNotice);
            if (c.bNotice) {
                ASSERT_TRUE(notice.Wait());
                EXPECT_TRUE(Contains(notice.Text(), DLS_TXT_REAL_URL())) << notice.Text();
            } else {
                ui::Pump(kNoBoxMs);
                EXPECT_FALSE(notice.Answered()) << notice.Text();
            }
        }
        ui::Pump(100);
        EXPECT_EQ(ui::TextOf(hURL), c.pszShownAfter);
        EXPECT_EQ(GetFocus() == hURL, c.bNotice);
        if (c.bNotice) {
            // The user corrects the address, and the entry is left as it was.
            ASSERT_TRUE(ui::Type(hURL, kAlpha.url));
            continue;
        }

        Select("Beta");
        EXPECT_EQ(FileBytes() != before, c.bStored);
        EXPECT_EQ(Stored("Alpha"), (EntryFields{kAlpha.user, kAlpha.password, c.pszShownAfter, kAlpha.note}));
    }
}

TEST_F(SafeActions, TheBrowserButtonOpensOnlyAUsableAddress)
{
    struct Case {
        const char* pszName;
        const char* pszField;
        const char* pszOpened;   // null: nothing is opened, the user is told
    };
    const Case cases[] = {
        {"a web address", "https://example.com/login?next=/home", "https://example.com/login?next=/home"},
        {"a bare host name, as https", "www.example.org", "https://www.example.org"},
        {"a plain http address", "http://intranet.example:8080/", "http://intranet.example:8080/"},
        {"a script", "javascript:alert(1)", nullptr},
        {"a program's path", "C:\\Windows\\notepad.exe", nullptr},
        {"a local file URL", "file:///C:/Windows/notepad.exe", nullptr},
        {"an empty field", "", nullptr},
    };
    ktxtest::TempDir dir;
    const std::string shellHandler = DefaultValue(HKEY_CLASSES_ROOT, "http\\shell\\open\\command");
    const bool bUserHandler = KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\http");
    const HWND hURL = m_pDlg->editURL->Handle();
    const HWND hButton = m_pDlg->btnBrowserOeffnen->Handle();
    Select("Alpha");
    ASSERT_TRUE(m_pDlg->btnBrowserOeffnen->Enabled());
    int nCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        // A record file of its own per case: a browser of the case before
        // may still be writing.
        const std::string record = dir.File("opened-" + std::to_string(++nCase) + ".txt");
        StandInBrowser browser(record);
        ASSERT_TRUE(browser.Registered());
        ASSERT_TRUE(ui::SetText(hURL, c.pszField));
        const size_t nViewers = ViewerProcesses().size();

        ui::Answer notice({"#32770"}, ui::PressId(IDOK), c.pszOpened ? kNoBoxMs : ui::kDefaultTimeoutMs);
        ASSERT_TRUE(ui::Click(hButton));
        if (c.pszOpened) {
            EXPECT_EQ(browser.Opened(15000), c.pszOpened);
            const HWND hBrowser = StandInBrowser::Window(10000);
            ASSERT_NE(hBrowser, nullptr) << "no browser window";
            EXPECT_EQ(ui::TextOf(hBrowser), c.pszOpened);
            EXPECT_FALSE(notice.Answered());
        } else {
            ASSERT_TRUE(notice.Wait());
            EXPECT_TRUE(Contains(notice.Text(), DLS_TXT_REAL_URL())) << notice.Text();
            ui::Pump(kNoBoxMs);
            EXPECT_EQ(browser.Opened(0), "");
            EXPECT_EQ(StandInBrowser::Window(0), nullptr);
            EXPECT_EQ(ViewerProcesses().size(), nViewers) << "the shell started a program";
        }
        EXPECT_EQ(ui::TextOf(hURL), c.pszField) << "opening leaves the field as it is";
    }
    // The stand-in is gone again.
    EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, "http\\shell\\open\\command"), shellHandler);
    EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\http"), bUserHandler);
}

// ---------------------------------------------------------------------------
// Dragging a field's value
// ---------------------------------------------------------------------------

TEST_F(SafeActions, AFieldsValueIsDraggedOnlyOnceThePointerHasMovedFarEnough)
{
    enum Field { kUser, kPasswordField, kURL, kNote };
    struct Case {
        const char* pszName;
        const char* pszEntry;    // the entry shown
        Field field;
        int nWidth;              // of the field
        POINT press, move;       // in the field
        bool bRight;             // the right button went down
        WPARAM mkHeld;           // buttons held while moving
        bool bDrag;
    };
    const Case cases[] = {
        {"10 pixels straight down", "Alpha", kUser, 200, {100, 8}, {100, 18}, false, MK_LBUTTON, true},
        {"9 pixels down", "Alpha", kUser, 200, {100, 8}, {100, 17}, false, MK_LBUTTON, false},
        {"10 pixels up", "Alpha", kUser, 200, {100, 15}, {100, 5}, false, MK_LBUTTON, true},
        {"right to 124 from 50", "Alpha", kUser, 200, {50, 8}, {124, 8}, false, MK_LBUTTON, false},
        {"right to 125 from 50", "Alpha", kUser, 200, {50, 8}, {125, 8}, false, MK_LBUTTON, true},
        {"right out of the field", "Alpha", kUser, 200, {50, 8}, {230, 8}, false, MK_LBUTTON, true},
        {"right to 125 in a wider field", "Alpha", kUser, 300, {50, 8}, {125, 8}, false, MK_LBUTTON, false},
        {"right to 175 in a wider field", "Alpha", kUser, 300, {50, 8}, {175, 8}, false, MK_LBUTTON, true},
        {"left to the field's edge", "Alpha", kUser, 200, {50, 8}, {0, 8}, false, MK_LBUTTON, false},
        {"left out of the field", "Alpha", kUser, 200, {50, 8}, {-300, 9}, false, MK_LBUTTON, false},
        {"far down with the right button", "Alpha", kUser, 200, {100, 8}, {100, 40}, true, MK_RBUTTON, false},
        {"far down with no button held", "Alpha", kUser, 200, {100, 8}, {100, 40}, false, 0, false},
        {"far down in an empty field", "Empty", kUser, 200, {100, 8}, {100, 40}, false, MK_LBUTTON, true},
        // The other fields drag alike; the masked password goes in clear.
        {"the password, 10 pixels down", "Alpha", kPasswordField, 200, {100, 8}, {100, 18}, false, MK_LBUTTON, true},
        {"the URL, right to 124 from 50", "Alpha", kURL, 200, {50, 8}, {124, 8}, false, MK_LBUTTON, false},
        {"the URL, right to 125 from 50", "Alpha", kURL, 200, {50, 8}, {125, 8}, false, MK_LBUTTON, true},
        {"the note, 9 pixels down", "Beta", kNote, 200, {100, 8}, {100, 17}, false, MK_LBUTTON, false},
        {"the note, 10 pixels down", "Beta", kNote, 200, {100, 8}, {100, 18}, false, MK_LBUTTON, true},
    };

    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    TextDropTarget target;
    // A window of a class of its own: a static control lets the pointer
    // through to whatever lies below it.
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "KTXTestFieldDropTarget";
    RegisterClassA(&wc);
    const HWND hTarget = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "drop here", WS_POPUP | WS_VISIBLE | WS_BORDER,
                                         900, 600, 200, 150, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hTarget, nullptr);
    ASSERT_EQ(RegisterDragDrop(hTarget, &target), S_OK);

    TEdit* const apFields[] = {m_pDlg->editBenutzername, m_pDlg->editPasswort, m_pDlg->editURL, m_pDlg->memoSafe};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        TEdit* pField = apFields[c.field];
        const HWND hField = pField->Handle();
        Select(c.pszEntry);
        pField->SetWidth(c.nWidth);
        pField->SetSelStart(0);
        pField->SetSelLength(0);
        target.nDrops = 0;
        target.text.clear();
        // A drag that starts is dropped at once where the pointer is (no
        // button is really held): over the drop target.
        const POINT ptTarget = CenterOnScreen(hTarget);
        SetCursorPos(ptTarget.x, ptTarget.y);
        ui::Pump(50);

        ui::MouseDown(hField, c.press.x, c.press.y, c.bRight);
        EXPECT_TRUE(m_pDlg->bMouseDown);
        EXPECT_EQ(m_pDlg->nMouseX, c.press.x);
        EXPECT_EQ(m_pDlg->nMouseY, c.press.y);
        ui::MouseMove(hField, c.move.x, c.move.y, c.mkHeld);
        ui::Pump(50);

        const std::string text = EditText(pField);
        if (c.bDrag) {
            EXPECT_EQ(m_pDlg->nMouseX, -1) << "a started drag uses the press point up";
            EXPECT_EQ(pField->SelStart(), 0);
            EXPECT_EQ(pField->SelLength(), static_cast<int>(text.size())) << "the whole text is selected";
            // An empty field starts no drag at all.
            EXPECT_EQ(target.nDrops, text.empty() ? 0 : 1);
            EXPECT_EQ(target.text, text);
        } else {
            EXPECT_EQ(m_pDlg->nMouseX, c.press.x);
            EXPECT_EQ(target.nDrops, 0);
        }
        EXPECT_TRUE(m_pDlg->bMouseDown) << "only a button coming up ends it";
        // Left up: a right button coming up would open the field's own menu.
        ui::MouseUp(hField, c.move.x, c.move.y, false);
        EXPECT_FALSE(m_pDlg->bMouseDown);
        EXPECT_EQ(m_pDlg->nMouseX, c.move.x);
        EXPECT_EQ(EditText(pField), text) << "the value is copied, never moved";
    }

    RevokeDragDrop(hTarget);
    DestroyWindow(hTarget);
    OleUninitialize();
}

TEST_F(SafeActions, TheMaskedPasswordIsDraggedInClearIntoAnotherProgram)
{
    Select("Alpha");
    TEdit* pPassword = m_pDlg->editPasswort;
    ASSERT_EQ(pPassword->PasswordChar(), '*');

    // The drop target of another process, beside the dialog.
    ktxtest::TempDir dir;
    const std::string report = dir.File("report.txt");
    ktxtest::ChildProcess targetProcess;
    ASSERT_TRUE(targetProcess.Start("dragdrop_target.exe", "\"" + report + "\" copy 800 500 240 200"));
    HWND hTarget = nullptr;
    ASSERT_TRUE(ktxtest::WaitFor(
        [&] {
            const auto wins = ktxtest::TopLevelWindowsOf(targetProcess.Pid(), "KTXTestDropTarget");
            hTarget = wins.empty() ? nullptr : wins[0];
            return hTarget && IsWindowVisible(hTarget);
        },
        15000));
    SetForegroundWindow(m_pDlg->Handle());
    ui::Pump(200);

    // Pressed on the password, moved down out of it (the drag starts), over
    // to the target and released there.
    const POINT ptField = CenterOnScreen(pPassword->Handle());
    const POINT ptTarget = CenterOnScreen(hTarget);
    std::thread input([=] {
        SendMouse(MOUSEEVENTF_MOVE, ptField);
        Sleep(150);
        SendMouse(MOUSEEVENTF_LEFTDOWN);
        Sleep(150);
        SendMouse(MOUSEEVENTF_MOVE, POINT{ptField.x, ptField.y + 12});
        Sleep(150);
        const int kSteps = 8;
        for (int i = 1; i <= kSteps; ++i) {
            SendMouse(MOUSEEVENTF_MOVE, POINT{ptField.x + (ptTarget.x - ptField.x) * i / kSteps,
                                              ptField.y + 12 + (ptTarget.y - ptField.y - 12) * i / kSteps});
            Sleep(80);
        }
        SendMouse(MOUSEEVENTF_MOVE, POINT{ptTarget.x + 3, ptTarget.y + 3});
        Sleep(300);
        SendMouse(MOUSEEVENTF_LEFTUP);
    });
    DWORD dwExit = 1;
    const bool bEnded = ktxtest::WaitFor([&] { return targetProcess.Wait(0, &dwExit); }, 20000);
    input.join();
    ASSERT_TRUE(bEnded) << "nothing was dropped on the target";
    EXPECT_EQ(dwExit, 0u);

    const std::string rep = ktxtest::ReadFileBytes(report);
    EXPECT_TRUE(Contains(rep, "enter 1\n")) << rep;          // offered as a copy
    EXPECT_TRUE(Contains(rep, "drop 1 00000000\n")) << rep;  // taken as text
    EXPECT_TRUE(Contains(rep, std::string("text ") + kAlpha.password + "\n")) << rep;
    EXPECT_EQ(m_pDlg->nMouseX, -1);
    EXPECT_EQ(pPassword->PasswordChar(), '*') << "the field stays masked";
    EXPECT_EQ(EditText(pPassword), kAlpha.password);
    EXPECT_EQ(pPassword->SelLength(), static_cast<int>(kAlpha.password.size()));
}

// ---------------------------------------------------------------------------
// The safe opened the way the program opens it
// ---------------------------------------------------------------------------

class SafeActionsRun : public SafeUnlockFixture {
protected:
    void SetUp() override
    {
        SafeUnlockFixture::SetUp();
        ChooseCertificate();
    }
};

TEST_F(SafeActionsRun, AGeneratedPasswordTakenIntoTheEntryIsThereWhenTheSafeIsOpenedAgain)
{
    WriteSafe({{"Alpha", kAlpha}, {"Beta", kBeta}});
    bool bMenuShows = false, bMenuCloses = false, bButtonShows = false, bAsked = false;
    std::string question, taken;
    bool bCancel = false;
    Open(&bCancel, [&](HWND hDlg) {
        TfrmPasswordManager* pGen = m_pDlg->pPasswordManager;
        const HWND hGen = pGen->Handle();
        auto shown = [&] { return ktxtest::WaitFor([&] { return IsWindowVisible(hGen) != FALSE; }, 10000); };

        // The list's popup menu shows the generator; its close button hides it.
        bMenuShows = ui::ChooseContextMenuItem(m_pDlg->lstvBezeichnung->Handle(), DLS_PUM_KEY_GENERATOR()) && shown();
        ui::PostClick(pGen->btnClose->Handle());
        bMenuCloses = ui::WaitForWindowGone(hGen);

        // So does the tool bar's button; the user makes a password with the
        // mouse over the generator's picture and takes it.
        ui::PostClick(m_pDlg->btnKeyGenerator->Handle());
        bButtonShows = shown();
        const std::string before = ui::TextOf(m_pDlg->editPasswort->Handle());
        ui::PostClick(pGen->btnCreatPwd->Handle());
        ui::Answer ask({"#32770"}, ui::PressId(IDYES), 60000);
        const int x0 = pGen->img_qov_PassGen->Left(), y0 = pGen->img_qov_PassGen->Top();
        const int w = pGen->img_qov_PassGen->Width(), h = pGen->img_qov_PassGen->Height();
        for (int i = 0; !ask.Window() && i < 3000; ++i) {
            PostMessageA(hGen, WM_MOUSEMOVE, 0, MAKELPARAM(x0 + 5 + (i * 37) % (w - 10), y0 + 5 + (i * 23) % (h - 10)));
            Sleep(20);
        }
        bAsked = ask.Wait(30000);
        question = ask.Text();
        ktxtest::WaitFor([&] { return ui::TextOf(m_pDlg->editPasswort->Handle()) != before; }, 5000);
        taken = ui::TextOf(m_pDlg->editPasswort->Handle());
        ui::WaitForWindowGone(hGen);
        return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
    });
    EXPECT_TRUE(m_bShown);
    EXPECT_TRUE(bMenuShows);
    EXPECT_TRUE(bMenuCloses);
    EXPECT_TRUE(bButtonShows);
    ASSERT_TRUE(bAsked) << "no password was offered";
    ASSERT_EQ(taken.size(), 8u) << "the generator's length: " << taken;
    EXPECT_TRUE(Contains(question, taken)) << question;

    // Taken into the entry, it is the user's change: stored when the dialog
    // closed, and found there when the safe is opened again.
    Recreate();
    EntryFields shown;
    Open(&bCancel, [&](HWND hDlg) {
        shown = ShownFields();
        return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
    });
    EXPECT_TRUE(m_bShown);
    EXPECT_EQ(shown, (EntryFields{kAlpha.user, taken, kAlpha.url, kAlpha.note}));
}

TEST_F(SafeActionsRun, TheCertificateManagerHelpAboutAndLogButtonsEachShowTheirWindow)
{
    WriteSafe({{"Alpha", kAlpha}});
    ktxtest::TempDir dir;
    StandInBrowser browser(dir.File("help.txt"));
    ASSERT_TRUE(browser.Registered());

    struct Seen {
        HWND hWindow = nullptr;
        bool bOwned = false;      // a window of the dialog (library dialogs)
        std::string text;         // caption and texts as shown
        bool bClosed = false;
    };
    Seen certMgr, about, help, log;
    std::string caption, helpOpened;
    bool bCancel = false;
    Open(&bCancel, [&](HWND hDlg) {
        caption = ui::TextOf(hDlg);
        // A modal library dialog: shown over the safe dialog, closed with its button.
        auto library = [&](HWND hButton, const char* pszClass, const char* pszClose, Seen* pSeen) {
            ui::PostClick(hButton);
            pSeen->hWindow = ui::WaitForWindow({pszClass});
            if (!pSeen->hWindow) return;
            pSeen->bOwned = GetWindow(pSeen->hWindow, GW_OWNER) == hDlg;
            for (HWND h : ui::Controls(pSeen->hWindow)) pSeen->text += ui::TextOf(h) + "\n";
            ui::PressButton(pSeen->hWindow, pszClose);
            pSeen->bClosed = ui::WaitForWindowGone(pSeen->hWindow);
        };
        library(m_pDlg->btnCertMgr->Handle(), "TfrmCertificateMgr", DLS_DLG_BTN_CLOSE(), &certMgr);
        library(m_pDlg->btnAbout->Handle(), "TfrmAbout", DLS_DLG_BTN_OK(), &about);

        // Help: the browser shows the dialog's page.
        ui::PostClick(m_pDlg->btnHilfe->Handle());
        helpOpened = browser.Opened(15000);
        help.hWindow = StandInBrowser::Window(10000);
        if (help.hWindow) {
            help.text = ui::TextOf(help.hWindow);
            PostMessageA(help.hWindow, WM_CLOSE, 0, 0);
            help.bClosed = ui::WaitForWindowGone(help.hWindow);
        }

        // The safe log in the viewer.
        ui::PostClick(m_pDlg->btnLogFile->Handle());
        ktxtest::WaitFor(
            [&] {
                for (DWORD pid : ViewerProcesses())
                    for (HWND h : ktxtest::TopLevelWindowsOf(pid))
                        if (IsWindowVisible(h) && !ui::TextOf(h).empty()) log.hWindow = h;
                return log.hWindow != nullptr;
            },
            15000);
        if (log.hWindow) {
            log.text = ui::TextOf(log.hWindow);
            PostMessageA(log.hWindow, WM_CLOSE, 0, 0);
            log.bClosed = ui::WaitForWindowGone(log.hWindow);
        }
        return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
    });
    EXPECT_TRUE(m_bShown);

    ASSERT_NE(certMgr.hWindow, nullptr) << "no certificate manager";
    EXPECT_TRUE(certMgr.bOwned);
    EXPECT_TRUE(certMgr.bClosed);

    ASSERT_NE(about.hWindow, nullptr) << "no about box";
    EXPECT_TRUE(about.bOwned);
    EXPECT_TRUE(Contains(about.text, caption + "\n")) << "the dialog's caption is the about text\n" << about.text;
    EXPECT_TRUE(about.bClosed);

    const std::string page = Lower(ktxtest::ModuleDir() + "\\help\\en\\22.html");
    EXPECT_EQ(Lower(helpOpened), page);
    ASSERT_NE(help.hWindow, nullptr) << "no browser with the help page";
    EXPECT_EQ(Lower(help.text), page);
    EXPECT_TRUE(help.bClosed);

    ASSERT_NE(log.hWindow, nullptr) << "no log viewer";
    EXPECT_TRUE(Contains(Lower(log.text), "safe.log")) << log.text;
    EXPECT_TRUE(log.bClosed);
}

}  // namespace
