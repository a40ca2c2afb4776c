// The process owner handle obtained by WinMain, for the forms' one-argument
// constructors. Null outside WinMain's run (and tolerated everywhere).
#pragma once

struct TLSOwner;

TLSOwner* LSGetProcessOwner();
void LSSetProcessOwner(TLSOwner* pOwner);
