// Who may act on the terminal, and the record of it, as the real programs do it: every setting
// changed by `tollan config set` in the event log with the user who changed it (a password as "***").
#include "tests/common/shop.h"

#include <QProcessEnvironment>

#include <pwd.h>
#include <unistd.h>

namespace {

using namespace tollan::test;

QString UserName()
{
    const passwd* p = ::getpwuid(::getuid());
    return p ? QString::fromLocal8Bit(p->pw_name) : QString::number(::getuid());
}

// The process has no login of its own, so that sudo's word is what names the person.
bool NoLoginUid()
{
    QFile f("/proc/self/loginuid");
    return !f.open(QIODevice::ReadOnly) || f.readAll().trimmed() == "4294967295";
}

TEST_F(Shop, EverySettingThatConfigSetChangesIsInTheEventLogWithWhoChangedItAndNoPassword)
{
    StartTerminal();   // holding tollan.mdb open, as a shop's terminal does
    Config("X25\\Password", "salajane");
    Config("X25\\Password", "uus-salajane");
    Config("Port", QString::number(port));   // no change, no record
    Config("FirmaNimi", QString::fromUtf8("Kohvik Õun"));
    QProcess sudo;   // as `sudo -u tollan tollan config set` runs it
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SUDO_USER", "mari");
    sudo.setProcessEnvironment(env);
    sudo.start(TOLLAN_EXE, {"--home", home.path(), "config", "set", "RAS\\Password", ""});
    ASSERT_TRUE(sudo.waitForFinished(10000));
    EXPECT_EQ(sudo.exitCode(), 0);

    const QString admin = "Admin " + UserName();
    const QString mari = NoLoginUid() ? admin + " (mari)" : admin;
    EXPECT_EQ(Rows("SELECT Object, Message FROM Log WHERE Message LIKE 'config:%' ORDER BY rowid"),
              (QStringList{admin + QString("|config: Port (puudus) -> %1").arg(port),
                           admin + QString("|config: Tollan_Auth_Address (puudus) -> 127.0.0.1:%1").arg(centrePort),
                           admin + QString("|config: Tollan_Trans_Address (puudus) -> 127.0.0.1:%1").arg(centrePort),
                           admin + "|config: X25\\Password (puudus) -> ***", admin + "|config: X25\\Password *** -> ***",
                           admin + QString::fromUtf8("|config: FirmaNimi (puudus) -> Kohvik Õun"),
                           mari + "|config: RAS\\Password (puudus) -> \"\""}));

    // Where tollan.mdb cannot take it, the record goes to tollan.err: nothing is lost unsaid.
    StopTerminal();
    QFile db(home.filePath("tollan.mdb"));
    ASSERT_TRUE(db.open(QIODevice::WriteOnly | QIODevice::Truncate));
    db.write(QByteArray(4096, 'x'));   // no database any more, and left as it is
    db.close();
    Config("FirmaLinn", "Tartu");
    EXPECT_TRUE(Lines("tollan.err").join('\n').contains(
        QString::fromUtf8("Sündmuste logi ei võtnud kirjet: %1: config: FirmaLinn (puudus) -> Tartu").arg(admin)))
        << Lines("tollan.err").join('\n').toStdString();
    EXPECT_EQ(Setting("FirmaLinn"), "Tartu");
}

} // namespace
