// The `tollan` program run from outside, as an integrator or the set-up scripts run it: its config
// command. The headless terminal itself is run by the end-to-end tests.

#include "tests/common/wrong_settings.h"

#include "tests/shell/suite.h"
#include <QProcess>

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

TEST(ConfigCommand, AnUnsetSettingGivesItsDefaultThenSetIsGotInAnyCaseAndUsageErrorsExit64)
{
    QTemporaryDir home;
    const Outcome absent = Tollan({"config", "get", "Port"}, home.path());
    EXPECT_EQ(std::tuple(absent.status, absent.out, Ini(home)), std::tuple(0, QString("1280\n"), QString()));
    const Outcome unknown = Tollan({"config", "get", "Prot"}, home.path());
    EXPECT_EQ(std::tuple(unknown.status, unknown.out), std::tuple(1, QString()));
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

namespace {

using tollan::test::kWrongSettings;

QString U8(const char* utf8) { return QString::fromUtf8(utf8); }

} // namespace

TEST(ConfigCommand, EachWrongValueIsRefusedWithItsReasonAndNothingIsStoredButWithForceThenCheckNamesIt)
{
    QTemporaryDir home;
    for (const auto& c : kWrongSettings) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        const Outcome refused = Tollan({"config", "set", U8(c.key), U8(c.value)}, home.path());
        EXPECT_EQ(refused.status, 64);
        EXPECT_TRUE(refused.err.contains(U8(c.english))) << refused.err.toStdString();
        EXPECT_TRUE(refused.err.contains("nothing was changed")) << refused.err.toStdString();
        EXPECT_FALSE(Ini(home).contains(U8(c.value))) << Ini(home).toStdString();
    }
    // --force stores it all the same, and says so; the check names it with its reason, exit 1.
    const Outcome forced = Tollan({"config", "set", "--force", "Port", "abc"}, home.path());
    EXPECT_EQ(forced.status, 0);
    EXPECT_TRUE(forced.err.contains("not a whole number")) << forced.err.toStdString();
    const Outcome check = Tollan({"config", "check"}, home.path());
    EXPECT_EQ(check.status, 1);
    EXPECT_TRUE(check.out.contains("Port \"abc\": not a whole number\n")) << check.out.toStdString();
    // The card centre's addresses are needed: the check says they are missing.
    EXPECT_TRUE(check.out.contains("Tollan_Auth_Address: missing")) << check.out.toStdString();
    for (const char* key : {"Tollan_Auth_Address", "Tollan_Trans_Address"})
        EXPECT_EQ(Tollan({"config", "set", key, "127.0.0.1:9100"}, home.path()).status, 0);
    EXPECT_EQ(Tollan({"config", "unset", "Port"}, home.path()).status, 0);
    const Outcome sound = Tollan({"config", "check"}, home.path());
    EXPECT_EQ(std::tuple(sound.status, sound.out), std::tuple(0, QString("settings: sound\n")));
}

TEST(ConfigCommand, AnUnknownNameOnlyWithForceAndListAllShowsEveryDefaultAndUnsetRemoves)
{
    QTemporaryDir home;
    const Outcome misspelt = Tollan({"config", "set", "Prot", "1290"}, home.path());
    EXPECT_EQ(misspelt.status, 64);
    EXPECT_TRUE(misspelt.err.contains("no such setting Prot (did you mean Port?)")) << misspelt.err.toStdString();
    EXPECT_EQ(Ini(home), QString());
    EXPECT_EQ(Tollan({"config", "set", "--force", "Prot", "1290"}, home.path()).status, 0);
    EXPECT_TRUE(Tollan({"config", "check"}, home.path()).out.contains("Prot \"1290\": no such setting; the terminal does not read it (Port?)"));
    // Numbered and per-register names are known by their family.
    EXPECT_EQ(Tollan({"config", "set", "SendTransTime7", "* * * 22 30"}, home.path()).status, 0);
    EXPECT_EQ(Tollan({"config", "set", "POS003\\Tegevusala", "5999"}, home.path()).status, 0);
    EXPECT_EQ(Tollan({"config", "set", "POS003\\Tegevusala", "59"}, home.path()).status, 64);

    const Outcome all = Tollan({"config", "list", "--all"}, home.path());
    EXPECT_EQ(all.status, 0);
    EXPECT_TRUE(all.out.contains("Prot=1290\n"));
    EXPECT_TRUE(all.out.contains("Port=1280  (default)\n")) << all.out.toStdString();
    EXPECT_TRUE(all.out.contains("X25\\Settings=9600,n,8,1  (default)\n"));
    EXPECT_TRUE(all.out.contains("POS003\\Tegevusala=5999\n"));
    EXPECT_FALSE(Tollan({"config", "list"}, home.path()).out.contains("(default)"));

    EXPECT_EQ(Tollan({"config", "unset", "Prot"}, home.path()).status, 0);
    EXPECT_EQ(Tollan({"config", "unset", "Prot"}, home.path()).status, 0);   // absent already: nothing to do
    EXPECT_FALSE(Ini(home).contains("Prot")) << Ini(home).toStdString();
    EXPECT_TRUE(Ini(home).contains("SendTransTime7"));
}
