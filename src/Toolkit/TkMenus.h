// Popup menus: a tree of menu items with captions, separators ("-"),
// visibility, enabled state, check marks and OnClick.
#pragma once

#include "TkControls.h"

// One entry of a menu. A caption of "-" makes a separator. Items are
// components: owned by whoever created them (usually the form); adding an
// item to a menu only links it in.
class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* pOwner);
    ~TMenuItem() override;

    const std::string& Caption() const { return m_caption; }
    void SetCaption(const std::string& caption) { m_caption = caption; }
    bool IsSeparator() const { return m_caption == "-"; }
    bool Visible() const { return m_bVisible; }
    void SetVisible(bool bVisible) { m_bVisible = bVisible; }
    bool Enabled() const { return m_bEnabled; }
    void SetEnabled(bool bEnabled) { m_bEnabled = bEnabled; }
    bool Checked() const { return m_bChecked; }
    void SetChecked(bool bChecked) { m_bChecked = bChecked; }
    bool Default() const { return m_bDefault; }
    void SetDefault(bool bDefault) { m_bDefault = bDefault; }

    // Sub-items, in menu order.
    void Add(TMenuItem* pItem);
    void Insert(int index, TMenuItem* pItem);
    void Remove(TMenuItem* pItem);
    int Count() const { return static_cast<int>(m_items.size()); }
    TMenuItem* Item(int index) const;
    TMenuItem* Parent() const { return m_pParentItem; }

    // Runs OnClick when the item is enabled (as choosing it does).
    void Click();
    TNotifyEvent OnClick;

private:
    friend class TPopupMenu;
    std::string m_caption;
    bool m_bVisible = true;
    bool m_bEnabled = true;
    bool m_bChecked = false;
    bool m_bDefault = false;
    std::vector<TMenuItem*> m_items;
    TMenuItem* m_pParentItem = nullptr;
};

// A menu shown at the mouse position by a control's right click (see
// TControl::SetPopupMenu) or by Popup. Invisible items are left out, and so
// are separators that would stand first, last or twice in a row.
class TPopupMenu : public TComponent {
public:
    explicit TPopupMenu(TComponent* pOwner);
    ~TPopupMenu() override;

    // The root item whose sub-items are the menu.
    TMenuItem* Items() { return &m_root; }
    // Convenience: a new item owned by the menu's owner, added at the end.
    TMenuItem* AddItem(const std::string& caption, TNotifyEvent onClick = TNotifyEvent());
    // The control the menu was last shown for (or null).
    TControl* PopupComponent() const { return m_pPopupComponent; }

    // Shows the menu at a screen position and runs the chosen item's OnClick
    // after the menu closed. Returns the chosen item or null.
    TMenuItem* Popup(int screenX, int screenY, TControl* pFor = nullptr);
    TNotifyEvent OnPopup;

private:
    TMenuItem m_root{nullptr};
    TControl* m_pPopupComponent = nullptr;
};
