// Who may act on the terminal, and the record of it, as the real programs do it: the package's
// service reachable from this machine alone until the shop opens it, every setting changed by
// `tollan config set` in the event log with the user who changed it (a password as "***"), the
// terminal's start and stop there too, and every setting that cannot work said at the start.
#include "tests/common/addresses.h"
#include "tests/e2e/suite.h"
#include "tests/common/wrong_settings.h"

#include <pwd.h>

namespace {

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

TEST_F(Shop, EachSettingThatCannotWorkIsReportedOnStderrAndInTollanErrBeforeTheTerminalServes)
{
    // Rounds in which each setting holds one of its wrong values, stored as `config set --force` stores them.
    std::vector<std::vector<const WrongSetting*>> rounds;
    for (const WrongSetting& c : kWrongSettings) {
        auto round = std::find_if(rounds.begin(), rounds.end(), [&c](const auto& r) {
            return std::none_of(r.begin(), r.end(), [&c](const WrongSetting* w) { return std::string_view(w->key) == c.key; });
        });
        if (round == rounds.end())
            rounds.push_back({&c});
        else
            round->push_back(&c);
    }
    for (const auto& round : rounds) {
        for (const WrongSetting* c : round)
            ASSERT_EQ(TollanExit({"config", "set", "--force", QString::fromUtf8(c->key), QString::fromUtf8(c->value)}), 0);
        QFile::remove(tmp.filePath("terminal.err"));
        QFile::remove(home.filePath("tollan.err"));
        terminal = std::make_unique<PeerProcess>();
        terminal->process.setStandardErrorFile(tmp.filePath("terminal.err"));
        ASSERT_TRUE(terminal->Start(TOLLAN_EXE, {"--headless", "--home", home.path()}));
        for (int i = 0; i < 400 && !Has(TerminalErr(), "running headless"); ++i)
            Pause(25);
        StopTerminal();
        const std::string said = TerminalErr(), logged = FileText(home.filePath("tollan.err"));
        const std::size_t serving = said.find("running headless");
        ASSERT_NE(serving, std::string::npos) << said;
        for (const WrongSetting* c : round) {
            SCOPED_TRACE(std::string(c->key) + "=" + c->value);
            const std::string line = std::string(c->key) + " \"" + c->value + "\": ";
            EXPECT_LT(said.find("Seade " + line), serving) << said;
            EXPECT_TRUE(Has(said, line + c->english)) << said;
            EXPECT_TRUE(Has(said, c->estonian)) << said;
            EXPECT_TRUE(Has(logged, "Seade " + line + c->estonian)) << logged;
        }
        for (const WrongSetting* c : round)
            ASSERT_EQ(TollanExit({"config", "unset", QString::fromUtf8(c->key)}), 0);
    }
}

TEST_F(Shop, TheStartSaysInOneLineTheVersionHomePortAddressesAndLinkAndAMissingCardCentreIsReported)
{
    StartTerminal();
    StopTerminal();
    const std::string expected = "tollan " TOLLAN_VERSION ": running headless, home " + home.path().toStdString() + ", port " +
                                 std::to_string(port) + " on every interface, card centre 127.0.0.1:" +
                                 std::to_string(centrePort) + " and 127.0.0.1:" + std::to_string(centrePort) + " over TCP\n";
    EXPECT_TRUE(Has(TerminalErr(), expected)) << TerminalErr();
    EXPECT_FALSE(Has(TerminalErr(), "Seade ")) << TerminalErr();

    ASSERT_EQ(TollanExit({"config", "unset", "Tollan_Trans_Address"}), 0);
    ASSERT_EQ(TollanExit({"config", "set", "UseTLS", "1"}), 0);
    QFile::remove(tmp.filePath("terminal.err"));
    StartTerminal();
    StopTerminal();
    EXPECT_TRUE(Has(TerminalErr(), "Seade Tollan_Trans_Address: puudub: kaardikeskusega ei saa ühendust")) << TerminalErr();
    EXPECT_TRUE(Has(TerminalErr(), " and (none) over TLS\n")) << TerminalErr();
}

TEST_F(Shop, HeadlessEveryErrorGoesToStderrWithItsSyslogLevelAndASecondTerminalsFailureToListenIsSaid)
{
    StartTerminal();
    // Another home folder, the same port: the second terminal cannot listen.
    QDir other(tmp.filePath("other"));
    ASSERT_TRUE(other.mkpath("."));
    QProcess set;
    set.start(TOLLAN_EXE, {"--home", other.path(), "config", "set", "Port", QString::number(port)});
    ASSERT_TRUE(set.waitForFinished(10000));
    PeerProcess second;
    second.process.setStandardErrorFile(tmp.filePath("second.err"));
    ASSERT_TRUE(second.Start(TOLLAN_EXE, {"--headless", "--home", other.path()}));
    for (int i = 0; i < 400 && !Has(FileText(tmp.filePath("second.err")), "running headless"); ++i)
        Pause(25);
    ::kill(pid_t(second.process.processId()), SIGTERM);
    EXPECT_EQ(second.Exit(10000), 0);
    const std::string said = FileText(tmp.filePath("second.err"));
    // An error (a stop sign in the window) at level 3, a warning (an exclamation mark) at level 4.
    // The socket's failure in the operator's language, as the window and tollan.err show it.
    EXPECT_TRUE(Has(said, "<3>tollan: 10048 - Viga ühenduse aktsepteerijas (aadress on juba kasutusel (") &&
                Has(said, "(port " + std::to_string(port) + "))\n")) << said;
    EXPECT_TRUE(Has(said, "<4>tollan: 87 - Seade Tollan_Auth_Address: puudub: kaardikeskusega ei saa ühendust "
                          "(Tollan_Auth_Address: missing: the card centre cannot be reached over TCP)\n")) << said;
    EXPECT_TRUE(Has(said, ", not listening (port " + std::to_string(port) + ")")) << said;
}

} // namespace
