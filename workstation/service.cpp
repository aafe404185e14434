#include "workstation/service.h"

#include "store/db.h"
#include "support/clock.h"
#include "workstation/dispatch.h"

namespace tollan {

int WSTJ_Arrival(PacketQueue& q, StreamBuffer& b, int index, std::string_view received, std::string& tag)
{
    StreamResult r = Stream_Feed(b, received);
    for (const std::string& d : r.dropped)
        Log_EventNamed("WSTJ", index, "vigane pakett: " + d);
    int queued = 0;
    for (WorkstationPacket& p : r.packets) {
        p.Requester = static_cast<std::int16_t>(index);
        if (p.RequestType == wsDialogAnswer)
            tag = p.RequestData;
        else if (PacketQueue_Add(q, p))
            ++queued;
    }
    return queued;
}

void WSTJ_Process(PacketQueue& q)
{
    if (PacketQueue_Count(q) == 0)
        return;
    // The marker is taken before the packet leaves the ring and released after the answer went.
    BusyGuard busy(q, q.head);
    if (!busy.held())
        return;
    WorkstationPacket p;
    if (PacketQueue_Take(q, p))
        WS_Dispatch(p);
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

void WS_SendBusyNotices(const PacketQueue& q, int first, int last)
{
    const std::string notice = WS_BusyNotice(Clock_Now());
    for (int i = first; i <= last; ++i)
        if (PacketQueue_InQueue(q, i) && Requester_State(i) == kRequesterConnected)
            Requester_Reply(i, notice);
}

} // namespace tollan
