// tollan-cardcentre as a process, with the test as the terminal: authorisations framed as the
// terminal frames them and read back with the terminal's own decoder, and transaction files.
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "protocol/transfile.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/home.h"
#include "tests/peers/peer_process.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <set>

using namespace tollan;
using namespace tollan::test;

namespace {

constexpr char kENQ = 5, kEOT = 4;

bool HasCr(const std::string& b) { return b.find('\r') != std::string::npos; }

// Element 39's bytes in a response body (after the message type), the elements before it walked as
// they travel; "(none)" when the bitmap leaves it out. The terminal's record reads 39 as a number,
// so a test of the characters on the wire reads them here.
std::string Element39(std::string_view body)
{
    const struct {
        int number, type, width;
        bool fixed;
    } elements[] = {{2, 2, 19, false}, {3, 2, 6, true}, {4, 2, 12, true}, {7, 2, 10, true},
                    {11, 2, 6, true},  {38, 4, 6, true}, {39, 4, 2, true}};
    std::string bitmap, value;
    if (!KK_ParseField(8, 8, true, body, bitmap))
        return "(unreadable)";
    for (const auto& e : elements) {
        if (!KK_BitSet(bitmap, e.number))
            continue;
        if (!KK_ParseField(e.type, e.width, e.fixed, body, value))
            return "(unreadable)";
        if (e.number == 39)
            return value;
    }
    return "(none)";
}

class CardCentre : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        Home_Set(home.path());
        Cfg_SetRoot(kCfgRoot);
        Cfg_Put("TerminaliTunnus", "T0000001");
        Cfg_Put("FirmaRegNr", "10000001");
    }
    void Run(QStringList args)
    {
        args << "--port" << "0" << "--log" << home.filePath("centre.log") << "--ledger" << home.filePath("ledger");
        ASSERT_TRUE(centre.Start(TOLLAN_CARDCENTRE_EXE, args));
        const quint16 port = centre.ListeningPort();
        ASSERT_NE(port, 0) << centre.out;
        line.connectToHost("127.0.0.1", port);
        ASSERT_TRUE(line.waitForConnected(5000));
    }
    static TransRecord Purchase(const std::string& pan)
    {
        TransRecord t;
        t.PAN = pan;
        t.Amount = 125000;   // 12.50
        t.Date = 20261207;
        t.Time = 134501;
        t.ExpDate = 2512;
        t.STAN = "000123";
        t.Track2 = pan + "=2512101";
        t.Toojaam = "POS00007";
        return t;
    }
    void SendRequest(int type, const TransRecord& t)
    {
        const bool reversal = type >= 400;
        const std::string body = KK_BuildRequest(reversal ? kKK_Bitmap0400 : kKK_Bitmap0100, t,
                                                 reversal ? std::string(42, '1') : std::string());
        Send(KK_Frame(KK_FormatField(2, 4, true, KK_Number(type, 4)) + body));
    }
    void Send(const std::string& b) { ASSERT_EQ(line.write(b.data(), qint64(b.size())), qint64(b.size())); line.flush(); }
    void SendControl(char c) { Send(std::string(1, c)); }
    // Everything up to the frame's CR, or empty when nothing comes within `ms`.
    std::string Answer(int ms = 5000)
    {
        std::string b;
        return ReadUntil(line, b, HasCr, ms) ? b : std::string();
    }
    char Control(int ms = 5000)
    {
        std::string b;
        return ReadUntil(line, b, [](const std::string& x) { return !x.empty(); }, ms) ? b[0] : '\0';
    }
    // A card centre of its own for each case of a table.
    void Restart(const QStringList& args)
    {
        line.abort();
        centre.process.kill();
        centre.process.waitForFinished();
        centre.out.clear();
        QFile::remove(home.filePath("centre.log"));
        QFile::remove(home.filePath("ledger"));
        Run(args);
    }
    std::string Log()
    {
        QFile f(home.filePath("centre.log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }
    // The ledger's lines of these events, in their order, each parsed as JSON.
    std::vector<QJsonObject> Ledger(const QStringList& events)
    {
        QFile f(home.filePath("ledger"));
        std::vector<QJsonObject> lines;
        if (!f.open(QIODevice::ReadOnly))
            return lines;
        while (!f.atEnd()) {
            const QJsonObject o = QJsonDocument::fromJson(f.readLine()).object();
            EXPECT_FALSE(o.isEmpty()) << "a ledger line that is no JSON object";
            if (events.contains(o["event"].toString()))
                lines.push_back(o);
        }
        return lines;
    }

    QTemporaryDir home;
    PeerProcess centre;
    QTcpSocket line;
};

// The answers the terminal's own dialogues do not tell apart (tests/peers/dialogue_peer_test.cpp
// drives approve, decline, repeat, noise, bad check and silence): the response type, element 39 as
// it goes on the wire, and the request echoed back.
TEST_F(CardCentre, AnswersAuthorisationsAsItsOptionsAndRulesSay)
{
    const std::string visa = "4111111111111111", master = "5555555555554444";
    const struct {
        QStringList args;
        std::string pan;
        int type, responseType;   // responseType 0: the line is closed unanswered
        std::string code;         // element 39's characters, "(none)": left out
    } cases[] = {
        {{}, visa, 100, 110, "00"},
        {{}, visa, 400, 410, "00"},
        {{"--rule", "pan=5555 decline 51"}, master, 100, 110, "51"},
        {{"--rule", "pan=5555 decline 51"}, visa, 100, 110, "00"},
        {{"--rule", "type=400 decline 12"}, visa, 401, 410, "12"},
        {{"--rule", "* decline 91"}, visa, 100, 110, "91"},
        {{"--decline", "N7"}, visa, 100, 110, "N7"},
        {{"--decline", "0A"}, visa, 100, 110, "0A"},
        {{"--decline", "%20%20"}, visa, 100, 110, "  "},
        {{"--decline", "5"}, visa, 100, 110, "05"},
        {{"--no-code"}, visa, 100, 110, "(none)"},
        {{"--decline", "N7", "--no-code"}, visa, 100, 110, "(none)"},
        {{"--close"}, visa, 100, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " " + std::to_string(c.type));
        Restart(c.args);
        const TransRecord sent = Purchase(c.pan);
        SendRequest(c.type, sent);
        if (!c.responseType) {
            EXPECT_EQ(Answer(500), "");
            EXPECT_TRUE(line.state() == QAbstractSocket::UnconnectedState || line.waitForDisconnected(3000));
            continue;
        }
        const std::string message = KK_Unframe(Answer());
        ASSERT_GE(message.size(), 2u);
        EXPECT_EQ(message.substr(0, 2), KK_FormatField(2, 4, true, KK_Number(c.responseType, 4)));
        EXPECT_EQ(Element39(message.substr(2)), c.code);
        TransRecord back;
        back.AuthCode = "(none)";
        ASSERT_TRUE(KK_DecodeResponse(message.substr(2), back, 2026, 12));   // the terminal reads it whole
        EXPECT_EQ(back.AuthCode, c.args.contains("--decline") || (c.args.contains("--rule") && c.code != "00") ? "(none)" : "123456");
        EXPECT_EQ(back.PAN, c.pan);
        EXPECT_EQ(back.STAN, sent.STAN);
        EXPECT_EQ(back.Amount, sent.Amount);
        EXPECT_EQ(back.Date, sent.Date);
        EXPECT_EQ(back.Time, sent.Time);
        EXPECT_NE(Log().find("auth " + KK_Number(c.type, 4) + " pan=" + c.pan), std::string::npos) << Log();
    }
}

TEST_F(CardCentre, RuleFileFirstMatchWins)
{
    QFile rules(home.filePath("rules"));
    ASSERT_TRUE(rules.open(QIODevice::WriteOnly));
    rules.write("# the test's card centre\n"
                "pan=5555 decline 51   # no money on this one\n"
                "\n"
                "amount=99900 decline 61\n"
                "* approve auth XY9999\n");
    rules.close();
    Run({"--rules", home.filePath("rules"), "--decline", "05"});
    const struct {
        std::string pan;
        std::int64_t amount;
        int code;
        const char* authCode;
    } cases[] = {
        {"5555555555554444", 125000, 51, ""},
        {"4111111111111111", 9990000, 61, ""},
        {"4111111111111111", 125000, 0, "XY9999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pan + " " + std::to_string(c.amount));
        TransRecord t = Purchase(c.pan);
        t.Amount = c.amount;
        SendRequest(100, t);
        const std::string message = KK_Unframe(Answer());
        ASSERT_GE(message.size(), 2u);
        TransRecord back;
        ASSERT_TRUE(KK_DecodeResponse(message.substr(2), back, 2026, 12));
        EXPECT_EQ(back.ResponseCode, KK_Number(c.code, 2));
        EXPECT_EQ(back.AuthCode, c.authCode);
    }
}

TEST_F(CardCentre, BytesAfterTheFrameAndTheCloseComeWithTheAnswer)
{
    const struct {
        const char* option;
        std::string after;   // the bytes after the frame's CR
        bool closed;
    } cases[] = {
        {"--trailing", "\r\n", false},
        {"--trailing-junk", "\r\n\x7F~junk\xFF\x10", false},
        {"--hangup", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        Restart({c.option});
        SendRequest(100, Purchase("4111111111111111"));
        std::string wire = Answer();
        auto whole = [&](const std::string& b) { return b.size() >= b.find('\r') + 1 + c.after.size(); };
        ASSERT_TRUE(ReadUntil(line, wire, whole));
        const std::size_t cr = wire.find('\r');
        EXPECT_NE(KK_Unframe(wire.substr(0, cr + 1)), "");
        // The terminal sees the close once it has read the answer: nothing comes between.
        EXPECT_EQ(line.waitForDisconnected(c.closed ? 3000 : 300), c.closed);
        const QByteArray rest = line.readAll();
        EXPECT_EQ(wire.substr(cr + 1) + rest.toStdString(), c.after);
    }
}

TEST_F(CardCentre, LateAnswersTheRequestAfterItsRepeatIsAnswered)
{
    Run({"--late", "600"});
    SendRequest(100, Purchase("4111111111111111"));
    SendRequest(101, Purchase("4111111111111111"));
    const std::string repeatAnswer = KK_Unframe(Answer(400));
    EXPECT_EQ(repeatAnswer.substr(0, 2), std::string("\x01\x10", 2));
    EXPECT_EQ(KK_Unframe(Answer(3000)).substr(0, 2), std::string("\x01\x10", 2));
    ASSERT_TRUE(centre.WaitFor("answer to stan=000123 after 600 ms written"));
    // The ledger has the request at once, and what became of its answer once it went out.
    const auto auths = Ledger({"auth"}), answers = Ledger({"answer"});
    ASSERT_EQ(auths.size(), 2u);
    EXPECT_EQ(auths[0]["delay_ms"], 600);
    EXPECT_TRUE(auths[0]["written"].isNull());
    EXPECT_EQ(auths[1]["delay_ms"], 0);
    EXPECT_EQ(auths[1]["written"], true);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["id"], auths[0]["id"]);
    EXPECT_EQ(answers[0]["written"], true);

    // A terminal gone before the late answer: the ledger says it was not written.
    TransRecord gone = Purchase("4111111111111111");
    gone.STAN = "000124";
    SendRequest(100, gone);
    ASSERT_TRUE(centre.WaitFor("stan=000124 ->"));
    line.abort();
    ASSERT_TRUE(centre.WaitFor("answer to stan=000124 after 600 ms not written, the line is gone"));
    ASSERT_EQ(Ledger({"answer"}).size(), 2u);
    EXPECT_EQ(Ledger({"answer"})[1]["written"], false);
}

TEST_F(CardCentre, ChaosDrawsTheSameChoicesForTheSameSeed)
{
    // Each request on a line of its own: a choice may close the line.
    auto choices = [&](const char* seed) {
        Restart({"--chaos", seed, "--chaos-late", "50", "--chaos-faults", "70"});
        const quint16 port = centre.ListeningPort();
        std::vector<QString> drawn;
        for (int i = 1; i <= 30; ++i) {
            line.abort();
            line.connectToHost("127.0.0.1", port);
            EXPECT_TRUE(line.waitForConnected(5000));
            TransRecord t = Purchase("4111111111111111");
            t.STAN = KK_Number(i, 6);
            SendRequest(100, t);
            EXPECT_TRUE(centre.WaitFor("stan=" + t.STAN + " ->"));
        }
        for (const QJsonObject& a : Ledger({"auth"}))
            drawn.push_back(a["choice"].toString() + " " + a["code"].toString() + " " + a["auth_code"].toString() +
                            " " + a["trailing"].toString());
        return drawn;
    };
    const std::vector<QString> first = choices("7");
    ASSERT_EQ(first.size(), 30u);
    EXPECT_EQ(choices("7"), first);
    EXPECT_NE(choices("8"), first);
    std::set<QString> kinds;
    for (const QString& d : first)
        kinds.insert(d.section(' ', 0, 0));
    EXPECT_GT(kinds.size(), 5u) << QStringList(kinds.begin(), kinds.end()).join(' ').toStdString();
}

TEST_F(CardCentre, LedgerHoldsEachRequestAndEachFileWithWhatWasDone)
{
    Run({"--rule", "pan=5555 decline N7", "--nak-line", "1:2"});
    TransRecord reversal = Purchase("4111111111111111");
    SendRequest(400, reversal);
    EXPECT_NE(Answer(), "");
    SendRequest(100, Purchase("5555555555554444"));
    EXPECT_NE(Answer(), "");
    const auto auths = Ledger({"auth"});
    ASSERT_EQ(auths.size(), 2u);
    const QJsonObject& r = auths[0];
    EXPECT_EQ(r["type"], "0400");
    EXPECT_EQ(r["stan"], "000123");
    EXPECT_EQ(r["pan"], "4111111111111111");
    EXPECT_EQ(r["amount"], "000000001250");
    EXPECT_EQ(r["original"], QString(42, '1'));
    EXPECT_EQ(r["terminal"], "T0000001");
    EXPECT_EQ(r["acceptor"], QString::fromStdString(KK_CardAcceptorId(reversal.Toojaam)).leftJustified(15));
    EXPECT_EQ(r["by"], "options");
    EXPECT_EQ(r["verdict"], "approve");
    EXPECT_EQ(r["response"], "0410");
    EXPECT_EQ(r["code"], "00");
    EXPECT_EQ(r["auth_code"], "123456");
    EXPECT_EQ(r["written"], true);
    EXPECT_EQ(r["closed"], false);
    EXPECT_EQ(auths[1]["by"], "rule 1");
    EXPECT_EQ(auths[1]["verdict"], "decline");
    EXPECT_EQ(auths[1]["code"], "N7");
    EXPECT_TRUE(auths[1]["auth_code"].isNull());

    // A file accepted, one refused and one given up, each as the card centre received it.
    const std::string first(70, '0'), second = "9" + std::string(69, '1');
    const struct {
        const char* status;
        bool enq;
        const char* event;
        int verdictStatus;
    } files[] = {{"1", true, "file", 1}, {"0", true, "file", 0}, {"1", false, "file-abandoned", -1}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.event + std::string(" ") + f.status);
        Restart({"--verdict-status", f.status, "--nak-line", "1:2"});
        for (const std::string& l : {first, first, first, second})   // line 1 NAKed twice
            Send(KK_FrameSimple(l)), Control();
        std::string verdict;
        if (f.enq) {
            SendControl(kENQ);
            verdict = KK_UnframeSimple(Answer());
        }
        SendControl(kEOT);
        ASSERT_TRUE(centre.WaitFor("EOT"));
        const auto logged = Ledger({f.event});
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_EQ(logged[0]["lines"].toArray(),
                  (QJsonArray{QString::fromStdString(first), QString::fromStdString(second)}));
        EXPECT_EQ(logged[0]["naks"].toArray(), (QJsonArray{QJsonArray{1, 2}}));
        if (f.enq) {
            EXPECT_EQ(logged[0]["status"], f.verdictStatus);
            EXPECT_EQ(logged[0]["verdict"].toString().toStdString(), Text_Cp1252ToUtf8(verdict));
        }
    }
}

} // namespace
