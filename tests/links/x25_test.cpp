#include "links/x25.h"

#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "tests/common/test_home.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

using namespace tollan;
using tollan::test::UseTestHome;

#ifdef TOLLAN_MODEM_EXE

namespace {

std::string W(const char* utf8) { return Text_Utf8ToCp1252(utf8); }

const char* kScript = "5551234\r" "20041\r" "tollan\r" "secret";

// The modems this test program has started and not yet reaped.
int ModemChildren()
{
    int n = 0;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray s = stat.readAll();
        const qsizetype close = s.lastIndexOf(')');
        const QList<QByteArray> rest = s.mid(close + 2).split(' ');
        if (s.contains("(tollan-modem)") && rest.size() > 1 && rest[1].toLongLong() == getpid())
            ++n;
    }
    return n;
}

class X25Link : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        ASSERT_TRUE(centre.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&centre, &QTcpServer::newConnection, [this] { peer = centre.nextPendingConnection(); });
    }
    void TearDown() override
    {
        StopModem();
        EXPECT_EQ(ModemChildren(), 0) << "a modem was left running";
    }
    void StopModem()
    {
        X25_Close();
        X25_Attach(nullptr);
        if (modem.state() != QProcess::NotRunning) {
            modem.kill();
            modem.waitForFinished(5000);
        }
    }

    // Starts the modem with its route to our card centre and hands its line to the link.
    void StartModem(QStringList extra = {})
    {
        modem.setProgram(TOLLAN_MODEM_EXE);
        modem.setArguments(QStringList{"--route", QString("20041=127.0.0.1:%1").arg(centre.serverPort()),
                                       "--user", "tollan", "--password", "secret"} + extra);
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
        ASSERT_TRUE(X25_Connect(kScript)) << Last().message;
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

TEST_F(X25Link, ACompleteCallCarriesTheRequestToTheCardCentreAndItsAnswerBack)
{
    Connected();
    EXPECT_EQ(Err_Index(), 0) << Last().message;
    // One serial port: a second connect while the call is up fails at once, unreported.
    EXPECT_FALSE(X25_Connect(kScript));
    EXPECT_EQ(Err_Index(), 0);

    ASSERT_TRUE(X25_Send("\x01" "0100 purchase\r"));
    EXPECT_EQ(CentreReads(15), QByteArray("\x01" "0100 purchase\r"));
    CentreSends("\x01" "0110 approved\r\n");
    ASSERT_TRUE(X25_WaitFor("????????*\r", 10));
    std::string answer = X25_Receive(0);
    while (!answer.empty() && (answer[0] == '\r' || answer[0] == '\n'))
        answer.erase(0, 1);
    EXPECT_EQ(answer.substr(0, 15), "\x01" "0110 approved\r");

    // Closing the port drops the line, and the modem ends the call to the card centre.
    EXPECT_TRUE(X25_Close());
    EXPECT_TRUE(Clock_WaitUntil([&] { return peer->state() != QAbstractSocket::ConnectedState; }, 5000));
    EXPECT_EQ(Err_Index(), 0);
}

TEST_F(X25Link, ADialAnswerWithoutConnectFailsAtStageDialWithTheAnswerInTheMessage)
{
    const struct Case { const char* dial; const char* answer; } cases[] = {
        {"busy", "BUSY"},
        {"nocarrier", "NO CARRIER"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dial);
        StartModem({"--dial", c.dial});
        Err_Clear();
        EXPECT_FALSE(X25_Connect(kScript));
        ASSERT_EQ(Err_Index(), 1);
        EXPECT_EQ(Last().description, "X25 unable to connect");
        EXPECT_EQ(Last().flags, 16);
        EXPECT_EQ(Last().message.rfind("Mittekorrektne vastus tegevusele DIAL (", 0), 0u) << Last().message;
        EXPECT_NE(Last().message.find(c.answer), std::string::npos) << Last().message;
        EXPECT_EQ(Last().details.rfind("Buffer=", 0), 0u);
        EXPECT_EQ(peer, nullptr);
        // The failed connect closed the port: the next one may open it again.
        EXPECT_FALSE(port.isOpen());
        StopModem();
    }
}

TEST_F(X25Link, ASilentModemTimesOutAfterTheConnectTimeOutOfTheSettingsOrThirtySeconds)
{
    StartModem({"--dial", "silent"});
    std::int64_t start = Clock_Ms();
    EXPECT_FALSE(X25_Connect(kScript));
    EXPECT_GT(Clock_Ms() - start, 30000);
    EXPECT_LT(Clock_Ms() - start, 60000);
    EXPECT_EQ(Cfg_Lookup("TimeOut\\Connect", "unset"), "unset");   // nothing written for the card centre's reader
    Err_Clear();

    Cfg_Put("TimeOut\\Connect", "120");
    start = Clock_Ms();
    EXPECT_FALSE(X25_Connect(kScript));
    EXPECT_GT(Clock_Ms() - start, 120000);
    ASSERT_EQ(Err_Index(), 2);
    EXPECT_EQ(Err_Record(1).description, "X25 timeout");
    EXPECT_EQ(Err_Record(1).message, W("Sidepartner ei vasta päringule"));
    EXPECT_EQ(Err_Record(2).description, "X25 unable to connect");
    EXPECT_EQ(Err_Record(2).message, "Mittekorrektne vastus tegevusele DIAL ()!");
}

TEST_F(X25Link, ACallThePadClearsFailsAtStageCn)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QString deadRoute = QString("20042=127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    const struct Case { const char* what; const char* script; QStringList options; } cases[] = {
        {"wrong password", "5551234\r20041\rtollan\rguess", {}},
        {"wrong user", "5551234\r20041\rsomebody\rsecret", {}},
        {"address without a route", "5551234\r99999\rtollan\rsecret", {}},
        {"card centre not listening", "5551234\r20042\rtollan\rsecret", {"--route", deadRoute}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartModem(c.options);
        Err_Clear();
        EXPECT_FALSE(X25_Connect(c.script));
        ASSERT_EQ(Err_Index(), 1);
        EXPECT_EQ(Last().description, "X25 unable to connect");
        EXPECT_EQ(Last().message.rfind("Mittekorrektne vastus tegevusele CN (clr", 0), 0u) << Last().message;
        EXPECT_FALSE(port.isOpen());
        StopModem();
    }
    EXPECT_EQ(peer, nullptr);
}

TEST_F(X25Link, AnAnswerThatCameAfterTheWaitGaveUpIsDiscardedByTheNextConnect)
{
    Connected();
    ASSERT_TRUE(X25_Send("first request\r"));
    CentreReads(14);
    EXPECT_FALSE(X25_WaitFor("????????*\r", 1));
    EXPECT_EQ(Last().description, "X25 timeout");
    // The card centre answers late; the answer reaches the receive buffer before the link closes.
    CentreSends("late answer OK\r\n");
    ASSERT_TRUE(Clock_WaitUntil([] { return X25_Poll(); }, 5000));
    X25_Close();
    ASSERT_TRUE(Clock_WaitUntil([&] { return peer->state() != QAbstractSocket::ConnectedState; }, 5000));
    peer = nullptr;

    Err_Clear();
    ASSERT_TRUE(X25_Connect(kScript)) << Last().message;
    ASSERT_TRUE(Clock_WaitUntil([&] { return peer != nullptr; }, 5000));
    ASSERT_TRUE(X25_Send("second request\r"));
    EXPECT_EQ(CentreReads(15), QByteArray("second request\r"));
    CentreSends("second answer\r\n");
    ASSERT_TRUE(X25_WaitFor("????????*\r", 10));
    const std::string answer = X25_Receive(0);
    EXPECT_EQ(answer.find("late"), std::string::npos) << answer;
    EXPECT_NE(answer.find("second answer\r"), std::string::npos) << answer;
}

TEST_F(X25Link, AReceiveWithAMaximumTakesThatManyAndLeavesTheRest)
{
    Connected();
    CentreSends("0123456789");
    ASSERT_TRUE(X25_WaitFor("9", 10));
    std::string first = X25_Receive(1);
    while (first == "\r" || first == "\n")
        first = X25_Receive(1);
    EXPECT_EQ(first, "0");
    EXPECT_EQ(X25_Receive(3), "123");
    EXPECT_EQ(X25_Receive(100), "456789");
    EXPECT_EQ(X25_Receive(0), "");
    // The wait took nothing: an empty pattern waits for data, and none is there now.
    EXPECT_FALSE(X25_WaitFor("", 1));
}

TEST_F(X25Link, ASendThatDoesNotFitIntoTheFreeOutputBufferIsRefusedWhole)
{
    Connected();
    EXPECT_FALSE(X25_Send(std::string(kX25OutBufferSize + 1, 'x')));
    ASSERT_TRUE(X25_Send(std::string(kX25OutBufferSize, 'y')));
    const QByteArray got = CentreReads(kX25OutBufferSize);
    EXPECT_EQ(got, QByteArray(kX25OutBufferSize, 'y'));
    EXPECT_EQ(Err_Index(), 0);
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
    EXPECT_FALSE(X25_WaitFor("never", 2));
    const std::int64_t wall = Clock_Ms() - start;
    const double used = cpuMs() - before;
    Clock_Set(&clock);
    EXPECT_GE(wall, 2000);
    EXPECT_LT(used, 0.01 * double(wall)) << used << " ms of CPU in " << wall << " ms";
    std::printf("X25_WaitFor on a silent line: %.1f ms of CPU in %lld ms\n", used, (long long)wall);
}

TEST_F(X25Link, AModemThatGoesAwayEndsTheWaitWithDisconnect)
{
    Connected();
    modem.kill();
    modem.waitForFinished(5000);
    EXPECT_FALSE(X25_WaitFor("????????*\r", 30));
    EXPECT_EQ(Last().description, "X25 disconnect");
    EXPECT_EQ(Last().message, W("Ühendus katkes"));
    EXPECT_FALSE(port.isOpen());
}

TEST_F(X25Link, APortThatCannotBeOpenedIsReportedWithItsOwnText)
{
    Cfg_Put("X25\\CommPort", home.filePath("no-such-tty").toStdString());
    ASSERT_TRUE(X25_SetUpPort(port));
    X25_Attach(&port);
    EXPECT_FALSE(X25_Connect(kScript));
    ASSERT_EQ(Err_Index(), 1);
    EXPECT_EQ(Last().message, W("X25 - Viga ühenduse loomisel"));
    EXPECT_NE(Last().number, 0);
    EXPECT_FALSE(Last().description.empty());
    EXPECT_FALSE(port.isOpen());
}

TEST_F(X25Link, WithoutAPortEveryOperationFailsQuietly)
{
    X25_Attach(nullptr);
    EXPECT_FALSE(X25_IsAttached());
    EXPECT_FALSE(X25_Connect(kScript));
    EXPECT_FALSE(X25_Send("x"));
    EXPECT_FALSE(X25_Poll());
    EXPECT_FALSE(X25_WaitFor("", 1));
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
