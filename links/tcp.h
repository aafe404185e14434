#pragma once
// The TCP link: card-centre traffic over a socket of its own for each dialogue, and the receive,
// send and close of the workstation connections. Waits are the request's co_awaits; every failure
// the operator should see is reported through Err_Report.

#include "links/socket.h"
#include "support/task.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tollan {

// Connects to "host:port", waiting at most `timeoutSeconds` (-1: until connected or closed).
Task<bool> Tcp_Connect(Socket& socket, std::string address, double timeoutSeconds);
// Sends when still connected; false, unreported, otherwise.
bool Tcp_Send(Socket& socket, std::string_view data);
// True once the data waiting (not taken) matches `pattern`; false after a report at the time-out
// or when the connection has gone.
Task<bool> Tcp_WaitFor(Socket& socket, std::string pattern, std::int16_t timeoutSeconds);
// Takes what is waiting, at most `max` bytes (0: all); never waits.
std::string Tcp_Receive(Socket& socket, std::int32_t max);
// Clears the tag and closes, counting the link out of the dial-up connection if it was up.
bool Tcp_Close(Socket& socket);

// The card-centre sockets' own handling of their events: the peer's close closes our side (once
// the dialogue has taken what arrived before it); an
// error is logged against the socket, recorded with `message` without being shown, and the socket
// is closed directly (the tag stays and the dial-up count is not touched).
inline constexpr const char* kMsgAuthSocket = "Viga tehingu autoriseerijas";
inline constexpr const char* kMsgFileSocket = "Viga tehingute loetelu saatjas";
void Tcp_CardCentreClose(Socket& socket);
void Tcp_CardCentreError(Socket& socket, int number, std::string_view description, bool* cancelDisplay,
                         std::string_view message);
// Connects both handlers to the socket's events.
void Tcp_HandleCardCentreEvents(Socket& socket, std::string_view message);

} // namespace tollan
