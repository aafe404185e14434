// The terminal as a shop runs it: `tollan --headless`, configured with `tollan config set`, a card
// centre and registers as separate processes. What each side saw is checked from outside: the
// registers' output and exit status, the card centre's log, the rows in tollan.mdb read with SQL.
#include "tests/peers/peer_process.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

using tollan::test::PeerProcess;

namespace {

quint16 FreePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

class Shop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(centre.Start(TOLLAN_CARDCENTRE_EXE, {"--port", "0", "--rule", "pan=4111 decline 5"}));
        const quint16 cport = centre.ListeningPort();
        ASSERT_NE(cport, 0);
        port = FreePort();
        Config("Port", QString::number(port));
        Config("Tollan_Auth_Address", QString("127.0.0.1:%1").arg(cport));
        Config("Tollan_Trans_Address", QString("127.0.0.1:%1").arg(cport));
        StartTerminal();
    }
    void TearDown() override { StopTerminal(); }

    void Config(const QString& key, const QString& value)
    {
        QProcess p;
        p.start(TOLLAN_EXE, {"--home", home.path(), "config", "set", key, value});
        ASSERT_TRUE(p.waitForFinished(10000));
        ASSERT_EQ(p.exitCode(), 0);
    }
    void StartTerminal()
    {
        terminal = std::make_unique<PeerProcess>();
        ASSERT_TRUE(terminal->Start(TOLLAN_EXE, {"--headless", "--home", home.path()}));
        for (int i = 0; i < 100; ++i) {  // listening within a few seconds
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(100))
                return;
            QThread::msleep(50);
        }
        FAIL() << "the terminal does not listen on " << port;
    }
    void StopTerminal()
    {
        if (!terminal)
            return;
        ::kill(pid_t(terminal->process.processId()), SIGTERM);
        EXPECT_EQ(terminal->Exit(10000), 0);
        terminal.reset();
    }
    // One register, its whole run: the exit status, and what it printed.
    int Register(QStringList args, std::string* printed = nullptr)
    {
        PeerProcess r;
        args << "--port" << QString::number(port) << "--timeout" << "60";
        EXPECT_TRUE(r.Start(TOLLAN_REGISTER_EXE, args));
        const int status = r.Exit(90000);
        if (printed)
            *printed = r.out;
        return status;
    }
    QStringList Rows(const QString& sql)
    {
        QStringList rows;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "e2e");
            db.setDatabaseName(home.filePath("tollan.mdb"));
            if (db.open()) {
                QSqlQuery q(db);
                q.exec(sql);
                while (q.next()) {
                    QStringList fields;
                    for (int i = 0; i < q.record().count(); ++i)
                        fields << q.value(i).toString();
                    rows << fields.join('|');
                }
            }
        }
        QSqlDatabase::removeDatabase("e2e");
        return rows;
    }

    QTemporaryDir home;
    PeerProcess centre;
    std::unique_ptr<PeerProcess> terminal;
    quint16 port = 0;
};

const QStringList kCard = {"--card", "4000001234567899=28121010000012300000", "--answer", "7899"};

TEST_F(Shop, PurchasesCancellationsAndARestartAsTheRegisterAndTheCardCentreSeeThem)
{
    std::string seen;
    // Approved: prompts answered, two receipts printed, type 22.
    EXPECT_EQ(Register(QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "12.50"} + kCard, &seen), 0);
    EXPECT_NE(seen.find("Kaardi kontroll..."), std::string::npos);
    EXPECT_NE(seen.find("************7899"), std::string::npos);
    EXPECT_TRUE(centre.WaitFor("auth 0100 pan=4000001234567899 amount=000000001250 stan=000002"));

    // Declined by the card centre: the refusal with its code, nothing stored.
    EXPECT_EQ(Register({"--workstation", "POS00002", "--trans", "00000002", "--amount", "5", "--card",
                        "4111111111111111=28121010000012300000", "--answer", "1111"}, &seen), 1);
    EXPECT_NE(seen.find("Viga nr. 05"), std::string::npos) << seen;

    // The terminal restarted between steps keeps its rows and its STAN counter.
    StopTerminal();
    StartTerminal();
    EXPECT_EQ(Register({"--workstation", "POS00003", "--trans", "00000009", "--cancel", "2"}, &seen), 0);
    EXPECT_TRUE(centre.WaitFor("auth 0400"));
    EXPECT_EQ(Rows("SELECT Type, PAN, Amount, STAN, Toojaam, Trans, AuthCode, sent FROM Trans ORDER BY rowid"),
              (QStringList{"0|4000001234567899|12.5|2|POS00001|00000001|123456|0",
                           "1|4000001234567899|12.5|4|POS00003|00000009|123456|0"}));
    // A register repeating a request number is refused before the card centre hears of it.
    EXPECT_EQ(Register(QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "1"} + kCard, &seen), 1);
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"2"});
}

TEST_F(Shop, SeveralRegistersAtOnceAreAllAnswered)
{
    std::string seen;
    EXPECT_EQ(Register({"--count", "8", "--workstation", "POS00001", "--query", "4000001234567899", "--quiet"}, &seen), 3);
    EXPECT_EQ(Rows("SELECT count(*) FROM Log WHERE Message LIKE 'vigane%'"), QStringList{"0"});
}

} // namespace
