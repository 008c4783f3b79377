#include "runtime/TypInfo.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <mutex>

// --- types -------------------------------------------------------------------------

namespace {

// Types are kept for the life of the process; a deque never moves them.
std::deque<TTypeInfo>& TypeStore() {
    static std::deque<TTypeInfo> store;
    return store;
}

std::mutex& TypeMutex() {
    static std::mutex m;
    return m;
}

const TTypeInfo* Keep(TTypeInfo info) {
    std::lock_guard<std::mutex> lock(TypeMutex());
    TypeStore().push_back(std::move(info));
    return &TypeStore().back();
}

TTypeInfo Make(TTypeKind kind, String name, long long lo = 0, long long hi = 0) {
    TTypeInfo t;
    t.Kind = kind;
    t.Name = std::move(name);
    t.MinValue = lo;
    t.MaxValue = hi;
    return t;
}

const TTypeInfo* Float(String name, TFloatType ft) {
    TTypeInfo t = Make(tkFloat, std::move(name));
    t.FloatType = ft;
    return Keep(std::move(t));
}

}  // namespace

const TTypeInfo* IntegerTypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkInteger, "Integer", -2147483648LL, 2147483647LL));
    return t;
}
const TTypeInfo* CardinalTypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkInteger, "Cardinal", 0, 4294967295LL));
    return t;
}
const TTypeInfo* BooleanTypeInfo() {
    static const TTypeInfo* t = NewEnumTypeInfo("Boolean", {"False", "True"});
    return t;
}
const TTypeInfo* CharTypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkChar, "Char", 0, 255));
    return t;
}
const TTypeInfo* WideCharTypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkWChar, "WideChar", 0, 65535));
    return t;
}
const TTypeInfo* Int64TypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkInt64, "Int64", std::numeric_limits<long long>::min(),
                                          std::numeric_limits<long long>::max()));
    return t;
}
const TTypeInfo* SingleTypeInfo() {
    static const TTypeInfo* t = Float("Single", ftSingle);
    return t;
}
const TTypeInfo* DoubleTypeInfo() {
    static const TTypeInfo* t = Float("Double", ftDouble);
    return t;
}
const TTypeInfo* ExtendedTypeInfo() {
    static const TTypeInfo* t = Float("Extended", ftExtended);
    return t;
}
const TTypeInfo* CompTypeInfo() {
    static const TTypeInfo* t = Float("Comp", ftComp);
    return t;
}
const TTypeInfo* CurrencyTypeInfo() {
    static const TTypeInfo* t = Float("Currency", ftCurr);
    return t;
}
const TTypeInfo* DateTimeTypeInfo() {
    static const TTypeInfo* t = Float("TDateTime", ftDouble);
    return t;
}
const TTypeInfo* StringTypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkLString, "String"));
    return t;
}
const TTypeInfo* ShortStringTypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkString, "ShortString"));
    return t;
}
const TTypeInfo* WideStringTypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkWString, "WideString"));
    return t;
}
const TTypeInfo* VariantTypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkVariant, "Variant"));
    return t;
}
const TTypeInfo* NotifyEventTypeInfo() {
    static const TTypeInfo* t = Keep(Make(tkMethod, "TNotifyEvent"));
    return t;
}

const TTypeInfo* NewEnumTypeInfo(String name, std::vector<String> identifiers, long long minValue) {
    TTypeInfo t = Make(tkEnumeration, std::move(name), minValue,
                       minValue + static_cast<long long>(identifiers.size()) - 1);
    t.Names = std::move(identifiers);
    return Keep(std::move(t));
}

const TTypeInfo* NewIntegerTypeInfo(String name, long long minValue, long long maxValue) {
    return Keep(Make(tkInteger, std::move(name), minValue, maxValue));
}

const TTypeInfo* NewSetTypeInfo(String name, const TTypeInfo* elementType) {
    TTypeInfo t = Make(tkSet, std::move(name));
    t.CompType = elementType;
    if (elementType != nullptr) {
        t.MinValue = elementType->MinValue;
        t.MaxValue = elementType->MaxValue;
    }
    return Keep(std::move(t));
}

const TTypeInfo* NewClassTypeInfo(String className) {
    return Keep(Make(tkClass, std::move(className)));
}

const TTypeInfo* NewMethodTypeInfo(String name) {
    return Keep(Make(tkMethod, std::move(name)));
}

const TTypeInfo* NewTypeInfo(TTypeKind kind, String name) {
    return Keep(Make(kind, std::move(name)));
}

String GetEnumName(const TTypeInfo* type, long long value) {
    if (type == nullptr)
        return String();
    if (type->Kind == tkEnumeration) {
        if (value < type->MinValue || value > type->MaxValue)
            return String();
        const auto i = static_cast<std::size_t>(value - type->MinValue);
        return i < type->Names.size() ? type->Names[i] : String();
    }
    return IntToStr(value);
}

long long GetEnumValue(const TTypeInfo* type, std::string_view name) {
    if (type == nullptr)
        return -1;
    if (type->Kind == tkEnumeration) {
        for (std::size_t i = 0; i < type->Names.size(); ++i)
            if (AnsiSameText(type->Names[i], name))
                return type->MinValue + static_cast<long long>(i);
        return -1;
    }
    long long v = 0;
    return TryStrToInt64(Trim(name), v) ? v : -1;
}

// --- property accessors -----------------------------------------------------------------

void TPropInfo::Invalid() const {
    throw EPropertyError(Format("Invalid property type: %s", FType ? FType->Name : String("?")));
}

void TPropInfo::ReadOnly() const {
    throw EPropertyError(Format("Property %s is read-only", FName));
}

bool TPropInfo::IsWritable() const {
    return FSetOrd || FSetFloat || FSetStr || FSetVariant || FSetObject;
}

long long TPropInfo::GetOrd(TObject* obj) const {
    if (!FGetOrd)
        Invalid();
    return FGetOrd(obj);
}

void TPropInfo::SetOrd(TObject* obj, long long value) const {
    if (!FGetOrd)
        Invalid();
    if (!FSetOrd)
        ReadOnly();
    FSetOrd(obj, value);
}

double TPropInfo::GetFloat(TObject* obj) const {
    if (!FGetFloat)
        Invalid();
    return FGetFloat(obj);
}

void TPropInfo::SetFloat(TObject* obj, double value) const {
    if (!FGetFloat)
        Invalid();
    if (!FSetFloat)
        ReadOnly();
    FSetFloat(obj, value);
}

String TPropInfo::GetStr(TObject* obj) const {
    if (!FGetStr)
        Invalid();
    return FGetStr(obj);
}

void TPropInfo::SetStr(TObject* obj, const String& value) const {
    if (!FGetStr)
        Invalid();
    if (!FSetStr)
        ReadOnly();
    FSetStr(obj, value);
}

Variant TPropInfo::GetVariant(TObject* obj) const {
    if (!FGetVariant)
        Invalid();
    return FGetVariant(obj);
}

void TPropInfo::SetVariant(TObject* obj, const Variant& value) const {
    if (!FGetVariant)
        Invalid();
    if (!FSetVariant)
        ReadOnly();
    FSetVariant(obj, value);
}

TObject* TPropInfo::GetObject(TObject* obj) const {
    if (!FGetObject)
        Invalid();
    return FGetObject(obj);
}

void TPropInfo::SetObject(TObject* obj, TObject* value) const {
    if (!FGetObject)
        Invalid();
    if (!FSetObject)
        ReadOnly();
    FSetObject(obj, value);
}

bool TPropInfo::IsAssigned(TObject* obj) const {
    if (Kind() != tkMethod)
        Invalid();
    return FAssigned ? FAssigned(obj) : false;
}

Variant GetPropValue(TObject* obj, const TPropInfo* prop) {
    if (prop == nullptr)
        throw EPropertyError("Unknown property");
    if (prop->FGetOrd) {
        const long long v = prop->GetOrd(obj);
        if (prop->PropType() == BooleanTypeInfo())
            return Variant(v != 0);
        if (prop->Kind() == tkInt64)
            return Variant(v);
        if (v >= -2147483648LL && v <= 2147483647LL)
            return Variant(static_cast<int>(v));
        return Variant(v);
    }
    if (prop->FGetFloat)
        return Variant(prop->GetFloat(obj));
    if (prop->FGetStr)
        return Variant(prop->GetStr(obj));
    if (prop->FGetVariant)
        return prop->GetVariant(obj);
    throw EPropertyError(Format("Invalid property type: %s", prop->PropType()->Name));
}

void SetPropValue(TObject* obj, const TPropInfo* prop, const Variant& value) {
    if (prop == nullptr)
        throw EPropertyError("Unknown property");
    if (prop->FGetOrd) {
        if (prop->Kind() == tkEnumeration && value.VarType() == varString) {
            const long long v = GetEnumValue(prop->PropType(), Trim(value.AsString()));
            if (v < 0)
                throw EPropertyError("Invalid property value");
            prop->SetOrd(obj, v);
        } else if (prop->PropType() == BooleanTypeInfo()) {
            prop->SetOrd(obj, value.AsBoolean() ? 1 : 0);
        } else {
            prop->SetOrd(obj, value.AsInt64());
        }
        return;
    }
    if (prop->FGetFloat)
        return prop->SetFloat(obj, value.AsDouble());
    if (prop->FGetStr)
        return prop->SetStr(obj, value.AsString());
    if (prop->FGetVariant)
        return prop->SetVariant(obj, value);
    throw EPropertyError(Format("Invalid property type: %s", prop->PropType()->Name));
}

// --- class registry ---------------------------------------------------------------------

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::type_index, std::unique_ptr<TClassInfo>> byType;
    // The resolved class of each dynamic type seen (nullptr: none); cleared
    // whenever a class is registered.
    std::map<std::type_index, const TClassInfo*> resolved;
};

Registry& Reg() {
    static Registry r;
    return r;
}

const TClassInfo* FindLocked(Registry& r, std::type_index type) {
    const auto it = r.byType.find(type);
    return it == r.byType.end() ? nullptr : it->second.get();
}

int Depth(const TClassInfo* c) {
    int d = 0;
    for (const TClassInfo* p = c->Parent(); p != nullptr && d < 1000; p = p->Parent())
        ++d;
    return d;
}

}  // namespace

namespace runtime_detail {

const TClassInfo* RegisterClassInfo(std::unique_ptr<TClassInfo> info) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (const TClassInfo* existing = FindLocked(r, info->FType))
        return existing;
    const TClassInfo* result = info.get();
    r.byType.emplace(info->FType, std::move(info));
    r.resolved.clear();
    return result;
}

const TClassInfo* FindRegistered(std::type_index type) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    return FindLocked(r, type);
}

}  // namespace runtime_detail

const TClassInfo* TClassInfo::Parent() const {
    // Found when asked, so a class may register before its ancestor does.
    if (FParentType == std::type_index(typeid(void)))
        return nullptr;
    return runtime_detail::FindRegistered(FParentType);
}

std::vector<const TPropInfo*> TClassInfo::Properties(TTypeKinds kinds) const {
    // Upper-case name -> property; the nearest class wins.
    std::map<String, const TPropInfo*> byName;
    int guard = 0;
    for (const TClassInfo* c = this; c != nullptr && guard < 1000; c = c->Parent(), ++guard)
        for (const auto& p : c->FOwn)
            byName.emplace(AnsiUpperCase(p->Name()), p.get());
    std::vector<const TPropInfo*> list;
    for (const auto& [key, prop] : byName)
        if (kinds.Contains(prop->Kind()))
            list.push_back(prop);
    std::stable_sort(list.begin(), list.end(), [](const TPropInfo* a, const TPropInfo* b) {
        return AnsiCompareText(a->Name(), b->Name()) < 0;
    });
    return list;
}

const TPropInfo* TClassInfo::FindProperty(std::string_view name) const {
    int guard = 0;
    for (const TClassInfo* c = this; c != nullptr && guard < 1000; c = c->Parent(), ++guard)
        for (const auto& p : c->FOwn)
            if (AnsiSameText(p->Name(), name))
                return p.get();
    return nullptr;
}

const TClassInfo* GetClassInfo(const TObject* obj) {
    if (obj == nullptr)
        return nullptr;
    const std::type_index type = typeid(*obj);
    std::vector<const TClassInfo*> candidates;
    {
        Registry& r = Reg();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (const TClassInfo* exact = FindLocked(r, type))
            return exact;
        const auto it = r.resolved.find(type);
        if (it != r.resolved.end())
            return it->second;
        for (const auto& [t, info] : r.byType)
            if (info->IsInstance(obj))
                candidates.push_back(info.get());
    }
    // The nearest registered ancestor: the deepest of the matching classes.
    const TClassInfo* best = nullptr;
    int bestDepth = -1;
    for (const TClassInfo* c : candidates) {
        const int d = Depth(c);
        if (d > bestDepth) {
            best = c;
            bestDepth = d;
        }
    }
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.resolved[type] = best;
    return best;
}

const TClassInfo* FindClassInfo(std::string_view className) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& [t, info] : r.byType)
        if (AnsiSameText(info->Name(), className))
            return info.get();
    return nullptr;
}

std::vector<const TPropInfo*> GetPropList(const TObject* obj, TTypeKinds kinds) {
    const TClassInfo* c = GetClassInfo(obj);
    return c ? c->Properties(kinds) : std::vector<const TPropInfo*>{};
}

const TPropInfo* GetPropInfo(const TObject* obj, std::string_view name, TTypeKinds kinds) {
    const TClassInfo* c = GetClassInfo(obj);
    if (c == nullptr)
        return nullptr;
    const TPropInfo* p = c->FindProperty(name);
    return p != nullptr && kinds.Contains(p->Kind()) ? p : nullptr;
}

bool IsPublishedProp(const TObject* obj, std::string_view name) {
    return GetPropInfo(obj, name) != nullptr;
}
