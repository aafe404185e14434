#pragma once
// Card data goes through one door: one helper masks a card number wherever a person sees it or a
// log keeps it, at most its first six and last four digits, the rest "*". Pure functions over
// Windows-1252 bytes.

#include <string>
#include <string_view>

namespace tollan {

// The card number as people may see it: at most its first six and last four digits, every other
// character "*" (a number of ten or fewer shows its last four only).
std::string Card_Mask(std::string_view pan);
// Whether a card number is masked already (holds "*").
bool Card_IsMasked(std::string_view pan);
// `text` with every card number in it masked: in a run of 13 or more digits all but its first six
// and last four, and after a card number's "=" or "D" (track-2 data) the rest of the track.
std::string Card_MaskText(std::string_view text);
// The digit of track-2 that the transaction file carries (column 70): the 13th character after the
// separator that ends the card number, -1 when the track is shorter.
int Card_Track2Digit(std::string_view track2);

} // namespace tollan
