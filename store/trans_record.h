#pragma once
// One transaction as the flows, the messages, the transaction file and the receipts hand it on:
// the fields of a row of the table Trans, plus the card centre's verdict. Texts are Windows-1252.

#include <cstdint>
#include <string>

namespace tollan {

struct TransRecord {
    std::int16_t Type = 0;       // odd: a cancellation
    std::string PAN;
    std::int16_t WayOfUse = 0;
    std::int64_t Amount = 0;     // currency: amount x 10 000
    std::int32_t Date = 0;       // yyyymmdd
    std::int32_t Time = 0;       // hhnnss
    std::string AuthCode;
    std::int16_t POSCode = 0;
    std::int16_t ExpDate = 0;
    std::string STAN;
    std::string Track2;          // in memory only, for the authorisation: stored empty
    std::int16_t Track2Digit = -1;  // the digit of track-2 the transaction file carries; -1 none
    std::string Toojaam;
    std::string Trans;
    std::string OrigSTAN;        // a cancellation: the STAN of the purchase it cancels
    // PAN as stored is the masked number; the full one is sealed here (support/carddata.h) under
    // key KeyId until a file carrying it is accepted. In memory a flow holds the full number in PAN.
    std::string PanSealed;
    std::int32_t KeyId = 0;
    std::int32_t FileNr = 0;     // the transaction file that carries it (0: none yet, or refused)
    bool Pending = false;        // a cancellation sent to the card centre whose verdict is not in yet
    // Not stored: the card centre's element 39, two characters as they came ("00" approves); empty
    // when its response had none.
    std::string ResponseCode;
};

} // namespace tollan
