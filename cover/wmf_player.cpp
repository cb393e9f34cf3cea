#include "cover/wmf_player.h"

#include "cover/mono_canvas.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace zn::cover {

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kMaxRecords = 1'000'000;

enum : uint16_t {
    kEof = 0x0000,
    kSaveDc = 0x001E,
    kRestoreDc = 0x0127,
    kSetBkColor = 0x0201,
    kSetBkMode = 0x0102,
    kSetPolyFillMode = 0x0106,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kSelectObject = 0x012D,
    kDeleteObject = 0x01F0,
    kCreatePen = 0x02FA,
    kCreateBrush = 0x02FC,
    kCreateFont = 0x02FB,
    kCreatePalette = 0x00F7,
    kMoveTo = 0x0214,
    kLineTo = 0x0213,
    kRectangle = 0x041B,
    kRoundRect = 0x061C,
    kEllipse = 0x0418,
    kPie = 0x081A,
    kChord = 0x0830,
    kArc = 0x0817,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kPolyPolygon = 0x0538,
    kTextOut = 0x0521,
    kExtTextOut = 0x0A32,
    kStretchDib = 0x0F43,
    kDibStretchBlt = 0x0B41,
    kSetPixel = 0x041F,
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16
           | static_cast<uint32_t>(p[3]) << 24;
}

QColor ColorRef(int16_t lo, int16_t hi)
{
    const uint32_t v = static_cast<uint16_t>(lo) | static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16;
    return QColor(v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF);
}

struct TObject {
    enum TKind { okNone, okPen, okBrush, okFont, okOther } kind = okNone;
    QPen pen;
    QBrush brush;
    QFont font;
    int fontHeight = 0;
    std::string faceName;
};

class TPlayer {
public:
    TPlayer(const TWmfFile& wmf, QImage& target) : wmf_(wmf), target_(target), painter_(&target)
    {
        painter_.setRenderHint(QPainter::Antialiasing, false);
        objects_.resize(std::max<size_t>(wmf.objectCount, 1));
        if (wmf.placeable) {
            orgX_ = wmf.boundsLeft;
            orgY_ = wmf.boundsTop;
            extX_ = wmf.boundsRight - wmf.boundsLeft;
            extY_ = wmf.boundsBottom - wmf.boundsTop;
        } else {
            extX_ = target.width();
            extY_ = target.height();
        }
        pen_ = QPen(Qt::black, 0);
        brush_ = QBrush(Qt::white);
    }

    void Play()
    {
        for (const TWmfRecord& rec : wmf_.records) {
            if (rec.function == kEof)
                break;
            Record(rec);
        }
    }

private:
    double SX(int x) const { return extX_ ? (x - orgX_) * static_cast<double>(target_.width()) / extX_ : x; }
    double SY(int y) const { return extY_ ? (y - orgY_) * static_cast<double>(target_.height()) / extY_ : y; }
    QPointF P(int x, int y) const { return QPointF(SX(x), SY(y)); }
    QRectF R(int l, int t, int r, int b) const { return QRectF(P(l, t), P(r, b)).normalized(); }
    double ScaleLen(int v) const { return extX_ ? std::abs(v * static_cast<double>(target_.width()) / extX_) : v; }

    void Apply()
    {
        painter_.setPen(pen_);
        painter_.setBrush(brush_);
    }

    void Create(const TObject& o)
    {
        for (TObject& slot : objects_)
            if (slot.kind == TObject::okNone) {
                slot = o;
                return;
            }
    }

    // An object the player does not draw with (a palette, a region) still takes its slot.
    void CreateOther()
    {
        TObject o;
        o.kind = TObject::okOther;
        Create(o);
    }

    QPolygonF Points(const std::vector<int16_t>& p, size_t at, size_t count) const
    {
        QPolygonF poly;
        for (size_t i = 0; i < count && at + 2 * i + 1 < p.size(); ++i)
            poly << P(p[at + 2 * i], p[at + 2 * i + 1]);
        return poly;
    }

    std::string Text(const std::vector<int16_t>& p, size_t at, size_t bytes) const
    {
        std::string s;
        for (size_t i = 0; i < bytes && at + i / 2 < p.size(); ++i) {
            const uint16_t w = static_cast<uint16_t>(p[at + i / 2]);
            s.push_back(static_cast<char>(i % 2 ? w >> 8 : w & 0xFF));
        }
        return s;
    }

    void DrawText(int x, int y, const std::string& text)
    {
        painter_.save();
        painter_.setFont(font_);
        painter_.setPen(textColor_);
        const QFontMetricsF fm(font_);
        painter_.drawText(QPointF(SX(x), SY(y) + fm.ascent()), DrawnText(faceName_, text));
        painter_.restore();
    }

    void Dib(const std::vector<int16_t>& p, size_t dibAt, int destX, int destY, int destW, int destH)
    {
        if (dibAt >= p.size())
            return;
        std::vector<uint8_t> bmp(14, 0);
        bmp[0] = 'B';
        bmp[1] = 'M';
        for (size_t i = dibAt; i < p.size(); ++i) {
            bmp.push_back(static_cast<uint8_t>(p[i] & 0xFF));
            bmp.push_back(static_cast<uint8_t>(static_cast<uint16_t>(p[i]) >> 8));
        }
        if (bmp.size() < 14 + 40)
            return;
        const uint32_t headerSize = Le32(bmp.data() + 14);
        const uint16_t bits = Le16(bmp.data() + 28);
        uint32_t colours = Le32(bmp.data() + 46);
        if (bits <= 8 && colours == 0)
            colours = 1u << bits;
        const uint32_t offset = 14 + headerSize + (bits <= 8 ? 4 * colours : 0);
        const uint32_t size = static_cast<uint32_t>(bmp.size());
        std::memcpy(bmp.data() + 2, &size, 4);
        std::memcpy(bmp.data() + 10, &offset, 4);
        QImage img;
        if (img.loadFromData(bmp.data(), static_cast<int>(bmp.size()), "BMP"))
            painter_.drawImage(R(destX, destY, destX + destW, destY + destH), img);
    }

    void Record(const TWmfRecord& rec)
    {
        const std::vector<int16_t>& p = rec.params;
        const auto has = [&](size_t n) { return p.size() >= n; };
        switch (rec.function) {
        case kSetWindowOrg:
            if (has(2))
                orgY_ = p[0], orgX_ = p[1];
            break;
        case kSetWindowExt:
            if (has(2) && p[0] && p[1])
                extY_ = p[0], extX_ = p[1];
            break;
        case kSetTextColor:
            if (has(2))
                textColor_ = ColorRef(p[0], p[1]);
            break;
        case kSetPolyFillMode:
            if (has(1))
                winding_ = p[0] == 2;
            break;
        case kSaveDc: saved_.push_back({orgX_, orgY_, extX_, extY_}); break;
        case kRestoreDc:
            if (!saved_.empty()) {
                const auto s = saved_.back();
                saved_.pop_back();
                orgX_ = s[0], orgY_ = s[1], extX_ = s[2], extY_ = s[3];
            }
            break;
        case kCreatePen:
            if (has(5)) {
                TObject o;
                o.kind = TObject::okPen;
                const int style = p[0] & 0x0F;
                const double w = ScaleLen(p[1]);
                o.pen = style == 5 ? QPen(Qt::NoPen) : QPen(ColorRef(p[3], p[4]), w < 1.5 ? 0 : w);
                if (style >= 1 && style <= 4)
                    o.pen.setStyle(static_cast<Qt::PenStyle>(style + 1));
                Create(o);
            } else {
                CreateOther();
            }
            break;
        case kCreateBrush:
            if (has(3)) {
                TObject o;
                o.kind = TObject::okBrush;
                const int style = p[0];
                o.brush = style == 1 ? QBrush(Qt::NoBrush) : QBrush(ColorRef(p[1], p[2]));
                if (style == 2)
                    o.brush.setStyle(Qt::BDiagPattern);
                Create(o);
            } else {
                CreateOther();
            }
            break;
        case kCreateFont:
            if (has(9)) {
                TObject o;
                o.kind = TObject::okFont;
                o.fontHeight = p[0];
                const int weight = p[4];
                const bool italic = (p[5] & 0xFF) != 0;
                const bool underline = (static_cast<uint16_t>(p[5]) >> 8) != 0;
                o.faceName = Text(p, 9, 32);
                o.faceName = o.faceName.substr(0, o.faceName.find('\0'));
                const int pixels =
                    std::max(1, static_cast<int>(std::lround(ScaleLen(std::abs(p[0]) ? std::abs(p[0]) : 12))));
                o.font = MakeFont(o.faceName, 12, weight >= 600, italic, underline);
                o.font.setPixelSize(std::min(pixels, 4000));
                Create(o);
            } else {
                CreateOther();
            }
            break;
        case kCreatePalette: CreateOther(); break;
        case kSelectObject:
            if (has(1) && p[0] >= 0 && static_cast<size_t>(p[0]) < objects_.size()) {
                const TObject& o = objects_[static_cast<size_t>(p[0])];
                if (o.kind == TObject::okPen)
                    pen_ = o.pen;
                else if (o.kind == TObject::okBrush)
                    brush_ = o.brush;
                else if (o.kind == TObject::okFont)
                    font_ = o.font, faceName_ = o.faceName;
            }
            break;
        case kDeleteObject:
            if (has(1) && p[0] >= 0 && static_cast<size_t>(p[0]) < objects_.size())
                objects_[static_cast<size_t>(p[0])] = TObject();
            break;
        case kMoveTo:
            if (has(2))
                pos_ = P(p[1], p[0]);
            break;
        case kLineTo:
            if (has(2)) {
                Apply();
                const QPointF to = P(p[1], p[0]);
                painter_.drawLine(pos_, to);
                pos_ = to;
            }
            break;
        case kRectangle:
            if (has(4)) {
                Apply();
                painter_.drawRect(R(p[3], p[2], p[1], p[0]));
            }
            break;
        case kRoundRect:
            if (has(6)) {
                Apply();
                painter_.drawRoundedRect(R(p[5], p[4], p[3], p[2]), ScaleLen(p[1]) / 2, ScaleLen(p[0]) / 2);
            }
            break;
        case kEllipse:
            if (has(4)) {
                Apply();
                painter_.drawEllipse(R(p[3], p[2], p[1], p[0]));
            }
            break;
        case kArc:
        case kPie:
        case kChord:
            if (has(8)) {
                // Drawn as the whole ellipse's outline or area: close enough for clip-art at fax resolution.
                Apply();
                const QRectF r = R(p[7], p[6], p[5], p[4]);
                if (rec.function == kArc)
                    painter_.setBrush(Qt::NoBrush);
                painter_.drawEllipse(r);
            }
            break;
        case kPolygon:
        case kPolyline:
            if (has(1) && p[0] > 0) {
                Apply();
                const QPolygonF poly = Points(p, 1, static_cast<size_t>(p[0]));
                if (rec.function == kPolygon)
                    painter_.drawPolygon(poly, winding_ ? Qt::WindingFill : Qt::OddEvenFill);
                else
                    painter_.drawPolyline(poly);
            }
            break;
        case kPolyPolygon:
            if (has(1) && p[0] > 0) {
                const size_t polys = static_cast<size_t>(p[0]);
                if (!has(1 + polys))
                    break;
                QPainterPath path;
                path.setFillRule(winding_ ? Qt::WindingFill : Qt::OddEvenFill);
                size_t at = 1 + polys;
                for (size_t i = 0; i < polys; ++i) {
                    const size_t n = static_cast<size_t>(std::max<int16_t>(p[1 + i], 0));
                    QPolygonF poly = Points(p, at, n);
                    if (!poly.isEmpty())
                        path.addPolygon(poly), path.closeSubpath();
                    at += 2 * n;
                }
                Apply();
                painter_.drawPath(path);
            }
            break;
        case kTextOut:
            if (has(1) && p[0] > 0) {
                const size_t n = static_cast<size_t>(p[0]);
                const size_t words = (n + 1) / 2;
                if (has(1 + words + 2))
                    DrawText(p[1 + words + 1], p[1 + words], Text(p, 1, n));
            }
            break;
        case kExtTextOut:
            if (has(4) && p[2] > 0) {
                const size_t n = static_cast<size_t>(p[2]);
                const size_t at = 4 + ((p[3] & 0x0006) ? 4 : 0);
                DrawText(p[1], p[0], Text(p, at, n));
            }
            break;
        case kStretchDib:
            if (has(11))
                Dib(p, 11, p[10], p[9], p[8], p[7]);
            break;
        case kDibStretchBlt:
            if (has(10))
                Dib(p, 10, p[9], p[8], p[7], p[6]);
            break;
        default: break;
        }
    }

    const TWmfFile& wmf_;
    QImage& target_;
    QPainter painter_;
    std::vector<TObject> objects_;
    std::vector<std::array<int, 4>> saved_;
    int orgX_ = 0, orgY_ = 0, extX_ = 0, extY_ = 0;
    QPen pen_;
    QBrush brush_;
    QFont font_ = MakeFont("Arial", 10, false, false, false);
    std::string faceName_ = "Arial";
    QColor textColor_ = Qt::black;
    QPointF pos_;
    bool winding_ = false;
};

} // namespace

std::optional<TWmfFile> ParseWmf(const std::vector<uint8_t>& bytes, int64_t maxPixels)
{
    TWmfFile wmf;
    size_t at = 0;
    if (bytes.size() >= 22 && Le32(bytes.data()) == kPlaceableKey) {
        wmf.placeable = true;
        wmf.boundsLeft = static_cast<int16_t>(Le16(bytes.data() + 6));
        wmf.boundsTop = static_cast<int16_t>(Le16(bytes.data() + 8));
        wmf.boundsRight = static_cast<int16_t>(Le16(bytes.data() + 10));
        wmf.boundsBottom = static_cast<int16_t>(Le16(bytes.data() + 12));
        wmf.unitsPerInch = Le16(bytes.data() + 14);
        at = 22;
    }
    if (bytes.size() < at + 18)
        return std::nullopt;
    const uint8_t* h = bytes.data() + at;
    const uint16_t type = Le16(h), headerWords = Le16(h + 2);
    if ((type != 1 && type != 2) || headerWords != 9)
        return std::nullopt;
    wmf.objectCount = Le16(h + 10);
    at += 18;
    int extX = 0, extY = 0;
    while (at + 6 <= bytes.size()) {
        const uint32_t words = Le32(bytes.data() + at);
        if (words < 3 || words > (bytes.size() - at) / 2)
            break; // a record running past the end: what came before still plays
        TWmfRecord rec;
        rec.function = Le16(bytes.data() + at + 4);
        rec.params.resize(words - 3);
        for (size_t i = 0; i < rec.params.size(); ++i)
            rec.params[i] = static_cast<int16_t>(Le16(bytes.data() + at + 6 + 2 * i));
        at += 2 * static_cast<size_t>(words);
        if (rec.function == kSetWindowExt && rec.params.size() >= 2 && extX == 0) {
            extY = rec.params[0];
            extX = rec.params[1];
        }
        const bool end = rec.function == kEof;
        wmf.records.push_back(std::move(rec));
        if (end || wmf.records.size() >= kMaxRecords)
            break;
    }
    if (wmf.placeable) {
        const int inch = wmf.unitsPerInch ? wmf.unitsPerInch : 1440;
        wmf.width = static_cast<int>(std::lround(std::abs(wmf.boundsRight - wmf.boundsLeft) * 96.0 / inch));
        wmf.height = static_cast<int>(std::lround(std::abs(wmf.boundsBottom - wmf.boundsTop) * 96.0 / inch));
    } else {
        wmf.width = std::abs(extX);
        wmf.height = std::abs(extY);
    }
    if (wmf.width <= 0 || wmf.height <= 0 || static_cast<int64_t>(wmf.width) * wmf.height > maxPixels)
        return std::nullopt;
    return wmf;
}

QImage PlayWmf(const TWmfFile& wmf, int width, int height)
{
    QImage target(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
    target.fill(Qt::white); // the picture starts white, whatever the metafile leaves undrawn
    TPlayer player(wmf, target);
    player.Play();
    return target;
}

} // namespace zn::cover
