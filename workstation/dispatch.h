#pragma once
// Request dispatch and the workstation dialogues: every request gets exactly one answer, sent
// after its flow has finished; a flow talks to the requesting workstation with information
// messages and with prompts whose answer it awaits.
#include "workstation/packet.h"

#include <functional>
#include <string>

namespace tollan {

inline constexpr int kRequesterConsole = -9;
// The scheduled jobs' own work with the card centre (the file, pending cancellations): nobody
// hears its progress, and it does not end for want of a listener.
inline constexpr int kRequesterScheduled = -10;
inline constexpr int kRequesterConnected = 7;
inline constexpr const char* kDialogPending = "[dialog]";

// How the service reaches a requester (a socket index 1..32, or -9 the console). The owner of
// the sockets and of the console installs them; unset parts mean "not connected".
struct WsRequesters {
    std::function<int(int requester)> state;                               // 7 when connected
    std::function<void(int requester, const std::string& bytes)> reply;
    std::function<std::string*(int requester)> tag;                        // the dialogue answer slot
};
void WS_SetRequesters(WsRequesters r);
int Requester_State(int requester);
void Requester_Reply(int requester, const std::string& bytes);

// The purchase and cancellation flows; unset, a request keeps the preset answer.
struct WsFlows {
    std::function<void(WorkstationPacket&)> purchase;
    std::function<void(WorkstationPacket&)> cancel;
};
void WS_SetFlows(WsFlows f);

std::string WS_ErrorAnswer(std::int16_t code);
void WS_Dispatch(WorkstationPacket& r);
// The whole text of the last answer's error text (its wire form is cut at 50 characters), for the
// console, which is answered from inside the dispatch.
const std::string& WS_LastAnswerText();
bool WS_Message(int requester, const std::string& text);
std::string WS_Dialog(int requester, const WorkstationPacket& r, const std::string& prompt,
                      const std::string& second);
std::string WS_Exchange(int requester, const std::string& bytes);

} // namespace tollan
