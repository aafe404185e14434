#include "support/home.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tollan {
namespace {
QString g_home;
}

QString Home_Resolve(const QString& option)
{
    if (!option.isEmpty())
        return QDir(option).absolutePath();
    const QString env = qEnvironmentVariable("TOLLAN_HOME");
    if (!env.isEmpty())
        return QDir(env).absolutePath();
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + "/.local/share";
    return QDir(data).absoluteFilePath("tollan");
}

bool Home_Set(const QString& dir)
{
    g_home = QDir(dir).absolutePath();
    QDir d(g_home);
    if (d.exists())
        return true;
    if (!QDir().mkpath(g_home))
        return false;
    QFile::setPermissions(g_home, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

QString Home_Dir()
{
    if (g_home.isEmpty())
        g_home = Home_Resolve(QString());
    return g_home;
}

QString Home_File(const QString& name) { return QDir(Home_Dir()).filePath(name); }

bool Home_RestrictFile(const QString& path)
{
    QFile f(path);
    if (!f.exists() && !f.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    f.close();
    return f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

bool Home_Lock(QString* holder)
{
    const QByteArray path = QFile::encodeName(Home_File(QStringLiteral("tollan.lock")));
    // Kept open until the process ends, when the kernel lets go of the lock whatever the end;
    // not inherited by the programs the terminal starts (pppd, nmcli).
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (holder) *holder = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[32] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        const QString pid = n > 0 ? QString::fromLatin1(text, int(n)).trimmed() : QString();
        if (holder) *holder = pid.isEmpty() ? QStringLiteral("another process") : QStringLiteral("process ") + pid;
        ::close(fd);
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0)
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
    return true;
}

} // namespace tollan
