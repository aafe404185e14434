#pragma once
// Timora in Qt Designer: the widget box entry, the form's stored properties and the property page
// behind the widget's context menu.

#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionFactory>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <QAction>
#include <QPointer>

namespace tollan {

class Timora;

class TimoraDesignerPlugin final : public QObject, public QDesignerCustomWidgetInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetInterface")
    Q_INTERFACES(QDesignerCustomWidgetInterface)

public:
    explicit TimoraDesignerPlugin(QObject* parent = nullptr);

    QString name() const override;
    QString group() const override;
    QString toolTip() const override;
    QString whatsThis() const override;
    QString includeFile() const override;
    QIcon icon() const override;
    bool isContainer() const override { return false; }
    QWidget* createWidget(QWidget* parent) override;
    bool isInitialized() const override { return initialized_; }
    void initialize(QDesignerFormEditorInterface* core) override;
    QString domXml() const override;

private:
    bool initialized_ = false;
};

// "Edit schedule..." in the widget's context menu.
class TimoraTaskMenu final : public QObject, public QDesignerTaskMenuExtension {
    Q_OBJECT
    Q_INTERFACES(QDesignerTaskMenuExtension)

public:
    TimoraTaskMenu(Timora* timora, QObject* parent);
    QAction* preferredEditAction() const override { return editAction_; }
    QList<QAction*> taskActions() const override { return {editAction_}; }

private:
    void EditSchedule();

    QPointer<Timora> timora_;
    QAction* editAction_;
};

class TimoraTaskMenuFactory final : public QExtensionFactory {
    Q_OBJECT

public:
    explicit TimoraTaskMenuFactory(QExtensionManager* parent) : QExtensionFactory(parent) {}

protected:
    QObject* createExtension(QObject* object, const QString& iid, QObject* parent) const override;
};

} // namespace tollan
