#pragma once
// The card centre's listener: every connection is read frame by frame, authorisations answered by
// the rules, transaction-file lines ACKed or NAKed as scripted, the verdict given on ENQ.
#include "peers/tollan-cardcentre/chaos.h"
#include "peers/tollan-cardcentre/ledger.h"
#include "peers/tollan-cardcentre/rules.h"

#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSslSocket;
class QTcpSocket;

namespace tollan::peer {

struct CentreOptions {
    std::vector<Rule> rules;
    Behaviour fallback;
    std::map<int, int> nakLine;        // line number (from 1) -> how many NAKs before the ACK
    int lineDelayMs = 0;               // each line's ACK after this long
    int verdictStatus = 1;
    std::string verdictText;           // Windows-1252
    bool verdictLf = false;            // the verdict frame followed by LF
    int enqSilent = 0;                 // ENQs left unanswered before the verdict
    bool noEnq = false;                // no ENQ after the terminal's ACK
    QString store;                     // folder of the accepted files; empty: not stored
    QString log;                       // file that gets every event line too
    QString ledger;                    // file that gets a JSON line for every request and file
    std::optional<ChaosOptions> chaos; // random behaviour where no rule or --nak-line says
    bool verbose = false;
    std::optional<QSslConfiguration> tls;  // every connection speaks TLS, with this certificate
};

// The listener: with TLS each connection is handed over as a QSslSocket whose handshake starts
// once it has been taken, so that the connection is seen (and its failure told) like any other.
class CentreServer : public QTcpServer {
public:
    std::optional<QSslConfiguration> tls;

protected:
    void incomingConnection(qintptr descriptor) override;
};

// The verdict line: message text in 46, lines in 5, status, detail lines in 6, total in 12.
std::string Centre_VerdictLine(std::string_view text, int status, const std::vector<std::string>& lines);

class Centre : public QObject {
public:
    explicit Centre(CentreOptions options);
    bool Listen(quint16 port);
    // Opens --ledger, if given, and writes its first line; false when it cannot be appended to.
    bool StartLedger();
    quint16 Port() const { return server_.serverPort(); }

private:
    struct Line;
    void Accept();
    void Handshake(QSslSocket* s);
    void Read(Line& c);
    void Frame(Line& c, const std::string& frame);
    void Authorisation(Line& c, const std::string& message);
    void FileLine(Line& c, const std::string& text);
    void Control(Line& c, char code);
    // The path of the stored file (Windows-1252), empty when not stored; `event` says what happened.
    std::string Store(const std::vector<std::string>& lines, std::string& event);
    void FileAbandoned(Line& c, const char* why);
    void Event(const std::string& utf8);

    // What the card centre remembers, as a real one does: a repeat of a request it has decided gets
    // the same verdict, and a file number it has accepted is known when the file comes again. Both
    // are read back from --ledger and --store at the start, so a restart forgets nothing.
    struct Decision {
        Behaviour::Verdict verdict = Behaviour::Approve;
        std::string code, authCode;
    };
    static std::string DecisionKey(int type, const std::string& stan, const std::string& pan, const std::string& amount);
    static std::string FileKey(const std::vector<std::string>& lines);
    void Remember();

    CentreOptions o_;
    CentreServer server_;
    std::map<std::string, Decision> decided_;
    std::map<std::string, std::vector<std::string>> acceptedFiles_;
    int stored_ = 0;
    int connections_ = 0;
    int requests_ = 0;
    Ledger ledger_;
    std::unique_ptr<Chaos> chaos_;
};

} // namespace tollan::peer
