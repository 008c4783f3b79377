#pragma once
// The object model: TObject, TPersistent and TComponent.  A component is
// owned by another component and freed with it; owned components are freed
// last-created first, each after telling its owner and its free-notification
// partners with Notification(opRemove).

#include <functional>
#include <vector>

#include "runtime/Exceptions.h"
#include "runtime/Set.h"
#include "runtime/String.h"

class TObject {
  public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    virtual String ClassName() const { return "TObject"; }
    // True when this object's class is named className or derives from a
    // class of that name (as far as the published-property registry knows
    // the chain; without it, only the own class name is checked).
    bool InheritsFrom(std::string_view className) const;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TPersistent : public TObject {
  public:
    String ClassName() const override { return "TPersistent"; }
    // Copies source into this object.  The default asks source->AssignTo(this)
    // and raises EConvertError "Cannot assign a %s to a %s" when neither knows
    // how (or when source is null: "Cannot assign a nil to a %s").
    virtual void Assign(TPersistent* source);

  protected:
    virtual void AssignTo(TPersistent* dest);
};

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag {
    csLoading,
    csReading,
    csWriting,
    csDestroying,
    csDesigning,
    csAncestor,
    csUpdating,
    csFixups,
    csFreeNotification,
    csInline,
    csDesignInstance
};
using TComponentState = TSet<TComponentStateFlag>;

class TComponent : public TPersistent {
  public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;

    String ClassName() const override { return "TComponent"; }

    TComponent* Owner() const { return FOwner; }
    const String& Name() const { return FName; }
    // Names are empty or identifiers, unique among the owner's components
    // (case ignored): EComponentError "A component named %s already exists"
    // or "Component name \"%s\" is not a valid identifier".
    virtual void SetName(const String& value);
    long Tag() const { return FTag; }
    void SetTag(long value) { FTag = value; }

    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    // ERangeError-free: an index outside 0..ComponentCount()-1 raises
    // EListError "List index out of bounds (%d)".
    TComponent* Components(int index) const;
    int ComponentIndex() const;
    // The owned component of that name (case ignored), or nullptr.
    TComponent* FindComponent(std::string_view name) const;

    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);
    // Deletes every owned component, last created first.
    void DestroyComponents();

    TComponentState ComponentState() const { return FComponentState; }
    // Marks the component (and its owned components) as being designed.
    void SetDesigning(bool value, bool setChildren = true);

    // Asks component to tell this one when it is destroyed (symmetric: this
    // one will also tell component).
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    // Called by the one that builds the component from a layout: BeginLoading
    // marks it csLoading, EndLoading clears the mark and calls Loaded().  Both
    // recurse into the owned components (the owner first).
    void BeginLoading();
    void EndLoading();

    // Sets csDestroying on this component and on its owned components.
    void Destroying();

    // Told when a component is inserted into or removed from this one's
    // owned list, and when a free-notification partner is destroyed.
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Called once loading from a layout has ended (csLoading already cleared).
    virtual void Loaded();
    virtual void ValidateRename(TComponent* AComponent, const String& CurName,
                                const String& NewName);

  protected:
    TComponentState FComponentState;

  private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);
    void RemoveNotification(TComponent* component);

    TComponent* FOwner = nullptr;
    String FName;
    long FTag = 0;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};

// Frees obj and sets the pointer to nullptr.
template <typename T>
void FreeAndNil(T*& obj) {
    T* p = obj;
    obj = nullptr;
    delete p;
}

bool IsValidIdent(std::string_view ident);
