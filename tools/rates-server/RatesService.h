#pragma once
// What the rates server answers to one request: the page of a date from the
// bundled history, from the bank's service for dates after it, or the page
// that says the server has no rates for the date.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesHttp.h"
#include "tools/rates-server/upstream/Upstream.h"

namespace rates {

class RatesService {
  public:
    // history: nullopt serves nothing locally.  upstream: nullptr asks
    // nobody; otherwise dates after the history (every date without one) go
    // to the bank's service.
    explicit RatesService(std::optional<RatesData> history,
                          std::unique_ptr<Upstream> upstream = nullptr);
    ~RatesService();
    RatesService(const RatesService&) = delete;
    RatesService& operator=(const RatesService&) = delete;

    using Later = std::function<void(std::string response)>;
    // The whole response to a complete request head.  When it is ready now
    // it is returned; otherwise nullopt, and later is called exactly once,
    // from another thread, with the response.
    std::optional<std::string> Answer(std::string_view head, Later later);

  private:
    // The page of a date from the history; pages never change, so the
    // latest ones asked for are kept.
    const std::string& HistoryPage(const Date& date);
    // The page of a date from the bank's document; the latest ones made are
    // kept for as long as the upstream serves the same copy (its Version).
    std::string UpstreamPage(const UpstreamResult& result, const Date& date);
    // The answer made of the page kept for that version, if there is one.
    std::optional<std::string> KeptAnswer(const Date& date, std::uint64_t version, bool withBody);

    std::optional<RatesData> FHistory;
    // Before the upstream, whose callbacks use them until it is gone.
    std::mutex FUpstreamPagesLock;
    std::unordered_map<int, std::pair<std::uint64_t, std::string>> FUpstreamPages;
    std::unique_ptr<Upstream> FUpstream;
    std::unordered_map<int, std::string> FHistoryPages;
};

}  // namespace rates
