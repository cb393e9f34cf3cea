// TFxFaxConverter: the component face of the converter engine. Failures surface as the library's
// exceptions (CheckErrorCode); file names are found without regard to letter case.
#pragma once

#include "comms/base/fx_misc.h"
#include "faxdoc/converter.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zn::faxdoc {

enum TFaxInputDocumentType { idNone, idText, idTextEx, idTiff, idPcx, idDcx, idBmp, idBitmap, idUser };
enum TFaxCvtOption { coDoubleWidth, coHalfHeight, coCenterImage, coYield, coYieldOften };
// A set of TFaxCvtOption: bit n stands for option n (the engine's flag bits).
using TFaxCvtOptionsSet = uint32_t;
constexpr TFaxCvtOptionsSet CvtOption(TFaxCvtOption o) { return 1u << o; }
enum TFaxResolution { frNormal, frHigh };
enum TFaxWidth { fwNormal, fwWide };
enum TFaxFont { ffStandard, ffSmall };

// The font of the enhanced-text converter (idTextEx).
struct TFaxTextFont {
    std::string name = "Courier New";
    int size = 10; // points
    bool bold = false;
    bool italic = false;
};

class TFxCustomFaxConverter : public comms::TFxBaseComponent {
public:
    // (Sender, Starting, Ending, PagesConverted, LinesConverted, BytesConverted, BytesToConvert, Abort)
    using TFaxStatusEvent = std::function<void(TFxCustomFaxConverter&, bool starting, bool ending, int pages, int lines,
                                               int64_t bytes, int64_t bytesTotal, bool& abort)>;
    using TFaxOutputLineEvent =
        std::function<void(TFxCustomFaxConverter&, const uint8_t* data, int len, bool endOfPage, bool morePages)>;
    using TFaxOpenFileEvent = std::function<void(TFxCustomFaxConverter&, const std::string& name)>;
    using TFaxCloseFileEvent = std::function<void(TFxCustomFaxConverter&)>;
    using TFaxReadLineEvent =
        std::function<void(TFxCustomFaxConverter&, uint8_t* data, int& len, bool& endOfPage, bool& morePages)>;

    TFxCustomFaxConverter();
    ~TFxCustomFaxConverter() override;

    TFaxInputDocumentType InputDocumentType() const { return inputDocumentType_; }
    void SetInputDocumentType(TFaxInputDocumentType t) { inputDocumentType_ = t; }
    TFaxCvtOptionsSet Options() const { return options_; }
    void SetOptions(TFaxCvtOptionsSet options); // coYieldOften brings coYield with it
    TFaxResolution Resolution() const { return resolution_; }
    void SetResolution(TFaxResolution r) { resolution_ = r; }
    TFaxWidth Width() const { return width_; }
    void SetWidth(TFaxWidth w) { width_ = w; }
    uint32_t TopMargin() const { return topMargin_; }
    void SetTopMargin(uint32_t m) { topMargin_ = m; }
    uint32_t LeftMargin() const { return leftMargin_; }
    void SetLeftMargin(uint32_t m) { leftMargin_ = m; }
    uint32_t LinesPerPage() const { return linesPerPage_; }
    void SetLinesPerPage(uint32_t n) { linesPerPage_ = n; }
    uint32_t TabStop() const { return tabStop_; }
    void SetTabStop(uint32_t n) { tabStop_ = n; }
    const TFaxTextFont& EnhFont() const { return enhFont_; }
    void SetEnhFont(const TFaxTextFont& font) { enhFont_ = font; }
    const std::string& FontFile() const { return fontFile_; }
    void SetFontFile(const std::string& name) { fontFile_ = name; }
    TFaxFont FontType() const { return fontType_; }
    void SetFontType(TFaxFont f) { fontType_ = f; }
    const std::string& DocumentFile() const { return documentFile_; }
    void SetDocumentFile(const std::string& name); // also names the output: the same with ".APF"
    const std::string& OutFileName() const { return outFileName_; }
    void SetOutFileName(const std::string& name) { outFileName_ = name; }
    const std::string& DefUserExtension() const { return defUserExtension_; }
    void SetDefUserExtension(const std::string& ext) { defUserExtension_ = ext; }
    const std::string& StationId() const { return stationId_; }
    void SetStationId(const std::string& id) { stationId_ = id; }

    TFaxStatusEvent OnStatus;
    TFaxOutputLineEvent OnOutputLine;
    TFaxOpenFileEvent OnOpenUserFile;
    TFaxCloseFileEvent OnCloseUserFile;
    TFaxReadLineEvent OnReadUserLine;

    // Creates the engine for InputDocumentType (closing an open one first) and sets it up.
    void OpenConverter();
    void CloseConverter();
    bool IsOpen() const { return state_ != nullptr; }
    // The open engine, for callers that render rows themselves; nullptr when closed.
    ConverterState* Engine() { return state_.get(); }
    // Converts DocumentFile into OutFileName with the open reader.
    void ConvertToFile();
    // Converts a bitmap into OutFileName (InputDocumentType is idBitmap meanwhile).
    void ConvertBitmapToFile(const TSourceBitmap& bitmap);

protected:
    virtual bool DoStatus(bool starting, bool ending, int pages, int lines, int64_t bytes, int64_t bytesTotal);
    virtual void DoOutputLine(const uint8_t* data, int len, bool endOfPage, bool morePages);
    virtual int DoOpenUserFile(const std::string& name);
    virtual void DoCloseUserFile();
    virtual int DoReadUserLine(uint8_t* data, int& len, bool& endOfPage, bool& morePages);

private:
    int Open();
    int Convert(const std::string& in, const std::string& out);

    TFaxInputDocumentType inputDocumentType_ = idNone;
    TFaxCvtOptionsSet options_ = CvtOption(coDoubleWidth) | CvtOption(coCenterImage) | CvtOption(coYield);
    TFaxResolution resolution_ = frNormal;
    TFaxWidth width_ = fwNormal;
    uint32_t topMargin_ = 0;
    uint32_t leftMargin_ = 50;
    uint32_t linesPerPage_ = 60;
    uint32_t tabStop_ = 4;
    TFaxTextFont enhFont_;
    std::string fontFile_ = "APFAX.FNT";
    TFaxFont fontType_ = ffStandard;
    std::string documentFile_;
    std::string outFileName_;
    std::string defUserExtension_;
    std::string stationId_;

    std::unique_ptr<ConverterState> state_;
    TFaxInputDocumentType openedAs_ = idNone;
    TBitmapReader* bitmapReader_ = nullptr; // owned by state_
};

class TFxFaxConverter : public TFxCustomFaxConverter {};

// The enhanced-text reader draws with the toolkit's fonts; the program that wants idTextEx
// installs its maker (a reader for the font and resolution), so that the engines need no toolkit.
using TEnhTextReaderMaker =
    std::function<std::unique_ptr<TFaxReader>(const TFaxTextFont& font, bool highResolution, int lineWidth,
                                              int leftMargin, unsigned tabStop, unsigned linesPerPage, int& result)>;
void SetEnhTextReaderMaker(TEnhTextReaderMaker maker);

} // namespace zn::faxdoc
