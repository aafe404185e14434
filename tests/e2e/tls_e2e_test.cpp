// The card centre over TLS ("UseTLS" 1): purchases go through when the card centre's certificate,
// its name and its key (one of the pinned ones, of whatever kind) are right and the terminal has
// the certificate it asks for (the transaction file over TLS: tests/e2e/transfile_e2e_test.cpp);
// every failed handshake fails the connect attempt as an unreachable card centre does, reported in
// Qt's words, with nothing of the request reaching the card centre.
#include "tests/e2e/suite.h"

#include <map>

namespace {

using Settings = std::map<QString, QString>;

class OverTls : public Shop {
protected:
    void SetUp() override
    {
        Shop::SetUp();
        tls.Make();
        Config("UseTLS", "1");
    }
    // The TLS settings of a case: the trusted authority and nothing else, unless it says.
    void Use(Settings settings)
    {
        settings.try_emplace("TLS\\CAFile", tls.Path("ca.pem"));
        for (const char* key : {"TLS\\CAFile", "TLS\\CertFile", "TLS\\KeyFile", "TLS\\PeerName", "TLS\\Pin"})
            ForceConfig(key, settings.count(key) ? settings[key] : QString());   // pins that are none among them
    }
    std::string Purchase(int trans, const QStringList& answers)
    {
        std::string seen;
        QStringList args{"--trans", QString::number(trans).rightJustified(8, '0'), "--amount", "2.50", "--card", "4000001234567899=28121010000012300000"};
        for (const QString& a : answers)
            args << "--answer" << a;
        status = Register(args, &seen);
        return seen;
    }

    TlsFiles tls;
    int status = -1;
};

TEST_F(OverTls, TheCardCentreIsReachedOnlyWithTheRightCertificatesNameAndPinAndEachFailedHandshakeIsAnUnreachableCardCentre)
{
    struct Case {
        const char* what;
        QStringList centreArgs;
        Settings settings;
        QString cause;            // the report's text: Qt's words after "TLS: "; empty: the purchase goes through
        bool centreSpeaksTls = true;
        QString centreSays = {};  // the card centre's event line for each attempt, if it sees a failure
    };
    const Case cases[] = {
        {"the terminal's certificate where the card centre asks for one",
         tls.CentreArgs("centre") + QStringList{"--tls-client-ca", tls.Path("ca.pem")},
         {{"TLS\\CertFile", tls.Path("client.pem")}, {"TLS\\KeyFile", tls.Path("client.key")}}, {}},
        {"a pin that matches", tls.CentreArgs("centre"), {{"TLS\\Pin", tls.Pin("centre")}}, {}},
        {"an Ed25519 key whose pin is set", tls.CentreArgs("ed25519"), {{"TLS\\Pin", tls.Pin("ed25519")}}, {}},
        {"the name TLS\\PeerName gives, not the address", tls.CentreArgs("other"),
         {{"TLS\\PeerName", "kaardikeskus.example"}}, {}},
        {"an expired certificate", tls.CentreArgs("expired"), {}, "TLS: The certificate has expired", true, {}},
        {"a certificate for another name", tls.CentreArgs("other"), {},
         "TLS: The host name did not match any of the valid hosts for this certificate", true, {}},
        {"an authority the system's store does not know", tls.CentreArgs("centre"), {{"TLS\\CAFile", ""}},
         "TLS: The issuer certificate of a locally looked up certificate could not be found", true, {}},
        {"an Ed25519 key other than the pinned one", tls.CentreArgs("ed25519-other"), {{"TLS\\Pin", tls.Pin("ed25519")}},
         "TLS: kaardikeskuse võtme räsi " + tls.Pin("ed25519-other") + " ei vasta seadele TLS\\Pin", true, {}},
        {"no certificate where the card centre asks for one",
         tls.CentreArgs("centre") + QStringList{"--tls-client-ca", tls.Path("ca.pem")}, {},
         "TLS: teine pool sulges ühenduse", true,
         "handshake failed: The peer did not present any certificate"},
        {"a card centre that does not speak TLS", {}, {}, "TLS: Error during SSL handshake", false, {}},
    };
    Config("TimeOut\\Connect", "10");   // should a handshake hang, three of them end within the register's patience
    StartTerminal();
    int trans = 0, approved = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Use(c.settings);
        StartCentre(c.centreArgs);
        const int before = Lines(home.filePath("tollan.err")).size();
        if (c.cause.isEmpty()) {
            const std::string seen = Purchase(++trans, {"7899"});
            EXPECT_EQ(status, 0) << seen;
            EXPECT_TRUE(centre->WaitFor("auth 0100 pan=4000001234567899 amount=000000000250 stan=00000" +
                                        std::to_string(trans + 1)))
                << centre->out;
            ++approved;
            continue;
        }

        // The register hears what it hears when the card centre cannot be reached: the cashier is
        // asked for a telephone authorisation (and, giving none, leaves the purchase unfinished).
        const std::string seen = Purchase(++trans, {"7899", ""});
        EXPECT_EQ(status, 2) << seen;
        EXPECT_TRUE(Has(seen, "10 prompt: Autoriseerige telefonitsi tehing:")) << seen;

        // One report for each of the three attempts, naming the cause.
        const QStringList reports =
            Lines(home.filePath("tollan.err")).mid(before).filter("Ei õnnestu sidekanalit luua");
        EXPECT_EQ(reports.size(), 3) << reports.join('\n').toStdString();
        for (const QString& r : reports)
            EXPECT_TRUE(r.contains(" - " + c.cause)) << r.toStdString();

        // Three connections, and nothing read from any of them.
        QStringList lines;
        for (;;) {
            lines = QString::fromStdString(centre->out).split('\n', Qt::SkipEmptyParts).mid(1);
            if (lines.count("closed") >= 3 || !centre->process.waitForReadyRead(5000))
                break;
            centre->out += centre->process.readAllStandardOutput().toStdString();
        }
        EXPECT_EQ(lines.filter(QRegularExpression("^connection from ")).size(), 3) << centre->out;
        if (c.centreSpeaksTls) {
            for (const QString& l : lines)
                EXPECT_TRUE(l.startsWith("connection from ") || l.startsWith("handshake failed: ") || l == "closed")
                    << l.toStdString();
        }
        if (!c.centreSays.isEmpty()) {
            EXPECT_EQ(lines.count(c.centreSays), 3) << centre->out;
        }
        EXPECT_FALSE(centre->Printed("auth ")) << centre->out;
    }
    EXPECT_EQ(Rows("SELECT count(*) FROM Trans"), QStringList{QString::number(approved)});
}

} // namespace
