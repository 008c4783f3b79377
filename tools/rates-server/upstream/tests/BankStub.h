#pragma once
// Test peer: a stand-in for the bank's XML service on 127.0.0.1 at a port
// chosen at run time.  Each connection is served on a thread of its own by a
// handler the test gives; the stub counts the requests it received.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace rates::test {

struct StubReply {
    enum class Kind {
        Answer,  // send Raw, then close
        Stall,   // answer nothing until the client or the stub gives up
        Reset,   // reset the connection without answering
    };
    Kind What = Kind::Answer;
    std::string Raw;
};

// A whole HTTP/1.1 response with Content-Length and Connection: close.
std::string HttpAnswer(int status, std::string_view contentType, std::string_view body,
                       std::string_view extraHeaders = {});
StubReply Answer(int status, std::string_view contentType, std::string_view body,
                 std::string_view extraHeaders = {});
// The document as the service sends it.
StubReply XmlAnswer(std::string_view document, std::string_view extraHeaders = {});

// The bytes of a file under the test data folder.
std::string TestFile(std::string_view name);

// A certificate and its key, PEM files, for a stub that speaks TLS.
struct TlsIdentity {
    std::string CertFile;
    std::string KeyFile;
};

class BankStub {
  public:
    // target: the request target, "/scripts/XML_daily.asp?date_req=18/03/2026".
    using Handler = std::function<StubReply(const std::string& target)>;
    // With tls, every connection is TLS (and only Answer replies are sent).
    explicit BankStub(Handler handler, const TlsIdentity* tls = nullptr);
    // Closes every connection, stalled ones too, and joins their threads.
    ~BankStub();
    BankStub(const BankStub&) = delete;
    BankStub& operator=(const BankStub&) = delete;

    int Port() const { return FPort; }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(FPort); }
    // "https://HOST:PORT", for a name that resolves to 127.0.0.1.
    std::string HttpsUrl(const std::string& host) const {
        return "https://" + host + ":" + std::to_string(FPort);
    }
    void SetHandler(Handler handler);

    // Complete requests received: all of them, or those for one target.
    int Requests() const;
    int RequestsFor(const std::string& target) const;
    // The request heads received, in order.
    std::vector<std::string> Heads() const;

  private:
    void AcceptLoop();
    void Serve(int fd);
    void ServeTls(int fd);
    // Records a whole request head and answers it by the handler.
    StubReply Answer(const std::string& head);
    // Waits until fd is ready for events or the stub stops; false on stop.
    bool WaitFor(int fd, short events) const;

    int FListen = -1;
    int FWake[2] = {-1, -1};
    int FPort = 0;
    std::atomic<bool> FStopping{false};
    mutable std::mutex FLock;
    Handler FHandler;
    std::vector<std::string> FHeads;
    std::map<std::string, int> FCounts;
    std::vector<std::thread> FConnections;
    std::thread FAcceptor;
    ::ssl_ctx_st* FTls = nullptr;
};

}  // namespace rates::test
