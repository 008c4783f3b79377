#pragma once
// Format: the runtime's printf-like formatter.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/Cp1251.h"

// printf-like: %d %u %x (upper-case digits, as %X) %s %f %e %g %n (thousands
// grouped) %m (as %f) and %%, with an optional "index:", '-' (left justify),
// width, '.' precision and '*' for either.
// A wrong argument kind or a missing argument raises EConvertError
// "Format '%s' invalid or incompatible with argument".
class TFormatArg {
  public:
    enum Kind { fkInt, fkUInt, fkFloat, fkText };
    template <typename T>
    requires std::is_integral_v<T> TFormatArg(T v) {
        if constexpr (std::is_same_v<T, char>) {
            FKind = fkText;
            FText.assign(1, v);
        } else if constexpr (std::is_same_v<T, bool>) {
            FKind = fkInt;
            FInt = v ? 1 : 0;
        } else if constexpr (std::is_signed_v<T>) {
            FKind = fkInt;
            FInt = v;
        } else {
            FKind = fkUInt;
            FUInt = v;
        }
    }
    template <typename T>
    requires std::is_enum_v<T> TFormatArg(T v)
        : TFormatArg(static_cast<std::underlying_type_t<T>>(v)) {}
    TFormatArg(double v) : FKind(fkFloat), FFloat(v) {}
    TFormatArg(float v) : FKind(fkFloat), FFloat(v) {}
    TFormatArg(long double v) : FKind(fkFloat), FFloat(static_cast<double>(v)) {}
    TFormatArg(const char* s) : FKind(fkText), FText(s ? s : "") {}
    TFormatArg(std::string_view s) : FKind(fkText), FText(s) {}
    TFormatArg(const String& s) : FKind(fkText), FText(s) {}
    template <std::size_t M>
    TFormatArg(const CpLiteral<M>& s) : FKind(fkText), FText(s.view()) {}
    TFormatArg(const void* p) : FKind(fkUInt), FUInt(reinterpret_cast<std::uintptr_t>(p)) {}

    Kind kind() const { return FKind; }
    long long asInt() const { return FInt; }
    unsigned long long asUInt() const { return FUInt; }
    double asFloat() const { return FFloat; }
    const String& asText() const { return FText; }

  private:
    Kind FKind = fkInt;
    long long FInt = 0;
    unsigned long long FUInt = 0;
    double FFloat = 0;
    String FText;
};

String FormatArgs(std::string_view fmt, const std::vector<TFormatArg>& args);

template <typename... Args>
String Format(std::string_view fmt, const Args&... args) {
    return FormatArgs(fmt, std::vector<TFormatArg>{TFormatArg(args)...});
}
