#pragma once
// TNMHTTP: one HTTP/1.0 exchange per call over the socket client.  Every
// public operation records its arguments and the command and then runs the
// common sequence RunCommand: split the URL, compose the request, connect
// (directly or through a proxy), send, read the head and the body, report the
// outcome and follow redirects.

#include <cstdint>
#include <functional>
#include <memory>

#include "net/http/NMExtstr.h"
#include "net/socket/Psock.h"
#include "runtime/Classes.h"
#include "runtime/String.h"
#include "runtime/TypInfo.h"

enum CmdType : std::uint8_t {
    ctGet,
    ctOptions,
    ctHead,
    ctPost,
    ctPut,
    ctPatch,
    ctCopy,
    ctMove,
    ctDelete,
    ctLink,
    ctUnlink,
    ctTrace
};

using TResultEvent = std::function<void(CmdType Cmd)>;

// The optional request headers; each non-empty value adds a header line.
class THeaderInfo : public TPersistent {
  public:
    THeaderInfo();
    String ClassName() const override { return "THeaderInfo"; }
    // The published properties: the six strings, in the order below.
    static const TClassInfo* ClassProperties();
    void Assign(TPersistent* source) override;

    const String& LocalMailAddress() const { return FLocalMailAddress; }
    void SetLocalMailAddress(const String& v) { FLocalMailAddress = v; }
    const String& LocalProgram() const { return FLocalProgram; }
    void SetLocalProgram(const String& v) { FLocalProgram = v; }
    const String& Cookie() const { return FCookie; }
    void SetCookie(const String& v) { FCookie = v; }
    const String& Referer() const { return FReferer; }
    void SetReferer(const String& v) { FReferer = v; }
    const String& UserId() const { return FUserId; }
    void SetUserId(const String& v) { FUserId = v; }
    const String& Password() const { return FPassword; }
    void SetPassword(const String& v) { FPassword = v; }

  private:
    String FLocalMailAddress;
    String FLocalProgram;
    String FCookie;
    String FReferer;
    String FUserId;
    String FPassword;
};

// The two text helpers of URL splitting and response reading (1-based).
// ExtractField: the number-th field of text cut at every delimiter.
String ExtractField(std::string_view text, char delimiter, int number);
// FindOccurrence: position of the number-th ch, or length + 1 when fewer.
int FindOccurrence(std::string_view text, char ch, int number);

class TNMHTTP : public TPowersock {
  public:
    // A body kept in memory that grows past MaxBodyInMemory bytes ends the
    // operation with "Answer too large": a server that streams without end
    // must not exhaust memory.
    static constexpr std::int64_t DefaultMaxBodyInMemory = std::int64_t{256} << 20;
    // An answer's head (status line and header lines) longer than this ends
    // the operation with "Answer head too large"; a single line longer than
    // the socket client's buffer already fails with a range-check error.
    static constexpr std::int64_t MaxHeadSize = 300 * 1024;
    // Redirect passes of one operation before "Too many redirects".
    static constexpr int MaxRedirectPasses = 20;

    explicit TNMHTTP(TComponent* AOwner);
    ~TNMHTTP() override;
    String ClassName() const override { return "TNMHTTP"; }
    // The published properties, besides the socket client's: OnPacketRecvd,
    // OnPacketSent, Body, Header, HeaderInfo, InputFileMode, OutputFileMode,
    // OnAboutToSend, OnSuccess, OnFailure, OnRedirect,
    // OnAuthenticationNeeded, Proxy, ProxyPort.
    static const TClassInfo* ClassProperties();

    // Published properties.
    const String& Body() const { return FBody; }
    void SetBody(const String& v) { FBody = v; }
    const String& Header() const { return FHeader; }
    void SetHeader(const String& v) { FHeader = v; }
    THeaderInfo* HeaderInfo() const { return FHeaderInfo.get(); }
    void SetHeaderInfo(THeaderInfo* v) { FHeaderInfo->Assign(v); }
    bool InputFileMode() const { return FInputFileMode; }
    void SetInputFileMode(bool v) { FInputFileMode = v; }
    bool OutputFileMode() const { return FOutputFileMode; }
    void SetOutputFileMode(bool v) { FOutputFileMode = v; }
    // The cap of a body kept in memory, 0 .. 2^31 - 2 bytes (ERangeError
    // outside); tests lower it so that none has to stream gigabytes.
    std::int64_t MaxBodyInMemory() const { return FMaxBodyInMemory; }
    void SetMaxBodyInMemory(std::int64_t Value);

    TNotifyEvent OnAboutToSend;
    TResultEvent OnSuccess;
    TResultEvent OnFailure;
    THandlerEvent OnRedirect;
    TNotifyEvent OnAuthenticationNeeded;

    // Sets LookupDone (ending a pending lookup) and cancels; no status text.
    void Abort() override;

    virtual void Options(const String& URL);
    virtual void Get(const String& URL);
    virtual void Post(const String& URL, const String& PostData);
    virtual void Put(const String& URL, const String& PutData);
    virtual void Head(const String& URL);
    virtual void Patch(const String& URL, const String& PatchData);
    virtual void Delete(const String& URL);
    virtual void Trace(const String& URL, const String& TraceData);
    virtual void Copy(const String& URL, const String& Destination);
    virtual void Move(const String& URL, const String& Destination);
    virtual void Link(const String& URL, const String& LinkValue);
    virtual void Unlink(const String& URL, const String& LinkValue);

    // The state of the running (or last) operation, readable by callers.
    const String& RequestURL() const { return FRequestURL; }
    const String& RequestPath() const { return FRequestPath; }
    CmdType Command() const { return FCommand; }
    const String& SendData() const { return FSendData; }
    const String& ExtraHeaderValue() const { return FExtraHeaderValue; }
    const TExStringList& RequestHeaders() const { return *FRequestHeaders; }
    const String& RedirectLocation() const { return FRedirectLocation; }
    const String& ReceivedCookie() const { return FReceivedCookie; }

  protected:
    virtual void RunCommand();
    virtual void SplitURL();
    virtual void BuildRequest();
    virtual void ReadResponseHeader();
    virtual void SendRequest();

    // Test seams: set the recorded state directly.
    void SetRequestURL(const String& v) { FRequestURL = v; }
    void SetCommand(CmdType v) { FCommand = v; }

  private:
    void Record(const String& URL, CmdType command);
    void StoreHeadLine(const String& line, class TStream* file);
    void ReadBody();
    // Outcome of one pass: true when another pass follows.
    bool RunPass();

    String FBody = "Default.htm";
    String FHeader = "Head.txt";
    std::unique_ptr<THeaderInfo> FHeaderInfo;
    bool FInputFileMode = false;
    bool FOutputFileMode = false;

    String FRequestURL;
    String FRequestPath;
    CmdType FCommand = ctGet;
    String FSendData;
    String FExtraHeaderValue;
    std::unique_ptr<TExStringList> FRequestHeaders;
    String FRedirectLocation;
    String FReceivedCookie;
    // A head that says the connection stays open and gives a valid length
    // ends the body after that many bytes; -1 reads until the close.
    std::int64_t FKeepAliveLength = -1;
    // The head's valid Content-Length, -1 without one: the room a body kept
    // in memory is given up front.
    std::int64_t FContentLength = -1;
    std::int64_t FMaxBodyInMemory = DefaultMaxBodyInMemory;
};
