#include "shell/journal.h"

#include "receipts/receipt.h"
#include "receipts/template.h"
#include "shell/print.h"
#include "store/db.h"
#include "support/codepage.h"
#include "support/msgbox.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

namespace tollan {

namespace {

// The list's columns; STAN last, as the reprint finds the row by it.
const char* const kHeadings[] = {"Aeg", "Kassa", "Kaart", "Summa", "Aut.kood", "Liik", "Tühistanud", "Saatmine", "STAN"};
constexpr int kStanColumn = 8;

// A day's rows in the order of the day's index; a purchase's cancellation looked up in the index of
// the cancellations' originals, for the rows fetched only.
const char* const kListSelect =
    "SELECT printf('%02d:%02d:%02d', t.Time / 10000, t.Time / 100 % 100, t.Time % 100), t.Toojaam, t.PAN,"
    " replace(printf('%.2f', t.Amount), '.', ','), t.AuthCode,"
    " CASE WHEN t.Type % 2 <> 0 THEN 'tühistus' ELSE 'ost' END,"
    " (SELECT c.STAN FROM Trans c WHERE c.OrigSTAN = t.STAN AND c.Type % 2 <> 0 AND ifnull(c.Pending, 0) = 0"
    " LIMIT 1),"
    " CASE WHEN t.sent <> 0 THEN 'saadetud' ELSE 'ootel' END, t.STAN"
    " FROM Trans t WHERE t.Date = :date AND ifnull(t.Pending, 0) = 0";

std::int32_t dateNumber(const QDate& d) { return d.year() * 10000 + d.month() * 100 + d.day(); }

// "12,50" or "12.50" as hundredths; -1 when the text is no amount.
std::int64_t amountOf(QString text)
{
    bool ok = false;
    const double v = text.replace(',', '.').remove(' ').toDouble(&ok);
    return ok && v >= 0 ? std::llround(v * 100) : -1;
}

} // namespace

std::string Journal_ReprintText(const TransRecord& t)
{
    return "KOOPIA\r\n\r\n" + Tpl_Render(Receipt_Template(t), Receipt_Values(t, t.OrigSTAN));
}

fJournal::fJournal(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fJournal"));
    setWindowTitle(QString::fromUtf8("Päevik"));
    resize(980, 640);

    date_ = new QDateEdit(QDate::currentDate(), this);
    date_->setObjectName(QStringLiteral("tDate"));
    date_->setCalendarPopup(true);
    date_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    find_ = new QLineEdit(this);
    find_->setObjectName(QStringLiteral("tFind"));
    find_->setPlaceholderText(QString::fromUtf8("STAN, kassa, kaardi 4 viimast numbrit või summa"));
    find_->setClearButtonEnabled(true);
    auto* reprint = new QPushButton(QString::fromUtf8("Prindi &koopia"), this);
    reprint->setObjectName(QStringLiteral("cReprint"));
    auto* exportButton = new QPushButton(QString::fromUtf8("&CSV..."), this);
    exportButton->setObjectName(QStringLiteral("cExport"));

    listModel_ = new QSqlQueryModel(this);
    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("gList"));
    list_->setModel(listModel_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setDefaultSectionSize(22);
    list_->horizontalHeader()->setStretchLastSection(true);

    totalsTable_ = new QTableWidget(0, 6, this);
    totalsTable_->setObjectName(QStringLiteral("gTotals"));
    totalsTable_->setHorizontalHeaderLabels(
        {"Kassa", "Ostud", "Summa", QString::fromUtf8("Tühistusi"), "Summa", "Kokku"});
    totalsTable_->verticalHeader()->hide();
    totalsTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    totalsTable_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    chart_ = new QChartView(this);
    chart_->setObjectName(QStringLiteral("gChart"));
    chart_->setMinimumHeight(200);
    chart_->setRenderHint(QPainter::Antialiasing);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QString::fromUtf8("Päev:"), this));
    top->addWidget(date_);
    top->addWidget(new QLabel(QString::fromUtf8("Otsi:"), this));
    top->addWidget(find_, 1);
    top->addWidget(reprint);
    top->addWidget(exportButton);
    auto* below = new QHBoxLayout;
    below->addWidget(totalsTable_, 1);
    below->addWidget(chart_, 1);
    auto* transPage = new QWidget(this);
    auto* transLayout = new QVBoxLayout(transPage);
    transLayout->addLayout(top);
    transLayout->addWidget(list_, 2);
    transLayout->addLayout(below, 1);

    logModel_ = new QSqlQueryModel(this);
    logFind_ = new QLineEdit(this);
    logFind_->setObjectName(QStringLiteral("tLogFind"));
    logFind_->setPlaceholderText(QString::fromUtf8("Otsi sündmustest"));
    log_ = new QTableView(this);
    log_->setObjectName(QStringLiteral("gLog"));
    log_->setModel(logModel_);
    log_->verticalHeader()->hide();
    log_->horizontalHeader()->setStretchLastSection(true);
    auto* logPage = new QWidget(this);
    auto* logLayout = new QVBoxLayout(logPage);
    logLayout->addWidget(logFind_);
    logLayout->addWidget(log_);

    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabs"));
    tabs->addTab(transPage, QString::fromUtf8("Tehingud"));
    tabs->addTab(logPage, QString::fromUtf8("Sündmused"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);

    connect(date_, &QDateEdit::dateChanged, this, [this](const QDate& d) { showDay(d); });
    connect(find_, &QLineEdit::textChanged, this, [this](const QString& t) { search(t); });
    connect(logFind_, &QLineEdit::textChanged, this, [this] { refreshLog(); });
    connect(reprint, &QPushButton::clicked, this, [this] { reprintSelected(); });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8("Tehingud CSV-failina"),
                                                          QStringLiteral("paevik-%1.csv").arg(day_.toString("yyyy-MM-dd")),
                                                          QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty() && !exportCsv(path))
            Msg_Box(Text_FromQString(QString::fromUtf8("Faili ei õnnestunud kirjutada: ") + path), 48);
    });
    showDay(QDate::currentDate());
}

QSqlQuery fJournal::listQuery() const
{
    QString sql = QString::fromUtf8(kListSelect);
    const bool amountOnly = search_.contains(',') || search_.contains('.');
    if (!search_.isEmpty()) {
        // Digits: a STAN, a register's number (its name ends in them), a card's last four digits, or
        // a whole amount; with a decimal comma or point, an amount.
        sql += amountOnly ? " AND CAST(round(t.Amount * 100) AS INTEGER) = :cents"
                          : " AND (t.STAN = :text OR t.Toojaam LIKE '%' || :text OR substr(t.PAN, -4) = :text"
                            " OR CAST(round(t.Amount * 100) AS INTEGER) = :cents)";
    }
    QSqlQuery q(Db_Database());
    q.prepare(sql + " ORDER BY t.Date, t.Time");
    q.bindValue(":date", dateNumber(day_));
    if (!search_.isEmpty()) {
        q.bindValue(":cents", QVariant::fromValue<qlonglong>(amountOf(search_)));
        if (!amountOnly)
            q.bindValue(":text", search_);
    }
    return q;
}

void fJournal::showDay(const QDate& day)
{
    day_ = day;
    if (date_->date() != day) {
        const QSignalBlocker quiet(date_);
        date_->setDate(day);
    }
    refresh();
    refreshLog();
}

void fJournal::search(const QString& text)
{
    search_ = text.trimmed();
    refresh();
}

void fJournal::refresh()
{
    QSqlDatabase db = Db_Database();
    QSqlQuery q = listQuery();
    q.exec();
    listModel_->setQuery(std::move(q));
    for (int i = 0; i < int(std::size(kHeadings)); ++i)
        listModel_->setHeaderData(i, Qt::Horizontal, QString::fromUtf8(kHeadings[i]));
    list_->resizeColumnsToContents();   // over the first page of rows only

    // The day's totals and its turnover per hour: one grouped query, the day's report's.
    std::string why;
    HourTotals hourly{};
    totals_ = Db_DayTotals(db, dateNumber(day_), why, &hourly).value_or(std::vector<RegisterTotals>{});
    std::vector<RegisterTotals> rows = totals_;
    rows.push_back(Totals_Sum(totals_));
    totalsTable_->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        const RegisterTotals& t = rows[std::size_t(r)];
        const QString cells[] = {r + 1 == int(rows.size()) ? QStringLiteral("Kokku") : Text_ToQString(t.Toojaam),
                                 QString::number(t.Purchases), QString::fromStdString(Totals_Amount(t.PurchasesSum)),
                                 QString::number(t.Cancellations),
                                 QString::fromStdString(Totals_Amount(t.CancellationsSum)),
                                 QString::fromStdString(Totals_Amount(t.net()))};
        for (int c = 0; c < 6; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            totalsTable_->setItem(r, c, item);
        }
    }

    double perHour[24] = {};
    for (int h = 0; h < 24; ++h)
        perHour[h] = double(hourly[std::size_t(h)]) / 100.0;
    // The shop's day, 8 to 20, widened to any hour with turnover.
    int first = 8, last = 20;
    for (int h = 0; h < 24; ++h)
        if (perHour[h] != 0) {
            first = std::min(first, h);
            last = std::max(last, h);
        }
    auto* set = new QBarSet(QString::fromUtf8("Käive"));
    QStringList labels;
    double top = 0, bottom = 0;
    for (int h = first; h <= last; ++h) {
        *set << perHour[h];
        top = std::max(top, perHour[h]);
        bottom = std::min(bottom, perHour[h]);
        labels << QString::number(h);
    }
    auto* series = new QBarSeries;
    series->append(set);
    auto* chart = new QChart;
    chart->addSeries(series);
    chart->setTitle(QString::fromUtf8("Käive tunni kaupa, ") + day_.toString("dd.MM.yyyy"));
    chart->legend()->hide();
    auto* x = new QBarCategoryAxis;
    x->append(labels);
    auto* y = new QValueAxis;
    y->setRange(bottom * 1.1, top > 0 ? top * 1.1 : 1);
    y->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    QChart* old = chart_->chart();
    chart_->setChart(chart);
    delete old;
}

void fJournal::refreshLog()
{
    QSqlQuery q(Db_Database());
    q.prepare("SELECT Date AS Aeg, Object AS Objekt, Message AS Teade FROM Log WHERE Date LIKE :day || '%'"
              " AND (Message LIKE '%' || :text || '%' OR Object LIKE '%' || :text || '%') ORDER BY Date, rowid");
    q.bindValue(":day", day_.toString("yyyy-MM-dd"));
    q.bindValue(":text", logFind_->text());
    q.exec();
    logModel_->setQuery(std::move(q));
}

bool fJournal::reprintSelected()
{
    const QModelIndexList rows = list_->selectionModel() ? list_->selectionModel()->selectedRows(kStanColumn)
                                                          : QModelIndexList{};
    if (rows.isEmpty()) {
        Msg_Box(Text_FromQString(QString::fromUtf8("Valige tehing, mille koopiat trükkida.")), 64);
        return false;
    }
    const std::string stan = Text_FromQString(listModel_->data(rows.first()).toString());
    TransSet set;
    if (!(set.open("iSTAN") && set.seek("=", {DbKey(stan)}))) {
        Msg_Box(Text_FromQString(QString::fromUtf8("Tehingut ei leitud: STAN ")) + stan, 48);
        return false;
    }
    const TransRecord t = Db_ReadTrans(set);
    if (!Print_Document(Journal_ReprintText(t))) {
        Msg_Box(Text_FromQString(QString::fromUtf8("Koopiat ei õnnestunud trükkida.")), 48);
        return false;
    }
    Log_Event(Text_FromQString(QString::fromUtf8("kviitungi koopia: STAN ")) + t.STAN);
    refreshLog();
    return true;
}

bool fJournal::exportCsv(const QString& path) const
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QStringList head;
    for (const char* h : kHeadings)
        head << QString::fromUtf8(h);
    QByteArray out = head.join(';').toUtf8() + "\r\n";
    QSqlQuery q = listQuery();
    if (!q.exec())
        return false;
    while (q.next()) {
        QStringList cells;
        for (int i = 0; i < q.record().count(); ++i)
            cells << q.value(i).toString();
        out += cells.join(';').toUtf8() + "\r\n";
    }
    return f.write(out) == out.size() && f.flush();
}

} // namespace tollan
