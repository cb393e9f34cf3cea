// The fax image file (.APF): a 64-byte file header, then pages, each a 16-byte page header and
// its coded rows. All integers little-endian.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "faxdoc/file_io.h"

namespace zn::faxdoc {

constexpr int kApfFileHeaderSize = 64;
constexpr int kApfPageHeaderSize = 16;
constexpr int kApfFirstPageOffset = 64;
constexpr int kApfStationIdCapacity = 20;
constexpr int kApfMaxRecordBytes = 4096; // readers cap a length-prefixed record at this
extern const uint8_t kApfSignature[6];   // "APF10" and 0x1A
// What one file can hold: the page count is 16 bits. A page has at most kMaxPageRows rows, far
// more than the longest real fax (a metre of paper is under 8000 rows at fine resolution), which
// also keeps the 32-bit page length from overflowing: every reader and writer holds to it.
constexpr int kMaxApfPages = 65535;
constexpr int kMaxPageRows = 131072;
// The data of a page of the longest rows, a bound for a page whose rows cannot be counted.
constexpr int64_t kMaxPageBytes = static_cast<int64_t>(kMaxPageRows) * (2 + kApfMaxRecordBytes);
static_assert(kMaxPageBytes + 64 * 1024 < INT32_MAX, "a page of the longest rows fits the page length");

enum TApfPageFlags : uint16_t {
    kPageHighResolution = 1,
    kPageWide = 2,          // rows of 2048 pixels, else 1728
    kPageLengthPrefixed = 4 // every row a uint16 byte count and that many bytes
};

struct TApfFileHeader {
    uint8_t signature[6] = {};
    int32_t dateTime = 0;       // DOS packed date (high word) and time (low word)
    uint8_t stationId[21] = {}; // length byte, then 20 characters padded with blanks
    uint16_t pageCount = 0;
    int32_t page1Offset = 0;

    void Encode(uint8_t out[kApfFileHeaderSize]) const;
    static TApfFileHeader Decode(const uint8_t in[kApfFileHeaderSize]);
    void SetSignature();
    void SetStationId(const std::string& id); // at most 20 characters kept
    std::string StationId() const;
};

struct TApfPageHeader {
    int32_t length = 0; // data bytes behind the page header
    uint16_t flags = 0;

    void Encode(uint8_t out[kApfPageHeaderSize]) const;
    static TApfPageHeader Decode(const uint8_t in[kApfPageHeaderSize]);
};

// DOS packed date and time of a local time; 0 when the year lies outside 1980..2099.
int32_t DosDateTime(std::time_t t);

bool CheckApfSignature(const uint8_t* buffer64);
bool IsApfFile(const std::string& fileName);
// 0, -2 for an empty name, the negated I/O code, or -8001 for a wrong signature.
int ReadApfHeader(const std::string& fileName, TApfFileHeader& header);
// Page N's header (1-based); N = 0 checks the file header only. -8001 also when N is past the count.
int ReadApfPageHeader(const std::string& fileName, unsigned page, TApfPageHeader& header);

// Reads the page header at `offset` of an open fax file, leaving `f` at the page's data.
int ReadApfPageHeaderAt(TInFile& f, int64_t offset, TApfPageHeader& pageHeader);
// Opens `fileName`, checks its header and walks to page N (1-based; 0 stops after the file header),
// leaving `f` at the page's data.
int OpenApfPage(TInFile& f, const std::string& fileName, unsigned page, TApfFileHeader& fileHeader,
                TApfPageHeader& pageHeader);
// OpenApfPage for a reader that comes back to the same file: the offsets of the pages walked so far
// are kept while the file stays the same (device, inode, size and modification time), so that
// page N of a long fax costs one header read however far into the file it lies.
class TApfPageIndex {
public:
    int OpenPage(TInFile& f, const std::string& fileName, unsigned page, TApfFileHeader& fileHeader,
                 TApfPageHeader& pageHeader);

private:
    std::string fileName_;
    TInFile::TIdentity identity_;
    TApfFileHeader fileHeader_;
    std::vector<int64_t> offsets_; // offsets_[n - 1]: where page n's header lies
};
// Reads the data of a page whose header was just read from `f`: the records with their counts
// stripped (each capped at 4096 bytes and at the bytes left in the page), or the plain stream.
// Returns 0, or -8001 when the file ends inside the page (what was read until then is kept in
// `data`), or a negative I/O code. `bytesRead` counts the page bytes consumed.
int ReadApfPageData(TInFile& f, const TApfPageHeader& header, std::vector<uint8_t>& data, int& bytesRead);
// The same, piece by piece as it is read (a record, or up to 4096 bytes of a plain stream): `sink`
// gets each piece and returns false to stop reading. `bytesRead` is up to date at every piece.
using TApfDataSink = std::function<bool(const uint8_t* data, size_t size)>;
int ReadApfPageData(TInFile& f, const TApfPageHeader& header, const TApfDataSink& sink, int& bytesRead);
// Page N's header and its coded rows as one MH stream (page 0 = page 1).
int ReadApfPage(const std::string& fileName, unsigned page, TApfPageHeader& header, std::vector<uint8_t>& data);

} // namespace zn::faxdoc
