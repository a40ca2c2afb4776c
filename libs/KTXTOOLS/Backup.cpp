// Backups of safe files, with the key file beside them.
//
// Each safe file path has a folder of its own in the user's data folder:
//   Backup\<16 hex digits of SHA-256 of the upper-cased full path>:
//       Path.txt        the safe file's full path: the folder serves this path only
//       00000001.xml    copies of the safe file, numbered upwards
//       00000001.key    the key file as it was when that copy was made (when there was one)
// WriteToBackup adds a copy only of a file that loads as a safe and differs
// from the newest copy, and keeps the newest kKeep copies. RestoreFromBackup
// puts back the newest copy that loads, only when the safe file is missing,
// empty or does not load; a damaged file is renamed aside, never overwritten.
// RestoreFromBackupEx reports what was done (the copy's time, where the
// damaged file went), so the user is always told of a restore.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Backup.h"
#include "KeyFileFormat.h"
#include "ToolsInternal.h"

using namespace ktxtools;

namespace {

constexpr size_t kKeep = 5;
constexpr char kPathFile[] = "Path.txt";

bool FullPath(const char* pszPath, std::string* pFull)
{
    if (!pszPath || !*pszPath || !IsTerminated(pszPath, LS_PATH_SIZE)) return false;
    char szFull[MAX_PATH + 1];
    DWORD n = ::GetFullPathNameA(pszPath, sizeof(szFull), szFull, nullptr);
    if (n == 0 || n >= LS_PATH_SIZE) return false;
    *pFull = szFull;
    return true;
}

std::string FolderId(const std::string& full)
{
    std::string upper = full;
    ::CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    uint8_t digest[ktxkeyfile::kSha256Size];
    ktxkeyfile::Sha256Digest(upper.data(), upper.size(), digest);
    char szId[17];
    for (int i = 0; i < 8; ++i) LSStrFormat(szId + 2 * i, 3, "%02x", digest[i]);
    return szId;
}

// The backup folder of a safe file path; with bCreate it is made (and
// claimed for the path) when missing.
bool BackupFolder(const std::string& full, bool bCreate, std::string* pDir, DWORD* pdwErr)
{
    char szUser[LS_PATH_SIZE];
    if (!GetUserDataDir(szUser, sizeof(szUser), pdwErr)) return false;
    std::string root = std::string(szUser) + "\\Backup";
    std::string dir = root + "\\" + FolderId(full);
    std::string pathFile = dir + "\\" + kPathFile;
    if (pathFile.size() >= MAX_PATH - 16) {
        *pdwErr = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    std::string recorded;
    if (ReadWholeFile(pathFile.c_str(), 4096, &recorded, pdwErr)) {
        if (!EqualNoCase(recorded.c_str(), full.c_str())) {
            *pdwErr = ERROR_ALREADY_EXISTS;  // another path's folder: never mixed
            return false;
        }
        *pDir = dir;
        return true;
    }
    if (!bCreate) {
        *pdwErr = ERROR_FILE_NOT_FOUND;
        return false;
    }
    ::CreateDirectoryA(root.c_str(), nullptr);
    if (!::CreateDirectoryA(dir.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        *pdwErr = ::GetLastError();
        return false;
    }
    if (!WriteFileAtomic(pathFile.c_str(), full.data(), full.size(), true, pdwErr)) return false;
    *pDir = dir;
    return true;
}

std::string GenerationFile(const std::string& dir, unsigned nGeneration, const char* pszExt)
{
    char szName[32];
    LSStrFormat(szName, sizeof(szName), "\\%08u.%s", nGeneration, pszExt);
    return dir + szName;
}

// The numbers of the safe copies in a backup folder, oldest first.
std::vector<unsigned> Generations(const std::string& dir)
{
    std::vector<unsigned> result;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = ::FindFirstFileA((dir + "\\*.xml").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return result;
    do {
        const char* p = fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (strlen(p) != 12 || _stricmp(p + 8, ".xml") != 0) continue;
        unsigned n = 0;
        bool digits = true;
        for (int i = 0; i < 8; ++i) {
            if (p[i] < '0' || p[i] > '9') digits = false;
            n = n * 10 + static_cast<unsigned>(p[i] - '0');
        }
        if (digits && n > 0) result.push_back(n);
    } while (::FindNextFileA(hFind, &fd));
    ::FindClose(hFind);
    std::sort(result.begin(), result.end());
    return result;
}

bool LoadsAsSafe(const char* pszPath)
{
    unsigned long long size = 0;
    if (!FileSizeA(pszPath, &size) || size == 0) return false;
    TXmlAPI xml(nullptr);
    return xml.Init(pszPath);
}

bool KeyFileWellFormed(const char* pszPath)
{
    std::string data;
    DWORD dwErr = 0;
    if (!ReadWholeFile(pszPath, ktxkeyfile::kMaxFileSize, &data, &dwErr)) return false;
    ktxkeyfile::KeyFile file;
    return ktxkeyfile::Parse(reinterpret_cast<const uint8_t*>(data.data()), data.size(), &file) ==
           ktxkeyfile::ParseResult::Ok;
}

// True when both files exist with equal content, or neither exists.
bool SameContent(const char* pszA, const char* pszB)
{
    bool bA = FileExistsA(pszA), bB = FileExistsA(pszB);
    if (!bA || !bB) return bA == bB;
    unsigned long long sizeA = 0, sizeB = 0;
    if (!FileSizeA(pszA, &sizeA) || !FileSizeA(pszB, &sizeB) || sizeA != sizeB) return false;
    Handle a(::CreateFileA(pszA, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    Handle b(::CreateFileA(pszB, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!a.Valid() || !b.Valid()) return false;
    std::vector<char> bufA(64 * 1024), bufB(64 * 1024);
    for (;;) {
        DWORD gotA = 0, gotB = 0;
        if (!::ReadFile(a.Get(), bufA.data(), static_cast<DWORD>(bufA.size()), &gotA, nullptr) ||
            !::ReadFile(b.Get(), bufB.data(), static_cast<DWORD>(bufB.size()), &gotB, nullptr))
            return false;
        if (gotA != gotB || memcmp(bufA.data(), bufB.data(), gotA) != 0) return false;
        if (gotA == 0) return true;
    }
}

void RemovePlain(const std::string& path)
{
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
}

// A free name for a damaged file: beside it, else in its backup folder. The
// name fits an LS_PATH_SIZE buffer, so the restore report holds it whole.
bool AsideName(const std::string& full, const std::string& dir, std::string* pAside)
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    char szStamp[32];
    LSStrFormat(szStamp, sizeof(szStamp), "%04u%02u%02u-%02u%02u%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond);
    for (int nPlace = 0; nPlace < 2; ++nPlace) {
        std::string base = nPlace == 0 ? full + ".damaged-" + szStamp : dir + "\\damaged-" + szStamp;
        for (int i = 0; i < 100; ++i) {
            std::string name = base + (i ? "-" + std::to_string(i) : std::string()) + (nPlace == 0 ? "" : ".xml");
            if (name.size() >= LS_PATH_SIZE) break;
            if (::GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) {
                *pAside = name;
                return true;
            }
        }
    }
    return false;
}

// Puts the key file of a backup generation back when none exists.
bool RestoreKeyFrom(const std::string& dir, unsigned nGeneration, const char* pszKeyFile, DWORD* pdwErr)
{
    std::string key = GenerationFile(dir, nGeneration, "key");
    if (!KeyFileWellFormed(key.c_str())) {
        *pdwErr = ERROR_FILE_NOT_FOUND;
        return false;
    }
    if (!CopyFileAtomic(key.c_str(), pszKeyFile, false, pdwErr)) return false;
    LS_TRACE_LOG(nullptr, "KTXTOOLS: key file restored from backup %u", nGeneration);
    return true;
}

}  // namespace

namespace ktxtools {

bool HasSafeBackup(const char* pszSafePath)
{
    std::string full, dir;
    DWORD dwErr = 0;
    return FullPath(pszSafePath, &full) && BackupFolder(full, false, &dir, &dwErr) && !Generations(dir).empty();
}

bool RestoreKeyFileFromBackup(const char* pszSafePath, const char* pszKeyFile, DWORD* pdwErr)
{
    if (FileExistsA(pszKeyFile)) {
        *pdwErr = ERROR_FILE_EXISTS;
        return false;
    }
    std::string full, dir;
    if (!FullPath(pszSafePath, &full)) {
        *pdwErr = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (!BackupFolder(full, false, &dir, pdwErr)) return false;
    std::vector<unsigned> generations = Generations(dir);
    for (auto it = generations.rbegin(); it != generations.rend(); ++it) {
        if (RestoreKeyFrom(dir, *it, pszKeyFile, pdwErr)) return true;
        if (*pdwErr == ERROR_FILE_EXISTS) return false;
    }
    *pdwErr = ERROR_FILE_NOT_FOUND;
    return false;
}

}  // namespace ktxtools

namespace {

// A UTC file time as the user's local date and time, in the user's formats
// (a fixed form when the system cannot format it).
void FormatLocalTime(const FILETIME& ft, char* pszOut, size_t cap)
{
    pszOut[0] = '\0';
    SYSTEMTIME utc, local;
    if (!::FileTimeToSystemTime(&ft, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return;
    char szDate[80], szTime[80];
    if (::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, szDate, sizeof(szDate)) &&
        ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &local, nullptr, szTime, sizeof(szTime)) &&
        LSStrFormat(pszOut, cap, "%s %s", szDate, szTime))
        return;
    LSStrFormat(pszOut, cap, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                local.wMinute, local.wSecond);
}

// The restore behind RestoreFromBackup and RestoreFromBackupEx; *pInfo comes
// in cleared and tells what was done, also when this fails.
bool RestoreSafe(TLSOwner* pOwner, const char* pszPath, TLSRestoreInfo* pInfo, const char* pszFailed)
{
    std::string full;
    if (!FullPath(pszPath, &full)) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, pszFailed);
    DWORD dwErr = 0;
    char szKeyFile[LS_PATH_SIZE];
    bool bKeyPath = GetKeyFilePath(szKeyFile, sizeof(szKeyFile), &dwErr);

    bool bExists = FileExistsA(full.c_str());
    if (bExists && LoadsAsSafe(full.c_str())) {
        // The safe is sound; a missing key file still comes back.
        if (bKeyPath && !FileExistsA(szKeyFile)) RestoreKeyFileFromBackup(full.c_str(), szKeyFile, &dwErr);
        return true;
    }
    unsigned long long size = 0;
    if (!bExists)
        pInfo->dwReason = LS_RESTORE_MISSING;
    else if (FileSizeA(full.c_str(), &size) && size == 0)
        pInfo->dwReason = LS_RESTORE_EMPTY;
    else
        pInfo->dwReason = LS_RESTORE_DAMAGED;

    std::string dir;
    if (!BackupFolder(full, false, &dir, &dwErr)) return KTX_RECORD(pOwner, false, dwErr, pszFailed);
    std::vector<unsigned> generations = Generations(dir);
    unsigned nFound = 0;
    for (auto it = generations.rbegin(); it != generations.rend() && !nFound; ++it) {
        if (LoadsAsSafe(GenerationFile(dir, *it, "xml").c_str())) nFound = *it;
    }
    if (!nFound) return KTX_RECORD(pOwner, false, ERROR_FILE_NOT_FOUND, pszFailed);
    const std::string copy = GenerationFile(dir, nFound, "xml");
    // The copy's last-write time is when the backup was made: it is what the user is told.
    WIN32_FILE_ATTRIBUTE_DATA fad = {};
    if (!::GetFileAttributesExA(copy.c_str(), GetFileExInfoStandard, &fad))
        return KTX_RECORD(pOwner, false, ::GetLastError(), pszFailed);

    if (pInfo->dwReason == LS_RESTORE_EMPTY) {
        // An empty file holds nothing to keep.
        ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileA(full.c_str())) return KTX_RECORD(pOwner, false, ::GetLastError(), pszFailed);
    } else if (pInfo->dwReason == LS_RESTORE_DAMAGED) {
        std::string aside;
        if (!AsideName(full, dir, &aside)) return KTX_RECORD(pOwner, false, ERROR_FILE_EXISTS, pszFailed);
        if (!::MoveFileExA(full.c_str(), aside.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
            return KTX_RECORD(pOwner, false, ::GetLastError(), pszFailed);
        // Reported from here on: the damaged file is no longer where the user left it.
        LSStrCopy(pInfo->szAside, sizeof(pInfo->szAside), aside.c_str());
        LS_TRACE_LOG(nullptr, "TVornixReg::RestoreFromBackup: damaged safe file kept as %s", aside.c_str());
    }
    if (!CopyFileAtomic(copy.c_str(), full.c_str(), false, &dwErr)) return KTX_RECORD(pOwner, false, dwErr, pszFailed);
    pInfo->bRestored = true;
    pInfo->ftBackup = fad.ftLastWriteTime;
    FormatLocalTime(fad.ftLastWriteTime, pInfo->szWhen, sizeof(pInfo->szWhen));
    LS_TRACE_LOG(nullptr, "TVornixReg::RestoreFromBackup: safe file restored from backup %u", nFound);
    if (bKeyPath && !FileExistsA(szKeyFile)) {
        DWORD dwKeyErr = 0;
        if (!RestoreKeyFrom(dir, nFound, szKeyFile, &dwKeyErr))
            RestoreKeyFileFromBackup(full.c_str(), szKeyFile, &dwKeyErr);
    }
    return true;
}

}  // namespace

bool TVornixReg::WriteToBackup(TLSOwner* pOwner, const char* pszPath)
{
    static const char kFailed[] = "TVornixReg::WriteToBackup failed!";
    return Guard(pOwner, "TVornixReg::WriteToBackup", kFailed, [&] {
        std::string full;
        if (!FullPath(pszPath, &full)) return KTX_RECORD(pOwner, false, ERROR_INVALID_PARAMETER, kFailed);
        if (!FileExistsA(full.c_str())) return KTX_RECORD(pOwner, false, ERROR_FILE_NOT_FOUND, kFailed);
        // Only a file that loads as a safe is kept: a damaged one must never
        // push a good copy out of the rotation.
        if (!LoadsAsSafe(full.c_str())) return KTX_RECORD(pOwner, false, ERROR_FILE_CORRUPT, kFailed);

        std::string dir;
        DWORD dwErr = 0;
        if (!BackupFolder(full, true, &dir, &dwErr)) return KTX_RECORD(pOwner, false, dwErr, kFailed);
        char szKeyFile[LS_PATH_SIZE];
        bool bKey = GetKeyFilePath(szKeyFile, sizeof(szKeyFile), &dwErr) && KeyFileWellFormed(szKeyFile);

        std::vector<unsigned> generations = Generations(dir);
        if (!generations.empty()) {
            unsigned nNewest = generations.back();
            std::string key = GenerationFile(dir, nNewest, "key");
            if (SameContent(full.c_str(), GenerationFile(dir, nNewest, "xml").c_str()) &&
                (bKey ? SameContent(szKeyFile, key.c_str()) : !FileExistsA(key.c_str())))
                return true;  // the newest copy is this very state
        }
        unsigned nNext = generations.empty() ? 1 : generations.back() + 1;
        if (nNext > 99999999u) return KTX_RECORD(pOwner, false, ERROR_INVALID_DATA, kFailed);
        if (!CopyFileAtomic(full.c_str(), GenerationFile(dir, nNext, "xml").c_str(), true, &dwErr))
            return KTX_RECORD(pOwner, false, dwErr, kFailed);
        bool ok = true;
        if (bKey) ok = CopyFileAtomic(szKeyFile, GenerationFile(dir, nNext, "key").c_str(), true, &dwErr);
        generations.push_back(nNext);

        // Rotation: the newest kKeep copies stay.
        while (generations.size() > kKeep) {
            RemovePlain(GenerationFile(dir, generations.front(), "xml"));
            RemovePlain(GenerationFile(dir, generations.front(), "key"));
            generations.erase(generations.begin());
        }
        return KTX_RECORD(pOwner, ok, dwErr, kFailed);
    });
}

bool TVornixReg::RestoreFromBackup(TLSOwner* pOwner, const char* pszPath)
{
    static const char kFailed[] = "TVornixReg::RestoreFromBackup failed!";
    TLSRestoreInfo info = {};
    return Guard(pOwner, "TVornixReg::RestoreFromBackup", kFailed,
                 [&] { return RestoreSafe(pOwner, pszPath, &info, kFailed); });
}

bool TVornixReg::RestoreFromBackupEx(TLSOwner* pOwner, const char* pszPath, TLSRestoreInfo* pInfo)
{
    static const char kFailed[] = "TVornixReg::RestoreFromBackupEx failed!";
    TLSRestoreInfo scratch;
    TLSRestoreInfo* pReport = pInfo ? pInfo : &scratch;
    *pReport = TLSRestoreInfo{};
    return Guard(pOwner, "TVornixReg::RestoreFromBackupEx", kFailed,
                 [&] { return RestoreSafe(pOwner, pszPath, pReport, kFailed); });
}
