#include "ToolkitTestForm.h"

#include <algorithm>

namespace {

std::string NameOf(TObject* Sender)
{
    if (auto* c = dynamic_cast<TComponent*>(Sender)) return c->Name();
    return "?";
}

}  // namespace

HBITMAP MakeTestBitmap(int width, int height, COLORREF a, COLORREF b)
{
    HDC hScreen = GetDC(nullptr);
    HBITMAP hBmp = CreateCompatibleBitmap(hScreen, width, height);
    HDC hMem = CreateCompatibleDC(hScreen);
    HGDIOBJ hOld = SelectObject(hMem, hBmp);
    HBRUSH hA = CreateSolidBrush(a), hB = CreateSolidBrush(b);
    RECT all{0, 0, width, height};
    FillRect(hMem, &all, hA);
    for (int x = 0; x < width; x += 16) {
        RECT stripe{x, 0, std::min(x + 8, width), height};
        FillRect(hMem, &stripe, hB);
    }
    DeleteObject(hA);
    DeleteObject(hB);
    SelectObject(hMem, hOld);
    DeleteDC(hMem);
    ReleaseDC(nullptr, hScreen);
    return hBmp;
}

TfrmToolkitTest::TfrmToolkitTest(TComponent* pOwner) : TForm(pOwner, "TfrmToolkitTest")
{
    SetName("frmToolkitTest");
    SetCaption("Toolkit test form");
    SetBorderStyle(bsSizeable);
    SetClientSize(640, 400);
    Constraints().MinWidth = 500;
    Constraints().MinHeight = 300;
    SetPosition(poDesktopCenter);

    pnlTop = new TPanel(this);
    pnlTop->SetName("pnlTop");
    pnlTop->SetHeight(34);
    pnlTop->SetAlign(alTop);
    btnNeu = new TSpeedButton(pnlTop);
    btnNeu->SetName("btnNeu");
    btnNeu->SetBounds(4, 4, 90, 26);
    btnNeu->SetCaption("New entry");
    btnNeu->SetHint("Creates an entry");
    btnFlatDisabled = new TSpeedButton(pnlTop);
    btnFlatDisabled->SetName("btnFlatDisabled");
    btnFlatDisabled->SetBounds(98, 4, 90, 26);
    btnFlatDisabled->SetCaption("Disabled");
    btnFlatDisabled->SetFlat(false);
    btnFlatDisabled->SetEnabled(false);

    pnlButtons = new TPanel(this);
    pnlButtons->SetName("pnlButtons");
    pnlButtons->SetHeight(40);
    pnlButtons->SetAlign(alBottom);
    btnOk = new TButton(pnlButtons);
    btnOk->SetName("btnOk");
    btnOk->SetBounds(380, 8, 75, 25);
    btnOk->SetCaption("OK");
    btnOk->SetDefault(true);
    btnCancel = new TButton(pnlButtons);
    btnCancel->SetName("btnCancel");
    btnCancel->SetBounds(460, 8, 75, 25);
    btnCancel->SetCaption("Cancel");
    btnCancel->SetCancel(true);
    btnClose = new TButton(pnlButtons);
    btnClose->SetName("btnClose");
    btnClose->SetBounds(540, 8, 90, 25);
    btnClose->SetCaption("Close");
    btnClose->Font()->SetStyle(fsBold);
    btnClose->Font()->SetColor(clGreen);
    btnClose->SetAnchors(akRight | akBottom);

    imgPicture = new TImage(this);
    imgPicture->SetName("imgPicture");
    imgPicture->SetBounds(8, 42, 46, 200);
    imgPicture->SetStretch(true);
    imgPicture->SetBitmap(MakeTestBitmap(32, 32, RGB(0, 0, 160), RGB(255, 200, 0)));

    lblTitle = new TLabel(this);
    lblTitle->SetName("lblTitle");
    lblTitle->SetBounds(64, 42, 200, 16);
    lblTitle->SetCaption("Label over the form");
    lblTitle->Font()->SetColor(clNavy);
    lblTitle->Font()->SetStyle(fsBold);

    txtInfo = new TStaticText(this);
    txtInfo->SetName("txtInfo");
    txtInfo->SetBounds(280, 42, 160, 17);
    txtInfo->SetCaption("Static text");
    txtInfo->SetSunken(true);

    editName = new TEdit(this);
    editName->SetName("editName");
    editName->SetBounds(64, 64, 180, 21);
    editName->SetMaxLength(64);
    editName->SetHint("User name");
    editPasswort = new TEdit(this);
    editPasswort->SetName("editPasswort");
    editPasswort->SetBounds(64, 90, 180, 21);
    editPasswort->SetPasswordChar('*');
    editPasswort->SetText("secret");

    edAnzahl = new TEdit(this);
    edAnzahl->SetName("edAnzahl");
    edAnzahl->SetBounds(64, 116, 60, 21);
    edAnzahl->SetReadOnly(true);
    udAnzahl = new TUpDown(this);
    udAnzahl->SetName("udAnzahl");
    udAnzahl->SetMin(0);
    udAnzahl->SetMax(200);
    udAnzahl->SetPosition(8);
    udAnzahl->SetAssociate(edAnzahl);

    memoNote = new TMemo(this);
    memoNote->SetName("memoNote");
    memoNote->SetBounds(64, 144, 180, 70);
    memoNote->SetScrollBars(ssVertical);
    memoNote->Font()->SetName("Arial");
    memoNote->SetMaxLength(1024);
    memoNote->Lines()->Add("first line");
    memoNote->Lines()->Add("second line");

    cboxZahlen = new TCheckBox(this);
    cboxZahlen->SetName("cboxZahlen");
    cboxZahlen->SetBounds(64, 220, 120, 17);
    cboxZahlen->SetCaption("Digits");

    gboxTypen = new TGroupBox(this);
    gboxTypen->SetName("gboxTypen");
    gboxTypen->SetBounds(256, 64, 190, 80);
    gboxTypen->SetCaption("Group");
    cboxInGroup = new TCheckBox(gboxTypen);
    cboxInGroup->SetName("cboxInGroup");
    cboxInGroup->SetBounds(10, 20, 150, 17);
    cboxInGroup->SetCaption("In the group");
    cboxInGroup->SetChecked(true);

    pbGenerierung = new TProgressBar(this);
    pbGenerierung->SetName("pbGenerierung");
    pbGenerierung->SetBounds(256, 150, 190, 16);
    pbGenerierung->SetSmooth(true);
    pbGenerierung->SetMax(20);
    pbGenerierung->SetPosition(12);
    pbSicherheit = new TProgressBar(this);
    pbSicherheit->SetName("pbSicherheit");
    pbSicherheit->SetBounds(452, 64, 18, 150);
    pbSicherheit->SetOrientation(pbVertical);
    pbSicherheit->SetSmooth(true);
    pbSicherheit->SetMax(1880);
    pbSicherheit->SetPosition(752);

    lstvNamen = new TListView(this);
    lstvNamen->SetName("lstvNamen");
    lstvNamen->SetBounds(480, 42, 150, 270);
    lstvNamen->SetAnchors(akLeft | akTop | akRight | akBottom);
    TListColumn* col = lstvNamen->AddColumn("Entries", 100);
    col->SetAlignment(taCenter);
    col->SetAutoSize(true);
    lstvNamen->SetSortType(stText);
    lstvNamen->SetHideSelection(false);
    for (const char* name : {"delta", "Alpha", "charlie", "Bravo"}) lstvNamen->Items()->Add(name);

    pmListe = new TPopupMenu(this);
    pmListe->SetName("pmListe");
    pumNeu = pmListe->AddItem("&New");
    pumNeu->SetName("pumNeu");
    pumHidden = pmListe->AddItem("Hidden");
    pumHidden->SetName("pumHidden");
    pumHidden->SetVisible(false);
    pumSep1 = pmListe->AddItem("-");
    pumSep2 = pmListe->AddItem("-");
    pumLoeschen = pmListe->AddItem("&Delete");
    pumLoeschen->SetName("pumLoeschen");
    pumLoeschen->SetEnabled(false);
    lstvNamen->SetPopupMenu(pmListe);

    tmrTest = new TTimer(this);
    tmrTest->SetName("tmrTest");
    tmrTest->SetEnabled(false);
    tmrTest->SetInterval(50);

    // Every event goes to the log.
    btnNeu->OnClick = [this](TObject* s) { Note(s, "Click"); };
    btnOk->OnClick = [this](TObject* s) { Note(s, "Click"); };
    btnCancel->OnClick = [this](TObject* s) { Note(s, "Click"); };
    btnClose->OnClick = [this](TObject* s) { Note(s, "Click"); };
    editName->OnChange = [this](TObject* s) { Note(s, "Change"); };
    editName->OnEnter = [this](TObject* s) { Note(s, "Enter"); };
    editName->OnExit = [this](TObject* s) { Note(s, "Exit"); };
    editPasswort->OnEnter = [this](TObject* s) { Note(s, "Enter"); };
    editPasswort->OnExit = [this](TObject* s) { Note(s, "Exit"); };
    memoNote->OnChange = [this](TObject* s) { Note(s, "Change"); };
    auto mouseName = [](TMouseButton b) { return b == mbLeft ? "left" : (b == mbRight ? "right" : "middle"); };
    auto shiftText = [](TShiftState s) {
        std::string t;
        if (s.Contains(ssLeft)) t += "L";
        if (s.Contains(ssRight)) t += "R";
        if (s.Contains(ssMiddle)) t += "M";
        if (s.Contains(ssShift)) t += "S";
        if (s.Contains(ssCtrl)) t += "C";
        return t;
    };
    editName->OnMouseDown = [=](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
        Note(s, "MouseDown", std::string(mouseName(b)) + "," + shiftText(sh) + "," + std::to_string(x) + "," +
                                 std::to_string(y));
    };
    editName->OnMouseMove = [=](TObject* s, TShiftState sh, int x, int y) {
        Note(s, "MouseMove", shiftText(sh) + "," + std::to_string(x) + "," + std::to_string(y));
    };
    editName->OnMouseUp = [=](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
        Note(s, "MouseUp", std::string(mouseName(b)) + "," + shiftText(sh) + "," + std::to_string(x) + "," +
                               std::to_string(y));
    };
    imgPicture->OnMouseMove = [=](TObject* s, TShiftState sh, int x, int y) {
        Note(s, "MouseMove", shiftText(sh) + "," + std::to_string(x) + "," + std::to_string(y));
    };
    imgPicture->OnClick = [this](TObject* s) { Note(s, "Click"); };
    cboxZahlen->OnClick = [this](TObject* s) {
        Note(s, "Click", static_cast<TCheckBox*>(s)->Checked() ? "checked" : "unchecked");
    };
    udAnzahl->OnClick = [this](TObject* s, TUDBtnType b) {
        Note(s, "Click", (b == btNext ? "next," : "prev,") + std::to_string(static_cast<TUpDown*>(s)->Position()));
    };
    lstvNamen->OnSelectItem = [this](TObject* s, TListItem* item, bool selected) {
        Note(s, "SelectItem", item->Caption() + (selected ? ",1" : ",0"));
    };
    lstvNamen->OnEdited = [this](TObject* s, TListItem* item, std::string& caption) {
        Note(s, "Edited", item->Caption() + "->" + caption);
    };
    pumNeu->OnClick = [this](TObject* s) { Note(s, "Click"); };
    pumLoeschen->OnClick = [this](TObject* s) { Note(s, "Click"); };
    tmrTest->OnTimer = [this](TObject* s) { Note(s, "Timer"); };
    OnShow = [this](TObject* s) { Note(s, "Show"); };
    OnResize = [this](TObject* s) { Note(s, "Resize"); };
    OnClose = [this](TObject* s, TCloseAction&) { Note(s, "Close"); };
}

void TfrmToolkitTest::Note(TObject* Sender, const std::string& event, const std::string& detail)
{
    std::string entry = NameOf(Sender) + "." + event;
    if (!detail.empty()) entry += ":" + detail;
    log.push_back(entry);
}

int TfrmToolkitTest::Count(const std::string& entry) const
{
    return static_cast<int>(std::count(log.begin(), log.end(), entry));
}
