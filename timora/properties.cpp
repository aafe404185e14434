#include "timora/timora.h"

#include <climits>

namespace tollan {

namespace {

QString EntryName(const char* name, int index) { return QLatin1String(name) + QString::number(index); }

const QString kEnabled = QStringLiteral("Enabled");
const QString kInterval = QStringLiteral("Interval");
const QString kCount = QStringLiteral("Count");
constexpr bool kDefaultEnabled = true;
constexpr int kDefaultInterval = 1000;
constexpr int kDefaultCount = 0;

// A stored value of the wrong kind reads as its default.
int ReadInt(TimoraPropertyStore& store, const QString& name, int defaultValue, bool& ok)
{
    const QVariant v = store.ReadProperty(name, defaultValue);
    const qlonglong n = v.toLongLong(&ok);
    if (!ok || n < INT_MIN || n > INT_MAX) {
        ok = false;
        return defaultValue;
    }
    return static_cast<int>(n);
}

} // namespace

TimoraPropertyStore::~TimoraPropertyStore() = default;

QVariant TimoraMapStore::ReadProperty(const QString& name, const QVariant& defaultValue)
{
    return values.value(name, defaultValue);
}

void TimoraMapStore::WriteProperty(const QString& name, const QVariant& value, const QVariant&)
{
    values.insert(name, value);
}

QVariant TimoraObjectStore::ReadProperty(const QString& name, const QVariant& defaultValue)
{
    if (!object_)
        return defaultValue;
    const QVariant v = object_->property(name.toUtf8().constData());
    return v.isValid() ? v : defaultValue;
}

void TimoraObjectStore::WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue)
{
    if (!object_)
        return;
    const QByteArray key = name.toUtf8();
    if (object_->metaObject()->indexOfProperty(key.constData()) >= 0) {
        // A control saving into itself already holds Enabled and Interval: setting them again would
        // report a change at every save, and would limit a stored interval above 60000.
        if (object_->property(key.constData()) != value)
            object_->setProperty(key.constData(), value);
        return;
    }
    // Dynamic properties are left out when they equal their default.
    object_->setProperty(key.constData(), value == defaultValue ? QVariant() : value);
}

bool Timora::ReadProperties(TimoraPropertyStore& store)
{
    bool intervalOk = true;
    // The stored interval goes to the timer as it is (only the Interval property limits it), but a
    // negative one cannot run and stops the ticks.
    StartTimer(ReadInt(store, kInterval, kDefaultInterval, intervalOk));
    const QVariant enabled = store.ReadProperty(kEnabled, kDefaultEnabled);
    enabled_ = enabled.canConvert<bool>() ? enabled.toBool() : kDefaultEnabled;

    // A count that is not a number, negative or beyond what the control can hold gives no entries.
    bool countOk = true;
    int n = ReadInt(store, kCount, kDefaultCount, countOk);
    if (n < 0 || n > kMaxEntries) {
        n = 0;
        countOk = false;
    }
    masks_.clear();
    categories_.clear();
    actions_.clear();
    for (int i = 1; i <= n; ++i) {
        masks_.append(store.ReadProperty(EntryName("Mask", i), QString()).toString());
        categories_.append(store.ReadProperty(EntryName("Category", i), QString()).toString());
        actions_.append(store.ReadProperty(EntryName("Action", i), QString()).toString());
    }
    update();
    return countOk;
}

void Timora::WriteProperties(TimoraPropertyStore& store) const
{
    store.WriteProperty(kEnabled, enabled_, kDefaultEnabled);
    store.WriteProperty(kInterval, Interval(), kDefaultInterval);
    store.WriteProperty(kCount, Count(), kDefaultCount);
    for (int i = 1; i <= Count(); ++i) {
        store.WriteProperty(EntryName("Mask", i), Mask(i), QString());
        store.WriteProperty(EntryName("Category", i), Category(i), QString());
        store.WriteProperty(EntryName("Action", i), Action(i), QString());
    }
}

} // namespace tollan
