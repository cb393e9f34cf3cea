// The design surface: the white page a template is drawn on. It owns the cover items (their 100%
// geometry is the model; the page shows them at the zoom), the one selection handle, the rubber band,
// the drawing tools, and the commands of its context menu and keys: cut, copy and paste through a
// clipboard file, delete, front and back, align, centre, lock, selectability, select all and font.
// Mouse points are turned into 100% coordinates before the handle sees them, so zooming never moves
// anything.
#pragma once

#include "cover/design_filer.h"
#include "cover/selection_handle.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMenu;
class QAction;

namespace zn::cover::gui {

enum TLabelShapeType { lsRectangle, lsRoundRect, lsEllipse };
enum TGridSize { gs4x4, gs8x8 };
enum TLPanelState {
    psPointing,
    psLabel,
    psSymbolLabel,
    psRectangle,
    psEllipse,
    psRoundRectangle,
    psLine,
    psMessage,
    psImportance,
    psField,
    psImage,
    psMultiLineLabel,
};
enum TSelectionCommand { scCut = 0, scCopy = 1, scPaste = 2, scDelete = 3 };

class TFaxBasePanel : public QWidget, public TItemHost {
    Q_OBJECT
public:
    using TClock = std::function<int64_t()>; // milliseconds
    static constexpr int kPageWidth = 768;   // the page at 100%
    static constexpr int kPageHeight = 960;
    static constexpr int64_t kPasteGuardMs = 1000;

    explicit TFaxBasePanel(QWidget* parent = nullptr, TClock clock = nullptr);
    ~TFaxBasePanel() override; // deletes the clipboard and temporary files

    float Zoom() const { return zoom_; }
    bool Pointing() const { return pointing_; }
    TLabelShapeType Shape() const { return shape_; }
    void SetShape(TLabelShapeType shape);
    TGridSize GridSize() const { return gridSize_; }
    void SetGridSize(TGridSize size);
    bool ShowGrid() const { return showGrid_; }
    void SetShowGrid(bool show);
    bool SnapToGrid() const { return snapToGrid_; }
    void SetSnapToGrid(bool snap);
    bool DrawOutline = false;
    bool Printing = false;
    // The designer's default font: it presets the "Font" command.
    TFontSpec SurfaceFont;

    std::function<void(const QRect&)> DroppedObjectEvent; // after a drawing tool made an item
    std::function<void(Qt::KeyboardModifiers, int, int)> HandleMouseMoveEvent;
    std::function<void()> LabelChangedEvent;
    std::function<void()> MouseUpEvent;

    TFaxHandle& Handle() { return handle_; }
    const TFaxHandle& Handle() const { return handle_; }
    const std::string& ClipboardFile() const { return clipboardFile_; }
    QMenu* SurfacePopup() const { return surfacePopup_; }
    // The context menu shown last (the surface's or an item's); it stays until the next one.
    QMenu* ShownMenu() const { return shownMenu_; }

    // The items in child order (back to front).
    const std::vector<std::unique_ptr<TFaxGraphicControl>>& Items() const { return items_; }
    std::vector<const TFaxGraphicControl*> ItemList() const;
    TFaxGraphicControl* FindItem(const std::string& name) const;
    // The items of a template (read by the filer) take the place of the surface's.
    void SetItems(TItemList items);
    bool NameTaken(const std::string& name) const;
    TFaxDesignObjectFiler::TNameTaken NameCheck() const;

    void SetEditor(TItemEditor* editor) { editor_ = editor; }

    void NotifyLabelChanged();
    void PostRefit();
    void RebindAll();
    void PlaceItem(std::unique_ptr<TFaxGraphicControl> item, const QRect& r);
    std::string UniqueName(const std::string& prefix) const;
    // Rubber-band selection in 100% coordinates; `toggle` (Shift) toggles the items the band touches.
    void SelectInRect(const QRect& r, bool toggle);
    void ItemCommand(TFaxGraphicControl& item, TSelectionCommand command);
    void SelectionCommand(TSelectionCommand command);
    void ClearItems();
    void ClampItems();
    void PurgeItems();
    void SetSurfaceZoom(float zoom);
    bool IsDragging() const { return handle_.IsDragging(); }
    // The key processing the designer window hands keys to; true when the key was used.
    bool KeyDown(int key, Qt::KeyboardModifiers modifiers);

    // The context-menu commands.
    void BringToFront();
    void SendToBack();
    void AlignLeft();
    void AlignRight();
    void AlignTops();
    void AlignBottoms();
    void CenterVertically();
    void CenterHorizontally();
    void LockAll(bool lock);
    void MarkAllSelectable(bool selectable);
    void SelectAll();
    void ApplyFontToSelection(const TFontSpec& font);
    void FontCommand();

    // A 100% point of the page for a point of the widget, and back.
    QPoint ToModel(const QPoint& shown) const;
    QRect ToShown(const QRect& model) const;
    // The page as it is painted now (what the user sees).
    QImage Snapshot();

    // TItemHost
    void ItemChanged() override;
    void RefitHandle() override { PostRefit(); }
    bool IsSelected(const TFaxGraphicControl& item) const override;
    void Unselect(TFaxGraphicControl& item) override;
    void Command(TFaxGraphicControl& item, TItemCommand command) override;
    int SurfaceWidth() const override { return kPageWidth; }
    int SurfaceHeight() const override { return kPageHeight; }
    TItemEditor* Editor() override { return editor_; }
    std::string& LastImageFolder() override { return LastImagePath; }
    bool Loading() const override { return loading_; }

    std::string LastImagePath;

protected:
    // Makes an item of the current tool over r (100% coordinates).
    virtual void CreateItem(const QRect&) {}
    int64_t Now() const { return clock_ ? clock_() : 0; }
    // Something the page shows changed: it is painted afresh.
    void Changed();
    // Takes the item off the page; it is freed once the running event is over.
    void DestroyItem(TFaxGraphicControl* item);

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

    bool pointing_ = true;

private:
    enum TPressTarget { ptNone, ptHandle, ptSurface };
    void BuildSurfaceMenu();
    void PopupSurfaceMenu(const QPoint& globalPos);
    void PopupItemMenu(TFaxGraphicControl& item, const QPoint& globalPos);
    TFaxGraphicControl* ItemAt(const QPoint& shown) const;
    bool HandleHit(const QPoint& shown) const;
    void SurfacePress(const QPoint& model, Qt::MouseButton button, const QPoint& globalPos);
    void ItemMouseDown(TFaxGraphicControl& item, const QPoint& model, Qt::MouseButton button,
                       Qt::KeyboardModifiers modifiers, const QPoint& globalPos);
    void HandlePress(const QPoint& model, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                     const QPoint& globalPos);
    void HandleMouseDown(const QPoint& model, Qt::KeyboardModifiers modifiers);
    void SetHandleCursor(THandleCursor cursor);
    std::vector<TFaxGraphicControl*> SelectedItems() const;
    void PaintPage(QImage& image);
    void DrawSelectionMarks(QPainter& p) const;
    void DrawXorRect(QPainter& p, const QRect& modelRect) const;

    TClock clock_;
    TFaxHandle handle_;
    std::vector<std::unique_ptr<TFaxGraphicControl>> items_;
    std::vector<std::unique_ptr<TFaxGraphicControl>> graveyard_; // destroyed after the running event
    float zoom_ = 1.0f;
    TLabelShapeType shape_ = lsRoundRect;
    TGridSize gridSize_ = gs4x4;
    bool showGrid_ = false;
    bool snapToGrid_ = false;
    bool rubberBanding_ = false;
    bool suspendChangeNotice_ = false;
    bool loading_ = false;
    bool refitPosted_ = false;
    int64_t lastPasteTick_ = 0;
    QPoint bandStart_, bandEnd_; // 100% coordinates
    TPressTarget pressTarget_ = ptNone;
    std::string clipboardFile_, tempFile_;
    QMenu* surfacePopup_ = nullptr;
    QMenu* shownMenu_ = nullptr;
    std::unique_ptr<QMenu> itemMenu_;
    std::vector<QAction*> selectionActions_;
    QAction *pasteAction_ = nullptr, *lockAllAction_ = nullptr, *unlockAllAction_ = nullptr;
    std::unique_ptr<TItemEditor> ownEditor_;
    TItemEditor* editor_ = nullptr;
    // The page with its items, without selection marks and outlines; painted again after a change.
    QImage pageCache_;
    bool pageValid_ = false;
    bool cachedOutline_ = false;
};

class TFaxCoverPanelX : public TFaxBasePanel {
    Q_OBJECT
public:
    explicit TFaxCoverPanelX(QWidget* parent = nullptr, TClock clock = nullptr)
        : TFaxBasePanel(parent, std::move(clock))
    {
    }
    TLPanelState PanelState() const { return panelState_; }
    void SetPanelState(TLPanelState state);
    // One render record per item, in child order (written as one step).
    void WriteRenderFile(const std::string& fileName) const;

protected:
    void CreateItem(const QRect& r) override;

private:
    TLPanelState panelState_ = psPointing;
};

} // namespace zn::cover::gui
