#include "tools/rates-server/upstream/Upstream.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <libpsl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/Trace.h"
#include "tools/rates-server/upstream/BankXml.h"
#include "tools/rates-server/upstream/DocumentCache.h"

namespace rates {

namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kStopping = "the server is stopping";

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// "18/03/2026", the form the service reads.
std::string RequestDate(const Date& d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.Day, d.Month, d.Year);
    return buf;
}

std::string OneLine(std::string_view s) {
    std::string out;
    for (char c : s)
        out += c == '\r' || c == '\n' ? ' ' : c;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

struct UrlParts {
    std::string Scheme;  // lower case
    std::string Host;    // lower case; an IPv6 address in brackets
};

std::optional<UrlParts> SplitUrl(const std::string& url) {
    CURLU* u = curl_url();
    if (u == nullptr)
        return std::nullopt;
    std::optional<UrlParts> parts;
    char* scheme = nullptr;
    char* host = nullptr;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        parts.emplace();
        for (const char* c = scheme; *c != '\0'; ++c)
            parts->Scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        for (const char* c = host; *c != '\0'; ++c)
            parts->Host += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(u);
    return parts;
}

bool IsAddress(const std::string& host) {
    in_addr a{};
    return host.starts_with('[') || inet_pton(AF_INET, host.c_str(), &a) == 1;
}

// The domain a host was registered under ("cbr.ru" for "www.cbr.ru"), by
// the public suffix list; empty for an address or a public suffix itself.
std::string RegisteredDomain(const std::string& host) {
    static const psl_ctx_t* const list = [] {
        const psl_ctx_t* latest = psl_latest(nullptr);
        return latest != nullptr ? latest : psl_builtin();
    }();
    if (list == nullptr || IsAddress(host))
        return {};
    const char* domain = psl_registrable_domain(list, host.c_str());
    return domain == nullptr ? std::string() : std::string(domain);
}

// The redirects followed for one fetch, as a browser would stop at many.
constexpr int kMaxRedirects = 3;

// One fetch of one date, shared by every request for that date.
struct Job {
    Date Requested;
    std::string Url;  // of the request under way
    int Redirects = 0;
    std::vector<Upstream::Done> Waiters;
    Steady::time_point Deadline;  // the waiting clients are answered by then
    std::string Instead;          // what the caller serves when it fails
    std::string Body;
    bool TooLarge = false;
    char CurlError[CURL_ERROR_SIZE] = {};
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* job = static_cast<Job*>(user);
    const std::size_t n = size * count;
    if (job->Body.size() + n > kMaxBankXmlSize) {
        job->TooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    job->Body.append(data, n);
    return n;
}

std::string TransferError(CURLcode rc, const Job& job) {
    const std::string detail = OneLine(job.CurlError);
    std::string what;
    switch (rc) {
        case CURLE_OPERATION_TIMEDOUT:
            what = "no answer in time";
            break;
        case CURLE_TOO_MANY_REDIRECTS:
            what = "too many redirects";
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
            what = "cannot find the host";
            break;
        case CURLE_COULDNT_CONNECT:
            what = "cannot connect";
            break;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_ENGINE_INITFAILED:
            what = "TLS error";
            break;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            what = "the connection broke";
            break;
        default:
            what = curl_easy_strerror(rc);
            break;
    }
    return detail.empty() ? what : what + " (" + detail + ")";
}

bool IsHtml(const char* contentType) {
    if (contentType == nullptr)
        return false;
    std::string t;
    for (const char* c = contentType; *c != '\0' && *c != ';'; ++c)
        t += static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
    return t == "text/html" || t == "application/xhtml+xml";
}

}  // namespace

std::string RedirectRefusal(const std::string& base, const std::string& location) {
    const auto from = SplitUrl(base);
    const auto to = SplitUrl(location);
    if (!to || (to->Scheme != "http" && to->Scheme != "https"))
        return "not an http:// or https:// address";
    if (!from || from->Scheme != "https")
        return {};
    if (to->Scheme != "https")
        return "it leaves HTTPS";
    if (to->Host == from->Host)
        return {};
    const std::string domain = RegisteredDomain(from->Host);
    if (domain.empty() || RegisteredDomain(to->Host) != domain)
        return "another site than " + from->Host;
    return {};
}

bool IsLoopbackUrl(const std::string& url) {
    const auto parts = SplitUrl(url);
    if (!parts)
        return false;
    const std::string& h = parts->Host;
    in_addr a{};
    if (inet_pton(AF_INET, h.c_str(), &a) == 1)
        return (ntohl(a.s_addr) >> 24) == 127;
    return h == "[::1]" || h == "localhost" || h.ends_with(".localhost");
}

struct Upstream::Impl {
    UpstreamOptions Options;
    DocumentCache Cache;
    CURLM* Multi = nullptr;
    CURLSH* Share = nullptr;

    std::mutex Lock;
    bool Stopping = false;
    // Every date being fetched or waiting for a fetch; each Fetch of such a
    // date joins its waiters.
    std::map<Date, std::shared_ptr<Job>> Jobs;
    // Those not started yet, oldest first.
    std::deque<std::shared_ptr<Job>> Waiting;

    // Copies of documents read from the bank or the cache, so that a date
    // asked for again costs neither a file nor a parse.  Bounded: the least
    // recently used goes first.
    struct Memo {
        std::shared_ptr<const RatesTable> Table;
        std::shared_ptr<const std::string> Document;
        WallClock::time_point FetchedAt;
        std::uint64_t Version = 0;
        std::uint64_t LastUse = 0;
        std::size_t Size = 0;  // about what it takes in memory
    };
    // A real document is about 10 KB; the bytes bound what many large ones
    // (up to kMaxBankXmlSize each) may take.
    static constexpr std::size_t kMaxMemos = 512;
    static constexpr std::size_t kMaxMemoBytes = 32 * 1024 * 1024;
    mutable std::mutex MemoLock;
    mutable std::map<Date, Memo> Memos;
    mutable std::uint64_t MemoClock = 0;
    mutable std::size_t MemoBytes = 0;

    // The fetching thread's own: the transfers under way.
    std::map<CURL*, std::shared_ptr<Job>> Active;
    std::thread Worker;

    explicit Impl(UpstreamOptions options) : Options(std::move(options)), Cache(Options.CacheDir) {
        Options.MaxFetches = std::max(Options.MaxFetches, 1);
        Options.MaxWaiting = std::max(Options.MaxWaiting, 0);
        InitCurlOnce();
        Multi = curl_multi_init();
        Share = curl_share_init();
        if (Multi == nullptr || Share == nullptr) {
            Cleanup();
            throw std::runtime_error("cannot set up the HTTP client");
        }
        // The site's bot filter sets cookies and looks for them on the next
        // request.  Only the fetching thread uses the share: no locks.
        curl_share_setopt(Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);

        if (Options.BaseUrl.starts_with("http://") && !IsLoopbackUrl(Options.BaseUrl))
            Log("kurs-rates-server: warning: the upstream " + Options.BaseUrl +
                " is plain HTTP: its answers can be read and changed on the way");
        if (const int removed = Cache.RemoveLeftovers(Now()); removed > 0)
            KURS_TRACE(RatesServer, "upstream cache: removed %d unfinished copies", removed);
    }

    ~Impl() { Cleanup(); }

    void Cleanup() {
        if (Multi != nullptr)
            curl_multi_cleanup(Multi);
        if (Share != nullptr)
            curl_share_cleanup(Share);
        Multi = nullptr;
        Share = nullptr;
    }

    WallClock::time_point Now() const { return Options.Now ? Options.Now() : WallClock::now(); }

    void Log(const std::string& line) const {
        if (Options.Log) {
            Options.Log(line);
            return;
        }
        const std::string text = line + "\n";
        [[maybe_unused]] const auto n = write(STDERR_FILENO, text.data(), text.size());
    }

    // A fetch that can no longer have this much time fails as busy.
    milliseconds LeastFetchTime() const {
        return std::min(milliseconds(1000), Options.AnswerWithin / 4);
    }

    Date Today() const { return MoscowDateAt(Now()); }

    std::uint64_t Remember(const Date& date, std::shared_ptr<const RatesTable> table,
                           std::shared_ptr<const std::string> document,
                           WallClock::time_point fetchedAt) const {
        std::size_t size = sizeof(Memo) + document->size();
        for (const auto& c : table->Currencies)
            size += sizeof c + c.NumCode.size() + c.CharCode.size() + c.Name.size() +
                    c.Rate.size() + c.Id.size();
        std::lock_guard lock(MemoLock);
        Forget(date);
        while (!Memos.empty() && (Memos.size() >= kMaxMemos || MemoBytes + size > kMaxMemoBytes)) {
            auto oldest = Memos.begin();
            for (auto it = Memos.begin(); it != Memos.end(); ++it)
                if (it->second.LastUse < oldest->second.LastUse)
                    oldest = it;
            Forget(oldest->first);
        }
        const std::uint64_t version = ++MemoClock;
        Memos[date] =
            Memo{std::move(table), std::move(document), fetchedAt, version, version, size};
        MemoBytes += size;
        return version;
    }

    // With MemoLock held.
    void Forget(const Date& date) const {
        if (const auto it = Memos.find(date); it != Memos.end()) {
            MemoBytes -= it->second.Size;
            Memos.erase(it);
        }
    }

    // The copy of the date's document: from memory, else from the cache
    // folder (and then kept in memory).  One that cannot be read, or is for
    // another date, is reported in damaged and not served.
    std::optional<Memo> CopyOf(const Date& date, std::string* damaged = nullptr) const {
        {
            std::lock_guard lock(MemoLock);
            if (auto it = Memos.find(date); it != Memos.end()) {
                if (DocumentDateProblem(date, it->second.Table->From, Today()).empty()) {
                    it->second.LastUse = ++MemoClock;
                    return it->second;
                }
                Forget(date);
            }
        }
        std::string why;
        auto copy = Cache.Load(date, &why);
        if (copy)
            why = DocumentDateProblem(date, copy->Table.From, Today());
        if (!why.empty()) {
            if (damaged != nullptr)
                *damaged = why;
            return std::nullopt;
        }
        if (!copy)
            return std::nullopt;
        auto table = std::make_shared<const RatesTable>(std::move(copy->Table));
        auto document = std::make_shared<const std::string>(std::move(copy->Bytes));
        const auto version = Remember(date, table, document, copy->FetchedAt);
        return Memo{std::move(table), std::move(document), copy->FetchedAt, version, 0, 0};
    }

    static UpstreamResult Served(const Memo& m) {
        UpstreamResult r;
        r.Ok = true;
        r.Table = *m.Table;
        r.Document = *m.Document;
        r.Version = m.Version;
        r.FetchedAt = m.FetchedAt;
        return r;
    }

    // The answer for a failed fetch: a cached copy of any age, or the failure.
    UpstreamResult Failed(const Date& date, const std::string& why,
                          const std::string& instead) const {
        UpstreamResult r;
        const std::string prefix = "kurs-rates-server: upstream " + RequestDate(date) + ": ";
        if (auto copy = CopyOf(date)) {
            r = Served(*copy);
            r.Stale = true;
            Log(prefix + why + "; served the cached copy");
        } else {
            r.Error = why;
            Log(prefix + why + (instead.empty() ? "" : "; " + instead));
        }
        return r;
    }

    // Hands the result to everyone waiting for the date.
    void Finish(const std::shared_ptr<Job>& job, const UpstreamResult& result) {
        KURS_TRACE(RatesServer, "upstream %s: %s", RequestDate(job->Requested).c_str(),
                   result.Ok ? "done" : result.Error.c_str());
        std::vector<Done> waiters;
        {
            std::lock_guard lock(Lock);
            if (auto it = Jobs.find(job->Requested); it != Jobs.end() && it->second == job)
                Jobs.erase(it);
            waiters.swap(job->Waiters);
        }
        for (auto& done : waiters)
            Call(done, result);
    }

    void Call(const Done& done, const UpstreamResult& result) const {
        try {
            done(result);
        } catch (const std::exception& e) {
            Log(std::string("kurs-rates-server: upstream: a waiting request failed: ") + e.what());
        }
    }

    // Starts the transfer of a job; an empty string when it is under way.
    std::string Begin(const std::shared_ptr<Job>& job) {
        CURL* e = curl_easy_init();
        if (e == nullptr)
            return "cannot start a transfer";
        const auto left = std::chrono::duration_cast<milliseconds>(job->Deadline - Steady::now());
        const long total =
            static_cast<long>(std::clamp(left, milliseconds(1), Options.Timeout).count());
        const long connect =
            static_cast<long>(std::min(Options.ConnectTimeout.count(), milliseconds::rep(total)));
        if (job->Url.empty())
            job->Url =
                Options.BaseUrl + "/scripts/XML_daily.asp?date_req=" + RequestDate(job->Requested);
        KURS_TRACE(RatesServer, "upstream %s: GET %s (%ld ms)", RequestDate(job->Requested).c_str(),
                   job->Url.c_str(), total);
        curl_easy_setopt(e, CURLOPT_URL, job->Url.c_str());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        // Redirects are followed here, one by one, each checked first
        // (RedirectRefusal).
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
        if (!Options.CaFile.empty()) {
            curl_easy_setopt(e, CURLOPT_CAINFO, Options.CaFile.c_str());
            curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
        }
        curl_easy_setopt(e, CURLOPT_SHARE, Share);
        curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(e, CURLOPT_USERAGENT, Options.UserAgent.c_str());
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
        // No signals on this thread (libcurl would time name lookups with
        // SIGALRM); a pending lookup is left behind, not waited for, when a
        // transfer is dropped at the stop.
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, total);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connect);
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBankXmlSize));
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, job.get());
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, job->CurlError);
        if (curl_multi_add_handle(Multi, e) != CURLM_OK) {
            curl_easy_cleanup(e);
            return "cannot start a transfer";
        }
        Active.emplace(e, job);
        return {};
    }

    // What a finished transfer brought.  A document that reads well is
    // stored in the cache.  A redirect that may be followed sets follow.
    UpstreamResult Outcome(CURL* e, CURLcode rc, Job& job, std::string& follow) {
        UpstreamResult r;
        if (job.TooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
            r.Error = "the answer is larger than " + std::to_string(kMaxBankXmlSize) + " bytes";
            return r;
        }
        if (rc != CURLE_OK) {
            r.Error = TransferError(rc, job);
            return r;
        }
        long status = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
        const char* location = nullptr;
        curl_easy_getinfo(e, CURLINFO_REDIRECT_URL, &location);
        if ((status == 301 || status == 302 || status == 303 || status == 307 || status == 308) &&
            location != nullptr) {
            if (const auto why = RedirectRefusal(Options.BaseUrl, location); !why.empty())
                r.Error = "refused the redirect to " + PrintableAscii(location, 200) + ": " + why;
            else if (job.Redirects >= kMaxRedirects)
                r.Error = "too many redirects (" + std::to_string(kMaxRedirects) + " followed)";
            else
                follow = location;
            return r;
        }
        if (status != 200) {
            r.Error = "HTTP " + std::to_string(status);
            return r;
        }
        const char* type = nullptr;
        curl_easy_getinfo(e, CURLINFO_CONTENT_TYPE, &type);
        auto doc = ReadBankXml(job.Body);
        if (!doc.Ok) {
            r.Error = IsHtml(type) ? "an HTML page instead of the rates document" : doc.Error;
            return r;
        }
        if (auto why = DocumentDateProblem(job.Requested, doc.Table.From, Today()); !why.empty()) {
            r.Error = std::move(why);
            return r;
        }
        r.FetchedAt = Now();
        if (const auto why = Cache.Store(job.Requested, job.Body, r.FetchedAt); !why.empty())
            Log("kurs-rates-server: upstream cache: " + why);
        r.Ok = true;
        r.Table = std::move(doc.Table);
        r.Document = std::move(job.Body);
        r.Version = Remember(job.Requested, std::make_shared<const RatesTable>(r.Table),
                             std::make_shared<const std::string>(r.Document), r.FetchedAt);
        return r;
    }

    // The fetching thread: starts waiting fetches as room allows, drives the
    // transfers, and sleeps in curl_multi_poll until a socket, a timer of
    // libcurl's, a new fetch or the stop wakes it.
    void Run() {
        bool again = false;
        for (;;) {
            std::vector<std::shared_ptr<Job>> start;
            std::vector<std::shared_ptr<Job>> busy;
            int waitMs = 60000;
            {
                std::lock_guard lock(Lock);
                if (Stopping)
                    break;
                const auto now = Steady::now();
                const auto least = LeastFetchTime();
                while (!Waiting.empty()) {
                    auto& job = Waiting.front();
                    if (job->Deadline - now < least)
                        busy.push_back(job);
                    else if (static_cast<int>(Active.size() + start.size()) < Options.MaxFetches)
                        start.push_back(job);
                    else
                        break;
                    Waiting.pop_front();
                }
                // Wake when the oldest waiting date would run out of time.
                if (!Waiting.empty()) {
                    const auto until =
                        std::chrono::ceil<milliseconds>(Waiting.front()->Deadline - least - now);
                    waitMs = static_cast<int>(std::clamp<long long>(until.count(), 0, waitMs));
                }
            }
            for (const auto& job : start)
                if (const auto why = Begin(job); !why.empty())
                    Finish(job, Failed(job->Requested, why, job->Instead));
            for (const auto& job : busy)
                Finish(job, Failed(job->Requested, "too busy: other dates were being fetched",
                                   job->Instead));

            int running = 0;
            curl_multi_perform(Multi, &running);
            again = false;
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(Multi, &left)) {
                if (msg->msg != CURLMSG_DONE)
                    continue;
                CURL* e = msg->easy_handle;
                const CURLcode rc = msg->data.result;
                auto it = Active.find(e);
                if (it == Active.end())
                    continue;
                const auto job = it->second;
                Active.erase(it);
                std::string follow;
                auto result = Outcome(e, rc, *job, follow);
                curl_multi_remove_handle(Multi, e);
                curl_easy_cleanup(e);
                again = true;  // room for a waiting date
                if (!follow.empty()) {
                    KURS_TRACE(RatesServer, "upstream %s: redirected to %s",
                               RequestDate(job->Requested).c_str(),
                               PrintableAscii(follow, 200).c_str());
                    job->Url = std::move(follow);
                    job->Body.clear();
                    job->TooLarge = false;
                    job->CurlError[0] = '\0';
                    ++job->Redirects;
                    const auto why = Begin(job);
                    if (why.empty())
                        continue;
                    result.Error = why;
                }
                if (!result.Ok)
                    result = Failed(job->Requested, result.Error, job->Instead);
                Finish(job, result);
            }
            if (!again)
                curl_multi_poll(Multi, nullptr, 0, waitMs, nullptr);
        }

        // Stopping: drop the transfers and answer everyone still waiting.
        for (auto& [e, job] : Active) {
            curl_multi_remove_handle(Multi, e);
            curl_easy_cleanup(e);
        }
        Active.clear();
        std::map<Date, std::shared_ptr<Job>> jobs;
        {
            std::lock_guard lock(Lock);
            jobs.swap(Jobs);
            Waiting.clear();
        }
        UpstreamResult stopped;
        stopped.Error = kStopping;
        for (auto& [date, job] : jobs)
            for (auto& done : job->Waiters)
                Call(done, stopped);
    }
};

Upstream::Upstream(UpstreamOptions options) : FImpl(std::make_unique<Impl>(std::move(options))) {
    FImpl->Worker = std::thread([impl = FImpl.get()] { impl->Run(); });
}

Upstream::~Upstream() {
    {
        std::lock_guard lock(FImpl->Lock);
        FImpl->Stopping = true;
    }
    curl_multi_wakeup(FImpl->Multi);
    FImpl->Worker.join();
}

void Upstream::Fetch(const Date& date, Done done, std::string instead) {
    Impl& im = *FImpl;
    std::string damaged;
    if (auto copy = im.CopyOf(date, &damaged);
        copy && IsFresh(date, copy->FetchedAt, im.Now(), im.Options.FreshFor)) {
        const UpstreamResult r = Impl::Served(*copy);
        KURS_TRACE(RatesServer, "upstream %s: from the cache", RequestDate(date).c_str());
        im.Call(done, r);
        return;
    }
    if (!damaged.empty())
        im.Log("kurs-rates-server: upstream cache " + im.Cache.PathOf(date) + ": " + damaged +
               "; fetching it again");

    std::string refused;
    {
        std::lock_guard lock(im.Lock);
        if (im.Stopping) {
            refused = kStopping;
        } else if (auto it = im.Jobs.find(date); it != im.Jobs.end()) {
            it->second->Waiters.push_back(std::move(done));
            KURS_TRACE(RatesServer, "upstream %s: joins the fetch under way",
                       RequestDate(date).c_str());
            return;
        } else if (im.Jobs.size() >=
                   static_cast<std::size_t>(im.Options.MaxFetches + im.Options.MaxWaiting)) {
            refused = "too busy: too many dates are being fetched";
        } else {
            auto job = std::make_shared<Job>();
            job->Requested = date;
            job->Instead = std::move(instead);
            job->Deadline = Steady::now() + im.Options.AnswerWithin;
            job->Waiters.push_back(std::move(done));
            im.Jobs.emplace(date, job);
            im.Waiting.push_back(std::move(job));
        }
    }
    if (refused.empty()) {
        curl_multi_wakeup(im.Multi);
        return;
    }
    if (refused == kStopping) {
        UpstreamResult r;
        r.Error = refused;
        im.Call(done, r);
    } else {
        im.Call(done, im.Failed(date, refused, instead));
    }
}

std::uint64_t Upstream::FreshVersion(const Date& date) const {
    const Impl& im = *FImpl;
    std::lock_guard lock(im.MemoLock);
    const auto it = im.Memos.find(date);
    if (it == im.Memos.end() ||
        !IsFresh(date, it->second.FetchedAt, im.Now(), im.Options.FreshFor) ||
        !DocumentDateProblem(date, it->second.Table->From, im.Today()).empty())
        return 0;
    it->second.LastUse = ++im.MemoClock;
    return it->second.Version;
}

const UpstreamOptions& Upstream::Options() const {
    return FImpl->Options;
}

WallClock::time_point Upstream::Now() const {
    return FImpl->Now();
}

std::string DefaultUpstreamCacheDir() {
    if (const char* dirs = std::getenv("CACHE_DIRECTORY"); dirs != nullptr && *dirs == '/') {
        const std::string all = dirs;
        return all.substr(0, all.find(':'));
    }
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/')
        return std::string(xdg) + "/kurs/rates";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        return std::string(home) + "/.cache/kurs/rates";
    return {};
}

}  // namespace rates
