#pragma once
// Building the transaction file from the table Trans, with the settings its lines name, and the
// trans.log report of an accepted one.

#include "protocol/transfile.h"
#include "store/db.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

// Builds the next file from `set` (Trans opened on iSentToojaamPAN): the unsent rows of the first
// workstation that has any and that may go in a file (in none yet, no cancellation awaiting its
// verdict), each bound to the file's number as it is read, inside the caller's database
// transaction. Appends the heading, the rule and one report line per transaction to `report`.
// False when there is no such row (no file number is taken), when the file number's count could
// not be saved, or when reading or binding fails (reported; the caller rolls back); `lines` is
// then empty. `marked`, when given, gets the file's number and the key of every row bound.
struct TransFileRows {
    std::int32_t number = 0;
    std::vector<std::pair<std::string, std::string>> keys;   // Toojaam, Trans: unique in Trans
};
bool KK_BuildTransFile(TransSet& set, std::vector<std::string>& lines, std::string& report,
                       TransFileRows* marked = nullptr);

// The next file number, counted on in "NextTransFileNr" (a fresh installation sends number 2).
// `saved` (when given) tells whether the count reached the disk; the failure is reported.
std::int32_t KK_TakeFileNumber(bool* saved = nullptr);
// The sender: "SenderID\key", else "POSnnn\FirmaTunnus", else "FirmaTunnus", with zeros to 7.
std::string KK_SenderId(std::string_view key, std::string_view toojaam);
// What the file of `toojaam` says of the merchant, as the settings have it now.
TransFileIds KK_TransFileIds(std::string_view toojaam);

// Appends the report and a line break to trans.log in the home folder (UTF-8, mode 0600). False
// on any file error; nothing else is reported.
bool KK_TransLogAppend(std::string_view report);

} // namespace tollan
