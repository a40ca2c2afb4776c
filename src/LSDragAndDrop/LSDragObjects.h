// The COM objects a drag hands to DoDragDrop: the drop source, the text and
// file data objects and the format enumerator. Each starts with one reference
// (its creator's), counts with interlocked operations and deletes itself at
// zero through its virtual destructor. They are called on the drag's thread.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <cstddef>

#include "LSDragAndDrop.h"

// Size of the DROPFILES header of a shell file list (names follow it).
enum : DWORD { LS_DROPFILES_HEADER = 20 };

// The drop source: tells DoDragDrop whether to go on, drop or cancel.
class TLSDropSource : public IDropSource {
public:
    explicit TLSDropSource(TLSDragSrcIF* pDragSrc);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL fEscapePressed, DWORD grfKeyState) override;
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD dwEffect) override;
    virtual ~TLSDropSource() = default;

    // The effect the target showed last.
    DWORD LastEffect() const { return m_dwLastEffect; }

private:
    volatile LONG m_nRef = 1;
    DWORD m_dwLastEffect = 0;
    TLSDragSrcIF* m_pDragSrc;
};

// What the text and file objects share: reference count, interface table,
// the single format, its enumerator and the operations they do not offer.
class TLSDataObjectBase : public IDataObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pFormat, STGMEDIUM* pMedium) override;
    // DV_E_FORMATETC for another clipboard format, DV_E_TYMED without
    // TYMED_HGLOBAL among the requested media, else S_OK.
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pFormat) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pFormatIn, FORMATETC* pFormatOut) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pFormat, STGMEDIUM* pMedium, BOOL fRelease) override;
    // DATADIR_GET: a new enumerator of the one format (one reference for the caller).
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppEnum) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pFormat, DWORD advf, IAdviseSink* pSink,
                                      DWORD* pdwConnection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppEnum) override;
    virtual ~TLSDataObjectBase() = default;

    CLIPFORMAT Format() const { return m_cfFormat; }

protected:
    explicit TLSDataObjectBase(CLIPFORMAT cfFormat) : m_cfFormat(cfFormat) {}
    // Hands a block to the receiver, who owns and frees it.
    static void HandOver(STGMEDIUM* pMedium, HGLOBAL hMem);

private:
    volatile LONG m_nRef = 1;
    CLIPFORMAT m_cfFormat;
};

// A text as CF_TEXT. Keeps its own copy of the text (a password, often),
// wiped when the object goes; every answer is a new block for the receiver.
class TLSTextDataObject : public TLSDataObjectBase {
public:
    // Null when the memory for the copy cannot be had.
    static TLSTextDataObject* Create(const char* pszText);

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pFormat, STGMEDIUM* pMedium) override;
    ~TLSTextDataObject() override;

    size_t TextLength() const { return m_cchText; }

protected:
    // Takes over pszCopy (cchText characters and a zero), allocated with new[].
    TLSTextDataObject(char* pszCopy, size_t cchText);

private:
    char* m_pszText;
    size_t m_cchText;
};

// The drag source's file items as a shell file list (CF_HDROP). The files are
// written (through the drag source) only when the drop is being carried out,
// once per drop; a repeated name (letter case ignored) is listed once.
class TLSFileDataObject : public TLSDataObjectBase {
public:
    explicit TLSFileDataObject(TLSDragSrcIF* pDragSrc);

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pFormat, STGMEDIUM* pMedium) override;
    ~TLSFileDataObject() override = default;

private:
    // Has the items written: duplicates marked and notified, CreateDropFile
    // for each; a refused item ends the writing and drops it and every later item.
    void DoPrepareFiles();

    TLSDragSrcIF* m_pDragSrc;
};

// Enumerator of a single format (HGLOBAL medium, content aspect).
class TLSEnum : public IEnumFORMATETC {
public:
    explicit TLSEnum(CLIPFORMAT cfFormat, ULONG nPosition = 0);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC** ppEnum) override;
    virtual ~TLSEnum() = default;

    ULONG Position() const { return m_nPosition; }

private:
    volatile LONG m_nRef = 1;
    ULONG m_nPosition;
    CLIPFORMAT m_cfFormat;
};
