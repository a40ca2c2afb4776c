#include "PlaceholderForm.h"

#include "KTXLANG.h"

TLSPlaceholderForm::TLSPlaceholderForm(TComponent* pOwner) : TForm(pOwner, "TfrmDoSafe")
{
    SetBorderStyle(bsNone);
    SetBorderIcons(0);
    SetClientSize(400, 40);
    SetColor(clGray);
    SetBorderWidth(1);
    SetPosition(poDesktopCenter);
    SetCaption(DLS_GLOBAL_CAPTION_SAFE());

    lblStart = new TLabel(this);
    lblStart->SetName("lblStart");
    lblStart->SetAutoSize(false);
    lblStart->SetAlign(alClient);
    lblStart->SetAlignment(taCenter);
    lblStart->SetLayout(tlCenter);
    lblStart->SetTransparent(true);
    lblStart->Font()->SetColor(clBlack);
    lblStart->Font()->SetSize(11);
    lblStart->SetCaption(DLS_LINK_CAPTION_SAFE());
}
