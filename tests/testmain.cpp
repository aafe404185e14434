#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

#include "support/msgbox.h"

int main(int argc, char** argv)
{
    // Widgets are tested without a display; sockets and timers need a running application object.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The same locale on every machine; the programs the tests start inherit it.
    qputenv("LC_ALL", "C.UTF-8");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    // A report in a test must never wait for an operator to close its box.
    tollan::Ui_SetHeadless(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
