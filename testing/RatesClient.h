#pragma once
// Test helper: a loopback client of the rates server that sends a request
// and reads the whole answer up to the server's close.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace rates::test {

// A loopback client socket.  A receive time-out keeps a broken server from
// hanging the test; it is a safety net, not a measurement.
inline int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

inline void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ASSERT_GT(n, 0);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Everything up to the server's close; "<timeout>" appended when the receive
// time-out struck instead, "<reset>" when the connection was reset.
inline std::string ReadAll(int fd) {
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n == 0)
            break;
        if (n < 0) {
            out += errno == EAGAIN || errno == EWOULDBLOCK ? "<timeout>" : "<reset>";
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

inline std::string Fetch(int port, std::string_view request) {
    const int fd = Connect(port);
    SendAll(fd, request);
    auto r = ReadAll(fd);
    close(fd);
    return r;
}

inline std::string GetRequest(const std::string& target) {
    return "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
}

}  // namespace rates::test
