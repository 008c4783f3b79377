#pragma once
// Loopback peers on ports the window's four-digit port field can hold
// (below 10000): a one-answer-per-connection scripted HTTP peer and a
// tinyproxy started for the test.  Ports the system picks (port 0) are
// five digits long, so these choose a free one in 2000..9999 themselves.

#include <sys/types.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace app_testing {

// Binds a listening socket on 127.0.0.1 at a free port in 2000..9999;
// returns the descriptor (or -1) and sets port.
int ListenOnLowPort(int& port);

// Serves each connection with the next scripted answer (then closes it),
// recording the request head it received.
class LowPortServer {
  public:
    LowPortServer();
    ~LowPortServer();
    LowPortServer(const LowPortServer&) = delete;
    LowPortServer& operator=(const LowPortServer&) = delete;

    int Port() const { return FPort; }
    void Push(std::string answer);
    std::vector<std::string> Requests() const;

  private:
    void Run();

    int FListen = -1;
    int FPort = 0;
    int FWake[2] = {-1, -1};
    mutable std::mutex FMutex;
    std::deque<std::string> FAnswers;
    std::vector<std::string> FRequests;
    std::thread FThread;
};

// tinyproxy on 127.0.0.1 at a free port below 10000, stopped when the object goes.
class LowPortTinyproxy {
  public:
    LowPortTinyproxy();
    ~LowPortTinyproxy();
    LowPortTinyproxy(const LowPortTinyproxy&) = delete;
    LowPortTinyproxy& operator=(const LowPortTinyproxy&) = delete;

    bool Running() const { return FPort > 0; }
    const std::string& Problem() const { return FProblem; }
    int Port() const { return FPort; }
    std::string Log() const;

  private:
    pid_t FPid = -1;
    int FPort = 0;
    std::string FFolder;
    std::string FProblem;
};

}  // namespace app_testing
