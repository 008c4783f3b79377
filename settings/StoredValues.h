#pragma once
// Stored values: free named values (TStoredValue) that a form storage
// (TFormStorage, settings/Placemnt.h) saves and restores with the form's
// placement, each under its name in the placement's section, and the
// scrambling of values stored with a key.

#include <functional>

#include "runtime/Classes.h"
#include "runtime/Collections.h"
#include "runtime/Variant.h"

class TFormStorage;

class TStoredValue;
using TStoredValueEvent = std::function<void(TStoredValue* Sender, Variant& Value)>;

// A free named value saved and restored with the form's placement, under
// its Name in the placement's section.  With a KeyString the stored text is
// scrambled with it.  After a restore without OnRestore the value is a string.
class TStoredValue : public TCollectionItem {
  public:
    explicit TStoredValue(TCollection* Collection);
    String ClassName() const override { return "TStoredValue"; }

    const String& Name() const { return FName; }
    // Exception "String list does not allow duplicates" when another item of
    // the collection has that name (case ignored).
    void SetName(const String& Value);
    const Variant& Value() const { return FValue; }
    void SetValue(const Variant& Value) { FValue = Value; }
    const String& KeyString() const { return FKeyString; }
    void SetKeyString(const String& Value) { FKeyString = Value; }

    TStoredValueEvent OnSave;
    TStoredValueEvent OnRestore;

    String DisplayName() const override;
    void SetDisplayName(const String& Value) override { SetName(Value); }
    // From another TStoredValue: the value, the name, the key.
    void Assign(TPersistent* Source) override;

    virtual void WriteValue();
    virtual void ReadValue();

    // The storage the item's collection belongs to, or nullptr.
    TFormStorage* Storage() const;

  private:
    String FName;
    Variant FValue;
    String FKeyString;
};

class TStoredValues : public TOwnedCollection {
  public:
    explicit TStoredValues(TPersistent* AOwner);
    String ClassName() const override { return "TStoredValues"; }

    TFormStorage* Storage() const { return FStorage; }
    void SetStorage(TFormStorage* Value) { FStorage = Value; }
    TStoredValue* Items(int Index) const;
    TStoredValue* Add() { return static_cast<TStoredValue*>(TCollection::Add()); }
    // The first item named Name (case ignored), or -1.
    int IndexOf(const String& Name) const;
    // The value of the item named Name; EStringListError-free: an unknown
    // name reads as empty, and writing it adds an item.
    Variant StoredValue(const String& Name) const;
    void SetStoredValue(const String& Name, const Variant& Value);

    virtual void WriteAll();
    virtual void ReadAll();

  private:
    TFormStorage* FStorage = nullptr;
};

// The scrambled form of Text under Key: printable text (hexadecimal digits)
// that UnscrambleText turns back into Text exactly.  An empty key leaves the
// text as it is.
String ScrambleText(const String& Text, const String& Key);
// A text that is no scrambled form comes back unchanged.
String UnscrambleText(const String& Text, const String& Key);
