#pragma once
// What the rates server answers to one request: the page of a date from the
// bundled history, from the bank's service for dates after the full history,
// or the page that says the server has no rates for the date; each with the
// head a web cache needs (Freshness.h).

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tools/rates-server/Freshness.h"
#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesHttp.h"
#include "tools/rates-server/upstream/Upstream.h"

namespace rates {

class XmlService;

class RatesService {
  public:
    // history: nullopt serves nothing locally.  upstream: nullptr asks
    // nobody; otherwise the dates the history does not hold in full (every
    // date without one) go to the bank's service first: a date after the
    // history gets a 502 when the bank fails, a date of its partial years
    // the history's own page.
    explicit RatesService(std::optional<RatesData> history,
                          std::unique_ptr<Upstream> upstream = nullptr);
    ~RatesService();
    RatesService(const RatesService&) = delete;
    RatesService& operator=(const RatesService&) = delete;

    // When the history was last changed: the Last-Modified of its pages.
    // Default: when the service was made.
    void SetHistoryModified(WallClock::time_point t) { FHistoryModified = t; }

    using Later = std::function<void(std::string response)>;
    // The whole response to a complete request head.  When it is ready now
    // it is returned; otherwise nullopt, and later is called exactly once,
    // from another thread, with the response.
    std::optional<std::string> Answer(std::string_view head, Later later);

  private:
    using Page = std::shared_ptr<const Representation>;
    // The page of a date from the history, or of its latest date; the
    // latest ones asked for are kept.
    Page HistoryPage(const Date& date, bool latest);
    // The history's page of a date in place of the bank's, for maxAge.
    Representation InPlaceOfBank(const Date& date, std::chrono::seconds maxAge) const;
    Representation BankPage(const UpstreamResult& r, const Date& date,
                            WallClock::time_point now) const;
    // The bank's page made of a result; that of a settled copy is kept for
    // as long as the upstream serves the same copy (its Version).
    Page BankPageOf(const UpstreamResult& r, const Date& date, WallClock::time_point now);
    // The settled page kept for that copy of the date's document, if any.
    Page KeptBankPage(const Date& date, std::uint64_t version);
    WallClock::time_point Now() const;

    std::optional<RatesData> FHistory;
    std::unique_ptr<Upstream> FUpstream;
    WallClock::time_point FHistoryModified;
    // Of the upstream's options, kept so that its last answers, made while
    // it is being destroyed, do not ask it.
    std::function<WallClock::time_point()> FClock;
    std::chrono::seconds FFreshFor{0};
    std::chrono::seconds FRetryAfter{0};
    // The pages and the failures: the bank's answers come on its thread.
    std::mutex FLock;
    std::unordered_map<int, Page> FHistoryPages;
    // The bank's settled pages, by date, with the Version they were made of.
    std::unordered_map<int, std::pair<std::uint64_t, Page>> FBankPages;
    // Dates the bank failed on with no copy to serve, until when the
    // history's page is served without asking again.
    std::map<Date, WallClock::time_point> FBankFailedUntil;
    // The bank's XML service, made when first asked.
    std::unique_ptr<XmlService> FXml;
};

}  // namespace rates
