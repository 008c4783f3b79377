#pragma once
// Text of the system: String is a std::string of Windows-1251 bytes.  Russian
// literals in the UTF-8 sources are written as "Текст"_cp (runtime/Cp1251.h)
// and converted to cp1251 while compiling.  The helpers below follow the
// runtime's rules: 1-based positions in Pos/Copy, Trim drops every byte up to
// 32, case-insensitive comparisons know the cp1251 Cyrillic letters.

#include <string>
#include <string_view>

#include "runtime/Cp1251.h"
#include "runtime/Format.h"

// cp1251 <-> UTF-8.  A character that has no cp1251 byte becomes '?'; a byte
// without a character (0x98) becomes U+FFFD.
String Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view cp1251);

// 1-based position of sub in s, 0 when absent (or when sub is empty).
int Pos(std::string_view sub, std::string_view s);
// count bytes from the 1-based index; an index below 1 counts from 1, past
// the end or a count <= 0 gives "".
String Copy(std::string_view s, int index, int count);
// Deletes count bytes at the 1-based index (clamped like Copy).
void Delete(String& s, int index, int count);
// Inserts sub before the 1-based index (clamped to 1..length+1).
void Insert(std::string_view sub, String& s, int index);

String Trim(std::string_view s);
String TrimLeft(std::string_view s);
String TrimRight(std::string_view s);

String UpperCase(std::string_view s);  // ASCII letters only
String LowerCase(std::string_view s);
String AnsiUpperCase(std::string_view s);  // cp1251 letters too
String AnsiLowerCase(std::string_view s);

int CompareStr(std::string_view a, std::string_view b);   // byte order
int CompareText(std::string_view a, std::string_view b);  // ASCII case ignored
bool SameText(std::string_view a, std::string_view b);
int AnsiCompareStr(std::string_view a, std::string_view b);
// Case-insensitive, cp1251 aware, independent of the process locale:
// negative, 0 or positive.  Letters compare in alphabet order (Ё after Е).
int AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);

// Strict conversions: optional blanks are not allowed, a sign is, "$" starts
// hexadecimal.  EConvertError "'%s' is not a valid integer value".
int StrToInt(std::string_view s);
int StrToIntDef(std::string_view s, int def);
bool TryStrToInt(std::string_view s, int& value);
long long StrToInt64(std::string_view s);
long long StrToInt64Def(std::string_view s, long long def);
bool TryStrToInt64(std::string_view s, long long& value);
String IntToStr(long long value);
String IntToHex(unsigned long long value, int digits);

// Floats use the regional decimal separator (DecimalSeparator()).
double StrToFloat(std::string_view s);  // EConvertError "'%s' is not a valid floating point value"
bool TryStrToFloat(std::string_view s, double& value);
// The general format with 15 significant digits: "27.85", "1E20", "1E-5".
String FloatToStr(double value);
enum TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber };
// ffGeneral: the shorter of fixed and scientific with precision significant
// digits (scientific when the exponent is above precision or the value is
// below 0.0001), no trailing zeros, exponent without '+' and leading zeros.
// ffExponent: d.ddd with precision digits, "E", sign, at least digits
// exponent digits.  ffFixed: digits decimals.  ffNumber: as ffFixed with
// ThousandSeparator() between groups of three.
String FloatToStrF(double value, TFloatFormat format, int precision, int digits);

char DecimalSeparator();
void SetDecimalSeparator(char c);
char ThousandSeparator();
void SetThousandSeparator(char c);

// Replaces every (or the first) occurrence of from; ignoreCase uses AnsiSameText rules.
String StringReplace(std::string_view s, std::string_view from, std::string_view to,
                     bool all = true, bool ignoreCase = false);
String StringOfChar(char c, int count);
String QuotedStr(std::string_view s);  // 'text' with inner quotes doubled
