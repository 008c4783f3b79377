// The answer of the response reader's fuzz target, served from memory.
//
// This program's connect to the fuzz address puts a duplicate of one end of
// an in-process socket pair in place of the socket's descriptor, already
// connected; the other end never sends and has shut its sending side, so the
// pair, made once and kept, always shows an orderly close.  The descriptor is
// thus a real connected socket for everything that watches it (readiness,
// the close), but the receives and sends of the client on it never reach the
// kernel: recv hands out the input from memory (MSG_PEEK included) and then
// reports the close, send takes the request and drops it.  An input costs
// the same few system calls whatever its number of header lines, and nothing
// of it is kept, so memory stays flat over millions of inputs.  Every other
// descriptor goes to the kernel unchanged.

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/http/NMHttp_fuzz_answer.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

const std::uint8_t* gAnswer = nullptr;
std::size_t gAnswerSize = 0;
// How much of the answer the client has taken.
std::size_t gTaken = 0;
// The client's descriptor while it holds the answer, else -1.
int gClient = -1;
// Whether the client has connected during the current input.
bool gConnected = false;
// The end of the pair that each connect duplicates, -1 until first needed.
int gAnswerEnd = -1;

bool IsFuzzAddress(const sockaddr* addr, socklen_t len) {
    if (!addr || len < sizeof(sockaddr_in) || addr->sa_family != AF_INET)
        return false;
    const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
    return ntohs(in->sin_port) == FuzzAnswerPort && ntohl(in->sin_addr.s_addr) == kLoopback;
}

// Puts the answering end of the pair in place of fd.
int ConnectToAnswer(int fd) {
    if (gAnswerEnd < 0) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            return -1;
        ::shutdown(pair[1], SHUT_WR);
        gAnswerEnd = pair[0];  // the other end stays open, unused, for good
    }
    if (::dup3(gAnswerEnd, fd, O_CLOEXEC) < 0)
        return -1;
    gClient = fd;
    gConnected = true;
    gTaken = 0;
    return 0;
}

}  // namespace

void BeginFuzzAnswer(const std::uint8_t* data, std::size_t size) {
    gAnswer = data;
    gAnswerSize = size;
    gTaken = 0;
}

void EndFuzzAnswer() {
    gConnected = false;
    gClient = -1;
    gAnswer = nullptr;
    gAnswerSize = 0;
}

// The socket calls of this program: the answering descriptor is served here,
// the rest goes to the kernel.
extern "C" int connect(int fd, const sockaddr* addr, socklen_t len) {
    if (IsFuzzAddress(addr, len) && !gConnected)
        return ConnectToAnswer(fd);
    return static_cast<int>(::syscall(SYS_connect, fd, addr, len));
}

extern "C" ssize_t recv(int fd, void* buf, std::size_t len, int flags) {
    if (fd < 0 || fd != gClient)
        return ::syscall(SYS_recvfrom, fd, buf, len, flags, nullptr, nullptr);
    const std::size_t n = std::min(len, gAnswerSize - gTaken);
    if (n > 0)
        std::memcpy(buf, gAnswer + gTaken, n);
    if (!(flags & MSG_PEEK))
        gTaken += n;
    return static_cast<ssize_t>(n);
}

extern "C" ssize_t send(int fd, const void* buf, std::size_t len, int flags) {
    if (fd < 0 || fd != gClient)
        return ::syscall(SYS_sendto, fd, buf, len, flags, nullptr, 0);
    return static_cast<ssize_t>(len);
}

// The client's close ends its hold on the answer: a socket it makes next may
// get the same number.
extern "C" int close(int fd) {
    if (fd >= 0 && fd == gClient)
        gClient = -1;
    return static_cast<int>(::syscall(SYS_close, fd));
}
