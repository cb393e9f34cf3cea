#include "cover/tests/sample_template.h"

#include "cover/dither.h"
#include "cover/render_file.h"

#include <QPainter>

#include <cmath>

namespace zn::cover::test {

QImage SamplePhoto(int width, int height)
{
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
            const int r = static_cast<int>(127 + 120 * std::sin(fx * 6.3 + fy * 2));
            const int g = static_cast<int>(127 + 120 * std::cos(fy * 5.1 - fx));
            const int b = static_cast<int>(255 * fy);
            row[x] = qRgb(r, g, b);
        }
    }
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 240, 200));
    p.drawEllipse(QPointF(width * 0.3, height * 0.35), width * 0.18, height * 0.18);
    p.setBrush(QColor(30, 60, 40));
    p.drawRect(QRectF(width * 0.55, height * 0.5, width * 0.3, height * 0.4));
    return img;
}

TItemList SampleTemplate(const QImage& photo)
{
    TItemList items;
    const auto add = [&items](std::unique_ptr<TFaxGraphicControl> item, int l, int t, int w, int h) {
        item->SetBounds(l, t, w, h);
        item->Name = "Component" + std::to_string(items.size());
        items.push_back(std::move(item));
        return items.back().get();
    };
    auto heading = std::make_unique<TFaxCoverLabel>();
    heading->Caption = "FAX";
    heading->Font.SetSize(36);
    heading->Font.bold = true;
    add(std::move(heading), 20, 10, 160, 60);
    auto frame = std::make_unique<TFaxCoverShapes>();
    frame->Shape = stRoundRect;
    frame->Pen.width = 2;
    add(std::move(frame), 10, 90, 600, 130);
    const char* captions[] = {"To:", "Fax:", "From:"};
    const TCoverFieldType types[] = {cfRecipient, cfRecipientFax, cfSender};
    for (int i = 0; i < 3; ++i) {
        auto label = std::make_unique<TFaxCoverLabel>();
        label->Caption = captions[i];
        label->Font.bold = true;
        add(std::move(label), 25, 105 + 35 * i, 70, 20);
        auto field = std::make_unique<TFaxCoverField>();
        field->ChooseField(types[i]);
        add(std::move(field), 100, 105 + 35 * i, 300, 20);
    }
    auto line = std::make_unique<TFaxCoverLine>();
    line->Pen.width = 3;
    add(std::move(line), 10, 240, 600, 10);
    add(std::make_unique<TFaxCoverImportance>(), 20, 260, 640, 20);
    auto message = std::make_unique<TFaxCoverMessage>();
    add(std::move(message), 20, 300, 400, 160);
    auto multi = std::make_unique<TFaxMultiLineLabel>();
    multi->Items = {"Tarvel Fax Services", "12 Harbour Road", "Portsmouth"};
    multi->Alignment = taRightJustify;
    add(std::move(multi), 420, 10, 250, 60);
    auto image = std::make_unique<TFaxImage>();
    image->Picture.kind = TPicture::pkBitmap;
    image->Picture.bitmap = ReduceImage(photo, dmStucki);
    image->BorderStyle = bsSingle;
    add(std::move(image), 440, 300, 220, 220);
    return items;
}

std::vector<uint8_t> RenderFileOf(const TItemList& items)
{
    TValueWriter w;
    for (const auto& item : items)
        WriteRenderRecord(w, item->RenderRecord());
    return std::move(w.Bytes());
}

} // namespace zn::cover::test
