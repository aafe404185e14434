#pragma once
// A cash register on one workstation connection: it sends one request, answers the terminal's
// prompts and print requests, prints every packet it gets, and ends on the final answer.
#include "workstation/packet.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <cstdint>
#include <functional>
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
    int timeoutMs = 300000;
    bool quiet = false;                     // no packet lines on stdout (load tests)
};

// Exit statuses: the final answer's type, or why there was none.
enum RegisterStatus {
    kStatusApproved = 0,      // type 22
    kStatusRefused = 1,       // type 0: refusal or error answer
    kStatusUnfinished = 2,    // type 2: a prompt went unanswered
    kStatusCardInfo = 3,      // type 23
    kStatusNoAnswer = 4,      // connection refused or closed before the answer
    kStatusTimeOut = 5,       // no answer in --timeout
    kStatusUsage = 64,
};
// The status of a final answer type, or -1 when the type does not end the request.
int Register_FinalStatus(int answerType);

// The request packet of the options (answer fields filled, as WS_EncodePacket takes them).
WorkstationPacket Register_Request(const RegisterOptions& o);
// The card data field: card text in 40, entry flag, expiry YYMM, 5 spaces.
std::string Register_CardData(std::string_view card, char entry, std::string_view expiry);
// "%" travels as "%25": the terminal percent-decodes everything that arrives.
std::string Register_Escape(std::string_view bytes);
// The n-th register's name (from 0): the trailing number of `base` counted on by n, same width.
std::string Register_Name(std::string_view base, int n);
// One packet in words (UTF-8), the receipt text of a print request in full.
std::string Register_Describe(const WorkstationPacket& p);

class Register : public QObject {
public:
    Register(RegisterOptions options, std::function<void(const std::string&)> print);
    void Start();
    int Status() const { return status_; }
    qint64 ElapsedMs() const { return elapsedMs_; }
    std::function<void(Register&)> finished;

private:
    void Arrived();
    bool DropBroken(std::string& in);
    void Handle(const WorkstationPacket& p);
    void Send(WorkstationPacket p, const std::string& prefix);
    void Finish(int status);
    std::string NextAnswer(const std::string& prompt);

    RegisterOptions o_;
    std::function<void(const std::string&)> print_;
    QTcpSocket socket_;
    QTimer timer_;
    std::string in_;
    std::size_t answered_ = 0;
    int status_ = -1;
    qint64 started_ = 0;
    qint64 elapsedMs_ = 0;
};

} // namespace tollan::peer
