#pragma once
// Ports on 127.0.0.1 for test peers.  The window's proxy port field holds
// four digits, and the ports the system picks are five digits long, so a
// peer the window must reach can ask for a free port in 2000..9999 instead.

namespace testing_support {

enum class PortKind { Any, FourDigits };

// Binds fd to 127.0.0.1 at a free port of that kind; returns the port, or 0
// when none could be had.
int BindLoopback(int fd, PortKind kind);
// A port of that kind that nothing uses at the moment (0 when none).
int FreeLoopbackPort(PortKind kind = PortKind::Any);
// Whether something accepts connections on 127.0.0.1:port.
bool Listening(int port);

}  // namespace testing_support
