#pragma once
// The mask language of Timora: splitting, numbers, years, day names, date arithmetic with carries,
// matching a minute and searching the next moment a mask allows. Plain functions over texts and
// moments; the control and its tests call them, the host never does.

#include "timora/timora_export.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace tollan::sched {

// A moment: whole seconds of local wall-clock time since 30 December 1899 00:00 (the day-count epoch,
// so 0 is the "last minute" a fresh control starts with). No time zone: carries are plain calendar
// arithmetic, as the masks mean them.
using Stamp = std::int64_t;

inline constexpr Stamp kSecondsPerDay = 86400;

struct Civil {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int weekday = 0; // Monday = 1 .. Sunday = 7
};

TIMORA_EXPORT Stamp StampOf(const QDateTime& t);
TIMORA_EXPORT QDateTime DateTimeOf(Stamp s);
TIMORA_EXPORT Civil CivilOf(Stamp s);
inline Stamp WholeMinute(Stamp s) { return (s >= 0 ? s / 60 : (s - 59) / 60) * 60; }

// 1 January 9999 00:00: the answer for a category that never matches.
TIMORA_EXPORT Stamp NoMatchStamp();

// Empty text gives no fields; otherwise every separator ends a field.
TIMORA_EXPORT QStringList SplitText(const QString& text, QChar separator);
// The leading numeric value of a field ("." decimal point); a field that does not start with a
// number gives 0.
TIMORA_EXPORT double LeadingNumber(const QString& field);
// A number as the 16-bit integer the masks count with (nearest, halves to even); nothing when it
// does not fit.
TIMORA_EXPORT std::optional<int> ToInt16(double v);

// A two-digit year placed in the window of fifty years either side of the clock's current year.
TIMORA_EXPORT int ExpandYear(int y);
// The day of the week a sixth field names (0 = any day); nothing when its number does not fit.
TIMORA_EXPORT std::optional<int> WeekdayNumber(const QString& field);
// The moment of (year, month, day, hour, minute) with every field carrying into the next one;
// nothing when the result falls outside the years 1 to 9999.
TIMORA_EXPORT std::optional<Stamp> ComposeTime(int year, int month, int day, int hour, int minute);
TIMORA_EXPORT bool CandidateFits(Stamp start, Stamp candidate, int dayOfWeek);

TIMORA_EXPORT bool FitMask(const QString& mask, Stamp moment);
// Nothing means the search overflowed (a counter passed 32767, a field's number does not fit, or
// the date left the calendar); NoMatchStamp() means the mask names a day that none of its months
// has ("* 2 30 0 0", "* 4 31 * *"), so it never matches.
TIMORA_EXPORT std::optional<Stamp> NextMatch(const QString& mask, Stamp start);
TIMORA_EXPORT std::optional<Stamp> NextTimeFrom(const QStringList& masks, const QStringList& categories,
                                                const QString& category, Stamp start);

} // namespace tollan::sched
