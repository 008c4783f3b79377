#pragma once
// The documents of the bank's XML service, written the way the service
// writes them: Windows-1251, one line, values with a decimal comma.

#include <string>
#include <string_view>
#include <vector>

#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesTable.h"

namespace rates {

// The rates of a date as XML_daily.asp writes them: ValCurs dated the day
// the rates apply from, one Valute per row in the table's order, each with
// the row's id (or the one currencies.txt gives its key), its codes,
// nominal, name, value and value per unit.  english: names from
// currencies.txt, the row's own where it has none.  table nullptr: an empty
// ValCurs dated `requested`, the answer for a date without rates.
std::string DailyXml(const RatesTable* table, const Date& requested, bool english);

// The rates of one currency over a span of dates, as XML_dynamic.asp writes
// them: one Record per date with a rate.
std::string DynamicXml(std::string_view id, const Date& from, const Date& to,
                       const std::vector<RatesData::SetRate>& rates);

// What the service answers to parameters it cannot read, byte for byte.
std::string XmlParameterError();

// Roubles for one unit, as the service writes VunitRate: the value divided
// by the nominal to 15 significant digits, without trailing zeros, with a
// decimal comma, and as "5,88139E-05" below 0.0001.
std::string UnitRate(std::string_view rate, int nominal);

}  // namespace rates
