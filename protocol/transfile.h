#pragma once
// The transaction file: what the terminal has authorised and not yet reported, as 70-character
// lines for the card centre, one file per workstation, the transactions grouped by the first six
// digits of the card number. Alongside, the report of the same transactions for trans.log.
// Texts are Windows-1252 bytes.

#include "store/db.h"
#include "store/trans_record.h"
#include "support/text.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

inline constexpr std::size_t kTransLineWidth = 70;
inline constexpr std::string_view kTransReportHeading =
    "Kuup   Kell   Nr.   Kassa Kaart                  Summa Aut.k. T\xFC\xFCp";
inline constexpr std::string_view kTransReportRule =
    "------------------------------------------------------------------";   // 66

// One group of the file, or group 0 for the file as a whole.
struct TransGroup {
    std::string Key;          // first six characters of the card numbers; "xxxxxx" for group 0
    DateTime Created;
    std::string AcceptorId;   // KK_CardAcceptorId of the file's workstation
    std::int64_t Number = 0;  // group 0: the file number; group k: file number x 100 + k
    std::int16_t Index = 0;
    std::int32_t Count = 0;
    std::int64_t Total = 0;   // hundredths, signed: cancellations count against it
    std::vector<std::string> Lines;
};

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

// The file header (0), a group header (1), a group trailer (8) or the file trailer (9).
std::string KK_TransLine(int kind, std::string_view toojaam, const TransGroup& group);
// The detail line of one transaction; the first form reads the currency code itself.
std::string KK_TransDetail(const TransRecord& t);
std::string KK_TransDetail(const TransRecord& t, std::string_view currencyCode);
// One line of the trans.log report.
std::string KK_ReportLine(const TransRecord& t);
// The sender: "SenderID\key", else "POSnnn\FirmaTunnus", else "FirmaTunnus", with zeros to 7.
std::string KK_SenderId(std::string_view key, std::string_view toojaam);

// The card centre's verdict on a transaction file, read from its fixed columns.
struct ServerReply {
    std::string Message;   // columns 1-46, trailing spaces removed
    std::int32_t Number1 = 0;
    std::int16_t Status = 0;  // 1: the file was accepted
    std::int32_t Number2 = 0;
    double Amount = 0;        // in hundredths
};
ServerReply KK_ParseServerReply(std::string_view line);

// Appends the report and a line break to trans.log in the home folder (UTF-8, mode 0600: it holds
// card numbers). False on any file error; nothing else is reported.
bool KK_TransLogAppend(std::string_view report);

} // namespace tollan
