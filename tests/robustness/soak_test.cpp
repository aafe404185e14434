// The reconciliation soak: the real terminal, headless, serves three registers making purchases and
// cancellations against a card centre that misbehaves at random (declines with numeric and other
// codes, silence, late answers, answers with a hang-up or with bytes after them, NAKed lines,
// refused files), while the terminal is killed with SIGKILL or stopped with SIGTERM and started
// again (at random, and aimed at the transaction file: between its lines, right after its
// verdict), its disk fills up and frees again, sqlite3 holds tollan.mdb in a read, and `tollan
// config set` saves the settings beside it. At the end three ledgers are set side by side, what the
// registers were told, what the card centre saw (its --ledger) and what tollan.mdb holds, and
// every discrepancy is named: whatever was cut when, every approved transaction settles once. At
// every kill and at the end, no full card number nor track data may rest under the home folder.
//
// TOLLAN_SOAK_SECONDS sets how long the registers buy (default 30), TOLLAN_SOAK_SEED repeats a
// run (the seed is printed); a run with discrepancies keeps its files.
#include "tests/common/card_scan.h"
#include "tests/robustness/suite.h"

#include <QDateTime>
#include <QJsonArray>

#include <limits>

namespace {

qint64 Now() { return QDateTime::currentMSecsSinceEpoch(); }

// One register process: a purchase, or the cancellation of one of its register's purchases.
struct Request {
    QString workstation, trans, cancels;   // cancels: the purchase's transaction number
    // end: when we saw it end (at the latest); answered: when it heard its final answer (at the
    // earliest: its own clock starts after its process has, which takes a while on a loaded machine).
    qint64 start = 0, end = 0, answered = 0;
    int status = -1;                       // the register's exit status: 0 approved (type 22)
    std::unique_ptr<PeerProcess> process;
};

// What the card centre's ledger says of one authorisation request.
struct Auth {
    QString type, code, authCode, original;
    long stan = 0;
    bool readable = false;   // an answer with element 39 reached the terminal's open line
    qint64 time = 0;
};

struct AcceptedFile {
    qint64 time = 0;
    QStringList lines;
};

// A file as the card centre knows it: the header's acceptor, receiver, sender and number.
QString FileNumberKey(const QStringList& lines) { return lines.isEmpty() ? QString() : lines[0].mid(15, 26); }

// A row's identity in the transaction file: register, STAN's five digits, kind.
QString FileKey(const QString& pos, long stan, int type)
{
    return pos + "/" + QString::number(stan % 100000) + "/" + QString::number(type);
}

class Soak : public Shop {
protected:
    void StartCentre(const QStringList& extra)
    {
        Shop::StartCentre(QStringList{"--ledger", ledger, "--store", tmp.filePath("files")} + extra);
    }

    // Whether a kill or stop fell in [from, to]: what was under way then may have been cut anywhere.
    bool KilledWithin(qint64 from, qint64 to) const
    {
        for (qint64 k : kills)
            if (k >= from && k <= to)
                return true;
        return false;
    }

    void ReadLedger()
    {
        QFile f(ledger);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        int start = 0;
        std::map<std::pair<int, int>, std::size_t> byId;   // (start, id) -> auths index
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            const QString event = e["event"].toString();
            const qint64 time = QDateTime::fromString(e["time"].toString(), "yyyy-MM-dd hh:mm:ss.zzz").toMSecsSinceEpoch();
            if (event == "start") {
                ++start;
            } else if (event == "auth") {
                const Auth a{e["type"].toString(), e["code"].toString(), e["auth_code"].toString(), e["original"].toString().mid(4, 6),
                             e["stan"].toString().toLong(), e["written"].toBool() && !e["code"].isNull(), time};
                byId[{start, e["id"].toInt()}] = auths.size();
                auths.push_back(a);
            } else if (event == "answer") {   // a delayed answer falls due
                if (auto it = byId.find({start, e["id"].toInt()}); it != byId.end())
                    auths[it->second].readable = e["written"].toBool() && !auths[it->second].code.isEmpty();
            } else if (event == "file" && e["status"].toInt() == 1) {
                AcceptedFile file{time, {}};
                for (const auto& l : e["lines"].toArray())
                    file.lines << l.toString();
                files.push_back(file);
            }
        }
    }

    const QString ledger = tmp.filePath("ledger.jsonl");
    std::vector<qint64> kills;
    std::vector<Auth> auths;
    std::vector<AcceptedFile> files;
};

TEST_F(Soak, TheRegistersTheCardCentreAndTheDatabaseAgreeThroughFaultsAndCrashes)
{
    const std::uint32_t seed =
        qEnvironmentVariableIsEmpty("TOLLAN_SOAK_SEED") ? std::random_device{}() : qgetenv("TOLLAN_SOAK_SEED").toUInt();
    const int seconds = qEnvironmentVariableIsEmpty("TOLLAN_SOAK_SECONDS") ? 30 : qEnvironmentVariableIntValue("TOLLAN_SOAK_SECONDS");
    // "ParallelRequests": the registers are two more than the requests that may run at once (three
    // at least), so that some always wait their turn.
    const int parallel = std::clamp(qEnvironmentVariableIsEmpty("TOLLAN_SOAK_PARALLEL") ? 1 : qEnvironmentVariableIntValue("TOLLAN_SOAK_PARALLEL"), 1, 32);
    const int kLanes = std::max(3, parallel + 2);
    std::printf("soak: seed %u, %d s, %d registers, %d requests at once (TOLLAN_SOAK_SEED=%u repeats it)\n", seed,
                seconds, kLanes, parallel, seed);
    std::fflush(stdout);
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    auto between = [&](int lo, int hi) { return lo + int(random() % unsigned(hi - lo + 1)); };

    const bool disk = MountHome("64m");
    std::printf("soak: %s\n", disk ? "the home folder is a 64 MB file system that fills up now and then"
                                     : "no file system can be mounted here: the disk never fills");
    Config("TimeOut\\Auth", "3");
    Config("ParallelRequests", QString::number(parallel));
    Config("SendTransTime1", "* * * * *");
    ASSERT_NO_FATAL_FAILURE(StartCentre({"--chaos", QString::number(seed)}));
    ASSERT_NO_FATAL_FAILURE(StartTerminal());

    const QStringList cards = {"4000001234567899=28121010000012300000", "5555555555554444=2812101",
                               "4111111111111111=2812101"};
    std::vector<Request> done;
    std::vector<std::unique_ptr<Request>> running(static_cast<std::size_t>(kLanes));
    std::vector<std::vector<QString>> approved(static_cast<std::size_t>(kLanes));   // each register's approved purchases
    std::vector<std::set<QString>> cancelled(static_cast<std::size_t>(kLanes));
    std::vector<qint64> idleUntil(static_cast<std::size_t>(kLanes));
    double silence = 0;        // the longest a waiting register heard nothing
    QString silentOne;
    int killsInFlight = 0;     // the most requests under way at a kill
    int lastTrans = 0, configSets = 0, reads = 0, stops = 0, aimed = 0, fills = 0;
    auto startRequest = [&](int lane) {
        auto r = std::make_unique<Request>();
        r->workstation = QString("POS%1").arg(lane + 1, 5, 10, QChar('0'));
        r->trans = QString::number(++lastTrans).rightJustified(8, '0');
        QStringList args{"--port", QString::number(port), "--timeout", "170", "--workstation", r->workstation,
                         "--trans", r->trans, "--json"};
        if (!approved[lane].empty() && between(1, 4) == 1) {
            // A quarter are cancellations of one of the register's last few purchases (the older
            // ones have mostly gone in a file), some of a purchase already cancelled.
            std::vector<QString> pick(approved[lane].end() - std::min<std::ptrdiff_t>(4, approved[lane].size()),
                                      approved[lane].end());
            if (between(1, 3) > 1)
                std::erase_if(pick, [&](const QString& t) { return cancelled[lane].count(t) > 0; });
            if (!pick.empty())
                r->cancels = pick[random() % pick.size()];
        }
        if (!r->cancels.isEmpty()) {
            args << "--cancel" << r->cancels;
        } else {
            // Whole cents mostly, a fraction of a cent now and then.
            const QString amount = QString::number(between(1, 99999) / 100.0 + (between(1, 5) == 1 ? 0.005 : 0), 'f', 3);
            args << "--amount" << amount << "--card" << cards[random() % cards.size()] << "--answer" << "2812"
                 << "--answer" << QString("P%1").arg(lastTrans % 100000, 5, 10, QChar('0'));
        }
        r->process = std::make_unique<PeerProcess>();
        r->start = Now();
        EXPECT_TRUE(r->process->Start(TOLLAN_REGISTER_EXE, args));
        running[lane] = std::move(r);
    };
    auto reap = [&](int lane) {
        Request& r = *running[lane];
        r.end = Now();
        r.status = r.process->Exit(180000);
        const QJsonObject said = QJsonDocument::fromJson(QByteArray::fromStdString(r.process->out)).object();
        // It ends as it hears its final answer, and we may see that only after a blow's restart.
        r.answered = said.contains("seconds") ? std::min(r.end, r.start + qint64(said["seconds"].toDouble() * 1000) + 1)
                                              : r.end;
        if (said["waiting_silence_max_ms"].toDouble() > silence) {
            silence = said["waiting_silence_max_ms"].toDouble();
            silentOne = r.workstation + "/" + r.trans;
        }
        if (r.status == 0) {
            if (r.cancels.isEmpty())
                approved[lane].push_back(r.trans);
            else
                cancelled[lane].insert(r.cancels);
        }
        r.process.reset();
        done.push_back(std::move(r));
        running[lane].reset();
    };

    // A kill (or a stop, one in three) ends the terminal's life wherever it is; SIGTERM must end it
    // within ten seconds with status 0.
    // The card numbers and tracks of the cards below, in every form a program could write them.
    const std::vector<std::string> secrets{"4000001234567899", "5555555555554444", "4111111111111111",
                                           "=28121010000012300000", "=2812101"};
    QStringList atRest;
    auto blow = [&](int signal) {
        kills.push_back(Now());
        if (signal == SIGKILL)
            killsInFlight = std::max(killsInFlight, int(std::count_if(running.begin(), running.end(), [](const auto& r) {
                                                         return r && r->process->process.state() != QProcess::NotRunning;
                                                     })));
        stops += signal == SIGTERM;
        StopTerminal(signal);
        atRest << FindCardData(home.path(), secrets);
        StartTerminal();
    };
    auto someSignal = [&] { return between(1, 3) == 1 ? SIGTERM : SIGKILL; };
    const qint64 endAt = Now() + qint64(seconds) * 1000;
    qint64 nextKill = Now() + between(4000, 15000), nextRead = Now() + between(1000, 5000),
           nextConfig = Now() + between(500, 3000), readUntil = 0;
    // Blows aimed at the transaction file: right after the card centre's verdict (before, during or
    // after its commit), or between two of its lines, as the card centre's output shows them.
    std::size_t centreSeen = 0;
    qint64 aimAt = 0, lastAimed = 0;
    int aimSignal = SIGKILL;
    qint64 nextFill = disk ? Now() + between(5000, 20000) : std::numeric_limits<qint64>::max(), freeAt = 0;
    std::unique_ptr<QProcess> reader, config;
    auto endRead = [&] {
        reader->write("COMMIT;\n.quit\n");
        reader->waitForFinished(5000);
        reader.reset();
    };
    while (Now() < endAt) {
        Pause(20);
        for (int lane = 0; lane < kLanes; ++lane) {
            if (running[lane] && running[lane]->process->process.state() == QProcess::NotRunning)
                reap(lane);
            // A register pauses between its customers now and then: the terminal has its quiet
            // moments, in which a transfer that is due goes.
            if (!running[lane] && Now() >= idleUntil[lane]) {
                startRequest(lane);
                idleUntil[lane] = Now() + (between(1, 2) == 1 ? between(300, 3000) : 0);
            }
        }
        if (Now() >= nextKill) {
            ASSERT_NO_FATAL_FAILURE(blow(someSignal()));
            nextKill = Now() + between(4000, 15000);
        }
        centre->Printed("");
        for (std::size_t nl; (nl = centre->out.find('\n', centreSeen)) != std::string::npos; centreSeen = nl + 1) {
            const std::string line = centre->out.substr(centreSeen, nl - centreSeen);
            if (aimAt != 0 || Now() - lastAimed < 3000)
                continue;
            if (line.rfind("ENQ -> verdict", 0) == 0 && between(1, 2) == 1)
                aimAt = Now() + between(0, 30);
            else if (line.rfind("line ", 0) == 0 && Has(line, " ACK") && between(1, 30) == 1)
                aimAt = Now() + between(0, 15);
            aimSignal = someSignal();
        }
        if (aimAt != 0 && Now() >= aimAt) {
            ASSERT_NO_FATAL_FAILURE(blow(aimSignal));
            aimAt = 0;
            lastAimed = Now();
            ++aimed;
        }
        if (freeAt == 0 && Now() >= nextFill) {   // the disk full for a few seconds
            FillDisk();
            freeAt = Now() + between(1000, 5000);
            ++fills;
        }
        if (freeAt != 0 && Now() >= freeAt) {
            FreeDisk();
            freeAt = 0;
            nextFill = Now() + between(5000, 20000);
        }
        if (!reader && Now() >= nextRead) {   // sqlite3 in a shell, in the middle of a read
            reader = std::make_unique<QProcess>();
            reader->start("sqlite3", {home.filePath("tollan.mdb")});
            reader->write("BEGIN; SELECT count(*) FROM Trans;\n");
            readUntil = Now() + between(2000, 9000);
            ++reads;
        }
        if (reader && Now() >= readUntil) {
            endRead();
            nextRead = Now() + between(1000, 5000);
        }
        if (Now() >= nextConfig && (!config || config->state() == QProcess::NotRunning)) {
            config = std::make_unique<QProcess>();
            config->start(TOLLAN_EXE, {"--home", home.path(), "config", "set", "FirmaNimi", QString("Pood %1").arg(++configSets)});
            nextConfig = Now() + between(500, 3000);
        }
    }
    FreeDisk();
    for (int lane = 0; lane < kLanes; ++lane)
        if (running[lane])
            reap(lane);
    if (reader)
        endRead();
    if (config)
        config->waitForFinished(10000);

    const qint64 settled = Now();
    // A card centre that takes everything, until every row has gone in an accepted file.
    centre.reset();
    ASSERT_NO_FATAL_FAILURE(StartCentre({}));
    // A terminal sends at its first tick when its send time is every minute.
    for (int attempt = 0; attempt < 4 && Rows("SELECT count(*) FROM Trans WHERE sent = 0") != QStringList{"0"}; ++attempt) {
        StopTerminal();
        ASSERT_NO_FATAL_FAILURE(StartTerminal());
        for (qint64 until = Now() + 20000;
             Now() < until && Rows("SELECT count(*) FROM Trans WHERE sent = 0") != QStringList{"0"};)
            Pause(200);
    }
    std::printf("soak: the registers were done %lld ms after the end, every row sent %lld ms later\n",
                settled - endAt, Now() - settled);
    StopTerminal();
    centre.reset();

    ASSERT_NO_FATAL_FAILURE(ReadLedger());
    EXPECT_EQ(Rows("PRAGMA integrity_check"), QStringList{"ok"});
    atRest << FindCardData(home.path(), secrets);

    // The database: a row per approved transaction.
    struct Row {
        int type = 0, posCode = 0;
        long stan = 0;
        QString authCode, origStan;
        bool sent = false, pending = false;
    };
    std::map<QString, Row> rows;   // Toojaam/Trans -> row
    for (const QString& r : Rows("SELECT Toojaam || '|' || Trans || '|' || Type || '|' || POSCode || '|' || STAN ||"
                                 " '|' || AuthCode || '|' || sent || '|' || ifnull(OrigSTAN, '') || '|' || Pending"
                                 " FROM Trans")) {
        const QStringList f = r.split('|');
        rows[f[0] + "/" + f[1]] = {f[2].toInt(), f[3].toInt(), f[4].toLong(), f[5], f[7], f[6] != "0", f[8] != "0"};
    }

    std::vector<std::string> wrong;
    auto discrepancy = [&](const QString& what) { wrong.push_back(what.toStdString()); };
    for (const QString& found : atRest)
        discrepancy("card data at rest: " + found);
    std::multimap<long, const Auth*> byStan;
    for (const Auth& a : auths)
        byStan.emplace(a.stan, &a);

    // A reversal finished after its register was answered: its verdict did not come in time, or
    // could not be recorded (a full disk), and the card centre confirmed it to the repeat (0401)
    // the terminal sent later. The register was refused, yet the row is there, as the card centre has it.
    auto finishedLater = [&](const Row& row, qint64 answered) {
        const auto [from, to] = byStan.equal_range(row.stan);
        for (auto it = from; it != to; ++it) {
            const Auth& a = *it->second;
            if (a.type == "0401" && a.readable && a.code == "00" && a.time > answered)
                return row.type == 1;
        }
        return false;
    };

    // What the registers were told against what was stored.
    std::set<QString> asked;
    for (const Request& r : done) {
        const QString key = r.workstation + "/" + r.trans;
        asked.insert(key);
        const bool cut = KilledWithin(r.start, r.end + 200);
        const auto row = rows.find(key);
        if (r.status == 0 && row == rows.end())
            discrepancy("type 22 without its row: " + key);
        if (r.status == 0 && row != rows.end() && row->second.type != (r.cancels.isEmpty() ? 0 : 1))
            discrepancy("type 22 for the wrong kind of row: " + key);
        if (row != rows.end() && r.status != 0 && !(cut && (r.status == 4 || r.status == 5)) &&
            !(r.status == 1 && finishedLater(row->second, r.answered)))
            discrepancy("row without its type 22 (register status " + QString::number(r.status) + "): " + key);
        if (r.status == 5)
            discrepancy("a register heard no final answer within its time-out: " + key);
    }
    for (const auto& [key, row] : rows)
        if (!asked.count(key))
            discrepancy("a row no register asked for: " + key);

    // What was stored against what the card centre said. A cancellation is always the card
    // centre's (its row copies the purchase's POSCode); a purchase may be authorised by telephone
    // when no verdict came.
    for (const auto& [key, row] : rows) {
        const bool byTelephone = row.type == 0 && (row.posCode & 2) != 0;
        const auto [from, to] = byStan.equal_range(row.stan);
        bool approvedHere = false, answered = false;
        for (auto it = from; it != to; ++it) {
            const Auth& a = *it->second;
            if (a.type.mid(1, 1) != (row.type == 0 ? "1" : "4"))
                continue;
            answered = answered || a.readable;
            if (a.readable && a.code == "00" && a.authCode == row.authCode)
                approvedHere = true;
            if (a.readable && a.code != "00" && !byTelephone)
                discrepancy("a decline (" + a.code + ") stored as approved: " + key);
        }
        if (!byTelephone && !approvedHere)
            discrepancy("stored as approved by the card centre without its approval: " + key);
        if (byTelephone && answered)
            discrepancy("authorised by telephone although the card centre's verdict came: " + key);
    }

    // Trace numbers: each 0100 and 0400 has its own.
    std::map<long, int> stans;
    for (const Auth& a : auths)
        if (a.type == "0100" || a.type == "0400")
            if (++stans[a.stan] == 2)
                discrepancy("trace number sent twice: " + QString::number(a.stan));

    // Reversals: every one the card centre approved is stored, whatever was killed when (a reversal
    // is recorded before it leaves and finished with its repeat), and one row per purchase.
    std::set<long> cancellationStans;
    for (const auto& [key, row] : rows)
        if (row.type == 1)
            cancellationStans.insert(row.stan);
    std::map<QString, std::set<long>> reversed;   // the purchase's STAN -> its stored reversals' STANs
    for (const Auth& a : auths) {
        if ((a.type != "0400" && a.type != "0401") || !a.readable || a.code != "00")
            continue;
        if (cancellationStans.count(a.stan))
            reversed[a.original].insert(a.stan);
        else
            discrepancy("a reversal the card centre approved and the terminal never stored: STAN " + QString::number(a.stan));
    }
    for (const auto& [original, stans] : reversed)
        if (stans.size() > 1)
            discrepancy("purchase reversed twice: STAN " + original);
    std::map<QString, int> cancellationsOf;
    for (const auto& [key, row] : rows)
        if (row.type == 1 && ++cancellationsOf[row.origStan] == 2)
            discrepancy("two cancellation rows of STAN " + row.origStan);

    // Transaction files: totals are the sums of their lines; each row in one accepted file, where a
    // file number accepted again (the terminal sent it again, not knowing its verdict) is one file.
    std::map<QString, const AcceptedFile*> byNumber;
    std::map<QString, std::set<QString>> inFiles;   // detail key -> the file numbers that carried it
    int repeats = 0;
    for (const AcceptedFile& f : files) {
        const QString number = FileNumberKey(f.lines);
        if (const auto first = byNumber.find(number); first != byNumber.end()) {
            ++repeats;
            if (first->second->lines != f.lines)
                discrepancy("one file number accepted with two different contents: " + number);
            continue;
        }
        byNumber[number] = &f;
        long long groupSum = 0, fileSum = 0;
        int groupCount = 0, fileCount = 0;
        for (const QString& l : f.lines) {
            const auto total = [&](const QString& line) {
                return (line.mid(19, 1) == "-" ? -1 : 1) * line.mid(7, 12).toLongLong();
            };
            if (l.startsWith('2')) {
                const long long cents = (l.mid(1, 1).toInt() % 2 ? -1 : 1) * l.mid(22, 11).toLongLong();
                groupSum += cents;
                fileSum += cents;
                ++groupCount;
                ++fileCount;
                inFiles[FileKey(l.mid(39, 3), l.mid(42, 5).toLong(), l.mid(1, 1).toInt())].insert(number);
            } else if (l.startsWith('8')) {
                if (total(l) != groupSum || l.mid(1, 6).toInt() != groupCount)
                    discrepancy("a group total that is not the sum of its lines: " + l);
                groupSum = groupCount = 0;
            } else if (l.startsWith('9')) {
                if (total(l) != fileSum || l.mid(1, 6).toInt() != fileCount)
                    discrepancy("a file total that is not the sum of its lines: " + l);
            }
        }
    }
    for (const auto& [key, numbers] : inFiles)
        if (numbers.size() > 1)
            discrepancy("a row in two accepted files: " + key);
    for (const auto& [key, row] : rows) {
        const QString fileKey = FileKey(key.section('/', 0, 0).right(3), row.stan, row.type);
        if (row.pending)
            discrepancy("a cancellation left pending: " + key);
        else if (!row.sent)
            discrepancy("a row left unsent after the last transfer: " + key);
        else if (!inFiles.count(fileKey))
            discrepancy("a row marked sent that no accepted file holds: " + key);
    }

    // A register waiting its turn hears a busy notice every ten seconds (a tick may come a little late).
    if (silence > 11000)
        discrepancy("a waiting register heard nothing for " + QString::number(silence / 1000, 'f', 1) + " s: " + silentOne);
    std::printf("soak: registers in the queue heard something at least every %.1f s; the most requests under way at a"
                " kill: %d\n", silence / 1000, killsInFlight);
    std::printf("soak: %zu requests, %zu kills and stops (%d stops, %d aimed at a file), %d disk fills, %d reads held,"
                " %d config saves, %zu rows, %zu accepted files (%d of them a file number again), %zu discrepancies\n",
                done.size(), kills.size(), stops, aimed, fills, reads, configSets, rows.size(), files.size(), repeats,
                wrong.size());
    if (!wrong.empty()) {   // the files stay for whoever looks, the home folder's from before its unmounting
        tmp.setAutoRemove(false);
        QProcess::execute("cp", {"-a", home.path(), tmp.filePath("home-kept")});
        QFile told(tmp.filePath("registers.txt"));
        if (told.open(QIODevice::WriteOnly))
            for (const Request& r : done)
                told.write(QString("%1/%2 cancels=%3 status=%4 %5..%6 ms\n")
                               .arg(r.workstation, r.trans, r.cancels).arg(r.status).arg(r.start).arg(r.end).toUtf8() +
                           QByteArray::fromStdString(r.process ? r.process->out : std::string()) + "\n");
        std::printf("soak: the home folder, the ledger, the files and what each register heard are kept in %s\n",
                    qPrintable(tmp.path()));
    }
    for (const std::string& w : wrong)
        ADD_FAILURE() << w;
}

} // namespace
