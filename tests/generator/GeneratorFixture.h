// A password generator window built for each test with the process owner of
// "KTSafe.EXE", with no generator settings stored beforehand.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "DlgPasswordGenerator.h"
#include "KTXCMN32.h"

namespace gentest {

// Removes the stored generator settings; false when some are still readable.
bool ClearStoredSettings();

// The text of an edit (test data only).
std::string EditText(TEdit* pEdit);

// Character classes of printable ASCII, defined here independently of the product.
bool IsUpper(char ch);
bool IsLower(char ch);
bool IsDigit(char ch);
bool IsSpecial(char ch);

struct Classes {
    bool bUpper;
    bool bLower;
    bool bDigits;
    bool bSpecial;
};
// Whether ch belongs to one of the classes.
bool InClasses(char ch, const Classes& classes);
// "ULDS" style name of a class set, for test output.
std::string ClassesName(const Classes& classes);

// Counts the ticks of a timer while it keeps running its own handler; the
// handler is put back on destruction.
class TickCounter {
public:
    explicit TickCounter(TTimer* pTimer) : m_pTimer(pTimer), m_original(pTimer->OnTimer)
    {
        m_pTimer->OnTimer = [this](TObject* Sender) {
            ++m_nTicks;
            if (m_original) m_original(Sender);
        };
    }
    ~TickCounter() { m_pTimer->OnTimer = m_original; }
    TickCounter(const TickCounter&) = delete;
    TickCounter& operator=(const TickCounter&) = delete;

    int Ticks() const { return m_nTicks; }
    void Reset() { m_nTicks = 0; }

private:
    TTimer* m_pTimer;
    TNotifyEvent m_original;
    int m_nTicks = 0;
};

class GeneratorFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Deletes the window and builds a new one (settings stay as stored).
    void Recreate();

    // Clicks a control as the user does (BM_CLICK).
    void ClickControl(TWinControl* pControl);
    // Clicks the up or down arrow of udAnzahl once.
    void ClickUpDown(bool bUp);
    // Clicks the arrows until udAnzahl shows nLength.
    void SetLengthByClicks(int nLength);
    // Sets the four class boxes by clicking those that differ.
    void SetClassesByClicks(const Classes& classes);

    // A WM_MOUSEMOVE sent to the form at picture coordinates (x, y).
    void MoveOverPicture(int x, int y);
    // Arms the window through its timer handler and makes one step at
    // (x, y); true when a character was added.
    bool ArmAndStep(int x, int y);

    std::string Password() const { return EditText(m_pForm->edPasswort); }

    TLSOwner* m_pOwner = nullptr;
    TfrmPasswordManager* m_pForm = nullptr;
};

}  // namespace gentest
