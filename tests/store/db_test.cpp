#include "store/db.h"
#include "tests/common/records.h"
#include "tests/common/test_home.h"
#include "support/errors.h"
#include "support/home.h"

#include <gtest/gtest.h>

#include <QObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>
#include <tuple>
#include <unistd.h>

using namespace tollan;

namespace {

// Looks at the file through a connection of its own, never through the store's code.
struct Peek {
    QString name = "peek" + QString::number(++counter);
    explicit Peek(const QString& path)
    {
        auto db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path);
        db.open();
    }
    ~Peek()
    {
        QSqlDatabase::database(name).close();
        QSqlDatabase::removeDatabase(name);
    }
    QStringList column(const QString& sql, int col = 0) const
    {
        QSqlQuery q(QSqlDatabase::database(name));
        QStringList out;
        for (bool ok = q.exec(sql); ok && q.next();)
            out << q.value(col).toString();
        return out;
    }
    QString one(const QString& sql) const { return column(sql).value(0); }
    void exec(const QString& sql) const { column(sql); }
    static inline int counter = 0;
};

void closeStore()
{
    QSqlDatabase::database("tollan", false).close();
    QSqlDatabase::removeDatabase("tollan");
}

class Store : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path;
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        test::UseTestHome(dir.path());
        path = dir.filePath("tollan.mdb");
    }
    void TearDown() override
    {
        if (Db_InTransaction())
            Db_Rollback();
        closeStore();
    }
};

// The tables' fields and indexes as an older file gets them: OldDatabaseGetsMissingFieldsAndIndexesAndKeepsItsRows.
TEST_F(Store, FirstStartMakesAFileForTheOwnerAloneSyncedInFullThatASecondStartLeavesAsItIs)
{
    ASSERT_TRUE(Db_Open());
    EXPECT_TRUE(Db_Writable());
    // Card numbers and track data: the owner alone reads them.
    EXPECT_EQ(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther), 0);
    QSqlQuery sync(Db_Database());
    sync.exec("PRAGMA synchronous");
    ASSERT_TRUE(sync.next());
    EXPECT_EQ(sync.value(0).toInt(), 2);  // FULL
    // A second start finds everything in place and changes nothing.
    EXPECT_TRUE(Db_Open());
}

// A field or index that cannot be made is reported with what was tried, and the table stays.
TEST_F(Store, AFieldOrIndexThatCannotBeMadeIsReportedWithItsDefinition)
{
    ASSERT_TRUE(Db_Open());
    DbTableDef def = Db_TableDef(Db_Database(), "Trans");
    struct Row { std::function<bool()> ensure; const char* message; const char* details; } rows[] = {
        {[&] { return Db_EnsureField(def, "PAN", dbLong, 0); }, "viga uue v\xE4lja lisamisel",
         "TableDef='Trans', field='PAN',4,0"},
        {[&] { return Db_EnsureIndex(def, "iSTAN", "+PAN", 0); }, "viga uue indeksi lisamisel",
         "TableDef='Trans', index='iSTAN','+PAN',0"},
        {[&] { return Db_EnsureIndex(def, "iKey", "+STAN", dbIndexPrimary); }, "viga uue indeksi lisamisel",
         "TableDef='Trans', index='iKey','+STAN',1"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.details);
        Err_Clear();
        EXPECT_FALSE(r.ensure());
        const ErrorRecord& e = Err_Record(Err_Index());
        EXPECT_EQ(e.message, r.message);
        EXPECT_EQ(e.details, r.details);
        EXPECT_EQ(e.flags, 16);
        EXPECT_FALSE(e.description.empty());
    }
    EXPECT_TRUE(Db_FieldMatches(def, "PAN", dbText, 20));
    EXPECT_TRUE(Db_IndexMatches(def, "iSTAN", "+STAN", 0));
}

TEST_F(Store, OldDatabaseGetsMissingFieldsAndIndexesAndKeepsItsRows)
{
    {
        Peek p(path);
        p.exec("CREATE TABLE Trans (Type TINYINT, PAN VARCHAR(20), Amount CURRENCY, Toojaam VARCHAR(8), Trans VARCHAR(8))");
        p.exec("CREATE INDEX iSTAN ON Trans (PAN)");   // same name, other keys: left as it is
        p.exec("INSERT INTO Trans VALUES (0, '4000001234567899', 10.5, 'POS001', '17')");
        p.exec("CREATE TABLE Log (Date DATETIME, Message VARCHAR(100))");
        p.exec("INSERT INTO Log VALUES ('2026-01-01 10:00:00', 'vana')");
    }
    ASSERT_TRUE(Db_Open());
    Peek p(path);
    EXPECT_EQ(p.column("PRAGMA table_info(Trans)", 1).size(), 20);
    EXPECT_TRUE(p.column("PRAGMA table_info(Log)", 1).contains("Object"));
    EXPECT_EQ(p.one("SELECT PAN || '/' || Amount || '/' || sent FROM Trans"), "4000001234567899/10.5/0");
    EXPECT_EQ(p.one("SELECT Message FROM Log"), "vana");
    EXPECT_EQ(p.column("SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='Trans'").size(), 6);
    EXPECT_EQ(p.column("PRAGMA index_info(iSTAN)", 2), QStringList({"PAN"}));
    DbTableDef def = Db_TableDef(Db_Database(), "Trans");
    EXPECT_FALSE(Db_IndexMatches(def, "iSTAN", "+STAN", 0));
    EXPECT_TRUE(Db_IndexMatches(def, "iToojaamTrans", "+Toojaam;+Trans", dbIndexUnique));
    EXPECT_FALSE(Db_IndexMatches(def, "iToojaamTrans", "+Toojaam;+Trans", 0));
    EXPECT_TRUE(Db_FieldMatches(def, "PAN", dbText, 20));
    EXPECT_TRUE(Db_FieldMatches(def, "PAN", dbText, 0));
    EXPECT_FALSE(Db_FieldMatches(def, "PAN", dbText, 19));
    EXPECT_FALSE(Db_FieldMatches(def, "PAN", dbLong, 0));
    EXPECT_FALSE(Db_FieldMatches(def, "Nothing", dbLong, 0));
    // A table not made yet is matched against what its definition holds so far.
    DbTableDef fresh = Db_TableDef(Db_Database(), "Fresh");
    ASSERT_TRUE(Db_EnsureField(fresh, "A", dbLong, 0) && Db_EnsureIndex(fresh, "iA", "+A", 0));
    EXPECT_TRUE(Db_IndexMatches(fresh, "iA", "+A", 0));
    EXPECT_FALSE(Db_IndexMatches(fresh, "iB", "+A", 0));
    EXPECT_TRUE(Db_AppendTable(fresh));   // made in one step, then read from the file
    EXPECT_TRUE(Db_IndexMatches(fresh, "iA", "+A", 0));
}

// The card number is stored masked with the full one sealed beside it, the track as the one digit
// the file needs: the full number comes back only through the card key.
TEST_F(Store, StoredRowReadsBackAsPeopleReadItAndTheSameWorkstationNumberIsRefused)
{
    ASSERT_TRUE(Db_Open());
    TransRecord t = test::SampleTrans("POS001", "17", "4000001234567899", 123450);  // 12.345
    t.AuthCode = "\xF5\xE4";  // õä
    ASSERT_TRUE(Db_StoreTrans(t));
    Peek p(path);
    EXPECT_EQ(p.one("SELECT Amount || '|' || sent || '|' || AuthCode || '|' || Date || '|' || PAN || '|' || Track2 || '|'"
                    " || Track2Digit FROM Trans"),
              QString::fromUtf8("12.345|0|õä|20261206|400000******7899||1"));
    EXPECT_FALSE(p.one("SELECT PanSealed FROM Trans").contains("1234567899"));
    const DbStatus again = Db_StoreTrans(t);
    EXPECT_FALSE(again);
    EXPECT_NE(again.description.find("UNIQUE"), std::string::npos) << again.description;
    t.Trans = "18";
    EXPECT_TRUE(Db_StoreTrans(t));

    TransSet set;
    ASSERT_TRUE(set.open("iToojaamTrans"));
    ASSERT_TRUE(set.seek("=", {"POS001", "17"}));
    EXPECT_EQ(set.record().Amount, 123450);
    EXPECT_EQ(set.record().AuthCode, "\xF5\xE4");
    EXPECT_EQ(set.record().Track2, "");
    EXPECT_EQ(set.record().Track2Digit, 1);
    EXPECT_EQ(Db_CardNumber(set.record()), "4000001234567899");
    // Another key, or the sealed number moved to another masked number, opens nothing.
    TransRecord moved = set.record();
    moved.PAN = "400000******7898";
    EXPECT_EQ(Db_CardNumber(moved), std::nullopt);
    const std::vector<CardKey> keys = CardKey_Keys();
    CardKey_Use({CardKey_New(keys)});
    EXPECT_EQ(Db_CardNumber(set.record()), std::nullopt);
    CardKey_Use(keys);
    EXPECT_EQ(set.record().ExpDate, 2812);
    EXPECT_FALSE(set.sent());
    EXPECT_FALSE(set.seek("=", {"POS001", "19"}));
    EXPECT_TRUE(set.noMatch());
    EXPECT_TRUE(set.eof());
    EXPECT_FALSE(set.open("iNothing"));
}

TEST_F(Store, AfterAnotherOpeningRowsGoToTheFileOpenedNow)
{
    // The insert and the look-up are prepared once for each opening: one prepared on the old file
    // must neither write into it nor answer for it.
    ASSERT_TRUE(Db_Open());
    ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", "1", "4000001234567899", 10000)));
    EXPECT_TRUE(Db_TransExists("POS001", "1"));
    closeStore();
    QTemporaryDir other;
    Home_Set(other.path());
    ASSERT_TRUE(Db_Open());
    EXPECT_FALSE(Db_TransExists("POS001", "1"));
    ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", "2", "4000001234567899", 20000)));
    EXPECT_TRUE(Db_TransExists("POS001", "2"));
    EXPECT_EQ(Peek(path).one("SELECT group_concat(Trans) FROM Trans"), "1");
    EXPECT_EQ(Peek(other.filePath("tollan.mdb")).one("SELECT group_concat(Trans) FROM Trans"), "2");
    // Closed and opened again on the same file: the statements are prepared anew and still work.
    closeStore();
    ASSERT_TRUE(Db_Open());
    ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", "3", "4000001234567899", 30000)));
    EXPECT_TRUE(Db_TransExists("POS001", "2"));
    EXPECT_FALSE(Db_StoreTrans(test::SampleTrans("POS001", "3", "4000001234567899", 30000)));
    closeStore();
}

TEST_F(Store, CurrencyKeepsEveryTenThousandth)
{
    ASSERT_TRUE(Db_Open());
    const std::int64_t amounts[] = {0, 1, 9999, 10000, 100000, -55000, 123456789012345, -1};
    int n = 0;
    for (std::int64_t a : amounts)
        ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", std::to_string(++n), "4", a)));
    TransSet set;
    ASSERT_TRUE(set.open("iToojaamTrans"));
    for (std::int64_t a : amounts) {
        ASSERT_FALSE(set.eof());
        EXPECT_EQ(set.record().Amount, a) << set.record().Trans;
        set.moveNext();
    }
}

TEST_F(Store, LogNamesTheObjectAndCutsTheText)
{
    // (an object of its own name, "WSTJlistener", is in the service's log rows)
    ASSERT_TRUE(Db_Open());
    QObject array;
    array.setObjectName("WSTJ");
    array.setProperty("index", 3);
    EXPECT_TRUE(Log_Event(&array, "connected"));
    EXPECT_TRUE(Log_Event(nullptr, "started"));
    EXPECT_TRUE(Log_Event(std::string(150, 'x')));
    Peek p(path);
    EXPECT_EQ(p.column("SELECT Object FROM Log ORDER BY rowid"), QStringList({"WSTJ(3)", "System", "System"}));
    EXPECT_EQ(p.one("SELECT length(Message) FROM Log WHERE rowid = 3"), "100");
    EXPECT_TRUE(QDateTime::fromString(p.one("SELECT Date FROM Log"), "yyyy-MM-dd HH:mm:ss").isValid());
}

TEST_F(Store, RollBackUndoesSentMarksButKeepsLogAndStoredRows)
{
    ASSERT_TRUE(Db_Open());
    ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", "1", "4000001111111111", 10000)));
    ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", "2", "4000002222222222", 20000)));
    ASSERT_TRUE(Db_BeginTrans());
    TransSet set;
    ASSERT_TRUE(set.open("iSentToojaamPAN"));
    ASSERT_TRUE(set.seek(">=", {false, "", ""}));
    while (!set.eof()) {
        ASSERT_TRUE(set.markSent());
        set.moveNext();
    }
    ASSERT_TRUE(Log_Event("socket closed during the transfer"));
    ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS002", "9", "5000001111111111", 5000)));
    ASSERT_TRUE(Db_Rollback());
    Peek p(path);
    EXPECT_EQ(p.column("SELECT sent FROM Trans ORDER BY rowid"), QStringList({"0", "0", "0"}));
    EXPECT_EQ(p.column("SELECT Message FROM Log"), QStringList({"socket closed during the transfer"}));

    ASSERT_TRUE(Db_BeginTrans());
    ASSERT_TRUE(set.seek(">=", {false, "", ""}));
    ASSERT_TRUE(set.markSent());
    ASSERT_TRUE(Db_CommitTrans());
    EXPECT_EQ(p.column("SELECT sent FROM Trans ORDER BY rowid"), QStringList({"-1", "0", "0"}));
}

// A seek takes its first rows at once and the rest only when the walk gets there: the walk still
// sees every row once, in index order, with rows marked sent on the way and with a row whose key
// is empty.
TEST_F(Store, AWalkPastTheFirstRowsOfASeekSeesEveryRowOnceInIndexOrder)
{
    ASSERT_TRUE(Db_Open());
    constexpr int kRows = 300;
    auto pan = [](int i) { return "4" + QString::number(i).rightJustified(5, '0').toStdString(); };
    ASSERT_TRUE(Db_BeginTrans());
    for (int i = 0; i < kRows; ++i)   // stored out of card-number order
        ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", std::to_string(i), pan((i * 7919) % kRows), 100)));
    ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", "empty", "", 100)));
    ASSERT_TRUE(Db_CommitTrans());

    ASSERT_TRUE(Db_BeginTrans());
    TransSet set;
    ASSERT_TRUE(set.open("iSentToojaamPAN"));
    ASSERT_TRUE(set.seek(">=", {false, "POS001", ""}));
    std::vector<std::string> walked;
    while (!set.eof()) {
        walked.push_back(set.record().PAN);
        ASSERT_TRUE(set.markSent());
        set.moveNext();
    }
    std::vector<std::string> expected{""};
    for (int i = 0; i < kRows; ++i)
        expected.push_back(Card_Mask(pan(i)));
    EXPECT_EQ(walked, expected);
    ASSERT_TRUE(Db_Rollback());

    // Without marks the first rows are still there when the rest is taken: none comes twice.
    ASSERT_TRUE(set.open("iSentPAN"));
    walked.clear();
    for (; !set.eof(); set.moveNext())
        walked.push_back(set.record().PAN);
    EXPECT_EQ(walked, expected);

    // An exact seek finds its row whatever follows it, and a miss finds none.
    ASSERT_TRUE(set.open("iToojaamTrans"));
    EXPECT_TRUE(set.seek("=", {"POS001", "150"}));
    EXPECT_EQ(set.record().Trans, "150");
    EXPECT_FALSE(set.seek("=", {"POS001", "1500"}));
    EXPECT_TRUE(set.eof());
}

TEST_F(Store, CountUnsentFollowsTheIndexWhereSentRowsComeFirst)
{
    ASSERT_TRUE(Db_Open());
    for (int i = 1; i <= 4; ++i)
        ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", std::to_string(i), "40000" + std::to_string(i), 100)));
    {
        Peek p(path);
        p.exec("UPDATE Trans SET sent = -1 WHERE Trans = '2'");
    }
    TransSet set;
    ASSERT_TRUE(set.open("iSentPAN"));
    EXPECT_TRUE(set.sent());   // the true row is first
    EXPECT_EQ(Db_CountUnsent(set), 0);
    ASSERT_TRUE(set.seek(">=", {false}));
    EXPECT_EQ(set.record().PAN, "**0001");
    EXPECT_EQ(Db_CountUnsent(set), 3);
    EXPECT_TRUE(set.eof());
    EXPECT_EQ(Db_CountUnsent(set), 0);
    EXPECT_EQ(Db_UnsentCount(), 3);  // the same count, taken in the index
}

TEST_F(Store, LockedFileGivesAFailureWithItsCause)
{
    ASSERT_TRUE(Db_Open());
    Peek p(path);
    p.exec("BEGIN EXCLUSIVE");
    const DbStatus s = Db_StoreTrans(test::SampleTrans("POS001", "1", "4", 1));
    EXPECT_FALSE(s);
    EXPECT_FALSE(s.description.empty());
    EXPECT_FALSE(Log_Event("x"));
    p.exec("ROLLBACK");
    EXPECT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", "1", "4", 1)));
}

TEST_F(Store, AReaderInAnotherProgramSeesEveryCommitAndLeavesTheLogInPlace)
{
    ASSERT_TRUE(Db_Open());
    // sqlite3 in a shell, run between two commits: on leaving it must not take our log away.
    auto countFromOutside = [&] {
        QProcess sqlite;
        sqlite.start("sqlite3", {path, "SELECT count(*) FROM Trans"});
        return sqlite.waitForFinished(10000) ? sqlite.readAllStandardOutput().trimmed().toInt() : -1;
    };
    ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", "1", "4", 1)));
    closeStore();   // started again, on the file as it was left
    ASSERT_TRUE(Db_Open());
    EXPECT_EQ(countFromOutside(), 1);
    ASSERT_TRUE(Db_StoreTrans(test::SampleTrans("POS001", "2", "5", 1)));
    EXPECT_EQ(countFromOutside(), 2);
    EXPECT_TRUE(QFile::exists(path + "-wal"));
}

TEST_F(Store, ReadOnlyFileGivesAFailureWithItsCause)
{
    ASSERT_TRUE(Db_Open());
    closeStore();
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadOther | QFile::ReadGroup));
    QFile::setPermissions(dir.path(), QFile::Permissions(0x7777));
    // Root writes anything: open the file as an ordinary user, who cannot.
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(seteuid(65534), 0);
    }
    const bool opened = Db_Open();
    const DbStatus w = Db_Writable();
    const DbStatus s = Db_StoreTrans(test::SampleTrans("POS001", "1", "4", 1));
    const DbStatus l = Log_Event("x");
    if (root) {
        ASSERT_EQ(seteuid(0), 0);
    }
    EXPECT_TRUE(opened);
    EXPECT_FALSE(w);   // known before anything is tried
    EXPECT_EQ(Err_Record(Err_Index()).message, "andmebaas on ainult lugemiseks");
    EXPECT_FALSE(s);
    EXPECT_NE(s.description.find("readonly"), std::string::npos) << s.description;
    EXPECT_FALSE(l);
}

TEST_F(Store, NoFileAtAllStillLetsTheProgramGoOn)
{
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
    blocker.close();
    Home_Set(dir.filePath("blocker/home"));
    EXPECT_FALSE(Db_Open());
    EXPECT_NE(Err_Record(Err_Index()).message.find("tollan.mdb: cannot open or create"), std::string::npos);
    EXPECT_FALSE(Db_Writable());
    EXPECT_FALSE(Db_StoreTrans(test::SampleTrans("POS001", "1", "4", 1)));
    EXPECT_FALSE(Log_Event("x"));
    EXPECT_FALSE(Db_BeginTrans());
    TransSet set;
    EXPECT_FALSE(set.open("iSTAN"));
    EXPECT_TRUE(set.eof());
    EXPECT_EQ(Db_CountUnsent(set), 0);
}

} // namespace
