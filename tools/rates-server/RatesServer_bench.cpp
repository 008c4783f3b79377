// Prints the figures of kurs-rates-server serving the bank's bundled history:
// the time from start to the first answer, its resident memory, the time of
// one page over loopback, and the throughput that ab measures with 50
// clients at once.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The server with its stdout on a pipe, so that its first line gives the port.
class Server {
  public:
    Server() {
        int out[2];
        if (pipe(out) != 0)
            std::exit(1);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const char* argv[] = {KURS_RATES_SERVER_BINARY, "--listen", "127.0.0.1:0", nullptr};
        if (posix_spawn(&FPid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            std::fprintf(stderr, "cannot start %s\n", argv[0]);
            std::exit(1);
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(out[0]);
        const auto colon = line.rfind(':');
        FPort = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
        if (FPort <= 0) {
            std::fprintf(stderr, "the server did not start: %s\n", line.c_str());
            std::exit(1);
        }
    }
    ~Server() {
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
    }
    int Port() const { return FPort; }
    // Resident and peak resident memory in MB, from /proc.
    std::pair<double, double> Memory() const {
        std::ifstream in("/proc/" + std::to_string(FPid) + "/status");
        std::string key;
        double rss = 0, hwm = 0;
        while (in >> key) {
            if (key == "VmRSS:")
                in >> rss;
            else if (key == "VmHWM:")
                in >> hwm;
        }
        return {rss / 1024, hwm / 1024};
    }

  private:
    pid_t FPid = -1;
    int FPort = 0;
};

// One GET of the rates page of the date; the size of the answer, 0 when the
// server could not be reached.
std::size_t Get(int port, const std::string& date) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::size_t got = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request =
            "GET /markets/scripts/val_res1a.asp?date_req=" + date + " HTTP/1.0\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buf[16384];
            ssize_t n;
            while ((n = recv(fd, buf, sizeof buf, 0)) > 0)
                got += static_cast<std::size_t>(n);
        }
    }
    close(fd);
    return got;
}

std::string DateOf(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", 1 + i % 28, 1 + i / 28 % 12, 1992 + i % 32);
    return buf;
}

}  // namespace

int main() {
    constexpr int kStarts = 15;
    std::vector<double> starts;
    for (int i = 0; i < kStarts; ++i) {
        const auto begin = Clock::now();
        Server server;
        if (Get(server.Port(), "07.12.2000") == 0) {
            std::fprintf(stderr, "no answer\n");
            return 1;
        }
        starts.push_back(Millis(Clock::now() - begin));
    }
    std::printf("start to first answer (full history): median %.1f ms, max %.1f ms (%d starts)\n",
                Median(starts), *std::max_element(starts.begin(), starts.end()), kStarts);

    Server server;
    Get(server.Port(), "07.12.2000");
    const auto [rss0, hwm0] = server.Memory();
    constexpr int kPages = 3000;
    std::vector<double> pages;
    for (int i = 0; i < kPages; ++i) {
        const auto begin = Clock::now();
        if (Get(server.Port(), DateOf(i)) == 0) {
            std::fprintf(stderr, "no answer\n");
            return 1;
        }
        pages.push_back(Millis(Clock::now() - begin));
    }
    const auto [rss, hwm] = server.Memory();
    std::printf(
        "resident memory: %.1f MB after the first answer, %.1f MB after %d pages "
        "(peak %.1f MB)\n",
        rss0, rss, kPages, std::max(hwm0, hwm));
    std::printf(
        "one page over loopback (connect, request, whole answer): median %.3f ms, "
        "99th %.3f ms\n",
        Median(pages), [&] {
            std::sort(pages.begin(), pages.end());
            return pages[pages.size() * 99 / 100];
        }());

    const std::string ab =
        "ab -q -n 20000 -c 50 'http://127.0.0.1:" + std::to_string(server.Port()) +
        "/markets/scripts/val_res1a.asp?date_req=07.12.2000' 2>&1";
    if (FILE* p = popen(ab.c_str(), "r")) {
        char line[512];
        bool seen = false;
        while (std::fgets(line, sizeof line, p) != nullptr) {
            const std::string l = line;
            if (l.starts_with("Requests per second") || l.starts_with("Failed requests") ||
                l.starts_with("Non-2xx")) {
                std::printf("ab -n 20000 -c 50: %s", line);
                seen = true;
            }
        }
        if (pclose(p) != 0 || !seen)
            std::printf("ab -n 20000 -c 50: not measured (is apache2-utils installed?)\n");
    }

    // A thousand clients that connect and send nothing, or half a request.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
    setrlimit(RLIMIT_NOFILE, &files);
    std::vector<int> idle;
    for (int i = 0; i < 1000; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(server.Port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::fprintf(stderr, "cannot open idle client %d\n", i);
            return 1;
        }
        if (i % 2 == 1)
            send(fd, "GET /markets/scr", 16, MSG_NOSIGNAL);
        idle.push_back(fd);
    }
    std::vector<double> busy;
    for (int i = 0; i < 500; ++i) {
        const auto begin = Clock::now();
        if (Get(server.Port(), DateOf(i)) == 0) {
            std::fprintf(stderr, "no answer beside the idle clients\n");
            return 1;
        }
        busy.push_back(Millis(Clock::now() - begin));
    }
    std::printf("one page beside 1000 idle or slow clients: median %.3f ms, max %.3f ms\n",
                Median(busy), *std::max_element(busy.begin(), busy.end()));
    for (int fd : idle)
        close(fd);
    return 0;
}
