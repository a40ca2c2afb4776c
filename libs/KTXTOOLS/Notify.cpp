// Change notification between the product's processes of one user.
//
// A shared memory area (named after the user's SID, in the session's Local
// namespace) holds one slot per listener: its process, its owner, a
// generation and a word of pending event bits. Every listener has a named
// auto-reset event "<base>.Ev.<slot>.<generation>" and a thread that waits on
// it. A sender ORs its bits into every other listener's pending word and sets
// that listener's event; the listener's thread takes the word (leaving zero)
// and hands the bits to its callback. Bits of events that come faster than
// the callback runs are merged, never lost: the last event always wakes the
// listener after its bits are in the word. A slot whose event no longer
// exists belonged to a process that ended; it is freed when found.
//
// "Other" listeners: a listener of the sending process with the sender's
// owner does not receive the event unless the sender asks for it (bFlag).
#include <windows.h>
#include <sddl.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "ToolsInternal.h"

using namespace ktxtools;

namespace {

constexpr DWORD kAreaMagic = 0x4E58544B;  // "KTXN"
constexpr DWORD kAreaVersion = 1;
constexpr int kSlots = 64;
constexpr DWORD kLockTimeout = 10000;

struct SharedSlot {
    volatile LONG nInUse;       // 1 while a listener owns the slot
    volatile LONG nGeneration;  // changes with every listener that takes the slot
    volatile LONG nPending;     // event bits not yet handed to the callback
    DWORD dwPid;                // process of the listener
    LONG64 nOwnerTag;           // owner of the listener within its process
};

struct SharedArea {
    volatile LONG dwMagic;
    DWORD dwVersion;
    SharedSlot aSlots[kSlots];
};

// The process's view of the shared area, made once and kept for the life of
// the process.
class Session {
public:
    static Session* Get();
    bool Init();
    SharedArea* Area() const { return m_pArea; }
    HANDLE Lock() const { return m_hLock; }
    std::string EventName(int nSlot, LONG nGeneration) const
    {
        return m_base + ".Ev." + std::to_string(nSlot) + "." + std::to_string(nGeneration);
    }

private:
    std::string m_base;
    HANDLE m_hMapping = nullptr;
    HANDLE m_hLock = nullptr;
    SharedArea* m_pArea = nullptr;
};

// The area's lock, held for the life of the object.
class AreaLock {
public:
    explicit AreaLock(HANDLE hLock) : m_hLock(hLock)
    {
        DWORD r = ::WaitForSingleObject(hLock, kLockTimeout);
        m_bHeld = (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED);
    }
    ~AreaLock()
    {
        if (m_bHeld) ::ReleaseMutex(m_hLock);
    }
    AreaLock(const AreaLock&) = delete;
    AreaLock& operator=(const AreaLock&) = delete;
    bool Held() const { return m_bHeld; }

private:
    HANDLE m_hLock;
    bool m_bHeld = false;
};

bool UserSidText(std::string* pText)
{
    Handle token;
    HANDLE hToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
    token.Reset(hToken);
    DWORD cb = 0;
    ::GetTokenInformation(hToken, TokenUser, nullptr, 0, &cb);
    if (cb == 0 || cb > 4096) return false;
    std::vector<BYTE> buf(cb);
    if (!::GetTokenInformation(hToken, TokenUser, buf.data(), cb, &cb)) return false;
    char* pszSid = nullptr;
    if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &pszSid)) return false;
    *pText = pszSid;
    ::LocalFree(pszSid);
    return true;
}

bool Session::Init()
{
    std::string sid;
    if (!UserSidText(&sid)) sid = "user";
    m_base = "Local\\KTX.Notify." + sid;
    m_hLock = ::CreateMutexA(nullptr, FALSE, (m_base + ".Lock").c_str());
    if (!m_hLock) return false;
    m_hMapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedArea),
                                      (m_base + ".Area").c_str());
    if (!m_hMapping) return false;
    m_pArea = static_cast<SharedArea*>(::MapViewOfFile(m_hMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedArea)));
    if (!m_pArea) return false;
    AreaLock lock(m_hLock);
    if (!lock.Held()) return false;
    if (m_pArea->dwMagic != static_cast<LONG>(kAreaMagic)) {
        // A new area is all zero: every slot free.
        m_pArea->dwVersion = kAreaVersion;
        ::InterlockedExchange(&m_pArea->dwMagic, static_cast<LONG>(kAreaMagic));
    }
    return m_pArea->dwVersion == kAreaVersion;
}

namespace {
Session* g_pSession = nullptr;  // kept for the life of the process

BOOL CALLBACK MakeSession(PINIT_ONCE, PVOID, PVOID*)
{
    Session* pSession = new (std::nothrow) Session();
    if (pSession && pSession->Init()) g_pSession = pSession;
    return TRUE;
}
}  // namespace

Session* Session::Get()
{
    static INIT_ONCE s_once = INIT_ONCE_STATIC_INIT;
    ::InitOnceExecuteOnce(&s_once, MakeSession, nullptr, nullptr);
    return g_pSession;
}

LONG64 OwnerTag(TLSOwner* pOwner) { return static_cast<LONG64>(reinterpret_cast<uintptr_t>(pOwner)); }

// One listener of this process.
struct Listener {
    TLSOwner* pOwner = nullptr;
    LSNOTIFYCALLBACK pfnCallback = nullptr;
    void* pContext = nullptr;
    int nSlot = -1;
    LONG nGeneration = 0;
    Handle hEvent;
    Handle hStop;
    Handle hThread;
    DWORD dwThreadId = 0;
    volatile LONG bStopping = 0;
    volatile LONG bSelfClose = 0;  // closed from its own callback: the thread cleans up
};

// The listeners of this process, by thread id.
class Registry {
public:
    Registry() { ::InitializeCriticalSection(&m_cs); }
    void Add(Listener* p)
    {
        ::EnterCriticalSection(&m_cs);
        m_list.push_back(p);
        ::LeaveCriticalSection(&m_cs);
    }
    Listener* Take(DWORD dwThreadId)
    {
        Listener* pFound = nullptr;
        ::EnterCriticalSection(&m_cs);
        for (size_t i = 0; i < m_list.size(); ++i) {
            if (m_list[i]->dwThreadId == dwThreadId) {
                pFound = m_list[i];
                m_list.erase(m_list.begin() + static_cast<ptrdiff_t>(i));
                break;
            }
        }
        ::LeaveCriticalSection(&m_cs);
        return pFound;
    }

private:
    CRITICAL_SECTION m_cs;
    std::vector<Listener*> m_list;
};

Registry& Listeners()
{
    static Registry* s_pRegistry = new Registry();  // lives as long as the process
    return *s_pRegistry;
}

void ReleaseSlot(Session* pSession, const Listener* pListener)
{
    AreaLock lock(pSession->Lock());
    SharedSlot& slot = pSession->Area()->aSlots[pListener->nSlot];
    if (slot.nGeneration == pListener->nGeneration) {
        ::InterlockedExchange(&slot.nPending, 0);
        ::InterlockedExchange(&slot.nInUse, 0);
    }
}

void DeleteListener(Listener* pListener)
{
    Session* pSession = Session::Get();
    if (pSession && pListener->nSlot >= 0) ReleaseSlot(pSession, pListener);
    delete pListener;
}

DWORD WINAPI ListenerThread(LPVOID pParam)
{
    auto* pListener = static_cast<Listener*>(pParam);
    SharedSlot& slot = Session::Get()->Area()->aSlots[pListener->nSlot];
    HANDLE ahWait[2] = {pListener->hStop.Get(), pListener->hEvent.Get()};
    for (;;) {
        DWORD r = ::WaitForMultipleObjects(2, ahWait, FALSE, INFINITE);
        if (r != WAIT_OBJECT_0 + 1 || pListener->bStopping) break;
        DWORD dwEvents = static_cast<DWORD>(::InterlockedExchange(&slot.nPending, 0));
        if (dwEvents == 0 || pListener->bStopping) continue;
        try {
            pListener->pfnCallback(pListener->pOwner, &dwEvents, pListener->pContext);
        } catch (...) {
            LS_TRACE_LOG(nullptr, "KTXTOOLS: notification callback failed");
        }
        if (pListener->bStopping) break;
    }
    if (pListener->bSelfClose) {
        // Closed from inside the callback: nobody waits for this thread.
        DeleteListener(pListener);
    }
    return 0;
}

// Takes a free slot (freeing those of ended processes when none is free).
int TakeSlot(Session* pSession, Listener* pListener, DWORD* pdwErr)
{
    AreaLock lock(pSession->Lock());
    if (!lock.Held()) {
        *pdwErr = WAIT_TIMEOUT;
        return -1;
    }
    SharedArea* pArea = pSession->Area();
    for (int nPass = 0; nPass < 2; ++nPass) {
        for (int i = 0; i < kSlots; ++i) {
            SharedSlot& slot = pArea->aSlots[i];
            if (slot.nInUse && nPass == 1) {
                Handle probe(::OpenEventA(SYNCHRONIZE, FALSE, pSession->EventName(i, slot.nGeneration).c_str()));
                if (!probe.Valid()) ::InterlockedExchange(&slot.nInUse, 0);
            }
            if (slot.nInUse) continue;
            LONG nGeneration = ::InterlockedIncrement(&slot.nGeneration);
            Handle hEvent(::CreateEventA(nullptr, FALSE, FALSE, pSession->EventName(i, nGeneration).c_str()));
            if (!hEvent.Valid()) {
                *pdwErr = ::GetLastError();
                return -1;
            }
            pListener->hEvent = std::move(hEvent);
            pListener->nSlot = i;
            pListener->nGeneration = nGeneration;
            slot.dwPid = ::GetCurrentProcessId();
            slot.nOwnerTag = OwnerTag(pListener->pOwner);
            ::InterlockedExchange(&slot.nPending, 0);
            ::InterlockedExchange(&slot.nInUse, 1);
            return i;
        }
    }
    *pdwErr = ERROR_TOO_MANY_OPEN_FILES;
    return -1;
}

// Waits for a thread to end, answering messages sent to this thread meanwhile
// (a callback that sends to the closing window must not dead-lock).
void WaitForThreadEnd(HANDLE hThread)
{
    for (;;) {
        DWORD r = ::MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) break;
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

extern "C" KTXTOOLS_API bool DoStartLSNotifyThread(TLSOwner* pOwner, LSNOTIFYCALLBACK pfnCallback, void* pContext,
                                                   DWORD* pdwThread)
{
    static const char kFailed[] = "DoStartLSNotifyThread failed!";
    return Guard(pOwner, "DoStartLSNotifyThread", kFailed, [&] {
        if (pdwThread) *pdwThread = 0;
        if (!pfnCallback || !pdwThread) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        Session* pSession = Session::Get();
        if (!pSession) return KTX_RECORD(pOwner, false, ::GetLastError(), kFailed);

        auto* pListener = new Listener();
        pListener->pOwner = pOwner;
        pListener->pfnCallback = pfnCallback;
        pListener->pContext = pContext;
        pListener->hStop.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        DWORD dwErr = 0;
        if (!pListener->hStop.Valid() || TakeSlot(pSession, pListener, &dwErr) < 0) {
            if (!dwErr) dwErr = ::GetLastError();
            DeleteListener(pListener);
            return KTX_RECORD(pOwner, false, dwErr, kFailed);
        }
        // The thread starts suspended, so it is registered before it can run.
        DWORD dwThreadId = 0;
        HANDLE hThread = ::CreateThread(nullptr, 0, ListenerThread, pListener, CREATE_SUSPENDED, &dwThreadId);
        if (!hThread) {
            dwErr = ::GetLastError();
            DeleteListener(pListener);
            return KTX_RECORD(pOwner, false, dwErr, kFailed);
        }
        pListener->hThread.Reset(hThread);
        pListener->dwThreadId = dwThreadId;
        Listeners().Add(pListener);
        ::ResumeThread(hThread);
        *pdwThread = dwThreadId;
        return true;
    });
}

extern "C" KTXTOOLS_API bool DoSetLSNotifyEvent(TLSOwner* pOwner, DWORD dwEvents, bool bFlag)
{
    static const char kFailed[] = "DoSetLSNotifyEvent failed!";
    return Guard(pOwner, "DoSetLSNotifyEvent", kFailed, [&] {
        if (dwEvents == 0) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        Session* pSession = Session::Get();
        if (!pSession) return KTX_RECORD(pOwner, false, ::GetLastError(), kFailed);
        AreaLock lock(pSession->Lock());
        if (!lock.Held()) return KTX_RECORD(pOwner, false, WAIT_TIMEOUT, kFailed);
        const DWORD dwPid = ::GetCurrentProcessId();
        const LONG64 nTag = OwnerTag(pOwner);
        for (int i = 0; i < kSlots; ++i) {
            SharedSlot& slot = pSession->Area()->aSlots[i];
            if (!slot.nInUse) continue;
            if (!bFlag && slot.dwPid == dwPid && slot.nOwnerTag == nTag) continue;  // the sender's own
            Handle hEvent(::OpenEventA(EVENT_MODIFY_STATE, FALSE, pSession->EventName(i, slot.nGeneration).c_str()));
            if (!hEvent.Valid()) {
                ::InterlockedExchange(&slot.nInUse, 0);  // its process has ended
                continue;
            }
            ::InterlockedOr(&slot.nPending, static_cast<LONG>(dwEvents));
            ::SetEvent(hEvent.Get());
        }
        return true;
    });
}

extern "C" KTXTOOLS_API bool DoCloseLSNotifyThread(TLSOwner* pOwner, DWORD* pdwThread)
{
    static const char kFailed[] = "DoCloseLSNotifyThread failed!";
    return Guard(pOwner, "DoCloseLSNotifyThread", kFailed, [&] {
        if (!pdwThread) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        if (*pdwThread == 0) return true;  // nothing was started
        Listener* pListener = Listeners().Take(*pdwThread);
        if (!pListener) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        *pdwThread = 0;
        ::InterlockedExchange(&pListener->bStopping, 1);
        if (::GetCurrentThreadId() == pListener->dwThreadId) {
            // From inside its own callback: the thread ends when the callback
            // returns and cleans up after itself.
            ::InterlockedExchange(&pListener->bSelfClose, 1);
            ::SetEvent(pListener->hStop.Get());
            return true;
        }
        ::SetEvent(pListener->hStop.Get());
        WaitForThreadEnd(pListener->hThread.Get());
        DeleteListener(pListener);
        return true;
    });
}
