#pragma once
// A scripted HTTP peer for tests: listens on 127.0.0.1 at a port chosen by
// the system, takes one connection at a time on its own thread, records the
// request bytes and plays the next scripted answer.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/LoopbackPort.h"

namespace testing_support {

struct ScriptedAnswer {
    // Bytes sent once the request has arrived.
    std::string bytes;
    // After sending: close normally, reset, or keep the connection open
    // until the client closes it.
    enum Ending { Close, Reset, KeepOpen } ending = Close;
    // Instead of `bytes`: a function that talks on the connected descriptor;
    // `stop` turns true when the server shuts down.
    std::function<void(int fd, const std::atomic<bool>& stop)> talk;

    // A peer that takes the request and then says nothing until the server stops.
    static ScriptedAnswer Silent();
    // The bytes sent from one buffer shared by every answer made from it, so
    // a benchmark's server holds no copy per answer.
    static ScriptedAnswer Shared(std::shared_ptr<const std::string> bytes);
};

class ScriptedServer {
  public:
    explicit ScriptedServer(PortKind portKind = PortKind::Any);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return FPort; }
    void Push(ScriptedAnswer answer);
    void Push(std::string bytes, ScriptedAnswer::Ending ending = ScriptedAnswer::Close);

    // The requests received so far, one entry per connection.
    std::vector<std::string> Requests() const;
    // Waits (bounded) until n connections were fully served.
    bool WaitServed(std::size_t n, int timeoutMs = 5000) const;

  private:
    void Run();
    void Serve(int fd);

    int FListen = -1;
    int FPort = 0;
    int FWake[2] = {-1, -1};
    std::atomic<bool> FStop{false};
    mutable std::mutex FMutex;
    mutable std::condition_variable FServedChanged;
    std::deque<ScriptedAnswer> FScript;
    std::vector<std::string> FRequests;
    std::size_t FServed = 0;
    std::thread FThread;
};

// Reads an HTTP request head (and a body announced by Content-Length) from
// fd, waiting at most timeoutMs for each piece.
std::string ReadRequest(int fd, int timeoutMs = 3000);
// Sends all bytes, giving up when the peer is gone.
bool SendAll(int fd, const std::string& bytes);

}  // namespace testing_support
