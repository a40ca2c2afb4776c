#include "ProcessOwner.h"

namespace {
TLSOwner* g_pProcessOwner = nullptr;
}

TLSOwner* LSGetProcessOwner()
{
    return g_pProcessOwner;
}

void LSSetProcessOwner(TLSOwner* pOwner)
{
    g_pProcessOwner = pOwner;
}
