#pragma once
// A cash register on loopback for the tests of the workstation service and the flows. It reads in
// its own event handler, so it keeps receiving (and, when told to, answers prompts and print
// requests at once) while a request's flow holds the test inside a wait. And registers in the
// test process, for the dispatcher, the flows and the dialogues without a service.

#include "support/clock.h"
#include "support/text.h"
#include "workstation/dispatch.h"
#include "workstation/packet.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
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
};

// Registers as the dispatcher reaches them once Install()ed: which are connected, each one's
// dialogue answer, every packet each was sent (Requester: the one it went to). Prompts are
// answered from `answers` in order ("" leaves one unanswered), print requests at once.
struct FakeRegisters {
    std::map<int, bool> connected;
    std::map<int, std::string> tags;
    std::vector<WorkstationPacket> got;
    std::deque<std::string> answers;

    void Install()
    {
        WS_SetRequesters({[this](int r) { return connected[r] ? kRequesterConnected : 0; },
                          [this](int r, const std::string& bytes) { Hear(r, bytes); },
                          [this](int r) { return &tags[r]; }});
    }
    void Hear(int r, const std::string& bytes)
    {
        std::string b = bytes;
        WorkstationPacket p;
        EXPECT_EQ(WS_DecodePacket(b, p), static_cast<int>(bytes.size())) << "not one whole packet";
        p.Requester = static_cast<std::int16_t>(r);
        got.push_back(p);
        if (p.RequestType == wsPrint)
            tags[r] = "-1";
        if (p.RequestType == wsDialog && !answers.empty()) {
            tags[r] = answers.front();
            answers.pop_front();
        }
    }
    long Count(std::int16_t type) const
    {
        return std::count_if(got.begin(), got.end(), [&](const WorkstationPacket& p) { return p.RequestType == type; });
    }
};

} // namespace tollan::test
