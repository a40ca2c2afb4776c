// The process entry of KTSafe: owner handle, single instance, argument
// vector, the application object and its message loop.
#include <windows.h>

#include <exception>

#include "ArgSplit.h"
#include "Dlgdosafe.h"
#include "KTXCMN32.h"
#include "KTXLANG.h"
#include "ProcessOwner.h"
#include "Toolkit.h"

namespace {

// Entry 0 of the argument vector: lives as long as WinMain runs.
char g_szProgramPath[LS_PATH_SIZE];

}  // namespace

int WINAPI WinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR lpCmdLine, int /*nCmdShow*/)
{
    LS_TRACE_LOG(nullptr, "WinMain");
    TLSOwner* pOwner = GetLSOwnerHandle("KTSafe.EXE");
    LSSetProcessOwner(pOwner);

    if (TLSTools::IsApplicationRun(DLS_GLOBAL_CAPTION_SAFE())) {
        // Another instance runs: bring its safe dialog to the front, show nothing.
        HWND hSafe = FindWindowA("TfrmDlgSafe", nullptr);
        if (hSafe) TLSTools::BringWindowToTop(hSafe);
    } else {
        try {
            Application->Initialize();
            Application->SetTitle(DLS_GLOBAL_CAPTION_SAFE());
            TfrmDoSafe* pForm = Application->CreateForm<TfrmDoSafe>();
            // The form's own initialisation runs first; the vector comes after.
            DWORD n = GetModuleFileNameA(nullptr, g_szProgramPath, sizeof(g_szProgramPath));
            if (n == 0 || n >= sizeof(g_szProgramPath)) g_szProgramPath[0] = '\0';
            TLSArgVector args;
            // The vector lives until the process ends.
            if (LSSplitCommandLine(lpCmdLine, g_szProgramPath, &args)) {
                pForm->ppszArgv = args.ppszArgv;
                pForm->nArgc = args.nArgc;
            }
            Application->Run();
        } catch (const ETkError& e) {
            Application->ShowException(e);
        } catch (const std::exception& e) {
            // Anything else that escaped is shown the same way, never lost.
            Application->ShowException(e);
        }
        // The forms go while the owner handle they use still exists.
        Application->DestroyForms();
    }

    LSSetProcessOwner(nullptr);
    FreeLSOwnerHandle(pOwner);
    pOwner = nullptr;
    return 0;
}
