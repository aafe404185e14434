// A busy shop: how many purchases a second the real terminal (`tollan --headless`) serves and how
// long each register waits from its request to the final answer, when cashiers take their time over
// the prompts (`tollan-register --prompt-delay`) and the card centre over its answers
// (`tollan-cardcentre --answer-delay`), at "ParallelRequests" 1 and 8 (set with `tollan config set`).
// Every scenario has a terminal, a home folder and a card centre of its own; the registers are one
// `tollan-register` process (`--count N --duration S --json`), each register on its own connection
// making purchases one after another, and its JSON gives the figures. A run that outlasts its
// deadline is stopped with SIGTERM: the register then counts the requests still waiting as stopped,
// with how long they had waited, so a queue longer than the run shows as such and not as a shorter
// wait.
//
// The terminals a scenario compares ("ParallelRequests" 1 and 8) run side by side and are loaded in
// turn; where the disk decides (the lone register, the 32 without delays) in five rounds each, so
// that both see the machine alike: counts and seconds summed, purchases a second over the sum, p50
// and p95 the median of the rounds'. Scenarios, one JSON object for each terminal:
//   lone               one register's purchases without delays, one after another, at 1 and 8
//   throughput         32 registers without delays, at 1 and 8
//   prompts            8 registers, 2-s prompts, an instant card centre, at 1 and 8, and a lone
//                      register with the same delays, the reference for p95
//   prompts-and-centre 32 registers, 3-s prompts, a 2-s card centre, at 1 and 8, and a lone register
//                      with the same delays
//   x25                8 registers over X.25 through tollan-modem on a pseudo-terminal, at 8: purchases
//                      a second, and whether two requests' dialogues ever shared the line (they must
//                      not): each time the terminal opens the line one dialogue goes (one reset, one
//                      call, no command refused, in the modem's log), and each call to the card centre
//                      carries one request and nothing else (its ledger and event lines)
// The whole run takes under three minutes; --long runs each scenario about five times
// longer, --only NAME runs one scenario.
#include "bench/process_bench.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <csignal>
#include <cstring>
#include <map>
#include <set>

using namespace tollan::bench;

namespace {

constexpr char kCard[] = "4000001234567899=28121010000012300000";
constexpr char kCardPresentAnswer[] = "7899";

struct Scenario {
    std::string name;
    std::vector<int> parallel;  // "ParallelRequests" of each terminal, run side by side
    int registers = 1;
    int promptDelayMs = 0;
    int answerDelayMs = 0;
    double durationS = 0;       // requests start for this long each round; 0: `requests` each
    int requests = 0;
    int deadlineS = 0;          // a round is stopped then
    int rounds = 1;             // taken in turn by the terminals
    bool x25 = false;
};

int CountRows(const QString& db)
{
    int n = -1;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "shop-count");
        d.setDatabaseName(db);
        d.setConnectOptions("QSQLITE_OPEN_READONLY");
        if (d.open()) {
            QSqlQuery q(d);
            if (q.exec("SELECT count(*) FROM Trans") && q.next())
                n = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase("shop-count");
    return n;
}

// What the card centre's ledger and event lines tell of the line: each call to the card centre
// (a connection) should carry one request's dialogue (its 0100, perhaps its repeat) and nothing else.
struct Calls {
    int connections = 0, requests = 0, shared = 0, dropped = 0, unreadable = 0;
};
Calls ReadCalls(const QString& ledger, const QString& events)
{
    Calls c;
    std::map<int, std::set<QString>> stans;
    QFile f(ledger);
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            if (e["event"].toString() == "auth") {
                ++c.requests;
                stans[e["conn"].toInt()].insert(e["stan"].toString());
            } else if (e["event"].toString() == "auth-unreadable") {
                ++c.unreadable;
            }
        }
    for (const auto& [conn, set] : stans)
        c.shared += set.size() > 1;
    QFile g(events);
    if (g.open(QIODevice::ReadOnly))
        for (const QByteArray& line : g.readAll().split('\n')) {
            c.connections += line.startsWith("connection from ");
            c.dropped += line.startsWith("dropped ");
        }
    return c;
}

// What the modem's log (--verbose) tells of the line: between the terminal opening the port and
// closing it (a session) one dialogue goes: one reset, one call. Two in a session, or a command the
// modem refused, mean two dialogues used the line at once.
struct Line {
    int sessions = 0, crowded = 0, refused = 0;
};
Line ReadLine(const QString& log)
{
    Line l;
    int resets = 0, calls = 0;
    auto close = [&] {
        l.crowded += resets > 1 || calls > 1;
        resets = calls = 0;
    };
    QFile f(log);
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line == "modem: the line is open") {
                close();
                ++l.sessions;
            }
            resets += line.toUpper() == "MODEM: <- ATZ";
            calls += line.startsWith("modem: call to ");
            l.refused += line.contains("ERROR") || line.contains("call refused");
        }
    close();
    return l;
}

// The modem peer on a pseudo-terminal, routing the terminal's calls to the card centre.
class Modem {
public:
    bool Start(quint16 centrePort, const QString& log)
    {
        p_.setStandardErrorFile(log);
        p_.start(TOLLAN_MODEM_EXE, {"--route", QString("20041=127.0.0.1:%1").arg(centrePort), "--verbose"});
        if (!p_.waitForStarted(5000))
            return false;
        while (!p_.canReadLine())
            if (!p_.waitForReadyRead(5000))
                return false;
        device_ = QString::fromLocal8Bit(p_.readLine()).trimmed();
        return !device_.isEmpty();
    }
    const QString& Device() const { return device_; }
    ~Modem()
    {
        p_.terminate();
        if (!p_.waitForFinished(5000))
            p_.kill();
        p_.waitForFinished(5000);
    }

private:
    QProcess p_;
    QString device_;
};

// One terminal of a scenario with its card centre (and modem), in a home folder of its own.
class Shop {
public:
    bool Start(const Scenario& s, int parallel, const QString& dir)
    {
        dir_ = dir;
        home_ = dir + "/home";
        QDir().mkpath(home_);
        // The ledger only where it is read: over X.25, for the calls.
        QStringList centreArgs;
        if (s.x25)
            centreArgs << "--ledger" << dir + "/ledger.jsonl";
        if (s.answerDelayMs > 0)
            centreArgs << "--answer-delay" << QString::number(s.answerDelayMs);
        if (!centre_.Start(centreArgs, dir)) {
            std::fprintf(stderr, "%s: the card centre does not start\n", s.name.c_str());
            return false;
        }
        terminal_ = std::make_unique<Terminal>(home_);
        port_ = FreePort();
        bool configured = terminal_->Config("Port", QString::number(port_)) &&
                          terminal_->Config("Tollan_Auth_Address", centre_.Address()) &&
                          terminal_->Config("Tollan_Trans_Address", centre_.Address()) &&
                          terminal_->Config("ParallelRequests", QString::number(parallel));
        if (s.x25) {
            modem_ = std::make_unique<Modem>();
            if (!modem_->Start(centre_.Port(), dir + "/modem.log")) {
                std::fprintf(stderr, "%s: the modem does not start\n", s.name.c_str());
                return false;
            }
            for (const auto& [key, value] :
                 {std::pair<QString, QString>{"X25\\CommPort", modem_->Device()}, {"X25\\Handshaking", "0"},
                  {"X25\\Number", "5551234"}, {"X25\\Auth_Address", "20041"}, {"X25\\Trans_Address", "20041"},
                  {"UseX25", "1"}})
                configured = configured && terminal_->Config(key, value);
        }
        if (!configured || !terminal_->Start() || !terminal_->WaitListening(port_)) {
            std::fprintf(stderr, "%s: the terminal does not start in %s\n", s.name.c_str(), qPrintable(home_));
            return false;
        }
        // The terminal frees the connection of the start-up probe when it sees it close; 32 registers
        // that came before that would find one place too few.
        RunUntil([] { return false; }, 300);
        return true;
    }

    // One round: the registers as one tollan-register process, its JSON; empty on failure.
    // `round` keeps each round's transaction numbers apart.
    QJsonObject Registers(const Scenario& s, int round, bool& stopped)
    {
        QStringList args{"--port", QString::number(port_), "--count", QString::number(s.registers), "--card", kCard,
                         "--amount", "12.50", "--answer", kCardPresentAnswer, "--json", "--trans",
                         QString::number(round * 1000000 + 1).rightJustified(8, '0'), "--timeout",
                         QString::number(s.deadlineS + 60)};
        if (s.registers > 1)
            args << "--workstation" << "POS00001";
        if (s.durationS > 0)
            args << "--duration" << QString::number(s.durationS);
        if (s.requests > 0)
            args << "--requests" << QString::number(s.requests);
        if (s.promptDelayMs > 0)
            args << "--prompt-delay" << QString::number(s.promptDelayMs);
        QProcess shop;
        shop.setStandardErrorFile(dir_ + "/registers.err", QIODevice::Append);
        const double cpu0 = ProcessCpuSeconds(terminal_->Pid());
        shop.start(TOLLAN_REGISTER_EXE, args);
        if (!shop.waitForStarted(5000))
            return {};
        stopped = false;
        if (!shop.waitForFinished(s.deadlineS * 1000)) {
            stopped = true;
            ::kill(pid_t(shop.processId()), SIGTERM);
            if (!shop.waitForFinished(30000)) {
                shop.kill();
                std::fprintf(stderr, "%s: the registers did not stop\n", s.name.c_str());
                return {};
            }
        }
        cpuSeconds += ProcessCpuSeconds(terminal_->Pid()) - cpu0;
        const QByteArray out = shop.readAllStandardOutput();
        const QJsonObject r = QJsonDocument::fromJson(out).object();
        if (r.isEmpty())
            std::fprintf(stderr, "%s: the registers printed no JSON: %s\n", s.name.c_str(), out.constData());
        return r;
    }

    // Stops the terminal (and the modem, whose log is whole once it has ended).
    void Stop()
    {
        terminal_->Stop();
        modem_.reset();
    }
    int Rows() const { return CountRows(home_ + "/tollan.mdb"); }
    const QString& Dir() const { return dir_; }
    double cpuSeconds = 0;

private:
    QString dir_, home_;
    CardCentre centre_;
    std::unique_ptr<Modem> modem_;
    std::unique_ptr<Terminal> terminal_;
    quint16 port_ = 0;
};

double Median(std::vector<double> v)
{
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The rounds of one terminal, added up: the counts and seconds summed, purchases a second over the
// sum, each latency figure the median of the rounds' (the highest for the maximum).
struct Figures {
    std::map<std::string, int> counts;
    double seconds = 0;
    int roundsStopped = 0;
    std::map<std::string, std::vector<double>> latency;

    void Add(const QJsonObject& r, bool stopped)
    {
        for (const char* key : {"requests", "approved", "refused", "unfinished", "failed", "stopped"})
            counts[key] += r[key].toInt();
        seconds += r["seconds"].toDouble();
        roundsStopped += stopped;
        for (const char* key : {"latency_p50_ms", "latency_p95_ms", "latency_p99_ms", "latency_max_ms",
                                "stopped_waited_max_ms"})
            if (!r[key].isNull())
                latency[key].push_back(r[key].toDouble());
    }
    double Get(const std::string& key) const
    {
        const auto it = latency.find(key);
        if (it == latency.end())
            return std::nan("");
        return key.find("max") != std::string::npos ? *std::max_element(it->second.begin(), it->second.end())
                                                    : Median(it->second);
    }
};

// A scenario: a terminal for each "ParallelRequests" of it, started side by side and loaded in
// turn, round after round, so that each sees the same machine (a shared disk's commit time changes
// by ten times within minutes). One JSON object for each terminal; false when one failed.
bool Run(const Scenario& s, const QString& work, std::map<std::string, double>& loneP95)
{
    std::vector<std::unique_ptr<Shop>> shops;
    std::vector<Figures> figures(s.parallel.size());
    for (int parallel : s.parallel) {
        shops.push_back(std::make_unique<Shop>());
        const QString dir = work + "/" + QString::fromStdString(s.name) + "-" + QString::number(s.registers) + "-" +
                            QString::number(parallel);
        if (!shops.back()->Start(s, parallel, dir))
            return false;
    }
    for (int round = 0; round < s.rounds; ++round)
        for (std::size_t i = 0; i < shops.size(); ++i) {
            bool stopped = false;
            const QJsonObject r = shops[i]->Registers(s, round, stopped);
            if (r.isEmpty())
                return false;
            figures[i].Add(r, stopped);
        }
    for (std::size_t i = 0; i < shops.size(); ++i) {
        shops[i]->Stop();
        const Figures& f = figures[i];
        Json j;
        j.Text("benchmark", "shop: tollan --headless with tollan-register and tollan-cardcentre on loopback");
        j.Text("scenario", s.name);
        j.Number("parallel_requests", s.parallel[i]);
        j.Text("link", s.x25 ? "x25" : "tcp");
        j.Number("registers", s.registers);
        j.Number("prompt_delay_ms", s.promptDelayMs);
        j.Number("card_centre_delay_ms", s.answerDelayMs);
        j.Number("rounds", s.rounds);
        if (s.durationS > 0)
            j.Number("duration_s_per_round", s.durationS);
        else
            j.Number("requests_per_register_per_round", s.requests);
        j.Number("deadline_s_per_round", s.deadlineS);
        j.Number("rounds_stopped_at_deadline", f.roundsStopped);
        j.Number("seconds", f.seconds);
        for (const auto& [key, n] : f.counts)
            j.Number(key, n);
        const int approved = f.counts.count("approved") ? f.counts.at("approved") : 0;
        j.Number("purchases_per_s", f.seconds > 0 ? approved / f.seconds : 0);
        // Over the answered requests; those stopped unanswered had waited at least as long as said.
        for (const char* key : {"latency_p50_ms", "latency_p95_ms", "latency_p99_ms", "latency_max_ms",
                                "stopped_waited_max_ms"})
            j.Number(key, f.Get(key));
        const double p95 = f.Get("latency_p95_ms");
        if (s.registers == 1 && s.parallel[i] == 1)
            loneP95[s.name] = p95;
        else if (s.registers > 1 && loneP95.count(s.name)) {
            j.Number("lone_register_p95_ms", loneP95[s.name]);
            j.Number("p95_to_lone_p95_ratio", p95 / loneP95[s.name]);
        }
        j.Number("terminal_cpu_ms_per_purchase", approved ? 1000 * shops[i]->cpuSeconds / approved : std::nan(""));
        // A request answered just as its round was stopped has its row but no approval counted.
        j.Number("rows_stored", shops[i]->Rows());
        if (s.x25) {
            const QString dir = shops[i]->Dir();
            const Calls c = ReadCalls(dir + "/ledger.jsonl", dir + "/cardcentre.out");
            const Line l = ReadLine(dir + "/modem.log");
            j.Number("line_sessions", l.sessions);
            j.Number("sessions_with_two_dialogues", l.crowded);
            j.Number("modem_refusals", l.refused);
            j.Number("card_centre_calls", c.connections);
            j.Number("card_centre_requests", c.requests);
            j.Number("calls_carrying_two_requests", c.shared);
            j.Number("bytes_dropped_events", c.dropped + c.unreadable);
            j.Bool("dialogues_overlapped",
                   l.crowded > 0 || l.refused > 0 || c.shared > 0 || c.dropped > 0 || c.unreadable > 0);
        }
        std::printf("%s\n", j.Str().c_str());
        std::fflush(stdout);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int scale = 1;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--long"))
            scale = 5;
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            only = argv[++i];
        else if (std::strcmp(argv[i], "--quick") != 0) {   // scripts/bench's --quick: the default here
            std::fprintf(stderr, "usage: %s [--long] [--only lone|throughput|prompts|prompts-and-centre|x25]\n", argv[0]);
            return 64;
        }
    }
    // A register starts requests for `durationS`, then the ones under way finish, or are stopped at
    // the deadline. At "ParallelRequests" 1 a 32-register queue of 5-s purchases is 160 s long: the
    // deadline stops it, and the stopped requests say how long they had waited. The disk-bound
    // scenarios go in rounds, the terminals taking turns; the delay-bound ones in one round each.
    const std::vector<Scenario> scenarios = {
        {"lone", {1, 8}, 1, 0, 0, 0, 10 * scale, 30, 5},
        {"throughput", {1, 8}, 32, 0, 0, 1.0 * scale, 0, 30, 5},
        {"prompts", {1}, 1, 2000, 0, 0, 3 * scale, 20 * scale},
        {"prompts", {1, 8}, 8, 2000, 0, 10.0 * scale, 0, 24 * scale},
        {"prompts-and-centre", {1}, 1, 3000, 2000, 0, 3 * scale, 20 * scale},
        // 32 cashiers who each take 5 s need 32 requests at once to be served as one alone is.
        {"prompts-and-centre", {1, 8, 32}, 32, 3000, 2000, 8.0 * scale, 0, 30 * scale},
        {"x25", {8}, 8, 0, 0, 8.0 * scale, 0, 30 + 8 * scale, 1, true},
    };
    QTemporaryDir work;
    if (qEnvironmentVariableIsSet("TOLLAN_BENCH_KEEP")) {   // the homes stay for a look afterwards
        work.setAutoRemove(false);
        std::fprintf(stderr, "homes in %s\n", qPrintable(work.path()));
    }
    int failures = 0;
    std::map<std::string, double> loneP95;   // a lone register's, by scenario: the reference
    for (const Scenario& s : scenarios)
        if (only.empty() || s.name == only)
            failures += !Run(s, work.path(), loneP95);
    return failures ? 1 : 0;
}
