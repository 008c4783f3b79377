// URL splitting, request composition and the published properties of the
// HTTP client: the steps that need no network.

#include "net/http/NMHttpTestFixture.h"

#include "runtime/Exceptions.h"
#include "runtime/TypInfo.h"

using namespace nmhttp_test;

namespace {

// --- URL splitting -------------------------------------------------------------

TEST(SplitURL, HostPortAndPathFollowTheUrlRules) {
    const struct {
        const char* url;
        int portBefore;
        const char* host;
        int port;
        const char* path;
        const char* urlAfter;
    } cases[] = {
        {"http://h.example/p/q", 0, "h.example", 80, "/p/q", "http://h.example/p/q"},
        {"http://h.example", 0, "h.example", 80, "/", "http://h.example/"},
        {"http://h.example/", 0, "h.example", 80, "/", "http://h.example/"},
        {"h.example:8080/p", 0, "h.example", 8080, "/p", "h.example:8080/p"},
        {"h.example/p", 0, "h.example", 80, "/p", "h.example/p"},
        {"h.example/p", 8000, "h.example", 8000, "/p", "h.example/p"},
        {"/p?x=1", 0, "old.host", 80, "/p?x=1", "/p?x=1"},
        {"/p?t=12:30", 8000, "old.host", 80, "/p?t=12:30", "/p?t=12:30"},
        {"ftp://h.example/f", 0, "h.example", 21, "/f", "ftp://h.example/f"},
        {"gopher://h.example/f", 0, "h.example", 70, "/f", "gopher://h.example/f"},
        {"h.example", 0, "h.example", 80, "/", "h.example/"},
        {"127.0.0.1/markets/scripts/val_res1a.asp?date_req=07.12.2000", 0, "127.0.0.1", 80,
         "/markets/scripts/val_res1a.asp?date_req=07.12.2000",
         "127.0.0.1/markets/scripts/val_res1a.asp?date_req=07.12.2000"},
    };
    for (const auto& c : cases) {
        TestableHTTP http;
        http.SetHost("old.host");
        http.SetPort(c.portBefore);
        http.SetRequestURL(c.url);
        http.SplitURL();
        EXPECT_EQ(http.Host(), c.host) << c.url;
        EXPECT_EQ(http.Port(), c.port) << c.url;
        EXPECT_EQ(http.RequestPath(), c.path) << c.url;
        EXPECT_EQ(http.RequestURL(), c.urlAfter) << c.url;
    }
}

TEST(SplitURL, LongPathsAreCutAndBadUrlsRaise) {
    TestableHTTP http;
    const String path = "/" + String(299, 'a');
    http.SetRequestURL("http://h" + path);
    http.SplitURL();
    EXPECT_EQ(http.RequestPath(), path.substr(0, 256));

    http.SetRequestURL("");
    try {
        http.SplitURL();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Empty URL");
        EXPECT_EQ(e.ClassName(), "Exception");
    }
    http.SetRequestURL("HTTPS://h/p");
    try {
        http.SplitURL();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "HTTP Secure Socket is not supported");
    }
    http.SetRequestURL("http://h:/p");
    EXPECT_THROW(http.SplitURL(), EConvertError);
    http.SetRequestURL("http://h:8o/p");
    EXPECT_THROW(http.SplitURL(), EConvertError);
}

TEST(TextFields, ExtractFieldAndFindOccurrence) {
    EXPECT_EQ(ExtractField("a:b::c", ':', 1), "a");
    EXPECT_EQ(ExtractField("a:b::c", ':', 3), "");
    EXPECT_EQ(ExtractField("a:b::c", ':', 4), "c");
    EXPECT_EQ(ExtractField("a:b::c", ':', 5), "");
    EXPECT_EQ(ExtractField("", ':', 1), "");
    EXPECT_EQ(ExtractField("HTTP/1.0 200 OK\r\n", ' ', 2), "200");
    EXPECT_EQ(ExtractField("HTTP/1.0 200\r\n", ' ', 2), "200\r\n");
    EXPECT_EQ(FindOccurrence("http://h/p", '/', 3), 9);
    EXPECT_EQ(FindOccurrence("http://h", '/', 3), 9);
    EXPECT_EQ(FindOccurrence("", '/', 1), 1);
}

// --- Request composition -------------------------------------------------------

TEST(BuildRequest, HeaderLinesInTheirFixedOrder) {
    TestableHTTP http;
    http.HeaderInfo()->SetLocalProgram("kurs");
    http.HeaderInfo()->SetLocalMailAddress("me@h");
    http.HeaderInfo()->SetCookie("a=1");
    http.HeaderInfo()->SetReferer("http://r/");
    http.HeaderInfo()->SetUserId(String(40, 'u'));
    http.HeaderInfo()->SetPassword(String(40, 'p'));
    http.SetProxy("proxy.host");
    http.SetRequestURL("h:8080/p");
    http.SetCommand(ctCopy);
    http.SplitURL();
    http.BuildRequest();
    const auto lines = http.RequestHeaders().ToVector();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "COPY h:8080/p HTTP/1.0");
    EXPECT_EQ(lines[1], "Proxy-Connection: Keep-Alive");
    EXPECT_EQ(lines[2], "Host: h");
    EXPECT_EQ(lines[5], "User-Agent: kurs");
    EXPECT_EQ(lines[6], "From: me@h");
    EXPECT_EQ(lines[7], "Cookie: a=1");
    EXPECT_EQ(lines[8], "Referer: http://r/");
    // 81 bytes of credentials: one unbroken Base64 value.
    EXPECT_EQ(lines[9].rfind("Authorization: Basic dXV1", 0), 0u);
    EXPECT_EQ(lines[9].size(), std::string("Authorization: Basic ").size() + 108);
    EXPECT_EQ(lines[10], "Content-type: application/x-www-form-urlencoded");
    EXPECT_EQ(lines[11], "URI-header: ");
}

TEST(BuildRequest, CredentialsNeedBothPartsAndBodiesAnnounceTheirLength) {
    TestableHTTP http;
    http.HeaderInfo()->SetUserId("user");
    http.SetRequestURL("http://h/");
    http.SetCommand(ctGet);
    http.SplitURL();
    http.BuildRequest();
    for (const auto& line : http.RequestHeaders().ToVector())
        EXPECT_EQ(line.find("Authorization"), String::npos);

    http.HeaderInfo()->SetPassword("pw");
    http.BuildRequest();
    EXPECT_EQ(http.RequestHeaders().IndexOfField("authorization"), 4);
    EXPECT_EQ(http.RequestHeaders()[4], "Authorization: Basic dXNlcjpwdw==");

    for (CmdType c : {ctHead, ctOptions, ctDelete, ctMove, ctLink, ctUnlink}) {
        http.SetCommand(c);
        http.BuildRequest();
        EXPECT_EQ(http.RequestHeaders().IndexOfField("Content-Length"), -1) << int(c);
    }
    http.SetCommand(ctLink);
    http.BuildRequest();
    EXPECT_EQ(http.RequestHeaders()[0], "LINK / HTTP/1.0");
    EXPECT_EQ(http.RequestHeaders()[http.RequestHeaders().Count() - 1], "Link: ");
}

TEST(BuildRequest, AMissingDataFileRaisesBeforeAnyConnection) {
    TestableHTTP http;
    http.SetOutputFileMode(true);
    int connects = 0;
    http.OnConnect = [&](TObject*) { ++connects; };
    EXPECT_THROW(http.Put("http://127.0.0.1:9/", "/nonexistent/kurs-data"), EFOpenError);
    EXPECT_EQ(connects, 0);
}

// --- Published properties ------------------------------------------------------------

// The client publishes its own properties and events besides the socket
// client's, with their defaults and starting values, and its HeaderInfo
// publishes the six header texts; each is read and written through the
// registry.
TEST(Published, TheClientAndItsHeaderInfoPublishTheirProperties) {
    TNMHTTP http(nullptr);
    const struct {
        const char* name;
        TTypeKind kind;
        const char* typeName;
    } own[] = {
        {"OnPacketRecvd", tkMethod, "TNotifyEvent"},
        {"OnPacketSent", tkMethod, "TNotifyEvent"},
        {"Body", tkLString, "String"},
        {"Header", tkLString, "String"},
        {"HeaderInfo", tkClass, "THeaderInfo"},
        {"InputFileMode", tkEnumeration, "Boolean"},
        {"OutputFileMode", tkEnumeration, "Boolean"},
        {"OnAboutToSend", tkMethod, "TNotifyEvent"},
        {"OnSuccess", tkMethod, "TResultEvent"},
        {"OnFailure", tkMethod, "TResultEvent"},
        {"OnRedirect", tkMethod, "THandlerEvent"},
        {"OnAuthenticationNeeded", tkMethod, "TNotifyEvent"},
        {"Proxy", tkLString, "String"},
        {"ProxyPort", tkInteger, "Integer"},
        // The socket client's, still there.
        {"Host", tkLString, "String"},
        {"TimeOut", tkInteger, "Integer"},
        {"ReportLevel", tkInteger, "Integer"},
        {"OnHostResolved", tkMethod, "TNotifyEvent"},
    };
    for (const auto& p : own) {
        const TPropInfo* info = GetPropInfo(&http, p.name);
        ASSERT_NE(info, nullptr) << p.name;
        EXPECT_EQ(info->Kind(), p.kind) << p.name;
        EXPECT_EQ(info->PropType()->Name, p.typeName) << p.name;
    }
    for (const char* name : {"InputFileMode", "OutputFileMode", "ProxyPort"}) {
        const TPropInfo* info = GetPropInfo(&http, name);
        EXPECT_TRUE(info->HasDefault()) << name;
        EXPECT_EQ(info->Default(), 0) << name;
        EXPECT_EQ(info->GetOrd(&http), 0) << name;
    }
    EXPECT_EQ(GetPropInfo(&http, "ReportLevel")->Default(), 1);
    EXPECT_EQ(GetPropInfo(&http, "Body")->GetStr(&http), "Default.htm");
    EXPECT_EQ(GetPropInfo(&http, "Header")->GetStr(&http), "Head.txt");
    EXPECT_EQ(GetPropInfo(&http, "Proxy")->GetStr(&http), "");

    GetPropInfo(&http, "Proxy")->SetStr(&http, "proxy.host");
    GetPropInfo(&http, "ProxyPort")->SetOrd(&http, 3128);
    GetPropInfo(&http, "InputFileMode")->SetOrd(&http, 1);
    EXPECT_EQ(http.Proxy(), "proxy.host");
    EXPECT_EQ(http.ProxyPort(), 3128);
    EXPECT_TRUE(http.InputFileMode());
    const TPropInfo* redirect = GetPropInfo(&http, "OnRedirect");
    EXPECT_FALSE(redirect->IsAssigned(&http));
    http.OnRedirect = [](bool&) {};
    EXPECT_TRUE(redirect->IsAssigned(&http));
    EXPECT_FALSE(GetPropInfo(&http, "OnPacketSent")->IsAssigned(&http));

    TObject* header = GetPropInfo(&http, "HeaderInfo")->GetObject(&http);
    ASSERT_EQ(header, http.HeaderInfo());
    std::vector<std::string> names;
    for (const TPropInfo* p : GetPropList(header)) {
        EXPECT_EQ(p->Kind(), tkLString) << p->Name();
        EXPECT_EQ(p->GetStr(header), "") << p->Name();
        names.push_back(p->Name());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Cookie", "LocalMailAddress", "LocalProgram",
                                               "Password", "Referer", "UserId"}));
    GetPropInfo(header, "Cookie")->SetStr(header, "id=7");
    EXPECT_EQ(http.HeaderInfo()->Cookie(), "id=7");
    // Assigning another header record copies its texts.
    THeaderInfo other;
    other.SetReferer("http://r/");
    GetPropInfo(&http, "HeaderInfo")->SetObject(&http, &other);
    EXPECT_EQ(http.HeaderInfo()->Referer(), "http://r/");
    EXPECT_EQ(http.HeaderInfo()->Cookie(), "");
}

}  // namespace
