// The drag source component and its exported factory functions. They share
// this translation unit so that the program keeps the exports whenever it
// links the component.
#include "LSDragAndDrop.h"

#include <shellapi.h>

#include <cstring>
#include <new>

#include "LSDragObjects.h"
#include "LSStr.h"

namespace {

// The number of live drag source components in the process.
volatile LONG g_nLiveDragSrc = 0;

// Lowers the counter unless it is already 0.
void LSDecrementLive()
{
    for (;;) {
        LONG nNow = g_nLiveDragSrc;
        if (nNow <= 0) return;
        if (InterlockedCompareExchange(&g_nLiveDragSrc, nNow - 1, nNow) == nNow) return;
    }
}

// Records a failed HRESULT in the error record.
void LSRecordHr(tag_TLSErrHandler* pErr, HRESULT hr, const char* pszSrcFile, int nLine, const char* pszMessage)
{
    LSAddDefErrorAt(pErr, false, static_cast<DWORD>(hr), pszSrcFile, nLine, pszMessage);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and destruction
// ---------------------------------------------------------------------------

TLSDragSrc::TLSDragSrc(TLSOwner* pOwner, TLSDragSink* pSink, TComponent* pOwnerComponent)
    : TLSDragSrcIF(pOwnerComponent)
{
    Init(pOwner, pSink);
}

TLSDragSrc::TLSDragSrc(TLSOwner* pOwner, TLSDragSink* pSink, TLSMessageHook* pHook, TComponent* pOwnerComponent)
    : TLSDragSrcIF(pOwnerComponent)
{
    // First, so that nothing is counted or initialised when it fails.
    if (pHook) *pHook = [this](MSG& Msg, bool& Handled) { HandleMessage(Msg, Handled); };
    Init(pOwner, pSink);
}

void TLSDragSrc::Init(TLSOwner* pOwner, TLSDragSink* pSink)
{
    LS_TRACE_LOG(nullptr, "TLSDragSrc::TLSDragSrc");
    m_pOwner = pOwner;
    m_pErr = LSOwnerErr(pOwner);
    InterlockedIncrement(&g_nLiveDragSrc);
    ClearLSError(m_pErr);
    // DoDragDrop needs OLE on this thread, not only COM, for as long as the
    // component lives. Every successful OleInitialize is balanced in the
    // destructor, also the one that found COM already running (S_FALSE):
    // undoing that one at once would end OLE for the thread again.
    HRESULT hr = OleInitialize(nullptr);
    m_bComReady = SUCCEEDED(hr);
    if (FAILED(hr)) LSRecordHr(m_pErr, hr, __FILE__, __LINE__, "TLSDragSrc::TLSDragSrc failed!");
    m_pSink = pSink;
    m_bDropping = false;
    m_bFilesPrepared = false;
    m_bVerifyFiles = false;
    m_eDropEffect = lsMove;
    m_hDropWnd = nullptr;
}

TLSDragSrc::~TLSDragSrc()
{
    LS_TRACE_LOG(nullptr, "TLSDragSrc::~TLSDragSrc");
    ClearFiles();
    DisableFileDrop();
    if (m_bComReady) OleUninitialize();
    m_bComReady = false;
    m_droppedFiles.clear();
    LSDecrementLive();
}

LONG TLSDragSrc::LiveCount()
{
    return InterlockedCompareExchange(&g_nLiveDragSrc, 0, 0);
}

// ---------------------------------------------------------------------------
// Sink calls
// ---------------------------------------------------------------------------

bool TLSDragSrc::CreateDropFile(const char* pszName, const char* pszContent, int nIndex, int nCount)
{
    if (!pszName) return false;
    if (m_pSink) {
        try {
            m_pSink->SinkCreateFile(pszName, pszContent ? pszContent : "", nIndex, nCount);
        } catch (...) {
            LSAddDefErrorAt(m_pErr, false, ERROR_UNHANDLED_ERROR, __FILE__, __LINE__,
                            "TLSDragSrc::CreateDropFile failed!");
        }
    }
    return true;
}

bool TLSDragSrc::NotifyDuplicateFile(const char* pszName)
{
    if (!pszName) return false;
    if (m_pSink) {
        try {
            m_pSink->SinkDuplicateName(pszName);
        } catch (...) {
            LSAddDefErrorAt(m_pErr, false, ERROR_UNHANDLED_ERROR, __FILE__, __LINE__,
                            "TLSDragSrc::NotifyDuplicateFile failed!");
        }
    }
    return true;
}

bool TLSDragSrc::NotifyFilesDropped(const TLSStringList* pList)
{
    if (!pList) return false;
    if (m_pSink) {
        try {
            m_pSink->SinkFilesDropped(pList);
        } catch (...) {
            LSAddDefErrorAt(m_pErr, false, ERROR_UNHANDLED_ERROR, __FILE__, __LINE__,
                            "TLSDragSrc::NotifyFilesDropped failed!");
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Files dropped onto the drop window
// ---------------------------------------------------------------------------

bool TLSDragSrc::EnableFileDrop()
{
    if (m_hDropWnd) DragAcceptFiles(m_hDropWnd, TRUE);
    return true;
}

bool TLSDragSrc::DisableFileDrop()
{
    if (m_hDropWnd) DragAcceptFiles(m_hDropWnd, FALSE);
    return true;
}

bool TLSDragSrc::SetDropWindow(HWND hWnd)
{
    LS_TRACE_LOG(nullptr, "TLSDragSrc::SetDropWindow");
    if (!hWnd) {
        bool bResult = DisableFileDrop();
        m_hDropWnd = nullptr;
        return bResult;
    }
    if (!IsWindow(hWnd)) return false;
    DisableFileDrop();
    m_hDropWnd = hWnd;
    return EnableFileDrop();
}

void TLSDragSrc::HandleMessage(MSG& Msg, bool& Handled)
{
    Handled = false;
    if (Msg.message != WM_DROPFILES) return;
    HDROP hDrop = reinterpret_cast<HDROP>(Msg.wParam);
    if (!hDrop) return;
    LS_TRACE_LOG(nullptr, "TLSDragSrc::HandleMessage");

    try {
        UINT nCount = DragQueryFileA(hDrop, 0xFFFFFFFF, nullptr, 0);
        if (nCount > 0) {
            m_droppedFiles.clear();
            char szName[LS_PATH_SIZE];
            for (UINT i = 0; i < nCount; ++i) {
                // A name that does not fit is skipped, never cut: a cut name
                // could name another file that exists.
                UINT cch = DragQueryFileA(hDrop, i, nullptr, 0);
                if (cch == 0 || cch >= LS_PATH_SIZE) continue;
                if (DragQueryFileA(hDrop, i, szName, sizeof(szName)) != cch) continue;
                if (TLSFile::FileExists(m_pOwner, szName) || TLSFile::DirExist(m_pOwner, szName)) {
                    m_droppedFiles.emplace_back(szName);
                    Handled = true;
                }
            }
            NotifyFilesDropped(&m_droppedFiles);
        }
    } catch (...) {
        LSAddDefErrorAt(m_pErr, false, ERROR_NOT_ENOUGH_MEMORY, __FILE__, __LINE__,
                        "TLSDragSrc::HandleMessage failed!");
    }
    // Only a drop taken here is finished here. A declined one goes on to the
    // window with its handle intact: the window procedure reads and finishes it.
    if (Handled) DragFinish(hDrop);
}

// ---------------------------------------------------------------------------
// File items
// ---------------------------------------------------------------------------

void TLSDragSrc::ClearFiles()
{
    m_fileList.clear();  // each item wipes its content
}

bool TLSDragSrc::AddFile(const char* pszName, const char* pszContent)
{
    if (!pszContent) pszContent = "";
    // Names and contents are kept whole or not at all.
    if (!pszName || strnlen(pszName, LS_PATH_SIZE) >= LS_PATH_SIZE ||
        strnlen(pszContent, LS_PATH_SIZE) >= LS_PATH_SIZE) {
        LSAddDefErrorAt(m_pErr, false, pszName ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_PARAMETER, __FILE__,
                        __LINE__, "TLSDragSrc::AddFile failed!");
        return false;
    }
    try {
        std::unique_ptr<TLSDragItem> pItem(new TLSDragItem);
        LSStrCopy(pItem->szName, sizeof(pItem->szName), pszName);
        LSStrCopy(pItem->szContent, sizeof(pItem->szContent), pszContent);
        pItem->bSkip = false;
        m_fileList.push_back(std::move(pItem));
    } catch (...) {
        LSAddDefErrorAt(m_pErr, false, ERROR_NOT_ENOUGH_MEMORY, __FILE__, __LINE__, "TLSDragSrc::AddFile failed!");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Drags
// ---------------------------------------------------------------------------

void TLSDragSrc::SetDropEffect(TLSDropEffect eEffect)
{
    if (eEffect == lsCopy || eEffect == lsMove) m_eDropEffect = eEffect;
}

int TLSDragSrc::DoRunDrag(IDataObject* pData)
{
    TLSDropSource* pSource = new (std::nothrow) TLSDropSource(this);
    if (!pSource) {
        LSRecordHr(m_pErr, E_OUTOFMEMORY, __FILE__, __LINE__, "TLSDragSrc::DoRunDrag failed!");
        return LS_DRAG_FAILED;
    }
    const DWORD dwAllowed = LSAllowedEffect(m_eDropEffect);
    DWORD dwEffect = DROPEFFECT_NONE;
    HRESULT hr = ::DoDragDrop(pData, pSource, dwAllowed, &dwEffect);
    pSource->Release();
    if (FAILED(hr)) {
        LSRecordHr(m_pErr, hr, __FILE__, __LINE__, "TLSDragSrc::DoRunDrag failed!");
        return LS_DRAG_FAILED;
    }
    return (hr == DRAGDROP_S_DROP && dwEffect == dwAllowed) ? LS_DRAG_DONE : LS_DRAG_FAILED;
}

int TLSDragSrc::StartFileDrag()
{
    LS_TRACE_LOG(nullptr, "TLSDragSrc::StartFileDrag");
    // OnDropping stays as the creator set it: it is the event of this drag.
    m_bFilesPrepared = false;
    m_bDropping = false;
    if (m_fileList.empty()) return LS_DRAG_NOTHING;

    int nResult = LS_DRAG_FAILED;
    TLSFileDataObject* pData = new (std::nothrow) TLSFileDataObject(this);
    if (pData) {
        nResult = DoRunDrag(pData);
        pData->Release();
    } else {
        LSRecordHr(m_pErr, E_OUTOFMEMORY, __FILE__, __LINE__, "TLSDragSrc::StartFileDrag failed!");
    }
    m_bFilesPrepared = false;
    m_bDropping = false;
    return nResult;
}

int TLSDragSrc::StartTextDrag(const char* pszText)
{
    LS_TRACE_LOG(nullptr, "TLSDragSrc::StartTextDrag");
    m_bDropping = false;
    if (!pszText || !*pszText) return LS_DRAG_NOTHING;

    int nResult = LS_DRAG_FAILED;
    TLSTextDataObject* pData = TLSTextDataObject::Create(pszText);
    if (pData) {
        nResult = DoRunDrag(pData);
        pData->Release();  // the last reference wipes the copy of the text
    } else {
        LSRecordHr(m_pErr, E_OUTOFMEMORY, __FILE__, __LINE__, "TLSDragSrc::StartTextDrag failed!");
    }
    m_bDropping = false;
    return nResult;
}

// ---------------------------------------------------------------------------
// Exported functions
// ---------------------------------------------------------------------------

extern "C" __declspec(dllexport) TLSDragSrcIF* CreateDragSrcIFInstance(TLSOwner* pOwner,
                                                                       TComponent* pOwnerComponent,
                                                                       TLSMessageHook* pHook, bool bWithHook,
                                                                       TLSDragSink* pSink)
{
    try {
        if (bWithHook) return new TLSDragSrc(pOwner, pSink, pHook, pOwnerComponent);
        return new TLSDragSrc(pOwner, pSink, pOwnerComponent);
    } catch (...) {
        return nullptr;
    }
}

extern "C" __declspec(dllexport) bool FreeDragSrcIFInstance(TLSDragSrcIF* pInstance)
{
    if (!pInstance) return false;
    try {
        delete pInstance;
    } catch (...) {
        return false;
    }
    return true;
}
