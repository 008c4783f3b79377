#include "tools/rates-server/XmlService.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "tools/rates-server/CurrencyNames.h"
#include "tools/rates-server/RatesPages.h"
#include "tools/rates-server/XmlDocuments.h"

namespace rates {

namespace {

bool SameAscii(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Every value the query gives the key, decoded.
std::vector<std::string> QueryValues(std::string_view query, std::string_view key) {
    std::vector<std::string> values;
    while (!query.empty()) {
        const auto amp = query.find('&');
        const auto pair = query.substr(0, amp);
        const auto eq = pair.find('=');
        if (SameAscii(pair.substr(0, eq), key))
            values.push_back(eq == std::string_view::npos ? std::string()
                                                          : DecodeQueryValue(pair.substr(eq + 1)));
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return values;
}

int DayNumber(const Date& d) {
    using namespace std::chrono;
    const year_month_day ymd{year(d.Year), month(static_cast<unsigned>(d.Month)),
                             day(static_cast<unsigned>(d.Day))};
    return static_cast<int>(sys_days(ymd).time_since_epoch().count());
}

// A parameter given once, read as a date; nullopt when it is missing, given
// twice or not a date.
std::optional<Date> OneDate(std::string_view query, std::string_view key) {
    const auto values = QueryValues(query, key);
    return values.size() == 1 ? ParseDate(values.front()) : std::nullopt;
}

}  // namespace

std::optional<XmlQuery> ReadXmlQuery(std::string_view path, std::string_view query) {
    XmlQuery q;
    if (SameAscii(path, kXmlDailyPath) || SameAscii(path, kXmlDailyEnglishPath)) {
        q.English = SameAscii(path, kXmlDailyEnglishPath);
        const auto values = QueryValues(query, "date_req");
        if (values.size() > 1)
            return q;
        if (!values.empty() && !values.front().empty()) {
            q.On = ParseDate(values.front());
            if (!q.On)
                return q;
        }
        q.What = XmlQuery::Daily;
        return q;
    }
    if (SameAscii(path, kXmlDynamicPath)) {
        const auto from = OneDate(query, "date_req1");
        const auto to = OneDate(query, "date_req2");
        const auto ids = QueryValues(query, "VAL_NM_RQ");
        const CurrencyName* known =
            ids.size() == 1 && !ids.front().empty() ? CurrencyById(ids.front()) : nullptr;
        if (!from || !to || known == nullptr || known->Id.empty() ||
            DayNumber(*to) - DayNumber(*from) > kMaxDynamicDays)
            return q;
        q.From = *from;
        q.To = *to;
        q.Id = known->Id;
        q.What = XmlQuery::Dynamic;
        return q;
    }
    return std::nullopt;
}

std::string XmlResponse(int status, std::string_view reason, const std::string& body,
                        bool withBody) {
    std::string r = "HTTP/1.0 " + std::to_string(status) + " " + std::string(reason) +
                    "\r\nServer: kurs-rates-server\r\n"
                    "Content-Type: application/xml; charset=windows-1251\r\n"
                    "Content-Length: " +
                    std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    if (withBody)
        r += body;
    return r;
}

XmlService::XmlService(const RatesData* history, Upstream* upstream)
    : FHistory(history), FUpstream(upstream) {}

const std::string& XmlService::HistoryDaily(const Date& date, bool english) {
    // As many as the pages keep, for the same reason.
    constexpr std::size_t kMaxDocuments = 1024;
    const int key = DayNumber(date) * 2 + (english ? 1 : 0);
    if (const auto found = FDocuments.find(key); found != FDocuments.end())
        return found->second;
    if (FDocuments.size() >= kMaxDocuments)
        FDocuments.clear();
    auto table = FHistory->RatesOn(date);
    if (table) {
        // The bank lists its currencies in the order of their ids.
        auto idOf = [](const Currency& c) {
            const CurrencyName* known = CurrencyByKey(KeyOf(c));
            return known != nullptr ? known->Id : std::string_view();
        };
        std::stable_sort(table->Currencies.begin(), table->Currencies.end(),
                         [&](const Currency& a, const Currency& b) {
                             const auto ia = idOf(a);
                             const auto ib = idOf(b);
                             return ia.empty() != ib.empty() ? ib.empty() : ia < ib;
                         });
    }
    return FDocuments.emplace(key, DailyXml(table ? &*table : nullptr, date, english))
        .first->second;
}

std::optional<std::string> XmlService::Answer(const Request& request, const XmlQuery& query,
                                              Later later) {
    const bool withBody = !request.IsHead;
    switch (query.What) {
        case XmlQuery::Malformed:
            return XmlResponse(200, "OK", XmlParameterError(), withBody);
        case XmlQuery::Dynamic: {
            const auto found = CurrencyById(query.Id);
            const auto rates = FHistory != nullptr && found != nullptr
                                   ? FHistory->RatesSet(found->Key, query.From, query.To)
                                   : std::vector<RatesData::SetRate>{};
            return XmlResponse(200, "OK", DynamicXml(query.Id, query.From, query.To, rates),
                               withBody);
        }
        case XmlQuery::Daily:
            break;
    }

    // As the page: the history answers every date up to its end; without a
    // date its latest rates, unless the bank's service can give today's.
    const bool local =
        FHistory != nullptr && (query.On ? *query.On <= FHistory->Last() : FUpstream == nullptr);
    if (local)
        return XmlResponse(
            200, "OK", HistoryDaily(query.On.value_or(FHistory->Last()), query.English), withBody);
    const Date date = query.On.value_or(MoscowToday());
    if (FUpstream == nullptr)
        return XmlResponse(200, "OK", DailyXml(nullptr, date, query.English), withBody);

    const bool english = query.English;
    FUpstream->Fetch(
        date, [later = std::move(later), date, english, withBody](const UpstreamResult& r) {
            if (!r.Ok)
                later(Response(502, "Bad Gateway", UpstreamFailurePage(date), withBody));
            else if (english || r.Document.empty())
                later(XmlResponse(200, "OK", DailyXml(&r.Table, date, english), withBody));
            else
                later(XmlResponse(200, "OK", r.Document, withBody));
        });
    return std::nullopt;
}

}  // namespace rates
