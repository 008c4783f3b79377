#include "net/http/NMHttp.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/Trace.h"
#include "platform/clock/FakeClock.h"
#include "runtime/Exceptions.h"
#include "runtime/TypInfo.h"
#include "testing/ProxyProcess.h"
#include "testing/ScriptedServer.h"

namespace {

using namespace std::string_literals;
using testing_support::ProxyProcess;
using testing_support::ScriptedAnswer;
using testing_support::ScriptedServer;

constexpr const char* kAccept =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
constexpr const char* kContentType = "Content-type: application/x-www-form-urlencoded\r\n";

// Opens the steps of an operation for tests that need no network.
class TestableHTTP : public TNMHTTP {
  public:
    using TNMHTTP::BuildRequest;
    using TNMHTTP::SetCommand;
    using TNMHTTP::SetRequestURL;
    using TNMHTTP::SplitURL;
    TestableHTTP() : TNMHTTP(nullptr) {}
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A client with a short time-out and a record of its events.
struct Client {
    TNMHTTP http{nullptr};
    std::vector<std::string> events;

    Client() {
        http.SetTimeOut(5000);
        http.SetReportLevel(2);
        http.OnSuccess = [this](CmdType c) { events.push_back("success " + std::to_string(c)); };
        http.OnFailure = [this](CmdType c) { events.push_back("failure " + std::to_string(c)); };
        http.OnStatus = [this](TComponent*, const String& s) { events.push_back("status " + s); };
        http.OnConnect = [this](TObject*) { events.push_back("connect"); };
        http.OnDisconnect = [this](TObject*) { events.push_back("disconnect"); };
        http.OnAboutToSend = [this](TObject*) { events.push_back("about to send"); };
        http.OnAuthenticationNeeded = [this](TObject*) { events.push_back("authentication"); };
    }
};

// The peer's close may fire OnDisconnect before the client's own Disconnect
// does (when no data is left unread at that moment); only the last counts.
std::vector<std::string> Flow(std::vector<std::string> events) {
    const auto last = std::find(events.rbegin(), events.rend(), "disconnect");
    if (last == events.rend())
        return events;
    const auto keep = static_cast<std::size_t>(events.rend() - last - 1);
    std::vector<std::string> flow;
    for (std::size_t i = 0; i < events.size(); ++i)
        if (events[i] != "disconnect" || i == keep)
            flow.push_back(events[i]);
    return flow;
}

String Url(const ScriptedServer& s, const std::string& path = "/page") {
    return "http://127.0.0.1:" + std::to_string(s.Port()) + path;
}

// --- URL splitting -------------------------------------------------------------

TEST(SplitURL, HostPortAndPathFollowTheUrlRules) {
    const struct {
        const char* url;
        int portBefore;
        const char* host;
        int port;
        const char* path;
        const char* urlAfter;
    } cases[] = {
        {"http://h.example/p/q", 0, "h.example", 80, "/p/q", "http://h.example/p/q"},
        {"http://h.example", 0, "h.example", 80, "/", "http://h.example/"},
        {"http://h.example/", 0, "h.example", 80, "/", "http://h.example/"},
        {"h.example:8080/p", 0, "h.example", 8080, "/p", "h.example:8080/p"},
        {"h.example/p", 0, "h.example", 80, "/p", "h.example/p"},
        {"h.example/p", 8000, "h.example", 8000, "/p", "h.example/p"},
        {"/p?x=1", 0, "old.host", 80, "/p?x=1", "/p?x=1"},
        {"/p?t=12:30", 8000, "old.host", 80, "/p?t=12:30", "/p?t=12:30"},
        {"ftp://h.example/f", 0, "h.example", 21, "/f", "ftp://h.example/f"},
        {"gopher://h.example/f", 0, "h.example", 70, "/f", "gopher://h.example/f"},
        {"h.example", 0, "h.example", 80, "/", "h.example/"},
        {"127.0.0.1/markets/scripts/val_res1a.asp?date_req=07.12.2000", 0, "127.0.0.1", 80,
         "/markets/scripts/val_res1a.asp?date_req=07.12.2000",
         "127.0.0.1/markets/scripts/val_res1a.asp?date_req=07.12.2000"},
    };
    for (const auto& c : cases) {
        TestableHTTP http;
        http.SetHost("old.host");
        http.SetPort(c.portBefore);
        http.SetRequestURL(c.url);
        http.SplitURL();
        EXPECT_EQ(http.Host(), c.host) << c.url;
        EXPECT_EQ(http.Port(), c.port) << c.url;
        EXPECT_EQ(http.RequestPath(), c.path) << c.url;
        EXPECT_EQ(http.RequestURL(), c.urlAfter) << c.url;
    }
}

TEST(SplitURL, LongPathsAreCutAndBadUrlsRaise) {
    TestableHTTP http;
    const String path = "/" + String(299, 'a');
    http.SetRequestURL("http://h" + path);
    http.SplitURL();
    EXPECT_EQ(http.RequestPath(), path.substr(0, 256));

    http.SetRequestURL("");
    try {
        http.SplitURL();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Empty URL");
        EXPECT_EQ(e.ClassName(), "Exception");
    }
    http.SetRequestURL("HTTPS://h/p");
    try {
        http.SplitURL();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "HTTP Secure Socket is not supported");
    }
    http.SetRequestURL("http://h:/p");
    EXPECT_THROW(http.SplitURL(), EConvertError);
    http.SetRequestURL("http://h:8o/p");
    EXPECT_THROW(http.SplitURL(), EConvertError);
}

TEST(TextFields, ExtractFieldAndFindOccurrence) {
    EXPECT_EQ(ExtractField("a:b::c", ':', 1), "a");
    EXPECT_EQ(ExtractField("a:b::c", ':', 3), "");
    EXPECT_EQ(ExtractField("a:b::c", ':', 4), "c");
    EXPECT_EQ(ExtractField("a:b::c", ':', 5), "");
    EXPECT_EQ(ExtractField("", ':', 1), "");
    EXPECT_EQ(ExtractField("HTTP/1.0 200 OK\r\n", ' ', 2), "200");
    EXPECT_EQ(ExtractField("HTTP/1.0 200\r\n", ' ', 2), "200\r\n");
    EXPECT_EQ(FindOccurrence("http://h/p", '/', 3), 9);
    EXPECT_EQ(FindOccurrence("http://h", '/', 3), 9);
    EXPECT_EQ(FindOccurrence("", '/', 1), 1);
}

// --- Request composition -------------------------------------------------------

TEST(BuildRequest, HeaderLinesInTheirFixedOrder) {
    TestableHTTP http;
    http.HeaderInfo()->SetLocalProgram("kurs");
    http.HeaderInfo()->SetLocalMailAddress("me@h");
    http.HeaderInfo()->SetCookie("a=1");
    http.HeaderInfo()->SetReferer("http://r/");
    http.HeaderInfo()->SetUserId(String(40, 'u'));
    http.HeaderInfo()->SetPassword(String(40, 'p'));
    http.SetProxy("proxy.host");
    http.SetRequestURL("h:8080/p");
    http.SetCommand(ctCopy);
    http.SplitURL();
    http.BuildRequest();
    const auto lines = http.RequestHeaders().ToVector();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "COPY h:8080/p HTTP/1.0");
    EXPECT_EQ(lines[1], "Proxy-Connection: Keep-Alive");
    EXPECT_EQ(lines[2], "Host: h");
    EXPECT_EQ(lines[5], "User-Agent: kurs");
    EXPECT_EQ(lines[6], "From: me@h");
    EXPECT_EQ(lines[7], "Cookie: a=1");
    EXPECT_EQ(lines[8], "Referer: http://r/");
    // 81 bytes of credentials: one unbroken Base64 value.
    EXPECT_EQ(lines[9].rfind("Authorization: Basic dXV1", 0), 0u);
    EXPECT_EQ(lines[9].size(), std::string("Authorization: Basic ").size() + 108);
    EXPECT_EQ(lines[10], "Content-type: application/x-www-form-urlencoded");
    EXPECT_EQ(lines[11], "URI-header: ");
}

TEST(BuildRequest, CredentialsNeedBothPartsAndBodiesAnnounceTheirLength) {
    TestableHTTP http;
    http.HeaderInfo()->SetUserId("user");
    http.SetRequestURL("http://h/");
    http.SetCommand(ctGet);
    http.SplitURL();
    http.BuildRequest();
    for (const auto& line : http.RequestHeaders().ToVector())
        EXPECT_EQ(line.find("Authorization"), String::npos);

    http.HeaderInfo()->SetPassword("pw");
    http.BuildRequest();
    EXPECT_EQ(http.RequestHeaders().IndexOfField("authorization"), 4);
    EXPECT_EQ(http.RequestHeaders()[4], "Authorization: Basic dXNlcjpwdw==");

    for (CmdType c : {ctHead, ctOptions, ctDelete, ctMove, ctLink, ctUnlink}) {
        http.SetCommand(c);
        http.BuildRequest();
        EXPECT_EQ(http.RequestHeaders().IndexOfField("Content-Length"), -1) << int(c);
    }
    http.SetCommand(ctLink);
    http.BuildRequest();
    EXPECT_EQ(http.RequestHeaders()[0], "LINK / HTTP/1.0");
    EXPECT_EQ(http.RequestHeaders()[http.RequestHeaders().Count() - 1], "Link: ");
}

TEST(BuildRequest, AMissingDataFileRaisesBeforeAnyConnection) {
    TestableHTTP http;
    http.SetOutputFileMode(true);
    int connects = 0;
    http.OnConnect = [&](TObject*) { ++connects; };
    EXPECT_THROW(http.Put("http://127.0.0.1:9/", "/nonexistent/kurs-data"), EFOpenError);
    EXPECT_EQ(connects, 0);
}

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

// --- Bad answers -----------------------------------------------------------------

TEST(BadAnswer, OddStatusLinesAndHeaders) {
    const struct {
        std::string answer;
        int code;
        std::string body;
    } cases[] = {
        {"HTTP/1.0 200\r\n\r\nb", 0, "b"},  // the code is followed by the line end
        {"HTTP/1.0\r\n\r\nb", 0, "b"},      // no code at all
        {"garbage\n\nb", 0, "b"},           // bare LF line ends
        {"HTTP/1.0 404 x\nServer: y\n\nb", 404, "b"},
        {"HTTP/1.0 200 OK\r\nX: a\0b\r\n\r\nc\0d"s, 200, "c\0d"s},
        {"HTTP/1.0 200 OK\r\nContent-", 200, ""},  // closed in the middle of the head
        {"", 0, ""},                               // closed before anything
    };
    for (const auto& k : cases) {
        ScriptedServer server;
        server.Push(k.answer);
        Client c;
        c.http.Get(Url(server));
        EXPECT_EQ(c.http.ReplyCode(), k.code) << k.answer;
        EXPECT_EQ(c.http.Body(), k.body) << k.answer;
    }
}

TEST(BadAnswer, NulBytesInACookieOrLocationDoNotCutTheNextRequest) {
    ScriptedServer server;
    server.Push("HTTP/1.0 302 Found\r\nSet-Cookie: id\0x\r\nLocation: /next\0junk\r\n\r\n"s);
    server.Push("HTTP/1.0 200 OK\r\n\r\ndone");
    Client c;
    c.http.SetTimeOut(3000);
    c.http.Get(Url(server));
    EXPECT_EQ(c.http.Body(), "done");
    EXPECT_EQ(c.http.HeaderInfo()->Cookie(), "id");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].rfind("GET /next HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(requests[1].find("\r\nCookie: id\r\n"), std::string::npos);

    // A NUL in the caller's own header values is refused before any connection.
    c.http.HeaderInfo()->SetReferer("http://r/\0"s);
    try {
        c.http.Get(Url(server));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Request header holds a NUL byte");
    }
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(BadAnswer, CookieAndLocationValues) {
    ScriptedServer server;
    const std::string longValue(300, 'v');
    server.Push("HTTP/1.0 200 OK\r\nSet-Cookie: first\r\nSET-COOKIE: " + longValue +
                "\r\nSet-Cookie:nospace\r\nLocation: " + longValue + "\r\n\r\n");
    Client c;
    c.http.Get(Url(server));
    EXPECT_EQ(c.http.ReceivedCookie(), longValue.substr(0, 256));
    EXPECT_EQ(c.http.RedirectLocation(), longValue.substr(0, 256));
}

TEST(BadAnswer, StatusCodeBeyondSixteenBitsAndOverlongLinesRaise) {
    for (const std::string& answer :
         {std::string("HTTP/1.0 70000 Big\r\n\r\n"),
          "HTTP/1.0 200 OK\r\nX-Long: " + std::string(70 * 1024, 'x') + "\r\n\r\n"}) {
        ScriptedServer server;
        server.Push(answer);
        Client c;
        EXPECT_THROW(c.http.Get(Url(server)), ERangeError);
        EXPECT_FALSE(c.http.Connected());
        EXPECT_TRUE(server.WaitServed(1));
    }
}

// With the http trace on, each step of a request is one line, and what the
// peer sends is shown with its control bytes masked.
TEST(Trace, EachStepIsOneLineAndThePeersTextCannotDriveTheTerminal) {
    ScriptedServer server;
    server.Push("HTTP/1.0 200 \x1b]0;title\x07OK\r\nX-\x1b[2J: v\r\nContent-Length: 4\r\n\r\nbody");
    server.Push("HTTP/1.0 70000 Big\r\n\r\n");
    const unsigned before = trace::EnabledChannels();
    trace::SetEnabledChannels(1u << static_cast<unsigned>(trace::Channel::Http));
    testing::internal::CaptureStderr();
    Client c;
    c.http.Get(Url(server));
    EXPECT_THROW(c.http.Get(Url(server)), ERangeError);
    const std::string err = testing::internal::GetCapturedStderr();
    trace::SetEnabledChannels(before);

    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(line.find("] ") + 2));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "http: request GET /page HTTP/1.0",
                         "http: status HTTP/1.0 200 ?]0;title?OK",
                         "http: header X-?[2J",
                         "http: header Content-Length",
                         "http: body 4 bytes",
                         "http: request GET /page HTTP/1.0",
                         "http: status HTTP/1.0 70000 Big",
                         "http: failed: Range check error",
                     }));
}

// A reset is a failure wherever it lands and however the client learns of
// it: never a partial answer reported as success.
TEST(BadAnswer, AResetRaisesTheResetErrorEveryTime) {
    const struct {
        const char* name;
        std::string before;  // sent before the reset
        int pauseMs;         // between those bytes and the reset
        const char* body;    // the body that must have arrived, or null
    } cases[] = {
        {"in the body, the client waiting", "HTTP/1.0 200 OK\r\n\r\npart", 200, "part"},
        {"in the body, at once", "HTTP/1.0 200 OK\r\n\r\npart", 0, nullptr},
        {"in the head", "HTTP/1.0 200 OK\r\nContent-Type: te", 200, nullptr},
        {"after the head", "HTTP/1.0 200 OK\r\n\r\n", 100, nullptr},
    };
    for (const auto& k : cases) {
        for (int round = 0; round < 5; ++round) {
            SCOPED_TRACE(std::string(k.name) + ", round " + std::to_string(round));
            ScriptedServer server;
            ScriptedAnswer a;
            a.talk = [&k](int fd, const std::atomic<bool>&) {
                testing_support::SendAll(fd, k.before);
                usleep(static_cast<useconds_t>(k.pauseMs) * 1000);
            };
            a.ending = ScriptedAnswer::Reset;
            server.Push(a);
            Client c;
            try {
                c.http.Get(Url(server));
                ADD_FAILURE() << "no failure";
            } catch (const ESockError& e) {
                EXPECT_EQ(e.Message(), "10054:Connection reset by peer");
                EXPECT_EQ(e.ClassName(), "ESockError");
            }
            if (k.body) {
                EXPECT_EQ(c.http.Body(), k.body);
            }
            EXPECT_FALSE(c.http.TimedOut());
            EXPECT_FALSE(c.http.Connected());
            EXPECT_EQ(std::count(c.events.begin(), c.events.end(), "success 0"), 0);
        }
    }
}

TEST(BadAnswer, AnEndlessBodyEndsAtTheTimeOut) {
    ScriptedServer server;
    ScriptedAnswer a;
    a.talk = [](int fd, const std::atomic<bool>& stop) {
        testing_support::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n");
        const std::string block(4096, 'x');
        while (!stop && testing_support::SendAll(fd, block))
            usleep(1000);
    };
    server.Push(a);
    Client c;
    c.http.SetTimeOut(700);
    try {
        c.http.Get(Url(server));
        FAIL();
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket capture aborted");
    }
    EXPECT_TRUE(c.http.TimedOut());
    EXPECT_FALSE(c.http.Body().empty());
    EXPECT_FALSE(c.http.Connected());
}

// Streams `block` after the head until the client goes or the server stops.
ScriptedAnswer Endless(const std::string& head, const std::string& block) {
    ScriptedAnswer a;
    a.talk = [head, block](int fd, const std::atomic<bool>& stop) {
        testing_support::SendAll(fd, head);
        while (!stop && testing_support::SendAll(fd, block)) {
        }
    };
    return a;
}

TEST(BadAnswer, ABodyPastTheMemoryCapEndsTheOperation) {
    EXPECT_EQ(TNMHTTP(nullptr).MaxBodyInMemory(), 256 << 20);
    constexpr std::int64_t kCap = 1 << 20;
    // An endless body, and one that announces a length within the cap but
    // sends more.
    for (const char* head :
         {"HTTP/1.0 200 OK\r\n\r\n", "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n"}) {
        SCOPED_TRACE(head);
        ScriptedServer server;
        server.Push(Endless(head, std::string(64 * 1024 - 7, 'x')));
        Client c;
        c.http.SetTimeOut(60000);
        c.http.SetMaxBodyInMemory(kCap);
        try {
            c.http.Get(Url(server));
            FAIL();
        } catch (const ESockError& e) {
            EXPECT_EQ(e.Message(), "Answer too large");
        }
        const auto size = static_cast<std::int64_t>(c.http.Body().size());
        EXPECT_GT(size, kCap);
        EXPECT_LE(size, kCap + TPowersock::IOBufferSize);
        // The room grew no further than the most the capture could take.
        EXPECT_LE(static_cast<std::int64_t>(c.http.Body().capacity()),
                  kCap + 1 + TPowersock::IOBufferSize);
        EXPECT_FALSE(c.http.Connected());
        EXPECT_EQ(std::count(c.events.begin(), c.events.end(), "success 0"), 0);
    }
}

TEST(BadAnswer, TheBodyCapIsARangeAndABodyAtTheCapPasses) {
    TNMHTTP http(nullptr);
    for (std::int64_t bad : {std::int64_t{-1}, std::int64_t{0x7FFFFFFF}, std::int64_t{1} << 40})
        EXPECT_THROW(http.SetMaxBodyInMemory(bad), ERangeError) << bad;
    EXPECT_EQ(http.MaxBodyInMemory(), TNMHTTP::DefaultMaxBodyInMemory);

    const struct {
        std::int64_t cap;
        std::size_t body;
        bool tooLarge;
    } cases[] = {{0, 0, false}, {0, 1, true}, {100000, 100000, false}, {100000, 100001, true}};
    for (const auto& k : cases) {
        SCOPED_TRACE(std::to_string(k.cap) + " / " + std::to_string(k.body));
        ScriptedServer server;
        server.Push("HTTP/1.0 200 OK\r\n\r\n" + std::string(k.body, 'b'));
        Client c;
        c.http.SetMaxBodyInMemory(k.cap);
        if (k.tooLarge) {
            EXPECT_THROW(c.http.Get(Url(server)), ESockError);
        } else {
            c.http.Get(Url(server));
            EXPECT_EQ(c.http.Body().size(), k.body);
        }
    }
}

// An announced length gets its room at once; the length never ends the body.
TEST(Exchange, ContentLengthGivesTheBodyItsRoomUpFront) {
    const std::string body(5 * 64 * 1024 + 3, 'c');
    const struct {
        std::string length;
        std::size_t sent;
    } cases[] = {
        {std::to_string(body.size()), body.size()},
        {std::to_string(body.size() + 10), body.size()},  // shorter than announced
        {"17", body.size()},                              // longer than announced
        {"x17", body.size()},                             // no number
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.length);
        ScriptedServer server;
        server.Push("HTTP/1.0 200 OK\r\nContent-Length: " + k.length + "\r\n\r\n" +
                    body.substr(0, k.sent));
        Client c;
        c.http.Get(Url(server));
        EXPECT_EQ(c.http.Body(), body.substr(0, k.sent));
        if (k.length == std::to_string(body.size())) {
            EXPECT_EQ(c.http.Body().capacity(), body.size());
        }
        // Growth by doubling at most: never four times what arrived.
        EXPECT_LT(c.http.Body().capacity(), 2 * body.size());
    }
}

// --- Heads without end -----------------------------------------------------------------

// A head of exactly `size` bytes: the status line, header lines of equal
// length (each well below the line bound), the blank line.
std::string HeadOfSize(std::size_t size) {
    const std::string status = "HTTP/1.0 200 OK\r\n";
    const std::size_t left = size - status.size() - 2;
    const std::size_t lines = (left + 59999) / 60000;
    std::string head = status;
    for (std::size_t i = 0; i < lines; ++i) {
        const std::size_t length = left / lines + (i < left % lines ? 1 : 0);
        head += "X-Filler: " + std::string(length - 12, 'f') + "\r\n";
    }
    return head + "\r\n";
}

TEST(BadAnswer, TheHeadAsAWholeIsBoundedInSize) {
    for (bool toFile : {false, true}) {
        for (std::size_t extra : {std::size_t{0}, std::size_t{1}}) {
            SCOPED_TRACE(std::string(toFile ? "head into a file" : "head in memory") + ", +" +
                         std::to_string(extra));
            const std::string head = HeadOfSize(TNMHTTP::MaxHeadSize + extra);
            ASSERT_EQ(head.size(), TNMHTTP::MaxHeadSize + extra);
            ScriptedServer server;
            server.Push(head + "body");
            Client c;
            const std::string file = ::testing::TempDir() + "kurs_head.txt";
            if (toFile) {
                c.http.SetOutputFileMode(true);
                c.http.SetHeader(file);
            }
            if (extra == 0) {
                c.http.Get(Url(server));
                EXPECT_EQ(c.http.Body(), "body");
                EXPECT_EQ(toFile ? ReadFile(file) : std::string(c.http.Header()), head);
            } else {
                try {
                    c.http.Get(Url(server));
                    FAIL();
                } catch (const ESockError& e) {
                    EXPECT_EQ(e.Message(), "Answer head too large");
                }
                EXPECT_FALSE(c.http.Connected());
            }
            std::remove(file.c_str());
        }
    }
}

TEST(BadAnswer, AHeadSentWithoutEndStopsAtTheSizeBound) {
    // Header lines as fast as the connection takes them, for longer than any
    // time-out here.
    ScriptedServer server;
    server.Push(Endless("HTTP/1.0 200 OK\r\n", "X-More: " + std::string(90, 'm') + "\r\n"));
    Client c;
    c.http.SetTimeOut(30000);
    try {
        c.http.Get(Url(server));
        FAIL();
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message(), "Answer head too large");
    }
    EXPECT_FALSE(c.http.TimedOut());
    EXPECT_LE(static_cast<std::int64_t>(c.http.Header().size()), TNMHTTP::MaxHeadSize);
    EXPECT_FALSE(c.http.Connected());
}

TEST(BadAnswer, OneTimeOutBoundsTheWholeHeadOfASlowPeer) {
    // A line every 150 ms for 6 s, each well within the time-out, then a
    // sound end: only a bound on the head as a whole stops it early.
    ScriptedServer server;
    ScriptedAnswer a;
    a.talk = [](int fd, const std::atomic<bool>& stop) {
        testing_support::SendAll(fd, "HTTP/1.0 200 OK\r\n");
        for (int i = 0; i < 40 && !stop; ++i) {
            usleep(150 * 1000);
            if (!testing_support::SendAll(fd, "X-Slow: " + std::to_string(i) + "\r\n"))
                return;
        }
        testing_support::SendAll(fd, "\r\nbody");
    };
    server.Push(a);
    Client c;
    c.http.SetTimeOut(1000);
    try {
        c.http.Get(Url(server));
        FAIL() << "the head outlasted the time-out";
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket readln aborted");
    }
    EXPECT_TRUE(c.http.TimedOut());
    EXPECT_EQ(c.http.Header().find("X-Slow: 39"), String::npos);
    EXPECT_FALSE(c.http.Connected());
    EXPECT_EQ(std::count(c.events.begin(), c.events.end(), "success 0"), 0);
}

TEST(Abort, FromAnEventHandlerEndsTheTransferWithTheCancelError) {
    ScriptedServer server;
    ScriptedAnswer a;
    a.talk = [](int fd, const std::atomic<bool>& stop) {
        testing_support::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\nfirst block");
        for (int i = 0; i < 300 && !stop; ++i)
            usleep(10 * 1000);
    };
    server.Push(a);
    Client c;
    c.http.SetTimeOut(10000);
    c.http.OnPacketRecvd = [&](TObject*) { c.http.Abort(); };
    try {
        c.http.Get(Url(server));
        FAIL();
    } catch (const EAbortError& e) {
        EXPECT_EQ(e.Message(), "Socket capture aborted");
    }
    EXPECT_FALSE(c.http.TimedOut());
    EXPECT_EQ(c.http.Body(), "first block");
    EXPECT_FALSE(c.http.Connected());
    // The override reports no "Abort" text of its own.
    c.http.SetReportLevel(8);
    c.events.clear();
    c.http.Abort();
    EXPECT_EQ(c.events, (std::vector<std::string>{"status Canceling"}));
    EXPECT_TRUE(c.http.LookupDone());
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

// --- Published properties ------------------------------------------------------------

// The client publishes its own properties and events besides the socket
// client's, with their defaults and starting values, and its HeaderInfo
// publishes the six header texts; each is read and written through the
// registry.
TEST(Published, TheClientAndItsHeaderInfoPublishTheirProperties) {
    TNMHTTP http(nullptr);
    const struct {
        const char* name;
        TTypeKind kind;
        const char* typeName;
    } own[] = {
        {"OnPacketRecvd", tkMethod, "TNotifyEvent"},
        {"OnPacketSent", tkMethod, "TNotifyEvent"},
        {"Body", tkLString, "String"},
        {"Header", tkLString, "String"},
        {"HeaderInfo", tkClass, "THeaderInfo"},
        {"InputFileMode", tkEnumeration, "Boolean"},
        {"OutputFileMode", tkEnumeration, "Boolean"},
        {"OnAboutToSend", tkMethod, "TNotifyEvent"},
        {"OnSuccess", tkMethod, "TResultEvent"},
        {"OnFailure", tkMethod, "TResultEvent"},
        {"OnRedirect", tkMethod, "THandlerEvent"},
        {"OnAuthenticationNeeded", tkMethod, "TNotifyEvent"},
        {"Proxy", tkLString, "String"},
        {"ProxyPort", tkInteger, "Integer"},
        // The socket client's, still there.
        {"Host", tkLString, "String"},
        {"TimeOut", tkInteger, "Integer"},
        {"ReportLevel", tkInteger, "Integer"},
        {"OnHostResolved", tkMethod, "TNotifyEvent"},
    };
    for (const auto& p : own) {
        const TPropInfo* info = GetPropInfo(&http, p.name);
        ASSERT_NE(info, nullptr) << p.name;
        EXPECT_EQ(info->Kind(), p.kind) << p.name;
        EXPECT_EQ(info->PropType()->Name, p.typeName) << p.name;
    }
    for (const char* name : {"InputFileMode", "OutputFileMode", "ProxyPort"}) {
        const TPropInfo* info = GetPropInfo(&http, name);
        EXPECT_TRUE(info->HasDefault()) << name;
        EXPECT_EQ(info->Default(), 0) << name;
        EXPECT_EQ(info->GetOrd(&http), 0) << name;
    }
    EXPECT_EQ(GetPropInfo(&http, "ReportLevel")->Default(), 1);
    EXPECT_EQ(GetPropInfo(&http, "Body")->GetStr(&http), "Default.htm");
    EXPECT_EQ(GetPropInfo(&http, "Header")->GetStr(&http), "Head.txt");
    EXPECT_EQ(GetPropInfo(&http, "Proxy")->GetStr(&http), "");

    GetPropInfo(&http, "Proxy")->SetStr(&http, "proxy.host");
    GetPropInfo(&http, "ProxyPort")->SetOrd(&http, 3128);
    GetPropInfo(&http, "InputFileMode")->SetOrd(&http, 1);
    EXPECT_EQ(http.Proxy(), "proxy.host");
    EXPECT_EQ(http.ProxyPort(), 3128);
    EXPECT_TRUE(http.InputFileMode());
    const TPropInfo* redirect = GetPropInfo(&http, "OnRedirect");
    EXPECT_FALSE(redirect->IsAssigned(&http));
    http.OnRedirect = [](bool&) {};
    EXPECT_TRUE(redirect->IsAssigned(&http));
    EXPECT_FALSE(GetPropInfo(&http, "OnPacketSent")->IsAssigned(&http));

    TObject* header = GetPropInfo(&http, "HeaderInfo")->GetObject(&http);
    ASSERT_EQ(header, http.HeaderInfo());
    std::vector<std::string> names;
    for (const TPropInfo* p : GetPropList(header)) {
        EXPECT_EQ(p->Kind(), tkLString) << p->Name();
        EXPECT_EQ(p->GetStr(header), "") << p->Name();
        names.push_back(p->Name());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Cookie", "LocalMailAddress", "LocalProgram",
                                               "Password", "Referer", "UserId"}));
    GetPropInfo(header, "Cookie")->SetStr(header, "id=7");
    EXPECT_EQ(http.HeaderInfo()->Cookie(), "id=7");
    // Assigning another header record copies its texts.
    THeaderInfo other;
    other.SetReferer("http://r/");
    GetPropInfo(&http, "HeaderInfo")->SetObject(&http, &other);
    EXPECT_EQ(http.HeaderInfo()->Referer(), "http://r/");
    EXPECT_EQ(http.HeaderInfo()->Cookie(), "");
}

}  // namespace
