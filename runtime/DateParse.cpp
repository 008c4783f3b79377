// Typed dates and times back to TDateTime.

#include "runtime/DateTime.h"
#include "runtime/Exceptions.h"

namespace {

char Up(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

}  // namespace

namespace {

struct Scanner {
    std::string_view s;
    std::size_t pos = 0;

    void SkipBlanks() {
        while (pos < s.size() && s[pos] == ' ')
            ++pos;
    }
    bool Number(int& value, int& digits) {
        SkipBlanks();
        value = 0;
        digits = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            if (digits >= 9)
                return false;
            value = value * 10 + (s[pos] - '0');
            ++digits;
            ++pos;
        }
        return digits > 0;
    }
    bool Char(char c) {
        SkipBlanks();
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool AtEnd() {
        SkipBlanks();
        return pos >= s.size();
    }
};

enum class Order { DMY, MDY, YMD };

Order DateOrder() {
    for (char c : ShortDateFormat()) {
        const char u = Up(c);
        if (u == 'D')
            return Order::DMY;
        if (u == 'M')
            return Order::MDY;
        if (u == 'Y')
            return Order::YMD;
    }
    return Order::MDY;
}

int CurrentYear() {
    int y, m, d;
    DecodeDate(Date(), y, m, d);
    return y;
}

bool ScanDate(Scanner& sc, TDateTime& date) {
    int n1, n2, n3 = 0, l1, l2, l3 = 0;
    const char sep = DateSeparator();
    if (!sc.Number(n1, l1) || !sc.Char(sep) || !sc.Number(n2, l2))
        return false;
    bool three = false;
    if (sc.Char(sep)) {
        if (!sc.Number(n3, l3))
            return false;
        three = true;
    }
    int y, m, d;
    bool yearGiven = true;
    const Order order = DateOrder();
    if (!three) {
        // Two numbers: day and month (or month and day) of this year.
        yearGiven = false;
        y = CurrentYear();
        if (order == Order::MDY) {
            m = n1;
            d = n2;
        } else {
            m = order == Order::YMD ? n1 : n2;
            d = order == Order::YMD ? n2 : n1;
        }
    } else if (order == Order::DMY) {
        d = n1;
        m = n2;
        y = n3;
    } else if (order == Order::MDY) {
        m = n1;
        d = n2;
        y = n3;
    } else {
        y = n1;
        m = n2;
        d = n3;
    }
    const int yearDigits = order == Order::YMD ? l1 : l3;
    if (yearGiven && yearDigits <= 2) {
        // Two-digit years fall within 50 years before this year and 49 after.
        const int base = CurrentYear() - 50;
        y += base / 100 * 100;
        if (y < base)
            y += 100;
    }
    return TryEncodeDate(y, m, d, date);
}

bool ScanTime(Scanner& sc, TDateTime& time) {
    int h, n = 0, s = 0, ms = 0, l;
    const char sep = TimeSeparator();
    if (!sc.Number(h, l))
        return false;
    if (sc.Char(sep)) {
        if (!sc.Number(n, l))
            return false;
        if (sc.Char(sep)) {
            if (!sc.Number(s, l))
                return false;
            if (sc.Char('.') || sc.Char(DecimalSeparator())) {
                if (!sc.Number(ms, l))
                    return false;
            }
        }
    } else {
        return false;  // a bare number is not a time
    }
    sc.SkipBlanks();
    const std::string_view rest = sc.s.substr(sc.pos);
    auto marker = [&](std::string_view m) {
        if (rest.size() >= m.size() && AnsiSameText(rest.substr(0, m.size()), m)) {
            sc.pos += m.size();
            return true;
        }
        return false;
    };
    if (marker("AM") || marker("A")) {
        if (h < 1 || h > 12)
            return false;
        if (h == 12)
            h = 0;
    } else if (marker("PM") || marker("P")) {
        if (h < 1 || h > 12)
            return false;
        if (h != 12)
            h += 12;
    }
    return TryEncodeTime(h, n, s, ms, time);
}

}  // namespace

bool TryStrToDate(std::string_view s, TDateTime& date) {
    Scanner sc{s};
    TDateTime d = 0;
    if (!ScanDate(sc, d) || !sc.AtEnd())
        return false;
    date = d;
    return true;
}

TDateTime StrToDate(std::string_view s) {
    TDateTime d = 0;
    if (!TryStrToDate(s, d))
        throw EConvertError(Format("'%s' is not a valid date", s));
    return d;
}

TDateTime StrToDateDef(std::string_view s, TDateTime def) {
    TDateTime d = 0;
    return TryStrToDate(s, d) ? d : def;
}

bool TryStrToTime(std::string_view s, TDateTime& time) {
    Scanner sc{s};
    TDateTime t = 0;
    if (!ScanTime(sc, t) || !sc.AtEnd())
        return false;
    time = t;
    return true;
}

TDateTime StrToTime(std::string_view s) {
    TDateTime t = 0;
    if (!TryStrToTime(s, t))
        throw EConvertError(Format("'%s' is not a valid time", s));
    return t;
}

TDateTime StrToDateTime(std::string_view s) {
    Scanner sc{s};
    TDateTime d = 0, t = 0;
    const std::size_t start = sc.pos;
    if (ScanDate(sc, d)) {
        if (sc.AtEnd())
            return d;
        if (ScanTime(sc, t) && sc.AtEnd())
            return d >= 0 ? d + t : d - t;
    } else {
        sc.pos = start;
        if (ScanTime(sc, t) && sc.AtEnd())
            return t;
    }
    throw EConvertError(Format("'%s' is not a valid date and time", s));
}
