// A stand-in for the shared-dialog library: some of its exports, each doing
// something the tests can see, and one more export that tells the tests what
// the last call received. DYN_DoInputPasswordChange is left out on purpose.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "KTXDlgExports.h"

#define FAKE_EXPORT extern "C" __declspec(dllexport)

namespace {

struct LastCall {
    TLSOwner* pOwner;
    HWND hParent;
    int nMode;
    char szText[256];
} g_last;

void Remember(TLSOwner* pOwner, HWND hParent, int nMode, const char* pszText)
{
    g_last.pOwner = pOwner;
    g_last.hParent = hParent;
    g_last.nMode = nMode;
    snprintf(g_last.szText, sizeof(g_last.szText), "%s", pszText ? pszText : "");
}

class FakeProgress : public TLSProgressDlg {
public:
    bool Show(TLSOwner* pOwner, HWND hParent, TLSProgress* pProgress, bool bVisible, int nTextId, int, bool* pbCancel)
        override
    {
        Remember(pOwner, hParent, nTextId, bVisible ? "visible" : "hidden");
        if (pbCancel) *pbCancel = false;
        return pProgress != nullptr;
    }
    bool Step(TLSProgress* pProgress, bool* pbCancel) override
    {
        if (!pProgress) return false;
        Remember(nullptr, nullptr, pProgress->nIndex, pProgress->szName);
        if (pbCancel) *pbCancel = pProgress->nIndex + 1 >= pProgress->nCount;
        return true;
    }
    ~FakeProgress() override = default;
};

}  // namespace

FAKE_EXPORT bool DYN_DoInputPassword(TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize, bool* pbCancel)
{
    Remember(pOwner, hParent, static_cast<int>(dwSize), "password");
    if (!pszOut || dwSize == 0) return false;
    snprintf(pszOut, dwSize, "fake-%lu", static_cast<unsigned long>(dwSize));
    if (pbCancel) *pbCancel = false;
    return true;
}

FAKE_EXPORT int DYN_DoInputImportSave(TLSOwner* pOwner, HWND hParent, int nMode, const char* pszImportText,
                                      const char* pszExportText)
{
    Remember(pOwner, hParent, nMode, pszImportText);
    return (pszExportText && strcmp(pszExportText, "new") == 0) ? LS_IMPORTSAVE_NEW : LS_IMPORTSAVE_IMPORT;
}

FAKE_EXPORT bool DYN_DoShowAbout(TLSOwner* pOwner, HWND hParent, const char* pszText)
{
    Remember(pOwner, hParent, 0, pszText);
    return true;
}

FAKE_EXPORT TLSProgressDlg* DYN_DoGetFrmDlgProgress(TLSOwner* pOwner, HWND hParent)
{
    Remember(pOwner, hParent, 0, "progress");
    return new FakeProgress;
}

FAKE_EXPORT bool DYN_DoFreeFrmDlgProgress(TLSProgressDlg* pProgress)
{
    delete static_cast<FakeProgress*>(pProgress);
    Remember(nullptr, nullptr, 0, "progress freed");
    return true;
}

FAKE_EXPORT bool DYN_DoInputDlgCertificateMgr(TLSOwner* pOwner, HWND hParent, TLSCryptCert** ppCerts, int* pnCount,
                                              const char* pszStore, int nMode, bool* pbCancel)
{
    Remember(pOwner, hParent, nMode, pszStore ? pszStore : "(no store)");
    if (pbCancel) *pbCancel = false;
    if (!ppCerts || !pnCount) return true;
    TLSCryptCert* pCerts = new TLSCryptCert[2];
    for (int i = 0; i < 2; ++i) {
        LSInitCryptCert(&pCerts[i]);
        snprintf(pCerts[i].szSubject, sizeof(pCerts[i].szSubject), "Subject %d", i);
    }
    *ppCerts = pCerts;
    *pnCount = 2;
    return true;
}

FAKE_EXPORT bool DYN_DoFreeMgrCertificates(TLSCryptCert* pCerts)
{
    delete[] pCerts;
    Remember(nullptr, nullptr, 0, "certificates freed");
    return true;
}

// What the last call received (for the tests).
FAKE_EXPORT void FakeDlg_LastCall(TLSOwner** ppOwner, HWND* phParent, int* pnMode, char* pszText, DWORD dwSize)
{
    *ppOwner = g_last.pOwner;
    *phParent = g_last.hParent;
    *pnMode = g_last.nMode;
    snprintf(pszText, dwSize, "%s", g_last.szText);
}
