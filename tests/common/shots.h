#pragma once
// Pictures for the documentation, taken from the tests that bring the window into each state. With
// TOLLAN_SCREENSHOTS=DIR, under a real display (`xvfb-run -a build/tests/shell/shell_tests -platform
// xcb --gtest_filter='OperatorWindow.*'`), each named state is grabbed into DIR; otherwise nothing.
#include <QDir>
#include <QString>
#include <QWidget>

namespace tollan::test {

inline void Shot(QWidget* w, const QString& name)
{
    const QString dir = qEnvironmentVariable("TOLLAN_SCREENSHOTS");
    if (dir.isEmpty() || !w)
        return;
    QDir().mkpath(dir);
    w->grab().save(dir + "/" + name + ".png");
}

} // namespace tollan::test
