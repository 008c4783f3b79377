#pragma once
// The HTML pages the rates server answers with, all Windows-1251 with lines
// ended by CR LF.  The window reads a rates page by two marker phrases and by
// the cells two lines above and below a currency's name; every other page
// holds neither phrase, so the window writes its failure line for it.

#include <string>
#include <string_view>

#include "tools/rates-server/RatesTable.h"

namespace rates {

// The rates page of a requested date: the table in force then, or the
// notice that no rates were registered when table is nullptr.
std::string RatesPage(const RatesTable* table, const Date& requested);

// The page for a date the server has no rates for (after the end of its
// data, with nothing to ask upstream): says so, and holds no marker phrase.
std::string NoRatesPage(const Date& requested);

// The page answered with status 502 when the bank's service could not give
// the rates of the date; holds no marker phrase.
std::string UpstreamFailurePage(const Date& requested);

// A short page for an error status; russian is UTF-8.
std::string ErrorPage(int status, std::string_view reason, std::string_view russian);

}  // namespace rates
