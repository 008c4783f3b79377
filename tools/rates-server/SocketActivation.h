#pragma once
// Listening sockets handed over by the service manager: the variables
// LISTEN_PID (this process) and LISTEN_FDS (how many descriptors, from 3 on).

#include <vector>

namespace rates {

// The handed-over descriptors, empty when there are none or the variables
// are meant for another process.  Removes the variables, so that programs
// this one starts do not take them as their own.
std::vector<int> InheritedSockets();

}  // namespace rates
