#include "store/transfiles.h"

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

TransFileRecord fileFrom(const QSqlQuery& q)
{
    return {q.value(0).toInt(), Text_FromQString(q.value(1).toString()), split(q.value(2)),
            Text_FromQString(q.value(3).toString())};
}

} // namespace

DbStatus Db_RecordFile(const TransFileRecord& file)
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return notOpen();
    QSqlQuery q(db);
    q.prepare("INSERT INTO TransFile (Nr, Toojaam, Created, State, Lines, Report, Logged) VALUES (?, ?, ?, ?, ?, ?, 0)");
    q.addBindValue(file.Nr);
    q.addBindValue(Text_ToQString(file.Toojaam));
    q.addBindValue(Clock_Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    q.addBindValue(int(kInFlight));
    q.addBindValue(joined(file.Lines));
    q.addBindValue(Text_ToQString(file.Report));
    return q.exec() ? DbStatus{} : failed(q);
}

std::optional<TransFileRecord> Db_FileInFlight()
{
    QSqlDatabase db = Db_Database();
    if (!Db_IsOpen(db))
        return std::nullopt;
    QSqlQuery q(db);
    q.prepare("SELECT Nr, Toojaam, Lines, Report FROM TransFile WHERE State = ? ORDER BY rowid LIMIT 1");
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
    rows.prepare(accepted ? "UPDATE Trans SET sent = -1 WHERE FileNr = ?"
                          : "UPDATE Trans SET FileNr = NULL WHERE FileNr = ? AND sent = 0");
    rows.addBindValue(nr);
    if (!rows.exec())
        s = failed(rows);
    if (s) {
        QSqlQuery file(db);
        file.prepare("UPDATE TransFile SET State = ?, Lines = '', Verdict = ?, Report = ? WHERE Nr = ? AND State = ?");
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
    q.prepare("SELECT Nr, Toojaam, '', Report FROM TransFile WHERE State = ? AND Logged = 0 ORDER BY rowid");
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
