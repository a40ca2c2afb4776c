// A DLL that links its own copy of the toolkit, as KTXDlg.DLL does: its
// exported function shows a modal form without the DLL's application loop.
#include "Toolkit.h"

namespace {

class TfrmDllTest : public TForm {
public:
    explicit TfrmDllTest(HWND hParent) : TForm(nullptr, "TfrmDllTest", hParent)
    {
        SetCaption("Dll form");
        SetBorderStyle(bsDialog);
        SetClientSize(240, 80);
        btnOk = new TButton(this);
        btnOk->SetBounds(80, 40, 75, 25);
        btnOk->SetCaption("OK");
        btnOk->SetModalResult(mrOk);
        btnOk->SetDefault(true);
        tmrTick = new TTimer(this);
        tmrTick->SetInterval(20);
        tmrTick->OnTimer = [this](TObject*) { ++nTicks; };
    }
    TButton* btnOk;
    TTimer* tmrTick;
    int nTicks = 0;
};

}  // namespace

// Shows the form modally; returns the modal result, or -1 when something
// escaped. *pnTicks receives the timer ticks seen meanwhile.
extern "C" __declspec(dllexport) int TkDllShowForm(HWND hParent, int* pnTicks)
{
    try {
        TfrmDllTest frm(hParent);
        int result = frm.ShowModal();
        if (pnTicks) *pnTicks = frm.nTicks;
        return result;
    } catch (...) {
        return -1;
    }
}
