// Writes the seed corpus of the cover fuzz targets (cover/fuzz/corpus): a template of every item
// kind, render files, and small pictures of each kind.
//   cover_fuzz_seeds CORPUS_FOLDER
#include "cover/tests/sample_template.h"
#include "cover/render_file.h"

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>

#include <cstdio>

using namespace zn::cover;

namespace {

void Write(const QString& path, const std::vector<uint8_t>& bytes) { WriteFileAtomically(path.toStdString(), bytes); }

std::vector<uint8_t> SmallWmf()
{
    std::vector<uint8_t> b;
    const auto w16 = [&b](int v) { b.push_back(static_cast<uint8_t>(v)), b.push_back(static_cast<uint8_t>(v >> 8)); };
    const auto w32 = [&](uint32_t v) { w16(static_cast<int>(v & 0xFFFF)), w16(static_cast<int>(v >> 16)); };
    w32(0x9AC6CDD7), w16(0), w16(0), w16(0), w16(1440), w16(1440), w16(1440), w32(0), w16(0);
    w16(1), w16(9), w16(0x300), w32(0), w16(2), w32(0), w16(0);
    const auto record = [&](int function, std::vector<int> params) {
        w32(static_cast<uint32_t>(3 + params.size()));
        w16(function);
        for (int p : params)
            w16(p);
    };
    record(0x020C, {1440, 1440});
    record(0x02FC, {0, 0x00FF, 0, 0});
    record(0x012D, {0});
    record(0x02FA, {0, 30, 0, 0, 0});
    record(0x012D, {1});
    record(0x0418, {1000, 1000, 100, 100});
    record(0x0324, {3, 10, 10, 700, 1300, 1300, 10});
    record(0x0521, {2, 'H' | 'i' << 8, 500, 200});
    record(0x0000, {});
    return b;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: cover_fuzz_seeds CORPUS_FOLDER\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (const char* sub : {"fcs", "fct", "pictures"})
        QDir().mkpath(root + "/" + sub);
    const TItemList items = test::SampleTemplate(test::SamplePhoto(48, 32));
    std::vector<const TFaxGraphicControl*> pointers;
    for (const auto& item : items)
        pointers.push_back(item.get());
    Write(root + "/fcs/sample.fcs", TFaxDesignObjectFiler::Encode(pointers));
    Write(root + "/fcs/empty.fcs", {1, 0});
    Write(root + "/fct/sample.fct", test::RenderFileOf(items));
    std::vector<uint8_t> one;
    {
        TValueWriter w;
        WriteRenderRecord(w, items.back()->RenderRecord());
        one = w.Bytes();
    }
    Write(root + "/fct/image.fct", one);
    const QImage photo = test::SamplePhoto(24, 16);
    Write(root + "/pictures/photo.bmp", EncodeBmpImage(photo));
    Write(root + "/pictures/mono.bmp", EncodeBmpImage(ReduceImage(photo, 2)));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    photo.save(&buffer, "JPG", 60);
    Write(root + "/pictures/photo.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.end()));
    Write(root + "/pictures/clip.wmf", SmallWmf());
    TPicture picture;
    picture.kind = TPicture::pkBitmap;
    picture.bitmap = ReduceImage(photo, 2);
    Write(root + "/pictures/picture.data", EncodePictureData(picture));
    return 0;
}
