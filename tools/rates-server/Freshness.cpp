#include "tools/rates-server/Freshness.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "tools/rates-server/AsciiText.h"

namespace rates {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr const char* kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The values of every header field of the name in the head (after its
// request line), in order.
std::vector<std::string_view> FieldValues(std::string_view head, std::string_view name) {
    std::vector<std::string_view> values;
    bool requestLine = true;
    while (!head.empty()) {
        const auto lf = head.find('\n');
        std::string_view line = head.substr(0, lf);
        head.remove_prefix(lf == std::string_view::npos ? head.size() : lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (requestLine) {
            requestLine = line.empty();  // empty lines before the request line
            continue;
        }
        if (line.empty())
            break;
        const auto colon = line.find(':');
        if (colon != std::string_view::npos && SameAscii(line.substr(0, colon), name))
            values.push_back(TrimBlanks(line.substr(colon + 1)));
    }
    return values;
}

// The opaque part of an entity tag, without W/ and quotes; empty for a
// malformed one.
std::string_view Opaque(std::string_view tag) {
    if (tag.size() >= 2 && tag[0] == 'W' && tag[1] == '/')
        tag.remove_prefix(2);
    if (tag.size() < 2 || tag.front() != '"' || tag.back() != '"')
        return {};
    return tag.substr(1, tag.size() - 2);
}

bool TagListMatches(std::string_view list, std::string_view ours) {
    const auto mine = Opaque(ours);
    while (!list.empty()) {
        const auto comma = list.find(',');
        const auto item = TrimBlanks(list.substr(0, comma));
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
        if (item == "*")
            return true;
        if (const auto tag = Opaque(item); !tag.empty() && tag == mine)
            return true;
    }
    return false;
}

std::string Hex(const unsigned char* bytes, std::size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

std::string StrongTag(std::string_view body) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(body.data(), body.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("cannot hash an answer");
    // 128 of the 256 bits are plenty to tell answers apart.
    return "\"" + Hex(digest, std::min(size, 16u)) + "\"";
}

std::string CacheControl(Lifetime kind, std::chrono::seconds maxAge) {
    if (kind == Lifetime::Settled)
        return "public, max-age=" + std::to_string(kSettledMaxAge.count()) + ", immutable";
    return "public, max-age=" + std::to_string(std::max<long long>(maxAge.count(), 0));
}

// The Date line of the current second, made once per second.
std::string DateText(WallClock::time_point now) {
    static std::mutex lock;
    static std::int64_t second = -1;
    static std::string text;
    const auto s = std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count();
    std::lock_guard guard(lock);
    if (s != second) {
        text = HttpDate(now);
        second = s;
    }
    return text;
}

int Number(std::string_view s) {
    if (s.empty() || s.size() > 4)
        return -1;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

int MonthIndex(std::string_view s) {
    for (int i = 0; i < 12; ++i)
        if (s == kMonths[i])
            return i;
    return -1;
}

std::optional<WallClock::time_point> FromParts(int year, int month, int day, std::string_view hms) {
    if (hms.size() != 8 || hms[2] != ':' || hms[5] != ':')
        return std::nullopt;
    const int h = Number(hms.substr(0, 2)), m = Number(hms.substr(3, 2)),
              sec = Number(hms.substr(6, 2));
    if (year < 1900 || month < 0 || day < 1 || day > 31 || h < 0 || h > 23 || m < 0 || m > 59 ||
        sec < 0 || sec > 60)
        return std::nullopt;
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year(year), std::chrono::month(month + 1),
                             std::chrono::day(static_cast<unsigned>(day))};
    if (!ymd.ok())
        return std::nullopt;
    return WallClock::time_point(sys_days(ymd).time_since_epoch() + hours(h) + minutes(m) +
                                 std::chrono::seconds(sec));
}

std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    while (!s.empty() && words.size() < 8) {
        const auto start = s.find_first_not_of(' ');
        if (start == std::string_view::npos)
            break;
        s.remove_prefix(start);
        const auto end = s.find(' ');
        words.push_back(s.substr(0, end));
        s.remove_prefix(end == std::string_view::npos ? s.size() : end);
    }
    return words;
}

}  // namespace

std::string HttpDate(WallClock::time_point t) {
    using namespace std::chrono;
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss time{floor<seconds>(t - day)};
    const weekday wd{day};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s, %02u %s %04d %02lld:%02lld:%02lld GMT",
                  kDays[wd.c_encoding()], static_cast<unsigned>(ymd.day()),
                  kMonths[static_cast<unsigned>(ymd.month()) - 1], static_cast<int>(ymd.year()),
                  static_cast<long long>(time.hours().count()),
                  static_cast<long long>(time.minutes().count()),
                  static_cast<long long>(time.seconds().count()));
    return buf;
}

std::optional<WallClock::time_point> ParseHttpDate(std::string_view text) {
    const auto w = Words(TrimBlanks(text));
    // Sun, 06 Nov 1994 08:49:37 GMT
    if (w.size() == 6 && w[0].size() == 4 && w[0].back() == ',' && w[5] == "GMT" &&
        w[1].size() == 2)
        return FromParts(Number(w[3]), MonthIndex(w[2]), Number(w[1]), w[4]);
    // Sunday, 06-Nov-94 08:49:37 GMT (two-digit years: 1970 to 2069)
    if (w.size() == 4 && w[0].size() > 4 && w[0].back() == ',' && w[3] == "GMT" &&
        w[1].size() == 9 && w[1][2] == '-' && w[1][6] == '-') {
        const int yy = Number(w[1].substr(7, 2));
        return yy < 0 ? std::nullopt
                      : FromParts(yy < 70 ? 2000 + yy : 1900 + yy, MonthIndex(w[1].substr(3, 3)),
                                  Number(w[1].substr(0, 2)), w[2]);
    }
    // Sun Nov  6 08:49:37 1994
    if (w.size() == 5 && w[0].size() == 3)
        return FromParts(Number(w[4]), MonthIndex(w[1]), Number(w[2]), w[3]);
    return std::nullopt;
}

Representation MakeRepresentation(std::string body, std::string_view contentType, Lifetime kind,
                                  WallClock::time_point lastModified, std::chrono::seconds maxAge) {
    Representation r;
    r.ETag = StrongTag(body);
    r.LastModified = std::chrono::floor<std::chrono::seconds>(lastModified);
    r.Kind = kind;
    r.MaxAge = kind == Lifetime::Settled ? kSettledMaxAge : maxAge;
    const std::string validators = "Last-Modified: " + HttpDate(r.LastModified) +
                                   "\r\nETag: " + r.ETag +
                                   "\r\nCache-Control: " + CacheControl(kind, maxAge) + "\r\n";
    r.OkHead = "Content-Type: " + std::string(contentType) +
               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + validators +
               "Connection: close\r\n\r\n";
    r.NotModifiedHead = validators + "Connection: close\r\n\r\n";
    r.Body = std::move(body);
    return r;
}

bool NotModified(const Representation& r, std::string_view requestHead) {
    const auto tags = FieldValues(requestHead, "If-None-Match");
    if (!tags.empty()) {
        for (const auto list : tags)
            if (TagListMatches(list, r.ETag))
                return true;
        return false;
    }
    const auto since = FieldValues(requestHead, "If-Modified-Since");
    if (since.size() != 1)
        return false;
    const auto t = ParseHttpDate(since.front());
    return t && r.LastModified <= *t;
}

std::string Respond(const Representation& r, std::string_view requestHead, bool isHead,
                    WallClock::time_point now) {
    // A Last-Modified after now would be a lie; the head is made once, so
    // this only happens to a clock set back, and is let be.
    const bool notModified = NotModified(r, requestHead);
    constexpr std::string_view kOk = "HTTP/1.0 200 OK\r\nServer: kurs-rates-server\r\nDate: ";
    constexpr std::string_view kNotModified =
        "HTTP/1.0 304 Not Modified\r\nServer: kurs-rates-server\r\nDate: ";
    const std::string date = DateText(now);
    const std::string& rest = notModified ? r.NotModifiedHead : r.OkHead;
    const bool withBody = !notModified && !isHead;
    std::string out;
    out.reserve(kOk.size() + 2 * date.size() + rest.size() + (withBody ? r.Body.size() : 0));
    out += notModified ? kNotModified : kOk;
    out += date;
    out += kCrLf;
    out += rest;
    if (withBody)
        out += r.Body;
    return out;
}

std::string RespondError(int status, std::string_view reason, const std::string& body,
                         std::string_view contentType, bool withBody, WallClock::time_point now,
                         std::string_view extraHeaders) {
    std::string r = "HTTP/1.0 " + std::to_string(status) + " " + std::string(reason);
    r += kCrLf;
    r += "Server: kurs-rates-server\r\nDate: " + DateText(now);
    r += kCrLf;
    r += "Content-Type: " + std::string(contentType);
    r += kCrLf;
    r += "Content-Length: " + std::to_string(body.size());
    r += kCrLf;
    r += "Cache-Control: no-store\r\nConnection: close\r\n";
    r += extraHeaders;
    r += kCrLf;
    if (withBody)
        r += body;
    return r;
}

}  // namespace rates
