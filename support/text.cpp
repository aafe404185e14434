#include "support/text.h"

#include "support/clock.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tollan {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Windows-1252 upper case: ASCII, the accented letters of 0xE0..0xFE (not ÷), š œ ž ÿ.
char UpperChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 32);
    switch (u) {
    case 0x9A: return static_cast<char>(0x8A);
    case 0x9C: return static_cast<char>(0x8C);
    case 0x9E: return static_cast<char>(0x8E);
    case 0xFF: return static_cast<char>(0x9F);
    default: return c;
    }
}

int DaysInMonth(int y, int m)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return days[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(era * 400 + yoe + (m <= 2));
}

int TwoDigitYear(int y) { return y < 30 ? 2000 + y : 1900 + y; }

DateTime Today()
{
    const QDateTime now = Clock_Now();
    const QDate d = now.date();
    const QTime t = now.time();
    return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
}

// The leading number of a text: optional spaces, an optional sign, digits; reading stops at the
// first other character.
double LeadingNumber(std::string_view t)
{
    std::size_t i = 0;
    while (i < t.size() && t[i] == ' ') ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    double v = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i) v = v * 10 + (t[i] - '0');
    return negative ? -v : v;
}

// Numeric text in the locale's own form: spaces, a sign, digits, the locale's decimal separator and
// digits, an optional exponent.
std::optional<double> LocaleNumber(std::string_view t)
{
    std::string s = Str_Trim(t);
    if (s.empty()) return std::nullopt;
    std::size_t i = 0;
    std::string c;
    if (s[i] == '-' || s[i] == '+') c += s[i++];
    std::size_t digits = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i, ++digits) c += s[i];
    if (i < s.size() && s[i] == Text_Forms().decimal) {
        c += '.';
        for (++i; i < s.size() && IsDigit(s[i]); ++i, ++digits) c += s[i];
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::string e = "e";
        ++i;
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) e += s[i++];
        std::size_t ed = 0;
        for (; i < s.size() && IsDigit(s[i]) && ed < 4; ++i, ++ed) e += s[i];
        if (ed == 0) return std::nullopt;
        c += e;
    }
    if (i != s.size()) return std::nullopt;
    const double v = std::strtod(c.c_str(), nullptr);
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

std::string TwoDigits(int v)
{
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

} // namespace

TextForms& Text_Forms()
{
    static TextForms forms;
    return forms;
}

bool DateTime_IsValid(const DateTime& v)
{
    return v.year >= 100 && v.year <= 9999 && v.month >= 1 && v.month <= 12 && v.day >= 1
        && v.day <= DaysInMonth(v.year, v.month) && v.hour >= 0 && v.hour < 24 && v.minute >= 0
        && v.minute < 60 && v.second >= 0 && v.second < 60;
}

std::optional<DateTime> DateTime_Read(std::string_view text)
{
    // The numbers of the text in order, and whether a ":" started the time part.
    std::vector<int> date, time;
    std::vector<int>* part = &date;
    std::vector<int> lengths;
    std::size_t i = 0;
    const std::string t = Str_Trim(text);
    if (t.empty()) return std::nullopt;
    bool sawColon = false;
    while (i < t.size()) {
        if (IsDigit(t[i])) {
            int v = 0;
            std::size_t n = 0;
            for (; i < t.size() && IsDigit(t[i]); ++i, ++n) {
                if (n >= 4) return std::nullopt;
                v = v * 10 + (t[i] - '0');
            }
            if (i < t.size() && t[i] == ':' && part == &date) {
                if (date.size() != 0 && date.size() != 3) return std::nullopt;
                part = &time;
                sawColon = true;
            }
            part->push_back(v);
            if (part == &date) lengths.push_back(static_cast<int>(n));
        } else {
            const char c = t[i];
            if (c != '.' && c != '/' && c != '-' && c != ' ' && c != ':' && c != 'T') return std::nullopt;
            if (c == ' ' || c == 'T') {
                if (date.size() == 3) part = &time;
            }
            ++i;
        }
    }
    DateTime v;
    if (date.empty()) {
        if (!sawColon || time.size() < 2 || time.size() > 3) return std::nullopt;
        v = {1899, 12, 30, time[0], time[1], time.size() > 2 ? time[2] : 0};
        return DateTime_IsValid(v) ? std::optional(v) : std::nullopt;
    }
    if (date.size() != 3 || time.size() == 1 || time.size() > 3) return std::nullopt;
    if (lengths[0] == 4) {
        v.year = date[0], v.month = date[1], v.day = date[2];
    } else {
        // The order of day, month and year in the locale's short date form.
        const std::string& form = Text_Forms().shortDate;
        const auto pd = form.find('d'), pm = form.find('m'), py = form.find('y');
        std::vector<std::pair<std::size_t, int*>> order = {{pd, &v.day}, {pm, &v.month}, {py, &v.year}};
        std::sort(order.begin(), order.end());
        for (std::size_t k = 0; k < 3; ++k) *order[k].second = date[k];
        const std::size_t yearAt = py < pd && py < pm ? 0 : (py > pd && py > pm ? 2 : 1);
        if (lengths[yearAt] <= 2) v.year = TwoDigitYear(v.year);
    }
    if (time.size() >= 2) {
        v.hour = time[0], v.minute = time[1], v.second = time.size() > 2 ? time[2] : 0;
    }
    return DateTime_IsValid(v) ? std::optional(v) : std::nullopt;
}

std::int32_t Date_Number(const DateTime& v)
{
    return DateTime_IsValid(v) ? v.year * 10000 + v.month * 100 + v.day : 0;
}

std::int32_t Date_Number(std::string_view text)
{
    const auto v = DateTime_Read(text);
    return v ? Date_Number(*v) : 0;
}

std::int32_t Time_Number(const DateTime& v)
{
    return DateTime_IsValid(v) ? v.hour * 10000 + v.minute * 100 + v.second : 0;
}

std::int32_t Time_Number(std::string_view text)
{
    const auto v = DateTime_Read(text);
    return v ? Time_Number(*v) : 0;
}

DateTime Date_FromNumber(std::int32_t n)
{
    if (n == 0) {
        DateTime d = Today();
        d.hour = d.minute = d.second = 0;
        return d;
    }
    std::int64_t y = n / 10000;
    const std::int64_t m = (n % 10000) / 100;
    const std::int64_t d = n % 100;
    if (y >= 0 && y < 100) y = TwoDigitYear(static_cast<int>(y));
    // Months and days out of range carry into the next year or month, as a calendar sum does.
    const std::int64_t months = y * 12 + (m - 1);
    const std::int64_t yy = months >= 0 ? months / 12 : (months - 11) / 12;
    const unsigned mm = static_cast<unsigned>(months - yy * 12 + 1);
    const std::int64_t days = DaysFromCivil(yy, mm, 1) + (d - 1);
    DateTime v;
    CivilFromDays(days, v.year, v.month, v.day);
    if (!DateTime_IsValid(v)) return {};
    return v;
}

DateTime Time_FromNumber(std::int32_t n)
{
    if (n == 0) {
        DateTime t = Today();
        return {1899, 12, 30, t.hour, t.minute, t.second};
    }
    const std::int64_t seconds = static_cast<std::int64_t>(n / 10000) * 3600 + ((n / 100) % 100) * 60 + n % 100;
    const std::int64_t s = ((seconds % 86400) + 86400) % 86400;
    return {1899, 12, 30, static_cast<int>(s / 3600), static_cast<int>((s / 60) % 60), static_cast<int>(s % 60)};
}

std::string Date_Long(const DateTime& v)
{
    static constexpr const char* months[] = {"jaanuar", "veebruar", "m\xE4rts", "aprill", "mai", "juuni",
                                             "juuli", "august", "september", "oktoober", "november",
                                             "detsember"};
    if (!DateTime_IsValid(v)) return {};
    return TwoDigits(v.day) + ". " + months[v.month - 1] + " " + std::to_string(v.year);
}

std::string Date_Long(std::string_view text)
{
    const auto v = DateTime_Read(text);
    return v ? Date_Long(*v) : std::string();
}

double Num_Value(std::string_view text)
{
    if (const auto v = LocaleNumber(text)) return *v;
    const std::size_t p = text.find('.');
    if (p == std::string_view::npos) return LeadingNumber(text);
    const double sign = Str_Trim(text).starts_with('-') ? -1.0 : 1.0;
    const double whole = LeadingNumber(text.substr(0, p));
    double fraction = 0, scale = 0.1;
    for (std::size_t i = p + 1; i < text.size() && IsDigit(text[i]); ++i, scale /= 10)
        fraction += (text[i] - '0') * scale;
    return whole + sign * fraction;
}

std::string Num_Text(double v)
{
    if (!std::isfinite(v)) return "0";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", v);
    std::string s = buffer;
    if (s == "-0") s = "0";
    for (char& c : s)
        if (c == '.') c = Text_Forms().decimal;
    return s;
}

std::string Num_Text(std::string_view text) { return Num_Text(Num_Value(text)); }

std::string Str_Align(std::string_view t, int width, int align)
{
    const std::size_t w = width < 0 ? 0 : static_cast<std::size_t>(width);
    if (align == 2) {
        if (t.size() >= w) return std::string(t.substr(t.size() - w));
        return std::string(w - t.size(), ' ') + std::string(t);
    }
    if (align == 3) {
        if (t.size() > w) return std::string(t.substr((t.size() - w) / 2, w));
        const std::size_t n = w - t.size();
        return std::string(n / 2, ' ') + std::string(t) + std::string(n - n / 2, ' ');
    }
    if (t.size() >= w) return std::string(t.substr(0, w));
    return std::string(t) + std::string(w - t.size(), ' ');
}

std::string Str_Pad(std::string_view t, char fill, int width, int side)
{
    const std::size_t n = width > 0 && static_cast<std::size_t>(width) > t.size() ? width - t.size() : 0;
    return side == 2 ? std::string(t) + std::string(n, fill) : std::string(n, fill) + std::string(t);
}

std::vector<std::string> Str_Split(std::string_view text, std::string_view separator)
{
    std::vector<std::string> fields;
    if (text.empty()) return fields;
    if (separator.empty()) return {std::string(text)};
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        if (at == std::string_view::npos) break;
        fields.emplace_back(text.substr(from, at - from));
        from = at + separator.size();
    }
    fields.emplace_back(text.substr(from));
    return fields;
}

std::string Str_Upper(std::string_view t)
{
    std::string s(t);
    for (char& c : s) c = UpperChar(c);
    return s;
}

std::string Str_Trim(std::string_view t)
{
    const std::size_t a = t.find_first_not_of(' ');
    if (a == std::string_view::npos) return {};
    return std::string(t.substr(a, t.find_last_not_of(' ') - a + 1));
}

// Every setting read compares names this way, several times over: no copies.
bool Text_Equal(std::string_view a, std::string_view b)
{
    auto trim = [](std::string_view t) {
        const std::size_t first = t.find_first_not_of(' ');
        return first == std::string_view::npos ? std::string_view() : t.substr(first, t.find_last_not_of(' ') - first + 1);
    };
    a = trim(a);
    b = trim(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperChar(a[i]) != UpperChar(b[i])) return false;
    return true;
}

std::optional<std::int16_t> Int16_FromWord(std::int32_t v)
{
    if (v >= 32768 && v <= 65535) return static_cast<std::int16_t>(v - 65536);
    if (v >= -32768 && v <= 32767) return static_cast<std::int16_t>(v);
    return std::nullopt;
}

std::string Num_Hex(std::int16_t v)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(static_cast<std::uint16_t>(v)));
    return buffer;
}

std::string Num_Hex(std::int32_t v)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", static_cast<std::uint32_t>(v));
    return buffer;
}

std::string Str_Replace(std::string_view text, std::string_view sought, std::string_view replacement)
{
    if (sought.empty()) return std::string(text);
    const auto fields = Str_Split(text, sought);
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) out += replacement;
        out += fields[i];
    }
    return out;
}

std::string Fmt_DateTime(const DateTime& v, std::string_view picture)
{
    if (Text_Equal(picture, "short date")) return Fmt_DateTime(v, Text_Forms().shortDate);
    if (Text_Equal(picture, "short time")) return Fmt_DateTime(v, Text_Forms().shortTime);
    std::string out;
    for (std::size_t i = 0; i < picture.size();) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(picture[i])));
        std::size_t run = 1;
        while (i + run < picture.size()
               && std::tolower(static_cast<unsigned char>(picture[i + run])) == static_cast<unsigned char>(c))
            ++run;
        int value = -1;
        switch (c) {
        case 'd': value = v.day; break;
        case 'm': value = v.month; break;
        case 'h': value = v.hour; break;
        case 'n': value = v.minute; break;
        case 's': value = v.second; break;
        case 'y': break;
        default:
            out += picture[i];
            ++i;
            continue;
        }
        if (c == 'y') {
            out += run >= 4 ? std::to_string(v.year) : TwoDigits(((v.year % 100) + 100) % 100);
            run = run >= 4 ? 4 : 2 <= run ? 2 : 1;
        } else {
            run = std::min<std::size_t>(run, 2);
            out += run == 2 ? TwoDigits(value) : std::to_string(value);
        }
        i += run;
    }
    return out;
}

std::string Fmt_Number(double v, std::string_view picture)
{
    if (!std::isfinite(v)) v = 0;
    const std::size_t first = picture.find_first_of("0#");
    if (first == std::string_view::npos) return std::string(picture);
    const std::size_t last = picture.find_last_of("0#");
    const std::string_view prefix = picture.substr(0, first), suffix = picture.substr(last + 1);
    const std::string_view core = picture.substr(first, last - first + 1);
    const std::size_t point = core.find('.');
    const std::string_view whole = core.substr(0, point);
    const std::string_view decimals = point == std::string_view::npos ? std::string_view() : core.substr(point + 1);
    const bool grouping = whole.find(',') != std::string_view::npos;
    std::size_t minWhole = std::count(whole.begin(), whole.end(), '0');
    std::string decimalPlaces;
    for (char c : decimals)
        if (c == '0' || c == '#') decimalPlaces += c;
    const int places = static_cast<int>(std::min<std::size_t>(decimalPlaces.size(), 15));

    char digits[400];
    // A tiny nudge so that 12.345 (12.3449999... in binary) rounds the way a person rounds it.
    const double magnitude = std::fabs(v) * (1 + 4 * DBL_EPSILON);
    std::snprintf(digits, sizeof digits, "%.*f", places, magnitude);
    std::string text = digits;
    const std::size_t dot = text.find('.');
    std::string intPart = text.substr(0, dot);
    std::string fracPart = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    const bool zero = std::all_of(text.begin(), text.end(), [](char c) { return c == '0' || c == '.'; });
    if (intPart == "0") intPart.clear();
    if (intPart.size() < minWhole) intPart = std::string(minWhole - intPart.size(), '0') + intPart;
    if (grouping && intPart.size() > 3) {
        std::string grouped;
        for (std::size_t i = 0; i < intPart.size(); ++i) {
            if (i && (intPart.size() - i) % 3 == 0) grouped += Text_Forms().group;
            grouped += intPart[i];
        }
        intPart = grouped;
    }
    while (!fracPart.empty() && fracPart.back() == '0' && decimalPlaces[fracPart.size() - 1] == '#') fracPart.pop_back();

    std::string out;
    if (v < 0 && !zero) out += '-';
    out += prefix;
    out += intPart;
    if (point != std::string_view::npos) out += Text_Forms().decimal + fracPart;
    out += suffix;
    return out;
}

std::string Fmt_Text(std::string_view text, std::string_view picture)
{
    if (picture.empty()) return std::string(text);
    const bool numberPicture = picture.find_first_of("0#") != std::string_view::npos;
    if (numberPicture) {
        if (const auto n = LocaleNumber(text)) return Fmt_Number(*n, picture);
        if (!text.empty() && text.find_first_not_of("0123456789.- ") == std::string_view::npos)
            return Fmt_Number(Num_Value(text), picture);
    }
    if (const auto d = DateTime_Read(text)) return Fmt_DateTime(*d, picture);
    return std::string(text);
}

int Str_FindOrEnd(int start, std::string_view text, std::string_view sought)
{
    const int end = static_cast<int>(text.size()) + 1;
    if (start < 1) start = 1;
    if (start > end) return end;
    if (sought.empty()) return start;
    const std::size_t at = text.find(sought, static_cast<std::size_t>(start - 1));
    return at == std::string_view::npos ? end : static_cast<int>(at) + 1;
}

std::string Str_Between(std::string_view text, int a, int b)
{
    const int length = static_cast<int>(text.size());
    if (a > length || b <= a) return {};
    const int from = std::max(a + 1, 1), to = std::min(b - 1, length);
    if (to < from) return {};
    return std::string(text.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - from + 1)));
}

namespace {

// Where ";NAME=" stands in ";" + list, letters compared in capitals: its 1-based position, or the
// length of ";" + list plus one. Every setting read and every template value asks, so only the
// starts of entries are tried (the list's start and each place after a ";"), with no copies.
int FindParam(std::string_view list, std::string_view name)
{
    for (std::size_t start = 0;;) {
        if (list.size() - start > name.size() && list[start + name.size()] == '=') {
            std::size_t k = 0;
            while (k < name.size() && UpperChar(list[start + k]) == UpperChar(name[k])) ++k;
            if (k == name.size()) return static_cast<int>(start) + 1;
        }
        const std::size_t semi = list.find(';', start);
        if (semi == std::string_view::npos) break;
        start = semi + 1;
    }
    return static_cast<int>(list.size()) + 2;
}

} // namespace

std::string Param_Get(std::string_view list, std::string_view name)
{
    if (name.empty()) return std::string(list);
    const int p = FindParam(list, name);
    const int q = Str_FindOrEnd(p + 1, list, ";");
    return Str_Between(list, static_cast<int>(name.size()) + p, q);
}

std::string Param_GetOr(std::string_view list, std::string_view name, std::string_view fallback)
{
    std::string v = Param_Get(list, name);
    return v.empty() ? std::string(fallback) : v;
}

void Param_Set(std::string& list, std::string_view name, std::string_view value)
{
    const int found = FindParam(list, name);
    if (found <= static_cast<int>(list.size()) + 1) {
        const int p = found;
        const int q = Str_FindOrEnd(p + 1, list, ";");
        std::string rest = q <= static_cast<int>(list.size()) ? list.substr(static_cast<std::size_t>(q - 1)) : std::string();
        list = list.substr(0, static_cast<std::size_t>(p - 1)) + std::string(name) + "=" + std::string(value) + rest;
        return;
    }
    if (!list.empty() && list.back() != ';') list += ';';
    list += std::string(name) + "=" + std::string(value) + ";";
}

std::string Url_Encode(std::string_view text, int flags)
{
    static constexpr std::string_view unsafe = " <>\"#%{}|\\^~[]`";
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool control = c < 32 || c > 126;
        if (((flags & 1) && control) || ((flags & 2) && unsafe.find(ch) != std::string_view::npos)) {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string Tpl_Decode(std::string_view text)
{
    if (text.find('%') == std::string_view::npos) return std::string(text);
    static constexpr std::string_view literal = "%:;+{}<>]";
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '%') {
            out += text[i++];
            continue;
        }
        if (i + 1 >= text.size()) break;  // a "%" at the very end is dropped
        const char next = text[i + 1];
        if (literal.find(next) != std::string_view::npos) {
            out += next;
            i += 2;
        } else if (i + 2 < text.size() && hex(next) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(next) * 16 + hex(text[i + 2]));
            i += 3;
        } else {
            ++i;  // a lone "%" is dropped; the character after it stays
        }
    }
    return out;
}

} // namespace tollan
