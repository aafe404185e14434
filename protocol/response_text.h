#pragma once
// The Estonian texts of the card centre's response codes (element 39) and of the workstation
// error answer's codes. They reach the workstation's display, so they are Windows-1252 bytes,
// exactly as the terminal has always shown them.

#include <cstdint>
#include <string>
#include <string_view>

namespace tollan {

// The verdict's text; "Tundmatu kood: " and the code for a code not in the table.
std::string KK_ResponseText(std::int16_t code);
// The same for element 39 as it came: two digits are looked up, anything else ("N7") is unknown.
std::string KK_ResponseText(std::string_view code);
// The error answer's text; "Tundmatu veakood: " + code + " (lisainfo kaardikeskusest)" otherwise.
std::string KK_ErrorText(std::int16_t code);

} // namespace tollan
