#include "dialogues/transfile_build.h"

#include "dialogues/merchant.h"
#include "support/carddata.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace tollan {
namespace {

DateTime Now() { return Clock_NowDateTime(); }

std::string_view TrimEnd(std::string_view s)
{
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

bool Failed(const DbStatus& s, std::vector<std::string>& lines)
{
    Err_Report(s.number, s.description, "Viga tehingufaili koostamisel", 48);
    lines.clear();
    return false;
}

} // namespace

std::string KK_SenderId(std::string_view key, std::string_view toojaam)
{
    // Both names are made from what came over the wire: looked up, never written back.
    std::string v = Cfg_Lookup("SenderID\\" + std::string(key), "");
    if (v.empty()) v = Cfg_Lookup("POS" + std::string(KK_PosNumber(toojaam)) + "\\FirmaTunnus", "");
    if (v.empty()) v = KK_Get(kKK_FirmaTunnus);
    return Str_Pad(v, '0', 7, 1);
}

TransFileIds KK_TransFileIds(std::string_view toojaam)
{
    TransFileIds ids;
    ids.ReceiverId = KK_Get(kKK_ReceiverID);
    ids.FirmaNimi = KK_Get(kKK_FirmaNimi);
    ids.TerminaliTunnus = KK_Get(kKK_TerminaliTunnus);
    // The code element 18 sends for this file's register, so the file and the requests agree.
    ids.Tegevusala = KK_PosSetting(toojaam, kKK_Tegevusala.key, kKK_Tegevusala.def);
    ids.Location = KK_LocationField();
    return ids;
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
    const TransFileIds ids = KK_TransFileIds(w);
    TransGroup file;
    file.Key = "xxxxxx";
    file.Created = Now();
    file.AcceptorId = KK_CardAcceptorId(w);
    file.SenderId = KK_SenderId(file.Key, w);
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
            g.SenderId = KK_SenderId(g.Key, w);
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
    lines.push_back(KK_TransLine(0, file, ids));
    for (auto& g : groups) {
        lines.push_back(KK_TransLine(1, g, ids));
        for (auto& l : g.Lines) lines.push_back(std::move(l));
        lines.push_back(KK_TransLine(8, g, ids));
    }
    lines.push_back(KK_TransLine(9, file, ids));
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

} // namespace tollan
