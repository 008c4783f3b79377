// The calls on sockets: creation, options, addresses, connect, accept, send,
// recv, shutdown and close, each over the non-blocking descriptor underneath.
// Every call is traced with its outcome.

#include "platform/sockets/WinsockPrivate.h"

#include <cstring>

namespace win {

using namespace winsock_internal;

namespace {

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

SOCKET OpenSocket(int af, int type, int protocol) {
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

int SetOption(SOCKET s, int level, int optname, const char* optval, int optlen) {
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

int GetOption(SOCKET s, int level, int optname, char* optval, int* optlen) {
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

int Bind(SOCKET s, const SOCKADDR* name, int namelen) {
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

int Listen(SOCKET s, int backlog) {
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

SOCKET Accept(SOCKET s, SOCKADDR* addr, int* addrlen) {
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

int Connect(SOCKET s, const SOCKADDR* name, int namelen) {
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

int LocalName(SOCKET s, SOCKADDR* name, int* namelen) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    posix::SockAddrIn addr{};
    socklen_t len = sizeof(addr);
    if (::getsockname(sock->Fd, reinterpret_cast<posix::SockAddr*>(&addr), &len) != 0)
        return FailErrno();
    return FromPosixAddress(addr, name, namelen);
}

int PeerName(SOCKET s, SOCKADDR* name, int* namelen) {
    Socket* sock = FindOrFail(s);
    if (!sock)
        return SOCKET_ERROR;
    posix::SockAddrIn addr{};
    socklen_t len = sizeof(addr);
    if (::getpeername(sock->Fd, reinterpret_cast<posix::SockAddr*>(&addr), &len) != 0)
        return FailErrno();
    return FromPosixAddress(addr, name, namelen);
}

int Send(SOCKET s, const char* buf, int len, int flags) {
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

int Receive(SOCKET s, char* buf, int len, int flags) {
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

int Shutdown(SOCKET s, int how) {
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

int Close(SOCKET s) {
    if (!FindOrFail(s))
        return SOCKET_ERROR;
    // Notifications still queued for it are dropped by the relay, and no
    // FD_CLOSE follows our own close.
    CloseEntry(s);
    return 0;
}

}  // namespace

SOCKET socket(int af, int type, int protocol) {
    const SOCKET s = OpenSocket(af, type, protocol);
    if (s == INVALID_SOCKET)
        KURS_TRACE(Sockets, "socket af %d, type %d, protocol %d: %s", af, type, protocol,
                   Outcome(SOCKET_ERROR));
    else
        KURS_TRACE(Sockets, "socket af %d, type %d, protocol %d: socket %lld", af, type, protocol,
                   TraceId(s));
    return s;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    const int result = SetOption(s, level, optname, optval, optlen);
    KURS_TRACE(Sockets, "setsockopt socket %lld, level 0x%x, option 0x%x: %s", TraceId(s), level,
               static_cast<unsigned>(optname), Outcome(result));
    return result;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    const int result = GetOption(s, level, optname, optval, optlen);
    KURS_TRACE(Sockets, "getsockopt socket %lld, level 0x%x, option 0x%x: %s", TraceId(s), level,
               static_cast<unsigned>(optname), Outcome(result));
    return result;
}

int bind(SOCKET s, const SOCKADDR* name, int namelen) {
    const int result = Bind(s, name, namelen);
    KURS_TRACE(Sockets, "bind socket %lld: %s", TraceId(s), Outcome(result));
    return result;
}

int listen(SOCKET s, int backlog) {
    const int result = Listen(s, backlog);
    KURS_TRACE(Sockets, "listen socket %lld, backlog %d: %s", TraceId(s), backlog, Outcome(result));
    return result;
}

SOCKET accept(SOCKET s, SOCKADDR* addr, int* addrlen) {
    const SOCKET accepted = Accept(s, addr, addrlen);
    if (accepted == INVALID_SOCKET)
        KURS_TRACE(Sockets, "accept socket %lld: %s", TraceId(s), Outcome(SOCKET_ERROR));
    else
        KURS_TRACE(Sockets, "accept socket %lld: socket %lld", TraceId(s), TraceId(accepted));
    return accepted;
}

int connect(SOCKET s, const SOCKADDR* name, int namelen) {
    const int result = Connect(s, name, namelen);
    if (trace::On(trace::Channel::Sockets)) {
        posix::SockAddrIn to{};
        char address[INET_ADDRSTRLEN] = "?";
        if (ToPosixAddress(name, namelen, to))
            ::inet_ntop(posix::kAfInet, &to.sin_addr, address, sizeof address);
        trace::Write(trace::Channel::Sockets, "connect socket %lld to %s:%u: %s", TraceId(s),
                     address, static_cast<unsigned>(ntohs(to.sin_port)), Outcome(result));
    }
    return result;
}

int getsockname(SOCKET s, SOCKADDR* name, int* namelen) {
    const int result = LocalName(s, name, namelen);
    KURS_TRACE(Sockets, "getsockname socket %lld: %s", TraceId(s), Outcome(result));
    return result;
}

int getpeername(SOCKET s, SOCKADDR* name, int* namelen) {
    const int result = PeerName(s, name, namelen);
    KURS_TRACE(Sockets, "getpeername socket %lld: %s", TraceId(s), Outcome(result));
    return result;
}

int send(SOCKET s, const char* buf, int len, int flags) {
    const int n = Send(s, buf, len, flags);
    KURS_TRACE(Sockets, "send socket %lld, %d bytes, flags 0x%x: %s", TraceId(s), len,
               static_cast<unsigned>(flags), BytesOutcome(n));
    return n;
}

int recv(SOCKET s, char* buf, int len, int flags) {
    const int n = Receive(s, buf, len, flags);
    KURS_TRACE(Sockets, "recv socket %lld, room %d, flags 0x%x: %s", TraceId(s), len,
               static_cast<unsigned>(flags), BytesOutcome(n));
    return n;
}

int shutdown(SOCKET s, int how) {
    const int result = Shutdown(s, how);
    KURS_TRACE(Sockets, "shutdown socket %lld, how %d: %s", TraceId(s), how, Outcome(result));
    return result;
}

int closesocket(SOCKET s) {
    const int result = Close(s);
    KURS_TRACE(Sockets, "closesocket %lld: %s", TraceId(s), Outcome(result));
    return result;
}

}  // namespace win
