#include "support/notify.h"

#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tollan {

bool Notify_Send(std::string_view state)
{
    const QByteArray name = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || std::size_t(name.size()) >= sizeof(address.sun_path)) return false;
    if (name[0] != '/' && name[0] != '@') return false;   // no other kind of address is ours to use
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + std::size_t(name.size()));
    if (name[0] == '@')
        address.sun_path[0] = '\0';   // the abstract namespace: the name's bytes, no terminating NUL
    else
        ++length;

    // Non-blocking: a service manager that reads slowly costs a lost ping, never a wait on the
    // terminal's one thread.
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const ssize_t sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
    return sent == ssize_t(state.size());
}

std::chrono::microseconds Notify_WatchdogPeriod()
{
    bool ok = false;
    const qlonglong usec = qEnvironmentVariable("WATCHDOG_USEC").toLongLong(&ok);
    if (!ok || usec <= 0) return std::chrono::microseconds(0);
    // The watchdog is the main process's: a child that inherited the variables does not ping.
    const QString pid = qEnvironmentVariable("WATCHDOG_PID");
    if (!pid.isEmpty() && pid.toLongLong() != qlonglong(::getpid())) return std::chrono::microseconds(0);
    return std::chrono::microseconds(usec);
}

void Notify_StartWatchdog(QObject* owner)
{
    const auto period = Notify_WatchdogPeriod();
    if (period.count() == 0) return;
    auto* timer = new QTimer(owner);
    timer->setInterval(std::max<std::chrono::milliseconds>(
        std::chrono::milliseconds(1), std::chrono::duration_cast<std::chrono::milliseconds>(period / 2)));
    QObject::connect(timer, &QTimer::timeout, [] { Notify_Send("WATCHDOG=1"); });
    timer->start();
    Notify_Send("WATCHDOG=1");
}

} // namespace tollan
