#pragma once
// The bank's daily XML service as a source of rates for dates the bundled
// history does not cover.  Fetches run on worker threads, never on the
// caller's; concurrent requests for one date share one fetch; documents are
// kept in a cache folder so that a past date is fetched once.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "tools/rates-server/RatesTable.h"

namespace rates {

struct UpstreamOptions {
    // "https://www.cbr.ru": the document of a date is
    // BaseUrl + "/scripts/XML_daily.asp?date_req=dd/mm/yyyy".
    std::string BaseUrl;
    // Where raw documents are kept; empty keeps none.
    std::string CacheDir;
    std::string UserAgent;
    // A whole fetch (connect, TLS, redirects, body) ends within this.
    std::chrono::milliseconds Timeout{8000};
    std::chrono::milliseconds ConnectTimeout{4000};
};

struct UpstreamResult {
    bool Ok = false;
    // When Ok: From is the document's ValCurs Date, the rows in document
    // order with names (UTF-8), nominals and values as the document writes them.
    RatesTable Table;
    // When not Ok: one line that says why, for the log.
    std::string Error;
};

class Upstream {
  public:
    explicit Upstream(UpstreamOptions options);
    // Waits for the fetches under way; each still calls its callbacks.
    ~Upstream();
    Upstream(const Upstream&) = delete;
    Upstream& operator=(const Upstream&) = delete;

    using Done = std::function<void(const UpstreamResult&)>;
    // The rates of the date.  done is called exactly once, on a worker thread
    // (or at once, from a fresh cache), within Timeout plus a little.
    void Fetch(const Date& date, Done done);

  private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

// The default cache folder: ${XDG_CACHE_HOME:-~/.cache}/kurs/rates.
std::string DefaultUpstreamCacheDir();

}  // namespace rates
