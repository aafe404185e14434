#pragma once
// The X.25 link: a modem on a serial port dials the network's dial-in number, the network's PAD
// places the call to the card centre's X.25 address, and then the line carries the exchange. One
// serial port, so one X.25 connection at a time.

#include <cstdint>
#include <string>
#include <string_view>

class QSerialPort;
class QString;

namespace tollan {

// Hands the serial port to the link (closing an open one first); nullptr detaches it.
bool X25_Attach(QSerialPort* port);
bool X25_IsAttached();
// Resets and sets up the modem, dials, and calls the card centre: the script is the telephone
// number, the X.25 address, the network user and the password, joined by CR.
bool X25_Connect(std::string_view script);
// False, unreported, when the data does not fit into the free room of the output buffer.
bool X25_Send(std::string_view data);
bool X25_Poll();
bool X25_WaitFor(std::string_view pattern, std::int16_t timeoutSeconds);
std::string X25_Receive(std::int32_t max);
bool X25_Close();

// The output buffer's size, as the serial component has it.
inline constexpr std::int64_t kX25OutBufferSize = 512;

// The device of "X25\CommPort": a port number n is /dev/ttyS(n-1), anything else a device path.
QString X25_PortName(std::string_view commPort);
// Sets the port up from "X25\CommPort", "X25\Handshaking" and "X25\Settings"; false after a
// report when a setting cannot be used.
bool X25_SetUpPort(QSerialPort& port);

} // namespace tollan
