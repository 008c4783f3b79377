#include "runtime/String.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/locale/Locale.h"
#include "runtime/Exceptions.h"

// --- code page -----------------------------------------------------------------

String Utf8ToCp1251(std::string_view utf8) {
    String out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const char32_t cp = cp1251::DecodeUtf8(utf8.data(), utf8.size(), i);
        const int b = cp == 0xFFFFFFFF ? -1 : cp1251::FromCodePoint(cp);
        out.push_back(b < 0 ? '?' : static_cast<char>(static_cast<unsigned char>(b)));
    }
    return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char ch : text) {
        char32_t cp = cp1251::ToCodePoint(static_cast<unsigned char>(ch));
        if (cp == 0 && ch != '\0')
            cp = 0xFFFD;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// --- positions -------------------------------------------------------------------

int Pos(std::string_view sub, std::string_view s) {
    if (sub.empty())
        return 0;
    const auto at = s.find(sub);
    return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

String Copy(std::string_view s, int index, int count) {
    const long long len = static_cast<long long>(s.size());
    long long start = index < 1 ? 1 : index;
    if (start > len || count <= 0)
        return String();
    long long n = count;
    if (n > len - start + 1)
        n = len - start + 1;
    return String(s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

void Delete(String& s, int index, int count) {
    const long long len = static_cast<long long>(s.size());
    if (index < 1 || index > len || count <= 0)
        return;
    long long n = count;
    if (n > len - index + 1)
        n = len - index + 1;
    s.erase(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(n));
}

void Insert(std::string_view sub, String& s, int index) {
    long long at = index < 1 ? 1 : index;
    if (at > static_cast<long long>(s.size()) + 1)
        at = static_cast<long long>(s.size()) + 1;
    s.insert(static_cast<std::size_t>(at - 1), sub);
}

// --- trimming and case -----------------------------------------------------------

namespace {
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}
}  // namespace

String Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return String(s.substr(b, e - b));
}

String TrimLeft(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && IsBlank(s[b]))
        ++b;
    return String(s.substr(b));
}

String TrimRight(std::string_view s) {
    std::size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1]))
        --e;
    return String(s.substr(0, e));
}

String UpperCase(std::string_view s) {
    String r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return r;
}

String LowerCase(std::string_view s) {
    String r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return r;
}

String AnsiUpperCase(std::string_view s) {
    String r(s);
    for (char& c : r)
        c = cp1251::ToUpper(c);
    return r;
}

String AnsiLowerCase(std::string_view s) {
    String r(s);
    for (char& c : r)
        c = cp1251::ToLower(c);
    return r;
}

namespace {

int Sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

// Sort weights of the case-folded (upper-case) bytes: byte order, except
// that Ё sits between Е and Ж as in the alphabet.
struct Weights {
    unsigned short w[256]{};
};

constexpr Weights MakeWeights() {
    Weights t;
    for (int i = 0; i < 256; ++i)
        t.w[i] = static_cast<unsigned short>(i * 2);
    t.w[0xA8] = static_cast<unsigned short>(0xC5 * 2 + 1);  // Ё after Е
    return t;
}

constexpr Weights kWeights = MakeWeights();

int CompareFolded(std::string_view a, std::string_view b, bool ansi) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        int x, y;
        if (ansi) {
            x = kWeights.w[static_cast<unsigned char>(cp1251::ToUpper(a[i]))];
            y = kWeights.w[static_cast<unsigned char>(cp1251::ToUpper(b[i]))];
        } else {
            char ca = a[i], cb = b[i];
            if (ca >= 'a' && ca <= 'z')
                ca = static_cast<char>(ca - 32);
            if (cb >= 'a' && cb <= 'z')
                cb = static_cast<char>(cb - 32);
            x = static_cast<unsigned char>(ca);
            y = static_cast<unsigned char>(cb);
        }
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace

int CompareStr(std::string_view a, std::string_view b) {
    return Sign(a.compare(b));
}
int CompareText(std::string_view a, std::string_view b) {
    return CompareFolded(a, b, false);
}
bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

int AnsiCompareStr(std::string_view a, std::string_view b) {
    // Alphabet order first, case only breaks ties (lower before upper).
    const int folded = CompareFolded(a, b, true);
    if (folded != 0)
        return folded;
    const std::size_t n = a.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == b[i])
            continue;
        const bool aLower = cp1251::ToUpper(a[i]) != a[i];
        return aLower ? -1 : 1;
    }
    return 0;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
    return CompareFolded(a, b, true);
}
bool AnsiSameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AnsiCompareText(a, b) == 0;
}

// --- numbers ---------------------------------------------------------------------

bool TryStrToInt64(std::string_view s, long long& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size())
        return false;
    unsigned long long acc = 0;
    const unsigned long long limit =
        negative ? static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + 1
                 : static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (acc > (limit - static_cast<unsigned long long>(d)) / static_cast<unsigned>(base))
            return false;
        acc = acc * static_cast<unsigned>(base) + static_cast<unsigned long long>(d);
    }
    value = negative ? static_cast<long long>(0 - acc) : static_cast<long long>(acc);
    return true;
}

bool TryStrToInt(std::string_view s, int& value) {
    long long v = 0;
    if (!TryStrToInt64(s, v))
        return false;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(v);
    return true;
}

int StrToInt(std::string_view s) {
    int v = 0;
    if (!TryStrToInt(s, v))
        throw EConvertError(Format("'%s' is not a valid integer value", s));
    return v;
}

int StrToIntDef(std::string_view s, int def) {
    int v = 0;
    return TryStrToInt(s, v) ? v : def;
}

long long StrToInt64(std::string_view s) {
    long long v = 0;
    if (!TryStrToInt64(s, v))
        throw EConvertError(Format("'%s' is not a valid integer value", s));
    return v;
}

long long StrToInt64Def(std::string_view s, long long def) {
    long long v = 0;
    return TryStrToInt64(s, v) ? v : def;
}

String IntToStr(long long value) {
    return std::to_string(value);
}

String IntToHex(unsigned long long value, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llX", digits < 0 ? 0 : (digits > 16 ? 16 : digits), value);
    return buf;
}

namespace {
char& DecimalSeparatorRef() {
    static char sep = win::GetDecimalSeparator();
    return sep;
}
char& ThousandSeparatorRef() {
    static char sep = win::GetThousandSeparator();
    return sep;
}
}  // namespace

char DecimalSeparator() {
    return DecimalSeparatorRef();
}
void SetDecimalSeparator(char c) {
    DecimalSeparatorRef() = c;
}
char ThousandSeparator() {
    return ThousandSeparatorRef();
}
void SetThousandSeparator(char c) {
    ThousandSeparatorRef() = c;
}

bool TryStrToFloat(std::string_view s, double& value) {
    // The text is trimmed of blanks; the regional separator (or '.') marks
    // the fraction; an exponent is allowed.
    const String t = Trim(s);
    if (t.empty())
        return false;
    String c;
    c.reserve(t.size());
    for (char ch : t) {
        if (ch == DecimalSeparator() || ch == '.')
            c.push_back('.');
        else if ((ch >= '0' && ch <= '9') || ch == '+' || ch == '-' || ch == 'e' || ch == 'E')
            c.push_back(ch);
        else
            return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(c.c_str(), &end);
    if (end != c.c_str() + c.size() || errno == ERANGE || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

double StrToFloat(std::string_view s) {
    double v = 0;
    if (!TryStrToFloat(s, v))
        throw EConvertError(Format("'%s' is not a valid floating point value", s));
    return v;
}

namespace {

// Replaces the C library's '.' by the regional separator.
String Regional(String r) {
    for (char& ch : r)
        if (ch == '.')
            ch = DecimalSeparator();
    return r;
}

String Grouped(const String& fixed) {
    const std::size_t start = (!fixed.empty() && fixed[0] == '-') ? 1 : 0;
    std::size_t end = fixed.find('.', start);
    if (end == String::npos)
        end = fixed.size();
    String r = fixed.substr(0, start);
    for (std::size_t i = start; i < end; ++i) {
        if (i > start && (end - i) % 3 == 0)
            r.push_back(ThousandSeparator());
        r.push_back(fixed[i]);
    }
    return r + fixed.substr(end);
}

}  // namespace

String FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    if (precision < 1)
        precision = 1;
    if (precision > 18)
        precision = 18;
    if (digits < 0)
        digits = 0;
    if (digits > 18)
        digits = 18;
    char buf[400];
    switch (format) {
        case ffGeneral: {
            std::snprintf(buf, sizeof buf, "%.*G", precision, value);
            String r(buf);
            // "1E+20" -> "1E20", "1E-05" -> "1E-5".
            const auto e = r.find('E');
            if (e != String::npos) {
                std::size_t p = e + 1;
                if (p < r.size() && r[p] == '+')
                    r.erase(p, 1);
                if (p < r.size() && r[p] == '-')
                    ++p;
                while (p + 1 < r.size() && r[p] == '0')
                    r.erase(p, 1);
            }
            return Regional(r);
        }
        case ffExponent: {
            std::snprintf(buf, sizeof buf, "%.*E", precision - 1, value);
            String r(buf);
            const auto e = r.find('E');
            if (e != String::npos && e + 2 < r.size()) {
                String exp = r.substr(e + 2);
                while (exp.size() > 1 && exp[0] == '0' && static_cast<int>(exp.size()) > digits)
                    exp.erase(0, 1);
                while (static_cast<int>(exp.size()) < digits)
                    exp.insert(exp.begin(), '0');
                r = r.substr(0, e + 2) + exp;
            }
            return Regional(r);
        }
        case ffFixed:
        case ffNumber: {
            if (std::fabs(value) >= 1e18)
                return FloatToStrF(value, ffGeneral, precision, 0);
            std::snprintf(buf, sizeof buf, "%.*f", digits, value);
            const String fixed(buf);
            return Regional(format == ffNumber ? Grouped(fixed) : fixed);
        }
    }
    return String();
}

String FloatToStr(double value) {
    return FloatToStrF(value, ffGeneral, 15, 0);
}

// --- replacing ---------------------------------------------------------------------

String StringReplace(std::string_view s, std::string_view from, std::string_view to, bool all,
                     bool ignoreCase) {
    if (from.empty())
        return String(s);
    String result;
    const String hay = ignoreCase ? AnsiUpperCase(s) : String(s);
    const String needle = ignoreCase ? AnsiUpperCase(from) : String(from);
    std::size_t at = 0;
    while (true) {
        const auto hit = hay.find(needle, at);
        if (hit == String::npos)
            break;
        result.append(s.substr(at, hit - at));
        result.append(to);
        at = hit + from.size();
        if (!all)
            break;
    }
    result.append(s.substr(at));
    return result;
}

String StringOfChar(char c, int count) {
    return count > 0 ? String(count, c) : String();
}

String QuotedStr(std::string_view s) {
    String r = "'";
    for (char c : s) {
        r.push_back(c);
        if (c == '\'')
            r.push_back('\'');
    }
    r.push_back('\'');
    return r;
}
