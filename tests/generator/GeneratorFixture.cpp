#include "GeneratorFixture.h"

#include <windows.h>

#include <vector>

#include "KTXTOOLS.h"
#include "UiDriver.h"

namespace gentest {

bool ClearStoredSettings()
{
    // The settings library keeps the generator's values in a key of their
    // own below the settings root.
    RegDeleteTreeA(HKEY_CURRENT_USER, LS_SETTINGS_ROOT "\\Generator");
    DWORD dwLength = 0;
    bool bUpper = false, bLower = false, bDigits = false, bSpecial = false;
    return !TVornixReg::QOVGetPasswordGenerator(nullptr, &dwLength, &bUpper, &bLower, &bDigits, &bSpecial);
}

std::string EditText(TEdit* pEdit)
{
    std::vector<char> buffer(static_cast<size_t>(pEdit->GetTextLen()) + 2, '\0');
    int n = pEdit->GetTextBuf(buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), static_cast<size_t>(n));
}

bool IsUpper(char ch) { return ch >= 'A' && ch <= 'Z'; }
bool IsLower(char ch) { return ch >= 'a' && ch <= 'z'; }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }
bool IsSpecial(char ch) { return ch >= '!' && ch <= '~' && !IsUpper(ch) && !IsLower(ch) && !IsDigit(ch); }

bool InClasses(char ch, const Classes& classes)
{
    return (classes.bUpper && IsUpper(ch)) || (classes.bLower && IsLower(ch)) || (classes.bDigits && IsDigit(ch)) ||
           (classes.bSpecial && IsSpecial(ch));
}

std::string ClassesName(const Classes& classes)
{
    std::string name;
    if (classes.bUpper) name += "Upper";
    if (classes.bLower) name += "Lower";
    if (classes.bDigits) name += "Digits";
    if (classes.bSpecial) name += "Special";
    return name.empty() ? "None" : name;
}

void GeneratorFixture::SetUp()
{
    ASSERT_TRUE(ClearStoredSettings()) << "the stored generator settings could not be removed";
    m_pOwner = GetLSOwnerHandle("KTSafe.EXE");
    ASSERT_NE(m_pOwner, nullptr);
    m_pForm = new TfrmPasswordManager(m_pOwner, Application);
}

void GeneratorFixture::TearDown()
{
    delete m_pForm;
    m_pForm = nullptr;
    if (m_pOwner) FreeLSOwnerHandle(m_pOwner);
    m_pOwner = nullptr;
}

void GeneratorFixture::Recreate()
{
    delete m_pForm;
    m_pForm = new TfrmPasswordManager(m_pOwner, Application);
}

void GeneratorFixture::ClickControl(TWinControl* pControl)
{
    ASSERT_TRUE(ktxtest::ui::Click(pControl->Handle()));
}

void GeneratorFixture::ClickUpDown(bool bUp)
{
    HWND hUpDown = m_pForm->udAnzahl->Handle();
    RECT rc{};
    GetClientRect(hUpDown, &rc);
    const int x = rc.right / 2;
    const int y = bUp ? rc.bottom / 4 : rc.bottom * 3 / 4;
    ASSERT_TRUE(ktxtest::ui::MouseDown(hUpDown, x, y));
    ASSERT_TRUE(ktxtest::ui::MouseUp(hUpDown, x, y));
}

void GeneratorFixture::SetLengthByClicks(int nLength)
{
    for (int i = 0; i < 2 * TfrmPasswordManager::MAX_LENGTH + 2 && m_pForm->udAnzahl->Position() != nLength; ++i) {
        const int nBefore = m_pForm->udAnzahl->Position();
        ClickUpDown(nLength > nBefore);
        ASSERT_NE(m_pForm->udAnzahl->Position(), nBefore) << "a click on the arrows changed nothing";
    }
    ASSERT_EQ(m_pForm->udAnzahl->Position(), nLength);
}

void GeneratorFixture::SetClassesByClicks(const Classes& classes)
{
    TCheckBox* const apBoxes[] = {m_pForm->cboxGrossbuchstaben, m_pForm->cboxKleinbuchstaben, m_pForm->cboxZahlen,
                                  m_pForm->cboxSonderzeichen};
    const bool abWanted[] = {classes.bUpper, classes.bLower, classes.bDigits, classes.bSpecial};
    // Check the wanted ones first, so that a box is never the last one left
    // unchecked on the way.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 4; ++i) {
            const bool bCheckPass = pass == 0;
            if (abWanted[i] == bCheckPass && apBoxes[i]->Checked() != abWanted[i]) ClickControl(apBoxes[i]);
        }
    }
    for (int i = 0; i < 4; ++i) ASSERT_EQ(apBoxes[i]->Checked(), abWanted[i]) << "box " << i;
}

void GeneratorFixture::MoveOverPicture(int x, int y)
{
    TImage* pImage = m_pForm->img_qov_PassGen;
    ASSERT_TRUE(ktxtest::ui::MouseMove(m_pForm->Handle(), pImage->Left() + x, pImage->Top() + y));
}

bool GeneratorFixture::ArmAndStep(int x, int y)
{
    // A step always leaves the window disarmed; before the first one the
    // state depends on how often the timer ran, so a second tick may be needed.
    for (int i = 0; i < 2; ++i) {
        m_pForm->tmrKeyGeneratorTimer(m_pForm->tmrKeyGenerator);
        if (m_pForm->DoAddMouseChar(x, y)) return true;
    }
    return false;
}

}  // namespace gentest
