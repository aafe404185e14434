#include "workstation/packet.h"

#include "protocol/frame.h"
#include "support/text.h"

#include <algorithm>
#include <cmath>

namespace tollan {

namespace {

template <class T>
std::string LittleEndian(T v)
{
    static_assert(std::endian::native == std::endian::little, "packet numbers are little-endian");
    std::string out(sizeof(T), '\0');
    std::memcpy(out.data(), &v, sizeof(T));
    return out;
}

// Characters `from` (1-based) for `count`, as far as the data reaches.
std::string_view Field(std::string_view data, std::size_t from, std::size_t count)
{
    if (from - 1 >= data.size())
        return {};
    return data.substr(from - 1, count);
}

std::string TrimRight(std::string_view t)
{
    std::size_t n = t.size();
    while (n > 0 && t[n - 1] == ' ')
        --n;
    return std::string(t.substr(0, n));
}

std::string TextField(std::string_view data, std::size_t from, std::size_t count)
{
    return TrimRight(Field(data, from, count));
}

template <class T>
T NumberField(std::string_view data, std::size_t from)
{
    return Bin_Decode<T>(Field(data, from, sizeof(T)));
}

// Writes `bytes` over `out` from position `from` (1-based); the caller sized `out` for the layout.
void Put(std::string& out, std::size_t from, std::string_view bytes)
{
    std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(from - 1));
}

void PutText(std::string& out, std::size_t from, std::string_view text, int width)
{
    Put(out, from, Str_Align(text, width, 1));
}

} // namespace

std::string Bin_Encode(std::int16_t v) { return LittleEndian(v); }
std::string Bin_Encode(std::int32_t v) { return LittleEndian(v); }
std::string Bin_Encode(std::int64_t v) { return LittleEndian(v); }
std::string Bin_Encode(float v) { return LittleEndian(v); }
std::string Bin_Encode(double v) { return LittleEndian(v); }
// A true boolean is -1 on the workstation side, so it travels as 0xFF.
std::string Bin_Encode(bool v) { return std::string(1, v ? '\xFF' : '\0'); }
std::string Bin_Encode(std::uint8_t v) { return std::string(1, static_cast<char>(v)); }
std::string Bin_Encode(std::string_view v) { return std::string(v); }

std::string WS_EncodePacket(const WorkstationPacket& r)
{
    std::string out(kWsHeaderSize, '\0');
    out.reserve(kWsHeaderSize + r.AnswerData.size());
    out[0] = out[1] = '\xFF';
    Put(out, 3, Bin_Encode(r.Word2));
    Put(out, 5, std::string_view(r.Workstation).substr(0, 8));
    Put(out, 13, std::string_view(r.WorkstationTrans).substr(0, 8));
    Put(out, 21, Bin_Encode(r.Word20));
    Put(out, 25, Bin_Encode(r.AnswerType));
    // The length travels in 16 bits; a flow never builds data near that size.
    Put(out, 27, Bin_Encode(static_cast<std::int16_t>(r.AnswerData.size())));
    out += r.AnswerData;
    Put(out, 23, Bin_Encode(static_cast<std::int16_t>(KK_Crc16(out))));
    return out;
}

int WS_DecodePacket(std::string& text, WorkstationPacket& r)
{
    const std::size_t p = text.find("\xFF\xFF");
    if (p == std::string::npos)
        return 0;
    const std::string_view s = std::string_view(text).substr(p);
    if (s.size() <= 27)
        return 0;
    // The length is a signed 16-bit number on the wire; a negative one never makes a packet.
    const int n = NumberField<std::int16_t>(s, 27);
    if (n < 0)
        return 0;
    const std::size_t size = static_cast<std::size_t>(n) + kWsHeaderSize;
    if (s.size() < size)
        return 0;
    const std::string_view packet = s.substr(0, size);
    r.Word2 = NumberField<std::int16_t>(packet, 3);
    r.Workstation = std::string(Field(packet, 5, 8));
    r.WorkstationTrans = std::string(Field(packet, 13, 8));
    r.Word20 = NumberField<std::int16_t>(packet, 21);
    r.RequestType = NumberField<std::int16_t>(packet, 25);
    r.RequestData = std::string(packet.substr(kWsHeaderSize));
    // The CRC covers the packet with its own two positions as zero bytes.
    const std::uint16_t crc = NumberField<std::uint16_t>(packet, 23);
    std::uint16_t c = KK_Crc16(packet.substr(0, 22));
    c = KK_Crc16(std::string_view("\0\0", 2), c);
    c = KK_Crc16(packet.substr(24), c);
    if (c != crc)
        return 0;
    const std::size_t consumed = p + size;
    text.erase(0, consumed);
    return static_cast<int>(consumed);
}

std::string WS_ErrorData(std::int16_t code, std::string_view text)
{
    return Bin_Encode(code) + Str_Align(text, 50, 1) + Bin_Encode(std::int16_t(0));
}

bool WS_ParseError(std::string_view data, std::int16_t& code, std::string& text)
{
    code = NumberField<std::int16_t>(data, 1);
    text = TextField(data, 3, 50);
    return true;
}

bool WS_ParseCardQuery(std::string_view data, std::string& cardNumber, std::string& second)
{
    cardNumber = TextField(data, 1, 25);
    second = TextField(data, 26, 10);
    return true;
}

std::string WS_CardInfoData(const CardInfo& info, std::int16_t extension)
{
    // The extension (flag 256) is never sent: positions 71-72 hold 0 whatever the flag says.
    (void)extension;
    std::string out(320, '\0');
    PutText(out, 1, info.PAN, 25);
    PutText(out, 46, "(Pole k\xE4ttesaadav)", 25);
    return out;
}

bool WS_DecodePurchase(std::string_view d, PurchaseRequest& q, PurchaseItems& items)
{
    if (d.size() < static_cast<std::size_t>(kWsPurchaseSize))
        return false;
    q.Reference = TextField(d, 1, 25);
    q.Kind = NumberField<std::int16_t>(d, 26);
    q.Date = NumberField<std::int32_t>(d, 28);
    q.Time = NumberField<std::int32_t>(d, 32);
    q.Amount = NumberField<std::int64_t>(d, 36);
    q.Amount2 = NumberField<std::int64_t>(d, 44);
    q.Amount3 = NumberField<std::int64_t>(d, 52);
    q.Text60 = TextField(d, 60, 50);
    q.PAN = TextField(d, 110, 25);
    q.Text135 = TextField(d, 135, 10);
    q.CardData = TextField(d, 145, 50);
    const int m = NumberField<std::int16_t>(d, 195);
    std::string_view rest = d.substr(kWsPurchaseSize);
    // A negative count would size the array below its unused index 0.
    if (m < 0 || rest.size() / kWsItemSize < static_cast<std::size_t>(m))
        return false;
    items.assign(static_cast<std::size_t>(m) + 1, PurchaseItem{});
    for (int i = 1; i <= m; ++i) {
        PurchaseItem& it = items[static_cast<std::size_t>(i)];
        it.ItemCode = TextField(rest, 1, 10);
        it.ItemText = TextField(rest, 11, 25);
        it.ItemLong = NumberField<std::int32_t>(rest, 36);
        it.ItemQuantity = NumberField<float>(rest, 40);
        it.ItemAmount1 = NumberField<std::int64_t>(rest, 44);
        it.ItemAmount2 = NumberField<std::int64_t>(rest, 52);
        it.ItemAmount3 = NumberField<std::int64_t>(rest, 60);
        rest.remove_prefix(kWsItemSize);
    }
    return true;
}

std::string WS_EncodePurchase(const PurchaseRequest& q, const PurchaseItems& items)
{
    const int m = WS_ItemCount(items);
    std::string out(kWsPurchaseSize, '\0');
    out.reserve(kWsPurchaseSize + static_cast<std::size_t>(m) * kWsItemSize);
    PutText(out, 1, q.Reference, 25);
    Put(out, 26, Bin_Encode(q.Kind));
    Put(out, 28, Bin_Encode(q.Date));
    Put(out, 32, Bin_Encode(q.Time));
    Put(out, 36, Bin_Encode(q.Amount));
    Put(out, 44, Bin_Encode(q.Amount2));
    Put(out, 52, Bin_Encode(q.Amount3));
    PutText(out, 60, q.Text60, 50);
    PutText(out, 110, q.PAN, 25);
    PutText(out, 135, q.Text135, 10);
    PutText(out, 145, q.CardData, 50);
    Put(out, 195, Bin_Encode(static_cast<std::int16_t>(m)));
    for (int i = 1; i <= m; ++i) {
        const PurchaseItem& it = items[static_cast<std::size_t>(i)];
        std::string block(kWsItemSize, '\0');
        PutText(block, 1, it.ItemCode, 10);
        PutText(block, 11, it.ItemText, 25);
        Put(block, 36, Bin_Encode(it.ItemLong));
        Put(block, 40, Bin_Encode(it.ItemQuantity));
        Put(block, 44, Bin_Encode(it.ItemAmount1));
        Put(block, 52, Bin_Encode(it.ItemAmount2));
        Put(block, 60, Bin_Encode(it.ItemAmount3));
        out += block;
    }
    return out;
}

std::string WS_ApprovalData(const Approval& a, const PurchaseItems& items)
{
    const int m = WS_ItemCount(items);
    std::string out(38, '\0');
    Put(out, 3, Bin_Encode(a.Date));
    Put(out, 7, Bin_Encode(a.Time));
    Put(out, 11, Bin_Encode(a.Amount));
    Put(out, 19, Bin_Encode(a.Amount));
    Put(out, 27, Bin_Encode(a.Amount));
    Put(out, 35, Bin_Encode(std::int16_t(-1)));
    Put(out, 37, Bin_Encode(static_cast<std::int16_t>(m)));
    for (int i = 1; i <= m; ++i) {
        const PurchaseItem& it = items[static_cast<std::size_t>(i)];
        out += Bin_Encode(it.ItemAmount2);
        out += Bin_Encode(it.ItemAmount3);
    }
    return out;
}

std::string WS_DialogData(std::string_view prompt, std::string_view second)
{
    return Str_Align(prompt, 120, 1) + Str_Align(second, 50, 1);
}

bool WS_ParseDialog(std::string_view data, std::string& prompt, std::string& second)
{
    prompt = TextField(data, 1, 120);
    second = TextField(data, 121, 50);
    return true;
}

bool WS_ParseDialogNumber(std::string_view data, std::string& prompt, std::int16_t& number)
{
    std::string second;
    WS_ParseDialog(data, prompt, second);
    const double v = Num_Value(second);
    number = std::isfinite(v) ? static_cast<std::int16_t>(std::clamp(std::trunc(v), -32768.0, 32767.0))
                              : std::int16_t(0);
    return true;
}

} // namespace tollan
