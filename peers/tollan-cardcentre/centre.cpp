#include "peers/tollan-cardcentre/centre.h"

#include "peers/tollan-cardcentre/auth.h"
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "support/codepage.h"
#include "support/text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSslCipher>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace tollan::peer {
namespace {

constexpr char kEOT = 4;
constexpr char kENQ = 5;
constexpr char kACK = 6;
constexpr char kNAK = 21;
// A frame longer than this is not one the terminal sends; what piles up without a CR is dropped.
constexpr std::size_t kMaxFrame = 64 * 1024;

bool IsControl(char c) { return c == kEOT || c == kENQ || c == kACK || c == kNAK; }

const char* ControlName(char c)
{
    switch (c) {
    case kEOT: return "EOT";
    case kENQ: return "ENQ";
    case kACK: return "ACK";
    default: return "NAK";
    }
}

} // namespace

struct Centre::Line {
    QPointer<QTcpSocket> socket;
    int id = 0;                       // the connection's number since the start
    std::string in;
    struct File {
        std::vector<std::string> lines;           // accepted lines
        std::vector<std::pair<int, int>> naks;    // line number, NAKs it got
        int nakked = 0;                           // NAKs given to the line now expected
        int naksDue = -1;                         // NAKs it gets; -1: not decided yet
        int abandonAt = -1;                       // chaos's line NAKed four times; -1: not drawn yet
        int enqs = 0;
        bool verdictSent = false;
        std::string verdict;                      // the frame sent, for an ENQ asked again
        bool Begun() const { return !lines.empty() || !naks.empty(); }
    } file;
};

std::string Centre_VerdictLine(std::string_view text, int status, const std::vector<std::string>& lines)
{
    // The file trailer (kind 9) carries the total in hundredths in columns 8-19.
    double total = 0;
    int details = 0;
    for (const std::string& l : lines) {
        if (!l.empty() && l[0] == '9' && l.size() >= 19)
            total = Num_Value(l.substr(7, 12));
        if (!l.empty() && l[0] != '0' && l[0] != '1' && l[0] != '8' && l[0] != '9')
            ++details;
    }
    return Str_Align(text, 46, 1) + KK_Number(static_cast<std::int64_t>(lines.size()) % 100000, 5) +
           static_cast<char>('0' + (status % 10 + 10) % 10) + KK_Number(details % 1000000, 6) +
           KK_Number(static_cast<std::int64_t>(total) % 1000000000000LL, 12);
}

void CentreServer::incomingConnection(qintptr descriptor)
{
    if (!tls) {
        QTcpServer::incomingConnection(descriptor);
        return;
    }
    auto* s = new QSslSocket(this);
    if (!s->setSocketDescriptor(descriptor)) {
        delete s;
        return;
    }
    s->setSslConfiguration(*tls);
    addPendingConnection(s);
}

Centre::Centre(CentreOptions options) : o_(std::move(options))
{
    server_.tls = o_.tls;
    connect(&server_, &QTcpServer::newConnection, this, &Centre::Accept);
}

bool Centre::Listen(quint16 port)
{
    // A busy card centre takes many terminals' connections at once: past the default backlog of 50
    // a burst of connects would wait for the client's SYN to be sent again, a second or more.
    server_.setListenBacklogSize(1024);
    return server_.listen(QHostAddress::Any, port);
}

std::string Centre::DecisionKey(int type, const std::string& stan, const std::string& pan, const std::string& amount)
{
    return std::to_string(type - type % 10) + "/" + stan + "/" + pan + "/" + amount;
}

std::string Centre::FileKey(const std::vector<std::string>& lines)
{
    // The header's acceptor, receiver, sender and file number (columns 16-41) name a file.
    return !lines.empty() && lines[0].size() >= 41 && lines[0][0] == '0' ? lines[0].substr(15, 26) : std::string();
}

void Centre::Remember()
{
    if (!o_.ledger.isEmpty()) {
        QFile f(o_.ledger);
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n')) {
                const QJsonObject e = QJsonDocument::fromJson(line).object();
                const QString event = e["event"].toString();
                auto text = [&e](const char* name) { return Text_FromQString(e[name].toString()); };
                if (event == "auth" && !e["response"].isNull() &&
                    (e["verdict"].toString() == "approve" || e["verdict"].toString() == "decline")) {
                    Decision d;
                    d.verdict = e["verdict"].toString() == "approve" ? Behaviour::Approve : Behaviour::Decline;
                    d.code = text("code");
                    d.authCode = text("auth_code");
                    decided_[DecisionKey(text("type").empty() ? 0 : std::stoi(text("type")), text("stan"), text("pan"),
                                         text("amount"))] = d;
                } else if (event == "file" && e["status"].toInt() == 1) {
                    std::vector<std::string> lines;
                    for (const auto& l : e["lines"].toArray())
                        lines.push_back(Text_FromQString(l.toString()));
                    if (const std::string key = FileKey(lines); !key.empty())
                        acceptedFiles_.emplace(key, lines);
                }
            }
    }
    if (!o_.store.isEmpty())
        for (const QFileInfo& info : QDir(o_.store).entryInfoList({"transfile-*.txt"}, QDir::Files, QDir::Name)) {
            QFile f(info.filePath());
            if (!f.open(QIODevice::ReadOnly))
                continue;
            std::vector<std::string> lines;
            for (const QByteArray& l : f.readAll().split('\n'))
                if (const QByteArray t = l.endsWith('\r') ? l.chopped(1) : l; !t.isEmpty())
                    lines.push_back(t.toStdString());
            if (const std::string key = FileKey(lines); !key.empty())
                acceptedFiles_.emplace(key, lines);
        }
}

bool Centre::StartLedger()
{
    Remember();
    if (o_.chaos)
        chaos_ = std::make_unique<Chaos>(*o_.chaos);
    if (o_.ledger.isEmpty())
        return true;
    if (!ledger_.Open(o_.ledger))
        return false;
    JsonObject start;
    start.Number("pid", QCoreApplication::applicationPid()).Number("port", Port());
    if (o_.chaos)
        start.Text("chaos", std::to_string(o_.chaos->seed))
            .Number("chaos_faults", o_.chaos->faultsPercent)
            .Number("chaos_late_ms", o_.chaos->lateMs);
    else
        start.TextOrNull("chaos", std::nullopt);
    ledger_.Write("start", start);
    return true;
}

void Centre::Event(const std::string& utf8)
{
    // The log first: whoever reads stdout may look into the log as soon as the line shows.
    if (!o_.log.isEmpty()) {
        QFile f(o_.log);
        if (f.open(QIODevice::Append | QIODevice::Text)) {
            f.write(utf8.data(), static_cast<qint64>(utf8.size()));
            f.write("\n");
        }
    }
    std::fprintf(stdout, "%s\n", utf8.c_str());
    std::fflush(stdout);
}

void Centre::Accept()
{
    while (QTcpSocket* s = server_.nextPendingConnection()) {
        auto line = std::make_shared<Line>();
        line->socket = s;
        line->id = ++connections_;
        Event("connection from " + s->peerAddress().toString().toStdString() + ":" +
              std::to_string(s->peerPort()));
        connect(s, &QTcpSocket::readyRead, this, [this, line] { Read(*line); });
        connect(s, &QTcpSocket::disconnected, this, [this, s, line] {
            if (!line->file.verdictSent && line->file.Begun())
                FileAbandoned(*line, "closed");
            Event("closed");
            s->deleteLater();   // and with it the handlers that hold `line`
        });
        if (auto* secure = qobject_cast<QSslSocket*>(s))
            Handshake(secure);
    }
}

void Centre::Handshake(QSslSocket* s)
{
    // Only what arrives after the handshake is read as the terminal's (readyRead is Qt's decrypted
    // data), so a failed handshake leaves no event but its own.
    const std::string from = s->peerAddress().toString().toStdString() + ":" + std::to_string(s->peerPort());
    connect(s, &QSslSocket::encrypted, this, [this, s, from] {
        if (!o_.verbose)
            return;
        const QSslCertificate client = s->peerCertificate();
        const QString who = client.isNull() ? QStringLiteral("no client certificate")
                                            : "client certificate " + client.subjectDisplayName();
        std::fprintf(stderr, "TLS from %s: %s %s, %s\n", from.c_str(), qPrintable(s->sessionCipher().protocolString()),
                     qPrintable(s->sessionCipher().name()), qPrintable(who));
    });
    connect(s, &QAbstractSocket::errorOccurred, this, [this, s, from] {
        if (s->isEncrypted() || s->property("handshakeFailed").toBool())
            return;
        s->setProperty("handshakeFailed", true);
        if (o_.verbose)
            for (const QSslError& e : s->sslHandshakeErrors())
                std::fprintf(stderr, "TLS from %s: %s\n", from.c_str(), qPrintable(e.errorString()));
        Event("handshake failed: " + s->errorString().toStdString());
    });
    s->startServerEncryption();
}

void Centre::Read(Line& c)
{
    if (!c.socket)
        return;
    const QByteArray data = c.socket->readAll();
    c.in.append(data.constData(), static_cast<std::size_t>(data.size()));
    while (!c.in.empty() && c.socket) {
        const char first = c.in[0];
        if (IsControl(first)) {
            c.in.erase(0, 1);
            Control(c, first);
            continue;
        }
        if (first != KK_SOH) {
            // Noise before a frame or a control character is dropped.
            std::size_t at = 1;
            while (at < c.in.size() && c.in[at] != KK_SOH && !IsControl(c.in[at]))
                ++at;
            Event("dropped " + std::to_string(at) + " bytes: " + Url_Encode(c.in.substr(0, at), 3));
            c.in.erase(0, at);
            continue;
        }
        const std::size_t cr = c.in.find(KK_CR, 1);
        if (cr == std::string::npos) {
            if (c.in.size() > kMaxFrame) {
                Event("dropped " + std::to_string(c.in.size()) + " bytes without CR");
                c.in.clear();
            }
            return;
        }
        const std::string frame = c.in.substr(0, cr + 1);
        c.in.erase(0, cr + 1);
        Frame(c, frame);
    }
}

void Centre::Frame(Line& c, const std::string& frame)
{
    const std::string message = KK_Unframe(frame);
    if (message.size() >= 2) {
        // The packed request types 0100, 0101, 0400, 0401.
        static const std::string kTypes[] = {{"\x01\x00", 2}, {"\x01\x01", 2}, {"\x04\x00", 2}, {"\x04\x01", 2}};
        if (std::find(std::begin(kTypes), std::end(kTypes), message.substr(0, 2)) != std::end(kTypes)) {
            Authorisation(c, message);
            return;
        }
    }
    const std::string text = KK_UnframeSimple(frame);
    if (!text.empty()) {
        FileLine(c, text);
        return;
    }
    Event("line " + std::to_string(c.file.lines.size() + 1) + " bad frame NAK: " + Url_Encode(frame, 3));
    c.socket->write(&kNAK, 1);
}

void Centre::Authorisation(Line& c, const std::string& message)
{
    AuthRequest r;
    std::string error;
    if (!Auth_DecodeRequest(message, r, error)) {
        Event("auth unreadable (" + error + "): " + Url_Encode(message, 3));
        ledger_.Write("auth-unreadable", JsonObject().Number("conn", c.id).Text("error", error).Text("bytes", message));
        return;
    }
    if (o_.verbose)
        std::fprintf(stderr, "%s", Text_Cp1252ToUtf8(Auth_Describe(r)).c_str());
    const std::int64_t amount = static_cast<std::int64_t>(Num_Value(r.Get(4)));
    const bool repeat = r.type % 10 != 0;
    int rule = -1;
    Behaviour b = Rules_Choose(o_.rules, o_.fallback, r.Get(2), amount, r.type - r.type % 10, rule);
    std::optional<std::string> choice;
    if (rule < 0 && chaos_)
        b = chaos_->Authorisation(choice.emplace());
    // A request decided before (its first sending, or the same request before a restart of either
    // side) gets the same verdict; only the way the answer travels is drawn again.
    const std::string decisionKey = DecisionKey(r.type, r.Get(11), r.Get(2), r.Get(4));
    const auto known = decided_.find(decisionKey);
    const bool remembered = known != decided_.end() &&
                            (b.verdict == Behaviour::Approve || b.verdict == Behaviour::Decline);
    if (remembered) {
        b.verdict = known->second.verdict;
        b.code = known->second.code.empty() ? b.code : known->second.code;
        if (!known->second.authCode.empty())
            b.authCode = known->second.authCode;
    }
    // A late answer holds back the request only: its repeat, sent meanwhile, is answered as it comes.
    const int delayMs = !repeat && b.lateMs > 0 ? b.lateMs : b.delayMs;
    const bool unanswered = b.verdict == Behaviour::Silent || (b.repeatOnly && !repeat);

    auto optional = [&r](int n) { return r.Find(n) ? std::optional<std::string>(*r.Find(n)) : std::nullopt; };
    const int id = ++requests_;
    JsonObject entry;
    entry.Number("id", id).Number("conn", c.id).Text("type", KK_Number(r.type, 4))
        .TextOrNull("stan", optional(11)).TextOrNull("pan", optional(2)).TextOrNull("amount", optional(4))
        .TextOrNull("original", optional(90)).TextOrNull("terminal", optional(41))
        .TextOrNull("acceptor", optional(42))
        .Text("by", rule >= 0 ? "rule " + std::to_string(rule + 1) : chaos_ ? "chaos" : "options")
        .TextOrNull("choice", choice)
        .Bool("remembered", remembered);

    std::string what = "auth " + KK_Number(r.type, 4) + " pan=" + r.Get(2) + " amount=" + r.Get(4) +
                       " stan=" + r.Get(11) + " -> ";
    std::string wire;
    const bool answers = !unanswered && b.verdict != Behaviour::Close;
    if (answers && !remembered && (b.verdict == Behaviour::Approve || b.verdict == Behaviour::Decline))
        decided_[decisionKey] = {b.verdict, Auth_ResponseCode(b), b.verdict == Behaviour::Approve ? b.authCode : ""};
    if (b.repeatOnly && !repeat) {
        what += "no answer, waiting for the repeat";
    } else if (unanswered) {
        what += "silent";
    } else if (!answers) {
        what += "close";
    } else {
        const std::string response = Auth_Response(r, b);
        wire = Auth_Wire(response, b);
        AuthRequest shown;
        if (o_.verbose && Auth_DecodeRequest(response, shown, error))
            std::fprintf(stderr, "%s", Text_Cp1252ToUtf8(Auth_Describe(shown)).c_str());
        what += KK_Number(r.type - r.type % 10 + 10, 4) +
                (b.noCode ? std::string(" without 39") : " 39=" + Url_Encode(Auth_ResponseCode(b), 3));
        if (b.verdict == Behaviour::Approve)
            what += " 38=" + b.authCode;
        if (b.noise)
            what += " noise";
        if (b.badCheck)
            what += " bad-check";
        if (!b.trailing.empty())
            what += " trailing " + Url_Encode(b.trailing, 3);
        if (b.hangup)
            what += " hangup";
    }
    if (delayMs > 0 && !unanswered)
        what += " after " + std::to_string(delayMs) + " ms";
    if (choice)
        what += " [chaos " + *choice + "]";

    static const char* const kVerdicts[] = {"approve", "decline", "silent", "close"};
    entry.Text("verdict", kVerdicts[unanswered ? Behaviour::Silent : b.verdict])
        .TextOrNull("response", answers ? std::optional(KK_Number(r.type - r.type % 10 + 10, 4)) : std::nullopt)
        .TextOrNull("code", answers && !b.noCode ? std::optional(Auth_ResponseCode(b)) : std::nullopt)
        .TextOrNull("auth_code", answers && b.verdict == Behaviour::Approve ? std::optional(b.authCode) : std::nullopt)
        .Number("delay_ms", unanswered ? 0 : delayMs)
        .Bool("noise", answers && b.noise).Bool("bad_check", answers && b.badCheck)
        .Text("trailing", answers ? b.trailing : std::string()).Bool("hangup", answers && b.hangup);
    // The ledger and the event line come before the bytes: whoever has the answer finds them written.
    if (unanswered) {
        ledger_.Write("auth", entry.Bool("closed", false).Bool("written", false));
        Event(what);
        return;
    }
    const QPointer<QTcpSocket> s = c.socket;
    const bool close = !answers || b.hangup;
    auto answer = [s, wire, close] {
        if (!wire.empty())
            s->write(wire.data(), static_cast<qint64>(wire.size()));
        if (close) {
            // The answer and the close go out together: the frame is flushed, then the FIN.
            s->flush();
            s->disconnectFromHost();
        }
    };
    auto open = [s] { return s && s->state() == QAbstractSocket::ConnectedState; };
    if (delayMs == 0) {
        const bool live = open();   // the terminal may have closed right after its request
        ledger_.Write("auth", entry.Bool("closed", live && close).Bool("written", live && answers));
        Event(what);
        if (live)
            answer();
        return;
    }
    // The ledger has the request now, should the card centre be killed before the answer is due.
    ledger_.Write("auth", entry.Bool("closed", std::nullopt).Bool("written", std::nullopt));
    Event(what);
    QTimer::singleShot(delayMs, this, [this, answer, open, answers, close, id, stan = r.Get(11), delayMs] {
        // The terminal may have gone meanwhile: then nothing is written and nothing closed.
        const bool live = open();
        ledger_.Write("answer",
                      JsonObject().Number("id", id).Bool("closed", live && close).Bool("written", live && answers));
        Event("answer to stan=" + stan + " after " + std::to_string(delayMs) + " ms " +
              (!live ? "not written, the line is gone" : answers ? "written" : "not written, line closed"));
        if (live)
            answer();
    });
}

void Centre::FileLine(Line& c, const std::string& text)
{
    Line::File& f = c.file;
    if (f.verdictSent)
        f = {};   // a line after the verdict begins the next file on the same connection
    if (chaos_ && f.abandonAt < 0)
        f.abandonAt = chaos_->FileAbandonLine();
    const int number = static_cast<int>(f.lines.size()) + 1;
    if (o_.verbose)
        std::fprintf(stderr, "line %d: %s\n", number, Text_Cp1252ToUtf8(text).c_str());
    if (f.naksDue < 0) {
        const auto scripted = o_.nakLine.find(number);
        f.naksDue = scripted != o_.nakLine.end() ? scripted->second
                    : chaos_                     ? chaos_->LineNaks(number == f.abandonAt)
                                                 : 0;
    }
    if (f.nakked < f.naksDue) {
        if (f.nakked++ == 0)
            f.naks.emplace_back(number, 0);
        ++f.naks.back().second;
        Event("line " + std::to_string(number) + " NAK " + std::to_string(f.nakked) + "/" +
              std::to_string(f.naksDue));
        c.socket->write(&kNAK, 1);
        return;
    }
    f.lines.push_back(text);
    f.nakked = 0;
    f.naksDue = -1;
    Event("line " + std::to_string(number) + " ACK");
    if (o_.lineDelayMs <= 0) {
        c.socket->write(&kACK, 1);
        return;
    }
    // A card centre that takes its time over each line; the terminal sends the next one only
    // after this ACK, so nothing else arrives meanwhile.
    QTimer::singleShot(o_.lineDelayMs, this, [s = QPointer<QTcpSocket>(c.socket)] {
        if (s)
            s->write(&kACK, 1);
    });
}

void Centre::Control(Line& c, char code)
{
    Line::File& f = c.file;
    const std::string name = ControlName(code);
    if (code == kENQ) {
        if (!f.verdictSent && f.enqs < o_.enqSilent) {
            ++f.enqs;
            Event("ENQ unanswered " + std::to_string(f.enqs) + "/" + std::to_string(o_.enqSilent));
            return;
        }
        if (!f.verdictSent) {
            // A file number accepted before: the same lines are that file again, answered as it was
            // and not stored twice; other lines under that number are refused.
            const std::string key = FileKey(f.lines);
            const auto known = key.empty() ? acceptedFiles_.end() : acceptedFiles_.find(key);
            const bool repeat = known != acceptedFiles_.end();
            int status = chaos_ ? chaos_->VerdictStatus() : o_.verdictStatus;
            std::string text = status == 1 || !chaos_ ? o_.verdictText : Text_Utf8ToCp1252("Fail tagasi l\u00fckatud");
            if (repeat) {
                status = known->second == f.lines ? 1 : 0;
                text = status == 1 ? o_.verdictText : Text_Utf8ToCp1252("Faili number on juba kasutatud");
            }
            const std::string line = Centre_VerdictLine(text, status, f.lines);
            f.verdict = KK_FrameSimple(line);
            if (o_.verdictLf)
                f.verdict += '\n';
            f.verdictSent = true;
            std::string storeEvent;
            const std::string stored = status == 1 && !repeat ? Store(f.lines, storeEvent) : std::string();
            if (status == 1 && !key.empty())
                acceptedFiles_.emplace(key, f.lines);
            ledger_.Write("file", JsonObject()
                                      .Number("conn", c.id)
                                      .Text("by", repeat ? "repeat" : chaos_ ? "chaos" : "options")
                                      .Number("status", status)
                                      .Bool("repeat", repeat)
                                      .Text("verdict", line)
                                      .Texts("lines", f.lines)
                                      .Pairs("naks", f.naks)
                                      .TextOrNull("stored", stored.empty() ? std::nullopt : std::optional(stored)));
            Event("ENQ -> verdict " + std::to_string(status) + " " + Text_Cp1252ToUtf8(text) + " (" +
                  std::to_string(f.lines.size()) + " lines" + (repeat ? ", a file number accepted before" : "") + ")");
            if (!storeEvent.empty())
                Event(storeEvent);
        } else {
            Event("ENQ -> verdict again");
        }
        c.socket->write(f.verdict.data(), static_cast<qint64>(f.verdict.size()));
    } else if (code == kACK && f.verdictSent) {
        if (o_.noEnq) {
            Event("ACK");
        } else {
            Event("ACK -> ENQ");
            c.socket->write(&kENQ, 1);
        }
    } else if (code == kEOT) {
        if (!f.verdictSent && f.Begun())
            FileAbandoned(c, "EOT");
        Event("EOT");
        f = {};
    } else {
        Event(name + " unexpected");
    }
}

void Centre::FileAbandoned(Line& c, const char* why)
{
    ledger_.Write("file-abandoned", JsonObject()
                                        .Number("conn", c.id)
                                        .Text("why", why)
                                        .Texts("lines", c.file.lines)
                                        .Pairs("naks", c.file.naks));
}

std::string Centre::Store(const std::vector<std::string>& lines, std::string& event)
{
    if (o_.store.isEmpty())
        return {};
    QDir dir(o_.store);
    if (!dir.mkpath(".")) {
        event = "cannot create " + o_.store.toStdString();
        return {};
    }
    QString path;
    do {
        path = dir.filePath(QString("transfile-%1.txt").arg(++stored_, 4, 10, QChar('0')));
    } while (QFile::exists(path));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        event = "cannot write " + path.toStdString();
        return {};
    }
    for (const std::string& l : lines) {
        f.write(l.data(), static_cast<qint64>(l.size()));
        f.write("\r\n");
    }
    event = "stored " + path.toStdString();
    return Text_FromQString(path);
}

} // namespace tollan::peer
