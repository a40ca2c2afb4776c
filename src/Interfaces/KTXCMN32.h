// KTXCMN32.DLL: the common services library.
// Owner handle and error record, trace, crypto, XML documents, files, tools,
// the safe log, shell helpers, standard message boxes and the loader of the
// shared dialogs in KTXDlg.DLL.
//
// Conventions: results are boolean success unless named otherwise; text
// buffers belong to the caller and are always zero-terminated; every function
// tolerates a null owner. Nothing here throws across the DLL boundary.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "KTXExport.h"

// ---------------------------------------------------------------------------
// Buffer sizes shared by the program and the libraries (terminator included)
// ---------------------------------------------------------------------------
enum : DWORD {
    LS_PATH_SIZE     = 256,   // file and folder paths
    LS_PASSWORD_SIZE = 257,   // passwords
    LS_USERNAME_SIZE = 65,    // Windows user names
    LS_XMLPATH_SIZE  = 513,   // element paths, version markers
    LS_TEXT_SIZE     = 4097,  // element texts, attribute values, message texts
    LS_HASH_SIZE     = 65     // HashDataHex results
};

// ---------------------------------------------------------------------------
// Error record and owner handle
// ---------------------------------------------------------------------------

// The record in which the failures of an operation chain are collected.
// ClearLSError opens every operation; AddDefError closes it. The first
// failure recorded after a clear stays readable: later failures of the same
// chain only raise nFailures and set szLastMessage.
typedef struct tag_TLSErrHandler {
    bool  bFailed;                       // a failure was recorded since the last clear
    DWORD dwErrCode;                     // system error code of the first failure
    int   nFailures;                     // failures recorded since the last clear
    char  szSrcFile[LS_PATH_SIZE];       // source file name of the first failure
    char  szDetail[LS_TEXT_SIZE];        // "%s [%d %s %d]": error text, code, source file, line
    char  szMessage[LS_TEXT_SIZE];       // failure text of the first failure ("X::Y failed!")
    char  szLastMessage[LS_TEXT_SIZE];   // failure text of the latest failure
} TLSErrHandler;

// One per process (per module name). The error handler is the first member,
// so a pointer to the owner is also a pointer to its error handler.
struct TLSOwner {
    tag_TLSErrHandler rErrHandler;       // adopted by every class of the program
    HWND  hOwnerWnd;                     // parent window of library dialogs and boxes
    int   nDlgLeft;                      // position for library dialogs (screen pixels)
    int   nDlgTop;
    bool  bDlgPosSet;                    // nDlgLeft/nDlgTop were set
    void* pStartUpForm;                  // the program's start-up form (a form object of the program), or null
    char  szModule[LS_PATH_SIZE];        // module name given to GetLSOwnerHandle
    void* pPrivate;                      // the library's own state; never touched by callers
};

// The owner's error handler, or null for a null owner.
inline tag_TLSErrHandler* LSOwnerErr(TLSOwner* pOwner)
{
    return pOwner ? &pOwner->rErrHandler : nullptr;
}

extern "C" {

// Obtains the owner handle of the module (for example "KTSafe.EXE"); null on failure.
KTXCMN32_API TLSOwner* GetLSOwnerHandle(const char* pszModule);
// Releases the owner handle; true for a handle obtained from GetLSOwnerHandle.
KTXCMN32_API bool FreeLSOwnerHandle(TLSOwner* pOwner);

// Clears the error record (null tolerated).
KTXCMN32_API void ClearLSError(tag_TLSErrHandler* pErr);
// Closes an operation: records a failure when bResult is false (detail text,
// system error code, failure text). Returns bResult. Null handler tolerated.
KTXCMN32_API bool AddDefError(tag_TLSErrHandler* pErr, bool bResult, const char* pszDetail,
                              DWORD dwErrCode, const char* pszMessage);
// AddDefError with the detail "%s [%d %s %d]" built from the system error text
// of dwErrCode, dwErrCode, the file name part of pszSrcFile and nLine.
KTXCMN32_API bool LSAddDefErrorAt(tag_TLSErrHandler* pErr, bool bResult, DWORD dwErrCode,
                                  const char* pszSrcFile, int nLine, const char* pszMessage);

// Trace line, printf-style. pContext is null for every trace of the program.
// Off unless enabled (setting or environment, see the library); never pass a
// password or decrypted text.
KTXCMN32_API void LS_TRACE_LOG(void* pContext, const char* pszFormat, ...);

}  // extern "C"

// Closes an operation with the standard detail of the current source line.
// The system error code is read first, before anything can overwrite it.
#define LS_DEF_ERROR(pErr, bResult, pszMessage) \
    LSAddDefErrorAt((pErr), (bResult), ::GetLastError(), __FILE__, __LINE__, (pszMessage))

// ---------------------------------------------------------------------------
// Crypto: cipher methods 2 and 4, MD5 digests, the platform CSPRNG
// ---------------------------------------------------------------------------
typedef void* LSCRYPTHANDLE;

enum : int {
    LS_CRYPT_LEGACY  = 2,   // method of the legacy four-round scheme
    LS_CRYPT_CURRENT = 4    // method of current safes
};

extern "C" {

// Opens a crypto context (key cache); *phCrypt is null on failure.
KTXCMN32_API bool GetWCHandle(LSCRYPTHANDLE* phCrypt, TLSOwner* pOwner);
// Frees the context and wipes every cached key.
KTXCMN32_API bool FreeWCHandle(LSCRYPTHANDLE hCrypt);

// Length-preserving encryption of dwDataLen bytes with method 2 or 4 under the
// key string (pszKey, dwKeyLen bytes, no terminator needed).
// *pdwOutLen: in the capacity of pOut, out the bytes produced (= dwDataLen).
KTXCMN32_API bool EnCryptData(LSCRYPTHANDLE hCrypt, int nMethod, const char* pszKey, DWORD dwKeyLen,
                              const BYTE* pData, DWORD dwDataLen, BYTE* pOut, DWORD* pdwOutLen);
// The inverse of EnCryptData. A ciphertext followed by extra bytes decrypts to
// the plaintext followed by as many bytes.
KTXCMN32_API bool DeCryptData(LSCRYPTHANDLE hCrypt, int nMethod, const char* pszKey, DWORD dwKeyLen,
                              const BYTE* pData, DWORD dwDataLen, BYTE* pOut, DWORD* pdwOutLen);
// Digest of the data as lower-case hexadecimal text (0x8003 = CALG_MD5).
// *pdwLen: in the capacity of pszOut (65), out the characters written.
KTXCMN32_API bool HashDataHex(LSCRYPTHANDLE hCrypt, const BYTE* pData, DWORD dwDataLen,
                              char* pszOut, DWORD* pdwLen, DWORD dwAlgId);

// Fills the buffer from the platform CSPRNG.
KTXCMN32_API bool LSGenRandom(void* pBuffer, DWORD cbBuffer);
// A uniformly distributed number 0 .. dwBound - 1 (no modulo bias); false for dwBound 0.
KTXCMN32_API bool LSGenRandomBelow(DWORD dwBound, DWORD* pdwOut);

}  // extern "C"

// ---------------------------------------------------------------------------
// XML documents
// ---------------------------------------------------------------------------

// An XML document addressed by paths: element names from the root joined by
// ".". Names and texts are single-byte strings of the ANSI code page. Element
// order is document order; new elements go to the end of their parent.
class KTXCMN32_API TXmlAPI {
public:
    explicit TXmlAPI(TLSOwner* pOwner);
    virtual ~TXmlAPI();
    TXmlAPI(const TXmlAPI&) = delete;
    TXmlAPI& operator=(const TXmlAPI&) = delete;

    // Loads a file; false (document emptied) when it is missing or not well-formed.
    bool Init(const char* pszFile);
    // Starts an empty document with the given root element.
    bool New(const char* pszRootTag);
    // Writes the document; the file is replaced atomically. pReserved is null.
    bool Write(const char* pszFile, void* pReserved);
    // The root element's name.
    bool GetRootTag(char* pszOut, DWORD dwSize = LS_XMLPATH_SIZE);

    // The text of the element at pszPath.
    bool GPPS(const char* pszPath, char* pszOut, DWORD dwSize);
    // With pszKey null: the names of the children of pszPath, each
    // zero-terminated, closed by an empty name; dwSize bytes may be written,
    // every terminator included (false when they do not fit).
    // With pszKey given: the text of the child element pszKey.
    bool GPPS(const char* pszPath, const char* pszKey, char* pszOut, DWORD dwSize);
    // Sets the text of the element at pszPath, creating missing elements along
    // the path; a null text removes the element and everything in it.
    bool PPPS(const char* pszPath, const char* pszText);
    // An attribute of the element at pszPath; false when element or attribute is missing.
    bool GetAtt(const char* pszPath, const char* pszAttr, char* pszOut, DWORD dwSize);
    // Sets or replaces an attribute of the existing element at pszPath.
    bool PutAtt(const char* pszPath, const char* pszAttr, const char* pszValue);

private:
    struct Impl;
    Impl* m_pImpl;
};

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------
class KTXCMN32_API TLSFile {
public:
    explicit TLSFile(TLSOwner* pOwner);
    virtual ~TLSFile();
    TLSFile(const TLSFile&) = delete;
    TLSFile& operator=(const TLSFile&) = delete;

    static bool FileExists(TLSOwner* pOwner, const char* pszPath);
    static bool DirExist(TLSOwner* pOwner, const char* pszPath);
    // Size in bytes; 0 for a missing or empty file.
    static unsigned long long FileSize(TLSOwner* pOwner, const char* pszPath);

    // Creates the folder and every missing parent; true when it exists afterwards.
    bool CreateDir(const char* pszPath);
    // Copies a file, replacing the target.
    bool CpyFile(const char* pszFrom, const char* pszTo, LPPROGRESS_ROUTINE pfnProgress = nullptr);
    // Moves a file, replacing the target, across volumes too.
    bool MovFile(const char* pszFrom, const char* pszTo, LPPROGRESS_ROUTINE pfnProgress = nullptr);
    // Removes a file, also a read-only, hidden or system one. A missing file is no error.
    bool RmvFile(const char* pszPath, DWORD dwFlags = 0);

private:
    TLSOwner* m_pOwner;
};

// ---------------------------------------------------------------------------
// Tools
// ---------------------------------------------------------------------------
class KTXCMN32_API TLSTools {
public:
    explicit TLSTools(TLSOwner* pOwner);
    virtual ~TLSTools();
    TLSTools(const TLSTools&) = delete;
    TLSTools& operator=(const TLSTools&) = delete;

    // True when another instance with this title runs (a named mutex held for
    // the life of the process that asked first).
    static bool IsApplicationRun(const char* pszTitle);
    // Brings a window to the front, restoring it when minimised.
    static bool BringWindowToTop(HWND hWnd);
    static void LSSleep(DWORD dwMilliseconds);
    // The system's text for an error code (a per-thread buffer; never null).
    static const char* GetErrTxt(DWORD dwErrCode);
    // Splits a path; each output may be null and holds LS_PATH_SIZE bytes:
    // folder with its trailing separator, name without extension, extension with its dot.
    static bool SplitPath(const char* pszPath, char* pszDir, char* pszName, char* pszExt);
    // Replaces (or appends) the extension of the path in place (LS_PATH_SIZE buffer).
    static bool ReplaceExtension(const char* pszExt, char* pszPath);
    // Removes a trailing path separator in place (a drive root keeps its own).
    static bool RemovePathSlash(char* pszPath);
    // Checks a URL in a LS_PATH_SIZE buffer and may rewrite it in place; false
    // when it is not usable as a URL.
    static bool DoCheckURL(char* pszURL);
    // COM / OLE initialisation of the calling thread; true when this call did it.
    static bool LSCoInitialize(TLSOwner* pOwner);
    static bool LSOLEInitialize(TLSOwner* pOwner);
    // Undo only what the matching call did; *pbDone is cleared.
    static bool LSCoUninitialize(bool* pbDone);
    static bool LSOLEUninitialize(bool* pbDone);

    // The current user's name (LS_USERNAME_SIZE buffer).
    bool GetUsrNam(char* pszOut, DWORD dwSize = LS_USERNAME_SIZE);
    // Reversible text encoding of bytes. *pdwLen: in the capacity, out the size written
    // (characters without terminator for Bin2Text, bytes for Text2Bin).
    bool Bin2Text(const BYTE* pBin, DWORD dwBinLen, char* pszText, DWORD* pdwTextLen);
    bool Text2Bin(const char* pszText, DWORD dwTextLen, BYTE* pBin, DWORD* pdwBinLen);
    // Starts a process and keeps its handle (also returned through phProcess when given).
    bool CreateProcessA(const char* pszCmdLine, bool bWait, int nShow, const char* pszDir,
                        HANDLE* phProcess);
    // Ends the given process, or with null the one kept by CreateProcessA.
    bool TerminateProcess(HANDLE hProcess);

private:
    TLSOwner* m_pOwner;
    HANDLE    m_hProcess;
};

// ---------------------------------------------------------------------------
// Safe log
// ---------------------------------------------------------------------------
enum : int { LS_LOG_INFO = 2 };

class KTXCMN32_API TLSLog {
public:
    explicit TLSLog(TLSOwner* pOwner);
    virtual ~TLSLog();
    TLSLog(const TLSLog&) = delete;
    TLSLog& operator=(const TLSLog&) = delete;

    // Binds the log to its file and to the settings key that keeps its seal.
    bool Init(const char* pszFile, const char* pszKey, int nFlags);
    // Appends one time-stamped line, printf-style.
    bool Msg(int nKind, const char* pszFormat, ...);
    // Full path of the log file (empty before Init).
    const char* GetLogFilNam() const;
    // Seals the log as it stands. The seal's secret is made at the first seal
    // and kept by the user's data protection, never in plain in the settings.
    bool WriteHash();
    // The check at opening. False when the sealed part was changed or
    // shortened, or the seal cannot be checked or was removed while a secret
    // exists: a warning line is appended, and the caller tells the user once
    // (DLS_TXT_SAFELOG_CHANGED with GetLogFilNam()). True with no seal and no
    // secret yet (a first run) and for lines appended after the seal. A plain
    // secret of an earlier version checks once and is then replaced.
    bool CheckHash();

private:
    struct Impl;
    Impl* m_pImpl;
};

// ---------------------------------------------------------------------------
// Shell
// ---------------------------------------------------------------------------
class KTXCMN32_API TShellAPI {
public:
    TShellAPI(TLSOwner* pOwner, bool bFlag);
    virtual ~TShellAPI();
    TShellAPI(const TShellAPI&) = delete;
    TShellAPI& operator=(const TShellAPI&) = delete;

    // ShellExecute of a file or URL.
    bool ShellCmd(HWND hWnd, const char* pszFile, const char* pszVerb, const char* pszParams, bool bWait);
    // Writes a shortcut (.lnk) file.
    bool CreateLink(const char* pszTarget, const char* pszLinkFile, const char* pszDescription,
                    const char* pszWorkDir, const char* pszArgs, int nIconIndex, int nShow, int nReserved);
    // Shortcuts named by a caption in a shell folder given by CSIDL (11 = Start menu).
    bool AddLinkIn(const char* pszTarget, const char* pszArgs, const char* pszCaption, int nIconIndex, int nCsidl);
    bool ExistsLinkIn(const char* pszCaption, int nCsidl);
    bool RmvLinkIn(const char* pszCaption, int nCsidl);

private:
    TLSOwner* m_pOwner;
    bool      m_bComInit;
};

// ---------------------------------------------------------------------------
// Standard message boxes (parented to hWnd, or the owner's window slot)
// ---------------------------------------------------------------------------
class KTXCMN32_API TLSError {
public:
    // A question; true when the user agrees.
    static bool StdAskMsg(TLSOwner* pOwner, HWND hWnd, const char* pszCaption, const char* pszText,
                          const void* p1 = nullptr, const void* p2 = nullptr, const void* p3 = nullptr,
                          const void* p4 = nullptr, const void* p5 = nullptr, const void* p6 = nullptr);
    // A notice.
    static bool StdHinweisMsg(TLSOwner* pOwner, HWND hWnd, const char* pszText,
                              const char* pszCaption = nullptr, const char* pszMore = nullptr);
    // Closes a user operation: silent unless bResult is false and bCancelled is
    // false; then shows pszText with the detail of the owner's error record.
    // Returns bResult.
    static bool StdErrorMsg(TLSOwner* pOwner, HWND hWnd, bool bResult, bool bCancelled, const char* pszText);
};

// ---------------------------------------------------------------------------
// Certificates and progress records exchanged with the shared dialogs
// ---------------------------------------------------------------------------

// A certificate of a system store, named by its SHA-1 thumbprint.
struct TLSCryptCert {
    char     szStore[64];          // system store name, "MY"
    DWORD    dwStoreFlags;         // CertOpenStore flags, 0x14000 = current user, open existing
    BYTE     abThumbprint[20];     // SHA-1 thumbprint (cbThumbprint bytes); all zero when empty
    DWORD    cbThumbprint;
    char     szSubject[256];       // simple display name of the subject
    char     szIssuer[256];        // simple display name of the issuer
    FILETIME ftNotAfter;           // end of validity
    bool     bHasPrivateKey;       // its private key is present for this user
    bool     bEncryptionCert;      // it is the user's chosen encryption certificate
};

// The empty state of a certificate record: store "MY", flags 0x14000, all else zero.
inline void LSInitCryptCert(TLSCryptCert* pCert)
{
    if (!pCert) return;
    ZeroMemory(pCert, sizeof(*pCert));
    pCert->szStore[0] = 'M';
    pCert->szStore[1] = 'Y';
    pCert->dwStoreFlags = 0x14000;
}

// Progress state shown by the progress dialog; the layout is fixed.
#pragma pack(push, 4)
struct TLSProgress {
    int32_t nReserved;        // offset 0, zero
    int32_t nIndex;           // offset 4, index of the item being processed, from 0
    int32_t nCount;           // offset 8, number of items
    char    szName[4364];     // offset 12, name of the item being processed
    uint8_t bFlag;            // offset 4376, set to 1 before each step
};
#pragma pack(pop)
static_assert(offsetof(TLSProgress, nIndex) == 4, "progress record layout");
static_assert(offsetof(TLSProgress, nCount) == 8, "progress record layout");
static_assert(offsetof(TLSProgress, szName) == 12, "progress record layout");
static_assert(offsetof(TLSProgress, bFlag) == 4376, "progress record layout");

// The progress dialog of KTXDlg.DLL, obtained from DYN_DoGetFrmDlgProgress.
class TLSProgressDlg {
public:
    // Shows (bVisible) or hides the dialog; nTextId 10011, nFlags 0.
    virtual bool Show(TLSOwner* pOwner, HWND hParent, TLSProgress* pProgress, bool bVisible,
                      int nTextId, int nFlags, bool* pbCancel) = 0;
    // Shows the state of *pProgress and keeps the dialog painted.
    virtual bool Step(TLSProgress* pProgress, bool* pbCancel) = 0;

protected:
    virtual ~TLSProgressDlg() = default;
};

// Answers of DYN_DoInputImportSave.
enum : int {
    LS_IMPORTSAVE_IMPORT = 9,   // use an existing safe file
    LS_IMPORTSAVE_NEW    = 10   // create a new safe
};

// ---------------------------------------------------------------------------
// Shared dialogs: forwards to KTXDlg.DLL, loaded on first use. A missing DLL
// or export gives false (0 for DYN_DoInputImportSave) and records why.
// ---------------------------------------------------------------------------
class KTXCMN32_API TVornixDyn {
public:
    TVornixDyn(TLSOwner* pOwner, const char* pszDll);
    virtual ~TVornixDyn();
    TVornixDyn(const TVornixDyn&) = delete;
    TVornixDyn& operator=(const TVornixDyn&) = delete;

    // Asks for a password (masked); *pbCancel set when the user cancels.
    static bool DYN_DoInputPassword(TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize, bool* pbCancel);
    // Asks for a new password, twice.
    static bool DYN_DoInputPasswordChange(TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize, bool* pbCancel);
    // Existing safe (9) or new safe (10); anything else is a cancel.
    static int DYN_DoInputImportSave(TLSOwner* pOwner, HWND hParent, int nMode,
                                     const char* pszImportText, const char* pszExportText);
    static bool DYN_DoShowAbout(TLSOwner* pOwner, HWND hParent, const char* pszText);

    // The progress dialog, or null; freed by DYN_DoFreeFrmDlgProgress.
    TLSProgressDlg* DYN_DoGetFrmDlgProgress(TLSOwner* pOwner, HWND hParent);
    bool DYN_DoFreeFrmDlgProgress(TLSProgressDlg* pProgress);
    // The certificate manager. With ppCerts and pnCount given, returns the
    // certificates the user selected (freed by DYN_DoFreeMgrCertificates).
    bool DYN_DoInputDlgCertificateMgr(TLSOwner* pOwner, HWND hParent, TLSCryptCert** ppCerts, int* pnCount,
                                      const char* pszStore, int nMode, bool* pbCancel);
    bool DYN_DoFreeMgrCertificates(TLSCryptCert* pCerts);

private:
    TLSOwner* m_pOwner;
    char      m_szDll[LS_PATH_SIZE];
};
