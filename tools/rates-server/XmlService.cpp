#include "tools/rates-server/XmlService.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "tools/rates-server/AsciiText.h"
#include "tools/rates-server/BankFreshness.h"
#include "tools/rates-server/CurrencyNames.h"
#include "tools/rates-server/RatesPages.h"
#include "tools/rates-server/XmlDocuments.h"
#include "tools/rates-server/upstream/DocumentCache.h"

namespace rates {

namespace {

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

XmlService::XmlService(const RatesData* history, Upstream* upstream,
                       WallClock::time_point historyModified)
    : FHistory(history), FUpstream(upstream), FHistoryModified(historyModified) {}

XmlService::Document XmlService::HistoryDaily(const Date& date, bool english, bool latest) {
    // As many as the pages keep, for the same reason.
    constexpr std::size_t kMaxDocuments = 1024;
    const int key = (latest ? 0 : DayNumber(date) * 2 + 2) + (english ? 1 : 0);
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
    // As the pages: the latest document and those of the partial years may
    // change with the data; the rest never does.
    const Lifetime kind =
        latest || (table && table->Partial) ? Lifetime::Replaceable : Lifetime::Settled;
    auto doc = std::make_shared<const Representation>(MakeRepresentation(
        DailyXml(table ? &*table : nullptr, date, english), kXmlType, kind, FHistoryModified));
    FDocuments.emplace(key, doc);
    return doc;
}

std::optional<std::string> XmlService::Answer(const Request& request, const XmlQuery& query,
                                              std::string_view head, WallClock::time_point now,
                                              Later later) {
    const bool isHead = request.IsHead;
    switch (query.What) {
        case XmlQuery::Malformed:
            // The bank answers it as a document; nothing of it is to be kept.
            return RespondError(200, "OK", XmlParameterError(), kXmlType, !isHead, now);
        case XmlQuery::Dynamic: {
            const auto found = CurrencyById(query.Id);
            const auto rates = FHistory != nullptr && found != nullptr
                                   ? FHistory->RatesSet(found->Key, query.From, query.To)
                                   : std::vector<RatesData::SetRate>{};
            // A span inside the full history never changes.
            const Lifetime kind = FHistory != nullptr && FHistory->HoldsAllOn(query.To)
                                      ? Lifetime::Settled
                                      : Lifetime::Replaceable;
            return Respond(MakeRepresentation(DynamicXml(query.Id, query.From, query.To, rates),
                                              kXmlType, kind, FHistoryModified),
                           head, isHead, now);
        }
        case XmlQuery::Daily:
            break;
    }

    if (FUpstream == nullptr) {
        // The history answers every date up to its end, and without a date
        // its latest rates; a later date gets an empty document.
        if (FHistory != nullptr && (!query.On || *query.On <= FHistory->Last()))
            return Respond(
                *HistoryDaily(query.On.value_or(FHistory->Last()), query.English, !query.On), head,
                isHead, now);
        const auto empty =
            MakeRepresentation(DailyXml(nullptr, query.On.value_or(MoscowToday()), query.English),
                               kXmlType, Lifetime::Replaceable, FHistoryModified);
        return Respond(empty, head, isHead, now);
    }

    // As the pages: the bank is asked for what the history does not hold
    // in full, and without a date for today's.
    const Date date = query.On.value_or(MoscowDateAt(now));
    if (FHistory != nullptr && query.On && FHistory->HoldsAllOn(date))
        return Respond(*HistoryDaily(date, query.English, false), head, isHead, now);
    // In place of a failing bank: the history's document of a partial year.
    const Document instead = FHistory != nullptr && date <= FHistory->Last()
                                 ? HistoryDaily(date, query.English, false)
                                 : nullptr;
    const auto& options = FUpstream->Options();
    auto done = [later = std::move(later), date, isHead, english = query.English, instead,
                 clock = options.Now, freshFor = options.FreshFor, retry = options.RetryAfter,
                 head = std::string(head)](const UpstreamResult& r) {
        const auto now = clock ? clock() : WallClock::now();
        if (!r.Ok) {
            if (!instead) {
                later(RespondError(502, "Bad Gateway", UpstreamFailurePage(date), kPageType,
                                   !isHead, now));
                return;
            }
            const auto doc = MakeRepresentation(instead->Body, kXmlType, Lifetime::Replaceable,
                                                instead->LastModified, retry);
            later(Respond(doc, head, isHead, now));
            return;
        }
        // The bank's own bytes; in English, its table with English names.
        std::string body =
            english || r.Document.empty() ? DailyXml(&r.Table, date, english) : r.Document;
        later(Respond(BankRepresentation(std::move(body), kXmlType, r, date, now, freshFor), head,
                      isHead, now));
    };
    std::string insteadText;
    if (instead)
        insteadText = "served the bundled rates of " + date.Text() + " instead";
    FUpstream->Fetch(date, std::move(done), std::move(insteadText));
    return std::nullopt;
}

}  // namespace rates
