#include "cover/cover_renderer.h"

#include "comms/base/error_codes.h"
#include "cover/design_filer.h"
#include "faxdoc/fax_converter.h"
#include "faxdoc/file_names.h"
#include "foundation/fax_file_names.h"
#include "platform/folders.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <optional>
#include <sys/stat.h>

namespace zn::cover {

namespace {

bool FileExists(const std::string& name)
{
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The template's render file, found without regard to letter case.
std::optional<std::string> FindRenderFile(const std::string& templateName)
{
    const std::string found = platform::ResolvePath(faxdoc::ForceExtension(templateName, "FCT"));
    if (FileExists(found))
        return found;
    return std::nullopt;
}

} // namespace

std::string RenderCoverPageToFax(const std::string& faxName, const std::string& templateName,
                                 const TCoverValues& values, const std::vector<std::string>& message)
{
    const std::optional<std::string> fct = FindRenderFile(templateName);
    if (!fct)
        throw ECoverError(comms::ecFileNotFound,
                          "the cover template " + faxdoc::ForceExtension(templateName, "FCT") + " does not exist");
    std::string outName = faxName;
    if (outName.empty()) {
        const std::optional<std::string> free = foundation::MakeUniqueSendFileName("COV");
        if (!free)
            throw ECoverError(comms::ecNoMoreFiles, "no free cover file name in the send folder");
        outName = *free;
    }
    faxdoc::TSourceBitmap page;
    {
        TMonoCanvas canvas(kFaxPageWidth, kFaxPageHeight);
        RenderCoverFile(canvas, *fct, values, message, 1);
        page.width = kFaxPageWidth;
        page.height = kFaxPageHeight;
        page.bitsPerPixel = 1;
        page.bits = canvas.Rows(page.stride);
    }
    faxdoc::TFxFaxConverter converter;
    converter.SetOptions(faxdoc::CvtOption(faxdoc::coYield));
    converter.SetResolution(faxdoc::frHigh);
    converter.SetLeftMargin(0);
    converter.SetOutFileName(outName);
    converter.ConvertBitmapToFile(page);
    return converter.OutFileName();
}

TCoverValues PreviewValues()
{
    TCoverValues v;
    const QLocale locale;
    v.Date = locale.toString(QDate::currentDate(), QLocale::LongFormat).toStdString();
    v.Time = locale.toString(QTime::currentTime(), QLocale::ShortFormat).toStdString();
    v.Regarding = "Regarding";
    v.Recipient = "Recipient Name";
    v.RecipientFax = "Recipient Fax #";
    v.Sender = "Your Name";
    v.SenderCompany = "Your Company";
    v.SenderFax = "Your Fax #";
    v.SenderVoice = "Your voice #";
    v.Urgent = true;
    return v;
}

std::vector<uint8_t> PreviewBitmap(const std::vector<uint8_t>& renderFile)
{
    TMonoCanvas canvas(kPreviewWidth, kPreviewHeight);
    const std::vector<std::string> message = {"Fax Message goes here", "Fax Message goes here",
                                              "Fax Message goes here etc..."};
    RenderCoverBytes(canvas, renderFile, PreviewValues(), message, 2);
    return canvas.BmpFile();
}

std::string RenderCoverPreview(const std::string& templateName)
{
    std::vector<uint8_t> fct;
    if (const std::optional<std::string> name = FindRenderFile(templateName)) {
        try {
            fct = ReadFileBytes(*name);
        } catch (const TStreamError&) {
        }
    }
    const std::string bmp = faxdoc::ForceExtension(templateName, "bmp");
    WriteFileAtomically(bmp, PreviewBitmap(fct));
    return bmp;
}

} // namespace zn::cover
