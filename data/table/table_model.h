// A Qt table model over a dataset that holds only the rows a view shows: a window of rows read in
// the order of the dataset's tag through the engine's cursor, around the current record, as a
// data-aware grid keeps its record buffers. The window follows the dataset (its current record
// stays inside), never reads the whole table, and its memory does not grow with the table.
// Columns are the visible fields in column order, headed by their display labels; dates show in
// the short date format; calculated fields are filled per row by the dataset's OnCalcFields.
#pragma once
#include <QAbstractTableModel>
#include <QColor>
#include <functional>
#include <string>
#include <vector>

#include "dataset.h"

namespace zn::data {

// A grid column of its own choosing: a field and the column's title ("" = the field's label).
struct TColumn {
    std::string fieldName;
    std::string title;
};

class TTableModel : public QAbstractTableModel {
public:
    explicit TTableModel(TTable* table = nullptr, QObject* parent = nullptr);
    ~TTableModel() override;

    void SetDataSet(TTable* table);
    TTable* DataSet() const { return table_; }

    // How many rows the view shows; the window holds that many when the table has them.
    void SetWindowSize(int rows);
    int WindowSize() const { return windowSize_; }

    // The window row of the current record (-1 when the dataset is empty or closed).
    int CurrentRow() const { return currentRow_; }
    long RowRecNo(int row) const;
    // Makes a row of the window the dataset's current record.
    void SetCurrentRow(int row);
    // Moves the current record by `distance` rows (keys, wheel); the window follows.
    void MoveBy(int distance);
    bool AtTop() const { return atTop_; }
    bool AtBottom() const { return atBottom_; }

    // The columns shown; empty (the default) shows every visible field in column order.
    void SetColumns(const std::vector<TColumn>& columns);
    TField* ColumnField(int column) const;
    int FieldColumn(const std::string& fieldName) const;

    // Row painter: the colour of a row's text, asked with the row as the dataset's active record
    // (an invalid colour keeps the default).
    std::function<QColor(TTable&)> RowColor;

    // Re-reads the window from the dataset (also done on every dataset event).
    void Reload();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void OnDataEvent(TDataEvent event);
    void Refill(int currentRowWanted);
    void RebuildColumns();

    TTable* table_ = nullptr;
    int link_ = 0;
    int windowSize_ = 20;
    std::vector<TRecordBuffer> rows_;
    std::vector<TField*> columns_;
    std::vector<TColumn> chosen_;
    std::vector<std::string> titles_;
    int currentRow_ = -1;
    bool atTop_ = true, atBottom_ = true;
    bool reloading_ = false;
};

} // namespace zn::data
