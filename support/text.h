#pragma once
// Dates, times, numbers and texts shared by the whole terminal: the compact date and time numbers of
// the transaction records (yyyymmdd, hhnnss), the long Estonian date of the logs, a number reader that
// takes "." as the decimal point whatever the locale, alignment and padding to a width, lists of fields,
// and the parameter list (name=value;name=value;) that the configuration, the error reports and the
// receipt templates share. Texts are Windows-1252 bytes. Positions are 1-based, as the callers count.
// Standard library only: the locale's forms arrive through Text_Forms(), set once at start-up.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

// A local date and time of day. year 0 means "no date".
struct DateTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    bool operator==(const DateTime&) const = default;
};

// The locale's short date and time forms as pictures (see Fmt_DateTime) and its decimal separator.
// Start-up copies them from the system locale (Text_UseSystemLocale); tests set them directly.
struct TextForms {
    std::string shortDate = "dd.mm.yyyy";
    std::string shortTime = "hh:nn:ss";
    char decimal = '.';
    char group = ',';
};
TextForms& Text_Forms();
// Copies the forms of QLocale::system() into Text_Forms().
void Text_UseSystemLocale();

// A valid calendar date (and time of day) in the DateTime.
bool DateTime_IsValid(const DateTime& v);
// Reads a date, a date-time or a time from text in the short date form, ISO 8601 (yyyy-mm-dd
// [hh:nn[:ss]]) or the short time form; nothing when it is none of them.
std::optional<DateTime> DateTime_Read(std::string_view text);

// yyyymmdd of a date, 0 when it is none.
std::int32_t Date_Number(const DateTime& v);
std::int32_t Date_Number(std::string_view text);
// hhnnss of a date-time, 0 when it is none.
std::int32_t Time_Number(const DateTime& v);
std::int32_t Time_Number(std::string_view text);
// The date of yyyymmdd, months and days out of range carried forward; 0 gives today. Two-digit
// years are read as the system does: 00-29 as 2000-2029, 30-99 as 1930-1999.
DateTime Date_FromNumber(std::int32_t n);
// The time of hhnnss on day zero; 0 gives the current time of day to the second.
DateTime Time_FromNumber(std::int32_t n);
// "05. detsember 1999"; empty text when the value is no date.
std::string Date_Long(const DateTime& v);
std::string Date_Long(std::string_view text);

// A number of a text: "." is always the decimal point; otherwise the leading number ("12abc" is 12).
double Num_Value(std::string_view text);
// Num_Value written in the locale's number form, no grouping, no trailing zeros.
std::string Num_Text(std::string_view text);
std::string Num_Text(double v);

// Exactly `width` characters: cut or padded with spaces. align 1 left, 2 right, 3 centre.
std::string Str_Align(std::string_view t, int width, int align);
// Padded with `fill` to `width`; never cut. side 2 pads after the text, anything else before it.
std::string Str_Pad(std::string_view t, char fill, int width, int side);
// Fields ended by each separator; empty text gives no fields. An empty separator gives the whole text.
std::vector<std::string> Str_Split(std::string_view text, std::string_view separator);
// Equal after trimming spaces at both ends, ignoring case (Windows-1252 letters included).
bool Text_Equal(std::string_view a, std::string_view b);
std::string Str_Upper(std::string_view t);
std::string Str_Trim(std::string_view t);
// The same 16 bits as a signed 16-bit integer; nothing outside -32768..65535 (an overflow).
std::optional<std::int16_t> Int16_FromWord(std::int32_t v);
// Upper-case hexadecimal without leading zeros; negative values as their two's complement.
std::string Num_Hex(std::int16_t v);
std::string Num_Hex(std::int32_t v);
std::string Str_Replace(std::string_view text, std::string_view sought, std::string_view replacement);

// Pictures. Dates and times: d dd m mm yy yyyy h hh n nn s ss, anything else literal; "short date"
// and "short time" name the locale's forms. Numbers: 0 (digit always shown), # (digit when
// significant), "." decimal point, "," thousands grouping; the decimal point shown is the locale's.
std::string Fmt_DateTime(const DateTime& v, std::string_view picture);
std::string Fmt_Number(double v, std::string_view picture);
// A text formatted with a picture the way a template does it: a text that reads as a number takes a
// number picture, one that reads as a date takes a date picture; anything else is shown unchanged.
std::string Fmt_Text(std::string_view text, std::string_view picture);

// Text positions, 1-based. Str_FindOrEnd: position of `sought` at or after `start`, or length + 1.
int Str_FindOrEnd(int start, std::string_view text, std::string_view sought);
// The characters strictly between positions a and b; empty when a > length or b <= a.
std::string Str_Between(std::string_view text, int a, int b);

// The parameter list: name=value; entries, names without regard to case, the first match wins.
// An empty name gives the whole list.
std::string Param_Get(std::string_view list, std::string_view name);
std::string Param_GetOr(std::string_view list, std::string_view name, std::string_view fallback);
void Param_Set(std::string& list, std::string_view name, std::string_view value);

// Decodes "%" escapes: "%" + two hex digits is that byte; "%" + one of % : ; + { } < > ] is that
// character; any other "%" is dropped. Used by templates, separators and the workstation texts.
std::string Tpl_Decode(std::string_view text);
// Percent-encoding: with flag 1 every character below 32 or above 126, with flag 2 the unsafe
// characters (space < > " # % { } | \ ^ ~ [ ] `), each as "%" and two hexadecimal digits.
std::string Url_Encode(std::string_view text, int flags = 3);

} // namespace tollan
