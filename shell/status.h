#pragma once
// The unsent-transaction status of the main window: how many rows wait, and since when.

#include "support/text.h"

#include <cstdint>
#include <string>

namespace tollan {

// "0 saatmata päringut", "1 saatmata päring", "2 saatmata päringut" (Windows-1252).
std::string Status_CountText(std::int32_t count);
// A row's date and time: the locale's short date, then "hh:nn" (the one date form of the window).
std::string Status_SinceText(const DateTime& moment);
// The date of "LastSent_TransFile" (yyyymmdd) in the locale's short date form; "pole veel saadetud"
// for the setting's start value, before any file was accepted.
std::string Status_LastSentText(std::int32_t date);

struct UnsentStatus {
    std::int32_t count = 0;
    std::string since;  // "alates ..." or "pole veel saadetud"
};
// Reads the table Trans: the first unsent row in card-number order and the number of unsent rows.
UnsentStatus Status_Unsent();

} // namespace tollan
