#pragma once
// The two requests that move money: a purchase (type 18) and the cancellation of one (type 25).
// Each is a coroutine that talks to the register through prompts and messages, asks the card
// centre, stores what was approved, has the register print the receipt, and returns the answer
// for the dispatcher to send. Several run at once, each with its own requester. A request repeated
// under its register's number is answered as the first was (transactions/repeats.h).

#include "store/db.h"
#include "store/trans_record.h"
#include "support/task.h"
#include "workstation/packet.h"
#include "workstation/requester.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tollan {

// Each returns the request with its answer set; `who` hears the prompts and the progress.
Task<WorkstationPacket> Trans_Purchase(WorkstationPacket r, Requester& who);
Task<WorkstationPacket> Trans_Cancel(WorkstationPacket r, Requester& who);

// The transaction record of a purchase request (consumes a STAN). False when the STAN could not
// be saved: the request must not go to the card centre under a number that may be handed out again.
bool Trans_FromRequest(const WorkstationPacket& r, const PurchaseRequest& q, TransRecord& t);
// The next system trace audit number, counted on in "NextNumber" (a fresh installation starts at 2).
// `saved` (when given) tells whether the counter was written; the failure is reported.
std::int32_t Trans_NextStan(bool* saved = nullptr);
// The current row of `set` into `t` (ResponseCode left as it is); marks the row sent when asked.
bool Trans_Read(TransSet& set, TransRecord& t, bool markSent);
// The row a cancellation of `key` from `workstation` names: by STAN from any register, else by the
// register's own transaction number. `sent` tells whether a file has carried it already.
bool Trans_FindOriginal(std::string_view workstation, std::string_view key, TransRecord& o, bool& sent);
// The 42 digits of element 90: the original's type, STAN, month and day, time and the two ids.
std::string Trans_OriginalData(const TransRecord& original);

// Finishes every cancellation whose verdict never came (the terminal stopped, the answer was
// lost): asks the card centre again with the repeat (0401) and stores what it says, so that each
// row matches the card centre. Returns how many got their verdict; the others wait for the next call.
Task<int> Trans_FinishPendingCancellations();

// Puts both flows into the dispatcher.
void Trans_InstallFlows();

} // namespace tollan
