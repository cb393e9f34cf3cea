// The items of a cover-sheet template: plain objects that hold their 100% geometry and properties,
// paint themselves with QPainter at the surface's zoom, and offer their context menus as data. The
// design surface owns them, hit-tests them by their rectangles and turns the menus into widgets;
// the dialogs the menus open come through TItemEditor (cover/gui implements it).
#pragma once

#include "cover/component_stream.h"
#include "cover/cover_types.h"
#include "cover/picture.h"
#include "cover/render_file.h"

#include <QFont>
#include <QPainter>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zn::cover {

class TFaxGraphicControl;
class TFaxImage;

// One entry of an item's context menu; "-" is a separator.
struct TMenuEntry {
    std::string caption;
    int tag = 0;
    bool checked = false;
    bool enabled = true;
    std::function<void()> action;
    std::vector<TMenuEntry> submenu;
};

// The dialogs an item's menu opens. Each returns nullopt when the user cancels.
class TItemEditor {
public:
    virtual ~TItemEditor() = default;
    // A font dialog preset to `font`; `effects` shows underline, strike-out and colour.
    virtual std::optional<TFontSpec> EditFont(const TFontSpec& font, bool effects) = 0;
    virtual std::optional<std::string> EditLabelText(const std::string& text) = 0;
    // The symbol selector: the chosen code and the sample's font.
    struct TSymbolChoice {
        uint8_t code;
        TFontSpec font;
    };
    virtual std::optional<TSymbolChoice> SelectSymbol(uint8_t code, const TFontSpec& font) = 0;
    virtual std::optional<std::vector<std::string>> EditLines(const std::vector<std::string>& lines,
                                                              const TFontSpec& font) = 0;
    // The image browser, starting in `folder`: the chosen picture and its folder.
    struct TImageChoice {
        TPicture picture;
        std::string folder;
    };
    virtual std::optional<TImageChoice> BrowseImage(const std::string& folder) = 0;
    virtual void ShowError(const std::string& text) = 0;
};

enum TItemCommand { icBringToFront, icSendToBack, icCut, icCopy, icDelete, icClone };

// The surface the items sit on (the design surface). Items without a host skip every surface step.
class TItemHost {
public:
    virtual ~TItemHost() = default;
    virtual void ItemChanged() = 0; // the change event, unless the surface is printing
    virtual void RefitHandle() = 0; // fit the selection handle around the selection again
    virtual bool IsSelected(const TFaxGraphicControl& item) const = 0;
    virtual void Unselect(TFaxGraphicControl& item) = 0;
    virtual void Command(TFaxGraphicControl& item, TItemCommand command) = 0;
    virtual int SurfaceWidth() const = 0; // at 100%
    virtual int SurfaceHeight() const = 0;
    virtual TItemEditor* Editor() = 0;
    virtual std::string& LastImageFolder() = 0;
    virtual bool Loading() const { return false; }
};

// The text width, height and font of the toolkit for a template font at a zoom: the size is
// truncated after zooming (the zoom a 32-bit float, as the surface keeps it).
QFont ZoomedFont(const TFontSpec& font, float zoom);
int ZoomedPenWidth(int width, float zoom);
// Products are rounded half to even and computed in double precision, so that 10 x 0.9f truncates
// to 8 as the zoom arithmetic of the designer always did.
// Breaks `lines` at word boundaries to `width` pixels in `font` (a word wider than the line is
// broken between characters); an empty line stays.
std::vector<std::string> WrapLines(const std::vector<std::string>& lines, const QFont& font,
                                   const std::string& fontName, int width);

class TPropertySink; // the filer's writer of named properties

class TFaxGraphicControl {
public:
    virtual ~TFaxGraphicControl() = default;
    virtual const char* ClassName() const = 0;
    // Render-file kind 0..8.
    virtual int RenderKind() const = 0;

    std::string Name;
    int Left = 0, Top = 0, Width = 0, Height = 0; // at 100%: the model; the surface shows it zoomed
    bool Locked = false;
    float Zoom = 1.0f;

    bool Unselectable() const { return unselectable_; }
    void SetUnselectable(bool value);
    void SetLocked(bool value);

    void SetHost(TItemHost* host) { host_ = host; }
    TItemHost* Host() const { return host_; }

    // The rectangle on the surface at the current zoom (rounded to nearest from the 100% model).
    QRect DisplayRect() const;
    static int Scaled(int v, float zoom);
    // Moves or resizes from zoomed coordinates (what the user dragged at the current zoom).
    void SetDisplayBounds(const QRect& r);
    void SetBounds(int left, int top, int width, int height);
    void SetZoom(float zoom);

    // Paints at the current zoom, the item's top-left corner at the painter's origin.
    virtual void Paint(QPainter& p) const = 0;
    // The context menu, built once (as loading an item builds it), then kept up to date.
    std::vector<TMenuEntry>& Menu();
    virtual void UpdateMenuChecks() {}
    virtual void ApplyFont(const TFontSpec&) {}

    void NotifyChanged();
    void RequestHandleRefit();
    virtual void BoundsChanged();
    void CenterVertically();
    void CenterHorizontally();

    // The filer's side: the item's stored properties after Left, Top, Width, Height.
    virtual void WriteProperties(TPropertySink& sink) const;
    // True when the property was the item's and its value was consumed.
    virtual bool ReadProperty(const std::string& name, TValueReader& r);
    // Called after the item was read from a stream.
    virtual void Loaded() {}
    // The item as a render-file record (geometry doubled).
    virtual TRenderRecord RenderRecord() const;

protected:
    virtual void AddMenuEntries(std::vector<TMenuEntry>&) {}
    TItemEditor* Editor() const { return host_ ? host_->Editor() : nullptr; }
    void SetCheck(const std::string& caption, bool checked);
    TMenuEntry* FindEntry(const std::string& caption);

    std::vector<TMenuEntry> menu_;
    bool menuBuilt_ = false;
    TItemHost* host_ = nullptr;
    bool unselectable_ = false;
    bool inBoundsChange_ = false;
    QRect lastBounds_;
};

// One line of text in a font.
class TFaxCoverBaseLabel : public TFaxGraphicControl {
public:
    TFaxCoverBaseLabel();
    std::string Caption = "Text";
    TFontSpec Font;

    void Paint(QPainter& p) const override;
    void BoundsChanged() override;
    void ApplyFont(const TFontSpec& font) override
    {
        Font = font;
        NotifyChanged();
    }
    virtual void EditFont();
    // Grows (never shrinks) to the caption in the item's font.
    void GrowToText();
    void WriteProperties(TPropertySink& sink) const override;
    bool ReadProperty(const std::string& name, TValueReader& r) override;
    TRenderRecord RenderRecord() const override;

protected:
    void AddMenuEntries(std::vector<TMenuEntry>& menu) override;
    virtual bool GrowsAfterFont() const { return true; }
    virtual bool RefitsOnBounds() const { return false; }
};

class TFaxCoverLabel : public TFaxCoverBaseLabel {
public:
    const char* ClassName() const override { return "TFaxCoverLabel"; }
    int RenderKind() const override { return rkLabel; }
    void EditText();
    void EditAfterPlacement() { EditText(); }

protected:
    void AddMenuEntries(std::vector<TMenuEntry>& menu) override;
};

class TFaxCoverSymbol : public TFaxCoverBaseLabel {
public:
    TFaxCoverSymbol();
    const char* ClassName() const override { return "TFaxCoverSymbol"; }
    int RenderKind() const override { return rkSymbol; }
    void ApplyFont(const TFontSpec&) override {} // the surface's "Font" command leaves symbols alone
    void BoundsChanged() override;
    void SelectSymbol();

protected:
    void AddMenuEntries(std::vector<TMenuEntry>& menu) override;
    bool RefitsOnBounds() const override { return true; }
};

class TFaxCoverImportance : public TFaxCoverBaseLabel {
public:
    static constexpr const char* kLine =
        "[  ]Urgent     [  ]For Review     [  ]Please Comment     [  ]Please Reply     [  ]Please Recycle";
    TFaxCoverImportance() { Caption = kLine; }
    const char* ClassName() const override { return "TFaxCoverImportance"; }
    int RenderKind() const override { return rkImportance; }

protected:
    bool RefitsOnBounds() const override { return true; }
};

class TFaxCoverField : public TFaxCoverBaseLabel {
public:
    TFaxCoverField() { Caption = "[Date]"; }
    const char* ClassName() const override { return "TFaxCoverField"; }
    int RenderKind() const override { return rkField; }
    TCoverFieldType CoverFieldType = cfDate;
    // The "Field" menu: the type and its caption in square brackets.
    void ChooseField(int type);
    void UpdateMenuChecks() override;
    void WriteProperties(TPropertySink& sink) const override;
    bool ReadProperty(const std::string& name, TValueReader& r) override;
    TRenderRecord RenderRecord() const override;

protected:
    void AddMenuEntries(std::vector<TMenuEntry>& menu) override;
    bool RefitsOnBounds() const override { return true; }
};

class TFaxCoverMessage : public TFaxCoverBaseLabel {
public:
    TFaxCoverMessage()
    {
        Caption = "[Fax Message - note: this is for short messages - it will not continue onto a 2nd page]";
    }
    const char* ClassName() const override { return "TFaxCoverMessage"; }
    int RenderKind() const override { return rkMessage; }
    void Paint(QPainter& p) const override;

protected:
    bool RefitsOnBounds() const override { return true; }
};

class TFaxCoverShapes : public TFaxGraphicControl {
public:
    TFaxCoverShapes() { Width = Height = 25; }
    const char* ClassName() const override { return "TFaxCoverShapes"; }
    int RenderKind() const override { return rkShape; }
    TShapeFillType ShapeFilltype = sftTransparent;
    TPenSpec Pen;
    int RoundPerc = 25;
    TShapeType Shape = stRectangle;

    void Paint(QPainter& p) const override;
    void UpdateMenuChecks() override;
    void WriteProperties(TPropertySink& sink) const override;
    bool ReadProperty(const std::string& name, TValueReader& r) override;
    TRenderRecord RenderRecord() const override;

protected:
    void AddMenuEntries(std::vector<TMenuEntry>& menu) override;
};

class TFaxCoverLine : public TFaxGraphicControl {
public:
    TFaxCoverLine() { Width = Height = 10; }
    const char* ClassName() const override { return "TFaxCoverLine"; }
    int RenderKind() const override { return rkLine; }
    TLineStyle LineStyle = stHorizontal;
    TPenSpec Pen;

    void Paint(QPainter& p) const override;
    void UpdateMenuChecks() override;
    void StretchToEdges();
    void WriteProperties(TPropertySink& sink) const override;
    bool ReadProperty(const std::string& name, TValueReader& r) override;
    TRenderRecord RenderRecord() const override;

protected:
    void AddMenuEntries(std::vector<TMenuEntry>& menu) override;
};

class TFaxImage : public TFaxGraphicControl {
public:
    TFaxImage() { Width = Height = 105; }
    const char* ClassName() const override { return "TFaxImage"; }
    int RenderKind() const override { return rkImage; }
    TPicture Picture;
    TBorderStyle BorderStyle = bsNone;
    bool Flip = false;
    bool Reverse = false;
    bool AutoSize() const { return autoSize_; }
    bool Stretch() const { return !autoSize_; }
    void SetAutoSize(bool value);
    void SetStretch(bool value) { autoSize_ = !value; }
    std::string ImageFolder;

    void Paint(QPainter& p) const override;
    // The item as it paints, at its 100% size: the picture (mirrored by Flip and Reverse), a frame
    // when there is no picture, the border.
    QImage DrawToBitmap() const;
    void PictureChanged();
    void LoadImage();
    void UpdateMenuChecks() override;
    void WriteProperties(TPropertySink& sink) const override;
    bool ReadProperty(const std::string& name, TValueReader& r) override;
    TRenderRecord RenderRecord() const override;

protected:
    void AddMenuEntries(std::vector<TMenuEntry>& menu) override;

private:
    bool autoSize_ = false;
};

class TFaxMultiLineLabel : public TFaxGraphicControl {
public:
    TFaxMultiLineLabel()
    {
        Width = 190;
        Height = 33;
    }
    const char* ClassName() const override { return "TFaxMultiLineLabel"; }
    int RenderKind() const override { return rkMultiLine; }
    std::vector<std::string> Items;
    bool AutoSize = false;
    TAlignment Alignment = taLeftJustify;
    TFontSpec Font;
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    bool BlankMemo = false;
    const std::vector<std::string>& WrappedLines() const { return wrapped_; }

    void Paint(QPainter& p) const override;
    void BoundsChanged() override;
    void ApplyFont(const TFontSpec& font) override;
    void Rewrap();
    void EditText();
    void UpdateMenuChecks() override;
    void WriteProperties(TPropertySink& sink) const override;
    bool ReadProperty(const std::string& name, TValueReader& r) override;
    // A wrapped item read from a stream has its text but not yet its wrapped lines.
    void Loaded() override { Rewrap(); }
    TRenderRecord RenderRecord() const override;

protected:
    void AddMenuEntries(std::vector<TMenuEntry>& menu) override;

private:
    bool wordWrap_ = false;
    std::vector<std::string> wrapped_;
};

// A new item of a stored class name; nullptr for a class that is no cover item.
std::unique_ptr<TFaxGraphicControl> CreateItem(const std::string& className);

// Removes leading, trailing or both kinds of spaces (the character 32 only).
std::string TrimLeftSpaces(const std::string& s);
std::string TrimRightSpaces(const std::string& s);
std::string TrimSpaces(const std::string& s);

} // namespace zn::cover
