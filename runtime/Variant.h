#pragma once
// Variant: a value of one of a few kinds, enough for stored values and
// published variant properties: empty (unassigned), null, integer, 64-bit
// integer, float, date, Boolean or string.

#include <type_traits>

#include "runtime/String.h"

enum TVarType {
    varEmpty = 0x0000,
    varNull = 0x0001,
    varInteger = 0x0003,
    varDouble = 0x0005,
    varDate = 0x0007,
    varBoolean = 0x000B,
    varInt64 = 0x0014,
    varString = 0x0100
};

class Variant {
  public:
    Variant() = default;
    template <typename T>
    requires std::is_integral_v<T> Variant(T v) {
        if constexpr (std::is_same_v<T, bool>) {
            FType = varBoolean;
            FInt = v ? 1 : 0;
        } else if constexpr (std::is_same_v<T, char>) {
            FType = varString;
            FText.assign(1, v);
        } else if constexpr (sizeof(T) <= 4 && (std::is_signed_v<T> || sizeof(T) < 4)) {
            FType = varInteger;
            FInt = v;
        } else {
            FType = varInt64;
            FInt = static_cast<long long>(v);
        }
    }
    Variant(double v) : FType(varDouble), FFloat(v) {}
    Variant(float v) : FType(varDouble), FFloat(v) {}
    Variant(const String& s) : FType(varString), FText(s) {}
    Variant(String&& s) : FType(varString), FText(std::move(s)) {}
    Variant(std::string_view s) : FType(varString), FText(s) {}
    Variant(const char* s) : FType(varString), FText(s ? s : "") {}
    template <std::size_t M>
    Variant(const CpLiteral<M>& s) : FType(varString), FText(s.view()) {}

    static Variant Null() {
        Variant v;
        v.FType = varNull;
        return v;
    }
    static Variant FromDate(double date) {
        Variant v;
        v.FType = varDate;
        v.FFloat = date;
        return v;
    }

    TVarType VarType() const { return FType; }
    bool IsEmpty() const { return FType == varEmpty; }
    bool IsNull() const { return FType == varNull; }
    void Clear() { *this = Variant(); }

    // Text of the value: "" for empty and null, "True"/"False", decimal
    // numbers (the regional decimal separator), dates as DateTimeToStr.
    String AsString() const;
    // Conversions raise EVariantError "Could not convert variant of type
    // (%s) into type (%s)"; text converts when it is a number ("True"/"False"
    // for Boolean, case ignored); empty converts to 0/false.
    int AsInteger() const;
    long long AsInt64() const;
    double AsDouble() const;
    bool AsBoolean() const;

    // Same kind and value (empty equals empty, null equals null); numbers
    // of different kinds compare by value.
    friend bool operator==(const Variant& a, const Variant& b);

    static String TypeName(TVarType type);

  private:
    [[noreturn]] void CannotConvert(TVarType to) const;

    TVarType FType = varEmpty;
    long long FInt = 0;
    double FFloat = 0;
    String FText;
};

inline Variant Unassigned() {
    return Variant();
}
inline Variant Null() {
    return Variant::Null();
}
inline bool VarIsEmpty(const Variant& v) {
    return v.IsEmpty();
}
inline bool VarIsNull(const Variant& v) {
    return v.IsNull();
}
inline String VarToStr(const Variant& v) {
    return v.AsString();
}
