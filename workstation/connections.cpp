#include "workstation/connections.h"

#include "links/tcp.h"
#include "store/db.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/text.h"
#include "workstation/dispatch.h"
#include "workstation/service.h"
#include "support/marker.h"
#include "support/wait.h"

#include <QHostAddress>

#include <cstdio>
#include <vector>

namespace tollan {
namespace {

constexpr std::int64_t kRefusalMinuteMs = 60000;
// Addresses counted at once; refusals from further ones are counted together, so a flood from
// many addresses cannot grow the count without bound.
constexpr std::size_t kRefusalAddresses = 1024;
const std::string kOtherAddresses = "(muud)";

struct AllowRules {
    std::vector<std::pair<QHostAddress, int>> networks;
    std::string unreadable;   // the entries that are no address or network, separated by spaces
};

// "AllowFrom": addresses and networks (CIDR) separated by ";". An entry that is no address or
// network matches nothing, so a mistyped rule shuts out rather than lets in.
AllowRules readAllowFrom(std::string_view rules)
{
    AllowRules r;
    for (const std::string& raw : Str_Split(rules, ";")) {
        const std::string entry = Str_Trim(raw);
        if (entry.empty())
            continue;
        const QString text = Text_ToQString(entry);
        std::pair<QHostAddress, int> net{QHostAddress(), -1};
        if (text.contains('/')) {
            net = QHostAddress::parseSubnet(text);
        } else if (QHostAddress one; one.setAddress(text)) {
            net = {one, one.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
        }
        if (net.first.isNull() || net.second < 0)
            r.unreadable += (r.unreadable.empty() ? "" : " ") + entry;
        else
            r.networks.push_back(net);
    }
    return r;
}

} // namespace

bool Ws_AllowedFrom(std::string_view rules, const QHostAddress& from, std::string& unreadable)
{
    if (Str_Trim(rules).empty())
        return true;
    const AllowRules r = readAllowFrom(rules);
    unreadable = r.unreadable;
    bool mapped = false;
    const QHostAddress v4(from.toIPv4Address(&mapped));
    for (const auto& [network, length] : r.networks)
        if (from.isInSubnet(network, length) || (mapped && v4.isInSubnet(network, length)))
            return true;
    return false;
}

namespace {

// An address as people write it: an IPv4 register without its IPv6 mapping.
std::string shownAddress(const QHostAddress& from)
{
    bool mapped = false;
    const QHostAddress v4(from.toIPv4Address(&mapped));
    return Text_FromQString((mapped ? v4 : from).toString());
}

// A register on one connection: what the request sends goes to its socket while this connection
// holds it; a newcomer on the same socket has a requester of its own.
class ConnectionRequester final : public Requester {
public:
    ConnectionRequester(int index, Socket& socket) : Requester(index), socket_(socket) {}

protected:
    bool connected() const override { return socket_.state() == kSockConnected; }
    void deliver(const std::string& bytes) override { Tcp_Send(socket_, bytes); }

private:
    Socket& socket_;
};

} // namespace

WorkstationService::WorkstationService(QObject* parent)
    : QObject(parent), queue_(std::make_unique<PacketQueue>()), listener_(new Listener(this))
{
    listener_->setObjectName(QStringLiteral("WSTJlistener"));
    connect(listener_, &Listener::connectionRequest, this, &WorkstationService::WSTJlistener_ConnectionRequest);
    connect(listener_, &Listener::error, this, &WorkstationService::WSTJlistener_Error);
    // The pool exists from the start, so that every index answers for its state.
    for (int i = 0; i <= kWstjCount; ++i) {
        auto* s = new Socket(this);
        s->setObjectName(QStringLiteral("WSTJ"));
        s->setProperty("index", i);
        connect(s, &Socket::dataArrival, this, [this, i] { WSTJ_DataArrival(i); });
        connect(s, &Socket::closed, this, [this, i] { WSTJ_Close(i); });
        connect(s, &Socket::error, this,
                [this, i](int n, const QString& d, bool* cancel) { WSTJ_Error(i, n, d, cancel); });
        sockets_[std::size_t(i)] = s;
    }
}

WorkstationService::~WorkstationService()
{
    for (auto& r : requesters_)
        if (r)
            r->lose();
}

ConnectionSend WorkstationService::sendToConnection()
{
    return [this](int index, const std::string& bytes) {
        if (index >= 1 && index <= kWstjCount && socket(index).state() == kSockConnected)
            socket(index).sendData(bytes);
    };
}

void WorkstationService::setParallel(int n) { parallel_ = std::clamp(n, 1, 32); }

bool WorkstationService::Start()
{
    // How many requests run at once: read at start-up, like the port.
    setParallel(int(Num_Value(Cfg_Get("ParallelRequests", "1"))));
    const std::string portText = Cfg_Get("Port", "1280");
    const double port = Num_Value(portText);
    // "abc" would read as 0, a port the system chooses, where no register looks.
    const std::string digits = Str_Trim(portText);
    const bool number = !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
    if (!number || !(port >= 0 && port <= 65535)) {
        Err_Report(10049, "port \"" + portText + "\" is no port number, 0 to 65535", Text_Utf8ToCp1252("Viga ühenduse aktsepteerijas"), 16);
        return false;
    }
    return StartOn(std::int32_t(port));
}

bool WorkstationService::StartOn(std::int32_t port)
{
    // An entry that is no address or network is said by the settings check before this, with
    // every other setting that cannot work.
    const std::string allowFrom = Cfg_Get("AllowFrom", "");
    // On a shop network the registers' own interface is enough; empty: every interface.
    const std::string listenAt = Str_Trim(Cfg_Get("ListenAddress", ""));
    QList<QHostAddress> addresses;
    if (!listenAt.empty()) {
        QHostAddress address;
        if (!address.setAddress(Text_ToQString(listenAt))) {
            Err_Report(10049, "ListenAddress \"" + listenAt + Text_Utf8ToCp1252("\" ei ole IP-aadress"),
                       Text_Utf8ToCp1252("Viga ühenduse aktsepteerijas"), 16);
            return false;
        }
        addresses << address;
    }
    // The package's service, installed and started on its own, is reachable from this machine
    // alone until the shop says who its registers are.
    const bool loopbackOnly = asService_ && listenAt.empty() && Str_Trim(allowFrom).empty();
    if (loopbackOnly)
        addresses << QHostAddress(QHostAddress::LocalHost) << QHostAddress(QHostAddress::LocalHostIPv6);
    SocketFailure f;
    if (!listener_->listen(port, &f, addresses)) {
        Err_Report(f.number, f.description + " (port " + std::to_string(port) + ")",
                   Text_Utf8ToCp1252("Viga ühenduse aktsepteerijas"), 16);
        return false;
    }
    if (loopbackOnly) {
        QStringList at;
        for (const QHostAddress& a : listener_->addresses())
            at << a.toString();
        std::fprintf(stderr,
                     "tollan: registers are served on the loopback only (%s, port %d): set AllowFrom to the "
                     "registers' addresses or networks, or ListenAddress, and restart to serve them over the network\n",
                     at.join(QStringLiteral(" and ")).toLocal8Bit().constData(), int(listener_->localPort()));
        Log_Event(listener_, Text_Utf8ToCp1252("kassad ainult loopbackilt (") + Text_FromQString(at.join(", ")) +
                                 Text_Utf8ToCp1252("); võrku avab AllowFrom või ListenAddress"));
    }
    return true;
}

void WorkstationService::Stop()
{
    listener_->close();
    for (Socket* s : sockets_)
        s->close();
}

void WorkstationService::WSTJlistener_ConnectionRequest(std::int32_t requestId)
{
    // Read at each connection, so a change holds from the next register on. One from elsewhere
    // is turned away by the listener before a byte of it is read, and takes no index.
    const QHostAddress from = listener_->peerAddress(requestId);
    std::string unreadable;
    if (!Ws_AllowedFrom(Cfg_Get("AllowFrom", ""), from, unreadable)) {
        logRefusal(from, unreadable);
        return;
    }
    // The lowest free index wins.
    int i = 1;
    while (i < kWstjCount && sockets_[std::size_t(i)]->state() != kSockClosed)
        ++i;
    Socket& s = socket(i);
    if (s.state() != kSockClosed) {
        Log_Event(listener_, "all sockets already in use");
        return;  // the listener turns the connection away
    }
    s.setTag({});
    buffers_[std::size_t(i)] = StreamBuffer{};
    if (auto& old = requesters_[std::size_t(i)])
        old->lose();
    requesters_[std::size_t(i)] = std::make_shared<ConnectionRequester>(i, s);
    s.accept(listener_->take(requestId));
}

void WorkstationService::logRefusal(const QHostAddress& from, const std::string& unreadable)
{
    // A register in a connect loop would fill the event log: an address gets one row a minute.
    const std::int64_t now = Clock_Ms();
    logRefusalCounts(now);
    std::string address = shownAddress(from);
    if (!refusals_.count(address) && refusals_.size() >= kRefusalAddresses)
        address = kOtherAddresses;
    if (const auto known = refusals_.find(address); known != refusals_.end()) {
        ++known->second.unlogged;
        return;
    }
    refusals_[address] = {now, 0};
    std::string line = Text_Utf8ToCp1252("Ühendus aadressilt ") + address + Text_Utf8ToCp1252(" suletud: AllowFrom ei luba");
    if (!unreadable.empty())
        line += " (loetamatu: " + unreadable + ")";
    Log_Event(listener_, line);
}

void WorkstationService::logRefusalCounts(std::int64_t nowMs)
{
    for (auto it = refusals_.begin(); it != refusals_.end();) {
        Refusals& r = it->second;
        if (nowMs - r.sinceMs < kRefusalMinuteMs) {
            ++it;
            continue;
        }
        if (r.unlogged == 0) {   // a quiet minute: the next refusal is logged at once again
            it = refusals_.erase(it);
            continue;
        }
        Log_Event(listener_, Text_Utf8ToCp1252("AllowFrom: minutiga suletud ühendusi aadressilt ") + it->first + ": " +
                                 std::to_string(r.unlogged));
        r = {nowMs, 0};
        ++it;
    }
}

void WorkstationService::WSTJlistener_Error(int number, const QString& description, bool* cancelDisplay)
{
    const std::string d = Text_FromQString(description);
    Log_Event(listener_, std::to_string(number) + " - " + d);
    Err_Log(number, d, Text_Utf8ToCp1252("Viga ühenduse aktsepteerijas"));
    if (cancelDisplay)
        *cancelDisplay = true;
}

void WorkstationService::WSTJ_DataArrival(int index)
{
    Socket& s = socket(index);
    const std::string received = Tcp_Receive(s, 0);
    if (received.empty())
        return;
    lastArrivalMs_[std::size_t(index)] = Clock_Ms();
    // The request runs from the event loop, not from inside this arrival: the socket does not
    // report its next arrival while we are still handling this one, so a prompt's answer from the
    // same workstation could never be read by a flow started here.
    if (WSTJ_Arrival(*queue_, buffers_[std::size_t(index)], index, received, requesters_[std::size_t(index)],
                     sendToConnection()) > 0)
        QMetaObject::invokeMethod(this, [this] { WSTJ_Process(); }, Qt::QueuedConnection);
}

void WorkstationService::WSTJ_Close(int index)
{
    Tcp_Close(socket(index));
    buffers_[std::size_t(index)] = StreamBuffer{};
    if (auto& r = requesters_[std::size_t(index)])
        r->lose();
}

void WorkstationService::WSTJ_Error(int index, int number, const QString& description, bool* cancelDisplay)
{
    Socket& s = socket(index);
    const std::string d = Text_FromQString(description);
    Log_Event(&s, std::to_string(number) + " - " + d);
    Err_Log(number, d, Text_Utf8ToCp1252("Ühenduse nr. ") + std::to_string(index) + " viga");
    if (cancelDisplay)
        *cancelDisplay = true;
    if (s.state() != kSockClosed)
        s.close();
    buffers_[std::size_t(index)] = StreamBuffer{};
    if (auto& r = requesters_[std::size_t(index)])
        r->lose();
}

void WorkstationService::setRunning(int running)
{
    running_ = running;
    showBusy();
    Wait_Notify();   // a job that waits to run alone looks again
}

void WorkstationService::showBusy()
{
    // Busy from the first request until none runs or waits: a queue worked through one request
    // after another shows as one busy spell, not as a light that blinks between them.
    const bool busy = running_ > 0 || exclusive_ > 0 || PacketQueue_Count(*queue_) > 0;
    if (busy != shownBusy_ && busyChanged)
        busyChanged(busy);
    shownBusy_ = busy;
}

void WorkstationService::WSTJ_Process()
{
    // A stopping program takes no new request: it waits in the queue, and its register hears the
    // connection close.
    while (canStart() && PacketQueue_Count(*queue_) > 0 && !App_Stopping()) {
        QueuedRequest q;
        PacketQueue_Take(*queue_, q);
        if (!q.requester)
            continue;
        setRunning(running_ + 1);
        Task_Start(Serve(std::move(q)));
    }
}

Task<void> WorkstationService::Serve(QueuedRequest q)
{
    co_await WS_Dispatch(std::move(q.packet), q.requester);
    setRunning(running_ - 1);
    // The next waits no longer than it takes the event loop to come round.
    QMetaObject::invokeMethod(this, [this] { WSTJ_Process(); }, Qt::QueuedConnection);
}

bool WorkstationService::Submit(WorkstationPacket request, std::shared_ptr<Requester> who)
{
    request.Requester = static_cast<std::int16_t>(who->index());
    if (!PacketQueue_Add(*queue_, {std::move(request), std::move(who)}))
        return false;
    WSTJ_Process();
    return true;
}

Task<std::optional<int>> WorkstationService::RunAlone(std::function<Task<int>()> job)
{
    // From now on no request starts; the job runs once those under way have ended.
    ++exclusive_;
    showBusy();
    struct Done {
        WorkstationService* s;
        ~Done()
        {
            --s->exclusive_;
            s->showBusy();
            QMetaObject::invokeMethod(s, [s = s] { s->WSTJ_Process(); }, Qt::QueuedConnection);
        }
    } done{this};
    if (!co_await Wait_Until([this] { return running_ == 0; }, -1))
        co_return std::nullopt;
    co_return co_await job();
}

void WorkstationService::Tick(const QDateTime& now)
{
    logRefusalCounts(Clock_Ms());
    // The notices first, and the waiting request only posted: run inside the scheduler's timer,
    // a request would stop every tick, and with them every notice, until it ended.
    if (Clock_TenSecondsDue(now, noticeStep_))
        WS_SendBusyNotices(*queue_, 1, kWstjCount, !canStart(), Marker_AllWaiting(), sendToConnection());
    // A packet whose rest has not come within ten seconds of its last byte never will.
    for (int i = 1; i <= kWstjCount; ++i) {
        StreamBuffer& b = buffers_[std::size_t(i)];
        if (Stream_Pending(b) && Clock_Ms() - lastArrivalMs_[std::size_t(i)] >= kPacketRestMs) {
            WSTJ_Expire(*queue_, b, i, requesters_[std::size_t(i)], sendToConnection());
            lastArrivalMs_[std::size_t(i)] = Clock_Ms();
        }
    }
    QMetaObject::invokeMethod(this, [this] { WSTJ_Process(); }, Qt::QueuedConnection);
}

} // namespace tollan
