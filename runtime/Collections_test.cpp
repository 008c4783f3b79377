#include "runtime/Collections.h"

#include <gtest/gtest.h>

namespace {

int g_alive = 0;

class TItem : public TCollectionItem {
  public:
    explicit TItem(TCollection* c) : TCollectionItem(c) { ++g_alive; }
    ~TItem() override { --g_alive; }
    String ClassName() const override { return "TItem"; }
    void Assign(TPersistent* source) override {
        if (auto* other = dynamic_cast<TItem*>(source)) {
            Value = other->Value;
            Changed(false);
            return;
        }
        TCollectionItem::Assign(source);
    }
    String DisplayName() const override {
        return Value.empty() ? TCollectionItem::DisplayName() : Value;
    }
    String Value;
};

TEST(Collections, ItemsJoinLeaveAndAreOwned) {
    {
        TCollection c(TCollection::ItemFactoryOf<TItem>());
        auto* a = static_cast<TItem*>(c.Add());
        auto* b = static_cast<TItem*>(c.Add());
        new TItem(&c);
        EXPECT_EQ(c.Count(), 3);
        EXPECT_EQ(g_alive, 3);
        EXPECT_EQ(b->Index(), 1);
        EXPECT_EQ(a->ID(), 0);
        EXPECT_EQ(c.FindItemID(1), b);
        EXPECT_EQ(a->DisplayName(), "TItem");
        delete a;  // leaves the collection
        EXPECT_EQ(c.Count(), 2);
        EXPECT_EQ(b->Index(), 0);
        b->SetIndex(1);
        EXPECT_EQ(c.Items(1), b);
        EXPECT_THROW(c.Items(2), EListError);
        c.Delete(0);
        EXPECT_EQ(g_alive, 1);
        TCollection other(TCollection::ItemFactoryOf<TItem>());
        b->SetCollection(&other);
        EXPECT_EQ(c.Count(), 0);
        EXPECT_EQ(other.Count(), 1);
        c.Insert(0);
        EXPECT_EQ(c.Count(), 1);
    }
    EXPECT_EQ(g_alive, 0);
}

TEST(Collections, UpdatesAreReportedOnceWhileHeld) {
    TCollection c(TCollection::ItemFactoryOf<TItem>());
    std::vector<TCollectionItem*> updates;
    c.OnUpdate = [&](TCollection*, TCollectionItem* item) { updates.push_back(item); };
    auto* a = static_cast<TItem*>(c.Add());
    EXPECT_EQ(updates, (std::vector<TCollectionItem*>{nullptr}));
    TItem src(nullptr);
    src.Value = "v";
    a->Assign(&src);
    EXPECT_EQ(updates.back(), a);
    updates.clear();
    c.BeginUpdate();
    c.Add();
    c.Add();
    c.Delete(0);
    EXPECT_TRUE(updates.empty());
    c.EndUpdate();
    EXPECT_EQ(updates, (std::vector<TCollectionItem*>{nullptr}));
}

TEST(Collections, AssignCopiesTheItems) {
    TCollection a(TCollection::ItemFactoryOf<TItem>()), b(TCollection::ItemFactoryOf<TItem>());
    static_cast<TItem*>(a.Add())->Value = "one";
    static_cast<TItem*>(a.Add())->Value = "two";
    b.Add();
    b.Add();
    b.Add();
    b.Assign(&a);
    ASSERT_EQ(b.Count(), 2);
    EXPECT_EQ(static_cast<TItem*>(b.Items(1))->Value, "two");
    EXPECT_EQ(b.Items(1)->DisplayName(), "two");
    TPersistent p;
    EXPECT_THROW(b.Assign(&p), EConvertError);
    TOwnedCollection owned(&p, TCollection::ItemFactoryOf<TItem>());
    EXPECT_EQ(owned.GetOwner(), &p);
}

TEST(Collections, AnAssignThatFailsEndsItsUpdateAndPassesTheErrorOn) {
    // Items of another class cannot be copied into TItem: EConvertError.
    class TOtherItem : public TCollectionItem {
      public:
        using TCollectionItem::TCollectionItem;
        String ClassName() const override { return "TOtherItem"; }
    };
    TCollection source(TCollection::ItemFactoryOf<TOtherItem>());
    source.Add();
    TCollection target(TCollection::ItemFactoryOf<TItem>());
    int updates = 0;
    target.OnUpdate = [&](TCollection*, TCollectionItem*) { ++updates; };
    EXPECT_THROW(target.Assign(&source), EConvertError);
    EXPECT_EQ(target.UpdateCount(), 0);
    EXPECT_EQ(updates, 1);
    target.Add();
    EXPECT_EQ(updates, 2);  // the collection is not left held
}

}  // namespace
