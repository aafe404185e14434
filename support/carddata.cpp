#include "support/carddata.h"

#include "support/errors.h"
#include "support/home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tollan {
namespace {

constexpr std::size_t kKeyBytes = 32;
constexpr int kNonceBytes = 12;
constexpr int kTagBytes = 16;

std::vector<CardKey> g_keys;
std::string g_unusable;

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// AES-256-GCM in one call: the nonce, the cipher text and the tag, or the plain text back; the
// bound text is authenticated with it.
std::optional<std::string> Gcm(bool encrypt, const std::string& key, std::string_view nonce, std::string_view in,
                               std::string_view bound, std::string_view tag = {})
{
    if (key.size() != kKeyBytes || nonce.size() != kNonceBytes)
        return std::nullopt;
    CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    const auto* iv = reinterpret_cast<const unsigned char*>(nonce.data());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, k, iv, encrypt ? 1 : 0) != 1)
        return std::nullopt;
    int n = 0;
    if (!bound.empty() &&
        EVP_CipherUpdate(ctx.get(), nullptr, &n, reinterpret_cast<const unsigned char*>(bound.data()), int(bound.size())) != 1)
        return std::nullopt;
    std::string out(in.size() + kTagBytes, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (!in.empty() &&
        EVP_CipherUpdate(ctx.get(), o, &n, reinterpret_cast<const unsigned char*>(in.data()), int(in.size())) != 1)
        return std::nullopt;
    if (!encrypt) {
        std::string t(tag);
        if (t.size() != kTagBytes || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes, t.data()) != 1)
            return std::nullopt;
    }
    int last = 0;
    if (EVP_CipherFinal_ex(ctx.get(), o + n, &last) != 1)   // a wrong key or a changed byte ends here
        return std::nullopt;
    out.resize(std::size_t(n + last));
    if (encrypt) {
        unsigned char t[kTagBytes];
        if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, t) != 1)
            return std::nullopt;
        out.append(reinterpret_cast<const char*>(t), kTagBytes);
    }
    return out;
}

const CardKey* KeyById(int id)
{
    for (const CardKey& k : g_keys)
        if (k.id == id)
            return &k;
    return nullptr;
}

QString DefaultKeyFile()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + "/.config";
    return QDir(config).absoluteFilePath("tollan/card.key");
}

// Whether `path` lies inside the home folder, where a stolen backup would carry key and data.
bool InsideHome(const QString& path)
{
    const QString home = QFileInfo(Home_Dir()).canonicalFilePath();
    const QString dir = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    return !home.isEmpty() && !dir.isEmpty() && (dir == home || dir.startsWith(home + "/"));
}

} // namespace

CardKeySource CardKey_Source(const QString& option)
{
    if (!option.isEmpty())
        return {QFileInfo(option).absoluteFilePath(), true, QStringLiteral("--card-key")};
    const QString credentials = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (!credentials.isEmpty() && QFile::exists(QDir(credentials).filePath("card-key")))
        return {QDir(credentials).filePath("card-key"), false, QStringLiteral("the service's credential card-key")};
    return {DefaultKeyFile(), true, QStringLiteral("the default key file")};
}

std::string CardKey_Format(const std::vector<CardKey>& keys)
{
    std::string text =
        "# Tollan terminal: the keys of the card numbers kept until their transaction file is accepted.\n"
        "# The last key encrypts; the others are kept while rows need them. Back this file up apart\n"
        "# from the database: without it the numbers kept under it cannot be sent.\n";
    for (const CardKey& k : keys)
        text += std::to_string(k.id) + " " +
                QByteArray::fromStdString(k.key).toBase64().toStdString() + "\n";
    return text;
}

std::optional<std::vector<CardKey>> CardKey_Parse(std::string_view text, std::string& why)
{
    std::vector<CardKey> keys;
    int number = 0;
    for (const QByteArray& raw : QByteArray(text.data(), qsizetype(text.size())).split('\n')) {
        ++number;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> parts = line.simplified().split(' ');
        bool ok = false;
        const int id = parts.value(0).toInt(&ok);
        const QByteArray key = QByteArray::fromBase64(parts.value(1), QByteArray::AbortOnBase64DecodingErrors);
        if (parts.size() != 2 || !ok || id <= 0 || key.size() != qsizetype(kKeyBytes)) {
            why = "line " + std::to_string(number) + " is not \"<id> <base64 of 32 bytes>\"";
            return std::nullopt;
        }
        for (const CardKey& k : keys)
            if (k.id == id) {
                why = "key " + std::to_string(id) + " twice";
                return std::nullopt;
            }
        keys.push_back({id, key.toStdString()});
    }
    if (keys.empty()) {
        why = "no key in it";
        return std::nullopt;
    }
    return keys;
}

bool CardKey_Save(const QString& path, const std::vector<CardKey>& keys, std::string& why)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        why = "cannot make " + dir.toStdString();
        return false;
    }
    QByteArray temp = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);   // mode 0600
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    const std::string text = CardKey_Format(keys);
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        why = std::strerror(errno);
        ::unlink(temp.constData());
        return false;
    }
    if (const int d = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    return true;
}

CardKey CardKey_New(const std::vector<CardKey>& keys)
{
    CardKey k;
    for (const CardKey& old : keys)
        k.id = std::max(k.id, old.id);
    ++k.id;
    k.key.resize(kKeyBytes);
    RAND_bytes(reinterpret_cast<unsigned char*>(k.key.data()), int(kKeyBytes));
    return k;
}

bool CardKey_Open(const CardKeySource& source, bool mayCreate, bool* created, std::string& why)
{
    if (created)
        *created = false;
    CardKey_Use({});
    const std::string where = source.what.toStdString() + " " + source.path.toStdString();
    if (InsideHome(source.path)) {
        why = where + " lies in the home folder beside the card data it protects";
        return false;
    }
    QFile file(source.path);
    if (!file.exists()) {
        if (!mayCreate || !source.writable) {
            why = where + " is missing";
            return false;
        }
        const std::vector<CardKey> fresh{CardKey_New({})};
        if (!CardKey_Save(source.path, fresh, why)) {
            why = "cannot create " + where + ": " + why;
            return false;
        }
        CardKey_Use(fresh);
        if (created)
            *created = true;
        return true;
    }
    struct stat st {};
    if (source.writable && ::stat(QFile::encodeName(source.path).constData(), &st) == 0 && (st.st_mode & 077) != 0) {
        why = where + " can be read by others (mode " + QString::number(st.st_mode & 0777, 8).toStdString() +
              "); chmod 600 it";
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        why = "cannot read " + where + ": " + file.errorString().toStdString();
        return false;
    }
    const QByteArray text = file.readAll();
    const auto keys = CardKey_Parse(std::string_view(text.constData(), std::size_t(text.size())), why);
    if (!keys) {
        why = where + ": " + why;
        return false;
    }
    CardKey_Use(*keys);
    return true;
}

void CardKey_Use(std::vector<CardKey> keys)
{
    g_keys = std::move(keys);
    g_unusable.clear();
}

const std::vector<CardKey>& CardKey_Keys() { return g_keys; }

void CardKey_SetUnusable(std::string why) { g_unusable = std::move(why); }

void CardKey_Report(const std::string& why)
{
    static std::string told;
    if (why == told)
        return;
    told = why;
    Err_Report(0, why, "Kaardiandmete v\xF5ti puudub", 16);
}

bool CardKey_Usable(std::string* why)
{
    if (why)
        *why = g_keys.empty() ? (g_unusable.empty() ? std::string("no key") : g_unusable) : g_unusable;
    return !g_keys.empty() && g_unusable.empty();
}

std::optional<SealedPan> Card_SealWith(const CardKey& key, std::string_view pan, std::string_view bound)
{
    std::string nonce(kNonceBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(nonce.data()), kNonceBytes) != 1)
        return std::nullopt;
    const auto sealed = Gcm(true, key.key, nonce, pan, bound);
    if (!sealed)
        return std::nullopt;
    return SealedPan{QByteArray::fromStdString(nonce + *sealed).toBase64().toStdString(), key.id};
}

std::optional<std::string> Card_OpenWith(const CardKey& key, std::string_view blob, std::string_view bound)
{
    const QByteArray raw = QByteArray::fromBase64(QByteArray(blob.data(), qsizetype(blob.size())),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (raw.size() < kNonceBytes + kTagBytes)
        return std::nullopt;
    const std::string all = raw.toStdString();
    return Gcm(false, key.key, std::string_view(all).substr(0, kNonceBytes),
               std::string_view(all).substr(kNonceBytes, all.size() - kNonceBytes - kTagBytes), bound,
               std::string_view(all).substr(all.size() - kTagBytes));
}

std::optional<SealedPan> Card_Seal(std::string_view pan, std::string_view bound)
{
    if (g_keys.empty())
        return std::nullopt;
    return Card_SealWith(g_keys.back(), pan, bound);
}

std::optional<std::string> Card_Open(std::string_view blob, int keyId, std::string_view bound)
{
    const CardKey* key = KeyById(keyId);
    return key ? Card_OpenWith(*key, blob, bound) : std::nullopt;
}

} // namespace tollan
