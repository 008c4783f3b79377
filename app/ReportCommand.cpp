#include "app/ReportCommand.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "app/RatesReport.h"
#include "app/ReportData.h"
#include "app/StoredSettings.h"
#include "app/untMain.h"
#include "gui/Dialogs.h"
#include "gui/Forms.h"
#include "gui/Input.h"

#include "KursVersion.h"

const char* const ReportUsage =
    "usage: kurs-report [-d DATE | --from DATE --to DATE] [--format text|csv|json]\n"
    "                   [--currency CODES] [-s SERVER] [-t SECONDS]\n"
    "                   [--proxy HOST:PORT | --no-proxy] [-q] [-h] [-V]\n"
    "\n"
    "Fetches the rates of a date the way the kurs window does, with its stored\n"
    "settings, and prints the window's report, or the rows of the page as CSV or\n"
    "JSON.  Status texts and messages go to stderr, never into the data.\n"
    "\n"
    "  -d, --date DATE       the date to ask for (default: today)\n"
    "      --from DATE       with --to: every date of the range, one request after\n"
    "      --to DATE         another (at most 10000 dates)\n"
    "      --format FORMAT   text (the window's report; the reports of a range are\n"
    "                        separated by a blank line), csv (RFC 4180, one header\n"
    "                        requested,effective,code,nominal,value,name) or json\n"
    "                        (one object a date; an array of them for a range)\n"
    "      --currency CODES  letter codes such as USD,EUR,CNY (any case), in that\n"
    "                        order, or all for every row of the page; csv and json\n"
    "                        only (default: USD,EUR,DEM,FIM, the window's four)\n"
    "  -s, --server SERVER   the rates server (address[:port] or URL)\n"
    "  -t, --timeout SECONDS the answer time-out, 0 to 999 (0 means one second)\n"
    "      --proxy HOST:PORT go through this HTTP proxy (port 0 to 9999)\n"
    "      --no-proxy        go direct even when the window's settings use a proxy\n"
    "  -q, --quiet           no status texts\n"
    "  -h, --help            this text\n"
    "  -V, --version         the version\n"
    "\n"
    "DATE is d.m.yyyy or dd.mm.yyyy (with \".\", \"/\" or \"-\"), yyyy-mm-dd, today,\n"
    "yesterday or tomorrow.  On a terminal a range of more than 20 dates shows a\n"
    "progress line on stderr instead of the status texts.\n"
    "\n"
    "Exit status:\n"
    "  0  every date asked for had rates\n"
    "  1  a message was printed (no connection, a time-out, an HTTP error status,\n"
    "     a page the report could not be read from), or the output could not be\n"
    "     written; a range stops there, and what was printed stays\n"
    "  2  usage error\n"
    "  3  the server answered, but had no rates for a date (the window's failure\n"
    "     line or notice; in csv and json: no row of the codes asked for)\n";

std::string TerminalText(const String& Text) {
    String flat;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '\r' || c == '\n') {
            const char other = c == '\r' ? '\n' : '\r';
            if (i + 1 < Text.size() && Text[i + 1] == other)
                ++i;
            flat += '\n';
        } else {
            flat += c;
        }
    }
    return Cp1251ToUtf8(flat);
}

namespace {

// The window's four currencies, what csv and json give without --currency.
const std::vector<std::string> kWindowCurrencies = {"USD", "EUR", "DEM", "FIM"};

// A page with more bad rows than this has the rest counted in one line.
constexpr int kBadRowsTold = 5;

// Lines on stderr, with the progress line (when there is one) wiped first
// and drawn again after.
class TErrLines {
  public:
    explicit TErrLines(std::ostream& Err) : FErr(Err) {}
    void Line(const std::string& text) {
        WipeProgress();
        FErr << text << "\n" << std::flush;
    }
    void Progress(const std::string& text) {
        FErr << "\r" << text << "\033[K" << std::flush;
        FProgress = true;
    }
    void WipeProgress() {
        if (FProgress)
            FErr << "\r\033[K" << std::flush;
        FProgress = false;
    }

  private:
    std::ostream& FErr;
    bool FProgress = false;
};

// The records of the codes asked for, in that order (every row's for all);
// codes the page lacks and rows that are not numbers are told on stderr.
std::vector<TRateRecord> SelectRecords(const TRatesPage& page, const TReportOptions& options,
                                       const std::string& date, TErrLines& err) {
    std::vector<TRateRecord> records;
    int badRows = 0;
    auto take = [&](const TRateRow& row) {
        std::string problem;
        if (auto r = CheckRateRow(row, problem)) {
            records.push_back(std::move(*r));
        } else if (++badRows <= kBadRowsTold) {
            err.Line("kurs-report: " + date + ": " + problem + "; the row is left out");
        }
    };
    if (options.AllCurrencies) {
        for (const TRateRow& row : page.Rows)
            take(row);
    } else {
        // The first row of each code, by its upper-case letters.
        std::unordered_map<std::string, std::size_t> rowOf;
        for (std::size_t i = 0; i < page.Rows.size(); ++i)
            rowOf.emplace(UpperCase(page.Rows[i].Code), i);
        const auto& codes = options.CurrencyGiven() ? options.Currencies : kWindowCurrencies;
        for (const std::string& code : codes) {
            if (const auto found = rowOf.find(code); found != rowOf.end())
                take(page.Rows[found->second]);
            else if (options.CurrencyGiven())
                err.Line("kurs-report: " + date + ": " + code + " is not on the page");
        }
    }
    if (badRows > kBadRowsTold) {
        err.Line("kurs-report: " + date + ": and " + std::to_string(badRows - kBadRowsTold) +
                 " more rows like these are left out");
    }
    return records;
}

// Writes the text at once; false when it could not be written.
bool Emit(std::ostream& Out, const std::string& text) {
    if (!text.empty())
        Out.write(text.data(), static_cast<std::streamsize>(text.size()));
    Out.flush();
    return static_cast<bool>(Out);
}

}  // namespace

int RunReportCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err,
                     bool ErrIsTerminal) {
    TReportOptions options;
    std::string error;
    if (!ParseReportOptions(Args, options, error)) {
        Err << "kurs-report: " << error << "\n" << ReportUsage;
        return ReportUsageError;
    }
    if (options.Help) {
        Out << ReportUsage;
        return 0;
    }
    if (options.Version) {
        Out << "kurs-report " << KURS_VERSION << "\n";
        return 0;
    }

    TErrLines err(Err);
    Application->Initialize();
    Application->SetTitle("Курсы валют"_cp);
    int boxes = 0;
    SetMessageBoxListener([&](const TMessageBoxRecord& box) {
        ++boxes;
        err.Line(TerminalText(box.Text));
    });

    TForm1* form = nullptr;
    Application->CreateForm(form);
    // The window's own settings, read without touching the store.
    RestoreStoredSettingsReadOnly(form, WindowSettingsKey);

    if (options.Server)
        SendTextChange(form->edtServer, *options.Server);
    if (options.TimeOut)
        SendTextChange(form->edtTimeOut, *options.TimeOut);
    if (options.ProxyHost) {
        if (!form->cbxProxy->Checked())
            SendClick(form->cbxProxy);
        SendTextChange(form->edtProxy, *options.ProxyHost);
        SendTextChange(form->edtPort, *options.ProxyPort);
    } else if (options.NoProxy && form->cbxProxy->Checked()) {
        SendClick(form->cbxProxy);
    }

    const bool range = options.From.has_value();
    const TDateTime first = range ? *options.From : options.Date.value_or(form->dteKurs->Date());
    const int days = range ? static_cast<int>(std::lround(*options.To - first)) + 1 : 1;
    const bool progress = ErrIsTerminal && days > 20;
    if (!options.Quiet && !progress) {
        form->OnStatusText = [&](const String& text) {
            if (!text.empty())
                err.Line(Cp1251ToUtf8(text));
        };
    }

    int status = ReportHasRates;
    bool written = true;
    const bool jsonArray = range && options.Format == TReportFormat::Json;
    if (options.Format == TReportFormat::Csv)
        written = Emit(Out, CsvHeader());
    else if (jsonArray)
        written = Emit(Out, "[\n");
    for (int day = 0; day < days && written && status != ReportMessage; ++day) {
        const TDateTime date = first + day;
        const std::string iso = IsoDate(date);
        if (progress)
            err.Progress("kurs-report: " + iso + " (" + std::to_string(day + 1) + " of " +
                         std::to_string(days) + ")");
        const int boxesBefore = boxes;
        form->dteKurs->SetDate(date);
        SendClick(form->Button1);

        bool message = boxes > boxesBefore;
        const int reply = form->NMHTTP1->ReplyCode();
        if (!message && reply >= 300) {
            // The window writes its failure line for an error page; a script
            // is told that the server failed, not that it has no rates.
            err.Line("kurs-report: " + iso + ": the server answered with HTTP status " +
                     std::to_string(reply));
            message = true;
        }
        bool hasRates = false;
        std::string text;
        if (options.Format == TReportFormat::Text) {
            const TStrings* lines = form->Memo2->Lines();
            if (day > 0)
                text += "\n";
            for (int i = 0; i < lines->Count(); ++i)
                text += Cp1251ToUtf8(lines->Strings(i)) + "\n";
            hasRates = ReportShowsRates(*lines);
        } else if (!message && form->Pages()) {
            const TRatesPage page = ReadRatesPage(*form->Pages());
            std::optional<std::string> effective;
            if (const auto from = PageDate(page.EffectiveDate))
                effective = IsoDate(*from);
            else if (!page.EffectiveDate.empty())
                err.Line("kurs-report: " + iso + ": the page's date of the rates is not a date: '" +
                         Cp1251ToUtf8(page.EffectiveDate) + "'");
            // Rates count only with the date they apply from, as in the report.
            std::vector<TRateRecord> records;
            if (effective)
                records = SelectRecords(page, options, iso, err);
            hasRates = !records.empty();
            if (options.Format == TReportFormat::Csv)
                text = CsvRecords(iso, effective.value_or(""), records);
            else
                text = (jsonArray && day > 0 ? ",\n" : "") + JsonRecord(iso, effective, records) +
                       (jsonArray ? "" : "\n");
        }
        written = Emit(Out, text);
        if (message)
            status = ReportMessage;
        else if (!hasRates)
            status = ReportNoRates;
    }
    if (written && jsonArray)
        written = Emit(Out, "\n]\n");
    err.WipeProgress();
    if (!written) {
        // A reader that has gone (a closed pipe) has all it wanted.
        if (errno != EPIPE)
            err.Line(std::string("kurs-report: cannot write the output: ") + std::strerror(errno));
        status = ReportMessage;
    }

    form->OnStatusText = nullptr;
    Application->DoneApplication();
    SetMessageBoxListener(nullptr);
    return status;
}
