// What the safe dialog's own work costs on safes of 1,000 and 10,000 entries:
// filling the entry list, a selection change with and without an edit of the
// entry that loses the selection, and a password change over every entry. The dialog runs with its real list,
// fields, cipher and file; run by hand under Wine (see README.md); prints
// medians. Key derivation is paid once before the timing starts.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "DlgSafe.h"
#include "KTXCMN32.h"
#include "LSStr.h"

namespace {

double Now()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Fail(const char* what)
{
    fprintf(stderr, "failed: %s\n", what);
    ExitProcess(1);
}

// Selects list row nIndex as a click does (the dialog's selection handler runs).
void SelectRow(TfrmDlgSafe* pDlg, int nIndex)
{
    pDlg->lstvBezeichnung->SetSelected(pDlg->lstvBezeichnung->Items()->Item(nIndex));
}

void Measure(TLSOwner* pOwner, const std::string& file, int nEntries)
{
    TfrmDlgSafe* pDlg = new TfrmDlgSafe(Application, pOwner);
    if (!pDlg->bClassInitOK || !pDlg->hCrypt) Fail("dialog");
    char szPath[LS_PATH_SIZE] = {};
    LSStrCopy(szPath, sizeof(szPath), file.c_str());
    pDlg->pszSafeFile = szPath;
    LSStrCopy(pDlg->szPassword, sizeof(pDlg->szPassword), "bench password");
    pDlg->DoLoadPassSequenz("bench password");

    // One stored record, copied under every name: every entry decrypts.
    if (!pDlg->pXml->New("LSVER500") || !pDlg->pXml->Write(szPath, nullptr)) Fail("new safe");
    if (!pDlg->DoAddSafe("e00000")) Fail("add");
    TListItem* pFirst = pDlg->lstvBezeichnung->Items()->Add("e00000");
    pDlg->editBenutzername->SetTextBuf("user@example.org");
    pDlg->editPasswort->SetTextBuf("a password of some length 1234");
    pDlg->editURL->SetTextBuf("https://www.example.org/login");
    pDlg->memoSafe->SetTextBuf("a note\r\nof two lines");
    if (!pDlg->DoEncCryptItem(pFirst, pDlg->nCryptMode)) Fail("store");
    char szText[LS_TEXT_SIZE] = {}, szHash[LS_TEXT_SIZE] = {};
    pDlg->pXml->GPPS("LSVER500.n0000", szText, sizeof(szText));
    pDlg->pXml->GetAtt("LSVER500.n0000", "hash", szHash, sizeof(szHash));
    for (int i = 1; i < nEntries; ++i) {
        char szName[32], szTag[64];
        LSStrFormat(szName, sizeof(szName), "e%05d", i);
        LSStrFormat(szTag, sizeof(szTag), "LSVER500.n%4.4d", i);
        pDlg->pXml->PPPS(szTag, szText);
        pDlg->pXml->PutAtt(szTag, "name", szName);
        pDlg->pXml->PutAtt(szTag, "hash", szHash);
    }
    if (!pDlg->pXml->Write(szPath, nullptr)) Fail("write");
    if (!pDlg->pXml->Init(szPath)) Fail("load");
    pDlg->Show();

    double t0 = Now();
    if (!pDlg->DoListSafe()) Fail("list");
    const double dList = Now() - t0;

    // Without an edit: read the next entry only. With an edit: the entry
    // left is stored (and the whole file written) first.
    std::vector<double> plain, edited;
    for (int i = 1; i <= 15; ++i) {
        t0 = Now();
        SelectRow(pDlg, (i * 37) % nEntries);
        plain.push_back(Now() - t0);
    }
    for (int i = 1; i <= 15; ++i) {
        char szPassword[32];
        LSStrFormat(szPassword, sizeof(szPassword), "changed %d", i);
        SendMessageA(pDlg->editPasswort->Handle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(szPassword));
        t0 = Now();
        SelectRow(pDlg, (i * 53) % nEntries);
        edited.push_back(Now() - t0);
    }
    // Every entry re-encrypted under another password, the file written once.
    pDlg->lstvBezeichnung->SetSelected(nullptr);
    t0 = Now();
    if (!pDlg->DoEncTresorWithNewPassword(pDlg->szPassword, "another bench password", false)) Fail("change");
    const double dChange = Now() - t0;
    printf("%6d entries: list fill %8.1f ms, selection change without edit %7.2f ms, with edit %7.2f ms, "
           "password change %8.1f ms\n",
           nEntries, dList * 1000, Median(plain) * 1000, Median(edited) * 1000, dChange * 1000);
    pDlg->lstvBezeichnung->SetSelected(nullptr);
    pDlg->pszSafeFile = nullptr;
    delete pDlg;
}

}  // namespace

int main()
{
    TLSOwner* pOwner = GetLSOwnerHandle("KTSafe.EXE");
    if (!pOwner) Fail("owner");
    char szTemp[MAX_PATH];
    GetTempPathA(sizeof(szTemp), szTemp);
    const std::string file = std::string(szTemp) + "bench_safedlg.xml";
    for (int n : {1000, 10000}) Measure(pOwner, file, n);
    DeleteFileA(file.c_str());
    FreeLSOwnerHandle(pOwner);
    return 0;
}
