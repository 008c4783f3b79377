// The answer of the response reader's fuzz target, through an in-process
// socket pair instead of a loopback server.  This program's connect to the
// fuzz address puts one end of a fresh pair in place of the socket's
// descriptor, already connected; the input is written to the other end,
// which then shuts its sending side, so the client reads the input and an
// orderly close.  The request the client sends stays unread in the pair and
// goes with it, so memory stays flat over millions of inputs, and no port or
// server thread is involved (an input larger than the pair's buffer gets a
// writer thread for its rest).

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "net/http/NMHttp_fuzz_answer.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

const std::uint8_t* gAnswer = nullptr;
std::size_t gAnswerSize = 0;
// The peer end of the current pair, closed after the operation.
int gPeer = -1;
// Writes what did not fit in the pair's buffer at once.
std::thread gRestWriter;

bool IsFuzzAddress(const sockaddr* addr, socklen_t len) {
    if (!addr || len < sizeof(sockaddr_in) || addr->sa_family != AF_INET)
        return false;
    const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
    return ntohs(in->sin_port) == FuzzAnswerPort && ntohl(in->sin_addr.s_addr) == kLoopback;
}

// Puts the client end of a new pair in place of fd and sends the answer from
// the other end.
int ConnectToAnswer(int fd) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    if (::dup3(pair[0], fd, O_CLOEXEC) < 0) {
        ::close(pair[0]);
        ::close(pair[1]);
        return -1;
    }
    ::close(pair[0]);
    gPeer = pair[1];

    std::size_t sent = 0;
    while (sent < gAnswerSize) {
        const ssize_t n = ::send(gPeer, gAnswer + sent, gAnswerSize - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (sent == gAnswerSize) {
        ::shutdown(gPeer, SHUT_WR);
        return 0;
    }
    // The rest waits for the client to read: a blocking writer on its own
    // thread, joined when the operation is over.
    const int peer = gPeer;
    const int flags = ::fcntl(peer, F_GETFL);
    ::fcntl(peer, F_SETFL, flags & ~O_NONBLOCK);
    const std::uint8_t* rest = gAnswer + sent;
    const std::size_t restSize = gAnswerSize - sent;
    gRestWriter = std::thread([peer, rest, restSize] {
        std::size_t done = 0;
        while (done < restSize) {
            const ssize_t n = ::send(peer, rest + done, restSize - done, MSG_NOSIGNAL);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        ::shutdown(peer, SHUT_WR);
    });
    return 0;
}

}  // namespace

void BeginFuzzAnswer(const std::uint8_t* data, std::size_t size) {
    gAnswer = data;
    gAnswerSize = size;
}

void EndFuzzAnswer() {
    if (gRestWriter.joinable()) {
        // The client may have stopped reading: wake the writer.
        ::shutdown(gPeer, SHUT_RDWR);
        gRestWriter.join();
    }
    if (gPeer >= 0)
        ::close(gPeer);
    gPeer = -1;
}

// The connect of this program: the fuzz address gets the pair, the rest the
// kernel's connect.
extern "C" int connect(int fd, const sockaddr* addr, socklen_t len) {
    if (IsFuzzAddress(addr, len) && gPeer < 0)
        return ConnectToAnswer(fd);
    return static_cast<int>(::syscall(SYS_connect, fd, addr, len));
}
