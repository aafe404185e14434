#include "timora/timora.h"

#include "timora/local_minutes.h"
#include "timora/masks.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <cmath>

namespace tollan {

namespace {

constexpr int kSideTwips = 420;
constexpr int kTwipsPerInch = 1440;
constexpr int kMaxInterval = 60000;

QString EntryName(const char* name, int index) { return QLatin1String(name) + QString::number(index); }

bool FitsAny(const QString& mask, sched::MinuteSpan minutes)
{
    for (sched::Stamp m = minutes.first; m <= minutes.last; m += 60)
        if (sched::FitMask(mask, m))
            return true;
    return false;
}

} // namespace

Timora::Timora(QWidget* parent) : QWidget(parent), timer_(new QTimer(this))
{
    timer_->setObjectName(QStringLiteral("tmrTimora"));
    timer_->setTimerType(Qt::CoarseTimer);
    connect(timer_, &QTimer::timeout, this, &Timora::Tick);
    setFixedSize(sizeHint());
    // A freshly placed control: no entries, enabled, one tick a second.
    Clear();
    TimoraMapStore defaults;
    ReadProperties(defaults);
}

Timora::~Timora() = default;

int Timora::Count() const { return static_cast<int>(masks_.size()); }

bool Timora::Enabled() const { return enabled_; }

void Timora::Enabled(bool on)
{
    enabled_ = on;
    update();
    emit PropertyChanged(QStringLiteral("Enabled"));
}

bool Timora::FitMask(const QString& mask, const QDateTime& moment) const
{
    return sched::FitMask(mask, sched::StampOf(moment));
}

void Timora::Interval(int ms)
{
    StartTimer(ms < 1 ? 0 : std::min(ms, kMaxInterval));
    emit PropertyChanged(QStringLiteral("Interval"));
}

int Timora::Interval() const { return timer_->interval(); }

QDateTime Timora::NextTime(const QString& category, TimoraError* error) const
{
    const QDateTime now = Timora_Clock().now();
    const std::optional<sched::Stamp> next = sched::NextTimeFrom(masks_, categories_, category, sched::DueUpTo(now));
    if (!next) {
        if (error)
            *error = {TimoraError::Overflow, QStringLiteral("Overflow")};
        return {};
    }
    if (error)
        *error = {};
    // The moment the tick will raise it, which is not the local time found when summer time skips
    // that time or shows it twice.
    return sched::DueMoment(*next, now);
}

void Timora::Clear()
{
    const bool had = !masks_.isEmpty();
    masks_.clear();
    categories_.clear();
    actions_.clear();
    // Emptying the list must reach the host too, or a form whose entries were all removed would be
    // saved with its old ones.
    if (had)
        emit PropertyChanged(QStringLiteral("Count"));
}

void Timora::Insert(const QString& mask, const QString& category, const QString& action)
{
    masks_.append(mask);
    categories_.append(category);
    actions_.append(action);
    const int n = Count();
    emit PropertyChanged(EntryName("Mask", n));
    emit PropertyChanged(EntryName("Category", n));
    emit PropertyChanged(EntryName("Action", n));
}

// Entries are numbered from 1; the slot is computed wide, so INT_MIN is simply no entry.
QString Timora::Mask(int index) const { return masks_.value(qsizetype(index) - 1); }
void Timora::Mask(int index, const QString& value) { SetField(masks_, "Mask", index, value); }
QString Timora::Category(int index) const { return categories_.value(qsizetype(index) - 1); }
void Timora::Category(int index, const QString& value) { SetField(categories_, "Category", index, value); }
QString Timora::Action(int index) const { return actions_.value(qsizetype(index) - 1); }
void Timora::Action(int index, const QString& value) { SetField(actions_, "Action", index, value); }

void Timora::SetField(QStringList& list, const char* name, int index, const QString& value)
{
    if (index < 1 || index > list.size())
        return;
    list[index - 1] = value;
    emit PropertyChanged(EntryName(name, index));
}

void Timora::StartTimer(int ms)
{
    timer_->stop();
    timer_->setInterval(std::max(ms, 0));
    // A zero interval stops the ticks (a zero QTimer would fire at every pass of the event loop).
    if (ms > 0)
        timer_->start();
}

void Timora::Tick()
{
    if (!enabled_)
        return;
    // A handler may destroy the control or rebuild its entries while we are raising events.
    const QPointer<Timora> alive(this);
    emit Timer();
    if (!alive)
        return;
    const std::int64_t previous = lastMinute_;
    const QDateTime now = Timora_Clock().now();
    lastMinute_ = sched::WholeMinute(sched::StampOf(now));
    if (lastMinute_ == previous)
        return;
    // Each local minute once: none in the repeated hour of autumn, and the hour spring skips at the
    // minute after it. An entry alerts once, however many of those minutes it matches.
    const sched::MinuteSpan due = sched::DueMinutes(now);
    for (int i = 0; i < Count(); ++i) {
        if (!FitsAny(masks_[i], due))
            continue;
        QString category = categories_[i];
        QString action = actions_[i];
        emit Alert(category, action);
        if (!alive)
            return;
    }
}

QSize Timora::sizeHint() const
{
    const auto side = [](int dpi) { return static_cast<int>(std::lround(double(kSideTwips) * dpi / kTwipsPerInch)); };
    return {side(logicalDpiX()), side(logicalDpiY())};
}

void Timora::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The control keeps its size whatever the host asks, also after a move to a screen of another
    // resolution.
    if (event->size() != sizeHint())
        setFixedSize(sizeHint());
}

void Timora::paintEvent(QPaintEvent*)
{
    // A small clock face, so that the control can be found on a form.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    p.setPen(QPen(palette().color(QPalette::WindowText), 1.5));
    p.setBrush(enabled_ ? palette().color(QPalette::Base) : palette().color(QPalette::Window));
    p.drawEllipse(r);
    const QPointF c = r.center();
    p.drawLine(c, QPointF(c.x(), r.top() + r.height() * 0.2));
    p.drawLine(c, QPointF(c.x() + r.width() * 0.22, c.y()));
}

} // namespace tollan
