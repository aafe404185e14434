#include "workstation/queue.h"

namespace tollan {

int PacketQueue_Count(const PacketQueue& q)
{
    int n = q.tail - q.head;
    return n < 0 ? n + kQueueSlots : n;
}

bool PacketQueue_Add(PacketQueue& q, const WorkstationPacket& p, std::uint64_t connection)
{
    if ((q.tail + 1) % kQueueSlots == q.head) return false;
    q.ring[q.tail] = QueuedRequest{p, connection};
    q.tail = (q.tail + 1) % kQueueSlots;
    return true;
}

bool PacketQueue_Take(PacketQueue& q, WorkstationPacket& p, std::uint64_t* connection)
{
    if (q.head == q.tail) return false;
    p = q.ring[q.head].packet;
    if (connection) *connection = q.ring[q.head].connection;
    q.head = (q.head + 1) % kQueueSlots;
    return true;
}

bool PacketQueue_InQueue(const PacketQueue& q, int c)
{
    // A positive marker is a request in progress; every connected workstation is then waiting.
    // Comparing the marker with the head would also hold while the ring sits idle at slot 0, and
    // would fail for the request taken from slot 1023.
    if (q.busy > 0) return true;
    for (int i = q.head; i != q.tail; i = (i + 1) % kQueueSlots)
        if (q.ring[i].packet.Requester == c) return true;
    return false;
}

bool PacketQueue_Bar_Set(PacketQueue& q, int k)
{
    if (q.busy != 0) return false;
    q.busy = k + 1;
    if (q.busyChanged) q.busyChanged(true);
    return true;
}

bool PacketQueue_Bar_Clear(PacketQueue& q, int k)
{
    if (q.busy != k + 1) return q.busy == 0;
    q.busy = 0;
    if (q.busyChanged) q.busyChanged(false);
    return true;
}

} // namespace tollan
