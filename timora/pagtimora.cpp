#include "timora/pagtimora.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace tollan {

UnboundRowBuffer::UnboundRowBuffer(int rows, int columns)
    : RowCount(std::max(rows, 0)), ColumnCount(std::max(columns, 0)),
      values_(std::size_t(RowCount) * std::size_t(ColumnCount)), bookmarks_(std::size_t(RowCount))
{
}

QVariant UnboundRowBuffer::Value(int column, int row) const
{
    if (column < 0 || column >= ColumnCount || row < 0 || row >= RowCount)
        return {};
    return values_[std::size_t(row) * ColumnCount + column];
}

void UnboundRowBuffer::SetValue(int column, int row, const QVariant& value)
{
    if (column < 0 || column >= ColumnCount || row < 0 || row >= RowCount)
        return;
    values_[std::size_t(row) * ColumnCount + column] = value;
}

QString UnboundRowBuffer::Bookmark(int row) const
{
    return row >= 0 && row < RowCount ? bookmarks_[std::size_t(row)] : QString();
}

void UnboundRowBuffer::SetBookmark(int row, const QString& bookmark)
{
    if (row >= 0 && row < RowCount)
        bookmarks_[std::size_t(row)] = bookmark;
}

// The grid's view of the page: the rows that are not deleted, read through the unbound calls,
// and one empty line at the end where a new row is typed.
class PageGridModel final : public QAbstractTableModel {
public:
    explicit PageGridModel(pagTimora* page) : QAbstractTableModel(page), page_(page) {}

    void Reload()
    {
        beginResetModel();
        UnboundRowBuffer buf(page_->WorkingRows());
        page_->DBGrid1_UnboundReadData(buf, QString(), false);
        rows_.clear();
        for (int r = 0; r < buf.RowCount; ++r)
            rows_.push_back({buf.Bookmark(r), {buf.Value(0, r).toString(), buf.Value(1, r).toString(),
                                               buf.Value(2, r).toString()}});
        endResetModel();
    }

    QString BookmarkAt(int row) const { return row >= 0 && row < int(rows_.size()) ? rows_[row].bookmark : QString(); }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(rows_.size()) + 1; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 3; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole && role != Qt::EditRole)
            return {};
        if (index.row() >= int(rows_.size()))
            return {};
        return rows_[index.row()].values[index.column()];
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        // The line for a new row is marked with "*" in the row header, as in the grid.
        if (orientation == Qt::Vertical)
            return section < int(rows_.size()) ? QString::number(section + 1) : QStringLiteral("*");
        static const char* const captions[] = {"Mask", "Category", "Action"};
        return section >= 0 && section < 3 ? QString::fromLatin1(captions[section]) : QVariant();
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return QAbstractTableModel::flags(index) | Qt::ItemIsEditable;
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::EditRole || !index.isValid())
            return false;
        UnboundRowBuffer buf(1);
        buf.SetValue(index.column(), 0, value.toString());
        if (index.row() < int(rows_.size())) {
            page_->DBGrid1_UnboundWriteData(buf, rows_[index.row()].bookmark);
        } else {
            QString bookmark;
            page_->DBGrid1_UnboundAddData(buf, bookmark);
        }
        Reload();
        return true;
    }

private:
    struct Row {
        QString bookmark;
        QString values[3];
    };
    pagTimora* page_;
    std::vector<Row> rows_;
};

pagTimora::pagTimora(QWidget* parent) : QWidget(parent), grid_(new QTableView(this)), model_(new PageGridModel(this))
{
    setObjectName(QStringLiteral("pagTimora"));
    grid_->setObjectName(QStringLiteral("DBGrid1"));
    grid_->setModel(model_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->horizontalHeader()->setStretchLastSection(true);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    grid_->setColumnWidth(ColMask, 140);
    grid_->setColumnWidth(ColCategory, 120);

    // The Delete key deletes the selected rows, as the grid's own row deletion does.
    auto* del = new QAction(grid_);
    del->setObjectName(QStringLiteral("actDeleteRow"));
    del->setShortcut(QKeySequence::Delete);
    del->setShortcutContext(Qt::WidgetShortcut);
    grid_->addAction(del);
    connect(del, &QAction::triggered, this, [this] {
        std::set<int> rows;
        for (const QModelIndex& i : grid_->selectionModel()->selectedIndexes())
            rows.insert(i.row());
        if (grid_->currentIndex().isValid())
            rows.insert(grid_->currentIndex().row());
        QStringList bookmarks;
        for (int r : rows)
            if (const QString b = model_->BookmarkAt(r); !b.isEmpty())
                bookmarks << b;
        for (const QString& b : bookmarks)
            DBGrid1_UnboundDeleteRow(b);
        RefreshGrid();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(grid_);
    resize(480, 260);
    PropertyPage_Initialize();
}

pagTimora::~pagTimora() = default;

void pagTimora::SetSelectedControls(const QList<Timora*>& controls)
{
    selected_.clear();
    for (Timora* t : controls)
        selected_.append(t);
}

void pagTimora::SetColumnDefault(int column, const QString& value)
{
    if (column >= 0 && column < 3)
        defaults_[column] = value;
}

void pagTimora::MarkChanged(bool changed)
{
    changed_ = changed;
    emit ChangedChanged(changed);
}

void pagTimora::RefreshGrid() { model_->Reload(); }

QStringList& pagTimora::ColumnList(int column)
{
    return column == ColMask ? masks_ : column == ColCategory ? categories_ : actions_;
}

int pagTimora::RowOf(const QString& bookmark) const
{
    bool ok = false;
    const int row = bookmark.toInt(&ok);
    return ok && row >= 1 && row <= WorkingRows() ? row : 0;
}

void pagTimora::PropertyPage_Initialize()
{
    masks_.clear();
    categories_.clear();
    actions_.clear();
    deleted_.clear();
    changed_ = false;
    RefreshGrid();
}

void pagTimora::PropertyPage_SelectionChanged()
{
    masks_.clear();
    categories_.clear();
    actions_.clear();
    deleted_.clear();
    Timora* control = selected_.isEmpty() ? nullptr : selected_.first().data();
    const int n = control ? control->Count() : 0;
    for (int i = 1; i <= n; ++i) {
        masks_.append(control->Mask(i));
        categories_.append(control->Category(i));
        actions_.append(control->Action(i));
        deleted_.push_back(0);
    }
    RefreshGrid();
}

void pagTimora::PropertyPage_ApplyChanges()
{
    Timora* control = selected_.isEmpty() ? nullptr : selected_.first().data();
    if (!control)
        return;
    control->Clear();
    for (int i = 0; i < WorkingRows(); ++i)
        if (!deleted_[std::size_t(i)])
            control->Insert(masks_[i], categories_[i], actions_[i]);
    MarkChanged(false);
}

void pagTimora::DBGrid1_UnboundReadData(UnboundRowBuffer& rowBuf, const QString& startLocation, bool readPriorRows) const
{
    const int n = WorkingRows();
    const int step = readPriorRows ? -1 : 1;
    int row;
    if (startLocation.isEmpty()) {
        row = readPriorRows ? n : 1;
    } else {
        bool ok = false;
        const int start = startLocation.toInt(&ok);
        // A bookmark the page never gave names no row to read from.
        row = ok ? start + step : 0;
    }
    int delivered = 0;
    for (; delivered < rowBuf.RowCount && row >= 1 && row <= n; row += step) {
        if (deleted_[std::size_t(row - 1)])
            continue;
        rowBuf.SetValue(ColMask, delivered, masks_[row - 1]);
        rowBuf.SetValue(ColCategory, delivered, categories_[row - 1]);
        rowBuf.SetValue(ColAction, delivered, actions_[row - 1]);
        rowBuf.SetBookmark(delivered, QString::number(row));
        ++delivered;
    }
    if (delivered < rowBuf.RowCount)
        rowBuf.RowCount = delivered;
}

void pagTimora::DBGrid1_UnboundWriteData(const UnboundRowBuffer& rowBuf, const QString& writeLocation)
{
    const int row = RowOf(writeLocation);
    if (row == 0)
        return;
    for (int c = 0; c < 3; ++c) {
        const QVariant v = rowBuf.Value(c, 0);
        if (!v.isNull())
            ColumnList(c)[row - 1] = v.toString();
    }
    MarkChanged(true);
}

void pagTimora::DBGrid1_UnboundAddData(const UnboundRowBuffer& rowBuf, QString& newRowBookmark)
{
    for (int c = 0; c < 3; ++c) {
        const QVariant v = rowBuf.Value(c, 0);
        ColumnList(c).append(v.isNull() ? defaults_[c] : v.toString());
    }
    deleted_.push_back(0);
    newRowBookmark = QString::number(WorkingRows());
    MarkChanged(true);
}

void pagTimora::DBGrid1_UnboundDeleteRow(const QString& bookmark)
{
    const int row = RowOf(bookmark);
    if (row == 0)
        return;
    deleted_[std::size_t(row - 1)] = 1;
    MarkChanged(true);
}

void pagTimora::DBGrid1_UnboundGetRelativeBookmark(const QString& startLocation, int offset, QString& newLocation) const
{
    bool ok = true;
    const qint64 start = startLocation.isEmpty() ? 0 : startLocation.toInt(&ok);
    const qint64 row = start + offset;
    newLocation = ok && row >= 1 && row <= WorkingRows() ? QString::number(row) : QString();
}

} // namespace tollan
