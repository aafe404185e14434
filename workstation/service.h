#pragma once
// The steps of the workstation service that do not depend on a socket: one arrival on a
// connection, and the busy notices.
#include "workstation/queue.h"
#include "workstation/reassembly.h"

#include <QDateTime>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

// Sends to the connection now on an index, when one is connected there: the busy notices and the
// answer to a request that finds the queue full.
using ConnectionSend = std::function<void(int index, const std::string& bytes)>;

// One arrival on connection `index`, whose requester is `who`: every complete packet is taken; a
// dialogue answer (type 8) goes to the requester, any other packet joins the queue; bytes that make
// no packet are logged as "vigane pakett: ...". When the ring is full the request is logged and its
// workstation gets the preset error answer at once. Returns the packets queued.
int WSTJ_Arrival(PacketQueue& q, StreamBuffer& b, int index, std::string_view received,
                 const std::shared_ptr<Requester>& who, const ConnectionSend& send);

// The same for a connection whose bytes have waited too long for the rest of a packet
// (Stream_Expire): the damaged start is logged and dropped, what follows is read afresh.
int WSTJ_Expire(PacketQueue& q, StreamBuffer& b, int index, const std::shared_ptr<Requester>& who,
                const ConnectionSend& send);

// The busy notice (type 5): the time as "dd.mm.yyyy hh:nn:ss" and CR LF, the notice header.
std::string WS_BusyNotice(const QDateTime& now);
// Sends the notice of Clock_Now() to every connection first..last that waits: one with a request in
// the queue, one whose request waits for a marker (`markerWaiters`), and, when no request can start
// now (`noneCanStart`), every connection.
void WS_SendBusyNotices(const PacketQueue& q, int first, int last, bool noneCanStart,
                        const std::vector<int>& markerWaiters, const ConnectionSend& send);

} // namespace tollan
