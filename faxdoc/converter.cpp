#include "faxdoc/converter.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/file_names.h"
#include "faxdoc/mh_codes.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {

ConverterState::ConverterState(std::unique_ptr<TFaxReader> reader)
    : reader_(std::move(reader)), coded_(kCodedRowBufferSize, 0), raster_(kRasterBufferSize, 0)
{
}

ConverterState::~ConverterState() = default;

int ConverterState::CompressRasterLine(const uint8_t* raster)
{
    codedBytes_ = CodeRasterRow(raster, kRasterBufferSize, lineWidth_, leftMargin_, doubleWidth, coded_.data());
    return codedBytes_;
}

void ConverterState::DecideImageLayout(int w, bool bitmap)
{
    const int W = lineWidth_;
    const int M = std::max(leftMargin_, 0);
    doubleWidth = (flags_ & kCvtDoubleWidth) && !highResolution_ && W - 2 * M >= 2 * w;
    halfHeight = (flags_ & kCvtHalfHeight) && !highResolution_ && !doubleWidth;
    centringOffset = 0;
    if (!(flags_ & kCvtCenterImage))
        return;
    if (bitmap)
        centringOffset = std::max(doubleWidth ? (W - 2 * (w + M)) / 32 : (W - w - M) / 16, 0);
    else if (W - w > 15)
        centringOffset = doubleWidth ? (W - 2 * w) / 32 : (W - w) / 16;
}

void ConverterState::ShiftRow(uint8_t* raster, int rowBytes) const
{
    if (centringOffset <= 0 || centringOffset + rowBytes >= kRasterBufferSize)
        return;
    std::memmove(raster + centringOffset, raster, static_cast<size_t>(rowBytes));
    std::memset(raster, 0, static_cast<size_t>(centringOffset));
}

int ConverterState::Status(int kind)
{
    if (status_ && status_(*this, kind))
        return ecConvertAbort;
    return ecOK;
}

int ConverterState::Yield() { return yield_ ? yield_() : ecOK; }

int ConverterState::CreateApfFile(const std::string& outName)
{
    fileHeader_ = TApfFileHeader();
    fileHeader_.SetSignature();
    fileHeader_.page1Offset = kApfFirstPageOffset;
    pageHeader_ = TApfPageHeader();
    lastPageWithHeader_ = 0;
    if (int rc = out_.Create(outName); rc < 0)
        return rc;
    uint8_t head[kApfFileHeaderSize];
    fileHeader_.Encode(head);
    return out_.Write(head, sizeof head);
}

int ConverterState::FinishApfFile()
{
    fileHeader_.SetStationId(stationId_);
    fileHeader_.dateTime = DosDateTime(std::time(nullptr));
    uint8_t head[kApfFileHeaderSize];
    fileHeader_.Encode(head);
    if (int rc = out_.WriteAt(0, head, sizeof head); rc < 0)
        return rc;
    return out_.Close();
}

int ConverterState::WriteApfLine(const uint8_t* data, int count, bool /*morePages*/, bool endOfPage)
{
    // A page is begun by its first row, or by its end when it has none, so that every page counted
    // in the file header has a page header.
    if (pageNumber_ != lastPageWithHeader_) {
        pageHeader_ = TApfPageHeader();
        pageHeader_.flags = kPageLengthPrefixed;
        if (highResolution_)
            pageHeader_.flags |= kPageHighResolution;
        if (lineWidth_ == kWideLineWidth)
            pageHeader_.flags |= kPageWide;
        pageHeaderPosition_ = out_.Position();
        uint8_t head[kApfPageHeaderSize];
        pageHeader_.Encode(head);
        if (int rc = out_.Write(head, sizeof head); rc < 0)
            return rc;
        lastPageWithHeader_ = pageNumber_;
    }
    if (!endOfPage && ++pageRows_ > kMaxPageRows)
        return ecPageTooLong;
    uint8_t eop[kEndOfPageBytes];
    if (endOfPage) {
        count = MakeEndOfPage(eop);
        data = eop;
    }
    const uint8_t prefix[2] = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)};
    if (int rc = out_.Write(prefix, 2); rc < 0)
        return rc;
    if (int rc = out_.Write(data, static_cast<size_t>(count)); rc < 0)
        return rc;
    pageHeader_.length += 2 + count;
    if (!endOfPage)
        return ecOK;
    ++fileHeader_.pageCount;
    uint8_t head[kApfPageHeaderSize];
    pageHeader_.Encode(head);
    return out_.WriteAt(pageHeaderPosition_, head, sizeof head);
}

int ConverterState::ConvertLines(const std::string& inName)
{
    pageNumber_ = 0;
    lineNumber_ = 0;
    const std::string ext = reader_->DefaultExtension();
    inName_ = ext.empty() || inName.empty() ? inName : DefaultExtension(inName, ext);
    uint8_t* raster = raster_.data();
    int rc = Status(kStatusStart);
    if (rc >= 0)
        rc = reader_->Open(*this, inName_);
    bool morePages = true;
    // The raster is clear before every row: at the start whole, later as far as the last row reached.
    std::memset(raster, 0, kRasterBufferSize);
    size_t dirty = 0;
    const auto readRow = [&](int& bytes, bool& endOfPage) {
        std::memset(raster, 0, dirty);
        bytes = 0;
        int r = reader_->ReadLine(*this, raster, bytes, morePages, endOfPage);
        dirty = !reader_->WritesWithinRow()
                    ? kRasterBufferSize
                    : std::min<size_t>(
                        kRasterBufferSize,
                        static_cast<size_t>(std::max(bytes + std::max(centringOffset, 0), lineWidth_ / 8) + 4));
        ++lineNumber_;
        if (r >= 0)
            r = Status(kStatusRow);
        return r;
    };
    while (rc >= 0 && morePages) {
        if (++pageNumber_ > kMaxApfPages) {
            rc = ecTooManyPages;
            break;
        }
        lineNumber_ = 0;
        pageRows_ = 0;
        uint8_t blank[kCodedRowBufferSize];
        const int blankBytes = CodeBlankRow(lineWidth_, blank);
        for (uint32_t i = 0; i < topMargin_ && rc >= 0; ++i)
            rc = WriteApfLine(blank, blankBytes, morePages, false);
        int bytes = 0;
        bool endOfPage = false;
        if (rc >= 0)
            rc = readRow(bytes, endOfPage);
        while (rc >= 0 && !endOfPage) {
            if (!(halfHeight && lineNumber_ % 2 == 0)) {
                CompressRasterLine(raster);
                rc = WriteApfLine(coded_.data(), codedBytes_, morePages, false);
            }
            if (rc >= 0)
                rc = readRow(bytes, endOfPage);
            if (rc >= 0 && (flags_ & kCvtYield) && (flags_ & kCvtYieldOften) && lineNumber_ % 16 == 0)
                rc = Yield();
        }
        if (rc >= 0)
            rc = WriteApfLine(nullptr, 0, morePages, true);
        if (rc >= 0 && (flags_ & kCvtYield))
            rc = Yield();
    }
    const int end = Status(kStatusEnd);
    if (rc >= 0)
        rc = end;
    reader_->Close(*this);
    return rc;
}

int ConverterState::ConvertFile(const std::string& inName, const std::string& outName)
{
    const std::string name = !outName.empty()  ? DefaultExtension(outName, "APF")
                             : !inName.empty() ? ForceExtension(inName, "APF")
                                               : std::string();
    if (name.empty())
        return ecFileNotFound;
    if (int rc = RefuseOutputOverInput(inName, name); rc < 0)
        return rc;
    bytesRead = bytesTotal = 0;
    int rc = CreateApfFile(name);
    if (rc >= 0)
        rc = ConvertLines(inName);
    if (rc >= 0)
        rc = FinishApfFile();
    if (rc < 0)
        out_.Discard();
    return rc;
}

int CheckImageSize(int64_t width, int64_t height)
{
    if (width > kMaxImageWidth)
        return ecPictureTooLarge;
    if (height > kMaxPageRows)
        return ecPageTooLong;
    return ecOK;
}

bool TUsedRanges::Take(int64_t begin, int64_t end)
{
    if (end <= begin)
        return true;
    // The first range that ends after `begin` is the only one that can overlap.
    auto it = std::lower_bound(ranges_.begin(), ranges_.end(), begin,
                               [](const std::pair<int64_t, int64_t>& r, int64_t at) { return r.second <= at; });
    if (it != ranges_.end() && it->first < end)
        return false;
    // Merge with the neighbours it touches, so that a file read in order keeps one range.
    if (it != ranges_.begin() && std::prev(it)->second == begin) {
        --it;
        it->second = end;
    } else {
        it = ranges_.insert(it, {begin, end});
    }
    const auto next = std::next(it);
    if (next != ranges_.end() && next->first == it->second) {
        it->second = next->second;
        ranges_.erase(next);
    }
    return true;
}

int TUserReader::ReadLine(ConverterState&, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage)
{
    if (!read_) {
        endOfPage = true;
        morePages = false;
        return ecOK;
    }
    return read_(raster, bytes, endOfPage, morePages);
}

} // namespace zn::faxdoc
