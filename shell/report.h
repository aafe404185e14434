#pragma once
// `tollan report [--date YYYY-MM-DD] [--csv]`: a day's totals per register and in all (today by
// default), for people in aligned columns, or as CSV for a spreadsheet or the shop's books.

#include "store/day_totals.h"

#include <QStringList>

#include <string>
#include <vector>

namespace tollan {

// The report's CSV: the heading, one row per register, then the row "total".
std::string Report_Csv(const std::vector<RegisterTotals>& registers);
// The report for people: the day, then aligned columns with amounts as the window shows them.
std::string Report_Text(std::int32_t date, const std::vector<RegisterTotals>& registers);
// Runs `report` and its options on the home folder in force; returns the exit status (0 done,
// 3 tollan.mdb cannot be read, 64 wrong arguments).
int Cli_Report(const QStringList& command);

} // namespace tollan
