// znfax's subcommands. Each takes its own arguments (after the subcommand's name) and returns the
// process exit code; failures are reported on standard error.
#pragma once

#include <string>
#include <vector>

namespace zn::tools {

using TArgs = std::vector<std::string>;

struct TCommand {
    const char* name;
    const char* usage;
    int (*run)(const TArgs& args);
};

// The fax file commands: convert, unpack, info, raw.
extern const TCommand kFaxFileCommands[];
extern const size_t kFaxFileCommandCount;
// The fax line commands: send, receive (in znfax they start znfax-line, which runs them).
constexpr const char* kSendUsage =
    "--port COMn [--class 1|2|2.0] [--bps N] [--station ID] [--cover FILE.APF] --number NUMBER FILE.APF...";
constexpr const char* kReceiveUsage = "--port COMn [--class 1|2|2.0] [--bps N] [--station ID] --dir FOLDER [--calls N]";
extern const TCommand kFaxLineCommands[];
extern const size_t kFaxLineCommandCount;

// The cover check: renders a cover from a render file as the quick faxes do (it needs the toolkit's
// fonts, so in znfax it starts znfax-cover, which runs it).
constexpr const char* kCoverUsage =
    "RENDERFILE OUT.APF [--preview OUT.BMP] [--value NAME=TEXT]... [--flag NAME]... [--message TEXTFILE]";
extern const TCommand kCoverCommands[];
extern const size_t kCoverCommandCount;

// Runs `program` from znfax's own folder with the subcommand and its arguments in place of this
// process; returns only when it cannot be started.
int RunSiblingProgram(const char* program, const char* command, const TArgs& args);

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1; // the operation failed: its code and text went to standard error
constexpr int kExitUsage = 2;

// Prints "znfax: error CODE: TEXT" on standard error and returns kExitFailed.
int ReportError(int code, const std::string& context = {});
int UsageError(const std::string& message);

} // namespace zn::tools
