#pragma once
// The transaction file's lines: what the terminal has authorised and not yet reported, as
// 70-character lines for the card centre, one file per workstation, the transactions grouped by
// the first six digits of the card number; and the report of the same transactions for trans.log.
// Bytes only: whoever builds a file (dialogues/transfile_build.h) hands in the settings. Texts are
// Windows-1252 bytes.

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
    std::string AcceptorId;   // the acceptor id (element 42) of the file's workstation
    std::string SenderId;     // the group's sender, seven characters
    std::int64_t Number = 0;  // group 0: the file number; group k: file number x 100 + k
    std::int16_t Index = 0;
    std::int32_t Count = 0;
    std::int64_t Total = 0;   // hundredths, signed: cancellations count against it
    std::vector<std::string> Lines;
};

// What the file's headers and trailers say of the merchant and the workstation.
struct TransFileIds {
    std::string ReceiverId = "KK";
    std::string FirmaNimi;
    std::string TerminaliTunnus;
    std::string Tegevusala = "0000";   // the activity code element 18 sends for this workstation
    std::string Location;              // 40 characters, as element 43
};

// The file header (0), a group header (1), a group trailer (8) or the file trailer (9).
std::string KK_TransLine(int kind, const TransGroup& group, const TransFileIds& ids);
// The detail line of one transaction, its card number whole.
std::string KK_TransDetail(const TransRecord& t, std::string_view currencyCode);
// One line of the trans.log report.
std::string KK_ReportLine(const TransRecord& t);

// The card centre's verdict on a transaction file, read from its fixed columns.
struct ServerReply {
    std::string Message;   // columns 1-46, trailing spaces removed
    std::int32_t Number1 = 0;
    std::int16_t Status = 0;  // 1: the file was accepted
    std::int32_t Number2 = 0;
    double Amount = 0;        // in hundredths
};
ServerReply KK_ParseServerReply(std::string_view line);

} // namespace tollan
