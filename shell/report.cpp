#include "shell/report.h"

#include "store/db.h"
#include "support/codepage.h"
#include "support/home.h"

#include <QDate>
#include <QFileInfo>

#include <cstdio>

namespace tollan {

namespace {

// Hundredths as "1234.50": a dot, no grouping, as a spreadsheet reads them.
std::string csvAmount(std::int64_t hundredths)
{
    const std::int64_t a = hundredths < 0 ? -hundredths : hundredths;
    char b[32];
    std::snprintf(b, sizeof b, "%s%lld.%02lld", hundredths < 0 ? "-" : "", static_cast<long long>(a / 100),
                  static_cast<long long>(a % 100));
    return b;
}

// Padded to `width` characters (UTF-8: a continuation byte is no character of its own).
std::string padLeft(const std::string& s, std::size_t width)
{
    std::size_t n = 0;
    for (const char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n >= width ? s : std::string(width - n, ' ') + s;
}

} // namespace

std::string Report_Csv(const std::vector<RegisterTotals>& registers)
{
    std::string csv = "register,purchases,purchases_sum,cancellations,cancellations_sum,net\n";
    std::vector<RegisterTotals> rows = registers;
    rows.push_back(Totals_Sum(registers));
    for (const RegisterTotals& r : rows)
        csv += Text_Cp1252ToUtf8(r.Toojaam) + "," + std::to_string(r.Purchases) + "," + csvAmount(r.PurchasesSum) + "," +
               std::to_string(r.Cancellations) + "," + csvAmount(r.CancellationsSum) + "," + csvAmount(r.net()) + "\n";
    return csv;
}

std::string Report_Text(std::int32_t date, const std::vector<RegisterTotals>& registers)
{
    const QDate day(date / 10000, date / 100 % 100, date % 100);
    std::string text = "Päeva kokkuvõte " + day.toString("dd.MM.yyyy").toStdString() + "\n\n";
    auto line = [](const std::string& name, const std::string& p, const std::string& ps, const std::string& c,
                   const std::string& cs, const std::string& net) {
        return name + std::string(name.size() < 8 ? 8 - name.size() : 0, ' ') + padLeft(p, 7) + padLeft(ps, 15) +
               padLeft(c, 11) + padLeft(cs, 15) + padLeft(net, 15) + "\n";
    };
    text += line("Kassa", "Ostud", "Summa", "Tühistusi", "Summa", "Kokku");
    std::vector<RegisterTotals> rows = registers;
    rows.push_back(Totals_Sum(registers));
    for (const RegisterTotals& r : rows) {
        if (&r == &rows.back())
            text += std::string(71, '-') + "\n";
        text += line(&r == &rows.back() ? "Kokku" : Text_Cp1252ToUtf8(r.Toojaam), std::to_string(r.Purchases), Totals_Amount(r.PurchasesSum),
                     std::to_string(r.Cancellations), Totals_Amount(r.CancellationsSum), Totals_Amount(r.net()));
    }
    return text;
}

int Cli_Report(const QStringList& command)
{
    auto usage = [](const QString& why) {
        std::fprintf(stderr, "tollan: report: %s\nUsage: tollan [--home DIR] report [--date YYYY-MM-DD] [--csv]\n",
                     why.toLocal8Bit().constData());
        return 64;
    };
    QDate day = QDate::currentDate();
    bool csv = false;
    for (qsizetype i = 1; i < command.size(); ++i) {
        const QString& a = command[i];
        if (a == "--csv") {
            csv = true;
        } else if (a == "--date" || a.startsWith("--date=")) {
            const QString value = a.startsWith("--date=") ? a.mid(7) : command.value(++i);
            day = QDate::fromString(value, "yyyy-MM-dd");
            if (!day.isValid())
                return usage(QStringLiteral("--date needs a day as YYYY-MM-DD, not \"%1\"").arg(value));
        } else {
            return usage(QStringLiteral("unknown argument: %1").arg(a));
        }
    }
    // A report reads: it makes no database where there is none.
    if (!QFileInfo::exists(Home_File("tollan.mdb"))) {
        std::fprintf(stderr, "tollan: report: no tollan.mdb in %s\n", Home_Dir().toLocal8Bit().constData());
        return 3;
    }
    std::string why;
    const std::int32_t date = day.year() * 10000 + day.month() * 100 + day.day();
    std::optional<std::vector<RegisterTotals>> totals;
    if (Db_Open())
        totals = Db_DayTotals(Db_Database(), date, why);
    else
        why = "it cannot be opened";
    Db_Database().close();
    if (!totals) {
        std::fprintf(stderr, "tollan: report: cannot read tollan.mdb: %s\n", why.c_str());
        return 3;
    }
    const std::string out = csv ? Report_Csv(*totals) : Report_Text(date, *totals);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

} // namespace tollan
