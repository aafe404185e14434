#pragma once
// A shop for the end-to-end and robustness tests: a home folder, a card-centre process, the
// terminal run headless and configured only with `tollan config set`, and registers as processes.
// What each side saw is read from outside: the registers' output and exit status, the card
// centre's output, the rows in tollan.mdb through Qt SQL, and the terminal's files.
#include "tests/peers/peer_process.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/mount.h>

namespace tollan::test {

// Lets the test's own processes' pipes be read while it waits.
inline void Pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class Shop : public ::testing::Test {
protected:
    // The home folder is a folder of its own inside the test's temporary one, so that a file
    // system may be mounted on it; the terminal's stderr goes beside it, to terminal.err.
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        // The card key the terminal makes at its first start goes beside the home folder, not into
        // the user's own configuration.
        qputenv("XDG_CONFIG_HOME", tmp.filePath("config").toLocal8Bit());
        home = QDir(tmp.filePath("home"));
        ASSERT_TRUE(home.mkpath("."));
        port = FreePort();
        centrePort = FreePort();
        written = {{"Port", QString::number(port)},
                   {"Tollan_Auth_Address", QString("127.0.0.1:%1").arg(centrePort)},
                   {"Tollan_Trans_Address", QString("127.0.0.1:%1").arg(centrePort)}};
        for (const auto& [key, value] : written)
            ASSERT_NO_FATAL_FAILURE(Config(key, value));
    }
    void TearDown() override
    {
        StopTerminal();
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
            ::umount2(it->toLocal8Bit().constData(), MNT_DETACH);
    }

    // The home folder on a small file system of its own, so that its disk can fill; false where
    // nothing can be mounted (the test needs root and mount rights). The shop's settings are
    // written again on it.
    bool MountHome(const char* size = "2m")
    {
        const QByteArray h = home.path().toLocal8Bit();
        const QByteArray options = QByteArray("size=") + size + ",mode=0700";
        if (::mount("tmpfs", h.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) != 0)
            return false;
        mounts.push_back(home.path());
        for (const auto& [key, value] : written)
            Config(key, value);
        return true;
    }
    // Writes into the home folder until its disk takes no more, leaving `room` bytes free.
    void FillDisk(qint64 room = 0)
    {
        QFile filler(home.filePath("filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return;
        const QByteArray block(1 << 16, 'x');
        for (qint64 size = block.size(); size > 0; size /= 2)
            while (filler.write(block.constData(), size) == size) {}
        if (room > 0)
            filler.resize(std::max<qint64>(0, filler.size() - room));
    }
    void FreeDisk() { QFile::remove(home.filePath("filler")); }

    // A card centre on the shop's card-centre port; a running one is stopped first.
    void StartCentre(const QStringList& args = {})
    {
        centre.reset();  // the port is free again before the next one listens
        centre = std::make_unique<PeerProcess>();
        ASSERT_TRUE(centre->Start(TOLLAN_CARDCENTRE_EXE, QStringList{"--port", QString::number(centrePort)} + args));
        ASSERT_EQ(centre->ListeningPort(), centrePort) << centre->out;
    }
    void Config(const QString& key, const QString& value)
    {
        QProcess p;
        p.start(TOLLAN_EXE, {"--home", home.path(), "config", "set", key, value});
        ASSERT_TRUE(p.waitForFinished(10000));
        ASSERT_EQ(p.exitCode(), 0);
    }
    // A value stored as `config set --force` stores it, refused or not: what a hand-edited
    // registry.ini may hold, for the terminal's own handling of it.
    void ForceConfig(const QString& key, const QString& value)
    {
        ASSERT_EQ(TollanExit({"config", "set", "--force", key, value}), 0);
    }
    QString Setting(const QString& key)
    {
        QProcess p;
        p.start(TOLLAN_EXE, {"--home", home.path(), "config", "get", key});
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    void StartTerminal()
    {
        terminal = std::make_unique<PeerProcess>();
        terminal->process.setStandardErrorFile(tmp.filePath("terminal.err"), QIODevice::Append);
        const QStringList args = QStringList{"--headless", "--home", home.path()} + terminalArgs;
        ASSERT_TRUE(runAs.isEmpty() ? terminal->Start(TOLLAN_EXE, args)
                                    : terminal->Start(runAs.first().toLocal8Bit().constData(),
                                                      runAs.mid(1) + QStringList{TOLLAN_EXE} + args));
        for (int i = 0; i < 200 && terminal->process.state() != QProcess::NotRunning; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(100))
                return;
            Pause(25);
        }
        FAIL() << "the terminal does not listen on " << port << "\n" << TerminalErr();
    }
    // SIGTERM: the terminal ends its work and exits with 0. SIGKILL: it is gone, whatever it did.
    void StopTerminal(int signal = SIGTERM)
    {
        if (!terminal)
            return;
        ::kill(pid_t(terminal->process.processId()), signal);
        const int status = terminal->Exit(10000);
        EXPECT_TRUE(signal != SIGTERM || status == 0) << "exit status " << status;
        terminal.reset();
    }
    std::string TerminalErr() const { return FileText(tmp.filePath("terminal.err")); }
    // A register started now; `Exit` waits for its final answer.
    std::unique_ptr<PeerProcess> StartRegister(QStringList args)
    {
        auto r = std::make_unique<PeerProcess>();
        args << "--port" << QString::number(port) << "--timeout" << "90";
        EXPECT_TRUE(r->Start(TOLLAN_REGISTER_EXE, args));
        return r;
    }
    // One register, its whole run: the exit status (0 approved, 1 refused, 2 unfinished, 3 card
    // information, 4 the line closed), and what it printed.
    int Register(const QStringList& args, std::string* printed = nullptr)
    {
        auto r = StartRegister(args);
        const int status = r->Exit(120000);
        if (printed)
            *printed = r->out;
        return status;
    }
    // `tollan --home HOME ARGS...` run to its end: what it printed on stdout, its exit status in
    // `status`.
    QString Tollan(const QStringList& args, int* status = nullptr)
    {
        QProcess p;
        p.start(TOLLAN_EXE, QStringList{"--home", home.path()} + args);
        p.waitForFinished(20000);
        if (status)
            *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    int TollanExit(const QStringList& args)
    {
        int status = -1;
        Tollan(args, &status);
        return status;
    }
    // The rows of a query on tollan.mdb, read-only, each row's fields joined by '|'.
    QStringList Rows(const QString& sql)
    {
        QStringList rows;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "shop");
            db.setDatabaseName(home.filePath("tollan.mdb"));
            db.setConnectOptions("QSQLITE_OPEN_READONLY");
            if (db.open()) {
                QSqlQuery q(db);
                q.exec(sql);
                while (q.next()) {
                    QStringList fields;
                    for (int i = 0; i < q.record().count(); ++i)
                        fields << q.value(i).toString();
                    rows << fields.join('|');
                }
            }
        }
        QSqlDatabase::removeDatabase("shop");
        return rows;
    }
    // A text file of the home folder (or any path), its lines without their CR LF.
    QStringList Lines(const QString& name) const
    {
        QFile f(home.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(f.readAll()).split("\r\n");
        if (!lines.isEmpty() && lines.back().isEmpty())
            lines.removeLast();
        return lines;
    }

    QTemporaryDir tmp;
    QDir home;
    QStringList runAs;      // a command that runs the terminal as another user ("setpriv", ...); empty: as we are
    QStringList terminalArgs;   // more options for the terminal ("--card-key", FILE; "--service")
    QStringList mounts;     // unmounted at the end, the last first
    std::vector<std::pair<QString, QString>> written;   // the shop's own settings, as SetUp wrote them
    std::unique_ptr<PeerProcess> centre;
    std::unique_ptr<PeerProcess> terminal;
    quint16 port = 0;
    quint16 centrePort = 0;
};

// A card that the terminal takes from the stripe, with the answer to its card-present prompt.
inline const QStringList kCard = {"--card", "4000001234567899=28121010000012300000", "--answer", "7899"};

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace tollan::test
