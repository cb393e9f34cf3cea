#include "table_model.h"

#include <algorithm>

namespace zn::data {

TTableModel::TTableModel(TTable* table, QObject* parent) : QAbstractTableModel(parent)
{
    SetDataSet(table);
}

TTableModel::~TTableModel()
{
    if (table_ && link_) table_->RemoveLink(link_);
}

void TTableModel::SetDataSet(TTable* table)
{
    if (table_ && link_) table_->RemoveLink(link_);
    link_ = 0;
    table_ = table;
    if (table_) link_ = table_->AddLink([this](TDataEvent e) { OnDataEvent(e); });
    Reload();
}

void TTableModel::SetWindowSize(int rows)
{
    rows = std::max(rows, 1);
    if (rows == windowSize_) return;
    windowSize_ = rows;
    Refill(currentRow_);
}

void TTableModel::RebuildColumns()
{
    columns_.clear();
    if (!table_ || !table_->Active()) return;
    for (int i = 0; i < table_->FieldCount(); ++i) {
        TField& f = table_->Fields(i);
        if (f.Visible() && f.DataType() != TFieldType::ftBlob) columns_.push_back(&f);
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
    if (reloading_) return;
    switch (event) {
    case TDataEvent::deActiveChanged:
    case TDataEvent::deLayoutChange:
        Reload();
        break;
    case TDataEvent::deDataSetChanged:
        Refill(currentRow_);
        break;
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
            if (!top) above.pop_back();
            int wantBelow = windowSize_ - 1 - static_cast<int>(above.size());
            table_->ReadRows(cur.recno, 1, wantBelow + 1, below);
            bottom = static_cast<int>(below.size()) <= wantBelow;
            if (!bottom) below.pop_back();
            if (bottom && !top && static_cast<int>(above.size() + below.size()) + 1 < windowSize_) {
                int more = windowSize_ - 1 - static_cast<int>(below.size());
                table_->ReadRows(cur.recno, -1, more + 1, above);
                top = static_cast<int>(above.size()) <= more;
                if (!top) above.pop_back();
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
    if (newCount > 0 && columnCount() > 0) emit dataChanged(index(0, 0), index(newCount - 1, columnCount() - 1));
}

long TTableModel::RowRecNo(int row) const
{
    if (row < 0 || row >= static_cast<int>(rows_.size())) return 0;
    return rows_[static_cast<size_t>(row)].recno;
}

void TTableModel::SetCurrentRow(int row)
{
    if (!table_ || row < 0 || row >= static_cast<int>(rows_.size()) || row == currentRow_) return;
    int distance = row - currentRow_;
    reloading_ = true;
    try {
        table_->CheckBrowseMode();
        table_->GoToRow(rows_[static_cast<size_t>(row)]);
    } catch (const EDatabaseError&) {
        reloading_ = false;
        Refill(currentRow_);
        return;
    }
    reloading_ = false;
    (void)distance;
    currentRow_ = row;
}

void TTableModel::MoveBy(int distance)
{
    if (!table_ || !table_->Active() || distance == 0 || rows_.empty() || currentRow_ < 0) return;
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
    if (!end) extra.pop_back();
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
        for (int i = count - keep; i < count; ++i) window.push_back(std::move(rows_[static_cast<size_t>(i)]));
        for (int i = std::max(0, got - count); i < got; ++i) window.push_back(std::move(extra[static_cast<size_t>(i)]));
        atTop_ = false;
        atBottom_ = end;
    } else {
        for (int i = std::min(got, count) - 1; i >= 0; --i) window.push_back(std::move(extra[static_cast<size_t>(i)]));
        for (int i = 0; static_cast<int>(window.size()) < count; ++i) window.push_back(std::move(rows_[static_cast<size_t>(i)]));
        atBottom_ = false;
        atTop_ = end;
    }
    rows_ = std::move(window);
    int row = direction > 0 ? count - 1 : 0;
    reloading_ = true;
    try {
        table_->GoToRow(rows_[static_cast<size_t>(row)]);
    } catch (const EDatabaseError&) {
    }
    reloading_ = false;
    currentRow_ = row;
    if (columnCount() > 0) emit dataChanged(index(0, 0), index(count - 1, columnCount() - 1));
}

void TTableModel::ScrollBy(int distance)
{
    if (!table_ || !table_->Active() || rows_.empty() || distance == 0) return;
    // The window moves; the current record moves along when it would leave the window.
    int target = std::clamp(currentRow_ - distance, 0, static_cast<int>(rows_.size()) - 1);
    int stepsNeeded = distance;
    reloading_ = true;
    int moved = 0;
    try {
        long anchor = distance > 0 ? rows_.back().recno : rows_.front().recno;
        std::vector<TRecordBuffer> extra;
        table_->ReadRows(anchor, distance > 0 ? 1 : -1, std::abs(stepsNeeded), extra);
        moved = static_cast<int>(extra.size()) * (distance > 0 ? 1 : -1);
        if (moved != 0) {
            long recno = table_->CurrentRecord().recno;
            int newCurrentRow = currentRow_ - moved;
            if (newCurrentRow < 0 || newCurrentRow >= static_cast<int>(rows_.size())) {
                int index = std::clamp(newCurrentRow, 0, static_cast<int>(rows_.size()) - 1);
                // The row that will sit at `index` once the window has moved.
                std::vector<TRecordBuffer> all = rows_;
                if (moved > 0) all.insert(all.end(), extra.begin(), extra.end());
                else all.insert(all.begin(), extra.rbegin(), extra.rend());
                size_t at = static_cast<size_t>(moved > 0 ? index + moved : index);
                table_->GoToRecord(all[at].recno);
                target = index;
            } else {
                target = newCurrentRow;
            }
            (void)recno;
        }
    } catch (const EDatabaseError&) {
    }
    reloading_ = false;
    if (moved != 0) Refill(target);
}

TField* TTableModel::ColumnField(int column) const
{
    if (column < 0 || column >= static_cast<int>(columns_.size())) return nullptr;
    return columns_[static_cast<size_t>(column)];
}

int TTableModel::FieldColumn(const std::string& fieldName) const
{
    for (int i = 0; i < static_cast<int>(columns_.size()); ++i)
        if (QString::fromStdString(columns_[static_cast<size_t>(i)]->FieldName())
                .compare(QString::fromStdString(fieldName), Qt::CaseInsensitive) == 0)
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
    if (!index.isValid() || !table_ || index.row() >= static_cast<int>(rows_.size())) return QVariant();
    TField* field = ColumnField(index.column());
    if (!field) return QVariant();
    const TRecordBuffer& row = rows_[static_cast<size_t>(index.row())];
    // The dataset's active record is switched to this row while its fields are read.
    struct Active {
        TTable& t;
        ~Active() { t.SetActiveRecord(nullptr); }
    } restore{*table_};
    table_->SetActiveRecord(&row);
    switch (role) {
    case Qt::DisplayRole:
        return field->DisplayString();
    case Qt::ForegroundRole:
        if (RowColor) {
            QColor c = RowColor(*table_);
            if (c.isValid()) return c;
        }
        return QVariant();
    case Qt::TextAlignmentRole:
        if (field->DataType() == TFieldType::ftFloat || field->DataType() == TFieldType::ftSmallint)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant TTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    TField* field = ColumnField(section);
    return field ? QVariant(QString::fromStdString(field->DisplayLabel())) : QVariant();
}

} // namespace zn::data
