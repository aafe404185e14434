#pragma once
// Certificates made for a test with the openssl command, in a folder of its own: an authority
// (ca.pem), the card centre's certificate for 127.0.0.1 and localhost (centre), one that expired
// in 2020 (expired), one for another name only, kaardikeskus.example (other), two more for the card
// centre with Ed25519 keys (ed25519, ed25519-other), and the terminal's client certificate
// (client); each NAME.pem with its key NAME.key (mode 0600, as openssl writes keys).
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tollan::test {

struct TlsFiles {
    QTemporaryDir dir;

    // Runs `script` with sh in the folder; its output, or a failure of the test.
    std::string Shell(const QString& script) const
    {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start("sh", {"-ec", script});
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return p.readAllStandardOutput().toStdString();
    }
    void Make()
    {
        ASSERT_TRUE(dir.isValid());
        Shell(R"(
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }
edkey() { openssl genpkey -algorithm ED25519 -out "$1.key"; }
request() { ${2:-key} "$1"; openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr"; }
key ca
openssl req -x509 -key ca.key -subj "/CN=Tollan test CA" -days 30 -out ca.pem
mkdir db && : > db/index.txt && echo 01 > db/serial
cat > ca.cnf <<'END'
[ca]
default_ca = authority
[authority]
database = db/index.txt
new_certs_dir = db
serial = db/serial
default_md = sha256
policy = any
unique_subject = no
default_days = 30
[any]
commonName = supplied
[centre]
subjectAltName = IP:127.0.0.1,DNS:localhost
[other]
subjectAltName = DNS:kaardikeskus.example
[client]
extendedKeyUsage = clientAuth
END
sign() { openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -notext -in "$1.csr" -out "$1.pem" -extensions "$2" 2>/dev/null; }
request centre && sign centre centre
request other && sign other other
request client && sign client client
request ed25519 edkey && sign ed25519 centre
request ed25519-other edkey && sign ed25519-other centre
request expired && openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -notext -in expired.csr \
    -out expired.pem -extensions centre -startdate 20200101000000Z -enddate 20200201000000Z 2>/dev/null
)");
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    // What "TLS\Pin" holds for the key of certificate NAME.pem, as openssl computes it.
    QString Pin(const QString& name) const
    {
        return QString::fromStdString(Shell("openssl x509 -in " + name + ".pem -pubkey -noout | openssl pkey -pubin"
                                            " -outform der | openssl dgst -sha256 -binary | openssl base64 -A"));
    }
    // The card centre's arguments to serve TLS with certificate NAME.
    QStringList CentreArgs(const QString& name) const
    {
        return {"--tls-cert", Path(name + ".pem"), "--tls-key", Path(name + ".key")};
    }
};

} // namespace tollan::test
