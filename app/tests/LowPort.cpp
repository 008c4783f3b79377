#include "app/tests/LowPort.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "net/http/tests/ProxyProcess.h"
#include "net/http/tests/ScriptedServer.h"

namespace app_testing {

namespace {

bool PortFree(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return free;
}

int RandomLowPort() {
    static std::mt19937 random(std::random_device{}());
    return std::uniform_int_distribution<int>(2000, 9999)(random);
}

}  // namespace

int ListenOnLowPort(int& port) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int candidate = RandomLowPort();
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(candidate));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::listen(fd, 16) == 0) {
            port = candidate;
            return fd;
        }
        ::close(fd);
    }
    port = 0;
    return -1;
}

LowPortServer::LowPortServer() {
    FListen = ListenOnLowPort(FPort);
    if (::pipe(FWake) != 0)
        FWake[0] = FWake[1] = -1;
    FThread = std::thread([this] { Run(); });
}

LowPortServer::~LowPortServer() {
    const char byte = 1;
    ssize_t n = ::write(FWake[1], &byte, 1);
    (void)n;
    FThread.join();
    ::close(FListen);
    ::close(FWake[0]);
    ::close(FWake[1]);
}

void LowPortServer::Push(std::string answer) {
    std::lock_guard<std::mutex> lock(FMutex);
    FAnswers.push_back(std::move(answer));
}

std::vector<std::string> LowPortServer::Requests() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRequests;
}

void LowPortServer::Run() {
    for (;;) {
        pollfd fds[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        const int fd = ::accept(FListen, nullptr, nullptr);
        if (fd < 0)
            continue;
        const std::string request = testing_support::ReadRequest(fd);
        std::string answer;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FRequests.push_back(request);
            if (!FAnswers.empty()) {
                answer = FAnswers.front();
                FAnswers.pop_front();
            }
        }
        testing_support::SendAll(fd, answer);
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
}

LowPortTinyproxy::LowPortTinyproxy() {
    const std::string program = "/usr/bin/tinyproxy";
    if (::access(program.c_str(), X_OK) != 0) {
        FProblem = "tinyproxy is not installed (make deps installs it)";
        return;
    }
    char folder[] = "/tmp/kurs-app-proxy-XXXXXX";
    if (!::mkdtemp(folder)) {
        FProblem = "no temporary folder";
        return;
    }
    FFolder = folder;
    // tinyproxy drops root for an unprivileged user that must still write here.
    ::chmod(folder, 0777);
    for (int attempt = 0; attempt < 5 && FPort == 0; ++attempt) {
        int port = 0;
        for (int i = 0; i < 200 && port == 0; ++i) {
            const int candidate = RandomLowPort();
            if (PortFree(candidate))
                port = candidate;
        }
        const std::string conf = FFolder + "/proxy.conf";
        {
            std::ofstream c(conf);
            c << "User nobody\nGroup nogroup\nPort " << port << "\nListen 127.0.0.1\n"
              << "Timeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
              << "PidFile \"" << FFolder << "/proxy.pid\"\n"
              << "LogFile \"" << FFolder << "/proxy.log\"\nLogLevel Info\n";
        }
        FPid = ::fork();
        if (FPid == 0) {
            const std::string out = FFolder + "/stdout.log";
            const int log = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(log, 1);
            ::dup2(log, 2);
            ::execl(program.c_str(), "tinyproxy", "-d", "-c", conf.c_str(), nullptr);
            std::_Exit(127);
        }
        for (int i = 0; i < 200; ++i) {
            if (testing_support::Listening(port)) {
                FPort = port;
                return;
            }
            int status = 0;
            if (::waitpid(FPid, &status, WNOHANG) == FPid) {
                FPid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    FProblem = "tinyproxy did not start listening: " + Log();
}

LowPortTinyproxy::~LowPortTinyproxy() {
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && ::waitpid(FPid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (::waitpid(FPid, &status, WNOHANG) == 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, &status, 0);
        }
    }
    if (!FFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
}

std::string LowPortTinyproxy::Log() const {
    std::stringstream s;
    for (const char* name : {"/stdout.log", "/proxy.log"}) {
        std::ifstream in(FFolder + name);
        s << in.rdbuf();
    }
    return s.str();
}

}  // namespace app_testing
