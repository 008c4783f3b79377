// The bank's service over real TLS: a stub with a certificate of an
// authority the test makes, trusted through CaFile alone, and the redirects
// an HTTPS upstream may and may not follow.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tools/rates-server/upstream/DocumentCache.h"
#include "tools/rates-server/upstream/Upstream.h"
#include "tools/rates-server/upstream/tests/BankStub.h"
#include "tools/rates-server/upstream/tests/TestSupport.h"

namespace rates {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using namespace test;

// An authority and a certificate it signed for bank.localhost and its
// neighbours (libcurl resolves every *.localhost name to the loopback).
struct TestCa {
    TempDir Dir;
    std::string CaFile = Dir.Path() + "/ca.pem";
    TlsIdentity Server{Dir.Path() + "/server.pem", Dir.Path() + "/server.key"};

    TestCa() {
        std::ofstream(Dir.Path() + "/names.cnf")
            << "subjectAltName=DNS:bank.localhost,DNS:www.bank.localhost,DNS:other.localhost\n";
        const std::string d = Dir.Path();
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        const std::string script =
            "cd '" + d + "' && openssl req -x509" + ec +
            " -keyout ca.key -out ca.pem -days 36500 -subj '/CN=kurs test authority'"
            " && openssl req" +
            ec + " -keyout server.key -out server.csr -subj '/CN=bank.localhost'" +
            " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
            " -days 36500 -extfile names.cnf -out server.pem";
        if (std::system((script + " >/dev/null 2>&1").c_str()) != 0)
            throw std::runtime_error("openssl could not make the test certificates");
    }
};

UpstreamOptions OptionsFor(const std::string& baseUrl, const TempDir& cache, LogLines& log) {
    UpstreamOptions o;
    o.BaseUrl = baseUrl;
    o.CacheDir = cache.Path();
    o.UserAgent = "kurs-rates-server/test";
    o.Timeout = milliseconds(3000);
    o.AnswerWithin = milliseconds(4000);
    o.Now = [] { return WallClock::time_point(sys_days{2026y / 3 / 18} + hours(9)); };
    o.Log = log.Sink();
    return o;
}

UpstreamResult FetchNow(Upstream& u) {
    Results results;
    u.Fetch(k18, results.Callback());
    EXPECT_TRUE(results.WaitAll());
    return results.Get(0);
}

TEST(UpstreamTls, OnlyTheGivenAuthorityIsTrustedWhateverTheEnvironmentSays) {
    TestCa ca;
    BankStub bank(
        [](const std::string&) { return XmlAnswer(TestFile("XML_daily_2026-03-18.xml")); },
        &ca.Server);
    // The variables other programs read; they must change nothing here.
    setenv("SSL_CERT_FILE", ca.CaFile.c_str(), 1);
    setenv("CURL_CA_BUNDLE", ca.CaFile.c_str(), 1);
    for (const bool given : {false, true}) {
        TempDir cache;
        LogLines log;
        auto o = OptionsFor(bank.HttpsUrl("bank.localhost"), cache, log);
        if (given)
            o.CaFile = ca.CaFile;
        Upstream u(o);
        const auto r = FetchNow(u);
        EXPECT_EQ(r.Ok, given) << r.Error;
        if (!given) {
            EXPECT_EQ(r.Error.rfind("TLS error", 0), 0u) << r.Error;
        }
    }
    unsetenv("SSL_CERT_FILE");
    unsetenv("CURL_CA_BUNDLE");
}

TEST(UpstreamTls, RedirectsAreFollowedOnlyOverHttpsWithinTheSite) {
    TestCa ca;
    BankStub plain(
        [](const std::string&) { return XmlAnswer(TestFile("XML_daily_2026-03-18.xml")); });
    std::string location;
    BankStub bank(
        [&](const std::string& target) {
            if (target == kTarget18)
                return Answer(302, "text/html", "<html>Moved</html>",
                              "Location: " + location + "\r\n");
            return XmlAnswer(TestFile("XML_daily_2026-03-18.xml"));
        },
        &ca.Server);
    const std::string moved = "/moved?date_req=18/03/2026";
    struct Case {
        std::string Location;
        bool Followed;
    };
    for (const auto& c : {
             Case{plain.BaseUrl() + kTarget18, false},               // down to plain HTTP
             Case{bank.HttpsUrl("other.localhost") + moved, false},  // another site
             Case{bank.HttpsUrl("www.bank.localhost") + moved, true},
             Case{moved, true},
         }) {
        location = c.Location;
        const int before = bank.Requests();
        TempDir cache;
        LogLines log;
        auto o = OptionsFor(bank.HttpsUrl("bank.localhost"), cache, log);
        o.CaFile = ca.CaFile;
        Upstream u(o);
        const auto r = FetchNow(u);
        EXPECT_EQ(r.Ok, c.Followed) << c.Location << ": " << r.Error;
        EXPECT_EQ(bank.Requests() - before, c.Followed ? 2 : 1) << c.Location;
        EXPECT_EQ(fs::exists(DocumentCache(cache.Path()).PathOf(k18)), c.Followed) << c.Location;
        if (!c.Followed) {
            const auto lines = log.Lines();
            ASSERT_EQ(lines.size(), 1u) << c.Location;
            EXPECT_NE(lines[0].find("refused the redirect to " + c.Location), std::string::npos)
                << lines[0];
        }
    }
    EXPECT_EQ(plain.Requests(), 0);
}

}  // namespace
}  // namespace rates
