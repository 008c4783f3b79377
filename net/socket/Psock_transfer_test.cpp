#include "net/socket/Psock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include <stdlib.h>
#include <unistd.h>

#include "net/socket/Psock_test.h"
#include "platform/clock/FakeClock.h"
#include "platform/messages/Messages.h"
#include "runtime/Exceptions.h"
#include "testing/SocketPeer.h"

using namespace psock_test;

namespace {

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
            std::string part = peer.ReadAtLeast(200000 - got.size(), 5000);
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
    EXPECT_EQ(peer.ReadAtLeast(1, 2000), "y");
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
