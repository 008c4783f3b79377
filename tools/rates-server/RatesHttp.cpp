#include "tools/rates-server/RatesHttp.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "tools/rates-server/AsciiText.h"
#include "tools/rates-server/Freshness.h"
#include "tools/rates-server/RatesPages.h"

namespace rates {

namespace {

constexpr std::string_view kCrLf = "\r\n";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsWithAscii(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && SameAscii(s.substr(0, prefix.size()), prefix);
}

// One line of the head, without its LF and the CR before it; advances pos
// past the LF.  nullopt when no LF follows pos.
std::optional<std::string_view> NextLine(std::string_view s, std::size_t& pos) {
    const auto lf = s.find('\n', pos);
    if (lf == std::string_view::npos)
        return std::nullopt;
    std::string_view line = s.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    pos = lf + 1;
    return line;
}

// The first non-empty line, or nullopt while it is not complete.
std::optional<std::string_view> RequestLine(std::string_view s) {
    std::size_t pos = 0;
    while (auto line = NextLine(s, pos))
        if (!line->empty())
            return line;
    return std::nullopt;
}

struct RequestLineParts {
    std::string_view Method, Target, Version;
};

bool IsTokenChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// "METHOD target HTTP/d.d", the parts separated by blanks.
std::optional<RequestLineParts> SplitRequestLine(std::string_view line) {
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        const auto start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        parts.push_back(line.substr(start, i - start));
    }
    if (parts.size() != 3)
        return std::nullopt;
    RequestLineParts r{parts[0], parts[1], parts[2]};
    if (!std::all_of(r.Method.begin(), r.Method.end(), IsTokenChar))
        return std::nullopt;
    if (std::any_of(r.Target.begin(), r.Target.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x21 || c == 0x7F; }))
        return std::nullopt;
    // HTTP/<digits>.<digits>
    const auto v = r.Version;
    if (v.size() < 8 || v.substr(0, 5) != "HTTP/")
        return std::nullopt;
    const auto dot = v.find('.', 5);
    if (dot == std::string_view::npos || dot == 5 || dot + 1 == v.size())
        return std::nullopt;
    for (std::size_t k = 5; k < v.size(); ++k)
        if (k != dot && !IsDigit(v[k]))
            return std::nullopt;
    return r;
}

int HexValue(char c) {
    if (IsDigit(c))
        return c - '0';
    c = AsciiLower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string DecodeQueryValue(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 &&
                   HexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

namespace {

// The value of the first "key=value" pair of the query with the key (ASCII
// case ignored); nullopt when the query has none.
std::optional<std::string> QueryValue(std::string_view query, std::string_view key) {
    while (true) {
        const auto amp = query.find('&');
        const auto pair = query.substr(0, amp);
        const auto eq = pair.find('=');
        const auto name = pair.substr(0, eq);
        if (SameAscii(name, key))
            return eq == std::string_view::npos ? std::string()
                                                : DecodeQueryValue(pair.substr(eq + 1));
        if (amp == std::string_view::npos)
            return std::nullopt;
        query.remove_prefix(amp + 1);
    }
}

// How many "key=..." pairs of the query have the key.
std::size_t QueryCount(std::string_view query, std::string_view key) {
    std::size_t n = 0;
    while (true) {
        const auto amp = query.find('&');
        const auto pair = query.substr(0, amp);
        if (SameAscii(pair.substr(0, pair.find('=')), key))
            ++n;
        if (amp == std::string_view::npos)
            return n;
        query.remove_prefix(amp + 1);
    }
}

std::string BadRequest(bool withBody) {
    return RespondError(400, "Bad Request",
                        ErrorPage(400, "Bad Request", "Запрос не понят сервером."), kPageType,
                        withBody, WallClock::now());
}

// Whether the head announces a body: a Content-Length other than 0, or a
// Transfer-Encoding.
bool AnnouncesBody(std::string_view head) {
    std::size_t pos = 0;
    bool first = true;
    while (auto line = NextLine(head, pos)) {
        if (first) {
            first = line->empty();
            continue;
        }
        if (line->empty())
            break;
        const auto colon = line->find(':');
        if (colon == std::string_view::npos)
            continue;
        const auto name = line->substr(0, colon);
        const auto value = TrimBlanks(line->substr(colon + 1));
        if (SameAscii(name, "Transfer-Encoding"))
            return true;
        if (SameAscii(name, "Content-Length") &&
            value.find_first_not_of('0') != std::string_view::npos)
            return true;
    }
    return false;
}

}  // namespace

HeadState ExamineHead(std::string_view received) {
    std::size_t pos = 0;
    bool seenRequestLine = false;
    while (auto line = NextLine(received, pos)) {
        if (!seenRequestLine) {
            if (line->empty())
                continue;
            if (!SplitRequestLine(*line))
                return HeadState::BadRequestLine;
            seenRequestLine = true;
        } else if (line->empty()) {
            return HeadState::Complete;
        }
    }
    return received.size() > kMaxHeadBytes ? HeadState::TooLong : HeadState::Incomplete;
}

bool EndsWithItsHead(std::string_view received) {
    const auto end = received.find("\r\n\r\n");
    if (end == std::string_view::npos || end + 4 != received.size())
        return false;
    const auto line = RequestLine(received);
    return line && (line->starts_with("GET ") || line->starts_with("HEAD ")) &&
           !AnnouncesBody(received);
}

bool HasRequestLine(std::string_view received) {
    return RequestLine(received).has_value();
}

std::string BadRequestAnswer() {
    return BadRequest(true);
}

Request ReadRequest(std::string_view head) {
    Request r;
    const auto requestLine = RequestLine(head);
    const auto parts = requestLine ? SplitRequestLine(*requestLine) : std::nullopt;
    if (!parts)
        return r;
    r.IsHead = parts->Method == "HEAD";
    if (parts->Method != "GET" && !r.IsHead) {
        r.What = RequestKind::NotImplemented;
        return r;
    }
    // An answer to a HEAD has no body; a request to it with one is a mistake.
    if (r.IsHead && AnnouncesBody(head))
        return r;

    // An absolute URL, as a proxy forwards it: drop the scheme and the host.
    std::string absolute;
    std::string_view target = parts->Target;
    if (StartsWithAscii(target, "http://")) {
        target.remove_prefix(7);
        const auto slash = target.find_first_of("/?");
        absolute = slash == std::string_view::npos ? "/" : std::string(target.substr(slash));
        if (absolute.front() == '?')
            absolute.insert(absolute.begin(), '/');
        target = absolute;
    }
    if (target.empty() || target.front() != '/')
        return r;
    target = target.substr(0, target.find('#'));
    const auto question = target.find('?');
    const auto path = target.substr(0, question);
    const auto query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);

    if (!SameAscii(path, kRatesPath)) {
        r.What = RequestKind::NotFound;
        r.Path = path;
        r.Query = query;
        return r;
    }
    if (QueryCount(query, "date_req") > 1)
        return r;
    const auto dateText = QueryValue(query, "date_req");
    if (dateText && !dateText->empty()) {
        r.Date = ParseDate(*dateText);
        if (!r.Date) {
            r.What = RequestKind::BadDate;
            return r;
        }
    }
    r.What = RequestKind::RatesPage;
    return r;
}

std::string ErrorAnswer(const Request& request) {
    const auto now = WallClock::now();
    switch (request.What) {
        case RequestKind::NotImplemented:
            return RespondError(
                501, "Not Implemented",
                ErrorPage(501, "Not Implemented", "Сервер отвечает только на запросы GET и HEAD."),
                kPageType, true, now, "Allow: GET, HEAD\r\n");
        case RequestKind::NotFound:
            return RespondError(404, "Not Found",
                                ErrorPage(404, "Not Found", "Такой страницы на этом сервере нет."),
                                kPageType, !request.IsHead, now);
        case RequestKind::BadDate:
            return RespondError(
                400, "Bad Request",
                ErrorPage(400, "Bad Request",
                          "Дата указывается как дд.мм.гггг, дд/мм/гггг или дд-мм-гггг."),
                kPageType, !request.IsHead, now);
        case RequestKind::BadRequest:
        case RequestKind::RatesPage:
            break;
    }
    return BadRequest(!request.IsHead);
}

}  // namespace rates
