#pragma once
// The addresses a test connects from or to, besides the loopback.
#include <QHostAddress>
#include <QNetworkInterface>

#include <optional>

namespace tollan::test {

// An address of this machine that is not on the loopback interface (an IPv4 one first), or none
// on a machine with the loopback alone. 127.0.0.2 will not do: it is the loopback too.
inline std::optional<QHostAddress> OtherAddressOfThisMachine()
{
    std::optional<QHostAddress> v6;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (!(i.flags() & QNetworkInterface::IsUp) || (i.flags() & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& e : i.addressEntries()) {
            const QHostAddress a = e.ip();
            if (a.isLoopback() || a.isLinkLocal())
                continue;
            if (a.protocol() == QAbstractSocket::IPv4Protocol)
                return a;
            if (!v6)
                v6 = a;
        }
    }
    return v6;
}

} // namespace tollan::test
