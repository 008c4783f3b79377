// The rates server with the bank's service behind it: pages made from the
// service's documents, failures as 502, and a stalled service that holds up
// nobody else.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "runtime/String.h"
#include "testing/ParsedResponse.h"
#include "testing/ProxyProcess.h"
#include "testing/RatesClient.h"
#include "tools/rates-server/RatesServer.h"
#include "tools/rates-server/upstream/tests/BankStub.h"
#include "tools/rates-server/upstream/tests/TestSupport.h"

namespace rates {
namespace {

using namespace test;
using namespace std::chrono;

const std::string kPage = "/markets/scripts/val_res1a.asp?date_req=";
const std::string kTarget19 = "/scripts/XML_daily.asp?date_req=19/03/2026";

void Send(int fd, const std::string& date) {
    SendAll(fd, GetRequest(kPage + date));
}

ParsedResponse Get(int port, const std::string& date) {
    const int fd = Connect(port);
    Send(fd, date);
    auto r = ParseResponse(ReadAll(fd));
    close(fd);
    return r;
}

bool Holds(const std::string& body, std::string_view text) {
    return body.find(text) != std::string::npos;
}

// A rates server with the bank's service at stub, on a free loopback port,
// served by a thread of its own.
class Server {
  public:
    Server(const BankStub& stub, LogLines& log, bool withHistory = false,
           milliseconds timeout = milliseconds(1500))
        : Server(
              stub, log,
              withHistory ? std::optional(RatesData::Load(KURS_RATES_SAMPLE_DATA)) : std::nullopt,
              [timeout](UpstreamOptions& o) {
                  if (timeout.count() > 0)
                      o.Timeout = timeout;
              }) {}
    Server(const BankStub& stub, LogLines& log, std::optional<RatesData> history,
           const std::function<void(UpstreamOptions&)>& tune) {
        UpstreamOptions o;
        o.BaseUrl = stub.BaseUrl();
        o.CacheDir = FCache.Path();
        o.UserAgent = "kurs-rates-server/test";
        o.Timeout = milliseconds(1500);
        o.Log = log.Sink();
        tune(o);
        FServer = std::make_unique<RatesServer>(std::make_unique<RatesService>(
            std::move(history), std::make_unique<Upstream>(std::move(o))));
        FServer->Listen("127.0.0.1:0");
        FThread = std::thread([this] { FServer->Run(); });
    }
    ~Server() {
        FServer->Stop();
        FThread.join();
    }
    int Port() const { return FServer->Port(); }

  private:
    TempDir FCache;
    std::unique_ptr<RatesServer> FServer;
    std::thread FThread;
};

TEST(UpstreamServer, ServesTheBanksDocumentAsTheOldPage) {
    BankStub stub([](const std::string& target) {
        auto doc = TestFile("XML_daily_2026-03-18.xml");
        if (target != kTarget18)  // a Sunday: Saturday's document
            doc.replace(doc.find("18.03.2026"), 10, "21.03.2026");
        return XmlAnswer(doc);
    });
    LogLines log;
    Server server(stub, log);

    const auto r = Get(server.Port(), "18.03.2026");
    ASSERT_EQ(r.Status, 200) << r.StatusLine;
    EXPECT_TRUE(Holds(r.Body, "установил с 18.03.2026 "_cp));
    // Each currency's nominal two lines above its name, the rate two below.
    const auto lines = Lines(r.Body);
    auto row = [&](std::string_view name) {
        for (std::size_t i = 2; i + 2 < lines.size(); ++i)
            if (lines[i] == "<td>" + std::string(name) + "</td>")
                return lines[i - 2] + " " + lines[i + 2];
        return std::string("none");
    };
    EXPECT_EQ(row("Доллар США"_cp), "<td>1</td> <td>81,9103</td>");
    EXPECT_EQ(row("ЕВРО"_cp), "<td>1</td> <td>93,1557</td>");
    EXPECT_EQ(row("Иен"_cp), "<td>100</td> <td>51,4092</td>");

    // Again: from the cached copy, answered while the request is handed in.
    const auto again = Get(server.Port(), "18.03.2026");
    EXPECT_EQ(again.Status, 200);
    EXPECT_EQ(again.Body, r.Body);
    EXPECT_EQ(stub.Requests(), 1);

    const auto sunday = Get(server.Port(), "22.03.2026");
    EXPECT_EQ(sunday.Status, 200);
    EXPECT_TRUE(Holds(sunday.Body, "установил с 21.03.2026 "_cp));
    EXPECT_TRUE(log.Lines().empty());
}

TEST(UpstreamServer, TheHistoryAnswersItsOwnDatesAndTheBankTheRest) {
    BankStub stub(
        [](const std::string&) { return XmlAnswer(TestFile("XML_daily_2026-03-18.xml")); });
    LogLines log;
    Server server(stub, log, true);
    const auto old = Get(server.Port(), "07.12.2000");
    EXPECT_EQ(old.Status, 200);
    EXPECT_TRUE(Holds(old.Body, "установил с 07.12.2000 "_cp));
    EXPECT_EQ(stub.Requests(), 0);
    EXPECT_TRUE(Holds(Get(server.Port(), "18.03.2026").Body, "установил с 18.03.2026 "_cp));
    EXPECT_EQ(stub.Requests(), 1);
}

TEST(UpstreamServer, TheBanksXmlDocumentIsServedAsItCame) {
    const auto doc = TestFile("XML_daily_2026-03-18.xml");
    BankStub stub([&](const std::string&) { return XmlAnswer(doc); });
    LogLines log;
    Server server(stub, log);
    auto get = [&](const std::string& target) {
        const int fd = Connect(server.Port());
        SendAll(fd, GetRequest(target));
        auto r = ParseResponse(ReadAll(fd));
        close(fd);
        return r;
    };
    const auto r = get("/scripts/XML_daily.asp?date_req=18%2F03%2F2026");
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "application/xml; charset=windows-1251");
    EXPECT_TRUE(r.Body == doc);
    // In English: the bank's ids, order and figures, with English names.
    const auto english = get("/scripts/XML_daily_eng.asp?date_req=18/03/2026").Body;
    EXPECT_TRUE(Holds(english,
                      "<Valute ID=\"R01235\"><NumCode>840</NumCode><CharCode>USD</"
                      "CharCode><Nominal>1</Nominal><Name>US Dollar</Name><Value>81,9103</"
                      "Value><VunitRate>81,9103</VunitRate></Valute>"));
    EXPECT_TRUE(Holds(english,
                      "<Valute ID=\"R01030\"><NumCode>012</NumCode><CharCode>DZD</"
                      "CharCode><Nominal>100</Nominal><Name>Algerian Dinar</Name>"));
    EXPECT_EQ(stub.Requests(), 1);
}

TEST(UpstreamServer, AFailureIsABadGatewayPageWithoutMarkerPhrases) {
    for (const auto& reply : {Answer(403, "text/html", "<html>Forbidden</html>"),
                              XmlAnswer(TestFile("XML_daily_error_in_parameters.xml")),
                              StubReply{StubReply::Kind::Stall, ""}}) {
        BankStub stub([&](const std::string&) { return reply; });
        LogLines log;
        Server server(stub, log, false, milliseconds(500));
        const auto r = Get(server.Port(), "18.03.2026");
        EXPECT_EQ(r.Status, 502) << r.StatusLine;
        EXPECT_FALSE(Holds(r.Body, "установил с"_cp));
        EXPECT_FALSE(Holds(r.Body, "не зарегистрированы"_cp));
        EXPECT_EQ(log.Lines().size(), 1u);
    }
}

// A bank that never answers for 19.03.2026 (and says when it was asked)
// and answers the document of 18.03.2026 for anything else.
auto StallOn19(Signal& stalled) {
    return [&stalled](const std::string& target) {
        if (target == kTarget19) {
            stalled.Set();
            return StubReply{StubReply::Kind::Stall, ""};
        }
        return XmlAnswer(TestFile("XML_daily_2026-03-18.xml"));
    };
}

TEST(UpstreamServer, OthersAreServedWhileOneWaitsOnAStalledBank) {
    // The default time-out: the waiting client still has its answer within
    // its 10 s of patience.
    Signal stalled;
    BankStub stub(StallOn19(stalled));
    LogLines log;
    Server server(stub, log, true, milliseconds(0));
    const int waiting = Connect(server.Port());
    Send(waiting, "19.03.2026");
    ASSERT_TRUE(stalled.Wait());

    EXPECT_EQ(Get(server.Port(), "18.03.2026").Status, 200);
    EXPECT_EQ(Get(server.Port(), "07.12.2000").Status, 200);
    pollfd p{waiting, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);  // still waiting for its page

    const auto r = ParseResponse(ReadAll(waiting));
    close(waiting);
    EXPECT_EQ(r.Status, 502) << r.StatusLine;
    EXPECT_TRUE(log.WaitFor("kurs-rates-server: upstream 19/03/2026: no answer in time"));
}

TEST(UpstreamServer, AClientThatHangsUpWhileWaitingDoesNoHarm) {
    Signal stalled;
    BankStub stub(StallOn19(stalled));
    LogLines log;
    Server server(stub, log, false, milliseconds(300));
    const int gone = Connect(server.Port());
    Send(gone, "19.03.2026");
    ASSERT_TRUE(stalled.Wait());
    close(gone);
    // The answer for the gone client arrives and is dropped.
    ASSERT_TRUE(log.WaitFor("upstream 19/03/2026"));
    EXPECT_EQ(Get(server.Port(), "18.03.2026").Status, 200);
    EXPECT_EQ(Get(server.Port(), "19.03.2026").Status, 502);
    EXPECT_EQ(stub.RequestsFor(kTarget19), 2);
}

TEST(UpstreamServer, ACopyOnHandIsAnsweredAtOnceAsTheSamePage) {
    BankStub stub(
        [](const std::string&) { return XmlAnswer(TestFile("XML_daily_2026-03-18.xml")); });
    TempDir cache;
    LogLines log;
    UpstreamOptions o;
    o.BaseUrl = stub.BaseUrl();
    o.CacheDir = cache.Path();
    o.Log = log.Sink();
    RatesService service(std::nullopt, std::make_unique<Upstream>(std::move(o)));
    const std::string head = GetRequest(kPage + "18.03.2026");
    Signal fetched;
    std::string first;
    if (auto now = service.Answer(head, [&](std::string r) {
            first = std::move(r);
            fetched.Set();
        }))
        first = std::move(*now);
    else
        ASSERT_TRUE(fetched.Wait());
    for (int i = 0; i < 2; ++i) {
        const auto again =
            service.Answer(head, [](std::string) { ADD_FAILURE() << "answered later"; });
        ASSERT_TRUE(again);
        EXPECT_EQ(ParseResponse(*again).Status, 200);
        EXPECT_EQ(ParseResponse(*again).Body, ParseResponse(first).Body);
    }
    EXPECT_EQ(stub.Requests(), 1);
}

// Bundled rates with eight currencies' years, as the history has them.
RatesData PartialHistory() {
    return RatesData::Parse(
        "! partial from 10.01.2024\n"
        "[30.12.2023]\n"
        "840 | USD | 1 | Доллар США | 89,6883\n"
        "392 | JPY | 100 | Японских иен | 63,3302\n"
        "[18.03.2026]\n"
        "840 | USD | 1 | Доллар США | 81,9103\n"
        "978 | EUR | 1 | Евро | 93,1557\n"
        "[20.03.2026]\n"
        "USD | 80,0000\n");
}

TEST(UpstreamServer, ThePartialYearsAskTheBankFirstAndFallBackOnTheBundledRates) {
    BankStub stub(
        [](const std::string&) { return XmlAnswer(TestFile("XML_daily_2026-03-18.xml")); });
    LogLines log;
    Server server(stub, log, PartialHistory(), [](UpstreamOptions&) {});
    const std::string partialNote = "Это не вся таблица"_cp;

    const auto bank = Get(server.Port(), "18.03.2026");
    EXPECT_EQ(stub.Requests(), 1);
    EXPECT_TRUE(Holds(bank.Body, "<td>Иен</td>"_cp));  // every currency of the document
    EXPECT_FALSE(Holds(bank.Body, partialNote));
    EXPECT_EQ(bank.Header("Cache-Control"), "public, max-age=31536000, immutable");

    const auto holidays = Get(server.Port(), "09.01.2024");
    EXPECT_EQ(stub.Requests(), 1);
    EXPECT_TRUE(Holds(holidays.Body, "установил с 30.12.2023 "_cp));
    EXPECT_TRUE(Holds(holidays.Body, "Японских иен"_cp));
    EXPECT_EQ(holidays.Header("Cache-Control"), "public, max-age=31536000, immutable");

    // The bank fails and nothing is cached: the bundled eight, not a 502,
    // and the bank is left alone for the retry interval.
    stub.SetHandler([](const std::string&) { return Answer(503, "text/html", "busy"); });
    const auto bundled = Get(server.Port(), "19.03.2026");
    EXPECT_EQ(bundled.Status, 200);
    EXPECT_TRUE(Holds(bundled.Body, "установил с 18.03.2026 "_cp));
    EXPECT_TRUE(Holds(bundled.Body, partialNote));
    EXPECT_FALSE(Holds(bundled.Body, "Иен"_cp));
    EXPECT_EQ(bundled.Header("Cache-Control"), "public, max-age=60");
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0],
              "kurs-rates-server: upstream 19/03/2026: HTTP 503; served the bundled rates of 2 "
              "currencies of 18.03.2026 instead");
    const auto again = Get(server.Port(), "19.03.2026");
    EXPECT_EQ(again.Body, bundled.Body);
    EXPECT_EQ(stub.Requests(), 2);
    // What the bank once gave is still served as the bank's.
    EXPECT_EQ(Get(server.Port(), "18.03.2026").Body, bank.Body);

    const auto later = Get(server.Port(), "01.01.2030");
    EXPECT_EQ(later.Status, 502);
    EXPECT_EQ(later.Header("Cache-Control"), "no-store");
}

TEST(UpstreamServer, AWebCacheAsksForTodayAgainAfterItsMaxAge) {
    testing_support::ProxyProcess squid(testing_support::ProxyProcess::Squid,
                                        testing_support::PortKind::Any, true);
    if (!squid.Running())
        GTEST_SKIP() << squid.Problem();
    const std::string today = MoscowToday().Text();
    BankStub stub([&](const std::string&) {
        auto doc = TestFile("XML_daily_2026-03-18.xml");
        doc.replace(doc.find("18.03.2026"), 10, today);
        return XmlAnswer(doc);
    });
    LogLines log;
    Server server(stub, log, std::nullopt, [](UpstreamOptions& o) { o.FreshFor = seconds(2); });
    const std::string request = "GET http://127.0.0.1:" + std::to_string(server.Port()) + kPage +
                                today + " HTTP/1.0\r\n\r\n";
    auto viaSquid = [&] { return ParseResponse(Fetch(squid.Port(), request)); };
    const auto first = viaSquid();
    ASSERT_EQ(first.Status, 200) << squid.Log();
    EXPECT_TRUE(first.Header("Cache-Control") == "public, max-age=2" ||
                first.Header("Cache-Control") == "public, max-age=1")
        << first.Header("Cache-Control");
    EXPECT_EQ(viaSquid().Body, first.Body);
    EXPECT_EQ(stub.Requests(), 1) << squid.AccessLog();
    // Past its max-age squid asks the server, which asks the bank.
    std::this_thread::sleep_for(milliseconds(3000));
    EXPECT_EQ(viaSquid().Body, first.Body);
    EXPECT_EQ(stub.Requests(), 2) << squid.AccessLog();
}

}  // namespace
}  // namespace rates
