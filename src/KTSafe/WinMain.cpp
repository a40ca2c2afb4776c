// The process entry of KTSafe: owner handle, single instance, argument
// vector, message loop.
#include <windows.h>

#include <exception>

#include "ArgSplit.h"
#include "KTXCMN32.h"
#include "KTXLANG.h"
#include "PlaceholderForm.h"
#include "ProcessOwner.h"

namespace {

// Entry 0 of the argument vector: lives as long as WinMain runs.
char g_szProgramPath[LS_PATH_SIZE];

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR lpCmdLine, int nCmdShow)
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
            TLSPlaceholderForm form;
            if (form.Create(hInstance, DLS_GLOBAL_CAPTION_SAFE())) {
                DWORD n = GetModuleFileNameA(nullptr, g_szProgramPath, sizeof(g_szProgramPath));
                if (n == 0 || n >= sizeof(g_szProgramPath)) g_szProgramPath[0] = '\0';
                TLSArgVector args;
                // The vector lives until the process ends.
                if (LSSplitCommandLine(lpCmdLine, g_szProgramPath, &args)) {
                    form.ppszArgv = args.ppszArgv;
                    form.nArgc = args.nArgc;
                }
                form.Show(nCmdShow);
                MSG msg;
                while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            }
        } catch (const std::exception& e) {
            MessageBoxA(nullptr, e.what(), DLS_GLOBAL_CAPTION_SAFE(), MB_OK | MB_ICONERROR);
        }
    }

    LSSetProcessOwner(nullptr);
    FreeLSOwnerHandle(pOwner);
    pOwner = nullptr;
    return 0;
}
