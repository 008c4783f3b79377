#include "tools/rates-server/RatesService.h"

#include "tools/rates-server/BankFreshness.h"
#include "tools/rates-server/RatesPages.h"
#include "tools/rates-server/XmlService.h"
#include "tools/rates-server/upstream/DocumentCache.h"

namespace rates {

namespace {

using std::chrono::seconds;

// Bounds of what is kept, so that clients walking through all dates cannot
// grow it without end; enough for every date a busy month of clients asks for.
constexpr std::size_t kMaxPages = 1024;
constexpr std::size_t kMaxFailures = 1024;

int DateKey(const Date& d) {
    return (d.Year * 100 + d.Month) * 100 + d.Day;
}

std::string RequestDate(const Date& d) {
    std::string t = d.Text();
    t[2] = t[5] = '/';
    return t;
}

}  // namespace

RatesService::RatesService(std::optional<RatesData> history, std::unique_ptr<Upstream> upstream)
    : FHistory(std::move(history)),
      FUpstream(std::move(upstream)),
      FHistoryModified(std::chrono::floor<seconds>(WallClock::now())) {
    if (FUpstream) {
        FClock = FUpstream->Options().Now;
        FFreshFor = FUpstream->Options().FreshFor;
        FRetryAfter = FUpstream->Options().RetryAfter;
    }
}

RatesService::~RatesService() {
    // Fetches still waiting are answered now, while what they use is here.
    FUpstream.reset();
}

WallClock::time_point RatesService::Now() const {
    return FClock ? FClock() : WallClock::now();
}

RatesService::Page RatesService::HistoryPage(const Date& date, bool latest) {
    const int key = latest ? 0 : DateKey(date);
    std::lock_guard lock(FLock);
    if (const auto found = FHistoryPages.find(key); found != FHistoryPages.end())
        return found->second;
    if (FHistoryPages.size() >= kMaxPages)
        FHistoryPages.clear();
    const auto table = FHistory->RatesOn(date);
    // The latest page and the partial years' may change with the data; the
    // rest never does.
    const Lifetime kind =
        latest || (table && table->Partial) ? Lifetime::Replaceable : Lifetime::Settled;
    auto page = std::make_shared<const Representation>(MakeRepresentation(
        RatesPage(table ? &*table : nullptr, date), kPageType, kind, FHistoryModified));
    FHistoryPages.emplace(key, page);
    return page;
}

Representation RatesService::InPlaceOfBank(const Date& date, seconds maxAge) const {
    const auto table = FHistory->RatesOn(date);
    return MakeRepresentation(RatesPage(table ? &*table : nullptr, date), kPageType,
                              Lifetime::Replaceable, FHistoryModified, maxAge);
}

Representation RatesService::BankPage(const UpstreamResult& r, const Date& date,
                                      WallClock::time_point now) const {
    return BankRepresentation(RatesPage(&r.Table, date), kPageType, r, date, now, FFreshFor);
}

RatesService::Page RatesService::KeptBankPage(const Date& date, std::uint64_t version) {
    if (version == 0)
        return nullptr;
    std::lock_guard lock(FLock);
    const auto found = FBankPages.find(DateKey(date));
    return found != FBankPages.end() && found->second.first == version ? found->second.second
                                                                       : nullptr;
}

RatesService::Page RatesService::BankPageOf(const UpstreamResult& r, const Date& date,
                                            WallClock::time_point now) {
    const bool settled = !r.Stale && r.Version != 0 && MoscowDateAt(r.FetchedAt) > date;
    if (settled)
        if (auto kept = KeptBankPage(date, r.Version))
            return kept;
    auto page = std::make_shared<const Representation>(BankPage(r, date, now));
    // A real page is about 20 KB; one made of a huge document is not kept.
    if (settled && page->Body.size() <= 256 * 1024) {
        std::lock_guard lock(FLock);
        if (FBankPages.size() >= kMaxPages)
            FBankPages.clear();
        FBankPages[DateKey(date)] = {r.Version, page};
    }
    return page;
}

std::optional<std::string> RatesService::Answer(std::string_view head, Later later) {
    const Request request = ReadRequest(head);
    if (request.What == RequestKind::NotFound) {
        if (const auto xml = ReadXmlQuery(request.Path, request.Query)) {
            if (!FXml)
                FXml = std::make_unique<XmlService>(FHistory ? &*FHistory : nullptr,
                                                    FUpstream.get(), FHistoryModified);
            return FXml->Answer(request, *xml, head, Now(), std::move(later));
        }
    }
    if (request.What != RequestKind::RatesPage)
        return ErrorAnswer(request);
    const bool isHead = request.IsHead;
    const auto now = Now();

    if (!FUpstream) {
        // The history answers every date up to its end, and without a date
        // its latest rates.
        if (FHistory && (!request.Date || *request.Date <= FHistory->Last()))
            return Respond(*HistoryPage(request.Date.value_or(FHistory->Last()), !request.Date),
                           head, isHead, now);
        const auto page = MakeRepresentation(NoRatesPage(request.Date.value_or(MoscowToday())),
                                             kPageType, Lifetime::Replaceable, FHistoryModified);
        return Respond(page, head, isHead, now);
    }

    // The bank is asked for what the history does not hold in full: dates
    // after it, those of its partial years, and today's.
    const Date date = request.Date.value_or(MoscowDateAt(now));
    if (FHistory && request.Date && FHistory->HoldsAllOn(*request.Date))
        return Respond(*HistoryPage(date, false), head, isHead, now);
    // A settled copy on hand is answered from the page kept for it, as a
    // bundled date is.
    if (const auto kept = KeptBankPage(date, FUpstream->FreshVersion(date)))
        return Respond(*kept, head, isHead, now);
    const bool fallback = FHistory && date <= FHistory->Last();
    if (fallback) {
        std::lock_guard lock(FLock);
        if (const auto it = FBankFailedUntil.find(date); it != FBankFailedUntil.end()) {
            if (now < it->second)
                return Respond(InPlaceOfBank(date, std::chrono::ceil<seconds>(it->second - now)),
                               head, isHead, now);
            FBankFailedUntil.erase(it);
        }
    }

    // An answer ready while Fetch runs (a copy on hand) is returned on this
    // thread; any other comes later.
    struct Handover {
        std::mutex Lock;
        bool Returned = false;
        std::optional<std::string> Now;
    };
    auto handover = std::make_shared<Handover>();
    auto deliver = [handover, later = std::move(later)](std::string answer) {
        std::lock_guard lock(handover->Lock);
        if (handover->Returned)
            later(std::move(answer));
        else
            handover->Now = std::move(answer);
    };
    auto done = [this, later = std::move(deliver), date, isHead, fallback,
                 head = std::string(head)](const UpstreamResult& r) {
        const auto now = Now();
        if (r.Ok) {
            later(Respond(*BankPageOf(r, date, now), head, isHead, now));
        } else if (fallback) {
            const seconds retry = FRetryAfter;
            {
                std::lock_guard lock(FLock);
                if (FBankFailedUntil.size() >= kMaxFailures)
                    FBankFailedUntil.clear();
                FBankFailedUntil[date] = now + retry;
            }
            later(Respond(InPlaceOfBank(date, retry), head, isHead, now));
        } else {
            later(RespondError(502, "Bad Gateway", UpstreamFailurePage(date), kPageType, !isHead,
                               now));
        }
    };
    std::string instead;
    if (fallback) {
        const auto table = FHistory->RatesOn(date);
        instead = "served the bundled rates of " +
                  std::to_string(table ? table->Currencies.size() : 0) + " currencies of " +
                  (table ? table->From.Text() : RequestDate(date)) + " instead";
    }
    FUpstream->Fetch(date, std::move(done), std::move(instead));
    std::lock_guard lock(handover->Lock);
    handover->Returned = true;
    return std::move(handover->Now);
}

}  // namespace rates
