// The second process of the settings library's tests.
//   tools_helper password <file>      obtains the safe password the way the safe dialog does and
//                                     writes "OK <password>" or "FAIL <reason>" to <file> (test data)
//   tools_helper listen <name>        listens for change notifications: sets the event <name>.ready
//                                     when listening, <name>.got after every callback, and ends
//                                     when <name>.quit is set
//   tools_helper send <bits>          signals a change notification and ends
//   tools_helper help <topic>         opens a help topic
//   tools_helper record <file> <text> writes <text> to <file> (stands in for a browser)
//   tools_helper choose <event> <thumbprint>...
//                                     waits for the event <event>, then chooses each certificate
//                                     (40 hex digits of its thumbprint) for the safe in turn
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KTXLANG.h"
#include "KTXTOOLS.h"

namespace {

int ObtainPassword(const char* pszOut)
{
    TLSOwner* pOwner = GetLSOwnerHandle("tools_helper");
    char szKeyFile[LS_PATH_SIZE] = {};
    char szScratch[LS_PATH_SIZE] = {};
    char szPassword[LS_PASSWORD_SIZE] = {};
    bool bCancel = false;
    bool bRemote = false;
    TVornixTools* pTools = new TVornixTools(pOwner);
    bool ok = TVornixReg::QOVGetKeyFile(pOwner, 1, nullptr, szKeyFile, true);
    TVornixReg::QOVGetRegOpt(pOwner, &bRemote, "Crypt", "RemoteAdmin", 64, HKEY_LOCAL_MACHINE);
    int nCount = 0;
    if (ok) ok = TVornixReg::QOVGetCert(pOwner, "safe certificates", nullptr, &nCount, bRemote ? 0 : 1, true, &bCancel);
    ok = ok && nCount > 0;
    std::vector<TLSCryptCert> certs(ok ? nCount + 1 : 1);
    for (TLSCryptCert& c : certs) LSInitCryptCert(&c);
    if (ok) ok = TVornixReg::QOVGetCert(pOwner, "safe certificates", certs.data(), &nCount, bRemote ? 0 : 1, true,
                                        &bCancel);
    ok = ok && nCount > 0;
    if (ok) ok = pTools->DoGetKeyFilePassword(szKeyFile, szScratch, szPassword, 56, certs.data(), nCount, 1, 0, 1, 0, 0, 0);
    delete pTools;
    FILE* f = fopen(pszOut, "wb");
    if (f) {
        fprintf(f, "%s %s", ok ? "OK" : "FAIL", ok ? szPassword : szScratch);
        fclose(f);
    }
    SecureZeroMemory(szPassword, sizeof(szPassword));
    FreeLSOwnerHandle(pOwner);
    return ok ? 0 : 3;
}

HANDLE g_hGot = nullptr;

bool ListenCallback(TLSOwner*, DWORD* pdwEvents, void*)
{
    if (pdwEvents && (*pdwEvents & LS_NOTIFY_SAFE_CHANGED)) SetEvent(g_hGot);
    return true;
}

int Listen(const std::string& name)
{
    HANDLE hReady = CreateEventA(nullptr, TRUE, FALSE, (name + ".ready").c_str());
    g_hGot = CreateEventA(nullptr, FALSE, FALSE, (name + ".got").c_str());
    HANDLE hQuit = CreateEventA(nullptr, TRUE, FALSE, (name + ".quit").c_str());
    if (!hReady || !g_hGot || !hQuit) return 2;
    TLSOwner* pOwner = GetLSOwnerHandle("tools_helper");
    DWORD dwThread = 0;
    if (!DoStartLSNotifyThread(pOwner, ListenCallback, nullptr, &dwThread)) return 3;
    SetEvent(hReady);
    DWORD r = WaitForSingleObject(hQuit, 120000);
    bool ok = DoCloseLSNotifyThread(pOwner, &dwThread);
    FreeLSOwnerHandle(pOwner);
    return (r == WAIT_OBJECT_0 && ok) ? 0 : 4;
}

int ChooseCertificates(const char* pszEvent, int nCount, char** ppszThumbprints)
{
    HANDLE hGo = OpenEventA(SYNCHRONIZE, FALSE, pszEvent);
    if (!hGo || WaitForSingleObject(hGo, 60000) != WAIT_OBJECT_0) return 2;
    CloseHandle(hGo);
    TLSOwner* pOwner = GetLSOwnerHandle("tools_helper");
    bool ok = true;
    for (int i = 0; i < nCount && ok; ++i) {
        TLSCryptCert record;
        LSInitCryptCert(&record);
        if (strlen(ppszThumbprints[i]) != 40) return 2;
        for (int b = 0; b < 20; ++b) {
            char hex[3] = {ppszThumbprints[i][2 * b], ppszThumbprints[i][2 * b + 1], 0};
            record.abThumbprint[b] = static_cast<BYTE>(strtoul(hex, nullptr, 16));
        }
        record.cbThumbprint = 20;
        record.bHasPrivateKey = true;
        ok = TVornixReg::QOVSetRegUsrEncCrt(pOwner, &record, 1, nullptr);
    }
    FreeLSOwnerHandle(pOwner);
    return ok ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return 1;
    std::string command = argv[1];
    if (command == "password") return ObtainPassword(argv[2]);
    if (command == "choose" && argc >= 4) return ChooseCertificates(argv[2], argc - 3, argv + 3);
    if (command == "listen") return Listen(argv[2]);
    if (command == "send") {
        TLSOwner* pOwner = GetLSOwnerHandle("tools_helper");
        bool ok = DoSetLSNotifyEvent(pOwner, static_cast<DWORD>(strtoul(argv[2], nullptr, 0)), false);
        FreeLSOwnerHandle(pOwner);
        return ok ? 0 : 3;
    }
    if (command == "record" && argc >= 4) {
        FILE* f = fopen(argv[2], "wb");
        if (!f) return 2;
        fputs(argv[3], f);
        fclose(f);
        return 0;
    }
    if (command == "help") return TVornixReg::DoShowQOVHilfe(nullptr, nullptr, atoi(argv[2]), false) ? 0 : 3;
    return 1;
}
