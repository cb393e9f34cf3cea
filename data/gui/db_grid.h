// The grid over a dataset: a table view over TTableModel with a vertical scroll bar of its own,
// since the model holds only the rows on screen. The current row follows the dataset and the
// dataset follows clicks, keys and the wheel. Column widths can be saved and restored; a double
// click reports the field under the mouse.
#pragma once
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "dataset.h"
#include "table_model.h"

class QTableView;
class QScrollBar;

namespace zn::data {

class TDBGrid : public QWidget {
public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return source_; }
    TTable* DataSet() const { return model_.DataSet(); }

    // The grid's own columns (a field and a title each); empty shows the dataset's visible fields.
    void SetColumns(const std::vector<TColumn>& columns) { model_.SetColumns(columns); }
    // Column widths in pixels, in column order.
    std::vector<int> ColumnWidths() const;
    void SetColumnWidths(const std::vector<int>& widths);

    // The colour of a row's text, asked with that row as the dataset's active record.
    void SetRowColor(std::function<QColor(TTable&)> rowColor);
    // A double click on a row: it is made current first, then the field under the mouse is told.
    std::function<void(const std::string& fieldName)> OnDblClick;

    QTableView* View() const { return view_; }
    QScrollBar* ScrollBar() const { return scrollBar_; }
    TTableModel& Model() { return model_; }
    // The number of rows that fit in the view.
    int VisibleRowCount() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitWindow();
    void DefaultColumnWidths();
    std::vector<std::string> ColumnNames() const;
    void SyncCurrent();
    void SyncScrollBar();
    void OnScrollAction(int action);
    void OnSliderReleased();

    TDataSource* source_ = nullptr;
    TTableModel model_;
    QTableView* view_;
    QScrollBar* scrollBar_;
    int link_ = 0;
    bool syncing_ = false;
    std::vector<std::string> keptColumns_;
    std::vector<int> keptWidths_;
};

} // namespace zn::data
