#pragma once
// Collections: an ordered list of items of one class, owned by the
// collection.  An item created with a collection joins it; deleting an item
// takes it out of its collection.

#include <functional>
#include <vector>

#include "runtime/Classes.h"

class TCollection;

class TCollectionItem : public TPersistent {
  public:
    explicit TCollectionItem(TCollection* collection);
    ~TCollectionItem() override;
    String ClassName() const override { return "TCollectionItem"; }

    TCollection* Collection() const { return FCollection; }
    // Moves the item into another collection (nullptr: none).
    void SetCollection(TCollection* value);
    // A number unique within the collection, given when the item joins it.
    int ID() const { return FID; }
    int Index() const;
    void SetIndex(int value);
    // The text an editor shows: the class name unless a descendant says more.
    virtual String DisplayName() const { return ClassName(); }
    virtual void SetDisplayName(const String&) { Changed(false); }

  protected:
    // Tells the collection that this item (allItems: every item) changed.
    void Changed(bool allItems);

  private:
    friend class TCollection;
    TCollection* FCollection = nullptr;
    int FID = 0;
};

class TCollection : public TPersistent {
  public:
    using TItemFactory = std::function<TCollectionItem*(TCollection* collection)>;

    // factory creates one item in the collection: [](TCollection* c) { return new TItem(c); }
    explicit TCollection(TItemFactory factory);
    ~TCollection() override;
    String ClassName() const override { return "TCollection"; }

    template <typename T>
    static TItemFactory ItemFactoryOf() {
        return [](TCollection* c) -> TCollectionItem* { return new T(c); };
    }

    int Count() const { return static_cast<int>(FItems.size()); }
    // EListError "List index out of bounds (%d)" outside 0..Count()-1.
    TCollectionItem* Items(int index) const;
    void SetItem(int index, TCollectionItem* value) { Items(index)->Assign(value); }
    TCollectionItem* Add();
    TCollectionItem* Insert(int index);
    void Delete(int index);
    void Clear();
    TCollectionItem* FindItemID(int id) const;

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    // Same number of items, each assigned from the source's.
    void Assign(TPersistent* source) override;

    // The object that owns the collection (TOwnedCollection), or nullptr.
    virtual TPersistent* GetOwner() const { return nullptr; }

    // Called after a change while no update is held: item is the changed
    // item, nullptr when the whole collection changed.
    std::function<void(TCollection* sender, TCollectionItem* item)> OnUpdate;

  protected:
    virtual void Update(TCollectionItem* item);
    void Changed();

  private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem* item);
    void RemoveItem(TCollectionItem* item);

    TItemFactory FFactory;
    std::vector<TCollectionItem*> FItems;
    int FNextID = 0;
    int FUpdateCount = 0;
    bool FClearing = false;
};

class TOwnedCollection : public TCollection {
  public:
    TOwnedCollection(TPersistent* owner, TItemFactory factory)
        : TCollection(std::move(factory)), FOwner(owner) {}
    String ClassName() const override { return "TOwnedCollection"; }
    TPersistent* GetOwner() const override { return FOwner; }

  private:
    TPersistent* FOwner;
};
