#include "dialogues/dialogue.h"

#include "dialogues/transfile_build.h"
#include "links/link.h"
#include "links/tcp.h"
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "store/db.h"
#include "store/transfiles.h"
#include "support/carddata.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/marker.h"
#include "support/text.h"
#include "support/wait.h"

#include <QFile>

#include <memory>
#include <optional>

namespace tollan {
namespace {

constexpr char EOT = 4, ENQ = 5, ACK = 6, NAK = 21;
constexpr const char* kAnswerPattern = "????????*\r";  // a CR with at least eight characters before it
constexpr std::int16_t kFirstAnswerSeconds = 15;
constexpr std::int16_t kLineAnswerSeconds = 30;
constexpr std::int16_t kVerdictSeconds = 10;
constexpr int kRepeats = 3;  // a line, ENQ or ACK goes at most four times

bool debugOn() { return Num_Value(Cfg_Get("Debug", "0")) != 0; }

// "TimeOut\Connect" is read, never written back: absent, it is 60 seconds here but 30 for the
// modem's answer to dialling, and a default written by one would stand for the other.
double connectSeconds() { return Num_Value(Cfg_Lookup("TimeOut\\Connect", "60")); }

std::string messageType(int t) { return KK_FormatField(2, 4, true, KK_Number(t, 4)); }

std::int16_t seconds(const char* key, const char* def)
{
    double v = Num_Value(Cfg_Get(key, def));
    return std::int16_t(std::clamp(v, -1.0, 32767.0));
}

// The one line of a modem, X.25 or dial-up: one call at a time. (Over dial-up the connection could
// carry more, but one modem line is sized and paid for one card-centre call.)
Marker& modemLine()
{
    static Marker line("modem");
    return line;
}

bool overModem() { return Link_UsesX25() || Num_Value(Cfg_Get("UseRAS", "0")) != 0; }

// A dialogue's own line to the card centre: a socket of its own over TCP, and the modem line's
// marker while the dialogue runs over a modem. Closed on every way out.
struct Line {
    std::unique_ptr<Socket> socket;
    MarkerHold modem;
    explicit Line(const char* name, const char* message) : socket(std::make_unique<Socket>())
    {
        socket->setObjectName(QString::fromLatin1(name));
        Tcp_HandleCardCentreEvents(*socket, message);
    }
    ~Line()
    {
        if (socket->state() != kSockClosed || socket->linkKind() >= 0)
            Link_Close(*socket);
    }
};

void tell(const DialogueListener& l, const char* utf8)
{
    if (l.progress && (!l.present || l.present()))
        l.progress(Text_Utf8ToCp1252(utf8));
}

} // namespace

bool KK_DebugLog(std::string_view text)
{
    const QString path = Home_File("debug.log");
    // Card data: readable by the owner alone, from the file's first byte.
    if (!Home_RestrictFile(path))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::Append | QIODevice::Text))
        return false;
    const std::string line = Clock_Now().toString(QStringLiteral("dd.MM.yy hh:mm:ss")).toStdString() + "\t" +
                             Text_Cp1252ToUtf8(Card_MaskText(text)) + "\n";
    return f.write(line.data(), qint64(line.size())) == qint64(line.size());
}

Task<AuthResult> KK_Authorize(int type, std::string body, DialogueListener listener, bool repeatFirst)
{
    AuthResult result;
    const std::string repeat = KK_Frame(messageType(type + 1) + body);
    const std::string request = repeatFirst ? repeat : KK_Frame(messageType(type) + body);
    if (request.empty() || repeat.empty()) {
        // Settings too long for a frame (its check sum overflows): nothing could ever be sent.
        Err_Report(0, "the request of " + std::to_string(body.size()) + " bytes does not fit in a frame",
                   Text_Utf8ToCp1252("Päringut ei saa kaardikeskusele saata"), 16);
        co_return result;
    }
    Line line("WSTollanauth", kMsgAuthSocket);
    if (overModem()) {
        line.modem = co_await modemLine().take(listener.who);
        if (!line.modem)
            co_return result;   // the program stops
    }
    tell(listener, "Loon ühendust...");
    if (!co_await Link_Connect(*line.socket, "Auth_Address", connectSeconds())) {
        tell(listener, "Sidehäire!");
        co_return result;
    }
    if (listener.present && !listener.present())
        co_return result;   // nobody is waiting for the answer: nothing is sent
    Socket& s = *line.socket;
    if (debugOn())
        KK_DebugLog("Send query: " + Url_Encode(KK_MaskCardElements(body, true), 3));

    tell(listener, repeatFirst ? "Edastan päringu korduse..." : "Edastan päringu...");
    Link_Send(s, request);
    result.sent = true;
    tell(listener, "Ootan vastust...");
    bool answered = co_await Link_WaitFor(s, kAnswerPattern, kFirstAnswerSeconds);
    if (!answered && !App_Stopping()) {
        tell(listener, "Edastan päringu korduse...");
        Link_Send(s, repeat);
        tell(listener, "Ootan vastust...");
        answered = co_await Link_WaitFor(s, kAnswerPattern, seconds("TimeOut\\Auth", "60"));
    }
    if (answered) {
        // The first valid frame of the answer's type: noise before it, and a CR LF or the answer to
        // the repeat after it, are not part of it.
        const std::string answerType = messageType(type + 10);
        std::string r;
        for (std::string& m : KK_UnframeAll(Link_Receive(s, 0)))
            if (m.compare(0, 2, answerType) == 0) {
                r = std::move(m);
                break;
            }
        if (debugOn())
            KK_DebugLog("Received: " + Url_Encode(r.substr(0, std::min<std::size_t>(2, r.size())) +
                                                      KK_MaskCardElements(std::string_view(r).substr(std::min<std::size_t>(2, r.size())), false),
                                                  3));
        if (!r.empty()) {
            result.response = r.substr(2);
            result.answered = true;
        }
    }
    tell(listener, "Lõpetan...");
    co_return result;
}

Task<bool> KK_SendTransFile(std::vector<std::string> lines, std::string& report,
                            std::function<Task<void>(const ServerReply&)> onVerdict)
{
    Line line("WSTollanfile", kMsgFileSocket);
    if (overModem()) {
        line.modem = co_await modemLine().take(kRequesterScheduled);
        if (!line.modem)
            co_return false;
    }
    Socket& s = *line.socket;
    if (!co_await Link_Connect(s, "Trans_Address", connectSeconds()))
        co_return false;
    // Sends `what` until the card centre's data matches `pattern`, at most four times.
    auto sendUntilHeard = [&s](char what, std::string pattern, std::int16_t wait) -> Task<bool> {
        for (int budget = kRepeats;; --budget) {
            Link_Send(s, std::string(1, what));
            if (co_await Link_WaitFor(s, pattern, wait))
                co_return true;
            if (budget == 0 || App_Stopping())
                co_return false;
        }
    };
    auto sendLine = [&s](const std::string& text) -> Task<bool> {
        const std::string frame = KK_FrameSimple(text);
        const std::string ackOrNak = std::string("[") + ACK + NAK + "]";
        for (int budget = kRepeats;; --budget) {
            Link_Send(s, frame);
            if (!co_await Link_WaitFor(s, ackOrNak, kLineAnswerSeconds))
                co_return false;  // no answer within 30 seconds ends the dialogue at once
            const std::string got = Link_Receive(s, 0);
            if (got.find(NAK) == std::string::npos)
                co_return got.find(ACK) != std::string::npos;
            if (budget == 0)
                co_return false;
        }
    };

    bool ok = false;
    bool linesAccepted = true;
    for (const std::string& l : lines)
        if (!(linesAccepted = co_await sendLine(l)))
            break;
    if (linesAccepted && co_await sendUntilHeard(ENQ, "[!\r]\r", kVerdictSeconds)) {
        std::string verdict = Link_Receive(s, 0);
        if (!verdict.empty() && verdict.back() == '\n')
            verdict.pop_back();
        const ServerReply reply = KK_ParseServerReply(KK_UnframeSimple(verdict));
        ok = reply.Status == 1;
        Log_Event("Server said: " + reply.Message);
        report += "\r\nServer said: " + reply.Message;
        // Recorded before another byte goes: the card centre has the file from this moment on.
        if (onVerdict)
            co_await onVerdict(reply);
        // The operator learns of a refusal, in the card centre's words, beside every other failure.
        if (!ok)
            Err_Report(reply.Status, reply.Message, Text_Utf8ToCp1252("Kaardikeskus ei võtnud tehingufaili vastu"), 16);
        // The card centre ends with ENQ; without it after four ACKs the verdict still stands.
        if (co_await sendUntilHeard(ACK, std::string(1, ENQ), kVerdictSeconds))
            Link_Receive(s, 0);
    } else if (!App_Stopping()) {
        Err_Report(0, linesAccepted ? "kaardikeskus ei andnud otsust" : Text_Utf8ToCp1252("kaardikeskus ei võtnud rida vastu"),
                   "Tehingufaili saatmine katkes", 16);
    }
    Link_Send(s, std::string(1, EOT));
    co_return ok;
}

namespace {

constexpr int kRecordAttempts = 3;
constexpr std::int64_t kRecordPauseMs = 1000;

// Every accepted file whose report is not in trans.log yet gets it there, then the date of the last
// accepted file: a stop between the verdict and the log leaves the report to the next run.
void logAccepted()
{
    for (const TransFileRecord& f : Db_FilesToLog()) {
        if (!KK_TransLogAppend(f.Report))
            return;
        Db_FileLogged(f.Nr);
        Cfg_Put("LastSent_TransFile", Clock_Now().toString(QStringLiteral("yyyyMMdd")).toStdString());
    }
}

// Records the verdict on file `nr`, a few times a second apart; reports the file once when it
// still cannot. Unrecorded, the file stays in flight and goes again, under its own number.
Task<bool> recordVerdict(std::int32_t nr, ServerReply reply, std::string report)
{
    static std::int32_t reported = 0;
    DbStatus s;
    for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
        if (attempt > 0)
            co_await Wait_For(kRecordPauseMs);
        s = Db_RecordVerdict(nr, reply.Status == 1, reply.Message, report);
        if (s)
            co_return true;
    }
    if (reported != nr)
        Err_Report(s.number, s.description,
                   Text_Utf8ToCp1252(reply.Status == 1 ? "Kaardikeskuse vastu võetud tehingufaili nr. "
                                                       : "Kaardikeskuse tagasi lükatud tehingufaili nr. ") +
                       std::to_string(nr) +
                       Text_Utf8ToCp1252(" otsust ei õnnestunud salvestada; fail saadetakse sama numbriga uuesti"),
                   16);
    reported = nr;
    co_return false;
}

// Builds the next file from the rows that may go in one and records it, with its rows bound to
// its number, in one transaction: nothing of it leaves before that commit.
std::optional<TransFileRecord> buildNext()
{
    TransSet set;
    if (!set.open("iSentToojaamPAN") || !Db_BeginTrans())
        return std::nullopt;
    TransFileRecord file;
    TransFileRows rows;
    DbStatus s;
    if (KK_BuildTransFile(set, file.Lines, file.Report, &rows)) {
        file.Nr = rows.number;
        file.Toojaam = Str_Trim(rows.keys.front().first);
        s = Db_RecordFile(file);
        if (s)
            s = Db_CommitTrans();
        if (s)
            return file;
        Err_Report(s.number, s.description,
                   Text_Utf8ToCp1252("Tehingufaili nr. ") + std::to_string(file.Nr) +
                       Text_Utf8ToCp1252(" koostamist ei õnnestunud salvestada; faili ei saadetud"),
                   16);
    }
    if (Db_InTransaction())
        Db_Rollback();
    return std::nullopt;
}

} // namespace

Task<int> KK_SendTransFiles(bool onlyInFlight)
{
    logAccepted();
    // Without the card key no file can be built nor read back: nothing goes (the cause is told
    // where it was found), and the rows wait for the key.
    if (std::string why; !CardKey_Usable(&why)) {
        CardKey_Report(why);
        co_return 0;
    }
    int accepted = 0;
    while (!App_Stopping()) {
        // A file whose verdict never came goes again as it was; only then is a new one built.
        std::optional<TransFileRecord> file = Db_FileInFlight();
        if (file && file->Unreadable) {   // its lines are sealed under a key not in force
            CardKey_Report("transaction file " + std::to_string(file->Nr) + " cannot be opened with the keys in force");
            break;
        }
        if (!file && !onlyInFlight)
            file = buildNext();
        if (!file)
            break;
        std::optional<bool> verdict;
        bool recorded = false;
        std::string report = file->Report;
        const std::int32_t nr = file->Nr;
        co_await KK_SendTransFile(file->Lines, report, [&](const ServerReply& reply) -> Task<void> {
            verdict = reply.Status == 1;
            recorded = co_await recordVerdict(nr, reply, report);
        });
        // No verdict, a refusal, or a verdict not recorded: the next run takes it from here.
        if (!verdict || !recorded || !*verdict)
            break;
        ++accepted;
        logAccepted();
    }
    co_return accepted;
}

} // namespace tollan
