// The owner handle: one per module name and process.
#include <windows.h>

#include <new>

#include "KTXCMN32.h"
#include "LSStr.h"

extern "C" KTXCMN32_API TLSOwner* GetLSOwnerHandle(const char* pszModule)
{
    TLSOwner* pOwner = new (std::nothrow) TLSOwner();
    if (!pOwner) return nullptr;
    LSStrCopy(pOwner->szModule, sizeof(pOwner->szModule), pszModule ? pszModule : "");
    ClearLSError(&pOwner->rErrHandler);
    return pOwner;
}

extern "C" KTXCMN32_API bool FreeLSOwnerHandle(TLSOwner* pOwner)
{
    if (!pOwner) return false;
    SecureZeroMemory(pOwner, sizeof(*pOwner));
    delete pOwner;
    return true;
}
