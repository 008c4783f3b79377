#include "testing/SocketPeer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testpeer {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    while (true) {
        int rc = ::poll(&p, 1, timeoutMs);
        if (rc < 0 && errno == EINTR)
            continue;
        return rc > 0;
    }
}

// Whether the listener's queue of connections waiting for accept is full, so
// that the kernel drops the next connect's first packet and the connect hangs.
// For a listening socket TCP_INFO reports the queue's length and its limit.
bool AcceptQueueFull(int listenFd) {
    tcp_info info{};
    socklen_t len = sizeof(info);
    if (::getsockopt(listenFd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0)
        return false;
    return info.tcpi_unacked > info.tcpi_sacked;
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

Conn::~Conn() {
    Close();
}

Conn& Conn::operator=(Conn&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool Conn::Send(std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool Conn::SendUrgent(char byte) {
    return ::send(fd_, &byte, 1, MSG_OOB | MSG_NOSIGNAL) == 1;
}

void Conn::ShutdownWrite() {
    ::shutdown(fd_, SHUT_WR);
}

void Conn::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void Conn::Reset() {
    if (fd_ < 0)
        return;
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
    Close();
}

std::string Conn::Read(int timeoutMs, int pauseMs) {
    std::string out;
    if (!WaitFor(fd_, POLLIN, timeoutMs))
        return out;
    char buf[65536];
    do {
        ssize_t n = ::recv(fd_, buf, sizeof(buf), MSG_DONTWAIT);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    } while (WaitFor(fd_, POLLIN, pauseMs));
    return out;
}

namespace {

// Receives while bytes arrive within waitMs(received so far) milliseconds,
// until the peer closes or the connection fails; *reset (when given) tells
// whether it failed by a reset.
template <class WaitMs>
std::string ReceiveWhile(int fd, WaitMs waitMs, bool* reset) {
    std::string out;
    if (reset)
        *reset = false;
    char buf[65536];
    while (WaitFor(fd, POLLIN, waitMs(out.size()))) {
        ssize_t n = ::recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            if (reset)
                *reset = errno == ECONNRESET;
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

}  // namespace

std::string Conn::ReadAtLeast(std::size_t bytes, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Once the bytes are in, only what is already there is taken.
    return ReceiveWhile(
        fd_, [&](std::size_t got) { return got < bytes ? MsLeft(deadline) : 0; }, nullptr);
}

std::string Conn::ReadUntilClose(int timeoutMs, bool* reset) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    return ReceiveWhile(
        fd_, [&](std::size_t) { return MsLeft(deadline); }, reset);
}

bool Conn::WaitClosed(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (WaitFor(fd_, POLLIN, MsLeft(deadline))) {
        ssize_t n = ::recv(fd_, buf, sizeof(buf), MSG_DONTWAIT);
        if (n == 0)
            return true;
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return true;
    }
    return false;
}

void Conn::SetReceiveBuffer(int bytes) {
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

Listener::Listener(int backlog) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw std::runtime_error("test listener: socket failed");
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof(addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("test listener: bind/listen failed");
    port_ = ntohs(addr.sin_port);
}

Listener::~Listener() {
    Close();
}

void Listener::Close() {
    fillers_.clear();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

Conn Listener::Accept(int timeoutMs) {
    if (!WaitFor(fd_, POLLIN, timeoutMs))
        return Conn();
    return Conn(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

void Listener::FillAcceptQueue() {
    for (int i = 0; i < 64; ++i) {
        const bool full = AcceptQueueFull(fd_);
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr = Loopback(port_);
        int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        if (full) {
            fillers_.emplace_back(fd);
            return;  // this one hangs: nobody answers it
        }
        bool done = rc == 0 || (errno == EINPROGRESS && WaitFor(fd, POLLOUT, 300));
        fillers_.emplace_back(fd);
        if (!done)
            return;  // this one hangs: the queue filled up meanwhile
        // The listener counts the connection when the handshake's last packet
        // reaches it, which may be just after the connect saw it complete.
        WaitFor(fd_, POLLIN, 300);
    }
}

Conn ConnectTo(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return Conn();
    }
    return Conn(fd);
}

std::uint16_t UnusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof(addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);  // bound but never listening: connects to it are refused
    return ntohs(addr.sin_port);
}

double ProcessCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace testpeer
