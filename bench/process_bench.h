#pragma once
// What the whole-process benchmarks share: the terminal and the card centre run as real processes
// in a home folder of their own, a JSON object of figures printed at the end, and the loopback
// floors that each figure is compared with, measured in the same run on the same machine.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <unistd.h>

namespace tollan::bench {

// One flat JSON object; values are numbers, booleans, texts or JSON written by the caller.
class Json {
public:
    void Number(const std::string& key, double v)
    {
        char b[64];
        if (!std::isfinite(v))
            std::snprintf(b, sizeof b, "null");
        else if (v == std::floor(v) && std::fabs(v) < 1e15)
            std::snprintf(b, sizeof b, "%.0f", v);
        else
            std::snprintf(b, sizeof b, "%.6g", v);
        Raw(key, b);
    }
    void Bool(const std::string& key, bool v) { Raw(key, v ? "true" : "false"); }
    void Text(const std::string& key, const std::string& v)
    {
        std::string s = "\"";
        for (char c : v) {
            if (c == '"' || c == '\\')
                s += '\\';
            if (static_cast<unsigned char>(c) < 0x20)
                continue;
            s += c;
        }
        Raw(key, s + "\"");
    }
    void Raw(const std::string& key, const std::string& json) { fields_.push_back({key, json}); }
    std::string Str(int indent = 2) const
    {
        const std::string pad(std::size_t(indent), ' ');
        std::string s = "{\n";
        for (std::size_t i = 0; i < fields_.size(); ++i)
            s += pad + "\"" + fields_[i].first + "\": " + fields_[i].second + (i + 1 < fields_.size() ? ",\n" : "\n");
        return s + pad.substr(2) + "}";
    }

private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

struct Stats {
    double mean = 0, median = 0, p90 = 0, min = 0, max = 0;
    std::size_t n = 0;
};
inline Stats Summarise(std::vector<double> v)
{
    Stats s;
    s.n = v.size();
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.mean = std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
    s.median = v[v.size() / 2];
    s.p90 = v[std::min(v.size() - 1, v.size() * 9 / 10)];
    s.min = v.front();
    s.max = v.back();
    return s;
}
inline void Put(Json& j, const std::string& prefix, const Stats& s, const char* unit)
{
    j.Number(prefix + "_mean_" + unit, s.mean);
    j.Number(prefix + "_median_" + unit, s.median);
    j.Number(prefix + "_p90_" + unit, s.p90);
    j.Number(prefix + "_samples", double(s.n));
}

// CPU seconds (user and system) a process has used so far, from /proc/PID/stat; -1 when unknown.
inline double ProcessCpuSeconds(qint64 pid)
{
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // The command name in parentheses may hold blanks: the fields are counted after its ")".
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;   // utime and stime, fields 14 and 15
}

// A line of /proc/PID/status such as "VmRSS:" as its number (kB); -1 when absent.
inline double ProcessStatusKb(qint64 pid, const QByteArray& key)
{
    QFile f(QString("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    // A /proc file tells no size, so it is read whole rather than line by line to its end.
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble();
    return -1;
}

// Lets events run until `done` or `ms` pass; false on time-out. It sleeps between events: the
// bench shares the machine with what it measures (processEvents with a time limit ignores
// WaitForMoreEvents and would spin a core away from the terminal).
template <class Done>
bool RunUntil(Done done, int ms)
{
    QElapsedTimer t;
    t.start();
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!done()) {
        const qint64 left = ms - t.elapsed();
        if (left <= 0)
            return false;
        wake.start(int(std::min<qint64>(left, 100)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline bool Listening(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    const bool up = probe.waitForConnected(200);
    probe.abort();
    return up;
}

inline quint16 FreePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// The card-centre peer; its event lines go to a file, so that nobody has to read its stdout, or
// nowhere when `dir` is empty (a line for every line of a transaction file is a disk write that
// both the terminal and its floor would wait for).
class CardCentre {
public:
    bool Start(QStringList args, const QString& dir)
    {
        p_.setStandardErrorFile(QProcess::nullDevice());
        if (dir.isEmpty()) {
            port_ = FreePort();
            p_.setStandardOutputFile(QProcess::nullDevice());
            p_.start(TOLLAN_CARDCENTRE_EXE, QStringList{"--port", QString::number(port_)} + args);
            return p_.waitForStarted(5000) && RunUntil([&] { return Listening(port_); }, 10000);
        }
        out_ = dir + "/cardcentre.out";
        p_.setStandardOutputFile(out_);
        p_.start(TOLLAN_CARDCENTRE_EXE, QStringList{"--port", "0"} + args);
        if (!p_.waitForStarted(5000))
            return false;
        return RunUntil([&] { return (port_ = ReadPort()) != 0; }, 10000);
    }
    quint16 Port() const { return port_; }
    QString Address() const { return QString("127.0.0.1:%1").arg(port_); }
    qint64 Pid() const { return p_.processId(); }
    ~CardCentre()
    {
        p_.kill();
        p_.waitForFinished(5000);
    }

private:
    quint16 ReadPort()
    {
        QFile f(out_);
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray first = f.readLine();
        return first.startsWith("listening on ") && first.endsWith('\n') ? quint16(first.mid(13).trimmed().toUInt()) : 0;
    }
    QProcess p_;
    QString out_;
    quint16 port_ = 0;
};

// `tollan` in its own home folder: configured with `tollan config set`, run headless or with its
// window on the offscreen platform.
class Terminal {
public:
    explicit Terminal(QString home) : home_(std::move(home)) {}
    bool Config(const QString& key, const QString& value)
    {
        QProcess p;
        p.start(TOLLAN_EXE, {"--home", home_, "config", "set", key, value});
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    // Starts the program; `headless` false shows the main window on `display` (an X display such
    // as ":91"), or on the offscreen platform when that is empty.
    bool Start(bool headless = true, const QString& display = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!headless && display.isEmpty()) {
            env.insert("QT_QPA_PLATFORM", "offscreen");
        } else if (!headless) {
            env.insert("DISPLAY", display);
            env.insert("QT_QPA_PLATFORM", "xcb");
        }
        p_.setProcessEnvironment(env);
        p_.setStandardOutputFile(home_ + "/terminal.out");
        p_.setStandardErrorFile(home_ + "/terminal.err");
        QStringList args{"--home", home_};
        if (headless)
            args.prepend("--headless");
        // TOLLAN_BENCH_WRAPPER runs the terminal under a profiler, e.g.
        // "valgrind --tool=callgrind --callgrind-out-file=/tmp/tollan.callgrind".
        const QStringList wrapper = qEnvironmentVariable("TOLLAN_BENCH_WRAPPER").split(' ', Qt::SkipEmptyParts);
        if (wrapper.isEmpty())
            p_.start(TOLLAN_EXE, args);
        else
            p_.start(wrapper.front(), wrapper.mid(1) + QStringList{TOLLAN_EXE} + args);
        return p_.waitForStarted(5000);
    }
    bool WaitListening(quint16 port, int ms = 15000)
    {
        return RunUntil([&] { return p_.state() != QProcess::Running || Listening(port); }, ms) &&
               p_.state() == QProcess::Running;
    }
    qint64 Pid() const { return p_.processId(); }
    bool Running() const { return p_.state() == QProcess::Running; }
    // SIGTERM, as a shop's service manager ends it; true when it ended cleanly.
    bool Stop()
    {
        if (p_.state() == QProcess::NotRunning)
            return true;
        p_.terminate();
        return p_.waitForFinished(15000) && p_.exitStatus() == QProcess::NormalExit;
    }
    ~Terminal()
    {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished(5000);
        }
    }
    const QString& Home() const { return home_; }

private:
    QString home_;
    QProcess p_;
};

} // namespace tollan::bench
