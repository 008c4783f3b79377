#pragma once
// What the rates server answers: the HTTP/1.0 request head is examined as it
// arrives, and a complete head is turned into the bytes of one response.
// No sockets here, so every rule can be exercised directly.

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/rates-server/RatesData.h"

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

// True when the bytes hold a whole request line (used when the client closes
// its side before the empty line: a complete request line is still answered).
bool HasRequestLine(std::string_view received);

// The whole response (status line, header lines, empty line, body) to the
// request whose head is given.  The first line of the head must be complete.
// Status: 200 for the rates page (with rates, or with the notice that none
// were registered for the date), 400 for a bad request line or a date that
// is not a date, 404 for any other path, 501 for methods other than GET and
// HEAD.  The body is Windows-1251 HTML; HEAD gets the head alone.
std::string Answer(std::string_view head, const RatesData& data);

// The 400 response for a request that cannot be read at all.
std::string BadRequestAnswer();

// The body of the rates page for a requested date: the table in force then,
// or the notice that no rates were registered when table is nullptr.
// Windows-1251 HTML, lines ended by CR LF.
std::string RatesPage(const RatesTable* table, const Date& requested);

}  // namespace rates
