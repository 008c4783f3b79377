#include "tools/rates-server/upstream/tests/BankStub.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace rates::test {

std::string HttpAnswer(int status, std::string_view contentType, std::string_view body,
                       std::string_view extraHeaders) {
    std::string r = "HTTP/1.1 " + std::to_string(status) + " Stub\r\n";
    if (!contentType.empty())
        r += "Content-Type: " + std::string(contentType) + "\r\n";
    r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    r += extraHeaders;
    r += "Connection: close\r\n\r\n";
    r += body;
    return r;
}

StubReply Answer(int status, std::string_view contentType, std::string_view body,
                 std::string_view extraHeaders) {
    return {StubReply::Kind::Answer, HttpAnswer(status, contentType, body, extraHeaders)};
}

StubReply XmlAnswer(std::string_view document, std::string_view extraHeaders) {
    return Answer(200, "application/xml; charset=windows-1251", document, extraHeaders);
}

std::string TestFile(std::string_view name) {
    std::ifstream in(std::string(KURS_UPSTREAM_TESTDATA) + "/" + std::string(name),
                     std::ios::binary);
    if (!in)
        throw std::runtime_error("no test file " + std::string(name));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

BankStub::BankStub(Handler handler, const TlsIdentity* tls) : FHandler(std::move(handler)) {
    if (tls != nullptr) {
        FTls = SSL_CTX_new(TLS_server_method());
        if (FTls == nullptr ||
            SSL_CTX_use_certificate_chain_file(FTls, tls->CertFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(FTls, tls->KeyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("cannot load the stub's certificate");
    }
    if (pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe");
    FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (FListen < 0 || bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(FListen, 64) != 0 ||
        getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    FPort = ntohs(a.sin_port);
    FAcceptor = std::thread([this] { AcceptLoop(); });
}

BankStub::~BankStub() {
    FStopping = true;
    const char byte = 1;
    [[maybe_unused]] const auto n = write(FWake[1], &byte, 1);
    FAcceptor.join();
    // No new connection threads once the acceptor is gone.
    for (auto& t : FConnections)
        t.join();
    close(FListen);
    close(FWake[0]);
    close(FWake[1]);
    SSL_CTX_free(FTls);
}

void BankStub::SetHandler(Handler handler) {
    std::lock_guard lock(FLock);
    FHandler = std::move(handler);
}

int BankStub::Requests() const {
    std::lock_guard lock(FLock);
    return static_cast<int>(FHeads.size());
}

int BankStub::RequestsFor(const std::string& target) const {
    std::lock_guard lock(FLock);
    const auto it = FCounts.find(target);
    return it == FCounts.end() ? 0 : it->second;
}

std::vector<std::string> BankStub::Heads() const {
    std::lock_guard lock(FLock);
    return FHeads;
}

bool BankStub::WaitFor(int fd, short events) const {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {FWake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents != 0 || FStopping)
            return false;
        if (fds[0].revents != 0)
            return true;
    }
}

void BankStub::AcceptLoop() {
    while (WaitFor(FListen, POLLIN)) {
        const int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(FLock);
        FConnections.emplace_back([this, fd] { FTls != nullptr ? ServeTls(fd) : Serve(fd); });
    }
}

StubReply BankStub::Answer(const std::string& head) {
    const auto sp1 = head.find(' ');
    const auto sp2 = head.find(' ', sp1 + 1);
    const std::string target = head.substr(sp1 + 1, sp2 - sp1 - 1);
    Handler handler;
    {
        std::lock_guard lock(FLock);
        FHeads.push_back(head);
        ++FCounts[target];
        handler = FHandler;
    }
    return handler(target);
}

void BankStub::Serve(int fd) {
    std::string in;
    char buf[4096];
    bool complete = false;
    while (!complete && in.size() < 65536 && WaitFor(fd, POLLIN)) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        in.append(buf, static_cast<std::size_t>(n));
        complete = in.find("\r\n\r\n") != std::string::npos;
        // Not HTTP at all (a TLS hello, say): refused at once, as a plain
        // server would.
        if (!in.empty() && (in[0] < 'A' || in[0] > 'Z'))
            break;
    }
    StubReply reply{StubReply::Kind::Answer,
                    "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n"};
    if (complete) {
        const std::string head = in.substr(0, in.find("\r\n\r\n") + 2);
        reply = Answer(head);
    } else if (in.empty() || FStopping) {
        close(fd);
        return;
    }
    switch (reply.What) {
        case StubReply::Kind::Answer: {
            std::string_view out = reply.Raw;
            while (!out.empty() && WaitFor(fd, POLLOUT)) {
                const ssize_t n = send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                if (n <= 0)
                    break;
                out.remove_prefix(static_cast<std::size_t>(n));
            }
            shutdown(fd, SHUT_WR);
            // Until the client closes, so that our close resets nothing.
            while (WaitFor(fd, POLLIN) && recv(fd, buf, sizeof buf, 0) > 0) {
            }
            break;
        }
        case StubReply::Kind::Stall:
            while (WaitFor(fd, POLLIN) && recv(fd, buf, sizeof buf, 0) > 0) {
            }
            break;
        case StubReply::Kind::Reset: {
            linger l{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            break;
        }
    }
    close(fd);
}

// Blocking TLS with a time limit on every read and write, so that a client
// that goes quiet ends the connection instead of holding the stub.
void BankStub::ServeTls(int fd) {
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    SSL* ssl = SSL_new(FTls);
    SSL_set_fd(ssl, fd);
    std::string in;
    char buf[4096];
    if (SSL_accept(ssl) == 1) {
        while (in.find("\r\n\r\n") == std::string::npos && in.size() < 65536) {
            const int n = SSL_read(ssl, buf, sizeof buf);
            if (n <= 0)
                break;
            in.append(buf, static_cast<std::size_t>(n));
        }
    }
    if (const auto end = in.find("\r\n\r\n"); end != std::string::npos) {
        const std::string head = in.substr(0, end + 2);
        const std::string out = Answer(head).Raw;
        SSL_write(ssl, out.data(), static_cast<int>(out.size()));
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    close(fd);
}

}  // namespace rates::test
