#pragma once
// A real HTTP proxy from the system's packages (tinyproxy or squid), started
// for a test on 127.0.0.1 at a free port with a configuration of its own in a
// temporary folder, and stopped when the object goes.

#include <sys/types.h>

#include <string>

#include "testing/LoopbackPort.h"

namespace testing_support {

class ProxyProcess {
  public:
    enum Kind { Tinyproxy, Squid };

    // caching: squid keeps answers in memory, as a web cache does; otherwise
    // it keeps none.
    explicit ProxyProcess(Kind kind, PortKind portKind = PortKind::Any, bool caching = false);
    ~ProxyProcess();
    ProxyProcess(const ProxyProcess&) = delete;
    ProxyProcess& operator=(const ProxyProcess&) = delete;

    // False (with Problem() telling why) when the program is not installed
    // or did not start listening.
    bool Running() const { return FPid > 0 && FPort > 0; }
    const std::string& Problem() const { return FProblem; }
    int Port() const { return FPort; }
    // The proxy's own log, for failure messages.
    std::string Log() const;
    // Squid's access log: one line per request, "... TCP_MEM_HIT/200 ...
    // HIER_NONE/-" when answered from its cache, "HIER_DIRECT/..." when it
    // asked the server.
    std::string AccessLog() const;

  private:
    Kind FKind;
    pid_t FPid = -1;
    int FPort = 0;
    std::string FFolder;
    std::string FProblem;
};

}  // namespace testing_support
