// The certificate manager: the user's usable certificates, which of them
// protects the safe, creating a certificate for the user, deleting one, and
// (when the caller wants them back) choosing certificates.
#pragma once

#include <string>
#include <vector>

#include "DlgCommon.h"

namespace ktxdlg {

class TfrmCertificateMgr : public TForm {
public:
    // bSelect: the user chooses certificates (OK and Cancel, several rows may
    // be selected); otherwise the user only manages them (Close).
    TfrmCertificateMgr(TLSOwner* pOwner, HWND hParent, const char* pszStore, bool bSelect);

    // Reads the store again and fills the list; the rows whose thumbprints
    // are given are selected afterwards.
    bool DoFillList(const std::vector<TLSCryptCert>* pSelect = nullptr);
    // Creates a self-signed certificate for the current user and selects it.
    bool DoCreateCertificate();
    // Deletes the selected certificate after the user agreed; refuses, with
    // an explanation, to delete the last certificate that can open the key file.
    bool DoDeleteCertificate();
    // The certificates of the selected rows, in list order.
    std::vector<TLSCryptCert> SelectedCertificates() const;

    TStaticText* txtIntro;
    TListView* lstvZertifikate;
    TStaticText* txtHinweis;
    TButton* btnZertifikatNeu;
    TButton* btnLoeschen;
    TButton* btnOK;          // only when choosing
    TButton* btnAbbrechen;   // Cancel when choosing, Close when managing

private:
    void btnZertifikatNeuClick(TObject* Sender);
    void btnLoeschenClick(TObject* Sender);
    void btnOKClick(TObject* Sender);
    void lstvZertifikateSelectItem(TObject* Sender, TListItem* Item, bool Selected);
    void lstvZertifikateDblClick(TObject* Sender);
    void lstvZertifikateKeyDown(TObject* Sender, WORD& Key, TShiftState Shift);
    void DoUpdateButtons();
    // The thumbprint of the user's chosen encryption certificate, if any.
    bool GetChosenThumbprint(BYTE* pThumbprint);
    // Whether deleting the certificate would leave no certificate that opens
    // the key file; *pszReason gets the explanation when it must not be deleted.
    bool MayDelete(const TLSCryptCert& cert, std::string* pReason);

    TLSOwner* m_pOwner;
    std::string m_store;
    bool m_bSelect;
    std::vector<TLSCryptCert> m_certs;   // the rows' certificates (item data: index)
};

}  // namespace ktxdlg
