// The transaction file at a "SendTransTime" mask, over TLS to a trusted card centre: refused once,
// sent again after a restart at the next minute and accepted; the rows marked sent, trans.log and
// the card centre's stored copy checked line by line.
#include "tests/e2e/suite.h"

#include <QDateTime>

namespace {

TEST_F(Shop, TheTransactionFileOverTlsIsRefusedOnceThenAcceptedAfterARestart)
{
    const QString files = home.filePath("centre-files");
    TlsFiles tls;
    tls.Make();
    Config("UseTLS", "1");
    Config("TLS\\CAFile", tls.Path("ca.pem"));
    Config("SendTransTime1", "* * * * *");
    StartCentre(tls.CentreArgs("centre") +
                QStringList{"--verdict-status", "0", "--verdict-text", "Fail tagasi lükatud", "--store", files});
    StartTerminal();
    ASSERT_EQ(Register(QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "12.50"} + kCard), 0);
    ASSERT_EQ(Register({"--workstation", "POS00001", "--trans", "00000002", "--amount", "3", "--card",
                        "5500001234567899=28121010000012300000", "--answer", "7899"}), 0);

    // Refused: the rows stay unsent, nothing is logged to trans.log, the card centre stored nothing.
    ASSERT_TRUE(centre->WaitFor("ENQ -> verdict 0 Fail tagasi lükatud", 75000)) << centre->out;
    ASSERT_TRUE(centre->WaitFor("EOT"));
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans WHERE sent"), QStringList{"0"});
    EXPECT_TRUE(Lines(home.filePath("trans.log")).isEmpty());
    EXPECT_FALSE(QDir(files).exists());
    EXPECT_EQ(Setting("LastSent_TransFile"), "1000101");   // still its default: no file was ever accepted

    EXPECT_EQ(Setting("NextTransFileNr"), "2");  // the refused file took number 2

    // Restarted, the terminal keeps its rows and its file number; the card centre accepts this time.
    StopTerminal();
    StartCentre(tls.CentreArgs("centre") + QStringList{"--store", files});
    StartTerminal();
    ASSERT_TRUE(centre->WaitFor("stored ", 75000)) << centre->out;
    ASSERT_TRUE(centre->WaitFor("EOT"));
    EXPECT_TRUE(centre->Printed("ENQ -> verdict 1 Fail vastu võetud (8 lines)")) << centre->out;

    // The stored file: header, then per transaction its group line, detail and group total, then the
    // file total of two transactions for 15.50.
    const QStringList sent = Lines(files + "/transfile-0001.txt");
    ASSERT_EQ(sent.size(), 8) << sent.join('\n').toStdString();
    QString kinds;
    for (const QString& l : sent)
        kinds += l.left(1);
    EXPECT_EQ(kinds, "01281289");
    EXPECT_EQ(sent[0].mid(36, 5), "00003") << sent[0].toStdString();  // the file's number
    EXPECT_TRUE(sent[2].contains("4000001234567899")) << sent[2].toStdString();
    EXPECT_TRUE(sent[5].contains("5500001234567899")) << sent[5].toStdString();
    EXPECT_TRUE(sent[7].startsWith("9000002000000001550")) << sent[7].toStdString();
    // The day's report of the register adds up to what the accepted file says: its count of
    // transactions and its signed total in hundredths.
    const QStringList day = Tollan({"report", "--csv"}).split('\n').filter(QRegularExpression("^POS00001,"));
    ASSERT_EQ(day.size(), 1) << Tollan({"report", "--csv"}).toStdString();
    const QStringList totals = day[0].split(',');
    EXPECT_EQ(totals[1].toInt() + totals[3].toInt(), sent[7].mid(1, 6).toInt()) << day[0].toStdString();
    EXPECT_EQ(qRound64(totals[5].toDouble() * 100), sent[7].mid(7, 12).toLongLong() * (sent[7][19] == '-' ? -1 : 1))
        << day[0].toStdString();

    // trans.log: the report of the file, one line per transaction, and the card centre's words.
    const QStringList log = Lines(home.filePath("trans.log"));
    ASSERT_GE(log.size(), 4);
    const QRegularExpression row1("^\\d{6} \\d{6} 00002 001   400000\\*{6}7899 +12\\.50 123456 $");
    const QRegularExpression row2("^\\d{6} \\d{6} 00003 001   550000\\*{6}7899 +3\\.00 123456 $");
    EXPECT_EQ(log.filter(row1).size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.filter(row2).size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.back(), "Server said: Fail vastu võetud");

    EXPECT_EQ(Rows("SELECT STAN, sent FROM Trans ORDER BY rowid"), (QStringList{"2|-1", "3|-1"}));
    EXPECT_EQ(Rows("SELECT count(*) FROM Log WHERE Message = 'Server said: Fail vastu võetud'"), QStringList{"1"});
    EXPECT_EQ(Setting("LastSent_TransFile"), QDate::currentDate().toString("yyyyMMdd"));

    // A purchase that went in the file cannot be cancelled any more: the preset refusal.
    std::string seen;
    EXPECT_EQ(Register({"--workstation", "POS00001", "--trans", "00000003", "--cancel", "2"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 1")) << seen;
    EXPECT_FALSE(centre->WaitFor("auth 0400", 500)) << centre->out;   // whatever it printed meanwhile
}

// What a process printed, a line at a time, with the moment each line was read.
struct Heard {
    std::unique_ptr<PeerProcess> p;
    std::string partial;
    std::vector<std::pair<qint64, std::string>> lines;
    void Read()
    {
        p->process.waitForReadyRead(20);
        partial += p->process.readAllStandardOutput().toStdString();
        for (std::size_t nl; (nl = partial.find('\n')) != std::string::npos; partial.erase(0, nl + 1))
            lines.emplace_back(QDateTime::currentMSecsSinceEpoch(), partial.substr(0, nl));
    }
    qint64 When(const std::string& part) const
    {
        for (const auto& [at, line] : lines)
            if (Has(line, part))
                return at;
        return -1;
    }
};

TEST_F(Shop, RegistersBehindASlowTransferHearBusyNoticesAndAreAnsweredInArrivalOrder)
{
    StartTerminal();   // the database, empty
    StopTerminal();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fill");
        db.setDatabaseName(home.filePath("tollan.mdb"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        q.exec("BEGIN");
        for (int i = 1; i <= 300; ++i)
            ASSERT_TRUE(q.exec(QString("INSERT INTO Trans (Type, PAN, WayOfUse, Amount, Date, Time, AuthCode, POSCode,"
                                       " ExpDate, STAN, Track2, sent, Toojaam, Trans) VALUES (0, '4000001234567899', 1,"
                                       " 10, 20261207, 120000, '123456', 1, 2812, '%1', '', 0, 'POS00009', '%2')")
                                   .arg(i + 100)
                                   .arg(i, 8, 10, QChar('0'))));
        q.exec("COMMIT");
    }
    QSqlDatabase::removeDatabase("fill");
    Config("SendTransTime1", "* * * * *");
    StartCentre({"--line-delay", "80"});   // 304 lines: some 25 seconds
    StartTerminal();
    ASSERT_TRUE(centre->WaitFor("line 2 ACK", 10000)) << centre->out;

    Heard regs[3];
    qint64 asked[3];
    for (int i = 0; i < 3; ++i) {
        regs[i].p = StartRegister(QStringList{"--workstation", QString("POS0000%1").arg(i + 1), "--trans",
                                              QString("0000000%1").arg(i + 1), "--amount", "1.00"} + kCard);
        asked[i] = QDateTime::currentMSecsSinceEpoch();
        for (qint64 until = asked[i] + 700; QDateTime::currentMSecsSinceEpoch() < until;)
            for (Heard& r : regs)
                if (r.p)
                    r.Read();
    }
    for (qint64 until = QDateTime::currentMSecsSinceEpoch() + 120000; QDateTime::currentMSecsSinceEpoch() < until;) {
        bool running = false;
        for (Heard& r : regs) {
            r.Read();
            running = running || r.p->process.state() != QProcess::NotRunning;
        }
        if (!running)
            break;
    }
    ASSERT_TRUE(centre->WaitFor("EOT", 5000));
    EXPECT_TRUE(centre->Printed("ENQ -> verdict 1 Fail vastu võetud (304 lines)")) << centre->out;

    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("register " + std::to_string(i + 1));
        Heard& r = regs[i];
        EXPECT_EQ(r.p->process.exitCode(), 0);
        const qint64 served = r.When("<- 6 info: Kaardi kontroll");   // its own request starts
        const qint64 answered = r.When("<- 22 approved");
        ASSERT_GT(served, 0);
        ASSERT_GT(answered, 0);
        // While it waited, a busy notice at least every 11 seconds.
        qint64 last = asked[i];
        for (const auto& [at, line] : r.lines)
            if (at <= served && Has(line, "<- 5 busy")) {
                EXPECT_LE(at - last, 11000) << line;
                last = at;
            }
        EXPECT_LE(served - last, 11000);
    }
    // Served in the order they asked: each took the next trace number.
    EXPECT_EQ(Rows("SELECT Trans FROM Trans WHERE sent = 0 ORDER BY CAST(STAN AS INTEGER)"),
              (QStringList{"00000001", "00000002", "00000003"}));
}

} // namespace
