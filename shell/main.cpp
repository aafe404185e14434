// tollan: the terminal, or its `config` subcommand.
#include "shell/command_line.h"
#include "shell/report.h"
#include "shell/fmain.h"
#include "shell/translation.h"
#include "workstation/connections.h"

#include "support/clock.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/registry.h"
#include "support/msgbox.h"
#include "support/notify.h"
#include "support/text.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using namespace tollan;

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM and SIGINT close the window as the operator's "Lõpp" does, so shutdown saves what it saves.
void CloseOnSignals(fMain& window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
        // Whatever is under way ends at its next wait: a file exchange is left where its verdict is
        // recorded or still to come, both safe to take up at the next start.
        App_SetStopping(true);
        Notify_Send("STOPPING=1");
        window.close();
        window.Form_Unload();  // a hidden window gets no close event
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

// The terminal cannot start: said on stderr, and in a box over nothing when there is a window.
int StartRefused(bool headless, int status, const QString& english, const QString& estonian)
{
    std::fprintf(stderr, "tollan: %s\n", english.toLocal8Bit().constData());
    if (!headless)
        QMessageBox::critical(nullptr, QString::fromStdString(App_ProductName()), estonian);
    return status;
}

} // namespace

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
    // The table of the settings is the program's own, whatever home it would have (the manual page
    // is made from it at build time).
    if (line.command.value(0) == "config" && line.command.value(1) == "describe") {
        QCoreApplication app(argc, argv);
        return Cli_Config(line.command);
    }
    if (!Home_Set(Home_Resolve(line.home))) {
        std::fprintf(stderr, "tollan: cannot create the home folder %s\n", Home_Resolve(line.home).toLocal8Bit().constData());
        return 1;
    }
    if (!line.command.isEmpty()) {
        QCoreApplication app(argc, argv);
        if (line.command.first() == "keys") return Cli_Keys(line.command, line.cardKey);
        if (line.command.first() == "check") return Cli_Check(line.command);
        if (line.command.first() == "report") return Cli_Report(line.command);
        return Cli_Config(line.command);
    }
    const bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool headless = line.headless || noDisplay;
    if (headless) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (QTranslator* texts = Ui_QtTexts()) QCoreApplication::installTranslator(texts);
    Ui_SetHeadless(headless);
    Text_UseSystemLocale();

    QString holder;
    if (!Home_Lock(&holder))
        return StartRefused(headless, 2,
                            QStringLiteral("the home folder %1 is in use by %2: one terminal per home folder")
                                .arg(Home_Dir(), holder),
                            QStringLiteral("Kodukaust %1 on juba kasutusel (%2): ühes kaustas töötab üks terminal.")
                                .arg(Home_Dir(), holder));
    std::string why;
    if (Reg_Check(&why) != kRegOk) {
        const QString cause = QString::fromStdString(Text_Cp1252ToUtf8(why));
        return StartRefused(headless, 3,
                            QStringLiteral("cannot read the settings, %1; nothing was changed, and the terminal starts once "
                                           "the file can be read").arg(cause),
                            QStringLiteral("Seadete faili ei saa lugeda: %1.\n\nTerminal ei käivitu, kuni fail on "
                                           "loetav; faili ei muudetud.").arg(cause));
    }

    fMain window;
    window.cardKeyFile = line.cardKey;
    window.setService(line.service);
    QObject::connect(&window, &fMain::ended, &app, [] { QCoreApplication::exit(0); });
    CloseOnSignals(window);
    window.Form_Load();
    // Ready for systemd once the registers' port listens (or its failure is reported: the terminal
    // goes on, and says so in its status); from now on the event loop pings the watchdog.
    const std::int32_t port = window.service()->port();
    const std::string status = port > 0 ? "STATUS=serving registers on port " + std::to_string(port)
                                        : std::string("STATUS=not listening for registers: see the log");
    Notify_Send("READY=1\n" + status);
    Notify_StartWatchdog(&window);
    // One line that says what this terminal is and where it serves, for the journal.
    std::fprintf(stderr, "tollan %s: %s\n", TOLLAN_VERSION, Text_Cp1252ToUtf8(window.StartLine()).c_str());
    if (!headless) window.show();
    return app.exec();
}
