#pragma once
// The service manager's notifications. Run as tollan.service (Type=notify), the terminal tells
// systemd through the datagram socket named by $NOTIFY_SOCKET that it serves ("READY=1", once it
// listens), that its event loop still turns ("WATCHDOG=1", from a timer of that loop, at half of
// $WATCHDOG_USEC) and that it is ending ("STOPPING=1"). A loop that hangs stops the pings, and
// systemd ends the terminal and starts it again. Started by hand, without the variables, nothing is sent.
//
// Each notification is one datagram of "NAME=value" lines on a unix socket: $NOTIFY_SOCKET is its
// path, or with a leading "@" a name in the abstract namespace.
#include <QObject>

#include <chrono>
#include <string_view>

namespace tollan {

// Sends `state` ("READY=1\nSTATUS=...") to $NOTIFY_SOCKET without ever waiting; false when there
// is no such socket or the datagram could not be sent.
bool Notify_Send(std::string_view state);

// The watchdog's period: $WATCHDOG_USEC, where $WATCHDOG_PID is unset or names this process;
// zero when there is no watchdog.
std::chrono::microseconds Notify_WatchdogPeriod();

// Pings the watchdog at half its period from a timer owned by `owner`, so that only a turning
// event loop pings. Nothing when there is no watchdog.
void Notify_StartWatchdog(QObject* owner);

} // namespace tollan
