// The head a web cache needs, conditional requests and HEAD, for every kind
// of answer.

#include "tools/rates-server/Freshness.h"

#include <gtest/gtest.h>

#include "testing/ParsedResponse.h"

namespace rates {
namespace {

using namespace std::chrono;
using test::ParseResponse;

const WallClock::time_point kNow = sys_days(2026y / 12 / 8) + hours(22) + minutes(55) + seconds(1);
const WallClock::time_point kModified = sys_days(2026y / 8 / 22) + hours(9) + milliseconds(700);

std::string Head(std::string_view fields) {
    return "GET /x HTTP/1.1\r\nHost: h\r\n" + std::string(fields) + "\r\n";
}

TEST(Freshness, HttpDatesInEveryFormHttpAllows) {
    EXPECT_EQ(HttpDate(kNow), "Tue, 08 Dec 2026 22:55:01 GMT");
    const auto t = sys_days(1994y / 11 / 6) + hours(8) + minutes(49) + seconds(37);
    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), t);
    EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), t);
    EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), t);
    for (const char* bad :
         {"", "yesterday", "Sun, 31 Feb 1994 08:49:37 GMT", "Sun, 06 Nov 1994 25:49:37 GMT",
          "Sun, 06 Nov 1994 08:49:37 CET", "Sun, 06 Nov 99999 08:49:37 GMT"})
        EXPECT_FALSE(ParseHttpDate(bad)) << bad;
}

TEST(Freshness, EachKindHasItsCacheControlAndValidators) {
    const auto settled = MakeRepresentation("body", "text/html", Lifetime::Settled, kModified);
    const auto ok = ParseResponse(Respond(settled, Head(""), false, kNow));
    EXPECT_EQ(ok.StatusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(ok.Header("Date"), "Tue, 08 Dec 2026 22:55:01 GMT");
    EXPECT_EQ(ok.Header("Last-Modified"), "Sat, 22 Aug 2026 09:00:00 GMT");
    EXPECT_EQ(ok.Header("Cache-Control"), "public, max-age=31536000, immutable");
    EXPECT_EQ(ok.Header("Content-Length"), "4");
    EXPECT_EQ(ok.Body, "body");
    // A strong tag of the bytes: the same bytes the same tag, others another.
    EXPECT_EQ(ok.Header("ETag").size(), 34u);
    EXPECT_EQ(ok.Header("ETag").front(), '"');
    EXPECT_EQ(settled.ETag,
              MakeRepresentation("body", "x", Lifetime::Current, kNow, seconds(5)).ETag);
    EXPECT_NE(settled.ETag, MakeRepresentation("Body", "x", Lifetime::Settled, kNow).ETag);

    const auto today = MakeRepresentation("b", "t", Lifetime::Current, kModified, seconds(412));
    EXPECT_EQ(ParseResponse(Respond(today, Head(""), false, kNow)).Header("Cache-Control"),
              "public, max-age=412");
    const auto bundled = MakeRepresentation("b", "t", Lifetime::Replaceable, kModified);
    EXPECT_EQ(ParseResponse(Respond(bundled, Head(""), false, kNow)).Header("Cache-Control"),
              "public, max-age=86400");

    const auto error =
        ParseResponse(RespondError(502, "Bad Gateway", "gone", "text/html", true, kNow));
    EXPECT_EQ(error.Status, 502);
    EXPECT_EQ(error.Header("Cache-Control"), "no-store");
    EXPECT_EQ(error.Header("Date"), "Tue, 08 Dec 2026 22:55:01 GMT");
    EXPECT_EQ(error.Header("ETag"), "");
    EXPECT_EQ(error.Body, "gone");
}

TEST(Freshness, ConditionsAndHead) {
    const auto page =
        MakeRepresentation("<html>", "text/html", Lifetime::Current, kModified, seconds(60));
    const std::string tag = page.ETag;
    struct Case {
        std::string fields;
        bool notModified;
    };
    const Case cases[] = {
        {"If-None-Match: " + tag + "\r\n", true},
        {"if-none-match: \"a\", W/" + tag + " ,\"b\"\r\n", true},  // a list, weak compare
        {"If-None-Match: \"a\"\r\nIf-None-Match: " + tag + "\r\n", true},
        {"If-None-Match: *\r\n", true},
        {"If-None-Match: \"a\", \"b\"\r\n", false},
        {"If-None-Match: " + tag.substr(1) + "\r\n", false},  // not a tag
        // If-None-Match decides alone when it is there.
        {"If-None-Match: \"a\"\r\nIf-Modified-Since: Sat, 22 Aug 2026 09:00:00 GMT\r\n", false},
        {"If-Modified-Since: Sat, 22 Aug 2026 09:00:00 GMT\r\n", true},
        {"If-Modified-Since: Sun, 23 Aug 2026 00:00:00 GMT\r\n", true},
        {"If-Modified-Since: Sat, 22 Aug 2026 08:59:59 GMT\r\n", false},
        {"If-Modified-Since: tomorrow\r\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const auto raw = Respond(page, Head(c.fields), false, kNow);
        const auto r = ParseResponse(raw);
        EXPECT_EQ(r.Status, c.notModified ? 304 : 200) << c.fields;
        EXPECT_EQ(r.Header("ETag"), tag) << c.fields;
        EXPECT_EQ(r.Header("Cache-Control"), "public, max-age=60") << c.fields;
        EXPECT_EQ(r.Header("Date"), "Tue, 08 Dec 2026 22:55:01 GMT") << c.fields;
        EXPECT_EQ(r.Body, c.notModified ? "" : "<html>") << c.fields;
    }
    // HEAD: the head of a GET, no body.
    const auto get = Respond(page, Head(""), false, kNow);
    const auto head = Respond(page, Head(""), true, kNow);
    EXPECT_EQ(get, head + "<html>");
}

}  // namespace
}  // namespace rates
