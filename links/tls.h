#pragma once
// TLS to the card centre: what the "TLS\..." settings ask of a connection, read each time one is
// made, and the sessions kept between dialogues. A dialogue is one connection, so every
// authorisation would otherwise pay for a whole handshake; a kept session lets the next
// handshake to the same card centre resume.

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>

#include <string>

class QSslCertificate;

namespace tollan {

struct TlsParams {
    QSslConfiguration config;  // TLS 1.2 or newer, the peer verified against the trust anchors
    QString peerName;          // the name the card centre's certificate must carry
    QByteArray pin;            // "TLS\Pin": base64 of the SHA-256 of its public key; empty: none
    QString sessionKey;        // the card centre and the settings a kept session belongs to
};

// Whether "UseTLS" asks for TLS to the card centre.
bool Tls_InUse();
// The settings for a connection to `host`:`port`; false with the failure ("TLS: ...") when a
// file they name cannot be read. The key's contents go nowhere but into the configuration.
bool Tls_Params(const QString& host, int port, TlsParams& params, std::string& failure);
// The form "TLS\Pin" takes: base64 of the SHA-256 of the DER SubjectPublicKeyInfo.
QByteArray Tls_KeyPin(const QSslCertificate& certificate);

// The session last kept for a key (empty: none), keeping a newer one, forgetting it.
QByteArray Tls_KeptSession(const QString& key);
void Tls_KeepSession(const QString& key, const QByteArray& session);
void Tls_ForgetSession(const QString& key);

} // namespace tollan
