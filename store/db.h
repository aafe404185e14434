#pragma once
// The transaction database: tollan.mdb in the home folder, SQLite through Qt SQL. It holds the
// table Trans (one row per approved transaction) and the event log Log. Db_Open opens it at
// start-up and it stays open for the whole run; everything reaches it through the functions here.
//
// In the file: booleans are -1 and 0 (true rows come first in an ascending index), texts UTF-8,
// date-times ISO local text, currency a decimal number of ten-thousandths. Commits are durable.

#include "store/trans_record.h"
#include "support/carddata.h"

#include <QSqlDatabase>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class QObject;

namespace tollan {

// The outcome of a write: on failure the engine's number and text (Windows-1252), for the caller
// to report or turn into an answer.
struct DbStatus {
    bool ok = true;
    std::int32_t number = 0;
    std::string description;
    explicit operator bool() const { return ok; }
};

// The engine's type codes, as the failure reports give them.
enum DbType : int {
    dbBoolean = 1,
    dbByte = 2,
    dbInteger = 3,   // 16-bit
    dbLong = 4,      // 32-bit
    dbCurrency = 5,
    dbDate = 8,
    dbText = 10,
    dbMemo = 12,     // text of any length
};

// Index flag bits.
constexpr int dbIndexPrimary = 1;
constexpr int dbIndexUnique = 2;

struct DbFieldDef {
    std::string name;
    int type = 0;
    int size = 0;
};

struct DbIndexDef {
    std::string name;
    std::string keys;   // "+Date;+Time"
    int flags = 0;
};

// A table definition: a table of the database, or a new one not yet added (`stored` false), whose
// fields and indexes are collected until Db_AppendTable creates it in one step.
struct DbTableDef {
    QSqlDatabase db;
    std::string name;
    bool stored = false;
    std::vector<DbFieldDef> fields;    // new definitions only
    std::vector<DbIndexDef> indexes;   // new definitions only
};

// Opens tollan.mdb in the home folder, creating it when missing, and adds what is missing of the
// tables Log and Trans. False when the file can neither be opened nor created (the failure goes to
// the error log); every later operation then fails with its cause and the program goes on.
bool Db_Open();
// Counts the openings of the database: what is known of its rows outside them holds for one opening.
int Db_Opening();
// The open database (an invalid connection before Db_Open).
QSqlDatabase Db_Database();
bool Db_IsOpen(const QSqlDatabase& db);
bool Db_TableExists(const QSqlDatabase& db, std::string_view table);

// The definition of an existing table, or a new empty one of that name.
DbTableDef Db_TableDef(const QSqlDatabase& db, std::string_view table);
bool Db_FieldMatches(const DbTableDef& def, std::string_view field, int type, int size);
// False after an Err_Report ("viga uue välja lisamisel").
bool Db_EnsureField(DbTableDef& def, std::string_view field, int type, int size);
bool Db_IndexMatches(const DbTableDef& def, std::string_view index, std::string_view keys, int flags);
// False after an Err_Report ("viga uue indeksi lisamisel").
bool Db_EnsureIndex(DbTableDef& def, std::string_view index, std::string_view keys, int flags);
// Creates a new table with the fields and indexes collected in `def`; false after a report.
bool Db_AppendTable(DbTableDef& def);

// Whether any row or file holds a card number sealed under a card key (a missing key file is then
// never replaced by a new key).
bool Db_HoldsSealedCardData();
// Brings older rows up to how card data is kept (the number masked, an unsent one's full number
// sealed, no track data; then the old texts are wiped from the file) and checks that the key set in
// force opens every sealed row. False after a report ("Kaardiandmete võti puudub") when it does
// not; the key set is then marked unusable.
bool Db_SecureCardData();

// Seals every kept card number (rows and a file in flight) again under `to`, in one transaction;
// `progress` hears (done, total) now and then. False with the cause in `why`; nothing is changed
// then. A row whose number the keys in force cannot open stops it.
bool Db_Reseal(const CardKey& to, const std::function<void(std::int64_t done, std::int64_t total)>& progress,
               std::string& why);
// The ids of the keys that sealed rows or files still need.
std::vector<int> Db_KeysInUse();

// Whether a row can be written now: false (with the cause) when the database is not open or was
// opened read-only (the file could not be opened for writing at start-up). A flow asks before the
// card centre approves a payment that could never be recorded.
DbStatus Db_Writable();

// The number of Trans rows not yet sent, counted in the index: the walk of Db_CountUnsent would
// hold the program for half a second over 100 000 unsent rows.
std::int32_t Db_UnsentCount();

// Whether a Trans row of this Toojaam and Trans is stored: one look into the unique index.
bool Db_TransExists(std::string_view toojaam, std::string_view trans);

// Whether a cancellation of the purchase `original` is stored: a purchase is reversed once.
bool Db_Cancelled(const TransRecord& original);

// Sets sent true on the row of this Toojaam and Trans (inside the caller's transaction).
DbStatus Db_MarkSent(std::string_view toojaam, std::string_view trans);

// Writes one Trans row (sent false). The unique index refuses a second row of the same Toojaam
// and Trans. A row with Pending set is a cancellation whose 0400 is about to leave: it goes in no
// file and counts as no transaction until Db_CompletePending or Db_DropPending settles it.
DbStatus Db_StoreTrans(const TransRecord& t);
// The full card number of a row: its own when the record holds it (a flow's), else the sealed one
// opened; nothing when that cannot be (no such key in force, a changed byte, erased after its file).
std::optional<std::string> Db_CardNumber(const TransRecord& t);
// The card centre approved the pending cancellation of t's Toojaam and Trans: it becomes an
// ordinary row with t's authorisation code. Fails when there is no such pending row.
DbStatus Db_CompletePending(const TransRecord& t);
// The card centre declined it, or never heard of it: the pending row goes.
DbStatus Db_DropPending(const TransRecord& t);
// Every pending cancellation, oldest register and number first.
std::vector<TransRecord> Db_PendingCancellations();

// The Log object name: "System" without a component, else its objectName, with "(index)" when
// the component is an element of a component array (it carries the dynamic property "index").
std::string Log_ObjectName(const QObject* component);
// Writes one Log row: now, the object name, the first 100 characters of `text` (Windows-1252).
// Log rows survive the roll-back of a database transaction.
DbStatus Log_Event(const QObject* component, std::string_view text);
DbStatus Log_Event(std::string_view text);
// For callers that know the name rather than a component: index < 0 means no index.
DbStatus Log_EventNamed(std::string_view name, int index, std::string_view text);

// One database transaction at a time; it covers the sent marks made through a TransSet. Rows
// written meanwhile by Db_StoreTrans and Log_Event take effect whatever the outcome: a roll-back
// undoes only the sent marks.
DbStatus Db_BeginTrans();
DbStatus Db_CommitTrans();
DbStatus Db_Rollback();
bool Db_InTransaction();

// A key value for TransSet::seek: booleans as -1/0, numbers, or Windows-1252 texts.
struct DbKey {
    std::variant<std::int64_t, std::string> value;
    DbKey(bool b) : value(std::int64_t(b ? -1 : 0)) {}
    DbKey(int n) : value(std::int64_t(n)) {}
    DbKey(std::int64_t n) : value(n) {}
    DbKey(const char* s) : value(std::string(s)) {}
    DbKey(std::string_view s) : value(std::string(s)) {}
    DbKey(const std::string& s) : value(s) {}
};

// Table Trans opened on one of its indexes, moving through the rows in that index's order (ties
// in table order). The rows are those present when the set was positioned (open or seek).
class TransSet {
public:
    TransSet();
    ~TransSet();
    TransSet(TransSet&&) noexcept;
    TransSet& operator=(TransSet&&) noexcept;

    // Sets the current index ("iSentToojaamPAN", ...) and goes to its first row. False for an
    // index that Trans does not have, or when the database cannot be read.
    bool open(std::string_view index);
    // Positions on the first row whose leading key fields compare to `key` as `comparison` says
    // ("=", ">=" or ">"). False (and noMatch) when there is none.
    bool seek(std::string_view comparison, const std::vector<DbKey>& key);
    bool noMatch() const;
    bool eof() const;
    bool moveNext();

    const TransRecord& record() const;
    bool sent() const;
    // Sets sent true on the current row (inside the caller's transaction, when one is open).
    DbStatus markSent();
    // From the next open or seek on, only the rows a new transaction file may take.
    void onlyReadyToSend();
    // Binds the current row to transaction file `fileNr` (inside the caller's transaction).
    DbStatus bindToFile(std::int32_t fileNr);
    // The cause of the last failed open, seek or move.
    const DbStatus& status() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The current row of `set` as the flows and the transaction file read it: text columns without
// trailing spaces.
TransRecord Db_ReadTrans(const TransSet& set);

// From the current row on, the number of rows before the first one already sent or the end;
// the set is left after them.
std::int32_t Db_CountUnsent(TransSet& set);

} // namespace tollan
