#include "runtime/DateTime.h"

#include <sys/time.h>

#include <cmath>
#include <ctime>

#include "platform/locale/Locale.h"
#include "runtime/Exceptions.h"

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// 1899-12-30 counted from 1970-01-01.
const long long kEpochOffset = DaysFromCivil(1899, 12, 30);

constexpr double kMsPerDay = 86400000.0;

TDateTime SystemClock() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    const std::time_t t = tv.tv_sec;
    std::tm local{};
    localtime_r(&t, &local);
    TDateTime date = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
    return date + EncodeTime(local.tm_hour, local.tm_min, sec, static_cast<int>(tv.tv_usec / 1000));
}

runtime_detail::TClockFunction& Clock() {
    static runtime_detail::TClockFunction clock = nullptr;
    return clock;
}

TDateTime CurrentTime() {
    return Clock() ? Clock()() : SystemClock();
}

// Milliseconds of the time part (always positive: -1.25 is 06:00 of 29.12.1899).
long long TimeMs(TDateTime t) {
    double frac = std::fabs(t - std::trunc(t));
    long long ms = std::llround(frac * kMsPerDay);
    if (ms >= 86400000LL)
        ms = 86399999LL;
    return ms;
}

// --- process-wide formats ---------------------------------------------------------

struct Settings {
    char dateSeparator = '/';
    char timeSeparator = ':';
    String shortDate = "mm/dd/yy";
    String longDate = "dd mmmm yyyy";
    String shortTime = "hh:nn";
    String longTime = "hh:nn:ss";
    String timeAm = "AM";
    String timePm = "PM";
};

// Turns a regional picture ("dd.MM.yyyy", "HH:mm:ss") into the runtime's
// ("dd/mm/yyyy", "hh:nn:ss").
String DatePictureFromLocale(const std::string& pattern, char separator) {
    String r;
    for (char c : pattern) {
        if (c == separator)
            r += '/';
        else if (c == 'M')
            r += 'm';
        else
            r += c;
    }
    return r;
}

String TimePictureFromLocale(const std::string& pattern, char separator) {
    String r;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == separator)
            r += ':';
        else if (c == 'H')
            r += 'h';
        else if (c == 'm')
            r += 'n';
        else if (c == 't') {
            if (i + 1 < pattern.size() && pattern[i + 1] == 't')
                ++i;
            r += "AMPM";
        } else
            r += c;
    }
    return r;
}

void LoadFromLocale(Settings& s) {
    const win::LocaleInfo& info = win::GetUserLocaleInfo();
    s = Settings{};
    s.dateSeparator = info.DateSeparator;
    s.timeSeparator = info.TimeSeparator;
    s.shortDate = DatePictureFromLocale(info.ShortDatePattern, info.DateSeparator);
    s.longTime = TimePictureFromLocale(info.TimePattern, info.TimeSeparator);
    // The short time is the long one without its seconds.
    String shortTime = s.longTime;
    const auto sec = shortTime.find(":ss");
    if (sec != String::npos)
        shortTime.erase(sec, 3);
    s.shortTime = shortTime;
}

Settings& Current() {
    static Settings s = [] {
        Settings t;
        LoadFromLocale(t);
        return t;
    }();
    return s;
}

const char* const kShortMonth[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonth[12] = {"January",   "February", "March",    "April",
                                    "May",       "June",     "July",     "August",
                                    "September", "October",  "November", "December"};
const char* const kShortDay[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDay[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

String Two(int v) {
    String r = IntToStr(v);
    return r.size() < 2 ? "0" + r : r;
}

String Pad(int v, std::size_t width) {
    String r = IntToStr(v);
    while (r.size() < width)
        r.insert(r.begin(), '0');
    return r;
}

char Up(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view what) {
    if (at + what.size() > s.size())
        return false;
    for (std::size_t i = 0; i < what.size(); ++i)
        if (Up(s[at + i]) != Up(what[i]))
            return false;
    return true;
}

void AppendFormatted(String& out, std::string_view fmt, TDateTime dt, int depth);

void AppendFormatted(String& out, std::string_view fmt, TDateTime dt, int depth) {
    if (depth > 2)
        return;  // nested pictures (c, ddddd, t...) go two levels deep at most
    int year, month, day, hour, minute, second, ms;
    DecodeDate(dt, year, month, day);
    DecodeTime(dt, hour, minute, second, ms);
    bool hourSeen = false;  // an m after h means minutes
    bool useAmPm = false;
    // Is there an am/pm marker anywhere?  Then hours are 12-hour.
    for (std::size_t k = 0; k < fmt.size(); ++k)
        if (StartsWithNoCase(fmt, k, "am/pm") || StartsWithNoCase(fmt, k, "a/p") ||
            StartsWithNoCase(fmt, k, "ampm"))
            useAmPm = true;
    const Settings& s = Current();
    std::size_t i = 0;
    while (i < fmt.size()) {
        const char c = fmt[i];
        const char u = Up(c);
        auto run = [&](char letter) {
            std::size_t n = 0;
            while (i + n < fmt.size() && Up(fmt[i + n]) == letter)
                ++n;
            return n;
        };
        if (c == '"' || c == '\'') {
            const auto end = fmt.find(c, i + 1);
            const std::size_t stop = end == std::string_view::npos ? fmt.size() : end;
            out.append(fmt.substr(i + 1, stop - i - 1));
            i = stop == fmt.size() ? stop : stop + 1;
        } else if (c == '/') {
            out += s.dateSeparator;
            ++i;
        } else if (c == ':') {
            out += s.timeSeparator;
            ++i;
        } else if (u == 'D') {
            const std::size_t n = run('D');
            i += n;
            const int dow = DayOfWeek(dt) - 1;
            if (n == 1)
                out += IntToStr(day);
            else if (n == 2)
                out += Two(day);
            else if (n == 3)
                out += kShortDay[dow];
            else if (n == 4)
                out += kLongDay[dow];
            else if (n == 5)
                AppendFormatted(out, s.shortDate, dt, depth + 1);
            else
                AppendFormatted(out, s.longDate, dt, depth + 1);
        } else if (u == 'M') {
            const std::size_t n = run('M');
            i += n;
            if (hourSeen) {
                out += n == 1 ? IntToStr(minute) : Two(minute);
                hourSeen = false;
            } else if (n == 1) {
                out += IntToStr(month);
            } else if (n == 2) {
                out += Two(month);
            } else if (n == 3) {
                out += kShortMonth[month - 1];
            } else {
                out += kLongMonth[month - 1];
            }
        } else if (u == 'Y') {
            const std::size_t n = run('Y');
            i += n;
            out += n <= 2 ? Two(year % 100) : Pad(year, 4);
        } else if (u == 'H') {
            const std::size_t n = run('H');
            i += n;
            int h = hour;
            if (useAmPm) {
                h = hour % 12;
                if (h == 0)
                    h = 12;
            }
            out += n == 1 ? IntToStr(h) : Two(h);
            hourSeen = true;
        } else if (u == 'N') {
            const std::size_t n = run('N');
            i += n;
            out += n == 1 ? IntToStr(minute) : Two(minute);
            hourSeen = false;
        } else if (u == 'S') {
            const std::size_t n = run('S');
            i += n;
            out += n == 1 ? IntToStr(second) : Two(second);
        } else if (u == 'Z') {
            const std::size_t n = run('Z');
            i += n;
            out += n == 1 ? IntToStr(ms) : Pad(ms, 3);
        } else if (u == 'T') {
            const std::size_t n = run('T');
            i += n;
            AppendFormatted(out, n == 1 ? s.shortTime : s.longTime, dt, depth + 1);
        } else if (u == 'C') {
            ++i;
            AppendFormatted(out, s.shortDate, dt, depth + 1);
            if (TimeMs(dt) != 0) {
                out += ' ';
                AppendFormatted(out, s.longTime, dt, depth + 1);
            }
        } else if (StartsWithNoCase(fmt, i, "am/pm")) {
            const bool lower = fmt[i] == 'a';
            out += hour < 12 ? (lower ? "am" : "AM") : (lower ? "pm" : "PM");
            i += 5;
        } else if (StartsWithNoCase(fmt, i, "a/p")) {
            const bool lower = fmt[i] == 'a';
            out += hour < 12 ? (lower ? "a" : "A") : (lower ? "p" : "P");
            i += 3;
        } else if (StartsWithNoCase(fmt, i, "ampm")) {
            out += hour < 12 ? s.timeAm : s.timePm;
            i += 4;
        } else {
            out += c;
            ++i;
        }
    }
}

}  // namespace

// --- encoding ---------------------------------------------------------------------------

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    date = static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime d = 0;
    if (!TryEncodeDate(year, month, day, d))
        throw EConvertError("Invalid argument to date encode");
    return d;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time) {
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
        msec > 999)
        return false;
    time = (((hour * 60.0 + min) * 60.0 + sec) * 1000.0 + msec) / kMsPerDay;
    return true;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime t = 0;
    if (!TryEncodeTime(hour, min, sec, msec, t))
        throw EConvertError("Invalid argument to time encode");
    return t;
}

void DecodeDate(TDateTime date, int& year, int& month, int& day) {
    if (!std::isfinite(date) || std::fabs(date) > 3.0e6) {
        year = month = day = 0;
        return;
    }
    CivilFromDays(static_cast<long long>(std::trunc(date)) + kEpochOffset, year, month, day);
}

void DecodeTime(TDateTime time, int& hour, int& min, int& sec, int& msec) {
    if (!std::isfinite(time)) {
        hour = min = sec = msec = 0;
        return;
    }
    long long ms = TimeMs(time);
    msec = static_cast<int>(ms % 1000);
    ms /= 1000;
    sec = static_cast<int>(ms % 60);
    ms /= 60;
    min = static_cast<int>(ms % 60);
    hour = static_cast<int>(ms / 60);
}

TSystemTime DateTimeToSystemTime(TDateTime dt) {
    TSystemTime st;
    DecodeDate(dt, st.Year, st.Month, st.Day);
    DecodeTime(dt, st.Hour, st.Minute, st.Second, st.MilliSecond);
    return st;
}

TDateTime SystemTimeToDateTime(const TSystemTime& st) {
    return EncodeDate(st.Year, st.Month, st.Day) +
           EncodeTime(st.Hour, st.Minute, st.Second, st.MilliSecond);
}

int DayOfWeek(TDateTime date) {
    // 30.12.1899 was a Saturday (7).
    long long d = static_cast<long long>(std::trunc(date));
    long long r = (d + 6) % 7;
    if (r < 0)
        r += 7;
    return static_cast<int>(r) + 1;
}

TDateTime Now() {
    return CurrentTime();
}
TDateTime Date() {
    return std::trunc(CurrentTime());
}
TDateTime Time() {
    const TDateTime now = CurrentTime();
    return now - std::trunc(now);
}

TDateTime IncMonth(TDateTime date, int months) {
    int y, m, d;
    DecodeDate(date, y, m, d);
    long long total = static_cast<long long>(y) * 12 + (m - 1) + months;
    y = static_cast<int>(total / 12);
    m = static_cast<int>(total % 12) + 1;
    if (d > DaysInMonth(y, m))
        d = DaysInMonth(y, m);
    const double frac = date - std::trunc(date);
    return EncodeDate(y, m, d) + frac;
}

namespace runtime_detail {
void SetClockForTesting(TClockFunction clock) {
    Clock() = clock;
}
}  // namespace runtime_detail

// --- settings ------------------------------------------------------------------------------

char DateSeparator() {
    return Current().dateSeparator;
}
void SetDateSeparator(char c) {
    Current().dateSeparator = c;
}
char TimeSeparator() {
    return Current().timeSeparator;
}
void SetTimeSeparator(char c) {
    Current().timeSeparator = c;
}
const String& ShortDateFormat() {
    return Current().shortDate;
}
void SetShortDateFormat(const String& format) {
    Current().shortDate = format;
}
const String& LongDateFormat() {
    return Current().longDate;
}
void SetLongDateFormat(const String& format) {
    Current().longDate = format;
}
const String& ShortTimeFormat() {
    return Current().shortTime;
}
void SetShortTimeFormat(const String& format) {
    Current().shortTime = format;
}
const String& LongTimeFormat() {
    return Current().longTime;
}
void SetLongTimeFormat(const String& format) {
    Current().longTime = format;
}
void ResetFormatSettings() {
    LoadFromLocale(Current());
}

// --- formatting ------------------------------------------------------------------------------

String FormatDateTime(std::string_view format, TDateTime dt) {
    String out;
    if (format.empty())
        format = "c";
    AppendFormatted(out, format, dt, 0);
    return out;
}

String DateToStr(TDateTime date) {
    return FormatDateTime(ShortDateFormat(), date);
}
String TimeToStr(TDateTime time) {
    return FormatDateTime(LongTimeFormat(), time);
}
String DateTimeToStr(TDateTime dt) {
    return FormatDateTime("c", dt);
}

// --- parsing -----------------------------------------------------------------------------------

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
