#include "timora/masks.h"

#include "timora/timora_clock.h"

#include <array>
#include <cmath>
#include <limits>

namespace tollan::sched {

namespace {

// Days between 1 January 1970 and a civil date, proleptic Gregorian, any year.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

const std::int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Month 13 is January of the next year, month 0 December of the one before.
void CarryMonth(std::int64_t& year, int& month)
{
    const std::int64_t carry = FloorDiv(month - 1, 12);
    year += carry;
    month = static_cast<int>(month - 1 - carry * 12) + 1;
}

int DaysInMonth(std::int64_t year, int month)
{
    CarryMonth(year, month);
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The most days the month has in any year: 29 for February.
int MostDaysInMonth(int month)
{
    std::int64_t year = 0;
    CarryMonth(year, month);
    return DaysInMonth(2000, month); // a leap year
}

struct DayName {
    int number;
    std::array<const char16_t*, 5> names;
};

const DayName kDayNames[] = {
    {1, {u"e", u"esmaspäev", u"mo", u"mon", u"monday"}},
    {2, {u"t", u"teisipäev", u"tu", u"tue", u"tuesday"}},
    {3, {u"k", u"kolmapäev", u"we", u"wed", u"wednesday"}},
    {4, {u"n", u"neljapäev", u"th", u"thu", u"thursday"}},
    {5, {u"r", u"reede", u"fr", u"fri", u"friday"}},
    {6, {u"l", u"laupäev", u"sa", u"sat", u"saturday"}},
    {7, {u"p", u"pühapäev", u"su", u"sun", u"sunday"}},
};

const QString kAny = QStringLiteral("*");

} // namespace

Stamp StampOf(const QDateTime& t)
{
    const QDate d = t.date();
    const QTime tm = t.time();
    const std::int64_t days = DaysFromCivil(d.year(), d.month(), d.day()) - kEpochDays;
    return days * kSecondsPerDay + tm.hour() * 3600 + tm.minute() * 60 + tm.second();
}

Civil CivilOf(Stamp s)
{
    Civil c;
    const std::int64_t days = FloorDiv(s, kSecondsPerDay);
    const std::int64_t secs = s - days * kSecondsPerDay;
    const std::int64_t unixDays = days + kEpochDays;
    CivilFromDays(unixDays, c.year, c.month, c.day);
    c.hour = static_cast<int>(secs / 3600);
    c.minute = static_cast<int>(secs / 60 % 60);
    c.second = static_cast<int>(secs % 60);
    // 1 January 1970 was a Thursday.
    c.weekday = static_cast<int>(((unixDays + 3) % 7 + 7) % 7) + 1;
    return c;
}

QDateTime DateTimeOf(Stamp s)
{
    const Civil c = CivilOf(s);
    return QDateTime(QDate(c.year, c.month, c.day), QTime(c.hour, c.minute, c.second));
}

Stamp NoMatchStamp()
{
    static const Stamp s = (DaysFromCivil(9999, 1, 1) - kEpochDays) * kSecondsPerDay;
    return s;
}

QStringList SplitText(const QString& text, QChar separator)
{
    if (text.isEmpty())
        return {};
    return text.split(separator, Qt::KeepEmptyParts);
}

double LeadingNumber(const QString& field)
{
    // Sign, digits, an optional fraction after ".", an optional exponent; whatever follows is ignored.
    qsizetype i = 0;
    const qsizetype n = field.size();
    while (i < n && (field[i] == u'\t' || field[i] == u'\n' || field[i] == u'\r'))
        ++i;
    const qsizetype begin = i;
    if (i < n && (field[i] == u'+' || field[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && field[i].isDigit() && field[i].unicode() < 128)
        ++i, ++digits;
    if (i < n && field[i] == u'.') {
        ++i;
        while (i < n && field[i].isDigit() && field[i].unicode() < 128)
            ++i, ++digits;
    }
    if (digits == 0)
        return 0;
    qsizetype end = i;
    if (i < n && (field[i] == u'e' || field[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (field[j] == u'+' || field[j] == u'-'))
            ++j;
        qsizetype expDigits = 0;
        while (j < n && field[j].isDigit() && field[j].unicode() < 128)
            ++j, ++expDigits;
        if (expDigits > 0)
            end = j;
    }
    const QByteArray text = field.mid(begin, end - begin).toLatin1();
    return std::strtod(text.constData(), nullptr); // the C locale: "." is the decimal point
}

std::optional<int> ToInt16(double v)
{
    if (!std::isfinite(v))
        return std::nullopt;
    const double r = std::nearbyint(v);
    if (r < std::numeric_limits<std::int16_t>::min() || r > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<int>(r);
}

int ExpandYear(int y)
{
    if (y >= 100)
        return y;
    const int year = Timora_Clock().now().date().year();
    const int c = year % 100;
    const int century = year / 100;
    if (y >= c + 50)
        return (century - 1) * 100 + y;
    if (y < c - 50)
        return (century + 1) * 100 + y;
    return century * 100 + y;
}

std::optional<int> WeekdayNumber(const QString& field)
{
    const QString f = field.toLower();
    if (f >= QStringLiteral("1") && f <= QStringLiteral("7"))
        return ToInt16(LeadingNumber(f));
    for (const DayName& day : kDayNames)
        for (const char16_t* name : day.names)
            if (f == QStringView(name))
                return day.number;
    return 0;
}

std::optional<Stamp> ComposeTime(int year, int month, int day, int hour, int minute)
{
    // The day, hour and minute carry as plain counts from the first of the (carried) month.
    std::int64_t y = year;
    int m = month;
    CarryMonth(y, m);
    const std::int64_t days = DaysFromCivil(y, m, 1) - kEpochDays + (day - 1);
    const Stamp s = days * kSecondsPerDay + std::int64_t(hour) * 3600 + std::int64_t(minute) * 60;
    const int resultYear = CivilOf(s).year;
    if (resultYear < 1 || resultYear > 9999)
        return std::nullopt;
    return s;
}

bool CandidateFits(Stamp start, Stamp candidate, int dayOfWeek)
{
    return candidate >= start && (dayOfWeek == 0 || CivilOf(candidate).weekday == dayOfWeek);
}

bool FitMask(const QString& mask, Stamp moment)
{
    QStringList fields = SplitText(mask, u' ');
    if (fields.size() < 6) {
        while (fields.size() < 6)
            fields.append(QString());
        fields[5] = kAny;
    }
    const Civil c = CivilOf(moment);
    // The day of the week is read as a plain number here: a day name reads 0 and never matches.
    const double actual[] = {0, double(c.month), double(c.day), double(c.hour), double(c.minute), double(c.weekday)};
    for (int i = 0; i < 6; ++i) {
        if (fields[i] == kAny)
            continue;
        const double number = LeadingNumber(fields[i]);
        if (i == 0) {
            const std::optional<int> y = ToInt16(number);
            if (!y || ExpandYear(*y) != c.year)
                return false;
        } else if (number != actual[i]) {
            return false;
        }
    }
    return true;
}

std::optional<Stamp> NextMatch(const QString& mask, Stamp start)
{
    const Civil s = CivilOf(start);
    std::array<int, 5> cur = {s.year, s.month, s.day, s.hour, s.minute};

    QStringList fields = SplitText(mask, u' ');
    int dow = 0;
    if (fields.size() >= 6) {
        const std::optional<int> w = WeekdayNumber(fields[5]);
        if (!w)
            return std::nullopt;
        dow = *w;
    }
    const int count = std::min<int>(fields.size(), 5);

    // A day the mask names is that day of a month or nothing: 31 June is not 1 July, so a month
    // without the day is passed over. A day the search found (or the start's, when the mask leaves
    // the day out) is kept as far as the month allows: a 31st kept into February is its last day.
    const bool dayNamed = count >= 3 && fields[2] != kAny;
    const auto dayExists = [&] { return !dayNamed || cur[2] <= DaysInMonth(cur[0], cur[1]); };
    // While the day itself is searched, it counts on past the month's end into the next month.
    const auto compose = [&](bool daySearched) {
        const bool keep = !dayNamed && !daySearched;
        return ComposeTime(cur[0], cur[1], keep ? std::min(cur[2], DaysInMonth(cur[0], cur[1])) : cur[2], cur[3],
                           cur[4]);
    };

    int check = 0;
    for (int i = count; i >= 1; --i) {
        // The day of the week binds only while the day, the month and the year are searched.
        if (i <= 3)
            check = dow;
        const QString& field = fields[i - 1];
        if (field != kAny) {
            const std::optional<int> v = ToInt16(LeadingNumber(field));
            if (!v)
                return std::nullopt;
            cur[i - 1] = *v;
            // The searches above a named day only pass over months without it; a day that none of
            // the months the mask allows has ends the search here, so it never runs to its limit.
            if (i == 3 && (*v < 1 || *v > 31))
                return NoMatchStamp();
            if (i == 2 && dayNamed && cur[2] > MostDaysInMonth(cur[1]))
                return NoMatchStamp();
            if (i == 1 && !dayExists()) {
                // The year, month and day are all named, and that date is not in the calendar.
                if (fields[1] != kAny)
                    return NoMatchStamp();
                // The month was searched in another year: the next month has the day, as every
                // month shorter than 31 days is followed by one of 31.
                ++cur[1];
            }
            continue;
        }
        for (;;) {
            if (dayExists()) {
                const std::optional<Stamp> candidate = compose(i == 3);
                if (!candidate)
                    return std::nullopt;
                if (CandidateFits(start, *candidate, check)) {
                    // Keep what was found as a calendar moment: a minute counted up to 60 is the next
                    // hour, and must stay so when a fixed hour above it is put in place (otherwise
                    // "* * * 22 *" from 15:59:30 would give 22:60, that is 23:00).
                    const Civil found = CivilOf(*candidate);
                    cur = {found.year, found.month, found.day, found.hour, found.minute};
                    break;
                }
            }
            if (cur[i - 1] == std::numeric_limits<std::int16_t>::max())
                return std::nullopt;
            ++cur[i - 1];
        }
    }
    return compose(false);
}

std::optional<Stamp> NextTimeFrom(const QStringList& masks, const QStringList& categories,
                                  const QString& category, Stamp start)
{
    Stamp best = NoMatchStamp();
    const qsizetype n = std::min(masks.size(), categories.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (categories[i] != category)
            continue;
        const std::optional<Stamp> candidate = NextMatch(masks[i], start + 1);
        if (!candidate)
            return std::nullopt;
        if (*candidate < best)
            best = *candidate;
    }
    return best;
}

} // namespace tollan::sched
