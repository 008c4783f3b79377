#pragma once
// Stored properties: TPropsStorage turns published properties (found by
// name through the run-time type information) into text values and back,
// one text form per property kind, and writes them through callbacks into a
// store section; TPropInfoList lists the published properties of an object.
//
// A listed property "Component.Property" is stored under the value name
// Component + ItemNameSeparator + Property (as the type information spells
// it).  String lists and collections go to sub-sections "Section.Name";
// nested objects (a font) store their own properties with the property's
// name as a prefix (Memo2_FontColor).

#include <functional>
#include <memory>
#include <vector>

#include "runtime/Classes.h"
#include "runtime/StringList.h"
#include "runtime/TypInfo.h"

// Every kind that holds a value: no events, no untyped properties.
inline constexpr TTypeKinds StorableKinds = tkProperties;

// Put between a component's name and its property names ("_").
extern String ItemNameSeparator;

// The published properties of one object of the given kinds, in name order.
class TPropInfoList : public TObject {
  public:
    TPropInfoList(TObject* AObject, TTypeKinds Filter);
    String ClassName() const override { return "TPropInfoList"; }

    int Count() const { return static_cast<int>(FList.size()); }
    const TPropInfo* Items(int Index) const { return FList.at(static_cast<std::size_t>(Index)); }
    // The first property of that name (case ignored), or nullptr.
    const TPropInfo* Find(std::string_view Name) const;
    void Delete(int Index);

  private:
    std::vector<const TPropInfo*> FList;
};

using TReadStrEvent =
    std::function<String(const String& ASection, const String& Item, const String& Default)>;
using TWriteStrEvent =
    std::function<void(const String& ASection, const String& Item, const String& Value)>;
using TEraseSectEvent = std::function<void(const String& ASection)>;

class TPropsStorage : public TObject {
  public:
    TPropsStorage() = default;
    String ClassName() const override { return "TPropsStorage"; }

    // The object whose properties are read or written.
    TObject* Target = nullptr;
    // Resolves component references; set while a whole list is processed.
    TComponent* Owner = nullptr;
    String Prefix;
    String Section;
    TReadStrEvent OnReadString;
    TWriteStrEvent OnWriteString;
    TEraseSectEvent OnEraseSection;

    virtual String ReadString(const String& ASection, const String& Item, const String& Default);
    virtual void WriteString(const String& ASection, const String& Item, const String& Value);
    virtual void EraseSection(const String& ASection);
    virtual String GetItemName(const String& APropName);
    virtual std::unique_ptr<TPropsStorage> CreateStorage();

    // Each entry "Component.Property" of List, against AOwner's components
    // (the entries are first brought up to date, SyncStoredList).  Saving
    // stops at the first failure of the store; restoring never fails.
    void SaveListedProperties(TComponent* AOwner, TStrings* List);
    void RestoreListedProperties(TComponent* AOwner, TStrings* List);
    // One property of Target.  A store failure passes out of StoreProperty;
    // LoadProperty drops every failure and leaves the property as it was.
    void StoreProperty(const TPropInfo* PropInfo);
    void LoadProperty(const TPropInfo* PropInfo);
    // Every storable property of Target, in name order.
    void StoreObjectProperties();
    void LoadObjectProperties();

  private:
    String StoreClassProperty(const TPropInfo* PropInfo);
    void LoadClassProperty(const String& Text, const TPropInfo* PropInfo);
    void StoreStringsProperty(const TPropInfo* PropInfo, TStrings* Strings);
    void LoadStringsProperty(const TPropInfo* PropInfo, TStrings* Strings);
    void StoreCollectionProperty(const TPropInfo* PropInfo, class TCollection* Collection);
    void LoadCollectionProperty(const TPropInfo* PropInfo, class TCollection* Collection);
    String StoreComponentProperty(TComponent* Component);
    void LoadComponentProperty(const String& Text, const TPropInfo* PropInfo);
    // A storage for a nested object, with this one's callbacks.
    std::unique_ptr<TPropsStorage> NestedStorage(TObject* AObject, const String& APrefix,
                                                 const String& ASection);

    // Whether AObject is being stored by this storage or one it is nested in:
    // an object that refers back up the chain is not stored again.
    bool IsOnTheWay(const TObject* AObject) const;

    // The storage this one is nested in, and how deep; a chain of distinct
    // objects is still cut off at a fixed depth.
    TPropsStorage* FParent = nullptr;
    int FDepth = 0;
};

// Splits an entry at its first "." into the trimmed component and property
// parts; false when either is empty.
bool ParseStoredItem(const String& Item, String& CompName, String& PropName);
// "Component.Property"; empty when either part is.
String JoinStoredItem(const String& CompName, const String& PropName);
// FromForm: attaches AOwner's component of each entry's name to it, deleting
// invalid entries and those naming no component.  Otherwise: rewrites each
// entry from its attached component's current name, deleting those without.
void SyncStoredList(TComponent* AOwner, TStrings* List, bool FromForm);

// The text forms of single values.
String FloatPropText(double Value, TFloatType Type);
String SetPropText(const TTypeInfo* SetType, unsigned long long Bits);
unsigned long long SetPropBits(const TTypeInfo* SetType, const String& Text);
