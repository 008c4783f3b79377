// Figures of the socket client against loopback peers:
//  1. CPU seconds used while ReadLn waits 5 s for a peer that sends nothing
//     (and, for comparison, while Connect waits 5 s for a listener that
//     never answers);
//  2. the time CaptureString takes for a 256 MB body, as a ratio to
//     `curl -s -o /dev/null` fetching the same bytes from the same peer.
// Usage: kurs_net_socket_bench [MEGABYTES]  (default 256)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "net/socket/Psock.h"
#include "testing/SocketPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void SilentReadLn() {
    testpeer::Listener listener;
    TPowersock s(nullptr);
    s.SetHost("127.0.0.1");
    s.SetPort(listener.Port());
    s.Connect();
    testpeer::Conn peer = listener.Accept();
    s.SetTimeOut(5000);
    const double cpu0 = testpeer::ProcessCpuSeconds();
    const auto t0 = Clock::now();
    try {
        s.ReadLn();
    } catch (const EAbortError&) {
    }
    const double wall = Seconds(Clock::now() - t0);
    const double cpu = testpeer::ProcessCpuSeconds() - cpu0;
    std::printf("ReadLn waiting %.2f s on a silent peer: %.4f CPU seconds (goal: under 0.05)\n",
                wall, cpu);
}

void SilentConnect() {
    testpeer::Listener listener(0);
    listener.FillAcceptQueue();
    TPowersock s(nullptr);
    s.SetHost("127.0.0.1");
    s.SetPort(listener.Port());
    s.SetTimeOut(5000);
    const double cpu0 = testpeer::ProcessCpuSeconds();
    const auto t0 = Clock::now();
    try {
        s.Connect();
    } catch (const ESockError&) {
    }
    const double wall = Seconds(Clock::now() - t0);
    const double cpu = testpeer::ProcessCpuSeconds() - cpu0;
    std::printf(
        "Connect waiting %.2f s on a listener that never answers: %.4f CPU seconds "
        "(%.2f%% of a core)\n",
        wall, cpu, 100.0 * cpu / wall);
}

// Serves one HTTP/1.0 answer with a body of `bytes` per connection until
// stopped.
class BulkServer {
  public:
    explicit BulkServer(long long bytes) : FBytes(bytes), FThread([this] { Run(); }) {}
    ~BulkServer() {
        FStop = true;
        testpeer::ConnectTo(FListener.Port());  // wakes the accept
        FThread.join();
    }
    std::uint16_t Port() const { return FListener.Port(); }

  private:
    void Run() {
        const std::string chunk(1 << 20, 'r');
        while (!FStop) {
            testpeer::Conn c = FListener.Accept(1000);
            if (!c.Valid() || FStop)
                continue;
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos) {
                std::string part = c.Read(5000, 5);
                if (part.empty())
                    break;
                request += part;
            }
            std::string head =
                "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                std::to_string(FBytes) + "\r\n\r\n";
            bool ok = c.Send(head);
            for (long long left = FBytes; ok && left > 0;) {
                const long long n = left < static_cast<long long>(chunk.size())
                                        ? left
                                        : static_cast<long long>(chunk.size());
                ok = c.Send(std::string_view(chunk.data(), static_cast<size_t>(n)));
                left -= n;
            }
            c.ShutdownWrite();
            c.WaitClosed(10000);
        }
    }

    long long FBytes;
    testpeer::Listener FListener;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// Into memory (CaptureString) or, like curl here, into /dev/null
// (CaptureFile).
double OurFetch(std::uint16_t port, long long expected, bool intoMemory) {
    TPowersock s(nullptr);
    s.SetHost("127.0.0.1");
    s.SetPort(port);
    const auto t0 = Clock::now();
    s.Connect();
    s.Write("GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    String body;
    if (intoMemory) {
        s.CaptureString(body, -1);
    } else {
        s.CaptureFile("/dev/null");
    }
    const double took = Seconds(Clock::now() - t0);
    s.Disconnect();
    if (s.BytesReceived() < expected)
        std::printf("  short answer: %d bytes\n", s.BytesReceived());
    return took;
}

double CurlFetch(std::uint16_t port) {
    const std::string cmd =
        "curl -s -o /dev/null --noproxy '*' http://127.0.0.1:" + std::to_string(port) + "/";
    const auto t0 = Clock::now();
    const int rc = std::system(cmd.c_str());
    const double took = Seconds(Clock::now() - t0);
    if (rc != 0)
        std::printf("  curl failed (%d)\n", rc);
    return took;
}

void Throughput(long long megabytes) {
    const long long bytes = megabytes << 20;
    BulkServer server(bytes);
    double memory = 1e9, file = 1e9, curl = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double m = OurFetch(server.Port(), bytes, true);
        const double f = OurFetch(server.Port(), bytes, false);
        const double c = CurlFetch(server.Port());
        std::printf(
            "  round %d: CaptureString %.3f s, CaptureFile to /dev/null %.3f s, curl %.3f s\n",
            round + 1, m, f, c);
        memory = std::min(memory, m);
        file = std::min(file, f);
        curl = std::min(curl, c);
    }
    const double mb = static_cast<double>(megabytes);
    std::printf("curl -s -o /dev/null, %lld MB: %.3f s (%.0f MB/s)\n", megabytes, curl, mb / curl);
    std::printf(
        "CaptureString, %lld MB into memory: %.3f s (%.0f MB/s), ratio to curl %.2f "
        "(goal: at most 1.2)\n",
        megabytes, memory, mb / memory, memory / curl);
    std::printf("CaptureFile, %lld MB into /dev/null: %.3f s (%.0f MB/s), ratio to curl %.2f\n",
                megabytes, file, mb / file, file / curl);
}

}  // namespace

int main(int argc, char** argv) {
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 256;
    SilentReadLn();
    SilentConnect();
    Throughput(megabytes > 0 ? megabytes : 256);
    return 0;
}
