// A safe dialog built for each test with the process owner of "KTSafe.EXE",
// with no settings stored beforehand, and helpers to show, close and inspect it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DlgSafe.h"
#include "KTXCMN32.h"

namespace safetest {

// The settings key of the dialog.
constexpr char kSafeKey[] = "software\\vornix\\KTX\\Safe";

// The text of an edit (test data only).
std::string EditText(TEdit* pEdit);
// The component of that name anywhere below pRoot (ownership tree), or null.
TComponent* FindNamed(TComponent* pRoot, const std::string& name);
// The process ids of the running log viewers.
std::vector<DWORD> ViewerProcesses();
// Ends every running log viewer.
void EndViewers();
// Whether a process has ended (waits up to timeoutMs).
bool ProcessEnded(DWORD pid, DWORD timeoutMs);

class SafeDlgFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Deletes the dialog and builds a new one.
    void Recreate();
    // Shows the dialog without a modal run and waits until its start-up
    // timer has run (the owner's window slot names the dialog).
    void ShowAndStart();

    TLSOwner* m_pOwner = nullptr;
    TfrmDlgSafe* m_pDlg = nullptr;
    // A window standing for whatever held the owner's slot before.
    HWND m_hPrevSlot = nullptr;
};

}  // namespace safetest
