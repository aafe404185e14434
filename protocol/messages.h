#pragma once
// The authorisation messages to the card centre: 0100 (authorisation) and 0400 (reversal), laid out
// as ISO 8583 (1987): bitmaps, then the data elements in ascending order, numbers in packed BCD.
// Bodies here carry no message type: the dialogue puts the packed type in front, and hands the
// response back without it. Texts are Windows-1252 bytes.

#include "store/trans_record.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tollan {

// The bitmaps the flows send: primary bytes 0..7, then the secondary bytes 8..15.
// 0100: elements 2, 3, 4, 7, 11, 14, 18, 35, 41, 42, 43, 49.
inline const std::string kKK_Bitmap0100{"\x72\x24\x40\x00\x20\xE0\x80\x00"
                                        "\x00\x00\x00\x00\x00\x00\x00\x00", 16};
// 0400: elements 1, 2, 3, 4, 7, 11, 18, 38, 39, 41, 42, 43, 47, 49, 90.
inline const std::string kKK_Bitmap0400{"\xF2\x20\x40\x00\x06\xE2\x80\x00"
                                        "\x00\x00\x00\x40\x00\x00\x00\x00", 16};

// What the messages say of the merchant and the terminal, as the card centre knows them: read from
// the settings by whoever asks (the packer reads none).
struct MerchantIds {
    std::string ProtsKood = "000580";     // 3: processing code
    std::string AutoriseerijaID;          // 32
    std::string EdastajaID;               // 33
    std::string Tegevusala = "0000";      // 18: the merchant's activity code
    std::string TerminaliTunnus;          // 41
    std::string CardAcceptorId;           // 42: 12 characters (KK_CardAcceptorId)
    std::string Location;                 // 43: 40 characters (KK_LocationField)
    std::string Valuutakood = "233";      // 49
};

// Element types: 2 and 9 numeric (packed), 4, 7 and 8 characters sent as they are.
bool KK_IsNumericType(int type);
// True when element n (1..128) is set in the bitmap bytes (byte (n-1) div 8, bit 7 - (n-1) mod 8).
bool KK_BitSet(std::string_view bitmap, int n);

// The request body: the primary bitmap, then every known element whose bit is set. `bitmap` is the
// 16 bytes of the table above; `original` is element 90 of a reversal (42 digits).
std::string KK_BuildRequest(std::string_view bitmap, const TransRecord& t, const MerchantIds& ids,
                            std::string_view original = {});

// One element: a length prefix when variable, the value padded or cut to the width, numbers packed.
std::string KK_FormatField(int type, int width, bool fixed, std::string_view value);
// Reads one element from the front of `body` and removes its bytes. False, with `body` untouched,
// when the body ends before the element does or its length prefix is no number.
bool KK_ParseField(int type, int width, bool fixed, std::string_view& body, std::string& value);

// Runs of digits, CR and LF packed two to a byte (an odd run gains a leading 0); anything else is
// copied between the runs.
std::string KK_PackDigits(std::string_view text);
// The last `count` characters of what the bytes of `body` unpack to, walking only as many bytes as
// it takes; those bytes are removed. A packed nibble D reads back as "=" (track-2's separator, sent
// as CR). False, with `body` untouched, when the body ends first.
bool KK_UnpackDigits(std::string_view& body, int count, std::string& digits);

// The one verdict of element 39 that approves; any other two characters decline.
inline constexpr std::string_view kKK_Approved = "00";

// Fills the record from a response body (everything after the message type). False when the body
// cannot be read as a whole: it ends before the elements its bitmap names, or names an element the
// response table does not know. Then the record is left as it was. A complete response without
// element 39 leaves ResponseCode empty: it says neither yes nor no.
bool KK_DecodeResponse(std::string_view body, TransRecord& t, int currentYear, int currentMonth);
// The same, with the year and month of the clock.
bool KK_DecodeResponse(std::string_view body, TransRecord& t);
// The message body (a request's, or a response's) with the card number (2) and track-2 (35) shown
// masked: each hidden digit the packed nibble F, so the elements keep their places, for debug.log.
// A body that cannot be walked has every long run of packed digits and of digits masked instead.
std::string KK_MaskCardElements(std::string_view body, bool request);
// Element 7 carries month and day only: the year of a received month, seen from the current one.
int KK_ResponseYear(int receivedMonth, int currentYear, int currentMonth);

// 12 characters: the first 9 of the firm's registry number, then the workstation's last three.
std::string KK_CardAcceptorId(std::string_view firmaRegNr, std::string_view toojaam);
// 40 characters: "38" and the firm's place in 38.
std::string KK_LocationField(std::string_view place);

// An amount (currency, ten-thousandths) in the card centre's hundredths: a fraction of a hundredth
// is cut down. The authorisation and the transaction file both carry this, so they agree.
std::int64_t KK_Cents(std::int64_t amount);

// The last three characters of a workstation name (all of it when shorter).
std::string_view KK_PosNumber(std::string_view toojaam);
// `v` in decimal with at least `digits` digits, "-" in front of a negative value: the card centre's
// "000000" pictures.
std::string KK_Number(std::int64_t v, int digits);

} // namespace tollan
