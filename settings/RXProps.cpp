#include "settings/RXProps.h"

#include <algorithm>

#include "runtime/Collections.h"
#include "runtime/Variant.h"
#include "settings/AppUtils.h"

String ItemNameSeparator = "_";

namespace {

// Nested objects deeper than this are not stored (a cycle of references).
constexpr int kMaxDepth = 16;
// A stored count above this is taken as damage, not as a list to rebuild:
// the list is left as it is.
constexpr int kMaxStoredItems = 100000;

int FloatDigits(TFloatType type) {
    switch (type) {
        case ftSingle:
            return 7;
        case ftDouble:
            return 15;
        case ftExtended:
        case ftComp:
            return 18;
        case ftCurr:
            return 19;
    }
    return 15;
}

bool IsWordDelimiter(char c) {
    return c == ' ' || c == ',' || c == '[' || c == ']';
}

// Owns the property lists of a component index.
struct TPropertyIndex {
    TStringList Names;
    std::vector<std::unique_ptr<TPropInfoList>> Lists;
};

std::unique_ptr<TPropertyIndex> BuildPropertyIndex(TComponent* AOwner, TStrings* List) {
    try {
        SyncStoredList(AOwner, List, false);
        auto index = std::make_unique<TPropertyIndex>();
        index->Names.SetSorted(true);
        for (int i = 0; i < List->Count(); ++i) {
            auto* component = dynamic_cast<TComponent*>(List->Objects(i));
            if (!component)
                continue;
            int found = 0;
            if (index->Names.Find(component->Name(), found))
                continue;
            index->Lists.push_back(std::make_unique<TPropInfoList>(component, StorableKinds));
            index->Names.AddObject(component->Name(), index->Lists.back().get());
        }
        return index;
    } catch (...) {
        return nullptr;
    }
}

// The stored text of a property's current value, for every kind but tkClass
// (whose text depends on the storage); false for a kind that is not stored
// as text.
bool ValueText(const TPropInfo* PropInfo, TObject* Target, String& Text) {
    switch (PropInfo->Kind()) {
        case tkInteger:
        case tkInt64:
            Text = IntToStr(PropInfo->GetOrd(Target));
            return true;
        case tkChar:
        case tkWChar:
            Text = String(1, static_cast<char>(PropInfo->GetOrd(Target) & 0xFF));
            return true;
        case tkEnumeration:
            Text = GetEnumName(PropInfo->PropType(), PropInfo->GetOrd(Target));
            return true;
        case tkFloat:
            Text = FloatPropText(PropInfo->GetFloat(Target), PropInfo->PropType()->FloatType);
            return true;
        case tkString:
        case tkLString:
            Text = PropInfo->GetStr(Target);
            return true;
        case tkSet:
            Text = SetPropText(PropInfo->PropType(),
                               static_cast<unsigned long long>(PropInfo->GetOrd(Target)));
            return true;
        case tkVariant:
            Text = VarToStr(PropInfo->GetVariant(Target));
            return true;
        default:
            return false;
    }
}

// Runs Apply on each entry of List whose component and property are found
// among AOwner's, with the storage's Target, Prefix and Owner set for it.
template <class ApplyFn>
void ForListedProperties(TPropsStorage& Storage, TComponent* AOwner, TStrings* List,
                         ApplyFn Apply) {
    std::unique_ptr<TPropertyIndex> index = BuildPropertyIndex(AOwner, List);
    if (!index)
        return;
    Storage.Owner = AOwner;
    struct Reset {
        TPropsStorage& self;
        ~Reset() { self.Owner = nullptr; }
    } reset{Storage};
    for (int i = 0; i < List->Count(); ++i) {
        String comp, prop;
        if (!ParseStoredItem(List->Strings(i), comp, prop))
            continue;
        auto* component = dynamic_cast<TComponent*>(List->Objects(i));
        if (!component)
            continue;
        Storage.Target = component;
        Storage.Prefix = component->Name();
        int found = 0;
        if (!index->Names.Find(Storage.Prefix, found))
            continue;
        Storage.Prefix += ItemNameSeparator;
        auto* props = static_cast<TPropInfoList*>(index->Names.Objects(found));
        if (const TPropInfo* info = props->Find(prop))
            Apply(info);
    }
}

}  // namespace

// ---- TPropInfoList ------------------------------------------------------------------------

TPropInfoList::TPropInfoList(TObject* AObject, TTypeKinds Filter) {
    if (AObject)
        FList = GetPropList(AObject, Filter);
}

const TPropInfo* TPropInfoList::Find(std::string_view Name) const {
    for (const TPropInfo* p : FList) {
        if (AnsiSameText(p->Name(), Name))
            return p;
    }
    return nullptr;
}

void TPropInfoList::Delete(int Index) {
    if (Index < 0 || Index >= Count())
        throw EListError(Format("List index out of bounds (%d)", Index));
    FList.erase(FList.begin() + Index);
}

// ---- text forms ---------------------------------------------------------------------------

String FloatPropText(double Value, TFloatType Type) {
    const String text = FloatToStrF(Value, ffGeneral, FloatDigits(Type), 0);
    return StringReplace(text, String(1, DecimalSeparator()), ".");
}

String SetPropText(const TTypeInfo* SetType, unsigned long long Bits) {
    const TTypeInfo* element = SetType ? SetType->CompType : nullptr;
    String text = "[";
    bool first = true;
    for (int ordinal = 0; ordinal < 32; ++ordinal) {
        if (!(Bits & (1ULL << ordinal)))
            continue;
        if (!first)
            text += ",";
        text += GetEnumName(element, ordinal);
        first = false;
    }
    return text + "]";
}

unsigned long long SetPropBits(const TTypeInfo* SetType, const String& Text) {
    const TTypeInfo* element = SetType ? SetType->CompType : nullptr;
    unsigned long long bits = 0;
    std::size_t i = 0;
    while (i < Text.size()) {
        while (i < Text.size() && IsWordDelimiter(Text[i]))
            ++i;
        std::size_t end = i;
        while (end < Text.size() && !IsWordDelimiter(Text[end]))
            ++end;
        if (end == i)
            break;
        const String word = Text.substr(i, end - i);
        i = end;
        long long ordinal = -1;
        if (element && element->Kind == tkEnumeration) {
            ordinal = GetEnumValue(element, word);
        } else if (!TryStrToInt64(word, ordinal)) {
            continue;
        }
        if (ordinal >= 0 && ordinal <= 31)
            bits |= 1ULL << ordinal;
    }
    return bits;
}

// ---- stored item syntax ---------------------------------------------------------------------

bool ParseStoredItem(const String& Item, String& CompName, String& PropName) {
    const std::size_t dot = Item.find('.');
    if (dot == String::npos)
        return false;
    CompName = Trim(std::string_view(Item).substr(0, dot));
    PropName = Trim(std::string_view(Item).substr(dot + 1));
    return !CompName.empty() && !PropName.empty();
}

String JoinStoredItem(const String& CompName, const String& PropName) {
    if (CompName.empty() || PropName.empty())
        return String();
    return CompName + "." + PropName;
}

void SyncStoredList(TComponent* AOwner, TStrings* List, bool FromForm) {
    if (!AOwner || !List)
        return;
    for (int i = List->Count() - 1; i >= 0; --i) {
        String comp, prop;
        if (!ParseStoredItem(List->Strings(i), comp, prop)) {
            List->Delete(i);
            continue;
        }
        if (FromForm) {
            TComponent* component = AOwner->FindComponent(comp);
            if (!component) {
                List->Delete(i);
                continue;
            }
            List->SetObject(i, component);
        } else {
            auto* component = dynamic_cast<TComponent*>(List->Objects(i));
            if (!component) {
                List->Delete(i);
                continue;
            }
            List->SetStrings(i, JoinStoredItem(component->Name(), prop));
        }
    }
}

// ---- TPropsStorage --------------------------------------------------------------------------

String TPropsStorage::ReadString(const String& ASection, const String& Item,
                                 const String& Default) {
    return OnReadString ? OnReadString(ASection, Item, Default) : String();
}

void TPropsStorage::WriteString(const String& ASection, const String& Item, const String& Value) {
    if (OnWriteString)
        OnWriteString(ASection, Item, Value);
}

void TPropsStorage::EraseSection(const String& ASection) {
    if (OnEraseSection)
        OnEraseSection(ASection);
}

String TPropsStorage::GetItemName(const String& APropName) {
    return Prefix + APropName;
}

std::unique_ptr<TPropsStorage> TPropsStorage::CreateStorage() {
    return std::make_unique<TPropsStorage>();
}

std::unique_ptr<TPropsStorage> TPropsStorage::NestedStorage(TObject* AObject, const String& APrefix,
                                                            const String& ASection) {
    std::unique_ptr<TPropsStorage> nested = CreateStorage();
    nested->Target = AObject;
    nested->Prefix = APrefix;
    nested->Section = ASection;
    nested->OnReadString = OnReadString;
    nested->OnWriteString = OnWriteString;
    nested->OnEraseSection = OnEraseSection;
    nested->FDepth = FDepth + 1;
    nested->FParent = this;
    return nested;
}

bool TPropsStorage::IsOnTheWay(const TObject* AObject) const {
    for (const TPropsStorage* s = this; s; s = s->FParent) {
        if (s->Target == AObject)
            return true;
    }
    return false;
}

void TPropsStorage::SaveListedProperties(TComponent* AOwner, TStrings* List) {
    ForListedProperties(*this, AOwner, List,
                        [this](const TPropInfo* info) { StoreProperty(info); });
}

void TPropsStorage::RestoreListedProperties(TComponent* AOwner, TStrings* List) {
    ForListedProperties(*this, AOwner, List, [this](const TPropInfo* info) { LoadProperty(info); });
}

void TPropsStorage::StoreProperty(const TPropInfo* PropInfo) {
    if (!PropInfo || !Target)
        return;
    const TTypeKind kind = PropInfo->Kind();
    String text;
    if (kind == tkClass)
        text = StoreClassProperty(PropInfo);
    else if (!ValueText(PropInfo, Target, text))
        return;
    if (text.empty() && kind != tkString && kind != tkWChar && kind != tkLString)
        return;
    WriteString(Section, GetItemName(PropInfo->Name()), Trim(text));
}

void TPropsStorage::LoadProperty(const TPropInfo* PropInfo) {
    if (!PropInfo || !Target)
        return;
    try {
        const TTypeKind kind = PropInfo->Kind();
        String def;
        if (kind != tkClass && !ValueText(PropInfo, Target, def))
            return;
        String text;
        if (!def.empty() || kind == tkString || kind == tkClass || kind == tkWChar ||
            kind == tkLString)
            text = Trim(ReadString(Section, GetItemName(PropInfo->Name()), def));
        switch (kind) {
            case tkInteger:
                PropInfo->SetOrd(Target, StrToIntDef(text, 0));
                break;
            case tkInt64:
                PropInfo->SetOrd(Target, StrToInt64Def(text, 0));
                break;
            case tkChar:
            case tkWChar:
                if (!text.empty())
                    PropInfo->SetOrd(Target, static_cast<unsigned char>(text[0]));
                break;
            case tkEnumeration: {
                const TTypeInfo* type = PropInfo->PropType();
                for (long long v = type->MinValue; v <= type->MaxValue; ++v) {
                    if (AnsiSameText(GetEnumName(type, v), text)) {
                        PropInfo->SetOrd(Target, v);
                        break;
                    }
                }
                break;
            }
            case tkFloat: {
                double value = 0;
                const String local = StringReplace(text, ".", String(1, DecimalSeparator()));
                if (TryStrToFloat(local, value))
                    PropInfo->SetFloat(Target, value);
                break;
            }
            case tkString:
            case tkLString:
                PropInfo->SetStr(Target, text);
                break;
            case tkSet:
                PropInfo->SetOrd(Target,
                                 static_cast<long long>(SetPropBits(PropInfo->PropType(), text)));
                break;
            case tkVariant:
                PropInfo->SetVariant(Target, Variant(text));
                break;
            case tkClass:
                LoadClassProperty(text, PropInfo);
                break;
            default:
                break;
        }
    } catch (...) {
        // A value that cannot be read or applied leaves the property as it was.
    }
}

void TPropsStorage::StoreObjectProperties() {
    if (!Target || FDepth > kMaxDepth)
        return;
    TPropInfoList list(Target, StorableKinds);
    for (int i = 0; i < list.Count(); ++i)
        StoreProperty(list.Items(i));
}

void TPropsStorage::LoadObjectProperties() {
    if (!Target || FDepth > kMaxDepth)
        return;
    TPropInfoList list(Target, StorableKinds);
    for (int i = 0; i < list.Count(); ++i)
        LoadProperty(list.Items(i));
}

String TPropsStorage::StoreClassProperty(const TPropInfo* PropInfo) {
    TObject* object = PropInfo->GetObject(Target);
    if (!object)
        return String();
    if (auto* strings = dynamic_cast<TStrings*>(object)) {
        StoreStringsProperty(PropInfo, strings);
    } else if (auto* collection = dynamic_cast<TCollection*>(object)) {
        StoreCollectionProperty(PropInfo, collection);
    } else if (auto* component = dynamic_cast<TComponent*>(object)) {
        return StoreComponentProperty(component);
    }
    if (IsOnTheWay(object))
        return String();
    NestedStorage(object, Prefix + PropInfo->Name(), Section)->StoreObjectProperties();
    return String();
}

void TPropsStorage::LoadClassProperty(const String& Text, const TPropInfo* PropInfo) {
    TObject* object = PropInfo->GetObject(Target);
    if (!object)
        return;
    if (auto* strings = dynamic_cast<TStrings*>(object)) {
        LoadStringsProperty(PropInfo, strings);
    } else if (auto* collection = dynamic_cast<TCollection*>(object)) {
        LoadCollectionProperty(PropInfo, collection);
    } else if (dynamic_cast<TComponent*>(object)) {
        LoadComponentProperty(Text, PropInfo);
        return;
    }
    // The list may have been replaced by its setter.
    TObject* now = PropInfo->GetObject(Target);
    if (now && !IsOnTheWay(now))
        NestedStorage(now, Prefix + PropInfo->Name(), Section)->LoadObjectProperties();
}

void TPropsStorage::StoreStringsProperty(const TPropInfo* PropInfo, TStrings* Strings) {
    const String sub = Format("%s.%s", Section, GetItemName(PropInfo->Name()));
    EraseSection(sub);
    if (Strings->Count() == 0)
        return;
    WriteString(sub, "Count", IntToStr(Strings->Count()));
    for (int i = 0; i < Strings->Count(); ++i)
        WriteString(sub, Format("Item%d", i), Strings->Strings(i));
}

void TPropsStorage::LoadStringsProperty(const TPropInfo* PropInfo, TStrings* Strings) {
    const String sub = Format("%s.%s", Section, GetItemName(PropInfo->Name()));
    const int count = StrToIntDef(Trim(ReadString(sub, "Count", "0")), 0);
    if (count <= 0 || count > kMaxStoredItems)
        return;
    TStringList list;
    for (int i = 0; i < count; ++i)
        list.Add(ReadString(sub, Format("Item%d", i), String()));
    if (PropInfo->IsWritable())
        PropInfo->SetObject(Target, &list);
    else
        Strings->Assign(&list);
}

void TPropsStorage::StoreCollectionProperty(const TPropInfo* PropInfo, TCollection* Collection) {
    const String name = Prefix + PropInfo->Name();
    const String sub = Format("%s.%s", Section, name);
    EraseSection(sub);
    WriteString(Section, Format("%s.%s", name, "Count"), IntToStr(Collection->Count()));
    for (int i = 0; i < Collection->Count(); ++i) {
        NestedStorage(Collection->Items(i), Format("Item%d", i) + ItemNameSeparator, sub)
            ->StoreObjectProperties();
    }
}

void TPropsStorage::LoadCollectionProperty(const TPropInfo* PropInfo, TCollection* Collection) {
    const String name = Prefix + PropInfo->Name();
    const String sub = Format("%s.%s", Section, name);
    const int current = Collection->Count();
    int count = StrToIntDef(
        Trim(ReadString(Section, Format("%s.%s", name, "Count"), IntToStr(current))), current);
    if (count < 0 || count > kMaxStoredItems)
        count = current;
    Collection->BeginUpdate();
    struct Release {
        TCollection* c;
        ~Release() { c->EndUpdate(); }
    } release{Collection};
    if (count != current) {
        Collection->Clear();
        for (int i = 0; i < count; ++i)
            Collection->Add();
    }
    for (int i = 0; i < Collection->Count(); ++i) {
        NestedStorage(Collection->Items(i), Format("Item%d", i) + ItemNameSeparator, sub)
            ->LoadObjectProperties();
    }
}

String TPropsStorage::StoreComponentProperty(TComponent* Component) {
    TComponent* owner = Component->Owner();
    if (!owner || owner == Owner)
        return Component->Name();
    String ownerName = owner->Name();
    if (ownerName.empty()) {
        ownerName = owner->ClassName();
        if (!ownerName.empty() && (ownerName[0] == 'T' || ownerName[0] == 't'))
            ownerName.erase(0, 1);
    }
    return Format("%s.%s", ownerName, Component->Name());
}

void TPropsStorage::LoadComponentProperty(const String& Text, const TPropInfo* PropInfo) {
    const String text = Trim(Text);
    if (text.empty())
        return;
    if (AnsiSameText(text, "(null)")) {
        PropInfo->SetObject(Target, nullptr);
        return;
    }
    const std::size_t dot = text.find('.');
    TComponent* owner = Owner;
    String name = text;
    if (dot != String::npos) {
        owner = FindFormByName(text.substr(0, dot));
        name = text.substr(dot + 1);
    }
    if (!owner)
        return;
    PropInfo->SetObject(Target, owner->FindComponent(name));
}
