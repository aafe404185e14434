// tollan-register as a process, with the test as the terminal: the request read back with the
// terminal's decoders after the percent-decoding every arrival gets, and prompts and print requests
// answered from the register's script. The exit status of each final answer is what the end-to-end
// and robustness tests read.
#include "support/text.h"
#include "tests/peers/peer_process.h"
#include "workstation/packet.h"

#include <QTcpServer>
#include <gtest/gtest.h>

#include <memory>

using namespace tollan;
using namespace tollan::test;

namespace {

class Register : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0)); }
    void Run(QStringList args)
    {
        args << "--port" << QString::number(server.serverPort()) << "--timeout" << "20";
        ASSERT_TRUE(peer.Start(TOLLAN_REGISTER_EXE, args));
    }
    QTcpSocket* Accept()
    {
        if (!server.hasPendingConnections() && !server.waitForNewConnection(5000))
            return nullptr;
        return server.nextPendingConnection();
    }
    // The next packet from `s` as the terminal reads it: percent-decoded, then decoded.
    static bool Receive(QTcpSocket& s, WorkstationPacket& p)
    {
        std::string raw;
        return ReadUntil(s, raw, [&p](const std::string& b) {
            std::string text = Tpl_Decode(b);
            return WS_DecodePacket(text, p) > 0;
        });
    }
    static void Reply(QTcpSocket& s, const WorkstationPacket& request, std::int16_t type, const std::string& data)
    {
        WorkstationPacket r = request;
        r.AnswerType = type;
        r.AnswerData = data;
        const std::string bytes = WS_EncodePacket(r);
        s.write(bytes.data(), qint64(bytes.size()));
        s.flush();
    }

    QTcpServer server;
    PeerProcess peer;
};

// What the end-to-end tests do not read back: the items as the terminal decodes them, the print
// request's answer, and a prompt beyond the script.
TEST_F(Register, ItemsArriveWholeAndPromptsBeyondTheScriptGetNoAnswer)
{
    Run({"--card", "4111111111111111=2512101", "--amount", "12.50", "--item", "A1;Piim 100%;2;0.85", "--answer", "J"});
    std::unique_ptr<QTcpSocket> s(Accept());
    ASSERT_TRUE(s);
    WorkstationPacket request, answer;
    ASSERT_TRUE(Receive(*s, request));
    PurchaseRequest q;
    PurchaseItems items;
    ASSERT_TRUE(WS_DecodePurchase(request.RequestData, q, items));
    ASSERT_EQ(WS_ItemCount(items), 1);
    EXPECT_EQ(items[1].ItemCode, "A1");
    EXPECT_EQ(items[1].ItemText, "Piim 100%");   // sent as %25, read back as %
    EXPECT_FLOAT_EQ(items[1].ItemQuantity, 2.0f);
    EXPECT_EQ(items[1].ItemAmount1, 8500);
    EXPECT_EQ(items[1].ItemAmount2, 17000);
    for (const std::string expected : {"J", "-1", ""}) {   // the script's answer, the print, beyond the script
        if (expected == "-1")
            Reply(*s, request, wsPrint, "KVIITUNG\r\nSumma 12.50\r\n");
        else
            Reply(*s, request, wsDialog, WS_DialogData("Kas kaart on olemas?", ""));
        ASSERT_TRUE(Receive(*s, answer));
        EXPECT_EQ(answer.RequestType, wsDialogAnswer);
        EXPECT_EQ(answer.RequestData, expected);
    }
    Reply(*s, request, wsApproval, WS_ApprovalData({20261207, 134501, 125000}, items));
    EXPECT_EQ(peer.Exit(), 0) << peer.out;
    EXPECT_NE(peer.out.find("22 approved: date 20261207 time 134501 amount 12.50 items 1"), std::string::npos) << peer.out;
}

} // namespace
