// Windows Sockets for one GUI thread: start-up, the dotted addresses, and the
// table of open sockets.  The calls on sockets are in WinsockSockets.cpp,
// their notifications in WinsockAsyncSelect.cpp, host lookups in
// WinsockLookup.cpp and the error numbers in WinsockErrors.cpp.

#include "platform/sockets/WinsockPrivate.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace win {

namespace winsock_internal {

int gStartups = 0;
std::map<SOCKET, std::unique_ptr<Socket>> gSockets;

namespace {
unsigned gNextGeneration = 1;
}  // namespace

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

}  // namespace winsock_internal

using namespace winsock_internal;

// ---- start-up -----------------------------------------------------------------------

namespace {

int Startup(WORD versionRequested, WSADATA* data) {
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

int Cleanup() {
    if (gStartups == 0)
        return Fail(WSANOTINITIALISED);
    if (--gStartups == 0) {
        while (!gSockets.empty())
            CloseEntry(gSockets.begin()->first);
        ForgetNotices();
    }
    return 0;
}

}  // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
    const int result = Startup(versionRequested, data);
    KURS_TRACE(Sockets, "WSAStartup version %u.%u: %s", versionRequested & 0xFFu,
               versionRequested >> 8u, result == 0 ? "ok" : ErrorName(result));
    return result;
}

int WSACleanup() {
    const int result = Cleanup();
    KURS_TRACE(Sockets, "WSACleanup: %s", Outcome(result));
    return result;
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

}  // namespace win
