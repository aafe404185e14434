// The settings dialog on the offscreen platform: what it loads, what it saves and when.
#include "settings/fseaded.h"

#include "support/config.h"
#include "support/home.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;

namespace {

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        Home_Set(home.path());
        Cfg_Reset();
        Cfg_SetRoot(kCfgRoot);
    }
    QByteArray Ini() const
    {
        QFile f(home.filePath("registry.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    template <class T> T* Find(fSeaded& d, const char* name) { return d.findChild<T*>(QString::fromLatin1(name)); }
    QPushButton* Apply(fSeaded& d) { return Find<QPushButton>(d, "cApply"); }
    // The settings as saved: every "name=value" line of registry.ini.
    QList<QByteArray> SavedValues() const
    {
        QList<QByteArray> values;
        for (const QByteArray& line : Ini().split('\n'))
            if (line.contains('=')) values << line.trimmed();
        return values;
    }

    QTemporaryDir home;
};

TEST_F(SettingsDialog, EveryFieldOfTheTableIsThereUnderItsName)
{
    fSeaded d;
    const char* names[] = {"tFirmaNimi", "tFirmaAadress", "tFirmaLinn", "tFirmaZip", "tFirmaRegNr", "tFirmaTunnus",
                           "tFirmaLokaator", "tFirmaMCC", "tTerminal", "tAddrTCPauth", "tAddrTCPfile", "tAddrX25auth",
                           "tAddrX25file", "tX25Number", "tX25UserName", "tX25Password", "tModemInit", "tModemSettings",
                           "cmPort", "cmSpeed", "cmParity", "cmDataBits", "cmStopBits", "cmFlowControl", "chUseRAS",
                           "tRASconnectoid", "tRASusername", "tRASpassword", "tRASdomain", "tRAStimeout", "tTOauth",
                           "tTOconnect", "tTOws", "tKviitung", "tKviitungTyhista", "tSideAjad", "TabStrip1", "cOK",
                           "cApply", "cCancel"};
    for (const char* n : names) EXPECT_NE(d.findChild<QWidget*>(QString::fromLatin1(n)), nullptr) << n;
    EXPECT_EQ(Find<QTabBar>(d, "TabStrip1")->count(), int(Settings_Pages().size()));
    EXPECT_EQ(d.findChildren<QFrame*>(QStringLiteral("Frame")).size(), qsizetype(Settings_Pages().size()));
}

TEST_F(SettingsDialog, LoadsWithTheReadersDefaultsAndSplitsTheLineSettings)
{
    Cfg_Put("X25\\Settings", "19200,e,7,2");
    Cfg_Put("X25\\Handshaking", "1");
    Cfg_Put("UseRAS", "-1");
    fSeaded d;
    EXPECT_EQ(Find<QLineEdit>(d, "tTOws")->text(), QStringLiteral("120"));
    EXPECT_EQ(Find<QLineEdit>(d, "tModemInit")->text(), QStringLiteral("atz"));
    EXPECT_EQ(Find<QLineEdit>(d, "tRAStimeout")->text(), QStringLiteral("10"));
    EXPECT_EQ(Find<QComboBox>(d, "cmSpeed")->currentData().toString(), QStringLiteral("19200"));
    EXPECT_EQ(Find<QComboBox>(d, "cmParity")->currentData().toString(), QStringLiteral("e"));
    EXPECT_EQ(Find<QComboBox>(d, "cmDataBits")->currentData().toString(), QStringLiteral("7"));
    EXPECT_EQ(Find<QComboBox>(d, "cmStopBits")->currentData().toString(), QStringLiteral("2"));
    EXPECT_EQ(Find<QComboBox>(d, "cmFlowControl")->currentData().toString(), QStringLiteral("1"));
    EXPECT_TRUE(Find<QCheckBox>(d, "chUseRAS")->isChecked());
    EXPECT_FALSE(Apply(d)->isEnabled());
}

TEST_F(SettingsDialog, OkWithoutAChangeSavesNothing)
{
    fSeaded d;
    const QByteArray before = Ini();
    Find<QPushButton>(d, "cOK")->click();
    EXPECT_EQ(Ini(), before);
}

TEST_F(SettingsDialog, AChangeUndoneKeepsApplyEnabled)
{
    fSeaded d;
    QLineEdit* name = Find<QLineEdit>(d, "tFirmaNimi");
    name->setText(QStringLiteral("Pood"));
    name->setText(QString());
    EXPECT_TRUE(Apply(d)->isEnabled());
}

TEST_F(SettingsDialog, ApplyStoresOnlyTheChangedFieldsAndComposesTheLine)
{
    Cfg_Put("FirmaLinn", "Tartu");
    fSeaded d;
    Cfg_Put("FirmaLinn", "Narva");  // changed behind the dialog: not the operator's to overwrite
    Find<QLineEdit>(d, "tFirmaAadress")->setText(QString::fromUtf8("Pikk 1"));
    Find<QComboBox>(d, "cmSpeed")->setCurrentIndex(Find<QComboBox>(d, "cmSpeed")->findData("2400"));
    Find<QComboBox>(d, "cmFlowControl")->setCurrentIndex(3);
    Apply(d)->click();
    EXPECT_EQ(Cfg_Get("FirmaT\xE4nav", "?"), "Pikk 1");
    EXPECT_EQ(Cfg_Get("FirmaLinn", "?"), "Narva");
    EXPECT_EQ(Cfg_Get("X25\\Settings", "?"), "2400,n,8,1");
    EXPECT_EQ(Cfg_Get("X25\\Handshaking", "?"), "3");
    EXPECT_FALSE(Apply(d)->isEnabled());
    EXPECT_EQ(Find<QLineEdit>(d, "tFirmaLinn")->text(), QStringLiteral("Narva"));  // loaded again after Apply
}

TEST_F(SettingsDialog, AChangeIsAppliedBeforeAnotherPageIsShown)
{
    fSeaded d;
    Find<QLineEdit>(d, "tFirmaNimi")->setText(QStringLiteral("Pood"));
    Find<QTabBar>(d, "TabStrip1")->setCurrentIndex(2);
    EXPECT_EQ(Cfg_Get("FirmaNimi", "?"), "Pood");
    EXPECT_EQ(d.currentTab(), 3);
    EXPECT_FALSE(d.page(0)->isVisibleTo(&d));
    EXPECT_TRUE(d.page(2)->isVisibleTo(&d));

    // A disabled page is not shown: the strip stays where it was.
    d.page(4)->setEnabled(false);
    Find<QTabBar>(d, "TabStrip1")->setCurrentIndex(4);
    EXPECT_EQ(d.currentTab(), 3);
    EXPECT_EQ(Find<QTabBar>(d, "TabStrip1")->currentIndex(), 2);
}

TEST_F(SettingsDialog, TheChangeSetIsFiveWordsOfThirtyOneFlags)
{
    fSeaded d;
    for (int index : {0, 30, 31, 61, 62, 154}) {
        EXPECT_FALSE(d.IsChanged(index)) << index;
        d.SetChanged(index, true);
        EXPECT_TRUE(d.IsChanged(index)) << index;
    }
    EXPECT_FALSE(d.IsChanged(1));
    EXPECT_FALSE(d.IsChanged(32));
    d.SetChanged(31, false);
    EXPECT_FALSE(d.IsChanged(31));
    EXPECT_TRUE(d.IsChanged(30));
    EXPECT_FALSE(d.IsChanged(155));
}

TEST_F(SettingsDialog, EveryPageGrabbed)
{
    fSeaded d;
    d.show();
    const QString dir = qEnvironmentVariable("TOLLAN_SCREENSHOTS");
    if (!dir.isEmpty()) QDir().mkpath(dir);
    for (int tab = 1; tab <= int(Settings_Pages().size()); ++tab) {
        Find<QTabBar>(d, "TabStrip1")->setCurrentIndex(tab - 1);
        QCoreApplication::processEvents();
        ASSERT_EQ(d.currentTab(), tab);
        const QImage shot = d.grab().toImage();
        EXPECT_EQ(shot.size(), d.size() * d.devicePixelRatio());
        if (!dir.isEmpty()) {
            EXPECT_TRUE(shot.save(dir + QStringLiteral("/settings-page-%1.png").arg(tab)));
        }
    }
}

TEST_F(SettingsDialog, EveryTextFieldIsSavedAndShownAgainWhenTheDialogOpensAgain)
{
    {
        fSeaded d;
        for (const SettingsField& f : Settings_Fields())
            if (f.kind == FieldKind::Text || f.kind == FieldKind::Password)
                Find<QLineEdit>(d, f.name)->setText(QString::fromLatin1(f.name) + "1");
        Find<QPushButton>(d, "cOK")->click();
    }
    fSeaded again;
    for (const SettingsField& f : Settings_Fields()) {
        if (f.kind == FieldKind::Text || f.kind == FieldKind::Password) {
            EXPECT_EQ(Find<QLineEdit>(again, f.name)->text().toStdString(), std::string(f.name) + "1");
        }
    }
    // The postal code has a setting of its own; the activity code is the one element 18 and the
    // transaction file read, under either spelling.
    EXPECT_EQ(Cfg_Lookup("FirmaPostiindeks", "?"), "tFirmaZip1");
    EXPECT_EQ(Cfg_Lookup("TegevusAla", "?"), "tFirmaMCC1");
}

TEST_F(SettingsDialog, OpeningWritesNothingAndApplyWritesOnlyTheChangedField)
{
    fSeaded d;
    EXPECT_EQ(Find<QLineEdit>(d, "tTOconnect")->text(), QStringLiteral("60"));
    EXPECT_EQ(Find<QLineEdit>(d, "tFirmaMCC")->text(), QStringLiteral("0000"));
    EXPECT_EQ(SavedValues(), QList<QByteArray>());
    Find<QLineEdit>(d, "tFirmaNimi")->setText(QStringLiteral("Pood"));
    Apply(d)->click();   // saves, then loads every field again
    Find<QPushButton>(d, "cOK")->click();
    // "TimeOut\Connect" absent is 60 seconds for the card centre but 30 for the modem's dial.
    EXPECT_EQ(SavedValues(), QList<QByteArray>{"FirmaNimi=Pood"});
}

} // namespace
