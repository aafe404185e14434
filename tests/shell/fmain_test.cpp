// The main window on the offscreen platform, its components found by name: start-up and shutdown,
// the error indicator, the console mailbox, the menu and the scheduled jobs.
#include "shell/twips.h"
#include "tests/shell/suite.h"

#include "links/x25.h"
#include "support/text.h"
#include "timora/timora.h"
#include "timora/timora_clock.h"
#include "workstation/dispatch.h"
#include "workstation/packet.h"
#include "tests/common/tasks.h"

#include <QGroupBox>
#include <QScreen>
#include <QSerialPort>
#include <QTcpServer>
#include <algorithm>

namespace {

class MainWindow : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Text_Forms() = TextForms{};
    }
    // Start-up on a home the start-up check finds sound: a free port, unless the test has its own,
    // and the card centre's addresses, unless the test set them.
    fMain& Load(bool ownPort = true)
    {
        if (ownPort) {
            QTcpServer free;
            free.listen(QHostAddress::LocalHost, 0);
            Cfg_Put("Port", std::to_string(free.serverPort()));
        }
        for (const char* key : {"Tollan_Auth_Address", "Tollan_Trans_Address"})
            if (Cfg_Lookup(key, "").empty()) Cfg_Put(key, "127.0.0.1:1");
        return WindowTest::Load();
    }
    // The event log's rows but for the administrative records (the start's among them).
    std::vector<std::string> LogRows(const char* which = "Object NOT LIKE 'Admin %'") const
    {
        std::vector<std::string> rows;
        QSqlQuery q(Db_Database());
        q.exec(QString("SELECT Object || ': ' || Message FROM Log WHERE %1 ORDER BY rowid").arg(which));
        while (q.next()) rows.push_back(q.value(0).toString().toStdString());
        return rows;
    }
    // A packet of `type` with `data`, as a request's flow sends it to the console.
    static std::string Packet(std::int16_t type, const std::string& data)
    {
        WorkstationPacket p;
        p.Workstation = "CON00000";
        p.WorkstationTrans = "00000007";
        p.AnswerType = type;
        p.AnswerData = data;
        return WS_EncodePacket(p);
    }
    void ConsoleReceives(std::int16_t type, const std::string& data) { window->console().send(Packet(type, data)); }
    // A prompt or a print request to the console, and the answer it gives.
    std::optional<std::string> ConsoleAnswers(std::int16_t type, const std::string& data)
    {
        return Finish(window->console().ask(Packet(type, data)), 5000);
    }
};

TEST_F(MainWindow, FirstStartOnAnEmptyHomeMakesTheDatabaseListensAndTouchesNoModem)
{
    // The default port, unless another program has it: then the failure is reported and start-up goes on.
    QTcpServer probe;
    const bool portFree = probe.listen(QHostAddress::Any, 1280);
    probe.close();
    fMain& w = Load(false);
    EXPECT_EQ(w.timora().Count(), 0);
    EXPECT_TRUE(w.timora().Enabled());
    EXPECT_TRUE(QFile::exists(home.filePath("tollan.mdb")));
    EXPECT_TRUE(Db_TableExists(Db_Database(), "Trans"));
    if (portFree) {
        EXPECT_EQ(w.service()->port(), 1280);
        EXPECT_EQ(w.service()->listener().state(), kSockListening);
    } else {
        EXPECT_FALSE(Caption("lError").isEmpty());
    }
    // Neither dial-up networking nor the serial port is touched.
    EXPECT_EQ(Cfg_Get("UseRAS", "?"), "0");
    EXPECT_EQ(Cfg_Get("UseX25", "?"), "0");
    EXPECT_FALSE(X25_IsAttached());
}

TEST_F(MainWindow, ASavedPositionOffEveryScreenIsBroughtBackWhereAFirstStartPutsIt)
{
    const QPoint first = Load().pos();
    window.reset();
    const std::pair<const char*, const char*> away[] = {{"-90000", "-90000"}, {"90000", "300"}, {"300", "90000"}};
    for (const auto& [left, top] : away) {
        SCOPED_TRACE(std::string(left) + "," + top);
        Cfg_Put("fMain.Left", left);
        Cfg_Put("fMain.Top", top);
        EXPECT_EQ(Load().pos(), first);
        window.reset();
    }
    // Partly off the screen, but with room to take hold of: where it was saved.
    Cfg_Put("fMain.Left", "-600");
    Cfg_Put("fMain.Top", "1500");
    EXPECT_EQ(Load().pos(), QPoint(Twips_ToPxX(-600), Twips_ToPxY(1500)));
}

TEST_F(MainWindow, StartAndEndAreInTheEventLogWithTheUserAndAllowFromEntriesItCannotReadAreShownAtOnce)
{
    Cfg_Put("AllowFrom", "192.168.1.0/24;kassa7");
    Load();
    EXPECT_TRUE(Caption("lError").endsWith(
        U("Seade AllowFrom \"192.168.1.0/24;kassa7\": kirjed, mis ei ole aadress ega võrk, ei lase kedagi sisse: kassa7")))
        << Caption("lError").toStdString();
    EXPECT_EQ(Err_Record(Err_Index()).description, "AllowFrom \"192.168.1.0/24;kassa7\": no address or network, so it lets nobody in: kassa7");
    Unload();
    const std::string admin = "Admin " + Log_AdminUser() + ": ";
    const std::string pid = std::to_string(QCoreApplication::applicationPid());
    EXPECT_EQ(LogRows("Object LIKE 'Admin %'"), (std::vector<std::string>{admin + "terminal käivitus, protsess " + pid,
                                                                          admin + "terminal lõpetab, protsess " + pid}));
}

TEST_F(MainWindow, TheConsoleActsOnEveryAnswerTypeNumbersItsOwnAndDropsWhatItCannotRead)
{
    fMain& w = Load();
    // Two errors in a row leave the second shown and both logged.
    Err_Report(5, "first cause", "Esimene viga", 48);
    Err_Report(7, "second cause", "Teine viga", 48);
    EXPECT_EQ(Caption("lError"), Err_Record(Err_Index()).time.toString("HH:mm ") + "Teine viga");
    EXPECT_EQ(Find<QLabel>("lError")->toolTip(), QStringLiteral("7 - Teine viga (second cause)!"));
    EXPECT_EQ(LogRows(), (std::vector<std::string>{"System: 5 - Esimene viga (first cause)!",
                                                   "System: 7 - Teine viga (second cause)!"}));

    ConsoleReceives(wsInfo, "Kaart sisestatud");
    EXPECT_EQ(Caption("lConsole"), QStringLiteral("Kaart sisestatud"));
    ConsoleReceives(wsBusy, "07.12.2026 10:00:00\r\n");
    EXPECT_EQ(Caption("lConsole"), QStringLiteral("Kaart sisestatud"));
    ConsoleReceives(wsApproval, std::string(38, '\0'));
    EXPECT_EQ(Caption("lConsole"), QString());

    // Headless boxes answer with their defaults: an empty entry, and Yes of Yes/No.
    EXPECT_EQ(ConsoleAnswers(wsDialog, WS_DialogData("Kas kaart on olemas?", "jah")), "");
    EXPECT_EQ(ConsoleAnswers(9, WS_DialogData("Allkiri korras?", "36")), "6");  // question, Yes/No

    // The indicator names the cause; a verdict of the card centre says so.
    ConsoleReceives(wsError, WS_ErrorData(42, "Side katkes"));
    EXPECT_TRUE(Caption("lError").endsWith(" Side katkes"));
    EXPECT_EQ(Err_Record(Err_Index()).number, 42);
    ConsoleReceives(wsError, WS_ErrorData(32, Text_Utf8ToCp1252("Viga nr. 05 - Puudub müügiluba")));
    EXPECT_TRUE(Caption("lError").endsWith(U(" Kaardikeskus keeldus: Viga nr. 05 - Puudub müügiluba")));

    ConsoleReceives(21, "");
    EXPECT_TRUE(Caption("lError").endsWith(" Kaardikeskus keeldus tehingut sooritamast!"));

    ConsoleReceives(77, "a b%");
    EXPECT_TRUE(Caption("lError").endsWith(" Arusaamatu vastus: 77"));
    EXPECT_EQ(Err_Record(Err_Index()).details, "Data=a%20b%25");
    EXPECT_EQ(Err_Record(Err_Index()).flags, 16);

    // Its own transaction numbers count on in hexadecimal.
    const std::pair<const char*, const char*> numbers[] = {
        {"0", "00000001"}, {"9", "0000000A"}, {"FF", "00000100"}, {"0000ABCD", "0000ABCE"}, {"zz", "00000001"}};
    for (const auto& [stored, next] : numbers) {
        Cfg_Put("Console\\Trans", stored);
        EXPECT_EQ(w.cConsole_FindTrans(), next) << stored;
        EXPECT_EQ(Cfg_Get("Console\\Trans", ""), next);
    }
}

TEST_F(MainWindow, PrintRequestsComeInPairsOnOnePageWithEveryLineOfTheLongerReceipt)
{
    fMain& w = Load();
    std::vector<std::string> printed;
    w.printDocument = [&](const std::string& page) {
        printed.push_back(page);
        return true;
    };
    EXPECT_EQ(ConsoleAnswers(wsPrint, "A1\r\nA2"), "-1");
    EXPECT_TRUE(printed.empty());
    EXPECT_EQ(ConsoleAnswers(wsPrint, "B1\r\nB2\r\nB3"), "-1");
    ASSERT_EQ(printed.size(), 1u);
    const std::string pad34(34, ' '), indent(7, ' ');
    EXPECT_EQ(printed[0], indent + "A1" + pad34 + "  |  B1" + pad34 + "\r\n" +
                          indent + "A2" + pad34 + "  |  B2" + pad34 + "\r\n" +
                          indent + std::string(36, ' ') + "  |  B3" + pad34);
    EXPECT_TRUE(w.pendingReceipt().empty());

    // A line longer than the column widens both columns: nothing is cut inside a time or an amount.
    const std::string longLine = "Kassa: 007  Kuup: 2026-12-08 02:09:07";
    ConsoleAnswers(wsPrint, longLine);
    ConsoleAnswers(wsPrint, longLine);
    ASSERT_EQ(printed.size(), 2u);
    EXPECT_EQ(printed[1], indent + longLine + "  |  " + longLine);

    w.printDocument = [](const std::string&) { return false; };
    EXPECT_EQ(ConsoleAnswers(wsPrint, "C1"), "-1");
    EXPECT_EQ(ConsoleAnswers(wsPrint, "D1"), "0");
}

TEST_F(MainWindow, TheWindowShowsItsCaptionsAndItsMenuPopsUpBelowTheButtonAndOpensTheSettingsDialogOnce)
{
    fMain& w = Load();
    w.show();
    QStringList items;
    for (QAction* a : w.menu().actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + "=" + a->text());
    EXPECT_EQ(items, (QStringList{"mTooSeaded=S&eadista", "-", "mTooSendFile=&Saada tehingud", "mTooVead=&Vigade arhiiv",
                                  U("mTooPaevik=&Päevik\tCtrl+J"), "-", U("mTooLopp=&Lõpp")}));
    EXPECT_EQ(w.menu().title(), U("Töö"));

    // What the operator reads on the buttons and labels of a fresh window.
    QStringList shown;
    for (const char* name : {"cErrLog", "cMenu", "cTehing", "cTyhista"}) shown << Find<QPushButton>(name)->text();
    for (const char* name : {"lCount", "lConsole", "lbViga", "lbKaart", "lbSumma", "lbNumber", "lError"})
        shown << Caption(name);
    EXPECT_EQ(shown, (QStringList{"&Vigade arhiiv", "&Seaded...", "&Tehing", U("Tü&hista"), U("0 saatmata päringut"),
                                  "Ootan...", "V&iga:", "&Kaart:", "S&umma:", "Number:", ""}));
    QList<QGroupBox*> frames = window->findChildren<QGroupBox*>(QStringLiteral("Frames"));
    ASSERT_EQ(frames.size(), 2);
    std::sort(frames.begin(), frames.end(), [](auto* a, auto* b) { return a->property("index").toInt() < b->property("index").toInt(); });
    EXPECT_EQ(frames[0]->title(), U(" Süsteem "));
    EXPECT_EQ(frames[1]->title(), U(" Tehingud "));
    EXPECT_TRUE(Find("pTraffic")->isVisible() && Find("tKaart")->isVisible() && frames[1]->isVisible());
    EXPECT_TRUE(frames[0]->isAncestorOf(Find("pTraffic")) && frames[1]->isAncestorOf(Find("tKaart")));
    EXPECT_EQ(Find("pTraffic")->property("Picture").toInt(), 1);
    for (const char* hidden : {"cErrShow", "Timora1"}) EXPECT_FALSE(Find(hidden)->isVisible()) << hidden;
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tollan terminal"));
    // The transactions frame sits under the system frame, overlapping it by one line.
    EXPECT_EQ(frames[0]->y(), 0);
    EXPECT_EQ(frames[1]->y(), Twips_ToPxY(Twips_FromPxY(frames[0]->height()) - 15));
    EXPECT_EQ(window->width(), Twips_ToPxX(Twips_FromPxX(frames[1]->width()) + 90));
    EXPECT_NEAR(window->height(), frames[1]->y() + frames[1]->height() + Twips_ToPxY(45), 2);

    Find<QPushButton>("cMenu")->click();
    ASSERT_TRUE(w.menu().isVisible());
    const QWidget* button = Find("cMenu");
    EXPECT_EQ(w.menu().pos(), button->mapToGlobal(QPoint(0, button->height())));
    w.menu().hide();

    // Its settings item opens the dialog without blocking the window, and only once.
    QAction* open = w.menu().findChild<QAction*>(QStringLiteral("mTooSeaded"));
    ASSERT_NE(open, nullptr);
    open->trigger();
    open->trigger();
    const auto dialogs = w.findChildren<QWidget*>(QStringLiteral("fSeaded"));
    ASSERT_EQ(dialogs.size(), 1);
    EXPECT_TRUE(dialogs[0]->isVisible());
    EXPECT_FALSE(dialogs[0]->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // A send time applied there is the schedule from then on.
    for (auto* field : dialogs[0]->findChildren<QLineEdit*>(QStringLiteral("tSideAjad")))
        if (field->property("index").toInt() == 1)
            field->setText(QStringLiteral("* * * 22 30"));
    dialogs[0]->findChild<QPushButton*>(QStringLiteral("cApply"))->click();
    ASSERT_EQ(w.timora().Count(), 1);
    EXPECT_EQ(w.timora().Mask(1), QStringLiteral("* * * 22 30"));
}

TEST_F(MainWindow, TheTransferRunsForSideFromTheEventLoopOnceTheRequestsUnderWayHaveEnded)
{
    fMain& w = Load();
    int runs = 0;
    int pictureDuring = 0;
    w.sendTransFiles = [&]() -> Task<int> {
        ++runs;
        pictureDuring = Find("pTraffic")->property("Picture").toInt();
        Db_BeginTrans();  // a pass that leaves its transaction open
        co_return 0;
    };
    const auto settle = [] { Clock_WaitUntil([] { return false; }, 50); };

    w.Timora1_Alert(QStringLiteral("muu"), QString());
    settle();
    EXPECT_EQ(runs, 0);

    // A purchase under way: the transfer waits for it.
    bool release = false;
    WS_SetFlows({[&](WorkstationPacket p, Requester&) -> Task<WorkstationPacket> {
                     co_await Wait_Until([&] { return release; }, -1);
                     co_return p;
                 },
                 {}});
    FakeRegisters regs;
    regs.connected[3] = true;
    WorkstationPacket purchase;
    purchase.RequestType = wsPurchase;
    ASSERT_TRUE(w.service()->Submit(purchase, regs.At(3)));
    EXPECT_EQ(w.service()->running(), 1);
    w.Timora1_Alert(QStringLiteral("side"), QString());
    EXPECT_EQ(runs, 0);                      // never inside the scheduler's handler
    settle();
    w.Timora1_Timer();
    settle();
    EXPECT_EQ(runs, 0);
    release = true;
    Wait_Notify();
    settle();
    EXPECT_EQ(runs, 1);
    w.Timora1_Timer();
    settle();
    EXPECT_EQ(runs, 1);
    WS_SetFlows({});

    QAction* send = w.menu().findChild<QAction*>(QStringLiteral("mTooSendFile"));
    ASSERT_NE(send, nullptr);
    send->trigger();
    settle();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(pictureDuring, 2);
    EXPECT_EQ(Find("pTraffic")->property("Picture").toInt(), 1);
    EXPECT_FALSE(Db_InTransaction());
}

TEST_F(MainWindow, TheTickShowsTheUnsentRowsEveryTenSeconds)
{
    fMain& w = Load();
    TestClock clock(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0)));
    ClockScope scope(clock);
    w.Timora1_Timer();
    EXPECT_EQ(Caption("lCount"), U("0 saatmata päringut"));
    EXPECT_EQ(Caption("lDate"), QStringLiteral("pole veel saadetud"));

    const auto store = [](const char* pan, const char* trans, int date, int time) {
        TransRecord t;
        t.Type = 0;
        t.PAN = pan;
        t.Date = date;
        t.Time = time;
        t.Toojaam = "POS00002";
        t.Trans = trans;
        t.STAN = trans;
        Db_StoreTrans(t);
    };
    Cfg_Put("LastSent_TransFile", "20261206");
    store("5000000000000001", "1", 20261207, 93000);
    clock.setNow(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 5)));
    w.Timora1_Timer();  // not a tenth second: the labels stand
    EXPECT_EQ(Caption("lCount"), U("0 saatmata päringut"));
    clock.setNow(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 10)));
    w.Timora1_Timer();
    EXPECT_EQ(Caption("lCount"), U("1 saatmata päring"));
    EXPECT_EQ(Caption("lDate"), QStringLiteral("alates 07.12.2026 09:30"));   // the window's one date form

    // The first unsent row in card-number order, not the oldest.
    store("4000000000000002", "2", 20261207, 95900);
    clock.setNow(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 20)));
    w.Timora1_Timer();
    EXPECT_EQ(Caption("lCount"), U("2 saatmata päringut"));
    EXPECT_EQ(Caption("lDate"), QStringLiteral("alates 07.12.2026 09:59"));
}

TEST_F(MainWindow, APortAlreadyTakenOrSerialSettingsRefusedAreReportedAndStartUpGoesOn)
{
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
    Cfg_Put("Port", std::to_string(other.serverPort()));
    Cfg_Put("UseX25", "1");
    Cfg_Put("X25\\Settings", "fast,n,8,1");
    fMain& w = Load(false);
    EXPECT_NE(w.service()->listener().state(), kSockListening);
    ASSERT_GE(Err_Index(), 2);
    EXPECT_EQ(Err_Record(Err_Index()).number, 380);
    EXPECT_FALSE(Caption("lError").isEmpty());
    EXPECT_FALSE(X25_IsAttached());
    EXPECT_TRUE(w.timora().Enabled());

    // Settings the link accepts attach the port, which is opened only when a call needs it.
    window.reset();
    Cfg_Put("X25\\CommPort", "/dev/ttyUSB7");
    Cfg_Put("X25\\Settings", "19200,e,7,2");
    Cfg_Put("X25\\Handshaking", "0");
    fMain& again = Load();
    EXPECT_TRUE(X25_IsAttached());
    EXPECT_EQ(again.comm().portName(), QStringLiteral("ttyUSB7"));
    EXPECT_EQ(again.comm().baudRate(), 19200);
    EXPECT_FALSE(again.comm().isOpen());
    window.reset();
    EXPECT_FALSE(X25_IsAttached());
}

TEST_F(MainWindow, Timora1sAlertAtAScheduledTimeSendsTheFileOnce)
{
    TimoraTestClock schedule(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)));
    TimoraClockScope scope(schedule);
    Cfg_Put("SendTransTime1", "* * * 12 0");
    Cfg_Put("SendTransTime3", "* * * 18 00");   // the schedule ends at the first empty time
    fMain& w = Load();
    ASSERT_EQ(w.timora().Count(), 1);
    EXPECT_EQ(w.timora().Category(1), QStringLiteral("side"));
    EXPECT_EQ(w.timora().Action(1), QString());
    w.timora().Insert(QStringLiteral("* * * 12 0"), QStringLiteral("muu"), QString());
    int runs = 0, ticks = 0;
    w.sendTransFiles = [&]() -> Task<int> { co_return ++runs; };
    QObject::connect(&w.timora(), &Timora::Timer, [&] { ++ticks; });
    w.timora().Interval(1);
    ASSERT_TRUE(Clock_WaitUntil([&] { return ticks >= 5; }, 5000));
    EXPECT_EQ(runs, 1);  // one "side" entry, once in its minute; the other category does nothing
}

} // namespace
