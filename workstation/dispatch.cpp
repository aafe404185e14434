#include "workstation/dispatch.h"

#include "protocol/response_text.h"

#include <utility>

namespace tollan {

namespace {

WsFlows& Flows()
{
    static WsFlows f;
    return f;
}

} // namespace

void WS_SetFlows(WsFlows f) { Flows() = std::move(f); }

std::string WS_ErrorAnswer(std::int16_t code) { return WS_ErrorData(code, KK_ErrorText(code)); }

Task<WorkstationPacket> WS_Dispatch(WorkstationPacket r, std::shared_ptr<Requester> who)
{
    r.AnswerType = wsError;
    r.AnswerData = WS_ErrorAnswer(1);
    r.AnswerText.clear();
    switch (r.RequestType) {
    case wsPurchase:
        if (Flows().purchase)
            r = co_await Flows().purchase(r, *who);
        break;
    case wsCardQuery: {
        CardInfo info;
        std::string second;
        WS_ParseCardQuery(r.RequestData, info.PAN, second);
        r.AnswerType = wsCardInfo;
        r.AnswerData = WS_CardInfoData(info, 0);
        break;
    }
    case wsCancel:
        if (Flows().cancel)
            r = co_await Flows().cancel(r, *who);
        break;
    default:
        r.AnswerData = WS_ErrorAnswer(7);
        break;
    }
    who->sendAnswer(r);
    co_return r;
}

Task<std::optional<std::string>> WS_Dialog(Requester& who, const WorkstationPacket& r, std::string prompt,
                                           std::string second)
{
    WorkstationPacket d = r;
    d.AnswerType = wsDialog;
    d.AnswerData = WS_DialogData(prompt, second);
    co_return co_await who.ask(WS_EncodePacket(d));
}

} // namespace tollan
