#include "timora/designer/timoraplugin.h"

#include "timora/pagtimora.h"
#include "timora/timora.h"

#include <QtDesigner/QDesignerDynamicPropertySheetExtension>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerPropertyEditorInterface>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtDesigner/QExtensionManager>

#include <QDialog>
#include <QDialogButtonBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace tollan {

namespace {

// Writes the stored properties into the form through Designer's property sheet, so that they are
// saved in the .ui file and uic sets them on the widget when the window is built. The entries and
// "Count" are dynamic properties: the old ones go first, so entries removed on the page do not
// linger in the form.
class SheetStore final : public TimoraPropertyStore {
public:
    SheetStore(QDesignerPropertySheetExtension* sheet, QDesignerDynamicPropertySheetExtension* dynamic)
        : sheet_(sheet), dynamic_(dynamic)
    {
        static const QRegularExpression entry(QStringLiteral("^(Count|(Mask|Category|Action)[0-9]+)$"));
        for (int i = sheet_->count() - 1; i >= 0; --i)
            if (dynamic_->isDynamicProperty(i) && entry.match(sheet_->propertyName(i)).hasMatch())
                dynamic_->removeDynamicProperty(i);
    }

    QVariant ReadProperty(const QString& name, const QVariant& defaultValue) override
    {
        const int i = sheet_->indexOf(name);
        return i >= 0 ? sheet_->property(i) : defaultValue;
    }

    void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) override
    {
        const int i = sheet_->indexOf(name);
        // An entry's empty text is its default and need not be kept in the form; "Count" always is.
        if (i < 0 && value == defaultValue && name != QLatin1String("Count"))
            return;
        if (i >= 0 && !dynamic_->isDynamicProperty(i)) {
            sheet_->setProperty(i, value);
            sheet_->setChanged(i, true);
        } else if (dynamic_->dynamicPropertiesAllowed()) {
            dynamic_->addDynamicProperty(name, value);
        }
    }

private:
    QDesignerPropertySheetExtension* sheet_;
    QDesignerDynamicPropertySheetExtension* dynamic_;
};

QPixmap ClockPixmap()
{
    QPixmap pm(22, 22);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(2, 2, 18, 18));
    p.drawLine(QPointF(11, 11), QPointF(11, 5));
    p.drawLine(QPointF(11, 11), QPointF(15, 11));
    return pm;
}

} // namespace

TimoraDesignerPlugin::TimoraDesignerPlugin(QObject* parent) : QObject(parent) {}

QString TimoraDesignerPlugin::name() const { return QStringLiteral("tollan::Timora"); }
QString TimoraDesignerPlugin::group() const { return QStringLiteral("Tollan"); }
QString TimoraDesignerPlugin::toolTip() const { return QStringLiteral("Timora scheduler"); }
QString TimoraDesignerPlugin::whatsThis() const
{
    return QStringLiteral("Raises Alert for every schedule entry whose time mask matches the current minute.");
}
QString TimoraDesignerPlugin::includeFile() const { return QStringLiteral("timora/timora.h"); }
QIcon TimoraDesignerPlugin::icon() const { return QIcon(ClockPixmap()); }

QWidget* TimoraDesignerPlugin::createWidget(QWidget* parent) { return new Timora(parent); }

void TimoraDesignerPlugin::initialize(QDesignerFormEditorInterface* core)
{
    if (initialized_)
        return;
    QExtensionManager* manager = core->extensionManager();
    manager->registerExtensions(new TimoraTaskMenuFactory(manager), Q_TYPEID(QDesignerTaskMenuExtension));
    initialized_ = true;
}

QString TimoraDesignerPlugin::domXml() const
{
    // A freshly placed control: enabled, one tick a second, no entries.
    return QStringLiteral(
        "<ui language=\"c++\">\n"
        " <widget class=\"tollan::Timora\" name=\"Timora1\">\n"
        "  <property name=\"Enabled\"><bool>true</bool></property>\n"
        "  <property name=\"Interval\"><number>1000</number></property>\n"
        "  <property name=\"Count\" stdset=\"0\"><number>0</number></property>\n"
        " </widget>\n"
        "</ui>\n");
}

TimoraTaskMenu::TimoraTaskMenu(Timora* timora, QObject* parent)
    : QObject(parent), timora_(timora), editAction_(new QAction(QStringLiteral("Edit schedule..."), this))
{
    connect(editAction_, &QAction::triggered, this, &TimoraTaskMenu::EditSchedule);
}

void TimoraTaskMenu::EditSchedule()
{
    if (!timora_)
        return;
    QDesignerFormWindowInterface* form = QDesignerFormWindowInterface::findFormWindow(timora_);
    // The instance on the form first takes what the form holds.
    TimoraObjectStore fromForm(timora_);
    timora_->ReadProperties(fromForm);

    QDialog dialog(timora_->window());
    dialog.setWindowTitle(QStringLiteral("Timora"));
    auto* page = new pagTimora(&dialog);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, &dialog);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(page);
    layout->addWidget(buttons);
    dialog.resize(540, 320);

    page->SetSelectedControls({timora_.data()});
    page->PropertyPage_SelectionChanged();
    QPushButton* apply = buttons->button(QDialogButtonBox::Apply);
    apply->setEnabled(false);
    connect(page, &pagTimora::ChangedChanged, apply, &QPushButton::setEnabled);

    const auto applyChanges = [&] {
        if (!page->Changed() || !timora_)
            return;
        page->PropertyPage_ApplyChanges();
        if (!form)
            return;
        QExtensionManager* manager = form->core()->extensionManager();
        auto* sheet = qt_extension<QDesignerPropertySheetExtension*>(manager, timora_.data());
        auto* dynamic = qt_extension<QDesignerDynamicPropertySheetExtension*>(manager, timora_.data());
        if (sheet && dynamic) {
            SheetStore toForm(sheet, dynamic);
            timora_->WriteProperties(toForm);
        }
        form->setDirty(true);
        if (QDesignerPropertyEditorInterface* editor = form->core()->propertyEditor())
            editor->setObject(timora_.data());
    };
    connect(apply, &QPushButton::clicked, &dialog, applyChanges);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        applyChanges();
        dialog.accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    dialog.exec();
}

QObject* TimoraTaskMenuFactory::createExtension(QObject* object, const QString& iid, QObject* parent) const
{
    if (iid != Q_TYPEID(QDesignerTaskMenuExtension))
        return nullptr;
    if (auto* timora = qobject_cast<Timora*>(object))
        return new TimoraTaskMenu(timora, parent);
    return nullptr;
}

} // namespace tollan
