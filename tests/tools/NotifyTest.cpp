// Change notification: between processes, to every other listener, never to
// the sender's own; merged under load without losing the last event; a
// prompt and clean close after which no callback runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KTXTOOLS.h"
#include "TestSupport.h"

namespace {

// What one listener saw.
struct Seen {
    std::atomic<int> nCalls{0};
    std::atomic<DWORD> dwAllBits{0};
    std::atomic<bool> bClosed{false};
    std::atomic<int> nAfterClose{0};
    HANDLE hCalled = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ~Seen() { CloseHandle(hCalled); }
};

bool RecordCallback(TLSOwner*, DWORD* pdwEvents, void* pContext)
{
    auto* pSeen = static_cast<Seen*>(pContext);
    if (pSeen->bClosed) pSeen->nAfterClose++;
    pSeen->nCalls++;
    pSeen->dwAllBits |= *pdwEvents;
    *pdwEvents &= ~static_cast<DWORD>(LS_NOTIFY_SAFE_CHANGED);
    SetEvent(pSeen->hCalled);
    return true;
}

// A listener with an owner of its own, closed at the end of the test.
class Listener {
public:
    explicit Listener(const char* pszName) : m_pOwner(GetLSOwnerHandle(pszName)) {}
    ~Listener()
    {
        Close();
        FreeLSOwnerHandle(m_pOwner);
    }
    bool Start() { return DoStartLSNotifyThread(m_pOwner, RecordCallback, &m_seen, &m_dwThread) && m_dwThread != 0; }
    bool Close()
    {
        if (!m_dwThread) return true;
        bool ok = DoCloseLSNotifyThread(m_pOwner, &m_dwThread);
        m_seen.bClosed = true;
        return ok;
    }
    bool WaitCall(DWORD ms) { return WaitForSingleObject(m_seen.hCalled, ms) == WAIT_OBJECT_0; }
    TLSOwner* Owner() const { return m_pOwner; }
    Seen& Saw() { return m_seen; }
    DWORD Thread() const { return m_dwThread; }

private:
    TLSOwner* m_pOwner;
    DWORD m_dwThread = 0;
    Seen m_seen;
};

std::string UniqueName(const char* pszBase)
{
    return std::string("Local\\") + pszBase + "." + std::to_string(GetCurrentProcessId()) + "." +
           std::to_string(GetTickCount());
}

// A listening tools_helper.exe.
class ChildListener {
public:
    ChildListener() : m_name(UniqueName("ktxtest.listen"))
    {
        m_hReady = CreateEventA(nullptr, TRUE, FALSE, (m_name + ".ready").c_str());
        m_hGot = CreateEventA(nullptr, FALSE, FALSE, (m_name + ".got").c_str());
        m_hQuit = CreateEventA(nullptr, TRUE, FALSE, (m_name + ".quit").c_str());
    }
    ~ChildListener()
    {
        Quit(10000, nullptr);
        CloseHandle(m_hReady);
        CloseHandle(m_hGot);
        CloseHandle(m_hQuit);
    }
    bool Start()
    {
        return m_child.Start("tools_helper.exe", "listen " + m_name) &&
               WaitForSingleObject(m_hReady, 30000) == WAIT_OBJECT_0;
    }
    bool WaitGot(DWORD ms) { return WaitForSingleObject(m_hGot, ms) == WAIT_OBJECT_0; }
    bool Quit(DWORD ms, DWORD* pdwCode)
    {
        SetEvent(m_hQuit);
        return m_child.Wait(ms, pdwCode);
    }
    ktxtest::ChildProcess& Process() { return m_child; }

private:
    std::string m_name;
    HANDLE m_hReady, m_hGot, m_hQuit;
    ktxtest::ChildProcess m_child;
};

TEST(Notify, ReachesOtherListenersButNotTheSendersOwn)
{
    Listener own("notify.sender"), other("notify.other");
    ASSERT_TRUE(own.Start());
    ASSERT_TRUE(other.Start());
    ASSERT_NE(own.Thread(), other.Thread());

    ASSERT_TRUE(DoSetLSNotifyEvent(own.Owner(), LS_NOTIFY_SAFE_CHANGED, false));
    ASSERT_TRUE(other.WaitCall(5000));
    EXPECT_EQ(other.Saw().dwAllBits.load(), static_cast<DWORD>(LS_NOTIFY_SAFE_CHANGED));
    EXPECT_FALSE(own.WaitCall(300)) << "the sender's own listener is left out";

    // Asked for, the sender's own listener hears it too.
    ASSERT_TRUE(DoSetLSNotifyEvent(own.Owner(), 0x200, true));
    EXPECT_TRUE(own.WaitCall(5000));
    EXPECT_TRUE(other.WaitCall(5000));
    EXPECT_EQ(own.Saw().dwAllBits.load(), 0x200u);

    ASSERT_TRUE(own.Close());
    ASSERT_TRUE(other.Close());
    EXPECT_EQ(own.Saw().nAfterClose.load(), 0);
    EXPECT_EQ(other.Saw().nAfterClose.load(), 0);
}

TEST(Notify, BetweenProcessesInBothDirections)
{
    ChildListener child;
    ASSERT_TRUE(child.Start());
    Listener here("notify.here");
    ASSERT_TRUE(here.Start());

    // From this process to the other: timed over several round trips.
    std::vector<DWORD> latencies;
    for (int i = 0; i < 9; ++i) {
        DWORD start = GetTickCount();
        ASSERT_TRUE(DoSetLSNotifyEvent(here.Owner(), LS_NOTIFY_SAFE_CHANGED, false));
        ASSERT_TRUE(child.WaitGot(10000)) << "round " << i;
        latencies.push_back(GetTickCount() - start);
    }
    std::sort(latencies.begin(), latencies.end());
    RecordProperty("median_latency_ms", static_cast<int>(latencies[latencies.size() / 2]));
    printf("notification latency between processes: median %lu ms, slowest %lu ms\n",
           static_cast<unsigned long>(latencies[latencies.size() / 2]), static_cast<unsigned long>(latencies.back()));
    EXPECT_LT(latencies[latencies.size() / 2], 200u) << "a notification reaches the other process at once";
    EXPECT_FALSE(here.WaitCall(200)) << "this process sent it: its own listener is left out";

    // From another process to this one.
    ktxtest::ChildProcess sender;
    ASSERT_TRUE(sender.Start("tools_helper.exe", "send 0x100"));
    DWORD code = 99;
    ASSERT_TRUE(sender.Wait(30000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(here.WaitCall(10000));
    EXPECT_TRUE(child.WaitGot(10000)) << "every other listener hears it";

    ASSERT_TRUE(child.Quit(30000, &code));
    EXPECT_EQ(code, 0u) << "the child closed its listener cleanly";
}

TEST(Notify, ManyEventsUnderLoadKeepTheLastOne)
{
    Listener listener("notify.listener");
    ASSERT_TRUE(listener.Start());
    ChildListener bystander;  // a listener in another process
    ASSERT_TRUE(bystander.Start());

    TLSOwner* pSender = GetLSOwnerHandle("notify.load");
    std::atomic<int> nFailed{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < 250; ++i) {
                if (!DoSetLSNotifyEvent(pSender, LS_NOTIFY_SAFE_CHANGED, false)) nFailed++;
            }
        });
    }
    for (std::thread& t : senders) t.join();
    EXPECT_EQ(nFailed.load(), 0);
    // The last event after the 1,000: it must arrive, however the others were merged.
    ASSERT_TRUE(DoSetLSNotifyEvent(pSender, 0x400, false));
    EXPECT_TRUE(ktxtest::WaitFor([&] { return (listener.Saw().dwAllBits.load() & 0x400) != 0; }, 10000));
    EXPECT_GE(listener.Saw().nCalls.load(), 1);
    EXPECT_TRUE(bystander.WaitGot(10000));
    FreeLSOwnerHandle(pSender);
    ASSERT_TRUE(listener.Close());
    EXPECT_EQ(listener.Saw().nAfterClose.load(), 0);
}

TEST(Notify, ClosesPromptlyWhileEventsKeepComing)
{
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        auto listener = std::make_unique<Listener>("notify.closing");
        ASSERT_TRUE(listener->Start());
        TLSOwner* pSender = GetLSOwnerHandle("notify.hammer");
        std::atomic<bool> bStop{false};
        std::thread hammer([&] {
            while (!bStop) DoSetLSNotifyEvent(pSender, LS_NOTIFY_SAFE_CHANGED, false);
        });
        ASSERT_TRUE(listener->WaitCall(10000));

        // Close from another thread, watched: it must not hang.
        std::atomic<bool> bClosed{false};
        std::thread closer([&] {
            listener->Close();
            bClosed = true;
        });
        bool bInTime = ktxtest::WaitFor([&] { return bClosed.load(); }, 10000);
        closer.join();
        EXPECT_TRUE(bInTime);
        int nCallsAtClose = listener->Saw().nCalls.load();
        Sleep(50);
        EXPECT_EQ(listener->Saw().nCalls.load(), nCallsAtClose) << "no callback after the close returned";
        EXPECT_EQ(listener->Saw().nAfterClose.load(), 0);
        bStop = true;
        hammer.join();
        FreeLSOwnerHandle(pSender);
    }
}

struct SelfClosing {
    TLSOwner* pOwner = nullptr;
    DWORD dwThread = 0;
    std::atomic<int> nCalls{0};
    std::atomic<bool> bCloseResult{false};
};

bool CloseFromCallback(TLSOwner* pOwner, DWORD*, void* pContext)
{
    auto* pState = static_cast<SelfClosing*>(pContext);
    pState->nCalls++;
    DWORD dwThread = pState->dwThread;
    pState->bCloseResult = DoCloseLSNotifyThread(pOwner, &dwThread);
    return true;
}

TEST(Notify, ACallbackMayCloseItsOwnListener)
{
    SelfClosing state;
    state.pOwner = GetLSOwnerHandle("notify.self");
    ASSERT_TRUE(DoStartLSNotifyThread(state.pOwner, CloseFromCallback, &state, &state.dwThread));
    TLSOwner* pSender = GetLSOwnerHandle("notify.sender2");
    ASSERT_TRUE(DoSetLSNotifyEvent(pSender, LS_NOTIFY_SAFE_CHANGED, false));
    ASSERT_TRUE(ktxtest::WaitFor([&] { return state.nCalls.load() > 0; }, 10000));
    EXPECT_TRUE(ktxtest::WaitFor([&] { return state.bCloseResult.load(); }, 5000));
    for (int i = 0; i < 20; ++i) DoSetLSNotifyEvent(pSender, LS_NOTIFY_SAFE_CHANGED, false);
    Sleep(200);
    EXPECT_EQ(state.nCalls.load(), 1);
    DWORD dwThread = state.dwThread;
    EXPECT_FALSE(DoCloseLSNotifyThread(state.pOwner, &dwThread)) << "already closed";
    FreeLSOwnerHandle(pSender);
    FreeLSOwnerHandle(state.pOwner);
}

TEST(Notify, SlotsOfEndedProcessesAreReused)
{
    // A listener whose process is killed leaves its slot behind; senders go on
    // working and the slot is taken again once every other one is in use.
    ChildListener child;
    ASSERT_TRUE(child.Start());
    child.Process().Kill();
    TLSOwner* pSender = GetLSOwnerHandle("notify.after-kill");
    EXPECT_TRUE(DoSetLSNotifyEvent(pSender, LS_NOTIFY_SAFE_CHANGED, false));

    ChildListener dying;
    ASSERT_TRUE(dying.Start());
    dying.Process().Kill();
    std::vector<std::unique_ptr<Listener>> listeners;
    for (int i = 0; i < 64; ++i) {
        listeners.push_back(std::make_unique<Listener>("notify.many"));
        ASSERT_TRUE(listeners.back()->Start()) << "listener " << i;
    }
    auto extra = std::make_unique<Listener>("notify.one-too-many");
    EXPECT_FALSE(extra->Start()) << "all slots in use";
    ASSERT_TRUE(DoSetLSNotifyEvent(pSender, LS_NOTIFY_SAFE_CHANGED, false));
    for (auto& l : listeners) EXPECT_TRUE(l->WaitCall(10000));
    listeners.clear();
    EXPECT_TRUE(extra->Start()) << "closed listeners give their slots back";
    FreeLSOwnerHandle(pSender);
}

TEST(Notify, BadRequests)
{
    TLSOwner* pOwner = GetLSOwnerHandle("notify.bad");
    DWORD dwThread = 77;
    EXPECT_FALSE(DoStartLSNotifyThread(pOwner, nullptr, nullptr, &dwThread));
    EXPECT_EQ(dwThread, 0u);
    EXPECT_FALSE(DoStartLSNotifyThread(pOwner, RecordCallback, nullptr, nullptr));
    EXPECT_FALSE(DoSetLSNotifyEvent(pOwner, 0, false)) << "no event bit";
    dwThread = 0;
    EXPECT_TRUE(DoCloseLSNotifyThread(pOwner, &dwThread)) << "nothing started, nothing to close";
    dwThread = GetCurrentThreadId();
    EXPECT_FALSE(DoCloseLSNotifyThread(pOwner, &dwThread)) << "not a listener";
    EXPECT_FALSE(DoCloseLSNotifyThread(pOwner, nullptr));
    EXPECT_TRUE(DoSetLSNotifyEvent(nullptr, LS_NOTIFY_SAFE_CHANGED, false)) << "a null owner is tolerated";
    FreeLSOwnerHandle(pOwner);
}

}  // namespace
