// The small types every part of the cover pages shares: the enumerations stored in templates and
// render files, fonts and pens as templates keep them, and the values a cover is filled with.
#pragma once

#include <cstdint>
#include <string>

namespace zn::cover {

enum TShapeType { stRectangle, stSquare, stRoundRect, stRoundSquare, stEllipse, stCircle };
enum TShapeFillType { sftTransparent, sftFilledWhite, sftFilledBlack };
enum TLineStyle { stHorizontal, stVertical, stAngleSlopingUp, stAngleSlopingDown };
enum TCoverFieldType {
    cfDate,
    cfTime,
    cfRegarding,
    cfRecipient,
    cfRecipientFax,
    cfSender,
    cfSenderCompany,
    cfSenderFax,
    cfSenderVoice
};
// In render files: 0 left, 1 right, 2 centred.
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TBorderStyle { bsNone, bsSingle };

// Colours as templates store them: 0x00BBGGRR, or a system colour (0x80000000 | index).
constexpr uint32_t clBlack = 0x000000;
constexpr uint32_t clWhite = 0xFFFFFF;
constexpr uint32_t clWindowText = 0x80000008;

// The screen's pixels per inch: fixed, so that a template renders the same on every machine.
constexpr int kScreenPixelsPerInch = 96;

struct TFontSpec {
    std::string name = "Arial";
    int height = -13; // negative: the character height in pixels at 96 ppi (10 points)
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    uint32_t color = clBlack;
    std::string charset = "DEFAULT_CHARSET";

    // Points from the pixel height, rounded as the platform's MulDiv rounds.
    int Size() const;
    void SetSize(int points);
    bool operator==(const TFontSpec& o) const
    {
        return name == o.name && height == o.height && bold == o.bold && italic == o.italic && underline == o.underline
               && strikeOut == o.strikeOut && color == o.color && charset == o.charset;
    }
};

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };

struct TPenSpec {
    int width = 1;
    uint32_t color = clBlack;
    TPenStyle style = psSolid;
    bool operator==(const TPenSpec& o) const { return width == o.width && color == o.color && style == o.style; }
};

// What a cover is filled with: field type N of a field item selects string N.
struct TCoverValues {
    std::string Date;
    std::string Time;
    std::string Regarding;
    std::string Recipient;
    std::string RecipientFax;
    std::string Sender;
    std::string SenderCompany;
    std::string SenderFax;
    std::string SenderVoice;
    bool Urgent = false;
    bool ForReview = false;
    bool PleaseComment = false;
    bool PleaseReply = false;
    bool PleaseRecycle = false;

    // The string of field type `type` (0..8); nullptr for any other type.
    const std::string* Field(int type) const;
    std::string* Field(int type);
    // The five flags in the order of the importance line.
    bool Flag(int index) const;
    // Field and flag names as the check tool takes them ("Recipient", "Urgent").
    static int FieldIndex(const std::string& name);
    static int FlagIndex(const std::string& name);
    void SetFlag(int index, bool value);
};

} // namespace zn::cover
