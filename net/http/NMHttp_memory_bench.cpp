// Prints what answers without end cost: the time until the request ends and
// the process's peak resident memory, for a head streamed without its blank
// line and for a body streamed past the in-memory cap.

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "net/http/NMHttp.h"
#include "testing/ScriptedServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double PeakResidentMB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

testing_support::ScriptedAnswer Endless(const std::string& head, const std::string& block) {
    testing_support::ScriptedAnswer a;
    a.talk = [head, block](int fd, const std::atomic<bool>& stop) {
        testing_support::SendAll(fd, head);
        while (!stop && testing_support::SendAll(fd, block)) {
        }
    };
    return a;
}

// Runs one Get against the endless answer and prints how it ended.
void Run(const char* what, testing_support::ScriptedAnswer answer, int timeOutMs) {
    testing_support::ScriptedServer server;
    server.Push(std::move(answer));
    TNMHTTP http(nullptr);
    http.SetTimeOut(timeOutMs);
    const auto start = Clock::now();
    std::string ending = "no failure";
    try {
        http.Get("http://127.0.0.1:" + std::to_string(server.Port()) + "/");
    } catch (const Exception& e) {
        ending = e.ClassName() + " \"" + e.Message() + "\"";
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%s, time-out %d s: ended after %.2f s with %s; peak resident %.1f MB\n", what,
                timeOutMs / 1000, seconds, ending.c_str(), PeakResidentMB());
}

}  // namespace

int main() {
    std::printf("at start: peak resident %.1f MB\n", PeakResidentMB());
    // The head first: the body's peak would hide it.
    Run("head without end (header lines as fast as they go)",
        Endless("HTTP/1.0 200 OK\r\n", "X-More: " + std::string(90, 'm') + "\r\n"), 2000);
    Run("body without end", Endless("HTTP/1.0 200 OK\r\n\r\n", std::string(64 * 1024, 'b')), 20000);
    const double cap = static_cast<double>(TNMHTTP::DefaultMaxBodyInMemory) / (1 << 20);
    std::printf("body cap %.0f MiB; goal: peak resident below 1.25 x cap + 50 MB = %.0f MB\n", cap,
                1.25 * cap * 1.048576 + 50);
    return 0;
}
