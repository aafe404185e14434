// A day at the shop with one terminal and one card centre: the everyday purchase and cancellation
// as the register and the card centre see them, a restart between them, the checks before the card
// centre, the telephone authorisation when the card centre is silent, cancellations found by the
// register's own transaction number, several registers at once, who may be a register at all
// ("AllowFrom"), and at the end of the day a purchase over X.25 through the modem peer; then a busy
// shop as `tollan-register` plays it for the benchmarks. Registers waiting behind a running request
// are in tests/e2e/transfile_e2e_test.cpp.
#include "tests/e2e/suite.h"

namespace {

TEST_F(Shop, ADayOfPurchasesCancellationsAndRefusalsAsTheRegistersAndTheCardCentreSeeThem)
{
    Config("TimeOut\\Auth", "1");  // the repeat is waited for one second, not a minute
    StartCentre({"--rule", "pan=4111 decline 5", "--rule", "pan=4222 silent"});
    StartTerminal();
    std::string seen;
    // Approved: prompts answered, two receipts printed, type 22.
    EXPECT_EQ(Register(QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "12.50", "--item",
                                   "1001;Leib;2;3.25", "--item", "1002;Piim 100%;1;6"} + kCard, &seen), 0);
    EXPECT_TRUE(Has(seen, "Kaardi kontroll...")) << seen;
    // Both copies show the card number masked.
    EXPECT_EQ(QString::fromStdString(seen).count("Kaart nr. 400000******7899\n"), 2) << seen;
    EXPECT_TRUE(Has(seen, "22 approved: ")) << seen;
    // The items echoed with their sums, read whole from a packet whose text went percent-encoded.
    EXPECT_TRUE(Has(seen, " amount 12.50 items 2 [6.50 ") && Has(seen, "] [6.00 ")) << seen;
    EXPECT_TRUE(centre->WaitFor("auth 0100 pan=4000001234567899 amount=000000001250 stan=000002"));

    // Declined by the card centre: the refusal with its code, nothing stored...
    EXPECT_EQ(Register({"--workstation", "POS00002", "--trans", "00000002", "--amount", "5", "--card",
                        "4111111111111111=28121010000012300000", "--answer", "1111"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 32: Viga nr. 05 - Puudub müügiluba")) << seen;
    // ...and the operator sees the verdict at the terminal.
    EXPECT_TRUE(Lines(home.filePath("tollan.err")).join('\n').contains("Puudub müügiluba"));

    // The terminal restarted between steps keeps its rows and its STAN counter.
    StopTerminal();
    StartTerminal();
    EXPECT_EQ(Register({"--workstation", "POS00003", "--trans", "00000009", "--cancel", "2"}, &seen), 0);
    EXPECT_TRUE(centre->WaitFor("auth 0400"));
    EXPECT_EQ(Rows("SELECT Type, PAN, Amount, STAN, Toojaam, Trans, AuthCode, sent FROM Trans ORDER BY rowid"),
              (QStringList{"0|400000******7899|12.5|2|POS00001|00000001|123456|0",
                           "1|400000******7899|12.5|4|POS00003|00000009|123456|0"}));
    // With "AllowManualPAN" never set, a card number keyed in is taken (POS code 0).
    EXPECT_EQ(Register({"--workstation", "POS00003", "--trans", "00000010", "--amount", "1", "--card",
                        "4000001234567899=28121010000012300000", "--entry", "1", "--answer", "7899"}, &seen), 0) << seen;
    EXPECT_EQ(Rows("SELECT POSCode FROM Trans WHERE Trans = '00000010'"), QStringList{"0"});
    // A register repeating a request number is refused before the card centre hears of it.
    EXPECT_EQ(Register(QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "1"} + kCard, &seen), 1);
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"3"});

    // Several registers at once are all answered.
    EXPECT_EQ(Register({"--count", "8", "--workstation", "POS00001", "--query", "4000001234567899", "--quiet"}, &seen), 3);
    EXPECT_EQ(Rows("SELECT count(*) FROM Log WHERE Message LIKE 'vigane%'"), QStringList{"0"});

    // Refused before the card centre hears of them, yet each takes a STAN.
    Config("AllowManualPAN", "0");
    ASSERT_TRUE(centre->WaitFor("stan=000005"));   // the last the card centre heard so far
    const std::size_t heard = centre->out.size();
    EXPECT_EQ(Register({"--trans", "00000021", "--amount", "1", "--card", "4000001234567899=20011010000012300000",
                        "--answer", "7899"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 32: Kaart on kehtivusaja ületanud!")) << seen;
    EXPECT_EQ(Register({"--trans", "00000022", "--amount", "1", "--card", "4000001234567899=28121010000012300000",
                        "--entry", "1", "--answer", "7899"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 32: Kaardinumbrit pole lubatud käsitsi sisestada!")) << seen;
    // The cashier gives no answer to the card-present prompt: the request is left unfinished.
    EXPECT_EQ(Register(QStringList{"--trans", "00000023", "--amount", "1", "--card",
                                   "4000001234567899=28121010000012300000", "--answer", ""}, &seen), 2);
    EXPECT_TRUE(Has(seen, "2 unfinished 1")) << seen;
    // Digits that match neither the card number nor the expiry: the text arrives cut to 50 characters.
    EXPECT_EQ(Register({"--trans", "00000024", "--amount", "1", "--card", "4000001234567899=28121010000012300000",
                        "--answer", "01234"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 32: Sisestatud numbrid erinevad kaardi magnetrajal ole\n")) << seen;
    centre->process.waitForReadyRead(500);   // what the card centre printed meanwhile
    centre->Printed("");
    EXPECT_EQ(centre->out.find("auth", heard), std::string::npos) << centre->out;
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"3"});

    // Kind 3 is a purchase too, stored as type 0; the four refusals above took STANs 6 to 9.
    EXPECT_EQ(Register(QStringList{"--trans", "00000025", "--amount", "2.30", "--kind", "3"} + kCard, &seen), 0) << seen;
    EXPECT_TRUE(centre->WaitFor("auth 0100 pan=4000001234567899 amount=000000000230 stan=000010"));
    EXPECT_EQ(Rows("SELECT Type, STAN, POSCode FROM Trans WHERE Trans = '00000025'"), QStringList{"0|10|1"});
    StopTerminal();
    EXPECT_EQ(Setting("NextNumber"), "10");
    StartTerminal();

    // The cashier authorises by telephone when the card centre is silent.
    const QStringList silent = {"--card", "4222000000000005=28121010000012300000", "--answer", "0005"};
    EXPECT_EQ(Register(QStringList{"--trans", "00000031", "--amount", "7"} + silent + QStringList{"--answer", "87654321"}, &seen), 0);
    // The request and its repeat went unanswered, then the cashier was asked, values lined up.
    EXPECT_TRUE(centre->WaitFor("auth 0100 pan=4222000000000005 amount=000000000700 stan=000011"));
    EXPECT_TRUE(Has(seen, "6 info: Edastan päringu korduse...")) << seen;
    EXPECT_TRUE(Has(seen, "10 prompt: Autoriseerige telefonitsi tehing:\nKaardi number 4222000000000005\n"
                          "Kehtivusaeg   12/28\nOstusumma     7.00")) << seen;
    EXPECT_TRUE(Has(seen, "Autoris. nr. 876543 (käsitsi)")) << seen;
    EXPECT_TRUE(Has(seen, "22 approved")) << seen;
    // Eight characters stored as six; bit 1 of the POS code marks the code as telephoned.
    EXPECT_EQ(Rows("SELECT STAN, AuthCode, POSCode FROM Trans WHERE Trans = '00000031'"), QStringList{"11|876543|3"});
    // No telephone code either: unfinished, nothing stored.
    EXPECT_EQ(Register(QStringList{"--trans", "00000032", "--amount", "8"} + silent + QStringList{"--answer", ""}, &seen), 2);
    EXPECT_TRUE(Has(seen, "Autoriseerige telefonitsi tehing:")) << seen;
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"5"});

    // A cancellation finds the register's own number only from that register.
    ASSERT_EQ(Register(QStringList{"--workstation", "POS00005", "--trans", "00000777", "--amount", "4"} + kCard), 0);
    // Another register's number is not found: the preset refusal, and the card centre hears nothing.
    EXPECT_EQ(Register({"--workstation", "POS00006", "--trans", "00000801", "--cancel", "00000777"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 1")) << seen;
    EXPECT_FALSE(centre->WaitFor("auth 0400 pan=4000001234567899 amount=000000000400", 500)) << centre->out;
    // The same register's number is: the reversal goes to the card centre with a STAN of its own.
    EXPECT_EQ(Register({"--workstation", "POS00005", "--trans", "00000802", "--cancel", "00000777"}, &seen), 0);
    EXPECT_TRUE(Has(seen, "KVIITUNG NR. 14")) << seen;  // the cancellation receipt: the built-in form
    EXPECT_TRUE(centre->WaitFor("auth 0400 pan=4000001234567899 amount=000000000400 stan=000014"));
    // A cancellation cannot be cancelled: its STAN finds it and it is refused with the preset answer.
    EXPECT_EQ(Register({"--workstation", "POS00005", "--trans", "00000803", "--cancel", "14"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 1")) << seen;
    EXPECT_EQ(Rows("SELECT Type, STAN, Toojaam, Trans, Amount FROM Trans WHERE Toojaam = 'POS00005' ORDER BY rowid"),
              (QStringList{"0|13|POS00005|00000777|4", "1|14|POS00005|00000802|4"}));
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"7"});

    // Only registers from where "AllowFrom" says are served, the others are logged unread (which
    // addresses a rule lets in is the workstation tests' table).
    struct Case {
        const char* allowFrom;
        const char* source;      // the register's own address (127.0.0.2 is loopback too)
        const char* terminal;    // the address it connects to
        bool served;
    };
    const Case cases[] = {
        {"127.0.0.1", "127.0.0.2", "127.0.0.1", false},
        // The terminal listens on every interface, where an IPv4 register shows as ::ffff:127.0.0.1.
        {"127.0.0.1", "127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1;::1", "::1", "::1", true},
    };
    int refused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.allowFrom) + " from " + c.source);
        ForceConfig("AllowFrom", c.allowFrom);   // read at each connection: no restart; "/33" only by force
        const int status = Register({"--query", "4000001234567899", "--source", c.source, "--host", c.terminal}, &seen);
        if (c.served) {
            EXPECT_EQ(status, 3) << seen;
            continue;
        }
        // Closed at once: the card query it sent with the connection was never read, so never answered.
        EXPECT_EQ(status, 4) << seen;
        EXPECT_FALSE(Has(seen, "<- ")) << seen;
        const QStringList logged =
            Rows("SELECT Object, Message FROM Log WHERE Object = 'WSTJlistener' AND Message LIKE '%AllowFrom%' ORDER BY rowid");
        ASSERT_EQ(logged.size(), ++refused);
        EXPECT_TRUE(logged.back().startsWith(QString("WSTJlistener|Ühendus aadressilt ") + c.source + " suletud"))
            << logged.back().toStdString();
    }

    // The same purchase over X.25 after a restart (the serial line is set up at the start): the
    // terminal dials the modem peer on its pseudo-terminal, the modem's PAD calls the card centre's
    // address, and the request and answer cross the serial line.
    PeerProcess modem;
    ASSERT_TRUE(modem.Start(TOLLAN_MODEM_EXE, {"--route", QString("20041=127.0.0.1:%1").arg(centrePort), "--user",
                                               "tollan", "--password", "salajane", "--verbose"}));
    ASSERT_TRUE(modem.WaitFor("\n"));
    const QString device = QString::fromStdString(modem.out.substr(0, modem.out.find('\n')));
    ASSERT_TRUE(QFileInfo(device).exists()) << device.toStdString();
    for (const auto& [key, value] : {std::pair<QString, QString>{"X25\\CommPort", device}, {"X25\\Handshaking", "0"},
                                     {"X25\\Number", "5551234"}, {"X25\\Auth_Address", "20041"},
                                     {"X25\\Username", "tollan"}, {"X25\\Password", "salajane"}})
        Config(key, value);
    Config("UseX25", "1");
    StopTerminal();
    StartTerminal();
    EXPECT_EQ(Register(QStringList{"--trans", "00000041", "--amount", "9.99"} + kCard, &seen), 0) << seen;
    EXPECT_TRUE(centre->WaitFor("auth 0100 pan=4000001234567899 amount=000000000999 stan=000015")) << centre->out;
    EXPECT_EQ(Rows("SELECT STAN, Amount, AuthCode FROM Trans WHERE Trans = '00000041'"), QStringList{"15|9.99|123456"});
    // The modem dialled the number and the PAD called the address with the network identity.
    StopTerminal();  // the terminal closes the port; the modem's log is complete once it ends
    modem.process.terminate();
    ASSERT_TRUE(modem.process.waitForFinished(5000));
    const QByteArray dialogue = modem.process.readAllStandardError();
    EXPECT_TRUE(dialogue.contains("5551234")) << dialogue.toStdString();
    EXPECT_TRUE(dialogue.contains("CNtollan/salajane-20041")) << dialogue.toStdString();
}

// The register peer's load mode against the real terminal: each register's requests on its own
// connection with numbers of its own, prompts answered late, the counts and the JSON as the
// terminal and tollan.mdb have them.
TEST_F(Shop, ABusyShopsRegistersCountWhatTheTerminalAnswered)
{
    StartCentre({"--rule", "pan=4111 decline 5"});
    StartTerminal();
    auto json = [](const std::string& out) { return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object(); };
    std::string seen;

    // Three registers, two purchases each, every card-present prompt answered 300 ms late: six
    // rows, two numbers counted on from --trans for each register, and no request quicker than its
    // cashier.
    EXPECT_EQ(Register(QStringList{"--count", "3", "--requests", "2", "--prompt-delay", "300", "--trans", "00000041",
                                   "--amount", "1.25", "--json"} + kCard, &seen), 0) << seen;
    QJsonObject r = json(seen);
    EXPECT_EQ(r["registers"].toInt(), 3) << seen;
    EXPECT_EQ(r["requests"].toInt(), 6);
    EXPECT_EQ(r["approved"].toInt(), 6);
    EXPECT_EQ(r["refused"].toInt() + r["unfinished"].toInt() + r["failed"].toInt() + r["stopped"].toInt(), 0);
    EXPECT_EQ(r["requests_per_register"].toInt(), 2);
    EXPECT_EQ(r["prompt_delay_ms"].toInt(), 300);
    EXPECT_GE(r["latency_p50_ms"].toDouble(), 300);
    EXPECT_LE(r["latency_p50_ms"].toDouble(), r["latency_p95_ms"].toDouble());
    EXPECT_LE(r["latency_p99_ms"].toDouble(), r["latency_max_ms"].toDouble());
    // One at a time today: six requests of at least 300 ms each.
    EXPECT_GE(r["seconds"].toDouble(), 1.8);
    EXPECT_NEAR(r["purchases_per_s"].toDouble(), 6 / r["seconds"].toDouble(), 0.01 * r["purchases_per_s"].toDouble());
    EXPECT_EQ(Rows("SELECT Toojaam || '/' || Trans FROM Trans ORDER BY Toojaam, Trans"),
              (QStringList{"POS00001/00000041", "POS00001/00000042", "POS00002/00000041", "POS00002/00000042",
                           "POS00003/00000041", "POS00003/00000042"}));

    // Paced at four a second for two seconds, declined by the card centre: refusals, counted as
    // such, far fewer than back to back would make.
    EXPECT_EQ(Register({"--count", "2", "--workstation", "POS00011", "--duration", "2", "--rate", "4", "--seed", "7",
                        "--amount", "1", "--card", "4111111111111111=28121010000012300000", "--answer", "1111",
                        "--json"}, &seen), 1) << seen;
    r = json(seen);
    EXPECT_GE(r["requests"].toInt(), 4) << seen;
    EXPECT_LE(r["requests"].toInt(), 40) << seen;
    EXPECT_EQ(r["refused"].toInt(), r["requests"].toInt());
    EXPECT_EQ(r["approved"].toInt(), 0);
    EXPECT_EQ(r["purchases_per_s"].toDouble(), 0);
    EXPECT_EQ(r["pacing"].toString(), "poisson");
    EXPECT_TRUE(r["requests_per_register"].isNull());
    EXPECT_GE(r["seconds"].toDouble(), 1.0);
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"6"});

    // Stopped while both wait (the cashier is slow, the second register queued behind the first):
    // both requests counted as stopped, with their waits, and the JSON printed all the same.
    auto slow = StartRegister(QStringList{"--count", "2", "--workstation", "POS00021", "--duration", "30",
                                          "--prompt-delay", "20000", "--amount", "1", "--json"} + kCard);
    Pause(1500);
    ::kill(pid_t(slow->process.processId()), SIGTERM);
    EXPECT_EQ(slow->Exit(10000), 0) << slow->out;
    r = json(slow->out);
    EXPECT_EQ(r["requests"].toInt(), 2) << slow->out;
    EXPECT_EQ(r["stopped"].toInt(), 2);
    EXPECT_GE(r["stopped_waited_max_ms"].toDouble(), 1000);
    EXPECT_TRUE(r["latency_p50_ms"].isNull());

    // Nobody at the port: every register's request failed.
    PeerProcess nobody;
    ASSERT_TRUE(nobody.Start(TOLLAN_REGISTER_EXE, {"--count", "2", "--requests", "3", "--port",
                                                   QString::number(FreePort()), "--query", "4000001234567899", "--json"}));
    EXPECT_EQ(nobody.Exit(10000), 4) << nobody.out;
    r = json(nobody.out);
    EXPECT_EQ(r["failed"].toInt(), 2) << nobody.out;
    EXPECT_EQ(r["requests"].toInt(), 2);
}

} // namespace
