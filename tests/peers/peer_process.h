#pragma once
// A peer program run as a real process, and the waits a test needs on it and on its sockets.
// The peers keep their own wall-clock time, so these waits are bounded real time; each returns as
// soon as what it waits for arrives.
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <string>

namespace tollan::test {

// A port nothing listens on once this returns.
inline quint16 FreePort() { QTcpServer s; s.listen(QHostAddress::LocalHost, 0); return s.serverPort(); }

// A file's whole text, or nothing when it cannot be read.
inline std::string FileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

struct PeerProcess {
    QProcess process;
    std::string out;   // everything it printed on stdout so far

    bool Start(const char* exe, const QStringList& args)
    {
        process.start(exe, args);
        return process.waitForStarted(5000);
    }
    // Waits until stdout holds `text`; false after `ms` of nothing new.
    bool WaitFor(const std::string& text, int ms = 5000)
    {
        while (out.find(text) == std::string::npos) {
            if (!process.waitForReadyRead(ms) && process.bytesAvailable() == 0)
                return false;
            out += process.readAllStandardOutput().toStdString();
        }
        return true;
    }
    // Takes what it printed so far, without waiting.
    bool Printed(const std::string& text)
    {
        out += process.readAllStandardOutput().toStdString();
        return out.find(text) != std::string::npos;
    }
    // The port of a card centre: its first line says "listening on PORT".
    quint16 ListeningPort()
    {
        if (!WaitFor("\n"))
            return 0;
        const std::string first = out.substr(0, out.find('\n'));
        return first.rfind("listening on ", 0) == 0 ? static_cast<quint16>(std::stoi(first.substr(13))) : 0;
    }
    // The exit status, also of a process that ended already (-1: still running after `ms`,
    // -2: ended by a signal).
    int Exit(int ms = 10000)
    {
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(ms))
            return -1;
        out += process.readAllStandardOutput().toStdString();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    }
    ~PeerProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

// Reads from `s` until `done` says the bytes are complete; false when nothing more comes in `ms`.
template <class Done>
bool ReadUntil(QTcpSocket& s, std::string& bytes, Done done, int ms = 5000)
{
    while (!done(bytes)) {
        if (s.bytesAvailable() == 0 && !s.waitForReadyRead(ms))
            return false;
        const QByteArray b = s.readAll();
        bytes.append(b.constData(), static_cast<std::size_t>(b.size()));
    }
    return true;
}

} // namespace tollan::test
