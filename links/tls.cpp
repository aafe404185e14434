#include "links/tls.h"

#include "support/codepage.h"
#include "support/config.h"
#include "support/text.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

#include <map>

namespace tollan {
namespace {

std::map<QString, QByteArray>& keptSessions()
{
    static std::map<QString, QByteArray> sessions;
    return sessions;
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// The certificates of a file, parsed again only when the file has changed: decoding them is
// most of what a connection's set-up costs the terminal (OpenSSL 3 decodes keys slowly), and
// every dialogue is a connection of its own.
QList<QSslCertificate> certificatesOf(const QString& path)
{
    struct Parsed {
        QDateTime modified;
        qint64 size = -1;
        QList<QSslCertificate> certificates;
    };
    static std::map<QString, Parsed> parsed;
    const QFileInfo file(path);
    Parsed& p = parsed[path];
    if (!file.exists()) {
        p = {};
        return {};
    }
    if (p.size != file.size() || p.modified != file.lastModified())
        p = {file.lastModified(), file.size(), QSslCertificate::fromPath(path)};
    return p.certificates;
}

// The key is read by the terminal's own user, as every file of its home; its bytes are wiped once
// the configuration holds the key, and no report ever quotes them.
QSslKey readKey(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray pem = f.readAll();
    QSslKey key;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    pem.fill('\0');
    return key;
}

} // namespace

bool Tls_InUse() { return Num_Value(Cfg_Get("UseTLS", "0")) != 0; }

bool Tls_Params(const QString& host, int port, TlsParams& params, std::string& failure)
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setProtocol(QSsl::TlsV1_2OrLater);
    c.setPeerVerifyMode(QSslSocket::VerifyPeer);
    // Qt keeps no session unless asked; a kept one is what lets the next handshake resume.
    c.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);

    // A kept session skips the certificate check, so it belongs to the trust and identity it was
    // made with: a changed file or setting starts afresh.
    QCryptographicHash settings(QCryptographicHash::Sha256);
    const std::string caFile = Cfg_Get("TLS\\CAFile", "");
    if (!caFile.empty()) {
        const QList<QSslCertificate> anchors = certificatesOf(Text_ToQString(caFile));
        if (anchors.isEmpty()) {
            failure = Text_Utf8ToCp1252("TLS: usaldatavate sertifikaatide faili ") + quoted(caFile) +
                      Text_Utf8ToCp1252(" ei saa lugeda");
            return false;
        }
        c.setCaCertificates(anchors);
        for (const QSslCertificate& a : anchors)
            settings.addData(a.toDer());
    }
    const std::string certFile = Cfg_Get("TLS\\CertFile", "");
    const std::string keyFile = Cfg_Get("TLS\\KeyFile", "");
    if (certFile.empty() != keyFile.empty()) {
        failure = Text_Utf8ToCp1252("TLS: seaded TLS\\CertFile ja TLS\\KeyFile käivad koos");
        return false;
    }
    if (!certFile.empty()) {
        const QList<QSslCertificate> chain = certificatesOf(Text_ToQString(certFile));
        if (chain.isEmpty()) {
            failure = Text_Utf8ToCp1252("TLS: terminali sertifikaadi faili ") + quoted(certFile) +
                      Text_Utf8ToCp1252(" ei saa lugeda");
            return false;
        }
        const QSslKey key = readKey(Text_ToQString(keyFile));
        if (key.isNull()) {
            failure = Text_Utf8ToCp1252("TLS: terminali võtmefaili ") + quoted(keyFile) +
                      Text_Utf8ToCp1252(" ei saa lugeda");
            return false;
        }
        c.setLocalCertificateChain(chain);
        c.setPrivateKey(key);
        settings.addData(chain.first().toDer());
    }
    const std::string name = Str_Trim(Cfg_Get("TLS\\PeerName", ""));
    params.peerName = name.empty() ? host : Text_ToQString(name);
    params.pin = QByteArray::fromStdString(Str_Trim(Cfg_Get("TLS\\Pin", "")));
    params.config = c;
    params.sessionKey = host + ":" + QString::number(port) + "|" + params.peerName + "|" +
                        QString::fromLatin1(params.pin) + "|" + QString::fromLatin1(settings.result().toHex());
    return true;
}

QByteArray Tls_KeyPin(const QSslCertificate& certificate)
{
    return QCryptographicHash::hash(certificate.publicKey().toDer(), QCryptographicHash::Sha256).toBase64();
}

QByteArray Tls_KeptSession(const QString& key)
{
    const auto it = keptSessions().find(key);
    return it == keptSessions().end() ? QByteArray() : it->second;
}

void Tls_KeepSession(const QString& key, const QByteArray& session)
{
    if (!session.isEmpty())
        keptSessions()[key] = session;
}

void Tls_ForgetSession(const QString& key) { keptSessions().erase(key); }

} // namespace tollan
