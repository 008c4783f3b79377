// The rates of one currency over a span of dates, as the bank's service
// lists them for one currency.

#include <algorithm>

#include "tools/rates-server/RatesData.h"

namespace rates {

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
    const std::int32_t first = DayNumber(from);
    const std::int32_t last = DayNumber(to);
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
        out.push_back(SetRate{DateOfDay(e->Day), FInfos[(info - 1)->second].Nominal,
                              FRates.substr(e->Rate >> 5, e->Rate & 31)});
    }
    return out;
}

}  // namespace rates
