// The settings dialog on the offscreen platform: what it shows, what it saves and when.
#include "settings/fseaded.h"

#include "timora/timora_clock.h"
#include "store/admin_log.h"
#include "store/db.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/msgbox.h"
#include "tests/common/boxes.h"
#include "tests/common/test_home.h"
#include "tests/common/wrong_settings.h"
#include "settings/known.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QScreen>
#include <QSerialPortInfo>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

using namespace tollan;

namespace {

bool Typed(const SettingsField& f) { return f.kind == FieldKind::Text || f.kind == FieldKind::Password || f.kind == FieldKind::File; }

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        test::UseTestHome(home.path());
        Cfg_Reset();
    }
    void TearDown() override { Ui_SetHeadless(true); }
    QByteArray Ini() const
    {
        QFile f(home.filePath("registry.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The settings as saved: every "name=value" line of registry.ini.
    QList<QByteArray> SavedValues() const
    {
        QList<QByteArray> values;
        for (const QByteArray& line : Ini().split('\n'))
            if (line.contains('=')) values << line.trimmed();
        return values;
    }
    template <class T> static T* Find(fSeaded& d, const char* name) { return d.findChild<T*>(QString::fromLatin1(name)); }
    static QPushButton* Apply(fSeaded& d) { return Find<QPushButton>(d, "cApply"); }
    static QTabBar* Tabs(fSeaded& d) { return Find<QTabBar>(d, "TabStrip1"); }
    // The widget named `name`, the one with `index` among those of that name (the send times).
    template <class T> static T* Named(fSeaded& d, const char* name, int index = -1)
    {
        for (T* w : d.findChildren<T*>(QString::fromLatin1(name)))
            if (index < 0 || w->property("index").toInt() == index) return w;
        return nullptr;
    }
    // Does what `act` does as the operator would, answering the message box it raises with the
    // box's default button; the box's text, or a null text when none came.
    static QString AnsweringTheBox(const std::function<void()>& act)
    {
        Ui_SetHeadless(false);
        QString text;
        QTimer::singleShot(0, [&text] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                box->defaultButton()->click();
            }
        });
        act();
        QCoreApplication::processEvents();  // the answer's turn when no box came
        Ui_SetHeadless(true);
        return text;
    }

    // A value the field's setting takes: its name and "1" where any text will do.
    QString Sample(const SettingsField& f) const
    {
        const std::map<std::string, QString> forms = {
            {"Tegevusala", "5999"}, {"Tollan_Auth_Address", "10.0.0.6:9102"}, {"Tollan_Trans_Address", "10.0.0.6:9103"},
            {"TimeOut\\Auth", "45"}, {"TimeOut\\Connect", "46"}, {"Timeout\\Workstation", "47"},
            {"TLS\\CAFile", QDir(home.path()).filePath("ca.pem")}, {"TLS\\CertFile", QDir(home.path()).filePath("cert.pem")},
            {"TLS\\KeyFile", QDir(home.path()).filePath("key.pem")},
            {"TLS\\Pin", "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU="}, {"RAS\\KeepActive", "20"}, {"Port", "1290"},
            {"ListenAddress", "10.0.0.7"}, {"AllowFrom", "10.0.0.0/8"}};
        const auto it = forms.find(f.key);
        if (it == forms.end()) return QString::fromLatin1(f.name) + "1";
        if (it->second.startsWith('/')) {
            QFile file(it->second);
            file.open(QIODevice::WriteOnly);
        }
        return it->second;
    }

    QTemporaryDir home;
};

// With TOLLAN_SCREENSHOTS=DIR, under a real display (`xvfb-run -a env QT_QPA_PLATFORM=xcb
// TOLLAN_SCREENSHOTS=docs/screenshots build/tests/settings/settings_tests --gtest_filter='*EveryPage*'`),
// the pages of a configured shop are written there for the documentation.
TEST_F(SettingsDialog, EveryPageShowsItsSettingsAndEveryTypedFieldIsSavedAndShownAgain)
{
    TimoraTestClock clock(QDateTime(QDate(2026, 12, 7), QTime(14, 5)));   // a Monday
    TimoraClockScope scope(clock);
    const std::pair<const char*, const char*> shop[] = {
        {"FirmaNimi", "Kohvik \xD5un O\xDC"}, {"FirmaT\xE4nav", "P\xE4rnu mnt 5"}, {"FirmaLinn", "Tallinn"},
        {"FirmaPostiindeks", "10148"}, {"FirmaRegNr", "10203040"}, {"FirmaTunnus", "12345"},
        {"FirmaLokaator", "Tallinn, P\xE4rnu mnt 5"}, {"Tegevusala", "5812"}, {"TerminaliTunnus", "TERM0001"},
        {"Tollan_Auth_Address", "10.0.0.5:9100"}, {"Tollan_Trans_Address", "10.0.0.5:9101"},
        {"X25\\Number", "5551234"}, {"X25\\Auth_Address", "20041"}, {"X25\\Trans_Address", "20042"},
        {"PrintSuccess", "{Name};%0D%0A;{Address}; ;{Zip};%0D%0A;Kaart ;{PANhidden};%0D%0A;Summa%3A ;{Amount}"},
        {"SendTransTime1", "* * * 22 30"}, {"SendTransTime2", "* * * 8 0 1"}, {"SendTransTime3", "* * 1 6 0"},
        {"UseTLS", "1"}, {"TLS\\CAFile", "/etc/tollan/kaardikeskus-ca.pem"}, {"TLS\\CertFile", "/etc/tollan/terminal.pem"},
        {"TLS\\KeyFile", "/etc/tollan/terminal.key"}, {"AllowFrom", "192.168.1.0/24;10.1.2.3"},
    };
    for (const auto& [key, value] : shop) Cfg_Put(key, value);
    const QString dir = qEnvironmentVariable("TOLLAN_SCREENSHOTS");
    if (!dir.isEmpty()) QDir().mkpath(dir);
    {
        fSeaded d;
        d.show();
        ASSERT_EQ(Tabs(d)->count(), int(Settings_Pages().size()));
        for (int tab = 1; tab <= Tabs(d)->count(); ++tab) {
            Tabs(d)->setCurrentIndex(tab - 1);
            QCoreApplication::processEvents();
            ASSERT_EQ(d.currentTab(), tab);
            EXPECT_EQ(Tabs(d)->tabText(tab - 1), QString::fromUtf8(Settings_Pages()[tab - 1]));
            // Each field of the page is shown with what the registry holds, or its readers' default.
            for (const SettingsField& f : Settings_Fields()) {
                if (f.page != tab - 1 || !(Typed(f) || f.kind == FieldKind::Mask)) continue;
                SCOPED_TRACE(f.key);
                auto* field = Named<QLineEdit>(d, f.name, f.index);
                ASSERT_NE(field, nullptr);
                EXPECT_TRUE(field->isVisible());
                EXPECT_EQ(field->text(), Text_ToQString(Cfg_Lookup(Text_Utf8ToCp1252(f.key), f.def)));
            }
            if (!dir.isEmpty()) {
                EXPECT_TRUE(d.grab().save(dir + QStringLiteral("/settings-page-%1.png").arg(tab)));
            }
        }
        EXPECT_TRUE(Find<QCheckBox>(d, "chUseTLS")->isChecked());
        for (const SettingsField& f : Settings_Fields()) {
            if (Typed(f)) Named<QLineEdit>(d, f.name)->setText(Sample(f));
        }
        Find<QPushButton>(d, "cOK")->click();
    }
    fSeaded again;
    for (const SettingsField& f : Settings_Fields()) {
        if (Typed(f)) {
            EXPECT_EQ(Named<QLineEdit>(again, f.name)->text(), Sample(f));
        }
    }
    // The postal code has a setting of its own; the activity code is the one element 18 and the
    // transaction file read, under either spelling.
    EXPECT_EQ(Cfg_Lookup("FirmaPostiindeks", "?"), "tFirmaZip1");
    EXPECT_EQ(Cfg_Lookup("TegevusAla", "?"), "5999");
}

TEST_F(SettingsDialog, TheLineSettingsAreSplitIntoTheirListsAndComposedAgainAndTheTlsFilesAreChosenWithAFileDialog)
{
    Cfg_Put("X25\\Settings", "19200,e,7,2");
    Cfg_Put("X25\\Handshaking", "1");
    Cfg_Put("UseRAS", "-1");
    Cfg_Put("FirmaLinn", "Tartu");
    fSeaded d;
    const std::pair<const char*, const char*> lists[] = {
        {"cmSpeed", "19200"}, {"cmParity", "e"}, {"cmDataBits", "7"}, {"cmStopBits", "2"}, {"cmFlowControl", "1"}};
    for (const auto& [name, shown] : lists) EXPECT_EQ(Find<QComboBox>(d, name)->currentData().toString(), shown) << name;
    EXPECT_TRUE(Find<QCheckBox>(d, "chUseRAS")->isChecked());
    EXPECT_FALSE(Apply(d)->isEnabled());

    Cfg_Put("FirmaLinn", "Narva");  // changed behind the dialog: not the operator's to overwrite
    Find<QLineEdit>(d, "tFirmaAadress")->setText(QString::fromUtf8("Pikk 1"));
    Find<QComboBox>(d, "cmSpeed")->setCurrentIndex(Find<QComboBox>(d, "cmSpeed")->findData("2400"));
    Find<QComboBox>(d, "cmFlowControl")->setCurrentIndex(3);
    Apply(d)->click();
    EXPECT_EQ(Cfg_Get("FirmaT\xE4nav", "?"), "Pikk 1");
    EXPECT_EQ(Cfg_Get("FirmaLinn", "?"), "Narva");
    EXPECT_EQ(Cfg_Get("X25\\Settings", "?"), "2400,e,7,2");
    EXPECT_EQ(Cfg_Get("X25\\Handshaking", "?"), "3");
    EXPECT_FALSE(Apply(d)->isEnabled());
    EXPECT_EQ(Find<QLineEdit>(d, "tFirmaLinn")->text(), QStringLiteral("Narva"));  // loaded again after Apply

    // The card centre's TLS files are chosen with a file dialog.
    const QString ca = QDir(home.path()).filePath("ca.pem");
    QFile(ca).open(QIODevice::WriteOnly);
    test::Operator person;
    person.answers = {{"OK", ca}};
    d.findChild<QToolButton*>(QStringLiteral("tTLSCAFileVali"))->click();
    EXPECT_EQ(Find<QLineEdit>(d, "tTLSCAFile")->text(), ca);
    Find<QPushButton>(d, "cOK")->click();
    EXPECT_EQ(Cfg_Lookup("TLS\\CAFile", "?"), ca.toStdString());
}

TEST_F(SettingsDialog, EachSettingTheOperatorChangesIsInTheEventLogWithWhoChangedItAndNoPassword)
{
    ASSERT_TRUE(Db_Open());
    Cfg_Put("Port", "1280");
    Cfg_Put("X25\\Password", "vana");
    Cfg_Put("FirmaLinn", "Tallinn");
    auto adminRows = [] {
        QStringList rows;
        QSqlQuery q(Db_Database());
        q.exec("SELECT Object || ': ' || Message FROM Log WHERE Object LIKE 'Admin %' ORDER BY rowid");
        while (q.next()) rows << q.value(0).toString();
        return rows;
    };
    const QString admin = "Admin " + QString::fromStdString(Log_AdminUser()) + ": Seadista: ";
    {
        fSeaded d;
        Find<QLineEdit>(d, "tPort")->setText("1290");
        Find<QLineEdit>(d, "tX25Password")->setText("uus");
        Find<QLineEdit>(d, "tFirmaLinn")->setText("Tartu");   // touched, then as it was: no change
        Find<QLineEdit>(d, "tFirmaLinn")->setText("Tallinn");
        Find<QComboBox>(d, "cmSpeed")->setCurrentIndex(Find<QComboBox>(d, "cmSpeed")->findData("19200"));
        Apply(d)->click();
    }
    EXPECT_EQ(adminRows(), (QStringList{admin + "X25\\Password *** -> ***", admin + "Port 1280 -> 1290",
                                        admin + "X25\\Settings (puudus) -> 19200,n,8,1"}));
    // Where the event log cannot take it, the record goes to tollan.err.
    Db_Database().close();
    {
        fSeaded d;
        Find<QLineEdit>(d, "tFirmaLinn")->setText("Tartu");
        Apply(d)->click();
    }
    QFile log(home.filePath("tollan.err"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QString::fromUtf8("Sündmuste logi ei võtnud kirjet: ") + admin +
                                                          "FirmaLinn Tallinn -> Tartu"));
}

TEST_F(SettingsDialog, OpeningWritesNothingAChangeIsSavedAloneBeforeAnotherPageAndTemplatesAreStoredExactly)
{
    fSeaded d;
    Find<QPushButton>(d, "cOK")->click();
    EXPECT_EQ(SavedValues(), QList<QByteArray>());
    fSeaded again;
    QLineEdit* name = Find<QLineEdit>(again, "tFirmaNimi");
    name->setText(QStringLiteral("Pood"));
    name->setText(QString());
    EXPECT_TRUE(Apply(again)->isEnabled());   // a change undone is still a change
    name->setText(QStringLiteral("Pood"));
    Tabs(again)->setCurrentIndex(2);   // saves, then loads every field again, then shows the page
    EXPECT_EQ(again.currentTab(), 3);
    EXPECT_FALSE(again.page(0)->isVisibleTo(&again));
    EXPECT_TRUE(again.page(2)->isVisibleTo(&again));
    // "TimeOut\Connect" absent is 60 seconds for the card centre but 30 for the modem's dial.
    EXPECT_EQ(SavedValues(), QList<QByteArray>{"FirmaNimi=Pood"});
    // A disabled page is not shown: the strip stays where it was.
    again.page(4)->setEnabled(false);
    Tabs(again)->setCurrentIndex(4);
    EXPECT_EQ(again.currentTab(), 3);
    EXPECT_EQ(Tabs(again)->currentIndex(), 2);

    // A receipt template is edited line by line and stored as one line exactly.
    fSeaded edit;
    QPlainTextEdit* success = Find<QPlainTextEdit>(edit, "tKviitung");
    success->setPlainText(QStringLiteral("Pood\n{Name}\n{Zip}"));
    Apply(edit)->click();
    // Each line break an item of its own: written after "{Name}" it would read as the field's picture.
    EXPECT_EQ(Cfg_Lookup("PrintSuccess", "?"), "Pood;%0D%0A;{Name};%0D%0A;{Zip}");
    EXPECT_EQ(success->toPlainText(), QStringLiteral("Pood\n{Name}\n{Zip}"));

    // What was stored in any form comes back as it was, with the operator's addition only.
    const char* stored[] = {
        "%0D%0A;{Name};%0D%0A;Reg. nr.%3A ;{RegNr};%0D%0A;%0D%0A;KVIITUNG;%0D%0A;",
        "a;%0D%0A;;%0D%0A;b", "x%0D%0Ay;;", ";%0D%0A;",
    };
    for (const char* tpl : stored) {
        Cfg_Put("PrintReversal", tpl);
        fSeaded reopened;
        QPlainTextEdit* reversal = Find<QPlainTextEdit>(reopened, "tKviitungTyhista");
        reversal->moveCursor(QTextCursor::End);
        reversal->insertPlainText(QStringLiteral("Z"));
        Apply(reopened)->click();
        EXPECT_EQ(Cfg_Lookup("PrintReversal", "?"), std::string(tpl) + "Z") << tpl;
    }

    Tabs(edit)->setCurrentIndex(4);
    for (QLabel* note : edit.findChildren<QLabel*>(QStringLiteral("lKviitungTyhi"))) {
        EXPECT_TRUE(note->isVisibleTo(&edit));
        EXPECT_EQ(note->text(), QString::fromUtf8("Tühi: sisseehitatud kviitung"));
    }
    EXPECT_EQ(edit.findChildren<QLabel*>(QStringLiteral("lKviitungTyhi")).size(), 2);
}

TEST_F(SettingsDialog, ASendTimeIsSavedOnlyAsAMaskTheSchedulerReads)
{
    const std::pair<const char*, bool> cases[] = {
        {"* * * 22 30", true}, {"* * * 8 0 1", true}, {"26 12 24 9 05", true}, {"", true}, {"22:30", false},
        {"* * * 22", false}, {"* * * 25 0", false}, {"* * 32 22 30", false}, {"* * * 22 30 8", false},
        {"* * * 22 30 e", false}, {"* *  * 22 30", false}, {"* * * 22 30 1 1", false}, {"* * * 22 3O", false},
    };
    for (const auto& [typed, saved] : cases) {
        SCOPED_TRACE(typed);
        Cfg_Put("SendTransTime3", "* * * 6 0");
        fSeaded d;
        d.show();
        Tabs(d)->setCurrentIndex(5);
        QLineEdit* field = Named<QLineEdit>(d, "tSideAjad", 3);
        field->setText(QString::fromLatin1(typed));
        const QString box = AnsweringTheBox([&] { Find<QPushButton>(d, "cOK")->click(); });
        EXPECT_EQ(Cfg_Lookup("SendTransTime3", "?"), saved ? typed : "* * * 6 0");
        EXPECT_EQ(d.isVisible(), !saved);
        if (saved) {
            EXPECT_TRUE(box.isNull());
            continue;
        }
        EXPECT_TRUE(box.contains(QStringLiteral("* * * 22 30"))) << box.toStdString();
        EXPECT_EQ(d.focusWidget(), field);
        // Another page is not shown while the time stands wrong.
        Tabs(d)->setCurrentIndex(0);
        EXPECT_EQ(d.currentTab(), 6);
        EXPECT_EQ(Cfg_Lookup("SendTransTime3", "?"), "* * * 6 0");
    }
}

TEST_F(SettingsDialog, EachSendTimeSaysWhenItNextFires)
{
    TimoraTestClock clock(QDateTime(QDate(2026, 12, 30), QTime(22, 40)));   // a Wednesday
    TimoraClockScope scope(clock);
    const std::pair<const char*, const char*> cases[] = {
        {"* * * 22 30", "järgmine: 31.12.2026 22:30"}, {"* * * 8 0 1", "järgmine: 04.01.2027 08:00"},
        {"2020 * * * *", "ei käivitu"}, {"22:30", "vigane"}, {"", ""},
        {"* * * 22 30", "ei käivitu"},   // the terminal reads the send times up to the first empty one
    };
    fSeaded d;
    for (int n = 1; n <= 6; ++n) Named<QLineEdit>(d, "tSideAjad", n)->setText(QString::fromUtf8(cases[n - 1].first));
    for (int n = 1; n <= 6; ++n) EXPECT_EQ(Named<QLabel>(d, "lSideAjad", n)->text().toStdString(), cases[n - 1].second) << n;
}
TEST_F(SettingsDialog, CtrlTabAndCtrlShiftTabTurnThePagesFromAnyField)
{
    struct Case { const char* focus; bool back; int tab; } cases[] = {
        {"tFirmaNimi", false, 2}, {"tAddrTCPauth", false, 3}, {"cmPort", true, 2}, {"tAddrTCPauth", true, 1},
        {"tFirmaNimi", true, 7},   // round the strip
        {"tAllowFrom", true, 6}, {"tSideAjad", true, 5}, {"tKviitung", false, 6},   // from the template
        {"tSideAjad", false, 7}, {"tAllowFrom", false, 1},
    };
    fSeaded d;
    d.show();
    QApplication::setActiveWindow(&d);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.focus);
        QWidget* field = d.findChild<QWidget*>(QString::fromLatin1(c.focus));
        field->setFocus();
        ASSERT_TRUE(field->hasFocus());
        QTest::keyClick(field, c.back ? Qt::Key_Backtab : Qt::Key_Tab,
                        c.back ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
        EXPECT_EQ(d.currentTab(), c.tab);
        EXPECT_TRUE(d.page(c.tab - 1)->isAncestorOf(QApplication::focusWidget()));
    }
}

TEST_F(SettingsDialog, OpensBesideItsParentRightThenLeftElseWhereItFits)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget probe;   // the frame a window gets around it here
    probe.show();
    const QSize frame = probe.frameGeometry().size() - probe.size();
    const int width = fSeaded().width() + frame.width();
    ASSERT_LT(width, screen.width());
    // The parent with its frame, and where the dialog's left edge goes (-1: anywhere on the screen).
    const int top = screen.top() + 40, wide = screen.width() - width;
    const std::pair<QRect, int> cases[] = {
        {QRect(screen.left(), top, wide, 200), screen.left() + wide},        // right of it
        {QRect(screen.left() + width, top, wide, 200), screen.left()},      // left of it
        {QRect(screen.left() + width / 2, top, wide, 200), -1},             // neither fits
    };
    for (const auto& [frameRect, left] : cases) {
        QWidget parent;
        parent.move(frameRect.topLeft());
        parent.resize(frameRect.size() - frame);
        parent.show();
        ASSERT_EQ(parent.frameGeometry(), frameRect);
        fSeaded d(&parent);
        d.show();
        const QRect at = d.frameGeometry();
        EXPECT_TRUE(left < 0 ? screen.contains(at) : at.left() == left) << at.x() << "," << at.y();
        EXPECT_EQ(at.top(), top);
    }
}

} // namespace

TEST_F(SettingsDialog, EachWrongValueMarksItsFieldAndOkIsRefusedWithTheReasonOverTheDialog)
{
    for (const test::WrongSetting& c : test::kWrongSettings) {
        if (!c.field) continue;
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        fSeaded d;
        d.show();
        QLineEdit* field = Named<QLineEdit>(d, c.field, c.index);
        ASSERT_NE(field, nullptr);
        field->setText(QString::fromUtf8(c.value));
        test::Operator person;
        person.answers = {{"OK"}};
        Ui_SetHeadless(false);
        Find<QPushButton>(d, "cOK")->click();
        Ui_SetHeadless(true);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(Ini(), QByteArray());
        ASSERT_EQ(person.seen.size(), 1u);
        const QString reason = QString::fromUtf8(c.estonian);
        // The mask's own text says the form at length.
        EXPECT_TRUE(person.seen[0].contains(c.index > 0 ? QStringLiteral("ei ole saatmisaeg") : reason)) << person.seen[0].toStdString();
        EXPECT_EQ(person.parentSeen, &d);
        EXPECT_TRUE(field->property("refused").toString().contains(reason)) << field->property("refused").toString().toStdString();
        EXPECT_TRUE(field->isVisible());   // its page is the one shown
        EXPECT_EQ(d.focusWidget(), field);
        // Typed again, the mark goes.
        field->setText(field->text() + "1");
        EXPECT_FALSE(field->property("refused").isValid());
    }
}

TEST_F(SettingsDialog, OpensWithTheFocusInItsFirstFieldAndEscapeAsksOverItBeforeThrowingChangesAway)
{
    fSeaded d;
    d.show();
    QApplication::processEvents();
    EXPECT_EQ(d.focusWidget(), Find<QLineEdit>(d, "tFirmaNimi"));
    QTest::keyClick(&d, Qt::Key_Escape);   // nothing changed: closed at once
    EXPECT_FALSE(d.isVisible());

    d.show();
    Find<QLineEdit>(d, "tFirmaLinn")->setText("Tartu");
    test::Operator person;
    person.answers = {{"Ei"}, {"Jah"}};
    Ui_SetHeadless(false);
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_TRUE(d.isVisible());   // "Ei": the changes stay to be applied
    EXPECT_EQ(person.parentSeen, &d);
    QTest::keyClick(&d, Qt::Key_Escape);
    Ui_SetHeadless(true);
    EXPECT_FALSE(d.isVisible());
    ASSERT_EQ(person.seen.size(), 2u);
    EXPECT_TRUE(person.seen[0].contains(QString::fromUtf8("salvestamata"))) << person.seen[0].toStdString();
    EXPECT_EQ(Ini(), QByteArray());
}

TEST_F(SettingsDialog, UseX25HasASwitchAndTheModemsPortIsAnyDeviceOfTheMachineOrAnyPathTyped)
{
    {
        fSeaded d;
        auto* x25 = Find<QCheckBox>(d, "chUseX25");
        ASSERT_NE(x25, nullptr);
        EXPECT_FALSE(x25->isChecked());
        x25->setChecked(true);
        auto* port = Find<QComboBox>(d, "cmPort");
        EXPECT_TRUE(port->isEditable());
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            if (!info.systemLocation().startsWith("/dev/ttyS"))
                EXPECT_GE(port->findData(info.systemLocation()), 0) << info.systemLocation().toStdString();
        port->setCurrentText("/dev/ttyUSB0");
        Apply(d)->click();
    }
    EXPECT_EQ(Cfg_Lookup("UseX25", "?"), "-1");
    EXPECT_EQ(Cfg_Lookup("X25\\CommPort", "?"), "/dev/ttyUSB0");
    fSeaded again;
    EXPECT_TRUE(Find<QCheckBox>(again, "chUseX25")->isChecked());
    auto* port = Find<QComboBox>(again, "cmPort");
    EXPECT_EQ(port->currentText(), QStringLiteral("/dev/ttyUSB0"));
    // A port of the list is stored as its number; its caption typed is the same port.
    port->setCurrentText(QStringLiteral("2 (/dev/ttyS1)"));
    Apply(again)->click();
    EXPECT_EQ(Cfg_Lookup("X25\\CommPort", "?"), "2");
}
