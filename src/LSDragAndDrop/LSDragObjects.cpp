// The drop source, the data objects and the format enumerator of a drag.
#include "LSDragObjects.h"

#include <shlobj.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

// A block of movable, zero-filled global memory; null when it cannot be had.
HGLOBAL LSAllocBlock(size_t cbSize)
{
    return GlobalAlloc(GHND, cbSize);
}

// Names compared as the file system does: character by character, letter
// case ignored (no linguistic rules that would call "a-b" and "ab" equal).
bool LSSameName(const char* pszA, const char* pszB)
{
    WCHAR wszA[LS_PATH_SIZE];
    WCHAR wszB[LS_PATH_SIZE];
    int cchA = MultiByteToWideChar(CP_ACP, 0, pszA, -1, wszA, LS_PATH_SIZE);
    int cchB = MultiByteToWideChar(CP_ACP, 0, pszB, -1, wszB, LS_PATH_SIZE);
    if (cchA <= 0 || cchB <= 0) return false;
    return CompareStringOrdinal(wszA, cchA - 1, wszB, cchB - 1, TRUE) == CSTR_EQUAL;
}

}  // namespace

// ---------------------------------------------------------------------------
// TLSDropSource
// ---------------------------------------------------------------------------

TLSDropSource::TLSDropSource(TLSDragSrcIF* pDragSrc) : m_pDragSrc(pDragSrc) {}

HRESULT STDMETHODCALLTYPE TLSDropSource::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropSource)) {
        *ppv = static_cast<IDropSource*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TLSDropSource::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_nRef));
}

ULONG STDMETHODCALLTYPE TLSDropSource::Release()
{
    LONG nRef = InterlockedDecrement(&m_nRef);
    if (nRef == 0) delete this;
    return static_cast<ULONG>(nRef);
}

HRESULT STDMETHODCALLTYPE TLSDropSource::QueryContinueDrag(BOOL fEscapePressed, DWORD grfKeyState)
{
    m_pDragSrc->SetDropping(false);
    if (fEscapePressed) return DRAGDROP_S_CANCEL;
    if (grfKeyState & MK_LBUTTON) return S_OK;

    // Released: the drop happens now.
    if (m_dwLastEffect == LSAllowedEffect(m_pDragSrc->GetDropEffect()) && m_pDragSrc->OnDropping) {
        // The handler runs inside DoDragDrop: nothing may unwind through it.
        try {
            m_pDragSrc->OnDropping(m_pDragSrc);
        } catch (...) {
        }
    }
    m_pDragSrc->SetDropping(true);
    return DRAGDROP_S_DROP;
}

HRESULT STDMETHODCALLTYPE TLSDropSource::GiveFeedback(DWORD dwEffect)
{
    m_dwLastEffect = dwEffect;
    return DRAGDROP_S_USEDEFAULTCURSORS;
}

// ---------------------------------------------------------------------------
// TLSDataObjectBase
// ---------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE TLSDataObjectBase::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
        *ppv = static_cast<IDataObject*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TLSDataObjectBase::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_nRef));
}

ULONG STDMETHODCALLTYPE TLSDataObjectBase::Release()
{
    LONG nRef = InterlockedDecrement(&m_nRef);
    if (nRef == 0) delete this;
    return static_cast<ULONG>(nRef);
}

HRESULT STDMETHODCALLTYPE TLSDataObjectBase::GetDataHere(FORMATETC*, STGMEDIUM*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TLSDataObjectBase::QueryGetData(FORMATETC* pFormat)
{
    if (!pFormat) return E_INVALIDARG;
    if (pFormat->cfFormat != m_cfFormat) return DV_E_FORMATETC;
    if (!(pFormat->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TLSDataObjectBase::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TLSDataObjectBase::SetData(FORMATETC*, STGMEDIUM*, BOOL)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TLSDataObjectBase::EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppEnum)
{
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (dwDirection != DATADIR_GET) return E_NOTIMPL;
    TLSEnum* pEnum = new (std::nothrow) TLSEnum(m_cfFormat);
    if (!pEnum) return E_OUTOFMEMORY;
    *ppEnum = pEnum;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TLSDataObjectBase::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TLSDataObjectBase::DUnadvise(DWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TLSDataObjectBase::EnumDAdvise(IEnumSTATDATA**)
{
    return E_NOTIMPL;
}

void TLSDataObjectBase::HandOver(STGMEDIUM* pMedium, HGLOBAL hMem)
{
    pMedium->tymed = TYMED_HGLOBAL;
    pMedium->hGlobal = hMem;
    pMedium->pUnkForRelease = nullptr;
}

// ---------------------------------------------------------------------------
// TLSTextDataObject
// ---------------------------------------------------------------------------

TLSTextDataObject* TLSTextDataObject::Create(const char* pszText)
{
    if (!pszText) pszText = "";
    size_t cch = strlen(pszText);
    char* pszCopy = new (std::nothrow) char[cch + 1];
    if (!pszCopy) return nullptr;
    memcpy(pszCopy, pszText, cch + 1);
    TLSTextDataObject* pObject = new (std::nothrow) TLSTextDataObject(pszCopy, cch);
    if (!pObject) {
        SecureZeroMemory(pszCopy, cch + 1);
        delete[] pszCopy;
    }
    return pObject;
}

TLSTextDataObject::TLSTextDataObject(char* pszCopy, size_t cchText)
    : TLSDataObjectBase(CF_TEXT), m_pszText(pszCopy), m_cchText(cchText)
{
}

TLSTextDataObject::~TLSTextDataObject()
{
    if (m_pszText) {
        SecureZeroMemory(m_pszText, m_cchText + 1);
        delete[] m_pszText;
        m_pszText = nullptr;
    }
    m_cchText = 0;
}

HRESULT STDMETHODCALLTYPE TLSTextDataObject::GetData(FORMATETC* pFormat, STGMEDIUM* pMedium)
{
    if (!pMedium) return E_INVALIDARG;
    if (QueryGetData(pFormat) != S_OK) return DV_E_FORMATETC;

    // The receiver owns the block; the text can be read while the pointer is
    // still over the target, so every request gets a block of its own.
    HGLOBAL hMem = LSAllocBlock(m_cchText + 11);
    if (!hMem) return E_OUTOFMEMORY;
    char* pDst = static_cast<char*>(GlobalLock(hMem));
    if (!pDst) {
        GlobalFree(hMem);
        return E_OUTOFMEMORY;
    }
    memcpy(pDst, m_pszText, m_cchText + 1);
    GlobalUnlock(hMem);
    HandOver(pMedium, hMem);
    return S_OK;
}

// ---------------------------------------------------------------------------
// TLSFileDataObject
// ---------------------------------------------------------------------------

TLSFileDataObject::TLSFileDataObject(TLSDragSrcIF* pDragSrc) : TLSDataObjectBase(CF_HDROP), m_pDragSrc(pDragSrc) {}

void TLSFileDataObject::DoPrepareFiles()
{
    TLSDragItemList* pList = m_pDragSrc->GetFileList();
    const size_t nCount = pList->size();
    // The answer of the duplicate notification that marked an item (true when none did).
    std::vector<bool> notifyOk(nCount, true);
    for (auto& pItem : *pList) pItem->bSkip = false;

    for (size_t i = 0; i < pList->size(); ++i) {
        TLSDragItem* pItem = (*pList)[i].get();
        // A repeated name is listed once, at its first place; each repetition is notified once.
        for (size_t j = i + 1; j < pList->size(); ++j) {
            TLSDragItem* pLater = (*pList)[j].get();
            if (pLater->bSkip || !LSSameName(pItem->szName, pLater->szName)) continue;
            notifyOk[j] = m_pDragSrc->NotifyDuplicateFile(pLater->szName);
            pLater->bSkip = true;
        }
        if (!notifyOk[i]) continue;
        if (!m_pDragSrc->CreateDropFile(pItem->szName, pItem->szContent, static_cast<int>(i),
                                        static_cast<int>(nCount))) {
            // This item and every later one cannot be offered.
            pList->erase(pList->begin() + static_cast<std::ptrdiff_t>(i), pList->end());
            break;
        }
    }
    m_pDragSrc->SetFilesPrepared(true);
}

HRESULT STDMETHODCALLTYPE TLSFileDataObject::GetData(FORMATETC* pFormat, STGMEDIUM* pMedium)
{
    if (!pMedium) return E_INVALIDARG;
    // A target that asks while the pointer only passes over it gets nothing,
    // and no file is written.
    if (QueryGetData(pFormat) != S_OK || !m_pDragSrc->GetDropping()) return DV_E_FORMATETC;

    TLSDragItemList* pList = m_pDragSrc->GetFileList();
    const size_t cbBlock = pList->size() * LS_PATH_SIZE + LS_DROPFILES_HEADER + 1;
    HGLOBAL hMem = LSAllocBlock(cbBlock);
    if (!hMem) return E_OUTOFMEMORY;
    BYTE* pBlock = static_cast<BYTE*>(GlobalLock(hMem));
    if (!pBlock) {
        GlobalFree(hMem);
        return E_OUTOFMEMORY;
    }
    DROPFILES* pHeader = reinterpret_cast<DROPFILES*>(pBlock);
    pHeader->pFiles = LS_DROPFILES_HEADER;
    pHeader->pt.x = 0;
    pHeader->pt.y = 0;
    pHeader->fNC = FALSE;
    pHeader->fWide = FALSE;

    if (!m_pDragSrc->GetFilesPrepared()) {
        // Called by the platform: nothing may unwind through it.
        try {
            DoPrepareFiles();
        } catch (...) {
            GlobalUnlock(hMem);
            GlobalFree(hMem);
            return E_OUTOFMEMORY;
        }
    }

    // The names, each with its zero; the zero-filled block ends the list. An
    // empty name would end the list early and hide every later file, so it
    // is not listed.
    size_t nPos = LS_DROPFILES_HEADER;
    for (const auto& pItem : *pList) {
        if (pItem->bSkip || pItem->szName[0] == '\0') continue;
        size_t cch = strnlen(pItem->szName, LS_PATH_SIZE - 1);
        if (nPos + cch + 2 > cbBlock) break;  // never past the block (the list cannot have grown)
        memcpy(pBlock + nPos, pItem->szName, cch);
        nPos += cch + 1;
    }
    GlobalUnlock(hMem);
    HandOver(pMedium, hMem);
    return S_OK;
}

// ---------------------------------------------------------------------------
// TLSEnum
// ---------------------------------------------------------------------------

TLSEnum::TLSEnum(CLIPFORMAT cfFormat, ULONG nPosition) : m_nPosition(nPosition), m_cfFormat(cfFormat) {}

HRESULT STDMETHODCALLTYPE TLSEnum::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumFORMATETC)) {
        *ppv = static_cast<IEnumFORMATETC*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TLSEnum::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_nRef));
}

ULONG STDMETHODCALLTYPE TLSEnum::Release()
{
    LONG nRef = InterlockedDecrement(&m_nRef);
    if (nRef == 0) delete this;
    return static_cast<ULONG>(nRef);
}

HRESULT STDMETHODCALLTYPE TLSEnum::Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched)
{
    if (m_nPosition != 0 || celt == 0) {
        if (pceltFetched) *pceltFetched = 0;
        return S_FALSE;
    }
    if (!rgelt) return E_POINTER;
    m_nPosition = 1;
    rgelt[0].cfFormat = m_cfFormat;
    rgelt[0].ptd = nullptr;
    rgelt[0].dwAspect = DVASPECT_CONTENT;
    rgelt[0].lindex = -1;
    rgelt[0].tymed = TYMED_HGLOBAL;
    if (pceltFetched) *pceltFetched = 1;
    return celt == 1 ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE TLSEnum::Skip(ULONG celt)
{
    // Saturating: a huge skip must not wrap back to the start.
    m_nPosition = (celt > ~0UL - m_nPosition) ? ~0UL : m_nPosition + celt;
    return m_nPosition > 1 ? S_FALSE : S_OK;
}

HRESULT STDMETHODCALLTYPE TLSEnum::Reset()
{
    m_nPosition = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TLSEnum::Clone(IEnumFORMATETC** ppEnum)
{
    if (!ppEnum) return E_POINTER;
    TLSEnum* pEnum = new (std::nothrow) TLSEnum(m_cfFormat, m_nPosition);
    *ppEnum = pEnum;
    return pEnum ? S_OK : E_OUTOFMEMORY;
}
