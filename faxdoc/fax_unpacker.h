// TFxFaxUnpacker: the component face of the unpacker engine. Every operation builds the engine
// anew from the properties; failures surface as the library's exceptions (CheckErrorCode).
#pragma once

#include "comms/base/fx_misc.h"
#include "faxdoc/unpacker.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zn::faxdoc {

enum TUnpackerOption { uoYield, uoAbort };
using TUnpackerOptionsSet = uint32_t; // bit n for option n
constexpr TUnpackerOptionsSet UnpackOption(TUnpackerOption o) { return 1u << o; }
enum TAutoScaleMode { asNone, asDoubleHeight, asHalfWidth };

class TFxCustomFaxUnpacker : public comms::TFxBaseComponent {
public:
    // (Sender, Starting, Ending, Data, Len, PageNum)
    using TUnpackOutputLineEvent =
        std::function<void(TFxCustomFaxUnpacker&, bool starting, bool ending, const uint8_t* data, int len, int page)>;
    // (Sender, FName, PageNum, BytesUnpacked, BytesToUnpack)
    using TUnpackStatusEvent =
        std::function<void(TFxCustomFaxUnpacker&, const std::string& name, int page, int done, int total)>;

    TFxCustomFaxUnpacker() = default;
    ~TFxCustomFaxUnpacker() override = default;

    TUnpackerOptionsSet Options() const { return options_; }
    void SetOptions(TUnpackerOptionsSet options);
    bool WhitespaceCompression() const { return whitespaceCompression_; }
    void SetWhitespaceCompression(bool on) { whitespaceCompression_ = on; }
    uint32_t WhitespaceFrom() const { return whitespaceFrom_; }
    void SetWhitespaceFrom(uint32_t n) { whitespaceFrom_ = n; }
    uint32_t WhitespaceTo() const { return whitespaceTo_; }
    void SetWhitespaceTo(uint32_t n) { whitespaceTo_ = n; }
    bool Scaling() const { return scaling_; }
    void SetScaling(bool on) { scaling_ = on; }
    uint32_t HorizMult() const { return horizMult_; }
    void SetHorizMult(uint32_t v)
    {
        if (v)
            horizMult_ = v;
    }
    uint32_t HorizDiv() const { return horizDiv_; }
    void SetHorizDiv(uint32_t v)
    {
        if (v)
            horizDiv_ = v;
    }
    uint32_t VertMult() const { return vertMult_; }
    void SetVertMult(uint32_t v)
    {
        if (v)
            vertMult_ = v;
    }
    uint32_t VertDiv() const { return vertDiv_; }
    void SetVertDiv(uint32_t v)
    {
        if (v)
            vertDiv_ = v;
    }
    TAutoScaleMode AutoScaleMode() const { return autoScaleMode_; }
    void SetAutoScaleMode(TAutoScaleMode m) { autoScaleMode_ = m; }
    const std::string& InFileName() const { return inFileName_; }
    // Also names the output: the input without its extension (unless only the letter case changes).
    void SetInFileName(const std::string& name);
    const std::string& OutFileName() const { return outFileName_; }
    void SetOutFileName(const std::string& name) { outFileName_ = name; }

    TUnpackOutputLineEvent OnOutputLine;
    TUnpackStatusEvent OnStatus;

    void InitUnpacker();
    void DoneUnpacker() { engine_.reset(); }

    int GetNumPages();
    bool GetFaxResolution(); // page 1 in high resolution
    bool GetFaxWidth();      // page 1 of 2048 pixels
    // Page `page` as a bitmap whose rows are inverted (1 = white), as a screen bitmap holds them.
    TMonoBitmap UnpackPageToBitmap(unsigned page);
    void UnpackPageToPcx(unsigned page);
    void UnpackPageToDcx(unsigned page);
    void UnpackPageToTiff(unsigned page);

protected:
    virtual void DoOutputLine(bool starting, bool ending, const uint8_t* data, int len, int page);
    virtual void DoStatus(const std::string& name, int page, int done, int total);

private:
    std::string In() const;
    std::string Out() const;

    TUnpackerOptionsSet options_ = UnpackOption(uoYield);
    bool whitespaceCompression_ = false;
    uint32_t whitespaceFrom_ = 0;
    uint32_t whitespaceTo_ = 0;
    bool scaling_ = false;
    uint32_t horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;
    TAutoScaleMode autoScaleMode_ = asDoubleHeight;
    std::string inFileName_;
    std::string outFileName_;
    std::unique_ptr<UnpackerState> engine_;
};

class TFxFaxUnpacker : public TFxCustomFaxUnpacker {};

} // namespace zn::faxdoc
