// The rates server behind a real web cache (Debian's squid, started on a
// free port with a memory cache): a settled page is asked for once however
// many clients want it, and bad conditional requests change nothing.

#include <gtest/gtest.h>

#include <thread>

#include "testing/ParsedResponse.h"
#include "testing/ProxyProcess.h"
#include "testing/RatesClient.h"
#include "tools/rates-server/RatesServerTestFixture.h"

namespace rates {
namespace {

using test::Fetch;
using test::ParseResponse;
using test::RunningServer;

const std::string kPage = "/markets/scripts/val_res1a.asp?date_req=";

// Lines of squid's access log for which it asked the server.
int OriginRequests(const std::string& accessLog) {
    int n = 0;
    for (std::size_t at = 0; (at = accessLog.find("HIER_DIRECT/", at)) != std::string::npos; ++at)
        ++n;
    return n;
}

TEST(WebCache, FiveRequestsForASettledDateReachTheServerOnce) {
    testing_support::ProxyProcess squid(testing_support::ProxyProcess::Squid,
                                        testing_support::PortKind::Any, true);
    if (!squid.Running())
        GTEST_SKIP() << squid.Problem();
    RunningServer server;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + kPage;
    std::string first;
    for (int i = 0; i < 5; ++i) {
        const auto r = ParseResponse(
            Fetch(squid.Port(), "GET " + url + "07.12.2000 HTTP/1.0\r\nHost: x\r\n\r\n"));
        ASSERT_EQ(r.Status, 200) << r.StatusLine << squid.Log();
        EXPECT_EQ(r.Header("Cache-Control"), "public, max-age=31536000, immutable");
        if (i == 0)
            first = r.Body;
        EXPECT_EQ(r.Body, first);
    }
    const auto log = squid.AccessLog();
    EXPECT_EQ(OriginRequests(log), 1) << log;
    // An error is never kept.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(
            ParseResponse(Fetch(squid.Port(), "GET " + url + "31.02.2000 HTTP/1.0\r\n\r\n")).Status,
            400);
    EXPECT_EQ(OriginRequests(squid.AccessLog()), 3) << squid.AccessLog();
}

TEST(WebCache, BadConditionalRequestsAreRefusedAndChangeNothing) {
    RunningServer server;
    const std::string target = kPage + "07.12.2000";
    const auto before = ParseResponse(Fetch(server.Port(), test::GetRequest(target)));
    ASSERT_EQ(before.Status, 200);

    std::string tags;
    for (int i = 0; i < 10000; ++i)
        tags += (i ? ", \"" : "\"") + std::to_string(i) + "\"";
    const auto many = ParseResponse(
        Fetch(server.Port(), "GET " + target + " HTTP/1.0\r\nIf-None-Match: " + tags + "\r\n\r\n"));
    EXPECT_EQ(many.Status, 400);
    EXPECT_EQ(many.Header("Cache-Control"), "no-store");
    const auto headWithBody = ParseResponse(
        Fetch(server.Port(), "HEAD " + target + " HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc"));
    EXPECT_EQ(headWithBody.Status, 400);
    for (const char* date : {"31.02.2024", "32/13/2023", "01.01.20240"}) {
        const auto bad = ParseResponse(Fetch(server.Port(), test::GetRequest(kPage + date)));
        EXPECT_EQ(bad.Status, 400) << date;
        EXPECT_EQ(bad.Header("Cache-Control"), "no-store") << date;
    }
    EXPECT_EQ(ParseResponse(Fetch(server.Port(), test::GetRequest(target + "&date_req=08.12.2000")))
                  .Status,
              400);

    const auto after = ParseResponse(Fetch(server.Port(), test::GetRequest(target)));
    EXPECT_EQ(after.Body, before.Body);
    EXPECT_EQ(after.Header("ETag"), before.Header("ETag"));
    const auto again =
        ParseResponse(Fetch(server.Port(), "GET " + target + " HTTP/1.0\r\nIf-None-Match: \"x\", " +
                                               before.Header("ETag") + "\r\n\r\n"));
    EXPECT_EQ(again.Status, 304);
    EXPECT_EQ(again.Body, "");
}

}  // namespace
}  // namespace rates
