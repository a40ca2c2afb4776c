// The key file: the safe password wrapped for one or more certificates.
// TVornixTools::DoGetKeyFilePassword opens (or, for a new safe, creates) it;
// TVornixReg finds it, lists the certificates and records the chosen one,
// giving it a slot so that a choice never locks the user out.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "Backup.h"
#include "CertRule.h"
#include "CertStore.h"
#include "KTXLANG.h"
#include "KeyFileFormat.h"
#include "ToolsInternal.h"

using namespace ktxtools;
namespace kf = ktxkeyfile;

namespace {

constexpr char kPurposeSafe[] = "safe certificates";
// Length of a new safe password: 42 random bytes as Base64.
constexpr int kNewPasswordLength = 56;
// A new password is never shorter than this (18 random bytes).
constexpr int kMinNewPasswordLength = 24;

enum class KeyFileState { Ok, Missing, Damaged, Unreadable };

// Serialises the read-change-write of the key file between the processes of
// the session, so that two certificates chosen at the same moment both keep
// their slots.
class KeyFileLock {
public:
    KeyFileLock()
    {
        m_hMutex = ::CreateMutexA(nullptr, FALSE, "Local\\KTX.KeyFile.Lock");
        if (!m_hMutex) return;
        DWORD r = ::WaitForSingleObject(m_hMutex, 60000);
        // An abandoned lock is ours: the key file itself is only ever replaced whole.
        m_bHeld = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
    ~KeyFileLock()
    {
        if (m_bHeld) ::ReleaseMutex(m_hMutex);
        if (m_hMutex) ::CloseHandle(m_hMutex);
    }
    KeyFileLock(const KeyFileLock&) = delete;
    KeyFileLock& operator=(const KeyFileLock&) = delete;
    bool Held() const { return m_bHeld; }

private:
    HANDLE m_hMutex = nullptr;
    bool m_bHeld = false;
};

KeyFileState LoadKeyFile(const char* pszPath, kf::KeyFile* pFile, DWORD* pdwErr)
{
    std::string data;
    if (!ReadWholeFile(pszPath, kf::kMaxFileSize, &data, pdwErr)) {
        if (*pdwErr == ERROR_FILE_NOT_FOUND || *pdwErr == ERROR_PATH_NOT_FOUND) return KeyFileState::Missing;
        if (*pdwErr == ERROR_FILE_TOO_LARGE) {
            *pdwErr = ERROR_FILE_CORRUPT;
            return KeyFileState::Damaged;
        }
        return KeyFileState::Unreadable;
    }
    kf::ParseResult r = kf::Parse(reinterpret_cast<const uint8_t*>(data.data()), data.size(), pFile);
    if (r != kf::ParseResult::Ok) {
        *pdwErr = ERROR_FILE_CORRUPT;
        return KeyFileState::Damaged;
    }
    return KeyFileState::Ok;
}

// A password buffer wiped when it goes out of scope.
struct SecretText {
    char sz[LS_PASSWORD_SIZE] = {};
    size_t cb = 0;
    ~SecretText() { SecureZeroMemory(sz, sizeof(sz)); }
};

// Why no certificate opened the key file.
struct OpenAttempt {
    bool bSlotFound = false;     // some certificate had a slot
    bool bCertFound = false;     // ... and was found in its store
    DWORD dwErr = static_cast<DWORD>(CRYPT_E_NOT_FOUND);
};

// Opens the key file with the first certificate of the list that can.
bool OpenWithCertificates(const kf::KeyFile& file, const std::vector<TLSCryptCert>& certs, SecretText* pSecret,
                          OpenAttempt* pAttempt)
{
    for (const TLSCryptCert& record : certs) {
        if (record.cbThumbprint != 20) continue;
        const kf::Slot* pSlot = kf::FindSlot(file, record.abThumbprint);
        if (!pSlot) continue;
        pAttempt->bSlotFound = true;
        DWORD dwErr = 0;
        CertContext cert = FindCertificate(record, &dwErr);
        if (!cert.Get()) {
            pAttempt->dwErr = dwErr;
            continue;
        }
        pAttempt->bCertFound = true;
        if (!UnwrapSecret(cert.Get(), pSlot->wrapped, pSecret->sz, sizeof(pSecret->sz), &pSecret->cb, &dwErr)) {
            pAttempt->dwErr = dwErr;
            continue;
        }
        // The slot must hold the password the file was made for.
        if (!kf::CheckPassword(file, pSecret->sz, pSecret->cb)) {
            SecureZeroMemory(pSecret->sz, sizeof(pSecret->sz));
            pSecret->cb = 0;
            pAttempt->dwErr = ERROR_INVALID_DATA;
            continue;
        }
        return true;
    }
    return false;
}

// The given certificates in the order they are tried: the chosen encryption
// certificate (marked, or recorded in the settings) first.
std::vector<TLSCryptCert> OrderCertificates(const TLSCryptCert* pCerts, int nCount)
{
    uint8_t abChosen[20];
    DWORD dwChosenFlags = 0;
    bool bHaveChosen = ReadChosenCertificate(abChosen, &dwChosenFlags);
    std::vector<TLSCryptCert> first, rest;
    for (int i = 0; i < nCount; ++i) {
        TLSCryptCert record = pCerts[i];
        record.szStore[sizeof(record.szStore) - 1] = '\0';
        bool bChosen = record.bEncryptionCert ||
                       (bHaveChosen && record.cbThumbprint == 20 && memcmp(record.abThumbprint, abChosen, 20) == 0);
        (bChosen ? first : rest).push_back(record);
    }
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

// The reason text and error code when no certificate opened the file.
void RecordOpenFailure(TLSOwner* pOwner, const OpenAttempt& attempt, char* pszScratch, const char* pszFailed)
{
    const char* pszReason = !attempt.bSlotFound   ? DLS_KEYFILE_NOCERT()
                            : !attempt.bCertFound ? DLS_KEYFILE_NOCERT()
                                                  : DLS_KEYFILE_NOPRIVATEKEY();
    if (pszScratch) LSStrCopy(pszScratch, LS_PATH_SIZE, pszReason);
    KTX_REASON(pOwner, pszReason, attempt.dwErr, pszFailed);
}

bool Fail(TLSOwner* pOwner, const char* pszReason, DWORD dwErr, char* pszScratch, const char* pszFailed)
{
    if (pszScratch) LSStrCopy(pszScratch, LS_PATH_SIZE, pszReason);
    return KTX_REASON(pOwner, pszReason, dwErr, pszFailed);
}

// A new key file with a new random password for the first certificate that
// may be chosen (the certificate rule for a new slot) and whose private key
// is present. False with *pbExists when another key file appeared meanwhile.
bool CreateKeyFile(const char* pszKeyFile, const std::vector<TLSCryptCert>& certs, int nLength, SecretText* pSecret,
                   bool* pbExists, DWORD* pdwErr, const char** ppszReason)
{
    *pbExists = false;
    *ppszReason = DLS_KEYFILE_NOCERT();
    *pdwErr = static_cast<DWORD>(CRYPT_E_NOT_FOUND);
    CertContext cert;
    for (const TLSCryptCert& record : certs) {
        DWORD dwErr = 0;
        CertContext candidate = FindCertificate(record, &dwErr);
        if (candidate.Get() && ktxcert::IsUsableCertificate(candidate.Get(), ktxcert::CertUse::Choose) &&
            ktxcert::HasKeyExchangeKey(candidate.Get())) {
            cert = std::move(candidate);
            break;
        }
    }
    if (!cert.Get()) return false;

    // nLength Base64 characters from nLength * 3 / 4 random bytes.
    BYTE abRandom[kNewPasswordLength * 3 / 4];
    const DWORD cbRandom = static_cast<DWORD>(nLength / 4 * 3);
    *ppszReason = DLS_KEYFILE_WRITEFAILED();
    bool ok = LSGenRandom(abRandom, cbRandom);
    if (ok) ok = kf::Base64Encode(abRandom, cbRandom, pSecret->sz, sizeof(pSecret->sz));
    SecureZeroMemory(abRandom, sizeof(abRandom));
    if (!ok) {
        *pdwErr = static_cast<DWORD>(NTE_FAIL);
        return false;
    }
    pSecret->cb = strlen(pSecret->sz);

    kf::KeyFile file;
    kf::PasswordCheck(pSecret->sz, pSecret->cb, file.check);
    kf::Slot slot;
    {
        TLSCryptCert record;
        FillRecord(cert.Get(), kUserStoreFlags, &record);
        memcpy(slot.thumbprint, record.abThumbprint, sizeof(slot.thumbprint));
    }
    if (!WrapSecret(cert.Get(), pSecret->sz, pSecret->cb, &slot.wrapped, pdwErr)) return false;
    // Proof before writing: the new slot opens with the certificate's private key.
    {
        SecretText check;
        if (!UnwrapSecret(cert.Get(), slot.wrapped, check.sz, sizeof(check.sz), &check.cb, pdwErr) ||
            check.cb != pSecret->cb || memcmp(check.sz, pSecret->sz, check.cb) != 0) {
            *ppszReason = DLS_KEYFILE_NOPRIVATEKEY();
            if (*pdwErr == 0) *pdwErr = static_cast<DWORD>(NTE_BAD_KEY);
            return false;
        }
    }
    file.slots.push_back(std::move(slot));
    std::vector<uint8_t> bytes;
    if (!kf::Serialize(file, &bytes)) {
        *pdwErr = ERROR_INVALID_DATA;
        return false;
    }
    if (!WriteFileAtomic(pszKeyFile, bytes.data(), bytes.size(), false, pdwErr)) {
        *pbExists = *pdwErr == ERROR_FILE_EXISTS;
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// TVornixTools
// ---------------------------------------------------------------------------

TVornixTools::TVornixTools(TLSOwner* pOwner) : m_pOwner(pOwner) {}

TVornixTools::~TVornixTools() = default;

// pszScratch (LS_PATH_SIZE, may be null) receives the reason of a failure, or
// an empty text; it never holds the password. nMaxLen is the longest password
// the caller accepts (a new password has min(nMaxLen, 56) characters). n2 = 1
// allows a new key file although the configured safe exists: the safe is
// protected by a typed password and is being converted to the key file's
// password (a lost key file is still put back from the safe's backups first).
// The other trailing numbers are reserved.
bool TVornixTools::DoGetKeyFilePassword(const char* pszKeyFile, char* pszScratch, char* pszPassword, int nMaxLen,
                                        TLSCryptCert* pCerts, int nCount, int, int n2, int, int, int, int)
{
    static const char kFailed[] = "TVornixTools::DoGetKeyFilePassword failed!";
    TLSOwner* pOwner = m_pOwner;
    return Guard(pOwner, "TVornixTools::DoGetKeyFilePassword", kFailed, [&] {
        if (pszScratch) pszScratch[0] = '\0';
        if (pszPassword) pszPassword[0] = '\0';
        if (!pszKeyFile || !*pszKeyFile || !IsTerminated(pszKeyFile, LS_PATH_SIZE) || !pszPassword || nMaxLen < 1 ||
            nMaxLen > static_cast<int>(LS_PASSWORD_SIZE - 1) || !pCerts || nCount < 1 || nCount > 4096)
            return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);

        std::vector<TLSCryptCert> certs = OrderCertificates(pCerts, nCount);
        SecretText secret;
        for (int nRound = 0; nRound < 2; ++nRound) {
            kf::KeyFile file;
            DWORD dwErr = 0;
            KeyFileState state = LoadKeyFile(pszKeyFile, &file, &dwErr);
            if (state == KeyFileState::Damaged)
                return Fail(pOwner, DLS_KEYFILE_DAMAGED(), dwErr, pszScratch, kFailed);
            if (state == KeyFileState::Unreadable)
                return Fail(pOwner, DLS_KEYFILE_UNREADABLE(), dwErr, pszScratch, kFailed);

            if (state == KeyFileState::Missing) {
                // A new password only for a new safe: an existing safe (or
                // one with backups) needs the key file it was made with.
                char szSafe[LS_PATH_SIZE];
                if (!ReadConfiguredSafe(szSafe, sizeof(szSafe)))
                    return Fail(pOwner, DLS_KEYFILE_NOSAFE(), ERROR_FILE_NOT_FOUND, pszScratch, kFailed);
                if (FileExistsA(szSafe) || HasSafeBackup(szSafe)) {
                    DWORD dwRestoreErr = 0;
                    if (nRound == 0 && RestoreKeyFileFromBackup(szSafe, pszKeyFile, &dwRestoreErr)) continue;
                    if (n2 != 1) return Fail(pOwner, DLS_KEYFILE_MISSING(), ERROR_FILE_NOT_FOUND, pszScratch, kFailed);
                }
                int nLength = nMaxLen < kNewPasswordLength ? nMaxLen : kNewPasswordLength;
                nLength -= nLength % 4;
                if (nLength < kMinNewPasswordLength)
                    return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
                bool bExists = false;
                const char* pszReason = nullptr;
                if (CreateKeyFile(pszKeyFile, certs, nLength, &secret, &bExists, &dwErr, &pszReason)) {
                    LSStrCopy(pszPassword, LS_PASSWORD_SIZE, secret.sz);
                    LS_TRACE_LOG(nullptr, "TVornixTools::DoGetKeyFilePassword: new key file %s", pszKeyFile);
                    return true;
                }
                if (bExists && nRound == 0) continue;  // made by another process meanwhile: open that one
                return Fail(pOwner, pszReason, dwErr, pszScratch, kFailed);
            }

            OpenAttempt attempt;
            if (!OpenWithCertificates(file, certs, &secret, &attempt)) {
                RecordOpenFailure(pOwner, attempt, pszScratch, kFailed);
                return false;
            }
            if (secret.cb > static_cast<size_t>(nMaxLen))
                return Fail(pOwner, DLS_KEYFILE_DAMAGED(), ERROR_INSUFFICIENT_BUFFER, pszScratch, kFailed);
            LSStrCopy(pszPassword, LS_PASSWORD_SIZE, secret.sz);
            return true;
        }
        return Fail(pOwner, DLS_KEYFILE_MISSING(), ERROR_FILE_NOT_FOUND, pszScratch, kFailed);
    });
}

// ---------------------------------------------------------------------------
// TVornixReg: key file and certificates
// ---------------------------------------------------------------------------

bool TVornixReg::QOVGetKeyFile(TLSOwner* pOwner, int nKind, const char* /*pszReserved*/, char* pszOut,
                               bool /*bCreateDir*/)
{
    static const char kFailed[] = "TVornixReg::QOVGetKeyFile failed!";
    return Guard(pOwner, "TVornixReg::QOVGetKeyFile", kFailed, [&] {
        if (pszOut) pszOut[0] = '\0';
        if (!pszOut || nKind != 1) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        // The key file lives in the user's data folder, which is always created.
        DWORD dwErr = 0;
        bool ok = GetKeyFilePath(pszOut, LS_PATH_SIZE, &dwErr);
        return KTX_RECORD(pOwner, ok, dwErr, kFailed);
    });
}

// Search mode 0 adds the local machine's "MY" store to the user's; 1 is the
// user's store only. bFlag true lists only certificates whose private key is
// present. pbCancel is left as it is (no dialog is shown).
bool TVornixReg::QOVGetCert(TLSOwner* pOwner, const char* pszPurpose, TLSCryptCert* pCerts, int* pnCount,
                            int nSearchMode, bool bFlag, bool* /*pbCancel*/)
{
    static const char kFailed[] = "TVornixReg::QOVGetCert failed!";
    return Guard(pOwner, "TVornixReg::QOVGetCert", kFailed, [&] {
        if (!pszPurpose || !IsTerminated(pszPurpose, LS_PASSWORD_SIZE) || !EqualNoCase(pszPurpose, kPurposeSafe) ||
            !pnCount || (pCerts && *pnCount < 0) || (nSearchMode != 0 && nSearchMode != 1))
            return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        std::vector<TLSCryptCert> list;
        DWORD dwErr = 0;
        if (!ListCertificates(nSearchMode == 0, bFlag, &list, &dwErr)) {
            if (!pCerts) *pnCount = 0;
            return KTX_RECORD(pOwner, false, dwErr, kFailed);
        }
        if (!pCerts) {
            *pnCount = static_cast<int>(list.size());
        } else {
            int nFill = static_cast<int>(list.size()) < *pnCount ? static_cast<int>(list.size()) : *pnCount;
            for (int i = 0; i < nFill; ++i) pCerts[i] = list[static_cast<size_t>(i)];
            *pnCount = nFill;
        }
        // A caller that finds none can tell why.
        if (*pnCount == 0) ::SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
        return true;
    });
}

bool TVornixReg::QOVSetRegUsrEncCrt(TLSOwner* pOwner, TLSCryptCert* pCerts, int nCount, void* /*pReserved*/)
{
    static const char kFailed[] = "TVornixReg::QOVSetRegUsrEncCrt failed!";
    return Guard(pOwner, "TVornixReg::QOVSetRegUsrEncCrt", kFailed, [&] {
        if (!pCerts || nCount < 1) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        TLSCryptCert chosen = pCerts[0];
        chosen.szStore[sizeof(chosen.szStore) - 1] = '\0';
        DWORD dwErr = 0;
        CertContext cert = FindCertificate(chosen, &dwErr);
        if (!cert.Get()) return KTX_REASON(pOwner, DLS_CERT_NOTFOUND(), dwErr, kFailed);
        // The chosen certificate gets a slot: the rule for a choice. The
        // certificates that open the key file for it need only unwrap theirs.
        ktxcert::CertVerdict verdict = ktxcert::CheckCertificate(cert.Get(), ktxcert::CertUse::Choose);
        bool bUsable = verdict == ktxcert::CertVerdict::Usable && ktxcert::HasKeyExchangeKey(cert.Get());
        if (!bUsable) {
            LS_TRACE_LOG(nullptr, "TVornixReg::QOVSetRegUsrEncCrt: certificate refused (%s)",
                         verdict == ktxcert::CertVerdict::Usable ? "no private key" : ktxcert::VerdictName(verdict));
            return KTX_REASON(pOwner, DLS_CERT_NOTUSABLE(), static_cast<DWORD>(NTE_BAD_KEY), kFailed);
        }

        char szKeyFile[LS_PATH_SIZE];
        if (!GetKeyFilePath(szKeyFile, sizeof(szKeyFile), &dwErr)) return KTX_RECORD(pOwner, false, dwErr, kFailed);
        KeyFileLock lock;
        if (!lock.Held()) return KTX_REASON(pOwner, DLS_KEYFILE_WRITEFAILED(), static_cast<DWORD>(ERROR_TIMEOUT), kFailed);
        kf::KeyFile file;
        KeyFileState state = LoadKeyFile(szKeyFile, &file, &dwErr);
        if (state == KeyFileState::Damaged) return KTX_REASON(pOwner, DLS_KEYFILE_DAMAGED(), dwErr, kFailed);
        if (state == KeyFileState::Unreadable) return KTX_REASON(pOwner, DLS_KEYFILE_UNREADABLE(), dwErr, kFailed);

        if (state == KeyFileState::Ok && !kf::FindSlot(file, chosen.abThumbprint)) {
            // A slot for the new certificate, made from the password that a
            // certificate which still opens the key file gives.
            std::vector<TLSCryptCert> openers;
            if (!ListCertificates(true, true, &openers, &dwErr))
                return KTX_RECORD(pOwner, false, dwErr, kFailed);
            SecretText secret;
            OpenAttempt attempt;
            if (!OpenWithCertificates(file, openers, &secret, &attempt)) {
                RecordOpenFailure(pOwner, attempt, nullptr, kFailed);
                return false;
            }
            kf::Slot slot;
            memcpy(slot.thumbprint, chosen.abThumbprint, sizeof(slot.thumbprint));
            if (!WrapSecret(cert.Get(), secret.sz, secret.cb, &slot.wrapped, &dwErr))
                return KTX_RECORD(pOwner, false, dwErr, kFailed);
            SecretText check;
            if (!UnwrapSecret(cert.Get(), slot.wrapped, check.sz, sizeof(check.sz), &check.cb, &dwErr) ||
                check.cb != secret.cb || memcmp(check.sz, secret.sz, check.cb) != 0)
                return KTX_REASON(pOwner, DLS_KEYFILE_NOPRIVATEKEY(), dwErr ? dwErr : static_cast<DWORD>(NTE_BAD_KEY), kFailed);
            if (file.slots.size() >= kf::kMaxSlots)
                return KTX_REASON(pOwner, DLS_KEYFILE_FULL(), ERROR_INVALID_DATA, kFailed);
            file.slots.push_back(std::move(slot));
            std::vector<uint8_t> bytes;
            if (!kf::Serialize(file, &bytes)) return KTX_RECORD(pOwner, false, ERROR_INVALID_DATA, kFailed);
            if (!WriteFileAtomic(szKeyFile, bytes.data(), bytes.size(), true, &dwErr))
                return KTX_REASON(pOwner, DLS_KEYFILE_WRITEFAILED(), dwErr, kFailed);
        }
        // Without a key file the choice is only recorded: the key file of a
        // new safe is made for it.
        LONG r = WriteChosenCertificate(chosen);
        return KTX_RECORD(pOwner, r == ERROR_SUCCESS, static_cast<DWORD>(r), kFailed);
    });
}

bool TVornixReg::QOVGetKeyFileCerts(TLSOwner* pOwner, TLSCryptCert* pCerts, int* pnCount)
{
    static const char kFailed[] = "TVornixReg::QOVGetKeyFileCerts failed!";
    return Guard(pOwner, "TVornixReg::QOVGetKeyFileCerts", kFailed, [&] {
        if (!pnCount || (pCerts && *pnCount < 0)) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        char szKeyFile[LS_PATH_SIZE];
        DWORD dwErr = 0;
        if (!GetKeyFilePath(szKeyFile, sizeof(szKeyFile), &dwErr)) return KTX_RECORD(pOwner, false, dwErr, kFailed);
        kf::KeyFile file;
        KeyFileState state = LoadKeyFile(szKeyFile, &file, &dwErr);
        if (state == KeyFileState::Missing) return KTX_REASON(pOwner, DLS_KEYFILE_NONE(), dwErr, kFailed);
        if (state == KeyFileState::Damaged) return KTX_REASON(pOwner, DLS_KEYFILE_DAMAGED(), dwErr, kFailed);
        if (state == KeyFileState::Unreadable) return KTX_REASON(pOwner, DLS_KEYFILE_UNREADABLE(), dwErr, kFailed);

        std::vector<TLSCryptCert> list;
        for (const kf::Slot& slot : file.slots) {
            TLSCryptCert record;
            LSInitCryptCert(&record);
            memcpy(record.abThumbprint, slot.thumbprint, 20);
            record.cbThumbprint = 20;
            // Found in the user's store, else in the machine's; a slot whose
            // certificate is gone keeps only its thumbprint.
            for (DWORD dwFlags : {kUserStoreFlags, kMachineStoreFlags}) {
                record.dwStoreFlags = dwFlags;
                CertContext cert = FindCertificate(record, &dwErr);
                if (cert.Get()) {
                    FillRecord(cert.Get(), dwFlags, &record);
                    break;
                }
                record.dwStoreFlags = kUserStoreFlags;
            }
            list.push_back(record);
        }
        if (!pCerts) {
            *pnCount = static_cast<int>(list.size());
        } else {
            int nFill = static_cast<int>(list.size()) < *pnCount ? static_cast<int>(list.size()) : *pnCount;
            for (int i = 0; i < nFill; ++i) pCerts[i] = list[static_cast<size_t>(i)];
            *pnCount = nFill;
        }
        return true;
    });
}
