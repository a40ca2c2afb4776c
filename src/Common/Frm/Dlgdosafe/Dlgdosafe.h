// The start-up form: the program's main form, a small borderless banner.
//
// While it is built it keeps the installation bookkeeping up to date (the
// installed-version value, the shortcut in the link table, the optional
// Start menu shortcut, the choice of the encryption certificate after an
// update). Shortly after it is shown its start-up timer looks at the last
// command-line argument: none opens the safe, "/DEACTIVATE" removes the
// shortcuts, "/CERTIFICATEMANAGER" runs the certificate manager, anything
// else does nothing. Then the form closes, which ends the program.
#pragma once

#include <windows.h>

#include "KTXCMN32.h"
#include "Toolkit.h"

class TfrmDoSafe : public TForm {
public:
    // The installed version this program records.
    static constexpr const char* INSTALLED_VERSION = "5.03a";
    // What a deactivation leaves in the installed-version value.
    static constexpr const char* UNDEFINED_VERSION = "undefined";
    // Name of the installed-version value under the settings root.
    static constexpr const char* VERSION_VALUE = "ktxresorver";
    // The shell folder of the optional shortcut (Start menu).
    enum : int { LINK_FOLDER = 11 };
    // The program file's icon group shown by the shortcuts.
    enum : int { LINK_ICON = 23 };
    // The banner's picture and the start-up timer's delay.
    enum : int { LOGO_BITMAP = 1016, START_UP_INTERVAL = 140 };

    // Uses the program's owner handle.
    explicit TfrmDoSafe(TComponent* AOwner);
    // Uses the given owner handle (null tolerated).
    TfrmDoSafe(TLSOwner* pOwnerHandle, TComponent* AOwner);
    ~TfrmDoSafe() override;

    // Operations.
    bool DoLSClassInit(TLSOwner* pOwnerHandle);
    // With bReset writes "undefined" and returns true; otherwise writes the
    // installed version when it is missing or different and returns whether
    // it did.
    bool DoCheckAndSetVersion(bool bReset);
    // Link table folder, the link file in it and the Start menu shortcut;
    // with bReset both shortcuts are removed and the version is reset.
    bool DoCheckAndCreateMgrLink(const char* pszCaption, int nIcon, bool bReset);
    bool DoSafe();
    bool DoDeactivate();
    bool DoCertificateManager();

    // The folder of the link table in the user's data folder (by language);
    // false when the data folder is unknown or the path does not fit.
    static bool GetLinkTableDir(TLSOwner* pOwnerHandle, char* pszOut, size_t cchOut);

    // Events.
    void FormShow(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void tmrStartUpTimer(TObject* Sender);

    // Components.
    TImage* img_qov_StartLogo;
    TLabel* lblStart;
    TTimer* tmrStartUp;

    // Data members.
    bool bOLEInit = false;
    bool bCancel = false;
    bool bVersionChanged = false;
    bool bActive = false;
    HWND hPrevOwnerWnd = nullptr;
    tag_TLSErrHandler* pErrHandler = nullptr;
    TLSOwner* pOwner = nullptr;
    char** ppszArgv = nullptr;
    int nArgc = 0;

private:
    // hPrevOwnerWnd holds the slot's earlier value to put back.
    bool bOwnerWndSet = false;

    void BuildControls();
    void WireEvents();
    HWND FormWindow();
};
