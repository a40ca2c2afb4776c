// The question asked when no safe file is set up: use an existing safe file
// or create a new safe.
#pragma once

#include "DlgCommon.h"

namespace ktxdlg {

// Two choice buttons captioned by the caller's texts and Cancel. The modal
// result is LS_IMPORTSAVE_IMPORT, LS_IMPORTSAVE_NEW or mrCancel.
class TfrmImportSave : public TForm {
public:
    TfrmImportSave(TLSOwner* pOwner, HWND hParent, const char* pszImportText, const char* pszNewText);

    TStaticText* txtFrage;
    TButton* btnImport;
    TButton* btnNeu;
    TButton* btnAbbrechen;
};

}  // namespace ktxdlg
