// tollan: the terminal, or its `config` subcommand.
#include "shell/command_line.h"

#include "support/home.h"
#include "support/msgbox.h"
#include "support/text.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <memory>

using namespace tollan;

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = Cli_Parse(arguments);
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "tollan: %s\n\n%s", line.error.toLocal8Bit().constData(), Cli_Usage().toLocal8Bit().constData());
        return 64;
    }
    if (line.help) {
        std::printf("%s", Cli_Usage().toLocal8Bit().constData());
        return 0;
    }
    if (line.version) {
        std::printf("tollan %s\n", TOLLAN_VERSION);
        return 0;
    }
    if (!Home_Set(Home_Resolve(line.home))) {
        std::fprintf(stderr, "tollan: cannot create the home folder %s\n", Home_Resolve(line.home).toLocal8Bit().constData());
        return 1;
    }
    if (!line.command.isEmpty()) {
        QCoreApplication app(argc, argv);
        return Cli_Config(line.command);
    }
    const bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (line.headless || noDisplay) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Ui_SetHeadless(line.headless || noDisplay);
    Text_UseSystemLocale();
    std::fprintf(stderr, "tollan: the main window is not built yet\n");
    return 2;
}
