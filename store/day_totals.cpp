#include "store/day_totals.h"

#include "support/codepage.h"

#include <QSqlError>
#include <QSqlQuery>

namespace tollan {

std::optional<std::vector<RegisterTotals>> Db_DayTotals(const QSqlDatabase& db, std::int32_t date, std::string& why,
                                                        HourTotals* perHour)
{
    // Amounts are kept as decimal numbers: made exact ten-thousandths first, then cut to hundredths
    // (amounts are never negative, so the integer division cuts downwards as the file does). Grouped
    // by the hour too, so that the journal's chart needs no second pass over the day.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare("SELECT Toojaam, Type % 2, Time / 10000, count(*), sum(CAST(round(Amount * 10000) AS INTEGER) / 100)"
                  " FROM Trans WHERE Date = ? AND ifnull(Pending, 0) = 0 GROUP BY Toojaam, Type % 2, Time / 10000"
                  " ORDER BY Toojaam");
    query.addBindValue(date);
    if (!query.exec()) {
        why = query.lastError().text().toStdString();
        return std::nullopt;
    }
    if (perHour)
        perHour->fill(0);
    std::vector<RegisterTotals> registers;
    while (query.next()) {
        const std::string toojaam = Text_FromQString(query.value(0).toString());
        if (registers.empty() || registers.back().Toojaam != toojaam)
            registers.push_back(RegisterTotals{toojaam});
        RegisterTotals& r = registers.back();
        const bool cancellation = query.value(1).toInt() != 0;
        const int hour = query.value(2).toInt();
        const std::int64_t sum = query.value(4).toLongLong();
        (cancellation ? r.Cancellations : r.Purchases) += query.value(3).toInt();
        (cancellation ? r.CancellationsSum : r.PurchasesSum) += sum;
        if (perHour && hour >= 0 && hour < 24)
            (*perHour)[std::size_t(hour)] += cancellation ? -sum : sum;
    }
    return registers;
}

std::string Totals_Amount(std::int64_t hundredths)
{
    const std::int64_t a = hundredths < 0 ? -hundredths : hundredths;
    std::string whole = std::to_string(a / 100);
    for (int i = int(whole.size()) - 3; i > 0; i -= 3)
        whole.insert(std::size_t(i), " ");
    const int cents = int(a % 100);
    return (hundredths < 0 ? "-" : "") + whole + "," + (cents < 10 ? "0" : "") + std::to_string(cents);
}

RegisterTotals Totals_Sum(const std::vector<RegisterTotals>& registers)
{
    RegisterTotals sum{"total"};
    for (const RegisterTotals& r : registers) {
        sum.Purchases += r.Purchases;
        sum.PurchasesSum += r.PurchasesSum;
        sum.Cancellations += r.Cancellations;
        sum.CancellationsSum += r.CancellationsSum;
    }
    return sum;
}

} // namespace tollan
