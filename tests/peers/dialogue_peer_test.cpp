// The terminal's own dialogues against tollan-cardcentre as a process: the authorisation with its
// repeat, noise and check, and the transaction file under the card centre's NAK script.
#include "links/socket.h"
#include "links/tcp.h"
#include "protocol/dialogue.h"
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/home.h"
#include "tests/peers/peer_process.h"
#include "workstation/dispatch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;
using namespace tollan::test;

namespace {

class TerminalAgainstCentre : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The card centre answers in real time; a wait idle for longer than this is a silence.
        clock.setIdleSlice(700);
        ASSERT_TRUE(home.isValid());
        Home_Set(home.path());
        Cfg_SetRoot(kCfgRoot);
        ASSERT_TRUE(Db_Open());
        KK_SetSockets(&auth, &file);
        Tcp_HandleCardCentreEvents(auth, kMsgAuthSocket);
        Tcp_HandleCardCentreEvents(file, kMsgFileSocket);
        WS_SetRequesters({[](int) { return kRequesterConnected; }, [](int, const std::string&) {},
                          [](int) -> std::string* { return nullptr; }});
    }
    void TearDown() override
    {
        WS_SetRequesters({});
        KK_SetSockets(nullptr, nullptr);
        Db_Database().close();
    }
    void StartCentre(QStringList args)
    {
        centre = std::make_unique<PeerProcess>();
        args << "--port" << "0" << "--log" << home.filePath("centre.log") << "--store" << home.filePath("files");
        ASSERT_TRUE(centre->Start(TOLLAN_CARDCENTRE_EXE, args));
        const quint16 port = centre->ListeningPort();
        ASSERT_NE(port, 0);
        const std::string address = "127.0.0.1:" + std::to_string(port);
        Cfg_Put("Tollan_Auth_Address", address);
        Cfg_Put("Tollan_Trans_Address", address);
    }
    std::string Log() { return FileText(home.filePath("centre.log")); }
    // Lets our events run (a link's last bytes go out as they do) until the card centre prints `text`.
    bool Seen(const std::string& text) { return Clock_WaitUntil([&] { return centre->Printed(text); }, 5000); }
    static int Count(const std::string& text, const char* what) { return int(QString::fromStdString(text).count(what)); }

    TestClock clock;
    ClockScope scope{clock};
    QTemporaryDir home;
    Socket auth, file;
    std::unique_ptr<PeerProcess> centre;
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
        QFile::remove(home.filePath("centre.log"));
        StartCentre(c.args);
        TransRecord t;
        t.PAN = "4111111111111111";
        t.Amount = 125000;
        t.Date = 20261207;
        t.Time = 101500;
        t.STAN = "000321";
        t.ExpDate = 2912;
        t.Track2 = "4111111111111111=2912101";
        t.Toojaam = "POS00003";
        std::string response;
        EXPECT_EQ(KK_Authorize(100, KK_BuildRequest(kKK_Bitmap0100, t), response, 3), c.result);
        ASSERT_TRUE(Seen("closed")) << centre->out;
        const std::string log = Log();
        EXPECT_EQ(Count(log, "auth 0100 pan=4111111111111111"), 1) << log;
        EXPECT_EQ(Count(log, "auth 0100 ") + Count(log, "auth 0101 "), c.requests) << log;
        if (!c.result)
            continue;
        TransRecord back = t;
        ASSERT_TRUE(KK_DecodeResponse(response, back));
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
        QFile::remove(home.filePath("centre.log"));
        QDir(home.filePath("files")).removeRecursively();
        StartCentre(c.args);
        std::string report;
        EXPECT_EQ(KK_SendTransFile(lines, report), c.result);
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
