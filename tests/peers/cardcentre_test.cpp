// tollan-cardcentre as a process, with the test as the terminal: authorisations framed as the
// terminal frames them and read back with the terminal's own decoder. The terminal's own dialogues
// against it are tests/dialogues' and the end-to-end tests'.
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "support/config.h"
#include "support/home.h"
#include "tests/common/test_home.h"
#include "tests/peers/peer_process.h"

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

// The answers the terminal's own dialogues do not tell apart (tests/dialogues drive approve,
// decline, repeat, noise, bad check and silence; the end-to-end tests the rules by card number):
// the response type, element 39 as it goes on the wire, the authorisation code, the
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

} // namespace
