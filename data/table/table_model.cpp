#include "table_model.h"

#include <algorithm>

namespace zn::data {

TTableModel::TTableModel(TTable* table, QObject* parent) : QAbstractTableModel(parent) { SetDataSet(table); }

TTableModel::~TTableModel()
{
    if (table_ && link_)
        table_->RemoveLink(link_);
}

void TTableModel::SetDataSet(TTable* table)
{
    if (table_ && link_)
        table_->RemoveLink(link_);
    link_ = 0;
    table_ = table;
    if (table_)
        link_ = table_->AddLink([this](TDataEvent e) { OnDataEvent(e); });
    Reload();
}

void TTableModel::SetWindowSize(int rows)
{
    rows = std::max(rows, 1);
    if (rows == windowSize_)
        return;
    windowSize_ = rows;
    Refill(currentRow_);
}

void TTableModel::SetColumns(const std::vector<TColumn>& columns)
{
    chosen_ = columns;
    Reload();
}

void TTableModel::RebuildColumns()
{
    columns_.clear();
    titles_.clear();
    if (!table_ || !table_->Active())
        return;
    if (!chosen_.empty()) {
        for (const TColumn& c : chosen_) {
            if (TField* f = table_->FindField(c.fieldName)) {
                columns_.push_back(f);
                titles_.push_back(c.title.empty() ? f->DisplayLabel() : c.title);
            }
        }
        return;
    }
    for (int i = 0; i < table_->FieldCount(); ++i) {
        TField& f = table_->Fields(i);
        if (f.Visible() && f.DataType() != TFieldType::ftBlob) {
            columns_.push_back(&f);
            titles_.push_back(f.DisplayLabel());
        }
    }
}

void TTableModel::Reload()
{
    beginResetModel();
    RebuildColumns();
    rows_.clear();
    currentRow_ = -1;
    endResetModel();
    Refill(0);
}

void TTableModel::OnDataEvent(TDataEvent event)
{
    if (event == TDataEvent::deDataSetDestroyed) {
        table_ = nullptr;
        link_ = 0;
        Reload();
        return;
    }
    if (reloading_)
        return;
    switch (event) {
    case TDataEvent::deActiveChanged:
    case TDataEvent::deLayoutChange: Reload(); break;
    case TDataEvent::deDataSetChanged: Refill(currentRow_); break;
    case TDataEvent::deDataSetScroll: {
        // A move inside the window keeps the rows; outside, the window follows.
        long recno = table_->CurrentRecord().recno;
        for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
            if (rows_[static_cast<size_t>(i)].recno == recno) {
                currentRow_ = i;
                // Rows are fresh only when the move came from the window's own order.
                return;
            }
        }
        Refill(table_->Bof() ? 0 : table_->Eof() ? windowSize_ - 1 : currentRow_);
        break;
    }
    case TDataEvent::deDataSetDestroyed: break;
    case TDataEvent::deRecordChange:
        if (currentRow_ >= 0 && currentRow_ < static_cast<int>(rows_.size()) && columnCount() > 0) {
            rows_[static_cast<size_t>(currentRow_)] = table_->CurrentRecord();
            emit dataChanged(index(currentRow_, 0), index(currentRow_, columnCount() - 1));
        }
        break;
    }
}

// Reads the window around the current record, which lands on row `currentRowWanted` when the
// table has enough rows above and below it.
void TTableModel::Refill(int currentRowWanted)
{
    std::vector<TRecordBuffer> above, below;
    std::vector<TRecordBuffer> rows;
    int current = -1;
    bool top = true, bottom = true;
    if (table_ && table_->Active() && table_->CurrentRecord().recno > 0) {
        reloading_ = true;
        try {
            const TRecordBuffer cur = table_->CurrentRecord();
            int wantAbove = std::clamp(currentRowWanted, 0, windowSize_ - 1);
            // One row more each way tells whether the window touches an end.
            table_->ReadRows(cur.recno, -1, wantAbove + 1, above);
            top = static_cast<int>(above.size()) <= wantAbove;
            if (!top)
                above.pop_back();
            int wantBelow = windowSize_ - 1 - static_cast<int>(above.size());
            table_->ReadRows(cur.recno, 1, wantBelow + 1, below);
            bottom = static_cast<int>(below.size()) <= wantBelow;
            if (!bottom)
                below.pop_back();
            if (bottom && !top && static_cast<int>(above.size() + below.size()) + 1 < windowSize_) {
                int more = windowSize_ - 1 - static_cast<int>(below.size());
                table_->ReadRows(cur.recno, -1, more + 1, above);
                top = static_cast<int>(above.size()) <= more;
                if (!top)
                    above.pop_back();
            }
            rows.assign(above.rbegin(), above.rend());
            current = static_cast<int>(rows.size());
            rows.push_back(cur);
            rows.insert(rows.end(), below.begin(), below.end());
        } catch (const EDatabaseError&) {
            rows.clear();
            current = -1;
        }
        reloading_ = false;
    }
    int oldCount = static_cast<int>(rows_.size());
    int newCount = static_cast<int>(rows.size());
    if (newCount < oldCount) {
        beginRemoveRows(QModelIndex(), newCount, oldCount - 1);
        rows_.resize(static_cast<size_t>(newCount));
        endRemoveRows();
    } else if (newCount > oldCount) {
        beginInsertRows(QModelIndex(), oldCount, newCount - 1);
        rows_.resize(static_cast<size_t>(newCount));
        endInsertRows();
    }
    rows_ = std::move(rows);
    currentRow_ = current;
    atTop_ = top;
    atBottom_ = bottom;
    if (newCount > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(newCount - 1, columnCount() - 1));
}

long TTableModel::RowRecNo(int row) const
{
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return 0;
    return rows_[static_cast<size_t>(row)].recno;
}

void TTableModel::SetCurrentRow(int row)
{
    if (!table_ || row < 0 || row >= static_cast<int>(rows_.size()) || row == currentRow_)
        return;
    // The row is current before the dataset tells its links, so that a grid finds it there.
    int before = currentRow_;
    currentRow_ = row;
    reloading_ = true;
    try {
        table_->CheckBrowseMode();
        table_->GoToRow(rows_[static_cast<size_t>(row)]);
    } catch (const EDatabaseError&) {
        reloading_ = false;
        Refill(before);
        return;
    }
    reloading_ = false;
}

void TTableModel::MoveBy(int distance)
{
    if (!table_ || !table_->Active() || distance == 0 || rows_.empty() || currentRow_ < 0)
        return;
    int count = static_cast<int>(rows_.size());
    int wanted = currentRow_ + distance;
    if (wanted >= 0 && wanted < count) {
        SetCurrentRow(wanted);
        return;
    }
    // Past the window: only the rows beyond it are read (one more tells whether the end is
    // there), the window slides over them and the current record sits at its edge.
    int direction = distance > 0 ? 1 : -1;
    int beyond = direction > 0 ? wanted - (count - 1) : -wanted;
    std::vector<TRecordBuffer> extra;
    reloading_ = true;
    try {
        table_->ReadRows(direction > 0 ? rows_.back().recno : rows_.front().recno, direction, beyond + 1, extra);
    } catch (const EDatabaseError&) {
        extra.clear();
    }
    reloading_ = false;
    bool end = static_cast<int>(extra.size()) <= beyond;
    if (!end)
        extra.pop_back();
    int got = static_cast<int>(extra.size());
    if (got == 0) {
        SetCurrentRow(direction > 0 ? count - 1 : 0);
        (direction > 0 ? atBottom_ : atTop_) = true;
        return;
    }
    std::vector<TRecordBuffer> window;
    window.reserve(static_cast<size_t>(count));
    if (direction > 0) {
        int keep = std::max(0, count - got);
        for (int i = count - keep; i < count; ++i)
            window.push_back(std::move(rows_[static_cast<size_t>(i)]));
        for (int i = std::max(0, got - count); i < got; ++i)
            window.push_back(std::move(extra[static_cast<size_t>(i)]));
        atTop_ = false;
        atBottom_ = end;
    } else {
        for (int i = std::min(got, count) - 1; i >= 0; --i)
            window.push_back(std::move(extra[static_cast<size_t>(i)]));
        for (int i = 0; static_cast<int>(window.size()) < count; ++i)
            window.push_back(std::move(rows_[static_cast<size_t>(i)]));
        atBottom_ = false;
        atTop_ = end;
    }
    rows_ = std::move(window);
    int row = direction > 0 ? count - 1 : 0;
    currentRow_ = row;
    reloading_ = true;
    try {
        table_->GoToRow(rows_[static_cast<size_t>(row)]);
    } catch (const EDatabaseError&) {
    }
    reloading_ = false;
    if (columnCount() > 0)
        emit dataChanged(index(0, 0), index(count - 1, columnCount() - 1));
}

TField* TTableModel::ColumnField(int column) const
{
    if (column < 0 || column >= static_cast<int>(columns_.size()))
        return nullptr;
    return columns_[static_cast<size_t>(column)];
}

int TTableModel::FieldColumn(const std::string& fieldName) const
{
    for (int i = 0; i < static_cast<int>(columns_.size()); ++i)
        if (QString::fromStdString(columns_[static_cast<size_t>(i)]->FieldName())
                .compare(QString::fromStdString(fieldName), Qt::CaseInsensitive)
            == 0)
            return i;
    return -1;
}

int TTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !table_ || index.row() >= static_cast<int>(rows_.size()))
        return QVariant();
    TField* field = ColumnField(index.column());
    if (!field)
        return QVariant();
    const TRecordBuffer& row = rows_[static_cast<size_t>(index.row())];
    // The dataset's active record is switched to this row while its fields are read.
    struct Active {
        TTable& t;
        ~Active() { t.SetActiveRecord(nullptr); }
    } restore{*table_};
    table_->SetActiveRecord(&row);
    switch (role) {
    case Qt::DisplayRole: return field->DisplayString();
    case Qt::ForegroundRole:
        if (RowColor) {
            QColor c = RowColor(*table_);
            if (c.isValid())
                return c;
        }
        return QVariant();
    case Qt::TextAlignmentRole:
        if (field->DataType() == TFieldType::ftFloat || field->DataType() == TFieldType::ftSmallint)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default: return QVariant();
    }
}

QVariant TTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    if (section < 0 || section >= static_cast<int>(titles_.size()))
        return QVariant();
    return QString::fromStdString(titles_[static_cast<size_t>(section)]);
}

} // namespace zn::data
