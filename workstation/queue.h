#pragma once
// The request queue of the workstation service: a ring of 1024 requests in the order they arrived,
// each with the requester that asked. The service starts them from here, up to "ParallelRequests"
// at once.

#include "workstation/packet.h"
#include "workstation/requester.h"

#include <array>
#include <memory>

namespace tollan {

inline constexpr int kQueueSlots = 1024;

struct QueuedRequest {
    WorkstationPacket packet;
    std::shared_ptr<Requester> requester;
};

struct PacketQueue {
    std::array<QueuedRequest, kQueueSlots> ring{};
    int head = 0;  // the slot taken next
    int tail = 0;  // the slot filled next
};

// Number of waiting requests, 0 to 1023.
int PacketQueue_Count(const PacketQueue& q);
// Stores the request; false when the ring is full (1023 waiting).
bool PacketQueue_Add(PacketQueue& q, QueuedRequest r);
// The oldest request; false when the ring is empty.
bool PacketQueue_Take(PacketQueue& q, QueuedRequest& r);
// True when connection index c has a request waiting.
bool PacketQueue_InQueue(const PacketQueue& q, int c);

} // namespace tollan
