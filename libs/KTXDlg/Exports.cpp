// The exports of KTXDlg.DLL, reached through TVornixDyn in KTXCMN32.DLL.
//
// Every export opens with a trace line and a cleared error record, closes
// with the outcome in the owner's error record, and lets no exception out.
// A cancel by the user sets the caller's flag and is not recorded as a
// failure. Password buffers are emptied before the dialog runs, so a cancel or
// failure never leaves an old or partial password in them.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <type_traits>
#include <vector>

#include "DlgAbout.h"
#include "DlgCertMgr.h"
#include "DlgImportSave.h"
#include "DlgPassword.h"
#include "DlgProgress.h"
#include "KTXDlgExports.h"
#include "LSStr.h"

#define KTXDLG_API extern "C" __declspec(dllexport)

namespace {

// What this library handed out and must take back itself: progress dialogs
// and certificate arrays. Anything else given back is refused, not freed.
std::mutex g_handedOutLock;
std::set<TLSProgressDlg*> g_progressDialogs;
std::set<TLSCryptCert*> g_certArrays;

// The most characters a password dialog accepts for a caller's buffer.
int PasswordLimit(DWORD dwSize)
{
    DWORD dwChars = dwSize - 1;
    return dwChars < static_cast<DWORD>(ktxdlg::kMaxPasswordChars) ? static_cast<int>(dwChars)
                                                                     : ktxdlg::kMaxPasswordChars;
}

// Runs one of the two password forms.
template <class TPasswordForm>
bool RunPasswordForm(const char* pszOperation, TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize,
                     bool* pbCancel)
{
    LS_TRACE_LOG(nullptr, "%s", pszOperation);
    tag_TLSErrHandler* pErr = LSOwnerErr(pOwner);
    ClearLSError(pErr);
    bool bResult = false, bCancel = false;
    DWORD dwErr = ERROR_SUCCESS;
    if (pbCancel) *pbCancel = false;
    if (!pszOut || dwSize < 2) {
        dwErr = ERROR_INVALID_PARAMETER;
    } else {
        SecureZeroMemory(pszOut, dwSize);
        try {
            TPasswordForm frm(pOwner, hParent, PasswordLimit(dwSize));
            if (frm.ShowModal() == mrOk) {
                bResult = frm.GetPassword(pszOut, dwSize);
                if (!bResult) dwErr = ERROR_INVALID_DATA;
            } else {
                bCancel = true;
            }
            frm.DoWipeFields();
        } catch (...) {
            SecureZeroMemory(pszOut, dwSize);
            bResult = false;
            dwErr = ERROR_INTERNAL_ERROR;
        }
    }
    if (pbCancel) *pbCancel = bCancel;
    char szFailure[128];
    LSStrFormat(szFailure, sizeof(szFailure), "%s failed!", pszOperation);
    LSAddDefErrorAt(pErr, bResult || bCancel, dwErr, __FILE__, __LINE__, szFailure);
    return bResult;
}

}  // namespace

KTXDLG_API bool DYN_DoInputPassword(TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize, bool* pbCancel)
{
    return RunPasswordForm<ktxdlg::TfrmInputPassword>("DYN_DoInputPassword", pOwner, hParent, pszOut, dwSize,
                                                      pbCancel);
}

KTXDLG_API bool DYN_DoInputPasswordChange(TLSOwner* pOwner, HWND hParent, char* pszOut, DWORD dwSize,
                                          bool* pbCancel)
{
    return RunPasswordForm<ktxdlg::TfrmInputPasswordChange>("DYN_DoInputPasswordChange", pOwner, hParent, pszOut,
                                                            dwSize, pbCancel);
}

KTXDLG_API int DYN_DoInputImportSave(TLSOwner* pOwner, HWND hParent, int nMode, const char* pszImportText,
                                     const char* pszExportText)
{
    LS_TRACE_LOG(nullptr, "DYN_DoInputImportSave %d", nMode);
    tag_TLSErrHandler* pErr = LSOwnerErr(pOwner);
    ClearLSError(pErr);
    int nAnswer = 0;
    DWORD dwErr = ERROR_SUCCESS;
    try {
        ktxdlg::TfrmImportSave frm(pOwner, hParent, pszImportText, pszExportText);
        int nResult = frm.ShowModal();
        if (nResult == LS_IMPORTSAVE_IMPORT || nResult == LS_IMPORTSAVE_NEW) nAnswer = nResult;
    } catch (...) {
        nAnswer = 0;
        dwErr = ERROR_INTERNAL_ERROR;
    }
    LSAddDefErrorAt(pErr, dwErr == ERROR_SUCCESS, dwErr, __FILE__, __LINE__, "DYN_DoInputImportSave failed!");
    return nAnswer;
}

KTXDLG_API bool DYN_DoShowAbout(TLSOwner* pOwner, HWND hParent, const char* pszText)
{
    LS_TRACE_LOG(nullptr, "DYN_DoShowAbout");
    tag_TLSErrHandler* pErr = LSOwnerErr(pOwner);
    ClearLSError(pErr);
    bool bResult = false;
    try {
        ktxdlg::TfrmAbout frm(pOwner, hParent, pszText);
        frm.ShowModal();
        bResult = true;
    } catch (...) {
        bResult = false;
    }
    return LSAddDefErrorAt(pErr, bResult, ERROR_INTERNAL_ERROR, __FILE__, __LINE__, "DYN_DoShowAbout failed!");
}

KTXDLG_API TLSProgressDlg* DYN_DoGetFrmDlgProgress(TLSOwner* pOwner, HWND hParent)
{
    LS_TRACE_LOG(nullptr, "DYN_DoGetFrmDlgProgress");
    tag_TLSErrHandler* pErr = LSOwnerErr(pOwner);
    ClearLSError(pErr);
    TLSProgressDlg* pDialog = nullptr;
    try {
        std::unique_ptr<ktxdlg::TLSProgressDlgImpl> pNew(new ktxdlg::TLSProgressDlgImpl(pOwner, hParent));
        std::lock_guard<std::mutex> lock(g_handedOutLock);
        g_progressDialogs.insert(pNew.get());
        pDialog = pNew.release();
    } catch (...) {
        pDialog = nullptr;
    }
    LSAddDefErrorAt(pErr, pDialog != nullptr, ERROR_NOT_ENOUGH_MEMORY, __FILE__, __LINE__,
                    "DYN_DoGetFrmDlgProgress failed!");
    return pDialog;
}

KTXDLG_API bool DYN_DoFreeFrmDlgProgress(TLSProgressDlg* pProgress)
{
    LS_TRACE_LOG(nullptr, "DYN_DoFreeFrmDlgProgress");
    if (!pProgress) return true;
    try {
        {
            std::lock_guard<std::mutex> lock(g_handedOutLock);
            if (g_progressDialogs.erase(pProgress) == 0) return false;  // not one of ours
        }
        delete static_cast<ktxdlg::TLSProgressDlgImpl*>(pProgress);
        return true;
    } catch (...) {
        return false;
    }
}

KTXDLG_API bool DYN_DoInputDlgCertificateMgr(TLSOwner* pOwner, HWND hParent, TLSCryptCert** ppCerts, int* pnCount,
                                             const char* pszStore, int nMode, bool* pbCancel)
{
    LS_TRACE_LOG(nullptr, "DYN_DoInputDlgCertificateMgr %d", nMode);
    tag_TLSErrHandler* pErr = LSOwnerErr(pOwner);
    ClearLSError(pErr);
    if (pbCancel) *pbCancel = false;
    if (ppCerts) *ppCerts = nullptr;
    if (pnCount) *pnCount = 0;
    // Both outputs: the user chooses; neither: the user only manages.
    if ((ppCerts == nullptr) != (pnCount == nullptr))
        return LSAddDefErrorAt(pErr, false, ERROR_INVALID_PARAMETER, __FILE__, __LINE__,
                               "DYN_DoInputDlgCertificateMgr failed!");
    const bool bSelect = ppCerts != nullptr;
    bool bResult = false, bCancel = false;
    DWORD dwErr = ERROR_SUCCESS;
    try {
        ktxdlg::TfrmCertificateMgr frm(pOwner, hParent, pszStore, bSelect);
        if (!frm.DoFillList()) {
            // The store cannot be read: the error record says why.
            if (pbCancel) *pbCancel = false;
            return false;
        }
        int nResult = frm.ShowModal();
        if (!bSelect) {
            bResult = true;
        } else if (nResult == mrOk) {
            std::vector<TLSCryptCert> selected = frm.SelectedCertificates();
            if (selected.empty()) {
                bCancel = true;
            } else {
                TLSCryptCert* pArray = new (std::nothrow) TLSCryptCert[selected.size()];
                if (!pArray) {
                    dwErr = ERROR_NOT_ENOUGH_MEMORY;
                } else {
                    std::copy(selected.begin(), selected.end(), pArray);
                    std::lock_guard<std::mutex> lock(g_handedOutLock);
                    g_certArrays.insert(pArray);
                    *ppCerts = pArray;
                    *pnCount = static_cast<int>(selected.size());
                    bResult = true;
                }
            }
        } else {
            bCancel = true;
        }
    } catch (...) {
        if (ppCerts && *ppCerts) {
            std::lock_guard<std::mutex> lock(g_handedOutLock);
            g_certArrays.erase(*ppCerts);
            delete[] *ppCerts;
            *ppCerts = nullptr;
        }
        if (pnCount) *pnCount = 0;
        bResult = false;
        bCancel = false;
        dwErr = ERROR_INTERNAL_ERROR;
    }
    if (pbCancel) *pbCancel = bCancel;
    LSAddDefErrorAt(pErr, bResult || bCancel, dwErr, __FILE__, __LINE__, "DYN_DoInputDlgCertificateMgr failed!");
    return bResult;
}

KTXDLG_API bool DYN_DoFreeMgrCertificates(TLSCryptCert* pCerts)
{
    LS_TRACE_LOG(nullptr, "DYN_DoFreeMgrCertificates");
    if (!pCerts) return true;
    try {
        {
            std::lock_guard<std::mutex> lock(g_handedOutLock);
            if (g_certArrays.erase(pCerts) == 0) return false;  // not one of ours
        }
        delete[] pCerts;
        return true;
    } catch (...) {
        return false;
    }
}

// The exports have exactly the types the loader casts to.
static_assert(std::is_same<decltype(&DYN_DoInputPassword), PFN_DYN_DoInputPassword>::value, "export type");
static_assert(std::is_same<decltype(&DYN_DoInputPasswordChange), PFN_DYN_DoInputPasswordChange>::value,
              "export type");
static_assert(std::is_same<decltype(&DYN_DoInputImportSave), PFN_DYN_DoInputImportSave>::value, "export type");
static_assert(std::is_same<decltype(&DYN_DoShowAbout), PFN_DYN_DoShowAbout>::value, "export type");
static_assert(std::is_same<decltype(&DYN_DoGetFrmDlgProgress), PFN_DYN_DoGetFrmDlgProgress>::value, "export type");
static_assert(std::is_same<decltype(&DYN_DoFreeFrmDlgProgress), PFN_DYN_DoFreeFrmDlgProgress>::value,
              "export type");
static_assert(std::is_same<decltype(&DYN_DoInputDlgCertificateMgr), PFN_DYN_DoInputDlgCertificateMgr>::value,
              "export type");
static_assert(std::is_same<decltype(&DYN_DoFreeMgrCertificates), PFN_DYN_DoFreeMgrCertificates>::value,
              "export type");
