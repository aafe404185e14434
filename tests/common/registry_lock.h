#pragma once
// Another process holding the lock that every writer of registry.ini takes: flock(1) on
// registry.ini.lock in the home folder, running a shell command there while it holds it.
#include <QProcess>
#include <QString>
#include <gtest/gtest.h>

namespace tollan::test {

// Returns once the other process holds the lock; it lets go when `then` has run.
inline void HoldTheRegistryLock(QProcess& p, const QString& home, const QString& then)
{
    p.setWorkingDirectory(home);
    p.start("flock", {"registry.ini.lock", "sh", "-c", "echo held; " + then});
    ASSERT_TRUE(p.waitForReadyRead(5000)) << p.errorString().toStdString();
}

// The shell command that saves `text` as registry.ini the way the store does: whole, by rename.
inline QString SaveRegistryCommand(const std::string& text)
{
    return "printf '%s' '" + QString::fromStdString(text) + "' > registry.ini.new && mv registry.ini.new registry.ini";
}

} // namespace tollan::test
