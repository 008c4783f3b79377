#pragma once
// The rates server's connection handling: one thread, one poll() over the
// listening socket, a wake-up pipe and every open connection.  Each
// connection has a deadline, so a client that sends nothing, or reads
// nothing, is dropped without holding up anyone else.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesService.h"

namespace rates {

class ListenError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ServerLimits {
    // From the accept to the end of the request head.
    std::chrono::milliseconds RequestTimeout{10000};
    // From the end of the request head to an answer that the service
    // prepares on another thread (it promises one within 10 seconds).
    std::chrono::milliseconds AnswerTimeout{15000};
    // To hand the whole answer to the client.
    std::chrono::milliseconds SendTimeout{10000};
    // After the answer, how long what the client still sends is read and
    // dropped, so that closing does not reset the connection under its reply.
    std::chrono::milliseconds LingerTimeout{2000};
    // Connections open at once.  When all are taken, the oldest one that
    // has not sent a whole request is dropped for a new client; when every
    // one is busy with an answer, new clients wait in the listen queue.
    std::size_t MaxConnections = 4096;
};

class RatesServer {
  public:
    // Serves the history alone.
    explicit RatesServer(RatesData data, ServerLimits limits = {});
    explicit RatesServer(std::unique_ptr<RatesService> service, ServerLimits limits = {});
    ~RatesServer();
    RatesServer(const RatesServer&) = delete;
    RatesServer& operator=(const RatesServer&) = delete;

    // Binds and listens on "ADDR:PORT": a numeric IPv4 address, an IPv6
    // address in brackets, or "localhost" for 127.0.0.1; port 0 picks a free
    // port.  ListenError with the reason.
    void Listen(const std::string& addressAndPort);
    // The address actually bound, "127.0.0.1:8080"; empty before Listen.
    // Takes a socket that already listens, as systemd hands it over; it is
    // made non-blocking and closed with the server.
    void Adopt(int listeningFd);
    std::string Address() const;
    int Port() const;

    // Serves until Stop(); then closes every connection and returns.
    void Run();
    // Ends Run() from any thread or from a signal handler (it sets a flag
    // and writes one byte to a pipe).  A Stop() before Run() makes Run()
    // return at once.
    void Stop() noexcept;

    std::size_t OpenConnections() const { return FConnections.size(); }

  private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Reading, Waiting, Writing, Draining };
    static const char* PhaseName(Phase phase);
    struct Connection {
        std::uint64_t Id = 0;
        int Fd = -1;
        Phase State = Phase::Reading;
        bool PeerClosed = false;
        // The request was a whole head and nothing else: no lingering needed
        // unless more arrives.
        bool PlainRequest = false;
        std::string In;
        std::string Out;
        std::size_t Sent = 0;
        Clock::time_point Deadline;
    };

    void AcceptAll();
    // Closes the oldest connection still reading its request; false when
    // there is none.
    bool DropOldestReader();
    // Hands a complete request to the service; false when the connection
    // is finished.
    bool OnRequest(Connection& c);
    // An answer the service finished on another thread, for connection id.
    void Deliver(std::uint64_t id, std::string answer);
    void TakeDelivered();
    // Each returns false when the connection is finished and must be closed.
    bool OnReadable(Connection& c);
    bool OnWritable(Connection& c);
    void StartAnswer(Connection& c, std::string answer);
    void CloseConnection(std::size_t index);
    void CloseAll();

    ServerLimits FLimits;
    int FListenFd = -1;
    int FWakeRead = -1;
    int FWakeWrite = -1;
    Clock::time_point FAcceptPausedUntil{};
    std::vector<Connection> FConnections;
    std::uint64_t FNextId = 1;
    std::atomic<bool> FStopRequested{false};
    std::mutex FDeliveredLock;
    std::vector<std::pair<std::uint64_t, std::string>> FDelivered;
    // Last, so that it is gone first: its workers may still deliver.
    std::unique_ptr<RatesService> FService;
};

}  // namespace rates
