#include "platform/locale/Locale.h"

#include <langinfo.h>
#include <locale.h>

namespace win {

namespace {

// The first byte of a possibly multi-byte separator; a separator that is not
// plain ASCII (a narrow no-break space, say) is replaced by fallback.
char SingleByte(const char* text, char fallback) {
    if (text == nullptr || text[0] == '\0')
        return fallback;
    const auto c = static_cast<unsigned char>(text[0]);
    if (c >= 0x80)
        return fallback == '\0' ? ' ' : fallback;
    return static_cast<char>(c);
}

// The first character between two conversions of a date format: "%d.%m.%Y"
// gives '.'.
char SeparatorOf(const std::string& format, char fallback) {
    for (std::size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] == '%') {
            ++i;
            while (i < format.size() &&
                   (format[i] == 'E' || format[i] == 'O' || format[i] == '-' || format[i] == '_'))
                ++i;
            if (i + 1 < format.size() && format[i + 1] != '%' &&
                static_cast<unsigned char>(format[i + 1]) < 0x80)
                return format[i + 1];
        }
    }
    return fallback;
}

LocaleInfo ReadLocale(locale_t loc) {
    LocaleInfo info;
    const std::string dateFormat = nl_langinfo_l(D_FMT, loc);
    const std::string timeFormat = nl_langinfo_l(T_FMT, loc);
    info.DateSeparator = SeparatorOf(dateFormat, '/');
    info.TimeSeparator = SeparatorOf(timeFormat, ':');
    info.DecimalSeparator = SingleByte(nl_langinfo_l(RADIXCHAR, loc), '.');
    info.ThousandSeparator = SingleByte(nl_langinfo_l(THOUSEP, loc), ' ');
    const std::string date = PatternFromStrftime(dateFormat);
    if (!date.empty())
        info.ShortDatePattern = date;
    const std::string time = PatternFromStrftime(timeFormat);
    if (!time.empty())
        info.TimePattern = time;
    return info;
}

}  // namespace

std::string PatternFromStrftime(const std::string& format) {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= format.size())
            break;
        while (i < format.size() &&
               (format[i] == 'E' || format[i] == 'O' || format[i] == '-' || format[i] == '_'))
            ++i;
        if (i >= format.size())
            break;
        switch (format[i]) {
            case 'd':
                out += "dd";
                break;
            case 'e':
                out += "d";
                break;
            case 'm':
                out += "MM";
                break;
            case 'y':
                out += "yy";
                break;
            case 'Y':
                out += "yyyy";
                break;
            case 'b':
            case 'h':
                out += "MMM";
                break;
            case 'B':
                out += "MMMM";
                break;
            case 'a':
                out += "ddd";
                break;
            case 'A':
                out += "dddd";
                break;
            case 'H':
                out += "HH";
                break;
            case 'I':
                out += "hh";
                break;
            case 'M':
                out += "mm";
                break;
            case 'S':
                out += "ss";
                break;
            case 'p':
                out += "tt";
                break;
            case 'D':
                out += "MM/dd/yy";
                break;
            case 'F':
                out += "yyyy-MM-dd";
                break;
            case 'T':
                out += "HH:mm:ss";
                break;
            case 'R':
                out += "HH:mm";
                break;
            case 'r':
                out += "hh:mm:ss tt";
                break;
            case '%':
                out += '%';
                break;
            default:
                break;  // conversions without a picture letter are dropped
        }
    }
    return out;
}

LocaleInfo GetLocaleInfoFor(const std::string& localeName) {
    locale_t loc = newlocale(LC_ALL_MASK, localeName.c_str(), static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0) && localeName.empty()) {
        // One category may name a locale that is not installed; take the
        // categories we read one by one.
        loc = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
        if (loc != static_cast<locale_t>(0)) {
            if (locale_t t = newlocale(LC_TIME_MASK, "", loc))
                loc = t;
            if (locale_t n = newlocale(LC_NUMERIC_MASK, "", loc))
                loc = n;
        }
    }
    if (loc == static_cast<locale_t>(0))
        loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0))
        return LocaleInfo{};
    LocaleInfo info = ReadLocale(loc);
    freelocale(loc);
    return info;
}

const LocaleInfo& GetUserLocaleInfo() {
    static const LocaleInfo info = GetLocaleInfoFor("");
    return info;
}

char GetDateSeparator() {
    return GetUserLocaleInfo().DateSeparator;
}
char GetTimeSeparator() {
    return GetUserLocaleInfo().TimeSeparator;
}
char GetDecimalSeparator() {
    return GetUserLocaleInfo().DecimalSeparator;
}
char GetThousandSeparator() {
    return GetUserLocaleInfo().ThousandSeparator;
}
std::string GetShortDatePattern() {
    return GetUserLocaleInfo().ShortDatePattern;
}

}  // namespace win
