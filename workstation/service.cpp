#include "workstation/service.h"

#include "store/db.h"
#include "support/clock.h"
#include "workstation/dispatch.h"

#include <algorithm>

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

} // namespace

namespace {

// What a connection's bytes made: runs of damage logged, answers to prompts kept, requests queued.
int Take(PacketQueue& q, StreamResult& r, int index, const std::shared_ptr<Requester>& who, const ConnectionSend& send)
{
    for (const std::string& d : r.dropped)
        Log_EventNamed("WSTJ", index, "vigane pakett: " + d);
    int queued = 0;
    for (WorkstationPacket& p : r.packets) {
        p.Requester = static_cast<std::int16_t>(index);
        if (p.RequestType == wsDialogAnswer) {
            if (who)
                who->answer(p.RequestData);
        } else if (PacketQueue_Add(q, {p, who})) {
            ++queued;
        } else {
            refuseQueueFull(index, p, send);
        }
    }
    return queued;
}

} // namespace

int WSTJ_Arrival(PacketQueue& q, StreamBuffer& b, int index, std::string_view received,
                 const std::shared_ptr<Requester>& who, const ConnectionSend& send)
{
    StreamResult r = Stream_Feed(b, received);
    return Take(q, r, index, who, send);
}

int WSTJ_Expire(PacketQueue& q, StreamBuffer& b, int index, const std::shared_ptr<Requester>& who,
                const ConnectionSend& send)
{
    StreamResult r = Stream_Expire(b);
    return Take(q, r, index, who, send);
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

void WS_SendBusyNotices(const PacketQueue& q, int first, int last, bool noneCanStart,
                        const std::vector<int>& markerWaiters, const ConnectionSend& send)
{
    const std::string notice = WS_BusyNotice(Clock_Now());
    for (int i = first; i <= last; ++i)
        if (noneCanStart || PacketQueue_InQueue(q, i) ||
            std::find(markerWaiters.begin(), markerWaiters.end(), i) != markerWaiters.end())
            send(i, notice);
}

} // namespace tollan
