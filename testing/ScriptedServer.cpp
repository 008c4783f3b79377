#include "testing/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace testing_support {

namespace {

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

std::size_t ContentLength(const std::string& head) {
    std::string lower;
    for (char c : head)
        lower.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
    const auto at = lower.find("\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return std::strtoul(lower.c_str() + at + 16, nullptr, 10);
}

}  // namespace

std::string ReadRequest(int fd, int timeoutMs) {
    std::string data;
    char buf[4096];
    std::size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos) {
        if (!WaitReadable(fd, timeoutMs))
            return data;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return data;
        data.append(buf, static_cast<std::size_t>(n));
        headEnd = data.find("\r\n\r\n");
    }
    const std::size_t want = headEnd + 4 + ContentLength(data.substr(0, headEnd + 2));
    while (data.size() < want && WaitReadable(fd, timeoutMs)) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        data.append(buf, static_cast<std::size_t>(n));
    }
    return data;
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

ScriptedAnswer ScriptedAnswer::Silent() {
    ScriptedAnswer a;
    a.talk = [](int, const std::atomic<bool>& stop) {
        while (!stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    return a;
}

ScriptedAnswer ScriptedAnswer::Shared(std::shared_ptr<const std::string> bytes) {
    ScriptedAnswer a;
    a.talk = [bytes = std::move(bytes)](int fd, const std::atomic<bool>&) { SendAll(fd, *bytes); };
    return a;
}

ScriptedServer::ScriptedServer(PortKind portKind) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    FPort = BindLoopback(FListen, portKind);
    if (FPort == 0 || ::listen(FListen, 16) != 0)
        throw std::runtime_error("scripted server: cannot listen on 127.0.0.1");
    if (::pipe(FWake) != 0)
        throw std::runtime_error("scripted server: no pipe");
    FThread = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
    FStop = true;
    const char x = 'x';
    [[maybe_unused]] ssize_t w = ::write(FWake[1], &x, 1);
    FThread.join();
    ::close(FListen);
    ::close(FWake[0]);
    ::close(FWake[1]);
}

void ScriptedServer::Push(ScriptedAnswer answer) {
    std::lock_guard lock(FMutex);
    FScript.push_back(std::move(answer));
}

void ScriptedServer::Push(std::string bytes, ScriptedAnswer::Ending ending) {
    ScriptedAnswer a;
    a.bytes = std::move(bytes);
    a.ending = ending;
    Push(std::move(a));
}

std::vector<std::string> ScriptedServer::Requests() const {
    std::lock_guard lock(FMutex);
    return FRequests;
}

bool ScriptedServer::WaitServed(std::size_t n, int timeoutMs) const {
    std::unique_lock lock(FMutex);
    return FServedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return FServed >= n; });
}

void ScriptedServer::Run() {
    while (!FStop) {
        pollfd p[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        if (::poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN))
            break;
        const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            Serve(fd);
    }
}

void ScriptedServer::Serve(int fd) {
    const std::string request = ReadRequest(fd);
    ScriptedAnswer answer;
    {
        std::lock_guard lock(FMutex);
        FRequests.push_back(request);
        if (!FScript.empty()) {
            answer = std::move(FScript.front());
            FScript.pop_front();
        } else {
            answer.bytes = "HTTP/1.0 500 No script\r\n\r\n";
        }
    }
    if (answer.talk)
        answer.talk(fd, FStop);
    else
        SendAll(fd, answer.bytes);

    if (answer.ending == ScriptedAnswer::Reset) {
        const linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else if (answer.ending == ScriptedAnswer::KeepOpen) {
        // Until the client closes its side (or the server stops).
        char buf[256];
        for (;;) {
            pollfd p[2] = {{fd, POLLIN, 0}, {FWake[0], POLLIN, 0}};
            if (::poll(p, 2, 10000) <= 0 || (p[1].revents & POLLIN))
                break;
            if (::recv(fd, buf, sizeof buf, 0) <= 0)
                break;
        }
    }
    ::close(fd);
    std::lock_guard lock(FMutex);
    ++FServed;
    FServedChanged.notify_all();
}

}  // namespace testing_support
