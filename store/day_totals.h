#pragma once
// A day's takings per register, as the journal and `tollan report` show them and as the card centre
// settles them: a row counts on the day of its own date, a purchase adding to the day and a
// cancellation taking its amount away; a cancellation still waiting for the card centre's verdict
// counts for nothing yet. Sums are in hundredths, each row's amount cut to whole hundredths as the
// transaction file carries it, so that a day whose file was accepted adds up to that file's total.

#include <QSqlDatabase>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tollan {

struct RegisterTotals {
    std::string Toojaam;   // the register's workstation name, 8 characters; "total" for the day's sum
    std::int32_t Purchases = 0;
    std::int64_t PurchasesSum = 0;       // hundredths
    std::int32_t Cancellations = 0;
    std::int64_t CancellationsSum = 0;   // hundredths, counted positive
    std::int64_t net() const { return PurchasesSum - CancellationsSum; }
};

// The day's net turnover per hour of the day (hundredths, cancellations taken away).
using HourTotals = std::array<std::int64_t, 24>;

// The totals of each register with rows on `date` (yyyymmdd), in the order of their names, and when
// asked the turnover per hour, from one pass over the day's rows; nothing when the rows cannot be
// read (the cause in `why`).
std::optional<std::vector<RegisterTotals>> Db_DayTotals(const QSqlDatabase& db, std::int32_t date, std::string& why,
                                                        HourTotals* perHour = nullptr);
// The day's sum over its registers, named "total".
RegisterTotals Totals_Sum(const std::vector<RegisterTotals>& registers);
// Hundredths as the window and the report show money: "1 234,50", thousands grouped by a space.
std::string Totals_Amount(std::int64_t hundredths);

} // namespace tollan
