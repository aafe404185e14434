#pragma once
// The card of a payment: the card number and expiry read from a card text (track-2 data as a reader
// delivers it, or what the operator typed), the card number's check digit, the 50-character card
// data field of a purchase request, and the tests a purchase makes of the card. Texts are
// Windows-1252 bytes; the refusals go to the workstation's display as they are.

#include "support/text.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tollan {

inline constexpr std::string_view kCardBadForm = "Kaardi number on valel kujul!";
inline constexpr std::string_view kCardBadCheckDigit = "Kaardi kontrollsumma on vale!";
inline constexpr std::string_view kCardKeyedInRefused = "Kaardinumbrit pole lubatud k\xE4sitsi sisestada!";
inline constexpr std::string_view kCardExpired = "Kaart on kehtivusaja \xFCletanud!";
inline constexpr std::string_view kCardPresentMismatch =
    "Sisestatud numbrid erinevad kaardi magnetrajal olevatest!";
// The card-present prompt: the cashier types what is printed on the card.
inline constexpr std::string_view kCardPresentPrompt =
    "Kontroll: 4 viimast kaardinumbri kohta\r"
    "v\xF5i kehtivusaeg AAKK";

// The longest card number the card centre's element 2 carries.
inline constexpr int kCardMaxDigits = 19;

// -1 when `si` starts with a card number whose check digit is right (`so` is then that number),
// 0 otherwise (`so` is then the reason: kCardBadForm or kCardBadCheckDigit).
std::int16_t Kaart_GetRealNumber(std::string_view si, std::string& so);
// The check digit (mod 10, the rightmost digit doubled) that belongs after the digits `si`;
// -1 when `si` holds anything but digits.
std::int16_t Kaart_ControlSum(std::string_view si);
// The expiry YYMM as a number: the up to four digits after the separator that ends the card
// number; 0 when there is none.
std::int16_t Kaart_GetDate(std::string_view si);

// The card data field of a purchase request: 1-40 the card text, 41 the entry flag ("0": read from
// the card itself), 42-45 the expiry YYMM, 46-50 unused.
inline constexpr int kCardDataSize = 50;
struct CardDataField {
    std::string track2;        // positions 1-40, trailing spaces removed
    bool readFromCard = true;  // the flag reads as a number; a non-digit counts as "0"
    std::int16_t expDate = 0;  // YYMM
    std::string expiry;        // positions 42-45 as they stand, for the card-present answer
};
CardDataField CardData_Read(std::string_view field);
// The field the operator's own purchase sends for a card text: read from the card, with the expiry
// that Kaart_GetDate finds. Always kCardDataSize characters.
std::string CardData_FromCardText(std::string_view cardText);

// Bit 0 of POSCode: the card was read from the card itself; bit 1: the authorisation code was
// entered by hand after a telephone authorisation.
inline constexpr std::int16_t kPosReadFromCard = 1;
inline constexpr std::int16_t kPosPhoneAuth = 2;

// False when the card number was keyed in and "AllowManualPAN" forbids it.
bool Card_KeyedInAllowed(std::int16_t posCode);
// True when `now` is past the expiry month of YYMM `expDate`. An expiry that is no month of a
// year (0, negative, past four digits, month 0 or above 12) counts as expired. The caller skips the test for an
// empty track 2.
bool Card_Expired(std::int16_t expDate, const DateTime& now);
// True when the cashier's answer is exactly the last 4 characters of the card number or the
// expiry characters 42-45 of the card data field; an answer of other than 4 characters never is.
bool Card_PresentAnswerMatches(std::string_view answer, std::string_view pan, std::string_view cardDataField);

} // namespace tollan
