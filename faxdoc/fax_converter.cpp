#include "faxdoc/fax_converter.h"

#include "comms/base/exceptions.h"
#include "faxdoc/fax_errors.h"
#include "faxdoc/file_names.h"
#include "platform/folders.h"

namespace zn::faxdoc {
namespace {

TEnhTextReaderMaker& EnhTextReaderMaker()
{
    static TEnhTextReaderMaker maker;
    return maker;
}

// One message of the thread's queue; a quit request ends the work (-1003) and stays pending.
int PumpMessages() { return comms::PumpOneMessage() == comms::QuitMessage ? ecGotQuitMsg : ecOK; }

// A name as given, or the existing file it stands for in another letter case.
std::string Resolved(const std::string& name) { return name.empty() ? name : platform::ResolvePath(name); }

} // namespace

void SetEnhTextReaderMaker(TEnhTextReaderMaker maker) { EnhTextReaderMaker() = std::move(maker); }

TFxCustomFaxConverter::TFxCustomFaxConverter() = default;

TFxCustomFaxConverter::~TFxCustomFaxConverter() { CloseConverter(); }

void TFxCustomFaxConverter::SetOptions(TFaxCvtOptionsSet options)
{
    if (options & CvtOption(coYieldOften))
        options |= CvtOption(coYield);
    options_ = options;
}

void TFxCustomFaxConverter::SetDocumentFile(const std::string& name)
{
    if (name == documentFile_)
        return;
    documentFile_ = name;
    if (!Loading())
        outFileName_ = ForceExtension(name, "APF");
}

int TFxCustomFaxConverter::Open()
{
    CloseConverter();
    std::unique_ptr<TFaxReader> reader;
    TTextReader* text = nullptr;
    int result = ecOK;
    switch (inputDocumentType_) {
    case idText: {
        auto r = std::make_unique<TTextReader>();
        text = r.get();
        reader = std::move(r);
        break;
    }
    case idTextEx:
        if (!EnhTextReaderMaker())
            return ecFontFileNotFound;
        reader =
            EnhTextReaderMaker()(enhFont_, resolution_ == frHigh, width_ == fwWide ? kWideLineWidth : kNormalLineWidth,
                                 static_cast<int>(leftMargin_), tabStop_, linesPerPage_, result);
        if (result < 0)
            return result;
        break;
    case idTiff: reader = std::make_unique<TTiffReader>(); break;
    case idPcx: reader = std::make_unique<TPcxReader>(false); break;
    case idDcx: reader = std::make_unique<TPcxReader>(true); break;
    case idBmp: reader = std::make_unique<TBitmapReader>(true); break;
    case idBitmap: {
        auto r = std::make_unique<TBitmapReader>(false);
        bitmapReader_ = r.get();
        reader = std::move(r);
        break;
    }
    case idUser:
        reader = std::make_unique<TUserReader>(
            defUserExtension_, [this](const std::string& name) { return DoOpenUserFile(name); },
            [this](uint8_t* raster, int& bytes, bool& endOfPage, bool& morePages) {
                return DoReadUserLine(raster, bytes, endOfPage, morePages);
            },
            [this] { DoCloseUserFile(); });
        break;
    case idNone: return ecBadArgument;
    }
    state_ = std::make_unique<ConverterState>(std::move(reader));
    openedAs_ = inputDocumentType_;
    state_->ClearFlags(~0u);
    state_->SetFlags(options_);
    state_->SetMargins(static_cast<int>(leftMargin_), topMargin_);
    state_->SetResolution(resolution_ == frHigh);
    state_->SetWidth(width_ == fwWide ? 2 : 1);
    state_->SetStationId(stationId_);
    state_->SetStatusProc([this](ConverterState& s, int kind) {
        return DoStatus(kind == kStatusStart, kind == kStatusEnd, static_cast<int>(s.PageNumber()),
                        static_cast<int>(s.LineNumber()), s.bytesRead, s.bytesTotal);
    });
    state_->SetYieldProc(PumpMessages);
    if (text) {
        text->SetTabStop(tabStop_);
        text->SetLinesPerPage(linesPerPage_);
        result = text->LoadFaxFont(fontFile_, fontType_ == ffSmall ? 16 : 48, resolution_ == frHigh);
    }
    return result;
}

void TFxCustomFaxConverter::OpenConverter()
{
    const int rc = Open();
    if (rc < 0)
        CloseConverter();
    comms::CheckErrorCode(this, rc);
}

void TFxCustomFaxConverter::CloseConverter()
{
    state_.reset();
    bitmapReader_ = nullptr;
    openedAs_ = idNone;
}

int TFxCustomFaxConverter::Convert(const std::string& in, const std::string& out)
{
    return state_->ConvertFile(Resolved(in), Resolved(out));
}

void TFxCustomFaxConverter::ConvertToFile()
{
    if (!state_)
        OpenConverter();
    comms::CheckErrorCode(this, Convert(documentFile_, outFileName_));
}

void TFxCustomFaxConverter::ConvertBitmapToFile(const TSourceBitmap& bitmap)
{
    const TFaxInputDocumentType saved = inputDocumentType_;
    inputDocumentType_ = idBitmap;
    int rc = Open();
    if (rc >= 0) {
        bitmapReader_->SetBitmap(&bitmap);
        rc = Convert(documentFile_, outFileName_);
    }
    CloseConverter();
    inputDocumentType_ = saved;
    comms::CheckErrorCode(this, rc);
}

bool TFxCustomFaxConverter::DoStatus(bool starting, bool ending, int pages, int lines, int64_t bytes,
                                     int64_t bytesTotal)
{
    bool abort = false;
    if (OnStatus)
        OnStatus(*this, starting, ending, pages, lines, bytes, bytesTotal, abort);
    return abort;
}

void TFxCustomFaxConverter::DoOutputLine(const uint8_t* data, int len, bool endOfPage, bool morePages)
{
    if (OnOutputLine)
        OnOutputLine(*this, data, len, endOfPage, morePages);
}

int TFxCustomFaxConverter::DoOpenUserFile(const std::string& name)
{
    if (OnOpenUserFile)
        OnOpenUserFile(*this, name);
    return ecOK;
}

void TFxCustomFaxConverter::DoCloseUserFile()
{
    if (OnCloseUserFile)
        OnCloseUserFile(*this);
}

int TFxCustomFaxConverter::DoReadUserLine(uint8_t* data, int& len, bool& endOfPage, bool& morePages)
{
    if (!OnReadUserLine) {
        endOfPage = true;
        morePages = false;
        return ecOK;
    }
    OnReadUserLine(*this, data, len, endOfPage, morePages);
    return ecOK;
}

} // namespace zn::faxdoc
