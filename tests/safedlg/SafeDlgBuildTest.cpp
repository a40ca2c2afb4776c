// Building the safe dialog: window class, layout, captions from the language
// library, the state before anything is selected, input limits, size limits
// and the stored window rectangle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "SafeDlgFixture.h"
#include "TestSupport.h"
#include "UiDriver.h"

using namespace safetest;
namespace ui = ktxtest::ui;

namespace {

class SafeDlgBuild : public SafeDlgFixture {};

std::string WindowText(HWND hWnd)
{
    char sz[512] = "";
    GetWindowTextA(hWnd, sz, sizeof(sz));
    return sz;
}

// The rectangle of a control in its form's client coordinates.
RECT InForm(TfrmDlgSafe* pDlg, TControl* pControl)
{
    RECT rc = {pControl->Left(), pControl->Top(), pControl->Left() + pControl->Width(),
               pControl->Top() + pControl->Height()};
    for (TWinControl* p = pControl->Parent(); p && p != pDlg; p = p->Parent()) OffsetRect(&rc, p->Left(), p->Top());
    return rc;
}

bool Overlap(const RECT& a, const RECT& b)
{
    RECT r;
    return IntersectRect(&r, &a, &b) != FALSE;
}

TEST_F(SafeDlgBuild, EveryControlAUserNeedsIsInsideTheWindowAndApartFromTheOthers)
{
    // The class name is how a second start finds the running dialog.
    char szClass[64] = "";
    GetClassNameA(m_pDlg->Handle(), szClass, sizeof(szClass));
    EXPECT_STREQ(szClass, "TfrmDlgSafe");

    // At the size it opens with and at a larger one.
    for (const SIZE size : {SIZE{m_pDlg->Width(), m_pDlg->Height()}, SIZE{900, 480}}) {
        SCOPED_TRACE(std::to_string(size.cx) + " x " + std::to_string(size.cy));
        m_pDlg->SetBounds(40, 40, size.cx, size.cy);
        const RECT client = {0, 0, m_pDlg->ClientWidth(), m_pDlg->ClientHeight()};
        TControl* const apShown[] = {
            m_pDlg->btnHilfe,        m_pDlg->btnAbout,           m_pDlg->btnLogFile,          m_pDlg->btnClose,
            m_pDlg->btnNeuerEintrag, m_pDlg->btnEintragLoeschen, m_pDlg->btnKeyGenerator,     m_pDlg->btnChangeTresorFile,
            m_pDlg->btnCertMgr,      m_pDlg->img_qov_Tresor,     m_pDlg->lstvBezeichnung,     m_pDlg->txtBenutzername,
            m_pDlg->editBenutzername, m_pDlg->txtPasswort,       m_pDlg->editPasswort,        m_pDlg->btnPasswortSichtbar,
            m_pDlg->txtURL,          m_pDlg->editURL,            m_pDlg->btnBrowserOeffnen,   m_pDlg->memoSafe};
        for (TControl* p : apShown) {
            const RECT rc = InForm(m_pDlg, p);
            EXPECT_TRUE(p->Visible()) << p->Name();
            EXPECT_GT(rc.right - rc.left, 0) << p->Name();
            EXPECT_GT(rc.bottom - rc.top, 0) << p->Name();
            EXPECT_TRUE(rc.left >= client.left && rc.top >= client.top && rc.right <= client.right &&
                        rc.bottom <= client.bottom)
                << p->Name() << " lies outside the window";
        }
        // The fields of the entry: each beside its label, the two small
        // buttons beside their fields, the note below them; none covers another.
        TControl* const apRight[] = {m_pDlg->txtBenutzername, m_pDlg->editBenutzername, m_pDlg->txtPasswort,
                                     m_pDlg->editPasswort,    m_pDlg->btnPasswortSichtbar, m_pDlg->txtURL,
                                     m_pDlg->editURL,         m_pDlg->btnBrowserOeffnen, m_pDlg->memoSafe,
                                     m_pDlg->lstvBezeichnung};
        for (size_t i = 0; i < sizeof(apRight) / sizeof(apRight[0]); ++i)
            for (size_t j = i + 1; j < sizeof(apRight) / sizeof(apRight[0]); ++j)
                EXPECT_FALSE(Overlap(InForm(m_pDlg, apRight[i]), InForm(m_pDlg, apRight[j])))
                    << apRight[i]->Name() << " and " << apRight[j]->Name() << " overlap";
        EXPECT_TRUE(InForm(m_pDlg, m_pDlg->pnlTop).bottom <= InForm(m_pDlg, m_pDlg->lstvBezeichnung).top);
        EXPECT_TRUE(InForm(m_pDlg, m_pDlg->lstvBezeichnung).bottom <= InForm(m_pDlg, m_pDlg->pnlButtons).top);
    }

    // What a user relies on: the password masked, the list sorted by name
    // with its popup menu, Enter for the default button.
    EXPECT_NE(m_pDlg->editPasswort->PasswordChar(), '\0');
    EXPECT_EQ(m_pDlg->lstvBezeichnung->SortType(), stText);
    EXPECT_FALSE(m_pDlg->lstvBezeichnung->HideSelection());
    EXPECT_EQ(m_pDlg->lstvBezeichnung->PopupMenu(), m_pDlg->pmSave);
    EXPECT_NE(m_pDlg->img_qov_Tresor->Bitmap(), nullptr) << "the safe picture was not loaded";
    EXPECT_TRUE(m_pDlg->btnSave->Default());
    EXPECT_FALSE(m_pDlg->pumDuplizieren->Visible());
}

// Which language this run shows (German when started in a German locale).
void CheckLanguage()
{
    const char* expected = getenv("KTX_EXPECT_LANG");
    if (expected && *expected) {
        EXPECT_EQ(atoi(expected), DLS_LANG_ID());
    }
}

struct CaptionCase {
    const char* pszName;
    const char* (*pfnText)();
    const char* pszEnglish;
    const char* pszGerman;   // null: contains characters outside ASCII
};

TEST_F(SafeDlgBuild, CaptionsComeFromTheLanguageLibrary)
{
    CheckLanguage();
    const CaptionCase cases[] = {
        {"btnLogFile", DLS_BTN_OPENLOG, "Safe &log", "Tresor-&Protokoll"},
        {"btnSave", DLS_BTN_SPEICHERN, "&Save", "&Speichern"},
        {"pumSpeichern", DLS_BTN_SPEICHERN, "&Save", "&Speichern"},
        {"btnClose", DLS_BTN_SCHLIESSEN, "&Close", nullptr},
        {"btnHilfe", DLS_BTN_HELP, "&Help", "&Hilfe"},
        {"btnAbout", DLS_BTN_ABOUT, "&About", "&Info"},
        {"btnChangePassword", DLS_BTN_CHANGEPASSWORD, "Change password", nullptr},
        {"btnKonvert", DLS_BTN_KONVERTIEREN, "Convert safe", "Tresor konvertieren"},
        {"btnChangeTresorFile", DLS_BTN_CHANGETRESORFILE, "Move safe file", "Tresordatei verschieben"},
        {"btnNeuerEintrag", DLS_BTN_NEUER_EINTRAG, "New entry", "Neuer Eintrag"},
        {"btnEintragLoeschen", DLS_BTN_EINTRAG_LOESCHEN, "Delete entry", nullptr},
        {"btnKeyGenerator", DLS_BTN_KEY_GENERATOR, "Password generator", "Passwortgenerator"},
        {"btnCertMgr", DLS_BTN_ZERTMGR, "Certificates", "Zertifikate"},
        {"pumNeuerEintrag", DLS_PUM_NEUER_EINTRAG, "&New entry", "&Neuer Eintrag"},
        {"pumEintragLoeschen", DLS_PUM_EINTRAG_LOESCHEN, "&Delete entry", nullptr},
        {"pumChangePassword", DLS_PUM_CHANGEPASSWORD, "Change &password", nullptr},
        {"pumChangeTresorFile", DLS_PUM_CHANGETRESORFILE, "&Move safe file", "Tresordatei &verschieben"},
        {"pumAbbruch", DLS_BTN_CANCEL, "Cancel", "Abbrechen"},
        {"pumDuplizieren", DLS_PUM_EINTRAG_DUPLIZIEREN, "D&uplicate entry", "Eintrag &duplizieren"},
        {"pumKeyGenerator", DLS_PUM_KEY_GENERATOR, "Password &generator", "Passwort&generator"},
        {"pumEintragUmbenennen", DLS_PUM_EINTRAG_RENAME, "&Rename entry", "Eintrag &umbenennen"},
        {"txtPasswort", DLS_TXT_PASSWORT, "Password", "Passwort"},
        {"txtURL", DLS_TXT_URL, "URL", "URL"},
        {"txtBenutzername", DLS_TXT_BENUTZERNAME, "User name", "Benutzername"},
    };
    const int nLang = DLS_LANG_ID();
    for (const CaptionCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        TComponent* pComponent = FindNamed(m_pDlg, c.pszName);
        ASSERT_NE(pComponent, nullptr);
        std::string caption;
        if (auto* pItem = dynamic_cast<TMenuItem*>(pComponent)) {
            caption = pItem->Caption();
        } else {
            auto* pControl = dynamic_cast<TControl*>(pComponent);
            ASSERT_NE(pControl, nullptr);
            caption = pControl->Caption();
            // A control with a window shows the same text.
            if (auto* pWin = dynamic_cast<TWinControl*>(pControl)) {
                EXPECT_EQ(WindowText(pWin->Handle()), caption);
            }
        }
        EXPECT_EQ(caption, c.pfnText());
        if (nLang == LS_LANG_ENGLISH) {
            EXPECT_EQ(caption, c.pszEnglish);
        }
        if (nLang == LS_LANG_GERMAN && c.pszGerman) {
            EXPECT_EQ(caption, c.pszGerman);
        }
    }

    // The list's column and the hints.
    EXPECT_EQ(m_pDlg->lstvBezeichnung->Column(0)->Caption(), DLS_TXT_TRESOREINTRAEGE());
    EXPECT_EQ(m_pDlg->btnBrowserOeffnen->Hint(), DLS_HINT_BROWSER_OEFFNEN());
    EXPECT_TRUE(m_pDlg->btnBrowserOeffnen->ShowHint());
    EXPECT_EQ(m_pDlg->btnPasswortSichtbar->Hint(), DLS_HINT_PASSWORT_KLAR());
    EXPECT_TRUE(m_pDlg->btnPasswortSichtbar->ShowHint());
    if (nLang == LS_LANG_ENGLISH) {
        EXPECT_EQ(m_pDlg->lstvBezeichnung->Column(0)->Caption(), "Safe entries");
        EXPECT_EQ(m_pDlg->btnPasswortSichtbar->Hint(), "Show the password");
    }
    if (nLang == LS_LANG_GERMAN) {
        EXPECT_EQ(m_pDlg->lstvBezeichnung->Column(0)->Caption().substr(0, 6), "Tresor");
    }
}

TEST_F(SafeDlgBuild, NothingSelectedDisablesEntryWork)
{
    TControl* const apDisabled[] = {m_pDlg->btnEintragLoeschen, m_pDlg->editBenutzername, m_pDlg->editPasswort,
                                    m_pDlg->editURL,            m_pDlg->memoSafe,         m_pDlg->btnPasswortSichtbar,
                                    m_pDlg->btnBrowserOeffnen,  m_pDlg->btnSave,          m_pDlg->btnLogFile};
    for (TControl* p : apDisabled) EXPECT_FALSE(p->Enabled()) << p->Name();
    for (TWinControl* p : {static_cast<TWinControl*>(m_pDlg->editBenutzername),
                           static_cast<TWinControl*>(m_pDlg->editPasswort), static_cast<TWinControl*>(m_pDlg->editURL),
                           static_cast<TWinControl*>(m_pDlg->memoSafe)}) {
        EXPECT_EQ(p->Color(), clBtnFace) << p->Name();
        EXPECT_FALSE(IsWindowEnabled(p->Handle())) << p->Name();
    }
    EXPECT_FALSE(m_pDlg->btnSave->Visible());
    TMenuItem* const apItems[] = {m_pDlg->pumEintragLoeschen, m_pDlg->pumDuplizieren, m_pDlg->pumEintragUmbenennen,
                                  m_pDlg->pumSpeichern};
    for (TMenuItem* p : apItems) EXPECT_FALSE(p->Enabled()) << p->Name();
    EXPECT_FALSE(m_pDlg->pumSpeichern->Visible());

    // What stays available without a selection.
    EXPECT_TRUE(m_pDlg->btnNeuerEintrag->Enabled());
    EXPECT_TRUE(m_pDlg->pumNeuerEintrag->Enabled());
    EXPECT_TRUE(m_pDlg->btnClose->Enabled());
    EXPECT_TRUE(m_pDlg->pumAbbruch->Enabled());
}

TEST_F(SafeDlgBuild, SuccessfulInitLimitsTheFieldsToWhatTheRecordKeeps)
{
    ASSERT_TRUE(m_pDlg->bClassInitOK);
    ASSERT_NE(m_pDlg->hCrypt, nullptr);
    ASSERT_NE(m_pDlg->hProgress, nullptr);
    EXPECT_FALSE(m_pDlg->bCancel);
    EXPECT_FALSE(m_pOwner->rErrHandler.bFailed) << m_pOwner->rErrHandler.szMessage;

    // The limits are what the entry record keeps, in the windows too: the
    // note's slot loses its last four bytes, so it admits 1021 characters.
    struct Limit {
        TEdit* pEdit;
        int nMax;
    };
    const Limit limits[] = {{m_pDlg->editBenutzername, 64}, {m_pDlg->editPasswort, 256},
                            {m_pDlg->editURL, 255},         {m_pDlg->memoSafe, 1021}};
    for (const Limit& l : limits) {
        EXPECT_EQ(l.pEdit->MaxLength(), l.nMax) << l.pEdit->Name();
        EXPECT_EQ(SendMessageA(l.pEdit->Handle(), EM_GETLIMITTEXT, 0, 0), l.nMax) << l.pEdit->Name();
    }

    // The safe log lies in the user's data folder.
    const std::string log = m_pDlg->szLogFile;
    ASSERT_GT(log.size(), 9u);
    EXPECT_EQ(log.substr(log.size() - 9), "\\Safe.log");
    EXPECT_STREQ(m_pDlg->pLog->GetLogFilNam(), m_pDlg->szLogFile);
}

TEST_F(SafeDlgBuild, SizeLimits)
{
    // A window narrower than 690 cannot be produced; a height of 235 becomes 242.
    m_pDlg->SetBounds(50, 50, 500, 235);
    EXPECT_GE(m_pDlg->Width(), 690);
    EXPECT_EQ(m_pDlg->Height(), 242);
    m_pDlg->SetBounds(50, 50, 700, 300);
    m_pDlg->SetHeight(235);
    EXPECT_EQ(m_pDlg->Height(), 242);
    m_pDlg->SetWidth(600);
    EXPECT_GE(m_pDlg->Width(), 690);
    // Within the limits a size is kept.
    m_pDlg->SetBounds(50, 50, 760, 320);
    EXPECT_EQ(m_pDlg->Width(), 760);
    EXPECT_EQ(m_pDlg->Height(), 320);

    // Even without the form's limits a resize never leaves the dialog below
    // 640 x 242.
    m_pDlg->Constraints().MinWidth = 0;
    m_pDlg->Constraints().MinHeight = 0;
    m_pDlg->SetBounds(50, 50, 500, 150);
    EXPECT_EQ(m_pDlg->Width(), 640);
    EXPECT_EQ(m_pDlg->Height(), 242);
}

TEST_F(SafeDlgBuild, WindowRectangleAndLibraryDialogPosition)
{
    // Without a stored rectangle the system chooses the position: library
    // dialogs shown before it is known (the first start's questions) are
    // centred as usual, and appear offset from it once the dialog is shown.
    EXPECT_EQ(m_pDlg->Position(), poDefaultPosOnly);
    EXPECT_FALSE(m_pOwner->bDlgPosSet);
    ShowAndStart();
    EXPECT_TRUE(m_pOwner->bDlgPosSet);
    EXPECT_EQ(m_pOwner->nDlgLeft, m_pDlg->Left() + 100);
    EXPECT_EQ(m_pOwner->nDlgTop, m_pDlg->Top() + 100);
    m_pDlg->Hide();

    // A stored rectangle places the next dialog.
    ASSERT_TRUE(TVornixReg::QOVSetWindowsRect(m_pOwner, kSafeKey, 120, 90, 720, 300, 0));
    Recreate();
    EXPECT_EQ(m_pDlg->Left(), 120);
    EXPECT_EQ(m_pDlg->Top(), 90);
    EXPECT_EQ(m_pDlg->Width(), 720);
    EXPECT_EQ(m_pDlg->Height(), 300);
    EXPECT_EQ(m_pOwner->nDlgLeft, 220);
    EXPECT_EQ(m_pOwner->nDlgTop, 190);
    m_pDlg->Show();
    ui::Pump(50);
    RECT rc{};
    GetWindowRect(m_pDlg->Handle(), &rc);
    EXPECT_EQ(rc.left, 120);
    EXPECT_EQ(rc.top, 90);
}

TEST_F(SafeDlgBuild, Screenshot)
{
    ShowAndStart();
    ui::Pump(200);
    EXPECT_FALSE(ui::Screenshot("safedlg-empty", m_pDlg->Handle()).empty());
}

}  // namespace
