#pragma once
// The main window of a test's own home folder on the offscreen platform, its parts found by name.
#include "shell/fmain.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/visuals.h"
#include "tests/common/test_home.h"
#include "workstation/connections.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tollan::test {

inline QString U(const char* utf8) { return QString::fromUtf8(utf8); }

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        Visual_Clear();
    }
    void TearDown() override
    {
        window.reset();
        App_SetStopping(false);   // a window unloaded stopped the program
        Visual_Clear();
        Db_Database().close();
    }
    fMain& Load()
    {
        App_SetStopping(false);
        window = std::make_unique<fMain>();
        window->Form_Load();
        return *window;
    }
    // Runs the event loop until `done`, also once the program stops (when its own waits end at once).
    static bool WaitEvenStopping(const std::function<bool()>& done, int ms = 15000)
    {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return done();
    }
    // Unloads the window as the program's end does, and waits for what was under way to wind down.
    void Unload()
    {
        bool ended = false;
        QObject::connect(window.get(), &fMain::ended, [&ended] { ended = true; });
        window->Form_Unload();
        EXPECT_TRUE(WaitEvenStopping([&ended] { return ended; }));
    }
    template <class T = QWidget> T* Find(const char* name) const { return window->findChild<T*>(QString::fromLatin1(name)); }
    QString Caption(const char* label) const { return Find<QLabel>(label)->text(); }

    QTemporaryDir home;
    std::unique_ptr<fMain> window;
};

} // namespace tollan::test
