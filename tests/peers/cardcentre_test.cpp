// tollan-cardcentre as a process. With the test as the terminal: authorisations framed as the
// terminal frames them and read back with the terminal's own decoder. With the terminal's own
// dialogues: the authorisation with its repeat, noise and check, and the transaction file under the
// card centre's NAK script.
#include "links/socket.h"
#include "links/tcp.h"
#include "dialogues/dialogue.h"
#include "dialogues/merchant.h"
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/home.h"
#include "tests/common/tasks.h"
#include "tests/common/test_home.h"
#include "tests/peers/peer_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;
using namespace tollan::test;

namespace {

// A home folder of the test's own, where the card centre keeps its log and its files.
class PeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
    }
    // A card centre of its own, started afresh with an empty log; its port, 0 if it did not start.
    quint16 StartCentre(QStringList args)
    {
        centre = std::make_unique<PeerProcess>();
        QFile::remove(home.filePath("centre.log"));
        args << "--port" << "0" << "--log" << home.filePath("centre.log") << "--store" << home.filePath("files");
        return centre->Start(TOLLAN_CARDCENTRE_EXE, args) ? centre->ListeningPort() : 0;
    }
    std::string Log() { return FileText(home.filePath("centre.log")); }
    QTemporaryDir home;
    std::unique_ptr<PeerProcess> centre;
};

TransRecord Purchase(const std::string& pan)
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

class CardCentre : public PeerTest {
protected:
    void SetUp() override
    {
        PeerTest::SetUp();
        Cfg_Put("TerminaliTunnus", "T0000001");
        Cfg_Put("FirmaRegNr", "10000001");
    }
    // The card centre, with the test's line to it.
    void Run(const QStringList& args)
    {
        line.abort();
        const quint16 port = StartCentre(args);
        ASSERT_NE(port, 0) << centre->out;
        line.connectToHost("127.0.0.1", port);
        ASSERT_TRUE(line.waitForConnected(5000));
    }
    void SendRequest(int type, const TransRecord& t)
    {
        const bool reversal = type >= 400;
        const std::string body = KK_BuildRequest(reversal ? kKK_Bitmap0400 : kKK_Bitmap0100, t, MerchantIds{},
                                                 reversal ? std::string(42, '1') : std::string());
        Send(KK_Frame(KK_FormatField(2, 4, true, KK_Number(type, 4)) + body));
    }
    void Send(const std::string& b) { ASSERT_EQ(line.write(b.data(), qint64(b.size())), qint64(b.size())); line.flush(); }
    // Everything up to the frame's CR, or empty when nothing comes within `ms`.
    std::string Answer(int ms = 5000)
    {
        std::string b;
        return ReadUntil(line, b, [](const std::string& x) { return x.find('\r') != std::string::npos; }, ms) ? b : std::string();
    }
    QTcpSocket line;
};

// The answers the terminal's own dialogues do not tell apart (TerminalAgainstCentre below
// drives approve, decline, repeat, noise, bad check and silence; the end-to-end tests the rules by
// card number): the response type, element 39 as it goes on the wire, the authorisation code, the
// request echoed back, a rules file whose first matching line wins over --decline, and the bytes
// and the close that follow the answer.
TEST_F(CardCentre, AnswersAuthorisationsAsItsOptionsAndRulesSay)
{
    QFile file(home.filePath("rules"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# the test's card centre\n"
               "pan=5555 decline 51   # no money on this one\n"
               "\n"
               "amount=99900 decline 61\n"
               "* approve auth XY9999\n");
    file.close();
    const QStringList rules = {"--rules", home.filePath("rules"), "--decline", "05"};
    const std::string visa = "4111111111111111";
    const struct {
        QStringList args;
        int type;
        std::string pan;
        std::int64_t amount;
        int responseType;         // 0: the line is closed unanswered
        std::string code;         // element 39's characters, "(none)": left out
        std::string authCode;     // element 38, "(none)": left out
        std::string after = {};   // the bytes after the frame's CR
        bool closed = false;      // the line closed right after them
    } cases[] = {
        {{}, 400, visa, 125000, 410, "00", "123456"},
        {{"--rule", "type=400 decline 12"}, 401, visa, 125000, 410, "12", "(none)"},
        {{"--decline", "N7"}, 100, visa, 125000, 110, "N7", "(none)"},
        {{"--decline", "0A"}, 100, visa, 125000, 110, "0A", "(none)"},
        {{"--decline", "%20%20"}, 100, visa, 125000, 110, "  ", "(none)"},
        {{"--decline", "5"}, 100, visa, 125000, 110, "05", "(none)"},
        {{"--no-code"}, 100, visa, 125000, 110, "(none)", "123456"},
        {{"--decline", "N7", "--no-code"}, 100, visa, 125000, 110, "(none)", "(none)"},
        {{"--close"}, 100, visa, 125000, 0, "", ""},
        {rules, 100, "5555555555554444", 125000, 110, "51", "(none)"},
        {rules, 100, visa, 9990000, 110, "61", "(none)"},
        {rules, 100, visa, 125000, 110, "00", "XY9999"},
        {{"--trailing"}, 100, visa, 125000, 110, "00", "123456", "\r\n"},
        {{"--trailing-junk"}, 100, visa, 125000, 110, "00", "123456", "\r\n\x7F~junk\xFF\x10"},
        {{"--hangup"}, 100, visa, 125000, 110, "00", "123456", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " " + std::to_string(c.type) + " " + c.pan + " " +
                     std::to_string(c.amount));
        Run(c.args);
        TransRecord sent = Purchase(c.pan);
        sent.Amount = c.amount;
        SendRequest(c.type, sent);
        if (!c.responseType) {
            EXPECT_EQ(Answer(500), "");
            EXPECT_TRUE(line.state() == QAbstractSocket::UnconnectedState || line.waitForDisconnected(3000));
            continue;
        }
        std::string wire = Answer();
        ASSERT_TRUE(ReadUntil(line, wire, [&](const std::string& b) { return b.size() >= b.find('\r') + 1 + c.after.size(); }));
        const std::size_t cr = wire.find('\r');
        const std::string message = KK_Unframe(wire.substr(0, cr + 1));
        ASSERT_GE(message.size(), 2u);
        EXPECT_EQ(message.substr(0, 2), KK_FormatField(2, 4, true, KK_Number(c.responseType, 4)));
        // The terminal sees the close once it has read the answer: nothing comes between.
        if (!c.after.empty() || c.closed) {
            EXPECT_EQ(line.waitForDisconnected(c.closed ? 3000 : 300), c.closed);
            EXPECT_EQ(wire.substr(cr + 1) + line.readAll().toStdString(), c.after);
        }
        EXPECT_EQ(Element39(message.substr(2)), c.code);
        TransRecord back;
        back.AuthCode = "(none)";
        ASSERT_TRUE(KK_DecodeResponse(message.substr(2), back, 2026, 12));   // the terminal reads it whole
        EXPECT_EQ(back.AuthCode, c.authCode);
        EXPECT_EQ(back.PAN, sent.PAN);
        EXPECT_EQ(back.STAN, sent.STAN);
        EXPECT_EQ(back.Amount, sent.Amount);
        EXPECT_EQ(back.Date, sent.Date);
        EXPECT_EQ(back.Time, sent.Time);
        EXPECT_NE(Log().find("auth " + KK_Number(c.type, 4) + " pan=" + sent.PAN), std::string::npos) << Log();
    }
}

TEST_F(CardCentre, LateAnswersTheRequestAfterItsRepeatIsAnswered)
{
    Run({"--late", "600"});
    SendRequest(100, Purchase("4111111111111111"));
    SendRequest(101, Purchase("4111111111111111"));
    EXPECT_EQ(KK_Unframe(Answer(400)).substr(0, 2), std::string("\x01\x10", 2));
    EXPECT_EQ(KK_Unframe(Answer(3000)).substr(0, 2), std::string("\x01\x10", 2));
    ASSERT_TRUE(centre->WaitFor("answer to stan=000123 after 600 ms written"));

    // A terminal gone before the late answer: the ledger says it was not written.
    TransRecord gone = Purchase("4111111111111111");
    gone.STAN = "000124";
    SendRequest(100, gone);
    ASSERT_TRUE(centre->WaitFor("stan=000124 ->"));
    line.abort();
    EXPECT_TRUE(centre->WaitFor("answer to stan=000124 after 600 ms not written, the line is gone"));
}

// A busy card centre: every request answered only after --answer-delay, and forty terminals'
// connections at once all answered within one delay or so, not one after another.
TEST_F(CardCentre, AnswerDelayHoldsUpEachRequestButNoOtherConnection)
{
    constexpr int kLines = 40, kDelayMs = 1000;
    const quint16 port = StartCentre({"--answer-delay", QString::number(kDelayMs)});
    ASSERT_NE(port, 0);
    std::vector<std::unique_ptr<QTcpSocket>> lines;
    for (int i = 0; i < kLines; ++i) {
        lines.push_back(std::make_unique<QTcpSocket>());
        lines.back()->connectToHost("127.0.0.1", port);
    }
    QElapsedTimer sent;
    sent.start();
    for (int i = 0; i < kLines; ++i) {
        ASSERT_TRUE(lines[i]->waitForConnected(5000));
        TransRecord t = Purchase("4111111111111111");
        t.STAN = KK_Number(i + 1, 6);
        const std::string frame = KK_Frame(KK_FormatField(2, 4, true, KK_Number(100, 4)) + KK_BuildRequest(kKK_Bitmap0100, t, MerchantIds{}));
        lines[i]->write(frame.data(), qint64(frame.size()));
        lines[i]->flush();
    }
    qint64 first = -1;
    for (int i = 0; i < kLines; ++i) {
        std::string wire;
        ASSERT_TRUE(ReadUntil(*lines[i], wire, [](const std::string& b) { return b.find('\r') != std::string::npos; }))
            << "line " << i;
        if (first < 0)
            first = sent.elapsed();
        TransRecord back;
        ASSERT_TRUE(KK_DecodeResponse(KK_Unframe(wire).substr(2), back, 2026, 12));
        EXPECT_EQ(back.STAN, KK_Number(i + 1, 6));
    }
    // A timer may fire a little early; one after another the last would come after forty seconds.
    EXPECT_GE(first, kDelayMs * 9 / 10);
    EXPECT_LT(sent.elapsed(), 4 * kDelayMs);
    EXPECT_TRUE(centre->WaitFor("answer to stan=000040 after 1000 ms written")) << centre->out;
}

class TerminalAgainstCentre : public PeerTest {
protected:
    void SetUp() override
    {
        // The card centre answers in real time; a wait idle for longer than this is a silence.
        clock.setIdleSlice(700);
        PeerTest::SetUp();
        ASSERT_TRUE(Db_Open());
    }
    void TearDown() override { Db_Database().close(); }
    // The card centre, at both of the terminal's card-centre addresses.
    void Connect(const QStringList& args)
    {
        const quint16 port = StartCentre(args);
        ASSERT_NE(port, 0);
        const std::string address = "127.0.0.1:" + std::to_string(port);
        Cfg_Put("Tollan_Auth_Address", address);
        Cfg_Put("Tollan_Trans_Address", address);
    }
    // Lets our events run (a link's last bytes go out as they do) until the card centre prints `text`.
    bool Seen(const std::string& text) { return Clock_WaitUntil([&] { return centre->Printed(text); }, 5000); }
    static int Count(const std::string& text, const char* what) { return int(QString::fromStdString(text).count(what)); }

    TestClock clock;
    ClockScope scope{clock};
};

struct AuthorisationCase {
    const char* name;
    QStringList args;
    bool result;
    int code;
    int requests;   // 0100s and 0101s the card centre saw
};

TEST_F(TerminalAgainstCentre, Authorisation)
{
    const AuthorisationCase cases[] = {
        {"approve", {}, true, 0, 1},
        {"decline", {"--decline", "51"}, true, 51, 1},
        {"only the repeat", {"--repeat-only"}, true, 0, 2},
        {"noise before SOH", {"--noise"}, true, 0, 1},
        {"bad check", {"--bad-check"}, false, 0, 1},
        {"silent", {"--silent"}, false, 0, 2},
    };
    for (const AuthorisationCase& c : cases) {
        SCOPED_TRACE(c.name);
        Connect(c.args);
        const TransRecord t = Purchase("4111111111111111");
        const AuthResult r = test::Finish(KK_Authorize(100, KK_BuildRequest(kKK_Bitmap0100, t, KK_MerchantIds(t.Toojaam)), {}));
        EXPECT_EQ(r.answered, c.result);
        ASSERT_TRUE(Seen("closed")) << centre->out;
        const std::string log = Log();
        EXPECT_EQ(Count(log, "auth 0100 pan=4111111111111111"), 1) << log;
        EXPECT_EQ(Count(log, "auth 0100 ") + Count(log, "auth 0101 "), c.requests) << log;
        if (!c.result)
            continue;
        TransRecord back = t;
        ASSERT_TRUE(KK_DecodeResponse(r.response, back));
        EXPECT_EQ(back.ResponseCode, KK_Number(c.code, 2));
        EXPECT_EQ(back.STAN, t.STAN);
        EXPECT_EQ(back.Amount, t.Amount);
        if (c.code == 0) {
            EXPECT_EQ(back.AuthCode, "123456");
        }
    }
}

struct FileCase {
    const char* name;
    QStringList args;
    bool result;
    int sendings;    // of line 1
    bool stored;
    const char* report;
};

TEST_F(TerminalAgainstCentre, TransactionFile)
{
    const std::vector<std::string> lines = {std::string("0") + std::string(69, 'x'), std::string("9") + std::string(69, 'y')};
    const char* said = "\r\nServer said: Fail vastu v\xF5" "etud";   // the card centre's default text
    const FileCase cases[] = {
        {"accepted", {"--verdict-text", "Fail OK"}, true, 1, true, "\r\nServer said: Fail OK"},
        {"three NAKs then ACK", {"--nak-line", "1:3"}, true, 4, true, said},
        {"four NAKs abandon it", {"--nak-line", "1:4"}, false, 4, false, ""},
        {"refused", {"--verdict-status", "2", "--verdict-text", "Vale summa"}, false, 1, false,
         "\r\nServer said: Vale summa"},
        {"verdict ending in CR LF", {"--verdict-crlf"}, true, 1, true, said},
        {"no ENQ after the ACK", {"--no-enq"}, true, 1, true, said},
        {"first ENQ unanswered", {"--enq-silent", "1"}, true, 1, true, said},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(home.filePath("files")).removeRecursively();
        Connect(c.args);
        std::string report;
        EXPECT_EQ(test::Finish(KK_SendTransFile(lines, report)), c.result);
        EXPECT_EQ(report, c.report);
        ASSERT_TRUE(Seen("EOT")) << centre->out;
        const std::string log = Log();
        EXPECT_EQ(Count(log, "line 1 "), c.sendings) << log;
        QFile stored(home.filePath("files/transfile-0001.txt"));
        EXPECT_EQ(stored.exists(), c.stored) << log;
        if (c.stored && stored.open(QIODevice::ReadOnly)) {
            EXPECT_EQ(stored.readAll().toStdString(), lines[0] + "\r\n" + lines[1] + "\r\n");
        }
    }
}

} // namespace
