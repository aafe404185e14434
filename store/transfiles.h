#pragma once
// The transaction files in the table TransFile. A file is recorded in the same database transaction
// that binds its rows to its number, before a byte of it leaves; the card centre's verdict is
// recorded the moment it arrives. So a file whose verdict was lost (a kill, a power cut, a line
// that broke) goes again under its own number with its own lines, which the card centre knows for
// a repeat, and never again under another number, which it could not tell from a new file.

#include "store/db.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tollan {

struct TransFileRecord {
    std::int32_t Nr = 0;
    std::string Toojaam;
    std::vector<std::string> Lines;   // Windows-1252, as they go on the wire
    std::string Report;               // the text trans.log gets once the file is accepted
    bool Unreadable = false;          // its sealed lines cannot be opened with the keys in force
};

// Records a built file as in flight (inside the caller's transaction, with the rows' binding), its
// lines sealed under the card key.
DbStatus Db_RecordFile(const TransFileRecord& file);
// The file in flight, if there is one: built, maybe sent, its verdict not recorded.
std::optional<TransFileRecord> Db_FileInFlight();
// Records the card centre's verdict in one transaction: an accepted file's rows are sent, a
// refused file's rows are free for the next file. The lines are dropped either way; `report`
// (the card centre's words added) waits for trans.log.
DbStatus Db_RecordVerdict(std::int32_t nr, bool accepted, std::string_view verdictText, std::string_view report);
// The accepted files whose report is not in trans.log yet, oldest first.
std::vector<TransFileRecord> Db_FilesToLog();
DbStatus Db_FileLogged(std::int32_t nr);

} // namespace tollan
