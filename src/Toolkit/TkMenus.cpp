#include "TkMenus.h"

#include <algorithm>

#include "TkForms.h"
#include "TkInternal.h"

// ---------------------------------------------------------------------------
// TMenuItem
// ---------------------------------------------------------------------------

TMenuItem::TMenuItem(TComponent* pOwner) : TComponent(pOwner) {}

TMenuItem::~TMenuItem()
{
    BeginDestruction();
    if (m_pParentItem) m_pParentItem->Remove(this);
    for (TMenuItem* p : m_items) p->m_pParentItem = nullptr;
    m_items.clear();
}

void TMenuItem::Add(TMenuItem* pItem)
{
    Insert(Count(), pItem);
}

void TMenuItem::Insert(int index, TMenuItem* pItem)
{
    if (!pItem || pItem == this) return;
    if (pItem->m_pParentItem) pItem->m_pParentItem->Remove(pItem);
    index = std::max(0, std::min(index, Count()));
    m_items.insert(m_items.begin() + index, pItem);
    pItem->m_pParentItem = this;
}

void TMenuItem::Remove(TMenuItem* pItem)
{
    auto it = std::find(m_items.begin(), m_items.end(), pItem);
    if (it != m_items.end()) {
        m_items.erase(it);
        pItem->m_pParentItem = nullptr;
    }
}

TMenuItem* TMenuItem::Item(int index) const
{
    if (index < 0 || index >= Count()) return nullptr;
    return m_items[static_cast<size_t>(index)];
}

void TMenuItem::Click()
{
    if (!m_bEnabled || Destroying()) return;
    if (OnClick) OnClick(this);
}

// ---------------------------------------------------------------------------
// TPopupMenu
// ---------------------------------------------------------------------------

TPopupMenu::TPopupMenu(TComponent* pOwner) : TComponent(pOwner) {}

TPopupMenu::~TPopupMenu()
{
    BeginDestruction();
}

TMenuItem* TPopupMenu::AddItem(const std::string& caption, TNotifyEvent onClick)
{
    TMenuItem* pItem = new TMenuItem(Owner() ? Owner() : this);
    pItem->SetCaption(caption);
    pItem->OnClick = std::move(onClick);
    m_root.Add(pItem);
    return pItem;
}

namespace {

// Builds the native menu: invisible items are left out, and so are
// separators that would stand first, last or twice in a row.
HMENU BuildMenu(const TMenuItem& parent, std::vector<TMenuItem*>& commands)
{
    HMENU hMenu = CreatePopupMenu();
    if (!hMenu) return nullptr;
    std::vector<TMenuItem*> shown;
    for (int i = 0; i < parent.Count(); ++i) {
        TMenuItem* p = parent.Item(i);
        if (!p->Visible()) continue;
        if (p->IsSeparator() && (shown.empty() || shown.back()->IsSeparator())) continue;
        shown.push_back(p);
    }
    while (!shown.empty() && shown.back()->IsSeparator()) shown.pop_back();
    for (TMenuItem* p : shown) {
        if (p->IsSeparator()) {
            AppendMenuA(hMenu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT flags = MF_STRING | (p->Enabled() ? MF_ENABLED : MF_GRAYED) | (p->Checked() ? MF_CHECKED : 0);
        if (p->Count() > 0) {
            HMENU hSub = BuildMenu(*p, commands);
            AppendMenuA(hMenu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(hSub), p->Caption().c_str());
        } else {
            commands.push_back(p);
            AppendMenuA(hMenu, flags, commands.size(), p->Caption().c_str());
        }
        if (p->Default()) SetMenuDefaultItem(hMenu, static_cast<UINT>(commands.size()), FALSE);
    }
    return hMenu;
}

}  // namespace

TMenuItem* TPopupMenu::Popup(int screenX, int screenY, TControl* pFor)
{
    if (Destroying()) return nullptr;
    m_pPopupComponent = pFor;
    if (OnPopup) OnPopup(this);
    std::vector<TMenuItem*> commands;
    HMENU hMenu = BuildMenu(m_root, commands);
    if (!hMenu) return nullptr;
    HWND hOwner = nullptr;
    if (pFor) {
        if (TForm* pForm = pFor->ParentForm()) hOwner = pForm->Handle();
    }
    if (!hOwner) hOwner = GetActiveWindow();
    if (!hOwner) hOwner = tk_internal::UtilityWindow();
    UINT cmd = static_cast<UINT>(TrackPopupMenuEx(hMenu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN, screenX,
                                                  screenY, hOwner, nullptr));
    DestroyMenu(hMenu);
    if (cmd == 0 || cmd > commands.size()) return nullptr;
    TMenuItem* pChosen = commands[cmd - 1];
    pChosen->Click();
    return pChosen;
}
