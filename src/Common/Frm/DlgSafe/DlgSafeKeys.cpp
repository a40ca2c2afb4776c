// The safe dialog's keys: the safe password of a certificate-protected safe,
// taken from the user's key file, and the four key strings of the legacy
// scheme derived from a password.
//
// The certificate records, the scratch buffer and every copy of a password
// are wiped before they are given up, on every path.
#include <cstring>
#include <new>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace {

constexpr char kSafeCertificates[] = "safe certificates";
constexpr char kCryptKey[] = "Crypt";
constexpr char kRemoteAdmin[] = "RemoteAdmin";
constexpr DWORD kOptionMode = 64;
// Labels between the two copies of the password in the four key strings. The
// last key repeats the third label: files written with these keys rely on
// keys three and four being equal.
constexpr const char* kSequenzLabels[4] = {"$5$", "$6$", "$7$", "$7$"};
constexpr size_t kLabelLen = 3;

}  // namespace

bool TfrmDlgSafe::DoGetCertPassword(char* pszPassword, bool bNoScratch, bool bNewKeyFile)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoGetCertPassword");
    ClearLSError(pErrHandler);
    bCancel = false;
    // Why no password came, for the user: the key file's reason, or that
    // there is no certificate for safes.
    szKeyFailure[0] = '\0';
    szKeyFailureFile[0] = '\0';

    bool bResult = pszPassword != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    TVornixTools* pKeyTools = nullptr;
    if (bResult) {
        pKeyTools = new (std::nothrow) TVornixTools(pOwner);
        bResult = pKeyTools != nullptr;
        if (!bResult) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }

    char szPurpose[LS_PASSWORD_SIZE] = {};
    char szKeyFile[LS_PATH_SIZE] = {};
    char szScratch[LS_PATH_SIZE] = {};
    LSStrCopy(szPurpose, sizeof(szPurpose), kSafeCertificates);

    if (bResult && !bCancel) bResult = TVornixReg::QOVGetKeyFile(pOwner, 1, nullptr, szKeyFile, true);

    // The remote administration option searches the machine's certificates
    // too. An option that cannot be read is an option not set, not a failure.
    int nSearchMode = 1;
    if (bResult && !bCancel) {
        bool bRemoteAdmin = false;
        if (!TVornixReg::QOVGetRegOpt(pOwner, &bRemoteAdmin, kCryptKey, kRemoteAdmin, kOptionMode,
                                      HKEY_LOCAL_MACHINE)) {
            bRemoteAdmin = false;
            ClearLSError(pErrHandler);
        }
        nSearchMode = bRemoteAdmin ? 0 : 1;
    }

    int nCount = 0;
    if (bResult && !bCancel) {
        bResult = TVornixReg::QOVGetCert(pOwner, szPurpose, nullptr, &nCount, nSearchMode, true, &bCancel);
        if (bResult && nCount <= 0) {
            bResult = false;
            LSStrCopy(szKeyFailure, sizeof(szKeyFailure), DLS_TXT_NO_SAFE_CERT());
            SetLastError(ERROR_NOT_FOUND);
        }
    }

    TLSCryptCert* pCerts = nullptr;
    size_t nAllocated = 0;
    if (bResult && !bCancel) {
        nAllocated = static_cast<size_t>(nCount) + 1;
        pCerts = new (std::nothrow) TLSCryptCert[nAllocated];
        bResult = pCerts != nullptr;
        if (bResult) {
            for (size_t i = 0; i < nAllocated; ++i) LSInitCryptCert(&pCerts[i]);
        } else {
            nAllocated = 0;
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
    }

    if (bResult && !bCancel) {
        bResult = TVornixReg::QOVGetCert(pOwner, szPurpose, pCerts, &nCount, nSearchMode, true, &bCancel);
        if (bResult && (nCount <= 0 || static_cast<size_t>(nCount) >= nAllocated)) {
            bResult = false;
            SetLastError(ERROR_NOT_FOUND);
        }
    }

    if (bResult && !bCancel) {
        bResult = pKeyTools->DoGetKeyFilePassword(szKeyFile, bNoScratch ? nullptr : szScratch, pszPassword,
                                                  CERT_PASSWORD_MAX_LEN, pCerts, nCount, 1, bNewKeyFile ? 1 : 0, 1, 0,
                                                  0, 0);
        // The key file's reason (a text of the language library, never the
        // password) is kept for the user's message, with the key file.
        if (!bResult && szScratch[0]) {
            LSStrCopy(szKeyFailure, sizeof(szKeyFailure), szScratch);
            LSStrCopy(szKeyFailureFile, sizeof(szKeyFailureFile), szKeyFile);
        }
    }

    delete pKeyTools;
    if (pCerts) {
        SecureZeroMemory(pCerts, nAllocated * sizeof(TLSCryptCert));
        delete[] pCerts;
    }
    SecureZeroMemory(szScratch, sizeof(szScratch));

    // A cancel is no password either.
    if (bCancel) bResult = false;
    if (!bResult && pszPassword) SecureZeroMemory(pszPassword, CERT_PASSWORD_SIZE);
    return LS_DEF_ERROR(pErrHandler, bResult || bCancel, "TfrmDlgSafe::DoGetCertPassword failed!") && bResult;
}

bool TfrmDlgSafe::DoLoadPassSequenz(const char* pszPassword)
{
    LS_TRACE_LOG(nullptr, "TfrmDlgSafe::DoLoadPassSequenz");
    ClearLSError(pErrHandler);
    bCancel = false;

    bool bResult = pszPassword != nullptr;
    if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);

    // Two copies of the password and a label must fit a slot with its terminator.
    if (bResult) {
        const size_t nLen = strnlen(pszPassword, PASS_SEQUENZ_SIZE);
        bResult = 2 * nLen + kLabelLen + 1 <= PASS_SEQUENZ_SIZE - 1;
        if (!bResult) SetLastError(ERROR_INVALID_PARAMETER);
    }

    if (bResult) {
        SecureZeroMemory(szPassSequenz, sizeof(szPassSequenz));
        for (int k = 0; k < 4 && bResult; ++k)
            bResult = LSStrFormat(szPassSequenz[k], sizeof(szPassSequenz[k]), "%s%s%s", pszPassword,
                                  kSequenzLabels[k], pszPassword);
        if (!bResult) SecureZeroMemory(szPassSequenz, sizeof(szPassSequenz));
    }
    return LS_DEF_ERROR(pErrHandler, bResult, "TfrmDlgSafe::DoLoadPassSequenz failed!");
}
