#include "tools/rates-server/RatesServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "runtime/String.h"
#include "testing/ParsedResponse.h"
#include "testing/RatesClient.h"
#include "tools/rates-server/RatesServerTestFixture.h"

extern char** environ;

namespace rates {
namespace {

using test::Connect;
using test::Fetch;
using test::GetRequest;
using test::Lines;
using test::ParseResponse;
using test::ReadAll;
using test::RunningServer;
using test::SendAll;

const std::string kPage = "/markets/scripts/val_res1a.asp?date_req=";

TEST(RatesServer, ListensOnAFreePortAndRejectsBadAddresses) {
    RatesServer s(RatesData::Load(KURS_RATES_SAMPLE_DATA));
    EXPECT_EQ(s.Address(), "");
    s.Listen("127.0.0.1:0");
    EXPECT_GT(s.Port(), 0);
    EXPECT_EQ(s.Address(), "127.0.0.1:" + std::to_string(s.Port()));
    RatesServer other(RatesData::Load(KURS_RATES_SAMPLE_DATA));
    for (const char* bad : {"127.0.0.1", "127.0.0.1:", ":80", "127.0.0.1:65536", "127.0.0.1:x",
                            "999.1.1.1:0", "rates.example:0"})
        EXPECT_THROW(other.Listen(bad), ListenError) << bad;
    RatesServer named(RatesData::Load(KURS_RATES_SAMPLE_DATA));
    named.Listen("localhost:0");
    EXPECT_EQ(named.Address().rfind("127.0.0.1:", 0), 0u);
    // The port in use.
    EXPECT_THROW(other.Listen(s.Address()), ListenError);
}

TEST(RatesServer, AnswersARequestThatArrivesByteByByte) {
    RunningServer server;
    const int fd = Connect(server.Port());
    for (char c : GetRequest(kPage + "07.12.2000"))
        SendAll(fd, std::string_view(&c, 1));
    const auto r = ParseResponse(ReadAll(fd));
    close(fd);
    EXPECT_EQ(r.Status, 200);
    EXPECT_NE(r.Body.find("установил с 07.12.2000 "_cp), std::string::npos);
}

TEST(RatesServer, ASlowClientDoesNotHoldUpOthers) {
    RunningServer server;
    // One client sends half a request line and waits; another sends nothing.
    const int slow = Connect(server.Port());
    SendAll(slow, "GET /markets/scr");
    const int silent = Connect(server.Port());

    // Meanwhile several others are served in full.
    for (const char* date : {"07.12.2000", "10.12.2000", "30.11.2000"}) {
        const auto r = ParseResponse(Fetch(server.Port(), GetRequest(kPage + date)));
        EXPECT_EQ(r.Status, 200) << date;
    }
    // The slow one finishes its request and gets its page too.
    SendAll(slow, "ipts/val_res1a.asp?date_req=06.12.2000 HTTP/1.0\r\n\r\n");
    const auto r = ParseResponse(ReadAll(slow));
    EXPECT_EQ(r.Status, 200);
    EXPECT_NE(r.Body.find("установил с 06.12.2000 "_cp), std::string::npos);
    close(slow);
    close(silent);
}

TEST(RatesServer, ManyClientsAtOnce) {
    RunningServer server;
    std::vector<int> fds;
    for (int i = 0; i < 40; ++i)
        fds.push_back(Connect(server.Port()));
    // Requests go out in reverse order of connection; every one is answered.
    for (auto it = fds.rbegin(); it != fds.rend(); ++it)
        SendAll(*it, GetRequest(kPage + "07.12.2000"));
    for (int fd : fds) {
        EXPECT_EQ(ParseResponse(ReadAll(fd)).Status, 200);
        close(fd);
    }
}

TEST(RatesServer, WhenFullTheOldestIdleClientGivesWay) {
    ServerLimits limits;
    limits.MaxConnections = 4;
    RunningServer server(limits);
    // Four clients take every place and send nothing; one of them has sent
    // half a request.
    std::vector<int> idle;
    for (int i = 0; i < 4; ++i)
        idle.push_back(Connect(server.Port()));
    SendAll(idle[1], "GET /mark");
    // Each new client is served all the same, the oldest idle ones closed
    // for them in the order they came.  The served ones send a byte after
    // their head, so the server waits for them to close and stays full.
    std::vector<int> served;
    for (int round = 0; round < 3; ++round) {
        served.push_back(Connect(server.Port()));
        SendAll(served.back(), GetRequest(kPage + "07.12.2000") + "x");
        EXPECT_EQ(ParseResponse(ReadAll(served.back())).Status, 200) << round;
        EXPECT_EQ(ReadAll(idle[round]), "") << round;
    }
    // The one still open is the newest, and it is still served.
    SendAll(idle[3], GetRequest(kPage + "06.12.2000"));
    EXPECT_EQ(ParseResponse(ReadAll(idle[3])).Status, 200);
    for (int fd : idle)
        close(fd);
    for (int fd : served)
        close(fd);
}

TEST(RatesServer, AThousandIdleClientsDoNotKeepOthersOut) {
    // The test holds both ends of every connection.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 2200) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (files.rlim_cur < 2200)
        GTEST_SKIP() << "needs 2200 descriptors, has " << files.rlim_cur;
    ServerLimits limits;
    limits.MaxConnections = 512;
    RunningServer server(limits);
    std::vector<int> idle;
    for (int i = 0; i < 1000; ++i) {
        idle.push_back(Connect(server.Port()));
        if (i % 100 == 0)
            SendAll(idle.back(), "GET /markets/scripts/val_res1a.asp?date_req=07");
    }
    for (int round = 0; round < 5; ++round)
        EXPECT_EQ(ParseResponse(Fetch(server.Port(), GetRequest(kPage + "07.12.2000"))).Status,
                  200);
    for (int fd : idle)
        close(fd);
}

TEST(RatesServer, DropsAClientThatSendsNoRequestInTime) {
    ServerLimits limits;
    limits.RequestTimeout = std::chrono::milliseconds(200);
    RunningServer server(limits);
    const int fd = Connect(server.Port());
    EXPECT_EQ(ReadAll(fd), "");  // closed by the server, no answer, no time-out here
    close(fd);
    // And it still serves.
    EXPECT_EQ(ParseResponse(Fetch(server.Port(), GetRequest(kPage + "07.12.2000"))).Status, 200);
}

TEST(RatesServer, ARequestLineFollowedByTheClientsCloseIsAnswered) {
    RunningServer server;
    const int fd = Connect(server.Port());
    SendAll(fd, "GET " + kPage + "07.12.2000 HTTP/1.0\r\n");
    shutdown(fd, SHUT_WR);
    EXPECT_EQ(ParseResponse(ReadAll(fd)).Status, 200);
    close(fd);
    // Half a request line and a close get nothing.
    const int half = Connect(server.Port());
    SendAll(half, "GET /mark");
    shutdown(half, SHUT_WR);
    EXPECT_EQ(ReadAll(half), "");
    close(half);
}

TEST(RatesServer, BadRequestThenStillServing) {
    RunningServer server;
    const auto bad = ParseResponse(Fetch(server.Port(), "this is not http\r\n"));
    EXPECT_EQ(bad.StatusLine, "HTTP/1.0 400 Bad Request");
    // A head that never ends.
    const auto huge =
        ParseResponse(Fetch(server.Port(), "GET / HTTP/1.0\r\nX: " + std::string(40000, 'a')));
    EXPECT_EQ(huge.Status, 400);
    EXPECT_EQ(ParseResponse(Fetch(server.Port(), GetRequest("/nothing/here"))).Status, 404);
    EXPECT_EQ(ParseResponse(Fetch(server.Port(), GetRequest(kPage + "07.12.2000"))).Status, 200);
}

TEST(RatesServer, AnswerSurvivesDataSentAfterTheHead) {
    // A POST body that the server never reads must not reset the connection
    // before the client has the answer.
    RunningServer server;
    const auto r =
        ParseResponse(Fetch(server.Port(), "POST / HTTP/1.0\r\nContent-Length: 100000\r\n\r\n" +
                                               std::string(100000, 'x')));
    EXPECT_EQ(r.Status, 501);
}

TEST(RatesServer, StopEndsRunWithClientsStillConnected) {
    auto server = std::make_unique<RunningServer>();
    const int fd = Connect(server->Port());
    SendAll(fd, "GET / HTTP/1.0\r\n");
    // Once a later client is served, the first one has been taken in.
    EXPECT_EQ(ParseResponse(Fetch(server->Port(), GetRequest("/"))).Status, 404);
    server.reset();  // Stop() and join
    // The waiting client is let go at once, not left to its time-out.
    const auto rest = ReadAll(fd);
    EXPECT_TRUE(rest == "" || rest == "<reset>") << rest;
    close(fd);
}

// --- the program ---------------------------------------------------------------

class ServerProcess {
  public:
    explicit ServerProcess(std::vector<std::string> args) {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        args.insert(args.begin(), KURS_RATES_SERVER_BINARY);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        FOut = fdopen(out[0], "r");
    }
    ~ServerProcess() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            Wait();
        }
        if (FOut)
            fclose(FOut);
    }
    std::string ReadLine() {
        char buf[256];
        return fgets(buf, sizeof buf, FOut) ? buf : "";
    }
    void Signal(int sig) { kill(FPid, sig); }
    // The exit status, or -1 when the program died of a signal.
    int Wait() {
        int status = 0;
        waitpid(FPid, &status, 0);
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t FPid = -1;
    FILE* FOut = nullptr;
};

TEST(RatesServerProgram, ServesThePagesAndStopsOnSigterm) {
    ServerProcess p({"--listen", "127.0.0.1:0", "--data", KURS_RATES_SAMPLE_DATA});
    const std::string line = p.ReadLine();
    const std::string prefix = "kurs-rates-server: listening on 127.0.0.1:";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    const int port = std::stoi(line.substr(prefix.size()));
    ASSERT_GT(port, 0);

    // 07.12.2000: the date sentence, and each currency's nominal two lines
    // above its name and rate two lines below.
    const auto page = ParseResponse(Fetch(port, GetRequest(kPage + "07.12.2000")));
    ASSERT_EQ(page.Status, 200);
    const auto lines = Lines(page.Body);
    EXPECT_NE(page.Body.find("установил с 07.12.2000 "_cp), std::string::npos);
    for (std::size_t i = 2; i + 2 < lines.size(); ++i)
        if (lines[i] == "<td>"_cp + "Финляндских марок"_cp + "</td>") {
            EXPECT_EQ(lines[i - 2], "<td>10</td>");
            EXPECT_EQ(lines[i + 2], "<td>42,3600</td>");
        }
    EXPECT_NE(std::find(lines.begin(), lines.end(), "<td>"_cp + "Финляндских марок"_cp + "</td>"),
              lines.end());

    const auto later = ParseResponse(Fetch(port, GetRequest(kPage + "09/12/2000")));
    EXPECT_NE(later.Body.find("установил с 08.12.2000 "_cp), std::string::npos);
    const auto early = ParseResponse(Fetch(port, GetRequest(kPage + "01-01-1999")));
    EXPECT_NE(early.Body.find("не зарегистрированы"_cp), std::string::npos);
    EXPECT_EQ(ParseResponse(Fetch(port, GetRequest("/index.html"))).Status, 404);
    EXPECT_EQ(ParseResponse(Fetch(port, "\x01\x02\x03\r\n")).Status, 400);
    EXPECT_EQ(ParseResponse(Fetch(port, GetRequest(kPage + "07.12.2000"))).Status, 200);

    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
}

TEST(RatesServerProgram, UsageAndDataErrors) {
    EXPECT_EQ(ServerProcess({"--bogus"}).Wait(), 2);
    EXPECT_EQ(ServerProcess({"--listen"}).Wait(), 2);
    EXPECT_EQ(ServerProcess({"--data", "/nonexistent/rates.txt", "--listen", "127.0.0.1:0"}).Wait(),
              1);
    EXPECT_EQ(ServerProcess({"--listen", "127.0.0.1:x"}).Wait(), 1);
}

}  // namespace
}  // namespace rates
