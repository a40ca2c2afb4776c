// The safe dialog driven with the keyboard, opened as the program opens it:
// the keys are posted to the focused control from a helper thread and go
// through the toolkit's dispatch in the dialog's modal run. Delete in the
// list, a new entry named in place, Enter in the note, Escape in the fields
// and in the name editor, and the way the focus starts and moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "KTXLANG.h"
#include "LSStr.h"
#include "SafeUnlockFixture.h"
#include "TestSupport.h"

#include <commctrl.h>

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

const EntryFields kAlpha = {"alice", "a-secret", "https://a.example", "note a"};
const EntryFields kBeta = {"bob", "b-secret", "https://b.example", "line 1\r\nline 2"};
const EntryFields kNone = {"", "", "", ""};

// Waits without pumping (the dialog's own thread does) until pred holds.
bool WaitTrue(const std::function<bool()>& pred, DWORD timeoutMs = 10000)
{
    const DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

// The control that has the keyboard focus in the thread of hWnd.
HWND FocusOf(HWND hWnd)
{
    GUITHREADINFO gti{};
    gti.cbSize = sizeof(gti);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(hWnd, nullptr), &gti)) return nullptr;
    return gti.hwndFocus;
}

// The name editor of the list, or null.
HWND Editor(HWND hList)
{
    return reinterpret_cast<HWND>(SendMessageA(hList, LVM_GETEDITCONTROL, 0, 0));
}

std::vector<std::string> ListNames(HWND hList)
{
    std::vector<std::string> names;
    for (int i = 0; i < ui::ListCount(hList); ++i) names.push_back(ui::ListItemText(hList, i));
    return names;
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return "{" + text + "}";
}

// Answers the next message box with the button nId, as a user would; its
// text goes to pText. False when none came or it did not go.
bool AnswerBox(int nId, std::string* pText)
{
    HWND hBox = nullptr;
    if (!WaitTrue([&] {
            hBox = ui::FindTopWindow({"#32770"});
            return hBox && GetDlgItem(hBox, nId);
        }))
        return false;
    Sleep(50);
    pText->clear();
    for (HWND h : ui::Controls(hBox))
        if (lstrcmpiA(ui::ClassOf(h).c_str(), "Static") == 0) *pText += ui::TextOf(h) + "\n";
    // A click on a box that has only just appeared is lost now and then.
    for (int i = 0; i < 40; ++i) {
        if (i < 3) ui::PressButtonId(hBox, nId);
        else SendMessageA(GetDlgItem(hBox, nId), BM_CLICK, 0, 0);
        if (WaitTrue([&] { return !IsWindow(hBox) || !IsWindowVisible(hBox); }, 300)) return true;
    }
    return false;
}

class SafeKeys : public SafeUnlockFixture {
protected:
    void SetUp() override
    {
        SafeUnlockFixture::SetUp();
        ChooseCertificate();
    }

    HWND List() const { return m_pDlg->lstvBezeichnung->Handle(); }

    // The question the delete button asks for an entry.
    static std::string DeleteQuestion(const std::string& name)
    {
        char sz[LS_TEXT_SIZE] = {};
        LSStrFormat(sz, sizeof(sz), DLS_TXT_FRAGE_DEL(), name.c_str());
        return sz;
    }

    // The entries of the safe in list order, each with its fields as the
    // dialog shows them, read by opening the safe again.
    std::vector<SafeEntry> StoredEntries()
    {
        Recreate();
        std::vector<SafeEntry> entries;
        bool bCancel = false;
        EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
            const HWND hList = m_pDlg->lstvBezeichnung->Handle();
            for (int i = 0; i < ui::ListCount(hList); ++i) {
                ui::SelectListItem(hList, i);
                entries.push_back({ui::ListItemText(hList, i), ShownFields()});
            }
            return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
        }));
        return entries;
    }
};

// ---------------------------------------------------------------------------
// The keys of the dialog
// ---------------------------------------------------------------------------

TEST_F(SafeKeys, EachKeyDoesWhatTheUserExpects)
{
    const std::string newEntry = DLS_TXT_NEW_ENTRY();
    struct Case {
        const char* what;
        std::vector<SafeEntry> before;
        // The user's keys in the open dialog (on a helper thread): what went
        // otherwise than it should, empty when all went well.
        std::function<std::string(HWND hDlg)> keys;
        bool bKeysClose;                 // the keys close the dialog themselves
        std::vector<SafeEntry> after;    // the safe's entries afterwards, in list order
    };
    const Case cases[] = {
        {"Delete in the list, agreed",
         {{"Alpha", kAlpha}, {"Beta", kBeta}},
         [&](HWND hDlg) -> std::string {
             ui::PressKey(FocusOf(hDlg), VK_DOWN);
             if (!WaitTrue([&] { return ui::ListSelected(List()) == 1; })) return "the arrow key did not select Beta";
             ui::PressKey(FocusOf(hDlg), VK_DELETE);
             std::string text;
             if (!AnswerBox(IDYES, &text)) return "no question came";
             if (text.find(DeleteQuestion("Beta")) == std::string::npos) return "the question was: " + text;
             if (!WaitTrue([&] { return ListNames(List()) == std::vector<std::string>{"Alpha"}; }))
                 return "the list shows " + Joined(ListNames(List()));
             if (FocusOf(hDlg) != List()) return "the focus left the list";
             return "";
         },
         false,
         {{"Alpha", kAlpha}}},
        {"Delete in the list, declined",
         {{"Alpha", kAlpha}, {"Beta", kBeta}},
         [&](HWND hDlg) -> std::string {
             const std::string bytes = ktxtest::ReadFileBytes(m_safe);
             ui::PressKey(FocusOf(hDlg), VK_DELETE);
             std::string text;
             if (!AnswerBox(IDNO, &text)) return "no question came";
             if (text.find(DeleteQuestion("Alpha")) == std::string::npos) return "the question was: " + text;
             Sleep(300);
             if (ListNames(List()) != std::vector<std::string>{"Alpha", "Beta"})
                 return "the list shows " + Joined(ListNames(List()));
             if (ktxtest::ReadFileBytes(m_safe) != bytes) return "the file changed";
             return "";
         },
         false,
         {{"Alpha", kAlpha}, {"Beta", kBeta}}},
        {"New entry by the button, named in place with Enter",
         {{"Alpha", kAlpha}},
         [&](HWND hDlg) -> std::string {
             ui::PostClick(m_pDlg->btnNeuerEintrag->Handle());
             HWND hEdit = nullptr;
             if (!WaitTrue([&] { return (hEdit = Editor(List())) != nullptr && FocusOf(hDlg) == hEdit; }))
                 return "no name editor with the focus";
             if (ui::TextOf(hEdit) != newEntry) return "the editor shows " + ui::TextOf(hEdit);
             ui::Type(hEdit, "Gamma");
             ui::PressKey(hEdit, VK_RETURN);
             if (!WaitTrue([&] { return ListNames(List()) == std::vector<std::string>{"Alpha", "Gamma"}; }))
                 return "the list shows " + Joined(ListNames(List()));
             if (Editor(List())) return "the editor is still open";
             Sleep(200);
             if (!IsWindowVisible(hDlg)) return "Enter closed the dialog";
             return "";
         },
         false,
         {{"Alpha", kAlpha}, {"Gamma", kNone}}},
        {"New entry by the popup item, Escape in the editor",
         {{"Alpha", kAlpha}},
         [&](HWND hDlg) -> std::string {
             if (!ui::ChooseContextMenuItem(List(), DLS_PUM_NEUER_EINTRAG())) return "no popup item";
             HWND hEdit = nullptr;
             if (!WaitTrue([&] { return (hEdit = Editor(List())) != nullptr && FocusOf(hDlg) == hEdit; }))
                 return "no name editor with the focus";
             ui::Type(hEdit, "Typed but dropped");
             ui::PressKey(hEdit, VK_ESCAPE);
             if (!WaitTrue([&] { return Editor(List()) == nullptr; })) return "the editor is still open";
             Sleep(200);
             if (!IsWindowVisible(hDlg)) return "Escape closed the dialog";
             if (ListNames(List()) != std::vector<std::string>{"Alpha", newEntry})
                 return "the list shows " + Joined(ListNames(List()));
             return "";
         },
         false,
         {{"Alpha", kAlpha}, {newEntry, kNone}}},
        {"Enter in the note",
         {{"Alpha", kAlpha}},
         [&](HWND hDlg) -> std::string {
             const HWND hNote = m_pDlg->memoSafe->Handle();
             // Typed first: the save controls are on when Enter comes.
             ui::Type(hNote, "first");
             const std::string bytes = ktxtest::ReadFileBytes(m_safe);
             ui::PressKey(hNote, VK_RETURN);
             if (!WaitTrue([&] { return ui::TextOf(hNote) == "first\r\n"; }))
                 return "the note shows '" + ui::TextOf(hNote) + "'";
             Sleep(300);
             if (!IsWindowVisible(hDlg)) return "Enter closed the dialog";
             if (ktxtest::ReadFileBytes(m_safe) != bytes) return "Enter stored the entry";
             if (FocusOf(hDlg) != hNote) return "the focus left the note";
             return "";
         },
         false,
         {{"Alpha", {kAlpha.user, kAlpha.password, kAlpha.url, "first\r\n"}}}},
        {"Escape in the user name after typing",
         {{"Alpha", kAlpha}, {"Beta", kBeta}},
         [&](HWND hDlg) -> std::string {
             ui::Type(m_pDlg->editBenutzername->Handle(), "typed by hand");
             ui::PressKey(m_pDlg->editBenutzername->Handle(), VK_ESCAPE);
             return WaitTrue([&] { return !IsWindowVisible(hDlg); }) ? "" : "the dialog stayed open";
         },
         true,
         {{"Alpha", {"typed by hand", kAlpha.password, kAlpha.url, kAlpha.note}}, {"Beta", kBeta}}},
        {"Escape in the note after typing",
         {{"Alpha", kAlpha}},
         [&](HWND hDlg) -> std::string {
             ui::Type(m_pDlg->memoSafe->Handle(), "typed note");
             ui::PressKey(m_pDlg->memoSafe->Handle(), VK_ESCAPE);
             return WaitTrue([&] { return !IsWindowVisible(hDlg); }) ? "" : "the dialog stayed open";
         },
         true,
         {{"Alpha", {kAlpha.user, kAlpha.password, kAlpha.url, "typed note"}}}},
        {"Escape in the list",
         {{"Alpha", kAlpha}},
         [&](HWND hDlg) -> std::string {
             ui::PressKey(FocusOf(hDlg), VK_ESCAPE);
             return WaitTrue([&] { return !IsWindowVisible(hDlg); }) ? "" : "the dialog stayed open";
         },
         true,
         {{"Alpha", kAlpha}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A safe of its own for each case.
        Unprotect();
        DeleteFileA(m_safe.c_str());
        WriteSafe(c.before);
        std::string failure;
        bool bClosedByKeys = false;
        bool bCancel = false;
        EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
            // Where the user starts: the list, its top entry selected.
            if (!WaitTrue([&] { return FocusOf(hDlg) == List(); })) {
                failure = "the list has no focus after opening";
            } else {
                failure = c.keys(hDlg);
            }
            bClosedByKeys = !IsWindowVisible(hDlg);
            return bClosedByKeys || ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
        }));
        EXPECT_TRUE(m_bShown);
        EXPECT_EQ(failure, "");
        EXPECT_EQ(bClosedByKeys, c.bKeysClose);
        EXPECT_FALSE(bCancel);
        EXPECT_EQ(StoredEntries(), c.after);
    }
}

// ---------------------------------------------------------------------------
// The focus
// ---------------------------------------------------------------------------

TEST_F(SafeKeys, TabGoesFromTheListThroughTheFieldsToTheBottomButtonsAndBack)
{
    WriteSafe({{"Alpha", kAlpha}});
    std::vector<std::string> expected = {"lstvBezeichnung",   "editBenutzername", "editPasswort", "btnPasswortSichtbar",
                                         "editURL",           "btnBrowserOeffnen", "memoSafe"};
    std::vector<std::string> visited;
    bool bCancel = false;
    EXPECT_TRUE(Open(&bCancel, [&](HWND hDlg) {
        // The bottom buttons the user can press, from left to right.
        std::vector<TButton*> buttons = {m_pDlg->btnHilfe, m_pDlg->btnAbout, m_pDlg->btnLogFile, m_pDlg->btnSave,
                                         m_pDlg->btnClose};
        buttons.erase(std::remove_if(buttons.begin(), buttons.end(),
                                     [](TButton* p) {
                                         return !IsWindowVisible(p->Handle()) || !IsWindowEnabled(p->Handle());
                                     }),
                      buttons.end());
        std::sort(buttons.begin(), buttons.end(), [](TButton* a, TButton* b) { return a->Left() < b->Left(); });
        for (TButton* p : buttons) expected.push_back(p->Name());
        expected.push_back("lstvBezeichnung");

        WaitTrue([&] { return FocusOf(hDlg) == List(); });
        for (size_t i = 0; i < expected.size(); ++i) {
            const HWND hFocus = FocusOf(hDlg);
            TWinControl* pControl = TWinControl::FromHandle(hFocus);
            visited.push_back(pControl ? pControl->Name() : "<" + ui::ClassOf(hFocus) + ">");
            if (i + 1 == expected.size()) break;
            ui::PressKey(hFocus, VK_TAB);
            WaitTrue([&] { return FocusOf(hDlg) != hFocus; }, 2000);
        }
        return ui::PressButton(hDlg, DLS_BTN_SCHLIESSEN());
    }));
    EXPECT_TRUE(m_bShown);
    EXPECT_EQ(visited, expected);
}

}  // namespace
