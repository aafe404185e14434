#pragma once
// A register that lost the answer to its request asks again under the same number. Such a repeat
// is answered as the first was: an approval from its stored row, a card centre's decline as it
// came, and a repeat that arrives while the first is still running waits for the first's answer.
// Nothing is authorised twice and no receipt is printed twice. The same number with other data
// (another kind, amount or card) is refused, as a number is used once.

#include "support/task.h"
#include "workstation/packet.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tollan {

// What makes two requests under one number the same: the kind (a purchase, or the cancellation of
// the purchase with this STAN), the amount and the card number.
struct RequestSameness {
    std::int16_t kind = 0;   // wsPurchase or wsCancel
    std::int64_t amount = 0;
    std::string pan;         // full, as the request gave it
    std::string origStan;    // a cancellation: the purchase it cancels
};

// The first request under its number, while it runs: Repeat_Finish hands its answer to the repeats
// waiting for it.
struct RepeatRun;

// When `r` repeats a request under its register's number, the answer it gets: the first's (an
// approval echoes `items` as the first did), or a refusal when its data differ. Nothing when it is a
// new request: `run` then marks it running, and the caller hands its answer to Repeat_Finish. A
// repeat of a request still running waits for it.
Task<std::optional<WorkstationPacket>> Repeat_Answer(WorkstationPacket r, RequestSameness same, PurchaseItems items,
                                                     std::shared_ptr<RepeatRun>& run);
// The first request's answer: the repeats waiting for it get it; a card centre's decline
// (`declinedByCentre`) is kept for later repeats, as no row holds it.
void Repeat_Finish(const std::shared_ptr<RepeatRun>& run, const WorkstationPacket& answered, bool declinedByCentre);

} // namespace tollan
