// cover in znfax and znfax-line: the renderer needs the toolkit's fonts, so it runs in znfax-cover.
#include "tools/znfax/commands.h"

namespace zn::tools {

namespace {

int Cover(const TArgs& args) { return RunSiblingProgram("znfax-cover", "cover", args); }

} // namespace

const TCommand kCoverCommands[] = {{"cover", kCoverUsage, Cover}};
const size_t kCoverCommandCount = sizeof kCoverCommands / sizeof kCoverCommands[0];

} // namespace zn::tools
