// The rates of one currency over a span of dates, as the bank's service
// lists them for one currency.

#include <algorithm>
#include <chrono>

#include "tools/rates-server/RatesData.h"

namespace rates {

namespace {

std::int32_t DayOf(const Date& d) {
    using namespace std::chrono;
    const year_month_day ymd{year(d.Year), month(static_cast<unsigned>(d.Month)),
                             day(static_cast<unsigned>(d.Day))};
    return static_cast<std::int32_t>(sys_days(ymd).time_since_epoch().count());
}

Date DateOf(std::int32_t n) {
    using namespace std::chrono;
    const year_month_day ymd{sys_days(days(n))};
    return Date{static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

}  // namespace

std::vector<RatesData::SetRate> RatesData::RatesSet(std::string_view key, const Date& from,
                                                    const Date& to) const {
    // A currency keeps its key for the whole file, so its first info names it.
    auto keyOf = [](const Info& i) -> std::string_view {
        return !i.CharCode.empty() ? i.CharCode : !i.NumCode.empty() ? i.NumCode : i.Name;
    };
    const auto series = std::find_if(FSeries.begin(), FSeries.end(), [&](const Series& s) {
        return !s.Infos.empty() && keyOf(FInfos[s.Infos.front().second]) == key;
    });
    std::vector<SetRate> out;
    if (series == FSeries.end() || to < from)
        return out;
    const std::int32_t first = DayOf(from);
    const std::int32_t last = DayOf(to);
    auto e = std::lower_bound(series->Entries.begin(), series->Entries.end(), first,
                              [](const Entry& x, std::int32_t day) { return x.Day < day; });
    for (; e != series->Entries.end() && e->Day <= last; ++e) {
        if ((e->Rate & 31) == 0)
            continue;  // an end line
        const auto info =
            std::upper_bound(series->Infos.begin(), series->Infos.end(), e->Day,
                             [](std::int32_t day, const std::pair<std::int32_t, std::uint32_t>& x) {
                                 return day < x.first;
                             });
        out.push_back(SetRate{DateOf(e->Day), FInfos[(info - 1)->second].Nominal,
                              FRates.substr(e->Rate >> 5, e->Rate & 31)});
    }
    return out;
}

}  // namespace rates
