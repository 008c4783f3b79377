// FormatDateTime and the conversions of dates and times to text.

#include "runtime/DateTime.h"

namespace {

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
            out += DateSeparator();
            ++i;
        } else if (c == ':') {
            out += TimeSeparator();
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
                AppendFormatted(out, ShortDateFormat(), dt, depth + 1);
            else
                AppendFormatted(out, LongDateFormat(), dt, depth + 1);
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
            AppendFormatted(out, n == 1 ? ShortTimeFormat() : LongTimeFormat(), dt, depth + 1);
        } else if (u == 'C') {
            ++i;
            AppendFormatted(out, ShortDateFormat(), dt, depth + 1);
            if (hour != 0 || minute != 0 || second != 0 || ms != 0) {
                out += ' ';
                AppendFormatted(out, LongTimeFormat(), dt, depth + 1);
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
            out += hour < 12 ? TimeAMString() : TimePMString();
            i += 4;
        } else {
            out += c;
            ++i;
        }
    }
}
}  // namespace

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
