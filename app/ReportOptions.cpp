// kurs-report's command line: getopt_long over the arguments, the dates,
// the time-out, the proxy, the format and the currency codes.

#include <getopt.h>

#include <cctype>
#include <cmath>

#include "app/Digits.h"
#include "app/ReportCommand.h"

namespace {

// The numeric forms: d.m.yyyy (one or two digits for day and month, the same
// separator ".", "/" or "-" twice) or yyyy-mm-dd.
std::optional<TDateTime> NumericDate(std::string_view t) {
    int day = 0, month = 0, year = 0;
    if (t.size() == 10 && t[4] == '-' && t[7] == '-' && AllDigits(t.substr(0, 4)) &&
        AllDigits(t.substr(5, 2)) && AllDigits(t.substr(8, 2))) {
        year = DigitsValue(t.substr(0, 4));
        month = DigitsValue(t.substr(5, 2));
        day = DigitsValue(t.substr(8, 2));
    } else {
        const std::size_t first = t.find_first_of("./-");
        if (first == std::string_view::npos)
            return std::nullopt;
        const char separator = t[first];
        const std::size_t second = t.find(separator, first + 1);
        if (second == std::string_view::npos)
            return std::nullopt;
        const std::string_view d = t.substr(0, first);
        const std::string_view m = t.substr(first + 1, second - first - 1);
        const std::string_view y = t.substr(second + 1);
        if (d.size() > 2 || m.size() > 2 || y.size() != 4 || !AllDigits(d) || !AllDigits(m) ||
            !AllDigits(y))
            return std::nullopt;
        day = DigitsValue(d);
        month = DigitsValue(m);
        year = DigitsValue(y);
    }
    TDateTime date = 0;
    if (year < 1 || !TryEncodeDate(year, month, day, date))
        return std::nullopt;
    return date;
}

constexpr const char* kDateForms =
    "d.m.yyyy, d/m/yyyy, d-m-yyyy, yyyy-mm-dd, today, yesterday "
    "or tomorrow";

bool DateOption(const char* name, const std::string& value, std::optional<TDateTime>& into,
                std::string& error) {
    into = ParseReportDate(value);
    if (!into)
        error = std::string(name) + ": '" + value + "' is not a date (" + kDateForms + ")";
    return into.has_value();
}

// The codes of --currency, upper-cased, in the order given, each once.
bool CurrencyOption(const std::string& value, TReportOptions& options, std::string& error) {
    options.Currencies.clear();
    options.AllCurrencies = false;
    if (value.empty()) {
        error = "--currency wants letter codes such as USD,EUR or all, not ''";
        return false;
    }
    if (LowerCase(value) == "all") {
        options.AllCurrencies = true;
        return true;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = value.find(',', start);
        const std::string typed =
            value.substr(start, comma == std::string::npos ? comma : comma - start);
        bool letters = typed.size() == 3;
        for (char c : typed)
            letters = letters && std::isalpha(static_cast<unsigned char>(c));
        if (!letters) {
            error = "--currency wants letter codes such as USD,EUR or all; '" + typed + "' in '" +
                    value + "' is not one";
            return false;
        }
        const std::string code = UpperCase(typed);
        bool seen = false;
        for (const std::string& c : options.Currencies)
            seen = seen || c == code;
        if (!seen)
            options.Currencies.push_back(code);
        if (options.Currencies.size() > MaxReportCurrencies) {
            error = "--currency names more than " + std::to_string(MaxReportCurrencies) + " codes";
            return false;
        }
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

enum LongOnly { optFormat = 256, optCurrency, optFrom, optTo, optProxy, optNoProxy };

const option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"date", required_argument, nullptr, 'd'},
    {"server", required_argument, nullptr, 's'},
    {"timeout", required_argument, nullptr, 't'},
    {"quiet", no_argument, nullptr, 'q'},
    {"proxy", required_argument, nullptr, optProxy},
    {"no-proxy", no_argument, nullptr, optNoProxy},
    {"format", required_argument, nullptr, optFormat},
    {"currency", required_argument, nullptr, optCurrency},
    {"from", required_argument, nullptr, optFrom},
    {"to", required_argument, nullptr, optTo},
    {nullptr, 0, nullptr, 0},
};

// The reason getopt_long refused a word: result ':' for a missing value,
// '?' otherwise; shortOption is getopt's optopt, word the argument it was in.
std::string Refused(int result, int shortOption, const std::string& word) {
    const bool isLong = word.rfind("--", 0) == 0;
    if (result == ':')
        return (isLong ? word : "-" + std::string(1, static_cast<char>(shortOption))) +
               " needs a value";
    for (const option& o : kOptions) {
        if (o.name && shortOption != 0 && o.val == shortOption && o.has_arg == no_argument)
            return "--" + std::string(o.name) + " takes no value";
    }
    if (shortOption != 0)
        return "unknown option '-" + std::string(1, static_cast<char>(shortOption)) + "'";
    // getopt_long takes a long option's unique beginning; several match this one.
    const std::string typed = word.substr(2, word.find('=') - 2);
    std::string matches;
    for (const option& o : kOptions) {
        if (o.name && !typed.empty() && std::string_view(o.name).substr(0, typed.size()) == typed)
            matches += (matches.empty() ? "--" : ", --") + std::string(o.name);
    }
    if (matches.find(',') != std::string::npos)
        return "ambiguous option '" + word + "' (" + matches + ")";
    return "unknown option '" + word + "'";
}

}  // namespace

std::optional<TDateTime> ParseReportDate(const std::string& Text) {
    const std::string word = LowerCase(Text);
    if (word == "today")
        return Date();
    if (word == "yesterday")
        return Date() - 1;
    if (word == "tomorrow")
        return Date() + 1;
    return NumericDate(Text);
}

bool ParseReportOptions(const std::vector<std::string>& Args, TReportOptions& Options,
                        std::string& Error) {
    std::vector<std::string> words;
    words.reserve(Args.size() + 1);
    words.push_back("kurs-report");
    words.insert(words.end(), Args.begin(), Args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    // A fresh scan each call; getopt's own messages are replaced by ours.
    optind = 0;
    opterr = 0;
    int result;
    while ((result = getopt_long(argc, argv.data(), ":hVd:s:t:q", kOptions, nullptr)) != -1) {
        const std::string value = optarg ? optarg : "";
        switch (result) {
            case 'h':
                Options.Help = true;
                break;
            case 'V':
                Options.Version = true;
                break;
            case 'q':
                Options.Quiet = true;
                break;
            case 'd':
                if (!DateOption("--date", value, Options.Date, Error))
                    return false;
                break;
            case optFrom:
                if (!DateOption("--from", value, Options.From, Error))
                    return false;
                break;
            case optTo:
                if (!DateOption("--to", value, Options.To, Error))
                    return false;
                break;
            case 's':
                Options.Server = Utf8ToCp1251(value);
                break;
            case 't':
                if (!AllDigits(value) || value.size() > 3) {
                    Error = "--timeout wants 0 to 999 seconds, not '" + value + "'";
                    return false;
                }
                Options.TimeOut = value;
                break;
            case optProxy: {
                const auto colon = value.rfind(':');
                if (colon == std::string::npos || colon == 0 ||
                    !AllDigits(std::string_view(value).substr(colon + 1)) ||
                    value.size() - colon - 1 > 4) {
                    Error = "--proxy wants HOST:PORT with a port of 0 to 9999, not '" + value + "'";
                    return false;
                }
                Options.ProxyHost = Utf8ToCp1251(value.substr(0, colon));
                Options.ProxyPort = value.substr(colon + 1);
                break;
            }
            case optNoProxy:
                Options.NoProxy = true;
                break;
            case optFormat:
                if (value == "text") {
                    Options.Format = TReportFormat::Text;
                } else if (value == "csv") {
                    Options.Format = TReportFormat::Csv;
                } else if (value == "json") {
                    Options.Format = TReportFormat::Json;
                } else {
                    Error = "--format wants text, csv or json, not '" + value + "'";
                    return false;
                }
                break;
            case optCurrency:
                if (!CurrencyOption(value, Options, Error))
                    return false;
                break;
            default: {
                // A missing value is the last word; a refused long option is
                // the word optind has just passed; a short one optopt names.
                const int at = result == ':' || optind > argc ? argc - 1 : optind - 1;
                Error = Refused(result, optopt, words[static_cast<std::size_t>(at)]);
                return false;
            }
        }
    }
    if (optind < argc) {
        Error = "unexpected argument '" + words[static_cast<std::size_t>(optind)] + "'";
        return false;
    }
    if (Options.ProxyHost && Options.NoProxy) {
        Error = "--proxy and --no-proxy exclude each other";
        return false;
    }
    if (Options.Date && (Options.From || Options.To)) {
        Error = "--date and --from/--to exclude each other";
        return false;
    }
    if (Options.From.has_value() != Options.To.has_value()) {
        Error = Options.From ? "--from needs --to" : "--to needs --from";
        return false;
    }
    if (Options.From) {
        const double days = std::round(*Options.To - *Options.From) + 1;
        if (days < 1) {
            Error = "--from comes after --to: the range runs backwards";
            return false;
        }
        if (days > MaxReportDays) {
            Error = "the range has " + std::to_string(static_cast<long long>(days)) +
                    " days; at most " + std::to_string(MaxReportDays) + " are asked for at once";
            return false;
        }
    }
    if (Options.CurrencyGiven() && Options.Format == TReportFormat::Text) {
        Error =
            "--currency goes with --format csv or json (the text report has the window's "
            "four currencies)";
        return false;
    }
    return true;
}
