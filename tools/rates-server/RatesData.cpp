#include "tools/rates-server/RatesData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "runtime/String.h"
#include "tools/rates-server/AsciiText.h"

namespace rates {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit);
}

bool IsNumCode(std::string_view s) {
    return s.size() == 3 && AllDigits(s);
}

bool IsCharCode(std::string_view s) {
    return s.size() == 3 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// Text of the file quoted in a message, cut short when it is long.
std::string Shown(std::string_view text) {
    std::size_t cut = 60;
    if (text.size() <= cut)
        return std::string(text);
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;  // not inside a UTF-8 character
    return std::string(text.substr(0, cut)) + "...";
}

constexpr std::size_t kMaxFields = 5;

// Splits a line at '|' into trimmed fields; the count, or kMaxFields + 1 when
// there are more.
std::size_t SplitFields(std::string_view line, std::string_view (&fields)[kMaxFields]) {
    for (std::size_t n = 0;; ++n) {
        if (n == kMaxFields)
            return kMaxFields + 1;
        const auto bar = line.find('|');
        fields[n] = TrimBlanks(line.substr(0, bar));
        if (bar == std::string_view::npos)
            return n + 1;
        line.remove_prefix(bar + 1);
    }
}

// "27,8500": digits, a comma, digits; short enough for a table cell.
constexpr std::size_t kMaxRateSize = 24;
// An entry keeps a rate's offset and length in 27 and 5 bits.
static_assert(kMaxRateSize < 32 && RatesData::kMaxTextBytes < (std::size_t{1} << 27));
bool IsRate(std::string_view s) {
    const auto comma = s.find(',');
    return s.size() <= kMaxRateSize && comma != std::string_view::npos &&
           AllDigits(s.substr(0, comma)) && AllDigits(s.substr(comma + 1));
}

// The window finds the date sentence and the no-rates notice by these phrases
// and a currency by its name anywhere in a line.  A name holding one of them
// would be read as that phrase or as another currency.
constexpr std::string_view kPhrases[] = {"не зарегистрированы", "установил с"};
struct ReaderName {
    std::string_view Name;
    std::string_view CharCode;
};
constexpr ReaderName kReaderNames[] = {
    {"Доллар США", "USD"},
    {"ЕВРО", "EUR"},
    {"Немецкая марка", "DEM"},
    {"Финляндских марок", "FIM"},
};

std::string Megabytes(std::size_t bytes) {
    return std::to_string(bytes >> 20) + " MB";
}

// A file's text in pieces: plain, or unpacked when it starts as gzip does (one
// member or several one after another), at most RatesData::kMaxTextBytes in
// all.  Pieces are parsed as they come, so the whole text is never held.
class TextReader {
  public:
    using Sink = std::function<void(std::string_view)>;

    explicit TextReader(const std::string& path) : FPath(path) {
        FFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (FFd < 0)
            throw DataError("cannot read " + path + ": " + std::strerror(errno));
        struct stat st {};
        if (::fstat(FFd, &st) == 0 && S_ISREG(st.st_mode))
            FFileSize = static_cast<std::size_t>(st.st_size);
    }
    ~TextReader() { ::close(FFd); }
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    // About how long the text is, to reserve room.
    std::size_t SizeHint() const { return std::min(FFileSize * 4, RatesData::kMaxTextBytes); }

    void Read(const Sink& sink) {
        std::size_t n = Fill();
        const auto* in = reinterpret_cast<const unsigned char*>(FIn.get());
        if (n >= 2 && in[0] == 0x1f && in[1] == 0x8b) {
            Unpack(n, sink);
            return;
        }
        for (; n > 0; n = Fill())
            Deliver(FIn.get(), n, sink);
    }

  private:
    static constexpr std::size_t kInSize = 1 << 16;
    static constexpr std::size_t kOutSize = 1 << 18;

    std::size_t Fill() {
        for (;;) {
            const ssize_t n = ::read(FFd, FIn.get(), kInSize);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno != EINTR)
                throw DataError("cannot read " + FPath + ": " + std::strerror(errno));
        }
    }

    void Deliver(const char* text, std::size_t n, const Sink& sink) {
        FTotal += n;
        if (FTotal > RatesData::kMaxTextBytes)
            throw DataError(FPath + ": its text is more than " +
                            Megabytes(RatesData::kMaxTextBytes) + " long");
        if (n > 0)
            sink(std::string_view(text, n));
    }

    void Unpack(std::size_t n, const Sink& sink) {
        z_stream z{};
        if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
            throw DataError("cannot unpack " + FPath + ": out of memory");
        struct End {
            z_stream* Stream;
            ~End() { inflateEnd(Stream); }
        } end{&z};
        const auto out = std::make_unique<char[]>(kOutSize);
        z.next_in = reinterpret_cast<Bytef*>(FIn.get());
        z.avail_in = static_cast<uInt>(n);
        bool eof = false;
        bool inMember = false;
        for (;;) {
            if (z.avail_in == 0 && !eof) {
                n = Fill();
                eof = n == 0;
                z.next_in = reinterpret_cast<Bytef*>(FIn.get());
                z.avail_in = static_cast<uInt>(n);
            }
            if (!inMember) {
                if (z.avail_in == 0 && eof)
                    return;  // the end of the last member
                if (z.avail_in == 0)
                    continue;
                inflateReset(&z);  // bytes after a member start another
                inMember = true;
            }
            z.next_out = reinterpret_cast<Bytef*>(out.get());
            z.avail_out = static_cast<uInt>(kOutSize);
            const int rc = inflate(&z, Z_NO_FLUSH);
            Deliver(out.get(), kOutSize - z.avail_out, sink);
            if (rc == Z_STREAM_END)
                inMember = false;
            else if (rc == Z_BUF_ERROR && eof)
                throw DataError(FPath + ": the gzip data is cut short");
            else if (rc != Z_OK && rc != Z_BUF_ERROR)
                throw DataError(FPath + ": damaged gzip data: " +
                                (z.msg != nullptr ? z.msg : "error " + std::to_string(rc)));
        }
    }

    std::string FPath;
    int FFd = -1;
    std::size_t FFileSize = 0;
    std::size_t FTotal = 0;
    std::unique_ptr<char[]> FIn = std::make_unique<char[]>(kInSize);
};

}  // namespace

// Reads the lines of one file into a RatesData.
class RatesData::Builder {
  public:
    Builder(const std::string& source, std::size_t sizeHint) : FSource(source) {
        // A compact file holds about one rate in every ten bytes.
        FData.FRates.reserve(sizeHint / 2);
    }

    // The next piece of the text; lines may run on into the next piece.
    void Feed(std::string_view text) {
        if (!FPending.empty()) {
            const auto eol = text.find('\n');
            FPending += text.substr(0, eol == std::string_view::npos ? text.size() : eol + 1);
            if (eol == std::string_view::npos)
                return;
            Lines(FPending);
            FPending.clear();
            text.remove_prefix(eol + 1);
        }
        const auto last = text.rfind('\n');
        if (last == std::string_view::npos) {
            FPending.assign(text);
            return;
        }
        Lines(text.substr(0, last + 1));
        FPending.assign(text.substr(last + 1));
    }

    RatesData Finish() {
        Lines(FPending);
        EndDate();
        if (FData.FDays.empty())
            throw DataError(FSource + ": holds no rates");
        std::sort(FData.FDays.begin(), FData.FDays.end());
        for (std::size_t i = 0; i < FData.FSeries.size(); ++i)
            FinishSeries(FData.FSeries[i], FChanges[i]);
        OrderNames();
        return std::move(FData);
    }

  private:
    [[noreturn]] void Fail(const std::string& reason) const {
        throw DataError(FSource + ":" + std::to_string(FLineNo) + ": " + reason);
    }

    // Whole lines, each ended by a line feed but perhaps the last.
    void Lines(std::string_view text) {
        while (!text.empty()) {
            ++FLineNo;
            const auto eol = text.find('\n');
            std::string_view line = text.substr(0, eol);
            text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            line = TrimBlanks(line);
            if (line.empty() || line.front() == '#')
                continue;
            if (line.front() == '[')
                DateLine(line);
            else if (line.front() == '!')
                PartialLine(line);
            else
                CurrencyLine(line);
        }
    }

    void DateLine(std::string_view line) {
        if (line.back() != ']')
            Fail("a date line reads [dd.mm.yyyy]");
        const auto date = ParseDate(line.substr(1, line.size() - 2));
        if (!date)
            Fail("not a date: " + Shown(line));
        EndDate();
        const std::int32_t day = DayNumber(*date);
        if (!FDaysSeen.insert(day).second)
            Fail("the date " + date->Text() + " is given twice");
        FData.FDays.push_back(day);
        FDay = day;
        FDateText = date->Text();
        ++FBlock;
        FRatesInBlock = 0;
    }

    void PartialLine(std::string_view line) {
        constexpr std::string_view kPrefix = "partial from";
        line = TrimBlanks(line.substr(1));
        const auto date = line.starts_with(kPrefix)
                              ? ParseDate(TrimBlanks(line.substr(kPrefix.size())))
                              : std::nullopt;
        if (!date)
            Fail("a partial line reads ! partial from dd.mm.yyyy");
        if (FData.FPartialFrom)
            Fail("the partial line is given twice");
        FData.FPartialFrom = DayNumber(*date);
    }

    // Every date lists at least one rate.
    void EndDate() {
        if (FBlock > 0 && FRatesInBlock == 0)
            Fail("the rates of " + FDateText + " list no currency");
    }

    void CurrencyLine(std::string_view line) {
        if (FBlock == 0)
            Fail("a currency line before the first [date] line");
        std::string_view f[kMaxFields];
        const std::size_t n = SplitFields(line, f);
        if (n == 5)
            FullLine(f);
        else if (n == 2)
            ShortLine(f[0], f[1]);
        else
            Fail(
                "a currency line reads: number code | letter code | nominal | name | rate,"
                " or key | rate, or key | -");
    }

    void FullLine(const std::string_view (&f)[kMaxFields]) {
        if (!f[0].empty() && !IsNumCode(f[0]))
            Fail("the number code is three digits: " + Shown(f[0]));
        if (!f[1].empty() && !IsCharCode(f[1]))
            Fail("the letter code is three capital Latin letters: " + Shown(f[1]));
        if (!AllDigits(f[2]) || f[2].size() > 7 || f[2].front() == '0')
            Fail("the nominal is a whole number from 1 to 9999999: " + Shown(f[2]));
        const std::string_view name = f[3];
        CheckName(name, f[1]);
        if (!IsRate(f[4]))
            Fail("the rate is written with a decimal comma, as 27,8500: " + Shown(f[4]));

        const std::string_view key = !f[1].empty() ? f[1] : !f[0].empty() ? f[0] : name;
        if (key.front() == '[' || key.front() == '#')
            Fail("a currency without codes needs a name that does not start with [ or #");
        std::uint32_t series = FindSeries(key);
        if (series == kNone) {
            series = static_cast<std::uint32_t>(FData.FSeries.size());
            if (IsCharCode(key))
                FSeriesByCharCode[CharCodeIndex(key)] = series;
            else
                FSeriesByKey.emplace(std::string(key), series);
            FData.FSeries.emplace_back();
            FChanges.emplace_back();
            FBlockOfSeries.push_back(0);
        }
        std::string text;
        for (int i = 0; i < 4; ++i)
            (text += f[i]) += '\x1f';
        auto info = FInfoByText.find(text);
        if (info == FInfoByText.end()) {
            Info i;
            i.NumCode = f[0];
            i.CharCode = f[1];
            i.Nominal = std::stoi(std::string(f[2]));
            i.Name = name;
            info = FInfoByText.emplace(std::move(text), FData.FInfos.size()).first;
            FData.FInfos.push_back(std::move(i));
            FServedNames.push_back(Utf8ToCp1251(name));
        }
        auto& changes = FChanges[series];
        if (changes.empty() || changes.back().second != info->second)
            changes.emplace_back(FData.FSeries[series].Entries.size(), info->second);
        Add(series, key, f[4]);
    }

    void CheckName(std::string_view name, std::string_view charCode) const {
        if (name.empty())
            Fail("the currency has no name");
        if (name.find_first_of("<>&\"") != std::string_view::npos)
            Fail("the name holds a character reserved in HTML: " + Shown(name));
        if (std::any_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
            Fail("the name holds a control character");
        const String served = Utf8ToCp1251(name);
        if (std::count(served.begin(), served.end(), '?') !=
            std::count(name.begin(), name.end(), '?'))
            Fail("the name holds a character outside Windows-1251 or bad UTF-8: " + Shown(name));
        for (const auto phrase : kPhrases)
            if (name.find(phrase) != std::string_view::npos)
                Fail("the name holds a phrase the window looks for: " + Shown(name));
        for (const auto& r : kReaderNames)
            if (name.find(r.Name) != std::string_view::npos && charCode != r.CharCode)
                Fail("the name holds the name of " + std::string(r.CharCode) +
                     ", which the window looks for: " + Shown(name));
    }

    void ShortLine(std::string_view key, std::string_view rate) {
        const std::uint32_t series = FindSeries(key);
        if (series == kNone)
            Fail("no full line of " + Shown(key) + " before this one");
        if (rate != "-" && !IsRate(rate))
            Fail("the rate is written with a decimal comma, as 27,8500, or is - for none: " +
                 Shown(rate));
        Add(series, key, rate == "-" ? std::string_view() : rate);
    }

    static constexpr std::uint32_t kNone = ~0u;

    // Three capital letters as a number below 26^3.
    static std::size_t CharCodeIndex(std::string_view code) {
        return (static_cast<std::size_t>(code[0] - 'A') * 26 + (code[1] - 'A')) * 26 +
               (code[2] - 'A');
    }

    // Letter codes, nearly every line's key, are looked up in a table.
    std::uint32_t FindSeries(std::string_view key) const {
        if (IsCharCode(key))
            return FSeriesByCharCode[CharCodeIndex(key)];
        const auto it = FSeriesByKey.find(key);
        return it == FSeriesByKey.end() ? kNone : it->second;
    }

    // A rate of the currency (an end when rate is empty) on the current date.
    void Add(std::uint32_t series, std::string_view key, std::string_view rate) {
        if (FBlockOfSeries[series] == FBlock)
            Fail(Shown(key) + " is given twice for " + FDateText);
        FBlockOfSeries[series] = FBlock;
        Entry e;
        e.Day = FDay;
        e.Rate = static_cast<std::uint32_t>(FData.FRates.size() << 5 | rate.size());
        FData.FRates += rate;
        FData.FSeries[series].Entries.push_back(e);
        if (!rate.empty())
            ++FRatesInBlock;
    }

    // Puts a currency's entries in date order with the info of each, and
    // finds its first and last rate.  changes: from which entry of the file's
    // order on an info applies.
    static void FinishSeries(Series& s,
                             const std::vector<std::pair<std::size_t, std::uint32_t>>& changes) {
        auto& entries = s.Entries;
        auto byDay = [](const Entry& a, const Entry& b) { return a.Day < b.Day; };
        if (std::is_sorted(entries.begin(), entries.end(), byDay)) {
            for (const auto& [at, info] : changes)
                s.Infos.emplace_back(entries[at].Day, info);
        } else {
            // Days are unique per currency.
            std::vector<std::pair<Entry, std::uint32_t>> withInfo;
            withInfo.reserve(entries.size());
            std::size_t next = 0;
            std::uint32_t info = 0;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                while (next < changes.size() && changes[next].first <= i)
                    info = changes[next++].second;
                withInfo.emplace_back(entries[i], info);
            }
            std::sort(withInfo.begin(), withInfo.end(),
                      [](const auto& a, const auto& b) { return a.first.Day < b.first.Day; });
            for (std::size_t i = 0; i < withInfo.size(); ++i) {
                entries[i] = withInfo[i].first;
                if (s.Infos.empty() || s.Infos.back().second != withInfo[i].second)
                    s.Infos.emplace_back(entries[i].Day, withInfo[i].second);
            }
        }
        s.Infos.shrink_to_fit();
        bool any = false;
        for (const auto& e : entries) {
            if ((e.Rate & 31) == 0)
                continue;
            s.FirstRate = any ? std::min(s.FirstRate, e.Day) : e.Day;
            s.LastRate = any ? std::max(s.LastRate, e.Day) : e.Day;
            any = true;
        }
    }

    // Rows go in the order of their names as a Russian reader sorts them
    // (case ignored, Ё after Е), as the bank lists them; equal names by code.
    void OrderNames() {
        auto& infos = FData.FInfos;
        std::vector<std::uint32_t> order(infos.size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            if (const int c = AnsiCompareText(FServedNames[a], FServedNames[b]); c != 0)
                return c < 0;
            return std::tie(infos[a].CharCode, infos[a].NumCode, infos[a].Nominal) <
                   std::tie(infos[b].CharCode, infos[b].NumCode, infos[b].Nominal);
        });
        for (std::uint32_t rank = 0; rank < order.size(); ++rank)
            infos[order[rank]].Order = rank;
    }

    const std::string& FSource;
    int FLineNo = 0;
    RatesData FData;
    std::vector<std::uint32_t> FSeriesByCharCode = std::vector<std::uint32_t>(26 * 26 * 26, kNone);
    std::map<std::string, std::uint32_t, std::less<>> FSeriesByKey;  // other keys
    // Of each currency: from which of its entries on an info applies.
    std::vector<std::vector<std::pair<std::size_t, std::uint32_t>>> FChanges;
    std::vector<std::size_t> FBlockOfSeries;  // the date block of its latest line
    std::unordered_map<std::string, std::uint32_t> FInfoByText;
    std::vector<String> FServedNames;  // of FInfos, in Windows-1251
    std::unordered_set<std::int32_t> FDaysSeen;
    std::size_t FBlock = 0;  // date blocks read so far
    std::size_t FRatesInBlock = 0;
    std::int32_t FDay = 0;
    std::string FDateText;
    std::string FPending;  // the start of a line that runs on into the next piece
};

RatesData RatesData::Parse(std::string_view text, const std::string& source) {
    Builder b(source, text.size());
    b.Feed(text);
    return b.Finish();
}

std::string RatesData::ReadText(const std::string& path) {
    TextReader reader(path);
    std::string text;
    reader.Read([&text](std::string_view piece) { text += piece; });
    return text;
}

RatesData RatesData::Load(const std::string& path) {
    TextReader reader(path);
    Builder b(path, reader.SizeHint());
    // A damaged gzip file unpacks to nonsense before its check sum shows the
    // damage: the file is read to its end before a bad line is reported.
    std::optional<DataError> badLine;
    reader.Read([&](std::string_view piece) {
        if (badLine)
            return;
        try {
            b.Feed(piece);
        } catch (const DataError& e) {
            badLine = e;
        }
    });
    if (badLine)
        throw *badLine;
    return b.Finish();
}

Date RatesData::First() const {
    return FDays.empty() ? Date{} : DateOfDay(FDays.front());
}

Date RatesData::Last() const {
    return FDays.empty() ? Date{} : DateOfDay(FDays.back());
}

std::optional<Date> RatesData::PartialFrom() const {
    if (!FPartialFrom)
        return std::nullopt;
    return DateOfDay(*FPartialFrom);
}

bool RatesData::HoldsAllOn(const Date& date) const {
    return date <= Last() && !(FPartialFrom && DayNumber(date) >= *FPartialFrom);
}

std::optional<RatesTable> RatesData::RatesOn(const Date& date) const {
    const auto after = std::upper_bound(FDays.begin(), FDays.end(), DayNumber(date));
    if (after == FDays.begin())
        return std::nullopt;
    const std::int32_t from = *(after - 1);

    struct Row {
        const Info* Of;
        std::uint32_t Rate;
    };
    std::vector<Row> rows;
    rows.reserve(FSeries.size());
    for (const auto& s : FSeries) {
        if (from < s.FirstRate || from > s.LastRate)
            continue;
        const auto e =
            std::upper_bound(s.Entries.begin(), s.Entries.end(), from,
                             [](std::int32_t day, const Entry& x) { return day < x.Day; });
        if (e == s.Entries.begin() || ((e - 1)->Rate & 31) == 0)
            continue;
        const auto info =
            std::upper_bound(s.Infos.begin(), s.Infos.end(), (e - 1)->Day,
                             [](std::int32_t day, const std::pair<std::int32_t, std::uint32_t>& x) {
                                 return day < x.first;
                             });
        rows.push_back(Row{&FInfos[(info - 1)->second], (e - 1)->Rate});
    }
    std::sort(rows.begin(), rows.end(),
              [](const Row& a, const Row& b) { return a.Of->Order < b.Of->Order; });

    RatesTable table;
    table.From = DateOfDay(from);
    table.Partial = FPartialFrom && from >= *FPartialFrom;
    table.Currencies.reserve(rows.size());
    for (const Row& r : rows)
        table.Currencies.push_back(Currency{r.Of->NumCode, r.Of->CharCode, r.Of->Nominal,
                                            r.Of->Name, FRates.substr(r.Rate >> 5, r.Rate & 31)});
    return table;
}

}  // namespace rates
