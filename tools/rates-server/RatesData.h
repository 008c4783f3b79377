#pragma once
// The rates the server answers with, read from a UTF-8 text file, plain or
// gzip-compressed.  Names stay UTF-8 here; the page is turned into
// Windows-1251 as a whole when it is served.
//
// The file, line by line (blanks around fields and lines starting with # or
// empty are ignored):
//   [dd.mm.yyyy]                                      the rates set on this date
//   number code | letter code | nominal | name | rate  a full line
//   key | rate                                        a short line
//   key | -                                           an end line
//   ! partial from dd.mm.yyyy                         at most once: from the
//                                                     date on, the file holds
//                                                     only some of the bank's
//                                                     currencies
// A full line gives a currency's rate from the date with its codes, nominal
// and name; either code may be empty.  A currency is known by its key: its
// letter code, or its number code when it has no letter code, or its name when
// it has neither.  A short line gives the rate of a currency with the codes,
// nominal and name of its latest full line before it in the file.  An end
// line takes the currency out of the table from the date until its next rate.  The rate is in
// roubles for <nominal> units with a decimal comma, "27,8500".
//
// A currency is in force from its first rate to its last, except from an end
// line to its next rate; on a date it is in force without a line of its own it
// keeps its latest earlier rate.  So a file that lists every currency on every
// date means those tables exactly, and a compact one lists only the rates
// that were set.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/rates-server/RatesTable.h"

namespace rates {

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
    // Reads and parses a data file, plain or gzip-compressed; DataError when
    // it cannot be read.
    static RatesData Load(const std::string& path);
    // The text of a data file, unpacked when it starts as gzip does.
    // DataError naming the file when it cannot be read, is damaged or cut
    // short, or its text is longer than kMaxTextBytes.
    static std::string ReadText(const std::string& path);
    static constexpr std::size_t kMaxTextBytes = 64 << 20;

    // The first and the last date on which rates were set.
    Date First() const;
    Date Last() const;

    // The first date from which the file holds only some of the bank's
    // currencies ("! partial from"); nullopt when it holds them all.
    std::optional<Date> PartialFrom() const;
    // Whether the file holds every currency of the bank on the date: up to
    // Last() and before PartialFrom().
    bool HoldsAllOn(const Date& date) const;

    // The rates a page shows for the date: From is the latest date on or
    // before it on which rates were set, and the rows are the currencies in
    // force then, each at its latest rate on or before From, in the order of
    // their names; Partial when From is on or after PartialFrom().  nullopt
    // for a date before First().
    std::optional<RatesTable> RatesOn(const Date& date) const;

    // The rates set for one currency, known by its key (see above), on the
    // dates from `from` to `to` that have a line of it, in date order; none
    // for a key the data does not know.  Written in RatesSeries.cpp.
    struct SetRate {
        rates::Date On;
        int Nominal = 1;
        std::string Rate;
    };
    std::vector<SetRate> RatesSet(std::string_view key, const Date& from, const Date& to) const;

  private:
    // A currency's codes, nominal and name as a full line gives them.
    struct Info {
        std::string NumCode;
        std::string CharCode;
        int Nominal = 1;
        std::string Name;
        std::uint32_t Order = 0;  // rank of the name in the page's row order
    };
    // One line of a currency: a rate or an end.
    struct Entry {
        std::int32_t Day = 0;    // days since 01.01.1970
        std::uint32_t Rate = 0;  // its offset in FRates << 5 | its length, 0 for an end
    };
    struct Series {
        std::vector<Entry> Entries;  // ascending by day
        // The info of its entries from a day on, ascending by day.
        std::vector<std::pair<std::int32_t, std::uint32_t>> Infos;
        std::int32_t FirstRate = 0;  // the day of its first and its last rate
        std::int32_t LastRate = 0;
    };
    class Builder;

    std::vector<std::int32_t> FDays;  // the days rates were set, ascending
    std::vector<Series> FSeries;      // one per currency
    std::vector<Info> FInfos;
    std::string FRates;  // every rate's text, one after another
    std::optional<std::int32_t> FPartialFrom;
};

}  // namespace rates
