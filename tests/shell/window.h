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
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
        Visual_Clear();
        Db_Database().close();
    }
    fMain& Load()
    {
        window = std::make_unique<fMain>();
        window->Form_Load();
        return *window;
    }
    template <class T = QWidget> T* Find(const char* name) const { return window->findChild<T*>(QString::fromLatin1(name)); }
    QString Caption(const char* label) const { return Find<QLabel>(label)->text(); }

    QTemporaryDir home;
    std::unique_ptr<fMain> window;
};

} // namespace tollan::test
