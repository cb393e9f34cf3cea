#include "db_grid.h"

#include <QHBoxLayout>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>
#include <QWheelEvent>
#include <algorithm>

namespace zn::data {

namespace {
// The scroll bar stands for the position only roughly, since the window knows no row numbers: in
// record order the record number against the record count, in tag order the top, the bottom or
// the middle.
constexpr int kScrollRange = 100;
constexpr int kScrollPage = 10;
constexpr int kMaxDefaultColumnChars = 30;
} // namespace

TDBGrid::TDBGrid(QWidget* parent)
    : QWidget(parent), view_(new QTableView(this)), scrollBar_(new QScrollBar(Qt::Vertical, this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view_);
    layout->addWidget(scrollBar_);
    view_->setObjectName("GridView");
    scrollBar_->setObjectName("GridScrollBar");
    view_->setModel(&model_);
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->verticalHeader()->setVisible(false);
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(QFontMetrics(view_->font()).height() + 6);
    view_->horizontalHeader()->setHighlightSections(false);
    view_->setWordWrap(false);
    // Tab leaves the grid for the window's next control; the arrows move between rows.
    view_->setTabKeyNavigation(false);
    view_->installEventFilter(this);
    view_->viewport()->installEventFilter(this);
    scrollBar_->setRange(0, kScrollRange);
    scrollBar_->setPageStep(kScrollPage);
    QObject::connect(scrollBar_, &QScrollBar::sliderReleased, this, [this] { OnSliderReleased(); });
    QObject::connect(scrollBar_, &QScrollBar::actionTriggered, this, [this](int action) { OnScrollAction(action); });
    QObject::connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                     [this](const QModelIndex& current, const QModelIndex&) {
                         if (syncing_ || !current.isValid())
                             return;
                         model_.SetCurrentRow(current.row());
                         SyncScrollBar();
                     });
    QObject::connect(view_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid())
            return;
        model_.SetCurrentRow(index.row());
        TField* field = model_.ColumnField(index.column());
        if (OnDblClick)
            OnDblClick(field ? field->FieldName() : std::string());
    });
    // A model reset (the table closed and opened again) keeps the widths of the same columns.
    QObject::connect(&model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        if (model_.columnCount() > 0) {
            keptColumns_ = ColumnNames();
            keptWidths_ = ColumnWidths();
        }
    });
    QObject::connect(&model_, &QAbstractItemModel::modelReset, this, [this] {
        if (model_.columnCount() > 0 && ColumnNames() == keptColumns_)
            SetColumnWidths(keptWidths_);
        else if (model_.columnCount() > 0)
            DefaultColumnWidths();
        SyncCurrent();
    });
    QObject::connect(&model_, &QAbstractItemModel::dataChanged, this, [this] { SyncCurrent(); });
    QObject::connect(&model_, &QAbstractItemModel::rowsInserted, this, [this] { SyncCurrent(); });
    QObject::connect(&model_, &QAbstractItemModel::rowsRemoved, this, [this] { SyncCurrent(); });
}

TDBGrid::~TDBGrid()
{
    if (model_.DataSet() && link_)
        model_.DataSet()->RemoveLink(link_);
}

void TDBGrid::SetDataSource(TDataSource* source)
{
    if (model_.DataSet() && link_)
        model_.DataSet()->RemoveLink(link_);
    link_ = 0;
    source_ = source;
    model_.SetDataSet(source ? source->DataSet() : nullptr);
    // The model hears the dataset first (it linked first); then the grid puts the cursor row right.
    if (model_.DataSet()) {
        link_ = model_.DataSet()->AddLink([this](TDataEvent e) {
            if (e == TDataEvent::deDataSetDestroyed)
                link_ = 0;
            SyncCurrent();
        });
    }
    FitWindow();
    SyncCurrent();
}

int TDBGrid::VisibleRowCount() const
{
    int rowHeight = view_->verticalHeader()->defaultSectionSize();
    int height = view_->viewport()->height();
    return std::max(1, height / std::max(rowHeight, 1));
}

void TDBGrid::FitWindow() { model_.SetWindowSize(VisibleRowCount()); }

void TDBGrid::SyncCurrent()
{
    if (syncing_)
        return;
    syncing_ = true;
    int row = model_.CurrentRow();
    QModelIndex current = view_->currentIndex();
    int column = current.isValid() ? current.column() : 0;
    if (row >= 0 && model_.columnCount() > 0) {
        QModelIndex target = model_.index(row, std::clamp(column, 0, model_.columnCount() - 1));
        view_->selectionModel()->setCurrentIndex(target,
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        view_->selectionModel()->clearSelection();
    }
    syncing_ = false;
    SyncScrollBar();
}

void TDBGrid::SyncScrollBar()
{
    if (scrollBar_->isSliderDown())
        return; // the user is dragging: the thumb is theirs
    QSignalBlocker block(scrollBar_);
    TTable* table = model_.DataSet();
    bool top = model_.AtTop() && model_.CurrentRow() <= 0;
    bool bottom = model_.AtBottom() && model_.CurrentRow() == model_.rowCount() - 1;
    scrollBar_->setEnabled(!(model_.AtTop() && model_.AtBottom()));
    int value = kScrollRange / 2;
    if (top)
        value = 0;
    else if (bottom)
        value = kScrollRange;
    else if (table && table->Active() && table->IndexName().empty()) {
        long count = table->RecordCount();
        if (count > 1)
            value = static_cast<int>((table->RecNo() - 1) * kScrollRange / (count - 1));
        value = std::clamp(value, 1, kScrollRange - 1);
    }
    scrollBar_->setValue(value);
}

// A drag ends: at either end the first or last row; in record order the record at that fraction
// of the table (or the next one the filter lets through); in tag order the thumb goes back.
void TDBGrid::OnSliderReleased()
{
    TTable* table = model_.DataSet();
    int value = scrollBar_->sliderPosition();
    try {
        if (table && table->Active() && !table->IsEmpty()) {
            if (value <= 0)
                table->First();
            else if (value >= kScrollRange)
                table->Last();
            else if (table->IndexName().empty()) {
                long count = table->RecordCount();
                table->GoToRecord(std::clamp(1 + (count - 1) * value / kScrollRange, 1L, count));
                if (table->CheckCurrentRecord() != DBIERR_NONE)
                    table->Refresh();
            }
        }
    } catch (const EDatabaseError&) {
    }
    SyncCurrent();
}

void TDBGrid::OnScrollAction(int action)
{
    if (action == QAbstractSlider::SliderMove)
        return; // a drag acts when it ends
    int page = std::max(1, VisibleRowCount() - 1);
    TTable* table = model_.DataSet();
    if (!table || !table->Active())
        return;
    try {
        switch (action) {
        case QAbstractSlider::SliderSingleStepAdd: model_.MoveBy(1); break;
        case QAbstractSlider::SliderSingleStepSub: model_.MoveBy(-1); break;
        case QAbstractSlider::SliderPageStepAdd: model_.MoveBy(page); break;
        case QAbstractSlider::SliderPageStepSub: model_.MoveBy(-page); break;
        case QAbstractSlider::SliderToMinimum: table->First(); break;
        case QAbstractSlider::SliderToMaximum: table->Last(); break;
        default: break;
        }
    } catch (const EDatabaseError&) {
    }
    SyncCurrent();
}

void TDBGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FitWindow();
    SyncCurrent();
}

bool TDBGrid::eventFilter(QObject* watched, QEvent* event)
{
    TTable* table = model_.DataSet();
    if (watched == view_->viewport() && event->type() == QEvent::Resize) {
        FitWindow();
        SyncCurrent();
        return false;
    }
    if (!table || !table->Active())
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        int steps = -wheel->angleDelta().y() / 120 * 3;
        if (steps != 0)
            model_.MoveBy(steps);
        SyncCurrent();
        return true;
    }
    if (watched == view_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        int page = std::max(1, VisibleRowCount() - 1);
        try {
            switch (key->key()) {
            case Qt::Key_Down: model_.MoveBy(1); break;
            case Qt::Key_Up: model_.MoveBy(-1); break;
            case Qt::Key_PageDown: model_.MoveBy(page); break;
            case Qt::Key_PageUp: model_.MoveBy(-page); break;
            case Qt::Key_Home:
                if (!(key->modifiers() & Qt::ControlModifier))
                    return false;
                table->First();
                break;
            case Qt::Key_End:
                if (!(key->modifiers() & Qt::ControlModifier))
                    return false;
                table->Last();
                break;
            default: return false;
            }
        } catch (const EDatabaseError&) {
        }
        SyncCurrent();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// Columns start as wide as their fields' display widths (long texts capped), or their labels.
void TDBGrid::DefaultColumnWidths()
{
    QFontMetrics metrics(view_->font());
    int charWidth = metrics.horizontalAdvance(QLatin1Char('0'));
    for (int i = 0; i < model_.columnCount(); ++i) {
        TField* field = model_.ColumnField(i);
        if (!field)
            continue;
        int chars = std::min(field->DisplayWidth(), kMaxDefaultColumnChars);
        int text = charWidth * chars + 12;
        int label = metrics.horizontalAdvance(QString::fromStdString(field->DisplayLabel())) + 16;
        view_->setColumnWidth(i, std::max(text, label));
    }
}

std::vector<std::string> TDBGrid::ColumnNames() const
{
    std::vector<std::string> names;
    for (int i = 0; i < model_.columnCount(); ++i)
        names.push_back(model_.ColumnField(i)->FieldName());
    return names;
}

std::vector<int> TDBGrid::ColumnWidths() const
{
    std::vector<int> widths;
    for (int i = 0; i < model_.columnCount(); ++i)
        widths.push_back(view_->columnWidth(i));
    return widths;
}

void TDBGrid::SetColumnWidths(const std::vector<int>& widths)
{
    for (int i = 0; i < model_.columnCount() && i < static_cast<int>(widths.size()); ++i)
        if (widths[static_cast<size_t>(i)] > 0)
            view_->setColumnWidth(i, widths[static_cast<size_t>(i)]);
}

void TDBGrid::SetRowColor(std::function<QColor(TTable&)> rowColor)
{
    model_.RowColor = std::move(rowColor);
    view_->viewport()->update();
}

} // namespace zn::data
