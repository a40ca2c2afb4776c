// The generator window: its controls and texts, the strength display, the
// character class boxes, the stored settings, the states of a generation and
// the owner's window slot.
#include <string>

#include "GeneratorFixture.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "ProcessOwner.h"
#include "TestSupport.h"
#include "UiDriver.h"

namespace gentest {
namespace {

using Window = GeneratorFixture;

TEST_F(Window, ControlsAndTextsComeFromTheLanguageLibrary)
{
    TfrmPasswordManager* f = m_pForm;
    EXPECT_EQ(ktxtest::ui::ClassOf(f->Handle()), "TfrmPasswordManager");
    EXPECT_EQ(f->Caption(), DLS_GLOBAL_CAPTION_SAFE());

    const struct {
        TControl* pControl;
        const char* pszText;
    } texts[] = {
        {f->txtAnzahl, DLS_TXT_ANZAHL()},
        {f->gboxTypen, DLS_TXT_ZEICHEN()},
        {f->cboxGrossbuchstaben, DLS_BTN_GROSSBUCHSTABEN()},
        {f->cboxKleinbuchstaben, DLS_BTN_KLEINBUCHSTABEN()},
        {f->cboxZahlen, DLS_BTN_ZAHLEN()},
        {f->cboxSonderzeichen, DLS_BTN_SONDERZEICHEN()},
        {f->cboxAlle, DLS_BTN_ALLE()},
        {f->gboxSicherheit, DLS_TXT_SICHERHEIT()},
        {f->txtExtrem, DLS_TXT_EXTREM()},
        {f->txtsehrhoch, DLS_TXT_SEHRHOCH()},
        {f->txthoch, DLS_TXT_HOCH()},
        {f->txtnormal, DLS_TXT_NORMAL()},
        {f->txtniedrig, DLS_TXT_NIEDRIG()},
        {f->txtsehrniedrig, DLS_TXT_SEHRNIEDRIG()},
        {f->txt_MAUS, DLS_TXT_MAUS()},
        {f->btnHilfe, DLS_BTN_HELP()},
        {f->btnClose, DLS_BTN_SCHLIESSEN()},
        {f->btnCreatPwd, DLS_BTN_CREATPWD()},
        {f->btnStern, "*"},
    };
    for (const auto& t : texts) EXPECT_EQ(t.pControl->Caption(), t.pszText) << t.pControl->Name();
    EXPECT_EQ(f->edAnzahlZ->Hint(), DLS_HINT_ANZAHLZEICHEN());
    EXPECT_TRUE(f->edAnzahlZ->ShowHint());
    EXPECT_EQ(f->udAnzahl->Hint(), DLS_HINT_UPDOWN());
    EXPECT_TRUE(f->udAnzahl->ShowHint());

    // The scale runs top to bottom, 24 pixels apart.
    TControl* const scale[] = {f->txtExtrem, f->txtsehrhoch, f->txthoch, f->txtnormal, f->txtniedrig,
                               f->txtsehrniedrig};
    for (int i = 1; i < 6; ++i) EXPECT_EQ(scale[i]->Top() - scale[i - 1]->Top(), 24) << scale[i]->Name();

    EXPECT_NE(f->img_qov_PassGen->Bitmap(), nullptr);
    EXPECT_TRUE(f->img_qov_PassGen->Stretch());
    EXPECT_EQ(f->img_qov_PassGen->Anchors(), akAll);
    EXPECT_FALSE(f->txt_MAUS->Visible());
    EXPECT_FALSE(f->edPasswort->Visible());
    EXPECT_EQ(f->edPasswort->PasswordChar(), '*');
    EXPECT_FALSE(f->btnStern->Visible());
    EXPECT_TRUE(f->edAnzahlZ->ReadOnly());
    {
        // The longest length fits into what the up-down leaves of its box.
        HWND hEdit = f->edAnzahlZ->Handle();
        RECT rcClient{};
        GetClientRect(hEdit, &rcClient);
        const DWORD dwMargins = static_cast<DWORD>(SendMessageA(hEdit, EM_GETMARGINS, 0, 0));
        const int nRoom = rcClient.right - LOWORD(dwMargins) - HIWORD(dwMargins);
        HDC hdc = GetDC(hEdit);
        HGDIOBJ hOld = SelectObject(hdc, reinterpret_cast<HGDIOBJ>(SendMessageA(hEdit, WM_GETFONT, 0, 0)));
        SIZE size{};
        GetTextExtentPoint32A(hdc, "200", 3, &size);
        SelectObject(hdc, hOld);
        ReleaseDC(hEdit, hdc);
        EXPECT_GT(nRoom, size.cx + 2);
        RECT rcUpDown{}, rcEdit{};
        GetWindowRect(f->udAnzahl->Handle(), &rcUpDown);
        GetWindowRect(hEdit, &rcEdit);
        EXPECT_GE(rcUpDown.left, rcEdit.right - 3) << "the up-down covers its box";  // its frame overlaps the box's border
    }
    EXPECT_EQ(f->DefaultButton(), f->btnCreatPwd);
    EXPECT_EQ(f->udAnzahl->Min(), 0);
    EXPECT_EQ(f->udAnzahl->Max(), 200);
    EXPECT_EQ(f->pbSicherheit->Max(), 1880);
    EXPECT_EQ(f->pbSicherheit->Orientation(), pbVertical);
    EXPECT_TRUE(f->pbSicherheit->Smooth());
    EXPECT_EQ(f->pbGenerierung->Orientation(), pbHorizontal);
    EXPECT_TRUE(f->tmrKeyGenerator->Enabled());
    EXPECT_EQ(f->tmrKeyGenerator->Interval(), 200u);
    EXPECT_FALSE(f->tmrStartUp->Enabled());
    EXPECT_EQ(f->tmrStartUp->Interval(), 140u);
}

TEST_F(Window, FixedBorderAndMinimumSize)
{
    const LONG_PTR style = GetWindowLongPtrA(m_pForm->Handle(), GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_GE(m_pForm->Width(), 629);
    EXPECT_GE(m_pForm->Height(), 293);

    m_pForm->SetBounds(m_pForm->Left(), m_pForm->Top(), 300, 120);
    EXPECT_EQ(m_pForm->Width(), 629);
    EXPECT_EQ(m_pForm->Height(), 293);
    RECT rc{};
    GetWindowRect(m_pForm->Handle(), &rc);
    EXPECT_EQ(rc.right - rc.left, 629);
    EXPECT_EQ(rc.bottom - rc.top, 293);
}

// ---------------------------------------------------------------------------
// Strength and classes
// ---------------------------------------------------------------------------

using Strength = GeneratorFixture;

TEST_F(Strength, NothingStoredGivesLengthEightAndAllClasses)
{
    TfrmPasswordManager* f = m_pForm;
    EXPECT_EQ(f->GetLength(), 8);
    EXPECT_EQ(EditText(f->edAnzahlZ), "8");
    for (TCheckBox* pBox : {f->cboxGrossbuchstaben, f->cboxKleinbuchstaben, f->cboxZahlen, f->cboxSonderzeichen,
                            f->cboxAlle}) {
        EXPECT_TRUE(pBox->Checked()) << pBox->Name();
        EXPECT_TRUE(pBox->Enabled()) << pBox->Name();
    }
    EXPECT_EQ(f->pbSicherheit->Position(), 752);
    EXPECT_TRUE(f->btnCreatPwd->Enabled());
    EXPECT_TRUE(f->udAnzahl->Enabled());
}

struct StrengthCase {
    Classes classes;
    int nLength;
    int nStrength;
};

void PrintTo(const StrengthCase& c, std::ostream* os)
{
    *os << ClassesName(c.classes) << " x " << c.nLength;
}

class StrengthTable : public GeneratorFixture, public ::testing::WithParamInterface<StrengthCase> {};

TEST_P(StrengthTable, AlphabetTimesLength)
{
    const StrengthCase& c = GetParam();
    SetLengthByClicks(c.nLength);
    SetClassesByClicks(c.classes);
    EXPECT_EQ(m_pForm->pbSicherheit->Position(), c.nStrength);
    EXPECT_EQ(EditText(m_pForm->edAnzahlZ), std::to_string(c.nLength));
}

INSTANTIATE_TEST_SUITE_P(Settings, StrengthTable,
                         ::testing::Values(StrengthCase{{true, false, false, false}, 8, 208},
                                           StrengthCase{{false, true, false, false}, 8, 208},
                                           StrengthCase{{false, false, true, false}, 8, 80},
                                           StrengthCase{{false, false, false, true}, 8, 256},
                                           StrengthCase{{true, true, true, false}, 10, 620},
                                           StrengthCase{{true, true, true, true}, 19, 1786},
                                           StrengthCase{{true, true, true, true}, 20, 1880},
                                           StrengthCase{{true, true, true, true}, 21, 1880},
                                           StrengthCase{{false, false, true, false}, 200, 1880},
                                           StrengthCase{{true, true, true, true}, 0, 0}));

TEST_F(Strength, LengthTwentyWithAllClassesFillsTheBar)
{
    SetLengthByClicks(20);
    EXPECT_EQ(m_pForm->pbSicherheit->Position(), m_pForm->pbSicherheit->Max());
}

using ClassBoxes = GeneratorFixture;

TEST_F(ClassBoxes, AlleFollowsTheFourBoxes)
{
    TfrmPasswordManager* f = m_pForm;
    ClickControl(f->cboxZahlen);
    EXPECT_FALSE(f->cboxZahlen->Checked());
    EXPECT_FALSE(f->cboxAlle->Checked());
    ClickControl(f->cboxZahlen);
    EXPECT_TRUE(f->cboxAlle->Checked());

    // Checking cboxAlle checks whatever is missing.
    ClickControl(f->cboxGrossbuchstaben);
    ClickControl(f->cboxSonderzeichen);
    EXPECT_FALSE(f->cboxAlle->Checked());
    EXPECT_EQ(f->pbSicherheit->Position(), 36 * 8);
    ClickControl(f->cboxAlle);
    for (TCheckBox* pBox : {f->cboxGrossbuchstaben, f->cboxKleinbuchstaben, f->cboxZahlen, f->cboxSonderzeichen})
        EXPECT_TRUE(pBox->Checked()) << pBox->Name();
    EXPECT_TRUE(f->cboxAlle->Checked());
    EXPECT_EQ(f->pbSicherheit->Position(), 752);

    // Unchecking cboxAlle while all four are checked changes nothing.
    ClickControl(f->cboxAlle);
    EXPECT_TRUE(f->cboxAlle->Checked());
    for (TCheckBox* pBox : {f->cboxGrossbuchstaben, f->cboxKleinbuchstaben, f->cboxZahlen, f->cboxSonderzeichen})
        EXPECT_TRUE(pBox->Checked()) << pBox->Name();
}

TEST_F(ClassBoxes, NoClassDisablesCreate)
{
    TfrmPasswordManager* f = m_pForm;
    SetClassesByClicks({false, false, false, false});
    EXPECT_FALSE(f->btnCreatPwd->Enabled());
    EXPECT_FALSE(f->cboxAlle->Checked());
    EXPECT_EQ(f->pbSicherheit->Position(), 0);

    ClickControl(f->cboxKleinbuchstaben);
    EXPECT_TRUE(f->btnCreatPwd->Enabled());
    EXPECT_EQ(f->pbSicherheit->Position(), 26 * 8);
}

TEST_F(ClassBoxes, LengthZeroLocksTheClassesUntilTheLengthGrows)
{
    TfrmPasswordManager* f = m_pForm;
    SetLengthByClicks(0);
    for (TCheckBox* pBox : {f->cboxGrossbuchstaben, f->cboxKleinbuchstaben, f->cboxZahlen, f->cboxSonderzeichen,
                            f->cboxAlle})
        EXPECT_FALSE(pBox->Enabled()) << pBox->Name();
    // No password of length 0 can be started.
    EXPECT_FALSE(f->btnCreatPwd->Enabled());
    EXPECT_EQ(f->pbSicherheit->Position(), 0);

    ClickUpDown(true);
    EXPECT_EQ(f->GetLength(), 1);
    for (TCheckBox* pBox : {f->cboxGrossbuchstaben, f->cboxKleinbuchstaben, f->cboxZahlen, f->cboxSonderzeichen,
                            f->cboxAlle})
        EXPECT_TRUE(pBox->Enabled()) << pBox->Name();
    EXPECT_TRUE(f->btnCreatPwd->Enabled());
    EXPECT_EQ(f->pbSicherheit->Position(), 94);
}

// ---------------------------------------------------------------------------
// Stored settings
// ---------------------------------------------------------------------------

using Settings = GeneratorFixture;

TEST_F(Settings, StartingAGenerationStoresTheSettingsForTheNextWindow)
{
    SetLengthByClicks(12);
    SetClassesByClicks({false, true, true, false});
    ClickControl(m_pForm->btnCreatPwd);

    DWORD dwLength = 0;
    bool bUpper = true, bLower = false, bDigits = false, bSpecial = true;
    ASSERT_TRUE(TVornixReg::QOVGetPasswordGenerator(m_pOwner, &dwLength, &bUpper, &bLower, &bDigits, &bSpecial));
    EXPECT_EQ(dwLength, 12u);
    EXPECT_FALSE(bUpper);
    EXPECT_TRUE(bLower);
    EXPECT_TRUE(bDigits);
    EXPECT_FALSE(bSpecial);

    Recreate();
    TfrmPasswordManager* f = m_pForm;
    EXPECT_EQ(f->GetLength(), 12);
    EXPECT_EQ(EditText(f->edAnzahlZ), "12");
    EXPECT_FALSE(f->cboxGrossbuchstaben->Checked());
    EXPECT_TRUE(f->cboxKleinbuchstaben->Checked());
    EXPECT_TRUE(f->cboxZahlen->Checked());
    EXPECT_FALSE(f->cboxSonderzeichen->Checked());
    EXPECT_FALSE(f->cboxAlle->Checked());
    EXPECT_EQ(f->pbSicherheit->Position(), 36 * 12);
    EXPECT_TRUE(f->btnCreatPwd->Enabled());
}

TEST_F(Settings, ChangingTheBoxesAloneStoresNothing)
{
    SetClassesByClicks({false, false, true, false});
    Recreate();
    EXPECT_TRUE(m_pForm->cboxAlle->Checked());
    EXPECT_EQ(m_pForm->pbSicherheit->Position(), 752);
}

struct StoredCase {
    DWORD dwLength;
    Classes classes;
    int nShownLength;
    bool bAlle;
    bool bCreateEnabled;
};

void PrintTo(const StoredCase& c, std::ostream* os)
{
    *os << c.dwLength << " " << ClassesName(c.classes);
}

class StoredSettings : public GeneratorFixture, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(StoredSettings, ShownByANewWindow)
{
    const StoredCase& c = GetParam();
    ASSERT_TRUE(TVornixReg::QOVSetPasswordGenerator(m_pOwner, c.dwLength, c.classes.bUpper, c.classes.bLower,
                                                    c.classes.bDigits, c.classes.bSpecial));
    Recreate();
    TfrmPasswordManager* f = m_pForm;
    EXPECT_EQ(f->GetLength(), c.nShownLength);
    EXPECT_EQ(EditText(f->edAnzahlZ), std::to_string(c.nShownLength));
    EXPECT_EQ(f->cboxGrossbuchstaben->Checked(), c.classes.bUpper);
    EXPECT_EQ(f->cboxKleinbuchstaben->Checked(), c.classes.bLower);
    EXPECT_EQ(f->cboxZahlen->Checked(), c.classes.bDigits);
    EXPECT_EQ(f->cboxSonderzeichen->Checked(), c.classes.bSpecial);
    EXPECT_EQ(f->cboxAlle->Checked(), c.bAlle);
    EXPECT_EQ(f->btnCreatPwd->Enabled(), c.bCreateEnabled);
    const int n = TfrmPasswordManager::GetAlphabetSize(c.classes.bUpper, c.classes.bLower, c.classes.bDigits,
                                                       c.classes.bSpecial);
    EXPECT_EQ(f->pbSicherheit->Position(), std::min(n * c.nShownLength, 1880));
}

INSTANTIATE_TEST_SUITE_P(Values, StoredSettings,
                         ::testing::Values(StoredCase{30, {true, true, true, true}, 30, true, true},
                                           StoredCase{16, {true, false, false, true}, 16, false, true},
                                           StoredCase{5, {false, false, false, false}, 5, false, false},
                                           // More than the arrows offer is shown as their maximum.
                                           StoredCase{250, {false, true, false, false}, 200, false, true}));

// ---------------------------------------------------------------------------
// A generation's states
// ---------------------------------------------------------------------------

using Generation = GeneratorFixture;

TEST_F(Generation, StartLocksTheClassesAndShowsTheMouseHint)
{
    TfrmPasswordManager* f = m_pForm;
    SetLengthByClicks(10);
    ClickControl(f->btnCreatPwd);
    EXPECT_TRUE(f->IsGenerating());
    EXPECT_FALSE(f->btnCreatPwd->Enabled());
    for (TCheckBox* pBox : {f->cboxGrossbuchstaben, f->cboxKleinbuchstaben, f->cboxZahlen, f->cboxSonderzeichen,
                            f->cboxAlle})
        EXPECT_FALSE(pBox->Enabled()) << pBox->Name();
    EXPECT_TRUE(f->txt_MAUS->Visible());
    EXPECT_FALSE(f->btnStern->Enabled());
    EXPECT_TRUE(f->udAnzahl->Enabled());
    EXPECT_EQ(f->pbGenerierung->Max(), 10);
    EXPECT_EQ(f->pbGenerierung->Position(), 0);
    EXPECT_EQ(f->edPasswort->GetTextLen(), 0);
}

TEST_F(Generation, FinishedPasswordIsHandedOverAndTheSettingsLocked)
{
    TfrmPasswordManager* f = m_pForm;
    SetLengthByClicks(12);
    ClickControl(f->btnCreatPwd);
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(f->edPasswort->GetTextLen(), 0) << "handed over early at step " << i;
        ASSERT_TRUE(ArmAndStep(3 + i, 5));
        EXPECT_EQ(f->pbGenerierung->Position(), i + 1);
    }
    EXPECT_FALSE(f->IsGenerating());
    EXPECT_EQ(Password().size(), 12u);
    // The safe dialog's sign of a finished password.
    EXPECT_TRUE(f->btnCreatPwd->Enabled());
    EXPECT_TRUE(f->edPasswort->Enabled());
    EXPECT_TRUE(f->btnStern->Enabled());
    EXPECT_FALSE(f->edPasswort->Visible());
    EXPECT_FALSE(f->txt_MAUS->Visible());
    EXPECT_FALSE(f->udAnzahl->Enabled());
    for (TCheckBox* pBox : {f->cboxGrossbuchstaben, f->cboxKleinbuchstaben, f->cboxZahlen, f->cboxSonderzeichen,
                            f->cboxAlle})
        EXPECT_FALSE(pBox->Enabled()) << pBox->Name();

    // btnStern shows the password in clear and hides it again.
    ClickControl(f->btnStern);
    EXPECT_EQ(f->edPasswort->PasswordChar(), '\0');
    ClickControl(f->btnStern);
    EXPECT_EQ(f->edPasswort->PasswordChar(), '*');
}

TEST_F(Generation, ResetEmptiesThePasswordAndUnlocks)
{
    TfrmPasswordManager* f = m_pForm;
    ClickControl(f->btnCreatPwd);
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(ArmAndStep(40, 40));
    ASSERT_EQ(Password().size(), 8u);

    EXPECT_TRUE(f->DoReset());
    EXPECT_EQ(f->edPasswort->GetTextLen(), 0);
    EXPECT_EQ(f->pbGenerierung->Position(), 0);
    EXPECT_TRUE(f->btnCreatPwd->Enabled());
    EXPECT_TRUE(f->udAnzahl->Enabled());
    EXPECT_FALSE(f->btnStern->Enabled());
    EXPECT_FALSE(f->txt_MAUS->Visible());
    for (TCheckBox* pBox : {f->cboxGrossbuchstaben, f->cboxKleinbuchstaben, f->cboxZahlen, f->cboxSonderzeichen,
                            f->cboxAlle})
        EXPECT_TRUE(pBox->Enabled()) << pBox->Name();
}

TEST_F(Generation, StartingAgainResetsAFinishedPassword)
{
    TfrmPasswordManager* f = m_pForm;
    ClickControl(f->btnCreatPwd);
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(ArmAndStep(9, 9));
    const std::string first = Password();
    ASSERT_EQ(first.size(), 8u);

    ClickControl(f->btnCreatPwd);
    EXPECT_TRUE(f->IsGenerating());
    EXPECT_EQ(f->edPasswort->GetTextLen(), 0);
    EXPECT_EQ(f->pbGenerierung->Position(), 0);
    EXPECT_FALSE(f->btnCreatPwd->Enabled());
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(ArmAndStep(9, 9));
    EXPECT_EQ(Password().size(), 8u);
}

TEST_F(Generation, LengthChangeWhileGeneratingUnlocksTheClasses)
{
    TfrmPasswordManager* f = m_pForm;
    ClickControl(f->btnCreatPwd);
    ASSERT_TRUE(ArmAndStep(5, 5));
    ASSERT_TRUE(ArmAndStep(5, 5));
    ClickUpDown(true);
    EXPECT_TRUE(f->IsGenerating());
    EXPECT_TRUE(f->cboxZahlen->Enabled());

    // With every class taken away mid-run a step adds nothing.
    SetClassesByClicks({false, false, false, false});
    EXPECT_FALSE(ArmAndStep(5, 5));
    EXPECT_EQ(f->pbGenerierung->Position(), 2);

    // Digits only from here on; the run ends at the new length.
    SetClassesByClicks({false, false, true, false});
    for (int i = 2; i < 9; ++i) ASSERT_TRUE(ArmAndStep(5, 5)) << i;
    EXPECT_FALSE(f->IsGenerating());
    const std::string password = Password();
    ASSERT_EQ(password.size(), 9u);
    for (size_t i = 2; i < password.size(); ++i) EXPECT_TRUE(IsDigit(password[i])) << i;
}

TEST_F(Generation, ShorterLengthMidRunEndsAtTheNextCharacter)
{
    TfrmPasswordManager* f = m_pForm;
    ClickControl(f->btnCreatPwd);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(ArmAndStep(7, 11));
    SetLengthByClicks(3);
    EXPECT_TRUE(f->IsGenerating());
    ASSERT_TRUE(ArmAndStep(7, 11));
    EXPECT_FALSE(f->IsGenerating());
    EXPECT_EQ(Password().size(), 6u);
}

// ---------------------------------------------------------------------------
// Showing, closing and the owner's window slot
// ---------------------------------------------------------------------------

using OwnerSlot = GeneratorFixture;

TEST_F(OwnerSlot, ShownWindowTakesTheSlotAndCloseGivesItBack)
{
    HWND hBefore = GetDesktopWindow();
    m_pOwner->hOwnerWnd = hBefore;
    m_pForm->Show();
    EXPECT_TRUE(ktxtest::WaitFor([&] { return m_pOwner->hOwnerWnd == m_pForm->Handle(); }, 5000));

    ClickControl(m_pForm->btnClose);
    EXPECT_FALSE(m_pForm->Visible());
    EXPECT_TRUE(IsWindow(m_pForm->Handle()));
    EXPECT_FALSE(IsWindowVisible(m_pForm->Handle()));
    EXPECT_EQ(m_pOwner->hOwnerWnd, hBefore);

    // Shown again, the same window takes the slot again.
    m_pForm->Show();
    EXPECT_TRUE(ktxtest::WaitFor([&] { return m_pOwner->hOwnerWnd == m_pForm->Handle(); }, 5000));
    m_pForm->Close();
    EXPECT_EQ(m_pOwner->hOwnerWnd, hBefore);
}

TEST_F(OwnerSlot, ClosedBeforeTheStartUpTimerKeepsTheSlot)
{
    HWND hBefore = GetDesktopWindow();
    m_pOwner->hOwnerWnd = hBefore;
    m_pForm->Show();
    m_pForm->Close();
    ktxtest::ui::Pump(500);
    EXPECT_EQ(m_pOwner->hOwnerWnd, hBefore);
    EXPECT_FALSE(m_pForm->tmrStartUp->Enabled());
}

TEST_F(OwnerSlot, DestroyedWhileShownGivesTheSlotBack)
{
    HWND hBefore = GetDesktopWindow();
    m_pOwner->hOwnerWnd = hBefore;
    m_pForm->Show();
    ASSERT_TRUE(ktxtest::WaitFor([&] { return m_pOwner->hOwnerWnd == m_pForm->Handle(); }, 5000));
    delete m_pForm;
    m_pForm = nullptr;
    EXPECT_EQ(m_pOwner->hOwnerWnd, hBefore);
}

TEST(WithoutOwner, WorksWithANullOwnerHandle)
{
    ASSERT_TRUE(ClearStoredSettings());
    TfrmPasswordManager* pForm = new TfrmPasswordManager(nullptr, Application);
    EXPECT_EQ(pForm->GetLength(), 8);
    EXPECT_EQ(pForm->pbSicherheit->Position(), 752);
    pForm->Show();
    ktxtest::ui::Pump(300);
    ASSERT_TRUE(ktxtest::ui::Click(pForm->btnCreatPwd->Handle()));
    for (int i = 0; i < 40 && pForm->IsGenerating(); ++i) {
        pForm->tmrKeyGeneratorTimer(nullptr);
        pForm->DoAddMouseChar(4, 4);
    }
    EXPECT_FALSE(pForm->IsGenerating());
    EXPECT_EQ(EditText(pForm->edPasswort).size(), 8u);
    pForm->Close();
    delete pForm;
}

TEST(ProcessOwner, OneArgumentConstructionUsesTheProcessOwner)
{
    TLSOwner* pOwner = GetLSOwnerHandle("KTSafe.EXE");
    ASSERT_NE(pOwner, nullptr);
    LSSetProcessOwner(pOwner);
    HWND hBefore = GetDesktopWindow();
    pOwner->hOwnerWnd = hBefore;
    TfrmPasswordManager* pForm = new TfrmPasswordManager(Application);
    pForm->Show();
    EXPECT_TRUE(ktxtest::WaitFor([&] { return pOwner->hOwnerWnd == pForm->Handle(); }, 5000));
    pForm->Close();
    EXPECT_EQ(pOwner->hOwnerWnd, hBefore);
    delete pForm;
    LSSetProcessOwner(nullptr);
    FreeLSOwnerHandle(pOwner);
}

}  // namespace
}  // namespace gentest
