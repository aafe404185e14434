#pragma once
// The X.25 link: a modem on the serial port dials the network's dial-in number, the network's PAD
// places the call to the card centre's X.25 address, and then the line carries the exchange as it
// is. There is one serial port, hence one X.25 call at a time (the dialogues take the line's marker
// for it). Until start-up has handed the port over, every operation fails quietly.

#include "support/task.h"

#include <cstdint>
#include <string>
#include <string_view>

class QSerialPort;
class QString;

namespace tollan {

// The output buffer's size, as the serial component has it by default; a send that does not fit
// into its free part is refused whole.
inline constexpr std::int64_t kX25OutBufferSize = 512;

// Closes an open port, then keeps `port` (nullptr detaches the link). The caller keeps ownership;
// a port destroyed later detaches the link by itself.
bool X25_Attach(QSerialPort* port);
bool X25_IsAttached();
// Resets and sets up the modem, dials, and has the PAD call the card centre. The script is the
// telephone number, the X.25 address, the network user and the password, joined by CR. True when
// the call is up; the port then stays open for the exchange. Whatever an earlier call left unread
// is discarded first.
Task<bool> X25_Connect(std::string script);
// False, unreported, when the data does not fit into the free room of the output buffer.
bool X25_Send(std::string_view data);
// Moves what the port has read into the receive buffer; true when there was something.
bool X25_Poll();
// True once the receive buffer matches `pattern`; takes nothing. False after a report at the
// time-out (seconds, -1: none) or when the port has closed.
Task<bool> X25_WaitFor(std::string pattern, std::int16_t timeoutSeconds);
// Takes at most `max` characters (0: all) from the front of the receive buffer; never waits.
std::string X25_Receive(std::int32_t max);
// Closes the port when it is open; false when not attached.
bool X25_Close();

// The device of "X25\CommPort": a port number n is /dev/ttyS(n-1), anything else a device path.
QString X25_PortName(std::string_view commPort);
// Sets the port up from "X25\CommPort", "X25\Handshaking" and "X25\Settings" (start-up, before the
// port is handed to the link); false after a report when a setting cannot be used, leaving the port
// as it was. The port is not opened here.
bool X25_SetUpPort(QSerialPort& port);

} // namespace tollan
