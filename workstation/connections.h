#pragma once
// The workstation service: the listener on "Port" (of "ListenAddress"), the pool WSTJ of 32
// connection sockets and their events, feeding the request queue; a connection from an address
// "AllowFrom" does not name is turned away unread. The main window owns it; it runs and is
// tested without a window. Requests are answered to the connection they came on and to no later
// one.

#include "links/socket.h"
#include "support/clock.h"
#include "workstation/queue.h"
#include "workstation/reassembly.h"
#include "workstation/requester.h"
#include "workstation/service.h"

#include <QDateTime>
#include <QHostAddress>
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tollan {

// Whether "AllowFrom" (`rules`: addresses and CIDR networks separated by ";") lets a register in
// from `from`. Empty rules let anyone in; an IPv4 rule matches the IPv4-mapped IPv6 address under
// which a listener on every interface sees an IPv4 register. An entry that is no address or network
// matches nothing (a mistyped rule shuts out rather than lets in) and is named in `unreadable`.
bool Ws_AllowedFrom(std::string_view rules, const QHostAddress& from, std::string& unreadable);

inline constexpr int kWstjCount = 32;  // WSTJ(1) .. WSTJ(32); WSTJ(0) is never used

class WorkstationService : public QObject {
public:
    explicit WorkstationService(QObject* parent = nullptr);
    ~WorkstationService() override;

    // Creates the pool and listens on "Port" (default 1280) of "ListenAddress" (empty: every
    // interface; for the package's service while "AllowFrom" is empty too, the loopback alone).
    // A port or address that cannot be had is reported and the service stays without a listener;
    // the program goes on. "AllowFrom" entries that are no address or network are reported.
    bool Start();
    // Listens on `port` (0: the system picks; tests) as Start does.
    bool StartOn(std::int32_t port);
    void Stop();
    // The terminal runs as the package's service (`tollan --service`): until "AllowFrom" or
    // "ListenAddress" is set, registers are served on the loopback only, as a database server
    // installed by a package serves its own machine until it is opened to the network.
    void setService(bool service) { asService_ = service; }

    Listener& listener() { return *listener_; }
    Socket& socket(int index) { return *sockets_[std::size_t(index)]; }
    PacketQueue& queue() { return *queue_; }
    std::int32_t port() const { return listener_->localPort(); }

    // The scheduler's tick: every ten seconds the connected workstations that wait are sent the
    // busy notice; a packet still incomplete ten seconds after its last byte is dropped; and the
    // waiting requests are looked at.
    void Tick(const QDateTime& now);

    // A request from the console (or any requester of the caller's): it waits in the queue with
    // the registers' and runs in its turn.
    bool Submit(WorkstationPacket request, std::shared_ptr<Requester> who);
    // How many requests run at once: "ParallelRequests" (1 to 32), read once, at Start.
    int parallel() const { return parallel_; }
    void setParallel(int n);
    // Requests running, and whether one more could start now.
    int running() const { return running_; }
    bool canStart() const { return running_ < parallel_ && exclusive_ == 0; }
    // Runs `job` alone: it waits for the requests under way to end, and those that arrive meanwhile
    // wait behind it (the transaction file). Nothing when the program stops first.
    Task<std::optional<int>> RunAlone(std::function<Task<int>()> job);
    // Told whenever the terminal turns busy (a request or a job runs) and idle again.
    std::function<void(bool busy)> busyChanged;

    // The handlers of the components' events.
    void WSTJlistener_ConnectionRequest(std::int32_t requestId);
    void WSTJlistener_Error(int number, const QString& description, bool* cancelDisplay);
    void WSTJ_DataArrival(int index);
    void WSTJ_Close(int index);
    void WSTJ_Error(int index, int number, const QString& description, bool* cancelDisplay);
    // Starts waiting requests, in the order they arrived, while there is room.
    void WSTJ_Process();

    // The requester of the connection on `index` now (nullptr when none is connected).
    std::shared_ptr<Requester> requester(int index) const { return requesters_[std::size_t(index)]; }

private:
    Task<void> Serve(QueuedRequest q);
    void setRunning(int running);
    void showBusy();
    // A connection turned away by "AllowFrom": the first from an address is logged at once, the
    // rest of its minute counted and logged as one row when the minute is over.
    void logRefusal(const QHostAddress& from, const std::string& unreadable);
    void logRefusalCounts(std::int64_t nowMs);
    // The socket now on an index, for what is meant for whoever is there now.
    ConnectionSend sendToConnection();

    std::unique_ptr<PacketQueue> queue_;
    std::int64_t noticeStep_ = kNoTenSeconds;  // the ten seconds of the last busy notices
    Listener* listener_;
    std::array<Socket*, kWstjCount + 1> sockets_{};
    std::array<StreamBuffer, kWstjCount + 1> buffers_{};
    std::array<std::shared_ptr<Requester>, kWstjCount + 1> requesters_{};  // each connection's own
    std::array<std::int64_t, kWstjCount + 1> lastArrivalMs_{};   // Clock_Ms() of each one's last bytes
    static constexpr std::int64_t kPacketRestMs = 10000;
    int parallel_ = 1;
    int running_ = 0;
    int exclusive_ = 0;   // jobs waiting to run alone, or running
    bool shownBusy_ = false;
    bool asService_ = false;
    struct Refusals {
        std::int64_t sinceMs = 0;   // Clock_Ms() of the address's last row
        int unlogged = 0;           // refusals since
    };
    std::map<std::string, Refusals> refusals_;   // by address; a quiet address is forgotten
};

} // namespace tollan
