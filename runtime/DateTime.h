#pragma once
// Dates and times: TDateTime counts days since 30.12.1899 (the fraction is
// the time of day).  The process-wide formats start from the regional
// settings; in a format "/" stands for DateSeparator() and ":" for
// TimeSeparator().

#include "runtime/String.h"

using TDateTime = double;

struct TSystemTime {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

// EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time);
void DecodeDate(TDateTime date, int& year, int& month, int& day);
void DecodeTime(TDateTime time, int& hour, int& min, int& sec, int& msec);
TSystemTime DateTimeToSystemTime(TDateTime dt);
TDateTime SystemTimeToDateTime(const TSystemTime& st);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime date);

TDateTime Date();  // today, local time, at midnight
TDateTime Time();  // now, local time, date part 0
TDateTime Now();
TDateTime IncMonth(TDateTime date, int months = 1);

// Process-wide regional formats.
char DateSeparator();
void SetDateSeparator(char c);
char TimeSeparator();
void SetTimeSeparator(char c);
const String& ShortDateFormat();
void SetShortDateFormat(const String& format);
const String& LongDateFormat();
void SetLongDateFormat(const String& format);
const String& ShortTimeFormat();
void SetShortTimeFormat(const String& format);
const String& LongTimeFormat();
void SetLongTimeFormat(const String& format);
// Marks of the 12-hour clock for the "ampm" picture.
const String& TimeAMString();
const String& TimePMString();
// Re-reads the separators and formats from platform/locale.
void ResetFormatSettings();

// Format pictures: d dd ddd dddd m mm mmm mmmm yy yyyy h hh n nn s ss z zzz
// am/pm a/p ampm, c (short date + long time), ddddd (short date),
// dddddd (long date), t (short time), tt (long time), / and :, "quoted" and
// 'quoted' text.  An m straight after h/hh means minutes.
String FormatDateTime(std::string_view format, TDateTime dt);
String DateToStr(TDateTime date);
String TimeToStr(TDateTime time);
String DateTimeToStr(TDateTime dt);

// Parses a date typed in the order of ShortDateFormat (day, month, year as
// it gives them) with DateSeparator() between the numbers; a two-digit year
// is taken in the century window around this year, a missing year is this
// year.  EConvertError "'%s' is not a valid date".
TDateTime StrToDate(std::string_view s);
bool TryStrToDate(std::string_view s, TDateTime& date);
TDateTime StrToDateDef(std::string_view s, TDateTime def);
// EConvertError "'%s' is not a valid time".
TDateTime StrToTime(std::string_view s);
bool TryStrToTime(std::string_view s, TDateTime& time);
// EConvertError "'%s' is not a valid date and time".
TDateTime StrToDateTime(std::string_view s);

namespace runtime_detail {
// The clock Date()/Now() read; tests replace it (empty = the system clock).
using TClockFunction = TDateTime (*)();
void SetClockForTesting(TClockFunction clock);
}  // namespace runtime_detail
