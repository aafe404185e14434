// The same purchase over X.25: the terminal dials the modem peer on a pseudo-terminal, the modem's
// PAD calls the card centre's address, and the request and answer cross the serial line.
#include "tests/common/shop.h"

#include <QFileInfo>

namespace {

using namespace tollan::test;

TEST_F(Shop, APurchaseOverX25ThroughTheModem)
{
    StartCentre();
    PeerProcess modem;
    ASSERT_TRUE(modem.Start(TOLLAN_MODEM_EXE, {"--route", QString("20041=127.0.0.1:%1").arg(centrePort), "--user",
                                               "tollan", "--password", "salajane", "--verbose"}));
    ASSERT_TRUE(modem.WaitFor("\n"));
    const QString device = QString::fromStdString(modem.out.substr(0, modem.out.find('\n')));
    ASSERT_TRUE(QFileInfo(device).exists()) << device.toStdString();
    Config("UseX25", "1");
    Config("X25\\CommPort", device);
    Config("X25\\Handshaking", "0");
    Config("X25\\Number", "5551234");
    Config("X25\\Auth_Address", "20041");
    Config("X25\\Username", "tollan");
    Config("X25\\Password", "salajane");
    StartTerminal();

    std::string seen;
    EXPECT_EQ(Register(QStringList{"--trans", "00000001", "--amount", "9.99"} + kCard, &seen), 0) << seen;
    EXPECT_TRUE(Has(seen, "22 approved")) << seen;
    EXPECT_TRUE(centre->WaitFor("auth 0100 pan=4000001234567899 amount=000000000999 stan=000002")) << centre->out;
    EXPECT_EQ(Rows("SELECT STAN, Amount, AuthCode FROM Trans"), QStringList{"2|9.99|123456"});
    // The modem dialled the number and the PAD called the address with the network identity.
    StopTerminal();  // the terminal closes the port; the modem's log is complete once it ends
    modem.process.terminate();
    ASSERT_TRUE(modem.process.waitForFinished(5000));
    const QByteArray dialogue = modem.process.readAllStandardError();
    EXPECT_TRUE(dialogue.contains("5551234")) << dialogue.toStdString();
    EXPECT_TRUE(dialogue.contains("CNtollan/salajane-20041")) << dialogue.toStdString();
}

} // namespace
