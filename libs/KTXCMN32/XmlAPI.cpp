// TXmlAPI: an XML document addressed by "."-joined paths, over the document
// model of XmlDocument.h. Callers speak the ANSI code page; the document and
// its file are UTF-8, converted here at the boundary. Lookups answer with
// true or false and leave the error record alone (not found is a normal
// answer); loading, writing and changing record their failures.
#include <windows.h>

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "KTXCMN32.h"
#include "LSStr.h"
#include "XmlDocument.h"

using ktxcmn::XmlDocument;
using ktxcmn::XmlElement;
using ktxcmn::XmlStatus;

struct TXmlAPI::Impl {
    TLSOwner* pOwner = nullptr;
    XmlDocument doc;
};

namespace {

bool IsAscii(const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
    }
    return true;
}

// ANSI code page -> UTF-8. False when the text is not valid in the code page.
bool AnsiToUtf8(const char* psz, std::string& out)
{
    size_t n = strlen(psz);
    if (IsAscii(psz, n)) {
        out.assign(psz, n);
        return true;
    }
    if (n > INT_MAX / 4) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    int cw = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, psz, static_cast<int>(n), nullptr, 0);
    if (cw <= 0) return false;
    std::wstring wide(static_cast<size_t>(cw), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, psz, static_cast<int>(n), &wide[0], cw);
    int cb = WideCharToMultiByte(CP_UTF8, 0, wide.data(), cw, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) return false;
    out.assign(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), cw, &out[0], cb, nullptr, nullptr);
    return true;
}

// UTF-8 -> ANSI code page; characters the code page lacks get its default
// (or best-fit) character.
bool Utf8ToAnsi(const std::string& s, std::string& out)
{
    if (IsAscii(s.data(), s.size())) {
        out = s;
        return true;
    }
    if (s.size() > INT_MAX / 2) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    int cw = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (cw <= 0) return false;
    std::wstring wide(static_cast<size_t>(cw), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), &wide[0], cw);
    int cb = WideCharToMultiByte(CP_ACP, 0, wide.data(), cw, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) return false;
    out.assign(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), cw, &out[0], cb, nullptr, nullptr);
    return true;
}

// Copies a text with its terminator into a caller buffer of dwSize bytes.
bool CopyOut(const std::string& text, char* pszOut, DWORD dwSize)
{
    if (text.size() >= dwSize) {
        pszOut[0] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    memcpy(pszOut, text.data(), text.size());
    pszOut[text.size()] = '\0';
    return true;
}

// Copies a text of the document into a caller buffer in the ANSI code page
// (without a temporary copy for the usual ASCII text).
bool CopyOutAnsi(const std::string& utf8, char* pszOut, DWORD dwSize)
{
    if (IsAscii(utf8.data(), utf8.size())) return CopyOut(utf8, pszOut, dwSize);
    std::string ansi;
    if (!Utf8ToAnsi(utf8, ansi)) {
        pszOut[0] = '\0';
        return false;
    }
    return CopyOut(ansi, pszOut, dwSize);
}

DWORD ErrorOf(XmlStatus status)
{
    switch (status) {
    case XmlStatus::Ok: return ERROR_SUCCESS;
    case XmlStatus::NoDocument: return ERROR_INVALID_DATA;
    case XmlStatus::BadPath: return ERROR_BAD_PATHNAME;
    case XmlStatus::NotFound: return ERROR_NOT_FOUND;
    case XmlStatus::BadName: return ERROR_INVALID_NAME;
    case XmlStatus::BadText: return ERROR_INVALID_DATA;
    case XmlStatus::TooLarge: return ERROR_FILE_TOO_LARGE;
    case XmlStatus::Refused: return ERROR_INVALID_OPERATION;
    }
    return ERROR_GEN_FAILURE;
}

bool Fail(TLSOwner* pOwner, DWORD dwErr, const char* pszMessage)
{
    SetLastError(dwErr);
    return LS_DEF_ERROR(LSOwnerErr(pOwner), false, pszMessage);
}

// Closes a handle on every path out.
class TFileHandle {
public:
    explicit TFileHandle(HANDLE h) : m_h(h) {}
    ~TFileHandle() { Close(); }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_h; }
    bool Close()
    {
        bool bOk = true;
        if (m_h != INVALID_HANDLE_VALUE) bOk = CloseHandle(m_h) != FALSE;
        m_h = INVALID_HANDLE_VALUE;
        return bOk;
    }

private:
    HANDLE m_h;
};

// Reads a whole file into a new buffer (not zero-filled first: touching a
// large fresh buffer twice costs as much as reading it).
bool ReadWholeFile(const char* pszFile, size_t cbMax, std::unique_ptr<char[]>& data, size_t* pcbData)
{
    *pcbData = 0;
    TFileHandle file(CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid()) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size)) return false;
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > cbMax) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    const size_t cbFile = static_cast<size_t>(size.QuadPart);
    data.reset(new char[cbFile + 1]);
    size_t done = 0;
    while (done < cbFile) {
        DWORD dwChunk = static_cast<DWORD>(cbFile - done < (1u << 20) ? cbFile - done : (1u << 20));
        DWORD dwRead = 0;
        if (!ReadFile(file.Get(), data.get() + done, dwChunk, &dwRead, nullptr)) return false;
        if (dwRead == 0) break;   // the file shrank meanwhile
        done += dwRead;
    }
    *pcbData = done;
    return true;
}

// Writes the bytes to a new file beside pszFile, flushes it and puts it in
// place of pszFile. On failure the old file is untouched and the temporary
// file is gone; the Win32 error tells why.
bool ReplaceFileAtomically(const char* pszFile, const std::string& data)
{
    DWORD dwAttrs = GetFileAttributesA(pszFile);
    if (dwAttrs != INVALID_FILE_ATTRIBUTES) {
        // Replacing a read-only file or a folder is refused as Windows refuses it.
        if (dwAttrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
    }

    static volatile LONG s_nCounter = 0;
    char szTemp[MAX_PATH];
    HANDLE hTemp = INVALID_HANDLE_VALUE;
    for (int nTry = 0; nTry < 16 && hTemp == INVALID_HANDLE_VALUE; ++nTry) {
        DWORD dwTag = (GetCurrentProcessId() << 16) ^ GetTickCount() ^
                      static_cast<DWORD>(InterlockedIncrement(&s_nCounter) * 2654435761u);
        if (!LSStrFormat(szTemp, sizeof(szTemp), "%s.~%08lx", pszFile, static_cast<unsigned long>(dwTag))) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        hTemp = CreateFileA(szTemp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hTemp == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (hTemp == INVALID_HANDLE_VALUE) return false;

    TFileHandle temp(hTemp);
    bool bOk = true;
    size_t done = 0;
    while (bOk && done < data.size()) {
        DWORD dwChunk = static_cast<DWORD>(data.size() - done < (1u << 20) ? data.size() - done : (1u << 20));
        DWORD dwWritten = 0;
        bOk = WriteFile(temp.Get(), data.data() + done, dwChunk, &dwWritten, nullptr) && dwWritten == dwChunk;
        if (bOk) done += dwWritten;
    }
    bOk = bOk && FlushFileBuffers(temp.Get());
    DWORD dwErr = bOk ? ERROR_SUCCESS : GetLastError();
    if (!temp.Close() && bOk) {
        bOk = false;
        dwErr = GetLastError();
    }
    if (bOk && dwAttrs != INVALID_FILE_ATTRIBUTES) {
        // Keep what marks the old file (hidden, system) on the new one.
        DWORD dwKeep = dwAttrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        if (dwKeep) SetFileAttributesA(szTemp, dwKeep);
    }
    if (bOk) {
        bOk = MoveFileExA(szTemp, pszFile, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        if (!bOk) dwErr = GetLastError();
    }
    if (!bOk) {
        SetFileAttributesA(szTemp, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(szTemp);
        SetLastError(dwErr ? dwErr : ERROR_GEN_FAILURE);
    }
    return bOk;
}

}  // namespace

TXmlAPI::TXmlAPI(TLSOwner* pOwner) : m_pImpl(new (std::nothrow) Impl())
{
    if (m_pImpl) m_pImpl->pOwner = pOwner;
}

TXmlAPI::~TXmlAPI()
{
    delete m_pImpl;
}

bool TXmlAPI::Init(const char* pszFile)
{
    const char* pszMessage = "TXmlAPI::Init failed!";
    if (!m_pImpl) return Fail(nullptr, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    TLSOwner* pOwner = m_pImpl->pOwner;
    m_pImpl->doc.Clear();
    if (!pszFile || !*pszFile) return Fail(pOwner, ERROR_INVALID_PARAMETER, pszMessage);
    try {
        std::unique_ptr<char[]> data;
        size_t cbData = 0;
        if (!ReadWholeFile(pszFile, m_pImpl->doc.Limits().maxInput, data, &cbData))
            return LS_DEF_ERROR(LSOwnerErr(pOwner), false, pszMessage);
        ktxcmn::XmlParseError error;
        if (!m_pImpl->doc.Load(data.get(), cbData, &error)) {
            LS_TRACE_LOG(nullptr, "TXmlAPI::Init: %s at byte %lu", error.reason,
                         static_cast<unsigned long>(error.offset));
            return Fail(pOwner, ERROR_FILE_CORRUPT, pszMessage);
        }
        return true;
    } catch (...) {
        m_pImpl->doc.Clear();
        return Fail(pOwner, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    }
}

bool TXmlAPI::New(const char* pszRootTag)
{
    const char* pszMessage = "TXmlAPI::New failed!";
    if (!m_pImpl) return Fail(nullptr, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    TLSOwner* pOwner = m_pImpl->pOwner;
    if (!pszRootTag) return Fail(pOwner, ERROR_INVALID_PARAMETER, pszMessage);
    try {
        std::string name;
        if (!AnsiToUtf8(pszRootTag, name)) return LS_DEF_ERROR(LSOwnerErr(pOwner), false, pszMessage);
        XmlStatus status = m_pImpl->doc.New(name);
        if (status != XmlStatus::Ok) return Fail(pOwner, ErrorOf(status), pszMessage);
        return true;
    } catch (...) {
        return Fail(pOwner, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    }
}

bool TXmlAPI::Write(const char* pszFile, void* /*pReserved*/)
{
    const char* pszMessage = "TXmlAPI::Write failed!";
    if (!m_pImpl) return Fail(nullptr, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    TLSOwner* pOwner = m_pImpl->pOwner;
    if (!pszFile || !*pszFile) return Fail(pOwner, ERROR_INVALID_PARAMETER, pszMessage);
    try {
        if (!m_pImpl->doc.HasRoot()) return Fail(pOwner, ERROR_INVALID_DATA, pszMessage);
        std::string data;
        if (!m_pImpl->doc.Save(data)) return Fail(pOwner, ERROR_INVALID_DATA, pszMessage);
        if (!ReplaceFileAtomically(pszFile, data)) return LS_DEF_ERROR(LSOwnerErr(pOwner), false, pszMessage);
        return true;
    } catch (...) {
        return Fail(pOwner, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    }
}

bool TXmlAPI::GetRootTag(char* pszOut, DWORD dwSize)
{
    if (!pszOut || dwSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    pszOut[0] = '\0';
    if (!m_pImpl || !m_pImpl->doc.HasRoot()) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    try {
        return CopyOutAnsi(m_pImpl->doc.Root()->name, pszOut, dwSize);
    } catch (...) {
        pszOut[0] = '\0';
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

bool TXmlAPI::GPPS(const char* pszPath, char* pszOut, DWORD dwSize)
{
    if (!pszOut || dwSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    pszOut[0] = '\0';
    if (!m_pImpl || !pszPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    try {
        std::string path;
        const XmlElement* pElement = nullptr;
        if (!AnsiToUtf8(pszPath, path)) return false;
        XmlStatus status = m_pImpl->doc.Find(path, &pElement);
        if (status != XmlStatus::Ok) {
            SetLastError(ErrorOf(status));
            return false;
        }
        return CopyOutAnsi(pElement->text, pszOut, dwSize);
    } catch (...) {
        pszOut[0] = '\0';
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

bool TXmlAPI::GPPS(const char* pszPath, const char* pszKey, char* pszOut, DWORD dwSize)
{
    if (!pszOut || dwSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    pszOut[0] = '\0';
    if (!m_pImpl || !pszPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    try {
        if (pszKey) {
            std::string full(pszPath);
            if (!full.empty()) full.push_back('.');
            full.append(pszKey);
            return GPPS(full.c_str(), pszOut, dwSize);
        }
        std::string path;
        const XmlElement* pElement = nullptr;
        if (!AnsiToUtf8(pszPath, path)) return false;
        XmlStatus status = m_pImpl->doc.Find(path, &pElement);
        if (status != XmlStatus::Ok) {
            SetLastError(ErrorOf(status));
            return false;
        }
        // The names, each with its terminator, then the empty name.
        std::string list;
        std::string name;
        for (const auto& pChild : pElement->Children()) {
            if (!Utf8ToAnsi(pChild->name, name)) return false;
            list.append(name);
            list.push_back('\0');
        }
        list.push_back('\0');
        if (list.size() > dwSize) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        memcpy(pszOut, list.data(), list.size());
        return true;
    } catch (...) {
        pszOut[0] = '\0';
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

bool TXmlAPI::PPPS(const char* pszPath, const char* pszText)
{
    const char* pszMessage = "TXmlAPI::PPPS failed!";
    if (!m_pImpl) return Fail(nullptr, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    TLSOwner* pOwner = m_pImpl->pOwner;
    if (!pszPath) return Fail(pOwner, ERROR_INVALID_PARAMETER, pszMessage);
    try {
        std::string path, text;
        if (!AnsiToUtf8(pszPath, path)) return LS_DEF_ERROR(LSOwnerErr(pOwner), false, pszMessage);
        XmlStatus status;
        if (pszText) {
            if (!AnsiToUtf8(pszText, text)) return LS_DEF_ERROR(LSOwnerErr(pOwner), false, pszMessage);
            status = m_pImpl->doc.SetText(path, std::move(text));
        } else {
            status = m_pImpl->doc.Remove(path);
        }
        if (status != XmlStatus::Ok) return Fail(pOwner, ErrorOf(status), pszMessage);
        return true;
    } catch (...) {
        return Fail(pOwner, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    }
}

bool TXmlAPI::GetAtt(const char* pszPath, const char* pszAttr, char* pszOut, DWORD dwSize)
{
    if (!pszOut || dwSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    pszOut[0] = '\0';
    if (!m_pImpl || !pszPath || !pszAttr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    try {
        std::string path, attr;
        const XmlElement* pElement = nullptr;
        if (!AnsiToUtf8(pszPath, path) || !AnsiToUtf8(pszAttr, attr)) return false;
        XmlStatus status = m_pImpl->doc.Find(path, &pElement);
        if (status != XmlStatus::Ok) {
            SetLastError(ErrorOf(status));
            return false;
        }
        const ktxcmn::XmlAttribute* pAttr = pElement->FindAttribute(attr);
        if (!pAttr) {
            SetLastError(ERROR_NOT_FOUND);
            return false;
        }
        return CopyOutAnsi(pAttr->value, pszOut, dwSize);
    } catch (...) {
        pszOut[0] = '\0';
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

bool TXmlAPI::PutAtt(const char* pszPath, const char* pszAttr, const char* pszValue)
{
    const char* pszMessage = "TXmlAPI::PutAtt failed!";
    if (!m_pImpl) return Fail(nullptr, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    TLSOwner* pOwner = m_pImpl->pOwner;
    if (!pszPath || !pszAttr || !pszValue) return Fail(pOwner, ERROR_INVALID_PARAMETER, pszMessage);
    try {
        std::string path, attr, value;
        if (!AnsiToUtf8(pszPath, path) || !AnsiToUtf8(pszAttr, attr) || !AnsiToUtf8(pszValue, value))
            return LS_DEF_ERROR(LSOwnerErr(pOwner), false, pszMessage);
        XmlStatus status = m_pImpl->doc.SetAttribute(path, attr, std::move(value));
        if (status != XmlStatus::Ok) return Fail(pOwner, ErrorOf(status), pszMessage);
        return true;
    } catch (...) {
        return Fail(pOwner, ERROR_NOT_ENOUGH_MEMORY, pszMessage);
    }
}
