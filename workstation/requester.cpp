#include "workstation/requester.h"

#include "support/config.h"
#include "support/text.h"
#include "support/wait.h"
#include "workstation/packet.h"

namespace tollan {

bool Requester::send(const std::string& packetBytes)
{
    if (!present())
        return false;
    deliver(packetBytes);
    return true;
}

void Requester::sendAnswer(const WorkstationPacket& answered) { send(WS_EncodePacket(answered)); }

void Requester::inform(const std::string& text)
{
    WorkstationPacket m;
    m.Workstation = "00000000";
    m.WorkstationTrans = "00000000";
    m.Word2 = 256;
    m.AnswerType = wsInfo;
    m.AnswerData = text;
    send(WS_EncodePacket(m));
}

double Requester::AnswerSeconds()
{
    const double seconds = Num_Value(Cfg_Get("Timeout\\Workstation", "120"));
    return seconds > 0 ? seconds : 0;
}

Task<std::optional<std::string>> Requester::ask(std::string packetBytes)
{
    answer_.reset();
    asking_ = true;
    if (!send(packetBytes)) {
        asking_ = false;
        co_return std::nullopt;
    }
    const double seconds = AnswerSeconds();
    emit asked(seconds);
    co_await Wait_Until([this] { return answer_.has_value() || !present(); },
                        seconds > 0 ? std::int64_t(seconds * 1000) : -1);
    asking_ = false;
    std::optional<std::string> got = std::exchange(answer_, std::nullopt);
    emit askEnded();
    co_return got;
}

void Requester::answer(const std::string& data)
{
    if (!asking_)
        return;   // an answer nobody asked for, or one that came too late
    answer_ = data;
    Wait_Notify();
}

void Requester::lose()
{
    lost_ = true;
    Wait_Notify();
}

} // namespace tollan
