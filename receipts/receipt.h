#pragma once
// The receipt of an approved purchase or cancellation. The terminal has no receipt printer: the
// workstation that asked prints it, twice, both copies with the card number masked (a template
// may name {PANfull}: the shop's choice), each copy a print request (type 24) answered through the
// workstation dialogue.

#include "store/trans_record.h"
#include "support/task.h"
#include "workstation/packet.h"
#include "workstation/requester.h"

#include <string>
#include <string_view>

namespace tollan {

// A packet carries at most this many data bytes: its length travels as a signed 16-bit number.
inline constexpr std::size_t kReceiptMaxText = 32767;

// The receipt values (a parameter list) of `t`: "PAN" and "PANhidden" the masked card number,
// "PANfull" the number as `t` holds it (a flow's: the full one). `origStan` is the
// STAN of the transaction a cancellation reverses, empty for a purchase.
std::string Receipt_Values(const TransRecord& t, std::string_view origStan);
// "POSnnn\PrintSuccess", then "PrintSuccess" (a cancellation: "PrintReversal"), then the built-in one.
std::string Receipt_Template(const TransRecord& t);
// Has the requester print both copies; true when both were printed. The second copy is sent
// whatever became of the first. `request` is the request being served: its header goes on the
// print requests.
Task<bool> Receipt_Print(Requester& who, const WorkstationPacket& request, const TransRecord& t,
                         std::string_view cancelledStan);

} // namespace tollan
