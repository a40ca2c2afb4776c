#include "SafeUnlockFixture.h"

#include <atomic>
#include <cstring>
#include <ostream>
#include <thread>

#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace ui = ktxtest::ui;

namespace safetest {

BoxCloser::BoxCloser() : m_thread([this] { Run(); }) {}

int BoxCloser::Stop()
{
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    return m_count;
}

std::string BoxCloser::Texts()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts;
}

void BoxCloser::Run()
{
    while (!m_stop) {
        // Complete: visible with its button.
        HWND hBox = ui::FindTopWindow({"#32770"});
        const int nButton = hBox ? (GetDlgItem(hBox, IDYES) ? IDYES : IDOK) : 0;
        if (hBox && GetDlgItem(hBox, nButton)) {
            Sleep(50);
            std::string text;
            for (HWND h : ui::Controls(hBox))
                if (lstrcmpiA(ui::ClassOf(h).c_str(), "Static") == 0) text += ui::TextOf(h) + "\n";
            // A question is agreed to, a notice confirmed. Under Wine a
            // posted click on a box that has just appeared is lost now and
            // then (a box shown while the safe is being opened never takes
            // one): it is repeated, and then sent, until the box is gone.
            bool bGone = false;
            for (int i = 0; i < 40 && !bGone; ++i) {
                if (i < 3) ui::PressButtonId(hBox, nButton);
                else SendMessageA(GetDlgItem(hBox, nButton), BM_CLICK, 0, 0);
                bGone = ui::WaitForWindowGone(hBox, 300);
            }
            if (bGone) {
                ++m_count;
                std::lock_guard<std::mutex> lock(m_mutex);
                m_texts += text + "\n";
            }
        }
        Sleep(50);
    }
}

void PrintTo(const EntryFields& f, std::ostream* os)
{
    *os << "{'" << f.user << "', '" << f.password << "', '" << f.url << "', '" << f.note << "'}";
}

void PrintTo(const SafeEntry& e, std::ostream* os)
{
    *os << e.name << " ";
    PrintTo(e.fields, os);
}

void SafeUnlockFixture::SetUp()
{
    SafeDlgFixture::SetUp();
    m_safe = m_dir.File("Safe.xml");
    char szUser[LS_USERNAME_SIZE] = {};
    DWORD cch = sizeof(szUser);
    GetUserNameA(szUser, &cch);
    m_user = szUser;
    // The log goes on across runs: only what this test adds counts.
    m_logStart = ktxtest::ReadFileBytes(m_pDlg->szLogFile).size();
}

void SafeUnlockFixture::TearDown()
{
    Unprotect();
    SafeDlgFixture::TearDown();
}

void SafeUnlockFixture::ChooseCertificate()
{
    ASSERT_TRUE(m_cert.Create("KTSafe unlock"));
    TLSCryptCert record = m_cert.Record();
    ASSERT_TRUE(TVornixReg::QOVSetRegUsrEncCrt(m_pOwner, &record, 1, nullptr));
}

void SafeUnlockFixture::WriteSafe(const std::vector<SafeEntry>& entries, const char* pszPassword,
                                  const char* pszVersion, int nMode)
{
    ASSERT_TRUE(TVornixReg::QOVSetVornixSafe(m_pOwner, m_safe.c_str()));
    // The key file's password, as the opening will obtain it (the key file
    // is made now, while the safe file does not exist yet).
    char szCertPassword[TfrmDlgSafe::CERT_PASSWORD_SIZE] = {};
    ASSERT_TRUE(m_pDlg->DoGetCertPassword(szCertPassword, false));
    const char* pszKey = pszPassword ? pszPassword : szCertPassword;
    LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), pszKey);
    ASSERT_TRUE(m_pDlg->DoLoadPassSequenz(pszKey));
    SecureZeroMemory(szCertPassword, sizeof(szCertPassword));

    char szPath[LS_PATH_SIZE] = {};
    LSStrCopy(szPath, sizeof(szPath), m_safe.c_str());
    m_pDlg->pszSafeFile = szPath;
    m_pDlg->nCryptMode = nMode;
    ASSERT_TRUE(m_pDlg->pXml->New(pszVersion));
    ASSERT_TRUE(m_pDlg->pXml->Write(szPath, nullptr));
    for (const SafeEntry& e : entries) {
        ASSERT_TRUE(m_pDlg->DoAddSafe(e.name.c_str()));
        TListItem* pItem = m_pDlg->lstvBezeichnung->Items()->Add(e.name);
        m_pDlg->editBenutzername->SetTextBuf(e.fields.user.c_str());
        m_pDlg->editPasswort->SetTextBuf(e.fields.password.c_str());
        m_pDlg->editURL->SetTextBuf(e.fields.url.c_str());
        m_pDlg->memoSafe->SetTextBuf(e.fields.note.c_str());
        ASSERT_TRUE(m_pDlg->DoEncCryptItem(pItem, m_pDlg->nCryptMode));
    }
    m_pDlg->pszSafeFile = nullptr;
    Recreate();
}

bool SafeUnlockFixture::Open(bool* pbCancel, ui::Action closeDialog, std::string* pShownCaption)
{
    // The dialog's window exists before it is shown: answer it by its handle.
    const HWND hDlg = m_pDlg->Handle();
    std::atomic<bool> bShown{false};
    std::atomic<bool> bStop{false};
    // A dialog that must not appear is closed all the same, so a fault
    // fails the test instead of hanging it.
    if (!closeDialog) closeDialog = PressClose();
    std::thread closer([&, hDlg, closeDialog] {
        for (int i = 0; i < 3000 && !bStop; ++i) {
            if (IsWindowVisible(hDlg)) {
                Sleep(200);   // let the start-up timer run
                bShown = true;
                if (pShownCaption) *pShownCaption = ui::TextOf(hDlg);
                closeDialog(hDlg);
                return;
            }
            Sleep(10);
        }
    });
    const bool ok = m_pDlg->ShowModalSafe(DLS_GLOBAL_CAPTION_SAFE(), pbCancel);
    bStop = true;
    closer.join();
    m_bShown = bShown;
    return ok;
}

ui::Action SafeUnlockFixture::PressClose()
{
    return ui::Press(DLS_BTN_SCHLIESSEN());
}

EntryFields SafeUnlockFixture::ShownFields()
{
    return {ui::TextOf(m_pDlg->editBenutzername->Handle()), ui::TextOf(m_pDlg->editPasswort->Handle()),
            ui::TextOf(m_pDlg->editURL->Handle()), ui::TextOf(m_pDlg->memoSafe->Handle())};
}

bool SafeUnlockFixture::TypeFields(const EntryFields& f)
{
    return ui::SetText(m_pDlg->editBenutzername->Handle(), f.user) &&
           ui::SetText(m_pDlg->editPasswort->Handle(), f.password) &&
           ui::SetText(m_pDlg->editURL->Handle(), f.url) && ui::SetText(m_pDlg->memoSafe->Handle(), f.note);
}

std::string SafeUnlockFixture::Log() const
{
    const std::string all = ktxtest::ReadFileBytes(m_pDlg->szLogFile);
    return all.size() >= m_logStart ? all.substr(m_logStart) : all;
}

std::string SafeUnlockFixture::Line(const char* pszFormat) const
{
    char sz[LS_TEXT_SIZE] = {};
    LSStrFormat(sz, sizeof(sz), pszFormat, m_user.c_str());
    return sz;
}

void SafeUnlockFixture::Select(const std::string& name)
{
    const HWND hList = m_pDlg->lstvBezeichnung->Handle();
    for (int i = 0; i < ui::ListCount(hList); ++i)
        if (ui::ListItemText(hList, i) == name) ui::SelectListItem(hList, i);
}

std::string SafeUnlockFixture::SafeRoot()
{
    Unprotect();
    TXmlAPI doc(m_pOwner);
    char szRoot[LS_XMLPATH_SIZE] = {};
    if (!doc.Init(m_safe.c_str()) || !doc.GetRootTag(szRoot, sizeof(szRoot))) return std::string();
    return szRoot;
}

std::vector<SafeUnlockFixture::Element> SafeUnlockFixture::SafeElements()
{
    Unprotect();
    std::vector<Element> elements;
    TXmlAPI doc(m_pOwner);
    char szRoot[LS_XMLPATH_SIZE] = {};
    if (!doc.Init(m_safe.c_str()) || !doc.GetRootTag(szRoot, sizeof(szRoot))) return elements;
    std::vector<char> list(1u << 20);
    if (!doc.GPPS(szRoot, nullptr, list.data(), static_cast<DWORD>(list.size()))) return elements;
    std::vector<char> buffer(LS_TEXT_SIZE);
    for (const char* p = list.data(); *p; p += strlen(p) + 1) {
        Element e;
        e.tag = p;
        const std::string path = std::string(szRoot) + "." + p;
        if (doc.GetAtt(path.c_str(), "name", buffer.data(), LS_TEXT_SIZE)) e.name = buffer.data();
        if (doc.GPPS(path.c_str(), buffer.data(), LS_TEXT_SIZE)) e.text = buffer.data();
        if (doc.GetAtt(path.c_str(), "hash", buffer.data(), LS_TEXT_SIZE)) e.hash = buffer.data();
        elements.push_back(e);
    }
    return elements;
}

int SafeUnlockFixture::EntriesOpeningWith(const char* pszPassword, int nMode, std::vector<std::string>* pOpened)
{
    const bool bWasFailed = m_pDlg->bPasswordFailed;
    LSStrCopy(m_pDlg->szPassword, sizeof(m_pDlg->szPassword), pszPassword);
    EXPECT_TRUE(m_pDlg->DoLoadPassSequenz(pszPassword));
    int nOpened = 0;
    BoxCloser boxes;
    for (const Element& e : SafeElements()) {
        if (e.text.empty()) continue;
        if (m_pDlg->DoDecCrypt(e.name.c_str(), e.text.c_str(), e.hash.c_str(), nMode)) {
            ++nOpened;
            if (pOpened) pOpened->push_back(e.name);
        }
    }
    boxes.Stop();
    m_pDlg->bPasswordFailed = bWasFailed;
    return nOpened;
}

bool SafeUnlockFixture::SealHolds()
{
    TLSLog log(m_pOwner);
    return log.Init(m_pDlg->szLogFile, kSafeKey, 0) && log.CheckHash();
}

}  // namespace safetest
