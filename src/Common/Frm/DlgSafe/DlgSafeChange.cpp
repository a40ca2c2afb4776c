// The safe dialog: the change of the safe password and of the safe file's place.
#include "DlgSafe.h"

bool TfrmDlgSafe::DoChangePassword() { return false; }
bool TfrmDlgSafe::DoEncTresorWithNewPassword(const char*, const char*, bool) { return false; }
bool TfrmDlgSafe::DoChangeTresorFile() { return false; }
void TfrmDlgSafe::btnChangePasswordClick(TObject*) { DoChangePassword(); }
void TfrmDlgSafe::pumChangePasswordClick(TObject*) { DoChangePassword(); }
void TfrmDlgSafe::btnChangeTresorFileClick(TObject*) { DoChangeTresorFile(); }
void TfrmDlgSafe::pumChangeTresorFileClick(TObject*) { DoChangeTresorFile(); }
