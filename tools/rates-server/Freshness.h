#pragma once
// How every answer of the rates server is framed for web caches and
// conditional requests: the head (Date, ETag, Last-Modified, Cache-Control),
// 304 Not Modified, and HEAD.  Any kind of answer uses it: the HTML pages and
// the XML documents alike.
//
//   // Once per body (the ETag is a SHA-256 of its bytes):
//   const Representation page = MakeRepresentation(
//       body, "application/xml; charset=windows-1251", Lifetime::Settled, lastModified);
//   // Per request, with the request's head as received:
//   std::string response = Respond(page, head, isHead, WallClock::now());
//   // 400, 404, 501, 502 (Cache-Control: no-store, no validators):
//   std::string error = RespondError(404, "Not Found", body, contentType, withBody, now);
//
// Lifetime::Settled    a page that can never change: public, max-age=31536000, immutable
// Lifetime::Current    today's or a later date: public, max-age=MaxAge (no longer than
//                      the server waits before asking the bank again; 0 allowed)
// Lifetime::Replaceable  bundled rates the bank's full table may replace: public,
//                      max-age=MaxAge (86400, or the retry interval in place of a
//                      failing bank)
// Every 200 carries the ETag and Last-Modified; If-None-Match (a tag, a list or *)
// and, without it, If-Modified-Since get 304 with the same Date, ETag,
// Last-Modified and Cache-Control and no body.  The head is made once; a
// response costs one string of head and body.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rates {

using WallClock = std::chrono::system_clock;

enum class Lifetime { Settled, Current, Replaceable };

inline constexpr std::chrono::seconds kSettledMaxAge{31536000};
inline constexpr std::chrono::seconds kReplaceableMaxAge{86400};

struct Representation {
    std::string Body;
    std::string ETag;  // with its quotes: "\"3f2a...\""
    WallClock::time_point LastModified;
    Lifetime Kind = Lifetime::Settled;
    std::chrono::seconds MaxAge{0};
    // The lines of a 200's head after Date, and of a 304's; each ends CR LF.
    std::string OkHead;
    std::string NotModifiedHead;
};

// A 200 answer of the body; maxAge is that of Current and Replaceable.
// lastModified is rounded down to the second.
Representation MakeRepresentation(std::string body, std::string_view contentType, Lifetime kind,
                                  WallClock::time_point lastModified,
                                  std::chrono::seconds maxAge = kReplaceableMaxAge);

// The whole response to a GET (body sent) or HEAD (none) of the
// representation: 304 when the head's conditions say the client has it.
std::string Respond(const Representation& r, std::string_view requestHead, bool isHead,
                    WallClock::time_point now);

// An error response: Date, Cache-Control: no-store; extraHeaders are whole
// lines ending CR LF ("Allow: GET, HEAD\r\n").
std::string RespondError(int status, std::string_view reason, const std::string& body,
                         std::string_view contentType, bool withBody, WallClock::time_point now,
                         std::string_view extraHeaders = {});

// "Tue, 08 Dec 2026 22:55:01 GMT".
std::string HttpDate(WallClock::time_point t);
// The three forms HTTP allows (IMF-fixdate, RFC 850, asctime); nullopt for
// anything else.
std::optional<WallClock::time_point> ParseHttpDate(std::string_view text);

// Whether the request's conditions say the client holds the representation
// (If-None-Match by weak comparison, else If-Modified-Since).
bool NotModified(const Representation& r, std::string_view requestHead);

}  // namespace rates
