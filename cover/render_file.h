// The render file (.FCT): every item of a template in a flat form that draws without the item
// classes. A sequence of records, each a list: kind, geometry (twice the design size), the kind's
// body. Plain C++: reading and writing records needs no toolkit.
#pragma once

#include "cover/component_stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zn::cover {

enum TRenderKind {
    rkLabel = 0,
    rkSymbol = 1,
    rkShape = 2,
    rkLine = 3,
    rkImportance = 4,
    rkField = 5,
    rkMessage = 6,
    rkImage = 7,
    rkMultiLine = 8,
};

struct TRenderRecord {
    int kind = rkLabel;
    int left = 0, top = 0, width = 0, height = 0; // as stored: twice the design pixels
    // Kinds 0..6 (slots a..l) and the font of kind 8; -1 where a kind does not use a slot.
    std::string caption;
    std::string fontName;
    int fontSize = -1; // as stored: points x 2 at 96 ppi
    bool bold = false, italic = false, underline = false;
    int shape = -1, fill = -1, penWidth = -1, lineStyle = -1, roundPerc = -1, fieldType = -1;
    // Kind 8.
    int alignment = 0;
    bool wordWrap = false;
    // Kind 7: a complete .BMP file; kind 8: the lines, each ended by CR LF.
    std::vector<uint8_t> block;
};

void WriteRenderRecord(TValueWriter& w, const TRenderRecord& record);
// Reads the next record; a record of an unknown kind ends after its geometry (its list end must
// follow). Throws TStreamError on anything that is not a whole record.
TRenderRecord ReadRenderRecord(TValueReader& r);

// The lines of a kind-8 block: split at CR LF (a lone CR or LF ends a line too); the last line
// needs no line end.
std::vector<std::string> SplitBlockLines(const std::vector<uint8_t>& block);
std::vector<uint8_t> JoinBlockLines(const std::vector<std::string>& lines);

} // namespace zn::cover
