// Who may act on the terminal, and the record of it, as the real programs do it: the package's
// service reachable from this machine alone until the shop opens it, every setting changed by
// `tollan config set` in the event log with the user who changed it (a password as "***"), the
// terminal's start and stop there too, and "AllowFrom" entries it cannot read said at the start.
#include "tests/common/addresses.h"
#include "tests/common/shop.h"

#include <QProcessEnvironment>

#include <pwd.h>
#include <unistd.h>

namespace {

using namespace tollan::test;

QString UserName()
{
    const passwd* p = ::getpwuid(::getuid());
    return p ? QString::fromLocal8Bit(p->pw_name) : QString::number(::getuid());
}

// The process has no login of its own, so that sudo's word is what names the person.
bool NoLoginUid()
{
    QFile f("/proc/self/loginuid");
    return !f.open(QIODevice::ReadOnly) || f.readAll().trimmed() == "4294967295";
}

TEST_F(Shop, ThePackagesServiceServesRegistersOnTheLoopbackAloneUntilAllowFromOpensItAndSaysSo)
{
    terminalArgs = {"--service"};
    StartTerminal();
    EXPECT_TRUE(Has(TerminalErr(), "tollan: registers are served on the loopback only (127.0.0.1 and ::1, port " +
                                       std::to_string(port) + "): set AllowFrom")) << TerminalErr();
    const QString admin = "Admin " + UserName();
    const QStringList log = Rows("SELECT Object, Message FROM Log ORDER BY rowid");
    EXPECT_TRUE(log.contains(QString("%1|terminal käivitus teenusena, protsess %2").arg(admin).arg(terminal->process.processId())))
        << log.join('\n').toStdString();
    EXPECT_TRUE(log.contains(QString::fromUtf8("WSTJlistener|kassad ainult loopbackilt (127.0.0.1, ::1); võrku avab AllowFrom "
                                               "või ListenAddress")));
    std::string seen;
    EXPECT_EQ(Register({"--query", "4000001234567899", "--host", "::1"}, &seen), 3) << seen;

    const std::optional<QHostAddress> other = OtherAddressOfThisMachine();
    if (!other)
        GTEST_SKIP() << "this machine has the loopback alone: no address of its own network to be refused on";
    const QString there = other->toString();
    EXPECT_EQ(Register({"--query", "4000001234567899", "--host", there}, &seen), 4) << seen;
    EXPECT_FALSE(Has(seen, "<- ")) << seen;

    // The shop names its registers and restarts the service: the network is served, and the
    // start says nothing of the loopback any more.
    Config("AllowFrom", there + ";127.0.0.1;::1");
    StopTerminal();
    EXPECT_TRUE(Rows("SELECT Object, Message FROM Log ORDER BY rowid DESC LIMIT 1").value(0).startsWith(admin + QString::fromUtf8("|terminal lõpetab")));
    QFile::remove(tmp.filePath("terminal.err"));
    StartTerminal();
    EXPECT_EQ(Register({"--query", "4000001234567899", "--host", there, "--source", there}, &seen), 3) << seen;
    EXPECT_FALSE(Has(TerminalErr(), "loopback")) << TerminalErr();
}

TEST_F(Shop, EverySettingThatConfigSetChangesIsInTheEventLogWithWhoChangedItAndNoPassword)
{
    StartTerminal();   // holding tollan.mdb open, as a shop's terminal does
    Config("X25\\Password", "salajane");
    Config("X25\\Password", "uus-salajane");
    Config("Port", QString::number(port));   // no change, no record
    Config("FirmaNimi", QString::fromUtf8("Kohvik Õun"));
    QProcess sudo;   // as `sudo -u tollan tollan config set` runs it
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SUDO_USER", "mari");
    sudo.setProcessEnvironment(env);
    sudo.start(TOLLAN_EXE, {"--home", home.path(), "config", "set", "RAS\\Password", ""});
    ASSERT_TRUE(sudo.waitForFinished(10000));
    EXPECT_EQ(sudo.exitCode(), 0);

    const QString admin = "Admin " + UserName();
    const QString mari = NoLoginUid() ? admin + " (mari)" : admin;
    EXPECT_EQ(Rows("SELECT Object, Message FROM Log WHERE Message LIKE 'config:%' ORDER BY rowid"),
              (QStringList{admin + QString("|config: Port (puudus) -> %1").arg(port),
                           admin + QString("|config: Tollan_Auth_Address (puudus) -> 127.0.0.1:%1").arg(centrePort),
                           admin + QString("|config: Tollan_Trans_Address (puudus) -> 127.0.0.1:%1").arg(centrePort),
                           admin + "|config: X25\\Password (puudus) -> ***", admin + "|config: X25\\Password *** -> ***",
                           admin + QString::fromUtf8("|config: FirmaNimi (puudus) -> Kohvik Õun"),
                           mari + "|config: RAS\\Password (puudus) -> \"\""}));

    // Where tollan.mdb cannot take it, the record goes to tollan.err: nothing is lost unsaid.
    StopTerminal();
    QFile db(home.filePath("tollan.mdb"));
    ASSERT_TRUE(db.open(QIODevice::WriteOnly | QIODevice::Truncate));
    db.write(QByteArray(4096, 'x'));   // no database any more, and left as it is
    db.close();
    Config("FirmaLinn", "Tartu");
    EXPECT_TRUE(Lines("tollan.err").join('\n').contains(
        QString::fromUtf8("Sündmuste logi ei võtnud kirjet: %1: config: FirmaLinn (puudus) -> Tartu").arg(admin)))
        << Lines("tollan.err").join('\n').toStdString();
    EXPECT_EQ(Setting("FirmaLinn"), "Tartu");
}

TEST_F(Shop, AllowFromEntriesThatAreNoAddressOrNetworkAreReportedAtTheStartNotOnlyWhenSomeoneIsRefused)
{
    Config("AllowFrom", "127.0.0.1; kassa-7;10.0.0.0/33");
    StartTerminal();
    const std::string said = "Seade AllowFrom: kirjed, mis ei ole aadress ega võrk, ei lase kedagi sisse";
    EXPECT_TRUE(Has(TerminalErr(), "10049 - " + said + " / (AllowFrom: kassa-7 10.0.0.0/33)!")) << TerminalErr();
    EXPECT_TRUE(Lines("tollan.err").join('\n').contains(QString::fromUtf8(said.c_str()) +
                                                        QString::fromUtf8(" , ")))
        << Lines("tollan.err").join('\n').toStdString();
    EXPECT_TRUE(Lines("tollan.err").join('\n').contains("(10049 - AllowFrom: kassa-7 10.0.0.0/33)"));
    // The entries it can read hold as before.
    EXPECT_EQ(Register({"--query", "4000001234567899", "--host", "127.0.0.1"}), 3);
}

} // namespace
