#include "workstation/dispatch.h"

#include "support/clock.h"
#include "support/config.h"
#include "support/text.h"
#include "transactions/response_text.h"

#include <utility>

namespace tollan {

namespace {

WsRequesters& Requesters()
{
    static WsRequesters r;
    return r;
}

WsFlows& Flows()
{
    static WsFlows f;
    return f;
}

std::string* Tag(int requester)
{
    const auto& t = Requesters().tag;
    return t ? t(requester) : nullptr;
}

} // namespace

void WS_SetRequesters(WsRequesters r) { Requesters() = std::move(r); }
void WS_SetFlows(WsFlows f) { Flows() = std::move(f); }

int Requester_State(int requester)
{
    const auto& s = Requesters().state;
    return s ? s(requester) : 0;
}

void Requester_Reply(int requester, const std::string& bytes)
{
    if (Requester_State(requester) == kRequesterConnected && Requesters().reply)
        Requesters().reply(requester, bytes);
}

std::string WS_ErrorAnswer(std::int16_t code) { return WS_ErrorData(code, KK_ErrorText(code)); }

namespace {
std::string g_lastAnswerText;
}

const std::string& WS_LastAnswerText() { return g_lastAnswerText; }

void WS_Dispatch(WorkstationPacket& r)
{
    r.AnswerType = wsError;
    r.AnswerData = WS_ErrorAnswer(1);
    r.AnswerText.clear();
    switch (r.RequestType) {
    case wsPurchase:
        if (Flows().purchase)
            Flows().purchase(r);
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
            Flows().cancel(r);
        break;
    default:
        r.AnswerData = WS_ErrorAnswer(7);
        break;
    }
    g_lastAnswerText = r.AnswerText;
    Requester_Reply(r.Requester, WS_EncodePacket(r));
}

bool WS_Message(int requester, const std::string& text)
{
    WorkstationPacket m;
    m.Workstation = "00000000";
    m.WorkstationTrans = "00000000";
    m.Word2 = 256;
    m.AnswerType = wsInfo;
    m.AnswerData = text;
    if (Requester_State(requester) == kRequesterConnected) {
        Requester_Reply(requester, WS_EncodePacket(m));
        Events_Pump();
    }
    return true;
}

std::string WS_Dialog(int requester, const WorkstationPacket& r, const std::string& prompt,
                      const std::string& second)
{
    WorkstationPacket d = r;
    d.AnswerType = wsDialog;
    d.AnswerData = WS_DialogData(prompt, second);
    return WS_Exchange(requester, WS_EncodePacket(d));
}

std::string WS_Exchange(int requester, const std::string& bytes)
{
    if (requester < 0 && requester != kRequesterConsole)
        return {};
    std::string* tag = Tag(requester);
    if (!tag)
        return {};
    *tag = kDialogPending;
    Requester_Reply(requester, bytes);
    const double seconds = Num_Value(Cfg_Get("Timeout\\Workstation", "120"));
    const auto timeoutMs = static_cast<std::int64_t>(seconds > 0 ? seconds * 1000 : 0);
    // The type-8 answer fills the tag from the arrival handler; a dropped connection ends it too.
    Clock_WaitUntil([&] {
        std::string* t = Tag(requester);
        return !t || *t != kDialogPending || Requester_State(requester) != kRequesterConnected;
    }, timeoutMs);
    tag = Tag(requester);
    if (!tag)
        return {};
    std::string answer = *tag == kDialogPending ? std::string() : *tag;
    tag->clear();
    return answer;
}

} // namespace tollan
