#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/Trace.h"
#include "platform/messages/Messages.h"
#include "platform/sockets/Winsock.h"
#include "testing/StderrCapture.h"

using namespace win;

namespace {

using testing_support::CaptureStderr;

constexpr UINT kNotice = WM_USER + 101;
constexpr UINT kLookup = WM_USER + 102;

int gConnects = 0;
int gLookups = 0;

LRESULT CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kNotice && WSAGETSELECTEVENT(lParam) == FD_CONNECT)
        ++gConnects;
    if (msg == kLookup)
        ++gLookups;
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

HWND MakeWindow() {
    static const bool registered = [] {
        WNDCLASSA cls{};
        cls.lpfnWndProc = CountingProc;
        cls.hInstance = GetModuleHandle(nullptr);
        cls.lpszClassName = "WinsockTraceTestWindow";
        return RegisterClass(&cls) != 0;
    }();
    EXPECT_TRUE(registered);
    return CreateWindowEx(0, "WinsockTraceTestWindow", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                          GetModuleHandle(nullptr), nullptr);
}

template <class Pred>
bool PumpUntil(Pred done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        WaitMessage(20);
        ProcessMessages();
    }
    return done();
}

std::string Id(SOCKET s) {
    return std::to_string(static_cast<unsigned long long>(s));
}

class WinsockTrace : public ::testing::Test {
  protected:
    void SetUp() override {
        FChannels = trace::EnabledChannels();
        trace::SetEnabledChannels(trace::ParseChannels("sockets"));
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
        gConnects = 0;
        gLookups = 0;
    }
    void TearDown() override {
        WSACleanup();
        trace::SetEnabledChannels(FChannels);
    }

  private:
    unsigned FChannels = 0;
};

TEST_F(WinsockTrace, EachCallIsOneLineWithItsOutcome) {
    HWND window = MakeWindow();
    SOCKET listener = INVALID_SOCKET, client = INVALID_SOCKET, server = INVALID_SOCKET;
    u_short port = 0;
    int sent = 0, received = 0;
    const std::string out = CaptureStderr([&] {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        SOCKADDR_IN address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<SOCKADDR*>(&address), sizeof address);
        listen(listener, 4);
        int length = sizeof address;
        getsockname(listener, reinterpret_cast<SOCKADDR*>(&address), &length);
        port = ntohs(address.sin_port);

        client = socket(AF_INET, SOCK_STREAM, 0);
        WSAAsyncSelect(client, window, kNotice, FD_CONNECT);
        connect(client, reinterpret_cast<SOCKADDR*>(&address), sizeof address);
        PumpUntil([] { return gConnects > 0; });
        server = accept(listener, nullptr, nullptr);
        sent = send(client, "hello", 5, 0);
        char buf[16];
        PumpUntil([&] {
            if (received <= 0)
                received = recv(server, buf, sizeof buf, 0);
            return received > 0;
        });
        closesocket(client);
        recv(client, buf, sizeof buf, 0);  // no longer a socket
        closesocket(server);
        closesocket(listener);
    });
    ASSERT_EQ(gConnects, 1);
    ASSERT_EQ(sent, 5);
    ASSERT_EQ(received, 5);
    const std::string expected[] = {
        "sockets: socket af 2, type 1, protocol 0: socket " + Id(listener) + "\n",
        "sockets: bind socket " + Id(listener) + ": ok\n",
        "sockets: listen socket " + Id(listener) + ", backlog 4: ok\n",
        "sockets: WSAAsyncSelect socket " + Id(client),
        "events 0x10: ok\n",
        "sockets: connect socket " + Id(client) + " to 127.0.0.1:" + std::to_string(port) +
            ": error 10035 WSAEWOULDBLOCK\n",
        "sockets: notify socket " + Id(client) + ": FD_CONNECT, error 0\n",
        "sockets: accept socket " + Id(listener) + ": socket " + Id(server) + "\n",
        "sockets: send socket " + Id(client) + ", 5 bytes, flags 0x0: 5 bytes\n",
        "sockets: recv socket " + Id(server) + ", room 16, flags 0x0: 5 bytes\n",
        "sockets: closesocket " + Id(client) + ": ok\n",
        "sockets: recv socket " + Id(client) + ", room 16, flags 0x0: error 10038 WSAENOTSOCK\n",
    };
    std::size_t at = 0;
    for (const auto& line : expected) {
        const std::size_t found = out.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing, in order: " << line << "in:\n" << out;
        at = found + line.size();
    }
    DestroyWindow(window);
}

TEST_F(WinsockTrace, LookupsAreTracedFromStartToReply) {
    HWND window = MakeWindow();
    char buffer[MAXGETHOSTSTRUCT];
    HANDLE task = nullptr;
    const std::string out = CaptureStderr([&] {
        task = WSAAsyncGetHostByName(window, kLookup, "localhost", buffer, sizeof buffer);
        PumpUntil([] { return gLookups > 0; });
        WSACancelAsyncRequest(task);  // already answered
    });
    ASSERT_NE(task, nullptr);
    ASSERT_EQ(gLookups, 1);
    const std::string id = std::to_string(reinterpret_cast<UINT_PTR>(task));
    EXPECT_NE(out.find("lookup " + id + " of \"localhost\" started\n"), std::string::npos) << out;
    EXPECT_NE(out.find("lookup " + id + " done: "), std::string::npos) << out;
    EXPECT_NE(out.find("lookup " + id + " reply: length "), std::string::npos) << out;
    EXPECT_NE(out.find("lookup " + id + " cancelled: error 10022 WSAEINVAL\n"), std::string::npos)
        << out;
    DestroyWindow(window);
}

TEST_F(WinsockTrace, WithTheChannelOffNothingIsWritten) {
    trace::SetEnabledChannels(trace::ParseChannels("messages,http"));
    const std::string out = CaptureStderr([] {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        char buf[4];
        recv(s, buf, sizeof buf, 0);
        closesocket(s);
        closesocket(s);
    });
    EXPECT_EQ(out.find("sockets:"), std::string::npos) << out;
}

}  // namespace
