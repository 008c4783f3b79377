#pragma once
// What the HTTP client's tests share: the fixed Accept and Content-type
// lines, a client whose operation steps are open, a client recording its
// events, and small helpers for files, event flows and server URLs.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "net/http/NMHttp.h"
#include "testing/ScriptedServer.h"

namespace nmhttp_test {

using namespace std::string_literals;
using testing_support::ScriptedAnswer;
using testing_support::ScriptedServer;

inline constexpr const char* kAccept =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
inline constexpr const char* kContentType = "Content-type: application/x-www-form-urlencoded\r\n";

// Opens the steps of an operation for tests that need no network.
class TestableHTTP : public TNMHTTP {
  public:
    using TNMHTTP::BuildRequest;
    using TNMHTTP::SetCommand;
    using TNMHTTP::SetRequestURL;
    using TNMHTTP::SplitURL;
    TestableHTTP() : TNMHTTP(nullptr) {}
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A client with a short time-out and a record of its events.
struct Client {
    TNMHTTP http{nullptr};
    std::vector<std::string> events;

    Client() {
        http.SetTimeOut(5000);
        http.SetReportLevel(2);
        http.OnSuccess = [this](CmdType c) { events.push_back("success " + std::to_string(c)); };
        http.OnFailure = [this](CmdType c) { events.push_back("failure " + std::to_string(c)); };
        http.OnStatus = [this](TComponent*, const String& s) { events.push_back("status " + s); };
        http.OnConnect = [this](TObject*) { events.push_back("connect"); };
        http.OnDisconnect = [this](TObject*) { events.push_back("disconnect"); };
        http.OnAboutToSend = [this](TObject*) { events.push_back("about to send"); };
        http.OnAuthenticationNeeded = [this](TObject*) { events.push_back("authentication"); };
    }
};

// The peer's close may fire OnDisconnect before the client's own Disconnect
// does (when no data is left unread at that moment); only the last counts.
inline std::vector<std::string> Flow(std::vector<std::string> events) {
    const auto last = std::find(events.rbegin(), events.rend(), "disconnect");
    if (last == events.rend())
        return events;
    const auto keep = static_cast<std::size_t>(events.rend() - last - 1);
    std::vector<std::string> flow;
    for (std::size_t i = 0; i < events.size(); ++i)
        if (events[i] != "disconnect" || i == keep)
            flow.push_back(events[i]);
    return flow;
}

inline String Url(const ScriptedServer& s, const std::string& path = "/page") {
    return "http://127.0.0.1:" + std::to_string(s.Port()) + path;
}

}  // namespace nmhttp_test
