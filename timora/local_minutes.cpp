#include "timora/local_minutes.h"

#include <optional>

namespace tollan::sched {

namespace {

// 1 January 1970 as a stamp: a local time less this reads as seconds since the epoch of a clock
// without a zone.
constexpr Stamp kUnixEpoch = 25569 * kSecondsPerDay;
constexpr Stamp kMinute = 60;

// The moment `secs` seconds after the epoch, in the representation of `like`.
QDateTime AtSecond(qint64 secs, const QDateTime& like) { return like.addMSecs(secs * 1000 - like.toMSecsSinceEpoch()); }

// The first real second at which the local clock shows `local`; nothing when a change skips it.
std::optional<qint64> FirstShown(Stamp local, const QDateTime& like)
{
    const qint64 wall = local - kUnixEpoch;
    std::optional<qint64> first;
    // Changes of the offset are months apart, so the offsets a day either side are the only ones a
    // local time can be shown with: two that both hold are the two passes of a repeated hour.
    for (const qint64 probe : {wall - kSecondsPerDay, wall + kSecondsPerDay}) {
        const int offset = AtSecond(probe, like).offsetFromUtc();
        const qint64 real = wall - offset;
        if (AtSecond(real, like).offsetFromUtc() == offset && (!first || real < *first))
            first = real;
    }
    return first;
}

// Whether the local minute of `now` was shown once before, in the first pass of a repeated hour.
bool ShownBefore(const QDateTime& now)
{
    const Stamp local = StampOf(now);
    const std::optional<qint64> first = FirstShown(WholeMinute(local), now);
    const qint64 minuteBegan = now.toMSecsSinceEpoch() / 1000 - (local - WholeMinute(local));
    return first && *first < minuteBegan;
}

} // namespace

MinuteSpan DueMinutes(const QDateTime& now)
{
    if (ShownBefore(now))
        return {};
    const Stamp minute = WholeMinute(StampOf(now));
    Stamp first = minute;
    // No change skips more than a day.
    while (minute - first < kSecondsPerDay && !FirstShown(first - kMinute, now))
        first -= kMinute;
    return {first, minute};
}

Stamp DueUpTo(const QDateTime& now)
{
    const Stamp local = StampOf(now);
    if (!ShownBefore(now))
        return local;
    const qint64 real = now.toMSecsSinceEpoch() / 1000;
    Stamp next = WholeMinute(local) + kMinute;
    while (next - local < kSecondsPerDay) {
        const std::optional<qint64> shown = FirstShown(next, now);
        if (!shown || *shown > real)
            break;
        next += kMinute;
    }
    return next - 1;
}

QDateTime DueMoment(Stamp minute, const QDateTime& now)
{
    for (Stamp m = minute; m - minute <= kSecondsPerDay; m += kMinute)
        if (const std::optional<qint64> shown = FirstShown(m, now))
            return AtSecond(*shown, now);
    return DateTimeOf(minute);
}

} // namespace tollan::sched
