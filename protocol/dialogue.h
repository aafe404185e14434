#pragma once
// The two conversations with the card centre, each over a link of its own: the authorisation (one
// framed request, answered within 15 seconds or sent once more as the repeat) and the transaction
// file (lines under ACK/NAK, then the verdict). And the loop that sends every file waiting.

#include "links/socket.h"
#include "protocol/transfile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

// The sockets of the main window that carry the two dialogues (WSTollanauth, WSTollanfile).
void KK_SetSockets(Socket* auth, Socket* file);

// Sends the request `body` of message type 100 or 400 and takes the response body (after its
// message type). Tells the requester how it goes. True when a valid response of the right type came.
// `sent` (when given) tells whether the request left at all: a request that never left cannot
// have been approved.
bool KK_Authorize(int messageType, std::string_view body, std::string& response, int requester,
                  bool* sent = nullptr);
// The same dialogue with the repeat (0101, 0401) from the first sending: for a request that may
// have reached the card centre before the terminal stopped.
bool KK_AuthorizeRepeat(int messageType, std::string_view body, std::string& response, int requester);

// Sends one file; true when the card centre accepted it. `report` gets "Server said: ..." added.
// `onVerdict` hears the verdict the moment it arrives, before the acknowledgement goes.
bool KK_SendTransFile(const std::vector<std::string>& lines, std::string& report,
                      const std::function<void(const ServerReply&)>& onVerdict = {});

// Sends every file the unsent transactions make. Each file is recorded with its rows bound to its
// number before it leaves, and its verdict recorded as it arrives: a file whose verdict did not
// come (or could not be recorded) goes again first, at the next call or after a restart, under
// its own number and with its own lines. An accepted file is then logged to trans.log and dated
// in "LastSent_TransFile"; the first refusal releases its rows and stops. Returns the number of
// files the card centre accepted. With `onlyInFlight` it sends the file in flight, if any, and
// builds no new one (what a start finishes before the next send time).
int KK_SendTransFiles(bool onlyInFlight = false);

// Appends "dd.mm.yy hh:nn:ss", a tab and `text` to debug.log in the home folder (mode 0600).
bool KK_DebugLog(std::string_view text);

} // namespace tollan
