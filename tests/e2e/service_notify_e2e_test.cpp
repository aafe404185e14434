// The terminal as systemd's Type=notify service: a unix datagram socket of the test's stands as
// $NOTIFY_SOCKET (a path, as systemd gives it, and a name in the abstract namespace), and the real
// terminal must say READY=1 only once its port listens, ping WATCHDOG=1 from its event loop at half
// of $WATCHDOG_USEC (none while it is stopped, again once it goes on), and say STOPPING=1 at SIGTERM.
#include "tests/e2e/suite.h"

#include <QElapsedTimer>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace {

// systemd's end of the notification socket: datagrams as the service manager receives them.
class NotifySocket {
public:
    explicit NotifySocket(const QByteArray& name) : name_(name)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
        socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + std::size_t(name.size()));
        if (name.startsWith('@'))
            address.sun_path[0] = '\0';
        else
            ++length;
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0;
    }
    ~NotifySocket()
    {
        if (fd_ >= 0) ::close(fd_);
        if (!name_.startsWith('@')) ::unlink(name_.constData());
    }
    bool bound() const { return bound_; }
    // The next datagram, or "" when none comes within `ms`.
    std::string Next(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return {};
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
    }
    // How many datagrams saying exactly `what` come in the next `ms`.
    int Count(const std::string& what, int ms)
    {
        int count = 0;
        QElapsedTimer since;
        since.start();
        for (qint64 left = ms; left > 0; left = ms - since.elapsed())
            if (Next(int(left)) == what) ++count;
        return count;
    }

private:
    QByteArray name_;
    int fd_ = -1;
    bool bound_ = false;
};

class ServiceShop : public Shop {
protected:
    // The terminal as the unit starts it, with systemd's variables; `watchdogPid` as systemd sets
    // $WATCHDOG_PID (0: unset).
    void StartAsService(const QByteArray& socket, qint64 watchdogPid = 0)
    {
        terminal = std::make_unique<PeerProcess>();
        terminal->process.setStandardErrorFile(tmp.filePath("terminal.err"), QIODevice::Append);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NOTIFY_SOCKET", QString::fromLocal8Bit(socket));
        env.insert("WATCHDOG_USEC", QString::number(kWatchdogUsec));
        if (watchdogPid) env.insert("WATCHDOG_PID", QString::number(watchdogPid));
        terminal->process.setProcessEnvironment(env);
        ASSERT_TRUE(terminal->Start(TOLLAN_EXE, {"--headless", "--service", "--home", home.path()}));
    }
    // A path, as systemd gives it, or a name in the abstract namespace.
    QByteArray SocketName(bool abstract) const
    {
        return abstract ? QByteArray("@tollan-notify-test-") + QByteArray::number(::getpid())
                        : tmp.filePath("notify").toLocal8Bit();
    }
    static constexpr int kWatchdogUsec = 400000;   // pings every 200 ms
};
class ServiceNotify : public ServiceShop, public ::testing::WithParamInterface<bool> {};

TEST_P(ServiceNotify, ReadyOnceItListensThenWatchdogPingsFromTheLoopNoneWhileStoppedAndStoppingAtSigterm)
{
    NotifySocket systemd(SocketName(GetParam()));
    ASSERT_TRUE(systemd.bound()) << std::strerror(errno);
    StartAsService(SocketName(GetParam()));

    const std::string ready = systemd.Next(20000);
    // READY=1 comes once the registers' port listens: a register connecting the moment it arrives is taken.
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(probe.waitForConnected(1000)) << "READY=1 came before the terminal listened";
    EXPECT_EQ(ready, "READY=1\nSTATUS=serving registers on port " + std::to_string(port)) << TerminalErr();

    // Pings at half the watchdog's period, each alone: about five in a second, never fewer than three.
    const int pings = systemd.Count("WATCHDOG=1", 1000);
    EXPECT_GE(pings, 3);
    EXPECT_LE(pings, 7);

    // A stopped terminal (a loop that no longer turns) sends nothing; going on, it pings again.
    const pid_t pid = pid_t(terminal->process.processId());
    ::kill(pid, SIGSTOP);
    Pause(100);
    while (!systemd.Next(0).empty()) {}
    EXPECT_EQ(systemd.Count("WATCHDOG=1", 600), 0);
    ::kill(pid, SIGCONT);
    EXPECT_EQ(systemd.Next(1000), "WATCHDOG=1");

    ::kill(pid, SIGTERM);
    std::string said;
    for (std::string d = systemd.Next(5000); !d.empty() && said.empty(); d = systemd.Next(5000))
        if (d != "WATCHDOG=1") said = d;
    EXPECT_EQ(said, "STOPPING=1");
    EXPECT_EQ(terminal->Exit(10000), 0);
    terminal.reset();
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, ServiceNotify, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "AbstractName" : "Path"; });

// The watchdog belongs to the process systemd started: one whose $WATCHDOG_PID names another
// (a child that inherited the variables) says READY=1 but never pings.
TEST_F(ServiceShop, AWatchdogOfAnotherProcessIsNotPinged)
{
    NotifySocket systemd(SocketName(false));
    ASSERT_TRUE(systemd.bound()) << std::strerror(errno);
    StartAsService(SocketName(false), ::getpid());
    EXPECT_TRUE(systemd.Next(20000).starts_with("READY=1\n")) << TerminalErr();
    EXPECT_EQ(systemd.Count("WATCHDOG=1", 600), 0);
}

} // namespace
