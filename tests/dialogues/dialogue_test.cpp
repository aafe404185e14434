#include "dialogues/dialogue.h"

#include "links/tcp.h"
#include "store/db.h"
#include "tests/dialogues/suite.h"
#include "support/codepage.h"
#include "support/text.h"
#include "tests/common/card_centre.h"
#include "tests/common/full_disk.h"
#include "tests/common/tasks.h"

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <vector>

using namespace tollan::test;

namespace {

std::string W(const char* utf8) { return Text_Utf8ToCp1252(utf8); }

class Dialogues : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        ASSERT_TRUE(Db_Open());
        Cfg_Put("Tollan_Auth_Address", centre.Address());
        Cfg_Put("Tollan_Trans_Address", centre.Address());
    }
    void TearDown() override { Db_Database().close(); }
    // An authorisation for register 3, whose progress texts land in `told`.
    AuthResult Authorize(int type, std::string body, std::function<bool()> present = {})
    {
        DialogueListener l{3, [this](const std::string& text) { told.push_back(text); }, std::move(present)};
        return Finish(KK_Authorize(type, std::move(body), std::move(l)));
    }
    static void Approve(Centre& c, const std::string& frame)
    {
        c.Send(KK_Frame(Type(110) + frame.substr(2)));
    }

    QTemporaryDir home;
    TestClock clock;
    ClockScope scope{clock};
    Centre centre;
    std::vector<std::string> told;   // the progress texts
};

// The answer is the first valid frame of the answer's type, whatever comes with it; an answer of
// another type is none, and either way no repeat goes.
TEST_F(Dialogues, TheAnswerIsTheFirstValidFrameOfItsType)
{
    using OnFrame = std::function<void(Centre&, const std::string&)>;
    auto send = [](std::string bytes) -> OnFrame { return [bytes](Centre& c, const std::string&) { c.Send(bytes); }; };
    struct Case { const char* name; int type; OnFrame onFrame; const char* response; std::size_t sent; } cases[] = {
        {"the answer alone", 100, Approve, "BODY", 1},
        {"CR LF after the frame", 100, send(KK_Frame(Type(110) + "A") + "\r\n"), "A", 1},
        {"another type's frame first", 100, send(KK_Frame(Type(410) + "X") + KK_Frame(Type(110) + "A")), "A", 1},
        {"the answers to the request and to the repeat together", 100,
         [](Centre& c, const std::string& f) {
             if (f.compare(0, 2, Type(101)) == 0)
                 c.Send(KK_Frame(Type(110) + "A") + KK_Frame(Type(110) + "B"));
         },
         "A", 2},
        {"a wrong message type", 400, [](Centre& c, const std::string& f) { c.Send(KK_Frame(Type(210) + f.substr(2))); },
         nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        centre.onFrame = c.onFrame;
        centre.frames.clear();
        const AuthResult r = Authorize(c.type, "BODY");
        EXPECT_EQ(r.answered, c.response != nullptr);
        EXPECT_TRUE(r.sent);
        EXPECT_EQ(r.response, c.response ? c.response : "");
        ASSERT_EQ(centre.frames.size(), c.sent);
        EXPECT_EQ(centre.frames[0], Type(c.type) + "BODY");
    }
    EXPECT_FALSE(QFile::exists(home.filePath("debug.log")));
    // Its connect time-out is read, not written: the modem's own default must hold when unset.
    EXPECT_EQ(Cfg_Lookup("TimeOut\\Connect", "unset"), "unset");
}

TEST_F(Dialogues, AnAnswerOnlyToTheRepeatSucceedsAfterOneRepeat)
{
    Cfg_Put("Debug", "1");
    centre.onFrame = [](Centre& c, const std::string& f) {
        if (f.compare(0, 2, Type(101)) == 0)
            c.Send("noise" + KK_Frame(Type(110) + "OK"));  // and noise before SOH
    };
    const AuthResult r = Authorize(100, "B");
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(r.response, "OK");
    EXPECT_EQ(centre.frames, (std::vector<std::string>{Type(100) + "B", Type(101) + "B"}));
    ASSERT_GE(told.size(), 4u);
    EXPECT_EQ(told[3], W("Edastan päringu korduse..."));
    QFile log(home.filePath("debug.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains("\tSend query: B\n"));
    EXPECT_TRUE(text.contains("\tReceived: " + QString::fromStdString(Url_Encode(Type(110) + "OK")) + "\n"));
}

TEST_F(Dialogues, ARequestTooLongForAFrameIsReportedAndNeverSent)
{
    const std::int64_t start = Clock_Ms();
    EXPECT_FALSE(Authorize(100, std::string(400, 'z')).sent);
    EXPECT_LT(Clock_Ms() - start, 1000);
    EXPECT_EQ(Err_Record(Err_Index()).message, W("Päringut ei saa kaardikeskusele saata"));
    EXPECT_TRUE(centre.frames.empty());
    EXPECT_EQ(centre.line, nullptr);   // not even connected
}

TEST_F(Dialogues, ARequesterGoneWhileConnectingClosesTheLinkWithoutSending)
{
    int calls = 0;
    const AuthResult r = Authorize(100, "B", [&] { return ++calls == 1; });
    EXPECT_FALSE(r.answered);
    EXPECT_FALSE(r.sent);
    Clock_WaitUntil([] { return false; }, 200);
    EXPECT_TRUE(centre.frames.empty());
    EXPECT_NE(centre.line, nullptr);  // it did connect
}

TEST_F(Dialogues, ACardCentreThatCannotBeReachedIsTriedThreeTimesHalfASecondApart)
{
    Cfg_Put("Tollan_Auth_Address", "127.0.0.1:1");
    const std::int64_t t0 = Clock_Ms();
    EXPECT_FALSE(Authorize(100, "B").sent);
    EXPECT_GE(Clock_Ms() - t0, 1500);
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back(), W("Sidehäire!"));
    int timeouts = 0;
    for (int i = 1; i <= Err_Index(); ++i)
        timeouts += Err_Record(i).description == "TCP timeout";
    EXPECT_EQ(timeouts, 3);
}

// The card centre's verdict line: message, number, status, number, amount.
std::string Verdict(char status, const char* message)
{
    std::string m = message;
    m.resize(46, ' ');
    return KK_FrameSimple(m + "00001" + status + "000002" + "000000012345") + "\n";
}

// The file dialogue as the card centre plays it: a line goes at most four times, the verdict is
// asked for with ENQ and acknowledged until the card centre's closing ENQ (four ACKs at most),
// silence ends it (30 seconds after a line, four ENQs of 10 seconds), and EOT always goes last.
TEST_F(Dialogues, TheFileDialogueEndsAsTheCardCentreAnswers)
{
    using OnFrame = std::function<void(Centre&, const std::string&)>;
    using OnControl = std::function<void(Centre&, char)>;
    int naks = 0;
    const OnFrame ack = [](Centre& c, const std::string&) { c.Send("\x06"); };
    auto verdict = [](char status, bool closing) -> OnControl {
        return [status, closing](Centre& c, char ch) {
            if (ch == '\x05')
                c.Send(Verdict(status, "Fail vastu voetud"));
            if (ch == '\x06' && closing)
                c.Send("\x05");
        };
    };
    // `why`: the report's cause when the dialogue broke off.
    struct Case {
        const char* name; OnFrame onFrame; OnControl onControl; bool accepted; std::vector<std::string> frames;
        std::string controls; const char* why; std::int64_t atLeastMs, belowMs;
    } cases[] = {
        {"NAKs only", [](Centre& c, const std::string&) { c.Send("\x15"); }, {}, false,
         std::vector<std::string>(4, "LINE1"), "\x04", "kaardikeskus ei võtnud rida vastu", 0, 1000},
        {"three NAKs, then ACK",
         [&](Centre& c, const std::string& f) { c.Send(f == "LINE1" && naks-- > 0 ? "\x15" : "\x06"); },
         verdict('1', true), true, {"LINE1", "LINE1", "LINE1", "LINE1", "LINE2"}, "\x05\x06\x04", nullptr, 0, 1000},
        {"no closing ENQ", ack, verdict('1', false), true, {"LINE1", "LINE2"}, "\x05\x06\x06\x06\x06\x04", nullptr,
         40000, 50000},
        {"a refusal", ack, verdict('0', true), false, {"LINE1", "LINE2"}, "\x05\x06\x04", nullptr, 0, 1000},
        {"no answer to a line", {}, {}, false, {"LINE1"}, "\x04", "kaardikeskus ei võtnud rida vastu", 30000, 40000},
        {"no verdict", ack, {}, false, {"LINE1", "LINE2"}, "\x05\x05\x05\x05\x04", "kaardikeskus ei andnud otsust",
         40000, 50000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        naks = 3;
        centre.onFrame = c.onFrame;
        centre.onControl = c.onControl;
        centre.frames.clear();
        centre.controls.clear();
        Err_Clear();
        const std::int64_t t0 = Clock_Ms();
        std::string report = "R";
        EXPECT_EQ(Finish(KK_SendTransFile({"LINE1", "LINE2"}, report)), c.accepted);
        EXPECT_GE(Clock_Ms() - t0, c.atLeastMs);
        EXPECT_LT(Clock_Ms() - t0, c.belowMs);
        EXPECT_EQ(centre.frames, c.frames);
        Clock_WaitUntil([&] { return centre.controls.find('\x04') != std::string::npos; }, 2000);
        EXPECT_EQ(centre.controls, c.controls);
        if (c.why) {
            EXPECT_EQ(Err_Record(Err_Index()).description, W(c.why));
            EXPECT_EQ(Err_Record(Err_Index()).message, "Tehingufaili saatmine katkes");
            EXPECT_EQ(report, "R");
        } else {
            EXPECT_EQ(report, "R\r\nServer said: Fail vastu voetud");
            // and the event log keeps the card centre's words, whatever it decided
            QSqlQuery q(Db_Database());
            q.exec("SELECT Message FROM Log ORDER BY rowid DESC LIMIT 1");
            EXPECT_TRUE(q.next() && q.value(0).toString() == "Server said: Fail vastu voetud");
            // A refusal reaches the operator in the card centre's words.
            EXPECT_EQ(Err_Index() > 0 && Err_Record(Err_Index()).description == "Fail vastu voetud", !c.accepted);
        }
    }
}

TEST(ServerReply, TheVerdictLineReadsAsMessageNumbersStatusAndAmount)
{
    const ServerReply r = KK_ParseServerReply(KK_UnframeSimple(Verdict('0', "Vale summa").substr(0, 73)));
    EXPECT_EQ(r.Message, "Vale summa");
    EXPECT_EQ(r.Number1, 1);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Number2, 2);
    EXPECT_EQ(r.Amount, 12345);
}

// A card centre that takes every line and accepts the first `accepted` files, refusing the rest;
// `onVerdict` runs just before each verdict.
void AcceptFiles(Centre& centre, int accepted, std::function<void()> onVerdict = {})
{
    centre.onFrame = [](Centre& c, const std::string&) { c.Send("\x06"); };
    centre.onControl = [onVerdict, accepted, verdicts = 0](Centre& c, char ch) mutable {
        if (ch == '\x05') {
            if (onVerdict)
                onVerdict();
            c.Send(++verdicts <= accepted ? Verdict('1', "OK") : Verdict('0', "Juba saadud"));
        }
        if (ch == '\x06')
            c.Send("\x05");
    };
}

int Unsent()
{
    QSqlQuery q(Db_Database());
    return q.exec("SELECT count(*) FROM Trans WHERE sent = 0") && q.next() ? q.value(0).toInt() : -1;
}

TEST_F(Dialogues, AnAcceptedFileWhoseVerdictCannotBeRecordedGoesAgainUnderItsOwnNumber)
{
    ASSERT_TRUE(Db_StoreTrans(SampleTrans("POS001", "1")));
    ASSERT_TRUE(Db_StoreTrans(SampleTrans("POS001", "2")));
    // The disk takes no more from the moment the card centre accepts the file: its verdict cannot
    // be recorded.
    QSqlQuery(Db_Database()).exec("PRAGMA wal_checkpoint(TRUNCATE)");
    FullDisk disk;
    disk.Free();
    AcceptFiles(centre, 99, [&] { disk.Fill(); });
    const std::string fileNumber = std::to_string(std::stoi(Cfg_Get("NextTransFileNr", "1")) + 1);
    auto reportsOfTheFile = [&](int from) {
        int n = 0;
        for (int i = from + 1; i <= Err_Index(); ++i)
            n += Err_Record(i).message.find(W("tehingufaili nr. ") + fileNumber + " ") != std::string::npos;
        return n;
    };
    const int reportsBefore = Err_Index();
    EXPECT_EQ(Finish(KK_SendTransFiles()), 0);
    const std::vector<std::string> first = centre.frames;
    ASSERT_EQ(first.size(), 6u);   // one file: header, group, two lines, trailers
    EXPECT_EQ(reportsOfTheFile(reportsBefore), 1);
    EXPECT_FALSE(QFile::exists(home.filePath("trans.log")));

    // Still failing: the same file goes again, and the failure is not reported again.
    EXPECT_EQ(Finish(KK_SendTransFiles()), 0);
    EXPECT_EQ(std::vector<std::string>(centre.frames.begin() + 6, centre.frames.end()), first);
    EXPECT_EQ(reportsOfTheFile(reportsBefore), 1);

    // Room again, and a new row meanwhile: the file goes a third time as it was, under its number,
    // is recorded and logged, and only then does the new row go, in a file of its own.
    disk.Free();
    AcceptFiles(centre, 99);
    ASSERT_TRUE(Db_StoreTrans(SampleTrans("POS001", "3")));
    centre.frames.clear();
    EXPECT_EQ(Finish(KK_SendTransFiles()), 2);
    ASSERT_EQ(centre.frames.size(), 6u + 5u);
    EXPECT_EQ(std::vector<std::string>(centre.frames.begin(), centre.frames.begin() + 6), first);
    EXPECT_EQ(Unsent(), 0);
    EXPECT_EQ(Cfg_Get("LastSent_TransFile", "never"), Clock_Now().toString("yyyyMMdd").toStdString());
    QFile log(home.filePath("trans.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count("Server said: OK"), 2);
}

TEST_F(Dialogues, AfterAnAcceptedFileTheFirstRefusalStopsWithItsRowsUnsentAndUnlogged)
{
    ASSERT_TRUE(Db_StoreTrans(SampleTrans("POS001", "1")));
    ASSERT_TRUE(Db_StoreTrans(SampleTrans("POS002", "1")));
    AcceptFiles(centre, 1);
    EXPECT_EQ(Finish(KK_SendTransFiles()), 1);
    QSqlQuery q(Db_Database());
    ASSERT_TRUE(q.exec("SELECT Toojaam FROM Trans WHERE sent = 0") && q.next());
    EXPECT_EQ(q.value(0).toString(), "POS002");  // the refused file's row waits for the next run
    EXPECT_FALSE(q.next());
    QFile log(home.filePath("trans.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_FALSE(log.readAll().contains("Juba saadud"));
}

} // namespace
