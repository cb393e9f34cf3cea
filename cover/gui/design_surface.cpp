#include "cover/gui/design_surface.h"

#include "cover/gui/cover_dialogs.h"
#include "cover/template_files.h"
#include "foundation/program_folders.h"
#include "platform/clock.h"
#include "platform/folders.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zn::cover::gui {

namespace {

// Rectangles given by their edges: right and bottom lie one past the last pixel.
QRect FromEdges(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

QRect Normalised(const QPoint& a, const QPoint& b)
{
    return FromEdges(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::max(a.x(), b.x()), std::max(a.y(), b.y()));
}

QRect ItemRect(const TFaxGraphicControl& item) { return QRect(item.Left, item.Top, item.Width, item.Height); }

// Any common point (edges included), as the rubber band tests overlap.
bool Overlaps(const QRect& a, const QRect& b)
{
    return a.left() <= b.left() + b.width() && b.left() <= a.left() + a.width() && a.top() <= b.top() + b.height()
           && b.top() <= a.top() + a.height();
}

Qt::CursorShape CursorShape(THandleCursor cursor)
{
    switch (cursor) {
    case hcGrab: return Qt::OpenHandCursor;
    case hcSizeNWSE: return Qt::SizeFDiagCursor;
    case hcSizeNESW: return Qt::SizeBDiagCursor;
    case hcSizeNS: return Qt::SizeVerCursor;
    case hcSizeWE: return Qt::SizeHorCursor;
    case hcNoDrop: return Qt::ForbiddenCursor;
    case hcDefault: break;
    }
    return Qt::ArrowCursor;
}

// The 8 x 8 grid patterns: a green dot where the pattern's bit is 0.
QImage GridTile(TGridSize size)
{
    static const uint8_t k4x4[8] = {0xFF, 0xFF, 0xDD, 0xFF, 0xFF, 0xFF, 0xDD, 0xFF};
    static const uint8_t k8x8[8] = {0xFF, 0xFF, 0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint8_t* rows = size == gs4x4 ? k4x4 : k8x8;
    QImage tile(8, 8, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if (!(rows[y] & (0x80 >> x)))
                tile.setPixel(x, y, qRgb(0, 0x80, 0));
    return tile;
}

} // namespace

TFaxBasePanel::TFaxBasePanel(QWidget* parent, TClock clock)
    : QWidget(parent),
      clock_(clock ? std::move(clock) : TClock([] { return static_cast<int64_t>(platform::MonotonicMs()); })),
      handle_(clock_)
{
    setObjectName("LabelPanel");
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(kPageWidth, kPageHeight);
    handle_.SetSurfaceSize(kPageWidth, kPageHeight);
    handle_.SetSnapToGrid(false);
    const std::string folder = foundation::GetProgramFolder();
    clipboardFile_ = folder + "Clipbrd.tmp";
    tempFile_ = folder + "TempFile.tmp";
    ownEditor_ = std::make_unique<TDialogItemEditor>(this);
    editor_ = ownEditor_.get();
    BuildSurfaceMenu();
}

TFaxBasePanel::~TFaxBasePanel()
{
    // The items go first: their destruction must not call back into a half-destroyed surface.
    handle_.ClearSelection();
    for (auto& item : items_)
        item->SetHost(nullptr);
    items_.clear();
    for (const std::string& name : {clipboardFile_, tempFile_})
        std::remove(name.c_str()); // errors are ignored
}

void TFaxBasePanel::BuildSurfaceMenu()
{
    surfacePopup_ = new QMenu(this);
    surfacePopup_->setObjectName("SurfacePopup");
    const auto add = [this](const char* caption, std::function<void()> run, bool needsSelection) {
        QAction* action = surfacePopup_->addAction(caption);
        connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
        if (needsSelection)
            selectionActions_.push_back(action);
        return action;
    };
    add(
        "Bring To Front", [this] { BringToFront(); }, true);
    add(
        "Send To Back", [this] { SendToBack(); }, true);
    surfacePopup_->addSeparator();
    add(
        "Cut", [this] { SelectionCommand(scCut); }, true);
    add(
        "Copy", [this] { SelectionCommand(scCopy); }, true);
    pasteAction_ = add(
        "Paste", [this] { SelectionCommand(scPaste); }, false);
    surfacePopup_->addSeparator();
    add(
        "Delete", [this] { SelectionCommand(scDelete); }, true);
    surfacePopup_->addSeparator();
    add(
        "Align Left", [this] { AlignLeft(); }, true);
    add(
        "Align Right", [this] { AlignRight(); }, true);
    add(
        "Align Tops", [this] { AlignTops(); }, true);
    add(
        "Align Bottoms", [this] { AlignBottoms(); }, true);
    surfacePopup_->addSeparator();
    add(
        "Center Vertically", [this] { CenterVertically(); }, true);
    add(
        "Center Horizontally", [this] { CenterHorizontally(); }, true);
    surfacePopup_->addSeparator();
    lockAllAction_ = add(
        "Lock All", [this] { LockAll(true); }, false);
    unlockAllAction_ = add(
        "Unlock All", [this] { LockAll(false); }, false);
    surfacePopup_->addSeparator();
    add(
        "Mark All Selectable", [this] { MarkAllSelectable(true); }, false);
    add(
        "Mark All Unselectable", [this] { MarkAllSelectable(false); }, false);
    add(
        "Select All", [this] { SelectAll(); }, false);
    surfacePopup_->addSeparator();
    add(
        "Font", [this] { FontCommand(); }, true);
}

void TFaxBasePanel::PopupSurfaceMenu(const QPoint& globalPos)
{
    const bool selected = handle_.HasSelection();
    for (QAction* action : selectionActions_)
        action->setEnabled(selected);
    pasteAction_->setEnabled(platform::FileExistsCI(clipboardFile_));
    // The handle counts as a child, as it always has.
    const bool children = items_.size() + 1 > 1;
    lockAllAction_->setEnabled(children);
    unlockAllAction_->setEnabled(children);
    shownMenu_ = surfacePopup_;
    surfacePopup_->popup(globalPos);
}

void TFaxBasePanel::PopupItemMenu(TFaxGraphicControl& item, const QPoint& globalPos)
{
    itemMenu_ = std::make_unique<QMenu>(this);
    itemMenu_->setObjectName("ItemPopup");
    BuildMenu(*itemMenu_, item.Menu());
    // An entry may change the item in ways only its paint shows.
    connect(itemMenu_.get(), &QMenu::triggered, this, [this] { Changed(); });
    shownMenu_ = itemMenu_.get();
    itemMenu_->popup(globalPos);
}

// ---- properties ----------------------------------------------------------------------------------

void TFaxBasePanel::SetShape(TLabelShapeType shape)
{
    if (shape == shape_)
        return;
    shape_ = shape;
    Changed();
}

void TFaxBasePanel::SetShowGrid(bool show)
{
    if (show == showGrid_)
        return;
    showGrid_ = show;
    Changed();
}

void TFaxBasePanel::SetSnapToGrid(bool snap)
{
    if (snap == snapToGrid_)
        return;
    snapToGrid_ = snap;
    handle_.SetSnapToGrid(snap);
    if (snap) {
        const int step = gridSize_ == gs4x4 ? 4 : 8;
        handle_.SetGridX(step);
        handle_.SetGridY(step);
    }
}

void TFaxBasePanel::SetGridSize(TGridSize size)
{
    if (size == gridSize_)
        return;
    gridSize_ = size;
    const int step = size == gs4x4 ? 4 : 8;
    handle_.SetGridX(step);
    handle_.SetGridY(step);
    Changed();
}

// ---- items ---------------------------------------------------------------------------------------

std::vector<const TFaxGraphicControl*> TFaxBasePanel::ItemList() const
{
    std::vector<const TFaxGraphicControl*> list;
    for (const auto& item : items_)
        list.push_back(item.get());
    return list;
}

TFaxGraphicControl* TFaxBasePanel::FindItem(const std::string& name) const
{
    for (const auto& item : items_)
        if (item->Name == name)
            return item.get();
    return nullptr;
}

bool TFaxBasePanel::NameTaken(const std::string& name) const
{
    // The designer form's own components carry these names too.
    static const char* const kFormNames[] = {"LabelPanel", "ScrollBox1",  "Panel1",     "Panel2",
                                             "FontDialog", "OpenDialog",  "Timer1",     "MainMenu1",
                                             "FileMenu",   "ZoomSpinner", "ZoomCaption"};
    for (const char* form : kFormNames)
        if (name == form)
            return true;
    return FindItem(name) != nullptr;
}

TFaxDesignObjectFiler::TNameTaken TFaxBasePanel::NameCheck() const
{
    return [this](const std::string& name) { return NameTaken(name); };
}

void TFaxBasePanel::SetItems(TItemList items)
{
    handle_.ClearSelection();
    loading_ = true;
    for (auto& item : items)
        items_.push_back(std::move(item));
    RebindAll();
    loading_ = false;
    Changed();
}

void TFaxBasePanel::RebindAll()
{
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        TFaxGraphicControl& item = **it;
        item.SetHost(this);
        item.Zoom = zoom_; // no rescale: the model stays at 100%
        if (auto* label = dynamic_cast<TFaxCoverBaseLabel*>(&item))
            label->GrowToText();
    }
}

std::string TFaxBasePanel::UniqueName(const std::string& prefix) const
{
    for (int n = 1; n <= 1000; ++n)
        if (!NameTaken(prefix + std::to_string(n)))
            return prefix + std::to_string(n);
    return "";
}

void TFaxBasePanel::PlaceItem(std::unique_ptr<TFaxGraphicControl> item, const QRect& r)
{
    TFaxGraphicControl& placed = *item;
    placed.Name = UniqueName("Special");
    placed.Left = r.left();
    placed.Top = r.top();
    placed.Width = std::max(r.width(), 10);
    placed.Height = std::max(r.height(), 15);
    placed.SetHost(this);
    placed.Zoom = zoom_;
    items_.push_back(std::move(item));
    placed.BoundsChanged();
    ItemChanged();
}

void TFaxBasePanel::DestroyItem(TFaxGraphicControl* item)
{
    handle_.Deselect(item);
    const auto it = std::find_if(items_.begin(), items_.end(), [item](const auto& p) { return p.get() == item; });
    if (it == items_.end())
        return;
    (*it)->SetHost(nullptr);
    // A menu entry of the item may be what is running now: the item goes after this event.
    graveyard_.push_back(std::move(*it));
    items_.erase(it);
    QTimer::singleShot(0, this, [this] { graveyard_.clear(); });
    Changed();
}

void TFaxBasePanel::ClearItems()
{
    handle_.ClearSelection();
    while (!items_.empty())
        DestroyItem(items_.back().get());
    Changed();
}

void TFaxBasePanel::ClampItems()
{
    handle_.ClearSelection();
    for (auto& item : items_) {
        if (item->Top > kPageHeight - 10)
            item->Top = kPageHeight - 10;
        if (item->Left > kPageWidth - 20)
            item->Left = kPageWidth - 20;
        item->BoundsChanged();
    }
    Changed();
}

void TFaxBasePanel::PurgeItems()
{
    handle_.ClearSelection();
    for (size_t i = items_.size(); i-- > 0;) {
        TFaxGraphicControl* item = items_[i].get();
        if (item->Top > kPageHeight - 10 || item->Left > kPageWidth - 10 || item->Width < 1 || item->Height < 1)
            DestroyItem(item);
    }
    Changed();
}

std::vector<TFaxGraphicControl*> TFaxBasePanel::SelectedItems() const { return handle_.Selection(); }

// ---- notices -------------------------------------------------------------------------------------

void TFaxBasePanel::NotifyLabelChanged()
{
    if (!suspendChangeNotice_ && LabelChangedEvent)
        LabelChangedEvent();
}

void TFaxBasePanel::ItemChanged()
{
    if (!Printing)
        NotifyLabelChanged();
    Changed();
}

void TFaxBasePanel::PostRefit()
{
    if (refitPosted_)
        return;
    refitPosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refitPosted_ = false;
            handle_.Refit();
            update();
        },
        Qt::QueuedConnection);
}

bool TFaxBasePanel::IsSelected(const TFaxGraphicControl& item) const { return handle_.IndexOf(&item) >= 0; }

void TFaxBasePanel::Unselect(TFaxGraphicControl& item)
{
    handle_.Deselect(&item);
    update();
}

void TFaxBasePanel::Command(TFaxGraphicControl& item, TItemCommand command)
{
    switch (command) {
    case icBringToFront:
    case icSendToBack: {
        const auto it = std::find_if(items_.begin(), items_.end(), [&item](const auto& p) { return p.get() == &item; });
        if (it != items_.end()) {
            auto owned = std::move(*it);
            items_.erase(it);
            if (command == icBringToFront)
                items_.push_back(std::move(owned));
            else
                items_.insert(items_.begin(), std::move(owned));
        }
        Changed();
        break;
    }
    case icCut: ItemCommand(item, scCut); break;
    case icCopy: ItemCommand(item, scCopy); break;
    case icDelete: ItemCommand(item, scDelete); break;
    case icClone: {
        TFaxDesignObjectFiler filer;
        std::unique_ptr<TFaxGraphicControl> copy = filer.CloneItem(item, NameCheck());
        if (!copy)
            return;
        TFaxGraphicControl* made = copy.get();
        made->Top = item.Top + 25;
        items_.push_back(std::move(copy));
        if (IsSelected(item)) {
            handle_.Deselect(&item);
            handle_.Select(made);
        }
        RebindAll();
        made->BoundsChanged();
        ItemChanged();
        break;
    }
    }
}

// ---- selection commands --------------------------------------------------------------------------

void TFaxBasePanel::ItemCommand(TFaxGraphicControl& item, TSelectionCommand command)
{
    if (IsSelected(item))
        return SelectionCommand(command);
    if (command == scCut || command == scCopy)
        TFaxDesignObjectFiler::SaveToFile({&item}, clipboardFile_);
    if (command == scCut || command == scDelete) {
        NotifyLabelChanged();
        DestroyItem(&item);
    }
}

void TFaxBasePanel::SelectionCommand(TSelectionCommand command)
{
    switch (command) {
    case scCopy:
    case scCut: {
        std::vector<const TFaxGraphicControl*> selection(handle_.Selection().begin(), handle_.Selection().end());
        TFaxDesignObjectFiler::SaveSelection(selection, clipboardFile_);
        if (command == scCopy)
            break;
        [[fallthrough]];
    }
    case scDelete: {
        const std::vector<TFaxGraphicControl*> selection = handle_.Selection();
        for (auto it = selection.rbegin(); it != selection.rend(); ++it) {
            DestroyItem(*it);
            NotifyLabelChanged();
        }
        break;
    }
    case scPaste: {
        const int64_t now = Now();
        // A key that reaches the surface twice (through the handle and the window) pastes once.
        if (lastPasteTick_ != 0 && now - lastPasteTick_ < kPasteGuardMs)
            break;
        TFaxDesignObjectFiler filer;
        TItemList pasted = filer.PasteFromFile(clipboardFile_, NameCheck());
        for (auto& item : pasted)
            items_.push_back(std::move(item));
        RebindAll();
        NotifyLabelChanged();
        lastPasteTick_ = Now();
        if (lastPasteTick_ == 0)
            lastPasteTick_ = 1;
        break;
    }
    }
    Changed();
}

void TFaxBasePanel::BringToFront()
{
    if (!handle_.HasSelection() || handle_.Locked)
        return;
    for (TFaxGraphicControl* item : handle_.Selection()) {
        const auto it = std::find_if(items_.begin(), items_.end(), [item](const auto& p) { return p.get() == item; });
        auto owned = std::move(*it);
        items_.erase(it);
        items_.push_back(std::move(owned));
    }
    NotifyLabelChanged();
    Changed();
}

void TFaxBasePanel::SendToBack()
{
    if (!handle_.HasSelection() || handle_.Locked)
        return;
    for (TFaxGraphicControl* item : handle_.Selection()) {
        const auto it = std::find_if(items_.begin(), items_.end(), [item](const auto& p) { return p.get() == item; });
        auto owned = std::move(*it);
        items_.erase(it);
        items_.insert(items_.begin(), std::move(owned));
    }
    handle_.ClearSelection();
    NotifyLabelChanged();
    Changed();
}

void TFaxBasePanel::AlignLeft()
{
    if (!handle_.HasSelection())
        return;
    NotifyLabelChanged();
    int m = kPageWidth;
    for (TFaxGraphicControl* item : SelectedItems())
        m = std::min(m, item->Left);
    for (TFaxGraphicControl* item : SelectedItems())
        item->SetBounds(m, item->Top, item->Width, item->Height);
    Changed();
}

void TFaxBasePanel::AlignRight()
{
    if (!handle_.HasSelection())
        return;
    NotifyLabelChanged();
    int m = 0;
    for (TFaxGraphicControl* item : SelectedItems())
        m = std::max(m, item->Left + item->Width);
    for (TFaxGraphicControl* item : SelectedItems())
        item->SetBounds(m - item->Width, item->Top, item->Width, item->Height);
    Changed();
}

void TFaxBasePanel::AlignTops()
{
    if (!handle_.HasSelection())
        return;
    NotifyLabelChanged();
    int m = kPageHeight;
    for (TFaxGraphicControl* item : SelectedItems())
        m = std::min(m, item->Top);
    for (TFaxGraphicControl* item : SelectedItems())
        item->SetBounds(item->Left, m, item->Width, item->Height);
    Changed();
}

void TFaxBasePanel::AlignBottoms()
{
    if (!handle_.HasSelection())
        return;
    NotifyLabelChanged();
    int m = 0;
    for (TFaxGraphicControl* item : SelectedItems())
        m = std::max(m, item->Top + item->Height);
    for (TFaxGraphicControl* item : SelectedItems())
        item->SetBounds(item->Left, m - item->Height, item->Width, item->Height);
    Changed();
}

void TFaxBasePanel::CenterVertically()
{
    for (TFaxGraphicControl* item : SelectedItems())
        item->CenterVertically();
    Changed();
}

void TFaxBasePanel::CenterHorizontally()
{
    for (TFaxGraphicControl* item : SelectedItems())
        item->CenterHorizontally();
    Changed();
}

void TFaxBasePanel::LockAll(bool lock)
{
    for (auto& item : items_)
        if (item->Locked != lock)
            item->SetLocked(lock);
}

void TFaxBasePanel::MarkAllSelectable(bool selectable)
{
    for (auto& item : items_)
        item->SetUnselectable(!selectable);
    Changed();
}

void TFaxBasePanel::SelectAll()
{
    if (items_.empty())
        return;
    handle_.ClearSelection();
    for (auto& item : items_)
        handle_.Select(item.get());
    update();
}

void TFaxBasePanel::ApplyFontToSelection(const TFontSpec& font)
{
    for (TFaxGraphicControl* item : SelectedItems())
        item->ApplyFont(font);
    Changed();
}

void TFaxBasePanel::FontCommand()
{
    if (!handle_.HasSelection() || !editor_)
        return;
    if (const auto font = editor_->EditFont(SurfaceFont, true))
        ApplyFontToSelection(*font);
}

void TFaxBasePanel::SelectInRect(const QRect& r, bool toggle)
{
    std::vector<TFaxGraphicControl*> list;
    if (toggle)
        list = handle_.Selection();
    handle_.ClearSelection();
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        TFaxGraphicControl* item = it->get();
        if (!Overlaps(ItemRect(*item), r))
            continue;
        const auto found = std::find(list.begin(), list.end(), item);
        if (toggle && found != list.end())
            list.erase(found);
        else
            list.push_back(item);
    }
    for (TFaxGraphicControl* item : list)
        handle_.Select(item);
    update();
}

void TFaxBasePanel::SetSurfaceZoom(float z)
{
    if (z == zoom_)
        return;
    suspendChangeNotice_ = true;
    zoom_ = z;
    // The page's size follows from its 100% size, so steps up and down never make it drift.
    setFixedSize(TFaxGraphicControl::Scaled(kPageWidth, z), TFaxGraphicControl::Scaled(kPageHeight, z));
    for (auto& item : items_)
        item->SetZoom(z);
    QCoreApplication::processEvents();
    suspendChangeNotice_ = false;
    Changed();
}

// ---- coordinates ---------------------------------------------------------------------------------

QPoint TFaxBasePanel::ToModel(const QPoint& shown) const
{
    if (zoom_ == 1.0f)
        return shown;
    const auto back = [this](int v) {
        return static_cast<int>(std::lrint(static_cast<double>(v) / static_cast<double>(zoom_)));
    };
    return QPoint(back(shown.x()), back(shown.y()));
}

QRect TFaxBasePanel::ToShown(const QRect& m) const
{
    const auto s = [this](int v) { return TFaxGraphicControl::Scaled(v, zoom_); };
    return QRect(s(m.left()), s(m.top()), s(m.width()), s(m.height()));
}

TFaxGraphicControl* TFaxBasePanel::ItemAt(const QPoint& shown) const
{
    for (auto it = items_.rbegin(); it != items_.rend(); ++it)
        if ((*it)->DisplayRect().contains(shown))
            return it->get();
    return nullptr;
}

bool TFaxBasePanel::HandleHit(const QPoint& shown) const
{
    return handle_.Visible() && ToShown(handle_.Bounds()).contains(shown);
}

// ---- mouse ---------------------------------------------------------------------------------------

void TFaxBasePanel::SetHandleCursor(THandleCursor cursor) { setCursor(CursorShape(cursor)); }

void TFaxBasePanel::SurfacePress(const QPoint& model, Qt::MouseButton button, const QPoint& globalPos)
{
    bandStart_ = bandEnd_ = model;
    pressTarget_ = ptSurface;
    if (button != Qt::LeftButton) {
        PopupSurfaceMenu(globalPos);
        return;
    }
    rubberBanding_ = true;
    setCursor(Qt::PointingHandCursor);
}

void TFaxBasePanel::ItemMouseDown(TFaxGraphicControl& item, const QPoint& model, Qt::MouseButton button,
                                  Qt::KeyboardModifiers modifiers, const QPoint& globalPos)
{
    if (!pointing_ || item.Unselectable())
        return SurfacePress(model, button, globalPos);
    if (!(modifiers & Qt::ShiftModifier))
        handle_.ClearSelection();
    handle_.Select(&item);
    // The handle takes the mouse: a move after the drag delay drags what was just selected.
    pressTarget_ = ptHandle;
    update();
    if (handle_.Count() == 1 && button == Qt::RightButton)
        PopupItemMenu(item, globalPos);
}

void TFaxBasePanel::HandleMouseDown(const QPoint& model, Qt::KeyboardModifiers modifiers)
{
    if (!pointing_)
        return;
    if (!(modifiers & Qt::ShiftModifier))
        return;
    // Shift+click on selected items takes them out of the selection.
    std::vector<TFaxGraphicControl*> kept;
    for (TFaxGraphicControl* item : handle_.Selection())
        if (!ItemRect(*item).contains(model))
            kept.push_back(item);
    handle_.ClearSelection();
    for (TFaxGraphicControl* item : kept)
        handle_.Select(item);
    update();
}

void TFaxBasePanel::HandlePress(const QPoint& model, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                                const QPoint& globalPos)
{
    const QPoint h = model - handle_.Bounds().topLeft();
    const auto inSelected = [&] {
        for (TFaxGraphicControl* item : handle_.Selection())
            if (ItemRect(*item).adjusted(-2, -2, 2, 2).contains(model))
                return true;
        return false;
    };
    if (button == Qt::LeftButton && pointing_ && (inSelected() || handle_.HasSelection())) {
        handle_.Press(h.x(), h.y(), true);
        pressTarget_ = ptHandle;
        HandleMouseDown(model, modifiers);
        return;
    }
    if (button == Qt::RightButton) {
        if (inSelected() && handle_.Count() == 1)
            PopupItemMenu(*handle_.Items(0), globalPos);
        else
            PopupSurfaceMenu(globalPos);
        return;
    }
    handle_.Press(h.x(), h.y(), false);
    setCursor(Qt::ArrowCursor);
    // Passed on to the item under the point, else to the page.
    for (const auto& item : items_)
        if (ItemRect(*item).contains(model))
            return ItemMouseDown(*item, model, button, modifiers, globalPos);
    SurfacePress(model, button, globalPos);
}

void TFaxBasePanel::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    const QPoint shown = event->position().toPoint();
    const QPoint model = ToModel(shown);
    const QPoint global = event->globalPosition().toPoint();
    if (HandleHit(shown))
        HandlePress(model, event->button(), event->modifiers(), global);
    else if (TFaxGraphicControl* item = ItemAt(shown))
        ItemMouseDown(*item, model, event->button(), event->modifiers(), global);
    else
        SurfacePress(model, event->button(), global);
}

void TFaxBasePanel::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint shown = event->position().toPoint();
    const QPoint model = ToModel(shown);
    const bool leftDown = event->buttons() & Qt::LeftButton;
    if (rubberBanding_) {
        setCursor(Qt::PointingHandCursor);
        bandEnd_ = model;
        update();
        return;
    }
    if (handle_.Visible() && (pressTarget_ == ptHandle || HandleHit(shown))) {
        const QPoint h = model - handle_.Bounds().topLeft();
        const bool wasDragging = handle_.IsDragging();
        const THandleCursor cursor = handle_.Move(h.x(), h.y(), leftDown, pointing_);
        if (!pointing_)
            setCursor(Qt::DragMoveCursor);
        else if (handle_.IsDragging() && !wasDragging)
            setCursor(Qt::ClosedHandCursor);
        else if (!handle_.IsDragging())
            SetHandleCursor(cursor);
        if (handle_.IsDragging())
            update();
        if (HandleMouseMoveEvent)
            HandleMouseMoveEvent(event->modifiers(), h.x(), h.y());
        return;
    }
    if (!pointing_)
        setCursor(Qt::DragMoveCursor);
    else if (ItemAt(shown))
        setCursor(Qt::PointingHandCursor);
    else
        setCursor(Qt::ArrowCursor);
}

void TFaxBasePanel::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint model = ToModel(event->position().toPoint());
    const TPressTarget target = pressTarget_;
    pressTarget_ = ptNone;
    if (rubberBanding_) {
        rubberBanding_ = false;
        bandEnd_ = model;
        const QRect band = Normalised(bandStart_, bandEnd_);
        if (pointing_) {
            SelectInRect(band, event->modifiers() & Qt::ShiftModifier);
        } else {
            CreateItem(band);
            if (DroppedObjectEvent)
                DroppedObjectEvent(band);
        }
        if (pointing_)
            setCursor(Qt::ArrowCursor);
        update();
    } else if (target == ptHandle && event->button() == Qt::LeftButton) {
        const QPoint h = model - handle_.Bounds().topLeft();
        handle_.Release(h.x(), h.y());
        setCursor(Qt::ArrowCursor);
        update();
    }
    if (MouseUpEvent)
        MouseUpEvent();
}

void TFaxBasePanel::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint shown = event->position().toPoint();
    const QPoint model = ToModel(shown);
    const QPoint global = event->globalPosition().toPoint();
    if (HandleHit(shown)) {
        if (handle_.Count() == 1) {
            TFaxGraphicControl* item = handle_.Items(0);
            if (ItemRect(*item).adjusted(-2, -2, 2, 2).contains(model))
                PopupItemMenu(*item, global);
        }
    } else if (TFaxGraphicControl* item = ItemAt(shown)) {
        PopupItemMenu(*item, global);
    }
    handle_.DoubleClick();
    pressTarget_ = ptNone;
}

void TFaxBasePanel::leaveEvent(QEvent*)
{
    if (!handle_.IsDragging())
        setCursor(pointing_ ? Qt::ArrowCursor : Qt::DragMoveCursor);
}

// ---- keys ----------------------------------------------------------------------------------------

bool TFaxBasePanel::KeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    const bool ctrl = modifiers & Qt::ControlModifier;
    if (ctrl && key == Qt::Key_C)
        SelectionCommand(scCopy);
    else if (ctrl && key == Qt::Key_V)
        SelectionCommand(scPaste);
    else if (ctrl && key == Qt::Key_X)
        SelectionCommand(scCut);
    else if (!ctrl && key == Qt::Key_Delete)
        SelectionCommand(scDelete);
    else
        return false;
    return true;
}

void TFaxBasePanel::keyPressEvent(QKeyEvent* event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Left: handle_.KeyDown(hkLeft, shift); break;
    case Qt::Key_Up: handle_.KeyDown(hkUp, shift); break;
    case Qt::Key_Right: handle_.KeyDown(hkRight, shift); break;
    case Qt::Key_Down: handle_.KeyDown(hkDown, shift); break;
    default:
        if (!KeyDown(event->key(), event->modifiers()))
            return QWidget::keyPressEvent(event);
        return;
    }
    Changed();
}

void TFaxBasePanel::keyReleaseEvent(QKeyEvent* event)
{
    if (event->isAutoRepeat() || !handle_.KeyMoving())
        return QWidget::keyReleaseEvent(event);
    handle_.KeyUp();
    Changed();
}

// ---- painting ------------------------------------------------------------------------------------

void TFaxBasePanel::Changed()
{
    pageValid_ = false;
    update();
}

void TFaxBasePanel::PaintPage(QImage& image)
{
    image.fill(Qt::white);
    QPainter p(&image);
    const int w = width(), h = height();
    QPainterPath clip;
    switch (shape_) {
    case lsRectangle: clip.addRect(0, 0, w + 1, h + 1); break;
    case lsRoundRect: clip.addRoundedRect(0, 0, w + 1, h + 1, 12, 12); break;
    case lsEllipse: clip.addEllipse(0, 0, w + 1, h + 1); break;
    }
    if (DrawOutline) {
        p.setPen(QPen(Qt::black, 1, Qt::DotLine));
        switch (shape_) {
        case lsRectangle: p.drawRect(0, 0, w - 1, h - 1); break;
        case lsRoundRect: p.drawRoundedRect(0, 0, w - 1, h - 1, 12, 12); break;
        case lsEllipse: p.drawEllipse(0, 0, w - 1, h - 1); break;
        }
    }
    if (showGrid_) {
        p.save();
        p.setClipPath(clip);
        p.fillRect(0, 0, w, h, QBrush(GridTile(gridSize_)));
        p.restore();
    }
    for (const auto& item : items_) {
        const QRect r = item->DisplayRect();
        p.save();
        p.translate(r.topLeft());
        item->Paint(p);
        p.restore();
    }
}

void TFaxBasePanel::DrawSelectionMarks(QPainter& p) const
{
    if (!handle_.HasSelection())
        return;
    const bool one = handle_.Count() == 1;
    const QColor color = one ? QColor(Qt::black) : QColor(0x80, 0x80, 0x80);
    for (const TFaxGraphicControl* item : handle_.Selection()) {
        const QRect d = item->DisplayRect();
        const int l = d.left() - 2, t = d.top() - 2, r = d.left() + d.width() + 2, b = d.top() + d.height() + 2;
        const auto square = [&](int x, int y) { p.fillRect(x, y, 5, 5, color); };
        square(l, t);
        square(r - 5, t);
        square(r - 5, b - 5);
        square(l, b - 5);
        if (one) {
            const int hx = (r - l) / 2, hy = (b - t) / 2;
            square(l + hx - 2, t);
            square(l + hx - 2, b - 5);
            square(l, t + hy - 2);
            square(r - 5, t + hy - 2);
        }
    }
}

void TFaxBasePanel::DrawXorRect(QPainter& p, const QRect& m) const
{
    // Every other pixel of the frame shows the page's pixel inverted, as an XOR outline does. The
    // inversion is computed here from the painted page: the raster engine's XOR mode costs
    // milliseconds the first time it is used, which would stall the first frame of a drag.
    const QRect r = ToShown(m);
    const int l = r.left(), t = r.top(), right = r.left() + r.width(), b = r.top() + r.height();
    std::vector<std::pair<QRgb, QPolygon>> byColour;
    const auto plot = [&](int x, int y) {
        if (!pageCache_.rect().contains(x, y))
            return;
        const QRgb inverted = (~pageCache_.pixel(x, y) & 0x00FFFFFFu) | 0xFF000000u;
        auto it =
            std::find_if(byColour.begin(), byColour.end(), [inverted](const auto& c) { return c.first == inverted; });
        if (it == byColour.end())
            it = byColour.insert(byColour.end(), {inverted, QPolygon()});
        it->second << QPoint(x, y);
    };
    for (int x = l; x <= right; x += 2) {
        plot(x, t);
        plot(x, b);
    }
    for (int y = t + 2; y < b; y += 2) {
        plot(l, y);
        plot(right, y);
    }
    p.save();
    for (const auto& [colour, dots] : byColour) {
        p.setPen(QPen(QColor::fromRgb(colour), 0));
        p.drawPoints(dots);
    }
    p.restore();
}

void TFaxBasePanel::paintEvent(QPaintEvent*)
{
    // The items stand still while the selection is dragged or the band drawn: the page is painted
    // again only after a change.
    if (!pageValid_ || pageCache_.size() != size() || cachedOutline_ != DrawOutline) {
        // The buffer is kept: fresh pages of memory cost more to touch than the painting itself.
        if (pageCache_.size() != size())
            pageCache_ = QImage(size(), QImage::Format_RGB32);
        PaintPage(pageCache_);
        cachedOutline_ = DrawOutline;
        pageValid_ = true;
    }
    QPainter p(this);
    p.drawImage(0, 0, pageCache_);
    DrawSelectionMarks(p);
    if (rubberBanding_)
        DrawXorRect(p, Normalised(bandStart_, bandEnd_));
    if (handle_.IsDragging() && !handle_.BandRect().isEmpty())
        DrawXorRect(p, handle_.BandRect());
    if (handle_.KeyMoving())
        DrawXorRect(p, handle_.KeyRect());
}

QImage TFaxBasePanel::Snapshot()
{
    QImage image(size(), QImage::Format_RGB32);
    render(&image);
    return image;
}

// ---- TFaxCoverPanelX -----------------------------------------------------------------------------

void TFaxCoverPanelX::SetPanelState(TLPanelState state)
{
    if (state == panelState_)
        return;
    panelState_ = state;
    pointing_ = state == psPointing;
    setCursor(pointing_ ? Qt::ArrowCursor : Qt::DragMoveCursor);
}

void TFaxCoverPanelX::WriteRenderFile(const std::string& fileName) const
{
    zn::cover::WriteRenderFile(ItemList(), fileName);
}

void TFaxCoverPanelX::CreateItem(const QRect& band)
{
    QRect r = band;
    if (r.width() < 25)
        r.setWidth(50);
    if (r.height() < 15)
        r.setHeight(15);
    std::unique_ptr<TFaxGraphicControl> item;
    const auto shape = [](TShapeType type) {
        auto s = std::make_unique<TFaxCoverShapes>();
        s->Shape = type;
        return s;
    };
    switch (panelState_) {
    case psPointing: return;
    case psLabel: {
        auto label = std::make_unique<TFaxCoverLabel>();
        label->Caption = "<text>";
        item = std::move(label);
        break;
    }
    case psSymbolLabel: item = std::make_unique<TFaxCoverSymbol>(); break;
    case psRectangle: item = shape(stRectangle); break;
    case psEllipse: item = shape(stEllipse); break;
    case psRoundRectangle: item = shape(stRoundRect); break;
    case psLine: {
        auto line = std::make_unique<TFaxCoverLine>();
        line->LineStyle = stVertical;
        item = std::move(line);
        break;
    }
    case psMessage: item = std::make_unique<TFaxCoverMessage>(); break;
    case psImportance: item = std::make_unique<TFaxCoverImportance>(); break;
    case psField: item = std::make_unique<TFaxCoverField>(); break;
    case psImage: item = std::make_unique<TFaxImage>(); break;
    case psMultiLineLabel: item = std::make_unique<TFaxMultiLineLabel>(); break;
    }
    TFaxGraphicControl* made = item.get();
    made->Menu();
    PlaceItem(std::move(item), r);
    switch (panelState_) {
    case psLabel: static_cast<TFaxCoverLabel*>(made)->EditAfterPlacement(); break;
    case psSymbolLabel: static_cast<TFaxCoverSymbol*>(made)->SelectSymbol(); break;
    case psImportance:
    case psField: static_cast<TFaxCoverBaseLabel*>(made)->GrowToText(); break;
    case psImage: {
        SetPanelState(psPointing);
        auto* image = static_cast<TFaxImage*>(made);
        image->LoadImage();
        if (image->Picture.Empty())
            DestroyItem(made);
        break;
    }
    case psMultiLineLabel: {
        SetPanelState(psPointing);
        auto* text = static_cast<TFaxMultiLineLabel*>(made);
        text->EditText();
        text->SetWordWrap(true);
        break;
    }
    default: break;
    }
    Changed();
}

} // namespace zn::cover::gui
