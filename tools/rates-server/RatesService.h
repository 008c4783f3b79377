#pragma once
// What the rates server answers to one request: the page of a date from the
// bundled history, from the bank's service for dates after it, or the page
// that says the server has no rates for the date.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesHttp.h"
#include "tools/rates-server/upstream/Upstream.h"

namespace rates {

class XmlService;

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

    std::optional<RatesData> FHistory;
    std::unique_ptr<Upstream> FUpstream;
    std::unordered_map<int, std::string> FHistoryPages;
    // The bank's XML service, made when first asked.
    std::unique_ptr<XmlService> FXml;
};

}  // namespace rates
