#pragma once
// The bank's XML service as the rates server answers it: the rates of a date
// (XML_daily.asp, and XML_daily_eng.asp with English names) and of one
// currency over a span of dates (XML_dynamic.asp).  Documents of dates the
// history covers are built from it; later ones are the bank's own bytes.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tools/rates-server/Freshness.h"
#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesHttp.h"
#include "tools/rates-server/upstream/Upstream.h"

namespace rates {

inline constexpr std::string_view kXmlDailyPath = "/scripts/XML_daily.asp";
inline constexpr std::string_view kXmlDailyEnglishPath = "/scripts/XML_daily_eng.asp";
inline constexpr std::string_view kXmlDynamicPath = "/scripts/XML_dynamic.asp";

// The longest span XML_dynamic.asp answers, in days.
inline constexpr int kMaxDynamicDays = 10000;

// What an XML request asks for, read from its query.  Parameter names
// compare without regard to case; dates are dd/mm/yyyy, dd.mm.yyyy or
// dd-mm-yyyy, percent-encoded or not.
struct XmlQuery {
    enum Kind { Daily, Dynamic, Malformed } What = Malformed;
    bool English = false;
    std::optional<Date> On;  // Daily: none asks for the latest rates
    Date From, To;           // Dynamic
    std::string Id;          // Dynamic: the bank's id of the currency
};

// nullopt when the path is none of the service's.
std::optional<XmlQuery> ReadXmlQuery(std::string_view path, std::string_view query);

// The content type of every XML answer, as the bank's service sends it.
inline constexpr std::string_view kXmlType = "application/xml; charset=windows-1251";

class XmlService {
  public:
    // Either may be nullptr; neither is owned.  historyModified: the
    // Last-Modified of the documents made from the history.
    XmlService(const RatesData* history, Upstream* upstream, WallClock::time_point historyModified);

    using Later = std::function<void(std::string response)>;
    // As RatesService::Answer, for a request whose path ReadXmlQuery knows;
    // head is the request's, for its conditions.
    std::optional<std::string> Answer(const Request& request, const XmlQuery& query,
                                      std::string_view head, WallClock::time_point now,
                                      Later later);

  private:
    using Document = std::shared_ptr<const Representation>;
    // The document of a date from the history (its latest when latest).
    Document HistoryDaily(const Date& date, bool english, bool latest);

    const RatesData* FHistory;
    Upstream* FUpstream;
    WallClock::time_point FHistoryModified;
    // Documents of the history: the latest ones asked for.  The bank's
    // answers come on its thread, but never touch this.
    std::unordered_map<int, Document> FDocuments;
};

}  // namespace rates
