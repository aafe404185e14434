// tollan-cardcentre: a card centre on TCP for tests, demos and integrators. It prints
// "listening on PORT" as its first line, then one line for every event it sees.
#include "peers/tollan-cardcentre/centre.h"
#include "peers/tollan-cardcentre/chaos.h"
#include "support/codepage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

#include <openssl/pem.h>

#include <cstdio>
#include <memory>

using namespace tollan;
using namespace tollan::peer;

namespace {

int Usage(const std::string& why)
{
    std::fprintf(stderr, "tollan-cardcentre: %s\n", why.c_str());
    return 64;
}

// Any private key OpenSSL reads (RSA, EC, DSA, Ed25519 ...): Qt takes the kinds it knows as keys
// of its own and keeps any other as an opaque one, which its TLS hands to OpenSSL as it is. A key
// with a pass phrase is no key here: nobody is asked for one.
QSslKey ReadKey(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray pem = f.readAll();
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())),
                                                        &BIO_free);
    pem_password_cb* noPassPhrase = [](char*, int, int, void*) { return -1; };
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassPhrase, nullptr) : nullptr;
    return key ? QSslKey(Qt::HANDLE(key), QSsl::PrivateKey) : QSslKey();  // the key is Qt's from here
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tollan-cardcentre");
    QCommandLineParser cli;
    cli.setApplicationDescription(
        "A card centre for tests, demos and integrators. It serves every connection at once, each\n"
        "on its own: an answer that waits (delay, late) holds up no other connection.\n"
        "\n"
        "Authorisations (full frames; noise before SOH is skipped): each 0100/0400 and each repeat\n"
        "0101/0401 is read element by element and answered 0110/0410 with elements 2, 3, 4, 7, 11,\n"
        "41, 42 and 49 echoed, 38 (authorisation code) on approval and 39 (response code, two\n"
        "characters).\n"
        "How to answer comes from the first matching rule, else from the options below.\n"
        "A rule is a line of words: match words pan=PREFIX, amount=HUNDREDTHS, type=100|400\n"
        "(a repeat counts as its request), then behaviour words:\n"
        "  approve | decline CODE | silent | close     the verdict (default approve)\n"
        "                   CODE is element 39: one digit (5 is 05) or any two characters,\n"
        "                   %XX for a byte (N7, 0A, %20%20 for two spaces, %25 for %)\n"
        "  no-code          leave element 39 out of the answer\n"
        "  auth CODE        authorisation code of an approval (default 123456)\n"
        "  repeat-only      leave the first request unanswered, answer the repeat\n"
        "  delay MS         answer after MS milliseconds; the other connections are served\n"
        "                   meanwhile (--delay or --answer-delay MS: the default rule's delay,\n"
        "                   for every request no rule matches, a busy card centre for a whole run)\n"
        "  late MS          answer the request (0100, 0400) after MS milliseconds and its repeat\n"
        "                   (0101, 0401) at once: both answers go out\n"
        "  noise            send bytes before the SOH\n"
        "  bad-check        send a wrong check character\n"
        "  hangup           close the line as soon as the answer is written\n"
        "  trailing         write CR LF right after the frame, in the same write\n"
        "  trailing-junk    write CR LF and junk bytes (7F ~junk FF 10) right after the frame\n"
        "Example rule file:\n"
        "  pan=4111 decline 51     # this card has no money\n"
        "  amount=99900 silent\n"
        "  * approve auth AB12CD\n"
        "\n"
        "A request decided before (approved or declined) gets the same verdict when it comes again,\n"
        "as its repeat or after a restart: only the way the answer travels is drawn again.\n"
        "\n"
        "Transaction files (simple frames): each line is ACKed, or NAKed as --nak-line says, a bad\n"
        "frame is NAKed; ENQ gets the verdict line (46 text, 5 lines, 1 status, 6 details,\n"
        "12 total); the terminal's ACK gets ENQ; EOT ends the file. A file given status 1 is\n"
        "stored in --store DIR as transfile-NNNN.txt, one line each, CR LF. A file whose header\n"
        "names a file number accepted before (columns 16-41) is a repeat: the same lines are accepted\n"
        "again and not stored twice, other lines under that number refused. Decisions and accepted\n"
        "files are read back from --ledger and --store at the start.\n"
        "\n"
        "Every event is printed on stdout (and appended to --log FILE): connection from, auth ...,\n"
        "answer to stan=N after MS ms written, line N ACK, line N NAK k/n, ENQ -> verdict S TEXT,\n"
        "ACK -> ENQ, EOT, stored PATH, closed.\n"
        "\n"
        "--chaos SEED: every request no rule matches gets a behaviour drawn with a generator seeded\n"
        "by SEED (the same seed draws the same sequence): approved, or with --chaos-faults percent\n"
        "(default 40) one of these faults, by weight:\n" +
        QString::fromStdString(Chaos_Describe()) +
        "Lines named by --nak-line keep their NAKs; chaos draws the verdict instead of\n"
        "--verdict-status, and a refusal says \"Fail tagasi l\u00fckatud\".\n"
        "\n"
        "--ledger FILE: one JSON object a line, appended and flushed as it happens (a kill can cut\n"
        "the last line short). Texts as UTF-8; every line has \"event\" and \"time\" (local,\n"
        "yyyy-MM-dd hh:mm:ss.zzz), then:\n"
        "  start            pid, port, chaos (the seed as text, or null), chaos_faults, chaos_late_ms\n"
        "  auth             a request: id (from 1 at each start), conn (connection from 1), type\n"
        "                   (0100 0101 0400 0401), stan (11), pan (2), amount (4), original (90),\n"
        "                   terminal (41), acceptor (42), each null when absent; by (rule N, chaos,\n"
        "                   options), choice (chaos's, or null), remembered (the verdict of an\n"
        "                   earlier sending of the request); verdict (approve, decline, silent,\n"
        "                   close); response (0110, 0410, or null when none is sent), code (39 as\n"
        "                   sent, null when left out), auth_code (38, or null), delay_ms, noise,\n"
        "                   bad_check, trailing (the bytes after the frame), hangup; closed (the\n"
        "                   line closed by us), written (the answer written to a line still open);\n"
        "                   closed and written are null when the answer is delayed\n"
        "  answer           a delayed answer's outcome: id (of its auth line), closed, written\n"
        "  auth-unreadable  conn, error, bytes\n"
        "  file             a file given its verdict: conn, by (chaos, options, repeat), status (1 accepted,\n"
        "                   0 refused), verdict (the line sent), lines (every accepted line, as\n"
        "                   received), naks ([line, NAKs] of each NAKed line), stored (path or null),\n"
        "                   repeat (its file number was accepted before)\n"
        "  file-abandoned   a file without verdict: conn, why (EOT, closed), lines, naks\n"
        "\n"
        "TLS: with --tls-cert and --tls-key every connection is a TLS one (1.2 or newer) with that\n"
        "certificate (PEM, its chain after it) and key (PEM, of any kind OpenSSL reads: RSA, EC,\n"
        "Ed25519 ...); --tls-client-ca FILE asks the terminal for a certificate and takes only one\n"
        "those authorities signed. A handshake that fails is the event \"handshake failed: WHY\"\n"
        "(Qt's words) and nothing of the connection is read;\n"
        "--verbose shows each handshake's protocol, cipher and client certificate, or the\n"
        "certificate errors, on stderr.\n"
        "\n"
        "Exit status: 64 wrong options or rules, 69 the port cannot be had, 73 the ledger cannot be\n"
        "opened.");
    cli.addHelpOption();
    cli.addOptions({
        {"port", "TCP port to listen on; 0 lets the system pick (default 0).", "N", "0"},
        {"rule", "A rule line (repeatable, tried in order before the rule file's).", "rule"},
        {"rules", "Rule file, one rule a line, # comments.", "file"},
        {"decline", "Decline every request with response code CODE (as the rule word).", "code"},
        {"no-code", "Leave element 39 out of the answers."},
        {"auth-code", "Authorisation code of approvals (default 123456).", "code"},
        {"repeat-only", "Answer only the repeats."},
        {"silent", "Never answer an authorisation."},
        {"close", "Close the line instead of answering."},
        {{"delay", "answer-delay"},
         "Answer every authorisation no rule matches after MS milliseconds, as a busy card centre; the other "
         "connections are served meanwhile.",
         "ms"},
        {"late", "Answer the requests after MS milliseconds, their repeats at once.", "ms"},
        {"hangup", "Close the line as soon as each answer is written."},
        {"trailing", "Write CR LF right after each answer's frame."},
        {"trailing-junk", "Write CR LF and junk bytes right after each answer's frame."},
        {"noise", "Send noise before the SOH of each answer."},
        {"bad-check", "Send each answer with a wrong check character."},
        {"line-delay", "ACK each transaction-file line after MS milliseconds.", "ms", "0"},
        {"nak-line", "NAK line L of a file N times before the ACK (L:N, repeatable; lines from 1).", "L:N"},
        {"verdict-status", "Status of the verdict line; 1 accepts the file (default 1).", "n", "1"},
        {"verdict-text", "Message text of the verdict line (default Fail vastu v\u00f5etud).", "text",
         "Fail vastu v\u00f5etud"},
        {"verdict-crlf", "Follow the verdict frame with LF."},
        {"enq-silent", "Leave the first N ENQs of a file unanswered (default 0).", "n", "0"},
        {"no-enq", "Do not send ENQ after the terminal acknowledges the verdict."},
        {"store", "Folder for the accepted transaction files.", "dir"},
        {"log", "Append every event line to FILE as well.", "file"},
        {"ledger", "Append a JSON line for every request and file to FILE (see above).", "file"},
        {"chaos", "Misbehave at random, drawn with the generator seeded by SEED (see above).", "seed"},
        {"chaos-late", "How late a late answer of --chaos is (default 16000).", "ms", "16000"},
        {"chaos-faults", "Percent of requests --chaos does not simply approve (default 40).", "percent", "40"},
        {"tls-cert", "Serve TLS with this certificate (PEM; see TLS above).", "file"},
        {"tls-key", "The key of --tls-cert (PEM).", "file"},
        {"tls-client-ca", "Require a client certificate signed by these authorities (PEM).", "file"},
        {"verbose", "Print each message decoded field by field, each file line and each TLS handshake, on stderr."},
    });
    cli.process(app);
    if (!cli.positionalArguments().isEmpty())
        return Usage("unexpected argument " + cli.positionalArguments().first().toStdString());

    CentreOptions o;
    std::string error;
    for (const QString& r : cli.values("rule")) {
        Rule rule;
        if (!Rules_ParseLine(r.toStdString(), rule, error))
            return Usage(error);
        o.rules.push_back(rule);
    }
    if (cli.isSet("rules") && !Rules_ParseFile(cli.value("rules").toStdString(), o.rules, error))
        return Usage(error);
    // The options form the default rule, in the rule words' own terms.
    QStringList words;
    if (cli.isSet("decline"))
        words << "decline" << cli.value("decline");
    if (cli.isSet("auth-code"))
        words << "auth" << cli.value("auth-code");
    for (const char* valued : {"delay", "late"})
        if (cli.isSet(valued))
            words << valued << cli.value(valued);
    for (const char* flag :
         {"repeat-only", "silent", "close", "noise", "bad-check", "no-code", "hangup", "trailing", "trailing-junk"})
        if (cli.isSet(flag))
            words << flag;
    Rule fallback;
    if (!Rules_ParseLine(words.join(' ').toStdString(), fallback, error))
        return Usage(error);
    o.fallback = fallback.behaviour;

    for (const QString& n : cli.values("nak-line")) {
        const QStringList parts = n.split(':');
        bool okLine = false, okTimes = false;
        const int line = parts.value(0).toInt(&okLine);
        const int times = parts.value(1).toInt(&okTimes);
        if (parts.size() != 2 || !okLine || !okTimes || line < 1 || times < 0)
            return Usage("--nak-line wants LINE:TIMES, not " + n.toStdString());
        o.nakLine[line] = times;
    }
    bool ok = false;
    o.lineDelayMs = cli.value("line-delay").toInt(&ok);
    if (!ok || o.lineDelayMs < 0)
        return Usage("--line-delay wants milliseconds");
    o.verdictStatus = cli.value("verdict-status").toInt(&ok);
    if (!ok || o.verdictStatus < 0 || o.verdictStatus > 9)
        return Usage("--verdict-status wants a digit");
    o.verdictText = Text_FromQString(cli.value("verdict-text"));
    o.verdictLf = cli.isSet("verdict-crlf");
    o.enqSilent = cli.value("enq-silent").toInt(&ok);
    if (!ok || o.enqSilent < 0)
        return Usage("--enq-silent wants a number");
    o.noEnq = cli.isSet("no-enq");
    o.store = cli.value("store");
    o.log = cli.value("log");
    o.ledger = cli.value("ledger");
    if (cli.isSet("chaos")) {
        ChaosOptions chaos;
        chaos.seed = cli.value("chaos").toULongLong(&ok);
        if (!ok)
            return Usage("--chaos wants a number");
        chaos.lateMs = cli.value("chaos-late").toInt(&ok);
        if (!ok || chaos.lateMs < 0 || chaos.lateMs > 3600000)
            return Usage("--chaos-late wants 0..3600000");
        chaos.faultsPercent = cli.value("chaos-faults").toInt(&ok);
        if (!ok || chaos.faultsPercent < 0 || chaos.faultsPercent > 100)
            return Usage("--chaos-faults wants 0..100");
        chaos.authCode = cli.value("auth-code").toStdString();
        o.chaos = chaos;
    }
    o.verbose = cli.isSet("verbose");
    if (cli.isSet("tls-cert") != cli.isSet("tls-key"))
        return Usage("--tls-cert and --tls-key go together");
    if (cli.isSet("tls-client-ca") && !cli.isSet("tls-cert"))
        return Usage("--tls-client-ca wants --tls-cert and --tls-key");
    if (cli.isSet("tls-cert")) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setProtocol(QSsl::TlsV1_2OrLater);
        const QList<QSslCertificate> chain = QSslCertificate::fromPath(cli.value("tls-cert"));
        if (chain.isEmpty())
            return Usage("no certificate in " + cli.value("tls-cert").toStdString());
        const QSslKey key = ReadKey(cli.value("tls-key"));
        if (key.isNull())
            return Usage("no key in " + cli.value("tls-key").toStdString());
        tls.setLocalCertificateChain(chain);
        tls.setPrivateKey(key);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        if (cli.isSet("tls-client-ca")) {
            const QList<QSslCertificate> authorities = QSslCertificate::fromPath(cli.value("tls-client-ca"));
            if (authorities.isEmpty())
                return Usage("no certificate in " + cli.value("tls-client-ca").toStdString());
            tls.setCaCertificates(authorities);
            tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        }
        o.tls = tls;
    }
    const uint port = cli.value("port").toUInt(&ok);
    if (!ok || port > 65535)
        return Usage("--port wants 0..65535");

    const QString ledger = o.ledger;
    Centre centre(std::move(o));
    if (!centre.Listen(static_cast<quint16>(port))) {
        std::fprintf(stderr, "tollan-cardcentre: cannot listen on port %u\n", port);
        return 69;
    }
    if (!centre.StartLedger()) {
        std::fprintf(stderr, "tollan-cardcentre: cannot append to %s\n", qPrintable(ledger));
        return 73;
    }
    std::fprintf(stdout, "listening on %u\n", static_cast<unsigned>(centre.Port()));
    std::fflush(stdout);
    return app.exec();
}
