#pragma once
// The HTTP/1.0 side of the rates server: the request head is examined as it
// arrives, a complete head is read into what it asks for, and answers are
// framed into whole responses.  No sockets here, so every rule can be
// exercised directly.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tools/rates-server/RatesTable.h"

namespace rates {

// The path of the rates page; the query carries date_req=<date>.
inline constexpr std::string_view kRatesPath = "/markets/scripts/val_res1a.asp";

// The most a request head may take, request line and header lines together.
inline constexpr std::size_t kMaxHeadBytes = 16 * 1024;

enum class HeadState {
    Incomplete,      // wait for more bytes
    Complete,        // the empty line that ends the head has arrived
    BadRequestLine,  // the first line is not "METHOD target HTTP/x.y"
    TooLong,         // more than kMaxHeadBytes without the end of the head
};

// Looks at the bytes received so far.  Lines end at LF, with or without CR
// before it; empty lines before the request line are skipped.  A bad request
// line is reported as soon as the line is complete.
HeadState ExamineHead(std::string_view received);

// True when the bytes are one whole GET or HEAD head that announces no body
// and nothing after it: once answered, the connection may be closed at once
// with nothing unread, so closing cannot reset it under the answer.
bool EndsWithItsHead(std::string_view received);

// True when the bytes hold a whole request line (used when the client closes
// its side before the empty line: a complete request line is still answered).
bool HasRequestLine(std::string_view received);

enum class RequestKind {
    RatesPage,       // GET or HEAD of the rates page
    BadRequest,      // 400: the request line or its target cannot be read, date_req is
                     // given twice, or a HEAD has a body
    BadDate,         // 400: date_req is not a date
    NotFound,        // 404: any other path
    NotImplemented,  // 501: a method other than GET and HEAD
};

struct Request {
    RequestKind What = RequestKind::BadRequest;
    bool IsHead = false;
    // The date asked for by a rates page request; none when the query names
    // no date (or an empty one).
    std::optional<rates::Date> Date;
    // The target's path and its query, undecoded, of a GET or HEAD that is
    // not for the rates page.
    std::string Path;
    std::string Query;
};

// Form decoding of a query value: "+" is a blank, "%hh" a byte; a "%" that
// starts no valid escape stays as it is.
std::string DecodeQueryValue(std::string_view s);

// What the head asks for; its first line must be complete.  The target may
// be a path or an absolute http:// URL, as a proxy forwards it.
Request ReadRequest(std::string_view head);

// The content type of every page.
inline constexpr std::string_view kPageType = "text/html; charset=windows-1251";

// The response to a request that is not for a rates page (400, 404, 501);
// nothing of it is to be stored by a cache.
std::string ErrorAnswer(const Request& request);

// The 400 response for a request that cannot be read at all.
std::string BadRequestAnswer();

}  // namespace rates
