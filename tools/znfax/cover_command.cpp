// cover: one cover page rendered from a render file, as the quick faxes render it, into a fax file
// and optionally its preview bitmap.
#include "tools/znfax/commands.h"

#include "comms/base/exceptions.h"
#include "cover/cover_renderer.h"
#include "cover/design_filer.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace zn::tools {

namespace {

std::vector<std::string> ReadLines(const std::string& name, bool& ok)
{
    std::ifstream in(name, std::ios::binary);
    ok = static_cast<bool>(in);
    std::vector<std::string> lines;
    std::string line;
    while (ok && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

int Cover(const TArgs& args)
{
    std::vector<std::string> operands;
    std::string preview, messageFile;
    cover::TCoverValues values;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--preview" && hasValue) {
            preview = args[++i];
        } else if (a == "--message" && hasValue) {
            messageFile = args[++i];
        } else if (a == "--value" && hasValue) {
            const std::string& v = args[++i];
            const size_t eq = v.find('=');
            const int field = eq == std::string::npos ? -1 : cover::TCoverValues::FieldIndex(v.substr(0, eq));
            if (field < 0)
                return UsageError("--value takes NAME=TEXT with NAME one of Date, Time, Regarding, Recipient, "
                                  "RecipientFax, Sender, SenderCompany, SenderFax, SenderVoice: "
                                  + v);
            *values.Field(field) = v.substr(eq + 1);
        } else if (a == "--flag" && hasValue) {
            const int flag = cover::TCoverValues::FlagIndex(args[++i]);
            if (flag < 0)
                return UsageError("--flag takes one of Urgent, ForReview, PleaseComment, PleaseReply, PleaseRecycle: "
                                  + args[i]);
            values.SetFlag(flag, true);
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown or incomplete option " + a);
        } else {
            operands.push_back(a);
        }
    }
    if (operands.size() != 2)
        return UsageError(std::string("usage: znfax cover ") + kCoverUsage);
    std::vector<std::string> message;
    if (!messageFile.empty()) {
        bool ok = false;
        message = ReadLines(messageFile, ok);
        if (!ok)
            return ReportError(comms::ecFileNotFound, messageFile);
    }
    // Fonts need the toolkit; no screen is needed.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "znfax";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    try {
        cover::RenderCoverPageToFax(operands[1], operands[0], values, message);
        if (!preview.empty()) {
            cover::TMonoCanvas canvas(cover::kPreviewWidth, cover::kPreviewHeight);
            cover::RenderCoverFile(canvas, operands[0], values, message, 2);
            cover::WriteFileAtomically(preview, canvas.BmpFile());
        }
    } catch (const cover::ECoverError& e) {
        std::fprintf(stderr, "znfax: error %d: %s\n", e.Code(), e.what());
        return kExitFailed;
    } catch (const comms::EFXException& e) {
        return ReportError(e.ErrorCode() ? e.ErrorCode() : comms::ecFileNotFound, operands[1]);
    } catch (const comms::EInOutError& e) {
        return ReportError(-e.ErrorCode(), operands[1]);
    } catch (const cover::TStreamError& e) {
        std::fprintf(stderr, "znfax: error %d: %s\n", comms::ecDiskFull, e.what());
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

const TCommand kCoverCommands[] = {{"cover", kCoverUsage, Cover}};
const size_t kCoverCommandCount = sizeof kCoverCommands / sizeof kCoverCommands[0];

} // namespace zn::tools
