#include "store/transfiles.h"

#include "support/carddata.h"
#include "support/clock.h"
#include "support/codepage.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace tollan {
namespace {

enum State { kInFlight = 0, kAccepted = 1, kRefused = 2 };

DbStatus failed(const QSqlQuery& query)
{
    DbStatus s;
    s.ok = false;
    s.number = query.lastError().nativeErrorCode().toInt();
    s.description = Text_FromQString(query.lastError().text());
    return s;
}

DbStatus notOpen()
{
    DbStatus s;
    s.ok = false;
    s.number = 1;
    s.description = "database is not open";
    return s;
}

// The lines travel as one text, one line after another with CR LF between them.
QString joined(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& l : lines) {
        if (!all.empty())
            all += "\r\n";
        all += l;
    }
    return Text_ToQString(all);
}

std::vector<std::string> split(const QVariant& text)
{
    std::vector<std::string> lines;
    const std::string all = Text_FromQString(text.toString());
    for (std::size_t from = 0; from < all.size();) {
        std::size_t end = all.find("\r\n", from);
        if (end == std::string::npos)
            end = all.size();
        lines.push_back(all.substr(from, end - from));
        from = end + 2;
    }
    return lines;
}

// The lines carry full card numbers: sealed under the card key, bound to the file's number.
std::string boundTo(std::int32_t nr) { return "TransFile " + std::to_string(nr); }

TransFileRecord fileFrom(const QSqlQuery& q)
{
    TransFileRecord f{q.value(0).toInt(), Text_FromQString(q.value(1).toString()), {},
                      Text_FromQString(q.value(3).toString())};
    const int keyId = q.value(4).toInt();
    const std::string lines = Text_FromQString(q.value(2).toString());
    if (keyId == 0) {   // stored before the lines were sealed
        f.Lines = split(q.value(2));
    } else if (const auto open = Card_Open(lines, keyId, boundTo(f.Nr))) {
        f.Lines = split(Text_ToQString(*open));
    } else {
        f.Unreadable = true;
    }
    return f;
}

} // namespace

DbStatus Db_RecordFile(const TransFileRecord& file)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    const auto sealed = Card_Seal(Text_FromQString(joined(file.Lines)), boundTo(file.Nr));
    if (!sealed)
        return {false, 1, "the file's lines cannot be sealed: no card key"};
    QSqlQuery q(db);
    q.prepare("INSERT INTO TransFile (Nr, Toojaam, Created, State, Lines, Report, Logged, KeyId)"
              " VALUES (?, ?, ?, ?, ?, ?, 0, ?)");
    q.addBindValue(file.Nr);
    q.addBindValue(Text_ToQString(file.Toojaam));
    q.addBindValue(Clock_Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    q.addBindValue(int(kInFlight));
    q.addBindValue(Text_ToQString(sealed->blob));
    q.addBindValue(Text_ToQString(file.Report));
    q.addBindValue(sealed->keyId);
    return q.exec() ? DbStatus{} : failed(q);
}

std::optional<TransFileRecord> Db_FileInFlight()
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return std::nullopt;
    QSqlQuery q(db);
    q.prepare("SELECT Nr, Toojaam, Lines, Report, ifnull(KeyId, 0) FROM TransFile WHERE State = ? ORDER BY rowid LIMIT 1");
    q.addBindValue(int(kInFlight));
    if (!q.exec() || !q.next())
        return std::nullopt;
    return fileFrom(q);
}

DbStatus Db_RecordVerdict(std::int32_t nr, bool accepted, std::string_view verdictText, std::string_view report)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    DbStatus s = Db_BeginTrans();
    if (!s)
        return s;
    QSqlQuery rows(db);
    // An accepted file's card numbers are needed no more: only their masked form stays.
    rows.prepare(accepted ? "UPDATE Trans SET sent = -1, PanSealed = NULL, KeyId = NULL WHERE FileNr = ?"
                          : "UPDATE Trans SET FileNr = NULL WHERE FileNr = ? AND sent = 0");
    rows.addBindValue(nr);
    if (!rows.exec())
        s = failed(rows);
    if (s) {
        QSqlQuery file(db);
        file.prepare("UPDATE TransFile SET State = ?, Lines = '', KeyId = NULL, Verdict = ?, Report = ?"
                     " WHERE Nr = ? AND State = ?");
        file.addBindValue(int(accepted ? kAccepted : kRefused));
        file.addBindValue(Text_ToQString(verdictText.substr(0, 46)));
        file.addBindValue(Text_ToQString(report));
        file.addBindValue(nr);
        file.addBindValue(int(kInFlight));
        if (!file.exec())
            s = failed(file);
    }
    if (s)
        s = Db_CommitTrans();
    if (!s && Db_InTransaction())
        Db_Rollback();
    return s;
}

std::vector<TransFileRecord> Db_FilesToLog()
{
    std::vector<TransFileRecord> files;
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return files;
    QSqlQuery q(db);
    q.prepare("SELECT Nr, Toojaam, '', Report, 0 FROM TransFile WHERE State = ? AND Logged = 0 ORDER BY rowid");
    q.addBindValue(int(kAccepted));
    if (q.exec())
        while (q.next())
            files.push_back(fileFrom(q));
    return files;
}

DbStatus Db_FileLogged(std::int32_t nr)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    QSqlQuery q(db);
    q.prepare("UPDATE TransFile SET Logged = -1, Report = '' WHERE Nr = ? AND State = ?");
    q.addBindValue(nr);
    q.addBindValue(int(kAccepted));
    return q.exec() ? DbStatus{} : failed(q);
}

} // namespace tollan
