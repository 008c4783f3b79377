// Prints kurs-report's whole run (start, request, report, exit) next to
// curl fetching the same answer in the same run, as ratios:
//   - the rates page of 07.12.2000 (3.5 KB, every currency the bank set)
//     from the bundled kurs-rates-server, the common request;
//   - a 128 MiB answer of 1000-byte lines with its Content-Length, where the
//     answer's memory and its lines are most of the time.
// Processor times and kurs-report's page faults follow; on a busy machine
// they vary less than the times on the clock.  KURS_REPORT names another
// build of kurs-report to time.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testing/Processes.h"
#include "testing/ScriptedServer.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Processor seconds and page faults of the children that have ended.
struct Usage {
    double cpu = 0;
    long faults = 0;
};

Usage Children() {
    rusage u{};
    ::getrusage(RUSAGE_CHILDREN, &u);
    return {static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6,
            u.ru_minflt};
}

// Seconds of a program run with its output to /dev/null (no shell between),
// and the processor time and page faults it took (in used); negative when
// it exited above maxStatus.
double TimeCommand(const std::vector<std::string>& command, int maxStatus, Usage& used) {
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const Usage before = Children();
    const auto start = Clock::now();
    pid_t pid = -1;
    int status = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        ::waitpid(pid, &status, 0);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    const Usage after = Children();
    used = {after.cpu - before.cpu, after.faults - before.faults};
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > maxStatus) {
        std::fprintf(stderr, "failed: %s\n", command[0].c_str());
        return -1;
    }
    return s;
}

// The median seconds of kurs-report and of curl, taken in turns; before
// each run `prepare` readies the server's answer.  The ratio, negative on a failure.
double Ratio(const char* what, int rounds, const std::vector<std::string>& report,
             const std::vector<std::string>& curl, int reportMaxStatus,
             const std::function<void()>& prepare) {
    std::vector<double> ours, theirs, oursCpu, theirsCpu, faults;
    for (int i = 0; i < rounds; ++i) {
        Usage used;
        prepare();
        const double a = TimeCommand(report, reportMaxStatus, used);
        oursCpu.push_back(used.cpu);
        faults.push_back(static_cast<double>(used.faults));
        prepare();
        const double b = TimeCommand(curl, 0, used);
        theirsCpu.push_back(used.cpu);
        if (a < 0 || b < 0)
            return -1;
        ours.push_back(a);
        theirs.push_back(b);
    }
    const double x = Median(ours), y = Median(theirs);
    std::printf(
        "%s: kurs-report %.4f s, curl %.4f s (medians of %d), ratio %.2f;"
        " processor time %.4f s and %.4f s; kurs-report's page faults %.0f\n",
        what, x, y, rounds, x / y, Median(oursCpu), Median(theirsCpu), Median(faults));
    std::fflush(stdout);
    return x / y;
}

std::shared_ptr<const std::string> LinesAnswer(std::size_t bodySize) {
    auto bytes = std::make_shared<std::string>(
        "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=windows-1251\r\nContent-Length: " +
        std::to_string(bodySize) + "\r\n\r\n");
    const std::size_t head = bytes->size();
    bytes->resize(head + bodySize, 'k');
    for (std::size_t i = head + 999; i < bytes->size(); i += 1000)
        (*bytes)[i] = '\n';
    return bytes;
}

}  // namespace

int main() {
    const char* report = std::getenv("KURS_REPORT");
    if (!report)
        report = KURS_REPORT_BINARY;
    char home[] = "/tmp/kurs-report-bench-XXXXXX";
    if (!::mkdtemp(home))
        return 1;
    // Settings of its own (none stored: the defaults).
    ::setenv("HOME", home, 1);
    ::setenv("XDG_CONFIG_HOME", home, 1);
    auto run = [&](const std::string& server, std::vector<std::string> more) {
        std::vector<std::string> words = {report, "--no-proxy", "--quiet", "--timeout",
                                          "120",  "--server",   server};
        words.insert(words.end(), more.begin(), more.end());
        return words;
    };
    auto curl = [](const std::string& url) {
        return std::vector<std::string>{"curl", "-s", "-o", "/dev/null", "--http1.0", url};
    };
    int failed = 0;

    {
        app_testing::RatesServerProcess server(KURS_RATES_SERVER_BINARY);
        if (!server.Running()) {
            std::fprintf(stderr, "the rates server did not start: %s\n", server.Output().c_str());
            return 1;
        }
        const std::string date = "07.12.2000";
        const double r = Ratio(
            "kurs-report on the rates page of 07.12.2000 (3.5 KB)", 21,
            run(server.Address(), {"--date", date}),
            curl("http://" + server.Address() + "/markets/scripts/val_res1a.asp?date_req=" + date),
            0, [] {});
        failed += r < 0;
    }
    {
        testing_support::ScriptedServer server;
        const auto answer = LinesAnswer(std::size_t{128} << 20);
        const std::string address = "127.0.0.1:" + std::to_string(server.Port());
        // The page has no rates: kurs-report reads and searches all of it
        // and exits with 3.
        const double r = Ratio("kurs-report on a 128 MiB answer of 1000-byte lines", 7,
                               run(address, {}), curl("http://" + address + "/big"), 3, [&] {
                                   server.Push(testing_support::ScriptedAnswer::Shared(answer));
                               });
        failed += r < 0;
    }
    std::filesystem::remove_all(home);
    return failed ? 1 : 0;
}
