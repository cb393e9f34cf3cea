#include "faxdoc/converter.h"

#include "faxdoc/fax_errors.h"
#include "resources/fonts/fax_font_resource.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

constexpr size_t kMaxKeptText = 255;
constexpr size_t kMaxLineBytes = 8192;
constexpr char kFormFeed = 12;
constexpr char kCtrlZ = 26;

} // namespace

TTextReader::TTextReader() = default;
TTextReader::~TTextReader() = default;

int TTextReader::LoadFaxFont(const std::string& /*fontFile*/, int glyphBytes, bool doubleHeight)
{
    // The glyphs always come from the resource compiled into the program; the file name is kept
    // only because callers pass it.
    size_t size = 0;
    const uint8_t* font = resources::FaxFontResource(&size);
    if (!font || size != resources::kFaxFontResourceSize || (glyphBytes != 16 && glyphBytes != 48))
        return ecFontFileNotFound;
    const bool small = glyphBytes == 16;
    const size_t base = small ? 0 : 4096;
    glyphWidth_ = small ? 12 : 20;
    glyphRowBytes_ = small ? 2 : 3;
    const int rows = small ? 8 : 16;
    const int times = doubleHeight ? 2 : 1;
    glyphHeight_ = rows * times;
    glyphs_.assign(static_cast<size_t>(256 * glyphHeight_ * glyphRowBytes_), 0);
    for (int c = 0; c < 256; ++c)
        for (int r = 0; r < rows; ++r)
            for (int t = 0; t < times; ++t)
                std::memcpy(&glyphs_[static_cast<size_t>((c * glyphHeight_ + r * times + t) * glyphRowBytes_)],
                            font + base + static_cast<size_t>(c * glyphBytes + r * glyphRowBytes_),
                            static_cast<size_t>(glyphRowBytes_));
    return ecOK;
}

void TTextReader::RasterizeTextRow(const std::string& text, int row, uint8_t* raster)
{
    if (row < 1 || row > glyphHeight_ || glyphs_.empty())
        return;
    int pixel = 0;
    for (unsigned char c : text) {
        const int at = pixel >> 3;
        if (at + 4 > kRasterBufferSize)
            break;
        const uint8_t* g = &glyphs_[static_cast<size_t>((c * glyphHeight_ + row - 1) * glyphRowBytes_)];
        uint32_t v = 0;
        for (int i = 0; i < glyphRowBytes_; ++i)
            v = v << 8 | g[i];
        v <<= 32 - 8 * glyphRowBytes_;
        v >>= pixel & 7;
        for (int i = 0; i < 4; ++i)
            raster[at + i] |= static_cast<uint8_t>(v >> (24 - 8 * i));
        pixel += glyphWidth_;
    }
}

int TTextReader::Open(ConverterState& state, const std::string& name)
{
    if (!HasFont())
        return ecFontFileNotFound;
    if (int rc = file_.Open(name); rc < 0)
        return rc;
    // A Ctrl-Z at the very end marks the end of the text.
    end_ = file_.Size();
    uint8_t last = 0;
    if (end_ > 0 && file_.ReadAt(end_ - 1, &last, 1) == ecOK && last == kCtrlZ)
        --end_;
    row_ = 0;
    linesOnPage_ = 0;
    rowsOnPage_ = 0;
    blankDelivered_ = deferred_ = keptPending_ = keptQueued_ = false;
    state.bytesRead = 0;
    state.bytesTotal = end_;
    return ecOK;
}

void TTextReader::Close(ConverterState&) { file_.Close(); }

// Lines end at a carriage return, a line feed, or both together. Of a long line only what can be
// drawn is kept: its start, and the text behind its first form feed.
bool TTextReader::ReadRawLine(std::string& line)
{
    if (!InputLeft())
        return false;
    line.clear();
    size_t formFeed = std::string::npos;
    while (InputLeft()) {
        const int c = file_.GetByte();
        if (c < 0)
            break;
        if (c == '\r' || c == '\n') {
            if (c == '\r' && InputLeft()) {
                if (file_.GetByte() != '\n')
                    file_.Seek(file_.Position() - 1);
            }
            break;
        }
        if (formFeed == std::string::npos ? line.size() < kMaxLineBytes || c == kFormFeed
                                          : line.size() - formFeed <= kMaxKeptText)
            line += static_cast<char>(c);
        if (c == kFormFeed && formFeed == std::string::npos)
            formFeed = line.size() - 1;
    }
    return true;
}

std::string TTextReader::PrepareLine(ConverterState& state, const std::string& raw)
{
    std::string text = raw;
    const size_t ff = text.find(kFormFeed);
    if (ff != std::string::npos) {
        kept_ = text.substr(ff + 1, kMaxKeptText);
        keptPending_ = true;
        text.resize(ff);
    }
    // The line is cut at the row width; a tab never expands past it, whatever the tab stop.
    const size_t maxChars = MaxChars(state);
    std::string out;
    for (char c : text) {
        if (out.size() >= maxChars)
            break;
        if (c == '\t')
            out.append(std::min(tabStop_ - out.size() % tabStop_, maxChars - out.size()), ' ');
        else
            out += c;
    }
    return out;
}

size_t TTextReader::MaxChars(const ConverterState& state) const
{
    const int W = state.LineWidth();
    const int M = std::max(state.LeftMargin(), 0);
    return static_cast<size_t>(std::max(W / glyphWidth_ - M / glyphWidth_, 0));
}

// Text behind a form feed begins the next page; a line that ends in a form feed just ends its page.
TTextReader::TNext TTextReader::NextLine(ConverterState& state, std::string& text, bool& morePages)
{
    if (deferred_) {
        deferred_ = false;
        linesOnPage_ = 1;
        text = PrepareLine(state, deferredLine_);
        return TNext::Line;
    }
    if (keptPending_) {
        keptPending_ = false;
        keptQueued_ = !kept_.empty();
        linesOnPage_ = 0;
        morePages = keptQueued_ || InputLeft();
        return TNext::EndOfPage;
    }
    std::string raw;
    if (keptQueued_) {
        keptQueued_ = false;
        raw = kept_;
    } else if (!ReadRawLine(raw)) {
        return TNext::EndOfInput;
    }
    state.bytesRead = file_.Position();
    ++linesOnPage_;
    if (linesPerPage_ && linesOnPage_ > linesPerPage_) {
        // A form feed that opens the line behind a full page asks for the page end made here: it
        // starts no page of its own.
        if (!raw.empty() && raw[0] == kFormFeed)
            raw.erase(0, 1);
        deferred_ = !raw.empty();
        deferredLine_ = raw;
        linesOnPage_ = 0;
        morePages = deferred_ || InputLeft();
        return TNext::EndOfPage;
    }
    text = PrepareLine(state, raw);
    return TNext::Line;
}

int TTextReader::ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage)
{
    bytes = state.LineWidth() / 8;
    endOfPage = false;
    if (row_ == 0) {
        std::string text;
        switch (NextLine(state, text, morePages)) {
        case TNext::Line:
            text_ = std::move(text);
            row_ = 1;
            break;
        case TNext::EndOfPage:
            endOfPage = true;
            rowsOnPage_ = 0;
            return ecOK;
        case TNext::EndOfInput:
            morePages = false;
            if (rowsOnPage_ == 0 && !blankDelivered_) {
                blankDelivered_ = true; // no page is left empty
                ++rowsOnPage_;
                return ecOK;
            }
            endOfPage = true;
            rowsOnPage_ = 0;
            return ecOK;
        }
    }
    RasterizeTextRow(text_, row_, raster);
    ++rowsOnPage_;
    if (++row_ > GlyphHeight())
        row_ = 0;
    return ecOK;
}

} // namespace zn::faxdoc
