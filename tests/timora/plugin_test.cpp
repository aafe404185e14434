// Timora's self-registration: Designer's plugin loads, names the control and creates it.

#include "tests/timora/suite.h"

#ifdef TIMORA_PLUGIN_PATH
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <QPluginLoader>
#endif

namespace tollan {
namespace {

#ifdef TIMORA_PLUGIN_PATH
TEST(TimoraDesignerPlugin, LoadsAndCreatesTheControl)
{
    QPluginLoader loader(QStringLiteral(TIMORA_PLUGIN_PATH));
    QObject* instance = loader.instance();
    ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
    EXPECT_EQ(loader.metaData().value("IID").toString(),
              QStringLiteral("org.qt-project.Qt.QDesignerCustomWidgetInterface"));
    auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(instance);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->name(), QStringLiteral("tollan::Timora"));
    EXPECT_EQ(plugin->includeFile(), QStringLiteral("timora/timora.h"));
    // A freshly placed control keeps its defaults in the form.
    const QString xml = plugin->domXml();
    EXPECT_TRUE(xml.contains(QStringLiteral("class=\"tollan::Timora\"")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<property name=\"Interval\"><number>1000</number>")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<property name=\"Count\" stdset=\"0\"><number>0</number>")));

    QWidget form;
    QWidget* widget = plugin->createWidget(&form);
    auto* timora = qobject_cast<Timora*>(widget);
    ASSERT_NE(timora, nullptr);
    EXPECT_EQ(timora->parentWidget(), &form);
    EXPECT_EQ(timora->Interval(), 1000);
    // The form's properties reach the control by name, as uic sets them.
    EXPECT_TRUE(timora->setProperty("Interval", 5000));
    EXPECT_EQ(timora->Interval(), 5000);
    EXPECT_TRUE(timora->setProperty("Enabled", false));
    EXPECT_FALSE(timora->Enabled());
}
#else
TEST(TimoraDesignerPlugin, LoadsAndCreatesTheControl)
{
    GTEST_SKIP() << "built without Qt Designer: no plugin";
}
#endif

} // namespace
} // namespace tollan
