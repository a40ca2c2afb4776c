// The OLE drag source: hands a text or a list of files to other programs by
// drag and drop, and receives files dropped from the shell onto a window.
//
// The component TLSDragSrc is reached through the abstract TLSDragSrcIF; other
// modules obtain it from the program through CreateDragSrcIFInstance and give
// it back through FreeDragSrcIFInstance. Everything runs on the thread that
// created the component; DoDragDrop runs its modal loop there and calls the
// drop source and the data objects there.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "KTXCMN32.h"
#include "Toolkit.h"

// The effect a drag allows (and must end with to count as done).
enum TLSDropEffect : int {
    lsCopy = 0,   // DROPEFFECT_COPY
    lsMove = 1    // DROPEFFECT_MOVE
};

// One file a file drag offers. The file comes into being only when the drag
// is dropped (the sink writes it); the name is what the target receives.
struct TLSDragItem {
    bool bSkip = false;                  // a repeated name during a drop: not listed
    char szName[LS_PATH_SIZE] = {};      // the file name as it will be dropped
    char szContent[LS_PATH_SIZE] = {};   // what the file is to hold

    TLSDragItem() = default;
    TLSDragItem(const TLSDragItem&) = delete;
    TLSDragItem& operator=(const TLSDragItem&) = delete;
    // The content may be anything the creator dragged: it does not outlive the item.
    ~TLSDragItem() { SecureZeroMemory(szContent, sizeof(szContent)); }
};
typedef TLSDragItem* PLSDragItem;

// The file items of the component, in the order added; owned by the component.
typedef std::vector<std::unique_ptr<TLSDragItem>> TLSDragItemList;
// Full paths (dropped files).
typedef std::vector<std::string> TLSStringList;

// Events of a drag source, supplied by its creator (may be absent). The
// component calls them and ignores their results.
class TLSDragSink {
public:
    // Never called by the component: the sink belongs to its creator.
    virtual ~TLSDragSink() = default;
    // A file item is to be written now (index of count), during a drop.
    virtual bool SinkCreateFile(const char* pszName, const char* pszContent, int nIndex, int nCount) = 0;
    // A later file item repeats this name (letter case ignored); it is not listed.
    virtual bool SinkDuplicateName(const char* pszName) = 0;
    // Files were dropped onto the drop window (only those that exist).
    virtual bool SinkFilesDropped(const TLSStringList* pList) = 0;
};

// The application message hook record (the toolkit's TMessageHook): sees
// every message of the host's loops before it is dispatched; Handled = true
// keeps the message from being dispatched. The host installs it with
// Application->AddMessageHook.
typedef TMessageHook TLSMessageHook;

// Drag results
enum : int {
    LS_DRAG_NOTHING = 0,   // there was nothing to drag
    LS_DRAG_FAILED  = 1,   // cancelled, refused, another effect, or the drag could not run
    LS_DRAG_DONE    = 2    // dropped with exactly the effect DropEffect allows
};

class TLSDragSrcIF : public TComponent {
public:
    explicit TLSDragSrcIF(TComponent* pOwner) : TComponent(pOwner) {}

    // Event sink calls; true when the argument is given.
    virtual bool CreateDropFile(const char* pszName, const char* pszContent, int nIndex, int nCount) = 0;
    virtual bool NotifyDuplicateFile(const char* pszName) = 0;
    virtual bool NotifyFilesDropped(const TLSStringList* pList) = 0;
    // Whether the drop window accepts files dropped from the shell.
    virtual bool EnableFileDrop() = 0;
    virtual bool DisableFileDrop() = 0;
    // The window that accepts dropped files: an existing window, or null for none.
    virtual bool SetDropWindow(HWND hWnd) = 0;
    // Takes WM_DROPFILES of any window: the dropped files that exist are listed
    // and handed to the sink. With at least one of them the message is handled
    // and the drop handle released; otherwise it stays unhandled and its
    // handle intact for the window that receives it.
    virtual void HandleMessage(MSG& Msg, bool& Handled) = 0;
    // The file items of the next file drag.
    virtual void ClearFiles() = 0;
    // Appends a file item (a null content is empty); false, with nothing
    // added, for a null name or a name or content longer than 255 characters.
    virtual bool AddFile(const char* pszName, const char* pszContent) = 0;
    // Runs a drag of the file items, or of a text; LS_DRAG_... results.
    virtual int StartFileDrag() = 0;
    virtual int StartTextDrag(const char* pszText) = 0;
    // Properties
    virtual TLSDropEffect GetDropEffect() = 0;
    virtual void SetDropEffect(TLSDropEffect eEffect) = 0;
    virtual bool GetVerifyFiles() = 0;
    virtual void SetVerifyFiles(bool bVerify) = 0;
    virtual TLSDragItemList* GetFileList() = 0;
    virtual TLSStringList* GetDroppedFiles() = 0;
    // True from the release over a target until the drag call returns.
    virtual bool GetDropping() = 0;
    virtual void SetDropping(bool bDropping) = 0;
    // True once the current file drag has written its files.
    virtual bool GetFilesPrepared() = 0;
    virtual void SetFilesPrepared(bool bPrepared) = 0;

    // The number of file items.
    int FileCount() { return static_cast<int>(GetFileList()->size()); }

    // Called on release over a target that shows the allowed effect, before
    // the drop is carried out (Sender: the component).
    TNotifyEvent OnDropping;
};

class TLSDragSrc : public TLSDragSrcIF {
public:
    // pOwner: the error handler is taken from it (null tolerated); pSink may be
    // null. pOwnerComponent owns the new component (may be null).
    TLSDragSrc(TLSOwner* pOwner, TLSDragSink* pSink, TComponent* pOwnerComponent);
    // Also fills *pHook with this component's HandleMessage, for the host to
    // install as its application's message hook.
    TLSDragSrc(TLSOwner* pOwner, TLSDragSink* pSink, TLSMessageHook* pHook, TComponent* pOwnerComponent);
    ~TLSDragSrc() override;

    bool CreateDropFile(const char* pszName, const char* pszContent, int nIndex, int nCount) override;
    bool NotifyDuplicateFile(const char* pszName) override;
    bool NotifyFilesDropped(const TLSStringList* pList) override;
    bool EnableFileDrop() override;
    bool DisableFileDrop() override;
    bool SetDropWindow(HWND hWnd) override;
    void HandleMessage(MSG& Msg, bool& Handled) override;
    void ClearFiles() override;
    bool AddFile(const char* pszName, const char* pszContent) override;
    int StartFileDrag() override;
    int StartTextDrag(const char* pszText) override;
    TLSDropEffect GetDropEffect() override { return m_eDropEffect; }
    void SetDropEffect(TLSDropEffect eEffect) override;
    bool GetVerifyFiles() override { return m_bVerifyFiles; }
    void SetVerifyFiles(bool bVerify) override { m_bVerifyFiles = bVerify; }
    TLSDragItemList* GetFileList() override { return &m_fileList; }
    TLSStringList* GetDroppedFiles() override { return &m_droppedFiles; }
    bool GetDropping() override { return m_bDropping; }
    void SetDropping(bool bDropping) override { m_bDropping = bDropping; }
    bool GetFilesPrepared() override { return m_bFilesPrepared; }
    void SetFilesPrepared(bool bPrepared) override { m_bFilesPrepared = bPrepared; }

    // The window that accepts dropped files (null for none).
    HWND GetDropWindow() const { return m_hDropWnd; }
    // True while the component holds an OLE (and COM) initialisation of its thread.
    bool GetComReady() const { return m_bComReady; }
    // The number of live drag source components in the process.
    static LONG LiveCount();

private:
    void Init(TLSOwner* pOwner, TLSDragSink* pSink);
    // Runs DoDragDrop with the data object (one reference held by the caller).
    int DoRunDrag(IDataObject* pData);

    TLSOwner* m_pOwner = nullptr;
    tag_TLSErrHandler* m_pErr = nullptr;
    TLSDragSink* m_pSink = nullptr;
    TLSDragItemList m_fileList;
    TLSStringList m_droppedFiles;
    HWND m_hDropWnd = nullptr;
    TLSDropEffect m_eDropEffect = lsMove;
    bool m_bVerifyFiles = false;
    bool m_bDropping = false;
    bool m_bFilesPrepared = false;
    bool m_bComReady = false;
};

// The allowed effect of DoDragDrop for a drop effect property.
inline DWORD LSAllowedEffect(TLSDropEffect eEffect)
{
    return eEffect == lsCopy ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
}

// Exported by name from the program, for the modules it loads.
extern "C" {
// A new drag source (with bWithHook, *pHook is filled with its HandleMessage);
// null when it cannot be made.
__declspec(dllexport) TLSDragSrcIF* CreateDragSrcIFInstance(TLSOwner* pOwner, TComponent* pOwnerComponent,
                                                            TLSMessageHook* pHook, bool bWithHook,
                                                            TLSDragSink* pSink);
// Destroys a drag source made by CreateDragSrcIFInstance; false for null.
__declspec(dllexport) bool FreeDragSrcIFInstance(TLSDragSrcIF* pInstance);
}
