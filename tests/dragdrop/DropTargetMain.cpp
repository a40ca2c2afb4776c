// A drop target in a process of its own, for the drag tests.
//
//   dragdrop_target.exe <report file> <copy|move|none> <left> <top> <width> <height>
//
// Shows a window of class "KTXTestDropTarget" at the given place, registered
// as an OLE drop target that answers every drag with the given effect. It
// writes what happened to the report file when it ends, one event a line:
//   enter <effects offered>
//   leave
//   drop <effect answered> <GetData result of CF_TEXT, hex>
//   text <the CF_TEXT received>
//   files <GetData result of CF_HDROP, hex> <count>
//   file <name>
// It ends after a drop, on WM_CLOSE, or after 60 seconds.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

DWORD g_dwAnswer = DROPEFFECT_COPY;
std::string g_report;

void Note(const std::string& line)
{
    g_report += line;
    g_report += "\n";
}

std::string Hex(HRESULT hr)
{
    char sz[16];
    snprintf(sz, sizeof(sz), "%08lx", static_cast<unsigned long>(hr));
    return sz;
}

class TDropTarget : public IDropTarget {
public:
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
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_nRef); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&m_nRef); }

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD* pdwEffect) override
    {
        Note("enter " + std::to_string(*pdwEffect));
        *pdwEffect = g_dwAnswer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* pdwEffect) override
    {
        *pdwEffect = g_dwAnswer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override
    {
        Note("leave");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* pData, DWORD, POINTL, DWORD* pdwEffect) override
    {
        FORMATETC fmtText = {CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium = {};
        HRESULT hr = pData->GetData(&fmtText, &medium);
        Note("drop " + std::to_string(g_dwAnswer) + " " + Hex(hr));
        if (SUCCEEDED(hr)) {
            const char* psz = static_cast<const char*>(GlobalLock(medium.hGlobal));
            if (psz) Note(std::string("text ") + psz);
            GlobalUnlock(medium.hGlobal);
            ReleaseStgMedium(&medium);
        }
        FORMATETC fmtFiles = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM files = {};
        hr = pData->GetData(&fmtFiles, &files);
        if (SUCCEEDED(hr)) {
            HDROP hDrop = static_cast<HDROP>(files.hGlobal);
            UINT nCount = DragQueryFileA(hDrop, 0xFFFFFFFF, nullptr, 0);
            Note("files " + Hex(hr) + " " + std::to_string(nCount));
            for (UINT i = 0; i < nCount; ++i) {
                char szName[MAX_PATH] = {};
                DragQueryFileA(hDrop, i, szName, sizeof(szName));
                Note(std::string("file ") + szName);
            }
            ReleaseStgMedium(&files);
        }
        *pdwEffect = g_dwAnswer;
        PostQuitMessage(0);
        return S_OK;
    }

private:
    LONG m_nRef = 1;
};

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    if (uMsg == WM_TIMER) {
        Note("timeout");
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 7) return 2;
    const char* pszReport = argv[1];
    if (strcmp(argv[2], "move") == 0) g_dwAnswer = DROPEFFECT_MOVE;
    else if (strcmp(argv[2], "none") == 0) g_dwAnswer = DROPEFFECT_NONE;
    int x = atoi(argv[3]), y = atoi(argv[4]), cx = atoi(argv[5]), cy = atoi(argv[6]);

    if (FAILED(OleInitialize(nullptr))) return 3;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "KTXTestDropTarget";
    RegisterClassA(&wc);
    HWND hWnd = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "drop target", WS_POPUP | WS_VISIBLE | WS_BORDER,
                                x, y, cx, cy, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hWnd) return 4;
    TDropTarget target;
    if (FAILED(RegisterDragDrop(hWnd, &target))) return 5;
    SetTimer(hWnd, 1, 60000, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    RevokeDragDrop(hWnd);
    DestroyWindow(hWnd);
    OleUninitialize();

    FILE* pFile = fopen(pszReport, "wb");
    if (!pFile) return 6;
    fwrite(g_report.data(), 1, g_report.size(), pFile);
    fclose(pFile);
    return 0;
}
