// tollan-modem: a Hayes-style modem with an X.25 PAD on a pseudo-terminal pair. It prints the
// terminal's side of the pair (the device to put into "X25\CommPort") as its first line, answers
// the modem commands and the PAD's call request, and carries the call to a card centre over TCP.
#include "peers/tollan-modem/modem.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tollan-modem");
    QCommandLineParser cli;
    cli.setApplicationDescription(
        "A modem with an X.25 PAD on a pseudo-terminal, for tests, demos and integrators.\n"
        "Prints the device the terminal opens (set X25\\CommPort to it), then answers:\n"
        "  the reset command   OK after the reset (--reset, default ATZ; echo on again)\n"
        "  the set-up command  OK (--setup, default ATM0E0; E0/E1 in it switch the echo)\n"
        "  any other command   ERROR (commands are echoed until E0, as after a reset)\n"
        "  ATD...              CONNECT 9600, BUSY, NO CARRIER or nothing (--dial)\n"
        "  any other PAD line  err\n"
        "  CN user/password-address   com, then the bytes go both ways to the card centre\n"
        "                      routed for that address; clr when the user or password is wrong,\n"
        "                      no route is known or the card centre cannot be reached, and\n"
        "                      clr again when the card centre ends the call.\n"
        "Closing the device drops the line; the modem then waits for the next caller.\n"
        "\n"
        "Exit status: 64 wrong options, 1 no pseudo-terminal could be had.");
    cli.addHelpOption();
    cli.addOptions({
        {"dial", "Answer to dialling: connect (default), busy, nocarrier or silent.", "answer", "connect"},
        {"dial-delay", "Milliseconds before the answer to dialling (default 0).", "ms", "0"},
        {"reset-ms", "Milliseconds a reset (ATZ) takes; input meanwhile is lost (default 100).", "ms", "100"},
        {"reset", "The reset command the modem knows (default ATZ, any case).", "command", "ATZ"},
        {"setup", "The set-up command the modem knows (default ATM0E0, any case).", "command", "ATM0E0"},
        {"silent-to", "Answer nothing to this command: reset or setup (repeatable).", "command"},
        {"record", "Append each command line heard to FILE.", "file"},
        {"route", "Card centre for an X.25 address: ADDRESS=host:port (repeatable).", "route"},
        {"user", "Network user the PAD accepts (default: any).", "user"},
        {"password", "Password the PAD accepts (default: any).", "password"},
        {"link", "Also make PATH a symbolic link to the device.", "path"},
        {"verbose", "Show the dialogue on stderr."},
    });
    cli.process(app);
    if (!cli.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tollan-modem: unexpected argument %s\n", qPrintable(cli.positionalArguments().first()));
        return 64;
    }

    ModemOptions o;
    o.dial = cli.value("dial").toLower();
    if (!QStringList{"connect", "busy", "nocarrier", "silent"}.contains(o.dial)) {
        std::fprintf(stderr, "tollan-modem: --dial must be connect, busy, nocarrier or silent\n");
        return 64;
    }
    bool delayOk = false;
    o.dialDelayMs = cli.value("dial-delay").toInt(&delayOk);
    if (!delayOk || o.dialDelayMs < 0) {
        std::fprintf(stderr, "tollan-modem: --dial-delay wants a number of milliseconds\n");
        return 64;
    }
    bool resetOk = false;
    o.resetMs = cli.value("reset-ms").toInt(&resetOk);
    if (!resetOk || o.resetMs < 0) {
        std::fprintf(stderr, "tollan-modem: --reset-ms wants a number of milliseconds\n");
        return 64;
    }
    o.reset = cli.value("reset").toLatin1();
    o.setup = cli.value("setup").toLatin1();
    o.silentTo = cli.values("silent-to");
    for (const QString& s : o.silentTo)
        if (s != "reset" && s != "setup") {
            std::fprintf(stderr, "tollan-modem: --silent-to must be reset or setup\n");
            return 64;
        }
    o.record = cli.value("record");
    for (const QString& r : cli.values("route")) {
        const qsizetype eq = r.indexOf('=');
        const qsizetype colon = r.lastIndexOf(':');
        bool portOk = false;
        const uint port = colon > eq ? r.mid(colon + 1).toUInt(&portOk) : 0;
        if (eq <= 0 || colon <= eq + 1 || !portOk || port == 0 || port > 65535) {
            std::fprintf(stderr, "tollan-modem: --route wants ADDRESS=host:port, not %s\n", qPrintable(r));
            return 64;
        }
        o.routes.insert(r.left(eq), r.mid(eq + 1));
    }
    o.user = cli.value("user");
    o.password = cli.value("password");
    o.verbose = cli.isSet("verbose");

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("tollan-modem: pseudo-terminal");
        return 1;
    }
    const QString device = QString::fromLocal8Bit(ptsname(master));
    // A serial line carries bytes as they are: no echo, no line editing, no CR/LF changes.
    if (const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY); slave >= 0) {
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        ::close(slave);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    if (cli.isSet("link")) {
        QFile::remove(cli.value("link"));
        if (!QFile::link(device, cli.value("link")))
            std::fprintf(stderr, "tollan-modem: cannot link %s\n", qPrintable(cli.value("link")));
    }
    std::printf("%s\n", qPrintable(device));
    std::fflush(stdout);
    Modem modem(master, o);
    return app.exec();
}
