// The fax engine's own reads and writes of fax image files: pages to send are read row record by row
// record; received pages are written behind a file header the receiver keeps up to date.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "fax_engine.h"
#include "platform/file_replacement.h"

namespace zn::comms {

// DOS packed date and time of this moment (date in the high word); 0 outside 1980..2099.
int32_t DosDateTimeNow();

// Opens a fax file for reading; the name gets "." + ext when it has none. 0, a negative I/O
// result, or -8001 when the signature is wrong. The file header is kept in the record.
int ApfOpenForReading(TFaxModemRec& m, const std::string& name, const std::string& ext);
uint16_t ApfPageCount(const TFaxModemRec& m);
// Positions the file at page n's header and reads it into the record: -100 for a page outside
// 1..page count, a negative I/O result, -8001 for a page past the end of the file.
int ApfSeekPage(TFaxModemRec& m, int n);
int32_t ApfPageBodyLength(const TFaxModemRec& m);
uint16_t ApfPageFlags(const TFaxModemRec& m);
// A length-prefixed row record (length capped at 4096), zero-padded to minRow bytes; the bytes
// consumed from the file (2 + length) are returned through fileBytes. Negative on a read error.
int ApfReadRowRecord(TFaxModemRec& m, std::vector<uint8_t>& row, int32_t minRow, int32_t& fileBytes);
// Up to max bytes of a page body without length words. Negative on a read error.
int ApfReadBlock(TFaxModemRec& m, std::vector<uint8_t>& out, int32_t max);
void ApfClose(TFaxModemRec& m);
// Decodes every page of the open file and compares its rows with its width flag: a page flagged
// 2048 pixels wide whose rows are 1728 (or the other way round) would reach the far end under a
// width it does not have. 0 when every row with black in it is as wide as its page's flag says,
// -8001 when not, a negative I/O result on a read error. The file is left at page 1.
int ApfCheckRowWidths(TFaxModemRec& m);

// Receiving: creates the file with a fresh header (page count 0, page 1 at 64), its name on disk.
int ApfCreate(TFaxModemRec& m, const std::string& name, const std::string& stationId);
// The same into the temporary of a file that must not exist yet: the fax takes the file's name
// only at its commit.
int ApfCreate(TFaxModemRec& m, platform::FileReplacement& file, const std::string& stationId);
// Puts what was written on disk under the file's own name, never over an existing file (then the
// error, and the temporary is gone); the stream stays open.
int ApfCommit(TFaxModemRec& m, platform::FileReplacement& file);
// Puts what was written on disk, with the file's entry in its folder (before a fax is recorded or
// reported as received).
int ApfSync(TFaxModemRec& m);
// Appends a zeroed page header with the resolution flags at the end of the file.
int ApfAppendPageHeader(TFaxModemRec& m, bool fine, bool wide);
int ApfWriteBytes(TFaxModemRec& m, const uint8_t* data, size_t n);
// Counts the page and writes its length and the file header, and puts the page on disk (before it
// is confirmed to the sender); the position is kept.
int ApfFinishPage(TFaxModemRec& m, const std::string& remoteId, int32_t pageLength);
// Removes the current (unfinished) page: cuts the file back to its page header.
int ApfCutPage(TFaxModemRec& m);

} // namespace zn::comms
