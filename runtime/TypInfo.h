#pragma once
// Run-time type information: the published properties of classes.  Each
// class registers its properties once (a static registration function, or a
// function-local static in its constructor):
//
//   const TClassInfo* TCheckBox::ClassProperties() {
//       static const TClassInfo* info = RegisterPublishedClass<TCheckBox, TButtonControl>(
//           "TCheckBox", [](TPublishedProperties<TCheckBox>& p) {
//               p.Boolean("Checked", &TCheckBox::Checked, &TCheckBox::SetChecked);
//               p.String("Caption", &TCheckBox::Caption, &TCheckBox::SetCaption);
//           });
//       return info;
//   }
//
// A class inherits the properties of its registered ancestors; a property of
// the same name (case ignored) in a descendant replaces the ancestor's.  An
// object whose own class registered nothing shows the properties of its
// nearest registered ancestor.

#include <functional>
#include <memory>
#include <type_traits>
#include <typeindex>
#include <vector>

#include "runtime/Classes.h"
#include "runtime/Exceptions.h"
#include "runtime/Set.h"
#include "runtime/String.h"
#include "runtime/Variant.h"

enum TTypeKind {
    tkUnknown,
    tkInteger,
    tkChar,
    tkEnumeration,
    tkFloat,
    tkString,  // short string
    tkSet,
    tkClass,
    tkMethod,
    tkWChar,
    tkLString,  // long string: String
    tkWString,
    tkVariant,
    tkArray,
    tkRecord,
    tkInterface,
    tkInt64,
    tkDynArray
};
using TTypeKinds = TSet<TTypeKind>;

inline constexpr TTypeKinds tkAny =
    TTypeKinds{tkUnknown, tkInteger, tkChar,   tkEnumeration, tkFloat,   tkString,
               tkSet,     tkClass,   tkMethod, tkWChar,       tkLString, tkWString,
               tkVariant, tkArray,   tkRecord, tkInterface,   tkInt64,   tkDynArray};
inline constexpr TTypeKinds tkMethods = TTypeKinds{tkMethod};
// Every kind that holds a value: no events, no untyped properties.
inline constexpr TTypeKinds tkProperties = tkAny - TTypeKinds{tkMethod, tkUnknown};

enum TFloatType { ftSingle, ftDouble, ftExtended, ftComp, ftCurr };

// The type of a property.  Types live as long as the process.
class TTypeInfo {
  public:
    TTypeKind Kind = tkUnknown;
    String Name;
    // Ordinal types: the range.  Enumerations: Names[i] is the identifier
    // of ordinal MinValue + i.
    long long MinValue = 0;
    long long MaxValue = 0;
    std::vector<String> Names;
    // Sets: the element type (an enumeration or an integer sub-range).
    const TTypeInfo* CompType = nullptr;
    TFloatType FloatType = ftDouble;
};

// Built-in types.
const TTypeInfo* IntegerTypeInfo();      // tkInteger "Integer"
const TTypeInfo* CardinalTypeInfo();     // tkInteger "Cardinal"
const TTypeInfo* BooleanTypeInfo();      // tkEnumeration "Boolean": False, True
const TTypeInfo* CharTypeInfo();         // tkChar "Char"
const TTypeInfo* WideCharTypeInfo();     // tkWChar "WideChar"
const TTypeInfo* Int64TypeInfo();        // tkInt64 "Int64"
const TTypeInfo* SingleTypeInfo();       // tkFloat ftSingle
const TTypeInfo* DoubleTypeInfo();       // tkFloat ftDouble
const TTypeInfo* ExtendedTypeInfo();     // tkFloat ftExtended
const TTypeInfo* CompTypeInfo();         // tkFloat ftComp
const TTypeInfo* CurrencyTypeInfo();     // tkFloat ftCurr
const TTypeInfo* DateTimeTypeInfo();     // tkFloat ftDouble "TDateTime"
const TTypeInfo* StringTypeInfo();       // tkLString "String"
const TTypeInfo* ShortStringTypeInfo();  // tkString "ShortString"
const TTypeInfo* WideStringTypeInfo();   // tkWString "WideString"
const TTypeInfo* VariantTypeInfo();      // tkVariant "Variant"
const TTypeInfo* NotifyEventTypeInfo();  // tkMethod "TNotifyEvent"

// New types; the returned pointer is valid for the life of the process.
const TTypeInfo* NewEnumTypeInfo(String name, std::vector<String> identifiers,
                                 long long minValue = 0);
const TTypeInfo* NewIntegerTypeInfo(String name, long long minValue, long long maxValue);
const TTypeInfo* NewSetTypeInfo(String name, const TTypeInfo* elementType);
const TTypeInfo* NewClassTypeInfo(String className);
const TTypeInfo* NewMethodTypeInfo(String name);
const TTypeInfo* NewTypeInfo(TTypeKind kind, String name);

// The identifier of an enumeration value ("" outside the range); an integer
// type gives the decimal number.
String GetEnumName(const TTypeInfo* type, long long value);
// The ordinal of an identifier (case ignored, lowest ordinal first), or -1.
long long GetEnumValue(const TTypeInfo* type, std::string_view name);

// One published property.
class TPropInfo {
  public:
    using OrdGetter = std::function<long long(TObject*)>;
    using OrdSetter = std::function<void(TObject*, long long)>;
    using FloatGetter = std::function<double(TObject*)>;
    using FloatSetter = std::function<void(TObject*, double)>;
    using StrGetter = std::function<String(TObject*)>;
    using StrSetter = std::function<void(TObject*, const String&)>;
    using VariantGetter = std::function<Variant(TObject*)>;
    using VariantSetter = std::function<void(TObject*, const Variant&)>;
    using ObjectGetter = std::function<TObject*(TObject*)>;
    using ObjectSetter = std::function<void(TObject*, TObject*)>;
    using AssignedGetter = std::function<bool(TObject*)>;

    TPropInfo(String name, const TTypeInfo* type) : FName(std::move(name)), FType(type) {}

    const String& Name() const { return FName; }
    const TTypeInfo* PropType() const { return FType; }
    TTypeKind Kind() const { return FType ? FType->Kind : tkUnknown; }
    bool IsWritable() const;
    // The declared default of an ordinal property, when there is one.
    bool HasDefault() const { return FHasDefault; }
    long long Default() const { return FDefault; }
    void SetDefault(long long value) {
        FHasDefault = true;
        FDefault = value;
    }

    // Accessors by kind.  Ordinal: integer, char, enumeration, set (the
    // member bits), wide char, 64-bit integer.  A call that does not fit the
    // kind raises EPropertyError "Invalid property type: %s"; writing a
    // property without a setter raises EPropertyError "Property %s is read-only".
    long long GetOrd(TObject* obj) const;
    void SetOrd(TObject* obj, long long value) const;
    double GetFloat(TObject* obj) const;
    void SetFloat(TObject* obj, double value) const;
    String GetStr(TObject* obj) const;
    void SetStr(TObject* obj, const String& value) const;
    Variant GetVariant(TObject* obj) const;
    void SetVariant(TObject* obj, const Variant& value) const;
    TObject* GetObject(TObject* obj) const;
    // EPropertyError "Invalid property value" when value is not of the
    // property's class.
    void SetObject(TObject* obj, TObject* value) const;
    // Method properties: whether the event is assigned.
    bool IsAssigned(TObject* obj) const;

    // Used by TPublishedProperties.
    OrdGetter FGetOrd;
    OrdSetter FSetOrd;
    FloatGetter FGetFloat;
    FloatSetter FSetFloat;
    StrGetter FGetStr;
    StrSetter FSetStr;
    VariantGetter FGetVariant;
    VariantSetter FSetVariant;
    ObjectGetter FGetObject;
    ObjectSetter FSetObject;
    AssignedGetter FAssigned;

  private:
    [[noreturn]] void Invalid() const;
    [[noreturn]] void ReadOnly() const;

    String FName;
    const TTypeInfo* FType;
    bool FHasDefault = false;
    long long FDefault = 0;
};

// The registered description of one class.
class TClassInfo {
  public:
    const String& Name() const { return FName; }
    // The nearest registered ancestor, or nullptr.
    const TClassInfo* Parent() const;
    const TTypeInfo* ClassType() const { return FClassType; }
    // Own and inherited properties of the kinds, in name order (case ignored).
    std::vector<const TPropInfo*> Properties(TTypeKinds kinds = tkAny) const;
    // The property of that name, case ignored (own before inherited), or nullptr.
    const TPropInfo* FindProperty(std::string_view name) const;
    // True when obj is an instance of this class or of a descendant.
    bool IsInstance(const TObject* obj) const { return FMatches && FMatches(obj); }

    // Used by the registry.
    String FName;
    std::type_index FType = typeid(void);
    std::type_index FParentType = typeid(void);
    std::function<bool(const TObject*)> FMatches;
    std::vector<std::unique_ptr<TPropInfo>> FOwn;
    const TTypeInfo* FClassType = nullptr;
};

// The class description of obj's dynamic class, or of its nearest
// registered ancestor; nullptr when none is registered.
const TClassInfo* GetClassInfo(const TObject* obj);
const TClassInfo* FindClassInfo(std::string_view className);
template <typename T>
const TClassInfo* ClassInfoOf();

// The published properties of obj of the given kinds, in name order.
std::vector<const TPropInfo*> GetPropList(const TObject* obj, TTypeKinds kinds = tkAny);
// The property of obj of that name (case ignored), or nullptr.
const TPropInfo* GetPropInfo(const TObject* obj, std::string_view name, TTypeKinds kinds = tkAny);
bool IsPublishedProp(const TObject* obj, std::string_view name);

// The property as a Variant (ordinal kinds as Int64 or Boolean for Boolean,
// float as Double, strings as String, variants as they are), and back.
Variant GetPropValue(TObject* obj, const TPropInfo* prop);
void SetPropValue(TObject* obj, const TPropInfo* prop, const Variant& value);

namespace runtime_detail {

template <typename R>
long long ToOrdinal(const R& value) {
    if constexpr (std::is_same_v<R, bool>)
        return value ? 1 : 0;
    else if constexpr (std::is_same_v<R, char>)
        return static_cast<unsigned char>(value);
    else if constexpr (std::is_enum_v<R>)
        return static_cast<long long>(value);
    else if constexpr (std::is_integral_v<R>)
        return static_cast<long long>(value);
    else
        return static_cast<long long>(value.Bits());  // TSet
}

template <typename R>
R FromOrdinal(long long value) {
    if constexpr (std::is_same_v<R, bool>)
        return value != 0;
    else if constexpr (std::is_same_v<R, char>)
        return static_cast<char>(static_cast<unsigned char>(value));
    else if constexpr (std::is_enum_v<R> || std::is_integral_v<R>)
        return static_cast<R>(value);
    else
        return R::FromBits(static_cast<std::uint64_t>(value));  // TSet
}

template <typename G, typename T>
using GetterResult = std::remove_cvref_t<std::invoke_result_t<G, T*>>;

const TClassInfo* RegisterClassInfo(std::unique_ptr<TClassInfo> info);
const TClassInfo* FindRegistered(std::type_index type);

}  // namespace runtime_detail

// Collects the properties of class T.  Getters are callables on T* (member
// functions, member pointers, lambdas); setters take T* and the value, or
// are nullptr for read-only properties.
template <typename T>
class TPublishedProperties {
  public:
    explicit TPublishedProperties(TClassInfo& info) : FInfo(info) {}

    // Any ordinal: integer, char, enumeration, set, wide char, int64, as the
    // type says.
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& Ordinal(::String name, const TTypeInfo* type, G get, S set = nullptr) {
        using R = runtime_detail::GetterResult<G, T>;
        TPropInfo& p = Add(std::move(name), type);
        p.FGetOrd = [get](TObject* o) {
            return runtime_detail::ToOrdinal<R>(std::invoke(get, static_cast<T*>(o)));
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.FSetOrd = [set](TObject* o, long long v) {
                std::invoke(set, static_cast<T*>(o), runtime_detail::FromOrdinal<R>(v));
            };
        return p;
    }
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& Integer(::String name, G get, S set = nullptr) {
        return Ordinal(std::move(name), IntegerTypeInfo(), get, set);
    }
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& Boolean(::String name, G get, S set = nullptr) {
        return Ordinal(std::move(name), BooleanTypeInfo(), get, set);
    }
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& Char(::String name, G get, S set = nullptr) {
        return Ordinal(std::move(name), CharTypeInfo(), get, set);
    }
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& WideChar(::String name, G get, S set = nullptr) {
        return Ordinal(std::move(name), WideCharTypeInfo(), get, set);
    }
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& Int64(::String name, G get, S set = nullptr) {
        return Ordinal(std::move(name), Int64TypeInfo(), get, set);
    }
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& Enumeration(::String name, const TTypeInfo* type, G get, S set = nullptr) {
        return Ordinal(std::move(name), type, get, set);
    }
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& Set(::String name, const TTypeInfo* type, G get, S set = nullptr) {
        return Ordinal(std::move(name), type, get, set);
    }

    template <typename G, typename S = std::nullptr_t>
    TPropInfo& Float(::String name, G get, S set = nullptr,
                     const TTypeInfo* type = DoubleTypeInfo()) {
        using R = runtime_detail::GetterResult<G, T>;
        TPropInfo& p = Add(std::move(name), type);
        p.FGetFloat = [get](TObject* o) {
            return static_cast<double>(std::invoke(get, static_cast<T*>(o)));
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.FSetFloat = [set](TObject* o, double v) {
                std::invoke(set, static_cast<T*>(o), static_cast<R>(v));
            };
        return p;
    }

    // Long string (tkLString); ShortString gives tkString.
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& String(::String name, G get, S set = nullptr,
                      const TTypeInfo* type = StringTypeInfo()) {
        TPropInfo& p = Add(std::move(name), type);
        p.FGetStr = [get](TObject* o) { return ::String(std::invoke(get, static_cast<T*>(o))); };
        if constexpr (!std::is_null_pointer_v<S>)
            p.FSetStr = [set](TObject* o, const ::String& v) {
                std::invoke(set, static_cast<T*>(o), v);
            };
        return p;
    }
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& ShortString(::String name, G get, S set = nullptr) {
        return String(std::move(name), get, set, ShortStringTypeInfo());
    }

    template <typename G, typename S = std::nullptr_t>
    TPropInfo& VariantProp(::String name, G get, S set = nullptr) {
        TPropInfo& p = Add(std::move(name), VariantTypeInfo());
        p.FGetVariant = [get](TObject* o) { return Variant(std::invoke(get, static_cast<T*>(o))); };
        if constexpr (!std::is_null_pointer_v<S>)
            p.FSetVariant = [set](TObject* o, const Variant& v) {
                std::invoke(set, static_cast<T*>(o), v);
            };
        return p;
    }

    // A class property: the getter returns a pointer to a TObject
    // descendant, the setter takes one.
    template <typename G, typename S = std::nullptr_t>
    TPropInfo& Class(::String name, const TTypeInfo* type, G get, S set = nullptr) {
        using R = runtime_detail::GetterResult<G, T>;
        using C = std::remove_cv_t<std::remove_pointer_t<R>>;
        static_assert(std::is_pointer_v<R> && std::is_base_of_v<TObject, C>,
                      "a class property's getter returns a pointer to a TObject descendant");
        TPropInfo& p = Add(std::move(name), type);
        p.FGetObject = [get](TObject* o) -> TObject* {
            return const_cast<C*>(std::invoke(get, static_cast<T*>(o)));
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.FSetObject = [set](TObject* o, TObject* v) {
                C* typed = dynamic_cast<C*>(v);
                if (v != nullptr && typed == nullptr)
                    throw EPropertyError("Invalid property value");
                std::invoke(set, static_cast<T*>(o), typed);
            };
        return p;
    }

    // An event (tkMethod); isAssigned tells whether a handler is set.
    template <typename A = std::nullptr_t>
    TPropInfo& Method(::String name, A isAssigned = nullptr,
                      const TTypeInfo* type = NotifyEventTypeInfo()) {
        TPropInfo& p = Add(std::move(name), type);
        if constexpr (std::is_member_object_pointer_v<A>)
            p.FAssigned = [isAssigned](TObject* o) {
                return static_cast<bool>(static_cast<T*>(o)->*isAssigned);
            };
        else if constexpr (!std::is_null_pointer_v<A>)
            p.FAssigned = [isAssigned](TObject* o) {
                return static_cast<bool>(std::invoke(isAssigned, static_cast<T*>(o)));
            };
        return p;
    }

    // A property of another kind (array, record, interface...) that is only
    // listed.
    TPropInfo& Other(::String name, const TTypeInfo* type) { return Add(std::move(name), type); }

  private:
    TPropInfo& Add(::String name, const TTypeInfo* type) {
        FInfo.FOwn.push_back(std::make_unique<TPropInfo>(std::move(name), type));
        return *FInfo.FOwn.back();
    }
    TClassInfo& FInfo;
};

// Registers class T under name with the properties define adds; T inherits
// the properties of Parent, its nearest ancestor that registers properties
// (TObject: none).  Registering the same class again returns the first
// registration.
template <typename T, typename Parent = TObject, typename Define>
const TClassInfo* RegisterPublishedClass(String name, Define define) {
    static_assert(std::is_base_of_v<TObject, T>, "published classes derive from TObject");
    static_assert(std::is_base_of_v<Parent, T> || std::is_same_v<Parent, T>,
                  "Parent is an ancestor of T");
    if (const TClassInfo* existing = runtime_detail::FindRegistered(typeid(T)))
        return existing;
    auto info = std::make_unique<TClassInfo>();
    info->FName = name;
    info->FType = typeid(T);
    info->FParentType =
        std::is_same_v<Parent, T> ? std::type_index(typeid(void)) : std::type_index(typeid(Parent));
    info->FMatches = [](const TObject* o) { return dynamic_cast<const T*>(o) != nullptr; };
    info->FClassType = NewClassTypeInfo(name);
    TPublishedProperties<T> props(*info);
    define(props);
    return runtime_detail::RegisterClassInfo(std::move(info));
}

template <typename T>
const TClassInfo* ClassInfoOf() {
    return runtime_detail::FindRegistered(typeid(T));
}
