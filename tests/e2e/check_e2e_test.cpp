// `tollan check` against real peers on the loopback: the card centre over TCP and over TLS with
// its certificates and pins, the modem's port, and the settings check before them.
#include "tests/e2e/suite.h"

namespace {

class Check : public Shop {
protected:
    // `tollan check`: its exit status and what it printed.
    int Run(std::string& out)
    {
        QProcess p;
        p.start(TOLLAN_EXE, {"--home", home.path(), "check"});
        EXPECT_TRUE(p.waitForFinished(30000));
        out = p.readAllStandardOutput().toStdString();
        return p.exitCode();
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(centrePort); }
};

TEST_F(Check, EachCardCentreAddressIsTriedOverTcpAndTlsWithItsPinAndTheExitSaysWhetherAllAnswered)
{
    std::string out;
    EXPECT_EQ(Run(out), 1);
    EXPECT_TRUE(Has(out, "settings: sound\n")) << out;
    EXPECT_TRUE(Has(out, "Tollan_Auth_Address " + Address() + ": no answer: ühendusest keelduti\n")) << out;

    StartCentre();
    EXPECT_EQ(Run(out), 0) << out;
    EXPECT_TRUE(Has(out, "Tollan_Auth_Address " + Address() + ": answered over TCP\n")) << out;
    EXPECT_TRUE(Has(out, "Tollan_Trans_Address " + Address() + ": answered over TCP\n")) << out;

    // Over TLS: the authority, then the pin of the card centre's key, then a pin of another key.
    TlsFiles tls;
    tls.Make();
    StartCentre(tls.CentreArgs("centre"));
    Config("UseTLS", "1");
    EXPECT_EQ(Run(out), 1) << out;   // the system's store does not know the test's authority
    Config("TLS\\CAFile", tls.Path("ca.pem"));
    EXPECT_EQ(Run(out), 0) << out;
    EXPECT_TRUE(Has(out, Address() + ": answered over TLS (certificate verified)\n")) << out;
    Config("TLS\\Pin", tls.Pin("centre"));
    EXPECT_EQ(Run(out), 0) << out;
    EXPECT_TRUE(Has(out, Address() + ": answered over TLS (certificate verified, key pinned)\n")) << out;
    Config("TLS\\Pin", tls.Pin("other"));
    EXPECT_EQ(Run(out), 1) << out;
    EXPECT_TRUE(Has(out, Address() + ": no answer: TLS: kaardikeskuse võtme räsi " + tls.Pin("centre").toStdString() +
                             " ei vasta seadele TLS\\Pin\n")) << out;
    // Nothing of it went to the terminal's error log: the check says it, the terminal did not fail.
    EXPECT_FALSE(QFile::exists(home.filePath("tollan.err")));

    // A setting that cannot work fails the check even where the card centre answers.
    Config("TLS\\Pin", tls.Pin("centre"));
    ForceConfig("Port", "abc");
    EXPECT_EQ(Run(out), 1) << out;
    EXPECT_TRUE(Has(out, "Port \"abc\": not a whole number\n")) << out;
    EXPECT_TRUE(Has(out, "answered over TLS")) << out;
}

TEST_F(Check, OverX25TheModemsPortIsOpened)
{
    Config("UseX25", "1");
    Config("X25\\Auth_Address", "20041");
    Config("X25\\Trans_Address", "20042");
    Config("X25\\CommPort", "/nonexistent/ttyUSB9");
    std::string out;
    EXPECT_EQ(Run(out), 1);
    EXPECT_TRUE(Has(out, "X25\\CommPort /nonexistent/ttyUSB9: cannot be opened: ")) << out;
    EXPECT_FALSE(Has(out, "Tollan_Auth_Address")) << out;

    PeerProcess modem;
    ASSERT_TRUE(modem.Start(TOLLAN_MODEM_EXE, {"--route", QString("20041=127.0.0.1:%1").arg(centrePort)}));
    ASSERT_TRUE(modem.WaitFor("\n"));
    const QString device = QString::fromStdString(modem.out.substr(0, modem.out.find('\n')));
    Config("X25\\CommPort", device);
    EXPECT_EQ(Run(out), 0) << out;
    EXPECT_TRUE(Has(out, "X25\\CommPort " + device.toStdString() + ": opened\n")) << out;
}

} // namespace
