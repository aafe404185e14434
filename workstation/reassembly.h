#pragma once
// Finds the packets in the byte stream of one workstation connection. TCP delivers a stream, not
// packets: one arrival may hold two packets, or half of one. The buffer keeps what has arrived
// and not yet made a whole packet, so every packet is decoded once, in order.

#include "workstation/packet.h"

#include <string>
#include <string_view>
#include <vector>

namespace tollan {

// The largest packet a workstation can send: the 28-byte header and 32 767 data bytes.
inline constexpr std::size_t kLargestPacket = 28 + 32767;

struct StreamBuffer {
    std::string escape;  // received bytes of a percent escape that the next arrival completes
    std::string data;    // decoded bytes that do not yet make a whole packet
};

struct StreamResult {
    std::vector<WorkstationPacket> packets;  // every complete packet, in order of arrival
    std::vector<std::string> dropped;        // runs of bytes that cannot be (part of) a packet
};

// Adds one arrival to the connection's buffer and takes out everything it completes.
StreamResult Stream_Feed(StreamBuffer& buffer, std::string_view received);
// Whether bytes wait for more to make a packet.
bool Stream_Pending(const StreamBuffer& buffer);
// Gives up the packet that has waited too long for its rest (a corrupt header announced more than
// comes, a raw "%" swallowed bytes): its start marker is dropped and what follows is read afresh
// from the next one, so the connection is never deaf for good.
StreamResult Stream_Expire(StreamBuffer& buffer);
void Stream_Reset(StreamBuffer& buffer);

// The length of the front of `text` that percent-decodes on its own: an escape cut off at the
// end of an arrival ("%" or "%4") waits for the rest.
std::size_t Stream_CompleteEscapes(std::string_view text);

} // namespace tollan
