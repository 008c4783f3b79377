#pragma once
// How long an answer made of the bank's document may be kept, for the pages
// and the XML documents alike.

#include <chrono>
#include <string>
#include <string_view>

#include "tools/rates-server/Freshness.h"
#include "tools/rates-server/RatesTable.h"
#include "tools/rates-server/upstream/Upstream.h"

namespace rates {

// The document of a date that had passed when it was fetched is final;
// otherwise it is good until the server would ask the bank again (freshFor
// after the fetch), and at once for an older copy served because the bank
// failed.
Representation BankRepresentation(std::string body, std::string_view contentType,
                                  const UpstreamResult& r, const Date& date,
                                  WallClock::time_point now, std::chrono::seconds freshFor);

}  // namespace rates
