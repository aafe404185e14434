#pragma once
// pagTimora: the property page of Timora. One grid, DBGrid1, of three columns (mask, category,
// action) edits a working copy of the first selected control's entries; Apply writes the copy back
// through Clear and Insert, so the entries are renumbered without gaps.
//
// The grid is unbound: it asks the page for rows through the DBGrid1_Unbound* calls, and a row's
// bookmark is its row number as text. Deleted rows stay in the working copy, flagged, until Apply.

#include "timora/timora.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <vector>

class QTableView;

namespace tollan {

// The rows the grid asks for or hands over: values by column and row, a null QVariant where a
// column holds nothing, and the bookmark of each row.
struct TIMORA_EXPORT UnboundRowBuffer {
    UnboundRowBuffer(int rows, int columns = 3);
    int RowCount;
    int ColumnCount;
    QVariant Value(int column, int row) const;
    void SetValue(int column, int row, const QVariant& value);
    QString Bookmark(int row) const;
    void SetBookmark(int row, const QString& bookmark);

private:
    std::vector<QVariant> values_;
    std::vector<QString> bookmarks_;
};

class PageGridModel;

class TIMORA_EXPORT pagTimora : public QWidget {
    Q_OBJECT

public:
    enum Column { ColMask = 0, ColCategory = 1, ColAction = 2 };

    explicit pagTimora(QWidget* parent = nullptr);
    ~pagTimora() override;

    // The controls the page was opened for; only the first one is read and written.
    void SetSelectedControls(const QList<Timora*>& controls);
    bool Changed() const { return changed_; }
    // The value a new row's column takes when the grid hands none.
    void SetColumnDefault(int column, const QString& value);

    void PropertyPage_Initialize();
    void PropertyPage_SelectionChanged();
    void PropertyPage_ApplyChanges();

    void DBGrid1_UnboundReadData(UnboundRowBuffer& rowBuf, const QString& startLocation, bool readPriorRows) const;
    void DBGrid1_UnboundWriteData(const UnboundRowBuffer& rowBuf, const QString& writeLocation);
    void DBGrid1_UnboundAddData(const UnboundRowBuffer& rowBuf, QString& newRowBookmark);
    void DBGrid1_UnboundDeleteRow(const QString& bookmark);
    void DBGrid1_UnboundGetRelativeBookmark(const QString& startLocation, int offset, QString& newLocation) const;

    // Rows in the working copy, deleted ones included.
    int WorkingRows() const { return static_cast<int>(masks_.size()); }

signals:
    // The page holds edits that Apply has not written yet.
    void ChangedChanged(bool changed);

private:
    void MarkChanged(bool changed);
    void RefreshGrid();
    // The row number a bookmark names, or 0 when it names none.
    int RowOf(const QString& bookmark) const;
    QStringList& ColumnList(int column);

    QList<QPointer<Timora>> selected_;
    QStringList masks_, categories_, actions_;
    std::vector<std::uint16_t> deleted_;
    QString defaults_[3];
    bool changed_ = false;
    QTableView* grid_;
    PageGridModel* model_;
    friend class PageGridModel;
};

} // namespace tollan
