// The unpacker engine: decodes a page of a fax image file into raster rows, and from them builds
// a monochrome page in memory or writes a PCX, DCX, TIFF or BMP file of it.
#pragma once

#include "faxdoc/apf_file.h"
#include "faxdoc/mono_bitmap.h"
#include "faxdoc/page_files.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zn::faxdoc {

enum TUnpackerFlags : uint16_t {
    kUnpackYield = 1,
    kUnpackDoubleHeight = 2, // normal-resolution pages: every row twice
    kUnpackHalfWidth = 4,    // normal-resolution pages: every two pixels ORed into one
    kUnpackAbort = 8,
};

enum TUnpackOutputKind { kOutputRow = 0, kOutputStart = 1, kOutputEnd = 2 };

class UnpackerState {
public:
    // (state, kind, row, page, byte count) -> 0 or a negative code that stops the page.
    // Rows of byte count 0 are blank rows held back by the whitespace compression.
    using TOutputLineProc = std::function<int(UnpackerState&, int kind, const uint8_t* row, int page, int len)>;
    // (state, file name, page, bytes done, bytes total)
    using TStatusProc = std::function<void(UnpackerState&, const std::string&, int page, int done, int total)>;
    // Lets the owner process its messages while a page decodes; a negative code stops it (-1003).
    using TYieldProc = std::function<int()>;

    explicit UnpackerState(TOutputLineProc outputLine = {});

    void SetOutputLine(TOutputLineProc p) { outputLine_ = std::move(p); }
    void SetStatus(TStatusProc p) { status_ = std::move(p); }
    void SetYield(TYieldProc p) { yield_ = std::move(p); }

    void SetUnpackerFlags(uint16_t bits);
    void ClearUnpackerFlags(uint16_t bits);
    uint16_t Flags() const { return flags_; }
    int SetWhitespaceCompression(uint32_t from, uint32_t to);
    void SetUnpackerScaling(uint32_t horizMult, uint32_t horizDiv, uint32_t vertMult, uint32_t vertDiv);

    int UnpackPage(const std::string& fileName, unsigned page);
    // Decodes the page whose header was just read from `f` (an open fax file whose header is
    // `fileHeader`): for walking a file's pages once.
    int UnpackPageAt(TInFile& f, const std::string& fileName, unsigned page, const TApfFileHeader& fileHeader,
                     const TApfPageHeader& pageHeader);
    int UnpackPageToMemBitmap(const std::string& fileName, unsigned page, bool invert, TMonoBitmap& out);
    int UnpackPageToPcx(const std::string& inName, const std::string& outName, unsigned page);
    int UnpackPageToDcx(const std::string& inName, const std::string& outName, unsigned page);
    int UnpackPageToTiff(const std::string& inName, const std::string& outName, unsigned page);
    int UnpackPageToBmp(const std::string& inName, const std::string& outName, unsigned page);

    const TApfFileHeader& FileHeader() const { return fileHeader_; }
    const TApfPageHeader& PageHeader() const { return pageHeader_; }
    int BadCodes() const { return badCodes_; }

private:
    int Deliver(const uint8_t* row, int len);
    int Emit(const uint8_t* row, int len);
    int Output(int kind, const uint8_t* row, int len);
    int FlushPendingBlanks();
    int CollectRow(int kind, const uint8_t* row, int len);
    int FileRow(int kind, const uint8_t* row, int len);
    int DecodePage(TInFile& f);
    int UnpackPageToFile(const std::string& inName, const std::string& outName, unsigned page, TPageFileKind kind);
    int StreamPageToFile(const std::string& inName, const std::string& outName, unsigned page, TPageFileKind kind);

    TApfPageIndex pageIndex_; // a viewer or exporter turns pages of one file many times
    TOutputLineProc outputLine_;
    TStatusProc status_;
    TYieldProc yield_;
    uint16_t flags_ = 0;
    uint32_t whitespaceFrom_ = 0;
    uint32_t whitespaceTo_ = 0;
    uint32_t horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;

    // The page being decoded.
    std::string fileName_;
    int pageNumber_ = 0;
    int rowsDelivered_ = 0;
    int pendingBlanks_ = 0;
    int badCodes_ = 0;
    int pageLength_ = 0;
    int bytesRead_ = 0;
    bool invert_ = false;
    TApfFileHeader fileHeader_;
    TApfPageHeader pageHeader_;
    std::vector<uint8_t> work_; // one row for inverting and halving

    std::vector<uint8_t> input_; // a piece of the page's coded data

    // The page collected in memory.
    bool collecting_ = false;
    std::vector<uint8_t> memRows_;
    int memRowCount_ = 0;
    int widestRow_ = 0;

    // The page written to a file as it decodes, `fileStride_` bytes a row; a row wider than that
    // (a 2048-pixel row with ink past 1728 on a narrow page) sets `fileTooNarrow_`.
    TPageFileWriter* fileOut_ = nullptr;
    int fileStride_ = 0;
    bool fileTooNarrow_ = false;
};

// The output name of a page file: `outName` when it has an extension; else `outName` (or, when
// empty, the input name) with its extension replaced by `defaultExtension`.
std::string UnpackOutputName(const std::string& inName, const std::string& outName, const char* defaultExtension);

} // namespace zn::faxdoc
