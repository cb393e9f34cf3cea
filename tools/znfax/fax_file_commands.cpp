// convert, unpack, info and raw: the converter and unpacker engines from the command line.
#include "tools/znfax/commands.h"

#include "comms/base/exceptions.h"
#include "faxdoc/apf_file.h"
#include "faxdoc/converter.h"
#include "faxdoc/fax_errors.h"
#include "faxdoc/file_io.h"
#include "faxdoc/file_names.h"
#include "faxdoc/mh_coder.h"
#include "faxdoc/page_files.h"
#include "faxdoc/unpacker.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace zn::tools {

using namespace zn::faxdoc;

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string ExtensionOf(const std::string& name)
{
    if (!HasExtension(name))
        return {};
    return Lower(name.substr(name.find_last_of('.') + 1));
}

bool ParseNumber(const std::string& text, long& out)
{
    char* end = nullptr;
    out = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == 0;
}

// Splits options ("--name" or "--name VALUE") from operands.
struct TParsed {
    bool ok = true;
    std::string error;
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;
};

TParsed Parse(const TArgs& args, const std::vector<std::string>& flags, const std::vector<std::string>& valued)
{
    TParsed p;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            if (std::find(flags.begin(), flags.end(), a) != flags.end()) {
                p.options.emplace_back(a, "");
            } else if (std::find(valued.begin(), valued.end(), a) != valued.end() && i + 1 < args.size()) {
                p.options.emplace_back(a, args[++i]);
            } else {
                p.ok = false;
                p.error = "unknown or incomplete option " + a;
                return p;
            }
        } else {
            p.operands.push_back(a);
        }
    }
    return p;
}

// An engine failure, reported with the file it concerns: the one the engine names (the output for
// a failed write), else the input.
int ReportFileError(int code, const std::string& input)
{
    return ReportError(code, FailedFileName().empty() ? input : FailedFileName());
}

// Writing the output over the input would destroy the input: refused before anything is read.
bool OutputIsInput(const std::string& input, const std::string& output)
{
    if (output.empty() || RefuseOutputOverInput(input, output) == ecOK)
        return false;
    std::fprintf(stderr, "znfax: %s: the output would replace the input file\n", output.c_str());
    return true;
}

bool PageOption(const TParsed& p, unsigned& page, std::string& error)
{
    page = 1;
    for (const auto& [name, value] : p.options)
        if (name == "--page") {
            long n = 0;
            if (!ParseNumber(value, n) || n < 1 || n > 65535) {
                error = "--page needs a page number from 1";
                return false;
            }
            page = static_cast<unsigned>(n);
        }
    return true;
}

int Convert(const TArgs& args)
{
    const TParsed p = Parse(args, {"--fine", "--normal", "--no-center", "--no-double"}, {"--margin"});
    if (!p.ok)
        return UsageError(p.error);
    if (p.operands.empty() || p.operands.size() > 2)
        return UsageError("convert needs INPUT and may take OUTPUT.APF");
    bool fine = false, center = true, doubleWidth = true;
    long margin = 50;
    for (const auto& [name, value] : p.options) {
        if (name == "--fine")
            fine = true;
        else if (name == "--normal")
            fine = false;
        else if (name == "--no-center")
            center = false;
        else if (name == "--no-double")
            doubleWidth = false;
        else if (name == "--margin" && (!ParseNumber(value, margin) || margin < 0 || margin > kNormalLineWidth))
            return UsageError("--margin needs a pixel count from 0 to 1728");
    }
    const std::string& input = p.operands[0];
    const std::string ext = ExtensionOf(input);
    std::unique_ptr<TFaxReader> reader;
    TTextReader* text = nullptr;
    if (ext == "tif" || ext == "tiff") {
        reader = std::make_unique<TTiffReader>();
    } else if (ext == "pcx" || ext == "dcx") {
        reader = std::make_unique<TPcxReader>(ext == "dcx");
    } else if (ext == "bmp") {
        reader = std::make_unique<TBitmapReader>(true);
    } else {
        auto t = std::make_unique<TTextReader>();
        text = t.get();
        reader = std::move(t);
    }
    ConverterState state(std::move(reader));
    if (text) {
        text->SetTabStop(4);
        text->SetLinesPerPage(60);
        if (int rc = text->LoadFaxFont("APFAX.FNT", 48, fine); rc < 0)
            return ReportError(rc);
    }
    state.SetMargins(static_cast<int>(margin), 0);
    state.SetResolution(fine);
    if (!center)
        state.ClearFlags(kCvtCenterImage);
    if (!doubleWidth)
        state.ClearFlags(kCvtDoubleWidth);
    const std::string output = p.operands.size() > 1 ? p.operands[1] : std::string();
    if (OutputIsInput(input, output))
        return kExitFailed;
    ClearFailedFileName();
    if (int rc = state.ConvertFile(input, output); rc < 0)
        return ReportFileError(rc, input);
    return kExitOk;
}

int Unpack(const TArgs& args)
{
    const TParsed p = Parse(args, {}, {"--page"});
    if (!p.ok)
        return UsageError(p.error);
    if (p.operands.size() != 2)
        return UsageError("unpack needs INPUT.APF and OUTPUT.bmp|.pcx|.dcx|.tif");
    unsigned page = 1;
    std::string error;
    if (!PageOption(p, page, error))
        return UsageError(error);
    const std::string& in = p.operands[0];
    const std::string& out = p.operands[1];
    const std::string ext = ExtensionOf(out);
    if (OutputIsInput(in, out))
        return kExitFailed;
    ClearFailedFileName();
    UnpackerState unpacker;
    int rc;
    if (ext == "bmp")
        rc = unpacker.UnpackPageToBmp(in, out, page);
    else if (ext == "pcx")
        rc = unpacker.UnpackPageToPcx(in, out, page);
    else if (ext == "dcx")
        rc = unpacker.UnpackPageToDcx(in, out, page);
    else if (ext == "tif" || ext == "tiff")
        rc = unpacker.UnpackPageToTiff(in, out, page);
    else
        return UsageError("the output's extension must be .bmp, .pcx, .dcx or .tif");
    return rc < 0 ? ReportFileError(rc, in) : kExitOk;
}

std::string FlagText(uint16_t flags)
{
    std::string s = (flags & kPageHighResolution) ? "high resolution" : "normal resolution";
    s += (flags & kPageWide) ? ", 2048 pixels" : ", 1728 pixels";
    s += (flags & kPageLengthPrefixed) ? ", length-prefixed rows" : ", continuous stream";
    return s;
}

int Info(const TArgs& args)
{
    const TParsed p = Parse(args, {}, {});
    if (!p.ok)
        return UsageError(p.error);
    if (p.operands.size() != 1)
        return UsageError("info needs FILE.APF");
    const std::string& name = p.operands[0];
    TApfFileHeader h;
    if (int rc = ReadApfHeader(name, h); rc < 0)
        return ReportError(rc, name);
    const uint32_t dt = static_cast<uint32_t>(h.dateTime);
    std::printf("file: %s\n", name.c_str());
    if (dt == 0) {
        std::printf("date: none\n");
    } else {
        const uint32_t date = dt >> 16, time = dt & 0xFFFF;
        std::printf("date: %04u-%02u-%02u %02u:%02u:%02u\n", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                    time >> 11, (time >> 5) & 63, (time & 31) * 2);
    }
    std::printf("station id: \"%s\"\n", h.StationId().c_str());
    std::printf("pages: %u\n", h.pageCount);
    std::printf("page 1 offset: %d\n", h.page1Offset);
    // One walk through the file: each page is decoded where its header leaves the file.
    TInFile f;
    if (int rc = f.Open(name); rc < 0)
        return ReportError(rc, name);
    int rows = 0, width = 0;
    UnpackerState unpacker([&](UnpackerState&, int kind, const uint8_t*, int, int len) {
        if (kind == kOutputRow) {
            ++rows;
            width = std::max(width, len * 8);
        }
        return 0;
    });
    int64_t offset = h.page1Offset;
    for (unsigned page = 1; page <= h.pageCount; ++page) {
        TApfPageHeader ph;
        if (int rc = ReadApfPageHeaderAt(f, offset, ph); rc < 0)
            return ReportError(rc, name);
        offset += kApfPageHeaderSize + static_cast<int64_t>(ph.length);
        rows = width = 0;
        const int rc = unpacker.UnpackPageAt(f, name, page, h, ph);
        std::printf("page %u: length %d, flags 0x%04X (%s), rows %d, width %d, bad codes %d%s\n", page, ph.length,
                    ph.flags, FlagText(ph.flags).c_str(), rows, width, unpacker.BadCodes(),
                    rc < 0 ? ", truncated" : "");
    }
    return kExitOk;
}

int Raw(const TArgs& args)
{
    const TParsed p = Parse(args, {}, {"--page"});
    if (!p.ok)
        return UsageError(p.error);
    if (p.operands.size() != 2)
        return UsageError("raw needs FILE.APF and OUTPUT.g3");
    unsigned page = 1;
    std::string error;
    if (!PageOption(p, page, error))
        return UsageError(error);
    if (OutputIsInput(p.operands[0], p.operands[1]))
        return kExitFailed;
    // The page's data goes to the output as it is read.
    TInFile in;
    TApfFileHeader fileHeader;
    TApfPageHeader header;
    if (int rc = OpenApfPage(in, p.operands[0], page, fileHeader, header); rc < 0)
        return ReportError(rc, p.operands[0]);
    TBufferedWriter out;
    if (int rc = out.Create(p.operands[1]); rc < 0)
        return ReportError(rc, p.operands[1]);
    int written = ecOK, bytesRead = 0;
    const int rc = ReadApfPageData(
        in, header, [&](const uint8_t* piece, size_t size) { return (written = out.Write(piece, size)) >= 0; },
        bytesRead);
    if (written < 0)
        return ReportError(written, p.operands[1]);
    if (rc < 0)
        return ReportError(rc, p.operands[0]);
    if (int close = out.Close(); close < 0)
        return ReportError(close, p.operands[1]);
    return kExitOk;
}

} // namespace

const TCommand kFaxFileCommands[] = {
    {"convert", "[--fine|--normal] [--margin N] [--no-center] [--no-double] INPUT [OUTPUT.APF]", Convert},
    {"unpack", "[--page N] INPUT.APF OUTPUT.bmp|.pcx|.dcx|.tif", Unpack},
    {"info", "FILE.APF", Info},
    {"raw", "[--page N] FILE.APF OUTPUT.g3", Raw},
};
const size_t kFaxFileCommandCount = sizeof kFaxFileCommands / sizeof kFaxFileCommands[0];

int ReportError(int code, const std::string& context)
{
    if (context.empty())
        std::fprintf(stderr, "znfax: error %d: %s\n", code, comms::LookupErrorText(code).c_str());
    else
        std::fprintf(stderr, "znfax: %s: error %d: %s\n", context.c_str(), code, comms::LookupErrorText(code).c_str());
    return kExitFailed;
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "znfax: %s\n", message.c_str());
    return kExitUsage;
}

} // namespace zn::tools
