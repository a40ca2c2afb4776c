// The safe dialog opened the way the start-up form opens it: ShowModalSafe
// with the settings, the key file and a certificate of the user's, the
// dialog answered from a helper thread while its modal run goes on, and the
// safe log read back.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SafeDlgFixture.h"
#include "TestSupport.h"
#include "ToolsFixture.h"
#include "UiDriver.h"

namespace safetest {

// The four fields of an entry.
struct EntryFields {
    std::string user, password, url, note;
    bool operator==(const EntryFields& o) const
    {
        return user == o.user && password == o.password && url == o.url && note == o.note;
    }
};
void PrintTo(const EntryFields& f, std::ostream* os);

// An entry of a safe made for a test: its name and fields.
struct SafeEntry {
    std::string name;
    EntryFields fields;
    bool operator==(const SafeEntry& o) const { return name == o.name && fields == o.fields; }
};
void PrintTo(const SafeEntry& e, std::ostream* os);

// Answers every message box that shows up, one after the other, from a
// helper thread until stopped (Yes to a question, OK to anything else);
// counts them and keeps their texts.
class BoxCloser {
public:
    BoxCloser();
    ~BoxCloser() { Stop(); }
    BoxCloser(const BoxCloser&) = delete;
    BoxCloser& operator=(const BoxCloser&) = delete;
    // Stops answering; the number of boxes answered.
    int Stop();
    // The texts of the boxes answered so far, joined by a blank line.
    std::string Texts();

private:
    void Run();
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_count{0};
    std::mutex m_mutex;
    std::string m_texts;
    std::thread m_thread;
};

class SafeUnlockFixture : public SafeDlgFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // A certificate chosen for the safe, so the key file gives a password.
    void ChooseCertificate();
    // The safe file at m_safe, configured in the settings, holding these
    // entries encrypted under the key file's password (or under pszPassword
    // when given), written by a dialog of its own; the test's dialog is made
    // new afterwards. Older safes: their version marker, and the legacy
    // format (LS_CRYPT_LEGACY) for their entries.
    void WriteSafe(const std::vector<SafeEntry>& entries, const char* pszPassword = nullptr,
                   const char* pszVersion = "LSVER500", int nMode = LS_CRYPT_CURRENT);

    // Runs the opening; the safe dialog, once shown, is answered by action
    // from a helper thread (NeverShown: it must not be shown at all;
    // m_bShown tells).
    bool Open(bool* pbCancel, ktxtest::ui::Action closeDialog, std::string* pShownCaption = nullptr);
    static ktxtest::ui::Action PressClose();
    static ktxtest::ui::Action NeverShown() { return nullptr; }

    // The fields as the dialog's window shows them (from any thread).
    EntryFields ShownFields();
    // Types the fields into the dialog's window as a user does.
    bool TypeFields(const EntryFields& f);

    // What this test added to the safe log, and a log line of this run.
    std::string Log() const;
    std::string Line(const char* pszFormat) const;
    bool SealHolds();
    // The root and the entry elements of the safe file as it is on disk: for
    // each child of the root its element name and its entry name.
    struct Element {
        std::string tag, name, text, hash;
    };
    std::string SafeRoot();
    std::vector<Element> SafeElements();
    // How many of the safe file's stored entries decrypt with the password
    // in nMode, read straight from the file (the message of an entry that
    // does not is answered); pOpened receives their names.
    int EntriesOpeningWith(const char* pszPassword, int nMode, std::vector<std::string>* pOpened = nullptr);
    // The safe file's bytes as they are on disk (its protection taken off).
    std::string SafeBytes()
    {
        Unprotect();
        return ktxtest::ReadFileBytes(m_safe);
    }
    // Selects the entry of that name in the shown dialog's list, as a click
    // does (from any thread).
    void Select(const std::string& name);
    // The file without its protection, so a test can read or change it.
    void Unprotect() { SetFileAttributesA(m_safe.c_str(), FILE_ATTRIBUTE_NORMAL); }

    ktxtest::TempDir m_dir;
    std::string m_safe;
    std::string m_user;
    toolstest::TestCert m_cert;
    bool m_bShown = false;
    size_t m_logStart = 0;
};

}  // namespace safetest
