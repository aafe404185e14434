#pragma once
// A cash register on loopback for the tests of the workstation service and the flows. It reads in
// its own event handler, so it keeps receiving (and, when told to, answers prompts and print
// requests at once) while a request's flow holds the test inside a wait. And registers in the
// test process, for the dispatcher, the flows and the dialogues without a service.

#include "support/clock.h"
#include "support/text.h"
#include "workstation/dispatch.h"
#include "workstation/packet.h"
#include "workstation/requester.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tollan::test {

// A register's request packet, from its own side of the line.
inline std::string RegisterRequest(std::int16_t type, const std::string& trans, std::string data = "4761",
                                   const char* workstation = "POS00002")
{
    WorkstationPacket p;
    p.Workstation = workstation;
    p.WorkstationTrans = trans;
    p.AnswerType = type;
    p.AnswerData = std::move(data);
    return WS_EncodePacket(p);
}

struct Register {
    QTcpSocket sock;
    std::string in;
    std::vector<WorkstationPacket> got;
    std::size_t taken = 0;
    std::function<void(Register&, const WorkstationPacket&)> onPrompt;
    std::function<void(Register&, const WorkstationPacket&)> onPrint;

    explicit Register(quint16 port)
    {
        QObject::connect(&sock, &QIODevice::readyRead, [this] {
            in += sock.readAll().toStdString();
            WorkstationPacket p;
            while (WS_DecodePacket(in, p) > 0) {
                got.push_back(p);
                if (p.RequestType == wsDialog && onPrompt)
                    onPrompt(*this, p);
                if (p.RequestType == wsPrint && onPrint)
                    onPrint(*this, p);
            }
        });
        sock.connectToHost(QHostAddress::LocalHost, port);
    }
    bool Connected()
    {
        return Clock_WaitUntil([&] { return sock.state() == QAbstractSocket::ConnectedState; }, 3000);
    }
    // A register sends a "%" of its packet as "%25": the terminal percent-decodes what arrives.
    void Send(const std::string& packetBytes)
    {
        const std::string bytes = Str_Replace(packetBytes, "%", "%25");
        sock.write(bytes.data(), qint64(bytes.size()));
        sock.flush();
    }
    // The next packet the terminal sent, or nothing within `ms`.
    std::optional<WorkstationPacket> Next(int ms = 3000)
    {
        if (!Clock_WaitUntil([&] { return got.size() > taken; }, ms))
            return std::nullopt;
        return got[taken++];
    }
    // The next packet that is no busy notice.
    std::optional<WorkstationPacket> NextNotBusy(int ms = 3000)
    {
        for (;;) {
            auto p = Next(ms);
            if (!p || p->RequestType != wsBusy)
                return p;
        }
    }
};

// What a register does with a prompt or a print request: answers with a text, stays silent, or
// hangs up.
struct Answer {
    enum Kind { text, silent, hangUp } kind = text;
    std::string value;
    // An empty text is no answer at all.
    Answer(const char* v) : Answer(std::string(v)) {}
    Answer(std::string v) : kind(v.empty() ? silent : text), value(std::move(v)) {}
    Answer(Kind k, std::string v = {}) : kind(k), value(std::move(v)) {}
};

class FakeRegisters;

// One register in the test process, as a request's flow reaches it.
class FakeRequester final : public Requester {
public:
    FakeRequester(int index, FakeRegisters& registers) : Requester(index), registers_(registers) {}

protected:
    bool connected() const override;
    void deliver(const std::string& packetBytes) override;

private:
    FakeRegisters& registers_;
};

// Registers in the test process for the dispatcher, the flows and the receipts: which are
// connected, every packet each was sent (Requester: the one it went to). Prompts are answered
// from `answers` in order (none left: not answered), print requests from `printAnswers` (none
// left: "1"), each from the event loop as a type-8 answer arrives.
class FakeRegisters {
public:
    std::map<int, bool> connected;
    std::vector<WorkstationPacket> got;
    std::deque<Answer> answers;
    std::deque<Answer> printAnswers;

    std::shared_ptr<Requester> At(int r)
    {
        auto& one = requesters_[r];
        if (!one)
            one = std::make_shared<FakeRequester>(r, *this);
        return one;
    }
    Requester& operator[](int r) { return *At(r); }
    // A register (again) on `r`: one that hung up before comes back as a new requester.
    void Connect(int r)
    {
        connected[r] = true;
        requesters_.erase(r);
    }
    long Count(std::int16_t type) const
    {
        return std::count_if(got.begin(), got.end(), [&](const WorkstationPacket& p) { return p.RequestType == type; });
    }

    void Hear(int r, const std::string& bytes)
    {
        std::string b = bytes;
        WorkstationPacket p;
        EXPECT_EQ(WS_DecodePacket(b, p), static_cast<int>(bytes.size())) << "not one whole packet";
        p.Requester = static_cast<std::int16_t>(r);
        got.push_back(p);
        std::deque<Answer>* from = p.RequestType == wsDialog ? &answers : p.RequestType == wsPrint ? &printAnswers : nullptr;
        if (!from || (from->empty() && from == &answers))
            return;
        const Answer a = from->empty() ? Answer("1") : from->front();
        if (!from->empty())
            from->pop_front();
        std::weak_ptr<Requester> who = At(r);
        QTimer::singleShot(1, [this, who, r, a] {
            const auto one = who.lock();
            if (!one)
                return;
            if (a.kind == Answer::text)
                one->answer(a.value);
            else if (a.kind == Answer::hangUp) {
                connected[r] = false;
                one->lose();
            }
        });
    }

private:
    std::map<int, std::shared_ptr<Requester>> requesters_;
};

inline bool FakeRequester::connected() const { return registers_.connected[index()]; }
inline void FakeRequester::deliver(const std::string& packetBytes) { registers_.Hear(index(), packetBytes); }

} // namespace tollan::test
