#include "platform/sockets/Winsock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/messages/Messages.h"
#include "testing/SocketPeer.h"

using namespace win;

namespace {

constexpr UINT kNotice = WM_USER + 101;
constexpr UINT kLookup = WM_USER + 102;

struct Received {
    UINT Msg;
    WPARAM WParam;
    WORD Event;  // low word
    WORD Error;  // high word
};

std::vector<Received> gLog;
std::function<void(const Received&)> gOnMessage;

LRESULT RecordProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kNotice || msg == kLookup) {
        Received r{msg, wParam, WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam)};
        gLog.push_back(r);
        if (gOnMessage)
            gOnMessage(r);
        return 0;
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

HWND MakeWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = RecordProc;
        cls.hInstance = GetModuleHandle(nullptr);
        cls.lpszClassName = "WinsockTestWindow";
        registered = RegisterClass(&cls) != 0;
    }
    return CreateWindowEx(0, "WinsockTestWindow", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                          GetModuleHandle(nullptr), nullptr);
}

using Clock = std::chrono::steady_clock;

// Dispatches for the whole time.
void PumpFor(int ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        WaitMessage(static_cast<int>(left.count()) + 1);
        ProcessMessages();
    }
}

// Dispatches until the condition holds (or the time is up), then a little
// longer so that anything unexpected that follows is seen too.
bool PumpUntil(const std::function<bool()>& done, int ms = 3000) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done() && Clock::now() < deadline) {
        WaitMessage(20);
        ProcessMessages();
    }
    bool ok = done();
    PumpFor(60);
    return ok;
}

SOCKADDR_IN LoopbackAddress(win::u_short port) {
    SOCKADDR_IN a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    return a;
}

class WinsockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
        window = MakeWindow();
        ASSERT_NE(window, nullptr);
        gLog.clear();
        gOnMessage = nullptr;
    }
    void TearDown() override {
        gOnMessage = nullptr;
        DestroyWindow(window);
        WSACleanup();
        ProcessMessages();
    }

    // A client socket registered for the five events the socket client asks
    // for (plus extra ones), connected to the port and pumped until FD_CONNECT.
    SOCKET Connected(win::u_short port, LONG extra = 0) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_NE(s, INVALID_SOCKET);
        EXPECT_EQ(WSAAsyncSelect(s, window, kNotice,
                                 FD_READ | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE | extra),
                  0);
        SOCKADDR_IN a = LoopbackAddress(port);
        EXPECT_EQ(connect(s, reinterpret_cast<SOCKADDR*>(&a), sizeof(a)), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        EXPECT_TRUE(PumpUntil([] { return !gLog.empty(); }));
        return s;
    }

    std::vector<std::pair<WORD, WORD>> Events() const {
        std::vector<std::pair<WORD, WORD>> out;
        for (const auto& r : gLog)
            out.emplace_back(r.Event, r.Error);
        return out;
    }

    HWND window = nullptr;
};

using EventList = std::vector<std::pair<WORD, WORD>>;

std::string Recv(SOCKET s, int max = 4096, int flags = 0) {
    std::string buf(static_cast<size_t>(max), '\0');
    int n = recv(s, buf.data(), max, flags);
    return n > 0 ? buf.substr(0, static_cast<size_t>(n)) : std::string();
}

// ---- the notification rules, as expected message sequences -------------------------------

struct Scenario {
    const char* Name;
    // Runs against a connected pair; returns after pumping.
    std::function<void(SOCKET s, testpeer::Conn& peer)> Steps;
    EventList Expected;  // FD_CONNECT first
};

TEST_F(WinsockTest, NotificationSequences) {
    const std::vector<Scenario> scenarios = {
        {"connect only", [](SOCKET, testpeer::Conn&) {}, {{FD_CONNECT, 0}}},
        {"data in two bursts, no recv between: one FD_READ",
         [](SOCKET, testpeer::Conn& peer) {
             peer.Send("abc");
             PumpUntil([] { return gLog.size() >= 2; });
             peer.Send("def");
             PumpFor(100);
         },
         {{FD_CONNECT, 0}, {FD_READ, 0}}},
        {"recv re-enables FD_READ while data is left",
         [](SOCKET s, testpeer::Conn& peer) {
             peer.Send("abcdef");
             PumpUntil([] { return gLog.size() >= 2; });
             EXPECT_EQ(Recv(s, 2), "ab");
             PumpUntil([] { return gLog.size() >= 3; });
             EXPECT_EQ(Recv(s), "cdef");
             PumpFor(100);  // nothing left: no further FD_READ
         },
         {{FD_CONNECT, 0}, {FD_READ, 0}, {FD_READ, 0}}},
        {"peek re-enables FD_READ too",
         [](SOCKET s, testpeer::Conn& peer) {
             peer.Send("x");
             PumpUntil([] { return gLog.size() >= 2; });
             EXPECT_EQ(Recv(s, 1, MSG_PEEK), "x");
             PumpUntil([] { return gLog.size() >= 3; });
         },
         {{FD_CONNECT, 0}, {FD_READ, 0}, {FD_READ, 0}}},
        {"peer closes, nothing unread",
         [](SOCKET s, testpeer::Conn& peer) {
             peer.Close();
             PumpUntil([] { return gLog.size() >= 2; });
             char c;
             EXPECT_EQ(recv(s, &c, 1, 0), 0);
             PumpFor(100);
         },
         {{FD_CONNECT, 0}, {FD_CLOSE, 0}}},
        {"peer closes with unread data: FD_READ, FD_CLOSE once, data still readable",
         [](SOCKET s, testpeer::Conn& peer) {
             peer.Send("tail");
             peer.Close();
             PumpUntil([] { return gLog.size() >= 3; });
             EXPECT_EQ(Recv(s, 2), "ta");
             PumpUntil([] { return gLog.size() >= 4; });
             EXPECT_EQ(Recv(s), "il");
             char c;
             EXPECT_EQ(recv(s, &c, 1, 0), 0);
             PumpFor(100);
         },
         {{FD_CONNECT, 0}, {FD_READ, 0}, {FD_CLOSE, 0}, {FD_READ, 0}}},
        {"peer resets: FD_CLOSE with WSAECONNRESET, recv fails alike",
         [](SOCKET s, testpeer::Conn& peer) {
             peer.Reset();
             PumpUntil([] { return gLog.size() >= 2; });
             char c;
             EXPECT_EQ(recv(s, &c, 1, 0), SOCKET_ERROR);
             EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
             EXPECT_EQ(send(s, "x", 1, 0), SOCKET_ERROR);
             EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
             PumpFor(100);
         },
         {{FD_CONNECT, 0}, {FD_CLOSE, WSAECONNRESET}}},
        {"our own closesocket: no FD_CLOSE",
         [](SOCKET s, testpeer::Conn& peer) {
             EXPECT_EQ(closesocket(s), 0);
             EXPECT_TRUE(peer.WaitClosed(2000));
             PumpFor(150);
         },
         {{FD_CONNECT, 0}}},
        {"closesocket while FD_CLOSE is still queued: it is dropped",
         [](SOCKET s, testpeer::Conn& peer) {
             gOnMessage = [s](const Received& r) {
                 if (r.Event == FD_READ)
                     closesocket(s);
             };
             peer.Send("bye");
             peer.Close();
             PumpFor(200);
             gOnMessage = nullptr;
         },
         {{FD_CONNECT, 0}, {FD_READ, 0}}},
        {"registration ended while FD_CLOSE is queued: it is dropped",
         [](SOCKET s, testpeer::Conn& peer) {
             gOnMessage = [s](const Received& r) {
                 if (r.Event == FD_READ)
                     WSAAsyncSelect(s, nullptr, 0, 0);
             };
             peer.Send("bye");
             peer.Close();
             PumpFor(200);
             gOnMessage = nullptr;
         },
         {{FD_CONNECT, 0}, {FD_READ, 0}}},
        {"urgent byte: FD_OOB, read with MSG_OOB",
         [](SOCKET s, testpeer::Conn& peer) {
             peer.SendUrgent('!');
             PumpUntil([] { return gLog.size() >= 2; });
             EXPECT_EQ(Recv(s, 1, MSG_OOB), "!");
             PumpFor(100);
         },
         {{FD_CONNECT, 0}, {FD_OOB, 0}}},
    };

    for (const auto& sc : scenarios) {
        SCOPED_TRACE(sc.Name);
        gLog.clear();
        testpeer::Listener listener;
        SOCKET s = Connected(listener.Port());
        testpeer::Conn peer = listener.Accept();
        ASSERT_TRUE(peer.Valid());
        sc.Steps(s, peer);
        EXPECT_EQ(Events(), sc.Expected);
        for (const auto& r : gLog)
            EXPECT_EQ(r.WParam, s);
        // Nothing is left ready: the pump would sleep, not spin.
        EXPECT_FALSE(WaitMessage(30));
        closesocket(s);
    }
}

TEST_F(WinsockTest, RefusedConnectArrivesAsFdConnectWithTheError) {
    SOCKET s = Connected(testpeer::UnusedPort());
    EXPECT_EQ(Events(), (EventList{{FD_CONNECT, WSAECONNREFUSED}}));
    EXPECT_FALSE(WaitMessage(30));
    char c;
    EXPECT_EQ(recv(s, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    closesocket(s);
}

TEST_F(WinsockTest, ConnectStatesAnswerAsThePlatform) {
    testpeer::Listener listener;
    SOCKET s = Connected(listener.Port());
    SOCKADDR_IN a = LoopbackAddress(listener.Port());
    EXPECT_EQ(connect(s, reinterpret_cast<SOCKADDR*>(&a), sizeof(a)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEISCONN);
    PumpFor(50);
    EXPECT_EQ(Events(), (EventList{{FD_CONNECT, 0}}));  // FD_CONNECT only once
    closesocket(s);

    SOCKET fresh = socket(AF_INET, SOCK_STREAM, 0);
    char c;
    EXPECT_EQ(recv(fresh, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(send(fresh, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    closesocket(fresh);
    EXPECT_EQ(closesocket(fresh), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinsockTest, LingerZeroResetsThePeerAndPlainCloseDoesNot) {
    for (bool reset : {true, false}) {
        SCOPED_TRACE(reset ? "linger {1, 0}" : "default");
        testpeer::Listener listener;
        SOCKET s = Connected(listener.Port());
        testpeer::Conn peer = listener.Accept();
        if (reset) {
            LINGER l{1, 0};
            ASSERT_EQ(
                setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l)),
                0);
        }
        ASSERT_EQ(send(s, "hello", 5, 0), 5);
        EXPECT_EQ(peer.Read(2000), "hello");
        closesocket(s);
        bool sawReset = false;
        peer.ReadUntilClose(2000, &sawReset);
        EXPECT_EQ(sawReset, reset);
    }
}

TEST_F(WinsockTest, FdWriteAfterConnectAndAfterWouldBlock) {
    testpeer::Listener listener;
    SOCKET s = Connected(listener.Port(), FD_WRITE);
    testpeer::Conn peer = listener.Accept();
    PumpUntil([] { return gLog.size() >= 2; });
    EXPECT_EQ(Events(), (EventList{{FD_CONNECT, 0}, {FD_WRITE, 0}}));
    gLog.clear();

    std::string block(65536, 'x');
    long sent = 0;
    while (true) {
        int n = send(s, block.data(), static_cast<int>(block.size()), 0);
        if (n == SOCKET_ERROR)
            break;
        sent += n;
    }
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    PumpFor(50);
    EXPECT_TRUE(gLog.empty());  // still no room
    std::string got;
    while (static_cast<long>(got.size()) < sent) {
        std::string part = peer.Read(2000);
        if (part.empty())
            break;
        got += part;
    }
    EXPECT_EQ(static_cast<long>(got.size()), sent);
    EXPECT_TRUE(PumpUntil([] { return !gLog.empty(); }));
    EXPECT_EQ(Events(), (EventList{{FD_WRITE, 0}}));
    closesocket(s);
}

TEST_F(WinsockTest, AcceptOneNotificationAtATimeAndInheritedRegistration) {
    SOCKET l = socket(AF_INET, SOCK_STREAM, 0);
    SOCKADDR_IN a = LoopbackAddress(0);
    ASSERT_EQ(bind(l, reinterpret_cast<SOCKADDR*>(&a), sizeof(a)), 0);
    ASSERT_EQ(listen(l, SOMAXCONN), 0);
    int len = sizeof(a);
    ASSERT_EQ(getsockname(l, reinterpret_cast<SOCKADDR*>(&a), &len), 0);
    ASSERT_EQ(WSAAsyncSelect(l, window, kNotice, FD_ACCEPT | FD_READ | FD_CLOSE), 0);

    testpeer::Conn c1 = testpeer::ConnectTo(ntohs(a.sin_port));
    testpeer::Conn c2 = testpeer::ConnectTo(ntohs(a.sin_port));
    PumpUntil([] { return !gLog.empty(); });
    PumpFor(50);
    EXPECT_EQ(Events(), (EventList{{FD_ACCEPT, 0}}));

    SOCKADDR_IN peer{};
    int peerLen = sizeof(peer);
    SOCKET a1 = accept(l, reinterpret_cast<SOCKADDR*>(&peer), &peerLen);
    ASSERT_NE(a1, INVALID_SOCKET);
    EXPECT_EQ(peer.sin_addr.s_addr, inet_addr("127.0.0.1"));
    PumpUntil([] { return gLog.size() >= 2; });
    EXPECT_EQ(Events(), (EventList{{FD_ACCEPT, 0}, {FD_ACCEPT, 0}}));
    SOCKET a2 = accept(l, nullptr, nullptr);
    ASSERT_NE(a2, INVALID_SOCKET);
    PumpFor(50);
    EXPECT_EQ(gLog.size(), 2u);  // no third

    gLog.clear();
    c1.Send("hi");
    PumpUntil([] { return !gLog.empty(); });
    ASSERT_EQ(gLog.size(), 1u);
    EXPECT_EQ(gLog[0].Event, FD_READ);
    EXPECT_EQ(gLog[0].WParam, a1);
    EXPECT_FALSE(WaitMessage(30));
    closesocket(a1);
    closesocket(a2);
    closesocket(l);
}

TEST_F(WinsockTest, FreshSocketOnTheSameDescriptorGetsNoStaleNotice) {
    testpeer::Listener listener;
    SOCKET s = Connected(listener.Port());
    testpeer::Conn peer = listener.Accept();
    SOCKET fresh = INVALID_SOCKET;
    gOnMessage = [&](const Received& r) {
        if (r.Event == FD_READ && fresh == INVALID_SOCKET) {
            closesocket(s);
            fresh = socket(AF_INET, SOCK_STREAM, 0);  // usually the same number
            WSAAsyncSelect(fresh, window, kNotice, FD_READ | FD_CLOSE | FD_CONNECT);
        }
    };
    peer.Send("x");
    peer.Close();
    PumpFor(200);
    gOnMessage = nullptr;
    EXPECT_EQ(Events(), (EventList{{FD_CONNECT, 0}, {FD_READ, 0}}));
    EXPECT_FALSE(WaitMessage(30));  // an unconnected socket is not watched
    closesocket(fresh);
}

// ---- host lookup -------------------------------------------------------------------------

TEST_F(WinsockTest, LookupOfLocalhostLaysTheEntryOutInTheBuffer) {
    std::vector<char> buffer(MAXGETHOSTSTRUCT, '\xAB');
    HANDLE task = WSAAsyncGetHostByName(window, kLookup, "localhost", buffer.data(),
                                        static_cast<int>(buffer.size()));
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(PumpUntil([] { return !gLog.empty(); }));
    ASSERT_EQ(gLog.size(), 1u);
    EXPECT_EQ(gLog[0].Msg, kLookup);
    EXPECT_EQ(gLog[0].WParam, reinterpret_cast<WPARAM>(task));
    EXPECT_EQ(gLog[0].Error, 0);
    EXPECT_GT(gLog[0].Event, 0);  // the length used
    EXPECT_LE(gLog[0].Event, MAXGETHOSTSTRUCT);
    auto* entry = reinterpret_cast<HOSTENT*>(buffer.data());
    EXPECT_EQ(entry->h_addrtype, AF_INET);
    EXPECT_EQ(entry->h_length, 4);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    win::u_long first;
    std::memcpy(&first, entry->h_addr_list[0], 4);
    EXPECT_EQ(first, inet_addr("127.0.0.1"));
    auto inside = [&](const void* p) {
        return p >= buffer.data() && p < buffer.data() + buffer.size();
    };
    EXPECT_TRUE(inside(entry->h_name));
    EXPECT_TRUE(inside(entry->h_addr_list));
    EXPECT_TRUE(inside(entry->h_addr_list[0]));
    EXPECT_EQ(entry->h_aliases[0], nullptr);
}

TEST_F(WinsockTest, LookupFailuresCarryTheirNumbers) {
    struct Case {
        const char* Name;
        int BufferLength;
        WORD Error;
    };
    // Names that the resolver turns down without asking any server.
    const Case cases[] = {
        {"no such host!", MAXGETHOSTSTRUCT, WSAHOST_NOT_FOUND},
        {"", MAXGETHOSTSTRUCT, WSAHOST_NOT_FOUND},
        {"localhost", 16, WSAENOBUFS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        gLog.clear();
        std::vector<char> buffer(static_cast<size_t>(c.BufferLength), '\xAB');
        ASSERT_NE(WSAAsyncGetHostByName(window, kLookup, c.Name, buffer.data(), c.BufferLength),
                  nullptr);
        ASSERT_TRUE(PumpUntil([] { return !gLog.empty(); }));
        EXPECT_EQ(gLog[0].Error, c.Error);
        if (c.Error == WSAENOBUFS) {
            EXPECT_GT(gLog[0].Event, c.BufferLength);  // the length needed
        }
        for (char b : buffer)
            ASSERT_EQ(b, '\xAB');  // untouched
    }
}

TEST_F(WinsockTest, LookupReplyForAGoneWindowOrACancelledTaskIsDropped) {
    // The buffer is freed together with its window before the reply comes.
    HWND other = MakeWindow();
    auto* buffer = new char[MAXGETHOSTSTRUCT];
    ASSERT_NE(WSAAsyncGetHostByName(other, kLookup, "localhost", buffer, MAXGETHOSTSTRUCT),
              nullptr);
    DestroyWindow(other);
    delete[] buffer;  // the sanitizer build catches any later write

    std::vector<char> kept(MAXGETHOSTSTRUCT, '\xAB');
    HANDLE task =
        WSAAsyncGetHostByName(window, kLookup, "localhost", kept.data(), MAXGETHOSTSTRUCT);
    ASSERT_EQ(WSACancelAsyncRequest(task), 0);
    EXPECT_EQ(WSACancelAsyncRequest(task), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    PumpFor(500);
    EXPECT_TRUE(gLog.empty());
    for (char b : kept)
        ASSERT_EQ(b, '\xAB');
}

// ---- numbers and conversions ---------------------------------------------------------------

TEST(WinsockPlain, StartupReportsVersionOneOne) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(data.wHighVersion, 0x0101);
    EXPECT_GT(std::strlen(data.szDescription), 0u);
    EXPECT_GT(std::strlen(data.szSystemStatus), 0u);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSAStartup(0x0001, &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST(WinsockPlain, InetAddr) {
    struct Case {
        const char* Text;
        win::u_long Expected;
    };
    const Case cases[] = {
        {"127.0.0.1", htonl(0x7F000001)}, {"0.0.0.0", 0},
        {"10.1.2.3", htonl(0x0A010203)},  {"0x7f.1", htonl(0x7F000001)},
        {"127.1", htonl(0x7F000001)},     {"010.0.0.1", htonl(0x08000001)},
        {"1.2.3.256", INADDR_NONE},       {"1.2.3.4.5", INADDR_NONE},
        {"1.2.3.", INADDR_NONE},          {"", INADDR_NONE},
        {"localhost", INADDR_NONE},       {"www.cbr.ru", INADDR_NONE},
        {"1.2.3.4 ", INADDR_NONE},        {"09.1.1.1", INADDR_NONE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(inet_addr(c.Text), c.Expected) << c.Text;
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
    EXPECT_EQ(htons(0x1234), 0x3412);
}

TEST(WinsockPlain, ErrnoAndLookupNumbers) {
    struct Case {
        int Posix;
        int Wsa;
    };
    const Case cases[] = {{0, 0},
                          {ECONNREFUSED, 10061},
                          {ETIMEDOUT, 10060},
                          {ECONNRESET, 10054},
                          {EPIPE, 10054},
                          {ENOTCONN, 10057},
                          {ENETUNREACH, 10051},
                          {EHOSTUNREACH, 10065},
                          {EWOULDBLOCK, 10035},
                          {EINPROGRESS, 10035},
                          {EADDRINUSE, 10048},
                          {EISCONN, 10056},
                          {EALREADY, 10037}};
    for (const auto& c : cases)
        EXPECT_EQ(WSAErrorFromErrno(c.Posix), c.Wsa) << c.Posix;
    // getaddrinfo's EAI_NONAME, EAI_AGAIN, EAI_FAIL, EAI_NODATA (their
    // header cannot be included beside Winsock.h).
    EXPECT_EQ(WSAErrorFromLookup(-2), 11001);
    EXPECT_EQ(WSAErrorFromLookup(-3), 11002);
    EXPECT_EQ(WSAErrorFromLookup(-4), 11003);
    EXPECT_EQ(WSAErrorFromLookup(-5), 11004);
}

}  // namespace
