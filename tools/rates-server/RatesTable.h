#pragma once
// The rates of one date as a page shows them, and the calendar dates the
// server reads and writes.  Names stay UTF-8 here; a page is turned into
// Windows-1251 as a whole when it is served.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rates {

// A calendar date; compares in calendar order.
struct Date {
    int Year = 0;
    int Month = 0;
    int Day = 0;

    friend auto operator<=>(const Date&, const Date&) = default;
    // "dd.mm.yyyy", the form the page writes dates in.
    std::string Text() const;
};

// Reads "dd.mm.yyyy", "dd/mm/yyyy" or "dd-mm-yyyy" (day and month may have
// one digit; both separators must be the same).  Nothing else, no blanks, and
// only dates that exist in the Gregorian calendar.
std::optional<Date> ParseDate(std::string_view text);

// Days since 01.01.1970 (negative before it), and back: where dates are
// counted or kept compact.
std::int32_t DayNumber(const Date& d);
Date DateOfDay(std::int32_t n);

// Today's date in Moscow (UTC+3 all year), where the bank sets its rates.
Date MoscowToday();

struct Currency {
    std::string NumCode;   // "840"
    std::string CharCode;  // "USD"
    int Nominal = 1;       // units the rate is given for
    std::string Name;      // UTF-8, as on the page: "Доллар США"
    std::string Rate;      // roubles, comma as decimal separator: "27,8500"
    std::string Id{};      // the bank's id, "R01235", where the source gives it
};

struct RatesTable {
    Date From;  // the date the rates apply from
    std::vector<Currency> Currencies;
    // Some of the bank's currencies only, not its whole table of the date.
    bool Partial = false;
};

}  // namespace rates
