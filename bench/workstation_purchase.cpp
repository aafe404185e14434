// Purchase latency and throughput of the real terminal (`tollan --headless`) with an instant card
// centre (`tollan-cardcentre`), both on loopback, the registers played from here with the
// workstation packet codec: every prompt and print request is answered at once.
//
// Latency: one register, purchases one after another, from the request written to the final answer
// read. Its floor, measured alone in the same run: as many loopback round trips as the purchase
// made (request and answer, each prompt, each print request, counted here as they happen), one
// connect-and-exchange for each card-centre dialogue (counted from the card centre's log), and one
// durable commit of a Trans row with the store's own settings. Goal: latency under 2 x the floor.
//
// Throughput: 32 registers on their own connections sending purchases without pause. Goal: at
// least 90 % of 1 / (single-register latency), every request answered, every approval a row.
//
// Prints one JSON object. Options: --quick (fewer purchases), --purchases N, --seconds S, --trace
// (the arrival of every packet of the last three purchases, on stderr).
#include "bench/process_bench.h"
#include "store/db.h"
#include "support/config.h"
#include "support/home.h"
#include "support/msgbox.h"
#include "workstation/packet.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTime>
#include <QVariant>

#include <cstring>
#include <functional>

using namespace tollan;
using namespace tollan::bench;

namespace {

constexpr char kCard[] = "4000001234567899=28121010000012300000";
constexpr char kPan[] = "4000001234567899";
constexpr char kCardPresentAnswer[] = "7899";

// A cash register on one lasting connection: sends purchases with numbers of its own, answers
// every prompt and print request at once, and reports each final answer with its time.
class BenchRegister : public QObject {
public:
    BenchRegister(std::string name, quint16 port) : name_(std::move(name))
    {
        connect(&socket_, &QTcpSocket::readyRead, this, [this] { Arrived(); });
        socket_.connectToHost(QHostAddress::LocalHost, port);
    }
    bool WaitConnected() { return socket_.waitForConnected(5000); }

    void SendPurchase()
    {
        PurchaseRequest q;
        q.Date = QDate::currentDate().year() * 10000 + QDate::currentDate().month() * 100 + QDate::currentDate().day();
        const QTime now = QTime::currentTime();
        q.Time = now.hour() * 10000 + now.minute() * 100 + now.second();
        q.Amount = 12500 + 10000 * (next_ % 100);
        q.PAN = kPan;
        std::string card = kCard;
        card.resize(40, ' ');
        q.CardData = card + "0" + "2812" + std::string(5, ' ');
        WorkstationPacket p;
        p.Workstation = name_;
        char number[16];
        std::snprintf(number, sizeof number, "%08d", next_++);
        trans_ = number;
        p.WorkstationTrans = trans_;
        p.Word2 = 1;
        p.AnswerType = wsPurchase;
        p.AnswerData = WS_EncodePurchase(q, {});
        ++sent;
        timer_.start();
        Write(p);
    }

    std::function<void(BenchRegister&, int type, double ms)> finished;
    int sent = 0, answered = 0, approved = 0, prompts = 0, prints = 0, infos = 0;
    bool trace = false;   // each packet's arrival on stderr, in ms from the request

private:
    void Write(const WorkstationPacket& p)
    {
        // The terminal percent-decodes what arrives, so a "%" of the binary fields travels as "%25".
        std::string wire;
        for (char c : WS_EncodePacket(p))
            wire += c == '%' ? std::string("%25") : std::string(1, c);
        socket_.write(wire.data(), qint64(wire.size()));
    }
    void Arrived()
    {
        const QByteArray b = socket_.readAll();
        in_.append(b.constData(), std::size_t(b.size()));
        WorkstationPacket p;
        while (WS_DecodePacket(in_, p) > 0)
            Handle(p);
    }
    void Handle(const WorkstationPacket& p)
    {
        if (trace)
            std::fprintf(stderr, "  %8.3f ms  type %d\n", double(timer_.nsecsElapsed()) / 1e6, int(p.RequestType));
        WorkstationPacket a;
        a.Workstation = name_;
        a.WorkstationTrans = trans_;
        a.Word2 = p.Word2;
        a.Word20 = p.Word20;
        a.AnswerType = wsDialogAnswer;
        switch (p.RequestType) {
        case wsDialog:
            ++prompts;
            a.AnswerData = kCardPresentAnswer;
            Write(a);
            return;
        case wsPrint:
            ++prints;
            a.AnswerData = "-1";
            Write(a);
            return;
        case wsInfo:
        case wsBusy:
            ++infos;
            return;
        default: {
            const double ms = double(timer_.nsecsElapsed()) / 1e6;
            ++answered;
            if (p.RequestType == wsApproval)
                ++approved;
            if (finished)
                finished(*this, p.RequestType, ms);
        }
        }
    }

    std::string name_;
    std::string trans_;
    int next_ = 1;
    QTcpSocket socket_;
    std::string in_;
    QElapsedTimer timer_;
};

// The other end of the floor's round trips: answers every `request` bytes with `reply` bytes,
// on its own thread, as the terminal answers from its own process.
class Echo : public QObject {
public:
    Echo(int request, int reply) : request_(request), reply_(std::size_t(reply), 'x') {}
    quint16 Listen()
    {
        server_ = new QTcpServer(this);
        connect(server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_->nextPendingConnection()) {
                auto got = std::make_shared<qint64>(0);
                connect(s, &QTcpSocket::readyRead, s, [this, s, got] {
                    *got += s->readAll().size();
                    for (; *got >= request_; *got -= request_)
                        s->write(reply_.data(), qint64(reply_.size()));
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        server_->listen(QHostAddress::LocalHost, 0);
        return server_->serverPort();
    }

private:
    QTcpServer* server_ = nullptr;
    qint64 request_;
    std::string reply_;
};

bool Exchange(QTcpSocket& s, const std::string& out, qint64 expect)
{
    s.write(out.data(), qint64(out.size()));
    qint64 got = 0;
    return RunUntil([&] { return (got += s.readAll().size()) >= expect; }, 5000);
}

struct Floor {
    Stats roundTrip, cardCentreLeg, commit;
};

Floor MeasureFloor(int roundTrips, int legs, int commits, const QString& dir)
{
    Floor f;
    // A purchase request is 224 bytes, a prompt 198, a print request a few hundred; the answers
    // are shorter. 224 each way is at least as much as any of them but the receipts.
    constexpr int kSize = 224;
    QThread thread;
    auto* echo = new Echo(kSize, kSize);
    echo->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, echo, &QObject::deleteLater);
    thread.start();
    quint16 port = 0;
    QMetaObject::invokeMethod(echo, [&] { port = echo->Listen(); }, Qt::BlockingQueuedConnection);
    const std::string message(kSize, 'r');
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        s.waitForConnected(5000);
        std::vector<double> ms;
        for (int i = 0; i < roundTrips + 50; ++i) {
            QElapsedTimer t;
            t.start();
            Exchange(s, message, kSize);
            if (i >= 50)
                ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        f.roundTrip = Summarise(ms);
    }
    {
        // The card-centre dialogue connects, exchanges one frame each way and closes.
        std::vector<double> ms;
        for (int i = 0; i < legs + 20; ++i) {
            QElapsedTimer t;
            t.start();
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            RunUntil([&] { return s.state() == QAbstractSocket::ConnectedState; }, 5000);
            Exchange(s, message, kSize);
            s.disconnectFromHost();
            if (i >= 20)
                ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        f.cardCentreLeg = Summarise(ms);
    }
    thread.quit();
    thread.wait();

    // One row into a tollan.mdb made by the store itself (same table, indexes and pragmas), each
    // insert its own durable commit.
    Home_Set(dir);
    Cfg_SetRoot(kCfgRoot);
    Ui_SetHeadless(true);
    if (Db_Open()) {
        QSqlQuery insert(Db_Database());
        insert.prepare("INSERT INTO Trans (Type, PAN, WayOfUse, Amount, Date, Time, AuthCode, POSCode, ExpDate,"
                       " STAN, Track2, sent, Toojaam, Trans) VALUES (0, ?, 1, '12.5', 20261207, 101530,"
                       " '123456', 2, 2812, ?, ?, 0, 'POS00001', ?)");
        std::vector<double> ms;
        for (int i = 0; i < commits + 10; ++i) {
            insert.bindValue(0, kPan);
            insert.bindValue(1, QString::number(i + 1));
            insert.bindValue(2, kCard);
            insert.bindValue(3, QString::asprintf("%08d", i + 1));
            QElapsedTimer t;
            t.start();
            insert.exec();
            if (i >= 10)
                ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        f.commit = Summarise(ms);
    }
    return f;
}

int CountLines(const QString& path, const QByteArray& start)
{
    QFile f(path);
    int n = 0;
    if (f.open(QIODevice::ReadOnly))
        while (!f.atEnd())
            n += f.readLine().startsWith(start) ? 1 : 0;
    return n;
}

int CountRows(const QString& db, const QString& sql)
{
    int n = -1;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "bench-count");
        d.setDatabaseName(db);
        d.setConnectOptions("QSQLITE_OPEN_READONLY");
        if (d.open()) {
            QSqlQuery q(d);
            if (q.exec(sql) && q.next())
                n = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase("bench-count");
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int purchases = 300, seconds = 20, registers = 32;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick")) {
            purchases = 100;
            seconds = 5;
        } else if (!std::strcmp(argv[i], "--purchases") && i + 1 < argc) {
            purchases = std::max(10, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--trace")) {
            trace = true;
        } else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        }
    }
    QTemporaryDir work;
    if (qEnvironmentVariableIsSet("TOLLAN_BENCH_KEEP")) {   // the homes stay for a look afterwards
        work.setAutoRemove(false);
        std::fprintf(stderr, "homes in %s\n", qPrintable(work.path()));
    }
    const QString home = work.path() + "/home", floorHome = work.path() + "/floor";
    QDir().mkpath(home);
    QDir().mkpath(floorHome);

    Json j;
    j.Text("benchmark", "purchase latency and throughput, tollan --headless and tollan-cardcentre on loopback");

    CardCentre centre;
    if (!centre.Start({}, work.path())) {
        std::fprintf(stderr, "the card centre does not start\n");
        return 1;
    }
    Terminal terminal(home);
    const quint16 port = FreePort();
    if (!terminal.Config("Port", QString::number(port)) || !terminal.Config("Tollan_Auth_Address", centre.Address()) ||
        !terminal.Config("Tollan_Trans_Address", centre.Address()) || !terminal.Start() ||
        !terminal.WaitListening(port)) {
        std::fprintf(stderr, "the terminal does not start in %s\n", qPrintable(home));
        return 1;
    }

    // One register, purchases one after another.
    double cpu0 = 0, cpuSingle = 0, cpuMany = 0, centre0 = 0, centreSingle = 0, centreMany = 0;
    std::vector<double> latency;
    int prompts = 0, prints = 0, failures = 0;
    {
        BenchRegister r("POS00001", port);
        if (!r.WaitConnected())
            return 1;
        constexpr int kWarmUp = 20;
        int done = 0;
        bool waiting = false;
        r.finished = [&](BenchRegister&, int type, double ms) {
            waiting = false;
            if (type != wsApproval)
                ++failures;
            if (++done > kWarmUp)
                latency.push_back(ms);
        };
        for (int i = 0; i < kWarmUp + purchases; ++i) {
            if (i == kWarmUp) {
                cpu0 = ProcessCpuSeconds(terminal.Pid());
                centre0 = ProcessCpuSeconds(centre.Pid());
                prompts = r.prompts;
                prints = r.prints;
            }
            waiting = true;
            r.trace = trace && i + 3 >= kWarmUp + purchases;
            r.SendPurchase();
            if (!RunUntil([&] { return !waiting; }, 30000)) {
                std::fprintf(stderr, "purchase %d had no answer in 30 s\n", i + 1);
                return 1;
            }
        }
        cpuSingle = ProcessCpuSeconds(terminal.Pid()) - cpu0;
        centreSingle = ProcessCpuSeconds(centre.Pid()) - centre0;
        prompts = r.prompts - prompts;
        prints = r.prints - prints;
    }
    const Stats single = Summarise(latency);
    const int authorisations = CountLines(work.path() + "/cardcentre.out", "auth 0100");

    // 32 registers at once, each sending its next purchase as soon as the last one is answered.
    std::vector<std::unique_ptr<BenchRegister>> many;
    bool sending = true;
    int answered = 0, approved = 0, sent = 0;
    for (int i = 0; i < registers; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "POS%05d", 101 + i);
        many.push_back(std::make_unique<BenchRegister>(name, port));
        many.back()->finished = [&](BenchRegister& r, int type, double) {
            ++answered;
            approved += type == wsApproval;
            if (sending) {
                r.SendPurchase();
                ++sent;
            }
        };
    }
    for (auto& r : many)
        if (!r->WaitConnected())
            return 1;
    cpu0 = ProcessCpuSeconds(terminal.Pid());
    centre0 = ProcessCpuSeconds(centre.Pid());
    QElapsedTimer wall;
    wall.start();
    for (auto& r : many) {
        r->SendPurchase();
        ++sent;
    }
    RunUntil([] { return false; }, seconds * 1000);
    sending = false;
    const bool drained = RunUntil([&] { return answered == sent; }, 120000);
    const double elapsedS = double(wall.nsecsElapsed()) / 1e9;
    const double throughput = answered / elapsedS;
    cpuMany = ProcessCpuSeconds(terminal.Pid()) - cpu0;
    centreMany = ProcessCpuSeconds(centre.Pid()) - centre0;

    terminal.Stop();
    const int rows = CountRows(home + "/tollan.mdb", "SELECT count(*) FROM Trans");
    const int logRows = CountRows(home + "/tollan.mdb", "SELECT count(*) FROM Log");

    // The floor, measured alone once the terminal has ended.
    const int count = std::max(1, single.n > 0 ? int(single.n) : 1);
    const double perPrompts = double(prompts) / count, perPrints = double(prints) / count;
    const double roundTrips = 1 + perPrompts + perPrints;
    const double legs = double(authorisations) / (purchases + 20);
    const Floor f = MeasureFloor(2000, 300, 200, floorHome);
    const double floorMs = roundTrips * f.roundTrip.mean + legs * f.cardCentreLeg.mean + f.commit.mean;

    Put(j, "latency", single, "ms");
    j.Number("failed_purchases", failures);
    j.Number("terminal_cpu_ms_per_purchase", 1000 * cpuSingle / purchases);
    j.Number("card_centre_cpu_ms_per_purchase", 1000 * centreSingle / purchases);
    j.Number("round_trips_per_purchase", roundTrips);
    j.Number("prompts_per_purchase", perPrompts);
    j.Number("print_requests_per_purchase", perPrints);
    j.Number("card_centre_dialogues_per_purchase", legs);
    Put(j, "floor_round_trip", f.roundTrip, "ms");
    Put(j, "floor_card_centre_connect_and_exchange", f.cardCentreLeg, "ms");
    Put(j, "floor_durable_commit", f.commit, "ms");
    j.Number("floor_ms", floorMs);
    j.Number("latency_to_floor_ratio", single.mean / floorMs);
    j.Number("latency_goal_ratio_below", 2.0);
    j.Bool("latency_goal_met", single.mean < 2.0 * floorMs);

    j.Number("throughput_registers", registers);
    j.Number("throughput_seconds", elapsedS);
    j.Number("throughput_sent", sent);
    j.Number("throughput_answered", answered);
    j.Number("throughput_approved", approved);
    j.Number("throughput_lost", sent - answered);
    j.Bool("throughput_drained", drained);
    j.Number("throughput_per_s", throughput);
    j.Number("throughput_terminal_cpu_ms_per_purchase", answered ? 1000 * cpuMany / answered : 0);
    j.Number("throughput_card_centre_cpu_ms_per_purchase", answered ? 1000 * centreMany / answered : 0);
    j.Number("throughput_limit_per_s", 1000.0 / single.mean);
    j.Number("throughput_to_limit_ratio", throughput * single.mean / 1000.0);
    j.Number("throughput_goal_ratio_at_least", 0.9);
    j.Bool("throughput_goal_met", drained && sent == answered && approved == answered &&
                                       throughput * single.mean / 1000.0 >= 0.9);
    j.Number("rows_stored", rows);
    j.Number("rows_expected", 20 + purchases - failures + approved);
    j.Number("log_rows", logRows);
    std::printf("%s\n", j.Str().c_str());
    return 0;
}
