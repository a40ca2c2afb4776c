// The owner handle: one per module name and process. Asking again for the
// same module name gives the same handle (counted); the last
// FreeLSOwnerHandle releases it.
#include <windows.h>

#include <new>

#include "CmnPrivate.h"
#include "KTXCMN32.h"
#include "LSStr.h"

namespace {

// The owners of the process, guarded by g_cs. A process has a handful at most.
constexpr int kMaxOwners = 32;
TLSOwner* g_apOwners[kMaxOwners];

CRITICAL_SECTION* OwnerLock()
{
    // A function-local static is initialised once, thread-safely.
    static struct Lock {
        CRITICAL_SECTION cs;
        Lock() { InitializeCriticalSection(&cs); }
    } s_lock;
    return &s_lock.cs;
}

class OwnerGuard {
public:
    OwnerGuard() { EnterCriticalSection(OwnerLock()); }
    ~OwnerGuard() { LeaveCriticalSection(OwnerLock()); }
    OwnerGuard(const OwnerGuard&) = delete;
    OwnerGuard& operator=(const OwnerGuard&) = delete;
};

int FindOwner(const TLSOwner* pOwner)
{
    for (int i = 0; i < kMaxOwners; ++i) {
        if (g_apOwners[i] && g_apOwners[i] == pOwner) return i;
    }
    return -1;
}

}  // namespace

namespace cmn32tools {

OwnerState* StateOf(TLSOwner* pOwner)
{
    if (!pOwner) return nullptr;
    OwnerGuard guard;
    if (FindOwner(pOwner) < 0) return nullptr;
    auto* pState = static_cast<OwnerState*>(pOwner->pPrivate);
    return (pState && pState->dwMagic == kOwnerMagic) ? pState : nullptr;
}

void GetDialogDll(TLSOwner* pOwner, char* pszOut, DWORD dwSize)
{
    if (!pszOut || dwSize == 0) return;
    LSStrCopy(pszOut, dwSize, kDefaultDialogDll);
    if (!pOwner) return;
    OwnerGuard guard;
    if (FindOwner(pOwner) < 0) return;
    auto* pState = static_cast<OwnerState*>(pOwner->pPrivate);
    if (pState && pState->dwMagic == kOwnerMagic && pState->szDialogDll[0])
        LSStrCopy(pszOut, dwSize, pState->szDialogDll);
}

void SetDialogDll(TLSOwner* pOwner, const char* pszDll)
{
    if (!pOwner || !pszDll || !*pszDll) return;
    OwnerGuard guard;
    if (FindOwner(pOwner) < 0) return;
    auto* pState = static_cast<OwnerState*>(pOwner->pPrivate);
    if (pState && pState->dwMagic == kOwnerMagic) LSStrCopy(pState->szDialogDll, sizeof(pState->szDialogDll), pszDll);
}

HMODULE SelfModule()
{
    HMODULE hModule = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&SelfModule), &hModule);
    return hModule;
}

bool SelfFolder(char* pszOut, DWORD dwSize)
{
    if (!pszOut || dwSize == 0) return false;
    pszOut[0] = '\0';
    char szPath[MAX_PATH];
    DWORD n = GetModuleFileNameA(SelfModule(), szPath, sizeof(szPath));
    if (n == 0 || n >= sizeof(szPath)) return false;
    char* pszSep = nullptr;
    for (char* p = szPath; *p; ++p) {
        if (*p == '\\' || *p == '/') pszSep = p;
    }
    if (!pszSep) return false;
    pszSep[1] = '\0';
    return LSStrCopy(pszOut, dwSize, szPath);
}

}  // namespace cmn32tools

extern "C" KTXCMN32_API TLSOwner* GetLSOwnerHandle(const char* pszModule)
{
    const char* pszName = pszModule ? pszModule : "";
    OwnerGuard guard;
    int nFree = -1;
    for (int i = 0; i < kMaxOwners; ++i) {
        TLSOwner* p = g_apOwners[i];
        if (!p) {
            if (nFree < 0) nFree = i;
            continue;
        }
        if (lstrcmpiA(p->szModule, pszName) == 0) {
            static_cast<cmn32tools::OwnerState*>(p->pPrivate)->nRefs++;
            return p;
        }
    }
    if (nFree < 0) return nullptr;

    TLSOwner* pOwner = new (std::nothrow) TLSOwner();
    auto* pState = new (std::nothrow) cmn32tools::OwnerState();
    if (!pOwner || !pState) {
        delete pOwner;
        delete pState;
        return nullptr;
    }
    pState->dwMagic = cmn32tools::kOwnerMagic;
    pState->nRefs = 1;
    pOwner->pPrivate = pState;
    pOwner->hOwnerWnd = nullptr;
    pOwner->bDlgPosSet = false;
    pOwner->pStartUpForm = nullptr;
    LSStrCopy(pOwner->szModule, sizeof(pOwner->szModule), pszName);
    ClearLSError(&pOwner->rErrHandler);
    g_apOwners[nFree] = pOwner;
    return pOwner;
}

extern "C" KTXCMN32_API bool FreeLSOwnerHandle(TLSOwner* pOwner)
{
    if (!pOwner) return false;
    OwnerGuard guard;
    int nIndex = FindOwner(pOwner);
    if (nIndex < 0) return false;  // not one of ours: leave it alone
    auto* pState = static_cast<cmn32tools::OwnerState*>(pOwner->pPrivate);
    if (--pState->nRefs > 0) return true;
    g_apOwners[nIndex] = nullptr;
    // The error record may name files and details of the user's work.
    SecureZeroMemory(pState, sizeof(*pState));
    SecureZeroMemory(pOwner, sizeof(*pOwner));
    delete pState;
    delete pOwner;
    return true;
}
