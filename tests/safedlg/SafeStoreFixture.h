// A safe dialog with a safe file of its own in a temporary folder: the file
// written from XML text or started empty, the dialog's document loaded from
// it, and the file read back independently of the dialog.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "SafeDlgFixture.h"
#include "TestSupport.h"

namespace safetest {

// Element name and "name" attribute of one child, in document order.
typedef std::vector<std::pair<std::string, std::string>> ChildList;

class SafeStoreFixture : public SafeDlgFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the XML text as the safe file and loads it into the dialog's document.
    void OpenSafe(const std::string& xml);
    // A new empty "LSVER500" safe, written and loaded.
    void NewSafe();
    // The children of an element of the file on disk (read into a document of its own).
    ChildList FileChildren(const std::string& path = "LSVER500");
    // An element text and an attribute of the file on disk ("" when missing).
    std::string FileText(const std::string& path);
    std::string FileAtt(const std::string& path, const std::string& attr);
    // The captions of the entry list, top to bottom.
    std::vector<std::string> Captions();
    // The whole safe file.
    std::string FileBytes() { return ktxtest::ReadFileBytes(m_safePath); }

    ktxtest::TempDir m_dir;
    std::string m_safePath;
    char m_szSafeFile[LS_PATH_SIZE] = {};
};

// An exclusive handle on a file: nothing else can open, replace or delete
// it while it is held, so a write of the safe fails.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : m_h(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return m_h != INVALID_HANDLE_VALUE; }
    void Release()
    {
        if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h;
};

// A safe file text with the given entry elements below the root.
std::string SafeXml(const std::string& body, const std::string& root = "LSVER500");

}  // namespace safetest
