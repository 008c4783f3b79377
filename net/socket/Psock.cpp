// The socket client's life cycle: Windows Sockets started with the first
// instance and ended with the last, the socket made at once and again after
// each close, and the status texts.  Connecting is in PsockConnect.cpp, the
// transfers in PsockTransfer.cpp, the time-out and the notifications in
// PsockEvents.cpp, the error texts in PsockErrors.cpp.

#include <cstring>

#include "net/socket/PsockPrivate.h"
#include "runtime/ScopeGuard.h"

using namespace psock_internal;

namespace {

String VersionText(win::WORD v) {
    return IntToStr(v >> 8) + "." + IntToStr(v & 0xFF);
}

}  // namespace

namespace psock_internal {

void WriteSwallowed(const void* client, const char* where) noexcept {
    try {
        try {
            throw;
        } catch (const Exception& e) {
            trace::Write(trace::Channel::Sockets, "client %p: %s: swallowed %s: %s", client, where,
                         e.ClassName().c_str(), e.Message().c_str());
        } catch (const std::exception& e) {
            trace::Write(trace::Channel::Sockets, "client %p: %s: swallowed %s", client, where,
                         e.what());
        } catch (...) {
            trace::Write(trace::Channel::Sockets, "client %p: %s: swallowed an exception", client,
                         where);
        }
    } catch (...) {
    }
}

}  // namespace psock_internal

int TPowersock::GWinsockUsers = 0;

// ---- life cycle -----------------------------------------------------------------------

const TClassInfo* TPowersock::ClassProperties() {
    static const TClassInfo* info = RegisterPublishedClass<TPowersock, TComponent>(
        "TPowersock", [](TPublishedProperties<TPowersock>& p) {
            p.String("Host", &TPowersock::Host, &TPowersock::SetHost);
            p.Integer("Port", &TPowersock::Port, &TPowersock::SetPort);
            p.Integer("TimeOut", &TPowersock::TimeOut, &TPowersock::SetTimeOut);
            p.Integer("ReportLevel", &TPowersock::ReportLevel, &TPowersock::SetReportLevel)
                .SetDefault(1);
            p.Method("OnDisconnect", &TPowersock::OnDisconnect);
            p.Method("OnConnect", &TPowersock::OnConnect);
            p.Method("OnInvalidHost", &TPowersock::OnInvalidHost);
            p.Method("OnHostResolved", &TPowersock::OnHostResolved);
            p.Method("OnStatus", &TPowersock::OnStatus);
            p.Method("OnConnectionFailed", &TPowersock::OnConnectionFailed);
        });
    return info;
}

TPowersock::TPowersock(TComponent* AOwner) : TComponent(AOwner) {
    ClassProperties();
    FNotifyWindow = AllocateSocketWindow(this);
    // No destructor runs for an object whose constructor throws.
    ScopeFail undo([this] {
        *FAlive = false;
        delete FTimeOutTimer;  // leaves our owned list
        FTimeOutTimer = nullptr;
        if (FNotifyWindow)
            win::DestroyWindow(FNotifyWindow);
    });
    FProxy.clear();
    FHostEntryBuffer = std::make_unique<char[]>(HostEntryBufferSize);
    FTimeOutTimer = new TThreadTimer(this);
    FTimeOutTimer->SetEnabled(false);
    FTimeOutTimer->SetOnTimer([this](TObject* Sender) { TimerTriggered(Sender); });
    FTimeOut = 0;
    FWinsockInfo = std::make_unique<TStringList>();
    FCanceled = false;
    FFinalizing = false;
    FConnected = false;
    InitWinsock();
}

void TPowersock::InitWinsock() {
    ++GWinsockUsers;
    ScopeFail release([] {
        if (--GWinsockUsers == 0)
            win::WSACleanup();
    });
    try {
        if (GWinsockUsers == 1) {
            win::WSAStartup(0x0101, &FWinsockData);
            const win::WSADATA& d = FWinsockData;
            FWinsockInfo->Add("Version= " + VersionText(d.wVersion));
            FWinsockInfo->Add("High Version= " + VersionText(d.wHighVersion));
            FWinsockInfo->Add("Description= " +
                              String(d.szDescription, strnlen(d.szDescription, 257)));
            FWinsockInfo->Add("System= " +
                              String(d.szSystemStatus, strnlen(d.szSystemStatus, 129)));
            FWinsockInfo->Add("Max Sockets= " + IntToStr(d.iMaxSockets));
            FWinsockInfo->Add("Max Udp pack size= " + IntToStr(d.iMaxUdpDg));
        }
        CreateSocket(true);
    } catch (...) {
        TraceSwallowed(this, "starting Windows Sockets");
        throw ESockError(String("Initializaton of windows sockets failed"));
    }
}

void TPowersock::CreateSocket(bool withLinger) {
    const win::SOCKET s =
        win::socket(win::AF_INET, win::SOCK_STREAM, withLinger ? win::IPPROTO_TCP : 0);
    if (s != win::INVALID_SOCKET && s > 0xFFFF) {
        win::closesocket(s);
        RangeError();
    }
    FSocketHandle = static_cast<std::uint16_t>(s);
    if (withLinger && FSocketHandle != NoSocket) {
        // Closing the first socket drops unsent data and resets the connection.
        win::LINGER l{1, 0};
        win::setsockopt(FSocketHandle, win::SOL_SOCKET, win::SO_LINGER,
                        reinterpret_cast<const char*>(&l), sizeof(l));
    }
    if (FSocketHandle == NoSocket) {
        String text;
        CheckSocketError(win::WSAEWOULDBLOCK, text);
    }
    RegisterSocket(FSocketHandle, kSocketEvents);
}

void TPowersock::RegisterSocket(win::SOCKET s, long events) {
    win::WSAAsyncSelect(s, FNotifyWindow, SocketEvent, static_cast<win::LONG>(events));
}

TPowersock::~TPowersock() {
    FDestroying = true;
    try {
        Abort();
        Cancel();
    } catch (...) {
        TraceSwallowed(this, "aborting at destruction");
    }
    *FAlive = false;  // a wait in an outer call ends without touching us
    FWinsockInfo.reset();
    delete FTimeOutTimer;
    FTimeOutTimer = nullptr;
    if (FLookupTask)
        win::WSACancelAsyncRequest(FLookupTask);
    FHostEntryBuffer.reset();
    if (FNotifyWindow)
        win::DestroyWindow(FNotifyWindow);
    FNotifyWindow = nullptr;
    FFinalizing = true;
    try {
        RequestCloseSocket();
    } catch (...) {
        TraceSwallowed(this, "closing the socket at destruction");
    }
    --GWinsockUsers;
    if (GWinsockUsers == 0)
        win::WSACleanup();
}

// ---- status -----------------------------------------------------------------------------

void TPowersock::StatusMessage(std::uint8_t Level, const String& Value) {
    if (static_cast<int>(Level) > FReportLevel)
        return;
    try {
        FStatus = Value;
        if (!FDestroying && OnStatus)
            OnStatus(this, FStatus);
    } catch (...) {
        TraceSwallowed(this, "OnStatus");
    }
}
