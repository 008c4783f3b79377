// WSAAsyncSelect: the message layer watches each socket's descriptor for what
// its state and registration ask for; readiness becomes a notification queued
// to our hidden relay window, which passes it on to the registered window if
// the socket and its registration still stand when its turn comes.

#include "platform/sockets/WinsockPrivate.h"

namespace win {

namespace winsock_internal {

HWND gRelayWindow = nullptr;

namespace {

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

const char* EventName(LONG event) {
    switch (event) {
        case FD_READ:
            return "FD_READ";
        case FD_WRITE:
            return "FD_WRITE";
        case FD_OOB:
            return "FD_OOB";
        case FD_ACCEPT:
            return "FD_ACCEPT";
        case FD_CONNECT:
            return "FD_CONNECT";
        case FD_CLOSE:
            return "FD_CLOSE";
        default:
            return "?";
    }
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
        KURS_TRACE(Sockets, "notify socket %lld: %s, error %d", TraceId(notice.Sock),
                   EventName(notice.Event), notice.Error);
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

void OnReady(SOCKET s, short revents);

}  // namespace

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

void ForgetNotices() {
    gNotices.clear();
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

void Watch(SOCKET s, Socket& sock) {
    sock.WatchedEvents = WantedEvents(sock);
    WatchDescriptor(sock.Fd, sock.WatchedEvents, [s](int, short revents) { OnReady(s, revents); });
}

namespace {

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

}  // namespace

}  // namespace winsock_internal

using namespace winsock_internal;

// ---- asynchronous notification -------------------------------------------------------------

namespace {

int AsyncSelect(SOCKET s, HWND window, UINT message, LONG events) {
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

}  // namespace

int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events) {
    const int result = AsyncSelect(s, window, message, events);
    KURS_TRACE(Sockets, "WSAAsyncSelect socket %lld, window %p, message %u, events 0x%02x: %s",
               TraceId(s), static_cast<void*>(window), message, static_cast<unsigned>(events),
               Outcome(result));
    return result;
}

}  // namespace win
