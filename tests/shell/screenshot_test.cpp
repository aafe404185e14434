// The main window as the operator sees it, grabbed whole. With TOLLAN_SCREENSHOTS=DIR (under a real
// display: `xvfb-run -a env QT_QPA_PLATFORM=xcb TOLLAN_SCREENSHOTS=docs/screenshots shell_tests
// --gtest_filter='Screenshot*'`) the pictures are written there for the documentation.
#include "shell/fmain.h"

#include "store/db.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/visuals.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;

namespace {

QString ShotFolder(const QTemporaryDir& fallback)
{
    const QString dir = qEnvironmentVariable("TOLLAN_SCREENSHOTS");
    if (dir.isEmpty()) return fallback.path();
    QDir().mkpath(dir);
    return dir;
}

TEST(Screenshot, TheMainWindowWhole)
{
    QTemporaryDir home;
    Home_Set(home.path());
    Cfg_Reset();
    Cfg_SetRoot(kCfgRoot);
    Cfg_Put("Port", "0");
    Err_Clear();
    Visual_Clear();
    {
        fMain w;
        w.Form_Load();
        Err_Report(10061, "Connection refused", "Viga tehingu autoriseerijas", 48);
        w.findChild<QLineEdit*>("tKaart")->setText(QStringLiteral("4761739001010119"));
        w.findChild<QLineEdit*>("tSumma")->setText(QStringLiteral("125,50"));
        w.findChild<QLabel*>("lTransNr")->setText(QStringLiteral("00000001"));
        w.findChild<QLabel*>("lDate")->setText(QStringLiteral("alates 07.12.26 09:30"));
        w.show();
        QCoreApplication::processEvents();
        const QImage shot = w.grab().toImage();
        EXPECT_EQ(shot.size(), w.size() * w.devicePixelRatio());
        // Something is drawn: not one colour all over.
        EXPECT_NE(shot.pixel(0, 0), shot.pixel(shot.width() / 2, shot.height() / 3));
        const QString path = ShotFolder(home) + "/main-window.png";
        EXPECT_TRUE(shot.save(path)) << path.toStdString();
        w.Form_Unload();
    }
    Visual_Clear();
    Db_Database().close();
}

} // namespace
