#pragma once
// The certificates a benchmark over TLS needs, made with the openssl command in `dir`: an
// authority (ca.pem) and the card centre's certificate for 127.0.0.1 (centre.pem, centre.key),
// P-256 keys as a card centre of today would have.
#include <QProcess>
#include <QString>

namespace tollan::bench {

inline bool MakeCentreCertificate(const QString& dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start("sh", {"-ec", R"(
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }
key ca
openssl req -x509 -key ca.key -subj "/CN=Tollan bench CA" -days 2 -out ca.pem
key centre
openssl req -new -key centre.key -subj "/CN=centre" -out centre.csr
printf 'subjectAltName=IP:127.0.0.1\n' > centre.ext
openssl x509 -req -in centre.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile centre.ext \
    -out centre.pem 2>/dev/null
)"});
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace tollan::bench
