// Prints the time of a Get of a 64 MB body from a loopback server next to
// curl fetching the same bytes from the same server in the same run, and the
// time of a small Get.

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/http/NMHttp.h"
#include "net/http/tests/ScriptedServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    testing_support::ScriptedServer server;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/big";
    const std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" +
                               std::string(64 << 20, 'k');

    TNMHTTP http(nullptr);
    http.SetTimeOut(60000);
    constexpr int kRounds = 5;
    std::vector<double> ours, curl;
    for (int i = 0; i < kRounds; ++i) {
        server.Push(answer);
        auto start = Clock::now();
        http.Get(url);
        ours.push_back(Seconds(start));
        if (http.Body().size() != (64u << 20)) {
            std::fprintf(stderr, "short body: %zu bytes\n", http.Body().size());
            return 1;
        }

        server.Push(answer);
        start = Clock::now();
        const std::string command = "curl -s -o /dev/null --http1.0 '" + url + "'";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "curl failed (is it installed?)\n");
            return 1;
        }
        curl.push_back(Seconds(start));
    }
    const double a = Median(ours), b = Median(curl);
    std::printf(
        "Get of a 64 MB body: kurs %.3f s, curl %.3f s (medians of %d), ratio %.2f (goal <= 1.2)\n",
        a, b, kRounds, a / b);

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
