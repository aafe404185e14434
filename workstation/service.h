#pragma once
// The steps of the workstation service that do not depend on a socket: one arrival on a
// connection, and one step of processing the request queue.
#include "workstation/queue.h"
#include "workstation/reassembly.h"

#include <QDateTime>

#include <functional>

#include <string>
#include <string_view>

namespace tollan {

// One arrival on connection `index` (`connection` tells this connection from later ones on the same
// index): every complete packet is taken; a dialogue answer (type 8) goes to `tag`, any other
// packet joins the queue; bytes that make no packet are logged as "vigane pakett: ...". When the
// ring is full the request is logged and its workstation gets the preset error answer at once.
// Returns the packets queued.
// Sends to the connection now on an index, when one is connected there. The busy notices and the
// answer to a request that finds the queue full go to it: the request that runs answers only the
// connection that asked (Requester_Reply), which may have gone.
using ConnectionSend = std::function<void(int index, const std::string& bytes)>;

int WSTJ_Arrival(PacketQueue& q, StreamBuffer& b, int index, std::string_view received, std::string& tag,
                 std::uint64_t connection, const ConnectionSend& send);

// The same for a connection whose bytes have waited too long for the rest of a packet
// (Stream_Expire): the damaged start is logged and dropped, what follows is read afresh.
int WSTJ_Expire(PacketQueue& q, StreamBuffer& b, int index, std::string& tag, std::uint64_t connection,
                const ConnectionSend& send);

// Processes at most one waiting packet: nothing while the marker is held by another request or a
// scheduled job, so the packet waits for the next call.
void WSTJ_Process(PacketQueue& q);

// The busy notice (type 5): the time as "dd.mm.yyyy hh:nn:ss" and CR LF, the notice header.
std::string WS_BusyNotice(const QDateTime& now);
// Sends the notice of Clock_Now() to every connection first..last that waits.
void WS_SendBusyNotices(const PacketQueue& q, int first, int last, const ConnectionSend& send);

} // namespace tollan
