#pragma once
// The journal ("Päevik"): a day's transactions with a search, the totals per register and in all, a
// chart of the day's turnover per hour, the list as CSV, the event log, and a copy of a receipt on
// the operator's printer. It reads tollan.mdb through Qt's SQL models: the list fetches its rows as
// they are scrolled to, the totals and the chart are one grouped query each over the day's index,
// so a day of 100 000 rows opens without a pause in the terminal's work.

#include "store/day_totals.h"
#include "store/trans_record.h"

#include <QDate>
#include <QDialog>

#include <string>

class QChartView;
class QDateEdit;
class QLineEdit;
class QSqlQuery;
class QSqlQueryModel;
class QTableView;
class QTableWidget;

namespace tollan {

// The receipt of a stored transaction again, headed "KOOPIA" (Windows-1252).
std::string Journal_ReprintText(const TransRecord& t);

class fJournal : public QDialog {
public:
    explicit fJournal(QWidget* parent = nullptr);

    // Shows `day` (the list as the search says, its totals and its chart).
    void showDay(const QDate& day);
    // The list narrowed to a STAN, a register, the last four digits of a card or an amount ("12,50").
    void search(const QString& text);
    // Prints a copy of the selected transaction's receipt; false when none is selected or it could
    // not be printed (the operator is told).
    bool reprintSelected();
    // The list as it stands, as CSV, to `path`; false when the file cannot be written.
    bool exportCsv(const QString& path) const;

    const std::vector<RegisterTotals>& totals() const { return totals_; }
    QDate day() const { return day_; }

private:
    void refresh();
    void refreshLog();
    QSqlQuery listQuery() const;

    QDate day_;
    QString search_;
    std::vector<RegisterTotals> totals_;
    QDateEdit* date_;
    QLineEdit* find_;
    QLineEdit* logFind_;
    QTableView* list_;
    QTableView* log_;
    QTableWidget* totalsTable_;
    QChartView* chart_;
    QSqlQueryModel* listModel_;
    QSqlQueryModel* logModel_;
};

} // namespace tollan
