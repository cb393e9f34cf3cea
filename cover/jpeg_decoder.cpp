#include "cover/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

namespace zn::cover {

namespace {

constexpr size_t kSourceBuffer = 4096;

struct TErrorManager {
    jpeg_error_mgr pub;
    jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->escape, 1);
}

void OutputMessage(j_common_ptr) {} // warnings are counted, not printed

// The source: the compressed bytes read 4096 at a time; at the end a fake end-of-image marker
// after the library's premature-end warning, as its own file source does.
struct TSource {
    jpeg_source_mgr pub;
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool startOfFile;
    JOCTET buffer[kSourceBuffer];
};

void InitSource(j_decompress_ptr cinfo) { reinterpret_cast<TSource*>(cinfo->src)->startOfFile = true; }

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<TSource*>(cinfo->src);
    const size_t n = std::min(kSourceBuffer, src->size - src->pos);
    if (n == 0) {
        if (src->startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        src->pub.next_input_byte = src->buffer;
        src->pub.bytes_in_buffer = 2;
        return TRUE;
    }
    std::memcpy(src->buffer, src->data + src->pos, n);
    src->pos += n;
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    src->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    auto* src = reinterpret_cast<TSource*>(cinfo->src);
    if (count <= 0)
        return;
    while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
        count -= static_cast<long>(src->pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// Everything the decode touches after setjmp lives here, reached through one pointer that does
// not change, so that a jump back out of the library finds it intact.
struct TDecodeState {
    jpeg_decompress_struct cinfo;
    TErrorManager err;
    TSource source;
    bool created = false;
    std::vector<uint8_t> rows; // the whole picture, top row first (the writer stores bottom-up)
    TJpegResult result;
    ~TDecodeState()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
};

void ApplyParameters(jpeg_decompress_struct& cinfo)
{
    cinfo.quantize_colors = TRUE;
    cinfo.desired_number_of_colors = 256;
    cinfo.two_pass_quantize = TRUE;
    cinfo.dither_mode = JDITHER_FS;
    cinfo.dct_method = JDCT_ISLOW;
}

} // namespace

TJpegResult DecodeJpegToBmp(const uint8_t* data, size_t size, int64_t maxPixels)
{
    const auto state = std::make_unique<TDecodeState>();
    TDecodeState* const s = state.get();
    s->cinfo.err = jpeg_std_error(&s->err.pub);
    s->err.pub.error_exit = ErrorExit;
    s->err.pub.output_message = OutputMessage;
    if (setjmp(s->err.escape)) {
        s->result = TJpegResult();
        s->result.error = s->err.message;
        return std::move(s->result);
    }
    jpeg_create_decompress(&s->cinfo);
    s->created = true;
    s->source.pub.init_source = InitSource;
    s->source.pub.fill_input_buffer = FillInputBuffer;
    s->source.pub.skip_input_data = SkipInputData;
    s->source.pub.resync_to_restart = jpeg_resync_to_restart;
    s->source.pub.term_source = TermSource;
    s->source.pub.bytes_in_buffer = 0;
    s->source.pub.next_input_byte = nullptr;
    s->source.data = data;
    s->source.size = size;
    s->source.pos = 0;
    s->cinfo.src = &s->source.pub;
    ApplyParameters(s->cinfo);
    jpeg_read_header(&s->cinfo, TRUE);
    ApplyParameters(s->cinfo);
    if (static_cast<int64_t>(s->cinfo.image_width) * s->cinfo.image_height > maxPixels) {
        s->result.error = "picture too large";
        return std::move(s->result);
    }
    jpeg_start_decompress(&s->cinfo);
    jpeg_decompress_struct& c = s->cinfo;
    const bool mapped = c.quantize_colors;
    const int components = mapped ? 1 : c.out_color_components;
    if (!mapped && c.out_color_space != JCS_GRAYSCALE && c.out_color_space != JCS_RGB) {
        s->result.error = "BMP output must be grayscale or RGB";
        return std::move(s->result);
    }
    const size_t rowWidth = static_cast<size_t>(c.output_width) * static_cast<size_t>(components);
    const size_t padded = (rowWidth + 3) & ~static_cast<size_t>(3);
    const bool grey = c.out_color_space == JCS_GRAYSCALE || mapped;
    const int mapEntries = grey ? 256 : 0;
    if (mapped && c.actual_number_of_colors > 256) {
        s->result.error =
            "Output file format cannot handle " + std::to_string(c.actual_number_of_colors) + " colormap entries";
        return std::move(s->result);
    }
    s->rows.assign(padded * c.output_height, 0);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = s->rows.data() + padded * c.output_scanline;
        jpeg_read_scanlines(&c, &row, 1);
    }
    // The writer stores RGB as blue, green, red.
    if (!mapped && components == 3)
        for (JDIMENSION y = 0; y < c.output_height; ++y) {
            uint8_t* r = s->rows.data() + padded * y;
            for (JDIMENSION x = 0; x < c.output_width; ++x)
                std::swap(r[3 * x], r[3 * x + 2]);
        }
    const size_t header = 14 + 40 + 4 * static_cast<size_t>(mapEntries);
    std::vector<uint8_t>& bmp = s->result.bmp;
    bmp.assign(header + padded * c.output_height, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    Put32(bmp, 2, static_cast<uint32_t>(bmp.size()));
    Put32(bmp, 10, static_cast<uint32_t>(header));
    Put32(bmp, 14, 40);
    Put32(bmp, 18, c.output_width);
    Put32(bmp, 22, c.output_height);
    Put16(bmp, 26, 1);
    Put16(bmp, 28, static_cast<uint32_t>(8 * components));
    if (c.density_unit == 2) {
        Put32(bmp, 38, static_cast<uint32_t>(c.X_density) * 100);
        Put32(bmp, 42, static_cast<uint32_t>(c.Y_density) * 100);
    }
    Put32(bmp, 46, static_cast<uint32_t>(mapEntries));
    for (int i = 0; i < mapEntries; ++i) {
        uint8_t* e = bmp.data() + 54 + 4 * i;
        if (mapped && c.colormap) {
            if (i >= c.actual_number_of_colors)
                continue;
            if (c.out_color_components == 3) {
                e[0] = c.colormap[2][i];
                e[1] = c.colormap[1][i];
                e[2] = c.colormap[0][i];
            } else {
                e[0] = e[1] = e[2] = c.colormap[0][i];
            }
        } else {
            e[0] = e[1] = e[2] = static_cast<uint8_t>(i);
        }
    }
    for (JDIMENSION y = 0; y < c.output_height; ++y)
        std::memcpy(bmp.data() + header + padded * y, s->rows.data() + padded * (c.output_height - 1 - y), padded);
    jpeg_finish_decompress(&c);
    if (s->err.pub.num_warnings > 0) {
        s->result.bmp.clear();
        s->result.error = "There are warnings";
        return std::move(s->result);
    }
    s->result.ok = true;
    return std::move(s->result);
}

} // namespace zn::cover
