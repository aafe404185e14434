// What the running terminal costs the machine, read from /proc/PID/stat and /proc/PID/status:
// - start-up: from starting `tollan --headless` to its workstation port accepting (goal < 300 ms),
//   for a first start in an empty home folder and for a restart;
// - resident memory once started, headless and with the main window (on Xvfb when it is
//   installed, else on the offscreen platform);
// - CPU while idle (goal < 0.5 % of a core), headless and with the window at once;
// - CPU while a purchase waits for a card centre that never answers (goal < 1 %).
// The idle and waiting spans are 60 s each; --quick makes them 10 s.
// Prints one JSON object.
#include "bench/process_bench.h"

#include <QStandardPaths>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

using namespace tollan::bench;

namespace {

// True as soon as something accepts on the loopback port; a plain connect, refused at once while
// nobody listens.
bool Accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

bool Configure(Terminal& t, quint16 port, const QString& centre)
{
    return t.Config("Port", QString::number(port)) && t.Config("Tollan_Auth_Address", centre) &&
           t.Config("Tollan_Trans_Address", centre);
}

// Milliseconds from starting the program to its port accepting; -1 when it does not listen in 15 s.
double StartToListening(Terminal& t, quint16 port)
{
    QElapsedTimer clock;
    clock.start();
    if (!t.Start())
        return -1;
    while (!Accepts(port)) {
        if (clock.elapsed() > 15000 || !t.Running())
            return -1;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

// The CPU share (% of one core) that each process used over `seconds`, the events still running.
std::vector<double> CpuShare(const std::vector<qint64>& pids, int seconds)
{
    std::vector<double> before;
    for (qint64 p : pids)
        before.push_back(ProcessCpuSeconds(p));
    QElapsedTimer wall;
    wall.start();
    RunUntil([] { return false; }, seconds * 1000);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    std::vector<double> share;
    for (std::size_t i = 0; i < pids.size(); ++i)
        share.push_back(100.0 * (ProcessCpuSeconds(pids[i]) - before[i]) / elapsed);
    return share;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int span = 60;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--quick"))
            span = 10;
    QTemporaryDir work;
    Json j;
    j.Text("benchmark", "resources of the running terminal: start-up, memory, idle and waiting CPU");
    j.Number("span_s", span);

    CardCentre silent;
    if (!silent.Start({"--silent"}, work.path())) {
        std::fprintf(stderr, "the card centre does not start\n");
        return 1;
    }

    // Start-up: a first start creates registry.ini and tollan.mdb; a restart finds them.
    const QString headlessHome = work.path() + "/headless";
    QDir().mkpath(headlessHome);
    const quint16 port = FreePort();
    std::vector<double> first, again;
    {
        for (int i = 0; i < 3; ++i) {
            const QString home = work.path() + QString("/first%1").arg(i);
            QDir().mkpath(home);
            Terminal t(home);
            const quint16 p = FreePort();
            if (!Configure(t, p, silent.Address()))
                return 1;
            // `config set` made registry.ini; the database is made at start-up.
            first.push_back(StartToListening(t, p));
            t.Stop();
        }
        Terminal t(headlessHome);
        if (!Configure(t, port, silent.Address()))
            return 1;
        t.Start();
        t.WaitListening(port);
        t.Stop();
        for (int i = 0; i < 5; ++i) {
            Terminal r(headlessHome);
            again.push_back(StartToListening(r, port));
            r.Stop();
        }
    }
    const Stats f = Summarise(first), a = Summarise(again);
    j.Number("startup_first_median_ms", f.median);
    j.Number("startup_first_max_ms", f.max);
    j.Number("startup_restart_median_ms", a.median);
    j.Number("startup_restart_max_ms", a.max);
    j.Number("startup_goal_ms_below", 300);
    j.Bool("startup_goal_met", f.min >= 0 && a.min >= 0 && std::max(f.max, a.max) < 300);

    // Memory and idle CPU: headless and with the window, side by side. The window goes to a
    // virtual X display when Xvfb is there, else to the offscreen platform.
    QProcess xvfb;
    QString display;
    if (!QStandardPaths::findExecutable("Xvfb").isEmpty()) {
        for (int n = 91; n < 120 && display.isEmpty(); ++n)
            if (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) && !QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
                display = QString(":%1").arg(n);
        xvfb.setStandardOutputFile(QProcess::nullDevice());
        xvfb.setStandardErrorFile(QProcess::nullDevice());
        xvfb.start("Xvfb", {display, "-nolisten", "tcp", "-screen", "0", "1280x1024x24"});
        const QString socket = "/tmp/.X11-unix/X" + display.mid(1);
        if (!xvfb.waitForStarted(5000) || !RunUntil([&] { return QFile::exists(socket); }, 10000))
            display.clear();
    }
    j.Text("window_platform", display.isEmpty() ? "offscreen" : "xcb on Xvfb " + display.toStdString());
    Terminal headless(headlessHome);
    const QString windowHome = work.path() + "/window";
    QDir().mkpath(windowHome);
    Terminal window(windowHome);
    const quint16 windowPort = FreePort();
    if (!Configure(window, windowPort, silent.Address()) || !headless.Start() || !window.Start(false, display) ||
        !headless.WaitListening(port) || !window.WaitListening(windowPort)) {
        std::fprintf(stderr, "the terminals do not start\n");
        return 1;
    }
    RunUntil([] { return false; }, 2000);   // settled: the first ticks of the scheduler have run
    j.Number("rss_headless_kb", ProcessStatusKb(headless.Pid(), "VmRSS:"));
    j.Number("rss_window_kb", ProcessStatusKb(window.Pid(), "VmRSS:"));
    const std::vector<double> idle = CpuShare({headless.Pid(), window.Pid()}, span);
    j.Number("rss_headless_after_idle_kb", ProcessStatusKb(headless.Pid(), "VmRSS:"));
    j.Number("rss_window_after_idle_kb", ProcessStatusKb(window.Pid(), "VmRSS:"));
    j.Number("idle_cpu_headless_percent", idle[0]);
    j.Number("idle_cpu_window_percent", idle[1]);
    j.Number("idle_cpu_goal_percent_below", 0.5);
    j.Bool("idle_cpu_goal_met", idle[0] < 0.5 && idle[1] < 0.5);
    window.Stop();
    xvfb.terminate();
    xvfb.waitForFinished(5000);

    // A purchase whose card centre keeps silent: 15 s for the answer, the repeat, 60 s more.
    QProcess reg;
    reg.setStandardOutputFile(QProcess::nullDevice());
    reg.start(TOLLAN_REGISTER_EXE, {"--port", QString::number(port), "--workstation", "POS00001", "--trans", "00000001",
                                    "--amount", "1.00", "--card", "4000001234567899=28121010000012300000",
                                    "--answer", "7899", "--timeout", "300", "--quiet"});
    const QString log = work.path() + "/cardcentre.out";
    const bool heard = RunUntil([&] {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains("silent");
    }, 15000);
    const double waiting = heard ? CpuShare({headless.Pid()}, span)[0] : -1;
    j.Bool("wait_request_reached_card_centre", heard);
    j.Number("wait_cpu_percent", waiting);
    j.Number("wait_cpu_goal_percent_below", 1.0);
    j.Bool("wait_cpu_goal_met", heard && waiting >= 0 && waiting < 1.0);
    j.Number("rss_headless_after_wait_kb", ProcessStatusKb(headless.Pid(), "VmRSS:"));
    reg.kill();
    reg.waitForFinished(5000);
    headless.Stop();
    std::printf("%s\n", j.Str().c_str());
    return 0;
}
