#include "TkListView.h"

#include <commctrl.h>

#include <algorithm>

#include "TkInternal.h"

namespace {

bool SameTextIgnoreCase(const std::string& a, const std::string& b, bool bPartial)
{
    if (bPartial) {
        if (b.size() > a.size()) return false;
        return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(b.size()), b.c_str(),
                              static_cast<int>(b.size())) == CSTR_EQUAL;
    }
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

int CALLBACK CompareCaptions(LPARAM l1, LPARAM l2, LPARAM)
{
    auto* a = reinterpret_cast<TListItem*>(l1);
    auto* b = reinterpret_cast<TListItem*>(l2);
    if (!a || !b) return 0;
    std::string ca = a->Caption(), cb = b->Caption();
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, ca.c_str(), -1, cb.c_str(), -1) - CSTR_EQUAL;
}

// The in-place editor of a caption wants every key: Enter confirms and Escape
// cancels the edit there, and neither reaches the form's default or cancel
// button. Not every comctl32 has its editor say so itself.
LRESULT CALLBACK CaptionEditorProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                   DWORD_PTR)
{
    if (uMsg == WM_GETDLGCODE) return DefSubclassProc(hWnd, uMsg, wParam, lParam) | DLGC_WANTALLKEYS;
    if (uMsg == WM_NCDESTROY) RemoveWindowSubclass(hWnd, &CaptionEditorProc, uIdSubclass);
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

}  // namespace

// ---------------------------------------------------------------------------
// TListItem
// ---------------------------------------------------------------------------

int TListItem::Index() const
{
    return m_pListView ? m_pListView->IndexOf(this) : -1;
}

void TListItem::SetCaption(const std::string& caption)
{
    m_caption = caption;
    if (m_pListView) m_pListView->ItemCaptionChanged(this);
}

std::string TListItem::SubItem(int index) const
{
    if (index < 0 || index >= SubItemCount()) return std::string();
    return m_subItems[static_cast<size_t>(index)];
}

void TListItem::SetSubItem(int index, const std::string& text)
{
    if (index < 0) return;
    if (index >= SubItemCount()) m_subItems.resize(static_cast<size_t>(index) + 1);
    m_subItems[static_cast<size_t>(index)] = text;
    if (m_pListView) m_pListView->ItemSubItemChanged(this, index);
}

bool TListItem::Selected() const
{
    int i = Index();
    if (i < 0) return false;
    return (SendMessageA(m_pListView->Handle(), LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_SELECTED) &
            LVIS_SELECTED) != 0;
}

void TListItem::SetSelected(bool bSelected)
{
    int i = Index();
    if (i < 0) return;
    HWND hList = m_pListView->Handle();
    if (bSelected && !m_pListView->MultiSelect()) {
        // The item losing the selection first, then the item gaining it.
        for (TListItem* pOld = m_pListView->Selected(); pOld && pOld != this; pOld = m_pListView->Selected()) {
            int j = pOld->Index();
            LVITEMA lvi{};
            lvi.stateMask = LVIS_SELECTED;
            lvi.state = 0;
            SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(j), reinterpret_cast<LPARAM>(&lvi));
            if (pOld->Selected()) break;   // refused; do not loop
        }
        i = Index();
        if (i < 0) return;
    }
    LVITEMA lvi{};
    lvi.stateMask = LVIS_SELECTED | (bSelected ? LVIS_FOCUSED : 0);
    lvi.state = bSelected ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
    SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&lvi));
    if (bSelected) SendMessageA(hList, LVM_SETSELECTIONMARK, 0, static_cast<LPARAM>(i));
}

bool TListItem::Focused() const
{
    int i = Index();
    if (i < 0) return false;
    return (SendMessageA(m_pListView->Handle(), LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_FOCUSED) &
            LVIS_FOCUSED) != 0;
}

void TListItem::SetFocused(bool bFocused)
{
    int i = Index();
    if (i < 0) return;
    LVITEMA lvi{};
    lvi.stateMask = LVIS_FOCUSED;
    lvi.state = bFocused ? LVIS_FOCUSED : 0;
    SendMessageA(m_pListView->Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&lvi));
}

bool TListItem::Checked() const
{
    int i = Index();
    if (i < 0) return false;
    LRESULT state = SendMessageA(m_pListView->Handle(), LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK);
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void TListItem::SetChecked(bool bChecked)
{
    int i = Index();
    if (i < 0) return;
    LVITEMA lvi{};
    lvi.stateMask = LVIS_STATEIMAGEMASK;
    lvi.state = INDEXTOSTATEIMAGEMASK(bChecked ? 2 : 1);
    SendMessageA(m_pListView->Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&lvi));
}

void TListItem::MakeVisible(bool bPartialOK)
{
    int i = Index();
    if (i >= 0) SendMessageA(m_pListView->Handle(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(i), bPartialOK ? TRUE : FALSE);
}

bool TListItem::EditCaption()
{
    int i = Index();
    if (i < 0 || m_pListView->ReadOnly()) return false;
    HWND hList = m_pListView->Handle();
    ::SetFocus(hList);
    return SendMessageA(hList, LVM_EDITLABELA, static_cast<WPARAM>(i), 0) != 0;
}

void TListItem::Delete()
{
    int i = Index();
    if (i >= 0) SendMessageA(m_pListView->Handle(), LVM_DELETEITEM, static_cast<WPARAM>(i), 0);
}

// ---------------------------------------------------------------------------
// TListItems
// ---------------------------------------------------------------------------

int TListItems::Count() const
{
    HWND h = m_pListView->Handle();
    return h ? static_cast<int>(SendMessageA(h, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

TListItem* TListItems::Item(int index) const
{
    HWND h = m_pListView->Handle();
    if (!h || index < 0) return nullptr;
    LVITEMA lvi{};
    lvi.mask = LVIF_PARAM;
    lvi.iItem = index;
    if (!SendMessageA(h, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lvi))) return nullptr;
    return reinterpret_cast<TListItem*>(lvi.lParam);
}

TListItem* TListItems::Add(const std::string& caption)
{
    HWND h = m_pListView->Handle();
    if (!h) return nullptr;
    std::unique_ptr<TListItem> pItem(new TListItem(m_pListView));
    pItem->m_caption = caption;
    LVITEMA lvi{};
    lvi.mask = LVIF_TEXT | LVIF_PARAM;
    lvi.iItem = Count();
    if (m_pListView->m_sortType == stText) {
        // Binary search for the caption's place (letter case ignored).
        int lo = 0, hi = lvi.iItem;
        while (lo < hi) {
            int mid = (lo + hi) / 2;
            TListItem* pMid = Item(mid);
            std::string c = pMid ? pMid->m_caption : std::string();
            if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, c.c_str(), -1, caption.c_str(), -1) == CSTR_GREATER_THAN) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        lvi.iItem = lo;
    }
    lvi.pszText = const_cast<char*>(pItem->m_caption.c_str());
    lvi.lParam = reinterpret_cast<LPARAM>(pItem.get());
    TListItem* pRaw = pItem.get();
    m_pListView->m_owned.push_back(std::move(pItem));
    if (SendMessageA(h, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lvi)) < 0) {
        m_pListView->ForgetItem(pRaw);
        throw ETkError::FromSystem("LVM_INSERTITEM");
    }
    return pRaw;
}

void TListItems::Delete(int index)
{
    HWND h = m_pListView->Handle();
    if (h && index >= 0) SendMessageA(h, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
}

void TListItems::Clear()
{
    HWND h = m_pListView->Handle();
    if (h) SendMessageA(h, LVM_DELETEALLITEMS, 0, 0);
}

void TListItems::BeginUpdate()
{
    if (m_updateCount++ == 0 && m_pListView->Handle()) SendMessageA(m_pListView->Handle(), WM_SETREDRAW, FALSE, 0);
}

void TListItems::EndUpdate()
{
    if (m_updateCount > 0 && --m_updateCount == 0 && m_pListView->Handle()) {
        SendMessageA(m_pListView->Handle(), WM_SETREDRAW, TRUE, 0);
        InvalidateRect(m_pListView->Handle(), nullptr, TRUE);
    }
}

// ---------------------------------------------------------------------------
// TListColumn
// ---------------------------------------------------------------------------

void TListColumn::SetCaption(const std::string& caption)
{
    m_caption = caption;
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT;
    col.pszText = const_cast<char*>(m_caption.c_str());
    SendMessageA(m_pListView->Handle(), LVM_SETCOLUMNA, static_cast<WPARAM>(m_index), reinterpret_cast<LPARAM>(&col));
}

int TListColumn::Width() const
{
    return static_cast<int>(SendMessageA(m_pListView->Handle(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(m_index), 0));
}

void TListColumn::SetWidth(int width)
{
    SendMessageA(m_pListView->Handle(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(m_index), MAKELPARAM(width, 0));
}

void TListColumn::SetAlignment(TAlignment alignment)
{
    m_alignment = alignment;
    LVCOLUMNA col{};
    col.mask = LVCF_FMT;
    col.fmt = alignment == taCenter ? LVCFMT_CENTER : (alignment == taRightJustify ? LVCFMT_RIGHT : LVCFMT_LEFT);
    SendMessageA(m_pListView->Handle(), LVM_SETCOLUMNA, static_cast<WPARAM>(m_index), reinterpret_cast<LPARAM>(&col));
}

void TListColumn::SetAutoSize(bool bAutoSize)
{
    m_bAutoSize = bAutoSize;
    m_pListView->FitAutoSizeColumns();
}

// ---------------------------------------------------------------------------
// TListView
// ---------------------------------------------------------------------------

TListView::TListView(TWinControl* pParent) : TWinControl(pParent, pParent)
{
    m_color = clWindow;
    m_bParentColor = false;
    CreateHandle(WC_LISTVIEWA, LVS_REPORT | LVS_SINGLESEL | LVS_EDITLABELS | WS_TABSTOP, WS_EX_CLIENTEDGE, 0, 0, 250,
                 150);
    SendMessageA(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_DOUBLEBUFFER, LVS_EX_DOUBLEBUFFER);
}

TListView::~TListView()
{
    // The items go with the window; their objects are freed below.
    BeginDestruction();
    DestroyHandle();
    m_owned.clear();
}

TListColumn* TListView::AddColumn(const std::string& caption, int width)
{
    int index = ColumnCount();
    std::unique_ptr<TListColumn> pCol(new TListColumn(this, index));
    pCol->m_caption = caption;
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    col.fmt = LVCFMT_LEFT;
    col.cx = width;
    col.pszText = const_cast<char*>(pCol->m_caption.c_str());
    SendMessageA(m_hWnd, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&col));
    m_columns.push_back(std::move(pCol));
    return m_columns.back().get();
}

TListColumn* TListView::Column(int index) const
{
    if (index < 0 || index >= ColumnCount()) return nullptr;
    return m_columns[static_cast<size_t>(index)].get();
}

void TListView::FitAutoSizeColumns()
{
    if (!m_hWnd) return;
    int fixed = 0, autos = 0;
    for (auto& c : m_columns) {
        if (c->m_bAutoSize) {
            ++autos;
        } else {
            fixed += c->Width();
        }
    }
    if (!autos) return;
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    int free = std::max(20, static_cast<int>(rc.right) - fixed);
    int each = free / autos;
    for (auto& c : m_columns) {
        if (c->m_bAutoSize) c->SetWidth(each);
    }
}

void TListView::ApplyStyle(DWORD dwStyle, bool bSet)
{
    if (!m_hWnd) return;
    LONG_PTR style = GetWindowLongPtrA(m_hWnd, GWL_STYLE);
    style = bSet ? (style | static_cast<LONG_PTR>(dwStyle)) : (style & ~static_cast<LONG_PTR>(dwStyle));
    SetWindowLongPtrA(m_hWnd, GWL_STYLE, style);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void TListView::ApplyExStyle(DWORD dwExStyle, bool bSet)
{
    if (m_hWnd) SendMessageA(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, dwExStyle, bSet ? dwExStyle : 0);
}

void TListView::SetShowColumnHeaders(bool bShow) { ApplyStyle(LVS_NOCOLUMNHEADER, !bShow); }

void TListView::SetSortType(TSortType sortType)
{
    m_sortType = sortType;
    if (sortType == stText) AlphaSort();
}

void TListView::AlphaSort()
{
    if (m_hWnd) SendMessageA(m_hWnd, LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(&CompareCaptions));
}

void TListView::SetHideSelection(bool bHide)
{
    m_bHideSelection = bHide;
    ApplyStyle(LVS_SHOWSELALWAYS, !bHide);
}

void TListView::SetReadOnly(bool bReadOnly)
{
    m_bReadOnly = bReadOnly;
    ApplyStyle(LVS_EDITLABELS, !bReadOnly);
}

void TListView::SetMultiSelect(bool bMulti)
{
    m_bMultiSelect = bMulti;
    ApplyStyle(LVS_SINGLESEL, !bMulti);
}

void TListView::SetRowSelect(bool bRowSelect)
{
    m_bRowSelect = bRowSelect;
    ApplyExStyle(LVS_EX_FULLROWSELECT, bRowSelect);
}

void TListView::SetCheckboxes(bool bCheckboxes)
{
    m_bCheckboxes = bCheckboxes;
    ApplyExStyle(LVS_EX_CHECKBOXES, bCheckboxes);
}

void TListView::SetGridLines(bool bGridLines) { ApplyExStyle(LVS_EX_GRIDLINES, bGridLines); }

int TListView::IndexOf(const TListItem* pItem) const
{
    if (!m_hWnd || !pItem) return -1;
    LVFINDINFOA fi{};
    fi.flags = LVFI_PARAM;
    fi.lParam = reinterpret_cast<LPARAM>(pItem);
    return static_cast<int>(SendMessageA(m_hWnd, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&fi)));
}

TListItem* TListView::ItemFromLParam(LPARAM lParam) const
{
    auto* p = reinterpret_cast<TListItem*>(lParam);
    for (auto& owned : m_owned) {
        if (owned.get() == p) return p;
    }
    return nullptr;
}

void TListView::ItemCaptionChanged(TListItem* pItem)
{
    int i = IndexOf(pItem);
    if (i < 0) return;
    LVITEMA lvi{};
    lvi.iSubItem = 0;
    lvi.pszText = const_cast<char*>(pItem->m_caption.c_str());
    SendMessageA(m_hWnd, LVM_SETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&lvi));
    if (m_sortType == stText) AlphaSort();
}

void TListView::ItemSubItemChanged(TListItem* pItem, int subIndex)
{
    int i = IndexOf(pItem);
    if (i < 0) return;
    LVITEMA lvi{};
    lvi.iSubItem = subIndex + 1;
    lvi.pszText = const_cast<char*>(pItem->m_subItems[static_cast<size_t>(subIndex)].c_str());
    SendMessageA(m_hWnd, LVM_SETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&lvi));
}

void TListView::ForgetItem(TListItem* pItem)
{
    auto it = std::find_if(m_owned.begin(), m_owned.end(), [pItem](const auto& p) { return p.get() == pItem; });
    if (it != m_owned.end()) {
        (*it)->m_pListView = nullptr;
        m_owned.erase(it);
    }
}

TListItem* TListView::Selected() const
{
    if (!m_hWnd) return nullptr;
    int i = static_cast<int>(SendMessageA(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return i >= 0 ? m_items.Item(i) : nullptr;
}

void TListView::SetSelected(TListItem* pItem)
{
    if (pItem) {
        pItem->SetSelected(true);
        return;
    }
    for (TListItem* p = Selected(); p; p = Selected()) {
        p->SetSelected(false);
        if (p->Selected()) break;
    }
}

int TListView::SelCount() const
{
    return m_hWnd ? static_cast<int>(SendMessageA(m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0)) : 0;
}

TListItem* TListView::NextSelected(TListItem* pStart) const
{
    if (!m_hWnd) return nullptr;
    int from = pStart ? IndexOf(pStart) : -1;
    int i = static_cast<int>(SendMessageA(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(from), LVNI_SELECTED));
    return i >= 0 ? m_items.Item(i) : nullptr;
}

TListItem* TListView::ItemFocused() const
{
    if (!m_hWnd) return nullptr;
    int i = static_cast<int>(SendMessageA(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    return i >= 0 ? m_items.Item(i) : nullptr;
}

TListItem* TListView::ItemAt(int x, int y) const
{
    if (!m_hWnd) return nullptr;
    LVHITTESTINFO hti{};
    hti.pt = POINT{x, y};
    int i = static_cast<int>(SendMessageA(m_hWnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hti)));
    return (i >= 0 && (hti.flags & LVHT_ONITEM)) ? m_items.Item(i) : nullptr;
}

TListItem* TListView::TopItem() const
{
    if (!m_hWnd) return nullptr;
    int i = static_cast<int>(SendMessageA(m_hWnd, LVM_GETTOPINDEX, 0, 0));
    return m_items.Item(i);
}

TListItem* TListView::FindCaption(int startIndex, const std::string& value, bool bPartial, bool bInclusive,
                                  bool bWrap) const
{
    int count = m_items.Count();
    if (count <= 0) return nullptr;
    int first = std::max(0, bInclusive ? startIndex : startIndex + 1);
    for (int i = first; i < count; ++i) {
        TListItem* p = m_items.Item(i);
        if (p && SameTextIgnoreCase(p->m_caption, value, bPartial)) return p;
    }
    if (bWrap) {
        for (int i = 0; i < std::min(first, count); ++i) {
            TListItem* p = m_items.Item(i);
            if (p && SameTextIgnoreCase(p->m_caption, value, bPartial)) return p;
        }
    }
    return nullptr;
}

bool TListView::IsEditing() const
{
    return m_hWnd && SendMessageA(m_hWnd, LVM_GETEDITCONTROL, 0, 0) != 0;
}

bool TListView::OnNotify(NMHDR* pHdr, LRESULT& lResult)
{
    switch (pHdr->code) {
    case LVN_ITEMCHANGED: {
        auto* nm = reinterpret_cast<NMLISTVIEW*>(pHdr);
        lResult = 0;
        if (nm->iItem < 0 || !(nm->uChanged & LVIF_STATE)) return true;
        TListItem* pItem = ItemFromLParam(nm->lParam);
        if (!pItem) pItem = m_items.Item(nm->iItem);
        if (!pItem || !CanFire()) return true;
        if ((nm->uOldState ^ nm->uNewState) & LVIS_SELECTED) {
            bool bSelected = (nm->uNewState & LVIS_SELECTED) != 0;
            if (OnSelectItem) OnSelectItem(this, pItem, bSelected);
            if (OnChange && CanFire()) OnChange(this);
        }
        if (((nm->uOldState ^ nm->uNewState) & LVIS_STATEIMAGEMASK) && (nm->uOldState & LVIS_STATEIMAGEMASK)) {
            if (OnItemChecked && CanFire()) OnItemChecked(this, pItem);
        }
        return true;
    }
    case LVN_DELETEITEM: {
        auto* nm = reinterpret_cast<NMLISTVIEW*>(pHdr);
        TListItem* pItem = ItemFromLParam(nm->lParam);
        if (pItem) {
            if (OnDeletion && CanFire()) OnDeletion(this, pItem);
            ForgetItem(pItem);
        }
        lResult = 0;
        return true;
    }
    case LVN_DELETEALLITEMS:
        lResult = FALSE;   // one LVN_DELETEITEM per row, so every object is freed
        return true;
    case LVN_BEGINLABELEDITA:
    case LVN_BEGINLABELEDITW: {
        auto* nm = reinterpret_cast<NMLVDISPINFOA*>(pHdr);
        TListItem* pItem = ItemFromLParam(nm->item.lParam);
        if (!pItem) pItem = m_items.Item(nm->item.iItem);
        bool bAllow = !m_bReadOnly && pItem != nullptr;
        if (bAllow && OnEditing && CanFire()) OnEditing(this, pItem, bAllow);
        if (bAllow) {
            HWND hEditor = reinterpret_cast<HWND>(SendMessageA(m_hWnd, LVM_GETEDITCONTROL, 0, 0));
            if (hEditor) SetWindowSubclass(hEditor, &CaptionEditorProc, 1, 0);
        }
        lResult = bAllow ? FALSE : TRUE;
        return true;
    }
    case LVN_ENDLABELEDITA:
    case LVN_ENDLABELEDITW: {
        lResult = FALSE;   // the row takes the final caption from us, never the raw text
        std::string text;
        bool bHasText = false;
        int iItem = -1;
        LPARAM lParam = 0;
        if (pHdr->code == LVN_ENDLABELEDITA) {
            auto* nm = reinterpret_cast<NMLVDISPINFOA*>(pHdr);
            iItem = nm->item.iItem;
            lParam = nm->item.lParam;
            if (nm->item.pszText) {
                bHasText = true;
                text = nm->item.pszText;
            }
        } else {
            auto* nm = reinterpret_cast<NMLVDISPINFOW*>(pHdr);
            iItem = nm->item.iItem;
            lParam = nm->item.lParam;
            if (nm->item.pszText) {
                bHasText = true;
                int n = WideCharToMultiByte(CP_ACP, 0, nm->item.pszText, -1, nullptr, 0, nullptr, nullptr);
                if (n > 0) {
                    std::string buf(static_cast<size_t>(n), '\0');
                    WideCharToMultiByte(CP_ACP, 0, nm->item.pszText, -1, &buf[0], n, nullptr, nullptr);
                    text.assign(buf.c_str());
                }
            }
        }
        if (!bHasText) return true;   // cancelled (Escape)
        TListItem* pItem = ItemFromLParam(lParam);
        if (!pItem) pItem = m_items.Item(iItem);
        if (!pItem || !CanFire()) return true;
        if (OnEdited) OnEdited(this, pItem, text);
        if (m_hWnd && ItemFromLParam(reinterpret_cast<LPARAM>(pItem))) pItem->SetCaption(text);
        return true;
    }
    case NM_DBLCLK:
        if (OnDblClick && CanFire()) OnDblClick(this);
        lResult = 0;
        return true;
    case NM_CLICK:
        if (OnClick && CanFire()) OnClick(this);
        lResult = 0;
        return true;
    default:
        return false;
    }
}

LRESULT TListView::WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_SIZE) {
        LRESULT r = TWinControl::WndProc(uMsg, wParam, lParam);
        FitAutoSizeColumns();
        return r;
    }
    return TWinControl::WndProc(uMsg, wParam, lParam);
}
