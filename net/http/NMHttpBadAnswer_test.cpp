// Bad answers: odd status lines and headers, resets, endless bodies and heads,
// the body cap, slow peers, the trace and aborting from a handler.

#include "net/http/NMHttpTestFixture.h"

#include <unistd.h>

#include <cstdio>

#include "platform/Trace.h"
#include "runtime/Exceptions.h"

using namespace nmhttp_test;

namespace {

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

}  // namespace
