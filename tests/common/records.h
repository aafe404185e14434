#pragma once
// A stored purchase as the store, the transaction file and the dialogues see one: every field
// filled as an approved card purchase fills it.
#include "store/trans_record.h"

#include <string>

namespace tollan::test {

inline TransRecord SampleTrans(std::string toojaam, std::string trans, std::string pan = "4000001234567899",
                               std::int64_t amount = 10000, std::int16_t type = 0)
{
    TransRecord t;
    t.Type = type;
    t.PAN = std::move(pan);
    t.WayOfUse = 1;
    t.Amount = amount;
    t.Date = 20261206;
    t.Time = 140359;
    t.AuthCode = "A1B2C3";
    t.POSCode = 2;
    t.ExpDate = 2812;
    t.STAN = "000123";
    t.Track2 = "4000001234567899=28121010000012300000";
    t.Toojaam = std::move(toojaam);
    t.Trans = std::move(trans);
    return t;
}

} // namespace tollan::test
