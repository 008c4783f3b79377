// Calendar arithmetic, the clock and the process-wide date formats.

#include "runtime/DateTime.h"

#include <cmath>
#include <ctime>

#include "platform/clock/Clock.h"
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
    const auto sinceEpoch = clocks::WallNow().time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const std::time_t t = static_cast<std::time_t>(seconds.count());
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    std::tm local{};
    localtime_r(&t, &local);
    TDateTime date = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
    return date + EncodeTime(local.tm_hour, local.tm_min, sec, static_cast<int>(ms));
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
const String& TimeAMString() {
    return Current().timeAm;
}
const String& TimePMString() {
    return Current().timePm;
}
