// `tollan report`: a day's totals per register, from the rows the registers' requests left, and
// from the same rows as an accepted transaction file totals them (tests/e2e/transfile_e2e_test.cpp).
#include "tests/e2e/suite.h"

namespace {

TEST_F(Shop, TheDaysReportTotalsEachRegistersPurchasesAndCancellationsAsCsvAndForPeople)
{
    StartCentre();
    StartTerminal();
    auto buy = [this](const char* pos, const char* trans, const char* amount) {
        EXPECT_EQ(Register(QStringList{"--workstation", pos, "--trans", trans, "--amount", amount} + kCard), 0);
    };
    buy("POS00001", "00000001", "12.50");     // STAN 2
    buy("POS00001", "00000002", "3");         // STAN 3
    buy("POS00002", "00000001", "1234.567");  // STAN 4: a part of a hundredth is not settled
    buy("POS00002", "00000002", "7.10");      // STAN 5: moved to yesterday below
    buy("POS00003", "00000001", "20");        // STAN 6: its cancellation left pending below
    ASSERT_EQ(Register({"--workstation", "POS00001", "--trans", "00000003", "--cancel", "2"}), 0);
    ASSERT_EQ(Register({"--workstation", "POS00003", "--trans", "00000002", "--cancel", "6"}), 0);
    StopTerminal();
    const QDate today = QDate::currentDate();
    const QDate yesterday = today.addDays(-1);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "edit");
        db.setDatabaseName(home.filePath("tollan.mdb"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QString("UPDATE Trans SET Date = %1 WHERE STAN = '5'").arg(yesterday.toString("yyyyMMdd"))));
        ASSERT_TRUE(q.exec("UPDATE Trans SET Pending = -1 WHERE Toojaam = 'POS00003' AND Type = 1"));
    }
    QSqlDatabase::removeDatabase("edit");

    int status = -1;
    EXPECT_EQ(Tollan({"report", "--csv"}, &status).toStdString(),
              "register,purchases,purchases_sum,cancellations,cancellations_sum,net\n"
              "POS00001,2,15.50,1,12.50,3.00\n"
              "POS00002,1,1234.56,0,0.00,1234.56\n"
              "POS00003,1,20.00,0,0.00,20.00\n"
              "total,4,1270.06,1,12.50,1257.56\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Tollan({"report", "--date", yesterday.toString("yyyy-MM-dd"), "--csv"}).toStdString(),
              "register,purchases,purchases_sum,cancellations,cancellations_sum,net\n"
              "POS00002,1,7.10,0,0.00,7.10\n"
              "total,1,7.10,0,0.00,7.10\n");
    EXPECT_EQ(Tollan({"report", "--date=2001-01-01", "--csv"}).toStdString(),
              "register,purchases,purchases_sum,cancellations,cancellations_sum,net\n"
              "total,0,0.00,0,0.00,0.00\n");

    // For people: the day, aligned columns, amounts as the window shows them.
    std::vector<std::string> text;
    for (const QString& line : Tollan({"report"}).split('\n'))
        text.push_back(line.toStdString());
    ASSERT_GE(text.size(), 8u);
    EXPECT_EQ(text[0], "Päeva kokkuvõte " + today.toString("dd.MM.yyyy").toStdString());
    EXPECT_EQ(text[2], "Kassa     Ostud          Summa  Tühistusi          Summa          Kokku");
    EXPECT_EQ(text[4], "POS00002      1       1 234,56          0           0,00       1 234,56");
    EXPECT_EQ(text[7], "Kokku         4       1 270,06          1          12,50       1 257,56");

    for (const QStringList& wrong : {QStringList{"report", "--date", "09.12.2026"}, QStringList{"report", "--date"},
                                     QStringList{"report", "--all"}}) {
        EXPECT_EQ(Tollan(wrong, &status).toStdString(), "");
        EXPECT_EQ(status, 64) << wrong.join(' ').toStdString();
    }
}

} // namespace
