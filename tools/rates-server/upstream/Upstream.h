#pragma once
// The bank's daily XML service as a source of rates for dates the bundled
// history does not cover.  Fetches run on a thread of their own, several
// transfers at once, never on the caller's; concurrent requests for one date
// share one fetch; documents are kept in a cache folder so that a past date
// is fetched once.

#include <chrono>
#include <cstdint>
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
    // The certificates of authorities trusted for https://, in one PEM file,
    // instead of the system's; empty: the system's.  The environment never
    // changes what is trusted.
    std::string CaFile;
    // A whole fetch (connect, TLS, redirects, body) ends within this.
    std::chrono::milliseconds Timeout{8000};
    std::chrono::milliseconds ConnectTimeout{4000};

    // A waiting client is answered within this, however busy the fetches
    // are: a fetch that cannot start in time fails as busy.
    std::chrono::milliseconds AnswerWithin{9500};
    // Fetches under way at once, and further dates that may wait for one.
    int MaxFetches = 4;
    int MaxWaiting = 32;
    // How long a copy of today's (or a later) document is served without
    // asking again; the document of a past date is kept for good.
    std::chrono::seconds FreshFor{15 * 60};
    // After a fetch failed with no copy to serve, how long the date is not
    // asked for again (the server answers from its own data meanwhile).
    std::chrono::seconds RetryAfter{60};
    // The wall clock that decides what is fresh; empty: the system's.
    std::function<std::chrono::system_clock::time_point()> Now;
    // Where a failed fetch is reported, one line without the line break;
    // empty: standard error.
    std::function<void(const std::string&)> Log;
};

// An https:// upstream is followed only to https:// on its own host or under
// its registered domain (www.cbr.ru for cbr.ru); an http:// one anywhere over
// http:// or https://.  Why the redirect from base to location is refused,
// empty when it is followed.
std::string RedirectRefusal(const std::string& base, const std::string& location);

// Whether the host of a URL is this machine (127.0.0.0/8, ::1, localhost).
bool IsLoopbackUrl(const std::string& url);

struct UpstreamResult {
    bool Ok = false;
    // When Ok: From is the document's ValCurs Date, the rows in document
    // order with names (UTF-8), nominals and values as the document writes them.
    RatesTable Table;
    // When Ok: the same nonzero number for the same copy of a document, so
    // that what is made of it can be kept; 0 when it is not to be kept.
    std::uint64_t Version = 0;
    // When Ok: the document's bytes as the bank sent them.
    std::string Document;
    // When not Ok: one line that says why, for the log.
    std::string Error;
    // When Ok: when the document was fetched from the bank, and whether it
    // is an older copy served because the bank could not be asked now.
    std::chrono::system_clock::time_point FetchedAt{};
    bool Stale = false;
};

class Upstream {
  public:
    explicit Upstream(UpstreamOptions options);
    // Abandons the fetches under way at once: each callback still waiting is
    // called, before this returns, with Ok = false ("the server is stopping").
    ~Upstream();
    Upstream(const Upstream&) = delete;
    Upstream& operator=(const Upstream&) = delete;

    using Done = std::function<void(const UpstreamResult&)>;
    // The rates of the date.  done is called exactly once, on the fetching
    // thread (or at once, from a fresh cached copy or when too busy), within
    // AnswerWithin.  When a fetch fails, a cached copy of any age is served.
    // instead: what the caller serves when the fetch fails and there is no
    // copy, said at the end of the failure's log line ("served the bundled
    // rates"); empty when the caller has nothing.  A document dated after the
    // date, or too long before it to be the one in force then, is refused
    // (DocumentDateProblem), from the bank and from the cache alike.  Copies
    // read once are kept in memory, a bounded number of them.
    void Fetch(const Date& date, Done done, std::string instead = {});

    const UpstreamOptions& Options() const;
    // The wall clock of the options.
    std::chrono::system_clock::time_point Now() const;

    // The Version that Fetch would answer the date with at once, from a copy
    // in memory; 0 when it would read a file or ask the bank.  Costs no more
    // than a lookup, so that a caller that kept what it made of that copy
    // can answer without Fetch.
    std::uint64_t FreshVersion(const Date& date) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

// The default cache folder: $CACHE_DIRECTORY (which systemd sets for a
// service) when set, else ${XDG_CACHE_HOME:-~/.cache}/kurs/rates; empty (no
// cache) when there is no home folder either.
std::string DefaultUpstreamCacheDir();

}  // namespace rates
