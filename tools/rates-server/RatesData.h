#pragma once
// The rates the server answers with: dated tables of currencies read from a
// UTF-8 text file.  Names stay UTF-8 here; the page is turned into
// Windows-1251 as a whole when it is served.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
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

    // The first and the last date on which rates were set.
    Date First() const;
    Date Last() const;

    // The rates a page shows for the date: From is the latest date on or
    // before it on which rates were set, and the rows are the currencies in
    // force then, each at its latest rate on or before From.  nullopt for a
    // date before First().
    std::optional<RatesTable> RatesOn(const Date& date) const;

  private:
    std::vector<RatesTable> FTables;  // ascending by date
};

}  // namespace rates
