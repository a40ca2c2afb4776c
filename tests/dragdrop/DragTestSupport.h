// Helpers of the drag tests: a sink that records (and can write files), an
// HDROP built by hand, reading a shell file list, and OLE for the test thread.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "LSDragAndDrop.h"

namespace ktxtest {

// Handles this thread's messages for ms milliseconds.
inline void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

// OLE on the test's thread for the lifetime of the object.
class OleScope {
public:
    OleScope() : m_hr(OleInitialize(nullptr)) {}
    ~OleScope()
    {
        if (SUCCEEDED(m_hr)) OleUninitialize();
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
    bool Ok() const { return SUCCEEDED(m_hr); }

private:
    HRESULT m_hr;
};

// Records every sink call in order. With a folder, SinkCreateFile writes the
// content into the file of that name (the name is the full path then).
class RecordingSink : public TLSDragSink {
public:
    struct CreateCall {
        std::string name, content;
        int index, count;
    };
    std::vector<std::string> events;   // "create <name> <index>/<count>", "duplicate <name>", "dropped <n>"
    std::vector<CreateCall> creates;
    std::vector<std::string> duplicates;
    std::vector<std::vector<std::string>> droppedLists;
    bool bWriteFiles = false;

    bool SinkCreateFile(const char* pszName, const char* pszContent, int nIndex, int nCount) override
    {
        creates.push_back({pszName, pszContent, nIndex, nCount});
        events.push_back("create " + std::string(pszName) + " " + std::to_string(nIndex) + "/" +
                         std::to_string(nCount));
        if (bWriteFiles && *pszName) {
            HANDLE h = CreateFileA(pszName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) return false;
            DWORD cb = 0;
            WriteFile(h, pszContent, static_cast<DWORD>(strlen(pszContent)), &cb, nullptr);
            CloseHandle(h);
        }
        return true;
    }
    bool SinkDuplicateName(const char* pszName) override
    {
        duplicates.push_back(pszName);
        events.push_back("duplicate " + std::string(pszName));
        return true;
    }
    bool SinkFilesDropped(const TLSStringList* pList) override
    {
        droppedLists.push_back(*pList);
        events.push_back("dropped " + std::to_string(pList->size()));
        return true;
    }
};

// A shell file list as the shell posts it with WM_DROPFILES: a movable block
// with the DROPFILES header and the names, each zero-terminated, closed by an
// extra zero.
inline HDROP MakeHDrop(const std::vector<std::string>& names, bool bWide = false)
{
    size_t cb = sizeof(DROPFILES) + 2 * (bWide ? sizeof(WCHAR) : 1);
    for (const auto& n : names) cb += (n.size() + 1) * (bWide ? sizeof(WCHAR) : 1);
    HGLOBAL h = GlobalAlloc(GHND, cb);
    if (!h) return nullptr;
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    DROPFILES* pHeader = reinterpret_cast<DROPFILES*>(p);
    pHeader->pFiles = sizeof(DROPFILES);
    pHeader->fWide = bWide;
    size_t pos = sizeof(DROPFILES);
    for (const auto& n : names) {
        if (bWide) {
            int cch = MultiByteToWideChar(CP_ACP, 0, n.c_str(), -1, reinterpret_cast<WCHAR*>(p + pos),
                                          static_cast<int>(n.size() + 1));
            pos += cch * sizeof(WCHAR);
        } else {
            memcpy(p + pos, n.c_str(), n.size() + 1);
            pos += n.size() + 1;
        }
    }
    GlobalUnlock(h);
    return static_cast<HDROP>(h);
}

// The names of a shell file list, read as a receiver reads them.
inline std::vector<std::string> ReadHDrop(HGLOBAL hMem)
{
    std::vector<std::string> names;
    HDROP hDrop = static_cast<HDROP>(hMem);
    UINT n = DragQueryFileA(hDrop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < n; ++i) {
        char sz[MAX_PATH] = {};
        DragQueryFileA(hDrop, i, sz, sizeof(sz));
        names.push_back(sz);
    }
    return names;
}

inline FORMATETC Fmt(CLIPFORMAT cf, DWORD tymed = TYMED_HGLOBAL)
{
    FORMATETC f = {cf, nullptr, DVASPECT_CONTENT, -1, tymed};
    return f;
}

}  // namespace ktxtest
