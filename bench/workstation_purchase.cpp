// Purchase latency and throughput of the real terminal (`tollan --headless`) with an instant card
// centre (`tollan-cardcentre`), both on loopback, the registers played from here with the
// workstation packet codec: every prompt and print request is answered at once.
//
// Latency: one register, purchases one after another, from the request written to the final answer
// read. Its floor, measured alone: as many loopback round trips as the purchase made (request and
// answer, each prompt, each print request, counted here as they happen), one connect-and-exchange
// for each card-centre dialogue (counted from the card centre's log), and one durable commit of a
// Trans row with the store's own settings. Goal: latency under 2 x the floor.
//
// Throughput: 32 registers on their own connections sending purchases without pause. Goal: at
// least 90 % of 1 / (single-register latency), every request answered, every approval a row.
//
// The run goes in rounds: purchases alone with the floor's commits between them, the floor's round
// trips, the 32 registers; the figures are over all rounds, so that each is set against the others on the same machine at the
// same time. Prints one JSON object. Options: --quick (2 short rounds), --purchases N (alone, over
// all rounds), --seconds S (of load, over all rounds), --trace (the arrival of every packet of the
// last three purchases alone, on stderr), --tls (the card centre over TLS: "UseTLS" 1 and the peer
// with a certificate for 127.0.0.1 made here; the floor's card-centre leg then has its handshake,
// and the figures say what the handshake costs a purchase).
#include "bench/process_bench.h"
#include "bench/tls_certificates.h"
#include "links/tls.h"
#include "store/db.h"
#include "support/config.h"
#include "support/home.h"
#include "support/msgbox.h"
#include "workstation/packet.h"

#include <QDate>
#include <QSslKey>
#include <QSslSocket>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTime>
#include <QVariant>

#include <cstring>
#include <functional>
#include <optional>

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
    BenchRegister(std::string name, quint16 port) : name_(std::move(name)), port_(port)
    {
        connect(&socket_, &QTcpSocket::readyRead, this, [this] { Arrived(); });
        socket_.connectToHost(QHostAddress::LocalHost, port);
    }
    bool WaitConnected() { return socket_.waitForConnected(5000); }
    bool Connected() const { return socket_.state() == QAbstractSocket::ConnectedState; }
    // The terminal turned the connection away (all its sockets were taken): a new one.
    bool Reconnect()
    {
        socket_.abort();
        in_.clear();
        socket_.connectToHost(QHostAddress::LocalHost, port_);
        return WaitConnected();
    }

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
    quint16 port_;
    std::string trans_;
    int next_ = 1;
    QTcpSocket socket_;
    std::string in_;
    QElapsedTimer timer_;
};

// The other end of the floor's round trips: answers every `request` bytes with `reply` bytes,
// on its own thread, as the terminal answers from its own process.
// Over TLS each connection is a QSslSocket whose handshake starts as it comes, as the card-centre
// peer takes its connections.
class EchoServer : public QTcpServer {
public:
    EchoServer(std::optional<QSslConfiguration> tls, QObject* parent) : QTcpServer(parent), tls_(std::move(tls)) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (!tls_) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto* s = new QSslSocket(this);
        if (!s->setSocketDescriptor(descriptor)) {
            delete s;
            return;
        }
        s->setSslConfiguration(*tls_);
        addPendingConnection(s);
        s->startServerEncryption();
    }

private:
    std::optional<QSslConfiguration> tls_;
};

class Echo : public QObject {
public:
    Echo(int request, int reply, std::optional<QSslConfiguration> tls = {})
        : request_(request), reply_(std::size_t(reply), 'x'), tls_(std::move(tls))
    {
    }
    quint16 Listen()
    {
        server_ = new EchoServer(tls_, this);
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
    std::optional<QSslConfiguration> tls_;
};

bool Exchange(QTcpSocket& s, const std::string& out, qint64 expect)
{
    s.write(out.data(), qint64(out.size()));
    qint64 got = 0;
    return RunUntil([&] { return (got += s.readAll().size()) >= expect; }, 5000);
}

// The floor's parts, each measured alone, between the rounds of purchases, so that the floor sees
// the same machine as the purchases (the disk's commit time changes by ten times within minutes
// when others use it).
class Floor {
public:
    // A purchase request is 224 bytes, a prompt 198, a print request a few hundred; the answers
    // are shorter. 224 each way is at least as much as any of them but the receipts.
    static constexpr int kSize = 224;

    // `pki`, when given, holds the card centre's certificate: the card-centre legs are then
    // measured over TLS too, the terminal's way (its settings, its TLS configuration).
    bool Open(const QString& dir, const QString& pki = {})
    {
        echo_ = new Echo(kSize, kSize);
        echo_->moveToThread(&thread_);
        QObject::connect(&thread_, &QThread::finished, echo_, &QObject::deleteLater);
        thread_.start();
        QMetaObject::invokeMethod(echo_, [&] { port_ = echo_->Listen(); }, Qt::BlockingQueuedConnection);
        if (!pki.isEmpty()) {
            QSslConfiguration server = QSslConfiguration::defaultConfiguration();
            server.setLocalCertificateChain(QSslCertificate::fromPath(pki + "/centre.pem"));
            QFile key(pki + "/centre.key");
            if (!key.open(QIODevice::ReadOnly))
                return false;
            server.setPrivateKey(QSslKey(&key, QSsl::Ec));
            server.setPeerVerifyMode(QSslSocket::VerifyNone);
            echoTls_ = new Echo(kSize, kSize, server);
            echoTls_->moveToThread(&thread_);
            QObject::connect(&thread_, &QThread::finished, echoTls_, &QObject::deleteLater);
            QMetaObject::invokeMethod(echoTls_, [&] { tlsPort_ = echoTls_->Listen(); }, Qt::BlockingQueuedConnection);
        }
        line_.connectToHost(QHostAddress::LocalHost, port_);
        if (!line_.waitForConnected(5000))
            return false;
        // Rows go into a tollan.mdb made by the store itself (same table, indexes and pragmas),
        // each insert its own durable commit.
        Home_Set(dir);
        Cfg_SetRoot(kCfgRoot);
        Ui_SetHeadless(true);
        if (!Db_Open())
            return false;
        if (!pki.isEmpty()) {
            Cfg_Put("TLS\\CAFile", (pki + "/ca.pem").toStdString());
            std::string why;
            TlsParams p;
            if (!Tls_Params("127.0.0.1", tlsPort_, p, why))
                return false;
            tls_ = p;
        }
        insert_ = std::make_unique<QSqlQuery>(Db_Database());
        return insert_->prepare("INSERT INTO Trans (Type, PAN, WayOfUse, Amount, Date, Time, AuthCode, POSCode,"
                                " ExpDate, STAN, Track2, sent, Toojaam, Trans) VALUES (0, ?, 1, '12.5', 20261207,"
                                " 101530, '123456', 2, 2812, ?, ?, 0, 'POS00001', ?)");
    }
    ~Floor()
    {
        line_.abort();
        thread_.quit();
        thread_.wait();
    }
    void RoundTrips(int n)
    {
        for (int i = 0; i < n; ++i) {
            QElapsedTimer t;
            t.start();
            Exchange(line_, message_, kSize);
            roundTrip.push_back(double(t.nsecsElapsed()) / 1e6);
        }
    }
    // The card-centre dialogue connects, exchanges one frame each way and closes; over TLS also
    // with a full handshake (as the peer, which cannot resume, always has).
    void CardCentreLegs(int n)
    {
        for (int i = 0; i < n; ++i) {
            QElapsedTimer t;
            t.start();
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port_);
            RunUntil([&] { return s.state() == QAbstractSocket::ConnectedState; }, 5000);
            Exchange(s, message_, kSize);
            s.disconnectFromHost();
            leg.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        for (int i = 0; tls_ && i < n; ++i) {
            QElapsedTimer t;
            t.start();
            QSslSocket s;
            s.setSslConfiguration(tls_->config);
            s.connectToHostEncrypted("127.0.0.1", tlsPort_, tls_->peerName);
            RunUntil([&] { return s.isEncrypted() || s.state() == QAbstractSocket::UnconnectedState; }, 5000);
            Exchange(s, message_, kSize);
            s.disconnectFromHost();
            tlsLeg.push_back(double(t.nsecsElapsed()) / 1e6);
        }
    }
    void Commits(int n)
    {
        for (int i = 0; i < n; ++i) {
            ++rows_;
            insert_->bindValue(0, kPan);
            insert_->bindValue(1, QString::number(rows_));
            insert_->bindValue(2, kCard);
            insert_->bindValue(3, QString::asprintf("%08d", rows_));
            QElapsedTimer t;
            t.start();
            insert_->exec();
            commit.push_back(double(t.nsecsElapsed()) / 1e6);
        }
    }
    // Not part of the floor: the durable save of the trace number counter that every purchase
    // makes before it goes on (registry.ini written, synced and renamed, its folder synced).
    void CounterSaves(int n)
    {
        for (int i = 0; i < n; ++i) {
            QElapsedTimer t;
            t.start();
            Cfg_Put("NextNumber", std::to_string(++counter_));
            counterSave.push_back(double(t.nsecsElapsed()) / 1e6);
        }
    }
    std::vector<double> roundTrip, leg, tlsLeg, commit, counterSave;

private:
    QThread thread_;
    Echo* echo_ = nullptr;
    Echo* echoTls_ = nullptr;
    quint16 port_ = 0;
    quint16 tlsPort_ = 0;
    std::optional<TlsParams> tls_;
    QTcpSocket line_;
    std::unique_ptr<QSqlQuery> insert_;
    const std::string message_ = std::string(kSize, 'r');
    int rows_ = 0;
    int counter_ = 1;
};

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
    int purchases = 400, seconds = 24, registers = 32, rounds = 4;
    bool trace = false, tls = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick")) {
            purchases = 100;
            seconds = 6;
            rounds = 2;
        } else if (!std::strcmp(argv[i], "--purchases") && i + 1 < argc) {
            purchases = std::max(10, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--trace")) {
            trace = true;
        } else if (!std::strcmp(argv[i], "--tls")) {
            tls = true;
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
    j.Bool("tls", tls);
    const QString pki = work.path() + "/pki";
    QStringList centreArgs;
    if (tls) {
        QDir().mkpath(pki);
        if (!MakeCentreCertificate(pki)) {
            std::fprintf(stderr, "cannot make the certificates in %s (is openssl installed?)\n", qPrintable(pki));
            return 1;
        }
        centreArgs = {"--tls-cert", pki + "/centre.pem", "--tls-key", pki + "/centre.key"};
    }
    Floor floor;
    if (!floor.Open(floorHome, tls ? pki : QString())) {
        std::fprintf(stderr, "cannot set up the floor in %s\n", qPrintable(floorHome));
        return 1;
    }
    CardCentre centre;
    if (!centre.Start(centreArgs, work.path())) {
        std::fprintf(stderr, "the card centre does not start\n");
        return 1;
    }
    Terminal terminal(home);
    const quint16 port = FreePort();
    if (!terminal.Config("Port", QString::number(port)) || !terminal.Config("Tollan_Auth_Address", centre.Address()) ||
        !terminal.Config("Tollan_Trans_Address", centre.Address()) ||
        (tls && (!terminal.Config("UseTLS", "1") || !terminal.Config("TLS\\CAFile", pki + "/ca.pem"))) ||
        !terminal.Start() ||
        !terminal.WaitListening(port)) {
        std::fprintf(stderr, "the terminal does not start in %s\n", qPrintable(home));
        return 1;
    }

    // The 32 registers, each on its own lasting connection; the first also makes the purchases of
    // the single-register rounds (a 33rd connection would find no free socket).
    std::vector<std::unique_ptr<BenchRegister>> many;
    bool sending = false;
    int answered = 0, approved = 0, sent = 0;
    for (int i = 0; i < registers; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "POS%05d", 101 + i);
        many.push_back(std::make_unique<BenchRegister>(name, port));
    }
    // The terminal frees the socket of its start-up probe when the close arrives; a register that
    // came first was turned away and connects again.
    for (int attempt = 0;; ++attempt) {
        for (auto& r : many)
            if (!r->Connected() && !r->WaitConnected() && !r->Reconnect())
                return 1;
        RunUntil([] { return false; }, 300);
        const bool all = std::all_of(many.begin(), many.end(), [](auto& r) { return r->Connected(); });
        if (all)
            break;
        if (attempt == 5) {
            std::fprintf(stderr, "the terminal does not take 32 registers\n");
            return 1;
        }
        for (auto& r : many)
            if (!r->Connected())
                r->Reconnect();
    }
    auto loadMode = [&](BenchRegister& r, int type, double) {
        ++answered;
        approved += type == wsApproval;
        if (sending) {
            r.SendPurchase();
            ++sent;
        }
    };
    BenchRegister& single = *many.front();

    // Alone, purchases one after another.
    std::vector<double> latency;
    int failures = 0, singleDone = 0;
    bool waiting = false;
    auto singleMode = [&](BenchRegister&, int type, double ms) {
        waiting = false;
        failures += type != wsApproval;
        latency.push_back(ms);
    };
    auto purchaseAlone = [&](bool traced) {
        waiting = true;
        single.trace = traced;
        single.SendPurchase();
        ++singleDone;
        return RunUntil([&] { return !waiting; }, 30000);
    };
    single.finished = singleMode;
    for (int i = 0; i < 20; ++i)   // warm-up, not counted
        if (!purchaseAlone(false))
            return 1;
    latency.clear();
    failures = 0;
    int prompts = 0, prints = 0;
    const int auth0 = CountLines(work.path() + "/cardcentre.out", "auth 0100");

    double cpuSingle = 0, cpuMany = 0, centreSingle = 0, centreMany = 0, loadSeconds = 0;
    int singleCounted = 0;
    for (int round = 0; round < rounds; ++round) {
        single.finished = singleMode;
        const double cpu0 = ProcessCpuSeconds(terminal.Pid()), centre0 = ProcessCpuSeconds(centre.Pid());
        const int share = purchases / rounds;
        const int prompts0 = single.prompts, prints0 = single.prints;
        for (int i = 0; i < share; ++i) {
            if (!purchaseAlone(trace && round == rounds - 1 && i + 3 >= share)) {
                std::fprintf(stderr, "a purchase had no answer in 30 s\n");
                return 1;
            }
            ++singleCounted;
            // The disk's commit time changes from one second to the next when others use it: the
            // floor's commits are taken between the purchases, ten and ten.
            if (singleCounted % 10 == 0) {
                single.finished = nullptr;
                floor.Commits(10);
                floor.CounterSaves(10);
                single.finished = singleMode;
            }
        }
        prompts += single.prompts - prompts0;
        prints += single.prints - prints0;
        cpuSingle += ProcessCpuSeconds(terminal.Pid()) - cpu0;
        centreSingle += ProcessCpuSeconds(centre.Pid()) - centre0;
        floor.RoundTrips(500);
        floor.CardCentreLegs(75);

        // All 32 at once, each sending its next purchase as soon as the last one is answered.
        for (auto& r : many)
            r->finished = loadMode;
        const double cpu1 = ProcessCpuSeconds(terminal.Pid()), centre1 = ProcessCpuSeconds(centre.Pid());
        QElapsedTimer wall;
        wall.start();
        sending = true;
        for (auto& r : many) {
            r->SendPurchase();
            ++sent;
        }
        RunUntil([] { return false; }, seconds * 1000 / rounds);
        sending = false;
        if (!RunUntil([&] { return answered == sent; }, 120000))
            break;
        loadSeconds += double(wall.nsecsElapsed()) / 1e9;
        cpuMany += ProcessCpuSeconds(terminal.Pid()) - cpu1;
        centreMany += ProcessCpuSeconds(centre.Pid()) - centre1;
    }
    const bool drained = answered == sent;
    const int authorisations = CountLines(work.path() + "/cardcentre.out", "auth 0100");

    terminal.Stop();
    const int rows = CountRows(home + "/tollan.mdb", "SELECT count(*) FROM Trans");
    const int logRows = CountRows(home + "/tollan.mdb", "SELECT count(*) FROM Log");

    const Stats alone = Summarise(latency);
    const int counted = std::max(1, singleCounted);
    const double perPrompts = double(prompts) / counted, perPrints = double(prints) / counted;
    const double roundTrips = 1 + perPrompts + perPrints;
    // Dialogues of the single rounds and of the load, over the purchases of both.
    const double legs = double(authorisations - auth0) / double(std::max(1, counted + answered));
    const Stats rt = Summarise(floor.roundTrip), plainLeg = Summarise(floor.leg), commit = Summarise(floor.commit);
    const Stats leg = tls ? Summarise(floor.tlsLeg) : plainLeg;
    const double floorMs = roundTrips * rt.mean + legs * leg.mean + commit.mean;
    const Stats counter = Summarise(floor.counterSave);
    const double throughput = loadSeconds > 0 ? answered / loadSeconds : 0;

    j.Number("rounds", rounds);
    Put(j, "latency", alone, "ms");
    j.Number("failed_purchases", failures);
    j.Number("terminal_cpu_ms_per_purchase", 1000 * cpuSingle / counted);
    j.Number("card_centre_cpu_ms_per_purchase", 1000 * centreSingle / counted);
    j.Number("round_trips_per_purchase", roundTrips);
    j.Number("prompts_per_purchase", perPrompts);
    j.Number("print_requests_per_purchase", perPrints);
    j.Number("card_centre_dialogues_per_purchase", legs);
    Put(j, "floor_round_trip", rt, "ms");
    Put(j, "floor_card_centre_connect_and_exchange", leg, "ms");
    if (tls) {
        // What the handshake adds to a dialogue, and so to a purchase, beside a plain connection
        // measured in the same rounds.
        Put(j, "floor_plain_card_centre_connect_and_exchange", plainLeg, "ms");
        const double handshake = leg.mean - plainLeg.mean;
        j.Number("tls_handshake_ms", handshake);
        j.Number("tls_handshake_share_of_purchase", legs * handshake / alone.mean);
    }
    Put(j, "floor_durable_commit", commit, "ms");
    j.Number("floor_ms", floorMs);
    j.Number("latency_to_floor_ratio", alone.mean / floorMs);
    j.Number("latency_goal_ratio_below", 2.0);
    j.Bool("latency_goal_met", failures == 0 && alone.mean < 2.0 * floorMs);
    // The floor with the second durable write that a purchase makes, for comparison.
    Put(j, "counter_save", counter, "ms");
    j.Number("floor_with_counter_save_ms", floorMs + counter.mean);
    j.Number("latency_to_floor_with_counter_save_ratio", alone.mean / (floorMs + counter.mean));

    j.Number("throughput_registers", registers);
    j.Number("throughput_seconds", loadSeconds);
    j.Number("throughput_sent", sent);
    j.Number("throughput_answered", answered);
    j.Number("throughput_approved", approved);
    j.Number("throughput_lost", sent - answered);
    j.Bool("throughput_drained", drained);
    j.Number("throughput_per_s", throughput);
    j.Number("throughput_terminal_cpu_ms_per_purchase", answered ? 1000 * cpuMany / answered : 0);
    j.Number("throughput_card_centre_cpu_ms_per_purchase", answered ? 1000 * centreMany / answered : 0);
    j.Number("throughput_limit_per_s", 1000.0 / alone.mean);
    j.Number("throughput_to_limit_ratio", throughput * alone.mean / 1000.0);
    j.Number("throughput_goal_ratio_at_least", 0.9);
    j.Bool("throughput_goal_met", drained && sent == answered && approved == answered &&
                                       throughput * alone.mean / 1000.0 >= 0.9);
    j.Number("rows_stored", rows);
    j.Number("rows_expected", singleDone - failures + approved);
    j.Number("log_rows", logRows);
    std::printf("%s\n", j.Str().c_str());
    return 0;
}
