// tollan-register: a cash register for tests, demos and load tests. It connects to the terminal,
// sends one request, answers the prompts and print requests, prints every packet it receives and
// exits with a status that tells the final answer.
#include "peers/tollan-register/register.h"
#include "support/codepage.h"
#include "support/text.h"

#include <QCommandLineParser>
#include <QHostAddress>
#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

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
        "With --count N the registers run at once, named from --workstation on (POS00001,\n"
        "POS00002, ...); the exit status is the highest of theirs, and a summary line with each\n"
        "register's time is printed at the end.");
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
        {"timeout", "Seconds to wait for the final answer (default 300).", "s", "300"},
        {"quiet", "Print nothing but the summary of --count."},
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
    o.quiet = cli.isSet("quiet");
    const int count = cli.value("count").toInt(&ok);
    if (!ok || count < 1 || count > 10000)
        return Usage("--count wants 1..10000");
    if (count > 1 && o.interactive)
        return Usage("--interactive answers for one register only");

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
        registers.push_back(std::make_unique<Register>(std::move(mine), print));
        registers.back()->finished = [&](Register& r) {
            worst = std::max(worst, r.Status());
            if (--left == 0)
                QCoreApplication::exit(worst);
        };
    }
    for (auto& r : registers)
        r->Start();
    // A register that ended inside Start has already counted itself out.
    const int status = left == 0 ? worst : app.exec();
    if (count > 1) {
        std::vector<qint64> ms;
        for (auto& r : registers)
            ms.push_back(r->ElapsedMs());
        std::sort(ms.begin(), ms.end());
        int byStatus[6] = {};
        for (auto& r : registers)
            if (r->Status() >= 0 && r->Status() < 6)
                ++byStatus[r->Status()];
        std::fprintf(stdout,
                     "%d registers: %d approved, %d refused, %d unfinished, %d card information, %d no answer, "
                     "%d timed out; ms min %lld median %lld max %lld\n",
                     count, byStatus[0], byStatus[1], byStatus[2], byStatus[3], byStatus[4], byStatus[5],
                     static_cast<long long>(ms.front()), static_cast<long long>(ms[ms.size() / 2]),
                     static_cast<long long>(ms.back()));
    }
    return status;
}
