#pragma once
// The local minutes the masks speak of, set against real time. Summer time parts the two: in spring
// an hour of local minutes never comes, in autumn one comes twice. A mask means minutes of the local
// calendar, each once: a minute the spring change skips falls due at the first minute after the
// gap, and a minute the autumn change repeats falls due the first time only.
//
// `now` is the clock's moment; its own representation of local time (Qt's local time, which
// follows TZ, or a QTimeZone) decides where the changes lie.

#include "timora/masks.h"

#include <QDateTime>

namespace tollan::sched {

// The whole local minutes first..last, both included; empty when first is after last.
struct MinuteSpan {
    Stamp first = 0;
    Stamp last = -60;
    bool empty() const { return first > last; }
};

// The local minutes that fall due in the minute `now` is in: that minute; nothing when it came once
// before (the second pass of the hour the autumn change repeats); at the first minute after the
// spring gap, every minute of the gap as well.
MinuteSpan DueMinutes(const QDateTime& now);

// The local time up to which every minute has fallen due at `now`: `now` itself, or, in the second
// pass of a repeated hour, the end of that hour, whose minutes fell due in the first pass.
Stamp DueUpTo(const QDateTime& now);

// The real moment at which local minute `minute` falls due, in the representation of `now`: the
// first time the local clock shows it, or the first minute after the gap that skips it.
QDateTime DueMoment(Stamp minute, const QDateTime& now);

} // namespace tollan::sched
