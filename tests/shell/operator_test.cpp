// The operator's own purchase and cancellation from the main window, through the console, to a card
// centre on loopback and back, with the message and input boxes answered as a person would.
#include "tests/shell/suite.h"

#include "support/msgbox.h"
#include "tests/common/boxes.h"
#include "tests/common/card_centre.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPointer>

namespace {

class OperatorWindow : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Cfg_Put("Port", "0");
        Cfg_Put("Console\\Toojaam", "7");
        Cfg_Put("Tollan_Auth_Address", centre.Address());
        Cfg_Put("Tollan_Trans_Address", centre.Address());
        centre.onFrame = [this](Centre& c, const std::string& f) {
            if (f.size() >= 2 && (f.compare(0, 2, Type(100)) == 0 || f.compare(0, 2, Type(400)) == 0)) {
                requests.push_back(f);
                c.Send(KK_Frame(Type(f.compare(0, 2, Type(400)) == 0 ? 410 : 110) + Verdict0110("A1B2C3", "00")));
            } else {
                c.Send("\x06");   // a line of the transaction file
            }
        };
        centre.onControl = [this](Centre& c, char ch) {
            std::string verdict(46, ' ');
            verdict.replace(0, fileVerdict.size(), fileVerdict);
            if (ch == '\x05')
                c.Send(KK_FrameSimple(verdict + "00001" + (fileAccepted ? "1" : "0") + "000001000000000100"));
            if (ch == '\x06')
                c.Send("\x05");
        };
        Ui_SetHeadless(false);   // the boxes open, and the operator answers them
        Load().printDocument = [this](const std::string& page) {
            pages.push_back(page);
            return true;
        };
        window->show();
    }
    void TearDown() override
    {
        EXPECT_EQ(person.unexpected, 0) << "boxes nobody expected";
        Ui_SetHeadless(true);
        WindowTest::TearDown();
    }
    void Enter(const char* field, const QString& text) { Find<QLineEdit>(field)->setText(text); }
    void Click(const char* button) { Find<QPushButton>(button)->click(); }
    int Rows(const char* where)
    {
        QSqlQuery q(Db_Database());
        q.exec(QString("SELECT count(*) FROM Trans WHERE %1").arg(where));
        return q.next() ? q.value(0).toInt() : -1;
    }
    // A purchase as the operator makes it: the card, the amount, "Tehing"; `Buy` answers the card check.
    void Charge(const QString& amount, const QString& card = kCard)
    {
        Enter("tKaart", card);
        Enter("tSumma", amount);
        Click("cTehing");
    }
    void Buy(const QString& amount)
    {
        person.answers.push_back({"OK", "7899"});
        Charge(amount);
    }
    static constexpr const char* kCard = "4000001234567899=28121010000012300000";
    bool Settled() { return Clock_WaitUntil([&] { return Find("cTehing")->isEnabled(); }, 5000); }

    Centre centre;
    Operator person;
    std::vector<std::string> requests, pages;
    bool fileAccepted = true;
    std::string fileVerdict = "Fail vastu voetud";
};

TEST_F(OperatorWindow, TheAmountTakesACommaOrAPointAndRefusesWhatItCannotReadWhole)
{
    const std::pair<const char*, const char*> charged[] = {{"12,50", "12.5"}, {"12.5", "12.5"}, {" 7 ", "7"},
                                                           {"0,05", "0.05"}};
    for (const auto& [typed, stored] : charged) {
        Buy(typed);
        ASSERT_TRUE(Settled()) << typed;
        EXPECT_EQ(Rows(qPrintable(QString("Amount = %1").arg(stored))), 1) << typed;
        QSqlQuery(Db_Database()).exec("DELETE FROM Trans");
    }
    const std::size_t sent = requests.size();
    for (const char* typed : {"12,5,0", "12.345", "12a", "abc", "1e3", "0", "-5", "", ",", "0.00004"}) {
        Charge(QString::fromUtf8(typed));
        EXPECT_EQ(Caption("lConsole"), QStringLiteral("Mittekorrektne summa!")) << typed;
    }
    EXPECT_EQ(requests.size(), sent);
}

TEST_F(OperatorWindow, WhileItsTransactionWaitsTheButtonsRestAndTheWindowSaysWhyThenWhetherTheFileWasTaken)
{
    bool release = false;   // the transaction file runs, and every request waits for it
    auto file = window->service()->RunAlone([&]() -> Task<int> {
        co_await Wait_Until([&] { return release; }, -1);
        co_return 0;
    });
    Buy("12,50");
    EXPECT_FALSE(Find("cTehing")->isEnabled());
    EXPECT_FALSE(Find("cTyhista")->isEnabled());
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(Caption("lConsole").startsWith(U("Ootab järjekorras")));
    Click("cTehing");                          // the second click charges nothing
    release = true;
    Wait_Notify();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(Rows("1"), 1);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // It says what was charged, and the fields are free for the next customer.
    EXPECT_EQ(Caption("lConsole"), QStringLiteral("Kinnitatud: 12,50, kood A1B2C3"));
    EXPECT_EQ(Find<QLineEdit>("tKaart")->text(), QString());
    EXPECT_EQ(Find<QLineEdit>("tSumma")->text(), QString());
    Shot(window.get(), "window-approved");

    // The transaction file with it: the window says whether the card centre took it.
    fileAccepted = false;
    fileVerdict = "Vale summa";
    Find<QMenu>("mToo")->findChild<QAction*>("mTooSendFile")->trigger();
    ASSERT_TRUE(Clock_WaitUntil([&] { return Caption("lError").contains("tehingufaili"); }, 5000));
    EXPECT_TRUE(Caption("lError").endsWith(U("Kaardikeskus ei võtnud tehingufaili vastu")));
    EXPECT_EQ(Err_Record(Err_Index()).description, "Vale summa");
    QFile log(home.filePath("tollan.err"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Vale summa"));

    fileAccepted = true;
    Find<QMenu>("mToo")->findChild<QAction*>("mTooSendFile")->trigger();
    ASSERT_TRUE(Clock_WaitUntil([&] { return Caption("lConsole") == "Tehingufail saadetud"; }, 5000));
    EXPECT_EQ(Caption("lCount"), U("0 saatmata päringut"));   // at once, not at the next ten seconds
}

// A prompt of the window has an end: left unanswered it shows its time running out, closes after
// "Timeout\Workstation" as a register's does, and its request ends unfinished. Meanwhile it holds
// only the operator's own request: a register's is served.
TEST_F(OperatorWindow, APromptLeftUnansweredClosesAtItsTimeOutAndHoldsOnlyTheOperatorsRequest)
{
    Cfg_Put("Timeout\\Workstation", "3");
    window->service()->setParallel(2);
    person.answers.push_back({Operator::kLeaveIt});
    Charge("12,50");
    ASSERT_TRUE(Clock_WaitUntil([&] { return window->findChild<QDialog*>("fKysimus") != nullptr; }, 3000));
    const QPointer<QDialog> prompt = window->findChild<QDialog*>("fKysimus");
    EXPECT_TRUE(prompt->findChild<QLabel*>("lAegaJaanud")->text().startsWith(U("Aega jäänud: "))) << prompt->findChild<QLabel*>("lAegaJaanud")->text().toStdString();
    EXPECT_NE(prompt->findChild<QPushButton*>("cKatkesta"), nullptr);

    test::Register till(quint16(window->service()->port()));
    ASSERT_TRUE(till.Connected());
    till.Send(RegisterRequest(wsCardQuery, "00000005", "4000001234567899         X"));
    const auto answer = till.NextNotBusy();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->RequestType, wsCardInfo);
    EXPECT_FALSE(prompt.isNull());   // the operator's prompt is still open

    ASSERT_TRUE(Clock_WaitUntil([&] { return prompt.isNull() || !prompt->isVisible(); }, 6000));
    ASSERT_TRUE(Settled());
    EXPECT_TRUE(requests.empty());   // the card centre never heard of it
    EXPECT_EQ(Rows("1"), 0);
    EXPECT_TRUE(Caption("lError").endsWith(U("Tehing jäi pooleli: küsimusele ei vastatud"))) << Caption("lError").toStdString();
}

TEST_F(OperatorWindow, ACancellationShowsThePurchaseAndGoesOnlyOnYes)
{
    Buy("12,50");
    ASSERT_TRUE(Settled());
    person.answers = {{"OK", "2"}, {"Ei", "", "cancel-confirmation"}};   // its STAN, then a look and a "no"
    Click("cTyhista");
    ASSERT_TRUE(Clock_WaitUntil([&] { return person.seen.size() == 3u; }, 5000));   // the card check, the number, the question
    const QString question = person.seen.back();
    for (const char* part : {"400000******7899", "12,50", "Kassa: 007", "STAN: 2"})
        EXPECT_TRUE(question.contains(QString::fromUtf8(part))) << part << " in " << question.toStdString();
    EXPECT_TRUE(person.buttons.back().contains("Jah") && person.buttons.back().contains("Ei"));
    EXPECT_EQ(person.parentSeen, window.get());
    EXPECT_EQ(requests.size(), 1u);

    person.answers = {{"OK", "2"}, {"Jah", ""}};
    Click("cTyhista");
    ASSERT_TRUE(Clock_WaitUntil([&] { return requests.size() == 2u; }, 5000));
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Rows("Type = 1 AND OrigSTAN = '2'"), 1);
    EXPECT_EQ(Caption("lConsole"), U("Tühistatud: 12,50, kood A1B2C3"));

    // A number that names nothing: said plainly, nobody blamed, nothing sent.
    const QString error = Caption("lError");
    person.answers = {{"OK", "99"}, {"OK", ""}};
    Click("cTyhista");
    EXPECT_TRUE(Clock_WaitUntil([&] { return person.seen.back() == QStringLiteral("Tehingut numbriga 99 ei leitud."); }, 5000))
        << person.seen.back().toStdString();
    EXPECT_EQ(Caption("lError"), error);
    EXPECT_EQ(requests.size(), 2u);

    // What the operator did by hand, and who, is in the event log: the purchase and the
    // cancellation that went, not the one declined at the question nor the number never found.
    QSqlQuery q(Db_Database());
    q.exec("SELECT Object || ': ' || Message FROM Log WHERE Message LIKE 'operaatori%' ORDER BY rowid");
    QStringList done;
    while (q.next()) done << q.value(0).toString();
    const QString admin = "Admin " + QString::fromStdString(Log_AdminUser()) + ": ";
    EXPECT_EQ(done, (QStringList{admin + "operaatori ost 12,50, nr 00000001", admin + U("operaatori tühistus: tehing 2, nr 00000002")}));
}

TEST_F(OperatorWindow, AnErrorNamesItsCauseAndItsTimeAndAClickShowsItWhole)
{
    Charge("5", "4000001234567899=2001");   // expired long ago
    ASSERT_TRUE(Settled());
    const QString expired = Caption("lError");
    EXPECT_TRUE(expired.endsWith(U(" Kaart on kehtivusaja ületanud!"))) << expired.toStdString();
    EXPECT_EQ(expired.left(5), Err_Record(Err_Index()).time.toString("HH:mm"));
    EXPECT_TRUE(requests.empty());
    Shot(window.get(), "window-refused");

    person.answers = {{"OK", "1234"}};          // digits the card does not carry
    Charge("5");
    ASSERT_TRUE(Settled());
    EXPECT_TRUE(Caption("lError").endsWith(U("Sisestatud numbrid erinevad kaardi magnetrajal olevatest!")));

    person.answers = {{"Loobu", ""}};            // the operator's own Cancel in the card check
    Charge("5");
    ASSERT_TRUE(Settled());
    EXPECT_TRUE(Caption("lError").endsWith(U("Tehing jäi pooleli: küsimusele ei vastatud")));

    person.answers = {{"OK", "", "error-details"}};
    QTest::mouseClick(Find("lError"), Qt::LeftButton);
    ASSERT_FALSE(person.seen.empty());
    EXPECT_TRUE(person.seen.back().contains(U("Tehing jäi pooleli"))) << person.seen.back().toStdString();
    EXPECT_TRUE(person.seen.back().contains("Aeg: "));
}

TEST_F(OperatorWindow, ACardReadersReturnGoesToTheAmountAndEnterThereIsTehing)
{
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), Find("tKaart"));   // where a card reader types
    QTest::keyClicks(Find("tKaart"), kCard);
    QTest::keyClick(Find("tKaart"), Qt::Key_Return);   // as a card reader ends
    EXPECT_EQ(QApplication::focusWidget(), Find("tSumma"));
    QTest::keyClicks(Find("tSumma"), "1,25");
    person.answers = {{"OK", "7899"}};
    QTest::keyClick(Find("tSumma"), Qt::Key_Return);   // Enter is "Tehing"
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Rows("Amount = 1.25"), 1);
}

TEST_F(OperatorWindow, TheErrorArchiveIsShownInTheProgramWhereTheDesktopHasNothingToShowItAndEndingAsksFirst)
{
    Err_Report(10061, "Connection refused", "Viga tehingu autoriseerijas", 48);
    Click("cErrLog");   // the offscreen desktop opens nothing
    auto* viewer = window->findChild<QWidget*>("fVigadeArhiiv");
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_TRUE(viewer->findChild<QPlainTextEdit*>("tArhiiv")->toPlainText().contains("Connection refused"));
    viewer->close();

    bool ended = false;
    QObject::connect(window.get(), &fMain::ended, [&] { ended = true; });
    QAction* end = Find<QMenu>("mToo")->findChild<QAction*>("mTooLopp");
    person.answers = {{"Ei", ""}};
    end->trigger();
    EXPECT_FALSE(ended);
    EXPECT_TRUE(person.seen.back().contains("Kassad"));
    person.answers = {{"Jah", ""}};
    end->trigger();
    EXPECT_TRUE(WaitEvenStopping([&] { return ended; }));
}

} // namespace
