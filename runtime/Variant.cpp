#include "runtime/Variant.h"

#include <cmath>
#include <limits>

#include "runtime/DateTime.h"
#include "runtime/Exceptions.h"

String Variant::TypeName(TVarType type) {
    switch (type) {
        case varEmpty:
            return "Empty";
        case varNull:
            return "Null";
        case varInteger:
            return "Integer";
        case varDouble:
            return "Double";
        case varDate:
            return "Date";
        case varBoolean:
            return "Boolean";
        case varInt64:
            return "Int64";
        case varString:
            return "String";
    }
    return "Unknown";
}

void Variant::CannotConvert(TVarType to) const {
    throw EVariantError(Format("Could not convert variant of type (%s) into type (%s)",
                               TypeName(FType), TypeName(to)));
}

String Variant::AsString() const {
    switch (FType) {
        case varEmpty:
        case varNull:
            return String();
        case varBoolean:
            return FInt ? "True" : "False";
        case varInteger:
        case varInt64:
            return IntToStr(FInt);
        case varDouble:
            return FloatToStr(FFloat);
        case varDate:
            return DateTimeToStr(FFloat);
        case varString:
            return FText;
    }
    return String();
}

long long Variant::AsInt64() const {
    switch (FType) {
        case varEmpty:
            return 0;
        case varNull:
            CannotConvert(varInt64);
        case varBoolean:
            return FInt ? -1 : 0;
        case varInteger:
        case varInt64:
            return FInt;
        case varDouble:
        case varDate:
            if (!std::isfinite(FFloat) || std::fabs(FFloat) >= 9.2e18)
                CannotConvert(varInt64);
            return std::llround(FFloat);
        case varString: {
            long long v = 0;
            if (TryStrToInt64(Trim(FText), v))
                return v;
            double d = 0;
            if (TryStrToFloat(FText, d) && std::fabs(d) < 9.2e18)
                return std::llround(d);
            CannotConvert(varInt64);
        }
    }
    return 0;
}

int Variant::AsInteger() const {
    const long long v = AsInt64();
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        CannotConvert(varInteger);
    return static_cast<int>(v);
}

double Variant::AsDouble() const {
    switch (FType) {
        case varEmpty:
            return 0;
        case varNull:
            CannotConvert(varDouble);
        case varBoolean:
            return FInt ? -1 : 0;
        case varInteger:
        case varInt64:
            return static_cast<double>(FInt);
        case varDouble:
        case varDate:
            return FFloat;
        case varString: {
            double d = 0;
            if (TryStrToFloat(FText, d))
                return d;
            CannotConvert(varDouble);
        }
    }
    return 0;
}

bool Variant::AsBoolean() const {
    switch (FType) {
        case varEmpty:
            return false;
        case varNull:
            CannotConvert(varBoolean);
        case varBoolean:
        case varInteger:
        case varInt64:
            return FInt != 0;
        case varDouble:
        case varDate:
            return FFloat != 0;
        case varString: {
            const String t = Trim(FText);
            if (AnsiSameText(t, "True"))
                return true;
            if (AnsiSameText(t, "False"))
                return false;
            double d = 0;
            if (TryStrToFloat(t, d))
                return d != 0;
            CannotConvert(varBoolean);
        }
    }
    return false;
}

bool operator==(const Variant& a, const Variant& b) {
    auto numeric = [](TVarType t) {
        return t == varInteger || t == varInt64 || t == varDouble || t == varDate;
    };
    if (numeric(a.FType) && numeric(b.FType)) {
        const bool ints = (a.FType == varInteger || a.FType == varInt64) &&
                          (b.FType == varInteger || b.FType == varInt64);
        if (ints)
            return a.FInt == b.FInt;
        return a.AsDouble() == b.AsDouble();
    }
    if (a.FType != b.FType)
        return false;
    switch (a.FType) {
        case varEmpty:
        case varNull:
            return true;
        case varBoolean:
            return a.FInt == b.FInt;
        case varString:
            return a.FText == b.FText;
        default:
            return false;
    }
}
