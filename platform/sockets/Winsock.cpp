// Windows Sockets over non-blocking POSIX sockets: the POSIX headers come
// first and their macros that share a name with the platform's constants are
// captured and dropped before Winsock.h is read.

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

#include "platform/sockets/Winsock.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/messages/Messages.h"

namespace win {

namespace {

thread_local int tLastError = 0;

int Fail(int wsaError) {
    tLastError = wsaError;
    return SOCKET_ERROR;
}

int FailErrno() {
    return Fail(WSAErrorFromErrno(errno));
}

// ---- the socket table (GUI thread) ------------------------------------------------

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

int gStartups = 0;
std::map<SOCKET, std::unique_ptr<Socket>> gSockets;
unsigned gNextGeneration = 1;

// Queued notifications: the message layer delivers a relay message to our
// own hidden window, which checks that the socket still stands and is still
// registered for the event before sending the notification on to the
// window it is registered with now.
struct PendingNotice {
    SOCKET Sock;
    unsigned Generation;
    LONG Event;
    int Error;
};
std::map<UINT_PTR, PendingNotice> gNotices;
UINT_PTR gNextNotice = 1;

constexpr UINT kRelayNotice = WM_USER + 1;
constexpr UINT kRelayLookup = WM_USER + 2;
HWND gRelayWindow = nullptr;

// ---- host lookups (worker threads and the GUI thread) -------------------------------

struct LookupTask {
    HWND Window;
    UINT Message;
    char* Buffer;
    int BufferLength;
    std::string Name;
    // Filled by the worker before it posts; read on the GUI thread after.
    int Error = 0;
    std::string CanonicalName;
    std::vector<std::uint32_t> Addresses;  // network order
};
std::mutex gLookupMutex;
std::map<UINT_PTR, std::shared_ptr<LookupTask>> gLookups;  // guarded by gLookupMutex
std::atomic<UINT_PTR> gNextLookup{1};

Socket* Find(SOCKET s) {
    auto it = gSockets.find(s);
    return it == gSockets.end() ? nullptr : it->second.get();
}

Socket* FindOrFail(SOCKET s) {
    if (gStartups == 0) {
        Fail(WSANOTINITIALISED);
        return nullptr;
    }
    Socket* sock = Find(s);
    if (!sock)
        Fail(WSAENOTSOCK);
    return sock;
}

LRESULT RelayProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

bool EnsureRelayWindow() {
    if (gRelayWindow && IsWindow(gRelayWindow))
        return true;
    static const char kClass[] = "WinsockRelayWindowClass";
    WNDCLASSA info{};
    if (!GetClassInfo(GetModuleHandle(nullptr), kClass, &info)) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = RelayProc;
        cls.hInstance = GetModuleHandle(nullptr);
        cls.lpszClassName = kClass;
        if (!RegisterClass(&cls))
            return false;
    }
    gRelayWindow = CreateWindowEx(WS_EX_TOOLWINDOW, kClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, GetModuleHandle(nullptr), nullptr);
    return gRelayWindow != nullptr;
}

void Notify(SOCKET s, Socket& sock, LONG event, int error) {
    if (!(sock.Events & event) || !sock.Window)
        return;
    if (!EnsureRelayWindow())
        return;
    UINT_PTR id = gNextNotice++;
    gNotices[id] = PendingNotice{s, sock.Generation, event, error};
    if (!PostMessage(gRelayWindow, kRelayNotice, id, 0))
        gNotices.erase(id);
}

// The poll events the socket's state and registration ask for.  Every event
// that is asked for is dropped again as soon as it has been posted, and no
// condition that stays true for good (the end of the stream, a reset, a
// failed connect) keeps the descriptor watched: the pump never spins.
short WantedEvents(const Socket& sock) {
    if (!sock.Window || sock.Events == 0) {
        // A connect still running is followed even without a registration,
        // so a later registration finds the connection up.
        return sock.State == Phase::Connecting ? POLLOUT : 0;
    }
    short events = 0;
    switch (sock.State) {
        case Phase::Connecting:
            events = POLLOUT;
            break;
        case Phase::Listening:
            if ((sock.Events & FD_ACCEPT) && sock.AcceptArmed)
                events |= POLLIN;
            break;
        case Phase::Connected: {
            const bool broken = sock.BrokenError != 0;
            if ((sock.Events & FD_READ) && sock.ReadArmed && !sock.Drained && !broken)
                events |= POLLIN;
            if ((sock.Events & FD_OOB) && sock.OobArmed && !sock.Drained && !broken)
                events |= POLLPRI;
            if ((sock.Events & FD_CLOSE) && !sock.CloseReported)
                events |= POLLRDHUP;
            if ((sock.Events & FD_WRITE) && sock.WriteArmed && !broken)
                events |= POLLOUT;
            break;
        }
        case Phase::Datagram:
            if ((sock.Events & FD_READ) && sock.ReadArmed)
                events |= POLLIN;
            if ((sock.Events & FD_WRITE) && sock.WriteArmed)
                events |= POLLOUT;
            break;
        case Phase::Idle:
        case Phase::Failed:
            break;
    }
    return events;
}

// Tells the message layer only of changes: a receive loop re-arms FD_READ on
// every recv, and a GUI backend rebuilds its notifiers on each change.
void UpdateWatch(Socket& sock) {
    const short events = WantedEvents(sock);
    if (events == sock.WatchedEvents)
        return;
    sock.WatchedEvents = events;
    SetDescriptorEvents(sock.Fd, events);
}

int PendingSocketError(int fd) {
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(fd, posix::kSolSocket, posix::kSoError, &err, &len) != 0)
        return errno;
    return err;
}

void ConnectSettled(SOCKET s, Socket& sock, int posixError) {
    if (posixError == 0) {
        sock.State = Phase::Connected;
        sock.WriteArmed = true;
    } else {
        sock.State = Phase::Failed;
    }
    if (!sock.ConnectReported) {
        sock.ConnectReported = true;
        Notify(s, sock, FD_CONNECT, WSAErrorFromErrno(posixError));
    }
}

void OnReady(SOCKET s, short revents);

void Watch(SOCKET s, Socket& sock) {
    sock.WatchedEvents = WantedEvents(sock);
    WatchDescriptor(sock.Fd, sock.WatchedEvents, [s](int, short revents) { OnReady(s, revents); });
}

void OnReady(SOCKET s, short revents) {
    Socket* found = Find(s);
    if (!found)
        return;
    Socket& sock = *found;
    if (revents & POLLNVAL) {
        // The descriptor went away under us; nothing more can be reported.
        sock.State = Phase::Failed;
        Watch(s, sock);
        return;
    }
    switch (sock.State) {
        case Phase::Connecting:
            if (revents & (POLLOUT | POLLERR | POLLHUP))
                ConnectSettled(s, sock, PendingSocketError(sock.Fd));
            if (sock.State == Phase::Connected) {
                // Data or a close may already be waiting; look at once.
                UpdateWatch(sock);
                return;
            }
            break;
        case Phase::Listening:
            if ((revents & POLLIN) && sock.AcceptArmed && (sock.Events & FD_ACCEPT)) {
                sock.AcceptArmed = false;
                Notify(s, sock, FD_ACCEPT, 0);
            }
            break;
        case Phase::Connected: {
            if ((revents & POLLPRI) && sock.OobArmed && (sock.Events & FD_OOB)) {
                sock.OobArmed = false;
                Notify(s, sock, FD_OOB, 0);
            }
            if (revents & POLLERR) {
                int err = PendingSocketError(sock.Fd);
                if (err != 0 && !sock.BrokenError)
                    sock.BrokenError = WSAErrorFromErrno(err);
                sock.PeerClosed = true;
            }
            if ((revents & (POLLIN | POLLHUP | POLLRDHUP)) && !sock.BrokenError) {
                char probe;
                ssize_t n = ::recv(sock.Fd, &probe, 1, posix::kMsgPeek | posix::kMsgDontWait);
                if (n > 0) {
                    if (sock.ReadArmed && (sock.Events & FD_READ)) {
                        sock.ReadArmed = false;
                        Notify(s, sock, FD_READ, 0);
                    }
                } else if (n == 0) {
                    sock.Drained = true;
                    sock.PeerClosed = true;
                } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    sock.BrokenError = WSAErrorFromErrno(errno);
                    sock.PeerClosed = true;
                }
            }
            if (revents & (POLLRDHUP | POLLHUP))
                sock.PeerClosed = true;
            if (sock.PeerClosed && !sock.CloseReported && (sock.Events & FD_CLOSE)) {
                sock.CloseReported = true;
                Notify(s, sock, FD_CLOSE, sock.BrokenError);
            }
            if ((revents & POLLOUT) && sock.WriteArmed && (sock.Events & FD_WRITE) &&
                !sock.BrokenError) {
                sock.WriteArmed = false;
                Notify(s, sock, FD_WRITE, 0);
            }
            break;
        }
        case Phase::Datagram:
            if ((revents & POLLIN) && sock.ReadArmed && (sock.Events & FD_READ)) {
                sock.ReadArmed = false;
                Notify(s, sock, FD_READ, 0);
            }
            if ((revents & POLLOUT) && sock.WriteArmed && (sock.Events & FD_WRITE)) {
                sock.WriteArmed = false;
                Notify(s, sock, FD_WRITE, 0);
            }
            break;
        case Phase::Idle:
        case Phase::Failed:
            break;
    }
    UpdateWatch(sock);
}

SOCKET Adopt(int fd, Phase state) {
    auto sock = std::make_unique<Socket>();
    sock->Fd = fd;
    sock->State = state;
    sock->Generation = gNextGeneration++;
    SOCKET s = static_cast<SOCKET>(fd);
    Socket& ref = *sock;
    gSockets[s] = std::move(sock);
    Watch(s, ref);
    return s;
}

void CloseEntry(SOCKET s) {
    auto it = gSockets.find(s);
    if (it == gSockets.end())
        return;
    UnwatchDescriptor(it->second->Fd);
    ::close(it->second->Fd);
    gSockets.erase(it);
}

bool ToPosixAddress(const SOCKADDR* name, int namelen, posix::SockAddrIn& out) {
    if (!name || namelen < static_cast<int>(sizeof(SOCKADDR_IN)))
        return false;
    SOCKADDR_IN in;
    std::memcpy(&in, name, sizeof(in));
    std::memset(&out, 0, sizeof(out));
    out.sin_family = static_cast<sa_family_t>(in.sin_family == AF_INET ? posix::kAfInet : -1);
    out.sin_port = in.sin_port;
    out.sin_addr.s_addr = in.sin_addr.s_addr;
    return in.sin_family == AF_INET;
}

int FromPosixAddress(const posix::SockAddrIn& in, SOCKADDR* name, int* namelen) {
    if (!name && !namelen)
        return 0;
    if (!name || !namelen || *namelen < static_cast<int>(sizeof(SOCKADDR_IN)))
        return Fail(WSAEFAULT);
    SOCKADDR_IN out{};
    out.sin_family = AF_INET;
    out.sin_port = in.sin_port;
    out.sin_addr.s_addr = in.sin_addr.s_addr;
    std::memcpy(name, &out, sizeof(out));
    *namelen = sizeof(out);
    return 0;
}

// ---- host entry layout ------------------------------------------------------------------

std::size_t AlignUp(std::size_t v, std::size_t a) {
    return (v + a - 1) / a * a;
}

// The bytes the entry needs: the record, an empty alias list, the address
// list with its terminating null, the addresses, the name.
std::size_t HostEntrySize(const LookupTask& task) {
    std::size_t size = AlignUp(sizeof(HOSTENT), alignof(char*));
    size += sizeof(char*);                                // aliases: just the terminator
    size += (task.Addresses.size() + 1) * sizeof(char*);  // address list
    size += task.Addresses.size() * 4;
    size += task.CanonicalName.size() + 1;
    return size;
}

void LayOutHostEntry(const LookupTask& task, char* buffer) {
    char* p = buffer;
    auto* entry = reinterpret_cast<HOSTENT*>(p);
    p += AlignUp(sizeof(HOSTENT), alignof(char*));
    auto** aliases = reinterpret_cast<char**>(p);
    aliases[0] = nullptr;
    p += sizeof(char*);
    auto** list = reinterpret_cast<char**>(p);
    p += (task.Addresses.size() + 1) * sizeof(char*);
    for (std::size_t i = 0; i < task.Addresses.size(); ++i) {
        std::memcpy(p, &task.Addresses[i], 4);
        list[i] = p;
        p += 4;
    }
    list[task.Addresses.size()] = nullptr;
    std::memcpy(p, task.CanonicalName.c_str(), task.CanonicalName.size() + 1);
    entry->h_name = p;
    entry->h_aliases = aliases;
    entry->h_addrtype = AF_INET;
    entry->h_length = 4;
    entry->h_addr_list = list;
}

void DeliverLookup(UINT_PTR id) {
    std::shared_ptr<LookupTask> task;
    {
        std::lock_guard<std::mutex> lock(gLookupMutex);
        auto it = gLookups.find(id);
        if (it == gLookups.end())
            return;  // cancelled
        task = it->second;
        gLookups.erase(it);
    }
    if (!IsWindow(task->Window))
        return;  // its buffer may be gone with it
    int error = task->Error;
    std::size_t length = 0;
    if (error == 0) {
        length = HostEntrySize(*task);
        if (task->BufferLength < 0 || length > static_cast<std::size_t>(task->BufferLength)) {
            error = WSAENOBUFS;
        } else {
            LayOutHostEntry(*task, task->Buffer);
        }
    }
    SendMessage(task->Window, task->Message, id,
                WSAMAKEASYNCREPLY(static_cast<WORD>(length > 0xFFFF ? 0xFFFF : length),
                                  static_cast<WORD>(error)));
}

void RunLookup(std::shared_ptr<LookupTask> task, UINT_PTR id, HWND relay) {
    addrinfo hints{};
    hints.ai_family = posix::kAfInet;
    hints.ai_socktype = posix::kSockStream;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(task->Name.c_str(), nullptr, &hints, &result);
    if (rc == 0) {
        for (addrinfo* ai = result; ai; ai = ai->ai_next) {
            if (ai->ai_family != posix::kAfInet || !ai->ai_addr)
                continue;
            auto* in = reinterpret_cast<posix::SockAddrIn*>(ai->ai_addr);
            std::uint32_t a = in->sin_addr.s_addr;
            bool seen = false;
            for (auto known : task->Addresses)
                seen = seen || known == a;
            if (!seen)
                task->Addresses.push_back(a);
        }
        task->CanonicalName = result && result->ai_canonname ? result->ai_canonname : task->Name;
        ::freeaddrinfo(result);
        task->Error = task->Addresses.empty() ? WSANO_DATA : 0;
    } else {
        task->Error = WSAErrorFromLookup(rc);
    }
    // The task stays alive through our shared reference; only the GUI thread
    // touches the caller's buffer, and only if the window still exists.
    PostMessage(relay, kRelayLookup, id, 0);
}

LRESULT RelayProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kRelayNotice) {
        auto it = gNotices.find(wParam);
        if (it == gNotices.end())
            return 0;
        PendingNotice notice = it->second;
        gNotices.erase(it);
        Socket* sock = Find(notice.Sock);
        if (!sock || sock->Generation != notice.Generation)
            return 0;
        if (!sock->Window || !(sock->Events & notice.Event))
            return 0;
        SendMessage(
            sock->Window, sock->Message, notice.Sock,
            WSAMAKESELECTREPLY(static_cast<WORD>(notice.Event), static_cast<WORD>(notice.Error)));
        return 0;
    }
    if (msg == kRelayLookup) {
        DeliverLookup(wParam);
        return 0;
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
}

}  // namespace

// ---- error numbers ------------------------------------------------------------------------

int WSAErrorFromErrno(int e) {
    switch (e) {
        case 0:
            return 0;
        case EINTR:
            return WSAEINTR;
        case EBADF:
            return WSAENOTSOCK;
        case EACCES:
        case EPERM:
            return WSAEACCES;
        case EFAULT:
            return WSAEFAULT;
        case EINVAL:
            return WSAEINVAL;
        case EMFILE:
        case ENFILE:
            return WSAEMFILE;
        case EAGAIN:
        case EINPROGRESS:
            return WSAEWOULDBLOCK;
        case EALREADY:
            return WSAEALREADY;
        case ENOTSOCK:
            return WSAENOTSOCK;
        case EDESTADDRREQ:
            return WSAEDESTADDRREQ;
        case EMSGSIZE:
            return WSAEMSGSIZE;
        case EPROTOTYPE:
            return WSAEPROTOTYPE;
        case ENOPROTOOPT:
            return WSAENOPROTOOPT;
        case EPROTONOSUPPORT:
            return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT:
            return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP:
            return WSAEOPNOTSUPP;
        case EPFNOSUPPORT:
            return WSAEPFNOSUPPORT;
        case EAFNOSUPPORT:
            return WSAEAFNOSUPPORT;
        case EADDRINUSE:
            return WSAEADDRINUSE;
        case EADDRNOTAVAIL:
            return WSAEADDRNOTAVAIL;
        case ENETDOWN:
            return WSAENETDOWN;
        case ENETUNREACH:
            return WSAENETUNREACH;
        case ENETRESET:
            return WSAENETRESET;
        case ECONNABORTED:
            return WSAECONNABORTED;
        case ECONNRESET:
        case EPIPE:
            return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM:
            return WSAENOBUFS;
        case EISCONN:
            return WSAEISCONN;
        case ENOTCONN:
            return WSAENOTCONN;
        case ESHUTDOWN:
            return WSAESHUTDOWN;
        case ETOOMANYREFS:
            return WSAETOOMANYREFS;
        case ETIMEDOUT:
            return WSAETIMEDOUT;
        case ECONNREFUSED:
            return WSAECONNREFUSED;
        case ELOOP:
            return WSAELOOP;
        case ENAMETOOLONG:
            return WSAENAMETOOLONG;
        case EHOSTDOWN:
            return WSAEHOSTDOWN;
        case EHOSTUNREACH:
            return WSAEHOSTUNREACH;
        case ENOTEMPTY:
            return WSAENOTEMPTY;
        case EUSERS:
            return WSAEUSERS;
        case EDQUOT:
            return WSAEDQUOT;
        case ESTALE:
            return WSAESTALE;
        case EREMOTE:
            return WSAEREMOTE;
        default:
            return WSABASEERR + e;
    }
}

int WSAErrorFromLookup(int rc) {
    switch (rc) {
        case 0:
            return 0;
        case EAI_NONAME:
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_FAIL:
            return WSANO_RECOVERY;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return WSANO_DATA;
#endif
        case EAI_MEMORY:
            return WSAENOBUFS;
        case EAI_SYSTEM:
            return WSAErrorFromErrno(errno);
        default:
            return WSANO_RECOVERY;
    }
}

int WSAGetLastError() {
    return tLastError;
}
void WSASetLastError(int error) {
    tLastError = error;
}

// ---- start-up -----------------------------------------------------------------------

int WSAStartup(WORD versionRequested, WSADATA* data) {
    const BYTE major = static_cast<BYTE>(versionRequested & 0xFF);
    const BYTE minor = static_cast<BYTE>(versionRequested >> 8);
    if (!data)
        return WSAEFAULT;
    std::memset(data, 0, sizeof(*data));
    data->wVersion = MAKEWORD(1, 1);
    data->wHighVersion = MAKEWORD(1, 1);
    std::snprintf(data->szDescription, sizeof(data->szDescription),
                  "kurs Windows Sockets 1.1 over POSIX sockets");
    std::snprintf(data->szSystemStatus, sizeof(data->szSystemStatus), "Running");
    data->iMaxSockets = 32767;
    data->iMaxUdpDg = 65467;
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    ++gStartups;
    return 0;
}

int WSACleanup() {
    if (gStartups == 0)
        return Fail(WSANOTINITIALISED);
    if (--gStartups == 0) {
        while (!gSockets.empty())
            CloseEntry(gSockets.begin()->first);
        gNotices.clear();
    }
    return 0;
}

// ---- addresses --------------------------------------------------------------------------

u_long inet_addr(const char* text) {
    if (!text)
        return INADDR_NONE;
    std::uint32_t parts[4];
    int count = 0;
    const char* p = text;
    while (true) {
        if (count == 4)
            return INADDR_NONE;
        std::uint64_t value = 0;
        int base = 10;
        if (*p == '0' && (p[1] == 'x' || p[1] == 'X')) {
            base = 16;
            p += 2;
            if (!std::isxdigit(static_cast<unsigned char>(*p)))
                return INADDR_NONE;
        } else if (*p == '0') {
            base = 8;
        }
        if (!std::isxdigit(static_cast<unsigned char>(*p)))
            return INADDR_NONE;
        while (true) {
            const char c = *p;
            int digit;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (base == 16 && c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (base == 16 && c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            } else {
                break;
            }
            if (digit >= base)
                return INADDR_NONE;
            value = value * base + digit;
            if (value > 0xFFFFFFFFull)
                return INADDR_NONE;
            ++p;
        }
        parts[count++] = static_cast<std::uint32_t>(value);
        if (*p == '.') {
            ++p;
            continue;
        }
        if (*p != '\0')
            return INADDR_NONE;
        break;
    }
    std::uint32_t host = 0;
    switch (count) {
        case 1:
            host = parts[0];
            break;
        case 2:
            if (parts[0] > 0xFF || parts[1] > 0xFFFFFF)
                return INADDR_NONE;
            host = (parts[0] << 24) | parts[1];
            break;
        case 3:
            if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF)
                return INADDR_NONE;
            host = (parts[0] << 24) | (parts[1] << 16) | parts[2];
            break;
        default:
            for (int i = 0; i < 4; ++i)
                if (parts[i] > 0xFF)
                    return INADDR_NONE;
            host = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
            break;
    }
    return htonl(host);
}

char* inet_ntoa(IN_ADDR address) {
    thread_local char text[16];
    const auto* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

// ---- sockets --------------------------------------------------------------------------

SOCKET socket(int af, int type, int protocol) {
    if (gStartups == 0) {
        Fail(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    if (af != AF_INET) {
        Fail(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    int posixType;
    int posixProtocol;
    if (type == SOCK_STREAM && (protocol == 0 || protocol == IPPROTO_TCP)) {
        posixType = posix::kSockStream;
        posixProtocol = posix::kIpProtoTcp;
    } else if (type == SOCK_DGRAM && (protocol == 0 || protocol == IPPROTO_UDP)) {
        posixType = posix::kSockDgram;
        posixProtocol = posix::kIpProtoUdp;
    } else {
        Fail(type == SOCK_STREAM || type == SOCK_DGRAM ? WSAEPROTONOSUPPORT : WSAESOCKTNOSUPPORT);
        return INVALID_SOCKET;
    }
    int fd = ::socket(posix::kAfInet, posixType | SOCK_NONBLOCK | SOCK_CLOEXEC, posixProtocol);
    if (fd < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    return Adopt(fd, type == SOCK_DGRAM ? Phase::Datagram : Phase::Idle);
}

namespace {

struct OptionMap {
    int Level;
    int Name;
};

bool MapOption(int level, int optname, OptionMap& out) {
    if (level == SOL_SOCKET) {
        switch (optname) {
            case SO_REUSEADDR:
                out = {posix::kSolSocket, posix::kSoReuseAddr};
                return true;
            case SO_KEEPALIVE:
                out = {posix::kSolSocket, posix::kSoKeepAlive};
                return true;
            case SO_OOBINLINE:
                out = {posix::kSolSocket, posix::kSoOobInline};
                return true;
            case SO_SNDBUF:
                out = {posix::kSolSocket, posix::kSoSndBuf};
                return true;
            case SO_RCVBUF:
                out = {posix::kSolSocket, posix::kSoRcvBuf};
                return true;
            case SO_BROADCAST:
                out = {posix::kSolSocket, posix::kSoBroadcast};
                return true;
            case SO_TYPE:
                out = {posix::kSolSocket, posix::kSoType};
                return true;
            case SO_ACCEPTCONN:
                out = {posix::kSolSocket, posix::kSoAcceptConn};
                return true;
            default:
                return false;
        }
    }
    if (level == IPPROTO_TCP && optname == TCP_NODELAY) {
        out = {posix::kIpProtoTcp, posix::kTcpNoDelay};
        return true;
    }
    return false;
}

}  // namespace

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    if (level == SOL_SOCKET && (optname == SO_LINGER || optname == SO_DONTLINGER)) {
        posix::Linger l{};
        if (optname == SO_LINGER) {
            if (!optval || optlen < static_cast<int>(sizeof(LINGER)))
                return Fail(WSAEFAULT);
            LINGER w;
            std::memcpy(&w, optval, sizeof(w));
            l.l_onoff = w.l_onoff ? 1 : 0;
            l.l_linger = w.l_linger;
        } else {
            if (!optval || optlen < static_cast<int>(sizeof(BOOL)))
                return Fail(WSAEFAULT);
            BOOL dont;
            std::memcpy(&dont, optval, sizeof(dont));
            l.l_onoff = dont ? 0 : 1;
            l.l_linger = 0;
        }
        if (::setsockopt(sock->Fd, posix::kSolSocket, posix::kSoLinger, &l, sizeof(l)) != 0)
            return FailErrno();
        return 0;
    }
    OptionMap map;
    if (!MapOption(level, optname, map))
        return Fail(WSAENOPROTOOPT);
    if (!optval || optlen < static_cast<int>(sizeof(int)))
        return Fail(WSAEFAULT);
    int value;
    std::memcpy(&value, optval, sizeof(value));
    if (::setsockopt(sock->Fd, map.Level, map.Name, &value, sizeof(value)) != 0)
        return FailErrno();
    return 0;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    if (!optval || !optlen)
        return Fail(WSAEFAULT);
    if (level == SOL_SOCKET && optname == SO_LINGER) {
        if (*optlen < static_cast<int>(sizeof(LINGER)))
            return Fail(WSAEFAULT);
        posix::Linger l{};
        socklen_t len = sizeof(l);
        if (::getsockopt(sock->Fd, posix::kSolSocket, posix::kSoLinger, &l, &len) != 0)
            return FailErrno();
        LINGER w{static_cast<u_short>(l.l_onoff), static_cast<u_short>(l.l_linger)};
        std::memcpy(optval, &w, sizeof(w));
        *optlen = sizeof(w);
        return 0;
    }
    if (*optlen < static_cast<int>(sizeof(int)))
        return Fail(WSAEFAULT);
    int value = 0;
    if (level == SOL_SOCKET && optname == SO_ERROR) {
        value =
            sock->BrokenError ? sock->BrokenError : WSAErrorFromErrno(PendingSocketError(sock->Fd));
    } else {
        OptionMap map;
        if (!MapOption(level, optname, map))
            return Fail(WSAENOPROTOOPT);
        socklen_t len = sizeof(value);
        if (::getsockopt(sock->Fd, map.Level, map.Name, &value, &len) != 0)
            return FailErrno();
        if (level == SOL_SOCKET && optname == SO_TYPE)
            value = value == posix::kSockDgram ? SOCK_DGRAM : SOCK_STREAM;
    }
    std::memcpy(optval, &value, sizeof(value));
    *optlen = sizeof(value);
    return 0;
}

int bind(SOCKET s, const SOCKADDR* name, int namelen) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    posix::SockAddrIn addr;
    if (!ToPosixAddress(name, namelen, addr))
        return Fail(name ? WSAEAFNOSUPPORT : WSAEFAULT);
    if (::bind(sock->Fd, reinterpret_cast<posix::SockAddr*>(&addr), sizeof(addr)) != 0)
        return FailErrno();
    return 0;
}

int listen(SOCKET s, int backlog) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    if (sock->State != Phase::Idle && sock->State != Phase::Listening) {
        return Fail(sock->State == Phase::Connected ? WSAEISCONN : WSAEINVAL);
    }
    if (backlog < 0)
        backlog = 0;
    if (::listen(sock->Fd, backlog) != 0)
        return FailErrno();
    sock->State = Phase::Listening;
    UpdateWatch(*sock);
    return 0;
}

SOCKET accept(SOCKET s, SOCKADDR* addr, int* addrlen) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return INVALID_SOCKET;
    if (sock->State != Phase::Listening) {
        Fail(WSAEINVAL);
        return INVALID_SOCKET;
    }
    if (addr && (!addrlen || *addrlen < static_cast<int>(sizeof(SOCKADDR_IN)))) {
        Fail(WSAEFAULT);
        return INVALID_SOCKET;
    }
    // Any call, also one that fails, re-enables FD_ACCEPT.
    sock->AcceptArmed = true;
    UpdateWatch(*sock);
    posix::SockAddrIn peer{};
    socklen_t len = sizeof(peer);
    int fd = ::accept4(sock->Fd, reinterpret_cast<posix::SockAddr*>(&peer), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    if (addr)
        FromPosixAddress(peer, addr, addrlen);
    const HWND window = sock->Window;
    const UINT message = sock->Message;
    const LONG events = sock->Events;
    SOCKET accepted = Adopt(fd, Phase::Connected);
    Socket& fresh = *Find(accepted);
    fresh.WriteArmed = true;
    fresh.ConnectReported = true;
    if (window && events) {
        fresh.Window = window;
        fresh.Message = message;
        fresh.Events = events;
        UpdateWatch(fresh);
    }
    return accepted;
}

int connect(SOCKET s, const SOCKADDR* name, int namelen) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    switch (sock->State) {
        case Phase::Connecting:
            return Fail(WSAEALREADY);
        case Phase::Connected:
            return Fail(WSAEISCONN);
        case Phase::Listening:
            return Fail(WSAEINVAL);
        default:
            break;
    }
    posix::SockAddrIn addr;
    if (!ToPosixAddress(name, namelen, addr))
        return Fail(name ? WSAEAFNOSUPPORT : WSAEFAULT);
    if (addr.sin_addr.s_addr == 0 && sock->State != Phase::Datagram)
        return Fail(WSAEADDRNOTAVAIL);
    int rc = ::connect(sock->Fd, reinterpret_cast<posix::SockAddr*>(&addr), sizeof(addr));
    if (sock->State == Phase::Datagram)
        return rc == 0 ? 0 : FailErrno();
    const int err = rc == 0 ? 0 : errno;
    if (err == EINPROGRESS || err == EINTR) {
        sock->State = Phase::Connecting;
        sock->ConnectReported = false;
        UpdateWatch(*sock);
        return Fail(WSAEWOULDBLOCK);
    }
    switch (err) {
        case 0:
        case ECONNREFUSED:
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ETIMEDOUT:
            // Settled at once; the outcome still arrives as FD_CONNECT, and
            // the call answers as an asynchronous connect does.
            sock->ConnectReported = false;
            ConnectSettled(s, *sock, err);
            UpdateWatch(*sock);
            return Fail(WSAEWOULDBLOCK);
        default:
            return FailErrno();
    }
}

int getsockname(SOCKET s, SOCKADDR* name, int* namelen) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    posix::SockAddrIn addr{};
    socklen_t len = sizeof(addr);
    if (::getsockname(sock->Fd, reinterpret_cast<posix::SockAddr*>(&addr), &len) != 0)
        return FailErrno();
    return FromPosixAddress(addr, name, namelen);
}

int getpeername(SOCKET s, SOCKADDR* name, int* namelen) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    posix::SockAddrIn addr{};
    socklen_t len = sizeof(addr);
    if (::getpeername(sock->Fd, reinterpret_cast<posix::SockAddr*>(&addr), &len) != 0)
        return FailErrno();
    return FromPosixAddress(addr, name, namelen);
}

int send(SOCKET s, const char* buf, int len, int flags) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    if (len < 0 || (!buf && len > 0))
        return Fail(WSAEFAULT);
    if (sock->SendShut)
        return Fail(WSAESHUTDOWN);
    if (sock->BrokenError)
        return Fail(sock->BrokenError);
    if (sock->State == Phase::Connecting || sock->State == Phase::Idle ||
        sock->State == Phase::Failed || sock->State == Phase::Listening)
        return Fail(WSAENOTCONN);
    int posixFlags = posix::kMsgNoSignal | posix::kMsgDontWait;
    if (flags & MSG_OOB)
        posixFlags |= posix::kMsgOob;
    if (flags & MSG_DONTROUTE)
        posixFlags |= posix::kMsgDontRoute;
    ssize_t n = ::send(sock->Fd, buf, static_cast<size_t>(len), posixFlags);
    if (n < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK) {
            sock->WriteArmed = true;  // FD_WRITE once there is room again
            UpdateWatch(*sock);
        } else if (err == ECONNRESET || err == EPIPE) {
            sock->BrokenError = WSAECONNRESET;
            UpdateWatch(*sock);
        }
        return Fail(WSAErrorFromErrno(err));
    }
    return static_cast<int>(n);
}

int recv(SOCKET s, char* buf, int len, int flags) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    if (len < 0 || (!buf && len > 0))
        return Fail(WSAEFAULT);
    // Any call, also one that fails, re-enables FD_READ and FD_OOB.
    sock->ReadArmed = true;
    sock->OobArmed = true;
    UpdateWatch(*sock);
    if (sock->BrokenError)
        return Fail(sock->BrokenError);
    if (sock->State == Phase::Connecting || sock->State == Phase::Idle ||
        sock->State == Phase::Failed || sock->State == Phase::Listening)
        return Fail(WSAENOTCONN);
    int posixFlags = posix::kMsgDontWait;
    if (flags & MSG_PEEK)
        posixFlags |= posix::kMsgPeek;
    if (flags & MSG_OOB)
        posixFlags |= posix::kMsgOob;
    ssize_t n = ::recv(sock->Fd, buf, static_cast<size_t>(len), posixFlags);
    if (n < 0) {
        const int err = errno;
        if (err == ECONNRESET || err == ETIMEDOUT) {
            sock->BrokenError = WSAErrorFromErrno(err);
            sock->PeerClosed = true;
            UpdateWatch(*sock);
        }
        return Fail(WSAErrorFromErrno(err));
    }
    return static_cast<int>(n);
}

int shutdown(SOCKET s, int how) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    int posixHow;
    switch (how) {
        case SD_RECEIVE:
            posixHow = posix::kShutRd;
            break;
        case SD_SEND:
            posixHow = posix::kShutWr;
            break;
        case SD_BOTH:
            posixHow = posix::kShutRdWr;
            break;
        default:
            return Fail(WSAEINVAL);
    }
    if (sock->State != Phase::Connected && sock->State != Phase::Datagram)
        return Fail(WSAENOTCONN);
    if (::shutdown(sock->Fd, posixHow) != 0)
        return FailErrno();
    if (how != SD_RECEIVE)
        sock->SendShut = true;
    return 0;
}

int closesocket(SOCKET s) {
    if (!FindOrFail(s))
        return SOCKET_ERROR;
    // Notifications still queued for it are dropped by the relay, and no
    // FD_CLOSE follows our own close.
    CloseEntry(s);
    return 0;
}

// ---- asynchronous notification -------------------------------------------------------------

int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    if (window && events && !IsWindow(window))
        return Fail(WSAEINVAL);
    if (window && events && !EnsureRelayWindow())
        return Fail(WSAENOBUFS);
    sock->Window = events ? window : nullptr;
    sock->Message = message;
    sock->Events = window ? events : 0;
    // A fresh registration reports what already holds, as on the platform.
    sock->ReadArmed = true;
    sock->OobArmed = true;
    sock->AcceptArmed = true;
    if (sock->State == Phase::Connected || sock->State == Phase::Datagram)
        sock->WriteArmed = true;
    UpdateWatch(*sock);
    return 0;
}

HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer,
                             int bufferLength) {
    if (gStartups == 0) {
        Fail(WSANOTINITIALISED);
        return nullptr;
    }
    if (!name || !buffer || bufferLength <= 0) {
        Fail(WSAEFAULT);
        return nullptr;
    }
    if (!IsWindow(window)) {
        Fail(WSAEINVAL);
        return nullptr;
    }
    if (!EnsureRelayWindow()) {
        Fail(WSAENOBUFS);
        return nullptr;
    }
    auto task = std::make_shared<LookupTask>();
    task->Window = window;
    task->Message = message;
    task->Buffer = buffer;
    task->BufferLength = bufferLength;
    task->Name = name;
    const UINT_PTR id = gNextLookup++;
    {
        std::lock_guard<std::mutex> lock(gLookupMutex);
        gLookups[id] = task;
    }
    try {
        std::thread(RunLookup, task, id, gRelayWindow).detach();
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(gLookupMutex);
        gLookups.erase(id);
        Fail(WSAENOBUFS);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(id);
}

int WSACancelAsyncRequest(HANDLE task) {
    std::lock_guard<std::mutex> lock(gLookupMutex);
    if (gLookups.erase(reinterpret_cast<UINT_PTR>(task)) == 0)
        return Fail(WSAEINVAL);
    return 0;
}

}  // namespace win
