#include "runtime/Collections.h"

#include <algorithm>

#include "runtime/ExceptionHook.h"
#include "runtime/Exceptions.h"
#include "runtime/ScopeGuard.h"

namespace {

// A step that throws inside an update ends the update through a ScopeFail
// guard; the normal way out ends it in the open, so that an update notice raising
// there reaches the caller.  The guard's notice runs while the step's
// exception is on its way out: what it raises is reported, and the step's
// exception goes on to the caller.
void EndUpdateAfterFailure(TCollection& collection) {
    CallGuarded([&collection] { collection.EndUpdate(); });
}

}  // namespace

// --- TCollectionItem ---------------------------------------------------------------

TCollectionItem::TCollectionItem(TCollection* collection) {
    SetCollection(collection);
}

TCollectionItem::~TCollectionItem() {
    SetCollection(nullptr);
}

void TCollectionItem::SetCollection(TCollection* value) {
    if (FCollection == value)
        return;
    if (FCollection != nullptr)
        FCollection->RemoveItem(this);
    if (value != nullptr)
        value->InsertItem(this);
}

int TCollectionItem::Index() const {
    if (FCollection == nullptr)
        return -1;
    const auto& items = FCollection->FItems;
    const auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int value) {
    const int cur = Index();
    if (cur < 0 || value == cur)
        return;
    auto& items = FCollection->FItems;
    if (value < 0 || value >= static_cast<int>(items.size()))
        throw EListError(Format("List index out of bounds (%d)", value));
    items.erase(items.begin() + cur);
    items.insert(items.begin() + value, this);
    Changed(true);
}

void TCollectionItem::Changed(bool allItems) {
    if (FCollection != nullptr && FCollection->FUpdateCount == 0)
        FCollection->Update(allItems ? nullptr : this);
}

// --- TCollection ---------------------------------------------------------------------

TCollection::TCollection(TItemFactory factory) : FFactory(std::move(factory)) {}

TCollection::~TCollection() {
    FUpdateCount = 1;  // no updates while going away
    Clear();
}

TCollectionItem* TCollection::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FItems[static_cast<std::size_t>(index)];
}

TCollectionItem* TCollection::Add() {
    if (!FFactory)
        throw EInvalidOperation("Collection has no item class");
    TCollectionItem* item = FFactory(this);
    if (item != nullptr && item->FCollection != this)
        item->SetCollection(this);
    return item;
}

TCollectionItem* TCollection::Insert(int index) {
    TCollectionItem* item = Add();
    item->SetIndex(index);
    return item;
}

void TCollection::Delete(int index) {
    delete Items(index);
}

void TCollection::Clear() {
    if (FItems.empty())
        return;
    BeginUpdate();
    while (!FItems.empty())
        delete FItems.back();
    EndUpdate();
}

TCollectionItem* TCollection::FindItemID(int id) const {
    for (TCollectionItem* item : FItems)
        if (item->FID == id)
            return item;
    return nullptr;
}

void TCollection::BeginUpdate() {
    ++FUpdateCount;
}

void TCollection::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0)
        Changed();
}

void TCollection::Assign(TPersistent* source) {
    if (auto* other = dynamic_cast<TCollection*>(source)) {
        if (other == this)
            return;
        BeginUpdate();
        {
            ScopeFail endUpdate([this] { EndUpdateAfterFailure(*this); });
            Clear();
            for (TCollectionItem* item : other->FItems)
                Add()->Assign(item);
        }
        EndUpdate();
        return;
    }
    TPersistent::Assign(source);
}

void TCollection::Update(TCollectionItem* item) {
    if (OnUpdate)
        OnUpdate(this, item);
}

void TCollection::Changed() {
    if (FUpdateCount == 0)
        Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* item) {
    FItems.push_back(item);
    item->FCollection = this;
    item->FID = FNextID++;
    Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
    const auto it = std::find(FItems.begin(), FItems.end(), item);
    if (it != FItems.end())
        FItems.erase(it);
    item->FCollection = nullptr;
    Changed();
}
