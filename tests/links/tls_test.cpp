// The TCP link over TLS, below the dialogues: a handshake that never ends, and the session kept
// from one dialogue to the next. What the card centre and the register see of TLS is in
// tests/e2e/tls_e2e_test.cpp.
#include "links/tcp.h"

#include "store/db.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "tests/common/test_home.h"
#include "tests/common/tls_files.h"
#include "tests/peers/peer_process.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;
using tollan::test::TlsFiles;
using tollan::test::UseTestHome;

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
        if (!Tcp_Connect(auth, address, 10))
            return "not connected";
        Tcp_Send(auth, "GET / HTTP/1.0\r\n\r\n");
        Tcp_WaitFor(auth, "*Cipher is*\n", 10);
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
    EXPECT_FALSE(Tcp_Connect(auth, "127.0.0.1:" + std::to_string(mute.serverPort()), 20));
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
    EXPECT_FALSE(Tcp_Connect(auth, "127.0.0.1:" + std::to_string(tollan::test::FreePort()), 5));
    EXPECT_EQ(Last().description, "TCP timeout");
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
