#pragma once
// For the rates server's tests: the server object on a free loopback port,
// served by a thread of its own, with the sample history.

#include <thread>

#include "tools/rates-server/RatesServer.h"

namespace rates::test {

class RunningServer {
  public:
    explicit RunningServer(ServerLimits limits = {})
        : FServer(RatesData::Load(KURS_RATES_SAMPLE_DATA), limits) {
        FServer.Listen("127.0.0.1:0");
        FThread = std::thread([this] { FServer.Run(); });
    }
    ~RunningServer() {
        FServer.Stop();
        FThread.join();
    }
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;
    int Port() const { return FServer.Port(); }

  private:
    RatesServer FServer;
    std::thread FThread;
};

}  // namespace rates::test
