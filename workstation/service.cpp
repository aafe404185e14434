#include "workstation/service.h"

#include "store/db.h"
#include "support/clock.h"
#include "workstation/dispatch.h"

namespace tollan {
namespace {

// A request that finds the ring full is not dropped unseen: it is logged and answered with the
// preset error answer, so the register knows to try again.
void refuseQueueFull(int index, WorkstationPacket& p, const ConnectionSend& send)
{
    Log_EventNamed("WSTJ", index, "request queue full: answered with the preset error");
    p.AnswerType = wsError;
    p.AnswerData = WS_ErrorAnswer(1);
    send(index, WS_EncodePacket(p));
}

// Marks the request being processed for the life of its dispatch.
struct RunningRequest {
    PacketQueue& q;
    RunningRequest(PacketQueue& queue, int requester, std::uint64_t connection) : q(queue)
    {
        q.runningRequester = requester;
        q.runningConnection = connection;
    }
    ~RunningRequest()
    {
        q.runningRequester = 0;
        q.runningConnection = 0;
    }
};

} // namespace

namespace {

// What a connection's bytes made: runs of damage logged, answers to prompts kept, requests queued.
int Take(PacketQueue& q, StreamResult& r, int index, std::string& tag, std::uint64_t connection,
         const ConnectionSend& send)
{
    for (const std::string& d : r.dropped)
        Log_EventNamed("WSTJ", index, "vigane pakett: " + d);
    int queued = 0;
    for (WorkstationPacket& p : r.packets) {
        p.Requester = static_cast<std::int16_t>(index);
        if (p.RequestType == wsDialogAnswer)
            tag = p.RequestData;
        else if (PacketQueue_Add(q, p, connection))
            ++queued;
        else
            refuseQueueFull(index, p, send);
    }
    return queued;
}

} // namespace

int WSTJ_Arrival(PacketQueue& q, StreamBuffer& b, int index, std::string_view received, std::string& tag,
                 std::uint64_t connection, const ConnectionSend& send)
{
    StreamResult r = Stream_Feed(b, received);
    return Take(q, r, index, tag, connection, send);
}

int WSTJ_Expire(PacketQueue& q, StreamBuffer& b, int index, std::string& tag, std::uint64_t connection,
                const ConnectionSend& send)
{
    StreamResult r = Stream_Expire(b);
    return Take(q, r, index, tag, connection, send);
}

void WSTJ_Process(PacketQueue& q)
{
    // A stopping program takes no new request: it waits in the queue, and its register hears the
    // connection close.
    if (PacketQueue_Count(q) == 0 || App_Stopping())
        return;
    // The marker is taken before the packet leaves the ring and released after the answer went.
    BusyGuard busy(q, q.head);
    if (!busy.held())
        return;
    WorkstationPacket p;
    std::uint64_t connection = 0;
    if (PacketQueue_Take(q, p, &connection)) {
        RunningRequest running(q, p.Requester, connection);
        WS_Dispatch(p);
    }
}

std::string WS_BusyNotice(const QDateTime& now)
{
    WorkstationPacket m;
    m.Workstation = "00000000";
    m.WorkstationTrans = "00000000";
    m.Word2 = 256;
    m.AnswerType = wsBusy;
    m.AnswerData = now.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")).toStdString() + "\r\n";
    return WS_EncodePacket(m);
}

void WS_SendBusyNotices(const PacketQueue& q, int first, int last, const ConnectionSend& send)
{
    const std::string notice = WS_BusyNotice(Clock_Now());
    for (int i = first; i <= last; ++i)
        if (PacketQueue_InQueue(q, i))
            send(i, notice);
}

} // namespace tollan
