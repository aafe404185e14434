#include "workstation/queue.h"

namespace tollan {

int PacketQueue_Count(const PacketQueue& q)
{
    int n = q.tail - q.head;
    return n < 0 ? n + kQueueSlots : n;
}

bool PacketQueue_Add(PacketQueue& q, QueuedRequest r)
{
    if ((q.tail + 1) % kQueueSlots == q.head) return false;
    q.ring[q.tail] = std::move(r);
    q.tail = (q.tail + 1) % kQueueSlots;
    return true;
}

bool PacketQueue_Take(PacketQueue& q, QueuedRequest& r)
{
    if (q.head == q.tail) return false;
    r = std::move(q.ring[q.head]);
    q.ring[q.head] = {};
    q.head = (q.head + 1) % kQueueSlots;
    return true;
}

bool PacketQueue_InQueue(const PacketQueue& q, int c)
{
    for (int i = q.head; i != q.tail; i = (i + 1) % kQueueSlots)
        if (q.ring[i].packet.Requester == c) return true;
    return false;
}

} // namespace tollan
