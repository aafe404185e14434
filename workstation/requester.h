#pragma once
// Whoever asked: a register on one connection, or the operator at the console. A request's flow
// talks to it through this object for as long as the request runs: information messages, and
// prompts and print requests whose type-8 answer it awaits. The object belongs to one connection:
// once that register has gone, nothing of the request reaches a newcomer on the same socket.

// moc reads no coroutine headers.
#ifndef Q_MOC_RUN
#include "support/task.h"
#endif

#include <QObject>

#include <optional>
#include <string>

namespace tollan {

struct WorkstationPacket;

class Requester : public QObject {
    Q_OBJECT
public:
    explicit Requester(int index, QObject* parent = nullptr) : QObject(parent), index_(index) {}

    // 1..32 a workstation connection, kRequesterConsole the console.
    int index() const { return index_; }
    // Still there to hear us.
    bool present() const { return !lost_ && connected(); }
    // Sends a packet when the requester is present; false otherwise.
    bool send(const std::string& packetBytes);
    // The request's final answer (its whole error text with it, for a requester that can show it).
    virtual void sendAnswer(const WorkstationPacket& answered);
    // An information message (type 6) while it is there to read it.
    void inform(const std::string& text);
    // A prompt (type 10) or a print request (type 24), and its type-8 answer. Nothing when the
    // requester goes, "Timeout\Workstation" passes (seconds; 0: no limit), or the program stops.
    Task<std::optional<std::string>> ask(std::string packetBytes);
    // Whether an answer is awaited now.
    bool asking() const { return asking_; }
    // Seconds an answer is waited for now ("Timeout\Workstation"; 0: no limit).
    static double AnswerSeconds();

    // The owner hands over a type-8 answer (kept only while one is awaited), and the going.
    void answer(const std::string& data);
    void lose();

signals:
    // A prompt or print request went out and an answer is awaited; the waiting has ended.
    void asked(double seconds);
    void askEnded();

protected:
    virtual bool connected() const = 0;
    virtual void deliver(const std::string& packetBytes) = 0;

private:
    int index_;
    bool lost_ = false;
    bool asking_ = false;
    std::optional<std::string> answer_;
};

} // namespace tollan
