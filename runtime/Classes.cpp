#include "runtime/Classes.h"

#include <algorithm>

#include "runtime/TypInfo.h"

// --- TObject / TPersistent -----------------------------------------------------

bool TObject::InheritsFrom(std::string_view className) const {
    if (AnsiSameText(ClassName(), className))
        return true;
    for (const TClassInfo* c = GetClassInfo(this); c != nullptr; c = c->Parent())
        if (AnsiSameText(c->Name(), className))
            return true;
    return false;
}

void TPersistent::Assign(TPersistent* source) {
    if (source != nullptr) {
        source->AssignTo(this);
        return;
    }
    throw EConvertError(Format("Cannot assign a nil to a %s", ClassName()));
}

void TPersistent::AssignTo(TPersistent* dest) {
    throw EConvertError(Format("Cannot assign a %s to a %s", ClassName(),
                               dest != nullptr ? dest->ClassName() : String("nil")));
}

// --- TComponent ------------------------------------------------------------------

bool IsValidIdent(std::string_view ident) {
    if (ident.empty())
        return false;
    auto alpha = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    if (!alpha(ident[0]))
        return false;
    for (char c : ident)
        if (!alpha(c) && !(c >= '0' && c <= '9'))
            return false;
    return true;
}

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner != nullptr)
        AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Partners first: each forgets this component before it is told.
    while (!FFreeNotifies.empty()) {
        TComponent* partner = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        partner->RemoveNotification(this);
        partner->Notification(this, opRemove);
    }
    DestroyComponents();
    if (FOwner != nullptr)
        FOwner->RemoveComponent(this);
}

void TComponent::SetName(const String& value) {
    if (value == FName)
        return;
    if (!value.empty() && !IsValidIdent(value))
        throw EComponentError(Format("'%s' is not a valid component name", value));
    if (FOwner != nullptr)
        FOwner->ValidateRename(this, FName, value);
    else
        ValidateRename(nullptr, FName, value);
    FName = value;
}

void TComponent::ValidateRename(TComponent* AComponent, const String& CurName,
                                const String& NewName) {
    if (AComponent == nullptr || NewName.empty() || AnsiSameText(CurName, NewName))
        return;
    TComponent* other = FindComponent(NewName);
    if (other != nullptr && other != AComponent)
        throw EComponentError(Format("A component named %s already exists", NewName));
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FComponents[static_cast<std::size_t>(index)];
}

int TComponent::ComponentIndex() const {
    if (FOwner == nullptr)
        return -1;
    const auto& list = FOwner->FComponents;
    const auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    if (name.empty())
        return nullptr;
    for (TComponent* c : FComponents)
        if (AnsiSameText(c->FName, name))
            return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
    if (component == nullptr || component == this)
        return;
    if (component->FOwner != nullptr)
        component->FOwner->RemoveComponent(component);
    ValidateRename(component, String(), component->FName);
    Insert(component);
    if (FComponentState.Contains(csDesigning))
        component->SetDesigning(true);
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    if (component == nullptr || component->FOwner != this)
        return;
    Notification(component, opRemove);
    Remove(component);
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* last = FComponents.back();
        // The owner (and through it the remaining siblings) hears of the
        // removal while the component is still whole.
        Notification(last, opRemove);
        Remove(last);
        delete last;
    }
}

void TComponent::Insert(TComponent* component) {
    FComponents.push_back(component);
    component->FOwner = this;
}

void TComponent::Remove(TComponent* component) {
    const auto it = std::find(FComponents.begin(), FComponents.end(), component);
    if (it != FComponents.end())
        FComponents.erase(it);
    component->FOwner = nullptr;
}

void TComponent::SetDesigning(bool value, bool setChildren) {
    if (value)
        FComponentState.Include(csDesigning);
    else
        FComponentState.Exclude(csDesigning);
    if (setChildren)
        for (TComponent* c : FComponents)
            c->SetDesigning(value, true);
}

void TComponent::FreeNotification(TComponent* component) {
    if (component == nullptr || component == this)
        return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end())
        FFreeNotifies.push_back(component);
    if (std::find(component->FFreeNotifies.begin(), component->FFreeNotifies.end(), this) ==
        component->FFreeNotifies.end())
        component->FFreeNotifies.push_back(this);
    FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (component == nullptr)
        return;
    RemoveNotification(component);
    component->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* component) {
    const auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component);
    if (it != FFreeNotifies.end())
        FFreeNotifies.erase(it);
    if (FFreeNotifies.empty())
        FComponentState.Exclude(csFreeNotification);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent != nullptr)
        RemoveFreeNotification(AComponent);
    // Every owned component hears of it too.  Work on a copy: a handler may
    // free or add components.
    const std::vector<TComponent*> owned = FComponents;
    for (auto it = owned.rbegin(); it != owned.rend(); ++it) {
        TComponent* c = *it;
        if (std::find(FComponents.begin(), FComponents.end(), c) != FComponents.end())
            c->Notification(AComponent, Operation);
    }
}

namespace {
void CollectTree(TComponent* root, std::vector<TComponent*>& out) {
    out.push_back(root);
    for (int i = 0; i < root->ComponentCount(); ++i)
        CollectTree(root->Components(i), out);
}
}  // namespace

void TComponent::BeginLoading() {
    FComponentState.Include(csLoading);
    for (TComponent* c : FComponents)
        c->BeginLoading();
}

void TComponent::EndLoading() {
    // A Loaded handler may free or create components, so the tree is walked
    // afresh for each one; the csLoading mark tells who is still waiting.
    while (true) {
        std::vector<TComponent*> tree;
        CollectTree(this, tree);
        TComponent* next = nullptr;
        for (TComponent* c : tree)
            if (c->FComponentState.Contains(csLoading)) {
                next = c;
                break;
            }
        if (next == nullptr)
            break;
        next->FComponentState.Exclude(csLoading);
        next->Loaded();
    }
}

void TComponent::Loaded() {
    FComponentState.Exclude(csLoading);
}

void TComponent::Destroying() {
    if (FComponentState.Contains(csDestroying))
        return;
    FComponentState.Include(csDestroying);
    for (TComponent* c : FComponents)
        c->Destroying();
}
