#include "faxdoc/fax_unpacker.h"

#include "comms/base/exceptions.h"
#include "faxdoc/fax_errors.h"
#include "faxdoc/file_names.h"
#include "platform/folders.h"

#include <strings.h>

namespace zn::faxdoc {

namespace {

// One message of the thread's queue; a quit request ends the page (-1003) and stays pending.
int PumpMessages() { return comms::PumpOneMessage() == comms::QuitMessage ? ecGotQuitMsg : ecOK; }

} // namespace

void TFxCustomFaxUnpacker::SetOptions(TUnpackerOptionsSet options)
{
    options_ = options;
    if (!engine_)
        return;
    if (options & UnpackOption(uoYield))
        engine_->SetUnpackerFlags(kUnpackYield);
    else
        engine_->ClearUnpackerFlags(kUnpackYield);
    // Clearing uoAbort does not take back an abort already asked for.
    if (options & UnpackOption(uoAbort))
        engine_->SetUnpackerFlags(kUnpackAbort);
}

void TFxCustomFaxUnpacker::SetInFileName(const std::string& name)
{
    if (strcasecmp(name.c_str(), inFileName_.c_str()) == 0) {
        inFileName_ = name;
        return;
    }
    inFileName_ = name;
    const std::string withExt = ForceExtension(name, "X");
    outFileName_ = HasExtension(name) ? withExt.substr(0, withExt.size() - 2) : name;
}

std::string TFxCustomFaxUnpacker::In() const
{
    return inFileName_.empty() ? inFileName_ : platform::ResolvePath(inFileName_);
}

std::string TFxCustomFaxUnpacker::Out() const
{
    return outFileName_.empty() ? outFileName_ : platform::ResolvePath(outFileName_);
}

void TFxCustomFaxUnpacker::InitUnpacker()
{
    engine_ = std::make_unique<UnpackerState>([this](UnpackerState&, int kind, const uint8_t* row, int page, int len) {
        DoOutputLine(kind == kOutputStart, kind == kOutputEnd, row, len, page);
        return 0;
    });
    engine_->SetYield(PumpMessages);
    engine_->SetStatus([this](UnpackerState&, const std::string& name, int page, int done, int total) {
        DoStatus(name, page, done, total);
    });
    if (options_ & UnpackOption(uoYield))
        engine_->SetUnpackerFlags(kUnpackYield);
    if (autoScaleMode_ == asDoubleHeight)
        engine_->SetUnpackerFlags(kUnpackDoubleHeight);
    else if (autoScaleMode_ == asHalfWidth)
        engine_->SetUnpackerFlags(kUnpackHalfWidth);
    if (whitespaceCompression_)
        comms::CheckErrorCode(this, engine_->SetWhitespaceCompression(whitespaceFrom_, whitespaceTo_));
    if (scaling_)
        engine_->SetUnpackerScaling(horizMult_, horizDiv_, vertMult_, vertDiv_);
}

int TFxCustomFaxUnpacker::GetNumPages()
{
    InitUnpacker();
    TApfFileHeader h;
    comms::CheckErrorCode(this, ReadApfHeader(In(), h));
    return h.pageCount;
}

bool TFxCustomFaxUnpacker::GetFaxResolution()
{
    InitUnpacker();
    TApfPageHeader h;
    comms::CheckErrorCode(this, ReadApfPageHeader(In(), 1, h));
    return h.flags & kPageHighResolution;
}

bool TFxCustomFaxUnpacker::GetFaxWidth()
{
    InitUnpacker();
    TApfPageHeader h;
    comms::CheckErrorCode(this, ReadApfPageHeader(In(), 1, h));
    return h.flags & kPageWide;
}

TMonoBitmap TFxCustomFaxUnpacker::UnpackPageToBitmap(unsigned page)
{
    InitUnpacker();
    TMonoBitmap bm;
    comms::CheckErrorCode(this, engine_->UnpackPageToMemBitmap(In(), page, true, bm));
    return bm;
}

void TFxCustomFaxUnpacker::UnpackPageToPcx(unsigned page)
{
    InitUnpacker();
    comms::CheckErrorCode(this, engine_->UnpackPageToPcx(In(), Out(), page));
}

void TFxCustomFaxUnpacker::UnpackPageToDcx(unsigned page)
{
    InitUnpacker();
    comms::CheckErrorCode(this, engine_->UnpackPageToDcx(In(), Out(), page));
}

void TFxCustomFaxUnpacker::UnpackPageToTiff(unsigned page)
{
    InitUnpacker();
    comms::CheckErrorCode(this, engine_->UnpackPageToTiff(In(), Out(), page));
}

void TFxCustomFaxUnpacker::DoOutputLine(bool starting, bool ending, const uint8_t* data, int len, int page)
{
    if (OnOutputLine)
        OnOutputLine(*this, starting, ending, data, len, page);
}

void TFxCustomFaxUnpacker::DoStatus(const std::string& name, int page, int done, int total)
{
    if (OnStatus)
        OnStatus(*this, name, page, done, total);
}

} // namespace zn::faxdoc
