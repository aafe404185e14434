#include "links/socket.h"

#include "support/wait.h"

#include "support/codepage.h"
#include "support/msgbox.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace tollan {
namespace {

int stateCode(QAbstractSocket::SocketState s)
{
    switch (s) {
    case QAbstractSocket::UnconnectedState: return kSockClosed;
    case QAbstractSocket::HostLookupState: return kSockResolvingHost;
    case QAbstractSocket::ConnectingState: return kSockConnecting;
    case QAbstractSocket::ConnectedState: return kSockConnected;
    case QAbstractSocket::BoundState: return kSockOpen;
    case QAbstractSocket::ListeningState: return kSockListening;
    case QAbstractSocket::ClosingState: return kSockClosing;
    }
    return kSockError;
}

// The component shows a failure itself unless its owner's handler cancelled the display.
void showUnlessCancelled(bool cancel, int number, const QString& description)
{
    if (!cancel)
        Msg_Box(std::to_string(number) + " - " + Text_FromQString(description), 16);
}

// A socket that is being closed gets time to hand its last bytes over, then goes.
void retire(QTcpSocket* s)
{
    s->disconnect();
    // It finishes sending what is queued on its own: the Socket that had it may go first (a
    // dialogue's socket goes with the dialogue).
    s->setParent(nullptr);
    if (s->state() == QAbstractSocket::UnconnectedState) {
        s->deleteLater();
        return;
    }
    QObject::connect(s, &QAbstractSocket::disconnected, s, &QObject::deleteLater);
    s->disconnectFromHost();
    if (s->state() != QAbstractSocket::UnconnectedState)
        QTimer::singleShot(30000, s, [s] { s->abort(); s->deleteLater(); });
    else
        s->deleteLater();
}

// Failures of TLS itself, which may come before the TCP connection is up (no TLS library).
bool isTlsError(QAbstractSocket::SocketError e)
{
    return e == QAbstractSocket::SslHandshakeFailedError || e == QAbstractSocket::SslInternalError ||
           e == QAbstractSocket::SslInvalidUserDataError;
}

// The least time a TLS 1.3 card centre that sends nothing after the handshake is given to refuse
// our certificate.
constexpr qint64 kMinRefusalWaitMs = 50;

} // namespace

std::int32_t Socket_ErrorNumber(int e)
{
    switch (static_cast<QAbstractSocket::SocketError>(e)) {
    case QAbstractSocket::ConnectionRefusedError: return 10061;
    case QAbstractSocket::RemoteHostClosedError: return 10054;
    case QAbstractSocket::HostNotFoundError: return 11001;
    case QAbstractSocket::SocketAccessError: return 10013;
    case QAbstractSocket::SocketResourceError: return 10055;
    case QAbstractSocket::SocketTimeoutError: return 10060;
    case QAbstractSocket::DatagramTooLargeError: return 10040;
    case QAbstractSocket::NetworkError: return 10050;
    case QAbstractSocket::AddressInUseError: return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError: return 10045;
    case QAbstractSocket::UnfinishedSocketOperationError: return 10036;
    default: return 10000;  // any other failure of the network layer
    }
}

QString Socket_ErrorText(int e, const QString& qtText)
{
    // The operator's window and tollan.err are in Estonian; Qt's own words stay only for the TLS
    // causes (a certificate's fault), which name what no short text can.
    switch (static_cast<QAbstractSocket::SocketError>(e)) {
    case QAbstractSocket::ConnectionRefusedError: return QString::fromUtf8("ühendusest keelduti");
    case QAbstractSocket::RemoteHostClosedError: return QString::fromUtf8("teine pool sulges ühenduse");
    case QAbstractSocket::HostNotFoundError: return QString::fromUtf8("hosti ei leitud");
    case QAbstractSocket::SocketAccessError: return QString::fromUtf8("selleks puuduvad õigused");
    case QAbstractSocket::SocketResourceError: return QString::fromUtf8("süsteemil pole vahendeid (liiga palju ühendusi?)");
    case QAbstractSocket::SocketTimeoutError: return QString::fromUtf8("aeg sai läbi");
    case QAbstractSocket::NetworkError: return QString::fromUtf8("võrgu viga");
    case QAbstractSocket::AddressInUseError: return QString::fromUtf8("aadress on juba kasutusel");
    case QAbstractSocket::SocketAddressNotAvailableError: return QString::fromUtf8("aadress ei ole selle masina oma");
    default: return qtText;
    }
}

Socket::Socket(QObject* parent) : QObject(parent) {}

Socket::~Socket()
{
    if (sock_)
        sock_->disconnect(this);
}

void Socket::attach(QTcpSocket* s)
{
    sock_ = s;
    // Our packets are small and come in runs (an information message and then the prompt, the
    // progress messages of a dialogue): with Nagle's rule the second waits for the peer's delayed
    // acknowledgement of the first, some 40 ms each time. The option takes once the socket exists.
    auto noDelay = [s] { s->setSocketOption(QAbstractSocket::LowDelayOption, 1); };
    if (s->state() == QAbstractSocket::ConnectedState)
        noDelay();
    connect(s, &QAbstractSocket::connected, s, noDelay);
    connect(s, &QAbstractSocket::stateChanged, this, &Socket::onStateChanged);
    connect(s, &QIODevice::readyRead, this, &Socket::onReadyRead);
    connect(s, &QAbstractSocket::disconnected, this, &Socket::onDisconnected);
    connect(s, &QAbstractSocket::errorOccurred, this, &Socket::onError);
    if (!secure_)
        connect(s, &QAbstractSocket::connected, this, &Socket::connected);
    // Whatever happens on the line, the requests that wait on it look again.
    connect(s, &QAbstractSocket::stateChanged, this, [] { Wait_Notify(); });
    connect(s, &QIODevice::readyRead, this, [] { Wait_Notify(); });
    connect(s, &QAbstractSocket::errorOccurred, this, [] { Wait_Notify(); });
}

void Socket::attachTls(QSslSocket* s)
{
    connect(s, &QAbstractSocket::connected, this, [this] {
        tcpUp_ = true;
        handshakeTime_.start();
    });
    connect(s, &QSslSocket::encrypted, this, &Socket::onEncrypted);
    connect(s, &QSslSocket::encrypted, this, [] { Wait_Notify(); });
    const QString key = tls_->sessionKey;
    connect(s, &QSslSocket::newSessionTicketReceived, this, [this, s, key] {
        if (sock_ != s)
            return;
        Tls_KeepSession(key, s->sslConfiguration().sessionTicket());
        if (encrypted_ && !confirmed_ && tlsFailure_.description.empty())
            confirm();
    });
}

bool Socket::connectToRemote(SocketFailure* failure)
{
    auto fail = [&](std::int32_t number, std::string text) {
        if (failure)
            *failure = {number, std::move(text)};
        return false;
    };
    if (state_ != kSockClosed)
        return fail(10056, "the socket is not closed (state " + std::to_string(state_) + ")");
    if (remoteHost_.trimmed().isEmpty())
        return fail(10049, "no remote host");
    if (remotePort_ < 1 || remotePort_ > 65535)
        return fail(10049, "remote port " + std::to_string(remotePort_) + " is outside 1..65535");
    QSslSocket* secure = nullptr;
    QTcpSocket* s = nullptr;
    if (tls_) {
        QSslConfiguration c = tls_->config;
        const QByteArray kept = Tls_KeptSession(tls_->sessionKey);
        if (!kept.isEmpty())
            c.setSessionTicket(kept);
        s = secure = new QSslSocket(this);
        secure->setSslConfiguration(c);
    } else {
        s = new QTcpSocket(this);
    }
    if (localPort_ != 0 && !s->bind(QHostAddress::Any, quint16(localPort_))) {
        SocketFailure f{Socket_ErrorNumber(s->error()), Text_FromQString(Socket_ErrorText(s->error(), s->errorString()))};
        delete s;
        return fail(f.number, f.description);
    }
    inbox_.clear();
    secure_ = secure != nullptr;
    tcpUp_ = encrypted_ = confirmed_ = false;
    tlsFailure_ = {};
    attach(s);
    state_ = kSockResolvingHost;
    if (secure) {
        attachTls(secure);
        secure->connectToHostEncrypted(remoteHost_, quint16(remotePort_), tls_->peerName);
    } else {
        s->connectToHost(remoteHost_, quint16(remotePort_));
    }
    return true;
}

bool Socket::accept(QTcpSocket* connection)
{
    if (!connection || state_ != kSockClosed)
        return false;
    connection->setParent(this);
    inbox_.clear();
    secure_ = false;
    attach(connection);
    remoteHost_ = connection->peerAddress().toString();
    remotePort_ = connection->peerPort();
    localPort_ = connection->localPort();
    state_ = connection->state() == QAbstractSocket::ConnectedState ? kSockConnected : kSockClosing;
    // Bytes may have come with the connection itself; they arrive as an event like any others.
    if (connection->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &Socket::onReadyRead, Qt::QueuedConnection);
    return true;
}

void Socket::sendData(std::string_view bytes)
{
    if (sock_ && state_ == kSockConnected && !bytes.empty())
        sock_->write(bytes.data(), qint64(bytes.size()));
}

std::string Socket::getData(std::size_t max)
{
    if (max == 0 || max >= inbox_.size())
        return std::exchange(inbox_, {});
    std::string taken = inbox_.substr(0, max);
    inbox_.erase(0, max);
    return taken;
}

void Socket::close()
{
    if (sock_) {
        QTcpSocket* s = sock_;
        sock_ = nullptr;
        retire(s);
    }
    inbox_.clear();
    tcpUp_ = encrypted_ = confirmed_ = false;
    state_ = kSockClosed;
    Wait_Notify();
}

void Socket::onStateChanged()
{
    if (!sock_)
        return;
    int code = stateCode(sock_->state());
    // Over TLS the TCP connection alone is not yet the card centre's.
    if (secure_ && !confirmed_ && code == kSockConnected)
        code = kSockConnecting;
    // The error and the peer's close stay visible until the owner closes the socket.
    if ((state_ == kSockError || state_ == kSockClosing) && code != kSockConnected)
        return;
    state_ = code;
}

void Socket::onReadyRead()
{
    if (!sock_)
        return;
    // The card centre that speaks first has taken us.
    if (secure_ && encrypted_ && !confirmed_ && tlsFailure_.description.empty())
        confirm();
    QByteArray got = sock_->readAll();
    if (got.isEmpty())
        return;
    inbox_.append(got.constData(), std::size_t(got.size()));
    emit dataArrival(int(std::min<std::size_t>(inbox_.size(), INT32_MAX)));
}

void Socket::onDisconnected()
{
    if (!sock_)
        return;
    if (secure_ && tcpUp_ && !confirmed_) {
        if (tlsFailure_.description.empty() && state_ != kSockError)
            failHandshake(Socket_ErrorNumber(QAbstractSocket::RemoteHostClosedError),
                          Socket_ErrorText(QAbstractSocket::RemoteHostClosedError, sock_->errorString()) + refusalHint());
        return;
    }
    onReadyRead();  // what came just before the close is still the peer's data
    if (!sock_ || state_ == kSockError)  // the owner may have closed us on that data
        return;
    state_ = kSockClosing;
    emit closed();
}

void Socket::onError()
{
    if (!sock_)
        return;
    // Whatever goes wrong between the TCP connection and the end of the handshake is the
    // handshake's failure: Qt's words name the cause (an expired certificate, a wrong name, a
    // card centre that closed on us because we had no certificate for it).
    if (secure_ && !confirmed_ && (tcpUp_ || isTlsError(sock_->error()))) {
        if (tlsFailure_.description.empty())
            failHandshake(Socket_ErrorNumber(sock_->error()), Socket_ErrorText(sock_->error(), sock_->errorString()) + refusalHint());
        return;
    }
    // The peer's close is the close event, not a failure.
    if (sock_->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    state_ = kSockError;
    int number = Socket_ErrorNumber(sock_->error());
    QString text = Socket_ErrorText(sock_->error(), sock_->errorString());
    bool cancel = false;
    emit error(number, text, &cancel);
    showUnlessCancelled(cancel, number, text);
}

void Socket::onEncrypted()
{
    auto* s = qobject_cast<QSslSocket*>(sock_.data());
    if (!s || !tls_)
        return;
    encrypted_ = true;
    const QByteArray presented = tls_->pinned ? Tls_KeyPin(s->peerCertificate()) : QByteArray();
    if (!Tls_PinPasses(*tls_, presented)) {
        // Refused at once, so that nothing (a session ticket, data) can confirm the connection;
        // told from the event loop rather than inside Qt's own handling of the handshake.
        noteHandshakeFailure(Socket_ErrorNumber(QAbstractSocket::SslHandshakeFailedError),
                             presented.isEmpty()
                                 ? QString::fromUtf8("kaardikeskuse sertifikaadi võtit ei saa seadega TLS\\Pin võrrelda")
                                 : QString::fromUtf8("kaardikeskuse võtme räsi %1 ei vasta seadele TLS\\Pin")
                                       .arg(QString::fromLatin1(presented)));
        QMetaObject::invokeMethod(
            this,
            [this, s = QPointer<QSslSocket>(s)] {
                if (!s || sock_ != s)
                    return;
                announceHandshakeFailure();
                if (s)  // not a byte more, not even the polite close
                    s->abort();
            },
            Qt::QueuedConnection);
        return;
    }
    if (s->sessionProtocol() != QSsl::TlsV1_3) {
        confirm();
        return;
    }
    // In TLS 1.3 our side is through before the card centre has judged our certificate: its
    // refusal comes a round trip later. Its first word after the handshake (a session ticket,
    // or data) says it has taken us; one that sends nothing has had twice as long as the
    // handshake took to refuse.
    const qint64 waitMs = std::max(kMinRefusalWaitMs, 2 * handshakeTime_.elapsed());
    QTimer::singleShot(waitMs, s, [this, s] {
        if (sock_ == s && !confirmed_ && tlsFailure_.description.empty())
            confirm();
    });
}

QString Socket::refusalHint() const
{
    // A card centre that hangs up once our side of the handshake is through has, in all
    // likelihood, refused our certificate or the lack of one.
    return encrypted_ ? QString::fromUtf8(" (kohe pärast kätlust: kas kaardikeskus nõuab terminali sertifikaati?)")
                      : QString();
}

void Socket::confirm()
{
    confirmed_ = true;
    if (!sock_ || state_ == kSockError || state_ == kSockClosing)
        return;
    state_ = kSockConnected;
    Wait_Notify();
    emit connected();
}

void Socket::failHandshake(std::int32_t number, const QString& cause)
{
    noteHandshakeFailure(number, cause);
    announceHandshakeFailure();
}

void Socket::noteHandshakeFailure(std::int32_t number, const QString& cause)
{
    tlsFailure_ = {number, Text_FromQString(QStringLiteral("TLS: ") + cause)};
    if (tls_)
        Tls_ForgetSession(tls_->sessionKey);
    state_ = kSockError;
    Wait_Notify();
}

void Socket::announceHandshakeFailure()
{
    const QString text = Text_ToQString(tlsFailure_.description);
    bool cancel = false;
    emit error(tlsFailure_.number, text, &cancel);
    showUnlessCancelled(cancel, tlsFailure_.number, text);
}

Listener::Listener(QObject* parent) : QObject(parent) {}

Listener::~Listener() = default;

QTcpServer* Listener::server(std::size_t index)
{
    while (servers_.size() <= index) {
        auto* server = new QTcpServer(this);
        connect(server, &QTcpServer::newConnection, this, &Listener::onNewConnection);
        connect(server, &QTcpServer::acceptError, this, [this, server](QAbstractSocket::SocketError e) {
            int number = Socket_ErrorNumber(e);
            QString text = Socket_ErrorText(e, server->errorString());
            bool cancel = false;
            emit error(number, text, &cancel);
            showUnlessCancelled(cancel, number, text);
        });
        servers_.push_back(server);
    }
    return servers_[index];
}

bool Listener::listen(std::int32_t port, SocketFailure* failure, const QList<QHostAddress>& addresses)
{
    if (port < 0 || port > 65535) {
        if (failure)
            *failure = {10049, "port " + std::to_string(port) + " is outside 0..65535"};
        return false;
    }
    // A port the system picked on the first address may be taken on the next: pick again.
    for (int attempt = 0; attempt < (port == 0 && addresses.size() > 1 ? 5 : 1); ++attempt)
        if (listenOnce(port, failure, addresses))
            return true;
    return false;
}

bool Listener::listenOnce(std::int32_t port, SocketFailure* failure, const QList<QHostAddress>& addresses)
{
    close();
    const QList<QHostAddress> wanted = addresses.isEmpty() ? QList<QHostAddress>{QHostAddress(QHostAddress::Any)} : addresses;
    SocketFailure missing;
    std::size_t used = 0;
    for (const QHostAddress& address : wanted) {
        QTcpServer* s = server(used);
        const quint16 at = used > 0 ? quint16(localPort()) : quint16(port);
        if (s->listen(address, at)) {
            ++used;
            continue;
        }
        const SocketFailure f{Socket_ErrorNumber(s->serverError()),
                              Text_FromQString(Socket_ErrorText(s->serverError(), s->errorString()) + " (" + address.toString() + ")")};
        if (s->serverError() == QAbstractSocket::SocketAddressNotAvailableError) {
            missing = f;
            continue;
        }
        close();
        if (failure)
            *failure = f;
        return false;
    }
    if (used == 0 && failure)
        *failure = missing;
    return used > 0;
}

QList<QHostAddress> Listener::addresses() const
{
    QList<QHostAddress> at;
    for (const QTcpServer* s : servers_)
        if (s->isListening())
            at << s->serverAddress();
    return at;
}

std::int32_t Listener::localPort() const
{
    for (const QTcpServer* s : servers_)
        if (s->isListening())
            return s->serverPort();
    return 0;
}

int Listener::state() const { return addresses().isEmpty() ? kSockClosed : kSockListening; }

void Listener::close()
{
    for (QTcpServer* s : servers_)
        s->close();
}

QTcpSocket* Listener::take(std::int32_t requestId)
{
    auto it = offered_.find(requestId);
    if (it == offered_.end())
        return nullptr;
    QTcpSocket* s = it->second;
    offered_.erase(it);
    return s;
}

QHostAddress Listener::peerAddress(std::int32_t requestId) const
{
    const auto it = offered_.find(requestId);
    return it != offered_.end() && it->second ? it->second->peerAddress() : QHostAddress();
}

void Listener::onNewConnection()
{
    for (std::size_t i = 0; i < servers_.size(); ++i) {
        while (servers_[i]->hasPendingConnections()) {
            QTcpSocket* s = servers_[i]->nextPendingConnection();
            std::int32_t id = nextId_++;
            if (nextId_ <= 0)
                nextId_ = 1;
            offered_[id] = s;
            emit connectionRequest(id);
            // Not taken: the workstation is turned away at once rather than left hanging.
            auto it = offered_.find(id);
            if (it != offered_.end()) {
                if (it->second) {
                    it->second->abort();
                    it->second->deleteLater();
                }
                offered_.erase(it);
            }
        }
    }
}

} // namespace tollan
