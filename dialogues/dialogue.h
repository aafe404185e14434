#pragma once
// The two conversations with the card centre, each over a link of its own: the authorisation (one
// framed request, answered within 15 seconds or sent once more as the repeat) and the transaction
// file (lines under ACK/NAK, then the verdict); and the loop that sends every file waiting. Each is
// a coroutine: its waits are the request's, and other requests go on meanwhile, each with its own
// connection over TCP or TLS. Over X.25 the one line carries one dialogue at a time: the others
// wait for it in the order they asked.

#include "protocol/transfile.h"
#include "support/requesters.h"
#include "support/task.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

// Who hears how a dialogue goes, and for whom it runs.
struct DialogueListener {
    int who = kRequesterScheduled;                        // waits for the X.25 line under this number
    std::function<void(const std::string& cp1252)> progress;   // "Loon ühendust...", ...
    std::function<bool()> present;                        // still there for the answer; empty: always
};

struct AuthResult {
    bool answered = false;   // a valid response of the right type came
    bool sent = false;       // the request left: a request that never left cannot have been approved
    std::string response;    // the body after its message type
};

// Sends the request `body` of message type 100 or 400 and takes the response body. With
// `repeatFirst` the repeat (0101, 0401) goes from the first sending: for a request that may have
// reached the card centre before the terminal stopped.
Task<AuthResult> KK_Authorize(int messageType, std::string body, DialogueListener listener, bool repeatFirst = false);

// Sends one file; true when the card centre accepted it. `report` gets "Server said: ..." added.
// `onVerdict` is awaited the moment the verdict arrives, before the acknowledgement goes.
Task<bool> KK_SendTransFile(std::vector<std::string> lines, std::string& report,
                            std::function<Task<void>(const ServerReply&)> onVerdict = {});

// Sends every file the unsent transactions make. Each file is recorded with its rows bound to its
// number before it leaves, and its verdict recorded as it arrives: a file whose verdict did not
// come (or could not be recorded) goes again first, at the next call or after a restart, under
// its own number and with its own lines. An accepted file is then logged to trans.log and dated
// in "LastSent_TransFile"; the first refusal releases its rows and stops. Returns the number of
// files the card centre accepted. With `onlyInFlight` it sends the file in flight, if any, and
// builds no new one (what a start finishes before the next send time).
Task<int> KK_SendTransFiles(bool onlyInFlight = false);

// Appends "dd.mm.yy hh:nn:ss", a tab and `text` to debug.log in the home folder (mode 0600).
bool KK_DebugLog(std::string_view text);

} // namespace tollan
