#include "links/x25.h"

#include "tests/links/suite.h"

#include <QFile>
#include <QSerialPort>

#include <sys/resource.h>

#include <cstdio>

#ifdef TOLLAN_MODEM_EXE

namespace {

std::string W(const char* utf8) { return Text_Utf8ToCp1252(utf8); }

const char* kScript = "5551234\r" "20041\r" "tollan\r" "secret";

class X25Link : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        ASSERT_TRUE(centre.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&centre, &QTcpServer::newConnection, [this] { peer = centre.nextPendingConnection(); });
    }
    void TearDown() override { StopModem(); }
    void StopModem()
    {
        X25_Close();
        X25_Attach(nullptr);
        if (modem.state() != QProcess::NotRunning) {
            modem.kill();
            modem.waitForFinished(5000);
        }
        peer = nullptr;
    }

    // Starts the modem with its route to our card centre and hands its line to the link.
    void StartModem(QStringList extra = {})
    {
        modem.setProgram(TOLLAN_MODEM_EXE);
        modem.setArguments(QStringList{"--route", QString("20041=127.0.0.1:%1").arg(centre.serverPort()),
                                       "--user", "tollan", "--password", "secret", "--record", Heard()} + extra);
        modem.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        modem.start();
        ASSERT_TRUE(modem.waitForStarted(5000));
        while (!modem.canReadLine())
            ASSERT_TRUE(modem.waitForReadyRead(5000)) << "the modem did not say its device";
        device = QString::fromLocal8Bit(modem.readLine()).trimmed();
        ASSERT_TRUE(device.startsWith("/dev/pts/")) << device.toStdString();
        Cfg_Put("X25\\CommPort", device.toStdString());
        ASSERT_TRUE(X25_SetUpPort(port));
        ASSERT_TRUE(X25_Attach(&port));
    }
    void Connected(QStringList extra = {})
    {
        StartModem(extra);
        ASSERT_TRUE(test::Finish(X25_Connect(kScript))) << Last().message;
        ASSERT_TRUE(Clock_WaitUntil([&] { return peer != nullptr; }, 5000));
    }
    // What the card centre has received once `n` bytes are there.
    QByteArray CentreReads(qsizetype n)
    {
        Clock_WaitUntil([&] { return peer && peer->bytesAvailable() >= n; }, 5000);
        return peer ? peer->readAll() : QByteArray();
    }
    void CentreSends(const char* bytes)
    {
        peer->write(bytes);
        peer->flush();
    }
    // The command lines the modem heard, one a line, in their order.
    QString Heard() const { return home.filePath("modem-heard"); }
    std::string CommandsHeard() const
    {
        return QString::fromStdString(tollan::test::FileText(Heard())).trimmed().replace('\n', " | ").toStdString();
    }
    static const ErrorRecord& Last() { return Err_Record(Err_Index()); }

    QTemporaryDir home;
    TestClock clock{QDateTime::currentDateTime(), 500};
    ClockScope scope{clock};
    QTcpServer centre;
    QTcpSocket* peer = nullptr;
    QProcess modem;
    QSerialPort port;
    QString device;
};

TEST_F(X25Link, ACallCarriesTheExchangeToTheCardCentreAndBack)
{
    // The modem hears the reset and set-up the settings name (the defaults: the stages of the
    // failure table below), then the number.
    Cfg_Put("X25\\ModemInit", "AT&F1");
    Cfg_Put("X25\\ModemSettings", "atq0v1e0");
    Connected({"--reset", "AT&F1", "--setup", "ATQ0V1E0"});
    EXPECT_EQ(Err_Index(), 0) << Last().message;
    EXPECT_EQ(CommandsHeard(), "AT&F1 | atq0v1e0 | atdt5551234");
    // One serial port: a second connect while the call is up fails at once, unreported.
    EXPECT_FALSE(test::Finish(X25_Connect(kScript)));
    EXPECT_EQ(Err_Index(), 0);

    ASSERT_TRUE(X25_Send("\x01" "0100 purchase\r"));
    EXPECT_EQ(CentreReads(15), QByteArray("\x01" "0100 purchase\r"));
    // A send that does not fit into the free output buffer is refused whole.
    EXPECT_FALSE(X25_Send(std::string(kX25OutBufferSize + 1, 'x')));
    ASSERT_TRUE(X25_Send(std::string(kX25OutBufferSize, 'y')));
    EXPECT_EQ(CentreReads(kX25OutBufferSize), QByteArray(kX25OutBufferSize, 'y'));

    CentreSends("\x01" "0110 approved\r\n");
    ASSERT_TRUE(test::Finish(X25_WaitFor("????????*\r", 10)));
    std::string first = X25_Receive(1);
    while (first == "\r" || first == "\n")
        first = X25_Receive(1);
    EXPECT_EQ(first, "\x01");
    EXPECT_EQ(X25_Receive(4), "0110");   // at most its maximum, the rest stays
    EXPECT_EQ(X25_Receive(100), " approved\r\n");
    EXPECT_EQ(X25_Receive(0), "");
    // The wait took nothing: an empty pattern waits for data, and none is there now.
    EXPECT_FALSE(test::Finish(X25_WaitFor("", 1)));
    Err_Clear();

    // An answer that comes after the wait gave up reaches the receive buffer before the link
    // closes; the next connect discards it.
    ASSERT_TRUE(X25_Send("first request\r"));
    CentreReads(14);
    EXPECT_FALSE(test::Finish(X25_WaitFor("????????*\r", 1)));
    EXPECT_EQ(Last().description, "X25 timeout");
    CentreSends("late answer OK\r\n");
    ASSERT_TRUE(Clock_WaitUntil([] { return X25_Poll(); }, 5000));
    Err_Clear();
    // Closing the port drops the line, and the modem ends the call to the card centre.
    EXPECT_TRUE(X25_Close());
    EXPECT_TRUE(Clock_WaitUntil([&] { return peer->state() != QAbstractSocket::ConnectedState; }, 5000));
    EXPECT_EQ(Err_Index(), 0);
    peer = nullptr;

    ASSERT_TRUE(test::Finish(X25_Connect(kScript))) << Last().message;
    ASSERT_TRUE(Clock_WaitUntil([&] { return peer != nullptr; }, 5000));
    ASSERT_TRUE(X25_Send("second request\r"));
    EXPECT_EQ(CentreReads(15), QByteArray("second request\r"));
    CentreSends("second answer\r\n");
    ASSERT_TRUE(test::Finish(X25_WaitFor("????????*\r", 10)));
    const std::string answer = X25_Receive(0);
    EXPECT_EQ(answer.find("late"), std::string::npos) << answer;
    EXPECT_NE(answer.find("second answer\r"), std::string::npos) << answer;

    // A modem that goes away ends the wait with a disconnect and closes the port.
    modem.kill();
    modem.waitForFinished(5000);
    EXPECT_FALSE(test::Finish(X25_WaitFor("????????*\r", 30)));
    EXPECT_EQ(Last().description, "X25 disconnect");
    EXPECT_EQ(Last().message, W("Ühendus katkes"));
    EXPECT_FALSE(port.isOpen());
}

TEST_F(X25Link, AStageTheModemOrThePadFailsEndsTheConnectWithItsReportAndClosesThePort)
{
    const struct Case {
        const char* what;
        QStringList modem;
        const char* init;           // X25\ModemInit
        const char* connectTimeOut; // TimeOut\Connect, nullptr: unset
        const char* script;
        const char* stage;
        const char* answer;         // in the report, between the brackets
        int seconds;                // 0: the answer came; else the stage's time-out ran out
    } cases[] = {
        {"busy", {"--dial", "busy"}, nullptr, nullptr, kScript, "DIAL", "BUSY", 0},
        {"no carrier", {"--dial", "nocarrier"}, nullptr, nullptr, kScript, "DIAL", "NO CARRIER", 0},
        {"a reset the modem does not know", {}, "ATZ9", nullptr, kScript, "INIT", "ERROR", 3},
        {"silent to the reset", {"--silent-to", "reset"}, nullptr, nullptr, kScript, "INIT", "(atz\r)", 3},
        {"silent to the set-up", {"--silent-to", "setup"}, nullptr, nullptr, kScript, "SETTINGS", "(ATM0E0\r)", 3},
        {"silent to dialling", {"--dial", "silent"}, nullptr, nullptr, kScript, "DIAL", "()", 30},
        {"silent to dialling, its own time-out", {"--dial", "silent"}, nullptr, "120", kScript, "DIAL", "()", 120},
        {"wrong password", {}, nullptr, nullptr, "5551234\r20041\rtollan\rguess", "CN", "(clr", 0},
        {"address without a route", {}, nullptr, nullptr, "5551234\r99999\rtollan\rsecret", "CN", "(clr", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Cfg_Put("X25\\ModemInit", c.init ? c.init : "atz");
        if (c.connectTimeOut) {
            Cfg_Put("TimeOut\\Connect", c.connectTimeOut);
        } else if (c.seconds == 30) {   // read, never written back for the card centre's reader
            EXPECT_EQ(Cfg_Lookup("TimeOut\\Connect", "unset"), "unset");
        }
        StartModem(c.modem);
        Err_Clear();
        const std::int64_t start = Clock_Ms();
        EXPECT_FALSE(test::Finish(X25_Connect(c.script)));
        const std::int64_t took = Clock_Ms() - start;
        EXPECT_GE(took, c.seconds * 1000);
        EXPECT_LT(took, c.seconds * 1000 + 5000);
        ASSERT_EQ(Err_Index(), c.seconds ? 2 : 1);
        if (c.seconds) {
            EXPECT_EQ(Err_Record(1).description, "X25 timeout");
            EXPECT_EQ(Err_Record(1).message, W("Sidepartner ei vasta päringule"));
        }
        EXPECT_EQ(Last().description, "X25 unable to connect");
        EXPECT_EQ(Last().flags, 16);
        EXPECT_EQ(Last().message.rfind(std::string("Mittekorrektne vastus tegevusele ") + c.stage + " (", 0), 0u) << Last().message;
        EXPECT_NE(Last().message.find(c.answer), std::string::npos) << Last().message;
        EXPECT_EQ(Last().details.rfind("Buffer=", 0), 0u);
        // The failed connect closed the port: the next one may open it again.
        EXPECT_FALSE(port.isOpen());
        StopModem();
    }
    EXPECT_EQ(peer, nullptr);
}

TEST_F(X25Link, AWaitOnASilentLineSleeps)
{
    Connected();
    RealClock real;
    Clock_Set(&real);
    const auto cpuMs = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
    };
    const double before = cpuMs();
    const std::int64_t start = Clock_Ms();
    EXPECT_FALSE(test::Finish(X25_WaitFor("never", 2)));
    const std::int64_t wall = Clock_Ms() - start;
    const double used = cpuMs() - before;
    Clock_Set(&clock);
    EXPECT_GE(wall, 2000);
    EXPECT_LT(used, 0.01 * double(wall)) << used << " ms of CPU in " << wall << " ms";
    std::printf("X25_WaitFor on a silent line: %.1f ms of CPU in %lld ms\n", used, (long long)wall);
}

TEST_F(X25Link, WithoutAPortEveryOperationFailsQuietlyAndAPortThatCannotBeOpenedIsReported)
{
    X25_Attach(nullptr);
    EXPECT_FALSE(X25_IsAttached());
    EXPECT_FALSE(test::Finish(X25_Connect(kScript)));
    EXPECT_FALSE(X25_Send("x"));
    EXPECT_FALSE(X25_Poll());
    EXPECT_FALSE(test::Finish(X25_WaitFor("", 1)));
    EXPECT_EQ(X25_Receive(0), "");
    EXPECT_FALSE(X25_Close());
    EXPECT_EQ(Err_Index(), 0);
    {
        // A port that goes away detaches the link with it.
        QSerialPort gone;
        X25_Attach(&gone);
        EXPECT_TRUE(X25_IsAttached());
    }
    EXPECT_FALSE(X25_IsAttached());

    Cfg_Put("X25\\CommPort", home.filePath("no-such-tty").toStdString());
    ASSERT_TRUE(X25_SetUpPort(port));
    X25_Attach(&port);
    EXPECT_FALSE(test::Finish(X25_Connect(kScript)));
    ASSERT_EQ(Err_Index(), 1);
    EXPECT_EQ(Last().message, W("X25 - Viga ühenduse loomisel"));
    EXPECT_NE(Last().number, 0);
    EXPECT_FALSE(Last().description.empty());
    EXPECT_FALSE(port.isOpen());
}

TEST_F(X25Link, ThePortIsSetUpFromItsSettings)
{
    const struct Case { const char* comm; const char* hand; const char* line; bool ok; const char* name; } cases[] = {
        {"1", "2", "9600,n,8,1", true, "/dev/ttyS0"},
        {"3", "0", "19200,E,7,2", true, "/dev/ttyS2"},
        {"/dev/pts/4", "1", "1200,o,8,1", true, "/dev/pts/4"},
        {"0", "2", "9600,n,8,1", false, nullptr},
        {"256", "2", "9600,n,8,1", false, nullptr},
        {"", "2", "9600,n,8,1", false, nullptr},
        {"1", "7", "9600,n,8,1", false, nullptr},
        {"1", "2", "9600,x,8,1", false, nullptr},
        {"1", "2", "fast,n,8,1", false, nullptr},
        {"1", "2", "9600,n,9,1", false, nullptr},
        {"1", "2", "9600,n,8", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.comm) + " " + c.hand + " " + c.line);
        Cfg_Put("X25\\CommPort", c.comm);
        Cfg_Put("X25\\Handshaking", c.hand);
        Cfg_Put("X25\\Settings", c.line);
        Err_Clear();
        QSerialPort p;
        EXPECT_EQ(X25_SetUpPort(p), c.ok);
        EXPECT_EQ(Err_Index(), c.ok ? 0 : 1);
        if (c.ok) {
            EXPECT_EQ(p.portName().toStdString(), QString(c.name).mid(5).toStdString());
        }
    }
    Cfg_Put("X25\\Settings", "19200,e,7,2");
    Cfg_Put("X25\\Handshaking", "2");
    QSerialPort p;
    ASSERT_TRUE(X25_SetUpPort(p));
    EXPECT_EQ(p.baudRate(), 19200);
    EXPECT_EQ(p.parity(), QSerialPort::EvenParity);
    EXPECT_EQ(p.dataBits(), QSerialPort::Data7);
    EXPECT_EQ(p.stopBits(), QSerialPort::TwoStop);
    EXPECT_EQ(p.flowControl(), QSerialPort::HardwareControl);
}

} // namespace

#endif
