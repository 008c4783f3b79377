#include "tools/rates-server/RatesServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Trace.h"
#include "tools/rates-server/RatesHttp.h"

namespace rates {

namespace {

// The first line of a request or an answer, for traces: at most 120 bytes,
// control bytes shown as '?'.
std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, std::min(text.find_first_of("\r\n"), std::size_t{120}));
    for (char& ch : line)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            ch = '?';
    return line;
}

std::string ErrnoText(int error) {
    return std::strerror(error);
}

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

RatesServer::RatesServer(RatesData data, ServerLimits limits)
    : RatesServer(std::make_unique<RatesService>(std::move(data)), limits) {}

RatesServer::RatesServer(std::unique_ptr<RatesService> service, ServerLimits limits)
    : FLimits(limits), FService(std::move(service)) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot create a pipe: " + ErrnoText(errno));
    FWakeRead = fds[0];
    FWakeWrite = fds[1];
}

RatesServer::~RatesServer() {
    // The service's workers may deliver until it is gone; the pipe they
    // write to closes after.
    FService.reset();
    CloseAll();
    if (FListenFd >= 0)
        close(FListenFd);
    close(FWakeRead);
    close(FWakeWrite);
}

void RatesServer::Listen(const std::string& addressAndPort) {
    const auto colon = addressAndPort.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == addressAndPort.size())
        throw ListenError("the listen address reads ADDR:PORT, not '" + addressAndPort + "'");
    std::string host = addressAndPort.substr(0, colon);
    const std::string port = addressAndPort.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    // Addresses only: a listen address never waits for a name server.
    if (host == "localhost")
        host = "127.0.0.1";
    if (port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stoi(port) > 65535)
        throw ListenError("the port is a number from 0 to 65535, not '" + port + "'");

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV | AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0)
        throw ListenError("cannot listen on " + addressAndPort + ": " + gai_strerror(rc));

    std::string failure;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const int fd =
            socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            failure = ErrnoText(errno);
            continue;
        }
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
            failure = ErrnoText(errno);
            close(fd);
            continue;
        }
        if (FListenFd >= 0)
            close(FListenFd);
        FListenFd = fd;
        break;
    }
    freeaddrinfo(found);
    if (FListenFd < 0)
        throw ListenError("cannot listen on " + addressAndPort + ": " + failure);
}

void RatesServer::Adopt(int listeningFd) {
    SetNonBlocking(listeningFd);
    fcntl(listeningFd, F_SETFD, FD_CLOEXEC);
    if (FListenFd >= 0)
        close(FListenFd);
    FListenFd = listeningFd;
}

std::string RatesServer::Address() const {
    if (FListenFd < 0)
        return {};
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(FListenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return {};
    char host[NI_MAXHOST];
    char serv[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    return addr.ss_family == AF_INET6 ? "[" + std::string(host) + "]:" + serv
                                      : std::string(host) + ":" + serv;
}

int RatesServer::Port() const {
    const auto a = Address();
    return a.empty() ? 0 : std::stoi(a.substr(a.rfind(':') + 1));
}

void RatesServer::Stop() noexcept {
    FStopRequested = true;
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing else can go wrong here.
    [[maybe_unused]] const auto n = write(FWakeWrite, &byte, 1);
}

const char* RatesServer::PhaseName(Phase phase) {
    switch (phase) {
        case Phase::Reading:
            return "reading the request";
        case Phase::Waiting:
            return "waiting for the answer";
        case Phase::Writing:
            return "sending the answer";
        case Phase::Draining:
            return "waiting for the client to close";
    }
    return "?";
}

void RatesServer::Run() {
    if (FListenFd < 0)
        throw ListenError("Run() before Listen()");
    std::vector<pollfd> fds;
    for (;;) {
        const auto now = Clock::now();
        // Connections past their deadline are dropped first.
        for (std::size_t i = FConnections.size(); i-- > 0;)
            if (FConnections[i].Deadline <= now) {
                KURS_TRACE(RatesServer, "connection %llu: out of time while %s",
                           static_cast<unsigned long long>(FConnections[i].Id),
                           PhaseName(FConnections[i].State));
                CloseConnection(i);
            }

        fds.clear();
        fds.push_back({FWakeRead, POLLIN, 0});
        const bool room =
            FConnections.size() < FLimits.MaxConnections ||
            std::any_of(FConnections.begin(), FConnections.end(),
                        [](const Connection& c) { return c.State == Phase::Reading; });
        const bool accepting = room && now >= FAcceptPausedUntil;
        fds.push_back({FListenFd, static_cast<short>(accepting ? POLLIN : 0), 0});
        auto next = Clock::time_point::max();
        if (!accepting && room)
            next = FAcceptPausedUntil;
        for (const auto& c : FConnections) {
            // A connection waiting for its answer is watched for nothing;
            // poll still reports a hang-up or an error, which ends it.
            const short events = c.State == Phase::Writing   ? POLLOUT
                                 : c.State == Phase::Waiting ? 0
                                                             : POLLIN;
            fds.push_back({c.Fd, events, 0});
            next = std::min(next, c.Deadline);
        }
        int timeoutMs = -1;
        if (next != Clock::time_point::max()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(wait, 0, 60000));
        }
        const int ready = poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("poll failed: " + ErrnoText(errno));
        }
        if (fds[0].revents != 0) {
            char drain[64];
            while (read(FWakeRead, drain, sizeof drain) > 0) {
            }
            if (FStopRequested)
                break;
            TakeDelivered();
            continue;
        }

        // The connections polled are the first fds.size() - 2 of the list;
        // walk them backwards so that closing one does not move the others.
        const std::size_t polled = fds.size() - 2;
        for (std::size_t i = polled; i-- > 0;) {
            const short ev = fds[i + 2].revents;
            if (ev == 0)
                continue;
            auto& c = FConnections[i];
            bool keep = true;
            if (c.State == Phase::Waiting)
                keep = false;  // a hang-up or an error while the answer is prepared
            else if (ev & (POLLIN | POLLHUP | POLLERR))
                keep = c.State == Phase::Writing ? OnWritable(c) : OnReadable(c);
            else if (ev & POLLOUT)
                keep = OnWritable(c);
            if (ev & POLLNVAL)
                keep = false;
            if (!keep)
                CloseConnection(i);
        }
        if (fds[1].revents & POLLIN)
            AcceptAll();
    }
    CloseAll();
    // So that a later Run() serves again.
    FStopRequested = false;
}

void RatesServer::AcceptAll() {
    for (;;) {
        const int fd = accept4(FListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                if (DropOldestReader())
                    continue;
                // Out of descriptors: the clients wait in the queue a little.
                FAcceptPausedUntil = Clock::now() + std::chrono::milliseconds(100);
            }
            return;  // EAGAIN, or a client that gave up before we took it
        }
        // Full: the oldest client that has not sent a whole request gives
        // way, so idle or slow clients cannot keep the others out.
        if (FConnections.size() >= FLimits.MaxConnections && !DropOldestReader()) {
            close(fd);
            return;
        }
        Connection c;
        c.Id = FNextId++;
        c.Fd = fd;
        c.Deadline = Clock::now() + FLimits.RequestTimeout;
        KURS_TRACE(RatesServer, "connection %llu: accepted (%zu open)",
                   static_cast<unsigned long long>(c.Id), FConnections.size() + 1);
        FConnections.push_back(std::move(c));
        // The request has usually come with the connection: answer it now
        // rather than after another round of poll.
        if (!OnReadable(FConnections.back()))
            CloseConnection(FConnections.size() - 1);
    }
}

bool RatesServer::DropOldestReader() {
    // The list is in the order of acceptance.
    for (std::size_t i = 0; i < FConnections.size(); ++i)
        if (FConnections[i].State == Phase::Reading) {
            KURS_TRACE(RatesServer, "connection %llu: gives way, the server is full",
                       static_cast<unsigned long long>(FConnections[i].Id));
            CloseConnection(i);
            return true;
        }
    return false;
}

bool RatesServer::OnReadable(Connection& c) {
    char buf[4096];
    // A bounded number of reads per wake-up, so that a client that streams
    // without pause cannot keep the loop from the others.
    for (int reads = 0; reads < 16; ++reads) {
        const ssize_t n = recv(c.Fd, buf, sizeof buf, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        if (n == 0) {
            c.PeerClosed = true;
            if (c.State == Phase::Draining)
                return false;
            // The client closed its side early: a whole request line is still
            // answered, anything less is dropped.
            if (!HasRequestLine(c.In))
                return false;
            if (ExamineHead(c.In) == HeadState::BadRequestLine) {
                StartAnswer(c, BadRequestAnswer());
                return OnWritable(c);
            }
            return OnRequest(c);
        }
        if (c.State == Phase::Draining)
            continue;  // read and dropped
        c.In.append(buf, static_cast<std::size_t>(n));
        switch (ExamineHead(c.In)) {
            case HeadState::Incomplete:
                continue;
            case HeadState::Complete:
                return OnRequest(c);
            case HeadState::BadRequestLine:
            case HeadState::TooLong:
                StartAnswer(c, BadRequestAnswer());
                return OnWritable(c);
        }
    }
    return true;
}

bool RatesServer::OnRequest(Connection& c) {
    const std::uint64_t id = c.Id;
    c.PlainRequest = EndsWithItsHead(c.In);
    KURS_TRACE(RatesServer, "connection %llu: request \"%s\"", static_cast<unsigned long long>(id),
               FirstLine(c.In).c_str());
    auto answer =
        FService->Answer(c.In, [this, id](std::string later) { Deliver(id, std::move(later)); });
    if (!answer) {
        c.In.clear();
        c.In.shrink_to_fit();
        c.State = Phase::Waiting;
        c.Deadline = Clock::now() + FLimits.AnswerTimeout;
        KURS_TRACE(RatesServer, "connection %llu: waits for the upstream service",
                   static_cast<unsigned long long>(id));
        return true;
    }
    StartAnswer(c, std::move(*answer));
    return OnWritable(c);
}

void RatesServer::Deliver(std::uint64_t id, std::string answer) {
    {
        std::lock_guard lock(FDeliveredLock);
        FDelivered.emplace_back(id, std::move(answer));
    }
    const char byte = 2;
    [[maybe_unused]] const auto n = write(FWakeWrite, &byte, 1);
}

void RatesServer::TakeDelivered() {
    std::vector<std::pair<std::uint64_t, std::string>> delivered;
    {
        std::lock_guard lock(FDeliveredLock);
        delivered.swap(FDelivered);
    }
    for (auto& [id, answer] : delivered) {
        // The connection may have gone meanwhile: its answer is dropped.
        for (std::size_t i = 0; i < FConnections.size(); ++i) {
            auto& c = FConnections[i];
            if (c.Id != id || c.State != Phase::Waiting)
                continue;
            StartAnswer(c, std::move(answer));
            if (!OnWritable(c))
                CloseConnection(i);
            break;
        }
    }
}

void RatesServer::StartAnswer(Connection& c, std::string answer) {
    KURS_TRACE(RatesServer, "connection %llu: answer \"%s\", %zu bytes",
               static_cast<unsigned long long>(c.Id), FirstLine(answer).c_str(), answer.size());
    c.Out = std::move(answer);
    c.Sent = 0;
    c.In.clear();
    c.In.shrink_to_fit();
    c.State = Phase::Writing;
    c.Deadline = Clock::now() + FLimits.SendTimeout;
}

bool RatesServer::OnWritable(Connection& c) {
    while (c.Sent < c.Out.size()) {
        const ssize_t n = send(c.Fd, c.Out.data() + c.Sent, c.Out.size() - c.Sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        c.Sent += static_cast<std::size_t>(n);
    }
    // All handed over.  With nothing unread the connection closes cleanly
    // now; otherwise end our side, then read until the client closes its.
    if (c.PeerClosed)
        return false;
    if (c.PlainRequest) {
        char byte;
        const ssize_t n = recv(c.Fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))
            return false;
    }
    shutdown(c.Fd, SHUT_WR);
    c.Out.clear();
    c.Out.shrink_to_fit();
    c.State = Phase::Draining;
    c.Deadline = Clock::now() + FLimits.LingerTimeout;
    return true;
}

void RatesServer::CloseConnection(std::size_t index) {
    KURS_TRACE(RatesServer, "connection %llu: closed",
               static_cast<unsigned long long>(FConnections[index].Id));
    close(FConnections[index].Fd);
    FConnections.erase(FConnections.begin() + static_cast<std::ptrdiff_t>(index));
}

void RatesServer::CloseAll() {
    for (auto& c : FConnections)
        close(c.Fd);
    FConnections.clear();
}

}  // namespace rates
