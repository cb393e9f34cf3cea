// The converter engine: turns a document into a fax image file. A converter state owns one input
// reader (plain text with the fax font, TIFF, PCX, DCX, BMP, an in-memory bitmap, or the owner's
// own lines); the line loop asks the reader for raster rows, codes each and writes the pages.
#pragma once

#include "faxdoc/apf_file.h"
#include "faxdoc/file_io.h"
#include "faxdoc/mh_coder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zn::faxdoc {

// `TFaxCvtOptions` as engine flag bits.
enum TConverterFlags : uint32_t {
    kCvtDoubleWidth = 1,
    kCvtHalfHeight = 2,
    kCvtCenterImage = 4,
    kCvtYield = 8,
    kCvtYieldOften = 16,
};
constexpr uint32_t kCvtDefaultFlags = kCvtDoubleWidth | kCvtCenterImage | kCvtYield;
constexpr int kRasterBufferSize = 4096;

enum TConverterStatusKind { kStatusRow = 0, kStatusStart = 1, kStatusEnd = 2 };

class ConverterState;

// One reader per document kind.
class TFaxReader {
public:
    virtual ~TFaxReader() = default;
    virtual const char* DefaultExtension() const = 0;
    virtual int Open(ConverterState& state, const std::string& name) = 0;
    // Fills `raster` (zeroed by the caller, kRasterBufferSize bytes) with the next row, or says that
    // the page ended (then `morePages` tells whether another follows).
    virtual int ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage) = 0;
    virtual void Close(ConverterState& state) = 0;
    // Whether the reader writes a row only within its byte count (behind the centring offset) and,
    // for text, within the row width and a glyph's bytes more; the line loop then clears only that.
    virtual bool WritesWithinRow() const { return true; }
};

class ConverterState {
public:
    // Status (state, kind) -> true to abort the conversion.
    using TStatusProc = std::function<bool(ConverterState&, int kind)>;
    // Lets the owner process its messages; a negative code (-1003) ends the conversion.
    using TYieldProc = std::function<int()>;

    explicit ConverterState(std::unique_ptr<TFaxReader> reader);
    ~ConverterState();

    void SetFlags(uint32_t bits) { flags_ |= bits; }
    void ClearFlags(uint32_t bits) { flags_ &= ~bits; }
    uint32_t Flags() const { return flags_; }
    void SetMargins(int left, uint32_t top)
    {
        leftMargin_ = left;
        topMargin_ = top;
    }
    void SetResolution(bool high) { highResolution_ = high; }
    void SetWidth(int widthCode) { lineWidth_ = widthCode == 2 ? kWideLineWidth : kNormalLineWidth; }
    void SetStationId(const std::string& id) { stationId_ = id.substr(0, kApfStationIdCapacity); }
    void SetStatusProc(TStatusProc p) { status_ = std::move(p); }
    void SetYieldProc(TYieldProc p) { yield_ = std::move(p); }

    int ConvertFile(const std::string& inName, const std::string& outName);

    // Codes one raster row (kRasterBufferSize bytes) with this state's width, margin and double
    // width into the coded-row buffer; returns the byte count.
    int CompressRasterLine(const uint8_t* raster);
    const uint8_t* CodedRow() const { return coded_.data(); }
    int CodedRowBytes() const { return codedBytes_; }

    TFaxReader& Reader() { return *reader_; }

    // What readers decide and read.
    bool HighResolution() const { return highResolution_; }
    int LineWidth() const { return lineWidth_; }
    int LeftMargin() const { return leftMargin_; }
    uint32_t TopMargin() const { return topMargin_; }
    bool doubleWidth = false;
    bool halfHeight = false;
    int centringOffset = 0; // bytes an image row is shifted right
    int64_t bytesRead = 0;
    int64_t bytesTotal = 0;

    // Decides double width, half height and centring for an image `w` pixels wide. TIFF, PCX and
    // DCX centre over the whole row, bitmaps over the row less the margin; both count the margin
    // when deciding double width, so a doubled row never runs past the row width.
    void DecideImageLayout(int w, bool bitmap);
    // Shifts a row of `rowBytes` right by the centring offset when it fits the raster buffer.
    void ShiftRow(uint8_t* raster, int rowBytes) const;

    uint32_t PageNumber() const { return pageNumber_; }
    uint32_t LineNumber() const { return lineNumber_; }
    const std::string& InputName() const { return inName_; }

private:
    int ConvertLines(const std::string& inName);
    int WriteApfLine(const uint8_t* data, int count, bool morePages, bool endOfPage);
    int Status(int kind);
    int Yield();
    int CreateApfFile(const std::string& outName);
    int FinishApfFile();

    std::unique_ptr<TFaxReader> reader_;
    uint32_t flags_ = kCvtDefaultFlags;
    bool highResolution_ = false;
    int lineWidth_ = kNormalLineWidth;
    int leftMargin_ = 50;
    uint32_t topMargin_ = 0;
    std::string stationId_;
    TStatusProc status_;
    TYieldProc yield_;

    uint32_t pageNumber_ = 0;
    uint32_t lineNumber_ = 0;
    int pageRows_ = 0; // rows written on the current page
    uint32_t lastPageWithHeader_ = 0;
    int64_t pageHeaderPosition_ = 0;
    std::string inName_;
    std::vector<uint8_t> coded_;
    int codedBytes_ = 0;
    std::vector<uint8_t> raster_;
    TApfFileHeader fileHeader_;
    TApfPageHeader pageHeader_;
    TBufferedWriter out_;
};

// ---- Readers -----------------------------------------------------------------------------------

// Plain text drawn with the built-in fax font. Lines end at CR, LF or CR LF; a form feed ends
// the page; tabs expand to the tab stop. The enhanced-text reader draws the same lines with a
// font of the toolkit instead (it overrides the four drawing operations).
class TTextReader : public TFaxReader {
public:
    TTextReader();
    ~TTextReader() override;
    const char* DefaultExtension() const override { return "TXT"; }
    int Open(ConverterState& state, const std::string& name) override;
    int ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage) override;
    void Close(ConverterState& state) override;

    void SetTabStop(unsigned tabStop)
    {
        if (tabStop)
            tabStop_ = tabStop;
    }
    void SetLinesPerPage(unsigned lines) { linesPerPage_ = lines; }
    // glyphBytes 48 (20 x 16) or 16 (12 x 8); doubleHeight for high resolution. -8052 without the font.
    int LoadFaxFont(const std::string& fontFile, int glyphBytes, bool doubleHeight);
    // Raster rows per text line.
    virtual int GlyphHeight() const { return glyphHeight_; }
    int GlyphWidth() const { return glyphWidth_; }
    // Raster row `row` (1-based) of `text`, packed from pixel 0; nothing past the glyph height. The
    // raster is zeroed by the caller.
    virtual void RasterizeTextRow(const std::string& text, int row, uint8_t* raster);

protected:
    // Whether a font is loaded.
    virtual bool HasFont() const { return !glyphs_.empty(); }
    // The characters of a line that fit behind the left margin.
    virtual size_t MaxChars(const ConverterState& state) const;

private:
    enum class TNext { Line, EndOfPage, EndOfInput };
    TNext NextLine(ConverterState& state, std::string& text, bool& morePages);
    std::string PrepareLine(ConverterState& state, const std::string& raw);
    bool InputLeft() const { return file_.Position() < end_; }
    bool ReadRawLine(std::string& line);

    unsigned tabStop_ = 4;
    unsigned linesPerPage_ = 0;
    std::vector<uint8_t> glyphs_; // 256 glyphs, rows top to bottom, each row doubled in high resolution
    int glyphWidth_ = 0, glyphHeight_ = 0, glyphRowBytes_ = 0;

    TInFile file_;
    int64_t end_ = 0; // where the text ends
    std::string text_;
    int row_ = 0; // glyph row of text_ to deliver next, 0 when a new line is due
    unsigned linesOnPage_ = 0;
    int rowsOnPage_ = 0;
    bool blankDelivered_ = false;
    bool deferred_ = false; // deferredLine_ begins the next page
    std::string deferredLine_;
    bool keptPending_ = false; // a form feed cut the last line: ending the page is due
    std::string kept_;
    bool keptQueued_ = false; // kept_ is the next page's first line
};

// The largest picture the image readers take: at most kMaxImageWidth pixels wide (-8059 beyond)
// and kMaxPageRows rows tall (-8056 beyond). Only the pixels that fit the fax row are kept.
constexpr int kMaxImageWidth = 65535;
int CheckImageSize(int64_t width, int64_t height);

// Byte ranges of an input already taken by a page: a picture whose parts share their data
// (strips or pages at one offset) would make a small file a huge fax, and is refused.
class TUsedRanges {
public:
    // False when [begin, end) overlaps a range taken before; else takes it.
    bool Take(int64_t begin, int64_t end);
    void Clear() { ranges_.clear(); }

private:
    std::vector<std::pair<int64_t, int64_t>> ranges_; // sorted, disjoint, merged when adjacent
};

// TIFF: every page (IFD) in turn, uncompressed or PackBits, 1 bit per pixel.
class TTiffReader : public TFaxReader {
public:
    const char* DefaultExtension() const override { return "TIF"; }
    int Open(ConverterState& state, const std::string& name) override;
    int ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage) override;
    void Close(ConverterState& state) override;

private:
    int OpenPage(ConverterState& state);
    int NextStrip();

    TInFile file_;
    bool bigEndian_ = false;
    std::vector<uint32_t> pages_; // IFD offsets
    size_t page_ = 0;
    uint32_t width_ = 0, length_ = 0, rowsPerStrip_ = 0;
    uint32_t compression_ = 1;
    bool invert_ = false;
    std::vector<uint32_t> stripOffsets_, stripCounts_;
    TUsedRanges used_;
    uint32_t row_ = 0;
    size_t strip_ = 0;
    uint32_t rowInStrip_ = 0;
    uint32_t stripRows_ = 0;
    int64_t end_ = 0; // end of the strip being read
};

// PCX, and DCX: PCX pages behind a table of page offsets.
class TPcxReader : public TFaxReader {
public:
    explicit TPcxReader(bool dcx = false) : dcx_(dcx) {}
    const char* DefaultExtension() const override { return dcx_ ? "DCX" : "PCX"; }
    int Open(ConverterState& state, const std::string& name) override;
    int ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage) override;
    void Close(ConverterState& state) override;

private:
    int OpenPage(ConverterState& state, int64_t begin, int64_t end);

    bool dcx_;
    TInFile file_;
    std::vector<std::pair<int64_t, int64_t>> pages_;
    size_t page_ = 0;
    int64_t end_ = 0;
    int width_ = 0, height_ = 0, bytesPerLine_ = 0;
    int row_ = 0;
};

// A bitmap in memory: monochrome rows (1 = white, as a screen bitmap stores them) or 32-bit pixels
// (blue, green, red, unused), which are dithered.
struct TSourceBitmap {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 1; // 1 or 32
    int stride = 0;
    std::vector<uint8_t> bits;
};

// The ordered dither of colour pictures: pixel (x, y) is black when R + G + B < 10 x threshold.
int DitherThreshold(int x, int y);

// A BMP file (idBmp) read row by row, or the bitmap set with SetBitmap (idBitmap).
class TBitmapReader : public TFaxReader {
public:
    explicit TBitmapReader(bool fromFile);
    ~TBitmapReader() override;
    const char* DefaultExtension() const override { return fromFile_ ? "BMP" : ""; }
    void SetBitmap(const TSourceBitmap* bitmap) { given_ = bitmap; }
    int Open(ConverterState& state, const std::string& name) override;
    int ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage) override;
    void Close(ConverterState& state) override;

    class TBmpFile;

private:
    bool fromFile_;
    const TSourceBitmap* given_ = nullptr;
    std::unique_ptr<TBmpFile> file_;
    int width_ = 0, height_ = 0;
    int row_ = 0;
};

// Lines supplied by the owner.
class TUserReader : public TFaxReader {
public:
    using TOpen = std::function<int(const std::string& name)>;
    using TRead = std::function<int(uint8_t* raster, int& bytes, bool& endOfPage, bool& morePages)>;
    using TClose = std::function<void()>;
    TUserReader(std::string extension, TOpen open, TRead read, TClose close)
        : extension_(std::move(extension)), open_(std::move(open)), read_(std::move(read)), close_(std::move(close))
    {
    }
    const char* DefaultExtension() const override { return extension_.c_str(); }
    int Open(ConverterState&, const std::string& name) override { return open_ ? open_(name) : 0; }
    int ReadLine(ConverterState&, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage) override;
    void Close(ConverterState&) override
    {
        if (close_)
            close_();
    }
    bool WritesWithinRow() const override { return false; }

private:
    std::string extension_;
    TOpen open_;
    TRead read_;
    TClose close_;
};

} // namespace zn::faxdoc
