// The socket client's connection: the host looked up (a dotted address at
// once, a name through an asynchronous lookup), connect and its wait, accept,
// and the close that makes a fresh socket for the next connection.

#include <cstring>

#include "net/socket/PsockPrivate.h"

using namespace psock_internal;

namespace {

const char* const kTooLongHost = "Host name longer than 65536 characters";

std::uint16_t ToHandle(win::SOCKET s) {
    if (s > 0xFFFF)
        RangeError();
    return static_cast<std::uint16_t>(s);
}

}  // namespace

void TPowersock::ResolveHost() {
    StatusMessage(8, "Resolve Host");
    const String& name = FProxy.empty() ? FHost : FProxy;
    if (name.size() > static_cast<std::size_t>(IOBufferSize))
        throw ESockError(String(kTooLongHost));
    std::memcpy(IOBuffer, name.data(), name.size());
    IOBuffer[name.size()] = '\0';
    FRemoteAddress.sin_addr.s_addr = win::inet_addr(IOBuffer);
    if (FRemoteAddress.sin_addr.s_addr != win::INADDR_NONE)
        return;

    FRemoteAddress.sin_addr.s_addr = 0;
    const Liveness alive = FAlive;
    KURS_CLIENT_TRACE("looking up \"%.200s\"", IOBuffer);
    {
        TimeoutFrame frame(this);
        FLookupDone = false;
        FLookupTask = win::WSAAsyncGetHostByName(FNotifyWindow, HostLookupReply, IOBuffer,
                                                 FHostEntryBuffer.get(), HostEntryBufferSize);
        if (!FLookupTask) {
            // The lookup could not even start: that is a failed lookup.
            FLastEventOk = false;
            FLookupDone = true;
        }
        while (!FLookupDone && !FTimedOut && !FCanceled) {
            WaitPass(kWaitBackstopMs);
            if (!*alive)
                throw ESockError(String("Host Lookup Canceled"));
        }
        if (FLookupTask) {
            // A reply that did not come must not land in a later wait.
            win::WSACancelAsyncRequest(FLookupTask);
            FLookupTask = nullptr;
        }
    }
    if (FTimedOut)
        throw ESockError(String("Host Lookup Timed Out"));
    if (FCanceled)
        throw ESockError(String("Host Lookup Canceled"));
    if (!FLastEventOk)
        throw ESockError(String("Host Lookup Failed"));

    const auto* entry = reinterpret_cast<const win::HOSTENT*>(FHostEntryBuffer.get());
    if (entry->h_addr_list && entry->h_addr_list[0])
        std::memcpy(&FRemoteAddress.sin_addr.s_addr, entry->h_addr_list[0], 4);
    KURS_CLIENT_TRACE("looked up: %s", win::inet_ntoa(FRemoteAddress.sin_addr));
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::Connect() {
    StatusMessage(8, "Connecting");
    FCanceled = false;
    FCloseError = 0;
    if (FConnected)
        throw ESockError(String("Already connected"));

    const Liveness alive = FAlive;
    int retries = 0;
    while (true) {
        try {
            ResolveHost();
        } catch (const ESockError& e) {
            if (e.Message() == "Host Lookup Timed Out" || e.Message() == "Host Lookup Canceled" ||
                e.Message() == kTooLongHost || !*alive)
                throw;
            // Any other failure of the resolution shows as the address 0.
            TraceSwallowed(this, "resolving the host");
        }
        if (FRemoteAddress.sin_addr.s_addr != 0)
            break;
        if (retries > 0 || !OnInvalidHost)
            throw ESockError(String("Null Remote Address"));
        bool handled = false;
        OnInvalidHost(handled);
        if (!*alive)
            throw ESockError(String("Connection Canceled"));
        if (!handled)
            throw ESockError(String("Null Remote Address"));
        ++retries;
    }

    FRemoteAddress.sin_family = win::AF_INET;
    const int port = FProxy.empty() ? FPort : FProxyPort;
    FRemoteAddress.sin_port = win::htons(static_cast<win::u_short>(port & 0xFFFF));
    FLookupDone = false;
    FLastEventOk = true;

    KURS_CLIENT_TRACE("connecting socket %u to %s:%d", FSocketHandle,
                      win::inet_ntoa(FRemoteAddress.sin_addr), port & 0xFFFF);
    if (win::connect(FSocketHandle, reinterpret_cast<const win::SOCKADDR*>(&FRemoteAddress),
                     sizeof(FRemoteAddress)) == win::SOCKET_ERROR) {
        String text;
        CheckSocketError(win::WSAEWOULDBLOCK, text);
    }
    {
        TimeoutFrame frame(this);
        while (!FConnected && !FTimedOut && !FCanceled && FLastEventOk) {
            WaitPass(kWaitBackstopMs);
            if (!*alive)
                throw ESockError(String("Connection Canceled"));
        }
    }
    if (!FTimedOut && !FCanceled && FLastEventOk)
        return;

    KURS_CLIENT_TRACE("connection failed:%s%s%s", FTimedOut ? " timed out" : "",
                      FCanceled ? " cancelled" : "", FLastEventOk ? "" : " refused or unreachable");

    if (OnConnectionFailed) {
        OnConnectionFailed(this);
        if (!*alive)
            throw ESockError(String("Connection Canceled"));
    }
    if (FTimedOut)
        throw ESockError(String("Connection Timed out"));
    if (FCanceled)
        throw ESockError(String("Connection Canceled"));
    throw ESockError(String("Connection Failed"));
}

void TPowersock::Disconnect() {
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    FConnected = false;
    if (FSocketHandle == NoSocket)
        return;
    if (win::closesocket(FSocketHandle) == win::SOCKET_ERROR) {
        String text;
        CheckSocketError(win::WSAEWOULDBLOCK, text);
        return;
    }
    KURS_CLIENT_TRACE("closed socket %u", FSocketHandle);
    if (OnDisconnect && !FDestroying) {
        const Liveness alive = FAlive;
        OnDisconnect(this);
        if (!*alive)
            return;
    }
    if (FFinalizing) {
        FSocketHandle = NoSocket;
        return;
    }
    FSocketHandle = NoSocket;
    CreateSocket(false);
}

std::uint16_t TPowersock::Accept() {
    StatusMessage(4, "Accepting");
    const Liveness alive = FAlive;
    while (!FLookupDone && !FCanceled) {
        WaitPass(kWaitBackstopMs);
        if (!*alive)
            throw ESockError(String("Accepting Canceled"));
    }
    if (FCanceled)
        throw ESockError(String("Accepting Canceled"));
    if (!FLastEventOk)
        throw ESockError(String("Error creating Data Connection"));
    win::SOCKADDR_IN peer{};
    int len = sizeof(peer);
    const win::SOCKET s = win::accept(FSocketHandle, reinterpret_cast<win::SOCKADDR*>(&peer), &len);
    const std::uint16_t handle = ToHandle(s == win::INVALID_SOCKET ? 0x10000 : s);
    RegisterSocket(handle, kSocketEvents);
    KURS_CLIENT_TRACE("accepted socket %u", handle);
    FRemoteAddress = peer;
    AbortEnding("Socket send aborted");
    return handle;
}
