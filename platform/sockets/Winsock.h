#pragma once
// Windows Sockets 1.1 for one GUI thread, over non-blocking POSIX sockets.
//
// The names and numbers are the platform's (SOL_SOCKET is 0xFFFF, SO_LINGER
// 0x0080, errors are WSAE* numbers from WSAGetLastError), so this header
// cannot share a translation unit with the POSIX socket headers, whose
// macros use the same names.
//
// Every socket is non-blocking underneath.  A connect that has not finished
// answers WSAEWOULDBLOCK; its outcome, refused or unreachable included,
// arrives as FD_CONNECT.
//
// WSAAsyncSelect(s, window, message, events) turns the socket's readiness into
// messages (wParam = the socket, lParam = WSAMAKESELECTREPLY(event, error)),
// found by the message layer's pump (ProcessMessages) and delivered to the
// window on the GUI thread:
//   FD_READ, FD_OOB, FD_ACCEPT  one at a time: after one is posted, the next
//                               waits for a recv (FD_READ, FD_OOB) or an accept
//                               (FD_ACCEPT), and comes only while data or a
//                               connection is still waiting then;
//   FD_WRITE                    once the connection is up, and again after a
//                               send answered WSAEWOULDBLOCK, when there is room;
//   FD_CONNECT                  once, with the connect's error (0 = connected);
//   FD_CLOSE                    once, when the peer has closed (error 0) or reset
//                               (WSAECONNRESET) the connection; never because of
//                               our own closesocket.
// A notification still queued when its socket is closed, or registered anew
// with WSAAsyncSelect, is dropped before it reaches the window.
//
// WSAAsyncGetHostByName looks the name up (IPv4) on a worker thread.  On the
// GUI thread, when the reply's turn comes, the host entry is laid out in the
// caller's buffer and the message is sent (wParam = the task handle, lParam =
// WSAMAKEASYNCREPLY(length, error)).  A reply for a window that no longer
// exists, or for a cancelled task, is dropped and the buffer is not touched.
//
// Threading: every call belongs to the GUI thread; WSAGetLastError is per
// thread.

#include <cstdint>

#include "platform/WinTypes.h"

#if defined(SOL_SOCKET) || defined(MSG_PEEK) || defined(INADDR_NONE) || defined(AF_INET)
#error "platform/sockets/Winsock.h cannot be mixed with the POSIX socket headers"
#endif
#ifdef htons
#undef htons
#undef ntohs
#undef htonl
#undef ntohl
#endif

namespace win {

using HANDLE = void*;
using SOCKET = UINT_PTR;
using u_char = unsigned char;
using u_short = std::uint16_t;
using u_long = std::uint32_t;

constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
constexpr int SOCKET_ERROR = -1;

// ---- start-up ----------------------------------------------------------------
constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

constexpr WORD MAKEWORD(BYTE low, BYTE high) {
    return static_cast<WORD>(low | (static_cast<WORD>(high) << 8));
}

// Answers version 1.1 for any request of 1.1 or higher (WSAVERNOTSUPPORTED
// for a lower one).  Each successful call must be matched by WSACleanup; the
// last WSACleanup closes every socket still open.
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// ---- addresses -------------------------------------------------------------------
constexpr int AF_UNSPEC = 0;
constexpr int AF_INET = 2;
constexpr int PF_INET = AF_INET;

struct IN_ADDR {
    u_long s_addr;  // network order
};
using in_addr = IN_ADDR;

struct SOCKADDR {
    u_short sa_family;
    char sa_data[14];
};
using sockaddr = SOCKADDR;

struct SOCKADDR_IN {
    short sin_family;
    u_short sin_port;  // network order
    IN_ADDR sin_addr;
    char sin_zero[8];
};
using sockaddr_in = SOCKADDR_IN;
static_assert(sizeof(SOCKADDR_IN) == 16, "the platform's layout");
static_assert(sizeof(SOCKADDR) == 16, "the platform's layout");

constexpr u_long INADDR_ANY = 0x00000000;
constexpr u_long INADDR_LOOPBACK = 0x7F000001;  // host order
constexpr u_long INADDR_NONE = 0xFFFFFFFF;

// The dotted forms a, a.b, a.b.c and a.b.c.d (each part decimal, octal with
// a leading 0, or hexadecimal with 0x), in network order; INADDR_NONE for
// any other text, also for "255.255.255.255" (as on the platform).
u_long inet_addr(const char* text);
// The dotted text of the address (a static buffer, per thread).
char* inet_ntoa(IN_ADDR address);

constexpr u_short htons(u_short v) {
    return static_cast<u_short>((v << 8) | (v >> 8));
}
constexpr u_short ntohs(u_short v) {
    return htons(v);
}
constexpr u_long htonl(u_long v) {
    return ((v & 0xFFu) << 24) | ((v & 0xFF00u) << 8) | ((v >> 8) & 0xFF00u) | (v >> 24);
}
constexpr u_long ntohl(u_long v) {
    return htonl(v);
}

// ---- host entries ---------------------------------------------------------------------
struct HOSTENT {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;  // h_addr_list[0] is the first address (h_length bytes, network order)
};
using hostent = HOSTENT;

constexpr int MAXGETHOSTSTRUCT = 1024;

// ---- sockets --------------------------------------------------------------------------
constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr int IPPROTO_IP = 0;
constexpr int IPPROTO_TCP = 6;
constexpr int IPPROTO_UDP = 17;

constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_DEBUG = 0x0001;
constexpr int SO_ACCEPTCONN = 0x0002;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_DONTROUTE = 0x0010;
constexpr int SO_BROADCAST = 0x0020;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_OOBINLINE = 0x0100;
constexpr int SO_DONTLINGER = ~SO_LINGER;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_ERROR = 0x1007;
constexpr int SO_TYPE = 0x1008;
constexpr int TCP_NODELAY = 0x0001;

struct LINGER {
    u_short l_onoff;
    u_short l_linger;
};
using linger = LINGER;

constexpr int MSG_OOB = 0x1;
constexpr int MSG_PEEK = 0x2;
constexpr int MSG_DONTROUTE = 0x4;

constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

constexpr int SOMAXCONN = 5;

// Only AF_INET stream (protocol 0 or IPPROTO_TCP) and datagram sockets.
SOCKET socket(int af, int type, int protocol);
// SOL_SOCKET: SO_LINGER (a LINGER; {1, 0} makes closesocket reset the
// connection), SO_DONTLINGER, SO_REUSEADDR, SO_KEEPALIVE, SO_OOBINLINE,
// SO_SNDBUF, SO_RCVBUF, SO_BROADCAST (BOOL-sized values); IPPROTO_TCP:
// TCP_NODELAY.  Others: WSAENOPROTOOPT.
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
// The same options, plus SO_ERROR (the pending error as a WSA number, cleared)
// and SO_TYPE.
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int bind(SOCKET s, const SOCKADDR* name, int namelen);
int listen(SOCKET s, int backlog);
// The accepted socket carries the listening socket's WSAAsyncSelect
// registration, as on the platform.
SOCKET accept(SOCKET s, SOCKADDR* addr, int* addrlen);
int connect(SOCKET s, const SOCKADDR* name, int namelen);
int getsockname(SOCKET s, SOCKADDR* name, int* namelen);
int getpeername(SOCKET s, SOCKADDR* name, int* namelen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);

// ---- asynchronous notification ----------------------------------------------------------
constexpr LONG FD_READ = 0x01;
constexpr LONG FD_WRITE = 0x02;
constexpr LONG FD_OOB = 0x04;
constexpr LONG FD_ACCEPT = 0x08;
constexpr LONG FD_CONNECT = 0x10;
constexpr LONG FD_CLOSE = 0x20;
constexpr LONG FD_ALL_EVENTS = 0x3F;

constexpr LPARAM WSAMAKESELECTREPLY(WORD event, WORD error) {
    return MAKELPARAM(event, error);
}
constexpr LPARAM WSAMAKEASYNCREPLY(WORD length, WORD error) {
    return MAKELPARAM(length, error);
}
constexpr WORD WSAGETSELECTEVENT(LPARAM l) {
    return LOWORD(static_cast<UINT_PTR>(l));
}
constexpr WORD WSAGETSELECTERROR(LPARAM l) {
    return HIWORD(static_cast<UINT_PTR>(l));
}
constexpr WORD WSAGETASYNCBUFLEN(LPARAM l) {
    return LOWORD(static_cast<UINT_PTR>(l));
}
constexpr WORD WSAGETASYNCERROR(LPARAM l) {
    return HIWORD(static_cast<UINT_PTR>(l));
}

// Replaces the socket's registration; events 0 (or no window) ends it.
int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events);
// Returns the task handle (never null) or nullptr with WSAGetLastError set.
// The buffer should hold MAXGETHOSTSTRUCT bytes; a smaller one that cannot
// hold the entry gets the error WSAENOBUFS and the needed length.
HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer,
                             int bufferLength);
// The reply of the task will not be delivered.  WSAEINVAL when the task is
// unknown or its reply has already been delivered.
int WSACancelAsyncRequest(HANDLE task);

// ---- error numbers ----------------------------------------------------------------------
constexpr int WSABASEERR = 10000;
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;
constexpr int WSANO_ADDRESS = WSANO_DATA;

// The WSA number for a POSIX errno value (0 for 0; WSABASEERR + errno for a
// value with no counterpart).
int WSAErrorFromErrno(int posixError);
// The WSA number for a getaddrinfo result (0 for success).
int WSAErrorFromLookup(int gaiError);

}  // namespace win
