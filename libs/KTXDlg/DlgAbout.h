// The about box: product name, product version and the caller's text.
#pragma once

#include <string>

#include "DlgCommon.h"

namespace ktxdlg {

// The product version of a module's version resource: its "ProductVersion"
// text, else the fixed product version "a.b.c.d"; empty without a version
// resource.
std::string ModuleProductVersion(HMODULE hModule);

// The product version shown: that of the program module (KTSafe.exe), or,
// when the program carries no version resource, that of this library.
std::string ProductVersion();

class TfrmAbout : public TForm {
public:
    TfrmAbout(TLSOwner* pOwner, HWND hParent, const char* pszText);

    TStaticText* txtProdukt;
    TStaticText* txtVersion;
    TStaticText* txtText;
    TButton* btnOK;
};

}  // namespace ktxdlg
