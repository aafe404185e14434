#include "store/db.h"

#include "support/clock.h"
#include "support/carddata.h"
#include "support/codepage.h"
#include "support/home.h"
#if __has_include("support/errors.h")
#include "support/errors.h"
#define TOLLAN_HAVE_ERRORS 1
#endif

#include <QFile>
#include <QObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

namespace tollan {
namespace {

const char* const kConnection = "tollan";

// The Trans fields in their table order, and the indexes; one place for the schema.
const DbFieldDef kLogFields[] = {
    {"Date", dbDate, 0}, {"Object", dbText, 50}, {"Message", dbText, 100}};
const DbFieldDef kTransFields[] = {
    {"Type", dbByte, 0},     {"PAN", dbText, 20},     {"WayOfUse", dbByte, 0},
    {"Amount", dbCurrency, 0}, {"Date", dbLong, 0},   {"Time", dbLong, 0},
    {"AuthCode", dbText, 6}, {"POSCode", dbByte, 0},  {"ExpDate", dbInteger, 0},
    {"STAN", dbText, 6},     {"Track2", dbText, 50},  {"sent", dbBoolean, 0},
    {"Toojaam", dbText, 8},  {"Trans", dbText, 8},   {"OrigSTAN", dbText, 6},
    // The file a row went in: bound when the file is built, so that a file whose verdict is lost
    // goes again under its own number with its own rows.
    {"FileNr", dbLong, 0},
    // A cancellation recorded before its 0400 leaves, until the card centre's verdict is in.
    {"Pending", dbBoolean, 0},
    // The full card number, sealed under key KeyId until a file carrying it is accepted (PAN holds
    // the masked number), and the one digit of track-2 the file needs (Track2 is kept empty).
    {"PanSealed", dbText, 100}, {"KeyId", dbLong, 0}, {"Track2Digit", dbByte, 0}};
// The transaction files from the moment each is built: its number and lines until the card
// centre's verdict is recorded, its report until trans.log has it.
const DbFieldDef kTransFileFields[] = {
    {"Nr", dbLong, 0},        {"Toojaam", dbText, 8}, {"Created", dbDate, 0}, {"State", dbByte, 0},
    {"Lines", dbMemo, 0},     {"Report", dbMemo, 0},  {"Verdict", dbText, 46}, {"Logged", dbBoolean, 0},
    {"KeyId", dbLong, 0}};   // the lines carry full card numbers: sealed under this key
const DbIndexDef kTransFileIndexes[] = {{"iNr", "+Nr", 0}};
const DbIndexDef kTransIndexes[] = {
    {"iDateTime", "+Date;+Time", 0},
    {"iSentPAN", "+sent;+PAN", 0},
    {"iSentToojaamPAN", "+sent;+Toojaam;+PAN", 0},
    {"iSTAN", "+STAN", 0},
    {"iToojaamTrans", "+Toojaam;+Trans", dbIndexUnique},
    // A purchase's cancellation, found by the purchase's STAN: the journal names it on every row.
    {"iOrigSTAN", "+OrigSTAN", 0}};

// Declared column types, so that a field's engine type and size read back from the schema.
struct TypeName { int type; const char* decl; };
const TypeName kTypeNames[] = {
    {dbBoolean, "BOOLEAN"}, {dbByte, "TINYINT"}, {dbInteger, "SMALLINT"}, {dbLong, "INTEGER"},
    {dbCurrency, "CURRENCY"}, {dbDate, "DATETIME"}, {dbText, "VARCHAR"}, {dbMemo, "TEXT"}};

std::string declaredType(int type, int size)
{
    for (const auto& t : kTypeNames)
        if (t.type == type)
            return type == dbText ? std::string(t.decl) + "(" + std::to_string(size) + ")" : t.decl;
    return "BLOB";
}

// (type, size) of a declared type; type 0 when it is none of ours.
std::pair<int, int> parseDeclared(const QString& decl)
{
    const QString d = decl.trimmed().toUpper();
    for (const auto& t : kTypeNames) {
        const QString name = QString::fromLatin1(t.decl);
        if (t.type == dbText && d.startsWith(name + "(") && d.endsWith(")"))
            return {dbText, d.mid(name.size() + 1, d.size() - name.size() - 2).toInt()};
        if (d == name)
            return {t.type, 0};
    }
    return {0, 0};
}

QString sqlName(std::string_view name) { return "\"" + Text_ToQString(name) + "\""; }
QString q(std::string_view s) { return Text_ToQString(s); }

DbStatus failure(const QSqlError& e)
{
    DbStatus s;
    s.ok = false;
    s.number = e.nativeErrorCode().toInt();
    if (s.number == 0)
        s.number = int(e.type()) + 1;
    const QString text = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    s.description = Text_FromQString(text);
    return s;
}

DbStatus failure(std::string text)
{
    DbStatus s;
    s.ok = false;
    s.number = 1;
    s.description = std::move(text);
    return s;
}

void report(const DbStatus& s, std::string_view message, const std::string& details)
{
#ifdef TOLLAN_HAVE_ERRORS
    Err_Report(s.number, s.description, message, 16, details);
#else
    qWarning("%d %s: %s %s", s.number, s.description.c_str(), std::string(message).c_str(),
             details.c_str());
#endif
}

void logOnly(const DbStatus& s, std::string_view message)
{
#ifdef TOLLAN_HAVE_ERRORS
    Err_Log(s.number, s.description, message);
#else
    qWarning("%d %s: %s", s.number, s.description.c_str(), std::string(message).c_str());
#endif
}

DbStatus exec(QSqlDatabase db, const QString& sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        return failure(query.lastError());
    return {};
}

// Rows written by Db_StoreTrans and Log_Event while a transaction is open, written again after
// a roll-back so that only the sent marks are undone.
struct PendingRow {
    bool isLog = false;
    TransRecord trans;
    QString date, object, message;
};
bool g_inTrans = false;
// The file could not be opened for writing when the database was opened: the engine then reads it
// only, and every write fails until the next start.
bool g_readOnly = false;
std::vector<PendingRow> g_pending;

QString currencyText(std::int64_t amount)
{
    const bool neg = amount < 0;
    const std::uint64_t a = neg ? std::uint64_t(0) - std::uint64_t(amount) : std::uint64_t(amount);
    std::string t = std::to_string(a / 10000);
    if (const std::uint64_t frac = a % 10000) {
        std::string f = std::to_string(frac);
        f.insert(0, 4 - f.size(), '0');
        while (f.back() == '0')
            f.pop_back();
        t += "." + f;
    }
    return QString::fromStdString((neg ? "-" : "") + t);
}

// Exact ten-thousandths from the column's text ("12.345", "10", "-0.5").
std::int64_t currencyValue(const QVariant& v)
{
    const std::string t = v.toString().trimmed().toStdString();
    if (t.find_first_of("eE") != std::string::npos)
        return std::llround(v.toDouble() * 10000.0);
    std::size_t i = 0;
    bool neg = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+'))
        neg = t[i++] == '-';
    std::int64_t whole = 0, frac = 0;
    int fracDigits = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
        whole = whole * 10 + (t[i] - '0');
    if (i < t.size() && t[i] == '.')
        for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
            if (fracDigits < 4) {
                frac = frac * 10 + (t[i] - '0');
                ++fracDigits;
            }
    for (; fracDigits < 4; ++fracDigits)
        frac *= 10;
    const std::int64_t r = whole * 10000 + frac;
    return neg ? -r : r;
}

// The columns of a Trans row as rowFrom reads them.
const QString kRowColumns = QStringLiteral(
    "Type, PAN, WayOfUse, Amount, Date, Time, AuthCode, POSCode, ExpDate, STAN, Track2, sent, Toojaam, Trans,"
    " OrigSTAN, FileNr, Pending, PanSealed, KeyId, ifnull(Track2Digit, -1)");

TransRecord rowFrom(const QSqlQuery& query, int first, bool& sent)
{
    TransRecord t;
    auto text = [&](int i) { return Text_FromQString(query.value(first + i).toString()); };
    t.Type = std::int16_t(query.value(first).toInt());
    t.PAN = text(1);
    t.WayOfUse = std::int16_t(query.value(first + 2).toInt());
    t.Amount = currencyValue(query.value(first + 3));
    t.Date = query.value(first + 4).toInt();
    t.Time = query.value(first + 5).toInt();
    t.AuthCode = text(6);
    t.POSCode = std::int16_t(query.value(first + 7).toInt());
    t.ExpDate = std::int16_t(query.value(first + 8).toInt());
    t.STAN = text(9);
    t.Track2 = text(10);
    sent = query.value(first + 11).toInt() != 0;
    t.Toojaam = text(12);
    t.Trans = text(13);
    t.OrigSTAN = text(14);
    t.FileNr = query.value(first + 15).toInt();
    t.Pending = query.value(first + 16).toInt() != 0;
    t.PanSealed = text(17);
    t.KeyId = query.value(first + 18).toInt();
    t.Track2Digit = std::int16_t(query.value(first + 19).toInt());
    return t;
}

// The statements every purchase runs, prepared once for each opening of the database rather than
// parsed again each time (parsing the insert was a sixth of the terminal's own work in a purchase).
// A statement prepared on an earlier opening is never used again: closing the database finalises it.
int g_openings = 0;

struct Prepared {
    int opening = -1;
    std::unique_ptr<QSqlQuery> query;
};

// The prepared statement, or nullptr with the engine's failure in `failed`.
QSqlQuery* prepared(Prepared& p, QSqlDatabase db, const char* sql, DbStatus& failed)
{
    if (p.query && p.opening == g_openings)
        return p.query.get();
    p.query.reset();
    auto query = std::make_unique<QSqlQuery>(db);
    if (!query->prepare(QString::fromLatin1(sql))) {
        failed = failure(query->lastError());
        return nullptr;
    }
    p.opening = g_openings;
    p.query = std::move(query);
    return p.query.get();
}

DbStatus insertTrans(QSqlDatabase db, const TransRecord& t)
{
    static Prepared insert;
    DbStatus s;
    QSqlQuery* query = prepared(insert, db,
                                "INSERT INTO Trans (Type, PAN, WayOfUse, Amount, Date, Time, AuthCode, POSCode,"
                                " ExpDate, STAN, Track2, sent, Toojaam, Trans, OrigSTAN, Pending, PanSealed, KeyId,"
                                " Track2Digit)"
                                " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, '', 0, ?, ?, ?, ?, ?, ?, ?)",
                                s);
    if (!query)
        return s;
    // The number as people see it, and the full one sealed: a flow hands over the full number, a
    // copy of a stored row (a cancellation) its sealed one.
    std::string pan = t.PAN;
    while (!pan.empty() && pan.back() == ' ')
        pan.pop_back();
    const std::string masked = Card_Mask(pan);
    SealedPan sealed{t.PanSealed, t.KeyId};
    if (!Card_IsMasked(pan) && pan.size() > 4) {
        const auto fresh = Card_Seal(pan, masked);
        if (!fresh)
            return failure(std::string("the card number cannot be sealed: no card key"));
        sealed = *fresh;
    }
    const int digit = t.Track2.empty() ? t.Track2Digit : Card_Track2Digit(t.Track2);
    const QVariant values[] = {int(t.Type),     q(masked),    int(t.WayOfUse), currencyText(t.Amount),
                               t.Date,          t.Time,       q(t.AuthCode),   int(t.POSCode),
                               int(t.ExpDate),  q(t.STAN),    q(t.Toojaam),
                               q(t.Trans),      t.OrigSTAN.empty() ? QVariant() : q(t.OrigSTAN),
                               t.Pending ? -1 : 0,
                               sealed.blob.empty() ? QVariant() : q(sealed.blob),
                               sealed.blob.empty() ? QVariant() : QVariant(sealed.keyId),
                               digit};
    for (int i = 0; i < int(std::size(values)); ++i)
        query->bindValue(i, values[i]);
    if (!query->exec())
        s = failure(query->lastError());
    query->finish();
    return s;
}

DbStatus insertLog(QSqlDatabase db, const QString& date, const QString& object, const QString& message)
{
    QSqlQuery query(db);
    query.prepare("INSERT INTO Log (Date, Object, Message) VALUES (?, ?, ?)");
    query.addBindValue(date);
    query.addBindValue(object);
    query.addBindValue(message);
    if (!query.exec())
        return failure(query.lastError());
    return {};
}

DbStatus notOpen() { return failure(std::string("database is not open")); }

bool indexKnown(std::string_view index, std::vector<std::string>& columns)
{
    for (const auto& ix : kTransIndexes)
        if (QString::fromStdString(ix.name).compare(q(index), Qt::CaseInsensitive) == 0) {
            columns.clear();
            for (const QString& k : QString::fromStdString(ix.keys).split(';'))
                columns.push_back(k.mid(1).toStdString());
            return true;
        }
    return false;
}

} // namespace

QSqlDatabase Db_Database() { return QSqlDatabase::database(kConnection, false); }

bool Db_IsOpen(const QSqlDatabase& db) { return db.isValid() && db.isOpen(); }

bool Db_TableExists(const QSqlDatabase& db, std::string_view table)
{
    if (!Db_IsOpen(db))
        return false;
    QSqlQuery query(db);
    query.prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
    query.addBindValue(q(table));
    return query.exec() && query.next();
}

DbTableDef Db_TableDef(const QSqlDatabase& db, std::string_view table)
{
    DbTableDef def;
    def.db = db;
    def.name = std::string(table);
    def.stored = Db_TableExists(db, table);
    return def;
}

bool Db_FieldMatches(const DbTableDef& def, std::string_view field, int type, int size)
{
    const QString name = q(field);
    auto matches = [&](int t, int s) { return t == type && (size == 0 || s == size); };
    if (!def.stored) {
        for (const auto& f : def.fields)
            if (q(f.name).compare(name, Qt::CaseInsensitive) == 0)
                return matches(f.type, f.size);
        return false;
    }
    QSqlQuery query(def.db);
    if (!query.exec("PRAGMA table_info(" + sqlName(def.name) + ")"))
        return false;
    while (query.next())
        if (query.value(1).toString().compare(name, Qt::CaseInsensitive) == 0) {
            const auto [t, s] = parseDeclared(query.value(2).toString());
            return matches(t, s);
        }
    return false;
}

bool Db_EnsureField(DbTableDef& def, std::string_view field, int type, int size)
{
    if (Db_FieldMatches(def, field, type, size))
        return true;
    DbStatus s;
    if (!def.stored) {
        const bool taken = std::any_of(def.fields.begin(), def.fields.end(), [&](const DbFieldDef& f) {
            return q(f.name).compare(q(field), Qt::CaseInsensitive) == 0;
        });
        if (taken)
            s = failure("field '" + std::string(field) + "' already exists");
        else
            def.fields.push_back({std::string(field), type, type == dbText ? size : 0});
    } else if (!Db_IsOpen(def.db)) {
        s = notOpen();
    } else {
        // A boolean is never empty: old rows read false, as the engine's yes/no fields do.
        QString sql = "ALTER TABLE " + sqlName(def.name) + " ADD COLUMN " + sqlName(field) + " " +
                      QString::fromStdString(declaredType(type, size));
        if (type == dbBoolean)
            sql += " NOT NULL DEFAULT 0";
        s = exec(def.db, sql);
    }
    if (s)
        return true;
    report(s, "viga uue v\xE4lja lisamisel",
           "TableDef='" + def.name + "', field='" + std::string(field) + "'," + std::to_string(type) +
               "," + std::to_string(size));
    return false;
}

namespace {
// The key text of an index of a stored table, "+Date;+Time"; empty when there is none.
bool readIndex(const DbTableDef& def, std::string_view index, std::string& keys, bool& unique, bool& primary)
{
    QSqlQuery list(def.db);
    if (!list.exec("PRAGMA index_list(" + sqlName(def.name) + ")"))
        return false;
    bool found = false;
    while (list.next())
        if (list.value(1).toString().compare(q(index), Qt::CaseInsensitive) == 0) {
            found = true;
            unique = list.value(2).toInt() != 0;
            primary = list.value(3).toString() == "pk";
            const QString name = list.value(1).toString();
            list.finish();
            QSqlQuery info(def.db);
            if (!info.exec("PRAGMA index_xinfo(\"" + name + "\")"))
                return false;
            keys.clear();
            while (info.next()) {
                if (info.value(5).toInt() == 0)   // not a key column (the row id)
                    continue;
                if (!keys.empty())
                    keys += ';';
                keys += info.value(3).toInt() ? "-" : "+";
                keys += Text_FromQString(info.value(2).toString());
            }
            break;
        }
    return found;
}

QString normalisedKeys(std::string_view keys)
{
    QStringList out;
    for (QString k : q(keys).split(';', Qt::SkipEmptyParts)) {
        k = k.trimmed();
        if (!k.startsWith('+') && !k.startsWith('-'))
            k.prepend('+');
        out << k;
    }
    return out.join(';');
}
} // namespace

bool Db_IndexMatches(const DbTableDef& def, std::string_view index, std::string_view keys, int flags)
{
    const bool wantUnique = flags & dbIndexUnique, wantPrimary = flags & dbIndexPrimary;
    std::string have;
    bool unique = false, primary = false;
    if (!def.stored) {
        for (const auto& ix : def.indexes)
            if (q(ix.name).compare(q(index), Qt::CaseInsensitive) == 0) {
                have = ix.keys;
                unique = ix.flags & dbIndexUnique;
                primary = ix.flags & dbIndexPrimary;
                goto compare;
            }
        return false;
    }
    if (!readIndex(def, index, have, unique, primary))
        return false;
compare:
    return normalisedKeys(have).compare(normalisedKeys(keys), Qt::CaseInsensitive) == 0 &&
           unique == wantUnique && primary == wantPrimary;
}

namespace {
QString createIndexSql(const std::string& table, const DbIndexDef& ix)
{
    QStringList cols;
    for (const QString& k : normalisedKeys(ix.keys).split(';'))
        cols << "\"" + k.mid(1) + "\"" + (k.startsWith('-') ? " DESC" : " ASC");
    return QString("CREATE ") + ((ix.flags & dbIndexUnique) ? "UNIQUE " : "") + "INDEX " +
           sqlName(ix.name) + " ON " + sqlName(table) + " (" + cols.join(", ") + ")";
}
} // namespace

bool Db_EnsureIndex(DbTableDef& def, std::string_view index, std::string_view keys, int flags)
{
    if (Db_IndexMatches(def, index, keys, flags))
        return true;
    DbStatus s;
    const DbIndexDef ix{std::string(index), std::string(keys), flags};
    if (flags & dbIndexPrimary) {
        s = failure(std::string("a primary index can only be made with its table"));
    } else if (!def.stored) {
        const bool taken = std::any_of(def.indexes.begin(), def.indexes.end(), [&](const DbIndexDef& i) {
            return q(i.name).compare(q(index), Qt::CaseInsensitive) == 0;
        });
        if (taken)
            s = failure("index '" + std::string(index) + "' already exists");
        else
            def.indexes.push_back(ix);
    } else if (!Db_IsOpen(def.db)) {
        s = notOpen();
    } else {
        s = exec(def.db, createIndexSql(def.name, ix));
    }
    if (s)
        return true;
    report(s, "viga uue indeksi lisamisel",
           "TableDef='" + def.name + "', index='" + std::string(index) + "','" + std::string(keys) +
               "'," + std::to_string(flags));
    return false;
}

bool Db_AppendTable(DbTableDef& def)
{
    if (def.stored)
        return true;
    DbStatus s = Db_IsOpen(def.db) ? DbStatus{} : notOpen();
    if (s && def.fields.empty())
        s = failure(std::string("a table needs at least one field"));
    if (s) {
        QStringList cols;
        for (const auto& f : def.fields)
            cols << sqlName(f.name) + " " + QString::fromStdString(declaredType(f.type, f.size)) +
                        (f.type == dbBoolean ? " NOT NULL DEFAULT 0" : "");
        const bool own = !g_inTrans;
        if (own)
            s = exec(def.db, "BEGIN");
        if (s)
            s = exec(def.db, "CREATE TABLE " + sqlName(def.name) + " (" + cols.join(", ") + ")");
        for (const auto& ix : def.indexes)
            if (s)
                s = exec(def.db, createIndexSql(def.name, ix));
        if (own)
            exec(def.db, s ? "COMMIT" : "ROLLBACK");
    }
    if (s) {
        def.stored = true;
        def.fields.clear();
        def.indexes.clear();
        return true;
    }
    report(s, "viga uue tabeli lisamisel", "TableDef='" + def.name + "'");
    return false;
}

bool Db_Open()
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db)) {
        const QString path = Home_File("tollan.mdb");
        if (!db.isValid())
            db = QSqlDatabase::addDatabase("QSQLITE", kConnection);
        db.setDatabaseName(path);
        // Card numbers and track data: readable by the owner alone.
        if (!QFile::exists(path))
            Home_RestrictFile(path);
        // The engine falls back to reading a file it cannot write, without a word: find out now,
        // before it holds its locks. Closing any other descriptor of the file drops every lock the
        // process holds on it, and without its lock a reader's exit takes the write-ahead log
        // away from under us: our later commits would go to a deleted file.
        QFile writable(path);
        g_readOnly = !writable.open(QIODevice::ReadWrite);
        const QString whyReadOnly = writable.errorString();
        writable.close();
        bool opened = db.open();
        ++g_openings;
        if (opened) {
            // A file that is not a database is left as it is: it may hold someone's data.
            QSqlQuery probe(db);
            opened = probe.exec("SELECT count(*) FROM sqlite_master");
        }
        if (!opened) {
            logOnly(failure(db.lastError().isValid() ? db.lastError() : QSqlError()),
                    "tollan.mdb: cannot open or create " + Text_FromQString(path));
            db.close();
            return false;
        }
        // Write-ahead log: a reader of the file (sqlite3 in a shell, a backup) never holds up a
        // commit, so no approved purchase and no accepted file waits on it or fails for it.
        exec(db, "PRAGMA journal_mode = WAL");
        exec(db, "PRAGMA synchronous = FULL");
        exec(db, "PRAGMA foreign_keys = OFF");
        // What is deleted or overwritten is overwritten with zeros, not left in free pages.
        exec(db, "PRAGMA secure_delete = ON");
        if (g_readOnly)
            report(failure(Text_FromQString(whyReadOnly)), "andmebaas on ainult lugemiseks", Text_FromQString(path));
    }

    DbTableDef log = Db_TableDef(db, "Log");
    for (const auto& f : kLogFields)
        Db_EnsureField(log, f.name, f.type, f.size);
    if (!log.stored)
        Db_AppendTable(log);

    DbTableDef trans = Db_TableDef(db, "Trans");
    for (const auto& f : kTransFields)
        Db_EnsureField(trans, f.name, f.type, f.size);
    for (const auto& ix : kTransIndexes)
        Db_EnsureIndex(trans, ix.name, ix.keys, ix.flags);
    if (!trans.stored)
        Db_AppendTable(trans);

    DbTableDef files = Db_TableDef(db, "TransFile");
    for (const auto& f : kTransFileFields)
        Db_EnsureField(files, f.name, f.type, f.size);
    for (const auto& ix : kTransFileIndexes)
        Db_EnsureIndex(files, ix.name, ix.keys, ix.flags);
    if (!files.stored)
        Db_AppendTable(files);
    return true;
}

bool Db_HoldsSealedCardData()
{
    QSqlQuery q(Db_Database());
    return q.exec("SELECT 1 FROM Trans WHERE PanSealed IS NOT NULL UNION ALL"
                  " SELECT 1 FROM TransFile WHERE KeyId IS NOT NULL AND KeyId <> 0 LIMIT 1") &&
           q.next();
}

namespace {

struct ClearRow {
    qint64 rowid = 0;
    std::string pan, track2;
    bool sent = false;
};

// Older files kept the whole card text (Track2) and the full number (PAN) in clear: each row gets
// the file's digit of its track and its masked number, an unsent one its full number sealed.
// Returns how many rows kept their number in clear for want of a key (nothing was lost).
int sealClearRows(QSqlDatabase db, int& changed)
{
    std::vector<ClearRow> rows;
    QSqlQuery find(db);
    if (find.exec("SELECT rowid, PAN, Track2, sent FROM Trans WHERE (Track2 IS NOT NULL AND Track2 <> '')"
                  " OR (PAN NOT LIKE '%*%' AND length(PAN) > 4)"))
        while (find.next())
            rows.push_back({find.value(0).toLongLong(), Text_FromQString(find.value(1).toString()),
                            Text_FromQString(find.value(2).toString()), find.value(3).toInt() != 0});
    std::vector<std::pair<std::int32_t, std::string>> files;   // in flight, lines in clear
    QSqlQuery clearFiles(db);
    if (clearFiles.exec("SELECT Nr, Lines FROM TransFile WHERE ifnull(KeyId, 0) = 0 AND Lines <> ''"))
        while (clearFiles.next())
            files.emplace_back(clearFiles.value(0).toInt(), Text_FromQString(clearFiles.value(1).toString()));
    if (rows.empty() && files.empty())
        return 0;
    int unsealed = 0;
    if (!exec(db, "BEGIN"))
        return int(rows.size());
    QSqlQuery update(db);
    update.prepare("UPDATE Trans SET PAN = ?, PanSealed = ?, KeyId = ?, Track2Digit = ?, Track2 = '' WHERE rowid = ?");
    for (ClearRow& r : rows) {
        while (!r.pan.empty() && r.pan.back() == ' ')
            r.pan.pop_back();
        const std::string masked = Card_Mask(r.pan);
        std::optional<SealedPan> sealed;
        if (!r.sent && !Card_IsMasked(r.pan)) {
            sealed = Card_Seal(r.pan, masked);
            if (!sealed) {   // no key: the number stays as it is rather than be lost
                ++unsealed;
                continue;
            }
        }
        const int digit = Card_Track2Digit(r.track2);
        update.addBindValue(q(masked));
        update.addBindValue(sealed ? QVariant(q(sealed->blob)) : QVariant());
        update.addBindValue(sealed ? QVariant(sealed->keyId) : QVariant());
        update.addBindValue(r.track2.empty() ? QVariant() : QVariant(digit));
        update.addBindValue(r.rowid);
        if (update.exec())
            ++changed;
    }
    QSqlQuery sealFile(db);
    sealFile.prepare("UPDATE TransFile SET Lines = ?, KeyId = ? WHERE Nr = ? AND ifnull(KeyId, 0) = 0");
    for (const auto& [nr, lines] : files)
        if (const auto sealed = Card_Seal(lines, "TransFile " + std::to_string(nr))) {
            sealFile.addBindValue(q(sealed->blob));
            sealFile.addBindValue(sealed->keyId);
            sealFile.addBindValue(nr);
            if (sealFile.exec())
                ++changed;
        } else {
            ++unsealed;
        }
    exec(db, "COMMIT");
    return unsealed;
}

// Whether every sealed row and file opens with the keys in force: one of each key id is tried.
bool keysOpenTheRows(QSqlDatabase db, std::string& why)
{
    QSqlQuery rows(db);
    if (rows.exec("SELECT KeyId, PanSealed, PAN FROM Trans WHERE PanSealed IS NOT NULL GROUP BY KeyId"))
        while (rows.next())
            if (!Card_Open(Text_FromQString(rows.value(1).toString()), rows.value(0).toInt(),
                           Text_FromQString(rows.value(2).toString()))) {
                why = "the card numbers kept under key " + rows.value(0).toString().toStdString() +
                      " cannot be opened with the key set in force";
                return false;
            }
    QSqlQuery files(db);
    if (files.exec("SELECT KeyId, Lines, Nr FROM TransFile WHERE ifnull(KeyId, 0) <> 0 AND State = 0"))
        while (files.next())
            if (!Card_Open(Text_FromQString(files.value(1).toString()), files.value(0).toInt(),
                           "TransFile " + files.value(2).toString().toStdString())) {
                why = "transaction file " + files.value(2).toString().toStdString() +
                      " cannot be opened with the key set in force";
                return false;
            }
    return true;
}

} // namespace

bool Db_SecureCardData()
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db) || g_readOnly)
        return false;
    int changed = 0;
    const int unsealed = sealClearRows(db, changed);
    if (changed > 0) {
        // Nothing of the old texts may stay in the file, its write-ahead log or its free pages.
        exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
        exec(db, "VACUUM");
        exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
        Log_Event(std::to_string(changed) + " rows: card numbers masked and sealed, track data removed");
    }
    // Without a key the one who found it missing has told so already.
    if (CardKey_Keys().empty())
        return false;
    std::string why;
    if (unsealed > 0) {
        why = std::to_string(unsealed) + " unsent rows keep their card numbers in clear: they cannot be sealed";
    } else if (!keysOpenTheRows(db, why)) {
        CardKey_SetUnusable(why);
    }
    if (!why.empty())
        CardKey_Report(why);
    return why.empty();
}

std::vector<int> Db_KeysInUse()
{
    std::vector<int> ids;
    QSqlQuery q(Db_Database());
    if (q.exec("SELECT KeyId FROM Trans WHERE PanSealed IS NOT NULL UNION"
               " SELECT KeyId FROM TransFile WHERE ifnull(KeyId, 0) <> 0"))
        while (q.next())
            ids.push_back(q.value(0).toInt());
    return ids;
}

bool Db_Reseal(const CardKey& to, const std::function<void(std::int64_t, std::int64_t)>& progress, std::string& why)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db)) {
        why = "the database is not open";
        return false;
    }
    QSqlQuery count(db);
    const std::int64_t total = count.exec("SELECT (SELECT count(*) FROM Trans WHERE PanSealed IS NOT NULL) +"
                                          " (SELECT count(*) FROM TransFile WHERE ifnull(KeyId, 0) <> 0)") &&
                                       count.next()
                                   ? count.value(0).toLongLong()
                                   : 0;
    count.finish();
    if (!exec(db, "BEGIN")) {
        why = "cannot begin a transaction";
        return false;
    }
    std::int64_t done = 0;
    auto fail = [&](std::string cause) {
        exec(db, "ROLLBACK");
        why = std::move(cause);
        return false;
    };
    // The rows are read whole first: none is written while the walk over them is open.
    struct Sealed {
        qint64 rowid;
        std::string blob, bound;
        int keyId;
    };
    std::vector<Sealed> rows;
    rows.reserve(std::size_t(total));
    {
        QSqlQuery read(db);
        read.setForwardOnly(true);
        if (!read.exec("SELECT rowid, PanSealed, KeyId, PAN FROM Trans WHERE PanSealed IS NOT NULL"))
            return fail(Text_FromQString(read.lastError().text()));
        while (read.next())
            rows.push_back({read.value(0).toLongLong(), Text_FromQString(read.value(1).toString()),
                            Text_FromQString(read.value(3).toString()), read.value(2).toInt()});
    }
    QSqlQuery update(db);
    update.prepare("UPDATE Trans SET PanSealed = ?, KeyId = ? WHERE rowid = ?");
    for (const Sealed& r : rows) {
        const auto pan = Card_Open(r.blob, r.keyId, r.bound);
        const auto sealed = pan ? Card_SealWith(to, *pan, r.bound) : std::nullopt;
        if (!sealed)
            return fail("the card number of row " + std::to_string(r.rowid) + " cannot be opened with the keys in force");
        update.addBindValue(q(sealed->blob));
        update.addBindValue(sealed->keyId);
        update.addBindValue(r.rowid);
        if (!update.exec())
            return fail(Text_FromQString(update.lastError().text()));
        if (++done % 2000 == 0 && progress)
            progress(done, total);
    }
    QSqlQuery files(db);
    if (!files.exec("SELECT Nr, Lines, KeyId FROM TransFile WHERE ifnull(KeyId, 0) <> 0"))
        return fail(Text_FromQString(files.lastError().text()));
    QSqlQuery updateFile(db);
    updateFile.prepare("UPDATE TransFile SET Lines = ?, KeyId = ? WHERE Nr = ? AND ifnull(KeyId, 0) <> 0");
    while (files.next()) {
        const std::string bound = "TransFile " + files.value(0).toString().toStdString();
        const auto lines = Card_Open(Text_FromQString(files.value(1).toString()), files.value(2).toInt(), bound);
        const auto sealed = lines ? Card_SealWith(to, *lines, bound) : std::nullopt;
        if (!sealed)
            return fail("transaction file " + files.value(0).toString().toStdString() +
                        " cannot be opened with the keys in force");
        updateFile.addBindValue(q(sealed->blob));
        updateFile.addBindValue(sealed->keyId);
        updateFile.addBindValue(files.value(0));
        if (!updateFile.exec())
            return fail(Text_FromQString(updateFile.lastError().text()));
        ++done;
    }
    files.finish();
    if (!exec(db, "COMMIT"))
        return fail("the commit failed");
    if (progress)
        progress(done, total);
    return true;
}

DbStatus Db_Writable()
{
    if (!Db_IsOpen(Db_Database()))
        return notOpen();
    if (g_readOnly)
        return failure(std::string("tollan.mdb is read-only"));
    return {};
}

int Db_Opening() { return g_openings; }

bool Db_TransExists(std::string_view toojaam, std::string_view trans)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return false;
    static Prepared select;
    DbStatus failed;
    QSqlQuery* query = prepared(select, db, "SELECT 1 FROM Trans WHERE Toojaam = ? AND Trans = ? LIMIT 1", failed);
    if (!query)
        return false;
    query->bindValue(0, Text_ToQString(toojaam));
    query->bindValue(1, Text_ToQString(trans));
    const bool found = query->exec() && query->next();
    // Leaves no read open on the file between purchases.
    query->finish();
    return found;
}

bool Db_Cancelled(const TransRecord& original)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return false;
    // A cancellation stored before the column was added names no original: one with the purchase's
    // card, amount and authorisation code counts as its cancellation.
    QSqlQuery query(db);
    query.prepare("SELECT 1 FROM Trans WHERE Type % 2 <> 0 AND (OrigSTAN = ? OR (OrigSTAN IS NULL AND PAN = ?"
                  " AND AuthCode = ? AND Amount = ?)) LIMIT 1");
    query.addBindValue(q(original.STAN));
    query.addBindValue(q(Card_Mask(original.PAN)));
    query.addBindValue(q(original.AuthCode));
    query.addBindValue(currencyText(original.Amount));
    return query.exec() && query.next();
}

DbStatus Db_MarkSent(std::string_view toojaam, std::string_view trans)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    QSqlQuery query(db);
    query.prepare("UPDATE Trans SET sent = -1 WHERE Toojaam = ? AND Trans = ?");
    query.addBindValue(q(toojaam));
    query.addBindValue(q(trans));
    if (!query.exec())
        return failure(query.lastError());
    return {};
}

TransRecord Db_ReadTrans(const TransSet& set)
{
    TransRecord t = set.record();
    for (std::string* text : {&t.PAN, &t.AuthCode, &t.STAN, &t.Track2, &t.Toojaam, &t.Trans, &t.OrigSTAN})
        while (!text->empty() && text->back() == ' ')
            text->pop_back();
    return t;
}

std::int32_t Db_UnsentCount()
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return 0;
    QSqlQuery query(db);
    return query.exec("SELECT count(*) FROM Trans WHERE (sent = 0 OR sent IS NULL) AND Pending = 0") && query.next()
               ? std::int32_t(query.value(0).toLongLong())
               : 0;
}

DbStatus Db_StoreTrans(const TransRecord& t)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    DbStatus s = insertTrans(db, t);
    if (s && g_inTrans)
        g_pending.push_back({false, t, {}, {}, {}});
    return s;
}

std::optional<std::string> Db_CardNumber(const TransRecord& t)
{
    if (!Card_IsMasked(t.PAN))
        return t.PAN;
    if (t.PanSealed.empty())
        return std::nullopt;
    return Card_Open(t.PanSealed, t.KeyId, t.PAN);
}

DbStatus Db_CompletePending(const TransRecord& t)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    QSqlQuery query(db);
    query.prepare("UPDATE Trans SET Pending = 0, AuthCode = ? WHERE Toojaam = ? AND Trans = ? AND Pending <> 0");
    query.addBindValue(q(t.AuthCode));
    query.addBindValue(q(t.Toojaam));
    query.addBindValue(q(t.Trans));
    if (!query.exec())
        return failure(query.lastError());
    if (query.numRowsAffected() != 1)
        return failure("no pending row " + t.Toojaam + "/" + t.Trans);
    return {};
}

DbStatus Db_DropPending(const TransRecord& t)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    QSqlQuery query(db);
    query.prepare("DELETE FROM Trans WHERE Toojaam = ? AND Trans = ? AND Pending <> 0");
    query.addBindValue(q(t.Toojaam));
    query.addBindValue(q(t.Trans));
    if (!query.exec())
        return failure(query.lastError());
    return {};
}

std::vector<TransRecord> Db_PendingCancellations()
{
    std::vector<TransRecord> pending;
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return pending;
    QSqlQuery query(db);
    if (!query.exec("SELECT " + kRowColumns + " FROM Trans WHERE Pending <> 0 ORDER BY Toojaam, Trans"))
        return pending;
    while (query.next()) {
        bool sent = false;
        TransRecord t = rowFrom(query, 0, sent);
        for (std::string* text : {&t.PAN, &t.AuthCode, &t.STAN, &t.Track2, &t.Toojaam, &t.Trans, &t.OrigSTAN})
            while (!text->empty() && text->back() == ' ')
                text->pop_back();
        pending.push_back(std::move(t));
    }
    return pending;
}

std::string Log_ObjectName(const QObject* component)
{
    if (!component)
        return "System";
    std::string name = Text_FromQString(component->objectName());
    const QVariant index = component->property("index");
    if (index.isValid())
        name.append("(").append(std::to_string(index.toInt())).append(")");
    return name;
}

DbStatus Log_EventNamed(std::string_view name, int index, std::string_view text)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    std::string object(name);
    if (index >= 0)
        object.append("(").append(std::to_string(index)).append(")");
    const QString date = Clock_Now().toString("yyyy-MM-dd HH:mm:ss");
    // Whatever an entry says, a card number in it is kept masked.
    const QString message = Text_ToQString(Card_MaskText(text).substr(0, 100));
    DbStatus s = insertLog(db, date, q(object), message);
    if (s && g_inTrans)
        g_pending.push_back({true, {}, date, q(object), message});
    return s;
}

DbStatus Log_Event(const QObject* component, std::string_view text)
{
    return Log_EventNamed(Log_ObjectName(component), -1, text);
}

DbStatus Log_Event(std::string_view text) { return Log_EventNamed("System", -1, text); }

DbStatus Db_BeginTrans()
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    if (g_inTrans)
        return failure(std::string("a transaction is already open"));
    DbStatus s = exec(db, "BEGIN");
    if (s) {
        g_inTrans = true;
        g_pending.clear();
    }
    return s;
}

DbStatus Db_CommitTrans()
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    if (!g_inTrans)
        return failure(std::string("no transaction is open"));
    DbStatus s = exec(db, "COMMIT");
    if (!s)
        return s;   // still open: the caller rolls back
    g_inTrans = false;
    g_pending.clear();
    return s;
}

DbStatus Db_Rollback()
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    if (!g_inTrans)
        return failure(std::string("no transaction is open"));
    DbStatus s = exec(db, "ROLLBACK");
    g_inTrans = false;
    std::vector<PendingRow> pending;
    pending.swap(g_pending);
    // What was logged or stored meanwhile is not part of the transfer: write it again.
    for (const auto& row : pending) {
        const DbStatus w = row.isLog ? insertLog(db, row.date, row.object, row.message)
                                     : insertTrans(db, row.trans);
        if (!w)
            logOnly(w, row.isLog ? "Log row lost in roll-back" : "Trans row lost in roll-back");
    }
    return s;
}

bool Db_InTransaction() { return g_inTrans; }

// --- TransSet ---------------------------------------------------------------------------------

// The rows a new transaction file may take: in no file yet, not a cancellation whose verdict is
// still to come, nor a purchase with such a cancellation (the file would settle what the card
// centre may have reversed).
const QString kReadyToSend = QStringLiteral(
    "FileNr IS NULL AND Pending = 0 AND (Type % 2 <> 0 OR STAN NOT IN"
    " (SELECT OrigSTAN FROM Trans WHERE Pending <> 0 AND OrigSTAN IS NOT NULL))");

// A seek first takes the few rows a lookup needs; only a walk past them takes the rest. Taking
// every row from the key on made each purchase's check for a repeated request number read the
// rest of the table, slower with every row stored.
constexpr std::size_t kFirstRows = 16;

struct TransSet::Impl {
    std::vector<std::string> columns;   // key fields of the current index
    std::vector<qint64> rowids;         // rows in index order from the position on
    std::size_t pos = 0;
    bool noMatch = false;
    bool loaded = false;
    QString where;                      // the seek's condition and key, for the rest of the rows
    std::vector<DbKey> key;
    bool more = false;                  // rows after the first ones may follow
    std::unordered_map<qint64, std::pair<TransRecord, bool>> cache;
    std::size_t cachedUpTo = 0;         // rowids[..cachedUpTo) are in the cache or passed
    TransRecord current;
    bool currentSent = false;
    DbStatus status;
    std::unique_ptr<QSqlQuery> mark;
    bool readyToSend = false;

    QString orderBy() const
    {
        QStringList cols;
        for (const auto& c : columns)
            cols << "\"" + QString::fromStdString(c) + "\"";
        return cols.join(", ") + ", rowid";
    }

    // The rowids of the condition in index order, at most `limit` of them (0: all).
    bool queryRowids(std::size_t limit, std::vector<qint64>& into)
    {
        QSqlQuery query(Db_Database());
        query.setForwardOnly(true);
        QStringList conditions;
        if (!where.isEmpty())
            conditions << where;
        if (readyToSend)
            conditions << kReadyToSend;
        query.prepare("SELECT rowid FROM Trans" + (conditions.isEmpty() ? QString() : " WHERE " + conditions.join(" AND ")) +
                      " ORDER BY " + orderBy() + (limit > 0 ? " LIMIT " + QString::number(limit) : QString()));
        for (const auto& k : key) {
            if (auto n = std::get_if<std::int64_t>(&k.value))
                query.addBindValue(qint64(*n));
            else
                query.addBindValue(Text_ToQString(std::get<std::string>(k.value)));
        }
        if (!query.exec()) {
            status = failure(query.lastError());
            return false;
        }
        while (query.next())
            into.push_back(query.value(0).toLongLong());
        return true;
    }

    bool fetchRowids(const QString& condition, const std::vector<DbKey>& keyValues)
    {
        rowids.clear();
        cache.clear();
        pos = cachedUpTo = 0;
        loaded = true;
        where = condition;
        key = keyValues;
        if (!queryRowids(kFirstRows, rowids))
            return false;
        more = rowids.size() == kFirstRows;
        return load();
    }

    // Past the first rows: the rest of them, as they stand now, less the rows already taken (a row
    // marked sent meanwhile may have moved in the index).
    bool fetchRest()
    {
        more = false;
        std::vector<qint64> all;
        if (!queryRowids(0, all))
            return false;
        const std::unordered_set<qint64> taken(rowids.begin(), rowids.end());
        for (qint64 id : all)
            if (!taken.count(id))
                rowids.push_back(id);
        return true;
    }

    // Reads the current row, and the next rows in one batch when it is not read yet.
    bool load()
    {
        if (pos >= rowids.size() && more && !fetchRest())
            return false;
        if (pos >= rowids.size())
            return true;
        auto it = cache.find(rowids[pos]);
        if (it == cache.end()) {
            // The row a seek lands on alone, as a lookup wants no more; a walk reads on in batches.
            const std::size_t end = std::min(rowids.size(), pos + (pos == 0 ? 1 : 512));
            cache.clear();
            QStringList ids;
            for (std::size_t i = pos; i < end; ++i)
                ids << QString::number(rowids[i]);
            QSqlQuery query(Db_Database());
            query.setForwardOnly(true);
            if (!query.exec("SELECT rowid, " + kRowColumns + " FROM Trans WHERE rowid IN (" +
                            ids.join(',') + ")")) {
                status = failure(query.lastError());
                return false;
            }
            while (query.next()) {
                bool sent = false;
                TransRecord t = rowFrom(query, 1, sent);
                cache.emplace(query.value(0).toLongLong(), std::make_pair(std::move(t), sent));
            }
            it = cache.find(rowids[pos]);
            if (it == cache.end()) {   // deleted meanwhile
                rowids.erase(rowids.begin() + pos);
                return load();
            }
        }
        current = it->second.first;
        currentSent = it->second.second;
        return true;
    }
};

TransSet::TransSet() : d(std::make_unique<Impl>()) {}
TransSet::~TransSet() = default;
TransSet::TransSet(TransSet&&) noexcept = default;
TransSet& TransSet::operator=(TransSet&&) noexcept = default;

bool TransSet::open(std::string_view index)
{
    d->status = {};
    d->noMatch = false;
    d->rowids.clear();
    d->more = false;
    d->loaded = false;
    if (!Db_IsOpen(Db_Database())) {
        d->status = notOpen();
        return false;
    }
    if (!indexKnown(index, d->columns)) {
        d->columns.clear();
        d->status = failure("Trans has no index '" + std::string(index) + "'");
        return false;
    }
    return true;
}

bool TransSet::seek(std::string_view comparison, const std::vector<DbKey>& key)
{
    d->status = {};
    d->noMatch = true;
    d->rowids.clear();
    d->more = false;
    d->loaded = true;
    if (d->columns.empty()) {
        d->status = failure(std::string("no index is set"));
        return false;
    }
    if (key.empty() || key.size() > d->columns.size() ||
        (comparison != "=" && comparison != ">=" && comparison != ">")) {
        d->status = failure(std::string("invalid seek"));
        return false;
    }
    QStringList cols, marks;
    for (std::size_t i = 0; i < key.size(); ++i) {
        cols << "\"" + QString::fromStdString(d->columns[i]) + "\"";
        marks << "?";
    }
    const QString op = comparison == ">" ? ">" : ">=";
    const QString where = "(" + cols.join(", ") + ") " + op + " (" + marks.join(", ") + ")";
    if (!d->fetchRowids(where, key))
        return false;
    if (d->rowids.empty())
        return false;
    if (comparison == "=") {
        // The first row at or after the key must equal it.
        QSqlQuery query(Db_Database());
        query.prepare("SELECT 1 FROM Trans WHERE rowid = ? AND (" + cols.join(", ") + ") = (" +
                      marks.join(", ") + ")");
        query.addBindValue(d->rowids.front());
        for (const auto& k : key) {
            if (auto n = std::get_if<std::int64_t>(&k.value))
                query.addBindValue(qint64(*n));
            else
                query.addBindValue(Text_ToQString(std::get<std::string>(k.value)));
        }
        if (!query.exec() || !query.next()) {
            d->rowids.clear();
            d->more = false;
            return false;
        }
    }
    d->noMatch = false;
    return true;
}

bool TransSet::noMatch() const { return d->noMatch; }

bool TransSet::eof() const
{
    if (!d->loaded && !d->columns.empty())
        d->fetchRowids(QString(), {});
    if (d->pos >= d->rowids.size() && d->more && !d->load())
        d->pos = d->rowids.size();
    return d->pos >= d->rowids.size();
}

bool TransSet::moveNext()
{
    if (eof())
        return false;
    ++d->pos;
    if (!d->load())
        d->pos = d->rowids.size();
    return !eof();
}

const TransRecord& TransSet::record() const
{
    eof();
    return d->current;
}

bool TransSet::sent() const
{
    eof();
    return d->currentSent;
}

DbStatus TransSet::markSent()
{
    if (eof())
        return failure(std::string("no current row"));
    if (!d->mark) {
        d->mark = std::make_unique<QSqlQuery>(Db_Database());
        d->mark->prepare("UPDATE Trans SET sent = -1 WHERE rowid = ?");
    }
    d->mark->bindValue(0, d->rowids[d->pos]);
    if (!d->mark->exec())
        return failure(d->mark->lastError());
    d->currentSent = true;
    if (auto it = d->cache.find(d->rowids[d->pos]); it != d->cache.end())
        it->second.second = true;
    return {};
}

const DbStatus& TransSet::status() const { return d->status; }

void TransSet::onlyReadyToSend() { d->readyToSend = true; }

DbStatus TransSet::bindToFile(std::int32_t fileNr)
{
    if (eof())
        return failure(std::string("no current row"));
    QSqlQuery bind(Db_Database());
    bind.prepare("UPDATE Trans SET FileNr = ? WHERE rowid = ?");
    bind.addBindValue(fileNr);
    bind.addBindValue(d->rowids[d->pos]);
    if (!bind.exec())
        return failure(bind.lastError());
    d->current.FileNr = fileNr;
    if (auto it = d->cache.find(d->rowids[d->pos]); it != d->cache.end())
        it->second.first.FileNr = fileNr;
    return {};
}

std::int32_t Db_CountUnsent(TransSet& set)
{
    std::int32_t n = 0;
    while (!set.eof() && !set.sent()) {
        ++n;
        set.moveNext();
    }
    return n;
}

} // namespace tollan
