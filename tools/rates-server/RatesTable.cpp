#include "tools/rates-server/RatesTable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace rates {

namespace {

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string Date::Text() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", Day, Month, Year);
    return buf;
}

std::optional<Date> ParseDate(std::string_view text) {
    const auto first = text.find_first_of("./-");
    if (first == std::string_view::npos)
        return std::nullopt;
    const char sep = text[first];
    const auto second = text.find(sep, first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto day = text.substr(0, first);
    const auto month = text.substr(first + 1, second - first - 1);
    const auto year = text.substr(second + 1);
    if (!AllDigits(day) || !AllDigits(month) || !AllDigits(year) || day.size() > 2 ||
        month.size() > 2 || year.size() != 4)
        return std::nullopt;
    auto number = [](std::string_view s) {
        int v = 0;
        for (char c : s)
            v = v * 10 + (c - '0');
        return v;
    };
    Date d{number(year), number(month), number(day)};
    if (d.Year < 1 || d.Month < 1 || d.Month > 12 || d.Day < 1 ||
        d.Day > DaysInMonth(d.Year, d.Month))
        return std::nullopt;
    return d;
}

std::int32_t DayNumber(const Date& d) {
    using namespace std::chrono;
    const year_month_day ymd{year(d.Year), month(static_cast<unsigned>(d.Month)),
                             day(static_cast<unsigned>(d.Day))};
    return static_cast<std::int32_t>(sys_days(ymd).time_since_epoch().count());
}

Date DateOfDay(std::int32_t n) {
    using namespace std::chrono;
    const year_month_day ymd{sys_days(days(n))};
    return Date{static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

Date MoscowToday() {
    using namespace std::chrono;
    const year_month_day day{floor<days>(system_clock::now() + hours(3))};
    return Date{static_cast<int>(day.year()), static_cast<int>(static_cast<unsigned>(day.month())),
                static_cast<int>(static_cast<unsigned>(day.day()))};
}

}  // namespace rates
