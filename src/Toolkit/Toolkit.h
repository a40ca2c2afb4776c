// The GUI toolkit over Win32: forms, controls, events, timers, menus, file
// dialogs and the application object. Include this one header.
//
//   class TfrmExample : public TForm {
//   public:
//       explicit TfrmExample(TComponent* pOwner) : TForm(pOwner, "TfrmExample") {
//           SetClientSize(300, 120);
//           btnOk = new TButton(this);
//           btnOk->SetBounds(10, 10, 80, 25);
//           btnOk->SetCaption(DLS_BTN_OK());
//           btnOk->OnClick = TkMethod(this, &TfrmExample::btnOkClick);
//       }
//       TButton* btnOk;
//       void btnOkClick(TObject* Sender) { Close(); }
//   };
#pragma once

#include "TkCore.h"
#include "TkControls.h"
#include "TkForms.h"
#include "TkStdCtrls.h"
#include "TkListView.h"
#include "TkMenus.h"
#include "TkExtCtrls.h"
