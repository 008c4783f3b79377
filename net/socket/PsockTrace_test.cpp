#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "net/socket/Psock.h"
#include "platform/Trace.h"
#include "platform/messages/Messages.h"
#include "platform/sockets/Winsock.h"
#include "testing/StderrCapture.h"

namespace {

using testing_support::CaptureStderr;

// Whether the lines are all in the text, in this order.
::testing::AssertionResult InOrder(const std::string& text,
                                   std::initializer_list<std::string> lines) {
    std::size_t at = 0;
    for (const auto& line : lines) {
        const std::size_t found = text.find(line, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing, in order: " << line << "\nin:\n"
                                                 << text;
        at = found + line.size();
    }
    return ::testing::AssertionSuccess();
}

std::string Client(const TPowersock& s) {
    char text[64];
    std::snprintf(text, sizeof text, "client %p: ", static_cast<const void*>(&s));
    return text;
}

// A listening socket of the stand-in on 127.0.0.1, and the connections it
// accepts.
class Peer {
  public:
    Peer() {
        win::WSADATA data;
        win::WSAStartup(win::MAKEWORD(1, 1), &data);
        FListener = win::socket(win::AF_INET, win::SOCK_STREAM, 0);
        win::SOCKADDR_IN address{};
        address.sin_family = win::AF_INET;
        address.sin_addr.s_addr = win::htonl(win::INADDR_LOOPBACK);
        win::bind(FListener, reinterpret_cast<win::SOCKADDR*>(&address), sizeof address);
        win::listen(FListener, 4);
        int length = sizeof address;
        win::getsockname(FListener, reinterpret_cast<win::SOCKADDR*>(&address), &length);
        FPort = win::ntohs(address.sin_port);
    }
    ~Peer() {
        if (FConnection != win::INVALID_SOCKET)
            win::closesocket(FConnection);
        win::closesocket(FListener);
        win::WSACleanup();
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int Port() const { return FPort; }
    bool Accept() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((FConnection = win::accept(FListener, nullptr, nullptr)) == win::INVALID_SOCKET &&
               std::chrono::steady_clock::now() < deadline) {
            win::WaitMessage(10);
            win::ProcessMessages();
        }
        return FConnection != win::INVALID_SOCKET;
    }
    void Send(const std::string& text) {
        win::send(FConnection, text.data(), static_cast<int>(text.size()), 0);
    }
    void Close() {
        win::closesocket(FConnection);
        FConnection = win::INVALID_SOCKET;
    }

  private:
    win::SOCKET FListener = win::INVALID_SOCKET;
    win::SOCKET FConnection = win::INVALID_SOCKET;
    int FPort = 0;
};

class PsockTrace : public ::testing::Test {
  protected:
    void SetUp() override {
        FChannels = trace::EnabledChannels();
        trace::SetEnabledChannels(trace::ParseChannels("sockets"));
    }
    void TearDown() override { trace::SetEnabledChannels(FChannels); }

  private:
    unsigned FChannels = 0;
};

TEST_F(PsockTrace, AConnectionIsTracedThroughItsStates) {
    Peer peer;
    TPowersock s(nullptr);
    s.SetHost("127.0.0.1");
    s.SetPort(peer.Port());
    String line, rest;
    unsigned first = TPowersock::NoSocket;
    bool closed = false;
    s.OnDisconnect = [&](TObject*) { closed = true; };
    const std::string out = CaptureStderr([&] {
        s.Connect();
        first = s.SocketHandle();
        if (!peer.Accept())
            return;
        peer.Send("first line\r\nand the rest");
        line = s.ReadLn();
        peer.Close();
        s.CaptureString(rest, -1);
        // The close notification may still be on its way.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!closed && std::chrono::steady_clock::now() < deadline) {
            win::WaitMessage(10);
            win::ProcessMessages();
        }
    });
    EXPECT_EQ(line, "first line\r\n");
    EXPECT_EQ(rest, "and the rest");
    const std::string c = Client(s);
    EXPECT_TRUE(InOrder(out, {
                                 c + "connecting socket " + std::to_string(first) +
                                     " to 127.0.0.1:" + std::to_string(peer.Port()) + "\n",
                                 c + "connected, error 0\n",
                                 c + "reading a line\n",
                                 c + "reading into a text, limit -1\n",
                                 c + "read 12 bytes\n",
                             }));
    EXPECT_TRUE(InOrder(out, {c + "closed by the peer, error 0\n",
                              c + "closed socket " + std::to_string(first) + "\n"}));
}

TEST_F(PsockTrace, ATimeOutIsTracedAsTheAbortItCauses) {
    Peer peer;
    TPowersock s(nullptr);
    s.SetHost("127.0.0.1");
    s.SetPort(peer.Port());
    s.Connect();
    ASSERT_TRUE(peer.Accept());
    s.SetTimeOut(30);
    std::string raised;
    const std::string out = CaptureStderr([&] {
        try {
            s.ReadLn();  // the peer says nothing
        } catch (const EAbortError& e) {
            raised = e.what();
        }
    });
    EXPECT_EQ(raised, "Socket readln aborted");
    const std::string c = Client(s);
    EXPECT_TRUE(InOrder(out, {c + "reading a line\n", c + "timed out after 30 ms\n", c + "cancel\n",
                              c + "aborted: Socket readln aborted\n"}));
}

TEST_F(PsockTrace, SwallowedExceptionsAreTraced) {
    TPowersock s(nullptr);
    s.SetReportLevel(8);
    s.OnStatus = [](TComponent*, String) { throw Exception(String("status refused")); };
    const std::string out = CaptureStderr([&] { s.Cancel(); });
    EXPECT_NE(out.find(Client(s) + "OnStatus: swallowed Exception: status refused\n"),
              std::string::npos)
        << out;

    // A failed resolution is no error of its own: it shows as the address 0.
    s.OnStatus = nullptr;
    s.SetHost("no such host!");
    std::string raised;
    const std::string lookup = CaptureStderr([&] {
        try {
            s.Connect();
        } catch (const ESockError& e) {
            raised = e.what();
        }
    });
    EXPECT_EQ(raised, "Null Remote Address");
    EXPECT_NE(
        lookup.find(Client(s) + "resolving the host: swallowed ESockError: Host Lookup Failed\n"),
        std::string::npos)
        << lookup;
}

TEST_F(PsockTrace, WithTheChannelOffTheClientWritesNothing) {
    trace::SetEnabledChannels(trace::ParseChannels("messages,http,registry"));
    Peer peer;
    TPowersock s(nullptr);
    s.SetHost("127.0.0.1");
    s.SetPort(peer.Port());
    const std::string out = CaptureStderr([&] {
        s.Connect();
        s.Disconnect();
    });
    EXPECT_EQ(out.find("sockets:"), std::string::npos) << out;
}

}  // namespace
