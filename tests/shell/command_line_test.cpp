// The `tollan` program run from outside, as an integrator or the set-up scripts run it: its config
// command. The headless terminal itself is run by the end-to-end tests.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

TEST(ConfigCommand, AnAbsentSettingExitsOneThenSetIsGotInAnyCaseAndUsageErrorsExit64)
{
    QTemporaryDir home;
    const Outcome absent = Tollan({"config", "get", "Port"}, home.path());
    EXPECT_EQ(std::tuple(absent.status, absent.out, Ini(home)), std::tuple(1, QString(), QString()));
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

    // Help, version and usage errors.
    const Outcome help = Tollan({"--help"});
    EXPECT_EQ(help.status, 0);
    // Every word Cli_Parse takes is in the text the manual page is made from.
    for (const char* option : {"--home DIR", "--home=DIR", "--headless", "--service", "-h, --help", "--version", "config list",
                               "config get", "config set", "Exit status"})
        EXPECT_TRUE(help.out.contains(option)) << option;
    EXPECT_EQ(Tollan({"-h"}).out, help.out);
    EXPECT_TRUE(Tollan({"--version"}).out.startsWith("tollan "));
    EXPECT_EQ(Tollan({"--bogus"}).status, 64);
    EXPECT_EQ(Tollan({"config", "get"}, home.path()).status, 64);
    EXPECT_EQ(Tollan({"config", "frobnicate", "x"}, home.path()).status, 64);
    EXPECT_EQ(Tollan({"--home=" + home.path(), "config", "set", "Port", "1281"}).status, 0);
    EXPECT_TRUE(Ini(home).contains("Port=1281")) << Ini(home).toStdString();
}
