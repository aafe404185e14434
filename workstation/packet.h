#pragma once
// The bytes a workstation and the terminal exchange: the packet frame with its CRC, the numbers
// in little-endian form, and the fixed layouts of each packet's data. Texts are Windows-1252
// bytes; nothing here touches a socket or throws.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tollan {

// Packet types, both directions.
enum WsType : std::int16_t {
    wsError = 0,
    wsUnfinished = 2,
    wsBusy = 5,
    wsInfo = 6,
    wsDialogAnswer = 8,
    wsDialog = 10,
    wsPurchase = 18,
    wsCardQuery = 20,
    wsApproval = 22,
    wsCardInfo = 23,
    wsPrint = 24,
    wsCancel = 25,
};

inline constexpr int kWsHeaderSize = 28;

// One packet in memory, copied by value. Decoding fills the request fields, encoding takes the
// answer fields, so a flow answers a request by setting the answer fields of the same record.
struct WorkstationPacket {
    std::string Workstation;      // last three characters: the register number
    std::string WorkstationTrans;
    std::int16_t Word2 = 0;
    std::int16_t Word20 = 0;
    std::int16_t RequestType = 0;
    std::string RequestData;
    std::int16_t AnswerType = 0;
    std::string AnswerData;
    std::int16_t Requester = 0;   // 1..32 a socket, -9 the console
    // The whole text of an error answer; the wire carries its first 50 characters. Never encoded:
    // the terminal's own console shows it whole.
    std::string AnswerText;
};

// Packet bytes from the header and answer fields, CRC written in.
std::string WS_EncodePacket(const WorkstationPacket& r);
// Takes the first valid packet from the front of `text`: returns the characters consumed
// (garbage before the marker included) and removes them, or 0 when there is no valid packet yet
// (no marker, too short, incomplete, a negative length, CRC mismatch), leaving `text` unchanged.
int WS_DecodePacket(std::string& text, WorkstationPacket& r);

// Numbers as their little-endian bytes; a bool or a byte as one character; a text unchanged.
std::string Bin_Encode(std::int16_t v);
std::string Bin_Encode(std::int32_t v);
std::string Bin_Encode(std::int64_t v);   // also currency: amount x 10 000
std::string Bin_Encode(float v);
std::string Bin_Encode(double v);
std::string Bin_Encode(bool v);
std::string Bin_Encode(std::uint8_t v);
std::string Bin_Encode(std::string_view v);

// The value of type T from the first bytes of `text`; bytes missing at the end read as zero.
template <class T>
T Bin_Decode(std::string_view text, T = T{})
{
    if constexpr (std::is_same_v<T, std::string>) {
        return std::string(text);
    } else if constexpr (std::is_same_v<T, bool>) {
        return !text.empty() && text[0] != 0;
    } else {
        static_assert(std::endian::native == std::endian::little, "packet numbers are little-endian");
        unsigned char bytes[sizeof(T)] = {};
        for (std::size_t i = 0; i < sizeof(T) && i < text.size(); ++i)
            bytes[i] = static_cast<unsigned char>(text[i]); // little-endian on the wire and here
        T v;
        std::memcpy(&v, bytes, sizeof(T));
        return v;
    }
}

// Error answer (type 0), 54 bytes.
std::string WS_ErrorData(std::int16_t code, std::string_view text);
bool WS_ParseError(std::string_view data, std::int16_t& code, std::string& text);

// Card query (type 20) and card information (type 23, 320 bytes).
bool WS_ParseCardQuery(std::string_view data, std::string& cardNumber, std::string& second);
struct CardInfo {
    std::string PAN;
};
std::string WS_CardInfoData(const CardInfo& info, std::int16_t extension);

// Purchase request (type 18): 196 bytes and 67 per item.
struct PurchaseRequest {
    std::string Reference;
    std::int16_t Kind = 0;
    std::int32_t Date = 0;      // yyyymmdd
    std::int32_t Time = 0;      // hhnnss
    std::int64_t Amount = 0;    // currency
    std::int64_t Amount2 = 0;
    std::int64_t Amount3 = 0;
    std::string Text60;
    std::string PAN;
    std::string Text135;
    std::string CardData;
};
struct PurchaseItem {
    std::string ItemCode;
    std::string ItemText;
    std::int32_t ItemLong = 0;
    float ItemQuantity = 0;
    std::int64_t ItemAmount1 = 0;
    std::int64_t ItemAmount2 = 0;
    std::int64_t ItemAmount3 = 0;
};
// Items are indexed 1..m; index 0 exists and is unused. m is the upper index (0 when empty).
using PurchaseItems = std::vector<PurchaseItem>;
inline int WS_ItemCount(const PurchaseItems& items) { return items.empty() ? 0 : int(items.size()) - 1; }

inline constexpr int kWsPurchaseSize = 196;
inline constexpr int kWsItemSize = 67;
bool WS_DecodePurchase(std::string_view data, PurchaseRequest& q, PurchaseItems& items);
std::string WS_EncodePurchase(const PurchaseRequest& q, const PurchaseItems& items);

// Approval answer (type 22): 38 bytes and 16 per item.
struct Approval {
    std::int32_t Date = 0;
    std::int32_t Time = 0;
    std::int64_t Amount = 0;
};
std::string WS_ApprovalData(const Approval& a, const PurchaseItems& items);

// Dialogue prompt (type 10), 170 bytes: the prompt in 120, a second text in 50.
std::string WS_DialogData(std::string_view prompt, std::string_view second);
bool WS_ParseDialog(std::string_view data, std::string& prompt, std::string& second);
bool WS_ParseDialogNumber(std::string_view data, std::string& prompt, std::int16_t& number);

} // namespace tollan
