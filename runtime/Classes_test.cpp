#include "runtime/Classes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_log;

class TProbe : public TComponent {
  public:
    TProbe(TComponent* owner, const String& name) : TComponent(owner) { SetName(name); }
    ~TProbe() override { g_log.push_back("delete " + Name()); }
    String ClassName() const override { return "TProbe"; }

    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        g_log.push_back(Name() + (op == opInsert ? " +" : " -") + c->Name());
        if (op == opRemove && c == FWatched)
            FWatched = nullptr;
    }
    void Loaded() override {
        TComponent::Loaded();
        g_log.push_back(Name() + " loaded" +
                        (ComponentState().Contains(csLoading) ? " (still loading)" : ""));
    }
    TComponent* FWatched = nullptr;
};

class ClassesTest : public testing::Test {
  protected:
    void SetUp() override { g_log.clear(); }
};

TEST_F(ClassesTest, OwnerDeletesLastCreatedFirstAndIsTold) {
    auto* owner = new TProbe(nullptr, "Form");
    new TProbe(owner, "A");
    new TProbe(owner, "B");
    new TProbe(owner, "C");
    EXPECT_EQ(owner->ComponentCount(), 3);
    EXPECT_EQ(owner->Components(1)->Name(), "B");
    g_log.clear();
    delete owner;
    // The owner's own override is gone while its base destructor runs, so
    // the removals are logged by the children still alive (the removed one
    // included), each before it is deleted.
    EXPECT_EQ(g_log, (std::vector<std::string>{"delete Form", "C -C", "B -C", "A -C", "delete C",
                                               "B -B", "A -B", "delete B", "A -A", "delete A"}));
}

TEST_F(ClassesTest, InsertNotifiesTheOwnerAndItsComponents) {
    TProbe owner(nullptr, "Form");
    new TProbe(&owner, "A");
    g_log.clear();
    new TProbe(&owner, "B");
    // B joins while its own constructor has not run yet: it has no name and
    // its override does not see the insertion.
    EXPECT_EQ(g_log, (std::vector<std::string>{"A +", "Form +"}));
}

TEST_F(ClassesTest, DeletingAComponentTellsTheOwnerAndFreeNotificationPartners) {
    TProbe form(nullptr, "Form");
    TProbe other(nullptr, "Other");
    auto* edit = new TProbe(&form, "Edit");
    other.FWatched = edit;
    edit->FreeNotification(&other);
    g_log.clear();
    delete edit;
    EXPECT_EQ(other.FWatched, nullptr);
    EXPECT_EQ(form.ComponentCount(), 0);
    // The derived destructor runs first, then the partner and the owner hear.
    EXPECT_EQ(g_log[0], "delete Edit");
    EXPECT_EQ(g_log[1], "Other -Edit");
    EXPECT_NE(std::find(g_log.begin(), g_log.end(), "Form -Edit"), g_log.end());
}

TEST_F(ClassesTest, FreeNotificationIsSymmetricAndRemovable) {
    auto* a = new TProbe(nullptr, "A");
    auto* b = new TProbe(nullptr, "B");
    a->FreeNotification(b);
    a->FreeNotification(b);  // once only
    EXPECT_TRUE(a->ComponentState().Contains(csFreeNotification));
    g_log.clear();
    delete b;  // a hears of it and forgets b
    EXPECT_EQ(g_log, (std::vector<std::string>{"delete B", "A -B"}));
    EXPECT_FALSE(a->ComponentState().Contains(csFreeNotification));
    g_log.clear();
    delete a;  // nobody to tell: b is gone
    EXPECT_EQ(g_log, (std::vector<std::string>{"delete A"}));

    auto* c = new TProbe(nullptr, "C");
    auto* d = new TProbe(nullptr, "D");
    c->FreeNotification(d);
    c->RemoveFreeNotification(d);
    g_log.clear();
    delete c;
    EXPECT_EQ(g_log, (std::vector<std::string>{"delete C"}));
    delete d;
}

TEST_F(ClassesTest, NamesAreIdentifiersUniqueAmongTheOwnersComponents) {
    TComponent form(nullptr);
    auto* a = new TComponent(&form);
    auto* b = new TComponent(&form);
    a->SetName("edtServer");
    EXPECT_THROW(b->SetName("EDTSERVER"), EComponentError);
    EXPECT_EQ(b->Name(), "");
    EXPECT_THROW(b->SetName("1abc"), EComponentError);
    EXPECT_THROW(b->SetName("a b"), EComponentError);
    a->SetName("EdtServer");  // its own name in another case
    EXPECT_EQ(form.FindComponent("edtserver"), a);
    EXPECT_EQ(form.FindComponent("missing"), nullptr);
    try {
        b->SetName("EdtServer");
        FAIL();
    } catch (const EComponentError& e) {
        EXPECT_EQ(e.Message(), "A component named EdtServer already exists");
    }
    EXPECT_THROW(form.Components(2), EListError);
    EXPECT_EQ(b->ComponentIndex(), 1);
}

TEST_F(ClassesTest, MovingAComponentToAnotherOwner) {
    TComponent one(nullptr), two(nullptr);
    auto* c = new TComponent(&one);
    two.InsertComponent(c);
    EXPECT_EQ(c->Owner(), &two);
    EXPECT_EQ(one.ComponentCount(), 0);
    EXPECT_EQ(two.ComponentCount(), 1);
    two.RemoveComponent(c);
    EXPECT_EQ(c->Owner(), nullptr);
    delete c;
}

TEST_F(ClassesTest, LoadingEndsWithLoadedOwnerFirst) {
    TProbe form(nullptr, "Form");
    new TProbe(&form, "A");
    new TProbe(&form, "B");
    form.BeginLoading();
    EXPECT_TRUE(form.Components(1)->ComponentState().Contains(csLoading));
    g_log.clear();
    form.EndLoading();
    EXPECT_EQ(g_log, (std::vector<std::string>{"Form loaded", "A loaded", "B loaded"}));
    EXPECT_FALSE(form.Components(0)->ComponentState().Contains(csLoading));
}

TEST_F(ClassesTest, ALoadedHandlerMayFreeAComponentStillWaiting) {
    class TKiller : public TComponent {
      public:
        using TComponent::TComponent;
        void Loaded() override {
            TComponent::Loaded();
            delete Victim;
        }
        TComponent* Victim = nullptr;
    };
    TComponent form(nullptr);
    auto* killer = new TKiller(&form);
    auto* victim = new TProbe(&form, "Victim");
    killer->Victim = victim;
    form.BeginLoading();
    g_log.clear();
    form.EndLoading();
    EXPECT_EQ(g_log, (std::vector<std::string>{"delete Victim"}));
    EXPECT_EQ(form.ComponentCount(), 1);
}

TEST_F(ClassesTest, DesigningAndDestroyingFlags) {
    TComponent form(nullptr);
    form.SetDesigning(true);
    auto* c = new TComponent(&form);
    EXPECT_TRUE(c->ComponentState().Contains(csDesigning));  // inherits from the owner
    form.Destroying();
    EXPECT_TRUE(c->ComponentState().Contains(csDestroying));
}

TEST_F(ClassesTest, AssignWithoutSupportRaises) {
    TPersistent a, b;
    try {
        a.Assign(&b);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TPersistent to a TPersistent");
    }
    EXPECT_THROW(a.Assign(nullptr), EConvertError);
}

}  // namespace
