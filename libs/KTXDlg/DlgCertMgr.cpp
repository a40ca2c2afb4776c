// The certificate manager.
#include "DlgCertMgr.h"

#include <cstring>

#include "CertStore.h"
#include "KTXLANG.h"
#include "KTXTOOLS.h"
#include "LSStr.h"

namespace ktxdlg {

namespace {

// The purpose under which the settings library keeps the safe's certificates.
constexpr char kCertPurpose[] = "safe certificates";
// Search mode of the settings library: the current user's certificates only.
constexpr int kSearchUserOnly = 1;

bool SameThumbprint(const TLSCryptCert& a, const TLSCryptCert& b)
{
    return a.cbThumbprint == b.cbThumbprint && a.cbThumbprint == kThumbprintSize &&
           memcmp(a.abThumbprint, b.abThumbprint, kThumbprintSize) == 0;
}

}  // namespace

TfrmCertificateMgr::TfrmCertificateMgr(TLSOwner* pOwner, HWND hParent, const char* pszStore, bool bSelect)
    : TForm(nullptr, "TfrmCertificateMgr", ResolveParent(pOwner, hParent)),
      m_pOwner(pOwner),
      m_store((pszStore && *pszStore) ? pszStore : "MY"),
      m_bSelect(bSelect)
{
    const int cxClient = 720;
    const int cxInner = cxClient - 2 * kMargin;
    SetupDialogForm(this, DLS_DLG_CERT_CAPTION());

    int y = kMargin;
    txtIntro = MakeText(this, bSelect ? DLS_DLG_CERT_INTRO_SELECT() : DLS_DLG_CERT_INTRO_MANAGE(), kMargin, y, cxInner,
                        18);
    y += 18 + kGap;
    lstvZertifikate = new TListView(this);
    lstvZertifikate->SetName("lstvZertifikate");
    lstvZertifikate->SetBounds(kMargin, y, cxInner, 220);
    lstvZertifikate->SetReadOnly(true);
    lstvZertifikate->SetRowSelect(true);
    lstvZertifikate->SetHideSelection(false);
    lstvZertifikate->SetMultiSelect(bSelect);
    lstvZertifikate->AddColumn(DLS_DLG_CERT_COL_SUBJECT(), 170);
    lstvZertifikate->AddColumn(DLS_DLG_CERT_COL_ISSUER(), 150);
    lstvZertifikate->AddColumn(DLS_DLG_CERT_COL_VALIDTO(), 105);
    lstvZertifikate->AddColumn(DLS_DLG_CERT_COL_KEY(), 120);
    lstvZertifikate->AddColumn(DLS_DLG_CERT_COL_USE(), 130);
    y += 220 + kGap;
    txtHinweis = MakeText(this, DLS_DLG_CERT_NONE(), kMargin, y, cxInner, 32);
    txtHinweis->SetName("txtHinweis");
    txtHinweis->SetVisible(false);
    y += 32 + kGap;

    btnZertifikatNeu = MakeButton(this, DLS_DLG_CERT_BTN_CREATE(), kMargin, y, 150, kButtonHeight);
    btnZertifikatNeu->SetName("btnZertifikatNeu");
    btnLoeschen = MakeButton(this, DLS_DLG_CERT_BTN_DELETE(), kMargin + 150 + kGap, y, 110, kButtonHeight);
    btnLoeschen->SetName("btnLoeschen");
    btnOK = nullptr;
    if (bSelect) {
        btnOK = MakeButton(this, DLS_DLG_BTN_OK(), cxClient - kMargin - 2 * kButtonWidth - kGap, y, kButtonWidth,
                           kButtonHeight);
        btnOK->SetName("btnOK");
        btnOK->OnClick = TkMethod(this, &TfrmCertificateMgr::btnOKClick);
    }
    btnAbbrechen = MakeButton(this, bSelect ? DLS_DLG_BTN_CANCEL() : DLS_DLG_BTN_CLOSE(),
                              cxClient - kMargin - kButtonWidth, y, kButtonWidth, kButtonHeight);
    btnAbbrechen->SetName("btnAbbrechen");
    btnAbbrechen->SetModalResult(bSelect ? mrCancel : mrClose);
    SetDefaultButton(bSelect ? btnOK : btnAbbrechen);
    SetCancelButton(btnAbbrechen);
    SetClientSize(cxClient, y + kButtonHeight + kMargin);

    btnZertifikatNeu->OnClick = TkMethod(this, &TfrmCertificateMgr::btnZertifikatNeuClick);
    btnLoeschen->OnClick = TkMethod(this, &TfrmCertificateMgr::btnLoeschenClick);
    lstvZertifikate->OnSelectItem = TkMethod(this, &TfrmCertificateMgr::lstvZertifikateSelectItem);
    lstvZertifikate->OnDblClick = TkMethod(this, &TfrmCertificateMgr::lstvZertifikateDblClick);
    lstvZertifikate->OnKeyDown = TkMethod(this, &TfrmCertificateMgr::lstvZertifikateKeyDown);
    SetActiveControl(lstvZertifikate);
    PlaceForm(this, pOwner);
}

bool TfrmCertificateMgr::GetChosenThumbprint(BYTE* pThumbprint)
{
    // The settings library names the chosen certificate first; a failure here
    // only means that no row is marked.
    bool bCancel = false;
    int nCount = 0;
    if (!TVornixReg::QOVGetCert(m_pOwner, kCertPurpose, nullptr, &nCount, kSearchUserOnly, true, &bCancel) ||
        nCount <= 0)
        return false;
    if (nCount > 1024) nCount = 1024;
    std::vector<TLSCryptCert> certs(static_cast<size_t>(nCount));
    for (TLSCryptCert& cert : certs) LSInitCryptCert(&cert);
    if (!TVornixReg::QOVGetCert(m_pOwner, kCertPurpose, certs.data(), &nCount, kSearchUserOnly, true, &bCancel))
        return false;
    for (int i = 0; i < nCount && i < static_cast<int>(certs.size()); ++i) {
        if (certs[i].bEncryptionCert && certs[i].cbThumbprint == kThumbprintSize) {
            memcpy(pThumbprint, certs[i].abThumbprint, kThumbprintSize);
            return true;
        }
    }
    return false;
}

bool TfrmCertificateMgr::DoFillList(const std::vector<TLSCryptCert>* pSelect)
{
    LS_TRACE_LOG(nullptr, "TfrmCertificateMgr::DoFillList");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    ClearLSError(pErr);
    DWORD dwErr = ERROR_SUCCESS;
    std::vector<TLSCryptCert> certs;
    bool bResult = false;
    {
        TCertStore store = OpenUserStore(m_store.c_str(), &dwErr);
        bResult = store && ListUsableCertificates(store.Get(), m_store.c_str(), &certs, &dwErr);
    }
    BYTE abChosen[kThumbprintSize];
    bool bChosen = bResult && GetChosenThumbprint(abChosen);
    for (TLSCryptCert& cert : certs) {
        cert.bEncryptionCert = bChosen && memcmp(cert.abThumbprint, abChosen, kThumbprintSize) == 0;
    }

    lstvZertifikate->Items()->BeginUpdate();
    lstvZertifikate->Items()->Clear();
    m_certs = certs;
    for (size_t i = 0; i < m_certs.size(); ++i) {
        const TLSCryptCert& cert = m_certs[i];
        TListItem* pItem = lstvZertifikate->Items()->Add(cert.szSubject);
        pItem->SetData(reinterpret_cast<void*>(static_cast<intptr_t>(i)));
        pItem->SetSubItem(0, cert.szIssuer);
        std::string date = FormatDate(cert.ftNotAfter);
        pItem->SetSubItem(1, IsExpired(cert.ftNotAfter) ? FormatText(DLS_DLG_CERT_EXPIRED(), date.c_str()) : date);
        pItem->SetSubItem(2, cert.bHasPrivateKey ? DLS_DLG_CERT_YES() : DLS_DLG_CERT_NO());
        pItem->SetSubItem(3, cert.bEncryptionCert ? DLS_DLG_CERT_CHOSEN() : "");
    }
    lstvZertifikate->Items()->EndUpdate();

    // Select what was asked for, else (when choosing) the certificate that protects the safe.
    TListItem* pFirst = nullptr;
    for (int i = 0; i < lstvZertifikate->Items()->Count(); ++i) {
        TListItem* pItem = lstvZertifikate->Items()->Item(i);
        const TLSCryptCert& cert = m_certs[static_cast<size_t>(reinterpret_cast<intptr_t>(pItem->Data()))];
        bool bSelect = false;
        if (pSelect) {
            for (const TLSCryptCert& wanted : *pSelect) bSelect = bSelect || SameThumbprint(wanted, cert);
        } else {
            bSelect = m_bSelect && cert.bEncryptionCert;
        }
        if (bSelect && (m_bSelect || !pFirst)) {
            pItem->SetSelected(true);
            if (!pFirst) pFirst = pItem;
        }
    }
    if (pFirst) {
        pFirst->SetFocused(true);
        pFirst->MakeVisible();
    }
    txtHinweis->SetVisible(bResult && m_certs.empty());
    DoUpdateButtons();
    return LSAddDefErrorAt(pErr, bResult, dwErr, __FILE__, __LINE__, "TfrmCertificateMgr::DoFillList failed!");
}

std::vector<TLSCryptCert> TfrmCertificateMgr::SelectedCertificates() const
{
    std::vector<TLSCryptCert> result;
    for (TListItem* pItem = lstvZertifikate->NextSelected(nullptr); pItem;
         pItem = lstvZertifikate->NextSelected(pItem)) {
        size_t index = static_cast<size_t>(reinterpret_cast<intptr_t>(pItem->Data()));
        if (index < m_certs.size()) result.push_back(m_certs[index]);
    }
    return result;
}

void TfrmCertificateMgr::DoUpdateButtons()
{
    int nSelected = lstvZertifikate->SelCount();
    btnLoeschen->SetEnabled(nSelected == 1);
    if (btnOK) btnOK->SetEnabled(nSelected > 0);
}

bool TfrmCertificateMgr::DoCreateCertificate()
{
    LS_TRACE_LOG(nullptr, "TfrmCertificateMgr::DoCreateCertificate");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    ClearLSError(pErr);
    char szUser[LS_USERNAME_SIZE] = "";
    {
        TLSTools tools(m_pOwner);
        if (!tools.GetUsrNam(szUser, sizeof(szUser)) || !szUser[0]) {
            DWORD cch = sizeof(szUser);
            if (!GetUserNameA(szUser, &cch)) szUser[0] = '\0';
        }
    }
    DWORD dwErr = szUser[0] ? ERROR_SUCCESS : ERROR_NO_SUCH_USER;
    TLSCryptCert created;
    LSInitCryptCert(&created);
    bool bResult = false;
    if (szUser[0]) {
        HCURSOR hOld = ::SetCursor(LoadCursor(nullptr, IDC_WAIT));
        TCertStore store = OpenUserStore(m_store.c_str(), &dwErr);
        bResult = store && CreateSelfSignedCertificate(store.Get(), m_store.c_str(), szUser, &created, &dwErr);
        ::SetCursor(hOld);
    }
    LSAddDefErrorAt(pErr, bResult, dwErr, __FILE__, __LINE__, "TfrmCertificateMgr::DoCreateCertificate failed!");
    if (bResult) {
        std::vector<TLSCryptCert> select{created};
        DoFillList(&select);
        lstvZertifikate->SetFocus();
    }
    return TLSError::StdErrorMsg(m_pOwner, Handle(), bResult, false, DLS_DLG_CERT_CREATE_FAILED());
}

bool TfrmCertificateMgr::MayDelete(const TLSCryptCert& cert, std::string* pReason)
{
    // Without its private key the certificate opens nothing.
    if (!cert.bHasPrivateKey) return true;
    char szKeyFile[LS_PATH_SIZE] = "";
    if (!TVornixReg::QOVGetKeyFile(m_pOwner, 1, nullptr, szKeyFile, false) || !szKeyFile[0] ||
        GetFileAttributesA(szKeyFile) == INVALID_FILE_ATTRIBUTES)
        return true;  // no key file: nothing to lock out of

    // The certificates with a slot in the key file, and whether each can open it now.
    int nCount = 0;
    std::vector<TLSCryptCert> slots;
    bool bRead = TVornixReg::QOVGetKeyFileCerts(m_pOwner, nullptr, &nCount) && nCount >= 0;
    if (bRead && nCount > 0) {
        slots.resize(static_cast<size_t>(nCount));
        for (TLSCryptCert& slot : slots) LSInitCryptCert(&slot);
        bRead = TVornixReg::QOVGetKeyFileCerts(m_pOwner, slots.data(), &nCount) && nCount >= 0;
        slots.resize(bRead && nCount < static_cast<int>(slots.size()) ? static_cast<size_t>(nCount) : slots.size());
    }
    if (!bRead) {
        *pReason = FormatText(DLS_DLG_CERT_KEYFILE_UNREADABLE(), cert.szSubject);
        return false;
    }
    bool bOpensIt = false, bOtherOpensIt = false;
    for (const TLSCryptCert& slot : slots) {
        if (!slot.bHasPrivateKey) continue;
        if (SameThumbprint(slot, cert))
            bOpensIt = true;
        else
            bOtherOpensIt = true;
    }
    if (!bOpensIt || bOtherOpensIt) return true;
    *pReason = FormatText(DLS_DLG_CERT_LASTKEY(), cert.szSubject);
    return false;
}

bool TfrmCertificateMgr::DoDeleteCertificate()
{
    LS_TRACE_LOG(nullptr, "TfrmCertificateMgr::DoDeleteCertificate");
    tag_TLSErrHandler* pErr = LSOwnerErr(m_pOwner);
    ClearLSError(pErr);
    std::vector<TLSCryptCert> selected = SelectedCertificates();
    if (selected.size() != 1) return true;
    const TLSCryptCert& cert = selected.front();

    std::string reason;
    if (!MayDelete(cert, &reason)) {
        TLSError::StdHinweisMsg(m_pOwner, Handle(), reason.c_str(), DialogCaption(DLS_DLG_CERT_CAPTION()).c_str());
        return true;
    }
    std::string question = FormatText(DLS_DLG_CERT_ASK_DELETE(), cert.szSubject);
    if (!TLSError::StdAskMsg(m_pOwner, Handle(), DialogCaption(DLS_DLG_CERT_CAPTION()).c_str(), question.c_str()))
        return true;

    DWORD dwErr = ERROR_SUCCESS;
    bool bResult = false;
    {
        TCertStore store = OpenUserStore(m_store.c_str(), &dwErr);
        bResult = store && DeleteCertificate(store.Get(), cert.abThumbprint, cert.cbThumbprint, &dwErr);
    }
    LSAddDefErrorAt(pErr, bResult, dwErr, __FILE__, __LINE__, "TfrmCertificateMgr::DoDeleteCertificate failed!");
    std::vector<TLSCryptCert> keep = SelectedCertificates();
    if (bResult) keep.clear();
    // Fill the list again in any case: it shows what the store holds now.
    tag_TLSErrHandler saved{};
    if (pErr) saved = *pErr;
    DoFillList(&keep);
    if (pErr) *pErr = saved;
    return TLSError::StdErrorMsg(m_pOwner, Handle(), bResult, false, DLS_DLG_CERT_DELETE_FAILED());
}

void TfrmCertificateMgr::btnZertifikatNeuClick(TObject*)
{
    DoCreateCertificate();
}

void TfrmCertificateMgr::btnLoeschenClick(TObject*)
{
    DoDeleteCertificate();
    lstvZertifikate->SetFocus();
}

void TfrmCertificateMgr::btnOKClick(TObject*)
{
    std::vector<TLSCryptCert> selected = SelectedCertificates();
    if (selected.empty()) return;
    for (const TLSCryptCert& cert : selected) {
        if (!cert.bHasPrivateKey) {
            TLSError::StdHinweisMsg(m_pOwner, Handle(), FormatText(DLS_DLG_CERT_NOPRIVATEKEY(), cert.szSubject).c_str(),
                                    DialogCaption(DLS_DLG_CERT_CAPTION()).c_str());
            return;
        }
    }
    SetModalResult(mrOk);
}

void TfrmCertificateMgr::lstvZertifikateSelectItem(TObject*, TListItem*, bool)
{
    DoUpdateButtons();
}

void TfrmCertificateMgr::lstvZertifikateDblClick(TObject*)
{
    if (btnOK && btnOK->Enabled()) btnOK->Click();
}

void TfrmCertificateMgr::lstvZertifikateKeyDown(TObject*, WORD& Key, TShiftState Shift)
{
    if (Key == VK_DELETE && Shift.Empty() && btnLoeschen->Enabled()) {
        Key = 0;
        btnLoeschen->Click();
    }
}

}  // namespace ktxdlg
