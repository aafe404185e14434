#pragma once
// Timora: the scheduler control. A host window embeds one, fills it with schedule entries (a time
// mask, a category and an action text each) and receives Alert once for every entry whose mask
// matches the current minute, and Timer at every tick of the control's own timer.
//
// Hosting:
//   auto* t = new tollan::Timora(window);           // ticks once a second, no entries
//   connect(t, &tollan::Timora::Alert, window, &Window::Timora1_Alert);   // (QString&, QString&)
//   connect(t, &tollan::Timora::Timer, window, &Window::Timora1_Timer);
//   connect(t, &tollan::Timora::PropertyChanged, window, &Window::markDirty);
//   t->ReadProperties(store);   // when the window is loaded; WriteProperties(store) when it is saved
// A window built from a Designer form keeps the stored properties on the widget itself:
//   TimoraObjectStore store(ui->Timora1); ui->Timora1->ReadProperties(store);

#include "timora/timora_clock.h"
#include "timora/timora_export.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>
#include <QWidget>

#include <cstdint>

namespace tollan {

// What a member call reports to its host instead of a value.
struct TimoraError {
    enum Code { None = 0, Overflow = 1 };
    Code code = None;
    QString description;
    explicit operator bool() const { return code != None; }
};

// The host's property store: named values, each read and written with its default (a value equal to
// its default need not be kept).
class TIMORA_EXPORT TimoraPropertyStore {
public:
    virtual ~TimoraPropertyStore();
    virtual QVariant ReadProperty(const QString& name, const QVariant& defaultValue) = 0;
    virtual void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) = 0;
};

// A store over a plain map (hosts that keep their own files, and tests).
class TIMORA_EXPORT TimoraMapStore final : public TimoraPropertyStore {
public:
    QVariant ReadProperty(const QString& name, const QVariant& defaultValue) override;
    void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) override;
    QVariantMap values;
};

// A store over an object's dynamic properties: a Designer form keeps Timora's stored properties
// there ("Count", "Mask1", ...), and uic sets them on the widget when the window is built.
// Values equal to their default are removed.
class TIMORA_EXPORT TimoraObjectStore final : public TimoraPropertyStore {
public:
    explicit TimoraObjectStore(QObject* object) : object_(object) {}
    QVariant ReadProperty(const QString& name, const QVariant& defaultValue) override;
    void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) override;

private:
    QPointer<QObject> object_;
};

class TIMORA_EXPORT Timora : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE Enabled)
    Q_PROPERTY(int Interval READ Interval WRITE Interval)

public:
    explicit Timora(QWidget* parent = nullptr);
    ~Timora() override;

    // The programming interface, in its published order.
    int Count() const;
    bool Enabled() const;
    void Enabled(bool on);
    bool FitMask(const QString& mask, const QDateTime& moment) const;
    // Below 1 stops the ticks (0); above 60000 is 60000.
    void Interval(int ms);
    int Interval() const;
    // The earliest moment after now at which an entry of `category` will raise Alert (across a
    // summer-time change, see Alert); 1 January 9999 when none can. A search that overflows returns
    // an invalid date-time and fills `error`.
    QDateTime NextTime(const QString& category, TimoraError* error = nullptr) const;
    void Clear();
    void Insert(const QString& mask, const QString& category, const QString& action);
    // Entries are numbered 1..Count; outside that, reading gives "" and writing does nothing.
    QString Mask(int index) const;
    void Mask(int index, const QString& value);
    QString Category(int index) const;
    void Category(int index, const QString& value);
    QString Action(int index) const;
    void Action(int index, const QString& value);

    // Persistence in the host's property store. ReadProperties returns false when the stored
    // "Count" is unusable (negative or beyond kMaxEntries); the control then holds no entries.
    bool ReadProperties(TimoraPropertyStore& store);
    void WriteProperties(TimoraPropertyStore& store) const;
    static constexpr int kMaxEntries = 32767;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    // Raised once for every entry whose mask matches the new minute, in entry order, before the
    // next entry is tested (connect it directly: the arguments are references). The handler
    // receives copies: changing them does not change the entry. Masks match each minute of the
    // local calendar once: the minutes that the spring change of summer time skips are matched at
    // the first minute after the gap, and the hour that the autumn change repeats matches nothing
    // the second time.
    void Alert(QString& Category, QString& Action);
    void Timer();
    // The host marks itself as needing to be saved ("Enabled", "Interval", "Mask3", ...).
    void PropertyChanged(const QString& name);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void Tick();

private:
    void StartTimer(int ms);
    void SetField(QStringList& list, const char* name, int index, const QString& value);

    QStringList masks_;
    QStringList categories_;
    QStringList actions_;
    bool enabled_ = true;
    std::int64_t lastMinute_ = 0;
    QTimer* timer_;
};

} // namespace tollan
