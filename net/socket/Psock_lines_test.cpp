#include "net/socket/Psock.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "net/socket/Psock_test.h"
#include "platform/clock/FakeClock.h"
#include "platform/messages/Messages.h"
#include "platform/sockets/Winsock.h"
#include "runtime/Exceptions.h"
#include "testing/SocketPeer.h"

using namespace psock_test;

namespace {

// ---- peer close ----------------------------------------------------------------------------

// Counts the close notifications a component's window has handled.
class TCloseNotices {
  public:
    explicit TCloseNotices(win::HWND window) : FWindow(window) {
        FHandled = 0;
        FPrevious = reinterpret_cast<win::WNDPROC>(win::SetWindowLongPtr(
            window, win::GWL_WNDPROC, reinterpret_cast<win::LONG_PTR>(&Proc)));
    }
    ~TCloseNotices() {
        win::SetWindowLongPtr(FWindow, win::GWL_WNDPROC,
                              reinterpret_cast<win::LONG_PTR>(FPrevious));
    }
    TCloseNotices(const TCloseNotices&) = delete;
    TCloseNotices& operator=(const TCloseNotices&) = delete;

    int Handled() const { return FHandled; }

  private:
    static win::LRESULT Proc(win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
        const win::LRESULT result = win::CallWindowProc(FPrevious, h, m, w, l);
        if (m == SocketEvent && win::WSAGETSELECTEVENT(l) == win::FD_CLOSE)
            ++FHandled;
        return result;
    }
    static inline win::WNDPROC FPrevious = nullptr;
    static inline int FHandled = 0;
    win::HWND FWindow;
};

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
        TCloseNotices closes(s.NotifyWindow());
        peer.Send("tail");
        peer.Close();
        PumpUntil([&] { return closes.Handled() == 1; });
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
    EXPECT_EQ(peer.ReadAtLeast(2, 2000), "\r\n");
    s.Write(String("ab\0cd", 5));
    EXPECT_EQ(peer.ReadAtLeast(2, 2000), "ab");
    EXPECT_THROW(s.Write(String(TPowersock::IOBufferSize, 'z')), ERangeError);
    s.Write(String(65535, 'y'));
    EXPECT_EQ(peer.ReadAtLeast(65535, 2000).size(), 65535u);
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
        EXPECT_EQ(peer.ReadAtLeast(6, 2000), "NOOP\r\n");
    }
    EXPECT_EQ(reports.size(), 4u);
    peer.Send("40000 out of range\n");
    EXPECT_THROW(s.Transaction("X"), ERangeError);
}

}  // namespace
