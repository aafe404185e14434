// tollan-cardcentre as a process, with the test as the terminal: authorisations framed as the
// terminal frames them and read back with the terminal's own decoder, and transaction files.
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "protocol/transfile.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/home.h"
#include "tests/peers/peer_process.h"

#include <QDir>
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

constexpr char kENQ = 5, kACK = 6, kNAK = 21, kEOT = 4;

bool HasCr(const std::string& b) { return b.find('\r') != std::string::npos; }

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

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

struct AuthCase {
    const char* name;
    QStringList args;
    std::string pan;
    int type;
    enum { Answered, Noisy, BadCheck, Silent, Closed } expect;
    int responseType;   // of an answer
    int code;           // element 39 of an answer
};

TEST_F(CardCentre, AnswersAuthorisationsAsItsOptionsAndRulesSay)
{
    const std::string visa = "4111111111111111", master = "5555555555554444";
    const AuthCase cases[] = {
        {"approve", {}, visa, 100, AuthCase::Answered, 110, 0},
        {"repeat approved too", {}, visa, 101, AuthCase::Answered, 110, 0},
        {"reversal", {}, visa, 400, AuthCase::Answered, 410, 0},
        {"decline", {"--decline", "05"}, visa, 100, AuthCase::Answered, 110, 5},
        {"rule by card", {"--rule", "pan=5555 decline 51"}, master, 100, AuthCase::Answered, 110, 51},
        {"rule passes other cards", {"--rule", "pan=5555 decline 51"}, visa, 100, AuthCase::Answered, 110, 0},
        {"rule by type", {"--rule", "type=400 decline 12"}, visa, 401, AuthCase::Answered, 410, 12},
        {"noise before SOH", {"--noise"}, visa, 100, AuthCase::Noisy, 110, 0},
        {"bad check", {"--bad-check"}, visa, 100, AuthCase::BadCheck, 0, 0},
        {"silent", {"--silent"}, visa, 100, AuthCase::Silent, 0, 0},
        {"close", {"--close"}, visa, 100, AuthCase::Closed, 0, 0},
    };
    for (const AuthCase& c : cases) {
        SCOPED_TRACE(c.name);
        Restart(c.args);
        const TransRecord sent = Purchase(c.pan);
        SendRequest(c.type, sent);
        if (c.expect == AuthCase::Silent || c.expect == AuthCase::Closed) {
            EXPECT_EQ(Answer(500), "");
            if (c.expect == AuthCase::Closed)
                EXPECT_TRUE(line.state() == QAbstractSocket::UnconnectedState || line.waitForDisconnected(3000));
            else
                EXPECT_EQ(line.state(), QAbstractSocket::ConnectedState);
            continue;
        }
        std::string wire = Answer();
        ASSERT_FALSE(wire.empty());
        if (c.expect == AuthCase::Noisy) {
            ASSERT_NE(wire[0], KK_SOH);
            wire.erase(0, wire.find(KK_SOH));
        } else {
            ASSERT_EQ(wire[0], KK_SOH);
        }
        const std::string message = KK_Unframe(wire);
        if (c.expect == AuthCase::BadCheck) {
            EXPECT_EQ(message, "");
            continue;
        }
        ASSERT_GE(message.size(), 2u);
        EXPECT_EQ(message.substr(0, 2), KK_FormatField(2, 4, true, KK_Number(c.responseType, 4)));
        TransRecord back;
        back.AuthCode = "(none)";
        ASSERT_TRUE(KK_DecodeResponse(message.substr(2), back, 2026, 12));
        EXPECT_EQ(back.ResponseCode, KK_Number(c.code, 2));
        EXPECT_EQ(back.AuthCode, c.code == 0 ? "123456" : "(none)");
        EXPECT_EQ(back.PAN, c.pan);
        EXPECT_EQ(back.STAN, sent.STAN);
        EXPECT_EQ(back.Amount, sent.Amount);
        EXPECT_EQ(back.Date, sent.Date);
        EXPECT_EQ(back.Time, sent.Time);
        EXPECT_NE(Log().find("auth " + KK_Number(c.type, 4) + " pan=" + c.pan), std::string::npos) << Log();
    }
}

TEST_F(CardCentre, RepeatOnlyLeavesTheRequestUnansweredAndAnswersTheRepeat)
{
    Run({"--repeat-only", "--auth-code", "AB12CD"});
    SendRequest(100, Purchase("4111111111111111"));
    EXPECT_EQ(Answer(500), "");
    SendRequest(101, Purchase("4111111111111111"));
    const std::string message = KK_Unframe(Answer());
    ASSERT_GE(message.size(), 2u);
    EXPECT_EQ(message.substr(0, 2), std::string("\x01\x10", 2));
    TransRecord back;
    ASSERT_TRUE(KK_DecodeResponse(message.substr(2), back, 2026, 12));
    EXPECT_EQ(back.AuthCode, "AB12CD");
}

TEST_F(CardCentre, UnreadableRequestGoesUnansweredAndTheLineStaysUsable)
{
    Run({"--verbose"});
    TransRecord t = Purchase("4111111111111111");
    const std::string body = KK_BuildRequest(kKK_Bitmap0100, t);
    // Cut inside its elements, then one naming an element no terminal sends (64).
    Send(KK_Frame(std::string("\x01\x00", 2) + body.substr(0, 20)));
    Send(KK_Frame(std::string("\x01\x00", 2) + std::string("\0\0\0\0\0\0\0\x01", 8)));
    EXPECT_EQ(Answer(400), "");
    SendRequest(100, t);
    EXPECT_NE(KK_Unframe(Answer()), "");
    EXPECT_NE(Log().find("auth unreadable (message ends in element"), std::string::npos) << Log();
    EXPECT_NE(Log().find("auth unreadable (element 64 is not known)"), std::string::npos) << Log();
    // --verbose shows the readable request field by field.
    centre.process.kill();
    centre.process.waitForFinished();
    const std::string shown = centre.process.readAllStandardError().toStdString();
    EXPECT_NE(shown.find("message 0100"), std::string::npos) << shown;
    EXPECT_NE(shown.find("002 card number: 4111111111111111"), std::string::npos) << shown;
    EXPECT_NE(shown.find("035 track 2: 4111111111111111=2512101"), std::string::npos) << shown;
    EXPECT_NE(shown.find("message 0110"), std::string::npos) << shown;
    EXPECT_NE(shown.find("039 response code: 00"), std::string::npos) << shown;
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

TEST_F(CardCentre, DelayHoldsTheAnswerBack)
{
    Run({"--delay", "700"});
    SendRequest(100, Purchase("4111111111111111"));
    EXPECT_EQ(Answer(200), "");
    EXPECT_NE(KK_Unframe(Answer(5000)), "");
}

TEST_F(CardCentre, NaksALineAsScriptedAndStoresTheAcceptedFile)
{
    const QString store = home.filePath("files");
    Run({"--nak-line", "1:3", "--store", store, "--verdict-text", "Fail OK"});
    const std::string first = std::string("0") + std::string(69, 'a');
    const std::string trailer = "9" + std::string(6, '0') + "000000001550" + std::string(51, ' ');
    for (int i = 0; i < 3; ++i) {
        Send(KK_FrameSimple(first));
        EXPECT_EQ(Control(), kNAK) << i;
    }
    Send(KK_FrameSimple(first));
    EXPECT_EQ(Control(), kACK);
    // A frame whose check is wrong is asked again, and does not count as the next line.
    std::string broken = KK_FrameSimple(trailer);
    broken[broken.size() - 2] ^= 1;
    Send(broken);
    EXPECT_EQ(Control(), kNAK);
    Send(KK_FrameSimple(trailer));
    EXPECT_EQ(Control(), kACK);

    SendControl(kENQ);
    const std::string verdict = KK_UnframeSimple(Answer());
    ASSERT_EQ(verdict.size(), kTransLineWidth);
    const ServerReply reply = KK_ParseServerReply(verdict);
    EXPECT_EQ(reply.Status, 1);
    EXPECT_EQ(reply.Message, "Fail OK");
    EXPECT_EQ(reply.Number1, 2);
    EXPECT_EQ(reply.Amount, 1550);
    SendControl(kACK);
    EXPECT_EQ(Control(), kENQ);
    SendControl(kEOT);
    ASSERT_TRUE(centre.WaitFor("EOT"));

    QFile stored(QDir(store).filePath("transfile-0001.txt"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll().toStdString(), first + "\r\n" + trailer + "\r\n");
    const std::string log = Log();
    for (const char* event : {"line 1 NAK 1/3", "line 1 NAK 3/3", "line 1 ACK", "line 2 ACK", "ENQ -> verdict 1",
                              "ACK -> ENQ", "EOT", "stored "})
        EXPECT_NE(log.find(event), std::string::npos) << event << "\n" << log;
}

TEST_F(CardCentre, RefusedFileIsNotStoredAndItsVerdictCanEndInLf)
{
    const QString store = home.filePath("files");
    Run({"--verdict-status", "0", "--verdict-text", "Vigane fail", "--verdict-crlf", "--enq-silent", "1",
         "--no-enq", "--store", store});
    Send(KK_FrameSimple(std::string(70, '0')));
    EXPECT_EQ(Control(), kACK);
    SendControl(kENQ);
    EXPECT_EQ(Answer(400), "");   // the first ENQ goes unanswered as asked
    SendControl(kENQ);
    std::string wire = Answer();
    ASSERT_TRUE(ReadUntil(line, wire, [](const std::string& b) { return b.back() == '\n'; }));
    ASSERT_EQ(wire.back(), '\n');
    wire.pop_back();
    const ServerReply reply = KK_ParseServerReply(KK_UnframeSimple(wire));
    EXPECT_EQ(reply.Status, 0);
    EXPECT_EQ(reply.Message, "Vigane fail");
    SendControl(kACK);
    EXPECT_EQ(Control(400), '\0');   // --no-enq
    SendControl(kEOT);
    ASSERT_TRUE(centre.WaitFor("EOT"));
    EXPECT_FALSE(QDir(store).exists() && !QDir(store).isEmpty());
}

TEST_F(CardCentre, ElementThirtyNineIsAnyTwoCharactersOrLeftOut)
{
    const struct {
        QStringList args;
        std::string code;
    } cases[] = {
        {{}, "00"},
        {{"--decline", "N7"}, "N7"},
        {{"--decline", "0A"}, "0A"},
        {{"--decline", "%20%20"}, "  "},
        {{"--decline", "5"}, "05"},
        {{"--rule", "* decline 91"}, "91"},
        {{"--no-code"}, "(none)"},
        {{"--decline", "N7", "--no-code"}, "(none)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        Restart(c.args);
        SendRequest(100, Purchase("4111111111111111"));
        const std::string message = KK_Unframe(Answer());
        ASSERT_GE(message.size(), 2u);
        TransRecord back;
        EXPECT_TRUE(KK_DecodeResponse(message.substr(2), back, 2026, 12));   // the terminal reads it whole
        EXPECT_EQ(Element39(message.substr(2)), c.code);
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

TEST_F(CardCentre, ChaosNaksAndJudgesFilesTheSameWayForTheSameSeed)
{
    // Sent as the terminal sends: a line at most four times, EOT once it is NAKed four times,
    // else ENQ for the verdict when every line is through.
    auto files = [&](const char* seed) {
        Restart({"--chaos", seed});
        for (int file = 0; file < 20; ++file) {
            bool through = true;
            for (int n = 1; n <= 8 && through; ++n) {
                int tries = 0;
                do
                    Send(KK_FrameSimple(std::to_string(n) + std::string(69, 'a')));
                while (Control() == kNAK && (through = ++tries < 4));
            }
            if (through) {
                SendControl(kENQ);
                EXPECT_NE(Answer(), "");
            }
            SendControl(kEOT);
        }
        auto eots = [&] { return centre.Printed("") ? Count(centre.out, "\nEOT\n") : 0; };
        while (eots() < 20 && centre.process.waitForReadyRead(5000)) {
        }
        std::vector<QString> seen;
        for (const QJsonObject& f : Ledger({"file", "file-abandoned"}))
            seen.push_back(f["event"].toString() + " " + QString::number(f["status"].toInt(-1)) + " " +
                           QJsonDocument(f["naks"].toArray()).toJson(QJsonDocument::Compact));
        return seen;
    };
    const std::vector<QString> first = files("11");
    ASSERT_EQ(first.size(), 20u);
    // Every kind of file comes; four NAKs, at one of the first six lines, only to a file given up.
    std::set<QString> kinds;
    for (const QJsonObject& f : Ledger({"file", "file-abandoned"})) {
        kinds.insert(f["event"].toString() + QString::number(f["status"].toInt(-1)));
        int fours = 0;
        for (const QJsonValue& nak : f["naks"].toArray()) {
            EXPECT_LE(nak[1].toInt(), 4);
            if (nak[1].toInt() == 4) {
                ++fours;
                EXPECT_LE(nak[0].toInt(), 6);
            }
        }
        EXPECT_EQ(fours, f["event"] == "file-abandoned" ? 1 : 0);
    }
    EXPECT_EQ(kinds, (std::set<QString>{"file0", "file1", "file-abandoned-1"}));
    EXPECT_EQ(files("11"), first);
    EXPECT_NE(files("12"), first);
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
