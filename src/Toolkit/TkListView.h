// The list view in report style: items with a caption (first column) and
// sub-items, sorted by caption if wanted, single or multiple selection,
// in-place editing of captions, optional check boxes.
#pragma once

#include <memory>

#include "TkStdCtrls.h"

class TListView;
class TListItems;

// One row. The object lives until the row is deleted (or the list
// destroyed); pointers to it stay valid while the list re-sorts.
class TListItem : public TObject {
public:
    TListView* Owner() const { return m_pListView; }
    // The row's current position in the list, or -1 once deleted.
    int Index() const;

    std::string Caption() const { return m_caption; }
    void SetCaption(const std::string& caption);
    // Text of column column + 1 (sub-item 0 is the second column).
    std::string SubItem(int index) const;
    void SetSubItem(int index, const std::string& text);
    int SubItemCount() const { return static_cast<int>(m_subItems.size()); }

    bool Selected() const;
    // Selecting in a single-selection list deselects the selected item first,
    // so OnSelectItem runs for the item losing, then for the item gaining.
    void SetSelected(bool bSelected);
    bool Focused() const;
    void SetFocused(bool bFocused);
    // The check box of the row (lists with Checkboxes).
    bool Checked() const;
    void SetChecked(bool bChecked);

    // Scrolls the list so the row is visible.
    void MakeVisible(bool bPartialOK = false);
    // Starts in-place editing of the caption (focuses the list).
    bool EditCaption();
    // Deletes the row (and this object).
    void Delete();

    // A pointer for the list's user (not owned).
    void* Data() const { return m_pData; }
    void SetData(void* pData) { m_pData = pData; }

private:
    friend class TListView;
    friend class TListItems;
    explicit TListItem(TListView* pListView) : m_pListView(pListView) {}

    TListView* m_pListView;
    std::string m_caption;
    std::vector<std::string> m_subItems;
    void* m_pData = nullptr;
};

// The rows of a list view.
class TListItems {
public:
    int Count() const;
    TListItem* Item(int index) const;
    TListItem* operator[](int index) const { return Item(index); }
    // Adds a row (in a sorted list it lands in caption order).
    TListItem* Add(const std::string& caption = std::string());
    void Delete(int index);
    void Clear();
    void BeginUpdate();
    void EndUpdate();

private:
    friend class TListView;
    explicit TListItems(TListView* pListView) : m_pListView(pListView) {}
    TListView* m_pListView;
    int m_updateCount = 0;
};

// A column of a report-style list.
class TListColumn {
public:
    std::string Caption() const { return m_caption; }
    void SetCaption(const std::string& caption);
    int Width() const;
    void SetWidth(int width);
    void SetAlignment(TAlignment alignment);
    // The column fills the list's width (the last auto-sized column takes the rest).
    bool AutoSize() const { return m_bAutoSize; }
    void SetAutoSize(bool bAutoSize);

private:
    friend class TListView;
    TListColumn(TListView* pListView, int index) : m_pListView(pListView), m_index(index) {}
    TListView* m_pListView;
    int m_index;
    std::string m_caption;
    TAlignment m_alignment = taLeftJustify;
    bool m_bAutoSize = false;
};

enum TSortType { stNone, stText };

typedef std::function<void(TObject* Sender, TListItem* Item, bool Selected)> TLVSelectItemEvent;
// Caption may be changed by the handler: the row keeps the final Caption.
typedef std::function<void(TObject* Sender, TListItem* Item, std::string& Caption)> TLVEditedEvent;
typedef std::function<void(TObject* Sender, TListItem* Item, bool& AllowEdit)> TLVEditingEvent;
typedef std::function<void(TObject* Sender, TListItem* Item)> TLVItemEvent;

class TListView : public TWinControl {
public:
    explicit TListView(TWinControl* pParent);
    ~TListView() override;

    TListItems* Items() { return &m_items; }
    const TListItems* Items() const { return &m_items; }

    // Columns (report style). Add them before items with sub-items.
    TListColumn* AddColumn(const std::string& caption, int width = 100);
    int ColumnCount() const { return static_cast<int>(m_columns.size()); }
    TListColumn* Column(int index) const;
    void SetShowColumnHeaders(bool bShow);

    // stText keeps the rows sorted by caption (letter case ignored).
    TSortType SortType() const { return m_sortType; }
    void SetSortType(TSortType sortType);
    // Sorts by caption now.
    void AlphaSort();
    // false keeps the selection visible while the list has no focus.
    bool HideSelection() const { return m_bHideSelection; }
    void SetHideSelection(bool bHide);
    // true forbids in-place editing of captions.
    bool ReadOnly() const { return m_bReadOnly; }
    void SetReadOnly(bool bReadOnly);
    bool MultiSelect() const { return m_bMultiSelect; }
    void SetMultiSelect(bool bMulti);
    bool RowSelect() const { return m_bRowSelect; }
    void SetRowSelect(bool bRowSelect);
    bool Checkboxes() const { return m_bCheckboxes; }
    void SetCheckboxes(bool bCheckboxes);
    void SetGridLines(bool bGridLines);

    // The selected row (the first one in a multi-selection), or null.
    TListItem* Selected() const;
    // Selects the row (null deselects everything).
    void SetSelected(TListItem* pItem);
    int SelCount() const;
    // The next selected row after pStart (null: from the top), or null.
    TListItem* NextSelected(TListItem* pStart) const;
    TListItem* ItemFocused() const;
    TListItem* ItemAt(int x, int y) const;
    TListItem* TopItem() const;

    // The first row from startIndex on whose caption equals value (letter
    // case ignored; bPartial: begins with value). bInclusive includes
    // startIndex itself; bWrap continues at the top.
    TListItem* FindCaption(int startIndex, const std::string& value, bool bPartial = false,
                           bool bInclusive = true, bool bWrap = false) const;

    // In-place editing of a caption is running.
    bool IsEditing() const;

    // Runs for the item losing (Selected false) and the item gaining the
    // selection (Selected true), in that order, once per change.
    TLVSelectItemEvent OnSelectItem;
    TLVEditingEvent OnEditing;
    TLVEditedEvent OnEdited;
    TLVItemEvent OnDeletion;
    // A row's check box changed (lists with Checkboxes).
    TLVItemEvent OnItemChecked;
    TNotifyEvent OnChange;

protected:
    bool OnNotify(NMHDR* pHdr, LRESULT& lResult) override;
    LRESULT WndProc(UINT uMsg, WPARAM wParam, LPARAM lParam) override;

private:
    friend class TListItem;
    friend class TListItems;
    friend class TListColumn;

    int IndexOf(const TListItem* pItem) const;
    TListItem* ItemFromLParam(LPARAM lParam) const;
    void ItemCaptionChanged(TListItem* pItem);
    void ItemSubItemChanged(TListItem* pItem, int subIndex);
    void ApplyStyle(DWORD dwStyle, bool bSet);
    void ApplyExStyle(DWORD dwExStyle, bool bSet);
    void FitAutoSizeColumns();
    void ForgetItem(TListItem* pItem);

    TListItems m_items{this};
    std::vector<std::unique_ptr<TListItem>> m_owned;
    std::vector<std::unique_ptr<TListColumn>> m_columns;
    TSortType m_sortType = stNone;
    bool m_bHideSelection = true;
    bool m_bReadOnly = false;
    bool m_bMultiSelect = false;
    bool m_bRowSelect = false;
    bool m_bCheckboxes = false;
    bool m_bInsideSelect = false;
};
