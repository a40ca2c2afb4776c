// Real drags through DoDragDrop under the display: into a drop target of this
// process (the pointer placed over it, nothing pressed: the drop happens at
// once), and from a field of a test window into a drop target of another
// process, with synthetic mouse and keyboard input from a helper thread.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>

#include "DragTestSupport.h"
#include "TestSupport.h"

using namespace ktxtest;

namespace {

// A drop target of the test's thread that answers with a fixed effect and
// records what it was given.
class InProcTarget : public IDropTarget {
public:
    DWORD dwAnswer = DROPEFFECT_COPY;
    bool bAskOnEnter = false;        // asks for the files while the pointer only passes over
    HRESULT hrEnterFiles = E_FAIL;   // the answer it got then
    int nEnters = 0, nLeaves = 0, nDrops = 0;
    DWORD dwOffered = 0;
    std::string text;
    HRESULT hrText = E_FAIL, hrFiles = E_FAIL;
    std::vector<std::string> files;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropTarget)) {
            *ppv = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* pData, DWORD, POINTL, DWORD* pdwEffect) override
    {
        ++nEnters;
        dwOffered = *pdwEffect;
        if (bAskOnEnter) {
            FORMATETC f = Fmt(CF_HDROP);
            STGMEDIUM m = {};
            hrEnterFiles = pData->GetData(&f, &m);
            if (SUCCEEDED(hrEnterFiles)) ReleaseStgMedium(&m);
        }
        *pdwEffect = dwAnswer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* pdwEffect) override
    {
        *pdwEffect = dwAnswer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override
    {
        ++nLeaves;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* pData, DWORD, POINTL, DWORD* pdwEffect) override
    {
        ++nDrops;
        FORMATETC ft = Fmt(CF_TEXT);
        STGMEDIUM m = {};
        hrText = pData->GetData(&ft, &m);
        if (SUCCEEDED(hrText)) {
            text = static_cast<const char*>(GlobalLock(m.hGlobal));
            GlobalUnlock(m.hGlobal);
            ReleaseStgMedium(&m);
        }
        FORMATETC ff = Fmt(CF_HDROP);
        STGMEDIUM mf = {};
        hrFiles = pData->GetData(&ff, &mf);
        if (SUCCEEDED(hrFiles)) {
            files = ReadHDrop(mf.hGlobal);
            ReleaseStgMedium(&mf);
        }
        *pdwEffect = dwAnswer;
        return S_OK;
    }
};

void SendMouse(DWORD dwFlags, POINT pt = POINT{0, 0})
{
    INPUT in = {};
    in.type = INPUT_MOUSE;
    if (dwFlags & MOUSEEVENTF_MOVE) {
        int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
        in.mi.dx = static_cast<LONG>((pt.x * 65535LL + cx / 2) / (cx - 1));
        in.mi.dy = static_cast<LONG>((pt.y * 65535LL + cy / 2) / (cy - 1));
        dwFlags |= MOUSEEVENTF_ABSOLUTE;
    }
    in.mi.dwFlags = dwFlags;
    SendInput(1, &in, sizeof(in));
}

void SendKey(WORD vk, bool bDown)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = bDown ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &in, sizeof(in));
}

// A user's drag with the left button held: pressed at `from`; once the drag
// loop has taken the mouse (the GUI thread holds the capture), moved in steps
// to `to` and released there, or cancelled with Escape first.
class HeldDrag {
public:
    HeldDrag(POINT from, POINT to, bool bEscape)
        : m_hPressed(CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_dwGuiThread(GetCurrentThreadId())
    {
        m_thread = std::thread([=] {
            SendMouse(MOUSEEVENTF_MOVE, from);
            Sleep(100);
            SendMouse(MOUSEEVENTF_LEFTDOWN);
            SetEvent(m_hPressed);
            // Wait for the drag loop (its window captures the mouse).
            for (int i = 0; i < 200; ++i) {
                GUITHREADINFO gti = {};
                gti.cbSize = sizeof(gti);
                if (GetGUIThreadInfo(m_dwGuiThread, &gti) && gti.hwndCapture) break;
                Sleep(25);
            }
            const int kSteps = 6;
            for (int i = 1; i <= kSteps; ++i) {
                SendMouse(MOUSEEVENTF_MOVE, POINT{from.x + (to.x - from.x) * i / kSteps,
                                                  from.y + (to.y - from.y) * i / kSteps});
                Sleep(80);
            }
            SendMouse(MOUSEEVENTF_MOVE, POINT{to.x + 2, to.y + 2});
            Sleep(250);
            if (bEscape) {
                SendKey(VK_ESCAPE, true);
                Sleep(50);
                SendKey(VK_ESCAPE, false);
                Sleep(250);
            }
            SendMouse(MOUSEEVENTF_LEFTUP);
        });
    }
    ~HeldDrag()
    {
        if (m_thread.joinable()) m_thread.join();
        CloseHandle(m_hPressed);
    }
    // Waits until the button is down and this thread has seen it.
    bool WaitPressed()
    {
        if (WaitForSingleObject(m_hPressed, 10000) != WAIT_OBJECT_0) return false;
        return WaitFor([] { return (GetKeyState(VK_LBUTTON) & 0x8000) != 0; }, 5000);
    }

private:
    HANDLE m_hPressed;
    DWORD m_dwGuiThread;
    std::thread m_thread;
};

HWND MakePopup(const char* pszClass, int x, int y, int cx, int cy, WNDPROC pfnProc = DefWindowProcA)
{
    WNDCLASSA wc = {};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), pszClass, &wc)) {
        wc.lpfnWndProc = pfnProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = pszClass;
        RegisterClassA(&wc);
    }
    return CreateWindowExA(WS_EX_TOPMOST, pszClass, pszClass, WS_POPUP | WS_VISIBLE | WS_BORDER, x, y, cx, cy,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

POINT CenterOf(HWND hWnd)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

// A drop target window of this thread at a fixed place.
class InProcDrop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ole.Ok());
        hTarget = MakePopup("KTXTestInProcTarget", 400, 300, 200, 150);
        ASSERT_NE(nullptr, hTarget);
        ASSERT_EQ(S_OK, RegisterDragDrop(hTarget, &target));
        hPlain = MakePopup("KTXTestNoTarget", 700, 300, 150, 150);
        PumpFor(50);
    }
    void TearDown() override
    {
        RevokeDragDrop(hTarget);
        DestroyWindow(hTarget);
        DestroyWindow(hPlain);
    }
    void PointAt(HWND hWnd)
    {
        POINT pt = CenterOf(hWnd);
        SetCursorPos(pt.x, pt.y);
        PumpFor(50);
    }
    OleScope ole;
    InProcTarget target;
    HWND hTarget = nullptr, hPlain = nullptr;
};

}  // namespace

TEST_F(InProcDrop, TextDragResultFollowsTheEffectTheTargetAnswers)
{
    struct Case {
        const char* name;
        TLSDropEffect allowed;
        DWORD answer;
        bool overTarget;
        int result;
        bool delivered;
    } cases[] = {
        {"copy allowed, copy answered", lsCopy, DROPEFFECT_COPY, true, LS_DRAG_DONE, true},
        {"move allowed, move answered", lsMove, DROPEFFECT_MOVE, true, LS_DRAG_DONE, true},
        {"copy allowed, target refuses", lsCopy, DROPEFFECT_NONE, true, LS_DRAG_FAILED, false},
        {"move allowed, target answers copy", lsMove, DROPEFFECT_COPY, true, LS_DRAG_FAILED, false},
        {"no drop target under the pointer", lsCopy, DROPEFFECT_COPY, false, LS_DRAG_FAILED, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TLSDragSrc src(nullptr, nullptr, nullptr);
        target = InProcTarget();
        target.dwAnswer = c.answer;
        src.SetDropEffect(c.allowed);
        PointAt(c.overTarget ? hTarget : hPlain);
        EXPECT_EQ(c.result, src.StartTextDrag("dragged value"));
        EXPECT_FALSE(src.GetDropping());  // only while the drag call runs
        if (c.overTarget) {
            EXPECT_EQ(LSAllowedEffect(c.allowed), target.dwOffered);
        }
        if (c.delivered) {
            EXPECT_EQ(1, target.nDrops);
            EXPECT_EQ(S_OK, target.hrText);
            EXPECT_EQ("dragged value", target.text);
            EXPECT_EQ(DV_E_FORMATETC, target.hrFiles);  // a text drag offers no files
        } else {
            EXPECT_TRUE(target.text.empty());
        }
    }
}

TEST_F(InProcDrop, FileDragWritesTheFilesOnlyWhenDropped)
{
    TempDir dir;
    RecordingSink sink;
    sink.bWriteFiles = true;
    TLSDragSrc src(nullptr, &sink, nullptr);
    const std::string a = dir.File("one.txt"), b = dir.File("two.txt");
    ASSERT_TRUE(src.AddFile(a.c_str(), "first"));
    ASSERT_TRUE(src.AddFile(b.c_str(), "second"));
    ASSERT_TRUE(src.AddFile(dir.File("ONE.TXT").c_str(), "again"));
    src.SetDropEffect(lsCopy);
    // Assigned before the drag, the event is the drag's own: it fires once,
    // on the release over the target, before anything is written.
    int nDropping = 0;
    size_t nWrittenBefore = 0;
    src.OnDropping = [&](TObject*) {
        ++nDropping;
        EXPECT_EQ(nWrittenBefore, sink.creates.size());
    };
    target.dwAnswer = DROPEFFECT_COPY;
    target.bAskOnEnter = true;

    {
        HeldDrag drag(CenterOf(hPlain), CenterOf(hTarget), false);
        ASSERT_TRUE(drag.WaitPressed());
        EXPECT_EQ(LS_DRAG_DONE, src.StartFileDrag());
    }
    EXPECT_EQ(1, nDropping);
    EXPECT_EQ(1, target.nEnters);
    EXPECT_EQ(DV_E_FORMATETC, target.hrEnterFiles);  // passing over writes nothing
    ASSERT_EQ(1, target.nDrops);
    EXPECT_EQ(S_OK, target.hrFiles);
    EXPECT_EQ((std::vector<std::string>{a, b}), target.files);
    EXPECT_EQ(DV_E_FORMATETC, target.hrText);
    EXPECT_EQ("again", ReadFileBytes(a));  // the later item of the same name is written last
    EXPECT_EQ("second", ReadFileBytes(b));
    EXPECT_EQ(1u, sink.duplicates.size());
    EXPECT_EQ(3u, sink.creates.size());
    EXPECT_FALSE(src.GetFilesPrepared());
    EXPECT_FALSE(src.GetDropping());

    // A second drag of the same items writes them again, once.
    target = InProcTarget();
    target.dwAnswer = DROPEFFECT_COPY;
    nWrittenBefore = sink.creates.size();
    {
        HeldDrag drag(CenterOf(hPlain), CenterOf(hTarget), false);
        ASSERT_TRUE(drag.WaitPressed());
        EXPECT_EQ(LS_DRAG_DONE, src.StartFileDrag());
    }
    EXPECT_EQ(2, nDropping);
    EXPECT_EQ(6u, sink.creates.size());
    EXPECT_EQ((std::vector<std::string>{a, b}), target.files);
}

TEST_F(InProcDrop, FileDragRefusedOrCancelledWritesNothing)
{
    struct Case {
        const char* name;
        DWORD answer;
        bool escape;
    } cases[] = {{"target refuses", DROPEFFECT_NONE, false}, {"escape over a willing target", DROPEFFECT_COPY, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        RecordingSink sink;
        sink.bWriteFiles = true;
        TLSDragSrc src(nullptr, &sink, nullptr);
        src.SetDropEffect(lsCopy);
        int nDropping = 0;
        src.OnDropping = [&](TObject*) { ++nDropping; };
        ASSERT_TRUE(src.AddFile(dir.File("never.txt").c_str(), "x"));
        target = InProcTarget();
        target.dwAnswer = c.answer;
        target.bAskOnEnter = true;
        {
            HeldDrag drag(CenterOf(hPlain), CenterOf(hTarget), c.escape);
            ASSERT_TRUE(drag.WaitPressed());
            EXPECT_EQ(LS_DRAG_FAILED, src.StartFileDrag());
        }
        EXPECT_EQ(1, target.nEnters);
        EXPECT_EQ(0, target.nDrops);
        EXPECT_EQ(0, nDropping);
        EXPECT_TRUE(sink.creates.empty());
        EXPECT_FALSE(FileExists(dir.File("never.txt")));
        EXPECT_FALSE(src.GetDropping());
    }
}

// ---------------------------------------------------------------------------
// From a field into another process, with synthetic input
// ---------------------------------------------------------------------------

namespace {

// The test window: a masked field whose value a mouse-move with the left
// button down drags, as the safe dialog's fields do.
struct FieldWindow {
    HWND hWnd = nullptr;
    HWND hField = nullptr;
    TLSDragSrc* pSrc = nullptr;
    std::atomic<int> nResult{-1};
    std::atomic<bool> bStarted{false};
    WNDPROC pfnEditProc = nullptr;
};
FieldWindow* g_pField = nullptr;

LRESULT CALLBACK FieldProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    FieldWindow* pFw = g_pField;
    if (uMsg == WM_MOUSEMOVE && (wParam & MK_LBUTTON) && pFw && !pFw->bStarted && !pFw->pSrc->GetDropping()) {
        pFw->bStarted = true;
        SendMessageA(hWnd, EM_SETSEL, 0, -1);
        char szValue[LS_PASSWORD_SIZE] = {};
        GetWindowTextA(hWnd, szValue, sizeof(szValue));
        pFw->pSrc->SetDropEffect(lsCopy);
        pFw->pSrc->DisableFileDrop();
        pFw->nResult = pFw->pSrc->StartTextDrag(szValue);
        pFw->pSrc->EnableFileDrop();
        SecureZeroMemory(szValue, sizeof(szValue));
        return 0;
    }
    return CallWindowProcA(pFw->pfnEditProc, hWnd, uMsg, wParam, lParam);
}

class CrossProcessDrag : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ole.Ok());
        src = std::make_unique<TLSDragSrc>(nullptr, nullptr, nullptr);
        field.pSrc = src.get();
        g_pField = &field;
        field.hWnd = MakePopup("KTXTestFieldWindow", 60, 60, 320, 80);
        ASSERT_NE(nullptr, field.hWnd);
        field.hField = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", kSecret, WS_CHILD | WS_VISIBLE | ES_PASSWORD, 20, 20,
                                       200, 24, field.hWnd, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, field.hField);
        field.pfnEditProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(field.hField, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FieldProc)));
        ASSERT_TRUE(src->SetDropWindow(field.hWnd));
        SetForegroundWindow(field.hWnd);
        PumpFor(100);
    }
    void TearDown() override
    {
        if (field.hWnd) DestroyWindow(field.hWnd);
        g_pField = nullptr;
    }

    // Starts the drop target process and waits for its window.
    bool StartTarget(const char* pszEffect)
    {
        report = dir.File("report.txt");
        std::ostringstream args;
        args << "\"" << report << "\" " << pszEffect << " 700 400 240 200";
        if (!target.Start("dragdrop_target.exe", args.str())) return false;
        bool bFound = WaitFor(
            [&] {
                auto wins = TopLevelWindowsOf(target.Pid(), "KTXTestDropTarget");
                if (wins.empty() || !IsWindowVisible(wins[0])) return false;
                hTarget = wins[0];
                return true;
            },
            15000);
        PumpFor(200);
        return bFound;
    }

    // Press on the field, move down out of it (the drag starts) and over to
    // the target; then release there, or press Escape first.
    void RunInput(bool bEscape)
    {
        POINT ptField = CenterOf(field.hField);
        POINT ptTarget = CenterOf(hTarget);
        input = std::thread([=] {
            SendMouse(MOUSEEVENTF_MOVE, ptField);
            Sleep(150);
            SendMouse(MOUSEEVENTF_LEFTDOWN);
            Sleep(150);
            SendMouse(MOUSEEVENTF_MOVE, POINT{ptField.x, ptField.y + 12});
            Sleep(150);
            const int kSteps = 8;
            for (int i = 1; i <= kSteps; ++i) {
                POINT pt{ptField.x + (ptTarget.x - ptField.x) * i / kSteps,
                         ptField.y + 12 + (ptTarget.y - ptField.y - 12) * i / kSteps};
                SendMouse(MOUSEEVENTF_MOVE, pt);
                Sleep(80);
            }
            SendMouse(MOUSEEVENTF_MOVE, POINT{ptTarget.x + 3, ptTarget.y + 3});
            Sleep(300);
            if (bEscape) {
                SendKey(VK_ESCAPE, true);
                Sleep(50);
                SendKey(VK_ESCAPE, false);
                Sleep(300);
            }
            SendMouse(MOUSEEVENTF_LEFTUP);
        });
    }

    std::string ReadReport()
    {
        return ReadFileBytes(report);
    }

    static constexpr const char* kSecret = "Pa55 w0rd!";
    OleScope ole;
    TempDir dir;
    std::unique_ptr<TLSDragSrc> src;
    FieldWindow field;
    ChildProcess target;
    HWND hTarget = nullptr;
    std::string report;
    std::thread input;
};

}  // namespace

TEST_F(CrossProcessDrag, FieldValueDroppedAsTextIntoAnotherProcess)
{
    ASSERT_TRUE(StartTarget("copy"));
    int nDropping = 0;
    src->OnDropping = [&](TObject* Sender) {
        ++nDropping;
        EXPECT_EQ(static_cast<TObject*>(src.get()), Sender);
    };
    RunInput(false);
    bool bDone = WaitFor([&] { return field.nResult.load() >= 0; }, 20000);
    input.join();
    ASSERT_TRUE(bDone) << "the drag did not end";
    EXPECT_EQ(LS_DRAG_DONE, field.nResult.load());
    EXPECT_EQ(1, nDropping);  // the release over a target that showed copy
    EXPECT_FALSE(src->GetDropping());
    EXPECT_TRUE(GetWindowLongPtrA(field.hWnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);  // enabled again

    DWORD dwExit = 1;
    ASSERT_TRUE(target.Wait(15000, &dwExit));
    EXPECT_EQ(0u, dwExit);
    std::string rep = ReadReport();
    EXPECT_NE(std::string::npos, rep.find("enter 1\n")) << rep;         // copy offered
    EXPECT_NE(std::string::npos, rep.find("drop 1 00000000\n")) << rep;  // CF_TEXT given
    EXPECT_NE(std::string::npos, rep.find(std::string("text ") + kSecret + "\n")) << rep;
    EXPECT_EQ(std::string::npos, rep.find("files ")) << rep;  // no files offered
}

TEST_F(CrossProcessDrag, EscapeCancelsTheDrag)
{
    ASSERT_TRUE(StartTarget("copy"));
    int nDropping = 0;
    src->OnDropping = [&](TObject*) { ++nDropping; };
    RunInput(true);
    bool bDone = WaitFor([&] { return field.nResult.load() >= 0; }, 20000);
    input.join();
    ASSERT_TRUE(bDone) << "the drag did not end";
    EXPECT_EQ(LS_DRAG_FAILED, field.nResult.load());
    EXPECT_EQ(0, nDropping);
    EXPECT_FALSE(src->GetDropping());

    PostMessageA(hTarget, WM_CLOSE, 0, 0);
    ASSERT_TRUE(target.Wait(15000));
    std::string rep = ReadReport();
    EXPECT_NE(std::string::npos, rep.find("enter 1\n")) << rep;
    EXPECT_EQ(std::string::npos, rep.find("drop")) << rep;
    EXPECT_EQ(std::string::npos, rep.find(kSecret)) << rep;
}

TEST_F(CrossProcessDrag, TargetAnsweringMoveToACopyDragIsNotDone)
{
    ASSERT_TRUE(StartTarget("move"));
    RunInput(false);
    bool bDone = WaitFor([&] { return field.nResult.load() >= 0; }, 20000);
    input.join();
    ASSERT_TRUE(bDone) << "the drag did not end";
    EXPECT_EQ(LS_DRAG_FAILED, field.nResult.load());
    PostMessageA(hTarget, WM_CLOSE, 0, 0);
    target.Wait(15000);
}
