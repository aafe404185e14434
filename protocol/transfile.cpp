#include "protocol/transfile.h"

#include "protocol/messages.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/carddata.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"

#include <QFile>

#include <algorithm>
#include <optional>
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

std::string_view TrimEnd(std::string_view s)
{
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

struct GroupInput {
    std::string_view toojaam;
    const TransGroup& g;
};

const LineField<GroupInput> kFileHeader[] = {
    {1, 1, [](const GroupInput&) { return std::string("0"); }},
    {2, 4, [](const GroupInput&) { return std::string("MT  "); }},
    {6, 10, [](const GroupInput& in) { return YyMmDdHhNn(in.g.Created); }},
    {16, 12, [](const GroupInput& in) { return in.g.AcceptorId; }},
    {28, 2, [](const GroupInput&) { return KK_Get(kKK_ReceiverID); }},
    {30, 7, [](const GroupInput& in) { return KK_SenderId(in.g.Key, in.toojaam); }},
    {37, 5, [](const GroupInput& in) { return KK_Number(in.g.Number % 100000, 5); }},
};

const LineField<GroupInput> kGroupHeader[] = {
    {1, 1, [](const GroupInput&) { return std::string("1"); }},
    {2, 10, [](const GroupInput& in) { return YyMmDdHhNn(in.g.Created); }},
    {12, 12, [](const GroupInput& in) { return in.g.AcceptorId; }},
    {26, 20, [](const GroupInput& in) { return KK_SenderId(in.g.Key, in.toojaam).substr(0, 20) + KK_Get(kKK_FirmaNimi); }},
    {46, 7, [](const GroupInput& in) { return KK_Number(in.g.Number, 7); }},
    {53, 8, [](const GroupInput&) { return KK_Get(kKK_TerminaliTunnus); }},
    // The code element 18 sends for this file's register, so the file and the requests agree.
    {61, 4, [](const GroupInput& in) { return KK_PosSetting(in.toojaam, kKK_Tegevusala.key, kKK_Tegevusala.def); }},
};

const LineField<GroupInput> kGroupTrailer[] = {
    {1, 1, [](const GroupInput&) { return std::string("8"); }},
    {2, 6, [](const GroupInput& in) { return KK_Number(in.g.Count, 6); }},
    {8, 12, [](const GroupInput& in) { return KK_Number(Magnitude(in.g.Total), 12); }},
    {20, 1, [](const GroupInput& in) { return std::string(in.g.Total < 0 ? "-" : " "); }},
    {21, 7, [](const GroupInput& in) { return KK_Number(in.g.Number, 7); }},
    {28, 40, [](const GroupInput&) { return KK_LocationField(); }},
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

DateTime Now() { return Clock_NowDateTime(); }

bool Failed(const DbStatus& s, std::vector<std::string>& lines)
{
    Err_Report(s.number, s.description, "Viga tehingufaili koostamisel", 48);
    lines.clear();
    return false;
}

} // namespace

std::string KK_TransLine(int kind, std::string_view toojaam, const TransGroup& group)
{
    const GroupInput in{toojaam, group};
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

std::string KK_TransDetail(const TransRecord& t) { return KK_TransDetail(t, KK_Get(kKK_Valuutakood)); }

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

std::string KK_SenderId(std::string_view key, std::string_view toojaam)
{
    // Both names are made from what came over the wire: looked up, never written back.
    std::string v = Cfg_Lookup("SenderID\\" + std::string(key), "");
    if (v.empty()) v = Cfg_Lookup("POS" + std::string(KK_PosNumber(toojaam)) + "\\FirmaTunnus", "");
    if (v.empty()) v = KK_Get(kKK_FirmaTunnus);
    return Str_Pad(v, '0', 7, 1);
}

std::int32_t KK_TakeFileNumber(bool* saved)
{
    std::int32_t n = 1;
    // Read, counted on and saved as one step, so that no other process's save of the file undoes it.
    const bool stored = Cfg_Change(kKK_NextTransFileNr.key, kKK_NextTransFileNr.def, [&n](const std::string& stored) {
        const double v = Num_Value(stored) + 1;
        // A number the counter cannot hold starts the count over rather than overflowing.
        n = 1;
        if (std::isfinite(v) && v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max())
            n = static_cast<std::int32_t>(v);
        return std::to_string(n);
    });
    if (saved)
        *saved = stored;
    return n;
}

bool KK_BuildTransFile(TransSet& set, std::vector<std::string>& lines, std::string& report, TransFileRows* marked)
{
    lines.clear();
    report += "\r\n";
    report += kTransReportHeading;
    report += "\r\n";
    report += kTransReportRule;

    set.onlyReadyToSend();
    if (!set.seek(">=", {false, "", ""})) {
        if (!set.status()) return Failed(set.status(), lines);
        return false;
    }
    if (set.eof() || set.sent()) return false;

    const std::string w(TrimEnd(set.record().Toojaam));
    TransGroup file;
    file.Key = "xxxxxx";
    file.Created = Now();
    file.AcceptorId = KK_CardAcceptorId(w);
    bool saved = false;
    file.Number = KK_TakeFileNumber(&saved);
    // A number whose count did not reach the disk would be handed out again: no file goes under
    // it (the failure is reported where the save failed).
    if (!saved) return false;
    if (marked)
        *marked = {std::int32_t(file.Number), {}};
    // The file is built at one moment: its currency code is read once, not once per line.
    const std::string currency = KK_Get(kKK_Valuutakood);

    // The rows of the workstation, bound to the file; each line needs the full card number, opened
    // from its sealed form. The file keeps the order of the full numbers, as it did when they were
    // stored in clear and the index held them.
    struct Row {
        TransRecord t;
        std::string pan;
    };
    std::vector<Row> rows;
    while (!set.eof() && !set.sent()) {
        TransRecord t = Db_ReadTrans(set);
        std::optional<std::string> pan = Db_CardNumber(t);
        if (!pan) {
            CardKey_Report("the card number of STAN " + t.STAN + " cannot be opened with the keys in force");
            lines.clear();
            return false;
        }
        if (const DbStatus s = set.bindToFile(std::int32_t(file.Number)); !s) return Failed(s, lines);
        if (marked)
            marked->keys.emplace_back(set.record().Toojaam, set.record().Trans);
        rows.push_back({std::move(t), std::move(*pan)});
        if (!set.moveNext()) break;
        if (TrimEnd(set.record().Toojaam) != w) break;
    }
    if (!set.status()) return Failed(set.status(), lines);
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.pan < b.pan; });

    std::vector<TransGroup> groups;
    for (Row& row : rows) {
        const TransRecord& t = row.t;
        const std::string key = row.pan.substr(0, 6);
        // Group 0 never holds lines, even for a card number that starts "xxxxxx".
        if (groups.empty() || key != groups.back().Key) {
            TransGroup g;
            g.Key = key;
            g.Created = Now();
            g.AcceptorId = file.AcceptorId;
            g.Index = static_cast<std::int16_t>(groups.size() + 1);
            g.Number = file.Number * 100 + g.Index;
            groups.push_back(std::move(g));
        }
        TransGroup& g = groups.back();
        // The totals add up the lines' own hundredths, so each equals the sum of its lines.
        const std::int64_t signedAmount = t.Type % 2 != 0 ? -KK_Cents(t.Amount) : KK_Cents(t.Amount);
        ++g.Count;
        ++file.Count;
        g.Total += signedAmount;
        file.Total += signedAmount;
        TransRecord full = t;
        full.PAN = row.pan;
        g.Lines.push_back(KK_TransDetail(full, currency));
        report += "\r\n";
        report += KK_ReportLine(t);   // the stored, masked number
    }

    std::size_t total = 2;
    for (const auto& g : groups) total += g.Lines.size() + 2;
    lines.reserve(total);
    lines.push_back(KK_TransLine(0, w, file));
    for (auto& g : groups) {
        lines.push_back(KK_TransLine(1, w, g));
        for (auto& l : g.Lines) lines.push_back(std::move(l));
        lines.push_back(KK_TransLine(8, w, g));
    }
    lines.push_back(KK_TransLine(9, w, file));
    return true;
}

bool KK_TransLogAppend(std::string_view report)
{
    try {
        const QString path = Home_File("trans.log");
        if (!Home_RestrictFile(path)) return false;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
        const std::string text = Text_Cp1252ToUtf8(report) + "\r\n";
        const qint64 written = f.write(text.data(), static_cast<qint64>(text.size()));
        f.close();
        return written == static_cast<qint64>(text.size()) && f.error() == QFileDevice::NoError;
    } catch (...) {
        return false;
    }
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
