#include "protocol/dialogue.h"

#include "links/link.h"
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "protocol/transfile.h"
#include "store/db.h"
#include "store/transfiles.h"
#include "support/carddata.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/text.h"
#include "workstation/dispatch.h"

#include <QFile>

#include <functional>
#include <optional>

namespace tollan {
namespace {

constexpr char EOT = 4, ENQ = 5, ACK = 6, NAK = 21;
constexpr const char* kAnswerPattern = "????????*\r";  // a CR with at least eight characters before it
constexpr std::int16_t kFirstAnswerSeconds = 15;
constexpr std::int16_t kLineAnswerSeconds = 30;
constexpr std::int16_t kVerdictSeconds = 10;
constexpr int kRepeats = 3;  // a line, ENQ or ACK goes at most four times

Socket* g_auth = nullptr;
Socket* g_file = nullptr;

// A dialogue without its socket (no window yet) still works over X.25; over TCP it fails to connect.
Socket& socketOr(Socket*& s)
{
    static Socket none;
    return s ? *s : none;
}

bool debugOn() { return Num_Value(Cfg_Get("Debug", "0")) != 0; }

// "TimeOut\Connect" is read, never written back: absent, it is 60 seconds here but 30 for the
// modem's answer to dialling, and a default written by one would stand for the other.
double connectSeconds() { return Num_Value(Cfg_Lookup("TimeOut\\Connect", "60")); }

// Tells the requester how the dialogue goes, while it is there to hear it.
void progress(int requester, const char* utf8)
{
    if (Requester_State(requester) == kRequesterConnected)
        WS_Message(requester, Text_Utf8ToCp1252(utf8));
}

std::string messageType(int t) { return KK_FormatField(2, 4, true, KK_Number(t, 4)); }

std::int16_t seconds(const char* key, const char* def)
{
    double v = Num_Value(Cfg_Get(key, def));
    return std::int16_t(std::clamp(v, -1.0, 32767.0));
}

} // namespace

void KK_SetSockets(Socket* auth, Socket* file)
{
    g_auth = auth;
    g_file = file;
}

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

namespace {

// The authorisation dialogue; `repeatFirst` sends the repeat from the start, for a request whose
// first sending may have reached the card centre in an earlier run.
bool authorize(int type, std::string_view body, std::string& response, int requester, bool repeatFirst, bool* sent)
{
    if (sent)
        *sent = false;
    Socket& s = socketOr(g_auth);
    const std::string repeat = KK_Frame(messageType(type + 1) + std::string(body));
    const std::string request = repeatFirst ? repeat : KK_Frame(messageType(type) + std::string(body));
    if (request.empty() || repeat.empty()) {
        // Settings too long for a frame (its check sum overflows): nothing could ever be sent.
        Err_Report(0, "the request of " + std::to_string(body.size()) + " bytes does not fit in a frame",
                   Text_Utf8ToCp1252("Päringut ei saa kaardikeskusele saata"), 16);
        return false;
    }
    progress(requester, "Loon ühendust...");
    if (!Link_Connect(s, "Auth_Address", connectSeconds())) {
        progress(requester, "Sidehäire!");
        return false;
    }
    if (requester != kRequesterScheduled && Requester_State(requester) != kRequesterConnected) {
        Link_Close(s);  // nobody is waiting for the answer: nothing is sent
        return false;
    }
    if (debugOn())
        KK_DebugLog("Send query: " + Url_Encode(KK_MaskCardElements(body, true), 3));

    progress(requester, repeatFirst ? "Edastan päringu korduse..." : "Edastan päringu...");
    Link_Send(s, request);
    if (sent)
        *sent = true;
    progress(requester, "Ootan vastust...");
    bool answered = Link_WaitFor(s, kAnswerPattern, kFirstAnswerSeconds);
    if (!answered && !App_Stopping()) {
        progress(requester, "Edastan päringu korduse...");
        Link_Send(s, repeat);
        progress(requester, "Ootan vastust...");
        answered = Link_WaitFor(s, kAnswerPattern, seconds("TimeOut\\Auth", "60"));
    }
    bool ok = false;
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
            KK_DebugLog("Received: " + Url_Encode(r.substr(0, 2) + KK_MaskCardElements(std::string_view(r).substr(std::min<std::size_t>(2, r.size())), false), 3));
        if (!r.empty()) {
            response = r.substr(2);
            ok = true;
        }
    }
    progress(requester, "Lõpetan...");
    Link_Close(s);
    return ok;
}

} // namespace

bool KK_Authorize(int type, std::string_view body, std::string& response, int requester, bool* sent)
{
    return authorize(type, body, response, requester, false, sent);
}

bool KK_AuthorizeRepeat(int type, std::string_view body, std::string& response, int requester)
{
    return authorize(type, body, response, requester, true, nullptr);
}

bool KK_SendTransFile(const std::vector<std::string>& lines, std::string& report,
                      const std::function<void(const ServerReply&)>& onVerdict)
{
    Socket& s = socketOr(g_file);
    if (!Link_Connect(s, "Trans_Address", connectSeconds()))
        return false;
    // Sends `what` until the card centre's data matches `pattern`, at most four times.
    auto sendUntilHeard = [&](char what, const std::string& pattern, std::int16_t wait) {
        for (int budget = kRepeats;; --budget) {
            Link_Send(s, std::string(1, what));
            if (Link_WaitFor(s, pattern, wait))
                return true;
            if (budget == 0)
                return false;
        }
    };
    auto sendLine = [&](const std::string& line) {
        const std::string frame = KK_FrameSimple(line);
        const std::string ackOrNak = std::string("[") + ACK + NAK + "]";
        for (int budget = kRepeats;; --budget) {
            Link_Send(s, frame);
            if (!Link_WaitFor(s, ackOrNak, kLineAnswerSeconds))
                return false;  // no answer within 30 seconds ends the dialogue at once
            const std::string got = Link_Receive(s, 0);
            if (got.find(NAK) == std::string::npos)
                return got.find(ACK) != std::string::npos;
            if (budget == 0)
                return false;
        }
    };

    bool ok = false;
    bool linesAccepted = true;
    for (const std::string& line : lines)
        if (!(linesAccepted = sendLine(line)))
            break;
    if (linesAccepted && sendUntilHeard(ENQ, "[!\r]\r", kVerdictSeconds)) {
        std::string verdict = Link_Receive(s, 0);
        if (!verdict.empty() && verdict.back() == '\n')
            verdict.pop_back();
        const ServerReply reply = KK_ParseServerReply(KK_UnframeSimple(verdict));
        ok = reply.Status == 1;
        Log_Event("Server said: " + reply.Message);
        report += "\r\nServer said: " + reply.Message;
        // Recorded before another byte goes: the card centre has the file from this moment on.
        if (onVerdict)
            onVerdict(reply);
        // The operator learns of a refusal, in the card centre's words, beside every other failure.
        if (!ok)
            Err_Report(reply.Status, reply.Message, Text_Utf8ToCp1252("Kaardikeskus ei võtnud tehingufaili vastu"), 16);
        // The card centre ends with ENQ; without it after four ACKs the verdict still stands.
        if (sendUntilHeard(ACK, std::string(1, ENQ), kVerdictSeconds))
            Link_Receive(s, 0);
    } else {
        Err_Report(0, linesAccepted ? "kaardikeskus ei andnud otsust" : Text_Utf8ToCp1252("kaardikeskus ei võtnud rida vastu"),
                   "Tehingufaili saatmine katkes", 16);
    }
    Link_Send(s, std::string(1, EOT));
    Link_Close(s);
    return ok;
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
bool recordVerdict(std::int32_t nr, const ServerReply& reply, const std::string& report)
{
    static std::int32_t reported = 0;
    DbStatus s;
    for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
        if (attempt > 0)
            Clock_WaitUntil([] { return false; }, kRecordPauseMs);
        s = Db_RecordVerdict(nr, reply.Status == 1, reply.Message, report);
        if (s)
            return true;
    }
    if (reported != nr)
        Err_Report(s.number, s.description,
                   Text_Utf8ToCp1252(reply.Status == 1 ? "Kaardikeskuse vastu võetud tehingufaili nr. "
                                                       : "Kaardikeskuse tagasi lükatud tehingufaili nr. ") +
                       std::to_string(nr) +
                       Text_Utf8ToCp1252(" otsust ei õnnestunud salvestada; fail saadetakse sama numbriga uuesti"),
                   16);
    reported = nr;
    return false;
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

int KK_SendTransFiles(bool onlyInFlight)
{
    logAccepted();
    // Without the card key no file can be built nor read back: nothing goes (the cause is told
    // where it was found), and the rows wait for the key.
    if (std::string why; !CardKey_Usable(&why)) {
        CardKey_Report(why);
        return 0;
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
        KK_SendTransFile(file->Lines, report, [&](const ServerReply& reply) {
            verdict = reply.Status == 1;
            recorded = recordVerdict(file->Nr, reply, report);
        });
        // No verdict, a refusal, or a verdict not recorded: the next run takes it from here.
        if (!verdict || !recorded || !*verdict)
            break;
        ++accepted;
        logAccepted();
    }
    return accepted;
}

} // namespace tollan
