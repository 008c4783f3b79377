#pragma once
// What the files of the Windows Sockets stand-in share: the POSIX constants
// they need (captured under other names, because Winsock.h uses the same
// names for the platform's numbers), the socket table, the relay window and
// the helpers that set the last error.  Include this first, instead of
// Winsock.h and the POSIX socket headers, in the stand-in's own files only.

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace posix {
constexpr int kAfInet = AF_INET;
constexpr int kSockStream = SOCK_STREAM;
constexpr int kSockDgram = SOCK_DGRAM;
constexpr int kSolSocket = SOL_SOCKET;
constexpr int kSoLinger = SO_LINGER;
constexpr int kSoReuseAddr = SO_REUSEADDR;
constexpr int kSoKeepAlive = SO_KEEPALIVE;
constexpr int kSoOobInline = SO_OOBINLINE;
constexpr int kSoSndBuf = SO_SNDBUF;
constexpr int kSoRcvBuf = SO_RCVBUF;
constexpr int kSoBroadcast = SO_BROADCAST;
constexpr int kSoError = SO_ERROR;
constexpr int kSoType = SO_TYPE;
constexpr int kSoAcceptConn = SO_ACCEPTCONN;
constexpr int kIpProtoTcp = IPPROTO_TCP;
constexpr int kIpProtoUdp = IPPROTO_UDP;
constexpr int kTcpNoDelay = TCP_NODELAY;
constexpr int kMsgPeek = MSG_PEEK;
constexpr int kMsgOob = MSG_OOB;
constexpr int kMsgDontRoute = MSG_DONTROUTE;
constexpr int kMsgDontWait = MSG_DONTWAIT;
constexpr int kMsgNoSignal = MSG_NOSIGNAL;
constexpr int kShutRd = SHUT_RD;
constexpr int kShutWr = SHUT_WR;
constexpr int kShutRdWr = SHUT_RDWR;
constexpr int kSomaxconn = SOMAXCONN;
using SockAddrIn = ::sockaddr_in;
using SockAddr = ::sockaddr;
using Linger = ::linger;
}  // namespace posix

#undef AF_INET
#undef AF_UNSPEC
#undef PF_INET
#undef SOCK_STREAM
#undef SOCK_DGRAM
#undef SOL_SOCKET
#undef SO_DEBUG
#undef SO_ACCEPTCONN
#undef SO_REUSEADDR
#undef SO_KEEPALIVE
#undef SO_DONTROUTE
#undef SO_BROADCAST
#undef SO_LINGER
#undef SO_OOBINLINE
#undef SO_SNDBUF
#undef SO_RCVBUF
#undef SO_ERROR
#undef SO_TYPE
#undef TCP_NODELAY
#undef IPPROTO_IP
#undef IPPROTO_TCP
#undef IPPROTO_UDP
#undef MSG_OOB
#undef MSG_PEEK
#undef MSG_DONTROUTE
#undef SOMAXCONN
#undef INADDR_ANY
#undef INADDR_LOOPBACK
#undef INADDR_NONE
#undef h_addr

#include <map>
#include <memory>

#include "platform/Trace.h"
#include "platform/messages/Messages.h"
#include "platform/sockets/Winsock.h"

namespace win::winsock_internal {

// ---- the last error (WinsockErrors.cpp) -------------------------------------------

// Set the calling thread's last error; both answer SOCKET_ERROR.
int Fail(int wsaError);
int FailErrno();

// The platform's name of a WSA error number ("WSAECONNRESET"), for traces;
// "?" for a number it does not have.
const char* ErrorName(int wsaError);

// For traces: "ok" for 0, the error (number and name) of the calling thread
// for SOCKET_ERROR, the number otherwise.  The text lives in a per-thread
// buffer until the next call.
const char* Outcome(long long result);
// The same for a send or recv: "12 bytes", or the error.
const char* BytesOutcome(long long result);

// A socket as traces print it: its number, or -1 for INVALID_SOCKET.
inline long long TraceId(SOCKET s) {
    return s == INVALID_SOCKET ? -1 : static_cast<long long>(s);
}

// ---- the socket table (Winsock.cpp; GUI thread) ------------------------------------

enum class Phase { Idle, Connecting, Connected, Failed, Listening, Datagram };

struct Socket {
    int Fd = -1;
    Phase State = Phase::Idle;
    unsigned Generation = 0;  // tells a socket from an earlier one on the same descriptor
    HWND Window = nullptr;
    UINT Message = 0;
    LONG Events = 0;
    bool ReadArmed = true;
    bool OobArmed = true;
    bool AcceptArmed = true;
    bool WriteArmed = false;
    bool ConnectReported = false;
    bool CloseReported = false;
    bool PeerClosed = false;         // the peer's FIN or reset has arrived
    bool Drained = false;            // the end of the stream is all that is left to read
    int BrokenError = 0;             // a reset or other fatal error (WSA number), sticky
    int ImmediateConnectError = -1;  // connect settled at once: its outcome, for FD_CONNECT
    bool SendShut = false;
    short WatchedEvents = 0;  // what the message layer polls for now
};

// Successful WSAStartup calls not yet matched by WSACleanup.
extern int gStartups;
extern std::map<SOCKET, std::unique_ptr<Socket>> gSockets;

Socket* Find(SOCKET s);
// The socket, or nullptr with the last error set (not started, not a socket).
Socket* FindOrFail(SOCKET s);
// Enters the descriptor in the table and has the message layer watch it.
SOCKET Adopt(int fd, Phase state);
// Stops watching, closes the descriptor and forgets the socket.
void CloseEntry(SOCKET s);

// ---- asynchronous select (WinsockAsyncSelect.cpp; GUI thread) ----------------------

// Messages of our own hidden window, which relays queued notifications and
// lookup replies to the windows they are meant for.
constexpr UINT kRelayNotice = WM_USER + 1;
constexpr UINT kRelayLookup = WM_USER + 2;
extern HWND gRelayWindow;

// Creates the relay window when there is none; false when that fails.
bool EnsureRelayWindow();
// Drops every queued notification (the last WSACleanup).
void ForgetNotices();
// Queues the event's notification when the socket is registered for it.
void Notify(SOCKET s, Socket& sock, LONG event, int error);
// Starts watching a new socket's descriptor for what it needs now.
void Watch(SOCKET s, Socket& sock);
// Tells the message layer when what the socket needs watching for changed.
void UpdateWatch(Socket& sock);
// A connect has settled with the POSIX error (0 = connected): the state
// follows, and FD_CONNECT is queued once.
void ConnectSettled(SOCKET s, Socket& sock, int posixError);
// The descriptor's pending error (errno value), cleared by the reading.
int PendingSocketError(int fd);

// ---- host lookups (WinsockLookup.cpp) ----------------------------------------------

// On the GUI thread, the reply of a finished lookup: lays the entry out in the
// caller's buffer and sends the caller's message, unless the task was
// cancelled or its window is gone.
void DeliverLookup(UINT_PTR id);

}  // namespace win::winsock_internal
