#include "dialogues/transfile_build.h"
#include "protocol/transfile.h"
#include "protocol/messages.h"
#include "tests/dialogues/suite.h"
#include "support/cardmask.h"
#include "support/home.h"

#include <QDir>

namespace {

std::string Cols(const std::string& line, int from, int to) { return line.substr(from - 1, to - from + 1); }

class TransFile : public ::testing::Test {
protected:
    QTemporaryDir home;
    TestClock clock{QDateTime(QDate(2026, 12, 6), QTime(14, 5, 0))};
    ClockScope scope{clock};

    void SetUp() override
    {
        test::UseTestHome(home.path());
        ASSERT_TRUE(Db_Open());
        Cfg_Put("FirmaRegNr", "10203040");
        Cfg_Put("FirmaTunnus", "12345");
        Cfg_Put("FirmaNimi", "Pood OU");
        Cfg_Put("FirmaLokaator", "Tallinn");
        Cfg_Put("TerminaliTunnus", "TERM0001");
        Cfg_Put("NextTransFileNr", "41");
    }
    void TearDown() override
    {
        if (Db_InTransaction()) Db_Rollback();
        Db_Database().close();
    }

    void Store(const std::vector<TransRecord>& rows)
    {
        for (const auto& r : rows) ASSERT_TRUE(Db_StoreTrans(r)) << r.Trans;
    }

    // Builds one file the way the transfer does: inside a database transaction, here committed.
    bool Build(bool commit = true)
    {
        TransSet set;
        EXPECT_TRUE(set.open("iSentToojaamPAN"));
        EXPECT_TRUE(Db_BeginTrans());
        const bool built = KK_BuildTransFile(set, lines, report);
        if (commit) {
            EXPECT_TRUE(Db_CommitTrans());
        }
        return built;
    }

    std::vector<std::string> lines;   // the file Build made last, and its report
    std::string report;

    // The rows a next file could still take: not sent, and bound to no file.
    int Unsent(const char* toojaam) const
    {
        QSqlQuery q(Db_Database());
        const QString sql =
            QString("SELECT count(*) FROM Trans WHERE sent = 0 AND FileNr IS NULL AND Toojaam = '%1'").arg(toojaam);
        return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
    }
};

std::string Detail(const std::string& pan19, const std::string& amount11, const std::string& type = "0",
                   const std::string& track = "1")
{
    return "2" + type + pan19 + "1" + amount11 + "261206" + "001" + "00123" + "A1" + "A1B2C3" + "2" + "140359" +
           "2812" + "233" + track;
}

} // namespace

// Two purchases whose card numbers share their first six digits: file header, group header, two
// details, group trailer, file trailer (2 + 2 groups + rows: six lines in all).
TEST_F(TransFile, TwoPurchasesOfOneGroupMakeOneFileWithTotal1550)
{
    Store({test::SampleTrans("POS001", "1", "4000009876543210", 55000), test::SampleTrans("POS001", "2", "4000001234567899", 100000)});
    report = "before";
    ASSERT_TRUE(Build());
    // The group header ends with the activity code's default: none is set.
    const std::vector<std::string> expected = {
        "0MT  2612061405" "10203040 001" "KK" "0012345" "00042" + std::string(29, ' '),
        "12612061405" "10203040 001" "  " "0012345Pood OU      " "0004201" "TERM0001" "0000" "      ",
        Detail("0004000001234567899", "00000001000"),   // in card-number order
        Detail("0004000009876543210", "00000000550"),
        "8000002" "000000001550" " " "0004201" "38Tallinn" + std::string(31, ' ') + "   ",
        "9000002" "000000001550" " " + std::string(50, ' '),
    };
    EXPECT_EQ(lines, expected);   // each of 70 characters
    // The report: appended, a heading, a rule and a line per transaction.
    EXPECT_EQ(report, "before\r\nKuup   Kell   Nr.   Kassa Kaart                  Summa Aut.k. T\xFC\xFCp\r\n" +
                          std::string(66, '-') + "\r\n" + KK_ReportLine(test::SampleTrans("POS001", "2", "400000******7899", 100000)) +
                          "\r\n" + KK_ReportLine(test::SampleTrans("POS001", "1", "400000******3210", 55000)));
    EXPECT_EQ(Unsent("POS001"), 0);
    EXPECT_EQ(Cfg_Get("NextTransFileNr", ""), "42");
}

TEST_F(TransFile, GroupTotalsAreSignedByTheKindOfTransaction)
{
    // Rows of amount and Type, the total and its sign.
    struct Case { std::vector<std::pair<std::int64_t, std::int16_t>> rows; const char* total, *sign; } cases[] = {
        {{{100000, 0}, {100000, 1}}, "000000000000", " "},              // a purchase and its cancellation
        {{{50000, 0}, {125000, 1}}, "000000000750", "-"},               // cancellations outweigh purchases
        {{{125000, 3}}, "000000001250", "-"},
        // 12.3450 + 0.0099: each line carries its hundredths cut down, as the authorisation did,
        // and the total is the sum of the lines (12.34 + 0.00), not of the amounts.
        {{{123450, 0}, {99, 0}}, "000000001234", " "},
    };
    int trans = 0;
    for (const auto& c : cases) {
        std::vector<TransRecord> rows;
        for (const auto& [amount, type] : c.rows)
            rows.push_back(test::SampleTrans("POS001", std::to_string(++trans), "4000001234567899", amount, type));
        Store(rows);
        ASSERT_TRUE(Build());
        ASSERT_EQ(lines.size(), 4 + c.rows.size());
        const std::string& group = lines[lines.size() - 2];
        const std::string& file = lines.back();
        EXPECT_EQ(Cols(group, 2, 20), "00000" + std::to_string(c.rows.size()) + c.total + c.sign);
        EXPECT_EQ(Cols(file, 8, 20), std::string(c.total) + c.sign);
        for (std::size_t i = 0; i < c.rows.size(); ++i)
            EXPECT_EQ(Cols(lines[2 + i], 2, 2), std::to_string(c.rows[i].second));
    }
}

TEST_F(TransFile, EachFileHoldsOneWorkstationAndTheOthersWaitForTheNext)
{
    Store({test::SampleTrans("POS002", "1", "4000001111111111", 10000), test::SampleTrans("POS001", "1", "5100001111111111", 20000),
           test::SampleTrans("POS001", "2", "4000002222222222", 30000), test::SampleTrans("POS002", "2", "5100002222222222", 40000),
           test::SampleTrans("POS001", "3", "4000003333333333", 50000)});
    ASSERT_TRUE(Build());
    // POS001: groups 400000 (two rows) and 510000 (one row).
    ASSERT_EQ(lines.size(), 2u + 2 * 2 + 3);
    EXPECT_EQ(Cols(lines[0], 37, 41), "00042");
    EXPECT_EQ(Cols(lines[1], 46, 52), "0004201");
    EXPECT_EQ(Cols(lines[2], 3, 21), "0004000002222222222");
    EXPECT_EQ(Cols(lines[3], 3, 21), "0004000003333333333");
    EXPECT_EQ(Cols(lines[4], 21, 27), "0004201");
    EXPECT_EQ(Cols(lines[5], 46, 52), "0004202");
    EXPECT_EQ(Cols(lines[6], 3, 21), "0005100001111111111");
    EXPECT_EQ(Cols(lines[7], 2, 20), "000001000000000200 ");
    EXPECT_EQ(Cols(lines[8], 2, 20), "000003000000001000 ");
    EXPECT_EQ(Unsent("POS001"), 0);
    EXPECT_EQ(Unsent("POS002"), 2);

    ASSERT_TRUE(Build());
    ASSERT_EQ(lines.size(), 2u + 2 * 2 + 2);
    EXPECT_EQ(Cols(lines[0], 37, 41), "00043");
    EXPECT_EQ(Cols(lines[2], 40, 42), "002");
    EXPECT_EQ(Unsent("POS002"), 0);

    // Nothing left: no file, no number taken, the report holds the heading alone.
    report.clear();
    EXPECT_FALSE(Build());
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(report, "\r\n" + std::string(kTransReportHeading) + "\r\n" + std::string(66, '-'));
    EXPECT_EQ(Cfg_Get("NextTransFileNr", ""), "43");
}

TEST_F(TransFile, AWorkstationNameWithTrailingSpacesIsTheSameWorkstation)
{
    Store({test::SampleTrans("POS001", "1", "4000001111111111", 10000), test::SampleTrans("POS001  ", "2", "4000002222222222  ", 20000)});
    ASSERT_TRUE(Build());
    ASSERT_EQ(lines.size(), 6u);
    // Text columns are read without their trailing spaces.
    EXPECT_EQ(Cols(lines[3], 3, 21), "0004000002222222222");
    EXPECT_EQ(Cols(lines[3], 40, 42), "001");
}

// The store's own tests pin that a rollback keeps the event log; here the file's side of it.
TEST_F(TransFile, AFileRolledBackLeavesItsRowsUnsentAndItsNumberTaken)
{
    Store({test::SampleTrans("POS001", "1", "4000001234567899", 100000), test::SampleTrans("POS001", "2", "4000009876543210", 55000)});
    ASSERT_TRUE(Build(false));
    EXPECT_EQ(Unsent("POS001"), 0);
    ASSERT_TRUE(Db_Rollback());
    EXPECT_EQ(Unsent("POS001"), 2);
    // The same rows go in the next file under the next number.
    ASSERT_TRUE(Build());
    EXPECT_EQ(Cols(lines[0], 37, 41), "00043");
}

TEST_F(TransFile, AFailedMarkEndsTheBuildWithNoFile)
{
    Store({test::SampleTrans("POS001", "1", "4000001234567899", 100000)});
    QSqlQuery(Db_Database()).exec("PRAGMA query_only = ON");
    lines = {"old"};
    const int before = Err_Index();
    EXPECT_FALSE(Build(false));
    QSqlQuery(Db_Database()).exec("PRAGMA query_only = OFF");
    EXPECT_TRUE(lines.empty());
    EXPECT_NE(Err_Index(), before);
    ASSERT_TRUE(Db_Rollback());
    EXPECT_EQ(Unsent("POS001"), 1);
}

TEST_F(TransFile, ReportLinesAlignTheirFieldsAndNeverCutTheAmount)
{
    struct Case { TransRecord t; char decimal; std::string line; };
    TransRecord big = test::SampleTrans("KASSA7", "1", "4000001234567899012", 1234567800);
    big.STAN = "7";
    big.AuthCode = "XY";
    big.Date = 19991231;
    big.Time = 5;
    const Case cases[] = {
        {test::SampleTrans("POS001", "1", "4000001234567899", 100000), ',', "261206 140359 00123 001   4000001234567899       10,00 A1B2C3 "},
        {big, '.', "991231 000005 00007 SA7   4000001234567899012 123456.78 XY     "},
        {test::SampleTrans("POS001", "1", "4000001234567899", 100000, 3), '.', "261206 140359 00123 001   4000001234567899       10.00 A1B2C3 T\xFCh."},
        {test::SampleTrans("POS001", "1", "4000009876543210", 55000, 1), '.', "261206 140359 00123 001   4000009876543210        5.50 A1B2C3 T\xFCh."},
    };
    const char saved = Text_Forms().decimal;
    for (const auto& c : cases) {
        Text_Forms().decimal = c.decimal;
        EXPECT_EQ(KK_ReportLine(c.t), c.line);
    }
    Text_Forms().decimal = saved;
}

TEST_F(TransFile, FileNumbersCountOnFromTheSetting)
{
    const std::pair<const char*, std::int32_t> rows[] = {
        {"41", 42}, {"0", 1}, {"abc", 1}, {"99999", 100000}, {"2147483647", 1}, {"41.6", 42},
    };
    for (const auto& [stored, number] : rows) {
        Cfg_Put("NextTransFileNr", stored);
        EXPECT_EQ(KK_TakeFileNumber(), number) << stored;
        EXPECT_EQ(Cfg_Get("NextTransFileNr", ""), std::to_string(number));
    }
}

TEST(TransFileFresh, AFreshInstallationSendsFileNumberTwo)
{
    QTemporaryDir home;
    Home_Set(home.path());
    Cfg_SetRoot(kCfgRoot);
    EXPECT_EQ(KK_TakeFileNumber(), 2);
    EXPECT_EQ(KK_TakeFileNumber(), 3);
}

TEST_F(TransFile, TheSenderIsChosenByGroupThenWorkstationThenFirm)
{
    EXPECT_EQ(KK_SenderId("400000", "POS001"), "0012345");
    Cfg_Put("POS001\\FirmaTunnus", "777");
    EXPECT_EQ(KK_SenderId("400000", "POS001"), "0000777");
    EXPECT_EQ(KK_SenderId("400000", "POS002"), "0012345");
    Cfg_Put("SenderID\\400000", "ABCDEFGHIJ");
    EXPECT_EQ(KK_SenderId("400000", "POS001"), "ABCDEFGHIJ");
    EXPECT_EQ(KK_SenderId("510000", "POS001"), "0000777");
    Cfg_Put("SenderID\\xxxxxx", "1");
    EXPECT_EQ(KK_SenderId("xxxxxx", "POS001"), "0000001");
}

// Columns 61-64 of the group header and element 18 are one setting: the file shows the code its
// register's requests send, whichever spelling of the name set it.
TEST_F(TransFile, TheGroupHeaderCarriesTheActivityCodeOfElement18ForTheFilesRegister)
{
    // Element 18 follows 2 (9 bytes), 3, 4, 7, 11 and 14 in the 0100 body.
    const std::size_t at = 8 + 9 + 3 + 6 + 5 + 3 + 2;
    // A setting made before the file is built (key nullptr: none), the file's register and its code.
    struct Step { const char* key, *value, *toojaam, *code; } steps[] = {
        {nullptr, nullptr, "POS001", "0000"},
        {"TegevusAla", "5999", "POS002", "5999"},
        {"POS001\\Tegevusala", "5411", "POS001", "5411"},
        {nullptr, nullptr, "POS002", "5999"},
        {nullptr, nullptr, "KASSA001", "5411"},   // a register is known by its last three characters
        {nullptr, nullptr, "1", "5999"},
    };
    int trans = 0;
    for (const Step& s : steps) {
        if (s.key) Cfg_Put(s.key, s.value);
        const TransRecord t = test::SampleTrans(s.toojaam, std::to_string(++trans), "4000001234567899", 100000);
        Store({t});
        ASSERT_TRUE(Build()) << s.toojaam;
        EXPECT_EQ(Cols(lines[1], 61, 64), s.code) << s.toojaam;
        EXPECT_EQ(KK_BuildRequest(kKK_Bitmap0100, t, KK_MerchantIds(t.Toojaam)).substr(at, 2), KK_PackDigits(s.code)) << s.toojaam;
    }
}

TEST_F(TransFile, OverlongSettingsAreCutToTheirColumns)
{
    Cfg_Put("FirmaNimi", std::string(60, 'N'));
    Cfg_Put("TerminaliTunnus", "T123456789");
    Cfg_Put("Tegevusala", "123456");
    Cfg_Put("ReceiverID", "RECEIVER");
    Cfg_Put("FirmaLokaator", std::string(60, 'L'));
    Cfg_Put("ValuutaKood", "97812");
    Cfg_Put("NextTransFileNr", "123455");
    TransRecord t = test::SampleTrans("POS001", "1", "40000012345678990123", 100000);
    t.AuthCode = "ABCDEFGHI";
    t.STAN = "123456";
    Store({t});
    ASSERT_TRUE(Build());
    for (const auto& l : lines) EXPECT_EQ(l.size(), 70u) << l;
    EXPECT_EQ(Cols(lines[0], 28, 29), "RE");
    EXPECT_EQ(Cols(lines[0], 37, 41), "23456");    // the file number's last five
    EXPECT_EQ(Cols(lines[1], 46, 52), "1234560");   // 12345601 keeps its first seven
    EXPECT_EQ(Cols(lines[1], 26, 45), "0012345NNNNNNNNNNNNN");
    EXPECT_EQ(Cols(lines[1], 53, 64), "T1234567" "1234");
    EXPECT_EQ(Cols(lines[2], 3, 21), "4000001234567899012");
    EXPECT_EQ(Cols(lines[2], 43, 55), "23456" "A1" "ABCDEF");   // the STAN's rightmost five digits
    EXPECT_EQ(Cols(lines[2], 67, 69), "978");
    EXPECT_EQ(Cols(lines[3], 28, 70), "38" + std::string(38, 'L') + "   ");
}

TEST(Track2Digit, TheThirteenthCharacterAfterTheSeparator)
{
    const std::pair<const char*, int> rows[] = {
        {"4000001234567899=28121010000012300000", 1},
        {"4000001234567899=2812101", -1},          // too short after the separator: "-" in column 70
        {"4000001234567899=2812101000007", 7},
        {"4000001234567899D2812101000009", 9},
        {"=1234567890123", 3},
        {"123=123456789012X", 0},
        {"4000001234567899", -1},                  // no separator at all
        {"", -1},
    };
    for (const auto& [track, digit] : rows) {
        EXPECT_EQ(Card_Track2Digit(track), digit) << track;
        TransRecord t = test::SampleTrans("POS001", "1", "4000001234567899", 100000);
        t.Track2 = track;
        EXPECT_EQ(KK_TransDetail(t, "233").back(), digit < 0 ? '-' : char('0' + digit)) << track;   // column 70
    }
}

TEST(TransLog, ReportsAreAppendedInUtf8ForTheOwnerAlone)
{
    QTemporaryDir home;
    Home_Set(home.path());
    ASSERT_TRUE(KK_TransLogAppend("\r\nKuup T\xFC\xFCp\r\n261206 T\xFCh."));
    ASSERT_TRUE(KK_TransLogAppend("teine"));
    QFile f(home.filePath("trans.log"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), "\r\nKuup T\xC3\xBC\xC3\xBCp\r\n261206 T\xC3\xBCh.\r\nteine\r\n");
    EXPECT_EQ(f.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther), 0);
}

TEST_F(TransFile, ACardNumberThatLooksLikeTheFileKeyStillGetsItsOwnGroup)
{
    Store({test::SampleTrans("POS001", "1", "xxxxxx1234567899", 100000)});
    ASSERT_TRUE(Build());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Cols(lines[2], 1, 21), "20000xxxxxx1234567899");
    EXPECT_EQ(Cols(lines[3], 2, 7), "000001");
}
