// The safe dialog's failures as the user is told them. The message begins
// with what happened and to which file, and what the user can do about it, in
// the user's language: chosen by the system error code the failure recorded
// first (or, for the safe password, by the reason the key file gave). The
// fixed failure text follows, and the recorded failure with its detail stays
// under the details heading, for whoever looks into the cause.
#include <memory>
#include <string>

#include "DlgSafe.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace {

// What the user can do something about.
enum class Cause { Unknown, InUse, NoAccess, DiskFull, NotReachable, Damaged, NoMemory };

Cause CauseOf(DWORD dwErr)
{
    switch (dwErr) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return Cause::InUse;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return Cause::NoAccess;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return Cause::DiskFull;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return Cause::NotReachable;
    case ERROR_FILE_CORRUPT:
    case ERROR_INVALID_DATA:
        return Cause::Damaged;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return Cause::NoMemory;
    default:
        return Cause::Unknown;
    }
}

// Whether another program holds the file open without letting it be
// replaced. Replacing such a file is refused as access denied, though the
// user may change the file and its folder; opening it for deletion, as a
// replace must, is refused as a sharing violation.
bool HeldByAnotherProgram(const char* pszFile)
{
    if (!pszFile || !pszFile[0]) return false;
    const HANDLE hProbe = CreateFileA(pszFile, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hProbe == INVALID_HANDLE_VALUE) {
        const DWORD dwErr = GetLastError();
        return dwErr == ERROR_SHARING_VIOLATION || dwErr == ERROR_LOCK_VIOLATION;
    }
    // Nothing holds it that way; the probe is closed again at once.
    std::unique_ptr<void, decltype(&CloseHandle)> probe(hProbe, &CloseHandle);
    return false;
}

// A text of the language library with up to two values (paths of
// LS_PATH_SIZE always fit a message).
std::string Formatted(const char* pszFormat, const char* pszFirst, const char* pszSecond = "")
{
    char szText[LS_TEXT_SIZE] = {};
    LSStrFormat(szText, sizeof(szText), pszFormat, pszFirst ? pszFirst : "", pszSecond ? pszSecond : "");
    return szText;
}

// Appends a sentence, separated by a space.
void Append(std::string& text, const std::string& sentence)
{
    if (sentence.empty()) return;
    if (!text.empty()) text += ' ';
    text += sentence;
}

// The sentence of a cause the user can act on; "" for the others.
std::string CauseSentence(Cause cause, const char* pszBackups)
{
    switch (cause) {
    case Cause::InUse:
        return DLS_TXT_CAUSE_IN_USE();
    case Cause::NoAccess:
        return DLS_TXT_CAUSE_NO_ACCESS();
    case Cause::DiskFull:
        return DLS_TXT_CAUSE_DISK_FULL();
    case Cause::NotReachable:
        return DLS_TXT_CAUSE_NOT_REACHABLE();
    case Cause::Damaged:
        return Formatted(DLS_TXT_CAUSE_DAMAGED(), pszBackups);
    default:
        return std::string();
    }
}

}  // namespace

bool TfrmDlgSafe::StdFailureMsg(bool bResult, bool bCancelled, TLSFailedWork work, const char* pszFile,
                                const char* pszFailed)
{
    if (bResult || bCancelled) return bResult;
    const DWORD dwLastError = GetLastError();
    // The fixed failure text stays recorded; a failure recorded before it
    // comes first, and its code names the cause.
    if (pErrHandler && !pErrHandler->bFailed) LS_DEF_ERROR(pErrHandler, false, pszFailed);
    const DWORD dwErr = pErrHandler && pErrHandler->bFailed ? pErrHandler->dwErrCode : dwLastError;
    const char* pszSafe = pszFile ? pszFile : "";

    std::string text;
    try {
        // Where the backups lie: asked for without touching the record.
        char szBackups[LS_PATH_SIZE] = {};
        UndoKeepingError([&] {
            char szUserPath[LS_PATH_SIZE] = {};
            if (TVornixReg::QOVGetVornixUserPath(pOwner, szUserPath))
                LSStrFormat(szBackups, sizeof(szBackups), "%s\\%s", szUserPath, "Backup");
        });

        Cause cause = CauseOf(dwErr);
        if (cause == Cause::NoAccess && work != FAILED_UNLOCK && HeldByAnotherProgram(pszSafe)) cause = Cause::InUse;
        switch (work) {
        case FAILED_UNLOCK:
            // The key file's own reason says what is wrong; the key file is
            // named with where its copies lie.
            text = pszSafe[0] ? Formatted(DLS_TXT_FAILED_OPEN(), pszSafe) : DLS_TXT_FAILED_OPEN_NOFILE();
            Append(text, szKeyFailure);
            if (szKeyFailureFile[0]) Append(text, Formatted(DLS_TXT_CAUSE_KEYFILE_AT(), szKeyFailureFile, szBackups));
            break;
        case FAILED_OPEN:
        case FAILED_LOAD:
            // A safe file that does not load and was not put back from a
            // backup stays as it is: damaged, unless something else is named.
            if (work == FAILED_LOAD && cause == Cause::Unknown) cause = Cause::Damaged;
            text = pszSafe[0] ? Formatted(DLS_TXT_FAILED_OPEN(), pszSafe) : DLS_TXT_FAILED_OPEN_NOFILE();
            Append(text, CauseSentence(cause, szBackups));
            break;
        case FAILED_CREATE:
            text = Formatted(DLS_TXT_FAILED_CREATE(), pszSafe);
            if (cause != Cause::Damaged) Append(text, CauseSentence(cause, szBackups));
            break;
        case FAILED_CHANGE:
            text = Formatted(DLS_TXT_FAILED_CHANGE(), pszSafe);
            if (cause != Cause::Damaged) Append(text, CauseSentence(cause, szBackups));
            break;
        }
        if (pszFailed && pszFailed[0]) {
            text += "\n\n";
            text += pszFailed;
        }
    } catch (const std::exception&) {
        text.clear();
    }
    SetLastError(dwLastError);
    return TLSError::StdErrorMsg(pOwner, Handle(), false, false, text.empty() ? pszFailed : text.c_str());
}
