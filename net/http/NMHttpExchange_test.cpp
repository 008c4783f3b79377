// Whole exchanges against the scripted server: requests on the wire, redirects,
// connections that stay open, real proxies.

#include "net/http/NMHttpTestFixture.h"

#include <functional>

#include "platform/clock/FakeClock.h"
#include "runtime/Exceptions.h"
#include "testing/ProxyProcess.h"

using namespace nmhttp_test;
using testing_support::ProxyProcess;

namespace {

// --- Whole exchanges against the scripted server --------------------------------

TEST(Exchange, GetSendsExactlyTheRequestAndReportsSuccess) {
    ScriptedServer server;
    server.Push("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>body</html>");
    Client c;
    c.http.Get(Url(server, "/markets/scripts/val_res1a.asp?date_req=07.12.2000"));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0],
              "GET /markets/scripts/val_res1a.asp?date_req=07.12.2000 HTTP/1.0\r\n"
              "Host: 127.0.0.1\r\n" +
                  std::string(kAccept) + kContentType + "\r\n");
    EXPECT_EQ(c.http.Body(), "<html>body</html>");
    EXPECT_EQ(c.http.Header(), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
    EXPECT_EQ(c.http.ReplyCode(), 200);
    const std::vector<std::string> expected = {"about to send", "connect", "success 0",
                                               "status Transaction Completed", "disconnect"};
    EXPECT_EQ(Flow(c.events), expected);
    EXPECT_FALSE(c.http.Connected());
}

TEST(Exchange, ThroughAProxyTheTargetIsTheWholeUrl) {
    ScriptedServer proxy;
    proxy.Push("HTTP/1.0 200 OK\r\n\r\nx");
    Client c;
    c.http.SetProxy("127.0.0.1");
    c.http.SetProxyPort(proxy.Port());
    c.http.Get("rates.example:8080/markets?d=1");
    EXPECT_EQ(proxy.Requests().at(0),
              "GET rates.example:8080/markets?d=1 HTTP/1.0\r\n"
              "Proxy-Connection: Keep-Alive\r\nHost: rates.example\r\n" +
                  std::string(kAccept) + kContentType + "\r\n");
    EXPECT_EQ(c.http.Body(), "x");
}

TEST(Exchange, PostEscapesItsDataAndPutSendsAFileUnchanged) {
    ScriptedServer server;
    server.Push("HTTP/1.0 200 OK\r\n\r\n");
    server.Push("HTTP/1.0 201 Created\r\n\r\n");
    Client c;
    c.http.Post(Url(server, "/form"), "a b");
    EXPECT_EQ(server.Requests().at(0), "POST /form HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
                                           std::string(kAccept) + kContentType +
                                           "Content-Length: 3\r\n\r\na+b");

    const std::string file = testing::TempDir() + "kurs-put.bin";
    const std::string bytes("ab\0\r\ncd", 7);
    std::ofstream(file, std::ios::binary) << bytes;
    c.http.SetOutputFileMode(true);
    c.http.SetHeader(testing::TempDir() + "kurs-head.txt");
    c.http.Put(Url(server, "/file"), file);
    EXPECT_EQ(server.Requests().at(1), "PUT /file HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
                                           std::string(kAccept) + kContentType +
                                           "Content-Length: 7\r\n\r\n" + bytes);
    // The head went to the file named by Header, the body into Body.
    EXPECT_EQ(ReadFile(c.http.Header()), "HTTP/1.0 201 Created\r\n\r\n");
    EXPECT_EQ(c.http.Body(), "");
}

TEST(Exchange, BodyIntoAFileWithInputFileMode) {
    ScriptedServer server;
    const std::string body(200000, 'z');
    server.Push("HTTP/1.0 200 OK\r\n\r\n" + body);
    Client c;
    const std::string file = testing::TempDir() + "kurs-body.bin";
    c.http.SetInputFileMode(true);
    c.http.SetBody(file);
    c.http.Get(Url(server));
    EXPECT_EQ(ReadFile(file), body);
    EXPECT_EQ(c.http.Body(), file);
    EXPECT_EQ(c.http.BytesReceived(), 200000);
}

TEST(Exchange, ErrorStatusFiresOnFailureAndKeepsTheErrorPage) {
    ScriptedServer server;
    server.Push("HTTP/1.0 404 Not Found\r\n\r\nno such page");
    server.Push("HTTP/1.0 401 Unauthorized\r\n\r\n");
    Client c;
    c.http.Head(Url(server));
    EXPECT_EQ(c.http.Body(), "no such page");
    EXPECT_EQ(c.http.ReplyCode(), 404);
    EXPECT_EQ(Flow(c.events),
              (std::vector<std::string>{"about to send", "connect", "failure 2", "disconnect"}));
    c.events.clear();
    c.http.Get(Url(server));
    EXPECT_EQ(Flow(c.events), (std::vector<std::string>{"about to send", "connect", "failure 0",
                                                        "disconnect", "authentication"}));
}

TEST(Exchange, RedirectsAreFollowedWithTheirCookie) {
    ScriptedServer server;
    server.Push("HTTP/1.0 302 Found\r\nSet-Cookie: id=7; path=/\r\nLocation: " +
                Url(server, "/next") + "\r\n\r\nmoved");
    server.Push("HTTP/1.0 200 OK\r\n\r\nfinal");
    Client c;
    int redirects = 0;
    c.http.OnRedirect = [&](bool& handled) {
        ++redirects;
        EXPECT_FALSE(handled);
    };
    c.http.Get(Url(server, "/first"));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].rfind("GET /next HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(requests[1].find("\r\nCookie: id=7; path=/\r\n"), std::string::npos);
    EXPECT_EQ(c.http.Body(), "final");
    EXPECT_EQ(c.http.HeaderInfo()->Cookie(), "id=7; path=/");
    EXPECT_EQ(redirects, 1);
    EXPECT_EQ(std::count(c.events.begin(), c.events.end(), "success 0"), 1);
}

TEST(Exchange, ABareFileNameIsTakenRelativeToTheCurrentHost) {
    ScriptedServer server;
    server.Push("HTTP/1.0 301 Moved\r\nLocation: last.html\r\n\r\n");
    Client c;
    int passes = 0;
    c.http.OnAboutToSend = [&](TObject*) {
        // The second pass would go to port 80 of the host; stop it there.
        if (++passes == 2)
            throw Exception(String("second pass: ") + c.http.RequestURL());
    };
    try {
        c.http.Get(Url(server, "/first"));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "second pass: http://127.0.0.1/last.html");
    }
    EXPECT_EQ(c.http.RequestPath(), "/last.html");
}

TEST(Exchange, RedirectEndingsHandledOtherStatusesHttpsAndLoops) {
    ScriptedServer server;
    Client c;
    // A handler that takes the redirect ends the operation at once.
    server.Push("HTTP/1.0 302 Found\r\nLocation: /elsewhere\r\n\r\n");
    c.http.OnRedirect = [](bool& handled) { handled = true; };
    c.http.Get(Url(server));
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(std::count_if(c.events.begin(), c.events.end(),
                            [](const std::string& e) {
                                return e.rfind("success", 0) == 0 || e.rfind("failure", 0) == 0;
                            }),
              0);
    c.http.OnRedirect = nullptr;

    // 303 names no new URL for this client: the operation ends after the pass.
    server.Push("HTTP/1.0 303 See Other\r\nLocation: /x\r\n\r\n");
    c.http.Get(Url(server));
    EXPECT_EQ(server.Requests().size(), 2u);

    // A redirect to https ends with the splitting error.
    server.Push("HTTP/1.0 301 Moved\r\nLocation: https://h/\r\n\r\n");
    try {
        c.http.Get(Url(server));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "HTTP Secure Socket is not supported");
    }

    // A loop ends after a bounded number of passes.
    for (int i = 0; i < TNMHTTP::MaxRedirectPasses; ++i)
        server.Push("HTTP/1.0 302 Found\r\nLocation: " + Url(server, "/loop") + "\r\n\r\n");
    try {
        c.http.Get(Url(server, "/loop"));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Too many redirects");
    }
    EXPECT_EQ(server.Requests().size(), 3u + TNMHTTP::MaxRedirectPasses);
    EXPECT_FALSE(c.http.Connected());
}

// --- Connections that stay open ------------------------------------------------------

TEST(KeepAlive, AKnownLengthEndsTheBodyWhenTheConnectionStaysOpen) {
    ScriptedServer server;
    server.Push("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: Keep-Alive\r\n\r\nhello",
                ScriptedAnswer::KeepOpen);
    server.Push("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nproxy-connection: keep-alive\r\n\r\n",
                ScriptedAnswer::KeepOpen);
    Client c;
    c.http.SetTimeOut(3000);
    c.http.Get(Url(server));
    EXPECT_EQ(c.http.Body(), "hello");
    EXPECT_FALSE(c.http.TimedOut());
    c.http.Get(Url(server));
    EXPECT_EQ(c.http.Body(), "");
    EXPECT_FALSE(c.http.TimedOut());
}

TEST(KeepAlive, WithoutBothSignsTheBodyRunsToTheClose) {
    ScriptedServer server;
    // A length alone: read until the close, bytes past the length included.
    server.Push("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nabcd");
    // Keep-alive without a length: only the time-out ends it.
    server.Push("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\n\r\nab", ScriptedAnswer::KeepOpen);
    Client c;
    c.http.Get(Url(server));
    EXPECT_EQ(c.http.Body(), "abcd");
    c.http.SetTimeOut(500);
    {
        // The peer's answer gets a real moment to arrive; the stall after it
        // is skipped.
        clocks::ScopedFakeClock clock(std::chrono::milliseconds(100));
        EXPECT_THROW(c.http.Get(Url(server)), EAbortError);
    }
    EXPECT_TRUE(c.http.TimedOut());
    EXPECT_EQ(c.http.Body(), "ab");
}

// --- Real proxies --------------------------------------------------------------------

class RealProxy : public testing::TestWithParam<ProxyProcess::Kind> {};

TEST_P(RealProxy, GetThroughTheProxyReturnsTheWholePage) {
    ProxyProcess proxy(GetParam());
    if (!proxy.Running())
        GTEST_SKIP() << proxy.Problem();
    ScriptedServer server;
    const std::string page = "<html>" + std::string(100000, 'r') + "</html>";
    server.Push("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + page);
    Client c;
    c.http.SetTimeOut(8000);
    c.http.SetProxy("127.0.0.1");
    c.http.SetProxyPort(proxy.Port());
    c.http.Get(Url(server, "/markets/scripts/val_res1a.asp?date_req=07.12.2000"));
    EXPECT_EQ(c.http.ReplyCode(), 200) << proxy.Log();
    EXPECT_EQ(c.http.Body(), page);
    EXPECT_FALSE(c.http.TimedOut());
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].rfind(
                  "GET /markets/scripts/val_res1a.asp?date_req=07.12.2000 HTTP/1.", 0),
              0u);
}

INSTANTIATE_TEST_SUITE_P(Proxies, RealProxy,
                         testing::Values(ProxyProcess::Tinyproxy, ProxyProcess::Squid),
                         [](const auto& info) {
                             return info.param == ProxyProcess::Tinyproxy ? "tinyproxy" : "squid";
                         });

// --- Rules by table ---------------------------------------------------------------

// What each command puts on the wire: its request line, its own header, a
// Content-Length and a body only where the command has them.
TEST(Exchange, EachCommandPutsItsOwnBytesOnTheWire) {
    ScriptedServer server;
    Client c;
    const std::string head = "Host: 127.0.0.1\r\n" + std::string(kAccept) + kContentType;
    const struct {
        const char* command;
        std::function<void()> run;
        std::string bytes;
    } cases[] = {
        {"OPTIONS", [&] { c.http.Options(Url(server, "/o")); },
         "OPTIONS /o HTTP/1.0\r\n" + head + "\r\n"},
        {"HEAD", [&] { c.http.Head(Url(server, "/h")); }, "HEAD /h HTTP/1.0\r\n" + head + "\r\n"},
        {"DELETE", [&] { c.http.Delete(Url(server, "/d")); },
         "DELETE /d HTTP/1.0\r\n" + head + "\r\n"},
        {"PATCH", [&] { c.http.Patch(Url(server, "/p"), "a b&c"); },
         "PATCH /p HTTP/1.0\r\n" + head + "Content-Length: 5\r\n\r\na b&c"},
        {"TRACE", [&] { c.http.Trace(Url(server, "/t"), "x=1"); },
         "TRACE /t HTTP/1.0\r\n" + head + "Content-Length: 3\r\n\r\nx=1"},
        {"MOVE", [&] { c.http.Move(Url(server, "/m"), "/new/place"); },
         "MOVE /m HTTP/1.0\r\n" + head + "URI-header: /new/place\r\n\r\n"},
        // LINK and UNLINK send no body, so they announce no length either.
        {"LINK", [&] { c.http.Link(Url(server, "/l"), "<a>; rel=x"); },
         "LINK /l HTTP/1.0\r\n" + head + "Link: <a>; rel=x\r\n\r\n"},
        {"UNLINK", [&] { c.http.Unlink(Url(server, "/u"), ""); },
         "UNLINK /u HTTP/1.0\r\n" + head + "Link: \r\n\r\n"},
    };
    for (const auto& w : cases) {
        server.Push("HTTP/1.0 200 OK\r\n\r\n");
        w.run();
        ASSERT_FALSE(server.Requests().empty());
        EXPECT_EQ(server.Requests().back(), w.bytes) << w.command;
    }

    // TRACE in file mode sends the named file's bytes, as its length says.
    const std::string file = testing::TempDir() + "kurs-trace.bin";
    const std::string bytes("tr\0ce\r\n", 7);
    std::ofstream(file, std::ios::binary) << bytes;
    c.http.SetOutputFileMode(true);
    c.http.SetHeader(testing::TempDir() + "kurs-trace-head.txt");
    server.Push("HTTP/1.0 200 OK\r\n\r\n");
    c.http.Trace(Url(server, "/tf"), file);
    EXPECT_EQ(server.Requests().back(),
              "TRACE /tf HTTP/1.0\r\n" + head + "Content-Length: 7\r\n\r\n" + bytes);
}

// Where each kind of redirect leads the next pass, and that a 1xx answer is
// a success that ends the operation.
TEST(Exchange, RedirectsByKindOfLocation) {
    const struct {
        const char* status;
        std::string location;  // "@" stands for the server's own address
        std::string next;      // the next request's line, or the host/path it aims at
    } cases[] = {
        {"302 Found", "/next?a=1", "GET /next?a=1 HTTP/1.0"},
        {"300 Multiple Choices", "http://@/chosen", "GET /chosen HTTP/1.0"},
        {"301 Moved Permanently", "http://@/moved", "GET /moved HTTP/1.0"},
        {"302 Found", "dir/file.html", "host dir path /file.html"},
    };
    for (const auto& r : cases) {
        SCOPED_TRACE(r.status + (" " + r.location));
        ScriptedServer server;
        std::string location = r.location;
        if (const auto at = location.find('@'); at != std::string::npos)
            location.replace(at, 1, "127.0.0.1:" + std::to_string(server.Port()));
        server.Push("HTTP/1.0 " + std::string(r.status) + "\r\nLocation: " + location + "\r\n\r\n");
        server.Push("HTTP/1.0 200 OK\r\n\r\nthere");
        Client c;
        c.http.OnAboutToSend = [&](TObject*) {
            // A host other than the server's is not asked: the pass stops here.
            if (c.http.Host() != "127.0.0.1")
                throw Exception("host " + c.http.Host() + " path " + c.http.RequestPath());
        };
        std::string next;
        try {
            c.http.Get(Url(server, "/first"));
            const auto requests = server.Requests();
            ASSERT_EQ(requests.size(), 2u);
            next = requests[1].substr(0, requests[1].find("\r\n"));
            EXPECT_EQ(c.http.Body(), "there");
        } catch (const Exception& e) {
            next = e.Message();
            EXPECT_EQ(server.Requests().size(), 1u);
        }
        EXPECT_EQ(next, r.next);
    }

    ScriptedServer server;
    server.Push("HTTP/1.0 100 Continue\r\n\r\nearly");
    Client c;
    c.http.Get(Url(server));
    EXPECT_EQ(c.http.ReplyCode(), 100);
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(Flow(c.events),
              (std::vector<std::string>{"about to send", "connect", "success 0",
                                        "status Transaction Completed", "disconnect"}));
}

// A redirect that names no place, with none named before, ends at the next
// pass with "Empty URL": one request only, no second connection anywhere.
TEST(Exchange, ARedirectWithoutALocationStopsWithEmptyUrl) {
    for (const char* status : {"300 Multiple Choices", "301 Moved", "302 Found"}) {
        SCOPED_TRACE(status);
        ScriptedServer server;
        server.Push("HTTP/1.0 " + std::string(status) + "\r\n\r\n");
        server.Push("HTTP/1.0 200 OK\r\n\r\nnot asked");
        Client c;
        try {
            c.http.Get(Url(server));
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Empty URL");
        }
        EXPECT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(std::count(c.events.begin(), c.events.end(), "connect"), 1);
        EXPECT_EQ(std::count(c.events.begin(), c.events.end(), "about to send"), 1);
        EXPECT_EQ(c.http.RequestURL(), "");
        EXPECT_FALSE(c.http.Connected());
    }
}

}  // namespace
