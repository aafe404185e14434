#pragma once
// The two conversations with the card centre, each over a link of its own: the authorisation (one
// framed request, answered within 15 seconds or sent once more as the repeat) and the transaction
// file (lines under ACK/NAK, then the verdict). And the loop that sends every file waiting.

#include "links/socket.h"
#include "protocol/transfile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

// The sockets of the main window that carry the two dialogues (WSTollanauth, WSTollanfile).
void KK_SetSockets(Socket* auth, Socket* file);

// Sends the request `body` of message type 100 or 400 and takes the response body (after its
// message type). Tells the requester how it goes. True when a valid response of the right type came.
bool KK_Authorize(int messageType, std::string_view body, std::string& response, int requester);

// Sends one file; true when the card centre accepted it. `report` gets "Server said: ..." added
// when the card centre says why it did not.
bool KK_SendTransFile(const std::vector<std::string>& lines, std::string& report);

// Sends every file that the unsent transactions make, one database transaction each: an accepted
// file is committed, then logged to trans.log and dated in "LastSent_TransFile"; the first refusal
// rolls its file back and stops. An accepted file whose commit fails is marked again and again; until
// its marks hold (at this call or a later one) no other file is sent. Returns the number of files
// the card centre accepted.
int KK_SendTransFiles();

// Appends "dd.mm.yy hh:nn:ss", a tab and `text` to debug.log in the home folder (mode 0600).
bool KK_DebugLog(std::string_view text);

} // namespace tollan
