#pragma once
// The five operations through which the card-centre dialogues talk: connect, send, wait for,
// receive, close. Each call reads "UseX25" afresh and goes over TCP on the given socket, or over
// X.25 through the modem (the socket is then unused: there is one serial port).

#include "links/socket.h"
#include "support/task.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tollan {

// Connects to the card-centre address named `linkName` ("Auth_Address", "Trans_Address"): up to three
// attempts, half a second apart; each failed attempt has been reported by its transport.
Task<bool> Link_Connect(Socket& socket, std::string linkName, double timeoutSeconds);
bool Link_Send(Socket& socket, std::string_view data);
// True as soon as the data waiting matches `pattern`; takes nothing.
Task<bool> Link_WaitFor(Socket& socket, std::string pattern, std::int16_t timeoutSeconds);
// Takes what is waiting, at most `max` (0: all); never waits.
std::string Link_Receive(Socket& socket, std::int32_t max);
void Link_Close(Socket& socket);

// True when "UseX25" selects the X.25 link.
bool Link_UsesX25();

} // namespace tollan
