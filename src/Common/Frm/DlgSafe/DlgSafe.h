// The safe dialog: the program's main window while a safe is open. It lists
// the entries by name, shows the selected entry's four fields, and owns every
// library object, the crypto context, the entry record buffer, the password
// generator window and the drag source it works with.
//
// Its code is split by concern over several units of the same class: this
// unit's DlgSafe.cpp builds, shows, closes and destroys the dialog and keeps
// the change notification, the log viewer and the pickup of a generated
// password; DlgSafeKeys.cpp derives the safe password from the key file and
// the legacy key strings from a password. The entry store, the entry editing,
// the field actions and the unlock flow live in units of their own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DlgPasswordGenerator.h"
#include "KTXCMN32.h"
#include "LSDragAndDrop.h"
#include "Toolkit.h"

// Size of one entry record in memory: name 256, user name 65, password 257,
// URL 256 and note 1025 bytes.
enum : DWORD { LS_TRESOR_RECORD_SIZE = 1859 };

// The holder of the dialog's one entry record buffer. The buffer is allocated
// once and reused for every entry, so only one entry is ever in clear text.
struct TLSTresor {
    char szVersion[17];   // version label, set when an entry is encrypted; nothing reads it
    BYTE* pBuffer;        // the LS_TRESOR_RECORD_SIZE-byte entry record
    DWORD dwSize;         // sizeof(TLSTresor)
};
#if !defined(_WIN64)
static_assert(sizeof(TLSTresor) == 28, "entry record holder layout of the 32-bit program");
#endif

// Why an entry's stored text could not be read back.
enum TLSReadFault { READ_OK, READ_CHANGED, READ_WRONGKEY, READ_DAMAGED };

// The stored state of an entry element (its text, name and hash), taken
// before a change so that a change which cannot be written is taken back.
struct TLSEntryState {
    bool Take(TXmlAPI* pXml, const char* pszPath);
    bool PutBack(TXmlAPI* pXml, const char* pszPath) const;
    std::string text;
    std::string name;
    std::string hash;
    bool bHasHash = false;
};

// An entry element of the document: the entry's name and the element's path.
struct TLSEntryElement {
    std::string name;
    std::string path;
};

class TfrmDlgSafe : public TForm {
public:
    // How the dialog was closed (nCloseMode).
    enum : uint8_t { CLOSE_NORMAL = 4, CLOSE_CANCELLED = 6 };
    // Notification bit of a changed safe.
    enum : DWORD { NOTIFY_SAFE_CHANGED = 0x100 };
    // Limits of the window's outer size.
    enum : int { MIN_WIDTH = 690, MIN_HEIGHT = 230, RESIZE_MIN_WIDTH = 640, RESIZE_MIN_HEIGHT = 242 };
    // Input limits of the entry fields: exactly what the record keeps. The
    // note's slot has 1025 bytes, but the last four bytes of the record are
    // never stored, so 1021 characters come back.
    enum : int { MAX_USERNAME = 64, MAX_PASSWORD = 256, MAX_URL = 255, MAX_NOTE = 1021 };
    // Capacity of the log viewer's command line (terminator included).
    enum : int { LOG_COMMAND_SIZE = 256 };
    // Characters of one legacy key string slot (terminator included).
    enum : int { PASS_SEQUENZ_SIZE = 257 };
    // Capacity of the password buffer handed to DoGetCertPassword.
    enum : int { CERT_PASSWORD_SIZE = 257 };
    // Longest safe password the key file gives back.
    enum : int { CERT_PASSWORD_MAX_LEN = 56 };

    // Uses the program's owner handle.
    explicit TfrmDlgSafe(TComponent* AOwner);
    // Uses the given owner handle (null tolerated).
    TfrmDlgSafe(TComponent* AOwner, TLSOwner* pOwnerHandle);
    ~TfrmDlgSafe() override;

    // Building.
    bool DoLSClassInit(TLSOwner* pOwnerHandle);

    // Change notification: the callback of the settings library's listener
    // thread (context: the dialog), the change of this process's safe, and
    // the refresh on the GUI thread.
    static bool LSNotifyCallback(TLSOwner* pOwnerHandle, DWORD* pdwFlags, void* pContext);
    bool OnLSChange(bool bNotify);
    bool DoLSUpdate();

    // The safe log in a viewer; a viewer started earlier is ended first.
    bool DoShowSafeLog();

    // The safe password from the user's key file, opened with one of the
    // user's certificates. pszPassword holds CERT_PASSWORD_SIZE characters and
    // is empty after a failure; bNoScratch hands the key-file operation no
    // scratch buffer. bNewKeyFile: a missing key file is made new even though
    // the safe exists (a typed-password safe being converted).
    bool DoGetCertPassword(char* pszPassword, bool bNoScratch, bool bNewKeyFile = false);
    // The four legacy key strings from a password (at most 126 characters).
    bool DoLoadPassSequenz(const char* pszPassword);

    // The entry store. Entries are addressed by name; the names of their
    // elements never leave the store.
    // The root element name of the configured safe file (LS_XMLPATH_SIZE
    // buffer), read into a document of its own: the open one is not touched.
    bool DoGetSafeFileVersion(char* pszVersion);
    // Whether a version marker belongs to an older generation of safe files.
    bool IsOldSafeFileVersion(const char* pszVersion);
    // Path of the element that holds the entries (LS_XMLPATH_SIZE buffer).
    bool GetXMLMainTag(char* pszMainTag);
    // Path of the entry element named pszName, letter case ignored
    // (LS_XMLPATH_SIZE buffer); false when there is none.
    bool GetTagByAttr(const char* pszName, char* pszTag);
    // The smallest entry number no element uses; 0 on failure.
    bool GetNextFreeTagNum(int* pnNum);
    // Fills the entry list from the document and selects its top item.
    bool DoListSafe();
    // Adds, removes and renames an entry element; each change writes the safe.
    bool DoAddSafe(const char* pszName);
    bool DoRmvSafe(const char* pszName);
    bool DoRenameEntry(const char* pszOldName, const char* pszNewName);
    // Stores the shown fields into the entry of pItem and saves the safe;
    // with no item it does nothing.
    bool DoEncCryptItem(TListItem* pItem, int nMode);
    // Stores the shown fields into the entry of pItem only when the user
    // changed them since the entry was shown: an entry that was only looked
    // at (or could not be read) stays as it is in the file. True when nothing
    // had to be stored or storing worked.
    bool DoStoreChangedItem(TListItem* pItem);
    // Encrypts the record buffer into the element of the entry pszName and
    // writes the safe.
    bool DoEncCrypt(const char* pszName, int nMode);
    // Shows the entry of pItem in the fields; with no item it does nothing.
    bool DoDecCryptItem(TListItem* pItem, int nMode);
    // Checks and decrypts an element text into the record buffer.
    bool DoDecCrypt(const char* pszName, const char* pszText, const char* pszHash, int nMode);

    // Opening the safe: the static entry of the start-up form creates the
    // dialog, runs ShowModalSafe and destroys it again. ShowModalSafe finds
    // the safe file (or has the user choose one), obtains the password, opens
    // or creates the document, runs the dialog modally and, when it closes,
    // protects the file again and closes the safe log.
    static bool STA_DoInputVornixSafe(TLSOwner* pOwnerHandle, TComponent* pParent, bool* pbCancel);
    bool ShowModalSafe(const char* pszCaption, bool* pbCancel);
    // The end of an open safe's run, once: the file protected again, its
    // state backed up, the close line, separator and seal in the safe log.
    // Run by ShowModalSafe after the modal run, or at once when the user's
    // session ends while the dialog is open.
    bool DoCloseSafe();
    // Puts back a missing, empty or damaged safe file from its backup before
    // it is opened, and tells the user and the log when it did.
    bool RestoreSafeFile(const char* pszPath);
    // Turns an older safe file into a current one (bSilent: without asking).
    bool DoConvertOldSafeFileVersion(bool bSilent);

    // Password and safe file change. The password of a safe protected by a
    // typed password is changed by re-encrypting every entry; the safe file
    // is moved with its ".xmk" companion, and the settings follow.
    bool DoChangePassword();
    // Re-encrypts every entry from pszOldPassword to pszNewPassword; with
    // bConvert the entries are read in the legacy format and written in the
    // current one. The file is written once at the end; a failure on the way
    // leaves the document and the file as they were.
    bool DoEncTresorWithNewPassword(const char* pszOldPassword, const char* pszNewPassword, bool bConvert);
    bool DoChangeTresorFile();
    void btnChangePasswordClick(TObject* Sender);
    void pumChangePasswordClick(TObject* Sender);
    void btnChangeTresorFileClick(TObject* Sender);
    void pumChangeTresorFileClick(TObject* Sender);
    void btnKonvertClick(TObject* Sender);

    // --- Field actions (DlgSafeActions.cpp) ---
    // The password shown in clear or masked; the URL opened in the browser;
    // the password generator; the drag of a field's text into another
    // program (the text of the masked password goes in clear); the
    // certificate manager.
    bool DoShowPasswort();
    bool DoOpenBrowser();
    bool DoKeyGenerator();
    bool DoStartFieldDrag(TShiftState Shift, int X, int Y, TEdit* pField);
    bool DoCertMgr();
    void btnPasswortSichtbarClick(TObject* Sender);
    void btnBrowserOeffnenClick(TObject* Sender);
    void editURLExit(TObject* Sender);
    void btnKeyGeneratorClick(TObject* Sender);
    void pumKeyGeneratorClick(TObject* Sender);
    void btnCertMgrClick(TObject* Sender);
    void btnHilfeClick(TObject* Sender);
    void btnAboutClick(TObject* Sender);
    void btnLogFileClick(TObject* Sender);
    void editBenutzernameMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void editPasswortMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void editURLMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void memoSafeMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void editBenutzernameMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void editPasswortMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void editURLMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void memoSafeMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void editBenutzernameMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void editPasswortMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void editURLMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void memoSafeMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    // Wires the handlers above (called once while the dialog is built).
    void WireFieldActions();

private:
    // The URL field's text, checked and possibly rewritten, in a
    // LS_PATH_SIZE buffer; false when it is empty, does not fit or is not
    // usable as a URL.
    bool GetCheckedURL(char* pszURL);
    // What the mouse handlers of the four fields do.
    void FieldMouseDown(int X, int Y);
    void FieldMouseUp(int X, int Y);
    void FieldMouseMove(TShiftState Shift, int X, int Y, TEdit* pField);

public:
    // --- end of field actions ---

    // Choice of the safe file when the settings name none: the path of a new
    // safe, or of an existing one. The path goes to pszSafeFile and into the
    // settings.
    bool DoSaveDlgTresor();
    bool DoImportDlgTresor();

    // Entry editing: a new entry under a free default name, the removal of
    // an entry after asking, and the check of a name typed in place
    // (pszNewName is set back to the old name when the rename is refused).
    bool DoAddNewItem();
    bool DoRmvItem(TListItem* pItem);
    bool DoCheckChange(TListItem* pItem, std::string& newName);
    // A new entry asked for by the user (button, popup item): added as
    // DoAddNewItem adds it, then its name is open in the list's in-place
    // editor, so the user types the name at once.
    bool DoAddAndNameNewItem();
    void btnNeuerEintragClick(TObject* Sender);
    void pumNeuerEintragClick(TObject* Sender);
    void btnEintragLoeschenClick(TObject* Sender);
    void pumEintragLoeschenClick(TObject* Sender);
    void pumEintragUmbenennenClick(TObject* Sender);
    void lstvBezeichnungEdited(TObject* Sender, TListItem* Item, std::string& Caption);
    void lstvBezeichnungSelectItem(TObject* Sender, TListItem* Item, bool Selected);
    // Delete in the list removes the selected entry as the delete button does.
    void lstvBezeichnungKeyDown(TObject* Sender, WORD& Key, TShiftState Shift);
    void editBenutzernameChange(TObject* Sender);
    void editPasswortChange(TObject* Sender);
    void editURLChange(TObject* Sender);
    void memoSafeChange(TObject* Sender);
    void btnSaveClick(TObject* Sender);

    // Form events.
    void FormShow(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    // Logoff or shutdown while the dialog is open: the run ends as a close
    // does, inside the message, since the process ends when it returns.
    void FormEndSession(TObject* Sender);
    void FormResize(TObject* Sender);
    void tmrStartUpTimer(TObject* Sender);
    void tmrLSUpdateTimer(TObject* Sender);
    void tmrGetPasswordTimer(TObject* Sender);
    void btnCloseClick(TObject* Sender);
    void pumSpeichernClick(TObject* Sender);
    void pumAbbruchClick(TObject* Sender);

    // Controls.
    TPanel* pnlButtons;
    TButton* btnHilfe;
    TButton* btnAbout;
    TButton* btnLogFile;
    TButton* btnSave;
    TButton* btnClose;
    TPanel* pnlTop;
    TSpeedButton* btnNeuerEintrag;
    TSpeedButton* btnEintragLoeschen;
    TSpeedButton* btnKeyGenerator;
    TSpeedButton* btnChangeTresorFile;
    TSpeedButton* btnCertMgr;
    TSpeedButton* btnChangePassword;
    TSpeedButton* btnKonvert;
    TImage* img_qov_Tresor;
    TListView* lstvBezeichnung;
    TLabel* txtBenutzername;
    TEdit* editBenutzername;
    TLabel* txtPasswort;
    TEdit* editPasswort;
    TSpeedButton* btnPasswortSichtbar;
    TLabel* txtURL;
    TEdit* editURL;
    TSpeedButton* btnBrowserOeffnen;
    TMemo* memoSafe;
    TPopupMenu* pmSave;
    TMenuItem* pumNeuerEintrag;
    TMenuItem* pumDuplizieren;
    TMenuItem* pumEintragUmbenennen;
    TMenuItem* pumEintragLoeschen;
    TMenuItem* pumKeyGenerator;
    TMenuItem* N1;
    TMenuItem* pumChangePassword;
    TMenuItem* pumChangeTresorFile;
    TMenuItem* N2;
    TMenuItem* pumSpeichern;
    TMenuItem* pumAbbruch;
    TTimer* tmrGetPassword;
    TTimer* tmrStartUp;
    TTimer* tmrLSUpdate;

    // Data members, used by every unit of the dialog.
    uint8_t nCloseMode = CLOSE_NORMAL;
    bool bClassInitOK = false;
    bool bBulkUpdate = false;
    bool bCancel = false;
    bool bPasswordFailed = false;
    bool bLogViewerRunning = false;
    bool bMouseDown = false;
    bool bUpdating = false;
    int32_t nMouseX = 0;
    int32_t nMouseY = 0;
    int32_t nCryptMode = LS_CRYPT_CURRENT;
    DWORD nNotifyThread = 0;
    char szUserName[LS_USERNAME_SIZE] = {};
    char szPassword[259] = {};
    char* pszSafeFile = nullptr;
    TXmlAPI* pXml = nullptr;
    TLSTresor* pTresor = nullptr;
    LSCRYPTHANDLE hCrypt = nullptr;
    TLSDragSrc* pDragSrc = nullptr;
    char szPassSequenz[4][PASS_SEQUENZ_SIZE] = {};
    char szCaption[259] = {};
    TLSLog* pLog = nullptr;
    char szLogFile[LS_PATH_SIZE] = {};
    char szLogKey[260] = {};
    TLSFile* pFile = nullptr;
    TShellAPI* pShell = nullptr;
    TLSTools* pTools = nullptr;
    TfrmPasswordManager* pPasswordManager = nullptr;
    TVornixDyn* pDyn = nullptr;
    TLSProgress rProgress = {};
    HWND hPrevOwnerWnd = nullptr;
    tag_TLSErrHandler* pErrHandler = nullptr;
    TLSOwner* pOwner = nullptr;
    TLSProgressDlg* hProgress = nullptr;
    CRITICAL_SECTION csNotify;
    CRITICAL_SECTION csUpdate;

private:
    // The caption of a list item; false (out of memory) when it cannot be copied.
    static bool ItemCaption(TListItem* pItem, std::string* pCaption);
    void BuildControls();
    void WireEvents();
    // Lays out the tool bar and the bottom bar for the visible buttons and
    // the length of their captions, and the fields right of their labels.
    void LayoutBars();
    void LayoutLabels();
    int TextWidth(TControl* pControl) const;
    // Puts hPrevOwnerWnd back into the owner's slot if this dialog took it
    // and the slot still names this dialog.
    void RestoreOwnerWindow();
    // Empties the four entry fields, wiping their text.
    void WipeFields();

    // Marks the shown entry as edited by the user (change notifications).
    void FieldChanged();
    // Writes the document to the safe file; when that fails, undo takes the
    // change back in the document (keeping the write's error) and the result
    // is false.
    bool WriteOrUndo(const std::function<void()>& undo);
    // Runs undo without touching the error record and the last error.
    void UndoKeepingError(const std::function<void()>& undo);
    // The notice and the log line for an entry whose stored text does not
    // match its hash.
    void ReportChangedEntry(const char* pszName);
    // Ends DoAddNewItem and DoRmvItem: records and reports the outcome, and
    // tells the other listeners of a change that was made.
    bool FinishEntryChange(bool bResult, const char* pszFailed);
    // The parts of the closing that belong to the window (FormClose).
    void CloseWindowState();

    // The entry record buffer encrypted in nMode under the current keys: the
    // text an entry element stores and the hash of that text.
    bool SealRecord(int nMode, std::string* pText, std::string* pHash);
    // A stored text checked and decrypted into the record buffer. Shown to
    // the user: a changed text is told and read all the same, a wrong
    // password is told. bStrict (a text read to be written again): either
    // one fails without a word, and *pFault says why; the caller tells.
    bool OpenRecord(const char* pszName, const char* pszText, const char* pszHash, int nMode, bool bStrict,
                    TLSReadFault* pFault);
    // Makes pszPassword the key of the current format and of the legacy key
    // strings, leaving the error record as it was.
    bool UseKeys(const char* pszPassword);
    // Re-encrypts every entry of the open document from the keys of
    // pszOldPassword (read in nReadMode) to those of pszNewPassword (written
    // in nWriteMode) and writes the whole document once to pszTarget (also
    // when no entry holds a record). Nothing is
    // written when any entry cannot be read or the write fails: the document
    // is then as before and the old keys are in use. pFailedEntry names an
    // entry that could not be read.
    bool ReEncryptEntries(const char* pszOldPassword, const char* pszNewPassword, int nReadMode, int nWriteMode,
                          const char* pszTarget, std::string* pFailedEntry, TLSReadFault* pFault);
    // Every entry element of the open document, in the order of the entry
    // list (by name, letter case ignored); elements of equal names all come.
    bool ListEntryElements(std::vector<TLSEntryElement>* pEntries);
    // One progress step of a long operation over entries.
    void ProgressStep(const char* pszName, int nIndex, int nCount);
    // The user's message for an entry that stopped a re-encryption.
    void ReportUnreadableEntry(const std::string& name, TLSReadFault fault, const char* pszWhat);

    // --- failures told to the user (DlgSafeMessages.cpp) ---
    // What a failure told to the user stopped: the opening of the safe (a
    // step not named below), getting the safe password from the key file,
    // loading the safe file, writing a new safe file, or writing a change of
    // the open safe.
    enum TLSFailedWork { FAILED_OPEN, FAILED_UNLOCK, FAILED_LOAD, FAILED_CREATE, FAILED_CHANGE };
    // Closes a user operation as TLSError::StdErrorMsg does, but the message
    // begins with what happened to pszFile (the safe file) and what the user
    // can do, in the user's language: chosen by the error code the failure
    // recorded first, or (FAILED_UNLOCK) by the reason the key file gave. The
    // fixed failure text pszFailed follows, and the recorded failure stays
    // under the details. Returns bResult.
    bool StdFailureMsg(bool bResult, bool bCancelled, TLSFailedWork work, const char* pszFile, const char* pszFailed);
    // Why the last DoGetCertPassword gave no password, in the user's
    // language, and the key file it read; empty when there is no such reason.
    char szKeyFailure[LS_PATH_SIZE] = {};
    char szKeyFailureFile[LS_PATH_SIZE] = {};

    bool bOwnerWndTaken = false;
    bool bSectionsReady = false;
    // The fields were changed by the user since the selected entry was shown.
    bool bEntryChanged = false;
    // The dialog fills or empties the fields itself.
    bool bFillingFields = false;
    // The window's part of the closing ran (FormClose or the session end).
    bool bWindowClosed = false;
    // The safe was opened by ShowModalSafe and its closing has not run yet;
    // bLocated: the safe file was located (it is protected again at the end).
    bool bSafeOpen = false;
    bool bSafeLocated = false;
    // The closing ran; its result and the cancel flag it hands back.
    bool bSafeClosed = false;
    bool bCloseResult = false;
    bool bCloseCancel = false;
    // The seal of the safe log did not hold when the dialog was built.
    bool bLogSealBroken = false;
    // The open safe is protected by a password the user types (not by the
    // key file): only then can its password be changed.
    bool bTypedPassword = false;
    // The entry that stopped the last re-encryption, and why.
    std::string failedEntry;
    TLSReadFault failedFault = READ_OK;
};
