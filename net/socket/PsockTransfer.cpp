// The socket client's transfers: sends that wait for room, ReadLn,
// Transaction, and the captures into a file or a text.

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "net/socket/PsockPrivate.h"
#include "runtime/Streams.h"

using namespace psock_internal;

namespace {

// Appends a received block.  The text doubles its room when full (room not
// yet filled costs no memory), but never past `ceiling`, the most the text
// can hold at the end; once a doubling would overshoot the ceiling the room
// goes straight to it, so the last growth copies at most half of it and the
// peak stays near the ceiling.  Large pages are not asked for: the first
// touch of such a room can stall for the system to compact memory, which
// costs more than the small pages' faults.  `client` names the socket client
// in traces.
void AppendBlock(String& text, const char* data, std::size_t n, std::size_t ceiling,
                 const void* client) {
    const std::size_t need = text.size() + n;
    if (need > text.capacity()) {
        std::size_t room = std::max(need, text.capacity() * 2);
        if (room > ceiling / 2)
            room = std::max(need, ceiling);
        String bigger;
        try {
            bigger.reserve(room);
        } catch (const std::bad_alloc&) {
            TraceSwallowed(client, "reserving room for the text");
            bigger.reserve(need);
        }
        bigger.append(text);
        text.swap(bigger);
    }
    text.append(data, n);
}

}  // namespace

bool TPowersock::DataAvailable() {
    StatusMessage(8, "Data Available");
    return win::recv(FSocketHandle, IOBuffer, 1, win::MSG_PEEK) >= 1;
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
    KURS_CLIENT_TRACE("reading a line");
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
    KURS_CLIENT_TRACE("read %d bytes%s", static_cast<int>(FBytesReceived),
                      FCanceled ? ", then cancelled" : "");
}

void TPowersock::CaptureFile(const String& FileName, std::int64_t Limit) {
    StatusMessage(8, "CaptureFile");
    const Liveness alive = FAlive;
    FBytesReceived = 0;
    {
        TFileStream file(FileName, fmCreate);
        TimeoutFrame frame(this);
        KURS_CLIENT_TRACE("reading into a file, limit %lld", static_cast<long long>(Limit));
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
        KURS_CLIENT_TRACE("reading into a text, limit %d", SizeToRead);
        // The text ends at most one block past the limit.
        const std::size_t ceiling = SizeToRead < 0
                                        ? std::numeric_limits<std::size_t>::max()
                                        : static_cast<std::size_t>(SizeToRead) + IOBufferSize;
        Capture(
            [&](const char* data, int n) {
                AppendBlock(AString, data, static_cast<std::size_t>(n), ceiling, this);
            },
            [&] {
                return SizeToRead != -1 && static_cast<long long>(AString.size()) >= SizeToRead;
            },
            alive);
    }
    AbortEnding("Socket capture aborted");
}
