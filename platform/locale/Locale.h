#pragma once
// Regional settings, read from the C library's locale of the user's
// environment (LC_ALL / LC_TIME / LC_NUMERIC / LANG) without changing the
// process locale.  A locale the C library does not have falls back to "C".

#include <string>

namespace win {

struct LocaleInfo {
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    // Windows-style pictures: "dd.MM.yyyy", "HH:mm:ss".
    std::string ShortDatePattern = "MM/dd/yy";
    std::string TimePattern = "HH:mm:ss";
};

// The settings of the user's environment (read once, then cached).
const LocaleInfo& GetUserLocaleInfo();
// The settings of a named C library locale ("" = the environment's); falls
// back to "C" when the locale is not installed.
LocaleInfo GetLocaleInfoFor(const std::string& localeName);

char GetDateSeparator();
char GetTimeSeparator();
char GetDecimalSeparator();
char GetThousandSeparator();
std::string GetShortDatePattern();

// Turns a C library date/time format ("%d.%m.%Y") into a Windows picture
// ("dd.MM.yyyy").
std::string PatternFromStrftime(const std::string& format);

}  // namespace win
