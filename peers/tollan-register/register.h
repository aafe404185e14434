#pragma once
// A cash register on one workstation connection: it sends its requests one after another (one
// unless told more), answers the terminal's prompts and print requests, prints every packet it
// gets, and ends after the final answer of its last request.
#include "workstation/packet.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <QElapsedTimer>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace tollan::peer {

enum class Action { Purchase, Cancel, Query };

struct RegisterOptions {
    QString host = "127.0.0.1";
    QString source;                         // local address to connect from; empty: the system's choice
    quint16 port = 1280;
    std::string workstation = "POS00001";   // the last three characters are the register number
    std::string trans;                      // WorkstationTrans; empty: a number of our own
    Action action = Action::Purchase;
    // Windows-1252 texts from here on.
    std::string card;                       // card text, as read from the stripe or typed
    std::string pan;                        // empty: the card text's leading digits
    std::int64_t amount = 0;                // currency: amount x 10 000
    char entry = '0';                       // '0' read from the card, other digits keyed in
    std::string expiry;                     // YYMM; empty: the four digits after the separator
    std::int16_t kind = 0;
    std::string reference;
    PurchaseItems items;                    // 1..m
    std::string cancelKey;                  // STAN or workstation transaction number
    std::string second;                     // second text of a card query
    std::vector<std::string> answers;       // prompt answers in order
    bool interactive = false;               // prompts answered from stdin once the script is spent
    std::string printAnswer = "-1";
    int timeoutMs = 300000;                 // each request's final answer within this
    bool quiet = false;                     // no packet lines on stdout (load tests)
    int promptDelayMs = 0;                  // each prompt answered this long after it arrived
    // Load: the requests go one after another on the register's one connection, each with a
    // transaction number of its own (the next after `trans`).
    int requests = 1;                       // how many; 0: as many as `durationMs` allows
    qint64 durationMs = 0;                  // no request starts after this long; 0: no limit
    double rate = 0;                        // requests a second, Poisson arrivals; 0: back to back
    std::uint64_t seed = 1;                 // of the arrivals
};

// One request's end: its status, and the time from the request written to the final answer, or
// to the stop for a request stopped while it waited (negative when the line failed).
struct RequestResult {
    int status = -1;
    double ms = -1;
};

// Exit statuses: the final answer's type, or why there was none.
enum RegisterStatus {
    kStatusApproved = 0,      // type 22
    kStatusRefused = 1,       // type 0: refusal or error answer
    kStatusUnfinished = 2,    // type 2: a prompt went unanswered
    kStatusCardInfo = 3,      // type 23
    kStatusNoAnswer = 4,      // connection refused or closed before the answer
    kStatusTimeOut = 5,       // no answer in --timeout
    kStatusStopped = 6,       // a request still waiting when the run was stopped: no exit status
    kStatusUsage = 64,
};
// The status of a final answer type, or -1 when the type does not end the request.
int Register_FinalStatus(int answerType);

// The request packet of the options with transaction number `trans` (answer fields filled, as
// WS_EncodePacket takes them).
WorkstationPacket Register_Request(const RegisterOptions& o, const std::string& trans);
// The card data field: card text in 40, entry flag, expiry YYMM, 5 spaces.
std::string Register_CardData(std::string_view card, char entry, std::string_view expiry);
// "%" travels as "%25": the terminal percent-decodes everything that arrives.
std::string Register_Escape(std::string_view bytes);
// The n-th register's name (from 0): the trailing number of `base` counted on by n, same width
// (past its largest it starts again from 0: the field is as wide as it is). Also the n-th
// transaction number after `base`.
std::string Register_Name(std::string_view base, int n);
// A transaction number of our own: eight digits from the clock.
std::string Register_ClockNumber();
// One packet in words (UTF-8), the receipt text of a print request in full.
std::string Register_Describe(const WorkstationPacket& p);

class Register : public QObject {
public:
    Register(RegisterOptions options, std::function<void(const std::string&)> print);
    void Start();
    // Ends the register now (the run is stopped): a request still waiting counts as stopped.
    void Stop();
    // The highest status of its requests once it has ended (-1 before).
    int Status() const { return status_; }
    qint64 ElapsedMs() const { return elapsedMs_; }
    const std::vector<RequestResult>& Results() const { return results_; }
    // The longest a request of this register heard nothing while it waited its turn (from its
    // sending, or the last busy notice, to the next packet, until its first packet that is no busy
    // notice); -1 when none waited. The terminal tells a waiting register every ten seconds.
    double WaitingSilenceMs() const { return waitingSilenceMs_; }
    std::function<void(Register&)> finished;

private:
    void Next();
    void Begin();
    void Ended(int status);
    void Arrived();
    bool DropBroken(std::string& in);
    void Handle(const WorkstationPacket& p);
    void Send(WorkstationPacket p, const std::string& prefix);
    void Finish(int status);
    std::string NextAnswer(const std::string& prompt);

    RegisterOptions o_;
    std::function<void(const std::string&)> print_;
    QTcpSocket socket_;
    QTimer timeout_;              // the running request's final answer
    QTimer pace_;                 // the next request's arrival
    QElapsedTimer run_, request_;
    std::mt19937_64 random_;
    double arrivalMs_ = 0;        // when the next request is due, from the start
    std::string in_;
    std::string trans_;           // the running request's number
    std::size_t answered_ = 0;    // prompts of the running request answered from the script
    int made_ = 0;                // requests begun
    bool inRequest_ = false;
    bool waiting_ = false;           // the running request has heard nothing but busy notices
    qint64 heardMs_ = 0;             // when it last heard one (or was sent), on request_
    double waitingSilenceMs_ = -1;
    std::uint64_t generation_ = 0;   // a delayed prompt answer goes only to the request it belongs to
    std::vector<RequestResult> results_;
    int worst_ = 0;
    int status_ = -1;
    qint64 elapsedMs_ = 0;
};

} // namespace tollan::peer
