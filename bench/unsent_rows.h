#pragma once
// The unsent rows of the transaction-file benches: one workstation's purchases and some
// cancellations over a handful of card ranges, as a shop sees them, stored in one transaction.
// The same seed gives the same rows in every bench and every run.
#include "store/db.h"
#include "support/carddata.h"

#include <iterator>
#include <random>
#include <string>

namespace tollan::bench {

inline bool StoreUnsentRows(int rows)
{
    static const char* const ranges[] = {"400000", "410001", "427711", "454545", "490001", "510000", "520413", "535300"};
    std::mt19937 random(7);
    if (CardKey_Keys().empty())   // the full numbers are sealed as the terminal seals them
        CardKey_Use({CardKey_New({})});
    if (!Db_BeginTrans())
        return false;
    for (int i = 0; i < rows; ++i) {
        TransRecord t;
        t.Type = i % 17 == 0 ? 1 : 0;
        t.PAN = ranges[random() % std::size(ranges)];
        for (int d = 0; d < 10; ++d)
            t.PAN += char('0' + random() % 10);
        t.WayOfUse = 1;
        t.Amount = std::int64_t(random() % 1000000) * 100;
        t.Date = 20261206;
        t.Time = 100000 + i % 60000;
        t.AuthCode = "A" + std::to_string(i % 100000);
        t.POSCode = 2;
        t.ExpDate = 2812;
        t.STAN = std::to_string(i % 1000000);
        t.Track2 = t.PAN + "=28121010000012300000";
        t.Toojaam = "POS001";
        t.Trans = std::to_string(i);
        if (!Db_StoreTrans(t))
            return false;
    }
    return bool(Db_CommitTrans());
}

} // namespace tollan::bench
