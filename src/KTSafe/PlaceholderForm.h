// Stands in for the start-up form until it exists: a small borderless grey
// banner of window class "TfrmDoSafe", the application's main form, which ends
// the program when it is closed.
#pragma once

#include "Toolkit.h"

class TLSPlaceholderForm : public TForm {
public:
    explicit TLSPlaceholderForm(TComponent* pOwner);

    TLabel* lblStart;

    char** ppszArgv = nullptr;
    int nArgc = 0;
};
