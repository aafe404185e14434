// The TCP link over TLS, below the dialogues: a handshake that never ends, settings that cannot
// make a connection, the key pin of every kind of key, and the session kept from one dialogue to
// the next. What the card centre and the register see of TLS is in
// tests/e2e/tls_e2e_test.cpp.
#include "tests/links/suite.h"
#include "links/tls.h"

#include "tests/common/tls_files.h"

#include <QSslCertificate>

using tollan::test::TlsFiles;

namespace {

class TlsLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        // openssl answers in real time, slower on a loaded machine; a wait idle for longer than
        // this is a silence.
        clock.setIdleSlice(2000);
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        ASSERT_TRUE(Db_Open());
        tls.Make();
        Cfg_Put("UseTLS", "1");
        Cfg_Put("TLS\\CAFile", Text_FromQString(tls.Path("ca.pem")));
        Tcp_HandleCardCentreEvents(auth, kMsgAuthSocket);
    }
    void TearDown() override
    {
        centre.kill();
        centre.waitForFinished(5000);
        Db_Database().close();
    }
    const ErrorRecord& Last() const { return Err_Record(Err_Index()); }

    // openssl's own server, which resumes sessions; its page tells whether this one was
    // ("Reused"). Its address.
    std::string ResumingCentre()
    {
        const quint16 port = tollan::test::FreePort();
        centre.setProcessChannelMode(QProcess::MergedChannels);
        centre.start("openssl", {"s_server", "-accept", QString("127.0.0.1:%1").arg(port), "-cert",
                                 tls.Path("centre.pem"), "-key", tls.Path("centre.key"), "-www"});
        EXPECT_TRUE(Clock_WaitUntil([&] { return centre.readAll().contains("ACCEPT"); }, 10000));
        return "127.0.0.1:" + std::to_string(port);
    }
    // One dialogue with it: "new" or "resumed" session, or "not connected".
    std::string Dialogue(const std::string& address)
    {
        if (!test::Finish(Tcp_Connect(auth, address, 10)))
            return "not connected";
        Tcp_Send(auth, "GET / HTTP/1.0\r\n\r\n");
        test::Finish(Tcp_WaitFor(auth, "*Cipher is*\n", 10));
        const std::string page = Tcp_Receive(auth, 0);
        Tcp_Close(auth);
        return page.find("Reused, ") != std::string::npos ? "resumed" : page.find("New, ") != std::string::npos ? "new" : page;
    }

    QTemporaryDir home;
    TlsFiles tls;
    TestClock clock;
    ClockScope scope{clock};
    Socket auth;
    QProcess centre;
};

TEST_F(TlsLink, AHandshakeThatNeverEndsFailsAtTheTimeOutWithNothingButTheClientHelloSent)
{
    // A card centre that takes the TCP connection and then says nothing.
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost, 0));
    QTcpSocket* line = nullptr;
    QByteArray heard;
    QObject::connect(&mute, &QTcpServer::newConnection, [&] {
        line = mute.nextPendingConnection();
        QObject::connect(line, &QIODevice::readyRead, [&] { heard += line->readAll(); });
    });
    EXPECT_FALSE(test::Finish(Tcp_Connect(auth, "127.0.0.1:" + std::to_string(mute.serverPort()), 20)));
    EXPECT_EQ(auth.state(), kSockClosed);
    EXPECT_EQ(Last().description, Text_Utf8ToCp1252("TLS: kätlus ei lõppenud ettenähtud aja jooksul"));
    EXPECT_EQ(Last().message, Text_Utf8ToCp1252("Ei õnnestu sidekanalit luua"));
    // One TLS record, a handshake message (22) whose length covers all that came.
    ASSERT_GE(heard.size(), 5);
    EXPECT_EQ(heard[0], '\x16');
    EXPECT_EQ(5 + (quint8(heard[3]) << 8 | quint8(heard[4])), heard.size());
}

// Nothing listening is an unreachable card centre, reported as the plain link reports it, not as a
// failed handshake.
TEST_F(TlsLink, AClosedPortIsARefusedConnectionNotAFailedHandshake)
{
    EXPECT_FALSE(test::Finish(Tcp_Connect(auth, "127.0.0.1:" + std::to_string(tollan::test::FreePort()), 5)));
    EXPECT_EQ(Last().description, "TCP timeout");
}

// A key file that others than the terminal's user may open, like a file that cannot be read, fails
// the attempt before any connection is made, the file named in the report.
TEST_F(TlsLink, SettingsThatCannotMakeAConnectionFailTheAttemptBeforeItIsMade)
{
    QTcpServer listening;
    ASSERT_TRUE(listening.listen(QHostAddress::LocalHost, 0));
    const std::string address = "127.0.0.1:" + std::to_string(listening.serverPort());
    tls.Shell("cp client.key open.key && chmod 644 open.key && cp client.key group.key && chmod 640 group.key && "
              "cp client.pem cert-as.key && chmod 600 cert-as.key");
    const auto key = [&](const char* name) { return Text_FromQString(tls.Path(name)); };
    const struct Case {
        const char* what;
        std::string keyFile;
        std::string failure;
    } cases[] = {
        {"a key file anyone may read", key("open.key"),
         "TLS: terminali võtmefail \"" + key("open.key") + "\" on avatud ka teistele kui omanikule (õigused 0644); see peab olema 0600"},
        {"a key file its group may read", key("group.key"),
         "TLS: terminali võtmefail \"" + key("group.key") + "\" on avatud ka teistele kui omanikule (õigused 0640); see peab olema 0600"},
        {"a key file with no key in it", key("cert-as.key"),
         "TLS: terminali võtmefaili \"" + key("cert-as.key") + "\" ei saa lugeda"},
        {"a certificate without its key", "", "TLS: seaded TLS\\CertFile ja TLS\\KeyFile käivad koos"},
    };
    Cfg_Put("TLS\\CertFile", key("client.pem"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Cfg_Put("TLS\\KeyFile", c.keyFile);
        EXPECT_FALSE(test::Finish(Tcp_Connect(auth, address, 5)));
        EXPECT_EQ(Last().description, Text_Utf8ToCp1252(c.failure));
        EXPECT_EQ(Last().message, Text_Utf8ToCp1252("Viga ühenduse loomisel"));
        EXPECT_FALSE(listening.waitForNewConnection(100));
    }
}

// "TLS\Pin" holds what openssl computes from the card centre's certificate, whatever its kind of
// key; a certificate whose key cannot be read has no pin at all, so that no setting matches it.
TEST_F(TlsLink, TheKeyPinIsOpensslsForEveryKindOfKeyAndNoneForAKeyThatCannotBeRead)
{
    tls.Shell("for kind in rsa:2048 ed448; do openssl req -x509 -newkey $kind -nodes -keyout ${kind%:*}.key "
              "-subj /CN=$kind -days 1 -out ${kind%:*}.pem 2>/dev/null; done");
    const auto certificate = [&](const char* name) {
        return QSslCertificate::fromPath(tls.Path(name + QString(".pem"))).value(0);
    };
    for (const char* kind : {"rsa", "centre", "ed25519", "ed448"}) {
        SCOPED_TRACE(kind);
        ASSERT_FALSE(certificate(kind).isNull());
        EXPECT_EQ(Tls_KeyPin(certificate(kind)).toStdString(), tls.Pin(kind).toStdString());
    }
    // The Ed25519 certificate with its key's algorithm made one nobody knows (1.3.101.99).
    QByteArray der = certificate("ed25519").toDer();
    ASSERT_EQ(der.count(QByteArray::fromHex("06032b6570")), 1);
    der.replace(QByteArray::fromHex("06032b6570"), QByteArray::fromHex("06032b6563"));
    const QSslCertificate unknown(der, QSsl::Der);
    ASSERT_FALSE(unknown.isNull());
    EXPECT_EQ(Tls_KeyPin(unknown).toStdString(), "");
    EXPECT_EQ(Tls_KeyPin(QSslCertificate()).toStdString(), "");
}

// Which keys a "TLS\Pin" setting lets through: its own pins alone, any of several, none when no
// entry is a pin; an unset setting pins nothing. Entries that are no pins are reported.
TEST_F(TlsLink, APinSettingPassesItsOwnKeysAloneAndNoKeyWhenNoEntryIsAPin)
{
    const QByteArray centre = tls.Pin("centre").toLatin1(), other = tls.Pin("other").toLatin1();
    const struct Case {
        QString setting;
        bool centrePasses, otherPasses, reported;
    } cases[] = {
        {"", true, true, false},
        {tls.Pin("centre"), true, false, false},
        {tls.Pin("other") + " ; " + tls.Pin("centre") + " ;", true, true, false},
        {"vana-võti;" + tls.Pin("centre").left(40) + ";" + tls.Pin("centre"), true, false, true},
        {"AAAA", false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting.toStdString());
        Cfg_Put("TLS\\Pin", Text_FromQString(c.setting));
        const int reports = Err_Index();
        TlsParams params;
        std::string failure;
        ASSERT_TRUE(Tls_Params("127.0.0.1", 1, params, failure)) << failure;
        EXPECT_EQ(Tls_PinPasses(params, centre), c.centrePasses);
        EXPECT_EQ(Tls_PinPasses(params, other), c.otherPasses);
        EXPECT_EQ(Tls_PinPasses(params, QByteArray()), !params.pinned);   // a key that cannot be read
        EXPECT_EQ(Err_Index() > reports, c.reported);
    }
}

TEST_F(TlsLink, TheNextDialogueResumesTheSessionWhosePinStillMatchesButNoKeptSessionGetsPastAChangedAuthority)
{
    // With a pin, which a resumed session must still be checked against: its certificate is
    // the one of the session it resumes.
    Cfg_Put("TLS\\Pin", tls.Pin("centre").toStdString());
    QFile::copy(tls.Path("ca.pem"), home.filePath("trusted.pem"));
    Cfg_Put("TLS\\CAFile", Text_FromQString(home.filePath("trusted.pem")));
    const std::string address = ResumingCentre();
    EXPECT_EQ(Dialogue(address), "new");
    EXPECT_EQ(Dialogue(address), "resumed");
    EXPECT_EQ(Dialogue(address), "resumed");
    EXPECT_EQ(Err_Index(), 0);
    // The authority file is read again before each dialogue: struck out, only the terminal's own
    // certificate stays trusted.
    QFile::remove(home.filePath("trusted.pem"));
    QFile::copy(tls.Path("client.pem"), home.filePath("trusted.pem"));
    EXPECT_EQ(Dialogue(address), "not connected");
    EXPECT_EQ(Last().description,
              "TLS: The issuer certificate of a locally looked up certificate could not be found");
}

} // namespace
