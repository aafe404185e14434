// A shop whose terminal runs several requests at once ("ParallelRequests"), seen from outside: the
// cashiers' prompts overlap, while what the line carries one at a time stays one at a time.
#include "tests/e2e/suite.h"

namespace {

// The card centre's connections as it printed them: '+' a connection, '-' its close.
std::string Connections(const std::string& out)
{
    std::string seen;
    for (const QString& line : QString::fromStdString(out).split('\n')) {
        if (line.startsWith("connection from"))
            seen += '+';
        else if (line == "closed")
            seen += '-';
    }
    return seen;
}

// Three registers at once, the card centre over X.25 and slow to answer: the three card-check
// prompts come at once and their cashiers answer them side by side, and the one line carries one
// dialogue after the other. Over TCP the same three dialogues overlap.
TEST_F(Shop, ThreeAtATimePromptsOverlapWhileTheX25LineCarriesOneDialogueAtATime)
{
    StartCentre({"--answer-delay", "1000"});
    PeerProcess modem;
    ASSERT_TRUE(modem.Start(TOLLAN_MODEM_EXE, {"--route", QString("20041=127.0.0.1:%1").arg(centrePort), "--user",
                                               "tollan", "--password", "salajane"}));
    ASSERT_TRUE(modem.WaitFor("\n"));
    const QString device = QString::fromStdString(modem.out.substr(0, modem.out.find('\n')));
    ASSERT_TRUE(QFileInfo(device).exists()) << device.toStdString();
    for (const auto& [key, value] : {std::pair<QString, QString>{"X25\\CommPort", device}, {"X25\\Handshaking", "0"},
                                     {"X25\\Number", "5551234"}, {"X25\\Auth_Address", "20041"},
                                     {"X25\\Username", "tollan"}, {"X25\\Password", "salajane"}, {"UseX25", "1"},
                                     {"ParallelRequests", "3"}})
        Config(key, value);
    StartTerminal();
    auto run = [this](const char* firstTrans) {
        std::string seen;
        EXPECT_EQ(Register(QStringList{"--count", "3", "--requests", "1", "--prompt-delay", "3000", "--trans", firstTrans,
                                       "--amount", "1.25", "--json"} + kCard, &seen), 0) << seen;
        return QJsonDocument::fromJson(QByteArray::fromStdString(seen)).object();
    };
    QJsonObject r = run("00000001");
    EXPECT_EQ(r["approved"].toInt(), 3);
    // The prompts side by side (3 s), then three answers of a second each, one after the other;
    // one request at a time would take 3 × (3 + 1) s.
    EXPECT_GE(r["seconds"].toDouble(), 6.0);
    EXPECT_LT(r["seconds"].toDouble(), 10.0);
    centre->WaitFor("closed\nconnection from", 100);   // (reads what it printed so far)
    EXPECT_EQ(Connections(centre->out), "+-+-+-") << centre->out;

    // Over TCP each request has a connection of its own: the three are open at once.
    StopTerminal();
    Config("UseX25", "0");
    StartCentre({"--answer-delay", "1000"});
    StartTerminal();
    r = run("00000011");
    EXPECT_EQ(r["approved"].toInt(), 3);
    EXPECT_LT(r["seconds"].toDouble(), 6.0);
    centre->WaitFor("closed\nclosed\nclosed", 2000);
    EXPECT_EQ(Connections(centre->out).substr(0, 3), "+++") << centre->out;
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{"6"});
}

} // namespace
