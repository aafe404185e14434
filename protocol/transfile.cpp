#include "protocol/transfile.h"

#include "protocol/messages.h"
#include "support/cardmask.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tollan {

namespace {

// One field of a line: where it starts (1-based), how wide it is, what it holds.
template <typename Input>
struct LineField {
    int column;
    int width;
    std::string (*content)(const Input&);
};

// A line of 70 spaces with each field written at its column; a long value keeps its first characters.
template <typename Input, std::size_t N>
std::string Render(const LineField<Input> (&fields)[N], const Input& in)
{
    std::string line(kTransLineWidth, ' ');
    for (const auto& f : fields) {
        const std::string text = f.content(in);
        const std::size_t n = std::min(text.size(), static_cast<std::size_t>(f.width));
        line.replace(static_cast<std::size_t>(f.column - 1), n, text, 0, n);
    }
    return line;
}

std::string FirstChar(std::int64_t v) { return KK_Number(v, 0).substr(0, 1); }

std::int64_t Magnitude(std::int64_t v) { return v < 0 ? -v : v; }

std::int64_t NumberOf(std::string_view text)
{
    const double v = Num_Value(text);
    if (!std::isfinite(v) || std::fabs(v) > 9e18) return 0;
    return static_cast<std::int64_t>(v);
}

std::string YyMmDdHhNn(const DateTime& d)
{
    return KK_Number(d.year % 100, 2) + KK_Number(d.month, 2) + KK_Number(d.day, 2) + KK_Number(d.hour, 2) +
           KK_Number(d.minute, 2);
}

struct GroupInput {
    const TransGroup& g;
    const TransFileIds& ids;
};

const LineField<GroupInput> kFileHeader[] = {
    {1, 1, [](const GroupInput&) { return std::string("0"); }},
    {2, 4, [](const GroupInput&) { return std::string("MT  "); }},
    {6, 10, [](const GroupInput& in) { return YyMmDdHhNn(in.g.Created); }},
    {16, 12, [](const GroupInput& in) { return in.g.AcceptorId; }},
    {28, 2, [](const GroupInput& in) { return in.ids.ReceiverId; }},
    {30, 7, [](const GroupInput& in) { return in.g.SenderId; }},
    {37, 5, [](const GroupInput& in) { return KK_Number(in.g.Number % 100000, 5); }},
};

const LineField<GroupInput> kGroupHeader[] = {
    {1, 1, [](const GroupInput&) { return std::string("1"); }},
    {2, 10, [](const GroupInput& in) { return YyMmDdHhNn(in.g.Created); }},
    {12, 12, [](const GroupInput& in) { return in.g.AcceptorId; }},
    {26, 20, [](const GroupInput& in) { return in.g.SenderId.substr(0, 20) + in.ids.FirmaNimi; }},
    {46, 7, [](const GroupInput& in) { return KK_Number(in.g.Number, 7); }},
    {53, 8, [](const GroupInput& in) { return in.ids.TerminaliTunnus; }},
    // The code element 18 sends for this file's register, so the file and the requests agree.
    {61, 4, [](const GroupInput& in) { return in.ids.Tegevusala; }},
};

const LineField<GroupInput> kGroupTrailer[] = {
    {1, 1, [](const GroupInput&) { return std::string("8"); }},
    {2, 6, [](const GroupInput& in) { return KK_Number(in.g.Count, 6); }},
    {8, 12, [](const GroupInput& in) { return KK_Number(Magnitude(in.g.Total), 12); }},
    {20, 1, [](const GroupInput& in) { return std::string(in.g.Total < 0 ? "-" : " "); }},
    {21, 7, [](const GroupInput& in) { return KK_Number(in.g.Number, 7); }},
    {28, 40, [](const GroupInput& in) { return in.ids.Location; }},
};

const LineField<GroupInput> kFileTrailer[] = {
    {1, 1, [](const GroupInput&) { return std::string("9"); }},
    {2, 6, [](const GroupInput& in) { return KK_Number(in.g.Count, 6); }},
    {8, 12, [](const GroupInput& in) { return KK_Number(Magnitude(in.g.Total), 12); }},
    {20, 1, [](const GroupInput& in) { return std::string(in.g.Total < 0 ? "-" : " "); }},
};

struct DetailInput {
    const TransRecord& t;
    std::string_view currency;
};

const LineField<DetailInput> kDetail[] = {
    {1, 1, [](const DetailInput&) { return std::string("2"); }},
    {2, 1, [](const DetailInput& in) { return FirstChar(in.t.Type); }},
    {3, 19, [](const DetailInput& in) { return Str_Pad(in.t.PAN, '0', 19, 1); }},
    {22, 1, [](const DetailInput& in) { return FirstChar(in.t.WayOfUse); }},
    {23, 11, [](const DetailInput& in) { return KK_Number(KK_Cents(in.t.Amount), 11); }},
    {34, 6, [](const DetailInput& in) { return KK_Number(in.t.Date % 1000000, 6); }},
    {40, 3, [](const DetailInput& in) { return std::string(KK_PosNumber(in.t.Toojaam)); }},
    // The trace number's rightmost five digits: from 100 000 on, the first five would repeat.
    {43, 5, [](const DetailInput& in) { return KK_Number(NumberOf(in.t.STAN) % 100000, 5); }},
    {48, 2, [](const DetailInput&) { return std::string("A1"); }},
    {50, 6, [](const DetailInput& in) { return in.t.AuthCode; }},
    {56, 1, [](const DetailInput& in) { return FirstChar(in.t.POSCode); }},
    {57, 6, [](const DetailInput& in) { return KK_Number(in.t.Time, 6); }},
    {63, 4, [](const DetailInput& in) { return KK_Number(in.t.ExpDate, 4); }},
    {67, 3, [](const DetailInput& in) { return KK_Number(NumberOf(in.currency), 3); }},
    // Worked out from the track when the row was stored: the track itself is never kept.
    {70, 1, [](const DetailInput& in) {
         const int digit = in.t.Track2.empty() ? in.t.Track2Digit : Card_Track2Digit(in.t.Track2);
         return digit < 0 ? std::string("-") : KK_Number(digit, 1);
     }},
};


} // namespace

std::string KK_TransLine(int kind, const TransGroup& group, const TransFileIds& ids)
{
    const GroupInput in{group, ids};
    switch (kind) {
    case 0: return Render(kFileHeader, in);
    case 1: return Render(kGroupHeader, in);
    case 8: return Render(kGroupTrailer, in);
    case 9: return Render(kFileTrailer, in);
    default: return std::string(kTransLineWidth, ' ');
    }
}

std::string KK_TransDetail(const TransRecord& t, std::string_view currencyCode)
{
    return Render(kDetail, DetailInput{t, currencyCode});
}

std::string KK_ReportLine(const TransRecord& t)
{
    std::string line;
    line.reserve(80);
    line += KK_Number(t.Date % 1000000, 6);
    line += ' ';
    line += KK_Number(t.Time, 6);
    line += ' ';
    line += KK_Number(NumberOf(t.STAN), 5);
    line += ' ';
    line += KK_PosNumber(t.Toojaam);
    line += "   ";
    line += Str_Align(t.PAN, 19, 1);
    line += ' ';
    // Right-aligned in 8, but never cut: a large amount in the log must stay the amount.
    line += Str_Pad(Fmt_Number(static_cast<double>(t.Amount) / 10000.0, "0.00"), ' ', 8, 1);
    line += ' ';
    line += Str_Align(t.AuthCode, 6, 1);
    line += ' ';
    if (t.Type % 2 != 0) line += "T\xFCh.";
    return line;
}

ServerReply KK_ParseServerReply(std::string_view line)
{
    auto column = [&](std::size_t from, std::size_t width) {
        return from - 1 < line.size() ? line.substr(from - 1, width) : std::string_view();
    };
    auto number = [&](std::size_t from, std::size_t width) { return Num_Value(Str_Trim(column(from, width))); };
    ServerReply r;
    std::string_view text = column(1, 46);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    r.Message = std::string(text);
    r.Number1 = std::int32_t(std::clamp(number(47, 5), -2147483648.0, 2147483647.0));
    r.Status = std::int16_t(std::clamp(number(52, 1), -32768.0, 32767.0));
    r.Number2 = std::int32_t(std::clamp(number(53, 6), -2147483648.0, 2147483647.0));
    r.Amount = number(59, 12);
    return r;
}

} // namespace tollan
