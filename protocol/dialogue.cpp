#include "protocol/dialogue.h"

#include "links/link.h"
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "protocol/transfile.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/text.h"
#include "workstation/dispatch.h"

#include <QFile>

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
    const bool fresh = !QFile::exists(path);
    QFile f(path);
    if (!f.open(QIODevice::Append | QIODevice::Text))
        return false;
    if (fresh)  // card data: readable by the owner alone
        Home_RestrictFile(path);
    const std::string line = Clock_Now().toString(QStringLiteral("dd.MM.yy hh:mm:ss")).toStdString() + "\t" +
                             Text_Cp1252ToUtf8(text) + "\n";
    return f.write(line.data(), qint64(line.size())) == qint64(line.size());
}

bool KK_Authorize(int type, std::string_view body, std::string& response, int requester)
{
    Socket& s = socketOr(g_auth);
    const std::string request = KK_Frame(messageType(type) + std::string(body));
    const std::string repeat = KK_Frame(messageType(type + 1) + std::string(body));
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
    if (Requester_State(requester) != kRequesterConnected) {
        Link_Close(s);  // nobody is waiting for the answer: nothing is sent
        return false;
    }
    if (debugOn())
        KK_DebugLog("Send query: " + Url_Encode(body, 3));

    progress(requester, "Edastan päringu...");
    Link_Send(s, request);
    progress(requester, "Ootan vastust...");
    bool answered = Link_WaitFor(s, kAnswerPattern, kFirstAnswerSeconds);
    if (!answered) {
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
            KK_DebugLog("Received: " + Url_Encode(r, 3));
        if (!r.empty()) {
            response = r.substr(2);
            ok = true;
        }
    }
    progress(requester, "Lõpetan...");
    Link_Close(s);
    return ok;
}

bool KK_SendTransFile(const std::vector<std::string>& lines, std::string& report)
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

// A file the card centre accepted whose sent marks could not be committed. Its rows must go in no
// other file, so no file is sent until they are recorded.
struct AcceptedFile {
    TransFileRows rows;
    std::string report;
    bool reported = false;
};
std::optional<AcceptedFile> g_unrecorded;

constexpr int kRecordAttempts = 3;
constexpr std::int64_t kRecordPauseMs = 1000;

// What follows an accepted file once its marks hold: the report and the date.
void logAccepted(const AcceptedFile& file)
{
    KK_TransLogAppend(file.report);
    Cfg_Put("LastSent_TransFile", Clock_Now().toString(QStringLiteral("yyyyMMdd")).toStdString());
}

// Marks the accepted file's rows sent in a transaction of their own, a few times a second apart;
// reports the file once when its marks still cannot be committed.
bool recordAccepted(AcceptedFile& file)
{
    DbStatus s;
    for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
        if (attempt > 0)
            Clock_WaitUntil([] { return false; }, kRecordPauseMs);
        s = Db_BeginTrans();
        for (const auto& [toojaam, trans] : file.rows.keys)
            if (s)
                s = Db_MarkSent(toojaam, trans);
        if (s)
            s = Db_CommitTrans();
        if (Db_InTransaction())
            Db_Rollback();
        if (s) {
            logAccepted(file);
            return true;
        }
    }
    if (!file.reported)
        Err_Report(s.number, s.description,
                   Text_Utf8ToCp1252("Kaardikeskuse vastu võetud tehingufaili nr. ") +
                       std::to_string(file.rows.number) +
                       Text_Utf8ToCp1252(" saatmist ei õnnestunud salvestada; uusi faile ei saadeta"),
                   16);
    file.reported = true;
    return false;
}

} // namespace

int KK_SendTransFiles()
{
    if (g_unrecorded) {
        if (!recordAccepted(*g_unrecorded))
            return 0;
        g_unrecorded.reset();
    }
    int sent = 0;
    for (;;) {
        TransSet set;
        if (!set.open("iSentToojaamPAN"))
            return sent;
        if (!Db_BeginTrans())
            return sent;
        std::vector<std::string> lines;
        AcceptedFile file;
        if (!KK_BuildTransFile(set, lines, file.report, &file.rows)) {
            Db_Rollback();
            return sent;
        }
        if (!KK_SendTransFile(lines, file.report)) {
            Db_Rollback();  // the transactions stay unsent for the next run
            return sent;
        }
        ++sent;
        if (Db_CommitTrans()) {
            logAccepted(file);
            continue;
        }
        // The card centre has the file: its rows must not go again under another number.
        Db_Rollback();
        if (!recordAccepted(file)) {
            g_unrecorded = std::move(file);
            return sent;
        }
    }
}

} // namespace tollan
