#include "net/http/NMHttp.h"

#include <sys/mman.h>

#include <cstdint>
#include <limits>

#include "net/http/NMURL.h"
#include "net/http/NMUUE.h"
#include "platform/Trace.h"
#include "runtime/Exceptions.h"
#include "runtime/ScopeGuard.h"
#include "runtime/Streams.h"

namespace {

constexpr const char* kMethodWords[] = {"GET",  "OPTIONS", "HEAD",   "POST", "PUT",    "PATCH",
                                        "COPY", "MOVE",    "DELETE", "LINK", "UNLINK", "TRACE"};

bool HasBody(CmdType c) {
    return c == ctPost || c == ctPut || c == ctPatch || c == ctTrace;
}

bool IsRedirection(int code) {
    return code >= 300 && code <= 399;
}

// The line without its CR LF or LF.
std::string_view WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

// The text without the blanks (control characters and spaces) around it,
// as Trim cuts them, without a copy.
std::string_view WithoutBlanks(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

// A peer's text for a trace line: control bytes shown as '?', at most
// 200 bytes, so a hostile answer cannot drive the terminal.
String Printable(std::string_view text) {
    String shown(WithoutLineEnd(text).substr(0, 200));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7f')
            c = '?';
    return shown;
}

// A header value ends at a NUL byte: carried into the next request, a NUL
// would cut the request short, since a text goes out only up to its first NUL.
String HeaderValue(std::string_view line, int position) {
    String value = ::Copy(line, position, 256);
    if (const std::size_t nul = value.find('\0'); nul != String::npos)
        value.resize(nul);
    return value;
}

// Asks for huge pages for the room of a large body kept in memory, where the
// system gives them on request: touching hundreds of megabytes of new memory
// one small page at a time costs more than receiving them.  Only whole huge
// pages inside the room are marked; a system without them ignores the advice.
void PreferHugePages(const String& room) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    if (room.capacity() < 4 * kHugePage)
        return;
    const auto begin = reinterpret_cast<std::uintptr_t>(room.data());
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (begin + room.capacity()) & ~(kHugePage - 1);
    if (end > first)
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

// A Content-Length value: decimal digits only (blanks around allowed).
bool ParseLength(std::string_view text, std::int64_t& length) {
    const String v = Trim(text);
    if (v.empty() || v.size() > 18)
        return false;
    std::int64_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    length = n;
    return true;
}

}  // namespace

String ExtractField(std::string_view text, char delimiter, int number) {
    if (text.empty() || number < 1)
        return {};
    std::size_t start = 0;
    for (int field = 1; field < number; ++field) {
        const std::size_t d = text.find(delimiter, start);
        if (d == std::string_view::npos)
            return {};
        start = d + 1;
    }
    const std::size_t end = text.find(delimiter, start);
    return String(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
}

int FindOccurrence(std::string_view text, char ch, int number) {
    int seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == ch && ++seen == number)
            return static_cast<int>(i) + 1;
    return static_cast<int>(text.size()) + 1;
}

THeaderInfo::THeaderInfo() {
    ClassProperties();
}

const TClassInfo* THeaderInfo::ClassProperties() {
    static const TClassInfo* info = RegisterPublishedClass<THeaderInfo, TObject>(
        "THeaderInfo", [](TPublishedProperties<THeaderInfo>& p) {
            p.String("LocalMailAddress", &THeaderInfo::LocalMailAddress,
                     &THeaderInfo::SetLocalMailAddress);
            p.String("LocalProgram", &THeaderInfo::LocalProgram, &THeaderInfo::SetLocalProgram);
            p.String("Cookie", &THeaderInfo::Cookie, &THeaderInfo::SetCookie);
            p.String("Referer", &THeaderInfo::Referer, &THeaderInfo::SetReferer);
            p.String("UserId", &THeaderInfo::UserId, &THeaderInfo::SetUserId);
            p.String("Password", &THeaderInfo::Password, &THeaderInfo::SetPassword);
        });
    return info;
}

void THeaderInfo::Assign(TPersistent* source) {
    if (auto* other = dynamic_cast<THeaderInfo*>(source)) {
        FLocalMailAddress = other->FLocalMailAddress;
        FLocalProgram = other->FLocalProgram;
        FCookie = other->FCookie;
        FReferer = other->FReferer;
        FUserId = other->FUserId;
        FPassword = other->FPassword;
        return;
    }
    TPersistent::Assign(source);
}

const TClassInfo* TNMHTTP::ClassProperties() {
    static const TClassInfo* info = [] {
        TPowersock::ClassProperties();
        const TTypeInfo* headerInfo = THeaderInfo::ClassProperties()->ClassType();
        const TTypeInfo* resultEvent = NewMethodTypeInfo("TResultEvent");
        const TTypeInfo* handlerEvent = NewMethodTypeInfo("THandlerEvent");
        return RegisterPublishedClass<TNMHTTP, TPowersock>(
            "TNMHTTP", [&](TPublishedProperties<TNMHTTP>& p) {
                p.Method("OnPacketRecvd", &TNMHTTP::OnPacketRecvd);
                p.Method("OnPacketSent", &TNMHTTP::OnPacketSent);
                p.String("Body", &TNMHTTP::Body, &TNMHTTP::SetBody);
                p.String("Header", &TNMHTTP::Header, &TNMHTTP::SetHeader);
                p.Class("HeaderInfo", headerInfo, &TNMHTTP::HeaderInfo, &TNMHTTP::SetHeaderInfo);
                p.Boolean("InputFileMode", &TNMHTTP::InputFileMode, &TNMHTTP::SetInputFileMode)
                    .SetDefault(0);
                p.Boolean("OutputFileMode", &TNMHTTP::OutputFileMode, &TNMHTTP::SetOutputFileMode)
                    .SetDefault(0);
                p.Method("OnAboutToSend", &TNMHTTP::OnAboutToSend);
                p.Method("OnSuccess", &TNMHTTP::OnSuccess, resultEvent);
                p.Method("OnFailure", &TNMHTTP::OnFailure, resultEvent);
                p.Method("OnRedirect", &TNMHTTP::OnRedirect, handlerEvent);
                p.Method("OnAuthenticationNeeded", &TNMHTTP::OnAuthenticationNeeded);
                p.String("Proxy", &TNMHTTP::Proxy, &TNMHTTP::SetProxy);
                p.Integer("ProxyPort", &TNMHTTP::ProxyPort, &TNMHTTP::SetProxyPort).SetDefault(0);
            });
    }();
    return info;
}

TNMHTTP::TNMHTTP(TComponent* AOwner)
    : TPowersock(AOwner),
      FHeaderInfo(std::make_unique<THeaderInfo>()),
      FRequestHeaders(std::make_unique<TExStringList>()) {
    ClassProperties();
}

TNMHTTP::~TNMHTTP() = default;

void TNMHTTP::SetMaxBodyInMemory(std::int64_t Value) {
    // The capture's limit is one more than the cap and must fit an int.
    if (Value < 0 || Value >= std::numeric_limits<int>::max())
        throw ERangeError(String("Range check error"));
    FMaxBodyInMemory = Value;
}

void TNMHTTP::Abort() {
    SetLookupDone(true);
    Cancel();
}

void TNMHTTP::Record(const String& URL, CmdType command) {
    FRequestURL = URL;
    FCommand = command;
}

void TNMHTTP::Options(const String& URL) {
    Record(URL, ctOptions);
    RunCommand();
}

void TNMHTTP::Get(const String& URL) {
    Record(URL, ctGet);
    RunCommand();
}

void TNMHTTP::Head(const String& URL) {
    Record(URL, ctHead);
    RunCommand();
}

void TNMHTTP::Delete(const String& URL) {
    Record(URL, ctDelete);
    RunCommand();
}

void TNMHTTP::Post(const String& URL, const String& PostData) {
    FRequestURL = URL;
    if (FOutputFileMode) {
        FSendData = PostData;
    } else {
        TNMURL escaper(this);
        escaper.SetInputString(PostData);
        FSendData = escaper.Encode();
    }
    FCommand = ctPost;
    RunCommand();
}

void TNMHTTP::Put(const String& URL, const String& PutData) {
    FSendData = PutData;
    Record(URL, ctPut);
    RunCommand();
}

void TNMHTTP::Patch(const String& URL, const String& PatchData) {
    FSendData = PatchData;
    Record(URL, ctPatch);
    RunCommand();
}

void TNMHTTP::Trace(const String& URL, const String& TraceData) {
    FSendData = TraceData;
    Record(URL, ctTrace);
    RunCommand();
}

void TNMHTTP::Copy(const String& URL, const String& Destination) {
    FExtraHeaderValue = Destination;
    Record(URL, ctCopy);
    RunCommand();
}

void TNMHTTP::Move(const String& URL, const String& Destination) {
    FExtraHeaderValue = Destination;
    Record(URL, ctMove);
    RunCommand();
}

void TNMHTTP::Link(const String& URL, const String& LinkValue) {
    FExtraHeaderValue = LinkValue;
    FSendData = "Send.dat";
    Record(URL, ctLink);
    RunCommand();
}

void TNMHTTP::Unlink(const String& URL, const String& LinkValue) {
    FExtraHeaderValue = LinkValue;
    FSendData = "Send.dat";
    Record(URL, ctUnlink);
    RunCommand();
}

void TNMHTTP::RunCommand() {
    try {
        for (int pass = 1;; ++pass) {
            if (!RunPass())
                return;
            if (pass >= MaxRedirectPasses)
                throw Exception(String("Too many redirects"));
        }
    } catch (const Exception& e) {
        KURS_TRACE(Http, "failed: %s", Printable(e.Message()).c_str());
        throw;
    }
}

bool TNMHTTP::RunPass() {
    SplitURL();
    BuildRequest();
    if (OnAboutToSend)
        OnAboutToSend(this);

    {
        // The connection is closed before the caller sees a failure; a
        // second failure while closing must not hide the first.
        ScopeFail disconnect([this] {
            try {
                Disconnect();
            } catch (...) {
            }
        });
        Connect();
        SendRequest();
        SetReplyCode(0);
        ReadResponseHeader();
        ReadBody();
        const int code = ReplyCode();
        if (code < 300) {
            if (OnSuccess)
                OnSuccess(FCommand);
            StatusMessage(2, "Transaction Completed");
        } else if (IsRedirection(code)) {
            if (code <= 302)
                FRequestURL = FRedirectLocation;
        } else if (OnFailure) {
            OnFailure(FCommand);
        }
    }
    Disconnect();

    const int code = ReplyCode();
    if (IsRedirection(code)) {
        bool handled = false;
        if (!FReceivedCookie.empty())
            FHeaderInfo->SetCookie(FReceivedCookie);
        if (OnRedirect)
            OnRedirect(handled);
        // Only 300, 301 and 302 name a new URL; another pass for any other
        // redirection would ask for the same URL again.
        if (handled || code > 302)
            return false;
        // A bare file name is taken on the current host.  An empty URL (an
        // answer without Location, and none seen before) stays empty, so the
        // next pass stops with "Empty URL" instead of asking for the host's
        // root at port 80.
        if (!FRequestURL.empty() && FRequestURL.find('/') == String::npos)
            FRequestURL = "http://" + Host() + "/" + FRequestURL;
        KURS_TRACE(Http, "redirect %d to %s", code, Printable(FRequestURL).c_str());
        return true;
    }
    if (code == 401 && OnAuthenticationNeeded)
        OnAuthenticationNeeded(this);
    return false;
}

void TNMHTTP::SplitURL() {
    if (FRequestURL.empty())
        throw Exception(String("Empty URL"));
    if (Port() == 0)
        SetPort(80);

    const std::string_view url = FRequestURL;
    const bool hasDoubleSlash = url.find("//") != std::string_view::npos;
    if (hasDoubleSlash) {
        FRequestPath = ::Copy(url, FindOccurrence(url, '/', 3), 256);
    } else if (const int slash = Pos("/", url); slash > 0) {
        FRequestPath = ::Copy(url, slash, 256);
    } else {
        FRequestPath.clear();
    }

    if (url.find(':') != std::string_view::npos) {
        const String scheme = LowerCase(ExtractField(url, ':', 1));
        if (scheme == "gopher")
            SetPort(70);
        else if (scheme == "ftp")
            SetPort(21);
        else if (scheme == "https")
            throw Exception(String("HTTP Secure Socket is not supported"));
        else
            SetPort(80);
    }

    String host;
    if (hasDoubleSlash)
        host = ExtractField(url, '/', 3);
    else if (url.front() != '/')
        host = ExtractField(url, '/', 1);
    if (const std::size_t colon = host.find(':'); colon != String::npos) {
        SetPort(StrToInt(ExtractField(host, ':', 2)));
        host.resize(colon);
    }
    if (!host.empty())
        SetHost(host);

    if (FRequestPath.empty()) {
        FRequestPath = "/";
        FRequestURL += "/";
    }
}

void TNMHTTP::BuildRequest() {
    TExStringList& lines = *FRequestHeaders;
    lines.Clear();
    const bool viaProxy = !Proxy().empty();
    lines.Add(String(kMethodWords[FCommand]) + " " + (viaProxy ? FRequestURL : FRequestPath) +
              " HTTP/1.0");
    if (viaProxy) {
        lines.Add("Proxy-Connection: Keep-Alive");
        lines.Add("Host: " + Host());
    }
    lines.SetField("Host", Host());
    lines.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    lines.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");

    const THeaderInfo& info = *FHeaderInfo;
    if (!info.LocalProgram().empty())
        lines.SetField("User-Agent", info.LocalProgram());
    if (!info.LocalMailAddress().empty())
        lines.SetField("From", info.LocalMailAddress());
    if (!info.Cookie().empty())
        lines.SetField("Cookie", info.Cookie());
    if (!info.Referer().empty())
        lines.SetField("Referer", info.Referer());
    if (!info.UserId().empty() && !info.Password().empty()) {
        TStringStream input(info.UserId() + ":" + info.Password());
        TStringStream output;
        TNMUUProcessor encoder(this);
        encoder.SetMethod(uuMime);
        encoder.SetInputStream(&input);
        encoder.SetOutputStream(&output);
        encoder.Encode();
        String encoded = output.DataString();
        // One unbroken value: the encoder ends every 60 characters with CR LF.
        std::erase_if(encoded, [](char c) { return c == '\r' || c == '\n'; });
        lines.SetField("Authorization", "Basic " + encoded);
    }

    lines.Add("Content-type: application/x-www-form-urlencoded");
    if (FCommand == ctCopy || FCommand == ctMove)
        lines.Add("URI-header: " + FExtraHeaderValue);
    else if (FCommand == ctLink || FCommand == ctUnlink)
        lines.Add("Link: " + FExtraHeaderValue);

    // The head goes out as text, which ends at its first NUL: a value with
    // one would send half a request and wait for an answer that never comes.
    for (int i = 0; i < lines.Count(); ++i)
        if (lines[i].find('\0') != String::npos)
            throw Exception(String("Request header holds a NUL byte"));

    // Link and Unlink send no body, so they announce none either.
    if (HasBody(FCommand)) {
        std::int64_t size = static_cast<std::int64_t>(FSendData.size());
        if (FOutputFileMode) {
            TFileStream file(FSendData, fmOpenRead | fmShareDenyWrite);
            size = file.Size();
        }
        lines.Add("Content-Length: " + IntToStr(size));
    }
}

void TNMHTTP::SendRequest() {
    KURS_TRACE(Http, "request %s", Printable((*FRequestHeaders)[0]).c_str());
    Write(FRequestHeaders->Text());
    Writeln("");
    if (!HasBody(FCommand))
        return;
    if (FOutputFileMode)
        SendFile(FSendData);
    else
        Write(FSendData);
}

void TNMHTTP::StoreHeadLine(const String& line, TStream* file) {
    if (file)
        file->Write(line.data(), static_cast<int>(line.size()));
    else
        FHeader += line;
}

void TNMHTTP::ReadResponseHeader() {
    FReceivedCookie.clear();
    FKeepAliveLength = -1;
    FContentLength = -1;
    std::unique_ptr<TStream> file;
    if (FOutputFileMode)
        file = std::make_unique<TFileStream>(FHeader, fmCreate);
    else
        FHeader.clear();

    // One time-out for the whole head: a peer that sends a line now and
    // then must not hold the request for a time-out per line.
    TimeOutSpan span(*this);
    std::int64_t headSize = 0;
    auto readHeadLine = [&] {
        String read = ReadLn();
        headSize += static_cast<std::int64_t>(read.size());
        if (headSize > MaxHeadSize)
            throw ESockError(String("Answer head too large"));
        return read;
    };

    String line = readHeadLine();
    KURS_TRACE(Http, "status %s", Printable(line).c_str());
    if (!line.empty()) {
        int code = 0;
        if (TryStrToInt(ExtractField(line, ' ', 2), code)) {
            if (code < std::numeric_limits<std::int16_t>::min() ||
                code > std::numeric_limits<std::int16_t>::max())
                throw ERangeError(String("Range check error"));
            SetReplyCode(static_cast<std::int16_t>(code));
        }
    }
    StoreHeadLine(line, file.get());

    bool keepAlive = false;
    std::int64_t contentLength = -1;
    for (;;) {
        line = readHeadLine();
        // The first word is the line up to its first space, line end and all.
        const std::string_view text = line;
        const std::string_view first = text.substr(0, text.find(' '));
        const std::string_view content = WithoutLineEnd(text);
        if (SameText(first, "SET-COOKIE:"))
            FReceivedCookie = HeaderValue(content, 13);
        else if (SameText(first, "LOCATION:"))
            FRedirectLocation = HeaderValue(content, 11);

        if (const std::size_t colon = content.find(':'); colon != std::string_view::npos) {
            const std::string_view name = WithoutBlanks(content.substr(0, colon));
            const std::string_view value = WithoutBlanks(content.substr(colon + 1));
            KURS_TRACE(Http, "header %s", Printable(name).c_str());
            if (SameText(name, "Connection") || SameText(name, "Proxy-Connection"))
                keepAlive = keepAlive || SameText(value, "keep-alive");
            else if (SameText(name, "Content-Length") && !ParseLength(value, contentLength))
                contentLength = -1;
        }

        StoreHeadLine(line, file.get());
        if (line.empty() || line == "\n" || line == "\r\n")
            break;
    }
    FContentLength = contentLength;
    if (keepAlive && contentLength >= 0)
        FKeepAliveLength = contentLength;
}

void TNMHTTP::ReadBody() {
    if (FInputFileMode) {
        CaptureFile(FBody, FKeepAliveLength);
        KURS_TRACE(Http, "body %lld bytes to a file", static_cast<long long>(BytesReceived()));
        return;
    }
    std::int64_t limit = FMaxBodyInMemory + 1;
    if (FKeepAliveLength >= 0 && FKeepAliveLength < limit)
        limit = FKeepAliveLength;
    // An announced length that fits the cap gets its room at once, so that
    // body arrives without a copy on the way (the last answer's room, already
    // in memory, is used again when it is larger).
    FBody.clear();
    if (FContentLength >= 0 && FContentLength <= FMaxBodyInMemory) {
        FBody.reserve(static_cast<std::size_t>(FContentLength));
        PreferHugePages(FBody);
    }
    CaptureString(FBody, static_cast<int>(limit));
    if (FKeepAliveLength >= 0 && static_cast<std::int64_t>(FBody.size()) > FKeepAliveLength)
        FBody.resize(static_cast<std::size_t>(FKeepAliveLength));
    KURS_TRACE(Http, "body %zu bytes", FBody.size());
    if (static_cast<std::int64_t>(FBody.size()) > FMaxBodyInMemory)
        throw ESockError(String("Answer too large"));
}
