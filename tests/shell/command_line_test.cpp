// The `tollan` program run from outside, as an integrator or the set-up scripts run it: its config
// command, and `tollan --headless` that listens, answers a register's card query and ends cleanly
// on SIGTERM with its shutdown done.
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

struct Outcome {
    int status;
    QString out, err;
};

Outcome Tollan(const QStringList& arguments, const QString& home = {})
{
    QProcess p;
    QStringList a;
    if (!home.isEmpty()) a << "--home" << home;
    p.start(TOLLAN_EXE, a + arguments);
    p.waitForFinished(20000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

QString Ini(const QTemporaryDir& d)
{
    QFile f(d.filePath("registry.ini"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

TEST(ConfigCommand, SetThenGetInAnyCaseUnderTheSubkeySection)
{
    QTemporaryDir home;
    EXPECT_EQ(Tollan({"config", "set", "X25\\Number", "5551234"}, home.path()).status, 0);
    const Outcome got = Tollan({"config", "get", "x25\\NUMBER"}, home.path());
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "5551234\n");
    EXPECT_TRUE(Ini(home).contains("[SOFTWARE\\Valdrin\\Tollan\\X25]\nNumber=5551234\n")) << Ini(home).toStdString();

    EXPECT_EQ(Tollan({"config", "set", "FirmaT\u00e4nav", "P\u00e4rnu mnt 5"}, home.path()).status, 0);
    const Outcome list = Tollan({"config", "list"}, home.path());
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(list.out.contains("X25\\Number=5551234\n"));
    EXPECT_TRUE(list.out.contains("FirmaT\u00e4nav=P\u00e4rnu mnt 5\n"));
}

TEST(ConfigCommand, AnAbsentSettingExitsOneAndWritesNothing)
{
    QTemporaryDir home;
    const Outcome got = Tollan({"config", "get", "Port"}, home.path());
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(Ini(home), "");
}

TEST(ConfigCommand, HelpVersionAndUsageErrors)
{
    const Outcome help = Tollan({"--help"});
    EXPECT_EQ(help.status, 0);
    // Every word Cli_Parse takes is in the text the manual page is made from.
    for (const char* option : {"--home DIR", "--home=DIR", "--headless", "-h, --help", "--version", "config list",
                               "config get", "config set", "Exit status"})
        EXPECT_TRUE(help.out.contains(option)) << option;
    EXPECT_EQ(Tollan({"-h"}).out, help.out);
    EXPECT_TRUE(Tollan({"--version"}).out.startsWith("tollan "));
    EXPECT_EQ(Tollan({"--bogus"}).status, 64);
    QTemporaryDir home;
    EXPECT_EQ(Tollan({"config", "get"}, home.path()).status, 64);
    EXPECT_EQ(Tollan({"config", "frobnicate", "x"}, home.path()).status, 64);
    EXPECT_EQ(Tollan({"--home=" + home.path(), "config", "set", "Port", "1281"}).status, 0);
    EXPECT_TRUE(Ini(home).contains("Port=1281")) << Ini(home).toStdString();
}

namespace {

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
    ASSERT_EQ(Tollan({"config", "set", "Port", QString::number(port)}, home.path()).status, 0);
    // Shutdown writes the position back as a plain number.
    ASSERT_EQ(Tollan({"config", "set", "fMain.Left", " 1500"}, home.path()).status, 0);

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
    EXPECT_TRUE(Ini(home).contains("Left=1500\n"));
    EXPECT_TRUE(QFile::exists(home.filePath("tollan.mdb")));
}

} // namespace
