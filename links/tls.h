#pragma once
// TLS to the card centre: what the "TLS\..." settings ask of a connection, read each time one is
// made, and the sessions kept between dialogues. A dialogue is one connection, so every
// authorisation would otherwise pay for a whole handshake; a kept session lets the next
// handshake to the same card centre resume.

#include <QByteArray>
#include <QList>
#include <QSslConfiguration>
#include <QString>

#include <string>

class QSslCertificate;

namespace tollan {

struct TlsParams {
    QSslConfiguration config;  // TLS 1.2 or newer, the peer verified against the trust anchors
    QString peerName;          // the name the card centre's certificate must carry
    // "TLS\Pin": the pins the card centre's key may have (base64 of the SHA-256 of its
    // SubjectPublicKeyInfo), several while it changes keys. A setting of entries that are no pins
    // leaves the list empty and still pinned: then no key passes.
    QList<QByteArray> pins;
    bool pinned = false;       // "TLS\Pin" is set
    QString sessionKey;        // the card centre and the settings a kept session belongs to
};

// Whether "UseTLS" asks for TLS to the card centre.
bool Tls_InUse();
// The settings for a connection to `host`:`port`; false with the failure ("TLS: ...") when a
// file they name cannot be read, or the key file is open to its group or others (mode & 077).
// The key's contents go nowhere but into the configuration. An entry of "TLS\Pin" that is no pin
// is reported, once for each text of the setting.
bool Tls_Params(const QString& host, int port, TlsParams& params, std::string& failure);
// The form "TLS\Pin" takes: base64 of the SHA-256 of the DER SubjectPublicKeyInfo, whatever the
// kind of key; empty when the certificate's key cannot be read.
QByteArray Tls_KeyPin(const QSslCertificate& certificate);
// Whether a key of pin `presented` (Tls_KeyPin's) passes the pins of `params`.
bool Tls_PinPasses(const TlsParams& params, const QByteArray& presented);

// The session last kept for a key (empty: none), keeping a newer one, forgetting it.
QByteArray Tls_KeptSession(const QString& key);
void Tls_KeepSession(const QString& key, const QByteArray& session);
void Tls_ForgetSession(const QString& key);

} // namespace tollan
