#pragma once
// The steps of the workstation service that do not depend on a socket: one arrival on a
// connection, and one step of processing the request queue.
#include "workstation/queue.h"
#include "workstation/reassembly.h"

#include <string>
#include <string_view>

namespace tollan {

// One arrival on connection `index`: every complete packet is taken; a dialogue answer (type 8)
// goes to `tag`, any other packet joins the queue (dropped without a word when the ring is full);
// bytes that make no packet are logged as "vigane pakett: ...". Returns the packets queued.
int WSTJ_Arrival(PacketQueue& q, StreamBuffer& b, int index, std::string_view received, std::string& tag);

// Processes at most one waiting packet: nothing while the marker is held by another request or a
// scheduled job, so the packet waits for the next call.
void WSTJ_Process(PacketQueue& q);

} // namespace tollan
