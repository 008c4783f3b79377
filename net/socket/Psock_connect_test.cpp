#include "net/socket/Psock.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "net/socket/Psock_test.h"
#include "platform/clock/FakeClock.h"
#include "platform/messages/Messages.h"
#include "platform/sockets/Winsock.h"
#include "runtime/Exceptions.h"
#include "testing/SocketPeer.h"

using namespace psock_test;

namespace {

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

// ---- lookups, time-outs and failures -----------------------------------------------------

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

// An incoming connection announced with an error fails Accept at once.
TEST_F(Fixture, AcceptAfterAnErrorNotificationFails) {
    TPowersock s(nullptr);
    win::SendMessage(s.NotifyWindow(), SocketEvent, s.SocketHandle(),
                     win::WSAMAKESELECTREPLY(static_cast<win::WORD>(win::FD_ACCEPT),
                                             static_cast<win::WORD>(win::WSAECONNABORTED)));
    EXPECT_EQ(Raised<ESockError>([&] { s.Accept(); }), "Error creating Data Connection");
}

}  // namespace
