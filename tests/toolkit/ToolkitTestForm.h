// A test form with every control of the toolkit, recording its events.
#pragma once

#include <string>
#include <vector>

#include "Toolkit.h"

class TfrmToolkitTest : public TForm {
public:
    explicit TfrmToolkitTest(TComponent* pOwner);

    TPanel* pnlTop;
    TSpeedButton* btnNeu;
    TSpeedButton* btnFlatDisabled;
    TPanel* pnlButtons;
    TButton* btnOk;
    TButton* btnCancel;
    TButton* btnClose;
    TImage* imgPicture;
    TLabel* lblTitle;
    TStaticText* txtInfo;
    TEdit* editName;
    TEdit* editPasswort;
    TEdit* edAnzahl;
    TUpDown* udAnzahl;
    TMemo* memoNote;
    TCheckBox* cboxZahlen;
    TGroupBox* gboxTypen;
    TCheckBox* cboxInGroup;
    TProgressBar* pbGenerierung;
    TProgressBar* pbSicherheit;
    TListView* lstvNamen;
    TPopupMenu* pmListe;
    TMenuItem* pumNeu;
    TMenuItem* pumHidden;
    TMenuItem* pumSep1;
    TMenuItem* pumSep2;
    TMenuItem* pumLoeschen;
    TTimer* tmrTest;

    // Every event in order, as "component.event[:detail]".
    std::vector<std::string> log;
    int Count(const std::string& entry) const;
    void ClearLog() { log.clear(); }

private:
    void Note(TObject* Sender, const std::string& event, const std::string& detail = std::string());
};

// A 2-colour bitmap of the given size (owned by the caller).
HBITMAP MakeTestBitmap(int width, int height, COLORREF a, COLORREF b);
