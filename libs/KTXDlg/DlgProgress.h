// The progress dialog: shows which entry of how many is being worked on while
// a long operation runs on the caller's thread. It has no Cancel button: the
// work it shows must not stop half-way.
#pragma once

#include <memory>

#include "DlgCommon.h"

namespace ktxdlg {

// The window: a heading, the line "name - i + 1 of count" and a bar.
class TfrmDlgProgress : public TForm {
public:
    TfrmDlgProgress(TLSOwner* pOwner, HWND hParent);

    // Shows the state of a progress record (null: an empty line, empty bar).
    void DoShowState(const TLSProgress* pProgress);
    void DoShowHeading(int nTextId);
    // Handles the messages waiting for this window and its controls (and only
    // those) and paints them now, so the window stays alive while the caller
    // works without returning to its message loop.
    void DoPumpOwnMessages();

    TStaticText* txtTitel;
    TStaticText* txtEintrag;
    TProgressBar* pbFortschritt;

private:
    void FormCloseQuery(TObject* Sender, bool& CanClose);
};

// The object handed out by DYN_DoGetFrmDlgProgress. The window is made on the
// first Show and lives until the object is freed.
class TLSProgressDlgImpl : public TLSProgressDlg {
public:
    TLSProgressDlgImpl(TLSOwner* pOwner, HWND hParent);
    ~TLSProgressDlgImpl() override;

    bool Show(TLSOwner* pOwner, HWND hParent, TLSProgress* pProgress, bool bVisible, int nTextId, int nFlags,
              bool* pbCancel) override;
    bool Step(TLSProgress* pProgress, bool* pbCancel) override;

    // The window while it exists (for its owner and for tests), else null.
    HWND WindowHandle() const;

private:
    TLSOwner* m_pOwner;
    HWND m_hParent;
    std::unique_ptr<TfrmDlgProgress> m_pForm;
};

// The text id of the heading for safe entries.
constexpr int kProgressTextEntries = 10011;

}  // namespace ktxdlg
