#pragma once
// Framing of card-centre messages: the full frame (length, escaping, check type, check) for the
// authorisation messages and the simple frame for the transaction-file lines. Pure functions over
// byte texts (each char one code 0..255); nothing here keeps state or throws.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

inline constexpr char KK_SOH = '\x01';
inline constexpr char KK_CR = '\x0D';

// One-character additive check, a character 32..95. Empty when the signed 16-bit sum overflows:
// such a text cannot be checked, so nothing may be framed or accepted with it.
std::optional<char> KK_CheckChar(std::string_view text);
// CRC-16 with polynomial 0x1021, initial 0, most significant bit first, no final XOR.
// `crc` carries on a CRC over text that went before, so a packet can be checked in pieces.
std::uint16_t KK_Crc16(std::string_view text, std::uint16_t crc = 0);
// The three CRC characters, high part first.
std::string KK_CrcCheck(std::string_view text);

// Every code 0..255 becomes one to three printable characters (32..126).
std::string KK_Escape(std::string_view payload);
// The payload of an escaped text; empty optional when a prefix stands at the very end.
std::optional<std::string> KK_Unescape(std::string_view text);

// Full frame with check type "1"; an empty text when the check would overflow (a real frame is
// never empty).
std::string KK_Frame(std::string_view payload);
// The payload of a received full frame, or an empty text when the frame is not valid.
std::string KK_Unframe(std::string_view frame);

// The payloads of every valid full frame in `data`, in order: a frame is found by its SOH and the
// length its two length characters give, so noise between frames, an invalid frame and whatever
// follows the last one (a CR LF) are passed over.
std::vector<std::string> KK_UnframeAll(std::string_view data);

// SOH, text, check character, CR; an empty text on check overflow.
std::string KK_FrameSimple(std::string_view text);
// The text of a received simple frame, or an empty text when the frame is not valid.
std::string KK_UnframeSimple(std::string_view frame);

} // namespace tollan
