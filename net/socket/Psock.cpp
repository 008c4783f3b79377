#include "net/socket/Psock.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "runtime/Streams.h"

namespace {

// The events every socket of the component is registered for:
// FD_READ | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE (FD_WRITE only while a
// send waits for room).
constexpr long kSocketEvents =
    win::FD_READ | win::FD_OOB | win::FD_ACCEPT | win::FD_CONNECT | win::FD_CLOSE;
static_assert(kSocketEvents == 61);

// Every wait blocks in the message layer, which wakes it at once for a
// notification, a timer tick, a post or input; the flags that end a wait
// change only while such input is dispatched.  The bound is a backstop, long
// enough that a wait of many seconds costs next to no CPU (a wake-up costs
// some 50 microseconds here, so 2 ms passes would take 2% of a core).
constexpr int kWaitBackstopMs = 100;

const char* const kTooLongHost = "Host name longer than 65536 characters";

struct ErrorEntry {
    std::int32_t Code;
    const char* Text;
};

const ErrorEntry kErrorTable[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};
static_assert(sizeof(kErrorTable) / sizeof(kErrorTable[0]) == 50);

[[noreturn]] void RangeError() {
    throw ERangeError(String("Range check error"));
}

std::uint16_t ToHandle(win::SOCKET s) {
    if (s > 0xFFFF)
        RangeError();
    return static_cast<std::uint16_t>(s);
}

String VersionText(win::WORD v) {
    return IntToStr(v >> 8) + "." + IntToStr(v & 0xFF);
}

// Dispatches without waiting (the pass after data was taken).
void DispatchPending() {
    win::ProcessMessages();
}

// Waits in the message layer until anything arrives (a notification such as
// FD_READ, a timer tick, a post, input), then dispatches it.
void WaitAndDispatch() {
    win::WaitMessage(kWaitBackstopMs);
    win::ProcessMessages();
}

// Appends a received block.  The text doubles its room when full (room not
// yet filled costs no memory), but never past `ceiling`, the most the text
// can hold at the end; once a doubling would overshoot the ceiling the room
// goes straight to it, so the last growth copies at most half of it and the
// peak stays near the ceiling.  Large pages are not asked for: the first
// touch of such a room can stall for the system to compact memory, which
// costs more than the small pages' faults.
void AppendBlock(String& text, const char* data, std::size_t n, std::size_t ceiling) {
    const std::size_t need = text.size() + n;
    if (need > text.capacity()) {
        std::size_t room = std::max(need, text.capacity() * 2);
        if (room > ceiling / 2)
            room = std::max(need, ceiling);
        String bigger;
        try {
            bigger.reserve(room);
        } catch (const std::bad_alloc&) {
            bigger.reserve(need);
        }
        bigger.append(text);
        text.swap(bigger);
    }
    text.append(data, n);
}

}  // namespace

int TPowersock::GWinsockUsers = 0;

// TimerOn at the start of a bounded wait, TimerOff at its end, also when
// the wait raises; nothing once the object is gone, and nothing inside a
// TimeOutSpan, whose countdown runs on untouched.
class TPowersock::TimeoutFrame {
  public:
    explicit TimeoutFrame(TPowersock* owner) : FOwner(owner), FAlive(owner->FAlive) {
        if (FOwner->FTimeOutSpans == 0)
            FOwner->TimerOn();
    }
    ~TimeoutFrame() {
        if (!*FAlive || FOwner->FTimeOutSpans > 0)
            return;
        try {
            FOwner->TimerOff();
        } catch (...) {
        }
    }
    TimeoutFrame(const TimeoutFrame&) = delete;
    TimeoutFrame& operator=(const TimeoutFrame&) = delete;

  private:
    TPowersock* FOwner;
    Liveness FAlive;
};

TPowersock::TimeOutSpan::TimeOutSpan(TPowersock& owner) : FOwner(owner), FAlive(owner.FAlive) {
    if (FOwner.FTimeOutSpans++ == 0)
        FOwner.TimerOn();
}

TPowersock::TimeOutSpan::~TimeOutSpan() {
    if (!*FAlive || --FOwner.FTimeOutSpans > 0)
        return;
    try {
        FOwner.TimerOff();
    } catch (...) {
    }
}

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
    FProxy.clear();
    FHostEntryBuffer = std::make_unique<char[]>(HostEntryBufferSize);
    try {
        FTimeOutTimer = new TThreadTimer(this);
        FTimeOutTimer->SetEnabled(false);
        FTimeOutTimer->SetOnTimer([this](TObject* Sender) { TimerTriggered(Sender); });
        FTimeOut = 0;
        FWinsockInfo = new TStringList();
        FCanceled = false;
        FFinalizing = false;
        FConnected = false;
        InitWinsock();
    } catch (...) {
        *FAlive = false;
        delete FWinsockInfo;
        FWinsockInfo = nullptr;
        delete FTimeOutTimer;  // leaves our owned list
        FTimeOutTimer = nullptr;
        if (FNotifyWindow)
            win::DestroyWindow(FNotifyWindow);
        throw;
    }
}

void TPowersock::InitWinsock() {
    ++GWinsockUsers;
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
        try {
            CreateSocket(true);
        } catch (...) {
            --GWinsockUsers;
            if (GWinsockUsers == 0)
                win::WSACleanup();
            throw;
        }
    } catch (...) {
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
    }
    *FAlive = false;  // a wait in an outer call ends without touching us
    delete FWinsockInfo;
    FWinsockInfo = nullptr;
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
    }
    --GWinsockUsers;
    if (GWinsockUsers == 0)
        win::WSACleanup();
}

// ---- status, errors, time-out -----------------------------------------------------------

void TPowersock::StatusMessage(std::uint8_t Level, const String& Value) {
    if (static_cast<int>(Level) > FReportLevel)
        return;
    try {
        FStatus = Value;
        if (!FDestroying && OnStatus)
            OnStatus(this, FStatus);
    } catch (...) {
    }
}

void TPowersock::CheckSocketError(std::uint16_t Expected, String& Text) {
    FLastError = win::WSAGetLastError();
    if (FLastError != Expected && FLastError > 10000) {
        SocketErrorText(static_cast<std::uint16_t>(FLastError), Text);
        throw ESockError(Text);
    }
    Text.clear();
}

void TPowersock::SocketErrorText(std::uint16_t ErrorNo, String& Text) {
    StatusMessage(8, "Looking Up Error Message");
    Text.clear();
    if (ErrorNo == 0)
        return;
    for (const auto& entry : kErrorTable) {
        if (entry.Code == ErrorNo) {
            Text = IntToStr(entry.Code) + ":" + entry.Text;
            return;
        }
    }
    Text = "Unknown Error No. " + IntToStr(ErrorNo);
}

void TPowersock::TimerOn() {
    StatusMessage(8, "Timer On");
    FTimedOut = false;
    if (FTimeOut < 0)
        RangeError();
    FTimeOutTimer->SetInterval(static_cast<std::uint32_t>(FTimeOut));
    FTimeOutTimer->SetEnabled(true);
}

void TPowersock::TimerOff() {
    StatusMessage(8, "Timer Off");
    FTimeOutTimer->SetEnabled(false);
}

void TPowersock::TimerTriggered(TObject*) {
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    FTimedOut = true;
    FLookupDone = true;
    Abort();
}

void TPowersock::Cancel() {
    StatusMessage(8, "Canceling");
    FCanceled = true;
}

void TPowersock::Abort() {
    StatusMessage(8, "Abort");
    Cancel();
}

void TPowersock::WaitPass(int boundMs) {
    win::WaitMessage(boundMs);
    win::ProcessMessages();
}

// ---- resolution and connection ------------------------------------------------------------

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

bool TPowersock::DataAvailable() {
    StatusMessage(8, "Data Available");
    return win::recv(FSocketHandle, IOBuffer, 1, win::MSG_PEEK) >= 1;
}

void TPowersock::HandleAsyncMessage(TMessage& Msg) {
    if (Msg.Msg != SocketEvent && Msg.Msg != HostLookupReply)
        return;
    const Liveness alive = FAlive;
    try {
        FLastEventOk = win::WSAGETSELECTERROR(Msg.LParam) == 0;
        if (Msg.Msg == SocketEvent) {
            switch (win::WSAGETSELECTEVENT(Msg.LParam)) {
                case win::FD_CONNECT:
                    if (FLastEventOk) {
                        FConnected = true;
                        if (OnConnect)
                            OnConnect(this);
                    }
                    break;
                case win::FD_ACCEPT:
                    FConnected = true;
                    // Ends the wait of Accept, which has no other signal.
                    FLookupDone = true;
                    break;
                case win::FD_CLOSE:
                    ++FCloseEvents;
                    if (!DataAvailable()) {
                        // Kept for the reader that finds the socket replaced:
                        // a reset must not pass for the end of the answer.
                        FCloseError = win::WSAGETSELECTERROR(Msg.LParam);
                        RequestCloseSocket();
                    }
                    break;
                case win::FD_WRITE:
                    FWriteReady = true;
                    break;
                default:  // FD_READ, FD_OOB: the readers poll
                    break;
            }
        } else {
            FLookupDone = true;
            FLookupTask = nullptr;
        }
    } catch (...) {
        // Failures of the handlers and of the close are not reported here.
    }
    (void)alive;
}

// ---- transfer -----------------------------------------------------------------------------

void TPowersock::CheckCloseError() {
    if (FCloseError == 0)
        return;
    FLastError = FCloseError;
    String text;
    SocketErrorText(static_cast<std::uint16_t>(FCloseError), text);
    throw ESockError(text);
}

void TPowersock::AbortEnding(const char* message) {
    if (FCanceled) {
        FCanceled = false;
        throw EAbortError(String(message));
    }
}

bool TPowersock::WaitWritable(const Liveness& alive) {
    const std::uint16_t socket = FSocketHandle;
    const unsigned closes = FCloseEvents;
    FWriteReady = false;
    RegisterSocket(socket, kSocketEvents | win::FD_WRITE);
    while (!FWriteReady && !FCanceled && FCloseEvents == closes && FSocketHandle == socket) {
        WaitAndDispatch();
        if (!*alive)
            return false;
    }
    if (FSocketHandle == socket)
        RegisterSocket(socket, kSocketEvents);
    return true;
}

void TPowersock::SendBuffer(const char* Value, std::uint16_t BufLen) {
    StatusMessage(4, "Sending Buffer");
    const Liveness alive = FAlive;
    {
        TimeoutFrame frame(this);
        if (!FCanceled) {
            std::size_t length = BufLen;
            if (length == 0) {
                length = strnlen(Value, static_cast<std::size_t>(IOBufferSize) + 1);
                if (length > 65535)
                    RangeError();
            }
            std::size_t remaining = length;
            while (remaining > 0 && !FCanceled) {
                const int n = win::send(FSocketHandle, Value + (length - remaining),
                                        static_cast<int>(remaining), 0);
                if (n == 0)
                    break;
                if (n > 0) {
                    remaining -= static_cast<std::size_t>(n);
                    continue;
                }
                String text;
                CheckSocketError(win::WSAEWOULDBLOCK, text);
                if (!WaitWritable(alive))
                    throw EAbortError(String("Socket send aborted"));
            }
        }
    }
    AbortEnding("Socket send aborted");
}

void TPowersock::Write(const String& Str) {
    StatusMessage(8, "Write");
    const std::size_t n = std::min(Str.size(), static_cast<std::size_t>(IOBufferSize));
    std::memcpy(IOBuffer, Str.data(), n);
    IOBuffer[n] = '\0';
    SendBuffer(IOBuffer, 0);
}

void TPowersock::Writeln(const String& Str) {
    StatusMessage(8, "Writeln");
    Write(Str + "\r\n");
}

String TPowersock::ReadLn() {
    StatusMessage(8, "ReadLn");
    const Liveness alive = FAlive;
    String result;
    std::size_t taken = 0;
    bool lineEnd = false;
    std::size_t k = 0;
    {
        TimeoutFrame frame(this);
        while (true) {
            const std::size_t room = static_cast<std::size_t>(IOBufferSize) - taken;
            if (room == 0)
                RangeError();
            const int n =
                win::recv(FSocketHandle, IOBuffer + taken, static_cast<int>(room), win::MSG_PEEK);
            if (n == 0)
                return String();  // the peer has closed
            if (n > 0) {
                // Only the bytes just looked at: the start of the mirror may
                // have been overwritten by a close notification's look-ahead.
                const void* lf = std::memchr(IOBuffer + taken, '\n', static_cast<std::size_t>(n));
                if (lf) {
                    k = static_cast<std::size_t>(static_cast<const char*>(lf) - IOBuffer);
                    lineEnd = true;
                    break;
                }
                result.resize(taken + static_cast<std::size_t>(n));
                const int got = win::recv(FSocketHandle, result.data() + taken, n, 0);
                if (got > 0)
                    taken += static_cast<std::size_t>(got);
                result.resize(taken);
                DispatchPending();
            } else {
                FLastError = win::WSAGetLastError();
                if (FLastError == win::WSAENOTCONN) {
                    CheckCloseError();
                    break;  // the connection is gone
                }
                String text;
                CheckSocketError(win::WSAEWOULDBLOCK, text);
                WaitAndDispatch();
            }
            if (!*alive)
                throw EAbortError(String("Socket readln aborted"));
            if (FCanceled)
                break;
        }
    }
    AbortEnding("Socket readln aborted");
    if (!lineEnd)
        return String();
    result.resize(k + 1);
    while (taken < k + 1) {
        const int got =
            win::recv(FSocketHandle, result.data() + taken, static_cast<int>(k + 1 - taken), 0);
        if (got <= 0) {
            String text;
            CheckSocketError(win::WSAEWOULDBLOCK, text);
            return String();  // the peeked bytes vanished: the connection is gone
        }
        taken += static_cast<std::size_t>(got);
    }
    return result;
}

String TPowersock::Transaction(const String& CommandString) {
    StatusMessage(8, "Transaction");
    FReplyCode = 0;
    Writeln(CommandString);
    FLastReply = ReadLn();
    if (!FLastReply.empty()) {
        StatusMessage(1, FLastReply);
        std::size_t digits = 0;
        while (digits < FLastReply.size() && digits < 10 && FLastReply[digits] >= '0' &&
               FLastReply[digits] <= '9')
            ++digits;
        if (digits > 0) {
            long long value = std::stoll(FLastReply.substr(0, digits));
            if (value > std::numeric_limits<std::int32_t>::max())
                value = 0;
            if (value < -32768 || value > 32767)
                RangeError();
            FReplyCode = static_cast<std::int16_t>(value);
        }
    }
    return FLastReply;
}

void TPowersock::SendFile(const String& FileName) {
    StatusMessage(8, "SendFile");
    const Liveness alive = FAlive;
    {
        TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
        const long long size = file.Size();
        do {
            if (FCanceled)
                break;
            const long long m = file.Read(IOBuffer, IOBufferSize);
            std::size_t remaining = static_cast<std::size_t>(m < 0 ? 0 : m);
            const std::size_t total = remaining;
            do {
                const int n = win::send(FSocketHandle, IOBuffer + (total - remaining),
                                        static_cast<int>(remaining), 0);
                if (n == 0)
                    break;
                if (n > 0) {
                    remaining -= static_cast<std::size_t>(n);
                    FBytesSent += n;
                    if (OnPacketSent)
                        OnPacketSent(this);
                    if (!*alive)
                        throw EAbortError(String("Socket send aborted"));
                    DispatchPending();
                } else {
                    String text;
                    CheckSocketError(win::WSAEWOULDBLOCK, text);
                    if (!WaitWritable(alive))
                        throw EAbortError(String("Socket send aborted"));
                }
                if (!*alive)
                    throw EAbortError(String("Socket send aborted"));
            } while (remaining > 0 && !FCanceled);
            if (m <= 0)
                break;
        } while (file.Position() < size && !FCanceled);
    }
    AbortEnding("Socket send aborted");
}

void TPowersock::Capture(const std::function<void(const char*, int)>& append,
                         const std::function<bool()>& full, const Liveness& alive) {
    while (!FCanceled && !full()) {
        const int n = win::recv(FSocketHandle, IOBuffer, IOBufferSize, 0);
        if (n == 0)
            break;  // the peer has closed
        if (n > 0) {
            append(IOBuffer, n);
            FBytesReceived += n;
            if (OnPacketRecvd)
                OnPacketRecvd(this);
            if (!*alive)
                throw EAbortError(String("Socket capture aborted"));
            TimerOn();  // keeps a running countdown: it bounds the whole capture
            DispatchPending();
        } else {
            FLastError = win::WSAGetLastError();
            if (FLastError == win::WSAENOTCONN) {
                CheckCloseError();
                break;  // closed and replaced already
            }
            String text;
            CheckSocketError(win::WSAEWOULDBLOCK, text);
            WaitAndDispatch();
        }
        if (!*alive)
            throw EAbortError(String("Socket capture aborted"));
    }
}

void TPowersock::CaptureFile(const String& FileName, std::int64_t Limit) {
    StatusMessage(8, "CaptureFile");
    const Liveness alive = FAlive;
    FBytesReceived = 0;
    {
        TFileStream file(FileName, fmCreate);
        TimeoutFrame frame(this);
        std::int64_t written = 0;
        Capture(
            [&](const char* data, int n) {
                file.WriteBuffer(data, n);
                written += n;
            },
            [&] { return Limit >= 0 && written >= Limit; }, alive);
    }
    AbortEnding("Socket capture aborted");
}

void TPowersock::CaptureString(String& AString, int SizeToRead) {
    StatusMessage(8, "Capture String");
    const Liveness alive = FAlive;
    AString.clear();
    FBytesReceived = 0;
    {
        TimeoutFrame frame(this);
        // The text ends at most one block past the limit.
        const std::size_t ceiling = SizeToRead < 0
                                        ? std::numeric_limits<std::size_t>::max()
                                        : static_cast<std::size_t>(SizeToRead) + IOBufferSize;
        Capture([&](const char* data,
                    int n) { AppendBlock(AString, data, static_cast<std::size_t>(n), ceiling); },
                [&] {
                    return SizeToRead != -1 && static_cast<long long>(AString.size()) >= SizeToRead;
                },
                alive);
    }
    AbortEnding("Socket capture aborted");
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
    FRemoteAddress = peer;
    AbortEnding("Socket send aborted");
    return handle;
}
