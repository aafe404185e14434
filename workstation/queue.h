#pragma once
// The request queue of the workstation service: a ring of 1024 packets and the busy marker that
// lets one request (or one scheduled job) run at a time, in the order of arrival.

#include "workstation/packet.h"

#include <array>
#include <cstdint>
#include <functional>

namespace tollan {

inline constexpr int kQueueSlots = 1024;

// One queued request: the packet and the connection it came on. The connection id is what ties
// the request's prompts and answer to that connection and to no later one on the same index.
struct QueuedRequest {
    WorkstationPacket packet;
    std::uint64_t connection = 0;
};

struct PacketQueue {
    std::array<QueuedRequest, kQueueSlots> ring{};
    int head = 0;  // the slot taken next
    int tail = 0;  // the slot filled next
    int busy = 0;  // 0 idle; a slot index + 1 while a request runs; -9 while a scheduled job runs
    // The request being processed: its connection index and the connection it came on, so that
    // nothing of it reaches a later connection on the same index.
    int runningRequester = 0;
    std::uint64_t runningConnection = 0;
    // Told whenever the marker is taken (true) or released (false): the traffic picture.
    std::function<void(bool busy)> busyChanged;
};

// Number of waiting packets, 0 to 1023.
int PacketQueue_Count(const PacketQueue& q);
// Stores a copy of p; false when the ring is full (1023 waiting).
bool PacketQueue_Add(PacketQueue& q, const WorkstationPacket& p, std::uint64_t connection = 0);
// The oldest packet; false when the ring is empty. `connection` receives its connection id.
bool PacketQueue_Take(PacketQueue& q, WorkstationPacket& p, std::uint64_t* connection = nullptr);
// True when connection index c has a request waiting, or when any request is being processed.
bool PacketQueue_InQueue(const PacketQueue& q, int c);
// Takes the marker for work index k (busy = k + 1); false when it is taken already.
bool PacketQueue_Bar_Set(PacketQueue& q, int k);
// Releases the marker when it is k's; true when the marker is now free.
bool PacketQueue_Bar_Clear(PacketQueue& q, int k);

// Holds the busy marker for one piece of work and releases it on every way out.
class BusyGuard {
public:
    BusyGuard(PacketQueue& q, int k) : q_(q), k_(k), held_(PacketQueue_Bar_Set(q, k)) {}
    ~BusyGuard() { if (held_) PacketQueue_Bar_Clear(q_, k_); }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
    bool held() const { return held_; }

private:
    PacketQueue& q_;
    int k_;
    bool held_;
};

} // namespace tollan
