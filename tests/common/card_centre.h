#pragma once
// A card centre on loopback for the tests of the dialogues and the flows.
#include "links/socket.h"
#include "protocol/frame.h"
#include "protocol/messages.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <string>
#include <vector>

namespace tollan::test {

// The packed message type as the card centre's messages begin.
inline std::string Type(int t) { return KK_FormatField(2, 4, true, KK_Number(t, 4)); }

// A response body that carries only the authorisation code (38) and the response code (39, two
// characters as they go; empty: the response has no element 39).
inline std::string Verdict0110(const char* authCode, const std::string& responseCode)
{
    if (responseCode.empty())
        return std::string("\0\0\0\0\x04\0\0\0", 8) + KK_FormatField(4, 6, true, authCode);
    return std::string("\0\0\0\0\x06\0\0\0", 8) + KK_FormatField(4, 6, true, authCode) +
           KK_FormatField(4, 2, true, responseCode);
}

// A card centre on loopback whose answers the test scripts. It answers from its own event
// handler, so it plays its part while a dialogue holds the test inside a wait.
struct Centre {
    QTcpServer server;
    QTcpSocket* line = nullptr;
    std::string in;                              // what arrived and was not yet handled
    std::vector<std::string> frames;             // every full or simple frame, unframed
    std::string controls;                        // every ENQ, ACK, EOT received
    std::function<void(Centre&, const std::string& frame)> onFrame;
    std::function<void(Centre&, char control)> onControl;

    Centre()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            line = server.nextPendingConnection();
            QObject::connect(line, &QIODevice::readyRead, [this] { Read(); });
        });
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(server.serverPort()); }
    void Send(const std::string& b)
    {
        line->write(b.data(), qint64(b.size()));
        line->flush();
    }
    void Read()
    {
        in += line->readAll().toStdString();
        for (;;) {
            if (in.empty())
                return;
            if (in[0] != KK_SOH) {
                char c = in[0];
                in.erase(0, 1);
                controls += c;
                if (onControl)
                    onControl(*this, c);
                continue;
            }
            std::size_t cr = in.find(KK_CR);
            if (cr == std::string::npos)
                return;
            std::string frame = in.substr(0, cr + 1);
            in.erase(0, cr + 1);
            std::string payload = KK_Unframe(frame);
            if (payload.empty())
                payload = KK_UnframeSimple(frame);
            frames.push_back(payload);
            if (onFrame)
                onFrame(*this, payload);
        }
    }
};

} // namespace tollan::test
