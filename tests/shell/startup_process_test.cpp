// The real `tollan --headless` from outside: it starts, listens on the configured port, answers a
// register's card query, and ends cleanly on SIGTERM with its shutdown done.
#include "support/clock.h"
#include "support/text.h"
#include "workstation/packet.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;

namespace {

int Config(const QString& home, const QStringList& arguments)
{
    QProcess p;
    p.start(TOLLAN_EXE, QStringList{"--home", home, "config"} + arguments);
    p.waitForFinished(20000);
    return p.exitCode();
}

quint16 FreePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

TEST(HeadlessTerminal, ListensAnswersACardQueryAndEndsOnSigterm)
{
    QTemporaryDir home;
    const quint16 port = FreePort();
    ASSERT_EQ(Config(home.path(), {"set", "Port", QString::number(port)}), 0);
    // Shutdown writes the position back as a plain number.
    ASSERT_EQ(Config(home.path(), {"set", "fMain.Left", " 1500"}), 0);

    QProcess terminal;
    terminal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    terminal.start(TOLLAN_EXE, {"--headless", "--home", home.path()});
    ASSERT_TRUE(terminal.waitForStarted(10000));

    QTcpSocket reg;
    const bool connected = Clock_WaitUntil([&] {
        if (reg.state() == QAbstractSocket::ConnectedState) return true;
        if (reg.state() == QAbstractSocket::UnconnectedState) reg.connectToHost(QHostAddress::LocalHost, port);
        return false;
    }, 15000);
    ASSERT_TRUE(connected);

    WorkstationPacket q;
    q.Workstation = "POS00003";
    q.WorkstationTrans = "00000001";
    q.AnswerType = wsCardQuery;
    q.AnswerData = Str_Align("4761739001010119%", 25, 1) + Str_Align("", 10, 1);
    const std::string bytes = Str_Replace(WS_EncodePacket(q), "%", "%25");
    reg.write(bytes.data(), qint64(bytes.size()));

    std::string in;
    WorkstationPacket answer;
    const bool answered = Clock_WaitUntil([&] {
        in += reg.readAll().toStdString();
        return WS_DecodePacket(in, answer) > 0;
    }, 15000);
    ASSERT_TRUE(answered);
    EXPECT_EQ(answer.RequestType, wsCardInfo);
    EXPECT_EQ(answer.Workstation, "POS00003");
    EXPECT_EQ(answer.RequestData.substr(0, 17), "4761739001010119%");

    terminal.terminate();  // SIGTERM
    ASSERT_TRUE(terminal.waitForFinished(10000));
    EXPECT_EQ(terminal.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(terminal.exitCode(), 0);
    QFile ini(home.filePath("registry.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("Left=1500\n"));
    EXPECT_TRUE(QFile::exists(home.filePath("tollan.mdb")));
}

} // namespace
