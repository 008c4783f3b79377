#include "tools/rates-server/RatesService.h"

#include "tools/rates-server/RatesPages.h"
#include "tools/rates-server/XmlService.h"

namespace rates {

RatesService::RatesService(std::optional<RatesData> history, std::unique_ptr<Upstream> upstream)
    : FHistory(std::move(history)), FUpstream(std::move(upstream)) {}

RatesService::~RatesService() = default;

const std::string& RatesService::HistoryPage(const Date& date) {
    // Enough for every date a busy month of clients asks for; bounded, so
    // that clients walking through all dates cannot grow it without end.
    constexpr std::size_t kMaxPages = 1024;
    const int key = (date.Year * 100 + date.Month) * 100 + date.Day;
    if (const auto found = FHistoryPages.find(key); found != FHistoryPages.end())
        return found->second;
    if (FHistoryPages.size() >= kMaxPages)
        FHistoryPages.clear();
    const auto table = FHistory->RatesOn(date);
    return FHistoryPages.emplace(key, RatesPage(table ? &*table : nullptr, date)).first->second;
}

std::optional<std::string> RatesService::Answer(std::string_view head, Later later) {
    const Request request = ReadRequest(head);
    if (request.What == RequestKind::NotFound) {
        if (const auto xml = ReadXmlQuery(request.Path, request.Query)) {
            if (!FXml)
                FXml =
                    std::make_unique<XmlService>(FHistory ? &*FHistory : nullptr, FUpstream.get());
            return FXml->Answer(request, *xml, std::move(later));
        }
    }
    if (request.What != RequestKind::RatesPage)
        return ErrorAnswer(request);
    const bool withBody = !request.IsHead;

    // The history answers every date up to its end; without a date it
    // answers its latest rates, unless the bank's service can give today's.
    const bool local = FHistory && (request.Date ? *request.Date <= FHistory->Last() : !FUpstream);
    if (local) {
        return Response(200, "OK", HistoryPage(request.Date.value_or(FHistory->Last())), withBody);
    }
    const Date date = request.Date.value_or(MoscowToday());
    if (!FUpstream)
        return Response(200, "OK", NoRatesPage(date), withBody);

    FUpstream->Fetch(date, [later = std::move(later), date, withBody](const UpstreamResult& r) {
        if (r.Ok)
            later(Response(200, "OK", RatesPage(&r.Table, date), withBody));
        else
            later(Response(502, "Bad Gateway", UpstreamFailurePage(date), withBody));
    });
    return std::nullopt;
}

}  // namespace rates
