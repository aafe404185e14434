#include "protocol/messages.h"

#include "support/cardmask.h"
#include "support/clock.h"
#include "support/text.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tollan {

namespace {

// A number read from the card centre's digits, kept inside the range of the record's field.
std::int64_t Clamped(double v, std::int64_t lo, std::int64_t hi)
{
    if (!std::isfinite(v)) return 0;
    if (v <= static_cast<double>(lo)) return lo;
    if (v >= static_cast<double>(hi)) return hi;
    return static_cast<std::int64_t>(v);
}

std::int16_t Int16Of(std::string_view digits)
{
    return static_cast<std::int16_t>(Clamped(Num_Value(digits), std::numeric_limits<std::int16_t>::min(),
                                             std::numeric_limits<std::int16_t>::max()));
}

std::int32_t Int32Of(std::string_view digits)
{
    return static_cast<std::int32_t>(Clamped(Num_Value(digits), std::numeric_limits<std::int32_t>::min(),
                                             std::numeric_limits<std::int32_t>::max()));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

bool PackableChar(char c) { return (c >= '0' && c <= '9') || c == '\r' || c == '\n'; }

int NibbleOf(char c) { return c >= '0' && c <= '9' ? c - '0' : static_cast<unsigned char>(c) % 16; }

// A nibble that KK_PackDigits can have written: a digit, or D for CR.
bool UnpackableNibble(int n) { return n <= 9 || n == 0xD; }
char NibbleChar(int n) { return n == 0xD ? '=' : static_cast<char>('0' + n); }

// --- request side ---------------------------------------------------------------------------------

struct RequestInput {
    std::string_view bitmap;   // 16 bytes
    const TransRecord& t;
    const MerchantIds& ids;
    std::string_view original;
};

struct RequestElement {
    int number;
    int type;
    int width;
    bool fixed;
    std::string (*value)(const RequestInput&);
};

const RequestElement kRequestElements[] = {
    {1, 8, 8, true, [](const RequestInput& in) { return std::string(in.bitmap.substr(8, 8)); }},
    {2, 2, 19, false, [](const RequestInput& in) { return in.t.PAN; }},
    {3, 2, 6, true, [](const RequestInput& in) { return in.ids.ProtsKood; }},
    {4, 2, 12, true, [](const RequestInput& in) { return KK_Number(KK_Cents(in.t.Amount), 12); }},
    {7, 2, 10, true, [](const RequestInput& in) { return KK_Number(in.t.Date % 10000, 4) + KK_Number(in.t.Time, 6); }},
    {11, 2, 6, true, [](const RequestInput& in) { return in.t.STAN; }},
    {14, 2, 4, true, [](const RequestInput& in) { return std::to_string(in.t.ExpDate); }},
    {18, 2, 4, true, [](const RequestInput& in) { return in.ids.Tegevusala; }},
    {32, 2, 11, false, [](const RequestInput& in) { return in.ids.AutoriseerijaID; }},
    {33, 2, 11, false, [](const RequestInput& in) { return in.ids.EdastajaID; }},
    // "=" travels as CR, which packs as the nibble D.
    {35, 9, 37, false, [](const RequestInput& in) { std::string s = in.t.Track2; std::replace(s.begin(), s.end(), '=', '\r'); return s; }},
    {38, 4, 6, true, [](const RequestInput& in) { return in.t.AuthCode; }},
    // A reversal names the original's verdict: a stored transaction was approved, "00".
    {39, 4, 2, true, [](const RequestInput& in) { return in.t.ResponseCode.empty() ? std::string(kKK_Approved) : in.t.ResponseCode; }},
    {41, 7, 8, true, [](const RequestInput& in) { return in.ids.TerminaliTunnus; }},
    {42, 7, 15, true, [](const RequestInput& in) { return in.ids.CardAcceptorId; }},
    {43, 7, 40, true, [](const RequestInput& in) { return in.ids.Location; }},
    {47, 7, 999, false, [](const RequestInput& in) { return in.ids.CardAcceptorId + "   " + in.ids.TerminaliTunnus; }},
    {49, 2, 3, true, [](const RequestInput& in) { return in.ids.Valuutakood; }},
    {52, 8, 64, true, [](const RequestInput&) { return std::string(); }},
    {90, 2, 42, true, [](const RequestInput& in) { return std::string(in.original); }},
};

// --- response side --------------------------------------------------------------------------------

struct Today {
    int year;
    int month;
};

struct ResponseElement {
    int number;
    int type;
    int width;
    bool fixed;
    void (*apply)(TransRecord&, const std::string&, const Today&);   // nullptr: read only
};

const ResponseElement kResponseElements[] = {
    {1, 8, 4, true, nullptr},   // the secondary bitmap, read as two elements of 4 bytes
    {2, 2, 19, false, [](TransRecord& t, const std::string& v, const Today&) { t.PAN = v; }},
    {3, 2, 6, true, [](TransRecord& t, const std::string& v, const Today&) {
         t.WayOfUse = static_cast<std::int16_t>(std::max(0, Int16Of(v.substr(std::min<std::size_t>(2, v.size()), 2)) - 2));
     }},
    {4, 2, 12, true, [](TransRecord& t, const std::string& v, const Today&) {
         const double n = Num_Value(v);
         t.Amount = std::isfinite(n) && std::fabs(n) < 9e15 ? std::llround(n * 100) : 0;
     }},
    {7, 2, 10, true, [](TransRecord& t, const std::string& v, const Today& today) {
         const std::string monthDay = v.substr(0, 4);
         const int month = Int32Of(monthDay.substr(0, 2));
         t.Date = KK_ResponseYear(month, today.year, today.month) * 10000 + Int32Of(monthDay);
         t.Time = Int32Of(v.substr(std::min<std::size_t>(4, v.size())));
     }},
    {11, 2, 6, true, [](TransRecord& t, const std::string& v, const Today&) { t.STAN = v; }},
    {14, 2, 4, true, [](TransRecord& t, const std::string& v, const Today&) { t.ExpDate = Int16Of(v); }},
    {18, 2, 4, true, nullptr},
    {32, 2, 11, false, nullptr},
    {33, 2, 11, false, nullptr},
    {35, 9, 37, false, [](TransRecord& t, const std::string& v, const Today&) { t.Track2 = v; }},
    {38, 4, 6, true, [](TransRecord& t, const std::string& v, const Today&) { t.AuthCode = v; }},
    {39, 4, 2, true, [](TransRecord& t, const std::string& v, const Today&) { t.ResponseCode = v; }},
    {41, 7, 8, true, nullptr},
    {42, 7, 15, true, nullptr},
    // The card centre answers 43 and 47 with a two-digit length, unlike our request.
    {43, 7, 38, false, nullptr},
    {47, 7, 40, false, nullptr},
    {49, 2, 3, true, nullptr},
    {52, 8, 64, true, nullptr},
    {90, 2, 42, true, nullptr},
};

const ResponseElement* FindResponseElement(int n)
{
    for (const auto& e : kResponseElements)
        if (e.number == n) return &e;
    return nullptr;
}

} // namespace

bool KK_IsNumericType(int type) { return type == 2 || type == 9; }

bool KK_BitSet(std::string_view bitmap, int n)
{
    if (n < 1) return false;
    const std::size_t byte = static_cast<std::size_t>(n - 1) / 8;
    if (byte >= bitmap.size()) return false;
    return (static_cast<unsigned char>(bitmap[byte]) >> (7 - (n - 1) % 8)) & 1;
}

std::string KK_Number(std::int64_t v, int digits)
{
    const bool negative = v < 0;
    // The magnitude as unsigned, so that the smallest int64 does not overflow.
    std::uint64_t m = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    char buffer[24];
    int n = 0;
    do {
        buffer[n++] = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m != 0);
    std::string s;
    s.reserve(static_cast<std::size_t>(std::max(n, digits)) + 1);
    if (negative) s += '-';
    for (int i = n; i < digits; ++i) s += '0';
    while (n > 0) s += buffer[--n];
    return s;
}

std::string KK_PackDigits(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (!PackableChar(text[i])) {
            out += text[i++];
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && PackableChar(text[end])) ++end;
        const std::size_t length = end - i;
        int high = -1;
        if (length % 2 != 0) high = 0;
        for (; i < end; ++i) {
            const int nibble = NibbleOf(text[i]);
            if (high < 0) {
                high = nibble;
            } else {
                out += static_cast<char>(high << 4 | nibble);
                high = -1;
            }
        }
    }
    return out;
}

bool KK_UnpackDigits(std::string_view& body, int count, std::string& digits)
{
    std::string out;
    std::size_t walked = 0;
    const std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
    while (out.size() < wanted) {
        if (walked >= body.size()) return false;
        const auto byte = static_cast<unsigned char>(body[walked++]);
        const int high = byte >> 4, low = byte & 0x0F;
        if (UnpackableNibble(high) && UnpackableNibble(low)) {
            out += NibbleChar(high);
            out += NibbleChar(low);
        } else {
            out += static_cast<char>(byte);
        }
    }
    digits = out.substr(out.size() - wanted);
    body.remove_prefix(walked);
    return true;
}

std::string KK_FormatField(int type, int width, bool fixed, std::string_view value)
{
    const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
    std::string out;
    if (!fixed)
        out = KK_PackDigits(KK_Number(static_cast<std::int64_t>(std::min(value.size(), w)), width >= 100 ? 4 : 2));
    if (KK_IsNumericType(type)) {
        std::string v;
        if (value.size() > w)
            v = value.substr(value.size() - w);
        else if (fixed)
            v = std::string(w - value.size(), '0') + std::string(value);
        else
            v = value;
        out += KK_PackDigits(v);
    } else {
        if (value.size() > w)
            out += value.substr(0, w);
        else {
            out += value;
            if (fixed) out.append(w - value.size(), ' ');
        }
    }
    return out;
}

bool KK_ParseField(int type, int width, bool fixed, std::string_view& body, std::string& value)
{
    std::string_view rest = body;
    int length = width;
    if (!fixed) {
        const std::size_t prefixBytes = width >= 100 ? 2 : 1;
        if (rest.size() < prefixBytes) return false;
        std::string_view prefix = rest.substr(0, prefixBytes);
        std::string digits;
        // A prefix that is not all decimal digits is no length at all.
        if (!KK_UnpackDigits(prefix, static_cast<int>(prefixBytes * 2), digits) || !prefix.empty() ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        rest.remove_prefix(prefixBytes);
        length = std::stoi(digits);
    }
    if (length < 0) return false;
    if (KK_IsNumericType(type)) {
        if (!KK_UnpackDigits(rest, length, value)) return false;
    } else {
        if (rest.size() < static_cast<std::size_t>(length)) return false;
        value = std::string(rest.substr(0, static_cast<std::size_t>(length)));
        rest.remove_prefix(static_cast<std::size_t>(length));
    }
    body = rest;
    return true;
}

std::string KK_BuildRequest(std::string_view bitmap, const TransRecord& t, const MerchantIds& ids,
                            std::string_view original)
{
    std::string full(bitmap.substr(0, 16));
    full.resize(16, '\0');
    const RequestInput in{full, t, ids, original};
    std::string body = KK_FormatField(8, 8, true, std::string_view(full).substr(0, 8));
    for (int n = 1; n <= 128; ++n) {
        if (!KK_BitSet(full, n)) continue;
        for (const auto& e : kRequestElements)
            if (e.number == n) {
                body += KK_FormatField(e.type, e.width, e.fixed, e.value(in));
                break;
            }
    }
    return body;
}

namespace {

// The packed digits of `value` with each character that `shown` hides ("*") as the nibble F, so the
// element keeps its length and place.
std::string PackShown(std::string_view shown)
{
    std::string out;
    int high = shown.size() % 2 != 0 ? 0 : -1;
    for (char c : shown) {
        const int nibble = c == '*' ? 0xF : c == '=' ? 0xD : NibbleOf(c);
        if (high < 0) {
            high = nibble;
        } else {
            out += static_cast<char>(high << 4 | nibble);
            high = -1;
        }
    }
    return out;
}

// Runs of seven or more bytes of packed digits (thirteen digits and more) with all but the first
// six and last four digits as F: for a body whose elements cannot be walked.
std::string MaskPackedRuns(std::string_view body)
{
    std::string out(body);
    auto packed = [&](std::size_t i) {
        const auto b = static_cast<unsigned char>(out[i]);
        return (b >> 4) <= 9 && (b & 0xF) <= 9;
    };
    for (std::size_t i = 0; i < out.size();) {
        std::size_t end = i;
        while (end < out.size() && packed(end)) ++end;
        if (end - i >= 7)
            for (std::size_t d = 6; d + 4 < (end - i) * 2; ++d) {
                auto& b = reinterpret_cast<unsigned char&>(out[i + d / 2]);
                b = d % 2 == 0 ? (b & 0x0F) | 0xF0 : (b & 0xF0) | 0x0F;
            }
        i = end == i ? i + 1 : end;
    }
    return Card_MaskText(out);
}

} // namespace

std::string KK_MaskCardElements(std::string_view body, bool request)
{
    std::string_view rest = body;
    std::string bitmap;
    if (!KK_ParseField(8, 8, true, rest, bitmap)) return MaskPackedRuns(body);
    std::string out(body.substr(0, 8));
    if (KK_BitSet(bitmap, 1)) {
        std::string secondary;
        if (!KK_ParseField(8, 8, true, rest, secondary)) return MaskPackedRuns(body);
        bitmap += secondary;
        out += secondary;
    }
    for (int n = 2; n <= (KK_BitSet(bitmap, 1) ? 128 : 64); ++n) {
        if (!KK_BitSet(bitmap, n)) continue;
        int type = 0, width = 0;
        bool fixed = false;
        if (request) {
            const auto e = std::find_if(std::begin(kRequestElements), std::end(kRequestElements),
                                        [n](const RequestElement& r) { return r.number == n; });
            if (e == std::end(kRequestElements)) return MaskPackedRuns(body);
            type = e->type, width = e->width, fixed = e->fixed;
        } else {
            const ResponseElement* e = FindResponseElement(n);
            if (!e) return MaskPackedRuns(body);
            type = e->type, width = e->width, fixed = e->fixed;
        }
        const std::string_view before = rest;
        std::string value;
        if (!KK_ParseField(type, width, fixed, rest, value)) return MaskPackedRuns(body);
        const std::string_view bytes = before.substr(0, before.size() - rest.size());
        if ((n == 2 || n == 35) && KK_IsNumericType(type)) {
            // The card number and track-2: the length prefix as it went, the digits shown masked.
            const std::size_t prefix = fixed ? 0 : (width >= 100 ? 2 : 1);
            out += bytes.substr(0, prefix);
            out += PackShown(n == 2 ? Card_Mask(value) : Card_MaskText(value));
        } else {
            out += bytes;
        }
    }
    out += rest;
    return out;
}

int KK_ResponseYear(int receivedMonth, int currentYear, int currentMonth)
{
    if (receivedMonth > currentMonth + 6) return currentYear - 1;
    if (receivedMonth < currentMonth - 6) return currentYear + 1;
    return currentYear;
}

bool KK_DecodeResponse(std::string_view body, TransRecord& t, int currentYear, int currentMonth)
{
    std::string bitmap;
    if (!KK_ParseField(8, 8, true, body, bitmap)) return false;
    TransRecord out = t;
    out.ResponseCode.clear();
    const Today today{currentYear, currentMonth};
    int last = 64;
    if (KK_BitSet(bitmap, 1)) {
        const ResponseElement& e = *FindResponseElement(1);
        std::string a, b;
        if (!KK_ParseField(e.type, e.width, e.fixed, body, a) || !KK_ParseField(e.type, e.width, e.fixed, body, b))
            return false;
        bitmap += a + b;
        last = 128;
    }
    for (int n = 2; n <= last; ++n) {
        if (!KK_BitSet(bitmap, n)) continue;
        // An element we have no layout for leaves the rest of the body unreadable.
        const ResponseElement* e = FindResponseElement(n);
        if (!e) return false;
        std::string value;
        if (!KK_ParseField(e->type, e->width, e->fixed, body, value)) return false;
        if (e->apply) e->apply(out, value, today);
    }
    t = std::move(out);
    return true;
}

bool KK_DecodeResponse(std::string_view body, TransRecord& t)
{
    const QDate today = Clock_Now().date();
    return KK_DecodeResponse(body, t, today.year(), today.month());
}

std::int64_t KK_Cents(std::int64_t amount) { return FloorDiv(amount, 100); }

std::string_view KK_PosNumber(std::string_view toojaam)
{
    return toojaam.size() > 3 ? toojaam.substr(toojaam.size() - 3) : toojaam;
}

std::string KK_CardAcceptorId(std::string_view firmaRegNr, std::string_view toojaam)
{
    std::string id(12, ' ');
    id.replace(0, std::min<std::size_t>(9, firmaRegNr.size()), firmaRegNr.substr(0, 9));
    const std::string p = Str_Pad(KK_PosNumber(toojaam), '0', 3, 1);
    id.replace(12 - p.size(), p.size(), p);
    return id;
}

std::string KK_LocationField(std::string_view place)
{
    std::string field(40, ' ');
    field.replace(0, 2, "38");
    field.replace(2, std::min<std::size_t>(38, place.size()), place.substr(0, 38));
    return field;
}

} // namespace tollan
