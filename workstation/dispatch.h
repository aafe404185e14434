#pragma once
// Request dispatch and the workstation dialogues: every request gets exactly one answer, sent
// after its flow has finished; a flow talks to its requester with information messages and with
// prompts whose answer it awaits. Each request is a coroutine: several run at once, each with its
// own requester.
#include "support/requesters.h"
#include "support/task.h"
#include "workstation/packet.h"
#include "workstation/requester.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tollan {

// The purchase and cancellation flows: each returns the request with its answer fields set.
// Unset, a request keeps the preset answer.
using WsFlow = std::function<Task<WorkstationPacket>(WorkstationPacket request, Requester& who)>;
struct WsFlows {
    WsFlow purchase;
    WsFlow cancel;
};
void WS_SetFlows(WsFlows f);

std::string WS_ErrorAnswer(std::int16_t code);
// Runs the request's flow and sends its answer to the requester while it is there; returns the
// request with the answer that went.
Task<WorkstationPacket> WS_Dispatch(WorkstationPacket r, std::shared_ptr<Requester> who);
// The prompt `prompt` (with `second`, the second line's default) under the header of request `r`,
// and the cashier's answer: nothing when it did not come (gone, time-out, stop).
Task<std::optional<std::string>> WS_Dialog(Requester& who, const WorkstationPacket& r, std::string prompt,
                                           std::string second);

} // namespace tollan
