#include "links/matches.h"
#include "tests/links/suite.h"

#include <QSqlQuery>

#include <memory>

namespace {

std::string W(const char* utf8) { return Text_Utf8ToCp1252(utf8); }

class TcpLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        ASSERT_TRUE(Db_Open());
        auth.setObjectName("WSTollanauth");
    }
    void TearDown() override { Db_Database().close(); }

    // A card centre on loopback: listens, keeps the connection it accepts.
    quint16 Listen()
    {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, [this] { peer = server.nextPendingConnection(); });
        return server.serverPort();
    }
    std::string Addr(quint16 port) const { return "127.0.0.1:" + std::to_string(port); }
    void ConnectToPeer()
    {
        ASSERT_TRUE(test::Finish(Tcp_Connect(auth, Addr(Listen()), -1)));   // -1: waits for the connection
        ASSERT_TRUE(Clock_WaitUntil([&] { return peer != nullptr; }, 2000));
    }
    void PeerSends(const char* bytes)
    {
        peer->write(bytes);
        peer->flush();
    }
    const ErrorRecord& Last() const { return Err_Record(Err_Index()); }

    QTemporaryDir home;
    TestClock clock;
    ClockScope scope{clock};
    Socket auth;
    QTcpServer server;
    QTcpSocket* peer = nullptr;
};

TEST_F(TcpLink, AConnectThatCannotSucceedFailsWithItsReportAndLeavesTheSocketClosed)
{
    const std::string dead = Addr(tollan::test::FreePort()), timedOut = W("Ei õnnestu sidekanalit luua"), bad = W("Viga ühenduse loomisel");
    const struct Case {
        std::string address;
        bool handler;            // the card-centre socket's own error handler installed
        int timeOut;
        std::int64_t waits;      // at least this long
        int reports;
        const std::string& message;
    } cases[] = {
        // The socket's own error is recorded unseen, then the link's one report.
        {dead, true, -1, 0, 2, timedOut},
        {dead, false, 30, 30000, 1, timedOut},   // the error state alone does not end the wait
        {Addr(Listen()), false, -5, 0, 1, timedOut},   // below -1: no time at all
        {"127.0.0.1", false, 5, 0, 1, bad},     {"127.0.0.1:", false, 5, 0, 1, bad},
        {"127.0.0.1:12ab", false, 5, 0, 1, bad}, {":1280", false, 5, 0, 1, bad},
        {"127.0.0.1:70000", false, 5, 0, 1, bad}, {"", false, 5, 0, 1, bad},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + " " + std::to_string(c.timeOut));
        Err_Clear();
        Socket s;
        s.setObjectName("WSTollanauth");
        if (c.handler)
            Tcp_HandleCardCentreEvents(s, kMsgAuthSocket);
        const std::int64_t t0 = Clock_Ms();
        EXPECT_FALSE(test::Finish(Tcp_Connect(s, c.address, c.timeOut)));
        EXPECT_GE(Clock_Ms() - t0, c.waits);
        EXPECT_EQ(s.state(), kSockClosed);
        ASSERT_EQ(Err_Index(), c.reports);
        EXPECT_EQ(Last().message, c.message);
        // A time-out is the link's own report; a bad address carries the socket's error number.
        EXPECT_EQ(Last().description == "TCP timeout", &c.message == &timedOut);
        EXPECT_EQ(Last().number != 0, &c.message == &bad);
        if (c.handler) {
            EXPECT_EQ(Err_Record(1).number, 10061);
            EXPECT_EQ(Err_Record(1).message, kMsgAuthSocket);
        }
    }
    QSqlQuery q(Db_Database());
    ASSERT_TRUE(q.exec("SELECT Object, Message FROM Log"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), "WSTollanauth");
    EXPECT_TRUE(q.value(1).toString().startsWith("10061 - "));
}

TEST_F(TcpLink, APeerThatClosesBeforeThePatternEndsTheWaitWithDisconnect)
{
    ConnectToPeer();
    PeerSends("half an ans");
    peer->disconnectFromHost();
    EXPECT_FALSE(test::Finish(Tcp_WaitFor(auth, "\r", 60)));
    EXPECT_EQ(Last().description, "TCP disconnect");
    EXPECT_EQ(Last().message, W("Ühendus katkes"));
    EXPECT_FALSE(Tcp_Send(auth, "x"));
}

TEST_F(TcpLink, AnAnswerFollowedAtOnceByTheCloseIsStillTheAnswer)
{
    Tcp_HandleCardCentreEvents(auth, kMsgAuthSocket);
    ConnectToPeer();
    PeerSends("answer\r");
    peer->disconnectFromHost();
    // The card-centre socket's own close handler has run before the dialogue looks.
    ASSERT_TRUE(Clock_WaitUntil([&] { return auth.state() != kSockConnected; }, 2000));
    EXPECT_TRUE(test::Finish(Tcp_WaitFor(auth, "\r", 5)));
    EXPECT_EQ(Tcp_Receive(auth, 0), "answer\r");
    auth.setTag("Jah");
    EXPECT_TRUE(Tcp_Close(auth));
    EXPECT_EQ(auth.state(), kSockClosed);
    EXPECT_EQ(auth.tag(), "");   // the tag goes with the line
    EXPECT_EQ(Tcp_Receive(auth, 0), "");
}

TEST(SocketListener, AConnectionNotTakenIsTurnedAwayAndATakenOneIsConnected)
{
    Listener listener;
    ASSERT_TRUE(listener.listen(0));
    Socket pool;
    bool take = false;
    QObject::connect(&listener, &Listener::connectionRequest, [&](std::int32_t id) {
        if (take)
            pool.accept(listener.take(id));
    });
    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, quint16(listener.localPort()));
    EXPECT_TRUE(Clock_WaitUntil([&] { return refused.state() == QAbstractSocket::UnconnectedState; }, 3000));
    EXPECT_EQ(pool.state(), kSockClosed);

    take = true;
    QTcpSocket workstation;
    workstation.connectToHost(QHostAddress::LocalHost, quint16(listener.localPort()));
    ASSERT_TRUE(Clock_WaitUntil([&] { return pool.state() == kSockConnected; }, 3000));
    workstation.write("hello");
    ASSERT_TRUE(Clock_WaitUntil([&] { return pool.bytesWaiting() == 5; }, 3000));
    EXPECT_EQ(pool.getData(), "hello");
    SocketFailure f;
    EXPECT_FALSE(Listener().listen(listener.localPort(), &f));  // the port is taken
    EXPECT_EQ(f.number, 10048);
}

TEST(LinkMatches, Wildcards)
{
    struct Case { const char* pattern; const char* data; bool match; };
    static const std::string longRun(2000, 'a');
    const Case cases[] = {
        {"", "", false},           {"", "x", true},
        {"OK", "\r\nOK\r\n", true}, {"ok", "OK", false},
        {"C?N", "CON", true},      {"C?N", "CN", false},
        {"#", "abc", false},       {"##", "a12", true},
        {"[a-c]x", "bx", true},    {"[a-c]x", "dx", false},
        {"[!0-9]", "123", false},  {"[!0-9]", "12a", true},
        {"[xyz]", "y", true},      {"a*b", "a--b", true},
        {"a*b", "ba", false},      {"*", "", true},
        {"????????*\r", "1234567\r", false}, {"????????*\r", "12345678\r", true},
        {"[", "a[b", true},        {"a*b*c*d", longRun.c_str(), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Link_Matches(c.pattern, c.data), c.match) << c.pattern << " / " << c.data;
}

} // namespace
