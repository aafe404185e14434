#include "support/home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tollan {
namespace {
QString g_home;

// Root made `path` just now: it becomes its folder owner's (unless root owns that too).
void HandToFolderOwner(const QByteArray& path)
{
    if (::geteuid() != 0) return;
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(path)).absolutePath());
    struct stat owner {};
    if (::stat(folder.constData(), &owner) == 0 && (owner.st_uid != 0 || owner.st_gid != 0))
        [[maybe_unused]] const int chowned = ::chown(path.constData(), owner.st_uid, owner.st_gid);
}

// An existing file or folder narrowed to `mode`; true when it already was.
bool Narrow(const QByteArray& path, mode_t mode)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) return false;
    return (st.st_mode & 07777) == mode || ::chmod(path.constData(), mode) == 0;
}

} // namespace

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
    // A folder that is there keeps its mode: the service's is systemd's to set.
    return QDir(g_home).exists() || Home_RestrictFolder(g_home);
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
    const QByteArray p = QFile::encodeName(path);
    // Created with the mode in the call, so no umask ever lets another user read it.
    const int fd = ::open(p.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0)
        return errno == EEXIST && Narrow(p, 0600);
    ::close(fd);
    HandToFolderOwner(p);
    return Narrow(p, 0600);
}

bool Home_RestrictFolder(const QString& path)
{
    const QByteArray p = QFile::encodeName(QDir(path).absolutePath());
    const QString parent = QFileInfo(QDir(path).absolutePath()).absolutePath();
    if (!QDir().mkpath(parent))
        return false;
    if (::mkdir(p.constData(), 0700) == 0)
        HandToFolderOwner(p);
    else if (errno != EEXIST)
        return false;
    return Narrow(p, 0700);
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
