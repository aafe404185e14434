// What the end of the terminal's life at the wrong moment must not cost: the real terminal, killed
// or stopped in the middle of a transaction file or of a cancellation, a disk that fills as the
// card centre's verdict arrives, the settings' lock held across a send time, a settings file the
// terminal cannot read, and a second terminal on the same home folder. The card centre remembers
// what it decided and accepted (its ledger and store), as a real one does across our restarts.
#include "tests/common/registry_lock.h"
#include "tests/robustness/suite.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>

#include <unistd.h>

namespace {

class Restarts : public Shop {
protected:
    void StartCentre(const QStringList& extra = {})
    {
        Shop::StartCentre(QStringList{"--ledger", ledger, "--store", files} + extra);
    }
    int Buy(const QString& trans, const QString& amount = "1.00")
    {
        return Register(QStringList{"--workstation", "POS00001", "--trans", trans, "--amount", amount} + kCard);
    }
    // The files the card centre stored, each as its lines.
    std::vector<QStringList> Stored() const
    {
        std::vector<QStringList> stored;
        for (const QString& name : QDir(files).entryList({"transfile-*.txt"}, QDir::Files, QDir::Name)) {
            QStringList lines = QString::fromStdString(FileText(files + "/" + name)).split("\r\n");
            lines.removeAll("");
            stored.push_back(lines);
        }
        return stored;
    }
    // The ledger's "file" events, each with its status and whether it was a repeat.
    QStringList FileVerdicts() const
    {
        QStringList verdicts;
        for (const QString& line : QString::fromStdString(FileText(ledger)).split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line.toUtf8()).object();
            if (e["event"].toString() == "file")
                verdicts << QString("%1%2").arg(e["status"].toInt()).arg(e["repeat"].toBool() ? " repeat" : "");
        }
        return verdicts;
    }
    // Every detail line the card centre stored, and in how many stored files.
    std::map<QString, int> DetailsStored() const
    {
        std::map<QString, int> details;
        for (const QStringList& f : Stored())
            for (const QString& l : f)
                if (l.startsWith('2'))
                    ++details[l];
        return details;
    }
    QByteArray Hash(const QString& path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
    }
    // Waits until the card centre prints `text` past `from` in its output.
    bool WaitForAfter(const std::string& text, std::size_t from, int ms = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (centre->out.find(text, from) == std::string::npos) {
            if (t.elapsed() > ms)
                return false;
            centre->process.waitForReadyRead(100);
            centre->Printed("");
        }
        return true;
    }
    const QString ledger = tmp.filePath("ledger.jsonl");
    const QString files = tmp.filePath("files");
};

// The settings' lock held across a send time: no number is taken and no file goes. Then the card
// centre's verdict arrives and it stays silent after the terminal's ACK: killed there, and stopped
// there the next time, the terminal sends each purchase in one file only, each file under a number
// of its own.
TEST_F(Restarts, EachPurchaseSettlesInOneFileAndEachFileHasANumberOfItsOwnWhateverEndsTheTerminal)
{
    ASSERT_NO_FATAL_FAILURE(StartCentre({"--no-enq"}));
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    for (const char* trans : {"00000001", "00000002", "00000003"})
        ASSERT_EQ(Buy(trans), 0);
    StopTerminal();

    // Every minute from the next start on, and the first tick sends at once: the lock is held
    // across that start.
    Config("SendTransTime1", "* * * * *");
    QProcess holder;
    HoldTheRegistryLock(holder, home.path(), "sleep 20");
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ASSERT_TRUE(holder.waitForFinished(30000));
    EXPECT_FALSE(centre->Printed("line 1")) << centre->out;
    EXPECT_FALSE(Has(FileText(home.filePath("registry.ini")), "NextTransFileNr="));   // never counted: the first file is still number 2

    ASSERT_TRUE(centre->WaitFor("ENQ -> verdict 1", 75000)) << centre->out;
    ASSERT_TRUE(centre->WaitFor("\nACK\n", 5000)) << centre->out;
    Pause(1000);
    StopTerminal(SIGKILL);
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ASSERT_EQ(Buy("00000004"), 0);

    ASSERT_TRUE(centre->WaitFor("ENQ -> verdict 1 Fail vastu võetud (5 lines)", 75000)) << centre->out;
    ASSERT_TRUE(WaitForAfter("\nACK\n", centre->out.rfind("(5 lines)")));
    QElapsedTimer stopping;
    stopping.start();
    StopTerminal(SIGTERM);   // exits with 0 (checked there) ...
    EXPECT_LT(stopping.elapsed(), 10000);   // ... without waiting out the four ENQs it expects

    const std::vector<QStringList> stored = Stored();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0][0].mid(36, 5), "00002");
    EXPECT_EQ(stored[1][0].mid(36, 5), "00003");
    EXPECT_EQ(stored[0].filter(QRegularExpression("^2")).size(), 3);
    EXPECT_EQ(stored[1].filter(QRegularExpression("^2")).size(), 1);
    for (const auto& [line, times] : DetailsStored())
        EXPECT_EQ(times, 1) << line.toStdString();
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans WHERE sent = 0"), QStringList{"0"});
    // trans.log has both files, the first written after the restart, the kill having come before.
    const QStringList log = Lines("trans.log");
    EXPECT_EQ(log.filter("Server said").size(), 2);
    EXPECT_EQ(log.filter(QRegularExpression("^\\d{6} \\d{6} 0000[2-5] 001 ")).size(), 4) << log.join('\n').toStdString();
}

// The disk fills as the card centre's verdict arrives: the verdict cannot be recorded. Stopped,
// given room and started again, the terminal sends the same file under the same number, which the
// card centre takes for the repeat it is.
TEST_F(Restarts, AVerdictTheFullDiskCouldNotRecordIsAskedForAgainWithTheSameFile)
{
    if (!MountHome())
        GTEST_SKIP() << "a tmpfs cannot be mounted for the home folder: the test needs root and mount rights";
    Config("SendTransTime1", "* * * * *");
    ASSERT_NO_FATAL_FAILURE(StartCentre({"--line-delay", "400"}));
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ASSERT_EQ(Buy("00000001", "7.25"), 0);
    ASSERT_TRUE(centre->WaitFor("line 3 ACK", 75000)) << centre->out;
    FillDisk();
    ASSERT_TRUE(centre->WaitFor("EOT", 10000)) << centre->out;
    const std::string reported = TerminalErr() + FileText(home.filePath("tollan.err"));
    EXPECT_TRUE(Has(reported, "otsust ei õnnestunud salvestada")) << reported;
    StopTerminal();

    FreeDisk();
    ASSERT_NO_FATAL_FAILURE(StartTerminal());   // it does not wait for the next send time
    ASSERT_TRUE(centre->WaitFor("a file number accepted before", 20000)) << centre->out;
    ASSERT_TRUE(WaitForAfter("EOT", centre->out.rfind("accepted before"), 10000)) << centre->out;
    StopTerminal();
    EXPECT_EQ(FileVerdicts(), (QStringList{"1", "1 repeat"}));
    EXPECT_EQ(Stored().size(), 1u);
    EXPECT_EQ(Rows("SELECT sent FROM Trans"), QStringList{"-1"});
    EXPECT_EQ(Lines("trans.log").filter("Server said").size(), 1);
    EXPECT_EQ(Setting("NextTransFileNr"), "2");
}

// Killed between the card centre's approval of a reversal and the cancellation's row, the terminal
// finishes the cancellation at its next start with the repeat, and stores what the card centre says.
TEST_F(Restarts, AReversalApprovedAsTheTerminalWasKilledIsStoredAtTheNextStart)
{
    ASSERT_NO_FATAL_FAILURE(StartCentre({"--rule", "type=400 delay 3000 auth REV001"}));
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ASSERT_EQ(Buy("00000001"), 0);   // STAN 2
    auto cancel = StartRegister({"--workstation", "POS00001", "--trans", "00000002", "--cancel", "2"});
    ASSERT_TRUE(centre->WaitFor("auth 0400", 20000)) << centre->out;
    StopTerminal(SIGKILL);
    EXPECT_EQ(cancel->Exit(20000), 4);
    EXPECT_EQ(Rows("SELECT Pending FROM Trans WHERE Type = 1"), QStringList{"-1"});

    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ASSERT_TRUE(centre->WaitFor("auth 0401", 20000)) << centre->out;
    QStringList row;
    for (int i = 0; i < 100 && row != QStringList{"0|REV001|2"}; ++i) {
        Pause(100);
        row = Rows("SELECT Pending || '|' || AuthCode || '|' || OrigSTAN FROM Trans WHERE Type = 1");
    }
    EXPECT_EQ(row, QStringList{"0|REV001|2"});
    // Reversed once: asked again from its register, it is refused before the card centre hears.
    std::string seen;
    EXPECT_EQ(Register({"--workstation", "POS00001", "--trans", "00000003", "--cancel", "2"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "Tehing on juba tühistatud!")) << seen;
}

// A settings file the terminal cannot read is never taken for an empty one: the terminal does not
// start, `config` refuses, and the file stays byte for byte as it was.
TEST_F(Restarts, ASettingsFileThatCannotBeReadStopsTheTerminalAndIsNeverWrittenOver)
{
    const QString ini = home.filePath("registry.ini");
    auto refused = [&](const QStringList& args, int status, const char* why) {
        QProcess p;
        if (runAs.isEmpty())
            p.start(TOLLAN_EXE, QStringList{"--home", home.path()} + args);
        else
            p.start(runAs.first(), runAs.mid(1) + QStringList{TOLLAN_EXE, "--home", home.path()} + args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), status) << args.join(' ').toStdString();
        const std::string err = p.readAllStandardError().toStdString();
        EXPECT_TRUE(Has(err, ini.toStdString()) && Has(err, why)) << err;
    };
    // Bytes that are no settings file (a disk error, a copy gone wrong).
    const QByteArray before = Hash(ini);
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("\x01\xff\xfe garbage\n");
    }
    const QByteArray garbled = Hash(ini);
    ASSERT_NE(garbled, before);
    refused({"--headless"}, 3, "not UTF-8");
    refused({"config", "set", "Port", "1"}, 3, "not UTF-8");
    refused({"config", "get", "Port"}, 3, "not UTF-8");
    EXPECT_EQ(Hash(ini), garbled);

    if (::geteuid() != 0)
        GTEST_SKIP() << "a file unreadable for the terminal's user needs another user: run as root";
    // The file as `sudo tollan config set` left it before: root's alone, the terminal another user's.
    ASSERT_TRUE(QFile::remove(ini));
    ASSERT_NO_FATAL_FAILURE(SetUp());   // the shop's settings again
    runAs = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    ASSERT_TRUE(QDir().mkpath(tmp.filePath("config")));   // where that user's card key goes
    ASSERT_EQ(::chown(tmp.filePath("config").toLocal8Bit().constData(), 65534, 65534), 0);
    ASSERT_TRUE(QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ExeGroup | QFile::ExeOther));
    for (const QString& name : QDir(home.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotDot))
        ASSERT_EQ(::chown(home.filePath(name).toLocal8Bit().constData(), 65534, 65534), 0) << name.toStdString();
    ASSERT_NO_FATAL_FAILURE(StartCentre());
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ASSERT_EQ(Buy("00000001"), 0);
    // `sudo tollan config set` (root, no -u) hands the file back to its owner.
    ASSERT_NO_FATAL_FAILURE(Config("FirmaNimi", "Pood"));
    EXPECT_EQ(QFileInfo(ini).ownerId(), 65534u);
    ASSERT_EQ(Buy("00000002"), 0);
    const QString next = Setting("NextNumber");
    ASSERT_EQ(::chown(ini.toLocal8Bit().constData(), 0, 0), 0);
    const QByteArray roots = Hash(ini);
    EXPECT_EQ(Buy("00000003"), 1);   // refused: its trace number cannot be counted
    EXPECT_EQ(Hash(ini), roots);
    EXPECT_EQ(Setting("NextNumber"), next);   // as root: the counter never went back
    StopTerminal();
    refused({"--headless"}, 3, "Permission denied");
    EXPECT_EQ(Hash(ini), roots);
    runAs.clear();
}

// One terminal per home folder: a second start says who holds it and ends; `config` still works.
TEST_F(Restarts, ASecondTerminalOnTheSameHomeFolderSaysWhoHoldsItAndEnds)
{
    ASSERT_NO_FATAL_FAILURE(StartCentre());
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    QProcess second;
    second.start(TOLLAN_EXE, {"--headless", "--home", home.path()});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 2);
    const std::string err = second.readAllStandardError().toStdString();
    EXPECT_TRUE(Has(err, "in use by process " + std::to_string(terminal->process.processId()))) << err;
    ASSERT_NO_FATAL_FAILURE(Config("FirmaNimi", "Pood"));
    EXPECT_EQ(Buy("00000001"), 0);
}

} // namespace
