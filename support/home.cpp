#include "support/home.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

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

} // namespace tollan
