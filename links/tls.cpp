#include "links/tls.h"

#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/text.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

#include <openssl/crypto.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <memory>

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

// "TLS\Pin": pins separated by ";", blanks around them ignored. An entry that is not base64 of
// 32 bytes matches nothing and is named in `unreadable`.
QList<QByteArray> pinsOf(const std::string& setting, std::string& unreadable)
{
    QList<QByteArray> pins;
    for (const std::string& raw : Str_Split(setting, ";")) {
        const std::string entry = Str_Trim(raw);
        if (entry.empty())
            continue;
        const auto d = QByteArray::fromBase64Encoding(QByteArray::fromStdString(entry),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (!d || d.decoded.size() != 32)
            unreadable += (unreadable.empty() ? "" : " ") + quoted(entry);
        else
            pins.push_back(d.decoded.toBase64());
    }
    return pins;
}

// Told once for each text of the setting: every dialogue reads it, and the pins that can be read
// still work (the old key's, say, while the new key's was mistyped).
void reportUnreadablePins(const std::string& setting, const std::string& unreadable)
{
    static std::string lastRead;
    if (setting == lastRead)
        return;
    lastRead = setting;
    if (!unreadable.empty())
        Err_Report(0,
                   "TLS: seade TLS\\Pin: " + unreadable +
                       Text_Utf8ToCp1252(" ei ole base64 32 baidist ega sobi ühegi võtmega"),
                   Text_Utf8ToCp1252("Viga ühenduse loomisel"));
}

// The key is the terminal's alone: a key file that others may open is refused before it is read.
// Empty when the file is the owner's only, or cannot be looked at (reading it then tells).
std::string openToOthers(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || (st.st_mode & 077) == 0)
        return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    return mode;
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
        if (const std::string mode = openToOthers(Text_ToQString(keyFile)); !mode.empty()) {
            failure = Text_Utf8ToCp1252("TLS: terminali võtmefail ") + quoted(keyFile) +
                      Text_Utf8ToCp1252(" on avatud ka teistele kui omanikule (õigused ") + mode +
                      Text_Utf8ToCp1252("); see peab olema 0600");
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
    const std::string pin = Str_Trim(Cfg_Get("TLS\\Pin", ""));
    std::string unreadable;
    params.pins = pinsOf(pin, unreadable);
    params.pinned = !pin.empty();
    reportUnreadablePins(pin, unreadable);
    params.config = c;
    params.sessionKey = host + ":" + QString::number(port) + "|" + params.peerName + "|" +
                        QString::fromLatin1(params.pins.join(';')) + "|" + QString::fromLatin1(settings.result().toHex());
    return true;
}

QByteArray Tls_KeyPin(const QSslCertificate& certificate)
{
    // Qt reads RSA, EC and DSA keys only: an Ed25519 one comes back empty, and the hash of nothing
    // would be a pin every such certificate shares. The pin is of the certificate's own
    // SubjectPublicKeyInfo as OpenSSL reads it, whatever the key; a key it cannot read has none.
    const QByteArray der = certificate.toDer();
    auto* p = reinterpret_cast<const unsigned char*>(der.constData());
    const std::unique_ptr<X509, decltype(&X509_free)> x509(d2i_X509(nullptr, &p, long(der.size())), &X509_free);
    if (!x509 || !X509_get0_pubkey(x509.get()))
        return {};
    unsigned char* spki = nullptr;
    const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x509.get()), &spki);
    QByteArray pin;
    if (size > 0)
        pin = QCryptographicHash::hash(QByteArrayView(spki, size), QCryptographicHash::Sha256).toBase64();
    OPENSSL_free(spki);
    return pin;
}

bool Tls_PinPasses(const TlsParams& params, const QByteArray& presented)
{
    return !params.pinned || (!presented.isEmpty() && params.pins.contains(presented));
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
