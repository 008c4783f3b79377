#pragma once
// The rates server's connection handling: one thread, one poll() over the
// listening socket, a wake-up pipe and every open connection.  Each
// connection has a deadline, so a client that sends nothing, or reads
// nothing, is dropped without holding up anyone else.

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/rates-server/RatesData.h"

namespace rates {

class ListenError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ServerLimits {
    // From the accept to the end of the request head.
    std::chrono::milliseconds RequestTimeout{10000};
    // To hand the whole answer to the client.
    std::chrono::milliseconds SendTimeout{10000};
    // After the answer, how long what the client still sends is read and
    // dropped, so that closing does not reset the connection under its reply.
    std::chrono::milliseconds LingerTimeout{2000};
    // Connections open at once; further clients wait in the listen queue.
    std::size_t MaxConnections = 256;
};

class RatesServer {
  public:
    explicit RatesServer(RatesData data, ServerLimits limits = {});
    ~RatesServer();
    RatesServer(const RatesServer&) = delete;
    RatesServer& operator=(const RatesServer&) = delete;

    // Binds and listens on "ADDR:PORT": a numeric IPv4 address, an IPv6
    // address in brackets, or "localhost" for 127.0.0.1; port 0 picks a free
    // port.  ListenError with the reason.
    void Listen(const std::string& addressAndPort);
    // The address actually bound, "127.0.0.1:8080"; empty before Listen.
    std::string Address() const;
    int Port() const;

    // Serves until Stop(); then closes every connection and returns.
    void Run();
    // Ends Run() from any thread or from a signal handler (it only writes
    // one byte to a pipe).  A Stop() before Run() makes Run() return at once.
    void Stop() noexcept;

    std::size_t OpenConnections() const { return FConnections.size(); }

  private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Reading, Writing, Draining };
    struct Connection {
        int Fd = -1;
        Phase State = Phase::Reading;
        bool PeerClosed = false;
        std::string In;
        std::string Out;
        std::size_t Sent = 0;
        Clock::time_point Deadline;
    };

    void AcceptAll();
    // Each returns false when the connection is finished and must be closed.
    bool OnReadable(Connection& c);
    bool OnWritable(Connection& c);
    void StartAnswer(Connection& c, std::string answer);
    void CloseConnection(std::size_t index);
    void CloseAll();

    RatesData FData;
    ServerLimits FLimits;
    int FListenFd = -1;
    int FWakeRead = -1;
    int FWakeWrite = -1;
    Clock::time_point FAcceptPausedUntil{};
    std::vector<Connection> FConnections;
};

}  // namespace rates
