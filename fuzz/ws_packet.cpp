// Workstation packets and every layout read from them.
#include "workstation/packet.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tollan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    WorkstationPacket p;
    while (WS_DecodePacket(text, p) > 0) {
        PurchaseRequest q;
        PurchaseItems items;
        WS_DecodePurchase(p.RequestData, q, items);
        std::int16_t code, number;
        std::string a, b;
        WS_ParseError(p.RequestData, code, a);
        WS_ParseCardQuery(p.RequestData, a, b);
        WS_ParseDialog(p.RequestData, a, b);
        WS_ParseDialogNumber(p.RequestData, a, number);
    }
    PurchaseRequest q;
    PurchaseItems items;
    WS_DecodePurchase(std::string_view(reinterpret_cast<const char*>(data), size), q, items);
    return 0;
}
