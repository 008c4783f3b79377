#include "tools/rates-server/BankFreshness.h"

#include <algorithm>

#include "tools/rates-server/upstream/DocumentCache.h"

namespace rates {

Representation BankRepresentation(std::string body, std::string_view contentType,
                                  const UpstreamResult& r, const Date& date,
                                  WallClock::time_point now, std::chrono::seconds freshFor) {
    using std::chrono::seconds;
    if (MoscowDateAt(r.FetchedAt) > date)
        return MakeRepresentation(std::move(body), contentType, Lifetime::Settled, r.FetchedAt);
    const auto age = std::chrono::floor<seconds>(now - r.FetchedAt);
    const seconds left = r.Stale ? seconds(0) : std::max(seconds(0), freshFor - age);
    return MakeRepresentation(std::move(body), contentType, Lifetime::Current,
                              std::min(r.FetchedAt, now), left);
}

}  // namespace rates
