#include "net/socket/Psock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "platform/clock/FakeClock.h"
#include "platform/messages/Messages.h"
#include "platform/sockets/Winsock.h"
#include "runtime/Exceptions.h"
#include "testing/SocketPeer.h"

using namespace std::chrono_literals;
using testpeer::Conn;
using testpeer::Listener;

namespace {

// The time as the message layer sees it, so that a test that installs a fake
// clock measures in its terms.
clocks::TimePoint Now() {
    return clocks::Now();
}

void PumpFor(int ms) {
    auto deadline = Now() + std::chrono::milliseconds(ms);
    while (Now() < deadline) {
        win::WaitMessage(10);
        win::ProcessMessages();
    }
}

template <typename Pred>
bool PumpUntil(Pred done, int ms = 3000) {
    auto deadline = Now() + std::chrono::milliseconds(ms);
    while (!done() && Now() < deadline) {
        win::WaitMessage(10);
        win::ProcessMessages();
    }
    return done();
}

// Calls fn every period on the test thread, from inside whatever wait runs
// then (a timer of the message layer), so that a fake clock paces it too.
class Every {
  public:
    Every(std::chrono::milliseconds period, std::function<void()> fn) : FFn(std::move(fn)) {
        FId = win::SetTimer(nullptr, 0, static_cast<win::UINT>(period.count()), &Tick);
        EXPECT_NE(FId, 0u);
        Running()[FId] = this;
    }
    ~Every() { Stop(); }
    Every(const Every&) = delete;
    Every& operator=(const Every&) = delete;

    void Stop() {
        if (FId != 0) {
            win::KillTimer(nullptr, FId);
            Running().erase(FId);
            FId = 0;
        }
    }

  private:
    static std::map<win::UINT_PTR, Every*>& Running() {
        static std::map<win::UINT_PTR, Every*> running;
        return running;
    }
    static void Tick(win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
        auto it = Running().find(id);
        if (it != Running().end())
            it->second->FFn();
    }

    std::function<void()> FFn;
    win::UINT_PTR FId = 0;
};

// The message of what fn raises, with its class checked.
template <typename E, typename Fn>
std::string Raised(Fn fn) {
    try {
        fn();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong class: ") + e.what();
    }
    return "nothing raised";
}

struct Fixture : ::testing::Test {
    // A component connected to a fresh listener, and the peer's end.
    void ConnectPair(TPowersock& s, Listener& l, Conn& peer) {
        s.SetHost("127.0.0.1");
        s.SetPort(l.Port());
        s.Connect();
        peer = l.Accept();
        ASSERT_TRUE(peer.Valid());
    }
};

// ---- connection -------------------------------------------------------------------------

TEST_F(Fixture, NumericHostConnectsWithoutLookup) {
    Listener l;
    TPowersock s(nullptr);
    int connects = 0, resolved = 0;
    s.OnConnect = [&](TObject* sender) {
        EXPECT_EQ(sender, &s);
        ++connects;
    };
    s.OnHostResolved = [&](TComponent*) { ++resolved; };
    Conn peer;
    ConnectPair(s, l, peer);
    EXPECT_TRUE(s.Connected());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(s.RemoteAddress().sin_addr.s_addr, win::inet_addr("127.0.0.1"));
    EXPECT_EQ(s.RemoteAddress().sin_port, win::htons(l.Port()));
    EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Already connected");
    EXPECT_TRUE(s.Connected());
}

TEST_F(Fixture, NameLookupThroughHostsFileAndProxyRouting) {
    Listener l;
    TPowersock s(nullptr);
    int resolved = 0;
    s.OnHostResolved = [&](TComponent*) { ++resolved; };
    // Host and Port are ignored while Proxy is set.
    s.SetHost("no such host!");
    s.SetPort(1);
    s.SetProxy("localhost");
    s.SetProxyPort(l.Port() + 0x10000);  // only the low 16 bits count
    s.Connect();
    EXPECT_TRUE(s.Connected());
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(s.RemoteAddress().sin_addr.s_addr, win::inet_addr("127.0.0.1"));
    EXPECT_TRUE(l.Accept().Valid());
}

TEST_F(Fixture, UnresolvedHostAsksOnInvalidHostOnce) {
    Listener l;
    struct Case {
        const char* Host;
        bool HaveHandler;
        bool Handled;
        const char* Fixed;  // what the handler sets Host to
        bool Connects;
    };
    const Case cases[] = {
        {"no such host!", false, false, nullptr, false},
        {"no such host!", true, false, nullptr, false},
        {"no such host!", true, true, nullptr, false},  // retried once, fails again
        {"no such host!", true, true, "localhost", true},
        {"0.0.0.0", true, true, "127.0.0.1", true},
        {"", true, false, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Host) + (c.Fixed ? std::string(" -> ") + c.Fixed : ""));
        TPowersock s(nullptr);
        s.SetHost(c.Host);
        s.SetPort(l.Port());
        int asked = 0;
        if (c.HaveHandler) {
            s.OnInvalidHost = [&](bool& handled) {
                EXPECT_FALSE(handled);
                ++asked;
                handled = c.Handled;
                if (c.Fixed)
                    s.SetHost(c.Fixed);
            };
        }
        if (c.Connects) {
            s.Connect();
            EXPECT_TRUE(s.Connected());
            EXPECT_TRUE(l.Accept().Valid());
        } else {
            EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Null Remote Address");
            EXPECT_EQ(s.RemoteAddress().sin_addr.s_addr, 0u);
        }
        EXPECT_EQ(asked, c.HaveHandler ? 1 : 0);
    }
}

TEST_F(Fixture, RefusedConnectionFails) {
    TPowersock s(nullptr);
    int failed = 0;
    s.OnConnectionFailed = [&](TObject*) { ++failed; };
    s.SetHost("127.0.0.1");
    s.SetPort(testpeer::UnusedPort());
    s.SetTimeOut(5000);
    EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Connection Failed");
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(s.Connected());
    EXPECT_FALSE(s.TimedOut());
    // The caller disconnects before the next attempt, which then works.
    s.Disconnect();
    Listener l;
    s.SetPort(l.Port());
    s.Connect();
    EXPECT_TRUE(s.Connected());
}

TEST_F(Fixture, ConnectTimesOutOnAListenerThatDoesNotAnswer) {
    Listener l(0);
    l.FillAcceptQueue();
    TPowersock s(nullptr);
    int failed = 0;
    s.OnConnectionFailed = [&](TObject*) { ++failed; };
    s.SetHost("127.0.0.1");
    s.SetPort(l.Port());
    s.SetTimeOut(400);
    clocks::ScopedFakeClock clock;
    auto start = Now();
    EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Connection Timed out");
    auto took = Now() - start;
    EXPECT_GE(took, 350ms);
    EXPECT_LT(took, 5s);
    EXPECT_TRUE(s.TimedOut());
    EXPECT_TRUE(s.Canceled());
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(s.TimeOutTimer()->Enabled());
}

TEST_F(Fixture, CancelDuringTheConnectWait) {
    Listener l(0);
    l.FillAcceptQueue();
    TPowersock s(nullptr);
    s.SetHost("127.0.0.1");
    s.SetPort(l.Port());
    TPowersock* target = &s;
    static TPowersock* gTarget;
    gTarget = target;
    clocks::ScopedFakeClock clock;
    win::UINT_PTR timer =
        win::SetTimer(nullptr, 0, 100, [](win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
            win::KillTimer(nullptr, id);
            gTarget->Cancel();
        });
    ASSERT_NE(timer, 0u);
    EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Connection Canceled");
    EXPECT_FALSE(s.TimedOut());
    EXPECT_TRUE(s.Canceled());
}

TEST_F(Fixture, OverlongHostIsAClearError) {
    TPowersock s(nullptr);
    int asked = 0;
    s.OnInvalidHost = [&](bool&) { ++asked; };
    s.SetHost(String(TPowersock::IOBufferSize + 1, 'a'));
    EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Host name longer than 65536 characters");
    s.SetHost("x");
    s.SetProxy(String(200000, 'b'));
    EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Host name longer than 65536 characters");
    EXPECT_EQ(asked, 0);
}

// ---- status reports ------------------------------------------------------------------------

TEST_F(Fixture, ReportLevelsAndTheirTexts) {
    Listener l;
    struct Case {
        int Level;
        std::vector<std::string> Expected;
    };
    const Case cases[] = {
        {0, {}},
        {4, {"Sending Buffer", "Request Close Socket"}},
        {8,
         {"Connecting", "Resolve Host", "Timer On", "Timer Off", "Writeln", "Write",
          "Sending Buffer", "Timer On", "Timer Off", "Disconnecting", "Request Close Socket"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Level);
        TPowersock s(nullptr);
        s.SetReportLevel(c.Level);
        std::vector<std::string> got;
        s.OnStatus = [&](TComponent* sender, String status) {
            EXPECT_EQ(sender, &s);
            got.push_back(status);
        };
        Conn peer;
        ConnectPair(s, l, peer);
        s.Writeln("hi");
        s.Disconnect();
        EXPECT_EQ(got, c.Expected);
        EXPECT_EQ(s.Status(), c.Expected.empty() ? "" : c.Expected.back());
    }
}

TEST_F(Fixture, StatusHandlerExceptionsAreSwallowed) {
    TPowersock s(nullptr);
    s.SetReportLevel(8);
    s.OnStatus = [](TComponent*, String) { throw Exception(String("boom")); };
    s.Cancel();
    EXPECT_TRUE(s.Canceled());
    EXPECT_EQ(s.Status(), "Canceling");
}

TEST_F(Fixture, ErrorTexts) {
    TPowersock s(nullptr);
    struct Case {
        std::uint16_t Number;
        const char* Text;
    };
    const Case cases[] = {
        {0, ""},
        {10004, "10004:Interrupted system call"},
        {10061, "10061:Connection refused"},
        {10065, "10065:No route to Host"},
        {11003, "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
        {11004, "11004:Valid name, no data record of requested type"},
        {10072, "Unknown Error No. 10072"},
        {5, "Unknown Error No. 5"},
    };
    for (const auto& c : cases) {
        String text = "junk";
        s.SocketErrorText(c.Number, text);
        EXPECT_EQ(text, c.Text);
    }
    // Would-block and numbers up to 10000 pass; a real error raises its text.
    String text = "junk";
    win::WSASetLastError(win::WSAEWOULDBLOCK);
    s.CheckSocketError(win::WSAEWOULDBLOCK, text);
    EXPECT_EQ(text, "");
    win::WSASetLastError(10000);
    s.CheckSocketError(win::WSAEWOULDBLOCK, text);
    win::WSASetLastError(win::WSAECONNREFUSED);
    EXPECT_EQ(Raised<ESockError>([&] { s.CheckSocketError(win::WSAEWOULDBLOCK, text); }),
              "10061:Connection refused");
    EXPECT_EQ(s.LastError(), 10061);
}

// ---- instances -----------------------------------------------------------------------------

TEST_F(Fixture, TwoInstancesShareOneStartup) {
    ASSERT_EQ(TPowersock::WinsockUsers(), 0);
    auto first = std::make_unique<TPowersock>(nullptr);
    auto second = std::make_unique<TPowersock>(nullptr);
    EXPECT_EQ(TPowersock::WinsockUsers(), 2);
    ASSERT_EQ(first->WinsockInfo()->Count(), 6);
    EXPECT_EQ((*first->WinsockInfo())[0], "Version= 1.1");
    EXPECT_EQ((*first->WinsockInfo())[1], "High Version= 1.1");
    EXPECT_EQ((*first->WinsockInfo())[2].rfind("Description= ", 0), 0u);
    EXPECT_EQ((*first->WinsockInfo())[3].rfind("System= ", 0), 0u);
    EXPECT_EQ((*first->WinsockInfo())[4].rfind("Max Sockets= ", 0), 0u);
    EXPECT_EQ((*first->WinsockInfo())[5].rfind("Max Udp pack size= ", 0), 0u);
    EXPECT_EQ(second->WinsockInfo()->Count(), 0);
    EXPECT_NE(first->NotifyWindow(), second->NotifyWindow());

    first.reset();
    EXPECT_EQ(TPowersock::WinsockUsers(), 1);
    Listener l;  // sockets still work for the second
    Conn peer;
    ConnectPair(*second, l, peer);
    second.reset();
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
    // Windows Sockets has ended: the closed connection reached the peer.
    EXPECT_TRUE(peer.WaitClosed(2000));
}

TEST_F(Fixture, DestructionFiresNoEventsAndResetsTheFirstConnection) {
    Listener l;
    auto s = std::make_unique<TPowersock>(nullptr);
    int disconnects = 0, statuses = 0;
    Conn peer;
    ConnectPair(*s, l, peer);
    s->SetReportLevel(8);
    s->OnDisconnect = [&](TObject*) { ++disconnects; };
    s->OnStatus = [&](TComponent*, String) { ++statuses; };
    s.reset();
    EXPECT_EQ(disconnects, 0);
    EXPECT_EQ(statuses, 0);
    bool reset = false;
    peer.ReadUntilClose(2000, &reset);
    EXPECT_TRUE(reset);  // the first socket closes with a reset
}

TEST_F(Fixture, OwnedByAnotherComponent) {
    TComponent owner(nullptr);
    auto* s = new TPowersock(&owner);
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Components(0), s);
    EXPECT_EQ(s->ComponentCount(), 1);  // its timer
}

TEST_F(Fixture, PublishedProperties) {
    TPowersock s(nullptr);
    std::vector<std::string> names;
    for (const TPropInfo* p : GetPropList(&s))
        names.push_back(p->Name());
    for (const char* name : {"Host", "Port", "TimeOut", "ReportLevel", "OnDisconnect", "OnConnect",
                             "OnInvalidHost", "OnHostResolved", "OnStatus", "OnConnectionFailed"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    for (const char* name : {"Proxy", "ProxyPort", "OnPacketRecvd", "OnPacketSent"})
        EXPECT_EQ(std::find(names.begin(), names.end(), name), names.end()) << name;
    const TPropInfo* level = GetPropInfo(&s, "ReportLevel");
    ASSERT_NE(level, nullptr);
    EXPECT_TRUE(level->HasDefault());
    EXPECT_EQ(level->Default(), 1);
    EXPECT_EQ(s.ReportLevel(), 0);  // a new instance holds 0
    SetPropValue(&s, GetPropInfo(&s, "Host"), Variant(String("example")));
    EXPECT_EQ(s.Host(), "example");
}

// ---- peer close ----------------------------------------------------------------------------

TEST_F(Fixture, PeerCloseWithAndWithoutUnreadData) {
    Listener l;
    {
        SCOPED_TRACE("nothing unread: closed and replaced, OnDisconnect");
        TPowersock s(nullptr);
        int disconnects = 0;
        s.OnDisconnect = [&](TObject*) { ++disconnects; };
        Conn peer;
        ConnectPair(s, l, peer);
        peer.Close();
        EXPECT_TRUE(PumpUntil([&] { return disconnects == 1; }));
        EXPECT_FALSE(s.Connected());
        EXPECT_NE(s.SocketHandle(), TPowersock::NoSocket);
        PumpFor(50);
        EXPECT_EQ(disconnects, 1);
        // The fresh socket is ready for the next connection.
        s.Connect();
        EXPECT_TRUE(s.Connected());
        EXPECT_TRUE(l.Accept().Valid());
    }
    {
        SCOPED_TRACE("data unread: nothing closed, the reader sees the end");
        TPowersock s(nullptr);
        int disconnects = 0;
        s.OnDisconnect = [&](TObject*) { ++disconnects; };
        Conn peer;
        ConnectPair(s, l, peer);
        peer.Send("tail");
        peer.Close();
        PumpFor(150);
        EXPECT_EQ(disconnects, 0);
        EXPECT_TRUE(s.Connected());
        String text;
        s.CaptureString(text, -1);
        EXPECT_EQ(text, "tail");
        s.Disconnect();
        EXPECT_EQ(disconnects, 1);
    }
}

// ---- lines ----------------------------------------------------------------------------------

TEST_F(Fixture, ReadLnLinesAndPieces) {
    Listener l;
    TPowersock s(nullptr);
    Conn peer;
    ConnectPair(s, l, peer);
    s.SetTimeOut(5000);

    peer.Send("abc\r\ndef\n");
    EXPECT_EQ(s.ReadLn(), "abc\r\n");
    EXPECT_EQ(s.ReadLn(), "def\n");

    {
        // A line in pieces, its LF last and late.
        clocks::ScopedFakeClock clock;
        peer.Send("ab");
        int tick = 0;
        Every later(10ms, [&] {
            ++tick;
            if (tick == 8)
                peer.Send("c");
            else if (tick == 16)
                peer.Send("d\r");
            else if (tick == 31)
                peer.Send("\nnext");
        });
        EXPECT_EQ(s.ReadLn(), "abcd\r\n");
    }
    peer.Send(" line\n");
    EXPECT_EQ(s.ReadLn(), "next line\n");

    // Without a line end before the close: empty, and the bytes are gone.
    peer.Send("abc");
    peer.Close();
    EXPECT_EQ(s.ReadLn(), "");
    EXPECT_EQ(s.ReadLn(), "");
}

TEST_F(Fixture, ReadLnOnAConnectionThatIsGone) {
    TPowersock s(nullptr);  // never connected: WSAENOTCONN
    EXPECT_EQ(s.ReadLn(), "");
    String text = "old";
    s.CaptureString(text, -1);
    EXPECT_EQ(text, "");
}

TEST_F(Fixture, ReadLnLongLines) {
    Listener l;
    TPowersock s(nullptr);
    Conn peer;
    ConnectPair(s, l, peer);
    std::string longest(TPowersock::IOBufferSize - 1, 'x');
    std::thread feeder([&] { peer.Send(longest + "\n" + longest + "xy\n"); });
    EXPECT_EQ(s.ReadLn(), longest + "\n");
    EXPECT_THROW(s.ReadLn(), ERangeError);
    feeder.join();
}

TEST_F(Fixture, WriteAndWriteln) {
    Listener l;
    TPowersock s(nullptr);
    Conn peer;
    ConnectPair(s, l, peer);
    s.Writeln("");
    EXPECT_EQ(peer.Read(2000), "\r\n");
    s.Write(String("ab\0cd", 5));
    EXPECT_EQ(peer.Read(2000), "ab");
    EXPECT_THROW(s.Write(String(TPowersock::IOBufferSize, 'z')), ERangeError);
    s.Write(String(65535, 'y'));
    EXPECT_EQ(peer.Read(2000).size(), 65535u);
}

TEST_F(Fixture, Transaction) {
    Listener l;
    TPowersock s(nullptr);
    Conn peer;
    ConnectPair(s, l, peer);
    s.SetReportLevel(1);
    std::vector<std::string> reports;
    s.OnStatus = [&](TComponent*, String text) { reports.push_back(text); };
    struct Case {
        const char* Reply;
        int Code;
    };
    const Case cases[] = {
        {"250 OK\r\n", 250}, {"OK 250\r\n", 0}, {"99999999999 big\n", 0}, {"-5 minus\n", 0}};
    for (const auto& c : cases) {
        peer.Send(c.Reply);
        EXPECT_EQ(s.Transaction("NOOP"), c.Reply);
        EXPECT_EQ(s.ReplyCode(), c.Code) << c.Reply;
        EXPECT_EQ(s.LastReply(), c.Reply);
        EXPECT_EQ(peer.Read(2000), "NOOP\r\n");
    }
    EXPECT_EQ(reports.size(), 4u);
    peer.Send("40000 out of range\n");
    EXPECT_THROW(s.Transaction("X"), ERangeError);
}

// ---- captures -------------------------------------------------------------------------------

TEST_F(Fixture, CaptureStringCountsBlocksAndHonoursTheLimit) {
    Listener l;
    const std::string body(300000, 'q');
    for (int limit : {-1, 100, 1}) {
        SCOPED_TRACE(limit);
        TPowersock s(nullptr);
        Conn peer;
        ConnectPair(s, l, peer);
        int packets = 0;
        s.OnPacketRecvd = [&](TObject*) { ++packets; };
        std::thread sender([&] {
            peer.Send(body);
            if (limit == -1)
                peer.Close();
        });
        String text;
        s.CaptureString(text, limit);
        sender.join();
        EXPECT_EQ(s.BytesReceived(), static_cast<int>(text.size()));
        EXPECT_GE(packets, 1);
        if (limit == -1) {
            EXPECT_EQ(text, body);
            EXPECT_GE(packets, static_cast<int>(body.size() / TPowersock::IOBufferSize));
        } else {
            EXPECT_GE(static_cast<int>(text.size()), limit);
            EXPECT_LT(static_cast<int>(text.size()), limit + TPowersock::IOBufferSize);
            EXPECT_EQ(packets, 1);
        }
    }
}

TEST_F(Fixture, CaptureStringOfALargeBodyKeepsEveryByte) {
    Listener l;
    TPowersock s(nullptr);
    Conn peer;
    ConnectPair(s, l, peer);
    std::string body(12 << 20, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + (i >> 13));
    std::thread sender([&] {
        peer.Send(body);
        peer.Close();
    });
    String text = "previous text is dropped";
    s.CaptureString(text, -1);
    sender.join();
    EXPECT_EQ(text.size(), body.size());
    EXPECT_TRUE(text == body);
}

TEST_F(Fixture, CaptureTimeOutAndCancel) {
    Listener l;
    {
        SCOPED_TRACE("a peer that keeps sending outlasts the time-out");
        TPowersock s(nullptr);
        Conn peer;
        ConnectPair(s, l, peer);
        s.SetTimeOut(500);
        clocks::ScopedFakeClock clock;
        peer.Send(".");
        Every dribble(50ms, [&] { peer.Send("."); });
        String text;
        auto start = Now();
        EXPECT_EQ(Raised<EAbortError>([&] { s.CaptureString(text, -1); }),
                  "Socket capture aborted");
        EXPECT_LT(Now() - start, 3s);
        dribble.Stop();
        EXPECT_TRUE(s.TimedOut());
        EXPECT_FALSE(s.Canceled());  // consumed by the abort ending
        EXPECT_GT(text.size(), 3u);  // keeps what arrived
        EXPECT_EQ(s.BytesReceived(), static_cast<int>(text.size()));
    }
    {
        SCOPED_TRACE("cancel from an event handler");
        TPowersock s(nullptr);
        Conn peer;
        ConnectPair(s, l, peer);
        s.OnPacketRecvd = [&](TObject*) { s.Cancel(); };
        peer.Send("first block");
        String text;
        EXPECT_EQ(Raised<EAbortError>([&] { s.CaptureString(text, -1); }),
                  "Socket capture aborted");
        EXPECT_FALSE(s.TimedOut());
        EXPECT_FALSE(s.Canceled());
        EXPECT_EQ(text, "first block");
    }
}

// A reset is never the end of the stream: whether it reaches the reader
// through recv or through the close notification that replaced the socket,
// each reader raises the error text of 10054, and a new connection starts
// clean.
TEST_F(Fixture, AResetRaisesInEveryReaderWhateverItsTiming) {
    Listener l;
    char pattern[] = "/tmp/psock_reset_XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::string file = pattern;
    const struct {
        const char* name;
        std::function<void(TPowersock&)> read;
    } readers[] = {
        {"CaptureString",
         [](TPowersock& s) {
             String t;
             s.CaptureString(t, -1);
         }},
        {"CaptureFile", [&](TPowersock& s) { s.CaptureFile(file); }},
        {"ReadLn", [](TPowersock& s) { s.ReadLn(); }},
    };
    for (const auto& reader : readers) {
        for (bool whileWaiting : {true, false}) {
            SCOPED_TRACE(std::string(reader.name) +
                         (whileWaiting ? ", while waiting" : ", before"));
            TPowersock s(nullptr);
            s.SetTimeOut(5000);
            int disconnects = 0;
            s.OnDisconnect = [&](TObject*) { ++disconnects; };
            Conn peer;
            ConnectPair(s, l, peer);
            peer.Send("part of a line");
            if (whileWaiting) {
                clocks::ScopedFakeClock clock;
                std::unique_ptr<Every> later;
                later = std::make_unique<Every>(150ms, [&] {
                    later->Stop();
                    peer.Reset();
                });
                EXPECT_EQ(Raised<ESockError>([&] { reader.read(s); }),
                          "10054:Connection reset by peer");
            } else {
                peer.Reset();
                // The close notification replaces the socket first.
                ASSERT_TRUE(PumpUntil([&] { return disconnects == 1; }));
                EXPECT_EQ(Raised<ESockError>([&] { reader.read(s); }),
                          "10054:Connection reset by peer");
            }
            EXPECT_EQ(s.LastError(), 10054);
            EXPECT_FALSE(s.TimedOut());

            // The next connection's orderly end is no error.
            s.Disconnect();
            ConnectPair(s, l, peer);
            peer.Send("whole\n");
            peer.Close();
            EXPECT_EQ(s.ReadLn(), "whole\n");
            String rest = "x";
            s.CaptureString(rest, -1);
            EXPECT_EQ(rest, "");
        }
    }
    std::remove(file.c_str());
}

// Each ReadLn has its own countdown, but inside a TimeOutSpan one countdown
// bounds them all: a peer that sends a line now and then cannot stretch it.
TEST_F(Fixture, ATimeOutSpanBoundsSeveralReadsTogether) {
    Listener l;
    for (bool spanned : {false, true}) {
        SCOPED_TRACE(spanned ? "in a span" : "each read on its own");
        TPowersock s(nullptr);
        Conn peer;
        ConnectPair(s, l, peer);
        s.SetTimeOut(1000);
        clocks::ScopedFakeClock clock;
        int sent = 0;
        Every dribble(250ms, [&] {
            if (sent < 8) {
                peer.Send("line\n");
                ++sent;
            }
        });
        int lines = 0;
        const std::string raised = Raised<EAbortError>([&] {
            std::unique_ptr<TPowersock::TimeOutSpan> span;
            if (spanned)
                span = std::make_unique<TPowersock::TimeOutSpan>(s);
            while (lines < 8 && s.ReadLn() == "line\n")
                ++lines;
        });
        dribble.Stop();
        if (spanned) {
            EXPECT_EQ(raised, "Socket readln aborted");
            EXPECT_TRUE(s.TimedOut());
            EXPECT_LT(lines, 8);
        } else {
            EXPECT_EQ(raised, "nothing raised");
            EXPECT_EQ(lines, 8);
        }
        // The span stopped its timer: later reads have countdowns of their own.
        peer.Send("late\n");
        String line;
        for (int i = 0; i < 9 && line != "late\n"; ++i)
            line = s.ReadLn();
        EXPECT_EQ(line, "late\n");
        EXPECT_FALSE(s.TimedOut());
    }
}

TEST_F(Fixture, ReadLnTimeOutOnASilentPeer) {
    Listener l;
    TPowersock s(nullptr);
    Conn peer;
    ConnectPair(s, l, peer);
    s.SetTimeOut(300);
    peer.Send("no line end");
    clocks::ScopedFakeClock clock;
    EXPECT_EQ(Raised<EAbortError>([&] { s.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(s.TimedOut());
}

TEST_F(Fixture, CaptureFileAndSendFile) {
    Listener l;
    TPowersock s(nullptr);
    Conn peer;
    ConnectPair(s, l, peer);
    char pattern[] = "/tmp/psock_test_XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    const std::string name = pattern;
    {
        std::ofstream out(name, std::ios::binary);
        out << std::string(200000, 'f');
    }
    int sent = 0;
    s.OnPacketSent = [&](TObject*) { ++sent; };
    std::string got;
    std::thread reader([&] {
        while (got.size() < 200000) {
            std::string part = peer.Read(5000);
            if (part.empty())
                break;
            got += part;
        }
    });
    s.SendFile(name);
    EXPECT_EQ(s.BytesSent(), 200000);
    EXPECT_GE(sent, 4);
    reader.join();  // before the close, which resets the first connection
    EXPECT_EQ(got, std::string(200000, 'f'));
    s.Disconnect();

    // An empty file: one send of nothing.
    { std::ofstream out(name, std::ios::binary | std::ios::trunc); }
    Conn peer2;
    ConnectPair(s, l, peer2);
    s.SendFile(name);
    EXPECT_EQ(s.BytesSent(), 200000);

    // Capture into the file.
    std::thread sender([&] {
        peer2.Send(std::string(100000, 'c'));
        peer2.Close();
    });
    s.CaptureFile(name);
    sender.join();
    std::ifstream in(name, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, std::string(100000, 'c'));
    EXPECT_EQ(s.BytesReceived(), 100000);
    ::close(fd);
    std::remove(name.c_str());

    EXPECT_THROW(s.SendFile("/nonexistent/dir/file"), EFOpenError);
    EXPECT_THROW(s.CaptureFile("/nonexistent/dir/file"), EFCreateError);
}

// ---- a send that cannot go on ----------------------------------------------------------------

TEST_F(Fixture, BlockedSendEndsByTimeOutOrCancel) {
    Listener l;
    for (bool byTimeOut : {true, false}) {
        SCOPED_TRACE(byTimeOut ? "time-out" : "cancel");
        TPowersock s(nullptr);
        Conn peer;
        ConnectPair(s, l, peer);
        peer.SetReceiveBuffer(4096);  // and it never reads
        static TPowersock* gTarget;
        gTarget = &s;
        clocks::ScopedFakeClock clock;
        win::UINT_PTR timer = 0;
        if (byTimeOut) {
            s.SetTimeOut(300);
        } else {
            timer = win::SetTimer(nullptr, 0, 300,
                                  [](win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
                                      win::KillTimer(nullptr, id);
                                      gTarget->Cancel();
                                  });
        }
        const String block(65535, 'b');
        auto start = Now();
        std::string message;
        for (int i = 0; i < 10000 && message.empty(); ++i) {
            try {
                s.Write(block);
            } catch (const EAbortError& e) {
                message = e.what();
            }
        }
        EXPECT_EQ(message, "Socket send aborted");
        EXPECT_LT(Now() - start, 5s);
        EXPECT_EQ(s.TimedOut(), byTimeOut);
        if (timer)
            win::KillTimer(nullptr, timer);
    }
}

TEST_F(Fixture, SendWhileCanceledSendsNothing) {
    Listener l;
    TPowersock s(nullptr);
    Conn peer;
    ConnectPair(s, l, peer);
    s.Cancel();
    EXPECT_EQ(Raised<EAbortError>([&] { s.Write("x"); }), "Socket send aborted");
    EXPECT_FALSE(s.Canceled());
    s.Write("y");
    EXPECT_EQ(peer.Read(2000), "y");
}

// ---- accept -----------------------------------------------------------------------------------

TEST_F(Fixture, AcceptEndsOnTheIncomingConnectionOrACancel) {
    TPowersock s(nullptr);
    win::SOCKADDR_IN a{};
    a.sin_family = win::AF_INET;
    a.sin_addr.s_addr = win::inet_addr("127.0.0.1");
    ASSERT_EQ(win::bind(s.SocketHandle(), reinterpret_cast<win::SOCKADDR*>(&a), sizeof(a)), 0);
    ASSERT_EQ(win::listen(s.SocketHandle(), win::SOMAXCONN), 0);
    int len = sizeof(a);
    ASSERT_EQ(win::getsockname(s.SocketHandle(), reinterpret_cast<win::SOCKADDR*>(&a), &len), 0);

    Conn client = testpeer::ConnectTo(win::ntohs(a.sin_port));
    ASSERT_TRUE(client.Valid());
    const std::uint16_t accepted = s.Accept();
    EXPECT_NE(accepted, s.SocketHandle());
    EXPECT_TRUE(s.Connected());
    EXPECT_EQ(s.RemoteAddress().sin_addr.s_addr, win::inet_addr("127.0.0.1"));
    client.Send("hello");
    char buf[16] = {};
    ASSERT_TRUE(
        PumpUntil([&] { return win::recv(accepted, buf, sizeof(buf), win::MSG_PEEK) == 5; }));
    EXPECT_EQ(std::string(buf, 5), "hello");
    win::closesocket(accepted);

    // Nothing comes in: a cancel ends the wait and stays set.
    s.SetLookupDone(false);
    static TPowersock* gTarget;
    gTarget = &s;
    clocks::ScopedFakeClock clock;
    win::SetTimer(nullptr, 0, 100, [](win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
        win::KillTimer(nullptr, id);
        gTarget->Cancel();
    });
    EXPECT_EQ(Raised<ESockError>([&] { s.Accept(); }), "Accepting Canceled");
    EXPECT_TRUE(s.Canceled());
}

// ---- destruction inside a wait -------------------------------------------------------------

TEST_F(Fixture, DestroyedWhileAWaitRunsInAnOuterCall) {
    Listener l;
    struct Case {
        const char* Name;
        std::function<void(TPowersock&)> Wait;
        const char* Message;
    };
    const Case cases[] = {
        {"ReadLn", [](TPowersock& s) { s.ReadLn(); }, "Socket readln aborted"},
        {"CaptureString",
         [](TPowersock& s) {
             String text;
             s.CaptureString(text, -1);
         },
         "Socket capture aborted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        static TPowersock* gVictim;
        gVictim = new TPowersock(nullptr);
        Conn peer;
        ConnectPair(*gVictim, l, peer);
        clocks::ScopedFakeClock clock;
        win::UINT_PTR timer =
            win::SetTimer(nullptr, 0, 100, [](win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
                win::KillTimer(nullptr, id);
                delete gVictim;
            });
        ASSERT_NE(timer, 0u);
        TPowersock* s = gVictim;
        EXPECT_EQ(Raised<EAbortError>([&] { c.Wait(*s); }), c.Message);
        EXPECT_EQ(TPowersock::WinsockUsers(), 0);
        EXPECT_TRUE(peer.WaitClosed(2000));
    }
}

TEST_F(Fixture, DestroyedFromItsOwnConnectEvent) {
    Listener l;
    auto* s = new TPowersock(nullptr);
    s->SetHost("127.0.0.1");
    s->SetPort(l.Port());
    s->OnConnect = [s](TObject*) { delete s; };
    EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Connection Canceled");
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
}

// ---- rules without a test of their own ------------------------------------------------------

// Drops the lookup replies that reach a component: a resolver that never
// answers.
class TDroppedLookups {
  public:
    explicit TDroppedLookups(win::HWND window) : FWindow(window) {
        FPrevious = reinterpret_cast<win::WNDPROC>(win::SetWindowLongPtr(
            window, win::GWL_WNDPROC, reinterpret_cast<win::LONG_PTR>(&Proc)));
    }
    ~TDroppedLookups() {
        win::SetWindowLongPtr(FWindow, win::GWL_WNDPROC,
                              reinterpret_cast<win::LONG_PTR>(FPrevious));
    }

  private:
    static win::LRESULT Proc(win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
        if (m == HostLookupReply)
            return 0;
        return win::CallWindowProc(FPrevious, h, m, w, l);
    }
    static inline win::WNDPROC FPrevious = nullptr;
    win::HWND FWindow;
};

// Cancels the component from a timer of the message layer after 100 ms.
void CancelSoon(TPowersock& s) {
    static TPowersock* target;
    target = &s;
    ASSERT_NE(win::SetTimer(nullptr, 0, 100,
                            [](win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
                                win::KillTimer(nullptr, id);
                                target->Cancel();
                            }),
              0u);
}

// A lookup that gets no reply ends at the time-out or at a cancel with the
// lookup's own texts; no connection is tried and none is reported failed.
TEST_F(Fixture, ALookupWithoutAReplyEndsByTimeOutOrCancel) {
    clocks::ScopedFakeClock clock;
    TPowersock s(nullptr);
    TDroppedLookups dropped(s.NotifyWindow());
    int failed = 0;
    s.OnConnectionFailed = [&](TObject*) { ++failed; };
    s.SetHost("localhost");
    s.SetPort(testpeer::UnusedPort());
    s.SetTimeOut(300);
    EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Host Lookup Timed Out");
    EXPECT_TRUE(s.TimedOut());
    EXPECT_TRUE(s.Canceled());
    s.SetTimeOut(0);
    CancelSoon(s);
    EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Host Lookup Canceled");
    EXPECT_FALSE(s.TimedOut());
    EXPECT_TRUE(s.Canceled());
    EXPECT_EQ(failed, 0);
    EXPECT_FALSE(s.Connected());
    EXPECT_FALSE(s.TimeOutTimer()->Enabled());
}

// When no socket can be made, the construction fails with the start-up
// error and the count of users is back where it was, whether or not this
// was the first user.
TEST_F(Fixture, AFailedConstructionRestoresTheUserCount) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime opens files of its own to check a type, which
    // fails while no descriptor is left, and reports the check as failed.
    GTEST_SKIP() << "runs without descriptors, which the sanitizers' runtime needs";
#endif
    // The message layer is set up once a process, when a component is first
    // made: that happens here, before the descriptors run out, so that only
    // the start of Windows Sockets can fail below.
    { TPowersock warmUp(nullptr); }
    for (const bool another : {false, true}) {
        SCOPED_TRACE(another);
        std::optional<TPowersock> first;
        if (another)
            first.emplace(nullptr);
        const int before = TPowersock::WinsockUsers();
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowest = ::dup(0);
        ASSERT_GE(lowest, 0);
        ::close(lowest);
        rlimit none = saved;
        none.rlim_cur = static_cast<rlim_t>(lowest);  // no descriptor is left
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
        std::string raised;
        try {
            TPowersock failing(nullptr);
            raised = "constructed";
        } catch (const ESockError& e) {
            raised = e.what();
        }
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        EXPECT_EQ(raised, "Initializaton of windows sockets failed");
        EXPECT_EQ(TPowersock::WinsockUsers(), before);
    }
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
    TPowersock works(nullptr);
    EXPECT_EQ(TPowersock::WinsockUsers(), 1);
}

// A negative time-out is refused as a wait begins, for a connect and for a
// lookup alike.
TEST_F(Fixture, ANegativeTimeOutIsRefusedWhenAWaitBegins) {
    Listener l;
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        TPowersock s(nullptr);
        s.SetTimeOut(-1);
        EXPECT_EQ(s.TimeOut(), -1);
        s.SetHost(host);
        s.SetPort(l.Port());
        EXPECT_EQ(Raised<ERangeError>([&] { s.Connect(); }), "Range check error");
        EXPECT_FALSE(s.TimeOutTimer()->Enabled());
    }
}

// An exception of OnHostResolved leaves Connect before any connection; a
// socket error from it is taken for a failed lookup, which the address found
// makes good.
TEST_F(Fixture, WhatOnHostResolvedRaisesDecidesWhetherTheConnectGoesOn) {
    const struct {
        const char* what;
        std::function<void()> raise;
        const char* raised;
        bool connected;
    } cases[] = {
        {"exception", [] { throw Exception(String("resolved badly")); }, "resolved badly", false},
        {"socket error", [] { throw ESockError(String("ignored")); }, "nothing raised", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Listener l;
        TPowersock s(nullptr);
        s.OnHostResolved = [&](TComponent*) { c.raise(); };
        s.SetHost("localhost");
        s.SetPort(l.Port());
        s.SetTimeOut(3000);
        EXPECT_EQ(Raised<Exception>([&] { s.Connect(); }), c.raised);
        EXPECT_EQ(s.Connected(), c.connected);
        EXPECT_EQ(l.Accept(c.connected ? 3000 : 200).Valid(), c.connected);
    }
}

// Without a time-out a refused connect still ends, at once, as a failure.
TEST_F(Fixture, ARefusedConnectWithoutATimeOutFails) {
    TPowersock s(nullptr);
    int failed = 0;
    s.OnConnectionFailed = [&](TObject*) { ++failed; };
    s.SetHost("127.0.0.1");
    s.SetPort(testpeer::UnusedPort());
    s.SetTimeOut(0);
    const auto start = Now();
    EXPECT_EQ(Raised<ESockError>([&] { s.Connect(); }), "Connection Failed");
    EXPECT_LT(Now() - start, 3s);
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(s.TimedOut());
}

// Every entry of the error table, and numbers just beside them.
TEST_F(Fixture, TheWholeErrorTable) {
    TPowersock s(nullptr);
    const struct {
        std::uint16_t number;
        const char* message;
    } table[] = {
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Wrong protocol type for socket"},
        {10042, "Bad protocol option"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Can't assign requested address"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection or reset"},
        {10053, "Software caused connection abort"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references, can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"},
        {10064, "Host is down"},
        {10065, "No route to Host"},
        {10066, "Directory not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disc quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network subsystem is unavailable"},
        {10092, "Incompatible version of WINSOCK.DLL"},
        {10093, "Successful WSAStartup not yet performed"},
        {11001, "Host not found"},
        {11002, "Non-Authoritative Host not found"},
        {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
        {11004, "Valid name, no data record of requested type"},
    };
    ASSERT_EQ(std::size(table), 50u);
    for (const auto& e : table) {
        String text;
        s.SocketErrorText(e.number, text);
        EXPECT_EQ(text, std::to_string(e.number) + ":" + e.message);
    }
    for (const std::uint16_t unknown : {10000, 10003, 10005, 10072, 10090, 10094, 11000, 11005}) {
        String text;
        s.SocketErrorText(unknown, text);
        EXPECT_EQ(text, "Unknown Error No. " + std::to_string(unknown));
    }
}

// An incoming connection announced with an error fails Accept at once.
TEST_F(Fixture, AcceptAfterAnErrorNotificationFails) {
    TPowersock s(nullptr);
    win::SendMessage(s.NotifyWindow(), SocketEvent, s.SocketHandle(),
                     win::WSAMAKESELECTREPLY(static_cast<win::WORD>(win::FD_ACCEPT),
                                             static_cast<win::WORD>(win::WSAECONNABORTED)));
    EXPECT_EQ(Raised<ESockError>([&] { s.Accept(); }), "Error creating Data Connection");
}

// A cancel ends each transfer with its own abort text and consumes itself;
// what had arrived stays in the file.
TEST_F(Fixture, ACancelEndsReadLnCaptureFileAndSendFile) {
    Listener l;
    const std::string file = ::testing::TempDir() + "kurs-psock-cancel.bin";
    {
        SCOPED_TRACE("ReadLn on a peer that says nothing");
        TPowersock s(nullptr);
        Conn peer;
        ConnectPair(s, l, peer);
        clocks::ScopedFakeClock clock;
        CancelSoon(s);
        EXPECT_EQ(Raised<EAbortError>([&] { s.ReadLn(); }), "Socket readln aborted");
        EXPECT_FALSE(s.TimedOut());
        EXPECT_FALSE(s.Canceled());
    }
    {
        SCOPED_TRACE("CaptureFile");
        TPowersock s(nullptr);
        Conn peer;
        ConnectPair(s, l, peer);
        s.OnPacketRecvd = [&](TObject*) { s.Cancel(); };
        peer.Send("first block");
        EXPECT_EQ(Raised<EAbortError>([&] { s.CaptureFile(file); }), "Socket capture aborted");
        EXPECT_FALSE(s.Canceled());
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "first block");
    }
    {
        SCOPED_TRACE("SendFile");
        std::ofstream(file, std::ios::binary) << std::string(1 << 20, 'x');
        TPowersock s(nullptr);
        Conn peer;
        ConnectPair(s, l, peer);
        int blocks = 0;
        s.OnPacketSent = [&](TObject*) {
            ++blocks;
            s.Cancel();
        };
        EXPECT_EQ(Raised<EAbortError>([&] { s.SendFile(file); }), "Socket send aborted");
        EXPECT_EQ(blocks, 1);
        EXPECT_FALSE(s.Canceled());
        s.Disconnect();
        EXPECT_LT(peer.ReadUntilClose(3000).size(), std::size_t{1} << 20);
    }
    std::remove(file.c_str());
}

}  // namespace
