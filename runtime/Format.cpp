// Format: the printf-like formatter of the runtime.

#include <cstdio>

#include "runtime/Exceptions.h"
#include "runtime/Format.h"
#include "runtime/String.h"

namespace {

[[noreturn]] void Invalid(std::string_view fmt) {
    throw EConvertError("Format '" + String(fmt) + "' invalid or incompatible with argument");
}

String Pad(String text, int width, bool left) {
    if (width > 0 && static_cast<int>(text.size()) < width) {
        const String fill(static_cast<std::size_t>(width) - text.size(), ' ');
        text = left ? text + fill : fill + text;
    }
    return text;
}

// Digits of an integer with at least precision digits (zeros in front).
String Digits(unsigned long long v, int base, bool upper, int precision) {
    String d;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        d.insert(d.begin(), set[v % static_cast<unsigned>(base)]);
        v /= static_cast<unsigned>(base);
    } while (v != 0);
    if (precision > static_cast<int>(d.size()))
        d.insert(0, static_cast<std::size_t>(precision) - d.size(), '0');
    return d;
}

String FloatText(double v, char conv, int precision) {
    char pattern[8] = "%.*f";
    if (conv == 'e')
        pattern[3] = 'E';
    else if (conv == 'g')
        pattern[3] = 'G';
    char buf[512];
    std::snprintf(buf, sizeof buf, pattern, precision, v);
    String r(buf);
    for (char& c : r)
        if (c == '.')
            c = DecimalSeparator();
    return r;
}

// Inserts the thousands separator into the integer part of a %n number.
String GroupThousands(const String& text) {
    std::size_t start = (!text.empty() && text[0] == '-') ? 1 : 0;
    std::size_t end = text.find(DecimalSeparator(), start);
    if (end == String::npos)
        end = text.size();
    String r = text.substr(0, start);
    const String whole = text.substr(start, end - start);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0)
            r.push_back(',');
        r.push_back(whole[i]);
    }
    return r + text.substr(end);
}

}  // namespace

String FormatArgs(std::string_view fmt, const std::vector<TFormatArg>& args) {
    String out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%') {
            out.push_back(fmt[i]);
            continue;
        }
        if (++i >= fmt.size())
            Invalid(fmt);
        if (fmt[i] == '%') {
            out.push_back('%');
            continue;
        }
        // [index:] [-] [width] [.precision] type
        std::size_t save = i;
        int number = 0;
        bool digits = false;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
            number = number * 10 + (fmt[i] - '0');
            if (number > 100000)
                Invalid(fmt);
            digits = true;
            ++i;
        }
        if (digits && i < fmt.size() && fmt[i] == ':') {
            next = static_cast<std::size_t>(number);
            ++i;
        } else {
            i = save;
        }
        bool left = false;
        if (i < fmt.size() && fmt[i] == '-') {
            left = true;
            ++i;
        }
        auto readNumber = [&](int& value) {
            if (i < fmt.size() && fmt[i] == '*') {
                if (next >= args.size() || args[next].kind() != TFormatArg::fkInt)
                    Invalid(fmt);
                const long long v = args[next++].asInt();
                value = v < 0 ? 0 : (v > 100000 ? 100000 : static_cast<int>(v));
                ++i;
                return;
            }
            while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
                value = value * 10 + (fmt[i] - '0');
                if (value > 100000)
                    Invalid(fmt);
                ++i;
            }
        };
        int width = 0, precision = -1;
        readNumber(width);
        if (i < fmt.size() && fmt[i] == '.') {
            ++i;
            precision = 0;
            readNumber(precision);
        }
        if (i >= fmt.size() || next >= args.size())
            Invalid(fmt);
        const TFormatArg& a = args[next++];
        const char conv = static_cast<char>(fmt[i] >= 'A' && fmt[i] <= 'Z' ? fmt[i] + 32 : fmt[i]);
        String text;
        switch (conv) {
            case 'd':
            case 'u': {
                if (a.kind() == TFormatArg::fkInt) {
                    const long long v = a.asInt();
                    const unsigned long long mag = v < 0 ? 0ULL - static_cast<unsigned long long>(v)
                                                         : static_cast<unsigned long long>(v);
                    text = (v < 0 ? "-" : "") + Digits(mag, 10, false, precision);
                } else if (a.kind() == TFormatArg::fkUInt) {
                    text = Digits(a.asUInt(), 10, false, precision);
                } else {
                    Invalid(fmt);
                }
                break;
            }
            case 'x': {
                unsigned long long v;
                if (a.kind() == TFormatArg::fkInt)
                    v = static_cast<unsigned long long>(a.asInt());
                else if (a.kind() == TFormatArg::fkUInt)
                    v = a.asUInt();
                else
                    Invalid(fmt);
                // Negative ints print their 32-bit pattern when they fit.
                if (a.kind() == TFormatArg::fkInt && a.asInt() < 0 && a.asInt() >= -2147483648LL)
                    v &= 0xFFFFFFFFULL;
                text = Digits(v, 16, true, precision);
                break;
            }
            case 's':
                if (a.kind() != TFormatArg::fkText)
                    Invalid(fmt);
                text = a.asText();
                if (precision >= 0 && static_cast<std::size_t>(precision) < text.size())
                    text.resize(static_cast<std::size_t>(precision));
                break;
            case 'f':
            case 'e':
            case 'g':
            case 'n':
            case 'm': {
                double v;
                if (a.kind() == TFormatArg::fkFloat)
                    v = a.asFloat();
                else
                    Invalid(fmt);
                if (conv == 'g') {
                    text = FloatText(v, 'g', precision < 0 ? 15 : precision);
                } else if (conv == 'e') {
                    text = FloatText(v, 'e', precision < 0 ? 15 : precision);
                } else {
                    text = FloatText(v, 'f', precision < 0 ? 2 : precision);
                    if (conv == 'n')
                        text = GroupThousands(text);
                }
                break;
            }
            default:
                Invalid(fmt);
        }
        out += Pad(std::move(text), width, left);
    }
    return out;
}
