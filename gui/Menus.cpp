#include "gui/Menus.h"

#include <algorithm>

#include "gui/Published.h"

namespace {
unsigned NextCommand = 1;
}

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner), FCommand(NextCommand++) {
    RegisterGuiClasses();
}

TMenuItem::~TMenuItem() {
    for (TMenuItem* child : FItems)
        child->FParent = nullptr;
    FItems.clear();
    if (FParent)
        FParent->Remove(this);
}

void TMenuItem::SetCaption(const String& value) {
    if (value == FCaption)
        return;
    FCaption = value;
    Changed();
}

void TMenuItem::SetChecked(bool value) {
    if (value == FChecked)
        return;
    FChecked = value;
    Changed();
}

void TMenuItem::SetEnabled(bool value) {
    if (value == FEnabled)
        return;
    FEnabled = value;
    Changed();
}

void TMenuItem::SetVisible(bool value) {
    if (value == FVisible)
        return;
    FVisible = value;
    Changed();
}

TMenuItem* TMenuItem::Items(int index) const {
    if (index < 0 || index >= Count()) {
        throw EListError(String("List index out of bounds (%d)"), index);
    }
    return FItems[static_cast<std::size_t>(index)];
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
    auto it = std::find(FItems.begin(), FItems.end(), item);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void TMenuItem::Add(TMenuItem* item) {
    Insert(Count(), item);
}

void TMenuItem::Insert(int index, TMenuItem* item) {
    if (!item)
        return;
    if (item->FParent)
        throw EMenuError(String("Menu inserted twice"));
    for (TMenuItem* p = this; p; p = p->FParent) {
        if (p == item)
            throw EMenuError(String("Menu inserted twice"));
    }
    if (index < 0 || index > Count()) {
        throw EListError(String("List index out of bounds (%d)"), index);
    }
    FItems.insert(FItems.begin() + index, item);
    item->FParent = this;
    Changed();
}

void TMenuItem::Remove(TMenuItem* item) {
    auto it = std::find(FItems.begin(), FItems.end(), item);
    if (it == FItems.end())
        return;
    FItems.erase(it);
    item->FParent = nullptr;
    Changed();
}

TMenuItem* TMenuItem::Find(unsigned command) {
    if (FCommand == command)
        return this;
    for (TMenuItem* child : FItems) {
        if (TMenuItem* found = child->Find(command))
            return found;
    }
    return nullptr;
}

TMenu* TMenuItem::GetParentMenu() const {
    const TMenuItem* item = this;
    while (item->FParent)
        item = item->FParent;
    return item->FMenu;
}

void TMenuItem::Click() {
    if (FEnabled && OnClick)
        OnClick(this);
}

void TMenuItem::Changed() {
    // A tree being torn down tells nobody.
    if (ComponentState().Contains(csDestroying))
        return;
    if (TMenu* menu = GetParentMenu())
        menu->MenuChanged();
}

TMenu::TMenu(TComponent* AOwner) : TComponent(AOwner), FItems(new TMenuItem(this)) {
    RegisterGuiClasses();
    FItems->FMenu = this;
}

TMenu::~TMenu() {
    if (FItems)
        FItems->FMenu = nullptr;
}

void TMenu::MenuChanged() {
    if (ComponentState().Contains(csDestroying))
        return;
    if (FFormHook)
        FFormHook();
    if (OnChange)
        OnChange(this);
}

String StripHotkey(const String& caption) {
    String result;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                result += '&';
                ++i;
            }
            continue;
        }
        result += caption[i];
    }
    return result;
}

char GetHotkey(const String& caption) {
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return caption[i + 1];
    }
    return 0;
}
