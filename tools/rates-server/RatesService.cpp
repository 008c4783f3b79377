#include "tools/rates-server/RatesService.h"

#include "tools/rates-server/RatesPages.h"

namespace rates {

RatesService::RatesService(std::optional<RatesData> history, std::unique_ptr<Upstream> upstream)
    : FHistory(std::move(history)), FUpstream(std::move(upstream)) {}

RatesService::~RatesService() = default;

namespace {

// Enough for every date a busy month of clients asks for; bounded, so that
// clients walking through all dates cannot grow it without end.
constexpr std::size_t kMaxPages = 1024;

int KeyOf(const Date& date) {
    return (date.Year * 100 + date.Month) * 100 + date.Day;
}

}  // namespace

std::string RatesService::UpstreamPage(const UpstreamResult& result, const Date& date) {
    const int key = KeyOf(date);
    std::lock_guard lock(FUpstreamPagesLock);
    if (const auto found = FUpstreamPages.find(key); found != FUpstreamPages.end() &&
                                                     result.Version != 0 &&
                                                     found->second.first == result.Version)
        return found->second.second;
    std::string page = RatesPage(&result.Table, date);
    if (result.Version != 0) {
        if (FUpstreamPages.size() >= kMaxPages)
            FUpstreamPages.clear();
        FUpstreamPages[key] = {result.Version, page};
    }
    return page;
}

std::optional<std::string> RatesService::KeptAnswer(const Date& date, std::uint64_t version,
                                                    bool withBody) {
    if (version == 0)
        return std::nullopt;
    std::lock_guard lock(FUpstreamPagesLock);
    const auto found = FUpstreamPages.find(KeyOf(date));
    if (found == FUpstreamPages.end() || found->second.first != version)
        return std::nullopt;
    return Response(200, "OK", found->second.second, withBody);
}

const std::string& RatesService::HistoryPage(const Date& date) {
    const int key = KeyOf(date);
    if (const auto found = FHistoryPages.find(key); found != FHistoryPages.end())
        return found->second;
    if (FHistoryPages.size() >= kMaxPages)
        FHistoryPages.clear();
    const auto table = FHistory->RatesOn(date);
    return FHistoryPages.emplace(key, RatesPage(table ? &*table : nullptr, date)).first->second;
}

std::optional<std::string> RatesService::Answer(std::string_view head, Later later) {
    const Request request = ReadRequest(head);
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

    // A copy on hand is answered at once, on this thread (from the page made
    // of it before, when there is one); a fetch later.
    if (auto kept = KeptAnswer(date, FUpstream->FreshVersion(date), withBody))
        return kept;
    struct Handover {
        std::mutex Lock;
        bool Returned = false;
        std::optional<std::string> Now;
    };
    auto handover = std::make_shared<Handover>();
    FUpstream->Fetch(
        date, [this, handover, later = std::move(later), date, withBody](const UpstreamResult& r) {
            std::string answer =
                r.Ok ? Response(200, "OK", UpstreamPage(r, date), withBody)
                     : Response(502, "Bad Gateway", UpstreamFailurePage(date), withBody);
            std::lock_guard lock(handover->Lock);
            if (handover->Returned)
                later(std::move(answer));
            else
                handover->Now = std::move(answer);
        });
    std::lock_guard lock(handover->Lock);
    handover->Returned = true;
    return std::move(handover->Now);
}

}  // namespace rates
