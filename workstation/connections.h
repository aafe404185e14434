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
#include "workstation/service.h"

#include <QDateTime>
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace tollan {

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

    // The console of the main window as requester -9: its reply and its dialogue-answer slot.
    void setConsole(std::function<void(const std::string&)> reply, std::function<std::string*()> tag);
    // The scheduler's tick: every ten seconds the connected workstations that wait are sent the
    // busy notice; a packet still incomplete ten seconds after its last byte is dropped; and a
    // waiting request is posted to run from the event loop.
    void Tick(const QDateTime& now);

    // The handlers of the components' events.
    void WSTJlistener_ConnectionRequest(std::int32_t requestId);
    void WSTJlistener_Error(int number, const QString& description, bool* cancelDisplay);
    void WSTJ_DataArrival(int index);
    void WSTJ_Close(int index);
    void WSTJ_Error(int index, int number, const QString& description, bool* cancelDisplay);
    void WSTJ_Process();

    int Requester_StateOf(int requester) const;

private:
    void installRequesters();
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
    std::array<std::uint64_t, kWstjCount + 1> connections_{};  // which connection each index holds
    std::array<std::int64_t, kWstjCount + 1> lastArrivalMs_{};   // Clock_Ms() of each one's last bytes
    static constexpr std::int64_t kPacketRestMs = 10000;
    std::uint64_t lastConnection_ = 0;
    bool asService_ = false;
    struct Refusals {
        std::int64_t sinceMs = 0;   // Clock_Ms() of the address's last row
        int unlogged = 0;           // refusals since
    };
    std::map<std::string, Refusals> refusals_;   // by address; a quiet address is forgotten
    std::function<void(const std::string&)> consoleReply_;
    std::function<std::string*()> consoleTag_;
};

} // namespace tollan
