// The transaction file at a "SendTransTime" mask: refused once, sent again after a restart at the
// next minute and accepted; the rows marked sent, trans.log and the card centre's stored copy checked
// line by line.
#include "tests/e2e/shop.h"

#include <QDate>
#include <QRegularExpression>

namespace {

using namespace tollan::test;

TEST_F(Shop, TheTransactionFileIsRefusedOnceThenAcceptedAfterARestart)
{
    const QString files = home.filePath("centre-files");
    Config("SendTransTime1", "* * * * *");
    StartCentre({"--verdict-status", "0", "--verdict-text", "Fail tagasi lükatud", "--store", files});
    StartTerminal();
    ASSERT_EQ(Register(QStringList{"--workstation", "POS00001", "--trans", "00000001", "--amount", "12.50"} + kCard), 0);
    ASSERT_EQ(Register({"--workstation", "POS00001", "--trans", "00000002", "--amount", "3", "--card",
                        "5500001234567899=28121010000012300000", "--answer", "7899"}), 0);

    // Refused: the rows stay unsent, nothing is logged to trans.log, the card centre stored nothing.
    ASSERT_TRUE(centre->WaitFor("ENQ -> verdict 0 Fail tagasi lükatud", 75000)) << centre->out;
    ASSERT_TRUE(centre->WaitFor("EOT"));
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans WHERE sent"), QStringList{"0"});
    EXPECT_TRUE(Lines(home.filePath("trans.log")).isEmpty());
    EXPECT_FALSE(QDir(files).exists());
    EXPECT_EQ(Setting("LastSent_TransFile"), "");

    EXPECT_EQ(Setting("NextTransFileNr"), "2");  // the refused file took number 2

    // Restarted, the terminal keeps its rows and its file number; the card centre accepts this time.
    StopTerminal();
    StartCentre({"--store", files});
    StartTerminal();
    ASSERT_TRUE(centre->WaitFor("stored ", 75000)) << centre->out;
    ASSERT_TRUE(centre->WaitFor("EOT"));
    EXPECT_TRUE(centre->Printed("ENQ -> verdict 1 Fail vastu võetud (8 lines)")) << centre->out;

    // The stored file: header, then per transaction its group line, detail and group total, then the
    // file total of two transactions for 15.50.
    const QStringList sent = Lines(files + "/transfile-0001.txt");
    ASSERT_EQ(sent.size(), 8) << sent.join('\n').toStdString();
    QString kinds;
    for (const QString& l : sent)
        kinds += l.left(1);
    EXPECT_EQ(kinds, "01281289");
    EXPECT_EQ(sent[0].mid(36, 5), "00003") << sent[0].toStdString();  // the file's number
    EXPECT_TRUE(sent[2].contains("4000001234567899")) << sent[2].toStdString();
    EXPECT_TRUE(sent[5].contains("5500001234567899")) << sent[5].toStdString();
    EXPECT_TRUE(sent[7].startsWith("9000002000000001550")) << sent[7].toStdString();

    // trans.log: the report of the file, one line per transaction, and the card centre's words.
    const QStringList log = Lines(home.filePath("trans.log"));
    ASSERT_GE(log.size(), 4);
    const QRegularExpression row1("^\\d{6} \\d{6} 00002 001   4000001234567899 +12\\.50 123456 $");
    const QRegularExpression row2("^\\d{6} \\d{6} 00003 001   5500001234567899 +3\\.00 123456 $");
    EXPECT_EQ(log.filter(row1).size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.filter(row2).size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.back(), "Server said: Fail vastu võetud");

    EXPECT_EQ(Rows("SELECT STAN, sent FROM Trans ORDER BY rowid"), (QStringList{"2|-1", "3|-1"}));
    EXPECT_EQ(Rows("SELECT count(*) FROM Log WHERE Message = 'Server said: Fail vastu võetud'"), QStringList{"1"});
    EXPECT_EQ(Setting("LastSent_TransFile"), QDate::currentDate().toString("yyyyMMdd"));

    // A purchase that went in the file cannot be cancelled any more: the preset refusal.
    std::string seen;
    EXPECT_EQ(Register({"--workstation", "POS00001", "--trans", "00000003", "--cancel", "2"}, &seen), 1);
    EXPECT_TRUE(Has(seen, "0 refused 1")) << seen;
    EXPECT_FALSE(centre->Printed("auth 0400")) << centre->out;
}

} // namespace
