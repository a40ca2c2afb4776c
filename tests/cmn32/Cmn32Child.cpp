// The second process of the common-library tests. Modes:
//   instance <title> <event>   asks IsApplicationRun, sets "<event>.asked", holds
//                              until "<event>.quit" (60 s at most); exit 1 when
//                              another instance ran, 0 otherwise
//   sleep <ms>                 sleeps
//   exit <code>                ends with the code
//   touch <file>               creates the file
//   trace <text>               writes one trace line ("\n" stands for a line break)
//   logcheck <file> <key>      exit 0 when the log's seal holds, 1 otherwise
//   logwrite <file> <key> <text>  appends a line and seals the log
//   askbox <file> <event>      writes its process id to "<file>.pid", waits for
//                              "<event>.go", asks a question with the standard
//                              box and writes "<language> yes|no" to the file
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "KTXCMN32.h"
#include "KTXLANG.h"

// Writes the file beside its place, then renames it into place, so it appears whole.
static bool WriteWhole(const std::string& path, const std::string& text)
{
    std::string part = path + ".part";
    HANDLE h = CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD dw = 0;
    bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &dw, nullptr) && dw == text.size();
    CloseHandle(h);
    return ok && MoveFileExA(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

int main(int argc, char** argv)
{
    if (argc < 2) return 100;
    std::string mode = argv[1];
    if (mode == "instance" && argc >= 4) {
        bool bOther = TLSTools::IsApplicationRun(argv[2]);
        std::string event = argv[3];
        HANDLE hAsked = CreateEventA(nullptr, TRUE, FALSE, (event + ".asked").c_str());
        HANDLE hQuit = CreateEventA(nullptr, TRUE, FALSE, (event + ".quit").c_str());
        SetEvent(hAsked);
        WaitForSingleObject(hQuit, 60000);
        CloseHandle(hAsked);
        CloseHandle(hQuit);
        return bOther ? 1 : 0;
    }
    if (mode == "sleep" && argc >= 3) {
        Sleep(static_cast<DWORD>(atoi(argv[2])));
        return 0;
    }
    if (mode == "exit" && argc >= 3) return atoi(argv[2]);
    if (mode == "touch" && argc >= 3) {
        HANDLE h = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 2;
        CloseHandle(h);
        return 0;
    }
    if (mode == "trace" && argc >= 3) {
        // "\n" in the argument stands for a line break.
        std::string text = argv[2];
        for (size_t i = text.find("\\n"); i != std::string::npos; i = text.find("\\n", i)) text.replace(i, 2, "\r\n");
        LS_TRACE_LOG(nullptr, "%s", text.c_str());
        return 0;
    }
    if ((mode == "logcheck" && argc >= 4) || (mode == "logwrite" && argc >= 5)) {
        TLSOwner* pOwner = GetLSOwnerHandle("cmn32_child.exe");
        int nResult = 0;
        {
            TLSLog log(pOwner);
            if (!log.Init(argv[2], argv[3], 0)) {
                nResult = 3;
            } else if (mode == "logcheck") {
                nResult = log.CheckHash() ? 0 : 1;
            } else {
                nResult = (log.Msg(LS_LOG_INFO, "%s", argv[4]) && log.WriteHash()) ? 0 : 1;
            }
        }
        FreeLSOwnerHandle(pOwner);
        return nResult;
    }
    if (mode == "askbox" && argc >= 4) {
        // The test learns this process's id, then says when to show the box.
        std::string pid = std::to_string(GetCurrentProcessId());
        if (!WriteWhole(std::string(argv[2]) + ".pid", pid)) return 2;
        HANDLE hGo = CreateEventA(nullptr, TRUE, FALSE, (std::string(argv[3]) + ".go").c_str());
        WaitForSingleObject(hGo, 60000);
        CloseHandle(hGo);
        bool bYes = TLSError::StdAskMsg(nullptr, nullptr, nullptr, "?");
        return WriteWhole(argv[2], std::to_string(DLS_LANG_ID()) + (bYes ? " yes" : " no")) ? 0 : 3;
    }
    return 100;
}
