#pragma once
// The TCP socket component that the main window owns: the two card-centre sockets, the pool of
// workstation connections and the listener. Its state is one of the codes the links compare
// against (0 closed, 7 connected, 8 closing, 9 error ...); what arrives is kept as bytes, one
// character per byte, until the owner takes it; the peer's close and every failure are events.
// A card-centre socket given TLS parameters connects over TLS: it counts as connected only once
// the handshake has succeeded, so nothing the owner sends can go out before.

#include "links/tls.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QSslSocket;
class QTcpServer;
class QTcpSocket;

namespace tollan {

enum SocketState : int {
    kSockClosed = 0,
    kSockOpen = 1,
    kSockListening = 2,
    kSockConnectionPending = 3,
    kSockResolvingHost = 4,
    kSockHostResolved = 5,
    kSockConnecting = 6,
    kSockConnected = 7,
    kSockClosing = 8,
    kSockError = 9,
};

// A failure of a socket call, with the number and text the socket component reports.
struct SocketFailure {
    std::int32_t number = 0;
    std::string description;
};

class Socket : public QObject {
    Q_OBJECT
public:
    explicit Socket(QObject* parent = nullptr);
    ~Socket() override;

    int state() const { return state_; }
    const std::string& tag() const { return tag_; }
    void setTag(std::string t) { tag_ = std::move(t); }
    std::string& tagRef() { return tag_; }
    // Whether a connect of ours counted this socket in with the dial-up connection: only such a
    // socket is counted out when it closes (a workstation's never was).
    bool dialCounted() const { return dialCounted_; }
    void setDialCounted(bool counted) { dialCounted_ = counted; }
    // The link that Link_Connect reached the card centre over (-1 none yet, 0 TCP, 1 X.25): the
    // dialogue goes on over it to its end, and does not read the setting for every line it sends.
    int linkKind() const { return linkKind_; }
    void setLinkKind(int kind) { linkKind_ = kind; }

    QString remoteHost() const { return remoteHost_; }
    void setRemoteHost(const QString& h) { remoteHost_ = h; }
    std::int32_t remotePort() const { return remotePort_; }
    void setRemotePort(std::int32_t p) { remotePort_ = p; }
    std::int32_t localPort() const { return localPort_; }
    void setLocalPort(std::int32_t p) { localPort_ = p; }

    // TLS for the connections that connectToRemote makes from now on; nothing: plain TCP.
    void setTls(std::optional<TlsParams> tls) { tls_ = std::move(tls); }
    // Why the last TLS connection did not come up, its text beginning "TLS: " (Qt's own words
    // where Qt gave the cause); empty when it came up, or has not failed yet.
    const SocketFailure& tlsFailure() const { return tlsFailure_; }
    // Connected over TCP with the TLS handshake not yet through.
    bool handshaking() const { return secure_ && tcpUp_ && !confirmed_ && tlsFailure_.description.empty(); }

    // Starts connecting to the remote host and port; the progress shows in the state. False with
    // the failure when the call itself cannot start (no host, a port outside 1..65535, not closed).
    bool connectToRemote(SocketFailure* failure = nullptr);
    // Adopts a connection taken from a Listener; the socket is connected at once.
    bool accept(QTcpSocket* connection);
    // Queues bytes for sending; nothing when not connected.
    void sendData(std::string_view bytes);
    // What has arrived and not been taken.
    const std::string& peekData() const { return inbox_; }
    std::size_t bytesWaiting() const { return inbox_.size(); }
    // Takes what has arrived: all of it when `max` is 0, else at most `max` bytes.
    std::string getData(std::size_t max = 0);
    // Closes whatever the state; what was waiting is dropped.
    void close();

signals:
    void connected();
    void dataArrival(int bytesTotal);
    // The peer closed its side; the socket is closing (state 8) until the owner closes it.
    void closed();
    // A failure: the socket is in the error state (9) until the owner closes it. A handler sets
    // *cancelDisplay to keep the component from showing the error itself.
    void error(int number, const QString& description, bool* cancelDisplay);

private:
    void attach(QTcpSocket* s);
    void attachTls(QSslSocket* s);
    void onStateChanged();
    void onReadyRead();
    void onDisconnected();
    void onError();
    void onEncrypted();
    // The TLS connection is up: the state becomes connected and the owner hears of it.
    void confirm();
    // A failed handshake: noted (nothing confirms the connection any more), then told as the
    // socket's error event.
    void failHandshake(std::int32_t number, const QString& cause);
    void noteHandshakeFailure(std::int32_t number, const QString& cause);
    void announceHandshakeFailure();
    QString refusalHint() const;

    QPointer<QTcpSocket> sock_;
    std::optional<TlsParams> tls_;
    SocketFailure tlsFailure_;
    QElapsedTimer handshakeTime_;
    bool secure_ = false;     // the connection is a TLS one
    bool tcpUp_ = false;      // ... and its TCP connection is up
    bool encrypted_ = false;  // ... and our side of the handshake is through
    bool confirmed_ = false;  // ... and the card centre has not refused us
    std::string tag_;
    std::string inbox_;
    QString remoteHost_;
    std::int32_t remotePort_ = 0;
    std::int32_t localPort_ = 0;
    int state_ = kSockClosed;
    bool dialCounted_ = false;
    int linkKind_ = -1;
};

// The listening socket: every incoming connection is offered to the owner as a connection
// request; one that the owner does not take while handling the request is refused.
class Listener : public QObject {
    Q_OBJECT
public:
    explicit Listener(QObject* parent = nullptr);
    ~Listener() override;

    // Listens on `port` (0: the system picks, the same for every address) of each of `addresses`
    // (none: every local address). An address the machine does not have (::1 with IPv6 off) is
    // left out while another listens; any other failure closes them all. False with the failure.
    bool listen(std::int32_t port, SocketFailure* failure = nullptr, const QList<QHostAddress>& addresses = {});
    // The addresses it listens on now.
    QList<QHostAddress> addresses() const;
    std::int32_t localPort() const;
    int state() const;
    void close();
    // Hands over the connection of a request being offered; nullptr for an unknown id.
    QTcpSocket* take(std::int32_t requestId);
    // Where the connection of a request being offered comes from; null for an unknown id.
    QHostAddress peerAddress(std::int32_t requestId) const;

signals:
    void connectionRequest(std::int32_t requestId);
    void error(int number, const QString& description, bool* cancelDisplay);

private:
    void onNewConnection();
    QTcpServer* server(std::size_t index);
    bool listenOnce(std::int32_t port, SocketFailure* failure, const QList<QHostAddress>& addresses);

    std::vector<QTcpServer*> servers_;   // one for each address; those beyond the addresses closed
    std::map<std::int32_t, QPointer<QTcpSocket>> offered_;
    std::int32_t nextId_ = 1;
};

// The socket component's number for a failure (the numbers cash-register integrators know from
// the socket libraries of the old platform: 10061 refused, 10060 timed out, 11001 host not found ...).
std::int32_t Socket_ErrorNumber(int qtSocketError);
// The failure in the operator's language (Estonian) for the socket errors a shop meets; Qt's own
// text for the rest (a TLS handshake's cause among them).
QString Socket_ErrorText(int qtSocketError, const QString& qtText);

} // namespace tollan
