// Prints, next to curl fetching the same bytes from the same loopback server
// in the same run (medians of a few rounds each):
//   - a Get of a 64 MB body;
//   - a Get of a 256 MiB body, the most a body kept in memory may have
//     (the body capture, CaptureString);
//   - kurs-report end to end on a 128 MiB page of 1000-byte lines with its
//     Content-Length (the answer read, split into lines and searched for
//     rates);
// and the time of a small Get.  First it prints what touching 256 MiB of
// new memory costs on this machine at the moment: the body and the lines of
// kurs-report's page need that much, and on a virtual machine whose host
// has taken back its free memory, that first touch alone can cost several
// times curl's whole transfer.

#include <sys/mman.h>
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

#include "net/http/NMHttp.h"
#include "testing/ScriptedServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Seconds to map and first touch `bytes` of new memory, in huge pages where
// the system gives them, as kurs-report's allocations are; negative when the
// memory cannot be had.
double FirstTouchSeconds(std::size_t bytes) {
    const auto start = Clock::now();
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return -1;
    ::madvise(p, bytes, MADV_HUGEPAGE);
    auto* bytesOf = static_cast<volatile char*>(p);
    for (std::size_t i = 0; i < bytes; i += 4096)
        bytesOf[i] = 1;
    const double s = Seconds(start);
    ::munmap(p, bytes);
    return s;
}

// Seconds of a command run by the shell; negative when it failed (exit
// statuses above maxStatus).
double TimeCommand(const std::string& command, int maxStatus = 0) {
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double s = Seconds(start);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > maxStatus) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return -1;
    }
    return s;
}

// Runs `ours` and curl on the same answer, rounds times each, and prints
// the medians and their ratio; false when either failed.
bool Compare(const char* what, testing_support::ScriptedServer& server,
             const std::shared_ptr<const std::string>& answer, const std::string& url, int rounds,
             const std::function<double()>& ours, double goal) {
    std::vector<double> a, b;
    for (int i = 0; i < rounds; ++i) {
        server.Push(testing_support::ScriptedAnswer::Shared(answer));
        const double s = ours();
        if (s < 0)
            return false;
        a.push_back(s);
        server.Push(testing_support::ScriptedAnswer::Shared(answer));
        const double c = TimeCommand("curl -s -o /dev/null --http1.0 '" + url + "'");
        if (c < 0) {
            std::fprintf(stderr, "curl failed (is it installed?)\n");
            return false;
        }
        b.push_back(c);
    }
    const double x = Median(a), y = Median(b);
    std::printf("%s: kurs %.3f s, curl %.3f s (medians of %d), ratio %.2f (goal <= %.1f)\n", what,
                x, y, rounds, x / y, goal);
    std::fflush(stdout);
    return true;
}

// A body of bodySize bytes: 'k's, in lines of 1000 bytes when lines is set.
// With withLength the head gives the Content-Length, as the rates server's
// does; without it the body's size is known only at the close.
std::shared_ptr<const std::string> Answer(std::size_t bodySize, bool lines, bool withLength) {
    auto bytes = std::make_shared<std::string>(
        "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=windows-1251\r\n");
    if (withLength)
        *bytes += "Content-Length: " + std::to_string(bodySize) + "\r\n";
    *bytes += "\r\n";
    const std::size_t head = bytes->size();
    bytes->resize(head + bodySize, 'k');
    if (lines)
        for (std::size_t i = head + 999; i < bytes->size(); i += 1000)
            (*bytes)[i] = '\n';
    return bytes;
}

}  // namespace

int main() {
    std::printf("First touch of 256 MiB of new memory on this machine now: %.3f s\n",
                FirstTouchSeconds(std::size_t{256} << 20));
    testing_support::ScriptedServer server;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/big";

    TNMHTTP http(nullptr);
    http.SetTimeOut(120000);
    auto get = [&](std::size_t expected) {
        return [&http, &url, expected] {
            const auto start = Clock::now();
            http.Get(url);
            const double s = Seconds(start);
            if (http.Body().size() != expected) {
                std::fprintf(stderr, "short body: %zu bytes\n", http.Body().size());
                return -1.0;
            }
            return s;
        };
    };

    {
        constexpr std::size_t kSize = std::size_t{64} << 20;
        if (!Compare("Get of a 64 MB body", server, Answer(kSize, false, false), url, 5, get(kSize),
                     1.2))
            return 1;
    }
    {
        constexpr std::size_t kSize = std::size_t{256} << 20;
        if (!Compare("CaptureString of 256 MiB into memory", server, Answer(kSize, false, false),
                     url, 3, get(kSize), 3))
            return 1;
    }
    // kurs-report (KURS_REPORT names another build of it), with settings of
    // its own (none stored: the defaults).
    const char* report = std::getenv("KURS_REPORT");
    if (!report)
        report = KURS_REPORT_BINARY;
    if (::access(report, X_OK) != 0) {
        std::printf("kurs-report on a 128 MiB page: skipped, %s not built\n", report);
    } else {
        char home[] = "/tmp/kurs-bench-XXXXXX";
        if (!::mkdtemp(home))
            return 1;
        // The page has no rates, so kurs-report ends with its failure line
        // (exit status 3) after reading and searching the whole page.
        const std::string command = "HOME=" + std::string(home) +
                                    " XDG_CONFIG_HOME=" + std::string(home) + " '" + report +
                                    "' --server 127.0.0.1:" + std::to_string(server.Port()) +
                                    " --timeout 120 --no-proxy --quiet >/dev/null 2>&1";
        const bool ok = Compare(
            "kurs-report on a 128 MiB page of 1000-byte lines, end to end", server,
            Answer(std::size_t{128} << 20, true, true), url, 3,
            [&] { return TimeCommand(command, 3); }, 4);
        std::error_code removed;
        std::filesystem::remove_all(home, removed);
        if (removed)
            std::fprintf(stderr, "could not remove %s: %s\n", home, removed.message().c_str());
        if (!ok || removed)
            return 1;
    }

    std::vector<double> small;
    for (int i = 0; i < 50; ++i) {
        server.Push("HTTP/1.0 200 OK\r\n\r\nsmall");
        const auto start = Clock::now();
        http.Get(url);
        small.push_back(Seconds(start) * 1000);
    }
    std::printf("Get of a small page: median %.2f ms\n", Median(small));
    return 0;
}
