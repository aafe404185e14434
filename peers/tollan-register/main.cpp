// tollan-register: a cash register for tests, demos and load tests. It connects to the terminal,
// sends one request (or, as a busy shop, many registers' requests one after another), answers the
// prompts and print requests, prints every packet it receives and exits with a status that tells
// the final answer.
#include "peers/tollan-register/register.h"
#include "support/codepage.h"
#include "support/text.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>

#include <QSocketNotifier>
#include <unistd.h>

using namespace tollan;
using namespace tollan::peer;

namespace {

int Usage(const std::string& why)
{
    std::fprintf(stderr, "tollan-register: %s\n", why.c_str());
    return kStatusUsage;
}

// "12.50" as currency (x 10 000); false when it is not a plain decimal number.
bool Currency(const QString& text, std::int64_t& v)
{
    bool ok = false;
    const double d = text.toDouble(&ok);
    if (!ok || !std::isfinite(d) || std::fabs(d) > 9e14)
        return false;
    v = std::llround(d * 10000);
    return true;
}

// SIGINT and SIGTERM stop a run: the handler only writes to this pipe, and the event loop stops
// the registers when it reads it.
int g_stopPipe[2] = {-1, -1};

void StopSignal(int)
{
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &b, 1);
}

// The p-th percentile of sorted `v` by nearest rank; -1 when empty.
double Percentile(const std::vector<double>& v, double p)
{
    if (v.empty())
        return -1;
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100 * double(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

std::string Figure(double v, int decimals)
{
    if (v < 0)
        return "null";
    char b[64];
    std::snprintf(b, sizeof b, "%.*f", decimals, v);
    return b;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tollan-register");
    QCommandLineParser cli;
    cli.setApplicationDescription(
        "A cash register for tests, demos and load tests. It sends the terminal one request:\n"
        "a purchase (--card and --amount), a cancellation (--cancel) or a card query (--query),\n"
        "answers each prompt (type 10) with the next --answer, or from stdin with --interactive,\n"
        "or else with an empty answer; answers each print request (type 24) with --print-answer\n"
        "and prints the receipt; prints every packet it sends and receives.\n"
        "\n"
        "Exit status, from the final answer:\n"
        "  0  type 22, approved: a purchase, or a cancellation\n"
        "  1  type 0, refusal or error answer\n"
        "  2  type 2, purchase left unfinished: a prompt had no answer\n"
        "  3  type 23, card information\n"
        "  4  no answer: the connection failed or the terminal closed it\n"
        "  5  no answer within --timeout\n"
        " 64  wrong options\n"
        "\n"
        "A busy shop: --count N registers run at once, named from --workstation on (POS00001,\n"
        "POS00002, ...), each on a connection of its own making --requests K requests one after\n"
        "another (default 1), or as many as start within --duration SECONDS; each request has a\n"
        "transaction number of its own (--trans, or one from the clock, then the next ones).\n"
        "--rate R paces each register's requests as Poisson arrivals, R a second on average\n"
        "(exponential gaps drawn with --seed; a request due while the one before still runs starts\n"
        "as soon as that one ends); without it a register sends its next request as soon as the last\n"
        "is answered. --prompt-delay MS answers each prompt MS milliseconds after it arrives, as a\n"
        "cashier who takes a while; the other registers go on meanwhile. A request without an\n"
        "answer (line failed or closed, or no final answer within --timeout) ends its register.\n"
        "The exit status is the highest of all the requests'. With more than one register or\n"
        "request a summary line is printed at the end: requests, approved, refused, unfinished,\n"
        "card information, failed (no answer or time-out), approved purchases a second over the\n"
        "run, and the milliseconds from each request written to its final answer (p50, p95, p99,\n"
        "max; answered requests only). SIGINT (Ctrl-C) or SIGTERM stops the run at once: the\n"
        "summary then also counts the requests still waiting, as stopped. --json prints instead\n"
        "one JSON object and no packet lines:\n"
        "  registers, requests, approved, refused, unfinished, card_information, failed,\n"
        "  timed_out (of failed), seconds, purchases_per_s, requests_per_s (answered),\n"
        "  latency_p50_ms, latency_p95_ms, latency_p99_ms, latency_max_ms (null when none was\n"
        "  answered), requests_per_register (null: as --duration allows), duration_s (or null),\n"
        "  rate_per_s (null: back to back), pacing (\"poisson\" or \"back to back\"), prompt_delay_ms,\n"
        "  stopped (of requests: still waiting at the stop), stopped_waited_max_ms,\n"
        "  waiting_silence_max_ms (the longest a request waiting its turn heard nothing: from its\n"
        "  sending or a busy notice to the next packet; null when none waited).");
    cli.addHelpOption();
    cli.addOptions({
        {"host", "Terminal's address (default 127.0.0.1).", "host", "127.0.0.1"},
        {"source", "Local address to connect from (default: the system's choice).", "address"},
        {"port", "Terminal's workstation port (default 1280).", "port", "1280"},
        {"workstation", "Workstation name, 8 characters; the last three are the register number.", "name", "POS00001"},
        {"trans", "The register's transaction number (default: one from the clock).", "number"},
        {"card", "Card text as the reader gives it (card number, separator, YYMM, ...).", "text"},
        {"pan", "Card number field of the purchase (default: the card text's leading digits).", "digits"},
        {"amount", "Purchase amount, e.g. 12.50.", "amount"},
        {"entry", "Entry flag: 0 read from the card (default), another digit keyed in.", "flag", "0"},
        {"expiry", "Expiry YYMM (default: the four digits after the card number's separator).", "yymm"},
        {"kind", "Purchase kind (default 0).", "n", "0"},
        {"reference", "Purchase reference text.", "text"},
        {"item", "An item CODE;TEXT;QUANTITY;PRICE (repeatable).", "item"},
        {"cancel", "Send a cancellation of the purchase with this STAN or transaction number.", "key"},
        {"query", "Send a card query for this card number.", "card"},
        {"answer", "Answer to the next prompt (repeatable, used in order).", "text"},
        {"interactive", "Answer prompts from stdin once the --answer script is spent."},
        {"print-answer", "Answer to print requests: -1 printed (default) or 0 not printed.", "answer", "-1"},
        {"count", "Registers at once (default 1).", "n", "1"},
        {"requests", "Requests each register makes one after another (default 1).", "k"},
        {"duration", "Each register makes requests for this long (seconds; with --requests, whichever ends first).", "s"},
        {"rate", "Requests a second per register, Poisson arrivals (default: back to back).", "r"},
        {"seed", "Seed of the --rate arrivals (default 1; register n draws with SEED+n).", "n", "1"},
        {"prompt-delay", "Answer each prompt this many milliseconds after it arrives (default 0).", "ms", "0"},
        {"timeout", "Seconds to wait for each request's final answer (default 300).", "s", "300"},
        {"quiet", "Print nothing but the summary."},
        {"json", "Print one JSON object at the end instead of the packets and the summary."},
    });
    cli.process(app);
    if (!cli.positionalArguments().isEmpty())
        return Usage("unexpected argument " + cli.positionalArguments().first().toStdString());

    RegisterOptions o;
    o.host = cli.value("host");
    o.source = cli.value("source");
    if (!o.source.isEmpty() && QHostAddress(o.source).isNull())
        return Usage("--source wants an IP address");
    bool ok = false;
    const uint port = cli.value("port").toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return Usage("--port wants 1..65535");
    o.port = static_cast<quint16>(port);
    o.workstation = Text_FromQString(cli.value("workstation"));
    o.trans = Text_FromQString(cli.value("trans"));
    o.card = Text_FromQString(cli.value("card"));
    o.pan = Text_FromQString(cli.value("pan"));
    o.expiry = Text_FromQString(cli.value("expiry"));
    o.reference = Text_FromQString(cli.value("reference"));
    const QString entry = cli.value("entry");
    if (entry.size() != 1 || !entry[0].isDigit())
        return Usage("--entry wants one digit");
    o.entry = static_cast<char>(entry[0].toLatin1());
    o.kind = static_cast<std::int16_t>(cli.value("kind").toShort(&ok));
    if (!ok)
        return Usage("--kind wants a number");
    if (cli.isSet("cancel")) {
        o.action = Action::Cancel;
        o.cancelKey = Text_FromQString(cli.value("cancel"));
    } else if (cli.isSet("query")) {
        o.action = Action::Query;
        o.card = Text_FromQString(cli.value("query"));
    } else {
        if (!cli.isSet("card") || !cli.isSet("amount"))
            return Usage("a purchase wants --card and --amount (or use --cancel or --query)");
        if (!Currency(cli.value("amount"), o.amount))
            return Usage("--amount wants a number such as 12.50");
    }
    o.items.resize(1);   // index 0 exists and is unused
    for (const QString& item : cli.values("item")) {
        const QStringList f = item.split(';');
        PurchaseItem it;
        bool okQuantity = false;
        if (f.size() != 4 || !Currency(f[3], it.ItemAmount1))
            return Usage("--item wants CODE;TEXT;QUANTITY;PRICE, not " + item.toStdString());
        it.ItemCode = Text_FromQString(f[0]);
        it.ItemText = Text_FromQString(f[1]);
        it.ItemQuantity = f[2].toFloat(&okQuantity);
        if (!okQuantity || !std::isfinite(it.ItemQuantity))
            return Usage("--item wants a quantity, not " + f[2].toStdString());
        it.ItemLong = static_cast<std::int32_t>(o.items.size());
        it.ItemAmount2 = std::llround(static_cast<double>(it.ItemAmount1) * it.ItemQuantity);
        o.items.push_back(it);
    }
    if (o.items.size() == 1)
        o.items.clear();
    for (const QString& a : cli.values("answer"))
        o.answers.push_back(Text_FromQString(a));
    o.interactive = cli.isSet("interactive");
    o.printAnswer = Text_FromQString(cli.value("print-answer"));
    const int timeout = cli.value("timeout").toInt(&ok);
    if (!ok || timeout <= 0 || timeout > 86400)
        return Usage("--timeout wants seconds, 1..86400");
    o.timeoutMs = timeout * 1000;
    o.quiet = cli.isSet("quiet") || cli.isSet("json");
    const bool json = cli.isSet("json");
    const int count = cli.value("count").toInt(&ok);
    if (!ok || count < 1 || count > 10000)
        return Usage("--count wants 1..10000");
    o.promptDelayMs = cli.value("prompt-delay").toInt(&ok);
    if (!ok || o.promptDelayMs < 0 || o.promptDelayMs > 3600000)
        return Usage("--prompt-delay wants milliseconds, 0..3600000");
    if (cli.isSet("duration")) {
        const double seconds = cli.value("duration").toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 86400)
            return Usage("--duration wants seconds, up to 86400");
        o.durationMs = std::llround(seconds * 1000);
        o.requests = 0;
    }
    if (cli.isSet("requests")) {
        o.requests = cli.value("requests").toInt(&ok);
        if (!ok || o.requests < 1 || o.requests > 1000000)
            return Usage("--requests wants 1..1000000");
    }
    if (cli.isSet("rate")) {
        o.rate = cli.value("rate").toDouble(&ok);
        if (!ok || !(o.rate > 0) || o.rate > 10000)
            return Usage("--rate wants requests a second, more than 0 and up to 10000");
    }
    const std::uint64_t seed = cli.value("seed").toULongLong(&ok);
    if (!ok)
        return Usage("--seed wants a number");
    if (o.interactive && (count > 1 || o.requests != 1))
        return Usage("--interactive answers for one register and one request only");
    const bool summary = count > 1 || o.requests != 1;

    auto print = [quiet = o.quiet](const std::string& line) {
        if (quiet)
            return;
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    };
    std::vector<std::unique_ptr<Register>> registers;
    int left = count;
    int worst = 0;
    for (int i = 0; i < count; ++i) {
        RegisterOptions mine = o;
        mine.workstation = count > 1 ? Register_Name(o.workstation, i) : o.workstation;
        mine.seed = seed + static_cast<std::uint64_t>(i);
        registers.push_back(std::make_unique<Register>(std::move(mine), print));
        registers.back()->finished = [&](Register& r) {
            worst = std::max(worst, r.Status());
            if (--left == 0)
                QCoreApplication::exit(worst);
        };
    }
    // Stopped from outside, the registers end at once and the summary tells what they had so far.
    std::unique_ptr<QSocketNotifier> stop;
    if (::pipe(g_stopPipe) == 0) {
        stop = std::make_unique<QSocketNotifier>(g_stopPipe[0], QSocketNotifier::Read);
        QObject::connect(stop.get(), &QSocketNotifier::activated, [&] {
            char b;
            [[maybe_unused]] const ssize_t n = ::read(g_stopPipe[0], &b, 1);
            for (auto& r : registers)
                r->Stop();
        });
        std::signal(SIGINT, StopSignal);
        std::signal(SIGTERM, StopSignal);
    }
    QElapsedTimer run;
    run.start();
    for (auto& r : registers)
        r->Start();
    // A register that ended inside Start has already counted itself out.
    const int status = left == 0 ? worst : app.exec();
    const double seconds = double(run.nsecsElapsed()) / 1e9;
    if (!summary && !json)
        return status;

    int byStatus[7] = {};
    std::vector<double> ms;
    double waited = -1;   // the longest wait of a request stopped unanswered
    double silence = -1;
    for (auto& r : registers)
        silence = std::max(silence, r->WaitingSilenceMs());
    for (auto& r : registers)
        for (const RequestResult& q : r->Results()) {
            if (q.status >= 0 && q.status < 7)
                ++byStatus[q.status];
            if (q.status == kStatusStopped)
                waited = std::max(waited, q.ms);
            else if (q.ms >= 0)
                ms.push_back(q.ms);
        }
    std::sort(ms.begin(), ms.end());
    int requests = 0;
    for (int n : byStatus)
        requests += n;
    const int failed = byStatus[kStatusNoAnswer] + byStatus[kStatusTimeOut];
    const double purchasesPerS = seconds > 0 ? byStatus[kStatusApproved] / seconds : 0;
    const double requestsPerS = seconds > 0 ? double(ms.size()) / seconds : 0;
    const double p50 = Percentile(ms, 50), p95 = Percentile(ms, 95), p99 = Percentile(ms, 99),
                 max = ms.empty() ? -1 : ms.back();
    if (json) {
        std::fprintf(stdout,
                     "{\"registers\": %d, \"requests\": %d, \"approved\": %d, \"refused\": %d, \"unfinished\": %d, "
                     "\"card_information\": %d, \"failed\": %d, \"timed_out\": %d, \"seconds\": %s, "
                     "\"purchases_per_s\": %s, \"requests_per_s\": %s, \"latency_p50_ms\": %s, "
                     "\"latency_p95_ms\": %s, \"latency_p99_ms\": %s, \"latency_max_ms\": %s, "
                     "\"requests_per_register\": %s, \"duration_s\": %s, \"rate_per_s\": %s, \"pacing\": \"%s\", "
                     "\"prompt_delay_ms\": %d, \"stopped\": %d, \"stopped_waited_max_ms\": %s, "
                     "\"waiting_silence_max_ms\": %s}\n",
                     count, requests, byStatus[kStatusApproved], byStatus[kStatusRefused], byStatus[kStatusUnfinished],
                     byStatus[kStatusCardInfo], failed, byStatus[kStatusTimeOut], Figure(seconds, 3).c_str(),
                     Figure(purchasesPerS, 3).c_str(), Figure(requestsPerS, 3).c_str(), Figure(p50, 1).c_str(),
                     Figure(p95, 1).c_str(), Figure(p99, 1).c_str(), Figure(max, 1).c_str(),
                     o.requests > 0 ? std::to_string(o.requests).c_str() : "null",
                     o.durationMs > 0 ? Figure(double(o.durationMs) / 1000, 3).c_str() : "null",
                     o.rate > 0 ? Figure(o.rate, 3).c_str() : "null", o.rate > 0 ? "poisson" : "back to back",
                     o.promptDelayMs, byStatus[kStatusStopped], Figure(waited, 1).c_str(), Figure(silence, 1).c_str());
    } else {
        auto shown = [](double v) { return v < 0 ? std::string("-") : Figure(v, 1); };
        std::fprintf(stdout,
                     "%d registers, %d requests in %.1f s: %d approved, %d refused, %d unfinished, %d card information, "
                     "%d failed (%d timed out); %.2f purchases/s; ms from request to final answer p50 %s p95 %s "
                     "p99 %s max %s%s\n",
                     count, requests, seconds, byStatus[kStatusApproved], byStatus[kStatusRefused],
                     byStatus[kStatusUnfinished], byStatus[kStatusCardInfo], failed, byStatus[kStatusTimeOut],
                     purchasesPerS, shown(p50).c_str(), shown(p95).c_str(), shown(p99).c_str(), shown(max).c_str(),
                     byStatus[kStatusStopped] > 0
                         ? ("; " + std::to_string(byStatus[kStatusStopped]) + " stopped unanswered, the longest after " +
                            Figure(waited, 0) + " ms")
                               .c_str()
                         : "");
    }
    std::fflush(stdout);
    return status;
}
