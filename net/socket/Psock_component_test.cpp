#include "net/socket/Psock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "net/socket/Psock_test.h"
#include "platform/clock/FakeClock.h"
#include "platform/messages/Messages.h"
#include "platform/sockets/Winsock.h"
#include "runtime/Exceptions.h"
#include "testing/SocketPeer.h"

using namespace psock_test;

namespace {

// ---- status reports ------------------------------------------------------------------------

TEST_F(Fixture, ReportLevelsAndTheirTexts) {
    Listener l;
    struct Case {
        int Level;
        std::vector<std::string> Expected;
    };
    const Case cases[] = {
        {0, {}},
        {4, {"Sending Buffer", "Request Close Socket"}},
        {8,
         {"Connecting", "Resolve Host", "Timer On", "Timer Off", "Writeln", "Write",
          "Sending Buffer", "Timer On", "Timer Off", "Disconnecting", "Request Close Socket"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Level);
        TPowersock s(nullptr);
        s.SetReportLevel(c.Level);
        std::vector<std::string> got;
        s.OnStatus = [&](TComponent* sender, String status) {
            EXPECT_EQ(sender, &s);
            got.push_back(status);
        };
        Conn peer;
        ConnectPair(s, l, peer);
        s.Writeln("hi");
        s.Disconnect();
        EXPECT_EQ(got, c.Expected);
        EXPECT_EQ(s.Status(), c.Expected.empty() ? "" : c.Expected.back());
    }
}

TEST_F(Fixture, StatusHandlerExceptionsAreSwallowed) {
    TPowersock s(nullptr);
    s.SetReportLevel(8);
    s.OnStatus = [](TComponent*, String) { throw Exception(String("boom")); };
    s.Cancel();
    EXPECT_TRUE(s.Canceled());
    EXPECT_EQ(s.Status(), "Canceling");
}

TEST_F(Fixture, ErrorTexts) {
    TPowersock s(nullptr);
    struct Case {
        std::uint16_t Number;
        const char* Text;
    };
    const Case cases[] = {
        {0, ""},
        {10004, "10004:Interrupted system call"},
        {10061, "10061:Connection refused"},
        {10065, "10065:No route to Host"},
        {11003, "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
        {11004, "11004:Valid name, no data record of requested type"},
        {10072, "Unknown Error No. 10072"},
        {5, "Unknown Error No. 5"},
    };
    for (const auto& c : cases) {
        String text = "junk";
        s.SocketErrorText(c.Number, text);
        EXPECT_EQ(text, c.Text);
    }
    // Would-block and numbers up to 10000 pass; a real error raises its text.
    String text = "junk";
    win::WSASetLastError(win::WSAEWOULDBLOCK);
    s.CheckSocketError(win::WSAEWOULDBLOCK, text);
    EXPECT_EQ(text, "");
    win::WSASetLastError(10000);
    s.CheckSocketError(win::WSAEWOULDBLOCK, text);
    win::WSASetLastError(win::WSAECONNREFUSED);
    EXPECT_EQ(Raised<ESockError>([&] { s.CheckSocketError(win::WSAEWOULDBLOCK, text); }),
              "10061:Connection refused");
    EXPECT_EQ(s.LastError(), 10061);
}

// Every entry of the error table, and numbers just beside them.
TEST_F(Fixture, TheWholeErrorTable) {
    TPowersock s(nullptr);
    const struct {
        std::uint16_t number;
        const char* message;
    } table[] = {
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
    ASSERT_EQ(std::size(table), 50u);
    for (const auto& e : table) {
        String text;
        s.SocketErrorText(e.number, text);
        EXPECT_EQ(text, std::to_string(e.number) + ":" + e.message);
    }
    for (const std::uint16_t unknown : {10000, 10003, 10005, 10072, 10090, 10094, 11000, 11005}) {
        String text;
        s.SocketErrorText(unknown, text);
        EXPECT_EQ(text, "Unknown Error No. " + std::to_string(unknown));
    }
}

// ---- instances -----------------------------------------------------------------------------

TEST_F(Fixture, TwoInstancesShareOneStartup) {
    ASSERT_EQ(TPowersock::WinsockUsers(), 0);
    auto first = std::make_unique<TPowersock>(nullptr);
    auto second = std::make_unique<TPowersock>(nullptr);
    EXPECT_EQ(TPowersock::WinsockUsers(), 2);
    ASSERT_EQ(first->WinsockInfo()->Count(), 6);
    EXPECT_EQ((*first->WinsockInfo())[0], "Version= 1.1");
    EXPECT_EQ((*first->WinsockInfo())[1], "High Version= 1.1");
    EXPECT_EQ((*first->WinsockInfo())[2].rfind("Description= ", 0), 0u);
    EXPECT_EQ((*first->WinsockInfo())[3].rfind("System= ", 0), 0u);
    EXPECT_EQ((*first->WinsockInfo())[4].rfind("Max Sockets= ", 0), 0u);
    EXPECT_EQ((*first->WinsockInfo())[5].rfind("Max Udp pack size= ", 0), 0u);
    EXPECT_EQ(second->WinsockInfo()->Count(), 0);
    EXPECT_NE(first->NotifyWindow(), second->NotifyWindow());

    first.reset();
    EXPECT_EQ(TPowersock::WinsockUsers(), 1);
    Listener l;  // sockets still work for the second
    Conn peer;
    ConnectPair(*second, l, peer);
    second.reset();
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
    // Windows Sockets has ended: the closed connection reached the peer.
    EXPECT_TRUE(peer.WaitClosed(2000));
}

TEST_F(Fixture, DestructionFiresNoEventsAndResetsTheFirstConnection) {
    Listener l;
    auto s = std::make_unique<TPowersock>(nullptr);
    int disconnects = 0, statuses = 0;
    Conn peer;
    ConnectPair(*s, l, peer);
    s->SetReportLevel(8);
    s->OnDisconnect = [&](TObject*) { ++disconnects; };
    s->OnStatus = [&](TComponent*, String) { ++statuses; };
    s.reset();
    EXPECT_EQ(disconnects, 0);
    EXPECT_EQ(statuses, 0);
    bool reset = false;
    peer.ReadUntilClose(2000, &reset);
    EXPECT_TRUE(reset);  // the first socket closes with a reset
}

TEST_F(Fixture, OwnedByAnotherComponent) {
    TComponent owner(nullptr);
    auto* s = new TPowersock(&owner);
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Components(0), s);
    EXPECT_EQ(s->ComponentCount(), 1);  // its timer
}

TEST_F(Fixture, PublishedProperties) {
    TPowersock s(nullptr);
    std::vector<std::string> names;
    for (const TPropInfo* p : GetPropList(&s))
        names.push_back(p->Name());
    for (const char* name : {"Host", "Port", "TimeOut", "ReportLevel", "OnDisconnect", "OnConnect",
                             "OnInvalidHost", "OnHostResolved", "OnStatus", "OnConnectionFailed"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    for (const char* name : {"Proxy", "ProxyPort", "OnPacketRecvd", "OnPacketSent"})
        EXPECT_EQ(std::find(names.begin(), names.end(), name), names.end()) << name;
    const TPropInfo* level = GetPropInfo(&s, "ReportLevel");
    ASSERT_NE(level, nullptr);
    EXPECT_TRUE(level->HasDefault());
    EXPECT_EQ(level->Default(), 1);
    EXPECT_EQ(s.ReportLevel(), 0);  // a new instance holds 0
    SetPropValue(&s, GetPropInfo(&s, "Host"), Variant(String("example")));
    EXPECT_EQ(s.Host(), "example");
}

// When no socket can be made, the construction fails with the start-up
// error and the count of users is back where it was, whether or not this
// was the first user.
TEST_F(Fixture, AFailedConstructionRestoresTheUserCount) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime opens files of its own to check a type, which
    // fails while no descriptor is left, and reports the check as failed.
    GTEST_SKIP() << "runs without descriptors, which the sanitizers' runtime needs";
#endif
    // The message layer is set up once a process, when a component is first
    // made: that happens here, before the descriptors run out, so that only
    // the start of Windows Sockets can fail below.
    { TPowersock warmUp(nullptr); }
    for (const bool another : {false, true}) {
        SCOPED_TRACE(another);
        std::optional<TPowersock> first;
        if (another)
            first.emplace(nullptr);
        const int before = TPowersock::WinsockUsers();
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowest = ::dup(0);
        ASSERT_GE(lowest, 0);
        ::close(lowest);
        rlimit none = saved;
        none.rlim_cur = static_cast<rlim_t>(lowest);  // no descriptor is left
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
        std::string raised;
        try {
            TPowersock failing(nullptr);
            raised = "constructed";
        } catch (const ESockError& e) {
            raised = e.what();
        }
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        EXPECT_EQ(raised, "Initializaton of windows sockets failed");
        EXPECT_EQ(TPowersock::WinsockUsers(), before);
    }
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
    TPowersock works(nullptr);
    EXPECT_EQ(TPowersock::WinsockUsers(), 1);
}

// ---- destruction inside a wait -------------------------------------------------------------

TEST_F(Fixture, DestroyedWhileAWaitRunsInAnOuterCall) {
    Listener l;
    struct Case {
        const char* Name;
        std::function<void(TPowersock&)> Wait;
        const char* Message;
    };
    const Case cases[] = {
        {"ReadLn", [](TPowersock& s) { s.ReadLn(); }, "Socket readln aborted"},
        {"CaptureString",
         [](TPowersock& s) {
             String text;
             s.CaptureString(text, -1);
         },
         "Socket capture aborted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        static TPowersock* gVictim;
        gVictim = new TPowersock(nullptr);
        Conn peer;
        ConnectPair(*gVictim, l, peer);
        clocks::ScopedFakeClock clock;
        win::UINT_PTR timer =
            win::SetTimer(nullptr, 0, 100, [](win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
                win::KillTimer(nullptr, id);
                delete gVictim;
            });
        ASSERT_NE(timer, 0u);
        TPowersock* s = gVictim;
        EXPECT_EQ(Raised<EAbortError>([&] { c.Wait(*s); }), c.Message);
        EXPECT_EQ(TPowersock::WinsockUsers(), 0);
        EXPECT_TRUE(peer.WaitClosed(2000));
    }
}

TEST_F(Fixture, DestroyedFromItsOwnConnectEvent) {
    Listener l;
    auto* s = new TPowersock(nullptr);
    s->SetHost("127.0.0.1");
    s->SetPort(l.Port());
    s->OnConnect = [s](TObject*) { delete s; };
    EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Connection Canceled");
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
}

}  // namespace
