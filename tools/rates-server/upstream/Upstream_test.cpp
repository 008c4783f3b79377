#include "tools/rates-server/upstream/Upstream.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tools/rates-server/upstream/BankXml.h"
#include "tools/rates-server/upstream/DocumentCache.h"
#include "tools/rates-server/upstream/tests/BankStub.h"
#include "tools/rates-server/upstream/tests/TestSupport.h"

namespace rates {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using namespace test;

std::string Target(const Date& d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "/scripts/XML_daily.asp?date_req=%02d/%02d/%04d", d.Day, d.Month,
                  d.Year);
    return buf;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        names.push_back(e.path().filename().string());
    return names;
}

// A wall clock the test moves; it starts at 18.03.2026 12:00 in Moscow.
class TestClock {
  public:
    WallClock::time_point Now() const {
        std::lock_guard lock(FLock);
        return FNow;
    }
    void Advance(WallClock::duration d) {
        std::lock_guard lock(FLock);
        FNow += d;
    }
    std::function<WallClock::time_point()> Function() {
        return [this] { return Now(); };
    }

  private:
    mutable std::mutex FLock;
    WallClock::time_point FNow = sys_days{2026y / 3 / 18} + hours(9);
};

// Upstream options for a stub: short time-outs, the test's clock and log.
struct Scene {
    TempDir Cache;
    TestClock Clock;
    LogLines Log;

    UpstreamOptions Options(const std::string& baseUrl) {
        UpstreamOptions o;
        o.BaseUrl = baseUrl;
        o.CacheDir = Cache.Path() + "/rates";
        o.UserAgent = "kurs-rates-server/test";
        o.Timeout = milliseconds(1500);
        o.ConnectTimeout = milliseconds(1000);
        o.AnswerWithin = milliseconds(2500);
        o.Now = Clock.Function();
        o.Log = Log.Sink();
        return o;
    }
    std::string CachePath(const Date& d) {
        return DocumentCache(Cache.Path() + "/rates").PathOf(d);
    }
};

UpstreamResult FetchNow(Upstream& u, const Date& d) {
    Results results;
    u.Fetch(d, results.Callback());
    EXPECT_TRUE(results.WaitAll());
    EXPECT_EQ(results.Calls(), std::vector<int>{1});
    return results.Get(0);
}

bool SameTable(const RatesTable& a, const RatesTable& b) {
    if (a.From != b.From || a.Currencies.size() != b.Currencies.size())
        return false;
    for (std::size_t i = 0; i < a.Currencies.size(); ++i) {
        const auto &x = a.Currencies[i], &y = b.Currencies[i];
        if (x.NumCode != y.NumCode || x.CharCode != y.CharCode || x.Nominal != y.Nominal ||
            x.Name != y.Name || x.Rate != y.Rate)
            return false;
    }
    return true;
}

// The recorded document of 18.03.2026, redated.
std::string DocumentOf(std::string_view date) {
    auto doc = TestFile("XML_daily_2026-03-18.xml");
    doc.replace(doc.find("18.03.2026"), 10, date);
    return doc;
}

void SetModified(const std::string& path, WallClock::time_point t) {
    const timespec times[2] = {{WallClock::to_time_t(t), 0}, {WallClock::to_time_t(t), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST(Upstream, FetchesTheDocumentOfTheDateWithItsUserAgentAndCookies) {
    Scene s;
    const auto doc = TestFile("XML_daily_2026-03-18.xml");
    BankStub stub([&](const std::string& target) {
        return XmlAnswer(target == kTarget18 ? doc : DocumentOf("17.03.2026"),
                         "Set-Cookie: visitor=YcXY; Path=/\r\n");
    });
    Upstream u(s.Options(stub.BaseUrl()));
    const auto r = FetchNow(u, k18);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_TRUE(SameTable(r.Table, ReadBankXml(doc).Table));
    EXPECT_EQ(ReadFile(s.CachePath(k18)), doc);

    EXPECT_TRUE(FetchNow(u, Date{2026, 3, 17}).Ok);
    const auto heads = stub.Heads();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[0].rfind("GET " + kTarget18 + " HTTP/1.1\r\n", 0), 0u) << heads[0];
    EXPECT_NE(heads[0].find("\r\nUser-Agent: kurs-rates-server/test\r\n"), std::string::npos);
    // The bot filter's cookie goes back with the next request.
    EXPECT_EQ(heads[0].find("Cookie:"), std::string::npos);
    EXPECT_NE(heads[1].find("\r\nCookie: visitor=YcXY\r\n"), std::string::npos) << heads[1];
    EXPECT_TRUE(s.Log.Lines().empty());
}

TEST(Upstream, TheRatesDateComesFromTheDocument) {
    // A Sunday gets Saturday's document.
    Scene s;
    const Date sunday{2026, 3, 22};
    BankStub stub([&](const std::string&) { return XmlAnswer(DocumentOf("21.03.2026")); });
    Upstream u(s.Options(stub.BaseUrl()));
    const auto r = FetchNow(u, sunday);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Table.From, (Date{2026, 3, 21}));
    EXPECT_EQ(stub.Heads().at(0).rfind("GET " + Target(sunday) + " ", 0), 0u);
    // Kept under the date asked for, and served from there.
    EXPECT_TRUE(fs::exists(s.CachePath(sunday)));
    EXPECT_EQ(FetchNow(u, sunday).Table.From, (Date{2026, 3, 21}));
    EXPECT_EQ(stub.Requests(), 1);
}

TEST(Upstream, RedirectsAreFollowed) {
    Scene s;
    BankStub stub([&](const std::string& target) {
        // The pages of the redirects are not part of the document.
        if (target == kTarget18)
            return Answer(302, "text/html", "<html>Moved</html>", "Location: /moved/1\r\n");
        if (target == "/moved/1")
            return Answer(301, "text/html", "<html>Moved</html>", "Location: /moved/2\r\n");
        if (target == "/moved/2")
            return Answer(302, "text/html", "<html>Moved</html>", "Location: /moved/3\r\n");
        return XmlAnswer(TestFile("XML_daily_2026-03-18.xml"));
    });
    Upstream u(s.Options(stub.BaseUrl()));
    EXPECT_TRUE(FetchNow(u, k18).Ok);
    EXPECT_EQ(stub.Requests(), 4);
}

TEST(Upstream, EveryFailureIsReportedOnceAndNothingIsCached) {
    const std::string big(kMaxBankXmlSize + 1, 'x');
    const auto doc = TestFile("XML_daily_2026-03-18.xml");
    struct Case {
        const char* What;
        StubReply Reply;
        const char* Error;
        enum { Plain, Https, Closed } Url = Plain;
    };
    const Case cases[] = {
        {"the bot filter's page",
         Answer(200, "text/html; charset=utf-8",
                "<!DOCTYPE html><html><body>Checking your browser<br></body></html>"),
         "an HTML page instead of the rates document"},
        {"a malformed date", XmlAnswer(TestFile("XML_daily_error_in_parameters.xml")),
         "the service answered 'Error in parameters'"},
        {"a refusal", Answer(403, "text/html", "<html>Forbidden</html>"), "HTTP 403"},
        {"not found", Answer(404, "text/html", "nothing"), "HTTP 404"},
        {"a server error", Answer(500, "application/xml", doc), "HTTP 500"},
        {"an empty answer", XmlAnswer(""), "an empty answer"},
        {"a stall", {StubReply::Kind::Stall, ""}, "no answer in time"},
        {"a reset", {StubReply::Kind::Reset, ""}, "the connection broke"},
        {"a torn body",
         {StubReply::Kind::Answer,
          "HTTP/1.1 200 OK\r\nContent-Length: 9516\r\n\r\n" + doc.substr(0, 4000)},
         "the connection broke"},
        {"an oversized body", XmlAnswer(big), "the answer is larger than 2097152 bytes"},
        {"an oversized body of unknown length",
         {StubReply::Kind::Answer,
          "HTTP/1.0 200 OK\r\nContent-Type: application/xml\r\n\r\n" + big},
         "the answer is larger than 2097152 bytes"},
        {"a redirect loop", Answer(302, "text/html", "", "Location: " + kTarget18 + "\r\n"),
         "too many redirects"},
        {"a redirect to a file", Answer(302, "text/html", "", "Location: file:///etc/passwd\r\n"),
         "refused the redirect to file:///etc/passwd: not an http:// or https:// address"},
        {"the document of long ago", XmlAnswer(DocumentOf("01.01.2000")),
         "the document is dated 01.01.2000, more than 15 days before 18.03.2026"},
        {"the document of a later date", XmlAnswer(DocumentOf("18.03.2030")),
         "the document is dated 18.03.2030, after 18.03.2026"},
        {"TLS to a plain server", XmlAnswer(doc), "TLS error", Case::Https},
        {"nobody listening", XmlAnswer(doc), "cannot connect", Case::Closed},
    };
    for (const auto& c : cases) {
        Scene s;
        BankStub stub([&](const std::string&) { return c.Reply; });
        std::string url = stub.BaseUrl();
        if (c.Url == Case::Https)
            url = "https://127.0.0.1:" + std::to_string(stub.Port());
        std::optional<BankStub> closed;
        if (c.Url == Case::Closed) {
            closed.emplace([](const std::string&) { return StubReply{}; });
            url = closed->BaseUrl();
            closed.reset();
        }
        Upstream u(s.Options(url));
        const auto r = FetchNow(u, k18);
        EXPECT_FALSE(r.Ok) << c.What;
        EXPECT_EQ(r.Error.rfind(c.Error, 0), 0u) << c.What << ": " << r.Error;
        EXPECT_EQ(s.Log.Lines(),
                  std::vector<std::string>{"kurs-rates-server: upstream 18/03/2026: " + r.Error})
            << c.What;
        EXPECT_TRUE(FilesIn(s.Cache.Path() + "/rates").empty()) << c.What;
    }
}

TEST(Upstream, ConcurrentRequestsForOneDateShareOneFetch) {
    Scene s;
    Signal arrived;
    Signal release;
    BankStub stub([&](const std::string&) {
        arrived.Set();
        release.Wait();
        return XmlAnswer(TestFile("XML_daily_2026-03-18.xml"));
    });
    Upstream u(s.Options(stub.BaseUrl()));
    Results results;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, done = results.Callback()] { u.Fetch(k18, done); });
    for (auto& t : threads)
        t.join();
    ASSERT_TRUE(arrived.Wait());
    // More requests while the one fetch is under way.
    for (int i = 0; i < 3; ++i)
        u.Fetch(k18, results.Callback());
    release.Set();
    ASSERT_TRUE(results.WaitAll());
    EXPECT_EQ(results.Calls(), std::vector<int>(11, 1));
    for (std::size_t i = 0; i < 11; ++i) {
        EXPECT_TRUE(results.Get(i).Ok);
        EXPECT_TRUE(SameTable(results.Get(i).Table, results.Get(0).Table));
    }
    EXPECT_EQ(stub.Requests(), 1);
}

TEST(Upstream, OtherDatesAreFetchedWhileOneStalls) {
    Scene s;
    BankStub stub([&](const std::string& target) {
        return target == kTarget18 ? StubReply{StubReply::Kind::Stall, ""}
                                   : XmlAnswer(DocumentOf("17.03.2026"));
    });
    Upstream u(s.Options(stub.BaseUrl()));
    Results results;
    u.Fetch(k18, results.Callback());
    u.Fetch(Date{2026, 3, 17}, results.Callback());
    ASSERT_TRUE(results.WaitFor(1));
    EXPECT_TRUE(results.Get(1).Ok);
    EXPECT_FALSE(results.Called(0));
    ASSERT_TRUE(results.WaitAll());
    EXPECT_EQ(results.Get(0).Error.rfind("no answer in time", 0), 0u) << results.Get(0).Error;
}

TEST(Upstream, WhenEveryFetchIsBusyWaitingDatesFailInTime) {
    Scene s;
    BankStub stub([&](const std::string&) { return StubReply{StubReply::Kind::Stall, ""}; });
    auto o = s.Options(stub.BaseUrl());
    o.MaxFetches = 1;
    o.MaxWaiting = 1;
    o.Timeout = seconds(30);
    o.AnswerWithin = milliseconds(1200);
    Upstream u(o);
    Results results;
    u.Fetch(Date{2026, 3, 16}, results.Callback());  // under way, stalled
    u.Fetch(Date{2026, 3, 17}, results.Callback());  // waits for room
    u.Fetch(k18, results.Callback());                // no room to wait
    ASSERT_TRUE(results.WaitFor(2));
    EXPECT_EQ(results.Get(2).Error, "too busy: too many dates are being fetched");
    ASSERT_TRUE(results.WaitAll());
    EXPECT_EQ(results.Calls(), std::vector<int>(3, 1));
    // Within AnswerWithin, not the 30 s the transfer was allowed.
    EXPECT_EQ(results.Get(0).Error.rfind("no answer in time", 0), 0u) << results.Get(0).Error;
    EXPECT_EQ(results.Get(1).Error, "too busy: other dates were being fetched");
    EXPECT_EQ(stub.Requests(), 1);
}

TEST(Upstream, StoppingAnswersEveryoneStillWaiting) {
    Scene s;
    Signal arrived;
    BankStub stub([&](const std::string&) {
        arrived.Set();
        return StubReply{StubReply::Kind::Stall, ""};
    });
    auto o = s.Options(stub.BaseUrl());
    o.MaxFetches = 1;
    o.Timeout = seconds(60);
    o.AnswerWithin = seconds(60);
    Results results;
    {
        Upstream u(o);
        u.Fetch(k18, results.Callback());
        u.Fetch(k18, results.Callback());
        u.Fetch(Date{2026, 3, 17}, results.Callback());
        ASSERT_TRUE(arrived.Wait());
    }
    // Every callback was called once, before the destructor returned, and
    // not by the 60 s time-out.
    EXPECT_EQ(results.Calls(), std::vector<int>(3, 1));
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(results.Get(i).Error, "the server is stopping");
}

TEST(Upstream, TheCacheOutlivesTheServerAndTheBank) {
    Scene s;
    const Date past{2016, 8, 23};
    std::string url;
    {
        BankStub stub([&](const std::string& target) {
            return XmlAnswer(target == Target(past)
                                 ? TestFile("XML_daily_2016-08-23_reformatted.xml")
                                 : TestFile("XML_daily_2026-03-18.xml"));
        });
        url = stub.BaseUrl();
        Upstream u(s.Options(url));
        EXPECT_TRUE(FetchNow(u, past).Ok);
        EXPECT_TRUE(FetchNow(u, k18).Ok);
    }
    // A new server, the bank gone: a past date never changes, today's copy
    // is fresh for a while and then served when the bank cannot be asked.
    Upstream u(s.Options(url));
    const auto old = FetchNow(u, past);
    ASSERT_TRUE(old.Ok);
    EXPECT_EQ(old.Table.From, past);
    s.Clock.Advance(minutes(10));
    EXPECT_TRUE(FetchNow(u, k18).Ok);
    EXPECT_TRUE(s.Log.Lines().empty());
    s.Clock.Advance(minutes(10));
    const auto stale = FetchNow(u, k18);
    ASSERT_TRUE(stale.Ok);
    EXPECT_EQ(stale.Table.From, k18);
    const auto lines = s.Log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("kurs-rates-server: upstream 18/03/2026: cannot connect", 0), 0u);
    EXPECT_TRUE(lines[0].ends_with("; served the cached copy")) << lines[0];
}

TEST(Upstream, TodaysCopyIsAskedForAgainAfterItsTime) {
    Scene s;
    BankStub stub([&](const std::string&) { return XmlAnswer(DocumentOf("18.03.2026")); });
    Upstream u(s.Options(stub.BaseUrl()));
    struct Step {
        WallClock::duration Advance;
        int Requests;
    };
    for (const Step& step : {
             Step{{}, 1},
             Step{minutes(14), 1},
             Step{minutes(2), 2},  // 16 minutes after the first
             Step{minutes(10), 2},
             // Past midnight in Moscow: the copy was fetched while the date
             // was today, so it is asked for once more, and then kept.
             Step{hours(12), 3},
             Step{days(400), 3},
         }) {
        s.Clock.Advance(step.Advance);
        EXPECT_TRUE(FetchNow(u, k18).Ok);
        EXPECT_EQ(stub.Requests(), step.Requests);
    }
}

TEST(Upstream, ADamagedCopyIsFetchedAgainAndNeverServed) {
    Scene s;
    const Date past{2016, 8, 23};
    const auto good = TestFile("XML_daily_2016-08-23_reformatted.xml");
    BankStub stub([](const std::string&) { return Answer(500, "text/html", "down"); });
    Upstream u(s.Options(stub.BaseUrl()));
    fs::create_directories(s.Cache.Path() + "/rates");
    std::ofstream(s.CachePath(past), std::ios::binary) << good.substr(0, 2000);

    const auto failed = FetchNow(u, past);
    EXPECT_FALSE(failed.Ok);
    EXPECT_EQ(failed.Error, "HTTP 500");
    auto lines = s.Log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("2016-08-23.xml: not a well-formed XML document"), std::string::npos)
        << lines[0];
    EXPECT_EQ(lines[1], "kurs-rates-server: upstream 23/08/2016: HTTP 500");

    stub.SetHandler([&](const std::string&) { return XmlAnswer(good); });
    EXPECT_TRUE(FetchNow(u, past).Ok);
    EXPECT_EQ(ReadFile(s.CachePath(past)), good);
    EXPECT_TRUE(FetchNow(u, past).Ok);
    EXPECT_EQ(stub.Requests(), 2);
}

TEST(Upstream, AFarDateGetsTheLatestDocumentButNeverForGood) {
    Scene s;
    const Date later{2026, 9, 1};
    std::string answer = DocumentOf("01.01.2000");
    BankStub stub([&](const std::string&) { return XmlAnswer(answer); });
    Upstream u(s.Options(stub.BaseUrl()));
    const auto old = FetchNow(u, later);
    EXPECT_EQ(old.Error, "the document is dated 01.01.2000, more than 15 days before tomorrow");
    EXPECT_FALSE(fs::exists(s.CachePath(later)));

    answer = DocumentOf("18.03.2026");
    const auto latest = FetchNow(u, later);
    ASSERT_TRUE(latest.Ok) << latest.Error;
    EXPECT_EQ(latest.Table.From, k18);
    s.Clock.Advance(minutes(16));
    EXPECT_TRUE(FetchNow(u, later).Ok);
    EXPECT_EQ(stub.Requests(), 3);
    // A month on, that copy is no longer the latest document: not served.
    stub.SetHandler([](const std::string&) { return Answer(500, "text/html", "down"); });
    s.Clock.Advance(days(30));
    EXPECT_FALSE(FetchNow(u, later).Ok);
}

TEST(Upstream, ACachedCopyForAnotherDateIsNeverServed) {
    Scene s;
    fs::create_directories(s.Cache.Path() + "/rates");
    std::ofstream(s.CachePath(k18), std::ios::binary) << DocumentOf("01.01.2000");
    SetModified(s.CachePath(k18), s.Clock.Now() - days(2));
    BankStub stub([](const std::string&) { return Answer(500, "text/html", "down"); });
    Upstream u(s.Options(stub.BaseUrl()));
    EXPECT_EQ(FetchNow(u, k18).Error, "HTTP 500");
    const auto lines = s.Log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("2026-03-18.xml: the document is dated 01.01.2000"), std::string::npos)
        << lines[0];
}

TEST(Upstream, ACopyIsReadOnceThenServedFromMemory) {
    Scene s;
    const Date past{2016, 8, 23};
    BankStub stub([](const std::string&) {
        return XmlAnswer(TestFile("XML_daily_2016-08-23_reformatted.xml"));
    });
    {
        Upstream first(s.Options(stub.BaseUrl()));
        EXPECT_TRUE(FetchNow(first, past).Ok);
    }
    Upstream u(s.Options(stub.BaseUrl()));
    const auto fromDisk = FetchNow(u, past);
    ASSERT_TRUE(fromDisk.Ok);
    EXPECT_NE(fromDisk.Version, 0u);
    // Once read, the file is not read again.
    std::ofstream(s.CachePath(past), std::ios::binary | std::ios::trunc) << "torn";
    const auto fromMemory = FetchNow(u, past);
    ASSERT_TRUE(fromMemory.Ok);
    EXPECT_EQ(fromMemory.Version, fromDisk.Version);
    EXPECT_TRUE(SameTable(fromMemory.Table, fromDisk.Table));
    EXPECT_EQ(stub.Requests(), 1);
    EXPECT_TRUE(s.Log.Lines().empty());
}

TEST(Upstream, AtStartUnfinishedCopiesOlderThanAMinuteAreRemoved) {
    Scene s;
    const std::string dir = s.Cache.Path() + "/rates";
    fs::create_directories(dir);
    for (const char* name : {".2026-03-18.xml.a1B2c3", ".2026-03-17.xml.d4E5f6", "2026-03-18.xml",
                             ".2026-03-16.xml.g7H8i9", ".notes"})
        std::ofstream(dir + "/" + name) << "x";
    for (const char* name : {".2026-03-18.xml.a1B2c3", "2026-03-18.xml", ".notes"})
        SetModified(dir + "/" + name, s.Clock.Now() - minutes(2));
    SetModified(dir + "/.2026-03-17.xml.d4E5f6", s.Clock.Now() - seconds(10));
    SetModified(dir + "/.2026-03-16.xml.g7H8i9", s.Clock.Now() - days(3));
    Upstream u(s.Options("http://127.0.0.1:1"));
    auto names = FilesIn(dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{".2026-03-17.xml.d4E5f6", ".notes", "2026-03-18.xml"}));
}

TEST(Upstream, APlainUpstreamElsewhereIsWarnedAboutOnce) {
    for (const auto& [url, warned] : std::vector<std::pair<std::string, bool>>{
             {"http://rates.example", true},
             {"http://10.1.2.3:8080", true},
             {"http://127.0.0.1:8080", false},
             {"http://localhost", false},
             {"http://bank.localhost:81", false},
             {"http://[::1]:81", false},
             {"https://rates.example", false},
         }) {
        Scene s;
        { Upstream u(s.Options(url)); }
        const auto lines = s.Log.Lines();
        ASSERT_EQ(lines.size(), warned ? 1u : 0u) << url;
        if (warned) {
            EXPECT_EQ(lines[0],
                      "kurs-rates-server: warning: the upstream " + url +
                          " is plain HTTP: its answers can be read and changed on the way");
        }
    }
}

TEST(Upstream, RedirectsFromHttpsStayOnHttpsAndOnTheSite) {
    struct Case {
        const char* Base;
        const char* Location;
        const char* Refusal;
    };
    for (const auto& c : {
             Case{"https://cbr.ru", "https://www.cbr.ru/x", ""},
             Case{"https://www.cbr.ru", "https://cbr.ru/x", ""},
             Case{"https://www.cbr.ru", "https://WWW.CBR.RU:8443/x", ""},
             Case{"https://www.cbr.ru", "http://www.cbr.ru/x", "it leaves HTTPS"},
             Case{"https://www.cbr.ru", "https://cbr.ru.example/x", "another site than www.cbr.ru"},
             Case{"https://www.cbr.ru", "https://ru/x", "another site than www.cbr.ru"},
             Case{"https://a.co.uk", "https://b.co.uk/", "another site than a.co.uk"},
             Case{"https://127.0.0.1:8443", "https://127.0.0.2:8443/",
                  "another site than 127.0.0.1"},
             Case{"https://www.cbr.ru", "ftp://www.cbr.ru/x", "not an http:// or https:// address"},
             Case{"http://127.0.0.1:81", "http://bank.example/x", ""},
             Case{"http://127.0.0.1:81", "file:///etc/passwd",
                  "not an http:// or https:// address"},
         })
        EXPECT_EQ(RedirectRefusal(c.Base, c.Location), c.Refusal) << c.Base << " -> " << c.Location;
}

}  // namespace
}  // namespace rates
