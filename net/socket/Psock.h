#pragma once
// TPowersock: an event-driven TCP client over asynchronous Windows Sockets.
//
// It owns one stream socket, resolves a host (a dotted address at once, a
// name through an asynchronous lookup), connects, sends and receives, and
// reports its progress through events and status texts.  It never blocks
// inside the platform: readiness and lookup replies arrive as messages at its
// hidden notification window, and every operation that has to wait does so in
// the message layer (win::WaitMessage, then win::ProcessMessages, then a test
// of the flags that end the wait), so the GUI thread's messages keep flowing
// and event handlers run inside the call.  Each wait is bounded by TimeOut
// (through the TThreadTimer) and ends early on Cancel or Abort.
//
// Failures raise ESockError; a transfer ended by a cancel or the time-out
// raises EAbortError (TimedOut() tells which).

#include <cstdint>
#include <functional>
#include <memory>

#include "net/socket/NotifyWindows.h"
#include "net/socket/ThreadTimer.h"
#include "platform/sockets/Winsock.h"
#include "runtime/Classes.h"
#include "runtime/Exceptions.h"
#include "runtime/StringList.h"
#include "runtime/TypInfo.h"

class ESockError : public Exception {
  public:
    using Exception::Exception;
    String ClassName() const override { return "ESockError"; }
};

class EAbortError : public ESockError {
  public:
    using ESockError::ESockError;
    String ClassName() const override { return "EAbortError"; }
};

// An event whose only parameter is an in-out flag, false on entry.
using THandlerEvent = std::function<void(bool& Handled)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, String Status)>;

class TPowersock : public TComponent, public TAsyncMessageTarget {
  public:
    // The size of IOBuffer's data part, and so of the largest block, line or
    // host name the component handles.
    static constexpr int IOBufferSize = 65536;
    static constexpr int HostEntryBufferSize = 1024;
    static constexpr std::uint16_t NoSocket = 0xFFFF;

    // Starts Windows Sockets (the first instance) and creates the socket;
    // ESockError "Initializaton of windows sockets failed" when that fails.
    explicit TPowersock(TComponent* AOwner);
    // Cancels a wait still running in an outer call, closes the socket
    // without OnDisconnect, and ends Windows Sockets with the last instance.
    ~TPowersock() override;

    String ClassName() const override { return "TPowersock"; }
    // The published properties: Host, Port, TimeOut, ReportLevel (declared
    // default 1, though a new instance holds 0) and the six events.
    static const TClassInfo* ClassProperties();

    // ---- published properties --------------------------------------------------
    const String& Host() const { return FHost; }
    void SetHost(const String& Value) { FHost = Value; }
    int Port() const { return FPort; }  // only the low 16 bits are used
    void SetPort(int Value) { FPort = Value; }
    int TimeOut() const { return FTimeOut; }  // ms per wait, 0 = none
    void SetTimeOut(int Value) { FTimeOut = Value; }
    int ReportLevel() const { return FReportLevel; }
    void SetReportLevel(int Value) { FReportLevel = Value; }
    // When not empty: resolved and connected to instead of Host, at ProxyPort.
    const String& Proxy() const { return FProxy; }
    void SetProxy(const String& Value) { FProxy = Value; }
    int ProxyPort() const { return FProxyPort; }
    void SetProxyPort(int Value) { FProxyPort = Value; }

    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;

    // ---- state -----------------------------------------------------------------
    bool Connected() const { return FConnected; }
    bool TimedOut() const { return FTimedOut; }
    bool Canceled() const { return FCanceled; }
    bool LookupDone() const { return FLookupDone; }
    void SetLookupDone(bool Value) { FLookupDone = Value; }
    bool LastEventOk() const { return FLastEventOk; }
    int LastError() const { return FLastError; }
    const String& Status() const { return FStatus; }
    std::int32_t BytesSent() const { return FBytesSent; }
    std::int32_t BytesReceived() const { return FBytesReceived; }
    const String& LastReply() const { return FLastReply; }
    std::int16_t ReplyCode() const { return FReplyCode; }
    void SetReplyCode(std::int16_t Value) { FReplyCode = Value; }
    std::uint16_t SocketHandle() const { return FSocketHandle; }
    const win::SOCKADDR_IN& RemoteAddress() const { return FRemoteAddress; }
    win::HWND NotifyWindow() const { return FNotifyWindow; }
    TThreadTimer* TimeOutTimer() const { return FTimeOutTimer; }
    TStringList* WinsockInfo() const { return FWinsockInfo.get(); }
    const win::WSADATA& WinsockData() const { return FWinsockData; }
    // Instances that have started Windows Sockets.
    static int WinsockUsers() { return GWinsockUsers; }

    // ---- connection ----------------------------------------------------------------
    virtual std::uint16_t Accept();
    virtual void Connect();
    virtual void Disconnect();
    virtual String Transaction(const String& CommandString);
    virtual void Abort();
    void Cancel();
    void ResolveHost();
    void RequestCloseSocket();
    bool DataAvailable();
    void TimerOn();
    void TimerOff();
    void TimerTriggered(TObject* Sender);
    void StatusMessage(std::uint8_t Level, const String& Value);
    void CheckSocketError(std::uint16_t Expected, String& Text);
    void SocketErrorText(std::uint16_t ErrorNo, String& Text);
    void HandleAsyncMessage(TMessage& Msg) override;

    // ---- transfer --------------------------------------------------------------------
    // Sends length bytes (0 = up to the first zero byte).
    void SendBuffer(const char* Value, std::uint16_t BufLen);
    void Write(const String& Str);
    void Writeln(const String& Str);
    String ReadLn();
    void SendFile(const String& FileName);
    // Limit -1 reads until the peer closes; otherwise the capture stops after
    // the block that brings it to Limit bytes or more.
    void CaptureFile(const String& FileName, std::int64_t Limit = -1);
    void CaptureString(String& AString, int SizeToRead);

    // One countdown of TimeOut over several transfers: while a span lives,
    // the transfers inside it neither restart nor stop the timer, so the
    // time-out bounds them together (an answer's whole head, say) rather
    // than each on its own.  Spans nest; the outermost one stops the timer.
    class TimeOutSpan {
      public:
        explicit TimeOutSpan(TPowersock& owner);
        ~TimeOutSpan();
        TimeOutSpan(const TimeOutSpan&) = delete;
        TimeOutSpan& operator=(const TimeOutSpan&) = delete;

      private:
        TPowersock& FOwner;
        std::shared_ptr<bool> FAlive;
    };

  protected:
    // The one transfer buffer, inside the object.
    char IOBuffer[IOBufferSize + 1] = {};

  private:
    // Set to false by the destructor, so a wait running in an outer call
    // that finds its object gone ends without touching it.
    using Liveness = std::shared_ptr<bool>;

    void InitWinsock();
    void CreateSocket(bool withLinger);
    void RegisterSocket(win::SOCKET s, long events);
    // One pass of a connection wait: the message layer waits at most
    // boundMs (returning at once on input), then everything pending is
    // dispatched.
    static void WaitPass(int boundMs);
    // Waits until the socket can take more data, a close arrives, the socket
    // is replaced, or a cancel; false when the object is gone.
    bool WaitWritable(const Liveness& alive);
    void AbortEnding(const char* message);
    void Capture(const std::function<void(const char*, int)>& append,
                 const std::function<bool()>& full, const Liveness& alive);
    // After a read found the socket replaced by a close notification: a
    // close that came with an error (a reset) raises ESockError with that
    // error's text; an orderly close returns.
    void CheckCloseError();

    class TimeoutFrame;

    static int GWinsockUsers;

    std::unique_ptr<TStringList> FWinsockInfo;
    std::int32_t FBytesSent = 0;
    bool FCanceled = false;
    bool FFinalizing = false;
    bool FDestroying = false;
    std::int32_t FLastError = 0;
    std::int32_t FTimeOut = 0;
    std::int32_t FReportLevel = 0;
    String FStatus;
    String FProxy;
    std::int32_t FProxyPort = 0;
    TThreadTimer* FTimeOutTimer = nullptr;
    bool FLastEventOk = false;
    bool FTimedOut = false;
    std::int32_t FPort = 0;
    std::int32_t FBytesReceived = 0;
    bool FLookupDone = false;
    win::WSADATA FWinsockData = {};
    win::SOCKADDR_IN FRemoteAddress = {};
    String FHost;
    std::unique_ptr<char[]> FHostEntryBuffer;
    String FLastReply;
    std::int16_t FReplyCode = 0;
    std::uint16_t FSocketHandle = NoSocket;
    win::HWND FNotifyWindow = nullptr;
    bool FConnected = false;
    // Our own additions: the blocked-send wait and the object's liveness.
    bool FWriteReady = false;
    unsigned FCloseEvents = 0;
    // The error a close notification of this connection carried (0 for an
    // orderly close); cleared when the next connection starts.
    std::int32_t FCloseError = 0;
    int FTimeOutSpans = 0;
    win::HANDLE FLookupTask = nullptr;
    Liveness FAlive = std::make_shared<bool>(true);
};
