#pragma once
// The bank's id and the English name of each currency of the bundled history,
// from data/currencies.txt, which is built into the program.

#include <string_view>

#include "tools/rates-server/RatesTable.h"

namespace rates {

struct CurrencyName {
    std::string_view Id;       // "R01235"
    std::string_view Key;      // "USD", as the history knows the currency
    std::string_view English;  // "US Dollar"
};

// The key the history knows a row by: its letter code, else its number code,
// else its name.
std::string_view KeyOf(const Currency& c);

// nullptr for a currency the table does not hold.
const CurrencyName* CurrencyByKey(std::string_view key);
// The bank's ids compare without regard to case, as its service reads them.
const CurrencyName* CurrencyById(std::string_view id);

// The text the table is read from (UTF-8, "id | key | English name" lines).
extern const char* const kCurrencyTableText;

}  // namespace rates
