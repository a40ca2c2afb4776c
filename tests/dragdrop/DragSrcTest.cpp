// The drag source component: construction, the exported functions, the drop
// window, WM_DROPFILES with real shell file lists, the file items.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "DragTestSupport.h"
#include "KTXCMN32.h"
#include "TestSupport.h"

using namespace ktxtest;

namespace {

// A plain top-level window of the test's thread.
HWND MakeWindow()
{
    static ATOM s_atom = 0;
    if (!s_atom) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "KTXTestDropWindow";
        s_atom = RegisterClassA(&wc);
    }
    return CreateWindowExA(0, "KTXTestDropWindow", "drop", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

bool AcceptsFiles(HWND hWnd)
{
    return (GetWindowLongPtrA(hWnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
}

// True when the global handle was released (DragFinish frees the block).
bool IsFreed(HDROP hDrop)
{
    return GlobalFlags(static_cast<HGLOBAL>(hDrop)) == GMEM_INVALID_HANDLE;
}

MSG DropMsg(HWND hWnd, HDROP hDrop)
{
    MSG msg = {};
    msg.hwnd = hWnd;
    msg.message = WM_DROPFILES;
    msg.wParam = reinterpret_cast<WPARAM>(hDrop);
    return msg;
}

// The names of the exports of a PE file, read from the file itself.
std::vector<std::string> ExportNames(const std::string& path)
{
    std::vector<std::string> names;
    std::string img = ReadFileBytes(path);
    if (img.size() < sizeof(IMAGE_DOS_HEADER)) return names;
    auto at = [&](size_t off, size_t len) { return off + len <= img.size(); };
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(img.data());
    size_t ntOff = static_cast<size_t>(dos->e_lfanew);
    if (!at(ntOff, sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER))) return names;
    const auto* fh = reinterpret_cast<const IMAGE_FILE_HEADER*>(img.data() + ntOff + sizeof(DWORD));
    size_t optOff = ntOff + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    WORD magic = *reinterpret_cast<const WORD*>(img.data() + optOff);
    IMAGE_DATA_DIRECTORY dir = {};
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        dir = reinterpret_cast<const IMAGE_OPTIONAL_HEADER64*>(img.data() + optOff)->DataDirectory[0];
    else
        dir = reinterpret_cast<const IMAGE_OPTIONAL_HEADER32*>(img.data() + optOff)->DataDirectory[0];
    if (!dir.VirtualAddress) return names;
    const auto* sec = reinterpret_cast<const IMAGE_SECTION_HEADER*>(img.data() + optOff + fh->SizeOfOptionalHeader);
    auto rvaToOff = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < fh->NumberOfSections; ++i) {
            if (rva >= sec[i].VirtualAddress && rva < sec[i].VirtualAddress + sec[i].SizeOfRawData)
                return rva - sec[i].VirtualAddress + sec[i].PointerToRawData;
        }
        return 0;
    };
    size_t expOff = rvaToOff(dir.VirtualAddress);
    if (!expOff || !at(expOff, sizeof(IMAGE_EXPORT_DIRECTORY))) return names;
    const auto* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(img.data() + expOff);
    size_t namesOff = rvaToOff(exp->AddressOfNames);
    for (DWORD i = 0; namesOff && i < exp->NumberOfNames && at(namesOff + 4 * i, 4); ++i) {
        size_t nameOff = rvaToOff(*reinterpret_cast<const DWORD*>(img.data() + namesOff + 4 * i));
        if (nameOff && nameOff < img.size()) names.emplace_back(img.c_str() + nameOff);
    }
    return names;
}

}  // namespace

TEST(DragSrc, ConstructionDefaultsAndLiveCounter)
{
    LONG nBefore = TLSDragSrc::LiveCount();
    {
        TLSDragSrc src(nullptr, nullptr, nullptr);
        EXPECT_EQ(nBefore + 1, TLSDragSrc::LiveCount());
        EXPECT_EQ(lsMove, src.GetDropEffect());
        EXPECT_FALSE(src.GetVerifyFiles());
        EXPECT_FALSE(src.GetDropping());
        EXPECT_FALSE(src.GetFilesPrepared());
        EXPECT_EQ(nullptr, src.GetDropWindow());
        EXPECT_EQ(0, src.FileCount());
        EXPECT_TRUE(src.GetDroppedFiles()->empty());
        EXPECT_FALSE(static_cast<bool>(src.OnDropping));
        EXPECT_TRUE(src.GetComReady());
        {
            TLSDragSrc second(nullptr, nullptr, nullptr);
            EXPECT_EQ(nBefore + 2, TLSDragSrc::LiveCount());
        }
        EXPECT_EQ(nBefore + 1, TLSDragSrc::LiveCount());
    }
    EXPECT_EQ(nBefore, TLSDragSrc::LiveCount());
}

TEST(DragSrc, ConstructionClearsTheOwnersErrorRecord)
{
    TLSOwner* pOwner = GetLSOwnerHandle("KTSafe.EXE");
    ASSERT_NE(nullptr, pOwner);
    LSAddDefErrorAt(LSOwnerErr(pOwner), false, ERROR_ACCESS_DENIED, __FILE__, __LINE__, "earlier failed!");
    ASSERT_TRUE(pOwner->rErrHandler.bFailed);
    {
        TLSDragSrc src(pOwner, nullptr, nullptr);
        EXPECT_FALSE(pOwner->rErrHandler.bFailed);
    }
    FreeLSOwnerHandle(pOwner);
}

TEST(DragSrc, PropertiesKeepWhatIsSet)
{
    TLSDragSrc src(nullptr, nullptr, nullptr);
    src.SetDropEffect(lsCopy);
    EXPECT_EQ(lsCopy, src.GetDropEffect());
    src.SetDropEffect(static_cast<TLSDropEffect>(7));  // not an effect: ignored
    EXPECT_EQ(lsCopy, src.GetDropEffect());
    src.SetDropEffect(lsMove);
    EXPECT_EQ(lsMove, src.GetDropEffect());
    src.SetVerifyFiles(true);
    EXPECT_TRUE(src.GetVerifyFiles());
    src.SetDropping(true);
    EXPECT_TRUE(src.GetDropping());
    src.SetFilesPrepared(true);
    EXPECT_TRUE(src.GetFilesPrepared());
    EXPECT_EQ(DROPEFFECT_COPY, LSAllowedEffect(lsCopy));
    EXPECT_EQ(DROPEFFECT_MOVE, LSAllowedEffect(lsMove));
}

TEST(DragSrc, OwnedComponentGoesWithItsOwner)
{
    LONG nBefore = TLSDragSrc::LiveCount();
    TComponent* pOwnerComponent = new TComponent(nullptr);
    TLSDragSrc* pSrc = new TLSDragSrc(nullptr, nullptr, pOwnerComponent);
    EXPECT_EQ(pOwnerComponent, pSrc->Owner());
    EXPECT_EQ(nBefore + 1, TLSDragSrc::LiveCount());
    delete pOwnerComponent;
    EXPECT_EQ(nBefore, TLSDragSrc::LiveCount());
}

TEST(DragSrcExports, CreateAndFreeThroughTheExportedFunctions)
{
    LONG nBefore = TLSDragSrc::LiveCount();
    RecordingSink sink;

    TLSMessageHook hook;
    TLSDragSrcIF* pPlain = CreateDragSrcIFInstance(nullptr, nullptr, &hook, false, &sink);
    ASSERT_NE(nullptr, pPlain);
    EXPECT_FALSE(static_cast<bool>(hook));  // the first construction leaves the hook alone
    EXPECT_EQ(nBefore + 1, TLSDragSrc::LiveCount());

    TLSDragSrcIF* pHooked = CreateDragSrcIFInstance(nullptr, nullptr, &hook, true, &sink);
    ASSERT_NE(nullptr, pHooked);
    ASSERT_TRUE(static_cast<bool>(hook));
    EXPECT_EQ(nBefore + 2, TLSDragSrc::LiveCount());

    // The hook is the new component's HandleMessage.
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("in.txt"), "x"));
    HDROP hDrop = MakeHDrop({dir.File("in.txt")});
    MSG msg = DropMsg(nullptr, hDrop);
    bool bHandled = false;
    hook(msg, bHandled);
    EXPECT_TRUE(bHandled);
    EXPECT_EQ((TLSStringList{dir.File("in.txt")}), *pHooked->GetDroppedFiles());
    EXPECT_TRUE(pPlain->GetDroppedFiles()->empty());
    EXPECT_TRUE(IsFreed(hDrop));

    EXPECT_TRUE(FreeDragSrcIFInstance(pHooked));
    EXPECT_TRUE(FreeDragSrcIFInstance(pPlain));
    EXPECT_FALSE(FreeDragSrcIFInstance(nullptr));
    EXPECT_EQ(nBefore, TLSDragSrc::LiveCount());

    // With a hook record missing the second construction still works.
    TLSDragSrcIF* pNoRecord = CreateDragSrcIFInstance(nullptr, nullptr, nullptr, true, nullptr);
    ASSERT_NE(nullptr, pNoRecord);
    EXPECT_TRUE(FreeDragSrcIFInstance(pNoRecord));
}

namespace {
int g_nWindowSawDrop = 0;
// The names the window read from the drop handles it received.
std::vector<std::string> g_windowReadNames;
LRESULT CALLBACK CountingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_DROPFILES) {
        ++g_nWindowSawDrop;
        // A window that takes a drop reads its names and finishes the handle.
        HDROP hDrop = reinterpret_cast<HDROP>(wParam);
        UINT nCount = DragQueryFileA(hDrop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < nCount; ++i) {
            char szName[MAX_PATH] = "";
            if (DragQueryFileA(hDrop, i, szName, sizeof(szName))) g_windowReadNames.emplace_back(szName);
        }
        DragFinish(hDrop);
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}
}  // namespace

// The hook record installed as the application's message hook: a posted
// WM_DROPFILES of existing files is taken (and its handle released) before it
// reaches the window; one of missing files goes on to the window with its
// handle intact, so the window still reads the names.
TEST(DragSrcExports, HookInstalledInTheApplicationTakesDroppedFiles)
{
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("in.txt"), "x"));
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KTXTestHookWindow";
    RegisterClassA(&wc);
    HWND hWnd = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(nullptr, hWnd);

    RecordingSink sink;
    TLSMessageHook hook;
    TLSDragSrcIF* pSrc = CreateDragSrcIFInstance(nullptr, nullptr, &hook, true, &sink);
    ASSERT_NE(nullptr, pSrc);
    int nHook = Application->AddMessageHook(hook);

    g_nWindowSawDrop = 0;
    g_windowReadNames.clear();
    HDROP hTaken = MakeHDrop({dir.File("in.txt")});
    ASSERT_TRUE(PostMessageA(hWnd, WM_DROPFILES, reinterpret_cast<WPARAM>(hTaken), 0));
    Application->ProcessMessages();
    EXPECT_EQ(0, g_nWindowSawDrop);
    ASSERT_EQ(1u, sink.droppedLists.size());
    EXPECT_EQ((std::vector<std::string>{dir.File("in.txt")}), sink.droppedLists[0]);
    EXPECT_TRUE(IsFreed(hTaken));

    HDROP hDeclined = MakeHDrop({dir.File("gone.txt"), dir.File("also-gone.txt")});
    ASSERT_TRUE(PostMessageA(hWnd, WM_DROPFILES, reinterpret_cast<WPARAM>(hDeclined), 0));
    Application->ProcessMessages();
    EXPECT_EQ(1, g_nWindowSawDrop);
    ASSERT_EQ(2u, sink.droppedLists.size());
    EXPECT_TRUE(sink.droppedLists[1].empty());
    EXPECT_EQ((std::vector<std::string>{dir.File("gone.txt"), dir.File("also-gone.txt")}), g_windowReadNames)
        << "the window read the names of the drop the hook declined";
    EXPECT_TRUE(IsFreed(hDeclined)) << "finished by the window";

    Application->RemoveMessageHook(nHook);
    EXPECT_TRUE(FreeDragSrcIFInstance(pSrc));
    DestroyWindow(hWnd);
}

TEST(DragSrcExports, ExportedByNameFromTheModulesThatHoldTheComponent)
{
    const char* kNames[] = {"CreateDragSrcIFInstance", "FreeDragSrcIFInstance"};
    // This test program links the component too: the names resolve in it.
    for (const char* n : kNames) EXPECT_NE(nullptr, GetProcAddress(GetModuleHandleA(nullptr), n)) << n;
    // The program exports both, whether or not its own code calls them yet.
    std::vector<std::string> names = ExportNames(ModuleDir() + "\\KTSafe.exe");
    for (const char* n : kNames) {
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), n)) << n << " not exported by KTSafe.exe";
    }
}

TEST(DragSrcWindow, SetDropWindowMovesTheFileAcceptance)
{
    HWND hA = MakeWindow(), hB = MakeWindow();
    ASSERT_TRUE(hA && hB);
    {
        TLSDragSrc src(nullptr, nullptr, nullptr);
        EXPECT_TRUE(src.EnableFileDrop());  // without a window: nothing to do, no harm
        EXPECT_TRUE(src.DisableFileDrop());

        EXPECT_TRUE(src.SetDropWindow(hA));
        EXPECT_EQ(hA, src.GetDropWindow());
        EXPECT_TRUE(AcceptsFiles(hA));

        EXPECT_TRUE(src.SetDropWindow(hB));
        EXPECT_FALSE(AcceptsFiles(hA));
        EXPECT_TRUE(AcceptsFiles(hB));

        // A handle that names no window: nothing changes.
        HWND hGone = MakeWindow();
        DestroyWindow(hGone);
        EXPECT_FALSE(src.SetDropWindow(hGone));
        EXPECT_EQ(hB, src.GetDropWindow());
        EXPECT_TRUE(AcceptsFiles(hB));

        EXPECT_TRUE(src.DisableFileDrop());
        EXPECT_FALSE(AcceptsFiles(hB));
        EXPECT_TRUE(src.EnableFileDrop());
        EXPECT_TRUE(AcceptsFiles(hB));

        EXPECT_TRUE(src.SetDropWindow(nullptr));
        EXPECT_EQ(nullptr, src.GetDropWindow());
        EXPECT_FALSE(AcceptsFiles(hB));

        EXPECT_TRUE(src.SetDropWindow(hA));
    }
    // The component's end takes the acceptance away again.
    EXPECT_FALSE(AcceptsFiles(hA));
    DestroyWindow(hA);
    DestroyWindow(hB);
}

// ---------------------------------------------------------------------------
// WM_DROPFILES
// ---------------------------------------------------------------------------

class DropFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        existing = dir.File("existing.txt");
        ASSERT_TRUE(WriteFileBytes(existing, "data"));
        folder = dir.File("folder");
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        missing = dir.File("missing.txt");
    }
    TempDir dir;
    std::string existing, folder, missing;
    RecordingSink sink;
    TLSDragSrc src{nullptr, &sink, nullptr};
};

TEST_F(DropFiles, ListsOnlyWhatExistsAndReleasesTheHandle)
{
    struct Case {
        const char* name;
        std::vector<std::string> dropped;
        std::vector<std::string> listed;
        bool wide;
    } cases[] = {
        {"existing and missing", {existing, missing}, {existing}, false},
        {"missing first", {missing, existing}, {existing}, false},
        {"a folder", {folder, missing, existing}, {folder, existing}, false},
        {"wide names", {existing, missing}, {existing}, true},
        {"empty name", {"", existing}, {existing}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sink.droppedLists.clear();
        HDROP hDrop = MakeHDrop(c.dropped, c.wide);
        MSG msg = DropMsg(nullptr, hDrop);
        bool bHandled = false;
        src.HandleMessage(msg, bHandled);
        EXPECT_TRUE(bHandled);
        EXPECT_EQ(c.listed, *src.GetDroppedFiles());
        ASSERT_EQ(1u, sink.droppedLists.size());
        EXPECT_EQ(c.listed, sink.droppedLists[0]);
        EXPECT_TRUE(IsFreed(hDrop));
    }
}

// A drop the component declines (no name it can take) stays the message's:
// the handle is left intact for the handler after it, which still reads every
// name and finishes it.
TEST_F(DropFiles, DeclinedDropKeepsItsHandleForTheNextHandler)
{
    std::string overlong = dir.File(std::string(300, 'o') + ".txt");
    struct Case {
        const char* name;
        std::vector<std::string> dropped;
        bool wide;
    } cases[] = {
        {"only missing paths", {missing, dir.File("also-missing")}, false},
        {"only missing paths, wide names", {missing, dir.File("also-missing")}, true},
        {"only a name too long to take", {overlong}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sink.droppedLists.clear();
        src.GetDroppedFiles()->push_back("stale from an earlier drop");
        HDROP hDrop = MakeHDrop(c.dropped, c.wide);
        MSG msg = DropMsg(nullptr, hDrop);
        bool bHandled = true;
        src.HandleMessage(msg, bHandled);
        EXPECT_FALSE(bHandled);
        EXPECT_TRUE(src.GetDroppedFiles()->empty());
        ASSERT_EQ(1u, sink.droppedLists.size());
        EXPECT_TRUE(sink.droppedLists[0].empty());

        ASSERT_FALSE(IsFreed(hDrop)) << "the next handler's handle was released";
        ASSERT_EQ(c.dropped.size(), DragQueryFileA(hDrop, 0xFFFFFFFF, nullptr, 0));
        for (UINT i = 0; i < c.dropped.size(); ++i) {
            std::vector<char> name(c.dropped[i].size() + 1, '\0');
            EXPECT_EQ(c.dropped[i].size(), DragQueryFileA(hDrop, i, name.data(), static_cast<UINT>(name.size())));
            EXPECT_EQ(c.dropped[i], std::string(name.data())) << i;
        }
        DragFinish(hDrop);
        EXPECT_TRUE(IsFreed(hDrop));
    }
}

TEST_F(DropFiles, EmptyDropIsDeclinedWithItsHandleAndListsNothing)
{
    HDROP hDrop = MakeHDrop({});
    // Windows counts no name in an empty list; Wine counts one empty name.
    // Either way nothing is listed; the sink hears of it only when the
    // platform reported names.
    UINT nCounted = DragQueryFileA(hDrop, 0xFFFFFFFF, nullptr, 0);
    MSG msg = DropMsg(nullptr, hDrop);
    bool bHandled = true;
    src.HandleMessage(msg, bHandled);
    EXPECT_FALSE(bHandled);
    EXPECT_TRUE(src.GetDroppedFiles()->empty());
    if (nCounted == 0) {
        EXPECT_TRUE(sink.droppedLists.empty());
    } else {
        ASSERT_EQ(1u, sink.droppedLists.size());
        EXPECT_TRUE(sink.droppedLists[0].empty());
    }
    // Declined: the handle is still the message's, and still reads the same.
    ASSERT_FALSE(IsFreed(hDrop));
    EXPECT_EQ(nCounted, DragQueryFileA(hDrop, 0xFFFFFFFF, nullptr, 0));
    DragFinish(hDrop);

    MSG noHandle = DropMsg(nullptr, nullptr);
    src.HandleMessage(noHandle, bHandled);
    EXPECT_FALSE(bHandled);
}

TEST_F(DropFiles, OverlongNameIsSkippedNotCutIntoAnotherFile)
{
    // A file whose path is exactly 255 characters, and a dropped name that
    // starts with that path: cut to the buffer it would name the file.
    std::string base = dir.File("");
    std::string longPath = base + std::string(255 - base.size(), 'n');
    ASSERT_EQ(255u, longPath.size());
    ASSERT_TRUE(WriteFileBytes(longPath, "x"));
    std::string overlong = longPath + "-more\\deeper.txt";

    HDROP hDrop = MakeHDrop({overlong, existing});
    MSG msg = DropMsg(nullptr, hDrop);
    bool bHandled = false;
    src.HandleMessage(msg, bHandled);
    EXPECT_TRUE(bHandled);
    EXPECT_EQ((TLSStringList{existing}), *src.GetDroppedFiles());

    // The 255-character path itself is taken.
    hDrop = MakeHDrop({longPath});
    msg = DropMsg(nullptr, hDrop);
    src.HandleMessage(msg, bHandled);
    EXPECT_TRUE(bHandled);
    EXPECT_EQ((TLSStringList{longPath}), *src.GetDroppedFiles());
}

TEST_F(DropFiles, OtherMessagesAreIgnored)
{
    src.GetDroppedFiles()->push_back(existing);
    HDROP hDrop = MakeHDrop({existing});
    for (UINT m : {static_cast<UINT>(WM_MOUSEMOVE), static_cast<UINT>(WM_COMMAND), static_cast<UINT>(WM_DROPFILES + 1),
                   static_cast<UINT>(WM_USER + WM_DROPFILES), static_cast<UINT>(WM_NULL)}) {
        MSG msg = DropMsg(nullptr, hDrop);
        msg.message = m;
        bool bHandled = true;
        src.HandleMessage(msg, bHandled);
        EXPECT_FALSE(bHandled) << m;
    }
    EXPECT_EQ((TLSStringList{existing}), *src.GetDroppedFiles());
    EXPECT_TRUE(sink.droppedLists.empty());
    EXPECT_FALSE(IsFreed(hDrop));  // not ours to release
    DragFinish(hDrop);
}

TEST_F(DropFiles, WithoutSinkTheListIsStillKept)
{
    TLSDragSrc alone(nullptr, nullptr, nullptr);
    HDROP hDrop = MakeHDrop({existing});
    MSG msg = DropMsg(nullptr, hDrop);
    bool bHandled = false;
    alone.HandleMessage(msg, bHandled);
    EXPECT_TRUE(bHandled);
    EXPECT_EQ((TLSStringList{existing}), *alone.GetDroppedFiles());
    EXPECT_TRUE(alone.NotifyFilesDropped(alone.GetDroppedFiles()));
    EXPECT_FALSE(alone.NotifyFilesDropped(nullptr));
}

// ---------------------------------------------------------------------------
// Sink calls and file items
// ---------------------------------------------------------------------------

TEST(DragSrcSink, CallsReachTheSinkAndAnswerWhetherTheArgumentWasGiven)
{
    RecordingSink sink;
    TLSDragSrc src(nullptr, &sink, nullptr);
    EXPECT_TRUE(src.CreateDropFile("a", "content", 0, 1));
    EXPECT_TRUE(src.CreateDropFile("", "content", 1, 2));
    EXPECT_FALSE(src.CreateDropFile(nullptr, "content", 0, 1));
    EXPECT_TRUE(src.NotifyDuplicateFile("a"));
    EXPECT_FALSE(src.NotifyDuplicateFile(nullptr));
    TLSStringList list{"x"};
    EXPECT_TRUE(src.NotifyFilesDropped(&list));
    EXPECT_EQ((std::vector<std::string>{"create a 0/1", "create  1/2", "duplicate a", "dropped 1"}), sink.events);

    TLSDragSrc noSink(nullptr, nullptr, nullptr);
    EXPECT_TRUE(noSink.CreateDropFile("a", "b", 0, 1));
    EXPECT_TRUE(noSink.NotifyDuplicateFile("a"));
}

TEST(DragSrcItems, AddFileRefusesWhatDoesNotFitWhole)
{
    TLSOwner* pOwner = GetLSOwnerHandle("KTSafe.EXE");
    TLSDragSrc src(pOwner, nullptr, nullptr);
    const std::string k255(255, 'a'), k256(256, 'b');
    struct Case {
        const char* name;
        const char* fileName;
        const char* content;
        bool added;
    } cases[] = {
        {"short", "a.txt", "x", true},
        {"255 name and content", k255.c_str(), k255.c_str(), true},
        {"empty name", "", "x", true},
        {"null content is empty", "c.txt", nullptr, true},
        {"256 name", k256.c_str(), "x", false},
        {"256 content", "d.txt", k256.c_str(), false},
        {"null name", nullptr, "x", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int nBefore = src.FileCount();
        ClearLSError(LSOwnerErr(pOwner));
        EXPECT_EQ(c.added, src.AddFile(c.fileName, c.content));
        EXPECT_EQ(nBefore + (c.added ? 1 : 0), src.FileCount());
        if (pOwner) {
            EXPECT_EQ(!c.added, pOwner->rErrHandler.bFailed);
        }
        if (c.added) {
            const TLSDragItem& item = *src.GetFileList()->back();
            EXPECT_STREQ(c.fileName, item.szName);
            EXPECT_STREQ(c.content ? c.content : "", item.szContent);
            EXPECT_FALSE(item.bSkip);
        }
    }
    src.ClearFiles();
    EXPECT_EQ(0, src.FileCount());
    if (pOwner) FreeLSOwnerHandle(pOwner);
}

TEST(DragSrcItems, NothingToDragStartsNoDrag)
{
    OleScope ole;
    TLSDragSrc src(nullptr, nullptr, nullptr);
    src.SetFilesPrepared(true);
    src.SetDropping(true);
    EXPECT_EQ(LS_DRAG_NOTHING, src.StartFileDrag());
    EXPECT_FALSE(src.GetFilesPrepared());
    EXPECT_FALSE(src.GetDropping());
    src.SetDropping(true);
    EXPECT_EQ(LS_DRAG_NOTHING, src.StartTextDrag(""));
    EXPECT_FALSE(src.GetDropping());
    EXPECT_EQ(LS_DRAG_NOTHING, src.StartTextDrag(nullptr));
}
