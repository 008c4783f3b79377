#include "tools/rates-server/SocketActivation.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "runtime/String.h"
#include "testing/ParsedResponse.h"

extern char** environ;

namespace rates {
namespace {

using test::ParseResponse;

// Descriptors the tests make sit far above 3, 4, 5, so that placing them
// there never overwrites one of their own.
constexpr int kHighFd = 200;

int MoveHigh(int fd) {
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, kHighFd);
    close(fd);
    return high;
}

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A TCP socket bound to 127.0.0.1 at a free port; listening when asked.
int BoundSocket(bool listening, int type = SOCK_STREAM) {
    const int fd = socket(AF_INET, type, 0);
    const sockaddr_in a = Loopback(0);
    EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    if (listening) {
        EXPECT_EQ(listen(fd, 16), 0);
    }
    return MoveHigh(fd);
}

int PortOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// GET of a path on 127.0.0.1:port, everything up to the server's close.  A
// receive time-out keeps a server that never answers from hanging the test.
std::string Get(int port, const std::string& target) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const sockaddr_in a = Loopback(port);
    std::string out;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buf[4096];
            ssize_t n;
            while ((n = recv(fd, buf, sizeof buf, 0)) > 0)
                out.append(buf, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return out;
}

const std::string kPage = "/markets/scripts/val_res1a.asp?date_req=07.12.2000";

// --- which descriptors are taken ---------------------------------------------

// Puts the given descriptors at 3, 4, ... (-1: that slot closed) and the
// variables in the environment for one test; restores both afterwards.
class HandOver {
  public:
    HandOver(const std::vector<int>& fds, const char* pid, const char* count) {
        for (std::size_t i = 0; i < fds.size(); ++i) {
            const int slot = 3 + static_cast<int>(i);
            FSaved.push_back(fcntl(slot, F_DUPFD_CLOEXEC, kHighFd));
            if (fds[i] >= 0)
                dup2(fds[i], slot);
            else
                close(slot);
        }
        Set("LISTEN_PID", pid);
        Set("LISTEN_FDS", count);
        setenv("LISTEN_FDNAMES", "kurs-rates-server.socket", 1);
    }
    ~HandOver() {
        for (std::size_t i = 0; i < FSaved.size(); ++i) {
            const int slot = 3 + static_cast<int>(i);
            if (FSaved[i] >= 0) {
                dup2(FSaved[i], slot);
                close(FSaved[i]);
            } else {
                close(slot);
            }
        }
        unsetenv("LISTEN_PID");
        unsetenv("LISTEN_FDS");
        unsetenv("LISTEN_FDNAMES");
    }

  private:
    static void Set(const char* name, const char* value) {
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    std::vector<int> FSaved;
};

TEST(InheritedSockets, TakesOnlyListeningSocketsMeantForThisProcess) {
    const std::string self = std::to_string(getpid());
    const std::string selfWithSuffix = self + "x";
    const std::string parent = std::to_string(getppid());
    const int listening = BoundSocket(true);
    const int listening2 = BoundSocket(true);
    const int notListening = BoundSocket(false);
    const int datagram = BoundSocket(false, SOCK_DGRAM);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const int pipeEnd = MoveHigh(pipeFds[0]);
    close(pipeFds[1]);

    struct Case {
        const char* What;
        std::vector<int> Fds;
        const char* Pid;
        const char* Count;
        std::vector<int> Expected;
    };
    const Case cases[] = {
        {"one listening socket", {listening}, self.c_str(), "1", {3}},
        {"two listening sockets", {listening, listening2}, self.c_str(), "2", {3, 4}},
        {"another process's", {listening}, parent.c_str(), "1", {}},
        {"no LISTEN_PID", {listening}, nullptr, "1", {}},
        {"pid with a suffix", {listening}, selfWithSuffix.c_str(), "1", {}},
        {"bound, not listening", {notListening}, self.c_str(), "1", {}},
        {"a datagram socket", {datagram}, self.c_str(), "1", {}},
        {"a pipe", {pipeEnd}, self.c_str(), "1", {}},
        {"a listening socket after a pipe", {pipeEnd, listening}, self.c_str(), "2", {4}},
        {"more announced than open", {listening, -1, -1}, self.c_str(), "3", {3}},
        {"none announced", {listening}, self.c_str(), "0", {}},
        {"no LISTEN_FDS", {listening}, self.c_str(), nullptr, {}},
        {"an empty count", {listening}, self.c_str(), "", {}},
        {"a negative count", {listening}, self.c_str(), "-1", {}},
        {"a count with a suffix", {listening}, self.c_str(), "1 ", {}},
        {"a count beyond any int", {listening}, self.c_str(), "99999999999999999999", {}},
    };
    for (const auto& c : cases) {
        std::vector<int> got;
        {
            HandOver h(c.Fds, c.Pid, c.Count);
            got = InheritedSockets();
            // Gone, so that a program this one starts does not take them.
            EXPECT_EQ(std::getenv("LISTEN_PID"), nullptr) << c.What;
            EXPECT_EQ(std::getenv("LISTEN_FDS"), nullptr) << c.What;
            EXPECT_EQ(std::getenv("LISTEN_FDNAMES"), nullptr) << c.What;
        }
        EXPECT_EQ(got, c.Expected) << c.What;
    }
    for (int fd : {listening, listening2, notListening, datagram, pipeEnd})
        close(fd);
}

// --- the program, started the way systemd starts it ------------------------------

// Starts the built server with `handed` as descriptor 3 and LISTEN_FDS=1.
// LISTEN_PID names the server's own process (known only after the fork) or,
// when otherPid is given, that process instead.
class ActivatedServer {
  public:
    ActivatedServer(int handed, std::vector<std::string> args,
                    std::optional<pid_t> otherPid = std::nullopt) {
        args.insert(args.begin(), KURS_RATES_SERVER_BINARY);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e)
            if (std::strncmp(*e, "LISTEN_", 7) != 0)
                env.emplace_back(*e);
        env.emplace_back("LISTEN_FDS=1");
        // With room for any pid: the child writes its own into it.
        env.emplace_back("LISTEN_PID=" +
                         (otherPid ? std::to_string(*otherPid) : std::string(24, '\0')));
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        char* pidText = env.back().data() + std::strlen("LISTEN_PID=");
        const bool ownPid = !otherPid;

        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
        FPid = fork();
        if (FPid == 0) {
            // Only async-signal-safe calls from here to the exec.
            dup2(out[1], 1);
            dup2(devNull, 2);
            dup2(handed, 3);
            if (ownPid) {
                char digits[24];
                int n = 0;
                for (pid_t p = getpid(); p > 0; p /= 10)
                    digits[n++] = static_cast<char>('0' + p % 10);
                while (n > 0)
                    *pidText++ = digits[--n];
                *pidText = '\0';
            }
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        close(devNull);
        FOut = fdopen(out[0], "r");
    }
    ~ActivatedServer() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            Wait();
        }
        if (FOut)
            fclose(FOut);
    }
    // The port of the first line "kurs-rates-server: listening on 127.0.0.1:PORT",
    // 0 when the line is something else.
    int ListeningPort() {
        char buf[256];
        const std::string line = fgets(buf, sizeof buf, FOut) ? buf : "";
        const std::string prefix = "kurs-rates-server: listening on 127.0.0.1:";
        EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
        return line.rfind(prefix, 0) == 0 ? std::atoi(line.c_str() + prefix.size()) : 0;
    }
    // The exit status after SIGTERM, -1 when the program died of a signal.
    int Stop() {
        kill(FPid, SIGTERM);
        return Wait();
    }

  private:
    int Wait() {
        int status = 0;
        waitpid(FPid, &status, 0);
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_t FPid = -1;
    FILE* FOut = nullptr;
};

bool AnswersTheRatesPage(int port) {
    const auto r = ParseResponse(Get(port, kPage));
    return r.Status == 200 && r.Body.find("установил с 07.12.2000 "_cp) != std::string::npos;
}

TEST(SocketActivation, ServesTheSocketItIsHandedWithoutListeningItself) {
    const int handed = BoundSocket(true);
    const int port = PortOf(handed);
    ActivatedServer server(handed, {"--data", KURS_RATES_SAMPLE_DATA});
    // From now on only the server holds the socket: had it not taken it,
    // the requests below would be refused or never answered.
    close(handed);
    // A server that took no socket would be listening on its default port.
    ASSERT_EQ(server.ListeningPort(), port);
    EXPECT_TRUE(AnswersTheRatesPage(port));
    EXPECT_TRUE(AnswersTheRatesPage(port));
    EXPECT_EQ(server.Stop(), 0);
}

TEST(SocketActivation, OtherwiseListensWhereListenSays) {
    struct Case {
        const char* What;
        bool Listening;
        bool ForAnotherProcess;
    };
    for (const Case c : {Case{"LISTEN_PID names another process", true, true},
                         Case{"the descriptor does not listen", false, false},
                         Case{"--listen given with a socket handed over", true, false}}) {
        const int handed = BoundSocket(c.Listening);
        const int handedPort = PortOf(handed);
        ActivatedServer server(handed,
                               {"--listen", "127.0.0.1:0", "--data", KURS_RATES_SAMPLE_DATA},
                               c.ForAnotherProcess ? std::optional<pid_t>(getpid()) : std::nullopt);
        close(handed);
        const int port = server.ListeningPort();
        EXPECT_NE(port, handedPort) << c.What;
        EXPECT_TRUE(port > 0 && AnswersTheRatesPage(port)) << c.What;
        EXPECT_EQ(server.Stop(), 0) << c.What;
    }
}

}  // namespace
}  // namespace rates
