// The question asked when no safe file is set up.
#include "DlgImportSave.h"

#include "KTXLANG.h"

namespace ktxdlg {

TfrmImportSave::TfrmImportSave(TLSOwner* pOwner, HWND hParent, const char* pszImportText, const char* pszNewText)
    : TForm(nullptr, "TfrmImportSave", ResolveParent(pOwner, hParent))
{
    const int cxClient = 440;
    const int cxInner = cxClient - 2 * kMargin;
    const int cyChoice = 32;
    SetupDialogForm(this, DLS_DLG_IMPSAVE_CAPTION());

    int y = kMargin;
    txtFrage = MakeText(this, DLS_DLG_IMPSAVE_QUESTION(), kMargin, y, cxInner, 48);
    y += 48 + kGap;
    btnImport = MakeButton(this, (pszImportText && *pszImportText) ? pszImportText : DLS_TXT_SAFE_IMPORT(), kMargin,
                           y, cxInner, cyChoice);
    btnImport->SetName("btnImport");
    btnImport->SetModalResult(LS_IMPORTSAVE_IMPORT);
    y += cyChoice + kGap;
    btnNeu = MakeButton(this, (pszNewText && *pszNewText) ? pszNewText : DLS_TXT_SAFE_SAVE(), kMargin, y, cxInner,
                        cyChoice);
    btnNeu->SetName("btnNeu");
    btnNeu->SetModalResult(LS_IMPORTSAVE_NEW);
    y += cyChoice + 2 * kGap;
    btnAbbrechen = MakeButton(this, DLS_DLG_BTN_CANCEL(), cxClient - kMargin - kButtonWidth, y, kButtonWidth,
                              kButtonHeight);
    btnAbbrechen->SetName("btnAbbrechen");
    btnAbbrechen->SetModalResult(mrCancel);
    // Enter takes the focused choice, at first an existing safe file, the
    // choice that changes nothing.
    SetDefaultButton(btnImport);
    btnImport->OnEnter = [this](TObject*) { SetDefaultButton(btnImport); };
    btnNeu->OnEnter = [this](TObject*) { SetDefaultButton(btnNeu); };
    btnAbbrechen->OnEnter = [this](TObject*) { SetDefaultButton(btnAbbrechen); };
    SetCancelButton(btnAbbrechen);
    SetClientSize(cxClient, y + kButtonHeight + kMargin);
    SetActiveControl(btnImport);
    PlaceForm(this, pOwner);
}

}  // namespace ktxdlg
