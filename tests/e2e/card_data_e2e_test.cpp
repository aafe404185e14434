// Card data kept only as the card schemes allow, tried on the real terminal: after purchases, a
// cancellation and a telephone authorisation with "Debug" 1, nothing under the home folder holds a
// full card number or track data, before the transaction file is accepted and after, while the file
// on the wire carries the full numbers; an older database comes out of its upgrade as clean; without
// its key the terminal refuses card data and loses nothing; and `tollan keys rotate` stopped
// halfway leaves every number sealed under a key the file still holds.
#include "store/db.h"
#include "support/carddata.h"
#include "support/home.h"
#include "tests/common/card_scan.h"
#include "tests/e2e/suite.h"

#include <QSqlError>

namespace {

const std::string kPanA = "4000001234567899", kPanB = "5500001234567899", kPanC = "4111111111111111";
const std::string kTail = "28121010000012300000";   // each card's track after its "="
const std::vector<std::string> kSecrets{kPanA, kPanB, kPanC, kTail, "=" + kTail.substr(0, 19)};

QStringList Card(const std::string& pan, const char* answer)
{
    return {"--card", QString::fromStdString(pan + "=" + kTail), "--answer", answer};
}

class CardData : public Shop {
protected:
    int Buy(const QString& trans, const QString& amount, const QStringList& card, std::string* seen = nullptr)
    {
        return Register(QStringList{"--workstation", "POS00001", "--trans", trans, "--amount", amount} + card, seen);
    }
    // The stored file's detail lines, each checked for the layout it always had.
    QStringList StoredDetails()
    {
        QStringList details;
        for (const QString& name : QDir(files).entryList({"transfile-*.txt"}, QDir::Files, QDir::Name))
            for (const QString& l : QString::fromStdString(FileText(files + "/" + name)).split("\r\n"))
                if (l.startsWith('2'))
                    details << l;
        static const QRegularExpression layout("^2[0-3]\\d{19}1\\d{11}\\d{6}001\\d{5}A1.{6}[0-3]\\d{6}2812233[0-9-]$");
        for (const QString& l : details)
            EXPECT_TRUE(layout.match(l).hasMatch()) << l.toStdString();
        return details;
    }
    void SendAtTheNextStart()
    {
        StopTerminal();
        Config("SendTransTime1", "* * * * *");
        ASSERT_NO_FATAL_FAILURE(StartTerminal());   // the first tick sends
        ASSERT_TRUE(centre->WaitFor("stored ", 20000)) << centre->out;
        ASSERT_TRUE(centre->WaitFor("EOT", 20000)) << centre->out;
    }
    const QString files = tmp.filePath("files");
};

TEST_F(CardData, NoCardNumberNorTrackRestsInTheHomeFolderWhileTheFileCarriesTheNumbers)
{
    Config("Debug", "1");
    Config("TimeOut\\Auth", "1");
    ASSERT_NO_FATAL_FAILURE(StartCentre({"--store", files, "--rule", "amount=77700 silent"}));
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ASSERT_EQ(Buy("00000001", "12.50", Card(kPanA, "7899")), 0);
    ASSERT_EQ(Buy("00000002", "3.00", Card(kPanB, "7899")), 0);
    std::string seen;
    ASSERT_EQ(Buy("00000003", "777.00", Card(kPanC, "1111") + QStringList{"--answer", "PH1234"}, &seen), 0);
    EXPECT_TRUE(Has(seen, "Kaardi number " + kPanC)) << seen;   // the cashier reads it to the card centre
    ASSERT_EQ(Register({"--workstation", "POS00001", "--trans", "00000004", "--cancel", "2"}), 0);
    EXPECT_EQ(FindCardData(home.path(), kSecrets), QStringList{});
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans WHERE PAN LIKE '______%****%____' AND Track2 = ''"), QStringList{"4"});
    EXPECT_TRUE(Has(FileText(home.filePath("debug.log")), "Send query"));

    ASSERT_NO_FATAL_FAILURE(SendAtTheNextStart());
    EXPECT_EQ(FindCardData(home.path(), kSecrets), QStringList{});
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans WHERE PanSealed IS NULL AND sent"), QStringList{"4"});
    const QStringList details = StoredDetails();
    ASSERT_EQ(details.size(), 4);
    for (const std::string& pan : {kPanA, kPanA, kPanB, kPanC})
        EXPECT_EQ(details.filter(QString::fromStdString("000" + pan)).size(), pan == kPanA ? 2 : 1) << pan;
    EXPECT_TRUE(Has(FileText(home.filePath("trans.log")), "400000******7899"));
}

// A database of the time before: full numbers and whole card texts in clear, two rows unsent.
TEST_F(CardData, AnOlderDatabaseComesOutOfItsUpgradeCleanAndItsRowsAreSentRight)
{
    for (const char* made : {"tollan.mdb", "tollan.mdb-wal", "tollan.mdb-shm"})   // by the shop's `config set`
        QFile::remove(home.filePath(made));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
        db.setDatabaseName(home.filePath("tollan.mdb"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        q.exec("PRAGMA journal_mode = WAL");
        ASSERT_TRUE(q.exec("CREATE TABLE Trans (Type TINYINT, PAN VARCHAR(20), WayOfUse TINYINT, Amount CURRENCY,"
                           " Date INTEGER, Time INTEGER, AuthCode VARCHAR(6), POSCode TINYINT, ExpDate SMALLINT,"
                           " STAN VARCHAR(6), Track2 VARCHAR(50), sent BOOLEAN NOT NULL DEFAULT 0, Toojaam VARCHAR(8),"
                           " Trans VARCHAR(8))")) << q.lastError().text().toStdString();
        const std::pair<std::string, int> rows[] = {{kPanA, 0}, {kPanB, 0}, {kPanC, -1}};
        int n = 0;
        for (const auto& [pan, sent] : rows)
            ASSERT_TRUE(q.exec(QString("INSERT INTO Trans VALUES (0, '%1', 1, 12.5, 20261208, 101500, 'A1B2C3', 1, 2812,"
                                       " '%2', '%1=%3', %4, 'POS00001', '%2')")
                                   .arg(QString::fromStdString(pan)).arg(++n).arg(QString::fromStdString(kTail)).arg(sent)));
    }
    QSqlDatabase::removeDatabase("old");
    ASSERT_FALSE(FindCardData(home.path(), kSecrets).isEmpty());   // the scan sees the old data

    ASSERT_NO_FATAL_FAILURE(StartCentre({"--store", files}));
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    EXPECT_EQ(FindCardData(home.path(), kSecrets), QStringList{});
    ASSERT_NO_FATAL_FAILURE(SendAtTheNextStart());
    const QStringList details = StoredDetails();
    ASSERT_EQ(details.size(), 2);
    EXPECT_TRUE(details[0].contains(QString::fromStdString("000" + kPanA))) << details[0].toStdString();
    EXPECT_TRUE(details[1].contains(QString::fromStdString("000" + kPanB))) << details[1].toStdString();
    EXPECT_TRUE(details[0].endsWith('1'));   // the track's digit, worked out by the upgrade
    EXPECT_EQ(FindCardData(home.path(), kSecrets), QStringList{});
}

// Without its key, or with another, the terminal refuses card data before the card centre hears of
// it, sends no file, reports it once and keeps every row; with its key back, the rows go.
TEST_F(CardData, WithoutItsKeyTheTerminalRefusesCardDataSendsNothingAndLosesNothing)
{
    const QString key = tmp.filePath("keys/card.key");
    terminalArgs = {"--card-key", key};
    Config("SendTransTime1", "* * * * *");
    ASSERT_NO_FATAL_FAILURE(StartCentre({"--store", files}));
    ASSERT_NO_FATAL_FAILURE(StartTerminal());   // the key is made, nothing to send yet
    ASSERT_EQ(Buy("00000001", "12.50", Card(kPanA, "7899")), 0);
    ASSERT_EQ(Buy("00000002", "3.00", Card(kPanB, "7899")), 0);
    StopTerminal();
    ASSERT_TRUE(QFile::rename(key, key + ".away"));

    std::vector<tollan::CardKey> other{tollan::CardKey_New({})};
    std::string why;
    for (const char* state : {"missing", "another key"}) {
        SCOPED_TRACE(state);
        if (std::string(state) == "another key") {
            ASSERT_TRUE(tollan::CardKey_Save(key, other, why)) << why;
        }
        QFile::remove(home.filePath("tollan.err"));
        Pause(300);   // what the card centre said so far reaches us
        centre->Printed("");
        const std::size_t heard = centre->out.size();
        ASSERT_NO_FATAL_FAILURE(StartTerminal());
        std::string seen;
        EXPECT_EQ(Buy("00000003", "1.00", Card(kPanA, "7899"), &seen), 1);
        EXPECT_TRUE(Has(seen, "Kaardiandmete võti puudub")) << seen;
        EXPECT_EQ(Buy("00000004", "1.00", Card(kPanA, "7899")), 1);
        Pause(2000);   // past the first tick, which would have sent
        centre->Printed("");
        EXPECT_EQ(centre->out.find("auth", heard), std::string::npos) << centre->out.substr(heard);
        EXPECT_EQ(centre->out.find("line 1", heard), std::string::npos) << centre->out.substr(heard);
        EXPECT_EQ(QString::fromStdString(FileText(home.filePath("tollan.err"))).count("Kaardiandmete võti puudub"), 1)
            << FileText(home.filePath("tollan.err"));
        StopTerminal();
        EXPECT_FALSE(QFile::exists(key) && std::string(state) == "missing");   // never made anew over the rows
    }
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans WHERE PanSealed IS NOT NULL AND NOT sent"), QStringList{"2"});

    ASSERT_TRUE(QFile::remove(key));
    ASSERT_TRUE(QFile::rename(key + ".away", key));
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    ASSERT_TRUE(centre->WaitFor("stored ", 20000)) << centre->out;
    const QStringList details = StoredDetails();
    ASSERT_EQ(details.size(), 2);
}

// `tollan keys rotate` seals every kept number again under a new key in one transaction: killed
// halfway, every row still opens with a key the file holds; run again, it ends with one key.
TEST_F(CardData, AKeyRotationKilledHalfwayLosesNothingAndTheNextOneFinishes)
{
    const QString key = tmp.filePath("keys/card.key");
    constexpr int kRows = 40000;
    {
        tollan::Home_Set(home.path());
        std::string why;
        ASSERT_TRUE(tollan::CardKey_Open({key, true, "--card-key"}, true, nullptr, why)) << why;
        ASSERT_TRUE(tollan::Db_Open());
        ASSERT_TRUE(tollan::Db_BeginTrans());
        for (int i = 0; i < kRows; ++i) {
            tollan::TransRecord t;
            t.PAN = "40000012" + QString::number(i).rightJustified(8, '0').toStdString();
            t.Amount = 10000;
            t.STAN = std::to_string(i + 2);
            t.Toojaam = "POS00001";
            t.Trans = std::to_string(i);
            ASSERT_TRUE(tollan::Db_StoreTrans(t));
        }
        ASSERT_TRUE(tollan::Db_CommitTrans());
        tollan::Db_Database().close();
    }
    auto rotate = [&](QProcess& p) {
        p.start(TOLLAN_EXE, {"--home", home.path(), "--card-key", key, "keys", "rotate"});
        return p.waitForStarted(5000);
    };
    auto keyIds = [&] {
        std::string why;
        const auto keys = tollan::CardKey_Parse(FileText(key), why);
        QStringList ids;
        for (const auto& k : keys.value_or(std::vector<tollan::CardKey>{}))
            ids << QString::number(k.id);
        return ids;
    };

    // The terminal running: the rotation waits for it to stop.
    terminalArgs = {"--card-key", key};
    ASSERT_NO_FATAL_FAILURE(StartTerminal());
    QProcess refused;
    ASSERT_TRUE(rotate(refused));
    ASSERT_TRUE(refused.waitForFinished(10000));
    EXPECT_EQ(refused.exitCode(), 2) << refused.readAllStandardError().toStdString();
    StopTerminal();

    QProcess halfway;
    halfway.setReadChannel(QProcess::StandardError);   // where its progress goes
    ASSERT_TRUE(rotate(halfway));
    std::string progress;
    while (!Has(progress, " of ") && halfway.waitForReadyRead(20000))
        progress += halfway.readAllStandardError().toStdString();
    ASSERT_TRUE(Has(progress, " of ")) << progress;
    ::kill(pid_t(halfway.processId()), SIGKILL);
    halfway.waitForFinished(5000);
    EXPECT_EQ(keyIds(), (QStringList{"1", "2"}));
    EXPECT_EQ(Rows("SELECT KeyId, count(*) FROM Trans GROUP BY KeyId"), QStringList{"1|" + QString::number(kRows)});

    QProcess again;
    ASSERT_TRUE(rotate(again));
    ASSERT_TRUE(again.waitForFinished(60000));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().toStdString();
    EXPECT_EQ(keyIds(), QStringList{"3"});
    EXPECT_EQ(Rows("SELECT KeyId, count(*) FROM Trans GROUP BY KeyId"), QStringList{"3|" + QString::number(kRows)});
    EXPECT_EQ(Rows("SELECT count(*) FROM Log WHERE Message LIKE 'card key 3 in force%'"), QStringList{"1"});
    EXPECT_EQ(FindCardData(home.path(), {"4000001200000000", "4000001200039999"}), QStringList{});
}

} // namespace
