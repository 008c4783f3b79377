#pragma once
// The rates the server answers with: dated tables of currencies read from a
// UTF-8 text file.  Names stay UTF-8 here; the page is turned into
// Windows-1251 as a whole when it is served.

#include <optional>
#include <stdexcept>
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

struct Currency {
    std::string NumCode;   // "840"
    std::string CharCode;  // "USD"
    int Nominal = 1;       // units the rate is given for
    std::string Name;      // UTF-8, as on the page: "Доллар США"
    std::string Rate;      // roubles, comma as decimal separator: "27,8500"
};

struct RatesTable {
    Date From;  // the date the rates apply from
    std::vector<Currency> Currencies;
};

// A data file that cannot be read or holds a line that is not understood.
class DataError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class RatesData {
  public:
    // Parses the text of a data file (UTF-8).  Throws DataError naming the
    // line: "<source>:<line>: <reason>".
    static RatesData Parse(std::string_view text, const std::string& source = "data");
    // Reads and parses a data file; DataError when it cannot be read.
    static RatesData Load(const std::string& path);

    // The table in force on the date: the latest one dated on or before it;
    // nullptr for a date before the first table.
    const RatesTable* RatesOn(const Date& date) const;
    // The latest table; nullptr when there is none.
    const RatesTable* Latest() const;

    const std::vector<RatesTable>& Tables() const { return FTables; }

  private:
    std::vector<RatesTable> FTables;  // ascending by date
};

}  // namespace rates
