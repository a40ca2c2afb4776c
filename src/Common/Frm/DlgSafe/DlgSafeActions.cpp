// The safe dialog's field actions: the password shown in clear, the URL
// checked and opened, a field's text dragged into another program, the
// password generator, and the buttons for the certificate manager, help,
// about box and safe log.
//
// Secrets in this unit: the text of a dragged field (the password among
// them) and the URL of the shown entry pass through local buffers only,
// which are wiped on every way out; none of them reaches a trace line.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"

namespace {

// Help topic of the safe dialog.
constexpr int kHelpTopic = 22;
// Mode of the certificate manager in which the user only manages.
constexpr int kCertMgrManage = 1;
// A drag starts once the pointer is this many pixels above or below the
// point where the button went down.
constexpr int kDragDistanceY = 10;

// Wipes a buffer when its scope ends, whichever way it ends.
class TLSWipeOnExit {
public:
    TLSWipeOnExit(void* pBuffer, size_t cbBuffer) : m_pBuffer(pBuffer), m_cbBuffer(cbBuffer) {}
    ~TLSWipeOnExit() { SecureZeroMemory(m_pBuffer, m_cbBuffer); }
    TLSWipeOnExit(const TLSWipeOnExit&) = delete;
    TLSWipeOnExit& operator=(const TLSWipeOnExit&) = delete;

private:
    void* m_pBuffer;
    size_t m_cbBuffer;
};

}  // namespace

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

bool TfrmDlgSafe::DoShowPasswort()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoShowPasswort");
    ClearLSError(pErrHandler);
    bCancel = false;

    // The hint tells what the next click does.
    if (editPasswort->PasswordChar() == '\0') {
        editPasswort->SetPasswordChar('*');
        btnPasswortSichtbar->SetHint(DLS_HINT_PASSWORT_KLAR());
    } else {
        editPasswort->SetPasswordChar('\0');
        btnPasswortSichtbar->SetHint(DLS_HINT_PASSWORT_VERSTECKT());
    }
    OnLSChange(true);
    bCancel = false;
    return LS_DEF_ERROR(pErrHandler, true, "TfrmDlgSafe::DoShowPasswort failed!");
}

bool TfrmDlgSafe::GetCheckedURL(char* pszURL)
{
    pszURL[0] = '\0';
    // A text that does not fit is refused, never cut: a cut URL names
    // another page.
    const int nLen = editURL->GetTextLen();
    if (nLen <= 0 || nLen >= static_cast<int>(LS_PATH_SIZE)) return false;
    if (editURL->GetTextBuf(pszURL, LS_PATH_SIZE) != nLen) return false;
    return TLSTools::DoCheckURL(pszURL);
}

bool TfrmDlgSafe::DoOpenBrowser()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoOpenBrowser");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = pShell != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_HANDLE);

    // Only a checked URL goes to the shell: the field's text as typed could
    // name a program or a local file, which the shell would start.
    char szURL[LS_PATH_SIZE] = {};
    TLSWipeOnExit wipeURL(szURL, sizeof(szURL));
    if (bResult && !GetCheckedURL(szURL)) {
        TLSError::StdHinweisMsg(pOwner, Handle(), DLS_TXT_REAL_URL());
        // Told: nothing is opened, and nothing more is reported.
        bCancel = true;
    }
    if (bResult && !bCancel) bResult = pShell->ShellCmd(Handle(), szURL, "open", "", false);

    bResult = LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoOpenBrowser failed!");
    return bResult && !bCancel;
}

bool TfrmDlgSafe::DoKeyGenerator()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoKeyGenerator");
    ClearLSError(pErrHandler);
    bCancel = false;
    bool bResult = pPasswordManager != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_HANDLE);

    if (bResult && !bCancel) bResult = pPasswordManager->DoReset();
    if (bResult && !bCancel) {
        // Not modal: the pickup timer watches the generator and offers its
        // password once it is finished.
        pPasswordManager->Show();
        tmrGetPassword->SetEnabled(true);
    }

    // The failure is recorded while the error code still names its cause;
    // telling the other listeners clears the error record.
    const bool bCancelled = bCancel;
    bResult = LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoKeyGenerator failed!");
    if (bResult && !bCancelled) {
        OnLSChange(true);
        bCancel = false;
    }
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, bCancelled, "TfrmDlgSafe::DoKeyGenerator failed!");
}

bool TfrmDlgSafe::DoStartFieldDrag(TShiftState Shift, int X, int Y, TEdit* pField)
{
    if (!pField || !pDragSrc) return false;
    if (pDragSrc->GetDropping() || !Shift.Contains(ssLeft)) return false;
    // Far enough from the press point: 10 pixels up or down, or sideways at
    // least as far as the pointer still is from the field's right edge.
    const bool bFarDown = std::abs(nMouseY - Y) >= kDragDistanceY;
    const bool bFarRight = std::abs(nMouseX - X) >= std::abs(pField->Width() - X);
    if (!bFarDown && !bFarRight) return false;

    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoStartFieldDrag");
    ClearLSError(pErrHandler);
    bCancel = false;
    nMouseX = -1;
    pField->SelectAll();
    pDragSrc->SetDropEffect(lsCopy);

    // The whole text goes, in clear also from the masked password field.
    const int nLen = pField->GetTextLen();
    std::vector<char> text(static_cast<size_t>(nLen > 0 ? nLen : 0) + 1, '\0');
    TLSWipeOnExit wipeText(text.data(), text.size());
    pField->GetSelTextBuf(text.data(), static_cast<int>(text.size()));

    // The dialog takes no dropped files while its own text is dragged.
    pDragSrc->DisableFileDrop();
    const int nResult = pDragSrc->StartTextDrag(text.data());
    pDragSrc->EnableFileDrop();
    return nResult == LS_DRAG_DONE;
}

bool TfrmDlgSafe::DoCertMgr()
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoCertMgr");
    ClearLSError(pErrHandler);
    bCancel = false;

    std::unique_ptr<TVornixDyn> pCertDyn(new (std::nothrow) TVornixDyn(pOwner, "KTXDlg.DLL"));
    bool bResult = pCertDyn != nullptr;
    if (!bResult) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    // The user manages the certificates; nothing is handed back.
    if (bResult && !bCancel)
        bResult = pCertDyn->DYN_DoInputDlgCertificateMgr(pOwner, Handle(), nullptr, nullptr, nullptr, kCertMgrManage,
                                                         &bCancel);
    pCertDyn.reset();

    LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoCertMgr failed!");
    return TLSError::StdErrorMsg(pOwner, Handle(), bResult, bCancel, "TfrmDlgSafe::DoCertMgr failed!");
}

// ---------------------------------------------------------------------------
// Event handlers
// ---------------------------------------------------------------------------

void TfrmDlgSafe::btnPasswortSichtbarClick(TObject* Sender)
{
    DoShowPasswort();
}

void TfrmDlgSafe::btnBrowserOeffnenClick(TObject* Sender)
{
    DoOpenBrowser();
}

void TfrmDlgSafe::editURLExit(TObject* Sender)
{
    // Empty: nothing to check.
    if (editURL->GetTextLen() <= 0) return;

    char szShown[LS_PATH_SIZE] = {};
    char szURL[LS_PATH_SIZE] = {};
    TLSWipeOnExit wipeShown(szShown, sizeof(szShown));
    TLSWipeOnExit wipeURL(szURL, sizeof(szURL));
    editURL->GetTextBuf(szShown, sizeof(szShown));

    if (GetCheckedURL(szURL)) {
        // Only a rewritten URL goes back into the field, and then it is the
        // user's change: the entry is stored with it. The same text set
        // again would count as an edit of an entry only looked at.
        if (strcmp(szShown, szURL) != 0) editURL->SetTextBuf(szURL);
    } else {
        // The text stays as typed, and the user goes on with it.
        TLSError::StdHinweisMsg(pOwner, Handle(), DLS_TXT_REAL_URL());
        editURL->SetFocus();
    }
}

void TfrmDlgSafe::btnKeyGeneratorClick(TObject* Sender)
{
    DoKeyGenerator();
}

void TfrmDlgSafe::pumKeyGeneratorClick(TObject* Sender)
{
    DoKeyGenerator();
}

void TfrmDlgSafe::btnCertMgrClick(TObject* Sender)
{
    DoCertMgr();
}

void TfrmDlgSafe::btnHilfeClick(TObject* Sender)
{
    TVornixReg::DoShowQOVHilfe(pOwner, Handle(), kHelpTopic, false);
}

void TfrmDlgSafe::btnAboutClick(TObject* Sender)
{
    const std::string caption = Caption();
    TVornixDyn::DYN_DoShowAbout(pOwner, Handle(), caption.c_str());
}

void TfrmDlgSafe::btnLogFileClick(TObject* Sender)
{
    DoShowSafeLog();
}

// The press point of a drag: set by a button going down on a field, whatever
// the button; a button coming up ends the drag state.
void TfrmDlgSafe::FieldMouseDown(int X, int Y)
{
    nMouseX = X;
    nMouseY = Y;
    bMouseDown = true;
}

void TfrmDlgSafe::FieldMouseUp(int X, int Y)
{
    nMouseX = X;
    nMouseY = Y;
    bMouseDown = false;
}

void TfrmDlgSafe::FieldMouseMove(TShiftState Shift, int X, int Y, TEdit* pField)
{
    if (bMouseDown) DoStartFieldDrag(Shift, X, Y, pField);
}

void TfrmDlgSafe::editBenutzernameMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    FieldMouseDown(X, Y);
}

void TfrmDlgSafe::editPasswortMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    FieldMouseDown(X, Y);
}

void TfrmDlgSafe::editURLMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    FieldMouseDown(X, Y);
}

void TfrmDlgSafe::memoSafeMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    FieldMouseDown(X, Y);
}

void TfrmDlgSafe::editBenutzernameMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    FieldMouseUp(X, Y);
}

void TfrmDlgSafe::editPasswortMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    FieldMouseUp(X, Y);
}

void TfrmDlgSafe::editURLMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    FieldMouseUp(X, Y);
}

void TfrmDlgSafe::memoSafeMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)
{
    FieldMouseUp(X, Y);
}

void TfrmDlgSafe::editBenutzernameMouseMove(TObject* Sender, TShiftState Shift, int X, int Y)
{
    FieldMouseMove(Shift, X, Y, editBenutzername);
}

void TfrmDlgSafe::editPasswortMouseMove(TObject* Sender, TShiftState Shift, int X, int Y)
{
    FieldMouseMove(Shift, X, Y, editPasswort);
}

void TfrmDlgSafe::editURLMouseMove(TObject* Sender, TShiftState Shift, int X, int Y)
{
    FieldMouseMove(Shift, X, Y, editURL);
}

void TfrmDlgSafe::memoSafeMouseMove(TObject* Sender, TShiftState Shift, int X, int Y)
{
    FieldMouseMove(Shift, X, Y, memoSafe);
}

// ---------------------------------------------------------------------------
// Wiring
// ---------------------------------------------------------------------------

void TfrmDlgSafe::WireFieldActions()
{
    btnPasswortSichtbar->OnClick = TkMethod(this, &TfrmDlgSafe::btnPasswortSichtbarClick);
    btnBrowserOeffnen->OnClick = TkMethod(this, &TfrmDlgSafe::btnBrowserOeffnenClick);
    editURL->OnExit = TkMethod(this, &TfrmDlgSafe::editURLExit);
    btnKeyGenerator->OnClick = TkMethod(this, &TfrmDlgSafe::btnKeyGeneratorClick);
    pumKeyGenerator->OnClick = TkMethod(this, &TfrmDlgSafe::pumKeyGeneratorClick);
    btnCertMgr->OnClick = TkMethod(this, &TfrmDlgSafe::btnCertMgrClick);
    btnHilfe->OnClick = TkMethod(this, &TfrmDlgSafe::btnHilfeClick);
    btnAbout->OnClick = TkMethod(this, &TfrmDlgSafe::btnAboutClick);
    btnLogFile->OnClick = TkMethod(this, &TfrmDlgSafe::btnLogFileClick);

    editBenutzername->OnMouseDown = TkMethod(this, &TfrmDlgSafe::editBenutzernameMouseDown);
    editPasswort->OnMouseDown = TkMethod(this, &TfrmDlgSafe::editPasswortMouseDown);
    editURL->OnMouseDown = TkMethod(this, &TfrmDlgSafe::editURLMouseDown);
    memoSafe->OnMouseDown = TkMethod(this, &TfrmDlgSafe::memoSafeMouseDown);
    editBenutzername->OnMouseUp = TkMethod(this, &TfrmDlgSafe::editBenutzernameMouseUp);
    editPasswort->OnMouseUp = TkMethod(this, &TfrmDlgSafe::editPasswortMouseUp);
    editURL->OnMouseUp = TkMethod(this, &TfrmDlgSafe::editURLMouseUp);
    memoSafe->OnMouseUp = TkMethod(this, &TfrmDlgSafe::memoSafeMouseUp);
    editBenutzername->OnMouseMove = TkMethod(this, &TfrmDlgSafe::editBenutzernameMouseMove);
    editPasswort->OnMouseMove = TkMethod(this, &TfrmDlgSafe::editPasswortMouseMove);
    editURL->OnMouseMove = TkMethod(this, &TfrmDlgSafe::editURLMouseMove);
    memoSafe->OnMouseMove = TkMethod(this, &TfrmDlgSafe::memoSafeMouseMove);
}
