#include "cover/template_files.h"

#include "cover/cover_renderer.h"
#include "cover/picture.h"
#include "cover/render_file.h"
#include "faxdoc/file_names.h"
#include "platform/file_replacement.h"
#include "platform/folders.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace zn::cover {

namespace {

// The name as it exists on disk in any letter case, else as given.
std::string OnDisk(const std::string& name) { return platform::ResolvePath(name); }

int WriteAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

} // namespace

std::vector<uint8_t> RenderFileBytes(const std::vector<const TFaxGraphicControl*>& items)
{
    TValueWriter w;
    for (const TFaxGraphicControl* item : items)
        WriteRenderRecord(w, item->RenderRecord());
    return std::move(w.Bytes());
}

void WriteRenderFile(const std::vector<const TFaxGraphicControl*>& items, const std::string& fileName)
{
    WriteFileAtomically(fileName, RenderFileBytes(items));
}

void SaveTemplate(const std::vector<const TFaxGraphicControl*>& items, const std::string& fcsName,
                  const std::string& description)
{
    const std::vector<uint8_t> fct = RenderFileBytes(items);
    std::vector<uint8_t> des(description.begin(), description.end());
    des.push_back('\r');
    des.push_back('\n');
    const std::pair<std::string, std::vector<uint8_t>> files[] = {
        {"FCS", TFaxDesignObjectFiler::Encode(items)},
        {"FCT", fct},
        {"DES", des},
        {"bmp", PreviewBitmap(fct)},
    };
    std::vector<std::unique_ptr<platform::FileReplacement>> writers;
    for (const auto& [ext, bytes] : files) {
        const std::string name = OnDisk(faxdoc::ForceExtension(fcsName, ext));
        auto writer = std::make_unique<platform::FileReplacement>(name);
        int error = writer->Open();
        if (error == 0)
            error = WriteAll(writer->Descriptor(), bytes);
        if (error != 0) // the writers made so far discard their temporaries
            throw TStreamError("cannot write " + name + ": " + std::strerror(error));
        writers.push_back(std::move(writer));
    }
    for (auto& writer : writers)
        if (const int error = writer->Commit(); error != 0)
            throw TStreamError("cannot write " + writer->Target() + ": " + std::strerror(error));
}

std::optional<std::string> ReadDescription(const std::string& templateName)
{
    std::ifstream in(OnDisk(faxdoc::ForceExtension(templateName, "DES")), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::optional<std::string> ProposeTemplateName(const std::string& coversFolder)
{
    for (int n = 10001; n <= 99999; ++n) {
        const std::string name = coversFolder + "/ZN" + std::to_string(n).substr(1) + ".FCS";
        if (!platform::FileExistsCI(name))
            return name;
    }
    return std::nullopt;
}

bool DeleteTemplate(const std::string& fcsName)
{
    if (UpperExtension(fcsName) != ".FCS")
        return false;
    for (const char* ext : {"FCS", "FCT", "DES", "BMP"})
        platform::DeleteFileCI(faxdoc::ForceExtension(fcsName, ext)); // errors are ignored
    return true;
}

} // namespace zn::cover
